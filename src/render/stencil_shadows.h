// The shadow volume of a model lit by a point light, and whether a device can count volumes in
// its stencil buffer.
#pragma once

#include <vector>

#include "model/model.h"
#include "platform/d3d/device.h"

namespace wz {

// Appends the triangles (three points each, clockwise seen from outside) of the closed volume
// that `light` casts from the model's polygons with `positions`: the lit triangles moved a
// thousandth of their distance away from the light, the outline of the lit region extruded
// `extrusion` units away from the light, and the far cap. All in the model's space.
void BuildShadowVolume(const Model& model, const Pool<Vec3>& positions, Vec3 light, float extrusion,
                       std::vector<Vec3>& out);

// True when the depth-and-stencil option is on, the device increments and decrements stencil
// values and the depth-stencil surface in use has stencil bits.
bool StencilShadowsAvailable(d3d::Device& device, bool depthStencilOption);

}  // namespace wz
