// DXF reader: takes the 3DFACE entities of a DXF text file and ignores everything else. Each
// face becomes a four-corner polygon in group 0 with its own four positions, in the corner order
// 2, 1, 0, 3 (the polygon faces the other way from the DXF face); group 0 is drawn flat, grey and
// double-sided, and the normals are derived afterwards.
//
// Lines are read as the C library reads text with a 20-byte buffer: CR LF becomes LF, a line of
// more than 19 characters is cut and its rest read as the next line. Spaces and tabs are removed
// and lines left empty are skipped; keys are whole lines including the line feed. After "3DFACE"
// the reader looks for the first "10" and then needs the twelve corner codes 10, 20, 30, 11, ...,
// 33 strictly in order, each followed by its value. The file is read twice (count, then read),
// and checked whole before the model is touched: a refused file leaves the model as it was.
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/formats.h"
#include "model/normals.h"
#include "platform/file_io.h"

namespace wz {
namespace {

constexpr size_t kLineBuffer = 20;  // fgets-style: at most 19 characters per read

// The file as a text-mode read sees it: CR LF pairs become LF.
std::string TextMode(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(char(bytes[i]));
  }
  return text;
}

class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}

  // The next line that is not empty once its spaces and tabs are gone, with its line feed when
  // it has one; false at the end of the text.
  bool Next(std::string& line) {
    while (pos_ < text_.size()) {
      const size_t start = pos_;
      while (pos_ < text_.size() && pos_ - start < kLineBuffer - 1) {
        if (text_[pos_++] == '\n') break;
      }
      line.clear();
      for (size_t i = start; i < pos_; ++i) {
        const char ch = text_[i];
        if (ch == '\0') break;  // a C string ends here
        if (ch != ' ' && ch != '\t') line.push_back(ch);
      }
      if (!line.empty() && line != "\n") return true;
    }
    return false;
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

constexpr const char* kFaceKey = "3DFACE\n";
// The group codes after the first "10", each followed by its value: 20, 30 for corner 0, then
// 11, 21, 31 for corner 1, and so on.
constexpr std::array<const char*, 11> kCornerCodes = {
    "20\n", "30\n", "11\n", "21\n", "31\n", "12\n", "22\n", "32\n", "13\n", "23\n", "33\n"};

using DxfFace = std::array<Vec3, 4>;

// "%f": a value line that holds no number leaves the coordinate as it is.
void ReadValue(const std::string& line, float& value) {
  char* end = nullptr;
  const float v = std::strtof(line.c_str(), &end);
  if (end != line.c_str()) value = v;
}

float& Coordinate(DxfFace& face, size_t index) {  // index 0 .. 11: x0, y0, z0, x1, ...
  Vec3& corner = face[index / 3];
  return index % 3 == 0 ? corner.x : index % 3 == 1 ? corner.y : corner.z;
}

// Reads every 3DFACE; returns the reason for refusing the file, or "".
std::string ParseDxf(const std::string& text, std::vector<DxfFace>& faces) {
  std::string line;
  size_t counted = 0;
  for (LineReader r(text); r.Next(line);)
    counted += line == kFaceKey;
  if (counted == 0) return "no 3DFACE";

  faces.reserve(counted);
  LineReader r(text);
  while (faces.size() < counted) {
    bool found = false;
    while (!found && r.Next(line))
      found = line == kFaceKey;
    if (!found) break;
    const std::string which = "3DFACE " + std::to_string(faces.size() + 1);
    do {
      if (!r.Next(line)) return which + " ends before its first corner";
    } while (line != "10\n");
    DxfFace face{};
    if (!r.Next(line)) return which + " ends inside its corners";
    ReadValue(line, Coordinate(face, 0));
    for (size_t i = 0; i < kCornerCodes.size(); ++i) {
      if (!r.Next(line)) return which + " ends inside its corners";
      if (line != kCornerCodes[i]) return which + ": corner codes missing or out of order";
      if (!r.Next(line)) return which + " ends inside its corners";
      ReadValue(line, Coordinate(face, i + 1));
    }
    faces.push_back(face);
  }
  if (faces.size() > size_t{INT32_MAX} / 4) return "too many faces";
  return "";
}

void Apply(ModelHost& host, Model& model, const std::string& path,
           const std::vector<DxfFace>& faces) {
  static constexpr std::array<size_t, 4> kOrder = {2, 1, 0, 3};
  const size_t entries = 4 * faces.size();
  GrowPositionPools(model, entries);
  GrowTo(model.colours, size_t{1});
  GrowTo(model.uvs, size_t{1});
  GrowTo(model.polygons, faces.size());
  if (model.groupCount < 1) {  // every face goes into group 0
    GrowTo(model.groups, size_t{1});
    model.groups[0] = NewGroup();
    model.groupCount = 1;
  }

  for (size_t j = 0; j < faces.size(); ++j) {
    Polygon polygon;
    polygon.cornerCount = 4;
    for (size_t i = 0; i < 4; ++i) {
      const size_t e = 4 * j + i;
      model.positions[e] = faces[j][kOrder[i]];
      polygon.corners[i] = {int32_t(e), 0, 0, 0};
    }
    model.polygons[j] = polygon;
  }
  model.positionCount = int32_t(entries);
  model.polygonCount = int32_t(faces.size());
  model.colours[0] = {255.0f, 255.0f, 255.0f, 255.0f};
  model.colourCount = 1;
  model.uvs[0] = Uv{};
  model.uvCount = 1;
  Group& group = model.groups[0];
  group.colour = {200.0f, 200.0f, 200.0f, 255.0f};
  group.doubleSided = 1;
  group.shading = 3;

  model.fileName.Set(path);
  DeriveNormals(model);
  model.shadingChanged = 1;
  host.ResetFrameClock();
}

}  // namespace

int LoadDxfFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t /*version*/) {
  std::vector<DxfFace> faces;
  const std::string reason = ParseDxf(TextMode(bytes), faces);
  if (!reason.empty()) {
    host.Refuse(path, reason);
    return 0;
  }
  Apply(host, model, path, faces);
  return 1;
}

int LoadDxf(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be opened");
    return 0;
  }
  return LoadDxfFromMemory(host, model, path, bytes, version);
}

}  // namespace wz
