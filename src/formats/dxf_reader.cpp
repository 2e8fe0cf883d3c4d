// DXF reader: takes the 3DFACE entities of a DXF text file and ignores everything else. Each
// face becomes a four-corner polygon in group 0 with its own four positions, in the corner order
// 2, 1, 0, 3 (the polygon faces the other way from the DXF face); group 0 is drawn flat, grey and
// double-sided, and the normals are derived afterwards.
//
// Lines are read as the C library reads text with a 20-byte buffer: CR LF becomes LF, a line of
// more than 19 characters is cut and its rest read as the next line. Spaces and tabs are removed
// and lines left empty are skipped; keys are whole lines including the line feed. After "3DFACE"
// the reader looks for the first "10" and then needs the twelve corner codes 10, 20, 30, 11, ...,
// 33 strictly in order, each followed by its value. The file is read in one pass over its bytes,
// lines taken where they lie (a line is gathered into a small buffer only when it needs the
// C library's rules spelled out), and checked whole before the model is touched: a refused file
// leaves the model as it was.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
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

 private:
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
    bool lineFeed = false;
    while (p_ < end_ && taken < kLineBuffer - 1) {
      char ch = *p_++;
      if (ch == '\r' && p_ < end_ && *p_ == '\n') ch = *p_++;
      ++taken;
      if (ch == '\n') {
        lineFeed = cString;
        break;
      }
      if (Blank(ch)) continue;
      if (ch == '\0') cString = false;
      if (cString) buffer_[size++] = ch;
    }
    line = {buffer_.data(), size, lineFeed, true, buffer_.data() + buffer_.size()};
  }

  const char* p_;
  const char* end_;
  const bool inPlace_;  // the file has no NUL byte
  std::array<char, kLineBuffer> buffer_;
};

constexpr std::string_view kFaceKey = "3DFACE";
constexpr std::string_view kFirstCornerKey = "10";
// The group codes after the first "10", each followed by its value: 20, 30 for corner 0, then
// 11, 21, 31 for corner 1, and so on.
constexpr std::array<std::string_view, 11> kCornerCodes = {"20", "30", "11", "21", "31", "12",
                                                           "22", "32", "13", "23", "33"};

using DxfFace = std::array<Vec3, 4>;

float& Coordinate(DxfFace& face, size_t index) {  // index 0 .. 11: x0, y0, z0, x1, ...
  Vec3& corner = face[index / 3];
  return index % 3 == 0 ? corner.x : index % 3 == 1 ? corner.y : corner.z;
}

// Why a file is refused.
enum class DxfFault { None, NoFirstCorner, EndsInCorners, CodesOutOfOrder };

// The faces read from one stretch of the file. The reader is between faces (looking for the next
// "3DFACE") at the stretch's start; it reads up to the first place at or after `stopAt` where it
// is between faces again, or to the end of the file, or to the first fault.
struct DxfRun {
  std::vector<DxfFace> faces;
  DxfFault fault = DxfFault::None;
  const char* stop = nullptr;  // where the reader stopped between faces (the file's end: read)
};

void ParseRun(std::span<const uint8_t> bytes, bool inPlace, size_t begin, size_t stopAt,
              DxfRun& run) {
  // A face takes at least 28 lines of two bytes.
  run.faces.reserve((std::min(stopAt, bytes.size()) - begin) / 56);
  LineReader r(bytes, begin, inPlace);
  const char* limit = reinterpret_cast<const char*>(bytes.data()) + std::min(stopAt, bytes.size());
  Line line;
  for (;;) {
    bool found = false;
    while (!found && r.Next(line, limit))
      found = line.Is(kFaceKey);
    if (!found) {
      run.stop = r.Position();
      return;
    }
    do {
      if (!r.Next(line)) {
        run.fault = DxfFault::NoFirstCorner;
        return;
      }
    } while (!line.Is(kFirstCornerKey));
    DxfFace face{};
    if (!r.ReadNumber(Coordinate(face, 0))) {
      run.fault = DxfFault::EndsInCorners;
      return;
    }
    for (size_t i = 0; i < kCornerCodes.size(); ++i) {
      const LineReader::Key key = r.ReadKey(kCornerCodes[i]);
      if (key != LineReader::Key::Matched || !r.ReadNumber(Coordinate(face, i + 1))) {
        run.fault =
            key == LineReader::Key::Other ? DxfFault::CodesOutOfOrder : DxfFault::EndsInCorners;
        return;
      }
    }
    run.faces.push_back(face);
  }
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

// Reads every 3DFACE; returns the reason for refusing the file, or "". A large file is read in
// stretches on several threads, each starting at a "3DFACE" line; a stretch's faces count only
// when the stretch before it ended exactly where it began (the reader between faces there, as a
// reading from the start would have it), so the faces and the reason are those of one reading
// from the start. Where that does not hold, the file is read on from there in one piece.
std::string ParseDxf(std::span<const uint8_t> bytes, std::vector<DxfFace>& faces,
                     const DxfThreads& threads) {
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

  size_t total = 0;
  for (const DxfRun& part : parts)
    total += part.faces.size();
  faces = std::move(parts[0].faces);
  faces.reserve(total);
  DxfFault fault = DxfFault::None;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) faces.insert(faces.end(), parts[k].faces.begin(), parts[k].faces.end());
    fault = parts[k].fault;
    if (fault != DxfFault::None || k + 1 == parts.size()) break;
    if (parts[k].stop != base + starts[k + 1]) {
      // The stretch ran past the next one's start inside a face: read on from where it stopped.
      DxfRun rest;
      if (parts[k].stop < base + bytes.size()) {
        ParseRun(bytes, inPlace, size_t(parts[k].stop - base), SIZE_MAX, rest);
      }
      faces.insert(faces.end(), rest.faces.begin(), rest.faces.end());
      fault = rest.fault;
      break;
    }
  }
  const std::string which = "3DFACE " + std::to_string(faces.size() + 1);
  switch (fault) {
    case DxfFault::NoFirstCorner:
      return which + " ends before its first corner";
    case DxfFault::EndsInCorners:
      return which + " ends inside its corners";
    case DxfFault::CodesOutOfOrder:
      return which + ": corner codes missing or out of order";
    case DxfFault::None:
      break;
  }
  if (faces.empty()) return "no 3DFACE";
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

  PolygonSplitter splitter;
  for (size_t j = 0; j < faces.size(); ++j) {
    Polygon polygon;
    polygon.cornerCount = 4;
    for (size_t i = 0; i < 4; ++i)
      model.positions[4 * j + i] = faces[j][kOrder[i]];
    // A face that would fold on the diagonal from its first corner splits on the other one.
    const size_t start =
        size_t(splitter.QuadFanStart(std::span<const Vec3, 4>(&model.positions[4 * j], 4)));
    for (size_t i = 0; i < 4; ++i)
      polygon.corners[i] = {int32_t(4 * j + (start + i) % 4), 0, 0, 0};
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
                      std::span<const uint8_t> bytes, int32_t /*version*/,
                      const DxfThreads& threads) {
  std::vector<DxfFace> faces;
  const std::string reason = ParseDxf(bytes, faces, threads);
  if (!reason.empty()) {
    host.Refuse(path, reason);
    return 0;
  }
  Apply(host, model, path, faces);
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
