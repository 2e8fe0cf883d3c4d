// The world-space primitives at call level: the world transform builder, the fill modes of the
// group shading values, and points, lines, triangles and quads of scene vertices.
#include "render/draw3d.h"

#include <gtest/gtest.h>

#include "render/render_fixture.h"

namespace wz::testing {
namespace {

using namespace d3d;

class Draw3D : public RenderTest {
 protected:
  void SetUp() override {
    Start(BackendChoice::kRecording);
    Device().BeginScene();
    Recording().ClearRecord();
  }
  void TearDown() override {
    Device().EndScene();
    RenderTest::TearDown();
  }
  DWORD State(D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    Device().GetRenderState(s, &v);
    return v;
  }
};

TEST_F(Draw3D, WorldTransformScalesTurnsByDegreesTimes0174AndMoves) {
  Lib().WorldTransformSet(10, 0, 0, 0, 0, 90, 2, 1, 1);
  D3DMATRIX world;
  Device().GetTransform(D3DTS_WORLD, &world);
  // (1, 0, 0) doubled, turned about z by -90 x 0.0174 radians, moved by 10 in x.
  const float a = -90 * 0.0174f;
  d3dx::D3DXVECTOR3 p{1, 0, 0};
  d3dx::D3DXVec3TransformCoord(&p, &p, &world);
  EXPECT_NEAR(p.x, 10 + 2 * std::cos(a), 1e-5f);
  EXPECT_NEAR(p.y, 2 * std::sin(a), 1e-5f);
  // About y: +z turns towards +x; about x: +y turns towards +z.
  Lib().WorldTransformSet(0, 0, 0, 0, 90, 0, 1, 1, 1);
  Device().GetTransform(D3DTS_WORLD, &world);
  p = {0, 0, 1};
  d3dx::D3DXVec3TransformCoord(&p, &p, &world);
  EXPECT_NEAR(p.x, std::sin(90 * 0.0174f), 1e-5f);
  Lib().WorldTransformSet(0, 0, 0, 90, 0, 0, 1, 1, 1);
  Device().GetTransform(D3DTS_WORLD, &world);
  p = {0, 1, 0};
  d3dx::D3DXVec3TransformCoord(&p, &p, &world);
  EXPECT_NEAR(p.z, std::sin(90 * 0.0174f), 1e-5f);
}

TEST_F(Draw3D, FillModeSetFollowsTheGroupShadingValues) {
  struct Case {
    int32_t type;
    DWORD fill, shade;
  } cases[] = {{1, D3DFILL_POINT, D3DSHADE_GOURAUD},
               {2, D3DFILL_WIREFRAME, D3DSHADE_GOURAUD},
               {3, D3DFILL_SOLID, D3DSHADE_FLAT},
               {4, D3DFILL_SOLID, D3DSHADE_GOURAUD},
               {5, D3DFILL_SOLID, D3DSHADE_GOURAUD}};
  for (const Case& c : cases) {
    Lib().FillModeSet(c.type);
    EXPECT_EQ(State(D3DRS_FILLMODE), c.fill) << c.type;
    EXPECT_EQ(State(D3DRS_SHADEMODE), c.shade) << c.type;
  }
  Lib().FillModeSet(2);
  for (int32_t other : {0, 6, -1}) {
    Lib().FillModeSet(other);
    EXPECT_EQ(State(D3DRS_FILLMODE), DWORD(D3DFILL_WIREFRAME)) << other;
  }
}

TEST_F(Draw3D, PointsAndLinesAreUnlitQuadsAreTwoTriangles) {
  WorldVertex a, b, c, d;
  a.red = 300, a.green = -5, a.blue = 7, a.alpha = 128;  // kept to 0..255
  b.x = 1, c.x = 1, c.y = 1, d.y = 1;
  Device().SetRenderState(D3DRS_LIGHTING, 1);
  Lib().Point3D(a);
  Lib().Line3D(a, b);
  Device().SetRenderState(D3DRS_LIGHTING, 0);
  Lib().Quad3D(a, b, c, d);
  const auto& draws = Recording().Draws();
  ASSERT_EQ(draws.size(), 4u);
  EXPECT_EQ(draws[0].call.type, D3DPT_POINTLIST);
  EXPECT_EQ(draws[1].call.type, D3DPT_LINELIST);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(draws[size_t(i)].renderStates[D3DRS_LIGHTING], 0u);
    EXPECT_EQ(draws[size_t(i)].fvf, kSceneFvf);
    EXPECT_EQ(VertexOf<SceneVertex>(draws[size_t(i)], 0).diffuse, 0x80FF0007u);
  }
  // A quad (a, b, c, d) is (a, b, c) then (a, c, d), with the lighting as it was.
  EXPECT_EQ(PositionsOf(draws[2]), (std::vector<Vec3>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}));
  EXPECT_EQ(PositionsOf(draws[3]), (std::vector<Vec3>{{0, 0, 0}, {1, 1, 0}, {0, 1, 0}}));
  EXPECT_EQ(draws[2].renderStates[D3DRS_LIGHTING], 0u);
  EXPECT_EQ(draws[2].call.type, D3DPT_TRIANGLELIST);
  // Points and lines turn the lighting on again.
  Lib().Point3D(a);
  EXPECT_EQ(State(D3DRS_LIGHTING), 1u);
}

}  // namespace
}  // namespace wz::testing
