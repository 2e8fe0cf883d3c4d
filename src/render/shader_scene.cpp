// The shader-mode scene: the model passes of a frame drawn through "HLSL_3D" into the shader
// targets. The light's depth goes into the shadow map, the shadowed scene into T4, reflective
// groups over it, the scene with its blur amount into T0, glowing groups into T2 and their
// blurred copy into T3; the blend of these makes T5, which PostEffect2D shows over the window
// through the selected 2D effect.
#include <cmath>

#include "core/library.h"
#include "platform/d3dx/math.h"
#include "platform/text.h"
#include "render/model_drawing.h"

namespace wz {

using namespace d3d;
namespace {

using d3dx::D3DXMATRIX;
using d3dx::D3DXVECTOR3;

// The pre-transformed vertex of the full-target quads (format 0x144).
struct QuadVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Two triangles of a fan over the rectangle (x, y, w, h) of the target, texture coordinates
// from (u0, v0) to (u1, v1).
void DrawQuad(Device& d, float x, float y, float w, float h, float u0, float v0, float u1,
              float v1) {
  const D3DCOLOR white = 0xFFFFFFFFu;
  const QuadVertex quad[4] = {{x, y, 0, 1, white, u0, v0},
                              {x + w, y, 0, 1, white, u1, v0},
                              {x + w, y + h, 0, 1, white, u1, v1},
                              {x, y + h, 0, 1, white, u0, v1}};
  d.SetFVF(kQuadFvf);
  d.DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(QuadVertex));
}

// Runs every pass of the effect's current technique around `draw`.
template <class Draw>
void EachPass(d3dx::Effect& effect, Draw draw) {
  UINT passes = 0;
  if (Failed(effect.Begin(&passes, 0))) return;
  for (UINT p = 0; p < passes; ++p) {
    effect.BeginPass(p);
    draw();
    effect.EndPass();
  }
  effect.End();
}

D3DXMATRIX SceneTurn(float radians) {
  D3DXMATRIX turn;
  d3dx::D3DXMatrixRotationY(&turn, radians);
  return turn;
}

}  // namespace

void Library::RenderHLSL_3D(d3dx::Effect* fx) {
  if (!fx) {
    Log("*** Error *** RenderHLSL_3D() fx == NULL");
    return;
  }
  if (!device_) return;
  d3d::Device& d = *device_;
  effects_.time3D += 0.01f;
  fx->SetFloat("g_fTime", effects_.time3D);
  fx->SetBool("bTex", 1);
  D3DXMATRIX view, projection;
  d.GetTransform(D3DTS_VIEW, &view);
  d.GetTransform(D3DTS_PROJECTION, &projection);
  const D3DXMATRIX turn = SceneTurn(effects_.sceneAngle);
  const DrawLists& lists = rendering_.lists;
  for (const std::vector<DrawEntry>* list : {&lists.opaque, &lists.transparent}) {
    for (const DrawEntry& e : std::vector<DrawEntry>(*list)) {
      const Model* m = Model3_Get(e.model);
      if (!m || e.group < 0 || size_t(e.group) >= m->groups.size()) continue;
      const Group& group = m->groups[size_t(e.group)];
      const ModelObject* o = ModelObject_Get(e.object);
      const D3DXMATRIX objectWorld = ToD3D(o ? o->world : MatrixIdentity());
      d.SetTransform(D3DTS_WORLD, &objectWorld);
      // The object's matrix, turned with the scene; the programs take the whole transform
      // too, so that the object's matrix moves the model in every pass.
      D3DXMATRIX world, wvp;
      d3dx::D3DXMatrixMultiply(&world, &objectWorld, &turn);
      d3dx::D3DXMatrixMultiply(&wvp, &world, &view);
      d3dx::D3DXMatrixMultiply(&wvp, &wvp, &projection);
      fx->SetMatrix("World", &world);
      fx->SetMatrix("WVProj", &wvp);
      fx->SetTexture("g_txScene", systemTextures_.null.get());
      fx->SetFloat("uv_offset_u", float(group.uvOffset[0]));
      fx->SetFloat("uv_offset_v", float(group.uvOffset[1]));
      EachPass(*fx, [&] {
        effects_.activePass = fx;
        GroupDraw(e.object, e.model, e.group);
        effects_.activePass = nullptr;
      });
    }
  }
}

void Library::ShaderScene() {
  if (!device_) return;
  d3d::Device& d = *device_;
  RenderState& rs = rendering_;
  ShaderTargets& t = effects_.targets;
  const uint8_t* bg = rs.background;
  const D3DCOLOR background = D3DCOLOR_ARGB(255, bg[0], bg[1], bg[2]);

  if (!t.shadowSurface) {
    effects_.shaderMode = 0;
    Log("%s", WZ_TEXT("ShadowMap 未対応のため、シェーダーモードを使用できません。"));
    // This frame is drawn by the fixed-function passes already, so that it is not lost; the
    // lists are made again now that the reflective groups belong in them.
    DrawLists_Build();
    DWORD flags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
    if (options_.depthStencil) flags |= D3DCLEAR_STENCIL;
    d.Clear(0, nullptr, flags, background, 1.0f, 0);
    FrameStates_Write();
    FixedModelPasses();
    return;
  }

  FrameStates_Write();
  // The window behind the full-screen effect, in case the effect cannot draw.
  d.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0);
  std::shared_ptr<Surface> savedTarget, savedDepth;
  d.GetRenderTarget(0, &savedTarget);
  d.GetDepthStencilSurface(&savedDepth);
  const float size = float(ShaderTargets::kSize);
  const bool bloom = effects_.bloom != 0;

  d3dx::Effect* fx = EffectLoad("HLSL_3D");
  if (fx) {
    D3DXMATRIX view, projection;
    d.GetTransform(D3DTS_VIEW, &view);
    d.GetTransform(D3DTS_PROJECTION, &projection);
    const D3DXMATRIX turn = SceneTurn(effects_.sceneAngle);
    D3DXMATRIX wvp;
    d3dx::D3DXMatrixMultiply(&wvp, &turn, &view);
    d3dx::D3DXMatrixMultiply(&wvp, &wvp, &projection);
    fx->SetMatrix("World", &turn);
    fx->SetMatrix("WVProj", &wvp);
    const float ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    fx->SetVector("Ambient", ambient);

    // The light looks at display object 0 from above, left and in front.
    const ModelObject* first = ModelObject_Get(0);
    const Vec3 p = first ? first->position : Vec3{};
    const D3DXVECTOR3 lightEye{p.x - 80.0f, p.y + 240.0f, p.z - 200.0f}, lightAt{p.x, p.y, p.z},
        lightUp{0.0f, 1.0f, 0.0f};
    D3DXMATRIX lightView, lightProjection, lightViewProjection;
    d3dx::D3DXMatrixLookAtLH(&lightView, &lightEye, &lightAt, &lightUp);
    d3dx::D3DXMatrixPerspectiveLH(&lightProjection, 1.0f, 1.0f, 1.0f, 1000.0f);
    d3dx::D3DXMatrixMultiply(&lightViewProjection, &lightView, &lightProjection);
    fx->SetMatrix("LightVProj", &lightViewProjection);

    // Shadow pass: the light's depth, far (1.0) where nothing is.
    d.SetRenderTarget(0, t.shadowSurface.get());
    d.SetDepthStencilSurface(t.shadowDepth.get());
    d.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFFu, 1.0f, 0);
    fx->SetTechnique("ShadowMapTexZ_Technique");
    fx->SetTexture("ShadowTex", t.shadowMap.get());
    const D3DCOLOR shade = rs.shadowColour;
    const float shadowColour[4] = {float((shade >> 16) & 0xFF) / 255.0f,
                                   float((shade >> 8) & 0xFF) / 255.0f,
                                   float(shade & 0xFF) / 255.0f, float(shade >> 24) / 255.0f};
    fx->SetVector("LightColor", shadowColour);
    fx->SetFloat("Margin", 0.001f);
    RenderHLSL_3D(fx);

    // Scene pass into T4.
    d.SetRenderTarget(0, t.surfaces[4].get());
    d.SetDepthStencilSurface(t.depth.get());
    d.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0);
    fx->SetTechnique("ShadowMapTechnique");
    RenderHLSL_3D(fx);

    // Reflective groups over the scene, showing it mirrored.
    fx->SetTechnique("ReflectionModokiTechnique");
    fx->SetTexture("Tex2", t.textures[4].get());
    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    fx->SetVector("Diffuse", white);
    d.SetRenderTarget(0, t.surfaces[4].get());
    for (size_t n = 0; n < rs.objects.size(); ++n) {
      const ModelObject& o = rs.objects[n];
      if (!o.inUse || !o.visible || o.culled || o.model < 0) continue;
      const Model* m = Model3_Get(o.model);
      if (!m || !m->inUse || m->loaded.Get() != 1) continue;
      const D3DXMATRIX world = ToD3D(o.world);
      D3DXMATRIX objectWvp;
      d3dx::D3DXMatrixMultiply(&objectWvp, &world, &view);
      d3dx::D3DXMatrixMultiply(&objectWvp, &objectWvp, &projection);
      const int32_t groups = std::min<int32_t>(m->groupCount, int32_t(m->groups.size()));
      for (int32_t g = 0; g < groups; ++g) {
        if (!m->groups[size_t(g)].reflectionOn) continue;
        d.SetTransform(D3DTS_WORLD, &world);
        fx->SetMatrix("World", &world);
        fx->SetMatrix("WVProj", &objectWvp);
        fx->SetFloat("Reflectivity", m->groups[size_t(g)].reflectivity);
        EachPass(*fx, [&] {
          effects_.activePass = fx;
          GroupDraw(int32_t(n), o.model, g);
          effects_.activePass = nullptr;
        });
      }
    }

    // The 3D layer: the application's hook draws into the scene with the fixed pipeline.
    const float toLight[4] = {-0.25f / 0.6123724f, 0.5f / 0.6123724f, -0.25f / 0.6123724f, 0.0f};
    fx->SetVector("vLightDir", toLight);
    const D3DXMATRIX identity;
    d.SetTransform(D3DTS_WORLD, &identity);
    fx->SetMatrix("World", &identity);
    fx->SetTexture("g_txScene", systemTextures_.null.get());
    WorldTransformSet(0, 0, 0, 0, 0, 0, 1, 1, 1);
    d.SetTexture(0, nullptr);
    if (rs.scene3DHook) rs.scene3DHook();

    // Depth of field: the scene again into T0 with its blur amount in alpha (no blur where
    // nothing is drawn).
    d.SetRenderTarget(0, t.surfaces[0].get());
    d.SetDepthStencilSurface(t.depth.get());
    d.Clear(0, nullptr, D3DCLEAR_TARGET, background & 0x00FFFFFFu, 1.0f, 0);
    fx->SetFloat("bloom_power", effects_.bloomPower);
    fx->SetTexture("Tex1", t.textures[0].get());
    fx->SetTechnique("DepthOfFieldTexTechnique");
    RenderHLSL_3D(fx);
    fx->SetBool("bBloom", bloom);

    if (bloom) {
      // Glowing groups (switch C) into T2, then their blurred copy added into T3.
      d.SetRenderTarget(0, t.surfaces[2].get());
      d.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
      fx->SetTexture("Tex2", t.textures[0].get());
      fx->SetTechnique("BloomPolyTechnique");
      DrawLists& lists = rs.lists;
      const uint8_t normal = lists.normalPass, glow = lists.bloomPass;
      lists.normalPass = 0;
      lists.bloomPass = 1;
      RenderHLSL_3D(fx);
      lists.normalPass = normal;
      lists.bloomPass = glow;

      d.SetRenderTarget(0, t.surfaces[3].get());
      d.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
      fx->SetTechnique("BloomTexTechnique");
      fx->SetTexture("Tex1", t.textures[2].get());
      fx->SetTexture("Tex2", t.textures[0].get());
      const float divisors[4] = {8.0f, 16.0f, 32.0f, 48.0f};
      for (int k = 0; k < 4; ++k) {
        const float side = size / divisors[k];
        EachPass(*fx, [&] { DrawQuad(d, 256.0f * float(k), 0.0f, side, side, 0, 0, 1, 1); });
      }
    }
  } else {
    // Without the scene effect the window shows the background.
    d.SetRenderTarget(0, t.surfaces[5].get());
    d.SetDepthStencilSurface(t.depth.get());
    d.Clear(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
  }

  // Blend: the final picture into T5.
  if (fx) {
    d.SetRenderTarget(0, t.surfaces[5].get());
    d.SetDepthStencilSurface(t.depth.get());
    fx->SetTechnique("BlendTechnique");
    fx->SetTexture("Tex1", t.textures[0].get());
    fx->SetTexture("Tex2", t.textures[4].get());
    if (bloom) fx->SetTexture("Tex3", t.textures[3].get());
    EachPass(*fx, [&] { DrawQuad(d, 0.0f, 0.0f, size, size, 0.01f, 0.01f, 1.0f, 1.0f); });
  }
  d.SetRenderTarget(0, savedTarget.get());
  d.SetDepthStencilSurface(savedDepth.get());

  PostEffect2D();
}

}  // namespace wz
