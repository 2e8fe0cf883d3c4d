// Makes the runtime data that ships beside the executables:
//   WZ_Heightmap.jpg          a 512 x 512 greyscale height map with hills, a crater and a ridge
//   Data/System/tex_null.bmp  the null texture: 32 x 32 opaque white, 24-bit BMP
//   Data/System/Toon.JPG      the toon ramp: 256 x 32, three bands from dark to light
//   Data/System/shadow2d.png  the blob shadow: 64 x 64 RGBA, black with a soft round alpha
//   Data/BumpGround/BumpGround.jpg        the ground's colour: 256 x 256 stone tiles and mortar
//   Data/BumpGround/BumpGroundNormal.tga  its normal map (24-bit, top row first): tangent-space
//                                         normals of the tiles' height, x right, y up the image
//   Data/BumpGround/BumpGround.x          the ground: a 40 x 40 plane at y = 0 of 8 x 8 quads,
//                                         normals up, the texture four times across, one
//                                         material naming BumpGround.jpg (text X file)
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

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Stone tiles: 4 x 4 per texture, mortar 6 texels wide between them, bevelled edges. Height in
// 0..1 at texel (x, y) of a `n` x `n` image; `tile` receives the tile's number (-1 in mortar).
double TileHeight(int x, int y, int n, int* tile) {
  const int cell = n / 4, mortar = 6;
  const int cx = x % cell, cy = y % cell;
  const int edge = std::min(std::min(cx, cell - 1 - cx), std::min(cy, cell - 1 - cy)) - mortar / 2;
  if (edge < 0) {
    if (tile) *tile = -1;
    return 0.0;
  }
  if (tile) *tile = (y / cell) * 4 + x / cell;
  // Rises over the first 8 texels from the mortar, with a little roughness on top.
  const double bevel = std::min(1.0, (edge + 1) / 8.0);
  const double rough = 0.015 * std::sin(x * 0.9 + y * 0.4) * std::sin(y * 1.3 - x * 0.2);
  return 0.2 + 0.8 * bevel + rough;
}

bool WriteBumpGround(const std::string& dir) {
  const int n = 256;
  std::vector<uint8_t> colour(size_t(n) * n * 3);
  std::vector<double> height(size_t(n) * n);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      int tile;
      height[size_t(y) * n + x] = TileHeight(x, y, n, &tile);
      uint8_t* p = &colour[(size_t(y) * n + x) * 3];
      if (tile < 0) {
        p[0] = 92, p[1] = 88, p[2] = 80;  // mortar
      } else {
        // Each tile its own shade of warm grey, speckled.
        const int shade = 150 + (tile * 37) % 50 + int(12 * std::sin(x * 2.1) * std::cos(y * 1.7));
        p[0] = uint8_t(std::clamp(shade + 10, 0, 255));
        p[1] = uint8_t(std::clamp(shade, 0, 255));
        p[2] = uint8_t(std::clamp(shade - 14, 0, 255));
      }
    }
  }
  // Normals from height differences (wrapping, as the texture tiles): x grows to the right, y
  // grows up the image (towards row 0), z out of the surface.
  std::vector<uint8_t> tga = {0,          0,
                              2,          0,
                              0,          0,
                              0,          0,
                              0,          0,
                              0,          0,
                              uint8_t(n), uint8_t(n >> 8),
                              uint8_t(n), uint8_t(n >> 8),
                              24,         0x20};
  const double strength = 6.0;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      auto h = [&](int px, int py) {
        return height[size_t((py + n) % n) * n + size_t((px + n) % n)];
      };
      const double dx = (h(x + 1, y) - h(x - 1, y)) * 0.5 * strength;
      const double dUp = (h(x, y - 1) - h(x, y + 1)) * 0.5 * strength;
      double nx = -dx, ny = -dUp, nz = 1.0;
      const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
      nx /= len, ny /= len, nz /= len;
      auto encode = [](double v) { return uint8_t(std::lround((v * 0.5 + 0.5) * 255.0)); };
      tga.push_back(encode(nz));  // B, G, R
      tga.push_back(encode(ny));
      tga.push_back(encode(nx));
    }
  }

  // The mesh: vertex (row r, column c) at x = -20 + 5c, z = -20 + 5r; faces clockwise seen from
  // above, so they face up.
  std::string x = "xof 0303txt 0032\n\nMesh Ground {\n 81;\n";
  char line[128];
  for (int r = 0; r <= 8; ++r) {
    for (int c = 0; c <= 8; ++c) {
      std::snprintf(line, sizeof line, " %.1f;0.0;%.1f;%s\n", -20.0 + 5 * c, -20.0 + 5 * r,
                    r == 8 && c == 8 ? ";" : ",");
      x += line;
    }
  }
  std::string faces = " 64;\n";
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      const int v00 = r * 9 + c, v10 = (r + 1) * 9 + c;
      std::snprintf(line, sizeof line, " 4;%d,%d,%d,%d;%s\n", v00, v10, v10 + 1, v00 + 1,
                    r == 7 && c == 7 ? ";" : ",");
      faces += line;
    }
  }
  x += faces;
  x += " MeshNormals {\n  81;\n";
  for (int i = 0; i < 81; ++i)
    x += std::string("  0.0;1.0;0.0;") + (i == 80 ? ";" : ",") + "\n";
  x += faces + " }\n MeshTextureCoords {\n  81;\n";
  for (int r = 0; r <= 8; ++r) {
    for (int c = 0; c <= 8; ++c) {
      std::snprintf(line, sizeof line, "  %.2f;%.2f;%s\n", c * 0.5, (8 - r) * 0.5,
                    r == 8 && c == 8 ? ";" : ",");
      x += line;
    }
  }
  x += " }\n MeshMaterialList {\n  1;\n  64;\n";
  for (int i = 0; i < 64; ++i)
    x += std::string("  0") + (i == 63 ? ";" : ",") + "\n";
  x += "  Material {\n   1.0;1.0;1.0;1.0;;\n   10.0;\n   0.2;0.2;0.2;;\n   0.0;0.0;0.0;;\n"
       "   TextureFilename {\n    \"BumpGround.jpg\";\n   }\n  }\n }\n}\n";

  return WriteJpeg(dir + "/BumpGround.jpg", n, n, 3, colour) &&
         WriteBytes(dir + "/BumpGroundNormal.tga", tga) &&
         WriteBytes(dir + "/BumpGround.x", std::vector<uint8_t>(x.begin(), x.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wz-make-data OUTPUT_DIR\n");
    return 2;
  }
  std::string out = argv[1];
  std::filesystem::create_directories(out + "/Data/System");
  std::filesystem::create_directories(out + "/Data/BumpGround");

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
            WritePngRgba(out + "/Data/System/shadow2d.png", 64, 64, shadow) &&
            WriteBumpGround(out + "/Data/BumpGround");
  if (!ok) {
    std::fprintf(stderr, "wz-make-data: could not write the data files under %s\n", out.c_str());
    return 1;
  }
  return 0;
}
