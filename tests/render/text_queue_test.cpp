// On-screen text: Text_Print's formatting and cut, the queue drawn in order with the D3DX font,
// rebuilds for other scales, positions stretched to the window, the font following the device,
// and the pixels a queued line puts on screen.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "render/library_2d_fixture.h"

namespace wz {
namespace {

using namespace d3d;
using testing::Library2D;

class TextQueue : public Library2D {
 protected:
  void SetUp() override { Start(BackendChoice::kRecording); }
  const std::vector<TextItem>& Queue() { return lib().Drawing2D().queue; }
  int FontHeight() {
    gdi::LOGFONTA lf;
    if (!lib().Drawing2D().font || Failed(lib().Drawing2D().font->GetLogFont(&lf))) return -1;
    return lf.lfHeight;
  }
};

TEST_F(TextQueue, PrintFormatsWithPrintfRulesAndCutsAt255Bytes) {
  const std::string kana = platform::Utf8ToCp932("あ");
  std::string longKana;
  for (int i = 0; i < 200; ++i)
    longKana += kana;
  struct Case {
    std::string expected;
    size_t length;
  } cases[] = {
      {"42-ab-  3.14-%", 14},
      {std::string(255, 'x'), 255},
      {longKana.substr(0, 254), 254},  // never half a two-byte character
      {"", 0},
  };
  lib().Text_Print(1, 2, "%d-%s-%6.2f-%%", 42, "ab", 3.14159);
  lib().Text_Print(1, 2, "%s", std::string(300, 'x').c_str());
  lib().Text_Print(1, 2, "%s", longKana.c_str());
  lib().Text_Print(1, 2, "%s", "");
  ASSERT_EQ(Queue().size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::string(Queue()[i].text), cases[i].expected) << i;
    EXPECT_EQ(std::string(Queue()[i].text).size(), cases[i].length) << i;
  }
  EXPECT_TRUE(Recording().Draws().empty()) << "nothing is drawn yet";
}

TEST_F(TextQueue, ItemsTakeTheCurrentColourAndScale) {
  lib().Text_Print(10, 20, "white");
  lib().Text_ColorSet(1, 2, 3, 4);
  lib().ScreenTextScaleSet(0.5f);
  lib().Text_Print(30, 40, "coloured");
  ASSERT_EQ(Queue().size(), 2u);
  const TextItem& a = Queue()[0];
  EXPECT_EQ(a.red + a.green + a.blue + a.alpha, 4 * 255);
  EXPECT_EQ(a.scale, 1.0f);
  const TextItem& b = Queue()[1];
  EXPECT_EQ(b.x, 30);
  EXPECT_EQ(b.y, 40);
  EXPECT_EQ(b.red, 1);
  EXPECT_EQ(b.green, 2);
  EXPECT_EQ(b.blue, 3);
  EXPECT_EQ(b.alpha, 4);
  EXPECT_EQ(b.scale, 0.5f);
}

TEST_F(TextQueue, DrawsEveryItemInOrderOnceAndEmptiesTheQueue) {
  EXPECT_EQ(FontHeight(), 21) << "start-up makes the text font at scale 1";
  const D3DCOLOR colours[3] = {0xFF0000FFu, 0x80FF0000u, 0xFF00FF00u};
  lib().Text_ColorSet(0, 0, 255, 255);
  lib().Text_Print(10, 10, "first");
  lib().Text_ColorSet(255, 0, 0, 128);
  lib().Text_Print(10, 30, "second");
  lib().Text_ColorSet(0, 255, 0, 255);
  lib().Text_Print(10, 50, "third %d", 3);
  lib().TextQueue_Draw();
  EXPECT_TRUE(Queue().empty());
  // One draw call for the lines of one font, their glyphs in queue order: 5, 6 and 6 of them.
  const auto& draws = Recording().Draws();
  ASSERT_EQ(draws.size(), 1u);
  auto v = DistinctVertices(draws[0]);
  ASSERT_EQ(v.size(), 4u * (5 + 6 + 6));
  for (size_t i = 0; i < v.size(); ++i) {
    const size_t line = i < 4 * 5 ? 0 : i < 4 * 11 ? 1 : 2;
    EXPECT_EQ(v[i].colour, colours[line]) << i;
    EXPECT_GE(v[i].y, float(10 + 20 * line) - 0.5f) << i;
  }
  Recording().ClearRecord();
  lib().TextQueue_Draw();
  EXPECT_TRUE(Recording().Draws().empty()) << "each line is drawn once";
}

TEST_F(TextQueue, OtherScalesRebuildTheFontAndScalesOfZeroOrLessAreNotDrawn) {
  lib().ScreenTextScaleSet(2.0f);
  lib().Text_Print(0, 0, "big");
  lib().ScreenTextScaleSet(0.0f);
  lib().Text_Print(0, 100, "hidden");
  lib().ScreenTextScaleSet(-1.0f);
  lib().Text_Print(0, 200, "hidden too");
  lib().TextQueue_Draw();
  EXPECT_TRUE(Queue().empty()) << "suppressed items leave the queue too";
  ASSERT_EQ(Recording().Draws().size(), 1u);
  EXPECT_EQ(lib().Drawing2D().fontScale, -1.0f);

  Recording().ClearRecord();
  lib().ScreenTextScaleSet(2.0f);
  lib().Text_Print(0, 0, "big");
  lib().TextQueue_Draw();
  EXPECT_EQ(FontHeight(), 42);
  EXPECT_EQ(Recording().Draws().size(), 1u);
}

TEST_F(TextQueue, PositionsStretchToTheWindow) {
  ResizeClient(1920, 1080);
  lib().Text_Print(100, 200, "Stretched");
  lib().TextQueue_Draw();
  ASSERT_EQ(Recording().Draws().size(), 1u);
  const auto drawn = Vertices(Recording().Draws()[0]);
  EXPECT_EQ(FontHeight(), 31) << "the font was made again after the reset, for the new window";
  // The same text drawn by the font itself at (150, 300).
  Recording().ClearRecord();
  RECT r{150, 300, 0, 0};
  lib().Drawing2D().font->DrawTextA("Stretched", -1, &r, d3dx::DT_NOCLIP, 0xFFFFFFFFu);
  ASSERT_EQ(Recording().Draws().size(), 1u);
  const auto direct = Vertices(Recording().Draws()[0]);
  ASSERT_EQ(drawn.size(), direct.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    EXPECT_EQ(drawn[i].x, direct[i].x) << i;
    EXPECT_EQ(drawn[i].y, direct[i].y) << i;
  }
}

TEST_F(TextQueue, FontIsReleasedWithTheDeviceResourcesAndMadeAgainWhenNeeded) {
  ASSERT_NE(lib().Drawing2D().font, nullptr);
  device().EndScene();
  lib().ResetDevice();
  EXPECT_EQ(lib().Drawing2D().font, nullptr);
  ASSERT_EQ(device().BeginScene(), S_OK);
  lib().Text_Print(5, 5, "again");
  lib().TextQueue_Draw();
  EXPECT_NE(lib().Drawing2D().font, nullptr);
  EXPECT_EQ(lib().Drawing2D().font->GetDevice(), &device());
  device().EndScene();
  lib().CleanupDevice();
  EXPECT_EQ(lib().Drawing2D().font, nullptr);
}

// ---- Pixels on llvmpipe ----

class TextQueuePixels : public Library2D {
 protected:
  void SetUp() override { Start(BackendChoice::kOpenGL); }

  // Queues `text` at (x, y), draws the queue over `background` and checks that every pixel that
  // changed lies inside the box DT_CALCRECT reports, lies between the background and the
  // colour, and that some pixels are the colour itself.
  void ExpectInkInsideTheBox(const std::string& text, int x, int y, int r, int g, int b) {
    const uint32_t background = 0xFF202020u;
    device().Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
    lib().Text_ColorSet(r, g, b, 255);
    lib().Text_Print(x, y, "%s", text.c_str());
    lib().TextQueue_Draw();
    RECT box{x, y, x, y};
    lib().Drawing2D().font->DrawTextA(text.c_str(), -1, &box,
                                      d3dx::DT_NOCLIP | d3dx::DT_NOPREFIX | d3dx::DT_CALCRECT, 0);
    ASSERT_GT(box.right, box.left);
    const auto frame = device().ReadBackBuffer();
    const int w = lib().WindowWidth(), h = lib().WindowHeight();
    size_t ink = 0, full = 0;
    const int want[3] = {r, g, b};
    for (int py = 0; py < h; ++py) {
      for (int px = 0; px < w; ++px) {
        const uint32_t p = frame[size_t(py) * size_t(w) + size_t(px)];
        if (p == background) continue;
        ++ink;
        ASSERT_TRUE(px >= box.left && px < box.right && py >= box.top && py < box.bottom)
            << "ink at " << px << "," << py << " outside the box";
        bool exact = true;
        for (int k = 0; k < 3; ++k) {
          const int c = int((p >> (16 - 8 * k)) & 0xFF);
          EXPECT_GE(c, std::min(want[k], 0x20) - 1);
          EXPECT_LE(c, std::max(want[k], 0x20) + 1);
          exact = exact && c == want[k];
        }
        full += exact;
      }
    }
    EXPECT_GT(ink, 100u) << platform::Cp932ToUtf8(text);
    EXPECT_GT(full, 10u) << platform::Cp932ToUtf8(text);
  }
};

TEST_F(TextQueuePixels, GlyphPixelsOfTheColourInsideTheCalcRectBoxOnly) {
  ExpectInkInsideTheBox("Hello, world! 0123456789", 40, 50, 255, 200, 0);
  // The converter's hint line, Japanese in the text font's face.
  ExpectInkInsideTheBox(platform::Utf8ToCp932("変換後の拡張子を選択して、ドラッグ＆ドロップで変換"),
                        12, 695, 255, 255, 255);
}

}  // namespace
}  // namespace wz
