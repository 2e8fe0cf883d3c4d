// The device's cost over OpenGL: one DrawPrimitiveUP of 65000 triangles of scene vertices
// (format 0x1D2, lit by one point light) per frame at 1280 x 720 on the current OpenGL driver
// (llvmpipe headless), against the bare OpenGL draw of the same triangles from one static vertex
// buffer in the same context. Both frames clear, draw and wait for the pixels. Counters give the
// program switches, programs linked and bytes uploaded per frame.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstring>
#include <memory>
#include <vector>

#include "gl_baseline.h"
#include "platform/d3d/device.h"

namespace {

using namespace wz;
using namespace wz::d3d;

constexpr int kWidth = 1280, kHeight = 720;
constexpr int kColumns = 250, kRows = 130;  // 250 x 130 quads = 65000 triangles

struct SceneVertex {
  float x, y, z, nx, ny, nz;
  uint32_t diffuse, specular;
  float u, v;
};
static_assert(sizeof(SceneVertex) == 40);

// A grid of quads over the whole target, each split into two triangles, coloured by position.
std::vector<SceneVertex> Grid() {
  std::vector<SceneVertex> v;
  v.reserve(size_t{kColumns} * kRows * 6);
  auto at = [](int c, int r) {
    const float x = -1.0f + 2.0f * float(c) / kColumns, y = 1.0f - 2.0f * float(r) / kRows;
    const uint32_t colour =
        0xFF000000u | uint32_t(c * 255 / kColumns) << 16 | uint32_t(r * 255 / kRows) << 8 | 0x80;
    return SceneVertex{x, y, 0.5f, 0, 0, -1, colour, 0, float(c) / kColumns, float(r) / kRows};
  };
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      const SceneVertex a = at(c, r), b = at(c + 1, r), d = at(c, r + 1), e = at(c + 1, r + 1);
      v.insert(v.end(), {a, b, d, b, e, d});
    }
  }
  return v;
}

std::unique_ptr<Device> MakeDevice() {
  SetBackendChoice(BackendChoice::kOpenGL);
  D3DPRESENT_PARAMETERS p;
  p.BackBufferWidth = kWidth;
  p.BackBufferHeight = kHeight;
  p.EnableAutoDepthStencil = true;
  p.AutoDepthStencilFormat = D3DFMT_D24S8;
  auto device =
      std::make_unique<Device>(D3DCAPS9{}, D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p);
  D3DMATRIX identity;
  device->SetTransform(D3DTS_WORLD, &identity);
  device->SetTransform(D3DTS_VIEW, &identity);
  device->SetTransform(D3DTS_PROJECTION, &identity);
  D3DMATERIAL9 m;
  m.Diffuse = m.Ambient = {1, 1, 1, 1};
  device->SetMaterial(&m);
  D3DLIGHT9 light;
  light.Type = D3DLIGHT_POINT;
  light.Diffuse = {1, 1, 1, 0};
  light.Position = {0, 0, -10};
  light.Range = 1000;
  light.Attenuation0 = 1;
  device->SetLight(1, &light);
  device->LightEnable(1, 1);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1);
  return device;
}

void DeviceDrawPrimitiveUP(benchmark::State& state) {
  const std::vector<SceneVertex> grid = Grid();
  auto device = MakeDevice();
  auto frame = [&] {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device->BeginScene();
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(grid.size() / 3), grid.data(),
                            sizeof(SceneVertex));
    device->EndScene();
    device->Present();
    glFinish();
  };
  frame();  // links the program and makes the targets
  if (!device->HasPixelBackend()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  const BackendCounters before = device->Counters();
  for (auto _ : state)
    frame();
  const BackendCounters after = device->Counters();
  const double frames = double(state.iterations());
  state.counters["program_switches_per_frame"] =
      double(after.programSwitches - before.programSwitches) / frames;
  state.counters["programs_linked"] = double(after.programsLinked - before.programsLinked);
  state.counters["MB_uploaded_per_frame"] =
      double(after.bytesUploaded - before.bytesUploaded) / frames / 1e6;
  state.counters["draws_per_frame"] = double(after.draws - before.draws) / frames;
}
BENCHMARK(DeviceDrawPrimitiveUP)->Unit(benchmark::kMillisecond)->UseRealTime();

void BareOpenGlDraw(benchmark::State& state) {
  const std::vector<SceneVertex> grid = Grid();
  auto device = MakeDevice();  // for its context
  device->GetBackend(true);
  if (!device->HasPixelBackend()) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  wz::bench::BareGlDraw bare({reinterpret_cast<const uint8_t*>(grid.data()), grid.size() * 40},
                             kWidth, kHeight);
  bare.Draw();
  for (auto _ : state)
    bare.Draw();
}
BENCHMARK(BareOpenGlDraw)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
