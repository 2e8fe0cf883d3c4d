// The converter's preview: the scene hook (grid and axis marker), the overlay hook (what slot 0
// holds and the hint line) and the world-to-screen projection the axis marker is drawn with.
#pragma once

#include <cstdint>

#include "core/library.h"
#include "core/vec_math.h"

namespace wz {

struct ConverterState;

struct ScreenPoint {
  int32_t x = 0, y = 0;
  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// The point p x worldViewProjection on a viewport of `width` x `height` pixels: x = (x/w + 1) *
// width / 2, y = (1 - y/w) * height / 2, truncated. False (out unchanged) when w is 0 or a result
// is not a finite number within the int32 range.
bool ProjectToScreen(const Mat4& worldViewProjection, uint32_t width, uint32_t height, Vec3 p,
                     ScreenPoint& out);

// The axis marker's last projected points: centre, x end, y end, z end.
struct AxisMarker {
  Vec3 centre{};
  ScreenPoint points[4];
  int32_t highlightedAxis = -1;  // 0 x, 1 y, 2 z; -1 none
};

// The grid's line colours.
constexpr int kGridGrey = 112;
constexpr int kGridCentreGrey = 80;

// Grid (when the state's grid switch is on) and axis marker (while a mouse button is down).
void PreviewScene(Library& library, ConverterState& state);
// The four information lines of slot 0's model (when it is loaded) and the hint line.
void PreviewOverlay(Library& library);

// The hint line at the bottom of the window (code page 932).
const char* PreviewHintLine();

}  // namespace wz
