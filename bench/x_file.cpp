// X-file speed: loading a text file of 65000 triangles (a shared-vertex grid with normals, texture
// coordinates and two materials, written by the saver in text form) and saving a 65000-triangle
// mesh with one vertex per corner in binary form, and the model export (SaveX) of the same grid
// as a 65000-triangle Model, file written included. The 180 x 180 grid of bench/grid_files.h
// (64800 triangles) is loaded as the converter loads it (Model3_Load into a preallocated slot
// 0) and, when Assimp's library is installed, by its ReadFile without post-processing, from the
// same file in the same run. Reports bytes per second of file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "bench/grid_files.h"
#include "bench/process.h"
#include "core/library.h"
#include "formats/formats.h"
#include "platform/d3dx/x_file.h"
#include "platform/file_io.h"

#if WZ_BENCH_ASSIMP
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

namespace {

using namespace wz;
using namespace wz::d3dx;

constexpr uint32_t kCols = 250, kRows = 130;  // 250 x 130 quads = 65000 triangles

std::unique_ptr<Mesh> Grid() {
  const uint32_t nv = (kCols + 1) * (kRows + 1), nf = kCols * kRows * 2;
  std::unique_ptr<Mesh> m;
  Mesh::Create(nf, nv, D3DXMESH_MANAGED, 338, m);
  for (uint32_t r = 0; r <= kRows; ++r) {
    for (uint32_t c = 0; c <= kCols; ++c) {
      const uint32_t v = r * (kCols + 1) + c;
      const float x = c * 0.37f, z = r * 0.41f, y = std::sin(x) * std::cos(z);
      m->SetPosition(v, {x, y, z});
      const float nx = -std::cos(x) * std::cos(z), nz = std::sin(x) * std::sin(z);
      const float len = std::sqrt(nx * nx + 1 + nz * nz);
      m->SetNormal(v, {nx / len, 1 / len, nz / len});
      m->SetTexCoord(v, {float(c) / kCols, float(r) / kRows});
    }
  }
  uint32_t f = 0;
  for (uint32_t r = 0; r < kRows; ++r) {
    for (uint32_t c = 0; c < kCols; ++c, f += 2) {
      const uint32_t a = r * (kCols + 1) + c, b = a + 1, d = a + kCols + 1, e = d + 1;
      const uint32_t idx[6] = {a, d, b, b, d, e};
      for (int k = 0; k < 6; ++k)
        m->SetIndex(size_t{f} * 3 + k, idx[k]);
      m->AttributeBuffer()[f] = m->AttributeBuffer()[f + 1] = (c < kCols / 2) ? 0 : 1;
    }
  }
  return m;
}

std::vector<D3DXMATERIAL> Materials() {
  std::vector<D3DXMATERIAL> mats(2);
  mats[0].MatD3D.Diffuse = {1, 1, 1, 1};
  mats[0].textureFilename = "grass.bmp";
  mats[1].MatD3D.Diffuse = {0.5f, 0.5f, 0.5f, 1};
  return mats;
}

void BM_LoadText65000Triangles(benchmark::State& state) {
  std::vector<uint8_t> file;
  D3DXSaveMeshToXInMemory(*Grid(), Materials(), D3DXF_FILEFORMAT_TEXT, file);
  for (auto _ : state) {
    std::unique_ptr<Mesh> mesh;
    std::vector<D3DXMATERIAL> mats;
    if (D3DXLoadMeshFromXInMemory(file, D3DXMESH_SYSTEMMEM, mesh, mats) != S_OK ||
        mesh->GetNumFaces() != kCols * kRows * 2) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(mesh->VertexBuffer().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
  state.counters["file_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_LoadText65000Triangles)->Unit(benchmark::kMillisecond);

void BM_LoadBinary65000Triangles(benchmark::State& state) {
  std::vector<uint8_t> file;
  D3DXSaveMeshToXInMemory(*Grid(), Materials(), D3DXF_FILEFORMAT_BINARY, file);
  for (auto _ : state) {
    std::unique_ptr<Mesh> mesh;
    std::vector<D3DXMATERIAL> mats;
    if (D3DXLoadMeshFromXInMemory(file, D3DXMESH_SYSTEMMEM, mesh, mats) != S_OK) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(mesh->VertexBuffer().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
  state.counters["file_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_LoadBinary65000Triangles)->Unit(benchmark::kMillisecond);

// The model export's mesh: 65000 triangles, one vertex per corner (195000 vertices).
void BM_SaveBinary65000Triangles(benchmark::State& state) {
  const uint32_t nf = 65000;
  std::unique_ptr<Mesh> grid = Grid(), m;
  Mesh::Create(nf, nf * 3, D3DXMESH_MANAGED | D3DXMESH_32BIT, 338, m);
  for (uint32_t i = 0; i < nf * 3; ++i) {
    const uint32_t v = grid->Index(i);
    m->SetPosition(i, grid->Position(v));
    m->SetNormal(i, grid->Normal(v));
    m->SetTexCoord(i, grid->TexCoord(v));
    m->SetIndex(i, i);
  }
  const auto mats = Materials();
  size_t bytes = 0;
  for (auto _ : state) {
    std::vector<uint8_t> out;
    if (D3DXSaveMeshToXInMemory(*m, std::span(mats).first(1), D3DXF_FILEFORMAT_BINARY, out) !=
        S_OK) {
      state.SkipWithError("save failed");
      break;
    }
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SaveBinary65000Triangles)->Unit(benchmark::kMillisecond);

// The grid as a model: one position, normal and UV per grid vertex, one polygon per triangle.
std::unique_ptr<Model> GridModel() {
  const std::unique_ptr<Mesh> grid = Grid();
  auto model = CreateModel({});
  const uint32_t nv = grid->GetNumVertices();
  GrowPositionPools(*model, nv);
  model->normals.resize(nv);
  model->uvs.resize(nv);
  for (uint32_t v = 0; v < nv; ++v) {
    const auto p = grid->Position(v), n = grid->Normal(v);
    const auto uv = grid->TexCoord(v);
    model->positions[v] = {p[0], p[1], p[2]};
    model->normals[v] = {n[0], n[1], n[2]};
    model->uvs[v] = {uv[0], uv[1]};
  }
  model->positionCount = model->normalCount = model->uvCount = static_cast<int32_t>(nv);
  model->polygons.resize(grid->GetNumFaces());
  for (uint32_t f = 0; f < grid->GetNumFaces(); ++f) {
    Polygon& p = model->polygons[f];
    p.cornerCount = 3;
    for (int k = 0; k < 3; ++k) {
      const auto i = static_cast<int32_t>(grid->Index(size_t{f} * 3 + k));
      p.corners[k] = {i, i, 0, i};
    }
  }
  model->polygonCount = static_cast<int32_t>(grid->GetNumFaces());
  return model;
}

void BM_SaveXModel65000Triangles(benchmark::State& state) {
  const auto model = GridModel();
  const std::string hostPath = (std::filesystem::temp_directory_path() /
                                ("bench_x_model_" + std::to_string(::getpid()) + ".x"))
                                   .string();
  const std::string path = platform::LibraryPath(hostPath);
  RecordingModelHost host;
  for (auto _ : state) {
    if (SaveX(host, *model, path) != 1) {
      state.SkipWithError("save failed");
      break;
    }
  }
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(hostPath, ec);
  std::filesystem::remove(hostPath, ec);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["file_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SaveXModel65000Triangles)->Unit(benchmark::kMillisecond);

// The grid file shared with Assimp's reader.
struct GridXFile {
  GridXFile() : bytes(bench::GridXText(180)), hostPath(files.Write("grid.x", bytes)) {}
  bench::GridFiles files;
  std::vector<uint8_t> bytes;
  std::string hostPath;
};

const GridXFile& GridFile() {
  static const GridXFile file;
  return file;
}

void ReportGrid(benchmark::State& state) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GridFile().bytes.size()));
  state.counters["file_bytes"] = double(GridFile().bytes.size());
}

void BM_XTextModel3LoadGrid180(benchmark::State& state) {
  Library library;
  const std::string path = platform::LibraryPath(GridFile().hostPath);
  for (auto _ : state) {
    library.Model3_Release(0);
    library.SetPreallocateNext(true);
    const ModelId id = library.Model3_Load(library.Model3_Create(), path);
    const Model* m = library.Model3_Get(id);
    if (!m || m->polygonCount != 180 * 180 * 2) {
      state.SkipWithError("load failed");
      break;
    }
  }
  ReportGrid(state);
}
BENCHMARK(BM_XTextModel3LoadGrid180)->Unit(benchmark::kMillisecond);

// Whole processes, as a user meets them: `wz-convert info` on the grid file beside Assimp's own
// `assimp info` (when installed) on the same file. A process starts with no memory of its own,
// so these include taking every page the load writes.
void BM_ConvertInfoProcessXTextGrid180(benchmark::State& state) {
  const std::string program = bench::BuiltProgram("wz-convert");
  for (auto _ : state) {
    if (bench::Run({program, "info", GridFile().hostPath}) != 0) {
      state.SkipWithError("wz-convert info failed");
      break;
    }
  }
}
BENCHMARK(BM_ConvertInfoProcessXTextGrid180)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AssimpInfoProcessXTextGrid180(benchmark::State& state) {
  if (bench::Run({"sh", "-c", "command -v assimp"}) != 0) {
    state.SkipWithError("assimp is not installed");
    return;
  }
  for (auto _ : state) {
    if (bench::Run({"assimp", "info", GridFile().hostPath}) != 0) {
      state.SkipWithError("assimp info failed");
      break;
    }
  }
}
BENCHMARK(BM_AssimpInfoProcessXTextGrid180)->Unit(benchmark::kMillisecond)->UseRealTime();

#if WZ_BENCH_ASSIMP
void BM_AssimpReadFileXTextGrid180(benchmark::State& state) {
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(GridFile().hostPath, 0);
    if (!scene || scene->mNumMeshes == 0) {
      state.SkipWithError(("Assimp: " + std::string(importer.GetErrorString())).c_str());
      break;
    }
    benchmark::DoNotOptimize(scene->mMeshes[0]->mVertices);
  }
  ReportGrid(state);
}
BENCHMARK(BM_AssimpReadFileXTextGrid180)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
