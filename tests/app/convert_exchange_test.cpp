// wz-convert with the exchange formats, run as a user runs it: a LightWave LWO2 sample with its
// image converted to glTF, GLB and OBJ (read back by `assimp info`), and an OBJ read in.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/exchange_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::RunProgram;
using wz::testing::TempDir;

const std::string kProgram = std::string(WZ_BIN_DIR) + "/wz-convert";
const std::string kSamples = "/usr/share/assimp/models/LWO/LWO2/";

struct ExchangeProgram : ::testing::Test {
  ExchangeProgram() {
    for (const char* f : {"boxuv.lwo", "boxuv.png"})
      std::filesystem::copy_file(kSamples + f, dir / f);
  }
  wz::testing::ProgramResult Run(const std::string& arguments) {
    return RunProgram("cd " + dir.path() + " && " + kProgram + " " + arguments);
  }
  TempDir dir;
};

TEST_F(ExchangeProgram, Lwo2SampleBecomesGltfGlbAndObjThatAssimpReads) {
  const std::pair<const char*, std::vector<const char*>> targets[] = {
      {"gltf", {"boxuv.gltf", "boxuv.bin"}},
      {"glb", {"boxuv.glb"}},
      {"obj", {"boxuv.obj", "boxuv.mtl"}},
  };
  for (const auto& [target, files] : targets) {
    SCOPED_TRACE(target);
    auto r = Run(std::string("--to ") + target + " boxuv.lwo");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("boxuv.lwo -> " + (dir / files[0])), std::string::npos) << r.output;
    for (const char* f : files)
      EXPECT_TRUE(std::filesystem::exists(dir / f)) << f;
    // The cube of side 1 m: six quads, twelve triangles, z negated (the box is symmetric).
    const auto info = wz::testing::RunAssimpInfo(dir / files[0]);
    EXPECT_EQ(info.faces, 12) << info.output;
    EXPECT_EQ(info.lo, (Vec3{-0.5f, -0.5f, -0.5f})) << info.output;
    EXPECT_EQ(info.hi, (Vec3{0.5f, 0.5f, 0.5f})) << info.output;
  }
  // The image was PNG already: the copy beside the files is the model's own, left as it was.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 7);
}

TEST_F(ExchangeProgram, ObjReadsBackAndHelpNamesTheNewFormats) {
  ASSERT_EQ(Run("--to obj boxuv.lwo").exitCode, 0);
  auto info = Run("info --json boxuv.obj");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("\"polygons\":6"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("\"file\":\"boxuv.png\""), std::string::npos) << info.output;
  auto help = Run("--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word : {"gltf", "glb", "obj", "LWO2", "metres"})
    EXPECT_NE(help.output.find(word), std::string::npos) << word;
  auto unknown = Run("--to fbx boxuv.lwo");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.output.find("gltf, glb or obj"), std::string::npos) << unknown.output;
}

}  // namespace
}  // namespace wz
