// The drawing state the library object keeps for the frame: the background colour, the display
// objects that show models, the camera and the light, the per-frame draw lists and the passes'
// scratch memory and device resources.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/vec_math.h"
#include "model/model.h"
#include "platform/d3d/buffers.h"
#include "platform/d3d/texture.h"
#include "render/draw3d.h"

namespace wz {

// One display object: it shows a model with its own world matrix. The table only grows; a
// released object keeps its place (not in use) until an object is created again.
struct ModelObject {
  uint8_t inUse = 0;
  ModelId model = kNoModel;
  uint8_t visible = 1;
  uint8_t cullSwitch = 0;  // 1: left out of the frame when its position is far off screen
  uint8_t culled = 0;      // set by the frame's culling step
  Vec3 position;
  Vec3 angles;  // degrees about x, y and z, as the world transform builder takes them
  Vec3 scale{1.0f, 1.0f, 1.0f};
  Mat4 world = MatrixIdentity();
};

// One group of one shown model in a draw list.
struct DrawEntry {
  int32_t object = 0;
  ModelId model = kNoModel;
  int32_t group = 0;
  Vec3 centre;     // the group's centre
  float distance;  // length of the centre in view space
};

struct DrawLists {
  std::vector<DrawEntry> opaque;
  std::vector<DrawEntry> transparent;
  uint8_t normalPass = 1;  // the bloom pass swaps these two for its duration
  uint8_t bloomPass = 0;
  int32_t drawnTriangles = 0;  // grown by the group drawing, reset with the lists
};

// The library's eye. The view is a left-handed look-at; the projection a left-handed
// perspective of the vertical field of view, with the aspect ratio of the viewport unless one is
// given.
struct Camera {
  Vec3 eye{0.0f, 0.0f, -15.0f};
  Vec3 target;
  Vec3 up{0.0f, 1.0f, 0.0f};
  float fovDegrees = 45.0f;
  float nearPlane = 1.0f;
  float farPlane = 1000.0f;
  float aspect = 0.0f;  // 0: width / height of the viewport when the frame starts
};

// The device resources of the stencil shadow: the window quad and the size it was made for.
struct ShadowQuad {
  std::shared_ptr<d3d::VertexBuffer> buffer;
  uint32_t width = 0;
  uint32_t height = 0;
  D3DCOLOR colour = 0;
};

struct RenderState {
  // The colour a frame is cleared to (red, green, blue; alpha is always 255).
  uint8_t background[3] = {0, 0, 0};
  // The light: a point light at `lightPosition` coloured `lightColour` (0 to 1 per channel), and
  // the direction the toon ramp and the shaders take the light from.
  Vec3 lightPosition;
  Vec3 lightColour{1.0f, 1.0f, 1.0f};
  // The screen fade of the 2D stage: 1 shows the frame, 0 covers it in black.
  float fadeLevel = 0.0f;
  Vec3 lightDirection{1.0f, -1.0f, 1.0f};
  D3DCOLOR shadowColour = 0x80000000u;  // the stencil shadow's darkening
  int32_t selectedBone = -1;            // the bone display mode 3 highlights; -1 none
  int32_t renderMode = 0;               // the library's render mode; 14 to 17 freeze deformation

  std::vector<ModelObject> objects;
  Camera camera;
  DrawLists lists;

  // Runs inside the scene after the model passes (the application's 3D layer).
  std::function<void()> scene3DHook;

  // Scratch memory of the passes; grows to the largest group drawn and stays.
  SceneVertices sceneVertices;
  std::vector<uint8_t> skinnedScratch;
  std::vector<Vec3> volumeScratch;
  ShadowQuad shadowQuad;
  bool shadowTextureTried = false;  // the blob texture is looked for once
};

}  // namespace wz
