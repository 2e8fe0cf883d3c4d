// The debug trace (OutputDebugStringA): lines meant for a debugger, not for the user. By default
// it writes nothing; WZ_DEBUG_TRACE=1 in the environment sends each line to standard error (as
// UTF-8), and tests may install a sink that receives every line.
#pragma once

#include <functional>
#include <string>

namespace wz::platform {

// `text` is a code-page-932 string. Safe from any thread.
void OutputDebugStringA(const std::string& text);

// Every later line goes to `sink` (null: back to the default).
void SetDebugTraceSink(std::function<void(const std::string&)> sink);

}  // namespace wz::platform
