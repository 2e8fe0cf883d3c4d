// The device cursor: monochrome and colour cursors turned into the device's cursor image, with
// and without the watermark, and the window class's arrow given to a full-screen device.
#include "texture/device_cursor.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/d3d/device_fixture.h"
#include "support/started_library.h"

namespace wz {
namespace {

using namespace d3d;

constexpr uint16_t kMark[5] = {0xCCC0, 0xA2A0, 0xA4A0, 0xA2A0, 0xCCC0};

uint32_t Watermarked(uint32_t pixel, int x, int y) {
  return x < 12 && y < 5 && (kMark[y] & (1u << (15 - x))) ? pixel | 0xFF808080u : pixel;
}

// A 16 x 16 cursor. Monochrome: AND set on the right half, XOR white on even rows. Colour: AND
// set on the diagonal, colour (x * 16, y * 16, 0x80) as blue, green, red.
gdi::HCURSOR MakeCursor(bool colour) {
  gdi::ICONINFO info;
  info.fIcon = false;
  info.xHotspot = 3;
  info.yHotspot = 5;
  std::vector<uint8_t> mask;
  for (int y = 0; y < 16; ++y) {
    if (colour) {
      const uint16_t bit = uint16_t(0x8000u >> y);
      mask.push_back(uint8_t(bit >> 8));
      mask.push_back(uint8_t(bit));
    } else {
      mask.push_back(0x00);
      mask.push_back(0xFF);
    }
  }
  std::vector<uint8_t> pixels;
  if (colour) {
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x)
        pixels.insert(pixels.end(), {uint8_t(x * 16), uint8_t(y * 16), 0x80, 0});
    }
  } else {
    for (int y = 0; y < 16; ++y) {
      const uint8_t b = y % 2 == 0 ? 0xFF : 0x00;
      mask.push_back(b);
      mask.push_back(b);
    }
  }
  gdi::UniqueBitmap maskBitmap(gdi::CreateBitmap(16, colour ? 16 : 32, 1, 1, mask.data()));
  gdi::UniqueBitmap colourBitmap(colour ? gdi::CreateBitmap(16, 16, 1, 32, pixels.data())
                                        : nullptr);
  info.hbmMask = maskBitmap.get();
  info.hbmColor = colourBitmap.get();
  return gdi::CreateIconIndirect(&info);
}

uint32_t Expected(bool colour, int x, int y) {
  if (colour) return x == y ? 0u : 0xFF800000u | uint32_t(y * 16) << 8 | uint32_t(x * 16);
  return x >= 8 ? 0u : y % 2 == 0 ? 0xFFFFFFFFu : 0xFF000000u;
}

class DeviceCursorTest : public d3d::testing::DeviceTest {};

TEST_F(DeviceCursorTest, MasksBecomeTransparencyAndTheImageOpaqueColour) {
  MakeDevice(BackendChoice::kRecording);
  for (bool colour : {false, true}) {
    for (bool watermark : {false, true}) {
      gdi::HCURSOR cursor = MakeCursor(colour);
      ASSERT_NE(cursor, nullptr);
      const uint32_t before = device->Cursor().propertiesSet;
      ASSERT_EQ(DeviceCursorSet(device.get(), cursor, watermark), S_OK);
      gdi::DestroyCursor(cursor);
      const DeviceCursor& c = device->Cursor();
      EXPECT_EQ(c.propertiesSet, before + 1);
      ASSERT_EQ(c.width, 16u);
      ASSERT_EQ(c.height, 16u);
      EXPECT_EQ(c.hotX, 3u);
      EXPECT_EQ(c.hotY, 5u);
      ASSERT_EQ(c.image.size(), 256u);
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          uint32_t want = Expected(colour, x, y);
          if (watermark) want = Watermarked(want, x, y);
          EXPECT_EQ(c.image[size_t(y) * 16 + size_t(x)], want)
              << (colour ? "colour " : "monochrome ") << (watermark ? "marked " : "") << x << ","
              << y;
        }
      }
    }
  }
}

TEST_F(DeviceCursorTest, RefusesWhatIsNoCursor) {
  MakeDevice(BackendChoice::kRecording);
  int notACursor = 0;
  EXPECT_EQ(DeviceCursorSet(device.get(), &notACursor, false), E_FAIL);
  EXPECT_EQ(DeviceCursorSet(device.get(), nullptr, false), E_FAIL);
  EXPECT_EQ(DeviceCursorSet(nullptr, gdi::BuiltInCursor(platform::IDC_ARROW), false),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(device->Cursor().propertiesSet, 0u);
}

TEST(DeviceCursorFromWindowClass, FullScreenDeviceGetsTheMarkedArrow) {
  wz::testing::LibraryEnvironment environment;
  wz::testing::StartedLibrary s;
  ASSERT_TRUE(s.started);
  s.library.ShowCursorFullScreenSet(true);
  s.Send(platform::WM_COMMAND, 40003);  // to full screen
  ASSERT_FALSE(s.library.Windowed());
  const DeviceCursor& c = s.library.Device()->Cursor();
  EXPECT_GE(c.propertiesSet, 1u);
  EXPECT_TRUE(c.shown);
  ASSERT_EQ(c.width, 32u);
  ASSERT_EQ(c.height, 32u);
  EXPECT_EQ(c.hotX, 0u);
  EXPECT_EQ(c.hotY, 0u);
  // The mark's first row starts with two set bits; the arrow itself is opaque somewhere below.
  EXPECT_EQ(c.image[0] & 0xFF808080u, 0xFF808080u);
  EXPECT_EQ(c.image[1] & 0xFF808080u, 0xFF808080u);
  size_t opaqueBelowMark = 0, transparent = 0;
  for (size_t i = 32 * 5; i < c.image.size(); ++i) {
    opaqueBelowMark += (c.image[i] >> 24) == 0xFF;
    transparent += c.image[i] == 0;
  }
  EXPECT_GT(opaqueBelowMark, 20u);
  EXPECT_GT(transparent, 500u);
}

}  // namespace
}  // namespace wz
