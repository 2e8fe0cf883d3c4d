// LightWave LWOB speed: a 260 x 250 grid of quads (65000, the default polygon capacity, on 65511
// points, near the 65536 that 16-bit point indices can name) in four surfaces, written by the LWO
// writer, read back from memory into a new and into a preallocated model (the reader with its
// normals), and loaded from a file as the converter loads it (Model3_Load into a preallocated slot
// 0). Reports bytes per second of file.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bench/grid_files.h"
#include "bench/process.h"
#include "core/library.h"
#include "formats/formats.h"
#include "platform/file_io.h"

namespace {

using namespace wz;

constexpr int kCols = 260;
constexpr int kRows = 250;
constexpr int kQuads = kCols * kRows;

std::vector<uint8_t> GridLwo() {
  auto m = CreateModel({});
  const int n = kCols + 1;
  GrowPositionPools(*m, size_t(n) * (kRows + 1));
  for (int r = 0; r <= kRows; ++r) {
    for (int c = 0; c < n; ++c) {
      const bench::GridPoint p = bench::GridAt(uint32_t(c), uint32_t(r));
      m->positions[size_t(r) * n + c] = {p.x, p.y, p.z};
    }
  }
  m->positionCount = n * (kRows + 1);
  const ColourF colours[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {9, 9, 9, 255}};
  m->colours.assign(std::begin(colours), std::end(colours));
  m->colourCount = 4;
  m->polygons.resize(size_t(kQuads));
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      Polygon& p = m->polygons[size_t(r) * kCols + c];
      p.cornerCount = 4;
      const int a = r * n + c, corners[4] = {a, a + n, a + n + 1, a + 1};
      for (int k = 0; k < 4; ++k)
        p.corners[size_t(k)] = {corners[k], 0, (r * 4 / kRows), 0};
    }
  }
  m->polygonCount = kQuads;
  RecordingModelHost host;
  std::vector<uint8_t> file;
  if (SaveLwoToMemory(host, *m, "grid.lwo", file) != 1) file.clear();
  return file;
}

const std::vector<uint8_t>& File() {
  static const std::vector<uint8_t> file = GridLwo();
  return file;
}

void Report(benchmark::State& state) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(File().size()));
  state.counters["file_bytes"] = double(File().size());
}

void ReadFromMemory(benchmark::State& state, bool preallocate) {
  NewModelOptions options;
  options.preallocate = preallocate;
  RecordingModelHost host;
  for (auto _ : state) {
    auto model = CreateModel(options);
    if (LoadLwoFromMemory(host, *model, "grid.lwo", File(), 0) != 1 ||
        model->polygonCount != kQuads) {
      state.SkipWithError("load failed");
      break;
    }
  }
  Report(state);
}
void BM_LwoReaderIntoNewModel(benchmark::State& state) {
  ReadFromMemory(state, false);
}
void BM_LwoReaderIntoPreallocatedModel(benchmark::State& state) {
  ReadFromMemory(state, true);
}
BENCHMARK(BM_LwoReaderIntoNewModel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LwoReaderIntoPreallocatedModel)->Unit(benchmark::kMillisecond);

void BM_LwoModel3Load(benchmark::State& state) {
  bench::GridFiles files;
  const std::string path = platform::LibraryPath(files.Write("grid.lwo", File()));
  Library library;
  for (auto _ : state) {
    library.Model3_Release(0);
    library.SetPreallocateNext(true);
    const ModelId id = library.Model3_Load(library.Model3_Create(), path);
    const Model* m = library.Model3_Get(id);
    if (!m || m->polygonCount != kQuads) {
      state.SkipWithError("load failed");
      break;
    }
  }
  Report(state);
}
BENCHMARK(BM_LwoModel3Load)->Unit(benchmark::kMillisecond);

// The whole `wz-convert info` process on the grid file, as a user meets it.
void BM_LwoConvertInfoProcess(benchmark::State& state) {
  bench::GridFiles files;
  const std::string path = files.Write("grid.lwo", File());
  const std::string program = bench::BuiltProgram("wz-convert");
  for (auto _ : state) {
    if (bench::Run({program, "info", path}) != 0) {
      state.SkipWithError("wz-convert info failed");
      break;
    }
  }
  Report(state);
}
BENCHMARK(BM_LwoConvertInfoProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

// What memory alone costs such a load: one write pass, from a cold cache, over the pool entries
// the grid fills (its polygons, their colours, its positions and their smooth normals). A load
// into kept pools makes about five passes over them: clearing, filling, face normals, smooth
// normal sums, group boxes.
void BM_LwoPoolsOneColdWritePass(benchmark::State& state) {
  const size_t bytes = size_t{kQuads} * (sizeof(Polygon) + sizeof(ColourF)) +
                       size_t{kCols + 1} * (kRows + 1) * 2 * sizeof(Vec3);
  std::vector<char> pools(bytes, 1), other(size_t{64} << 20, 1);
  char fill = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::memset(other.data(), ++fill, other.size());  // pushes the pools out of the caches
    state.ResumeTiming();
    std::memset(pools.data(), fill, pools.size());
    benchmark::DoNotOptimize(pools.data());
    benchmark::ClobberMemory();
  }
  state.counters["pool_bytes"] = double(bytes);
}
BENCHMARK(BM_LwoPoolsOneColdWritePass)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
