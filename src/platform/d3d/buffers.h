// Vertex and index buffers, vertex declarations and shader programs of the Direct3D 9 stand-in.
// Buffers are system memory that Lock hands out; a backend copies them to its own storage when
// their version changed (write-only, dynamic and managed buffers all keep this one copy, so a
// reset never loses their contents). Lock flags DISCARD and NOOVERWRITE are accepted: the memory
// stays the same, which is what both promise to a caller that rewrites what it draws.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/d3d/d3d9_types.h"
#include "platform/d3d/resource.h"
#include "platform/d3d/vertex_layout.h"

namespace wz::d3d {

struct D3DVERTEXBUFFER_DESC {
  D3DFORMAT Format;
  D3DRESOURCETYPE Type;
  DWORD Usage;
  D3DPOOL Pool;
  UINT Size;
  DWORD FVF;
};

struct D3DINDEXBUFFER_DESC {
  D3DFORMAT Format;
  D3DRESOURCETYPE Type;
  DWORD Usage;
  D3DPOOL Pool;
  UINT Size;
};

// The memory both buffer kinds share: bytes, lock state, and the byte range changed since the
// backend last looked (so it can copy only that).
class BufferResource : public Resource {
 public:
  UINT Size() const { return static_cast<UINT>(bytes_.size()); }
  DWORD Usage() const { return usage_; }
  // Locks `size` bytes from `offset` (size 0: to the end). D3DERR_INVALIDCALL for a null `data`,
  // a range outside the buffer or a buffer already locked.
  HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
  HRESULT Unlock();
  bool IsLocked() const { return locked_; }
  std::span<const uint8_t> Bytes() const { return bytes_; }
  // The changed range [begin, end) since the last call, and clears it; begin == end when none.
  std::pair<size_t, size_t> TakeDirtyRange();

 protected:
  BufferResource(Device* device, D3DPOOL pool, DWORD usage)
      : Resource(device, pool), usage_(usage) {}
  std::vector<uint8_t> bytes_;

 private:
  DWORD usage_;
  bool locked_ = false;
  size_t lockBegin_ = 0, lockEnd_ = 0;
  size_t dirtyBegin_ = 0, dirtyEnd_ = 0;
};

class VertexBuffer : public BufferResource, public std::enable_shared_from_this<VertexBuffer> {
 public:
  // D3DERR_INVALIDCALL for a zero length, an unknown pool or DYNAMIC in the managed pool;
  // E_OUTOFMEMORY (D3DERR_OUTOFVIDEOMEMORY in the default pool) when memory runs out.
  static HRESULT Create(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                        std::shared_ptr<VertexBuffer>* out);
  HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) const;
  DWORD Fvf() const { return fvf_; }

 private:
  VertexBuffer(Device* device, D3DPOOL pool, DWORD usage, DWORD fvf)
      : BufferResource(device, pool, usage), fvf_(fvf) {}
  DWORD fvf_;
};

class IndexBuffer : public BufferResource, public std::enable_shared_from_this<IndexBuffer> {
 public:
  // `format` D3DFMT_INDEX16 or D3DFMT_INDEX32; other failures as VertexBuffer::Create.
  static HRESULT Create(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        std::shared_ptr<IndexBuffer>* out);
  HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) const;
  D3DFORMAT Format() const { return format_; }

 private:
  IndexBuffer(Device* device, D3DPOOL pool, DWORD usage, D3DFORMAT format)
      : BufferResource(device, pool, usage), format_(format) {}
  D3DFORMAT format_;
};

class VertexDeclaration : public std::enable_shared_from_this<VertexDeclaration> {
 public:
  // D3DERR_INVALIDCALL for a declaration LayoutFromDeclaration refuses.
  static HRESULT Create(std::span<const D3DVERTEXELEMENT9> elements,
                        std::shared_ptr<VertexDeclaration>* out);
  const VertexLayout& Layout() const { return layout_; }
  std::span<const D3DVERTEXELEMENT9> Elements() const { return elements_; }

 private:
  VertexDeclaration() = default;
  std::vector<D3DVERTEXELEMENT9> elements_;
  VertexLayout layout_;
};

// A programmable pipeline stage pair for effects: a vertex and a fragment program in GLSL 3.30,
// their uniforms by name, and which texture stage each sampler uniform reads. While a program is
// set on the device it replaces fixed-function vertex and pixel processing; the render states
// (blending, depth, stencil, culling, fill mode) still apply.
//
// Vertex attributes are bound by name: a_position (POSITION, or POSITIONT as pixels), a_normal,
// a_color0, a_color1, a_texcoord0 ... a_texcoord7, a_blendweight, a_blendindices, a_tangent,
// a_binormal. A vertex program computes Direct3D clip coordinates (depth 0..1) and ends with
// `gl_Position = wz_ToGL(position);`, a function the device puts in front of every vertex program
// (it moves pixel centres where Direct3D has them and turns the picture the way the backend
// stores it). The device also sets `uniform vec4 wz_viewport` (x, y, width, height of the
// viewport) when a program declares it. Texture coordinates are Direct3D's: (0, 0) is the
// top-left texel.
class ShaderProgram : public std::enable_shared_from_this<ShaderProgram> {
 public:
  struct Uniform {
    std::vector<float> floats;  // matrices row-major as the caller gives them (see transposed)
    std::vector<int32_t> ints;
    bool transposed = false;  // true when floats hold 4x4 matrices to be used as row vectors
    uint64_t version = 0;
  };

  ShaderProgram(std::string name, std::string vertexSource, std::string fragmentSource,
                std::map<std::string, uint32_t> samplerStages);
  const std::string& Name() const { return name_; }
  const std::string& VertexSource() const { return vertexSource_; }
  const std::string& FragmentSource() const { return fragmentSource_; }
  const std::map<std::string, uint32_t>& SamplerStages() const { return samplerStages_; }
  uint64_t Id() const { return id_; }

  void SetFloats(const std::string& name, std::span<const float> values);
  // `count` row-major 4x4 matrices, used as Direct3D uses them (row vectors multiplied from the
  // left).
  void SetMatrices(const std::string& name, std::span<const float> values);
  void SetInts(const std::string& name, std::span<const int32_t> values);
  const std::map<std::string, Uniform>& Uniforms() const { return uniforms_; }
  // Grows on every uniform change.
  uint64_t UniformVersion() const { return uniformVersion_; }

 private:
  std::string name_;
  std::string vertexSource_;
  std::string fragmentSource_;
  std::map<std::string, uint32_t> samplerStages_;
  std::map<std::string, Uniform> uniforms_;
  uint64_t uniformVersion_ = 0;
  uint64_t id_;
};

}  // namespace wz::d3d
