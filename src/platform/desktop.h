// The desktop window system: shows the program's main window on a real display (SDL2), with its
// OpenGL context and buffer swap, and turns the display's events into the window's messages.
// Without SDL2 in the build, or without a display, the program's windows stay headless.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window.h"

namespace wz::platform::desktop {

// The window system the program uses: WZ_BACKEND=headless or WZ_BACKEND=sdl forces one;
// otherwise SDL2 when the build has it and a display is named (DISPLAY or WAYLAND_DISPLAY).
enum class Backend { kHeadless, kSdl };
Backend Choose();
// Whether the build has the SDL2 backend.
bool Built();

// Connects to the display and installs the OpenGL context provider: the window the device is made
// for gets a desktop window with the record's title and client size when the device first needs
// pixels. False (with the reason) when no display can be used.
bool Start(std::string* why);
// Closes the desktop windows and the connection; the provider is removed.
void Stop();
bool Started();

// Turns the display's waiting events into messages posted to their windows, first waiting up to
// `timeoutMs` milliseconds for one (0: no wait): size, activation, keys, mouse buttons, moves and
// wheel, dropped files (WM_DROPFILES with a drop for DragQueryFileA) and the close button
// (WM_SYSCOMMAND with SC_CLOSE). Desktop windows then follow their records: size, title, full
// screen, cursor; the window of a destroyed record is closed. Returns true when an event came.
bool Pump(int timeoutMs);

// Whether file dialogs can be shown on the display (zenity or kdialog is installed); without
// them the program asks for a path in its own window.
bool FileDialogsAvailable();

// The display's refresh rate in frames per second (60 when it does not say).
int RefreshRate();
// Whether `hwnd` has a desktop window.
bool HasWindow(HWND hwnd);
// The display's id of the desktop window of `hwnd` (SDL's window id); 0 when it has none.
uint32_t WindowId(HWND hwnd);

constexpr WPARAM SC_CLOSE = 0xF060;

}  // namespace wz::platform::desktop
