// Stencil shadows: the shadow volume is closed, faces outwards and takes the lit outline; the
// pass runs only with the depth-and-stencil option on a device with stencil operations, counts
// front faces up and back faces down, and darkens with the window quad.
#include "render/stencil_shadows.h"

#include <gtest/gtest.h>

#include <map>

#include "render/render_fixture.h"

namespace wz::testing {
namespace {

using namespace d3d;

// A unit cube at the origin whose faces walk clockwise seen from outside.
void Cube(Model& m) {
  std::vector<Vec3> v;
  for (int i = 0; i < 8; ++i)
    v.push_back({i & 1 ? 0.5f : -0.5f, i & 2 ? 0.5f : -0.5f, i & 4 ? 0.5f : -0.5f});
  SetMesh(m, v,
          {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2}, {1, 3, 7, 5}, {2, 6, 7, 3}, {0, 1, 5, 4}});
}

// Six times the enclosed volume: positive when the triangles face outwards by the face normal
// rule, (p1 - p0) x (p2 - p1).
double SignedVolume(const std::vector<Vec3>& t) {
  double v = 0;
  for (size_t i = 0; i + 2 < t.size(); i += 3) {
    const Vec3 n = Cross(t[i + 1] - t[i], t[i + 2] - t[i + 1]);
    v += Dot(t[i], n);
  }
  return v;
}

TEST(StencilVolume, IsClosedFacesOutwardsAndExtrudesTheLitOutline) {
  auto m = CreateModel({});
  Cube(*m);
  struct Case {
    Vec3 light;
    size_t litFaces;
    size_t outlineEdges;
  } cases[] = {{{0, 10, 0}, 1, 4}, {{10, 10, 0}, 2, 6}, {{10, 10, -10}, 3, 6}};
  for (const Case& c : cases) {
    std::vector<Vec3> volume;
    BuildShadowVolume(*m, m->positions, c.light, 100.0f, volume);
    // Near and far caps of two triangles per lit quad, two triangles per outline edge.
    EXPECT_EQ(volume.size() / 3, c.litFaces * 4 + c.outlineEdges * 2);
    // Every edge is walked once each way.
    std::map<std::tuple<float, float, float, float, float, float>, int> edges;
    for (size_t i = 0; i < volume.size(); i += 3) {
      for (int e = 0; e < 3; ++e) {
        const Vec3 a = volume[i + size_t(e)], b = volume[i + size_t((e + 1) % 3)];
        ++edges[{a.x, a.y, a.z, b.x, b.y, b.z}];
      }
    }
    for (const auto& [key, count] : edges) {
      const auto [ax, ay, az, bx, by, bz] = key;
      EXPECT_EQ(count, 1);
      EXPECT_EQ((edges.count({bx, by, bz, ax, ay, az})), 1u);
    }
    EXPECT_GT(SignedVolume(volume), 0.0);
    // Nothing of the volume lies nearer the light than the model does.
    float nearest = 1e9f;
    for (int32_t i = 0; i < m->positionCount; ++i)
      nearest = std::min(nearest, Length(m->positions[size_t(i)] - c.light));
    for (const Vec3& p : volume)
      EXPECT_GT(Length(p - c.light), nearest);
  }
}

class StencilPass : public RenderTest {
 protected:
  std::vector<RecordedDraw> ShadowDraws() {
    const ModelId id = AddModel([](Model& m) {
      Cube(m);
      m.groups[0].shading = 0;  // only the volumes draw
      m.drawingState.shadowType = 3;
    });
    Show(id);
    Lib().Light_Set({0, 10, 0}, {1, 1, 1});
    return FrameDraws();
  }
};

TEST_F(StencilPass, NeedsTheDepthAndStencilOption) {
  Start(BackendChoice::kRecording, 64, 64, false);
  EXPECT_TRUE(ShadowDraws().empty());
}

TEST_F(StencilPass, NeedsADeviceThatCountsInTheStencilBuffer) {
  LibraryEnvironment::Profile([](DeviceProfile& p) { p.halCaps.StencilCaps = 0; });
  Start(BackendChoice::kRecording, 64, 64, true);
  EXPECT_TRUE(ShadowDraws().empty());
}

TEST_F(StencilPass, CountsFrontFacesUpBackFacesDownThenDarkensWhereTheCountIsSet) {
  Start(BackendChoice::kRecording, 64, 48, true);
  const auto draws = ShadowDraws();
  ASSERT_EQ(draws.size(), 3u);
  struct Pass {
    DWORD cull, pass;
  } passes[] = {{D3DCULL_CCW, D3DSTENCILOP_INCR}, {D3DCULL_CW, D3DSTENCILOP_DECR}};
  for (int i = 0; i < 2; ++i) {
    const auto& rs = draws[size_t(i)].renderStates;
    EXPECT_EQ(draws[size_t(i)].fvf, DWORD(D3DFVF_XYZ));
    EXPECT_EQ(rs[D3DRS_CULLMODE], passes[i].cull);
    EXPECT_EQ(rs[D3DRS_STENCILPASS], passes[i].pass);
    EXPECT_EQ(rs[D3DRS_STENCILENABLE], 1u);
    EXPECT_EQ(rs[D3DRS_STENCILFUNC], DWORD(D3DCMP_ALWAYS));
    EXPECT_EQ(rs[D3DRS_STENCILREF], 1u);
    EXPECT_EQ(rs[D3DRS_ZWRITEENABLE], 0u);
    EXPECT_EQ(rs[D3DRS_SRCBLEND], DWORD(D3DBLEND_ZERO));
    EXPECT_EQ(rs[D3DRS_DESTBLEND], DWORD(D3DBLEND_ONE));
    EXPECT_EQ(rs[D3DRS_SHADEMODE], DWORD(D3DSHADE_FLAT));
  }
  const RecordedDraw& quad = draws[2];
  EXPECT_EQ(quad.fvf, DWORD(D3DFVF_XYZRHW | D3DFVF_DIFFUSE));
  EXPECT_EQ(quad.call.type, D3DPT_TRIANGLESTRIP);
  EXPECT_EQ(quad.renderStates[D3DRS_STENCILFUNC], DWORD(D3DCMP_LESSEQUAL));
  EXPECT_EQ(quad.renderStates[D3DRS_STENCILREF], 1u);
  EXPECT_EQ(quad.renderStates[D3DRS_ZENABLE], DWORD(D3DZB_FALSE));
  EXPECT_EQ(quad.renderStates[D3DRS_SRCBLEND], DWORD(D3DBLEND_SRCALPHA));
  // The quad covers the target and carries the shadow colour.
  const auto corners = PositionsOf(quad);
  ASSERT_EQ(corners.size(), 4u);
  EXPECT_EQ(corners[3].x, 64.0f);
  EXPECT_EQ(corners[3].y, 48.0f);
  uint32_t colour;
  std::memcpy(&colour, quad.Vertex(0) + 16, 4);
  EXPECT_EQ(colour, Lib().Rendering().shadowColour);
  // Afterwards the depth test and writes are back, stencil off, Gouraud shading.
  DWORD z = 0, write = 0, stencil = 1, shade = 0;
  Device().GetRenderState(D3DRS_ZENABLE, &z);
  Device().GetRenderState(D3DRS_ZWRITEENABLE, &write);
  Device().GetRenderState(D3DRS_STENCILENABLE, &stencil);
  Device().GetRenderState(D3DRS_SHADEMODE, &shade);
  EXPECT_EQ(z, DWORD(D3DZB_TRUE));
  EXPECT_EQ(write, 1u);
  EXPECT_EQ(stencil, 0u);
  EXPECT_EQ(shade, DWORD(D3DSHADE_GOURAUD));
  // The frame clears the stencil too.
  EXPECT_EQ(Recording().Clears().back().flags,
            DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL));
}

}  // namespace
}  // namespace wz::testing
