// Drawing one group, at call level: the fan of a quad, the fill by display mode and group
// shading, the bone colours of display mode 3, the geometry of every shading mode, the texture
// of stage 0, alpha test, lighting, the toon stage, points and lines of short polygons, and the
// drawn-triangle counter.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/d3dx/image_fixtures.h"
#include "platform/file_io.h"
#include "render/render_fixture.h"

namespace wz::testing {
namespace {

using namespace d3d;

// A quad facing the camera with four distinct corners, group 0.
void Quad(Model& m) {
  SquareFacingCamera(m);
}

class GroupDraw : public RenderTest {
 protected:
  void SetUp() override { Start(BackendChoice::kRecording); }

  // The draws of one frame of a model shown by one object.
  std::vector<RecordedDraw> DrawModel(ModelId id) {
    const int32_t o = Show(id);
    auto draws = FrameDraws();
    Lib().ModelObject_Release(o);
    return draws;
  }
};

TEST_F(GroupDraw, QuadIsDrawnAsTheTrianglesZeroOneTwoAndZeroTwoThree) {
  const ModelId id = AddModel([](Model& m) {
    Quad(m);
    m.shadingMode = 0;
  });
  const auto draws = DrawModel(id);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].fvf, 0x1D2u);
  EXPECT_EQ(draws[0].call.kind, DrawCall::Kind::kPrimitiveUP);
  EXPECT_EQ(draws[0].call.primitiveCount, 2u);
  const Model& m = *Lib().Model3_Get(id);
  const auto p = PositionsOf(draws[0]);
  const int order[6] = {0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(p[size_t(i)], m.positions[size_t(order[i])]) << i;
  EXPECT_EQ(Lib().DrawnTriangles(), 2);
}

TEST_F(GroupDraw, DisplayModeChoosesTheFillOverTheGroupShading) {
  struct Case {
    int32_t displayMode, groupShading;
    DWORD fill, shade;
  } cases[] = {
      {0, 4, D3DFILL_POINT, D3DSHADE_GOURAUD}, {1, 4, D3DFILL_WIREFRAME, D3DSHADE_GOURAUD},
      {2, 4, D3DFILL_SOLID, D3DSHADE_GOURAUD}, {3, 4, D3DFILL_SOLID, D3DSHADE_GOURAUD},
      {2, 1, D3DFILL_POINT, D3DSHADE_GOURAUD}, {2, 2, D3DFILL_WIREFRAME, D3DSHADE_GOURAUD},
      {2, 3, D3DFILL_SOLID, D3DSHADE_FLAT},    {1, 3, D3DFILL_WIREFRAME, D3DSHADE_FLAT},
      {2, 5, D3DFILL_SOLID, D3DSHADE_GOURAUD},
  };
  for (const int32_t mode : {0, 3}) {
    for (const Case& c : cases) {
      const ModelId id = AddModel([&](Model& m) {
        Quad(m);
        m.displayMode = c.displayMode;
        m.groups[0].shading = c.groupShading;
        m.shadingMode = mode;
      });
      const auto draws = DrawModel(id);
      ASSERT_EQ(draws.size(), 1u);
      EXPECT_EQ(draws[0].renderStates[D3DRS_FILLMODE], c.fill)
          << "mode " << mode << " display " << c.displayMode << " shading " << c.groupShading;
      EXPECT_EQ(draws[0].renderStates[D3DRS_SHADEMODE], c.shade);
    }
  }
  // The fill is solid again after the group, and a group of shading 0 is not drawn.
  DWORD fill = 0;
  Device().GetRenderState(D3DRS_FILLMODE, &fill);
  EXPECT_EQ(fill, DWORD(D3DFILL_SOLID));
  const ModelId hidden = AddModel([](Model& m) {
    Quad(m);
    m.groups[0].shading = 0;
  });
  EXPECT_TRUE(DrawModel(hidden).empty());
}

TEST_F(GroupDraw, DisplayModeThreeColoursTheSelectedBoneFromBlueToRed) {
  // Four triangles; the first corner of each decides: bone 1 with weights 0, 0.5 and 1, then
  // bone 2 (only its second byte names bone 1), then a position of bone 3.
  struct Case {
    VertexAttr attr;
    D3DCOLOR colour;
  } cases[] = {{{1, 0, 0.0f, 0}, 0xFF0000C4u},
               {{1, 0, 0.5f, 0}, 0xFF620062u},
               {{1, 0, 1.0f, 0}, 0xFFC40000u},
               {{2, 1, 0.25f, 0}, 0xFF310093u},
               {{3, 0, 1.0f, 0}, 0xFFC4C4C4u}};
  const ModelId id = AddModel([&](Model& m) {
    std::vector<Vec3> v;
    std::vector<std::vector<int>> faces;
    for (int t = 0; t < 5; ++t) {
      v.insert(v.end(), {{float(t), 0, 0}, {float(t), 1, 0}, {float(t) + 1, 0, 0}});
      faces.push_back({3 * t, 3 * t + 1, 3 * t + 2});
    }
    SetMesh(m, v, faces);
    for (int t = 0; t < 5; ++t)
      m.attrs[size_t(3 * t)] = cases[t].attr;
    m.displayMode = 3;
    m.boneCount = 4;
    m.shadingMode = 0;
  });
  Lib().Rendering().selectedBone = 1;
  auto draws = DrawModel(id);
  ASSERT_EQ(draws.size(), 1u);
  for (int t = 0; t < 5; ++t)
    EXPECT_EQ(VertexOf<SceneVertex>(draws[0], size_t(3 * t)).diffuse, cases[t].colour) << t;
  // Fewer than two bones: all red.
  Lib().Model3_Get(id)->boneCount = 1;
  draws = DrawModel(id);
  for (int t = 0; t < 5; ++t)
    EXPECT_EQ(VertexOf<SceneVertex>(draws[0], size_t(3 * t)).diffuse, 0xFFC40000u) << t;
}

TEST_F(GroupDraw, EveryShadingModeDrawsTheSameTrianglesFromItsOwnGeometry) {
  auto mesh = [](Model& m) {
    // Two quads sharing an edge: six positions, four triangles.
    SetMesh(m, {{-1, -1, 0}, {-1, 1, 0}, {0, 1, 0}, {0, -1, 0}, {1, 1, 0}, {1, -1, 0}},
            {{0, 1, 2, 3}, {3, 2, 4, 5}});
  };
  const ModelId reference = AddModel([&](Model& m) {
    mesh(m);
    m.shadingMode = 0;
  });
  const auto expected = PositionsOf(DrawModel(reference).at(0));
  ASSERT_EQ(expected.size(), 12u);
  InstallEffect("Bone.fx");  // mode 5 skins through it
  struct Case {
    int32_t mode;
    DrawCall::Kind kind;
    DWORD fvf;
    UINT stride;
    UINT numVertices;  // indexed draws
  } cases[] = {
      {1, DrawCall::Kind::kPrimitiveUP, 0x1158, 44, 0},
      {2, DrawCall::Kind::kPrimitive, 0x152, 36, 0},
      {3, DrawCall::Kind::kIndexedPrimitive, 0x152, 36, 6},
      {4, DrawCall::Kind::kIndexedPrimitive, 0x152, 36, 6},
      {5, DrawCall::Kind::kIndexedPrimitive, 0x1158, 44, 6},
      {9, DrawCall::Kind::kIndexedPrimitiveUP, 0x152, 36, 6},
  };
  for (const Case& c : cases) {
    const ModelId id = AddModel([&](Model& m) {
      mesh(m);
      m.shadingMode = c.mode;
    });
    const auto draws = DrawModel(id);
    ASSERT_EQ(draws.size(), 1u) << "mode " << c.mode;
    const RecordedDraw& d = draws[0];
    EXPECT_EQ(d.call.kind, c.kind) << "mode " << c.mode;
    EXPECT_EQ(d.fvf, c.fvf) << "mode " << c.mode;
    EXPECT_EQ(d.stride, c.stride) << "mode " << c.mode;
    EXPECT_EQ(d.call.primitiveCount, 4u) << "mode " << c.mode;
    if (c.numVertices) {
      EXPECT_EQ(d.call.numVertices, c.numVertices) << "mode " << c.mode;
    }
    EXPECT_EQ(PositionsOf(d), expected) << "mode " << c.mode;
    const bool blended = c.mode == 1 || c.mode == 5;
    EXPECT_EQ(d.renderStates[D3DRS_INDEXEDVERTEXBLENDENABLE], DWORD(blended)) << c.mode;
    EXPECT_EQ(d.renderStates[D3DRS_VERTEXBLEND], DWORD(blended ? 1 : 0)) << c.mode;
    EXPECT_EQ(Lib().DrawnTriangles(), 4) << "mode " << c.mode;
  }
  // Blending is off again after a skinned group.
  DWORD blend = 1;
  Device().GetRenderState(D3DRS_VERTEXBLEND, &blend);
  EXPECT_EQ(blend, 0u);
}

TEST_F(GroupDraw, ModeFourDrawsTheExportGeometryWithItsCounts) {
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    Group& g = m.groups[0];
    g.exportVertexCount = 3;
    g.exportPositions = {{5, 5, 0}, {5, 6, 0}, {6, 6, 0}};
    g.exportNormals.assign(3, {0, 0, -1});
    g.exportTriangleCount = 1;
    g.exportTriangles.resize(1);
    g.exportTriangles[0].cornerCount = 3;
    for (int k = 0; k < 3; ++k)
      g.exportTriangles[0].corners[size_t(k)].position = k;
    m.shadingMode = 4;
  });
  const auto draws = DrawModel(id);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].call.numVertices, 3u);
  EXPECT_EQ(draws[0].call.primitiveCount, 1u);
  EXPECT_EQ(PositionsOf(draws[0]), (std::vector<Vec3>{{5, 5, 0}, {5, 6, 0}, {6, 6, 0}}));
}

TEST_F(GroupDraw, StageZeroShowsTheGroupTextureOrItsTrackKeysAndAlphaTestFollowsTheTrailing) {
  std::shared_ptr<Texture> first, second;
  Device().CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &first);
  Device().CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &second);
  struct Case {
    uint8_t switchA;
    int32_t slot;
    int32_t keySlot;  // -1: no track keys
    const Texture* texture;
  } cases[] = {{0, 1, -1, nullptr},      {1, 0, -1, nullptr}, {1, 1, -1, first.get()},
               {1, 2, -1, second.get()}, {1, 7, -1, nullptr}, {1, 1, 2, second.get()},
               {0, 1, 2, nullptr},       {1, 1, 0, nullptr}};
  for (const Case& c : cases) {
    for (const int32_t mode : {0, 3}) {
      const ModelId id = AddModel([&](Model& m) {
        Quad(m);
        m.textureSlots.resize(3);
        m.textureSlotCount = 3;
        m.groups[0].switchA = c.switchA;
        m.groups[0].textureSlot = c.slot;
        if (c.keySlot >= 0) {
          m.motions[0].tracks[0].keyCount = 1;
          m.motions[0].tracks[0].keys[0].textureSlot = int16_t(c.keySlot);
        }
        m.groups[0].trailingSwitch = 1;
        m.groups[0].trailingValue = 128;
        m.shadingMode = mode;
      });
      Lib().Model3_Runtime(id)->textures = {nullptr, first, second};
      const auto draws = DrawModel(id);
      ASSERT_EQ(draws.size(), 1u);
      EXPECT_EQ(draws[0].textures[0], c.texture)
          << "switch " << int(c.switchA) << " slot " << c.slot << " key " << c.keySlot;
      EXPECT_EQ(draws[0].renderStates[D3DRS_ALPHATESTENABLE], 1u);
      EXPECT_EQ(draws[0].renderStates[D3DRS_ALPHAREF], 128u);
    }
  }
  EXPECT_EQ(Device().GetTexture(0), nullptr);
  DWORD alphaTest = 1;
  Device().GetRenderState(D3DRS_ALPHATESTENABLE, &alphaTest);
  EXPECT_EQ(alphaTest, 0u);
}

TEST_F(GroupDraw, LightingNeedsTheLightSwitchAndTheModelsDrawingSwitch) {
  struct Case {
    int32_t lightSwitch, drawingSwitch;
    DWORD lighting;
  } cases[] = {{1, 1, 1}, {0, 1, 0}, {1, 0, 0}, {2, 1, 0}};
  for (const Case& c : cases) {
    const ModelId id = AddModel([&](Model& m) {
      Quad(m);
      m.drawingSwitch = c.drawingSwitch;
    });
    Lib().LightSwitchSet(c.lightSwitch);
    const auto draws = DrawModel(id);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].renderStates[D3DRS_LIGHTING], c.lighting) << c.lightSwitch;
  }
}

TEST_F(GroupDraw, ShortPolygonsBecomePointsAndLinesInTheGroupColourAndCount) {
  const ModelId id = AddModel([](Model& m) {
    SetMesh(m, {{0, 0, 0}, {1, 0, 0}, {2, 2, 0}, {3, 3, 0}, {3, 4, 0}}, {{0, 1, 2}, {3}, {3, 4}});
    m.groups[0].colour = {10, 20, 30, 255};
    m.groups[0].mirror = 1;
    m.shadingMode = 0;
  });
  const auto draws = DrawModel(id);
  // The triangle and its mirror image in one draw, then a point and a line, each twice.
  ASSERT_EQ(draws.size(), 5u);
  EXPECT_EQ(draws[0].call.primitiveCount, 2u);
  const D3DPRIMITIVETYPE types[] = {D3DPT_POINTLIST, D3DPT_POINTLIST, D3DPT_LINELIST,
                                    D3DPT_LINELIST};
  for (int i = 0; i < 4; ++i) {
    const RecordedDraw& d = draws[size_t(i) + 1];
    EXPECT_EQ(d.call.type, types[i]);
    EXPECT_EQ(d.renderStates[D3DRS_LIGHTING], 0u);
    const SceneVertex v = VertexOf<SceneVertex>(d, 0);
    EXPECT_EQ(v.diffuse, 0xFF0A141Eu);
    EXPECT_EQ(v.x, i % 2 ? -3.0f : 3.0f);
  }
  EXPECT_EQ(Lib().DrawnTriangles(), 2 + 4);
}

TEST_F(GroupDraw, ToonTextureTurnsShadingModeThreeIntoTwoAndAddsTheRampStage) {
  // The toon ramp in the data directory, then a library that loads it.
  wz::test::JpegLayout ramp;
  ramp.width = 8;
  ramp.height = 8;
  ramp.samples.assign(8 * 8 * 3, 180);
  const auto bytes = wz::test::EncodeJpeg(ramp);
  WriteFile(platform::HostPath(Lib().DataDir()) + "/System/Toon.JPG",
            std::string(bytes.begin(), bytes.end()));
  TearDown();
  Start(BackendChoice::kRecording, 64, 64, false, true);
  ASSERT_TRUE(Lib().System().toonLoaded);
  const ModelId id = AddModel(Quad);
  Model& m = *Lib().Model3_Get(id);
  EXPECT_EQ(m.shadingMode, 2);  // a new model starts at 2 while the ramp is loaded
  Lib().ShadingModeSet(m, 4);
  EXPECT_EQ(m.shadingMode, 4);
  Lib().ShadingModeSet(m, 3);
  EXPECT_EQ(m.shadingMode, 2);
  EXPECT_EQ(m.shadingChanged, 1);
  Lib().ShadingModeSet(m, 0);
  EXPECT_EQ(m.shadingMode, 0);
  const auto draws = DrawModel(id);
  ASSERT_EQ(draws.size(), 1u);
  const RecordedDraw& d = draws[0];
  EXPECT_EQ(d.renderStates[D3DRS_LIGHTING], 0u);
  EXPECT_EQ(d.textures[1], Lib().System().toon.get());
  EXPECT_EQ(d.stages[1][D3DTSS_COLOROP], D3DTOP_MODULATE);
  EXPECT_EQ(d.stages[1][D3DTSS_COLORARG1], D3DTA_TEXTURE);
  EXPECT_EQ(d.stages[1][D3DTSS_COLORARG2], D3DTA_CURRENT);
  EXPECT_EQ(d.stages[1][D3DTSS_TEXCOORDINDEX], D3DTSS_TCI_CAMERASPACENORMAL);
  EXPECT_EQ(d.stages[1][D3DTSS_TEXTURETRANSFORMFLAGS], D3DTTFF_COUNT2);
  // The ramp's matrix turns the camera-space normal that points at the light (1, -1, 1 by
  // default) to the ramp's middle row, u = 0.5 + 0.49 along the light.
  const D3DMATRIX& t = d.textureTransforms[1];
  d3dx::D3DXVECTOR3 n{1, -1, 1};
  d3dx::D3DXVec3Normalize(&n, &n);
  d3dx::D3DXVECTOR3 uv;
  d3dx::D3DXVec3TransformCoord(&uv, &n, &t);
  EXPECT_NEAR(uv.x, 0.5f, 1e-5f);
  EXPECT_NEAR(uv.y, 0.5f - 0.49f, 1e-5f);
  // The stage is off again after the group.
  DWORD op = 0;
  Device().GetTextureStageState(1, D3DTSS_COLOROP, &op);
  EXPECT_EQ(op, DWORD(D3DTOP_DISABLE));
}

}  // namespace
}  // namespace wz::testing
