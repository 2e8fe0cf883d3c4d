// Text encodings. Every string inside the library is a code-page-932 byte string; text is turned
// into UTF-8 only where it leaves for a terminal, a window or a host file name.
// Uses glibc iconv ("CP932").
#pragma once

#include <string>
#include <string_view>

namespace wz::platform {

// Code page 932 to UTF-8. Bytes that are not valid code page 932 become U+FFFD, one per bad byte
// (a lead byte with a bad trail byte counts as one bad byte); nothing is dropped.
std::string Cp932ToUtf8(std::string_view cp932);

// UTF-8 to code page 932. Characters that code page 932 cannot hold become '?'; invalid UTF-8
// bytes become '?' as well.
std::string Utf8ToCp932(std::string_view utf8);

// Code page 932 to Unicode code points, one per character, with the replacements of
// Cp932ToUtf8.
std::u32string Cp932ToUtf32(std::string_view cp932);

// True when `s` is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

// True when byte `b` starts a two-byte code page 932 character.
constexpr bool IsCp932LeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Length of the longest prefix of `cp932` of at most `maxBytes` bytes that does not cut a
// two-byte character in half.
size_t Cp932SafePrefix(std::string_view cp932, size_t maxBytes);

}  // namespace wz::platform

// A Japanese text of the library, written readably in UTF-8 in the source and converted to code
// page 932 once, on first use. Yields a `const char*` that lives until the process ends.
// The converted text is never freed, so it stays valid during static destruction too.
#define WZ_TEXT(utf8)                                                                         \
  ([]() -> const char* {                                                                      \
    static const std::string* converted = new std::string(::wz::platform::Utf8ToCp932(utf8)); \
    return converted->c_str();                                                                \
  }())
