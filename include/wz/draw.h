// Drawing: the frame, display objects (a model placed in the world), the camera and light, 2D
// drawing and text. A frame draws the visible display objects, then the overlay and the text,
// then shows the picture in the window. 2D positions are pixels of a 1280 x 720 screen,
// stretched to the window. Errors: false / -1 with LastError. Threads: the thread that called
// Start.
#pragma once

#include <functional>

#include "wz/export.h"
#include "wz/types.h"

namespace wz {

// Draws one frame and shows it. False when the library is not started or the window is closed.
WZ_API bool DrawFrame();
// The colour the frame is cleared to (Start sets dark grey).
WZ_API void SetBackground(Rgba colour);

// A new display object showing `model` (kNoModel: none yet) at the origin. Its number, or -1.
WZ_API int CreateObject(ModelId model);
WZ_API void ReleaseObject(int object);
// Each returns false for a number that is no display object.
WZ_API bool SetObjectModel(int object, ModelId model);
WZ_API bool SetObjectPosition(int object, Float3 position);
// Turns about x, then y, then z, in degrees.
WZ_API bool SetObjectAngles(int object, Float3 degrees);
WZ_API bool SetObjectScale(int object, Float3 scale);
WZ_API bool SetObjectVisible(int object, bool visible);

// The camera. False (and the camera unchanged) when the eye is the target or `up` lies along
// the view.
WZ_API bool SetCamera(Float3 eye, Float3 target, Float3 up);
// Vertical field of view in degrees (0 to 180), near and far planes (0 < near < far). False
// (unchanged) for other values.
WZ_API bool SetProjection(float fovDegrees, float nearPlane, float farPlane);
// The light: a point light at `position` with `colour`.
WZ_API void SetLight(Float3 position, Rgba colour);

// The overlay: called by every DrawFrame after the 3D scene; the 2D functions below (and
// DrawSprite) draw only from it. An empty function removes it.
WZ_API void SetOverlay(std::function<void()> overlay);
WZ_API void DrawLine(int x1, int y1, int x2, int y2, Rgba colour);
// The outline of a rectangle.
WZ_API void DrawRect(int x1, int y1, int x2, int y2, Rgba colour);
// A filled rectangle.
WZ_API void FillRect(int x1, int y1, int x2, int y2, Rgba colour);

// Text drawn by the next frame, in the text colour: printf rules, UTF-8, one line of at most
// 255 bytes. May be called at any time before DrawFrame.
WZ_API void Print(int x, int y, const char* format, ...) __attribute__((format(printf, 3, 4)));
WZ_API void SetTextColour(Rgba colour);

}  // namespace wz
