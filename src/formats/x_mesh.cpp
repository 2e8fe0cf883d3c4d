// DirectX X export and import of a model, over the mesh and X-file functions of the D3DX layer
// (platform/d3dx/x_file.h): SaveX turns the model into a triangle list with one vertex per corner,
// one material per group in use and, when the model draws corner colours, vertex colours, and
// saves it in binary form; LoadX loads every mesh of a file as one mesh, sorts its faces by
// material and turns vertices, faces and materials into pools, polygons, groups and texture slots.
//
// The two directions are not mirror images: the export divides positions by 5 and the import
// keeps them. Parsing of the untrusted file happens in the D3DX layer, which checks every count
// and index; everything that can fail is done before the model is touched, so a refused file
// leaves the model as it was.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "formats/formats.h"
#include "formats/model_export.h"
#include "model/model_invariants.h"
#include "model/normals.h"
#include "model/polygon_split.h"
#include "platform/d3dx/mesh.h"
#include "platform/d3dx/x_file.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace wz {
namespace {

using d3dx::D3DXMATERIAL;
using d3dx::Mesh;

// Position, normal, diffuse colour and one texture-coordinate pair: the vertex the import brings
// every mesh to (36 bytes). The export leaves the colour out when the model draws none.
constexpr DWORD kVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(kVertexFormat == 338);
constexpr DWORD kUncolouredFormat = kVertexFormat & ~DWORD{D3DFVF_DIFFUSE};

constexpr float kExportScale = 5.0f;      // the export divides every position by this
constexpr size_t kMaxImportGroups = 256;  // materials taken from a file; the rest are ignored
constexpr size_t kMaxAttributeRanges = 256;
constexpr int16_t kMaxImportTextureSlots = 256;
constexpr uint8_t kImportParameterByte = 10;
// The power of the material model drawing sets: a group with specular on shines with it.
constexpr float kDrawnSpecularPower = 20.0f;

// printf into a string; the log lines of the model store are formats filled in.
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

// ---- Export ------------------------------------------------------------------------------------

// A colour channel of the model (0 to 255) as a fraction, as drawing clamps it.
float Fraction(float v) {
  return v > 0.0f ? std::min(v / 255.0f, 1.0f) : 0.0f;
}

// The material of a group: its colour as drawing shows it, its specular colour with the drawn
// power when specular is on (black and 0 otherwise), and the file its texture slot names.
D3DXMATERIAL GroupMaterial(const Model& model, const Group& group) {
  D3DXMATERIAL m;  // ambient and emissive black
  const exchange::MaterialColour c = exchange::GroupColour(model, group);
  m.MatD3D.Diffuse = {c.rgba[0], c.rgba[1], c.rgba[2], c.rgba[3]};
  if (group.specularOn != 0) {
    const auto& s = group.specularColour;
    m.MatD3D.Specular = {Fraction(float(s[0])), Fraction(float(s[1])), Fraction(float(s[2])), 1};
    m.MatD3D.Power = kDrawnSpecularPower;
  }
  if (const int32_t slot = exchange::GroupTextureSlot(model, group)) {
    m.textureFilename = std::string(model.textureSlots[size_t(slot)].fileName.View());
  }
  return m;
}

// The corner colour drawing shows (corner colour times model colour) as a D3DCOLOR word.
uint32_t DrawnCornerColour(const Model& model, const Corner& corner) {
  const exchange::MaterialColour c = exchange::CornerColour(model, corner);
  const ColourF& tint = model.colour;
  auto byte = [](float v, float t) { return uint32_t(std::lround(v * Fraction(t) * 255.0f)); };
  return byte(c.rgba[3], tint.a) << 24 | byte(c.rgba[0], tint.r) << 16 |
         byte(c.rgba[1], tint.g) << 8 | byte(c.rgba[2], tint.b);
}

// Writes the vertex of one polygon corner as vertex `v` of the export mesh. Returns what is not a
// finite number once scaled (a position, normal or UV), or nullptr: the file would otherwise
// hold zeros in its place.
const char* WriteExportVertex(const Model& model, const Corner& c, Mesh& mesh, uint32_t v) {
  const Vec3 p = model.positions[size_t(c.position)];
  const std::array<float, 3> scaled = {p.x / kExportScale, p.y / kExportScale, p.z / kExportScale};
  if (!std::isfinite(scaled[0]) || !std::isfinite(scaled[1]) || !std::isfinite(scaled[2])) {
    return "position";
  }
  mesh.SetPosition(v, scaled);
  // A corner of an unused pool names no entry and takes a zero value.
  const Vec3 n = model.normalCount > 0 ? model.normals[size_t(c.normal)] : Vec3{};
  if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z)) return "normal";
  mesh.SetNormal(v, {n.x, n.y, n.z});
  if (mesh.Layout().diffuse >= 0) mesh.SetDiffuse(v, DrawnCornerColour(model, c));
  const Uv uv = model.uvCount > 0 ? model.uvs[size_t(c.uv)] : Uv{};
  if (!std::isfinite(uv.u) || !std::isfinite(uv.v)) return "texture coordinate";
  mesh.SetTexCoord(v, {uv.u, uv.v});
  mesh.SetIndex(v, v);
  return nullptr;
}

// ---- Import ------------------------------------------------------------------------------------

// The loaded mesh in the vertex format of the import, sorted by material. False (with `why`) when
// it cannot be brought there.
bool PrepareImportMesh(std::unique_ptr<Mesh>& mesh, std::string& why) {
  if (mesh->GetFVF() != kVertexFormat) {
    std::unique_ptr<Mesh> clone;
    if (Failed(mesh->CloneMeshFVF(mesh->GetOptions(), kVertexFormat, clone))) {
      why = "the mesh cannot be brought to the model's vertex layout";
      return false;
    }
    mesh = std::move(clone);
  }
  if (Failed(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT))) {
    why = "the faces cannot be sorted by material";
    return false;
  }
  if (mesh->GetNumVertices() > uint32_t(std::numeric_limits<int32_t>::max()) ||
      mesh->GetNumFaces() > uint32_t(std::numeric_limits<int32_t>::max())) {
    why = "the mesh is larger than a model can hold";
    return false;
  }
  return true;
}

// The file a material's texture name loads from. Exporters write names with the folders of the
// machine they ran on ("C:\\models\\data\\bottom.tga"); when no file has the whole name, the file
// name alone is looked for beside the model (where the host resolves relative names), as the
// Metasequoia reader always does.
std::string TextureToLoad(const ModelHost& host, const std::string& name) {
  if (platform::FileExists(host.ResolveNamed(name))) return name;
  const size_t backslash = platform::Cp932FindLast(name, '\\');
  const size_t slash = platform::Cp932FindLast(name, '/');
  const size_t cut = backslash == std::string::npos ? slash
                     : slash == std::string::npos   ? backslash
                                                    : std::max(backslash, slash);
  if (cut == std::string::npos) return name;
  const std::string part = name.substr(cut + 1);
  return platform::FileExists(host.ResolveNamed(part)) ? part : name;
}

// Groups from the first 256 materials (one white group when there are none), and a texture slot
// for each of them that names a texture.
void ImportGroups(ModelHost& host, Model& model, const std::vector<D3DXMATERIAL>& materials) {
  const size_t materialCount = std::min(materials.size(), kMaxImportGroups);
  const size_t groupCount = std::max<size_t>(materialCount, 1);
  GrowTo(model.groups, groupCount);
  model.groupCount = static_cast<int32_t>(groupCount);
  for (size_t g = 0; g < groupCount; ++g) {
    const d3dx::D3DCOLORVALUE d =
        g < materialCount ? materials[g].MatD3D.Diffuse : d3dx::D3DCOLORVALUE{1, 1, 1, 1};
    // Every imported group starts from the new-group values (shading 4 and the rest): a zeroed
    // group would not be drawn.
    Group& group = model.groups[g];
    group = NewGroup();
    group.textureSlot = 0;
    group.parameterByte = kImportParameterByte;
    group.colour = {d.r * 255.0f, d.g * 255.0f, d.b * 255.0f, d.a * 255.0f};
  }
  for (size_t g = 0; g < materialCount; ++g) {
    // The name is a C string to the rest of the library: it ends at its first NUL.
    std::string name = materials[g].textureFilename;
    name.resize(std::min(name.size(), name.find('\0')));
    if (name.empty() || model.textureSlotCount >= kMaxImportTextureSlots) continue;
    const int16_t s = model.textureSlotCount;
    GrowTo(model.textureSlots, size_t(s) + 1);
    TextureSlot& slot = model.textureSlots[size_t(s)];
    slot = TextureSlot{};
    slot.state = 1;
    slot.fileName.Set(name);
    // The slot is counted before its texture loads: the loader takes only slots in use.
    model.textureSlotCount = static_cast<int16_t>(s + 1);
    host.LoadModelTexture(model, s, TextureToLoad(host, name));
    Group& group = model.groups[g];
    const size_t dot = platform::Cp932FindLast(name, '.');
    group.name.Set(dot == std::string::npos ? std::string_view()
                                            : std::string_view(name).substr(0, dot));
    group.textureSlot = s;
  }
}

// One position, normal, colour and UV per vertex; every corner uses the vertex index in all four.
void ImportVertices(Model& model, const Mesh& mesh) {
  const uint32_t n = mesh.GetNumVertices();
  GrowPositionPools(model, n);
  GrowTo(model.normals, n);
  GrowTo(model.colours, n);
  GrowTo(model.uvs, n);
  for (uint32_t v = 0; v < n; ++v) {
    const auto p = mesh.Position(v);
    model.positions[v] = {p[0], p[1], p[2]};
    const auto nrm = mesh.Normal(v);
    model.normals[v] = {nrm[0], nrm[1], nrm[2]};
    const uint32_t argb = mesh.Diffuse(v);
    // A word without alpha (what a file without vertex colours gives) counts as white.
    model.colours[v] = (argb >> 24) == 0
                           ? ColourF{255, 255, 255, 255}
                           : ColourF{float((argb >> 16) & 0xFF), float((argb >> 8) & 0xFF),
                                     float(argb & 0xFF), 255};
    const auto uv = mesh.TexCoord(v);
    model.uvs[v] = {uv[0], uv[1]};
  }
  const auto count = static_cast<int32_t>(n);
  model.positionCount = model.normalCount = model.colourCount = model.uvCount = count;
}

// The group of each of the first `count` faces: the material of the attribute range that holds
// it among the first 256 ranges, else that of range 0; a material beyond the groups taken gives
// group 0.
std::vector<int32_t> FaceGroups(const Mesh& mesh, size_t count, int32_t groupCount) {
  const auto table = mesh.GetAttributeTable();
  std::vector<DWORD> attr(count, table.empty() ? 0 : table[0].AttribId);
  for (size_t r = 1; r < std::min(table.size(), kMaxAttributeRanges); ++r) {
    const size_t end = std::min(count, size_t{table[r].FaceStart} + table[r].FaceCount);
    for (size_t f = table[r].FaceStart; f < end; ++f)
      attr[f] = table[r].AttribId;
  }
  std::vector<int32_t> groups(count);
  for (size_t f = 0; f < count; ++f)
    groups[f] = attr[f] < DWORD(groupCount) ? static_cast<int32_t>(attr[f]) : 0;
  return groups;
}

// The faces the model takes: all of them, or those up to the capacity of a preallocated model.
int32_t FacesTaken(const ModelHost& host, const Model& model, const Mesh& mesh) {
  return std::min(static_cast<int32_t>(mesh.GetNumFaces()), PolygonLimit(host, model));
}

// The memory the model takes for the mesh: the vertex pools, and per face taken a polygon and
// the indices and group read for it.
uint64_t ImportBytes(const Mesh& mesh, int32_t faces) {
  return uint64_t{mesh.GetNumVertices()} *
             (4 * sizeof(Vec3) + sizeof(ColourF) + sizeof(Uv) + sizeof(VertexAttr)) +
         uint64_t(faces) * (sizeof(Polygon) + 3 * sizeof(uint32_t) + 2 * sizeof(int32_t));
}

void ImportFaces(ModelHost& host, Model& model, const Mesh& mesh, const std::string& path) {
  const auto faces = static_cast<int32_t>(mesh.GetNumFaces());
  const int32_t count = FacesTaken(host, model, mesh);
  if (count < faces) host.Log(PolygonCapacityLine(path, faces, count));
  const std::vector<int32_t> groups = FaceGroups(mesh, size_t(count), model.groupCount);
  std::vector<uint32_t> indices(size_t(count) * 3);
  mesh.ReadIndices(indices);
  model.polygons.resize(size_t(count));
  for (int32_t f = 0; f < count; ++f) {
    // Written in place, field by field (a whole polygon copied in stalls on its narrow stores).
    Polygon& p = model.polygons[size_t(f)];
    p.cornerCount = 3;
    for (int k = 0; k < 3; ++k) {
      const auto v = static_cast<int32_t>(indices[size_t(f) * 3 + size_t(k)]);
      p.corners[size_t(k)] = {v, v, v, v};
    }
    p.corners[3] = {};
    p.group = groups[size_t(f)];
    p.faceNormal = {};
    p.smoothAngle = 0;
  }
  model.polygonCount = count;
}

// Every bone in use keeps only its first key list, brought to exactly 16 keys (cut, or filled up
// with rest keys). The model is left with one motion, so that each bone has one list per motion.
void ImportBones(Model& model) {
  const int32_t bones = std::clamp(model.boneCount, 0, kMaxBones);
  for (int32_t k = 0; k < bones; ++k) {
    auto& lists = model.bones[size_t(k)].keyLists;
    lists.resize(1);
    lists[0].resize(kMaxTrackKeys, kRestKey);
  }
  if (model.motions.empty()) {
    model.motions.push_back(NewMotion());
  } else {
    model.motions.resize(1);
  }
}

}  // namespace

// ---- Public functions --------------------------------------------------------------------------

std::string PolygonCapacityLine(const std::string& path, int64_t count, int32_t capacity) {
  return Format(WZ_TEXT("%s : ポリゴン数 %lld ( 最大%dを超えています )"), path.c_str(),
                static_cast<long long>(count), capacity);
}

int SaveX(ModelHost& host, const Model& model, const std::string& path) {
  if (auto fault = CheckModelInvariants(model)) {
    host.Refuse(path, "the model is not sound: " + fault->message);
    return -1;
  }
  // One material per group that has a face to write, in group order.
  std::vector<int32_t> materialOf(size_t(model.groupCount), -1);
  uint64_t triangles = 0;
  for (int32_t i = 0; i < model.polygonCount; ++i) {
    const Polygon& p = model.polygons[size_t(i)];
    if (p.cornerCount < 3) continue;
    triangles += uint64_t(p.cornerCount - 2);
    materialOf[size_t(p.group)] = 0;
  }
  if (triangles == 0) {
    host.Refuse(path, "the model has no polygon of 3 or 4 corners to write");
    return -1;
  }
  std::vector<D3DXMATERIAL> materials;
  for (int32_t g = 0; g < model.groupCount; ++g) {
    if (materialOf[size_t(g)] < 0) continue;
    materialOf[size_t(g)] = static_cast<int32_t>(materials.size());
    materials.push_back(GroupMaterial(model, model.groups[size_t(g)]));
  }

  const uint64_t vertices = 3 * triangles;
  // 16-bit indices cannot name more than 65535 vertices.
  const DWORD options = D3DXMESH_MANAGED | (vertices > 65535 ? D3DXMESH_32BIT : 0);
  const DWORD format = exchange::UsesCornerColours(model) ? kVertexFormat : kUncolouredFormat;
  std::unique_ptr<Mesh> mesh;
  if (vertices > std::numeric_limits<DWORD>::max() ||
      Failed(Mesh::Create(DWORD(triangles), DWORD(vertices), options, format, mesh))) {
    host.Refuse(path, Format("%llu triangles do not fit one mesh", (unsigned long long)triangles));
    return -1;
  }

  uint32_t v = 0, f = 0;
  const std::span<DWORD> attributes = mesh->AttributeBuffer();
  for (int32_t i = 0; i < model.polygonCount; ++i) {
    const Polygon& p = model.polygons[size_t(i)];
    for (int c = 0; c + 2 < p.cornerCount; ++c) {  // a fan around corner 0
      for (int k : {0, c + 1, c + 2}) {
        if (const char* what = WriteExportVertex(model, p.corners[size_t(k)], *mesh, v++)) {
          host.Refuse(path, Format("the model has a %s that is not a finite number", what));
          return -1;
        }
      }
      attributes[f++] = DWORD(materialOf[size_t(p.group)]);
    }
  }

  d3dx::XStatus status;
  if (Failed(d3dx::D3DXSaveMeshToX(path, *mesh, materials, D3DXF_FILEFORMAT_BINARY, &status))) {
    host.Refuse(path, status.message.empty() ? d3dx::XErrorName(status.error) : status.message);
    return -1;
  }
  return 1;
}

int LoadXFromMemory(ModelHost& host, Model& model, const std::string& path,
                    std::span<const uint8_t> bytes, int32_t /*version*/) {
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
  d3dx::XStatus status;
  // Faces of more than three corners are split along their outline (model/polygon_split.h).
  PolygonSplitter splitter;
  std::vector<Vec3> outline;
  const d3dx::XFaceSplitter split = [&](std::span<const float> xyz, std::vector<uint32_t>& out) {
    if (xyz.size() / 3 > kMaxEarClipCorners) return;  // the fan, without a copy of the outline
    outline.resize(xyz.size() / 3);
    for (size_t i = 0; i < outline.size(); ++i)
      outline[i] = {xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]};
    for (const CornerTriangle& t : splitter.Split(outline))
      out.insert(out.end(), t.begin(), t.end());
  };
  if (Failed(d3dx::D3DXLoadMeshFromXInMemory(bytes, D3DXMESH_SYSTEMMEM, mesh, materials, &status,
                                             {}, split))) {
    host.Refuse(path, status.message.empty() ? d3dx::XErrorName(status.error) : status.message);
    return E_FAIL;
  }
  // The loaded mesh has a diffuse colour only when the file gives vertex colours.
  const bool vertexColours = (mesh->GetFVF() & D3DFVF_DIFFUSE) != 0;
  std::string why;
  if (!PrepareImportMesh(mesh, why)) {
    host.Refuse(path, why);
    return -1;
  }
  if (const uint64_t need = ImportBytes(*mesh, FacesTaken(host, model, *mesh));
      !ReadMemoryAllows(need, bytes.size())) {
    host.Refuse(path, Format("the model would need %llu MB", (unsigned long long)(need >> 20)));
    return E_FAIL;
  }

  // Nothing below fails: fill the model.
  model.fileName.Set(path);
  ImportGroups(host, model, materials);
  ImportVertices(model, *mesh);
  ImportFaces(host, model, *mesh, path);
  model.colour = {255, 255, 255, 255};
  // The file's vertex colours are drawn, as its groups' colours are otherwise.
  model.vertexColoursOn = vertexColours ? 1 : 0;
  ImportBones(model);
  DeriveNormals(model);
  return 1;
}

int LoadX(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "the file cannot be read");
    return E_FAIL;
  }
  return LoadXFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
