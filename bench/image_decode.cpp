// Decoding speed of a 2048 x 2048 JPEG: the library's decoder (DecodeImage: sniffing, header
// checks, libjpeg to B,G,R,A) against a plain libjpeg decode of the same bytes to the same
// layout, plus the whole texture creation the texture table does (sizes, colour key, mip chain).
// The JPEG is made here with libjpeg (quality 90, 2x2 chroma subsampling, smooth gradients with
// some detail).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

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
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = kSide;
    c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < kSide) {
      JSAMPROW row = &rgb[size_t{c.next_scanline} * kSide * 3];
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> b(out, out + size);
    std::free(out);
    return b;
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
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, jpeg.data(), jpeg.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&c);
    std::vector<uint8_t> pixels(size_t{c.output_width} * c.output_height * 4);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = &pixels[size_t{c.output_scanline} * c.output_width * 4];
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
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
