// DDS decoder: the container is parsed here, DXT1 to DXT5 blocks are decoded by libsquish.
// Uncompressed pixel formats of 8, 16, 24 or 32 bits are read through their channel masks (RGB,
// luminance, alpha only). Only the first surface is decoded: level 0 of a 2D texture, of cube face
// +X (or the first face present) or of volume slice 0; the info record still describes the whole
// file (mip count, cube or volume, depth). DXT2 and DXT4 are decoded as DXT3 and DXT5 (their
// colours stay premultiplied). Refused: DX10 headers, YUV, float and 16-bit-per-channel FourCCs.
#include <squish.h>

#include <algorithm>
#include <bit>
#include <new>

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx::codec {
namespace {

constexpr uint32_t kMagic = 0x20534444;  // "DDS "
constexpr size_t kDataOffset = 128;      // magic + 124-byte header

constexpr uint32_t kPfAlphaPixels = 0x1;
constexpr uint32_t kPfAlpha = 0x2;
constexpr uint32_t kPfFourCC = 0x4;
constexpr uint32_t kPfRgb = 0x40;
constexpr uint32_t kPfYuv = 0x200;
constexpr uint32_t kPfLuminance = 0x20000;

constexpr uint32_t kCaps2Cubemap = 0x200;
constexpr uint32_t kCaps2AllFaces = 0xFC00;
constexpr uint32_t kCaps2Volume = 0x200000;

struct DdsHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 1;
  uint32_t mipCount = 1;
  uint32_t pfFlags = 0;
  uint32_t fourCC = 0;
  uint32_t bits = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red (or luminance), green, blue, alpha
  D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  int squishFlags = 0;  // non-zero for block formats
};

uint32_t ChainLength(uint32_t w, uint32_t h, uint32_t d) {
  return static_cast<uint32_t>(std::bit_width(std::max({w, h, d})));
}

struct KnownFormat {
  uint32_t kind;  // kPfRgb, kPfLuminance or kPfAlpha
  uint32_t bits;
  uint32_t masks[4];
  D3DFORMAT format;
};

constexpr KnownFormat kKnownFormats[] = {
    {kPfRgb, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, D3DFMT_A8R8G8B8},
    {kPfRgb, 32, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_X8R8G8B8},
    {kPfRgb, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, D3DFMT_A8B8G8R8},
    {kPfRgb, 32, {0xFF, 0xFF00, 0xFF0000, 0}, D3DFMT_X8B8G8R8},
    {kPfRgb, 24, {0xFF0000, 0xFF00, 0xFF, 0}, D3DFMT_R8G8B8},
    {kPfRgb, 16, {0xF800, 0x07E0, 0x001F, 0}, D3DFMT_R5G6B5},
    {kPfRgb, 16, {0x7C00, 0x03E0, 0x001F, 0}, D3DFMT_X1R5G5B5},
    {kPfRgb, 16, {0x7C00, 0x03E0, 0x001F, 0x8000}, D3DFMT_A1R5G5B5},
    {kPfRgb, 16, {0x0F00, 0x00F0, 0x000F, 0}, D3DFMT_X4R4G4B4},
    {kPfRgb, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}, D3DFMT_A4R4G4B4},
    {kPfLuminance, 8, {0xFF, 0, 0, 0}, D3DFMT_L8},
    {kPfLuminance, 16, {0xFF, 0, 0, 0xFF00}, D3DFMT_A8L8},
    {kPfLuminance, 16, {0xFFFF, 0, 0, 0}, D3DFMT_L16},
    {kPfAlpha, 8, {0, 0, 0, 0xFF}, D3DFMT_A8},
};

// Settles the pixel format: block compression, or masks for the generic path.
ImageError ParsePixelFormat(DdsHeader& h) {
  if (h.pfFlags & kPfFourCC) {
    switch (h.fourCC) {
      case D3DFMT_DXT1:
        h.squishFlags = squish::kDxt1;
        break;
      case D3DFMT_DXT2:
      case D3DFMT_DXT3:
        h.squishFlags = squish::kDxt3;
        break;
      case D3DFMT_DXT4:
      case D3DFMT_DXT5:
        h.squishFlags = squish::kDxt5;
        break;
      default:
        return ImageError::kUnsupported;  // DX10, float and other FourCCs
    }
    h.format = static_cast<D3DFORMAT>(h.fourCC);
    return ImageError::kNone;
  }
  if (h.pfFlags & kPfYuv) return ImageError::kUnsupported;
  uint32_t kind = (h.pfFlags & kPfRgb)         ? kPfRgb
                  : (h.pfFlags & kPfLuminance) ? kPfLuminance
                  : (h.pfFlags & kPfAlpha)     ? kPfAlpha
                                               : 0;
  if (kind == 0) return ImageError::kUnsupported;
  if (h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32) {
    return ImageError::kUnsupported;
  }
  // Only the masks that the flags make meaningful are kept.
  if (kind == kPfLuminance) h.masks[1] = h.masks[2] = 0;
  if (kind == kPfAlpha) h.masks[0] = h.masks[1] = h.masks[2] = 0;
  if (kind != kPfAlpha && !(h.pfFlags & kPfAlphaPixels)) h.masks[3] = 0;
  for (uint32_t m : h.masks) {
    MaskChannel c;
    if (!c.Set(m) || (h.bits < 32 && (m >> h.bits) != 0)) return ImageError::kBadHeader;
  }
  h.format = h.masks[3] != 0 ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
  for (const KnownFormat& k : kKnownFormats) {
    if (k.kind == kind && k.bits == h.bits && std::equal(k.masks, k.masks + 4, h.masks)) {
      h.format = k.format;
      break;
    }
  }
  return ImageError::kNone;
}

ImageError ParseHeader(std::span<const uint8_t> bytes, DdsHeader& h) {
  ByteCursor cur(bytes);
  if (cur.u32() != kMagic) return ImageError::kUnknownFormat;
  if (cur.remaining() < kDataOffset - 4) return ImageError::kTooShort;
  if (cur.u32() != 124) return ImageError::kBadHeader;
  cur.skip(4);  // flags: writers often leave out required bits, so nothing depends on them
  h.height = cur.u32();
  h.width = cur.u32();
  cur.skip(4);  // pitch or linear size: unreliable, computed instead
  uint32_t depth = cur.u32();
  uint32_t mips = cur.u32();
  cur.skip(44);  // reserved
  if (cur.u32() != 32) return ImageError::kBadHeader;
  h.pfFlags = cur.u32();
  h.fourCC = cur.u32();
  h.bits = cur.u32();
  for (uint32_t& m : h.masks)
    m = cur.u32();
  cur.skip(4);  // caps
  uint32_t caps2 = cur.u32();

  if (ImageError e = CheckImageSize(h.width, h.height); e != ImageError::kNone) return e;
  bool cube = (caps2 & kCaps2Cubemap) != 0;
  bool volume = (caps2 & kCaps2Volume) != 0;
  if (cube && volume) return ImageError::kBadHeader;
  if (cube && (caps2 & kCaps2AllFaces) == 0) return ImageError::kBadHeader;
  if (volume) {
    if (depth > kMaxImageSide) return ImageError::kTooLarge;
    h.depth = std::max<uint32_t>(depth, 1);
    h.type = D3DRTYPE_VOLUMETEXTURE;
  } else if (cube) {
    h.type = D3DRTYPE_CUBETEXTURE;
  }
  // A count of 0 means one level; a count beyond the full chain is taken as the full chain.
  h.mipCount = std::clamp<uint32_t>(mips, 1, ChainLength(h.width, h.height, h.depth));
  return ParsePixelFormat(h);
}

// Block rows are decoded four image rows at a time, straight into the image when the sink holds
// it whole, otherwise into a band of four rows handed on row by row.
void DecodeBlocks(const uint8_t* src, const DdsHeader& h, ImageSink& sink) {
  const size_t blockBytes = h.squishFlags == squish::kDxt1 ? 8 : 16;
  const uint32_t blocksX = (h.width + 3) / 4;
  const uint32_t blocksY = (h.height + 3) / 4;
  const size_t pitch = size_t{h.width} * 4;
  uint8_t* whole = sink.Whole();
  std::vector<uint8_t> band(whole ? 0 : pitch * 4);
  uint8_t rgba[16 * 4];
  for (uint32_t by = 0; by < blocksY; ++by) {
    uint8_t* rows = whole ? whole + pitch * 4 * by : band.data();
    const uint32_t bandRows = std::min(4u, h.height - by * 4);
    for (uint32_t bx = 0; bx < blocksX; ++bx, src += blockBytes) {
      squish::Decompress(rgba, src, h.squishFlags);
      for (uint32_t py = 0; py < bandRows; ++py) {
        for (uint32_t px = 0; px < 4 && bx * 4 + px < h.width; ++px) {
          const uint8_t* s = &rgba[(py * 4 + px) * 4];
          uint8_t* d = rows + pitch * py + (size_t{bx} * 4 + px) * 4;
          PutBgra(d, s[2], s[1], s[0], s[3]);
        }
      }
    }
    for (uint32_t py = 0; py < bandRows; ++py) {
      const uint32_t y = by * 4 + py;
      uint8_t* row = sink.Row(y);
      if (!whole) std::memcpy(row, rows + pitch * py, pitch);
      sink.RowDone(y);
    }
  }
}

void DecodeMasked(const uint8_t* src, const DdsHeader& h, ImageSink& sink) {
  MaskChannel ch[4];
  for (int i = 0; i < 4; ++i)
    ch[i].Set(h.masks[i]);
  const bool luminance = (h.pfFlags & kPfRgb) == 0 && (h.pfFlags & kPfLuminance) != 0;
  const size_t bytesPerPixel = h.bits / 8;
  for (uint32_t y = 0; y < h.height; ++y) {
    uint8_t* row = sink.Row(y);
    for (uint32_t x = 0; x < h.width; ++x, src += bytesPerPixel) {
      uint32_t v = 0;
      for (size_t k = 0; k < bytesPerPixel; ++k)
        v |= uint32_t{src[k]} << (8 * k);
      uint8_t r = ch[0].Extract(v, 0);
      uint8_t a = ch[3].Extract(v, 255);
      if (luminance) {
        PutBgra(row + size_t{x} * 4, r, r, r, a);
      } else {
        PutBgra(row + size_t{x} * 4, ch[2].Extract(v, 0), ch[1].Extract(v, 0), r, a);
      }
    }
    sink.RowDone(y);
  }
}

}  // namespace

bool LooksLikeDds(std::span<const uint8_t> bytes) {
  return bytes.size() >= 4 && bytes[0] == 'D' && bytes[1] == 'D' && bytes[2] == 'S' &&
         bytes[3] == ' ';
}

ImageError DecodeDds(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink) {
  DdsHeader h;
  if (ImageError e = ParseHeader(bytes, h); e != ImageError::kNone) return e;
  info = D3DXIMAGE_INFO{h.width, h.height, h.depth, h.mipCount, h.format, h.type, D3DXIFF_DDS};
  if (!sink) return ImageError::kNone;

  uint64_t surfaceBytes;
  if (h.squishFlags != 0) {
    surfaceBytes = uint64_t{(h.width + 3) / 4} * ((h.height + 3) / 4) *
                   (h.squishFlags == squish::kDxt1 ? 8 : 16);
  } else {
    surfaceBytes = uint64_t{h.width} * h.height * (h.bits / 8);
  }
  if (surfaceBytes > bytes.size() - kDataOffset) return ImageError::kTooShort;
  if (ImageError e = sink->Start(h.width, h.height); e != ImageError::kNone) return e;
  const uint8_t* src = bytes.data() + kDataOffset;
  try {
    if (h.squishFlags != 0) {
      DecodeBlocks(src, h, *sink);
    } else {
      DecodeMasked(src, h, *sink);
    }
  } catch (const std::bad_alloc&) {
    return ImageError::kNoMemory;
  }
  return ImageError::kNone;
}

}  // namespace wz::d3dx::codec
