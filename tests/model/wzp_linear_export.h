// The export geometry of a model built the plain way: for every group, every polygon of the
// model is looked at, and each corner is searched among the group's export vertices in order.
// Quadratic; kept as the reference that the hashed build must equal, and for the benchmark.
#pragma once

#include <vector>

#include "model/wzp.h"

namespace wz::testing {

inline std::vector<ExportGeometry> LinearExportGeometry(const Model& m, int32_t capacity) {
  std::vector<ExportGeometry> out(static_cast<size_t>(m.groupCount));
  for (int32_t j = 0; j < m.groupCount; ++j) {
    ExportGeometry& g = out[j];
    for (int32_t k = 0; k < m.polygonCount; ++k) {
      const Polygon& p = m.polygons[k];
      if (p.group != j || p.cornerCount < 3) continue;
      for (int l = 0; l <= p.cornerCount - 3; ++l) {
        Polygon t;
        const int order[3] = {0, l + 1, l + 2};
        for (int c = 0; c < 3; ++c) {
          const Corner& k2 = p.corners[order[c]];
          const Vec3 pos = m.positions[k2.position];
          const Vec3 nrm = m.normalCount > 0 ? m.normals[k2.normal] : Vec3{};
          const ColourF col = m.colourCount > 0 ? m.colours[k2.colour] : ColourF{};
          const Uv uv = m.uvCount > 0 ? m.uvs[k2.uv] : Uv{};
          size_t v = 0;
          while (v < g.positions.size() && !(g.positions[v] == pos && g.normals[v] == nrm &&
                                             g.colours[v] == col && g.uvs[v] == uv)) {
            ++v;
          }
          if (v == g.positions.size()) {
            g.positions.push_back(pos);
            g.normals.push_back(nrm);
            g.colours.push_back(col);
            g.uvs.push_back(uv);
            g.attrs.push_back(m.attrs[k2.position]);
          }
          t.corners[c].position = static_cast<int32_t>(v);
        }
        t.group = j;
        t.cornerCount = 3;
        g.triangles.push_back(t);
      }
    }
    if (m.groups[j].mirror == 0) continue;
    const size_t nv = g.positions.size(), nt = g.triangles.size();
    for (size_t i = 0; i < nv; ++i) {
      Vec3 pos = g.positions[i], nrm = g.normals[i];
      pos.x *= -1.0f;
      nrm.x *= -1.0f;
      g.positions.push_back(pos);
      g.normals.push_back(nrm);
      g.colours.push_back(g.colours[i]);
      g.uvs.push_back(g.uvs[i]);
      g.attrs.push_back(VertexAttr{});
    }
    for (size_t t = 0; t < nt; ++t) {
      if (static_cast<int64_t>(g.triangles.size()) >= capacity) break;
      Polygon r;
      r.cornerCount = g.triangles[t].cornerCount;
      r.group = g.triangles[t].group;
      for (int c = 0; c < r.cornerCount; ++c) {
        Corner k = g.triangles[t].corners[r.cornerCount - 1 - c];
        const int32_t v = static_cast<int32_t>(nv);
        r.corners[c] = {k.position + v, k.normal + v, k.colour + v, k.uv + v};
      }
      g.triangles.push_back(r);
    }
  }
  return out;
}

}  // namespace wz::testing
