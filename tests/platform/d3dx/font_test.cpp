// The D3DX font: layout against the GDI stand-in's measurements, the draw calls and states it
// makes (recording backend), and its pixels on llvmpipe compared with what ExtTextOutA paints
// for the same font.
#include "platform/d3dx/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/d3d/device_fixture.h"
#include "platform/gdi/canvas.h"
#include "platform/text.h"

namespace wz::d3dx {
namespace {

using d3d::BackendChoice;
using namespace d3d;

gdi::LOGFONTA Logfont(const std::string& faceUtf8, int height, int weight = gdi::FW_NORMAL) {
  gdi::LOGFONTA lf;
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfQuality = gdi::ANTIALIASED_QUALITY;
  const std::string face = platform::Utf8ToCp932(faceUtf8);
  std::memcpy(lf.lfFaceName, face.data(), std::min(face.size(), gdi::LF_FACESIZE - 1));
  return lf;
}

class FontTest : public d3d::testing::DeviceTest {
 protected:
  std::shared_ptr<Font> Make(const gdi::LOGFONTA& lf) {
    std::shared_ptr<Font> f;
    EXPECT_EQ(D3DXCreateFontIndirect(device.get(), &lf, &f), S_OK);
    return f;
  }
  // The rectangle DT_CALCRECT gives for text placed at (x, y).
  RECT Calc(Font& f, const std::string& text, DWORD format = DT_NOCLIP, int x = 0, int y = 0) {
    RECT r{x, y, x, y};
    f.DrawTextA(text.c_str(), -1, &r, format | DT_CALCRECT, 0xFFFFFFFFu);
    return r;
  }
};

// What GDI measures for the same text: the widest line and the cell height per line.
struct Measured {
  int width = 0, height = 0;
};
Measured MeasureWithGdi(const gdi::LOGFONTA& lf, const std::vector<std::string>& lines) {
  gdi::testing::Canvas c(4, 4);
  c.Use(gdi::CreateFontIndirectA(&lf));
  Measured m;
  for (const std::string& line : lines) {
    gdi::SIZE s{0, 0};
    EXPECT_TRUE(gdi::GetTextExtentPoint32A(c.dc(), line.data(), int(line.size()), &s));
    m.width = std::max(m.width, int(s.cx));
    m.height += s.cy;
  }
  return m;
}

TEST_F(FontTest, CalcRectHoldsTheTextAsGdiMeasuresIt) {
  MakeDevice(BackendChoice::kRecording);
  const gdi::LOGFONTA lf = Logfont("Arial", -16);
  auto font = Make(lf);
  ASSERT_TRUE(font);
  struct Case {
    std::string text;
    std::vector<std::string> lines;
    DWORD format;
  } cases[] = {
      {"A", {"A"}, DT_NOCLIP},
      {"Hello, world", {"Hello, world"}, DT_NOCLIP | DT_NOPREFIX},
      {"two\nlines, the second longer", {"two", "lines, the second longer"}, DT_NOCLIP},
      {"a\r\nb\rcc", {"a", "b", "cc"}, DT_NOCLIP},
      {"one\nline", {"oneline"}, DT_NOCLIP | DT_SINGLELINE | DT_NOPREFIX},
      {"&File &&Save", {"File &Save"}, DT_NOCLIP},
      {"&File", {"&File"}, DT_NOCLIP | DT_NOPREFIX},
      {platform::Utf8ToCp932("日本語のテキスト"),
       {platform::Utf8ToCp932("日本語のテキスト")},
       DT_NOCLIP},
  };
  for (const Case& c : cases) {
    Measured m = MeasureWithGdi(lf, c.lines);
    if (c.format & DT_SINGLELINE) {
      // Line breaks are not drawn as breaks; they take whatever advance the face gives them.
      RECT r = Calc(*font, c.text, c.format, 5, 7);
      EXPECT_EQ(r.bottom - r.top, font->LineHeight()) << c.text;
      EXPECT_GE(r.right - r.left, m.width) << c.text;
      continue;
    }
    RECT r = Calc(*font, c.text, c.format, 5, 7);
    EXPECT_EQ(r.left, 5) << c.text;
    EXPECT_EQ(r.top, 7) << c.text;
    EXPECT_EQ(r.right - r.left, m.width) << c.text;
    EXPECT_EQ(r.bottom - r.top, m.height) << c.text;
  }
  RECT empty = Calc(*font, "");
  EXPECT_EQ(empty.right, 0);
  EXPECT_EQ(empty.bottom, 0);
  // Measuring draws nothing.
  EXPECT_TRUE(Recording().Draws().empty());
}

TEST_F(FontTest, OneDrawPerBeginEndWithTheFontsStatesThenTheCallersBack) {
  MakeDevice(BackendChoice::kRecording);
  auto font = Make(Logfont("Arial", -16));
  ASSERT_TRUE(font);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetFVF(D3DFVF_XYZ);

  RECT r{10, 20, 0, 0};
  ASSERT_EQ(font->Begin(), S_OK);
  EXPECT_EQ(font->DrawTextA("AB C", -1, &r, DT_NOCLIP, 0x80FF0000u), font->LineHeight());
  r = {10, 40, 0, 0};
  EXPECT_EQ(font->DrawTextA("DE", 1, &r, DT_NOCLIP, 0xFF00FF00u), font->LineHeight());
  EXPECT_TRUE(Recording().Draws().empty()) << "collected until End";
  ASSERT_EQ(font->End(), S_OK);

  ASSERT_EQ(Recording().Draws().size(), 1u);
  const RecordedDraw& d = Recording().Draws()[0];
  EXPECT_EQ(d.call.kind, DrawCall::Kind::kIndexedPrimitiveUP);
  EXPECT_EQ(d.call.type, D3DPT_TRIANGLELIST);
  EXPECT_EQ(d.call.primitiveCount, 8u) << "A, B, C and D: two triangles each, none for a space";
  EXPECT_EQ(d.fvf, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  EXPECT_EQ(d.renderStates[D3DRS_ALPHABLENDENABLE], 1u);
  EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], uint32_t(D3DBLEND_SRCALPHA));
  EXPECT_EQ(d.renderStates[D3DRS_DESTBLEND], uint32_t(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(d.renderStates[D3DRS_ZENABLE], uint32_t(D3DZB_FALSE));
  EXPECT_EQ(d.renderStates[D3DRS_CULLMODE], uint32_t(D3DCULL_NONE));
  EXPECT_EQ(d.stages[0][D3DTSS_ALPHAOP], uint32_t(D3DTOP_MODULATE));
  EXPECT_EQ(d.samplers[0][D3DSAMP_MAGFILTER], uint32_t(D3DTEXF_POINT));
  ASSERT_NE(d.textures[0], nullptr);
  EXPECT_EQ(d.textures[0], font->Page(0));
  // Three glyphs in red at half alpha, one in green; every corner on a half pixel.
  size_t red = 0, green = 0;
  for (size_t i = 0; i < d.vertices.size() / d.stride; ++i) {
    float xy[2];
    D3DCOLOR colour;
    std::memcpy(xy, d.vertices.data() + i * d.stride, sizeof xy);
    std::memcpy(&colour, d.vertices.data() + i * d.stride + 16, sizeof colour);
    red += colour == 0x80FF0000u;
    green += colour == 0xFF00FF00u;
    EXPECT_EQ(xy[0] - float(int(xy[0] + 0.5f)), -0.5f);
    EXPECT_GE(xy[0], 9.5f);
    EXPECT_GE(xy[1], 19.5f);
  }
  EXPECT_EQ(red, 12u);
  EXPECT_EQ(green, 4u);

  // The caller's states are back.
  const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
      {D3DRS_ZENABLE, D3DZB_TRUE}, {D3DRS_ALPHABLENDENABLE, 0}, {D3DRS_CULLMODE, D3DCULL_CW}};
  for (const auto& [state, want] : states) {
    DWORD value = 0;
    device->GetRenderState(state, &value);
    EXPECT_EQ(value, want) << state;
  }
  DWORD value = 0;
  device->GetSamplerState(0, D3DSAMP_MAGFILTER, &value);
  EXPECT_EQ(value, uint32_t(D3DTEXF_LINEAR));
  device->GetFVF(&value);
  EXPECT_EQ(value, uint32_t(D3DFVF_XYZ));
  EXPECT_EQ(device->GetTexture(0), nullptr);
  EXPECT_EQ(font->End(), D3DERR_INVALIDCALL) << "End without Begin";
}

TEST_F(FontTest, DrawTextOutsideBeginDrawsAtOnceAndClipsToItsRectangle) {
  MakeDevice(BackendChoice::kRecording);
  auto font = Make(Logfont("Arial", -16));
  ASSERT_TRUE(font);
  struct Case {
    const char* what;
    RECT rect;
    DWORD format;
    size_t triangles;
  } cases[] = {
      {"no clipping", {100, 100, 100, 100}, DT_NOCLIP, 4},
      {"an empty rectangle clips everything", {100, 100, 100, 100}, DT_LEFT, 0},
      {"a rectangle that holds the text", {100, 100, 300, 200}, DT_LEFT, 4},
      {"right-aligned out of a narrow rectangle", {100, 100, 104, 200}, DT_RIGHT, 2},
  };
  for (const Case& c : cases) {
    Recording().ClearRecord();
    RECT r = c.rect;
    font->DrawTextA("WW\nWW", -1, &r, c.format, 0xFFFFFFFFu);
    size_t triangles = 0;
    for (const RecordedDraw& d : Recording().Draws()) {
      triangles += d.call.primitiveCount;
      if (c.format & DT_NOCLIP) continue;
      for (size_t i = 0; i < d.vertices.size() / d.stride; ++i) {
        float xy[2];
        std::memcpy(xy, d.vertices.data() + i * d.stride, sizeof xy);
        EXPECT_GE(xy[0], float(c.rect.left) - 0.5f) << c.what;
        EXPECT_LE(xy[0], float(c.rect.right) - 0.5f) << c.what;
        EXPECT_GE(xy[1], float(c.rect.top) - 0.5f) << c.what;
        EXPECT_LE(xy[1], float(c.rect.bottom) - 0.5f) << c.what;
      }
    }
    EXPECT_EQ(triangles, c.triangles * 2) << c.what;
    EXPECT_LE(Recording().Draws().size(), 1u) << c.what;
  }
}

TEST_F(FontTest, LostDeviceRefusesDrawingUntilResetAndTheFontSurvivesTheReset) {
  MakeDevice(BackendChoice::kRecording);
  auto font = Make(Logfont("Arial", -16));
  ASSERT_TRUE(font);
  RECT r{0, 0, 0, 0};
  EXPECT_GT(font->DrawTextA("x", -1, &r, DT_NOCLIP, 0xFFFFFFFFu), 0);
  ASSERT_EQ(font->OnLostDevice(), S_OK);
  EXPECT_EQ(font->DrawTextA("x", -1, &r, DT_NOCLIP, 0xFFFFFFFFu), 0);
  EXPECT_EQ(font->Begin(), D3DERR_INVALIDCALL);
  device->EndScene();
  // Its glyph pages are managed: the reset goes through with the font alive.
  D3DPRESENT_PARAMETERS p = device->PresentParameters();
  ASSERT_EQ(device->Reset(&p), S_OK);
  ASSERT_EQ(device->BeginScene(), S_OK);
  ASSERT_EQ(font->OnResetDevice(), S_OK);
  Recording().ClearRecord();
  EXPECT_GT(font->DrawTextA("x", -1, &r, DT_NOCLIP, 0xFFFFFFFFu), 0);
  EXPECT_EQ(Recording().Draws().size(), 1u);
}

TEST_F(FontTest, CreationFromAGdiFontTakesItsDescription) {
  MakeDevice(BackendChoice::kRecording);
  gdi::UniqueFont gdiFont(gdi::CreateFontA(31, 0, 0, 0, 400, 0, 0, 0, 128, 4, 0, 2, 49,
                                           platform::Utf8ToCp932("ＭＳ 明朝").c_str()));
  std::shared_ptr<Font> font;
  ASSERT_EQ(D3DXCreateFont(device.get(), gdiFont.get(), &font), S_OK);
  gdi::LOGFONTA lf;
  ASSERT_EQ(font->GetLogFont(&lf), S_OK);
  EXPECT_EQ(lf.lfHeight, 31);
  EXPECT_EQ(lf.lfCharSet, 128);
  EXPECT_EQ(lf.lfPitchAndFamily, 49);
  EXPECT_EQ(std::string(lf.lfFaceName), platform::Utf8ToCp932("ＭＳ 明朝"));
  EXPECT_EQ(font->LineHeight(), 31) << "a positive height is the cell height";

  EXPECT_EQ(D3DXCreateFont(device.get(), nullptr, &font), D3DERR_INVALIDCALL);
  EXPECT_EQ(font, nullptr);
  EXPECT_EQ(D3DXCreateFontIndirect(nullptr, &lf, &font), D3DERR_INVALIDCALL);
}

TEST_F(FontTest, GlyphsGoToNewPagesWhenOneIsFull) {
  MakeDevice(BackendChoice::kRecording);
  auto font = Make(Logfont("ＭＳ 明朝", -60));
  ASSERT_TRUE(font);
  // Enough distinct kanji to fill more than one page.
  std::u32string chars;
  for (char32_t c = 0x4E00; c < 0x4E00 + 200; ++c)
    chars += c;
  std::string text;
  for (char32_t c : chars) {
    std::string one = platform::Utf8ToCp932(std::string{
        char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))});
    if (one != "?") text += one;
  }
  RECT r{0, 0, 0, 0};
  font->DrawTextA(text.c_str(), -1, &r, DT_NOCLIP, 0xFFFFFFFFu);
  EXPECT_GE(font->PageCount(), 2u);
  size_t triangles = 0;
  for (const RecordedDraw& d : Recording().Draws())
    triangles += d.call.primitiveCount;
  EXPECT_EQ(Recording().Draws().size(), font->PageCount()) << "one draw per page";
  EXPECT_EQ(triangles, 2 * platform::Cp932ToUtf32(text).size()) << "every kanji has ink";
}

// ---- Pixels on llvmpipe ----

class FontPixels : public FontTest {
 protected:
  void SetUp() override {
    MakeDevice(BackendChoice::kOpenGL, 320, 48);
    ASSERT_EQ(device->CurrentBackendKind(), BackendKind::kOpenGL) << "no OpenGL context";
  }

  // Draws `text` with the font on `background` and compares every pixel with ExtTextOutA's
  // painting of the same text in the same colour (±1 per channel: blending rounds).
  void ExpectSameAsGdi(const gdi::LOGFONTA& lf, const std::string& text, uint32_t colour,
                       uint32_t background) {
    const int w = 320, h = 48;
    ClearTo(background);
    auto font = Make(lf);
    ASSERT_TRUE(font);
    RECT r{4, 6, 0, 0};
    font->DrawTextA(text.c_str(), -1, &r, DT_NOCLIP | DT_NOPREFIX, colour);
    const auto frame = Frame();

    gdi::testing::Canvas canvas(w, h);
    canvas.Use(gdi::CreateFontIndirectA(&lf));
    canvas.Clear(gdi::RGB(d3d::testing::Red(background), d3d::testing::Green(background),
                          d3d::testing::Blue(background)));
    gdi::SetBkMode(canvas.dc(), gdi::TRANSPARENT);
    gdi::SetTextColor(canvas.dc(), gdi::RGB(d3d::testing::Red(colour), d3d::testing::Green(colour),
                                            d3d::testing::Blue(colour)));
    ASSERT_TRUE(
        gdi::ExtTextOutA(canvas.dc(), 4, 6, 0, nullptr, text.data(), UINT(text.size()), nullptr));
    int ink = 0, worst = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint32_t p = frame[size_t(y) * w + size_t(x)];
        const gdi::COLORREF g = canvas.Pixel(x, y);
        const int d = std::max({std::abs(int(d3d::testing::Red(p)) - int(gdi::GetRValue(g))),
                                std::abs(int(d3d::testing::Green(p)) - int(gdi::GetGValue(g))),
                                std::abs(int(d3d::testing::Blue(p)) - int(gdi::GetBValue(g)))});
        worst = std::max(worst, d);
        ink += (p & 0xFFFFFF) != (background & 0xFFFFFF);
      }
    }
    EXPECT_LE(worst, 1) << platform::Cp932ToUtf8(text);
    EXPECT_GT(ink, 50) << platform::Cp932ToUtf8(text);
  }
};

TEST_F(FontPixels, LatinTextMatchesGdi) {
  ExpectSameAsGdi(Logfont("Arial", -16), "Hello, world! {WZ} 0123", 0xFFFFC000u, 0xFF102030u);
  ExpectSameAsGdi(Logfont("Arial", -12, gdi::FW_BOLD), "Bold & small", 0xFFFFFFFFu, 0xFF000000u);
}

TEST_F(FontPixels, JapaneseLineDrawsGlyphsNotBoxes) {
  const gdi::LOGFONTA lf = Logfont("ＭＳ 明朝", -21);
  const std::string line = platform::Utf8ToCp932("ドラッグ＆ドロップで変換");
  ExpectSameAsGdi(lf, line, 0xFFFFFFFFu, 0xFF000040u);
  // Every character has a glyph of its own: none looks like the face's missing-glyph box.
  gdi::UniqueFont f(gdi::CreateFontIndirectA(&lf));
  gdi::GlyphImage missing;
  ASSERT_TRUE(gdi::GetGlyphImage(f.get(), 0x10FFFD, &missing));
  for (char32_t c : platform::Cp932ToUtf32(line)) {
    gdi::GlyphImage g;
    ASSERT_TRUE(gdi::GetGlyphImage(f.get(), c, &g));
    EXPECT_FALSE(g.width == missing.width && g.height == missing.height &&
                 g.coverage == missing.coverage)
        << "U+" << std::hex << uint32_t(c);
  }
}

TEST_F(FontPixels, ColourAlphaWeightsTheCoverage) {
  ClearTo(0xFF000000u);
  auto font = Make(Logfont("Arial", -40, gdi::FW_BOLD));
  ASSERT_TRUE(font);
  RECT r{4, 0, 0, 0};
  font->DrawTextA("I", -1, &r, DT_NOCLIP, 0x80FFFFFFu);
  // The stem of a bold I is fully covered: white at half alpha over black.
  const auto frame = Frame();
  int brightest = 0;
  for (uint32_t p : frame)
    brightest = std::max(brightest, int(d3d::testing::Red(p)));
  EXPECT_NEAR(brightest, 128, 1);
}

}  // namespace
}  // namespace wz::d3dx
