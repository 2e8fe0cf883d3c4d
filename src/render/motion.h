// Motion playback: the bone matrices of a model's current motion (with the cross-fade that
// Model3_MotionSet starts), the deformed positions the CPU assembly draws while deform is on,
// and the current keys of the group tracks.
#pragma once

#include "model/model.h"
#include "model/model_table.h"

namespace wz {

// The number of frames one pass of the motion lasts: its last key frame + 1 (1 for a motion
// whose keys are all at frame 0).
int32_t MotionLength(const Model& model, int32_t motion);

// Writes the bind pose and the current pose of every bone into the runtime, and the deformed
// positions while deform is on, for the model's current motion state; marks the model posed.
void PoseModel(Model& model, ModelRuntime& runtime);

// Moves the model's motion state on by `frames` frames (wrapping at the motion's length) and
// advances the cross-fade by its step per frame, then poses the model.
void AdvanceMotion(Model& model, ModelRuntime& runtime, float frames);

// Bone i's skinning matrix: translation by minus its bind-pose origin, then its current matrix.
Mat4 SkinMatrix(const BoneState& bone);

}  // namespace wz
