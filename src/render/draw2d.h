// The screen overlay's state and types: the pre-transformed vertex every 2D primitive is made of,
// the 2D scale factors that stretch the reference screen to the window, the line batch, the blend
// mode, and the on-screen text queue with its fonts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/d3dx/font.h"
#include "platform/gdi.h"
#include "platform/win_types.h"

namespace wz {

// A 2D vertex in pixels, already stretched by the 2D scale factors (z 0, rhw 1).
struct ScreenVertex {
  float x, y, z, rhw;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(ScreenVertex) == 28);
constexpr DWORD kScreenVertexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x144

// A corner as the 2D primitives take it: a position in reference coordinates, a colour as four
// 0..255 integers and texture coordinates.
struct Vertex2D {
  int x = 0, y = 0;
  int red = 255, green = 255, blue = 255, alpha = 255;
  float u = 0, v = 0;
};

// Four 0..255 integers as an ARGB word (each taken modulo 256).
constexpr D3DCOLOR PackArgb(int red, int green, int blue, int alpha) {
  return (uint32_t(alpha & 0xFF) << 24) | (uint32_t(red & 0xFF) << 16) |
         (uint32_t(green & 0xFF) << 8) | uint32_t(blue & 0xFF);
}

// Window size over reference size on each axis when text scaling is on; 1 otherwise.
struct ScaleFactors {
  float x = 1.0f, y = 1.0f;
};
ScaleFactors ScaleFactorsFor(int windowWidth, int windowHeight, int referenceWidth,
                             int referenceHeight, bool textScaling);
// The text font's GDI height: trunc(scale x scale x x 21).
int TextFontHeight(float scale, float scaleX);

// One queued line of on-screen text.
struct TextItem {
  char text[256] = {};   // code page 932, at most 255 bytes
  int32_t x = 0, y = 0;  // top-left corner in reference coordinates
  int32_t red = 255, green = 255, blue = 255, alpha = 255;
  float scale = 1.0f;
};

constexpr int32_t kLineBatchVertices = 10000;  // 5000 lines

struct Draw2DState {
  ScaleFactors scale;
  // Lines queued while a batch is open; -1: batching is off.
  int32_t lineCount = -1;
  std::vector<ScreenVertex> lineBatch;
  int32_t blendMode = 0;
  // On-screen text: the queue, and the font scale with the GDI font and the D3DX font built from
  // it (the D3DX font is dropped with the device's resources and made again when needed).
  std::vector<TextItem> queue;
  float fontScale = 1.0f;
  gdi::UniqueFont gdiFont;
  std::shared_ptr<d3dx::Font> font;
  // The application's overlay, run by the 2D stage before the text queue is drawn.
  std::function<void()> overlayHook;
};

}  // namespace wz
