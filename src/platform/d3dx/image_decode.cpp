// Format detection and dispatch for the image decoders, plus the helpers they share.
#include "platform/d3dx/image_decode.h"

#include <algorithm>
#include <bit>
#include <new>

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx {
namespace {

using Decoder = ImageError (*)(std::span<const uint8_t>, D3DXIMAGE_INFO&, codec::ImageSink*);

Decoder DecoderFor(D3DXIMAGE_FILEFORMAT format) {
  switch (format) {
    case D3DXIFF_PNG:
      return codec::DecodePng;
    case D3DXIFF_DDS:
      return codec::DecodeDds;
    case D3DXIFF_JPG:
      return codec::DecodeJpeg;
    case D3DXIFF_BMP:
      return codec::DecodeBmp;
    case D3DXIFF_TGA:
      return codec::DecodeTga;
    default:
      return nullptr;
  }
}

}  // namespace

const char* ImageErrorText(ImageError error) {
  switch (error) {
    case ImageError::kNone:
      return "no error";
    case ImageError::kUnknownFormat:
      return "unknown image format";
    case ImageError::kTooShort:
      return "truncated data";
    case ImageError::kBadHeader:
      return "bad header";
    case ImageError::kUnsupported:
      return "unsupported variant";
    case ImageError::kTooLarge:
      return "image too large";
    case ImageError::kCorrupt:
      return "corrupt data";
    case ImageError::kNoMemory:
      return "out of memory";
    case ImageError::kIo:
      return "cannot read file";
  }
  return "unknown error";
}

bool SniffImageFileFormat(std::span<const uint8_t> bytes, D3DXIMAGE_FILEFORMAT& format) {
  // Strongest signature first; TGA has none and is only recognised by a plausible header.
  if (codec::LooksLikePng(bytes)) {
    format = D3DXIFF_PNG;
  } else if (codec::LooksLikeDds(bytes)) {
    format = D3DXIFF_DDS;
  } else if (codec::LooksLikeJpeg(bytes)) {
    format = D3DXIFF_JPG;
  } else if (codec::LooksLikeBmp(bytes)) {
    format = D3DXIFF_BMP;
  } else if (codec::LooksLikeTga(bytes)) {
    format = D3DXIFF_TGA;
  } else {
    return false;
  }
  return true;
}

ImageError DecodeImage(std::span<const uint8_t> bytes, DecodedImage& out,
                       const RowsDecoded& rowsDecoded) {
  out = DecodedImage{};
  D3DXIMAGE_FILEFORMAT format;
  if (!SniffImageFileFormat(bytes, format)) return ImageError::kUnknownFormat;
  D3DXIMAGE_INFO info{};
  std::vector<uint8_t> pixels;
  // JPEG finishes rows one by one from the top; the other decoders may write rows in any order
  // (bottom-up BMP and TGA, interlaced PNG), so their rows are reported when the image is whole.
  const bool rowByRow = format == D3DXIFF_JPG;
  codec::ImageSink sink(pixels, rowByRow && rowsDecoded ? &rowsDecoded : nullptr);
  ImageError e = DecoderFor(format)(bytes, info, &sink);
  if (e != ImageError::kNone) return e;
  if (rowsDecoded && !rowByRow) rowsDecoded(pixels.data(), 0, info.Height);
  out.info = info;
  out.pixels = std::move(pixels);
  return ImageError::kNone;
}

ImageError DecodeImageSampled(std::span<const uint8_t> bytes, const SampleMap& map,
                              DecodedImage& out) {
  out = DecodedImage{};
  D3DXIMAGE_FILEFORMAT format;
  if (!SniffImageFileFormat(bytes, format)) return ImageError::kUnknownFormat;
  D3DXIMAGE_INFO info{};
  std::vector<uint8_t> pixels;
  codec::ImageSink sink(pixels, map);
  ImageError e = DecoderFor(format)(bytes, info, &sink);
  if (e != ImageError::kNone) return e;
  out.info = info;
  out.pixels = std::move(pixels);
  return ImageError::kNone;
}

ImageError ReadImageInfo(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info) {
  info = D3DXIMAGE_INFO{};
  D3DXIMAGE_FILEFORMAT format;
  if (!SniffImageFileFormat(bytes, format)) return ImageError::kUnknownFormat;
  D3DXIMAGE_INFO read{};
  ImageError e = DecoderFor(format)(bytes, read, nullptr);
  if (e == ImageError::kNone) info = read;
  return e;
}

namespace codec {

ImageError AllocatePixels(std::vector<uint8_t>& pixels, uint32_t width, uint32_t height,
                          D3DCOLOR fill) {
  size_t count = size_t{width} * height;  // at most 2^28 after CheckImageSize
  try {
    pixels.resize(count * 4);
  } catch (const std::bad_alloc&) {
    pixels = {};
    return ImageError::kNoMemory;
  }
  if (fill != 0) {
    const uint8_t bgra[4] = {uint8_t(fill), uint8_t(fill >> 8), uint8_t(fill >> 16),
                             uint8_t(fill >> 24)};
    for (size_t i = 0; i < count; ++i)
      std::memcpy(&pixels[i * 4], bgra, 4);
  }
  return ImageError::kNone;
}

ImageError ImageSink::Start(uint32_t width, uint32_t height, D3DCOLOR fill) {
  width_ = width;
  const uint8_t bgra[4] = {uint8_t(fill), uint8_t(fill >> 8), uint8_t(fill >> 16),
                           uint8_t(fill >> 24)};
  std::memcpy(fill_, bgra, 4);
  if (!map_) return AllocatePixels(pixels_, width, height, fill);
  try {
    const size_t w = map_->columns.size(), h = map_->rows.size();
    pixels_.assign(w * h * 4, 0);
    row_.resize(size_t{width} * 4);
    // Pixels with a source start as the fill colour, as every pixel of a whole image does.
    if (fill != 0) {
      for (size_t y = 0; y < h && map_->rows[y] < height; ++y) {
        for (size_t x = 0; x < w && map_->columns[x] < width; ++x)
          std::memcpy(&pixels_[(y * w + x) * 4], fill_, 4);
      }
    }
  } catch (const std::bad_alloc&) {
    pixels_ = {};
    row_ = {};
    return ImageError::kNoMemory;
  }
  return ImageError::kNone;
}

std::pair<size_t, size_t> ImageSink::TargetRows(uint32_t y) const {
  const auto range = std::equal_range(map_->rows.begin(), map_->rows.end(), y);
  return {size_t(range.first - map_->rows.begin()), size_t(range.second - map_->rows.begin())};
}

uint8_t* ImageSink::Row(uint32_t y) {
  if (!map_) return pixels_.data() + size_t{y} * width_ * 4;
  const auto [first, last] = TargetRows(y);
  if (first != last) {
    for (size_t x = 0; x < width_; ++x)
      std::memcpy(&row_[x * 4], fill_, 4);
  }
  return row_.data();
}

void ImageSink::RowDone(uint32_t y) {
  if (!map_) {
    if (rowsDone_ && *rowsDone_) (*rowsDone_)(pixels_.data(), y, 1);
    return;
  }
  const auto [first, last] = TargetRows(y);
  const size_t w = map_->columns.size();
  for (size_t t = first; t < last; ++t) {
    uint8_t* out = &pixels_[t * w * 4];
    if (t > first) {
      std::memcpy(out, out - w * 4, w * 4);
      continue;
    }
    for (size_t x = 0; x < w && map_->columns[x] < width_; ++x)
      std::memcpy(out + x * 4, &row_[size_t{map_->columns[x]} * 4], 4);
  }
}

void ImageSink::PutPixels(uint32_t y, const uint8_t* px, uint32_t first, uint32_t step,
                          uint32_t count) {
  if (!map_) {
    uint8_t* row = pixels_.data() + size_t{y} * width_ * 4;
    for (uint32_t i = 0; i < count; ++i)
      std::memcpy(row + (size_t{first} + size_t{i} * step) * 4, px + size_t{i} * 4, 4);
    return;
  }
  const auto [begin, end] = TargetRows(y);
  const size_t w = map_->columns.size();
  for (size_t t = begin; t < end; ++t) {
    uint8_t* out = &pixels_[t * w * 4];
    for (size_t x = 0; x < w && map_->columns[x] < width_; ++x) {
      const uint32_t c = map_->columns[x];
      if (c < first || (c - first) % step != 0 || (c - first) / step >= count) continue;
      std::memcpy(out + x * 4, px + size_t{(c - first) / step} * 4, 4);
    }
  }
}

bool MaskChannel::Set(uint32_t mask) {
  mask_ = mask;
  if (mask == 0) return true;
  shift_ = static_cast<uint32_t>(std::countr_zero(mask));
  uint64_t v = uint64_t{mask} >> shift_;
  if ((v & (v + 1)) != 0) return false;  // holes in the mask
  max_ = v;
  return true;
}

}  // namespace codec
}  // namespace wz::d3dx
