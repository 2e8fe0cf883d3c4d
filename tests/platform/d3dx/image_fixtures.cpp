#include "platform/d3dx/image_fixtures.h"

#include <png.h>

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <zlib.h>

#include "platform/d3d/d3d9.h"

namespace wz::test {

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Px PixelAt(const std::vector<uint8_t>& bgra, uint32_t width, uint32_t x, uint32_t y) {
  const uint8_t* p = &bgra.at((size_t{y} * width + x) * 4);
  return Px{p[0], p[1], p[2], p[3]};
}

std::vector<Px> DecodePixels(const std::vector<uint8_t>& bytes, d3dx::D3DXIMAGE_INFO* info) {
  d3dx::DecodedImage image;
  d3dx::ImageError e = d3dx::DecodeImage(bytes, image);
  EXPECT_EQ(e, d3dx::ImageError::kNone) << d3dx::ImageErrorText(e);
  if (info) *info = image.info;
  std::vector<Px> px;
  for (size_t i = 0; i + 4 <= image.pixels.size(); i += 4) {
    px.push_back(
        Px{image.pixels[i], image.pixels[i + 1], image.pixels[i + 2], image.pixels[i + 3]});
  }
  return px;
}

std::string ToString(const Px& p) {
  char s[48];
  std::snprintf(s, sizeof s, "B%d G%d R%d A%d", p.b, p.g, p.r, p.a);
  return s;
}

std::vector<uint8_t> BuildBmp(const BmpLayout& s) {
  const size_t before = 14 + s.headerSize + size_t(s.maskWords) * 4 + s.palette.size() + s.gap;
  const uint32_t off = s.offBits >= 0 ? uint32_t(s.offBits) : uint32_t(before);
  Bytes b;
  b.u8('B').u8('M').u32(uint32_t(std::max<size_t>(before, off) + s.pixels.size())).u32(0);
  b.u32(off).u32(s.headerSize);
  if (s.headerSize == 12) {
    b.u16(uint32_t(s.width)).u16(uint32_t(s.height)).u16(s.planes).u16(s.bpp);
  } else {
    b.u32(uint32_t(s.width)).u32(uint32_t(s.height)).u16(s.planes).u16(s.bpp);
    b.u32(s.compression).u32(uint32_t(s.pixels.size())).u32(2834).u32(2834);
    b.u32(s.colorsUsed).u32(0);
    if (s.headerSize >= 52 && s.headerSize != 64) {
      b.u32(s.masks[0]).u32(s.masks[1]).u32(s.masks[2]);
      if (s.headerSize >= 56) b.u32(s.masks[3]);
    }
  }
  b.zeros(14 + s.headerSize - b.data.size());
  for (int i = 0; i < s.maskWords; ++i)
    b.u32(s.masks[i]);
  b.append(s.palette);
  b.zeros(s.gap);
  if (s.offBits < 0 && b.data.size() < off) b.zeros(off - b.data.size());
  b.append(s.pixels);
  return b.data;
}

std::vector<uint8_t> BuildTga(const TgaLayout& s) {
  Bytes b;
  b.u8(uint32_t(s.id.size())).u8(s.hasMap ? 1 : 0).u8(s.imageType);
  b.u16(s.mapFirst).u16(s.mapLength).u8(s.mapBits);
  b.u16(0).u16(0).u16(s.width).u16(s.height).u8(s.depth).u8(s.descriptor);
  b.append(s.id).append(s.map).append(s.data);
  return b.data;
}

std::string SolidTga(uint16_t width, uint16_t height, uint8_t r, uint8_t g, uint8_t b) {
  TgaLayout tga;
  tga.width = width;
  tga.height = height;
  for (size_t i = 0; i < size_t(width) * height; ++i)
    tga.data.insert(tga.data.end(), {b, g, r});
  const std::vector<uint8_t> bytes = BuildTga(tga);
  return std::string(bytes.begin(), bytes.end());
}

uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

std::vector<uint8_t> BuildDds(const DdsLayout& s) {
  Bytes b;
  b.u32(FourCC("DDS ")).u32(s.headerSize).u32(0x1007 | (s.mipCount ? 0x20000 : 0));
  b.u32(s.height).u32(s.width).u32(0).u32(s.depth).u32(s.mipCount).zeros(44);
  b.u32(s.pfSize).u32(s.pfFlags).u32(s.fourCC).u32(s.bits);
  for (uint32_t m : s.masks)
    b.u32(m);
  b.u32(0x1000).u32(s.caps2).zeros(12);
  b.append(s.data);
  return b.data;
}

std::vector<uint8_t> EncodeJpeg(const JpegLayout& s) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = s.width;
  c.image_height = s.height;
  c.input_components = s.components;
  c.in_color_space = s.components == 1 ? JCS_GRAYSCALE : s.components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, s.quality, TRUE);
  if (!s.subsample) {
    for (int i = 0; i < c.num_components; ++i) {
      c.comp_info[i].h_samp_factor = 1;
      c.comp_info[i].v_samp_factor = 1;
    }
  }
  if (s.components == 4) c.write_Adobe_marker = s.adobe ? TRUE : FALSE;
  if (s.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  const size_t pitch = size_t{s.width} * s.components;
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&s.samples[pitch * c.next_scanline]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  std::free(out);
  return bytes;
}

namespace {

void PngWrite(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

bool WritePng(png_structp png, png_infop info, const PngLayout& s, std::vector<uint8_t>& out,
              std::vector<png_bytep>& rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_check_for_invalid_index(png, 0);  // tests write indices past the palette on purpose
  png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(s.palette.size() / 3);
  for (size_t i = 0; i < palette.size(); ++i) {
    palette[i] = png_color{s.palette[i * 3], s.palette[i * 3 + 1], s.palette[i * 3 + 2]};
  }
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
  if (!s.trnsAlpha.empty()) {
    png_set_tRNS(png, info, s.trnsAlpha.data(), int(s.trnsAlpha.size()), nullptr);
  }
  if (s.trnsKey) {
    png_color_16 key{};
    key.gray = s.key[0];
    key.red = s.key[0];
    key.green = s.key[1];
    key.blue = s.key[2];
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const PngLayout& s) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> out;
  std::vector<png_bytep> rows;
  for (const auto& r : s.rows)
    rows.push_back(const_cast<png_bytep>(r.data()));
  if (!WritePng(png, info, s, out, rows)) out.clear();
  png_destroy_write_struct(&png, &info);
  return out;
}

std::shared_ptr<d3d::Device> DeviceWithLargestTexture(uint32_t maxWidth, uint32_t maxHeight) {
  d3d::DeviceProfile profile;
  EXPECT_TRUE(d3d::ProfileByName("fixed", profile));
  profile.halCaps.MaxTextureWidth = maxWidth;
  profile.halCaps.MaxTextureHeight = maxHeight;
  d3d::Direct3D9 d3d(profile);
  d3d::D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = params.BackBufferHeight = 8;
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  d3d::SetBackendChoice(d3d::BackendChoice::kRecording);
  std::shared_ptr<d3d::Device> device;
  EXPECT_EQ(d3d.CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                             &params, &device),
            S_OK);
  d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
  return device;
}

std::vector<uint8_t> LargeGreyPng(uint32_t width, uint32_t height) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
    const uint32_t n = uint32_t(data.size());
    out.insert(out.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uint32_t crc = uint32_t(crc32(0, &out[start], uInt(out.size() - start)));
    out.insert(out.end(),
               {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
  };
  std::vector<uint8_t> ihdr = {uint8_t(width >> 24),
                               uint8_t(width >> 16),
                               uint8_t(width >> 8),
                               uint8_t(width),
                               uint8_t(height >> 24),
                               uint8_t(height >> 16),
                               uint8_t(height >> 8),
                               uint8_t(height),
                               8,
                               PNG_COLOR_TYPE_GRAY,
                               0,
                               0,
                               0};
  chunk("IHDR", ihdr);
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE);
  std::vector<uint8_t> idat, row(size_t{width} + 1), buffer(1 << 16);
  for (uint32_t y = 0; y <= height; ++y) {
    if (y < height) {
      row[0] = 0;  // no filter
      for (uint32_t x = 0; x < width; ++x)
        row[x + 1] = LargeGreyValue(x, y);
      z.next_in = row.data();
      z.avail_in = uInt(row.size());
    }
    do {
      z.next_out = buffer.data();
      z.avail_out = uInt(buffer.size());
      deflate(&z, y < height ? Z_NO_FLUSH : Z_FINISH);
      idat.insert(idat.end(), buffer.data(), z.next_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  chunk("IDAT", idat);
  chunk("IEND", {});
  return out;
}

std::vector<uint8_t> WithPngSize(std::vector<uint8_t> png, uint32_t width, uint32_t height) {
  // IHDR is the first chunk: length at 8, type at 12, data at 16, CRC at 29.
  auto be32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      png[at + i] = uint8_t(v >> (24 - 8 * i));
  };
  be32(16, width);
  be32(20, height);
  be32(29, uint32_t(crc32(0, &png[12], 17)));
  return png;
}

size_t FindJpegMarker(const std::vector<uint8_t>& jpeg, uint8_t code) {
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i + 1;
  }
  return 0;
}

std::vector<uint8_t> WithJpegSize(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
  size_t sof = FindJpegMarker(jpeg, 0xC0);
  if (sof == 0) sof = FindJpegMarker(jpeg, 0xC2);
  // marker code, length (2), precision (1), height (2), width (2), big-endian
  jpeg[sof + 4] = uint8_t(height >> 8);
  jpeg[sof + 5] = uint8_t(height);
  jpeg[sof + 6] = uint8_t(width >> 8);
  jpeg[sof + 7] = uint8_t(width);
  return jpeg;
}

namespace {

// A w x h test pattern of `components` bytes per pixel with distinct, smooth values.
std::vector<uint8_t> Pattern(uint32_t w, uint32_t h, int components) {
  std::vector<uint8_t> p(size_t{w} * h * components);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      for (int c = 0; c < components; ++c) {
        p[(size_t{y} * w + x) * components + c] = uint8_t(40 + x * 9 + y * 7 + c * 50);
      }
    }
  }
  return p;
}

Fixture Whole(std::string name, std::vector<uint8_t> bytes) {
  size_t n = bytes.size();
  return Fixture{std::move(name), std::move(bytes), n};
}

}  // namespace

// A JPEG file whose scan data is all there decodes without its 2-byte end marker.
Fixture WithoutEndMarker(const char* name, std::vector<uint8_t> bytes) {
  const size_t required = bytes.size() - 2;
  return {name, std::move(bytes), required};
}

std::vector<Fixture> AllFixtures() {
  std::vector<Fixture> f;
  {  // 24-bit, 3 x 2, bottom-up: rows of 9 bytes padded to 12; the last stored row needs no pad.
    BmpLayout s;
    s.width = 3;
    s.height = 2;
    s.pixels = Pattern(4, 2, 3);
    auto b = BuildBmp(s);
    size_t n = b.size();
    f.push_back({"bmp24", b, n - 3});
  }
  {
    BmpLayout s;
    s.headerSize = 124;
    s.width = 2;
    s.height = -2;
    s.bpp = 32;
    s.compression = 3;
    s.masks[0] = 0xFF0000;
    s.masks[1] = 0xFF00;
    s.masks[2] = 0xFF;
    s.masks[3] = 0xFF000000;
    s.pixels = Pattern(2, 2, 4);
    f.push_back(Whole("bmp32-v5", BuildBmp(s)));
  }
  {
    BmpLayout s;
    s.width = 3;
    s.height = 2;
    s.bpp = 8;
    s.colorsUsed = 3;
    s.palette = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
    s.pixels = {0, 1, 2, 0, 2, 1, 0, 0};
    auto b = BuildBmp(s);
    size_t n = b.size();
    f.push_back({"bmp8", b, n - 1});
  }
  {
    BmpLayout s;
    s.width = 5;
    s.height = 2;
    s.bpp = 4;
    s.compression = 2;
    s.palette.assign(16 * 4, 0x40);
    // a run of 2, a literal of 3, end of line, a run of 5, end of bitmap
    s.pixels = {2, 0x12, 0, 3, 0x34, 0x50, 0, 0, 5, 0x56, 0, 1};
    f.push_back(Whole("bmp-rle4", BuildBmp(s)));
  }
  {
    BmpLayout s;
    s.width = 4;
    s.height = 3;
    s.bpp = 8;
    s.compression = 1;
    s.palette.assign(256 * 4, 0x80);
    // a run of 4, end of line, a literal of 3 (padded), a delta one row up, a run of 1, end of
    // bitmap
    s.pixels = {4, 7, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 0, 1, 1, 9, 0, 1};
    f.push_back(Whole("bmp-rle8", BuildBmp(s)));
  }
  {
    BmpLayout s;
    s.width = 2;
    s.height = 2;
    s.bpp = 16;
    s.compression = 3;
    s.maskWords = 3;
    s.masks[0] = 0xF800;
    s.masks[1] = 0x07E0;
    s.masks[2] = 0x001F;
    s.pixels = Pattern(2, 2, 2);
    f.push_back(Whole("bmp16-565", BuildBmp(s)));
  }
  {
    BmpLayout s;
    s.headerSize = 12;
    s.width = 4;
    s.height = 1;
    s.bpp = 1;
    s.palette = {0, 0, 0, 255, 255, 255};
    s.pixels = {0xA0, 0, 0, 0};
    auto b = BuildBmp(s);
    size_t n = b.size();
    f.push_back({"bmp1-os2", b, n - 3});
  }
  {
    TgaLayout s;
    s.width = 3;
    s.height = 2;
    s.data = Pattern(3, 2, 3);
    f.push_back(Whole("tga24", BuildTga(s)));
  }
  {
    TgaLayout s;
    s.imageType = 10;
    s.depth = 32;
    s.descriptor = 0x28;
    s.width = 3;
    s.height = 2;
    s.id = {'i', 'd'};
    s.data = {0x82, 1, 2, 3, 4, 0x02, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    f.push_back(Whole("tga32-rle", BuildTga(s)));
  }
  {
    TgaLayout s;
    s.imageType = 1;
    s.depth = 8;
    s.width = 2;
    s.height = 2;
    s.hasMap = true;
    s.mapFirst = 2;
    s.mapLength = 2;
    s.mapBits = 24;
    s.map = {10, 20, 30, 40, 50, 60};
    s.data = {2, 3, 3, 2};
    f.push_back(Whole("tga-map", BuildTga(s)));
  }
  {
    TgaLayout s;
    s.imageType = 11;
    s.depth = 16;
    s.width = 4;
    s.height = 2;
    s.data = {0x83, 100, 200, 0x03, 1, 2, 3, 4, 5, 6, 7, 8};
    f.push_back(Whole("tga-grey-rle", BuildTga(s)));
  }
  {
    DdsLayout s;
    s.width = 2;
    s.height = 2;
    s.pfFlags = kDdsRgb | kDdsAlphaPixels;
    s.bits = 32;
    s.masks[0] = 0xFF0000;
    s.masks[1] = 0xFF00;
    s.masks[2] = 0xFF;
    s.masks[3] = 0xFF000000;
    s.data = Pattern(2, 2, 4);
    f.push_back(Whole("dds-argb", BuildDds(s)));
  }
  {
    DdsLayout s;
    s.width = 8;
    s.height = 4;
    s.mipCount = 2;
    s.pfFlags = kDdsFourCC;
    s.fourCC = FourCC("DXT1");
    // two blocks of level 0, then the one block of level 1, which the decoder does not need
    s.data = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4, 0x1F, 0x00, 0x00, 0xF8,
              0x1B, 0x1B, 0x1B, 0x1B, 0xFF, 0xFF, 0x00, 0x00, 0,    0,    0,    0};
    auto b = BuildDds(s);
    size_t n = b.size();
    f.push_back({"dds-dxt1", b, n - 8});
  }
  {
    DdsLayout s;
    s.width = 4;
    s.height = 4;
    s.pfFlags = kDdsFourCC;
    s.fourCC = FourCC("DXT5");
    s.data = {255, 0, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
    f.push_back(Whole("dds-dxt5", BuildDds(s)));
  }
  {
    DdsLayout s;
    s.width = 3;
    s.height = 1;
    s.pfFlags = kDdsLuminance;
    s.bits = 8;
    s.masks[0] = 0xFF;
    s.data = {0, 128, 255};
    f.push_back(Whole("dds-l8", BuildDds(s)));
  }
  {
    JpegLayout s;
    s.width = 16;
    s.height = 8;
    s.samples = Pattern(16, 8, 3);
    s.quality = 90;
    s.subsample = true;
    f.push_back(WithoutEndMarker("jpeg-rgb", EncodeJpeg(s)));
  }
  {
    JpegLayout s;
    s.width = 8;
    s.height = 8;
    s.components = 1;
    s.samples = Pattern(8, 8, 1);
    f.push_back(WithoutEndMarker("jpeg-grey", EncodeJpeg(s)));
  }
  {
    JpegLayout s;
    s.width = 8;
    s.height = 8;
    s.components = 4;
    s.samples = Pattern(8, 8, 4);
    f.push_back(WithoutEndMarker("jpeg-cmyk", EncodeJpeg(s)));
  }
  {
    JpegLayout s;
    s.width = 16;
    s.height = 16;
    s.samples = Pattern(16, 16, 3);
    s.progressive = true;
    f.push_back(WithoutEndMarker("jpeg-progressive", EncodeJpeg(s)));
  }
  {
    PngLayout s;
    s.width = 3;
    s.height = 2;
    auto p = Pattern(3, 2, 3);
    s.rows = {{p.begin(), p.begin() + 9}, {p.begin() + 9, p.end()}};
    f.push_back(Whole("png-rgb", EncodePng(s)));
  }
  {
    PngLayout s;
    s.width = 2;
    s.height = 2;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.bitDepth = 16;
    auto p = Pattern(2, 2, 8);
    s.rows = {{p.begin(), p.begin() + 16}, {p.begin() + 16, p.end()}};
    f.push_back(Whole("png-rgba16", EncodePng(s)));
  }
  {
    PngLayout s;
    s.width = 5;
    s.height = 2;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.bitDepth = 4;
    s.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    s.trnsAlpha = {128};
    s.rows = {{0x01, 0x20, 0x10}, {0x22, 0x11, 0x00}};
    f.push_back(Whole("png-palette-trns", EncodePng(s)));
  }
  {
    PngLayout s;
    s.width = 9;
    s.height = 9;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.bitDepth = 2;
    s.interlace = true;
    for (uint32_t y = 0; y < 9; ++y)
      s.rows.push_back({uint8_t(0x1B + y), 0xE4, 0x40});
    f.push_back(Whole("png-grey2-adam7", EncodePng(s)));
  }
  return f;
}

std::vector<uint8_t> FixtureBytes(const std::string& name) {
  for (auto& f : AllFixtures()) {
    if (f.name == name) return std::move(f.bytes);
  }
  return {};
}

}  // namespace wz::test
