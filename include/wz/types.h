// Small value types shared by the public headers.
#pragma once

#include <cstdint>

namespace wz {

// A point or a direction; angles in degrees. The library is left-handed with y up.
struct Float3 {
  float x = 0, y = 0, z = 0;
};

// A colour, each channel 0 to 255.
struct Rgba {
  uint8_t r = 255, g = 255, b = 255, a = 255;
};

// A model slot of the library; kNoModel for none.
using ModelId = int32_t;
inline constexpr ModelId kNoModel = -1;

// What a model holds.
struct ModelInfo {
  int64_t polygons = 0;
  int64_t vertices = 0;  // positions
  int32_t groups = 0;    // materials
  int32_t textures = 0;  // texture slots that name a file
  int32_t bones = 0;     // bones the file gave (0 when it gave none)
  int32_t motions = 0;   // motions the file gave (0 when it gave none)
  Float3 boundsMin, boundsMax;
};

}  // namespace wz
