// DDS decoding through the public decoder: uncompressed masks, DXT blocks, the info record of
// mip chains, cube maps and volumes, and the refusals with their reasons.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"

namespace wz::d3dx {
namespace {

using test::DdsLayout;
using test::Px;

DecodedImage DecodeOk(const std::vector<uint8_t>& bytes) {
  DecodedImage image;
  ImageError e = DecodeImage(bytes, image);
  EXPECT_EQ(e, ImageError::kNone) << ImageErrorText(e);
  return image;
}

DdsLayout Masked(uint32_t flags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a,
                 std::vector<uint8_t> data) {
  DdsLayout s;
  s.width = uint32_t(data.size() / (bits / 8));
  s.height = 1;
  s.pfFlags = flags;
  s.bits = bits;
  s.masks[0] = r;
  s.masks[1] = g;
  s.masks[2] = b;
  s.masks[3] = a;
  s.data = std::move(data);
  return s;
}

TEST(DdsDecode, UncompressedFormatsByMask) {
  constexpr uint32_t kRgb = test::kDdsRgb;
  constexpr uint32_t kRgba = test::kDdsRgb | test::kDdsAlphaPixels;
  constexpr uint32_t kLum = test::kDdsLuminance;
  struct Case {
    const char* name;
    DdsLayout layout;
    std::vector<Px> expected;
    D3DFORMAT format;
  } cases[] = {
      {"A8R8G8B8",
       Masked(kRgba, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, {1, 2, 3, 4}),
       {{1, 2, 3, 4}},
       D3DFMT_A8R8G8B8},
      // The alpha mask counts only with the alpha-pixels flag.
      {"X8R8G8B8",
       Masked(kRgb, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, {1, 2, 3, 4}),
       {{1, 2, 3, 255}},
       D3DFMT_X8R8G8B8},
      {"A8B8G8R8",
       Masked(kRgba, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, {1, 2, 3, 4}),
       {{3, 2, 1, 4}},
       D3DFMT_A8B8G8R8},
      {"X8B8G8R8",
       Masked(kRgb, 32, 0xFF, 0xFF00, 0xFF0000, 0, {1, 2, 3, 4}),
       {{3, 2, 1, 255}},
       D3DFMT_X8B8G8R8},
      {"R8G8B8",
       Masked(kRgb, 24, 0xFF0000, 0xFF00, 0xFF, 0, {1, 2, 3}),
       {{1, 2, 3, 255}},
       D3DFMT_R8G8B8},
      {"R5G6B5",
       Masked(kRgb, 16, 0xF800, 0x07E0, 0x001F, 0, {0x1F, 0xF8, 0x00, 0x04}),
       {{255, 0, 255, 255}, {0, 130, 0, 255}},
       D3DFMT_R5G6B5},
      {"A1R5G5B5",
       Masked(kRgba, 16, 0x7C00, 0x03E0, 0x001F, 0x8000, {0x00, 0x80, 0x1F, 0x00}),
       {{0, 0, 0, 255}, {255, 0, 0, 0}},
       D3DFMT_A1R5G5B5},
      {"X1R5G5B5",
       Masked(kRgb, 16, 0x7C00, 0x03E0, 0x001F, 0, {0x00, 0x80}),
       {{0, 0, 0, 255}},
       D3DFMT_X1R5G5B5},
      {"A4R4G4B4",
       Masked(kRgba, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, {0x21, 0x43}),
       {{17, 34, 51, 68}},
       D3DFMT_A4R4G4B4},
      {"X4R4G4B4",
       Masked(kRgb, 16, 0x0F00, 0x00F0, 0x000F, 0, {0x21, 0x43}),
       {{17, 34, 51, 255}},
       D3DFMT_X4R4G4B4},
      {"L8", Masked(kLum, 8, 0xFF, 0, 0, 0, {77}), {{77, 77, 77, 255}}, D3DFMT_L8},
      {"A8L8",
       Masked(kLum | test::kDdsAlphaPixels, 16, 0xFF, 0, 0, 0xFF00, {77, 99}),
       {{77, 77, 77, 99}},
       D3DFMT_A8L8},
      {"L16", Masked(kLum, 16, 0xFFFF, 0, 0, 0, {0x80, 0x80}), {{128, 128, 128, 255}}, D3DFMT_L16},
      {"A8", Masked(test::kDdsAlpha, 8, 0, 0, 0, 0xFF, {99}), {{0, 0, 0, 99}}, D3DFMT_A8},
      // Masks outside the table are decoded all the same (10-bit channels round to 8 bits).
      {"A2R10G10B10",
       Masked(kRgba, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, {0x00, 0x02, 0xF0, 0xFF}),
       {{128, 0, 255, 255}},
       D3DFMT_A8R8G8B8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedImage image = DecodeOk(test::BuildDds(c.layout));
    ASSERT_EQ(image.pixels.size(), c.expected.size() * 4);
    for (size_t i = 0; i < c.expected.size(); ++i) {
      Px p = test::PixelAt(image.pixels, image.info.Width, uint32_t(i), 0);
      EXPECT_EQ(p, c.expected[i]) << test::ToString(p);
    }
    EXPECT_EQ(image.info.Format, c.format);
  }
}

// DXT colours are allowed one step of rounding per channel.
void ExpectNear(const Px& actual, const Px& expected, const char* what) {
  EXPECT_LE(std::abs(actual.b - expected.b), 1) << what << " " << test::ToString(actual);
  EXPECT_LE(std::abs(actual.g - expected.g), 1) << what << " " << test::ToString(actual);
  EXPECT_LE(std::abs(actual.r - expected.r), 1) << what << " " << test::ToString(actual);
  EXPECT_LE(std::abs(actual.a - expected.a), 1) << what << " " << test::ToString(actual);
}

TEST(DdsDecode, Dxt1FourAndThreeColourBlocks) {
  // Fixture: an 8 x 4 image of two blocks. Left block red/blue with c0 > c1 (four colours);
  // right block blue/red with c0 <= c1 (three colours and transparent black). Every row uses
  // indices 0, 1, 2, 3 on the left and 3, 2, 1, 0 on the right.
  DecodedImage image = DecodeOk(test::FixtureBytes("dds-dxt1"));
  ASSERT_EQ(image.info.Width, 8u);
  const Px red{0, 0, 255, 255}, blue{255, 0, 0, 255};
  const Px left[4] = {red, blue, {85, 0, 170, 255}, {170, 0, 85, 255}};
  const Px right[4] = {{0, 0, 0, 0}, {127, 0, 127, 255}, red, blue};
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 4; ++x) {
      ExpectNear(test::PixelAt(image.pixels, 8, x, y), left[x], "left");
      ExpectNear(test::PixelAt(image.pixels, 8, 4 + x, y), right[x], "right");
    }
  }
}

TEST(DdsDecode, Dxt3AndDxt5Alpha) {
  const std::vector<uint8_t> redBlock = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
  DdsLayout dxt3;
  dxt3.width = 4;
  dxt3.height = 4;
  dxt3.pfFlags = test::kDdsFourCC;
  dxt3.fourCC = test::FourCC("DXT3");
  // explicit 4-bit alphas 0, 1, ... 15 for pixels 0 to 15
  dxt3.data = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  dxt3.data.insert(dxt3.data.end(), redBlock.begin(), redBlock.end());
  DecodedImage image = DecodeOk(test::BuildDds(dxt3));
  EXPECT_EQ(image.info.Format, D3DFMT_DXT3);
  for (uint32_t i = 0; i < 16; ++i) {
    ExpectNear(test::PixelAt(image.pixels, 4, i % 4, i / 4), Px{0, 0, 255, uint8_t(i * 17)},
               "dxt3");
  }
  // DXT2 is read like DXT3 (its colours stay premultiplied).
  dxt3.fourCC = test::FourCC("DXT2");
  DecodedImage dxt2 = DecodeOk(test::BuildDds(dxt3));
  EXPECT_EQ(dxt2.pixels, image.pixels);
  EXPECT_EQ(dxt2.info.Format, D3DFMT_DXT2);

  // DXT5 with alpha0 255 > alpha1 0: eight levels; pixels 0..7 use indices 0..7.
  DdsLayout dxt5 = dxt3;
  dxt5.fourCC = test::FourCC("DXT5");
  dxt5.data = {255, 0, 0x88, 0xC6, 0xFA, 0, 0, 0};
  dxt5.data.insert(dxt5.data.end(), redBlock.begin(), redBlock.end());
  image = DecodeOk(test::BuildDds(dxt5));
  const int eight[8] = {255,         0,           255 * 6 / 7, 255 * 5 / 7,
                        255 * 4 / 7, 255 * 3 / 7, 255 * 2 / 7, 255 / 7};
  for (uint32_t i = 0; i < 8; ++i) {
    Px p = test::PixelAt(image.pixels, 4, i % 4, i / 4);
    EXPECT_LE(std::abs(p.a - eight[i]), 1) << i << " " << test::ToString(p);
  }
  // alpha0 0 <= alpha1 255: six levels plus 0 and 255 at indices 6 and 7.
  dxt5.data[0] = 0;
  dxt5.data[1] = 255;
  image = DecodeOk(test::BuildDds(dxt5));
  const int six[8] = {0, 255, 255 / 5, 255 * 2 / 5, 255 * 3 / 5, 255 * 4 / 5, 0, 255};
  for (uint32_t i = 0; i < 8; ++i) {
    Px p = test::PixelAt(image.pixels, 4, i % 4, i / 4);
    EXPECT_LE(std::abs(p.a - six[i]), 1) << i << " " << test::ToString(p);
  }
}

TEST(DdsDecode, PartialEdgeBlocks) {
  // 5 x 3: two blocks across, one down; only the visible part of each block is kept.
  DdsLayout s;
  s.width = 5;
  s.height = 3;
  s.pfFlags = test::kDdsFourCC;
  s.fourCC = test::FourCC("DXT1");
  s.data = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00,   // all red
            0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55};  // all blue
  DecodedImage image = DecodeOk(test::BuildDds(s));
  ASSERT_EQ(image.pixels.size(), 5u * 3 * 4);
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 5; ++x) {
      ExpectNear(test::PixelAt(image.pixels, 5, x, y),
                 x < 4 ? Px{0, 0, 255, 255} : Px{255, 0, 0, 255}, "edge");
    }
  }
}

TEST(DdsDecode, InfoDescribesTheWholeFile) {
  auto info = [](uint32_t mips, uint32_t caps2, uint32_t depth) {
    DdsLayout s = Masked(test::kDdsLuminance, 8, 0xFF, 0, 0, 0, std::vector<uint8_t>(8, 1));
    s.height = 4;
    s.width = 2;
    s.mipCount = mips;
    s.caps2 = caps2;
    s.depth = depth;
    D3DXIMAGE_INFO i{};
    EXPECT_EQ(ReadImageInfo(test::BuildDds(s), i), ImageError::kNone);
    return i;
  };
  EXPECT_EQ(info(0, 0, 0).MipLevels, 1u);
  EXPECT_EQ(info(3, 0, 0).MipLevels, 3u);
  EXPECT_EQ(info(99, 0, 0).MipLevels, 3u);  // a 2 x 4 chain has 3 levels
  D3DXIMAGE_INFO cube = info(1, 0x200 | 0xFC00, 0);
  EXPECT_EQ(cube.ResourceType, D3DRTYPE_CUBETEXTURE);
  EXPECT_EQ(cube.Depth, 1u);
  D3DXIMAGE_INFO volume = info(0, 0x200000, 16);
  EXPECT_EQ(volume.ResourceType, D3DRTYPE_VOLUMETEXTURE);
  EXPECT_EQ(volume.Depth, 16u);
  EXPECT_EQ(info(99, 0x200000, 16).MipLevels, 5u);  // the depth counts for volumes
  EXPECT_EQ(info(0, 0, 0).ResourceType, D3DRTYPE_TEXTURE);
}

TEST(DdsDecode, RefusesWhatItCannotRead) {
  auto with = [](auto change) {
    DdsLayout s = Masked(test::kDdsRgb, 32, 0xFF0000, 0xFF00, 0xFF, 0, {1, 2, 3, 4});
    change(s);
    return test::BuildDds(s);
  };
  auto fourCC = [&](uint32_t code) {
    return with([code](DdsLayout& s) {
      s.pfFlags = test::kDdsFourCC;
      s.fourCC = code;
      s.data.assign(64, 0);
    });
  };
  std::vector<uint8_t> headerCut = with([](DdsLayout&) {});
  headerCut.resize(100);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ImageError reason;
  } cases[] = {
      {"DX10 header", fourCC(test::FourCC("DX10")), ImageError::kUnsupported},
      {"float format number", fourCC(113), ImageError::kUnsupported},
      {"BC4", fourCC(test::FourCC("ATI1")), ImageError::kUnsupported},
      {"YUV", with([](DdsLayout& s) { s.pfFlags = 0x200; }), ImageError::kUnsupported},
      {"no pixel format flags", with([](DdsLayout& s) { s.pfFlags = 0; }),
       ImageError::kUnsupported},
      {"12-bit pixels", with([](DdsLayout& s) { s.bits = 12; }), ImageError::kUnsupported},
      {"header size 100", with([](DdsLayout& s) { s.headerSize = 100; }), ImageError::kBadHeader},
      {"pixel format size 0", with([](DdsLayout& s) { s.pfSize = 0; }), ImageError::kBadHeader},
      {"mask with a hole", with([](DdsLayout& s) { s.masks[0] = 0xF0F000; }),
       ImageError::kBadHeader},
      {"mask past 24 bits", with([](DdsLayout& s) {
         s.bits = 24;
         s.masks[0] = 0xFF000000;
       }),
       ImageError::kBadHeader},
      {"zero width", with([](DdsLayout& s) { s.width = 0; }), ImageError::kBadHeader},
      {"cube and volume", with([](DdsLayout& s) { s.caps2 = 0x200 | 0xFC00 | 0x200000; }),
       ImageError::kBadHeader},
      {"cube without faces", with([](DdsLayout& s) { s.caps2 = 0x200; }), ImageError::kBadHeader},
      {"deep volume", with([](DdsLayout& s) {
         s.caps2 = 0x200000;
         s.depth = 100000;
       }),
       ImageError::kTooLarge},
      {"pixels cut", with([](DdsLayout& s) { s.data.pop_back(); }), ImageError::kTooShort},
      {"header cut", headerCut, ImageError::kTooShort},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    EXPECT_EQ(DecodeImage(c.bytes, image), c.reason) << c.name;
  }
}

}  // namespace
}  // namespace wz::d3dx
