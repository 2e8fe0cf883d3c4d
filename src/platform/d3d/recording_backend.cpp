// The recording backend: calls kept for tests, colour clears kept in memory.
#include "platform/d3d/recording_backend.h"

#include <algorithm>
#include <cstring>

namespace wz::d3d {
namespace {

uint32_t IndexAt(const uint8_t* data, D3DFORMAT format, size_t i) {
  if (format == D3DFMT_INDEX16) {
    uint16_t v;
    std::memcpy(&v, data + 2 * i, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, data + 4 * i, 4);
  return v;
}

}  // namespace

const uint8_t* RecordedDraw::Vertex(size_t i) const {
  const size_t v = indices.empty() ? i : indices.at(i);
  return vertices.data() + v * stride;
}

void RecordingBackend::StateChanged(const StateChange& change) {
  if (!keep_) return;
  events_.push_back({RecordedEvent::Kind::kState, states_.size()});
  states_.push_back(change);
}

void RecordingBackend::Draw(const DeviceState& state, const VertexLayout& layout,
                            const DrawCall& call) {
  ++counters_.draws;
  counters_.primitives += call.primitiveCount;
  if (!keep_) return;
  RecordedDraw d;
  d.call = call;
  d.call.vertices = nullptr;
  d.call.indices = nullptr;
  d.fvf = layout.fvf;
  d.declaration = layout.fvf == 0;
  switch (call.kind) {
    case DrawCall::Kind::kPrimitiveUP:
    case DrawCall::Kind::kIndexedPrimitiveUP:
      d.stride = call.vertexStride;
      d.vertices.assign(call.vertices, call.vertices + call.vertexBytes);
      if (call.indices) {
        for (UINT i = 0; i < call.elementCount; ++i) {
          d.indices.push_back(IndexAt(call.indices, call.indexFormat, i));
        }
      }
      break;
    case DrawCall::Kind::kPrimitive:
    case DrawCall::Kind::kIndexedPrimitive: {
      const StreamSource& s = state.streams[0];
      d.stride = s.stride;
      if (s.buffer) {
        std::span<const uint8_t> bytes = s.buffer->Bytes().subspan(s.offset);
        if (call.kind == DrawCall::Kind::kPrimitive) {
          bytes = bytes.subspan(size_t{call.startVertex} * s.stride,
                                size_t{call.elementCount} * s.stride);
        }
        d.vertices.assign(bytes.begin(), bytes.end());
      }
      if (call.kind == DrawCall::Kind::kIndexedPrimitive && state.indices) {
        const IndexBuffer& ib = *state.indices;
        const size_t size = ib.Format() == D3DFMT_INDEX16 ? 2 : 4;
        const uint8_t* base = ib.Bytes().data() + size_t{call.startIndex} * size;
        for (UINT i = 0; i < call.elementCount; ++i) {
          d.indices.push_back(IndexAt(base, ib.Format(), i) + call.baseVertex);
        }
      }
      break;
    }
  }
  d.renderStates = state.renderStates;
  for (int i = 0; i < 2; ++i) {
    d.stages[i] = state.stageStates[i];
    d.samplers[i] = state.samplerStates[i];
    d.textures[i] = state.textures[i].get();
    d.textureTransforms[i] = state.textureTransforms[i];
  }
  d.world = state.world[0];
  d.view = state.view;
  d.projection = state.projection;
  d.program = state.program ? state.program->Id() : 0;
  d.renderTarget = state.renderTarget ? state.renderTarget->Id() : 0;
  d.enabledLights = static_cast<int>(
      std::count_if(state.lights.begin(), state.lights.end(), [](auto& l) { return l.enabled; }));
  events_.push_back({RecordedEvent::Kind::kDraw, draws_.size()});
  draws_.push_back(std::move(d));
}

void RecordingBackend::Clear(Surface* target, Surface*, const D3DVIEWPORT9& viewport,
                             std::span<const D3DRECT> rects, DWORD flags, D3DCOLOR colour, float z,
                             DWORD stencil) {
  ++counters_.clears;
  if ((flags & D3DCLEAR_TARGET) && target && BytesPerTexel(target->Format()) == 4) {
    Colour& c = colours_[target->Id()];
    if (c.width != target->Width() || c.height != target->Height()) {
      c.width = target->Width();
      c.height = target->Height();
      c.texels.assign(size_t{c.width} * c.height, 0);
    }
    auto fill = [&](int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
      x1 = std::max<int64_t>(x1, viewport.X);
      y1 = std::max<int64_t>(y1, viewport.Y);
      x2 = std::min<int64_t>(x2, int64_t{viewport.X} + viewport.Width);
      y2 = std::min<int64_t>(y2, int64_t{viewport.Y} + viewport.Height);
      x2 = std::min<int64_t>(x2, c.width);
      y2 = std::min<int64_t>(y2, c.height);
      for (int64_t y = y1; y < y2; ++y) {
        for (int64_t x = x1; x < x2; ++x)
          c.texels[size_t(y) * c.width + size_t(x)] = colour;
      }
    };
    if (rects.empty()) {
      fill(viewport.X, viewport.Y, int64_t{viewport.X} + viewport.Width,
           int64_t{viewport.Y} + viewport.Height);
    }
    for (const D3DRECT& r : rects)
      fill(r.x1, r.y1, r.x2, r.y2);
  }
  if (!keep_) return;
  events_.push_back({RecordedEvent::Kind::kClear, clears_.size()});
  clears_.push_back({target ? target->Id() : 0, flags, colour, z, stencil, rects.size()});
}

void RecordingBackend::Present(Surface& backBuffer) {
  ++counters_.presents;
  auto it = colours_.find(backBuffer.Id());
  if (it != colours_.end()) {
    front_ = it->second;
    haveFront_ = true;
  }
  if (keep_) events_.push_back({RecordedEvent::Kind::kPresent, 0});
}

bool RecordingBackend::ReadPixels(Surface& surface, std::span<uint8_t> out, size_t pitch) {
  const size_t rowBytes = size_t{surface.Width()} * BytesPerTexel(surface.Format());
  auto it = colours_.find(surface.Id());
  for (UINT y = 0; y < surface.Height(); ++y) {
    uint8_t* row = out.data() + y * pitch;
    if (it != colours_.end() && it->second.width == surface.Width() &&
        it->second.height == surface.Height() && rowBytes == size_t{surface.Width()} * 4) {
      std::memcpy(row, it->second.texels.data() + size_t{y} * surface.Width(), rowBytes);
    } else {
      std::memset(row, 0, rowBytes);
    }
  }
  return true;
}

bool RecordingBackend::ReadFrontBuffer(std::span<uint8_t> out, size_t pitch) {
  if (!haveFront_) return false;
  for (UINT y = 0; y < front_.height; ++y) {
    std::memcpy(out.data() + y * pitch, front_.texels.data() + size_t{y} * front_.width,
                size_t{front_.width} * 4);
  }
  return true;
}

void RecordingBackend::ResourcesDestroyed(std::span<const uint64_t> ids) {
  for (uint64_t id : ids)
    colours_.erase(id);
}

void RecordingBackend::ClearRecord() {
  states_.clear();
  draws_.clear();
  clears_.clear();
  events_.clear();
}

std::unique_ptr<Backend> MakeRecordingBackend(bool keepCalls) {
  return std::make_unique<RecordingBackend>(keepCalls);
}

RecordingBackend* AsRecording(Backend* backend) {
  return dynamic_cast<RecordingBackend*>(backend);
}

}  // namespace wz::d3d
