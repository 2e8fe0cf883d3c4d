// WZP speed: saving a model of 65000 quads in 8 groups (a grid with a normal and a texture
// coordinate per position; one group mirrored), to memory and to a file, and loading the file
// back into a new and into a preallocated model (bytes per second of file). The export geometry
// is timed on its own, hashed and with the plain linear search (on 6500 quads, as the linear
// search is quadratic).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "../tests/model/wzp_linear_export.h"
#include "model/wzp.h"
#include "platform/file_io.h"

namespace {

using namespace wz;

constexpr int kGroups = 8;

// A grid of cols x rows quads; group g holds the rows [g * rows / 8, (g + 1) * rows / 8).
std::unique_ptr<Model> Grid(int cols, int rows) {
  auto m = CreateModel({});
  const int nv = (cols + 1) * (rows + 1);
  GrowPositionPools(*m, size_t(nv));
  m->normals.resize(size_t(nv));
  m->uvs.resize(size_t(nv));
  m->colours.assign(1, {255, 255, 255, 255});
  m->positionCount = m->normalCount = m->uvCount = nv;
  m->colourCount = 1;
  for (int r = 0; r <= rows; ++r) {
    for (int c = 0; c <= cols; ++c) {
      const int v = r * (cols + 1) + c;
      const float x = c * 0.37f, z = r * 0.41f, y = std::sin(x) * std::cos(z);
      m->positions[v] = {x, y, z};
      const float nx = -std::cos(x) * std::cos(z), nz = std::sin(x) * std::sin(z);
      const float len = std::sqrt(nx * nx + 1 + nz * nz);
      m->normals[v] = {nx / len, 1 / len, nz / len};
      m->uvs[v] = {float(c) / cols, float(r) / rows};
    }
  }
  m->groups.resize(kGroups, NewGroup());
  m->groupCount = kGroups;
  m->groups[3].mirror = 1;
  m->polygons.resize(size_t(cols) * rows);
  m->polygonCount = cols * rows;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      Polygon& p = m->polygons[size_t(r) * cols + c];
      const int a = r * (cols + 1) + c, b = a + 1, d = a + cols + 1, e = d + 1;
      p.cornerCount = 4;
      const int corners[4] = {a, d, e, b};
      for (int k = 0; k < 4; ++k)
        p.corners[k] = {corners[k], corners[k], 0, corners[k]};
      p.group = r * kGroups / rows;
    }
  }
  return m;
}

const Model& Big() {
  static const auto model = Grid(260, 250);  // 65000 quads
  return *model;
}

const std::vector<uint8_t>& BigFile() {
  static const std::vector<uint8_t> file = [] {
    RecordingModelHost host;
    std::vector<uint8_t> out;
    SaveWzpToMemory(host, Big(), "bench.wzp", out);
    return out;
  }();
  return file;
}

void BM_SaveToMemory65000Quads(benchmark::State& state) {
  RecordingModelHost host;
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!SaveWzpToMemory(host, Big(), "bench.wzp", out)) state.SkipWithError("save refused");
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["file_bytes"] = double(out.size());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}
BENCHMARK(BM_SaveToMemory65000Quads)->Unit(benchmark::kMillisecond);

void BM_SaveToFile65000Quads(benchmark::State& state) {
  RecordingModelHost host;
  const std::string hostPath =
      (std::filesystem::temp_directory_path() / "wz-bench-wzp.wzp").string();
  const std::string path = platform::LibraryPath(hostPath);
  for (auto _ : state) {
    if (!SaveWzp(host, Big(), path)) state.SkipWithError("save failed");
  }
  std::filesystem::remove(hostPath);
}
BENCHMARK(BM_SaveToFile65000Quads)->Unit(benchmark::kMillisecond);

void Load(benchmark::State& state, bool preallocate) {
  const std::vector<uint8_t>& file = BigFile();
  NewModelOptions options;
  options.preallocate = preallocate;
  for (auto _ : state) {
    state.PauseTiming();
    auto model = CreateModel(options);
    RecordingModelHost host;
    state.ResumeTiming();
    if (LoadWzpFromMemory(host, *model, "bench.wzp", file, kWzpVersion2009) != 1 ||
        model->polygonCount != 65000) {
      state.SkipWithError("load failed");
    }
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = double(file.size());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}
void BM_LoadIntoNewModel65000Quads(benchmark::State& state) {
  Load(state, false);
}
void BM_LoadIntoPreallocatedModel65000Quads(benchmark::State& state) {
  Load(state, true);
}
BENCHMARK(BM_LoadIntoNewModel65000Quads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIntoPreallocatedModel65000Quads)->Unit(benchmark::kMillisecond);

void BM_ExportHashed65000Quads(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(BuildExportGeometry(Big(), kDefaultPolygonCapacity));
}
BENCHMARK(BM_ExportHashed65000Quads)->Unit(benchmark::kMillisecond);

void BM_ExportHashed6500Quads(benchmark::State& state) {
  const auto model = Grid(65, 100);
  for (auto _ : state)
    benchmark::DoNotOptimize(BuildExportGeometry(*model, kDefaultPolygonCapacity));
}
BENCHMARK(BM_ExportHashed6500Quads)->Unit(benchmark::kMillisecond);

void BM_ExportLinear6500Quads(benchmark::State& state) {
  const auto model = Grid(65, 100);
  for (auto _ : state)
    benchmark::DoNotOptimize(testing::LinearExportGeometry(*model, kDefaultPolygonCapacity));
}
BENCHMARK(BM_ExportLinear6500Quads)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
