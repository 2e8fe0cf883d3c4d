// The passes over all display objects after the lists: the black edge pass, blob shadows (a
// soft round texture under the object) and planar shadows (the model flattened onto a
// horizontal plane along a direction).
#include <cmath>

#include "core/library.h"
#include "render/model_drawing.h"
#include "render/shown_models.h"

namespace wz {

// The drawing code speaks the device's own names.
using namespace d3d;

void Library::EdgePass() {
  if (!device_) return;
  d3d::Device& d = *device_;
  ForEachShownModel(*this, [&](int32_t n, ModelObject& o, Model& m, ModelRuntime& rt) {
    if (m.edgePassOn != 1) return;
    ModelDrawData& data = DrawDataFor(m, rt, rendering_.selectedBone, device_.get());
    const d3d::D3DMATRIX world = ToD3D(o.world);
    d.SetTransform(D3DTS_WORLD, &world);
    const DWORD displayFill = m.displayMode == 0   ? D3DFILL_POINT
                              : m.displayMode == 1 ? D3DFILL_WIREFRAME
                                                   : D3DFILL_SOLID;
    d.SetRenderState(D3DRS_FILLMODE, displayFill);
    d.SetRenderState(D3DRS_LIGHTING, 0);
    AssemblyOptions options{n, rendering_.selectedBone, rendering_.renderMode, nullptr};
    const int32_t groups = std::min<int32_t>(int32_t(data.groups.size()), m.groupCount);
    for (int32_t g = 0; g < groups; ++g) {
      const Group& group = m.groups[size_t(g)];
      if (group.shading == 0) continue;
      const int32_t slot = group.textureSlot;
      d.SetTexture(0, slot > 0 && size_t(slot) < rt.textures.size()
                          ? rt.textures[size_t(slot)].get()
                          : nullptr);
      SceneVertices& scratch = rendering_.sceneVertices;
      scratch.clear();
      AssembleEdge(m, g, data.groups[size_t(g)].polygons, options, scratch);
      if (scratch.size() < 3) continue;
      FillModeSet(group.shading);
      if (m.displayMode == 0 || m.displayMode == 1) d.SetRenderState(D3DRS_FILLMODE, displayFill);
      d.SetFVF(kSceneFvf);
      d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(scratch.size() / 3), scratch.data(),
                        sizeof(SceneVertex));
    }
    d.SetRenderState(D3DRS_LIGHTING, 1);
    d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d.SetTexture(0, nullptr);
  });
}

void Library::BlobShadows() {
  if (!device_) return;
  d3d::Device& d = *device_;
  ForEachShownModel(*this, [&](int32_t n, ModelObject& o, Model& m, ModelRuntime&) {
    const int32_t type = m.drawingState.shadowType;
    if (type != 1 && type != 11) return;
    // The texture is looked for once; a missing file is not looked for every frame.
    if (!rendering_.shadowTextureTried) {
      rendering_.shadowTextureTried = true;
      ShadowTexture();
    }
    const float s = m.drawingState.shadowSize * 5.0f;
    // Each object's blob lies a little higher than the one before, so they do not fight.
    const float y = m.drawingState.shadowHeight + float(n) * 0.001f;
    d.SetTexture(0, systemTextures_.shadow.get());
    const d3d::D3DMATRIX world = ToD3D(o.world);
    d.SetTransform(D3DTS_WORLD, &world);
    auto corner = [&](float x, float z, float u, float v) {
      WorldVertex w;
      w.x = x, w.y = y, w.z = z;
      w.ny = 1.0f;
      w.u = u, w.v = v;
      return w;
    };
    Quad3D(corner(-s, s, 0, 0), corner(s, s, 1, 0), corner(s, -s, 1, 1), corner(-s, -s, 0, 1));
    d.SetTexture(0, nullptr);
  });
}

void Library::PlanarShadows() {
  if (!device_) return;
  d3d::Device& d = *device_;
  ForEachShownModel(*this, [&](int32_t n, ModelObject& o, Model& m, ModelRuntime&) {
    const int32_t type = m.drawingState.shadowType;
    if (type != 2 && type != 21) return;
    // The direction of the drop: straight down, or for type 21 turned with the object.
    Vec3 dir{0.0f, 1.0f, 0.0f};
    if (type == 21) dir = TransformNormal(dir, BuildWorldTransform({}, o.angles, {1, 1, 1}));
    if (!(std::fabs(dir.y) > 1e-6f)) return;
    const float height = m.drawingState.shadowHeight;
    // The geometry: the model's own shadow polygons when it has them, else its polygons.
    const bool own = m.drawingBuffers.flag == 1;
    const Pool<Polygon>& polygons = own ? m.drawingBuffers.shadowPolygons : m.polygons;
    const int32_t polygonCount = own ? m.drawingBuffers.shadowPolygonCount : m.polygonCount;
    const AssemblyOptions options{n, rendering_.selectedBone, rendering_.renderMode, nullptr};
    const Pool<Vec3>& positions =
        own ? m.drawingBuffers.shadowPositions : ShownPositions(m, options, false);
    const int32_t positionCount = own ? m.drawingBuffers.shadowPositionCount : m.positionCount;
    SceneVertices& out = rendering_.sceneVertices;
    out.clear();
    const int32_t count = std::clamp<int32_t>(polygonCount, 0, int32_t(polygons.size()));
    for (int32_t i = 0; i < count; ++i) {
      const Polygon& p = polygons[size_t(i)];
      if (p.cornerCount < 3 || p.cornerCount > kMaxCorners) continue;
      bool valid = true;
      for (int k = 0; k < p.cornerCount; ++k) {
        const int32_t at = p.corners[size_t(k)].position;
        valid = valid && at >= 0 && at < positionCount && size_t(at) < positions.size();
      }
      if (!valid) continue;
      auto vertex = [&](int k) {
        const Corner& c = p.corners[size_t(k)];
        const Vec3& q = positions[size_t(c.position)];
        const bool uv = c.uv >= 0 && c.uv < m.uvCount && size_t(c.uv) < m.uvs.size();
        return SceneVertex{q.x - q.y * dir.x / dir.y,
                           height,
                           q.z - q.y * dir.z / dir.y,
                           0.0f,
                           1.0f,
                           0.0f,
                           0xFF000000u,
                           0xFF000000u,
                           uv ? m.uvs[size_t(c.uv)].u : 0.0f,
                           uv ? m.uvs[size_t(c.uv)].v : 0.0f};
      };
      for (int t = 0; t + 3 <= p.cornerCount; ++t) {
        out.push_back(vertex(0));
        out.push_back(vertex(t + 1));
        out.push_back(vertex(t + 2));
      }
    }
    if (out.size() < 3) return;
    const d3d::D3DMATRIX world = ToD3D(o.world);
    d.SetTransform(D3DTS_WORLD, &world);
    d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d.SetRenderState(D3DRS_LIGHTING, 0);
    d.SetTexture(0, nullptr);
    d.SetFVF(kSceneFvf);
    d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(out.size() / 3), out.data(), sizeof(SceneVertex));
    d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d.SetRenderState(D3DRS_LIGHTING, 1);
  });
}

}  // namespace wz
