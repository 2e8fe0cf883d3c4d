// The shipped effect files, drawn directly on llvmpipe: every technique of each builds (as .fx
// and as the .fxo the build made), the 2D techniques on a known image, Bone.fx against the
// fixed-function indexed vertex blending of the same strip, BumpMap.fx brighter where the normal
// map faces the light, and the bump ground's data files. With WZ_FRAME_DUMP=DIR each test
// presents its last picture as a PNG there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/d3d/device_fixture.h"
#include "platform/d3dx/effect.h"
#include "platform/d3dx/texture_file.h"
#include "platform/d3dx/x_file.h"
#include "platform/file_io.h"

namespace wz {
namespace {

using d3d::testing::Blue;
using d3d::testing::DeviceTest;
using d3d::testing::Green;
using d3d::testing::Red;
using d3d::testing::ScreenVertex;

constexpr int kSide = 64;

std::string DataPath(const std::string& name) {
  return platform::LibraryPath(std::string(WZ_BIN_DIR) + "/Data/" + name);
}

class EffectFiles : public DeviceTest {
 protected:
  void SetUp() override {
    MakeDevice(d3d::BackendChoice::kOpenGL, kSide, kSide);
    ASSERT_EQ(device->CurrentBackendKind(), d3d::BackendKind::kOpenGL);
    ClearTo(0xFF000000u);
  }
  void TearDown() override {
    // Shows the last picture when frames are dumped (WZ_FRAME_DUMP).
    if (device && std::getenv("WZ_FRAME_DUMP")) {
      device->EndScene();
      device->Present();
    }
    DeviceTest::TearDown();
  }

  std::unique_ptr<d3dx::Effect> Load(const std::string& file) {
    std::unique_ptr<d3dx::Effect> effect;
    std::unique_ptr<d3dx::D3DXBuffer> errors;
    EXPECT_EQ(d3dx::D3DXCreateEffectFromFileA(device.get(), DataPath("System/HLSL/" + file).c_str(),
                                              nullptr, nullptr, d3dx::D3DXSHADER_DEBUG, nullptr,
                                              &effect, &errors),
              S_OK)
        << file << ": " << (errors ? errors->Text() : "");
    return effect;
  }

  // A 64 x 64 picture: red grows to the right, green downwards, blue in 8 x 8 checks.
  std::shared_ptr<d3d::Texture> KnownImage() {
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const uint32_t blue = ((x / 8 + y / 8) % 2) ? 220 : 20;
        image_[size_t(y) * kSide + size_t(x)] =
            0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 4) << 8 | blue;
      }
    }
    return MakeTexture(kSide, kSide, D3DFMT_A8R8G8B8, image_);
  }
  uint32_t Texel(int x, int y) const { return image_[size_t(y) * kSide + size_t(x)]; }

  // Draws the texture on stage 0 over the whole target with `technique`, texel for texel (pixel
  // centres on texel centres), as PostEffect2D draws the scene texture.
  void DrawScreen(d3dx::Effect& effect, const char* technique, d3d::Texture* texture) {
    ASSERT_EQ(effect.SetTechnique(technique), S_OK) << technique;
    const float e = kSide - 0.5f;
    const ScreenVertex quad[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFFu, 0, 0},
                                  {e, -0.5f, 0, 1, 0xFFFFFFFFu, 1, 0},
                                  {e, e, 0, 1, 0xFFFFFFFFu, 1, 1},
                                  {-0.5f, e, 0, 1, 0xFFFFFFFFu, 0, 1}};
    UINT passes = 0;
    ASSERT_EQ(effect.Begin(&passes, 0), S_OK);
    for (UINT p = 0; p < passes; ++p) {
      effect.BeginPass(p);
      device->SetTexture(0, texture);
      device->SetFVF(d3d::testing::kScreenFvf);
      device->DrawPrimitiveUP(d3d::D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex));
      effect.EndPass();
    }
    effect.End();
  }

  uint32_t image_[kSide * kSide];
};

// ---- Every technique builds ----

TEST_F(EffectFiles, EveryTechniqueOfEveryFileBuildsFromTextAndFromTheCompiledForm) {
  const std::pair<const char*, std::vector<const char*>> files[] = {
      {"HLSL_2D",
       {"RenderSceneTechnique", "RenderMonochromeTechnique", "RenderSepiaTechnique",
        "RenderReverseTechnique", "RenderShadeTechnique", "RenderMosaicTechnique",
        "RenderYuraYuraTechnique"}},
      {"HLSL_3D",
       {"ShadowMapTexZ_Technique", "ShadowMapTechnique", "ReflectionModokiTechnique",
        "DepthOfFieldTexTechnique", "BloomPolyTechnique", "BloomTexTechnique", "BlendTechnique"}},
      {"Bone", {"BoneTechnique"}},
      {"BumpMap", {"BumpMapDraw"}},
      {"BumpGround", {"BumpGroundTechnique"}},
  };
  for (const auto& [name, techniques] : files) {
    auto text = Load(std::string(name) + ".fx");
    auto compiled = Load(std::string(name) + ".fxo");
    ASSERT_TRUE(text && compiled) << name;
    // The same effect: the .fxo names its source by file name, the loaded text by its path.
    d3dx::EffectDesc fromText = text->Desc();
    fromText.source = compiled->Desc().source;
    EXPECT_EQ(compiled->Desc().source, std::string(name) + ".fx");
    EXPECT_EQ(fromText, compiled->Desc()) << name;
    for (const char* t : techniques)
      EXPECT_NE(text->GetTechniqueByName(t), nullptr) << name << " " << t;
    EXPECT_EQ(text->Desc().techniques.size(), techniques.size()) << name;
  }
  // The parameters the library sets exist with their types.
  auto fx3d = Load("HLSL_3D.fx");
  for (const char* p : {"World",     "WVProj",      "LightVProj",  "Ambient",      "LightColor",
                        "Diffuse",   "vLightDir",   "Margin",      "Reflectivity", "bloom_power",
                        "g_fTime",   "uv_offset_u", "uv_offset_v", "bTex",         "bBloom",
                        "ShadowTex", "Tex1",        "Tex2",        "Tex3",         "g_txScene"}) {
    EXPECT_NE(fx3d->GetParameterByName(nullptr, p), nullptr) << p;
  }
  auto bone = Load("Bone.fx");
  for (const char* p : {"matWorld", "mViewProj", "vLightDir", "bLight", "fTime", "uv_offset_u",
                        "uv_offset_v", "Tex1"}) {
    EXPECT_NE(bone->GetParameterByName(nullptr, p), nullptr) << p;
  }
  EXPECT_EQ(bone->Desc().parameters[0].arraySize, 128u);
  auto bump = Load("BumpMap.fx");
  for (const char* p : {"mWVP", "vLightDir", "vEyePos", "DecaleTex", "NormalMap"})
    EXPECT_NE(bump->GetParameterByName(nullptr, p), nullptr) << p;
}

// ---- HLSL_2D ----

TEST_F(EffectFiles, SceneMonochromeSepiaAndReverseOnAKnownImage) {
  auto effect = Load("HLSL_2D.fx");
  auto image = KnownImage();
  struct Case {
    const char* technique;
    // The expected red, green and blue of a texel.
    void (*expect)(uint32_t texel, int out[3]);
    int tolerance;
  } cases[] = {
      {"RenderSceneTechnique",
       [](uint32_t t, int out[3]) { out[0] = Red(t), out[1] = Green(t), out[2] = Blue(t); }, 1},
      // Equal channels, by luminance.
      {"RenderMonochromeTechnique",
       [](uint32_t t, int out[3]) {
         const int y = int(std::lround(0.299 * Red(t) + 0.587 * Green(t) + 0.114 * Blue(t)));
         out[0] = out[1] = out[2] = y;
       },
       1},
      // The luminance through a brown tone.
      {"RenderSepiaTechnique",
       [](uint32_t t, int out[3]) {
         const double y = 0.299 * Red(t) + 0.587 * Green(t) + 0.114 * Blue(t);
         out[0] = int(std::lround(std::min(255.0, y * 1.07)));
         out[1] = int(std::lround(y * 0.74));
         out[2] = int(std::lround(y * 0.43));
       },
       2},
      {"RenderReverseTechnique",
       [](uint32_t t, int out[3]) {
         out[0] = 255 - Red(t), out[1] = 255 - Green(t), out[2] = 255 - Blue(t);
       },
       1},
  };
  for (const Case& c : cases) {
    DrawScreen(*effect, c.technique, image.get());
    const std::vector<uint32_t> frame = Frame();
    int worst = 0;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const uint32_t p = frame[size_t(y) * kSide + size_t(x)];
        int want[3];
        c.expect(Texel(x, y), want);
        worst = std::max({worst, std::abs(Red(p) - want[0]), std::abs(Green(p) - want[1]),
                          std::abs(Blue(p) - want[2])});
        if (std::string(c.technique) == "RenderMonochromeTechnique") {
          ASSERT_EQ(Red(p), Green(p)) << x << "," << y;
          ASSERT_EQ(Green(p), Blue(p)) << x << "," << y;
        }
        if (std::string(c.technique) == "RenderSepiaTechnique" && Red(p) > 8) {
          ASSERT_GT(Red(p), Green(p)) << x << "," << y;
          ASSERT_GT(Green(p), Blue(p)) << x << "," << y;
        }
      }
    }
    EXPECT_LE(worst, c.tolerance) << c.technique;
  }
}

TEST_F(EffectFiles, StrengthMixesTheSceneWithTheEffect) {
  auto effect = Load("HLSL_2D.fx");
  auto image = KnownImage();
  const float half[3] = {0.5f, 8.0f, 4.0f};
  effect->SetValue("op", half, sizeof half);
  DrawScreen(*effect, "RenderReverseTechnique", image.get());
  // Halfway between c and 255 - c is 127.5 everywhere.
  for (int x : {0, 20, 63}) {
    const uint32_t p = PixelAt(x, 40);
    EXPECT_NEAR(Red(p), 127.5, 1) << x;
    EXPECT_NEAR(Green(p), 127.5, 1) << x;
  }
}

TEST_F(EffectFiles, ShadeDarkensTowardsTheCorners) {
  auto effect = Load("HLSL_2D.fx");
  const uint32_t white[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  auto image = MakeTexture(2, 2, D3DFMT_A8R8G8B8, white);
  DrawScreen(*effect, "RenderShadeTechnique", image.get());
  EXPECT_EQ(PixelAt(31, 31), 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(32, 32), 0xFFFFFFFFu);
  // Darker step by step along the diagonal, to about a quarter in the corners.
  int last = 256;
  for (int i = 32; i < kSide; i += 4) {
    const int v = Red(PixelAt(i, i));
    EXPECT_LE(v, last) << i;
    last = v;
  }
  for (const auto& [x, y] : {std::pair{0, 0}, {63, 0}, {0, 63}, {63, 63}}) {
    EXPECT_LT(Red(PixelAt(x, y)), 90) << x << "," << y;
    EXPECT_GT(Red(PixelAt(x, y)), 50) << x << "," << y;
  }
}

TEST_F(EffectFiles, MosaicBlocksAreConstant) {
  auto effect = Load("HLSL_2D.fx");
  auto image = KnownImage();
  const float op[3] = {1.0f, 4.0f, 4.0f};
  effect->SetValue("op", op, sizeof op);
  DrawScreen(*effect, "RenderMosaicTechnique", image.get());
  const std::vector<uint32_t> frame = Frame();
  for (int by = 0; by < kSide / 4; ++by) {
    for (int bx = 0; bx < kSide / 4; ++bx) {
      const uint32_t first = frame[size_t(by * 4) * kSide + size_t(bx * 4)];
      for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
          ASSERT_EQ(frame[size_t(by * 4 + y) * kSide + size_t(bx * 4 + x)], first)
              << "block " << bx << "," << by;
        }
      }
      // The picture at the block's centre: between its texels 1 and 2 each way.
      EXPECT_NEAR(Red(first), 16 * bx + 6, 1) << bx;
      EXPECT_NEAR(Green(first), 16 * by + 6, 1) << by;
    }
  }
}

TEST_F(EffectFiles, WaveSwaysRowsAndMovesWithTime) {
  auto effect = Load("HLSL_2D.fx");
  // Red grows four per texel to the right, so a pixel's red tells where it was read from.
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x)
      image_[size_t(y) * kSide + size_t(x)] = 0xFF000000u | uint32_t(x * 4) << 16;
  }
  auto image = MakeTexture(kSide, kSide, D3DFMT_A8R8G8B8, image_);
  const float op[3] = {1.0f, 8.0f, 4.0f};  // four pixels of sway
  effect->SetValue("op", op, sizeof op);
  for (float time : {0.01f, 0.03f}) {
    effect->SetFloat("g_fTime", time);
    DrawScreen(*effect, "RenderYuraYuraTechnique", image.get());
    double largest = 0;
    for (int y = 0; y < kSide; ++y) {
      const double v = (y + 0.5) / kSide;
      const double expected = 4.0 * std::sin(v * 6.2831853 * 8.0 + time * 100.0);
      const double shift = Red(PixelAt(32, y)) / 4.0 - 32.0;
      EXPECT_NEAR(shift, expected, 0.35) << "row " << y << " at time " << time;
      largest = std::max(largest, std::abs(shift));
    }
    EXPECT_GT(largest, 3.5);
  }
  // With no amplitude the picture stands still.
  const float still[3] = {1.0f, 8.0f, 0.0f};
  effect->SetValue("op", still, sizeof still);
  DrawScreen(*effect, "RenderYuraYuraTechnique", image.get());
  for (int y = 0; y < kSide; y += 7)
    EXPECT_EQ(Red(PixelAt(32, y)), 128) << y;
}

// ---- Bone.fx ----

struct SkinVertex {
  float x, y, z, weight;
  uint8_t indices[4];
  float nx, ny, nz;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(SkinVertex) == 44);

d3d::D3DMATRIX RotationZ(float radians) {
  d3d::D3DMATRIX m;
  m.m[0][0] = std::cos(radians), m.m[0][1] = std::sin(radians);
  m.m[1][0] = -std::sin(radians), m.m[1][1] = std::cos(radians);
  return m;
}

// True when every pixel where `a` and `b` differ has, within one pixel, the other picture's
// value in both pictures: the two agree up to a pixel along their edges.
bool SameWithinOnePixel(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                        int* differing) {
  *differing = 0;
  auto near = [](const std::vector<uint32_t>& img, int x, int y, uint32_t value) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int px = x + dx, py = y + dy;
        if (px >= 0 && py >= 0 && px < kSide && py < kSide &&
            img[size_t(py) * kSide + size_t(px)] == value) {
          return true;
        }
      }
    }
    return false;
  };
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const size_t i = size_t(y) * kSide + size_t(x);
      if (a[i] == b[i]) continue;
      ++*differing;
      if (!near(a, x, y, b[i]) || !near(b, x, y, a[i])) return false;
    }
  }
  return true;
}

TEST_F(EffectFiles, BoneSkinningMatchesFixedFunctionIndexedBlending) {
  // A strip from x = -0.75 to 0.75: bone 0 holds the left end, bone 1 the right one, and the
  // middle column is shared half and half. Bone 1 turns 40 degrees about the origin.
  std::vector<SkinVertex> strip;
  for (int i = 0; i <= 6; ++i) {
    const float x = -0.75f + 0.25f * float(i);
    const float w = x < -0.01f ? 1.0f : x > 0.01f ? 0.0f : 0.5f;  // weight of bone 0
    for (float y : {0.12f, -0.12f})
      strip.push_back({x, y, 0.5f, w, {0, 1, 0, 0}, 0, 0, -1, 0xFFFFFFFFu, 0, 0});
  }
  const d3d::D3DMATRIX identity, turn = RotationZ(0.6981317f);
  device->SetRenderState(d3d::D3DRS_LIGHTING, 0);
  device->SetRenderState(d3d::D3DRS_CULLMODE, d3d::D3DCULL_NONE);
  device->SetRenderState(d3d::D3DRS_ZENABLE, 0);
  device->SetTransform(d3d::D3DTS_VIEW, &identity);
  device->SetTransform(d3d::D3DTS_PROJECTION, &identity);
  device->SetFVF(0x1158);
  auto draw = [&] {
    device->DrawPrimitiveUP(d3d::D3DPT_TRIANGLESTRIP, UINT(strip.size() - 2), strip.data(),
                            sizeof(SkinVertex));
  };

  // Unblended, for comparison: the strip lies straight.
  draw();
  const std::vector<uint32_t> straight = Frame();

  ClearTo(0xFF000000u);
  device->SetTransform(d3d::D3DTS_WORLDMATRIX(0), &identity);
  device->SetTransform(d3d::D3DTS_WORLDMATRIX(1), &turn);
  device->SetRenderState(d3d::D3DRS_VERTEXBLEND, d3d::D3DVBF_1WEIGHTS);
  device->SetRenderState(d3d::D3DRS_INDEXEDVERTEXBLENDENABLE, 1);
  draw();
  const std::vector<uint32_t> fixed = Frame();
  device->SetRenderState(d3d::D3DRS_VERTEXBLEND, 0);
  device->SetRenderState(d3d::D3DRS_INDEXEDVERTEXBLENDENABLE, 0);

  ClearTo(0xFF000000u);
  auto effect = Load("Bone.fx");
  const d3d::D3DMATRIX bones[2] = {identity, turn};
  ASSERT_EQ(effect->SetMatrixArray("matWorld", bones, 2), S_OK);
  ASSERT_EQ(effect->SetMatrix("mViewProj", &identity), S_OK);
  ASSERT_EQ(effect->SetBool("bLight", 0), S_OK);
  ASSERT_EQ(effect->SetBool("bTex", 0), S_OK);
  ASSERT_EQ(effect->SetTechnique("BoneTechnique"), S_OK);
  UINT passes = 0;
  effect->Begin(&passes, 0);
  for (UINT p = 0; p < passes; ++p) {
    effect->BeginPass(p);
    draw();
    effect->EndPass();
  }
  effect->End();
  const std::vector<uint32_t> skinned = Frame();

  int bent = 0, differing = 0;
  for (size_t i = 0; i < fixed.size(); ++i)
    bent += fixed[i] != straight[i];
  EXPECT_GT(bent, 100) << "the blending does not bend the strip";
  EXPECT_TRUE(SameWithinOnePixel(fixed, skinned, &differing));
  EXPECT_LT(differing, 40);
}

// ---- BumpMap.fx ----

struct BumpVertex {
  float x, y, z;
  float nx, ny, nz;
  float tx, ty, tz;
  float bx, by, bz;
  float u, v;
};

TEST_F(EffectFiles, BumpMappedQuadIsBrighterWhereItsNormalMapFacesTheLight) {
  const d3d::D3DVERTEXELEMENT9 elements[] = {
      {0, 0, d3d::D3DDECLTYPE_FLOAT3, 0, d3d::D3DDECLUSAGE_POSITION, 0},
      {0, 12, d3d::D3DDECLTYPE_FLOAT3, 0, d3d::D3DDECLUSAGE_NORMAL, 0},
      {0, 24, d3d::D3DDECLTYPE_FLOAT3, 0, d3d::D3DDECLUSAGE_TANGENT, 0},
      {0, 36, d3d::D3DDECLTYPE_FLOAT3, 0, d3d::D3DDECLUSAGE_BINORMAL, 0},
      {0, 48, d3d::D3DDECLTYPE_FLOAT2, 0, d3d::D3DDECLUSAGE_TEXCOORD, 0},
      d3d::D3DDECL_END};
  std::shared_ptr<d3d::VertexDeclaration> declaration;
  ASSERT_EQ(device->CreateVertexDeclaration(elements, &declaration), S_OK);
  // A quad facing the eye (normal towards -z); u grows to the right, v downwards.
  const BumpVertex quad[4] = {{-1, 1, 0.5f, 0, 0, -1, 1, 0, 0, 0, -1, 0, 0, 0},
                              {1, 1, 0.5f, 0, 0, -1, 1, 0, 0, 0, -1, 0, 1, 0},
                              {1, -1, 0.5f, 0, 0, -1, 1, 0, 0, 0, -1, 0, 1, 1},
                              {-1, -1, 0.5f, 0, 0, -1, 1, 0, 0, 0, -1, 0, 0, 1}};
  // Three bands of tangent-space normals, four texels each: straight out, tilted towards the
  // light (to +x), tilted away from it.
  uint32_t normals[12];
  for (int i = 0; i < 12; ++i) {
    normals[i] = i < 4 ? 0xFF8080FFu : i < 8 ? 0xFFCC80E6u : 0xFF3380E6u;
  }
  auto normalMap = MakeTexture(12, 1, D3DFMT_A8R8G8B8, normals);
  const uint32_t white = 0xFFFFFFFFu;
  auto decal = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &white);

  auto effect = Load("BumpMap.fx");
  const d3d::D3DMATRIX identity;
  const float light[4] = {0.6f, 0.0f, -0.8f, 0.0f};  // towards the light: right and out
  const float eye[4] = {0.0f, 0.0f, -15.0f, 1.0f};
  effect->SetMatrix("mWVP", &identity);
  effect->SetVector("vLightDir", light);
  effect->SetVector("vEyePos", eye);
  effect->SetTexture("DecaleTex", decal.get());
  effect->SetTexture("NormalMap", normalMap.get());
  ASSERT_EQ(effect->SetTechnique("BumpMapDraw"), S_OK);
  device->SetRenderState(d3d::D3DRS_CULLMODE, d3d::D3DCULL_NONE);
  device->SetVertexDeclaration(declaration.get());
  UINT passes = 0;
  effect->Begin(&passes, 0);
  for (UINT p = 0; p < passes; ++p) {
    effect->BeginPass(p);
    device->DrawPrimitiveUP(d3d::D3DPT_TRIANGLEFAN, 2, quad, sizeof(BumpVertex));
    effect->EndPass();
  }
  effect->End();
  // Band centres: 1/6, 1/2 and 5/6 of the width.
  const int straight = Red(PixelAt(10, 32)), towards = Red(PixelAt(32, 32)),
            away = Red(PixelAt(53, 32));
  EXPECT_GT(towards, straight + 10);
  EXPECT_GT(straight, away + 60);
  // A white decal stays grey: every channel alike.
  EXPECT_EQ(Red(PixelAt(32, 32)), Blue(PixelAt(32, 32)));
}

// ---- BumpGround data ----

TEST_F(EffectFiles, BumpGroundFilesLoadAndLightTheGround) {
  std::shared_ptr<d3d::Texture> colour, normal;
  d3dx::D3DXIMAGE_INFO info;
  ASSERT_EQ(d3dx::D3DXCreateTextureFromFileExA(
                device.get(), DataPath("BumpGround/BumpGround.jpg").c_str(), 0, 0, 1, 0,
                D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, 1, 1, 0, &info, nullptr, &colour),
            S_OK);
  EXPECT_EQ(info.Width, 256u);
  ASSERT_EQ(d3dx::D3DXCreateTextureFromFileExA(
                device.get(), DataPath("BumpGround/BumpGroundNormal.tga").c_str(), 0, 0, 1, 0,
                D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, 1, 1, 0, &info, nullptr, &normal),
            S_OK);
  EXPECT_EQ(info.Width, 256u);
  // On a tile's flat top the normal points straight out of the surface.
  const auto bits = normal->LevelBits(0);
  uint32_t top;
  std::memcpy(&top, bits.data() + (size_t(32) * 256 + 32) * 4, 4);
  EXPECT_NEAR(Blue(top), 255, 3);
  EXPECT_NEAR(Red(top), 128, 12);
  EXPECT_NEAR(Green(top), 128, 12);

  std::unique_ptr<d3dx::Mesh> mesh;
  std::vector<d3dx::D3DXMATERIAL> materials;
  d3dx::XStatus status;
  ASSERT_EQ(d3dx::D3DXLoadMeshFromX(DataPath("BumpGround/BumpGround.x"), D3DXMESH_SYSTEMMEM, mesh,
                                    materials, &status),
            S_OK)
      << status.message;
  EXPECT_EQ(mesh->GetNumFaces(), 128u);
  ASSERT_EQ(materials.size(), 1u);
  EXPECT_EQ(materials[0].textureFilename, "BumpGround.jpg");
  EXPECT_EQ(mesh->Normal(0), (std::array<float, 3>{0, 1, 0}));

  // Seen from above (y up becomes the screen's up after a turn about x), lit from above: the
  // ground shows, tiles and mortar in different light.
  auto effect = Load("BumpGround.fx");
  // Looking straight down on the middle 20 x 20 units: x to the right, z up the screen.
  d3d::D3DMATRIX view;
  view.m[0][0] = 0.1f;
  view.m[1][1] = 0, view.m[1][2] = -0.02f, view.m[2][1] = 0.1f, view.m[2][2] = 0;
  view.m[3][2] = 0.5f;
  effect->SetMatrix("mWVP", &view);
  const float light[4] = {0.3f, 0.9f, 0.3f, 0.0f};
  effect->SetVector("vLightDir", light);
  effect->SetTexture("DecaleTex", colour.get());
  effect->SetTexture("NormalMap", normal.get());
  ASSERT_EQ(effect->SetTechnique("BumpGroundTechnique"), S_OK);
  device->SetRenderState(d3d::D3DRS_ZENABLE, 0);
  device->SetFVF(mesh->GetFVF());
  const auto vb = mesh->VertexBuffer();
  std::vector<uint16_t> indices(mesh->GetNumFaces() * 3);
  for (size_t i = 0; i < indices.size(); ++i)
    indices[i] = uint16_t(mesh->Index(i));
  UINT passes = 0;
  effect->Begin(&passes, 0);
  for (UINT p = 0; p < passes; ++p) {
    effect->BeginPass(p);
    device->DrawIndexedPrimitiveUP(d3d::D3DPT_TRIANGLELIST, 0, mesh->GetNumVertices(),
                                   mesh->GetNumFaces(), indices.data(), d3d::D3DFMT_INDEX16,
                                   vb.data(), mesh->GetNumBytesPerVertex());
    effect->EndPass();
  }
  effect->End();
  int lit = 0, darker = 0;
  for (uint32_t p : Frame()) {
    lit += Red(p) > 120;
    darker += Red(p) > 0 && Red(p) < 100;
  }
  EXPECT_GT(lit, kSide * kSide / 2);
  EXPECT_GT(darker, 50);
}

}  // namespace
}  // namespace wz
