// The glyph font: the atlas and its texel conversion, the shrink on devices with small textures,
// the device objects through a reset, and text drawn from the atlas.
#include "texture/glyph_font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/d3d/device_fixture.h"

namespace wz {
namespace {

using namespace d3d;
using d3d::testing::DeviceTest;

TEST(AtlasTexel, WhiteWithTheTopFourBitsOfTheIntensityAsAlpha) {
  struct Case {
    uint32_t pixel;
    uint16_t texel;
  } cases[] = {
      {0x00000000u, 0x0000}, {0x0000000Fu, 0x0000}, {0x00000010u, 0x1FFF}, {0x0000001Fu, 0x1FFF},
      {0x00000080u, 0x8FFF}, {0x000000FFu, 0xFFFF}, {0x00FFFF0Fu, 0x0000},  // only blue counts
      {0x00FFFFFFu, 0xFFFF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AtlasTexel(c.pixel), c.texel) << std::hex << c.pixel;
}

class GlyphFontTest : public DeviceTest {
 protected:
  // A device whose largest texture is `maxWidth` texels wide.
  void MakeDeviceWithMaxTexture(uint32_t maxWidth) {
    MakeDevice(BackendChoice::kRecording);
    D3DCAPS9 caps;
    device->GetDeviceCaps(&caps);
    caps.MaxTextureWidth = caps.MaxTextureHeight = maxWidth;
    D3DPRESENT_PARAMETERS p = device->PresentParameters();
    SetBackendChoice(BackendChoice::kRecording);
    device = std::make_unique<Device>(caps, D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING, p);
    SetBackendChoice(BackendChoice::kDefault);
    ASSERT_EQ(device->BeginScene(), S_OK);
  }

  // Every character's rectangle lies inside the atlas, and no two overlap.
  static void ExpectRectanglesInsideAndApart(const GlyphFont& f) {
    for (int c = 32; c < 127; ++c) {
      const auto& t = f.TexCoords(char(c));
      EXPECT_GE(t[0], 0.0f) << c;
      EXPECT_GE(t[1], 0.0f) << c;
      EXPECT_LE(t[2], 1.0f) << c;
      EXPECT_LE(t[3], 1.0f) << c;
      EXPECT_LT(t[0], t[2]) << c;
      EXPECT_LT(t[1], t[3]) << c;
      for (int d = 32; d < c; ++d) {
        const auto& u = f.TexCoords(char(d));
        const bool apart = t[2] <= u[0] || u[2] <= t[0] || t[3] <= u[1] || u[3] <= t[1];
        EXPECT_TRUE(apart) << c << " and " << d;
      }
    }
  }
};

TEST_F(GlyphFontTest, ArialTwelveFitsASmallSquareAtlasOfWhiteTexels) {
  MakeDevice(BackendChoice::kRecording);
  GlyphFont font("Arial", 12, kGlyphFontBold);
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  EXPECT_TRUE(font.TextureWidth() == 128 || font.TextureWidth() == 256) << font.TextureWidth();
  EXPECT_EQ(font.TextureHeight(), font.TextureWidth());
  EXPECT_EQ(font.TextScale(), 1.0f);
  EXPECT_GT(font.Spacing(), 0);
  ExpectRectanglesInsideAndApart(font);

  const Texture* t = font.Texture();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Format(), D3DFMT_A4R4G4B4);
  EXPECT_EQ(t->Pool(), D3DPOOL_MANAGED);
  EXPECT_EQ(t->GetLevelCount(), 1u);
  // Every texel is transparent black or white with some alpha, and the letters are there.
  auto bits = t->LevelBits(0);
  size_t opaque = 0;
  for (size_t i = 0; i < bits.size(); i += 2) {
    uint16_t texel;
    std::memcpy(&texel, bits.data() + i, 2);
    EXPECT_TRUE(texel == 0 || (texel & 0x0FFF) == 0x0FFF) << std::hex << texel;
    opaque += texel == 0xFFFF;
  }
  EXPECT_GT(opaque, 300u);
  // The full stop's rectangle holds ink; the space's holds none.
  auto inkIn = [&](char c) {
    const auto& r = font.TexCoords(c);
    const uint32_t w = font.TextureWidth();
    size_t ink = 0;
    for (uint32_t y = uint32_t(r[1] * float(w)); y < uint32_t(r[3] * float(w)); ++y) {
      for (uint32_t x = uint32_t(r[0] * float(w)); x < uint32_t(r[2] * float(w)); ++x) {
        uint16_t texel;
        std::memcpy(&texel, bits.data() + (size_t(y) * w + x) * 2, 2);
        ink += texel != 0;
      }
    }
    return ink;
  };
  EXPECT_GT(inkIn('.'), 0u);
  EXPECT_EQ(inkIn(' '), 0u);
}

TEST_F(GlyphFontTest, SmallMaximumTextureWidthGivesAnAtlasOfExactlyThatWidth) {
  for (uint32_t maxWidth : {128u, 64u}) {
    MakeDeviceWithMaxTexture(maxWidth);
    GlyphFont font("Arial", 12, kGlyphFontBold);
    ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK) << maxWidth;
    EXPECT_EQ(font.TextureWidth(), maxWidth);
    EXPECT_EQ(font.TextureHeight(), maxWidth);
    EXPECT_LT(font.TextScale(), 1.0f);
    EXPECT_EQ(font.Texture()->LevelWidth(0), maxWidth);
    ExpectRectanglesInsideAndApart(font);
  }
  // With room for no letter at all the search ends instead of going on for ever.
  MakeDeviceWithMaxTexture(8);
  GlyphFont font("Arial", 12, kGlyphFontBold);
  EXPECT_EQ(font.InitDeviceObjects(device.get()), D3DERR_MOREDATA);
  EXPECT_EQ(font.Texture(), nullptr);
  // Painted on first use, the same failure comes from the first draw, once.
  GlyphFont onUse("Arial", 12, kGlyphFontBold);
  ASSERT_EQ(onUse.InitDeviceObjectsOnFirstUse(device.get()), S_OK);
  ASSERT_EQ(onUse.RestoreDeviceObjects(), S_OK);
  EXPECT_EQ(onUse.DrawText(0, 0, 0xFFFFFFFFu, "x"), D3DERR_MOREDATA);
  EXPECT_FALSE(onUse.AtlasPending());
  EXPECT_EQ(onUse.PaintAtlas(), D3DERR_INVALIDCALL);
}

TEST_F(GlyphFontTest, AtlasPaintedOnFirstUseMatchesTheOnePaintedAtOnce) {
  MakeDevice(BackendChoice::kRecording);
  GlyphFont now("Arial", 12, kGlyphFontBold), later("Arial", 12, kGlyphFontBold);
  ASSERT_EQ(now.InitDeviceObjects(device.get()), S_OK);
  ASSERT_EQ(later.InitDeviceObjectsOnFirstUse(device.get()), S_OK);
  ASSERT_EQ(later.RestoreDeviceObjects(), S_OK);
  EXPECT_EQ(later.Texture(), nullptr);
  ASSERT_EQ(later.DrawText(1, 1, 0xFFFFFFFFu, "W"), S_OK);
  ASSERT_NE(later.Texture(), nullptr);
  const auto a = now.Texture()->LevelBits(0), b = later.Texture()->LevelBits(0);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
  EXPECT_EQ(later.TexCoords('W'), now.TexCoords('W'));
}

TEST_F(GlyphFontTest, NextDeviceGetsTheSameAtlasOrOneForItsSmallerTextures) {
  MakeDevice(BackendChoice::kRecording);
  GlyphFont font("Arial", 12, kGlyphFontBold);
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  const auto first = font.Texture()->LevelBits(0);
  const std::vector<uint8_t> texels(first.begin(), first.end());
  const auto rect = font.TexCoords('W');
  font.DeleteDeviceObjects();

  MakeDevice(BackendChoice::kRecording);
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  ASSERT_NE(font.Texture(), nullptr);
  EXPECT_EQ(font.Texture()->GetDevice(), device.get());
  const auto second = font.Texture()->LevelBits(0);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), texels.begin(), texels.end()));
  EXPECT_EQ(font.TexCoords('W'), rect);
  font.DeleteDeviceObjects();

  MakeDeviceWithMaxTexture(64);
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  EXPECT_EQ(font.TextureWidth(), 64u);
  EXPECT_LT(font.TextScale(), 1.0f);
}

TEST_F(GlyphFontTest, DeviceObjectsFollowAReset) {
  MakeDevice(BackendChoice::kRecording);
  GlyphFont font("Arial", 12, kGlyphFontBold);
  EXPECT_EQ(font.RestoreDeviceObjects(), D3DERR_INVALIDCALL) << "no device yet";
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  const VertexBuffer* vb = font.VertexBuffer();
  ASSERT_NE(vb, nullptr);
  EXPECT_EQ(vb->Size(), 9600u);
  EXPECT_EQ(vb->Usage(), D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC);
  EXPECT_EQ(vb->Pool(), D3DPOOL_DEFAULT);
  EXPECT_TRUE(font.HasStateBlocks());

  device->EndScene();
  D3DPRESENT_PARAMETERS p = device->PresentParameters();
  EXPECT_EQ(device->Reset(&p), D3DERR_INVALIDCALL) << "the dynamic buffer is still alive";
  font.InvalidateDeviceObjects();
  EXPECT_EQ(font.VertexBuffer(), nullptr);
  EXPECT_FALSE(font.HasStateBlocks());
  ASSERT_EQ(device->Reset(&p), S_OK) << "the managed atlas survives";
  ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  EXPECT_NE(font.Texture(), nullptr);

  font.InvalidateDeviceObjects();
  font.DeleteDeviceObjects();
  EXPECT_EQ(font.Texture(), nullptr);
  EXPECT_EQ(font.Device(), nullptr);
}

TEST_F(GlyphFontTest, TextGoesOutInBatchesOfFiftyCharacters) {
  MakeDevice(BackendChoice::kRecording);
  GlyphFont font("Arial", 12, kGlyphFontBold | kGlyphFontDepthTest);
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  const std::string text(120, 'x');
  ASSERT_EQ(font.DrawText(10, 10, 0xFF00FF00u, (text + " \n\t").c_str()), S_OK);
  const auto& draws = Recording().Draws();
  ASSERT_EQ(draws.size(), 3u);
  EXPECT_EQ(draws[0].call.primitiveCount, 100u);
  EXPECT_EQ(draws[1].call.primitiveCount, 100u);
  EXPECT_EQ(draws[2].call.primitiveCount, 40u);
  EXPECT_EQ(draws[0].renderStates[D3DRS_ZENABLE], uint32_t(D3DZB_TRUE)) << "flag bit 2";
  EXPECT_EQ(draws[0].textures[0], font.Texture());
  DWORD z = 0;
  device->GetRenderState(D3DRS_ZENABLE, &z);
  EXPECT_EQ(z, uint32_t(D3DZB_FALSE)) << "the caller's state is back";
}

TEST_F(GlyphFontTest, TextFromTheAtlasLandsInsideItsExtent) {
  MakeDevice(BackendChoice::kOpenGL, 96, 48);
  ASSERT_EQ(device->CurrentBackendKind(), BackendKind::kOpenGL);
  ClearTo(0xFF000000u);
  GlyphFont font("Arial", 12, kGlyphFontBold);
  ASSERT_EQ(font.InitDeviceObjects(device.get()), S_OK);
  ASSERT_EQ(font.RestoreDeviceObjects(), S_OK);
  gdi::SIZE extent;
  ASSERT_EQ(font.GetTextExtent("Hi!\nWZ", &extent), S_OK);
  ASSERT_EQ(font.DrawText(5, 4, 0xFFFFFFFFu, "Hi!\nWZ"), S_OK);
  const auto frame = Frame();
  size_t inside = 0, white = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 96; ++x) {
      const uint32_t p = frame[size_t(y) * 96 + size_t(x)];
      if ((p & 0xFFFFFF) == 0) continue;
      const bool in = x >= 5 && x < 5 + extent.cx + 1 && y >= 4 && y < 4 + extent.cy;
      EXPECT_TRUE(in) << x << "," << y;
      inside += in;
      white += (p & 0xFFFFFF) == 0xFFFFFF;
    }
  }
  EXPECT_GT(inside, 40u);
  EXPECT_GT(white, 10u);
}

}  // namespace
}  // namespace wz
