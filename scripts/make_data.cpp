// Makes the runtime data that ships beside the executables:
//   WZ_Heightmap.jpg          a 512 x 512 greyscale height map with hills, a crater and a ridge
//   Data/System/tex_null.bmp  the null texture: 32 x 32 opaque white, 24-bit BMP
//   Data/System/Toon.JPG      the toon ramp: 256 x 32, three bands from dark to light
//   Data/System/shadow2d.png  the blob shadow: 64 x 64 RGBA, black with a soft round alpha
// Usage: wz-make-data OUTPUT_DIR
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

bool WriteJpeg(const std::string& path, int width, int height, int components,
               const std::vector<uint8_t>& pixels) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = width;
  c.image_height = height;
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t(c.next_scanline) * width * components]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

bool WritePngRgba(const std::string& path, int width, int height,
                  const std::vector<uint8_t>& rgba) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    png_write_row(png, const_cast<png_bytep>(&rgba[size_t(y) * width * 4]));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(uint8_t(v >> (8 * i)));
}

bool WriteBmp24(const std::string& path, int width, int height, uint8_t grey) {
  int rowBytes = (width * 3 + 3) & ~3;
  std::vector<uint8_t> b = {'B', 'M'};
  Put32(b, 54 + rowBytes * height);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, width);
  Put32(b, height);
  b.push_back(1), b.push_back(0), b.push_back(24), b.push_back(0);
  for (int i = 0; i < 6; ++i)
    Put32(b, i == 2 || i == 3 ? 2834 : 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < rowBytes; ++x)
      b.push_back(x < width * 3 ? grey : 0);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

// Height in 0..1: a terraced hill, a second rounded hill, a crater with a sharp rim, ripples and
// a gentle slope, steep enough that every feature shows in the normal map.
double Height(double x, double y) {
  auto bump = [](double dx, double dy, double r) {
    return std::exp(-(dx * dx + dy * dy) / (r * r));
  };
  double hill = 0.6 * bump(x - 0.3, y - 0.35, 0.18);
  double h = 0.1 + 0.1 * x + std::floor(hill * 8.0) / 8.0;
  h += 0.35 * bump(x - 0.75, y - 0.72, 0.08);
  double d = std::hypot(x - 0.72, y - 0.28);
  h += 0.3 * std::exp(-std::pow((d - 0.1) / 0.015, 2)) - 0.1 * (d < 0.1 ? 1.0 : 0.0);
  h += 0.04 * std::sin(60.0 * x) * bump(x - 0.25, y - 0.8, 0.15);
  return std::clamp(h, 0.0, 1.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wz-make-data OUTPUT_DIR\n");
    return 2;
  }
  std::string out = argv[1];
  std::filesystem::create_directories(out + "/Data/System");

  const int n = 512;
  std::vector<uint8_t> height(n * n);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      height[y * n + x] = uint8_t(std::lround(255.0 * Height(x / double(n), y / double(n))));
    }
  }

  std::vector<uint8_t> toon(256 * 32 * 3);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 256; ++x) {
      uint8_t v = x < 96 ? 110 : x < 192 ? 190 : 255;
      for (int c = 0; c < 3; ++c)
        toon[(y * 256 + x) * 3 + c] = v;
    }
  }

  std::vector<uint8_t> shadow(64 * 64 * 4);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      double d = std::hypot(x - 31.5, y - 31.5) / 32.0;
      uint8_t a = uint8_t(std::lround(255.0 * std::clamp(1.0 - d * d, 0.0, 1.0) * 0.75));
      uint8_t* p = &shadow[(y * 64 + x) * 4];
      p[0] = p[1] = p[2] = 0;
      p[3] = a;
    }
  }

  bool ok = WriteJpeg(out + "/WZ_Heightmap.jpg", n, n, 1, height) &&
            WriteBmp24(out + "/Data/System/tex_null.bmp", 32, 32, 255) &&
            WriteJpeg(out + "/Data/System/Toon.JPG", 256, 32, 3, toon) &&
            WritePngRgba(out + "/Data/System/shadow2d.png", 64, 64, shadow);
  if (!ok) {
    std::fprintf(stderr, "wz-make-data: could not write the data files under %s\n", out.c_str());
    return 1;
  }
  return 0;
}
