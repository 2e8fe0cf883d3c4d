// Headless windows, message queues and message boxes.
#include "platform/window.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/dialogs.h"

namespace wz::platform {
namespace {

// Messages other tests of the same process left in this thread's queue.
void DrainQueue() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

struct Recorder {
  std::vector<UINT> messages;
  WNDCLASS Class(const std::string& name) {
    WNDCLASS wc;
    wc.className = name;
    wc.proc = [this](HWND h, UINT m, WPARAM w, LPARAM l) {
      messages.push_back(m);
      return DefWindowProcA(h, m, w, l);
    };
    return wc;
  }
};

TEST(Windows, PostedMessagesWaitForDispatchSentOnesDoNot) {
  DrainQueue();
  Recorder rec;
  RegisterClassA(rec.Class("PostTest"));
  HWND w = CreateWindowExA(0, "PostTest", "t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(rec.messages, std::vector<UINT>{WM_CREATE});
  PostMessageA(w, WM_COMMAND, 1, 0);
  SendMessageA(w, WM_KEYDOWN, 27, 0);
  EXPECT_EQ(rec.messages.back(), WM_KEYDOWN);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  DispatchMessageA(&msg);
  EXPECT_EQ(rec.messages.back(), WM_COMMAND);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  // WM_CLOSE through the default handler destroys the window.
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(rec.messages.back(), WM_DESTROY);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessageA(w, WM_COMMAND, 1, 0));
}

TEST(Windows, GetMessageWakesForAnotherThreadsPostAndEndsOnQuit) {
  DrainQueue();
  ThreadId me = GetCurrentThreadId();
  std::thread other([me] { PostThreadMessageA(me, WM_NULL, 7, 0); });
  MSG msg;
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
  EXPECT_EQ(msg.wParam, 7u);
  other.join();
  PostQuitMessage(3);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST(Windows, GeometryOfFramesAndClientAreas) {
  RECT r{0, 0, 1280, 720};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, true);
  EXPECT_EQ(r.right - r.left, 1280 + 2 * kFrameWidth);
  EXPECT_EQ(r.bottom - r.top, 720 + 2 * kFrameWidth + kCaptionHeight + kMenuHeight);
  Recorder rec;
  RegisterClassA(rec.Class("GeometryTest"));
  HWND w = CreateWindowExA(0, "GeometryTest", "t", WS_OVERLAPPEDWINDOW, 100, 50, 1296, 758, nullptr,
                           nullptr, nullptr);
  RECT client;
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, 1280);
  EXPECT_EQ(client.bottom, 720);
  // Moving without resizing sends no WM_SIZE; resizing does.
  rec.messages.clear();
  MoveWindow(w, 10, 10, 1296, 758, true);
  EXPECT_TRUE(rec.messages.empty());
  MoveWindow(w, 10, 10, 1000, 611, true);
  EXPECT_EQ(rec.messages, std::vector<UINT>{WM_SIZE});
  DestroyWindow(w);
}

TEST(Windows, MinimisedWindowsReportEmptyClientsAndMinimisedSizes) {
  std::vector<WPARAM> sizes;
  WNDCLASS wc;
  wc.className = "MinimiseTest";
  wc.proc = [&sizes](HWND h, UINT m, WPARAM wp, LPARAM l) {
    if (m == WM_SIZE) sizes.push_back(wp);
    return DefWindowProcA(h, m, wp, l);
  };
  RegisterClassA(wc);
  HWND v = CreateWindowExA(0, "MinimiseTest", "t", WS_OVERLAPPEDWINDOW, 100, 50, 1296, 758, nullptr,
                           nullptr, nullptr);
  EXPECT_FALSE(IsIconic(v));
  ShowWindow(v, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(v));
  RECT r, client;
  GetWindowRect(v, &r);
  GetClientRect(v, &client);
  EXPECT_EQ(r.left, -32000);
  EXPECT_EQ(r.right - r.left, 160);
  EXPECT_EQ(client.right, 0);
  // A size change while minimised still says minimised.
  MoveWindow(v, -32000, -32000, 160, 40, true);
  ShowWindow(v, SW_RESTORE);
  GetWindowRect(v, &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.bottom - r.top, 758);
  EXPECT_EQ(sizes, (std::vector<WPARAM>{SIZE_MINIMIZED, SIZE_MINIMIZED, SIZE_RESTORED}));
  DestroyWindow(v);
}

TEST(Cursor, ClipAndShapeAreKept) {
  SetScreenSize(1920, 1080);
  RECT r;
  ClipCursor(nullptr);
  ASSERT_TRUE(GetClipCursor(&r));
  EXPECT_EQ(r.right, 1920);
  EXPECT_EQ(r.bottom, 1080);
  const RECT clip{10, 20, 300, 400};
  ClipCursor(&clip);
  GetClipCursor(&r);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.bottom, 400);
  ClipCursor(nullptr);
  GetClipCursor(&r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 1920);
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  SetCursor(arrow);
  EXPECT_EQ(SetCursor(nullptr), arrow);
  EXPECT_EQ(GetCursor(), nullptr);
}

TEST(MessageBoxes, AnswerFromTheScriptOrTheDefaultButtonAndPumpMessages) {
  script::Reset();
  script::SetMessageBoxEcho(false);
  Recorder rec;
  RegisterClassA(rec.Class("BoxTest"));
  HWND w = CreateWindowExA(0, "BoxTest", "t", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr);
  PostMessageA(w, WM_PAINT, 0, 0);
  script::PushMessageBoxAnswer(IDNO);
  EXPECT_EQ(MessageBoxA(w, "q", "c", MB_YESNO), IDNO);
  // The pending paint was dispatched while the box was open.
  EXPECT_EQ(rec.messages.back(), WM_PAINT);
  EXPECT_EQ(MessageBoxA(w, "q", "c", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxA(w, "q", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBoxA(w, "q", "c", MB_OK), IDOK);
  EXPECT_EQ(script::TakeShownMessageBoxes().size(), 4u);
  script::SetMessageBoxEcho(true);
  DestroyWindow(w);
}

}  // namespace
}  // namespace wz::platform
