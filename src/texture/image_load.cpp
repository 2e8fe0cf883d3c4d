// ImageLoad and its branches: raw wzi, the PSD subset, and the image-file loader.
#include <strings.h>

#include <cstring>
#include <string>

#include "platform/d3dx/texture_file.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "texture/texture_table.h"

namespace wz {
namespace {

using d3dx::kMaxImageSide;

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string Extension(const char* path) {
  const std::string_view p(path);
  const size_t dot = platform::Cp932FindLast(p, '.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return std::string(p.substr(dot + 1));
}

// Creates a one-level A8R8G8B8 texture at the rounded size of a w x h image.
bool CreateRounded(d3d::Device* device, uint32_t w, uint32_t h,
                   std::shared_ptr<d3d::Texture>& place, d3d::D3DSURFACE_DESC& desc,
                   d3d::D3DLOCKED_RECT& locked) {
  std::shared_ptr<d3d::Texture> texture;
  if (Failed(d3dx::D3DXCreateTexture(device, RoundTextureSize(w), RoundTextureSize(h), 1, 0,
                                     D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture))) {
    return false;
  }
  texture->GetLevelDesc(0, &desc);
  if (Failed(texture->LockRect(0, &locked, nullptr, 0))) return false;
  place = std::move(texture);
  return true;
}

// Whether the bytes really are a wzi file: not an image file of another kind by its signature
// (a PNG named .wzi is a PNG), a sane size, and at least a sixteenth of the pixels it claims. The
// missing rest of a short wzi is zero-filled, so without that last rule a 16-byte file could ask
// for a gigabyte of zeros.
bool IsWzi(std::span<const uint8_t> bytes) {
  if (bytes.size() < 16) return false;
  D3DXIMAGE_FILEFORMAT other;
  if (d3dx::SniffImageFileFormat(bytes, other) && other != D3DXIFF_TGA) return false;
  const int32_t w = static_cast<int32_t>(ReadLe32(&bytes[8]));
  const int32_t h = static_cast<int32_t>(ReadLe32(&bytes[12]));
  if (w <= 0 || h <= 0 || uint32_t(w) > kMaxImageSide || uint32_t(h) > kMaxImageSide) return false;
  const uint64_t pixelBytes = uint64_t(w) * uint64_t(h) * 4;
  return (bytes.size() - 16) * 16 >= pixelBytes;
}

// The wzi branch: a 16-byte header (width and height at offsets 8 and 12) and B,G,R,A pixels. A
// short file leaves the missing pixels zero; a file that cannot be opened, or that is no wzi
// (IsWzi), gives no texture.
void LoadWzi(d3d::Device* device, std::span<const uint8_t> bytes,
             std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info) {
  if (!IsWzi(bytes)) return;
  int32_t w = static_cast<int32_t>(ReadLe32(&bytes[8]));
  int32_t h = static_cast<int32_t>(ReadLe32(&bytes[12]));
  info.Width = uint32_t(w);
  info.Height = uint32_t(h);
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4, 0);
  std::memcpy(pixels.data(), bytes.data() + 16, std::min(pixels.size(), bytes.size() - 16));
  d3d::D3DSURFACE_DESC desc;
  d3d::D3DLOCKED_RECT locked;
  if (!CreateRounded(device, info.Width, info.Height, place, desc, locked)) return;
  d3dx::PointSample4(pixels.data(), info.Width, info.Height, size_t(w) * 4,
                     static_cast<uint8_t*>(locked.pBits), desc.Width, desc.Height,
                     size_t(locked.Pitch));
  place->UnlockRect(0);
}

// The PSD branch; false when the reader refuses the file.
bool LoadPsd(d3d::Device* device, std::span<const uint8_t> bytes,
             std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info) {
  PsdImage image;
  if (!ReadPsd(bytes, image)) return false;
  info.Width = image.width;
  info.Height = image.height;
  d3d::D3DSURFACE_DESC desc;
  d3d::D3DLOCKED_RECT locked;
  if (!CreateRounded(device, image.width, image.height, place, desc, locked)) return true;
  auto* base = static_cast<uint8_t*>(locked.pBits);
  for (uint32_t y = 0; y < image.height && y < desc.Height; ++y) {
    for (uint32_t x = 0; x < image.width && x < desc.Width; ++x) {
      size_t i = size_t(y) * image.width + x;
      uint8_t r = image.planes[0][i], g = image.planes[1][i], b = image.planes[2][i];
      uint8_t a = image.channels >= 4 ? image.planes[3][i] : (r | g | b) ? 255 : 0;
      uint8_t* t = base + size_t(y) * size_t(locked.Pitch) + size_t(x) * 4;
      t[0] = b;
      t[1] = g;
      t[2] = r;
      t[3] = a;
    }
  }
  place->UnlockRect(0);
  return true;
}

}  // namespace

uint32_t RoundTextureSize(uint32_t size) {
  for (uint32_t p = 1; p < 512; p <<= 1) {
    if (size > p && size < p * 2) return p * 2;
  }
  return size;
}

void ImageLoad(d3d::Device* device, const char* path, std::shared_ptr<d3d::Texture>& place,
               D3DXIMAGE_INFO& info, const std::function<void(const char*)>& log) {
  if (!path) return;
  place.reset();
  info = D3DXIMAGE_INFO{};
  // A file that cannot be read goes on as empty data: no wzi texture, a refused PSD, and the
  // image-file loader's error line.
  std::vector<uint8_t> bytes;
  bool readable = platform::ReadFileBytes(path, bytes);
  if (!readable && strcasecmp(Extension(path).c_str(), "wzi") == 0) return;
  ImageLoadFromMemory(device, path, bytes, place, info, log);
}

void ImageLoadFromMemory(d3d::Device* device, const char* path, std::span<const uint8_t> bytes,
                         std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info,
                         const std::function<void(const char*)>& log) {
  place.reset();
  info = D3DXIMAGE_INFO{};
  std::string ext = Extension(path);
  D3DXIMAGE_FILEFORMAT signature;
  const bool imageFile = d3dx::SniffImageFileFormat(bytes, signature) && signature != D3DXIFF_TGA;
  if (strcasecmp(ext.c_str(), "wzi") == 0 && !imageFile) {
    LoadWzi(device, bytes, place, info);
    return;
  }
  if (strcasecmp(ext.c_str(), "psd") == 0) {
    if (LoadPsd(device, bytes, place, info)) return;
    place.reset();
    info = D3DXIMAGE_INFO{};
  }
  if (!bytes.empty()) {
    d3dx::D3DXCreateTextureFromFileInMemoryEx(
        device, bytes, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
        D3DX_FILTER_POINT, D3DX_FILTER_POINT, 0xFF000000u, &info, nullptr, &place);
  }
  if (!place) {
    info = D3DXIMAGE_INFO{};
    if (log) {
      char line[512];
      std::snprintf(line, sizeof line, WZ_TEXT("*** ERROR *** %s Loadできませんでした。"), path);
      log(line);
    }
  }
}

}  // namespace wz
