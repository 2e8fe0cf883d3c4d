// The mesh object of the D3DX stand-in: a vertex buffer in a flexible vertex format, a 16-bit or
// 32-bit index buffer of a triangle list, one attribute (material) id per face, an attribute table
// built by the attribute sort, and cloning to another vertex format. Materials that belong to a
// mesh are plain records (`D3DXMATERIAL`) handed around beside it.
//
// Buffers are ordinary memory: "locking" a buffer is taking its span, which stays valid until the
// mesh is destroyed or re-sorted. Vertex bytes are little-endian and unaligned; read and write them
// with memcpy or the accessors below.
//
// Limitations: no adjacency, no device resources; of the optimisation flags only the attribute
// sort (with or without vertex splitting) and compaction change the mesh; the vertex-cache and
// strip orders keep the face order of the attribute sort.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/d3d/d3d9_types.h"
#include "platform/d3d/vertex_layout.h"
#include "platform/win_types.h"

namespace wz::d3dx {

using d3d::D3DCOLORVALUE;
using d3d::D3DMATERIAL9;

// A material with its texture file name; an empty name means "no texture".
struct D3DXMATERIAL {
  D3DMATERIAL9 MatD3D;
  std::string textureFilename;
  friend bool operator==(const D3DXMATERIAL&, const D3DXMATERIAL&) = default;
};

// One run of faces that share an attribute id, as the attribute sort leaves them. VertexStart and
// VertexCount give the smallest and the span of the vertex indices those faces use.
struct D3DXATTRIBUTERANGE {
  DWORD AttribId = 0;
  DWORD FaceStart = 0;
  DWORD FaceCount = 0;
  DWORD VertexStart = 0;
  DWORD VertexCount = 0;
  friend bool operator==(const D3DXATTRIBUTERANGE&, const D3DXATTRIBUTERANGE&) = default;
};

using d3d::ComputeFvfLayout;
using d3d::FvfLayout;

// Bytes per vertex of `fvf`; 0 when the format is not valid.
UINT D3DXGetFVFVertexSize(DWORD fvf);

class Mesh {
 public:
  // An empty mesh of `numFaces` triangles and `numVertices` vertices: every byte zero, every
  // attribute 0, no attribute table. Indices are 32-bit when `options` has D3DXMESH_32BIT,
  // otherwise 16-bit (then at most 65535 vertices). D3DERR_INVALIDCALL for zero counts, an invalid
  // format or buffers too large to describe with 32-bit sizes; E_OUTOFMEMORY when memory fails.
  static HRESULT Create(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf,
                        std::unique_ptr<Mesh>& out);

  DWORD GetFVF() const { return fvf_; }
  DWORD GetOptions() const { return options_; }
  DWORD GetNumFaces() const { return numFaces_; }
  DWORD GetNumVertices() const { return numVertices_; }
  DWORD GetNumBytesPerVertex() const { return layout_.stride; }
  const FvfLayout& Layout() const { return layout_; }
  bool Uses32BitIndices() const { return (options_ & D3DXMESH_32BIT) != 0; }

  // The buffers; their sizes are what the buffer descriptions report.
  std::span<uint8_t> VertexBuffer() { return vertices_; }
  std::span<const uint8_t> VertexBuffer() const { return vertices_; }
  std::span<uint8_t> IndexBuffer() { return indices_; }
  std::span<const uint8_t> IndexBuffer() const { return indices_; }
  std::span<DWORD> AttributeBuffer() { return attributes_; }
  std::span<const DWORD> AttributeBuffer() const { return attributes_; }

  // Index i of the index buffer (3 per face), whatever the index size. `i` < 3 × face count.
  uint32_t Index(size_t i) const;
  void SetIndex(size_t i, uint32_t v);
  // All indices at once, from index 0; `out`/`in` hold at most 3 × face count.
  void ReadIndices(std::span<uint32_t> out) const;
  void WriteIndices(std::span<const uint32_t> in);

  // Element accessors over the vertex buffer; the element must exist in the format (see Layout).
  std::array<float, 3> Position(uint32_t v) const { return Floats3(v, layout_.position); }
  void SetPosition(uint32_t v, const std::array<float, 3>& p) {
    SetFloats3(v, layout_.position, p);
  }
  std::array<float, 3> Normal(uint32_t v) const { return Floats3(v, layout_.normal); }
  void SetNormal(uint32_t v, const std::array<float, 3>& n) { SetFloats3(v, layout_.normal, n); }
  uint32_t Diffuse(uint32_t v) const;
  void SetDiffuse(uint32_t v, uint32_t argb);
  std::array<float, 2> TexCoord(uint32_t v, int set = 0) const;
  void SetTexCoord(uint32_t v, const std::array<float, 2>& uv, int set = 0);

  // A copy of this mesh in another vertex format and index size (D3DXMESH_32BIT in `options`).
  // Elements present in both formats are copied (texture sets by number, as many components as
  // both have); the others are zero. Indices, attributes and the attribute table are copied.
  // D3DERR_INVALIDCALL for an invalid format, or 16-bit indices with more than 65535 vertices.
  HRESULT CloneMeshFVF(DWORD options, DWORD fvf, std::unique_ptr<Mesh>& out) const;

  // Reorders the mesh in place. With D3DXMESHOPT_ATTRSORT (also implied by VERTEXCACHE and
  // STRIPREORDER) faces are sorted by attribute id, keeping their order within each id, and the
  // attribute table is rebuilt; unless D3DXMESHOPT_DONOTSPLIT is given, a vertex used by faces of
  // several ids is duplicated so that every vertex belongs to one id (copies are appended). With
  // D3DXMESHOPT_COMPACT, vertices no face uses are removed (order kept). `faceRemap` receives for
  // each new face its old face number, `vertexRemap` for each new vertex its old vertex number.
  // D3DXERR_CANNOTATTRSORT when the split would need more than 65535 vertices with 16-bit
  // indices; the mesh is then unchanged.
  HRESULT OptimizeInplace(DWORD flags, std::vector<DWORD>* faceRemap = nullptr,
                          std::vector<DWORD>* vertexRemap = nullptr);
  // The same on a copy; this mesh is unchanged.
  HRESULT Optimize(DWORD flags, std::unique_ptr<Mesh>& out, std::vector<DWORD>* faceRemap = nullptr,
                   std::vector<DWORD>* vertexRemap = nullptr) const;

  // The attribute table of the last attribute sort (empty before one).
  std::span<const D3DXATTRIBUTERANGE> GetAttributeTable() const { return attributeTable_; }
  void SetAttributeTable(std::span<const D3DXATTRIBUTERANGE> table) {
    attributeTable_.assign(table.begin(), table.end());
  }

 private:
  Mesh() = default;
  std::array<float, 3> Floats3(uint32_t v, int offset) const;
  void SetFloats3(uint32_t v, int offset, const std::array<float, 3>& f);

  DWORD fvf_ = 0;
  DWORD options_ = 0;
  DWORD numFaces_ = 0;
  DWORD numVertices_ = 0;
  FvfLayout layout_;
  std::vector<uint8_t> vertices_;
  std::vector<uint8_t> indices_;
  std::vector<DWORD> attributes_;
  std::vector<D3DXATTRIBUTERANGE> attributeTable_;
};

// Checks what every mesh must satisfy: buffer sizes match the counts and the format, every index
// is below the vertex count, and (when `materialCount` is given, i.e. not SIZE_MAX) every
// attribute id is below it or, with no materials, zero. On failure `why` names the first fault.
bool CheckMeshInvariants(const Mesh& mesh, size_t materialCount, std::string* why = nullptr);

}  // namespace wz::d3dx
