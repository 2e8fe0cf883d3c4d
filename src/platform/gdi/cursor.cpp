// Cursors and icons: the built-in arrow that LoadCursorA hands out, cursors made from bitmaps,
// and GetIconInfo, which gives copies of a cursor's bitmaps as a real one would: a monochrome
// cursor has one mask bitmap twice its height (AND mask on top, XOR image below) and no colour
// bitmap; a colour cursor has a 1-bit AND mask and a 32-bit colour bitmap of its own size.
#include <algorithm>
#include <cstring>

#include "platform/gdi/gdi_internal.h"

namespace wz::gdi {
namespace {

constexpr int kCursorSide = 32;

// The arrow, drawn here: 'X' black, '.' white, anything else transparent. The tip is (0, 0).
constexpr const char* kArrow[] = {
    "X",             //
    "XX",            //
    "X.X",           //
    "X..X",          //
    "X...X",         //
    "X....X",        //
    "X.....X",       //
    "X......X",      //
    "X.......X",     //
    "X........X",    //
    "X.........X",   //
    "X......XXXXX",  //
    "X...X..X",      //
    "X..XX..X",      //
    "X.X  X..X",     //
    "XX   X..X",     //
    "X     X..X",    //
    "      X..X",    //
    "       X..X",   //
    "       X..X",   //
    "        XX",    //
};

void SetBit(std::vector<uint8_t>& bits, int stride, int x, int y, bool on) {
  uint8_t m = uint8_t(0x80 >> (x & 7));
  uint8_t& b = bits[size_t(y) * stride + (x >> 3)];
  b = on ? uint8_t(b | m) : uint8_t(b & ~m);
}

CursorObject* MakeArrow() {
  auto* c = new CursorObject;
  c->shared = true;
  c->width = kCursorSide;
  c->height = kCursorSide;
  int stride = kCursorSide / 8;
  // AND mask all ones (transparent), XOR image all zeros, then the arrow on top.
  c->mask.assign(size_t(stride) * kCursorSide * 2, 0);
  std::memset(c->mask.data(), 0xFF, size_t(stride) * kCursorSide);
  int rows = int(sizeof kArrow / sizeof kArrow[0]);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; kArrow[y][x] != '\0'; ++x) {
      char p = kArrow[y][x];
      if (p != 'X' && p != '.') continue;
      SetBit(c->mask, stride, x, y, false);
      SetBit(c->mask, stride, x, kCursorSide + y, p == '.');
    }
  }
  Register(static_cast<GdiObject*>(c), ObjectKind::Cursor);
  return c;
}

HCURSOR ToHandle(CursorObject* c) {
  return static_cast<void*>(static_cast<GdiObject*>(c));
}

// Copies a bitmap's rows, top row first, in the device layout of its depth.
void CopyRows(const detail::BitmapState& from, std::vector<uint8_t>& to, int stride) {
  to.assign(size_t(stride) * from.height, 0);
  for (int y = 0; y < from.height; ++y) {
    std::memcpy(to.data() + size_t(y) * stride, from.Row(y), size_t(std::min(stride, from.stride)));
  }
}

Bitmap* BitmapFrom(const std::vector<uint8_t>& rows, int width, int height, int bitsPerPixel) {
  Bitmap* b = NewDeviceBitmap(width, height, bitsPerPixel);
  if (b) std::memcpy(b->State().bits.data(), rows.data(), b->State().bits.size());
  return b;
}

bool DestroyCursorObject(HCURSOR handle) {
  auto lock = LockGdi();
  CursorObject* c = FindCursor(handle);
  if (!c) return false;
  if (c->shared) return true;
  Unregister(static_cast<GdiObject*>(c));
  delete c;
  return true;
}

}  // namespace

HCURSOR BuiltInCursor(int id) {
  if (id != platform::IDC_ARROW) return nullptr;
  auto lock = LockGdi();
  static CursorObject* arrow = MakeArrow();
  return ToHandle(arrow);
}

bool GetIconInfo(HICON icon, ICONINFO* info) {
  if (!info) return false;
  auto lock = LockGdi();
  CursorObject* c = FindCursor(icon);
  if (!c) return false;
  bool mono = c->color.empty();
  Bitmap* mask = BitmapFrom(c->mask, c->width, mono ? c->height * 2 : c->height, 1);
  Bitmap* color = mono ? nullptr : BitmapFrom(c->color, c->width, c->height, 32);
  if (!mask || (!mono && !color)) {
    for (Bitmap* b : {mask, color}) {
      if (!b) continue;
      Unregister(static_cast<GdiObject*>(b));
      delete b;
    }
    return false;
  }
  info->fIcon = c->icon;
  info->xHotspot = c->hotX;
  info->yHotspot = c->hotY;
  info->hbmMask = mask;
  info->hbmColor = color;
  return true;
}

HICON CreateIconIndirect(const ICONINFO* info) {
  if (!info) return nullptr;
  auto lock = LockGdi();
  Bitmap* mask = FindBitmap(info->hbmMask);
  Bitmap* color = info->hbmColor ? FindBitmap(info->hbmColor) : nullptr;
  if (!mask || mask->State().bitsPerPixel != 1 || (info->hbmColor && !color)) return nullptr;
  const auto& ms = mask->State();
  int height = ms.height;
  if (color) {
    const auto& cs = color->State();
    if (cs.bitsPerPixel != 32 || cs.width != ms.width || cs.height != ms.height) return nullptr;
  } else {
    if (ms.height % 2 != 0) return nullptr;
    height = ms.height / 2;
  }
  auto* c = new CursorObject;
  c->icon = info->fIcon;
  c->hotX = info->fIcon ? DWORD(ms.width / 2) : info->xHotspot;
  c->hotY = info->fIcon ? DWORD(height / 2) : info->yHotspot;
  c->width = ms.width;
  c->height = height;
  CopyRows(ms, c->mask, (ms.width + 15) / 16 * 2);
  if (color) CopyRows(color->State(), c->color, color->State().width * 4);
  Register(static_cast<GdiObject*>(c), ObjectKind::Cursor);
  return ToHandle(c);
}

bool DestroyCursor(HCURSOR cursor) {
  return DestroyCursorObject(cursor);
}

bool DestroyIcon(HICON icon) {
  return DestroyCursorObject(icon);
}

}  // namespace wz::gdi

namespace wz::platform {

// Cursors belong to the GDI stand-in, whichever window system is in use.
HCURSOR LoadCursorA(HINSTANCE, int id) {
  return gdi::BuiltInCursor(id);
}

}  // namespace wz::platform
