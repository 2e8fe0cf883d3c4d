// The GDI stand-in: fonts, memory device contexts, bitmaps and DIB sections, text measured and
// drawn into 32-bit bitmaps, and cursors with their mask bitmaps. Numbers keep their Windows
// values; handles are pointers to objects of this layer, made by a Create call and ended by
// DeleteObject / DeleteDC / DestroyCursor (or by the Unique* holders below). Every call checks
// its handle against the live objects, so a stale or foreign handle fails instead of crashing.
//
// Fonts are FreeType faces found through fontconfig. A face name (code page 932) first goes
// through a fixed alias table ("ＭＳ 明朝" -> IPAMincho, "Arial" -> Liberation Sans, ...); a name
// that no installed family carries gives one log line and the best installed face with Japanese
// coverage. Characters missing from the face are drawn from another installed face that has
// them. A font is resolved when it is first measured or drawn, so creating one (at start-up)
// costs no font lookup. The screen is 96 dpi. Text is code page 932, as everywhere in the
// library.
//
// Limits: text is drawn horizontally (escapement and orientation are ignored), only into 32-bit
// bitmaps, in the MM_TEXT mapping mode; kerning is ignored; ExtTextOutA takes no advance array.
// All calls may come from any thread; they are serialised by one lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"
#include "platform/window.h"

namespace wz::gdi {

using platform::HCURSOR;
using platform::HWND;
using COLORREF = uint32_t;  // 0x00BBGGRR

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) {
  return uint8_t(c);
}
constexpr uint8_t GetGValue(COLORREF c) {
  return uint8_t(c >> 8);
}
constexpr uint8_t GetBValue(COLORREF c) {
  return uint8_t(c >> 16);
}
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

// GetDeviceCaps indices.
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int kScreenDpi = 96;

// Font weights, character sets, precisions, qualities, pitches and families.
constexpr int FW_DONTCARE = 0;
constexpr int FW_NORMAL = 400;
constexpr int FW_SEMIBOLD = 600;
constexpr int FW_BOLD = 700;
constexpr uint8_t ANSI_CHARSET = 0;
constexpr uint8_t DEFAULT_CHARSET = 1;
constexpr uint8_t SHIFTJIS_CHARSET = 128;
constexpr uint8_t OUT_DEFAULT_PRECIS = 0;
constexpr uint8_t OUT_TT_PRECIS = 4;
constexpr uint8_t CLIP_DEFAULT_PRECIS = 0;
constexpr uint8_t DEFAULT_QUALITY = 0;
constexpr uint8_t DRAFT_QUALITY = 1;
constexpr uint8_t PROOF_QUALITY = 2;
constexpr uint8_t NONANTIALIASED_QUALITY = 3;
constexpr uint8_t ANTIALIASED_QUALITY = 4;
constexpr uint8_t CLEARTYPE_QUALITY = 5;
constexpr uint8_t DEFAULT_PITCH = 0;
constexpr uint8_t FIXED_PITCH = 1;
constexpr uint8_t VARIABLE_PITCH = 2;
constexpr uint8_t FF_DONTCARE = 0x00;
constexpr uint8_t FF_ROMAN = 0x10;
constexpr uint8_t FF_SWISS = 0x20;
constexpr uint8_t FF_MODERN = 0x30;
constexpr size_t LF_FACESIZE = 32;

// Text drawing.
constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_UPDATECP = 1;  // not supported: SetTextAlign refuses it
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;
constexpr UINT GDI_ERROR = 0xFFFFFFFFu;
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int MM_TEXT = 1;

// Bitmaps.
constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;

struct LOGFONTA {
  int32_t lfHeight = 0;  // < 0: character (em) height in pixels; > 0: cell height; 0: 12 points
  int32_t lfWidth = 0;   // average character width; 0: the face's own proportions
  int32_t lfEscapement = 0;
  int32_t lfOrientation = 0;
  int32_t lfWeight = FW_NORMAL;  // >= FW_SEMIBOLD draws bold
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = DEFAULT_CHARSET;
  uint8_t lfOutPrecision = OUT_DEFAULT_PRECIS;
  uint8_t lfClipPrecision = CLIP_DEFAULT_PRECIS;
  uint8_t lfQuality = DEFAULT_QUALITY;  // NONANTIALIASED_QUALITY: black and white; else grey
  uint8_t lfPitchAndFamily = DEFAULT_PITCH;
  char lfFaceName[LF_FACESIZE] = {};  // code page 932, NUL-terminated
};

struct TEXTMETRICA {
  int32_t tmHeight;  // cell height: tmAscent + tmDescent
  int32_t tmAscent;
  int32_t tmDescent;
  int32_t tmInternalLeading;  // tmHeight minus the character (em) height
  int32_t tmExternalLeading;
  int32_t tmAveCharWidth;
  int32_t tmMaxCharWidth;
  int32_t tmWeight;
  int32_t tmOverhang;
  int32_t tmDigitizedAspectX;
  int32_t tmDigitizedAspectY;
  uint8_t tmFirstChar;
  uint8_t tmLastChar;
  uint8_t tmDefaultChar;
  uint8_t tmBreakChar;
  uint8_t tmItalic;
  uint8_t tmUnderlined;
  uint8_t tmStruckOut;
  uint8_t tmPitchAndFamily;
  uint8_t tmCharSet;
};

struct SIZE {
  int32_t cx;
  int32_t cy;
};

struct BITMAP {
  int32_t bmType;
  int32_t bmWidth;
  int32_t bmHeight;
  int32_t bmWidthBytes;  // bytes per row: 16-bit aligned for device bitmaps, 32-bit for DIBs
  uint16_t bmPlanes;
  uint16_t bmBitsPixel;
  void* bmBits;  // the pixels of a DIB section; null for a device bitmap
};

struct BITMAPINFOHEADER {
  DWORD biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // > 0: rows bottom-up; < 0: rows top-down
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  DWORD biCompression = BI_RGB;
  DWORD biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

namespace detail {
struct FontState;
struct BitmapState;
struct DcState;
}  // namespace detail

// A GDI object: a font or a bitmap. Made only by this layer's Create calls.
class GdiObject {
 public:
  virtual ~GdiObject();
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

 protected:
  GdiObject() = default;
};

class Font final : public GdiObject {
 public:
  explicit Font(std::unique_ptr<detail::FontState> state);
  ~Font() override;
  detail::FontState& State() { return *state_; }

 private:
  std::unique_ptr<detail::FontState> state_;
};

class Bitmap final : public GdiObject {
 public:
  explicit Bitmap(std::unique_ptr<detail::BitmapState> state);
  ~Bitmap() override;
  detail::BitmapState& State() { return *state_; }

 private:
  std::unique_ptr<detail::BitmapState> state_;
};

class DeviceContext {
 public:
  explicit DeviceContext(std::unique_ptr<detail::DcState> state);
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;
  detail::DcState& State() { return *state_; }

 private:
  std::unique_ptr<detail::DcState> state_;
};

using HGDIOBJ = GdiObject*;
using HFONT = Font*;
using HBITMAP = Bitmap*;
using HDC = DeviceContext*;
using HICON = HCURSOR;

struct ICONINFO {
  bool fIcon = false;
  DWORD xHotspot = 0;
  DWORD yHotspot = 0;
  HBITMAP hbmMask = nullptr;   // 1 bit per pixel; twice the height when hbmColor is null
  HBITMAP hbmColor = nullptr;  // 32 bits per pixel, or null for a monochrome cursor
};

// ---- Device contexts ---------------------------------------------------------------------
// A memory device context: starts with a 1 x 1 monochrome bitmap and the default font selected,
// text black, background white and opaque, alignment TA_TOP | TA_LEFT, mapping mode MM_TEXT.
// `compatible` may be null (the screen) or any live device context.
HDC CreateCompatibleDC(HDC compatible);
// Deletes a memory device context; the objects selected into it are free to delete afterwards.
bool DeleteDC(HDC dc);
// A device context for a window's client area (or the screen for null). Nothing drawn into it
// shows anywhere; it serves measuring and GetDIBits. End it with ReleaseDC.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

// LOGPIXELSX/Y 96, BITSPIXEL 32, PLANES 1, HORZRES/VERTRES the screen size, NUMCOLORS -1;
// 0 for other indices or a dead handle.
int GetDeviceCaps(HDC dc, int index);
// (a x b) / c with a 64-bit product, rounded half away from zero; -1 when c is 0 or the result
// does not fit 32 bits.
int MulDiv(int a, int b, int c);

// Selects a font or a bitmap; returns the object of the same kind selected before, or null on
// failure (a dead handle, or a bitmap already selected into another device context).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Deletes a font or a bitmap. False for a dead handle or an object still selected into a device
// context (it stays alive). Deleting a default object of a device context does nothing.
bool DeleteObject(HGDIOBJ object);
// Copies the object's description: LOGFONTA for a font, BITMAP for a bitmap. With `out` null
// returns the size needed; returns 0 for a dead handle or a buffer that is too small.
int GetObjectA(HGDIOBJ object, int size, void* out);

// ---- Bitmaps ----------------------------------------------------------------------------
// A device bitmap of 1 or 32 bits per pixel, rows top-down, each row 16-bit aligned (1 bit per
// pixel: the leftmost pixel is the high bit; 32: bytes B,G,R,X). `bits` (may be null: zeros)
// holds height rows in that layout. Null for other depths or sizes beyond 16384.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// A 32-bit device bitmap of the given size (the screen's depth).
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A 32-bit DIB section (biBitCount 32, BI_RGB): pixels B,G,R,X in memory, top-down rows for a
// negative biHeight, bottom-up for a positive one; `*bits` points at them (zero-filled) until the
// bitmap is deleted. Null (and *bits null) for other formats or sizes beyond 16384.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD offset);
// Reads rows of a bitmap as 32-bit pixels (B,G,R and the fourth byte as stored; monochrome bits
// give black for 0 and white for 1, fourth byte 0). info->bmiHeader gives the layout: biBitCount
// 32, biWidth the bitmap's width, biHeight its height (> 0 bottom-up: `startScan` counts from the
// bottom row; < 0 top-down). Returns the number of rows copied, 0 on failure. With `bits` null
// fills the header (width, height, bit count, image size) and returns the height.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT usage);

// ---- Fonts and text ----------------------------------------------------------------------
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName);
// Null only for a null `logfont`. A face that cannot be found still gives a font (see above);
// the face is looked up when the font is first used.
HFONT CreateFontIndirectA(const LOGFONTA* logfont);

COLORREF SetTextColor(HDC dc, COLORREF color);  // previous colour, CLR_INVALID on failure
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);  // TRANSPARENT or OPAQUE; previous mode, 0 on failure
// TA_LEFT/TA_RIGHT/TA_CENTER combined with TA_TOP/TA_BOTTOM/TA_BASELINE; previous alignment,
// GDI_ERROR on failure.
UINT SetTextAlign(HDC dc, UINT align);
int SetMapMode(HDC dc, int mode);  // MM_TEXT only; previous mode, 0 on failure

// Width of `count` bytes of text with the selected font (advances of the characters) and the
// font's cell height.
bool GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size);
bool GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
// Draws `count` bytes of text with the selected font at (x, y) as the text alignment places it.
// The character cell (the extent, one cell high) is filled with the background colour when the
// background mode is OPAQUE, or with ETO_OPAQUE and no rectangle. ETO_OPAQUE with a rectangle
// fills the rectangle; ETO_CLIPPED clips the text to it. `dx` must be null.
bool ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, const char* text, UINT count,
                 const int* dx);
bool TextOutA(HDC dc, int x, int y, const char* text, int count);

// One character of a font as coverage, for glyph caches (the D3DX font). The box of `width` x
// `height` coverage values (top row first; 0 none .. 255 full, only 0 and 255 for a
// NONANTIALIASED_QUALITY font) sits at (pen x + left, cell top + top); the pen then moves by
// `advance`. Characters missing from every installed face come out as the face's missing-glyph
// box.
struct GlyphImage {
  int32_t advance = 0;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> coverage;
};
bool GetGlyphImage(HFONT font, char32_t codepoint, GlyphImage* out);

// What a font resolved to, for logs and tests: the family and file drawn with, and whether bold
// or italic are synthesised (the family has no such face).
struct FontResolution {
  std::string family;  // UTF-8, as fontconfig names it
  std::string file;
  bool faceFound = false;  // false: the face name named no installed family
  bool syntheticBold = false;
  bool syntheticItalic = false;
  int pixelsPerEm = 0;
};
bool GetFontResolution(HFONT font, FontResolution* out);

// ---- Cursors ----------------------------------------------------------------------------
// platform::LoadCursorA(instance, IDC_ARROW) gives the built-in arrow: 32 x 32, monochrome
// (AND mask above the XOR image in one 32 x 64 mask bitmap), hot spot at the tip (0, 0).
// Copies of the cursor's bitmaps; the caller deletes hbmMask and hbmColor with DeleteObject.
bool GetIconInfo(HICON icon, ICONINFO* info);
// A cursor (fIcon false) or icon from a 1-bit mask and an optional 32-bit colour bitmap of the
// same width (without colour the mask is twice the height). The bitmaps are copied.
HICON CreateIconIndirect(const ICONINFO* info);
// Ends a cursor made by CreateIconIndirect; the shared built-in cursors are left alone.
bool DestroyCursor(HCURSOR cursor);
bool DestroyIcon(HICON icon);
HCURSOR BuiltInCursor(int id);  // LoadCursorA's table: the arrow for IDC_ARROW, else null

// ---- Holders and the log ----------------------------------------------------------------
struct ObjectDeleter {
  void operator()(GdiObject* object) const { DeleteObject(object); }
};
struct DcDeleter {
  void operator()(DeviceContext* dc) const { DeleteDC(dc); }
};
// Holders delete on destruction; an object must no longer be selected into a live device
// context by then (declare the device context's holder last, or select the old objects back).
using UniqueFont = std::unique_ptr<Font, ObjectDeleter>;
using UniqueBitmap = std::unique_ptr<Bitmap, ObjectDeleter>;
using UniqueDC = std::unique_ptr<DeviceContext, DcDeleter>;

// Where the layer's log lines (code page 932, no newline) go, such as a missing font. Without a
// sink they are written to standard error (as UTF-8) when WZ_LOG is set, else dropped.
using LogSink = std::function<void(const std::string& line)>;
void SetLogSink(LogSink sink);

}  // namespace wz::gdi
