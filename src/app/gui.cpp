// The desktop message loop of the converter window and the gui command.
#include "app/gui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/desktop.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/window.h"
#include "resources/converter_resources.h"

namespace wz {

using namespace platform;

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
        return converter_.HandleMessage(hwnd, msg, w, l);
      });
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
  const auto wait = duration_cast<milliseconds>(nextFrame_ - now).count();
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
    "the axis marker, the wheel scales it; Escape closes the window, F2 switches antialiasing.\n"
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
  // The window appears with the first frame.
  session.DrawFrame();
  return session.Run();
}

}  // namespace wz
