// DXF reader: takes the 3DFACE entities and the meshes of POLYLINE entities (polyface meshes and
// M x N polygon meshes) of a DXF text file and ignores everything else. Each face becomes a
// polygon with its own positions, in the corner order 2, 1, 0, 3 (2, 1, 0 for a triangle of a
// mesh): the polygon faces the other way from the DXF face. Polygons go into one group per colour
// index (code 62, or the colour of the entity's layer in the LAYER table); all groups are drawn
// flat and double-sided, and a file without colours has only group 0 in grey. The normals are
// derived afterwards. Entities are read where they stand, in blocks as well; INSERTs are not
// followed.
//
// Lines are read as the C library reads text with a 20-byte buffer: CR LF becomes LF, a line of
// more than 19 characters is cut and its rest read as the next line. Spaces and tabs are removed
// and lines left empty are skipped; keys are whole lines including the line feed. An entity
// starts at a line that names it ("3DFACE", "POLYLINE", "VERTEX", ...), wherever it stands; its
// group codes follow in pairs of a code line and a value line, in any order, up to code 0. A
// coordinate line longer than one read refuses the file (other values are read whole), and so
// does a face or a mesh position that lacks a coordinate. The file is read in one pass over its
// bytes, lines taken where they lie (a line is gathered into a small buffer only when it needs
// the C library's rules spelled out), and checked whole before the model is touched: a refused
// file leaves the model as it was. Counts in the file (M, N, vertex numbers) are only used
// against the records that are there.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "formats/formats.h"
#include "model/normals.h"
#include "model/polygon_split.h"
#include "platform/decimal.h"
#include "platform/file_io.h"
#include "platform/worker_pool.h"

namespace wz {
namespace {

constexpr size_t kLineBuffer = 20;  // fgets-style: at most 19 characters per read

bool Blank(char c) {
  return c == ' ' || c == '\t';
}

// One line as the reader compares it: its characters other than spaces and tabs, up to a NUL,
// without the line feed, and whether it had one. A line read in place is only trimmed: `text`
// may still hold spaces and tabs between its first and last characters, and Stripped() gives
// the characters without them. Characters last until the next read.
struct Line {
  const char* text = nullptr;
  size_t size = 0;
  bool lineFeed = false;
  bool stripped = false;           // no space or tab left in `text`
  const char* readable = nullptr;  // end of the memory `text` lies in
  bool cut = false;                // the read stopped at its 19 characters: the line goes on

  std::string_view Stripped(std::array<char, kLineBuffer>& buffer) const {
    if (stripped) return {text, size};
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) {
      if (!Blank(text[i])) buffer[n++] = text[i];
    }
    return {buffer.data(), n};
  }

  // Keys are whole lines: the key's characters and a line feed. Keys hold no blanks, so a
  // trimmed line can only equal a key once stripped when it is longer than the key.
  bool Is(std::string_view key) const {
    if (!lineFeed || size < key.size()) return false;
    if (size == key.size()) return std::equal(key.begin(), key.end(), text);
    std::array<char, kLineBuffer> buffer;
    return !stripped && Stripped(buffer) == key;
  }
};

// True when from_chars reads the text as strtof would: a decimal number, optionally negative
// (strtof also takes a leading '+', white space, hexadecimal, infinity and NaN with payloads).
bool Decimal(const char* first, const char* last) {
  const char* p = first + (first < last && *first == '-');
  return p < last && ((*p >= '0' && *p <= '9') || *p == '.') &&
         !(p + 1 < last && *p == '0' && (p[1] | 0x20) == 'x');
}

// "%f" on the stripped line: a line that holds no number leaves the coordinate as it is.
// Decimal numbers are converted as from_chars converts them, which rounds as strtof does (both
// give the float nearest to the decimal value); the rest, and values out of range, go to strtof.
void ReadStripped(std::string_view text, float& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (Decimal(first, last)) {
    float v;
    if (platform::FloatFromChars(first, last, v).ec == std::errc()) {
      value = v;
      return;
    }
  }
  std::array<char, kLineBuffer + 1> nulTerminated{};
  std::memcpy(nulTerminated.data(), first, text.size());
  char* end = nullptr;
  const float v = std::strtof(nulTerminated.data(), &end);
  if (end != nulTerminated.data()) value = v;
}

void ReadValue(const Line& line, float& value) {
  // A decimal number that fills the trimmed line has no blank inside it, and from_chars reads
  // no more than decimal numbers: no need to strip first.
  const char* last = line.text + line.size;
  float v;
  const auto [end, ec] = platform::FloatFromChars(line.text, last, v, line.readable);
  if (ec == std::errc() && end == last && Decimal(line.text, last)) {
    value = v;
    return;
  }
  std::array<char, kLineBuffer> buffer;
  ReadStripped(line.Stripped(buffer), value);
}

// Reads the bytes as a text-mode read sees them (every CR LF pair is one LF). A line that fits
// one read is taken where it lies, trimmed; in a file with a NUL byte, and for lines longer than
// one read, the characters are gathered byte by byte as the C library would read them.
class LineReader {
 public:
  // Reads `bytes` from `begin` on; `inPlace` tells that the bytes hold no NUL.
  LineReader(std::span<const uint8_t> bytes, size_t begin, bool inPlace)
      : p_(reinterpret_cast<const char*>(bytes.data()) + begin),
        end_(reinterpret_cast<const char*>(bytes.data()) + bytes.size()),
        inPlace_(inPlace) {}

  // The next line that is not empty once its spaces and tabs are gone; false at the end, or
  // when the next read would start at or after `limit`.
  bool Next(Line& line, const char* limit = nullptr) {
    if (!limit) limit = end_;
    while (p_ < end_ && p_ < limit) {
      if (!(inPlace_ && InPlace(line))) Gather(line);
      if (line.size > 0) return true;
    }
    return false;
  }

  const char* Position() const { return p_; }

  enum class Key { Matched, Other, End };

  // Reads the next line and compares it with `key`.
  Key ReadKey(std::string_view key) {
    if (TakeKey(key)) return Key::Matched;
    Line line;
    if (!Next(line)) return Key::End;
    return line.Is(key) ? Key::Matched : Key::Other;
  }

  // Reads the next line as a value ("%f" on the stripped line); false at the end.
  bool ReadNumber(float& value) {
    if (TakeNumber(value)) return true;
    Line line;
    if (!Next(line)) return false;
    ReadValue(line, value);
    return true;
  }

  enum class Code { Read, NotCode, End };

  // Reads the next line as a group code: a whole line (ending in a line feed, within one read)
  // that holds an integer. Otherwise `line` holds what was read, for the caller to look at.
  Code ReadCode(Line& line, int32_t& code) {
    if (TakeCode(code)) return Code::Read;
    if (!Next(line)) return Code::End;
    if (!line.lineFeed || line.cut) return Code::NotCode;
    std::array<char, kLineBuffer> buffer;
    const std::string_view text = line.Stripped(buffer);
    return Integer(text, code) ? Code::Read : Code::NotCode;
  }

  enum class Value { Read, TooLong, End };

  // A coordinate: the next line as a number. A line longer than one read leaves its rest to be
  // read as lines of their own; unless that rest is blank, the value is too long.
  Value ReadCoordinate(float& value) {
    if (TakeNumber(value)) return Value::Read;
    Line line;
    if (!Next(line)) return Value::End;
    ReadValue(line, value);
    return RestIsBlank(line) ? Value::Read : Value::TooLong;
  }

  // An integer value; a line that holds none leaves `value` as it is.
  bool ReadInteger(int32_t& value) {
    Line line;
    if (!Next(line)) return false;
    std::array<char, kLineBuffer> buffer;
    std::string_view text = line.Stripped(buffer);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    Integer(text, value);
    RestIsBlank(line);
    return true;
  }

  // A text value: the stripped characters of the whole line, however many reads it takes (at
  // most kMaxText of them are kept).
  bool ReadText(std::string& text) {
    static constexpr size_t kMaxText = 1024;
    Line line;
    if (!Next(line)) return false;
    std::array<char, kLineBuffer> buffer;
    text.assign(line.Stripped(buffer));
    while (line.cut) {
      Gather(line);
      if (text.size() < kMaxText) text.append(line.text, std::min(line.size, kMaxText));
    }
    return true;
  }

  // Passes over a value line, whole.
  bool SkipValue() {
    Line line;
    if (!Next(line)) return false;
    RestIsBlank(line);
    return true;
  }

 private:
  // An optionally negative decimal integer of at most nine digits, the whole text.
  static bool Integer(std::string_view text, int32_t& value) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty() || text.size() > 9) return false;
    int32_t v = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    value = negative ? -v : v;
    return true;
  }

  // Reads the rest of a line that did not fit one read, as the reads that follow; true when
  // all of it is blank.
  bool RestIsBlank(Line& line) {
    bool blank = true;
    while (line.cut) {
      Gather(line);
      blank = blank && line.size == 0;
    }
    return blank;
  }

  // A code line of blanks and digits within one read, taken in place.
  bool TakeCode(int32_t& code) {
    if (!inPlace_) return false;
    const char* q = p_;
    while (q < end_ && Blank(*q))
      ++q;
    int32_t v = 0;
    const char* digits = q;
    while (q < end_ && *q >= '0' && *q <= '9' && q - digits < 9)
      v = v * 10 + (*q++ - '0');
    if (q == digits) return false;
    const char* next = LineEnd(q);
    if (!next) return false;
    code = v;
    p_ = next;
    return true;
  }

  // The lines inside a face are read without looking for their end first when they hold just
  // what is expected: blanks, the key or one decimal number, blanks, a line feed, all within one
  // read. Otherwise nothing is read, and the line is read the general way.

  // Past the line feed that must end the line at q, or null.
  const char* LineEnd(const char* q) const {
    while (q < end_ && Blank(*q))
      ++q;
    const bool cr = q < end_ && *q == '\r';
    q += cr;
    if (q >= end_ || *q != '\n') return nullptr;
    ++q;
    const size_t characters = size_t(q - p_) - cr;  // a CR LF pair is one character
    return characters <= kLineBuffer - 1 ? q : nullptr;
  }

  bool TakeKey(std::string_view key) {
    if (!inPlace_) return false;
    const char* q = p_;
    while (q < end_ && Blank(*q))
      ++q;
    if (size_t(end_ - q) < key.size() || !std::equal(key.begin(), key.end(), q)) return false;
    const char* next = LineEnd(q + key.size());
    if (!next) return false;
    p_ = next;
    return true;
  }

  bool TakeNumber(float& value) {
    if (!inPlace_) return false;
    const char* q = p_;
    while (q < end_ && Blank(*q))
      ++q;
    if (!Decimal(q, end_)) return false;
    float v;
    const auto [end, ec] = platform::FloatFromChars(q, end_, v, end_);
    if (ec != std::errc()) return false;
    const char* next = LineEnd(end);
    if (!next) return false;
    value = v;
    p_ = next;
    return true;
  }

  // A whole line in place, trimmed; false (nothing read) when it does not fit one read.
  bool InPlace(Line& line) {
    // The line feed must lie within the 19 characters of one read; a CR LF pair is one of them.
    const char* lf = FindLineFeed();
    if (!lf) return false;
    const char* last = lf;
    if (last > p_ && last[-1] == '\r') --last;
    if (size_t(last - p_) + 1 > kLineBuffer - 1) return false;
    const char* first = p_;
    while (first < last && Blank(*first))
      ++first;
    while (last > first && Blank(last[-1]))
      --last;
    line = {first, size_t(last - first), true, false, end_};
    p_ = lf + 1;
    return true;
  }

  // High bit of every zero byte of x.
  static uint64_t ZeroBytes(uint64_t x) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
  }

  // The first line feed among the next kLineBuffer bytes, or null.
  const char* FindLineFeed() const {
    const size_t window = std::min<size_t>(size_t(end_ - p_), kLineBuffer);
    if constexpr (std::endian::native == std::endian::little) {
      // Most lines are short: look at eight bytes at a time, without a call.
      if (window == kLineBuffer) {
        constexpr uint64_t kLineFeeds = 0x0A0A0A0A0A0A0A0A;
        for (size_t at = 0; at < 16; at += 8) {
          uint64_t w;
          std::memcpy(&w, p_ + at, 8);
          if (const uint64_t m = ZeroBytes(w ^ kLineFeeds)) {
            return p_ + at + size_t(std::countr_zero(m)) / 8;
          }
        }
      }
    }
    return static_cast<const char*>(std::memchr(p_, '\n', window));
  }

  // One read of at most 19 characters, gathered into the buffer.
  void Gather(Line& line) {
    size_t size = 0, taken = 0;
    bool cString = true;  // false after a NUL: a C string ends there
    bool lineFeed = false, ended = false;
    while (p_ < end_ && taken < kLineBuffer - 1) {
      char ch = *p_++;
      if (ch == '\r' && p_ < end_ && *p_ == '\n') ch = *p_++;
      ++taken;
      if (ch == '\n') {
        lineFeed = cString;
        ended = true;
        break;
      }
      if (Blank(ch)) continue;
      if (ch == '\0') cString = false;
      if (cString) buffer_[size++] = ch;
    }
    line = {buffer_.data(),
            size,
            lineFeed,
            true,
            buffer_.data() + buffer_.size(),
            !ended && taken == kLineBuffer - 1 && p_ < end_};
  }

  const char* p_;
  const char* end_;
  const bool inPlace_;  // the file has no NUL byte
  std::array<char, kLineBuffer> buffer_;
};

// Entity names, looked for as whole lines between entities (as "3DFACE" always was: wherever the
// line stands).
constexpr std::string_view kFaceKey = "3DFACE";
enum class Entity { None, Face, Polyline, Vertex, SequenceEnd, Layer, BlockOrSectionEnd };

Entity EntityOf(const Line& line) {
  if (line.Is(kFaceKey)) return Entity::Face;
  if (line.Is("VERTEX")) return Entity::Vertex;
  if (line.Is("POLYLINE")) return Entity::Polyline;
  if (line.Is("SEQEND")) return Entity::SequenceEnd;
  if (line.Is("LAYER")) return Entity::Layer;
  if (line.Is("ENDBLK") || line.Is("ENDSEC")) return Entity::BlockOrSectionEnd;
  return Entity::None;
}

constexpr int32_t kColourUnset = INT32_MIN;  // no code 62: the colour of the entity's layer
constexpr int32_t kByLayer = 256;

// The group codes of one entity, in whatever order the file gives them. Coordinates: index
// 3n + axis for codes 10 + n (x), 20 + n (y), 30 + n (z), n = 0 ... 3.
struct Fields {
  std::array<float, 12> xyz{};
  uint16_t have = 0;  // bit per coordinate index
  int32_t colour = kColourUnset;
  int32_t flags = 0;                 // 70
  std::array<int32_t, 4> indices{};  // 71 ... 74
  bool hasLayer = false;
  std::string layer;  // 8
  std::string name;   // 2 (a LAYER's name)

  bool HasCorner(size_t n) const { return ((have >> (3 * n)) & 7u) == 7u; }
  Vec3 Corner(size_t n) const { return {xyz[3 * n], xyz[3 * n + 1], xyz[3 * n + 2]}; }
};

// How an entity's codes ended: at code 0 (the next line names the next entity), at a line that
// is no group code (left in the line for the caller), at the end of the input, or at a
// coordinate longer than one read.
enum class FieldsEnd { Zero, NotCode, End, TooLong };

FieldsEnd ReadFields(LineReader& r, Line& line, Fields& f) {
  for (;;) {
    int32_t code = 0;
    const LineReader::Code read = r.ReadCode(line, code);
    if (read == LineReader::Code::End) return FieldsEnd::End;
    if (read == LineReader::Code::NotCode) return FieldsEnd::NotCode;
    if (code == 0) return FieldsEnd::Zero;
    if (code >= 10 && code <= 33 && code % 10 <= 3) {
      const size_t index = 3 * size_t(code % 10) + size_t(code / 10 - 1);
      const LineReader::Value value = r.ReadCoordinate(f.xyz[index]);
      if (value == LineReader::Value::End) return FieldsEnd::End;
      if (value == LineReader::Value::TooLong) return FieldsEnd::TooLong;
      f.have = uint16_t(f.have | 1u << index);
      continue;
    }
    bool more = true;
    switch (code) {
      case 8:
        more = r.ReadText(f.layer);
        f.hasLayer = true;
        break;
      case 2:
        more = r.ReadText(f.name);
        break;
      case 62:
        f.colour = kByLayer;  // a line that holds no number reads as no colour
        more = r.ReadInteger(f.colour);
        break;
      case 70:
        more = r.ReadInteger(f.flags);
        break;
      case 71:
      case 72:
      case 73:
      case 74:
        more = r.ReadInteger(f.indices[size_t(code - 71)]);
        break;
      default:
        more = r.SkipValue();
    }
    if (!more) return FieldsEnd::End;
  }
}

// A polygon as read: corners in the file's order, and its style (layer and colour code).
struct DxfPolygon {
  std::array<Vec3, 4> corners;
  uint32_t style = 0;
  uint8_t cornerCount = 4;
};

struct DxfStyle {
  std::string layer;
  int32_t colour = kByLayer;
};

// Why a file is refused.
enum class DxfFault { None, NoFirstCorner, EndsInCorners, CornersMissing, LongCoordinate, Vertex };

// The polygons read from one stretch of the file. The reader is between entities (looking for the
// next entity name) at the stretch's start; it reads up to the first place at or after `stopAt`
// where it is between entities again, outside a POLYLINE, or to the end of the file, or to the
// first fault.
struct DxfRun {
  std::vector<DxfPolygon> polygons;
  std::vector<DxfStyle> styles;
  std::vector<std::pair<std::string, int32_t>> layers;  // LAYER entries: name, colour
  size_t faces = 0;                                     // 3DFACE entities read
  size_t vertices = 0;                                  // VERTEX entities read in meshes
  DxfFault fault = DxfFault::None;
  const char* stop = nullptr;  // where the reader stopped between entities (the file's end: read)
};

// Style numbers of one run, the last one remembered: most files give many entities in a row the
// same layer and colour.
class StyleTable {
 public:
  explicit StyleTable(std::vector<DxfStyle>& styles) : styles_(styles) {}
  uint32_t Of(const std::string& layer, int32_t colour) {
    if (colour == kColourUnset) colour = kByLayer;
    if (last_ < styles_.size() && styles_[last_].colour == colour && styles_[last_].layer == layer)
      return last_;
    std::string key = layer;
    key += '\n';
    key += std::to_string(colour);
    const auto [at, added] = index_.try_emplace(std::move(key), uint32_t(styles_.size()));
    if (added) styles_.push_back({layer, colour});
    last_ = at->second;
    return last_;
  }

 private:
  std::vector<DxfStyle>& styles_;
  std::unordered_map<std::string, uint32_t> index_;
  uint32_t last_ = UINT32_MAX;
};

// A POLYLINE mesh while its VERTEX records are read: a polyface mesh (flag 64: positions, then
// faces by 1-based position numbers) or a polygon mesh (flag 16: M x N positions, row by row).
struct OpenMesh {
  enum class Kind { None, Other, Polyface, Grid } kind = Kind::None;
  int32_t flags = 0, m = 0, n = 0;
  int32_t colour = kColourUnset;
  std::string layer;
  std::vector<Vec3> positions;
  struct FaceRecord {
    std::array<int32_t, 4> indices;
    uint32_t style;
  };
  std::vector<FaceRecord> faces;
};

// Turns a finished mesh into polygons, using only the positions the file holds: a face naming a
// position that is not there, or with fewer than three corners, is left out.
void CloseMesh(OpenMesh& mesh, StyleTable& styles, DxfRun& run) {
  if (mesh.kind == OpenMesh::Kind::Polyface) {
    const size_t count = mesh.positions.size();
    for (const OpenMesh::FaceRecord& face : mesh.faces) {
      DxfPolygon p;
      p.style = face.style;
      uint8_t corners = 0;
      bool inside = true;
      for (int32_t index : face.indices) {
        // A negative number marks an invisible edge; 0 an unused corner.
        const uint32_t k = uint32_t(index < 0 ? -int64_t(index) : index);
        if (k == 0) continue;
        inside = inside && k <= count;
        if (inside) p.corners[corners++] = mesh.positions[k - 1];
      }
      if (!inside || corners < 3) continue;
      p.cornerCount = corners;
      run.polygons.push_back(p);
    }
  } else if (mesh.kind == OpenMesh::Kind::Grid && mesh.m > 0 && mesh.n >= 2) {
    const size_t n = size_t(mesh.n);
    // Only the rows the file holds; a mesh that lacks rows is not closed across them.
    const size_t rows = std::min(size_t(mesh.m), mesh.positions.size() / n);
    const bool closedM = (mesh.flags & 1) && rows == size_t(mesh.m) && rows > 2;
    const bool closedN = (mesh.flags & 32) && n > 2;
    const uint32_t style = styles.Of(mesh.layer, mesh.colour);
    const size_t quadRows = rows < 2 ? 0 : closedM ? rows : rows - 1;
    const size_t quadColumns = closedN ? n : n - 1;
    run.polygons.reserve(run.polygons.size() + quadRows * quadColumns);
    for (size_t i = 0; i < quadRows; ++i) {
      const size_t i1 = (i + 1) % rows;
      for (size_t j = 0; j < quadColumns; ++j) {
        const size_t j1 = (j + 1) % n;
        DxfPolygon p;
        p.style = style;
        p.corners = {mesh.positions[i * n + j], mesh.positions[i * n + j1],
                     mesh.positions[i1 * n + j1], mesh.positions[i1 * n + j]};
        run.polygons.push_back(p);
      }
    }
  }
  mesh = OpenMesh{};
}

void ParseRun(std::span<const uint8_t> bytes, bool inPlace, size_t begin, size_t stopAt,
              DxfRun& run) {
  // A face takes at least 28 lines of two bytes.
  run.polygons.reserve((std::min(stopAt, bytes.size()) - begin) / 56);
  StyleTable styles(run.styles);
  LineReader r(bytes, begin, inPlace);
  const char* limit = reinterpret_cast<const char*>(bytes.data()) + std::min(stopAt, bytes.size());
  Line line;
  bool pending = false;  // `line` was read by an entity and is yet to be looked at
  OpenMesh mesh;
  Fields f;
  for (;;) {
    // A stretch does not stop inside a POLYLINE: its vertices belong to it.
    if (!pending && !r.Next(line, mesh.kind == OpenMesh::Kind::None ? limit : nullptr)) break;
    pending = false;
    const Entity entity = EntityOf(line);
    if (entity == Entity::None) continue;
    if (entity != Entity::Vertex && mesh.kind != OpenMesh::Kind::None) CloseMesh(mesh, styles, run);
    if (entity == Entity::SequenceEnd || entity == Entity::BlockOrSectionEnd) continue;
    if (entity == Entity::Vertex && mesh.kind == OpenMesh::Kind::None) continue;

    f.xyz = {};  // a value line that holds no number leaves its coordinate at 0
    f.have = 0;
    f.colour = kColourUnset;
    f.flags = 0;
    f.indices = {};
    f.hasLayer = false;
    f.layer.clear();
    f.name.clear();
    const FieldsEnd end = ReadFields(r, line, f);
    pending = end == FieldsEnd::NotCode;
    if (end == FieldsEnd::TooLong) {
      run.fault = DxfFault::LongCoordinate;
      return;
    }
    switch (entity) {
      case Entity::Face: {
        if (f.have != 0xFFF) {
          run.fault = f.have == 0             ? DxfFault::NoFirstCorner
                      : end == FieldsEnd::End ? DxfFault::EndsInCorners
                                              : DxfFault::CornersMissing;
          return;
        }
        DxfPolygon p;
        for (size_t n = 0; n < 4; ++n)
          p.corners[n] = f.Corner(n);
        p.style = styles.Of(f.layer, f.colour);
        run.polygons.push_back(p);
        ++run.faces;
        break;
      }
      case Entity::Polyline:
        mesh.kind = (f.flags & 64)   ? OpenMesh::Kind::Polyface
                    : (f.flags & 16) ? OpenMesh::Kind::Grid
                                     : OpenMesh::Kind::Other;
        mesh.flags = f.flags;
        mesh.m = f.indices[0];
        mesh.n = f.indices[1];
        mesh.colour = f.colour;
        mesh.layer = f.layer;
        break;
      case Entity::Vertex: {
        if (mesh.kind == OpenMesh::Kind::Other) break;
        ++run.vertices;
        // In a polyface mesh a record with flag 128 but not 64 is a face; the rest are positions.
        if (mesh.kind == OpenMesh::Kind::Polyface && (f.flags & 192) == 128) {
          const int32_t colour = f.colour != kColourUnset ? f.colour : mesh.colour;
          mesh.faces.push_back({f.indices, styles.Of(f.hasLayer ? f.layer : mesh.layer, colour)});
          break;
        }
        if (!f.HasCorner(0)) {
          run.fault = DxfFault::Vertex;
          return;
        }
        mesh.positions.push_back(f.Corner(0));
        break;
      }
      case Entity::Layer:
        if (!f.name.empty() && f.colour != kColourUnset) run.layers.emplace_back(f.name, f.colour);
        break;
      default:
        break;
    }
  }
  if (mesh.kind != OpenMesh::Kind::None) CloseMesh(mesh, styles, run);
  run.stop = r.Position();
}

// The start of the first line at or after `from` that reads "3DFACE" in place (trimmed, within
// one read, ending in a line feed), or the file's end. The reader is between faces there unless
// the face before it is cut short, which ParseDxf finds out.
size_t NextFaceLine(std::span<const uint8_t> bytes, size_t from) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (size_t at = text.find(kFaceKey, from); at != std::string_view::npos;
       at = text.find(kFaceKey, at + 1)) {
    size_t start = at;
    while (start > 0 && Blank(text[start - 1]))
      --start;
    if (start == 0 || text[start - 1] != '\n' || start < from) continue;
    size_t end = at + kFaceKey.size();
    while (end < text.size() && Blank(text[end]))
      ++end;
    if (end < text.size() && text[end] == '\r') ++end;
    if (end < text.size() && text[end] == '\n' && end + 1 - start <= kLineBuffer - 1) return start;
  }
  return bytes.size();
}

// The AutoCAD colour index palette, made by its well-known rule: 1 to 9 are red, yellow, green,
// cyan, blue, magenta, white, grey 128 and grey 192; 10 to 249 are 24 hues 15 degrees apart (ten
// entries each), where the last digit gives the brightness (0-1: 255, 2-3: 204, 4-5: 153, 6-7:
// 127, 8-9: 76) and odd digits the pale tint (the weakest component at half the brightness);
// 250 to 255 are greys 51, 80, 105, 130, 190 and 255. Entry 0 (by block) is black.
constexpr std::array<std::array<uint8_t, 3>, 256> MakeAciPalette() {
  std::array<std::array<uint8_t, 3>, 256> p{};
  constexpr std::array<std::array<uint8_t, 3>, 10> kFirst = {{{0, 0, 0},
                                                              {255, 0, 0},
                                                              {255, 255, 0},
                                                              {0, 255, 0},
                                                              {0, 255, 255},
                                                              {0, 0, 255},
                                                              {255, 0, 255},
                                                              {255, 255, 255},
                                                              {128, 128, 128},
                                                              {192, 192, 192}}};
  for (size_t i = 0; i < kFirst.size(); ++i)
    p[i] = kFirst[i];
  constexpr std::array<int, 5> kBrightness = {255, 204, 153, 127, 76};
  for (int i = 10; i < 250; ++i) {
    const int hue = (i - 10) / 10, digit = i % 10;
    const int hi = kBrightness[size_t(digit / 2)];
    const int lo = digit % 2 ? hi / 2 : 0;
    const int k = hue % 4;
    auto mid = [&](int steps) { return lo + (hi - lo) * steps / 4; };
    int r = 0, g = 0, b = 0;
    switch (hue / 4) {  // six sixths of the colour circle, starting at red
      case 0:
        r = hi, g = mid(k), b = lo;
        break;
      case 1:
        r = mid(4 - k), g = hi, b = lo;
        break;
      case 2:
        r = lo, g = hi, b = mid(k);
        break;
      case 3:
        r = lo, g = mid(4 - k), b = hi;
        break;
      case 4:
        r = mid(k), g = lo, b = hi;
        break;
      default:
        r = hi, g = lo, b = mid(4 - k);
        break;
    }
    p[size_t(i)] = {uint8_t(r), uint8_t(g), uint8_t(b)};
  }
  constexpr std::array<uint8_t, 6> kGreys = {51, 80, 105, 130, 190, 255};
  for (size_t i = 0; i < kGreys.size(); ++i)
    p[250 + i] = {kGreys[i], kGreys[i], kGreys[i]};
  return p;
}
constexpr std::array<std::array<uint8_t, 3>, 256> kAciPalette = MakeAciPalette();

// What the read gives the model: polygons whose style is their group, and each group's colour
// index (0: no colour, the grey group a file without colours has).
struct DxfRead {
  std::vector<DxfPolygon> polygons;
  std::vector<int32_t> groupColours;
};

// The colour index a style is drawn with: its own, or its layer's (code 256, or no code 62);
// a negative index (a layer that is off) counts as its absolute value. 0 (by block: the colour
// of an INSERT, which is not followed) and anything outside 1 ... 255 give no colour.
int32_t ResolveColour(const DxfStyle& style,
                      const std::unordered_map<std::string, int32_t>& layerColours) {
  int32_t colour = style.colour;
  if (colour == kByLayer) {
    const auto at = layerColours.find(style.layer);
    colour = at == layerColours.end() ? 0 : at->second;
  }
  if (colour < 0) colour = colour == INT32_MIN ? 0 : -colour;
  return colour >= 1 && colour <= 255 ? colour : 0;
}

// Gives every polygon its group: one group per colour, in the order the colours first appear.
void AssignGroups(std::vector<DxfStyle>& styles, const std::vector<DxfRun>& parts, DxfRead& read) {
  std::unordered_map<std::string, int32_t> layerColours;
  for (const DxfRun& part : parts) {
    for (const auto& [name, colour] : part.layers)
      layerColours.try_emplace(name, colour);
  }
  std::vector<int32_t> colourOf(styles.size());
  for (size_t s = 0; s < styles.size(); ++s)
    colourOf[s] = ResolveColour(styles[s], layerColours);
  std::array<int32_t, 256> groupOf;
  groupOf.fill(-1);
  for (DxfPolygon& p : read.polygons) {
    const int32_t colour = colourOf[p.style];
    if (groupOf[size_t(colour)] < 0) {
      groupOf[size_t(colour)] = int32_t(read.groupColours.size());
      read.groupColours.push_back(colour);
    }
    p.style = uint32_t(groupOf[size_t(colour)]);
  }
}

// Reads every 3DFACE and POLYLINE mesh; returns the reason for refusing the file, or "". A large
// file is read in stretches on several threads, each starting at a "3DFACE" line; a stretch's
// polygons count only when the stretch before it ended exactly where it began (the reader
// between entities there, as a reading from the start would have it), so the polygons and the
// reason are those of one reading from the start. Where that does not hold, the file is read on
// from there in one piece.
std::string ParseDxf(std::span<const uint8_t> bytes, DxfRead& read, const DxfThreads& threads) {
  size_t runs = threads.maxRuns ? threads.maxRuns : platform::WorkerCount() + 1;
  runs = std::min(runs,
                  std::max<size_t>(1, bytes.size() / std::max<size_t>(threads.minBytesPerRun, 1)));
  std::vector<size_t> starts = {0};
  for (size_t k = 1; k < runs; ++k) {
    const size_t at = NextFaceLine(bytes, std::max(starts.back() + 1, bytes.size() * k / runs));
    if (at >= bytes.size()) break;
    starts.push_back(at);
  }
  const auto* base = reinterpret_cast<const char*>(bytes.data());
  std::vector<DxfRun> parts(starts.size());
  // Lines are taken in place unless the file holds a NUL byte. Each stretch looks for one in its
  // own bytes while it is read as if there were none; when one is found, the file is read again
  // in one piece the other way.
  std::vector<char> nul(parts.size(), 0);
  auto parse = [&](size_t k) {
    const size_t stopAt = k + 1 < starts.size() ? starts[k + 1] : SIZE_MAX;
    const size_t end = std::min(stopAt, bytes.size());
    nul[k] = end > starts[k] && std::memchr(bytes.data() + starts[k], '\0', end - starts[k]);
    ParseRun(bytes, true, starts[k], stopAt, parts[k]);
  };
  // A stretch that fails on a pool thread (out of memory) is read again here from the start.
  platform::RunParts(parts.size(), [&](size_t k) {
    parts[k] = DxfRun{};
    parse(k);
  });
  const bool inPlace = std::find(nul.begin(), nul.end(), 1) == nul.end();
  if (!inPlace) {
    parts.assign(1, DxfRun{});
    starts.assign(1, 0);
    ParseRun(bytes, false, 0, SIZE_MAX, parts[0]);
  }

  // The stretches that count, in order; a stretch read on from where one ran past the next
  // one's start ends the list.
  size_t used = parts.size();
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    if (parts[k].fault != DxfFault::None) {
      used = k + 1;
      break;
    }
    if (parts[k].stop != base + starts[k + 1]) {
      DxfRun rest;
      if (parts[k].stop < base + bytes.size()) {
        ParseRun(bytes, inPlace, size_t(parts[k].stop - base), SIZE_MAX, rest);
      }
      parts[k + 1] = std::move(rest);
      used = k + 2;
      break;
    }
  }
  parts.resize(used);

  // The polygons in file order, their styles numbered across the stretches.
  size_t total = 0, faces = 0, vertices = 0;
  for (const DxfRun& part : parts) {
    total += part.polygons.size();
    faces += part.faces;
    vertices += part.vertices;
  }
  read.polygons = std::move(parts[0].polygons);
  read.polygons.reserve(total);
  std::vector<DxfStyle> styles = parts[0].styles;
  std::unordered_map<std::string, uint32_t> styleIndex;
  auto key = [](const DxfStyle& s) { return s.layer + '\n' + std::to_string(s.colour); };
  for (size_t s = 0; s < styles.size(); ++s)
    styleIndex.emplace(key(styles[s]), uint32_t(s));
  for (size_t k = 1; k < parts.size(); ++k) {
    std::vector<uint32_t> renumber(parts[k].styles.size());
    for (size_t s = 0; s < renumber.size(); ++s) {
      const auto [at, added] =
          styleIndex.try_emplace(key(parts[k].styles[s]), uint32_t(styles.size()));
      if (added) styles.push_back(parts[k].styles[s]);
      renumber[s] = at->second;
    }
    const size_t from = read.polygons.size();
    read.polygons.insert(read.polygons.end(), parts[k].polygons.begin(), parts[k].polygons.end());
    for (size_t i = from; i < read.polygons.size(); ++i)
      read.polygons[i].style = renumber[read.polygons[i].style];
  }

  const std::string face = "3DFACE " + std::to_string(faces + 1);
  switch (parts.back().fault) {
    case DxfFault::NoFirstCorner:
      return face + " ends before its first corner";
    case DxfFault::EndsInCorners:
      return face + " ends inside its corners";
    case DxfFault::CornersMissing:
      return face + ": corner codes missing";
    case DxfFault::LongCoordinate:
      return "a coordinate line is longer than 19 characters";
    case DxfFault::Vertex:
      return "VERTEX " + std::to_string(vertices) + " of a mesh has no position";
    case DxfFault::None:
      break;
  }
  if (read.polygons.empty()) return "no 3DFACE and no mesh";
  if (read.polygons.size() > size_t{INT32_MAX} / 4) return "too many faces";
  AssignGroups(styles, parts, read);
  return "";
}

void Apply(ModelHost& host, Model& model, const std::string& path, const DxfRead& read) {
  // The file's corners 0, 1, 2, 3 become the polygon's corners 2, 1, 0, 3: the polygon faces the
  // other way. A triangle takes 2, 1, 0.
  static constexpr std::array<size_t, 4> kOrder = {2, 1, 0, 3};
  const std::vector<DxfPolygon>& polygons = read.polygons;
  size_t entries = 0;
  for (const DxfPolygon& p : polygons)
    entries += p.cornerCount;
  GrowPositionPools(model, entries);
  GrowTo(model.colours, size_t{1});
  GrowTo(model.uvs, size_t{1});
  GrowTo(model.polygons, polygons.size());
  const size_t groups = read.groupColours.size();
  if (size_t(std::max(model.groupCount, 0)) < groups) {
    GrowTo(model.groups, groups);
    for (size_t g = size_t(std::max(model.groupCount, 0)); g < groups; ++g)
      model.groups[g] = NewGroup();
    model.groupCount = int32_t(groups);
  }

  PolygonSplitter splitter;
  size_t e = 0;
  for (size_t j = 0; j < polygons.size(); ++j) {
    const DxfPolygon& p = polygons[j];
    Polygon polygon;
    polygon.cornerCount = p.cornerCount;
    polygon.group = int32_t(p.style);
    const size_t first = e;
    for (size_t i = 0; i < p.cornerCount; ++i, ++e)
      model.positions[e] = p.corners[p.cornerCount == 4 ? kOrder[i] : 2 - i];
    // A face that would fold on the diagonal from its first corner splits on the other one.
    const size_t start =
        p.cornerCount == 4
            ? size_t(splitter.QuadFanStart(std::span<const Vec3, 4>(&model.positions[first], 4)))
            : 0;
    for (size_t i = 0; i < p.cornerCount; ++i)
      polygon.corners[i] = {int32_t(first + (start + i) % p.cornerCount), 0, 0, 0};
    model.polygons[j] = polygon;
  }
  model.positionCount = int32_t(entries);
  model.polygonCount = int32_t(polygons.size());
  model.colours[0] = {255.0f, 255.0f, 255.0f, 255.0f};
  model.colourCount = 1;
  model.uvs[0] = Uv{};
  model.uvCount = 1;
  for (size_t g = 0; g < groups; ++g) {
    Group& group = model.groups[g];
    const int32_t colour = read.groupColours[g];
    if (colour == 0) {
      group.colour = {200.0f, 200.0f, 200.0f, 255.0f};
    } else {
      const auto& rgb = kAciPalette[size_t(colour)];
      group.colour = {float(rgb[0]), float(rgb[1]), float(rgb[2]), 255.0f};
    }
    group.doubleSided = 1;
    group.shading = 3;
  }

  model.fileName.Set(path);
  DeriveNormals(model);
  model.shadingChanged = 1;
  host.ResetFrameClock();
}

}  // namespace

int LoadDxfFromMemory(ModelHost& host, Model& model, const std::string& path,
                      std::span<const uint8_t> bytes, int32_t /*version*/,
                      const DxfThreads& threads) {
  DxfRead read;
  const std::string reason = ParseDxf(bytes, read, threads);
  if (!reason.empty()) {
    host.Refuse(path, reason);
    return 0;
  }
  Apply(host, model, path, read);
  return 1;
}

int LoadDxf(ModelHost& host, Model& model, const std::string& path, int32_t version) {
  platform::FileBytes bytes;
  if (!platform::ReadFileBytes(path, bytes)) {
    host.Refuse(path, "cannot be opened");
    return 0;
  }
  return LoadDxfFromMemory(host, model, path, bytes.Bytes(), version);
}

}  // namespace wz
