// The shader scene against the fixed-function frame, same model, same run: RenderFrame of one
// 65000-triangle model (shading mode 0, lit by the library's point light) filling a 1280 x 720
// back buffer on the current OpenGL driver (llvmpipe headless), presented and waited for, once
// with shader mode on (shadow map, scene, depth of field and blend into the 1024 x 1024 targets,
// then the 2D effect over the window) and once with it off. The effects are read from the data
// folder beside the program (the build puts them there).
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>

#include "core/library.h"
#include "model/normals.h"

namespace {

using namespace wz;

constexpr int kColumns = 250, kRows = 130;  // 250 x 130 quads = 65000 triangles

// A grid of quads covering the default camera's view, tilted back 30 degrees so that the
// light's view (from above) sees it too.
struct Scene {
  Library library;
  bool ready = false;

  explicit Scene(bool shader) {
    if (!library.LibInit(nullptr) || !library.Device()) return;
    const auto& pp = library.Device()->PresentParameters();
    if (pp.BackBufferWidth != 1280 || pp.BackBufferHeight != 720) return;
    const ModelId id = library.Model3_Create();
    Model& m = *library.Model3_Get(id);
    const float halfHeight = 15.0f * std::tan(3.14159265f / 8.0f);
    const float halfWidth = halfHeight * 1280.0f / 720.0f;
    const float tilt = 0.5235988f;
    GrowPositionPools(m, size_t(kColumns + 1) * (kRows + 1));
    for (int r = 0; r <= kRows; ++r) {
      for (int c = 0; c <= kColumns; ++c) {
        const float y = halfHeight - 2 * halfHeight * float(r) / kRows;
        m.positions[size_t(r * (kColumns + 1) + c)] = {
            -halfWidth + 2 * halfWidth * float(c) / kColumns, y * std::cos(tilt),
            y * std::sin(tilt)};
      }
    }
    m.positionCount = (kColumns + 1) * (kRows + 1);
    m.polygons.resize(size_t(kColumns) * kRows);
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < kColumns; ++c) {
        Polygon& p = m.polygons[size_t(r * kColumns + c)];
        const int a = r * (kColumns + 1) + c;
        const int corners[4] = {a + kColumns + 1, a, a + 1, a + kColumns + 2};
        p.cornerCount = 4;
        for (int k = 0; k < 4; ++k)
          p.corners[size_t(k)].position = corners[k];
      }
    }
    m.polygonCount = int32_t(m.polygons.size());
    DeriveNormals(m);
    ComputeBoundsAndShading(m, false);
    library.ShadingModeSet(m, 0);
    m.loaded.Set(1);
    const int32_t o = library.ModelObject_Create();
    library.ModelObject_ModelSet(o, id);
    library.Light_Set({0, 0, -10}, {1, 1, 1});
    library.Rendering().fadeLevel = 1.0f;
    library.Effects().shaderMode = shader ? 1 : 0;
    ready = true;
  }

  void Frame() {
    library.RenderFrame();
    library.Device()->Present();
    glFinish();
  }
};

void Run(benchmark::State& state, bool shader) {
  Scene scene(shader);
  if (!scene.ready) {
    state.SkipWithError("the library did not start with a 1280 x 720 back buffer");
    return;
  }
  scene.Frame();  // links the programs, makes the targets, loads the effects
  d3d::Device& device = *scene.library.Device();
  if (!device.HasPixelBackend()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  if (shader && (!scene.library.Effects().shaderMode || !scene.library.EffectLoad("HLSL_3D") ||
                 !scene.library.EffectLoad("HLSL_2D"))) {
    state.SkipWithError("the shader scene could not run (no shadow map or no effect files)");
    return;
  }
  const d3d::BackendCounters before = device.Counters();
  for (auto _ : state)
    scene.Frame();
  const d3d::BackendCounters after = device.Counters();
  const double frames = double(state.iterations());
  state.counters["triangles"] = scene.library.DrawnTriangles();
  state.counters["program_switches_per_frame"] =
      double(after.programSwitches - before.programSwitches) / frames;
  state.counters["draws_per_frame"] = double(after.draws - before.draws) / frames;
  state.counters["MB_uploaded_per_frame"] =
      double(after.bytesUploaded - before.bytesUploaded) / frames / 1e6;
}

void FixedFunctionFrame(benchmark::State& state) {
  Run(state, false);
}
void ShaderSceneFrame(benchmark::State& state) {
  Run(state, true);
}
BENCHMARK(FixedFunctionFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ShaderSceneFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
