// The converter's window on the desktop: the message loop that dispatches the window's messages
// and draws a frame at the display's refresh rate, sleeping in between.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "app/converter.h"
#include "core/library.h"
#include "platform/shell.h"

namespace wz {

class GuiSession {
 public:
  GuiSession(Library& library, Converter& converter) : library_(library), converter_(converter) {}
  ~GuiSession();
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;

  // Installs the converter (handler and preview hooks) with the window's close button asking the
  // exit question, as the exit command does.
  void Install();
  // One turn of the loop: waits for the display's events until the next frame is due (or for
  // `maxWaitMs` at most), dispatches every waiting message and draws the frame when it is due.
  // False once the window has closed (WM_QUIT).
  bool Step(int maxWaitMs = 1000);
  // Turns until the window closes; the quit code.
  int Run();
  // Draws and shows one frame of the main window now.
  void DrawFrame();

  int64_t FramesDrawn() const { return frames_; }
  int ExitCode() const { return exitCode_; }

  // The window's menu (MENU_PREVIEW), drawn over the preview: F10 or a right click opens it,
  // Up/Down and the pointer pick an item, Enter or a left click runs its command, Escape or a
  // click outside closes it. Positions are reference coordinates.
  struct Menu {
    bool open = false;
    int selected = 0;
    int x = 0, y = 0;
  };
  const Menu& MenuState() const { return menu_; }
  // Without a file dialog program on the display, a dialog asks for a path in the window: typed
  // text, Backspace, Enter to accept and Escape to cancel. A relative path names a file in the
  // dialog's folder.
  struct Prompt {
    bool open = false;
    bool done = false;
    bool accepted = false;
    std::string title;  // code page 932
    std::string text;   // code page 932
  };
  const Prompt& PromptState() const { return prompt_; }
  static constexpr int kMenuRow = 24;
  static constexpr int kMenuWidth = 470;

 private:
  // Menu handling of a message; true when the message is the menu's alone.
  bool MenuMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
  bool PromptMessage(UINT msg, WPARAM w);
  bool PromptForPath(const platform::OPENFILENAMEA& ofn, std::string& chosen);
  void DrawPrompt();
  void DrawMenu();
  // The item under a pointer position in window pixels; -1 for none.
  int ItemAt(LPARAM l) const;
  Library& library_;
  Converter& converter_;
  std::chrono::steady_clock::time_point nextFrame_{};
  int64_t frames_ = 0;
  int exitCode_ = 0;
  bool quit_ = false;
  Menu menu_;
  Prompt prompt_;
  bool promptInstalled_ = false;
  int32_t rightDownAt_ = -1;  // lparam of the last right-button press
};

// wz-convert gui [--to FORMAT] [FILE]: runs with argv[0] = "gui" on `library` (not started yet).
// Exit code 0 when the window was closed, 1 when no display could be used, 2 for a usage error.
int GuiCommand(Library& library, int argc, char** argv);

}  // namespace wz
