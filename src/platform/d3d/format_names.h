// Names of Direct3D 9 pixel formats for logs and the device-settings lists: the enumerator name
// ("D3DFMT_A8R8G8B8"), or the same without the "D3DFMT_" prefix on request ("A8R8G8B8").
#pragma once

#include "platform/win_types.h"

namespace wz::d3d {

// The name of `format`; "Unknown format" for a value that names no format. The text is static.
const char* D3DFormatToString(D3DFORMAT format, bool withPrefix = true);

}  // namespace wz::d3d
