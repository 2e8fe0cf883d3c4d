// Vertex records of the world-space drawing and the helpers shared by the model passes: the
// 40-byte scene vertex the CPU assembles, the 36-byte mesh vertex and the 44-byte skinned vertex
// of the per-group buffers, colour packing, and the world transform builder.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/vec_math.h"
#include "platform/d3d/d3d9_types.h"
#include "platform/win_types.h"

namespace wz {

// XYZ | NORMAL | DIFFUSE | SPECULAR | TEX1
struct SceneVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR diffuse;
  D3DCOLOR specular;
  float u, v;
};
static_assert(sizeof(SceneVertex) == 40);
constexpr DWORD kSceneFvf = 0x1D2;

// Leaves new elements uninitialised: the CPU assembly overwrites every vertex it makes room for,
// and zeroing megabytes of them first each frame would cost as much as writing them.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// The scratch memory scene vertices are assembled into.
using SceneVertices = std::vector<SceneVertex, UninitialisedAllocator<SceneVertex>>;

// XYZ | NORMAL | DIFFUSE | TEX1
struct MeshVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(MeshVertex) == 36);
constexpr DWORD kMeshFvf = 0x152;

// XYZB2 | LASTBETA_UBYTE4 | NORMAL | DIFFUSE | TEX1: one blend weight for the first bone (the
// second bone takes the rest) and four bone indices as bytes.
struct SkinnedVertex {
  float x, y, z;
  float weight;
  uint8_t bones[4];
  float nx, ny, nz;
  D3DCOLOR colour;
  float u, v;
};
static_assert(sizeof(SkinnedVertex) == 44);
constexpr DWORD kSkinnedFvf = 0x1158;

// One vertex given to the world-space primitives: position, normal, colour (0 to 255 per
// channel) and texture coordinates.
struct WorldVertex {
  float x = 0, y = 0, z = 0;
  float nx = 0, ny = 0, nz = 0;
  int32_t red = 255, green = 255, blue = 255, alpha = 255;
  float u = 0, v = 0;
};

// alpha << 24 | red << 16 | green << 8 | blue, each channel kept to 0..255.
constexpr D3DCOLOR PackColour(int32_t red, int32_t green, int32_t blue, int32_t alpha) {
  auto c = [](int32_t v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
  return c(alpha) << 24 | c(red) << 16 | c(green) << 8 | c(blue);
}

SceneVertex ToSceneVertex(const WorldVertex& v);

// The world matrix of a position, three angles in degrees and a scale: scale, then the rotation
// (about z by the negated z angle, then x, then y), then the translation. Degrees become
// radians by the factor 0.0174 the library has always used.
Mat4 BuildWorldTransform(Vec3 position, Vec3 anglesDegrees, Vec3 scale);

inline d3d::D3DMATRIX ToD3D(const Mat4& m) {
  d3d::D3DMATRIX r;
  std::memcpy(r.m, m.m, sizeof r.m);
  return r;
}

inline Mat4 FromD3D(const d3d::D3DMATRIX& m) {
  Mat4 r;
  std::memcpy(r.m, m.m, sizeof r.m);
  return r;
}

}  // namespace wz
