// The normal-map conversion.
#include "app/normal_map.h"

#include <algorithm>
#include <array>

namespace wz {
namespace {

using Cell = std::array<int32_t, 4>;

}  // namespace

std::vector<uint8_t> ComputeNormalMap(const uint8_t* pixels, int width, int height, size_t pitch) {
  constexpr int n = kNormalMapSize;
  std::vector<Cell> heights(size_t(n) * n, Cell{0, 0, 0, 0});
  // Scatter: each source pixel lands in the cell its scaled position falls into; a later pixel
  // overwrites an earlier one, and cells no pixel reaches stay zero.
  const double sy = 256.0 / height;
  const double sx = 256.0 / width;
  for (int y = 0; y < height; ++y) {
    const int gy = static_cast<int>(y * sy);
    const uint8_t* row = pixels + size_t(y) * pitch;
    for (int x = 0; x < width; ++x) {
      const int gx = static_cast<int>(x * sx);
      const uint8_t* p = row + size_t(x) * 4;
      heights[size_t(gy) * n + gx] = Cell{p[0], p[1], p[2], 255};
    }
  }
  std::vector<uint8_t> out(size_t(n) * n * 4);
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      Cell cell = heights[size_t(r) * n + c];
      if (c < n - 1) {
        cell[0] = std::clamp(cell[0] - heights[size_t(r) * n + c + 1][0] + 128, 0, 255);
      }
      if (r < n - 1) {
        cell[1] = std::clamp(heights[size_t(r + 1) * n + c][1] - cell[1] + 128, 0, 255);
      }
      uint8_t* o = &out[(size_t(r) * n + c) * 4];
      o[0] = 255;                            // blue  = n2
      o[1] = static_cast<uint8_t>(cell[1]);  // green = n1
      o[2] = static_cast<uint8_t>(cell[0]);  // red   = n0
      o[3] = 255;                            // alpha = n3
    }
  }
  return out;
}

}  // namespace wz
