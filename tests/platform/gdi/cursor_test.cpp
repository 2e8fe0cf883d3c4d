// Cursors: the built-in arrow read the way a device cursor reads a Windows cursor (GetIconInfo,
// GetObjectA, GetDIBits), and colour cursors made from bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi.h"

namespace wz::gdi {
namespace {

// The whole of a bitmap as 32-bit pixels, rows bottom-up (or top-down), as GetDIBits gives them.
std::vector<uint32_t> ReadPixels(HBITMAP bmp, bool bottomUp) {
  BITMAP bm{};
  EXPECT_EQ(GetObjectA(bmp, sizeof bm, &bm), int(sizeof bm));
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = bottomUp ? bm.bmHeight : -bm.bmHeight;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> px(size_t(bm.bmWidth) * bm.bmHeight);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDIBits(screen, bmp, 0, UINT(bm.bmHeight), px.data(), &bi, DIB_RGB_COLORS),
            bm.bmHeight);
  ReleaseDC(nullptr, screen);
  return px;
}

TEST(GdiCursor, ArrowIsAMonochromeCursorWithItsHotSpotAtTheTip) {
  HCURSOR arrow = platform::LoadCursorA(nullptr, platform::IDC_ARROW);
  ASSERT_NE(arrow, nullptr);
  EXPECT_EQ(platform::LoadCursorA(nullptr, platform::IDC_ARROW), arrow) << "shared";
  EXPECT_EQ(platform::LoadCursorA(nullptr, 32513), nullptr) << "no other built-in cursors";

  ICONINFO ii;
  ASSERT_TRUE(GetIconInfo(arrow, &ii));
  EXPECT_FALSE(ii.fIcon);
  EXPECT_EQ(ii.xHotspot, 0u);
  EXPECT_EQ(ii.yHotspot, 0u);
  EXPECT_EQ(ii.hbmColor, nullptr);
  ASSERT_NE(ii.hbmMask, nullptr);
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(ii.hbmMask, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 32);
  EXPECT_EQ(bm.bmHeight, 64);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmWidthBytes, 4);

  std::vector<uint32_t> up = ReadPixels(ii.hbmMask, true), down = ReadPixels(ii.hbmMask, false);
  // Bottom-up rows: scan line s is row 63 - s from the top.
  for (int s = 0; s < 64; ++s) {
    EXPECT_EQ(std::memcmp(&up[size_t(s) * 32], &down[size_t(63 - s) * 32], 32 * 4), 0) << s;
  }
  auto andBit = [&](int x, int y) { return down[size_t(y) * 32 + x] != 0; };
  auto xorBit = [&](int x, int y) { return down[size_t(32 + y) * 32 + x] != 0; };
  EXPECT_FALSE(andBit(0, 0)) << "the tip is opaque";
  EXPECT_FALSE(xorBit(0, 0)) << "and black";
  EXPECT_TRUE(andBit(31, 31)) << "the far corner is transparent";
  EXPECT_FALSE(xorBit(31, 31)) << "without inverting the screen";
  int white = 0, black = 0, inverted = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      if (!andBit(x, y)) (xorBit(x, y) ? white : black)++;
      if (andBit(x, y) && xorBit(x, y)) ++inverted;
    }
  }
  EXPECT_GT(white, 30) << "a white body";
  EXPECT_GT(black, 30) << "inside a black outline";
  EXPECT_EQ(inverted, 0);
  EXPECT_TRUE(DeleteObject(ii.hbmMask)) << "GetIconInfo hands out copies";
  EXPECT_TRUE(DestroyCursor(arrow)) << "a shared cursor stays";
  ASSERT_TRUE(GetIconInfo(arrow, &ii));
  DeleteObject(ii.hbmMask);
}

TEST(GdiCursor, ColourCursorKeepsItsBitmaps) {
  // 4 x 4: the AND mask leaves the left column transparent; the colour image is a gradient.
  const uint8_t andMask[8] = {0x80, 0, 0x80, 0, 0x80, 0, 0x80, 0};
  std::vector<uint32_t> colour(16);
  for (uint32_t i = 0; i < 16; ++i)
    colour[i] = 0x00102030u * (i + 1);
  UniqueBitmap mask(CreateBitmap(4, 4, 1, 1, andMask));
  UniqueBitmap image(CreateBitmap(4, 4, 1, 32, colour.data()));
  ICONINFO in;
  in.xHotspot = 1;
  in.yHotspot = 2;
  in.hbmMask = mask.get();
  in.hbmColor = image.get();
  HCURSOR cursor = CreateIconIndirect(&in);
  ASSERT_NE(cursor, nullptr);

  ICONINFO out;
  ASSERT_TRUE(GetIconInfo(cursor, &out));
  EXPECT_EQ(out.xHotspot, 1u);
  EXPECT_EQ(out.yHotspot, 2u);
  ASSERT_NE(out.hbmColor, nullptr);
  EXPECT_NE(out.hbmColor, image.get());
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(out.hbmMask, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmHeight, 4) << "a colour cursor's mask is its own height";
  ASSERT_EQ(GetObjectA(out.hbmColor, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmBitsPixel, 32);
  std::vector<uint32_t> px = ReadPixels(out.hbmColor, true);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(px[size_t(3 - y) * 4 + x], colour[size_t(y) * 4 + x]) << x << "," << y;
    }
  }
  std::vector<uint32_t> m = ReadPixels(out.hbmMask, false);
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(m[size_t(y) * 4], 0x00FFFFFFu);
    EXPECT_EQ(m[size_t(y) * 4 + 1], 0u);
  }
  EXPECT_TRUE(DeleteObject(out.hbmMask));
  EXPECT_TRUE(DeleteObject(out.hbmColor));
  EXPECT_TRUE(DestroyCursor(cursor));
  EXPECT_FALSE(DestroyCursor(cursor));
  EXPECT_FALSE(GetIconInfo(cursor, &out));
}

TEST(GdiCursor, RefusesBitmapsThatMakeNoCursor) {
  UniqueBitmap oddMask(CreateBitmap(4, 5, 1, 1, nullptr));
  UniqueBitmap mask(CreateBitmap(4, 4, 1, 1, nullptr));
  UniqueBitmap colourMask(CreateBitmap(4, 8, 1, 32, nullptr));
  UniqueBitmap wideImage(CreateBitmap(8, 4, 1, 32, nullptr));
  struct Case {
    HBITMAP mask, color;
  } cases[] = {{oddMask.get(), nullptr},
               {colourMask.get(), nullptr},
               {mask.get(), wideImage.get()},
               {nullptr, nullptr},
               {mask.get(), mask.get()}};
  for (const Case& k : cases) {
    ICONINFO ii;
    ii.hbmMask = k.mask;
    ii.hbmColor = k.color;
    EXPECT_EQ(CreateIconIndirect(&ii), nullptr);
  }
  // A handle of another kind is no cursor.
  ICONINFO ii;
  EXPECT_FALSE(GetIconInfo(static_cast<HCURSOR>(static_cast<GdiObject*>(mask.get())), &ii));
  EXPECT_FALSE(GetIconInfo(nullptr, &ii));
}

}  // namespace
}  // namespace wz::gdi
