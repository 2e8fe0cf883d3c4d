// DeriveNormals on a full-capacity model: 65000 quads over 260000 positions (each quad with its
// own four corners, randomly placed and turned, so nearly every face normal is distinct), in
// shading mode 8 so that the normal pool is rebuilt. For comparison, the same work with the
// pool rebuilt by a linear search for every corner, on a tenth of that model.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
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

// A connected surface of 64980 triangles: a wavy 191 x 172 grid, each cell two triangles, or
// (fan) 65000 triangles around one centre, every one of them touching it. `angle` 0: no angle
// rule (today's smooth normals); otherwise every face carries that smoothing angle.
std::unique_ptr<Model> Surface(bool fan, double angle) {
  auto m = wz::CreateModel({});
  std::vector<Vec3> v;
  std::vector<std::array<int, 3>> t;
  if (fan) {
    v.push_back({0, 1, 0});
    for (int k = 0; k < 65000; ++k) {
      const float a = 6.2831853f * float(k) / 65000;
      v.push_back({std::cos(a), float(k % 7) * 0.1f, std::sin(a)});
      t.push_back({0, 1 + k, 1 + (k + 1) % 65000});
    }
  } else {
    const int w = 191, h = 172;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        v.push_back({float(x), std::sin(float(x) * 0.7f) * std::cos(float(y) * 0.5f), float(y)});
    for (int y = 0; y + 1 < h; ++y)
      for (int x = 0; x + 1 < w; ++x) {
        const int i = y * w + x;
        t.push_back({i, i + w, i + 1});
        t.push_back({i + 1, i + w, i + w + 1});
      }
  }
  wz::GrowPositionPools(*m, v.size());
  std::copy(v.begin(), v.end(), m->positions.begin());
  m->positionCount = int32_t(v.size());
  m->polygons.resize(t.size());
  m->polygonCount = int32_t(t.size());
  for (size_t f = 0; f < t.size(); ++f) {
    Polygon& p = m->polygons[f];
    p.cornerCount = 3;
    p.smoothAngle = angle > 0 ? wz::SmoothAngleCode(angle) : 0;
    for (int k = 0; k < 3; ++k)
      p.corners[k].position = t[f][size_t(k)];
  }
  m->shadingMode = 3;
  return m;
}

// Arguments: fan (0 or 1), angle in degrees (0: no angle rule).
void BM_DeriveNormalsAngle(benchmark::State& state) {
  auto m = Surface(state.range(0) != 0, double(state.range(1)));
  for (auto _ : state) {
    wz::DeriveNormals(*m);
    benchmark::DoNotOptimize(m->normalCount);
  }
  state.counters["normals"] = m->normalCount;
}
BENCHMARK(BM_DeriveNormalsAngle)
    ->Args({0, 0})
    ->Args({0, 60})
    ->Args({1, 0})
    ->Args({1, 60})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
