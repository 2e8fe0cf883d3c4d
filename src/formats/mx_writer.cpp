// MX writer: one 168-byte quad record per polygon (a triangle repeats its first corner as the
// fourth), a scene record in block A, and a texture name record per group index (layout in
// mx_format.h). Positions are stored with y and z negated in reversed slots, normals as they
// are, UVs in texture pixels of the group's texture, and one colour word per quad (the last
// corner written decides). Texture names lose their last four characters (the extension).
//
// Block A counts the quads in 16 bits and a quad names its group in 16 signed bits: of a model
// beyond them, the first polygons are written while they fit (at most 65535, none past the first
// group index above 32767). Texture names that do not fit a 16-byte record are refused before
// anything is written. The file is built in memory and replaces the target in one step.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "formats/mx_format.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr int32_t kMaxPolygons = UINT16_MAX;
constexpr int32_t kMaxGroupIndex = INT16_MAX;
constexpr int32_t kNamedSlots = 255;  // slots 1 to 255 carry a name record

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out_.push_back(uint8_t(v >> (8 * i)));
  }
  void i32(int32_t v) { u32(uint32_t(v)); }
  void u16(uint16_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
  }
  void i16(int16_t v) { u16(uint16_t(v)); }
  void f32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    u32(bits);
  }
  void zeros(size_t n) { out_.insert(out_.end(), n, 0); }
  void bytes(const char* p, size_t n) { out_.insert(out_.end(), p, p + n); }

 private:
  std::vector<uint8_t>& out_;
};

// A pool entry a corner names, or the zero value when it names none (unused pool, or an unused
// corner place).
template <typename T>
T Entry(const Pool<T>& pool, int32_t count, int32_t index) {
  return index >= 0 && index < count && size_t(index) < pool.size() ? pool[size_t(index)] : T{};
}

// A colour channel as one byte: clamped to 0..255 and truncated toward zero.
uint32_t ColourByte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return uint32_t(v);
}

// The name record of a texture file name: the name without its last four characters.
bool WholeNameRecord(std::string_view fileName, std::string& record) {
  if (fileName.size() < mx::kExtensionChars) return false;
  record.assign(fileName.substr(0, fileName.size() - mx::kExtensionChars));
  return record.size() < mx::kNameRecordBytes;  // room for the terminator
}

// The record of the whole name when it fits; else that of its file-name part (after the last
// backslash or slash, stepping over two-byte characters), as X files name their textures with
// folders ("C:\models\data\bottom.tga").
bool NameRecord(std::string_view fileName, std::string& record) {
  if (WholeNameRecord(fileName, record)) return true;
  const size_t backslash = platform::Cp932FindLast(fileName, '\\');
  const size_t slash = platform::Cp932FindLast(fileName, '/');
  const size_t cut = backslash == std::string_view::npos ? slash
                     : slash == std::string_view::npos   ? backslash
                                                         : std::max(backslash, slash);
  return cut != std::string_view::npos && WholeNameRecord(fileName.substr(cut + 1), record);
}

// The polygons written: the first ones, while they fit the layout. Precondition:
// CheckModelInvariants(model) holds.
int32_t PolygonsWritten(const Model& model) {
  const int32_t n = std::min(model.polygonCount, kMaxPolygons);
  for (int32_t p = 0; p < n; ++p) {
    if (model.polygons[size_t(p)].group > kMaxGroupIndex) return p;
  }
  return n;
}

struct Plan {
  int32_t polygons = 0;               // n: the polygons written
  int32_t nameCount = 0;              // c: name records of block C
  std::vector<std::string> records;   // per slot 1 .. 255 with state 1, its name record
  std::vector<int16_t> textureIndex;  // per group in use
};

// Checks that the model fits the layout and works out block C. Returns the reason for refusing
// the model, or "".
std::string PlanMx(const Model& model, Plan& plan) {
  if (auto fault = CheckModelInvariants(model)) return "model is unsound: " + fault->message;
  plan.polygons = PolygonsWritten(model);

  const int32_t lastNamed = std::min<int32_t>(kNamedSlots, model.textureSlotCount - 1);
  // A group's texture index names the record of its slot; slots beyond 255 have none.
  plan.textureIndex.assign(size_t(model.groupCount), -1);
  for (int32_t g = 0; g < model.groupCount; ++g) {
    const int32_t s = model.groups[size_t(g)].textureSlot;
    if (s >= 1 && s <= lastNamed && model.textureSlots[size_t(s)].state == 1)
      plan.textureIndex[size_t(g)] = int16_t(s - 1);
  }

  // c = highest group index + 1, and also enough records for every texture index written, so
  // that no quad names a record the file lacks.
  for (int32_t p = 0; p < plan.polygons; ++p) {
    const int32_t g = model.polygons[size_t(p)].group;
    plan.nameCount = std::max({plan.nameCount, g + 1, plan.textureIndex[size_t(g)] + 1});
  }

  // The name records written: record i for slot i + 1.
  plan.records.assign(size_t(kNamedSlots) + 1, std::string());
  for (int32_t s = 1; s <= std::min(lastNamed, plan.nameCount); ++s) {
    const TextureSlot& slot = model.textureSlots[size_t(s)];
    if (slot.state != 1) continue;
    if (!NameRecord(slot.fileName.View(), plan.records[size_t(s)]))
      return "texture name \"" + std::string(slot.fileName.View()) +
             "\" does not fit a name record, nor does its file name";
  }
  return "";
}

void WriteMx(ModelHost& host, const Model& model, const Plan& plan, std::vector<uint8_t>& out) {
  // Pixel sizes of the named textures; a slot without one keeps its UVs as they are.
  std::vector<float> widths(size_t(kNamedSlots) + 1, 1.0f), heights(size_t(kNamedSlots) + 1, 1.0f);
  for (size_t s = 1; s < plan.records.size(); ++s) {
    if (s >= size_t(model.textureSlotCount) || model.textureSlots[s].state != 1) continue;
    const int32_t index = host.LoadTexture(std::string(model.textureSlots[s].fileName.View()),
                                           host.TextureIdCell(int32_t(s)));
    if (index < 0) continue;
    float w = 0.0f, h = 0.0f;
    host.TextureSize(index, w, h);
    if (w > 0.0f) widths[s] = w;
    if (h > 0.0f) heights[s] = h;
  }

  const uint32_t n = uint32_t(plan.polygons);
  const uint32_t c = uint32_t(plan.nameCount);
  const uint32_t quadBytes = n * mx::kQuadRecordBytes;
  out.reserve(mx::kHeaderBytes + mx::kSceneRecordBytes + quadBytes + c * mx::kNameRecordBytes);
  ByteWriter w(out);

  // Header.
  w.bytes("MXF", 4);
  w.u32(256);
  w.u32(mx::kSceneRecordBytes);
  w.u32(mx::kHeaderBytes);
  w.u32(quadBytes);
  w.u32(mx::kHeaderBytes + mx::kSceneRecordBytes);
  w.u32(c * mx::kNameRecordBytes);
  w.u32(quadBytes + mx::kHeaderBytes + mx::kSceneRecordBytes);

  // Block A.
  for (int i = 0; i < 8; ++i)
    w.f32(0.0f);
  for (int i = 0; i < 3; ++i)
    w.f32(1.0f);
  w.f32(0.0f);
  w.u16(1);
  w.u16(uint16_t(n));
  w.zeros(8);

  // Block B.
  for (int32_t p = 0; p < plan.polygons; ++p) {
    const Polygon& polygon = model.polygons[size_t(p)];
    const int32_t slot = model.groups[size_t(polygon.group)].textureSlot;
    const bool sized = slot >= 1 && slot <= kNamedSlots;
    const float width = sized ? widths[size_t(slot)] : 1.0f;
    const float height = sized ? heights[size_t(slot)] : 1.0f;
    Corner corners[4];
    for (int k = 0; k < 4; ++k)
      corners[k] = polygon.corners[size_t(k)];
    if (polygon.cornerCount == 3) corners[3] = polygon.corners[0];

    Vec3 vertexSlots[4];
    for (int k = 0; k < 4; ++k) {
      const Vec3 v = Entry(model.positions, model.positionCount, corners[k].position);
      vertexSlots[3 - k] = {v.x, -v.y, -v.z};
    }
    for (const Vec3& v : vertexSlots) {
      w.f32(v.x);
      w.f32(v.y);
      w.f32(v.z);
      w.f32(1.0f);
    }
    for (const Corner& k : corners) {
      const Vec3 nrm = Entry(model.normals, model.normalCount, k.normal);
      w.f32(nrm.x);
      w.f32(nrm.y);
      w.f32(nrm.z);
      w.f32(0.0f);
    }
    for (const Corner& k : corners) {
      const Uv uv = Entry(model.uvs, model.uvCount, k.uv);
      w.f32(uv.u * width);
      w.f32(uv.v * height);
    }
    const ColourF colour = Entry(model.colours, model.colourCount, corners[3].colour);
    w.u32((ColourByte(colour.r) << 16) | (ColourByte(colour.g) << 8) | ColourByte(colour.b));
    w.i16(plan.textureIndex[size_t(polygon.group)]);
    w.i16(int16_t(polygon.group));
  }

  // Block C.
  for (uint32_t i = 0; i < c; ++i) {
    char record[mx::kNameRecordBytes] = {};
    if (i + 1 < plan.records.size())
      std::memcpy(record, plan.records[i + 1].data(), plan.records[i + 1].size());
    w.bytes(record, sizeof record);
  }
}

}  // namespace

int64_t MxPolygonsLeftOut(const Model& model) {
  if (CheckModelInvariants(model)) return 0;
  return int64_t{model.polygonCount} - PolygonsWritten(model);
}

int SaveMx(ModelHost& host, const Model& model, const std::string& path) {
  Plan plan;
  const std::string reason = PlanMx(model, plan);
  if (!reason.empty()) {
    host.Refuse(path, reason);
    return 0;
  }
  if (plan.polygons < model.polygonCount) {
    host.Log(path + " : " + std::to_string(model.polygonCount - plan.polygons) +
             " polygons left out: MX holds 65535 quads of groups 0 to 32767");
  }
  std::vector<uint8_t> bytes;
  WriteMx(host, model, plan, bytes);
  if (!platform::WriteFileAtomically(path, bytes)) {
    host.Refuse(path, "cannot be written");
    return 0;
  }
  return 1;
}

}  // namespace wz
