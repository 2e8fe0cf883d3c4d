// A library started in a temporary program folder (no data files needed), on a 1920 x 1080
// screen with the plain fixed-function device, its device steps recorded and chosen steps made
// to fail. The environment restores the current directory, the module path, the screen, the
// device profile, the answer script and this thread's message queue.
#pragma once

#include <deque>
#include <filesystem>
#include <ostream>
#include <utility>
#include <vector>

#include "core/library.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "support/temp_dir.h"

namespace wz {

inline std::ostream& operator<<(std::ostream& out, DeviceStep step) {
  static const char* const kNames[] = {
      "Create",        "ObjectsInit", "ObjectsRestore", "ObjectsInvalidate", "ObjectsDelete",
      "RenderRelease", "Reset",       "Release",        "CursorShow"};
  return out << kNames[static_cast<int>(step)];
}

namespace testing {

inline void DrainMessageQueue() {
  platform::MSG msg;
  while (platform::PeekMessageA(&msg, nullptr, 0, 0, platform::PM_REMOVE)) {
  }
}

class LibraryEnvironment {
 public:
  LibraryEnvironment() {
    std::filesystem::create_directories(dir_ / "prog/Data/System");
    std::filesystem::current_path(dir_.path());
    platform::SetModuleFileNameForTesting(platform::LibraryPath(dir_ / "prog/wz-normalmap"));
    platform::SetScreenSize(1920, 1080);
    d3d::DeviceProfile fixed;
    d3d::ProfileByName("fixed", fixed);
    d3d::SetProfile(fixed);
    platform::script::Reset();
    platform::script::SetMessageBoxEcho(false);
    platform::ClipCursor(nullptr);
    DrainMessageQueue();
  }
  ~LibraryEnvironment() {
    DrainMessageQueue();
    platform::ClipCursor(nullptr);
    platform::SetModuleFileNameForTesting("");
    d3d::ResetProfile();
    platform::script::Reset();
    platform::script::SetMessageBoxEcho(true);
  }
  LibraryEnvironment(const LibraryEnvironment&) = delete;
  LibraryEnvironment& operator=(const LibraryEnvironment&) = delete;

  // Changes the device profile for libraries started from now on.
  static void Profile(void (*change)(d3d::DeviceProfile&)) {
    d3d::DeviceProfile p = d3d::CurrentProfile();
    change(p);
    d3d::SetProfile(p);
  }

 private:
  TempDir dir_;
  CurrentDirectoryGuard cwdGuard_;
};

class StartedLibrary {
 public:
  explicit StartedLibrary(bool start = true) {
    library.SetDeviceStepHookForTesting([this](DeviceStep step) -> HRESULT {
      steps.push_back(step);
      for (auto it = failures.begin(); it != failures.end(); ++it) {
        if (it->first == step) {
          HRESULT hr = it->second;
          failures.erase(it);
          return hr;
        }
      }
      return S_OK;
    });
    if (start) started = library.LibInit(nullptr);
    steps.clear();
  }

  // The next `step` gives `hr` (for the steps whose result counts).
  void FailNext(DeviceStep step, HRESULT hr) { failures.emplace_back(step, hr); }
  std::vector<DeviceStep> TakeSteps() { return std::exchange(steps, {}); }
  LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return platform::SendMessageA(library.MainWindow(), msg, wParam, lParam);
  }
  RECT WindowRect() const {
    RECT r{0, 0, 0, 0};
    platform::GetWindowRect(library.MainWindow(), &r);
    return r;
  }

  std::vector<DeviceStep> steps;
  std::deque<std::pair<DeviceStep, HRESULT>> failures;
  bool started = false;
  Library library;
};

}  // namespace testing

inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

}  // namespace wz
