// Rokkaku Daioh (ROK) reader. The file is text with one value per line: a numbered point list
// after "POINT", edges between points after "LINE0", faces as chains of three or four edges with
// a palette number after "FACE0" (ended by "END00"), and a 13-entry palette between "PALC0" and
// "ENDP0". Each face's vertex order is recovered from its edge chain; every face vertex gets its
// own position (10 x (x, -y, z)) and colour entry, and every face goes into group 0, which is
// drawn flat; all groups become double-sided.
//
// Lines end at CR or LF (a CR LF or LF CR pair is one line end) and hold at most 19 characters;
// a longer line is cut into pieces of 19. Numbers are read as the C library reads them (leading
// blanks skipped, trailing text ignored). The whole file is checked before the model is touched:
// a refused file leaves the model as it was.
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "platform/file_io.h"

namespace wz {
namespace {

constexpr size_t kMaxLineChars = 19;
constexpr int kPaletteEntries = 13;  // in the file; entry 0 of the working table is built in

class LineReader {
 public:
  explicit LineReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // The next line or piece of a line, as a C string (up to a NUL byte it may hold); false at
  // the end of the input.
  bool Next(std::string& line) {
    if (pos_ >= bytes_.size()) return false;
    line.clear();
    while (pos_ < bytes_.size() && line.size() < kMaxLineChars && !IsLineEnd(bytes_[pos_]))
      line.push_back(char(bytes_[pos_++]));
    // A line end right after a full piece ends this line, not a further empty one.
    if (pos_ < bytes_.size() && IsLineEnd(bytes_[pos_])) SkipLineEnd();
    line.resize(std::strlen(line.c_str()));
    return true;
  }

 private:
  static bool IsLineEnd(uint8_t b) { return b == '\r' || b == '\n'; }
  // One CR or LF, and its partner when the pair is CR LF or LF CR.
  void SkipLineEnd() {
    const uint8_t first = bytes_[pos_++];
    if (pos_ < bytes_.size() && IsLineEnd(bytes_[pos_]) && bytes_[pos_] != first) ++pos_;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// atoi and atof, without their undefined behaviour on overflow.
int ToInt(const std::string& line) {
  const long v = std::strtol(line.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}
float ToFloat(const std::string& line) {
  return float(std::strtod(line.c_str(), nullptr));
}

struct Edge {
  int a = 0;  // point numbers, 1-based
  int b = 0;
};

struct Face {
  int vertexCount = 0;
  int palette = 0;
  std::array<int, 4> edges{};  // edge numbers, 1-based
};

struct RokFile {
  std::vector<Vec3> points;  // (x, -y, z)
  std::vector<Edge> edges;
  std::vector<Face> faces;
  std::array<ColourF, kPaletteEntries + 1> palette{};  // 0 to 255, entry 0 built in
};

// Parses and checks the whole file; returns the reason for refusing it, or "".
std::string ParseRok(std::span<const uint8_t> bytes, RokFile& out) {
  LineReader r(bytes);
  std::string line;
  // Reads the next line into `line`; false at the end of the input.
  auto next = [&r, &line] { return r.Next(line); };
  auto skip = [&next](int n) {
    for (int i = 0; i < n; ++i)
      if (!next()) return false;
    return true;
  };
  auto skipTo = [&next, &line](const char* marker) {
    while (next())
      if (line == marker) return true;
    return false;
  };

  // Points: number, four unused lines, x, y, z.
  if (!skipTo("POINT")) return "no POINT line";
  for (;;) {
    if (!next()) return "ends before LINE0";
    if (line == "LINE0") break;
    const int number = ToInt(line);
    if (size_t(number) != out.points.size() + 1 || number <= 0)
      return "point " + std::to_string(number) + " out of sequence";
    Vec3 p;
    if (!skip(4) || !next()) return "ends before LINE0";
    p.x = ToFloat(line);
    if (!next()) return "ends before LINE0";
    p.y = -ToFloat(line);
    if (!next()) return "ends before LINE0";
    p.z = ToFloat(line);
    out.points.push_back(p);
  }
  if (out.points.empty()) return "no points";

  // Edges: two point numbers, two unused lines.
  const int pointCount = int(out.points.size());
  for (;;) {
    if (!next()) return "ends before FACE0";
    if (line == "FACE0") break;
    Edge e;
    e.a = ToInt(line);
    if (!next()) return "ends before FACE0";
    e.b = ToInt(line);
    if (!skip(2)) return "ends before FACE0";
    if (e.a < 1 || e.a > pointCount || e.b < 1 || e.b > pointCount) {
      return "edge " + std::to_string(out.edges.size() + 1) + " names a point that does not exist";
    }
    out.edges.push_back(e);
  }
  if (out.edges.empty()) return "no edges";

  // Faces: vertex count, palette number, face number, then one edge number per vertex.
  const int edgeCount = int(out.edges.size());
  for (;;) {
    if (!next()) return "ends before END00";
    if (line == "END00") break;
    const std::string which = "face " + std::to_string(out.faces.size() + 1);
    Face f;
    f.vertexCount = ToInt(line);
    if (f.vertexCount != 3 && f.vertexCount != 4) return which + " has neither 3 nor 4 vertices";
    if (!next()) return "ends before END00";
    f.palette = ToInt(line);
    if (f.palette > kPaletteEntries) return which + ": palette number above 13";
    if (!next()) return "ends before END00";
    if (size_t(ToInt(line)) != out.faces.size() + 1 || ToInt(line) <= 0)
      return which + " out of sequence";
    for (int k = 0; k < f.vertexCount; ++k) {
      if (!next()) return "ends before END00";
      f.edges[size_t(k)] = ToInt(line);
      if (f.edges[size_t(k)] < 1 || f.edges[size_t(k)] > edgeCount)
        return which + " names an edge that does not exist";
    }
    if (out.faces.size() >= size_t{INT32_MAX} / 4) return "too many faces";
    out.faces.push_back(f);
  }
  if (out.faces.empty()) return "no faces";

  // Palette: "13", one unused line, then 13 entries of seven integers.
  if (!skipTo("PALC0")) return "no PALC0 line";
  if (!next() || ToInt(line) != kPaletteEntries) return "palette does not announce 13 entries";
  if (!skip(1)) return "ends before ENDP0";
  // Entry 0: v0 .. v5 = 128. A colour channel is the mean of two 0 to 255 values.
  auto channel = [](long long first, long long second) {
    return 255.0f * float(double(first + second) / 510.0);
  };
  out.palette[0] = {channel(128, 128), channel(128, 128), channel(128, 128), 255.0f};
  int entries = 0;
  for (;;) {
    if (!next()) return "ends before ENDP0";
    if (line == "ENDP0") break;
    if (entries == kPaletteEntries) return "more than 13 palette entries";
    std::array<int, 7> v{};
    v[0] = ToInt(line);
    for (size_t i = 1; i < v.size(); ++i) {
      if (!next()) return "ends before ENDP0";
      v[i] = ToInt(line);
    }
    ++entries;
    out.palette[size_t(entries)] = {channel(v[0], v[3]), channel(v[1], v[4]), channel(v[2], v[5]),
                                    255.0f};
  }
  if (entries != kPaletteEntries) return "fewer than 13 palette entries";
  return "";
}

// The point numbers of a face's vertices, in order, from its chain of edges.
std::array<int, 4> VertexOrder(const RokFile& file, const Face& face) {
  auto edge = [&file, &face](int k) { return file.edges[size_t(face.edges[size_t(k)] - 1)]; };
  // The endpoint of e that is not `from`.
  auto other = [](const Edge& e, int from) { return e.a == from ? e.b : e.a; };
  const Edge e1 = edge(0), e2 = edge(1);
  std::array<int, 4> v{};
  if (e1.a == e2.a || e1.a == e2.b) {
    v[0] = e1.b;
    v[1] = e1.a;
  } else {
    v[0] = e1.a;
    v[1] = e1.b;
  }
  v[2] = other(e2, v[1]);
  if (face.vertexCount == 4) v[3] = other(edge(2), v[2]);
  return v;
}

void Apply(ModelHost& host, Model& model, const std::string& path, const RokFile& file) {
  const size_t faceCount = file.faces.size();
  const size_t entries = 4 * faceCount;
  GrowPositionPools(model, entries);
  GrowTo(model.colours, entries);
  GrowTo(model.uvs, size_t{1});
  GrowTo(model.polygons, faceCount);
  if (model.groupCount < 1) {  // every face goes into group 0
    GrowTo(model.groups, size_t{1});
    model.groups[0] = NewGroup();
    model.groupCount = 1;
  }

  for (size_t j = 0; j < faceCount; ++j) {
    const Face& face = file.faces[j];
    // Palette numbers 0 to 12 take file entries 1 to 13; -1, 13 and other negatives the grey.
    const size_t entry =
        face.palette >= 0 && face.palette < kPaletteEntries ? size_t(face.palette + 1) : size_t{0};
    const ColourF colour = file.palette[entry];
    const std::array<int, 4> order = VertexOrder(file, face);
    Polygon polygon;
    polygon.cornerCount = uint8_t(face.vertexCount);
    for (int k = 0; k < 4; ++k) {
      const size_t e = 4 * j + size_t(k);
      if (k < face.vertexCount) {
        const Vec3 p = file.points[size_t(order[size_t(k)] - 1)];
        model.positions[e] = {10.0f * p.x, 10.0f * p.y, 10.0f * p.z};
        model.colours[e] = colour;
        polygon.corners[size_t(k)] = {int32_t(e), 0, int32_t(e), 0};
      } else {  // the fourth entry of a triangle is not used
        model.positions[e] = Vec3{};
        model.colours[e] = ColourF{};
      }
    }
    model.polygons[j] = polygon;
  }
  model.positionCount = model.colourCount = int32_t(entries);
  model.uvs[0] = Uv{};
  model.uvCount = 1;
  model.polygonCount = int32_t(faceCount);
  for (int32_t g = 0; g < model.groupCount; ++g)
    model.groups[size_t(g)].doubleSided = 1;
  model.groups[0].shading = 3;

  model.fileName.Set(path);
  model.shadingChanged = 1;
  host.ResetFrameClock();
}

}  // namespace

int LoadRokFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t /*version*/) {
  RokFile file;
  const std::string reason = ParseRok(bytes, file);
  if (!reason.empty()) {
    host.Refuse(path, reason);
    return 0;
  }
  Apply(host, model, path, file);
  return 1;
}

int LoadRok(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be opened");
    return 0;
  }
  return LoadRokFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
