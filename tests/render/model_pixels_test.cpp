// Models drawn by the frame function on llvmpipe, checked at chosen pixels against what the
// view, the texture, the culling, the edge pass, the shadows and the bone keys predict.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "app/render_command.h"
#include "render/render_fixture.h"

namespace wz::testing {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

class ModelPixels : public RenderTest {
 protected:
  void SetUp() override { Start(d3d::BackendChoice::kOpenGL); }

  // The colour of the model's only group, unlit so that pixels keep it exactly.
  static void Flat(Model& m, ColourF colour) {
    m.groups[0].colour = colour;
    m.drawingSwitch = 0;
  }

  // Columns and rows where `is` holds, as [first, last] ranges.
  struct Extent {
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
    int count = 0;
  };
  template <typename Predicate>
  Extent Find(const std::vector<uint32_t>& p, Predicate is) {
    Extent e;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (!is(At(p, x, y))) continue;
        e.left = std::min(e.left, x), e.right = std::max(e.right, x);
        e.top = std::min(e.top, y), e.bottom = std::max(e.bottom, y);
        ++e.count;
      }
    }
    return e;
  }
  static bool Red(uint32_t c) { return R(c) > 200 && G(c) < 40 && B(c) < 40; }
};

TEST_F(ModelPixels, RedSquareFacingTheCameraHasTheSizeTheFixedViewPredicts) {
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.groups[0].colour = {255, 0, 0, 255};
  });
  ShowInFixedView(Lib(), id, {64, 64, 0, 0});
  Lib().Rendering().background[2] = 90;
  Lib().RenderFrame();
  const auto p = Pixels();
  // Half diagonal r = sqrt 2, d = 1.05 r / sin(22.5 degrees); the side of 2 covers
  // 2 / d x cot(22.5 degrees) x 32 pixels.
  const float d = 1.05f * std::sqrt(2.0f) / std::sin(kPi / 8);
  const float side = 2.0f / d / std::tan(kPi / 8) * 32.0f;
  const Extent e = Find(p, Red);
  EXPECT_NEAR(e.right - e.left + 1, side, 2.0f);
  EXPECT_NEAR(e.bottom - e.top + 1, side, 2.0f);
  EXPECT_NEAR((e.left + e.right + 1) * 0.5f, 32.0f, 1.0f);
  EXPECT_NEAR((e.top + e.bottom + 1) * 0.5f, 32.0f, 1.0f);
  EXPECT_EQ(e.count, (e.right - e.left + 1) * (e.bottom - e.top + 1));  // filled
  EXPECT_EQ(At(p, 1, 1), 0xFF00005Au);                                  // the background
}

TEST_F(ModelPixels, TheLastPolygonsOfMoreThan65535VerticesAreDrawn) {
  // 22000 triangles of three distinct points on one line (no area, so no pixels), then the square
  // above: its corners are vertices 66000 to 66003, beyond what 16-bit indices reach. Every mode
  // shows the whole square: the CPU assembly (0), the lists (1, 2), the indexed buffers (3, 4)
  // and the 16-bit tables (9).
  const float d = 1.05f * std::sqrt(2.0f) / std::sin(kPi / 8);
  const float side = 2.0f / d / std::tan(kPi / 8) * 32.0f;
  for (const int32_t mode : {0, 1, 2, 3, 4, 9}) {
    const ModelId id = AddModel([mode](Model& m) {
      std::vector<Vec3> positions;
      std::vector<std::vector<int>> faces;
      for (int t = 0; t < 22000; ++t) {
        for (int k = 0; k < 3; ++k)
          positions.push_back({-1.0f + float(3 * t + k) / 33000.0f, -0.5f, 0.0f});
        faces.push_back({3 * t, 3 * t + 1, 3 * t + 2});
      }
      const int a = int(positions.size());
      positions.insert(positions.end(), {{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}});
      faces.push_back({a, a + 1, a + 2, a + 3});
      SetMesh(m, positions, faces);
      Flat(m, {255, 0, 0, 255});
      m.shadingMode = mode;
    });
    ShowInFixedView(Lib(), id, {64, 64, 0, 0});
    Lib().RenderFrame();
    const Extent e = Find(Pixels(), Red);
    EXPECT_NEAR(e.right - e.left + 1, side, 2.0f) << "mode " << mode;
    EXPECT_NEAR(e.bottom - e.top + 1, side, 2.0f) << "mode " << mode;
    EXPECT_EQ(e.count, (e.right - e.left + 1) * (e.bottom - e.top + 1)) << "mode " << mode;
    Lib().Model3_Release(id);
  }
}

TEST_F(ModelPixels, TexturedSquareShowsItsImageUprightAndNotMirrored) {
  // 2 x 2 texels: red top-left, green top-right, blue bottom-left, white bottom-right.
  std::shared_ptr<d3d::Texture> texture;
  ASSERT_EQ(Device().CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture), S_OK);
  d3d::D3DLOCKED_RECT r;
  texture->LockRect(0, &r, nullptr, 0);
  const uint32_t texels[2][2] = {{0xFFFF0000u, 0xFF00FF00u}, {0xFF0000FFu, 0xFFFFFFFFu}};
  for (int y = 0; y < 2; ++y)
    std::memcpy(static_cast<uint8_t*>(r.pBits) + y * r.Pitch, texels[y], 8);
  texture->UnlockRect(0);
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    Flat(m, {255, 255, 255, 255});
    m.textureSlots.resize(2);
    m.textureSlotCount = 2;
    m.groups[0].textureSlot = 1;
    m.groups[0].switchA = 1;
  });
  Lib().Model3_Runtime(id)->textures[1] = texture;
  ShowInFixedView(Lib(), id, {64, 64, 0, 0});
  for (const int32_t mode : {0, 3}) {
    Lib().ShadingModeSet(*Lib().Model3_Get(id), mode);
    Lib().RenderFrame();
    const auto p = Pixels();
    // Quadrant centres of the square (about 20 pixels from the middle, half of that inside);
    // linear filtering mixes in a little of the neighbouring texels.
    auto near = [](uint32_t got, uint32_t want) {
      return std::abs(R(got) - R(want)) <= 40 && std::abs(G(got) - G(want)) <= 40 &&
             std::abs(B(got) - B(want)) <= 40;
    };
    EXPECT_TRUE(near(At(p, 22, 22), 0xFFFF0000u))
        << "mode " << mode << " " << std::hex << At(p, 22, 22);
    EXPECT_TRUE(near(At(p, 41, 22), 0xFF00FF00u))
        << "mode " << mode << " " << std::hex << At(p, 41, 22);
    EXPECT_TRUE(near(At(p, 22, 41), 0xFF0000FFu))
        << "mode " << mode << " " << std::hex << At(p, 22, 41);
    EXPECT_TRUE(near(At(p, 41, 41), 0xFFFFFFFFu))
        << "mode " << mode << " " << std::hex << At(p, 41, 41);
  }
}

TEST_F(ModelPixels, BackFaceIsCulledAndADoubleSidedGroupShowsFromBehind) {
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    Flat(m, {255, 0, 0, 255});
  });
  for (const int32_t mode : {0, 2, 3, 9}) {
    Lib().ShadingModeSet(*Lib().Model3_Get(id), mode);
    Lib().Model3_Get(id)->groups[0].doubleSided = 0;
    Lib().Model3_GeometryChanged(id);
    ShowInFixedView(Lib(), id, {64, 64, 180, 0});  // seen from behind
    Lib().RenderFrame();
    EXPECT_EQ(Find(Pixels(), Red).count, 0) << "mode " << mode;
    Lib().Model3_Get(id)->groups[0].doubleSided = 1;
    Lib().Model3_GeometryChanged(id);
    Lib().RenderFrame();
    EXPECT_GT(Find(Pixels(), Red).count, 1000) << "mode " << mode;
  }
}

// A UV sphere of radius 1: `rings` latitude bands of `segments` quads, facing outwards, with a
// normal pool that holds each position's own direction.
void Sphere(Model& m, int rings, int segments) {
  std::vector<Vec3> positions;
  for (int i = 0; i <= rings; ++i) {
    const float theta = kPi * float(i) / float(rings);
    for (int j = 0; j < segments; ++j) {
      const float phi = 2 * kPi * float(j) / float(segments);
      positions.push_back(
          {std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)});
    }
  }
  std::vector<std::vector<int>> faces;
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      const int a = i * segments + j, b = i * segments + (j + 1) % segments;
      faces.push_back({a, b, b + segments, a + segments});
    }
  }
  SetMesh(m, positions, faces);
  m.normals = positions;
  m.normalCount = int32_t(positions.size());
  for (int32_t p = 0; p < m.polygonCount; ++p) {
    for (Corner& c : m.polygons[size_t(p)].corners)
      c.normal = c.position;
  }
}

TEST_F(ModelPixels, EdgePassOutlinesASphereInBlack) {
  const ModelId id = AddModel([](Model& m) {
    Sphere(m, 16, 32);
    m.groups[0].colour = {255, 255, 255, 255};
    m.edgePassOn = 1;
    m.edgeWidth = 4.0f;  // pushed out by 0.2
  });
  ShowInFixedView(Lib(), id, {64, 64, 0, 0});
  Lib().Rendering().background[1] = 200;  // green, so that black stands out
  Lib().RenderFrame();
  const auto p = Pixels();
  // The box's half diagonal is sqrt 3; a sphere of radius a at distance d looks
  // a / sqrt(d^2 - a^2) x cot(22.5 degrees) x 32 pixels wide from the middle.
  const float d = 1.05f * std::sqrt(3.0f) / std::sin(kPi / 8);
  auto radius = [d](float a) { return 32.0f / std::tan(kPi / 8) * a / std::sqrt(d * d - a * a); };
  const float ring = (radius(1.0f) + radius(1.2f)) * 0.5f;
  for (int a = 0; a < 16; ++a) {
    const float angle = 2 * kPi * float(a) / 16;
    const int x = int(32 + ring * std::cos(angle)), y = int(32 + ring * std::sin(angle));
    EXPECT_EQ(At(p, x, y) & 0xFFFFFF, 0u) << x << "," << y;
  }
  EXPECT_GT(R(At(p, 32, 32)), 100);  // the lit sphere inside the outline
  EXPECT_EQ(At(p, 2, 2), 0xFF00C800u);
}

TEST_F(ModelPixels, PlanarShadowLiesAtTheShadowHeight) {
  // A square lying flat at y = 2 (facing up), its shadow dropped straight down.
  const ModelId id = AddModel([](Model& m) {
    SetMesh(m, {{-1, 2, -1}, {-1, 2, 1}, {1, 2, 1}, {1, 2, -1}}, {{0, 1, 2, 3}});
    m.groups[0].colour = {255, 255, 255, 255};
    m.drawingState.shadowType = 2;
  });
  Show(id);
  Lib().Camera_Set({0, 8, -8}, {0, 0, 0}, {0, 1, 0});
  Lib().Light_Set({0, 10, 0}, {1, 1, 1});
  Lib().Rendering().background[2] = 255;
  for (const float height : {-1.0f, -3.0f}) {
    Lib().Model3_Get(id)->drawingState.shadowHeight = height;
    Lib().RenderFrame();
    const auto p = Pixels();
    const Extent black = Find(p, [](uint32_t c) { return (c & 0xFFFFFF) == 0; });
    ASSERT_GT(black.count, 20) << height;
    // The black square's corners are the square's, dropped to the height.
    const auto [nearX, nearY] = Project({-1, height, -1});
    const auto [farX, farY] = Project({1, height, 1});
    EXPECT_NEAR(black.left, nearX, 1.5f) << height;
    EXPECT_NEAR(black.bottom + 1, nearY, 1.5f) << height;
    EXPECT_NEAR(black.top, farY, 1.5f) << height;
    EXPECT_EQ(At(p, 1, 1), 0xFF0000FFu);
  }
}

TEST_F(ModelPixels, StencilShadowDarkensTheGroundUnderABoxAndNowhereElse) {
  TearDown();
  Start(d3d::BackendChoice::kOpenGL, 96, 96, true);
  // A large white ground at y = 0 and a box floating at y 2 to 3 that casts the shadow.
  const ModelId ground = AddModel([](Model& m) {
    SetMesh(m, {{-20, 0, -20}, {-20, 0, 20}, {20, 0, 20}, {20, 0, -20}}, {{0, 1, 2, 3}});
    m.groups[0].colour = {255, 255, 255, 255};
  });
  auto box = [](Model& m) {
    std::vector<Vec3> v;
    for (int i = 0; i < 8; ++i)
      v.push_back({i & 1 ? 0.5f : -0.5f, i & 2 ? 3.0f : 2.0f, i & 4 ? 0.5f : -0.5f});
    // Each face's corners walk clockwise seen from outside.
    SetMesh(m, v,
            {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2}, {1, 3, 7, 5}, {2, 6, 7, 3}, {0, 1, 5, 4}});
    m.groups[0].colour = {200, 200, 200, 255};
  };
  const ModelId caster = AddModel(box);
  Show(ground);
  Show(caster);
  Lib().Camera_Set({0, 8, -8}, {0, 0, 0}, {0, 1, 0});
  Lib().Light_Set({-4, 10, -6}, {1, 1, 1});
  Lib().RenderFrame();
  const auto before = Pixels();
  Lib().Model3_Get(caster)->drawingState.shadowType = 3;
  Lib().RenderFrame();
  const auto after = Pixels();
  // The footprint: the box's corners seen from the light, dropped to the ground.
  float left = 1e9f, right = -1e9f, top = 1e9f, bottom = -1e9f;
  const Vec3 light{-4, 10, -6};
  for (int i = 0; i < 8; ++i) {
    const Vec3 c{i & 1 ? 0.5f : -0.5f, i & 2 ? 3.0f : 2.0f, i & 4 ? 0.5f : -0.5f};
    const Vec3 onGround = light + (c - light) * (light.y / (light.y - c.y));
    const auto [x, y] = Project(onGround);
    left = std::min(left, x), right = std::max(right, x);
    top = std::min(top, y), bottom = std::max(bottom, y);
  }
  int changed = 0, outside = 0;
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      if (At(before, x, y) == At(after, x, y)) continue;
      ++changed;
      outside += x < left - 2 || x > right + 2 || y < top - 2 || y > bottom + 2;
    }
  }
  EXPECT_GT(changed, 20);
  EXPECT_EQ(outside, 0);
  // The footprint's middle is darkened by the shadow colour (black at half strength), unless the
  // box covers it.
  const Vec3 middle = light + (Vec3{0, 2.5f, 0} - light) * (light.y / (light.y - 2.5f));
  const auto [mx, my] = Project(middle);
  const uint32_t lit = At(before, int(mx), int(my)), dark = At(after, int(mx), int(my));
  EXPECT_NEAR(R(dark), R(lit) * 127 / 255, 3);
}

TEST_F(ModelPixels, TwoBoneModelBendsAsItsKeysSay) {
  // A bar from y = 0 to y = 4 along x = -0.25 .. 0.25: the lower half follows bone 1 (at the
  // origin), the upper half bone 2 (its child, 2 units up). Bone 2 turns 90 degrees about z by
  // frame 10.
  auto bar = [](Model& m) {
    std::vector<Vec3> v;
    for (int row = 0; row <= 4; ++row)
      for (float x : {-0.25f, 0.25f})
        v.push_back({x, float(row), 0});
    std::vector<std::vector<int>> faces;
    for (int row = 0; row < 4; ++row)
      faces.push_back({row * 2, row * 2 + 2, row * 2 + 3, row * 2 + 1});
    SetMesh(m, v, faces);
    for (int i = 0; i < m.positionCount; ++i)
      m.attrs[size_t(i)] = {uint8_t(v[size_t(i)].y > 2.0f ? 2 : 1), 0, 1.0f, 0};
    m.groups[0].colour = {255, 0, 0, 255};
    m.drawingSwitch = 0;
    m.boneCount = 3;
    for (int b = 0; b < 3; ++b) {
      m.bones[size_t(b)].parent = b == 2 ? 1 : 0;
      m.bones[size_t(b)].keyLists = {{kRestKey}};
    }
    m.bones[2].restPosition = {0, 2, 0};
    BoneKey turned = kRestKey;
    turned.frame = 10;
    turned.rotation = {0, 0, std::sin(kPi / 4), std::cos(kPi / 4)};
    m.bones[2].keyLists[0].push_back(turned);
  };
  InstallEffect("Bone.fx");  // mode 5 skins through it
  for (const int32_t mode : {0, 1, 3, 5}) {
    const ModelId id = AddModel(bar);
    Model& m = *Lib().Model3_Get(id);
    Lib().ShadingModeSet(m, mode);
    const int32_t object = Show(id);
    Lib().Camera_Set({0, 2, -8}, {0, 2, 0}, {0, 1, 0});
    ASSERT_TRUE(Lib().Model3_MotionSet(&m, 0, 0.0f));
    Lib().RenderFrame();
    auto p = Pixels();
    const auto [topX, topY] = Project({0, 3.5f, 0});
    const auto [sideX, sideY] = Project({-1.5f, 2.1f, 0});
    EXPECT_TRUE(Red(At(p, int(topX), int(topY)))) << "mode " << mode << " frame 0";
    EXPECT_FALSE(Red(At(p, int(sideX), int(sideY)))) << "mode " << mode << " frame 0";
    Lib().Model3_FrameAdvance(id, 10);
    Lib().RenderFrame();
    p = Pixels();
    EXPECT_FALSE(Red(At(p, int(topX), int(topY)))) << "mode " << mode << " frame 10";
    EXPECT_TRUE(Red(At(p, int(sideX), int(sideY)))) << "mode " << mode << " frame 10";
    Lib().ModelObject_Release(object);
  }
}

}  // namespace
}  // namespace wz::testing
