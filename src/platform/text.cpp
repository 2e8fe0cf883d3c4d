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

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
  return ToUtf8().Run(cp932, "\xEF\xBF\xBD", [](std::string_view) { return size_t{1}; });
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
