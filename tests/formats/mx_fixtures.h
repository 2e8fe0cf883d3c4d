// MX files built byte by byte for the MX reader and writer tests, and a parser of the quad
// records a writer produced.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/byte_cursor.h"

namespace wz::testing {

struct MxQuadBytes {
  std::array<std::array<float, 4>, 4> vertexSlots{};  // x, y, z, w as stored
  std::array<std::array<float, 4>, 4> normalSlots{};
  std::array<std::array<float, 2>, 4> uvs{};
  uint32_t colour = 0;
  int16_t texture = -1;
  int16_t group = 0;
};

inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(uint8_t(v >> (8 * i)));
}
inline void PutF32(std::vector<uint8_t>& out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  PutU32(out, bits);
}

struct MxFileLayout {
  std::vector<MxQuadBytes> quads;
  std::vector<std::string> names;  // name records
  uint32_t sceneRecords = 1;
  uint8_t sceneFill = 0;
  const char* magic = "MXF";
};

inline std::vector<uint8_t> BuildMx(const MxFileLayout& layout) {
  std::vector<uint8_t> out(4, 0);
  std::memcpy(out.data(), layout.magic, std::min<size_t>(4, std::strlen(layout.magic) + 1));
  const uint32_t a = layout.sceneRecords * 60, b = uint32_t(layout.quads.size()) * 168,
                 c = uint32_t(layout.names.size()) * 16;
  PutU32(out, 256);
  PutU32(out, a);
  PutU32(out, 32);
  PutU32(out, b);
  PutU32(out, 32 + a);
  PutU32(out, c);
  PutU32(out, 32 + a + b);
  out.insert(out.end(), a, layout.sceneFill);
  for (const MxQuadBytes& q : layout.quads) {
    for (const auto& s : q.vertexSlots)
      for (float f : s)
        PutF32(out, f);
    for (const auto& s : q.normalSlots)
      for (float f : s)
        PutF32(out, f);
    for (const auto& uv : q.uvs)
      for (float f : uv)
        PutF32(out, f);
    PutU32(out, q.colour);
    out.push_back(uint8_t(q.texture));
    out.push_back(uint8_t(uint16_t(q.texture) >> 8));
    out.push_back(uint8_t(q.group));
    out.push_back(uint8_t(uint16_t(q.group) >> 8));
  }
  for (const std::string& name : layout.names) {
    char record[16] = {};
    std::memcpy(record, name.data(), std::min<size_t>(16, name.size()));
    out.insert(out.end(), record, record + 16);
  }
  return out;
}

// The quad records of block B of a written file (the header's block sizes are trusted).
inline std::vector<MxQuadBytes> ParseMxQuads(const std::vector<uint8_t>& file) {
  ByteCursor c(file);
  c.skip(16);
  const uint32_t quads = c.u32() / 168;
  c.skip(12 + 60);
  std::vector<MxQuadBytes> out(quads);
  for (MxQuadBytes& q : out) {
    for (auto& s : q.vertexSlots)
      for (float& f : s)
        f = c.f32();
    for (auto& s : q.normalSlots)
      for (float& f : s)
        f = c.f32();
    for (auto& uv : q.uvs)
      for (float& f : uv)
        f = c.f32();
    q.colour = c.u32();
    q.texture = c.i16();
    q.group = c.i16();
  }
  return out;
}

}  // namespace wz::testing
