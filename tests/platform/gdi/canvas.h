// A memory device context with a 32-bit top-down DIB section selected, for text tests: pixels
// are read straight from the section's memory (bytes B, G, R, X).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/gdi.h"

namespace wz::gdi::testing {

struct Box {
  int left, top, right, bottom;  // right and bottom exclusive
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<uint8_t*>(bits);
    dc_.reset(CreateCompatibleDC(nullptr));
    old_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() {
    SelectObject(dc_.get(), old_);
    if (font_) SelectObject(dc_.get(), oldFont_);
  }

  HDC dc() const { return dc_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }

  // Selects the font (kept until the canvas ends).
  void Use(HFONT font) {
    HGDIOBJ old = SelectObject(dc_.get(), font);
    if (!font_) oldFont_ = old;
    font_.reset(font);
  }

  // Fills the whole canvas with one colour.
  void Clear(COLORREF color) {
    COLORREF old = SetBkColor(dc_.get(), color);
    RECT all{0, 0, width_, height_};
    ExtTextOutA(dc_.get(), 0, 0, ETO_OPAQUE, &all, "", 0, nullptr);
    SetBkColor(dc_.get(), old);
  }

  COLORREF Pixel(int x, int y) const {
    const uint8_t* p = bits_ + (size_t(y) * width_ + x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
  uint8_t Fourth(int x, int y) const { return bits_[(size_t(y) * width_ + x) * 4 + 3]; }

  int Count(const std::function<bool(int x, int y, COLORREF c)>& pred) const {
    int n = 0;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x)
        n += pred(x, y, Pixel(x, y)) ? 1 : 0;
    }
    return n;
  }

 private:
  int width_, height_;
  uint8_t* bits_ = nullptr;
  UniqueBitmap bitmap_;
  UniqueFont font_;
  HGDIOBJ oldFont_ = nullptr;
  UniqueDC dc_;  // last member: ends before the objects selected into it are deleted
  HGDIOBJ old_ = nullptr;
};

}  // namespace wz::gdi::testing
