// World-space primitives: the world transform from a position, angles and a scale, the fill
// modes of the group shading values, and points, lines, triangles and quads of scene vertices
// drawn from user memory. The caller sets the world transform; points and lines are drawn
// unlit, triangles and quads with the lighting as it is.
#include "render/draw3d.h"

#include "core/library.h"
#include "platform/d3dx/math.h"

namespace wz {

// The drawing code speaks the device's own names.
using namespace d3d;

SceneVertex ToSceneVertex(const WorldVertex& v) {
  return {v.x, v.y, v.z, v.nx, v.ny, v.nz, PackColour(v.red, v.green, v.blue, v.alpha),
          0,   v.u, v.v};
}

Mat4 BuildWorldTransform(Vec3 position, Vec3 anglesDegrees, Vec3 scale) {
  constexpr float kRadiansPerDegree = 0.0174f;
  d3dx::D3DXMATRIX s, r, t;
  d3dx::D3DXMatrixScaling(&s, scale.x, scale.y, scale.z);
  d3dx::D3DXMatrixRotationYawPitchRoll(&r, anglesDegrees.y * kRadiansPerDegree,
                                       anglesDegrees.x * kRadiansPerDegree,
                                       -anglesDegrees.z * kRadiansPerDegree);
  d3dx::D3DXMatrixTranslation(&t, position.x, position.y, position.z);
  d3dx::D3DXMatrixMultiply(&s, &s, &r);
  d3dx::D3DXMatrixMultiply(&s, &s, &t);
  return FromD3D(s);
}

void Library::WorldTransformSet(float x, float y, float z, float angleX, float angleY, float angleZ,
                                float scaleX, float scaleY, float scaleZ) {
  if (!device_) return;
  const d3d::D3DMATRIX world =
      ToD3D(BuildWorldTransform({x, y, z}, {angleX, angleY, angleZ}, {scaleX, scaleY, scaleZ}));
  device_->SetTransform(D3DTS_WORLD, &world);
}

void Library::FillModeSet(int32_t type) {
  if (!device_) return;
  DWORD fill, shade;
  switch (type) {
    case 1:
      fill = D3DFILL_POINT, shade = D3DSHADE_GOURAUD;
      break;
    case 2:
      fill = D3DFILL_WIREFRAME, shade = D3DSHADE_GOURAUD;
      break;
    case 3:
      fill = D3DFILL_SOLID, shade = D3DSHADE_FLAT;
      break;
    case 4:
    case 5:
      fill = D3DFILL_SOLID, shade = D3DSHADE_GOURAUD;
      break;
    default:
      return;
  }
  device_->SetRenderState(D3DRS_FILLMODE, fill);
  device_->SetRenderState(D3DRS_SHADEMODE, shade);
}

void Library::Point3D(const WorldVertex& v) {
  if (!device_) return;
  const SceneVertex vertex = ToSceneVertex(v);
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  device_->SetFVF(kSceneFvf);
  device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &vertex, sizeof vertex);
  device_->SetRenderState(D3DRS_LIGHTING, 1);
}

void Library::Line3D(const WorldVertex& a, const WorldVertex& b) {
  if (!device_) return;
  const SceneVertex vertices[2] = {ToSceneVertex(a), ToSceneVertex(b)};
  device_->SetRenderState(D3DRS_LIGHTING, 0);
  device_->SetFVF(kSceneFvf);
  device_->DrawPrimitiveUP(D3DPT_LINELIST, 1, vertices, sizeof(SceneVertex));
  device_->SetRenderState(D3DRS_LIGHTING, 1);
}

void Library::Triangle3D(const WorldVertex& a, const WorldVertex& b, const WorldVertex& c) {
  if (!device_) return;
  const SceneVertex vertices[3] = {ToSceneVertex(a), ToSceneVertex(b), ToSceneVertex(c)};
  device_->SetFVF(kSceneFvf);
  device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices, sizeof(SceneVertex));
}

void Library::Quad3D(const WorldVertex& a, const WorldVertex& b, const WorldVertex& c,
                     const WorldVertex& d) {
  Triangle3D(a, b, c);
  Triangle3D(a, c, d);
}

}  // namespace wz
