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

TEST(PathMapping, HostPathsBecomeLibraryPaths) {
  EXPECT_EQ(LibraryPath("/home/a/bin"), "\\home\\a\\bin");
  EXPECT_EQ(LibraryPath("/tmp/グループ"), "\\tmp\\" + Utf8ToCp932("グループ"));
  EXPECT_EQ(HostPath("\\home\\a\\bin"), "/home/a/bin");
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
