// The texture table: an append-only table of indexed textures, the id map that names textures
// by small integers, the system textures, and ImageLoad, the one loader every image goes
// through (raw wzi, a Photoshop PSD subset, and the image-file loader for everything else).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>

#include "platform/d3d/texture.h"
#include "platform/d3dx/image_decode.h"

namespace wz {

using d3dx::D3DXIMAGE_INFO;

struct TextureEntry {
  uint8_t used = 0;
  char path[259] = {};
  std::shared_ptr<d3d::Texture> texture;
  D3DXIMAGE_INFO info{};
};

// Rows are only appended; a deque keeps references to earlier rows valid while it grows.
struct TextureTable {
  std::deque<TextureEntry> rows;
};

using TextureIdMap = std::array<int32_t, 1024>;

struct SystemTextures {
  std::shared_ptr<d3d::Texture> null;
  std::shared_ptr<d3d::Texture> toon;
  D3DXIMAGE_INFO toonInfo{};
  bool toonLoaded = false;
  std::shared_ptr<d3d::Texture> shadow;
};

// Size rounding of the wzi and PSD branches: a size strictly between two powers of two up to 512
// is raised to the upper one; powers of two and sizes above 512 stay.
uint32_t RoundTextureSize(uint32_t size);

// A PSD image as the reader accepts it: 8-bit RGB, up to 16 channels, raw or PackBits; the first
// four channel planes are kept.
struct PsdImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t channels = 0;
  std::array<std::vector<uint8_t>, 4> planes;
};
// False when the file is outside the subset, or ends early, or its runs overrun a plane. With a
// map, the planes hold the picture it describes (columns.size() x rows.size() samples, 0 where
// it takes nothing) instead of the whole image; width and height stay the image's.
bool ReadPsd(std::span<const uint8_t> bytes, PsdImage& out, const d3dx::SampleMap* map = nullptr);
// Only the header: width, height and channels, no planes.
bool ReadPsdHeader(std::span<const uint8_t> bytes, PsdImage& out);

// Loads the image at `path` (a library path) into `place`, replacing what it held, and fills
// `info`. On failure `place` is empty. `log` receives the error line of a failed image file.
void ImageLoad(d3d::Device* device, const char* path, std::shared_ptr<d3d::Texture>& place,
               D3DXIMAGE_INFO& info, const std::function<void(const char*)>& log);

// The colour key of the image-file branch: every opaque black texel of an image file (not of wzi
// or PSD images) becomes transparent black, as the library's own model formats expect. 0 loads
// the image as it is.
constexpr D3DCOLOR kBlackColourKey = 0xFF000000u;

// ImageLoad over the outcome of reading the file elsewhere: `readable` false when it could not
// be read (then no wzi texture, and the image-file loader's error line for other names).
void ImageLoadFromFileBytes(d3d::Device* device, const char* path, bool readable,
                            std::span<const uint8_t> bytes, std::shared_ptr<d3d::Texture>& place,
                            D3DXIMAGE_INFO& info, const std::function<void(const char*)>& log,
                            D3DCOLOR colourKey = kBlackColourKey);

// What ImageLoad would report of the file in `info` (its width and height above all), from the
// headers only: nothing is decoded or allocated in proportion to the picture. False when the
// header is not readable. A file whose data is damaged may pass here and still fail to load.
bool ImageInfoFromMemory(const char* path, std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info);

// ImageLoad over bytes already read; `path` chooses the branch by its extension and names the
// file in the error line.
void ImageLoadFromMemory(d3d::Device* device, const char* path, std::span<const uint8_t> bytes,
                         std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info,
                         const std::function<void(const char*)>& log,
                         D3DCOLOR colourKey = kBlackColourKey);

}  // namespace wz
