// The structural invariants of a model record, checked in one place. Readers must leave a model
// that passes (after success and after refusal alike), writers check before writing, and the
// pure computations (normals, binding) and model drawing rely on them.
//
// The invariants:
//  - every count is >= 0 and no larger than its pool or list: positionCount against positions,
//    attrs, animatedPositions and smoothNormals; normalCount, colourCount, uvCount, polygonCount,
//    groupCount, textureSlotCount and soundNameCount against theirs; in each group the export
//    vertex count against every export pool and the export triangle count against its list;
//  - a used polygon (and a used export triangle) has 1 to 4 corners;
//  - every corner index of a used polygon lies in [0, count) of its pool, except that a corner
//    indexes a pool whose count is 0 (an unused normal, colour or UV pool) with 0; a position
//    index always needs a position; export triangle corners name an export vertex;
//  - the group index of a used polygon lies in [0, groupCount);
//  - a used group's texture slot, bump map slot and second map slot, and the model map slot, are
//    0 (no texture) or lie in [1, textureSlotCount);
//  - boneCount <= 128; the key count of every group track of a used group below 256 lies in
//    [0, 16] (groups from 256 on have no track: a motion holds 256);
//  - every bone in use has one key list per motion. Any parent index is sound: the bind pose
//    joins a bone only to an earlier bone, and any other bone keeps its local matrix.
// Derived values (bounding boxes, normals, shading mode, the loaded mark) are not checked here.
#pragma once

#include <optional>
#include <string>

#include "model/model.h"

namespace wz {

enum class ModelFault {
  kNegativeCount,          // a count below 0
  kCountBeyondPool,        // a pool count above the size of one of its pools
  kCountBeyondList,        // a list count above its list (polygons, groups, slots, names)
  kBadCornerCount,         // a used polygon with 0 or more than 4 corners
  kCornerIndexOutOfRange,  // a corner index outside its pool
  kGroupIndexOutOfRange,   // a polygon's group index outside the group list
  kTextureSlotOutOfRange,  // a group or model texture or map slot outside the slot list
  kTooManyBones,           // bone count above 128
  kTooManyTrackKeys,       // a group track key count outside 0 to 16
  kKeyListsNotPerMotion,   // a bone in use whose key-list count differs from the motion count
};

// Short name of a fault ("CountBeyondPool", ...), for log lines and test output.
const char* ModelFaultName(ModelFault fault);

struct ModelInvariantError {
  ModelFault fault;
  std::string message;  // which field and which values, e.g. "polygon 3 corner 1: position ..."
};

// The first broken invariant in the order listed above, or nothing when the model is sound.
// Linear in the size of the model.
std::optional<ModelInvariantError> CheckModelInvariants(const Model& model);

}  // namespace wz
