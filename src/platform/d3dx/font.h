// The D3DX font: text in any GDI font drawn through the device as textured quads. Each character
// is rasterised once by the GDI stand-in (GetGlyphImage) into a glyph cache of A8R8G8B8 texture
// pages (white, coverage in alpha) and drawn from there with point sampling, one texel per pixel,
// so that the pixels match what ExtTextOutA paints for the same font. Between Begin and End the
// quads of several DrawTextA calls are collected and drawn at End, one draw call per texture page
// in use; a DrawTextA outside Begin/End draws at once. Drawing sets its own states (alpha
// blending, no depth test, no culling, stage 0 modulating texture and vertex colour) and puts the
// previous ones back afterwards.
//
// Limits: DT_WORDBREAK, DT_EXPANDTABS and the other flags not named below are ignored; without
// DT_NOPREFIX the '&' markers are removed but nothing is underlined; text is laid out left to
// right without kerning.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/gdi.h"

namespace wz::d3dx {

// DrawTextA format flags (the Win32 DrawText values).
constexpr DWORD DT_TOP = 0x000;
constexpr DWORD DT_LEFT = 0x000;
constexpr DWORD DT_CENTER = 0x001;
constexpr DWORD DT_RIGHT = 0x002;
constexpr DWORD DT_VCENTER = 0x004;  // with DT_SINGLELINE
constexpr DWORD DT_BOTTOM = 0x008;   // with DT_SINGLELINE
constexpr DWORD DT_WORDBREAK = 0x010;
constexpr DWORD DT_SINGLELINE = 0x020;
constexpr DWORD DT_EXPANDTABS = 0x040;
constexpr DWORD DT_NOCLIP = 0x100;
constexpr DWORD DT_CALCRECT = 0x400;
constexpr DWORD DT_NOPREFIX = 0x800;

// Records the same states twice: into `saved` (to capture what the device holds before drawing)
// and into `drawing` (to set them). `set` issues the Set* calls.
HRESULT RecordStatePair(d3d::Device& device, const std::function<void(d3d::Device&)>& set,
                        std::shared_ptr<d3d::StateBlock>* saved,
                        std::shared_ptr<d3d::StateBlock>* drawing);

class Font {
 public:
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Prepares the device for drawing: saves the states the font changes and sets its own.
  // Begin/End pairs nest; only the outermost pair saves and restores. D3DERR_INVALIDCALL while
  // the device is lost (between OnLostDevice and OnResetDevice).
  HRESULT Begin();
  // Draws what the DrawTextA calls since Begin collected and, for the outermost End, restores the
  // saved states. D3DERR_INVALIDCALL without a matching Begin.
  HRESULT End();
  // Draws `count` bytes of code page 932 text (-1: up to the terminator) in `rect` with `colour`
  // (ARGB; the alpha weights the glyphs' coverage). Lines break at CR, LF and CR LF unless
  // DT_SINGLELINE. Horizontally DT_LEFT, DT_CENTER or DT_RIGHT place each line in the rectangle;
  // with DT_SINGLELINE, DT_VCENTER and DT_BOTTOM place it vertically. Without DT_NOCLIP glyphs
  // are cut at the rectangle. DT_CALCRECT draws nothing and sets rect->right and rect->bottom
  // so that the rectangle just holds the text (from its left and top). Returns the height of the
  // text in pixels (lines x the font's cell height); 0 on failure or while the device is lost.
  // Drawing needs a scene (BeginScene).
  int DrawTextA(const char* text, int count, RECT* rect, DWORD format, D3DCOLOR colour);

  // The device is about to be reset: forget the state blocks (they are made again by
  // OnResetDevice). Quads collected and not yet drawn are dropped.
  HRESULT OnLostDevice();
  HRESULT OnResetDevice();

  HRESULT GetLogFont(gdi::LOGFONTA* out) const;
  d3d::Device* GetDevice() const { return device_; }
  // The cell height every line takes; 0 when the font cannot be measured.
  int LineHeight();
  // The glyph cache, for tests and benchmarks.
  size_t CachedGlyphCount() const;
  size_t PageCount() const { return pages_.size(); }
  const d3d::Texture* Page(size_t index) const { return pages_.at(index).texture.get(); }

 private:
  friend HRESULT D3DXCreateFontIndirect(d3d::Device* device, const gdi::LOGFONTA* logfont,
                                        std::shared_ptr<Font>* out);
  Font(d3d::Device* device, const gdi::LOGFONTA& logfont);
  HRESULT Init();
  bool Measure();

  struct Glyph {
    bool cached = false;
    int32_t page = -1;  // -1: nothing to draw (blank or too big for a page)
    int32_t texX = 0, texY = 0;
    int32_t left = 0, top = 0, width = 0, height = 0;
    int32_t advance = 0;
  };
  struct CachePage {
    std::shared_ptr<d3d::Texture> texture;
    int32_t shelfX = 0, shelfY = 0, shelfHeight = 0;
  };
  struct Vertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
  };

  const Glyph& GlyphOf(char32_t c);
  bool Place(const gdi::GlyphImage& image, Glyph& glyph);
  HRESULT MakeStateBlocks();
  void AddQuad(const Glyph& glyph, int x, int y, const RECT* clip, D3DCOLOR colour);
  void Flush();

  d3d::Device* device_;
  gdi::LOGFONTA logfont_;
  gdi::UniqueFont font_;
  int lineHeight_ = 0;  // 0 until measured
  int pageSide_ = 256;
  bool lost_ = false;
  int beginDepth_ = 0;
  std::shared_ptr<d3d::StateBlock> saved_;
  std::shared_ptr<d3d::StateBlock> drawing_;
  std::array<Glyph, 128> ascii_{};
  std::unordered_map<char32_t, Glyph> others_;
  std::vector<CachePage> pages_;
  std::vector<std::vector<Vertex>> quads_;  // per page, four vertices per glyph
  std::u32string chars_;                    // scratch for DrawTextA
};

// A font for `logfont` (height, weight, italic, quality and face as GDI takes them).
// D3DERR_INVALIDCALL for a null device, logfont or `out`; the font's GDI failures give E_FAIL.
HRESULT D3DXCreateFontIndirect(d3d::Device* device, const gdi::LOGFONTA* logfont,
                               std::shared_ptr<Font>* out);
// A font with the description of a GDI font (its LOGFONTA, read with GetObjectA). The GDI font
// stays the caller's.
HRESULT D3DXCreateFont(d3d::Device* device, gdi::HFONT font, std::shared_ptr<Font>* out);

}  // namespace wz::d3dx
