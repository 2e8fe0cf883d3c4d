// The whole normal-map conversion (read the file, decode, texture with its mip chain and colour
// key, scatter and differences, BMP written) on a 2048 x 2048 greyscale JPEG height map, beside a
// plain libjpeg decode of the same bytes to B,G,R,A in the same run. Compare them with
// --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true: the machines this
// runs on vary by 10-20 % from one minute to the next.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/normal_map.h"
#include "core/library.h"
#include "jpeg_bench.h"
#include "platform/d3dx/image_decode.h"
#include "platform/file_io.h"

namespace {

constexpr unsigned kSide = 2048;

const std::vector<uint8_t>& HeightMap() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> grey(size_t{kSide} * kSide);
    for (unsigned y = 0; y < kSide; ++y) {
      for (unsigned x = 0; x < kSide; ++x) {
        double h =
            0.5 + 0.25 * std::sin(x / 97.0) * std::cos(y / 61.0) + 0.1 * std::sin((x + y) / 13.0);
        grey[size_t{y} * kSide + x] = uint8_t(std::lround(255 * std::clamp(h, 0.0, 1.0)));
      }
    }
    return wz::bench::EncodeJpeg(grey, kSide, kSide, 1);
  }();
  return bytes;
}

// A decode as a program does it: a new image buffer for each file.
void BM_PlainLibjpegDecode(benchmark::State& state) {
  const auto& jpeg = HeightMap();
  for (auto _ : state) {
    std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
    wz::bench::PlainLibjpegDecode(jpeg, pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_PlainLibjpegDecode)->Unit(benchmark::kMillisecond);

// The same decode into one buffer reused across iterations (no fresh pages to fault in).
void BM_PlainLibjpegDecodeReusedBuffer(benchmark::State& state) {
  const auto& jpeg = HeightMap();
  std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
  for (auto _ : state) {
    wz::bench::PlainLibjpegDecode(jpeg, pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_PlainLibjpegDecodeReusedBuffer)->Unit(benchmark::kMillisecond);

// This library's own decode of the same file (grey rows widened by its own code), without the
// texture, its mip chain and colour key, or the normal map.
void BM_LibraryDecodeImage(benchmark::State& state) {
  const auto& jpeg = HeightMap();
  for (auto _ : state) {
    wz::d3dx::DecodedImage image;
    if (wz::d3dx::DecodeImage(jpeg, image) != wz::d3dx::ImageError::kNone) {
      state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(image.pixels.data());
  }
}
BENCHMARK(BM_LibraryDecodeImage)->Unit(benchmark::kMillisecond);

void BM_NormalMapConversion(benchmark::State& state) {
  const auto& jpeg = HeightMap();
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "wz-bench-normal-map";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "WZ_Heightmap.jpg", std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
  const std::string libraryDir = wz::platform::LibraryPath(dir.string());
  for (auto _ : state) {
    // A fresh library each time: the texture table only grows.
    state.PauseTiming();
    auto library = std::make_unique<wz::Library>();
    state.ResumeTiming();
    wz::RunNormalMapConversion(*library, libraryDir);
    state.PauseTiming();
    library.reset();
    state.ResumeTiming();
  }
  if (!std::filesystem::exists(dir / "WZ_Normalmap.BMP")) state.SkipWithError("no output");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_NormalMapConversion)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
