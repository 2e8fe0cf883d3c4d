// MX reader: a flat list of quads with per-vertex positions, normals and pixel UVs, one colour
// per quad and a table of texture names (layout in mx_format.h). Every quad becomes a
// four-corner polygon with its own position, normal, colour and UV entries; vertex k comes from
// slot 3 - k with y and z negated, UVs are divided by the pixel size of the quad's texture, and
// name record i becomes texture slot i + 1 ("<name>.bmp", relative to the current directory) and
// group i. The magic and block A are not looked at.
//
// The whole file is parsed and checked before the model is touched, so a refused file leaves it
// as it was. Blocks may hold any number of records (the model's lists grow); a file shorter than
// its header announces, a quad naming a group or texture record that does not exist, and more
// names than the model can hold as groups are refused.
#include <algorithm>
#include <string>
#include <vector>

#include "formats/byte_cursor.h"
#include "formats/formats.h"
#include "formats/mx_format.h"
#include "platform/file_io.h"

namespace wz {
namespace {

struct MxQuad {
  Vec3 vertices[4];  // as stored: slot 0 holds the polygon's last vertex
  Vec3 normals[4];
  Uv uvs[4];  // in texture pixels, pair k for vertex k
  uint32_t colour = 0;
  int16_t texture = -1;
  int16_t group = 0;
};

struct MxFile {
  std::vector<MxQuad> quads;
  std::vector<std::string> names;  // one per name record; "" for no texture
};

// Most name records a model can take: each is a group and a texture slot (int16 slot count).
constexpr uint64_t kMaxNameRecords = INT16_MAX - 1;

Vec3 ReadSlot(ByteCursor& c) {
  Vec3 v;
  v.x = c.f32();
  v.y = c.f32();
  v.z = c.f32();
  c.f32();  // w
  return v;
}

// Parses the whole file; returns the reason for refusing it, or "" when it is sound.
std::string ParseMx(std::span<const uint8_t> bytes, MxFile& out) {
  ByteCursor c(bytes);
  if (!c.canHold(1, mx::kHeaderBytes)) return "shorter than its 32-byte header";
  c.skip(mx::kSceneSizeAt);
  const uint64_t scenes = c.u32() / mx::kSceneRecordBytes;
  c.skip(mx::kQuadSizeAt - mx::kSceneSizeAt - 4);
  const uint64_t quads = c.u32() / mx::kQuadRecordBytes;
  c.skip(mx::kNameSizeAt - mx::kQuadSizeAt - 4);
  const uint64_t names = c.u32() / mx::kNameRecordBytes;
  c.skip(mx::kHeaderBytes - mx::kNameSizeAt - 4);

  // Block A is skipped whole; the blocks follow each other without gaps.
  if (!c.canHold(scenes, mx::kSceneRecordBytes) || !c.skip(scenes * mx::kSceneRecordBytes))
    return "shorter than its header announces (block A)";
  if (!c.canHold(quads, mx::kQuadRecordBytes)) return "shorter than its header announces (block B)";
  if (quads > uint64_t{INT32_MAX} / 4) return "too many quads";
  ByteCursor quadBlock = c.sub(quads * mx::kQuadRecordBytes);
  if (!c.canHold(names, mx::kNameRecordBytes)) return "shorter than its header announces (block C)";
  if (names > kMaxNameRecords) return "too many texture names";

  out.quads.resize(quads);
  for (MxQuad& q : out.quads) {
    for (Vec3& v : q.vertices)
      v = ReadSlot(quadBlock);
    for (Vec3& n : q.normals)
      n = ReadSlot(quadBlock);
    for (Uv& uv : q.uvs) {
      uv.u = quadBlock.f32();
      uv.v = quadBlock.f32();
    }
    q.colour = quadBlock.u32();
    q.texture = quadBlock.i16();
    q.group = quadBlock.i16();
  }
  out.names.resize(names);
  for (std::string& name : out.names) {
    char record[mx::kNameRecordBytes];
    c.read(record, sizeof record);
    name.assign(record, std::find(record, record + sizeof record, '\0'));
  }
  if (!quadBlock.ok() || !c.ok()) return "shorter than its header announces";

  for (size_t p = 0; p < out.quads.size(); ++p) {
    const MxQuad& q = out.quads[p];
    if (q.group < 0 || size_t(q.group) >= names) {
      return "quad " + std::to_string(p) + ": group index " + std::to_string(q.group) +
             " names no group";
    }
    if (q.texture < -1 || (q.texture >= 0 && size_t(q.texture) >= names)) {
      return "quad " + std::to_string(p) + ": texture index " + std::to_string(q.texture) +
             " names no texture record";
    }
  }
  return "";
}

// Pixel size of a texture as a divisor: a missing or empty size divides by 1.
float Divisor(float size) {
  return size > 0.0f ? size : 1.0f;
}

void Apply(ModelHost& host, Model& model, const std::string& path, const MxFile& file) {
  const int32_t groupCount = static_cast<int32_t>(file.names.size());
  const int32_t quadCount = static_cast<int32_t>(file.quads.size());

  // Textures first: their pixel sizes scale the UVs.
  struct Size {
    float width = 1.0f;
    float height = 1.0f;
  };
  std::vector<Size> slotSizes(file.names.size() + 1);
  std::vector<std::string> slotFiles(file.names.size() + 1);
  for (size_t i = 0; i < file.names.size(); ++i) {
    if (file.names[i].empty()) continue;
    const int32_t slot = static_cast<int32_t>(i + 1);
    slotFiles[slot] = file.names[i] + mx::kTextureExtension;
    const int32_t index = host.LoadTexture(slotFiles[slot], host.TextureIdCell(slot));
    if (index >= 0) {
      float w = 0.0f, h = 0.0f;
      host.TextureSize(index, w, h);
      slotSizes[slot] = {Divisor(w), Divisor(h)};
    }
  }

  // Groups: one per name record; groups that come into use get the values of a new group.
  if (model.groups.size() < size_t(groupCount)) model.groups.resize(size_t(groupCount));
  for (int32_t g = model.groupCount; g < groupCount; ++g)
    model.groups[size_t(g)] = NewGroup();
  model.groupCount = groupCount;

  // Quads.
  const size_t entries = 4 * size_t(quadCount);
  GrowPositionPools(model, entries);
  GrowTo(model.normals, entries);
  GrowTo(model.colours, entries);
  GrowTo(model.uvs, entries);
  GrowTo(model.polygons, size_t(quadCount));
  for (int32_t p = 0; p < quadCount; ++p) {
    const MxQuad& q = file.quads[size_t(p)];
    const int32_t slot = q.texture + 1;
    model.groups[size_t(q.group)].textureSlot = slot;  // the group's last quad decides
    const Size size = slotSizes[size_t(slot)];
    const ColourF colour{float((q.colour >> 16) & 0xFF), float((q.colour >> 8) & 0xFF),
                         float(q.colour & 0xFF), 255.0f};
    Polygon polygon;
    polygon.cornerCount = 4;
    polygon.group = q.group;
    for (int k = 0; k < 4; ++k) {
      const int32_t e = 4 * p + k;
      const Vec3 v = q.vertices[3 - k];
      const Vec3 n = q.normals[3 - k];
      model.positions[size_t(e)] = {v.x, -v.y, -v.z};
      model.normals[size_t(e)] = {n.x, -n.y, -n.z};
      model.colours[size_t(e)] = colour;
      model.uvs[size_t(e)] = {q.uvs[k].u / size.width, q.uvs[k].v / size.height};
      polygon.corners[size_t(k)] = {e, e, e, e};
    }
    model.polygons[size_t(p)] = polygon;
  }
  model.positionCount = model.normalCount = model.colourCount = model.uvCount =
      static_cast<int32_t>(entries);
  model.polygonCount = quadCount;

  // Texture slots: named record i is slot i + 1. The slot list covers every slot a name fills
  // and every slot a group in use still refers to.
  int32_t highest = 0;
  for (size_t s = 1; s < slotFiles.size(); ++s)
    if (!slotFiles[s].empty()) highest = int32_t(s);
  highest = std::max<int32_t>(highest, model.modelMapSlot);
  for (int32_t g = 0; g < model.groupCount; ++g) {
    const Group& group = model.groups[size_t(g)];
    highest = std::max(
        {highest, group.textureSlot, int32_t(group.bumpMapSlot), int32_t(group.secondMapSlot)});
  }
  const int32_t slotCount = highest + 1;
  if (model.textureSlots.size() < size_t(slotCount)) model.textureSlots.resize(size_t(slotCount));
  for (int32_t s = model.textureSlotCount; s < slotCount; ++s)
    model.textureSlots[size_t(s)] = TextureSlot{};
  model.textureSlotCount = static_cast<int16_t>(slotCount);
  for (size_t s = 1; s < slotFiles.size(); ++s) {
    if (slotFiles[s].empty()) continue;
    TextureSlot& slot = model.textureSlots[s];
    slot = TextureSlot{};
    slot.state = 1;
    slot.fileName.Set(slotFiles[s]);
    host.LoadModelTexture(model, int32_t(s), slotFiles[s]);
  }

  model.fileName.Set(path);
  model.shadingChanged = 1;
}

}  // namespace

int LoadMxFromMemory(ModelHost& host, Model& model, const std::string& path,
                     std::span<const uint8_t> bytes, int32_t /*version*/) {
  MxFile file;
  std::string reason = ParseMx(bytes, file);
  if (reason.empty() && file.names.size() > size_t(kMaxGroupTracks) && !model.motions.empty())
    reason = std::to_string(file.names.size()) + " texture names: more groups than motions allow";
  if (!reason.empty()) {
    host.Refuse(path, reason);
    return 0;
  }
  Apply(host, model, path, file);
  return 1;
}

int LoadMx(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be opened");
    return 0;
  }
  return LoadMxFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
