// The library's version.
#pragma once

#include "wz/export.h"

#define WZ_VERSION_MAJOR 2010
#define WZ_VERSION_MINOR 11
#define WZ_VERSION_STRING "2010.11"

namespace wz {

// The version of the library the program runs with ("2010.11"), which may be newer than the
// WZ_VERSION_STRING the program was compiled with. Any thread, before or after Start.
WZ_API const char* Version();

}  // namespace wz
