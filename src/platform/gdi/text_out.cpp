// Fonts as GDI objects, and text measured and drawn with them: extents, metrics, ExtTextOutA
// into the 32-bit bitmap selected into a device context, and single glyphs for glyph caches.
// Coverage blends the text colour over what is there; the fourth byte of a written pixel is 0.
#include <algorithm>
#include <cstring>

#include "platform/gdi/gdi_internal.h"
#include "platform/text.h"

namespace wz::gdi {
namespace {

struct Box {
  int left, top, right, bottom;  // right and bottom exclusive
  bool Empty() const { return left >= right || top >= bottom; }
};

Box Intersect(Box a, Box b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

void Fill(detail::BitmapState& bmp, Box box, COLORREF color) {
  box = Intersect(box, {0, 0, bmp.width, bmp.height});
  if (box.Empty()) return;
  const uint8_t px[4] = {GetBValue(color), GetGValue(color), GetRValue(color), 0};
  for (int y = box.top; y < box.bottom; ++y) {
    uint8_t* row = bmp.Row(y);
    for (int x = box.left; x < box.right; ++x)
      std::memcpy(row + 4 * x, px, 4);
  }
}

void Blend(detail::BitmapState& bmp, const GlyphImage& g, int x0, int y0, Box clip,
           COLORREF color) {
  Box box = Intersect({x0, y0, x0 + g.width, y0 + g.height}, clip);
  if (box.Empty()) return;
  const int src[3] = {GetBValue(color), GetGValue(color), GetRValue(color)};
  for (int y = box.top; y < box.bottom; ++y) {
    const uint8_t* cov = g.coverage.data() + size_t(y - y0) * g.width;
    uint8_t* row = bmp.Row(y);
    for (int x = box.left; x < box.right; ++x) {
      int c = cov[x - x0];
      if (c == 0) continue;
      uint8_t* px = row + 4 * x;
      for (int k = 0; k < 3; ++k)
        px[k] = uint8_t((px[k] * (255 - c) + src[k] * c + 127) / 255);
      px[3] = 0;
    }
  }
}

// The font selected into a live device context (the lock is held).
SizedFont* SelectedFont(HDC dc) {
  if (!FindDc(dc) || !dc->State().font) return nullptr;
  return &EngineOf(*dc->State().font);
}

int TextWidth(SizedFont& font, const std::u32string& text) {
  int64_t w = 0;
  for (char32_t c : text)
    w += GlyphOf(font, c).advance;
  return int(std::min<int64_t>(w, INT32_MAX));
}

}  // namespace

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName) {
  LOGFONTA lf;
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = uint8_t(italic);
  lf.lfUnderline = uint8_t(underline);
  lf.lfStrikeOut = uint8_t(strikeOut);
  lf.lfCharSet = uint8_t(charSet);
  lf.lfOutPrecision = uint8_t(outPrecision);
  lf.lfClipPrecision = uint8_t(clipPrecision);
  lf.lfQuality = uint8_t(quality);
  lf.lfPitchAndFamily = uint8_t(pitchAndFamily);
  if (faceName) {
    size_t n = platform::Cp932SafePrefix(faceName, LF_FACESIZE - 1);
    std::memcpy(lf.lfFaceName, faceName, n);
  }
  return CreateFontIndirectA(&lf);
}

HFONT CreateFontIndirectA(const LOGFONTA* logfont) {
  if (!logfont) return nullptr;
  auto lock = LockGdi();
  auto s = std::make_unique<detail::FontState>();
  s->logfont = *logfont;
  s->logfont.lfFaceName[LF_FACESIZE - 1] = '\0';
  auto* font = new Font(std::move(s));
  Register(static_cast<GdiObject*>(font), ObjectKind::Font);
  return font;
}

bool GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size) {
  if (!size || count < 0 || (count > 0 && !text)) return false;
  std::u32string chars = platform::Cp932ToUtf32(std::string_view(text ? text : "", count));
  LockedCall call;
  SizedFont* font = SelectedFont(dc);
  if (!font) return false;
  size->cx = TextWidth(*font, chars);
  size->cy = MetricsOf(*font).height;
  return true;
}

bool GetTextMetricsA(HDC dc, TEXTMETRICA* tm) {
  if (!tm) return false;
  LockedCall call;
  SizedFont* font = SelectedFont(dc);
  if (!font) return false;
  const LOGFONTA& lf = dc->State().font->State().logfont;
  const FontMetrics& m = MetricsOf(*font);
  *tm = TEXTMETRICA{};
  tm->tmHeight = m.height;
  tm->tmAscent = m.ascent;
  tm->tmDescent = m.descent;
  tm->tmInternalLeading = m.internalLeading;
  tm->tmExternalLeading = m.externalLeading;
  tm->tmAveCharWidth = m.aveCharWidth;
  tm->tmMaxCharWidth = m.maxCharWidth;
  tm->tmWeight = lf.lfWeight == FW_DONTCARE ? FW_NORMAL : lf.lfWeight;
  tm->tmDigitizedAspectX = kScreenDpi;
  tm->tmDigitizedAspectY = kScreenDpi;
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFF;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmItalic = lf.lfItalic;
  tm->tmUnderlined = lf.lfUnderline;
  tm->tmStruckOut = lf.lfStrikeOut;
  // Outline (vector, TrueType) fonts; as on Windows, bit 0 set means variable pitch.
  bool fixed = (lf.lfPitchAndFamily & 3) == FIXED_PITCH;
  tm->tmPitchAndFamily = uint8_t((lf.lfPitchAndFamily & 0xF0) | 0x06 | (fixed ? 0 : 1));
  tm->tmCharSet = lf.lfCharSet;
  return true;
}

bool ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count,
                 const int* dx) {
  if (dx || (count > 0 && !text) || count > UINT(INT32_MAX)) return false;
  std::u32string chars = platform::Cp932ToUtf32(std::string_view(text ? text : "", count));
  LockedCall call;
  SizedFont* font = SelectedFont(dc);
  if (!font) return false;
  const auto& s = dc->State();
  const FontMetrics& m = MetricsOf(*font);
  const LOGFONTA& lf = s.font->State().logfont;

  int width = TextWidth(*font, chars);
  int64_t left = x, top = y;
  if ((s.textAlign & TA_CENTER) == TA_CENTER) {
    left -= width / 2;
  } else if (s.textAlign & TA_RIGHT) {
    left -= width;
  }
  if ((s.textAlign & TA_BASELINE) == TA_BASELINE) {
    top -= m.ascent;
  } else if (s.textAlign & TA_BOTTOM) {
    top -= m.height;
  }
  // Positions far outside the bitmap draw nothing; keep the arithmetic inside int.
  left = std::clamp<int64_t>(left, -(int64_t(1) << 30), int64_t(1) << 30);
  top = std::clamp<int64_t>(top, -(int64_t(1) << 30), int64_t(1) << 30);

  if (!s.bitmap || s.bitmap->State().bitsPerPixel != 32) return true;  // nothing to paint on
  auto& bmp = s.bitmap->State();
  Box clip{0, 0, bmp.width, bmp.height};
  Box given = rect ? Box{rect->left, rect->top, rect->right, rect->bottom} : clip;
  if (rect && (options & ETO_CLIPPED)) clip = Intersect(clip, given);
  if (rect && (options & ETO_OPAQUE)) Fill(bmp, given, s.bkColor);

  Box cell{int(left), int(top), int(std::min<int64_t>(left + width, int64_t(1) << 30)),
           int(top + m.height)};
  if (s.bkMode == OPAQUE || (!rect && (options & ETO_OPAQUE))) {
    Fill(bmp, Intersect(cell, clip), s.bkColor);
  }
  int pen = int(left);
  for (char32_t c : chars) {
    const GlyphImage& g = GlyphOf(*font, c);
    Blend(bmp, g, pen + g.left, int(top) + g.top, clip, s.textColor);
    pen += g.advance;
    if (pen > clip.right) break;
  }
  int baseline = int(top) + m.ascent;
  if (lf.lfUnderline) {
    int y0 = baseline + m.underlinePosition - m.underlineThickness / 2;
    Fill(bmp, Intersect({cell.left, y0, cell.right, y0 + m.underlineThickness}, clip), s.textColor);
  }
  if (lf.lfStrikeOut) {
    int y0 = baseline - m.strikeoutPosition;
    Fill(bmp, Intersect({cell.left, y0, cell.right, y0 + m.underlineThickness}, clip), s.textColor);
  }
  return true;
}

bool TextOutA(HDC dc, int x, int y, const char* text, int count) {
  if (count < 0) return false;
  return ExtTextOutA(dc, x, y, 0, nullptr, text, UINT(count), nullptr);
}

bool GetGlyphImage(HFONT font, char32_t codepoint, GlyphImage* out) {
  if (!out) return false;
  LockedCall call;
  Font* f = FindFont(font);
  if (!f) return false;
  *out = GlyphOf(EngineOf(*f), codepoint);
  return true;
}

bool GetFontResolution(HFONT font, FontResolution* out) {
  if (!out) return false;
  LockedCall call;
  Font* f = FindFont(font);
  if (!f) return false;
  *out = ResolutionOf(EngineOf(*f));
  return true;
}

}  // namespace wz::gdi
