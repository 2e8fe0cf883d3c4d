// Bump mapping: groups of shading mode 6 lit by their normal map through "BumpMap", and the
// bump ground of shading mode 7 ("BumpGround" with its mesh and two textures from the data
// directory).
//
// A bump-mapped group is assembled on the CPU as mode 0 assembles it, and each triangle gets the
// tangent frame of its texture coordinates: the tangent along which u grows, the binormal along
// which v grows. The lighting is done in the model's space: the light's direction and the eye
// go there through the inverse of the object's matrix.
#include <cmath>
#include <cstring>

#include "core/library.h"
#include "platform/d3dx/math.h"
#include "platform/d3dx/texture_file.h"
#include "platform/d3dx/x_file.h"
#include "render/model_drawing.h"

namespace wz {

using namespace d3d;
namespace {

using d3dx::D3DXMATRIX;

// The bump vertex: position, normal, tangent, binormal, texture coordinates.
struct BumpVertex {
  float x, y, z;
  float nx, ny, nz;
  float tx, ty, tz;
  float bx, by, bz;
  float u, v;
};
static_assert(sizeof(BumpVertex) == 56);

constexpr D3DVERTEXELEMENT9 kBumpElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_TANGENT, 0},
    {0, 36, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_BINORMAL, 0},
    {0, 48, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END};

Vec3 Normalised(Vec3 v, Vec3 otherwise) {
  const float length = Length(v);
  return length > 1e-12f && std::isfinite(length) ? v * (1.0f / length) : otherwise;
}

// The tangent frame of a triangle from its positions and texture coordinates; a triangle whose
// coordinates do not span an area gets a frame around its normal.
void TangentFrame(const SceneVertex* t, Vec3& tangent, Vec3& binormal) {
  const Vec3 p0{t[0].x, t[0].y, t[0].z}, p1{t[1].x, t[1].y, t[1].z}, p2{t[2].x, t[2].y, t[2].z};
  const Vec3 e1 = p1 - p0, e2 = p2 - p0;
  const float du1 = t[1].u - t[0].u, dv1 = t[1].v - t[0].v;
  const float du2 = t[2].u - t[0].u, dv2 = t[2].v - t[0].v;
  const float det = du1 * dv2 - du2 * dv1;
  const Vec3 normal = Normalised(Cross(e1, e2), {0, 0, -1});
  const Vec3 side = Normalised(Cross({0, 1, 0}, normal), {1, 0, 0});
  if (std::fabs(det) < 1e-12f) {
    tangent = side;
    binormal = Normalised(Cross(normal, side), {0, 1, 0});
    return;
  }
  const float r = 1.0f / det;
  tangent = Normalised((e1 * dv2 - e2 * dv1) * r, side);
  binormal = Normalised((e2 * du1 - e1 * du2) * r, Cross(normal, tangent));
}

// A managed 1 x 1 texture of one colour.
std::shared_ptr<Texture> OneTexel(Device& d, D3DCOLOR colour) {
  std::shared_ptr<Texture> t;
  if (Failed(d.CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t))) return nullptr;
  D3DLOCKED_RECT locked;
  if (Succeeded(t->LockRect(0, &locked, nullptr, 0))) {
    std::memcpy(locked.pBits, &colour, 4);
    t->UnlockRect(0);
  }
  return t;
}

// The light direction and the eye of the frame in the space of an object with matrix `world`.
void IntoModelSpace(const D3DXMATRIX& world, Vec3 toLight, Vec3 eye, float light[4],
                    float eyeOut[4]) {
  D3DXMATRIX inverse;
  if (!d3dx::D3DXMatrixInverse(&inverse, nullptr, &world)) d3dx::D3DXMatrixIdentity(&inverse);
  const Mat4 m = FromD3D(inverse);
  const Vec3 l = Normalised(TransformNormal(toLight, m), {0, 0, -1});
  const Vec3 e = TransformCoord(eye, m);
  light[0] = l.x, light[1] = l.y, light[2] = l.z, light[3] = 0.0f;
  eyeOut[0] = e.x, eyeOut[1] = e.y, eyeOut[2] = e.z, eyeOut[3] = 1.0f;
}

// Hands an effect the object's whole transform ("mWVP") and the frame's light direction and eye
// in the object's own space; returns the object's world matrix.
D3DXMATRIX SetObjectTransformAndLight(d3dx::Effect& fx, d3d::Device& d, const ModelObject* o,
                                      const RenderState& rs) {
  const D3DXMATRIX world = ToD3D(o ? o->world : MatrixIdentity());
  D3DXMATRIX view, projection, wvp;
  d.GetTransform(D3DTS_VIEW, &view);
  d.GetTransform(D3DTS_PROJECTION, &projection);
  d3dx::D3DXMatrixMultiply(&wvp, &world, &view);
  d3dx::D3DXMatrixMultiply(&wvp, &wvp, &projection);
  fx.SetMatrix("mWVP", &wvp);
  float light[4], eye[4];
  IntoModelSpace(world, rs.lightDirection * -1.0f, rs.camera.eye, light, eye);
  fx.SetVector("vLightDir", light);
  fx.SetVector("vEyePos", eye);
  return world;
}

}  // namespace

void Library::BumpMapDraw(int32_t object, ModelId id, int32_t g) {
  Model* m = Model3_Get(id);
  ModelRuntime* rt = Model3_Runtime(id);
  if (!device_ || !m || !rt || g < 0 || size_t(g) >= m->groups.size()) return;
  d3dx::Effect* fx = EffectLoad("BumpMap");
  if (!fx) return;
  d3d::Device& d = *device_;
  EffectState& fxs = effects_;
  if (!fxs.bumpDeclaration &&
      Failed(d.CreateVertexDeclaration(kBumpElements, &fxs.bumpDeclaration))) {
    return;
  }
  if (!fx->GetTechniqueByName("BumpMapDraw")) return;
  RenderState& rs = rendering_;
  ModelDrawData& data = DrawDataFor(*m, *rt, rs.selectedBone, device_.get());
  if (size_t(g) >= data.groups.size()) return;

  // The group's triangles with their tangent frames.
  SceneVertices& scratch = rs.sceneVertices;
  scratch.clear();
  AssemblyOptions options;
  options.object = object;
  options.selectedBone = rs.selectedBone;
  options.renderMode = rs.renderMode;
  AssembleGroup(*m, g, data.groups[size_t(g)].polygons, options, scratch);
  const size_t triangles = scratch.size() / 3;
  if (triangles == 0) return;
  constexpr size_t kFloats = sizeof(BumpVertex) / sizeof(float);
  std::vector<float>& out = fxs.bumpScratch;
  out.resize(triangles * 3 * kFloats);
  for (size_t t = 0; t < triangles; ++t) {
    const SceneVertex* in = &scratch[t * 3];
    Vec3 tangent, binormal;
    TangentFrame(in, tangent, binormal);
    for (int k = 0; k < 3; ++k) {
      const SceneVertex& v = in[k];
      const float vertex[kFloats] = {v.x,        v.y,        v.z,       v.nx,      v.ny,
                                     v.nz,       tangent.x,  tangent.y, tangent.z, binormal.x,
                                     binormal.y, binormal.z, v.u,       v.v};
      std::memcpy(&out[(t * 3 + size_t(k)) * kFloats], vertex, sizeof vertex);
    }
  }

  // Textures: the group's decal (white without one) and the normal map of its bump-map slot
  // (flat without one).
  if (!fxs.white) fxs.white = OneTexel(d, 0xFFFFFFFFu);
  if (!fxs.flatNormal) fxs.flatNormal = OneTexel(d, 0xFF8080FFu);
  const Group& group = m->groups[size_t(g)];
  Texture* decal = d.GetTexture(0);
  Texture* normalMap = nullptr;
  if (group.bumpMapSlot > 0 && size_t(group.bumpMapSlot) < rt->textures.size())
    normalMap = rt->textures[size_t(group.bumpMapSlot)].get();
  fx->SetTexture("DecaleTex", decal ? decal : fxs.white.get());
  fx->SetTexture("NormalMap", normalMap ? normalMap : fxs.flatNormal.get());

  SetObjectTransformAndLight(*fx, d, ModelObject_Get(object), rendering_);
  fx->SetTechnique("BumpMapDraw");

  d.SetVertexDeclaration(fxs.bumpDeclaration.get());
  UINT passes = 0;
  if (Succeeded(fx->Begin(&passes, 0))) {
    for (UINT p = 0; p < passes; ++p) {
      fx->BeginPass(p);
      d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(triangles), out.data(), sizeof(BumpVertex));
      rs.lists.drawnTriangles += int32_t(triangles);
      fx->EndPass();
    }
    fx->End();
  }
  d.SetVertexDeclaration(nullptr);
}

bool Library::BUMP_GROUND() {
  BumpGround& ground = effects_.ground;
  if (ground.tried || !device_) return ground.ready;
  ground.tried = true;
  d3d::Device& d = *device_;
  EffectLoad("BumpGround");
  auto load = [&](const char* name, std::shared_ptr<Texture>& place) {
    const std::string path = dataDir_ + "\\" + name;
    return Succeeded(d3dx::D3DXCreateTextureFromFileExA(
        &d, path.c_str(), 0, 0, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT,
        0, nullptr, nullptr, &place));
  };
  if (!load("BumpGround\\BumpGround.jpg", ground.colour)) {
    Log("*** Load Error *** %s", "BumpGround\\BumpGround.jpg");
    return false;
  }
  if (!load("BumpGround\\BumpGroundNormal.tga", ground.normal)) {
    Log("*** Init Error *** BUMP_GROUND()");
    return false;
  }
  const std::string meshPath = dataDir_ + "\\BumpGround\\BumpGround.x";
  for (auto& slot : ground.meshes) {
    ground.materials.clear();
    if (Failed(d3dx::D3DXLoadMeshFromX(meshPath, 0, slot, ground.materials))) {
      Log("*** Init Error *** BUMP_GROUND()");
      return false;
    }
  }
  ground.materialTextures.assign(ground.materials.size(), nullptr);
  for (size_t i = 0; i < ground.materials.size(); ++i) {
    d3dx::D3DXMATERIAL& material = ground.materials[i];
    material.MatD3D.Ambient = material.MatD3D.Diffuse;
    const std::string& file = material.textureFilename;
    if (file.empty()) continue;
    // Beside the mesh, else in the data directory.
    if (!load(("BumpGround\\" + file).c_str(), ground.materialTextures[i]) &&
        !load(file.c_str(), ground.materialTextures[i])) {
      Log("*** Init Error *** BUMP_GROUND()");
    }
  }
  ground.ready = true;
  return true;
}

void Library::BumpGroundDraw(int32_t object) {
  BumpGround& ground = effects_.ground;
  d3dx::Effect* fx = EffectLoad("BumpGround");
  if (!device_ || !ground.ready || !fx || !ground.meshes[0]) return;
  d3d::Device& d = *device_;
  const d3dx::Mesh& mesh = *ground.meshes[0];
  const D3DXMATRIX world = SetObjectTransformAndLight(*fx, d, ModelObject_Get(object), rendering_);
  const d3d::D3DCOLORVALUE& c = ground.materials.empty() ? d3d::D3DCOLORVALUE{1, 1, 1, 1}
                                                         : ground.materials[0].MatD3D.Diffuse;
  const float diffuse[4] = {c.r, c.g, c.b, c.a};
  fx->SetVector("vDiffuse", diffuse);
  fx->SetTexture("DecaleTex", ground.colour.get());
  fx->SetTexture("NormalMap", ground.normal.get());
  if (Failed(fx->SetTechnique(fx->GetTechnique(0)))) return;
  d.SetTransform(D3DTS_WORLD, &world);
  d.SetFVF(mesh.GetFVF());
  UINT passes = 0;
  if (Failed(fx->Begin(&passes, 0))) return;
  for (UINT p = 0; p < passes; ++p) {
    fx->BeginPass(p);
    d.DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, mesh.GetNumVertices(), mesh.GetNumFaces(),
                             mesh.IndexBuffer().data(),
                             mesh.Uses32BitIndices() ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                             mesh.VertexBuffer().data(), mesh.GetNumBytesPerVertex());
    rendering_.lists.drawnTriangles += int32_t(mesh.GetNumFaces());
    fx->EndPass();
  }
  fx->End();
}

}  // namespace wz
