// DXF speed: a 180 x 180 grid of 3DFACE entities (32400 faces, about 6 MB with CR LF line ends),
// loaded as the converter loads it (Model3_Load into a preallocated slot 0: the reader, the
// normals, the bounding boxes and the binding) and by the reader alone from memory (large files
// are read on several threads: times are wall-clock times). When Assimp's
// library is installed, its ReadFile without post-processing reads the same file in the same run.
// Reports bytes per second of file.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/grid_files.h"
#include "core/library.h"
#include "formats/formats.h"
#include "platform/file_io.h"

#if WZ_BENCH_ASSIMP
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

namespace {

using namespace wz;

constexpr uint32_t kGrid = 180;  // 32400 faces

struct DxfFile {
  DxfFile() : text(bench::GridDxf(kGrid)), hostPath(files.Write("grid.dxf", text)) {}
  bench::GridFiles files;
  std::string text;
  std::string hostPath;
};

const DxfFile& File() {
  static const DxfFile file;
  return file;
}

void Report(benchmark::State& state) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(File().text.size()));
  state.counters["file_bytes"] = double(File().text.size());
}

void BM_DxfModel3LoadGrid(benchmark::State& state) {
  Library library;
  const std::string path = platform::LibraryPath(File().hostPath);
  for (auto _ : state) {
    library.Model3_Release(0);
    library.SetPreallocateNext(true);
    const ModelId id = library.Model3_Load(library.Model3_Create(), path);
    const Model* m = library.Model3_Get(id);
    if (!m || m->polygonCount != int32_t(kGrid * kGrid)) {
      state.SkipWithError("load failed");
      break;
    }
  }
  Report(state);
}
BENCHMARK(BM_DxfModel3LoadGrid)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reader alone, on as many threads as the machine runs (argument 0) or on one.
void BM_DxfReaderFromMemoryGrid(benchmark::State& state) {
  const auto& text = File().text;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  RecordingModelHost host;
  DxfThreads threads;
  threads.maxRuns = unsigned(state.range(0));
  for (auto _ : state) {
    auto model = CreateModel({});
    if (LoadDxfFromMemory(host, *model, "grid.dxf", bytes, 0, threads) != 1) {
      state.SkipWithError("load failed");
      break;
    }
  }
  Report(state);
}
BENCHMARK(BM_DxfReaderFromMemoryGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#if WZ_BENCH_ASSIMP
void BM_AssimpReadFileDxfGrid(benchmark::State& state) {
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(File().hostPath, 0);
    if (!scene || scene->mNumMeshes == 0) {
      state.SkipWithError(("Assimp: " + std::string(importer.GetErrorString())).c_str());
      break;
    }
    benchmark::DoNotOptimize(scene->mMeshes[0]->mVertices);
  }
  Report(state);
}
BENCHMARK(BM_AssimpReadFileDxfGrid)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
