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
#include "platform/worker_pool.h"

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

  // Called before an array of about `expected` numbers of one kind. When the array is long, the
  // stretches after the first are read on other threads while this one reads the first; the
  // numbers read there are taken when this reader arrives exactly where a stretch began.
  // Between tokens the reader has no state but its position, so a stretch read from that
  // position gives what reading on here would give, refusals included (a stretch that stops
  // on a refusal hands over before it, and the refusal is read here). Arriving anywhere else
  // (the stretch began inside a comment, the array ended) drops the stretches.
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
    if (q > s && (q == end || unsigned(*q - '0') >= 10)) {
      v = small;
      p_ = reinterpret_cast<const uint8_t*>(q);
      if (p_ != end_ && !IsNumberEnd(*p_)) return Fail(XError::Syntax, "expected an integer");
      return true;
    }
    auto [ptr, ec] = std::from_chars(s, end, v);
    if (ec == std::errc::invalid_argument) return Fail(XError::Syntax, "expected an integer");
    if (ec == std::errc::result_out_of_range)
      return Fail(XError::CountTooLarge, "integer too large");
    p_ = reinterpret_cast<const uint8_t*>(ptr);
    if (p_ != end_ && !IsNumberEnd(*p_)) return Fail(XError::Syntax, "expected an integer");
    return true;
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
    bool reachedNext = false;      // stopped at the next stretch's start or past it
  };
  struct Stretches {
    Kind kind;
    uint64_t expected = 0, taken = 0;        // numbers of the array; taken before stretch `run`
    std::vector<std::shared_ptr<Run>> runs;  // runs[0] is read here and holds nothing
    size_t run = 0;                          // the stretch the reader is in
    // A stretch not begun is called off; one being read is waited for, as it reads the body.
    ~Stretches() {
      for (const auto& r : runs) {
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
  // where its last number ended, read here (false) in the first stretch.
  bool Ahead(Kind kind, uint32_t& bits) {
    if (take_ != takeEnd_ && p_ == takeAt_ && kind == ahead_->kind) {
      bits = *take_++;
      p_ = takeAt_ = takeBase_ + *takeEnds_++;
      ++takenAhead_;
      return true;
    }
    if (takeBase_ == nullptr) {
      SkipFiller();
      if (p_ < firstStop_) {
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
  static void ReadRun(const uint8_t* begin, const uint8_t* end, bool inflated, Kind kind, Run& run);

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
  std::unique_ptr<Stretches> ahead_;  // destroyed first: waits for stretches being read
  // The stretch being taken from: its numbers, where they end, where the reader must stand.
  const uint32_t *take_ = nullptr, *takeEnd_ = nullptr, *takeEnds_ = nullptr;
  const uint8_t *takeBase_ = nullptr, *takeAt_ = nullptr;
  const uint8_t* firstStop_ = nullptr;  // the second stretch's start, while in the first
  uint64_t takenHere_ = 0;              // numbers read here in the first stretch
  uint64_t takenAhead_ = 0;
};

inline void TextLexer::ReadAhead(Kind kind, uint64_t expected) {
  Drop();
  try {
    StartStretches(kind, expected);
  } catch (...) {  // out of memory: the array is read here
    Drop();
  }
}

inline void TextLexer::StartStretches(Kind kind, uint64_t expected) {
  const size_t minRun = std::max<size_t>(threads_.minBytesPerRun, 64);
  if (failed() || threads_.maxRuns == 1 || remaining() >= (size_t{1} << 31) ||
      remaining() < 2 * minRun) {
    return;
  }
  // Bytes per number, from the numbers that begin in 4 KB at the start and, where they are there,
  // in 4 KB at the middle of the array so estimated (numbers often grow along an array).
  auto perNumber = [&](const uint8_t* at) {
    const size_t sample = std::min<size_t>(size_t(end_ - at), 4096);
    size_t starts = 0;
    for (size_t i = 1; i < sample; ++i)
      starts += IsNumberStart(at[i]) && (kClass[at[i - 1]] & (kWhite | kSep));
    return starts < 16 ? 0.0 : double(sample) / double(starts);
  };
  double per = perNumber(p_);
  if (per == 0) return;
  const double middle = double(expected) * per / 2;
  if (middle < double(remaining())) per = std::max(per, perNumber(p_ + size_t(middle)));
  const size_t total = size_t(std::min(double(remaining()), double(expected) * per));
  const size_t runs = std::min<size_t>(
      threads_.maxRuns ? threads_.maxRuns : platform::WorkerCount() + 1, total / minRun);
  if (runs < 2) return;
  auto ahead = std::make_unique<Stretches>();
  ahead->kind = kind;
  ahead->expected = expected;
  // Each further stretch begins at a number that follows white space or a separator.
  std::vector<const uint8_t*> starts = {p_};
  for (size_t k = 1; k < runs; ++k) {
    const uint8_t* at = std::max(starts.back() + 1, p_ + total * k / runs);
    const uint8_t* limit = std::min(end_, at + 4096);
    while (at < limit && !(IsNumberStart(*at) && (kClass[at[-1]] & (kWhite | kSep))))
      ++at;
    if (at == limit) break;
    starts.push_back(at);
  }
  if (starts.size() < 2) return;
  for (size_t k = 0; k < starts.size(); ++k) {
    auto r = std::make_shared<Run>();
    r->start = starts[k];
    r->stop = k + 1 < starts.size() ? starts[k + 1] : end_;
    ahead->runs.push_back(std::move(r));
  }
  // Until the reader gets there, the last stretch stops a tenth past its share of the array.
  const double before = double(starts.back() - p_) / per;
  ahead->runs.back()->limit = uint64_t(std::max(0.0, (double(expected) - before) * 1.1)) + 16;
  for (size_t k = 1; k < starts.size(); ++k) {
    auto task = [b = begin_, e = end_, in = inflated_, kind, run = ahead->runs[k]] {
      int state = kPending;
      if (!run->state.compare_exchange_strong(state, kReading)) return;
      ReadRun(b, e, in, kind, *run);
      run->state.store(kDone, std::memory_order_release);
      run->state.notify_all();
    };
    // A stretch without a thread is read here: the one before it stops at its start.
    if (!platform::PostWork(std::move(task))) ahead->runs[k]->state = kCancelled;
  }
  firstStop_ = starts[1];
  takenHere_ = 0;
  ahead_ = std::move(ahead);
}

// Reads numbers of `kind` from run.start until run.stop, a token that is not a number, a
// refusal or the run's limit. Runs on a pool thread and writes nothing but `run`; the body is
// [begin, end).
inline void TextLexer::ReadRun(const uint8_t* begin, const uint8_t* end, bool inflated, Kind kind,
                               Run& run) {
  TextLexer lex(begin, size_t(end - begin), inflated, XThreads{0, 1});
  lex.p_ = run.start;
  std::vector<uint32_t> values, ends;
  try {
    const size_t guess = size_t(std::min<uint64_t>(run.limit, uint64_t(run.stop - run.start) / 2));
    values.reserve(guess);
    ends.reserve(guess);
    while (values.size() < run.limit.load(std::memory_order_relaxed)) {
      lex.SkipFiller();
      if (lex.p_ >= run.stop) {
        run.reachedNext = run.stop != end;
        break;
      }
      if (!IsNumberStart(*lex.p_)) break;
      uint32_t bits;
      if (kind == Kind::UInt) {
        if (!lex.ScanUInt(bits)) break;
      } else {
        float f;
        if (!lex.ScanFloat(f)) break;
        bits = std::bit_cast<uint32_t>(f);
      }
      values.push_back(bits);
      ends.push_back(uint32_t(lex.p_ - run.start));
    }
  } catch (...) {  // out of memory: the reader reads on from the last number kept
    run.reachedNext = false;
  }
  const size_t kept = std::min(values.size(), ends.size());
  values.resize(kept);
  ends.resize(kept);
  run.values = std::move(values);
  run.ends = std::move(ends);
}

inline bool TextLexer::NextStretch(Kind kind, uint32_t& bits) {
  Stretches& a = *ahead_;
  if (failed() || kind != a.kind) return Drop();
  if (a.run == 0) {
    a.taken = takenHere_;
  } else {
    // Past the current stretch's numbers: go on only if it stopped at the next one's start.
    if (take_ != takeEnd_ || p_ != takeAt_ || !a.runs[a.run]->reachedNext) return Drop();
    a.taken += a.runs[a.run]->values.size();
    SkipFiller();
  }
  const size_t k = a.run + 1;
  if (k >= a.runs.size() || p_ != a.runs[k]->start) return Drop();
  Run& r = *a.runs[k];
  // The last stretch need not read past the array's end, now that its share is known.
  if (k + 1 == a.runs.size()) r.limit = a.expected > a.taken ? a.expected - a.taken : 0;
  // A stretch no thread has begun yet is read here (unless told to wait for it).
  int state = kPending;
  if (!threads_.waitForStretches) r.state.compare_exchange_strong(state, kCancelled);
  while ((state = r.state.load(std::memory_order_acquire)) == kPending || state == kReading)
    r.state.wait(state);
  if (state != kDone) return Drop();
  a.run = k;
  take_ = r.values.data();
  takeEnd_ = take_ + r.values.size();
  takeEnds_ = r.ends.data();
  takeBase_ = takeAt_ = r.start;
  return Ahead(kind, bits);
}

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
