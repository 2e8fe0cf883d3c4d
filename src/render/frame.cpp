// The frame function and the release of the drawing code's device-dependent resources.
//
// A frame is, so far, the clear to the background colour inside one scene: model drawing, the
// application's hooks, the 2D stage and the text queue come with the drawing code and go between
// BeginScene and EndScene. The caller presents.
#include "core/library.h"

namespace wz {

void Library::RenderFrame() {
  if (!active_ || !device_) return;
  DWORD flags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
  if (options_.depthStencil) flags |= D3DCLEAR_STENCIL;
  const uint8_t* bg = rendering_.background;
  D3DCOLOR colour = 0xFF000000u | uint32_t{bg[0]} << 16 | uint32_t{bg[1]} << 8 | bg[2];
  device_->Clear(0, nullptr, flags, colour, 1.0f, 0);
  if (Failed(device_->BeginScene())) return;
  device_->EndScene();
}

void Library::RenderResources_Release() {
  // Effects and the shader-mode targets; the text font, the sprites and the default-pool
  // buffers of the drawing code are released here once they exist.
  effects_.Release();
  Step(DeviceStep::RenderRelease);
}

}  // namespace wz
