// Vertex layouts from flexible vertex formats and from vertex declarations.
#include "platform/d3d/vertex_layout.h"

namespace wz::d3d {

bool ComputeFvfLayout(DWORD fvf, FvfLayout& out) {
  out = FvfLayout{};
  if (fvf & D3DFVF_RESERVED0) return false;
  const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (texCount > 8) return false;
  uint32_t off = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
      out.positionFloats = 3;
      break;
    case D3DFVF_XYZRHW:
    case D3DFVF_XYZW:
      out.positionFloats = 4;
      break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
      out.positionFloats = 3;
      out.blendCount = static_cast<int>(((fvf & 0xE) - D3DFVF_XYZRHW) / 2);  // B1 = 6 ... B5 = 14
      break;
    default:
      return false;  // no position, or a reserved combination
  }
  // The last-beta flags only make sense with blend weights; XYZW uses bit 0x4000 itself.
  if ((fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) && out.blendCount == 0) {
    return false;
  }
  if ((fvf & D3DFVF_RESERVED2) == D3DFVF_RESERVED2) return false;
  out.position = 0;
  off += 4 * out.positionFloats;
  if (out.blendCount > 0) {
    out.blend = static_cast<int>(off);
    off += 4 * out.blendCount;
  }
  if (fvf & D3DFVF_NORMAL) {
    out.normal = static_cast<int>(off);
    off += 12;
  }
  if (fvf & D3DFVF_PSIZE) {
    out.pointSize = static_cast<int>(off);
    off += 4;
  }
  if (fvf & D3DFVF_DIFFUSE) {
    out.diffuse = static_cast<int>(off);
    off += 4;
  }
  if (fvf & D3DFVF_SPECULAR) {
    out.specular = static_cast<int>(off);
    off += 4;
  }
  out.texCount = static_cast<int>(texCount);
  for (int i = 0; i < out.texCount; ++i) {
    static constexpr int kDims[4] = {2, 3, 4, 1};  // by D3DFVF_TEXTUREFORMATn
    out.tex[i] = static_cast<int>(off);
    out.texDims[i] = kDims[(fvf >> (16 + 2 * i)) & 3];
    off += 4 * out.texDims[i];
  }
  out.stride = off;
  return true;
}

const VertexElement* VertexLayout::Find(D3DDECLUSAGE usage, uint8_t usageIndex) const {
  for (uint32_t i = 0; i < count; ++i) {
    if (elements[i].usage == usage && elements[i].usageIndex == usageIndex) return &elements[i];
  }
  return nullptr;
}

uint32_t DeclTypeSize(uint8_t type) {
  switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_FLOAT16_2:
      return 4;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4:
      return 8;
    case D3DDECLTYPE_FLOAT3:
      return 12;
    case D3DDECLTYPE_FLOAT4:
      return 16;
    default:
      return 0;
  }
}

namespace {
void Add(VertexLayout& l, int offset, D3DDECLTYPE type, D3DDECLUSAGE usage, uint8_t index = 0) {
  l.elements[l.count++] = VertexElement{0, static_cast<uint16_t>(offset), type, usage, index};
}
}  // namespace

bool LayoutFromFvf(DWORD fvf, VertexLayout& out) {
  out = VertexLayout{};
  FvfLayout f;
  if (!ComputeFvfLayout(fvf, f)) return false;
  out.fvf = fvf;
  out.fvfStride = f.stride;
  const DWORD position = fvf & D3DFVF_POSITION_MASK;
  out.pretransformed = position == D3DFVF_XYZRHW;
  if (position == D3DFVF_XYZRHW) {
    Add(out, f.position, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT);
  } else {
    Add(out, f.position, f.positionFloats == 4 ? D3DDECLTYPE_FLOAT4 : D3DDECLTYPE_FLOAT3,
        D3DDECLUSAGE_POSITION);
  }
  if (f.blendCount > 0) {
    // With a last-beta flag the last beta holds four matrix indices instead of a weight.
    const bool packedIndices = fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR);
    const int weights = f.blendCount - (packedIndices ? 1 : 0);
    if (weights > 0) {
      static constexpr D3DDECLTYPE kFloats[4] = {D3DDECLTYPE_FLOAT1, D3DDECLTYPE_FLOAT2,
                                                 D3DDECLTYPE_FLOAT3, D3DDECLTYPE_FLOAT4};
      Add(out, f.blend, kFloats[weights - 1], D3DDECLUSAGE_BLENDWEIGHT);
    }
    if (packedIndices) {
      Add(out, f.blend + 4 * weights,
          (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR,
          D3DDECLUSAGE_BLENDINDICES);
    }
  }
  if (f.normal >= 0) Add(out, f.normal, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
  if (f.pointSize >= 0) Add(out, f.pointSize, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE);
  if (f.diffuse >= 0) Add(out, f.diffuse, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
  if (f.specular >= 0) Add(out, f.specular, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
  for (int i = 0; i < f.texCount; ++i) {
    static constexpr D3DDECLTYPE kDims[5] = {D3DDECLTYPE_UNUSED, D3DDECLTYPE_FLOAT1,
                                             D3DDECLTYPE_FLOAT2, D3DDECLTYPE_FLOAT3,
                                             D3DDECLTYPE_FLOAT4};
    Add(out, f.tex[i], kDims[f.texDims[i]], D3DDECLUSAGE_TEXCOORD, static_cast<uint8_t>(i));
  }
  return true;
}

bool LayoutFromDeclaration(std::span<const D3DVERTEXELEMENT9> elements, VertexLayout& out) {
  out = VertexLayout{};
  for (const D3DVERTEXELEMENT9& e : elements) {
    if (e == D3DDECL_END) break;
    if (out.count == kMaxVertexElements || e.Stream > 15 || DeclTypeSize(e.Type) == 0 ||
        e.Usage > D3DDECLUSAGE_SAMPLE) {
      return false;
    }
    out.elements[out.count++] =
        VertexElement{static_cast<uint8_t>(e.Stream), e.Offset, static_cast<D3DDECLTYPE>(e.Type),
                      static_cast<D3DDECLUSAGE>(e.Usage), e.UsageIndex};
    if (e.Usage == D3DDECLUSAGE_POSITIONT) out.pretransformed = true;
  }
  return true;
}

}  // namespace wz::d3d
