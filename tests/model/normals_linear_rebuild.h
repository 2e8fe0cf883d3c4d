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
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    Polygon& p = m.polygons[i];
    if (p.cornerCount < 3) continue;
    for (int c = 0; c < p.cornerCount; ++c) {
      const Vec3 s = m.smoothNormals[p.corners[c].position];
      int32_t found = -1;
      for (int32_t j = 0; j < m.normalCount && found < 0; ++j) {
        const Vec3 e = m.normals[j];
        if (e.x == s.x && e.y == s.y && e.z == s.z) found = j;
      }
      if (found < 0) {
        if (static_cast<size_t>(m.normalCount) == m.normals.size()) m.normals.push_back({});
        m.normals[m.normalCount] = s;
        found = m.normalCount++;
      }
      p.corners[c].normal = found;
    }
  }
}

}  // namespace wz::testing
