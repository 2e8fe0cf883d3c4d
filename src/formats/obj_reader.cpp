// Wavefront OBJ reader: the document and its material libraries are parsed here, from memory,
// into compact arrays; every index is checked before the model is touched, and every array the
// parse keeps counts against the reader's memory (256 MB + 16 × the bytes of the files read).
// Axes and scale: OBJ is right-handed with y up and no fixed unit; the library is left-handed
// with y up. Positions become (x, y, -z) × 10 (OBJ files are read as metres, a library unit is a
// tenth, as for LightWave files), normals (x, y, -z), and every face's corner order is reversed,
// so the model faces the way it did. OBJ's v runs upward while the library's (0, 0) is the
// image's top-left, so v becomes 1 - v.
// Faces of three or four corners are kept as they are (a quad that would fold starts at its
// second corner), larger ones (of any number of corners) become n - 2 triangles, a fan when they
// are convex (model/polygon_split.h); faces of fewer corners, lines and points are not read.
// Indices count from 1, negative ones back from the latest entry; a face may name entries defined
// after it. Each material that faces use becomes a group (in the order the libraries define them;
// faces without a material, or with one no library defines, share a group "Default"): Kd as the
// colour, d (or 1 - Tr) as alpha, map_Kd as its texture slot. A material's name is the rest of its
// newmtl or usemtl line, so names with spaces match. A group whose faces all have smoothing off
// and no normals is flat-shaded. File normals are kept when every face corner has one.
// Material libraries are read beside the document, each file once however often and however it
// is named, only when it is a regular file, and at most 256 MB of them in all; a library that
// cannot be read is a note in the log, and its materials' faces fall back to "Default". Only the
// materials the document uses are kept, so a library of many materials costs no more memory than
// the names the document gives.
// Vertex colours ("v x y z r g b", 0 to 1) go to the colour pool, one entry per position, and are
// drawn in place of the materials' colours; when only some vertices have one, the others are
// white. A document or library that starts with a UTF-16 byte-order mark (either order) is read
// as the same text in UTF-8. Its textures load without the black colour key (the library's own
// formats were made for it; an OBJ texture's transparency is its alpha).
// Names (materials, images, libraries) that are UTF-8 take the reversible mapping of host file
// names, so that "café.png" names the file it names on disk; other names are taken as code page
// 932, as older Japanese tools wrote them.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/formats.h"
#include "model/normals.h"
#include "model/polygon_split.h"
#include "platform/file_io.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace wz {
namespace {

constexpr float kScale = 10.0f;
constexpr size_t kMaxGroups = kMaxGroupTracks;
constexpr uint64_t kMemoryBase = uint64_t{256} << 20;
constexpr uint64_t kMemoryPerInputByte = 16;
constexpr uint32_t kNone = UINT32_MAX;
constexpr size_t kCornerPlaces = kMaxCorners;
// Material library text one document may bring in, all libraries together.
constexpr size_t kMaxLibraryBytes = platform::kMaxNamedFileBytes;
// Distinct material libraries one document may name: each costs a file lookup and perhaps a log
// line, and real documents name one or two.
constexpr size_t kMaxLibraries = 256;
// What one distinct usemtl name costs beyond its entry arrays: a node of the name table and its
// bucket.
constexpr uint64_t kNameCost = 64;

std::string Text(const char* format, auto... args) {
  char buffer[240];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

struct Refusal {
  std::string reason;
  explicit operator bool() const { return !reason.empty(); }
};

// The memory the reader holds against its ceiling, which grows with every file read.
class Budget {
 public:
  explicit Budget(uint64_t inputBytes) { AddInput(inputBytes); }
  void AddInput(uint64_t bytes) { limit_ += kMemoryPerInputByte * bytes; }
  // False (and nothing taken) when `bytes` more would pass the ceiling.
  bool Take(uint64_t bytes) {
    if (bytes > limit_ - used_) return false;
    used_ += bytes;
    return true;
  }
  void Give(uint64_t bytes) { used_ -= bytes; }
  uint64_t Used() const { return used_; }
  uint64_t Limit() const { return limit_; }
  Refusal Exceeded() const {
    return {Text("the model would need more than %llu MB", (unsigned long long)(limit_ >> 20))};
  }

 private:
  uint64_t limit_ = kMemoryBase;
  uint64_t used_ = 0;
};

// Appends to a parse array, which doubles within the budget (the old and the new block are both
// live while it grows). False when the budget does not allow it.
template <typename T>
bool Append(std::vector<T>& v, const T& value, Budget& budget) {
  if (v.size() == v.capacity()) {
    const size_t old = v.capacity();
    const size_t grown = std::max<size_t>(old * 2, 256);
    if (!budget.Take(uint64_t{grown} * sizeof(T))) return false;
    // The new block is filled in order, the old entries first: a large one may take huge pages
    // (a fault per 2 MB instead of per 4 KB) when told so before anything is copied in.
    std::vector<T> bigger;
    bigger.reserve(grown);
    platform::AdviseWholeWrite(bigger.data(), grown * sizeof(T), grown * sizeof(T));
    bigger.assign(v.begin(), v.end());
    v.swap(bigger);
    budget.Give(uint64_t{old} * sizeof(T));
  }
  v.push_back(value);
  return true;
}

// ---- Names -------------------------------------------------------------------------------------

// A name from a document as library text (see the top). With `path`, '/' and '\' both separate
// folders and come out as '\'.
std::string LibraryName(std::string_view text, bool path) {
  std::string name(text);
  const bool ascii =
      std::all_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x80; });
  if (!ascii && platform::IsValidUtf8(name)) {
    // A backslash is never part of a longer UTF-8 character.
    if (path) std::replace(name.begin(), name.end(), '\\', '/');
    return platform::HostBytesToCp932(name, path);
  }
  // '/' is never the second byte of a two-byte code page 932 character.
  if (path) std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

// A file a material names, as a library path to look for beside the model: relative names keep
// their folders; absolute ones are cut to the file name, since they name another machine.
std::string BesideModel(std::string_view text) {
  std::string name = LibraryName(text, true);
  const bool absolute = (!name.empty() && name[0] == '\\') || (name.size() > 1 && name[1] == ':');
  if (absolute) {
    const size_t slash = platform::Cp932FindLast(name, '\\');
    const size_t colon = platform::Cp932FindLast(name, ':');
    const size_t cut = slash == std::string::npos   ? colon
                       : colon == std::string::npos ? slash
                                                    : std::max(slash, colon);
    name.erase(0, cut + 1);
  }
  return name;
}

// ---- UTF-16 text -------------------------------------------------------------------------------

// Text that starts with a UTF-16 byte-order mark (either byte order) as UTF-8, in `out`, with the
// mark left out; false (and `out` untouched) for other text, which is read as it is. A surrogate
// without its partner becomes U+FFFD and an odd last byte is dropped. The UTF-8 text takes at
// most 3 bytes for every 2 of the file, which the budget must allow.
bool Utf16AsUtf8(std::span<const uint8_t> bytes, std::vector<uint8_t>& out, Budget& budget,
                 Refusal& refusal) {
  if (bytes.size() < 2) return false;
  const bool little = bytes[0] == 0xFF && bytes[1] == 0xFE;
  if (!little && !(bytes[0] == 0xFE && bytes[1] == 0xFF)) return false;
  const size_t units = bytes.size() / 2 - 1;
  if (!budget.Take(uint64_t{units} * 3)) {
    refusal = budget.Exceeded();
    return true;
  }
  out.reserve(units * 3);
  auto unit = [&](size_t i) -> uint32_t {
    const uint8_t a = bytes[2 + 2 * i], b = bytes[3 + 2 * i];
    return little ? uint32_t(a | b << 8) : uint32_t(b | a << 8);
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(uint8_t(c));
    } else if (c < 0x800) {
      out.insert(out.end(), {uint8_t(0xC0 | c >> 6), uint8_t(0x80 | (c & 0x3F))});
    } else if (c < 0x10000) {
      out.insert(out.end(), {uint8_t(0xE0 | c >> 12), uint8_t(0x80 | (c >> 6 & 0x3F)),
                             uint8_t(0x80 | (c & 0x3F))});
    } else {
      out.insert(out.end(), {uint8_t(0xF0 | c >> 18), uint8_t(0x80 | (c >> 12 & 0x3F)),
                             uint8_t(0x80 | (c >> 6 & 0x3F)), uint8_t(0x80 | (c & 0x3F))});
    }
  }
  return true;
}

// ---- Lines and words ---------------------------------------------------------------------------

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}
// A NUL ends a line's text as a line end does; what follows it on the line is not read.
bool IsLineEnd(char c) {
  return c == '\n' || c == '\r' || c == '\0';
}
bool IsDigit(char c) {
  return unsigned(c - '0') < 10;
}

// A cursor over text that is read line by line; the line ends are LF, CR LF and CR.
struct Lines {
  const char* p;
  const char* end;
  size_t line = 0;

  bool AtLineEnd() const { return p == end || IsLineEnd(*p); }
  void SkipSpaces() {
    while (p < end && IsSpace(*p))
      ++p;
  }
  // True (and the keyword passed) when the line continues with `keyword` followed by a space, or
  // with `orLineEnd` by the line's end.
  bool Keyword(std::string_view keyword, bool orLineEnd = false) {
    if (size_t(end - p) < keyword.size() || std::memcmp(p, keyword.data(), keyword.size()) != 0)
      return false;
    const char* after = p + keyword.size();
    if (after < end ? !(IsSpace(*after) || (orLineEnd && IsLineEnd(*after))) : !orLineEnd)
      return false;
    p = after;
    return true;
  }
  // The rest of the line without the spaces around it.
  std::string_view Rest() {
    SkipSpaces();
    const char* start = p;
    while (!AtLineEnd())
      ++p;
    const char* e = p;
    while (e > start && IsSpace(e[-1]))
      --e;
    return {start, size_t(e - start)};
  }
  // The next word of the line (empty at its end).
  std::string_view Word() {
    SkipSpaces();
    const char* start = p;
    while (!AtLineEnd() && !IsSpace(*p))
      ++p;
    return {start, size_t(p - start)};
  }
  // Passes the rest of the line and its end; false at the end of the text.
  bool NextLine() {
    while (p < end && *p != '\n' && *p != '\r')
      ++p;
    if (p == end) return false;
    if (*p++ == '\r' && p < end && *p == '\n') ++p;
    ++line;
    return p < end;
  }
};

// A word that starts as a number does: a sign or a point followed by a digit, or a digit.
bool LooksNumeric(std::string_view word) {
  size_t i = 0;
  if (i < word.size() && (word[i] == '-' || word[i] == '+')) ++i;
  if (i < word.size() && word[i] == '.') ++i;
  return i < word.size() && IsDigit(word[i]);
}

// The number a word starts with (what follows it is ignored), or `fallback` when it does not
// start with one or the number is out of range.
float Number(std::string_view word, float fallback) {
  if (!LooksNumeric(word)) return fallback;
  if (word[0] == '+') word.remove_prefix(1);
  float value = fallback;
  const std::from_chars_result read =
      std::from_chars(word.data(), word.data() + word.size(), value);
  return read.ec == std::errc{} ? value : fallback;
}

// ---- The document ------------------------------------------------------------------------------

// A face corner: entries counted from 0; uv and normal -1 for none.
struct ObjCorner {
  int32_t position;
  int32_t uv;
  int32_t normal;
};

struct ObjFace {
  uint32_t corners;
  uint32_t name;  // index into ObjDocument::names, kNone for no material
  bool smooth;
};

// The largest index counted from the start that faces gave for one kind of entry, and where: it is
// checked once the counts are known.
struct Reach {
  int64_t index = -1;  // from 0
  size_t line = 0;
};

struct Material {
  uint32_t name = 0;  // index into ObjDocument::names
  float diffuse[3] = {0.0f, 0.0f, 0.0f};
  float dissolve = 1.0f;
  std::string texture;  // map_Kd as written
};

enum Kind { kPosition, kUv, kNormal };
const char* const kKindNames[] = {"vertex", "texture coordinate", "normal"};

struct ObjDocument {
  std::vector<float> positions;  // x y z
  std::vector<float> uvs;        // u v
  std::vector<float> normals;    // x y z
  std::vector<float> colours;    // r g b (0 to 1) per position; empty when no vertex has one
  std::vector<ObjCorner> corners;
  std::vector<ObjFace> faces;  // their corners follow each other in `corners`
  Reach reach[3];
  // The usemtl names (views into the document) and the material each resolves to.
  std::unordered_map<std::string_view, uint32_t> nameIds;
  std::vector<std::string_view> names;
  std::vector<uint32_t> materialOfName;
  std::vector<Material> materials;  // in the order the libraries define them
  // The distinct texts of the mtllib lines, in order (views into the document).
  std::vector<std::string_view> libraries;
  bool moreLibraries = false;

  size_t Count(Kind k) const {
    return k == kPosition ? positions.size() / 3 : k == kUv ? uvs.size() / 2 : normals.size() / 3;
  }
};

// Reads [sign]digits; the value stops growing past every count a file can reach. False when there
// are no digits.
bool ReadIndex(Lines& in, int64_t& value) {
  bool negative = false;
  if (in.p < in.end && (*in.p == '-' || *in.p == '+')) negative = *in.p++ == '-';
  const char* digits = in.p;
  int64_t v = 0;
  for (; in.p < in.end && IsDigit(*in.p); ++in.p)
    if (v < (int64_t{1} << 40)) v = v * 10 + (*in.p - '0');
  value = negative ? -v : v;
  return in.p != digits;
}

// Passes what follows a number in a corner up to the next '/' (when `slash` stops it), space or
// line end, as earlier readers of these files did.
void SkipRestOfField(Lines& in, bool slash) {
  while (!in.AtLineEnd() && !IsSpace(*in.p) && !(slash && *in.p == '/'))
    ++in.p;
}

// One face line after "f": its corners, or a refusal.
Refusal ReadFace(Lines& in, ObjDocument& doc, uint32_t name, bool smooth, Budget& budget) {
  const size_t first = doc.corners.size();
  Reach reach[3];
  for (;;) {
    in.SkipSpaces();
    if (in.AtLineEnd()) break;
    int64_t value[3] = {0, 0, 0};
    std::string_view text[3];
    bool given[3] = {false, false, false};
    const char* start = in.p;
    given[kPosition] = ReadIndex(in, value[kPosition]);
    text[kPosition] = {start, size_t(in.p - start)};
    if (!given[kPosition]) {
      SkipRestOfField(in, false);
      const std::string_view word(start, size_t(in.p - start));
      return {Text("line %zu: face corner '%.*s' does not start with an index", in.line + 1,
                   int(std::min<size_t>(word.size(), 40)), word.data())};
    }
    SkipRestOfField(in, true);
    for (Kind k : {kUv, kNormal}) {
      if (in.p == in.end || *in.p != '/') break;
      ++in.p;
      start = in.p;
      given[k] = ReadIndex(in, value[k]);
      text[k] = {start, size_t(in.p - start)};
      SkipRestOfField(in, k == kUv);
    }
    ObjCorner corner{-1, -1, -1};
    int32_t* out[3] = {&corner.position, &corner.uv, &corner.normal};
    for (Kind k : {kPosition, kUv, kNormal}) {
      if (!given[k]) continue;
      const size_t count = doc.Count(k);
      const int64_t v = value[k];
      // Indices are reported as written: a number past every count is never cut or wrapped.
      if (v == 0 || v > int64_t{INT32_MAX} || (v < 0 && uint64_t(-v) > count)) {
        return {Text("line %zu: face names %s %.*s of %zu", in.line + 1, kKindNames[k],
                     int(std::min<size_t>(text[k].size(), 40)), text[k].data(), count)};
      }
      if (v > 0) {
        *out[k] = int32_t(v - 1);
        if (v - 1 > reach[k].index) reach[k] = {v - 1, in.line + 1};
      } else {
        *out[k] = int32_t(int64_t(count) + v);
      }
    }
    if (!Append(doc.corners, corner, budget)) return budget.Exceeded();
  }
  const size_t n = doc.corners.size() - first;
  if (n < 3) {  // not a face: not read
    doc.corners.resize(first);
    return {};
  }
  if (doc.corners.size() > size_t{INT32_MAX}) return {"more face corners than a model can count"};
  if (!Append(doc.faces, ObjFace{uint32_t(n), name, smooth}, budget)) return budget.Exceeded();
  for (int k = 0; k < 3; ++k)
    if (reach[k].index > doc.reach[k].index) doc.reach[k] = reach[k];
  return {};
}

// The id of a usemtl name, added when new.
bool NameId(std::string_view name, ObjDocument& doc, Budget& budget, uint32_t& id) {
  if (auto it = doc.nameIds.find(name); it != doc.nameIds.end()) {
    id = it->second;
    return true;
  }
  if (!budget.Take(kNameCost)) return false;
  id = uint32_t(doc.names.size());
  if (!Append(doc.names, name, budget) || !Append(doc.materialOfName, kNone, budget)) return false;
  doc.nameIds.emplace(name, id);
  return true;
}

Refusal ParseDocument(std::span<const uint8_t> bytes, ObjDocument& doc, Budget& budget) {
  const char* text = reinterpret_cast<const char*>(bytes.data());
  Lines in{text, text + bytes.size()};
  uint32_t name = kNone;
  bool smooth = false;
  std::unordered_set<std::string_view> libraries;
  if (in.p == in.end) return {};
  do {
    in.SkipSpaces();
    if (in.AtLineEnd()) continue;
    if (in.Keyword("v")) {
      float xyz[3];
      for (float& c : xyz)
        c = Number(in.Word(), 0.0f);
      for (float c : xyz)
        if (!Append(doc.positions, c, budget)) return budget.Exceeded();
      // Three more numbers after the position (a fourth alone is a weight) are its colour.
      const std::string_view more[3] = {in.Word(), in.Word(), in.Word()};
      const bool coloured = LooksNumeric(more[0]) && LooksNumeric(more[1]) && LooksNumeric(more[2]);
      if (coloured && doc.colours.empty()) {
        // The first coloured vertex: those before it are white.
        for (size_t i = 3; i < doc.positions.size(); ++i)
          if (!Append(doc.colours, 1.0f, budget)) return budget.Exceeded();
      }
      if (coloured || !doc.colours.empty()) {
        for (const std::string_view& word : more)
          if (!Append(doc.colours, coloured ? Number(word, 0.0f) : 1.0f, budget))
            return budget.Exceeded();
      }
    } else if (in.Keyword("f")) {
      if (Refusal r = ReadFace(in, doc, name, smooth, budget)) return r;
    } else if (in.Keyword("vt")) {
      const float u = Number(in.Word(), 0.0f), v = Number(in.Word(), 0.0f);
      if (!Append(doc.uvs, u, budget) || !Append(doc.uvs, v, budget)) return budget.Exceeded();
    } else if (in.Keyword("vn")) {
      float xyz[3];
      for (float& c : xyz)
        c = Number(in.Word(), 0.0f);
      for (float c : xyz)
        if (!Append(doc.normals, c, budget)) return budget.Exceeded();
    } else if (in.Keyword("usemtl", true)) {
      const std::string_view rest = in.Rest();
      name = kNone;
      if (!rest.empty() && !NameId(rest, doc, budget, name)) return budget.Exceeded();
    } else if (in.Keyword("s", true)) {
      // "s off", "s 0": smoothing off; "s" and a group number above 0: on.
      const std::string_view word = in.Word();
      if (!word.empty())
        smooth = word.substr(0, 3) != "off" && LooksNumeric(word) && word[0] != '-' &&
                 Number(word, 0.0f) >= 1.0f;
    } else if (in.Keyword("mtllib", true)) {
      const std::string_view rest = in.Rest();
      if (rest.empty() || libraries.count(rest)) continue;
      if (doc.libraries.size() == kMaxLibraries) {
        doc.moreLibraries = true;
        continue;
      }
      libraries.insert(rest);
      doc.libraries.push_back(rest);
    }
  } while (in.NextLine());
  return {};
}

// Reads the materials of one library that the document uses; the first definition of a name
// wins, in this library or an earlier one. False when the budget does not allow them.
bool ParseLibrary(std::string_view text, ObjDocument& doc, Budget& budget) {
  Lines in{text.data(), text.data() + text.size()};
  uint32_t current = kNone;  // index into doc.materials of the material being defined
  bool hasKd = false, hasD = false;
  if (in.p == in.end) return true;
  do {
    in.SkipSpaces();
    if (in.Keyword("newmtl", true)) {
      current = kNone;
      hasKd = hasD = false;
      const std::string_view name = in.Rest();
      const auto it = doc.nameIds.find(name);
      if (it == doc.nameIds.end() || doc.materialOfName[it->second] != kNone) continue;
      Material m;
      m.name = it->second;
      if (!Append(doc.materials, m, budget)) return false;
      current = uint32_t(doc.materials.size() - 1);
      doc.materialOfName[it->second] = current;
      continue;
    }
    if (current == kNone) continue;
    Material& m = doc.materials[current];
    if (in.Keyword("Kd")) {
      for (float& c : m.diffuse)
        c = Number(in.Word(), 0.0f);
      hasKd = true;
    } else if (in.Keyword("d")) {
      m.dissolve = Number(in.Word(), 0.0f);
      hasD = true;
    } else if (in.Keyword("Tr")) {
      if (!hasD) m.dissolve = 1.0f - Number(in.Word(), 0.0f);
    } else if (in.Keyword("map_Kd")) {
      // Options come before the file name, whose words run to the end of the line.
      struct Option {
        std::string_view name;
        int numbers;  // up to this many numbers follow; 0: one word follows
      };
      static constexpr Option kOptions[] = {
          {"-blendu", 0},  {"-blendv", 0},     {"-clamp", 0}, {"-cc", 0}, {"-type", 0},
          {"-imfchan", 0}, {"-colorspace", 0}, {"-boost", 1}, {"-bm", 1}, {"-texres", 1},
          {"-mm", 2},      {"-o", 3},          {"-s", 3},     {"-t", 3}};
      for (bool option = true; option;) {
        in.SkipSpaces();
        option = false;
        for (const Option& o : kOptions) {
          if (!in.Keyword(o.name)) continue;
          option = true;
          if (o.numbers == 0) in.Word();
          for (int i = 0; i < o.numbers; ++i) {
            Lines look = in;
            if (!LooksNumeric(look.Word())) break;
            in = look;
          }
          break;
        }
      }
      const std::string_view file = in.Rest();
      if (!budget.Take(file.size())) return false;
      m.texture = file;
      if (!hasKd) m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 0.6f;
    }
  } while (in.NextLine());
  return true;
}

// ---- The model ---------------------------------------------------------------------------------

float Unit(float v) {
  return v > 0.0f ? std::min(v, 1.0f) : 0.0f;
}

struct GroupPlan {
  int material = -1;  // -1: faces without a material
  bool flat = true;   // every face has smoothing off
  int32_t textureSlot = 0;
};

Refusal Build(const ObjDocument& doc, ModelHost& host, const std::string& path, Model& model,
              const Budget& budget) {
  const size_t counts[3] = {doc.Count(kPosition), doc.Count(kUv), doc.Count(kNormal)};
  if (counts[kPosition] > size_t{INT32_MAX} || counts[kNormal] > size_t{INT32_MAX} ||
      counts[kUv] >= size_t{INT32_MAX}) {
    return {"more vertices than a model can count"};
  }
  for (Kind k : {kPosition, kUv, kNormal}) {
    const Reach& r = doc.reach[k];
    if (r.index >= 0 && uint64_t(r.index) >= counts[k]) {
      return {Text("line %zu: face names %s %lld of %zu", r.line, kKindNames[k],
                   (long long)(r.index + 1), counts[k])};
    }
  }

  // The material of each face, as an index into doc.materials or materials.size() for none.
  const size_t none = doc.materials.size();
  auto materialOf = [&](const ObjFace& face) -> size_t {
    if (face.name == kNone || doc.materialOfName[face.name] == kNone) return none;
    return doc.materialOfName[face.name];
  };

  // Plan the groups: materials in library order, "Default" last.
  std::vector<int32_t> groupOfMaterial(none + 1, -1);
  size_t polygonCount = 0, missingNormals = 0, missingUvs = 0, at = 0;
  for (const ObjFace& face : doc.faces) {
    for (size_t c = 0; c < face.corners; ++c) {
      missingNormals += doc.corners[at + c].normal < 0;
      missingUvs += doc.corners[at + c].uv < 0;
    }
    at += face.corners;
    polygonCount += face.corners > kCornerPlaces ? face.corners - 2 : 1;
    groupOfMaterial[materialOf(face)] = 0;  // used; numbered below
  }
  if (polygonCount == 0) return {"no faces of three or more corners"};
  if (polygonCount > size_t{INT32_MAX}) return {"more polygons than a model can count"};

  std::vector<GroupPlan> groups;
  std::vector<std::string> textures;
  for (size_t k = 0; k < groupOfMaterial.size(); ++k) {
    if (groupOfMaterial[k] < 0) continue;
    if (groups.size() == kMaxGroups) return {"more than 256 materials"};
    groupOfMaterial[k] = int32_t(groups.size());
    GroupPlan g;
    g.material = k < none ? int(k) : -1;
    if (g.material >= 0 && !doc.materials[k].texture.empty()) {
      const std::string texture = BesideModel(doc.materials[k].texture);
      if (!texture.empty()) {
        auto slot = std::find(textures.begin(), textures.end(), texture);
        if (slot == textures.end()) {
          textures.push_back(texture);
          slot = textures.end() - 1;
        }
        g.textureSlot = int32_t(slot - textures.begin()) + 1;
      }
    }
    groups.push_back(g);
  }
  for (const ObjFace& face : doc.faces)
    if (face.smooth) groups[size_t(groupOfMaterial[materialOf(face)])].flat = false;

  const bool useNormals = counts[kNormal] > 0 && missingNormals == 0;
  // Corners without texture coordinates share one extra entry (0, 0) at the end of the pool.
  const size_t texcoordCount = counts[kUv];
  const size_t uvCount = texcoordCount + (missingUvs > 0 && texcoordCount > 0 ? 1 : 0);
  const size_t positionCount = counts[kPosition];
  const bool coloured = !doc.colours.empty();
  const uint64_t need = uint64_t{polygonCount} * sizeof(Polygon) +
                        uint64_t{positionCount} * (3 * sizeof(Vec3) + sizeof(VertexAttr)) +
                        (useNormals ? uint64_t{counts[kNormal]} * sizeof(Vec3) : 0) +
                        uint64_t{uvCount} * sizeof(Uv) +
                        (coloured ? uint64_t{positionCount} * sizeof(ColourF) : 0);
  if (need > budget.Limit() - budget.Used()) {
    return {
        Text("the model would need %llu MB", (unsigned long long)((need + budget.Used()) >> 20))};
  }

  // The document is sound: grow every pool first, then fill the model.
  GrowPositionPools(model, positionCount);
  if (useNormals) GrowTo(model.normals, counts[kNormal]);
  GrowTo(model.uvs, uvCount);
  if (coloured) GrowTo(model.colours, positionCount);
  GrowTo(model.polygons, polygonCount);
  GrowTo(model.groups, groups.size());
  GrowTo(model.textureSlots, textures.size() + 1);
  model.fileName.Set(path);

  for (size_t i = 0; i < positionCount; ++i) {
    const float* v = &doc.positions[3 * i];
    model.positions[i] = {v[0] * kScale, v[1] * kScale, -v[2] * kScale};
  }
  model.positionCount = int32_t(positionCount);
  model.normalCount = 0;
  if (useNormals) {
    for (size_t i = 0; i < counts[kNormal]; ++i) {
      const float* n = &doc.normals[3 * i];
      model.normals[i] = {n[0], n[1], -n[2]};
    }
    model.normalCount = int32_t(counts[kNormal]);
  }
  for (size_t i = 0; i < texcoordCount; ++i)
    model.uvs[i] = {doc.uvs[2 * i], 1.0f - doc.uvs[2 * i + 1]};
  if (uvCount > texcoordCount) model.uvs[texcoordCount] = {0.0f, 0.0f};
  model.uvCount = int32_t(uvCount);

  size_t out = 0;
  at = 0;
  PolygonSplitter splitter;
  std::vector<Vec3> outline;
  for (const ObjFace& face : doc.faces) {
    const size_t n = face.corners;
    const ObjCorner* corners = &doc.corners[at];
    at += n;
    const int32_t group = groupOfMaterial[materialOf(face)];
    // Corners in reverse order; larger faces as fans around the (reversed) first corner.
    auto corner = [&](size_t r) {
      const ObjCorner& i = corners[n - 1 - r];
      Corner c;
      c.position = i.position;
      c.normal = useNormals ? i.normal : 0;
      c.uv = uvCount == 0 ? 0 : i.uv >= 0 ? i.uv : int32_t(texcoordCount);
      c.colour = coloured ? i.position : 0;
      return c;
    };
    // Larger faces, and quads that fold, are split along their outline (polygon_split.h); faces
    // beyond what it clips keep the fan without their outline being copied.
    std::span<const CornerTriangle> split;
    if (n >= 4 && n <= kMaxEarClipCorners) {
      outline.clear();
      for (size_t r = 0; r < n; ++r)
        outline.push_back(model.positions[size_t(corners[n - 1 - r].position)]);
      split = splitter.Split(outline);
    }
    if (n > kCornerPlaces) {
      for (size_t k = 1; k + 1 < n; ++k) {
        const CornerTriangle t =
            split.empty() ? CornerTriangle{0, uint32_t(k), uint32_t(k + 1)} : split[k - 1];
        Polygon& p = model.polygons[out++];
        p = Polygon{};
        p.group = group;
        p.cornerCount = 3;
        p.corners[0] = corner(t[0]), p.corners[1] = corner(t[1]), p.corners[2] = corner(t[2]);
      }
    } else {
      const size_t start = split.empty() ? 0 : split[0][0];
      Polygon& p = model.polygons[out++];
      p = Polygon{};
      p.group = group;
      p.cornerCount = uint8_t(n);
      for (size_t c = 0; c < n; ++c)
        p.corners[c] = corner((start + c) % n);
    }
  }
  model.polygonCount = int32_t(polygonCount);
  model.colourCount = 0;
  if (coloured) {
    for (size_t i = 0; i < positionCount; ++i) {
      const float* c = &doc.colours[3 * i];
      model.colours[i] = {Unit(c[0]) * 255.0f, Unit(c[1]) * 255.0f, Unit(c[2]) * 255.0f, 255.0f};
    }
    model.colourCount = int32_t(positionCount);
  }
  // Vertex colours are drawn in place of the materials' colours.
  model.vertexColoursOn = coloured ? 1 : 0;

  for (size_t g = 0; g < groups.size(); ++g) {
    Group& group = model.groups[g];
    group = NewGroup();
    const GroupPlan& plan = groups[g];
    if (plan.material >= 0) {
      const Material& mat = doc.materials[size_t(plan.material)];
      group.name.Set(LibraryName(doc.names[mat.name], false));
      group.colour = {Unit(mat.diffuse[0]) * 255.0f, Unit(mat.diffuse[1]) * 255.0f,
                      Unit(mat.diffuse[2]) * 255.0f, Unit(mat.dissolve) * 255.0f};
    } else {
      group.name.Set("Default");
    }
    group.textureSlot = plan.textureSlot;
    group.shading = plan.flat && !useNormals ? 3 : 4;
  }
  model.groupCount = int32_t(groups.size());

  for (size_t s = 1; s <= textures.size(); ++s) {
    model.textureSlots[s] = TextureSlot{};
    model.textureSlots[s].state = 1;
    model.textureSlots[s].fileName.Set(textures[s - 1]);
  }
  model.textureSlotCount = int16_t(textures.size() + 1);
  model.colour = {255.0f, 255.0f, 255.0f, 255.0f};

  DeriveNormals(model);
  model.texturesUnkeyed = 1;  // an OBJ texture's transparency is its alpha
  for (size_t s = 1; s <= textures.size(); ++s)
    host.LoadModelTexture(model, int32_t(s), textures[s - 1]);
  model.shadingChanged = 1;
  return {};
}

// Reads the material libraries the document names (see the top) into its materials.
void ReadLibraries(ModelHost& host, const std::string& path, ObjDocument& doc, Budget& budget) {
  const size_t slash = platform::Cp932FindLast(path, '\\');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::vector<std::string> seenNames;
  std::vector<platform::FileId> seenFiles;
  size_t total = 0;
  bool more = doc.moreLibraries;
  auto note = [&](const std::string& library, const char* why) {
    host.Log(path + " : material library " + library + " cannot be read: " + why);
  };
  // One library; false when it is missing.
  auto read = [&](std::string_view text) {
    const std::string library = BesideModel(text);
    if (library.empty()) return true;
    const std::string name = folder + library;
    if (std::find(seenNames.begin(), seenNames.end(), name) != seenNames.end()) return true;
    if (seenNames.size() == kMaxLibraries) {
      more = true;
      return true;
    }
    seenNames.push_back(name);
    platform::FileId id;
    if (platform::GetFileId(host.ResolveNamed(name), id)) {
      if (std::find(seenFiles.begin(), seenFiles.end(), id) != seenFiles.end()) return true;
      seenFiles.push_back(id);
    }
    if (total >= kMaxLibraryBytes) {
      note(library, "the material libraries pass 256 MB");
      return true;
    }
    std::vector<uint8_t> bytes;
    const platform::NamedFileError error = host.ReadNamedFile(name, bytes);
    if (error == platform::NamedFileError::kMissing) return false;
    if (error != platform::NamedFileError::kNone) {
      note(library, platform::NamedFileErrorText(error));
      return true;
    }
    if (bytes.size() > kMaxLibraryBytes - total) {
      total = kMaxLibraryBytes;  // no more libraries are read
      note(library, "the material libraries pass 256 MB");
      return true;
    }
    total += bytes.size();
    budget.AddInput(bytes.size());
    if (!budget.Take(bytes.size())) {
      note(library, "not enough memory to read it");
      return true;
    }
    std::vector<uint8_t> utf8;
    Refusal refusal;
    const bool wide = Utf16AsUtf8(bytes, utf8, budget, refusal);
    const std::span<const uint8_t> read = wide ? std::span<const uint8_t>(utf8) : bytes;
    const std::string_view content(reinterpret_cast<const char*>(read.data()), read.size());
    if (refusal || !ParseLibrary(content, doc, budget)) {
      note(library, "not enough memory to read it");
    }
    if (wide && !refusal) budget.Give(uint64_t{bytes.size() / 2 - 1} * 3);
    budget.Give(bytes.size());
    return true;
  };
  for (std::string_view line : doc.libraries) {
    if (read(line)) continue;
    // Not a file of that name: the line may list several libraries.
    bool several = false;
    Lines words{line.data(), line.data() + line.size()};
    for (std::string_view word = words.Word(); !word.empty(); word = words.Word()) {
      if (word.size() == line.size()) break;
      several = true;
      if (!read(word)) note(BesideModel(word), "not found");
    }
    if (!several) note(BesideModel(line), "not found");
  }
  if (more) {
    host.Log(path + " : more than 256 material libraries; the rest are not read");
  }
}

// Parses the document, brings in its materials with `libraries`, and builds the model.
template <typename Libraries>
int Load(ModelHost& host, Model& model, const std::string& path, std::span<const uint8_t> bytes,
         Budget& budget, Libraries libraries) {
  try {
    ObjDocument doc;
    std::vector<uint8_t> utf8;  // the document, when it is UTF-16
    Refusal r;
    if (Utf16AsUtf8(bytes, utf8, budget, r)) bytes = utf8;
    if (!r) r = ParseDocument(bytes, doc, budget);
    if (!r) {
      libraries(doc);
      r = Build(doc, host, path, model, budget);
    }
    if (r) {
      host.Refuse(path, r.reason);
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    host.Refuse(path, "out of memory");
    return 0;
  }
}

}  // namespace

int LoadObjFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, std::string_view materialText,
                      int32_t /*version*/) {
  Budget budget(bytes.size() + materialText.size());
  return Load(host, model, path, bytes, budget, [&](ObjDocument& doc) {
    if (!ParseLibrary(materialText, doc, budget))
      host.Log(path + " : the material library needs more memory than its size allows");
  });
}

int LoadObj(ModelHost& host, Model& model, const std::string& path, int32_t /*version*/) {
  platform::FileBytes file;
  if (!platform::ReadFileBytes(path, file)) {
    host.Refuse(path, "cannot be read");
    return 0;
  }
  Budget budget(file.Bytes().size());
  return Load(host, model, path, file.Bytes(), budget,
              [&](ObjDocument& doc) { ReadLibraries(host, path, doc, budget); });
}

}  // namespace wz
