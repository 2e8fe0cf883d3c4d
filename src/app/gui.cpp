// The desktop message loop of the converter window and the gui command.
#include "app/gui.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/desktop.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"
#include "render/draw2d.h"
#include "resources/converter_resources.h"

namespace wz {

using namespace platform;

namespace {

constexpr WPARAM kVkReturn = 0x0D;
constexpr WPARAM kVkEscape = 0x1B;
constexpr WPARAM kVkUp = 0x26;
constexpr WPARAM kVkDown = 0x28;
constexpr WPARAM kVkF10 = 0x79;
// The full-screen command of the library's own window menu.
constexpr WPARAM kCmdLibraryFullScreen = 40003;

int LowWord(LPARAM l) {
  return int16_t(uint32_t(l) & 0xFFFF);
}
int HighWord(LPARAM l) {
  return int16_t((uint32_t(l) >> 16) & 0xFFFF);
}

}  // namespace

void GuiSession::Install() {
  converter_.Install();
  library_.SetApplicationHandler(
      [this](HWND hwnd, UINT msg, WPARAM w, LPARAM l, bool& handled) -> LRESULT {
        handled = false;
        // The close button asks before the window goes, as the exit command does.
        if (msg == WM_SYSCOMMAND && (w & 0xFFF0) == desktop::SC_CLOSE) {
          converter_.HandleMessage(hwnd, WM_COMMAND, resources::kCmdExit, 0);
          handled = true;
          return 0;
        }
        // Alt+Enter: the library menu's full-screen switch.
        if (msg == WM_SYSKEYDOWN && w == kVkReturn) {
          PostMessageA(hwnd, WM_COMMAND, kCmdLibraryFullScreen, 0);
          handled = true;
          return 0;
        }
        if (PromptMessage(msg, w) || MenuMessage(hwnd, msg, w, l)) {
          handled = true;
          return 0;
        }
        return converter_.HandleMessage(hwnd, msg, w, l);
      });
  library_.SetOverlayHook([this] {
    PreviewOverlay(library_);
    DrawMenu();
    DrawPrompt();
  });
  if (!desktop::FileDialogsAvailable()) {
    promptInstalled_ = true;
    SetFileDialogPresenter([this](const OPENFILENAMEA& ofn, bool, std::string& chosen) {
      return PromptForPath(ofn, chosen);
    });
  }
}

GuiSession::~GuiSession() {
  if (promptInstalled_) SetFileDialogPresenter(nullptr);
}

bool GuiSession::PromptForPath(const OPENFILENAMEA& ofn, std::string& chosen) {
  if (prompt_.open) return false;  // one at a time
  prompt_ = Prompt{true, false, false, ofn.title, ofn.file};
  while (!prompt_.done && Step(100)) {
  }
  prompt_.open = false;
  if (!prompt_.accepted || prompt_.text.empty()) return false;
  std::string path = Cp932ToUtf8(prompt_.text);
  if (path[0] == '~') {
    const char* home = std::getenv("HOME");
    path = std::string(home ? home : "") + path.substr(1);
  }
  if (path[0] != '/') {
    const std::string dir = ofn.initialDir.empty() ? GetCurrentDirectoryA() : ofn.initialDir;
    path = HostPath(dir) + "/" + path;
  }
  chosen = LibraryPath(path);
  return true;
}

bool GuiSession::PromptMessage(UINT msg, WPARAM w) {
  if (!prompt_.open) return false;
  switch (msg) {
    case WM_CHAR:
      if (w >= 0x20 && w != 0x7F) prompt_.text.push_back(char(w));
      return true;
    case WM_KEYDOWN:
      if (w == 0x08 && !prompt_.text.empty()) {
        // The last character, one or two bytes.
        size_t last = 0;
        for (size_t i = 0; i < prompt_.text.size();) {
          last = i;
          const auto c = static_cast<unsigned char>(prompt_.text[i]);
          i += ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
        }
        prompt_.text.resize(last);
      }
      return true;
    case WM_KEYUP:
      if (w == 0x0D || w == 0x1B) {
        prompt_.done = true;
        prompt_.accepted = w == 0x0D;
      }
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
    case WM_DROPFILES:
      return true;
    default:
      return false;
  }
}

void GuiSession::DrawPrompt() {
  if (!prompt_.open) return;
  const int y = library_.TextScreenHeight() / 2 - 40;
  Vertex2D c[4];
  const int xs[4] = {100, 1180, 1180, 100}, ys[4] = {y, y, y + 80, y + 80};
  for (int k = 0; k < 4; ++k) {
    c[k].x = xs[k], c[k].y = ys[k];
    c[k].red = 24, c[k].green = 28, c[k].blue = 40, c[k].alpha = 240;
  }
  library_.BlendModeSet(0);
  library_.Quad2D(c[0], c[1], c[2], c[3]);
  library_.Rect2D(100, y, 1180, y + 80, 140, 150, 180, 255);
  library_.Text_ColorSet(255, 255, 255, 255);
  library_.Text_Print(112, y + 10, "%s", prompt_.title.c_str());
  library_.Text_Print(112, y + 44, "> %s_", prompt_.text.c_str());
}

int GuiSession::ItemAt(LPARAM l) const {
  const ScaleFactors scale = library_.Drawing2D().scale;
  const int x = int(float(LowWord(l)) / std::max(scale.x, 1e-3f));
  const int y = int(float(HighWord(l)) / std::max(scale.y, 1e-3f));
  const int count = int(resources::MenuPreviewItems().size());
  if (x < menu_.x || x >= menu_.x + kMenuWidth || y < menu_.y) return -1;
  const int row = (y - menu_.y) / kMenuRow;
  return row < count ? row : -1;
}

bool GuiSession::MenuMessage(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  const auto& items = resources::MenuPreviewItems();
  const int count = int(items.size());
  auto choose = [&](int item) {
    menu_.open = false;
    if (item >= 0 && item < count) PostMessageA(hwnd, WM_COMMAND, items[size_t(item)].id, 0);
  };
  if (!menu_.open) {
    if (msg == WM_KEYUP && w == kVkF10) {
      menu_ = Menu{true, 0, 20, 20};
      return true;
    }
    if (msg == WM_RBUTTONDOWN) rightDownAt_ = int32_t(l);
    // A right click that did not drag opens the menu at the pointer; the release still goes on.
    if (msg == WM_RBUTTONUP && rightDownAt_ == int32_t(l)) {
      const ScaleFactors scale = library_.Drawing2D().scale;
      menu_ = Menu{true, 0, int(float(LowWord(l)) / std::max(scale.x, 1e-3f)),
                   int(float(HighWord(l)) / std::max(scale.y, 1e-3f))};
      // Kept on the reference screen.
      menu_.x = std::clamp(menu_.x, 0, std::max(0, 1280 - kMenuWidth));
      menu_.y = std::clamp(menu_.y, 0, std::max(0, library_.TextScreenHeight() - count * kMenuRow));
    }
    return false;
  }
  switch (msg) {
    case WM_KEYDOWN:
      if (w == kVkUp) menu_.selected = (menu_.selected + count - 1) % count;
      if (w == kVkDown) menu_.selected = (menu_.selected + 1) % count;
      return true;
    case WM_KEYUP:
      if (w == kVkReturn) choose(menu_.selected);
      if (w == kVkEscape || w == kVkF10) menu_.open = false;
      return true;
    case WM_MOUSEMOVE:
      if (const int item = ItemAt(l); item >= 0) menu_.selected = item;
      return false;  // the library still follows the pointer
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      return true;
    case WM_LBUTTONUP:
      choose(ItemAt(l));
      return true;
    default:
      return false;
  }
}

void GuiSession::DrawMenu() {
  if (!menu_.open) return;
  const auto& items = resources::MenuPreviewItems();
  auto box = [&](int x1, int y1, int x2, int y2, int r, int g, int b, int a) {
    Vertex2D c[4];
    const int xs[4] = {x1, x2, x2, x1}, ys[4] = {y1, y1, y2, y2};
    for (int k = 0; k < 4; ++k) {
      c[k].x = xs[k], c[k].y = ys[k];
      c[k].red = r, c[k].green = g, c[k].blue = b, c[k].alpha = a;
    }
    library_.BlendModeSet(0);
    library_.Quad2D(c[0], c[1], c[2], c[3]);
  };
  const int x = menu_.x, y = menu_.y;
  const int height = int(items.size()) * kMenuRow;
  box(x, y, x + kMenuWidth, y + height, 24, 28, 40, 235);
  box(x, y + menu_.selected * kMenuRow, x + kMenuWidth, y + (menu_.selected + 1) * kMenuRow, 60, 90,
      170, 255);
  library_.Rect2D(x, y, x + kMenuWidth, y + height, 140, 150, 180, 255);
  library_.Text_ColorSet(255, 255, 255, 255);
  for (size_t i = 0; i < items.size(); ++i)
    library_.Text_Print(x + 10, y + int(i) * kMenuRow + 2, "%s", items[i].label.c_str());
}

void GuiSession::DrawFrame() {
  HWND main = library_.MainWindow();
  if (!main || !IsWindow(main) || IsIconic(main) || !library_.Device()) return;
  if (library_.Active()) {
    library_.RenderFrame();
    library_.Device()->Present(nullptr, nullptr, nullptr, nullptr);
  } else {
    // Paused (a modal loop or a reset): the library's own paint draws.
    SendMessageA(main, WM_PAINT, 0, 0);
  }
  ++frames_;
}

bool GuiSession::Step(int maxWaitMs) {
  if (quit_) return false;
  using namespace std::chrono;
  const auto period = microseconds(1000000 / std::max(desktop::RefreshRate(), 1));
  auto now = steady_clock::now();
  if (nextFrame_ == steady_clock::time_point{}) nextFrame_ = now;
  // Rounded up: a wait cut to whole milliseconds would poll without sleeping through the last
  // fraction of a millisecond before each frame.
  const auto wait = duration_cast<milliseconds>(nextFrame_ - now + microseconds(999)).count();
  desktop::Pump(int(std::clamp<int64_t>(wait, 0, maxWaitMs)));
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit_ = true;
      exitCode_ = int(msg.wParam);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  now = steady_clock::now();
  if (now >= nextFrame_) {
    DrawFrame();
    // A late frame does not make the next ones hurry.
    nextFrame_ = std::max(nextFrame_ + period, now);
  }
  return true;
}

int GuiSession::Run() {
  while (Step()) {
  }
  return exitCode_;
}

namespace {

constexpr const char* kGuiUsage =
    "usage: wz-convert gui [--to wzp|lwo|mx|x|gltf|glb|obj] [FILE]\n"
    "Opens the converter's window on the desktop (FILE shown in it). Files dropped on the window\n"
    "are converted into the chosen format (WZP by default) beside each file. Mouse buttons show\n"
    "the axis marker, the wheel scales it; F10 or a right click opens the menu (load, save,\n"
    "exit); Escape closes the window, F2 switches antialiasing. File dialogs need zenity or\n"
    "kdialog.\n"
    "WZ_BACKEND=headless|sdl chooses the window system (sdl when a display is set).\n";

const char* const kTargets[] = {"wzp", "lwo", "mx", "x", "gltf", "glb", "obj"};

}  // namespace

int GuiCommand(Library& wz, int argc, char** argv) {
  std::string file;
  int target = kTargetWzp;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kGuiUsage, stdout);
      return 0;
    }
    if (a == "--to" || a.rfind("--to=", 0) == 0) {
      std::string value = a.size() > 4 ? a.substr(5) : (i + 1 < argc ? argv[++i] : "");
      std::transform(value.begin(), value.end(), value.begin(), ::tolower);
      auto it = std::find_if(std::begin(kTargets), std::end(kTargets),
                             [&](const char* t) { return value == t; });
      if (it == std::end(kTargets)) {
        std::fprintf(stderr, "wz-convert: bad value '%s' for --to\n%s", value.c_str(), kGuiUsage);
        return 2;
      }
      target = int(it - std::begin(kTargets));
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "wz-convert: unknown option '%s'\n%s", a.c_str(), kGuiUsage);
      return 2;
    } else if (file.empty()) {
      file = a;
    } else {
      std::fputs("wz-convert: gui opens one file\n", stderr);
      return 2;
    }
  }
  std::error_code ec;
  std::filesystem::path input;
  if (!file.empty()) {
    input = std::filesystem::absolute(file, ec).lexically_normal();
    if (!std::filesystem::is_regular_file(input, ec)) {
      std::fprintf(stderr, "wz-convert: %s: no such file\n", file.c_str());
      return 1;
    }
  }
  std::string why;
  if (desktop::Choose() != desktop::Backend::kSdl) {
    std::fputs(desktop::Built() ? "wz-convert: gui needs a display (DISPLAY is not set, or "
                                  "WZ_BACKEND=headless)\n"
                                : "wz-convert: this build has no desktop window (SDL2)\n",
               stderr);
    return 1;
  }
  if (!desktop::Start(&why)) {
    std::fprintf(stderr, "wz-convert: the display cannot be used: %s\n", why.c_str());
    return 1;
  }
  struct StopDesktop {
    ~StopDesktop() { desktop::Stop(); }
  } stop;
  if (!wz.LibInit(nullptr) || !wz.Device()) {
    std::fputs("wz-convert: the library could not start (no display device)\n", stderr);
    return 1;
  }
  Converter converter(wz);
  GuiSession session(wz, converter);
  session.Install();
  converter.State().batchTarget = int16_t(target);
  if (!input.empty()) {
    const std::string path = LibraryPath(input.string());
    const size_t cut = path.rfind('\\');
    SetCurrentDirectoryA(cut == 0 ? "\\" : path.substr(0, cut));
    converter.Load(path.substr(cut + 1));
  }
  // The window appears with the first frame, when the device makes its OpenGL context.
  session.DrawFrame();
  if (!desktop::HasWindow(wz.MainWindow())) {
    std::fputs("wz-convert: no OpenGL window could be made on the display\n", stderr);
    SendMessageA(wz.MainWindow(), WM_CLOSE, 0, 0);
    return 1;
  }
  return session.Run();
}

}  // namespace wz
