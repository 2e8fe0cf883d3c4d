// Bind pose of the skeleton and automatic binding of positions to their nearest bone.
#include "model/binding.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace wz {

void BindPose(const Model& model, std::span<Mat4> boneWorld) {
  const int32_t bones = model.boneCount;
  assert(bones >= 0 && bones <= kMaxBones && boneWorld.size() >= static_cast<size_t>(bones));
  for (int32_t k = 0; k < bones; ++k) {
    if (k == 0) {
      boneWorld[k] = MatrixIdentity();
    } else {
      const Mat4 rotation = MatrixRotationQuaternion({0.0f, 0.0f, 0.0f, 1.0f});
      const Mat4 scale = MatrixScaling({1.0f, 1.0f, 1.0f});
      boneWorld[k] = rotation * scale * MatrixTranslation(model.bones[k].restPosition);
    }
  }
  // A parent is visited before its later children, so its matrix is final when they join it.
  for (int32_t a = 0; a < bones; ++a) {
    for (int32_t b = a + 1; b < bones; ++b) {
      if (model.bones[b].parent == a) boneWorld[b] = boneWorld[b] * boneWorld[a];
    }
  }
}

std::vector<Mat4> BindPose(const Model& model) {
  std::vector<Mat4> world(static_cast<size_t>(std::max(model.boneCount, 0)));
  BindPose(model, world);
  return world;
}

void AutoBind(Model& model, std::span<const Mat4> boneWorld) {
  const int32_t bones = model.boneCount;
  assert(bones >= 0 && bones <= kMaxBones && boneWorld.size() >= static_cast<size_t>(bones));
  assert(model.positionCount >= 0 &&
         static_cast<size_t>(model.positionCount) <= model.positions.size() &&
         static_cast<size_t>(model.positionCount) <= model.attrs.size());

  // Bone centres: a bone's world position averaged with those of its children. Children of
  // bone 0 do not move bone 0's centre; a parent outside the bones in use has no centre that
  // the search below would look at, so it is skipped.
  for (int32_t k = 0; k < bones; ++k) {
    model.boneCentres[k] = TransformCoord({0.0f, 0.0f, 0.0f}, boneWorld[k]);
    model.boneCentreCounts[k] = 1;
  }
  for (int32_t j = 0; j < bones; ++j) {
    const int32_t p = model.bones[j].parent;
    if (p > 0 && p < bones) {
      model.boneCentres[p] += TransformCoord({0.0f, 0.0f, 0.0f}, boneWorld[j]);
      model.boneCentreCounts[p] += 1;
    }
  }
  for (int32_t k = 0; k < bones; ++k) {
    model.boneCentres[k] = model.boneCentres[k] / static_cast<float>(model.boneCentreCounts[k]);
  }

  for (int32_t i = 0; i < model.positionCount; ++i) {
    VertexAttr& attr = model.attrs[i];
    if (attr.autoBind != 1) continue;
    const Vec3 p = model.positions[i];
    uint8_t best = 1;
    float bestDistance = 99999.9f;
    for (int32_t l = 1; l < bones; ++l) {
      const Vec3 c = model.boneCentres[l];
      const float d = std::fabs(p.x - c.x) + std::fabs(p.y - c.y) + std::fabs(p.z - c.z);
      if (d < bestDistance) {  // strict: a tie keeps the lower bone
        best = static_cast<uint8_t>(l);
        bestDistance = d;
      }
    }
    attr.bone = best;
    attr.secondByte = 0;
    attr.weight = 1.0f;
  }
}

}  // namespace wz
