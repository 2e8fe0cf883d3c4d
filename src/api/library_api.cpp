// Start and stop, the log, window events and errors of the public interface.
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <utility>

#include "api/api_state.h"
#include "model/model.h"
#include "platform/desktop.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/window.h"
#include "wz/library.h"
#include "wz/version.h"

namespace wz {
namespace api {
namespace {

enum class Phase { kNew, kStarted, kStopped };
Phase phase = Phase::kNew;
bool desktopStarted = false;
thread_local std::string lastError;

// The log's receivers: the program's handler and standard error; the collector of the current
// call. Lines come from the main and the loading thread.
std::mutex logMutex;
std::function<void(const std::string&)> logHandler;
bool logToStderr = false;
LogCollector collector;

void ForwardLine(const std::string& cp932) {
  std::lock_guard lock(logMutex);
  collector.Take(cp932);
  if (!logHandler && !logToStderr) return;
  const std::string utf8 = platform::Cp932ToUtf8(cp932);
  if (logHandler) logHandler(utf8);
  if (logToStderr) std::fprintf(stderr, "%s\n", utf8.c_str());
}

}  // namespace

void SetError(std::string text) {
  lastError = std::move(text);
}

bool Require(const char* what) {
  if (phase == Phase::kStarted) return true;
  SetError(std::string(what) + ": the library is not started (call wz::Start first)");
  return false;
}

LogCollector& Collected() {
  return collector;
}

std::string ToLibraryPath(const char* path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path ? path : "", ec);
  return platform::LibraryPath(ec ? std::string(path ? path : "")
                                  : absolute.lexically_normal().string());
}

}  // namespace api

const char* Version() {
  return kLibraryVersion;
}

const char* LastError() {
  return api::lastError.c_str();
}

bool Started() {
  return api::phase == api::Phase::kStarted;
}

void SetLogHandler(std::function<void(const std::string& line)> handler) {
  std::lock_guard lock(api::logMutex);
  api::logHandler = std::move(handler);
}

bool Start(const StartOptions& options) {
  using api::Phase;
  if (api::phase != Phase::kNew) {
    api::SetError(api::phase == Phase::kStarted
                      ? "wz::Start: the library is started already"
                      : "wz::Start: the library was stopped; it starts once per process");
    return false;
  }
  api::logToStderr = options.logToStderr || platform::EnvironmentSwitch("WZ_LOG");
  WZ.AttachLogSink(api::ForwardLine);
  namespace desktop = platform::desktop;
  if (options.desktop && desktop::Choose() == desktop::Backend::kSdl) {
    std::string why;
    api::desktopStarted = desktop::Start(&why);
    if (!api::desktopStarted)
      WZ.Log("the desktop cannot be used (%s); the window is headless", why.c_str());
  }
  if (!WZ.LibInit(nullptr) || !WZ.Device()) {
    api::SetError("wz::Start: the library could not start (no display device)");
    WZ.AttachLogSink(nullptr);
    if (api::desktopStarted) desktop::Stop();
    api::desktopStarted = false;
    return false;
  }
  // The scene is shown: the frame's fade starts at full black for the library's own program.
  RenderState& rs = WZ.Rendering();
  rs.fadeLevel = 1.0f;
  rs.background[0] = rs.background[1] = rs.background[2] = 40;
  api::phase = Phase::kStarted;
  return true;
}

void Stop() {
  if (api::phase != api::Phase::kStarted) return;
  WZ.SetOverlayHook(nullptr);
  api::WaitForBackgroundLoads();
  for (size_t object = 0; object < WZ.Rendering().objects.size(); ++object)
    WZ.ModelObject_Release(int32_t(object));
  for (size_t id = 0; id < WZ.ModelSlotCount(); ++id)
    WZ.Model3_Release(ModelId(id));
  if (platform::HWND main = WZ.MainWindow(); main && platform::IsWindow(main))
    platform::SendMessageA(main, platform::WM_CLOSE, 0, 0);
  // The quit message the closing posted is the window's last.
  platform::MSG msg;
  while (platform::PeekMessageA(&msg, nullptr, 0, 0, platform::PM_REMOVE)) {
  }
  if (api::desktopStarted) platform::desktop::Stop();
  api::desktopStarted = false;
  WZ.AttachLogSink(nullptr);
  api::phase = api::Phase::kStopped;
}

std::string DataFolder() {
  if (!Started()) return {};
  return platform::HostPath(WZ.DataDir());
}

bool PumpEvents() {
  if (!api::Require("wz::PumpEvents")) return false;
  if (api::desktopStarted) platform::desktop::Pump(0);
  platform::MSG msg;
  while (platform::PeekMessageA(&msg, nullptr, 0, 0, platform::PM_REMOVE)) {
    if (msg.message == platform::WM_QUIT) {
      api::SetError("wz::PumpEvents: the window was closed");
      return false;
    }
    // The close button closes the window (the library's handler releases the device).
    if (msg.message == platform::WM_SYSCOMMAND &&
        (msg.wParam & 0xFFF0) == platform::desktop::SC_CLOSE && msg.hwnd) {
      platform::SendMessageA(msg.hwnd, platform::WM_CLOSE, 0, 0);
      continue;
    }
    platform::TranslateMessage(&msg);
    platform::DispatchMessageA(&msg);
  }
  if (!WZ.MainWindow()) {
    api::SetError("wz::PumpEvents: the window was closed");
    return false;
  }
  return true;
}

bool KeyDown(int key) {
  if (!api::Require("wz::KeyDown")) return false;
  return key >= 0 && key < 256 && WZ.Keys()[size_t(key)] != 0;
}

int WindowWidth() {
  return Started() ? WZ.WindowWidth() : 0;
}

int WindowHeight() {
  return Started() ? WZ.WindowHeight() : 0;
}

}  // namespace wz
