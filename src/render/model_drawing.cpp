// The CPU assembly of a group into scene vertices, and the drawing data of the buffer modes made
// from the same corners: a group's polygons are split into fans, each corner takes its position,
// normal, colour and texture coordinates by the model's switches, and mirrored and double-sided
// groups get their extra copies. Corners that name an entry outside a pool leave their polygon
// out instead of reading past the pool.
#include "render/model_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace wz {

// The drawing code speaks the device's own names.
using namespace d3d;
namespace {

bool InRange(int32_t index, int32_t count, size_t size) {
  return index >= 0 && index < count && size_t(index) < size;
}

// Every corner of a drawable polygon names a position; the other pools are read only when they
// are in use, and an index outside them then falls back (see CornerVertex).
bool Drawable(const Model& m, const Polygon& p, const Pool<Vec3>& positions) {
  if (p.cornerCount < 3 || p.cornerCount > kMaxCorners) return false;
  for (int k = 0; k < p.cornerCount; ++k) {
    if (!InRange(p.corners[size_t(k)].position, m.positionCount, positions.size())) return false;
  }
  return true;
}

// The stored face normal; a polygon whose reader left it unset (or degenerate) gets the normal
// of its first three corners, so that it is lit like any other.
Vec3 FaceNormalOf(const Polygon& p, const Pool<Vec3>& positions) {
  const Vec3& n = p.faceNormal;
  if (IsFinite(n) && (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f)) return n;
  const Vec3& p0 = positions[size_t(p.corners[0].position)];
  const Vec3& p1 = positions[size_t(p.corners[1].position)];
  const Vec3& p2 = positions[size_t(p.corners[2].position)];
  const Vec3 c = Cross(p1 - p0, p2 - p1);
  const float length = Length(c);
  return length > 0.0f && std::isfinite(length) ? c / length : Vec3{};
}

int32_t Trunc(float v) {
  return std::isfinite(v) ? static_cast<int32_t>(std::clamp(v, -1.0f, 256.0f)) : 0;
}

// The per-group constants of the corner rule.
struct GroupContext {
  const Model& m;
  const Group& group;
  const AssemblyOptions& options;
  bool forBuffers;  // static data of the buffer modes: no deformation, scroll or highlight
  float colourScale[4];
  D3DCOLOR groupColour;
  D3DCOLOR specular;
  bool inflate;

  GroupContext(const Model& model, const Group& g, const AssemblyOptions& o, bool buffers)
      : m(model), group(g), options(o), forBuffers(buffers) {
    colourScale[0] = model.colour.r / 255.0f;
    colourScale[1] = model.colour.g / 255.0f;
    colourScale[2] = model.colour.b / 255.0f;
    colourScale[3] = model.colour.a / 255.0f;
    groupColour = Scaled(g.colour);
    specular = PackColour(g.specularColour[0], g.specularColour[1], g.specularColour[2], 255);
    inflate = !buffers && o.object == 252;
  }

  D3DCOLOR Scaled(const ColourF& c) const {
    return PackColour(Trunc(c.r * colourScale[0]), Trunc(c.g * colourScale[1]),
                      Trunc(c.b * colourScale[2]), Trunc(c.a * colourScale[3]));
  }
};

// One corner as the CPU assembly builds it; `deform` tells whether the positions are the
// deformed ones (normals then come from the smooth normals).
SceneVertex CornerVertex(const GroupContext& c, const Polygon& p, int k, const Vec3& face,
                         const Pool<Vec3>& positions, bool deform) {
  const Model& m = c.m;
  const Corner& corner = p.corners[size_t(k)];
  const int32_t at = corner.position;
  const Vec3 position = positions[size_t(at)];
  Vec3 normal = face;
  if (deform) {
    // A face with a smoothing angle keeps its corners' normals from the pool, which the angle
    // rule wrote: the smooth normal of a position would smooth across its sharp edges.
    if (c.group.shading != 3 && p.smoothAngle != 0 && m.normalCount > 0 &&
        InRange(corner.normal, m.normalCount, m.normals.size())) {
      const Vec3& n = m.normals[size_t(corner.normal)];
      if (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f) normal = n;
    } else if (c.group.shading != 3 && InRange(at, m.positionCount, m.smoothNormals.size())) {
      const Vec3& s = m.smoothNormals[size_t(at)];
      if (s.x != 0.0f || s.y != 0.0f || s.z != 0.0f) normal = s;
    }
  } else if (c.group.shading != 3 && m.normalCount > 0 &&
             InRange(corner.normal, m.normalCount, m.normals.size())) {
    // A file may carry zero normals (its writer had none); such a corner is lit by its face.
    const Vec3& n = m.normals[size_t(corner.normal)];
    if (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f) normal = n;
  }
  D3DCOLOR diffuse;
  if (m.displayMode == 3) {
    diffuse = BoneHighlightColour(m, at, c.options.selectedBone);
  } else if (m.vertexColoursOn == 1 && InRange(corner.colour, m.colourCount, m.colours.size())) {
    diffuse = c.Scaled(m.colours[size_t(corner.colour)]);
  } else {
    diffuse = c.groupColour;
  }
  float u = 0.0f, v = 0.0f;
  if (InRange(corner.uv, m.uvCount, m.uvs.size())) {
    u = m.uvs[size_t(corner.uv)].u;
    v = m.uvs[size_t(corner.uv)].v;
  }
  SceneVertex out{position.x, position.y, position.z, normal.x, normal.y,
                  normal.z,   diffuse,    c.specular, u,        v};
  if (!c.forBuffers && c.group.uvScrollOn == 1) {
    out.u = float(double(out.u) + c.group.uvOffset[0]);
    out.v = float(double(out.v) + c.group.uvOffset[1]);
  }
  if (c.inflate) {
    // The highlighted object is opaque magenta, pushed out a little so it covers the model.
    out.x += normal.x * 0.1f;
    out.y += normal.y * 0.1f;
    out.z += normal.z * 0.1f;
    out.diffuse = 0xFFFF00FFu;
  }
  return out;
}

SceneVertex Mirrored(SceneVertex v) {
  v.x = -v.x;
  v.nx = -v.nx;
  return v;
}

// Calls emit(vertex, position index) for every corner of the group's triangle list, three per
// triangle: each fan triangle, its mirrored copy, and the double-sided copies of both.
template <typename Emit>
void ForEachGroupCorner(const GroupContext& c, const std::vector<int32_t>& polygons, bool forEdge,
                        Emit&& emit) {
  const Model& m = c.m;
  // With deform on, normals come from the smooth normals whichever positions a copy takes.
  const bool deform = !c.forBuffers && m.deformOn == 1;
  const Pool<Vec3>& main = c.forBuffers ? m.positions : ShownPositions(m, c.options, forEdge);
  const Pool<Vec3>& copy = c.forBuffers ? m.positions : ShownPositions(m, c.options, true);
  const bool mirror = c.group.mirror == 1;
  const bool doubleSided = !forEdge && c.group.doubleSided == 1;
  const float push = c.m.edgeWidth * 0.05f;
  for (int32_t index : polygons) {
    if (index < 0 || index >= m.polygonCount || size_t(index) >= m.polygons.size()) continue;
    const Polygon& p = m.polygons[size_t(index)];
    if (!Drawable(m, p, main) || !Drawable(m, p, copy)) continue;
    const Vec3 face = FaceNormalOf(p, m.positions);
    const int n = p.cornerCount;
    for (int t = 0; t + 3 <= n; ++t) {
      int k[3];
      if (forEdge) {
        k[0] = n - 1, k[1] = n - t - 2, k[2] = n - t - 3;
      } else {
        k[0] = 0, k[1] = t + 1, k[2] = t + 2;
      }
      SceneVertex v[3];
      for (int i = 0; i < 3; ++i) {
        v[i] = CornerVertex(c, p, k[i], face, main, deform);
        if (forEdge) {
          v[i].x += v[i].nx * push;
          v[i].y += v[i].ny * push;
          v[i].z += v[i].nz * push;
          v[i].diffuse = 0xFF000000u;
          v[i].specular = 0xFF000000u;
          if (c.group.uvScrollOn == 1 && !c.forBuffers) {
            const Corner& corner = p.corners[size_t(k[i])];
            v[i].u = InRange(corner.uv, m.uvCount, m.uvs.size()) ? m.uvs[size_t(corner.uv)].u : 0;
            v[i].v = InRange(corner.uv, m.uvCount, m.uvs.size()) ? m.uvs[size_t(corner.uv)].v : 0;
          }
        }
      }
      const int32_t at[3] = {p.corners[size_t(k[0])].position, p.corners[size_t(k[1])].position,
                             p.corners[size_t(k[2])].position};
      emit(v[0], at[0]), emit(v[1], at[1]), emit(v[2], at[2]);
      if (mirror)
        emit(Mirrored(v[2]), at[2]), emit(Mirrored(v[1]), at[1]), emit(Mirrored(v[0]), at[0]);
      if (doubleSided) {
        SceneVertex w[3] = {v[0], v[1], v[2]};
        if (&copy != &main) {
          for (int i = 0; i < 3; ++i)
            w[i] = CornerVertex(c, p, k[i], face, copy, deform);
        }
        emit(w[2], at[2]), emit(w[1], at[1]), emit(w[0], at[0]);
        if (mirror)
          emit(Mirrored(w[0]), at[0]), emit(Mirrored(w[1]), at[1]), emit(Mirrored(w[2]), at[2]);
      }
    }
  }
}

// Triangles a group's list will hold, for sizing the output once.
size_t TriangleBound(const Model& m, const Group& g, const std::vector<int32_t>& polygons,
                     bool forEdge) {
  size_t triangles = 0;
  for (int32_t index : polygons) {
    if (index < 0 || size_t(index) >= m.polygons.size()) continue;
    const int n = m.polygons[size_t(index)].cornerCount;
    if (n >= 3 && n <= kMaxCorners) triangles += size_t(n - 2);
  }
  if (g.mirror == 1) triangles *= 2;
  if (!forEdge && g.doubleSided == 1) triangles *= 2;
  return triangles;
}

void Assemble(const Model& model, int32_t group, const std::vector<int32_t>& polygons,
              const AssemblyOptions& options, bool forEdge, SceneVertices& out) {
  if (group < 0 || group >= model.groupCount || size_t(group) >= model.groups.size()) return;
  const Group& g = model.groups[size_t(group)];
  const GroupContext c(model, g, options, false);
  const size_t start = out.size();
  out.resize(start + TriangleBound(model, g, polygons, forEdge) * 3);
  SceneVertex* w = out.data() + start;
  ForEachGroupCorner(c, polygons, forEdge, [&w](const SceneVertex& v, int32_t) { *w++ = v; });
  out.resize(size_t(w - out.data()));
}

// ---- Buffer modes ----

MeshVertex ToMesh(const SceneVertex& v) {
  return {v.x, v.y, v.z, v.nx, v.ny, v.nz, v.diffuse, v.u, v.v};
}

SkinnedVertex ToSkinned(const SceneVertex& v, const VertexAttr& attr) {
  SkinnedVertex s{};
  s.x = v.x, s.y = v.y, s.z = v.z;
  s.weight = attr.weight;
  s.bones[0] = attr.bone;
  s.bones[1] = attr.secondByte;
  s.nx = v.nx, s.ny = v.ny, s.nz = v.nz;
  s.colour = v.diffuse;
  s.u = v.u, s.v = v.v;
  return s;
}

// Finds equal vertices by their bytes: an open-addressing table of indices into the vertices
// added so far, kept at most half full.
template <typename V>
class VertexTable {
 public:
  explicit VertexTable(size_t expected) { Reset(expected); }

  void Reset(size_t expected) {
    size_t capacity = 64;
    while (capacity < expected * 2)
      capacity <<= 1;
    slots_.assign(capacity, kEmpty);
    used_ = 0;
  }

  // The index of `v` in `vertices`, appending it when no equal vertex is there yet.
  uint32_t IndexOf(const V& v, std::vector<V>& vertices) {
    if ((used_ + 1) * 2 > slots_.size()) Grow(vertices);
    const size_t mask = slots_.size() - 1;
    for (size_t at = Hash(v) & mask;; at = (at + 1) & mask) {
      const uint32_t slot = slots_[at];
      if (slot == kEmpty) {
        slots_[at] = uint32_t(vertices.size());
        vertices.push_back(v);
        ++used_;
        return slots_[at];
      }
      if (std::memcmp(&vertices[slot], &v, sizeof v) == 0) return slot;
    }
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;

  static size_t Hash(const V& v) {
    static_assert(sizeof(V) % 4 == 0);
    uint32_t words[sizeof(V) / 4];
    std::memcpy(words, &v, sizeof v);
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (uint32_t w : words)
      h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    return size_t(h ^ (h >> 32));
  }

  void Grow(const std::vector<V>& vertices) {
    slots_.assign(slots_.size() * 2, kEmpty);
    const size_t mask = slots_.size() - 1;
    for (uint32_t i = 0; i < vertices.size(); ++i) {
      size_t at = Hash(vertices[i]) & mask;
      while (slots_[at] != kEmpty)
        at = (at + 1) & mask;
      slots_[at] = i;
    }
  }

  std::vector<uint32_t> slots_;
  size_t used_ = 0;
};

// Equal vertices share one entry: `unique` gets each distinct vertex once, `indices` one entry
// per vertex of `list`.
template <typename V>
void Deduplicate(const std::vector<V>& list, std::vector<V>& unique,
                 std::vector<uint32_t>& indices) {
  VertexTable<V> table(list.size());
  unique.reserve(list.size());
  indices.reserve(list.size());
  for (const V& v : list)
    indices.push_back(table.IndexOf(v, unique));
}

template <typename V>
std::shared_ptr<d3d::VertexBuffer> MakeVertexBuffer(d3d::Device* device, const std::vector<V>& v,
                                                    DWORD fvf) {
  std::shared_ptr<d3d::VertexBuffer> buffer;
  if (!device || v.empty() || v.size() * sizeof(V) > UINT32_MAX) return buffer;
  const UINT bytes = UINT(v.size() * sizeof(V));
  if (Failed(
          device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, &buffer))) {
    return nullptr;
  }
  void* data = nullptr;
  if (Failed(buffer->Lock(0, 0, &data, 0))) return nullptr;
  std::memcpy(data, v.data(), bytes);
  buffer->Unlock();
  return buffer;
}

std::shared_ptr<d3d::IndexBuffer> MakeIndexBuffer(d3d::Device* device,
                                                  const std::vector<uint32_t>& indices,
                                                  size_t vertexCount) {
  std::shared_ptr<d3d::IndexBuffer> buffer;
  if (!device || indices.empty() || indices.size() * 4 > UINT32_MAX) return buffer;
  const bool narrow = vertexCount <= 65536;
  const UINT bytes = UINT(indices.size() * (narrow ? 2 : 4));
  if (Failed(device->CreateIndexBuffer(bytes, D3DUSAGE_WRITEONLY,
                                       narrow ? D3DFMT_INDEX16 : D3DFMT_INDEX32, D3DPOOL_MANAGED,
                                       &buffer))) {
    return nullptr;
  }
  void* data = nullptr;
  if (Failed(buffer->Lock(0, 0, &data, 0))) return nullptr;
  if (narrow) {
    auto* out = static_cast<uint16_t*>(data);
    for (uint32_t i : indices)
      *out++ = uint16_t(i);
  } else {
    std::memcpy(data, indices.data(), bytes);
  }
  buffer->Unlock();
  return buffer;
}

// The group's triangle list of static corners, with the position index of each corner.
void StaticCorners(const Model& m, int32_t g, const std::vector<int32_t>& polygons,
                   int32_t selectedBone, std::vector<SceneVertex>& vertices,
                   std::vector<int32_t>& positions) {
  AssemblyOptions options;
  options.selectedBone = selectedBone;
  const GroupContext c(m, m.groups[size_t(g)], options, true);
  ForEachGroupCorner(c, polygons, false, [&](const SceneVertex& v, int32_t at) {
    vertices.push_back(v);
    positions.push_back(at);
  });
}

VertexAttr AttrAt(const Model& m, int32_t at) {
  return InRange(at, m.positionCount, m.attrs.size()) ? m.attrs[size_t(at)] : VertexAttr{};
}

// The export geometry of the native file, when the group holds a usable one: its vertices and
// triangles (each triangle's corners use the position index as the export vertex).
bool ExportCorners(const Model& m, const Group& g, std::vector<SceneVertex>& vertices,
                   std::vector<VertexAttr>& attrs, std::vector<uint32_t>& indices) {
  const int32_t nv = g.exportVertexCount;
  const int32_t nt = g.exportTriangleCount;
  if (nv < 1 || nt < 1 || g.exportPositions.size() < size_t(nv) ||
      g.exportTriangles.size() < size_t(nt)) {
    return false;
  }
  const float scale[4] = {m.colour.r / 255.0f, m.colour.g / 255.0f, m.colour.b / 255.0f,
                          m.colour.a / 255.0f};
  auto scaled = [&](const ColourF& c) {
    return PackColour(Trunc(c.r * scale[0]), Trunc(c.g * scale[1]), Trunc(c.b * scale[2]),
                      Trunc(c.a * scale[3]));
  };
  for (int32_t i = 0; i < nv; ++i) {
    const Vec3& p = g.exportPositions[size_t(i)];
    const Vec3 n = size_t(i) < g.exportNormals.size() ? g.exportNormals[size_t(i)] : Vec3{};
    D3DCOLOR colour = scaled(g.colour);
    if (m.vertexColoursOn == 1 && size_t(i) < g.exportColours.size())
      colour = scaled(g.exportColours[size_t(i)]);
    const Uv uv = size_t(i) < g.exportUvs.size() ? g.exportUvs[size_t(i)] : Uv{};
    vertices.push_back({p.x, p.y, p.z, n.x, n.y, n.z, colour, 0xFF000000u, uv.u, uv.v});
    attrs.push_back(size_t(i) < g.exportAttrs.size() ? g.exportAttrs[size_t(i)] : VertexAttr{});
  }
  for (int32_t t = 0; t < nt; ++t) {
    const Polygon& tri = g.exportTriangles[size_t(t)];
    const int32_t a = tri.corners[0].position, b = tri.corners[1].position,
                  c = tri.corners[2].position;
    if (a < 0 || b < 0 || c < 0 || a >= nv || b >= nv || c >= nv) continue;
    indices.insert(indices.end(), {uint32_t(a), uint32_t(b), uint32_t(c)});
    if (g.doubleSided == 1) indices.insert(indices.end(), {uint32_t(c), uint32_t(b), uint32_t(a)});
  }
  return !indices.empty();
}

void BuildMeshList(const Model& m, int32_t g, int32_t selectedBone, d3d::Device* device,
                   GroupDrawData& out) {
  std::vector<SceneVertex> corners;
  std::vector<int32_t> positions;
  StaticCorners(m, g, out.polygons, selectedBone, corners, positions);
  std::vector<MeshVertex> list;
  list.reserve(corners.size());
  for (const SceneVertex& v : corners)
    list.push_back(ToMesh(v));
  out.vertexBuffer = MakeVertexBuffer(device, list, kMeshFvf);
  out.indexCount = out.vertexBuffer ? int32_t(list.size()) : 0;
}

void BuildIndexed(const Model& m, int32_t g, int32_t selectedBone, bool fromExport, bool skinned,
                  d3d::Device* device, GroupDrawData& out) {
  std::vector<SceneVertex> corners;
  std::vector<VertexAttr> attrs;
  std::vector<uint32_t> indices;
  const Group& group = m.groups[size_t(g)];
  if (!fromExport || !ExportCorners(m, group, corners, attrs, indices)) {
    corners.clear(), attrs.clear(), indices.clear();
    std::vector<int32_t> positions;
    StaticCorners(m, g, out.polygons, selectedBone, corners, positions);
    for (int32_t at : positions)
      attrs.push_back(AttrAt(m, at));
    // Equal corners share a vertex.
    if (skinned) {
      std::vector<SkinnedVertex> list, unique;
      for (size_t i = 0; i < corners.size(); ++i)
        list.push_back(ToSkinned(corners[i], attrs[i]));
      Deduplicate(list, unique, indices);
      for (const SkinnedVertex& v : unique)
        out.highestBone = std::max({out.highestBone, int32_t(v.bones[0]), int32_t(v.bones[1])});
      out.vertexBuffer = MakeVertexBuffer(device, unique, kSkinnedFvf);
      out.vertexCount = int32_t(unique.size());
    } else {
      std::vector<MeshVertex> list, unique;
      for (const SceneVertex& v : corners)
        list.push_back(ToMesh(v));
      Deduplicate(list, unique, indices);
      out.vertexBuffer = MakeVertexBuffer(device, unique, kMeshFvf);
      out.vertexCount = int32_t(unique.size());
    }
  } else if (skinned) {
    std::vector<SkinnedVertex> vertices;
    for (size_t i = 0; i < corners.size(); ++i) {
      vertices.push_back(ToSkinned(corners[i], attrs[i]));
      out.highestBone =
          std::max({out.highestBone, int32_t(attrs[i].bone), int32_t(attrs[i].secondByte)});
    }
    out.vertexBuffer = MakeVertexBuffer(device, vertices, kSkinnedFvf);
    out.vertexCount = int32_t(vertices.size());
  } else {
    std::vector<MeshVertex> vertices;
    for (const SceneVertex& v : corners)
      vertices.push_back(ToMesh(v));
    out.vertexBuffer = MakeVertexBuffer(device, vertices, kMeshFvf);
    out.vertexCount = int32_t(vertices.size());
  }
  out.indexBuffer = MakeIndexBuffer(device, indices, size_t(out.vertexCount));
  if (!out.vertexBuffer || !out.indexBuffer) {
    out.vertexBuffer.reset(), out.indexBuffer.reset();
    out.vertexCount = 0;
    return;
  }
  out.indexCount = int32_t(indices.size());
  out.triangleCount = out.indexCount / 3;
}

void BuildSkinnedList(const Model& m, int32_t g, int32_t selectedBone, GroupDrawData& out) {
  std::vector<SceneVertex> corners;
  std::vector<int32_t> positions;
  StaticCorners(m, g, out.polygons, selectedBone, corners, positions);
  out.skinned.reserve(corners.size());
  for (size_t i = 0; i < corners.size(); ++i) {
    const VertexAttr attr = AttrAt(m, positions[i]);
    out.skinned.push_back(ToSkinned(corners[i], attr));
    out.highestBone = std::max({out.highestBone, int32_t(attr.bone), int32_t(attr.secondByte)});
  }
}

// Splits the group's list into draws of at most 65536 distinct vertices each.
void BuildChunks(const Model& m, int32_t g, int32_t selectedBone, GroupDrawData& out) {
  std::vector<SceneVertex> corners;
  std::vector<int32_t> positions;
  StaticCorners(m, g, out.polygons, selectedBone, corners, positions);
  VertexTable<MeshVertex> table(std::min<size_t>(corners.size(), 65536));
  IndexedChunk chunk;
  for (size_t t = 0; t + 3 <= corners.size(); t += 3) {
    if (chunk.vertices.size() + 3 > 65536) {
      out.chunks.push_back(std::move(chunk));
      chunk = {};
      table.Reset(std::min<size_t>(corners.size() - t, 65536));
    }
    for (size_t i = t; i < t + 3; ++i)
      chunk.indices.push_back(uint16_t(table.IndexOf(ToMesh(corners[i]), chunk.vertices)));
  }
  if (!chunk.indices.empty()) out.chunks.push_back(std::move(chunk));
}

}  // namespace

DrawStamp StampOf(const Model& model, int32_t selectedBone) {
  DrawStamp s;
  s.shadingMode = model.shadingMode;
  s.displayMode = model.displayMode;
  s.vertexColoursOn = model.vertexColoursOn;
  s.selectedBone = model.displayMode == 3 ? selectedBone : -1;
  s.colour = model.colour;
  s.polygonCount = model.polygonCount;
  s.positionCount = model.positionCount;
  s.groupCount = model.groupCount;
  return s;
}

const Pool<Vec3>& ShownPositions(const Model& model, const AssemblyOptions& options,
                                 bool doubleSidedCopy) {
  if (model.deformOn != 1) return model.positions;
  if (doubleSidedCopy && options.renderMode >= 14 && options.renderMode <= 17) {
    return model.positions;
  }
  const Pool<Vec3>& animated = options.animated ? *options.animated : model.animatedPositions;
  return animated.size() >= size_t(std::max(model.positionCount, 0)) ? animated : model.positions;
}

D3DCOLOR BoneHighlightColour(const Model& model, int32_t position, int32_t selectedBone) {
  if (model.boneCount < 2) return 0xFFC40000u;
  if (selectedBone >= 0 && InRange(position, model.positionCount, model.attrs.size())) {
    const VertexAttr& a = model.attrs[size_t(position)];
    if (a.bone == selectedBone || a.secondByte == selectedBone) {
      const float w = std::clamp(std::isfinite(a.weight) ? a.weight : 0.0f, 0.0f, 1.0f);
      return PackColour(int32_t(w * 196), 0, int32_t((1.0f - w) * 196), 255);
    }
  }
  return 0xFFC4C4C4u;
}

void AssembleGroup(const Model& model, int32_t group, const std::vector<int32_t>& polygons,
                   const AssemblyOptions& options, SceneVertices& out) {
  Assemble(model, group, polygons, options, false, out);
}

void AssembleEdge(const Model& model, int32_t group, const std::vector<int32_t>& polygons,
                  const AssemblyOptions& options, SceneVertices& out) {
  Assemble(model, group, polygons, options, true, out);
}

std::shared_ptr<ModelDrawData> BuildModelDrawData(const Model& model, int32_t selectedBone,
                                                  d3d::Device* device) {
  auto data = std::make_shared<ModelDrawData>();
  data->stamp = StampOf(model, selectedBone);
  const int32_t groupCount = std::clamp<int32_t>(model.groupCount, 0, int32_t(model.groups.size()));
  data->groups.resize(size_t(groupCount));
  const int32_t polygonCount =
      std::clamp<int32_t>(model.polygonCount, 0, int32_t(model.polygons.size()));
  for (int32_t p = 0; p < polygonCount; ++p) {
    const int32_t g = model.polygons[size_t(p)].group;
    if (g >= 0 && g < groupCount) data->groups[size_t(g)].polygons.push_back(p);
  }
  for (int32_t g = 0; g < groupCount; ++g) {
    GroupDrawData& out = data->groups[size_t(g)];
    switch (model.shadingMode) {
      case 1:
        BuildSkinnedList(model, g, selectedBone, out);
        break;
      case 2:
        BuildMeshList(model, g, selectedBone, device, out);
        break;
      case 3:
        BuildIndexed(model, g, selectedBone, false, false, device, out);
        break;
      case 4:
        BuildIndexed(model, g, selectedBone, true, false, device, out);
        break;
      case 5:
        BuildIndexed(model, g, selectedBone, true, true, device, out);
        break;
      case 9:
        BuildChunks(model, g, selectedBone, out);
        break;
      default:
        break;
    }
  }
  if (model.shadingMode == 8) {
    data->companion = std::make_unique<Model>(model);
    for (int32_t g = 0; g < groupCount; ++g) {
      Group& group = data->companion->groups[size_t(g)];
      if (group.secondMapOn && group.secondMapSlot > 0 &&
          group.secondMapSlot < model.textureSlotCount) {
        group.textureSlot = group.secondMapSlot;
      }
    }
  }
  return data;
}

}  // namespace wz
