// Token readers for the bodies of text and binary X files, used by the X loader. Both offer the
// same operations so that one parser (a template over the reader type) serves both flavours:
// numbers are read count-first ("next integer", "next float"), which makes the text reader ignore
// missing, extra or doubled separators and lets the binary reader take numbers from its merged
// integer and float lists wherever the list boundaries fall.
//
// Every read is bounded by the end of the body; the first failure is kept (with the byte offset)
// and every later read fails too.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3dx/x_file.h"
#include "platform/decimal.h"

namespace wz::d3dx::xlex {

enum class Tok { End, Name, OBrace, CBrace, Guid, String, Number, Bad };

// Shared failure state and offsets.
class LexerBase {
 public:
  bool failed() const { return status_.error != XError::None; }
  const XStatus& status() const { return status_; }

  // Records the first failure, naming the byte where it happened; always returns false.
  bool Fail(XError e, const std::string& what) {
    if (!failed()) {
      status_.error = e;
      status_.message = what + " (byte " + std::to_string(offset()) +
                        (inflated_ ? " of the uncompressed data)" : ")");
    }
    end_ = p_;  // stop every later read
    return false;
  }

  size_t offset() const { return static_cast<size_t>(p_ - begin_) + 16; }

 protected:
  LexerBase(const uint8_t* data, size_t size, bool inflated)
      : begin_(data), p_(data), end_(data + size), inflated_(inflated) {}
  size_t remaining() const { return static_cast<size_t>(end_ - p_); }

  const uint8_t* begin_;
  const uint8_t* p_;
  const uint8_t* end_;
  bool inflated_;
  XStatus status_;
};

// ---------------------------------------------------------------------------------------------
// Text bodies.

class TextLexer : public LexerBase {
 public:
  TextLexer(const uint8_t* data, size_t size, bool inflated, const XThreads& threads = {})
      : LexerBase(data, size, inflated), threads_(threads) {}
  TextLexer(const TextLexer&) = delete;
  TextLexer& operator=(const TextLexer&) = delete;

  // Smallest number of bytes a number takes (a digit and the byte after it).
  static constexpr uint64_t kMinBytesPerNumber = 2;

  // True when `count` records of `numbersPer` numbers each can still be in the body.
  bool Fits(uint64_t count, uint64_t numbersPer) const {
    return count * numbersPer * kMinBytesPerNumber <= remaining();
  }

  Tok Peek() {
    SkipFiller();
    if (p_ == end_) return failed() ? Tok::Bad : Tok::End;
    const uint8_t c = *p_;
    switch (c) {
      case '{':
        return Tok::OBrace;
      case '}':
        return Tok::CBrace;
      case '<':
        return Tok::Guid;
      case '"':
        return Tok::String;
      case '[':
      case ']':
      case '>':
      case '(':
      case ')':
        Fail(XError::Syntax, std::string("unexpected '") + static_cast<char>(c) + "'");
        return Tok::Bad;
      default:
        break;
    }
    if (IsNumberStart(c)) return Tok::Number;
    return Tok::Name;
  }

  bool ReadName(std::string_view& out) {
    SkipFiller();
    const uint8_t* s = p_;
    ScanWord();
    if (p_ == s) return Fail(p_ == end_ ? XError::Truncated : XError::Syntax, "expected a name");
    out = std::string_view(reinterpret_cast<const char*>(s), p_ - s);
    return true;
  }

  // The optional instance name between an object's type and its '{'.
  bool ReadObjectName(std::string_view& out) {
    SkipFiller();
    out = {};
    if (p_ == end_ || *p_ == '{') return true;
    const uint8_t* s = p_;
    ScanWord();
    out = std::string_view(reinterpret_cast<const char*>(s), p_ - s);
    return true;
  }

  bool Expect(Tok t) {
    const Tok got = Peek();
    if (got == t) {
      ++p_;
      return true;
    }
    if (got == Tok::End)
      return Fail(XError::Truncated, t == Tok::OBrace ? "expected '{'" : "expected '}'");
    return Fail(XError::Syntax, t == Tok::OBrace ? "expected '{'" : "expected '}'");
  }

  // A GUID in angle brackets, returned in lower case as 8-4-4-4-12 hex digits.
  bool ReadGuid(std::string& out) {
    SkipFiller();
    if (p_ == end_) return Fail(XError::Truncated, "expected a GUID");
    if (*p_ != '<') return Fail(XError::Syntax, "expected a GUID");
    const uint8_t* s = p_ + 1;
    const size_t limit = std::min<size_t>(remaining() - 1, 64);
    const void* close = std::memchr(s, '>', limit);
    if (!close) return Fail(limit < 64 ? XError::Truncated : XError::Syntax, "unterminated GUID");
    const uint8_t* e = static_cast<const uint8_t*>(close);
    out.clear();
    for (const uint8_t* q = s; q < e; ++q) {
      const uint8_t c = *q;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    }
    if (!IsGuidText(out)) return Fail(XError::Syntax, "malformed GUID");
    p_ = e + 1;
    return true;
  }

  // A quoted string; a doubled backslash inside it is read as one backslash.
  bool ReadString(std::string& out) {
    SkipFiller();
    if (p_ == end_) return Fail(XError::Truncated, "expected a string");
    if (*p_ != '"') return Fail(XError::Syntax, "expected a string");
    const uint8_t* s = p_ + 1;
    const void* close = std::memchr(s, '"', static_cast<size_t>(end_ - s));
    if (!close) return Fail(XError::Truncated, "unterminated string");
    const uint8_t* e = static_cast<const uint8_t*>(close);
    out.clear();
    for (const uint8_t* q = s; q < e; ++q) {
      out.push_back(static_cast<char>(*q));
      if (*q == '\\' && q + 1 < e && q[1] == '\\') ++q;
    }
    p_ = e + 1;
    return true;
  }

  enum class Kind : uint8_t { Float, UInt };

  bool ReadUInt(uint32_t& v) { return (ahead_ && Ahead(Kind::UInt, v)) || ScanUInt(v); }

  bool ReadFloat(float& v) {
    uint32_t bits;
    if (ahead_ && Ahead(Kind::Float, bits)) {
      v = std::bit_cast<float>(bits);
      return true;
    }
    return ScanFloat(v);
  }

  // Called before an array of about `expected` numbers of one kind. When the array is long, it
  // is cut into stretches that pool threads read from the last one down while this reader goes
  // on from the first; the numbers read there are taken when this reader arrives exactly where a
  // stretch began, and a stretch no thread has begun by then is read here. Between tokens the
  // reader has no state but its position, so a stretch read from that position gives what
  // reading on here would give, refusals included (a stretch that stops on a refusal hands over
  // before it, and the refusal is read here). Arriving anywhere else (the stretch began inside a
  // comment, the array ended) drops the stretches.
  void ReadAhead(Kind kind, uint64_t expected);

 private:
  bool ScanUInt(uint32_t& v) {
    SkipFiller();
    if (p_ == end_) return Fail(XError::Truncated, "expected an integer");
    const char* s = reinterpret_cast<const char*>(p_);
    if (*s == '+') ++s;
    const char* end = reinterpret_cast<const char*>(end_);
    // Up to nine digits cannot overflow: read them here, longer numbers by from_chars.
    const char* q = s;
    uint32_t small = 0;
    while (q < end && q - s < 9 && unsigned(*q - '0') < 10)
      small = small * 10 + unsigned(*q++ - '0');
    const char* token = reinterpret_cast<const char*>(p_);
    if (q > s && (q == end || unsigned(*q - '0') >= 10)) {
      v = small;
      p_ = reinterpret_cast<const uint8_t*>(q);
      if (p_ != end_ && !IsNumberEnd(*p_)) return NotAnInteger(token);
      return true;
    }
    auto [ptr, ec] = std::from_chars(s, end, v);
    if (ec == std::errc::invalid_argument) return NotAnInteger(token);
    if (ec == std::errc::result_out_of_range) {
      return Fail(XError::CountTooLarge, "integer " + Shown(token) + " is too large");
    }
    p_ = reinterpret_cast<const uint8_t*>(ptr);
    if (p_ != end_ && !IsNumberEnd(*p_)) return NotAnInteger(token);
    return true;
  }

  // A refusal shows the token as the file writes it (up to the next delimiter, at most 32
  // characters, anything but printable ASCII as '?'), so that a number is never shown wrapped.
  std::string Shown(const char* token) const {
    const char* end = reinterpret_cast<const char*>(end_);
    std::string out;
    for (const char* c = token; c < end && (c == token || !IsNumberEnd(uint8_t(*c))); ++c) {
      if (out.size() == 32) return out + "...";
      out.push_back(*c > 0x20 && *c < 0x7F ? *c : '?');
    }
    return out;
  }
  bool NotAnInteger(const char* token) {
    return Fail(XError::Syntax, "expected an integer, found " + Shown(token));
  }

  bool ScanFloat(float& v) {
    SkipFiller();
    if (p_ == end_) return Fail(XError::Truncated, "expected a number");
    const char* s = reinterpret_cast<const char*>(p_);
    if (*s == '+') ++s;
    const char* end = reinterpret_cast<const char*>(end_);
    auto [ptr, ec] = platform::FloatFromChars(s, end, v, end);
    if (ec == std::errc::invalid_argument) return Fail(XError::Syntax, "expected a number");
    p_ = reinterpret_cast<const uint8_t*>(ptr);
    if (ec == std::errc::result_out_of_range) v = 0;
    // Old C runtimes print non-finite values as 1.#QNAN0, -1.#IND00, 1.#INF00: all read as 0.
    if (p_ != end_ && *p_ == '#') {
      ++p_;
      while (p_ != end_ && IsAlnum(*p_))
        ++p_;
      v = 0;
    }
    if (p_ != end_ && !IsNumberEnd(*p_)) return Fail(XError::Syntax, "malformed number");
    if (!std::isfinite(v)) v = 0;
    return true;
  }

  // One stretch read ahead: the numbers from `start` on, and where each one ends. A pool thread
  // fills the vectors; `limit` (changed by the reader) and `state` sit in lines of their own.
  enum RunState : int { kPending, kReading, kDone, kCancelled };
  struct Run {
    const uint8_t* start = nullptr;
    const uint8_t* stop = nullptr;  // the next stretch's start, or the end of the body
    alignas(64) std::atomic<uint64_t> limit{UINT64_MAX};
    alignas(64) std::atomic<int> state{kPending};
    std::vector<uint32_t> values;  // integers, or the bits of floats
    std::vector<uint32_t> ends;    // offsets from `start`
  };
  // The stretches of one array, shared with the pool tasks that read them. Tasks take stretches
  // from the last one down while the reader goes up from the first, taking what they have read
  // and reading here what no task has begun; so the reader never waits for more than the one
  // stretch a task is in, however slow the tasks are.
  struct Stretches {
    Kind kind;
    const uint8_t *begin, *end;  // the body
    bool inflated;
    std::vector<std::unique_ptr<Run>> runs;  // runs[0] is read here and holds nothing
    std::atomic<size_t> back{0};             // tasks take runs[back - 1] next
  };
  // The reader's side: a stretch not begun is called off when the reader is done with the
  // array; one being read is waited for, as it reads the body.
  struct ReaderSide {
    std::shared_ptr<Stretches> shared;
    uint64_t expected = 0, taken = 0;  // numbers of the array; taken before stretch `run`
    size_t run = 0;                    // the stretch the reader is in
    ~ReaderSide() {
      for (const auto& r : shared->runs) {
        int s = kPending;
        r->state.compare_exchange_strong(s, kCancelled);
        while ((s = r->state.load(std::memory_order_acquire)) == kReading)
          r->state.wait(s);
      }
    }
  };

 public:
  // How many numbers were taken from stretches read on other threads.
  uint64_t TakenAhead() const { return takenAhead_; }

 private:
  // The next number from the stretches: taken from the current stretch while the reader stands
  // where its last number ended, read here (false) in a stretch read here.
  bool Ahead(Kind kind, uint32_t& bits) {
    if (take_ != takeEnd_ && p_ == takeAt_ && kind == aheadKind_) {
      bits = *take_++;
      p_ = takeAt_ = takeBase_ + *takeEnds_++;
      ++takenAhead_;
      return true;
    }
    if (takeBase_ == nullptr) {
      SkipFiller();
      if (p_ < hereStop_) {
        ++takenHere_;
        return false;
      }
    }
    return NextStretch(kind, bits);
  }

  bool Drop() {
    ahead_.reset();
    take_ = takeEnd_ = takeEnds_ = nullptr;
    takeBase_ = takeAt_ = nullptr;
    return false;
  }

  bool NextStretch(Kind kind, uint32_t& bits);
  void StartStretches(Kind kind, uint64_t expected);
  static void TakeStretches(Stretches& s);
  static void ReadRun(const Stretches& s, Run& run);

 public:
  // Skips a stray number, string or GUID where the parser expects none.
  bool SkipStray(Tok t) {
    if (t == Tok::String) {
      std::string s;
      return ReadString(s);
    }
    if (t == Tok::Guid) {
      std::string s;
      return ReadGuid(s);
    }
    SkipFiller();
    ScanWord();
    return !failed();
  }

  // Skips everything up to and including the '}' that closes a '{' just read.
  bool SkipBraced() {
    uint64_t depth = 1;
    while (true) {
      SkipFiller();
      if (p_ == end_) return Fail(XError::Truncated, "unterminated object");
      const uint8_t c = *p_;
      if (c == '{') {
        ++depth;
        ++p_;
      } else if (c == '}') {
        ++p_;
        if (--depth == 0) return true;
      } else if (c == '"') {
        const void* close = std::memchr(p_ + 1, '"', remaining() - 1);
        if (!close) return Fail(XError::Truncated, "unterminated string");
        p_ = static_cast<const uint8_t*>(close) + 1;
      } else if (IsDelimiter(c)) {
        ++p_;  // < > [ ] ( ) of template declarations and GUIDs
      } else {
        ScanWord();
      }
    }
  }

  // Skips a template declaration after its keyword: the name, then the braced body.
  bool SkipTemplate() {
    while (true) {
      const Tok t = Peek();
      if (t == Tok::OBrace) {
        ++p_;
        return SkipBraced();
      }
      if (t != Tok::Name) {
        return Fail(t == Tok::End ? XError::Truncated : XError::Syntax,
                    "malformed template declaration");
      }
      ScanWord();
    }
  }

 private:
  enum : uint8_t { kWhite = 1, kSep = 2, kDelim = 4, kNumStart = 8, kAlnum = 16 };
  static constexpr auto kClass = [] {
    std::array<uint8_t, 256> t{};
    for (int c : {' ', '\t', '\r', '\n'})
      t[c] |= kWhite | kDelim;
    for (int c : {';', ','})
      t[c] |= kSep | kDelim;
    for (int c : {'{', '}', '"', '<', '>', '[', ']', '(', ')'})
      t[c] |= kDelim;
    for (int c = '0'; c <= '9'; ++c)
      t[c] |= kNumStart | kAlnum;
    for (int c : {'-', '+', '.'})
      t[c] |= kNumStart;
    for (int c = 'a'; c <= 'z'; ++c)
      t[c] |= kAlnum;
    for (int c = 'A'; c <= 'Z'; ++c)
      t[c] |= kAlnum;
    return t;
  }();

  static bool IsNumberStart(uint8_t c) { return kClass[c] & kNumStart; }
  static bool IsDelimiter(uint8_t c) { return kClass[c] & kDelim; }
  static bool IsAlnum(uint8_t c) { return kClass[c] & kAlnum; }
  // What may follow a number: a delimiter or the start of a comment.
  static bool IsNumberEnd(uint8_t c) { return (kClass[c] & kDelim) || c == '/' || c == '#'; }

  static bool IsGuidText(const std::string& g) {
    if (g.size() != 36) return false;
    for (size_t i = 0; i < 36; ++i) {
      const char c = g[i];
      const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
  }

  // White space, separators and comments ('//' or '#' to the end of the line).
  void SkipFiller() {
    while (p_ != end_) {
      const uint8_t c = *p_;
      if (kClass[c] & (kWhite | kSep)) {
        ++p_;
      } else if (c == '#' || (c == '/' && end_ - p_ > 1 && p_[1] == '/')) {
        const void* nl = std::memchr(p_, '\n', remaining());
        p_ = nl ? static_cast<const uint8_t*>(nl) + 1 : end_;
      } else {
        break;
      }
    }
  }

  // A name or other bare word: up to the next delimiter or '//' comment. A code page 932 lead
  // byte takes its trail byte with it, so a trail byte that looks like '{' or ']' stays in the
  // name.
  void ScanWord() {
    while (p_ != end_) {
      const uint8_t c = *p_;
      if (IsDelimiter(c)) break;
      if (c == '/' && end_ - p_ > 1 && p_[1] == '/') break;
      const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
      p_ += (lead && end_ - p_ > 1) ? 2 : 1;
    }
  }

  XThreads threads_;
  std::unique_ptr<ReaderSide> ahead_;  // freeing it waits for stretches being read
  // The stretch being taken from: its numbers, where they end, where the reader must stand.
  const uint32_t *take_ = nullptr, *takeEnd_ = nullptr, *takeEnds_ = nullptr;
  const uint8_t *takeBase_ = nullptr, *takeAt_ = nullptr;
  Kind aheadKind_ = Kind::Float;       // the kind of the stretches' numbers
  const uint8_t* hereStop_ = nullptr;  // the next stretch's start, while reading here
  uint64_t takenHere_ = 0;             // numbers read here in the stretch the reader is in
  uint64_t takenAhead_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Binary bodies.

class BinaryLexer : public LexerBase {
 public:
  BinaryLexer(const uint8_t* data, size_t size, bool inflated, int floatBits)
      : LexerBase(data, size, inflated), floatBytes_(floatBits / 8) {}

  static constexpr uint64_t kMinBytesPerNumber = 4;

  bool Fits(uint64_t count, uint64_t numbersPer) const {
    return count * numbersPer * kMinBytesPerNumber <= remaining();
  }

  Tok Peek() {
    if (ints_ || floats_) return Tok::Number;
    while (true) {
      if (p_ == end_) return failed() ? Tok::Bad : Tok::End;
      if (remaining() < 2) {
        Fail(XError::Truncated, "token cut short");
        return Tok::Bad;
      }
      const uint16_t code = U16(p_);
      switch (code) {
        case kComma:
        case kSemicolon:
          p_ += 2;
          continue;
        case kName:
        case kTemplate:
          return Tok::Name;
        case kString:
          return Tok::String;
        case kInteger:
        case kIntegerList:
        case kFloatList:
          return Tok::Number;
        case kGuid:
          return Tok::Guid;
        case kOBrace:
          return Tok::OBrace;
        case kCBrace:
          return Tok::CBrace;
        default:
          Fail(XError::Syntax, "unexpected token " + std::to_string(code));
          return Tok::Bad;
      }
    }
  }

  bool ReadName(std::string_view& out) {
    const Tok t = Peek();
    if (t != Tok::Name)
      return Fail(t == Tok::End ? XError::Truncated : XError::Syntax, "expected a name");
    if (U16(p_) == kTemplate) {
      p_ += 2;
      out = "template";
      return true;
    }
    return ReadCounted(out, "name");
  }

  bool ReadObjectName(std::string_view& out) {
    out = {};
    if (Peek() == Tok::Name && U16(p_) == kName) return ReadCounted(out, "name");
    return !failed();
  }

  bool Expect(Tok t) {
    const Tok got = Peek();
    if (got == t) {
      p_ += 2;
      return true;
    }
    const char* what = t == Tok::OBrace ? "expected '{'" : "expected '}'";
    return Fail(got == Tok::End ? XError::Truncated : XError::Syntax, what);
  }

  bool ReadGuid(std::string& out) {
    const Tok t = Peek();
    if (t != Tok::Guid)
      return Fail(t == Tok::End ? XError::Truncated : XError::Syntax, "expected a GUID");
    if (remaining() < 18) return Fail(XError::Truncated, "GUID cut short");
    const uint8_t* g = p_ + 2;
    static constexpr char kHex[] = "0123456789abcdef";
    // Data1, Data2 and Data3 are little-endian words; Data4 is 8 bytes in order.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    out.clear();
    for (int i = 0; i < 16; ++i) {
      if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
      const uint8_t b = g[kOrder[i]];
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
    p_ += 18;
    return true;
  }

  bool ReadString(std::string& out) {
    const Tok t = Peek();
    if (t != Tok::String)
      return Fail(t == Tok::End ? XError::Truncated : XError::Syntax, "expected a string");
    std::string_view s;
    if (!ReadCounted(s, "string")) return false;
    out.assign(s);
    // The terminator is an ordinary separator token, consumed with the string when present.
    if (remaining() >= 2 && (U16(p_) == kSemicolon || U16(p_) == kComma)) p_ += 2;
    return true;
  }

  bool ReadUInt(uint32_t& v) {
    while (ints_ == 0) {
      if (floats_) return Fail(XError::Syntax, "float list where an integer is expected");
      if (!NextList(kIntegerList, "an integer")) return false;
      if (single_) {
        v = singleValue_;
        single_ = false;
        return true;
      }
    }
    std::memcpy(&v, p_, 4);
    p_ += 4;
    --ints_;
    return true;
  }

  bool ReadFloat(float& v) {
    while (floats_ == 0) {
      if (ints_) return Fail(XError::Syntax, "integer list where a float is expected");
      if (!NextList(kFloatList, "a float")) return false;
    }
    if (floatBytes_ == 4) {
      std::memcpy(&v, p_, 4);
    } else {
      double d;
      std::memcpy(&d, p_, 8);
      v = static_cast<float>(d);
    }
    p_ += floatBytes_;
    --floats_;
    if (!std::isfinite(v)) v = 0;
    return true;
  }

  bool SkipStray(Tok) {
    if (ints_ || floats_) {
      DiscardListRest();
      return true;
    }
    return SkipToken();
  }

  bool SkipBraced() {
    DiscardListRest();
    uint64_t depth = 1;
    while (true) {
      if (p_ == end_) return Fail(XError::Truncated, "unterminated object");
      if (remaining() < 2) return Fail(XError::Truncated, "token cut short");
      const uint16_t code = U16(p_);
      if (code == kOBrace) {
        ++depth;
        p_ += 2;
      } else if (code == kCBrace) {
        p_ += 2;
        if (--depth == 0) return true;
      } else if (!SkipToken()) {
        return false;
      }
    }
  }

  bool SkipTemplate() {
    while (true) {
      if (p_ == end_) return Fail(XError::Truncated, "malformed template declaration");
      if (remaining() < 2) return Fail(XError::Truncated, "token cut short");
      if (U16(p_) == kOBrace) {
        p_ += 2;
        return SkipBraced();
      }
      if (U16(p_) == kCBrace) return Fail(XError::Syntax, "malformed template declaration");
      if (!SkipToken()) return false;
    }
  }

 private:
  enum : uint16_t {
    kName = 1,
    kString = 2,
    kInteger = 3,
    kGuid = 5,
    kIntegerList = 6,
    kFloatList = 7,
    kOBrace = 10,
    kCBrace = 11,
    kComma = 19,
    kSemicolon = 20,
    kTemplate = 31,
  };

  // Drops what is left of an open list, whose size was checked against the body when it was
  // opened.
  void DiscardListRest() {
    p_ += size_t{ints_} * 4 + size_t{floats_} * floatBytes_;
    ints_ = floats_ = 0;
  }

  static uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
  static uint32_t U32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }

  // A record of a 32-bit length and that many bytes (NAME, STRING).
  bool ReadCounted(std::string_view& out, const char* what) {
    if (remaining() < 6) return Fail(XError::Truncated, std::string(what) + " cut short");
    const uint32_t n = U32(p_ + 2);
    if (n > remaining() - 6) return Fail(XError::Truncated, std::string(what) + " cut short");
    out = std::string_view(reinterpret_cast<const char*>(p_ + 6), n);
    p_ += 6 + size_t{n};
    return true;
  }

  // Opens the next number record: an INTEGER (returned through single_) or a list of `listCode`.
  bool NextList(uint16_t listCode, const char* what) {
    while (true) {
      if (p_ == end_) return Fail(XError::Truncated, std::string("expected ") + what);
      if (remaining() < 2) return Fail(XError::Truncated, "token cut short");
      const uint16_t code = U16(p_);
      if (code == kComma || code == kSemicolon) {
        p_ += 2;
        continue;
      }
      if (code == kInteger && listCode == kIntegerList) {
        if (remaining() < 6) return Fail(XError::Truncated, "integer cut short");
        singleValue_ = U32(p_ + 2);
        single_ = true;
        p_ += 6;
        return true;
      }
      if (code != listCode) return Fail(XError::Syntax, std::string("expected ") + what);
      if (remaining() < 6) return Fail(XError::Truncated, "list cut short");
      const uint32_t n = U32(p_ + 2);
      const size_t elem = code == kIntegerList ? 4 : floatBytes_;
      if (n > (remaining() - 6) / elem) return Fail(XError::Truncated, "list cut short");
      p_ += 6;
      (code == kIntegerList ? ints_ : floats_) = n;
      return true;
    }
  }

  // Skips one token with its record.
  bool SkipToken() {
    if (remaining() < 2) return Fail(XError::Truncated, "token cut short");
    const uint16_t code = U16(p_);
    size_t need = 0;  // bytes after the code
    switch (code) {
      case kName:
      case kString:
      case kIntegerList:
      case kFloatList: {
        if (remaining() < 6) return Fail(XError::Truncated, "record cut short");
        const uint64_t n = U32(p_ + 2);
        const uint64_t elem = code == kIntegerList ? 4 : code == kFloatList ? floatBytes_ : 1;
        if (n * elem > remaining() - 6) return Fail(XError::Truncated, "record cut short");
        need = 4 + static_cast<size_t>(n * elem);
        break;
      }
      case kInteger:
        need = 4;
        break;
      case kGuid:
        need = 16;
        break;
      default:
        // Punctuation, TEMPLATE and the type keywords carry no data; the other codes do not exist.
        if (!((code >= 10 && code <= 20) || code == kTemplate || (code >= 40 && code <= 52))) {
          return Fail(XError::Syntax, "unknown token " + std::to_string(code));
        }
        break;
    }
    if (need > remaining() - 2) return Fail(XError::Truncated, "record cut short");
    p_ += 2 + need;
    return true;
  }

  size_t floatBytes_;
  uint32_t ints_ = 0;
  uint32_t floats_ = 0;
  bool single_ = false;
  uint32_t singleValue_ = 0;
};

}  // namespace wz::d3dx::xlex
