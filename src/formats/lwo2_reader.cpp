// LightWave object reader for the LWO2 generation (LightWave 6 and later; IFF, big-endian), and
// the ".lwo" entry point that picks the reader by the form type: LWO2 files come here, every
// other file goes to the LWOB reader as before.
// Read: the layers (all into one model), their points (× 10, axes as stored: LightWave is
// left-handed with y up, as the library is), FACE polygons (more than four points become n - 2
// triangles; curves, patches, metaballs and bones are skipped and counted in one log line), the
// surface of each polygon (PTAG SURF through TAGS), and per surface its colour, diffuse level,
// transparency (as alpha), sidedness, smoothing and its first enabled colour image map: the image
// file of its CLIP (STIL) becomes a texture slot. With UV projection the corners take their
// texture coordinates from the map's VMAD entry for the polygon, else from its VMAP entry
// (LightWave's v runs upward; the library's (0, 0) is the image's top-left, so v becomes 1 - v);
// planar, cylindrical, spherical and cubic maps are projected at load from the block's TMAP,
// AXIS, WRAP, WRPW and WRPH (lwo_projection.h). A surface's VCOL colour map (RGB or RGBA, VMAP
// and VMAD) gives every corner of its polygons its own colour-pool entry and turns vertex colours
// on; a file with colour maps that no surface names colours every surface by its first map.
// A layer's pivot is where the layer turns when it is animated; its points are stored in object
// coordinates, so placing the layer at its pivot with its points relative to the pivot gives back
// the stored points, which are taken as they are.
// Limits: weight maps, envelopes, procedural textures, the reset wrap (drawn repeated) and front
// projected image maps are not read (the last are named in a log line). Indices in POLS, VMAP, VMAD
// and PTAG count from the layer's latest PNTS and POLS chunks, as LightWave writes them. The whole
// file is checked before the model is touched, so a refused file leaves the model as it was.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/byte_cursor.h"
#include "formats/formats.h"
#include "formats/lwo_projection.h"
#include "model/normals.h"
#include "model/polygon_split.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr float kScale = 10.0f;
// Every model has a motion, and a model with motions holds at most 256 groups.
constexpr size_t kMaxGroups = kMaxGroupTracks;
constexpr uint32_t kNone = UINT32_MAX;
constexpr uint16_t kProjectionCubic = 3;  // 0 planar to 3 cubic: LwoProjection's order
constexpr uint16_t kProjectionUv = 5;
// Peak memory allowed beyond the input: 256 MB and 16 times the input's size.
constexpr uint64_t kMemoryBase = uint64_t{256} << 20;
constexpr uint64_t kMemoryPerInputByte = 16;

bool IdIs(const uint8_t id[4], const char* tag) {
  return std::memcmp(id, tag, 4) == 0;
}

std::string IdText(const uint8_t id[4]) {
  std::string s;
  for (int i = 0; i < 4; ++i)
    s.push_back(id[i] >= 0x20 && id[i] < 0x7F ? char(id[i]) : '?');
  return s;
}

// S0: a NUL-terminated string padded to even length. Fails the cursor when the NUL is missing.
std::string ReadS0(ByteCursor& cur) {
  std::string s;
  for (;;) {
    if (cur.remaining() == 0) {
      cur.fail();
      return s;
    }
    const uint8_t c = cur.u8();
    if (c == 0) break;
    s.push_back(static_cast<char>(c));
  }
  if ((s.size() + 1) % 2 == 1 && cur.remaining() > 0) cur.skip(1);
  return s;
}

// VX: a 2-byte index, or, when its first byte is 0xFF, a 4-byte index whose top byte is dropped.
uint32_t ReadVx(ByteCursor& cur) {
  const std::span<const uint8_t> rest = cur.rest();
  if (!rest.empty() && rest[0] == 0xFF) return cur.u32be() & 0x00FFFFFF;
  return cur.u16be();
}

struct Surface {
  std::string name;
  float red = 200.0f / 255.0f;  // 0 to 1, as COLR stores it
  float green = 200.0f / 255.0f;
  float blue = 200.0f / 255.0f;
  float diffuse = 1.0f;
  float transparency = 0.0f;
  bool doubleSided = false;
  // SmoothAngleCode of SMAN: a smooth surface smooths only across edges within it.
  uint16_t smoothAngle = 0;
  bool smooth = false;     // SMAN above 0
  uint32_t clip = kNone;   // the image map's CLIP index
  std::string uvMap;       // the image map's VMAP name ("" for the layer's first UV map)
  bool projected = false;  // the image map is placed by `projection`, not by a UV map
  LwoImageMap projection;
  bool otherProjection = false;
  bool vertexColours = false;  // VCOL names a colour map
  std::string colourMap;
  float colourIntensity = 1.0f;
};

struct FilePolygon {
  uint32_t first = 0;  // into Lwo2Scan::corners
  uint16_t count = 0;
  uint32_t tag = kNone;  // surface tag from PTAG SURF
  uint32_t layer = 0;
};

struct UvKey {
  uint32_t map;
  uint32_t point;    // model position index
  uint32_t polygon;  // file polygon index, kNone for a VMAP entry
  bool operator==(const UvKey&) const = default;
};
struct UvKeyHash {
  size_t operator()(const UvKey& k) const {
    uint64_t h = (uint64_t{k.map} << 32) ^ k.point;
    h = h * 0x9E3779B97F4A7C15ull ^ k.polygon;
    return size_t(h ^ (h >> 29));
  }
};

// A colour map entry: red, green, blue, alpha on a 0 to 1 scale.
struct Rgba {
  float r = 1.0f, g = 1.0f, b = 1.0f, a = 1.0f;
};

// What the chunk walk collected, before anything is resolved.
struct Lwo2Scan {
  std::vector<std::string> tags;
  std::vector<Vec3> points;       // all layers, as stored
  std::vector<uint32_t> corners;  // model position indices of the FACE polygons
  std::vector<FilePolygon> polygons;
  std::vector<std::string> uvMapNames;  // TXUV map names, ids by position
  std::unordered_map<std::string, uint32_t> uvMapIds;
  std::vector<uint32_t> layerFirstUvMap;         // per layer: the first TXUV map it has, or kNone
  std::unordered_map<UvKey, Uv, UvKeyHash> uvs;  // later entries replace earlier ones
  std::vector<std::string> colourMapNames;       // RGB and RGBA map names, ids by position
  std::unordered_map<std::string, uint32_t> colourMapIds;
  std::unordered_map<UvKey, Rgba, UvKeyHash> colours;  // keyed as the UVs
  std::unordered_map<uint32_t, std::string> clips;     // CLIP index: STIL file name (the last wins)
  std::vector<Surface> surfaces;
  std::unordered_map<std::string, size_t> surfaceIds;   // name: index into surfaces
  std::vector<std::pair<std::string, size_t>> skipped;  // polygon type, count
  std::unordered_map<std::string, size_t> skippedIds;   // polygon type: index into skipped

  // The layer's latest PNTS and POLS chunks: where their indices count from.
  uint32_t layer = 0;
  uint32_t layersSeen = 0;
  uint32_t pointBase = 0;
  uint32_t pointCount = 0;
  uint32_t polygonBase = kNone;  // kNone while the latest POLS was of a skipped type
  uint32_t polygonCount = 0;
};

// Names and types are looked up by hash: a file may hold a great many of them.
uint32_t UvMapId(Lwo2Scan& scan, const std::string& name) {
  const auto [it, added] = scan.uvMapIds.emplace(name, uint32_t(scan.uvMapNames.size()));
  if (added) scan.uvMapNames.push_back(name);
  return it->second;
}

void CountSkipped(Lwo2Scan& scan, const std::string& type, size_t n) {
  const auto [it, added] = scan.skippedIds.emplace(type, scan.skipped.size());
  if (added) scan.skipped.emplace_back(type, 0);
  scan.skipped[it->second].second += n;
}

// A failed read: the reason, for the refusal line.
struct Refusal {
  std::string reason;
  explicit operator bool() const { return !reason.empty(); }
};

std::string Text(const char* format, auto... args) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

Refusal ReadTags(ByteCursor body, Lwo2Scan& scan) {
  while (body.remaining() > 0) {
    std::string tag = ReadS0(body);
    if (!body.ok()) return {"a TAGS name lacks its end"};
    scan.tags.push_back(std::move(tag));
  }
  return {};
}

Refusal ReadPoints(ByteCursor body, Lwo2Scan& scan) {
  const size_t n = body.remaining() / 12;
  if (scan.points.size() + n > size_t{INT32_MAX}) return {"more points than a model can count"};
  scan.pointBase = uint32_t(scan.points.size());
  scan.pointCount = uint32_t(n);
  scan.points.reserve(scan.points.size() + n);
  for (size_t i = 0; i < n; ++i) {
    const float x = body.f32be();
    const float y = body.f32be();
    const float z = body.f32be();
    scan.points.push_back({x, y, z});
  }
  return {};
}

Refusal ReadPolygons(ByteCursor body, Lwo2Scan& scan) {
  uint8_t type[4];
  if (!body.read(type, 4)) return {"a POLS chunk lacks its type"};
  const bool face = IdIs(type, "FACE");
  scan.polygonBase = face ? uint32_t(scan.polygons.size()) : kNone;
  scan.polygonCount = 0;
  size_t records = 0;
  while (body.remaining() > 0) {
    const uint16_t n = body.u16be() & 0x03FF;  // the top six bits are flags
    if (!body.canHold(n, 2)) return {Text("POLS record %zu runs past its chunk", records)};
    const uint32_t first = uint32_t(scan.corners.size());
    for (uint16_t i = 0; i < n; ++i) {
      const uint32_t index = ReadVx(body);
      if (!body.ok()) return {Text("POLS record %zu runs past its chunk", records)};
      if (index >= scan.pointCount) {
        return {Text("polygon %zu names point %u of %u", records, index, scan.pointCount)};
      }
      if (face) scan.corners.push_back(scan.pointBase + index);
    }
    if (face) {
      if (scan.polygons.size() >= size_t{INT32_MAX}) return {"more polygons than a model can hold"};
      scan.polygons.push_back({first, n, kNone, scan.layer});
    }
    ++records;
  }
  scan.polygonCount = uint32_t(records);
  if (!face && records > 0) CountSkipped(scan, IdText(type), records);
  return {};
}

Refusal ReadPolygonTags(ByteCursor body, Lwo2Scan& scan) {
  uint8_t type[4];
  if (!body.read(type, 4)) return {"a PTAG chunk lacks its type"};
  const bool surface = IdIs(type, "SURF");
  while (body.remaining() > 0) {
    const uint32_t polygon = ReadVx(body);
    const uint16_t tag = body.u16be();
    if (!body.ok()) return {"a PTAG record runs past its chunk"};
    if (polygon >= scan.polygonCount) {
      return {Text("PTAG names polygon %u of %u", polygon, scan.polygonCount)};
    }
    if (surface && scan.polygonBase != kNone) scan.polygons[scan.polygonBase + polygon].tag = tag;
  }
  return {};
}

// VMAP and VMAD: texture maps (TXUV of dimension 2) and colour maps (RGB of 3, RGBA of 4) are
// kept.
Refusal ReadVertexMap(ByteCursor body, Lwo2Scan& scan, bool perPolygon) {
  uint8_t type[4];
  body.read(type, 4);
  const uint16_t dimension = body.u16be();
  const std::string name = ReadS0(body);
  if (!body.ok()) return {"a vertex map lacks its header"};
  const bool uv = IdIs(type, "TXUV") && dimension == 2;
  const bool colour =
      (IdIs(type, "RGB ") && dimension == 3) || (IdIs(type, "RGBA") && dimension == 4);
  uint32_t map = kNone;
  if (colour) {
    const auto [it, added] = scan.colourMapIds.emplace(name, uint32_t(scan.colourMapNames.size()));
    if (added) scan.colourMapNames.push_back(name);
    map = it->second;
  }
  if (uv) {
    map = UvMapId(scan, name);
    if (scan.layerFirstUvMap.size() <= scan.layer)
      scan.layerFirstUvMap.resize(scan.layer + 1, kNone);
    if (scan.layerFirstUvMap[scan.layer] == kNone) scan.layerFirstUvMap[scan.layer] = map;
  }
  while (body.remaining() > 0) {
    const uint32_t point = ReadVx(body);
    const uint32_t polygon = perPolygon ? ReadVx(body) : kNone;
    Uv value;
    Rgba rgba;
    if (colour) {
      rgba.r = body.f32be(), rgba.g = body.f32be(), rgba.b = body.f32be();
      if (dimension == 4) rgba.a = body.f32be();
    } else {
      if (dimension >= 1) value.u = body.f32be();
      if (dimension >= 2) value.v = body.f32be();
      if (dimension > 2 && !body.skip(uint64_t{dimension - 2u} * 4)) break;
    }
    if (!body.ok()) return {"a vertex map entry runs past its chunk"};
    if (point >= scan.pointCount) {
      return {Text("vertex map '%s' names point %u of %u", name.c_str(), point, scan.pointCount)};
    }
    if (perPolygon && polygon >= scan.polygonCount) {
      return {
          Text("vertex map '%s' names polygon %u of %u", name.c_str(), polygon, scan.polygonCount)};
    }
    if (!(uv || colour) || (perPolygon && scan.polygonBase == kNone)) continue;
    const uint32_t key = perPolygon ? scan.polygonBase + polygon : kNone;
    if (colour) {
      scan.colours[UvKey{map, scan.pointBase + point, key}] = rgba;
    } else {
      scan.uvs[UvKey{map, scan.pointBase + point, key}] = value;
    }
  }
  if (!body.ok()) return {"a vertex map entry runs past its chunk"};
  return {};
}

// CLIP: its index, then sub-chunks; STIL names a still image.
void ReadClip(ByteCursor body, Lwo2Scan& scan) {
  const uint32_t index = body.u32be();
  while (body.remaining() >= 6) {
    uint8_t id[4];
    body.read(id, 4);
    const uint16_t length = body.u16be();
    if (length > body.remaining()) return;
    ByteCursor sub = body.sub(length);
    if (length % 2 == 1 && body.remaining() > 0) body.skip(1);
    if (IdIs(id, "STIL")) {
      std::string file = ReadS0(sub);
      if (!file.empty()) scan.clips[index] = std::move(file);
    }
  }
}

Vec3 ReadVec12(ByteCursor& c) {
  const float x = c.f32be(), y = c.f32be(), z = c.f32be();
  return {x, y, z};
}

// TMAP: the texture's centre, size and rotation as sub-chunks of their own.
void ReadTextureMap(ByteCursor body, LwoImageMap& map) {
  while (body.remaining() >= 6) {
    uint8_t id[4];
    body.read(id, 4);
    const uint16_t length = body.u16be();
    if (length > body.remaining()) return;
    ByteCursor sub = body.sub(length);
    if (length % 2 == 1 && body.remaining() > 0) body.skip(1);
    if (length < 12) continue;
    if (IdIs(id, "CNTR")) map.centre = ReadVec12(sub);
    if (IdIs(id, "SIZE")) map.size = ReadVec12(sub);
    if (IdIs(id, "ROTA")) map.rotation = ReadVec12(sub);
  }
}

LwoWrap WrapType(uint16_t type) {
  return type <= 3 ? LwoWrap(type) : LwoWrap::kRepeat;
}

// One BLOK of a surface. The first sub-chunk is the block header (IMAP for an image map) with its
// ordinal string and its own sub-chunks (CHAN, ENAB, ...); the rest describe the mapping.
void ReadBlock(ByteCursor body, Surface& surface) {
  bool image = false, colourChannel = true, enabled = true;
  uint16_t projection = 0;
  uint32_t clip = kNone;
  std::string uvMap;
  LwoImageMap placement;
  bool first = true;
  while (body.remaining() >= 6) {
    uint8_t id[4];
    body.read(id, 4);
    const uint16_t length = body.u16be();
    if (length > body.remaining()) return;
    ByteCursor sub = body.sub(length);
    if (length % 2 == 1 && body.remaining() > 0) body.skip(1);
    if (first) {
      first = false;
      image = IdIs(id, "IMAP");
      ReadS0(sub);  // the ordinal
      while (sub.remaining() >= 6) {
        uint8_t hid[4];
        sub.read(hid, 4);
        const uint16_t hlength = sub.u16be();
        if (hlength > sub.remaining()) break;
        ByteCursor h = sub.sub(hlength);
        if (hlength % 2 == 1 && sub.remaining() > 0) sub.skip(1);
        if (IdIs(hid, "CHAN") && hlength >= 4) {
          uint8_t channel[4];
          h.read(channel, 4);
          colourChannel = IdIs(channel, "COLR");
        } else if (IdIs(hid, "ENAB") && hlength >= 2) {
          enabled = h.u16be() != 0;
        }
      }
    } else if (IdIs(id, "PROJ") && length >= 2) {
      projection = sub.u16be();
    } else if (IdIs(id, "IMAG") && length >= 2) {
      clip = ReadVx(sub);
    } else if (IdIs(id, "VMAP")) {
      uvMap = ReadS0(sub);
    } else if (IdIs(id, "TMAP")) {
      ReadTextureMap(sub, placement);
    } else if (IdIs(id, "AXIS") && length >= 2) {
      placement.axis = std::min<int>(sub.u16be(), 2);
    } else if (IdIs(id, "WRAP") && length >= 4) {
      placement.wrapU = WrapType(sub.u16be());
      placement.wrapV = WrapType(sub.u16be());
    } else if (IdIs(id, "WRPW") && length >= 4) {
      placement.widthWrap = sub.f32be();
    } else if (IdIs(id, "WRPH") && length >= 4) {
      placement.heightWrap = sub.f32be();
    }
  }
  if (!image || !colourChannel || !enabled || surface.clip != kNone) return;
  if (projection != kProjectionUv && projection > kProjectionCubic) {
    surface.otherProjection = true;  // front projection depends on the camera
    return;
  }
  surface.clip = clip;
  surface.uvMap = uvMap;
  surface.projected = projection != kProjectionUv;
  if (surface.projected) {
    placement.projection = LwoProjection(projection);
    surface.projection = placement;
  }
}

// SURF: name, source name, then sub-chunks of a 4-byte identifier and a 2-byte length.
void ReadSurface(ByteCursor body, Lwo2Scan& scan) {
  Surface s;
  s.name = ReadS0(body);
  ReadS0(body);  // the surface it was derived from
  while (body.remaining() >= 6) {
    uint8_t id[4];
    body.read(id, 4);
    const uint16_t length = body.u16be();
    if (length > body.remaining()) break;
    ByteCursor sub = body.sub(length);
    if (length % 2 == 1 && body.remaining() > 0) body.skip(1);
    if (IdIs(id, "COLR") && length >= 12) {
      s.red = sub.f32be();
      s.green = sub.f32be();
      s.blue = sub.f32be();
    } else if (IdIs(id, "DIFF") && length >= 4) {
      s.diffuse = sub.f32be();
    } else if (IdIs(id, "TRAN") && length >= 4) {
      s.transparency = sub.f32be();
    } else if (IdIs(id, "SIDE") && length >= 2) {
      s.doubleSided = (sub.u16be() & 3) == 3;
    } else if (IdIs(id, "SMAN") && length >= 4) {
      const float radians = sub.f32be();
      s.smooth = radians > 0.0f;
      s.smoothAngle = SmoothAngleCode(double(radians) * 180.0 / 3.14159265358979);
    } else if (IdIs(id, "BLOK")) {
      ReadBlock(sub, s);
    } else if (IdIs(id, "VCOL") && length >= 6) {
      // Intensity, envelope, map type, map name: an RGB or RGBA map colours the corners.
      s.colourIntensity = sub.f32be();
      ReadVx(sub);
      uint8_t type[4];
      sub.read(type, 4);
      std::string map = ReadS0(sub);
      if (sub.ok() && (IdIs(type, "RGB ") || IdIs(type, "RGBA"))) {
        s.vertexColours = true;
        s.colourMap = std::move(map);
      }
    }
  }
  // A later SURF of the same name replaces an earlier one.
  const auto [it, added] = scan.surfaceIds.emplace(s.name, scan.surfaces.size());
  if (added) {
    scan.surfaces.push_back(std::move(s));
  } else {
    scan.surfaces[it->second] = std::move(s);
  }
}

// Walks the chunks of the form. Every chunk is padded to even length.
Refusal ScanChunks(ByteCursor form, Lwo2Scan& scan) {
  while (form.remaining() > 0) {
    uint8_t id[4];
    if (!form.read(id, 4)) return {"a chunk header runs past the end of the form"};
    const uint32_t length = form.u32be();
    if (!form.ok()) return {"a chunk header runs past the end of the form"};
    if (length > form.remaining()) {
      return {Text("chunk %s runs past the end of the form", IdText(id).c_str())};
    }
    ByteCursor body = form.sub(length);
    if (length % 2 == 1 && form.remaining() > 0) form.skip(1);
    Refusal r;
    if (IdIs(id, "TAGS")) {
      r = ReadTags(body, scan);
    } else if (IdIs(id, "LAYR")) {
      // Number, flags, pivot, name, parent: only the change of layer matters (see the top).
      scan.layer = scan.layersSeen++;
      scan.pointBase = uint32_t(scan.points.size());
      scan.pointCount = 0;
      scan.polygonBase = kNone;
      scan.polygonCount = 0;
    } else if (IdIs(id, "PNTS")) {
      r = ReadPoints(body, scan);
    } else if (IdIs(id, "POLS")) {
      r = ReadPolygons(body, scan);
    } else if (IdIs(id, "PTAG")) {
      r = ReadPolygonTags(body, scan);
    } else if (IdIs(id, "VMAP")) {
      r = ReadVertexMap(body, scan, false);
    } else if (IdIs(id, "VMAD")) {
      r = ReadVertexMap(body, scan, true);
    } else if (IdIs(id, "CLIP")) {
      ReadClip(body, scan);
    } else if (IdIs(id, "SURF")) {
      ReadSurface(body, scan);
    }
    if (r) return r;
  }
  return {};
}

// A 0-to-1 value kept in range; NaN counts as 0.
float Unit(float v) {
  return v > 0.0f ? std::min(v, 1.0f) : 0.0f;
}

// One group of the model: a surface as used by the polygons.
struct GroupPlan {
  const Surface* surface = nullptr;  // null: LightWave's default surface
  std::string name;
  int32_t textureSlot = 0;
  uint32_t uvMap = kNone;  // for the layer's first map: resolved per polygon
  bool textured = false;
  const LwoImageMap* projection = nullptr;  // texture coordinates projected, not from a UV map
  uint32_t colourMap = kNone;               // the RGB or RGBA map colouring the corners
  float colourIntensity = 1.0f;
};

Refusal Build(const Lwo2Scan& scan, ModelHost& host, const std::string& path, Model& model,
              size_t inputSize) {
  // Groups: one per surface name that a FACE polygon uses, in the order of first use.
  std::vector<GroupPlan> groups;
  std::vector<int32_t> groupOfPolygon(scan.polygons.size());
  std::unordered_map<std::string, int32_t> groupByName;
  std::vector<std::string> textures;  // texture slot s names textures[s - 1]
  std::vector<std::string> otherProjections;
  for (size_t p = 0; p < scan.polygons.size(); ++p) {
    const FilePolygon& poly = scan.polygons[p];
    std::string name = "Default";
    if (poly.tag != kNone) {
      if (poly.tag >= scan.tags.size()) {
        return {Text("polygon %zu names surface tag %u of %zu", p, poly.tag, scan.tags.size())};
      }
      name = scan.tags[poly.tag];
    }
    auto [it, added] = groupByName.emplace(name, int32_t(groups.size()));
    groupOfPolygon[p] = it->second;
    if (!added) continue;
    if (groups.size() == kMaxGroups) return {"more than 256 surfaces"};
    GroupPlan g;
    g.name = LwoLibraryName(name);
    if (auto s = scan.surfaceIds.find(name); s != scan.surfaceIds.end())
      g.surface = &scan.surfaces[s->second];
    if (g.surface && g.surface->otherProjection && g.surface->clip == kNone)
      otherProjections.push_back(g.name);
    if (g.surface && g.surface->clip != kNone) {
      std::string file;
      if (auto clip = scan.clips.find(g.surface->clip); clip != scan.clips.end())
        file = LwoImageFileName(clip->second);
      if (!file.empty()) {
        auto slot = std::find(textures.begin(), textures.end(), file);
        if (slot == textures.end()) {
          if (textures.size() + 1 >= size_t{INT16_MAX})
            return {"more images than a model can hold"};
          textures.push_back(file);
          slot = textures.end() - 1;
        }
        g.textureSlot = int32_t(slot - textures.begin()) + 1;
        g.textured = true;
        if (g.surface->projected) g.projection = &g.surface->projection;
        if (auto map = scan.uvMapIds.find(g.surface->uvMap); map != scan.uvMapIds.end())
          g.uvMap = map->second;
      }
    }
    if (g.surface && g.surface->vertexColours) {
      if (auto map = scan.colourMapIds.find(g.surface->colourMap); map != scan.colourMapIds.end()) {
        g.colourMap = map->second;
        g.colourIntensity = g.surface->colourIntensity;
      }
    }
    groups.push_back(std::move(g));
  }
  // A file whose colour maps no surface names (as some exporters write them) is coloured by its
  // first colour map on every surface.
  const bool anyNamed = std::any_of(groups.begin(), groups.end(),
                                    [](const GroupPlan& g) { return g.colourMap != kNone; });
  if (!anyNamed && !scan.colourMapNames.empty() &&
      std::none_of(scan.surfaces.begin(), scan.surfaces.end(),
                   [](const Surface& s) { return s.vertexColours; })) {
    for (GroupPlan& g : groups)
      g.colourMap = 0;
  }

  // Polygons after fanning, corners and texture coordinates.
  size_t polygonCount = 0, uvCount = 0, cornerColourCount = 0;
  for (size_t p = 0; p < scan.polygons.size(); ++p) {
    const uint16_t n = scan.polygons[p].count;
    if (n == 0) continue;
    const size_t pieces = n > kMaxCorners ? size_t(n - 2) : 1;
    polygonCount += pieces;
    const GroupPlan& g = groups[size_t(groupOfPolygon[p])];
    if (g.textured) uvCount += pieces * (n > kMaxCorners ? 3 : n);
    if (g.colourMap != kNone) cornerColourCount += pieces * (n > kMaxCorners ? 3 : n);
  }
  if (polygonCount == 0) {
    std::string reason = "no FACE polygons";
    for (const auto& [type, count] : scan.skipped)
      reason += Text(" (%zu %s)", count, type.c_str());
    return {reason};
  }
  if (polygonCount > size_t{INT32_MAX} || uvCount > size_t{INT32_MAX} ||
      cornerColourCount > size_t{INT32_MAX} - groups.size()) {
    return {"more polygons than a model can count"};
  }
  const uint64_t need = uint64_t{polygonCount} * sizeof(Polygon) + uint64_t{uvCount} * sizeof(Uv) +
                        uint64_t{cornerColourCount} * sizeof(ColourF) +
                        uint64_t{scan.points.size()} * (3 * sizeof(Vec3) + sizeof(VertexAttr));
  if (need > kMemoryBase + kMemoryPerInputByte * inputSize) {
    return {Text("the model would need %llu MB", (unsigned long long)(need >> 20))};
  }

  // The file is sound: fill the model. Every pool grows before anything is written, so running
  // out of memory leaves the model's contents as they were.
  const size_t pointCount = scan.points.size();
  GrowPositionPools(model, pointCount);
  GrowTo(model.groups, groups.size());
  GrowTo(model.colours, groups.size() + cornerColourCount);
  GrowTo(model.polygons, polygonCount);
  GrowTo(model.uvs, uvCount);
  GrowTo(model.textureSlots, textures.size() + 1);
  model.fileName.Set(path);
  for (size_t i = 0; i < pointCount; ++i) {
    const Vec3& p = scan.points[i];
    model.positions[i] = {p.x * kScale, p.y * kScale, p.z * kScale};
  }
  model.positionCount = int32_t(pointCount);

  for (size_t g = 0; g < groups.size(); ++g) {
    Group& group = model.groups[g];
    group = NewGroup();
    group.name.Set(groups[g].name);
    const Surface defaults;
    const Surface& s = groups[g].surface ? *groups[g].surface : defaults;
    // An image map on the colour channel replaces the surface colour; the diffuse level scales
    // what is drawn either way.
    const float diffuse = Unit(s.diffuse) * 255.0f;
    const bool white = groups[g].textured;
    group.colour = {(white ? 1.0f : Unit(s.red)) * diffuse,
                    (white ? 1.0f : Unit(s.green)) * diffuse,
                    (white ? 1.0f : Unit(s.blue)) * diffuse, Unit(1.0f - s.transparency) * 255.0f};
    group.doubleSided = s.doubleSided ? 1 : 0;
    group.shading = s.smooth ? 4 : 3;
    group.textureSlot = groups[g].textureSlot;
    model.colours[g] = group.colour;
  }
  model.groupCount = int32_t(groups.size());
  model.colourCount = int32_t(groups.size());

  size_t out = 0, uv = 0;
  auto uvOf = [&](const GroupPlan& g, const FilePolygon& poly, size_t p, uint32_t point) {
    uint32_t map = g.uvMap;
    if (map == kNone && poly.layer < scan.layerFirstUvMap.size())
      map = scan.layerFirstUvMap[poly.layer];
    Uv value;
    if (map != kNone) {
      if (auto it = scan.uvs.find(UvKey{map, point, uint32_t(p)}); it != scan.uvs.end()) {
        value = it->second;
      } else if (auto v = scan.uvs.find(UvKey{map, point, kNone}); v != scan.uvs.end()) {
        value = v->second;
      }
    }
    return Uv{value.u, 1.0f - value.v};
  };
  // A corner's colour: the map's colour blended into the surface's by the VCOL intensity and,
  // for an RGBA map, the entry's alpha (an opacity of the vertex colour over the surface, not a
  // transparency); a point the map leaves out keeps the surface's colour. Scaled by the diffuse
  // level as the group colour is.
  size_t colour = groups.size();
  auto colourOf = [&](const GroupPlan& g, const Group& group, size_t p, uint32_t point) {
    const uint32_t map = g.colourMap;
    auto it = scan.colours.find(UvKey{map, point, uint32_t(p)});
    if (it == scan.colours.end()) it = scan.colours.find(UvKey{map, point, kNone});
    if (it == scan.colours.end()) return group.colour;
    const Surface defaults;
    const Surface& s = g.surface ? *g.surface : defaults;
    const Rgba& c = it->second;
    const float i = Unit(g.colourIntensity) * Unit(c.a);
    auto blend = [&](float surface, float mapped) {
      return Unit((1.0f - i) * (g.textured ? 1.0f : Unit(surface)) + i * Unit(mapped)) *
             Unit(s.diffuse) * 255.0f;
    };
    return ColourF{blend(s.red, c.r), blend(s.green, c.g), blend(s.blue, c.b), group.colour.a};
  };
  std::vector<Vec3> filePoints;  // the polygon's points, for projected maps
  std::vector<Uv> projected;
  PolygonSplitter splitter;
  std::vector<Vec3> outline;
  for (size_t p = 0; p < scan.polygons.size(); ++p) {
    const FilePolygon& poly = scan.polygons[p];
    const uint16_t n = poly.count;
    if (n == 0) continue;
    const GroupPlan& g = groups[size_t(groupOfPolygon[p])];
    const uint32_t* points = scan.corners.data() + poly.first;
    if (g.projection) {
      filePoints.resize(n);
      projected.resize(n);
      for (uint16_t i = 0; i < n; ++i)
        filePoints[i] = scan.points[points[i]];
      LwoProjectPolygon(*g.projection, filePoints.data(), n, projected.data());
    }
    // Larger polygons, and quads that fold, are split along their outline (polygon_split.h).
    std::span<const CornerTriangle> split;
    if (n >= 4) {  // at most 65535 corners: within what Split clips
      outline.clear();
      for (size_t i = 0; i < n; ++i)
        outline.push_back(model.positions[points[i]]);
      split = splitter.Split(outline);
    }
    const int pieces = n > kMaxCorners ? n - 2 : 1;
    for (int k = 1; k <= pieces; ++k) {
      Polygon& target = model.polygons[out++];
      target = Polygon{};
      target.group = groupOfPolygon[p];
      // A smooth surface smooths only across edges within its smoothing angle.
      if (g.surface && g.surface->smooth) target.smoothAngle = g.surface->smoothAngle;
      int picked[kMaxCorners];  // places in the file polygon
      int corners = n;
      if (n > kMaxCorners) {
        const CornerTriangle t =
            split.empty() ? CornerTriangle{0, uint32_t(k), uint32_t(k + 1)} : split[size_t(k) - 1];
        picked[0] = int(t[0]), picked[1] = int(t[1]), picked[2] = int(t[2]);
        corners = 3;
      } else {
        const size_t start = n == 4 && !split.empty() ? split[0][0] : 0;
        for (size_t c = 0; c < n; ++c)
          picked[c] = int((start + c) % n);
      }
      target.cornerCount = uint8_t(corners);
      for (int c = 0; c < corners; ++c) {
        Corner& corner = target.corners[size_t(c)];
        const uint32_t point = points[picked[c]];
        corner.position = int32_t(point);
        corner.colour = target.group;
        if (g.textured) {
          model.uvs[uv] = g.projection ? projected[size_t(picked[c])] : uvOf(g, poly, p, point);
          corner.uv = int32_t(uv++);
        }
        if (g.colourMap != kNone) {
          model.colours[colour] = colourOf(g, model.groups[size_t(target.group)], p, point);
          corner.colour = int32_t(colour++);
        }
      }
    }
  }
  model.polygonCount = int32_t(polygonCount);
  model.uvCount = int32_t(uvCount);
  if (cornerColourCount > 0) {
    model.colourCount = int32_t(colour);
    model.vertexColoursOn = 1;
  }

  for (size_t s = 1; s <= textures.size(); ++s) {
    model.textureSlots[s] = TextureSlot{};
    model.textureSlots[s].state = 1;
    model.textureSlots[s].fileName.Set(textures[s - 1]);
  }
  model.textureSlotCount = int16_t(textures.size() + 1);
  model.colour = {255.0f, 255.0f, 255.0f, 255.0f};

  DeriveNormals(model);
  for (size_t s = 1; s <= textures.size(); ++s)
    host.LoadModelTexture(model, int32_t(s), textures[s - 1]);
  model.shadingChanged = 1;

  if (!scan.skipped.empty()) {
    std::string line = path + " : polygons skipped:";
    for (const auto& [type, count] : scan.skipped)
      line += Text(" %zu %s", count, type.c_str());
    host.Log(line);
  }
  for (const std::string& name : otherProjections) {
    host.Log(path + " : surface " + name + ": image map without UV projection left out");
  }
  return {};
}

}  // namespace

int LoadLwo2FromMemory(ModelHost& host, Model& model, const std::string& path,
                       std::span<const uint8_t> bytes, int32_t /*version*/) {
  try {
    ByteCursor file(bytes);
    uint8_t head[4], type[4];
    file.read(head, 4);
    const uint32_t formLength = file.u32be();
    file.read(type, 4);
    if (!file.ok() || !IdIs(head, "FORM") || !IdIs(type, "LWO2")) {
      host.Refuse(path, "not a LightWave LWO2 file");
      return 0;
    }
    if (formLength < 4 || formLength - 4 > file.remaining()) {
      host.Refuse(path, "the file ends before its FORM length");
      return 0;
    }
    Lwo2Scan scan;
    if (Refusal r = ScanChunks(file.sub(formLength - 4), scan)) {
      host.Refuse(path, r.reason);
      return 0;
    }
    if (Refusal r = Build(scan, host, path, model, bytes.size())) {
      host.Refuse(path, r.reason);
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    host.Refuse(path, "out of memory");
    return 0;
  }
}

int LoadLightWaveFromMemory(ModelHost& host, Model& model, const std::string& path,
                            std::span<const uint8_t> bytes, int32_t version) {
  if (bytes.size() >= 12 && std::memcmp(bytes.data() + 8, "LWO2", 4) == 0) {
    return LoadLwo2FromMemory(host, model, path, bytes, version);
  }
  if (bytes.size() >= 12 && std::memcmp(bytes.data() + 8, "LWO3", 4) == 0) {
    host.Refuse(path, "LWO3 files (LightWave 2015 and later) are not read");
    return 0;
  }
  return LoadLwoFromMemory(host, model, path, bytes, version);
}

int LoadLightWave(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be read");
    return 0;
  }
  return LoadLightWaveFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
