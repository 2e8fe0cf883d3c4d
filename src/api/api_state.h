// What the public functions share: the library object, whether the program started it, the
// last error of each thread, and what the library logged while one call ran.
#pragma once

#include <string>
#include <vector>

#include "app/load_log.h"
#include "core/library.h"

namespace wz {

extern Library WZ;

namespace api {

// Sets this thread's LastError text.
void SetError(std::string text);
// True when the library is started; otherwise false, with the error "`what`: the library is not
// started (call wz::Start first)".
bool Require(const char* what);
// The reader and writer lines logged since the last Clear, for errors and notes.
LogCollector& Collected();
// Waits for the background loads still running (before the models are released).
void WaitForBackgroundLoads();
// A host path (UTF-8, relative to the current directory) as a library path.
std::string ToLibraryPath(const char* path);

}  // namespace api
}  // namespace wz
