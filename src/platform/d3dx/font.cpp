// The D3DX font: layout of code page 932 text into glyph quads, the glyph cache pages and the
// drawing states.
#include "platform/d3dx/font.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace wz::d3dx {

using namespace d3d;
namespace {

constexpr DWORD kFontFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
// Quads per draw call: their vertices stay within 16-bit indices.
constexpr size_t kQuadsPerDraw = 4096;
constexpr int kSmallestPage = 256;
constexpr int kLargestPage = 2048;

// Two triangles per quad over the vertices top-left, top-right, bottom-right, bottom-left.
const std::vector<uint16_t>& QuadIndices() {
  static const std::vector<uint16_t> indices = [] {
    std::vector<uint16_t> v;
    v.reserve(kQuadsPerDraw * 6);
    for (size_t q = 0; q < kQuadsPerDraw; ++q) {
      const auto b = static_cast<uint16_t>(q * 4);
      for (uint16_t k : {0, 1, 2, 0, 2, 3})
        v.push_back(static_cast<uint16_t>(b + k));
    }
    return v;
  }();
  return indices;
}

void SetFontStates(d3d::Device& d) {
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  d.SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
  d.SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, 0);
  // Texels without coverage leave the target alone.
  d.SetRenderState(D3DRS_ALPHATESTENABLE, 1);
  d.SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  d.SetRenderState(D3DRS_ALPHAREF, 0);
  d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  d.SetRenderState(D3DRS_ZWRITEENABLE, 0);
  d.SetRenderState(D3DRS_STENCILENABLE, 0);
  d.SetRenderState(D3DRS_FOGENABLE, 0);
  d.SetRenderState(D3DRS_SPECULARENABLE, 0);
  d.SetRenderState(D3DRS_SCISSORTESTENABLE, 0);
  d.SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  d.SetRenderState(D3DRS_CLIPPING, 1);
  d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d.SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d.SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  d.SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  d.SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  d.SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  d.SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  d.SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_CURRENT);
  d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  d.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  d.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  d.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  d.SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
  d.SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  d.SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  d.SetSamplerState(0, D3DSAMP_SRGBTEXTURE, 0);
  d.SetTexture(0, nullptr);
  d.SetProgram(nullptr);
  d.SetFVF(kFontFvf);
}

// The text with its '&' markers removed ("&&" stays as one '&').
std::string WithoutPrefixes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') out += '&';
      ++i;
      if (i < text.size() && text[i] != '&') out += text[i];
      continue;
    }
    out += text[i];
  }
  return out;
}

void ToChars(std::string_view text, std::u32string& out) {
  out.clear();
  if (std::all_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x80; })) {
    out.assign(text.begin(), text.end());
  } else {
    out = platform::Cp932ToUtf32(text);
  }
}

bool IsBreak(char32_t c) {
  return c == U'\n' || c == U'\r';
}

}  // namespace

HRESULT RecordStatePair(d3d::Device& device, const std::function<void(d3d::Device&)>& set,
                        std::shared_ptr<d3d::StateBlock>* saved,
                        std::shared_ptr<d3d::StateBlock>* drawing) {
  for (auto* block : {saved, drawing}) {
    HRESULT hr = device.BeginStateBlock();
    if (Failed(hr)) return hr;
    set(device);
    hr = device.EndStateBlock(block);
    if (Failed(hr)) return hr;
  }
  return S_OK;
}

Font::Font(d3d::Device* device, const gdi::LOGFONTA& logfont) : device_(device), logfont_(logfont) {
  logfont_.lfFaceName[gdi::LF_FACESIZE - 1] = '\0';
}

Font::~Font() = default;

HRESULT Font::Init() {
  font_.reset(gdi::CreateFontIndirectA(&logfont_));
  if (!font_) return E_FAIL;
  return MakeStateBlocks();
}

// The face is looked up when the font is first measured, not when it is made: a program that
// makes its text font at start-up and never draws text pays nothing for it.
bool Font::Measure() {
  if (lineHeight_ > 0) return true;
  gdi::UniqueDC dc(gdi::CreateCompatibleDC(nullptr));
  if (!dc) return false;
  gdi::HGDIOBJ old = gdi::SelectObject(dc.get(), font_.get());
  gdi::TEXTMETRICA tm;
  const bool measured = old && gdi::GetTextMetricsA(dc.get(), &tm);
  if (old) gdi::SelectObject(dc.get(), old);
  if (!measured || tm.tmHeight <= 0) return false;
  lineHeight_ = tm.tmHeight;

  // A page holds several lines of the largest glyphs, within what the device takes.
  d3d::D3DCAPS9 caps;
  device_->GetDeviceCaps(&caps);
  const int largest = int(
      std::min<uint32_t>({uint32_t(kLargestPage), caps.MaxTextureWidth, caps.MaxTextureHeight}));
  pageSide_ = kSmallestPage;
  while (pageSide_ < 4 * lineHeight_ && pageSide_ < kLargestPage)
    pageSide_ *= 2;
  pageSide_ = std::max(1, std::min(pageSide_, largest));
  return true;
}

int Font::LineHeight() {
  return Measure() ? lineHeight_ : 0;
}

HRESULT Font::MakeStateBlocks() {
  saved_.reset();
  drawing_.reset();
  return RecordStatePair(*device_, SetFontStates, &saved_, &drawing_);
}

HRESULT Font::Begin() {
  if (lost_) return D3DERR_INVALIDCALL;
  if (beginDepth_ == 0) {
    if (!drawing_) {
      HRESULT hr = MakeStateBlocks();
      if (Failed(hr)) return hr;
    }
    saved_->Capture();
    drawing_->Apply();
  }
  ++beginDepth_;
  return S_OK;
}

HRESULT Font::End() {
  if (beginDepth_ == 0) return D3DERR_INVALIDCALL;
  Flush();
  if (--beginDepth_ == 0) saved_->Apply();
  return S_OK;
}

HRESULT Font::OnLostDevice() {
  for (auto& q : quads_)
    q.clear();
  saved_.reset();
  drawing_.reset();
  beginDepth_ = 0;
  lost_ = true;
  return S_OK;
}

HRESULT Font::OnResetDevice() {
  lost_ = false;
  return MakeStateBlocks();
}

HRESULT Font::GetLogFont(gdi::LOGFONTA* out) const {
  if (!out) return D3DERR_INVALIDCALL;
  *out = logfont_;
  return S_OK;
}

size_t Font::CachedGlyphCount() const {
  size_t n = others_.size();
  for (const Glyph& g : ascii_)
    n += g.cached;
  return n;
}

const Font::Glyph& Font::GlyphOf(char32_t c) {
  Glyph& g = c < ascii_.size() ? ascii_[c] : others_[c];
  if (g.cached) return g;
  g.cached = true;
  gdi::GlyphImage image;
  if (!gdi::GetGlyphImage(font_.get(), c, &image)) return g;
  g.advance = image.advance;
  g.left = image.left;
  g.top = image.top;
  g.width = image.width;
  g.height = image.height;
  if (g.width > 0 && g.height > 0 && !Place(image, g)) g.page = -1;
  return g;
}

// Finds room for the glyph on the last page (a new shelf, or a new page when it is full) and
// copies its coverage there as white texels with the coverage as alpha.
bool Font::Place(const gdi::GlyphImage& image, Glyph& glyph) {
  const int w = image.width, h = image.height;
  if (w + 1 > pageSide_ || h + 1 > pageSide_) return false;
  CachePage* page = pages_.empty() ? nullptr : &pages_.back();
  if (page && page->shelfX + w + 1 > pageSide_) {
    page->shelfX = 0;
    page->shelfY += page->shelfHeight;
    page->shelfHeight = 0;
  }
  if (!page || page->shelfY + h + 1 > pageSide_) {
    CachePage fresh;
    if (Failed(device_->CreateTexture(UINT(pageSide_), UINT(pageSide_), 1, 0, D3DFMT_A8R8G8B8,
                                      D3DPOOL_MANAGED, &fresh.texture))) {
      return false;
    }
    pages_.push_back(std::move(fresh));
    quads_.resize(pages_.size());
    page = &pages_.back();
  }
  glyph.page = int32_t(pages_.size() - 1);
  glyph.texX = page->shelfX;
  glyph.texY = page->shelfY;
  page->shelfX += w + 1;
  page->shelfHeight = std::max(page->shelfHeight, h + 1);

  const RECT box{glyph.texX, glyph.texY, glyph.texX + w, glyph.texY + h};
  D3DLOCKED_RECT locked;
  if (Failed(page->texture->LockRect(0, &locked, &box, 0))) return false;
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                            size_t(y) * size_t(locked.Pitch));
    const uint8_t* cov = image.coverage.data() + size_t(y) * size_t(w);
    for (int x = 0; x < w; ++x)
      row[x] = (uint32_t(cov[x]) << 24) | 0x00FFFFFFu;
  }
  page->texture->UnlockRect(0);
  return true;
}

void Font::AddQuad(const Glyph& g, int x, int y, const RECT* clip, D3DCOLOR colour) {
  int left = x, top = y, right = x + g.width, bottom = y + g.height;
  int tx = g.texX, ty = g.texY;
  if (clip) {
    const int cl = std::max(left, int(clip->left)), ct = std::max(top, int(clip->top));
    right = std::min(right, int(clip->right));
    bottom = std::min(bottom, int(clip->bottom));
    tx += cl - left;
    ty += ct - top;
    left = cl;
    top = ct;
  }
  if (left >= right || top >= bottom) return;
  // Pixel centres sit on integer coordinates: the quad's edges half a pixel before them put
  // every texel on one pixel.
  const float x0 = float(left) - 0.5f, y0 = float(top) - 0.5f;
  const float x1 = float(right) - 0.5f, y1 = float(bottom) - 0.5f;
  const float s = 1.0f / float(pageSide_);
  const float u0 = float(tx) * s, v0 = float(ty) * s;
  const float u1 = float(tx + right - left) * s, v1 = float(ty + bottom - top) * s;
  std::vector<Vertex>& q = quads_[size_t(g.page)];
  q.push_back({x0, y0, 0, 1, colour, u0, v0});
  q.push_back({x1, y0, 0, 1, colour, u1, v0});
  q.push_back({x1, y1, 0, 1, colour, u1, v1});
  q.push_back({x0, y1, 0, 1, colour, u0, v1});
}

void Font::Flush() {
  const std::vector<uint16_t>& indices = QuadIndices();
  for (size_t p = 0; p < quads_.size(); ++p) {
    std::vector<Vertex>& q = quads_[p];
    if (q.empty()) continue;
    device_->SetTexture(0, pages_[p].texture.get());
    device_->SetFVF(kFontFvf);
    const size_t total = q.size() / 4;
    for (size_t first = 0; first < total; first += kQuadsPerDraw) {
      const size_t n = std::min(kQuadsPerDraw, total - first);
      device_->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, UINT(n * 4), UINT(n * 2),
                                      indices.data(), D3DFMT_INDEX16, q.data() + first * 4,
                                      sizeof(Vertex));
    }
    q.clear();
  }
}

int Font::DrawTextA(const char* text, int count, RECT* rect, DWORD format, D3DCOLOR colour) {
  if (!text || !rect || lost_ || !Measure()) return 0;
  std::string_view bytes(text, count < 0 ? std::strlen(text) : strnlen(text, size_t(count)));
  if (format & DT_NOPREFIX) {
    ToChars(bytes, chars_);
  } else {
    ToChars(WithoutPrefixes(bytes), chars_);
  }
  const bool single = (format & DT_SINGLELINE) != 0;

  // Lines as [begin, end) ranges of chars_, and their widths.
  struct Line {
    size_t begin, end;
    int width;
  };
  std::vector<Line> lines;
  size_t begin = 0;
  int width = 0;
  for (size_t i = 0; i <= chars_.size(); ++i) {
    if (i == chars_.size() || (!single && IsBreak(chars_[i]))) {
      lines.push_back({begin, i, width});
      if (i < chars_.size() && chars_[i] == U'\r' && i + 1 < chars_.size() &&
          chars_[i + 1] == U'\n') {
        ++i;
      }
      begin = i + 1;
      width = 0;
      continue;
    }
    width += GlyphOf(chars_[i]).advance;
  }
  if (chars_.empty()) lines.clear();
  int widest = 0;
  for (const Line& l : lines)
    widest = std::max(widest, l.width);
  const int height = int(lines.size()) * lineHeight_;

  if (format & DT_CALCRECT) {
    rect->right = rect->left + widest;
    rect->bottom = rect->top + height;
    return height;
  }

  int top = rect->top;
  if (single && (format & DT_BOTTOM)) {
    top = rect->bottom - height;
  } else if (single && (format & DT_VCENTER)) {
    top = rect->top + (rect->bottom - rect->top - height) / 2;
  }
  const RECT* clip = (format & DT_NOCLIP) ? nullptr : rect;
  const bool own = beginDepth_ == 0;
  if (own && Failed(Begin())) return 0;
  for (const Line& l : lines) {
    int x = rect->left;
    if (format & DT_RIGHT) {
      x = rect->right - l.width;
    } else if (format & DT_CENTER) {
      x = rect->left + (rect->right - rect->left - l.width) / 2;
    }
    for (size_t i = l.begin; i < l.end; ++i) {
      const Glyph& g = GlyphOf(chars_[i]);
      if (g.page >= 0) AddQuad(g, x + g.left, top + g.top, clip, colour);
      x += g.advance;
    }
    top += lineHeight_;
  }
  if (own) End();
  return height;
}

HRESULT D3DXCreateFontIndirect(d3d::Device* device, const gdi::LOGFONTA* logfont,
                               std::shared_ptr<Font>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  if (!device || !logfont) return D3DERR_INVALIDCALL;
  std::shared_ptr<Font> font;
  try {
    font.reset(new Font(device, *logfont));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = font->Init();
  if (Failed(hr)) return hr;
  *out = std::move(font);
  return S_OK;
}

HRESULT D3DXCreateFont(d3d::Device* device, gdi::HFONT font, std::shared_ptr<Font>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  gdi::LOGFONTA lf;
  if (gdi::GetObjectA(font, sizeof lf, &lf) != int(sizeof lf)) return D3DERR_INVALIDCALL;
  return D3DXCreateFontIndirect(device, &lf, out);
}

}  // namespace wz::d3dx
