// Text encodings. Every string inside the library is a code-page-932 byte string; text is turned
// into UTF-8 only where it leaves for a terminal, a window or a host file name.
// Uses glibc iconv ("CP932").
#pragma once

#include <string>
#include <string_view>

namespace wz::platform {

// Code page 932 to UTF-8, for a person to read (terminal, window, JSON). Bytes that are not valid
// code page 932 become U+FFFD, one per bad byte (a lead byte with a bad trail byte counts as one
// bad byte); nothing is dropped. Escaped host bytes (see HostBytesToCp932) are shown as the host
// text they stand for, so a file name such as "café.x" reads as it does on the host; escaped bytes
// that are not valid UTF-8 show as U+FFFD. With `pathSeparators`, '\\' shows as '/'.
std::string Cp932ToUtf8(std::string_view cp932, bool pathSeparators = false);

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

// ---- Host names inside the library ----
//
// Host file names are UTF-8 (or any bytes); the library holds them as code page 932. The mapping
// is reversible: every host name comes back byte for byte.
//  - ASCII stays as it is.
//  - A character that code page 932 holds (and that decodes back to the same character) becomes
//    its code page 932 bytes.
//  - Everything else is escaped byte by byte: a host backslash, each byte of the UTF-8 form of a
//    character code page 932 lacks (é, 😀, or one whose code page 932 form would not decode back
//    to it), and each byte that is not valid UTF-8. Escape characters are two-byte characters of
//    the user-defined area of code page 932, lead byte 0xF0: byte 0x5C and the bytes 0x80 to 0xFF
//    are given the trail bytes 0x40 to 0xFC in order, 0x5C left out. A host character that code
//    page 932 would itself write with lead byte 0xF0 is escaped too, so escapes are never
//    ambiguous.
// With `pathSeparators`, host '/' and inside '\' are the separators that map to each other.

// Host bytes to the library's code page 932 form.
std::string HostBytesToCp932(std::string_view host, bool pathSeparators);
// The library's code page 932 form back to host bytes: escapes give their byte, other characters
// their UTF-8 form, and bytes that are not code page 932 stay as they are.
std::string Cp932ToHostBytes(std::string_view cp932, bool pathSeparators);

// Index of the last single-byte character `c` in `cp932`, stepping over two-byte characters,
// whose second byte may equal `c` (0x5C is the second byte of 表, ソ, 能, 十, 予). npos when there
// is none.
size_t Cp932FindLast(std::string_view cp932, char c);

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
