// The window and the device's life: creation with its fallback, the device objects' order,
// sizing, the full-screen switch, device selection, painting, closing and the other messages
// of the library's window handler.
#include <gtest/gtest.h>

#include "platform/dialogs.h"
#include "platform/text.h"
#include "resources/device_dialog.h"
#include "sound/sound_device.h"
#include "support/started_library.h"

namespace wz {
namespace {

using namespace platform;
using S = DeviceStep;
using testing::LibraryEnvironment;
using testing::StartedLibrary;

constexpr DWORD kWindowedStyle = 0x10CF0000;
constexpr DWORD kFullScreenStyle = 0x90080000;

LPARAM Point(uint32_t x, uint32_t y) {
  return static_cast<LPARAM>(x | y << 16);
}

struct WindowDevice : ::testing::Test {
  LibraryEnvironment environment;
};

// The window of a started library after its first WM_SIZE: held at 16:9 by its outer width.
void Settle(StartedLibrary& s) {
  s.Send(WM_SIZE, SIZE_RESTORED);
  s.TakeSteps();
}

TEST_F(WindowDevice, DeviceObjectsFollowTheDeviceThroughStartResetAndCleanup) {
  StartedLibrary s(false);
  ASSERT_TRUE(s.library.LibInit(nullptr));
  const std::vector<S> create = {S::Create, S::ObjectsInit, S::ObjectsRestore};
  const std::vector<S> reset = {S::ObjectsInvalidate, S::RenderRelease, S::Reset,
                                S::ObjectsRestore};
  const std::vector<S> cleanup = {S::RenderRelease, S::ObjectsInvalidate, S::ObjectsDelete,
                                  S::Release};
  // Start-up creates the device, releases it and creates the final one; switching
  // antialiasing then resets it.
  std::vector<S> expected = create;
  expected.insert(expected.end(), cleanup.begin(), cleanup.end());
  expected.insert(expected.end(), create.begin(), create.end());
  expected.insert(expected.end(), reset.begin(), reset.end());
  EXPECT_EQ(s.TakeSteps(), expected);
  ASSERT_NE(s.library.StatisticsFont(), nullptr);
  // The atlas waits for the font's first use; the buffer is there.
  EXPECT_EQ(s.library.StatisticsFont()->Texture(), nullptr);
  EXPECT_TRUE(s.library.StatisticsFont()->AtlasPending());
  EXPECT_NE(s.library.StatisticsFont()->VertexBuffer(), nullptr);
  gdi::SIZE extent;
  ASSERT_EQ(s.library.StatisticsFont()->GetTextExtent("fps", &extent), S_OK);
  EXPECT_GT(extent.cx, 0);
  EXPECT_NE(s.library.StatisticsFont()->Texture(), nullptr);
  EXPECT_EQ(s.library.StatisticsFont()->Texture()->GetDevice(), s.library.Device());

  s.library.V_SyncSet(false);
  EXPECT_EQ(s.TakeSteps(), reset);
  EXPECT_EQ(s.library.PresentParameters().PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
  s.library.CleanupDevice();
  EXPECT_EQ(s.TakeSteps(), cleanup);
  EXPECT_EQ(s.library.StatisticsFont()->Texture(), nullptr);
  EXPECT_EQ(s.library.StatisticsFont()->VertexBuffer(), nullptr);
  EXPECT_EQ(s.library.Device(), nullptr);
  s.library.CleanupDevice();  // nothing left to release
  EXPECT_TRUE(s.TakeSteps().empty());
}

TEST_F(WindowDevice, FailingDeviceObjectsAreUndoneInOrder) {
  struct Case {
    const char* what;
    bool create;  // CreateDevice after a cleanup, else ResetDevice
    S failing;
    std::vector<S> expected;
    bool restored, lost;
  } cases[] = {
      {"initialisation fails: deleted, the device released, the reference device tried",
       true,
       S::ObjectsInit,
       {S::Create, S::ObjectsInit, S::ObjectsDelete, S::RenderRelease, S::Release, S::Create,
        S::ObjectsInit, S::ObjectsRestore},
       true,
       false},
      {"restoration fails on creation: invalidated, deleted, released, retried",
       true,
       S::ObjectsRestore,
       {S::Create, S::ObjectsInit, S::ObjectsRestore, S::ObjectsInvalidate, S::RenderRelease,
        S::ObjectsDelete, S::Release, S::Create, S::ObjectsInit, S::ObjectsRestore},
       true,
       false},
      {"restoration fails after a reset: invalidated again",
       false,
       S::ObjectsRestore,
       {S::ObjectsInvalidate, S::RenderRelease, S::Reset, S::ObjectsRestore, S::ObjectsInvalidate},
       false,
       false},
      {"the device refuses the reset: lost until a reset succeeds",
       false,
       S::Reset,
       {S::ObjectsInvalidate, S::RenderRelease, S::Reset},
       false,
       true},
  };
  for (const Case& c : cases) {
    StartedLibrary s;
    ASSERT_TRUE(s.started);
    script::TakeShownMessageBoxes();
    if (c.create) {
      s.library.CleanupDevice();
      s.TakeSteps();
    }
    s.FailNext(c.failing, E_FAIL);
    HRESULT hr = c.create ? s.library.CreateDevice() : s.library.ResetDevice();
    EXPECT_EQ(s.TakeSteps(), c.expected) << c.what;
    EXPECT_EQ(s.library.DeviceObjectsRestored(), c.restored) << c.what;
    EXPECT_EQ(s.library.StatisticsFont()->VertexBuffer() != nullptr, c.restored) << c.what;
    EXPECT_EQ(s.library.DeviceLost(), c.lost) << c.what;
    if (c.create) {
      // The retry on the reference rasteriser succeeds and says so.
      EXPECT_EQ(hr, 0) << c.what;
      EXPECT_EQ(s.library.Device()->DeviceType(), D3DDEVTYPE_REF) << c.what;
      auto boxes = script::TakeShownMessageBoxes();
      ASSERT_EQ(boxes.size(), 1u) << c.what;
      EXPECT_EQ(boxes[0].text, DeviceErrorMessage(E_FAIL, 2)) << c.what;
    } else {
      EXPECT_EQ(hr, E_FAIL) << c.what;
    }
  }
}

TEST_F(WindowDevice, HardwareFailuresRetryOnTheReferenceRasteriserOnce) {
  struct Case {
    HRESULT code;
    bool referenceAvailable;
    bool retried;
  } cases[] = {
      {D3DERR_OUTOFVIDEOMEMORY, true, true},   {E_FAIL, true, true},
      {D3DAPPERR_MEDIANOTFOUND, true, false},  {HRESULT_FILE_NOT_FOUND, true, false},
      {D3DERR_OUTOFVIDEOMEMORY, false, false},
  };
  for (const Case& c : cases) {
    d3d::DeviceProfile p;
    d3d::ProfileByName("fixed", p);
    p.failHalDevice = c.code;
    p.referenceAvailable = c.referenceAvailable;
    d3d::SetProfile(p);
    StartedLibrary s;
    auto boxes = script::TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << std::hex << c.code;
    EXPECT_EQ(s.started, c.retried) << std::hex << c.code;
    if (c.retried) {
      EXPECT_EQ(boxes[0].text, DeviceErrorMessage(c.code, 2));
      EXPECT_EQ(boxes[0].type, MB_ICONWARNING);
      EXPECT_EQ(s.library.Device()->DeviceType(), D3DDEVTYPE_REF);
      EXPECT_TRUE(s.library.Windowed());
    } else {
      EXPECT_EQ(boxes[0].text, DeviceErrorMessage(c.code, 1));
      EXPECT_EQ(boxes[0].type, MB_ICONERROR);
      EXPECT_EQ(s.library.MainWindow(), nullptr);
    }
  }
}

TEST_F(WindowDevice, SizingHoldsSixteenByNineByWindowsVersionAndResizesTheBackBuffer) {
  // Outer width 1000: trunc(1006 x 0.5625 + 46) = 611, then the version's frame allowance.
  struct Case {
    int32_t winVer;
    int height;
  } cases[] = {{7, 612}, {6, 611}, {5, 612}, {4, 603}, {3, 603}, {1, 603}, {0, 603}};
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  for (const Case& c : cases) {
    s.library.SetWinVerForTesting(c.winVer);
    MoveWindow(s.library.MainWindow(), 10, 20, 1000, 500, true);
    const RECT expected{10, 20, 1010, 20 + c.height};
    EXPECT_EQ(s.WindowRect(), expected) << "WinVer " << c.winVer;
    // The back buffer follows the client area: 16 and 58 pixels of frame, caption and menu.
    EXPECT_EQ(s.library.PresentParameters().BackBufferWidth, 984u);
    EXPECT_EQ(s.library.PresentParameters().BackBufferHeight, uint32_t(c.height - 58));
    EXPECT_EQ(s.library.WindowWidth(), 984);
    EXPECT_EQ(s.library.WindowHeight(), c.height - 58);
    EXPECT_EQ(s.library.Device()->PresentParameters().BackBufferHeight, uint32_t(c.height - 58));
    EXPECT_EQ(s.library.PauseCount(), 0);
  }
  // A message of the same size resets nothing.
  s.TakeSteps();
  s.Send(WM_SIZE, SIZE_RESTORED);
  EXPECT_TRUE(s.TakeSteps().empty());
}

TEST_F(WindowDevice, MinimisedSizingAdjustsTheHeightButDoesNotReset) {
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  Settle(s);
  const RECT before = s.WindowRect();
  const uint32_t resets = s.library.Device()->ResetCount();
  ShowWindow(s.library.MainWindow(), SW_MINIMIZE);
  // The 160-pixel caption: trunc(166 x 0.5625 + 46) + 1 = 140.
  RECT r = s.WindowRect();
  EXPECT_EQ(r.bottom - r.top, 140);
  EXPECT_EQ(s.library.Device()->ResetCount(), resets);
  EXPECT_TRUE(s.TakeSteps().empty());
  EXPECT_EQ(s.library.PresentParameters().BackBufferWidth, 1280u);
  ShowWindow(s.library.MainWindow(), SW_RESTORE);
  EXPECT_EQ(s.WindowRect(), before);
  EXPECT_EQ(s.library.Device()->ResetCount(), resets);
}

TEST_F(WindowDevice, ToggleThereAndBackRestoresPlacementStyleAndMenu) {
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  Settle(s);
  HWND w = s.library.MainWindow();
  const RECT before = s.WindowRect();
  const HMENU menu = GetMenu(w);
  ASSERT_NE(menu, nullptr);
  const std::vector<S> reset = {S::ObjectsInvalidate, S::RenderRelease, S::Reset,
                                S::ObjectsRestore};

  EXPECT_EQ(s.Send(WM_COMMAND, 40003), 0);
  EXPECT_FALSE(s.library.Windowed());
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), kFullScreenStyle);
  EXPECT_EQ(GetMenu(w), nullptr);
  EXPECT_FALSE(s.library.PresentParameters().Windowed);
  EXPECT_EQ(s.library.PresentParameters().BackBufferWidth, 1920u);
  EXPECT_EQ(s.library.PresentParameters().BackBufferHeight, 1080u);
  EXPECT_EQ(s.library.WindowWidth(), 1920);
  EXPECT_EQ(s.library.WindowHeight(), 1080);
  RECT clip;
  GetClipCursor(&clip);
  EXPECT_EQ(clip, s.WindowRect());
  EXPECT_EQ(s.TakeSteps(), reset);
  EXPECT_EQ(s.library.PauseCount(), 0);
  // The display takes the whole screen, as a full-screen device does with its window; sizing
  // in full screen changes nothing.
  SetWindowPos(w, nullptr, 0, 0, 1920, 1080, SWP_NOZORDER);
  EXPECT_EQ(s.WindowRect(), (RECT{0, 0, 1920, 1080}));
  EXPECT_TRUE(s.TakeSteps().empty());

  EXPECT_EQ(s.Send(WM_COMMAND, 40003), 0);
  EXPECT_TRUE(s.library.Windowed());
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), kWindowedStyle);
  EXPECT_EQ(GetMenu(w), menu);
  EXPECT_EQ(s.WindowRect(), before);
  EXPECT_EQ(s.library.PresentParameters().BackBufferWidth, 1280u);
  EXPECT_EQ(s.library.PresentParameters().BackBufferHeight, 721u);
  EXPECT_EQ(s.library.WindowHeight(), 721);
  GetClipCursor(&clip);
  EXPECT_EQ(clip, (RECT{0, 0, 1920, 1080}));  // released
  EXPECT_EQ(s.TakeSteps(), reset);
  EXPECT_EQ(s.library.PauseCount(), 0);
}

TEST_F(WindowDevice, ToggleToAnotherDeviceTypeCreatesTheDeviceAnew) {
  // The hardware device fails: windowed runs on the reference device, full screen would need
  // the hardware one, whose creation fails again and falls back to windowed.
  LibraryEnvironment::Profile([](d3d::DeviceProfile& p) { p.failHalDevice = E_FAIL; });
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  script::TakeShownMessageBoxes();
  s.Send(WM_COMMAND, 40003);
  EXPECT_EQ(s.TakeSteps(),
            (std::vector<S>{S::RenderRelease, S::ObjectsInvalidate, S::ObjectsDelete, S::Release,
                            S::Create, S::Create, S::ObjectsInit, S::ObjectsRestore}));
  auto boxes = script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, DeviceErrorMessage(E_FAIL, 2));
  EXPECT_TRUE(s.library.Windowed());
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(s.library.MainWindow(), GWL_STYLE)), kWindowedStyle);
  EXPECT_EQ(s.library.PauseCount(), 0);
}

TEST_F(WindowDevice, FailedResetsAreFatalAndKeepThePauseBalanced) {
  struct Case {
    const char* what;
    bool toggle;  // else a resize
    HRESULT code;
    const char* message;
  } cases[] = {
      {"toggle", true, E_FAIL, "Could not reset the Direct3D device."},
      {"toggle, video memory", true, D3DERR_OUTOFVIDEOMEMORY, "Not enough video memory."},
      {"resize", false, E_FAIL, "Could not reset the Direct3D device."},
      {"resize, video memory", false, D3DERR_OUTOFVIDEOMEMORY, "Not enough video memory."},
  };
  for (const Case& c : cases) {
    StartedLibrary s;
    ASSERT_TRUE(s.started);
    s.FailNext(S::Reset, c.code);
    if (c.toggle) {
      s.Send(WM_COMMAND, 40003);
    } else {
      MoveWindow(s.library.MainWindow(), 0, 0, 1000, 500, true);
    }
    auto boxes = script::TakeShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << c.what;
    EXPECT_EQ(boxes[0].text, c.message) << c.what;
    EXPECT_EQ(boxes[0].type, MB_ICONERROR) << c.what;
    EXPECT_EQ(s.library.MainWindow(), nullptr) << c.what;
    EXPECT_EQ(s.library.Device(), nullptr) << c.what;
    EXPECT_TRUE(s.library.Windowed()) << c.what;
    EXPECT_EQ(s.library.PauseCount(), 0) << c.what;
    testing::DrainMessageQueue();
  }
}

TEST_F(WindowDevice, DeviceSelectionDialogAnsweredByTheScript) {
  using namespace resources;
  struct Case {
    const char* what;
    bool answered;
    script::DialogAnswer answer;
    bool recreated, windowed;
    D3DDEVTYPE type;
  } cases[] = {
      {"no answer cancels", false, {}, false, true, D3DDEVTYPE_HAL},
      {"cancel ignores the changes",
       true,
       {IDCANCEL, {{kDevDlgFullScreen, 1}}},
       false,
       true,
       D3DDEVTYPE_HAL},
      {"accept as it is", true, {IDOK, {}}, true, true, D3DDEVTYPE_HAL},
      {"reference device", true, {IDOK, {{kDevDlgDevice, 1}}}, true, true, D3DDEVTYPE_REF},
      {"full screen", true, {IDOK, {{kDevDlgFullScreen, 1}}}, true, false, D3DDEVTYPE_HAL},
  };
  for (const Case& c : cases) {
    StartedLibrary s;
    ASSERT_TRUE(s.started);
    if (c.answered) script::PushDialogAnswer(c.answer);
    EXPECT_EQ(s.Send(WM_COMMAND, 40002), 0);
    auto shown = script::TakeShownDialogs();
    ASSERT_EQ(shown.size(), 1u) << c.what;
    EXPECT_EQ(shown[0].resourceId, 144);
    EXPECT_EQ(shown[0].title, Utf8ToCp932("解像度変更"));
    EXPECT_EQ(shown[0].owner, s.library.MainWindow());
    const DialogValues& v = shown[0].values;
    EXPECT_EQ(v.items.at(kDevDlgAdapter), std::vector<std::string>{"WZ Headless Display Adapter"});
    EXPECT_EQ(v.items.at(kDevDlgDevice),
              (std::vector<std::string>{"D3DDEVTYPE_HAL", "D3DDEVTYPE_REF"}));
    EXPECT_EQ(v.items.at(kDevDlgMode), std::vector<std::string>{"1920 x 1080, 60 Hz"});
    EXPECT_EQ(v.values.at(kDevDlgDevice), 0);
    EXPECT_EQ(v.values.at(kDevDlgWindowed), 1);
    EXPECT_EQ(v.values.at(kDevDlgFullScreen), 0);

    ASSERT_NE(s.library.Device(), nullptr) << c.what;
    const std::vector<S> recreate = {
        S::RenderRelease, S::ObjectsInvalidate, S::ObjectsDelete, S::Release,
        S::Create,        S::ObjectsInit,       S::ObjectsRestore};
    EXPECT_EQ(s.TakeSteps(), c.recreated ? recreate : std::vector<S>{}) << c.what;
    EXPECT_EQ(s.library.Windowed(), c.windowed) << c.what;
    EXPECT_EQ(s.library.Device()->DeviceType(), c.type) << c.what;
    EXPECT_EQ(s.library.PresentParameters().BackBufferWidth, c.windowed ? 1280u : 1920u);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(s.library.MainWindow(), GWL_STYLE)),
              c.windowed ? kWindowedStyle : kFullScreenStyle)
        << c.what;
    EXPECT_EQ(s.library.PauseCount(), 0) << c.what;
    EXPECT_TRUE(script::TakeShownMessageBoxes().empty()) << c.what;
  }
}

TEST_F(WindowDevice, DeviceSelectionFromFullScreenGoesWindowedFirstAndBackRestoresThePlacement) {
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  Settle(s);
  const RECT before = s.WindowRect();
  script::PushDialogAnswer({IDOK, {{resources::kDevDlgFullScreen, 1}}});
  s.Send(WM_COMMAND, 40002);
  ASSERT_FALSE(s.library.Windowed());
  SetWindowPos(s.library.MainWindow(), nullptr, 0, 0, 1920, 1080, SWP_NOZORDER);
  // Shown again from full screen: the switch back to windowed comes before the dialog.
  s.Send(WM_COMMAND, 40002);
  EXPECT_EQ(script::TakeShownDialogs().size(), 2u);
  EXPECT_TRUE(s.library.Windowed());
  EXPECT_EQ(s.WindowRect(), before);
  EXPECT_EQ(s.library.PauseCount(), 0);
}

TEST_F(WindowDevice, PaintPresentsOnlyWhilePausedWindowedAndRestored) {
  enum Setup { kActive, kPaused, kFullScreen, kNotRestored, kLost, kNoDevice };
  struct Case {
    const char* what;
    Setup setup;
    bool presents;
  } cases[] = {
      {"active: frames are drawn elsewhere", kActive, false},
      {"paused and windowed", kPaused, true},
      {"paused in full screen", kFullScreen, false},
      {"device objects not restored", kNotRestored, false},
      {"lost device: reset first, then drawn", kLost, true},
      {"no device", kNoDevice, false},
  };
  for (const Case& c : cases) {
    StartedLibrary s;
    ASSERT_TRUE(s.started);
    s.library.Rendering().background[2] = 0x80;
    s.library.Rendering().fadeLevel = 1.0f;  // no black cover over the frame
    s.library.RenderFrame();                 // the last frame, blue
    const uint32_t presents = s.library.Device()->PresentCount();
    switch (c.setup) {
      case kActive:
        break;
      case kFullScreen:
        s.library.SetWindowedForTesting(false);
        break;
      case kNotRestored:
        s.FailNext(S::ObjectsRestore, E_FAIL);
        s.library.ResetDevice();
        break;
      case kLost:
        s.FailNext(S::Reset, E_FAIL);
        s.library.ResetDevice();
        break;
      case kNoDevice:
        s.library.CleanupDevice();
        break;
      default:
        break;
    }
    if (c.setup != kActive) s.library.Pause(true);
    s.library.Rendering().background[0] = 0xFF;
    s.TakeSteps();
    s.Send(WM_PAINT);
    if (c.setup == kNoDevice) {
      EXPECT_EQ(s.library.Device(), nullptr);
      continue;
    }
    EXPECT_EQ(s.library.Device()->PresentCount() - presents, c.presents ? 1u : 0u) << c.what;
    if (c.setup == kPaused) {
      // The frame function draws nothing while the library is paused: the last frame is shown.
      EXPECT_EQ(s.library.Device()->ReadBackBuffer().front(), 0xFF000080u);
    }
    if (c.setup == kLost) {
      EXPECT_EQ(s.TakeSteps(), (std::vector<S>{S::RenderRelease, S::Reset, S::ObjectsRestore}));
      EXPECT_FALSE(s.library.DeviceLost());
    }
    if (c.setup == kFullScreen) s.library.SetWindowedForTesting(true);
  }
}

TEST_F(WindowDevice, CloseReleasesEverythingAndPostsQuit) {
  struct Case {
    const char* what;
    UINT msg;
    WPARAM wParam;
    bool fullScreen;
  } cases[] = {
      {"WM_CLOSE", WM_CLOSE, 0, false},
      {"exit command", WM_COMMAND, 40006, false},
      {"WM_CLOSE in full screen", WM_CLOSE, 0, true},
  };
  for (const Case& c : cases) {
    StartedLibrary s;
    ASSERT_TRUE(s.started);
    if (c.fullScreen) s.Send(WM_COMMAND, 40003);
    s.TakeSteps();
    HWND w = s.library.MainWindow();
    EXPECT_EQ(s.Send(c.msg, c.wParam), 0) << c.what;
    EXPECT_EQ(s.TakeSteps(), (std::vector<S>{S::RenderRelease, S::ObjectsInvalidate,
                                             S::ObjectsDelete, S::Release}))
        << c.what;
    EXPECT_EQ(s.library.Device(), nullptr);
    EXPECT_EQ(s.library.D3D(), nullptr);
    EXPECT_EQ(s.library.StatisticsFont(), nullptr);
    EXPECT_EQ(s.library.MainWindow(), nullptr);
    EXPECT_FALSE(IsWindow(w));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << c.what;
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
  }
}

TEST_F(WindowDevice, MousePositionsAboveTenThousandAreNegative) {
  struct Case {
    uint32_t x, y;
    int storedX, storedY;
  } cases[] = {
      {65535, 0, 0, 0},         {65534, 3, -1, 3}, {10001, 10000, -55534, 10000},
      {10000, 65535, 10000, 0}, {525, 0, 525, 0},
  };
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  for (const Case& c : cases) {
    s.Send(WM_MOUSEMOVE, 0, Point(c.x, c.y));
    EXPECT_EQ(s.library.MouseX(), c.storedX) << c.x;
    EXPECT_EQ(s.library.MouseY(), c.storedY) << c.y;
  }
  struct Button {
    UINT down, up;
    int index;
  } buttons[] = {{WM_LBUTTONDOWN, WM_LBUTTONUP, 0},
                 {WM_RBUTTONDOWN, WM_RBUTTONUP, 1},
                 {WM_MBUTTONDOWN, WM_MBUTTONUP, 2}};
  for (const Button& b : buttons) {
    s.Send(b.down, 0, Point(65535, 7));
    EXPECT_TRUE(s.library.MouseButton(b.index));
    EXPECT_EQ(GetCapture(), s.library.MainWindow());
    EXPECT_EQ(s.library.MouseX(), 0);
    s.Send(b.up, 0, Point(4, 5));
    EXPECT_FALSE(s.library.MouseButton(b.index));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(s.library.MouseY(), 5);
  }
}

TEST_F(WindowDevice, FullScreenAnswersForTheSystem) {
  struct Case {
    UINT msg;
    WPARAM wParam;
    LRESULT windowed, fullScreen;
  } cases[] = {
      {WM_SYSCOMMAND, SC_MOVE, 0, 1},
      {WM_SYSCOMMAND, SC_SIZE | 0x8, 0, 1},  // the low bits are the system's own
      {WM_SYSCOMMAND, SC_MAXIMIZE, 0, 1},
      {WM_SYSCOMMAND, SC_KEYMENU, 0, 1},
      {WM_SYSCOMMAND, SC_MONITORPOWER, 0, 1},
      {WM_SYSCOMMAND, 0xF060, 0, 0},  // close goes on as usual
      {WM_SETCURSOR, 0, 0, 1},
      {WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 1, 1},
      {WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 1, 1},
      {WM_POWERBROADCAST, 4, 0, 0},
  };
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  s.library.ShowCursorFullScreenSet(true);
  for (bool fullScreen : {false, true}) {
    if (fullScreen) {
      s.TakeSteps();
      s.Send(WM_COMMAND, 40003);
      ASSERT_FALSE(s.library.Windowed());
      // The reset into full screen shows the device cursor before the objects are restored.
      EXPECT_EQ(s.TakeSteps(), (std::vector<S>{S::ObjectsInvalidate, S::RenderRelease, S::Reset,
                                               S::CursorShow, S::ObjectsRestore}));
    }
    for (const Case& c : cases) {
      SetCursor(LoadCursorA(nullptr, IDC_ARROW));
      s.TakeSteps();
      EXPECT_EQ(s.Send(c.msg, c.wParam), fullScreen ? c.fullScreen : c.windowed)
          << std::hex << c.msg << " " << c.wParam << (fullScreen ? " full screen" : "");
      if (c.msg == WM_SETCURSOR) {
        // In full screen the window's cursor is hidden and the device's shown.
        EXPECT_EQ(GetCursor() == nullptr, fullScreen);
        EXPECT_EQ(s.TakeSteps() == std::vector<S>{S::CursorShow}, fullScreen);
      }
    }
  }
  // While paused (a menu loop) the cursor is left alone.
  s.Send(WM_ENTERMENULOOP);
  EXPECT_EQ(s.library.PauseCount(), 1);
  EXPECT_EQ(s.Send(WM_SETCURSOR), 0);
  s.Send(WM_EXITMENULOOP);
  EXPECT_EQ(s.library.PauseCount(), 0);
}

TEST_F(WindowDevice, MinimumTrackingSizeAndKeys) {
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  MINMAXINFO info{};
  info.ptMinTrackSize = {1, 2};
  info.ptMaxTrackSize = {3000, 2000};
  s.Send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 100);
  EXPECT_EQ(info.ptMinTrackSize.y, 100);
  EXPECT_EQ(info.ptMaxTrackSize.x, 3000);
  s.Send(WM_KEYDOWN, 0x41);
  s.Send(WM_KEYDOWN, 0x1B);
  EXPECT_EQ(s.library.Keys()[0x41], 1);
  s.Send(WM_KEYUP, 0x41);
  EXPECT_EQ(s.library.Keys()[0x41], 0);
  EXPECT_EQ(s.library.Keys()[0x1B], 1);
}

TEST_F(WindowDevice, FrameMovingAndSingleStepDriveTheTimer) {
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  int64_t now = 0;
  s.library.SetCounterForTesting(
      [&now](int64_t& t) {
        t = now;
        return true;
      },
      1000);
  s.library.FrameTimer(0);
  now = 100;
  // A single step stops a moving timer...
  s.Send(WM_COMMAND, 40005);
  EXPECT_FALSE(s.library.FrameMoving());
  EXPECT_TRUE(s.library.SingleStep());
  now = 500;
  EXPECT_FLOAT_EQ(s.library.FrameTimer(5), 0.1f);
  // ...and advances a stopped one by a tenth of a second.
  s.Send(WM_COMMAND, 40005);
  EXPECT_FLOAT_EQ(s.library.FrameTimer(5), 0.2f);
  // Frame moving on again: the time goes on from there.
  s.Send(WM_COMMAND, 40004);
  EXPECT_TRUE(s.library.FrameMoving());
  now = 800;
  EXPECT_FLOAT_EQ(s.library.FrameTimer(5), 0.5f);
  s.Send(WM_COMMAND, 40004);
  EXPECT_FALSE(s.library.FrameMoving());
  now = 2000;
  EXPECT_FLOAT_EQ(s.library.FrameTimer(5), 0.5f);
  s.library.SetCounterForTesting(nullptr, 0);
}

TEST_F(WindowDevice, MovieNotificationRestartsOrStopsTheMovie) {
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  s.Send(WM_NULL, 0, 525);  // no movie: nothing to do
  s.library.MutableSound()->movie = std::make_unique<sound::Movie>();
  sound::Movie& movie = *s.library.MutableSound()->movie;
  movie.playing = true;
  s.library.MovieLoopSet(true);
  s.Send(WM_NULL, 0, 525);
  EXPECT_TRUE(movie.playing);
  EXPECT_EQ(movie.restarts, 1u);
  s.Send(WM_NULL, 0, 524);
  EXPECT_EQ(movie.restarts, 1u);
  s.library.MovieLoopSet(false);
  s.Send(WM_MOUSEMOVE, 0, 525);  // any message: the mouse position is still taken
  EXPECT_FALSE(movie.playing);
  EXPECT_EQ(movie.restarts, 1u);
  EXPECT_EQ(s.library.MouseX(), 525);
}

}  // namespace
}  // namespace wz
