// Stencil shadows. The model's triangles that face the point light bound a shadow volume: their
// outline (edges between a lit and an unlit triangle, or lit edges on an open border) is
// extruded away from the light, closed by the lit triangles themselves (moved a hair away from
// the light, so the lit surface does not shadow itself) and by their extruded copies. The
// volumes are counted into the stencil buffer (front faces add, back faces subtract), and a
// quad over the target darkens where the count is 1 or more.
#include "render/stencil_shadows.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

#include "core/library.h"
#include "platform/d3d/d3d9.h"
#include "platform/d3dx/math.h"
#include "render/model_drawing.h"
#include "render/shown_models.h"

namespace wz {

// The drawing code speaks the device's own names.
using namespace d3d;
namespace {

// XYZRHW | DIFFUSE
struct QuadVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
};
constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

uint64_t EdgeKey(int32_t a, int32_t b) {
  return uint64_t(uint32_t(a)) << 32 | uint32_t(b);
}

}  // namespace

void BuildShadowVolume(const Model& model, const Pool<Vec3>& positions, Vec3 light, float extrusion,
                       std::vector<Vec3>& out) {
  const int32_t polygonCount =
      std::clamp<int32_t>(model.polygonCount, 0, int32_t(model.polygons.size()));
  const int32_t positionCount =
      std::clamp<int32_t>(model.positionCount, 0, int32_t(positions.size()));
  // Where a position lands on the near cap and on the far cap.
  auto away = [&](const Vec3& p) {
    const Vec3 d = p - light;
    const float length = Length(d);
    return length > 0.0f ? d / length : Vec3{};
  };
  auto nearOf = [&](const Vec3& p) { return light + (p - light) * 1.001f; };
  auto farOf = [&](const Vec3& p) { return p + away(p) * extrusion; };

  std::unordered_map<uint64_t, int32_t> outline;
  for (int32_t i = 0; i < polygonCount; ++i) {
    const Polygon& poly = model.polygons[size_t(i)];
    if (poly.cornerCount < 3 || poly.cornerCount > kMaxCorners) continue;
    bool valid = true;
    for (int k = 0; k < poly.cornerCount; ++k) {
      const int32_t at = poly.corners[size_t(k)].position;
      valid = valid && at >= 0 && at < positionCount;
    }
    if (!valid) continue;
    for (int t = 0; t + 3 <= poly.cornerCount; ++t) {
      const int32_t idx[3] = {poly.corners[0].position, poly.corners[size_t(t + 1)].position,
                              poly.corners[size_t(t + 2)].position};
      const Vec3 p[3] = {positions[size_t(idx[0])], positions[size_t(idx[1])],
                         positions[size_t(idx[2])]};
      const Vec3 normal = Cross(p[1] - p[0], p[2] - p[1]);
      if (!(Dot(normal, light - p[0]) > 0.0f)) continue;
      out.insert(out.end(), {nearOf(p[0]), nearOf(p[1]), nearOf(p[2])});
      out.insert(out.end(), {farOf(p[2]), farOf(p[1]), farOf(p[0])});
      // An edge walked both ways by lit triangles is inside the lit region.
      for (int e = 0; e < 3; ++e) {
        const int32_t a = idx[e], b = idx[(e + 1) % 3];
        auto reverse = outline.find(EdgeKey(b, a));
        if (reverse != outline.end() && reverse->second > 0) {
          --reverse->second;
        } else {
          ++outline[EdgeKey(a, b)];
        }
      }
    }
  }
  // Each outline edge a -> b (as its lit triangle walks it) becomes a side walked b -> a.
  for (const auto& [key, count] : outline) {
    const Vec3& a = positions[size_t(key >> 32)];
    const Vec3& b = positions[size_t(key & 0xFFFFFFFFu)];
    for (int32_t c = 0; c < count; ++c) {
      const Vec3 an = nearOf(a), bn = nearOf(b), af = farOf(a), bf = farOf(b);
      out.insert(out.end(), {bn, an, af, bn, af, bf});
    }
  }
}

bool StencilShadowsAvailable(d3d::Device& device, bool depthStencilOption) {
  if (!depthStencilOption) return false;
  d3d::D3DCAPS9 caps;
  device.GetDeviceCaps(&caps);
  const uint32_t needed = d3d::D3DSTENCILCAPS_INCR | d3d::D3DSTENCILCAPS_DECR;
  if ((caps.StencilCaps & needed) != needed) return false;
  std::shared_ptr<d3d::Surface> depth;
  return Succeeded(device.GetDepthStencilSurface(&depth)) && depth &&
         depth->Format() == D3DFMT_D24S8;
}

void Library::StencilShadows() {
  if (!device_ || !StencilShadowsAvailable(*device_, options_.depthStencil)) return;
  d3d::Device& d = *device_;
  bool any = false;
  std::vector<Vec3>& volume = rendering_.volumeScratch;
  const float extrusion = rendering_.camera.farPlane * 0.5f;
  ForEachShownModel(*this, [&](int32_t n, ModelObject& o, Model& m, ModelRuntime&) {
    if (m.drawingState.shadowType != 3) return;
    d3dx::D3DXMATRIX world = ToD3D(o.world), inverse;
    if (!d3dx::D3DXMatrixInverse(&inverse, nullptr, &world)) return;
    d3dx::D3DXVECTOR3 light{rendering_.lightPosition.x, rendering_.lightPosition.y,
                            rendering_.lightPosition.z};
    d3dx::D3DXVec3TransformCoord(&light, &light, &inverse);
    const AssemblyOptions options{n, rendering_.selectedBone, rendering_.renderMode, nullptr};
    volume.clear();
    BuildShadowVolume(m, ShownPositions(m, options, false), {light.x, light.y, light.z}, extrusion,
                      volume);
    if (volume.size() < 3) return;
    if (!any) {
      any = true;
      d.SetRenderState(D3DRS_ZWRITEENABLE, 0);
      d.SetRenderState(D3DRS_STENCILENABLE, 1);
      d.SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
      d.SetRenderState(D3DRS_STENCILREF, 1);
      d.SetRenderState(D3DRS_STENCILMASK, 0xFFFFFFFFu);
      d.SetRenderState(D3DRS_STENCILWRITEMASK, 0xFFFFFFFFu);
      d.SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
      d.SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
      d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
      d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
      d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
      d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
      d.SetRenderState(D3DRS_LIGHTING, 0);
      d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
      d.SetTexture(0, nullptr);
      d.SetFVF(D3DFVF_XYZ);
    }
    d.SetTransform(D3DTS_WORLD, &world);
    const UINT triangles = UINT(volume.size() / 3);
    d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d.SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, triangles, volume.data(), sizeof(Vec3));
    d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d.SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_DECR);
    d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, triangles, volume.data(), sizeof(Vec3));
  });
  if (!any) return;
  d.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);

  // The quad over the target, remade when the target's size or the shadow colour changed.
  d3d::D3DVIEWPORT9 viewport;
  d.GetViewport(&viewport);
  ShadowQuad& quad = rendering_.shadowQuad;
  if (!quad.buffer) {
    d.CreateVertexBuffer(4 * sizeof(QuadVertex), D3DUSAGE_WRITEONLY, kQuadFvf, D3DPOOL_MANAGED,
                         &quad.buffer);
    quad.width = quad.height = 0;
  }
  if (quad.buffer && (quad.width != viewport.Width || quad.height != viewport.Height ||
                      quad.colour != rendering_.shadowColour)) {
    void* data = nullptr;
    if (Succeeded(quad.buffer->Lock(0, 0, &data, 0))) {
      const float x0 = float(viewport.X), y0 = float(viewport.Y);
      const float x1 = x0 + float(viewport.Width), y1 = y0 + float(viewport.Height);
      const D3DCOLOR c = rendering_.shadowColour;
      const QuadVertex v[4] = {
          {x0, y0, 0, 1, c}, {x1, y0, 0, 1, c}, {x0, y1, 0, 1, c}, {x1, y1, 0, 1, c}};
      std::memcpy(data, v, sizeof v);
      quad.buffer->Unlock();
      quad.width = viewport.Width;
      quad.height = viewport.Height;
      quad.colour = c;
    }
  }
  if (quad.buffer) {
    d.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d.SetRenderState(D3DRS_STENCILFUNC, D3DCMP_LESSEQUAL);
    d.SetRenderState(D3DRS_STENCILREF, 1);
    d.SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d.SetFVF(kQuadFvf);
    d.SetStreamSource(0, quad.buffer.get(), 0, sizeof(QuadVertex));
    d.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
  }
  d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  d.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  d.SetRenderState(D3DRS_ZWRITEENABLE, 1);
  d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  d.SetRenderState(D3DRS_STENCILENABLE, 0);
  d.SetRenderState(D3DRS_LIGHTING, 1);
}

}  // namespace wz
