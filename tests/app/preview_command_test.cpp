// wz-convert preview run as a user runs it: the picture of one frame of the converter's window
// (model in the middle, the information lines at the top left, the hint line at the bottom, the
// background elsewhere), and what it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"
#include "support/model_documents.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::RunProgram;
using wz::testing::TempDir;

const std::string kProgram = std::string(WZ_BIN_DIR) + "/wz-convert";

using wz::testing::kMqoCube;

struct PreviewProgram : ::testing::Test {
  wz::testing::ProgramResult Run(const std::string& arguments) {
    return RunProgram("cd " + dir.path() + " && " + kProgram + " preview " + arguments);
  }
  TempDir dir;
};

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> bgra;
  uint8_t R(uint32_t x, uint32_t y) const { return bgra[(size_t(y) * width + x) * 4 + 2]; }
  uint8_t G(uint32_t x, uint32_t y) const { return bgra[(size_t(y) * width + x) * 4 + 1]; }
  uint8_t B(uint32_t x, uint32_t y) const { return bgra[(size_t(y) * width + x) * 4]; }
  // Pixels in [x0, x1) x [y0, y1) that are light in every channel (glyph ink).
  int Ink(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) const {
    int n = 0;
    for (uint32_t y = y0; y < y1; ++y)
      for (uint32_t x = x0; x < x1; ++x)
        n += R(x, y) > 128 && G(x, y) > 128 && B(x, y) > 128;
    return n;
  }
  int NotBlack(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) const {
    int n = 0;
    for (uint32_t y = y0; y < y1; ++y)
      for (uint32_t x = x0; x < x1; ++x)
        n += R(x, y) || G(x, y) || B(x, y);
    return n;
  }
};

Picture ReadPicture(const std::string& path) {
  const std::string bytes = wz::testing::ReadFile(path);
  d3dx::DecodedImage image;
  Picture p;
  if (d3dx::DecodeImage({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, image) ==
      d3dx::ImageError::kNone) {
    p.width = image.info.Width;
    p.height = image.info.Height;
    p.bgra = std::move(image.pixels);
  }
  return p;
}

TEST_F(PreviewProgram, ShowsTheModelItsLinesAndTheHintOverTheBackground) {
  wz::testing::WriteFile(dir / "cube.mqo", kMqoCube);
  const auto r = Run("cube.mqo -o shot.png --size 640x360");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const Picture p = ReadPicture(dir / "shot.png");
  ASSERT_EQ(p.width, 640u);
  ASSERT_EQ(p.height, 360u);
  // The cube faces the camera in the middle, lit red.
  for (auto [x, y] : {std::pair{320u, 180u}, {260u, 120u}, {380u, 240u}}) {
    EXPECT_GT(p.R(x, y), 150) << x << "," << y;
    EXPECT_LT(p.G(x, y), 120) << x << "," << y;
  }
  // The four information lines at the top left (reference y 15 to 100, half size here), the hint
  // along the bottom from the left edge to beyond the middle.
  EXPECT_GT(p.Ink(0, 4, 200, 52), 300);
  for (uint32_t line : {4u, 17u, 27u, 37u})
    EXPECT_GT(p.Ink(0, line, 120, line + 10), 20) << line;
  EXPECT_GT(p.Ink(0, 340, 160, 360), 100);
  EXPECT_GT(p.Ink(400, 340, 640, 360), 100);
  // Elsewhere the background: right of the lines, beside the cube, between cube and hint.
  EXPECT_EQ(p.NotBlack(300, 0, 640, 50), 0);
  EXPECT_EQ(p.NotBlack(0, 60, 150, 330), 0);
  EXPECT_EQ(p.NotBlack(500, 60, 640, 330), 0);
  EXPECT_EQ(p.NotBlack(0, 305, 640, 338), 0);
}

TEST_F(PreviewProgram, ShowsTheTextureAModelNames) {
  // The red cube over a green 2 x 2 image beside it: dark where the texture shows, red without.
  wz::testing::WriteFile(dir / "green.tga", wz::test::SolidTga(2, 2, 0x00, 0xFF, 0x00));
  std::string cube = kMqoCube;
  cube.replace(cube.find("dif(0.800)"), 10, "dif(0.800) tex(\"green.tga\")");
  wz::testing::WriteFile(dir / "cube.mqo", cube);
  const auto r = Run("cube.mqo -o shot.png --size 320x180");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const Picture p = ReadPicture(dir / "shot.png");
  ASSERT_EQ(p.width, 320u);
  EXPECT_LT(p.R(160, 90), 0x40);
}

TEST_F(PreviewProgram, GridAddsGreyLinesAcrossTheFloor) {
  wz::testing::WriteFile(dir / "cube.mqo", kMqoCube);
  ASSERT_EQ(Run("cube.mqo -o plain.png --size 320x180").exitCode, 0);
  const auto r = Run("--grid cube.mqo -o grid.png --size 320x180");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const Picture plain = ReadPicture(dir / "plain.png"), grid = ReadPicture(dir / "grid.png");
  ASSERT_EQ(grid.width, 320u);
  // The floor plane y = 0 runs through the framed model's centre, seen edge on: a grey line
  // across the picture's middle row, outside the cube too.
  EXPECT_EQ(plain.NotBlack(0, 85, 60, 95), 0);
  EXPECT_GT(grid.NotBlack(0, 85, 60, 95), 30);
}

TEST_F(PreviewProgram, RefusesBadArgumentsAndFilesWithoutAModel) {
  wz::testing::WriteFile(dir / "cube.mqo", kMqoCube);
  wz::testing::WriteFile(dir / "bad.mqo", "not a document");
  struct Case {
    std::string arguments;
    int exitCode;
    std::string says;
  };
  const Case cases[] = {
      {"cube.mqo", 2, "usage: wz-convert preview"},
      {"-o a.png", 2, "usage: wz-convert preview"},
      {"cube.mqo cube.mqo -o a.png", 2, "one file"},
      {"cube.mqo -o a.png --size 2000x100", 2, "bad value '2000x100' for --size"},
      {"cube.mqo -o a.png --size 100", 2, "bad value"},
      {"cube.mqo -o a.png --colour", 2, "unknown option '--colour'"},
      {"missing.mqo -o a.png", 1, "missing.mqo: no such file"},
      {"bad.mqo -o a.png", 1, "bad.mqo: failed"},
      {"cube.mqo -o cube.mqo", 1, "would replace the model file"},
  };
  for (const Case& c : cases) {
    const auto r = Run(c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.arguments << "\n" << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.png")) << c.arguments;
  }
  EXPECT_EQ(wz::testing::ReadFile(dir / "cube.mqo"), kMqoCube);
  EXPECT_EQ(Run("--help").exitCode, 0);
}

}  // namespace
}  // namespace wz
