// wz-normalmap: brings the library up and turns the height map beside the program into a normal
// map. No arguments, no configuration file, no message loop. With WZ_LOG set in the environment
// the library's log is written to standard error.
#include <cstdlib>

#include "app/normal_map.h"
#include "core/library.h"
#include "platform/text.h"

namespace wz {
extern Library WZ;
}

int main() {
  using wz::WZ;
  if (std::getenv("WZ_LOG")) WZ.AttachStderrLogSink();
  if (!WZ.LibInit(nullptr)) {
    WZ.ShowMessage(WZ_TEXT("初期化に失敗しました。"));
    return -1;
  }
  wz::RunNormalMapConversion(WZ, WZ.ExeDir());
  return 0;
}
