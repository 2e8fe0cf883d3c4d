// Small models for the model tests: a new model holding the given positions and faces.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "model/model.h"

namespace wz::testing {

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
