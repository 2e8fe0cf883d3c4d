// The normal-map conversion: a height map's pixels are scattered into a 256 x 256 grid, and each
// cell's normal is made from the horizontal difference of blue and the vertical difference of
// green, re-centred on 128.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wz {

class Library;

constexpr int kNormalMapSize = 256;

// Computes the normal map from 32-bit source pixels (bytes blue, green, red, alpha; rows `pitch`
// bytes apart, top row first). Returns 256 x 256 pixels in the same byte order, top row first.
std::vector<uint8_t> ComputeNormalMap(const uint8_t* pixels, int width, int height, size_t pitch);

// Loads "%s/WZ_Heightmap.jpg" from `directory` (the program directory, ExeDir) through the
// texture table and writes "%s/WZ_Normalmap.BMP" beside it. Returns "" when the map was written;
// otherwise one line naming the file and the reason (nothing is written when the height map does
// not load).
std::string RunNormalMapConversion(Library& library, const std::string& directory);

}  // namespace wz
