// Image sizes from headers, following the branches of ImageLoadFromMemory.
#include "texture/image_info.h"

#include <strings.h>

#include <string>
#include <string_view>

#include "platform/text.h"

namespace wz {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t Be16(const uint8_t* p) {
  return uint32_t(p[0]) << 8 | p[1];
}

std::string Extension(const char* path) {
  const std::string_view p(path);
  const size_t dot = platform::Cp932FindLast(p, '.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return std::string(p.substr(dot + 1));
}

// The wzi header: 16 bytes, width and height at 8 and 12, and at least a sixteenth of the pixels
// it claims (the loader's own rule).
bool WziInfo(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info) {
  if (bytes.size() < 16) return false;
  const int32_t w = static_cast<int32_t>(Le32(&bytes[8]));
  const int32_t h = static_cast<int32_t>(Le32(&bytes[12]));
  if (w <= 0 || h <= 0 || uint32_t(w) > d3dx::kMaxImageSide || uint32_t(h) > d3dx::kMaxImageSide)
    return false;
  if ((bytes.size() - 16) * 16 < uint64_t(w) * uint64_t(h) * 4) return false;
  info.Width = uint32_t(w);
  info.Height = uint32_t(h);
  return true;
}

// The PSD subset's header: signature, version 1, 1 to 16 channels, 8 bits, RGB.
bool PsdInfo(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info) {
  if (bytes.size() < 26 || Be32(&bytes[0]) != 0x38425053u || Be16(&bytes[4]) != 1) return false;
  const uint32_t channels = Be16(&bytes[12]);
  const uint32_t height = Be32(&bytes[14]), width = Be32(&bytes[18]);
  if (channels == 0 || channels > 16 || Be16(&bytes[22]) != 8 || Be16(&bytes[24]) != 3)
    return false;
  if (width == 0 || height == 0 || width > d3dx::kMaxImageSide || height > d3dx::kMaxImageSide)
    return false;
  info.Width = width;
  info.Height = height;
  return true;
}

}  // namespace

bool ReadImageFileInfo(const char* path, std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info) {
  info = D3DXIMAGE_INFO{};
  const std::string ext = Extension(path ? path : "");
  D3DXIMAGE_FILEFORMAT signature;
  const bool imageFile = d3dx::SniffImageFileFormat(bytes, signature) && signature != D3DXIFF_TGA;
  if (strcasecmp(ext.c_str(), "wzi") == 0 && !imageFile) return WziInfo(bytes, info);
  if (strcasecmp(ext.c_str(), "psd") == 0 && PsdInfo(bytes, info)) return true;
  if (bytes.empty()) return false;
  if (d3dx::ReadImageInfo(bytes, info) != d3dx::ImageError::kNone) {
    info = D3DXIMAGE_INFO{};
    return false;
  }
  return true;
}

}  // namespace wz
