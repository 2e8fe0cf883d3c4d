// WZP writer: the 2009000 layout, item by item, with the export geometry of every group rebuilt
// from the model for each save. The export vertices of a group are found through a hash table
// keyed by the float values of position, normal, colour and UV (-0 and +0 as one key, NaN never
// matching), which gives the vertices, their order and the triangle indices of a search of the
// group's vertices in order, in time linear in the size of the model.
// The file is written as it is made, through a small buffer, to a temporary file that is renamed
// over the target (SaveWzpToMemory builds it in memory instead). Raw float blocks are written as
// they are, so the writer needs a little-endian host.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <span>
#include <string_view>

#include "model/model_invariants.h"
#include "model/wzp.h"
#include "platform/file_io.h"

namespace wz {
namespace {

static_assert(std::endian::native == std::endian::little, "pools are written as raw LE floats");

// Appends the file's items to a buffer. With a sink, the buffer is handed to the sink whenever
// it holds kChunk bytes, and large blocks go to the sink directly, so that a file of any size
// is written through a buffer that stays small.
class ByteWriter {
 public:
  using Sink = std::function<bool(std::span<const uint8_t>)>;
  static constexpr size_t kChunk = size_t{1} << 20;

  explicit ByteWriter(std::vector<uint8_t>& out, Sink sink = nullptr)
      : out_(out), sink_(std::move(sink)) {}

  void U8(uint8_t v) { out_.push_back(v); }
  void I16(int16_t v) { Raw(&v, 2); }
  void I32(int32_t v) { Raw(&v, 4); }
  void F32(float v) { Raw(&v, 4); }
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    if (sink_ && n >= kChunk) {
      Flush();
      if (ok_) ok_ = sink_({b, n});
      return;
    }
    out_.insert(out_.end(), b, b + n);
    if (sink_ && out_.size() >= kChunk) Flush();
  }
  template <typename List>  // a Pool or a std::vector
  void Pool(const List& pool, int32_t count) {
    if (count > 0) Raw(pool.data(), sizeof(typename List::value_type) * static_cast<size_t>(count));
  }
  // A name: its length up to the terminator, then those bytes.
  void String(std::string_view s) {
    I32(static_cast<int32_t>(s.size()));
    Raw(s.data(), s.size());
  }
  void Attr(const VertexAttr& a) {
    uint8_t b[7] = {a.bone, a.secondByte, 0, 0, 0, 0, a.autoBind};
    std::memcpy(b + 2, &a.weight, 4);
    Raw(b, 7);
  }
  void Poly(const wz::Polygon& p) {
    U8(p.cornerCount);
    Raw(p.corners.data(), sizeof(Corner) * p.cornerCount);
    I32(p.group);
  }

  // Hands what the buffer holds to the sink; false once the sink failed.
  bool Flush() {
    if (sink_ && ok_ && !out_.empty()) ok_ = sink_(out_);
    if (sink_) out_.clear();
    return ok_;
  }

 private:
  std::vector<uint8_t>& out_;
  Sink sink_;
  bool ok_ = true;
};

// ---- Export geometry ----------------------------------------------------------------------------

// The bits of a float with -0 folded into +0, so that values equal as floats have equal bits.
uint32_t KeyBits(float f) {
  return std::bit_cast<uint32_t>(f + 0.0f);
}

bool HasNan(const Vec3& p, const Vec3& n, const ColourF& c, const Uv& t) {
  const float all[] = {p.x, p.y, p.z, n.x, n.y, n.z, c.r, c.g, c.b, c.a, t.u, t.v};
  for (float f : all) {
    if (f != f) return true;
  }
  return false;
}

uint64_t HashVertex(const Vec3& p, const Vec3& n, const ColourF& c, const Uv& t) {
  const float all[] = {p.x, p.y, p.z, n.x, n.y, n.z, c.r, c.g, c.b, c.a, t.u, t.v};
  uint64_t h = 0x9E3779B97F4A7C15ull;
  for (float f : all) {
    h = (h ^ KeyBits(f)) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  return h;
}

// Builds one group's export vertices and triangles. The table maps a vertex value to the first
// export vertex holding it; it never holds two equal values, so a hit is the first match.
class ExportBuilder {
 public:
  // What the last corner at a position named, and its vertex; `builder` tells whose entry it is.
  struct Memo {
    int32_t builder = -1;
    int32_t normal = 0;
    int32_t colour = 0;
    int32_t uv = 0;
    int32_t vertex = 0;
  };

  // `memo` has an entry per position and is shared by the builders of one model, each with its
  // own `id`.
  ExportBuilder(const Model& m, ExportGeometry& out, size_t maxVertices, std::vector<Memo>& memo,
                int32_t id)
      : m_(m), out_(out), memo_(memo), id_(id) {
    size_t capacity = 16;
    while (capacity < 2 * maxVertices)
      capacity *= 2;
    slots_.assign(capacity, -1);
    mask_ = capacity - 1;
  }

  int32_t VertexOf(const Corner& k) {
    // Corners that name the same entries as the last corner at their position (the same point
    // of a mesh, met again by the next polygon around it) have the same vertex.
    Memo& memo = memo_[size_t(k.position)];
    if (memo.builder == id_ && memo.normal == k.normal && memo.colour == k.colour &&
        memo.uv == k.uv) {
      return memo.vertex;
    }
    bool shared = false;
    const int32_t v = Find(k, shared);
    if (shared) memo = {id_, k.normal, k.colour, k.uv, v};
    return v;
  }

 private:
  // The first export vertex equal to the corner's value, appended when there is none; `shared`
  // tells whether later corners of equal value get it too (a value with NaN equals nothing).
  int32_t Find(const Corner& k, bool& shared) {
    const Vec3 p = m_.positions[k.position];
    const Vec3 n = m_.normalCount > 0 ? m_.normals[k.normal] : Vec3{};
    const ColourF c = m_.colourCount > 0 ? m_.colours[k.colour] : ColourF{};
    const Uv t = m_.uvCount > 0 ? m_.uvs[k.uv] : Uv{};
    // A value with NaN equals no vertex, itself included: it is appended without entering the
    // table, so that many such corners do not make one long probe chain.
    if (HasNan(p, n, c, t)) return Append(p, n, c, t, k.position);
    shared = true;
    size_t i = HashVertex(p, n, c, t) & mask_;
    for (; slots_[i] >= 0; i = (i + 1) & mask_) {
      const int32_t v = slots_[i];
      if (out_.positions[v] == p && out_.normals[v] == n && out_.colours[v] == c &&
          out_.uvs[v] == t) {
        return v;
      }
    }
    return slots_[i] = Append(p, n, c, t, k.position);
  }

  int32_t Append(const Vec3& p, const Vec3& n, const ColourF& c, const Uv& t, int32_t position) {
    out_.positions.push_back(p);
    out_.normals.push_back(n);
    out_.colours.push_back(c);
    out_.uvs.push_back(t);
    out_.attrs.push_back(m_.attrs[position]);
    return static_cast<int32_t>(out_.positions.size() - 1);
  }

  const Model& m_;
  ExportGeometry& out_;
  std::vector<Memo>& memo_;
  const int32_t id_;
  std::vector<int32_t> slots_;
  size_t mask_ = 0;
};

// The mirrored half: vertices with x of position and normal negated, then the reversed triangles
// with every index raised by V while the group has fewer than `capacity` triangles.
void Mirror(ExportGeometry& g, int32_t capacity) {
  const size_t nv = g.positions.size();
  const size_t nt = g.triangles.size();
  const int32_t offset = static_cast<int32_t>(nv);
  for (size_t i = 0; i < nv; ++i) {
    Vec3 p = g.positions[i];
    Vec3 n = g.normals[i];
    p.x *= -1.0f;
    n.x *= -1.0f;
    g.positions.push_back(p);
    g.normals.push_back(n);
    g.colours.push_back(g.colours[i]);
    g.uvs.push_back(g.uvs[i]);
    g.attrs.push_back(VertexAttr{});
  }
  for (size_t t = 0; t < nt && static_cast<int64_t>(g.triangles.size()) < capacity; ++t) {
    const wz::Polygon& src = g.triangles[t];
    wz::Polygon copy;
    copy.cornerCount = src.cornerCount;
    copy.group = src.group;
    for (int c = 0; c < src.cornerCount; ++c) {
      const Corner& k = src.corners[src.cornerCount - 1 - c];
      copy.corners[c] = {k.position + offset, k.normal + offset, k.colour + offset, k.uv + offset};
    }
    g.triangles.push_back(copy);
  }
}

// ---- The file -----------------------------------------------------------------------------------

void WriteGroup(ByteWriter& w, const Group& g, const ExportGeometry& e) {
  w.String(g.name.View());
  w.I32(g.textureSlot);
  w.F32(g.colour.r);
  w.F32(g.colour.g);
  w.F32(g.colour.b);
  w.F32(g.colour.a);
  w.I32(g.shading);
  w.U8(g.parameterByte);
  for (float f : g.parameterFloats)
    w.F32(f);
  w.I32(g.doubleSided);
  w.I32(g.parameter);
  w.I32(g.mirror);
  w.I32(g.specularOn);
  for (int32_t s : g.specularColour)
    w.I32(s);

  w.U8(g.switchA);
  w.I16(g.switchAValue);
  w.U8(g.switchB);
  w.I16(g.switchBValue);
  w.U8(g.switchC);
  w.F32(g.switchCValue);
  w.U8(g.switchD);
  w.F32(g.switchDValue);
  w.U8(g.bumpMapOn);
  w.I16(g.bumpMapSlot);
  w.U8(g.secondMapOn);
  w.I16(g.secondMapSlot);
  w.F32(g.mapValue);
  w.U8(g.reflectionOn);
  w.I16(g.reflectionValue);
  w.U8(g.reflectionByte);
  w.F32(g.reflectivity);

  const int32_t nv = static_cast<int32_t>(e.positions.size());
  w.I32(nv);
  w.Pool(e.positions, nv);
  w.Pool(e.normals, nv);
  w.Pool(e.colours, nv);
  w.Pool(e.uvs, nv);
  for (const VertexAttr& a : e.attrs)
    w.Attr(a);
  w.I32(static_cast<int32_t>(e.triangles.size()));
  for (const wz::Polygon& t : e.triangles)
    w.Poly(t);
}

void WriteModel(ByteWriter& w, const Model& m, const std::vector<ExportGeometry>& exports) {
  w.Raw("WZP", 3);
  w.I32(kWzpVersion2009);
  w.I32(m.positionCount);
  w.I32(m.normalCount);
  w.I32(m.colourCount);
  w.I32(m.uvCount);
  w.Pool(m.positions, m.positionCount);
  w.Pool(m.normals, m.normalCount);
  w.Pool(m.colours, m.colourCount);
  w.Pool(m.uvs, m.uvCount);
  for (int32_t i = 0; i < m.positionCount; ++i)
    w.Attr(m.attrs[i]);

  w.I32(m.polygonCount);
  for (int32_t i = 0; i < m.polygonCount; ++i)
    w.Poly(m.polygons[i]);

  // The reader takes a name for every slot whose state is not 0, so every such slot gets one
  // (not only state 1): a slot of another state would otherwise shift the rest of the file.
  w.I16(m.textureSlotCount);
  for (int32_t i = 0; i < m.textureSlotCount; ++i) {
    const TextureSlot& slot = m.textureSlots[i];
    w.I32(slot.state);
    if (slot.state != 0) w.String(slot.fileName.View());
  }
  w.I16(m.modelMapSlot);
  w.F32(m.modelScale);

  w.I32(m.groupCount);
  for (int32_t i = 0; i < m.groupCount; ++i)
    WriteGroup(w, m.groups[i], exports[i]);

  w.I32(m.drawingSwitch);
  w.I32(m.vertexColoursOn);
  w.I32(m.edgePassOn);
  w.F32(m.edgeWidth);
  w.I16(m.drawingParameter);

  w.I32(static_cast<int32_t>(m.motions.size()));
  for (const Motion& motion : m.motions) {
    w.I32(1);
    for (int32_t g = 0; g < m.groupCount; ++g) {
      // Groups past the 256 tracks of a motion have none: no keys.
      if (g >= kMaxGroupTracks) {
        w.I32(0);
        continue;
      }
      const GroupTrack& track = motion.tracks[g];
      w.I32(track.keyCount);
      for (int32_t k = 0; k < track.keyCount; ++k) {
        const GroupKey& key = track.keys[k];
        w.I32(key.value0);
        w.I16(key.value1);
        w.I16(key.textureSlot);
        w.I32(key.value2);
        w.Raw(key.words.data(), 12);
      }
    }
    w.String(motion.name.View());
    w.I32(motion.value);
  }

  w.I32(m.boneCount);
  for (int32_t k = 0; k < m.boneCount; ++k) {
    const Bone& bone = m.bones[k];
    w.String(bone.name.View());
    w.I32(bone.parent);
    const float rest[] = {bone.restPosition.x, bone.restPosition.y, bone.restPosition.z,
                          bone.restRotation.x, bone.restRotation.y, bone.restRotation.z,
                          bone.restRotation.w, bone.restScale.x,    bone.restScale.y,
                          bone.restScale.z};
    w.Raw(rest, sizeof rest);
    for (size_t mi = 0; mi < m.motions.size(); ++mi) {
      const std::vector<BoneKey>& keys = bone.keyLists[mi];
      w.I32(static_cast<int32_t>(keys.size()));
      for (const BoneKey& key : keys) {
        const float values[] = {key.position.x, key.position.y, key.position.z, key.rotation.x,
                                key.rotation.y, key.rotation.z, key.rotation.w, key.scale.x,
                                key.scale.y,    key.scale.z};
        w.I32(key.frame);
        w.Raw(values, sizeof values);
      }
    }
  }

  for (int32_t i = 0; i < m.groupCount; ++i) {
    w.U8(m.groups[i].trailingSwitch);
    w.I16(m.groups[i].trailingValue);
  }
  for (const Motion& motion : m.motions) {
    w.U8(motion.motionByte);
    w.I16(motion.motionShort);
  }
  for (int32_t i = 0; i < m.groupCount; ++i) {
    const Group& g = m.groups[i];
    w.U8(g.uvScrollOn);
    if (g.uvScrollOn == 1) {
      w.F32(g.uvScroll[0]);
      w.F32(g.uvScroll[1]);
    }
  }
}

}  // namespace

std::vector<ExportGeometry> BuildExportGeometry(const Model& m, int32_t polygonCapacity) {
  const int32_t groups = std::max(m.groupCount, 0);
  // The faces of each group in polygon order, by a counting sort on the group index.
  std::vector<int32_t> start(static_cast<size_t>(groups) + 1, 0);
  auto isFace = [groups](const wz::Polygon& p) {
    return p.cornerCount >= 3 && p.cornerCount <= kMaxCorners && p.group >= 0 && p.group < groups;
  };
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    if (isFace(m.polygons[i])) ++start[m.polygons[i].group + 1];
  }
  for (int32_t j = 0; j < groups; ++j)
    start[j + 1] += start[j];
  std::vector<int32_t> faces(static_cast<size_t>(start[groups]));
  std::vector<int32_t> next(start.begin(), start.end() - 1);
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    if (isFace(m.polygons[i])) faces[next[m.polygons[i].group]++] = i;
  }

  std::vector<ExportGeometry> result(static_cast<size_t>(groups));
  std::vector<ExportBuilder::Memo> memo(static_cast<size_t>(std::max(m.positionCount, 0)));
  for (int32_t j = 0; j < groups; ++j) {
    ExportGeometry& g = result[j];
    size_t corners = 0;
    for (int32_t f = start[j]; f < start[j + 1]; ++f)
      corners += 3 * (m.polygons[faces[f]].cornerCount - 2);
    g.triangles.reserve(corners / 3 * (m.groups[j].mirror != 0 ? 2 : 1));
    ExportBuilder builder(m, g, corners, memo, j);
    for (int32_t f = start[j]; f < start[j + 1]; ++f) {
      const wz::Polygon& p = m.polygons[faces[f]];
      for (int l = 0; l + 2 < p.cornerCount; ++l) {
        wz::Polygon t;
        t.cornerCount = 3;
        t.group = j;
        t.corners[0].position = builder.VertexOf(p.corners[0]);
        t.corners[1].position = builder.VertexOf(p.corners[l + 1]);
        t.corners[2].position = builder.VertexOf(p.corners[l + 2]);
        g.triangles.push_back(t);
      }
    }
    if (m.groups[j].mirror != 0) Mirror(g, polygonCapacity);
  }
  return result;
}

namespace {

// The export geometry of a model that may be saved; false (refused through the host) otherwise.
bool PrepareSave(ModelHost& host, const Model& model, const std::string& path,
                 std::vector<ExportGeometry>& exports) {
  if (auto fault = CheckModelInvariants(model)) {
    host.Refuse(path, std::string("the model cannot be saved: ") + ModelFaultName(fault->fault) +
                          ": " + fault->message);
    return false;
  }
  exports = BuildExportGeometry(model, PolygonLimit(host, model));
  return true;
}

}  // namespace

bool SaveWzpToMemory(ModelHost& host, const Model& model, const std::string& path,
                     std::vector<uint8_t>& out) {
  out.clear();
  std::vector<ExportGeometry> exports;
  if (!PrepareSave(host, model, path, exports)) return false;
  size_t estimate = 256 + size_t(model.positionCount) * 55 + size_t(model.polygonCount) * 69;
  for (const ExportGeometry& e : exports)
    estimate += 256 + e.positions.size() * 55 + e.triangles.size() * 57;
  out.reserve(estimate);
  ByteWriter w(out);
  WriteModel(w, model, exports);
  return true;
}

void StoreExportGeometry(Model& model, std::vector<ExportGeometry>&& exports) {
  for (size_t j = 0; j < exports.size() && j < model.groups.size(); ++j) {
    ExportGeometry& e = exports[j];
    Group& g = model.groups[j];
    g.exportVertexCount = static_cast<int32_t>(e.positions.size());
    g.exportTriangleCount = static_cast<int32_t>(e.triangles.size());
    g.exportScratchA.assign(e.positions.size(), Vec3{});
    g.exportScratchB.assign(e.positions.size(), Vec3{});
    g.exportPositions = std::move(e.positions);
    g.exportNormals = std::move(e.normals);
    g.exportColours = std::move(e.colours);
    g.exportUvs = std::move(e.uvs);
    g.exportAttrs = std::move(e.attrs);
    g.exportTriangles = std::move(e.triangles);
  }
}

bool SaveWzpUpdating(ModelHost& host, Model& model, const std::string& path) {
  std::vector<uint8_t> bytes;
  if (auto fault = CheckModelInvariants(model)) {
    host.Refuse(path, std::string("the model cannot be saved: ") + ModelFaultName(fault->fault) +
                          ": " + fault->message);
    return false;
  }
  std::vector<ExportGeometry> exports = BuildExportGeometry(model, PolygonLimit(host, model));
  ByteWriter w(bytes);
  WriteModel(w, model, exports);
  // The rebuilt geometry stays with the model whether or not the file can be written.
  StoreExportGeometry(model, std::move(exports));
  if (!platform::WriteFileAtomically(path, bytes)) {
    host.Refuse(path, "the file cannot be written");
    return false;
  }
  model.version = kWzpVersion2009;
  return true;
}

bool SaveWzp(ModelHost& host, const Model& model, const std::string& path) {
  std::vector<ExportGeometry> exports;
  if (!PrepareSave(host, model, path, exports)) return false;
  // Written as it is made, through a small buffer: the file is never whole in memory.
  platform::AtomicFileWriter file(path);
  std::vector<uint8_t> buffer;
  buffer.reserve(2 * ByteWriter::kChunk);
  ByteWriter w(buffer, [&file](std::span<const uint8_t> bytes) { return file.Write(bytes); });
  WriteModel(w, model, exports);
  if (!w.Flush() || !file.Commit()) {
    host.Refuse(path, "the file cannot be written");
    return false;
  }
  return true;
}

}  // namespace wz
