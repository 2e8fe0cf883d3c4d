// Format detection and dispatch for the image decoders, plus the helpers they share.
#include "platform/d3dx/image_decode.h"

#include <bit>
#include <new>

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx {
namespace {

using Decoder = ImageError (*)(std::span<const uint8_t>, D3DXIMAGE_INFO&, std::vector<uint8_t>*);

Decoder DecoderFor(D3DXIMAGE_FILEFORMAT format) {
  switch (format) {
    case D3DXIFF_PNG:
      return codec::DecodePng;
    case D3DXIFF_DDS:
      return codec::DecodeDds;
    case D3DXIFF_JPG:
      return [](std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info,
                std::vector<uint8_t>* pixels) { return codec::DecodeJpeg(bytes, info, pixels); };
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
  ImageError e = rowByRow ? codec::DecodeJpeg(bytes, info, &pixels, rowsDecoded)
                          : DecoderFor(format)(bytes, info, &pixels);
  if (e != ImageError::kNone) return e;
  if (rowsDecoded && !rowByRow) rowsDecoded(pixels.data(), 0, info.Height);
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
