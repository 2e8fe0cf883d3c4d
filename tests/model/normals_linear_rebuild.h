// The normal-pool rebuild of shading mode 8 done the plain way. Quadratic; kept as the reference
// that the hashed rebuild must equal, and for the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/model.h"

namespace wz::testing {

// The rebuild exactly as a linear search does it: for each corner, the first entry among those
// already in the pool that equals the position's smooth normal, else a new entry at the end.
inline void LinearRebuild(Model& m) {
  m.normalCount = 0;
  auto entry = [&m](Vec3 s) {
    for (int32_t j = 0; j < m.normalCount; ++j) {
      const Vec3 e = m.normals[j];
      if (e.x == s.x && e.y == s.y && e.z == s.z) return j;
    }
    if (static_cast<size_t>(m.normalCount) == m.normals.size()) m.normals.push_back({});
    m.normals[m.normalCount] = s;
    return m.normalCount++;
  };
  // Faces first; then the corners of polygons of one or two corners, each with its position's
  // smooth normal (zero for a position outside the pool).
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t i = 0; i < m.polygonCount; ++i) {
      Polygon& p = m.polygons[i];
      if ((p.cornerCount >= 3) != (pass == 0)) continue;
      for (int c = 0; c < p.cornerCount; ++c) {
        const int32_t pos = p.corners[c].position;
        p.corners[c].normal =
            entry(pos >= 0 && pos < m.positionCount ? m.smoothNormals[pos] : Vec3{});
      }
    }
  }
}

}  // namespace wz::testing
