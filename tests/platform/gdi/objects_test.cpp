// GDI objects: MulDiv, device capabilities, bitmap layouts, GetObjectA, GetDIBits, selection and
// deletion rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/gdi.h"

namespace wz::gdi {
namespace {

TEST(GdiObjects, MulDivRoundsHalfAwayFromZero) {
  struct Case {
    int a, b, c, expected;
  } cases[] = {
      {12, 96, 72, 16},
      {10, 96, 72, 13},
      {-12, 96, 72, -16},
      {7, 3, 2, 11},
      {-7, 3, 2, -11},
      {7, -3, 2, -11},
      {7, 3, -2, -11},
      {-7, -3, -2, -11},
      {1, 1, 3, 0},
      {2, 1, 3, 1},
      {5, 1, 0, -1},
      {INT_MAX, 2, 1, -1},
      {INT_MIN, 1, -1, -1},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {INT_MIN, 2, 2, INT_MIN},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(MulDiv(k.a, k.b, k.c), k.expected) << k.a << " * " << k.b << " / " << k.c;
  }
}

TEST(GdiObjects, DeviceCapsOfTheScreen) {
  UniqueDC dc(CreateCompatibleDC(nullptr));
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc.get(), LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(dc.get(), LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(dc.get(), BITSPIXEL), 32);
  EXPECT_EQ(GetDeviceCaps(dc.get(), HORZRES), platform::GetSystemMetrics(platform::SM_CXSCREEN));
  EXPECT_EQ(GetDeviceCaps(nullptr, LOGPIXELSY), 0);
  HDC window = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(window, LOGPIXELSY), 96);
  EXPECT_EQ(ReleaseDC(nullptr, window), 1);
}

// An opaque fill of the top row lands at the top of memory for a top-down section and at the
// end for a bottom-up one, as bytes B, G, R, 0.
TEST(GdiObjects, DibSectionRowOrderAndByteOrder) {
  for (int biHeight : {-3, 3}) {
    BITMAPINFO bi{};
    bi.bmiHeader.biWidth = 4;
    bi.bmiHeader.biHeight = biHeight;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    UniqueBitmap bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_NE(bmp, nullptr);
    auto* p = static_cast<uint8_t*>(bits);
    std::memset(p, 0x77, 4 * 4 * 3);
    UniqueDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), bmp.get());
    SetBkColor(dc.get(), RGB(0x10, 0x20, 0x30));
    RECT top{0, 0, 4, 1};
    ASSERT_TRUE(ExtTextOutA(dc.get(), 0, 0, ETO_OPAQUE, &top, "", 0, nullptr));
    SelectObject(dc.get(), old);
    size_t topRow = biHeight < 0 ? 0 : 2 * 16;
    size_t otherRow = biHeight < 0 ? 2 * 16 : 0;
    const uint8_t expected[4] = {0x30, 0x20, 0x10, 0x00};
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(std::memcmp(p + topRow + 4 * x, expected, 4), 0) << biHeight << " x " << x;
      EXPECT_EQ(p[otherRow + 4 * x], 0x77) << biHeight;
    }
    BITMAP bm{};
    ASSERT_EQ(GetObjectA(bmp.get(), sizeof bm, &bm), int(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 4);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmWidthBytes, 16);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    EXPECT_EQ(bm.bmBits, bits);
  }
}

TEST(GdiObjects, DibSectionRefusesOtherFormats) {
  struct Case {
    int width, height, bitCount;
    DWORD compression;
  } cases[] = {{4, 4, 24, BI_RGB},      {4, 4, 8, BI_RGB},          {0, 4, 32, BI_RGB},
               {4, 0, 32, BI_RGB},      {-4, 4, 32, BI_RGB},        {4, 4, 32, 1},
               {100000, 1, 32, BI_RGB}, {16384, 16384, 32, BI_RGB}, {4, INT_MIN, 32, BI_RGB}};
  for (const Case& k : cases) {
    BITMAPINFO bi{};
    bi.bmiHeader.biWidth = k.width;
    bi.bmiHeader.biHeight = k.height;
    bi.bmiHeader.biBitCount = uint16_t(k.bitCount);
    bi.bmiHeader.biCompression = k.compression;
    void* bits = &bi;
    EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr)
        << k.width << "x" << k.height << "x" << k.bitCount;
    EXPECT_EQ(bits, nullptr);
  }
}

TEST(GdiObjects, DeviceBitmapRowsAreWordAligned) {
  struct Case {
    int width, bpp, widthBytes;
  } cases[] = {{1, 1, 2}, {16, 1, 2}, {17, 1, 4}, {32, 1, 4}, {33, 1, 6}, {3, 32, 12}};
  for (const Case& k : cases) {
    UniqueBitmap b(CreateBitmap(k.width, 2, 1, UINT(k.bpp), nullptr));
    ASSERT_NE(b, nullptr);
    BITMAP bm{};
    ASSERT_EQ(GetObjectA(b.get(), sizeof bm, &bm), int(sizeof bm));
    EXPECT_EQ(bm.bmWidthBytes, k.widthBytes) << k.width << " " << k.bpp;
    EXPECT_EQ(bm.bmBitsPixel, k.bpp);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_EQ(bm.bmBits, nullptr);
  }
  EXPECT_EQ(CreateBitmap(4, 4, 1, 8, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(4, 4, 2, 1, nullptr), nullptr);
  BITMAP bm;
  UniqueBitmap b(CreateBitmap(4, 4, 1, 1, nullptr));
  EXPECT_EQ(GetObjectA(b.get(), 0, nullptr), int(sizeof(BITMAP)));
  EXPECT_EQ(GetObjectA(b.get(), sizeof bm - 1, &bm), 0);
}

TEST(GdiObjects, GetDIBitsReadsRowsAsThirtyTwoBitPixels) {
  // 3 x 3 monochrome, rows top-down: 100, 010, 111 (each row padded to 2 bytes).
  const uint8_t mono[6] = {0x80, 0, 0x40, 0, 0xE0, 0};
  UniqueBitmap bmp(CreateBitmap(3, 3, 1, 1, mono));
  UniqueDC dc(CreateCompatibleDC(nullptr));
  auto white = [](const std::vector<uint32_t>& px, int i) { return px[size_t(i)] == 0x00FFFFFFu; };
  BITMAPINFO bi{};
  bi.bmiHeader.biWidth = 3;
  bi.bmiHeader.biBitCount = 32;
  struct Case {
    int biHeight;
    UINT start, lines;
    int copied;
    std::vector<int> firstRowWhite;  // which pixels of the first returned row are white
  } cases[] = {
      {3, 0, 3, 3, {0, 1, 2}},  // bottom-up: the bottom row first
      {-3, 0, 3, 3, {0}},       // top-down: the top row first
      {3, 1, 2, 2, {1}},        // bottom-up from the second row from the bottom
      {3, 2, 9, 1, {0}},        // only one row left
      {-3, 1, 1, 1, {1}},
  };
  for (const Case& k : cases) {
    bi.bmiHeader.biHeight = k.biHeight;
    std::vector<uint32_t> px(9, 0xDEADBEEF);
    ASSERT_EQ(GetDIBits(dc.get(), bmp.get(), k.start, k.lines, px.data(), &bi, DIB_RGB_COLORS),
              k.copied)
        << k.biHeight << " " << k.start;
    for (int x = 0; x < 3; ++x) {
      bool wanted =
          std::find(k.firstRowWhite.begin(), k.firstRowWhite.end(), x) != k.firstRowWhite.end();
      EXPECT_EQ(white(px, x), wanted) << k.biHeight << " " << k.start << " x " << x;
      if (!wanted) {
        EXPECT_EQ(px[size_t(x)], 0u);
      }
    }
    if (k.copied < 3) {
      EXPECT_EQ(px[size_t(3 * k.copied)], 0xDEADBEEFu) << "rows beyond the copy";
    }
  }
  // Layouts it cannot give, and a dead device context.
  std::vector<uint32_t> px(9);
  bi.bmiHeader.biHeight = 3;
  bi.bmiHeader.biWidth = 4;
  EXPECT_EQ(GetDIBits(dc.get(), bmp.get(), 0, 3, px.data(), &bi, DIB_RGB_COLORS), 0);
  bi.bmiHeader.biWidth = 3;
  bi.bmiHeader.biBitCount = 24;
  EXPECT_EQ(GetDIBits(dc.get(), bmp.get(), 0, 3, px.data(), &bi, DIB_RGB_COLORS), 0);
  bi.bmiHeader.biBitCount = 32;
  EXPECT_EQ(GetDIBits(dc.get(), bmp.get(), 3, 1, px.data(), &bi, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(nullptr, bmp.get(), 0, 3, px.data(), &bi, DIB_RGB_COLORS), 0);
  // With no buffer the header is filled in.
  BITMAPINFO query{};
  EXPECT_EQ(GetDIBits(dc.get(), bmp.get(), 0, 3, nullptr, &query, DIB_RGB_COLORS), 3);
  EXPECT_EQ(query.bmiHeader.biWidth, 3);
  EXPECT_EQ(query.bmiHeader.biHeight, 3);
  EXPECT_EQ(query.bmiHeader.biBitCount, 1);
  EXPECT_EQ(query.bmiHeader.biSizeImage, 12u);
}

TEST(GdiObjects, SelectedObjectsCannotBeDeleted) {
  UniqueDC dc(CreateCompatibleDC(nullptr));
  UniqueDC other(CreateCompatibleDC(dc.get()));
  HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  HBITMAP bmp = CreateCompatibleBitmap(dc.get(), 8, 8);
  ASSERT_NE(font, nullptr);
  ASSERT_NE(bmp, nullptr);

  HGDIOBJ oldFont = SelectObject(dc.get(), font);
  HGDIOBJ oldBitmap = SelectObject(dc.get(), bmp);
  ASSERT_NE(oldFont, nullptr);
  ASSERT_NE(oldBitmap, nullptr);
  EXPECT_EQ(SelectObject(other.get(), bmp), nullptr) << "a bitmap lives in one context";
  EXPECT_NE(SelectObject(other.get(), font), nullptr) << "a font may be in several";
  EXPECT_FALSE(DeleteObject(font));
  EXPECT_FALSE(DeleteObject(bmp));
  EXPECT_EQ(SelectObject(dc.get(), oldFont), font);
  EXPECT_FALSE(DeleteObject(font)) << "still selected into the other context";
  EXPECT_TRUE(DeleteDC(other.release()));
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_TRUE(DeleteObject(oldFont)) << "a default object: deleting it does nothing";
  EXPECT_EQ(SelectObject(dc.get(), oldBitmap), bmp);
  EXPECT_TRUE(DeleteObject(bmp));
  // Handles that are gone are refused everywhere.
  EXPECT_FALSE(DeleteObject(bmp));
  EXPECT_EQ(SelectObject(dc.get(), bmp), nullptr);
  EXPECT_EQ(GetObjectA(font, 0, nullptr), 0);
  HDC gone = dc.release();
  EXPECT_TRUE(DeleteDC(gone));
  EXPECT_FALSE(DeleteDC(gone));
  EXPECT_EQ(SetTextColor(gone, 0), CLR_INVALID);
}

TEST(GdiObjects, FontKeepsItsLogfont) {
  const char face[] = "Arial";
  UniqueFont f(CreateFontA(-21, 3, 0, 0, FW_BOLD, 1, 0, 1, SHIFTJIS_CHARSET, OUT_TT_PRECIS, 0,
                           PROOF_QUALITY, FIXED_PITCH | FF_MODERN, face));
  LOGFONTA lf{};
  ASSERT_EQ(GetObjectA(f.get(), sizeof lf, &lf), int(sizeof lf));
  EXPECT_EQ(lf.lfHeight, -21);
  EXPECT_EQ(lf.lfWidth, 3);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_EQ(lf.lfStrikeOut, 1);
  EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
  EXPECT_EQ(lf.lfOutPrecision, OUT_TT_PRECIS);
  EXPECT_EQ(lf.lfQuality, PROOF_QUALITY);
  EXPECT_EQ(lf.lfPitchAndFamily, 49);
  EXPECT_STREQ(lf.lfFaceName, face);
  // A copy of the logfont makes an equal font (the D3DX font is made this way).
  UniqueFont copy(CreateFontIndirectA(&lf));
  LOGFONTA again{};
  ASSERT_EQ(GetObjectA(copy.get(), sizeof again, &again), int(sizeof again));
  EXPECT_EQ(std::memcmp(&lf, &again, sizeof lf), 0);
}

TEST(GdiObjects, DeviceContextState) {
  UniqueDC dc(CreateCompatibleDC(nullptr));
  EXPECT_EQ(SetTextColor(dc.get(), RGB(1, 2, 3)), RGB(0, 0, 0));
  EXPECT_EQ(SetTextColor(dc.get(), 0), RGB(1, 2, 3));
  EXPECT_EQ(SetBkColor(dc.get(), 0), RGB(255, 255, 255));
  EXPECT_EQ(SetBkMode(dc.get(), TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(dc.get(), 7), 0);
  EXPECT_EQ(SetMapMode(dc.get(), MM_TEXT), MM_TEXT);
  EXPECT_EQ(SetMapMode(dc.get(), 2), 0);
  EXPECT_EQ(SetTextAlign(dc.get(), TA_BASELINE | TA_CENTER), TA_TOP | TA_LEFT);
  EXPECT_EQ(SetTextAlign(dc.get(), 0), TA_BASELINE | TA_CENTER);
}

}  // namespace
}  // namespace wz::gdi
