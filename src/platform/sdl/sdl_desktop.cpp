// The SDL2 desktop window system: one SDL window with an OpenGL 3.3 core context per window the
// device draws into, its events turned into window messages, and message boxes on the display.
#include <SDL.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/gl/gl_context.h"
#include "platform/gl/window_blit.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"

namespace wz::platform::desktop {
namespace {

// SDL2 is opened when the desktop starts, not linked: a program that never opens a window does
// not load it and the forty libraries behind it (sound servers, X, Wayland, D-Bus), which would
// cost more start-up time than a whole small conversion.
#define WZ_SDL_FUNCTIONS(X)    \
  X(SDL_CreateWindow)          \
  X(SDL_DestroyWindow)         \
  X(SDL_EventState)            \
  X(SDL_GL_CreateContext)      \
  X(SDL_GL_DeleteContext)      \
  X(SDL_GL_GetDrawableSize)    \
  X(SDL_GL_MakeCurrent)        \
  X(SDL_GL_SetAttribute)       \
  X(SDL_GL_SetSwapInterval)    \
  X(SDL_GL_SwapWindow)         \
  X(SDL_GetDesktopDisplayMode) \
  X(SDL_GetError)              \
  X(SDL_GetMouseState)         \
  X(SDL_GetWindowGrab)         \
  X(SDL_GetWindowID)           \
  X(SDL_Init)                  \
  X(SDL_PollEvent)             \
  X(SDL_Quit)                  \
  X(SDL_SetHint)               \
  X(SDL_SetWindowFullscreen)   \
  X(SDL_SetWindowGrab)         \
  X(SDL_SetWindowSize)         \
  X(SDL_SetWindowTitle)        \
  X(SDL_ShowCursor)            \
  X(SDL_ShowMessageBox)        \
  X(SDL_WaitEventTimeout)      \
  X(SDL_free)

struct SdlApi {
#define WZ_SDL_POINTER(name) decltype(&::name) name = nullptr;
  WZ_SDL_FUNCTIONS(WZ_SDL_POINTER)
#undef WZ_SDL_POINTER
  void* handle = nullptr;
};
SdlApi sdl;

// Opens the SDL2 library and finds every function the desktop calls; false with the reason when
// the library or one of them is missing.
bool LoadSdl(std::string* why) {
  if (sdl.handle) return true;
  void* handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (why) *why = dlerror();
    return false;
  }
  SdlApi api;
  const char* missing = nullptr;
#define WZ_SDL_FIND(name)                                                \
  api.name = reinterpret_cast<decltype(api.name)>(dlsym(handle, #name)); \
  if (!api.name && !missing) missing = #name;
  WZ_SDL_FUNCTIONS(WZ_SDL_FIND)
#undef WZ_SDL_FIND
  if (missing) {
    if (why) *why = std::string("libSDL2-2.0.so.0 has no ") + missing;
    dlclose(handle);
    return false;
  }
  api.handle = handle;
  sdl = api;
  return true;
}

constexpr WPARAM kWheelDelta = 120;
constexpr WPARAM kWaActive = 1;

class SdlContext final : public gl::GlContext {
 public:
  SdlContext(SDL_Window* window, SDL_GLContext context) : window_(window), context_(context) {}
  ~SdlContext() override { sdl.SDL_GL_DeleteContext(context_); }
  bool MakeCurrent() override { return sdl.SDL_GL_MakeCurrent(window_, context_) == 0; }
  void ShowFrame(unsigned texture, int width, int height) override {
    int w = 0, h = 0;
    sdl.SDL_GL_GetDrawableSize(window_, &w, &h);
    gl::BlitFrameToWindow(texture, width, height, w, h);
    sdl.SDL_GL_SwapWindow(window_);
  }
  std::string Description() const override { return "SDL2 window"; }

 private:
  SDL_Window* window_;
  SDL_GLContext context_;
};

struct DesktopWindow {
  HWND hwnd = nullptr;
  SDL_Window* window = nullptr;
  std::unique_ptr<SdlContext> context;
  int width = 0, height = 0;  // the client size last given to the SDL window
  std::string title;
  bool fullScreen = false;
  bool cursorShown = true;
  ~DesktopWindow() {
    context.reset();
    if (window) sdl.SDL_DestroyWindow(window);
  }
};

struct Desktop {
  bool started = false;
  std::map<HWND, std::unique_ptr<DesktopWindow>> windows;
  std::vector<std::string> dropping;  // library paths of the drop in progress
  HWND dropTarget = nullptr;
};

Desktop& TheDesktop() {
  static Desktop* d = new Desktop;  // lives until the process ends
  return *d;
}

int Width(const RECT& r) {
  return r.right - r.left;
}
int Height(const RECT& r) {
  return r.bottom - r.top;
}

DesktopWindow* Make(HWND hwnd) {
  Desktop& d = TheDesktop();
  if (auto it = d.windows.find(hwnd); it != d.windows.end()) return it->second.get();
  if (!IsWindow(hwnd)) return nullptr;
  RECT client{};
  GetClientRect(hwnd, &client);
  auto w = std::make_unique<DesktopWindow>();
  w->hwnd = hwnd;
  w->width = std::max(Width(client), 1);
  w->height = std::max(Height(client), 1);
  w->title = GetWindowTextA(hwnd);
  sdl.SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  sdl.SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  sdl.SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  sdl.SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  sdl.SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  w->window = sdl.SDL_CreateWindow(Cp932ToUtf8(w->title).c_str(), SDL_WINDOWPOS_CENTERED,
                                   SDL_WINDOWPOS_CENTERED, w->width, w->height,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
  if (!w->window) return nullptr;
  SDL_GLContext context = sdl.SDL_GL_CreateContext(w->window);
  if (!context) return nullptr;
  w->context = std::make_unique<SdlContext>(w->window, context);
  // Frames are paced by the message loop; a swap does not wait for the display as well.
  sdl.SDL_GL_SetSwapInterval(0);
  DesktopWindow* raw = w.get();
  d.windows[hwnd] = std::move(w);
  return raw;
}

HWND WindowOf(Uint32 windowId) {
  for (auto& [hwnd, w] : TheDesktop().windows)
    if (sdl.SDL_GetWindowID(w->window) == windowId) return hwnd;
  return nullptr;
}

// The virtual-key code of an SDL key; 0 for keys the library has no use for.
WPARAM VirtualKey(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return WPARAM('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return WPARAM('0' + (key - SDLK_0));
  if (key >= SDLK_F1 && key <= SDLK_F12) return WPARAM(0x70 + (key - SDLK_F1));
  switch (key) {
    case SDLK_ESCAPE:
      return 0x1B;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 0x0D;
    case SDLK_SPACE:
      return 0x20;
    case SDLK_TAB:
      return 0x09;
    case SDLK_BACKSPACE:
      return 0x08;
    case SDLK_DELETE:
      return 0x2E;
    case SDLK_LEFT:
      return 0x25;
    case SDLK_UP:
      return 0x26;
    case SDLK_RIGHT:
      return 0x27;
    case SDLK_DOWN:
      return 0x28;
    case SDLK_HOME:
      return 0x24;
    case SDLK_END:
      return 0x23;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 0x10;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 0x11;
    case SDLK_LALT:
    case SDLK_RALT:
      return 0x12;
    case SDLK_PERIOD:
      return 0xBE;
    case SDLK_MINUS:
      return 0xBD;
    default:
      return 0;
  }
}

LPARAM Point(int x, int y) {
  return LPARAM((uint32_t(uint16_t(y)) << 16) | uint16_t(x));
}

void Translate(const SDL_Event& e) {
  Desktop& d = TheDesktop();
  switch (e.type) {
    case SDL_WINDOWEVENT: {
      HWND hwnd = WindowOf(e.window.windowID);
      if (!hwnd) return;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          PostMessageA(hwnd, WM_ACTIVATE, kWaActive, 0);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          PostMessageA(hwnd, WM_ACTIVATE, 0, 0);
          break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
          DesktopWindow& w = *d.windows[hwnd];
          if (e.window.data1 == w.width && e.window.data2 == w.height) break;
          w.width = e.window.data1;
          w.height = e.window.data2;
          // The record takes the new client size; its WM_SIZE resets the device.
          RECT outer{}, client{};
          GetWindowRect(hwnd, &outer);
          GetClientRect(hwnd, &client);
          SetWindowPos(hwnd, nullptr, 0, 0, Width(outer) - Width(client) + w.width,
                       Height(outer) - Height(client) + w.height, SWP_NOMOVE | SWP_NOZORDER);
          break;
        }
        default:
          break;
      }
      break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      HWND hwnd = WindowOf(e.key.windowID);
      const WPARAM vk = VirtualKey(e.key.keysym.sym);
      // With Alt held, keys are system keys (Alt+Enter, Alt+F4), as on the desktop it stands for.
      const bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
      const UINT msg = e.type == SDL_KEYDOWN ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN)
                                             : (alt ? WM_SYSKEYUP : WM_KEYUP);
      if (hwnd && vk) PostMessageA(hwnd, msg, vk, 0);
      break;
    }
    case SDL_TEXTINPUT:
      // Typed text as the window's characters: code page 932, one WM_CHAR a byte.
      if (HWND hwnd = WindowOf(e.text.windowID)) {
        for (unsigned char c : Utf8ToCp932(e.text.text))
          PostMessageA(hwnd, WM_CHAR, WPARAM(c), 0);
      }
      break;
    case SDL_MOUSEMOTION:
      if (HWND hwnd = WindowOf(e.motion.windowID))
        PostMessageA(hwnd, WM_MOUSEMOVE, 0, Point(e.motion.x, e.motion.y));
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      HWND hwnd = WindowOf(e.button.windowID);
      if (!hwnd) break;
      const bool down = e.type == SDL_MOUSEBUTTONDOWN;
      UINT msg = 0;
      if (e.button.button == SDL_BUTTON_LEFT) msg = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
      if (e.button.button == SDL_BUTTON_RIGHT) msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
      if (e.button.button == SDL_BUTTON_MIDDLE) msg = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
      if (msg) PostMessageA(hwnd, msg, 0, Point(e.button.x, e.button.y));
      break;
    }
    case SDL_MOUSEWHEEL: {
      HWND hwnd = WindowOf(e.wheel.windowID);
      if (!hwnd || e.wheel.y == 0) break;
      int x = 0, y = 0;
      sdl.SDL_GetMouseState(&x, &y);
      const int16_t delta = int16_t(e.wheel.y * int(kWheelDelta));
      PostMessageA(hwnd, WM_MOUSEWHEEL, WPARAM(uint16_t(delta)) << 16, Point(x, y));
      break;
    }
    case SDL_DROPBEGIN:
      d.dropping.clear();
      d.dropTarget = WindowOf(e.drop.windowID);
      break;
    case SDL_DROPFILE:
      if (e.drop.file) {
        d.dropping.push_back(LibraryPath(e.drop.file));
        sdl.SDL_free(e.drop.file);
      }
      if (!d.dropTarget) d.dropTarget = WindowOf(e.drop.windowID);
      break;
    case SDL_DROPTEXT:
      if (e.drop.file) sdl.SDL_free(e.drop.file);
      break;
    case SDL_DROPCOMPLETE: {
      HWND hwnd = d.dropTarget ? d.dropTarget : WindowOf(e.drop.windowID);
      if (!hwnd && d.windows.size() == 1) hwnd = d.windows.begin()->first;
      if (hwnd && !d.dropping.empty()) {
        PostMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(d.dropping)), 0);
      }
      d.dropping.clear();
      d.dropTarget = nullptr;
      break;
    }
    default:
      break;
  }
}

// Desktop windows follow their records: closed with them, their size, title and full screen.
void Follow() {
  Desktop& d = TheDesktop();
  for (auto it = d.windows.begin(); it != d.windows.end();) {
    DesktopWindow& w = *it->second;
    if (!IsWindow(w.hwnd)) {
      it = d.windows.erase(it);
      continue;
    }
    const std::string title = GetWindowTextA(w.hwnd);
    if (title != w.title) {
      w.title = title;
      sdl.SDL_SetWindowTitle(w.window, Cp932ToUtf8(title).c_str());
    }
    const bool fullScreen = (GetWindowLongA(w.hwnd, GWL_STYLE) & WS_POPUP) != 0;
    if (fullScreen != w.fullScreen) {
      w.fullScreen = fullScreen;
      sdl.SDL_SetWindowFullscreen(w.window, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    }
    RECT client{};
    GetClientRect(w.hwnd, &client);
    if (!fullScreen && !IsIconic(w.hwnd) && Width(client) > 0 && Height(client) > 0 &&
        (Width(client) != w.width || Height(client) != w.height)) {
      w.width = Width(client);
      w.height = Height(client);
      sdl.SDL_SetWindowSize(w.window, w.width, w.height);
    }
    // A cursor confined to less than the screen keeps the pointer in the window.
    RECT clip{};
    GetClipCursor(&clip);
    const bool confined = clip.left > 0 || clip.top > 0 ||
                          clip.right < GetSystemMetrics(SM_CXSCREEN) ||
                          clip.bottom < GetSystemMetrics(SM_CYSCREEN);
    if (confined != (sdl.SDL_GetWindowGrab(w.window) == SDL_TRUE))
      sdl.SDL_SetWindowGrab(w.window, confined ? SDL_TRUE : SDL_FALSE);
    const bool cursorShown = GetCursor() != nullptr;
    if (cursorShown != w.cursorShown) {
      w.cursorShown = cursorShown;
      sdl.SDL_ShowCursor(cursorShown ? SDL_ENABLE : SDL_DISABLE);
    }
    ++it;
  }
}

bool PresentBox(HWND owner, const std::string& text, const std::string& caption, UINT type,
                int& answer) {
  std::vector<SDL_MessageBoxButtonData> buttons;
  const UINT kind = type & 0xF;
  const int defaultIndex = (type & MB_DEFBUTTON3) ? 2 : (type & MB_DEFBUTTON2) ? 1 : 0;
  auto add = [&](int id, const char* label) {
    SDL_MessageBoxButtonData b{};
    b.buttonid = id;
    b.text = label;
    if (int(buttons.size()) == defaultIndex) b.flags = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    buttons.push_back(b);
  };
  if (kind == MB_YESNO || kind == MB_YESNOCANCEL) {
    add(IDYES, "はい");
    add(IDNO, "いいえ");
    if (kind == MB_YESNOCANCEL) add(IDCANCEL, "キャンセル");
  } else {
    add(IDOK, "OK");
    if (kind == MB_OKCANCEL) add(IDCANCEL, "キャンセル");
  }
  // Escape answers Cancel, or No when there is no Cancel.
  for (SDL_MessageBoxButtonData& b : buttons)
    if (b.buttonid == IDCANCEL || (kind == MB_YESNO && b.buttonid == IDNO) || kind == MB_OK)
      b.flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
  const UINT icon = type & 0xF0;
  const std::string utf8Text = Cp932ToUtf8(text), utf8Caption = Cp932ToUtf8(caption);
  SDL_MessageBoxData data{};
  data.flags = icon == MB_ICONERROR     ? SDL_MESSAGEBOX_ERROR
               : icon == MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING
                                        : SDL_MESSAGEBOX_INFORMATION;
  auto it = TheDesktop().windows.find(owner);
  data.window = it != TheDesktop().windows.end() ? it->second->window : nullptr;
  data.title = utf8Caption.c_str();
  data.message = utf8Text.c_str();
  data.numbuttons = int(buttons.size());
  data.buttons = buttons.data();
  int chosen = -1;
  if (sdl.SDL_ShowMessageBox(&data, &chosen) != 0 || chosen < 0) return false;
  answer = chosen;
  return true;
}

// The program's path when it is installed (searched in PATH); empty otherwise.
std::string Installed(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Runs a program (no shell: every argument is passed as it is) and gives the first line it
// writes; false when it fails to start or exits with a non-zero code (a cancelled dialog).
bool RunForLine(const std::vector<std::string>& args, std::string& line) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return false;
  }
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) out.append(buffer, size_t(n));
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  line = out.substr(0, out.find('\n'));
  return !line.empty();
}

// "*.WZP" matches either case on the display's file systems.
std::string Patterns(const std::string& pattern) {
  std::string lower = pattern, upper = pattern;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  return lower == upper ? pattern : lower + " " + upper;
}

// A file dialog of zenity or kdialog, whichever is installed; false when neither is or the user
// cancelled.
bool PresentFileDialog(const OPENFILENAMEA& ofn, bool save, std::string& chosen) {
  std::string start = HostPath(ofn.initialDir.empty() ? GetCurrentDirectoryA() : ofn.initialDir);
  if (!start.empty() && start.back() != '/') start += '/';
  if (!ofn.file.empty()) start += HostPath(ofn.file);
  const std::string title = Cp932ToUtf8(ofn.title);
  std::vector<std::string> args;
  if (std::string zenity = Installed("zenity"); !zenity.empty()) {
    args = {zenity, "--file-selection", "--title=" + title, "--filename=" + start};
    if (save) {
      args.push_back("--save");
      args.push_back("--confirm-overwrite");
    }
    for (const auto& [description, pattern] : ofn.filter)
      args.push_back("--file-filter=" + Cp932ToUtf8(description) + " | " + Patterns(pattern));
  } else if (std::string kdialog = Installed("kdialog"); !kdialog.empty()) {
    std::string filters;
    for (const auto& [description, pattern] : ofn.filter)
      filters += (filters.empty() ? "" : "\n") + Patterns(pattern) + "|" + Cp932ToUtf8(description);
    args = {kdialog, "--title", title, save ? "--getsavefilename" : "--getopenfilename",
            start,   filters};
  } else {
    return false;
  }
  std::string line;
  if (!RunForLine(args, line)) return false;
  chosen = LibraryPath(line);
  return true;
}

}  // namespace

bool FileDialogsAvailable() {
  return !Installed("zenity").empty() || !Installed("kdialog").empty();
}

bool Built() {
  return true;
}

Backend Choose() {
  if (const char* forced = std::getenv("WZ_BACKEND")) {
    if (std::strcmp(forced, "headless") == 0) return Backend::kHeadless;
    if (std::strcmp(forced, "sdl") == 0) return Backend::kSdl;
  }
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland) ? Backend::kSdl : Backend::kHeadless;
}

bool Start(std::string* why) {
  Desktop& d = TheDesktop();
  if (d.started) return true;
  if (!LoadSdl(why)) return false;
  sdl.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (sdl.SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    if (why) *why = sdl.SDL_GetError();
    return false;
  }
  sdl.SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  d.started = true;
  // The library sizes its window and its full-screen mode by the screen.
  SDL_DisplayMode mode;
  if (sdl.SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0)
    SetScreenSize(mode.w, mode.h);
  gl::SetContextProvider([](void* deviceWindow) -> gl::GlContext* {
    DesktopWindow* w = Make(static_cast<HWND>(deviceWindow));
    return w ? w->context.get() : nullptr;
  });
  SetMessageBoxPresenter(PresentBox);
  if (FileDialogsAvailable()) SetFileDialogPresenter(PresentFileDialog);
  return true;
}

void Stop() {
  Desktop& d = TheDesktop();
  if (!d.started) return;
  SetMessageBoxPresenter(nullptr);
  SetFileDialogPresenter(nullptr);
  gl::SetContextProvider(nullptr);
  d.windows.clear();
  d.dropping.clear();
  sdl.SDL_Quit();
  d.started = false;
}

bool Started() {
  return TheDesktop().started;
}

bool Pump(int timeoutMs) {
  if (!TheDesktop().started) return false;
  SDL_Event e;
  bool any = false;
  if (timeoutMs > 0 ? sdl.SDL_WaitEventTimeout(&e, timeoutMs) : sdl.SDL_PollEvent(&e)) {
    Translate(e);
    any = true;
    while (sdl.SDL_PollEvent(&e))
      Translate(e);
  }
  Follow();
  return any;
}

int RefreshRate() {
  SDL_DisplayMode mode;
  if (TheDesktop().started && sdl.SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.refresh_rate > 0)
    return mode.refresh_rate;
  return 60;
}

bool HasWindow(HWND hwnd) {
  return TheDesktop().windows.count(hwnd) != 0;
}

uint32_t WindowId(HWND hwnd) {
  auto it = TheDesktop().windows.find(hwnd);
  return it == TheDesktop().windows.end() ? 0 : sdl.SDL_GetWindowID(it->second->window);
}

}  // namespace wz::platform::desktop
