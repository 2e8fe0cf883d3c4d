// OBJ reader speed: a height field of 708 x 708 quads split into 1,002,528 triangles, written as
// exporters write it (positions, texture coordinates and normals with six decimals, corners as
// v/t/n, two materials), read from memory into a new model; the same faces with positions only;
// and the whole `wz-convert` run that turns the file into a GLB file. Reports bytes per second of
// document and the triangles read.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "bench/grid_files.h"
#include "bench/process.h"
#include "formats/formats.h"
#include "platform/file_io.h"

namespace {

using namespace wz;

constexpr uint32_t kQuads = 708;
constexpr int64_t kTriangles = int64_t{kQuads} * kQuads * 2;

const char kMaterials[] = "newmtl left\nKd 0.8 0.2 0.2\nnewmtl right\nKd 0.2 0.2 0.8\n";

std::string GridObj(bool attributes) {
  std::string s = "mtllib grid.mtl\n";
  s.reserve(size_t{100} << 20);
  char line[256];
  const uint32_t n = kQuads + 1;
  for (uint32_t r = 0; r < n; ++r) {
    for (uint32_t c = 0; c < n; ++c) {
      const bench::GridPoint p = bench::GridAt(c, r);
      std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", p.x, p.y, p.z);
      s += line;
    }
  }
  if (attributes) {
    for (uint32_t r = 0; r < n; ++r) {
      for (uint32_t c = 0; c < n; ++c) {
        std::snprintf(line, sizeof line, "vt %.6f %.6f\n", float(c) / kQuads, float(r) / kQuads);
        s += line;
        const bench::GridPoint p = bench::GridAt(c, r);
        const float nx = -std::cos(p.x) * std::cos(p.z), nz = std::sin(p.x) * std::sin(p.z);
        const float len = std::sqrt(nx * nx + 1 + nz * nz);
        std::snprintf(line, sizeof line, "vn %.6f %.6f %.6f\n", nx / len, 1 / len, nz / len);
        s += line;
      }
    }
  }
  for (uint32_t half = 0; half < 2; ++half) {
    s += half == 0 ? "usemtl left\n" : "usemtl right\n";
    for (uint32_t r = 0; r < kQuads; ++r) {
      for (uint32_t c = half * kQuads / 2; c < (half + 1) * kQuads / 2; ++c) {
        const uint32_t a = r * n + c + 1, b = a + 1, d = a + n, e = d + 1;
        if (attributes) {
          std::snprintf(line, sizeof line,
                        "f %u/%u/%u %u/%u/%u %u/%u/%u\nf %u/%u/%u %u/%u/%u %u/%u/%u\n", a, a, a, d,
                        d, d, b, b, b, b, b, b, d, d, d, e, e, e);
        } else {
          std::snprintf(line, sizeof line, "f %u %u %u\nf %u %u %u\n", a, d, b, b, d, e);
        }
        s += line;
      }
    }
  }
  return s;
}

const std::string& Document(bool attributes) {
  static const std::string full = GridObj(true), plain = GridObj(false);
  return attributes ? full : plain;
}

void ReadFromMemory(benchmark::State& state, bool attributes) {
  const std::string& text = Document(attributes);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  RecordingModelHost host;
  for (auto _ : state) {
    auto model = CreateModel({});
    if (LoadObjFromMemory(host, *model, "\\b\\grid.obj", bytes, kMaterials, 0) != 1 ||
        model->polygonCount != kTriangles) {
      state.SkipWithError("load failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["file_bytes"] = double(text.size());
  state.counters["triangles"] = double(kTriangles);
}

void BM_ObjReaderPositionsNormalsUvs(benchmark::State& state) {
  ReadFromMemory(state, true);
}
void BM_ObjReaderPositionsOnly(benchmark::State& state) {
  ReadFromMemory(state, false);
}
BENCHMARK(BM_ObjReaderPositionsNormalsUvs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjReaderPositionsOnly)->Unit(benchmark::kMillisecond);

// The whole converter process, OBJ (with its library) to GLB, as a user meets it.
void BM_ObjToGlbProcess(benchmark::State& state) {
  bench::GridFiles files;
  const std::string path = files.Write("grid.obj", Document(true));
  files.Write("grid.mtl", std::string_view(kMaterials));
  const std::string program = bench::BuiltProgram("wz-convert");
  for (auto _ : state) {
    if (bench::Run({program, "--to", "glb", path}) != 0) {
      state.SkipWithError("wz-convert failed");
      break;
    }
  }
  state.counters["file_bytes"] = double(Document(true).size());
}
BENCHMARK(BM_ObjToGlbProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
