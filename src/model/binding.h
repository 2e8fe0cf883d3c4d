// Bind pose and automatic binding of a model's skeleton. Both run after every load.
#pragma once

#include <span>
#include <vector>

#include "core/vec_math.h"
#include "model/model.h"

namespace wz {

// World matrix of each bone in use, into boneWorld[0 .. boneCount - 1]. A bone's local matrix is
// rotation x scale x translation of its rest position with the identity rotation and unit scale
// (the stored rest rotation and scale are not used); bone 0's is the identity. Then, for each
// bone a in index order, every later bone b whose parent is a gets world(b) := world(b) x
// world(a). A bone whose parent index is not smaller than its own keeps its local matrix.
// Precondition: 0 <= boneCount <= 128 and boneWorld holds at least boneCount matrices.
void BindPose(const Model& model, std::span<Mat4> boneWorld);

// The same, returned as boneCount matrices.
std::vector<Mat4> BindPose(const Model& model);

// Binds every position whose auto-bind byte is 1 to the nearest bone. Bone centres: each bone's
// world position, averaged with the world positions of its children unless the bone is bone 0
// (written to model.boneCentres and model.boneCentreCounts). A position goes to the bone from 1
// to boneCount - 1 whose centre is nearest in the sum of absolute coordinate differences; a tie
// keeps the lower bone, bone 0 is never chosen, and a position no bone comes nearer to than
// 99999.9 (or a model without bones beyond 0) gets bone 1. Bound positions get second byte 0 and
// weight 1.0; other positions keep their attributes.
// Precondition: 0 <= boneCount <= 128, boneWorld holds boneCount matrices (from BindPose), and
// positionCount fits the positions and attributes.
void AutoBind(Model& model, std::span<const Mat4> boneWorld);

}  // namespace wz
