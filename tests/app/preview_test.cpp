// The converter's preview hooks: the projection, the information lines and the hint, the grid
// and the axis marker at call level, and the model a load puts on show.
#include "app/preview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "app/converter.h"
#include "platform/text.h"
#include "platform/window.h"
#include "render/render_fixture.h"

namespace wz {
namespace {

TEST(PreviewProjection, MapsClipSpaceOntoTheViewportAndRefusesWhatHasNoPlace) {
  Mat4 perspective = MatrixIdentity();  // w = z: a point at depth 2 is halved
  perspective.m[2][3] = 1.0f;
  perspective.m[3][3] = 0.0f;
  struct Case {
    Mat4 m;
    Vec3 p;
    bool ok;
    ScreenPoint expected;
  };
  const Case cases[] = {
      {MatrixIdentity(), {0, 0, 0}, true, {50, 25}},
      {MatrixIdentity(), {1, 1, 0}, true, {100, 0}},
      {MatrixIdentity(), {-1, -1, 0}, true, {0, 50}},
      {MatrixIdentity(), {0.5f, -0.5f, 7}, true, {75, 37}},  // 37.5 truncated
      {MatrixIdentity(), {-1.01f, 0, 0}, true, {0, 25}},     // -0.5 truncates towards 0
      {perspective, {2, 2, 2}, true, {100, 0}},
      {perspective, {1, 0, 2}, true, {75, 25}},
      {perspective, {1, 1, 0}, false, {-7, -7}},  // w = 0
      {MatrixIdentity(), {1e30f, 0, 0}, false, {-7, -7}},
      {MatrixIdentity(), {std::numeric_limits<float>::quiet_NaN(), 0, 0}, false, {-7, -7}},
  };
  for (const Case& c : cases) {
    ScreenPoint out{-7, -7};
    EXPECT_EQ(ProjectToScreen(c.m, 100, 50, c.p, out), c.ok) << c.p.x << "," << c.p.y;
    EXPECT_EQ(out, c.expected) << c.p.x << "," << c.p.y << "," << c.p.z;
  }
}

}  // namespace

namespace testing {
namespace {

using namespace d3d;

class Preview : public RenderTest {
 protected:
  void SetUp() override {
    Start(BackendChoice::kRecording);
    converter_ = std::make_unique<Converter>(Lib());
    converter_->Install();
  }
  void TearDown() override {
    converter_.reset();
    RenderTest::TearDown();
  }
  LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) {
    return platform::SendMessageA(Lib().MainWindow(), msg, w, l);
  }
  // The text lines the overlay queues, as UTF-8 with their positions.
  std::vector<std::string> OverlayLines() {
    const size_t before = Lib().Drawing2D().queue.size();
    PreviewOverlay(Lib());
    std::vector<std::string> out;
    const auto& queue = Lib().Drawing2D().queue;
    for (const TextItem& t : std::vector<TextItem>(queue.begin() + long(before), queue.end())) {
      out.push_back(std::to_string(t.x) + "," + std::to_string(t.y) + " " +
                    platform::Cp932ToUtf8(t.text));
    }
    return out;
  }
  // The frame's line draws of the scene hook: world lines (FVF 0x1D2) or screen lines.
  std::vector<RecordedDraw> LineDraws(DWORD fvf) {
    std::vector<RecordedDraw> out;
    for (const RecordedDraw& d : FrameDraws())
      if (d.call.type == D3DPT_LINELIST && d.fvf == fvf) out.push_back(d);
    return out;
  }
  std::unique_ptr<Converter> converter_;
};

const std::string kHint =
    "12,695 変換後の拡張子を選択して、複数ファイルをドラッグ＆ドロップで、コンバートできるように"
    "なりました。( WZP形式の場合、最新版にコンバート )";

TEST_F(Preview, OverlayDescribesTheLoadedModelOfSlotZeroAndAlwaysGivesTheHint) {
  EXPECT_EQ(OverlayLines(), std::vector<std::string>{kHint});
  const ModelId id = AddModel([](Model& m) {
    std::vector<std::vector<int>> faces(1234, std::vector<int>{0, 1, 2});
    SetMesh(m, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, faces);
    m.fileName.Set("C:\\data\\chair.lwo");
    m.textureSlotCount = 0;
  });
  ASSERT_EQ(id, 0);
  Model& m = *Lib().Model3_Get(0);
  m.groupCount = 3;
  EXPECT_EQ(OverlayLines(), (std::vector<std::string>{
                                "10,15 ファイル名 : C:\\data\\chair.lwo",
                                "10,40 ポリゴン　 : 1234",
                                "10,60 グループ　 : 3",
                                "10,80 テクスチャ : 0",
                                kHint,
                            }));
  // While the loader thread still fills the slot, the model is not read.
  m.loaded.Set(0);
  EXPECT_EQ(OverlayLines(), std::vector<std::string>{kHint});
}

TEST_F(Preview, GridIsEightyTwoGreyAndTwoDarkerLinesInTheFloorPlane) {
  EXPECT_TRUE(LineDraws(kSceneFvf).empty());  // the switch is off from start-up
  converter_->State().gridShown = true;
  const std::vector<RecordedDraw> lines = LineDraws(kSceneFvf);
  ASSERT_EQ(lines.size(), 84u);
  int grey = 0, dark = 0;
  for (const RecordedDraw& d : lines) {
    for (size_t v = 0; v < 2; ++v) {
      const SceneVertex sv = VertexOf<SceneVertex>(d, v);
      EXPECT_EQ(sv.y, 0.0f);
      EXPECT_LE(std::fabs(sv.x), 20.0f);
      EXPECT_LE(std::fabs(sv.z), 20.0f);
    }
    const D3DCOLOR c = VertexOf<SceneVertex>(d, 0).diffuse;
    grey += c == 0xFF707070u;
    dark += c == 0xFF505050u;
    EXPECT_EQ(d.renderStates[D3DRS_LIGHTING], 0u);
  }
  EXPECT_EQ(grey, 82);
  EXPECT_EQ(dark, 2);
  // The darker two are last: the centre lines along x and z.
  EXPECT_EQ(VertexOf<SceneVertex>(lines[82], 0).z, 0.0f);
  EXPECT_EQ(VertexOf<SceneVertex>(lines[83], 0).x, 0.0f);
}

TEST_F(Preview, AxisMarkerIsDrawnWhileAButtonIsDownAndKeptStillUnderTheLeftButton) {
  converter_->State().zoom = 1.0f;
  EXPECT_TRUE(LineDraws(kScreenVertexFvf).empty());  // no button down
  auto ends = [&] {
    std::vector<std::pair<ScreenVertex, ScreenVertex>> out;
    for (const RecordedDraw& d : LineDraws(kScreenVertexFvf))
      out.push_back({VertexOf<ScreenVertex>(d, 0), VertexOf<ScreenVertex>(d, 1)});
    return out;
  };
  Send(platform::WM_RBUTTONDOWN);
  auto marker = ends();
  ASSERT_EQ(marker.size(), 3u);
  const D3DCOLOR colours[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
  for (int axis = 0; axis < 3; ++axis) {
    EXPECT_EQ(marker[size_t(axis)].first.colour, colours[axis]) << axis;  // alpha 0
    EXPECT_EQ(marker[size_t(axis)].second.colour, colours[axis] | 0x80000000u) << axis;
  }
  // From the projected origin: x to the right, y upwards on the screen.
  const ScreenVertex centre = marker[0].first;
  EXPECT_GT(marker[0].second.x, centre.x);
  EXPECT_LT(marker[1].second.y, centre.y);
  Send(platform::WM_RBUTTONUP);
  EXPECT_TRUE(LineDraws(kScreenVertexFvf).empty());

  // Under the left button the marker keeps the points projected last, whatever the zoom does.
  converter_->State().zoom = 3.0f;
  Send(platform::WM_LBUTTONDOWN);
  auto still = ends();
  ASSERT_EQ(still.size(), 3u);
  for (int axis = 0; axis < 3; ++axis)
    EXPECT_EQ(still[size_t(axis)].second.x, marker[size_t(axis)].second.x) << axis;
  Send(platform::WM_LBUTTONUP);
  Send(platform::WM_MBUTTONDOWN);  // projected again: three times as long
  auto longer = ends();
  ASSERT_EQ(longer.size(), 3u);
  EXPECT_GT(longer[0].second.x - centre.x, 2.5f * (marker[0].second.x - centre.x));
  Send(platform::WM_MBUTTONUP);
}

TEST_F(Preview, WheelLeavesAZeroZoomAtZero) {
  for (WPARAM delta : {WPARAM(120) << 16, WPARAM(uint16_t(-120)) << 16, WPARAM(0)}) {
    Send(platform::WM_MOUSEWHEEL, delta);
    EXPECT_EQ(converter_->State().zoom, 0.0f);
  }
  converter_->State().zoom = 1.0f;
  Send(platform::WM_MOUSEWHEEL, WPARAM(uint16_t(-120)) << 16);
  EXPECT_FLOAT_EQ(converter_->State().zoom, 1.2f);
}

TEST_F(Preview, ALoadShowsTheModelThroughDisplayObjectZero) {
  TempDir dir;
  WriteFile(dir / "quad.mqo",
            "Metasequoia Document\r\nFormat Text Ver 1.0\r\nObject \"o\" {\r\n\tvertex 4 {\r\n"
            "\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t10 10 0\r\n\t\t0 10 0\r\n\t}\r\n\tface 2 {\r\n"
            "\t\t3 V(0 1 2)\r\n\t\t3 V(0 2 3)\r\n\t}\r\n}\r\nEof\r\n");
  platform::SetCurrentDirectoryA(platform::LibraryPath(dir.path()));
  converter_->Load("quad.mqo");
  ASSERT_NE(converter_->State().currentModel, nullptr);
  const ModelObject* o = Lib().ModelObject_Get(0);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->model, 0);
  // Framed: the quad's centre sits on the view's axis.
  const Model& m = *converter_->State().currentModel;
  EXPECT_GT(m.boundsMax.x, m.boundsMin.x);
  EXPECT_NEAR(o->world.m[3][0], -(m.boundsMin.x + m.boundsMax.x) / 2, 1e-4f);
  EXPECT_NEAR(o->world.m[3][1], -(m.boundsMin.y + m.boundsMax.y) / 2, 1e-4f);
  int triangles = 0;
  for (const RecordedDraw& d : FrameDraws())
    if (d.call.type == D3DPT_TRIANGLELIST) triangles += int(d.call.primitiveCount);
  EXPECT_GE(triangles, 2);
}

}  // namespace
}  // namespace testing
}  // namespace wz
