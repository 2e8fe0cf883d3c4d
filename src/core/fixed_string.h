// Fixed-size, NUL-terminated code-page-932 text fields (names of 256 bytes, paths of 512 bytes).
// A field can only be written through Set, which never writes past the field: text that does not
// fit is cut at a character boundary so that no two-byte character is split, and the field always
// keeps a terminator. Uses Cp932SafePrefix from platform/text.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace wz {

template <size_t N>
class FixedString {
  static_assert(N >= 1, "a field needs room for its terminator");

 public:
  static constexpr size_t kSize = N;           // bytes of the field, terminator included
  static constexpr size_t kMaxLength = N - 1;  // longest text the field holds

  FixedString() = default;
  explicit FixedString(std::string_view text) { Set(text); }

  // Clears the field and copies `text` into it. Text of up to kMaxLength bytes is copied
  // verbatim (embedded NUL bytes included: the text then ends at the first of them); longer text
  // is cut to the longest prefix that fits without splitting a two-byte character. Returns false
  // when the text was cut.
  bool Set(std::string_view text) {
    size_t n = text.size();
    if (n > kMaxLength) n = platform::Cp932SafePrefix(text, kMaxLength);
    bytes_.fill('\0');
    if (n > 0) std::memcpy(bytes_.data(), text.data(), n);
    return n == text.size();
  }

  void Clear() { bytes_.fill('\0'); }

  // The text up to the first NUL byte.
  std::string_view View() const {
    return std::string_view(bytes_.data(),
                            std::find(bytes_.begin(), bytes_.end(), '\0') - bytes_.begin());
  }
  const char* CStr() const { return bytes_.data(); }
  size_t Length() const { return View().size(); }
  bool Empty() const { return bytes_[0] == '\0'; }

  // All N bytes of the field, terminator and zero fill included.
  const std::array<char, N>& Bytes() const { return bytes_; }

  friend bool operator==(const FixedString&, const FixedString&) = default;

 private:
  std::array<char, N> bytes_{};
};

using Name256 = FixedString<256>;
using Path512 = FixedString<512>;

// A path field with the interface of FixedString but no length limit: a path cut to a fixed field
// would name another file or folder. Like a C string, the text ends at its first NUL byte.
class PathText {
 public:
  PathText() = default;
  explicit PathText(std::string_view text) { Set(text); }

  // Copies `text` up to its first NUL byte; never cuts, so always true.
  bool Set(std::string_view text) {
    text_.assign(text.substr(0, text.find('\0')));
    return true;
  }
  void Clear() { text_.clear(); }
  std::string_view View() const { return text_; }
  const char* CStr() const { return text_.c_str(); }
  size_t Length() const { return text_.size(); }
  bool Empty() const { return text_.empty(); }

  friend bool operator==(const PathText&, const PathText&) = default;

 private:
  std::string text_;
};

}  // namespace wz
