// Frame dumps: with WZ_FRAME_DUMP=DIR every presented frame is written as DIR/frame-NNNNNN.png
// (numbered from 1 in the order of presentation, across all devices of the process), so that a
// person can look at what was drawn.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace wz::d3d {

// The host folder of WZ_FRAME_DUMP, or empty when frames are not dumped.
std::string FrameDumpDirectory();

// Writes the next numbered frame (A8R8G8B8 words, rows top first) into `hostDirectory`, creating
// it when missing. False with a reason on failure.
bool WriteFrameDump(const std::string& hostDirectory, std::span<const uint32_t> pixels,
                    uint32_t width, uint32_t height, std::string* error);

}  // namespace wz::d3d
