// The converter's window on a real X display (Xvfb, started by the test; skipped when Xvfb is not
// installed): dropped files are converted, a key press reaches the converter, a frame on the
// screen shows the model the right way up, and closing asks the exit question.
#ifdef WZ_HAVE_SDL

#include "app/gui.h"

#include <SDL.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifdef WZ_TEST_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

#include "platform/d3dx/png_encode.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "resources/converter_resources.h"
#include "support/model_documents.h"
#include "support/started_library.h"

namespace wz {
namespace {

using namespace platform;

using wz::testing::kMqoCube;

std::string FindXvfb() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
    const std::string p = std::string(dir) + "/Xvfb";
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

// An X server of its own for the test, on a display number no other run uses.
class XvfbDisplay {
 public:
  bool Start(std::string* why) {
    const std::string xvfb = FindXvfb();
    if (xvfb.empty()) {
      *why = "Xvfb is not installed";
      return false;
    }
    for (int n = 200 + int(getpid() % 500); n < 1200; n += 7) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (std::filesystem::exists(socket) ||
          std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        continue;
      display_ = ":" + std::to_string(n);
      pid_ = fork();
      if (pid_ == 0) {
        execl(xvfb.c_str(), "Xvfb", display_.c_str(), "-screen", "0", "1920x1080x24", "-nolisten",
              "tcp", static_cast<char*>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (std::filesystem::exists(socket)) return true;
      Stop();
    }
    *why = "Xvfb did not start";
    return false;
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  ~XvfbDisplay() { Stop(); }
  const std::string& Name() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct Shot {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, rows top first
  uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

#ifdef WZ_TEST_X11
// What the X server shows in the rectangle: the window as a person sees it.
Shot Screenshot(const std::string& display, int x, int y, int width, int height) {
  Shot s;
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return s;
  XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, unsigned(width), unsigned(height),
                            AllPlanes, ZPixmap);
  if (image) {
    s.width = width, s.height = height;
    for (int row = 0; row < height; ++row)
      for (int col = 0; col < width; ++col)
        s.pixels.push_back(0xFF000000u | uint32_t(XGetPixel(image, col, row) & 0xFFFFFF));
    XDestroyImage(image);
  }
  XCloseDisplay(d);
  return s;
}
#endif

class Gui : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    // The desktop libraries SDL loads (D-Bus, the X and GL client libraries, some unloaded again
    // before exit) keep allocations to the end that the leak checker cannot name: what this
    // thread allocates during a desktop test is left out of the leak check.
    __lsan_disable();
#endif
    std::string why;
    if (!xvfb_.Start(&why)) GTEST_SKIP() << "no X display for the desktop test: " << why;
    const char* old = std::getenv("DISPLAY");
    oldDisplay_ = old ? old : "";
    hadDisplay_ = old != nullptr;
    setenv("DISPLAY", xvfb_.Name().c_str(), 1);
    ASSERT_TRUE(desktop::Start(&why)) << why;
    environment_ = std::make_unique<testing::LibraryEnvironment>();
    library_ = std::make_unique<testing::StartedLibrary>();
    ASSERT_TRUE(library_->started);
    converter_ = std::make_unique<Converter>(Lib());
    session_ = std::make_unique<GuiSession>(Lib(), *converter_);
    session_->Install();
    session_->DrawFrame();
  }
  void TearDown() override {
    session_.reset();
    converter_.reset();
    library_.reset();
    environment_.reset();
    desktop::Stop();
    if (hadDisplay_) {
      setenv("DISPLAY", oldDisplay_.c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
  }
  Library& Lib() {
    return library_->library;
  }
  // Turns the loop until `done` holds or five seconds pass.
  template <typename F>
  bool StepUntil(F done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < end) {
      if (!session_->Step(20)) break;
    }
    return done();
  }
  void Push(SDL_Event e) {
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  }
  SDL_Event WindowEvent(Uint8 what) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = desktop::WindowId(Lib().MainWindow());
    e.window.event = what;
    return e;
  }

  void Key(SDL_Keycode key, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = desktop::WindowId(Lib().MainWindow());
    e.key.keysym.sym = key;
    Push(e);
  }
  void Button(Uint8 button, bool down, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = desktop::WindowId(Lib().MainWindow());
    e.button.button = button;
    e.button.x = x, e.button.y = y;
    Push(e);
  }
  // Shows what the screen holds when WZ_RENDER_TEST_DUMP names a folder.
  void KeepScreen(const std::string& name) {
#ifdef WZ_TEST_X11
    const char* keep = std::getenv("WZ_RENDER_TEST_DUMP");
    SDL_Window* window = SDL_GetWindowFromID(desktop::WindowId(Lib().MainWindow()));
    if (!keep || !window) return;
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(window, &x, &y);
    SDL_GetWindowSize(window, &w, &h);
    const Shot shot = Screenshot(xvfb_.Name(), x, y, w, h);
    std::vector<uint8_t> png;
    if (shot.width && d3dx::EncodePng(shot.pixels, uint32_t(w), uint32_t(h), false, png))
      testing::WriteFile(std::string(keep) + "/" + name + ".png",
                         std::string(png.begin(), png.end()));
#else
    (void)name;
#endif
  }

  XvfbDisplay xvfb_;
  std::string oldDisplay_;
  bool hadDisplay_ = false;
  std::unique_ptr<testing::LibraryEnvironment> environment_;
  std::unique_ptr<testing::StartedLibrary> library_;
  std::unique_ptr<Converter> converter_;
  std::unique_ptr<GuiSession> session_;
};

TEST_F(Gui, DroppedFilesAreConvertedAndTheWindowShowsTheModelUpright) {
  HWND main = Lib().MainWindow();
  ASSERT_TRUE(desktop::HasWindow(main));
  const Uint32 id = desktop::WindowId(main);
  SDL_Window* window = SDL_GetWindowFromID(id);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(Cp932ToUtf8(GetWindowTextA(main)), SDL_GetWindowTitle(window));

  testing::TempDir dir;
  testing::WriteFile(dir / "a.mqo", kMqoCube);
  testing::WriteFile(dir / "b.mqo", kMqoCube);
  SDL_Event e{};
  e.type = SDL_DROPBEGIN;
  e.drop.windowID = id;
  Push(e);
  for (const char* name : {"a.mqo", "b.mqo"}) {
    e = SDL_Event{};
    e.type = SDL_DROPFILE;
    e.drop.windowID = id;
    e.drop.file = SDL_strdup((dir / name).c_str());
    Push(e);
  }
  e = SDL_Event{};
  e.type = SDL_DROPCOMPLETE;
  e.drop.windowID = id;
  Push(e);
  e = SDL_Event{};
  e.type = SDL_KEYDOWN;
  e.key.windowID = id;
  e.key.keysym.sym = SDLK_z;
  Push(e);
  ASSERT_TRUE(StepUntil([&] {
    return std::filesystem::exists(dir / "a.WZP") && std::filesystem::exists(dir / "b.WZP") &&
           converter_->State().zHeld;
  }));
  EXPECT_EQ(Lib().Keys()[0x5A], 1);
  ASSERT_NE(converter_->State().currentModel, nullptr);

  // A few frames later the screen shows the cube in the middle, the information lines at the top
  // left and the hint line along the bottom.
  const int64_t frames = session_->FramesDrawn();
  ASSERT_TRUE(StepUntil([&] { return session_->FramesDrawn() >= frames + 3; }));
#ifdef WZ_TEST_X11
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(window, &x, &y);
  SDL_GetWindowSize(window, &w, &h);
  ASSERT_EQ(w, Lib().WindowWidth());
  ASSERT_EQ(h, Lib().WindowHeight());
  const Shot shot = Screenshot(xvfb_.Name(), x, y, w, h);
  ASSERT_EQ(shot.width, w);
  if (const char* keep = std::getenv("WZ_RENDER_TEST_DUMP")) {
    std::vector<uint8_t> png;
    if (d3dx::EncodePng(shot.pixels, uint32_t(w), uint32_t(h), false, png))
      testing::WriteFile(std::string(keep) + "/Gui.screen.png",
                         std::string(png.begin(), png.end()));
  }
  auto red = [](uint32_t p) { return ((p >> 16) & 0xFF) > 150 && ((p >> 8) & 0xFF) < 120; };
  auto ink = [](uint32_t p) { return (p & 0xFF) > 128 && ((p >> 8) & 0xFF) > 128; };
  EXPECT_TRUE(red(shot.At(w / 2, h / 2)));
  // Glyph rows: the top tenth has ink only in its left half, the bottom tenth across the width.
  int topLeft = 0, topRight = 0, bottomLeft = 0, bottomRight = 0;
  for (int row = 0; row < h / 10; ++row) {
    for (int col = 0; col < w; ++col) {
      (col < w / 2 ? topLeft : topRight) += ink(shot.At(col, row));
      (col < w / 2 ? bottomLeft : bottomRight) += ink(shot.At(col, h - 1 - row));
    }
  }
  EXPECT_GT(topLeft, 200);
  EXPECT_EQ(topRight, 0);
  EXPECT_GT(bottomLeft, 200);
  EXPECT_GT(bottomRight, 200);
#endif
}

TEST_F(Gui, TheCloseButtonAsksTheExitQuestion) {
  HWND main = Lib().MainWindow();
  script::SetMessageBoxEcho(false);
  std::vector<ShownMessageBox> boxes;
  auto asked = [&] {
    for (ShownMessageBox& b : script::TakeShownMessageBoxes())
      boxes.push_back(b);
    return !boxes.empty();
  };
  // No keeps the window open; Yes closes it.
  script::PushMessageBoxAnswer(IDNO);
  Push(WindowEvent(SDL_WINDOWEVENT_CLOSE));
  ASSERT_TRUE(StepUntil(asked));
  EXPECT_TRUE(IsWindow(main));
  script::PushMessageBoxAnswer(IDYES);
  Push(WindowEvent(SDL_WINDOWEVENT_CLOSE));
  EXPECT_TRUE(StepUntil([&] { return !IsWindow(main); }));
  asked();
  ASSERT_EQ(boxes.size(), 2u);
  for (const ShownMessageBox& b : boxes) {
    EXPECT_EQ(Cp932ToUtf8(b.text), "終了してもいいですか？");
    EXPECT_EQ(b.caption, Lib().WindowTitle());
    EXPECT_EQ(b.type, UINT(MB_YESNO));
  }
  EXPECT_FALSE(session_->Step(0));  // the loop ends with the window
  desktop::Pump(0);
  EXPECT_FALSE(desktop::HasWindow(main));
}

TEST_F(Gui, AltEnterSwitchesToFullScreenAndBack) {
  SDL_Window* window = SDL_GetWindowFromID(desktop::WindowId(Lib().MainWindow()));
  ASSERT_NE(window, nullptr);
  for (bool full : {true, false}) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = desktop::WindowId(Lib().MainWindow());
    e.key.keysym.sym = SDLK_RETURN;
    e.key.keysym.mod = KMOD_LALT;
    Push(e);
    ASSERT_TRUE(StepUntil([&] { return Lib().Windowed() != full; })) << full;
    session_->Step(20);
    EXPECT_EQ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) ==
                  SDL_WINDOW_FULLSCREEN_DESKTOP,
              full);
  }
  EXPECT_EQ(Lib().WindowWidth(), 1280);
}

TEST_F(Gui, TheMenuRunsItsCommandsByKeyboardAndMouse) {
  const auto& items = resources::MenuPreviewItems();
  ASSERT_EQ(items.back().id, UINT(resources::kCmdExit));
  script::SetMessageBoxEcho(false);
  // F10 opens it; Up from the first item reaches the last, the exit command; Enter runs it.
  Key(SDLK_F10, true);
  Key(SDLK_F10, false);
  ASSERT_TRUE(StepUntil([&] { return session_->MenuState().open; }));
  const int64_t frames = session_->FramesDrawn();
  ASSERT_TRUE(StepUntil([&] { return session_->FramesDrawn() >= frames + 2; }));
  KeepScreen("Gui.menu");
  Key(SDLK_UP, true);
  Key(SDLK_UP, false);
  ASSERT_TRUE(StepUntil([&] { return session_->MenuState().selected == int(items.size()) - 1; }));
  script::PushMessageBoxAnswer(IDNO);
  Key(SDLK_RETURN, true);
  Key(SDLK_RETURN, false);
  std::vector<ShownMessageBox> boxes;
  ASSERT_TRUE(StepUntil([&] {
    for (ShownMessageBox& b : script::TakeShownMessageBoxes())
      boxes.push_back(b);
    return !boxes.empty();
  }));
  EXPECT_EQ(Cp932ToUtf8(boxes[0].text), "終了してもいいですか？");
  EXPECT_FALSE(session_->MenuState().open);
  EXPECT_TRUE(IsWindow(Lib().MainWindow()));

  // A right click opens it at the pointer; a left click on the first item loads the file the
  // open dialog gives.
  testing::TempDir dir;
  testing::WriteFile(dir / "c.mqo", kMqoCube);
  script::PushOpenDialogAnswer(LibraryPath(dir / "c.mqo"));
  Button(SDL_BUTTON_RIGHT, true, 200, 150);
  Button(SDL_BUTTON_RIGHT, false, 200, 150);
  ASSERT_TRUE(StepUntil([&] { return session_->MenuState().open; }));
  const float sx = Lib().Drawing2D().scale.x, sy = Lib().Drawing2D().scale.y;
  EXPECT_EQ(session_->MenuState().x, int(200 / sx));
  Button(SDL_BUTTON_LEFT, true, 210, 150 + int(GuiSession::kMenuRow * sy / 2));
  Button(SDL_BUTTON_LEFT, false, 210, 150 + int(GuiSession::kMenuRow * sy / 2));
  ASSERT_TRUE(StepUntil([&] { return converter_->State().currentModel != nullptr; }));
  EXPECT_EQ(converter_->State().currentModel->polygonCount, 6);
  EXPECT_FALSE(session_->MenuState().open);
  // Escape closes an open menu, not the window.
  Key(SDLK_F10, false);
  ASSERT_TRUE(StepUntil([&] { return session_->MenuState().open; }));
  Key(SDLK_ESCAPE, false);
  ASSERT_TRUE(StepUntil([&] { return !session_->MenuState().open; }));
  for (int i = 0; i < 3; ++i)
    session_->Step(20);
  EXPECT_TRUE(IsWindow(Lib().MainWindow()));
}

TEST_F(Gui, WithoutAFileDialogProgramThePathIsTypedInTheWindow) {
  if (desktop::FileDialogsAvailable()) GTEST_SKIP() << "zenity or kdialog shows the dialogs";
  testing::TempDir dir;
  testing::WriteFile(dir / "typed.mqo", kMqoCube);
  SetCurrentDirectoryA(LibraryPath(dir.path()));
  const Uint32 id = desktop::WindowId(Lib().MainWindow());
  // The prompt waits in its own loop: the typing arrives from another thread meanwhile.
  std::thread typist([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    for (const char* piece : {"typed.m", "qoX"}) {
      SDL_Event e{};
      e.type = SDL_TEXTINPUT;
      e.text.windowID = id;
      std::strncpy(e.text.text, piece, sizeof e.text.text - 1);
      SDL_PushEvent(&e);
    }
    for (SDL_Keycode key : {SDLK_BACKSPACE, SDLK_RETURN}) {
      for (bool down : {true, false}) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = id;
        e.key.keysym.sym = key;
        SDL_PushEvent(&e);
      }
    }
  });
  converter_->State().lastDirectory = LibraryPath(dir.path());
  PostMessageA(Lib().MainWindow(), WM_COMMAND, resources::kCmdLoadAny, 0);
  const bool loaded = StepUntil([&] { return converter_->State().currentModel != nullptr; });
  typist.join();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(converter_->State().currentModel->polygonCount, 6);
  EXPECT_FALSE(session_->PromptState().open);
  EXPECT_EQ(Cp932ToUtf8(session_->PromptState().text), "typed.mqo");
}

}  // namespace
}  // namespace wz

#endif  // WZ_HAVE_SDL
