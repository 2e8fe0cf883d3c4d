// The normal-map conversion against a computation written straight from its description, and
// the program's output file.
#include "app/normal_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/d3dx/image_decode.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

// Expected output, computed independently: scatter into cells of (b, g, r, 255), then
// n0 = b(c) - b(c+1) + 128 and n1 = g(r+1) - g(r) + 128, clamped, except in the last column/row.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& bgra, int w, int h) {
  std::vector<int> b(256 * 256, 0), g(256 * 256, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int gx = int(double(x) * (256.0 / w)), gy = int(double(y) * (256.0 / h));
      b[gy * 256 + gx] = bgra[(size_t(y) * w + x) * 4 + 0];
      g[gy * 256 + gx] = bgra[(size_t(y) * w + x) * 4 + 1];
    }
  }
  auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  std::vector<uint8_t> out(256 * 256 * 4);
  for (int r = 0; r < 256; ++r) {
    for (int c = 0; c < 256; ++c) {
      int red = c < 255 ? clamp(b[r * 256 + c] - b[r * 256 + c + 1] + 128) : b[r * 256 + c];
      int green = r < 255 ? clamp(g[(r + 1) * 256 + c] - g[r * 256 + c] + 128) : g[r * 256 + c];
      uint8_t* o = &out[(size_t(r) * 256 + c) * 4];
      o[0] = 255, o[1] = uint8_t(green), o[2] = uint8_t(red), o[3] = 255;
    }
  }
  return out;
}

std::vector<uint8_t> Image(int w, int h, uint32_t seed) {
  std::vector<uint8_t> p(size_t(w) * h * 4);
  for (size_t i = 0; i < p.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    p[i] = uint8_t(seed >> 24);
  }
  return p;
}

TEST(NormalMap, MatchesTheIndependentComputation) {
  const std::pair<int, int> sizes[] = {{512, 512}, {128, 128}, {256, 256},
                                       {300, 100}, {1, 1},     {257, 999}};
  for (auto [w, h] : sizes) {
    auto src = Image(w, h, uint32_t(w * 31 + h));
    EXPECT_EQ(ComputeNormalMap(src.data(), w, h, size_t(w) * 4), Expected(src, w, h))
        << w << "x" << h;
  }
}

TEST(NormalMap, UniformGreyIsFlatExceptTheLastColumnAndRow) {
  std::vector<uint8_t> full(256 * 256 * 4, 90);
  auto out = ComputeNormalMap(full.data(), 256, 256, 256 * 4);
  auto px = [&](int c, int r) { return &out[(size_t(r) * 256 + c) * 4]; };
  EXPECT_EQ(px(10, 10)[2], 128);
  EXPECT_EQ(px(10, 10)[1], 128);
  EXPECT_EQ(px(10, 10)[0], 255);
  EXPECT_EQ(px(255, 10)[2], 90);  // last column: red keeps the grey
  EXPECT_EQ(px(10, 255)[1], 90);  // last row: green keeps the grey
}

TEST(NormalMap, RampToTheRightGivesRed127) {
  std::vector<uint8_t> src(256 * 16 * 4);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 256; ++x) {
      for (int k = 0; k < 3; ++k)
        src[(size_t(y) * 256 + x) * 4 + k] = uint8_t(x);
    }
  }
  auto out = ComputeNormalMap(src.data(), 256, 16, 256 * 4);
  for (int c = 0; c < 255; ++c)
    EXPECT_EQ(out[(size_t(16) * 256 + c) * 4 + 2], 127) << c;
}

TEST(NormalMap, ProgramWritesTheMapOfTheBundledHeightMap) {
  wz::testing::TempDir dir;
  std::filesystem::copy_file(std::string(WZ_BIN_DIR) + "/wz-normalmap", dir / "wz-normalmap");
  std::filesystem::copy(std::string(WZ_BIN_DIR) + "/Data", dir / "Data",
                        std::filesystem::copy_options::recursive);
  // Without a height map: nothing is written, one line says which file is missing, exit code 1.
  auto run = wz::testing::RunProgram("cd " + dir.path() + " && ./wz-normalmap");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(run.output, "wz-normalmap: " + (dir / "WZ_Heightmap.jpg") + ": no such file\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "WZ_Normalmap.BMP"));
  // A height map that is no image: the reason names what is wrong with it.
  wz::testing::WriteFile(dir / "WZ_Heightmap.jpg", "not a picture");
  run = wz::testing::RunProgram("cd " + dir.path() + " && ./wz-normalmap");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_EQ(run.output, "wz-normalmap: " + (dir / "WZ_Heightmap.jpg") +
                            ": not an image that can be read (unknown image format)\n");
  std::filesystem::remove(dir / "WZ_Heightmap.jpg");

  std::filesystem::copy_file(std::string(WZ_BIN_DIR) + "/WZ_Heightmap.jpg",
                             dir / "WZ_Heightmap.jpg");
  run = wz::testing::RunProgram("cd / && " + dir.path() + "/wz-normalmap");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  std::string bmp = wz::testing::ReadFile(dir / "WZ_Normalmap.BMP");
  ASSERT_EQ(bmp.size(), 262200u);
  std::string jpeg = wz::testing::ReadFile(dir / "WZ_Heightmap.jpg");
  d3dx::DecodedImage decoded;
  ASSERT_EQ(
      d3dx::DecodeImage({reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size()}, decoded),
      d3dx::ImageError::kNone);
  auto expected = Expected(decoded.pixels, int(decoded.info.Width), int(decoded.info.Height));
  // Rows are stored bottom-up after the 54-byte header.
  for (int r = 0; r < 256; ++r) {
    ASSERT_EQ(0, std::memcmp(&bmp[54 + size_t(255 - r) * 1024], &expected[size_t(r) * 1024], 1024))
        << "row " << r;
  }
}

TEST(NormalMap, ProgramWorksInAFolderOfAnyNameAndLength) {
  // Characters code page 932 lacks, a backslash in a name, and a path beyond 255 bytes: the
  // program reads and writes its own folder, never a parent and never a cut name.
  wz::testing::TempDir dir;
  const std::string folder = dir / ("caf\xC3\xA9\xF0\x9F\x98\x80\\" + std::string(120, 'a') + "/" +
                                    std::string(140, 'b') + "/\xCE\xA9mega");
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::string(WZ_BIN_DIR) + "/wz-normalmap", folder + "/wz-normalmap");
  std::filesystem::copy_file(std::string(WZ_BIN_DIR) + "/WZ_Heightmap.jpg",
                             folder + "/WZ_Heightmap.jpg");
  auto run = wz::testing::RunProgram("cd / && '" + folder + "/wz-normalmap'");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(wz::testing::ReadFile(folder + "/WZ_Normalmap.BMP").size(), 262200u);
  for (auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
    EXPECT_TRUE(entry.path().string().rfind(folder, 0) == 0 || entry.is_directory())
        << entry.path();
}

TEST(NormalMap, ProgramOutlivesALogReaderThatWentAway) {
  // WZ_LOG=1 wz-normalmap 2>&1 | head -1: the log's reader closes early; the map is still written.
  wz::testing::TempDir dir;
  std::filesystem::copy_file(std::string(WZ_BIN_DIR) + "/wz-normalmap", dir / "wz-normalmap");
  std::filesystem::copy_file(std::string(WZ_BIN_DIR) + "/WZ_Heightmap.jpg",
                             dir / "WZ_Heightmap.jpg");
  auto run =
      wz::testing::RunProgram("cd " + dir.path() +
                              " && (WZ_LOG=1 ./wz-normalmap 2>&1; echo \"exit $?\" >status) |"
                              " head -c 1 >/dev/null; cat status");
  EXPECT_EQ(run.output, "exit 0\n");
  EXPECT_EQ(wz::testing::ReadFile(dir / "WZ_Normalmap.BMP").size(), 262200u);
}

}  // namespace
}  // namespace wz
