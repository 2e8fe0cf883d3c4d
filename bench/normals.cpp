// DeriveNormals on a full-capacity model: 65000 quads over 260000 positions (each quad with its
// own four corners, randomly placed and turned, so nearly every face normal is distinct), in
// shading mode 8 so that the normal pool is rebuilt. For comparison, the same work with the
// pool rebuilt by a linear search for every corner, on a tenth of that model.
#include <benchmark/benchmark.h>

#include <random>

#include "../tests/model/normals_linear_rebuild.h"
#include "model/model.h"
#include "model/normals.h"

namespace {

using wz::Model;
using wz::Polygon;
using wz::Vec3;
using wz::testing::LinearRebuild;

std::unique_ptr<Model> QuadSoup(int quads) {
  auto m = wz::CreateModel({});
  const int positions = 4 * quads;
  wz::GrowPositionPools(*m, positions);
  m->positionCount = positions;
  m->polygons.resize(quads);
  m->polygonCount = quads;
  std::mt19937 rng(2010);
  std::uniform_real_distribution<float> place(-100.0f, 100.0f);
  std::uniform_real_distribution<float> jitter(-1.0f, 1.0f);
  for (int q = 0; q < quads; ++q) {
    const Vec3 c{place(rng), place(rng), place(rng)};
    Polygon& p = m->polygons[q];
    p.cornerCount = 4;
    for (int k = 0; k < 4; ++k) {
      m->positions[4 * q + k] = {c.x + jitter(rng), c.y + jitter(rng), c.z + jitter(rng)};
      p.corners[k].position = 4 * q + k;
    }
  }
  m->shadingMode = 8;
  return m;
}

void BM_DeriveNormalsMode8(benchmark::State& state) {
  auto m = QuadSoup(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    wz::DeriveNormals(*m);
    benchmark::DoNotOptimize(m->normalCount);
  }
  state.counters["normals"] = m->normalCount;
}
BENCHMARK(BM_DeriveNormalsMode8)->Arg(65000)->Arg(6500)->Unit(benchmark::kMillisecond);

void BM_DeriveNormalsNoRebuild(benchmark::State& state) {
  auto m = QuadSoup(static_cast<int>(state.range(0)));
  m->shadingMode = 3;
  for (auto _ : state) {
    wz::DeriveNormals(*m);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DeriveNormalsNoRebuild)->Arg(65000)->Unit(benchmark::kMillisecond);

void BM_DeriveNormalsLinearSearch(benchmark::State& state) {
  auto m = QuadSoup(static_cast<int>(state.range(0)));
  m->shadingMode = 3;  // face and smooth normals by DeriveNormals, the rebuild by the search
  for (auto _ : state) {
    wz::DeriveNormals(*m);
    LinearRebuild(*m);
    benchmark::DoNotOptimize(m->normalCount);
  }
  state.counters["normals"] = m->normalCount;
}
BENCHMARK(BM_DeriveNormalsLinearSearch)->Arg(6500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
