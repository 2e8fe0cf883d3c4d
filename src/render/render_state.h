// The drawing state the library object keeps for the frame: what every frame starts from.
#pragma once

#include <cstdint>

namespace wz {

struct RenderState {
  // The colour a frame is cleared to (red, green, blue; alpha is always 255).
  uint8_t background[3] = {0, 0, 0};
};

}  // namespace wz
