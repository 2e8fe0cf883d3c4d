// The PSD subset: 8-bit RGB documents, raw or PackBits, read through a bounded cursor.
#include <cstring>

#include "texture/texture_table.h"

namespace wz {
namespace {

class Cursor {
 public:
  explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t remaining() const { return bytes_.size() - pos_; }
  bool Read16(uint32_t& v) {
    if (remaining() < 2) return false;
    v = uint32_t(bytes_[pos_]) << 8 | bytes_[pos_ + 1];
    pos_ += 2;
    return true;
  }
  bool Read32(uint32_t& v) {
    if (remaining() < 4) return false;
    v = uint32_t(bytes_[pos_]) << 24 | uint32_t(bytes_[pos_ + 1]) << 16 |
        uint32_t(bytes_[pos_ + 2]) << 8 | bytes_[pos_ + 3];
    pos_ += 4;
    return true;
  }
  bool Skip(uint64_t n) {
    if (n > remaining()) return false;
    pos_ += size_t(n);
    return true;
  }
  bool Byte(uint8_t& b) {
    if (remaining() < 1) return false;
    b = bytes_[pos_++];
    return true;
  }
  bool Copy(uint8_t* dst, size_t n) {
    if (n > remaining()) return false;
    std::memcpy(dst, bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace

bool ReadPsd(std::span<const uint8_t> bytes, PsdImage& out) {
  Cursor c(bytes);
  uint32_t signature, version, channels, height, width, depth, mode;
  if (!c.Read32(signature) || signature != 0x38425053u) return false;
  if (!c.Read16(version) || version != 1 || !c.Skip(6)) return false;
  if (!c.Read16(channels) || channels > 16 || channels == 0) return false;
  if (!c.Read32(height) || !c.Read32(width)) return false;
  if (!c.Read16(depth) || depth != 8 || !c.Read16(mode) || mode != 3) return false;
  // Sizes are bounded by the largest texture side, so the planes stay within 1 GiB.
  if (width == 0 || height == 0 || width > d3dx::kMaxImageSide || height > d3dx::kMaxImageSide) {
    return false;
  }
  for (int section = 0; section < 3; ++section) {
    uint32_t length;
    if (!c.Read32(length) || !c.Skip(length)) return false;
  }
  uint32_t compression;
  if (!c.Read16(compression) || compression > 1) return false;

  const size_t samples = size_t(width) * height;
  const uint32_t planes = channels < 4 ? channels : 4;
  // Every sample costs at least one byte raw, or one header byte per 128 samples in PackBits:
  // refuse a header whose size the file cannot back before allocating the planes.
  if (compression == 0 && samples * planes > c.remaining()) return false;
  if (compression == 1 && (samples / 128) * planes > c.remaining()) return false;
  out = PsdImage{};
  out.width = width;
  out.height = height;
  out.channels = static_cast<uint16_t>(channels);
  for (auto& plane : out.planes)
    plane.assign(samples, 0);

  if (compression == 0) {
    for (uint32_t p = 0; p < planes; ++p) {
      if (!c.Copy(out.planes[p].data(), samples)) return false;
    }
    return true;
  }
  if (!c.Skip(uint64_t(height) * channels * 2)) return false;
  for (uint32_t p = 0; p < planes; ++p) {
    uint8_t* plane = out.planes[p].data();
    size_t produced = 0;
    while (produced < samples) {
      uint8_t n;
      if (!c.Byte(n)) return false;
      if (n < 128) {
        size_t count = size_t(n) + 1;
        if (count > samples - produced || !c.Copy(plane + produced, count)) return false;
        produced += count;
      } else if (n > 128) {
        size_t count = 257 - size_t(n);
        uint8_t value;
        if (count > samples - produced || !c.Byte(value)) return false;
        std::memset(plane + produced, value, count);
        produced += count;
      }
    }
  }
  return true;
}

}  // namespace wz
