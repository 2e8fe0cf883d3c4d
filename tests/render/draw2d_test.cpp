// Screen-space primitives: the line batch, the 2D scale factors, rectangles, triangles, quads in
// the four blend modes and sprites, at call level (recording backend) and, for the blend modes,
// in pixels on llvmpipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/library_2d_fixture.h"

namespace wz {
namespace {

using namespace d3d;
using testing::Library2D;

TEST(ScaleFactors, WindowOverReferenceWhenTextScalingIsOn) {
  struct Case {
    int w, h, refW, refH;
    bool on;
    float x, y;
  } cases[] = {
      {1920, 1080, 1280, 720, true, 1.5f, 1.5f}, {1280, 720, 1280, 720, true, 1.0f, 1.0f},
      {640, 720, 1280, 720, true, 0.5f, 1.0f},   {1920, 1080, 1280, 720, false, 1.0f, 1.0f},
      {1920, 1080, 0, 720, true, 1.0f, 1.0f},
  };
  for (const Case& c : cases) {
    ScaleFactors s = ScaleFactorsFor(c.w, c.h, c.refW, c.refH, c.on);
    EXPECT_EQ(s.x, c.x) << c.w << "x" << c.h;
    EXPECT_EQ(s.y, c.y) << c.w << "x" << c.h;
  }
  EXPECT_EQ(TextFontHeight(1.0f, 1.5f), 31);
  EXPECT_EQ(TextFontHeight(1.0f, 1.0f), 21);
  EXPECT_EQ(TextFontHeight(2.0f, 1.0f), 42);
  EXPECT_EQ(TextFontHeight(0.0f, 1.5f), 0);
  EXPECT_EQ(PackArgb(1, 2, 3, 4), 0x04010203u);
  EXPECT_EQ(PackArgb(256 + 7, -1, 0, 255), 0xFF07FF00u);
}

class Draw2D : public Library2D {
 protected:
  void SetUp() override { Start(BackendChoice::kRecording); }
  const std::vector<RecordedDraw>& Draws() { return Recording().Draws(); }
  static Vertex2D At(int x, int y) { return Vertex2D{x, y, 255, 255, 255, 255, 0, 0}; }
};

TEST_F(Draw2D, LineBatchDrawsUpToFiveThousandLinesInOneCall) {
  struct Case {
    const char* what;
    int lines;
    bool flush;
    std::vector<UINT> draws;  // primitives per draw call
  } cases[] = {
      {"no batch: each line at once", 3, false, {1, 1, 1}},
      {"4999 lines and a flush", 4999, true, {4999}},
      {"the 5000th line draws the batch", 5000, false, {5000}},
      {"the next lines start a new batch", 5003, true, {5000, 3}},
      {"a flush of nothing draws nothing", 0, true, {}},
  };
  for (const Case& c : cases) {
    Recording().ClearRecord();
    const bool batch = c.lines != 3;
    if (batch) lib().LineBatch_Begin();
    for (int i = 0; i < c.lines; ++i)
      lib().Line2D(At(i % 1280, 0), At(i % 1280, 10));
    if (c.flush) lib().LineBatch_Flush();
    ASSERT_EQ(Draws().size(), c.draws.size()) << c.what;
    for (size_t k = 0; k < c.draws.size(); ++k) {
      EXPECT_EQ(Draws()[k].call.type, D3DPT_LINELIST) << c.what;
      EXPECT_EQ(Draws()[k].call.kind, DrawCall::Kind::kPrimitiveUP) << c.what;
      EXPECT_EQ(Draws()[k].fvf, kScreenVertexFvf) << c.what;
      EXPECT_EQ(Draws()[k].call.primitiveCount, c.draws[k]) << c.what;
    }
    if (!c.draws.empty()) {
      // The lines keep their order: line i runs down column i.
      auto v = Vertices(Draws()[0]);
      for (size_t i = 0; i < v.size(); i += 50)
        EXPECT_EQ(v[i].x, float((i / 2) % 1280)) << c.what;
    }
    lib().LineBatch_Flush();  // batching off again for the next case
  }
  // A flush turns batching off: the next line draws at once.
  Recording().ClearRecord();
  lib().Line2D(At(0, 0), At(5, 5));
  EXPECT_EQ(Draws().size(), 1u);
}

TEST_F(Draw2D, EveryCornerCarriesItsColourAndTextureCoordinates) {
  lib().Line2D({10, 20, 1, 2, 3, 4, 0.25f, 0.5f}, {30, 40, 255, 128, 0, 64, 1.0f, 0.75f});
  lib().Triangle2D({0, 0, 255, 0, 0, 255, 0, 0}, {10, 0, 0, 255, 0, 255, 1, 0},
                   {0, 10, 0, 0, 255, 255, 0, 1});
  ASSERT_EQ(Draws().size(), 2u);
  EXPECT_EQ(Draws()[1].call.type, D3DPT_TRIANGLELIST);
  EXPECT_EQ(Draws()[1].call.primitiveCount, 1u);
  const ScreenVertex want[5] = {{10, 20, 0, 1, 0x04010203u, 0.25f, 0.5f},
                                {30, 40, 0, 1, 0x40FF8000u, 1.0f, 0.75f},
                                {0, 0, 0, 1, 0xFFFF0000u, 0, 0},
                                {10, 0, 0, 1, 0xFF00FF00u, 1, 0},
                                {0, 10, 0, 1, 0xFF0000FFu, 0, 1}};
  auto v = Vertices(Draws()[0]);
  auto t = Vertices(Draws()[1]);
  v.insert(v.end(), t.begin(), t.end());
  ASSERT_EQ(v.size(), 5u);
  for (size_t i = 0; i < 5; ++i)
    EXPECT_EQ(std::memcmp(&v[i], &want[i], sizeof(ScreenVertex)), 0) << i;
}

TEST_F(Draw2D, PositionsStretchToTheWindowOnceTheTextFontIsMade) {
  ResizeClient(1920, 1080);
  lib().Line2D(At(100, 100), At(200, 100));
  ASSERT_EQ(Draws().size(), 1u);
  EXPECT_EQ(Vertices(Draws()[0])[0].x, 100.0f) << "the factors change with the text font only";

  lib().TextFont_Create(1.0f);
  Recording().ClearRecord();
  lib().Line2D(At(100, 100), At(200, 100));
  ASSERT_EQ(Draws().size(), 1u);
  auto v = Vertices(Draws()[0]);
  EXPECT_EQ(v[0].x, 150.0f);
  EXPECT_EQ(v[0].y, 150.0f);
  EXPECT_EQ(v[1].x, 300.0f);
  EXPECT_EQ(v[1].y, 150.0f);
  ASSERT_NE(lib().Drawing2D().font, nullptr);
  gdi::LOGFONTA lf;
  lib().Drawing2D().font->GetLogFont(&lf);
  EXPECT_EQ(lf.lfHeight, 31);
}

TEST_F(Draw2D, RectangleIsFourEdgesTopRightBottomLeft) {
  lib().Rect2D(10, 20, 110, 70, 255, 0, 0, 200);
  ASSERT_EQ(Draws().size(), 4u);
  const float edges[4][4] = {
      {10, 20, 110, 20}, {110, 20, 110, 70}, {10, 70, 110, 70}, {10, 20, 10, 70}};
  for (size_t k = 0; k < 4; ++k) {
    auto v = Vertices(Draws()[k]);
    EXPECT_EQ(v[0].x, edges[k][0]) << k;
    EXPECT_EQ(v[0].y, edges[k][1]) << k;
    EXPECT_EQ(v[1].x, edges[k][2]) << k;
    EXPECT_EQ(v[1].y, edges[k][3]) << k;
    EXPECT_EQ(v[0].colour, 0xC8FF0000u);
    EXPECT_EQ(v[1].u, 0.0f);
  }
}

TEST_F(Draw2D, QuadDrawsInTheBlendModeAndLeavesModeZero) {
  struct Case {
    int32_t mode;
    DWORD op, source, destination;
  } cases[] = {
      {0, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
      {1, D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
      {2, D3DBLENDOP_REVSUBTRACT, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
      {3, D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE},
      // Any other mode sets nothing: the quad draws with the states as they were.
      {7, D3DBLENDOP_MAX, D3DBLEND_ZERO, D3DBLEND_DESTCOLOR},
  };
  for (const Case& c : cases) {
    Recording().ClearRecord();
    device().SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_MAX);
    device().SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    device().SetRenderState(D3DRS_DESTBLEND, D3DBLEND_DESTCOLOR);
    lib().BlendModeSet(c.mode);
    lib().Quad2D(At(0, 0), At(10, 0), At(10, 10), At(0, 10));
    ASSERT_EQ(Draws().size(), 1u) << c.mode;
    const RecordedDraw& d = Draws()[0];
    EXPECT_EQ(d.call.type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(d.call.primitiveCount, 2u);
    EXPECT_EQ(d.renderStates[D3DRS_BLENDOP], c.op) << c.mode;
    EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], c.source) << c.mode;
    EXPECT_EQ(d.renderStates[D3DRS_DESTBLEND], c.destination) << c.mode;
    EXPECT_EQ(lib().BlendMode(), 0) << c.mode;
    DWORD op = 0, source = 0, destination = 0;
    device().GetRenderState(D3DRS_BLENDOP, &op);
    device().GetRenderState(D3DRS_SRCBLEND, &source);
    device().GetRenderState(D3DRS_DESTBLEND, &destination);
    EXPECT_EQ(op, uint32_t(D3DBLENDOP_ADD)) << c.mode;
    EXPECT_EQ(source, uint32_t(D3DBLEND_SRCALPHA)) << c.mode;
    EXPECT_EQ(destination, uint32_t(D3DBLEND_INVSRCALPHA)) << c.mode;
  }
}

TEST_F(Draw2D, SpriteCornersAroundTheCentreTruncatedWithInsetTextureCoordinates) {
  const uint8_t white[4] = {255, 255, 255, 255};
  int32_t* cell = SolidTexture(64, 32, white);
  ASSERT_NE(cell, nullptr);
  struct Case {
    float angle, scaleX, scaleY;
    int corners[4][2];
  } cases[] = {
      {0, 1, 1, {{68, 84}, {132, 84}, {132, 116}, {68, 116}}},
      {0, 2, 1, {{36, 84}, {164, 84}, {164, 116}, {36, 116}}},
      {0, 0.5f, 0.25f, {{84, 96}, {116, 96}, {116, 104}, {84, 104}}},
      // A quarter turn clockwise on screen (y points down).
      {90, 1, 1, {{116, 68}, {116, 132}, {84, 132}, {84, 68}}},
  };
  for (const Case& c : cases) {
    Recording().ClearRecord();
    EXPECT_TRUE(lib().Sprite_Draw(cell, 100, 100, c.angle, c.scaleX, c.scaleY, 10, 20, 30, 40));
    ASSERT_EQ(Draws().size(), 1u);
    const RecordedDraw& d = Draws()[0];
    EXPECT_EQ(d.call.type, D3DPT_TRIANGLEFAN);
    EXPECT_EQ(d.textures[0], lib().Texture_Entry(*cell).texture.get());
    auto v = Vertices(d);
    const float uv[4][2] = {{0.01f, 0.01f}, {0.99f, 0.01f}, {0.99f, 0.99f}, {0.01f, 0.99f}};
    for (int k = 0; k < 4; ++k) {
      // The exact corners for the straight cases; within a pixel of the ideal turn otherwise.
      const float tolerance = c.angle == 0 ? 0.0f : 1.0f;
      EXPECT_NEAR(v[k].x, float(c.corners[k][0]), tolerance) << c.angle << " corner " << k;
      EXPECT_NEAR(v[k].y, float(c.corners[k][1]), tolerance) << c.angle << " corner " << k;
      EXPECT_EQ(v[k].x, std::trunc(v[k].x));
      EXPECT_EQ(v[k].u, uv[k][0]);
      EXPECT_EQ(v[k].v, uv[k][1]);
      EXPECT_EQ(v[k].colour, 0x280A141Eu);
    }
  }
}

TEST_F(Draw2D, SpriteWithoutATextureDrawsNothing) {
  int32_t minusOne = -1, pastTheTable = int32_t(lib().TextureCount()) + 5;
  EXPECT_FALSE(lib().Sprite_Draw(nullptr, 0, 0, 0, 1, 1, 255, 255, 255, 255));
  EXPECT_FALSE(lib().Sprite_Draw(&minusOne, 0, 0, 0, 1, 1, 255, 255, 255, 255));
  EXPECT_FALSE(lib().Sprite_Draw(&pastTheTable, 0, 0, 0, 1, 1, 255, 255, 255, 255));
  EXPECT_FALSE(lib().Sprite_Draw(&lib().TextureIds()[1000], 0, 0, 0, 1, 1, 255, 255, 255, 255))
      << "an id that was never given";
  EXPECT_TRUE(Draws().empty());
}

// ---- Pixels on llvmpipe ----

class Draw2DPixels : public Library2D {
 protected:
  void SetUp() override { Start(BackendChoice::kOpenGL); }
};

TEST_F(Draw2DPixels, SpriteInEachBlendModeOverAKnownBackground) {
  // An orange texel at half alpha over grey 100.
  const uint8_t bgra[4] = {0, 50, 200, 128};
  int32_t* cell = SolidTexture(4, 4, bgra);
  ASSERT_NE(cell, nullptr);
  const double a = 128 / 255.0, src[3] = {200, 50, 0}, dst = 100;
  struct Case {
    int32_t mode;
    double (*blend)(double s, double d, double a);
  } cases[] = {
      {0, [](double s, double d, double a) { return s * a + d * (1 - a); }},
      {1, [](double s, double d, double a) { return s * a + d; }},
      {2, [](double s, double d, double a) { return d - s * a; }},
      {3, [](double s, double d, double) { return s + d; }},
  };
  for (const Case& c : cases) {
    device().Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF646464u, 1.0f, 0);
    // The frame function's states for blending with the texture's alpha.
    device().SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device().SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    lib().BlendModeSet(c.mode);
    ASSERT_TRUE(lib().Sprite_Draw(cell, 640, 360, 0, 10, 10, 255, 255, 255, 255));
    const auto frame = device().ReadBackBuffer();
    const uint32_t p = frame[360 * 1280 + 640];
    const uint32_t outside = frame[300 * 1280 + 640];
    for (int k = 0; k < 3; ++k) {
      const double want = std::clamp(c.blend(src[k], dst, a), 0.0, 255.0);
      const int got = int((p >> (16 - 8 * k)) & 0xFF);
      EXPECT_NEAR(got, want, 1.0) << "mode " << c.mode << " channel " << k;
    }
    EXPECT_EQ(outside, 0xFF646464u) << "the sprite covers 40 x 40 pixels";
  }
}

}  // namespace
}  // namespace wz
