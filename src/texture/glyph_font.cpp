// The glyph font: the atlas painted with GDI into a DIB section and converted to A4R4G4B4, and
// text drawn from it in batches of 50 characters through the dynamic vertex buffer.
#include "texture/glyph_font.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3dx/font.h"
#include "platform/text.h"

namespace wz {
namespace {

using namespace d3d;

constexpr DWORD kGlyphFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr UINT kVertexBufferBytes = 9600;  // 300 vertices of up to 32 bytes
constexpr UINT kMaxVertices = 300;         // 50 characters of two triangles
constexpr uint32_t kFirstAtlasSide = 128;
// Beyond this the doubling stops: no device takes such a texture.
constexpr uint32_t kLargestAtlasSide = 1u << 20;

struct GlyphVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(GlyphVertex) * kMaxVertices <= kVertexBufferBytes);

// The selection of a device context, put back when it ends.
class Selection {
 public:
  Selection(gdi::HDC dc, gdi::HGDIOBJ object) : dc_(dc), old_(gdi::SelectObject(dc, object)) {}
  ~Selection() {
    if (old_) gdi::SelectObject(dc_, old_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool Ok() const { return old_ != nullptr; }

 private:
  gdi::HDC dc_;
  gdi::HGDIOBJ old_;
};

}  // namespace

GlyphFont::GlyphFont(const char* faceName, int32_t height, uint32_t flags)
    : height_(height), flags_(flags) {
  if (faceName) std::memcpy(faceName_, faceName, strnlen(faceName, sizeof faceName_ - 1));
}

GlyphFont::~GlyphFont() {
  InvalidateDeviceObjects();
  DeleteDeviceObjects();
}

// Lays the characters 32 to 126 out row by row, each with `spacing_` texels of padding on both
// sides; with `measureOnly` false paints them and stores their rectangles.
HRESULT GlyphFont::PaintAlphabet(gdi::HDC dc, bool measureOnly) {
  gdi::SIZE size;
  if (!gdi::GetTextExtentPoint32A(dc, "x", 1, &size)) return E_FAIL;
  spacing_ = static_cast<int32_t>(std::ceil(float(size.cy) * 0.3f));
  int64_t x = spacing_, y = 0;
  for (int c = 32; c < 127; ++c) {
    const char str[2] = {char(c), 0};
    if (!gdi::GetTextExtentPoint32A(dc, str, 1, &size)) return E_FAIL;
    if (x + size.cx + spacing_ > int64_t(textureWidth_)) {
      x = spacing_;
      y += size.cy + 1;
    }
    if (y + size.cy > int64_t(textureHeight_)) return D3DERR_MOREDATA;
    if (!measureOnly) {
      if (!gdi::ExtTextOutA(dc, int(x), int(y), gdi::ETO_OPAQUE, nullptr, str, 1, nullptr)) {
        return E_FAIL;
      }
      const float w = float(textureWidth_), h = float(textureHeight_);
      texCoords_[size_t(c - 32)] = {float(x - spacing_) / w, float(y) / h,
                                    float(x + size.cx + spacing_) / w, float(y + size.cy) / h};
    }
    x += size.cx + 2 * spacing_;
  }
  return S_OK;
}

HRESULT GlyphFont::InitDeviceObjects(d3d::Device* device) {
  if (!device) return D3DERR_INVALIDCALL;
  device_ = device;
  atlasPending_ = false;
  return BuildAtlas();
}

HRESULT GlyphFont::InitDeviceObjectsOnFirstUse(d3d::Device* device) {
  if (!device) return D3DERR_INVALIDCALL;
  device_ = device;
  atlasPending_ = true;
  return S_OK;
}

HRESULT GlyphFont::PaintAtlas() {
  if (!device_) return D3DERR_INVALIDCALL;
  if (!atlasPending_) return texture_ ? S_OK : D3DERR_INVALIDCALL;
  atlasPending_ = false;
  return BuildAtlas();
}

HRESULT GlyphFont::BuildAtlas() {
  D3DCAPS9 caps;
  device_->GetDeviceCaps(&caps);
  // The atlas depends on the device only through its largest texture width: a device like the
  // last one gets the texels painted then.
  if (!atlas_.empty() && atlasMaxWidth_ == caps.MaxTextureWidth) {
    std::shared_ptr<d3d::Texture> texture;
    HRESULT hr = device_->CreateTexture(textureWidth_, textureHeight_, 1, 0, D3DFMT_A4R4G4B4,
                                        D3DPOOL_MANAGED, &texture);
    if (Succeeded(hr)) hr = CopyAtlas(*texture);
    if (Succeeded(hr)) texture_ = std::move(texture);
    return hr;
  }
  atlas_.clear();
  textScale_ = 1.0f;
  gdi::UniqueDC dc(gdi::CreateCompatibleDC(nullptr));
  if (!dc) return E_FAIL;
  gdi::SetMapMode(dc.get(), gdi::MM_TEXT);

  // The font at the current text scale, selected into the device context; null when it cannot be
  // made or its size comes to nothing (no alphabet can fit then).
  gdi::UniqueFont font;
  std::unique_ptr<Selection> fontSelection;
  auto makeFont = [&]() -> HRESULT {
    fontSelection.reset();
    font.reset();
    const int dpi = gdi::GetDeviceCaps(dc.get(), gdi::LOGPIXELSY);
    const int pixels = gdi::MulDiv(height_, int(float(dpi) * textScale_), 72);
    if (pixels <= 0) return D3DERR_MOREDATA;
    font.reset(gdi::CreateFontA(
        -pixels, 0, 0, 0, (flags_ & kGlyphFontBold) ? gdi::FW_BOLD : gdi::FW_NORMAL,
        (flags_ & kGlyphFontItalic) ? 1 : 0, 0, 0, gdi::DEFAULT_CHARSET, gdi::OUT_DEFAULT_PRECIS,
        gdi::CLIP_DEFAULT_PRECIS, gdi::ANTIALIASED_QUALITY, gdi::VARIABLE_PITCH, faceName_));
    if (!font) return E_FAIL;
    fontSelection = std::make_unique<Selection>(dc.get(), font.get());
    return fontSelection->Ok() ? S_OK : E_FAIL;
  };
  HRESULT hr = makeFont();
  if (Failed(hr)) return hr;

  textureWidth_ = textureHeight_ = kFirstAtlasSide;
  while ((hr = PaintAlphabet(dc.get(), true)) == D3DERR_MOREDATA) {
    if (textureWidth_ >= kLargestAtlasSide) return hr;
    textureWidth_ *= 2;
    textureHeight_ *= 2;
  }
  if (Failed(hr)) return hr;

  // A device with smaller textures gets an atlas of its largest width and smaller letters.
  if (textureWidth_ > caps.MaxTextureWidth) {
    textScale_ = float(caps.MaxTextureWidth) / float(textureWidth_);
    textureWidth_ = textureHeight_ = caps.MaxTextureWidth;
    bool first = true;
    do {
      if (!first) textScale_ *= 0.9f;
      first = false;
      hr = makeFont();
      if (Succeeded(hr)) hr = PaintAlphabet(dc.get(), true);
      // A font that shrinks to nothing ends the search instead of falling back to GDI's
      // default size, which would never fit either.
      if (hr == D3DERR_MOREDATA && !font) return hr;
    } while (hr == D3DERR_MOREDATA);
    if (Failed(hr)) return hr;
  }

  std::shared_ptr<d3d::Texture> texture;
  hr = device_->CreateTexture(textureWidth_, textureHeight_, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED,
                              &texture);
  if (Failed(hr)) return hr;

  gdi::BITMAPINFO bi{};
  bi.bmiHeader.biWidth = int32_t(textureWidth_);
  bi.bmiHeader.biHeight = -int32_t(textureHeight_);  // top-down rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = gdi::BI_RGB;
  void* bits = nullptr;
  gdi::UniqueBitmap bitmap(
      gdi::CreateDIBSection(dc.get(), &bi, gdi::DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits) return E_FAIL;
  {
    Selection bitmapSelection(dc.get(), bitmap.get());
    if (!bitmapSelection.Ok()) return E_FAIL;
    gdi::SetTextColor(dc.get(), gdi::RGB(255, 255, 255));
    gdi::SetBkColor(dc.get(), gdi::RGB(0, 0, 0));
    gdi::SetTextAlign(dc.get(), gdi::TA_TOP);
    hr = PaintAlphabet(dc.get(), false);
    if (Failed(hr)) return hr;

    const auto* pixels = static_cast<const uint32_t*>(bits);
    atlas_.resize(size_t(textureWidth_) * textureHeight_);
    for (size_t i = 0; i < atlas_.size(); ++i)
      atlas_[i] = AtlasTexel(pixels[i]);
  }
  fontSelection.reset();
  hr = CopyAtlas(*texture);
  if (Failed(hr)) {
    atlas_.clear();
    return hr;
  }
  atlasMaxWidth_ = caps.MaxTextureWidth;
  texture_ = std::move(texture);
  return S_OK;
}

HRESULT GlyphFont::CopyAtlas(d3d::Texture& texture) const {
  D3DLOCKED_RECT locked;
  HRESULT hr = texture.LockRect(0, &locked, nullptr, 0);
  if (Failed(hr)) return hr;
  for (uint32_t y = 0; y < textureHeight_; ++y) {
    std::memcpy(static_cast<uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch),
                atlas_.data() + size_t(y) * textureWidth_, size_t(textureWidth_) * 2);
  }
  return texture.UnlockRect(0);
}

HRESULT GlyphFont::RestoreDeviceObjects() {
  if (!device_) return D3DERR_INVALIDCALL;
  std::shared_ptr<d3d::VertexBuffer> buffer;
  HRESULT hr = device_->CreateVertexBuffer(
      kVertexBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT, &buffer);
  if (Failed(hr)) return hr;
  const bool depth = (flags_ & kGlyphFontDepthTest) != 0;
  hr = d3dx::RecordStatePair(
      *device_,
      [depth](d3d::Device& d) {
        d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d.SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        d.SetRenderState(D3DRS_ALPHATESTENABLE, 1);
        d.SetRenderState(D3DRS_ALPHAREF, 0x08);
        d.SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
        d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d.SetRenderState(D3DRS_ZENABLE, depth ? D3DZB_TRUE : D3DZB_FALSE);
        d.SetRenderState(D3DRS_STENCILENABLE, 0);
        d.SetRenderState(D3DRS_CLIPPING, 1);
        d.SetRenderState(D3DRS_FOGENABLE, 0);
        d.SetRenderState(D3DRS_SPECULARENABLE, 0);
        d.SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d.SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d.SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        d.SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        d.SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        d.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        d.SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        d.SetTexture(0, nullptr);
        d.SetStreamSource(0, nullptr, 0, 0);
        d.SetProgram(nullptr);
        d.SetFVF(kGlyphFvf);
      },
      &saved_, &drawing_);
  if (Failed(hr)) {
    saved_.reset();
    drawing_.reset();
    return hr;
  }
  vertexBuffer_ = std::move(buffer);
  return S_OK;
}

HRESULT GlyphFont::InvalidateDeviceObjects() {
  vertexBuffer_.reset();
  saved_.reset();
  drawing_.reset();
  return S_OK;
}

HRESULT GlyphFont::DeleteDeviceObjects() {
  texture_.reset();
  device_ = nullptr;
  atlasPending_ = false;
  return S_OK;
}

HRESULT GlyphFont::GetTextExtent(const char* text, gdi::SIZE* size) {
  if (!text || !size) return D3DERR_INVALIDCALL;
  if (atlasPending_) {
    const HRESULT painted = PaintAtlas();
    if (Failed(painted)) return painted;
  }
  if (!texture_) return D3DERR_INVALIDCALL;
  const float rowHeight =
      (texCoords_[0][3] - texCoords_[0][1]) * float(textureHeight_) / textScale_;
  const float spacing = float(spacing_) / textScale_;
  float rowWidth = 0, width = 0, height = rowHeight;
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\n') {
      rowWidth = 0;
      height += rowHeight;
      continue;
    }
    if (c < 32 || c > 126) continue;
    const auto& t = texCoords_[c - 32];
    rowWidth += (t[2] - t[0]) * float(textureWidth_) / textScale_ - 2 * spacing;
    width = std::max(width, rowWidth);
  }
  size->cx = int32_t(width);
  size->cy = int32_t(height);
  return S_OK;
}

HRESULT GlyphFont::DrawText(float x, float y, D3DCOLOR colour, const char* text) {
  if (!text || !device_) return D3DERR_INVALIDCALL;
  if (atlasPending_) {
    const HRESULT painted = PaintAtlas();
    if (Failed(painted)) return painted;
  }
  if (!texture_ || !vertexBuffer_ || !drawing_) return D3DERR_INVALIDCALL;
  saved_->Capture();
  drawing_->Apply();
  device_->SetFVF(kGlyphFvf);
  device_->SetStreamSource(0, vertexBuffer_.get(), 0, sizeof(GlyphVertex));
  device_->SetTexture(0, texture_.get());

  const float texW = float(textureWidth_), texH = float(textureHeight_);
  const float lineHeight = (texCoords_[0][3] - texCoords_[0][1]) * texH / textScale_;
  const float spacing = float(spacing_) / textScale_;
  const float startX = x;
  float sx = x - spacing, sy = y;

  HRESULT hr = S_OK;
  GlyphVertex* v = nullptr;
  UINT count = 0;
  auto lock = [&] {
    void* data = nullptr;
    hr = vertexBuffer_->Lock(0, 0, &data, D3DLOCK_DISCARD);
    v = Succeeded(hr) ? static_cast<GlyphVertex*>(data) : nullptr;
    count = 0;
    return v != nullptr;
  };
  auto draw = [&] {
    vertexBuffer_->Unlock();
    v = nullptr;
    if (count > 0) device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, count / 3);
  };
  if (lock()) {
    for (const char* p = text; *p; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '\n') {
        sx = startX - spacing;
        sy += lineHeight;
        continue;
      }
      if (c < 32 || c > 126) continue;
      const auto& t = texCoords_[c - 32];
      const float w = (t[2] - t[0]) * texW / textScale_;
      const float h = (t[3] - t[1]) * texH / textScale_;
      if (c != ' ') {
        // Pixel centres sit on integer coordinates: edges half a pixel before them.
        const float x0 = sx - 0.5f, y0 = sy - 0.5f, x1 = sx + w - 0.5f, y1 = sy + h - 0.5f;
        const GlyphVertex quad[6] = {
            {x0, y0, 0, 1, colour, t[0], t[1]}, {x1, y0, 0, 1, colour, t[2], t[1]},
            {x1, y1, 0, 1, colour, t[2], t[3]}, {x0, y0, 0, 1, colour, t[0], t[1]},
            {x1, y1, 0, 1, colour, t[2], t[3]}, {x0, y1, 0, 1, colour, t[0], t[3]},
        };
        std::memcpy(v + count, quad, sizeof quad);
        count += 6;
        if (count == kMaxVertices) {
          draw();
          if (!lock()) break;
        }
      }
      sx += w - 2 * spacing;
    }
    if (v) draw();
  }
  saved_->Apply();
  return hr;
}

}  // namespace wz
