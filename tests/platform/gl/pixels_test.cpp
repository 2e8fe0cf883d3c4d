// Pixels drawn by the OpenGL backend (Mesa's llvmpipe headless) keep Direct3D 9's rules: pixel
// centres, fill rule, winding, flat shading, depth, alpha test, blending, stencil, sampling,
// lighting, texel byte order and indexed vertex blending. Expected values come from the rules,
// with ±1 per channel where blending rounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/d3d/device_fixture.h"

namespace wz::d3d::testing {
namespace {

class Pixels : public DeviceTest {
 protected:
  void SetUp() override {
    MakeDevice(BackendChoice::kOpenGL);
    ASSERT_TRUE(device->GetBackend(true));
    ASSERT_EQ(device->CurrentBackendKind(), BackendKind::kOpenGL)
        << "no OpenGL context: " << (log.empty() ? "" : log.back());
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    ClearTo(0xFF000000u);
  }

  // Clip space equals the vertex position: x and y in -1..1, z in 0..1.
  void IdentityTransforms() {
    D3DMATRIX identity;
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetTransform(D3DTS_VIEW, &identity);
    device->SetTransform(D3DTS_PROJECTION, &identity);
  }
};

TEST_F(Pixels, QuadFromZeroToFourCoversExactlyPixelsZeroToThree) {
  ASSERT_EQ(ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu), S_OK);
  const auto p = Frame();
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(p[size_t(y) * 16 + size_t(x)], x < 4 && y < 4 ? 0xFFFFFFFFu : 0xFF000000u)
          << x << "," << y;
    }
  }
}

TEST_F(Pixels, HalfPixelOffsetQuadMapsTexelForTexelUnderLinearFiltering) {
  uint32_t texels[16];
  for (int i = 0; i < 16; ++i)
    texels[i] = 0xFF000000u | uint32_t(i * 16) << 16 | uint32_t(255 - i * 16);
  auto t = MakeTexture(4, 4, D3DFMT_A8R8G8B8, texels);
  device->SetTexture(0, t.get());
  device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  ASSERT_EQ(ScreenQuad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFFu), S_OK);
  const auto p = Frame();
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(p[size_t(y) * 16 + size_t(x)] | 0xFF000000u, texels[y * 4 + x]) << x << "," << y;
    }
  }
  EXPECT_EQ(p[4], 0xFF000000u);
}

TEST_F(Pixels, HorizontalLineLightsOneRow) {
  const ScreenVertex line[2] = {{2, 5, 0, 1, 0xFF00FF00u, 0, 0}, {12, 5, 0, 1, 0xFF00FF00u, 0, 0}};
  device->SetFVF(kScreenFvf);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(ScreenVertex)), S_OK);
  const auto p = Frame();
  for (int x = 2; x < 12; ++x) {
    EXPECT_EQ(p[5 * 16 + size_t(x)], 0xFF00FF00u) << x;
    EXPECT_EQ(p[4 * 16 + size_t(x)], 0xFF000000u) << x;
    EXPECT_EQ(p[6 * 16 + size_t(x)], 0xFF000000u) << x;
  }
}

TEST_F(Pixels, CullModesRemoveTheWindingTheyName) {
  // On screen (y down): clockwise (0,0) (8,0) (0,8); counter-clockwise the other way round.
  const ScreenVertex clockwise[3] = {{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0},
                                     {8, 0, 0, 1, 0xFFFFFFFFu, 0, 0},
                                     {0, 8, 0, 1, 0xFFFFFFFFu, 0, 0}};
  const ScreenVertex counter[3] = {clockwise[0], clockwise[2], clockwise[1]};
  struct Case {
    DWORD cull;
    bool clockwiseShows, counterShows;
  } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
  device->SetFVF(kScreenFvf);
  for (const Case& c : cases) {
    device->SetRenderState(D3DRS_CULLMODE, c.cull);
    for (int winding = 0; winding < 2; ++winding) {
      ClearTo(0xFF000000u);
      device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, winding ? counter : clockwise,
                              sizeof(ScreenVertex));
      const bool shows = PixelAt(2, 2) == 0xFFFFFFFFu;
      EXPECT_EQ(shows, winding ? c.counterShows : c.clockwiseShows)
          << "cull " << c.cull << (winding ? " counter-clockwise" : " clockwise");
    }
  }
}

TEST_F(Pixels, FlatShadingTakesTheFirstVertexColour) {
  const ScreenVertex tri[3] = {{0, 0, 0, 1, 0xFFFF0000u, 0, 0},
                               {16, 0, 0, 1, 0xFF00FF00u, 0, 0},
                               {0, 16, 0, 1, 0xFF0000FFu, 0, 0}};
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  device->SetFVF(kScreenFvf);
  ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex)), S_OK);
  EXPECT_EQ(PixelAt(1, 1), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(10, 3), 0xFFFF0000u);
  device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex));
  EXPECT_NE(PixelAt(10, 3), 0xFFFF0000u);  // interpolated towards green
}

TEST_F(Pixels, DepthTestAndDepthWrites) {
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  // Near red first, then far green: the green fails LESSEQUAL where red wrote depth.
  ScreenQuad(0, 0, 8, 8, 0xFFFF0000u, 0.2f);
  ScreenQuad(4, 4, 12, 12, 0xFF00FF00u, 0.8f);
  EXPECT_EQ(PixelAt(5, 5), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(10, 10), 0xFF00FF00u);
  // Without depth writes the near quad leaves the depth buffer as it was.
  ClearTo(0xFF000000u);
  device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
  ScreenQuad(0, 0, 8, 8, 0xFFFF0000u, 0.2f);
  device->SetRenderState(D3DRS_ZWRITEENABLE, 1);
  ScreenQuad(4, 4, 12, 12, 0xFF00FF00u, 0.8f);
  EXPECT_EQ(PixelAt(5, 5), 0xFF00FF00u);
  // Depth test off: the last drawn wins whatever its depth.
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  ScreenQuad(0, 0, 8, 8, 0xFF0000FFu, 1.0f);
  EXPECT_EQ(PixelAt(5, 5), 0xFF0000FFu);
}

TEST_F(Pixels, AlphaTestComparesWithTheReferenceValue) {
  device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);  // the vertex alpha
  struct Case {
    DWORD ref;
    DWORD func;
    bool passes;
  } cases[] = {{0x80, D3DCMP_GREATEREQUAL, true},
               {0x81, D3DCMP_GREATEREQUAL, false},
               {0x80, D3DCMP_GREATER, false},
               {0x80, D3DCMP_EQUAL, true},
               {0x7F, D3DCMP_LESS, false}};
  for (const Case& c : cases) {
    ClearTo(0xFF000000u);
    device->SetRenderState(D3DRS_ALPHAREF, c.ref);
    device->SetRenderState(D3DRS_ALPHAFUNC, c.func);
    ScreenQuad(0, 0, 4, 4, 0x80FFFFFFu);
    EXPECT_EQ((PixelAt(1, 1) & 0xFFFFFF) == 0xFFFFFF, c.passes) << c.ref << " " << c.func;
  }
}

TEST_F(Pixels, BlendOperationsOnKnownColours) {
  // Destination 0x40 grey; source white with alpha 0x80 (0.502).
  struct Case {
    DWORD op, src, dst;
    int expected;  // per channel
  } cases[] = {
      {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 160},  // 255a + 64(1-a)
      {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 192},          // 128 + 64
      {D3DBLENDOP_REVSUBTRACT, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0},    // 64 - 128, clamped
      {D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE, 255},
      {D3DBLENDOP_SUBTRACT, D3DBLEND_ONE, D3DBLEND_ONE, 191},  // 255 - 64
  };
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  for (const Case& c : cases) {
    ClearTo(0xFF404040u);
    device->SetRenderState(D3DRS_BLENDOP, c.op);
    device->SetRenderState(D3DRS_SRCBLEND, c.src);
    device->SetRenderState(D3DRS_DESTBLEND, c.dst);
    ScreenQuad(0, 0, 4, 4, 0x80FFFFFFu);
    const uint32_t p = PixelAt(1, 1);
    EXPECT_NEAR(Red(p), c.expected, 1) << c.op << " " << c.src << " " << c.dst;
    EXPECT_NEAR(Blue(p), c.expected, 1);
  }
  // A blend of 0x40 black over the untouched rest changes nothing outside the quad.
  EXPECT_EQ(PixelAt(8, 8), 0xFF404040u);
}

TEST_F(Pixels, StencilIncrementAndDecrementCount) {
  device->SetRenderState(D3DRS_STENCILENABLE, 1);
  device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
  device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
  device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
  for (int i = 0; i < 3; ++i)
    ScreenQuad(0, 0, 8, 8, 0xFFFFFFFFu);
  device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_DECR);
  ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu);
  device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
  device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
  device->SetRenderState(D3DRS_STENCILREF, 2);
  ScreenQuad(0, 0, 16, 16, 0xFFFF0000u);  // where the count is 2
  device->SetRenderState(D3DRS_STENCILREF, 3);
  ScreenQuad(0, 0, 16, 16, 0xFF00FF00u);  // where it is 3
  EXPECT_EQ(PixelAt(1, 1), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(6, 6), 0xFF00FF00u);
  EXPECT_EQ(PixelAt(12, 12), 0xFF000000u);
}

TEST_F(Pixels, PointAndLinearSampling) {
  // A black and a white texel stretched over 16 x 4 pixels (magnified in both directions).
  const uint32_t texels[2] = {0xFF000000u, 0xFFFFFFFFu};
  auto t = MakeTexture(2, 1, D3DFMT_A8R8G8B8, texels);
  device->SetTexture(0, t.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  ScreenQuad(0, 0, 16, 4, 0xFFFFFFFFu);  // point sampling, the default
  auto p = Frame();
  // Pixel x samples u = x / 16; pixel 8 sits on the texel boundary and is left out.
  for (int x = 0; x < 16; ++x) {
    if (x != 8) {
      EXPECT_EQ(Red(p[16 + size_t(x)]), x < 8 ? 0 : 255) << x;
    }
  }
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  ScreenQuad(0, 0, 16, 4, 0xFFFFFFFFu);
  p = Frame();
  // Texel centres at u = 0.25 and 0.75 (pixels 4 and 12): clamped beyond, a ramp between.
  EXPECT_EQ(Red(p[16 + 2]), 0);
  EXPECT_EQ(Red(p[16 + 14]), 255);
  EXPECT_NEAR(Red(p[16 + 6]), 0.25 * 255, 2);
  EXPECT_NEAR(Red(p[16 + 8]), 0.5 * 255, 2);
  EXPECT_NEAR(Red(p[16 + 10]), 0.75 * 255, 2);
}

TEST_F(Pixels, FaceLitTowardsAndAwayFromAPointLight) {
  // Camera at the origin looking along +z; the light far behind the camera, so that it falls
  // straight on every vertex (lighting is per vertex).
  D3DMATRIX identity, projection;
  projection.m[2][3] = 1;  // w = z: a perspective divide
  projection.m[3][3] = 0;
  projection.m[2][2] = 1.0f;
  projection.m[3][2] = -1.0f;
  device->SetTransform(D3DTS_WORLD, &identity);
  device->SetTransform(D3DTS_VIEW, &identity);
  device->SetTransform(D3DTS_PROJECTION, &projection);
  device->SetRenderState(D3DRS_LIGHTING, 1);
  device->SetRenderState(D3DRS_AMBIENT, 0x00202020u);
  device->SetRenderState(D3DRS_COLORVERTEX, 0);
  D3DMATERIAL9 m;
  m.Diffuse = m.Ambient = {1, 1, 1, 1};
  device->SetMaterial(&m);
  D3DLIGHT9 light;
  light.Type = D3DLIGHT_POINT;
  light.Diffuse = {1, 0, 0, 0};
  light.Position = {0, 0, -1000};
  light.Range = 2000;
  light.Attenuation0 = 1;
  device->SetLight(0, &light);
  device->LightEnable(0, 1);
  device->SetFVF(kSceneFvf);
  for (int away = 0; away < 2; ++away) {
    ClearTo(0xFF000000u);
    const float nz = away ? 1.0f : -1.0f;
    const SceneVertex quad[4] = {{-5, 5, 5, 0, 0, nz, 0, 0, 0, 0},
                                 {5, 5, 5, 0, 0, nz, 0, 0, 0, 0},
                                 {5, -5, 5, 0, 0, nz, 0, 0, 0, 0},
                                 {-5, -5, 5, 0, 0, nz, 0, 0, 0, 0}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(SceneVertex)), S_OK);
    const uint32_t p = PixelAt(8, 8);
    if (away) {
      EXPECT_EQ(p, 0xFF202020u);  // ambient only
    } else {
      EXPECT_EQ(Red(p), 255);  // ambient + full diffuse
      EXPECT_EQ(Green(p), 0x20);
      EXPECT_EQ(Blue(p), 0x20);
    }
  }
}

TEST_F(Pixels, TexelByteOrderOfA8R8G8B8AndA4R4G4B4) {
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  // A8R8G8B8: bytes B, G, R, A.
  const uint8_t argb[4] = {0x10, 0x20, 0x30, 0xFF};
  auto t32 = MakeTexture(1, 1, D3DFMT_A8R8G8B8, argb);
  device->SetTexture(0, t32.get());
  ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(1, 1), 0xFF302010u);
  // A4R4G4B4: the word 0xF84C is alpha F, red 8, green 4, blue C.
  const uint16_t a4 = 0xF84C;
  auto t16 = MakeTexture(1, 1, D3DFMT_A4R4G4B4, &a4);
  device->SetTexture(0, t16.get());
  ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(1, 1), 0xFF8844CCu);
  // X8R8G8B8 reads alpha as 1 whatever the byte holds.
  const uint8_t xrgb[4] = {0x10, 0x20, 0x30, 0x00};
  auto tx = MakeTexture(1, 1, D3DFMT_X8R8G8B8, xrgb);
  device->SetTexture(0, tx.get());
  device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
  device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_EQUAL);
  device->SetRenderState(D3DRS_ALPHAREF, 255);
  ScreenQuad(0, 0, 4, 4, 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(1, 1), 0xFF302010u);
}

TEST_F(Pixels, IndexedVertexBlendingMovesOnlyTheVerticesOfBoneOne) {
  struct BlendVertex {
    float x, y, z, weight;
    uint8_t indices[4];
    float nx, ny, nz;
    D3DCOLOR colour;
    float u, v;
  };
  static_assert(sizeof(BlendVertex) == 44);
  const DWORD fvf =
      D3DFVF_XYZB2 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
  ASSERT_EQ(fvf, 0x1158u);
  // Left edge on bone 0 at x = -0.5 (column 4), right edge on bone 1 at x = 0 (column 8).
  const D3DCOLOR w = 0xFFFFFFFFu;
  const BlendVertex quad[4] = {{-0.5f, 0.5f, 0.5f, 1, {0, 0, 0, 0}, 0, 0, -1, w, 0, 0},
                               {0, 0.5f, 0.5f, 1, {1, 1, 0, 0}, 0, 0, -1, w, 0, 0},
                               {0, -0.5f, 0.5f, 1, {1, 1, 0, 0}, 0, 0, -1, w, 0, 0},
                               {-0.5f, -0.5f, 0.5f, 1, {0, 0, 0, 0}, 0, 0, -1, w, 0, 0}};
  IdentityTransforms();
  D3DMATRIX shift;
  shift.m[3][0] = 0.5f;  // bone 1 moves half the target to the right
  device->SetTransform(D3DTS_WORLDMATRIX(1), &shift);
  device->SetFVF(fvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(BlendVertex));
  EXPECT_EQ(PixelAt(5, 8), w);
  EXPECT_EQ(PixelAt(10, 8), 0xFF000000u);  // without blending bone 1's edge stays at column 8
  ClearTo(0xFF000000u);
  device->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_1WEIGHTS);
  device->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 1);
  device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(BlendVertex));
  EXPECT_EQ(PixelAt(3, 8), 0xFF000000u);  // bone 0's edge stays
  EXPECT_EQ(PixelAt(4, 8), w);
  EXPECT_EQ(PixelAt(11, 8), w);  // bone 1's edge moved to column 12
  EXPECT_EQ(PixelAt(12, 8), 0xFF000000u);
}

TEST_F(Pixels, RenderTargetTextureIsReadTheRightWayUp) {
  std::shared_ptr<Texture> target;
  ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                  &target),
            S_OK);
  std::shared_ptr<Surface> level, backBuffer;
  target->GetSurfaceLevel(0, &level);
  device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  ASSERT_EQ(device->SetRenderTarget(0, level.get()), S_OK);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1, 0), S_OK);
  ScreenQuad(0, 0, 8, 2, 0xFFFF0000u);  // the top two rows red
  // Read back as a system-memory copy: row 0 is the top row.
  std::shared_ptr<Surface> copy;
  ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy),
            S_OK);
  ASSERT_EQ(device->GetRenderTargetData(level.get(), copy.get()), S_OK);
  uint32_t first, last;
  std::memcpy(&first, copy->Bits().data(), 4);
  std::memcpy(&last, copy->Bits().data() + 7 * copy->Pitch(), 4);
  EXPECT_EQ(first, 0xFFFF0000u);
  EXPECT_EQ(last, 0xFF0000FFu);
  // Drawn as a texture onto the back buffer, its top stays on top.
  ASSERT_EQ(device->SetRenderTarget(0, backBuffer.get()), S_OK);
  device->SetTexture(0, target.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  ScreenQuad(0, 0, 8, 8, 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(3, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(3, 7), 0xFF0000FFu);
  device->SetTexture(0, nullptr);
}

TEST_F(Pixels, ClearHonoursRectanglesAndTheViewport) {
  const D3DRECT r{2, 2, 6, 4};
  ASSERT_EQ(device->Clear(1, &r, D3DCLEAR_TARGET, 0xFF00FF00u, 1, 0), S_OK);
  EXPECT_EQ(PixelAt(2, 2), 0xFF00FF00u);
  EXPECT_EQ(PixelAt(5, 3), 0xFF00FF00u);
  EXPECT_EQ(PixelAt(6, 3), 0xFF000000u);
  EXPECT_EQ(PixelAt(2, 4), 0xFF000000u);
  D3DVIEWPORT9 vp{8, 8, 4, 4, 0, 1};
  device->SetViewport(&vp);
  ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000u, 1, 0), S_OK);
  EXPECT_EQ(PixelAt(8, 8), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(11, 11), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(7, 8), 0xFF000000u);
  EXPECT_EQ(PixelAt(12, 12), 0xFF000000u);
}

TEST_F(Pixels, ProgramsCompileAheadWithTheCompilersLineNumbers) {
  const std::string vertex =
      "#version 330 core\n#line 10 1\nin vec4 a_position;\n"
      "void main() { gl_Position = wz_ToGL(vec4(a_position.xy, 0.5, 1.0)); }\n";
  const std::string green =
      "#version 330 core\n#line 20 1\nout vec4 o_color;\n"
      "void main() { o_color = vec4(0.0, 1.0, 0.0, 1.0); }\n";
  // Line 32 uses a name nothing declares.
  const std::string broken =
      "#version 330 core\n#line 30 1\nout vec4 o_color;\nvoid main() {\n"
      "  o_color = vec4(undeclared_name);\n}\n";
  std::map<std::string, uint32_t> noSamplers;
  auto bad = std::make_shared<ShaderProgram>("bad", vertex, broken, noSamplers);
  std::string errors;
  EXPECT_EQ(device->CompileProgram(bad.get(), &errors), E_FAIL);
  EXPECT_EQ(errors.rfind("fragment: ", 0), 0u) << errors;
  EXPECT_NE(errors.find(":32"), std::string::npos) << errors;
  EXPECT_NE(errors.find("undeclared_name"), std::string::npos) << errors;
  // A program that failed draws nothing.
  device->SetProgram(bad.get());
  const float triangle[3][4] = {{-1, -1, 0.5f, 1}, {-1, 3, 0.5f, 1}, {3, -1, 0.5f, 1}};
  device->SetFVF(D3DFVF_XYZW);
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, 16);
  EXPECT_EQ(PixelAt(8, 8), 0xFF000000u);

  auto good = std::make_shared<ShaderProgram>("good", vertex, green, noSamplers);
  EXPECT_EQ(device->CompileProgram(good.get(), &errors), S_OK);
  EXPECT_TRUE(errors.empty()) << errors;
  device->SetProgram(good.get());
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, 16);
  EXPECT_EQ(PixelAt(8, 8), 0xFF00FF00u);
  device->SetProgram(nullptr);
}

TEST_F(Pixels, ProgramReadsNothingFromAStageWithoutATexture) {
  const std::string vertex =
      "#version 330 core\nin vec4 a_position;\n"
      "void main() { gl_Position = wz_ToGL(vec4(a_position.xy, 0.5, 1.0)); }\n";
  // The texel read, with blue telling an alpha below 1.
  const std::string fragment =
      "#version 330 core\nuniform sampler2D s;\nout vec4 o_color;\nvoid main() {\n"
      "  vec4 t = texture(s, vec2(0.5));\n  o_color = vec4(t.r, t.g, 1.0 - t.a, 1.0);\n}\n";
  auto program = std::make_shared<ShaderProgram>("stage", vertex, fragment,
                                                 std::map<std::string, uint32_t>{{"s", 1}});
  ASSERT_EQ(device->CompileProgram(program.get(), nullptr), S_OK);
  const uint32_t green = 0xFF00FF00u;
  auto texture = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &green);
  const float triangle[3][4] = {{-1, -1, 0.5f, 1}, {-1, 3, 0.5f, 1}, {3, -1, 0.5f, 1}};
  device->SetProgram(program.get());
  device->SetFVF(D3DFVF_XYZW);
  device->SetTexture(1, texture.get());
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, 16);
  EXPECT_EQ(PixelAt(8, 8), 0xFF00FF00u);
  // Without a texture the stage reads (0, 0, 0, 1), not the texture of the draw before.
  device->SetTexture(1, nullptr);
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, 16);
  EXPECT_EQ(PixelAt(8, 8), 0xFF000000u);
  device->SetProgram(nullptr);
}

TEST_F(Pixels, TwoNewTexturesInOneDrawEachReachTheirStage) {
  // Neither texture has been drawn with before, so both are uploaded by this draw.
  const uint32_t red = 0xFFFF0000u, white = 0xFFFFFFFFu;
  auto first = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &red);
  auto second = MakeTexture(1, 1, D3DFMT_A8R8G8B8, &white);
  device->SetTexture(0, first.get());
  device->SetTexture(1, second.get());
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
  ScreenQuad(0, 0, 16, 16, 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(8, 8), red);  // red from stage 0 times white from stage 1
  device->SetTexture(0, nullptr);
  device->SetTexture(1, nullptr);
  device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

}  // namespace
}  // namespace wz::d3d::testing
