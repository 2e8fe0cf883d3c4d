// The drawing state the library object keeps for the frame: what every frame starts from.
#pragma once

#include <cstdint>

namespace wz {

struct RenderState {
  // The colour a frame is cleared to (red, green, blue; alpha is always 255).
  uint8_t background[3] = {0, 0, 0};
  // The screen fade, kept after the light position and colour: 1.0 shows the frame, 0.0 covers
  // it with opaque black (the 2D stage draws black with alpha 255 - trunc(fade x 255)).
  float fade = 0.0f;
};

}  // namespace wz
