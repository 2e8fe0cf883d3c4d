// The frame function's cost over OpenGL: RenderFrame of one 65000-triangle model (shading mode
// 0, so every frame assembles the triangles on the CPU, lit by the library's point light) that
// fills a 1280 x 720 back buffer on the current OpenGL driver (llvmpipe headless), presented and
// waited for, against the bare OpenGL draw of the same triangles (the frame's own vertices, taken
// to clip space once) from one static vertex buffer in the same context. Counters give the
// program switches, draws and bytes uploaded per frame.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/library.h"
#include "gl_baseline.h"
#include "model/normals.h"
#include "platform/d3dx/math.h"

namespace {

using namespace wz;

constexpr int kColumns = 250, kRows = 130;  // 250 x 130 quads = 65000 triangles

// A library drawing one model that covers the default camera's view: a grid of quads at z = 0,
// 22.1 by 12.4 units, seen from 15 units away with a 45 degree field of view.
struct Scene {
  Library library;
  bool ready = false;
  ModelId id = kNoModel;

  Scene() {
    if (!library.LibInit(nullptr) || !library.Device()) return;
    const auto& pp = library.Device()->PresentParameters();
    if (pp.BackBufferWidth != 1280 || pp.BackBufferHeight != 720) return;
    id = library.Model3_Create();
    Model& m = *library.Model3_Get(id);
    const float halfHeight = 15.0f * std::tan(3.14159265f / 8.0f);
    const float halfWidth = halfHeight * 1280.0f / 720.0f;
    GrowPositionPools(m, size_t(kColumns + 1) * (kRows + 1));
    for (int r = 0; r <= kRows; ++r) {
      for (int c = 0; c <= kColumns; ++c) {
        m.positions[size_t(r * (kColumns + 1) + c)] = {
            -halfWidth + 2 * halfWidth * float(c) / kColumns,
            halfHeight - 2 * halfHeight * float(r) / kRows, 0.0f};
      }
    }
    m.positionCount = (kColumns + 1) * (kRows + 1);
    m.polygons.resize(size_t(kColumns) * kRows);
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < kColumns; ++c) {
        Polygon& p = m.polygons[size_t(r * kColumns + c)];
        const int a = r * (kColumns + 1) + c;
        // Clockwise on screen: bottom-left, top-left, top-right, bottom-right.
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
    ready = true;
  }

  void Frame() {
    library.RenderFrame();
    library.Device()->Present();
    glFinish();
  }
};

void ModelRenderFrame(benchmark::State& state) {
  Scene scene;
  if (!scene.ready) {
    state.SkipWithError("the library did not start with a 1280 x 720 back buffer");
    return;
  }
  scene.Frame();  // links the programs, makes the targets
  d3d::Device& device = *scene.library.Device();
  if (!device.HasPixelBackend()) {
    state.SkipWithError("no OpenGL context");
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
BENCHMARK(ModelRenderFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BareOpenGlDrawOfTheSameTriangles(benchmark::State& state) {
  Scene scene;
  if (!scene.ready) {
    state.SkipWithError("the library did not start with a 1280 x 720 back buffer");
    return;
  }
  scene.Frame();
  d3d::Device& device = *scene.library.Device();
  if (!device.HasPixelBackend()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  // The frame's vertices, through the frame's view and projection.
  SceneVertices vertices = scene.library.Rendering().sceneVertices;
  d3d::D3DMATRIX view, projection, both;
  device.GetTransform(d3d::D3DTS_VIEW, &view);
  device.GetTransform(d3d::D3DTS_PROJECTION, &projection);
  d3dx::D3DXMatrixMultiply(&both, &view, &projection);
  for (SceneVertex& v : vertices) {
    d3dx::D3DXVECTOR3 p{v.x, v.y, v.z};
    d3dx::D3DXVec3TransformCoord(&p, &p, &both);
    v.x = p.x, v.y = p.y, v.z = p.z;
  }
  wz::bench::BareGlDraw bare(
      {reinterpret_cast<const uint8_t*>(vertices.data()), vertices.size() * sizeof(SceneVertex)},
      1280, 720);
  bare.Draw();
  for (auto _ : state)
    bare.Draw();
  state.counters["triangles"] = double(vertices.size() / 3);
}
BENCHMARK(BareOpenGlDrawOfTheSameTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
