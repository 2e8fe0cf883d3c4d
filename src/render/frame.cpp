// The frame function and the draw lists. A frame applies the library's camera, culls the display
// objects, sorts the groups of the shown models into an opaque and a transparent list, sets the
// material and the light, clears, and inside one scene writes the frame's states, draws the
// lists, the shadows and the edge pass, runs the application's 3D layer and ends with the 2D
// stage. The caller presents.
#include <cmath>

#include "core/library.h"
#include "platform/d3dx/math.h"
#include "render/model_drawing.h"

namespace wz {

// The drawing code speaks the device's own names.
using namespace d3d;
namespace {

using d3dx::D3DXMATRIX;
using d3dx::D3DXVECTOR3;

// A display object is shown when it is in use, visible, not culled and names a model.
bool Shown(const ModelObject& o) {
  return o.inUse && o.visible && !o.culled && o.model >= 0;
}

// Where a point lands on the target: pixel x and y, and its depth in view space.
struct ScreenPoint {
  float x, y, depth;
};

ScreenPoint Project(Vec3 p, const D3DXMATRIX& view, const D3DXMATRIX& viewProjection, float width,
                    float height) {
  D3DXVECTOR3 point{p.x, p.y, p.z};
  D3DXVECTOR3 inView;
  d3dx::D3DXVec3TransformCoord(&inView, &point, &view);
  d3dx::D3DXVECTOR4 clip;
  d3dx::D3DXVec3Transform(&clip, &point, &viewProjection);
  const float w = clip.w != 0.0f ? clip.w : 1e-6f;
  return {(clip.x / w + 1.0f) * 0.5f * width, (1.0f - clip.y / w) * 0.5f * height, inView.z};
}

}  // namespace

void Library::RenderFrame() {
  if (!active_ || !device_) return;
  d3d::Device& d = *device_;
  RenderState& rs = rendering_;

  // The library's camera, with the aspect of the target drawn into.
  d3d::D3DVIEWPORT9 viewport;
  d.GetViewport(&viewport);
  const Camera& c = rs.camera;
  const D3DXVECTOR3 eye{c.eye.x, c.eye.y, c.eye.z}, at{c.target.x, c.target.y, c.target.z},
      up{c.up.x, c.up.y, c.up.z};
  D3DXMATRIX view, projection;
  d3dx::D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  const float aspect = c.aspect > 0.0f       ? c.aspect
                       : viewport.Height > 0 ? float(viewport.Width) / float(viewport.Height)
                                             : 1.0f;
  d3dx::D3DXMatrixPerspectiveFovLH(&projection, c.fovDegrees * 3.14159265f / 180.0f, aspect,
                                   c.nearPlane, c.farPlane);
  d.SetTransform(D3DTS_VIEW, &view);
  d.SetTransform(D3DTS_PROJECTION, &projection);

  // Culling: objects that asked for it are left out when far off the screen.
  D3DXMATRIX viewProjection;
  d3dx::D3DXMatrixMultiply(&viewProjection, &view, &projection);
  const float width = float(viewport.Width), height = float(viewport.Height);
  for (ModelObject& o : rs.objects) {
    o.culled = 0;
    if (!o.inUse || !o.cullSwitch) continue;
    const ScreenPoint p = Project(o.position, view, viewProjection, width, height);
    const ScreenPoint above =
        Project(o.position + Vec3{0.0f, 5.0f, 0.0f}, view, viewProjection, width, height);
    o.culled = p.depth < -5.0f || p.depth > 500.0f || p.x < -128.0f || p.x > width + 128.0f ||
               p.y < -64.0f || above.y > height + 64.0f;
  }

  DrawLists_Build();
  rs.lists.drawnTriangles = 0;

  d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d3d::D3DMATERIAL9 material;
  material.Diffuse = {1, 1, 1, 1};
  material.Ambient = {1, 1, 1, 1};
  material.Specular = {0, 0, 0, 0};
  material.Emissive = {0, 0, 0, 0};
  material.Power = 20;
  d.SetMaterial(&material);
  d3d::D3DLIGHT9 light;
  light.Type = d3d::D3DLIGHT_POINT;
  light.Diffuse = {rs.lightColour.x, rs.lightColour.y, rs.lightColour.z, 0};
  light.Specular = {1, 1, 1, 0};
  light.Ambient = {lightAmbient_[0], lightAmbient_[1], lightAmbient_[2], 0};
  light.Position = {rs.lightPosition.x, rs.lightPosition.y, rs.lightPosition.z};
  light.Direction = {1, -1, 1};
  light.Range = 65000;
  light.Falloff = 0;
  light.Attenuation0 = 1;
  light.Attenuation1 = 0;
  light.Attenuation2 = 0;
  light.Theta = 0;
  light.Phi = 0;
  d.SetLight(1, &light);
  d.LightEnable(1, 1);

  // Shader mode makes its targets once after every release of the device resources.
  const bool shader = effects_.shaderMode != 0;
  if (shader && effects_.targets.initNeeded) ShaderInit();

  if (!shader) {
    DWORD flags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
    if (options_.depthStencil) flags |= D3DCLEAR_STENCIL;
    const uint8_t* bg = rs.background;
    d.Clear(0, nullptr, flags, D3DCOLOR_ARGB(255, bg[0], bg[1], bg[2]), 1.0f, 0);
  }

  if (systemTextures_.toonLoaded) {
    // Stage 1 looks the ramp up by the camera-space normal turned towards the light.
    const Vec3& l = rs.lightDirection;
    const D3DXVECTOR3 origin{}, direction{l.x, l.y, l.z};
    const D3DXVECTOR3 toonUp =
        l.x == 0.0f && l.z == 0.0f ? D3DXVECTOR3{-l.y, 0, 0} : D3DXVECTOR3{0, 1, 0};
    D3DXMATRIX m, step;
    d3dx::D3DXMatrixLookAtLH(&m, &origin, &direction, &toonUp);
    d3dx::D3DXMatrixMultiply(&m, &m, d3dx::D3DXMatrixRotationX(&step, -1.5707964f));
    d3dx::D3DXMatrixMultiply(&m, &m, d3dx::D3DXMatrixScaling(&step, 0.49f, -0.49f, 1.0f));
    d3dx::D3DXMatrixMultiply(&m, &m, d3dx::D3DXMatrixTranslation(&step, 0.5f, 0.5f, 0.0f));
    d.SetTransform(d3d::D3DTS_TEXTURE(1), &m);
    d.SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    d.SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  }

  if (Failed(d.BeginScene())) return;
  if (shader) {
    ShaderScene();
  } else {
    FrameStates_Write();
    FixedModelPasses();
  }
  Stage2D();
  d.EndScene();
}

void Library::FrameStates_Write() {
  d3d::Device& d = *device_;
  d.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d.SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d.SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  d.SetRenderState(D3DRS_DITHERENABLE, 1);
  d.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  d.SetRenderState(D3DRS_NORMALIZENORMALS, 1);
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d.SetRenderState(D3DRS_ALPHATESTENABLE, 0);
  d.SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
  d.SetRenderState(D3DRS_ALPHAREF, 1);
  d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  d.SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
  d.SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
}

void Library::FixedModelPasses() {
  d3d::Device& d = *device_;
  RenderState& rs = rendering_;
  // The lists are copied: a group draw may not change them, but the application's models could.
  for (const DrawEntry& e : std::vector<DrawEntry>(rs.lists.opaque))
    GroupDraw(e.object, e.model, e.group);
  for (const DrawEntry& e : std::vector<DrawEntry>(rs.lists.transparent))
    GroupDraw(e.object, e.model, e.group);
  BlobShadows();
  PlanarShadows();
  StencilShadows();
  EdgePass();

  const D3DXMATRIX identity;
  d.SetTransform(D3DTS_WORLD, &identity);
  WorldTransformSet(0, 0, 0, 0, 0, 0, 1, 1, 1);
  d.SetTexture(0, nullptr);
  if (rs.scene3DHook) rs.scene3DHook();
}

void Library::DrawLists_Build() {
  DrawLists& lists = rendering_.lists;
  lists.opaque.clear();
  lists.transparent.clear();
  if (ModelSlotCount() == 0 || !device_) return;
  D3DXMATRIX view;
  device_->GetTransform(D3DTS_VIEW, &view);
  for (size_t n = 0; n < rendering_.objects.size(); ++n) {
    const ModelObject& o = rendering_.objects[n];
    if (!Shown(o)) continue;
    Model* m = Model3_Get(o.model);
    const ModelRuntime* runtime = Model3_Runtime(o.model);
    if (!m || !runtime || !m->inUse || m->loaded.Get() != 1) continue;
    const int32_t groups = std::min<int32_t>(m->groupCount, int32_t(m->groups.size()));
    for (int32_t g = 0; g < groups; ++g) {
      const Group& group = m->groups[size_t(g)];
      // In shader mode the reflection pass draws the reflective groups.
      if (effects_.shaderMode && group.reflectionOn) continue;
      DrawEntry e;
      e.object = int32_t(n);
      e.model = o.model;
      e.group = g;
      e.centre = group.centre;
      D3DXVECTOR3 centre{group.centre.x, group.centre.y, group.centre.z};
      d3dx::D3DXVec3TransformCoord(&centre, &centre, &view);
      e.distance = d3dx::D3DXVec3Length(&centre);
      const bool alphaImage =
          group.textureSlot >= 0 && size_t(group.textureSlot) < runtime->imageInfos.size() &&
          runtime->imageInfos[size_t(group.textureSlot)].Format == D3DFMT_A8R8G8B8;
      if (group.colour.a < 255.0f || group.trailingSwitch || alphaImage) {
        lists.transparent.push_back(e);
      } else {
        lists.opaque.push_back(e);
      }
    }
  }
  // Farthest first; neighbours swap only when the later one is strictly farther, so equal
  // distances keep the order they were listed in.
  std::vector<DrawEntry>& t = lists.transparent;
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    for (size_t j = 0; j + 1 < t.size() - i; ++j) {
      if (t[j + 1].distance > t[j].distance) std::swap(t[j], t[j + 1]);
    }
  }
}

void Library::RenderResources_Release() {
  // Effects and the shader-mode targets, model buffers and the shadow quad are made again on the
  // next draw (the device may be a new one by then). The text font is made again by the next
  // TextQueue_Draw.
  draw2d_.font.reset();
  rendering_.shadowQuad = ShadowQuad{};
  {
    std::lock_guard lock(modelTable_.mutex);
    for (auto& runtime : modelTable_.runtimes) {
      if (runtime) runtime->drawing.reset();
    }
  }
  effects_.Release();
  Step(DeviceStep::RenderRelease);
}

}  // namespace wz
