// glTF speed: writing a model of 65000 triangles (a grid of 32500 quads in 8 groups, a normal and
// a texture coordinate per position) as a .glb file, against Assimp's exporter writing the same
// model as glTF 2.0 binary in the same run (Assimp reads our .glb once, untimed, so both write
// the same vertices and triangles). Also the .glb built in memory only, and the OBJ writer.
// Reading: the same model as a .glb in memory (made by our writer), read by LoadGltfFromMemory
// and by Assimp's importer (aiProcess_Triangulate only, the least work that gives triangles).
// Run: build/bin/bench_gltf (Assimp's part needs libassimp-dev at build time).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "formats/formats.h"
#include "formats/model_export.h"
#include "model/normals.h"
#include "platform/file_io.h"

#ifdef WZ_WITH_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#endif

namespace {

using namespace wz;

constexpr int kCols = 130, kRows = 250;  // 32500 quads, 65000 triangles
constexpr int kGroups = 8;

std::unique_ptr<Model> Grid() {
  auto m = CreateModel({});
  const int nv = (kCols + 1) * (kRows + 1);
  GrowPositionPools(*m, size_t(nv));
  m->normals.resize(size_t(nv));
  m->uvs.resize(size_t(nv));
  m->positionCount = m->normalCount = m->uvCount = nv;
  for (int r = 0; r <= kRows; ++r) {
    for (int c = 0; c <= kCols; ++c) {
      const int v = r * (kCols + 1) + c;
      const float x = c * 0.37f, z = r * 0.41f, y = std::sin(x) * std::cos(z);
      m->positions[size_t(v)] = {x, y, z};
      const float nx = -std::cos(x) * std::cos(z), nz = std::sin(x) * std::sin(z);
      const float len = std::sqrt(nx * nx + 1 + nz * nz);
      m->normals[size_t(v)] = {nx / len, 1 / len, nz / len};
      m->uvs[size_t(v)] = {float(c) / kCols, float(r) / kRows};
    }
  }
  m->groups.resize(kGroups, NewGroup());
  m->groupCount = kGroups;
  m->polygons.resize(size_t(kCols) * kRows);
  m->polygonCount = kCols * kRows;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      Polygon& p = m->polygons[size_t(r) * kCols + size_t(c)];
      p.cornerCount = 4;
      const int v = r * (kCols + 1) + c;
      const int corners[4] = {v, v + kCols + 1, v + kCols + 2, v + 1};
      for (int k = 0; k < 4; ++k)
        p.corners[size_t(k)] = {corners[k], corners[k], 0, corners[k]};
      p.group = r * kGroups / kRows;
    }
  }
  DeriveNormals(*m);
  return m;
}

const Model& TheModel() {
  static const std::unique_ptr<Model> model = Grid();
  return *model;
}

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

void BM_WriteGlbFile(benchmark::State& state) {
  const Model& model = TheModel();
  RecordingModelHost host;
  const std::string path = platform::LibraryPath(TempPath("wz-bench.glb"));
  for (auto _ : state) {
    if (!SaveGlb(host, model, path)) state.SkipWithError("write failed");
  }
  state.counters["triangles"] = 2.0 * model.polygonCount;
  std::filesystem::remove(TempPath("wz-bench.glb"));
}
BENCHMARK(BM_WriteGlbFile)->Unit(benchmark::kMillisecond);

void BM_BuildGlbInMemory(benchmark::State& state) {
  const Model& model = TheModel();
  RecordingModelHost host;
  std::vector<uint8_t> glb, bin;
  for (auto _ : state) {
    exchange::BuildGltf(host, model, "\\tmp\\a.glb", true, {}, glb, bin);
    benchmark::DoNotOptimize(bin.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(glb.size() + bin.size()));
}
BENCHMARK(BM_BuildGlbInMemory)->Unit(benchmark::kMillisecond);

// The grid model as one .glb file in memory, made by our writer.
const std::vector<uint8_t>& TheGlb() {
  static const std::vector<uint8_t> glb = [] {
    RecordingModelHost host;
    std::vector<uint8_t> head, bin;
    exchange::BuildGltf(host, TheModel(), "\\tmp\\a.glb", true, {}, head, bin);
    head.insert(head.end(), bin.begin(), bin.end());
    return head;
  }();
  return glb;
}

void BM_ReadGlbFromMemory(benchmark::State& state) {
  const std::vector<uint8_t>& glb = TheGlb();
  RecordingModelHost host;
  int64_t triangles = 0;
  for (auto _ : state) {
    auto model = CreateModel({});
    if (!LoadGltfFromMemory(host, *model, "\\tmp\\a.glb", glb, 0)) {
      state.SkipWithError("read failed");
      return;
    }
    triangles = model->polygonCount;
    benchmark::DoNotOptimize(model->positions.data());
  }
  state.counters["triangles"] = double(triangles);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(glb.size()));
}
BENCHMARK(BM_ReadGlbFromMemory)->Unit(benchmark::kMillisecond);

void BM_WriteObjFile(benchmark::State& state) {
  const Model& model = TheModel();
  RecordingModelHost host;
  const std::string path = platform::LibraryPath(TempPath("wz-bench.obj"));
  for (auto _ : state) {
    if (!SaveObj(host, model, path)) state.SkipWithError("write failed");
  }
  std::filesystem::remove(TempPath("wz-bench.obj"));
  std::filesystem::remove(TempPath("wz-bench.mtl"));
}
BENCHMARK(BM_WriteObjFile)->Unit(benchmark::kMillisecond);

#ifdef WZ_WITH_ASSIMP
void BM_AssimpExportGlb(benchmark::State& state) {
  RecordingModelHost host;
  std::vector<uint8_t> glb, bin;
  exchange::BuildGltf(host, TheModel(), "\\tmp\\a.glb", true, {}, glb, bin);
  glb.insert(glb.end(), bin.begin(), bin.end());
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFileFromMemory(glb.data(), glb.size(), 0, "glb");
  if (!scene) {
    state.SkipWithError(importer.GetErrorString());
    return;
  }
  unsigned triangles = 0;
  for (unsigned i = 0; i < scene->mNumMeshes; ++i)
    triangles += scene->mMeshes[i]->mNumFaces;
  Assimp::Exporter exporter;
  const std::string path = TempPath("wz-bench-assimp.glb");
  for (auto _ : state) {
    if (exporter.Export(scene, "glb2", path) != AI_SUCCESS) state.SkipWithError("export failed");
  }
  state.counters["triangles"] = triangles;
  std::filesystem::remove(path);
}
BENCHMARK(BM_AssimpExportGlb)->Unit(benchmark::kMillisecond);

void BM_AssimpReadGlbFromMemory(benchmark::State& state) {
  const std::vector<uint8_t>& glb = TheGlb();
  int64_t triangles = 0;
  Assimp::Importer importer;  // made once: its set-up is not reading
  for (auto _ : state) {
    const aiScene* scene =
        importer.ReadFileFromMemory(glb.data(), glb.size(), aiProcess_Triangulate, "glb");
    if (!scene) {
      state.SkipWithError(importer.GetErrorString());
      return;
    }
    triangles = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i)
      triangles += scene->mMeshes[i]->mNumFaces;
  }
  state.counters["triangles"] = double(triangles);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(glb.size()));
}
BENCHMARK(BM_AssimpReadGlbFromMemory)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
