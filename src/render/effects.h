// What the library keeps for effects and shader mode: each effect file loaded by EffectLoad with
// its load-needed byte, the render targets ShaderInit makes, and the effect settings (shader-mode
// and bloom switches, the 2D effect selector and operands, the effect times).
//
// Every effect and every target is dropped with the other device resources (Release, run by
// RenderResources_Release before a reset or a release of the device); effects load again on
// their next use and ShaderInit runs again while shader mode is on.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/d3dx/effect.h"
#include "platform/d3dx/mesh.h"

namespace wz {

struct EffectSlot {
  std::unique_ptr<d3dx::Effect> effect;  // none until loaded, or when loading failed
  uint8_t loadNeeded = 1;                // set at release; the next EffectLoad clears it
};

// The targets of shader mode, all in the default pool.
struct ShaderTargets {
  static constexpr uint32_t kSize = 1024;  // side of every texture and surface below
  // T0 to T5 (A8R8G8B8 render targets) and their level-0 surfaces.
  std::array<std::shared_ptr<d3d::Texture>, 6> textures;
  std::array<std::shared_ptr<d3d::Surface>, 6> surfaces;
  std::shared_ptr<d3d::Surface> depth;          // D24X8, shared by T0 to T5
  std::shared_ptr<d3d::Texture> shadowMap;      // R32F, else R16F, else none
  std::shared_ptr<d3d::Surface> shadowSurface;  // its level 0
  std::shared_ptr<d3d::Surface> shadowDepth;    // D16
  std::shared_ptr<d3d::CubeTexture> cube;       // A8R8G8B8 render target, not drawn into yet
  bool initNeeded = true;                       // ShaderInit has not run since the last release
};

// The 2D effect selector's techniques of "HLSL_2D", by value 0 to 6.
constexpr std::array<const char*, 7> kEffect2DTechniques = {
    "RenderSceneTechnique",   "RenderMonochromeTechnique", "RenderSepiaTechnique",
    "RenderReverseTechnique", "RenderShadeTechnique",      "RenderMosaicTechnique",
    "RenderYuraYuraTechnique"};

// The bump-mapped ground of shading mode 7, loaded once by BUMP_GROUND.
struct BumpGround {
  bool tried = false;  // BUMP_GROUND has run since the last release
  bool ready = false;  // everything loaded: the ground is drawn
  std::shared_ptr<d3d::Texture> colour, normal;
  std::array<std::unique_ptr<d3dx::Mesh>, 3> meshes;
  std::vector<d3dx::D3DXMATERIAL> materials;  // ambient set to the diffuse colour
  std::vector<std::shared_ptr<d3d::Texture>> materialTextures;
};

struct EffectState {
  std::map<std::string, EffectSlot> slots;  // by effect name ("HLSL_2D", "Bone", ...)
  ShaderTargets targets;
  uint8_t shaderMode = 0;  // the shader-mode switch (off in this program)
  uint8_t bloom = 0;       // the bloom switch
  int32_t effect2D = 0;    // the 2D effect selector; other values keep the last technique
  // The 2D effect operands "op": strength, mosaic block size and wave amplitude (see HLSL_2D.fx).
  float op[3] = {1.0f, 8.0f, 4.0f};
  float bloomPower = 1.0f;
  float time2D = 0.0f;      // "g_fTime" of "HLSL_2D": + 0.001 per frame
  float time3D = 0.0f;      // "g_fTime" of "HLSL_3D": + 0.01 per RenderHLSL_3D
  float timeBone = 0.0f;    // "fTime" of "Bone": + 0.01 per group drawn by the skinning effect
  float sceneAngle = 0.0f;  // turn of the shader scene about y, in radians
  // The effect whose pass is open while RenderHLSL_3D draws a group: the group then draws its
  // geometry only, inside that pass.
  d3dx::Effect* activePass = nullptr;
  // Bump mapping: the vertex declaration of the bump vertex, a flat normal map and a white decal
  // for groups without their own, and the ground.
  std::shared_ptr<d3d::VertexDeclaration> bumpDeclaration;
  std::shared_ptr<d3d::Texture> flatNormal, white;
  std::vector<float> bumpScratch;  // the bump vertices of the group being drawn
  BumpGround ground;

  // Drops every effect (setting its load-needed byte) and every shader-mode target.
  void Release();
};

}  // namespace wz
