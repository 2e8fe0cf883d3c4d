// The OpenGL 3.3 backend of the Direct3D 9 device: generated programs for fixed-function state,
// GL objects that mirror the device's resources (uploaded when their version changed), draws,
// clears and read-back. One state cache owns every GL bind; Direct3D state is translated once
// per draw.
#pragma once

#include <memory>
#include <string>

#include "platform/d3d/backend.h"

namespace wz::d3d {
class Device;
}

namespace wz::gl {

// The backend for `device`, drawing with the context of its window (or the headless one). Null
// with the reason when no context can be made.
std::unique_ptr<d3d::Backend> MakeOpenGlBackend(d3d::Device& device, std::string* why);

}  // namespace wz::gl
