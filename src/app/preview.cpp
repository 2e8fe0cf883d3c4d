// The preview hooks the frame function calls: grid and axis marker in the scene, the model's
// information lines and the hint over it.
#include "app/preview.h"

#include <cmath>

#include "app/converter.h"
#include "platform/text.h"
#include "render/draw2d.h"
#include "render/draw3d.h"

namespace wz {
namespace {

bool ToInt(float v, int32_t& out) {
  // Truncation of a value outside the int32 range is undefined; such a point is refused.
  if (!std::isfinite(v) || v <= -2147483648.0f || v >= 2147483648.0f) return false;
  out = static_cast<int32_t>(v);
  return true;
}

void GridLine(Library& wz, Vec3 a, Vec3 b, int grey) {
  WorldVertex va, vb;
  va.x = a.x, va.y = a.y, va.z = a.z;
  vb.x = b.x, vb.y = b.y, vb.z = b.z;
  va.red = va.green = va.blue = vb.red = vb.green = vb.blue = grey;
  va.alpha = vb.alpha = 255;
  wz.Line3D(va, vb);
}

void DrawGrid(Library& wz) {
  wz.WorldTransformSet(0, 0, 0, 0, 0, 0, 1, 1, 1);
  for (int b = -20; b <= 20; ++b) {
    const float f = float(b);
    GridLine(wz, {f, 0, 20}, {f, 0, -20}, kGridGrey);
    GridLine(wz, {-20, 0, f}, {20, 0, f}, kGridGrey);
  }
  GridLine(wz, {-20, 0, 0}, {20, 0, 0}, kGridCentreGrey);
  GridLine(wz, {0, 0, 20}, {0, 0, -20}, kGridCentreGrey);
}

// Projects the marker's centre and axis ends through the device's current transforms.
void ProjectMarker(Library& wz, AxisMarker& marker, float s) {
  d3d::Device* device = wz.Device();
  if (!device) return;
  wz.WorldTransformSet(0, 0, 0, 0, 0, 0, 1, 1, 1);
  d3d::D3DMATRIX world, view, projection;
  d3d::D3DVIEWPORT9 viewport;
  if (Failed(device->GetTransform(d3d::D3DTS_WORLD, &world)) ||
      Failed(device->GetTransform(d3d::D3DTS_VIEW, &view)) ||
      Failed(device->GetTransform(d3d::D3DTS_PROJECTION, &projection)) ||
      Failed(device->GetViewport(&viewport))) {
    return;
  }
  const Mat4 wvp = FromD3D(world) * FromD3D(view) * FromD3D(projection);
  const Vec3 c = marker.centre;
  const Vec3 points[4] = {
      c, {c.x + 2 * s, c.y, c.z}, {c.x, c.y + 2 * s, c.z}, {c.x, c.y, c.z - 2 * s}};
  for (int i = 0; i < 4; ++i)
    ProjectToScreen(wvp, viewport.Width, viewport.Height, points[i], marker.points[i]);
}

}  // namespace

bool ProjectToScreen(const Mat4& m, uint32_t width, uint32_t height, Vec3 p, ScreenPoint& out) {
  const float x = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
  const float y = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
  const float w = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
  if (w == 0.0f) return false;
  ScreenPoint r;
  if (!ToInt((x / w + 1.0f) * float(width) / 2.0f, r.x) ||
      !ToInt((1.0f - y / w) * float(height) / 2.0f, r.y)) {
    return false;
  }
  out = r;
  return true;
}

void PreviewScene(Library& wz, ConverterState& state) {
  if (state.gridShown) DrawGrid(wz);
  if (!wz.MouseButton(0) && !wz.MouseButton(1) && !wz.MouseButton(2)) return;
  AxisMarker& marker = state.marker;
  const float s = state.zoom * 1.75f;
  // While the left button is down the marker stays where it was last projected.
  if (!wz.MouseButton(0)) ProjectMarker(wz, marker, s);
  marker.highlightedAxis = -1;
  static const int kColours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  for (int axis = 0; axis < 3; ++axis) {
    Vertex2D from, to;
    from.x = marker.points[0].x, from.y = marker.points[0].y;
    to.x = marker.points[axis + 1].x, to.y = marker.points[axis + 1].y;
    from.red = to.red = kColours[axis][0];
    from.green = to.green = kColours[axis][1];
    from.blue = to.blue = kColours[axis][2];
    from.alpha = 0;
    to.alpha = marker.highlightedAxis == axis ? 255 : 128;
    wz.Line2D(from, to);
  }
}

const char* PreviewHintLine() {
  return WZ_TEXT(
      "変換後の拡張子を選択して、複数ファイルをドラッグ＆ドロップで、コンバートできるようになりま"
      "した。( WZP形式の場合、最新版にコンバート )");
}

void PreviewOverlay(Library& wz) {
  // A model still being read belongs to the loader thread; it is described once it is loaded.
  if (const Model* m = wz.Model3_Get(0); m && m->inUse && m->loaded.Get() == 1) {
    wz.Text_Print(10, 15, WZ_TEXT("ファイル名 : %s"), std::string(m->fileName.View()).c_str());
    wz.Text_Print(10, 40, WZ_TEXT("ポリゴン　 : %d"), m->polygonCount);
    wz.Text_Print(10, 60, WZ_TEXT("グループ　 : %d"), m->groupCount);
    wz.Text_Print(10, 80, WZ_TEXT("テクスチャ : %d"), int(m->textureSlotCount));
  }
  // 25 above the bottom of the screen the text is placed on, whatever the window's size.
  wz.Text_Print(12, wz.TextScreenHeight() - 25, "%s", PreviewHintLine());
}

}  // namespace wz
