// Fixed-function processing as generated GLSL. The state that changes the program (vertex
// layout, lighting and light types, vertex blending, texture stages with their coordinate
// sources and transforms, alpha test, flat shading) is packed into a key; each key is compiled
// and linked once. Everything else (matrices, colours, light parameters, reference values) goes
// in uniforms.
//
// The generated vertex program keeps Direct3D's rules in one place: row vectors (matrices are
// uploaded as they are stored, so GLSL sees their transpose), pixel centres at integers (a half
// pixel shift), depth 0..1, and the top row of the target first.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/d3d/device_state.h"
#include "platform/d3d/vertex_layout.h"

namespace wz::gl {

// Attribute locations shared by generated and effect programs.
enum AttributeLocation : unsigned {
  kAttrPosition = 0,
  kAttrNormal = 1,
  kAttrColor0 = 2,
  kAttrColor1 = 3,
  kAttrBlendWeight = 4,
  kAttrBlendIndices = 5,
  kAttrTexCoord0 = 6,  // ... 13
  kAttrTangent = 14,
  kAttrBinormal = 15,
  kAttrCount = 16,
};
// The attribute name of each location.
const char* AttributeName(unsigned location);
// The location an element of a vertex layout feeds, or kAttrCount for none.
unsigned LocationOf(const d3d::VertexElement& element);

constexpr int kMaxLights = 8;

#pragma pack(push, 1)
struct StageKey {
  uint8_t colorOp = 0;       // D3DTOP, 0 = this stage and all after it are off
  uint8_t colorArg[3] = {};  // arg0, arg1, arg2 with modifiers
  uint8_t alphaOp = 0;
  uint8_t alphaArg[3] = {};
  uint8_t resultTemp = 0;      // the result goes to TEMP instead of CURRENT
  uint8_t textureBound = 0;    // a texture is bound (else the texture reads as white)
  uint8_t texSource = 0;       // vertex texture-coordinate set
  uint8_t texSourceDims = 0;   // its components (0 when the layout has no such set)
  uint8_t texGen = 0;          // 0 pass-through, 1 camera-space normal, 2 position, 3 reflection
  uint8_t transformCount = 0;  // D3DTTFF_COUNTn, 0 = no texture transform
  uint8_t projected = 0;
};

struct FfKey {
  uint8_t pretransformed = 0;
  uint8_t positionW = 0;  // XYZW
  uint8_t hasNormal = 0;
  uint8_t hasColor0 = 0;
  uint8_t hasColor1 = 0;
  uint8_t blendWeights = 0;  // matrices blended minus one (0: no blending)
  uint8_t indexedBlend = 0;
  uint8_t lighting = 0;
  uint8_t lightCount = 0;
  uint8_t lightTypes[kMaxLights] = {};
  uint8_t localViewer = 0;
  uint8_t normalize = 0;
  uint8_t diffuseSource = 0;  // D3DMCS with COLORVERTEX and the layout applied
  uint8_t ambientSource = 0;
  uint8_t specularSource = 0;
  uint8_t emissiveSource = 0;
  uint8_t specularEnable = 0;
  uint8_t flat = 0;
  uint8_t alphaFunc = 0;  // D3DCMP when the alpha test is on, else 0
  uint8_t stageCount = 0;
  StageKey stages[d3d::kMaxTextureStages];

  bool operator==(const FfKey& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};
#pragma pack(pop)

struct FfKeyHash {
  size_t operator()(const FfKey& k) const;
};

// The key for drawing with `state` and `layout`. `lightIndices` receives the device's light
// indices in the order of the key's lights.
FfKey BuildFfKey(const d3d::DeviceState& state, const d3d::VertexLayout& layout,
                 std::array<uint32_t, kMaxLights>& lightIndices);

struct ProgramSource {
  std::string vertex;
  std::string fragment;
};

// The GLSL 3.30 programs of a key.
ProgramSource GenerateFfProgram(const FfKey& key);

}  // namespace wz::gl
