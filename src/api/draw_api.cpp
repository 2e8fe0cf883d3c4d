// Drawing, effects and sound of the public interface.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "api/api_state.h"
#include "platform/text.h"
#include "platform/window.h"
#include "wz/draw.h"
#include "wz/effects.h"
#include "wz/sound.h"

namespace wz {
namespace {

Vec3 ToVec3(Float3 v) {
  return {v.x, v.y, v.z};
}

bool ObjectResult(bool ok, const char* what, int object) {
  if (!ok) api::SetError(std::string(what) + ": no display object " + std::to_string(object));
  return ok;
}

Vertex2D ScreenPoint(int x, int y, Rgba c) {
  Vertex2D v;
  v.x = x, v.y = y;
  v.red = c.r, v.green = c.g, v.blue = c.b, v.alpha = c.a;
  return v;
}

}  // namespace

bool DrawFrame() {
  if (!api::Require("wz::DrawFrame")) return false;
  platform::HWND main = WZ.MainWindow();
  if (!main || !platform::IsWindow(main) || !WZ.Device()) {
    api::SetError("wz::DrawFrame: the window is closed");
    return false;
  }
  if (WZ.Active()) {
    WZ.RenderFrame();
    WZ.Device()->Present(nullptr, nullptr, nullptr, nullptr);
  } else {
    // Paused (a reset, a modal loop): the library's own paint draws and shows.
    platform::SendMessageA(main, platform::WM_PAINT, 0, 0);
  }
  return true;
}

void SetBackground(Rgba c) {
  if (!api::Require("wz::SetBackground")) return;
  uint8_t* b = WZ.Rendering().background;
  b[0] = c.r, b[1] = c.g, b[2] = c.b;
}

int CreateObject(ModelId model) {
  if (!api::Require("wz::CreateObject")) return -1;
  const int object = WZ.ModelObject_Create();
  if (model != kNoModel) WZ.ModelObject_ModelSet(object, model);
  return object;
}

void ReleaseObject(int object) {
  if (api::Require("wz::ReleaseObject") && WZ.ModelObject_Get(object))
    WZ.ModelObject_Release(object);
}

bool SetObjectModel(int object, ModelId model) {
  return api::Require("wz::SetObjectModel") &&
         ObjectResult(WZ.ModelObject_ModelSet(object, model), "wz::SetObjectModel", object);
}

bool SetObjectPosition(int object, Float3 position) {
  return api::Require("wz::SetObjectPosition") &&
         ObjectResult(WZ.ModelObject_PositionSet(object, ToVec3(position)), "wz::SetObjectPosition",
                      object);
}

bool SetObjectAngles(int object, Float3 degrees) {
  return api::Require("wz::SetObjectAngles") &&
         ObjectResult(WZ.ModelObject_AngleSet(object, ToVec3(degrees)), "wz::SetObjectAngles",
                      object);
}

bool SetObjectScale(int object, Float3 scale) {
  return api::Require("wz::SetObjectScale") &&
         ObjectResult(WZ.ModelObject_ScaleSet(object, ToVec3(scale)), "wz::SetObjectScale", object);
}

bool SetObjectVisible(int object, bool visible) {
  return api::Require("wz::SetObjectVisible") &&
         ObjectResult(WZ.ModelObject_VisibleSet(object, visible), "wz::SetObjectVisible", object);
}

bool SetCamera(Float3 eye, Float3 target, Float3 up) {
  if (!api::Require("wz::SetCamera")) return false;
  if (!WZ.Camera_Set(ToVec3(eye), ToVec3(target), ToVec3(up))) {
    api::SetError("wz::SetCamera: the eye is the target, or up lies along the view");
    return false;
  }
  return true;
}

bool SetProjection(float fovDegrees, float nearPlane, float farPlane) {
  if (!api::Require("wz::SetProjection")) return false;
  if (!WZ.Camera_ProjectionSet(fovDegrees, nearPlane, farPlane)) {
    api::SetError("wz::SetProjection: needs 0 < fov < 180 and 0 < near < far");
    return false;
  }
  return true;
}

void SetLight(Float3 position, Rgba c) {
  if (api::Require("wz::SetLight"))
    WZ.Light_Set(ToVec3(position), {c.r / 255.0f, c.g / 255.0f, c.b / 255.0f});
}

void SetOverlay(std::function<void()> overlay) {
  if (api::Require("wz::SetOverlay")) WZ.SetOverlayHook(std::move(overlay));
}

void DrawLine(int x1, int y1, int x2, int y2, Rgba c) {
  if (api::Require("wz::DrawLine")) WZ.Line2D(ScreenPoint(x1, y1, c), ScreenPoint(x2, y2, c));
}

void DrawRect(int x1, int y1, int x2, int y2, Rgba c) {
  if (api::Require("wz::DrawRect")) WZ.Rect2D(x1, y1, x2, y2, c.r, c.g, c.b, c.a);
}

void FillRect(int x1, int y1, int x2, int y2, Rgba c) {
  if (!api::Require("wz::FillRect")) return;
  WZ.BlendModeSet(0);
  WZ.Quad2D(ScreenPoint(x1, y1, c), ScreenPoint(x2, y1, c), ScreenPoint(x2, y2, c),
            ScreenPoint(x1, y2, c));
}

void Print(int x, int y, const char* format, ...) {
  if (!api::Require("wz::Print")) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  WZ.Text_Print(x, y, "%s", platform::Utf8ToCp932(line).c_str());
}

void SetTextColour(Rgba c) {
  if (api::Require("wz::SetTextColour")) WZ.Text_ColorSet(c.r, c.g, c.b, c.a);
}

bool SetScreenEffect(ScreenEffect effect) {
  if (!api::Require("wz::SetScreenEffect")) return false;
  EffectState& fx = WZ.Effects();
  if (effect == ScreenEffect::kOff) {
    fx.shaderMode = 0;
    return true;
  }
  const int selector = int(effect) - int(ScreenEffect::kScene);
  if (selector < 0 || size_t(selector) >= kEffect2DTechniques.size()) {
    api::SetError("wz::SetScreenEffect: no such effect");
    return false;
  }
  d3dx::Effect* effect2D = WZ.EffectLoad("HLSL_2D");
  if (!WZ.EffectLoad("HLSL_3D") || !effect2D) {
    api::SetError("wz::SetScreenEffect: the effect files HLSL_3D.fx and HLSL_2D.fx of " +
                  platform::Cp932ToUtf8(WZ.DataDir()) + "\\System\\HLSL cannot be loaded");
    return false;
  }
  if (!effect2D->GetTechniqueByName(kEffect2DTechniques[size_t(selector)])) {
    api::SetError(std::string("wz::SetScreenEffect: HLSL_2D.fx has no technique ") +
                  kEffect2DTechniques[size_t(selector)]);
    return false;
  }
  fx.shaderMode = 1;
  fx.effect2D = selector;
  return true;
}

bool SoundDeviceReady() {
  return api::Require("wz::SoundDeviceReady") && WZ.Sound() != nullptr;
}

}  // namespace wz
