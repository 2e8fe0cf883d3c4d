// The glyph font: the printable ASCII characters of a GDI font painted once into an A4R4G4B4
// atlas texture, with a texture rectangle per character, and text drawn from the atlas as
// screen-space quads through a dynamic vertex buffer. The library keeps one, the statistics font
// ("Arial", 12 points, bold), whose device objects follow the device.
//
// The atlas starts at 128 x 128 texels and doubles until the alphabet fits; on a device whose
// largest texture is narrower, the atlas takes that width and the text scale shrinks until the
// alphabet fits. The statistics font paints its atlas on first use: the program never draws with
// it, and painting starts the font machinery (fontconfig, FreeType), which costs more than the
// whole of a small conversion.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/gdi.h"

namespace wz {

// Flags of a glyph font.
constexpr uint32_t kGlyphFontBold = 1;
constexpr uint32_t kGlyphFontItalic = 2;
constexpr uint32_t kGlyphFontDepthTest = 4;  // text is depth-tested while drawing

// The atlas texel for a pixel GDI painted white on black: white with the intensity's top four
// bits as alpha; 0 (transparent black) for intensities below 0x10.
constexpr uint16_t AtlasTexel(uint32_t gdiPixel) {
  const uint32_t a = (gdiPixel & 0xFF) >> 4;
  return a == 0 ? uint16_t(0) : uint16_t(a * 4096 + 0x0FFF);
}

class GlyphFont {
 public:
  // Stores the face (at most 79 characters), the height in points and the flags; no device
  // objects yet.
  GlyphFont(const char* faceName, int32_t height, uint32_t flags);
  ~GlyphFont();
  GlyphFont(const GlyphFont&) = delete;
  GlyphFont& operator=(const GlyphFont&) = delete;

  // Builds the atlas for `device`. 0, or the failing call's code (E_FAIL for GDI failures,
  // D3DERR_MOREDATA when the alphabet fits no atlas the device takes).
  HRESULT InitDeviceObjects(d3d::Device* device);
  // Remembers `device` and leaves the atlas to the first DrawText, GetTextExtent or PaintAtlas.
  HRESULT InitDeviceObjectsOnFirstUse(d3d::Device* device);
  // Paints the atlas a device waits for (InitDeviceObjectsOnFirstUse); the result of that
  // painting, or 0 when the atlas is there, D3DERR_INVALIDCALL without a device.
  HRESULT PaintAtlas();
  bool AtlasPending() const { return atlasPending_; }
  // Creates the dynamic vertex buffer (9600 bytes, default pool) and records the drawing states.
  HRESULT RestoreDeviceObjects();
  // Releases the vertex buffer and both state blocks (before a device reset).
  HRESULT InvalidateDeviceObjects();
  // Releases the atlas and forgets the device.
  HRESULT DeleteDeviceObjects();

  // Draws `text` (characters 32 to 126; '\n' starts a new line, others are skipped) with its
  // top-left corner at (x, y) in pixels, in `colour` (ARGB). Needs restored device objects and a
  // scene.
  HRESULT DrawText(float x, float y, D3DCOLOR colour, const char* text);
  // The size in pixels DrawText covers for `text`.
  HRESULT GetTextExtent(const char* text, gdi::SIZE* size);

  const char* FaceName() const { return faceName_; }
  int32_t Height() const { return height_; }
  uint32_t Flags() const { return flags_; }
  d3d::Device* Device() const { return device_; }
  const d3d::Texture* Texture() const { return texture_.get(); }
  const d3d::VertexBuffer* VertexBuffer() const { return vertexBuffer_.get(); }
  bool HasStateBlocks() const { return saved_ && drawing_; }
  uint32_t TextureWidth() const { return textureWidth_; }
  uint32_t TextureHeight() const { return textureHeight_; }
  float TextScale() const { return textScale_; }
  int32_t Spacing() const { return spacing_; }
  // The texture rectangle of character c (32 to 127): left, top, right, bottom.
  const std::array<float, 4>& TexCoords(char c) const {
    return texCoords_.at(size_t(uint8_t(c) - 32));
  }

 private:
  HRESULT BuildAtlas();
  HRESULT PaintAlphabet(gdi::HDC dc, bool measureOnly);
  HRESULT CopyAtlas(d3d::Texture& texture) const;

  char faceName_[80] = {};
  int32_t height_;
  uint32_t flags_;
  d3d::Device* device_ = nullptr;
  bool atlasPending_ = false;
  std::shared_ptr<d3d::Texture> texture_;
  std::shared_ptr<d3d::VertexBuffer> vertexBuffer_;
  uint32_t textureWidth_ = 0;
  uint32_t textureHeight_ = 0;
  float textScale_ = 1.0f;
  std::array<std::array<float, 4>, 96> texCoords_{};
  // The converted texels of the last atlas, kept for the next device, and the largest texture
  // width they were painted for.
  std::vector<uint16_t> atlas_;
  uint32_t atlasMaxWidth_ = 0;
  int32_t spacing_ = 0;
  std::shared_ptr<d3d::StateBlock> saved_;
  std::shared_ptr<d3d::StateBlock> drawing_;
};

}  // namespace wz
