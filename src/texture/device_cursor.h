// The device cursor: a Windows cursor turned into the cursor image of a full-screen device.
#pragma once

#include "platform/d3d/device.h"
#include "platform/gdi.h"

namespace wz {

// Gives the device the cursor's image as its cursor: pixels where the cursor's AND mask is set
// become transparent, the others take the cursor's colour (the XOR image of a monochrome cursor)
// with full alpha; with `watermark` a small mark is OR-ed into the top-left 12 x 5 pixels. The
// hot spot is the cursor's. 0, or the failing call's code (E_FAIL for GDI failures).
HRESULT DeviceCursorSet(d3d::Device* device, gdi::HCURSOR cursor, bool watermark);

}  // namespace wz
