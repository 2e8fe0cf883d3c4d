// The device cursor: the hardware cursor a full-screen device draws in place of the window's,
// made from the window class's cursor.
#include "texture/device_cursor.h"

#include <vector>

#include "core/library.h"

namespace wz {
namespace {

// The mark in the top-left corner of a watermarked cursor: five rows of twelve pixels, read from
// bit 15 downwards.
constexpr uint16_t kWatermark[5] = {0xCCC0, 0xA2A0, 0xA4A0, 0xA2A0, 0xCCC0};

// A bitmap's rows as 32-bit pixels, bottom row first (GetDIBits' bottom-up layout).
bool ReadBottomUp(gdi::HDC dc, gdi::HBITMAP bitmap, int width, int height,
                  std::vector<uint32_t>& out) {
  gdi::BITMAPINFO bi{};
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = gdi::BI_RGB;
  out.assign(size_t(width) * size_t(height), 0);
  return gdi::GetDIBits(dc, bitmap, 0, UINT(height), out.data(), &bi, gdi::DIB_RGB_COLORS) ==
         height;
}

}  // namespace

HRESULT DeviceCursorSet(d3d::Device* device, gdi::HCURSOR cursor, bool watermark) {
  if (!device) return D3DERR_INVALIDCALL;
  gdi::ICONINFO info;
  if (!gdi::GetIconInfo(cursor, &info)) return E_FAIL;
  gdi::UniqueBitmap mask(info.hbmMask);
  gdi::UniqueBitmap colour(info.hbmColor);
  gdi::BITMAP bm;
  if (!mask || gdi::GetObjectA(mask.get(), sizeof bm, &bm) == 0) return E_FAIL;
  const bool monochrome = !colour;
  const int width = bm.bmWidth;
  const int maskHeight = bm.bmHeight;
  const int height = monochrome ? maskHeight / 2 : maskHeight;
  if (width <= 0 || height <= 0) return E_FAIL;

  std::shared_ptr<d3d::Surface> surface;
  HRESULT hr = device->CreateOffscreenPlainSurface(UINT(width), UINT(height), D3DFMT_A8R8G8B8,
                                                   D3DPOOL_SCRATCH, &surface);
  if (Failed(hr)) return hr;

  gdi::HDC screen = gdi::GetDC(nullptr);
  if (!screen) return E_FAIL;
  std::vector<uint32_t> maskPixels, colourPixels;
  bool read = ReadBottomUp(screen, mask.get(), width, maskHeight, maskPixels);
  if (read && !monochrome) read = ReadBottomUp(screen, colour.get(), width, height, colourPixels);
  gdi::ReleaseDC(nullptr, screen);
  if (!read) return E_FAIL;

  d3d::D3DLOCKED_RECT locked;
  hr = surface->LockRect(&locked, nullptr, 0);
  if (Failed(hr)) return hr;
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                            size_t(y) * size_t(locked.Pitch));
    for (int x = 0; x < width; ++x) {
      // Bottom-up rows: image row y is row (rows - 1 - y). A monochrome cursor's mask holds the
      // AND mask above the XOR image, so the AND row of y is in the mask's upper half and its
      // colour in the lower half.
      uint32_t and_, image;
      if (monochrome) {
        image = maskPixels[size_t(height - 1 - y) * size_t(width) + size_t(x)];
        and_ = maskPixels[size_t(maskHeight - 1 - y) * size_t(width) + size_t(x)];
      } else {
        image = colourPixels[size_t(height - 1 - y) * size_t(width) + size_t(x)];
        and_ = maskPixels[size_t(height - 1 - y) * size_t(width) + size_t(x)];
      }
      uint32_t pixel = (and_ & 0x00FFFFFFu) == 0 ? 0xFF000000u | (image & 0x00FFFFFFu) : 0;
      if (watermark && x < 12 && y < 5 && (kWatermark[y] & (1u << (15 - x)))) {
        pixel |= 0xFF808080u;
      }
      row[x] = pixel;
    }
  }
  surface->UnlockRect();
  return device->SetCursorProperties(info.xHotspot, info.yHotspot, surface.get());
}

void Library::DeviceCursorFromWindowClass() {
  // The window class's cursor is the arrow it was registered with.
  if (device_)
    DeviceCursorSet(device_.get(), platform::LoadCursorA(instance_, platform::IDC_ARROW), true);
  ShowDeviceCursor();
}

void Library::ShowDeviceCursor() {
  if (!device_) return;
  Step(DeviceStep::CursorShow);
  device_->ShowCursor(1);
}

}  // namespace wz
