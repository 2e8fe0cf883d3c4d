// The sound device: one device and its primary buffer for the main window, created at start-up
// and released at teardown. Nothing is played; a missing audio system leaves it not ready and
// the program runs on unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/dsound.h"

namespace wz::sound {

struct SoundDevice {
  int32_t ready = 0;
  platform::HWND window = nullptr;
};

// The library's sound state: the device record and the references held beside it.
struct SoundState {
  std::unique_ptr<SoundDevice> device;
  std::shared_ptr<dsound::DirectSound> directSound;
  std::shared_ptr<dsound::SoundBuffer> primary;
  std::array<std::shared_ptr<dsound::SoundBuffer>, 8> secondary;
};

}  // namespace wz::sound
