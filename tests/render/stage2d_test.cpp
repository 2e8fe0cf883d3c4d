// The 2D stage at the end of a frame: unfiltered overlay textures, the application's overlay,
// the text queue and the fade over the reference screen.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/library_2d_fixture.h"

namespace wz {
namespace {

using namespace d3d;
using testing::Library2D;

class Stage2DTest : public Library2D {
 protected:
  void SetUp() override {
    Start(BackendChoice::kRecording);
    device().EndScene();  // the frame function opens its own scene
  }
  std::vector<const RecordedDraw*> Fans() {
    std::vector<const RecordedDraw*> fans;
    for (const RecordedDraw& d : Recording().Draws()) {
      if (d.call.type == D3DPT_TRIANGLEFAN) fans.push_back(&d);
    }
    return fans;
  }
};

TEST_F(Stage2DTest, FadeCoversTheReferenceScreenWithBlackOfTheMissingLevel) {
  struct Case {
    float fade;
    int alpha;  // -1: no fade quad
  } cases[] = {
      {0.0f, 255},
      {1.0f, -1},
      {0.5f, 128},
      {0.999f, 1},
      {2.0f, -1},
      {-1.0f, 255},  // below 0 is opaque, not a wrapped alpha
      {std::numeric_limits<float>::quiet_NaN(), 255},
  };
  for (const Case& c : cases) {
    lib().Rendering().fadeLevel = c.fade;
    Recording().ClearRecord();
    lib().RenderFrame();
    auto fans = Fans();
    if (c.alpha < 0) {
      EXPECT_TRUE(fans.empty()) << c.fade;
      continue;
    }
    ASSERT_EQ(fans.size(), 1u) << c.fade;
    EXPECT_EQ(fans[0], &Recording().Draws().back()) << "the fade is drawn last";
    EXPECT_EQ(fans[0]->textures[0], nullptr);
    auto v = Vertices(*fans[0]);
    const float corners[4][2] = {{0, 0}, {1280, 0}, {1280, 720}, {0, 720}};
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(v[k].x, corners[k][0]);
      EXPECT_EQ(v[k].y, corners[k][1]);
      EXPECT_EQ(v[k].colour, uint32_t(c.alpha) << 24) << c.fade;
    }
  }
}

TEST_F(Stage2DTest, OverlayRunsUnfilteredAndUntexturedThenTheTextThenTheFade) {
  const uint8_t white[4] = {255, 255, 255, 255};
  int32_t* cell = SolidTexture(4, 4, white);
  int overlays = 0;
  lib().SetOverlayHook([&] {
    ++overlays;
    lib().Line2D({0, 0, 255, 255, 255, 255, 0, 0}, {10, 10, 255, 255, 255, 255, 0, 0});
    lib().Text_Print(10, 15, "overlay");
  });
  lib().Texture_Set(*cell);  // left bound by earlier drawing
  lib().RenderFrame();
  EXPECT_EQ(overlays, 1);
  const auto& draws = Recording().Draws();
  ASSERT_EQ(draws.size(), 3u);
  EXPECT_EQ(draws[0].call.type, D3DPT_LINELIST);
  EXPECT_EQ(draws[0].textures[0], nullptr);
  EXPECT_EQ(draws[0].samplers[0][D3DSAMP_MINFILTER], uint32_t(D3DTEXF_NONE));
  EXPECT_EQ(draws[0].samplers[0][D3DSAMP_MAGFILTER], uint32_t(D3DTEXF_NONE));
  EXPECT_EQ(draws[1].call.kind, DrawCall::Kind::kIndexedPrimitiveUP) << "the queued text";
  EXPECT_EQ(draws[2].call.type, D3DPT_TRIANGLEFAN) << "the fade";
  EXPECT_TRUE(lib().Drawing2D().queue.empty());

  // Paused, the frame function draws nothing at all.
  Recording().ClearRecord();
  lib().Pause(true);
  lib().RenderFrame();
  lib().Pause(false);
  EXPECT_EQ(overlays, 1);
  EXPECT_TRUE(Recording().Draws().empty());
}

class Stage2DPixels : public Library2D {
 protected:
  void SetUp() override {
    Start(BackendChoice::kOpenGL);
    device().EndScene();
  }
};

TEST_F(Stage2DPixels, StartLevelShowsBlackAndFullLevelShowsTheFrame) {
  lib().Rendering().background[0] = 200;
  lib().Rendering().background[1] = 100;
  lib().Rendering().background[2] = 50;
  for (float fade : {0.0f, 1.0f}) {
    lib().Rendering().fadeLevel = fade;
    lib().RenderFrame();
    const auto frame = device().ReadBackBuffer();
    const uint32_t want = fade == 0.0f ? 0xFF000000u : 0xFFC86432u;
    for (size_t i : {size_t(0), frame.size() / 2 + 640, frame.size() - 1})
      EXPECT_EQ(frame[i], want) << fade;
  }
}

}  // namespace
}  // namespace wz
