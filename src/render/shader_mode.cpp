// Shader mode: the render targets it draws into (ShaderInit) and the full-screen 2D effect that
// ends its frame (PostEffect2D).
#include <cstring>

#include "core/library.h"
#include "platform/text.h"

namespace wz {
namespace {

// The pre-transformed vertex of the 2D drawing (x, y in pixels, z, rhw, colour, u, v).
struct QuadVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144
static_assert(sizeof(QuadVertex) == 28);

// A render-target texture of the shader size with its level-0 surface; both empty on failure.
HRESULT MakeTarget(d3d::Device& device, D3DFORMAT format, std::shared_ptr<d3d::Texture>& texture,
                   std::shared_ptr<d3d::Surface>& surface) {
  surface.reset();
  texture.reset();
  const HRESULT hr =
      device.CreateTexture(ShaderTargets::kSize, ShaderTargets::kSize, 1,
                           d3d::D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, &texture);
  if (Succeeded(hr)) texture->GetSurfaceLevel(0, &surface);
  return hr;
}

}  // namespace

void Library::ShaderInit() {
  ShaderTargets& t = effects_.targets;
  Log("%s", WZ_TEXT("Shader 初期化"));
  Log(WZ_TEXT("Shader TexSize %d×%d"), int(ShaderTargets::kSize), int(ShaderTargets::kSize));
  if (!device_) return;
  d3d::Device& device = *device_;
  const UINT size = ShaderTargets::kSize;
  for (size_t i = 0; i < t.textures.size(); ++i)
    MakeTarget(device, D3DFMT_A8R8G8B8, t.textures[i], t.surfaces[i]);
  t.depth.reset();
  device.CreateDepthStencilSurface(size, size, D3DFMT_D24X8, D3DMULTISAMPLE_NONE, 0, 1, &t.depth);
  Log("ShadowMap D3DFMT_R32F");
  if (Failed(MakeTarget(device, D3DFMT_R32F, t.shadowMap, t.shadowSurface))) {
    Log("ShadowMap D3DFMT_R16F");
    if (Failed(MakeTarget(device, D3DFMT_R16F, t.shadowMap, t.shadowSurface))) {
      Log("%s", WZ_TEXT("ShadowMap 未対応"));
    }
  }
  t.shadowDepth.reset();
  device.CreateDepthStencilSurface(size, size, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, 1,
                                   &t.shadowDepth);
  t.cube.reset();
  device.CreateCubeTexture(size, 1, d3d::D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                           &t.cube);
  t.initNeeded = false;
}

void Library::PostEffect2D() {
  d3dx::Effect* effect = EffectLoad("HLSL_2D");
  if (!effect || !device_) return;
  const int32_t selector = effects_.effect2D;
  if (selector >= 0 && selector < int32_t(kEffect2DTechniques.size())) {
    effect->SetTechnique(kEffect2DTechniques[size_t(selector)]);
  }
  effects_.time2D += 0.001f;
  effect->SetFloat("g_fTime", effects_.time2D);
  effect->SetValue("op", effects_.op, sizeof effects_.op);
  // The window is the target the frame draws into (the back buffer, or a picture of another
  // size that a tool draws into): the whole of its viewport.
  d3d::D3DVIEWPORT9 viewport;
  device_->GetViewport(&viewport);
  const float w = viewport.Width ? float(viewport.Width) : float(windowWidth_);
  const float h = viewport.Height ? float(viewport.Height) : float(windowHeight_);
  const D3DCOLOR white = 0xFFFFFFFFu;
  const QuadVertex quad[4] = {{0, 0, 0, 1, white, 0.0f, 0.0f},
                              {w, 0, 0, 1, white, 0.99f, 0.0f},
                              {w, h, 0, 1, white, 0.99f, 0.99f},
                              {0, h, 0, 1, white, 0.0f, 1.0f}};
  UINT passes = 0;
  effect->Begin(&passes, 0);
  for (UINT p = 0; p < passes; ++p) {
    effect->BeginPass(p);
    device_->SetTexture(0, effects_.targets.textures[5].get());
    device_->SetFVF(kQuadFvf);
    device_->DrawPrimitiveUP(d3d::D3DPT_TRIANGLEFAN, 2, quad, sizeof(QuadVertex));
    effect->EndPass();
  }
  effect->End();
}

}  // namespace wz
