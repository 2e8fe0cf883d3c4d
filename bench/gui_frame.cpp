// The converter's desktop window under Xvfb on llvmpipe, 1280 x 720: the time of one frame
// showing a 65000-triangle model (frame function, copy to the window, buffer swap), and the
// message loop left to itself for three seconds (frames at the display's refresh rate, sleeping
// in between): frames per second, the process's CPU use and the loop's wake-ups per second.
// The program starts Xvfb on a free display number and stops it at the end; without Xvfb or
// without SDL2 in the build the benchmarks are skipped.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/converter.h"
#include "app/gui.h"
#include "core/library.h"
#include "platform/desktop.h"
#include "platform/file_io.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;
using namespace wz;

pid_t xvfb = -1;

bool StartXvfb() {
  const char* binary = "/usr/bin/Xvfb";
  if (access(binary, X_OK) != 0) return false;
  for (int n = 700 + int(getpid() % 200); n < 1600; n += 11) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
    const std::string display = ":" + std::to_string(n);
    xvfb = fork();
    if (xvfb == 0) {
      execl(binary, "Xvfb", display.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !fs::exists(socket); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (fs::exists(socket)) {
      setenv("DISPLAY", display.c_str(), 1);
      return true;
    }
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    xvfb = -1;
  }
  return false;
}

// A sphere of 130 bands of 250 quads, each split in two: 65000 triangles.
void WriteSphereObj(const fs::path& path) {
  constexpr int kRings = 130, kSegments = 250;
  constexpr float kPi = 3.14159265f;
  std::ofstream out(path);
  for (int i = 0; i <= kRings; ++i) {
    const float theta = kPi * float(i) / kRings;
    for (int j = 0; j < kSegments; ++j) {
      const float phi = 2 * kPi * float(j) / kSegments;
      out << "v " << std::sin(theta) * std::cos(phi) << ' ' << std::cos(theta) << ' '
          << std::sin(theta) * std::sin(phi) << '\n';
    }
  }
  for (int i = 0; i < kRings; ++i) {
    for (int j = 0; j < kSegments; ++j) {
      const int a = i * kSegments + j + 1, b = i * kSegments + (j + 1) % kSegments + 1;
      out << "f " << a << ' ' << b + kSegments << ' ' << b << '\n';
      out << "f " << a << ' ' << a + kSegments << ' ' << b + kSegments << '\n';
    }
  }
}

struct Window {
  std::unique_ptr<Library> owned = std::make_unique<Library>();
  Library& library = *owned;
  std::unique_ptr<Converter> converter;
  std::unique_ptr<GuiSession> session;
  bool ready = false;
  std::string why;

  explicit Window(bool withModel) {
    if (!platform::desktop::Start(&why)) return;
    if (!library.LibInit(nullptr) || !library.Device()) {
      why = "the library did not start";
      return;
    }
    converter = std::make_unique<Converter>(library);
    session = std::make_unique<GuiSession>(library, *converter);
    session->Install();
    if (withModel) {
      const fs::path dir = fs::temp_directory_path() / ("wz-gui-bench-" + std::to_string(getpid()));
      fs::create_directories(dir);
      WriteSphereObj(dir / "sphere.obj");
      platform::SetCurrentDirectoryA(platform::LibraryPath(dir.string()));
      converter->Load("sphere.obj");
      fs::remove_all(dir);
      const Model* m = converter->State().currentModel;
      if (!m || m->polygonCount != 65000) {
        why = "the model did not load";
        return;
      }
    }
    session->DrawFrame();
    ready = library.WindowWidth() == 1280 && library.WindowHeight() == 720;
    if (!ready)
      why = "the window is " + std::to_string(library.WindowWidth()) + " x " +
            std::to_string(library.WindowHeight()) + ", not 1280 x 720";
  }
  ~Window() {
    session.reset();
    converter.reset();
    // The device and its OpenGL objects go while the window's context still exists.
    owned.reset();
    platform::desktop::Stop();
  }
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void GuiFrame(benchmark::State& state) {
  if (xvfb < 0) return state.SkipWithError("Xvfb is not available");
  if (!platform::desktop::Built()) return state.SkipWithError("built without SDL2");
  Window w(true);
  if (!w.ready) return state.SkipWithError(w.why.c_str());
  for (auto _ : state)
    w.session->DrawFrame();
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(GuiFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// Arg 1: the 65000-triangle model is shown; 0: the empty window.
void GuiLoopAtRefreshRate(benchmark::State& state) {
  if (xvfb < 0) return state.SkipWithError("Xvfb is not available");
  if (!platform::desktop::Built()) return state.SkipWithError("built without SDL2");
  Window w(state.range(0) != 0);
  if (!w.ready) return state.SkipWithError(w.why.c_str());
  int64_t steps = 0, frames = 0;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const int64_t frames0 = w.session->FramesDrawn();
    const double cpu0 = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end) {
      w.session->Step(50);
      ++steps;
    }
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += CpuSeconds() - cpu0;
    frames += w.session->FramesDrawn() - frames0;
  }
  state.counters["refresh_hz"] = platform::desktop::RefreshRate();
  state.counters["fps"] = double(frames) / wall;
  state.counters["cpu_percent"] = 100.0 * cpu / wall;
  state.counters["wakeups_per_s"] = double(steps) / wall;
}
BENCHMARK(GuiLoopAtRefreshRate)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  StartXvfb();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (xvfb > 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }
  return 0;
}
