// The passes after the lists, at call level: blob shadows where size and height put them, the
// edge pass's reversed fans in black, and planar shadows flattened along their direction.
#include <gtest/gtest.h>

#include "render/render_fixture.h"

namespace wz::testing {
namespace {

using namespace d3d;

class Passes : public RenderTest {
 protected:
  void SetUp() override { Start(BackendChoice::kRecording); }

  // Draws whose first vertex has the colour `c`.
  static std::vector<RecordedDraw> WithColour(const std::vector<RecordedDraw>& draws, D3DCOLOR c) {
    std::vector<RecordedDraw> out;
    for (const RecordedDraw& d : draws)
      if (VertexOf<SceneVertex>(d, 0).diffuse == c) out.push_back(d);
    return out;
  }
};

TEST_F(Passes, BlobShadowOfSizeOneIsATenByTenSquareAtItsHeightRaisedAThousandthPerObject) {
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.groups[0].shading = 0;  // only the shadow draws
    m.drawingState.shadowType = 1;
    m.drawingState.shadowSize = 1.0f;
    m.drawingState.shadowHeight = -0.01f;
  });
  Show(id);
  Mat4 moved = MatrixTranslation({3, 0, 0});
  Show(id, moved);
  const auto draws = FrameDraws();
  ASSERT_EQ(draws.size(), 4u);  // two triangles per object
  const float heights[2] = {-0.01f, -0.009f};
  for (int o = 0; o < 2; ++o) {
    const RecordedDraw& a = draws[size_t(2 * o)];
    const RecordedDraw& b = draws[size_t(2 * o) + 1];
    const std::vector<Vec3> expectA = {
        {-5, heights[o], 5}, {5, heights[o], 5}, {5, heights[o], -5}};
    const std::vector<Vec3> expectB = {
        {-5, heights[o], 5}, {5, heights[o], -5}, {-5, heights[o], -5}};
    EXPECT_EQ(PositionsOf(a), expectA) << o;
    EXPECT_EQ(PositionsOf(b), expectB) << o;
    const SceneVertex v = VertexOf<SceneVertex>(a, 1);
    EXPECT_EQ(v.ny, 1.0f);
    EXPECT_EQ(v.diffuse, 0xFFFFFFFFu);
    EXPECT_EQ(v.u, 1.0f);
    EXPECT_EQ(v.v, 0.0f);
    EXPECT_EQ(a.world.m[3][0], o ? 3.0f : 0.0f);  // each object's own world
    EXPECT_EQ(a.textures[0], Lib().System().shadow.get());
  }
}

TEST_F(Passes, EdgePassDrawsEachQuadAsThreeTwoOneAndThreeOneZeroPushedOutInBlack) {
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.edgePassOn = 1;
    m.edgeWidth = 2.0f;
    m.shadingMode = 0;
  });
  Show(id);
  const auto edge = WithColour(FrameDraws(), 0xFF000000u);
  ASSERT_EQ(edge.size(), 1u);
  const Model& m = *Lib().Model3_Get(id);
  const auto p = PositionsOf(edge[0]);
  const int order[6] = {3, 2, 1, 3, 1, 0};
  for (int i = 0; i < 6; ++i) {
    // The face normal is (0, 0, -1): every corner moves 2 x 0.05 towards the camera.
    const Vec3 expected = m.positions[size_t(order[i])] + Vec3{0, 0, -0.1f};
    EXPECT_NEAR(p[size_t(i)].x, expected.x, 1e-6f) << i;
    EXPECT_NEAR(p[size_t(i)].y, expected.y, 1e-6f) << i;
    EXPECT_NEAR(p[size_t(i)].z, expected.z, 1e-6f) << i;
  }
  EXPECT_EQ(edge[0].renderStates[D3DRS_LIGHTING], 0u);
  DWORD lighting = 0;
  Device().GetRenderState(D3DRS_LIGHTING, &lighting);
  EXPECT_EQ(lighting, 1u);  // on again after the pass
}

TEST_F(Passes, PlanarShadowFlattensThePolygonsAlongTheDirectionToTheShadowHeight) {
  // One triangle with corners at heights 2, 4 and 2.
  struct Case {
    int32_t type;
    Vec3 angles;  // of the display object
    float xPerY;  // how far a corner moves in x per unit of height (x' = x - y dx / dy)
  } cases[] = {{2, {0, 0, 0}, 0.0f},
               {21, {0, 0, 0}, 0.0f},
               // Turned by -45 degrees about z: the light comes in at 45 degrees.
               {21, {0, 0, 45}, 0.0f}};
  for (Case& c : cases) {
    const Mat4 turn = BuildWorldTransform({}, c.angles, {1, 1, 1});
    const Vec3 d = TransformNormal({0, 1, 0}, turn);
    c.xPerY = d.x / d.y;
    const ModelId id = AddModel([&](Model& m) {
      SetMesh(m, {{0, 2, 0}, {1, 4, 0}, {2, 2, 1}}, {{0, 1, 2}});
      m.groups[0].shading = 0;
      m.drawingState.shadowType = c.type;
      m.drawingState.shadowHeight = -0.5f;
    });
    const int32_t o = Show(id);
    Lib().ModelObject_AngleSet(o, c.angles);
    const auto draws = FrameDraws();
    ASSERT_EQ(draws.size(), 1u);
    const auto p = PositionsOf(draws[0]);
    const Vec3 source[3] = {{0, 2, 0}, {1, 4, 0}, {2, 2, 1}};
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(p[size_t(i)].x, source[i].x - source[i].y * c.xPerY, 1e-5f) << c.type;
      EXPECT_EQ(p[size_t(i)].y, -0.5f);
      EXPECT_NEAR(p[size_t(i)].z, source[i].z - source[i].y * d.z / d.y, 1e-5f);
    }
    EXPECT_EQ(VertexOf<SceneVertex>(draws[0], 0).diffuse, 0xFF000000u);
    EXPECT_EQ(draws[0].renderStates[D3DRS_LIGHTING], 0u);
    EXPECT_EQ(draws[0].textures[0], nullptr);
    Lib().ModelObject_Release(o);
  }
  EXPECT_NE(cases[2].xPerY, 0.0f);
}

}  // namespace
}  // namespace wz::testing
