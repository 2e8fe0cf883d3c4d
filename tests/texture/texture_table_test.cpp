// ImageLoad's branches and the texture table operations.
#include "texture/texture_table.h"

#include <gtest/gtest.h>

#include "core/library.h"
#include "platform/d3dx/image_fixtures.h"
#include "platform/d3dx/texture_file.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "support/memory_ceiling.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::TempDir;

void Le32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s += char(v >> (8 * i));
}
void Be16(std::string& s, uint32_t v) {
  s += char(v >> 8), s += char(v);
}
void Be32(std::string& s, uint32_t v) {
  Be16(s, v >> 16), Be16(s, v & 0xFFFF);
}

// A wzi file whose pixel (x, y) is (x, y, x + y, 200) as blue, green, red, alpha.
std::string Wzi(uint32_t w, uint32_t h, size_t cutPixels = 0) {
  std::string s(8, '\0');
  Le32(s, w);
  Le32(s, h);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x)
      s += {char(x), char(y), char(x + y), char(200)};
  }
  s.resize(s.size() - cutPixels * 4);
  return s;
}

// A PSD with `channels` planes of w x h; plane c of pixel i holds value(c, i).
std::string Psd(uint32_t w, uint32_t h, uint32_t channels, bool packBits,
                uint8_t (*value)(uint32_t c, uint32_t i), uint32_t depth = 8, uint32_t mode = 3) {
  std::string s = "8BPS";
  Be16(s, 1);
  s.append(6, '\0');
  Be16(s, channels);
  Be32(s, h);
  Be32(s, w);
  Be16(s, depth);
  Be16(s, mode);
  Be32(s, 0), Be32(s, 4), s.append("abcd"), Be32(s, 0);  // three sections, one with data
  Be16(s, packBits ? 1 : 0);
  if (packBits) s.append(size_t(h) * channels * 2, '\0');
  for (uint32_t c = 0; c < channels; ++c) {
    for (uint32_t i = 0; i < w * h; ++i) {
      if (packBits) s += char(0);  // a literal run of one sample
      s += char(value(c, i));
    }
  }
  return s;
}

struct TextureFixture : ::testing::Test {
  TextureFixture() {
    library.AttachLogSink([this](const std::string& l) { lines.push_back(l); });
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    wz::testing::WriteFile(dir / name, bytes);
    return platform::LibraryPath(dir / name);
  }
  uint32_t Texel(int32_t index, uint32_t x, uint32_t y) {
    d3d::Texture* t = library.Texture_Entry(index).texture.get();
    auto bits = t->LevelBits(0);
    const uint8_t* p = bits.data() + y * t->LevelPitch(0) + x * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  TempDir dir;
  std::vector<std::string> lines;
  Library library;
};

TEST(TextureSize, RoundsUpToPowersOfTwoUpTo512) {
  const std::pair<uint32_t, uint32_t> cases[] = {{1, 1},     {3, 4},     {5, 8},      {300, 512},
                                                 {200, 256}, {256, 256}, {511, 512},  {512, 512},
                                                 {513, 513}, {600, 600}, {1024, 1024}};
  for (auto [in, out] : cases)
    EXPECT_EQ(RoundTextureSize(in), out) << in;
}

TEST_F(TextureFixture, WziIsPointSampledIntoTheRoundedTexture) {
  int32_t index = library.Texture_LoadWithId(Write("IMAGE.WZI", Wzi(300, 200)).c_str());
  ASSERT_EQ(index, 0);
  TextureEntry& row = library.Texture_Entry(index);
  EXPECT_EQ(row.info.Width, 300u);
  EXPECT_EQ(row.info.Height, 200u);
  EXPECT_EQ(row.texture->LevelWidth(0), 512u);
  EXPECT_EQ(row.texture->LevelHeight(0), 256u);
  EXPECT_EQ(row.texture->GetLevelCount(), 1u);
  // Texel (x, y) takes source pixel (trunc(x * 300/512), trunc(y * 200/256)).
  for (uint32_t x : {0u, 1u, 2u, 100u, 511u}) {
    for (uint32_t y : {0u, 1u, 200u, 255u}) {
      uint32_t sx = uint32_t(x * (300.0 / 512)), sy = uint32_t(y * (200.0 / 256));
      uint32_t want = (sx & 0xFF) | (sy & 0xFF) << 8 | ((sx + sy) & 0xFF) << 16 | 200u << 24;
      EXPECT_EQ(Texel(index, x, y), want) << x << "," << y;
    }
  }
  EXPECT_EQ(library.TextureIds()[0], 0);
  // 700 x 100: 700 is above 512 and stays.
  index = library.Texture_Load(Write("wide.wzi", Wzi(700, 100)).c_str(), nullptr);
  EXPECT_EQ(library.Texture_Entry(index).texture->LevelWidth(0), 700u);
  EXPECT_EQ(library.Texture_Entry(index).texture->LevelHeight(0), 128u);
}

TEST_F(TextureFixture, AnImageFileNamedWziIsTakenByItsContent) {
  const uint8_t white[2 * 2 * 4] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const auto bmp = d3dx::EncodeBmp32(2, 2, white, 8);
  const int32_t index = library.Texture_Load(
      Write("picture.wzi", std::string(bmp.begin(), bmp.end())).c_str(), nullptr);
  ASSERT_GE(index, 0);
  EXPECT_EQ(library.Texture_Entry(index).info.ImageFileFormat, D3DXIFF_BMP);
  EXPECT_EQ(Texel(index, 1, 1), 0xFFFFFFFFu);
}

TEST_F(TextureFixture, ShortWziLeavesZerosAndBadWziGivesNothing) {
  int32_t index = library.Texture_Load(Write("short.wzi", Wzi(4, 4, 3)).c_str(), nullptr);
  ASSERT_GE(index, 0);
  EXPECT_EQ(Texel(index, 3, 3), 0u);
  EXPECT_EQ(Texel(index, 0, 3), 3u << 8 | 3u << 16 | 200u << 24);
  std::string huge(8, '\0');
  Le32(huge, 100000);
  Le32(huge, 100000);
  EXPECT_EQ(library.Texture_Load(Write("huge.wzi", huge).c_str(), nullptr), -1);
  EXPECT_EQ(library.Texture_Load(Write("tiny.wzi", "abc").c_str(), nullptr), -1);
  // Zero-filling is for wzi files that are cut short, not for a header alone: a file must hold a
  // sixteenth of the pixels it claims, or a 16-byte file could ask for a gigabyte of zeros.
  {
    std::string header(8, '\0');
    Le32(header, 16384);
    Le32(header, 16384);
    wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(header.size()));
    EXPECT_EQ(library.Texture_Load(Write("header.wzi", header).c_str(), nullptr), -1);
    EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
  }
  std::string sixteenth = Wzi(64, 64);
  sixteenth.resize(16 + 64 * 64 * 4 / 16);
  EXPECT_GE(library.Texture_Load(Write("sixteenth.wzi", sixteenth).c_str(), nullptr), 0);
  sixteenth.pop_back();
  EXPECT_EQ(library.Texture_Load(Write("less.wzi", sixteenth).c_str(), nullptr), -1);
  EXPECT_EQ(library.Texture_Load(platform::LibraryPath(dir / "none.wzi").c_str(), nullptr), -1);
  // The wzi branch reports nothing.
  EXPECT_TRUE(lines.empty());
}

uint8_t ThreeChannel(uint32_t c, uint32_t i) {
  return i == 0 ? 0 : uint8_t(10 * c + i);
}
uint8_t FourChannel(uint32_t c, uint32_t i) {
  return c == 3 ? uint8_t(7 * i) : uint8_t(c + 1);
}

TEST_F(TextureFixture, PsdThreeAndFourChannelsRawAndPackBits) {
  for (bool packBits : {false, true}) {
    int32_t three = library.Texture_Load(
        Write("a.tar.psd", Psd(3, 2, 3, packBits, ThreeChannel)).c_str(), nullptr);
    ASSERT_GE(three, 0);
    EXPECT_EQ(library.Texture_Entry(three).info.Width, 3u);
    EXPECT_EQ(library.Texture_Entry(three).texture->LevelWidth(0), 4u);
    EXPECT_EQ(Texel(three, 0, 0), 0u);  // black becomes transparent
    // Pixel 4 is (x 1, y 1): red 4, green 14, blue 24, opaque.
    EXPECT_EQ(Texel(three, 1, 1), 24u | 14u << 8 | 4u << 16 | 255u << 24);
    int32_t four =
        library.Texture_Load(Write("b.PSD", Psd(2, 2, 4, packBits, FourChannel)).c_str(), nullptr);
    ASSERT_GE(four, 0);
    EXPECT_EQ(Texel(four, 1, 1), 3u | 2u << 8 | 1u << 16 | 21u << 24);
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(TextureFixture, RefusedPsdFallsThroughToTheImageFileLoader) {
  const char* names[] = {"grey.psd", "deep.psd", "overrun.psd", "cut.psd"};
  std::string overrun = Psd(2, 2, 3, true, ThreeChannel);
  overrun[overrun.size() - 2] = char(0x7F);  // a literal run of 128 samples in a 4-sample plane
  std::string files[] = {Psd(2, 2, 3, false, ThreeChannel, 8, 1),
                         Psd(2, 2, 3, false, ThreeChannel, 16, 3), overrun,
                         Psd(2, 2, 3, false, ThreeChannel).substr(0, 40)};
  for (int i = 0; i < 4; ++i) {
    std::string path = Write(names[i], files[i]);
    EXPECT_EQ(library.Texture_Load(path.c_str(), nullptr), -1) << names[i];
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "*** ERROR *** " + path + platform::Utf8ToCp932(" Loadできませんでした。"));
  }
}

// A wzi or PSD picture larger than the device's largest texture is point-sampled down to the
// rounded size halved until it fits (here 40 x 20, rounded to 64 x 32, becomes 16 x 8).
TEST(ImageLoadBranches, WziAndPsdLargerThanTheDeviceAreSampledDown) {
  const auto device = test::DeviceWithLargestTexture(16, 8);
  auto wzi = [](uint32_t x, uint32_t y) {
    return (x & 0xFF) | (y & 0xFF) << 8 | ((x + y) & 0xFF) << 16 | 200u << 24;
  };
  auto psd = [](uint32_t x, uint32_t y) {
    const uint32_t i = y * 40 + x;
    return uint32_t(ThreeChannel(2, i)) | uint32_t(ThreeChannel(1, i)) << 8 |
           uint32_t(ThreeChannel(0, i)) << 16 | (i == 0 ? 0u : 255u << 24);
  };
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t (*texel)(uint32_t x, uint32_t y);
  } cases[] = {
      {"a.wzi", Wzi(40, 20), wzi},
      {"raw.psd", Psd(40, 20, 3, false, ThreeChannel), psd},
      {"packbits.psd", Psd(40, 20, 3, true, ThreeChannel), psd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<d3d::Texture> texture;
    D3DXIMAGE_INFO info{};
    const std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    ImageLoadFromMemory(device.get(), c.name, bytes, texture, info, {});
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(info.Width, 40u);
    ASSERT_EQ(texture->LevelWidth(0), 16u);
    ASSERT_EQ(texture->LevelHeight(0), 8u);
    for (uint32_t y = 0; y < 8; ++y) {
      for (uint32_t x = 0; x < 16; ++x) {
        const uint8_t* p = texture->LevelBits(0).data() + y * texture->LevelPitch(0) + x * 4;
        const uint32_t got = p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
        EXPECT_EQ(got, c.texel(uint32_t(x * 2.5), uint32_t(y * 2.5))) << x << "," << y;
      }
    }
  }
}

// The sizes ImageLoad reports, from the headers of each branch, at no cost in proportion to the
// picture: a 16384 x 16384 PSD header costs nothing.
TEST(ImageLoadBranches, InfoComesFromTheHeaderOfEachBranch) {
  std::string bigPsd = Psd(1, 1, 3, true, ThreeChannel);
  bigPsd.replace(14, 8, std::string("\0\0\x40\0\0\0\x40\0", 8));
  const uint8_t white[2 * 3 * 4] = {0xFF};
  const auto bmp = d3dx::EncodeBmp32(2, 3, white, 8);
  struct Case {
    const char* name;
    std::string bytes;
    bool readable;
    UINT width, height;
  } cases[] = {
      {"a.wzi", Wzi(300, 200), true, 300, 200},
      {"big.psd", bigPsd, true, 16384, 16384},
      {"bmp.wzi", std::string(bmp.begin(), bmp.end()), true, 2, 3},
      {"short.wzi", "abc", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    wz::testing::AllocationCeiling ceiling(wz::testing::kMiB);
    D3DXIMAGE_INFO info{};
    EXPECT_EQ(ImageInfoFromMemory(c.name, bytes, info), c.readable);
    EXPECT_FALSE(ceiling.Reached());
    EXPECT_EQ(info.Width, c.width);
    EXPECT_EQ(info.Height, c.height);
  }
}

TEST_F(TextureFixture, RowsAreAppendedAndFailuresRecord32By32) {
  std::string path = Write("x.wzi", Wzi(8, 8));
  int32_t a = library.Texture_Load(path.c_str(), nullptr);
  int32_t b = library.Texture_Load(path.c_str(), nullptr);
  EXPECT_NE(a, b);
  EXPECT_NE(library.Texture_Entry(a).texture, library.Texture_Entry(b).texture);
  int32_t out = 99;
  EXPECT_EQ(library.Texture_Load(Write("bad.png", "nonsense").c_str(), &out), -1);
  EXPECT_EQ(out, -1);
  ASSERT_EQ(library.TextureCount(), 3u);
  float w, h;
  library.Texture_SizeGet(2, w, h);
  EXPECT_EQ(w, 32.0f);
  EXPECT_EQ(h, 32.0f);
  EXPECT_EQ(library.Texture_Entry(2).used, 1);
  EXPECT_EQ(std::string(library.Texture_Entry(2).path), platform::LibraryPath(dir / "bad.png"));
  library.Texture_SizeGet(a, w, h);
  EXPECT_EQ(w, 8.0f);
}

}  // namespace
}  // namespace wz
