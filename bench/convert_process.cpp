// Whole wz-convert processes as a user runs them on many files or on one large file:
//   Batch/{Disk,Memory}/N - 1000 small Metasequoia models in one `wz-convert -r -j N --to wzp`;
//   ObjToGlb           - a 1,000,000-triangle OBJ to GLB, beside `assimp export` of the same
//                        file to GLB (assimp-utils), with each process's peak memory.
// Times are wall times of the whole process (UseRealTime); "peak_MB" is the largest resident set
// of the last run, from the kernel's accounting of the child.
#include <sys/resource.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/process.h"

namespace {

namespace fs = std::filesystem;

// Runs a program to completion; its exit status (-1 when it did not run) and peak memory in MB.
int RunMeasured(const std::vector<std::string>& args, double& peakMb) {
  const pid_t pid = wz::bench::Spawn(args, {}, true);
  if (pid < 0) return -1;
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  peakMb = double(usage.ru_maxrss) / 1024.0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Folder {
  // A folder under the temporary folder, or at an absolute path.
  explicit Folder(const char* name) : path(fs::temp_directory_path() / name) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Folder() { fs::remove_all(path); }
  fs::path path;
};

const std::string& CubeMqo() {
  static const std::string text =
      "Metasequoia Document\r\nFormat Text Ver 1.0\r\nObject \"cube\" {\r\n\tvertex 8 {\r\n"
      "\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t10 10 0\r\n\t\t0 10 0\r\n\t\t0 0 10\r\n\t\t10 0 10\r\n"
      "\t\t10 10 10\r\n\t\t0 10 10\r\n\t}\r\n\tface 6 {\r\n\t\t4 V(0 1 2 3)\r\n\t\t4 V(4 5 6 7)\r\n"
      "\t\t4 V(0 1 5 4)\r\n\t\t4 V(1 2 6 5)\r\n\t\t4 V(2 3 7 6)\r\n\t\t4 V(3 0 4 7)\r\n\t}\r\n}\r\n"
      "Eof\r\n";
  return text;
}

// The batch in the temporary folder (`memory` false) or on /dev/shm: on a disk file system the
// kernel's inode allocation for 2000 files (a temporary file each, renamed) can take more time than
// the conversions and does not run in parallel, so the memory file system shows what -j does.
void Batch(benchmark::State& state, bool memory) {
  if (memory && !fs::is_directory("/dev/shm")) {
    state.SkipWithError("no /dev/shm");
    return;
  }
  static Folder disk("wz-bench-batch");
  static Folder shm = [] {
    std::error_code ec;
    return Folder(fs::is_directory("/dev/shm", ec) ? "/dev/shm/wz-bench-batch" : "wz-bench-shm");
  }();
  Folder& folder = memory ? shm : disk;
  const fs::path models = folder.path / "models";
  if (!fs::exists(models)) {
    fs::create_directories(models);
    for (int i = 0; i < 1000; ++i)
      std::ofstream(models / ("m" + std::to_string(i) + ".mqo"), std::ios::binary) << CubeMqo();
  }
  const std::string program = wz::bench::BuiltProgram("wz-convert");
  double peak = 0;
  for (auto _ : state) {
    if (RunMeasured({program, "-r", "-j", std::to_string(state.range(0)), "-o",
                     (folder.path / "out").string(), models.string()},
                    peak) != 0) {
      state.SkipWithError("wz-convert failed");
      break;
    }
  }
  state.counters["peak_MB"] = peak;
  state.counters["files"] = 1000;
}
BENCHMARK_CAPTURE(Batch, Disk, false)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Batch, Memory, true)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A grid of n x n quads as 2 n^2 triangles.
void WriteGridObj(const fs::path& path, int n) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return;
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x)
      std::fprintf(f, "v %d %d %g\n", x, y, 0.01 * ((x * 7 + y * 13) % 17));
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const int a = y * (n + 1) + x + 1, b = a + 1, c = a + n + 1, d = c + 1;
      std::fprintf(f, "f %d %d %d\nf %d %d %d\n", a, b, d, a, d, c);
    }
  }
  std::fclose(f);
}

const fs::path& BigObj() {
  static Folder folder("wz-bench-obj-glb");
  static const fs::path path = [] {
    const fs::path p = folder.path / "grid.obj";
    WriteGridObj(p, 708);  // 1,002,528 triangles
    return p;
  }();
  return path;
}

void ObjToGlb(benchmark::State& state, bool assimp) {
  const fs::path& input = BigObj();
  const fs::path out = input.parent_path() / "out";
  fs::create_directories(out);
  std::vector<std::string> args =
      assimp ? std::vector<std::string>{"assimp", "export", input.string(),
                                        (out / "assimp.glb").string()}
             : std::vector<std::string>{wz::bench::BuiltProgram("wz-convert"),
                                        "--to",
                                        "glb",
                                        "-o",
                                        out.string(),
                                        input.string()};
  double peak = 0;
  for (auto _ : state) {
    if (RunMeasured(args, peak) != 0) {
      state.SkipWithError(assimp ? "assimp export failed (is assimp-utils installed?)"
                                 : "wz-convert failed");
      break;
    }
  }
  state.counters["peak_MB"] = peak;
  state.counters["input_MB"] = double(fs::file_size(input)) / (1 << 20);
}
BENCHMARK_CAPTURE(ObjToGlb, WzConvert, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ObjToGlb, AssimpExport, true)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
