// PNG decoding through the public decoder, on files made with libpng's encoder: every colour type
// and bit depth, transparency, interlacing, and damaged files.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"

namespace wz::d3dx {
namespace {

using test::PngLayout;
using test::Px;

PngLayout Layout(int colorType, int depth, uint32_t width, std::vector<uint8_t> row) {
  PngLayout s;
  s.width = width;
  s.height = 1;
  s.colorType = colorType;
  s.bitDepth = depth;
  s.rows = {std::move(row)};
  return s;
}

TEST(PngDecode, EveryColourTypeAndDepth) {
  PngLayout palette = Layout(PNG_COLOR_TYPE_PALETTE, 2, 4, {0b00011011});
  palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};  // 3 entries: index 3 is past them
  PngLayout paletteAlpha = Layout(PNG_COLOR_TYPE_PALETTE, 8, 3, {0, 1, 2});
  paletteAlpha.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  paletteAlpha.trnsAlpha = {0, 128};  // entry 2 has no alpha: opaque
  PngLayout greyKey = Layout(PNG_COLOR_TYPE_GRAY, 8, 2, {5, 6});
  greyKey.trnsKey = true;
  greyKey.key[0] = 5;
  PngLayout rgbKey = Layout(PNG_COLOR_TYPE_RGB, 8, 2, {1, 2, 3, 1, 2, 4});
  rgbKey.trnsKey = true;
  rgbKey.key[0] = 1;
  rgbKey.key[1] = 2;
  rgbKey.key[2] = 3;
  struct Case {
    const char* name;
    PngLayout layout;
    std::vector<Px> expected;
    D3DFORMAT format;
  } cases[] = {
      {"rgb 8",
       Layout(PNG_COLOR_TYPE_RGB, 8, 2, {1, 2, 3, 4, 5, 6}),
       {{3, 2, 1, 255}, {6, 5, 4, 255}},
       D3DFMT_X8R8G8B8},
      {"rgba 8",
       Layout(PNG_COLOR_TYPE_RGB_ALPHA, 8, 1, {1, 2, 3, 4}),
       {{3, 2, 1, 4}},
       D3DFMT_A8R8G8B8},
      // 16-bit samples v * 257 scale exactly to v.
      {"rgb 16",
       Layout(PNG_COLOR_TYPE_RGB, 16, 1, {0x11, 0x11, 0x80, 0x80, 0xFF, 0xFF}),
       {{255, 128, 17, 255}},
       D3DFMT_X8R8G8B8},
      {"rgba 16",
       Layout(PNG_COLOR_TYPE_RGB_ALPHA, 16, 1, {0x11, 0x11, 0x80, 0x80, 0xFF, 0xFF, 0x22, 0x22}),
       {{255, 128, 17, 34}},
       D3DFMT_A8R8G8B8},
      {"grey 1",
       Layout(PNG_COLOR_TYPE_GRAY, 1, 4, {0b10110000}),
       {{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}},
       D3DFMT_X8R8G8B8},
      {"grey 2",
       Layout(PNG_COLOR_TYPE_GRAY, 2, 4, {0b00011011}),
       {{0, 0, 0, 255}, {85, 85, 85, 255}, {170, 170, 170, 255}, {255, 255, 255, 255}},
       D3DFMT_X8R8G8B8},
      {"grey 4",
       Layout(PNG_COLOR_TYPE_GRAY, 4, 2, {0x3C}),
       {{51, 51, 51, 255}, {204, 204, 204, 255}},
       D3DFMT_X8R8G8B8},
      {"grey 8", Layout(PNG_COLOR_TYPE_GRAY, 8, 1, {77}), {{77, 77, 77, 255}}, D3DFMT_X8R8G8B8},
      {"grey 16",
       Layout(PNG_COLOR_TYPE_GRAY, 16, 2, {0x80, 0x80, 0x11, 0x11}),
       {{128, 128, 128, 255}, {17, 17, 17, 255}},
       D3DFMT_X8R8G8B8},
      {"grey alpha 8",
       Layout(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 1, {10, 20}),
       {{10, 10, 10, 20}},
       D3DFMT_A8R8G8B8},
      {"grey alpha 16",
       Layout(PNG_COLOR_TYPE_GRAY_ALPHA, 16, 1, {0xFF, 0xFF, 0x80, 0x80}),
       {{255, 255, 255, 128}},
       D3DFMT_A8R8G8B8},
      // Indices past the palette come out opaque black.
      {"palette 2",
       palette,
       {{0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255}, {0, 0, 0, 255}},
       D3DFMT_X8R8G8B8},
      {"palette with tRNS",
       paletteAlpha,
       {{30, 20, 10, 0}, {60, 50, 40, 128}, {90, 80, 70, 255}},
       D3DFMT_A8R8G8B8},
      {"grey colour key", greyKey, {{5, 5, 5, 0}, {6, 6, 6, 255}}, D3DFMT_A8R8G8B8},
      {"rgb colour key", rgbKey, {{3, 2, 1, 0}, {4, 2, 1, 255}}, D3DFMT_A8R8G8B8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> png = test::EncodePng(c.layout);
    ASSERT_FALSE(png.empty());
    DecodedImage image;
    ASSERT_EQ(DecodeImage(png, image), ImageError::kNone);
    ASSERT_EQ(image.pixels.size(), c.expected.size() * 4);
    for (size_t i = 0; i < c.expected.size(); ++i) {
      Px p = test::PixelAt(image.pixels, image.info.Width, uint32_t(i), 0);
      EXPECT_EQ(p, c.expected[i]) << "pixel " << i << ": " << test::ToString(p);
    }
    EXPECT_EQ(image.info.Format, c.format);
    EXPECT_EQ(image.info.ImageFileFormat, D3DXIFF_PNG);
  }
}

TEST(PngDecode, SixteenBitKeyComparesFullSamples) {
  // Two colours that become the same 8-bit colour; only the one equal to the key is transparent.
  PngLayout s = Layout(PNG_COLOR_TYPE_RGB, 16, 2,
                       {0x12, 0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0x35, 0x12, 0x34, 0x12, 0x34});
  s.trnsKey = true;
  s.key[0] = s.key[1] = s.key[2] = 0x1234;
  DecodedImage image;
  ASSERT_EQ(DecodeImage(test::EncodePng(s), image), ImageError::kNone);
  Px keyed = test::PixelAt(image.pixels, 2, 0, 0);
  Px kept = test::PixelAt(image.pixels, 2, 1, 0);
  EXPECT_EQ(keyed.a, 0);
  EXPECT_EQ(kept.a, 255);
  EXPECT_EQ(keyed.r, kept.r);
  EXPECT_NEAR(kept.r, 0x12, 1);
}

TEST(PngDecode, InterlacedMatchesPlain) {
  PngLayout s;
  s.width = 13;
  s.height = 11;
  s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (uint32_t y = 0; y < s.height; ++y) {
    std::vector<uint8_t> row;
    for (uint32_t x = 0; x < s.width * 4; ++x)
      row.push_back(uint8_t(x * 13 + y * 71));
    s.rows.push_back(row);
  }
  DecodedImage plain, interlaced;
  ASSERT_EQ(DecodeImage(test::EncodePng(s), plain), ImageError::kNone);
  s.interlace = true;
  ASSERT_EQ(DecodeImage(test::EncodePng(s), interlaced), ImageError::kNone);
  EXPECT_EQ(interlaced.pixels, plain.pixels);
  // and both hold the source samples (R,G,B,A stored, B,G,R,A decoded)
  EXPECT_EQ(test::PixelAt(plain.pixels, 13, 5, 7),
            (Px{s.rows[7][22], s.rows[7][21], s.rows[7][20], s.rows[7][23]}));
}

// Offset of the first chunk of the given type (its length field), or 0.
size_t FindChunk(const std::vector<uint8_t>& png, const char* type) {
  for (size_t at = 8; at + 8 <= png.size();) {
    uint32_t length = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    if (std::memcmp(&png[at + 4], type, 4) == 0) return at;
    at += 12 + size_t{length};
  }
  return 0;
}

void FixCrc(std::vector<uint8_t>& png, size_t chunk) {
  uint32_t length =
      uint32_t(png[chunk]) << 24 | png[chunk + 1] << 16 | png[chunk + 2] << 8 | png[chunk + 3];
  uint32_t crc = uint32_t(crc32(0, &png[chunk + 4], 4 + length));
  for (int i = 0; i < 4; ++i)
    png[chunk + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
}

TEST(PngDecode, RefusesDamagedFiles) {
  const std::vector<uint8_t> good = test::FixtureBytes("png-rgb");
  std::vector<uint8_t> badCrc = good;
  badCrc[17] ^= 1;  // inside IHDR, CRC left as it was
  std::vector<uint8_t> badDepth = good;
  badDepth[24] = 3;
  FixCrc(badDepth, 8);
  std::vector<uint8_t> badZlib = good;
  size_t idat = FindChunk(badZlib, "IDAT");
  ASSERT_GT(idat, 0u);
  for (size_t i = idat + 8; i < idat + 12; ++i)
    badZlib[i] = 0xFF;
  FixCrc(badZlib, idat);
  std::vector<uint8_t> noIdat = good;
  std::memcpy(&noIdat[idat + 4], "abCD", 4);  // an unknown ancillary chunk instead of IDAT
  FixCrc(noIdat, idat);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ImageError reason;
  } cases[] = {
      {"IHDR CRC", badCrc, ImageError::kCorrupt},
      {"bit depth 3", badDepth, ImageError::kCorrupt},
      {"zlib stream", badZlib, ImageError::kCorrupt},
      {"no image data", noIdat, ImageError::kCorrupt},
      {"zero width", test::WithPngSize(good, 0, 2), ImageError::kCorrupt},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    EXPECT_EQ(DecodeImage(c.bytes, image), c.reason) << c.name;
    EXPECT_TRUE(image.pixels.empty()) << c.name;
  }
}

}  // namespace
}  // namespace wz::d3dx
