#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

TEST(PathMapping, MatchesFollowChangesMadeAfterALookup) {
  // Lookups of names that do not exist keep the directory's listing; whatever changes in the
  // directory afterwards, by this process or another, must be seen by the next lookup.
  TempDir dir, other;
  const std::string base = LibraryPath(dir.path()) + "\\";
  auto host = [&](const std::string& name) { return HostPath(base + name); };
  EXPECT_EQ(host("OUT.WZP"), dir / "OUT.WZP");  // nothing there yet

  wz::testing::WriteFile(dir / "out.wzp", "a");  // made by another program
  EXPECT_EQ(host("OUT.WZP"), dir / "out.wzp");
  std::filesystem::rename(dir / "out.wzp", dir / "Moved.wzp");
  EXPECT_EQ(host("OUT.WZP"), dir / "OUT.WZP");
  EXPECT_EQ(host("moved.WZP"), dir / "Moved.wzp");
  std::filesystem::remove(dir / "Moved.wzp");
  EXPECT_EQ(host("moved.WZP"), dir / "moved.WZP");

  // Files this process writes, many in a row, and a lookup in another directory between them.
  const uint8_t bytes[] = {1};
  for (int i = 0; i < 50; ++i) {
    const std::string name = "m" + std::to_string(i) + ".WZP";
    ASSERT_EQ(host(name), dir / name);
    ASSERT_TRUE(WriteFileAtomically(base + name, bytes));
    ASSERT_EQ(host("M" + std::to_string(i) + ".wzp"), dir / name);
    if (i == 25) {
      EXPECT_EQ(HostPath(LibraryPath(other.path()) + "\\X"), other / "X");
    }
  }
  // A directory made in place of a file name is an entry too.
  std::filesystem::create_directory(dir / "Sub");
  EXPECT_EQ(host("SUB\\new.bin"), dir / "Sub/new.bin");
}

TEST(PathMapping, MatchesFollowOtherProcessesAndDirectoriesMadeAgain) {
  TempDir top;
  const std::filesystem::path dir = top / "Out";
  std::filesystem::create_directory(dir);
  const std::string base = LibraryPath(dir) + "\\";
  auto host = [&](const std::string& name) { return HostPath(base + name); };
  EXPECT_EQ(host("A.BIN"), dir / "A.BIN");

  // Another process makes and renames files between two lookups.
  const std::string quoted = "'" + dir.string() + "'";
  ASSERT_EQ(std::system(("touch " + quoted + "/a.bin").c_str()), 0);
  EXPECT_EQ(host("A.BIN"), dir / "a.bin");
  ASSERT_EQ(std::system(("mv " + quoted + "/a.bin " + quoted + "/B.bin").c_str()), 0);
  EXPECT_EQ(host("A.BIN"), dir / "A.BIN");
  EXPECT_EQ(host("b.BIN"), dir / "B.bin");

  // The directory removed and made again under the same name (possibly with the same inode):
  // the old listing must not answer for the new directory.
  std::filesystem::remove_all(dir);
  EXPECT_EQ(host("b.BIN"), dir / "b.BIN");
  std::filesystem::create_directory(dir);
  wz::testing::WriteFile(dir / "c.bin", "c");
  EXPECT_EQ(host("b.BIN"), dir / "b.BIN");
  EXPECT_EQ(host("C.BIN"), dir / "c.bin");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  EXPECT_EQ(host("C.BIN"), dir / "C.BIN");

  // The directory moved away and another put in its place.
  wz::testing::WriteFile(dir / "d.bin", "d");
  EXPECT_EQ(host("D.BIN"), dir / "d.bin");
  std::filesystem::rename(dir, top / "Old");
  std::filesystem::create_directory(dir);
  EXPECT_EQ(host("D.BIN"), dir / "D.BIN");
  wz::testing::WriteFile(dir / "e.bin", "e");
  EXPECT_EQ(host("E.BIN"), dir / "e.bin");
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

// A temporary name beside the target is never followed through a link planted there, and the
// writer moves on to another name.
TEST(AtomicWrite, PassesOverALinkPlantedAtItsTemporaryName) {
  TempDir dir;
  wz::testing::WriteFile(dir / "victim.txt", "keep");
  const std::string target = LibraryPath(dir / "out.bin");
  const std::string planted = AtomicFileWriter::PeekTemporaryPath(target);
  ASSERT_EQ(planted.substr(0, dir.path().size()), dir.path());
  EXPECT_LT(planted.size() - dir.path().size(), 32u);  // short, whatever the target's length
  std::filesystem::create_symlink(dir / "victim.txt", planted);
  const uint8_t bytes[] = {7, 7};
  ASSERT_TRUE(WriteFileAtomically(target, bytes));
  EXPECT_EQ(wz::testing::ReadFile(dir / "out.bin"), "\x07\x07");
  EXPECT_EQ(wz::testing::ReadFile(dir / "victim.txt"), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(planted));
  // A 250-byte name still gets its temporary file.
  const std::string longName(250, 'n');
  EXPECT_TRUE(WriteFileAtomically(LibraryPath(dir / longName), bytes));
}

// An output whose name differs from an existing file's only by case is a file of its own.
TEST(AtomicWrite, NeverTakesAFileThatDiffersOnlyByCase) {
  TempDir dir;
  std::filesystem::create_directories(dir / "Sub");
  wz::testing::WriteFile(dir / "Sub/model.x", "theirs");
  const uint8_t bytes[] = {'o'};
  // Folders are still found without regard to case; the name is taken as written.
  ASSERT_TRUE(WriteFileAtomically(LibraryPath(dir.path()) + "\\sub\\model.X", bytes));
  EXPECT_EQ(wz::testing::ReadFile(dir / "Sub/model.x"), "theirs");
  EXPECT_EQ(wz::testing::ReadFile(dir / "Sub/model.X"), "o");
}

// Files a model names are read only when they are regular files within the cap; devices and
// FIFOs are refused at once (a FIFO with no writer would block an ordinary open for ever).
TEST(NamedFiles, ReadsOnlyRegularFilesWithinTheCap) {
  TempDir dir;
  wz::testing::WriteFile(dir / "tex.png", "PNGDATA");
  ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder.png");
  std::filesystem::create_symlink(dir / "tex.png", dir / "link.png");
  struct Case {
    std::string path;
    size_t cap;
    NamedFileError expected;
  } cases[] = {
      {dir / "tex.png", kMaxNamedFileBytes, NamedFileError::kNone},
      {dir / "link.png", kMaxNamedFileBytes, NamedFileError::kNone},  // links to files are fine
      {dir / "tex.png", 6, NamedFileError::kTooLarge},
      {dir / "tex.png", 7, NamedFileError::kNone},
      {dir / "missing.png", kMaxNamedFileBytes, NamedFileError::kMissing},
      {dir / "fifo.png", kMaxNamedFileBytes, NamedFileError::kNotRegular},
      {dir / "folder.png", kMaxNamedFileBytes, NamedFileError::kNotRegular},
      {"/dev/zero", kMaxNamedFileBytes, NamedFileError::kNotRegular},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const Case& c : cases) {
    std::vector<uint8_t> out{1, 2, 3};
    EXPECT_EQ(ReadRegularFile(LibraryPath(c.path), out, c.cap), c.expected) << c.path;
    EXPECT_EQ(out.size(), c.expected == NamedFileError::kNone ? 7u : 0u) << c.path;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(NamedFiles, InsideAFolderAfterLinksAndClimbs) {
  TempDir dir;
  std::filesystem::create_directories(dir / "models/tex");
  std::filesystem::create_directories(dir / "models2");
  wz::testing::WriteFile(dir / "secret", "s");
  std::filesystem::create_symlink(dir / "secret", dir / "models/tex/escape.png");
  const std::string root = LibraryPath(dir / "models");
  EXPECT_TRUE(IsInsideFolder(LibraryPath(dir / "models/tex/a.png"), root));
  EXPECT_TRUE(IsInsideFolder(LibraryPath(dir / "models/tex/../b.png"), root));
  EXPECT_FALSE(IsInsideFolder(LibraryPath(dir / "models/../secret"), root));
  EXPECT_FALSE(IsInsideFolder(LibraryPath(dir / "models/tex/escape.png"), root));
  EXPECT_FALSE(IsInsideFolder(LibraryPath(dir / "models2/a.png"), root));  // not a prefix match
}

}  // namespace
}  // namespace wz::platform
