// The recording backend: keeps state changes, draws (with the vertices and indices they read and
// the states they ran with), clears and presents for call-level tests. It is also the fallback
// when no OpenGL context can be made; it then keeps nothing but its counters, and colour clears
// still land in memory so that read-backs see them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/d3d/backend.h"

namespace wz::d3d {

struct RecordedDraw {
  DrawCall call;  // pointers cleared
  DWORD fvf = 0;
  bool declaration = false;
  UINT stride = 0;
  // The vertices of stream 0 from vertex 0 of the draw (a user-pointer draw's data, or the
  // buffer's bytes from the stream offset), and for indexed draws the vertex each element of the
  // draw names (base vertex added).
  std::vector<uint8_t> vertices;
  std::vector<uint32_t> indices;
  std::array<DWORD, kRenderStateCount> renderStates{};
  std::array<std::array<DWORD, kTextureStageStateCount>, 2> stages{};
  std::array<std::array<DWORD, kSamplerStateCount>, 2> samplers{};
  D3DMATRIX world;
  D3DMATRIX view;
  D3DMATRIX projection;
  std::array<D3DMATRIX, 2> textureTransforms;
  std::array<const Texture*, 2> textures{};  // for comparison only: may no longer exist
  uint64_t program = 0;
  uint64_t renderTarget = 0;
  int enabledLights = 0;

  // The vertex a draw element refers to (index i of the draw's vertices or indices).
  const uint8_t* Vertex(size_t i) const;
  size_t VertexCount() const { return indices.empty() ? vertices.size() / stride : indices.size(); }
};

struct RecordedClear {
  uint64_t target = 0;
  DWORD flags = 0;
  D3DCOLOR colour = 0;
  float z = 0;
  DWORD stencil = 0;
  size_t rectCount = 0;
};

// What happened, in order.
struct RecordedEvent {
  enum class Kind : uint8_t { kState, kDraw, kClear, kPresent } kind;
  size_t index;  // into states, draws or clears
};

class RecordingBackend : public Backend {
 public:
  explicit RecordingBackend(bool keepCalls) : keep_(keepCalls) {}
  BackendKind Kind() const override { return BackendKind::kRecording; }
  void StateChanged(const StateChange& change) override;
  void Draw(const DeviceState& state, const VertexLayout& layout, const DrawCall& call) override;
  void Clear(Surface* target, Surface* depth, const D3DVIEWPORT9& viewport,
             std::span<const D3DRECT> rects, DWORD flags, D3DCOLOR colour, float z,
             DWORD stencil) override;
  void Present(Surface& backBuffer) override;
  bool ReadPixels(Surface& surface, std::span<uint8_t> out, size_t pitch) override;
  bool ReadFrontBuffer(std::span<uint8_t> out, size_t pitch) override;
  void ResourcesDestroyed(std::span<const uint64_t> ids) override;
  BackendCounters Counters() const override { return counters_; }
  std::string Description() const override { return "recording"; }

  void SetKeeping(bool keep) { keep_ = keep; }
  const std::vector<StateChange>& States() const { return states_; }
  const std::vector<RecordedDraw>& Draws() const { return draws_; }
  const std::vector<RecordedClear>& Clears() const { return clears_; }
  const std::vector<RecordedEvent>& Events() const { return events_; }
  // Forgets what was kept (counters stay).
  void ClearRecord();

 private:
  struct Colour {
    UINT width = 0, height = 0;
    std::vector<uint32_t> texels;
  };
  bool keep_;
  std::vector<StateChange> states_;
  std::vector<RecordedDraw> draws_;
  std::vector<RecordedClear> clears_;
  std::vector<RecordedEvent> events_;
  std::unordered_map<uint64_t, Colour> colours_;  // cleared colour targets by surface id
  Colour front_;
  bool haveFront_ = false;
  BackendCounters counters_;
};

// A recording backend that keeps the calls.
std::unique_ptr<Backend> MakeRecordingBackend(bool keepCalls = true);
// The device's backend as a recording one, or null.
RecordingBackend* AsRecording(Backend* backend);

}  // namespace wz::d3d
