#include "platform/d3dx/texture_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/d3d/device.h"
#include "platform/d3dx/image_fixtures.h"
#include "platform/file_io.h"
#include "support/memory_ceiling.h"

namespace wz::d3dx {
namespace {

using d3d::D3DLOCKED_RECT;
using d3d::D3DSURFACE_DESC;
using test::Px;

// A 32-bit top-left TGA whose pixel (x, y) is px(x, y): stored order is display order.
template <typename F>
std::vector<uint8_t> Tga(uint16_t w, uint16_t h, F px) {
  test::TgaLayout s;
  s.depth = 32;
  s.descriptor = 0x28;
  s.width = w;
  s.height = h;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      Px p = px(x, y);
      s.data.insert(s.data.end(), {p.b, p.g, p.r, p.a});
    }
  }
  return test::BuildTga(s);
}

// Pixel (x, y) of the source: blue = x, green = y, so every pixel tells where it came from.
Px Coord(uint32_t x, uint32_t y) {
  return Px{uint8_t(x), uint8_t(y), 100, 255};
}

struct Loaded {
  HRESULT hr = E_FAIL;
  std::shared_ptr<d3d::Texture> texture;
  D3DXIMAGE_INFO info{};
  ImageError reason = ImageError::kNone;
};

// The texture table's call: default sizes, full chain, A8R8G8B8, managed, point filters, key.
Loaded Load(const std::vector<uint8_t>& bytes, UINT w = D3DX_DEFAULT, UINT h = D3DX_DEFAULT,
            UINT levels = 0, D3DFORMAT format = D3DFMT_A8R8G8B8, DWORD filter = D3DX_FILTER_POINT,
            D3DCOLOR key = 0xFF000000) {
  Loaded l;
  l.hr = D3DXCreateTextureFromFileInMemoryEx(nullptr, bytes, w, h, levels, 0, format,
                                             D3DPOOL_MANAGED, filter, D3DX_FILTER_POINT, key,
                                             &l.info, nullptr, &l.texture, &l.reason);
  return l;
}

Px Texel(d3d::Texture& t, UINT level, UINT x, UINT y) {
  D3DLOCKED_RECT r{};
  EXPECT_EQ(t.LockRect(level, &r, nullptr, D3DLOCK_READONLY), S_OK);
  const uint8_t* p = static_cast<const uint8_t*>(r.pBits) + size_t(r.Pitch) * y + x * 4;
  Px px{p[0], p[1], p[2], p[3]};
  EXPECT_EQ(t.UnlockRect(level), S_OK);
  return px;
}

TEST(TextureFile, PointSamplesIntoPowerOfTwoSizes) {
  // 3 x 5 becomes 4 x 8: columns trunc(x * 0.75), rows trunc(y * 0.625).
  Loaded l = Load(Tga(3, 5, Coord));
  ASSERT_EQ(l.hr, S_OK);
  D3DSURFACE_DESC d{};
  ASSERT_EQ(l.texture->GetLevelDesc(0, &d), S_OK);
  EXPECT_EQ(d.Width, 4u);
  EXPECT_EQ(d.Height, 8u);
  EXPECT_EQ(d.Format, D3DFMT_A8R8G8B8);
  EXPECT_EQ(d.Pool, D3DPOOL_MANAGED);
  const uint8_t columns[4] = {0, 0, 1, 2};
  const uint8_t rows[8] = {0, 0, 1, 1, 2, 3, 3, 4};
  for (UINT y = 0; y < 8; ++y) {
    for (UINT x = 0; x < 4; ++x) {
      EXPECT_EQ(Texel(*l.texture, 0, x, y), Coord(columns[x], rows[y])) << x << "," << y;
    }
  }
  // The full chain: each level samples every second texel of the level above.
  ASSERT_EQ(l.texture->GetLevelCount(), 4u);
  for (UINT y = 0; y < 4; ++y) {
    for (UINT x = 0; x < 2; ++x) {
      EXPECT_EQ(Texel(*l.texture, 1, x, y), Coord(columns[2 * x], rows[2 * y]));
    }
  }
  EXPECT_EQ(Texel(*l.texture, 2, 0, 0), Coord(0, 0));
  EXPECT_EQ(Texel(*l.texture, 2, 0, 1), Coord(columns[0], rows[4]));
  EXPECT_EQ(Texel(*l.texture, 3, 0, 0), Coord(0, 0));
  // The info describes the file, not the texture.
  EXPECT_EQ(l.info.Width, 3u);
  EXPECT_EQ(l.info.Height, 5u);
  EXPECT_EQ(l.info.ImageFileFormat, D3DXIFF_TGA);
}

TEST(TextureFile, DownscalingKeepsTheFirstOfEachGroup) {
  // 8 x 2 into an explicit 3 x 1: columns trunc(x * 8 / 3) = 0, 2, 5.
  Loaded l = Load(Tga(8, 2, Coord), 3, 1);
  ASSERT_EQ(l.hr, S_OK);
  EXPECT_EQ(Texel(*l.texture, 0, 0, 0), Coord(0, 0));
  EXPECT_EQ(Texel(*l.texture, 0, 1, 0), Coord(2, 0));
  EXPECT_EQ(Texel(*l.texture, 0, 2, 0), Coord(5, 0));
  EXPECT_EQ(l.texture->GetLevelCount(), 2u);  // 3 x 1, 1 x 1
}

TEST(TextureFile, SizesRoundUpToPowersOfTwo) {
  struct Case {
    uint16_t w, h;
    UINT tw, th, levels;
  } cases[] = {
      {1, 1, 1, 1, 1},           {3, 5, 4, 8, 4},         {300, 200, 512, 256, 10},
      {700, 100, 1024, 128, 11}, {256, 256, 256, 256, 9}, {257, 1, 512, 1, 10},
  };
  for (const Case& c : cases) {
    test::TgaLayout grey;
    grey.imageType = 3;
    grey.depth = 8;
    grey.width = c.w;
    grey.height = c.h;
    grey.data.assign(size_t{c.w} * c.h, 50);
    Loaded l = Load(test::BuildTga(grey));
    ASSERT_EQ(l.hr, S_OK) << c.w << "x" << c.h;
    D3DSURFACE_DESC d{};
    ASSERT_EQ(l.texture->GetLevelDesc(0, &d), S_OK);
    EXPECT_EQ(d.Width, c.tw) << c.w;
    EXPECT_EQ(d.Height, c.th) << c.h;
    EXPECT_EQ(l.texture->GetLevelCount(), c.levels) << c.w << "x" << c.h;
    EXPECT_EQ(l.info.Width, c.w);
    EXPECT_EQ(l.info.Height, c.h);
  }
}

TEST(TextureFile, SizeAndLevelArguments) {
  auto sizeOf = [](const Loaded& l) {
    D3DSURFACE_DESC d{};
    EXPECT_EQ(l.texture->GetLevelDesc(0, &d), S_OK);
    return std::make_pair(d.Width, d.Height);
  };
  auto src = Tga(3, 5, Coord);
  EXPECT_EQ(sizeOf(Load(src, 0, 0)), std::make_pair(4u, 8u));
  EXPECT_EQ(sizeOf(Load(src, D3DX_DEFAULT_NONPOW2, D3DX_FROM_FILE)), std::make_pair(3u, 5u));
  EXPECT_EQ(sizeOf(Load(src, 6, 2)), std::make_pair(6u, 2u));
  EXPECT_EQ(Load(src, D3DX_DEFAULT, D3DX_DEFAULT, 1).texture->GetLevelCount(), 1u);
  EXPECT_EQ(Load(src, D3DX_DEFAULT, D3DX_DEFAULT, 2).texture->GetLevelCount(), 2u);
  EXPECT_EQ(Load(src, D3DX_DEFAULT, D3DX_DEFAULT, 100).texture->GetLevelCount(), 4u);
  EXPECT_EQ(Load(src, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT).texture->GetLevelCount(), 4u);
  // D3DX_FROM_FILE takes the file's own count: a DDS with two levels.
  Loaded dds = Load(test::FixtureBytes("dds-dxt1"), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_FROM_FILE);
  ASSERT_EQ(dds.hr, S_OK);
  EXPECT_EQ(dds.texture->GetLevelCount(), 2u);
  EXPECT_EQ(dds.info.Format, D3DFMT_DXT1);
}

TEST(TextureFile, FilterNoneCopiesUnscaled) {
  Loaded l =
      Load(Tga(3, 5, Coord), D3DX_DEFAULT, D3DX_DEFAULT, 1, D3DFMT_A8R8G8B8, D3DX_FILTER_NONE);
  ASSERT_EQ(l.hr, S_OK);
  for (UINT y = 0; y < 8; ++y) {
    for (UINT x = 0; x < 4; ++x) {
      Px expected = (x < 3 && y < 5) ? Coord(x, y) : Px{0, 0, 0, 0};
      EXPECT_EQ(Texel(*l.texture, 0, x, y), expected) << x << "," << y;
    }
  }
}

TEST(TextureFile, ColourKeyMatchesExactArgbOnly) {
  const Px pixels[] = {{0, 0, 0, 255}, {0, 0, 0, 254},   {1, 0, 0, 255},
                       {0, 0, 0, 0},   {0, 0, 255, 255}, {0, 1, 0, 255}};
  auto src = Tga(6, 1, [&](uint32_t x, uint32_t) { return pixels[x]; });
  struct Case {
    D3DCOLOR key;
    std::vector<Px> expected;
  } cases[] = {
      {0xFF000000, {{0, 0, 0, 0}, pixels[1], pixels[2], pixels[3], pixels[4], pixels[5]}},
      {0, {pixels[0], pixels[1], pixels[2], pixels[3], pixels[4], pixels[5]}},
      {0xFFFF0000, {pixels[0], pixels[1], pixels[2], pixels[3], {0, 0, 0, 0}, pixels[5]}},
  };
  for (const Case& c : cases) {
    Loaded l = Load(src, 6, 1, 1, D3DFMT_A8R8G8B8, D3DX_FILTER_POINT, c.key);
    ASSERT_EQ(l.hr, S_OK);
    for (UINT x = 0; x < 6; ++x) {
      EXPECT_EQ(Texel(*l.texture, 0, x, 0), c.expected[x]) << std::hex << c.key << " " << x;
    }
  }
}

TEST(TextureFile, ColourKeyAppliesToOpaqueSources) {
  // JPEG pixels are opaque: pure black becomes transparent black in the texture table's call.
  test::JpegLayout s;
  s.width = 8;
  s.height = 8;
  s.samples.assign(8 * 8 * 3, 0);
  Loaded l = Load(test::EncodeJpeg(s));
  ASSERT_EQ(l.hr, S_OK);
  EXPECT_EQ(Texel(*l.texture, 0, 3, 3), (Px{0, 0, 0, 0}));
}

// The levels a load must give, computed the slow way from a plain decode: key every pixel, then
// point-sample level 0 from the image and each level from the whole level above.
std::vector<std::vector<Px>> ExpectedLevels(const std::vector<uint8_t>& file, D3DCOLOR key) {
  DecodedImage image;
  EXPECT_EQ(DecodeImage(file, image), ImageError::kNone);
  uint32_t w = image.info.Width, h = image.info.Height;
  std::vector<Px> level;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      Px p = test::PixelAt(image.pixels, w, x, y);
      const uint32_t argb = uint32_t(p.a) << 24 | uint32_t(p.r) << 16 | uint32_t(p.g) << 8 | p.b;
      level.push_back(key != 0 && argb == key ? Px{0, 0, 0, 0} : p);
    }
  }
  std::vector<std::vector<Px>> levels;
  uint32_t tw = NextPowerOfTwo(w), th = NextPowerOfTwo(h);
  while (true) {
    std::vector<Px> next;
    for (uint32_t y = 0; y < th; ++y) {
      for (uint32_t x = 0; x < tw; ++x)
        next.push_back(level[size_t(uint64_t{y} * h / th) * w + size_t(uint64_t{x} * w / tw)]);
    }
    levels.push_back(next);
    if (tw == 1 && th == 1) break;
    level = std::move(next);
    w = tw;
    h = th;
    tw = std::max(1u, tw / 2);
    th = std::max(1u, th / 2);
  }
  return levels;
}

TEST(TextureFile, EveryLevelIsTheKeyedImagePointSampled) {
  // Images of power-of-two sizes become level 0 as decoded and get their smaller levels while
  // rows arrive (row by row for JPEG); other sizes are sampled after the decode. Black pixels
  // sit in every column, so the key is tested at every position of a row, tails included.
  auto pattern = [](uint32_t x, uint32_t y) {
    return (x + 3 * y) % 5 == 0 ? Px{0, 0, 0, 255} : Px{uint8_t(x * 7), uint8_t(y * 3), 9, 255};
  };
  auto greyJpeg = [](uint32_t w, uint32_t h) {
    test::JpegLayout s;
    s.width = w;
    s.height = h;
    s.components = 1;
    for (uint32_t i = 0; i < w * h; ++i)
      s.samples.push_back((i / w) % 4 == 0 ? 0 : uint8_t(40 + (i * 37) % 200));
    return test::EncodeJpeg(s);
  };
  test::JpegLayout colour;
  colour.width = 16;
  colour.height = 64;
  for (uint32_t i = 0; i < 16 * 64; ++i)
    colour.samples.insert(colour.samples.end(), {uint8_t(i), uint8_t(i / 16 * 4), 90});
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
  } cases[] = {
      {"tga 64x16", Tga(64, 16, pattern)},
      {"tga 8x32", Tga(8, 32, pattern)},
      {"tga 7x3", Tga(7, 3, pattern)},
      {"tga 1x1", Tga(1, 1, pattern)},
      {"grey jpeg 64x8", greyJpeg(64, 8)},
      {"grey jpeg 37x21", greyJpeg(37, 21)},
      {"colour jpeg 16x64", test::EncodeJpeg(colour)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (D3DCOLOR key : {0xFF000000u, 0u}) {
      const auto expected = ExpectedLevels(c.file, key);
      Loaded l =
          Load(c.file, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_A8R8G8B8, D3DX_FILTER_POINT, key);
      ASSERT_EQ(l.hr, S_OK);
      ASSERT_EQ(l.texture->GetLevelCount(), expected.size());
      for (UINT i = 0; i < expected.size(); ++i) {
        const UINT w = l.texture->LevelWidth(i);
        for (size_t t = 0; t < expected[i].size(); ++t) {
          ASSERT_EQ(Texel(*l.texture, i, UINT(t % w), UINT(t / w)), expected[i][t])
              << "key " << key << " level " << i << " texel " << t % w << "," << t / w;
        }
      }
    }
  }
}

TEST(TextureFile, JpegInfoAndTextureSize) {
  test::JpegLayout s;
  s.width = 100;
  s.height = 60;
  s.samples.assign(100 * 60 * 3, 128);
  Loaded l = Load(test::EncodeJpeg(s));
  ASSERT_EQ(l.hr, S_OK);
  EXPECT_EQ(l.info.Width, 100u);
  EXPECT_EQ(l.info.Height, 60u);
  EXPECT_EQ(l.info.Depth, 1u);
  EXPECT_EQ(l.info.MipLevels, 1u);
  EXPECT_EQ(l.info.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(l.info.ResourceType, D3DRTYPE_TEXTURE);
  EXPECT_EQ(l.info.ImageFileFormat, D3DXIFF_JPG);
  D3DSURFACE_DESC d{};
  ASSERT_EQ(l.texture->GetLevelDesc(0, &d), S_OK);
  EXPECT_EQ(d.Width, 128u);
  EXPECT_EQ(d.Height, 64u);
  EXPECT_EQ(l.texture->GetLevelCount(), 8u);
}

TEST(TextureFile, HeaderSizesAreNotTrustedBeforeThePixelsArrive) {
  // Small files whose headers claim huge images fail within a ceiling of their size: nothing for
  // the pixels or the mip levels is made before the data shows it can hold them.
  test::TgaLayout tga;
  tga.imageType = 10;  // run-length encoded, 32-bit
  tga.depth = 32;
  tga.width = 16384;
  tga.height = 16384;
  tga.data.assign(40, 0xFF);  // runs of 128 white pixels: 1024 of 268 million
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"PNG", test::WithPngSize(test::FixtureBytes("png-rgb"), 16384, 16384)},
      {"TGA", test::BuildTga(tga)},
      {"JPEG", test::WithJpegSize(test::FixtureBytes("jpeg-grey"), 16383, 16383)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_LT(c.bytes.size(), 4096u);
    wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(c.bytes.size()));
    Loaded l;
    try {
      l = Load(c.bytes);
    } catch (const std::bad_alloc&) {
    }
    EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
    EXPECT_EQ(l.reason, ImageError::kTooShort);
    EXPECT_EQ(l.texture, nullptr);
  }
}

// Sides the file decides that exceed the device's largest texture are halved together, keeping
// the aspect; sides the caller gives stay. Level 0 is the image point-sampled to that size.
TEST(TextureFile, TexturesLargerThanTheDeviceAreHalvedToFit) {
  const auto device = test::DeviceWithLargestTexture(64, 32);
  struct Case {
    uint16_t w, h;
    UINT requestW, requestH;
    UINT textureW, textureH;
  } cases[] = {
      {256, 16, D3DX_DEFAULT, D3DX_DEFAULT, 64, 4},
      {100, 300, 0, 0, 8, 32},  // 128 x 512 halved four times
      {200, 20, D3DX_DEFAULT_NONPOW2, D3DX_FROM_FILE, 50, 5},
      {200, 20, 80, D3DX_DEFAULT, 80, 32},
      {64, 32, D3DX_DEFAULT, D3DX_DEFAULT, 64, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    Loaded l;
    l.hr = D3DXCreateTextureFromFileInMemoryEx(
        device.get(), Tga(c.w, c.h, Coord), c.requestW, c.requestH, 0, 0, D3DFMT_A8R8G8B8,
        D3DPOOL_MANAGED, D3DX_FILTER_POINT, D3DX_FILTER_POINT, 0, &l.info, nullptr, &l.texture);
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_EQ(l.texture->LevelWidth(0), c.textureW);
    ASSERT_EQ(l.texture->LevelHeight(0), c.textureH);
    EXPECT_EQ(l.info.Width, c.w);
    for (UINT y = 0; y < c.textureH; ++y) {
      for (UINT x = 0; x < c.textureW; ++x) {
        const Px expected = Coord(uint32_t(x * (double(c.w) / c.textureW)),
                                  uint32_t(y * (double(c.h) / c.textureH)));
        ASSERT_EQ(Texel(*l.texture, 0, x, y), expected) << x << "," << y;
      }
    }
  }
}

// A legitimate 16384 x 16384 PNG becomes a 4096 x 4096 texture on the default device at the cost
// of that texture, not of the picture (1 GiB decoded, 1.3 GiB of texture before).
TEST(TextureFile, LargePictureCostsTheTextureItBecomes) {
  const std::vector<uint8_t> png = test::LargeGreyPng(16384, 16384);
  const auto device = test::DeviceWithLargestTexture(4096, 4096);
  wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(png.size()));
  Loaded l;
  l.hr = D3DXCreateTextureFromFileInMemoryEx(
      device.get(), png, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
      D3DX_FILTER_POINT, D3DX_FILTER_POINT, 0xFF000000, &l.info, nullptr, &l.texture);
  EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
  ASSERT_EQ(l.hr, S_OK);
  EXPECT_EQ(l.info.Width, 16384u);
  EXPECT_EQ(l.texture->LevelWidth(0), 4096u);
  EXPECT_EQ(l.texture->LevelHeight(0), 4096u);
  EXPECT_EQ(l.texture->GetLevelCount(), 13u);
  for (UINT y : {0u, 1000u, 4095u}) {
    const uint8_t v = test::LargeGreyValue(4 * 3000, 4 * y);
    EXPECT_EQ(Texel(*l.texture, 0, 3000, y), (Px{v, v, v, 255}));
  }
}

TEST(TextureFile, OtherTextureFormats) {
  auto src = Tga(1, 1, [](uint32_t, uint32_t) { return Px{0x12, 0x34, 0x56, 0x78}; });
  Loaded x8 = Load(src, 1, 1, 1, D3DFMT_X8R8G8B8);
  ASSERT_EQ(x8.hr, S_OK);
  EXPECT_EQ(Texel(*x8.texture, 0, 0, 0), (Px{0x12, 0x34, 0x56, 0xFF}));
  Loaded a4 = Load(src, 1, 1, 1, D3DFMT_A4R4G4B4);
  ASSERT_EQ(a4.hr, S_OK);
  auto bits = a4.texture->LevelBits(0);
  EXPECT_EQ(bits[0], 0x31);  // G 3, B 1
  EXPECT_EQ(bits[1], 0x75);  // A 7, R 5
  EXPECT_EQ(Load(src, 1, 1, 1, D3DFMT_UNKNOWN).texture->Format(), D3DFMT_A8R8G8B8);
  EXPECT_EQ(Load(src, 1, 1, 1, D3DFMT_R32F).hr, D3DERR_INVALIDCALL);
}

TEST(TextureFile, FailuresLeaveNoTextureAndNoInfo) {
  auto good = Tga(2, 2, Coord);
  const D3DXIMAGE_INFO sentinel{7, 7, 7, 7, D3DFMT_L8, D3DRTYPE_VOLUME, D3DXIFF_PFM};
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    UINT width;
    DWORD filter;
    HRESULT hr;
    ImageError reason;
  } cases[] = {
      {"not an image",
       {'n', 'o', 'p', 'e'},
       D3DX_DEFAULT,
       D3DX_FILTER_POINT,
       D3DXERR_INVALIDDATA,
       ImageError::kUnknownFormat},
      {"truncated",
       {good.begin(), good.end() - 1},
       D3DX_DEFAULT,
       D3DX_FILTER_POINT,
       D3DXERR_INVALIDDATA,
       ImageError::kTooShort},
      {"no data", {}, D3DX_DEFAULT, D3DX_FILTER_POINT, D3DERR_INVALIDCALL, ImageError::kNone},
      {"bad filter", good, D3DX_DEFAULT, 0x42, D3DERR_INVALIDCALL, ImageError::kNone},
      {"too wide", good, d3d::kMaxTextureSide + 1, D3DX_FILTER_POINT, D3DERR_INVALIDCALL,
       ImageError::kNone},
  };
  for (const Case& c : cases) {
    std::shared_ptr<d3d::Texture> texture;
    ASSERT_EQ(D3DXCreateTexture(nullptr, 1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              S_OK);
    D3DXIMAGE_INFO info = sentinel;
    ImageError reason = ImageError::kCorrupt;
    HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
        nullptr, c.bytes, c.width, D3DX_DEFAULT, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, c.filter,
        D3DX_FILTER_POINT, 0xFF000000, &info, nullptr, &texture, &reason);
    EXPECT_EQ(hr, c.hr) << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
    EXPECT_EQ(texture, nullptr) << c.name;
    EXPECT_EQ(std::memcmp(&info, &sentinel, sizeof info), 0) << c.name;
  }
  EXPECT_EQ(D3DXCreateTextureFromFileInMemoryEx(nullptr, good, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0,
                                                D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                                D3DX_DEFAULT, 0, nullptr, nullptr, nullptr),
            D3DERR_INVALIDCALL);
}

TEST(TextureFile, CreateTextureDefaults) {
  std::shared_ptr<d3d::Texture> t;
  ASSERT_EQ(D3DXCreateTexture(nullptr, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0, D3DFMT_UNKNOWN,
                              D3DPOOL_MANAGED, &t),
            S_OK);
  EXPECT_EQ(t->LevelWidth(0), 256u);
  EXPECT_EQ(t->LevelHeight(0), 256u);
  EXPECT_EQ(t->GetLevelCount(), 9u);
  EXPECT_EQ(t->Format(), D3DFMT_A8R8G8B8);
  ASSERT_EQ(D3DXCreateTexture(nullptr, 6, 3, 50, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
  EXPECT_EQ(t->LevelWidth(0), 6u);  // no rounding
  EXPECT_EQ(t->GetLevelCount(), 3u);
  EXPECT_EQ(t->Format(), D3DFMT_X8R8G8B8);
  ASSERT_EQ(D3DXCreateTexture(nullptr, 256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
  EXPECT_EQ(t->GetLevelCount(), 1u);
  D3DLOCKED_RECT r{};
  EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), S_OK);
  EXPECT_EQ(r.Pitch, 1024);
}

// The header of a saved 256 x 256 texture, byte for byte.
TEST(TextureFile, SavedBmpHasTheFixedLayout) {
  std::shared_ptr<d3d::Texture> t;
  ASSERT_EQ(D3DXCreateTexture(nullptr, 256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
  auto bits = t->LevelBits(0);
  const uint8_t topLeft[4] = {1, 2, 3, 4}, bottomRight[4] = {5, 6, 7, 8};
  std::memcpy(&bits[0], topLeft, 4);
  std::memcpy(&bits[255 * 1024 + 255 * 4], bottomRight, 4);
  std::vector<uint8_t> file;
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, t.get(), nullptr), S_OK);
  ASSERT_EQ(file.size(), 262200u);
  const uint8_t header[54] = {
      'B',  'M',  0x38, 0x00, 0x04, 0x00,  // file size 262200
      0,    0,    0,    0,                 // reserved
      54,   0,    0,    0,                 // pixel offset
      40,   0,    0,    0,                 // header size
      0,    1,    0,    0,                 // width 256
      0,    1,    0,    0,                 // height 256, bottom-up
      1,    0,                             // planes
      32,   0,                             // bits per pixel
      0,    0,    0,    0,                 // uncompressed
      0,    0,    0,    0,                 // image size
      0x12, 0x0B, 0,    0,                 // 2834 pixels per metre
      0x12, 0x0B, 0,    0,                 //
      0,    0,    0,    0,                 // colours used
      0,    0,    0,    0,                 // important colours
  };
  EXPECT_EQ(std::memcmp(file.data(), header, 54), 0);
  // Bottom row first: the top-left texel opens the last row, the bottom-right one ends the first.
  EXPECT_EQ(std::memcmp(&file[54 + 255 * 1024], topLeft, 4), 0);
  EXPECT_EQ(std::memcmp(&file[54 + 255 * 4], bottomRight, 4), 0);
  EXPECT_EQ(file[262198], 0);
  EXPECT_EQ(file[262199], 0);
}

TEST(TextureFile, SavedBmpReadsBack) {
  // 3 x 2 texels: 54 + 24 bytes, rounded up to 80.
  std::shared_ptr<d3d::Texture> t;
  ASSERT_EQ(D3DXCreateTexture(nullptr, 3, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
  auto bits = t->LevelBits(0);
  for (size_t i = 0; i < bits.size(); ++i)
    bits[i] = (i % 4 == 3) ? 255 : uint8_t(i * 11);
  std::vector<uint8_t> file;
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, t.get(), nullptr), S_OK);
  EXPECT_EQ(file.size(), 80u);
  DecodedImage image;
  ASSERT_EQ(DecodeImage(file, image), ImageError::kNone);
  EXPECT_EQ(image.info.Width, 3u);
  EXPECT_EQ(image.info.Height, 2u);
  EXPECT_EQ(image.pixels, std::vector<uint8_t>(bits.begin(), bits.end()));
  // Plain 32-bit BMP pixels carry no alpha: a translucent texel reads back opaque.
  bits[3] = 10;
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, t.get(), nullptr), S_OK);
  EXPECT_EQ(file[54 + 12 + 3], 10);  // written as given (top row is the second stored row)
  ASSERT_EQ(DecodeImage(file, image), ImageError::kNone);
  EXPECT_EQ(image.pixels[3], 255);
}

TEST(TextureFile, SaveFormatsAndRefusals) {
  std::shared_ptr<d3d::Texture> argb, x8, a4, r32;
  ASSERT_EQ(D3DXCreateTexture(nullptr, 1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &argb), S_OK);
  ASSERT_EQ(D3DXCreateTexture(nullptr, 1, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &x8), S_OK);
  ASSERT_EQ(D3DXCreateTexture(nullptr, 1, 1, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &a4), S_OK);
  ASSERT_EQ(D3DXCreateTexture(nullptr, 1, 1, 1, 0, D3DFMT_R32F, D3DPOOL_MANAGED, &r32), S_OK);
  a4->LevelBits(0)[0] = 0x31;
  a4->LevelBits(0)[1] = 0x75;
  std::vector<uint8_t> file;
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, a4.get(), nullptr), S_OK);
  EXPECT_EQ((std::vector<uint8_t>(file.begin() + 54, file.begin() + 58)),
            (std::vector<uint8_t>{0x11, 0x33, 0x55, 0x77}));
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, x8.get(), nullptr), S_OK);
  EXPECT_EQ(file[57], 255);
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_PNG, argb.get(), nullptr), E_NOTIMPL);
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_JPG, argb.get(), nullptr), E_NOTIMPL);
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, r32.get(), nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXSaveTextureToFileInMemory(&file, D3DXIFF_BMP, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXSaveTextureToFileA(nullptr, D3DXIFF_BMP, argb.get(), nullptr), D3DERR_INVALIDCALL);
}

class TextureFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/wz_texture_file_XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  // The library path of a file in the test directory.
  std::string Path(const std::string& name) const {
    return platform::LibraryPath(dir_ + "/" + name);
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir_.c_str())) {
      while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') names.push_back(e->d_name);
      }
      ::closedir(d);
    }
    return names;
  }
  std::string dir_;
};

TEST_F(TextureFileOnDisk, LoadsByPathAndReportsMissingFiles) {
  auto bytes = Tga(3, 5, Coord);
  ASSERT_TRUE(platform::WriteFileAtomically(Path("Image.TGA"), bytes));
  ASSERT_TRUE(platform::WriteFileAtomically(Path("empty.bmp"), {}));
  std::shared_ptr<d3d::Texture> t;
  D3DXIMAGE_INFO info{};
  ImageError reason = ImageError::kNone;
  auto load = [&](const std::string& path) {
    return D3DXCreateTextureFromFileExA(nullptr, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 0, 0,
                                        D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_POINT,
                                        D3DX_FILTER_POINT, 0xFF000000, &info, nullptr, &t, &reason);
  };
  // The name's case does not matter, as on the file systems the data was made on.
  ASSERT_EQ(load(Path("image.tga")), S_OK);
  EXPECT_EQ(t->LevelWidth(0), 4u);
  EXPECT_EQ(info.Height, 5u);
  EXPECT_EQ(Texel(*t, 0, 3, 7), Coord(2, 4));
  EXPECT_EQ(load(Path("missing.png")), HRESULT_FILE_NOT_FOUND);
  EXPECT_EQ(reason, ImageError::kIo);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(load(Path("empty.bmp")), D3DXERR_INVALIDDATA);
  EXPECT_EQ(reason, ImageError::kTooShort);
  EXPECT_EQ(
      D3DXCreateTextureFromFileExA(nullptr, nullptr, 0, 0, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                   D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &t),
      D3DERR_INVALIDCALL);

  D3DXIMAGE_INFO only{};
  ASSERT_EQ(D3DXGetImageInfoFromFileA(Path("image.tga").c_str(), &only), S_OK);
  EXPECT_EQ(std::memcmp(&only, &info, sizeof info), 0);
  EXPECT_EQ(D3DXGetImageInfoFromFileA(Path("missing.png").c_str(), &only), HRESULT_FILE_NOT_FOUND);
  EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(bytes, &only), S_OK);
  EXPECT_EQ(D3DXGetImageInfoFromFileInMemory(std::vector<uint8_t>{1, 2, 3}, &only),
            D3DXERR_INVALIDDATA);
}

TEST_F(TextureFileOnDisk, SavesAtomically) {
  std::shared_ptr<d3d::Texture> t;
  ASSERT_EQ(D3DXCreateTexture(nullptr, 256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), S_OK);
  t->LevelBits(0)[0] = 9;
  std::vector<uint8_t> expected;
  ASSERT_EQ(D3DXSaveTextureToFileInMemory(&expected, D3DXIFF_BMP, t.get(), nullptr), S_OK);
  // An existing file is replaced.
  ASSERT_TRUE(
      platform::WriteFileAtomically(Path("WZ_Normalmap.BMP"), std::vector<uint8_t>{1, 2, 3}));
  ASSERT_EQ(D3DXSaveTextureToFileA(Path("WZ_Normalmap.BMP").c_str(), D3DXIFF_BMP, t.get(), nullptr),
            S_OK);
  std::vector<uint8_t> written;
  ASSERT_TRUE(platform::ReadFileBytes(Path("WZ_Normalmap.BMP"), written));
  EXPECT_EQ(written, expected);
  // A target that cannot be replaced (a directory) fails and leaves nothing behind.
  ASSERT_EQ(::mkdir((dir_ + "/blocked.bmp").c_str(), 0755), 0);
  ::close(::open((dir_ + "/blocked.bmp/inside").c_str(), O_CREAT | O_WRONLY, 0644));
  EXPECT_EQ(D3DXSaveTextureToFileA(Path("blocked.bmp").c_str(), D3DXIFF_BMP, t.get(), nullptr),
            E_FAIL);
  auto names = Entries();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"WZ_Normalmap.BMP", "blocked.bmp"}));
  EXPECT_EQ(
      D3DXSaveTextureToFileA(Path("no/such/dir/x.bmp").c_str(), D3DXIFF_BMP, t.get(), nullptr),
      E_FAIL);
}

}  // namespace
}  // namespace wz::d3dx
