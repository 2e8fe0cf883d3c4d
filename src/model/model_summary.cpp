// Counts of what a model holds (see model_summary.h).
#include "model/model_summary.h"

#include <algorithm>

namespace wz {
namespace {

bool AtRest(const BoneKey& key) {
  return key.position == kRestKey.position && key.rotation == kRestKey.rotation &&
         key.scale == kRestKey.scale;
}

bool IsNewModelBone(const Bone& bone, int k) {
  if (bone.name.View() != DefaultBoneName(k) || bone.parent != 0) return false;
  if (!(bone.restPosition == Vec3{}) || !(bone.restRotation == kRestKey.rotation) ||
      !(bone.restScale == kRestKey.scale))
    return false;
  for (const std::vector<BoneKey>& keys : bone.keyLists)
    if (!std::all_of(keys.begin(), keys.end(), AtRest)) return false;
  return true;
}

int32_t TracksWithKeys(const Motion& motion) {
  return int32_t(std::count_if(motion.tracks.begin(), motion.tracks.end(),
                               [](const GroupTrack& t) { return t.keyCount > 0; }));
}

}  // namespace

bool HasNewModelSkeleton(const Model& model) {
  return model.boneCount == 2 && IsNewModelBone(model.bones[0], 0) &&
         IsNewModelBone(model.bones[1], 1);
}

bool HasNewModelMotions(const Model& model) {
  if (model.motions.size() != 1) return false;
  const Motion& m = model.motions[0];
  return m.name.View() == NewMotion().name.View() && TracksWithKeys(m) == 0;
}

ModelSummary Summarise(const Model& model) {
  ModelSummary s;
  s.bones = HasNewModelSkeleton(model) ? 0 : std::clamp(model.boneCount, 0, kMaxBones);
  s.motions = HasNewModelMotions(model) ? 0 : int32_t(model.motions.size());
  for (const Motion& m : model.motions)
    s.groupTracks += TracksWithKeys(m);
  std::vector<bool> shown(size_t(std::max<int16_t>(model.textureSlotCount, 0)), false);
  const size_t groups = std::min(size_t(std::max(model.groupCount, 0)), model.groups.size());
  for (size_t g = 0; g < groups; ++g) {
    const int32_t t = model.groups[g].textureSlot;
    if (t > 0 && size_t(t) < shown.size() && size_t(t) < model.textureSlots.size() &&
        model.textureSlots[size_t(t)].state == 1 && model.textureSlots[size_t(t)].fileName.Length())
      shown[size_t(t)] = true;
  }
  s.textures = int32_t(std::count(shown.begin(), shown.end(), true));
  s.vertexColours = model.vertexColoursOn == 1 && model.colourCount > 0;
  const size_t polygons = std::min(size_t(std::max(model.polygonCount, 0)), model.polygons.size());
  for (size_t p = 0; p < polygons; ++p)
    s.lines += model.polygons[p].cornerCount < 3;
  return s;
}

}  // namespace wz
