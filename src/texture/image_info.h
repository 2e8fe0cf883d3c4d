// The size of an image file as the library's image loader reads it, from the file's header alone,
// for callers that need a texture's size but not its pixels (model information, conversions).
#pragma once

#include <cstdint>
#include <span>

#include "platform/d3dx/image_decode.h"

namespace wz {

using d3dx::D3DXIMAGE_INFO;

// Fills `info` as ImageLoad would for these bytes (`path` picks the wzi and PSD branches by its
// extension, as there), reading headers only: nothing in proportion to the picture is allocated.
// False when, as far as the header tells, the loader would give no texture.
bool ReadImageFileInfo(const char* path, std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info);

}  // namespace wz
