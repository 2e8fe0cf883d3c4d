// Pieces shared by the image decoders (internal to platform/d3dx): a bounded little-endian byte
// cursor, checked size arithmetic, channel masks, the sink decoders write pixels to, and one entry
// point per file format. Each decoder fills the info record from the header and, when it is given
// a sink, decodes the top image into it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "platform/d3dx/image_decode.h"

namespace wz::d3dx::codec {

// Reads little-endian values from memory. A read past the end fails, returns 0 and leaves the
// cursor failed; callers check ok() at record boundaries.
class ByteCursor {
 public:
  explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t remaining() const { return bytes_.size() - pos_; }
  size_t pos() const { return pos_; }
  bool ok() const { return ok_; }

  bool skip(size_t n) {
    if (n > remaining()) return fail();
    pos_ += n;
    return true;
  }
  // Moves to an absolute offset; fails past the end.
  bool seek(size_t offset) {
    if (offset > bytes_.size()) return fail();
    pos_ = offset;
    return true;
  }
  // The next n bytes; empty (and failed) when fewer remain.
  std::span<const uint8_t> take(size_t n) {
    if (n > remaining()) {
      fail();
      return {};
    }
    std::span<const uint8_t> s = bytes_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  uint8_t u8() { return static_cast<uint8_t>(read(1)); }
  uint16_t u16() { return static_cast<uint16_t>(read(2)); }
  uint32_t u32() { return static_cast<uint32_t>(read(4)); }
  int16_t i16() { return static_cast<int16_t>(u16()); }
  int32_t i32() { return static_cast<int32_t>(u32()); }

 private:
  bool fail() {
    ok_ = false;
    pos_ = bytes_.size();
    return false;
  }
  uint64_t read(size_t n) {
    if (n > remaining()) {
      fail();
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
      v |= uint64_t{bytes_[pos_ + i]} << (8 * i);
    pos_ += n;
    return v;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

inline bool CheckedMul(uint64_t a, uint64_t b, uint64_t& out) {
  return !__builtin_mul_overflow(a, b, &out);
}
inline bool CheckedMulAdd(uint64_t a, uint64_t b, uint64_t c, uint64_t& out) {
  return CheckedMul(a, b, out) && !__builtin_add_overflow(out, c, &out);
}

// kBadHeader for a zero side, kTooLarge above kMaxImageSide, else kNone.
inline ImageError CheckImageSize(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return ImageError::kBadHeader;
  if (width > kMaxImageSide || height > kMaxImageSide) return ImageError::kTooLarge;
  return ImageError::kNone;
}

// Sizes `pixels` to width * height * 4 bytes, each pixel the ARGB colour `fill`. The sides must
// have passed CheckImageSize.
ImageError AllocatePixels(std::vector<uint8_t>& pixels, uint32_t width, uint32_t height,
                          D3DCOLOR fill = 0);

// One colour channel given by a bit mask: the value is shifted down and widened to 8 bits
// (rounded v * 255 / max). A zero mask yields `missing`.
class MaskChannel {
 public:
  MaskChannel() = default;
  // False when the set bits of `mask` are not contiguous.
  bool Set(uint32_t mask);
  uint32_t mask() const { return mask_; }
  uint8_t Extract(uint32_t value, uint8_t missing) const {
    if (mask_ == 0) return missing;
    uint64_t v = (value & mask_) >> shift_;
    return static_cast<uint8_t>((v * 255 + max_ / 2) / max_);
  }

 private:
  uint32_t mask_ = 0;
  uint32_t shift_ = 0;
  uint64_t max_ = 1;
};

// Widens an n-bit value (n <= 8) to 8 bits.
inline uint8_t Widen(uint32_t v, uint32_t bits) {
  uint32_t max = (1u << bits) - 1;
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

inline void PutBgra(uint8_t* p, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
  p[0] = b;
  p[1] = g;
  p[2] = r;
  p[3] = a;
}

// Fills the fields every decoder shares.
inline D3DXIMAGE_INFO MakeInfo(uint32_t width, uint32_t height, D3DFORMAT format,
                               D3DXIMAGE_FILEFORMAT fileFormat) {
  return D3DXIMAGE_INFO{width, height, 1, 1, format, D3DRTYPE_TEXTURE, fileFormat};
}

// Where a decoder puts the pixels of the image, B,G,R,A, rows numbered from the top: the whole
// image, or only the pixels a SampleMap takes (then the image is never held whole). Decoders
// write a row at a time: Row(y), fill it, RowDone(y), in any order of rows, each row at most once;
// or, for rows whose pixels come in several passes, PutPixels. A row never written keeps the
// fill colour of Start.
class ImageSink {
 public:
  // The whole image into `pixels`; `rowsDone` (when given) is told of each row made final through
  // RowDone.
  explicit ImageSink(std::vector<uint8_t>& pixels, const RowsDecoded* rowsDone = nullptr)
      : pixels_(pixels), rowsDone_(rowsDone) {}
  // The picture `map` describes into `pixels`.
  ImageSink(std::vector<uint8_t>& pixels, const SampleMap& map) : pixels_(pixels), map_(&map) {}

  // Sizes the output for a width x height image whose pixels start as the ARGB colour `fill`;
  // called once, when the data is known to be able to hold the image. The sides must have passed
  // CheckImageSize.
  ImageError Start(uint32_t width, uint32_t height, D3DCOLOR fill = 0);
  // The row buffer for row y (width pixels), holding the fill colour or, for the whole image,
  // what was written there before. Valid until RowDone(y).
  uint8_t* Row(uint32_t y);
  void RowDone(uint32_t y);
  // `count` pixels of row y, going to columns first, first + step, ...
  void PutPixels(uint32_t y, const uint8_t* px, uint32_t first, uint32_t step, uint32_t count);
  // The whole image as one buffer (rows width * 4 bytes apart), or null when the sink samples.
  uint8_t* Whole() { return map_ ? nullptr : pixels_.data(); }

 private:
  // The rows of the picture that take image row y, as [first, last).
  std::pair<size_t, size_t> TargetRows(uint32_t y) const;

  std::vector<uint8_t>& pixels_;
  const RowsDecoded* rowsDone_ = nullptr;
  const SampleMap* map_ = nullptr;
  uint32_t width_ = 0;
  uint8_t fill_[4] = {0, 0, 0, 0};
  std::vector<uint8_t> row_;  // the row being written, when sampling
};

// Signature checks (no decoding).
bool LooksLikePng(std::span<const uint8_t> bytes);
bool LooksLikeDds(std::span<const uint8_t> bytes);
bool LooksLikeJpeg(std::span<const uint8_t> bytes);
bool LooksLikeBmp(std::span<const uint8_t> bytes);
bool LooksLikeTga(std::span<const uint8_t> bytes);

// With a null sink only the header is read. JPEG makes its rows final in order from the top.
ImageError DecodeBmp(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink);
ImageError DecodeTga(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink);
ImageError DecodeDds(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink);
ImageError DecodeJpeg(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink);
ImageError DecodePng(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink);

}  // namespace wz::d3dx::codec
