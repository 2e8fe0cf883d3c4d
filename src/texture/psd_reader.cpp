// The PSD subset: 8-bit RGB documents, raw or PackBits, read through a bounded cursor, a row of a
// plane at a time, so that a picture sampled from a large document never holds it whole.
#include <algorithm>
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

namespace {

// Reads the header and the three sections before the image data; the cursor is left at the
// compression word.
bool ReadHeader(Cursor& c, PsdImage& out) {
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
  out = PsdImage{};
  out.width = width;
  out.height = height;
  out.channels = static_cast<uint16_t>(channels);
  return true;
}

// Takes the rows of one plane as they are decoded into the plane: whole, or sampled by a map.
class PlaneRows {
 public:
  PlaneRows(const PsdImage& image, const d3dx::SampleMap* map, std::vector<uint8_t>& plane)
      : width_(image.width), map_(map), plane_(plane) {}
  void Row(uint32_t y, const uint8_t* row) {
    if (!map_) {
      std::memcpy(plane_.data() + size_t{y} * width_, row, width_);
      return;
    }
    const auto range = std::equal_range(map_->rows.begin(), map_->rows.end(), y);
    const size_t w = map_->columns.size();
    for (auto t = range.first; t != range.second; ++t) {
      uint8_t* out = plane_.data() + size_t(t - map_->rows.begin()) * w;
      for (size_t x = 0; x < w && map_->columns[x] < width_; ++x)
        out[x] = row[map_->columns[x]];
    }
  }

 private:
  uint32_t width_;
  const d3dx::SampleMap* map_;
  std::vector<uint8_t>& plane_;
};

}  // namespace

bool ReadPsdHeader(std::span<const uint8_t> bytes, PsdImage& out) {
  Cursor c(bytes);
  return ReadHeader(c, out);
}

bool ReadPsd(std::span<const uint8_t> bytes, PsdImage& out, const d3dx::SampleMap* map) {
  Cursor c(bytes);
  if (!ReadHeader(c, out)) return false;
  uint32_t compression;
  if (!c.Read16(compression) || compression > 1) return false;

  const uint32_t width = out.width, height = out.height, channels = out.channels;
  const size_t samples = size_t(width) * height;
  const uint32_t planes = channels < 4 ? channels : 4;
  // Every sample costs at least one byte raw, or one header byte per 128 samples in PackBits:
  // refuse a header whose size the file cannot back before allocating the planes.
  if (compression == 0 && samples * planes > c.remaining()) return false;
  if (compression == 1 && (samples / 128) * planes > c.remaining()) return false;
  const size_t kept = map ? map->columns.size() * map->rows.size() : samples;
  for (auto& plane : out.planes)
    plane.assign(kept, 0);

  // Planes are decoded a row at a time; PackBits runs may go on into the next row.
  std::vector<uint8_t> row(width);
  if (compression == 0) {
    for (uint32_t p = 0; p < planes; ++p) {
      PlaneRows rows(out, map, out.planes[p]);
      for (uint32_t y = 0; y < height; ++y) {
        if (!c.Copy(row.data(), width)) return false;
        rows.Row(y, row.data());
      }
    }
    return true;
  }
  if (!c.Skip(uint64_t(height) * channels * 2)) return false;
  for (uint32_t p = 0; p < planes; ++p) {
    PlaneRows rows(out, map, out.planes[p]);
    size_t runLeft = 0;  // samples left in the current run
    bool repeat = false;
    uint8_t value = 0;
    for (uint32_t y = 0; y < height; ++y) {
      size_t produced = 0;
      while (produced < width) {
        if (runLeft == 0) {
          uint8_t n;
          if (!c.Byte(n)) return false;
          if (n == 128) continue;
          repeat = n > 128;
          runLeft = repeat ? 257 - size_t(n) : size_t(n) + 1;
          // A run may not go past the end of the plane.
          if (runLeft > samples - (size_t(y) * width + produced)) return false;
          if (repeat && !c.Byte(value)) return false;
        }
        const size_t count = std::min(runLeft, width - produced);
        if (repeat) {
          std::memset(row.data() + produced, value, count);
        } else if (!c.Copy(row.data() + produced, count)) {
          return false;
        }
        produced += count;
        runLeft -= count;
      }
      rows.Row(y, row.data());
    }
  }
  return true;
}

}  // namespace wz
