#include "platform/d3dx/image_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/d3dx/image_fixtures.h"
#include "support/memory_ceiling.h"

namespace wz::d3dx {
namespace {

using test::AllFixtures;

bool SameInfo(const D3DXIMAGE_INFO& a, const D3DXIMAGE_INFO& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ImageDecode, FixturesReportTheirSourceDescription) {
  struct Expected {
    UINT width, height, mips;
    D3DFORMAT format;
    D3DXIMAGE_FILEFORMAT file;
  };
  const std::map<std::string, Expected> expected = {
      {"bmp24", {3, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_BMP}},
      {"bmp32-v5", {2, 2, 1, D3DFMT_A8R8G8B8, D3DXIFF_BMP}},
      {"bmp8", {3, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_BMP}},
      {"bmp-rle4", {5, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_BMP}},
      {"bmp-rle8", {4, 3, 1, D3DFMT_X8R8G8B8, D3DXIFF_BMP}},
      {"bmp16-565", {2, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_BMP}},
      {"bmp1-os2", {4, 1, 1, D3DFMT_X8R8G8B8, D3DXIFF_BMP}},
      {"tga24", {3, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_TGA}},
      {"tga32-rle", {3, 2, 1, D3DFMT_A8R8G8B8, D3DXIFF_TGA}},
      {"tga-map", {2, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_TGA}},
      {"tga-grey-rle", {4, 2, 1, D3DFMT_A8R8G8B8, D3DXIFF_TGA}},
      {"dds-argb", {2, 2, 1, D3DFMT_A8R8G8B8, D3DXIFF_DDS}},
      {"dds-dxt1", {8, 4, 2, D3DFMT_DXT1, D3DXIFF_DDS}},
      {"dds-dxt5", {4, 4, 1, D3DFMT_DXT5, D3DXIFF_DDS}},
      {"dds-l8", {3, 1, 1, D3DFMT_L8, D3DXIFF_DDS}},
      {"jpeg-rgb", {16, 8, 1, D3DFMT_X8R8G8B8, D3DXIFF_JPG}},
      {"jpeg-grey", {8, 8, 1, D3DFMT_X8R8G8B8, D3DXIFF_JPG}},
      {"jpeg-cmyk", {8, 8, 1, D3DFMT_X8R8G8B8, D3DXIFF_JPG}},
      {"jpeg-progressive", {16, 16, 1, D3DFMT_X8R8G8B8, D3DXIFF_JPG}},
      {"png-rgb", {3, 2, 1, D3DFMT_X8R8G8B8, D3DXIFF_PNG}},
      {"png-rgba16", {2, 2, 1, D3DFMT_A8R8G8B8, D3DXIFF_PNG}},
      {"png-palette-trns", {5, 2, 1, D3DFMT_A8R8G8B8, D3DXIFF_PNG}},
      {"png-grey2-adam7", {9, 9, 1, D3DFMT_X8R8G8B8, D3DXIFF_PNG}},
  };
  auto fixtures = AllFixtures();
  ASSERT_EQ(fixtures.size(), expected.size());
  for (const auto& f : fixtures) {
    SCOPED_TRACE(f.name);
    const Expected& e = expected.at(f.name);
    DecodedImage image;
    ASSERT_EQ(DecodeImage(f.bytes, image), ImageError::kNone);
    EXPECT_EQ(image.info.Width, e.width);
    EXPECT_EQ(image.info.Height, e.height);
    EXPECT_EQ(image.info.Depth, 1u);
    EXPECT_EQ(image.info.MipLevels, e.mips);
    EXPECT_EQ(image.info.Format, e.format);
    EXPECT_EQ(image.info.ResourceType, D3DRTYPE_TEXTURE);
    EXPECT_EQ(image.info.ImageFileFormat, e.file);
    EXPECT_EQ(image.pixels.size(), size_t{e.width} * e.height * 4);
    // The header-only path gives the same description.
    D3DXIMAGE_INFO info;
    ASSERT_EQ(ReadImageInfo(f.bytes, info), ImageError::kNone);
    EXPECT_TRUE(SameInfo(info, image.info));
    D3DXIMAGE_FILEFORMAT sniffed;
    ASSERT_TRUE(SniffImageFileFormat(f.bytes, sniffed));
    EXPECT_EQ(sniffed, e.file);
  }
}

// A map onto a tw x th picture: entries spread evenly over the image's w x h pixels; with
// `crop`, the image unscaled and then nothing, one entry just outside the image included.
SampleMap Map(uint32_t w, uint32_t h, uint32_t tw, uint32_t th, bool crop = false) {
  auto side = [&](uint32_t n, uint32_t tn) {
    std::vector<uint32_t> v(tn);
    for (uint32_t i = 0; i < tn; ++i) {
      v[i] = !crop ? uint32_t(uint64_t{i} * n / tn) : i <= n ? i : SampleMap::kNoSource;
    }
    return v;
  };
  return SampleMap{side(w, tw), side(h, th)};
}

// Sampling while decoding gives exactly the mapped pixels of the whole image, for every format
// and row order, reduced, enlarged or cropped.
TEST(ImageDecode, SampledDecodeGivesTheMappedPixelsOfTheWholeImage) {
  for (const auto& f : AllFixtures()) {
    DecodedImage full;
    ASSERT_EQ(DecodeImage(f.bytes, full), ImageError::kNone) << f.name;
    const uint32_t w = full.info.Width, h = full.info.Height;
    const SampleMap maps[] = {Map(w, h, w / 2 + 1, h / 2 + 1), Map(w, h, 2 * w + 1, 2 * h),
                              Map(w, h, w + 2, h + 1, true)};
    for (const SampleMap& map : maps) {
      SCOPED_TRACE(f.name + " into " + std::to_string(map.columns.size()) + " x " +
                   std::to_string(map.rows.size()));
      DecodedImage sampled;
      ASSERT_EQ(DecodeImageSampled(f.bytes, map, sampled), ImageError::kNone);
      EXPECT_TRUE(SameInfo(sampled.info, full.info));
      std::vector<test::Px> expected, got;
      for (uint32_t y = 0; y < map.rows.size(); ++y) {
        for (uint32_t x = 0; x < map.columns.size(); ++x) {
          const uint32_t sx = map.columns[x], sy = map.rows[y];
          expected.push_back(sx < w && sy < h ? test::PixelAt(full.pixels, w, sx, sy)
                                              : test::Px{0, 0, 0, 0});
          got.push_back(test::PixelAt(sampled.pixels, uint32_t(map.columns.size()), x, y));
        }
      }
      EXPECT_EQ(got, expected);
    }
  }
}

// The header of a legitimate 16384 x 16384 PNG costs nothing to read.
TEST(ImageDecode, InfoOfALargePictureCostsNothing) {
  const std::vector<uint8_t> png = test::LargeGreyPng(16384, 16384);
  wz::testing::AllocationCeiling ceiling(wz::testing::kMiB);
  D3DXIMAGE_INFO info;
  ASSERT_EQ(ReadImageInfo(png, info), ImageError::kNone);
  EXPECT_EQ(info.Width, 16384u);
  EXPECT_EQ(info.Height, 16384u);
  EXPECT_FALSE(ceiling.Reached());
}

TEST(ImageDecode, EveryTruncatedPrefixIsRefused) {
  for (const auto& f : AllFixtures()) {
    SCOPED_TRACE(f.name);
    DecodedImage full;
    ASSERT_EQ(DecodeImage(f.bytes, full), ImageError::kNone);
    const SampleMap half = Map(full.info.Width, full.info.Height, 2, 2);
    for (size_t n = 0; n < f.bytes.size(); ++n) {
      DecodedImage out, sampled;
      ImageError e = DecodeImage(std::span<const uint8_t>(f.bytes.data(), n), out);
      EXPECT_EQ(DecodeImageSampled(std::span<const uint8_t>(f.bytes.data(), n), half, sampled), e);
      if (n < f.required) {
        EXPECT_NE(e, ImageError::kNone) << "prefix of " << n << " bytes";
        EXPECT_TRUE(out.pixels.empty());
        EXPECT_EQ(out.info.Width, 0u);
      } else {
        // Only bytes the decoder does not need are missing: the same image.
        EXPECT_EQ(e, ImageError::kNone) << "prefix of " << n << " bytes";
        EXPECT_EQ(out.pixels, full.pixels);
      }
    }
  }
}

TEST(ImageDecode, UnknownDataIsRefused) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {},
      {'B'},
      std::vector<uint8_t>(17, 0),           // too short for a TGA header
      std::vector<uint8_t>(64, 0),           // TGA image type 0 (no image)
      {'G', 'I', 'F', '8', '9', 'a', 1, 0},  // a format we do not read
      std::vector<uint8_t>(100, 0xFF),
  };
  for (const auto& in : inputs) {
    DecodedImage out;
    EXPECT_EQ(DecodeImage(in, out), ImageError::kUnknownFormat) << in.size();
    D3DXIMAGE_INFO info;
    EXPECT_EQ(ReadImageInfo(in, info), ImageError::kUnknownFormat);
  }
}

TEST(ImageDecode, SignatureWinsOverTgaHeader) {
  // A damaged PNG stays a PNG failure; it is never retried as TGA.
  auto png = test::FixtureBytes("png-rgb");
  png.resize(40);
  D3DXIMAGE_FILEFORMAT f;
  ASSERT_TRUE(SniffImageFileFormat(png, f));
  EXPECT_EQ(f, D3DXIFF_PNG);
  DecodedImage out;
  EXPECT_EQ(DecodeImage(png, out), ImageError::kTooShort);
}

// Headers that announce sides above the limit are refused before any pixel memory is allocated:
// under AddressSanitizer an attempt to allocate 40 GB would abort the test.
TEST(ImageDecode, HugeSizesAreRefusedFromTheHeader) {
  test::BmpLayout bmp;
  bmp.width = 100000;
  bmp.height = 100000;
  test::BmpLayout bmpTall = bmp;
  bmpTall.width = 1;
  bmpTall.height = INT32_MIN;  // top-down with an unrepresentable height
  test::TgaLayout tga;
  tga.width = 65535;
  tga.height = 65535;
  test::DdsLayout dds;
  dds.width = 100000;
  dds.height = 100000;
  dds.pfFlags = test::kDdsFourCC;
  dds.fourCC = test::FourCC("DXT1");
  auto byName = test::FixtureBytes;
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"bmp", test::BuildBmp(bmp)},
      {"bmp-min-height", test::BuildBmp(bmpTall)},
      {"tga", test::BuildTga(tga)},
      {"dds", test::BuildDds(dds)},
      {"png", test::WithPngSize(byName("png-rgb"), 100000, 100000)},
      {"png-wide", test::WithPngSize(byName("png-rgb"), 16385, 1)},
      {"jpeg", test::WithJpegSize(byName("jpeg-rgb"), 60000, 60000)},
      {"jpeg-over-format-limit", test::WithJpegSize(byName("jpeg-rgb"), 65535, 65535)},
      {"jpeg-progressive", test::WithJpegSize(byName("jpeg-progressive"), 20000, 8)},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    DecodedImage out;
    EXPECT_EQ(DecodeImage(bytes, out), ImageError::kTooLarge);
    D3DXIMAGE_INFO info;
    EXPECT_EQ(ReadImageInfo(bytes, info), ImageError::kTooLarge);
  }
}

TEST(ImageDecode, LargestSideIsAccepted) {
  // 16384 x 1 is inside the limit; 16385 x 1 is not.
  test::TgaLayout tga;
  tga.imageType = 3;
  tga.depth = 8;
  tga.width = 16384;
  tga.height = 1;
  tga.data.assign(16384, 7);
  DecodedImage out;
  ASSERT_EQ(DecodeImage(test::BuildTga(tga), out), ImageError::kNone);
  EXPECT_EQ(test::PixelAt(out.pixels, 16384, 16383, 0), (test::Px{7, 7, 7, 255}));
  tga.width = 16385;
  tga.data.push_back(7);
  EXPECT_EQ(DecodeImage(test::BuildTga(tga), out), ImageError::kTooLarge);
}

// Writes the fixtures as fuzzing seeds when WZ_IMAGE_SEED_DIR names a directory
// (scripts/make-image-seeds.sh); otherwise there is nothing to do.
TEST(ImageDecode, WriteFuzzSeedsWhenAsked) {
  const char* dir = std::getenv("WZ_IMAGE_SEED_DIR");
  if (!dir) GTEST_SKIP() << "WZ_IMAGE_SEED_DIR not set";
  for (const auto& f : AllFixtures()) {
    std::ofstream out(std::string(dir) + "/" + f.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(f.bytes.data()), std::streamsize(f.bytes.size()));
    ASSERT_TRUE(out.good()) << f.name;
  }
}

}  // namespace
}  // namespace wz::d3dx
