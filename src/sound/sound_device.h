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

// A movie playing in the main window. This system opens none; the window handler's end-of-movie
// notification restarts or stops one when it exists.
struct Movie {
  bool playing = false;
  uint32_t restarts = 0;
};

// The library's sound state: the device record and the references held beside it.
struct SoundState {
  std::unique_ptr<SoundDevice> device;
  std::shared_ptr<dsound::DirectSound> directSound;
  std::shared_ptr<dsound::SoundBuffer> primary;
  std::array<std::shared_ptr<dsound::SoundBuffer>, 8> secondary;
  std::unique_ptr<Movie> movie;
};

}  // namespace wz::sound
