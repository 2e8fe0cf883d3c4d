// The whole `wz-convert render` process against f3d (Debian's minimal viewer) drawing the same
// 10000-triangle model, written as OBJ, to a 1280 x 720 PNG. Each iteration starts the program
// and waits for it to exit. f3d needs an X display: this program starts Xvfb on a free display
// number for it and stops it at the end; without f3d or Xvfb that benchmark is skipped.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/process.h"

namespace {

using wz::bench::Run;
namespace fs = std::filesystem;

fs::path workDir;
fs::path model;
std::string display;  // ":N" while our Xvfb runs
pid_t xvfb = -1;

// A sphere of 50 bands of 100 quads, each split in two: 10000 triangles.
void WriteSphereObj(const fs::path& path) {
  constexpr int kRings = 50, kSegments = 100;
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
      out << "f " << a << ' ' << b << ' ' << b + kSegments << '\n';
      out << "f " << a << ' ' << b + kSegments << ' ' << a + kSegments << '\n';
    }
  }
}

bool OnPath(const std::string& name) {
  return Run({"sh", "-c", "command -v " + name}) == 0;
}

void StartXvfb() {
  if (!OnPath("Xvfb") || !OnPath("f3d")) return;
  for (int n = 90; n < 120; ++n) {
    if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
    const std::string d = ":" + std::to_string(n);
    xvfb = wz::bench::Spawn({"Xvfb", d, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"}, {},
                            false);
    if (xvfb < 0) return;
    // The server is ready when its socket appears.
    for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    display = d;
    return;
  }
}

void StopXvfb() {
  if (xvfb <= 0) return;
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  xvfb = -1;
}

void WzConvertRender(benchmark::State& state) {
  const std::string program = (fs::read_symlink("/proc/self/exe").parent_path() / "wz-convert");
  const std::string out = (workDir / "wz.png").string();
  for (auto _ : state) {
    if (Run({program, "render", "--size", "1280x720", "-o", out, model.string()}) != 0) {
      state.SkipWithError("wz-convert render failed");
      return;
    }
  }
}
BENCHMARK(WzConvertRender)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void F3dOutput(benchmark::State& state) {
  if (display.empty()) {
    state.SkipWithError("f3d or Xvfb is not installed");
    return;
  }
  const std::string out = "--output=" + (workDir / "f3d.png").string();
  for (auto _ : state) {
    if (Run({"f3d", out, "--resolution=1280,720", model.string()}, {"DISPLAY=" + display}) != 0) {
      state.SkipWithError("f3d failed");
      return;
    }
  }
}
BENCHMARK(F3dOutput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/wz-bench-render-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  workDir = pattern;
  model = workDir / "sphere.obj";
  WriteSphereObj(model);
  StartXvfb();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopXvfb();
  std::error_code ec;
  fs::remove_all(workDir, ec);
  return 0;
}
