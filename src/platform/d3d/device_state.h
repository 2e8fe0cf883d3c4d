// Everything a Direct3D 9 device remembers between calls: render, texture-stage and sampler
// states, transforms, lights, material, viewport, vertex input, bound resources and targets. The
// device writes it; a backend reads it at each draw. Version counters grow with every change of
// their group, so a backend can skip work for groups that did not change.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d/buffers.h"
#include "platform/d3d/d3d9_types.h"
#include "platform/d3d/texture.h"

namespace wz::d3d {

constexpr uint32_t kMaxStreams = 16;

struct StreamSource {
  std::shared_ptr<VertexBuffer> buffer;
  UINT offset = 0;
  UINT stride = 0;
};

struct LightSlot {
  DWORD index = 0;
  D3DLIGHT9 light;
  bool enabled = false;
};

struct StateVersions {
  uint64_t renderStates = 1;
  uint64_t stages = 1;
  uint64_t samplers = 1;
  uint64_t transforms = 1;
  uint64_t lights = 1;
  uint64_t material = 1;
  uint64_t viewport = 1;
  uint64_t vertexInput = 1;
  uint64_t textures = 1;
  uint64_t targets = 1;
  uint64_t program = 1;
};

struct DeviceState {
  std::array<DWORD, kRenderStateCount> renderStates{};
  std::array<std::array<DWORD, kTextureStageStateCount>, kMaxTextureStages> stageStates{};
  std::array<std::array<DWORD, kSamplerStateCount>, kMaxSamplers> samplerStates{};
  D3DMATRIX view;
  D3DMATRIX projection;
  std::array<D3DMATRIX, kMaxTextureStages> textureTransforms;
  std::array<D3DMATRIX, kWorldMatrixCount> world;
  uint32_t worldMatricesUsed = 1;  // 1 + the highest world matrix index ever set
  std::vector<LightSlot> lights;   // sorted by index
  D3DMATERIAL9 material;
  D3DVIEWPORT9 viewport;
  RECT scissor{0, 0, 0, 0};
  DWORD fvf = 0;
  std::shared_ptr<VertexDeclaration> declaration;
  std::array<StreamSource, kMaxStreams> streams;
  std::shared_ptr<IndexBuffer> indices;
  std::array<std::shared_ptr<Texture>, kMaxSamplers> textures;
  std::shared_ptr<ShaderProgram> program;
  std::shared_ptr<Surface> renderTarget;
  std::shared_ptr<Surface> depthStencil;
  bool softwareVertexProcessing = false;
  StateVersions versions;

  const LightSlot* FindLight(DWORD index) const;
  LightSlot& LightAt(DWORD index);  // inserts a default light when missing
};

// The Direct3D 9 defaults of every state; `depthEnabled` is true when the device has an
// automatic depth-stencil surface (then D3DRS_ZENABLE starts on).
void SetDefaultStates(DeviceState& s, bool depthEnabled);

// Which states a state block holds.
struct StateMask {
  std::bitset<kRenderStateCount> renderStates;
  std::array<std::bitset<kTextureStageStateCount>, kMaxTextureStages> stages;
  std::array<std::bitset<kSamplerStateCount>, kMaxSamplers> samplers;
  bool view = false;
  bool projection = false;
  std::bitset<kMaxTextureStages> textureTransforms;
  std::bitset<kWorldMatrixCount> world;
  std::vector<DWORD> lights;        // light indices whose parameters are held
  std::vector<DWORD> lightEnables;  // light indices whose enable flag is held
  bool material = false;
  bool viewport = false;
  bool scissor = false;
  bool vertexFormat = false;  // the FVF and the declaration together
  std::bitset<kMaxStreams> streams;
  bool indices = false;
  std::bitset<kMaxSamplers> textures;
  bool program = false;
};

// The render states and texture-stage states Direct3D counts as pixel or vertex state.
bool IsPixelRenderState(uint32_t state);
bool IsVertexRenderState(uint32_t state);
bool IsVertexStageState(uint32_t state);

}  // namespace wz::d3d
