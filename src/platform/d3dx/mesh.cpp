// Mesh object: vertex-format layouts, creation, cloning and the attribute sort.
#include "platform/d3dx/mesh.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace wz::d3dx {
namespace {

constexpr DWORD kMax16BitVertices = 65535;

uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void WriteU32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}

// Copies min(a, b) bytes of an element present in both layouts; the rest of the destination
// element stays zero.
void CopyElement(const uint8_t* src, int srcOff, size_t srcBytes, uint8_t* dst, int dstOff,
                 size_t dstBytes) {
  if (srcOff < 0 || dstOff < 0) return;
  std::memcpy(dst + dstOff, src + srcOff, std::min(srcBytes, dstBytes));
}

}  // namespace

UINT D3DXGetFVFVertexSize(DWORD fvf) {
  FvfLayout l;
  return ComputeFvfLayout(fvf, l) ? l.stride : 0;
}

HRESULT Mesh::Create(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf,
                     std::unique_ptr<Mesh>& out) {
  out.reset();
  FvfLayout layout;
  if (numFaces == 0 || numVertices == 0 || !ComputeFvfLayout(fvf, layout)) {
    return D3DERR_INVALIDCALL;
  }
  const bool wide = (options & D3DXMESH_32BIT) != 0;
  if (!wide && numVertices > kMax16BitVertices) return D3DERR_INVALIDCALL;
  // Buffer descriptions carry 32-bit sizes.
  const uint64_t vertexBytes = uint64_t{numVertices} * layout.stride;
  const uint64_t indexBytes = uint64_t{numFaces} * 3 * (wide ? 4 : 2);
  if (vertexBytes > std::numeric_limits<uint32_t>::max() ||
      indexBytes > std::numeric_limits<uint32_t>::max()) {
    return D3DERR_INVALIDCALL;
  }
  try {
    std::unique_ptr<Mesh> m(new Mesh());
    m->fvf_ = fvf;
    m->options_ = options;
    m->numFaces_ = numFaces;
    m->numVertices_ = numVertices;
    m->layout_ = layout;
    m->vertices_.assign(static_cast<size_t>(vertexBytes), 0);
    m->indices_.assign(static_cast<size_t>(indexBytes), 0);
    m->attributes_.assign(numFaces, 0);
    out = std::move(m);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void Mesh::ReadIndices(std::span<uint32_t> out) const {
  if (Uses32BitIndices()) {
    std::memcpy(out.data(), indices_.data(), out.size() * 4);
    return;
  }
  const uint8_t* p = indices_.data();
  for (size_t i = 0; i < out.size(); ++i, p += 2) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    out[i] = v;
  }
}

void Mesh::WriteIndices(std::span<const uint32_t> in) {
  if (Uses32BitIndices()) {
    std::memcpy(indices_.data(), in.data(), in.size() * 4);
    return;
  }
  uint8_t* p = indices_.data();
  for (size_t i = 0; i < in.size(); ++i, p += 2) {
    const uint16_t v = static_cast<uint16_t>(in[i]);
    std::memcpy(p, &v, 2);
  }
}

uint32_t Mesh::Index(size_t i) const {
  if (Uses32BitIndices()) return ReadU32(&indices_[i * 4]);
  uint16_t v;
  std::memcpy(&v, &indices_[i * 2], 2);
  return v;
}

void Mesh::SetIndex(size_t i, uint32_t v) {
  if (Uses32BitIndices()) {
    WriteU32(&indices_[i * 4], v);
  } else {
    const uint16_t s = static_cast<uint16_t>(v);
    std::memcpy(&indices_[i * 2], &s, 2);
  }
}

std::array<float, 3> Mesh::Floats3(uint32_t v, int offset) const {
  std::array<float, 3> f;
  std::memcpy(f.data(), &vertices_[size_t{v} * layout_.stride + offset], 12);
  return f;
}

void Mesh::SetFloats3(uint32_t v, int offset, const std::array<float, 3>& f) {
  std::memcpy(&vertices_[size_t{v} * layout_.stride + offset], f.data(), 12);
}

uint32_t Mesh::Diffuse(uint32_t v) const {
  return ReadU32(&vertices_[size_t{v} * layout_.stride + layout_.diffuse]);
}

void Mesh::SetDiffuse(uint32_t v, uint32_t argb) {
  WriteU32(&vertices_[size_t{v} * layout_.stride + layout_.diffuse], argb);
}

std::array<float, 2> Mesh::TexCoord(uint32_t v, int set) const {
  std::array<float, 2> uv{};
  const size_t n = std::min(layout_.texDims[set], 2) * size_t{4};
  std::memcpy(uv.data(), &vertices_[size_t{v} * layout_.stride + layout_.tex[set]], n);
  return uv;
}

void Mesh::SetTexCoord(uint32_t v, const std::array<float, 2>& uv, int set) {
  const size_t n = std::min(layout_.texDims[set], 2) * size_t{4};
  std::memcpy(&vertices_[size_t{v} * layout_.stride + layout_.tex[set]], uv.data(), n);
}

HRESULT Mesh::CloneMeshFVF(DWORD options, DWORD fvf, std::unique_ptr<Mesh>& out) const {
  std::unique_ptr<Mesh> m;
  if (HRESULT hr = Create(numFaces_, numVertices_, options, fvf, m); Failed(hr)) {
    out.reset();
    return hr;
  }
  const FvfLayout& s = layout_;
  const FvfLayout& d = m->layout_;
  for (uint32_t v = 0; v < numVertices_; ++v) {
    const uint8_t* src = &vertices_[size_t{v} * s.stride];
    uint8_t* dst = &m->vertices_[size_t{v} * d.stride];
    CopyElement(src, s.position, 4 * s.positionFloats, dst, d.position, 4 * d.positionFloats);
    CopyElement(src, s.blend, 4 * s.blendCount, dst, d.blend, 4 * d.blendCount);
    CopyElement(src, s.normal, 12, dst, d.normal, 12);
    CopyElement(src, s.pointSize, 4, dst, d.pointSize, 4);
    CopyElement(src, s.diffuse, 4, dst, d.diffuse, 4);
    CopyElement(src, s.specular, 4, dst, d.specular, 4);
    for (int t = 0; t < std::min(s.texCount, d.texCount); ++t) {
      CopyElement(src, s.tex[t], 4 * s.texDims[t], dst, d.tex[t], 4 * d.texDims[t]);
    }
  }
  if (m->Uses32BitIndices() == Uses32BitIndices()) {
    m->indices_ = indices_;
  } else {
    std::vector<uint32_t> all(size_t{numFaces_} * 3);
    ReadIndices(all);
    m->WriteIndices(all);
  }
  m->attributes_ = attributes_;
  m->attributeTable_ = attributeTable_;
  out = std::move(m);
  return S_OK;
}

HRESULT Mesh::OptimizeInplace(DWORD flags, std::vector<DWORD>* faceRemap,
                              std::vector<DWORD>* vertexRemap) {
  const size_t nf = numFaces_;
  std::vector<uint32_t> idx(nf * 3);
  ReadIndices(idx);
  for (uint32_t i : idx) {
    if (i >= numVertices_) return D3DERR_INVALIDCALL;
  }

  // Face order: stable by attribute id when sorting, the current order otherwise.
  std::vector<DWORD> faceOrder(nf);
  for (size_t f = 0; f < nf; ++f)
    faceOrder[f] = static_cast<DWORD>(f);
  const bool sort =
      (flags & (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) != 0;
  // Faces already in attribute order (one material, or a file written sorted) keep their order.
  const bool reorder =
      sort && !std::is_sorted(attributes_.begin(), attributes_.begin() + ptrdiff_t(nf));
  if (reorder) {
    // Stable by attribute id: a counting sort when the ids are few (as material numbers are),
    // otherwise a stable merge sort.
    const DWORD maxId =
        nf == 0 ? 0 : *std::max_element(attributes_.begin(), attributes_.begin() + ptrdiff_t(nf));
    if (maxId < 4096) {
      std::vector<DWORD> start(size_t{maxId} + 2, 0);
      for (size_t f = 0; f < nf; ++f)
        ++start[size_t{attributes_[f]} + 1];
      for (size_t a = 1; a < start.size(); ++a)
        start[a] += start[a - 1];
      for (size_t f = 0; f < nf; ++f)
        faceOrder[start[attributes_[f]]++] = static_cast<DWORD>(f);
    } else {
      std::stable_sort(faceOrder.begin(), faceOrder.end(),
                       [&](DWORD a, DWORD b) { return attributes_[a] < attributes_[b]; });
    }
  }
  std::vector<uint32_t> newIdx;
  std::vector<DWORD> newAttr;
  if (reorder) {
    newIdx.resize(nf * 3);
    newAttr.resize(nf);
    for (size_t f = 0; f < nf; ++f) {
      newAttr[f] = attributes_[faceOrder[f]];
      for (int k = 0; k < 3; ++k)
        newIdx[f * 3 + k] = idx[size_t{faceOrder[f]} * 3 + k];
    }
  } else {
    newIdx = std::move(idx);
    newAttr.assign(attributes_.begin(), attributes_.begin() + ptrdiff_t(nf));
  }

  // Vertex order: old vertex of each new vertex. Splitting appends a copy of a vertex for each
  // further attribute id that uses it; faces come in id order, so one "last id" per vertex is
  // enough to see a change.
  std::vector<DWORD> vertexOrder(numVertices_);
  for (DWORD v = 0; v < numVertices_; ++v)
    vertexOrder[v] = v;
  // False while vertexOrder is still the identity: the vertex buffer then stays as it is.
  bool verticesMove = false;
  if (sort && !(flags & D3DXMESHOPT_DONOTSPLIT)) {
    constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
    std::vector<uint32_t> copyOf(numVertices_, kNone);  // current copy of old vertex v
    std::vector<DWORD> ownerAttr(numVertices_);
    std::vector<bool> used(numVertices_, false);
    for (size_t f = 0; f < nf; ++f) {
      for (int k = 0; k < 3; ++k) {
        uint32_t& i = newIdx[f * 3 + k];
        const uint32_t old = i;
        if (!used[old]) {
          used[old] = true;
          ownerAttr[old] = newAttr[f];
          copyOf[old] = old;
        } else if (ownerAttr[old] != newAttr[f]) {
          ownerAttr[old] = newAttr[f];
          copyOf[old] = static_cast<uint32_t>(vertexOrder.size());
          vertexOrder.push_back(old);
          verticesMove = true;
        }
        i = copyOf[old];
      }
    }
  }
  if (flags & D3DXMESHOPT_COMPACT) {
    std::vector<uint32_t> newNumber(vertexOrder.size(), std::numeric_limits<uint32_t>::max());
    for (uint32_t i : newIdx)
      newNumber[i] = 0;
    std::vector<DWORD> kept;
    for (size_t v = 0; v < vertexOrder.size(); ++v) {
      if (newNumber[v] == 0) {
        newNumber[v] = static_cast<uint32_t>(kept.size());
        kept.push_back(vertexOrder[v]);
      }
    }
    for (uint32_t& i : newIdx)
      i = newNumber[i];
    verticesMove = verticesMove || kept.size() != vertexOrder.size();
    vertexOrder = std::move(kept);
  }
  if (vertexOrder.empty()) return D3DERR_INVALIDCALL;  // compaction of a mesh with no faces
  if (!Uses32BitIndices() && vertexOrder.size() > kMax16BitVertices) return D3DXERR_CANNOTATTRSORT;
  if (vertexOrder.size() > std::numeric_limits<uint32_t>::max() / layout_.stride) {
    return D3DXERR_CANNOTATTRSORT;
  }

  if (verticesMove) {
    std::vector<uint8_t> newVertices(vertexOrder.size() * layout_.stride);
    for (size_t v = 0; v < vertexOrder.size(); ++v) {
      std::memcpy(&newVertices[v * layout_.stride],
                  &vertices_[size_t{vertexOrder[v]} * layout_.stride], layout_.stride);
    }
    vertices_ = std::move(newVertices);
    numVertices_ = static_cast<DWORD>(vertexOrder.size());
  }
  WriteIndices(newIdx);
  attributes_ = std::move(newAttr);

  if (sort) {
    attributeTable_.clear();
    for (size_t f = 0; f < nf;) {
      D3DXATTRIBUTERANGE r;
      r.AttribId = attributes_[f];
      r.FaceStart = static_cast<DWORD>(f);
      uint32_t lo = std::numeric_limits<uint32_t>::max(), hi = 0;
      for (; f < nf && attributes_[f] == r.AttribId; ++f) {
        for (int k = 0; k < 3; ++k) {
          lo = std::min(lo, newIdx[f * 3 + k]);
          hi = std::max(hi, newIdx[f * 3 + k]);
        }
      }
      r.FaceCount = static_cast<DWORD>(f) - r.FaceStart;
      r.VertexStart = lo;
      r.VertexCount = hi - lo + 1;
      attributeTable_.push_back(r);
    }
  }
  if (faceRemap) *faceRemap = std::move(faceOrder);
  if (vertexRemap) *vertexRemap = std::move(vertexOrder);
  return S_OK;
}

HRESULT Mesh::Optimize(DWORD flags, std::unique_ptr<Mesh>& out, std::vector<DWORD>* faceRemap,
                       std::vector<DWORD>* vertexRemap) const {
  std::unique_ptr<Mesh> m;
  if (HRESULT hr = CloneMeshFVF(options_, fvf_, m); Failed(hr)) {
    out.reset();
    return hr;
  }
  if (HRESULT hr = m->OptimizeInplace(flags, faceRemap, vertexRemap); Failed(hr)) {
    out.reset();
    return hr;
  }
  out = std::move(m);
  return S_OK;
}

bool CheckMeshInvariants(const Mesh& mesh, size_t materialCount, std::string* why) {
  auto fail = [&](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  FvfLayout layout;
  if (!ComputeFvfLayout(mesh.GetFVF(), layout) || layout.stride != mesh.GetNumBytesPerVertex()) {
    return fail("vertex format and stride disagree");
  }
  if (mesh.VertexBuffer().size() != size_t{mesh.GetNumVertices()} * layout.stride) {
    return fail("vertex buffer size");
  }
  const size_t indexSize = mesh.Uses32BitIndices() ? 4 : 2;
  if (mesh.IndexBuffer().size() != size_t{mesh.GetNumFaces()} * 3 * indexSize) {
    return fail("index buffer size");
  }
  if (mesh.AttributeBuffer().size() != mesh.GetNumFaces()) return fail("attribute buffer size");
  if (!mesh.Uses32BitIndices() && mesh.GetNumVertices() > kMax16BitVertices) {
    return fail("more than 65535 vertices with 16-bit indices");
  }
  for (size_t i = 0; i < size_t{mesh.GetNumFaces()} * 3; ++i) {
    if (mesh.Index(i) >= mesh.GetNumVertices()) {
      return fail("index " + std::to_string(i) + " out of range");
    }
  }
  if (materialCount != SIZE_MAX) {
    for (DWORD a : mesh.AttributeBuffer()) {
      if (materialCount == 0 ? a != 0 : a >= materialCount) {
        return fail("attribute id " + std::to_string(a) + " without a material");
      }
    }
  }
  DWORD next = 0;
  for (const D3DXATTRIBUTERANGE& r : mesh.GetAttributeTable()) {
    if (r.FaceStart != next || r.FaceCount > mesh.GetNumFaces() - next) {
      return fail("attribute table does not cover the faces in order");
    }
    next += r.FaceCount;
  }
  if (!mesh.GetAttributeTable().empty() && next != mesh.GetNumFaces()) {
    return fail("attribute table does not cover every face");
  }
  return true;
}

}  // namespace wz::d3dx
