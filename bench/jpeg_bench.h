// JPEG pieces shared by the benchmarks: files encoded in memory with libjpeg, and the plain
// libjpeg decode to B,G,R,A that the library's own decoding is measured against.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include <jpeglib.h>

namespace wz::bench {

// A baseline JPEG at quality 90 with libjpeg's default sampling of `samples` (rows of width x
// components bytes; 1 component is grey, 3 are RGB).
inline std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& samples, unsigned width,
                                       unsigned height, int components) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < height) {
    JSAMPROW row = const_cast<uint8_t*>(&samples[size_t{c.next_scanline} * width * components]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  std::free(out);
  return bytes;
}

// Decodes a JPEG as a plain libjpeg program does: straight to B,G,R,A, one row per call, into
// `bgra`, which holds width x height x 4 bytes.
inline void PlainLibjpegDecode(std::span<const uint8_t> jpeg, uint8_t* bgra) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), jpeg.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&d);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = bgra + size_t{d.output_scanline} * d.output_width * 4;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
}

}  // namespace wz::bench
