// What a device hands to the part that makes pixels. The device validates every call and keeps
// the state; a backend turns draws, clears and presents into pixels (the OpenGL backend) or keeps
// them for tests (the recording backend, which is also the fallback when no OpenGL context can
// be made: drawing then does nothing, clears of colour still land in memory, everything else
// works).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/d3d/device_state.h"
#include "platform/d3d/vertex_layout.h"

namespace wz::d3d {

enum class BackendKind : uint8_t { kOpenGL, kRecording };

struct DrawCall {
  enum class Kind : uint8_t { kPrimitive, kIndexedPrimitive, kPrimitiveUP, kIndexedPrimitiveUP };
  Kind kind = Kind::kPrimitive;
  D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
  UINT primitiveCount = 0;
  UINT elementCount = 0;  // vertices (non-indexed) or indices (indexed) the primitives take
  // Non-indexed draws from stream 0: the first vertex.
  UINT startVertex = 0;
  // Indexed draws: vertex i of the draw is index[startIndex + i] + baseVertex; the indices lie in
  // [minIndex, minIndex + numVertices).
  INT baseVertex = 0;
  UINT minIndex = 0;
  UINT numVertices = 0;
  UINT startIndex = 0;
  // User-pointer draws: the vertices from vertex 0 (vertexBytes of them), and for indexed ones the
  // indices of the draw (elementCount of them).
  const uint8_t* vertices = nullptr;
  size_t vertexBytes = 0;
  UINT vertexStride = 0;
  const uint8_t* indices = nullptr;
  D3DFORMAT indexFormat = D3DFMT_INDEX16;
};

// One state change, for backends that keep the calls.
struct StateChange {
  enum class What : uint8_t {
    kRenderState,
    kStageState,
    kSamplerState,
    kTransform,
    kTexture,
    kFvf,
    kDeclaration,
    kStreamSource,
    kIndices,
    kLight,
    kLightEnable,
    kMaterial,
    kViewport,
    kScissor,
    kRenderTarget,
    kDepthStencil,
    kProgram,
  };
  What what;
  uint32_t a = 0;      // state number, stage, transform type, light index, stream
  uint32_t b = 0;      // stage-state or sampler-state number
  uint64_t value = 0;  // the value, or a resource id (0 for none)
};

// Counters a backend keeps for benchmarks and tests.
struct BackendCounters {
  uint64_t draws = 0;
  uint64_t primitives = 0;
  uint64_t programSwitches = 0;
  uint64_t programsLinked = 0;
  uint64_t bytesUploaded = 0;
  uint64_t clears = 0;
  uint64_t presents = 0;
  uint64_t skippedDraws = 0;  // draws a backend could not carry out (with a reason in its log)
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual BackendKind Kind() const = 0;
  virtual void StateChanged(const StateChange&) {}
  virtual void Draw(const DeviceState& state, const VertexLayout& layout, const DrawCall& call) = 0;
  // Clears `target` (colour) and `depth` (depth and stencil; may be null) inside the viewport,
  // limited to `rects` when there are any.
  virtual void Clear(Surface* target, Surface* depth, const D3DVIEWPORT9& viewport,
                     std::span<const D3DRECT> rects, DWORD flags, D3DCOLOR colour, float z,
                     DWORD stencil) = 0;
  // The frame in `backBuffer` is finished.
  virtual void Present(Surface& backBuffer) = 0;
  // Reads a whole colour surface into `out` in the surface's own texel format, rows top first,
  // `pitch` bytes apart. False when the backend has no pixels for it.
  virtual bool ReadPixels(Surface& surface, std::span<uint8_t> out, size_t pitch) = 0;
  // The last presented frame as A8R8G8B8 texels, rows top first. False when there is none.
  virtual bool ReadFrontBuffer(std::span<uint8_t> out, size_t pitch) = 0;
  // Frees what the backend keeps for resources that no longer exist.
  virtual void ResourcesDestroyed(std::span<const uint64_t> ids) = 0;
  virtual BackendCounters Counters() const = 0;
  virtual std::string Description() const = 0;
  // Compiles and links an effect program now instead of at its first draw. False with the
  // compiler's log (each line prefixed with "vertex: ", "fragment: " or "link: ") when it does not
  // build; true when it builds or when the backend has no programs to build.
  virtual bool CompileProgram(const std::shared_ptr<ShaderProgram>&, std::string*) { return true; }
};

}  // namespace wz::d3d
