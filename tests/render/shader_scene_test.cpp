// The shader scene drawn by RenderFrame while shader mode is on: a box over a ground plane
// throws its shadow-map shadow where the light says (pixels on llvmpipe, with an R32F and an
// R16F shadow map), the fall back to the fixed-function frame without a shadow map, and the
// skinning effect of shading mode 5 against the fixed pipeline's indexed blending (mode 1).
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "platform/text.h"
#include "render/effects.h"
#include "render_fixture.h"

namespace wz {
namespace {

using namespace d3d;
using testing::LibraryEnvironment;
using testing::RenderTest;
using testing::SetMesh;
using testing::SquareFacingCamera;

int R(uint32_t c) {
  return int((c >> 16) & 0xFF);
}
int G(uint32_t c) {
  return int((c >> 8) & 0xFF);
}
int B(uint32_t c) {
  return int(c & 0xFF);
}

// A box from (x0, y0, z0) to (x1, y1, z1) as six quads.
void Box(Model& m, Vec3 lo, Vec3 hi) {
  std::vector<Vec3> v;
  for (int i = 0; i < 8; ++i)
    v.push_back({i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
  SetMesh(m, v,
          {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 4, 6, 2}, {1, 3, 7, 5}, {2, 6, 7, 3}, {0, 1, 5, 4}});
}

// A ground square of side 2 h at y = 0, facing up.
void Ground(Model& m, float h) {
  SetMesh(m, {{-h, 0, -h}, {-h, 0, h}, {h, 0, h}, {h, 0, -h}}, {{0, 1, 2, 3}});
}

class ShaderScene : public RenderTest {
 protected:
  // Starts on OpenGL with the shader scene's effects in the data folder and shader mode on.
  void StartShaderMode(void (*profile)(DeviceProfile&) = nullptr) {
    if (profile) LibraryEnvironment::Profile(profile);
    Start(BackendChoice::kOpenGL, 128, 128);
    InstallEffect("HLSL_3D.fx");
    InstallEffect("HLSL_2D.fx");
    Lib().Effects().shaderMode = 1;
  }
};

TEST_F(ShaderScene, BoxOverGroundThrowsItsShadowWhereTheLightSays) {
  // The light looks at display object 0 (at the origin) from (-80, 240, -200). A box 6 wide
  // from y = 10 to 16 throws its shadow onto the ground over x 0.5 to 8.7 and z 5.8 to 17.1; its
  // centre (0, 13, 0) lands at (4.58, 0, 11.45).
  const struct {
    const char* name;
    void (*profile)(DeviceProfile&);
  } profiles[] = {{"R32F shadow map", nullptr},
                  {"R16F shadow map", [](DeviceProfile& p) { ProfileByName("sm3-r16f", p); }}};
  for (const auto& profile : profiles) {
    SCOPED_TRACE(profile.name);
    LibraryEnvironment environment;
    StartShaderMode(profile.profile);
    const ModelId box = AddModel([](Model& m) {
      Box(m, {-3, 10, -3}, {3, 16, 3});
      m.groups[0].colour = {255, 60, 60, 255};
      m.shadingMode = 0;
    });
    const ModelId ground = AddModel([](Model& m) {
      Ground(m, 30.0f);
      m.groups[0].colour = {200, 200, 200, 255};
      m.shadingMode = 0;
    });
    ASSERT_EQ(Show(box), 0);
    Show(ground);
    Lib().Camera_Set({0, 120, -20}, {0, 0, 5}, {0, 1, 0});
    Device().SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    Lib().RenderFrame();
    ASSERT_TRUE(Lib().Effects().shaderMode) << "the shader scene fell back";
    const std::vector<uint32_t> withBox = Pixels();
    Lib().ModelObject_VisibleSet(0, false);
    Lib().RenderFrame();
    const std::vector<uint32_t> without = Pixels();

    auto at = [&](const std::vector<uint32_t>& p, Vec3 w) {
      const auto [x, y] = Project(w);
      return At(p, int(x), int(y));
    };
    // The ground is lit evenly (ambient plus the light from above) where nothing shades it.
    const Vec3 shadowed{4.58f, 0, 11.45f}, lit[] = {{-4.58f, 0, 11.45f}, {0, 0, -10}, {12, 0, 0}};
    const uint32_t open = at(without, shadowed);
    EXPECT_GT(R(open), 180);
    for (const Vec3& w : lit) {
      EXPECT_NEAR(R(at(withBox, w)), R(open), 3) << w.x << " " << w.z;
      EXPECT_NEAR(R(at(without, w)), R(open), 3) << w.x << " " << w.z;
    }
    // In the shadow the ground keeps half its colour (shadow colour black at alpha 0.5).
    const uint32_t dark = at(withBox, shadowed);
    EXPECT_NEAR(R(dark), R(open) / 2, 12);
    EXPECT_EQ(R(dark), B(dark));
    EXPECT_EQ(G(dark), B(dark));
    // The box itself shows red from above.
    const uint32_t top = at(withBox, {0, 16, 0});
    EXPECT_GT(R(top), G(top) + 80);
    s_.reset();  // before the environment restores the profile
  }
}

TEST_F(ShaderScene, DrawsItsPassesIntoTheirTargetsInOrder) {
  Start(BackendChoice::kRecording);
  InstallEffect("HLSL_3D.fx");
  InstallEffect("HLSL_2D.fx");
  EffectState& fx = Lib().Effects();
  fx.shaderMode = 1;
  fx.bloom = 1;
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.groups[0].switchC = 1;  // glows: drawn in the bloom pass too
    m.shadingMode = 0;
  });
  Show(id);
  const auto draws = FrameDraws();
  d3dx::Effect* scene = Lib().EffectLoad("HLSL_3D");
  d3dx::Effect* post = Lib().EffectLoad("HLSL_2D");
  ASSERT_TRUE(scene && post);
  auto program = [](d3dx::Effect* e, const char* technique) -> uint64_t {
    const auto& t = e->Desc().techniques;
    for (size_t i = 0; i < t.size(); ++i)
      if (t[i].name == technique) return e->PassProgram(UINT(i), 0)->Id();
    return 0;
  };
  const ShaderTargets& t = fx.targets;
  const struct {
    uint64_t target;
    uint64_t program;
    int count;
  } expected[] = {
      {t.shadowSurface->Id(), program(scene, "ShadowMapTexZ_Technique"), 1},
      {t.surfaces[4]->Id(), program(scene, "ShadowMapTechnique"), 1},
      {t.surfaces[0]->Id(), program(scene, "DepthOfFieldTexTechnique"), 1},
      {t.surfaces[2]->Id(), program(scene, "BloomPolyTechnique"), 1},
      {t.surfaces[3]->Id(), program(scene, "BloomTexTechnique"), 4},
      {t.surfaces[5]->Id(), program(scene, "BlendTechnique"), 1},
      {colour_->Id(), program(post, "RenderSceneTechnique"), 1},
  };
  size_t at = 0;
  for (const auto& step : expected) {
    for (int k = 0; k < step.count; ++k, ++at) {
      ASSERT_LT(at, draws.size());
      EXPECT_EQ(draws[at].renderTarget, step.target) << "draw " << at;
      EXPECT_EQ(draws[at].program, step.program) << "draw " << at;
    }
  }
  EXPECT_EQ(at, draws.size());
  // The glow quads: at x = 256 k, sides of the target over 8, 16, 32 and 48; the blend covers
  // the whole target from texture coordinates 0.01.
  for (int k = 0; k < 4; ++k) {
    const RecordedDraw& d = draws[size_t(4 + k)];
    ASSERT_EQ(d.fvf, 0x144u);
    float first[4], third[4];
    std::memcpy(first, d.Vertex(0), sizeof first);
    std::memcpy(third, d.Vertex(2), sizeof third);
    const float side = 1024.0f / std::array{8.0f, 16.0f, 32.0f, 48.0f}[size_t(k)];
    EXPECT_FLOAT_EQ(first[0], 256.0f * float(k));
    EXPECT_NEAR(third[0] - first[0], side, 1e-3f);
    EXPECT_FLOAT_EQ(third[1] - first[1], side);
  }
  float blend[7];
  std::memcpy(blend, draws[8].Vertex(2), sizeof blend);
  EXPECT_EQ(blend[0], 1024.0f);
  EXPECT_EQ(blend[1], 1024.0f);
  std::memcpy(blend, draws[8].Vertex(0), sizeof blend);
  EXPECT_FLOAT_EQ(blend[5], 0.01f);
  // The scene effect's time: 0.01 for each of the four model passes.
  float time = 0;
  scene->GetFloat("g_fTime", &time);
  EXPECT_NEAR(time, 0.04f, 1e-6f);
}

TEST_F(ShaderScene, WithoutAShadowMapFallsBackToTheFixedFunctionFrame) {
  LibraryEnvironment::Profile([](DeviceProfile& p) {
    p.refusedRenderTargetFormats = {D3DFMT_R32F, D3DFMT_R16F};
  });
  Start(BackendChoice::kRecording);
  InstallEffect("HLSL_3D.fx");
  InstallEffect("HLSL_2D.fx");
  std::vector<std::string> logs;
  Lib().AttachLogSink([&logs](const std::string& line) { logs.push_back(line); });
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.groups[0].colour = {0, 255, 0, 255};
    m.groups[0].reflectionOn = 1;  // left out of the lists only while shader mode is on
    m.shadingMode = 0;
  });
  Show(id);
  Lib().Effects().shaderMode = 1;
  const std::string message = WZ_TEXT("ShadowMap 未対応のため、シェーダーモードを使用できません。");
  for (int frame = 0; frame < 2; ++frame) {
    SCOPED_TRACE(frame);
    logs.clear();
    const auto draws = FrameDraws();
    EXPECT_EQ(Lib().Effects().shaderMode, 0);
    EXPECT_EQ(std::count(logs.begin(), logs.end(), message), frame == 0 ? 1 : 0);
    // The square is drawn in this very frame, by the fixed pipeline into the frame's target.
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].fvf, kSceneFvf);
    EXPECT_EQ(draws[0].program, 0u);
    EXPECT_EQ(draws[0].call.primitiveCount, 2u);
  }
  // The shader targets were tried once and no effect was loaded for the scene.
  EXPECT_FALSE(Lib().Effects().targets.initNeeded);
  EXPECT_FALSE(Lib().Effects().slots.contains("HLSL_3D"));
  Lib().AttachLogSink(nullptr);
}

class BumpModes : public RenderTest {
 protected:
  std::vector<std::string> logs;
  void SetUp() override {
    Start(BackendChoice::kRecording);
    Lib().AttachLogSink([this](const std::string& line) { logs.push_back(line); });
  }
  void TearDown() override {
    if (s_) Lib().AttachLogSink(nullptr);
    RenderTest::TearDown();
  }
  std::shared_ptr<Texture> Texel(D3DCOLOR c) {
    std::shared_ptr<Texture> t;
    EXPECT_EQ(Device().CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
    D3DLOCKED_RECT r;
    t->LockRect(0, &r, nullptr, 0);
    std::memcpy(r.pBits, &c, 4);
    t->UnlockRect(0);
    return t;
  }
};

TEST_F(BumpModes, ModeSixDrawsTheGroupWithItsDecalAndNormalMapThroughBumpMap) {
  InstallEffect("BumpMap.fx");
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.textureSlotCount = 3;
    m.groups[0].textureSlot = 1;
    m.groups[0].switchA = 1;  // textured
    m.groups[0].bumpMapOn = 1;
    m.groups[0].bumpMapSlot = 2;
    m.shadingMode = 6;
  });
  ModelRuntime& rt = *Lib().Model3_Runtime(id);
  rt.textures[1] = Texel(0xFF804020u);
  rt.textures[2] = Texel(0xFF8080FFu);
  Show(id);
  auto draws = FrameDraws();
  d3dx::Effect* bump = Lib().EffectLoad("BumpMap");
  ASSERT_NE(bump, nullptr);
  ASSERT_EQ(draws.size(), 1u);
  const RecordedDraw& d = draws[0];
  EXPECT_TRUE(d.declaration);
  EXPECT_EQ(d.stride, 56u);
  EXPECT_EQ(d.call.primitiveCount, 2u);
  EXPECT_EQ(d.program, bump->PassProgram(0, 0)->Id());
  EXPECT_EQ(d.textures[0], rt.textures[1].get());
  EXPECT_EQ(d.textures[1], rt.textures[2].get());
  // Each corner: its position, the square's normal (-z), the tangent along u (+x) and the
  // binormal along v (down the square: -y), and its texture coordinates.
  for (size_t i = 0; i < d.VertexCount(); ++i) {
    float v[14];
    std::memcpy(v, d.Vertex(i), sizeof v);
    EXPECT_NEAR(v[5], -1.0f, 1e-5f) << i;
    EXPECT_NEAR(v[6], 1.0f, 1e-5f) << i;
    EXPECT_NEAR(v[10], -1.0f, 1e-5f) << i;
    EXPECT_FLOAT_EQ(v[12], v[0] < 0 ? 0.0f : 1.0f) << i;
    EXPECT_FLOAT_EQ(v[13], v[1] < 0 ? 1.0f : 0.0f) << i;
  }
  EXPECT_EQ(Lib().DrawnTriangles(), 2);
  // Without its own textures the group is drawn with a white decal and a flat normal map.
  rt.textures[1].reset();
  rt.textures[2].reset();
  draws = FrameDraws();
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].textures[0], Lib().Effects().white.get());
  EXPECT_EQ(draws[0].textures[1], Lib().Effects().flatNormal.get());
  EXPECT_NE(draws[0].textures[0], nullptr);
}

TEST_F(BumpModes, ModeSevenLoadsTheBumpGroundOnceAndDrawsItsMesh) {
  InstallEffect("BumpGround.fx");
  const ModelId id = AddModel([](Model& m) {
    SquareFacingCamera(m);
    m.shadingMode = 7;
  });
  Show(id);
  // Without the ground's files: the first image's load error, once, and nothing drawn.
  for (int frame = 0; frame < 2; ++frame) {
    EXPECT_TRUE(FrameDraws().empty());
  }
  EXPECT_EQ(std::count(logs.begin(), logs.end(), "*** Load Error *** BumpGround\\BumpGround.jpg"),
            1);
  EXPECT_FALSE(Lib().Effects().ground.ready);

  // With them (after the device resources are released, it is tried again).
  const std::filesystem::path dir =
      std::filesystem::path(platform::HostPath(Lib().DataDir())) / "BumpGround";
  std::filesystem::create_directories(dir);
  for (const char* f : {"BumpGround.jpg", "BumpGroundNormal.tga", "BumpGround.x"})
    std::filesystem::copy_file(std::string(WZ_BIN_DIR "/Data/BumpGround/") + f, dir / f);
  Lib().RenderResources_Release();
  const auto draws = FrameDraws();
  const BumpGround& ground = Lib().Effects().ground;
  ASSERT_TRUE(ground.ready);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].call.kind, DrawCall::Kind::kIndexedPrimitiveUP);
  EXPECT_EQ(draws[0].call.primitiveCount, ground.meshes[0]->GetNumFaces());
  EXPECT_EQ(draws[0].program, Lib().EffectLoad("BumpGround")->PassProgram(0, 0)->Id());
  EXPECT_EQ(draws[0].textures[0], ground.colour.get());
  EXPECT_EQ(draws[0].textures[1], ground.normal.get());
  for (const auto& mesh : ground.meshes)
    EXPECT_TRUE(mesh);
}

// True when every pixel where `a` and `b` differ has, within one pixel, the other picture's
// value in both pictures.
bool SameWithinOnePixel(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int side,
                        int* differing) {
  *differing = 0;
  auto near = [&](const std::vector<uint32_t>& img, int x, int y, uint32_t value) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int px = x + dx, py = y + dy;
        if (px >= 0 && py >= 0 && px < side && py < side &&
            img[size_t(py) * size_t(side) + size_t(px)] == value) {
          return true;
        }
      }
    }
    return false;
  };
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const size_t i = size_t(y) * size_t(side) + size_t(x);
      if (a[i] == b[i]) continue;
      ++*differing;
      if (!near(a, x, y, b[i]) || !near(b, x, y, a[i])) return false;
    }
  }
  return true;
}

class SkinningEffect : public RenderTest {};

TEST_F(SkinningEffect, ModeFiveThroughBoneFxMatchesTheFixedBlendingOfModeOne) {
  Start(BackendChoice::kOpenGL, 96, 96);
  InstallEffect("Bone.fx");
  // A bar from y = 0 to 4: the lower half follows bone 1, the upper half bone 2 (2 units up),
  // which turns 60 degrees about z by frame 10; the middle row is shared half and half.
  auto bar = [](Model& m) {
    std::vector<Vec3> v;
    for (int row = 0; row <= 4; ++row)
      for (float x : {-0.4f, 0.4f})
        v.push_back({x, float(row), 0});
    std::vector<std::vector<int>> faces;
    for (int row = 0; row < 4; ++row)
      faces.push_back({row * 2, row * 2 + 2, row * 2 + 3, row * 2 + 1});
    SetMesh(m, v, faces);
    for (int i = 0; i < m.positionCount; ++i) {
      const float y = v[size_t(i)].y;
      m.attrs[size_t(i)] =
          y == 2.0f ? VertexAttr{1, 2, 0.5f, 0} : VertexAttr{uint8_t(y > 2.0f ? 2 : 1), 0, 1.0f, 0};
    }
    m.groups[0].colour = {40, 200, 255, 255};
    m.drawingSwitch = 0;
    m.boneCount = 3;
    for (int b = 0; b < 3; ++b) {
      m.bones[size_t(b)].parent = b == 2 ? 1 : 0;
      m.bones[size_t(b)].keyLists = {{kRestKey}};
    }
    m.bones[2].restPosition = {0, 2, 0};
    BoneKey turned = kRestKey;
    turned.frame = 10;
    const float half = std::numbers::pi_v<float> / 6;
    turned.rotation = {0, 0, std::sin(half), std::cos(half)};
    m.bones[2].keyLists[0].push_back(turned);
  };
  Lib().Camera_Set({0, 2, -8}, {0, 2, 0}, {0, 1, 0});
  Device().SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  std::vector<uint32_t> pictures[2];
  const int32_t modes[2] = {1, 5};
  for (int k = 0; k < 2; ++k) {
    const ModelId id = AddModel(bar);
    Model& m = *Lib().Model3_Get(id);
    Lib().ShadingModeSet(m, modes[k]);
    const int32_t object = Show(id);
    ASSERT_TRUE(Lib().Model3_MotionSet(&m, 0, 0.0f));
    Lib().Model3_FrameAdvance(id, 10);
    Lib().RenderFrame();
    EXPECT_EQ(Lib().DrawnTriangles(), 8) << "mode " << modes[k];
    pictures[k] = Pixels();
    Lib().ModelObject_Release(object);
  }
  int covered = 0, differing = 0;
  for (uint32_t c : pictures[0])
    covered += c == 0xFF28C8FFu;
  EXPECT_GT(covered, 150);
  EXPECT_TRUE(SameWithinOnePixel(pictures[0], pictures[1], 96, &differing));
  EXPECT_LT(differing, covered / 4);
  // The upper half is turned: a pixel left of the bar's top, where the straight bar is not.
  const auto [x, y] = Project({-1.3f, 2.75f, 0});
  EXPECT_EQ(At(pictures[1], int(x), int(y)), 0xFF28C8FFu);
}

}  // namespace
}  // namespace wz
