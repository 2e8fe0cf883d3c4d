// The pause counter, the frame timer and the switches.
#include "core/library.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace wz {
namespace {

// A library whose frame timer reads a counter the test moves by hand, and whose log lines are
// collected.
struct LibraryFixture : ::testing::Test {
  LibraryFixture() {
    library.SetCounterForTesting(
        [this](int64_t& t) {
          t = now;
          return true;
        },
        1000);
    library.AttachLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  int64_t now = 5000;              // ticks of 1 ms
  std::vector<std::string> lines;  // outlives the library, whose teardown logs
  Library library;
};

TEST_F(LibraryFixture, PauseCountsAndStartsTheTimerOnlyAtZero) {
  library.FrameTimer(0);
  library.Pause(true);
  library.Pause(true);
  library.Pause(false);
  EXPECT_EQ(library.PauseCount(), 1);
  EXPECT_FALSE(library.Active());
  now += 1000;  // time passes while paused: the application time stands still
  EXPECT_FLOAT_EQ(library.FrameTimer(5), 0.0f);
  library.Pause(false);
  EXPECT_TRUE(library.Active());
  now += 250;
  EXPECT_FLOAT_EQ(library.FrameTimer(5), 0.25f);
}

TEST_F(LibraryFixture, FrameTimerAdvancesInsideAStop) {
  library.FrameTimer(0);  // reset at 5000
  now += 300;
  library.FrameTimer(2);  // stop at 5300
  library.FrameTimer(3);
  library.FrameTimer(3);  // two advances: the stop time moves by 0.2 s
  now += 5000;            // a long stopped interval that does not count
  library.FrameTimer(1);  // start
  now += 100;
  // Running time outside the stop (0.3 + 0.1 s) plus the two advances.
  EXPECT_NEAR(library.FrameTimer(5), 0.6f, 1e-6);
  // Absolute time ignores the stop.
  EXPECT_NEAR(library.FrameTimer(4), 10.4f, 1e-4);
}

TEST_F(LibraryFixture, FrameTimerElapsedAndStoppedReads) {
  library.FrameTimer(0);
  now += 40;
  EXPECT_NEAR(library.FrameTimer(6), 0.04f, 1e-6);
  EXPECT_NEAR(library.FrameTimer(6), 0.0f, 1e-6);
  library.FrameTimer(2);
  now += 500;
  // While stopped, reads other than start and absolute time see the stop time.
  EXPECT_NEAR(library.FrameTimer(5), 0.04f, 1e-6);
  EXPECT_NEAR(library.FrameTimer(6), 0.0f, 1e-6);
  EXPECT_FLOAT_EQ(library.FrameTimer(7), -1.0f);
  EXPECT_FLOAT_EQ(library.FrameTimer(-1), -1.0f);
}

TEST_F(LibraryFixture, SwitchesLogAndStoreWithoutADevice) {
  library.V_SyncSet(false);
  library.CPU_PossessionSet(true);
  library.AntialiasSet(true);  // unsupported: off, still logged
  EXPECT_FALSE(library.VSync());
  EXPECT_TRUE(library.CpuPossession());
  EXPECT_FALSE(library.Antialias());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], platform::Utf8ToCp932("垂直同期を待たない WZ.V_SyncSet()"));
  EXPECT_EQ(lines[1], platform::Utf8ToCp932("CPU占有する WZ.CPU_PossessionSet()"));
  EXPECT_EQ(lines[2], platform::Utf8ToCp932("アンチエイリアス OFF"));
  // The engine part set the switches before anything could log them.
  Library fresh;
  EXPECT_TRUE(fresh.VSync());
  EXPECT_FALSE(fresh.CpuPossession());
  EXPECT_EQ(fresh.LogLineIndex(), 0);
}

TEST_F(LibraryFixture, AntialiasInFullScreenIsOffAndLogged) {
  library.SetWindowedForTesting(false);
  library.AntialiasSet(true);
  EXPECT_FALSE(library.Antialias());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], platform::Utf8ToCp932("アンチエイリアス OFF"));
}

TEST_F(LibraryFixture, WindowSizeQueryWithoutDeviceDoesNothing) {
  EXPECT_EQ(library.WindowSizeFromBackBuffer(), 0);
  EXPECT_EQ(library.WindowWidth(), 1280);
  EXPECT_EQ(library.WindowHeight(), 720);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace wz
