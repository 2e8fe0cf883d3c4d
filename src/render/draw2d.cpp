// Screen-space primitives: lines with their batch, rectangle outlines, triangles, quads in the
// four blend modes and rotated sprites from the texture table. Every primitive is built on the
// stack from pre-transformed vertices and sent with a user-pointer draw; results are ignored.
#include <cmath>

#include "core/library.h"

namespace wz {
namespace {

using namespace d3d;

ScreenVertex Stretched(const Vertex2D& v, ScaleFactors s) {
  return {float(v.x) * s.x,
          float(v.y) * s.y,
          0.0f,
          1.0f,
          PackArgb(v.red, v.green, v.blue, v.alpha),
          v.u,
          v.v};
}

struct BlendStates {
  DWORD op, source, destination;
};
constexpr BlendStates kBlendModes[4] = {
    {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    {D3DBLENDOP_REVSUBTRACT, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    {D3DBLENDOP_ADD, D3DBLEND_ONE, D3DBLEND_ONE},
};

}  // namespace

ScaleFactors ScaleFactorsFor(int windowWidth, int windowHeight, int referenceWidth,
                             int referenceHeight, bool textScaling) {
  if (!textScaling || referenceWidth <= 0 || referenceHeight <= 0) return {};
  return {float(windowWidth) / float(referenceWidth), float(windowHeight) / float(referenceHeight)};
}

int TextFontHeight(float scale, float scaleX) {
  return static_cast<int>(scale * scaleX * 21.0);
}

void Library::Line2D(const Vertex2D& from, const Vertex2D& to) {
  const ScreenVertex v[2] = {Stretched(from, draw2d_.scale), Stretched(to, draw2d_.scale)};
  if (draw2d_.lineCount < 0) {
    if (!device_) return;
    device_->SetFVF(kScreenVertexFvf);
    device_->DrawPrimitiveUP(D3DPT_LINELIST, 1, v, sizeof(ScreenVertex));
    return;
  }
  draw2d_.lineBatch[size_t(draw2d_.lineCount)] = v[0];
  draw2d_.lineBatch[size_t(draw2d_.lineCount) + 1] = v[1];
  draw2d_.lineCount += 2;
  if (draw2d_.lineCount >= kLineBatchVertices) {
    LineBatch_Flush();
    LineBatch_Begin();
  }
}

void Library::LineBatch_Begin() {
  draw2d_.lineBatch.resize(kLineBatchVertices);
  draw2d_.lineCount = 0;
}

void Library::LineBatch_Flush() {
  if (draw2d_.lineCount > 0 && device_) {
    device_->SetFVF(kScreenVertexFvf);
    device_->DrawPrimitiveUP(D3DPT_LINELIST, UINT(draw2d_.lineCount / 2), draw2d_.lineBatch.data(),
                             sizeof(ScreenVertex));
  }
  draw2d_.lineCount = -1;
}

void Library::Rect2D(int x1, int y1, int x2, int y2, int red, int green, int blue, int alpha) {
  auto at = [&](int x, int y) { return Vertex2D{x, y, red, green, blue, alpha, 0.0f, 0.0f}; };
  Line2D(at(x1, y1), at(x2, y1));
  Line2D(at(x2, y1), at(x2, y2));
  Line2D(at(x1, y2), at(x2, y2));
  Line2D(at(x1, y1), at(x1, y2));
}

void Library::Triangle2D(const Vertex2D& a, const Vertex2D& b, const Vertex2D& c) {
  if (!device_) return;
  const ScreenVertex v[3] = {Stretched(a, draw2d_.scale), Stretched(b, draw2d_.scale),
                             Stretched(c, draw2d_.scale)};
  device_->SetFVF(kScreenVertexFvf);
  device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ScreenVertex));
}

void Library::Quad2D(const Vertex2D& a, const Vertex2D& b, const Vertex2D& c, const Vertex2D& d) {
  if (device_) {
    const ScreenVertex v[4] = {Stretched(a, draw2d_.scale), Stretched(b, draw2d_.scale),
                               Stretched(c, draw2d_.scale), Stretched(d, draw2d_.scale)};
    BlendModeApply();
    device_->SetFVF(kScreenVertexFvf);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(ScreenVertex));
  }
  BlendModeSet(0);
  BlendModeApply();
}

void Library::BlendModeSet(int32_t mode) {
  draw2d_.blendMode = mode;
}

void Library::BlendModeApply() {
  const int32_t mode = draw2d_.blendMode;
  if (!device_ || mode < 0 || mode > 3) return;
  const BlendStates& b = kBlendModes[mode];
  device_->SetRenderState(D3DRS_BLENDOP, b.op);
  device_->SetRenderState(D3DRS_SRCBLEND, b.source);
  device_->SetRenderState(D3DRS_DESTBLEND, b.destination);
}

bool Library::Sprite_Draw(const int32_t* cell, int x, int y, float angle, float scaleX,
                          float scaleY, int red, int green, int blue, int alpha) {
  if (!cell || *cell < 0 || size_t(*cell) >= textureTable_.rows.size()) return false;
  const int32_t index = *cell;
  if (!textureTable_.rows[size_t(index)].used) return false;
  float w = 0, h = 0;
  Texture_SizeGet(index, w, h);
  Texture_Set(index);

  // Corners around the centre in fan order, turned by the angle (clockwise on screen for a
  // positive angle, as y points down) and truncated toward zero.
  const float a = angle * 6.2831855f / 360.0f;
  const float ca = std::cos(a), sa = std::sin(a);
  const float hw = w / 2 * scaleX, hh = h / 2 * scaleY;
  const float offsets[4][2] = {{-hw, -hh}, {hw, -hh}, {hw, hh}, {-hw, hh}};
  // The texture coordinates stay a hundredth inside the border so that no neighbouring texel
  // bleeds in.
  const float uv[4][2] = {{0.01f, 0.01f}, {0.99f, 0.01f}, {0.99f, 0.99f}, {0.01f, 0.99f}};
  Vertex2D corner[4];
  for (int k = 0; k < 4; ++k) {
    const float dx = offsets[k][0], dy = offsets[k][1];
    corner[k] = {x + static_cast<int>(dx * ca - dy * sa),
                 y + static_cast<int>(dx * sa + dy * ca),
                 red,
                 green,
                 blue,
                 alpha,
                 uv[k][0],
                 uv[k][1]};
  }
  Quad2D(corner[0], corner[1], corner[2], corner[3]);
  return true;
}

}  // namespace wz
