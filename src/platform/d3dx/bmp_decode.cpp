// BMP decoder: Windows bitmaps with 12 (OS/2 1.x), 40, 52, 56, 64 (OS/2 2.x), 108 and 124-byte
// headers; 1, 4 and 8-bit palettes (RLE4 and RLE8 too), 16 and 32-bit with default masks or bit
// fields, 24-bit; bottom-up and top-down rows. The pixel offset of the file header is trusted
// (and bounds-checked), so palettes and masks may be followed by a gap.
// Alpha: only from an alpha mask (V3 and later headers, or BI_ALPHABITFIELDS); the fourth byte of
// a plain 32-bit pixel is reserved and ignored. Palette indices past the palette give opaque
// black; pixels that RLE skips (delta, end of line, early end of bitmap) take palette entry 0.
// Refused: compressed payloads (JPEG, PNG), OS/2 Huffman and RLE24, 2 and 64-bit pixels.
#include <algorithm>

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx::codec {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;
constexpr size_t kFileHeaderBytes = 14;

struct BmpHeader {
  uint32_t offBits = 0;
  uint32_t headerSize = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  bool topDown = false;
  uint32_t bpp = 0;
  uint32_t compression = kBiRgb;
  uint32_t colorsUsed = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  size_t paletteStart = 0;           // file offset just after the header and its masks
};

bool ValidHeaderSize(uint32_t size) {
  switch (size) {
    case 12:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      return true;
    default:
      return false;
  }
}

bool ValidDepthAndCompression(const BmpHeader& h) {
  switch (h.compression) {
    case kBiRgb:
      return h.bpp == 1 || h.bpp == 4 || h.bpp == 8 || h.bpp == 16 || h.bpp == 24 || h.bpp == 32;
    case kBiRle8:
      return h.bpp == 8;
    case kBiRle4:
      return h.bpp == 4;
    case kBiBitfields:
    case kBiAlphaBitfields:
      // In the OS/2 2.x header compression 3 means Huffman coding, not bit fields.
      return (h.bpp == 16 || h.bpp == 32) && h.headerSize != 64;
    default:
      return false;
  }
}

// Reads the file header, the info header and the masks after a 40-byte header, and settles the
// masks in force.
ImageError ParseHeader(std::span<const uint8_t> bytes, BmpHeader& h) {
  ByteCursor cur(bytes);
  if (cur.u8() != 'B' || cur.u8() != 'M') return ImageError::kUnknownFormat;
  cur.skip(8);  // file size (unreliable), reserved
  h.offBits = cur.u32();
  h.headerSize = cur.u32();
  if (!cur.ok()) return ImageError::kTooShort;
  if (!ValidHeaderSize(h.headerSize)) return ImageError::kBadHeader;
  ByteCursor hdr(cur.take(h.headerSize - 4));
  if (!cur.ok()) return ImageError::kTooShort;

  int64_t width, height;
  uint32_t planes;
  uint32_t headerMasks[4] = {0, 0, 0, 0};
  if (h.headerSize == 12) {
    width = hdr.u16();
    height = hdr.u16();
    planes = hdr.u16();
    h.bpp = hdr.u16();
  } else {
    width = hdr.i32();
    height = hdr.i32();
    planes = hdr.u16();
    h.bpp = hdr.u16();
    h.compression = hdr.u32();
    hdr.skip(12);  // image size, resolution
    h.colorsUsed = hdr.u32();
    hdr.skip(4);  // important colours
    // The OS/2 2.x header continues with its own fields, not masks.
    if (h.headerSize >= 52 && h.headerSize != 64) {
      for (int i = 0; i < 3; ++i)
        headerMasks[i] = hdr.u32();
      if (h.headerSize >= 56) headerMasks[3] = hdr.u32();
    }
  }
  if (planes != 1) return ImageError::kBadHeader;
  h.topDown = height < 0;
  if (height < 0) height = -height;
  if (width < 0) return ImageError::kBadHeader;
  if (ImageError e = CheckImageSize(uint64_t(width), uint64_t(height)); e != ImageError::kNone) {
    return e;
  }
  h.width = static_cast<uint32_t>(width);
  h.height = static_cast<uint32_t>(height);
  if (!ValidDepthAndCompression(h)) return ImageError::kUnsupported;
  bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  if (rle && h.topDown) return ImageError::kBadHeader;  // RLE bitmaps are always bottom-up

  size_t maskBytes = 0;
  if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
    if (h.headerSize == 40) {
      int n = h.compression == kBiBitfields ? 3 : 4;
      maskBytes = size_t(n) * 4;
      for (int i = 0; i < n; ++i)
        headerMasks[i] = cur.u32();
      if (!cur.ok()) return ImageError::kTooShort;
    }
    std::copy(headerMasks, headerMasks + 4, h.masks);
  } else if (h.bpp == 16 || h.bpp == 32) {
    h.masks[0] = h.bpp == 16 ? 0x7C00 : 0xFF0000;
    h.masks[1] = h.bpp == 16 ? 0x03E0 : 0x00FF00;
    h.masks[2] = h.bpp == 16 ? 0x001F : 0x0000FF;
    // A V3+ header may give the spare bits of the default layout as alpha.
    uint32_t spare = h.bpp == 16 ? 0x8000 : 0xFF000000;
    if (headerMasks[3] == spare) h.masks[3] = spare;
  }
  if (h.bpp == 16 || h.bpp == 32) {
    for (uint32_t m : h.masks) {
      MaskChannel c;
      if (!c.Set(m) || (h.bpp < 32 && (m >> h.bpp) != 0)) return ImageError::kBadHeader;
    }
  }
  h.paletteStart = kFileHeaderBytes + h.headerSize + maskBytes;
  if (h.offBits < h.paletteStart) return ImageError::kBadHeader;
  return ImageError::kNone;
}

struct Palette {
  uint8_t entries[256][4];
};

// Reads the colour table. The count is biClrUsed (0: 2^bpp), capped at 2^bpp and at what fits
// before the pixel data; indices past it stay opaque black.
ImageError ReadPalette(std::span<const uint8_t> bytes, const BmpHeader& h, Palette& p) {
  for (auto& e : p.entries)
    PutBgra(e, 0, 0, 0, 255);
  size_t entrySize = h.headerSize == 12 ? 3 : 4;
  uint64_t count =
      h.colorsUsed == 0 ? (1u << h.bpp) : std::min<uint64_t>(h.colorsUsed, 1u << h.bpp);
  count = std::min<uint64_t>(count, (h.offBits - h.paletteStart) / entrySize);
  ByteCursor cur(bytes);
  cur.seek(h.paletteStart);
  std::span<const uint8_t> table = cur.take(count * entrySize);
  if (!cur.ok()) return ImageError::kTooShort;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* s = &table[i * entrySize];
    PutBgra(p.entries[i], s[0], s[1], s[2], 255);
  }
  return ImageError::kNone;
}

ImageError DecodeRows(std::span<const uint8_t> data, const BmpHeader& h, const Palette& palette,
                      ImageSink& sink) {
  const uint64_t rowBits = uint64_t{h.width} * h.bpp;
  const uint64_t stride = (rowBits + 31) / 32 * 4;
  // The last row needs no padding: some writers leave it out.
  const uint64_t need = stride * (h.height - 1) + (rowBits + 7) / 8;
  if (need > data.size()) return ImageError::kTooShort;
  if (ImageError e = sink.Start(h.width, h.height); e != ImageError::kNone) return e;

  MaskChannel ch[4];
  for (int i = 0; i < 4; ++i)
    ch[i].Set(h.masks[i]);
  for (uint32_t y = 0; y < h.height; ++y) {
    const uint8_t* src = data.data() + stride * (h.topDown ? y : h.height - 1 - y);
    uint8_t* dst = sink.Row(y);
    for (uint32_t x = 0; x < h.width; ++x, dst += 4) {
      switch (h.bpp) {
        case 1:
        case 4:
        case 8: {
          uint32_t bit = x * h.bpp;
          uint32_t index = (src[bit / 8] >> (8 - h.bpp - bit % 8)) & ((1u << h.bpp) - 1);
          std::memcpy(dst, palette.entries[index], 4);
          break;
        }
        case 24:
          PutBgra(dst, src[x * 3], src[x * 3 + 1], src[x * 3 + 2], 255);
          break;
        default: {
          uint32_t v = h.bpp == 16
                           ? uint32_t(src[x * 2] | src[x * 2 + 1] << 8)
                           : uint32_t(src[x * 4]) | uint32_t(src[x * 4 + 1]) << 8 |
                                 uint32_t(src[x * 4 + 2]) << 16 | uint32_t(src[x * 4 + 3]) << 24;
          PutBgra(dst, ch[2].Extract(v, 0), ch[1].Extract(v, 0), ch[0].Extract(v, 0),
                  ch[3].Extract(v, 255));
          break;
        }
      }
    }
    sink.RowDone(y);
  }
  return ImageError::kNone;
}

// The number of rows an RLE stream of `bytes` bytes can reach: it starts on the bottom row, and
// moves up by at most 255 rows per 4-byte delta or one row per 2-byte end of line, keeping 2
// bytes for its end-of-bitmap code. Runs and literals never leave their row.
uint64_t RleReachableRows(size_t bytes) {
  if (bytes < 2) return 0;
  const uint64_t moving = bytes - 2;
  return 1 + 255 * (moving / 4) + (moving % 4 >= 2 ? 1 : 0);
}

// Pixels no RLE stream of the file could reach, taking the fill colour, that a picture may still
// have: a stream may end with its end-of-bitmap code, leaving the rest of the picture as it is,
// but an area of fill far larger than any data could reach is a header that lies about its size.
constexpr uint64_t kMaxUnreachablePixels = uint64_t{1} << 20;

// RLE8 and RLE4: runs and literals must stay inside their row and the image; the bitmap must end
// with its end-of-bitmap code. Rows are handed to the sink as the stream leaves them.
ImageError DecodeRle(std::span<const uint8_t> data, const BmpHeader& h, const Palette& palette,
                     ImageSink& sink) {
  const uint64_t reachable = RleReachableRows(data.size());
  if (reachable < h.height && (h.height - reachable) * h.width > kMaxUnreachablePixels) {
    return ImageError::kTooShort;
  }
  const uint8_t* fill = palette.entries[0];
  D3DCOLOR fillColour =
      D3DCOLOR(fill[3]) << 24 | D3DCOLOR(fill[2]) << 16 | D3DCOLOR(fill[1]) << 8 | fill[0];
  if (ImageError e = sink.Start(h.width, h.height, fillColour); e != ImageError::kNone) return e;
  const bool rle4 = h.compression == kBiRle4;
  const uint32_t w = h.width;
  const uint32_t rows = h.height;
  uint32_t x = 0, y = 0;   // y counts rows from the bottom
  uint8_t* row = nullptr;  // the sink's buffer for row y, once a pixel of it is written
  auto put = [&](uint8_t index) {
    if (!row) row = sink.Row(rows - 1 - y);
    std::memcpy(row + size_t{x} * 4, palette.entries[index], 4);
    ++x;
  };
  auto leaveRow = [&] {
    if (row) sink.RowDone(rows - 1 - y);
    row = nullptr;
  };
  ByteCursor cur(data);
  for (;;) {
    if (cur.remaining() < 2) return ImageError::kTooShort;
    uint8_t count = cur.u8();
    uint8_t value = cur.u8();
    if (count > 0) {
      if (y >= rows || count > w - x) return ImageError::kCorrupt;
      for (uint32_t i = 0; i < count; ++i) {
        put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      }
    } else if (value == 0) {  // end of line
      leaveRow();
      x = 0;
      if (++y > rows) return ImageError::kCorrupt;
    } else if (value == 1) {  // end of bitmap
      leaveRow();
      return ImageError::kNone;
    } else if (value == 2) {  // delta
      if (cur.remaining() < 2) return ImageError::kTooShort;
      uint32_t dx = cur.u8();
      uint32_t dy = cur.u8();
      if (dx > w - x || dy > rows - y) return ImageError::kCorrupt;
      if (dy > 0) leaveRow();
      x += dx;
      y += dy;
    } else {  // literal run of `value` indices, padded to a 16-bit boundary
      size_t bytes = rle4 ? (value + 1u) / 2 : value;
      std::span<const uint8_t> run = cur.take(bytes + (bytes & 1));
      if (!cur.ok()) return ImageError::kTooShort;
      if (y >= rows || value > w - x) return ImageError::kCorrupt;
      for (uint32_t i = 0; i < value; ++i) {
        put(rle4 ? ((i & 1) ? run[i / 2] & 0x0F : run[i / 2] >> 4) : run[i]);
      }
    }
  }
}

}  // namespace

bool LooksLikeBmp(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

ImageError DecodeBmp(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink) {
  BmpHeader h;
  if (ImageError e = ParseHeader(bytes, h); e != ImageError::kNone) return e;
  bool alpha = (h.bpp == 16 || h.bpp == 32) && h.masks[3] != 0;
  info = MakeInfo(h.width, h.height, alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, D3DXIFF_BMP);
  if (!sink) return ImageError::kNone;

  Palette palette;
  if (h.bpp <= 8) {
    if (ImageError e = ReadPalette(bytes, h, palette); e != ImageError::kNone) return e;
  }
  if (h.offBits > bytes.size()) return ImageError::kTooShort;
  std::span<const uint8_t> data = bytes.subspan(h.offBits);
  return (h.compression == kBiRle8 || h.compression == kBiRle4)
             ? DecodeRle(data, h, palette, *sink)
             : DecodeRows(data, h, palette, *sink);
}

}  // namespace wz::d3dx::codec
