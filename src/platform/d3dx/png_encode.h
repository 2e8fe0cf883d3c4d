// PNG encoding of 32-bit pixels (libpng), for frame dumps and rendered pictures.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace wz::d3dx {

// Encodes `pixels` (A8R8G8B8 words, rows top first) as an 8-bit RGB or RGBA PNG. False when the
// encoder fails or the size is zero.
bool EncodePng(std::span<const uint32_t> pixels, uint32_t width, uint32_t height, bool alpha,
               std::vector<uint8_t>& out);

}  // namespace wz::d3dx
