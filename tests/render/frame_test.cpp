// The frame function: the clear, the states every frame starts from, the material and the light,
// the order of the passes, the draw lists (which groups are transparent, how they are sorted)
// and the culling of display objects. Call level, on the recording backend.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/d3dx/image_fixtures.h"
#include "platform/file_io.h"
#include "render/model_drawing.h"
#include "render/render_fixture.h"

namespace wz {
namespace {

using testing::LibraryEnvironment;
using testing::StartedLibrary;

TEST(RenderFrame, ClearsToTheBackgroundColourWithFullAlphaUnlessPaused) {
  struct Case {
    uint8_t red, green, blue;
    uint32_t cleared;
  } cases[] = {
      {0, 0, 0, 0xFF000000u},
      {0x12, 0x34, 0x56, 0xFF123456u},
      {0xFF, 0, 0, 0xFFFF0000u},
      {0, 0, 0xFF, 0xFF0000FFu},
  };
  LibraryEnvironment environment;
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  s.library.Rendering().fadeLevel = 1.0f;  // no black cover over the frame
  auto pixels = [&s] { return s.library.Device()->ReadBackBuffer(); };
  for (const Case& c : cases) {
    uint8_t* bg = s.library.Rendering().background;
    bg[0] = c.red, bg[1] = c.green, bg[2] = c.blue;
    const uint32_t presents = s.library.Device()->PresentCount();
    s.library.RenderFrame();
    EXPECT_EQ(pixels().front(), c.cleared);
    EXPECT_EQ(pixels().back(), c.cleared);
    // Presenting is the caller's.
    EXPECT_EQ(s.library.Device()->PresentCount(), presents);
  }
  s.library.Pause(true);
  s.library.Rendering().background[1] = 0x77;
  s.library.RenderFrame();
  EXPECT_EQ(pixels().front(), cases[3].cleared);
  s.library.Pause(false);
  s.library.RenderFrame();
  EXPECT_EQ(pixels().front(), 0xFF0077FFu);
}

}  // namespace

namespace testing {
namespace {

using namespace d3d;

class Frame : public RenderTest {
 protected:
  void SetUp() override { Start(d3d::BackendChoice::kRecording); }

  // A triangle facing the default camera around (x, y, z), in its own group of colour `c`.
  static void AddTriangle(Model& m, Vec3 at, ColourF c, int32_t group) {
    const int32_t base = m.positionCount;
    GrowPositionPools(m, size_t(base) + 3);
    m.positions[size_t(base)] = {at.x - 0.5f, at.y - 0.5f, at.z};
    m.positions[size_t(base) + 1] = {at.x, at.y + 0.5f, at.z};
    m.positions[size_t(base) + 2] = {at.x + 0.5f, at.y - 0.5f, at.z};
    m.positionCount = base + 3;
    Polygon p;
    p.cornerCount = 3;
    for (int k = 0; k < 3; ++k)
      p.corners[size_t(k)].position = base + k;
    p.group = group;
    m.polygons.push_back(p);
    m.polygonCount = int32_t(m.polygons.size());
    GrowTo(m.groups, size_t(group) + 1, NewGroup());
    m.groupCount = std::max(m.groupCount, group + 1);
    m.groups[size_t(group)].colour = c;
  }

  static D3DCOLOR Diffuse(const RecordedDraw& d) { return VertexOf<SceneVertex>(d, 0).diffuse; }
};

TEST_F(Frame, WritesTheFrameStatesMaterialAndLightBeforeTheModelsDraw) {
  const ModelId id = AddModel([](Model& m) {
    AddTriangle(m, {0, 0, 0}, {255, 0, 0, 255}, 0);
    m.shadingMode = 0;
  });
  Show(id);
  Lib().Light_Set({1, 2, 3}, {0.5f, 0.25f, 1.0f});
  Lib().Rendering().background[0] = 0x20;
  const auto draws = FrameDraws();
  ASSERT_FALSE(draws.empty());
  const RecordedDraw& d = draws.front();
  struct State {
    D3DRENDERSTATETYPE state;
    DWORD value;
  } states[] = {{D3DRS_DITHERENABLE, 1},
                {D3DRS_ZENABLE, D3DZB_TRUE},
                {D3DRS_NORMALIZENORMALS, 1},
                {D3DRS_ALPHABLENDENABLE, 1},
                {D3DRS_ALPHATESTENABLE, 0},
                {D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
                {D3DRS_ALPHAREF, 1},
                {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
                {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
                {D3DRS_FILLMODE, D3DFILL_SOLID},
                {D3DRS_LIGHTING, 1}};
  for (const State& s : states)
    EXPECT_EQ(d.renderStates[s.state], s.value) << s.state;
  EXPECT_EQ(d.stages[0][D3DTSS_COLORARG1], D3DTA_TEXTURE);
  EXPECT_EQ(d.stages[0][D3DTSS_COLORARG2], D3DTA_DIFFUSE);
  EXPECT_EQ(d.stages[0][D3DTSS_COLOROP], D3DTOP_MODULATE);
  EXPECT_EQ(d.stages[0][D3DTSS_ALPHAARG1], D3DTA_TEXTURE);
  EXPECT_EQ(d.stages[0][D3DTSS_ALPHAOP], D3DTOP_MODULATE);
  for (auto sampler : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER})
    EXPECT_EQ(d.samplers[0][sampler], D3DTEXF_LINEAR);
  EXPECT_EQ(d.samplers[0][D3DSAMP_ADDRESSU], D3DTADDRESS_WRAP);
  EXPECT_EQ(d.samplers[0][D3DSAMP_ADDRESSV], D3DTADDRESS_WRAP);
  EXPECT_EQ(d.enabledLights, 1);

  d3d::D3DMATERIAL9 material;
  Device().GetMaterial(&material);
  EXPECT_EQ(material.Diffuse, (d3d::D3DCOLORVALUE{1, 1, 1, 1}));
  EXPECT_EQ(material.Ambient, (d3d::D3DCOLORVALUE{1, 1, 1, 1}));
  EXPECT_EQ(material.Specular, (d3d::D3DCOLORVALUE{0, 0, 0, 0}));
  EXPECT_EQ(material.Power, 20.0f);
  d3d::D3DLIGHT9 light;
  ASSERT_EQ(Device().GetLight(1, &light), S_OK);
  EXPECT_EQ(light.Type, d3d::D3DLIGHT_POINT);
  EXPECT_EQ(light.Diffuse, (d3d::D3DCOLORVALUE{0.5f, 0.25f, 1.0f, 0}));
  EXPECT_EQ(light.Ambient, (d3d::D3DCOLORVALUE{0.125f, 0.125f, 0.125f, 0}));
  EXPECT_EQ(light.Specular, (d3d::D3DCOLORVALUE{1, 1, 1, 0}));
  EXPECT_EQ(light.Position, (d3d::D3DVECTOR{1, 2, 3}));
  EXPECT_EQ(light.Range, 65000.0f);
  EXPECT_EQ(light.Attenuation0, 1.0f);
  EXPECT_EQ(light.Attenuation1, 0.0f);

  const auto& clears = Recording().Clears();
  ASSERT_FALSE(clears.empty());
  EXPECT_EQ(clears.back().colour, 0xFF200000u);
  EXPECT_EQ(clears.back().flags, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
  EXPECT_EQ(clears.back().z, 1.0f);
}

TEST_F(Frame, PassesRunInTheirOrderAndTheHookLast) {
  // Model a: an opaque red and a transparent green group, with the edge pass; b: blue, blob
  // shadow; c: yellow, planar shadow.
  const ModelId a = AddModel([](Model& m) {
    AddTriangle(m, {0, 0, 0}, {255, 0, 0, 255}, 0);
    AddTriangle(m, {1, 0, 0}, {0, 255, 0, 200}, 1);
    m.shadingMode = 0;
    m.edgePassOn = 1;
  });
  const ModelId b = AddModel([](Model& m) {
    AddTriangle(m, {0, 1, 0}, {0, 0, 255, 255}, 0);
    m.shadingMode = 0;
    m.drawingState.shadowType = 1;
  });
  const ModelId c = AddModel([](Model& m) {
    AddTriangle(m, {0, -1, 0}, {255, 255, 0, 255}, 0);
    m.shadingMode = 0;
    m.drawingState.shadowType = 2;
  });
  Show(a), Show(b), Show(c);
  Lib().Scene3DHookSet([this] {
    WorldVertex v0, v1;
    v1.x = 1;
    v0.red = v1.red = 7;
    Lib().Line3D(v0, v1);
  });
  const auto draws = FrameDraws();
  std::vector<std::string> seen;
  for (const RecordedDraw& d : draws) {
    const D3DCOLOR c0 = Diffuse(d);
    if (d.call.type == D3DPT_LINELIST) {
      seen.push_back(R(c0) == 7 ? "hook" : "line");
    } else if (c0 == 0xFFFF0000u) {
      seen.push_back("red");
    } else if (c0 == 0xC800FF00u) {
      seen.push_back("green");
    } else if (c0 == 0xFF0000FFu) {
      seen.push_back("blue");
    } else if (c0 == 0xFFFFFF00u) {
      seen.push_back("yellow");
    } else if (c0 == 0xFFFFFFFFu) {
      seen.push_back("blob");
    } else if (c0 == 0xFF000000u) {
      seen.push_back(d.renderStates[D3DRS_FILLMODE] == D3DFILL_SOLID &&
                             VertexOf<SceneVertex>(d, 0).ny == 1
                         ? "planar"
                         : "edge");
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"red", "blue", "yellow", "green", "blob", "blob",
                                            "planar", "edge", "edge", "hook"}));
}

TEST_F(Frame, TransparentGroupsAreThoseWithAlphaATrailingSwitchOrAnAlphaImage) {
  // Textures from real files: a PNG with an alpha channel and a JPEG.
  const std::string dir = std::filesystem::current_path().string();
  wz::test::PngLayout png;
  png.width = png.height = 2;
  png.colorType = 6;
  png.rows = {std::vector<uint8_t>(8, 200), std::vector<uint8_t>(8, 200)};
  wz::test::JpegLayout jpeg;
  jpeg.width = jpeg.height = 8;
  jpeg.samples.assign(8 * 8 * 3, 128);
  const auto pngBytes = wz::test::EncodePng(png);
  WriteFile(dir + "/alpha.png", std::string(pngBytes.begin(), pngBytes.end()));
  const auto jpegBytes = wz::test::EncodeJpeg(jpeg);
  WriteFile(dir + "/plain.jpg", std::string(jpegBytes.begin(), jpegBytes.end()));
  const ModelId id = AddModel([](Model& m) {
    AddTriangle(m, {0, 0, 0}, {200, 200, 200, 200}, 0);  // alpha below 255
    AddTriangle(m, {0, 0, 0}, {200, 200, 200, 255}, 1);  // PNG with alpha
    AddTriangle(m, {0, 0, 0}, {200, 200, 200, 255}, 2);  // JPEG
    AddTriangle(m, {0, 0, 0}, {200, 200, 200, 255}, 3);  // trailing switch
    AddTriangle(m, {0, 0, 0}, {200, 200, 200, 255}, 4);  // nothing
    m.groups[3].trailingSwitch = 1;
    m.textureSlots.resize(3);
    m.textureSlotCount = 3;
    m.groups[1].textureSlot = 1;
    m.groups[2].textureSlot = 2;
  });
  Lib().ModelTexture_Load(id, 1, platform::LibraryPath(dir + "/alpha.png"));
  Lib().ModelTexture_Load(id, 2, platform::LibraryPath(dir + "/plain.jpg"));
  ASSERT_TRUE(Lib().Model3_Runtime(id)->textures[1]);
  ASSERT_TRUE(Lib().Model3_Runtime(id)->textures[2]);
  Show(id);
  const int32_t hidden = Show(id);
  Lib().ModelObject_VisibleSet(hidden, false);
  Lib().DrawLists_Build();
  auto groups = [](const std::vector<DrawEntry>& list) {
    std::vector<int32_t> out;
    for (const DrawEntry& e : list)
      out.push_back(e.group);
    return out;
  };
  EXPECT_EQ(groups(Lib().Rendering().lists.transparent), (std::vector<int32_t>{0, 1, 3}));
  EXPECT_EQ(groups(Lib().Rendering().lists.opaque), (std::vector<int32_t>{2, 4}));
  // A model that is not loaded is not listed.
  Lib().Model3_Get(id)->loaded.Set(0);
  Lib().DrawLists_Build();
  EXPECT_TRUE(Lib().Rendering().lists.opaque.empty());
}

TEST_F(Frame, TransparentGroupsDrawFarthestFirstAndEqualDistancesInListOrder) {
  // The default eye is at z = -15: a group centred at z = -10 is 5 away, at z = -6 9 away.
  struct Case {
    std::vector<float> distances;
    std::vector<int32_t> drawn;  // groups, in drawing order
  } cases[] = {{{5, 9}, {1, 0}}, {{9, 5}, {0, 1}}, {{5, 5}, {0, 1}}, {{7, 5, 9, 7}, {2, 0, 3, 1}}};
  for (const Case& c : cases) {
    const ModelId id = AddModel([&c](Model& m) {
      for (size_t g = 0; g < c.distances.size(); ++g)
        AddTriangle(m, {0, 0, c.distances[g] - 15}, {float(g), 0, 0, 100}, int32_t(g));
      m.shadingMode = 0;
    });
    const int32_t object = Show(id);
    std::vector<int32_t> drawn;
    for (const RecordedDraw& d : FrameDraws())
      drawn.push_back(R(Diffuse(d)));
    EXPECT_EQ(drawn, c.drawn);
    const auto& list = Lib().Rendering().lists.transparent;
    ASSERT_EQ(list.size(), c.distances.size());
    EXPECT_NEAR(list.front().distance, *std::max_element(c.distances.begin(), c.distances.end()),
                1e-4f);
    Lib().ModelObject_Release(object);
  }
}

TEST_F(Frame, CullingLeavesOutObjectsFarOffTheScreenWhenAsked) {
  const ModelId id = AddModel([](Model& m) {
    AddTriangle(m, {0, 0, 0}, {255, 0, 0, 255}, 0);
    m.shadingMode = 0;
  });
  const int32_t o = Show(id);
  struct Case {
    Vec3 position;
    bool culled;
  } cases[] = {{{0, 0, 0}, false},   {{0, 0, -30}, true}, {{0, 0, 600}, true},  {{200, 0, 0}, true},
               {{-200, 0, 0}, true}, {{0, 100, 0}, true}, {{0, -100, 0}, true}, {{3, 3, 0}, false}};
  for (const Case& c : cases) {
    Lib().ModelObject_PositionSet(o, c.position);
    Lib().ModelObject_CullSet(o, true);
    EXPECT_EQ(FrameDraws().empty(), c.culled)
        << c.position.x << "," << c.position.y << "," << c.position.z;
    EXPECT_EQ(Lib().ModelObject_Get(o)->culled, c.culled);
    Lib().ModelObject_CullSet(o, false);
    EXPECT_FALSE(FrameDraws().empty());
  }
}

}  // namespace
}  // namespace testing
}  // namespace wz

namespace wz::testing {
namespace {

TEST(RenderResources, AResetDropsTheModelBuffersAndTheNextFrameMakesThemAgain) {
  LibraryEnvironment environment;
  d3d::SetBackendChoice(d3d::BackendChoice::kRecording);
  StartedLibrary s;
  d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
  ASSERT_TRUE(s.started);
  Library& lib = s.library;
  const ModelId id = lib.Model3_Create();
  Model& m = *lib.Model3_Get(id);
  SquareFacingCamera(m);
  ComputeBoundsAndShading(m, false);
  m.loaded.Set(1);
  ASSERT_EQ(m.shadingMode, 3);  // the indexed buffers
  lib.ModelObject_ModelSet(lib.ModelObject_Create(), id);
  auto bufferDraws = [&] {
    d3d::AsRecording(lib.Device()->GetBackend(true))->ClearRecord();
    lib.RenderFrame();
    int n = 0;
    for (const auto& d : d3d::AsRecording(lib.Device()->GetBackend(true))->Draws())
      n += d.call.kind == d3d::DrawCall::Kind::kIndexedPrimitive;
    return n;
  };
  EXPECT_EQ(bufferDraws(), 1);
  ModelRuntime& rt = *lib.Model3_Runtime(id);
  ASSERT_TRUE(rt.drawing);
  const auto before = rt.drawing->groups[0].vertexBuffer;
  ASSERT_EQ(lib.ResetDevice(), S_OK);
  EXPECT_FALSE(rt.drawing);
  EXPECT_EQ(bufferDraws(), 1);
  ASSERT_TRUE(rt.drawing);
  EXPECT_NE(rt.drawing->groups[0].vertexBuffer, before);
  // A changed model is made again too.
  const auto made = rt.drawing;
  lib.Model3_GeometryChanged(id);
  EXPECT_EQ(bufferDraws(), 1);
  EXPECT_NE(rt.drawing, made);
}

}  // namespace
}  // namespace wz::testing
