// The frame function: the clear to the background colour, only while the library runs.
#include <gtest/gtest.h>

#include "support/started_library.h"

namespace wz {
namespace {

using testing::LibraryEnvironment;
using testing::StartedLibrary;

TEST(RenderFrame, ClearsToTheBackgroundColourWithFullAlphaUnlessPaused) {
  struct Case {
    uint8_t red, green, blue;
    uint32_t cleared;
  } cases[] = {
      {0, 0, 0, 0xFF000000u},
      {0x12, 0x34, 0x56, 0xFF123456u},
      {0xFF, 0, 0, 0xFFFF0000u},
      {0, 0, 0xFF, 0xFF0000FFu},
  };
  LibraryEnvironment environment;
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  s.library.Rendering().fade = 1.0f;  // no black cover over the frame
  auto pixels = [&s] { return s.library.Device()->ReadBackBuffer(); };
  for (const Case& c : cases) {
    uint8_t* bg = s.library.Rendering().background;
    bg[0] = c.red, bg[1] = c.green, bg[2] = c.blue;
    const uint32_t presents = s.library.Device()->PresentCount();
    s.library.RenderFrame();
    EXPECT_EQ(pixels().front(), c.cleared);
    EXPECT_EQ(pixels().back(), c.cleared);
    // Presenting is the caller's.
    EXPECT_EQ(s.library.Device()->PresentCount(), presents);
  }
  s.library.Pause(true);
  s.library.Rendering().background[1] = 0x77;
  s.library.RenderFrame();
  EXPECT_EQ(pixels().front(), cases[3].cleared);
  s.library.Pause(false);
  s.library.RenderFrame();
  EXPECT_EQ(pixels().front(), 0xFF0077FFu);
}

}  // namespace
}  // namespace wz
