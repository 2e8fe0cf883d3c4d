// Creation and release of the sound device.
#include "sound/sound_device.h"

#include "core/library.h"

namespace wz {

void Library::SoundDevice_Create(HWND window) {
  if (!sound_) sound_ = std::make_unique<sound::SoundState>();
  sound_->device = std::make_unique<sound::SoundDevice>();
  for (auto& buffer : sound_->secondary)
    buffer.reset();
  sound_->device->window = window;
  if (Failed(dsound::DirectSoundCreate(nullptr, &sound_->directSound))) return;
  sound_->directSound->SetCooperativeLevel(window, dsound::DSSCL_NORMAL);
  dsound::DSBUFFERDESC desc;
  desc.dwSize = 36;
  desc.dwFlags =
      dsound::DSBCAPS_PRIMARYBUFFER | dsound::DSBCAPS_STATIC | dsound::DSBCAPS_GLOBALFOCUS;
  if (Succeeded(sound_->directSound->CreateSoundBuffer(desc, &sound_->primary))) {
    sound_->device->ready = 1;
  }
}

void Library::SoundDevice_Delete() {
  if (!sound_ || !sound_->device) return;
  for (auto& buffer : sound_->secondary)
    buffer.reset();
  sound_->primary.reset();
  sound_->directSound.reset();
  sound_->device->ready = 0;
  sound_->device.reset();
}

}  // namespace wz
