// Windows and messages, headless. A window is a record with a title, a style, a rectangle and a
// window procedure; each thread has a message queue. Sent messages call the procedure at once,
// posted messages wait in the queue of the window's thread until they are taken and dispatched.
// Geometry follows a desktop with an 8-pixel sizing frame, a 22-pixel caption and a 20-pixel
// menu bar.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace wz::platform {

struct WindowRecord;
using HWND = WindowRecord*;
using HMENU = void*;
using HINSTANCE = void*;
using HCURSOR = void*;
using ThreadId = uint32_t;

using RECT = wz::RECT;
struct POINT {
  int32_t x, y;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  uint32_t time;
  POINT pt;
};

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// The record whose address WM_GETMINMAXINFO carries in lparam.
struct MINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
};

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_ENTERMENULOOP = 0x0211;
constexpr UINT WM_EXITMENULOOP = 0x0212;
constexpr UINT WM_POWERBROADCAST = 0x0218;
constexpr UINT WM_DROPFILES = 0x0233;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETCOUNT = 0x018B;

constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;
constexpr LRESULT HTCLIENT = 1;

// WM_SYSCOMMAND commands (the low four bits of wparam are the system's own).
constexpr WPARAM SC_SIZE = 0xF000;
constexpr WPARAM SC_MOVE = 0xF010;
constexpr WPARAM SC_MAXIMIZE = 0xF030;
constexpr WPARAM SC_KEYMENU = 0xF100;
constexpr WPARAM SC_MONITORPOWER = 0xF170;

// WM_POWERBROADCAST events.
constexpr WPARAM PBT_APMQUERYSUSPEND = 0x0000;
constexpr WPARAM PBT_APMRESUMESUSPEND = 0x0007;

// Styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr int GWL_STYLE = -16;
constexpr int GWLP_USERDATA = -21;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int kFrameWidth = 8;
constexpr int kCaptionHeight = 22;
constexpr int kMenuHeight = 20;

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<intptr_t>(-2));

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

struct WNDCLASS {
  UINT style = 0;
  WindowProc proc;
  int iconResource = 0;
  int cursorResource = 0;
  int backgroundBrush = 0;
  std::string menuName;
  std::string className;
};

bool RegisterClassA(const WNDCLASS& wc);
bool IsClassRegistered(const std::string& className);

// Creates a window. x/y/width/height are the outer rectangle in screen coordinates. Sends
// WM_CREATE. Returns nullptr when the class is unknown or WM_CREATE returns -1.
HWND CreateWindowExA(DWORD exStyle, const std::string& className, const std::string& title,
                     DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                     HINSTANCE instance);
// Sends WM_DESTROY and forgets the window. False for a handle that is not a live window.
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
bool PostThreadMessageA(ThreadId thread, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
ThreadId GetCurrentThreadId();

// Waits for a message of the calling thread's queue. Returns 0 for WM_QUIT, 1 otherwise.
int GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Takes a message without waiting. False when the queue is empty.
bool PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
bool TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Number of messages waiting in the calling thread's queue.
size_t PendingMessageCount();

bool GetWindowRect(HWND hwnd, RECT* rect);
bool GetClientRect(HWND hwnd, RECT* rect);
bool SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
bool MoveWindow(HWND hwnd, int x, int y, int width, int height, bool repaint);
bool AdjustWindowRect(RECT* rect, DWORD style, bool menu);
// Minimising moves the window to (-32000, -32000) as a 160 x 28 caption with an empty client
// area and sends WM_SIZE with SIZE_MINIMIZED, as do size changes while it stays minimised;
// restoring puts the earlier rectangle back and sends WM_SIZE with SIZE_RESTORED.
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;
bool ShowWindow(HWND hwnd, int command);
bool IsIconic(HWND hwnd);
intptr_t GetWindowLongA(HWND hwnd, int index);
intptr_t SetWindowLongA(HWND hwnd, int index, intptr_t value);
std::string GetWindowTextA(HWND hwnd);
bool SetWindowTextA(HWND hwnd, const std::string& text);
HMENU GetMenu(HWND hwnd);
bool SetMenu(HWND hwnd, HMENU menu);
// Menus are resources the program registers by number; loading an unregistered number gives null.
struct MenuItem {
  UINT id;
  std::string label;  // code page 932
};
void RegisterMenuResource(int resourceId, std::vector<MenuItem> items);
HMENU LoadMenuA(HINSTANCE instance, int resourceId);
std::vector<MenuItem> MenuItems(HMENU menu);
bool DestroyMenu(HMENU menu);

HWND SetCapture(HWND hwnd);
bool ReleaseCapture();
HWND GetCapture();
// Confines the cursor to a screen rectangle; null releases it.
bool ClipCursor(const RECT* rect);
// The confining rectangle: the screen when the cursor is free.
bool GetClipCursor(RECT* rect);
// Sets the cursor shape (null hides it) and returns the previous one.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
int ShowCursor(bool show);
// The built-in arrow for IDC_ARROW (see platform/gdi.h: GetIconInfo reads it), null for other
// ids. Defined by the GDI stand-in, the same for every window system.
HCURSOR LoadCursorA(HINSTANCE instance, int id);
constexpr int IDC_ARROW = 32512;

void InitCommonControls();

// Screen size: 1920 x 1080 unless set by SetScreenSize or by the environment variable
// WZ_SCREEN ("1024x768").
int GetSystemMetrics(int index);
void SetScreenSize(int width, int height);

// A built-in list-box window class ("LISTBOX") that keeps the strings added with LB_ADDSTRING and
// the selection of LB_SETCURSEL; ListBoxItems reads them back.
std::vector<std::string> ListBoxItems(HWND listBox);

}  // namespace wz::platform
