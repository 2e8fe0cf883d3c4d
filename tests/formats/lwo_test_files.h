// Builds LWOB files byte by byte for the LWO tests: big-endian IFF chunks after a 12-byte header.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/vec_math.h"

namespace wz::testing {

using Bytes = std::vector<uint8_t>;

inline void PutBe16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
inline void PutBe32(Bytes& b, uint32_t v) {
  PutBe16(b, v >> 16);
  PutBe16(b, v & 0xFFFF);
}
inline void PutBeF32(Bytes& b, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  PutBe32(b, bits);
}
inline void PutText(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
}
// A name as LWOB stores it: its NUL, and a pad byte when name plus NUL is odd.
inline void PutName(Bytes& b, const std::string& s) {
  PutText(b, s);
  b.push_back(0);
  if ((s.size() + 1) % 2 == 1) b.push_back(0);
}

// A SURF sub-chunk: identifier, 16-bit length, body.
inline Bytes Sub(const char* id, const Bytes& body) {
  Bytes b;
  PutText(b, std::string(id, 4));
  PutBe16(b, uint32_t(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}
inline Bytes Colr(uint8_t r, uint8_t g, uint8_t b) {
  return Sub("COLR", {r, g, b, 0});
}

class LwoFile {
 public:
  LwoFile& Chunk(const char* id, const Bytes& body) {
    PutText(chunks_, std::string(id, 4));
    PutBe32(chunks_, uint32_t(body.size()));
    chunks_.insert(chunks_.end(), body.begin(), body.end());
    return *this;
  }
  LwoFile& Srfs(std::initializer_list<std::string> names) {
    Bytes b;
    for (const auto& n : names)
      PutName(b, n);
    return Chunk("SRFS", b);
  }
  LwoFile& Pnts(std::initializer_list<Vec3> points) {
    Bytes b;
    for (const auto& p : points) {
      PutBeF32(b, p.x);
      PutBeF32(b, p.y);
      PutBeF32(b, p.z);
    }
    return Chunk("PNTS", b);
  }
  // Raw 16-bit words: per polygon its point count, the indices and the surface number.
  LwoFile& Pols(std::initializer_list<int> words) {
    Bytes b;
    for (int w : words)
      PutBe16(b, uint32_t(w) & 0xFFFF);
    return Chunk("POLS", b);
  }
  LwoFile& Surf(const std::string& name, std::initializer_list<Bytes> subChunks) {
    Bytes b;
    PutName(b, name);
    for (const auto& s : subChunks)
      b.insert(b.end(), s.begin(), s.end());
    return Chunk("SURF", b);
  }
  // Appends raw bytes after the chunks (counted in the form length).
  LwoFile& Raw(const Bytes& extra) {
    chunks_.insert(chunks_.end(), extra.begin(), extra.end());
    return *this;
  }

  Bytes Build(const std::string& magic = "FORM", const std::string& type = "LWOB") const {
    Bytes b;
    PutText(b, magic);
    PutBe32(b, uint32_t(chunks_.size() + 4));
    PutText(b, type);
    b.insert(b.end(), chunks_.begin(), chunks_.end());
    return b;
  }

 private:
  Bytes chunks_;
};

}  // namespace wz::testing
