// GDI objects: the table of live handles, device contexts, device bitmaps and DIB sections,
// selection and deletion, GetObjectA, GetDIBits, the device capabilities and the log sink.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "platform/gdi/gdi_internal.h"
#include "platform/text.h"

namespace wz::gdi {

GdiObject::~GdiObject() = default;
Font::Font(std::unique_ptr<detail::FontState> state) : state_(std::move(state)) {}
Font::~Font() = default;
Bitmap::Bitmap(std::unique_ptr<detail::BitmapState> state) : state_(std::move(state)) {}
Bitmap::~Bitmap() = default;
DeviceContext::DeviceContext(std::unique_ptr<detail::DcState> state) : state_(std::move(state)) {}
DeviceContext::~DeviceContext() = default;

namespace {

// Largest side and pixel count of a bitmap: a 4096 x 4096 32-bit bitmap is 64 MB.
constexpr int kMaxBitmapSide = 16384;
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 24;

struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, ObjectKind> live;
  LogSink sink;
  std::vector<std::string> pendingLog;
};

// Lives until the process ends: fonts and bitmaps may be deleted during static destruction.
Registry& Reg() {
  static Registry* r = new Registry;
  return *r;
}

ObjectKind* KindOf(const void* handle) {
  auto it = Reg().live.find(handle);
  return it == Reg().live.end() ? nullptr : &it->second;
}

// A registered GdiObject is keyed by its GdiObject address, so the casts below only run on
// handles that are live objects of the expected class.
template <typename T>
T* Find(const void* handle, ObjectKind kind) {
  if (!handle) return nullptr;
  ObjectKind* k = KindOf(handle);
  if (!k || *k != kind) return nullptr;
  return static_cast<T*>(static_cast<GdiObject*>(const_cast<void*>(handle)));
}

int DeviceStride(int width, int bitsPerPixel) {
  return (width * bitsPerPixel + 15) / 16 * 2;
}

bool SizeAllowed(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxBitmapSide && height <= kMaxBitmapSide &&
         int64_t(width) * height <= kMaxBitmapPixels;
}

Bitmap* NewBitmap(int width, int height, int bitsPerPixel, int stride, bool topDown, bool dib) {
  if (!SizeAllowed(width, height) || (bitsPerPixel != 1 && bitsPerPixel != 32)) return nullptr;
  try {
    auto s = std::make_unique<detail::BitmapState>();
    s->width = width;
    s->height = height;
    s->bitsPerPixel = bitsPerPixel;
    s->stride = stride;
    s->topDown = topDown;
    s->dib = dib;
    s->bits.assign(size_t(stride) * height, 0);
    auto* b = new Bitmap(std::move(s));
    Register(static_cast<GdiObject*>(b), ObjectKind::Bitmap);
    return b;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

Bitmap* StockBitmap() {
  static Bitmap* stock = [] {
    Bitmap* b = NewDeviceBitmap(1, 1, 1);
    b->State().stock = true;
    return b;
  }();
  return stock;
}

void Deselect(DeviceContext* dc) {
  auto& s = dc->State();
  if (s.font && !s.font->State().stock) --s.font->State().selectCount;
  if (s.bitmap && s.bitmap->State().selectedInto == dc) s.bitmap->State().selectedInto = nullptr;
  s.font = nullptr;
  s.bitmap = nullptr;
}

void WriteDefaultLog(const std::string& line) {
  if (!std::getenv("WZ_LOG")) return;
  std::string out = platform::Cp932ToUtf8(line) + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::unique_lock<std::mutex> LockGdi() {
  return std::unique_lock<std::mutex>(Reg().mutex);
}

void Register(const void* handle, ObjectKind kind) {
  Reg().live[handle] = kind;
}
void Unregister(const void* handle) {
  Reg().live.erase(handle);
}
Font* FindFont(const void* handle) {
  return Find<Font>(handle, ObjectKind::Font);
}
Bitmap* FindBitmap(const void* handle) {
  return Find<Bitmap>(handle, ObjectKind::Bitmap);
}
CursorObject* FindCursor(const void* handle) {
  return Find<CursorObject>(handle, ObjectKind::Cursor);
}
DeviceContext* FindDc(const void* handle) {
  if (!handle) return nullptr;
  ObjectKind* k = KindOf(handle);
  if (!k || *k != ObjectKind::DeviceContext) return nullptr;
  return static_cast<DeviceContext*>(const_cast<void*>(handle));
}

Bitmap* NewDeviceBitmap(int width, int height, int bitsPerPixel) {
  if (!SizeAllowed(width, height)) return nullptr;
  return NewBitmap(width, height, bitsPerPixel, DeviceStride(width, bitsPerPixel), true, false);
}

Font* StockFont() {
  static Font* stock = [] {
    LOGFONTA lf;
    lf.lfHeight = 16;
    auto s = std::make_unique<detail::FontState>();
    s->logfont = lf;
    s->stock = true;
    auto* f = new Font(std::move(s));
    Register(static_cast<GdiObject*>(f), ObjectKind::Font);
    return f;
  }();
  return stock;
}

void LogLine(const std::string& line) {
  Reg().pendingLog.push_back(line);
}

void FlushLogLines() {
  std::vector<std::string> lines;
  LogSink sink;
  {
    std::lock_guard lock(Reg().mutex);
    lines.swap(Reg().pendingLog);
    sink = Reg().sink;
  }
  for (const auto& line : lines) {
    if (sink) {
      sink(line);
    } else {
      WriteDefaultLog(line);
    }
  }
}

void SetLogSink(LogSink sink) {
  std::lock_guard lock(Reg().mutex);
  Reg().sink = std::move(sink);
}

// ---- Device contexts ---------------------------------------------------------------------

HDC CreateCompatibleDC(HDC compatible) {
  auto lock = LockGdi();
  if (compatible && !FindDc(compatible)) return nullptr;
  auto s = std::make_unique<detail::DcState>();
  s->font = StockFont();
  s->bitmap = StockBitmap();
  auto* dc = new DeviceContext(std::move(s));
  Register(dc, ObjectKind::DeviceContext);
  return dc;
}

bool DeleteDC(HDC dc) {
  auto lock = LockGdi();
  if (!FindDc(dc)) return false;
  Deselect(dc);
  Unregister(dc);
  delete dc;
  return true;
}

HDC GetDC(HWND) {
  return CreateCompatibleDC(nullptr);
}

int ReleaseDC(HWND, HDC dc) {
  return DeleteDC(dc) ? 1 : 0;
}

int GetDeviceCaps(HDC dc, int index) {
  // The screen size comes from the window system, asked before this layer's lock is taken.
  int screenW = platform::GetSystemMetrics(platform::SM_CXSCREEN);
  int screenH = platform::GetSystemMetrics(platform::SM_CYSCREEN);
  auto lock = LockGdi();
  if (!FindDc(dc)) return 0;
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
      return kScreenDpi;
    case BITSPIXEL:
      return 32;
    case PLANES:
      return 1;
    case HORZRES:
      return screenW;
    case VERTRES:
      return screenH;
    case NUMCOLORS:
      return -1;
    default:
      return 0;
  }
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t p = int64_t(a) * b;
  int64_t q = p / c;
  int64_t r = p % c;
  if (2 * (r < 0 ? -r : r) >= (c < 0 ? -int64_t(c) : int64_t(c)))
    q += ((p < 0) != (c < 0)) ? -1 : 1;
  if (q > INT_MAX || q < INT_MIN) return -1;
  return int(q);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  auto lock = LockGdi();
  if (!FindDc(dc)) return nullptr;
  auto& s = dc->State();
  if (Font* f = FindFont(object)) {
    Font* old = s.font;
    if (old != f) {
      if (!f->State().stock) ++f->State().selectCount;
      if (old && !old->State().stock) --old->State().selectCount;
      s.font = f;
    }
    return old;
  }
  if (Bitmap* b = FindBitmap(object)) {
    auto& bs = b->State();
    if (!bs.stock && bs.selectedInto && bs.selectedInto != dc) return nullptr;
    Bitmap* old = s.bitmap;
    if (old && old->State().selectedInto == dc) old->State().selectedInto = nullptr;
    if (!bs.stock) bs.selectedInto = dc;
    s.bitmap = b;
    return old;
  }
  return nullptr;
}

bool DeleteObject(HGDIOBJ object) {
  auto lock = LockGdi();
  if (Font* f = FindFont(object)) {
    if (f->State().stock) return true;
    if (f->State().selectCount > 0) return false;
    Unregister(object);
    delete f;
    return true;
  }
  if (Bitmap* b = FindBitmap(object)) {
    if (b->State().stock) return true;
    if (b->State().selectedInto) return false;
    Unregister(object);
    delete b;
    return true;
  }
  return false;
}

int GetObjectA(HGDIOBJ object, int size, void* out) {
  auto lock = LockGdi();
  if (Font* f = FindFont(object)) {
    if (!out) return int(sizeof(LOGFONTA));
    if (size < int(sizeof(LOGFONTA))) return 0;
    std::memcpy(out, &f->State().logfont, sizeof(LOGFONTA));
    return int(sizeof(LOGFONTA));
  }
  if (Bitmap* b = FindBitmap(object)) {
    if (!out) return int(sizeof(BITMAP));
    if (size < int(sizeof(BITMAP))) return 0;
    const auto& s = b->State();
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = s.width;
    bm.bmHeight = s.height;
    bm.bmWidthBytes = s.stride;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = uint16_t(s.bitsPerPixel);
    bm.bmBits = s.dib ? const_cast<uint8_t*>(s.bits.data()) : nullptr;
    std::memcpy(out, &bm, sizeof bm);
    return int(sizeof(BITMAP));
  }
  return 0;
}

// ---- Bitmaps ----------------------------------------------------------------------------

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (planes != 1) return nullptr;
  auto lock = LockGdi();
  Bitmap* b = NewDeviceBitmap(width, height, int(bitsPerPixel));
  if (b && bits) {
    auto& v = b->State().bits;
    std::memcpy(v.data(), bits, v.size());
  }
  return b;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  auto lock = LockGdi();
  if (!FindDc(dc)) return nullptr;
  return NewDeviceBitmap(width, height, 32);
}

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, void* section,
                         DWORD) {
  if (bits) *bits = nullptr;
  if (!info || usage != DIB_RGB_COLORS || section) return nullptr;
  const auto& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biBitCount != 32 ||
      h.biCompression != BI_RGB || h.biHeight == INT_MIN) {
    return nullptr;
  }
  auto lock = LockGdi();
  if (dc && !FindDc(dc)) return nullptr;
  int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  if (!SizeAllowed(h.biWidth, height)) return nullptr;
  Bitmap* b = NewBitmap(h.biWidth, height, 32, h.biWidth * 4, h.biHeight < 0, true);
  if (b && bits) *bits = b->State().bits.data();
  return b;
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT usage) {
  if (!info || usage != DIB_RGB_COLORS) return 0;
  auto lock = LockGdi();
  Bitmap* b = FindBitmap(bitmap);
  if (!FindDc(dc) || !b) return 0;
  const auto& s = b->State();
  auto& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (!bits) {
    if (h.biBitCount == 0) {
      h.biWidth = s.width;
      h.biHeight = s.height;
      h.biPlanes = 1;
      h.biBitCount = uint16_t(s.bitsPerPixel);
      h.biCompression = BI_RGB;
    }
    int bpp = h.biBitCount == 0 ? s.bitsPerPixel : h.biBitCount;
    h.biSizeImage = DWORD((s.width * bpp + 31) / 32 * 4 * s.height);
    return s.height;
  }
  int64_t height = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
  if (h.biBitCount != 32 || h.biCompression != BI_RGB || h.biWidth != s.width ||
      height != s.height || startScan >= UINT(s.height)) {
    return 0;
  }
  UINT lines = std::min<UINT>(scanLines, UINT(s.height) - startScan);
  auto* out = static_cast<uint8_t*>(bits);
  for (UINT i = 0; i < lines; ++i) {
    int scan = int(startScan + i);
    int row = h.biHeight > 0 ? s.height - 1 - scan : scan;  // row from the top
    const uint8_t* src = s.Row(row);
    uint8_t* dst = out + size_t(i) * s.width * 4;
    if (s.bitsPerPixel == 32) {
      std::memcpy(dst, src, size_t(s.width) * 4);
    } else {
      for (int x = 0; x < s.width; ++x) {
        uint8_t v = (src[x >> 3] >> (7 - (x & 7))) & 1 ? 0xFF : 0x00;
        dst[4 * x + 0] = v;
        dst[4 * x + 1] = v;
        dst[4 * x + 2] = v;
        dst[4 * x + 3] = 0;
      }
    }
  }
  return int(lines);
}

// ---- Device context state ----------------------------------------------------------------

COLORREF SetTextColor(HDC dc, COLORREF color) {
  auto lock = LockGdi();
  if (!FindDc(dc)) return CLR_INVALID;
  return std::exchange(dc->State().textColor, color & 0xFFFFFF);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  auto lock = LockGdi();
  if (!FindDc(dc)) return CLR_INVALID;
  return std::exchange(dc->State().bkColor, color & 0xFFFFFF);
}

int SetBkMode(HDC dc, int mode) {
  auto lock = LockGdi();
  if (!FindDc(dc) || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  return std::exchange(dc->State().bkMode, mode);
}

UINT SetTextAlign(HDC dc, UINT align) {
  auto lock = LockGdi();
  constexpr UINT kHorizontal = TA_CENTER;  // TA_LEFT 0, TA_RIGHT 2, TA_CENTER 6
  constexpr UINT kVertical = TA_BASELINE;  // TA_TOP 0, TA_BOTTOM 8, TA_BASELINE 24
  if (!FindDc(dc) || (align & ~(kHorizontal | kVertical)) != 0 || (align & kHorizontal) == 4 ||
      (align & kVertical) == 16) {
    return GDI_ERROR;
  }
  return std::exchange(dc->State().textAlign, align);
}

int SetMapMode(HDC dc, int mode) {
  auto lock = LockGdi();
  if (!FindDc(dc) || mode != MM_TEXT) return 0;
  return std::exchange(dc->State().mapMode, mode);
}

}  // namespace wz::gdi
