// On-screen text: lines queued with Text_Print during a frame and drawn by TextQueue_Draw with the
// D3DX font made from the text font ("ＭＳ 明朝", its height following the 2D scale factors).
#include <cstdio>
#include <cstring>

#include "core/library.h"
#include "platform/text.h"

namespace wz {

void Library::Text_Print(int x, int y, const char* format, ...) {
  if (!format) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (needed > 0) {
    text.resize(size_t(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(size_t(needed));
  }
  va_end(again);

  TextItem item;
  // A line longer than an item holds is cut at 255 bytes, never inside a two-byte character.
  const size_t n = platform::Cp932SafePrefix(text, sizeof item.text - 1);
  std::memcpy(item.text, text.data(), n);
  item.x = x;
  item.y = y;
  item.red = screenTextColour_[0];
  item.green = screenTextColour_[1];
  item.blue = screenTextColour_[2];
  item.alpha = screenTextColour_[3];
  item.scale = screenTextScale_;
  draw2d_.queue.push_back(item);
}

void Library::Text_ColorSet(int red, int green, int blue, int alpha) {
  screenTextColour_[0] = uint8_t(red);
  screenTextColour_[1] = uint8_t(green);
  screenTextColour_[2] = uint8_t(blue);
  screenTextColour_[3] = uint8_t(alpha);
}

void Library::TextFont_Create(float scale) {
  draw2d_.fontScale = scale;
  draw2d_.gdiFont.reset();
  draw2d_.scale =
      ScaleFactorsFor(windowWidth_, windowHeight_, referenceWidth_, referenceHeight_, textScaling_);
  draw2d_.gdiFont.reset(gdi::CreateFontA(
      TextFontHeight(scale, draw2d_.scale.x), 0, 0, 0, gdi::FW_NORMAL, 0, 0, 0,
      gdi::SHIFTJIS_CHARSET, gdi::OUT_TT_PRECIS, gdi::CLIP_DEFAULT_PRECIS, gdi::PROOF_QUALITY,
      gdi::FIXED_PITCH | gdi::FF_MODERN, WZ_TEXT("ＭＳ 明朝")));
  draw2d_.font.reset();
  if (device_ && draw2d_.gdiFont) {
    d3dx::D3DXCreateFont(device_.get(), draw2d_.gdiFont.get(), &draw2d_.font);
  }
}

// The lines drawn with one font share one Begin/End, so that they go out together in one draw
// call per glyph page, in queue order; a Begin/End per line gives the same pixels with a draw
// call per line.
void Library::TextQueue_Draw() {
  if (!draw2d_.font) TextFont_Create(draw2d_.fontScale);
  bool begun = false;
  for (const TextItem& item : draw2d_.queue) {
    if (item.scale != draw2d_.fontScale) {
      if (begun) draw2d_.font->End();
      begun = false;
      TextFont_Create(item.scale);
    }
    if (draw2d_.fontScale <= 0 || !draw2d_.font) continue;
    int x = item.x, y = item.y;
    if (textScaling_ && referenceWidth_ > 0 && referenceHeight_ > 0) {
      x = static_cast<int>(int64_t{item.x} * windowWidth_ / referenceWidth_);
      y = static_cast<int>(int64_t{item.y} * windowHeight_ / referenceHeight_);
    }
    if (!begun) begun = Succeeded(draw2d_.font->Begin());
    RECT rect{x, y, 0, 0};
    draw2d_.font->DrawTextA(item.text, -1, &rect, d3dx::DT_NOCLIP | d3dx::DT_NOPREFIX,
                            PackArgb(item.red, item.green, item.blue, item.alpha));
  }
  if (begun) draw2d_.font->End();
  draw2d_.queue.clear();
}

}  // namespace wz
