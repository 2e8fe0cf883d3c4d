// The log sinks, message boxes and the device error reporter.
#include <gtest/gtest.h>

#include "core/library.h"
#include "platform/dialogs.h"
#include "platform/text.h"

namespace wz {
namespace {

using platform::Utf8ToCp932;

struct QuietBoxes : ::testing::Test {
  QuietBoxes() {
    platform::script::Reset();
    platform::script::SetMessageBoxEcho(false);
  }
  ~QuietBoxes() override {
    platform::script::Reset();
    platform::script::SetMessageBoxEcho(true);
  }
};

using LogTest = QuietBoxes;

TEST_F(LogTest, NoSinkMeansNothingHappens) {
  Library library;
  library.Log("%s", "a line");
  EXPECT_EQ(library.LogLineIndex(), 0);
}

TEST_F(LogTest, ListBoxHoldsLinesInOrderWithTheNewestSelected) {
  Library library;
  platform::HWND box =
      platform::CreateWindowExA(0, "LISTBOX", "", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr);
  ASSERT_NE(box, nullptr);
  library.AttachLogListBox(box);
  library.Log("one %d", 1);
  library.Log("two");
  library.Log(WZ_TEXT("モニター %d×%d"), 1920, 1080);
  EXPECT_EQ(platform::ListBoxItems(box),
            (std::vector<std::string>{"one 1", "two", Utf8ToCp932("モニター 1920×1080")}));
  EXPECT_EQ(platform::SendMessageA(box, platform::LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(library.LogLineIndex(), 3);
}

TEST_F(LogTest, LongLinesAreCutAtACharacterBoundary) {
  std::vector<std::string> lines;  // outlives the library, whose teardown logs
  Library library;
  library.AttachLogSink([&](const std::string& l) { lines.push_back(l); });
  std::string path = "x" + Utf8ToCp932(std::string(200, 'a') +
                                       std::string("あいうえおかきくけこさしすせそたちつてと"));
  library.Log("*** ERROR *** %s", path.c_str());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LE(lines[0].size(), 255u);
  EXPECT_GE(lines[0].size(), 254u);
  // The cut line still decodes without a broken character.
  EXPECT_EQ(platform::Cp932ToUtf8(lines[0]).find("\xEF\xBF\xBD"), std::string::npos);
}

TEST_F(LogTest, ShowMessageUsesTheWindowTitleAndNoOwnerBeforeTheWindow) {
  Library library;
  double before = library.FrameClockStamp();
  library.ShowMessage("hello");
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text, "hello");
  EXPECT_EQ(boxes[0].caption, "D3D9 Application");
  EXPECT_EQ(boxes[0].type, platform::MB_OK);
  EXPECT_GE(library.FrameClockStamp(), before);
}

using DeviceErrorTest = QuietBoxes;

TEST_F(DeviceErrorTest, MessagesForEachCode) {
  struct Case {
    uint32_t code;
    std::string start;
  } cases[] = {
      {0x82000001u, "Could not initialize Direct3D. You may\nwant to check"},
      {0x82000003u,
       Utf8ToCp932("ビデオカードが、DirectX 9 に対応していない可能性があります。\n使用できる")},
      {0x8200000Bu, "Could not load required media."},
      {0x80070002u, "Could not load required media."},
      {0x8200000Cu, "Could not reset the Direct3D device."},
      {0x8200000Du, Utf8ToCp932("ビデオカードが、DirectX 9 "
                                "に対応していない可能性があります。\nD3DAPPERR_NULLREFDEVICE")},
      {0x8007000Eu, "Not enough memory."},
      {0x8876017Cu, "Not enough video memory."},
      {0x88760827u, "A serious problem occured inside the display driver."},
      {0x12345678u, "Generic application error. Enable\ndebug output for detailed information."},
  };
  for (const Case& c : cases) {
    std::string m = DeviceErrorMessage(static_cast<HRESULT>(c.code), 0);
    EXPECT_EQ(m.substr(0, c.start.size()), c.start) << std::hex << c.code;
  }
  EXPECT_EQ(DeviceErrorMessage(D3DAPPERR_RESETFAILED, 2),
            "Could not reset the Direct3D device.\n\nSwitching to the reference rasterizer,\na "
            "software device that implements the entire\nDirect3D feature set, but runs very "
            "slowly.");
}

TEST_F(DeviceErrorTest, ModesAndTheFatalLatch) {
  Library library;
  EXPECT_EQ(library.ShowDeviceError(D3DAPPERR_NULLREFDEVICE, 0), D3DAPPERR_NULLREFDEVICE);
  EXPECT_EQ(library.ShowDeviceError(D3DERR_OUTOFVIDEOMEMORY, 2), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(library.ShowDeviceError(D3DAPPERR_NODIRECT3D, 1), D3DAPPERR_NODIRECT3D);
  // After a fatal error nothing more is shown, but the code still comes back.
  EXPECT_EQ(library.ShowDeviceError(D3DAPPERR_RESETFAILED, 1), D3DAPPERR_RESETFAILED);
  EXPECT_EQ(library.ShowDeviceError(D3DAPPERR_RESETFAILED, 0), D3DAPPERR_RESETFAILED);
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].type, platform::MB_ICONWARNING);
  EXPECT_EQ(boxes[1].type, platform::MB_ICONWARNING);
  EXPECT_NE(boxes[1].text.find("Switching to the reference rasterizer"), std::string::npos);
  EXPECT_EQ(boxes[2].type, platform::MB_ICONERROR);
  EXPECT_EQ(boxes[2].owner, nullptr);
  EXPECT_TRUE(library.FatalErrorShown());
}

TEST_F(DeviceErrorTest, DriverInternalErrorIsAlwaysFatal) {
  Library library;
  library.ShowDeviceError(D3DERR_DRIVERINTERNALERROR, 0);
  EXPECT_TRUE(library.FatalErrorShown());
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].type, platform::MB_ICONERROR);
}

}  // namespace
}  // namespace wz
