// The 2D stage that closes every frame's scene: unfiltered overlay textures, the application's
// overlay, the text queue and the screen fade.
#include <cmath>

#include "core/library.h"

namespace wz {

void Library::Stage2D() {
  if (!device_) return;
  device_->SetSamplerState(0, d3d::D3DSAMP_MINFILTER, d3d::D3DTEXF_NONE);
  device_->SetSamplerState(0, d3d::D3DSAMP_MAGFILTER, d3d::D3DTEXF_NONE);
  // The library's four 2D layers (2D objects, sprite animations and two more) go here; nothing
  // in this system fills them.
  device_->SetTexture(0, nullptr);
  if (draw2d_.overlayHook) draw2d_.overlayHook();
  TextQueue_Draw();

  // The fade covers the reference screen with black, opaque at 0.0 and gone at 1.0. Levels
  // outside 0..1 count as the nearest end (a negative level would otherwise wrap the alpha).
  const float f = rendering_.fadeLevel;
  const int cover =
      std::isnan(f) ? 255 : 255 - static_cast<int>(std::fmin(std::fmax(f, 0.0f), 1.0f) * 255);
  if (cover > 0) {
    device_->SetTexture(0, nullptr);
    const int w = referenceWidth_, h = referenceHeight_;
    Quad2D({0, 0, 0, 0, 0, cover, 0, 0}, {w, 0, 0, 0, 0, cover, 0, 0}, {w, h, 0, 0, 0, cover, 0, 0},
           {0, h, 0, 0, 0, cover, 0, 0});
  }
}

}  // namespace wz
