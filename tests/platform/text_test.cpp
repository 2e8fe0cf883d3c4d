#include "platform/text.h"

#include <gtest/gtest.h>

namespace wz::platform {
namespace {

TEST(Cp932Text, RoundTripsLibraryTexts) {
  const char* texts[] = {"WZライブラリ 2010.11",
                         "初期化に失敗しました。",
                         "CPUコア数 %d",
                         "アンチエイリアス 対応( 4 Sample )",
                         "グループ",
                         "親ボーン",
                         "新規.WZP",
                         "*** エラー *** 既にHANDLE作成済み",
                         "モニター %d×%d"};
  for (const char* t : texts) {
    std::string sjis = Utf8ToCp932(t);
    EXPECT_FALSE(IsValidUtf8(sjis) && sjis != t) << t;
    EXPECT_EQ(Cp932ToUtf8(sjis), t);
  }
}

TEST(Cp932Text, KnownBytes) {
  // "グループ" in code page 932.
  EXPECT_EQ(Utf8ToCp932("グループ"), "\x83\x4F\x83\x8B\x81\x5B\x83\x76");
  // The multiplication sign of "%d×%d" is 0x81 0x7E.
  EXPECT_EQ(Utf8ToCp932("×"), "\x81\x7E");
  EXPECT_EQ(Utf8ToCp932("abc\\def"), "abc\\def");
}

TEST(Cp932Text, InvalidBytesBecomeReplacementCharacters) {
  // 0xA0 and 0xFD are not code page 932; a lone lead byte at the end is truncated input.
  EXPECT_EQ(Cp932ToUtf8("a\xA0"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Cp932ToUtf8("\xFD\xFD"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8("x\x83"), "x\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToCp932("a\xFF"
                        "b"),
            "a?b");
}

TEST(Cp932Text, SafePrefixNeverSplitsACharacter) {
  std::string s = Utf8ToCp932("aグ");  // 'a' + two-byte character
  EXPECT_EQ(Cp932SafePrefix(s, 2), 1u);
  EXPECT_EQ(Cp932SafePrefix(s, 3), 3u);
  EXPECT_EQ(Cp932SafePrefix("abc", 2), 2u);
}

TEST(Cp932Text, CodePointsOnePerCharacter) {
  EXPECT_EQ(Cp932ToUtf32(Utf8ToCp932("aポリ×")), std::u32string(U"aポリ×"));
  // A bad byte and a lone lead byte at the end each become one U+FFFD.
  EXPECT_EQ(Cp932ToUtf32("a\xA0"
                         "b\x83"),
            std::u32string(U"a\uFFFDb\uFFFD"));
  EXPECT_EQ(Cp932ToUtf32(""), std::u32string());
}

TEST(Cp932Text, TextMacroConvertsOnce) {
  const char* a = WZ_TEXT("初期化に失敗しました。");
  EXPECT_STREQ(a, Utf8ToCp932("初期化に失敗しました。").c_str());
}

}  // namespace
}  // namespace wz::platform
