// BMP decoding through the public decoder: every depth and header, both row orders, RLE, and the
// refusals with their reasons.
#include <gtest/gtest.h>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"
#include "support/memory_ceiling.h"

namespace wz::d3dx {
namespace {

using test::BmpLayout;
using test::DecodePixels;
using test::Px;

ImageError Refusal(const std::vector<uint8_t>& bytes) {
  DecodedImage image;
  ImageError e = DecodeImage(bytes, image);
  EXPECT_TRUE(image.pixels.empty());
  return e;
}

constexpr Px kBlack{0, 0, 0, 255};

struct RowCase {
  const char* name;
  BmpLayout layout;
  std::vector<Px> expected;  // top row first
  D3DFORMAT format;
};

std::vector<RowCase> RowCases() {
  std::vector<RowCase> cases;
  // 24-bit, 3 x 2, bottom-up: the first stored row is the bottom one; rows padded to 12 bytes.
  BmpLayout s24;
  s24.width = 3;
  s24.height = 2;
  s24.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0};
  std::vector<Px> rows24 = {{11, 12, 13, 255}, {14, 15, 16, 255}, {17, 18, 19, 255},
                            {1, 2, 3, 255},    {4, 5, 6, 255},    {7, 8, 9, 255}};
  cases.push_back({"24-bit bottom-up", s24, rows24, D3DFMT_X8R8G8B8});

  BmpLayout top = s24;
  top.height = -2;
  std::vector<Px> rowsTop(rows24.begin() + 3, rows24.end());
  rowsTop.insert(rowsTop.end(), rows24.begin(), rows24.begin() + 3);
  cases.push_back({"24-bit top-down", top, rowsTop, D3DFMT_X8R8G8B8});

  BmpLayout v4 = s24;
  v4.headerSize = 108;
  cases.push_back({"24-bit V4 header", v4, rows24, D3DFMT_X8R8G8B8});

  // 32-bit BI_RGB: the fourth byte is reserved, alpha is opaque.
  BmpLayout s32;
  s32.width = 2;
  s32.height = -1;
  s32.bpp = 32;
  s32.pixels = {1, 2, 3, 0, 4, 5, 6, 77};
  cases.push_back({"32-bit plain", s32, {{1, 2, 3, 255}, {4, 5, 6, 255}}, D3DFMT_X8R8G8B8});

  // 32-bit with a V5 header and bit fields in another order, alpha included.
  BmpLayout v5 = s32;
  v5.headerSize = 124;
  v5.compression = 3;
  v5.masks[0] = 0x000000FF;
  v5.masks[1] = 0x0000FF00;
  v5.masks[2] = 0x00FF0000;
  v5.masks[3] = 0xFF000000;
  cases.push_back({"32-bit V5 bit fields", v5, {{3, 2, 1, 0}, {6, 5, 4, 77}}, D3DFMT_A8R8G8B8});

  // BI_RGB with a V3 header whose alpha mask is the reserved byte.
  BmpLayout v3 = s32;
  v3.headerSize = 56;
  v3.masks[3] = 0xFF000000;
  cases.push_back({"32-bit V3 alpha", v3, {{1, 2, 3, 0}, {4, 5, 6, 77}}, D3DFMT_A8R8G8B8});

  // BI_ALPHABITFIELDS after a 40-byte header: four masks follow it.
  BmpLayout abf = s32;
  abf.compression = 6;
  abf.maskWords = 4;
  abf.masks[0] = 0xFF0000;
  abf.masks[1] = 0xFF00;
  abf.masks[2] = 0xFF;
  abf.masks[3] = 0xFF000000;
  cases.push_back({"32-bit alpha bit fields", abf, {{1, 2, 3, 0}, {4, 5, 6, 77}}, D3DFMT_A8R8G8B8});

  // 16-bit default X1R5G5B5: 5-bit values 0, 16, 31 widen to 0, 132, 255; bit 15 ignored.
  BmpLayout s16;
  s16.width = 2;
  s16.height = 1;
  s16.bpp = 16;
  s16.pixels = {0x1F, 0x80 | 0x40, 0xE0, 0x03};  // 0xC01F: R16 B31 + bit 15; 0x03E0: G31
  cases.push_back({"16-bit 555", s16, {{255, 0, 132, 255}, {0, 255, 0, 255}}, D3DFMT_X8R8G8B8});

  BmpLayout s565 = s16;
  s565.compression = 3;
  s565.maskWords = 3;
  s565.masks[0] = 0xF800;
  s565.masks[1] = 0x07E0;
  s565.masks[2] = 0x001F;
  s565.pixels = {0x00, 0x04, 0x1F, 0xF8};  // 0x0400: G32 of 63; 0xF81F: R31 B31
  cases.push_back({"16-bit 565", s565, {{0, 130, 0, 255}, {255, 0, 255, 255}}, D3DFMT_X8R8G8B8});

  BmpLayout a1 = s16;
  a1.headerSize = 56;
  a1.masks[3] = 0x8000;
  cases.push_back({"16-bit 1555", a1, {{255, 0, 132, 255}, {0, 255, 0, 0}}, D3DFMT_A8R8G8B8});

  // Palettes: 8, 4 and 1-bit indices, rows padded to 4 bytes.
  BmpLayout p8;
  p8.width = 3;
  p8.height = 1;
  p8.bpp = 8;
  p8.palette = {10, 20, 30, 0, 40, 50, 60, 99, 70, 80, 90, 0};
  p8.colorsUsed = 3;
  p8.pixels = {2, 0, 1, 0};
  cases.push_back({"8-bit palette",
                   p8,
                   {{70, 80, 90, 255}, {10, 20, 30, 255}, {40, 50, 60, 255}},
                   D3DFMT_X8R8G8B8});

  // Indices past a short palette are opaque black.
  BmpLayout shortPalette = p8;
  shortPalette.pixels = {2, 3, 255, 0};
  cases.push_back(
      {"index past palette", shortPalette, {{70, 80, 90, 255}, kBlack, kBlack}, D3DFMT_X8R8G8B8});

  // biClrUsed far larger than 2^bpp: only the entries before the pixel data count.
  BmpLayout lying = p8;
  lying.colorsUsed = 0xFFFFFFFF;
  lying.pixels = {2, 3, 0, 0};
  cases.push_back({"lying palette count",
                   lying,
                   {{70, 80, 90, 255}, kBlack, {10, 20, 30, 255}},
                   D3DFMT_X8R8G8B8});

  // A gap between the palette and the pixels: the pixel offset is trusted.
  BmpLayout gap = p8;
  gap.gap = 10;
  cases.push_back({"gap before pixels",
                   gap,
                   {{70, 80, 90, 255}, {10, 20, 30, 255}, {40, 50, 60, 255}},
                   D3DFMT_X8R8G8B8});

  BmpLayout p4;
  p4.width = 3;
  p4.height = 1;
  p4.bpp = 4;
  p4.palette.assign(16 * 4, 0);
  p4.palette[5 * 4] = 50;
  p4.palette[15 * 4 + 2] = 150;
  p4.pixels = {0x5F, 0x00, 0, 0};
  cases.push_back(
      {"4-bit palette", p4, {{50, 0, 0, 255}, {0, 0, 150, 255}, {0, 0, 0, 255}}, D3DFMT_X8R8G8B8});

  BmpLayout p1;
  p1.width = 10;
  p1.height = 1;
  p1.bpp = 1;
  p1.palette = {1, 1, 1, 0, 200, 200, 200, 0};
  p1.pixels = {0xA5, 0x40, 0, 0};  // 1010 0101 01
  std::vector<Px> bits;
  for (int b : {1, 0, 1, 0, 0, 1, 0, 1, 0, 1})
    bits.push_back(b ? Px{200, 200, 200, 255} : Px{1, 1, 1, 255});
  cases.push_back({"1-bit palette", p1, bits, D3DFMT_X8R8G8B8});

  // OS/2 1.x header: 16-bit sizes and 3-byte palette entries.
  BmpLayout os2;
  os2.headerSize = 12;
  os2.width = 2;
  os2.height = 2;
  os2.bpp = 8;
  os2.palette.assign(256 * 3, 0);
  os2.palette[3] = 9;
  os2.palette[4] = 8;
  os2.palette[5] = 7;
  os2.pixels = {1, 0, 0, 0, 0, 1, 0, 0};
  cases.push_back({"OS/2 1.x",
                   os2,
                   {{0, 0, 0, 255}, {9, 8, 7, 255}, {9, 8, 7, 255}, {0, 0, 0, 255}},
                   D3DFMT_X8R8G8B8});

  // OS/2 2.x header: 64 bytes, no masks inside.
  BmpLayout os22 = p8;
  os22.headerSize = 64;
  cases.push_back({"OS/2 2.x",
                   os22,
                   {{70, 80, 90, 255}, {10, 20, 30, 255}, {40, 50, 60, 255}},
                   D3DFMT_X8R8G8B8});
  return cases;
}

TEST(BmpDecode, DecodesEveryDepthAndHeader) {
  for (const RowCase& c : RowCases()) {
    SCOPED_TRACE(c.name);
    D3DXIMAGE_INFO info{};
    std::vector<Px> px = DecodePixels(test::BuildBmp(c.layout), &info);
    ASSERT_EQ(px.size(), c.expected.size());
    for (size_t i = 0; i < px.size(); ++i) {
      EXPECT_EQ(px[i], c.expected[i]) << "pixel " << i << ": " << test::ToString(px[i]);
    }
    EXPECT_EQ(info.Format, c.format);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
  }
}

BmpLayout Rle8(uint32_t width, int32_t height, std::vector<uint8_t> data) {
  BmpLayout s;
  s.width = int32_t(width);
  s.height = height;
  s.bpp = 8;
  s.compression = 1;
  s.colorsUsed = 4;
  s.palette = {5, 5, 5, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 3, 0};
  s.pixels = std::move(data);
  return s;
}

TEST(BmpDecode, Rle8RunsLiteralsDeltaAndSkippedPixels) {
  // 4 x 3, rows from the bottom: run of 2 x index 1, end of line; literal 1 2 3 (padded), delta
  // (0, 1), end of bitmap. Skipped pixels take palette entry 0.
  auto px =
      DecodePixels(test::BuildBmp(Rle8(4, 3, {2, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 0, 1, 0, 1})));
  const Px e0{5, 5, 5, 255}, e1{1, 0, 0, 255}, e2{0, 2, 0, 255}, e3{0, 0, 3, 255};
  std::vector<Px> expected = {e0, e0, e0, e0,   // top row: only reached by the delta
                              e1, e2, e3, e0,   // middle row
                              e1, e1, e0, e0};  // bottom row
  EXPECT_EQ(px, expected);
}

TEST(BmpDecode, Rle4AlternatesNibbles) {
  BmpLayout s = Rle8(7, 1, {3, 0x12, 0, 4, 0x30, 0x21, 0, 1});
  s.bpp = 4;
  s.compression = 2;
  auto px = DecodePixels(test::BuildBmp(s));
  const Px e0{5, 5, 5, 255}, e1{1, 0, 0, 255}, e2{0, 2, 0, 255}, e3{0, 0, 3, 255};
  EXPECT_EQ(px, (std::vector<Px>{e1, e2, e1, e3, e0, e2, e1}));
}

// An RLE stream reaches at most 255 rows per 4-byte delta, one per end of line: a picture whose
// rows lie far beyond what its data could reach is refused before any pixel exists, while an
// early end of bitmap over a small remainder, and deltas that reach a tall picture, still decode.
TEST(BmpDecode, RlePictureIsBoundedByTheRowsItsDataCanReach) {
  auto deltas = [](int n) {
    std::vector<uint8_t> d;
    for (int i = 0; i < n; ++i)
      d.insert(d.end(), {0, 2, 0, 255});
    d.insert(d.end(), {1, 1, 0, 1});  // a run of one pixel, end of bitmap
    return d;
  };
  struct Case {
    const char* name;
    int32_t width, height;
    bool rle4;
    std::vector<uint8_t> data;
    ImageError expected;
  } cases[] = {
      {"16384 x 16384 from an end of bitmap",
       16384,
       16384,
       false,
       {0, 0, 0, 1},
       ImageError::kTooShort},
      {"RLE4 too", 16384, 16384, true, {2, 0x11, 0, 1}, ImageError::kTooShort},
      {"more than a megapixel past what 32 deltas reach", 16384, 32 * 255 + 2 + 65, false,
       deltas(32), ImageError::kTooShort},
      {"rows 32 deltas reach", 16, 32 * 255 + 2, false, deltas(32), ImageError::kNone},
      {"blank 127 x 64", 127, 64, false, {0, 1}, ImageError::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpLayout s = Rle8(1, 1, c.data);
    s.width = c.width;
    s.height = c.height;
    if (c.rle4) s.bpp = 4, s.compression = 2;
    const auto bytes = test::BuildBmp(s);
    wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(bytes.size()));
    DecodedImage image;
    ASSERT_EQ(DecodeImage(bytes, image), c.expected);
    EXPECT_FALSE(ceiling.Reached());
    if (c.expected != ImageError::kNone) continue;
    // The top-left pixel is never reached and keeps palette entry 0.
    EXPECT_EQ(test::PixelAt(image.pixels, uint32_t(c.width), 0, 0), (Px{5, 5, 5, 255}));
  }
}

TEST(BmpDecode, RefusesDamagedHeadersAndData) {
  BmpLayout good;
  good.width = 2;
  good.height = 2;
  good.pixels.assign(16, 0);
  auto with = [&](auto change) {
    BmpLayout s = good;
    change(s);
    return test::BuildBmp(s);
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ImageError reason;
  };
  std::vector<uint8_t> offsetPastEnd = test::BuildBmp(good);
  test::PutU32(offsetPastEnd, 10, uint32_t(offsetPastEnd.size() + 1));
  std::vector<uint8_t> offsetInHeader = test::BuildBmp(good);
  test::PutU32(offsetInHeader, 10, 40);
  const Case cases[] = {
      {"header size 41", with([](BmpLayout& s) { s.headerSize = 41; }), ImageError::kBadHeader},
      {"two planes", with([](BmpLayout& s) { s.planes = 2; }), ImageError::kBadHeader},
      {"zero width", with([](BmpLayout& s) { s.width = 0; }), ImageError::kBadHeader},
      {"zero height", with([](BmpLayout& s) { s.height = 0; }), ImageError::kBadHeader},
      {"negative width", with([](BmpLayout& s) { s.width = -2; }), ImageError::kBadHeader},
      {"2-bit", with([](BmpLayout& s) { s.bpp = 2; }), ImageError::kUnsupported},
      {"64-bit", with([](BmpLayout& s) { s.bpp = 64; }), ImageError::kUnsupported},
      {"JPEG payload", with([](BmpLayout& s) { s.compression = 4; }), ImageError::kUnsupported},
      {"PNG payload", with([](BmpLayout& s) { s.compression = 5; }), ImageError::kUnsupported},
      {"RLE8 at 24 bits", with([](BmpLayout& s) { s.compression = 1; }), ImageError::kUnsupported},
      {"OS/2 Huffman", with([](BmpLayout& s) {
         s.headerSize = 64;
         s.bpp = 16;
         s.compression = 3;
       }),
       ImageError::kUnsupported},
      {"top-down RLE", test::BuildBmp(Rle8(2, -2, {0, 1})), ImageError::kBadHeader},
      {"mask with a hole", with([](BmpLayout& s) {
         s.bpp = 16;
         s.compression = 3;
         s.maskWords = 3;
         s.masks[0] = 0xF00F;
       }),
       ImageError::kBadHeader},
      {"mask past 16 bits", with([](BmpLayout& s) {
         s.bpp = 16;
         s.compression = 3;
         s.maskWords = 3;
         s.masks[0] = 0x1F0000;
       }),
       ImageError::kBadHeader},
      {"pixel offset inside the header", offsetInHeader, ImageError::kBadHeader},
      {"pixel offset past the end", offsetPastEnd, ImageError::kTooShort},
      {"rows missing", with([](BmpLayout& s) { s.pixels.resize(6); }), ImageError::kTooShort},
      {"palette cut", with([](BmpLayout& s) {
         s.bpp = 8;
         s.pixels.clear();
         s.palette.assign(8, 0);
         s.offBits = 14 + 40 + 1024;  // announces a full palette that is not there
       }),
       ImageError::kTooShort},
      // RLE damage: a run past the row end, a literal past it, a delta out of the image, rows
      // past the top, no end-of-bitmap code, data ending inside a literal.
      {"run overrun", test::BuildBmp(Rle8(2, 2, {3, 1, 0, 1})), ImageError::kCorrupt},
      {"literal overrun", test::BuildBmp(Rle8(2, 2, {0, 3, 1, 1, 1, 0, 0, 1})),
       ImageError::kCorrupt},
      {"delta right of the image", test::BuildBmp(Rle8(2, 2, {0, 2, 3, 0, 0, 1})),
       ImageError::kCorrupt},
      {"delta above the image", test::BuildBmp(Rle8(2, 2, {0, 2, 0, 3, 0, 1})),
       ImageError::kCorrupt},
      {"rows past the top", test::BuildBmp(Rle8(2, 1, {0, 0, 0, 0, 1, 1, 0, 1})),
       ImageError::kCorrupt},
      {"no end of bitmap", test::BuildBmp(Rle8(2, 1, {2, 1, 0, 0})), ImageError::kTooShort},
      {"literal cut", test::BuildBmp(Rle8(4, 1, {0, 4, 1, 2})), ImageError::kTooShort},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Refusal(c.bytes), c.reason) << c.name;
  }
}

TEST(BmpDecode, LastRowMayLackItsPadding) {
  BmpLayout s;
  s.width = 1;
  s.height = 2;
  s.pixels = {1, 2, 3, 0, 4, 5, 6};  // second stored row (the top one) without its pad byte
  auto px = DecodePixels(test::BuildBmp(s));
  EXPECT_EQ(px, (std::vector<Px>{{4, 5, 6, 255}, {1, 2, 3, 255}}));
}

}  // namespace
}  // namespace wz::d3dx
