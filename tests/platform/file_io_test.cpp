#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace wz::platform {
namespace {

using wz::testing::TempDir;

TEST(PathMapping, BackslashesAndCp932NamesReachHostFiles) {
  TempDir dir;
  std::filesystem::create_directories(dir / "モデル");
  wz::testing::WriteFile(dir / "モデル/椅子.lwo", "LWOB");
  std::string library =
      LibraryPath(dir.path()) + "\\" + Utf8ToCp932("モデル") + "\\" + Utf8ToCp932("椅子.lwo");
  EXPECT_EQ(library.find('/'), std::string::npos);
  EXPECT_EQ(HostPath(library), dir / "モデル/椅子.lwo");
  EXPECT_TRUE(FileExists(library));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFileBytes(library, bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "LWOB");
}

TEST(PathMapping, MatchesEachComponentWithoutCase) {
  TempDir dir;
  std::filesystem::create_directories(dir / "Data/System");
  wz::testing::WriteFile(dir / "Data/System/tex_null.bmp", "BM");
  std::string library = LibraryPath(dir.path()) + "\\DATA\\system\\TEX_NULL.BMP";
  EXPECT_EQ(HostPath(library), dir / "Data/System/tex_null.bmp");
  EXPECT_TRUE(FileExists(library));
  // A component that does not exist keeps its spelling, and the rest after it too.
  EXPECT_EQ(HostPath(LibraryPath(dir.path()) + "\\Nope\\FILE"), dir / "Nope/FILE");
  EXPECT_FALSE(FileExists(LibraryPath(dir.path()) + "\\Nope\\FILE"));
  // A directory is not a readable file.
  EXPECT_FALSE(FileExists(LibraryPath(dir.path()) + "\\Data"));
}

TEST(PathMapping, HostPathsBecomeLibraryPaths) {
  EXPECT_EQ(LibraryPath("/home/a/bin"), "\\home\\a\\bin");
  EXPECT_EQ(LibraryPath("/tmp/グループ"), "\\tmp\\" + Utf8ToCp932("グループ"));
  EXPECT_EQ(HostPath("\\home\\a\\bin"), "/home/a/bin");
}

TEST(PathMapping, EveryHostNameComesBackByteForByte) {
  std::vector<std::string> names = {
      "caf\xC3\xA9",               // é: not in code page 932
      "emoji\xF0\x9F\x98\x80",     // 😀
      "\xCE\xA9mega",              // Ω: in code page 932
      "\xE8\xA1\xA8\xE3\x82\xBD",  // 表ソ: second bytes 0x5C in code page 932
      "back\\slash",               // a host backslash is no separator
      "raw\xFF\xFE\x80",           // not UTF-8
      "\xEF\xBE\x83\xEF\xBD\xA8",  // half-width katakana
      "\xEE\x80\x80\xEE\x81\x80",  // U+E000 and U+E040: what escapes look like decoded
      "\xC2\xA5\xE2\x80\xBE~",     // ¥ and ‾, which some tables fold into 0x5C and 0x7E
      "\xE2\x88\xA5\xE2\x80\x96",  // ∥ and ‖, one code page 932 character decoded twice
      "\xF0\x40",                  // the bytes of an escape, as a host name
  };
  // And random names of any bytes but '/' and NUL.
  uint32_t seed = 12345;
  for (int i = 0; i < 2000; ++i) {
    std::string n;
    for (int k = 0, len = 1 + i % 12; k < len; ++k) {
      seed = seed * 1664525 + 1013904223;
      const char c = char(seed >> 24);
      n += c == '/' || c == '\0' ? 'x' : c;
    }
    names.push_back(n);
  }
  for (const std::string& name : names) {
    const std::string inside = LibraryPath("/d/" + name);
    EXPECT_EQ(Cp932ToHostBytes(inside, true), "/d/" + name) << name;
    // Inside, the name holds no separator: every cut at a backslash keeps it whole.
    EXPECT_EQ(Cp932FindLast(inside, '\\'), 2u) << name;
  }
}

TEST(PathMapping, NamesOutsideCodePage932ReachTheirFilesAndShowAsTheyAre) {
  TempDir dir;
  const std::string folder = "\xCE\xA9mega";
  std::filesystem::create_directories(dir / folder);
  for (const std::string name : {"caf\xC3\xA9.x", "emoji\xF0\x9F\x98\x80.x", "b\\s.x"}) {
    wz::testing::WriteFile(dir / (folder + "/" + name), name);
    const std::string inside = LibraryPath(dir / (folder + "/" + name));
    EXPECT_TRUE(FileExists(inside)) << name;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFileBytes(inside, bytes)) << name;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), name);
    EXPECT_EQ(DisplayPath(inside), dir / (folder + "/" + name));
  }
  // Bytes that are not UTF-8 reach their file and show as U+FFFD.
  wz::testing::WriteFile(dir / "raw\xFF.x", "r");
  EXPECT_TRUE(FileExists(LibraryPath(dir / "raw\xFF.x")));
  EXPECT_EQ(DisplayPath(LibraryPath(dir / "raw\xFF.x")), dir / "raw\xEF\xBF\xBD.x");
}

TEST(AtomicWrite, ReplacesTheTargetWhole) {
  TempDir dir;
  std::string target = LibraryPath(dir / "out.bin");
  const uint8_t first[] = {1, 2, 3};
  const uint8_t second[] = {9, 8};
  ASSERT_TRUE(WriteFileAtomically(target, first));
  ASSERT_TRUE(WriteFileAtomically(target, second));
  EXPECT_EQ(wz::testing::ReadFile(dir / "out.bin"), std::string("\x09\x08"));
  // Nothing but the target is left in the directory.
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path()))
    files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST(AtomicWrite, FailureLeavesTheOldFile) {
  TempDir dir;
  wz::testing::WriteFile(dir / "keep.bin", "old");
  const uint8_t bytes[] = {1};
  // The directory of the target does not exist: the write fails and reports it.
  EXPECT_FALSE(WriteFileAtomically(LibraryPath(dir / "missing/keep.bin"), bytes));
  // The target is a directory: the rename fails, and the temporary file is removed.
  std::filesystem::create_directories(dir / "sub/dir");
  EXPECT_FALSE(WriteFileAtomically(LibraryPath(dir / "sub/dir"), bytes));
  size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir / "sub"))
    entries += 1 + 0 * e.is_directory();
  EXPECT_EQ(entries, 1u);
  EXPECT_EQ(wz::testing::ReadFile(dir / "keep.bin"), "old");
}

}  // namespace
}  // namespace wz::platform
