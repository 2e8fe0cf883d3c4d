// WZP reader: versions 2004002, 2005000, 2006000, 2008000 and 2009000, item by item in file
// order, each version reading only the items it has and the older encodings of the items whose
// width changed (16-bit counts and corners, 12-byte position attributes, rest-key counts in
// place of bone blocks).
// The file is parsed through ByteCursor into a scratch copy of the model that shares nothing
// large with it: the pools are parsed into fresh arrays of exactly the read counts and copied
// into the model's own (preallocated) pools only when the whole file has been read and the
// result meets the model invariants. Pools smaller than a count are replaced by larger ones.
// Raw float blocks are copied as they are, so the reader needs a little-endian host.
#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string_view>

#include "formats/byte_cursor.h"
#include "model/model_invariants.h"
#include "model/normals.h"
#include "model/wzp.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

static_assert(std::endian::native == std::endian::little, "pools are read as raw LE floats");
static_assert(sizeof(Vec3) == 12 && sizeof(ColourF) == 16 && sizeof(Uv) == 8);

bool IsReadVersion(int32_t v) {
  return v == kWzpVersion2004 || v == kWzpVersion2005 || v == kWzpVersion2006 ||
         v == kWzpVersion2008 || v == kWzpVersion2009;
}

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

float F32(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);
  return f;
}
int32_t I32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
int16_t I16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
uint16_t U16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// The pools that are copied neither into nor out of the scratch model: moved aside while the
// rest of the model is copied, and filled in place on commit.
struct LargePools {
  Pool<Vec3> positions;
  Pool<Vec3> normals;
  Pool<ColourF> colours;
  Pool<Uv> uvs;
  Pool<VertexAttr> attrs;
  Pool<Polygon> polygons;
  Pool<Vec3> animatedPositions;
  Pool<Vec3> smoothNormals;

  void SwapWith(Model& m) {
    positions.swap(m.positions);
    normals.swap(m.normals);
    colours.swap(m.colours);
    uvs.swap(m.uvs);
    attrs.swap(m.attrs);
    polygons.swap(m.polygons);
    animatedPositions.swap(m.animatedPositions);
    smoothNormals.swap(m.smoothNormals);
  }
};

// A copy of `model` without its large pools (the scratch model starts with none).
Model CopyWithoutPools(Model& model) {
  struct Restore {
    Model& m;
    LargePools pools;
    ~Restore() { pools.SwapWith(m); }
  } aside{model, {}};
  aside.pools.SwapWith(model);
  return model;
}

// Reads one version's layout into a model whose large pools are empty.
class WzpParser {
 public:
  WzpParser(std::span<const uint8_t> bytes, int32_t version, Model& m, bool toonLoaded)
      : c_(bytes), v_(version), m_(m), toon_(toonLoaded) {}

  // True when the whole layout was read; otherwise reason() says why not.
  bool Parse() {
    return Header() && Pools() && Polygons() && TextureSlots() && ModelValues() && Groups() &&
           DrawingValues() && Motions() && Bones() && Trailers() && (c_.ok() || Truncated());
  }
  const std::string& reason() const { return reason_; }

 private:
  bool Fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }
  bool Truncated() { return Fail("the file ends before its counts say"); }
  // Checks the cursor at a record boundary.
  bool Ok() { return c_.ok() || Truncated(); }
  // The start of the next n bytes, which the cursor skips; null (and a failed cursor) when
  // fewer remain.
  const uint8_t* Take(uint64_t n) {
    static const uint8_t kNothing = 0;
    if (!c_.ok() || n > c_.remaining()) {
      c_.fail();
      return nullptr;
    }
    if (n == 0) return &kNothing;
    const uint8_t* p = c_.rest().data();
    c_.skip(n);
    return p;
  }
  // A count read from the file that must be >= 0 and leave room for `count` records of at
  // least `minBytes` each.
  bool CheckCount(int64_t count, uint64_t minBytes, const char* what) {
    if (!c_.ok()) return Truncated();
    if (count < 0)
      return Fail(Format("%s is negative (%lld)", what, static_cast<long long>(count)));
    if (!c_.canHold(static_cast<uint64_t>(count), minBytes)) return Truncated();
    return true;
  }
  bool ReadString(Name256& field, const char* what) {
    const int32_t length = c_.i32();
    if (!c_.ok()) return Truncated();
    if (length < 0 || length > static_cast<int32_t>(Name256::kMaxLength)) {
      return Fail(Format("%s of %d bytes", what, length));
    }
    const uint8_t* p = Take(static_cast<uint64_t>(length));
    if (!p && length > 0) return Truncated();
    field.Set(std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(length)));
    return true;
  }
  template <typename List>  // a Pool or a std::vector
  bool ReadRaw(List& pool, int32_t count) {
    const uint64_t bytes = uint64_t(count) * sizeof(typename List::value_type);
    if (bytes > c_.remaining()) return Truncated();
    GrowTo(pool, static_cast<size_t>(count));
    return c_.read(pool.data(), bytes) || Truncated();
  }

  bool Header() {
    c_.skip(3);  // "WZP", not compared
    m_.version = c_.i32();
    return Ok();
  }

  bool Pools() {
    int32_t counts[4];
    for (int32_t& n : counts)
      n = v_ <= kWzpVersion2005 ? c_.u16() : c_.i32();
    if (!Ok()) return false;
    for (int32_t n : counts) {
      if (n < 0) return Fail(Format("a pool count is negative (%d)", n));
    }
    m_.positionCount = counts[0];
    m_.normalCount = counts[1];
    m_.colourCount = counts[2];
    m_.uvCount = counts[3];
    if (!ReadRaw(m_.positions, counts[0]) || !ReadRaw(m_.normals, counts[1]) ||
        !ReadRaw(m_.colours, counts[2]) || !ReadRaw(m_.uvs, counts[3])) {
      return false;
    }
    const bool wide = v_ <= kWzpVersion2006;  // i16, i16, f32, i32
    const uint64_t size = wide ? 12 : 7;
    const int32_t n = counts[0];
    const uint8_t* p = Take(size * uint64_t(n));
    if (!p) return Truncated();
    GrowTo(m_.attrs, static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i, p += size) {
      VertexAttr& a = m_.attrs[i];
      if (wide) {
        a.bone = p[0];  // low bytes of the two i16
        a.secondByte = p[2];
        a.weight = F32(p + 4);
        a.autoBind = I32(p + 8) != 0 ? 1 : 0;
      } else {
        a.bone = p[0];
        a.secondByte = p[1];
        a.weight = F32(p + 2);
        a.autoBind = p[6];
      }
    }
    return true;
  }

  // One polygon in the current encoding (D for 2004002 and 2005000); `group` is -1 for a model
  // polygon and the group's index for an export triangle.
  bool ReadPolygon(Polygon& poly, int32_t group, int32_t index) {
    const bool narrow = v_ <= kWzpVersion2005;
    if (narrow) c_.skip(4);
    const uint8_t n = c_.u8();
    if (!c_.ok()) return Truncated();
    if (n < 1 || n > kMaxCorners) {
      return Fail(group < 0
                      ? Format("polygon %d has %d corners", index, n)
                      : Format("group %d export triangle %d has %d corners", group, index, n));
    }
    const uint8_t* p = Take((narrow ? 8u : 16u) * n + 4u);
    if (!p) return Truncated();
    poly = Polygon{};
    poly.cornerCount = n;
    for (int k = 0; k < n; ++k) {
      Corner& corner = poly.corners[k];
      if (narrow) {
        corner = {U16(p), U16(p + 2), U16(p + 4), U16(p + 6)};
        p += 8;
      } else {
        corner = {I32(p), I32(p + 4), I32(p + 8), I32(p + 12)};
        p += 16;
      }
    }
    poly.group = I32(p);
    return true;
  }
  uint64_t MinPolygonBytes() const { return v_ <= kWzpVersion2005 ? 4 + 1 + 8 + 4 : 1 + 16 + 4; }

  bool Polygons() {
    const int32_t n = v_ <= kWzpVersion2008 ? c_.u16() : c_.i32();
    if (!CheckCount(n, MinPolygonBytes(), "the polygon count")) return false;
    m_.polygons.assign(static_cast<size_t>(n), Polygon{});
    m_.polygonCount = n;
    for (int32_t i = 0; i < n; ++i) {
      if (!ReadPolygon(m_.polygons[i], -1, i)) return false;
    }
    return true;
  }

  bool TextureSlots() {
    const int16_t n = c_.i16();
    if (!CheckCount(n, 4, "the texture slot count")) return false;
    m_.textureSlots.resize(static_cast<size_t>(n));  // existing slots keep their contents
    m_.textureSlotCount = n;
    for (TextureSlot& slot : m_.textureSlots) {
      slot.state = c_.i32();
      if (!Ok()) return false;
      if (slot.state != 0 && !ReadString(slot.fileName, "a texture file name")) return false;
    }
    return true;
  }

  bool ModelValues() {
    if (v_ < kWzpVersion2006) return true;
    m_.modelMapSlot = c_.i16();
    m_.modelScale = c_.f32();
    if (!Ok()) return false;
    if (v_ <= kWzpVersion2008 && m_.modelMapSlot > 0) SetShadingMode(m_, 8, toon_);
    return true;
  }

  uint64_t MinGroupBytes() const {
    uint64_t size = 4 + 24 + 1 + 44;
    if (v_ >= kWzpVersion2008) size += 34 + 3;
    if (v_ >= kWzpVersion2009) size += 4 + 4 + 1;
    return size;
  }

  bool Groups() {
    const int32_t n = c_.i32();
    if (!CheckCount(n, MinGroupBytes(), "the group count")) return false;
    m_.groups.resize(static_cast<size_t>(n));  // existing groups keep what is not read
    m_.groupCount = n;
    for (int32_t i = 0; i < n; ++i) {
      if (!ReadGroup(m_.groups[i], i)) return false;
    }
    return true;
  }

  bool ReadGroup(Group& g, int32_t index) {
    if (!ReadString(g.name, "a group name")) return false;
    g.textureSlot = c_.i32();
    g.colour = {c_.f32(), c_.f32(), c_.f32(), c_.f32()};
    g.shading = c_.i32();
    g.parameterByte = c_.u8();
    for (float& f : g.parameterFloats)
      f = c_.f32();
    g.doubleSided = c_.i32();
    g.parameter = c_.i32();
    g.mirror = c_.i32();
    g.specularOn = c_.i32();
    for (int32_t& s : g.specularColour)
      s = c_.i32();
    if (v_ >= kWzpVersion2008) {
      g.switchA = c_.u8();
      g.switchAValue = c_.i16();
      g.switchB = c_.u8();
      g.switchBValue = c_.i16();
      g.switchC = c_.u8();
      g.switchCValue = c_.f32();
      g.switchD = c_.u8();
      g.switchDValue = c_.f32();
      g.bumpMapOn = c_.u8();
      g.bumpMapSlot = c_.i16();
      g.secondMapOn = c_.u8();
      g.secondMapSlot = c_.i16();
      g.mapValue = c_.f32();
      g.reflectionOn = c_.u8();
      g.reflectionValue = c_.i16();
      g.reflectionByte = c_.u8();
      g.reflectivity = c_.f32();
    }
    if (!Ok()) return false;
    return v_ < kWzpVersion2009 || ReadExportGeometry(g, index);
  }

  bool ReadExportGeometry(Group& g, int32_t index) {
    const int32_t nv = c_.i32();
    if (!CheckCount(nv, 12 + 12 + 16 + 8 + 7, "an export vertex count")) return false;
    g.exportVertexCount = nv;
    if (!ReadRaw(g.exportPositions, nv) || !ReadRaw(g.exportNormals, nv) ||
        !ReadRaw(g.exportColours, nv) || !ReadRaw(g.exportUvs, nv)) {
      return false;
    }
    const uint8_t* p = Take(7 * uint64_t(nv));
    if (!p) return Truncated();
    GrowTo(g.exportAttrs, static_cast<size_t>(nv));
    for (int32_t i = 0; i < nv; ++i, p += 7)
      g.exportAttrs[i] = {p[0], p[1], F32(p + 2), p[6]};
    const int32_t nt = c_.i32();
    if (!CheckCount(nt, MinPolygonBytes(), "an export triangle count")) return false;
    GrowTo(g.exportTriangles, static_cast<size_t>(nt));
    g.exportTriangleCount = nt;
    for (int32_t t = 0; t < nt; ++t) {
      if (!ReadPolygon(g.exportTriangles[t], index, t)) return false;
    }
    GrowTo(g.exportScratchA, static_cast<size_t>(nv));
    GrowTo(g.exportScratchB, static_cast<size_t>(nv));
    return true;
  }

  bool DrawingValues() {
    m_.drawingSwitch = c_.i32();
    m_.vertexColoursOn = c_.i32();
    m_.edgePassOn = c_.i32();
    m_.edgeWidth = c_.f32();
    if (v_ >= kWzpVersion2006) m_.drawingParameter = c_.i16();
    return Ok();
  }

  bool Motions() {
    if (v_ < kWzpVersion2005) return true;
    const int32_t n = c_.i32();
    const bool tracks = v_ >= kWzpVersion2006;
    const uint64_t minBytes = 12 + (tracks ? 4 * uint64_t(m_.groupCount) : 0);
    if (!Ok()) return false;
    if (n > kWzpMaxMotions) return Fail(Format("%d motions (at most %d)", n, kWzpMaxMotions));
    if (!CheckCount(n, minBytes, "the motion count")) return false;
    if (m_.motions.size() > size_t(n)) m_.motions.resize(size_t(n));
    m_.motions.reserve(size_t(n));
    for (int32_t i = 0; i < n; ++i) {
      if (size_t(i) == m_.motions.size()) m_.motions.push_back(NewMotion());
      Motion& motion = m_.motions[i];
      c_.skip(4);  // the leading value, always 1
      for (int32_t g = 0; tracks && g < m_.groupCount; ++g) {
        if (!ReadTrack(motion, i, g)) return false;
      }
      if (!ReadString(motion.name, "a motion name")) return false;
      motion.value = c_.i32();
      if (!Ok()) return false;
    }
    return true;
  }

  bool ReadTrack(Motion& m, int32_t motion, int32_t group) {
    const int32_t n = c_.i32();
    if (!Ok()) return false;
    // A motion holds tracks for groups 0 to 255; a group past them can only have no keys.
    if (group >= kMaxGroupTracks) {
      if (n == 0) return true;
      return Fail(Format("motion %d track %d has %d keys, but a motion holds tracks for %d groups",
                         motion, group, n, kMaxGroupTracks));
    }
    GroupTrack& track = m.tracks[group];
    if (n < 0 || n > kMaxTrackKeys) {
      return Fail(
          Format("motion %d track %d has %d keys (at most %d)", motion, group, n, kMaxTrackKeys));
    }
    const uint8_t* p = Take(24 * uint64_t(n));
    if (!p) return Truncated();
    track.keyCount = n;
    for (int32_t k = 0; k < n; ++k, p += 24) {
      GroupKey& key = track.keys[k];
      key.value0 = I32(p);
      key.value1 = I16(p + 4);
      key.textureSlot = I16(p + 6);
      key.value2 = I32(p + 8);
      std::memcpy(key.words.data(), p + 12, 12);
    }
    return true;
  }

  bool Bones() {
    const int32_t n = c_.i32();
    const bool restCounts = v_ == kWzpVersion2004;
    const uint64_t motions = m_.motions.size();
    const uint64_t minBytes = restCounts ? 4 : 4 + 4 + 40 + 4 * motions;
    if (!Ok()) return false;
    if (n > kMaxBones) return Fail(Format("%d bones (at most %d)", n, kMaxBones));
    if (!CheckCount(n, minBytes, "the bone count")) return false;
    m_.boneCount = n;
    for (int32_t k = 0; k < n; ++k) {
      if (!(restCounts ? ReadRestKeyCount(m_.bones[k], k) : ReadBone(m_.bones[k]))) return false;
    }
    return true;
  }

  bool ReadRestKeyCount(Bone& bone, int32_t index) {
    const int32_t keys = c_.i32();
    if (!Ok()) return false;
    if (keys < 0 || keys > kWzpMaxRestKeys) {
      return Fail(Format("bone %d has %d rest keys (at most %d)", index, keys, kWzpMaxRestKeys));
    }
    restKeys_ += keys;
    const int64_t allowed = kWzpRestKeysBase + int64_t(c_.size()) / kWzpBytesPerRestKey;
    if (restKeys_ > allowed) {
      return Fail(Format("%lld rest keys: a file of %zu bytes holds at most %lld",
                         static_cast<long long>(restKeys_), c_.size(),
                         static_cast<long long>(allowed)));
    }
    bone.keyLists.assign(1, std::vector<BoneKey>(static_cast<size_t>(keys), kRestKey));
    return true;
  }

  bool ReadBone(Bone& bone) {
    if (!ReadString(bone.name, "a bone name")) return false;
    bone.parent = c_.i32();
    bone.restPosition = {c_.f32(), c_.f32(), c_.f32()};
    bone.restRotation = {c_.f32(), c_.f32(), c_.f32(), c_.f32()};
    bone.restScale = {c_.f32(), c_.f32(), c_.f32()};
    if (!Ok()) return false;
    bone.keyLists.resize(m_.motions.size());
    for (std::vector<BoneKey>& list : bone.keyLists) {
      const int32_t n = c_.i32();
      if (!CheckCount(n, 44, "a bone key count")) return false;
      const uint8_t* p = Take(44 * uint64_t(n));
      list.assign(static_cast<size_t>(n), kRestKey);
      for (BoneKey& key : list) {
        key.frame = I32(p);
        key.position = {F32(p + 4), F32(p + 8), F32(p + 12)};
        key.rotation = {F32(p + 16), F32(p + 20), F32(p + 24), F32(p + 28)};
        key.scale = {F32(p + 32), F32(p + 36), F32(p + 40)};
        p += 44;
      }
    }
    return true;
  }

  bool Trailers() {
    if (v_ < kWzpVersion2008) return true;
    for (int32_t i = 0; i < m_.groupCount; ++i) {
      m_.groups[i].trailingSwitch = c_.u8();
      m_.groups[i].trailingValue = c_.i16();
    }
    for (Motion& motion : m_.motions) {
      motion.motionByte = c_.u8();
      motion.motionShort = c_.i16();
    }
    if (v_ < kWzpVersion2009) return Ok();
    for (int32_t i = 0; i < m_.groupCount; ++i) {
      Group& g = m_.groups[i];
      g.uvScrollOn = c_.u8();
      if (g.uvScrollOn == 1) g.uvScroll = {c_.f32(), c_.f32()};
    }
    return Ok();
  }

  ByteCursor c_;
  int64_t restKeys_ = 0;  // of the bones read so far (2004002)
  const int32_t v_;
  Model& m_;
  const bool toon_;
  std::string reason_;
};

// Lends a pool to another holder for a while: swapped there now and back at the end of the
// scope, unless kept.
class Lend {
 public:
  Lend(Pool<Vec3>& owner, Pool<Vec3>& borrower, bool on)
      : owner_(owner), borrower_(borrower), on_(on) {
    if (on_) owner_.swap(borrower_);
  }
  ~Lend() {
    if (on_) owner_.swap(borrower_);
  }
  Lend(const Lend&) = delete;
  Lend& operator=(const Lend&) = delete;
  void Keep() { on_ = false; }

 private:
  Pool<Vec3>& owner_;
  Pool<Vec3>& borrower_;
  bool on_;
};

// Into `mine` go the first `count` entries of `read` when `mine` is large enough (a preallocated
// pool keeps its capacity); then `read` holds the pool to publish.
template <typename T>
void KeepOrTake(Pool<T>& mine, Pool<T>& read, int32_t count) {
  if (mine.size() < static_cast<size_t>(count)) return;
  std::copy_n(read.begin(), count, mine.begin());
  read.swap(mine);
}

// Parses `bytes` and, when the file is sound, publishes the result into `model`. Returns the
// reason of a refusal, or an empty string.
std::string ReadInto(Model& model, std::span<const uint8_t> bytes, int32_t version, bool toon) {
  Model scratch = CopyWithoutPools(model);
  WzpParser parser(bytes, version, scratch, toon);
  if (!parser.Parse()) return parser.reason();

  // The runtime pools parallel to the positions: the model's own when large enough, lent to
  // the scratch model for the check and returned unless it is published; new ones otherwise.
  // Everything that allocates comes first, so that a failure leaves the model as it was.
  const size_t n = static_cast<size_t>(scratch.positionCount);
  const bool ownAnimated = model.animatedPositions.size() >= n;
  const bool ownSmooth = model.smoothNormals.size() >= n;
  if (!ownAnimated) scratch.animatedPositions.assign(n, Vec3{});
  if (!ownSmooth) scratch.smoothNormals.assign(n, Vec3{});
  Lend animated(model.animatedPositions, scratch.animatedPositions, ownAnimated);
  Lend smooth(model.smoothNormals, scratch.smoothNormals, ownSmooth);
  if (auto fault = CheckModelInvariants(scratch)) {
    return std::string(ModelFaultName(fault->fault)) + ": " + fault->message;
  }
  animated.Keep();
  smooth.Keep();

  KeepOrTake(model.positions, scratch.positions, scratch.positionCount);
  KeepOrTake(model.normals, scratch.normals, scratch.normalCount);
  KeepOrTake(model.colours, scratch.colours, scratch.colourCount);
  KeepOrTake(model.uvs, scratch.uvs, scratch.uvCount);
  KeepOrTake(model.attrs, scratch.attrs, scratch.positionCount);
  model = std::move(scratch);
  return {};
}

// The steps after the read: they run for every file of a version in range, read or refused.
void Complete(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  model.fileName.Set(path);
  model.displayMode = 2;
  DeriveNormals(model);
  // The runtime's texture lists follow the slot count when the library syncs the runtime.
  for (int32_t i = 0; i < model.textureSlotCount; ++i) {
    TextureSlot& slot = model.textureSlots[i];
    if (slot.state != 1) continue;
    std::string full(slot.directory.View());
    full += '\\';
    full += slot.fileName.View();
    slot.fullPath.Set(full);
    std::string load(model.directory.View());
    load += '\\';
    load += slot.fullPath.View();
    host.LoadModelTexture(model, i, load);
  }
  if (version < kWzpVersion2008) {
    for (int32_t i = 0; i < model.groupCount; ++i)
      model.groups[i].switchA = 1;
  }
  model.postLoadMark = 1;
  host.MotionSet(model, 0, 0.0f);
}

// Reads `bytes` (none when the file could not be read) as `version`.
int Load(ModelHost& host, Model& model, const std::string& path,
         const std::span<const uint8_t>* bytes, int32_t version) {
  if (version < kWzpVersion2004) {
    host.ShowMessage(std::string(WZ_TEXT("WZP 2004 以上に対応しています。\n\n")) + path);
    host.Refuse(path, Format("version %d is older than %d", version, kWzpVersion2004));
    return 0;
  }
  if (version > kWzpVersion2009) {
    host.ShowMessage(
        std::string(WZ_TEXT("WZP形式のバージョンが新しいので\n読み込むことができません。\n"
                            "最新版へバージョンアップして下さい。\n\n")) +
        path);
    host.Refuse(path, Format("version %d is newer than %d", version, kWzpVersion2009));
    return 0;
  }
  int result = 1;
  if (IsReadVersion(version)) {
    std::string reason;
    if (!bytes) {
      reason = "the file cannot be read";
    } else {
      try {
        reason = ReadInto(model, *bytes, version, host.ToonLoaded());
      } catch (const std::bad_alloc&) {
        reason = "not enough memory for its counts";
      }
    }
    if (!reason.empty()) {
      host.Refuse(path, reason);
      result = 0;
    }
  }
  Complete(host, model, path, version);
  return result;
}

}  // namespace

int LoadWzpFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t version) {
  return Load(host, model, path, &bytes, version);
}

int LoadWzp(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  std::vector<uint8_t> data;
  if (IsReadVersion(version) && !platform::ReadFileBytes(path, data)) {
    return Load(host, model, path, nullptr, version);
  }
  const std::span<const uint8_t> bytes(data);
  return Load(host, model, path, &bytes, version);
}

}  // namespace wz
