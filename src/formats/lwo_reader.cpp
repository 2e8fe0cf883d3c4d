// LightWave object reader for the older LWOB generation (IFF, big-endian). Takes the points, the
// polygons, each surface's colour and its first colour image map (CTEX; failing that its first
// diffuse one, DTEX) of planar, cylindrical, spherical or cubic projection, whose texture
// coordinates are projected at load (lwo_projection.h) from TFLG's axis, TCTR, TSIZ, TWRP and the
// wrap amounts TFP0 and TFP1; TIMG names the image. Every other chunk and surface sub-chunk is
// skipped by its length. Chunks are walked by exactly 8 + length bytes (no IFF pad byte), and the
// last PNTS and the last POLS of a file win. Polygons of more than four points become n - 2
// triangles, detail polygons (negative surface numbers) are read as ordinary polygons, and a
// polygon naming a point or surface that does not exist makes the whole file refused. The whole
// file is checked before the model is touched, so a refused file leaves the model as it was.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/byte_cursor.h"
#include "formats/formats.h"
#include "formats/lwo_projection.h"
#include "model/normals.h"
#include "model/polygon_split.h"
#include "platform/file_io.h"

namespace wz {
namespace {

// Every model has a motion, and a model with motions holds at most 256 groups (one track each);
// one group is made per surface.
constexpr size_t kMaxSurfaces = kMaxGroupTracks;
constexpr float kGrey = 128.0f;

// A projected image map of a surface.
struct SurfaceImage {
  LwoImageMap map;
  std::string file;  // library text; empty: none
};

struct SurfaceRecord {
  std::string name;
  float red = kGrey;
  float green = kGrey;
  float blue = kGrey;  // a surface without COLR stays grey
  SurfaceImage colourImage, diffuseImage;
  const SurfaceImage* Image() const {
    return !colourImage.file.empty()    ? &colourImage
           : !diffuseImage.file.empty() ? &diffuseImage
                                        : nullptr;
  }
  // SmoothAngleCode of SMAN. Once a file has an SMAN, every surface's faces follow the angle
  // rule, a surface without one being flat; a file without keeps its positions' smooth normals.
  uint16_t smoothAngle = 1;
};

// Working state of one read: what the chunk walk collected, before anything is checked.
struct LwoScan {
  std::vector<SurfaceRecord> surfaces;
  bool tooManySurfaces = false;       // the last SRFS named more than kMaxSurfaces surfaces
  size_t currentSurface = 0;          // the surface a SURF chunk with an unknown name describes
  std::span<const uint8_t> points;    // body of the last PNTS
  std::span<const uint8_t> polygons;  // body of the last POLS
  bool srfsSeen = false;
  bool pntsSeen = false;
  bool polsSeen = false;
  bool smanSeen = false;
};

bool IdIs(const uint8_t id[4], const char* tag) {
  return std::memcmp(id, tag, 4) == 0;
}

// SRFS: NUL-terminated names; a NUL at an even offset of the body is followed by a pad byte, so
// every name with its pad has even length.
void ReadSurfaceNames(ByteCursor body, LwoScan& scan) {
  scan.surfaces.clear();
  scan.tooManySurfaces = false;
  std::string name;
  while (body.remaining() > 0) {
    const size_t offset = body.position();
    const uint8_t c = body.u8();
    if (c != 0) {
      name.push_back(static_cast<char>(c));
      continue;
    }
    if (scan.surfaces.size() == kMaxSurfaces) {
      scan.tooManySurfaces = true;
      return;
    }
    scan.surfaces.emplace_back();
    scan.surfaces.back().name = name;
    name.clear();
    if (offset % 2 == 0 && body.remaining() > 0) body.skip(1);
  }
}

// SURF: the name (padded to even length with its NUL), then sub-chunks of a 4-byte identifier, a
// 2-byte length and the body. COLR and SMAN are taken. A name that matches no surface describes the
// surface after the one the previous SURF chunk described.
void ReadSurface(ByteCursor body, LwoScan& scan) {
  std::string name;
  bool terminated = false;
  while (body.remaining() > 0) {
    const uint8_t c = body.u8();
    if (c == 0) {
      terminated = true;
      break;
    }
    name.push_back(static_cast<char>(c));
  }
  if (terminated && (name.size() + 1) % 2 == 1 && body.remaining() > 0) body.skip(1);
  for (size_t k = 0; k < scan.surfaces.size(); ++k) {
    if (scan.surfaces[k].name == name) {
      scan.currentSurface = k;
      break;
    }
  }
  // A texture starts at its xTEX sub-chunk; the T sub-chunks after it describe it.
  SurfaceImage texture;
  SurfaceImage* target = nullptr;  // the surface's colour or diffuse image the texture would be
  bool imageMap = false;
  auto finish = [&] {
    if (target && imageMap && target->file.empty() && !texture.file.empty()) *target = texture;
    target = nullptr;
  };
  while (body.remaining() >= 6) {
    uint8_t id[4];
    body.read(id, 4);
    // A sub-chunk longer than what is there keeps what is there: a COLR whose length overstates
    // its bytes still has its three colour bytes.
    const uint16_t stated = body.u16be();
    const uint16_t length = static_cast<uint16_t>(std::min<size_t>(stated, body.remaining()));
    ByteCursor sub = body.sub(length);
    const bool known = scan.currentSurface < scan.surfaces.size();
    if (IdIs(id, "COLR") && length >= 3 && known) {
      SurfaceRecord& s = scan.surfaces[scan.currentSurface];
      s.red = sub.u8();
      s.green = sub.u8();
      s.blue = sub.u8();
    } else if (id[1] == 'T' && id[2] == 'E' && id[3] == 'X') {
      finish();
      SurfaceRecord* s = known ? &scan.surfaces[scan.currentSurface] : nullptr;
      if (s && id[0] == 'C') target = &s->colourImage;
      if (s && id[0] == 'D') target = &s->diffuseImage;
      const std::string type(reinterpret_cast<const char*>(sub.rest().data()),
                             strnlen(reinterpret_cast<const char*>(sub.rest().data()), length));
      texture = SurfaceImage{};
      imageMap = true;
      if (type == "Planar Image Map") {
        texture.map.projection = LwoProjection::kPlanar;
      } else if (type == "Cylindrical Image Map") {
        texture.map.projection = LwoProjection::kCylindrical;
      } else if (type == "Spherical Image Map") {
        texture.map.projection = LwoProjection::kSpherical;
      } else if (type == "Cubic Image Map") {
        texture.map.projection = LwoProjection::kCubic;
      } else {
        imageMap = false;
      }
    } else if (IdIs(id, "TFLG") && length >= 2) {
      const uint16_t flags = sub.u16be();  // bits 0 to 2: the x, y or z axis
      texture.map.axis = (flags & 1) ? 0 : (flags & 2) ? 1 : (flags & 4) ? 2 : 0;
    } else if ((IdIs(id, "TSIZ") || IdIs(id, "TCTR")) && length >= 12) {
      const float x = sub.f32be(), y = sub.f32be(), z = sub.f32be();
      (id[1] == 'S' ? texture.map.size : texture.map.centre) = {x, y, z};
    } else if (IdIs(id, "TIMG")) {
      const auto* text = reinterpret_cast<const char*>(sub.rest().data());
      const std::string path(text, strnlen(text, length));
      // "(none)" names no image; an image sequence ("name (sequence)") names no one file.
      const std::string sequence = " (sequence)";
      const bool isSequence =
          path.size() >= sequence.size() &&
          path.compare(path.size() - sequence.size(), std::string::npos, sequence) == 0;
      texture.file = path == "(none)" || isSequence ? "" : LwoImageFileName(path);
    } else if (IdIs(id, "TWRP") && length >= 4) {
      // Black, clamp, repeat, mirror.
      constexpr LwoWrap kWraps[] = {LwoWrap::kReset, LwoWrap::kEdge, LwoWrap::kRepeat,
                                    LwoWrap::kMirror};
      const uint16_t width = sub.u16be(), height = sub.u16be();
      texture.map.wrapU = width < 4 ? kWraps[width] : LwoWrap::kRepeat;
      texture.map.wrapV = height < 4 ? kWraps[height] : LwoWrap::kRepeat;
    } else if ((IdIs(id, "TFP0") || IdIs(id, "TFP1")) && length >= 4) {
      (id[3] == '0' ? texture.map.widthWrap : texture.map.heightWrap) = sub.f32be();
    } else if (IdIs(id, "SMAN") && length >= 4 && scan.currentSurface < scan.surfaces.size()) {
      // The smoothing angle in radians: edges sharper than it stay sharp.
      scan.surfaces[scan.currentSurface].smoothAngle =
          SmoothAngleCode(double(sub.f32be()) * 180.0 / 3.14159265358979);
      scan.smanSeen = true;
    }
  }
  finish();
  ++scan.currentSurface;
}

// Walks the chunks after the 12-byte header while the form's length lasts. A chunk that runs
// past the end of the data ends the walk; what was read before it is kept, and so is what a SURF
// chunk cut short holds up to the cut.
void ScanChunks(ByteCursor& file, int64_t remaining, LwoScan& scan) {
  while (remaining > 0 && file.remaining() >= 8) {
    uint8_t id[4];
    file.read(id, 4);
    const uint32_t length = file.u32be();
    remaining -= 8 + int64_t{length};
    if (length > file.remaining()) {
      if (IdIs(id, "SURF")) ReadSurface(file.sub(file.remaining()), scan);
      break;
    }
    ByteCursor body = file.sub(length);
    if (IdIs(id, "PNTS")) {
      scan.points = body.rest();
      scan.pntsSeen = true;
    } else if (IdIs(id, "SRFS")) {
      ReadSurfaceNames(body, scan);
      scan.srfsSeen = true;
    } else if (IdIs(id, "POLS")) {
      scan.polygons = body.rest();
      scan.polsSeen = true;
    } else if (IdIs(id, "SURF")) {
      ReadSurface(body, scan);
    }
  }
}

// The POLS words: records of a point count n, n point indices, the surface number (1-based;
// negative for a polygon that carries detail polygons, in which case a word with their count
// follows and the detail polygons come next as ordinary records). Read in two passes over the
// same words: Check, which needs no model, then Fill.
class PolygonWords {
 public:
  explicit PolygonWords(std::span<const uint8_t> words)
      : words_(words.first(words.size() & ~size_t{1})) {}

  // Checks every record against the final point and surface lists and counts the polygons the
  // file holds (larger polygons become fans of n - 2 triangles, empty ones none). False with a
  // reason when a record is cut short or names a point or surface that does not exist.
  bool Check(size_t pointCount, size_t surfaceCount, int64_t& polygons, int& emptyPolygons,
             std::string& reason) const {
    const size_t words = words_.size() / 2;
    char text[160];
    polygons = 0;
    size_t w = 0;
    for (size_t record = 0; w < words; ++record) {
      const uint16_t n = Word(w++);
      if (words - w < size_t{n} + 1) {
        std::snprintf(text, sizeof text, "polygon %zu runs past the end of the polygon list",
                      record);
        reason = text;
        return false;
      }
      for (uint16_t i = 0; i < n; ++i) {
        const uint16_t index = Word(w++);
        if (index >= pointCount) {
          std::snprintf(text, sizeof text, "polygon %zu names point %u of %zu", record, index,
                        pointCount);
          reason = text;
          return false;
        }
      }
      int32_t surface = int16_t(Word(w++));
      if (surface < 0) {
        surface = -surface;
        if (w >= words) {
          std::snprintf(text, sizeof text, "polygon %zu lacks its detail polygon count", record);
          reason = text;
          return false;
        }
        ++w;  // the detail polygons follow as ordinary records
      }
      if (surface == 0 || size_t(surface) > surfaceCount) {
        std::snprintf(text, sizeof text, "polygon %zu names surface %d of %zu", record, surface,
                      surfaceCount);
        reason = text;
        return false;
      }
      if (n == 0) {
        ++emptyPolygons;
        continue;
      }
      polygons += n > kMaxCorners ? n - 2 : 1;
    }
    return true;
  }

  // Writes the first `limit` polygons of the checked records from model.polygons[0] on, each
  // with its own colour entry (its group's colour) named by every corner, and the group
  // `groupOf` gives for its surface. The corners of a surface with an image map each get their
  // own texture coordinates, projected from `points` (the PNTS body) and appended to `uvs`; with
  // `smoothing`, the surface's smoothing angle.
  void Fill(Model& model, const std::vector<SurfaceRecord>& surfaces,
            const std::vector<int32_t>& groupOf, size_t limit, std::span<const uint8_t> points,
            std::vector<Uv>& uvs, bool smoothing) const {
    const size_t words = words_.size() / 2;
    size_t out = 0;
    std::vector<Vec3> filePoints;
    std::vector<Uv> projected;
    PolygonSplitter splitter;
    std::vector<Vec3> outline;
    for (size_t w = 0; w < words && out < limit;) {
      const uint16_t n = Word(w++);
      const size_t first = w;
      w += n;
      int32_t surface = int16_t(Word(w++));
      if (surface < 0) {
        surface = -surface;
        ++w;
      }
      if (n == 0) continue;
      const int32_t group = groupOf[size_t(surface - 1)];
      const ColourF colourOfGroup = model.groups[size_t(group)].colour;
      const SurfaceRecord& r = surfaces[size_t(surface - 1)];
      const SurfaceImage* image = r.Image();
      if (image) {
        filePoints.resize(n);
        projected.resize(n);
        for (uint16_t i = 0; i < n; ++i)
          filePoints[i] = PointAt(points, Word(first + i));
        LwoProjectPolygon(image->map, filePoints.data(), n, projected.data());
      }
      // Larger polygons, and quads that fold, are split along their outline (polygon_split.h).
      std::span<const CornerTriangle> split;
      if (n >= 4) {  // at most 65535 corners: within what Split clips
        outline.clear();
        for (size_t i = 0; i < n; ++i)
          outline.push_back(model.positions[Word(first + i)]);
        split = splitter.Split(outline);
      }
      const size_t start = n == 4 && !split.empty() ? split[0][0] : 0;
      const int fans = n > kMaxCorners ? n - 2 : 1;
      for (int k = 1; k <= fans && out < limit; ++k) {
        const auto colour = static_cast<int32_t>(out);
        // Written field by field in place: a polygon built aside and copied in whole was read
        // back in wide loads from narrow stores, which cannot be forwarded and stalled.
        Polygon& p = model.polygons[out];
        p.cornerCount = static_cast<uint8_t>(n <= kMaxCorners ? n : 3);
        for (size_t i = 0; i < size_t{kMaxCorners}; ++i) {
          const size_t word = n <= kMaxCorners ? first + (start + i) % n
                              : !split.empty() ? first + split[size_t(k) - 1][i % 3]
                              : i == 0         ? first
                                               : first + size_t(k) + i - 1;
          p.corners[i] = i < p.cornerCount ? Corner{Word(word), 0, colour, 0} : Corner{};
          if (image && i < p.cornerCount) {
            p.corners[i].uv = static_cast<int32_t>(uvs.size());
            uvs.push_back(projected[word - first]);
          }
        }
        p.group = group;
        p.smoothAngle = smoothing ? r.smoothAngle : 0;
        p.faceNormal = {};
        model.colours[out++] = colourOfGroup;
      }
    }
  }

 private:
  uint16_t Word(size_t i) const { return uint16_t(words_[2 * i] << 8 | words_[2 * i + 1]); }
  static Vec3 PointAt(std::span<const uint8_t> points, size_t i) {
    const uint8_t* b = points.data() + 12 * i;
    auto f = [](const uint8_t* q) {
      return std::bit_cast<float>(uint32_t(q[0]) << 24 | uint32_t(q[1]) << 16 |
                                  uint32_t(q[2]) << 8 | uint32_t(q[3]));
    };
    return {f(b), f(b + 4), f(b + 8)};
  }

  std::span<const uint8_t> words_;
};

}  // namespace

int LoadLwoFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t /*version*/) {
  ByteCursor file(bytes);
  if (file.remaining() < 12) {
    host.Refuse(path, "shorter than an IFF header");
    return 0;
  }
  if (bytes[0] != 'F') {
    host.Refuse(path, "not an IFF file");
    return 0;
  }
  // Only the first byte is tested: the rest of "FORM" and the form type are not looked at.
  file.skip(4);
  const int64_t formLength = file.u32be();
  file.skip(4);

  LwoScan scan;
  ScanChunks(file, formLength - 4, scan);
  if (!scan.srfsSeen || !scan.pntsSeen || !scan.polsSeen) {
    host.Refuse(path, !scan.srfsSeen   ? "no SRFS chunk"
                      : !scan.pntsSeen ? "no PNTS chunk"
                                       : "no POLS chunk");
    return 0;
  }
  if (scan.tooManySurfaces) {
    host.Refuse(path, "more than 256 surfaces");
    return 0;
  }

  const size_t pointCount = scan.points.size() / 12;
  const PolygonWords words(scan.polygons);
  int64_t total = 0;
  int emptyPolygons = 0;
  std::string reason;
  if (!words.Check(pointCount, scan.surfaces.size(), total, emptyPolygons, reason)) {
    host.Refuse(path, reason);
    return 0;
  }
  // A preallocated model cuts the polygons at its capacity. Otherwise all are read, as long as
  // they fit the memory a read may take: fans of large polygons make a triangle of every two
  // bytes, each of which costs a polygon and a colour.
  const int32_t limit = PolygonLimit(host, model);
  const auto polygonCount = static_cast<size_t>(std::min<int64_t>(total, limit));
  // Projected texture coordinates are gathered, then copied into the model: two of each.
  const bool images = std::any_of(scan.surfaces.begin(), scan.surfaces.end(),
                                  [](const SurfaceRecord& r) { return r.Image() != nullptr; });
  const uint64_t need = uint64_t{polygonCount} * (sizeof(Polygon) + sizeof(ColourF)) +
                        (images ? uint64_t{polygonCount} * kMaxCorners * 2 * sizeof(Uv) : 0) +
                        uint64_t{pointCount} * (3 * sizeof(Vec3) + sizeof(VertexAttr));
  if (!ReadMemoryAllows(need, bytes.size())) {
    host.Refuse(path, "the model would need " + std::to_string(need >> 20) + " MB");
    return 0;
  }

  // The group of a surface is the last surface of the same colour; a surface with an image map
  // keeps its own group.
  const size_t surfaceCount = scan.surfaces.size();
  std::vector<int32_t> groupOf(surfaceCount);
  for (size_t s = 0; s < surfaceCount; ++s) {
    const SurfaceRecord& a = scan.surfaces[s];
    if (a.Image()) {
      groupOf[s] = static_cast<int32_t>(s);
      continue;
    }
    for (size_t g = surfaceCount; g-- > 0;) {
      const SurfaceRecord& b = scan.surfaces[g];
      if (!b.Image() && a.red == b.red && a.green == b.green && a.blue == b.blue) {
        groupOf[s] = static_cast<int32_t>(g);
        break;
      }
    }
  }

  // The file is sound: fill the model.
  model.fileName.Set(path);
  GrowPositionPools(model, pointCount);
  const uint8_t* pts = scan.points.data();  // pointCount * 12 bytes
  auto f32be = [](const uint8_t* b) {
    return std::bit_cast<float>(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 |
                                uint32_t(b[3]));
  };
  for (size_t i = 0; i < pointCount; ++i, pts += 12) {
    model.positions[i] = {f32be(pts) * 10.0f, f32be(pts + 4) * 10.0f, f32be(pts + 8) * 10.0f};
  }
  model.positionCount = static_cast<int32_t>(pointCount);

  // An image map replaces the surface's colour: its group is white and names the image's slot.
  std::vector<std::string> textures;  // texture slot t names textures[t - 1]
  GrowTo(model.groups, surfaceCount);
  for (size_t s = 0; s < surfaceCount; ++s) {
    const SurfaceRecord& r = scan.surfaces[s];
    model.groups[s] = NewGroup();
    model.groups[s].colour = {r.red, r.green, r.blue, 255.0f};
    if (const SurfaceImage* image = r.Image()) {
      auto slot = std::find(textures.begin(), textures.end(), image->file);
      if (slot == textures.end()) slot = textures.insert(textures.end(), image->file);
      model.groups[s].colour = {255.0f, 255.0f, 255.0f, 255.0f};
      model.groups[s].textureSlot = static_cast<int32_t>(slot - textures.begin()) + 1;
    }
  }
  model.groupCount = static_cast<int32_t>(surfaceCount);

  GrowTo(model.colours, polygonCount);
  GrowTo(model.polygons, polygonCount);
  std::vector<Uv> uvs;
  words.Fill(model, scan.surfaces, groupOf, polygonCount, scan.points, uvs, scan.smanSeen);
  model.colourCount = static_cast<int32_t>(polygonCount);
  model.polygonCount = static_cast<int32_t>(polygonCount);
  model.colour = {255.0f, 255.0f, 255.0f, 255.0f};
  if (!textures.empty()) {
    GrowTo(model.uvs, uvs.size());
    std::copy(uvs.begin(), uvs.end(), model.uvs.begin());
    model.uvCount = static_cast<int32_t>(uvs.size());
    GrowTo(model.textureSlots, textures.size() + 1);
    for (size_t t = 1; t <= textures.size(); ++t) {
      model.textureSlots[t] = TextureSlot{};
      model.textureSlots[t].state = 1;
      model.textureSlots[t].fileName.Set(textures[t - 1]);
    }
    model.textureSlotCount = static_cast<int16_t>(textures.size() + 1);
  }

  DeriveNormals(model);
  for (size_t t = 1; t <= textures.size(); ++t)
    host.LoadModelTexture(model, static_cast<int32_t>(t), textures[t - 1]);
  model.shadingChanged = 1;
  if (total > limit) host.Log(PolygonCapacityLine(path, total, limit));
  if (emptyPolygons > 0) {
    host.Refuse(path, std::to_string(emptyPolygons) + " polygons without points left out");
  }
  return 1;
}

int LoadLwo(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be read");
    return 0;
  }
  return LoadLwoFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
