// ImageLoad and its branches: raw wzi, the PSD subset, and the image-file loader.
#include <strings.h>

#include <cstring>
#include <new>
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

// The texture sides for a w x h picture of the wzi and PSD branches: rounded (RoundTextureSize),
// then both halved together, keeping the aspect, while either is larger than the device's
// largest texture.
void TextureSides(d3d::Device* device, uint32_t w, uint32_t h, uint32_t& tw, uint32_t& th) {
  UINT maxW, maxH;
  d3dx::LargestTextureSides(device, maxW, maxH);
  tw = RoundTextureSize(w);
  th = RoundTextureSize(h);
  while (tw > maxW || th > maxH) {
    tw = std::max(1u, tw / 2);
    th = std::max(1u, th / 2);
  }
}

// Creates a one-level A8R8G8B8 texture of tw x th.
bool CreateLocked(d3d::Device* device, uint32_t tw, uint32_t th,
                  std::shared_ptr<d3d::Texture>& place, d3d::D3DSURFACE_DESC& desc,
                  d3d::D3DLOCKED_RECT& locked) {
  std::shared_ptr<d3d::Texture> texture;
  if (Failed(d3dx::D3DXCreateTexture(device, tw, th, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                     &texture))) {
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
  uint32_t tw, th;
  TextureSides(device, info.Width, info.Height, tw, th);
  if (!CreateLocked(device, tw, th, place, desc, locked)) return;
  d3dx::PointSample4(pixels.data(), info.Width, info.Height, size_t(w) * 4,
                     static_cast<uint8_t*>(locked.pBits), desc.Width, desc.Height,
                     size_t(locked.Pitch));
  place->UnlockRect(0);
}

// The PSD branch; false when the reader refuses the file. A document larger than the device's
// largest texture is point-sampled down to it while it is read.
bool LoadPsd(d3d::Device* device, std::span<const uint8_t> bytes,
             std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info) {
  PsdImage image;
  if (!ReadPsdHeader(bytes, image)) return false;
  uint32_t tw, th;
  TextureSides(device, image.width, image.height, tw, th);
  // Within the device's limit the texture is at least as large as the image, which goes to its
  // top-left corner unscaled.
  const bool sampled = tw < image.width || th < image.height;
  d3dx::SampleMap map;
  if (sampled) {
    const d3dx::PointSampler sampler(image.width, image.height, tw, th);
    for (uint32_t x = 0; x < tw; ++x)
      map.columns.push_back(sampler.SourceColumn(x));
    for (uint32_t y = 0; y < th; ++y)
      map.rows.push_back(sampler.SourceRow(y));
  }
  if (!ReadPsd(bytes, image, sampled ? &map : nullptr)) return false;
  info.Width = image.width;
  info.Height = image.height;
  const uint32_t w = sampled ? tw : image.width, h = sampled ? th : image.height;
  d3d::D3DSURFACE_DESC desc;
  d3d::D3DLOCKED_RECT locked;
  if (!CreateLocked(device, tw, th, place, desc, locked)) return true;
  auto* base = static_cast<uint8_t*>(locked.pBits);
  for (uint32_t y = 0; y < h && y < desc.Height; ++y) {
    for (uint32_t x = 0; x < w && x < desc.Width; ++x) {
      size_t i = size_t(y) * w + x;
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
  std::vector<uint8_t> bytes;
  const bool readable = platform::ReadFileBytes(path, bytes);
  ImageLoadFromFileBytes(device, path, readable, bytes, place, info, log);
}

void ImageLoadFromFileBytes(d3d::Device* device, const char* path, bool readable,
                            std::span<const uint8_t> bytes, std::shared_ptr<d3d::Texture>& place,
                            D3DXIMAGE_INFO& info, const std::function<void(const char*)>& log,
                            D3DCOLOR colourKey) {
  if (!path) return;
  place.reset();
  info = D3DXIMAGE_INFO{};
  // A file that cannot be read goes on as empty data: no wzi texture, a refused PSD, and the
  // image-file loader's error line.
  if (!readable && strcasecmp(Extension(path).c_str(), "wzi") == 0) return;
  ImageLoadFromMemory(device, path, readable ? bytes : std::span<const uint8_t>(), place, info, log,
                      colourKey);
}

void ImageLoadFromMemory(d3d::Device* device, const char* path, std::span<const uint8_t> bytes,
                         std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info,
                         const std::function<void(const char*)>& log, D3DCOLOR colourKey) {
  place.reset();
  info = D3DXIMAGE_INFO{};
  std::string ext = Extension(path);
  D3DXIMAGE_FILEFORMAT signature;
  const bool imageFile = d3dx::SniffImageFileFormat(bytes, signature) && signature != D3DXIFF_TGA;
  // Memory running out in the wzi or PSD branch is a failed load like any other.
  if (strcasecmp(ext.c_str(), "wzi") == 0 && !imageFile) {
    try {
      LoadWzi(device, bytes, place, info);
    } catch (const std::bad_alloc&) {
      place.reset();
      info = D3DXIMAGE_INFO{};
    }
    return;
  }
  if (strcasecmp(ext.c_str(), "psd") == 0) {
    try {
      if (LoadPsd(device, bytes, place, info)) return;
    } catch (const std::bad_alloc&) {
    }
    place.reset();
    info = D3DXIMAGE_INFO{};
  }
  if (!bytes.empty()) {
    d3dx::D3DXCreateTextureFromFileInMemoryEx(device, bytes, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0,
                                              D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_POINT,
                                              D3DX_FILTER_POINT, colourKey, &info, nullptr, &place);
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

bool ImageInfoFromMemory(const char* path, std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info) {
  info = D3DXIMAGE_INFO{};
  const std::string ext = Extension(path ? path : "");
  D3DXIMAGE_FILEFORMAT signature;
  const bool imageFile = d3dx::SniffImageFileFormat(bytes, signature) && signature != D3DXIFF_TGA;
  if (strcasecmp(ext.c_str(), "wzi") == 0 && !imageFile) {
    if (!IsWzi(bytes)) return false;
    info.Width = ReadLe32(&bytes[8]);
    info.Height = ReadLe32(&bytes[12]);
    return true;
  }
  PsdImage psd;
  if (strcasecmp(ext.c_str(), "psd") == 0 && ReadPsdHeader(bytes, psd)) {
    info.Width = psd.width;
    info.Height = psd.height;
    return true;
  }
  return d3dx::ReadImageInfo(bytes, info) == d3dx::ImageError::kNone;
}

}  // namespace wz
