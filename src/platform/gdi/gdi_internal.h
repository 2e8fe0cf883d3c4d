// Inside the GDI stand-in: the state behind each handle, the table of live handles, the one lock
// every call holds, and the font engine's entry points (fonts.cpp) that text drawing uses.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi.h"

namespace wz::gdi {

class SizedFont;  // fonts.cpp: a resolved face set at one size
struct SizedFontDeleter {
  void operator()(SizedFont* font) const;
};
using SizedFontPtr = std::unique_ptr<SizedFont, SizedFontDeleter>;

namespace detail {

struct FontState {
  LOGFONTA logfont;
  SizedFontPtr engine;  // made on first use (EngineOf): creating a font costs no font lookup
  int selectCount = 0;  // number of device contexts it is selected into
  bool stock = false;
};

struct BitmapState {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;  // 1 or 32
  int stride = 0;         // bytes per row in memory
  bool topDown = true;    // row 0 in memory is the top row
  bool dib = false;       // a DIB section: its pixels are handed out
  std::vector<uint8_t> bits;
  DeviceContext* selectedInto = nullptr;
  bool stock = false;

  uint8_t* Row(int y) { return bits.data() + size_t(topDown ? y : height - 1 - y) * stride; }
  const uint8_t* Row(int y) const {
    return bits.data() + size_t(topDown ? y : height - 1 - y) * stride;
  }
};

struct DcState {
  HFONT font = nullptr;
  HBITMAP bitmap = nullptr;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  UINT textAlign = TA_TOP | TA_LEFT;
  int mapMode = MM_TEXT;
};

}  // namespace detail

// A cursor or icon: its mask (1 bit per pixel) and optional colour bitmap, in the device bitmap
// layout. Shared cursors (the built-in ones) are never destroyed.
class CursorObject final : public GdiObject {
 public:
  bool icon = false;
  DWORD hotX = 0, hotY = 0;
  int width = 0, height = 0;   // the cursor's size (the mask is twice as tall when monochrome)
  std::vector<uint8_t> mask;   // 1 bpp, rows 16-bit aligned, top-down
  std::vector<uint8_t> color;  // 32 bpp B,G,R,X rows, top-down; empty when monochrome
  bool shared = false;
};

enum class ObjectKind { Font, Bitmap, Cursor, DeviceContext };

// The lock that every public call holds while it works.
std::unique_lock<std::mutex> LockGdi();

// The table of live handles (called with the lock held). Lookups give null for a handle that is
// not live or of another kind.
void Register(const void* handle, ObjectKind kind);
void Unregister(const void* handle);
Font* FindFont(const void* handle);
Bitmap* FindBitmap(const void* handle);
CursorObject* FindCursor(const void* handle);
DeviceContext* FindDc(const void* handle);

// A new bitmap object in the device bitmap layout (rows 16-bit aligned, top-down), zero-filled;
// null for an unsupported depth or size. Registered.
Bitmap* NewDeviceBitmap(int width, int height, int bitsPerPixel);
// The font a device context starts with.
Font* StockFont();

// Queues a log line (code page 932); called with the lock held. FlushLogLines, called without
// the lock, hands the queued lines to the sink, so that a sink may call back into this layer.
void LogLine(const std::string& line);
void FlushLogLines();

// Holds the lock for a call that may resolve a font, and passes on its log lines afterwards.
class LockedCall {
 public:
  LockedCall() : lock_(LockGdi()) {}
  ~LockedCall() {
    lock_.unlock();
    FlushLogLines();
  }
  LockedCall(const LockedCall&) = delete;
  LockedCall& operator=(const LockedCall&) = delete;

 private:
  std::unique_lock<std::mutex> lock_;
};

// ---- Font engine (fonts.cpp), called with the lock held ----------------------------------
struct FontMetrics {
  int height = 0, ascent = 0, descent = 0, internalLeading = 0, externalLeading = 0;
  int aveCharWidth = 0, maxCharWidth = 0;
  int underlinePosition = 0, underlineThickness = 1;  // pixels below the baseline, thickness
  int strikeoutPosition = 0;                          // pixels above the baseline
};

// The font's engine: on first use resolves the logfont's face and sets it to size. A missing face
// falls back (with a log line), so there is always one.
SizedFont& EngineOf(Font& font);
const FontMetrics& MetricsOf(const SizedFont& font);
const FontResolution& ResolutionOf(const SizedFont& font);
// The glyph of one code point, rendered once and kept.
const GlyphImage& GlyphOf(SizedFont& font, char32_t codepoint);

}  // namespace wz::gdi
