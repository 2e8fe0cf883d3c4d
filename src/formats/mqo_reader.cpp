// Metasequoia text document reader ("Format Text Ver 1.0" and "Ver 1.1", CR LF or LF line ends).
// Line-based and keyword-driven: Material blocks become groups (colour from col(), texture from
// tex()), every Object's vertex block is appended to the positions as (x, y, -z) × 0.1, and its
// face lines of 2 to 4 vertices become polygons, with UVs for faces of textured materials. An
// Object's facet (its smoothing angle in degrees; shading 0 makes it flat) becomes the smoothing
// angle of its faces. Every other line is skipped, and so is every other block, by its braces.
// Lines are taken as a 1024-byte line buffer takes them: longer lines arrive in pieces of 1023
// bytes, and a line's text ends at its first NUL byte. Faces naming a vertex outside their object
// or a material outside 0 to 255 are dropped (one log line each kind). The document is read whole
// into working state before the model is touched, so a refused document leaves the model as it was.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "formats/mqo_tokenizer.h"
#include "model/normals.h"
#include "model/polygon_split.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr int64_t kMaxBlockVertices = 160000;  // a larger vertex block ends its object
constexpr int kMaxMaterials = 256;             // a model with motions holds at most 256 groups
constexpr size_t kLineBuffer = 1024;
constexpr float kTenth = 0.1f;

// Lines as a 1024-byte buffer reads them: up to 1023 bytes, through the first LF. The text of a
// line ends at its first NUL byte.
class LineReader {
 public:
  explicit LineReader(std::span<const uint8_t> bytes)
      : text_(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}

  bool Read(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    size_t n = std::min(kLineBuffer - 1, text_.size() - pos_);
    const size_t lf = text_.substr(pos_, n).find('\n');
    if (lf != std::string_view::npos) n = lf + 1;
    line = text_.substr(pos_, n);
    pos_ += n;
    line = line.substr(0, line.find('\0'));
    return true;
  }

  // The next line of the document: false at the end of the data and at the end marker, a line
  // whose first three characters are "eof" or "Eof". Once false, always false.
  bool Next(std::string_view& line) {
    if (ended_ || !Read(line) || line.starts_with("eof") || line.starts_with("Eof")) {
      ended_ = true;
      return false;
    }
    return true;
  }
  bool ended() const { return ended_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  bool ended_ = false;
};

// The braces a line opens minus those it closes, outside double quotes.
int64_t BraceBalance(std::string_view line) {
  int64_t balance = 0;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (!quoted) balance += c == '{' ? 1 : c == '}' ? -1 : 0;
  }
  return balance;
}

// Skips the block that `line` opens (when it opens one) through its closing line, nested blocks
// included; the end of the document ends it too. Only a count is kept, however deep the nesting.
void SkipBlock(std::string_view line, LineReader& lines) {
  for (int64_t depth = BraceBalance(line); depth > 0 && lines.Next(line);)
    depth += BraceBalance(line);
}

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// A decimal number at `pos` after optional white space, as the C conversions read one. False
// (pos unchanged) when there is none.
bool ScanDouble(std::string_view s, size_t& pos, double& out) {
  size_t p = pos;
  while (p < s.size() && IsSpace(s[p]))
    ++p;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  if (p >= s.size() || s[p] == '+' || s[p] == '-') return false;
  double v = 0.0;
  const auto [end, ec] = std::from_chars(s.data() + p, s.data() + s.size(), v);
  if (ec == std::errc::invalid_argument) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too large becomes infinite, too small zero, as strtod gives them.
    const std::string text(s.data() + p, end);
    v = std::strtod(text.c_str(), nullptr);
  }
  out = negative ? -v : v;
  pos = size_t(end - s.data());
  return true;
}

// A decimal integer at `pos` after optional white space; values beyond ±2^40 saturate (they name
// nothing a file can hold). False (pos unchanged) when there is none.
bool ScanInt(std::string_view s, size_t& pos, int64_t& out) {
  size_t p = pos;
  while (p < s.size() && IsSpace(s[p]))
    ++p;
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  if (p >= s.size() || s[p] < '0' || s[p] > '9') return false;
  int64_t v = 0;
  for (; p < s.size() && s[p] >= '0' && s[p] <= '9'; ++p)
    v = std::min<int64_t>(v * 10 + (s[p] - '0'), int64_t{1} << 40);
  out = negative ? -v : v;
  pos = p;
  return true;
}

double Atof(std::string_view s) {
  size_t pos = 0;
  double v = 0.0;
  return ScanDouble(s, pos, v) ? v : 0.0;
}

int64_t Atoi(std::string_view s) {
  size_t pos = 0;
  int64_t v = 0;
  return ScanInt(s, pos, v) ? v : 0;
}

// Characters [from, from + n) of a token, clipped to the token.
std::string_view Field(std::string_view token, size_t from, size_t n) {
  return from < token.size() ? token.substr(from, n) : std::string_view{};
}

struct PendingFace {
  uint8_t cornerCount = 0;
  std::array<int64_t, kMaxCorners> vertex{};  // indices into the face's object
  int64_t material = 0;
  std::array<Uv, kMaxCorners> uv{};
  bool textured = false;  // the material had a texture when the face was read
  size_t object = 0;
};

// An object's shading lines: `facet` degrees, and `shading 0` (flat) or 1 (smooth).
struct ObjectShading {
  double facet = -1.0;  // negative: no facet line
  bool flat = false;
};

// Working state of one read.
struct MqoScan {
  std::vector<Group> materials;  // groups made from material lines, by material index
  std::array<int32_t, kMaxMaterials> materialSlot{};  // texture slot per material, 0 for none
  std::vector<std::string> textures;                  // file name of slot s at s - 1
  std::vector<Vec3> positions;
  std::vector<size_t> objectBase;      // first position of each object
  std::vector<size_t> mirrored;        // ordinals of objects with a mirror line
  std::vector<ObjectShading> shading;  // by object ordinal
  std::vector<PendingFace> faces;
  int faceLinesWithoutVertices = 0;
  std::string refusal;  // set when the document cannot be taken
};

// What follows the last backslash or slash, stepping over two-byte characters: the second byte
// of 表 or ソ is a backslash's byte and cuts nothing.
std::string FileNamePart(std::string_view path) {
  const size_t backslash = platform::Cp932FindLast(path, '\\');
  const size_t slash = platform::Cp932FindLast(path, '/');
  size_t cut = backslash == std::string_view::npos ? slash
               : slash == std::string_view::npos   ? backslash
                                                   : std::max(backslash, slash);
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// One material line: its name, then col() and tex() among the other tokens.
void ReadMaterial(MqoTokenizer& tokens, const std::string& name, size_t j, MqoScan& scan) {
  Group g = NewGroup();
  g.name.Set(name);
  g.colour = {255.0f, 255.0f, 255.0f, 255.0f};
  g.textureSlot = 0;
  scan.materialSlot[j] = 0;
  std::string token;
  bool more = true;
  while (more) {
    token.clear();
    more = tokens.Next(token);
    if (token.starts_with("col")) {
      // Four numbers at fixed places: "col(" then values written with three decimals.
      g.colour.r = float(Atof(Field(token, 4, 5)) * 255.0);
      g.colour.g = float(Atof(Field(token, 10, 5)) * 255.0);
      g.colour.b = float(Atof(Field(token, 16, 5)) * 255.0);
      g.colour.a = float(Atof(Field(token, 22, 5)) * 255.0);
    } else if (token.starts_with("tex")) {
      if (scan.textures.size() + 1 >= size_t{INT16_MAX}) {
        scan.refusal = "more texture slots than a model can count";
        return;
      }
      const std::string_view rest = Field(token, 5, std::string_view::npos);
      scan.textures.push_back(FileNamePart(rest.substr(0, rest.find('"'))));
      g.textureSlot = static_cast<int32_t>(scan.textures.size());
      scan.materialSlot[j] = g.textureSlot;
    }
  }
  if (scan.materials.size() <= j) scan.materials.resize(j + 1);
  scan.materials[j] = std::move(g);
}

void ReadMaterials(LineReader& lines, int64_t count, MqoScan& scan) {
  std::string_view line;
  for (int64_t j = 0; j < count && lines.Next(line); ++j) {
    MqoTokenizer tokens(line);
    std::string name;
    tokens.Next(name);
    if (name.starts_with("}")) return;
    if (j >= kMaxMaterials) {
      scan.refusal = "more than 256 materials";
      return;
    }
    ReadMaterial(tokens, name, size_t(j), scan);
    if (!scan.refusal.empty()) return;
  }
}

// A face line: vertex count (first character of the first token), V(...), the material M(...),
// and the numbers after the line's last 'U' as the UVs.
void ReadFace(std::string_view line, MqoScan& scan) {
  MqoTokenizer tokens(line);
  std::string first, vertices, material;
  tokens.Next(first);
  if (first.empty() || first[0] < '2' || first[0] > '4') return;
  PendingFace face;
  face.cornerCount = uint8_t(first[0] - '0');
  tokens.Next(vertices);
  tokens.Next(material);
  size_t pos = 2;
  for (int k = 0; k < face.cornerCount; ++k) {
    if (!ScanInt(vertices, pos, face.vertex[size_t(k)])) {
      ++scan.faceLinesWithoutVertices;
      return;
    }
  }
  face.material = Atoi(Field(material, 2, std::string_view::npos));
  // The numbers of UV(...); a line without that token is read from its last 'U'.
  const size_t uvToken = line.rfind("UV(");
  const size_t u = uvToken != std::string_view::npos ? uvToken : line.rfind('U');
  if (u != std::string_view::npos) {
    pos = u + 3;
    const int values = face.cornerCount == 4 ? 8 : 6;
    double v[8] = {};
    for (int i = 0; i < values && pos <= line.size() && ScanDouble(line, pos, v[i]); ++i) {
    }
    for (int k = 0; k < face.cornerCount; ++k)
      face.uv[size_t(k)] = {float(v[2 * k]), float(v[2 * k + 1])};
  }
  face.textured = face.material >= 0 && face.material < kMaxMaterials &&
                  scan.materialSlot[size_t(face.material)] > 0;
  face.object = scan.objectBase.size() - 1;
  scan.faces.push_back(face);
}

// The lines of one Object, up to the closing line of its level or a line that ends it early.
void ReadObject(LineReader& lines, MqoScan& scan) {
  scan.objectBase.push_back(scan.positions.size());
  scan.shading.emplace_back();
  const size_t ordinal = scan.objectBase.size() - 1;
  int level = 1;
  std::string_view line;
  while (lines.Next(line)) {
    MqoTokenizer tokens(line);
    std::string keyword, count;
    tokens.Next(keyword);
    tokens.Next(count);
    if (keyword == "mirror") {
      scan.mirrored.push_back(ordinal);
    } else if (keyword == "facet") {
      const double facet = Atof(count);
      scan.shading[ordinal].facet = facet > 0.0 ? facet : 0.0;
    } else if (keyword == "shading") {
      scan.shading[ordinal].flat = Atoi(count) == 0;
    } else if (keyword == "vertex") {
      const int64_t n = Atoi(count);
      if (n > kMaxBlockVertices) return;
      ++level;
      for (int64_t i = 0; i < n && lines.Next(line); ++i) {
        MqoTokenizer xyz(line);
        std::string x, y, z;
        xyz.Next(x);
        xyz.Next(y);
        xyz.Next(z);
        // The value read times the single-precision tenth, rounded to single once.
        const double tenth = kTenth;
        scan.positions.push_back(
            {float(Atof(x) * tenth), float(Atof(y) * tenth), -float(Atof(z) * tenth)});
      }
      if (scan.positions.size() > size_t{INT32_MAX}) {
        scan.refusal = "more vertices than a model can count";
        return;
      }
    } else if (keyword == "face") {
      const int64_t n = Atoi(count);
      ++level;
      for (int64_t i = 0; i < n && lines.Next(line); ++i)
        ReadFace(line, scan);
    } else if (keyword == "BVertex") {
      return;
    } else if (keyword.starts_with("}")) {
      if (--level == 0) return;
    } else {
      SkipBlock(line, lines);  // vertexattr and the like
    }
  }
}

}  // namespace

int LoadMqoFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t /*version*/) {
  LineReader lines(bytes);
  std::string_view first, second;
  auto isLine = [](std::string_view line, std::string_view text) {
    return line.starts_with(text) &&
           (line.substr(text.size()) == "\r\n" || line.substr(text.size()) == "\n");
  };
  if (!lines.Read(first) || !isLine(first, "Metasequoia Document")) {
    host.Refuse(path, "not a Metasequoia document");
    return 0;
  }
  if (!lines.Read(second) ||
      !(isLine(second, "Format Text Ver 1.0") || isLine(second, "Format Text Ver 1.1"))) {
    host.Refuse(path, "not a Format Text Ver 1.0 or 1.1 document");
    return 0;
  }

  MqoScan scan;
  std::string_view line;
  while (scan.refusal.empty() && lines.Next(line)) {
    MqoTokenizer tokens(line);
    std::string keyword, count;
    tokens.Next(keyword);
    tokens.Next(count);
    if (keyword == "Material") {
      ReadMaterials(lines, Atoi(count), scan);
    } else if (keyword == "Object") {
      ReadObject(lines, scan);
    } else {
      SkipBlock(line, lines);  // Scene, BackImage and the like
    }
  }
  if (!scan.refusal.empty()) {
    host.Refuse(path, scan.refusal);
    return 0;
  }

  // Resolve the faces: each names vertices of its own object, which runs up to the next one.
  // A preallocated model cuts the faces at its polygon capacity.
  const size_t capacity = size_t(PolygonLimit(host, model));
  std::vector<PendingFace> kept;
  kept.reserve(std::min(scan.faces.size(), capacity));
  int64_t sound = 0;
  int outsideObject = 0, outsideMaterials = 0;
  int64_t highestMaterial = -1;
  size_t uvCount = 1;
  for (const PendingFace& f : scan.faces) {
    const size_t base = scan.objectBase[f.object];
    const size_t end = f.object + 1 < scan.objectBase.size() ? scan.objectBase[f.object + 1]
                                                             : scan.positions.size();
    bool inside = true;
    for (int k = 0; k < f.cornerCount; ++k)
      inside = inside && f.vertex[size_t(k)] >= 0 && size_t(f.vertex[size_t(k)]) < end - base;
    if (!inside) {
      ++outsideObject;
      continue;
    }
    if (f.material < 0 || f.material >= kMaxMaterials) {
      ++outsideMaterials;
      continue;
    }
    if (++sound > int64_t(capacity)) continue;
    highestMaterial = std::max(highestMaterial, f.material);
    if (f.textured) uvCount += f.cornerCount;
    kept.push_back(f);
  }
  if (uvCount > size_t{INT32_MAX}) {
    host.Refuse(path, "more texture coordinates than a model can count");
    return 0;
  }
  const uint64_t need = uint64_t{kept.size()} * sizeof(Polygon) + uint64_t{uvCount} * sizeof(Uv) +
                        uint64_t{scan.positions.size()} * (3 * sizeof(Vec3) + sizeof(VertexAttr));
  if (!ReadMemoryAllows(need, bytes.size())) {
    host.Refuse(path, "the model would need " + std::to_string(need >> 20) + " MB");
    return 0;
  }

  // The document is taken: fill the model.
  model.fileName.Set(path);
  GrowTo(model.colours, 1);
  model.colours[0] = {255.0f, 255.0f, 255.0f, 255.0f};
  model.colourCount = 1;

  GrowPositionPools(model, scan.positions.size());
  std::copy(scan.positions.begin(), scan.positions.end(), model.positions.begin());
  model.positionCount = static_cast<int32_t>(scan.positions.size());

  const size_t groupCount =
      std::max(scan.materials.size(), static_cast<size_t>(highestMaterial + 1));
  GrowTo(model.groups, groupCount);
  for (size_t g = 0; g < groupCount; ++g) {
    model.groups[g] = g < scan.materials.size() ? scan.materials[g] : NewGroup();
    model.groups[g].parameterByte = 10;
  }
  for (size_t ordinal : scan.mirrored)
    if (ordinal < groupCount) model.groups[ordinal].mirror = 1;
  model.groupCount = static_cast<int32_t>(groupCount);

  GrowTo(model.uvs, uvCount);
  GrowTo(model.polygons, kept.size());
  model.uvs[0] = {0.0f, 0.0f};
  size_t nextUv = 1;
  PolygonSplitter splitter;
  for (size_t p = 0; p < kept.size(); ++p) {
    const PendingFace& f = kept[p];
    Polygon poly;
    poly.cornerCount = f.cornerCount;
    poly.group = static_cast<int32_t>(f.material);
    const ObjectShading& shading = scan.shading[f.object];
    if (shading.flat) {
      poly.smoothAngle = SmoothAngleCode(0.0);
    } else if (shading.facet >= 0.0) {
      poly.smoothAngle = SmoothAngleCode(shading.facet);
    }
    auto position = [&](size_t k) {
      return static_cast<int32_t>(scan.objectBase[f.object] + size_t(f.vertex[k]));
    };
    // A quad that would fold on the diagonal from its first corner splits on the other one.
    size_t start = 0;
    if (f.cornerCount == 4) {
      const Vec3 quad[4] = {
          model.positions[size_t(position(0))], model.positions[size_t(position(1))],
          model.positions[size_t(position(2))], model.positions[size_t(position(3))]};
      start = size_t(splitter.QuadFanStart(quad));
    }
    for (int k = 0; k < f.cornerCount; ++k) {
      const size_t from = (start + size_t(k)) % f.cornerCount;
      Corner& c = poly.corners[size_t(k)];
      c.position = position(from);
      if (f.textured) {
        model.uvs[nextUv] = f.uv[from];
        c.uv = static_cast<int32_t>(nextUv++);
      }
    }
    model.polygons[p] = poly;
  }
  model.uvCount = static_cast<int32_t>(uvCount);
  model.polygonCount = static_cast<int32_t>(kept.size());

  const size_t slotCount = scan.textures.size() + 1;
  GrowTo(model.textureSlots, slotCount);
  for (size_t s = 1; s < slotCount; ++s) {
    model.textureSlots[s] = TextureSlot{};
    model.textureSlots[s].state = 1;
    model.textureSlots[s].fileName.Set(scan.textures[s - 1]);
  }
  model.textureSlotCount = static_cast<int16_t>(slotCount);

  DeriveNormals(model);
  for (size_t s = 1; s < slotCount; ++s) {
    if (model.textureSlots[s].state == 1) {
      host.LoadModelTexture(model, int32_t(s), std::string(model.textureSlots[s].fileName.View()));
    }
  }
  model.shadingChanged = 1;

  if (sound > int64_t(capacity)) host.Log(PolygonCapacityLine(path, sound, int32_t(capacity)));
  if (outsideObject > 0) {
    host.Refuse(path, std::to_string(outsideObject) +
                          " faces left out: they name vertices outside their object");
  }
  if (outsideMaterials > 0) {
    host.Refuse(path, std::to_string(outsideMaterials) +
                          " faces left out: they name materials outside 0 to 255");
  }
  if (scan.faceLinesWithoutVertices > 0) {
    host.Refuse(path, std::to_string(scan.faceLinesWithoutVertices) +
                          " face lines left out: they lack their vertex indices");
  }
  return 1;
}

int LoadMqo(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be read");
    return 0;
  }
  return LoadMqoFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
