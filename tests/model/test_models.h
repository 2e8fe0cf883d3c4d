// Small models for the model tests: a new model holding the given positions and faces.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/vec_math.h"
#include "model/model.h"

namespace wz::testing {

// How the normal pool shades a model's faces: '-' without a pool, 'f' when every corner's normal
// is its face's normal (flat), 's' when every corner's normal is its position's smooth normal
// (smooth across every edge), '?' for anything else.
inline char CornerShading(const Model& m) {
  if (m.normalCount == 0) return '-';
  bool flat = true, smooth = true;
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    const Polygon& p = m.polygons[size_t(i)];
    for (int c = 0; c < p.cornerCount && p.cornerCount >= 3; ++c) {
      const Vec3 n = m.normals[size_t(p.corners[size_t(c)].normal)];
      flat = flat && Dot(n, p.faceNormal) > 0.99999f;
      smooth = smooth && Dot(n, m.smoothNormals[size_t(p.corners[size_t(c)].position)]) > 0.99999f;
    }
  }
  return flat && !smooth ? 'f' : smooth && !flat ? 's' : '?';
}

// The 8 corners of the unit cube (corner i at x = bit 0, y = bit 1, z = bit 2) and its six quads.
inline const std::vector<std::vector<int>> kCubeQuads = {{1, 3, 2, 0}, {6, 7, 5, 4}, {2, 6, 4, 0},
                                                         {5, 7, 3, 1}, {3, 7, 6, 2}, {4, 5, 1, 0}};
inline Vec3 CubeCorner(int i) {
  return {float(i & 1), float(i >> 1 & 1), float(i >> 2 & 1)};
}

// Options for CreateModel.
inline NewModelOptions Options(std::string dataDir = "", bool toonLoaded = false,
                               bool preallocate = false, ModelCapacities capacities = {}) {
  NewModelOptions o;
  o.dataDir = std::move(dataDir);
  o.toonLoaded = toonLoaded;
  o.preallocate = preallocate;
  o.capacities = capacities;
  return o;
}

// A new model (no preallocation) with `positions` and one polygon per face; each face lists its
// corners' position indices and belongs to group 0. Normal, colour and UV pools stay unused.
inline std::unique_ptr<Model> MakeMeshModel(const std::vector<Vec3>& positions,
                                            const std::vector<std::vector<int>>& faces) {
  auto m = CreateModel({});
  GrowPositionPools(*m, positions.size());
  std::copy(positions.begin(), positions.end(), m->positions.begin());
  m->positionCount = static_cast<int32_t>(positions.size());
  m->polygons.resize(faces.size());
  for (size_t f = 0; f < faces.size(); ++f) {
    Polygon& p = m->polygons[f];
    p.cornerCount = static_cast<uint8_t>(faces[f].size());
    for (size_t c = 0; c < faces[f].size(); ++c)
      p.corners[c].position = faces[f][c];
  }
  m->polygonCount = static_cast<int32_t>(faces.size());
  return m;
}

}  // namespace wz::testing
