// PNG encoding to memory with libpng.
#include "platform/d3dx/png_encode.h"

#include <png.h>
#include <zlib.h>

namespace wz::d3dx {
namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void NoFlush(png_structp) {}

}  // namespace

bool EncodePng(std::span<const uint32_t> pixels, uint32_t width, uint32_t height, bool alpha,
               std::vector<uint8_t>& out) {
  out.clear();
  if (width == 0 || height == 0 || pixels.size() < size_t{width} * height) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  const int channels = alpha ? 4 : 3;
  std::vector<uint8_t> row(size_t{width} * channels);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    out.clear();
    return false;
  }
  png_set_write_fn(png, &out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Frames are big and looked at once: fast compression is enough. One filter for every row
  // (each row as the difference from the one above) with run-length matching is several times
  // faster than trying every filter per row, and on rendered pictures, which are mostly flat
  // areas, gives files as small.
  png_set_compression_level(png, 3);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_set_compression_strategy(png, Z_RLE);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t* src = pixels.data() + size_t{y} * width;
    uint8_t* dst = row.data();
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t p = src[x];
      *dst++ = uint8_t(p >> 16);
      *dst++ = uint8_t(p >> 8);
      *dst++ = uint8_t(p);
      if (alpha) *dst++ = uint8_t(p >> 24);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace wz::d3dx
