// Code page 932 <-> UTF-8 through glibc iconv, with explicit handling of bytes iconv refuses so
// that no input byte is silently lost.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace wz::platform {
namespace {

// One converter per direction; iconv_t carries shift state, so each call resets it and the
// converters are guarded by a lock (the loader thread converts too).
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`; on a byte sequence iconv cannot convert, appends `bad` and skips
  // `skipOnError(in)` bytes.
  template <typename SkipFn>
  std::string Run(std::string_view in, std::string_view bad, SkipFn skipOnError) {
    std::lock_guard lock(mutex_);
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      for (unsigned char c : in)
        out += c < 0x80 ? std::string(1, char(c)) : std::string(bad);
      return out;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[1024];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, dst - buffer);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (truncated sequence at the end): replace and skip.
        out.append(bad);
        size_t skip = skipOnError(std::string_view(src, srcLeft));
        src += skip;
        srcLeft -= skip;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

  // Converts `in` whole; false (and `out` unchanged) when any of it cannot be converted.
  bool Whole(std::string_view in, std::string& out) {
    std::lock_guard lock(mutex_);
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[64];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    std::string converted;
    while (srcLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      converted.append(buffer, dst - buffer);
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
    converted.append(buffer, dst - buffer);
    out += converted;
    return true;
  }

 private:
  iconv_t cd_;
  std::mutex mutex_;
};

size_t Utf8SequenceLength(std::string_view s) {
  unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
  if (n > s.size()) return 1;
  for (size_t i = 1; i < n; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  }
  return n;
}

// The converters live until the process ends: the library's teardown logs during static
// destruction.
Converter& ToUtf8() {
  static Converter* c = new Converter("UTF-8", "CP932");
  return *c;
}
Converter& ToCp932() {
  static Converter* c = new Converter("CP932", "UTF-8");
  return *c;
}

constexpr unsigned char kEscapeLead = 0xF0;
constexpr unsigned char kSeparator = 0x5C;

constexpr bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// The trail bytes of the escapes: escape k (0 for byte 0x5C, 1 + b - 0x80 for byte b >= 0x80)
// has trail kEscapeTrail[k]; kEscapedByte maps a trail back (-1 for none).
struct EscapeTables {
  unsigned char trail[129];
  int16_t byteOfTrail[256];
  constexpr EscapeTables() : trail{}, byteOfTrail{} {
    for (int16_t& b : byteOfTrail)
      b = -1;
    int k = 0;
    for (int t = 0x40; t <= 0xFC && k < 129; ++t) {
      if (!IsTrailByte(static_cast<unsigned char>(t)) || t == kSeparator) continue;
      trail[k] = static_cast<unsigned char>(t);
      byteOfTrail[t] = static_cast<int16_t>(k == 0 ? kSeparator : 0x80 + k - 1);
      ++k;
    }
  }
};
constexpr EscapeTables kEscapes;

// One non-ASCII character in code page 932 as the mapping may keep it: a half-width katakana byte
// or a two-byte character outside the escape lead.
bool IsPlainCharacter(std::string_view encoded) {
  if (encoded.size() == 1) {
    const unsigned char b = static_cast<unsigned char>(encoded[0]);
    return b >= 0xA1 && b <= 0xDF;
  }
  return encoded.size() == 2 && IsCp932LeadByte(static_cast<unsigned char>(encoded[0])) &&
         static_cast<unsigned char>(encoded[0]) != kEscapeLead &&
         IsTrailByte(static_cast<unsigned char>(encoded[1]));
}

void AppendEscape(unsigned char b, std::string& out) {
  out += static_cast<char>(kEscapeLead);
  out += static_cast<char>(kEscapes.trail[b == kSeparator ? 0 : 1 + (b - 0x80)]);
}

// Length of the UTF-8 sequence at the start of `s`, 0 when it is not a valid one (overlong
// forms, surrogates and values above U+10FFFF are not valid).
size_t ValidUtf8Length(std::string_view s) {
  const unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if ((c >> 5) == 0x6) {
    n = 2, cp = c & 0x1F;
  } else if ((c >> 4) == 0xE) {
    n = 3, cp = c & 0x0F;
  } else if ((c >> 3) == 0x1E) {
    n = 4, cp = c & 0x07;
  } else {
    return 0;
  }
  if (n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char t = static_cast<unsigned char>(s[k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Host bytes that are not valid UTF-8 become U+FFFD, one per byte.
std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const size_t n = ValidUtf8Length(s.substr(i));
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(s.data() + i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace

std::string HostBytesToCp932(std::string_view host, bool pathSeparators) {
  std::string out;
  out.reserve(host.size());
  for (size_t i = 0; i < host.size();) {
    const unsigned char c = static_cast<unsigned char>(host[i]);
    if (c < 0x80) {
      if (c == '/' && pathSeparators) {
        out += static_cast<char>(kSeparator);
      } else if (c == kSeparator && pathSeparators) {
        AppendEscape(c, out);
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    const size_t n = ValidUtf8Length(host.substr(i));
    const std::string_view ch = host.substr(i, n == 0 ? 1 : n);
    std::string encoded, back;
    // Taken as code page 932 only when it decodes back to the same character and cannot be
    // mistaken for an escape or a separator.
    if (n > 0 && ToCp932().Whole(ch, encoded) && IsPlainCharacter(encoded) &&
        ToUtf8().Whole(encoded, back) && back == ch) {
      out += encoded;
    } else {
      for (unsigned char b : ch)
        AppendEscape(b, out);
    }
    i += ch.size();
  }
  return out;
}

std::string Cp932ToHostBytes(std::string_view cp932, bool pathSeparators) {
  std::string out;
  out.reserve(cp932.size() * 3 / 2);
  for (size_t i = 0; i < cp932.size();) {
    const unsigned char c = static_cast<unsigned char>(cp932[i]);
    if (c < 0x80) {
      out += static_cast<char>(c == kSeparator && pathSeparators ? '/' : c);
      ++i;
      continue;
    }
    const bool pair = IsCp932LeadByte(c) && i + 1 < cp932.size() &&
                      IsTrailByte(static_cast<unsigned char>(cp932[i + 1]));
    if (pair && c == kEscapeLead) {
      const int16_t b = kEscapes.byteOfTrail[static_cast<unsigned char>(cp932[i + 1])];
      if (b >= 0) {
        out += static_cast<char>(b);
        i += 2;
        continue;
      }
    }
    const size_t n = pair ? 2 : 1;
    // A character iconv cannot decode keeps its bytes.
    if (!ToUtf8().Whole(cp932.substr(i, n), out)) out.append(cp932.data() + i, n);
    i += n;
  }
  return out;
}

size_t Cp932FindLast(std::string_view cp932, char c) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < cp932.size();) {
    const unsigned char b = static_cast<unsigned char>(cp932[i]);
    if (IsCp932LeadByte(b) && i + 1 < cp932.size()) {
      i += 2;
      continue;
    }
    if (cp932[i] == c) found = i;
    ++i;
  }
  return found;
}

std::string Cp932ToUtf8(std::string_view cp932, bool pathSeparators) {
  return ValidUtf8(Cp932ToHostBytes(cp932, pathSeparators));
}

std::string Utf8ToCp932(std::string_view utf8) {
  return ToCp932().Run(utf8, "?", Utf8SequenceLength);
}

std::u32string Cp932ToUtf32(std::string_view cp932) {
  // The UTF-8 from iconv (and the U+FFFD replacements) is well-formed, so decoding needs no
  // checks beyond the sequence length.
  std::string utf8 = Cp932ToUtf8(cp932);
  std::u32string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    size_t n = Utf8SequenceLength(std::string_view(utf8).substr(i));
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c >> 5) == 0x6) {
      n = 2;
      cp = c & 0x1F;
    } else if ((c >> 4) == 0xE) {
      n = 3;
      cp = c & 0x0F;
    } else if ((c >> 3) == 0x1E) {
      n = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

size_t Cp932SafePrefix(std::string_view cp932, size_t maxBytes) {
  size_t i = 0;
  while (i < cp932.size()) {
    size_t n = IsCp932LeadByte(static_cast<unsigned char>(cp932[i])) ? 2 : 1;
    if (i + n > maxBytes || i + n > cp932.size()) break;
    i += n;
  }
  return i;
}

}  // namespace wz::platform
