// Test helpers that build image files byte by byte (BMP, TGA, DDS) or through the libjpeg and
// libpng encoders (JPEG, PNG), and a set of named fixtures covering every decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/d3dx/image_decode.h"

namespace wz::test {

// Little-endian byte builder.
class Bytes {
 public:
  Bytes& u8(uint32_t v) {
    data.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Bytes& append(const std::vector<uint8_t>& b) {
    data.insert(data.end(), b.begin(), b.end());
    return *this;
  }
  Bytes& zeros(size_t n) {
    data.resize(data.size() + n, 0);
    return *this;
  }
  std::vector<uint8_t> data;
};

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v);

// A 4-byte B,G,R,A pixel, as decoders produce them.
struct Px {
  uint8_t b, g, r, a;
  bool operator==(const Px&) const = default;
};
// Pixel (x, y) of a decoded B,G,R,A image with rows width * 4 bytes apart.
Px PixelAt(const std::vector<uint8_t>& bgra, uint32_t width, uint32_t x, uint32_t y);
// Decodes a file and returns its pixels top row first (and its description through `info`);
// fails the calling test when the decode fails.
std::vector<Px> DecodePixels(const std::vector<uint8_t>& bytes,
                             d3dx::D3DXIMAGE_INFO* info = nullptr);
std::string ToString(const Px& p);

struct BmpLayout {
  uint32_t headerSize = 40;
  int32_t width = 0;
  int32_t height = 0;  // negative: top-down
  uint16_t planes = 1;
  uint16_t bpp = 24;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // written inside a 52+ header, or after a 40-byte one when
                                     // maskWords > 0
  int maskWords = 0;                 // masks written after a 40-byte header (3 or 4)
  std::vector<uint8_t> palette;      // raw entries (4 bytes, or 3 with the 12-byte header)
  uint32_t gap = 0;                  // bytes between palette and pixels
  int64_t offBits = -1;              // -1: computed; otherwise written as given, no padding
  std::vector<uint8_t> pixels;       // pixel data as stored
};
std::vector<uint8_t> BuildBmp(const BmpLayout& layout);

struct TgaLayout {
  uint8_t imageType = 2;
  uint8_t depth = 24;
  uint8_t descriptor = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> id;
  bool hasMap = false;
  uint16_t mapFirst = 0;
  uint16_t mapLength = 0;
  uint8_t mapBits = 0;
  std::vector<uint8_t> map;  // raw entries
  std::vector<uint8_t> data;
};
std::vector<uint8_t> BuildTga(const TgaLayout& layout);
// A 24-bit TGA of width x height pixels all of one colour, as a string to write to a file.
std::string SolidTga(uint16_t width, uint16_t height, uint8_t r, uint8_t g, uint8_t b);

constexpr uint32_t kDdsFourCC = 0x4;
constexpr uint32_t kDdsRgb = 0x40;
constexpr uint32_t kDdsAlphaPixels = 0x1;
constexpr uint32_t kDdsLuminance = 0x20000;
constexpr uint32_t kDdsAlpha = 0x2;

struct DdsLayout {
  uint32_t headerSize = 124;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;
  uint32_t mipCount = 0;
  uint32_t pfSize = 32;
  uint32_t pfFlags = 0;
  uint32_t fourCC = 0;
  uint32_t bits = 0;
  uint32_t masks[4] = {0, 0, 0, 0};
  uint32_t caps2 = 0;
  std::vector<uint8_t> data;
};
std::vector<uint8_t> BuildDds(const DdsLayout& layout);
uint32_t FourCC(const char (&s)[5]);

// JPEG through libjpeg. `samples` holds width * height * components bytes; components 1 (grey),
// 3 (RGB) or 4 (CMYK, written with an Adobe marker when `adobe`).
struct JpegLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  int components = 3;
  std::vector<uint8_t> samples;
  int quality = 100;
  bool progressive = false;
  bool adobe = true;
  bool subsample = false;  // 2x2 chroma subsampling instead of none
};
std::vector<uint8_t> EncodeJpeg(const JpegLayout& layout);

// PNG through libpng. `rows` are the packed rows as PNG stores them (16-bit samples big-endian).
struct PngLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  int colorType = 2;  // PNG_COLOR_TYPE_*
  int bitDepth = 8;
  bool interlace = false;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t> palette;    // R,G,B triples
  std::vector<uint8_t> trnsAlpha;  // palette alphas
  bool trnsKey = false;
  uint16_t key[3] = {0, 0, 0};  // grey in key[0], or R,G,B
};
std::vector<uint8_t> EncodePng(const PngLayout& layout);

// A w x h 8-bit grey PNG of 1024 x 1024 squares, pixel (x, y) being LargeGreyValue(x, y), written
// straight from a zlib stream a row at a time: 16384 x 16384 takes about a second and 1 MB.
std::vector<uint8_t> LargeGreyPng(uint32_t width, uint32_t height);
inline uint8_t LargeGreyValue(uint32_t x, uint32_t y) {
  return uint8_t((x >> 10) + (y >> 10) * 16 + 1);
}

// A device (recording backend) whose largest texture is maxWidth x maxHeight.
std::shared_ptr<d3d::Device> DeviceWithLargestTexture(uint32_t maxWidth, uint32_t maxHeight);

// The file with the size in its PNG IHDR chunk (CRC recomputed) or its JPEG SOF marker replaced.
std::vector<uint8_t> WithPngSize(std::vector<uint8_t> png, uint32_t width, uint32_t height);
std::vector<uint8_t> WithJpegSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height);
// Offset of the first JPEG marker `code` (the byte after 0xFF), or 0 when there is none.
size_t FindJpegMarker(const std::vector<uint8_t>& jpeg, uint8_t code);

// A valid file of each decoder variant, for sweeps over all of them. `required` is the length of
// the prefix the decoder needs (DDS ignores lower levels; BMP accepts a last row without its
// padding); shorter prefixes must be refused, longer ones give the same image.
struct Fixture {
  std::string name;
  std::vector<uint8_t> bytes;
  size_t required;
};
std::vector<Fixture> AllFixtures();
// The bytes of the named fixture (empty when there is none).
std::vector<uint8_t> FixtureBytes(const std::string& name);

}  // namespace wz::test
