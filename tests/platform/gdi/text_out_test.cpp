// Fonts and text of the GDI stand-in on the fonts setup installs (Liberation, IPA Mincho).
// Set WZ_GDI_SAMPLE_PNG=/some/file.png to keep the sample sheet of the last test for viewing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/d3dx/image_fixtures.h"
#include "platform/gdi.h"
#include "platform/gdi/canvas.h"
#include "platform/text.h"

namespace wz::gdi {
namespace {

using testing::Box;
using testing::Canvas;

HFONT MakeFont(const std::string& faceUtf8, int height, int weight = FW_NORMAL, bool italic = false,
               uint8_t quality = ANTIALIASED_QUALITY, bool underline = false) {
  return CreateFontA(height, 0, 0, 0, weight, italic, underline, 0, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality, VARIABLE_PITCH,
                     platform::Utf8ToCp932(faceUtf8).c_str());
}

SIZE Extent(HDC dc, const std::string& cp932) {
  SIZE s{-1, -1};
  EXPECT_TRUE(GetTextExtentPoint32A(dc, cp932.data(), int(cp932.size()), &s));
  return s;
}

bool Draw(Canvas& c, int x, int y, const std::string& cp932, UINT options = ETO_OPAQUE) {
  return ExtTextOutA(c.dc(), x, y, options, nullptr, cp932.data(), UINT(cp932.size()), nullptr);
}

FontResolution Resolve(HFONT f) {
  FontResolution r;
  EXPECT_TRUE(GetFontResolution(f, &r));
  return r;
}

// Ink: pixels that are not the background colour.
int Ink(const Canvas& c, COLORREF background) {
  return c.Count([&](int, int, COLORREF p) { return p != background; });
}

TEST(GdiText, ExtentsGrowWithTextAndSize) {
  Canvas c(8, 8);
  int previousHeight = 0, previousWidth = 0;
  for (int height : {-9, -12, -16, -24, -40}) {
    c.Use(MakeFont("Arial", height));
    SIZE a = Extent(c.dc(), "a"), ab = Extent(c.dc(), "ab"), abc = Extent(c.dc(), "abc");
    EXPECT_GT(a.cx, 0) << height;
    EXPECT_GT(ab.cx, a.cx) << height;
    EXPECT_GT(abc.cx, ab.cx) << height;
    EXPECT_EQ(a.cy, abc.cy) << height;
    EXPECT_GT(a.cy, previousHeight) << height;
    EXPECT_GT(abc.cx, previousWidth) << height;
    EXPECT_GE(a.cy, -height) << "the cell holds the character height";
    previousHeight = a.cy;
    previousWidth = abc.cx;
    EXPECT_EQ(Extent(c.dc(), "").cx, 0);
  }
}

TEST(GdiText, ArialTwelvePointsAtNinetySixDpi) {
  Canvas c(8, 8);
  int dpi = GetDeviceCaps(c.dc(), LOGPIXELSY);
  ASSERT_EQ(dpi, 96);
  HFONT font = MakeFont("Arial", -MulDiv(12, dpi, 72));
  c.Use(font);
  SIZE x = Extent(c.dc(), "x");
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(c.dc(), &tm));
  // A 16-pixel em in a cell of 18 (ascent 15, descent 3): what Windows reports for Arial, whose
  // metrics Liberation Sans shares; "x" is 8 pixels wide.
  EXPECT_EQ(x.cy, 18);
  EXPECT_EQ(tm.tmHeight, 18);
  EXPECT_EQ(tm.tmAscent, 15);
  EXPECT_EQ(tm.tmDescent, 3);
  EXPECT_EQ(tm.tmInternalLeading, 2);
  EXPECT_EQ(x.cx, 8);
  EXPECT_EQ(Resolve(font).family, "Liberation Sans");
  EXPECT_EQ(Resolve(font).pixelsPerEm, 16);
  // A positive height asks for the cell: the same font.
  c.Use(MakeFont("Arial", tm.tmHeight));
  EXPECT_EQ(Extent(c.dc(), "x").cy, tm.tmHeight);
  EXPECT_EQ(Extent(c.dc(), "x").cx, x.cx);
}

TEST(GdiText, OpaqueTextFillsItsCellAndInksOnlyInside) {
  const COLORREF kOutside = RGB(0, 200, 0), kBack = RGB(0, 0, 160), kText = RGB(250, 10, 10);
  Canvas c(120, 40);
  c.Use(MakeFont("Arial", -16));
  c.Clear(kOutside);
  SetTextColor(c.dc(), kText);
  SetBkColor(c.dc(), kBack);
  SetBkMode(c.dc(), TRANSPARENT);  // ETO_OPAQUE alone must fill the cell
  ASSERT_TRUE(Draw(c, 7, 5, "Hello"));
  SIZE e = Extent(c.dc(), "Hello");
  Box cell{7, 5, 7 + e.cx, 5 + e.cy};
  EXPECT_EQ(
      c.Count([&](int x, int y, COLORREF p) { return cell.Contains(x, y) != (p != kOutside); }), 0)
      << "the cell, and nothing else, is painted";
  EXPECT_GT(c.Count([&](int, int, COLORREF p) { return p == kText; }), 20);
  EXPECT_GT(c.Count([&](int, int, COLORREF p) { return p == kBack; }), e.cx * e.cy / 3);
  // Every painted pixel lies between background and text colour (red up, blue down).
  EXPECT_EQ(c.Count([&](int x, int y, COLORREF p) {
    if (!cell.Contains(x, y)) return false;
    return GetGValue(p) > 10 || GetRValue(p) + GetBValue(p) < 160 ||
           GetRValue(p) + GetBValue(p) > 260 || c.Fourth(x, y) != 0;
  }),
            0);
}

TEST(GdiText, QualityChoosesGreyOrBlackAndWhite) {
  struct Case {
    uint8_t quality;
    bool greys;
  } cases[] = {{ANTIALIASED_QUALITY, true},
               {DEFAULT_QUALITY, true},
               {PROOF_QUALITY, true},
               {NONANTIALIASED_QUALITY, false}};
  for (const Case& k : cases) {
    Canvas c(160, 40);
    c.Use(MakeFont("Arial", -16, FW_NORMAL, false, k.quality));
    SetTextColor(c.dc(), RGB(255, 255, 255));
    SetBkColor(c.dc(), RGB(0, 0, 0));
    ASSERT_TRUE(Draw(c, 2, 2, "Quality & grey"));
    int grey = c.Count([](int, int, COLORREF p) { return GetBValue(p) > 0 && GetBValue(p) < 255; });
    int full = c.Count([](int, int, COLORREF p) { return GetBValue(p) == 255; });
    EXPECT_GT(full, 20) << int(k.quality);
    if (k.greys) {
      EXPECT_GT(grey, 20) << int(k.quality);
    } else {
      EXPECT_EQ(grey, 0) << int(k.quality);
    }
  }
}

TEST(GdiText, JapaneseTextDrawsGlyphs) {
  const std::string text = platform::Utf8ToCp932("ポリゴン");
  Canvas c(200, 40);
  HFONT font = MakeFont("ＭＳ 明朝", -16);
  c.Use(font);
  FontResolution r = Resolve(font);
  EXPECT_TRUE(r.faceFound);
  EXPECT_EQ(r.family, "IPAMincho");
  SIZE jp = Extent(c.dc(), text), latin = Extent(c.dc(), "abcd");
  EXPECT_GT(jp.cx, latin.cx);
  EXPECT_GE(jp.cx, 4 * 14) << "four full-width characters";
  c.Clear(RGB(0, 0, 0));
  SetTextColor(c.dc(), RGB(255, 255, 255));
  SetBkColor(c.dc(), RGB(0, 0, 0));
  ASSERT_TRUE(Draw(c, 0, 0, text));
  // Ink in each of the four character quarters, none to their right.
  for (int i = 0; i < 4; ++i) {
    Box quarter{jp.cx * i / 4, 0, jp.cx * (i + 1) / 4, jp.cy};
    EXPECT_GT(c.Count([&](int x, int y, COLORREF p) { return quarter.Contains(x, y) && p != 0; }),
              15)
        << i;
  }
  EXPECT_EQ(c.Count([&](int x, int, COLORREF p) { return x >= jp.cx && p != 0; }), 0);
}

TEST(GdiText, CharactersMissingFromTheFaceComeFromAnotherFace) {
  UniqueFont arial(MakeFont("Arial", -20));
  UniqueFont mincho(MakeFont("ＭＳ 明朝", -20));
  GlyphImage fromArial, fromMincho, missing, latin;
  ASSERT_TRUE(GetGlyphImage(arial.get(), U'ポ', &fromArial));
  ASSERT_TRUE(GetGlyphImage(mincho.get(), U'ポ', &fromMincho));
  ASSERT_TRUE(GetGlyphImage(arial.get(), char32_t(0x10FFFD), &missing));  // no face has it
  ASSERT_TRUE(GetGlyphImage(arial.get(), U'A', &latin));
  // The fallback face at the same size: the same coverage as drawn by the Mincho font itself.
  EXPECT_EQ(fromArial.coverage, fromMincho.coverage);
  EXPECT_EQ(fromArial.advance, fromMincho.advance);
  EXPECT_NE(fromArial.coverage, missing.coverage) << "not the missing-glyph box";
  EXPECT_GT(latin.width, 0);
  EXPECT_LE(latin.advance, 20);
}

TEST(GdiText, UnknownFaceLogsOnceAndStillDraws) {
  std::vector<std::string> lines;
  SetLogSink([&](const std::string& line) { lines.push_back(line); });
  const std::string name = "No Such Face WZ 7";
  UniqueFont a(MakeFont(name, -16));
  UniqueFont b(MakeFont(name, -24));
  EXPECT_TRUE(lines.empty()) << "creating a font looks nothing up";
  GlyphImage g;
  EXPECT_TRUE(GetGlyphImage(a.get(), U'A', &g));
  EXPECT_TRUE(GetGlyphImage(b.get(), U'A', &g));
  SetLogSink(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"" + name + "\""), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].rfind("*** ERROR *** ", 0), 0u) << lines[0];
  FontResolution r = Resolve(a.get());
  EXPECT_FALSE(r.faceFound);
  EXPECT_FALSE(r.family.empty());
  EXPECT_NE(lines[0].find(r.family), std::string::npos) << "names the face drawn with";

  Canvas c(200, 40);
  c.Use(a.release());
  c.Clear(RGB(0, 0, 0));
  SetTextColor(c.dc(), RGB(255, 255, 255));
  SetBkColor(c.dc(), RGB(0, 0, 0));
  ASSERT_TRUE(Draw(c, 0, 0, platform::Utf8ToCp932("Abc ポリゴン")));
  EXPECT_GT(Ink(c, RGB(0, 0, 0)), 100);
}

TEST(GdiText, FaceNamesResolveThroughTheAliasTable) {
  struct Case {
    const char* face;  // UTF-8
    const char* family;
    bool found;
  } cases[] = {
      {"ＭＳ 明朝", "IPAMincho", true},
      {"ＭＳ Ｐ明朝", "IPAPMincho", true},
      {"Arial", "Liberation Sans", true},
      {"ARIAL", "Liberation Sans", true},
      {"Times New Roman", "Liberation Serif", true},
      {"Courier New", "Liberation Mono", true},
      {"Liberation Sans", "Liberation Sans", true},
      {"IPA明朝", "IPAMincho", true},
      {"", "IPAMincho", false},  // no name: the best face for Japanese, without a log line
  };
  std::vector<std::string> lines;
  SetLogSink([&](const std::string& line) { lines.push_back(line); });
  for (const Case& k : cases) {
    UniqueFont f(MakeFont(k.face, -12));
    FontResolution r = Resolve(f.get());
    EXPECT_EQ(r.family, k.family) << k.face;
    EXPECT_EQ(r.faceFound, k.found) << k.face;
  }
  SetLogSink(nullptr);
  EXPECT_TRUE(lines.empty()) << lines.front();
}

TEST(GdiText, BoldAndItalicUseFacesOrSynthesis) {
  struct Case {
    const char* face;
    int weight;
    bool italic;
    bool syntheticBold, syntheticItalic;
    const char* fileHas;
  } cases[] = {
      {"Arial", FW_BOLD, false, false, false, "Bold"},
      {"Arial", FW_SEMIBOLD, false, false, false, "Bold"},
      {"Arial", 500, false, false, false, "Regular"},
      {"Arial", FW_NORMAL, true, false, false, "Italic"},
      {"ＭＳ 明朝", FW_BOLD, false, true, false, "mincho"},
      {"ＭＳ 明朝", FW_NORMAL, true, false, true, "mincho"},
  };
  for (const Case& k : cases) {
    UniqueFont f(MakeFont(k.face, -16, k.weight, k.italic));
    FontResolution r = Resolve(f.get());
    EXPECT_EQ(r.syntheticBold, k.syntheticBold) << k.face << " " << k.weight;
    EXPECT_EQ(r.syntheticItalic, k.syntheticItalic) << k.face << " " << k.italic;
    EXPECT_NE(r.file.find(k.fileHas), std::string::npos) << r.file;
  }
  // Synthesised bold is wider; a synthesised slant leans the top of a stroke to the right.
  UniqueFont regular(MakeFont("ＭＳ 明朝", -32)), bold(MakeFont("ＭＳ 明朝", -32, FW_BOLD)),
      slanted(MakeFont("ＭＳ 明朝", -32, FW_NORMAL, true));
  GlyphImage r, b, s;
  ASSERT_TRUE(GetGlyphImage(regular.get(), U'l', &r));
  ASSERT_TRUE(GetGlyphImage(bold.get(), U'l', &b));
  ASSERT_TRUE(GetGlyphImage(slanted.get(), U'l', &s));
  EXPECT_GT(b.advance, r.advance);
  EXPECT_GT(b.width, r.width);
  auto inkCentre = [](const GlyphImage& g, int row) {
    double sum = 0, weight = 0;
    for (int x = 0; x < g.width; ++x) {
      sum += x * g.coverage[size_t(row) * g.width + x];
      weight += g.coverage[size_t(row) * g.width + x];
    }
    return g.left + sum / weight;
  };
  ASSERT_GT(s.height, 10);
  EXPECT_GT(inkCentre(s, 1) - inkCentre(s, s.height - 2), 3.0);
  EXPECT_NEAR(inkCentre(r, 1), inkCentre(r, r.height - 2), 1.5);
}

TEST(GdiText, AlignmentPlacesTheCell) {
  struct Case {
    UINT align;
    int dx, dy;  // cell top-left relative to (x, y), in extents: -1 the width/height, -2 half
  } cases[] = {{TA_TOP | TA_LEFT, 0, 0},
               {TA_TOP | TA_RIGHT, -1, 0},
               {TA_TOP | TA_CENTER, -2, 0},
               {TA_BOTTOM | TA_LEFT, 0, -1},
               {TA_BASELINE | TA_LEFT, 0, -3}};
  for (const Case& k : cases) {
    Canvas c(160, 80);
    c.Use(MakeFont("Arial", -16));
    c.Clear(RGB(0, 0, 0));
    SetBkColor(c.dc(), RGB(0, 0, 255));
    SetTextColor(c.dc(), RGB(255, 0, 0));
    ASSERT_NE(SetTextAlign(c.dc(), k.align), GDI_ERROR);
    SIZE e = Extent(c.dc(), "Ab");
    TEXTMETRICA tm{};
    GetTextMetricsA(c.dc(), &tm);
    ASSERT_TRUE(Draw(c, 80, 40, "Ab"));
    int left = 80 + (k.dx == -1 ? -e.cx : k.dx == -2 ? -(e.cx / 2) : 0);
    int top = 40 + (k.dy == -1 ? -e.cy : k.dy == -3 ? -tm.tmAscent : 0);
    Box cell{left, top, left + e.cx, top + e.cy};
    EXPECT_EQ(c.Count([&](int x, int y, COLORREF p) { return cell.Contains(x, y) != (p != 0); }), 0)
        << k.align;
  }
  Canvas c(4, 4);
  EXPECT_EQ(SetTextAlign(c.dc(), TA_UPDATECP), GDI_ERROR);
}

TEST(GdiText, ClippingAndUnderline) {
  Canvas c(120, 40);
  c.Use(MakeFont("Arial", -16, FW_NORMAL, false, ANTIALIASED_QUALITY, true));
  c.Clear(RGB(0, 0, 0));
  SetTextColor(c.dc(), RGB(255, 255, 255));
  SetBkMode(c.dc(), TRANSPARENT);
  RECT clip{10, 0, 30, 40};
  ASSERT_TRUE(ExtTextOutA(c.dc(), 2, 2, ETO_CLIPPED, &clip, "WWWWWW", 6, nullptr));
  EXPECT_EQ(c.Count([](int x, int, COLORREF p) { return (x < 10 || x >= 30) && p != 0; }), 0);
  EXPECT_GT(Ink(c, 0), 20);
  // The underline runs under the whole extent, below the baseline.
  c.Clear(RGB(0, 0, 0));
  ASSERT_TRUE(Draw(c, 0, 0, "i i", 0));
  SIZE e = Extent(c.dc(), "i i");
  TEXTMETRICA tm{};
  GetTextMetricsA(c.dc(), &tm);
  bool found = false;
  for (int y = tm.tmAscent; y < e.cy && !found; ++y) {
    found =
        c.Count([&](int x, int yy, COLORREF p) { return yy == y && x < e.cx && p != 0; }) == e.cx;
  }
  EXPECT_TRUE(found);
}

TEST(GdiText, RefusesBadArguments) {
  Canvas c(8, 8);
  SIZE s;
  int dx[1] = {5};
  EXPECT_FALSE(GetTextExtentPoint32A(nullptr, "a", 1, &s));
  EXPECT_FALSE(GetTextExtentPoint32A(c.dc(), nullptr, 1, &s));
  EXPECT_FALSE(GetTextExtentPoint32A(c.dc(), "a", -1, &s));
  EXPECT_FALSE(ExtTextOutA(c.dc(), 0, 0, 0, nullptr, "a", 1, dx));
  EXPECT_FALSE(ExtTextOutA(reinterpret_cast<HDC>(&s), 0, 0, 0, nullptr, "a", 1, nullptr));
  EXPECT_EQ(CreateFontIndirectA(nullptr), nullptr);
  // An unterminated face name and absurd sizes still give a usable font.
  LOGFONTA lf;
  std::fill(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), 'A');
  lf.lfHeight = INT32_MIN;
  lf.lfWidth = INT32_MIN;
  UniqueFont f(CreateFontIndirectA(&lf));
  ASSERT_NE(f, nullptr);
  c.Use(f.release());
  EXPECT_TRUE(Draw(c, -100000, 2000000000, "far away"));
  EXPECT_TRUE(GetTextExtentPoint32A(c.dc(), "x", 1, &s));
  EXPECT_GT(s.cy, 0);
}

// Renders a sheet of samples; writes it as PNG when WZ_GDI_SAMPLE_PNG names a file.
TEST(GdiText, SampleSheet) {
  struct Line {
    const char* face;
    int height, weight;
    bool italic;
    uint8_t quality;
    const char* text;
  } lines[] = {
      {"Arial", -16, FW_NORMAL, false, ANTIALIASED_QUALITY, "Arial 12pt: The quick brown fox 0123"},
      {"Arial", -16, FW_BOLD, false, ANTIALIASED_QUALITY, "Arial bold: statistics 60.0 fps"},
      {"Arial", -16, FW_NORMAL, true, NONANTIALIASED_QUALITY, "Arial italic, black and white"},
      {"ＭＳ 明朝", 21, FW_NORMAL, false, PROOF_QUALITY,
       "ＭＳ 明朝 21: ポリゴン 初期化に失敗しました。"},
      {"ＭＳ 明朝", 21, FW_BOLD, true, PROOF_QUALITY, "明朝 bold italic: グループ 親ボーン"},
      {"Nowhere Sans", -16, FW_NORMAL, false, ANTIALIASED_QUALITY,
       "Missing face: ドラッグ&ドロップ"},
  };
  Canvas c(480, 150);
  c.Clear(RGB(255, 255, 255));
  SetBkMode(c.dc(), TRANSPARENT);
  int y = 2;
  for (const Line& l : lines) {
    c.Use(MakeFont(l.face, l.height, l.weight, l.italic, l.quality));
    SetTextColor(c.dc(), l.quality == NONANTIALIASED_QUALITY ? RGB(200, 0, 0) : RGB(0, 0, 0));
    std::string text = platform::Utf8ToCp932(l.text);
    ASSERT_TRUE(Draw(c, 4, y, text, 0));
    y += Extent(c.dc(), text).cy + 2;
  }
  EXPECT_LE(y, c.height());
  EXPECT_GT(Ink(c, RGB(255, 255, 255)), 2000);

  const char* out = std::getenv("WZ_GDI_SAMPLE_PNG");
  if (!out) return;
  test::PngLayout png;
  png.width = uint32_t(c.width());
  png.height = uint32_t(c.height());
  for (int row = 0; row < c.height(); ++row) {
    std::vector<uint8_t> rgb;
    for (int x = 0; x < c.width(); ++x) {
      COLORREF p = c.Pixel(x, row);
      rgb.insert(rgb.end(), {GetRValue(p), GetGValue(p), GetBValue(p)});
    }
    png.rows.push_back(rgb);
  }
  std::vector<uint8_t> bytes = test::EncodePng(png);
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace
}  // namespace wz::gdi
