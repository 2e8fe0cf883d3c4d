// Decoding speed of a 2048 x 2048 JPEG: the library's decoder (DecodeImage: sniffing, header
// checks, libjpeg to B,G,R,A) against a plain libjpeg decode of the same bytes to the same
// layout, plus the whole texture creation the texture table does (sizes, colour key, mip chain).
// The JPEG is made here with libjpeg (quality 90, libjpeg's default 2x2 chroma subsampling, smooth
// gradients with some detail).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "jpeg_bench.h"
#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/texture_file.h"

namespace {

constexpr unsigned kSide = 2048;

const std::vector<uint8_t>& Jpeg() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> rgb(size_t{kSide} * kSide * 3);
    for (unsigned y = 0; y < kSide; ++y) {
      for (unsigned x = 0; x < kSide; ++x) {
        uint8_t* p = &rgb[(size_t{y} * kSide + x) * 3];
        p[0] = uint8_t(x / 8 + ((x * y) >> 9));
        p[1] = uint8_t(y / 8 + (x ^ y) % 17);
        p[2] = uint8_t((x + y) / 16 + ((x * 7 + y * 13) % 23));
      }
    }
    return wz::bench::EncodeJpeg(rgb, kSide, kSide, 3);
  }();
  return bytes;
}

void BM_DecodeImage(benchmark::State& state) {
  const auto& jpeg = Jpeg();
  for (auto _ : state) {
    wz::d3dx::DecodedImage image;
    if (wz::d3dx::DecodeImage(jpeg, image) != wz::d3dx::ImageError::kNone) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.counters["MB/s"] = benchmark::Counter(double(jpeg.size()) * double(state.iterations()),
                                              benchmark::Counter::kIsRate);
  state.counters["Mpx/s"] = benchmark::Counter(
      double(kSide) * kSide * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeImage)->Unit(benchmark::kMillisecond);

void BM_PlainLibjpeg(benchmark::State& state) {
  const auto& jpeg = Jpeg();
  for (auto _ : state) {
    std::vector<uint8_t> pixels(size_t{kSide} * kSide * 4);
    wz::bench::PlainLibjpegDecode(jpeg, pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["Mpx/s"] = benchmark::Counter(
      double(kSide) * kSide * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainLibjpeg)->Unit(benchmark::kMillisecond);

void BM_CreateTextureFromJpeg(benchmark::State& state) {
  const auto& jpeg = Jpeg();
  for (auto _ : state) {
    std::shared_ptr<wz::d3d::Texture> texture;
    wz::HRESULT hr = wz::d3dx::D3DXCreateTextureFromFileInMemoryEx(
        nullptr, jpeg, wz::D3DX_DEFAULT, wz::D3DX_DEFAULT, 0, 0, wz::D3DFMT_A8R8G8B8,
        wz::D3DPOOL_MANAGED, wz::D3DX_FILTER_POINT, wz::D3DX_FILTER_POINT, 0xFF000000, nullptr,
        nullptr, &texture);
    if (wz::Failed(hr)) {
      state.SkipWithError("texture creation failed");
      break;
    }
    benchmark::DoNotOptimize(texture.get());
  }
}
BENCHMARK(BM_CreateTextureFromJpeg)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
