// The cost of on-screen text per frame: 100 queued lines of 40 characters drawn by
// TextQueue_Draw with the glyph cache warm (every character already in the cache pages).
//   Recording - the device keeps no calls: the library's and the device's own work only;
//   OpenGL    - the OpenGL backend (llvmpipe when headless); the frame is presented outside the
//               timing, so the figure is the CPU time of queueing and submitting, not of
//               rasterising.
// Counters: draw calls, program switches and bytes uploaded per frame, from the backend.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "core/library.h"
#include "platform/d3d/recording_backend.h"
#include "platform/text.h"

namespace {

using namespace wz;

constexpr int kLines = 100;

// 40 characters: ASCII, or 20 two-byte Japanese characters.
std::string Line(int i, bool japanese) {
  if (!japanese) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Line %03d: the quick brown fox jumps ove", i);
    return buf;
  }
  return platform::Utf8ToCp932("変換後の拡張子を選択して、複数ファイルを");
}

void TextQueueDraw(benchmark::State& state, d3d::BackendChoice backend, bool japanese) {
  d3d::SetBackendChoice(backend);
  Library library;
  library.AttachLogSink([](const std::string&) {});
  if (!library.LibInit(nullptr)) {
    state.SkipWithError("the library did not start");
    return;
  }
  d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
  d3d::Device& device = *library.Device();
  if (d3d::RecordingBackend* r = d3d::AsRecording(device.GetBackend(true))) r->SetKeeping(false);
  if (backend == d3d::BackendChoice::kOpenGL &&
      device.CurrentBackendKind() != d3d::BackendKind::kOpenGL) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  std::string lines[kLines];
  for (int i = 0; i < kLines; ++i)
    lines[i] = Line(i, japanese);

  auto frame = [&] {
    device.BeginScene();
    for (int i = 0; i < kLines; ++i)
      library.Text_Print(10, 7 * i, "%s", lines[i].c_str());
    library.TextQueue_Draw();
    device.EndScene();
  };
  frame();  // the glyph cache fills here
  device.Present();
  const d3d::BackendCounters before = device.Counters();
  for (auto _ : state) {
    frame();
    state.PauseTiming();
    device.Present();
    state.ResumeTiming();
  }
  const d3d::BackendCounters after = device.Counters();
  const double frames = double(state.iterations());
  state.counters["draws/frame"] = double(after.draws - before.draws) / frames;
  state.counters["programSwitches/frame"] =
      double(after.programSwitches - before.programSwitches) / frames;
  state.counters["uploadBytes/frame"] = double(after.bytesUploaded - before.bytesUploaded) / frames;
  state.counters["glyphs"] = double(library.Drawing2D().font->CachedGlyphCount());
}

BENCHMARK_CAPTURE(TextQueueDraw, Recording_Ascii, d3d::BackendChoice::kRecording, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(TextQueueDraw, OpenGL_Ascii, d3d::BackendChoice::kOpenGL, false)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(TextQueueDraw, Recording_Japanese, d3d::BackendChoice::kRecording, true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(TextQueueDraw, OpenGL_Japanese, d3d::BackendChoice::kOpenGL, true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
