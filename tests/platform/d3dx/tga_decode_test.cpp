// TGA decoding through the public decoder: image types, depths, origins, colour maps, RLE, and
// the refusals with their reasons.
#include <gtest/gtest.h>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"

namespace wz::d3dx {
namespace {

using test::DecodePixels;
using test::Px;
using test::TgaLayout;

// A 2 x 2 true-colour image stored as a, b (first stored row), c, d (second stored row).
TgaLayout Square(uint8_t descriptor) {
  TgaLayout s;
  s.width = 2;
  s.height = 2;
  s.descriptor = descriptor;
  s.data = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  return s;
}

TEST(TgaDecode, HonoursAllFourOrigins) {
  const Px a{1, 1, 1, 255}, b{2, 2, 2, 255}, c{3, 3, 3, 255}, d{4, 4, 4, 255};
  struct Case {
    const char* name;
    uint8_t descriptor;
    std::vector<Px> expected;  // top row first
  } cases[] = {
      {"bottom-left", 0x00, {c, d, a, b}},
      {"bottom-right", 0x10, {d, c, b, a}},
      {"top-left", 0x20, {a, b, c, d}},
      {"top-right", 0x30, {b, a, d, c}},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(DecodePixels(test::BuildTga(Square(k.descriptor))), k.expected) << k.name;
  }
}

TEST(TgaDecode, DecodesEachPixelKind) {
  struct Case {
    const char* name;
    TgaLayout layout;
    std::vector<Px> expected;
    D3DFORMAT format;
  };
  auto make = [](uint8_t type, uint8_t depth, uint8_t descriptor, uint16_t width,
                 std::vector<uint8_t> data) {
    TgaLayout s;
    s.imageType = type;
    s.depth = depth;
    s.descriptor = descriptor | 0x20;  // top-left: stored order is display order
    s.width = width;
    s.height = 1;
    s.data = std::move(data);
    return s;
  };
  // 16-bit pixels 0xFC00 (alpha bit, red 31) and 0x0210 (green 16, blue 16).
  std::vector<uint8_t> two16 = {0x00, 0xFC, 0x10, 0x02};
  TgaLayout mapped = make(1, 8, 0, 4, {5, 6, 4, 200});
  mapped.hasMap = true;
  mapped.mapFirst = 5;
  mapped.mapLength = 2;
  mapped.mapBits = 32;
  mapped.map = {10, 20, 30, 40, 50, 60, 70, 80};
  TgaLayout mapped16 = make(1, 16, 1, 2, {0x01, 0x01, 0x00, 0x01});  // indices 257, 256
  mapped16.hasMap = true;
  mapped16.mapFirst = 256;
  mapped16.mapLength = 2;
  mapped16.mapBits = 16;
  mapped16.map = {0x00, 0xFC, 0x1F, 0x00};
  TgaLayout withId = make(2, 24, 0, 1, {7, 8, 9});
  withId.id = {'n', 'a', 'm', 'e'};
  TgaLayout unusedMap = make(2, 24, 0, 1, {7, 8, 9});  // true colour with a map to skip
  unusedMap.hasMap = true;
  unusedMap.mapLength = 3;
  unusedMap.mapBits = 15;
  unusedMap.map.assign(6, 0xEE);
  const Case cases[] = {
      {"24-bit", make(2, 24, 0, 1, {7, 8, 9}), {{7, 8, 9, 255}}, D3DFMT_X8R8G8B8},
      {"32-bit", make(2, 32, 8, 1, {7, 8, 9, 10}), {{7, 8, 9, 10}}, D3DFMT_A8R8G8B8},
      {"32-bit, no attribute bits",
       make(2, 32, 0, 1, {7, 8, 9, 10}),
       {{7, 8, 9, 10}},
       D3DFMT_A8R8G8B8},
      {"16-bit with alpha bit",
       make(2, 16, 1, 2, two16),
       {{0, 0, 255, 255}, {132, 132, 0, 0}},
       D3DFMT_A8R8G8B8},
      {"16-bit without attribute bits",
       make(2, 16, 0, 2, two16),
       {{0, 0, 255, 255}, {132, 132, 0, 255}},
       D3DFMT_X8R8G8B8},
      {"15-bit", make(2, 15, 1, 2, two16), {{0, 0, 255, 255}, {132, 132, 0, 255}}, D3DFMT_X8R8G8B8},
      {"8-bit grey",
       make(3, 8, 0, 2, {0, 200}),
       {{0, 0, 0, 255}, {200, 200, 200, 255}},
       D3DFMT_X8R8G8B8},
      {"16-bit grey and alpha", make(3, 16, 8, 1, {90, 30}), {{90, 90, 90, 30}}, D3DFMT_A8R8G8B8},
      // Index 4 lies below the first entry and 200 past the map: opaque black.
      {"colour map",
       mapped,
       {{10, 20, 30, 40}, {50, 60, 70, 80}, {0, 0, 0, 255}, {0, 0, 0, 255}},
       D3DFMT_A8R8G8B8},
      {"16-bit indices into a 16-bit map",
       mapped16,
       {{255, 0, 0, 0}, {0, 0, 255, 255}},
       D3DFMT_A8R8G8B8},
      {"id field", withId, {{7, 8, 9, 255}}, D3DFMT_X8R8G8B8},
      {"unused colour map", unusedMap, {{7, 8, 9, 255}}, D3DFMT_X8R8G8B8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(DecodePixels(test::BuildTga(c.layout), &info), c.expected);
    EXPECT_EQ(info.Format, c.format);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_TGA);
  }
}

TEST(TgaDecode, RlePacketsCrossRowsAndStopAtTheImageEnd) {
  TgaLayout s;
  s.imageType = 10;
  s.width = 3;
  s.height = 2;
  s.descriptor = 0x20;
  // run of 4 (crosses into the second row), then a run of 5 of which only 2 pixels fit
  s.data = {0x83, 1, 2, 3, 0x84, 4, 5, 6};
  const Px a{1, 2, 3, 255}, b{4, 5, 6, 255};
  EXPECT_EQ(DecodePixels(test::BuildTga(s)), (std::vector<Px>{a, a, a, a, b, b}));
  // A raw packet of 4 after a run of 2, bottom-up: stored a a b | c b d.
  s.descriptor = 0;
  s.data = {0x81, 1, 2, 3, 0x03, 4, 5, 6, 7, 8, 9, 4, 5, 6, 9, 9, 9};
  const Px c{7, 8, 9, 255}, d{9, 9, 9, 255};
  EXPECT_EQ(DecodePixels(test::BuildTga(s)), (std::vector<Px>{c, b, d, a, a, b}));
}

TEST(TgaDecode, GreyAndMappedRle) {
  TgaLayout grey;
  grey.imageType = 11;
  grey.depth = 8;
  grey.width = 4;
  grey.height = 1;
  grey.data = {0x81, 50, 0x01, 60, 70};
  EXPECT_EQ(DecodePixels(test::BuildTga(grey)),
            (std::vector<Px>{
                {50, 50, 50, 255}, {50, 50, 50, 255}, {60, 60, 60, 255}, {70, 70, 70, 255}}));
  TgaLayout mapped = grey;
  mapped.imageType = 9;
  mapped.hasMap = true;
  mapped.mapLength = 2;
  mapped.mapBits = 24;
  mapped.map = {1, 2, 3, 4, 5, 6};
  mapped.data = {0x82, 1, 0x00, 0};
  EXPECT_EQ(DecodePixels(test::BuildTga(mapped)),
            (std::vector<Px>{{4, 5, 6, 255}, {4, 5, 6, 255}, {4, 5, 6, 255}, {1, 2, 3, 255}}));
}

TEST(TgaDecode, RefusesDamagedFiles) {
  auto with = [](auto change) {
    TgaLayout s = Square(0);
    change(s);
    return test::BuildTga(s);
  };
  TgaLayout bigRle;
  bigRle.imageType = 10;
  bigRle.width = 16000;
  bigRle.height = 16000;
  bigRle.data = {0xFF, 1, 2, 3, 0xFF, 1, 2, 3};  // 256 of 256 million pixels
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ImageError reason;
  } cases[] = {
      {"interleaved rows", with([](TgaLayout& s) { s.descriptor = 0x40; }),
       ImageError::kUnknownFormat},
      {"image type 4", with([](TgaLayout& s) { s.imageType = 4; }), ImageError::kUnknownFormat},
      {"depth 20", with([](TgaLayout& s) { s.depth = 20; }), ImageError::kUnknownFormat},
      {"colour-mapped without a map", with([](TgaLayout& s) {
         s.imageType = 1;
         s.depth = 8;
       }),
       ImageError::kUnknownFormat},
      {"zero width", with([](TgaLayout& s) { s.width = 0; }), ImageError::kBadHeader},
      {"pixels missing", with([](TgaLayout& s) { s.data.pop_back(); }), ImageError::kTooShort},
      {"colour map cut", with([](TgaLayout& s) {
         s.imageType = 1;
         s.depth = 8;
         s.hasMap = true;
         s.mapLength = 200;
         s.mapBits = 24;
         s.map.assign(30, 0);
         s.data.clear();
       }),
       ImageError::kTooShort},
      {"RLE data ends early", with([](TgaLayout& s) {
         s.imageType = 10;
         s.data = {0x82, 1, 2, 3, 0x00};
       }),
       ImageError::kTooShort},
      // Refused before the 1 GiB pixel buffer is allocated: 8 bytes cannot hold enough packets.
      {"RLE too short for the size", test::BuildTga(bigRle), ImageError::kTooShort},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    EXPECT_EQ(DecodeImage(c.bytes, image), c.reason) << c.name;
    EXPECT_TRUE(image.pixels.empty()) << c.name;
  }
}

}  // namespace
}  // namespace wz::d3dx
