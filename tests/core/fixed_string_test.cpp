#include "core/fixed_string.h"

#include <gtest/gtest.h>

#include <string>

namespace wz {
namespace {

constexpr char kGu[] = "\x83\x4F";  // グ, a two-byte character

std::string Raw(const FixedString<8>& f) {
  return std::string(f.Bytes().data(), 8);
}

TEST(FixedString, CutsLongTextAtACharacterBoundary) {
  struct Case {
    std::string text;
    std::string stored;  // the whole 8-byte field
    bool fits;
  };
  const Case cases[] = {
      {"", std::string(8, '\0'), true},
      {"abcdefg", std::string("abcdefg\0", 8), true},                      // 7 bytes: exactly fits
      {"abcdefgh", std::string("abcdefg\0", 8), false},                    // one too many
      {"abcdef" + std::string(kGu), std::string("abcdef\0\0", 8), false},  // no half character
      {"abcde" + std::string(kGu), "abcde" + std::string(kGu) + '\0', true},
      {std::string(kGu) + kGu + kGu + kGu, std::string(kGu) + kGu + kGu + std::string(2, '\0'),
       false},
      // A lone lead byte at the end is copied verbatim when the text fits.
      {"ab\x83", std::string("ab\x83\0\0\0\0\0", 8), true},
      // Embedded NUL bytes are copied; the text ends at the first one.
      {std::string("a\0b", 3), std::string("a\0b\0\0\0\0\0", 8), true},
  };
  for (const Case& c : cases) {
    FixedString<8> f;
    EXPECT_EQ(f.Set(c.text), c.fits) << c.text;
    EXPECT_EQ(Raw(f), c.stored) << c.text;
  }
}

TEST(FixedString, SetClearsWhatWasThereBefore) {
  FixedString<8> f("abcdefg");
  f.Set("xy");
  EXPECT_EQ(Raw(f), std::string("xy\0\0\0\0\0\0", 8));
  EXPECT_EQ(f.View(), "xy");
  EXPECT_EQ(f.Length(), 2u);
  f.Clear();
  EXPECT_TRUE(f.Empty());
  EXPECT_EQ(Raw(f), std::string(8, '\0'));
}

TEST(FixedString, ViewStopsAtTheFirstNul) {
  FixedString<8> f;
  f.Set(std::string("a\0b", 3));
  EXPECT_EQ(f.View(), "a");
  EXPECT_STREQ(f.CStr(), "a");
  EXPECT_NE(f, FixedString<8>("a"));  // the bytes after the NUL still count for equality
}

TEST(FixedString, LibraryFieldSizes) {
  Name256 name;
  EXPECT_FALSE(name.Set(std::string(300, 'n')));
  EXPECT_EQ(name.Length(), 255u);
  Path512 path;
  EXPECT_TRUE(path.Set(std::string(511, 'p')));
  EXPECT_EQ(path.Length(), 511u);
}

}  // namespace
}  // namespace wz
