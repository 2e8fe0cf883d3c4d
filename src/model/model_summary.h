// What a model holds, counted as a person counts it: the skeleton and motions that came from its
// file (every new model starts with two bones and one empty motion, which count as none), the
// textures its groups show, whether it draws corner colours, and the polygons that make no face.
// The information command reports it, and a conversion compares it with what the target format
// can hold.
#pragma once

#include <cstdint>

#include "model/model.h"

namespace wz {

struct ModelSummary {
  int32_t bones = 0;           // bones the file gave; 0 for the skeleton of a new model
  int32_t motions = 0;         // motions the file gave; 0 for the one empty motion of a new model
  int32_t groupTracks = 0;     // group tracks with keys (texture switching per key), all motions
  int32_t textures = 0;        // texture slots the groups show that name a file
  bool vertexColours = false;  // the model draws corner colours from its colour pool
  int64_t lines = 0;           // polygons of one or two corners (lines and points)
};

ModelSummary Summarise(const Model& model);

// True when the model's skeleton is the one of a new model (two bones at rest, default names,
// no keys but rest keys), or its motions are the one empty motion of a new model.
bool HasNewModelSkeleton(const Model& model);
bool HasNewModelMotions(const Model& model);

}  // namespace wz
