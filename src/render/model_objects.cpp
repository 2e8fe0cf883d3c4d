// Display objects (which model is shown where), the library's camera and its light. The frame
// function reads all three; nothing here touches the device.
#include <cmath>

#include "core/library.h"

namespace wz {
namespace {

void Rebuild(ModelObject& o) {
  o.world = BuildWorldTransform(o.position, o.angles, o.scale);
}

}  // namespace

int32_t Library::ModelObject_Create() {
  auto& objects = rendering_.objects;
  size_t n = 0;
  while (n < objects.size() && objects[n].inUse)
    ++n;
  if (n == objects.size()) objects.emplace_back();
  objects[n] = ModelObject{};
  objects[n].inUse = 1;
  return static_cast<int32_t>(n);
}

void Library::ModelObject_Release(int32_t object) {
  if (ModelObject* o = ModelObject_Get(object)) *o = ModelObject{};
}

ModelObject* Library::ModelObject_Get(int32_t object) {
  if (object < 0 || size_t(object) >= rendering_.objects.size()) return nullptr;
  ModelObject& o = rendering_.objects[size_t(object)];
  return o.inUse ? &o : nullptr;
}

bool Library::ModelObject_ModelSet(int32_t object, ModelId model) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->model = model < 0 ? kNoModel : model;
  return true;
}

bool Library::ModelObject_PositionSet(int32_t object, Vec3 position) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->position = position;
  Rebuild(*o);
  return true;
}

bool Library::ModelObject_AngleSet(int32_t object, Vec3 anglesDegrees) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->angles = anglesDegrees;
  Rebuild(*o);
  return true;
}

bool Library::ModelObject_ScaleSet(int32_t object, Vec3 scale) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->scale = scale;
  Rebuild(*o);
  return true;
}

bool Library::ModelObject_MatrixSet(int32_t object, const Mat4& world) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->world = world;
  o->position = {world.m[3][0], world.m[3][1], world.m[3][2]};
  return true;
}

bool Library::ModelObject_VisibleSet(int32_t object, bool visible) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->visible = visible;
  return true;
}

bool Library::ModelObject_CullSet(int32_t object, bool cull) {
  ModelObject* o = ModelObject_Get(object);
  if (!o) return false;
  o->cullSwitch = cull;
  return true;
}

bool Library::Camera_Set(Vec3 eye, Vec3 target, Vec3 up) {
  const Vec3 view = target - eye;
  if (!IsFinite(eye) || !IsFinite(target) || !IsFinite(up) || Length(view) == 0.0f ||
      Length(Cross(up, view)) == 0.0f) {
    return false;
  }
  rendering_.camera.eye = eye;
  rendering_.camera.target = target;
  rendering_.camera.up = up;
  return true;
}

bool Library::Camera_ProjectionSet(float fovDegrees, float nearPlane, float farPlane,
                                   float aspect) {
  // Written so that NaN fails every test.
  if (!(fovDegrees > 0.0f && fovDegrees < 180.0f) || !(nearPlane > 0.0f) ||
      !(farPlane > nearPlane) || !std::isfinite(farPlane) || !(aspect >= 0.0f) ||
      !std::isfinite(aspect)) {
    return false;
  }
  Camera& c = rendering_.camera;
  c.fovDegrees = fovDegrees;
  c.nearPlane = nearPlane;
  c.farPlane = farPlane;
  c.aspect = aspect;
  return true;
}

void Library::Light_Set(Vec3 position, Vec3 colour) {
  rendering_.lightPosition = position;
  rendering_.lightColour = colour;
}

void Library::LightAmbientSet(float red, float green, float blue) {
  lightAmbient_[0] = red;
  lightAmbient_[1] = green;
  lightAmbient_[2] = blue;
}

}  // namespace wz
