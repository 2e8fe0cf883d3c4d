// The cost of converting many small models: 1000 files of a 12-triangle Metasequoia model, each
// loaded and written as WZP. Three ways, so the share outside parsing and writing shows:
//   Direct    - Model3_Load on this thread, then the WZP writer (parsing and writing only);
//   Background- the converter's road: Model3_LoadInBackground hands the load to the loader thread
//               and waits with the message pump, then the WZP writer;
// the difference per file is the hand-off to the loader thread and back.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/library.h"
#include "platform/file_io.h"

namespace {

constexpr int kFiles = 1000;

// A 12-triangle cube (8 vertices, 6 quads split in two).
std::string CubeMqo() {
  std::string s =
      "Metasequoia Document\r\nFormat Text Ver 1.0\r\nObject \"cube\" {\r\n\tvertex 8 {\r\n";
  const char* v[8] = {"0 0 0",  "10 0 0",  "10 10 0",  "0 10 0",
                      "0 0 10", "10 0 10", "10 10 10", "0 10 10"};
  for (const char* p : v)
    s += std::string("\t\t") + p + "\r\n";
  s += "\t}\r\n\tface 12 {\r\n";
  const int q[6][4] = {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4},
                       {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  for (const auto& f : q) {
    s += "\t\t3 V(" + std::to_string(f[0]) + " " + std::to_string(f[1]) + " " +
         std::to_string(f[2]) + ")\r\n";
    s += "\t\t3 V(" + std::to_string(f[0]) + " " + std::to_string(f[2]) + " " +
         std::to_string(f[3]) + ")\r\n";
  }
  return s + "\t}\r\n}\r\nEof\r\n";
}

struct Files {
  Files() {
    dir = std::filesystem::temp_directory_path() / "wz-bench-convert";
    std::filesystem::create_directories(dir);
    const std::string text = CubeMqo();
    for (int i = 0; i < kFiles; ++i) {
      std::ofstream(dir / ("m" + std::to_string(i) + ".mqo"), std::ios::binary) << text;
    }
    std::filesystem::current_path(dir);
  }
  ~Files() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

void Convert(benchmark::State& state, bool background) {
  static Files files;
  wz::Library library;
  const std::string libraryDir = wz::platform::LibraryPath(files.dir.string());
  for (auto _ : state) {
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "m" + std::to_string(i);
      library.Model3_Release(0);
      library.SetPreallocateNext(false);
      wz::ModelId id = background ? library.Model3_LoadInBackground(name + ".mqo")
                                  : library.Model3_Load(library.Model3_Create(),
                                                        libraryDir + "\\" + name + ".mqo");
      if (!library.Model3_Save(library.Model3_Get(id), libraryDir + "\\" + name + ".WZP")) {
        state.SkipWithError("a file did not convert");
        return;
      }
    }
  }
  state.counters["ms_per_file"] =
      benchmark::Counter(double(state.iterations()) * kFiles,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ConvertDirect(benchmark::State& state) {
  Convert(state, false);
}
void BM_ConvertBackground(benchmark::State& state) {
  Convert(state, true);
}
BENCHMARK(BM_ConvertDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertBackground)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
