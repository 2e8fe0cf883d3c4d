// The font engine of the GDI stand-in: face names resolved through a fixed alias table and
// fontconfig, FreeType faces set to the size a LOGFONT asks for, metrics reported the way
// Windows reports TrueType fonts (cell = the face's Windows ascent + descent scaled), and glyphs
// rendered to coverage, falling back to another installed face for characters the face lacks.
// Bold and italic use the family's bold or italic face when fontconfig finds one, else the
// outline is emboldened (horizontally, one pixel at text sizes) or slanted.
// Every function here runs with the layer's lock held; FreeType faces are opened once and kept
// until the process ends, each font owns its FT_Size objects.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/gdi/gdi_internal.h"
#include "platform/text.h"

namespace wz::gdi {

namespace {

// Sizes beyond this many pixels per em are drawn at this size (a glyph is then up to 1 MB of
// coverage).
constexpr int kMaxPixelsPerEm = 1024;
// The glyph cache of one font is emptied when it grows beyond this many bytes of coverage.
constexpr size_t kGlyphCacheBytes = size_t(16) << 20;
// 12 points at 96 dpi, for a LOGFONT height of 0.
constexpr int kDefaultPixelsPerEm = 16;
// The slant of a synthesised italic: x += 0.2126 y (16.16 fixed point).
constexpr FT_Fixed kObliqueShear = 0x0366A;

// Face names the library asks for, mapped to the free families setup installs.
struct Alias {
  const char* requested;  // UTF-8
  const char* family;
};
constexpr Alias kAliases[] = {
    {"ＭＳ 明朝", "IPAMincho"},         {"ＭＳ Ｐ明朝", "IPAPMincho"},
    {"ＭＳ ゴシック", "IPAGothic"},     {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"Arial", "Liberation Sans"},       {"Times New Roman", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
};

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

struct Engine {
  FT_Library library = nullptr;
  bool triedLibrary = false;
  bool fontconfigReady = false;
  bool triedFontconfig = false;
  std::map<std::pair<std::string, int>, FT_Face> faces;  // kept until the process ends
  FcFontSet* fallbackOrder = nullptr;                    // faces by Japanese coverage first
  bool triedFallbackOrder = false;
  std::set<std::string> reportedNames;  // face names already logged as missing
};

// Lives until the process ends: fonts may be deleted during static destruction.
Engine& Eng() {
  static Engine* e = new Engine;
  return *e;
}

FT_Library Library() {
  Engine& e = Eng();
  if (!e.triedLibrary) {
    e.triedLibrary = true;
    if (FT_Init_FreeType(&e.library) != 0) e.library = nullptr;
  }
  return e.library;
}

// At exit: hands fontconfig's memory back (it keeps part of its configuration where a leak
// checker cannot see it). Fonts used after this, during static destruction, resolve to no face.
void ReleaseFontconfig() {
  auto lock = LockGdi();
  Engine& e = Eng();
  if (e.fallbackOrder) FcFontSetDestroy(e.fallbackOrder);
  e.fallbackOrder = nullptr;
  e.triedFallbackOrder = true;
  e.fontconfigReady = false;
  FcFini();
}

bool FontconfigReady() {
  Engine& e = Eng();
  if (!e.triedFontconfig) {
    e.triedFontconfig = true;
    e.fontconfigReady = FcInit() == FcTrue;
    if (e.fontconfigReady) std::atexit(ReleaseFontconfig);
  }
  return e.fontconfigReady;
}

FT_Face OpenFace(const std::string& file, int index) {
  Engine& e = Eng();
  auto key = std::make_pair(file, index);
  auto it = e.faces.find(key);
  if (it != e.faces.end()) return it->second;
  FT_Face face = nullptr;
  FT_Library lib = Library();
  if (!lib || FT_New_Face(lib, file.c_str(), index, &face) != 0) face = nullptr;
  // Only scalable faces can be set to any size; others count as unusable.
  if (face && (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)) {
    FT_Done_Face(face);
    face = nullptr;
  }
  e.faces[key] = face;
  return face;
}

std::string PatternString(FcPattern* p, const char* object, int n = 0) {
  FcChar8* s = nullptr;
  if (FcPatternGetString(p, object, n, &s) != FcResultMatch || !s) return {};
  return reinterpret_cast<const char*>(s);
}

bool PatternHasFamily(FcPattern* p, const std::string& family) {
  for (int n = 0;; ++n) {
    FcChar8* s = nullptr;
    if (FcPatternGetString(p, FC_FAMILY, n, &s) != FcResultMatch || !s) return false;
    if (EqualIgnoringAsciiCase(reinterpret_cast<const char*>(s), family)) return true;
  }
}

struct Candidate {
  std::string family;  // fontconfig's first family name of the face
  std::string file;
  int index = 0;
  FT_Face face = nullptr;
};

// fontconfig's best face for the pattern (family may be empty), weight and slant; when
// `family` is given the face must carry that family name.
bool Match(const std::string& family, bool bold, bool italic, Candidate* out) {
  if (!FontconfigReady()) return false;
  FcPattern* p = FcPatternCreate();
  if (!p) return false;
  if (family.empty()) {
    FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  } else {
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  }
  FcPatternAddInteger(p, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result = FcResultNoMatch;
  FcPattern* m = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  if (!m) return false;
  bool ok = family.empty() || PatternHasFamily(m, family);
  if (ok) {
    out->family = PatternString(m, FC_FAMILY);
    out->file = PatternString(m, FC_FILE);
    int index = 0;
    FcPatternGetInteger(m, FC_INDEX, 0, &index);
    out->index = index;
    out->face = out->file.empty() ? nullptr : OpenFace(out->file, index);
    ok = out->face != nullptr;
  }
  FcPatternDestroy(m);
  return ok;
}

// Every usable face, the ones covering Japanese first, trimmed to those that add characters.
FcFontSet* FallbackOrder() {
  Engine& e = Eng();
  if (!e.triedFallbackOrder && FontconfigReady()) {
    e.triedFallbackOrder = true;
    if (FcPattern* p = FcPatternCreate()) {
      FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
      FcPatternAddBool(p, FC_SCALABLE, FcTrue);
      FcConfigSubstitute(nullptr, p, FcMatchPattern);
      FcDefaultSubstitute(p);
      FcResult result = FcResultNoMatch;
      e.fallbackOrder = FcFontSort(nullptr, p, FcTrue, nullptr, &result);
      FcPatternDestroy(p);
    }
  }
  return e.fallbackOrder;
}

std::string FaceNameUtf8(const LOGFONTA& lf) {
  size_t n = 0;
  while (n < LF_FACESIZE && lf.lfFaceName[n] != '\0')
    ++n;
  return platform::Cp932ToUtf8(std::string_view(lf.lfFaceName, n));
}

std::string AliasedFamily(const std::string& name) {
  for (const Alias& a : kAliases) {
    if (EqualIgnoringAsciiCase(name, a.requested)) return a.family;
  }
  return name;
}

}  // namespace

// One face at the font's size, with the styling it needs on top.
struct FaceAtSize {
  FT_Face face = nullptr;
  FT_Size size = nullptr;
  bool embolden = false;
  bool oblique = false;
};

class SizedFont {
 public:
  ~SizedFont() {
    if (primary.size) FT_Done_Size(primary.size);
    for (auto& [face, f] : fallbacks) {
      if (f.size) FT_Done_Size(f.size);
    }
  }

  FontResolution resolution;
  FontMetrics metrics;
  FaceAtSize primary;
  std::map<FT_Face, FaceAtSize> fallbacks;
  bool bold = false, italic = false, mono = false;
  FT_F26Dot6 charWidth = 0, charHeight = 0;  // 26.6 pixels
  FT_Pos emboldenStrength = 64;              // 26.6 pixels, whole pixels
  std::unordered_map<char32_t, GlyphImage> glyphs;
  size_t glyphBytes = 0;

  // Sets a face to this font's size and notes the styling it lacks.
  bool Prepare(FT_Face face, FaceAtSize* out) {
    out->face = face;
    if (FT_New_Size(face, &out->size) != 0) {
      out->size = nullptr;
      return false;
    }
    FT_Activate_Size(out->size);
    if (FT_Set_Char_Size(face, charWidth, charHeight, 72, 72) != 0) return false;
    out->embolden = bold && !(face->style_flags & FT_STYLE_FLAG_BOLD);
    out->oblique = italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
    return true;
  }
};

void SizedFontDeleter::operator()(SizedFont* font) const {
  delete font;
}

namespace {

struct WindowsMetrics {
  double ascent, descent, lineGap;  // font units
};

// The ascent and descent Windows measures a TrueType cell with (the OS/2 "win" values), the
// typographic ones for faces without them.
WindowsMetrics FaceMetrics(FT_Face face) {
  WindowsMetrics m{double(face->ascender), double(-face->descender), 0.0};
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    m.ascent = os2->usWinAscent;
    m.descent = os2->usWinDescent;
  }
  if (m.ascent + m.descent <= 0) {
    m.ascent = face->units_per_EM * 0.8;
    m.descent = face->units_per_EM * 0.2;
  }
  // External leading: the typographic line gap that the win values do not already cover.
  double typographic = double(face->ascender) - double(face->descender);
  m.lineGap =
      std::max(0.0, double(face->height) - typographic - ((m.ascent + m.descent) - typographic));
  return m;
}

void SetSizeAndMetrics(SizedFont& f, const LOGFONTA& lf) {
  FT_Face face = f.primary.face;
  FontMetrics& m = f.metrics;
  double upem = face ? face->units_per_EM : 1000.0;
  WindowsMetrics w = face ? FaceMetrics(face) : WindowsMetrics{800.0, 200.0, 0.0};
  double total = w.ascent + w.descent;
  double ppem;
  int64_t h = lf.lfHeight;
  if (h < 0) {
    ppem = double(std::min<int64_t>(-h, kMaxPixelsPerEm));
    m.height = int(std::lround(total * ppem / upem));
  } else if (h > 0) {
    ppem = std::min(double(h) * upem / total, double(kMaxPixelsPerEm));
    m.height = int(std::lround(total * ppem / upem));
  } else {
    ppem = kDefaultPixelsPerEm;
    m.height = int(std::lround(total * ppem / upem));
  }
  ppem = std::max(ppem, 1.0);
  m.height = std::max(m.height, 1);
  double scale = ppem / upem;
  m.ascent = std::clamp(int(std::ceil(w.ascent * scale - 1e-6)), 0, m.height);
  m.descent = m.height - m.ascent;
  m.internalLeading = std::max(0, m.height - int(std::lround(ppem)));
  m.externalLeading = int(std::lround(w.lineGap * scale));

  double xppem = ppem;
  auto* os2 = face ? static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2)) : nullptr;
  double avgUnits = os2 && os2->version != 0xFFFF && os2->xAvgCharWidth > 0
                        ? double(os2->xAvgCharWidth)
                        : upem / 2;
  if (lf.lfWidth != 0) {
    double natural = avgUnits * scale;
    double wanted = std::abs(double(lf.lfWidth));
    xppem = std::clamp(ppem * wanted / natural, 1.0, double(kMaxPixelsPerEm));
  }
  double xscale = xppem / upem;
  m.aveCharWidth = std::max(1, int(std::lround(avgUnits * xscale)));
  m.maxCharWidth = face ? int(std::lround(face->max_advance_width * xscale)) : m.aveCharWidth;
  if (face && face->underline_thickness > 0) {
    m.underlinePosition = std::max(1, int(std::lround(-face->underline_position * scale)));
    m.underlineThickness = std::max(1, int(std::lround(face->underline_thickness * scale)));
  } else {
    m.underlinePosition = std::max(1, int(std::lround(ppem / 10)));
    m.underlineThickness = std::max(1, int(std::lround(ppem / 20)));
  }
  m.strikeoutPosition = int(std::lround(ppem * 0.3));

  f.charHeight = FT_F26Dot6(std::lround(ppem * 64));
  f.charWidth = FT_F26Dot6(std::lround(xppem * 64));
  f.emboldenStrength = std::max<FT_Pos>(64, FT_Pos(std::lround(ppem / 24)) * 64);
  f.resolution.pixelsPerEm = int(std::lround(ppem));
}

// The face and glyph index that draw `cp`: the font's own face, else the first fallback face
// that has it, else the own face's missing-glyph box.
FaceAtSize* FaceFor(SizedFont& f, char32_t cp, FT_UInt* index) {
  *index = 0;
  if (f.primary.face) {
    *index = FT_Get_Char_Index(f.primary.face, cp);
    if (*index != 0 || cp < 0x20) return &f.primary;
  }
  if (FcFontSet* order = FallbackOrder()) {
    for (int i = 0; i < order->nfont; ++i) {
      FcPattern* p = order->fonts[i];
      FcCharSet* cs = nullptr;
      if (FcPatternGetCharSet(p, FC_CHARSET, 0, &cs) != FcResultMatch || !cs ||
          !FcCharSetHasChar(cs, cp)) {
        continue;
      }
      int faceIndex = 0;
      FcPatternGetInteger(p, FC_INDEX, 0, &faceIndex);
      FT_Face face = OpenFace(PatternString(p, FC_FILE), faceIndex);
      if (!face || face == f.primary.face) continue;
      FT_UInt gi = FT_Get_Char_Index(face, cp);
      if (gi == 0) continue;
      auto it = f.fallbacks.find(face);
      if (it == f.fallbacks.end()) {
        FaceAtSize sized;
        if (!f.Prepare(face, &sized)) {
          if (sized.size) FT_Done_Size(sized.size);
          continue;
        }
        it = f.fallbacks.emplace(face, sized).first;
      }
      *index = gi;
      return &it->second;
    }
  }
  *index = 0;
  return f.primary.face ? &f.primary : nullptr;
}

GlyphImage Render(SizedFont& f, char32_t cp) {
  GlyphImage g;
  FT_UInt index = 0;
  FaceAtSize* fs = FaceFor(f, cp, &index);
  if (!fs) {
    g.advance = f.metrics.aveCharWidth;
    return g;
  }
  FT_Face face = fs->face;
  FT_Activate_Size(fs->size);
  FT_Int32 flags = FT_LOAD_NO_BITMAP | (f.mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
  if (FT_Load_Glyph(face, index, flags) != 0) return g;
  FT_GlyphSlot slot = face->glyph;
  FT_Pos advance = slot->advance.x;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    if (fs->embolden) {
      FT_Outline_EmboldenXY(&slot->outline, f.emboldenStrength, 0);
      advance += f.emboldenStrength;
    }
    if (fs->oblique) {
      FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
      FT_Outline_Transform(&slot->outline, &shear);
    }
  }
  g.advance = int32_t((advance + 32) >> 6);
  if (FT_Render_Glyph(slot, f.mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) return g;
  const FT_Bitmap& bm = slot->bitmap;
  g.left = slot->bitmap_left;
  g.top = f.metrics.ascent - slot->bitmap_top;
  g.width = int32_t(bm.width);
  g.height = int32_t(bm.rows);
  g.coverage.assign(size_t(bm.width) * bm.rows, 0);
  int pitch = bm.pitch;
  for (unsigned r = 0; r < bm.rows; ++r) {
    const unsigned char* src =
        bm.buffer + (pitch >= 0 ? size_t(r) * pitch : size_t(bm.rows - 1 - r) * size_t(-pitch));
    uint8_t* dst = g.coverage.data() + size_t(r) * bm.width;
    for (unsigned c = 0; c < bm.width; ++c) {
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
        dst[c] = (src[c >> 3] >> (7 - (c & 7))) & 1 ? 255 : 0;
      } else if (bm.num_grays == 256) {
        dst[c] = src[c];
      } else if (bm.num_grays > 1) {
        dst[c] = uint8_t(src[c] * 255 / (bm.num_grays - 1));
      }
    }
  }
  return g;
}

}  // namespace

namespace {

SizedFontPtr MakeSizedFont(const LOGFONTA& lf) {
  SizedFontPtr f(new SizedFont);
  f->bold = lf.lfWeight >= FW_SEMIBOLD;
  f->italic = lf.lfItalic != 0;
  f->mono = lf.lfQuality == NONANTIALIASED_QUALITY;

  std::string requested = FaceNameUtf8(lf);
  std::string family = AliasedFamily(requested);
  Candidate c;
  bool found = !family.empty() && Match(family, f->bold, f->italic, &c);
  if (!found) {
    // Not installed (or no name): the best face with Japanese coverage, then any face at all.
    if (!Match("", f->bold, f->italic, &c)) {
      c = Candidate{};
      if (FcFontSet* order = FallbackOrder()) {
        for (int i = 0; i < order->nfont && !c.face; ++i) {
          int index = 0;
          FcPatternGetInteger(order->fonts[i], FC_INDEX, 0, &index);
          c.file = PatternString(order->fonts[i], FC_FILE);
          c.family = PatternString(order->fonts[i], FC_FAMILY);
          c.face = c.file.empty() ? nullptr : OpenFace(c.file, index);
        }
      }
    }
    if (!family.empty() && Eng().reportedNames.insert(requested).second) {
      std::string line = "*** ERROR *** Font \"" + platform::Utf8ToCp932(requested) +
                         "\" is not installed; drawing with \"" +
                         platform::Utf8ToCp932(c.face ? c.family : "no font") + "\" instead";
      LogLine(line);
    }
    if (!c.face && Eng().reportedNames.insert(std::string()).second) {
      LogLine("*** ERROR *** No usable font is installed; text draws as blank cells");
    }
  }
  f->resolution.family = c.family;
  f->resolution.file = c.file;
  f->resolution.faceFound = found;
  f->primary.face = c.face;
  SetSizeAndMetrics(*f, lf);
  if (f->primary.face && !f->Prepare(f->primary.face, &f->primary)) {
    if (f->primary.size) FT_Done_Size(f->primary.size);
    f->primary = FaceAtSize{};
  }
  f->resolution.syntheticBold = f->primary.embolden;
  f->resolution.syntheticItalic = f->primary.oblique;
  return f;
}

}  // namespace

SizedFont& EngineOf(Font& font) {
  auto& s = font.State();
  if (!s.engine) s.engine = MakeSizedFont(s.logfont);
  return *s.engine;
}

const FontMetrics& MetricsOf(const SizedFont& font) {
  return font.metrics;
}

const FontResolution& ResolutionOf(const SizedFont& font) {
  return font.resolution;
}

const GlyphImage& GlyphOf(SizedFont& font, char32_t codepoint) {
  auto it = font.glyphs.find(codepoint);
  if (it != font.glyphs.end()) return it->second;
  GlyphImage g = Render(font, codepoint);
  if (font.glyphBytes + g.coverage.size() > kGlyphCacheBytes) {
    font.glyphs.clear();
    font.glyphBytes = 0;
  }
  font.glyphBytes += g.coverage.size();
  return font.glyphs.emplace(codepoint, std::move(g)).first->second;
}

}  // namespace wz::gdi
