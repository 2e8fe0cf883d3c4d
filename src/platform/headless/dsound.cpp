// Silent sound device.
#include "platform/dsound.h"

#include <atomic>
#include <cstdlib>

#include "platform/system.h"

namespace wz::dsound {
namespace {
std::atomic<int> missingSwitch{-1};  // -1: ask the environment
}

void SetSoundHardwareMissing(bool missing) {
  missingSwitch = missing ? 1 : 0;
}

HRESULT DirectSound::SetCooperativeLevel(platform::HWND, uint32_t level) {
  level_ = level;
  return S_OK;
}

HRESULT DirectSound::CreateSoundBuffer(const DSBUFFERDESC& desc,
                                       std::shared_ptr<SoundBuffer>* out) {
  if (!out || desc.dwSize != 36) return E_INVALIDARG;
  // A primary buffer has no size and no format of its own; a secondary buffer needs both.
  bool primary = (desc.dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
  if (primary ? (desc.dwBufferBytes != 0 || desc.lpwfxFormat) : desc.dwBufferBytes == 0) {
    return E_INVALIDARG;
  }
  *out = std::make_shared<SoundBuffer>(desc);
  return S_OK;
}

HRESULT DirectSoundCreate(const void*, std::shared_ptr<DirectSound>* out) {
  if (!out) return E_INVALIDARG;
  int sw = missingSwitch.load();
  bool missing = sw < 0 ? platform::EnvironmentSwitch("WZ_NO_SOUND") : sw == 1;
  if (missing) {
    out->reset();
    return DSERR_NODRIVER;
  }
  *out = std::make_shared<DirectSound>();
  return S_OK;
}

}  // namespace wz::dsound
