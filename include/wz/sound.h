// Sound: the library's sound device, made by Start. It plays nothing yet; a system without
// audio never stops the library. Threads: the thread that called Start.
#pragma once

#include "wz/export.h"

namespace wz {

// Whether Start made the sound device. False (with LastError) when not started.
WZ_API bool SoundDeviceReady();

}  // namespace wz
