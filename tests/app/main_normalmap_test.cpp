// The wz-normalmap program as a user runs it.
#include <gtest/gtest.h>

#include "support/run_program.h"

namespace wz {
namespace {

using wz::testing::RunProgram;

const std::string kProgram = std::string(WZ_BIN_DIR) + "/wz-normalmap";

TEST(NormalMapProgram, LogsStartUpAndTeardownWhenAsked) {
  auto r = RunProgram("env WZ_LOG=1 WZ_SCREEN=1920x1080 WZ_D3D_PROFILE=fixed " + kProgram);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const char* inOrder[] = {
      "WZライブラリ 2010.11",
      "CPUコア数 ",
      "モニター 1920×1080",
      "WZ.WinVer 7",
      "WZ.GPU_Info.GeForce 1",
      "WindowSize 1280×720",
      "WZ.LibInit() 初期化 終了",
      "\n-----------------------------------------------------------------------\n",
      "LibDataLoader 終了待ち",
      "LibDataLoader 終了\n"};
  size_t at = 0;
  for (const char* text : inOrder) {
    size_t found = r.output.find(text, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << r.output;
    at = found + 1;
  }
}

TEST(NormalMapProgram, SilentWithoutTheLogVariable) {
  auto r = RunProgram("env -u WZ_LOG " + kProgram);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output.find("WZライブラリ"), std::string::npos);
}

TEST(NormalMapProgram, FailedStartUpExitsWithMinusOne) {
  auto r = RunProgram("env -u WZ_LOG WZ_D3D_FAIL=object " + kProgram);
  EXPECT_EQ(r.exitCode, 255);
  size_t error = r.output.find("error: Could not initialize Direct3D.");
  size_t failed = r.output.find("初期化に失敗しました。");
  EXPECT_NE(error, std::string::npos) << r.output;
  EXPECT_NE(failed, std::string::npos) << r.output;
  EXPECT_LT(error, failed);
}

}  // namespace
}  // namespace wz
