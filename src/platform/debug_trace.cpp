// The debug trace: nothing by default, standard error with WZ_DEBUG_TRACE=1, or a test's sink.
#include "platform/debug_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/text.h"

namespace wz::platform {
namespace {

std::mutex traceMutex;
std::function<void(const std::string&)> traceSink;

bool TraceToStderr() {
  static const bool on = [] {
    const char* v = std::getenv("WZ_DEBUG_TRACE");
    return v && std::strcmp(v, "1") == 0;
  }();
  return on;
}

}  // namespace

void OutputDebugStringA(const std::string& text) {
  std::lock_guard lock(traceMutex);
  if (traceSink) {
    traceSink(text);
  } else if (TraceToStderr()) {
    const std::string line = Cp932ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
}

void SetDebugTraceSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(traceMutex);
  traceSink = std::move(sink);
}

}  // namespace wz::platform
