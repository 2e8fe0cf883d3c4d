// JPEG decoding through the public decoder, on files made with libjpeg's encoder: colour spaces,
// progressive files, and the limits on damaged or hostile streams.
#include <gtest/gtest.h>

#include <cstdlib>

#include <jpeglib.h>

#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"
#include "platform/d3dx/texture_file.h"
#include "support/memory_ceiling.h"

namespace wz::d3dx {
namespace {

using test::JpegLayout;
using test::Px;

JpegLayout Flat(uint32_t w, uint32_t h, std::vector<uint8_t> sample) {
  JpegLayout s;
  s.width = w;
  s.height = h;
  s.components = int(sample.size());
  for (uint32_t i = 0; i < w * h; ++i)
    s.samples.insert(s.samples.end(), sample.begin(), sample.end());
  return s;
}

DecodedImage DecodeOk(const std::vector<uint8_t>& bytes) {
  DecodedImage image;
  ImageError e = DecodeImage(bytes, image);
  EXPECT_EQ(e, ImageError::kNone) << ImageErrorText(e);
  return image;
}

void ExpectAllNear(const DecodedImage& image, Px expected, int tolerance) {
  ASSERT_FALSE(image.pixels.empty());
  int worst = 0;
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    worst = std::max({worst, std::abs(image.pixels[i] - expected.b),
                      std::abs(image.pixels[i + 1] - expected.g),
                      std::abs(image.pixels[i + 2] - expected.r)});
    ASSERT_EQ(image.pixels[i + 3], 255);
  }
  EXPECT_LE(worst, tolerance) << "expected about " << test::ToString(expected);
}

TEST(JpegDecode, ReportsSizeAndOpaqueFormat) {
  std::vector<uint8_t> jpeg = test::EncodeJpeg(Flat(100, 60, {10, 20, 30}));
  D3DXIMAGE_INFO info{};
  ASSERT_EQ(ReadImageInfo(jpeg, info), ImageError::kNone);
  EXPECT_EQ(info.Width, 100u);
  EXPECT_EQ(info.Height, 60u);
  EXPECT_EQ(info.Depth, 1u);
  EXPECT_EQ(info.MipLevels, 1u);
  EXPECT_EQ(info.Format, D3DFMT_X8R8G8B8);
  EXPECT_EQ(info.ResourceType, D3DRTYPE_TEXTURE);
  EXPECT_EQ(info.ImageFileFormat, D3DXIFF_JPG);
  EXPECT_EQ(DecodeOk(jpeg).pixels.size(), 100u * 60 * 4);
}

TEST(JpegDecode, ColourSpaces) {
  // RGB (stored as YCbCr), greyscale, and CMYK with and without the Adobe marker. Photoshop's
  // Adobe files store inverted ink values; plain CMYK stores ink. Both describe orange here:
  // no cyan, half magenta, full yellow, no black.
  JpegLayout adobe = Flat(16, 16, {255, 127, 0, 255});
  JpegLayout plain = Flat(16, 16, {0, 128, 255, 0});
  plain.adobe = false;
  struct Case {
    const char* name;
    JpegLayout layout;
    Px expected;
  } cases[] = {
      {"rgb", Flat(16, 16, {200, 100, 50}), {50, 100, 200, 255}},
      {"grey", Flat(16, 16, {77}), {77, 77, 77, 255}},
      {"cmyk adobe", adobe, {0, 127, 255, 255}},
      {"cmyk plain", plain, {0, 127, 255, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectAllNear(DecodeOk(test::EncodeJpeg(c.layout)), c.expected, 2);
  }
}

TEST(JpegDecode, GreyPixelsHaveEqualChannels) {
  JpegLayout s;
  s.width = 8;
  s.height = 8;
  s.components = 1;
  for (int i = 0; i < 64; ++i)
    s.samples.push_back(uint8_t(i * 4));
  DecodedImage image = DecodeOk(test::EncodeJpeg(s));
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    EXPECT_EQ(image.pixels[i], image.pixels[i + 1]);
    EXPECT_EQ(image.pixels[i], image.pixels[i + 2]);
    EXPECT_LE(std::abs(image.pixels[i] - s.samples[i / 4]), 3) << i / 4;
  }
}

// libjpeg's own decode of a file to B,G,R,A, the reference for ours.
std::vector<uint8_t> LibjpegBgra(const std::vector<uint8_t>& file) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), file.size());
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&d);
  std::vector<uint8_t> pixels(size_t{d.output_width} * d.output_height * 4);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = &pixels[size_t{d.output_scanline} * d.output_width * 4];
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return pixels;
}

TEST(JpegDecode, GreyAndColourFilesGiveLibjpegsOwnPixels) {
  // Grey rows are widened by our code (16 pixels at a time, then the rest), colour rows by
  // libjpeg; both must match libjpeg's own B,G,R,A output byte for byte, at every row length.
  for (uint32_t w : {1u, 15u, 16u, 17u, 50u}) {
    for (int components : {1, 3}) {
      JpegLayout s;
      s.width = w;
      s.height = 9;
      s.components = components;
      for (uint32_t i = 0; i < w * 9 * uint32_t(components); ++i)
        s.samples.push_back(uint8_t(i * 29 + i / 7));
      const std::vector<uint8_t> file = test::EncodeJpeg(s);
      EXPECT_EQ(DecodeOk(file).pixels, LibjpegBgra(file)) << w << " " << components;
    }
  }
}

TEST(JpegDecode, RowsAreReportedInOrderAsTheyAreDecoded) {
  // Each report covers rows that are already final: they match the finished image.
  JpegLayout s = Flat(24, 40, {30});
  for (size_t i = 0; i < s.samples.size(); ++i)
    s.samples[i] = uint8_t(i / 24 * 6);
  const std::vector<uint8_t> file = test::EncodeJpeg(s);
  const DecodedImage whole = DecodeOk(file);
  std::vector<uint32_t> firsts;
  std::vector<uint8_t> seen;
  DecodedImage image;
  ASSERT_EQ(DecodeImage(file, image,
                        [&](uint8_t* pixels, uint32_t first, uint32_t count) {
                          firsts.push_back(first);
                          EXPECT_EQ(count, 1u);
                          seen.insert(seen.end(), pixels + first * 24 * 4,
                                      pixels + (first + count) * 24 * 4);
                        }),
            ImageError::kNone);
  ASSERT_EQ(firsts.size(), 40u);
  for (uint32_t y = 0; y < 40; ++y)
    EXPECT_EQ(firsts[y], y);
  EXPECT_EQ(seen, whole.pixels);
}

TEST(JpegDecode, ProgressiveMatchesBaseline) {
  // Both files hold the same quantised coefficients, so they decode to the same pixels.
  JpegLayout s;
  s.width = 40;
  s.height = 24;
  s.subsample = true;
  for (uint32_t i = 0; i < s.width * s.height; ++i) {
    s.samples.push_back(uint8_t(i * 7));
    s.samples.push_back(uint8_t(i / 3));
    s.samples.push_back(uint8_t(255 - i % 200));
  }
  DecodedImage baseline = DecodeOk(test::EncodeJpeg(s));
  s.progressive = true;
  DecodedImage progressive = DecodeOk(test::EncodeJpeg(s));
  EXPECT_EQ(progressive.pixels, baseline.pixels);
}

TEST(JpegDecode, SmoothImageIsCloseToItsSource) {
  JpegLayout s;
  s.width = 32;
  s.height = 32;
  s.subsample = true;
  s.quality = 95;
  for (uint32_t y = 0; y < 32; ++y) {
    for (uint32_t x = 0; x < 32; ++x) {
      s.samples.insert(s.samples.end(), {uint8_t(x * 8), uint8_t(y * 8), uint8_t(128)});
    }
  }
  DecodedImage image = DecodeOk(test::EncodeJpeg(s));
  long total = 0;
  for (uint32_t i = 0; i < 32 * 32; ++i) {
    // source R,G,B against decoded B,G,R
    total += std::abs(image.pixels[i * 4 + 2] - s.samples[i * 3]) +
             std::abs(image.pixels[i * 4 + 1] - s.samples[i * 3 + 1]) +
             std::abs(image.pixels[i * 4] - s.samples[i * 3 + 2]);
  }
  EXPECT_LT(double(total) / (32 * 32 * 3), 3.0);
}

TEST(JpegDecode, ScanFloodIsStopped) {
  // A progressive file whose last scan is repeated: the repeated refinement is damaged data, and
  // thousands of repeats are refused as quickly as a few.
  std::vector<uint8_t> jpeg = test::FixtureBytes("jpeg-progressive");
  size_t lastScan = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) lastScan = i;
  }
  ASSERT_GT(lastScan, 0u);
  const std::vector<uint8_t> scan(jpeg.begin() + long(lastScan), jpeg.end() - 2);  // up to EOI
  auto repeated = [&](int times) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.end() - 2);
    for (int i = 0; i < times; ++i)
      out.insert(out.end(), scan.begin(), scan.end());
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
  };
  DecodedImage image;
  EXPECT_EQ(DecodeImage(repeated(10), image), ImageError::kCorrupt);
  EXPECT_EQ(DecodeImage(repeated(5000), image), ImageError::kCorrupt);
  EXPECT_TRUE(image.pixels.empty());
}

TEST(JpegDecode, RefusesDamagedStreams) {
  std::vector<uint8_t> good = test::FixtureBytes("jpeg-rgb");
  size_t sof = test::FindJpegMarker(good, 0xC0);
  ASSERT_GT(sof, 0u);
  std::vector<uint8_t> twelveBit = good;
  twelveBit[sof + 3] = 12;
  std::vector<uint8_t> noFrame = good;
  noFrame[sof] = 0xC8;  // JPG extension marker instead of a frame header
  std::vector<uint8_t> cut(good.begin(), good.end() - 10);
  std::vector<uint8_t> zeroWidth = test::WithJpegSize(good, 0, 8);
  std::vector<uint8_t> tablesOnly(good.begin(), good.begin() + long(sof) - 1);
  tablesOnly.push_back(0xFF);
  tablesOnly.push_back(0xD9);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    ImageError reason;
  } cases[] = {
      {"12-bit samples", twelveBit, ImageError::kUnsupported},
      {"unknown frame type", noFrame, ImageError::kCorrupt},
      {"cut in the entropy data", cut, ImageError::kTooShort},
      {"zero width", zeroWidth, ImageError::kCorrupt},
      {"tables without an image", tablesOnly, ImageError::kCorrupt},
  };
  for (const auto& c : cases) {
    DecodedImage image;
    EXPECT_EQ(DecodeImage(c.bytes, image), c.reason) << c.name;
    EXPECT_TRUE(image.pixels.empty()) << c.name;
  }
}

TEST(JpegDecode, DamagedEntropyDataIsRefused) {
  // libjpeg would substitute what it cannot decode and warn; the image is refused instead of
  // being shown with made-up blocks.
  std::vector<uint8_t> jpeg = test::FixtureBytes("jpeg-rgb");
  size_t sos = test::FindJpegMarker(jpeg, 0xDA);
  ASSERT_GT(sos, 0u);
  size_t dataStart = sos + 1 + (size_t(jpeg[sos + 1]) << 8 | jpeg[sos + 2]);
  // Entropy data of all one bits (0xFF stuffed as FF 00): a code of all ones is never a Huffman
  // code.
  for (size_t i = dataStart; i + 3 < jpeg.size(); i += 2) {
    jpeg[i] = 0xFF;
    jpeg[i + 1] = 0x00;
  }
  DecodedImage image;
  EXPECT_EQ(DecodeImage(jpeg, image), ImageError::kCorrupt);
  EXPECT_TRUE(image.pixels.empty());
}

TEST(JpegDecode, OnlyCompleteScanDataDecodes) {
  // A file cut in half, with or without an end marker appended, and a progressive file cut after
  // its first scans are refused; a file that lacks only its end marker decodes.
  for (const char* name : {"jpeg-rgb", "jpeg-grey", "jpeg-progressive"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> jpeg = test::FixtureBytes(name);
    const DecodedImage full = DecodeOk(jpeg);
    std::vector<uint8_t> half(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2));
    DecodedImage image;
    EXPECT_EQ(DecodeImage(half, image), ImageError::kTooShort);
    half.insert(half.end(), {0xFF, 0xD9});
    EXPECT_EQ(DecodeImage(half, image), ImageError::kTooShort);
    EXPECT_TRUE(image.pixels.empty());
    const std::vector<uint8_t> noEnd(jpeg.begin(), jpeg.end() - 2);
    EXPECT_EQ(DecodeOk(noEnd).pixels, full.pixels);
  }
  // The progressive file up to the start of its third scan, ended properly: its coefficients
  // never come to full precision.
  const std::vector<uint8_t> jpeg = test::FixtureBytes("jpeg-progressive");
  size_t third = 0;
  for (size_t i = 0, scans = 0; i + 1 < jpeg.size() && !third; ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && ++scans == 3) third = i;
  }
  ASSERT_GT(third, 0u);
  std::vector<uint8_t> early(jpeg.begin(), jpeg.begin() + long(third));
  early.insert(early.end(), {0xFF, 0xD9});
  DecodedImage image;
  EXPECT_EQ(DecodeImage(early, image), ImageError::kTooShort);
}

TEST(JpegDecode, AHugeSizeInASmallFileFailsSmall) {
  // The size of a small file patched to 16383 x 16383: the data cannot hold its blocks, so the
  // decode ends before a gigabyte of pixels is made.
  const std::vector<uint8_t> jpeg =
      test::WithJpegSize(test::FixtureBytes("jpeg-rgb"), 16383, 16383);
  wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(jpeg.size()));
  DecodedImage image;
  EXPECT_EQ(DecodeImage(jpeg, image), ImageError::kTooShort);
  std::shared_ptr<d3d::Texture> texture;
  EXPECT_NE(D3DXCreateTextureFromFileInMemoryEx(nullptr, jpeg, D3DX_DEFAULT, D3DX_DEFAULT, 0, 0,
                                                D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_POINT,
                                                D3DX_FILTER_POINT, 0, nullptr, nullptr, &texture),
            S_OK);
  EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
}

TEST(JpegDecode, BytesAfterTheEndMarkerAreIgnored) {
  std::vector<uint8_t> jpeg = test::FixtureBytes("jpeg-grey");
  DecodedImage plain = DecodeOk(jpeg);
  jpeg.insert(jpeg.end(), {1, 2, 3, 0xFF, 0xD8});
  EXPECT_EQ(DecodeOk(jpeg).pixels, plain.pixels);
}

}  // namespace
}  // namespace wz::d3dx
