// wz-normalmap: brings the library up and turns the height map beside the program into a normal
// map. No arguments, no configuration file, no message loop. With WZ_LOG set (and not 0) in the
// environment the library's log is written to standard error. A height map that does not load, or
// a map that cannot be written, is said in one line on standard error and exits 1.
#include <csignal>
#include <cstdio>

#include "app/normal_map.h"
#include "core/library.h"
#include "platform/system.h"
#include "platform/text.h"

namespace wz {
extern Library WZ;
}

int main() {
  using wz::WZ;
  // A log reader that has gone away must not end the program before the map is written.
  std::signal(SIGPIPE, SIG_IGN);
  if (wz::platform::EnvironmentSwitch("WZ_LOG")) WZ.AttachStderrLogSink();
  if (!WZ.LibInit(nullptr)) {
    WZ.ShowMessage(WZ_TEXT("初期化に失敗しました。"));
    return -1;
  }
  const std::string failure = wz::RunNormalMapConversion(WZ, WZ.ExeDir());
  if (!failure.empty()) {
    std::fprintf(stderr, "wz-normalmap: %s\n", failure.c_str());
    return 1;
  }
  return 0;
}
