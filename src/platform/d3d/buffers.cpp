// Vertex and index buffers, vertex declarations and shader programs.
#include "platform/d3d/buffers.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace wz::d3d {
namespace {

HRESULT CheckBufferArguments(UINT length, DWORD usage, D3DPOOL pool) {
  if (length == 0 || pool > D3DPOOL_SCRATCH || pool == D3DPOOL_SCRATCH ||
      ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED)) {
    return D3DERR_INVALIDCALL;
  }
  return S_OK;
}

std::atomic<uint64_t> nextProgramId{1};

}  // namespace

HRESULT BufferResource::Lock(UINT offset, UINT size, void** data, DWORD) {
  if (!data || locked_ || offset > bytes_.size()) return D3DERR_INVALIDCALL;
  if (size == 0) size = static_cast<UINT>(bytes_.size() - offset);
  if (size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
  locked_ = true;
  lockBegin_ = offset;
  lockEnd_ = size_t{offset} + size;
  *data = bytes_.data() + offset;
  return S_OK;
}

HRESULT BufferResource::Unlock() {
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  if (dirtyBegin_ == dirtyEnd_) {
    dirtyBegin_ = lockBegin_;
    dirtyEnd_ = lockEnd_;
  } else {
    dirtyBegin_ = std::min(dirtyBegin_, lockBegin_);
    dirtyEnd_ = std::max(dirtyEnd_, lockEnd_);
  }
  Touch();
  return S_OK;
}

std::pair<size_t, size_t> BufferResource::TakeDirtyRange() {
  auto r = std::make_pair(dirtyBegin_, dirtyEnd_);
  dirtyBegin_ = dirtyEnd_ = 0;
  return r;
}

HRESULT VertexBuffer::Create(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             std::shared_ptr<VertexBuffer>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  if (HRESULT hr = CheckBufferArguments(length, usage, pool); Failed(hr)) return hr;
  try {
    std::shared_ptr<VertexBuffer> b(new VertexBuffer(device, pool, usage, fvf));
    b->bytes_.assign(length, 0);
    *out = std::move(b);
  } catch (const std::bad_alloc&) {
    return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = D3DVERTEXBUFFER_DESC{
      D3DFMT_UNKNOWN /* VERTEXDATA */, D3DRTYPE_VERTEXBUFFER, Usage(), Pool(), Size(), fvf_};
  return S_OK;
}

HRESULT IndexBuffer::Create(Device* device, UINT length, DWORD usage, D3DFORMAT format,
                            D3DPOOL pool, std::shared_ptr<IndexBuffer>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  if (HRESULT hr = CheckBufferArguments(length, usage, pool); Failed(hr)) return hr;
  if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
  try {
    std::shared_ptr<IndexBuffer> b(new IndexBuffer(device, pool, usage, format));
    b->bytes_.assign(length, 0);
    *out = std::move(b);
  } catch (const std::bad_alloc&) {
    return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  *desc = D3DINDEXBUFFER_DESC{format_, D3DRTYPE_INDEXBUFFER, Usage(), Pool(), Size()};
  return S_OK;
}

HRESULT VertexDeclaration::Create(std::span<const D3DVERTEXELEMENT9> elements,
                                  std::shared_ptr<VertexDeclaration>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  std::shared_ptr<VertexDeclaration> d(new VertexDeclaration());
  if (!LayoutFromDeclaration(elements, d->layout_)) return D3DERR_INVALIDCALL;
  for (const D3DVERTEXELEMENT9& e : elements) {
    d->elements_.push_back(e);
    if (e == D3DDECL_END) break;
  }
  *out = std::move(d);
  return S_OK;
}

ShaderProgram::ShaderProgram(std::string name, std::string vertexSource, std::string fragmentSource,
                             std::map<std::string, uint32_t> samplerStages)
    : name_(std::move(name)),
      vertexSource_(std::move(vertexSource)),
      fragmentSource_(std::move(fragmentSource)),
      samplerStages_(std::move(samplerStages)),
      id_(nextProgramId.fetch_add(1)) {}

void ShaderProgram::SetFloats(const std::string& name, std::span<const float> values) {
  Uniform& u = uniforms_[name];
  u.floats.assign(values.begin(), values.end());
  u.transposed = false;
  u.version = ++uniformVersion_;
}

void ShaderProgram::SetMatrices(const std::string& name, std::span<const float> values) {
  Uniform& u = uniforms_[name];
  u.floats.assign(values.begin(), values.end());
  u.transposed = true;
  u.version = ++uniformVersion_;
}

void ShaderProgram::SetInts(const std::string& name, std::span<const int32_t> values) {
  Uniform& u = uniforms_[name];
  u.ints.assign(values.begin(), values.end());
  u.version = ++uniformVersion_;
}

}  // namespace wz::d3d
