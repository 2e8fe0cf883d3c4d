// Vertex layouts: where each element of a vertex sits, from a flexible vertex format (FVF) or from
// a vertex declaration. The device turns either into one VertexLayout that backends read.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/d3d/d3d9_types.h"
#include "platform/win_types.h"

namespace wz::d3d {

// Byte offsets of the elements of one vertex of a flexible vertex format; -1 marks an element the
// format does not have.
struct FvfLayout {
  uint32_t stride = 0;
  int position = -1;  // 3 floats (x, y, z), followed by w for XYZRHW and XYZW
  int positionFloats = 0;
  int blend = -1;  // blend weights (the last one may be a packed word), 4 bytes each
  int blendCount = 0;
  int normal = -1;     // 3 floats
  int pointSize = -1;  // 1 float
  int diffuse = -1;    // D3DCOLOR 0xAARRGGBB
  int specular = -1;   // D3DCOLOR
  int texCount = 0;
  std::array<int, 8> tex{};      // offset of texture-coordinate set i (i < texCount)
  std::array<int, 8> texDims{};  // floats in set i: 1 to 4
};

// Layout of `fvf`. False for formats with reserved bits, no position, or more than 8 texture
// sets.
bool ComputeFvfLayout(DWORD fvf, FvfLayout& out);

// One element of a vertex as a backend reads it.
struct VertexElement {
  uint8_t stream = 0;
  uint16_t offset = 0;
  D3DDECLTYPE type = D3DDECLTYPE_UNUSED;
  D3DDECLUSAGE usage = D3DDECLUSAGE_POSITION;
  uint8_t usageIndex = 0;
  friend bool operator==(const VertexElement&, const VertexElement&) = default;
};

constexpr size_t kMaxVertexElements = 16;

// The elements of a vertex format; `fvf` is the format it came from (0 for a declaration),
// `fvfStride` the vertex size an FVF implies (0 for a declaration, whose strides come from the
// stream sources).
struct VertexLayout {
  std::array<VertexElement, kMaxVertexElements> elements{};
  uint32_t count = 0;
  DWORD fvf = 0;
  uint32_t fvfStride = 0;
  bool pretransformed = false;  // XYZRHW or POSITIONT: positions are already in pixels
  // The element of `usage` and `usageIndex`, or null.
  const VertexElement* Find(D3DDECLUSAGE usage, uint8_t usageIndex = 0) const;
  std::span<const VertexElement> Elements() const { return {elements.data(), count}; }
};

// Bytes one element of `type` takes; 0 for UNUSED or an unknown type.
uint32_t DeclTypeSize(uint8_t type);

// False for an invalid format.
bool LayoutFromFvf(DWORD fvf, VertexLayout& out);
// From a declaration ending with D3DDECL_END (or the whole span when there is none). False for an
// element of an unknown type or usage, a stream above 15, or more than kMaxVertexElements.
bool LayoutFromDeclaration(std::span<const D3DVERTEXELEMENT9> elements, VertexLayout& out);

}  // namespace wz::d3d
