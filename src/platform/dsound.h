// The sound device stand-in: a device that can be created and released and plays nothing.
// Creation fails (as on a machine without audio hardware) when WZ_NO_SOUND is set or a test says
// so; the program never depends on it.
#pragma once

#include <memory>

#include "platform/win_types.h"
#include "platform/window.h"

namespace wz::dsound {

constexpr uint32_t DSSCL_NORMAL = 1;
constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr uint32_t DSBCAPS_STATIC = 0x2;
constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);

struct DSBUFFERDESC {
  uint32_t dwSize = 36;
  uint32_t dwFlags = 0;
  uint32_t dwBufferBytes = 0;
  const void* lpwfxFormat = nullptr;
};

class SoundBuffer {
 public:
  explicit SoundBuffer(const DSBUFFERDESC& desc) : desc_(desc) {}
  const DSBUFFERDESC& Desc() const { return desc_; }

 private:
  DSBUFFERDESC desc_;
};

class DirectSound {
 public:
  HRESULT SetCooperativeLevel(platform::HWND window, uint32_t level);
  HRESULT CreateSoundBuffer(const DSBUFFERDESC& desc, std::shared_ptr<SoundBuffer>* out);
  uint32_t CooperativeLevel() const { return level_; }

 private:
  uint32_t level_ = 0;
};

HRESULT DirectSoundCreate(const void* guid, std::shared_ptr<DirectSound>* out);

// Test switch: while set, DirectSoundCreate fails with DSERR_NODRIVER.
void SetSoundHardwareMissing(bool missing);

}  // namespace wz::dsound
