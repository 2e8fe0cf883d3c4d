// TGA decoder: colour-mapped (types 1 and 9), true colour (2 and 10) and greyscale (3 and 11),
// raw or run-length encoded; 15, 16, 24 and 32-bit true colour, 8-bit grey and 16-bit
// grey+alpha, 8 or 16-bit indices into 15, 16, 24 or 32-bit colour maps; all four origins.
// TGA has no signature, so a file is taken as TGA only when its 18-byte header is consistent.
// Alpha: the fourth byte of 32-bit pixels and map entries always; the top bit of 16-bit pixels
// and entries only when the descriptor announces exactly one attribute bit. The TGA 2.0 footer
// and extension area are ignored. Indices outside the colour map give opaque black. RLE packets
// may cross rows; the last packet is cut at the end of the image; data ending early is an error.
#include <algorithm>

#include "platform/d3dx/image_codec.h"

namespace wz::d3dx::codec {
namespace {

constexpr size_t kHeaderBytes = 18;

struct TgaHeader {
  uint32_t idLength;
  uint32_t mapType;
  uint32_t imageType;
  uint32_t mapFirst;
  uint32_t mapLength;
  uint32_t mapBits;
  uint32_t width;
  uint32_t height;
  uint32_t depth;
  uint32_t descriptor;

  bool colourMapped() const { return imageType == 1 || imageType == 9; }
  bool grey() const { return imageType == 3 || imageType == 11; }
  bool rle() const { return imageType >= 9; }
  uint32_t attributeBits() const { return descriptor & 0x0F; }
};

bool ValidMapBits(uint32_t bits) {
  return bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// Reads and checks the header; false when the bytes cannot be a TGA header. Sizes are not
// checked here (a zero or huge size is a TGA file with a bad header, not another format).
bool ParseHeader(std::span<const uint8_t> bytes, TgaHeader& h) {
  ByteCursor cur(bytes);
  h.idLength = cur.u8();
  h.mapType = cur.u8();
  h.imageType = cur.u8();
  h.mapFirst = cur.u16();
  h.mapLength = cur.u16();
  h.mapBits = cur.u8();
  cur.skip(4);  // origin
  h.width = cur.u16();
  h.height = cur.u16();
  h.depth = cur.u8();
  h.descriptor = cur.u8();
  if (!cur.ok() || h.mapType > 1 || (h.descriptor & 0xC0) != 0) return false;
  if (h.mapType == 1 && !ValidMapBits(h.mapBits)) return false;
  switch (h.imageType) {
    case 1:
    case 9:
      return h.mapType == 1 && (h.depth == 8 || h.depth == 16);
    case 2:
    case 10:
      return h.depth == 15 || h.depth == 16 || h.depth == 24 || h.depth == 32;
    case 3:
    case 11:
      return h.depth == 8 || h.depth == 16;
    default:
      return false;
  }
}

// Converts one stored true-colour value (15, 16, 24 or 32 bits) to B,G,R,A.
void Colour(const uint8_t* s, uint32_t bits, bool alphaBit, uint8_t* out) {
  switch (bits) {
    case 15:
    case 16: {
      uint32_t v = s[0] | s[1] << 8;
      uint8_t a = (alphaBit && bits == 16) ? ((v & 0x8000) ? 255 : 0) : 255;
      PutBgra(out, Widen(v & 0x1F, 5), Widen((v >> 5) & 0x1F, 5), Widen((v >> 10) & 0x1F, 5), a);
      break;
    }
    case 24:
      PutBgra(out, s[0], s[1], s[2], 255);
      break;
    default:
      PutBgra(out, s[0], s[1], s[2], s[3]);
      break;
  }
}

bool HasAlpha(const TgaHeader& h) {
  uint32_t bits = h.colourMapped() ? h.mapBits : h.depth;
  if (h.grey()) return h.depth == 16;
  return bits == 32 || (bits == 16 && h.attributeBits() == 1);
}

}  // namespace

bool LooksLikeTga(std::span<const uint8_t> bytes) {
  TgaHeader h;
  return ParseHeader(bytes, h);
}

ImageError DecodeTga(std::span<const uint8_t> bytes, D3DXIMAGE_INFO& info, ImageSink* sink) {
  TgaHeader h;
  if (bytes.size() < kHeaderBytes) return ImageError::kTooShort;
  if (!ParseHeader(bytes, h)) return ImageError::kUnknownFormat;
  if (ImageError e = CheckImageSize(h.width, h.height); e != ImageError::kNone) return e;
  const bool alphaBit = h.attributeBits() == 1;
  info = MakeInfo(h.width, h.height, HasAlpha(h) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8, D3DXIFF_TGA);
  if (!sink) return ImageError::kNone;

  ByteCursor cur(bytes);
  cur.skip(kHeaderBytes + h.idLength);
  std::vector<uint8_t> map;
  if (h.mapType == 1) {
    const size_t entryBytes = (h.mapBits + 7) / 8;
    std::span<const uint8_t> stored = cur.take(size_t{h.mapLength} * entryBytes);
    if (!cur.ok()) return ImageError::kTooShort;
    if (h.colourMapped()) {
      map.resize(size_t{h.mapLength} * 4);
      for (size_t i = 0; i < h.mapLength; ++i) {
        Colour(&stored[i * entryBytes], h.mapBits, alphaBit, &map[i * 4]);
      }
    }
  }

  const uint32_t pixelBytes = (h.depth + 7) / 8;
  const uint64_t count = uint64_t{h.width} * h.height;
  // Check that the data can hold the image before allocating: raw pixels need all their bytes,
  // and an RLE packet of 1 + pixelBytes bytes yields at most 128 pixels.
  uint64_t minBytes = h.rle() ? (count + 127) / 128 * (1 + pixelBytes) : count * pixelBytes;
  if (minBytes > cur.remaining()) return ImageError::kTooShort;
  if (ImageError e = sink->Start(h.width, h.height); e != ImageError::kNone) return e;

  const bool rightToLeft = (h.descriptor & 0x10) != 0;
  const bool topDown = (h.descriptor & 0x20) != 0;
  auto convert = [&](const uint8_t* s, uint8_t* out) {
    if (h.colourMapped()) {
      uint32_t index = pixelBytes == 1 ? s[0] : uint32_t(s[0] | s[1] << 8);
      // Entries below the first index or past the map are opaque black.
      if (index >= h.mapFirst && index - h.mapFirst < h.mapLength) {
        std::memcpy(out, &map[size_t{index - h.mapFirst} * 4], 4);
      } else {
        PutBgra(out, 0, 0, 0, 255);
      }
    } else if (h.grey()) {
      PutBgra(out, s[0], s[0], s[0], pixelBytes == 2 ? s[1] : 255);
    } else {
      Colour(s, h.depth, alphaBit, out);
    }
  };

  // Stored rows in order, each placed at its row and its pixels at their columns after the
  // origin flips. RLE packets may run on into the next row.
  uint64_t runLeft = 0;      // pixels left in the current packet
  bool repeat = false;       // the packet repeats one pixel
  uint8_t repeated[4] = {};  // that pixel
  for (uint32_t stored = 0; stored < h.height; ++stored) {
    const uint32_t y = topDown ? stored : h.height - 1 - stored;
    uint8_t* row = sink->Row(y);
    for (uint32_t i = 0; i < h.width; ++i) {
      uint8_t* out = row + size_t{rightToLeft ? h.width - 1 - i : i} * 4;
      if (!h.rle()) {
        convert(cur.take(pixelBytes).data(), out);
        continue;
      }
      if (runLeft == 0) {
        const uint8_t packet = cur.u8();
        runLeft = (packet & 0x7F) + 1u;
        repeat = (packet & 0x80) != 0;
        if (repeat) {
          std::span<const uint8_t> s = cur.take(pixelBytes);
          if (!cur.ok()) return ImageError::kTooShort;
          convert(s.data(), repeated);
        }
      }
      if (repeat) {
        std::memcpy(out, repeated, 4);
      } else {
        std::span<const uint8_t> s = cur.take(pixelBytes);
        if (!cur.ok()) return ImageError::kTooShort;
        convert(s.data(), out);
      }
      --runLeft;
    }
    sink->RowDone(y);
  }
  return ImageError::kNone;
}

}  // namespace wz::d3dx::codec
