// Motion playback. A bone's pose at a time is interpolated from its two nearest keys in the
// motion (positions and scales linearly, rotations along the shorter arc); while a cross-fade
// runs, the pose is blended from the motion left behind (held where it was) to the new one. A
// bone's local matrix is scale x rotation x translation by its rest position plus the key's
// position (the root ignores its rest position, as the bind pose does), and its world matrix is
// the local one times its parent's. Positions follow their bone, and their second bone for the
// rest of the weight, through each bone's skinning matrix.
#include "render/motion.h"

#include <algorithm>
#include <cmath>

#include "core/library.h"
#include "model/binding.h"
#include "platform/d3dx/math.h"

namespace wz {
namespace {

struct BonePose {
  Vec3 position;
  Vec4 rotation{0.0f, 0.0f, 0.0f, 1.0f};
  Vec3 scale{1.0f, 1.0f, 1.0f};
};

Vec4 Slerp(Vec4 a, Vec4 b, float s) {
  const d3dx::D3DXQUATERNION qa{a.x, a.y, a.z, a.w}, qb{b.x, b.y, b.z, b.w};
  d3dx::D3DXQUATERNION r;
  d3dx::D3DXQuaternionSlerp(&r, &qa, &qb, s);
  return {r.x, r.y, r.z, r.w};
}

Vec3 Lerp(Vec3 a, Vec3 b, float s) {
  return a + (b - a) * s;
}

BonePose Blend(const BonePose& a, const BonePose& b, float s) {
  return {Lerp(a.position, b.position, s), Slerp(a.rotation, b.rotation, s),
          Lerp(a.scale, b.scale, s)};
}

BonePose FromKey(const BoneKey& k) {
  return {k.position, k.rotation, k.scale};
}

// The pose of a key list at time t: the key at or before t and the one after it, blended.
BonePose Sample(const std::vector<BoneKey>& keys, float t) {
  const BoneKey* before = nullptr;
  const BoneKey* after = nullptr;
  for (const BoneKey& k : keys) {
    if (float(k.frame) <= t) {
      if (!before || k.frame >= before->frame) before = &k;
    } else if (!after || k.frame < after->frame) {
      after = &k;
    }
  }
  if (!before && !after) return {};
  if (!before) return FromKey(*after);
  if (!after) return FromKey(*before);
  const float span = float(after->frame - before->frame);
  return Blend(FromKey(*before), FromKey(*after), span > 0 ? (t - float(before->frame)) / span : 0);
}

BonePose PoseOf(const Model& m, int32_t bone, int32_t motion, float t) {
  const Bone& b = m.bones[size_t(bone)];
  if (motion < 0 || size_t(motion) >= b.keyLists.size()) return {};
  return Sample(b.keyLists[size_t(motion)], t);
}

Mat4 LocalMatrix(const Model& m, int32_t bone, const BonePose& pose) {
  Vec4 q = pose.rotation;
  const float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  q = length > 0.0f && std::isfinite(length)
          ? Vec4{q.x / length, q.y / length, q.z / length, q.w / length}
          : Vec4{0.0f, 0.0f, 0.0f, 1.0f};
  const Vec3 base = bone == 0 ? Vec3{} : m.bones[size_t(bone)].restPosition;
  return Multiply(Multiply(MatrixScaling(pose.scale), MatrixRotationQuaternion(q)),
                  MatrixTranslation(base + pose.position));
}

Vec3 Affine(Vec3 p, const Mat4& m) {
  return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
          p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
          p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

}  // namespace

int32_t MotionLength(const Model& model, int32_t motion) {
  int32_t last = 0;
  const int32_t bones = std::clamp(model.boneCount, 0, kMaxBones);
  for (int32_t b = 0; b < bones; ++b) {
    const Bone& bone = model.bones[size_t(b)];
    if (motion < 0 || size_t(motion) >= bone.keyLists.size()) continue;
    for (const BoneKey& k : bone.keyLists[size_t(motion)])
      last = std::max(last, k.frame);
  }
  return last + 1;
}

Mat4 SkinMatrix(const BoneState& bone) {
  const Vec3 origin{bone.world.m[3][0], bone.world.m[3][1], bone.world.m[3][2]};
  return Multiply(MatrixTranslation(origin * -1.0f), bone.current);
}

void PoseModel(Model& model, ModelRuntime& runtime) {
  const int32_t bones = std::clamp(model.boneCount, 0, kMaxBones);
  const std::vector<Mat4> bind = BindPose(model);
  runtime.bones.resize(size_t(bones));
  const float t = float(model.currentFrame) + model.frameFraction;
  const MotionTransition& fade = runtime.transition;
  const bool fading = fade.active && fade.position < 1.0f;
  const float tPrevious = float(fade.previousFrame) + fade.previousFraction;
  std::vector<Mat4> world(static_cast<size_t>(bones));
  for (int32_t b = 0; b < bones; ++b) {
    BonePose pose = PoseOf(model, b, model.currentMotion, t);
    if (fading) {
      pose = Blend(PoseOf(model, b, fade.previousMotion, tPrevious), pose,
                   std::clamp(fade.position, 0.0f, 1.0f));
    }
    world[size_t(b)] = LocalMatrix(model, b, pose);
    // Parents come before their children; a bone whose parent does not keeps its local matrix.
    const int32_t parent = model.bones[size_t(b)].parent;
    if (parent >= 0 && parent < b)
      world[size_t(b)] = Multiply(world[size_t(b)], world[size_t(parent)]);
  }
  for (int32_t b = 0; b < bones; ++b) {
    BoneState& s = runtime.bones[size_t(b)];
    s.world = bind[size_t(b)];
    s.position = {s.world.m[3][0], s.world.m[3][1], s.world.m[3][2]};
    s.current = world[size_t(b)];
  }

  if (model.deformOn == 1) {
    std::vector<Mat4> skin(static_cast<size_t>(bones));
    for (int32_t b = 0; b < bones; ++b)
      skin[size_t(b)] = SkinMatrix(runtime.bones[size_t(b)]);
    const Mat4 identity = MatrixIdentity();
    auto skinOf = [&](int bone) -> const Mat4& {
      return bone < bones ? skin[size_t(bone)] : identity;
    };
    const int32_t count =
        std::clamp<int32_t>(model.positionCount, 0, int32_t(model.positions.size()));
    GrowTo(model.animatedPositions, size_t(count));
    for (int32_t i = 0; i < count; ++i) {
      const Vec3 p = model.positions[size_t(i)];
      const VertexAttr a = size_t(i) < model.attrs.size() ? model.attrs[size_t(i)] : VertexAttr{};
      const float w = std::isfinite(a.weight) ? a.weight : 0.0f;
      const Vec3 first = Affine(p, skinOf(a.bone));
      const Vec3 second = w == 1.0f ? first : Affine(p, skinOf(a.secondByte));
      model.animatedPositions[size_t(i)] = first * w + second * (1.0f - w);
    }
  }
  runtime.posed = 1;
}

void AdvanceMotion(Model& model, ModelRuntime& runtime, float frames) {
  const int32_t motion = model.currentMotion;
  if (std::isfinite(frames) && motion >= 0 && size_t(motion) < model.motions.size()) {
    const float length = float(MotionLength(model, motion));
    float t = std::fmod(float(model.currentFrame) + model.frameFraction + frames, length);
    if (t < 0.0f) t += length;
    model.currentFrame = int32_t(std::floor(t));
    model.frameFraction = t - std::floor(t);
    MotionTransition& fade = runtime.transition;
    if (fade.active) {
      fade.position += fade.step * std::max(frames, 0.0f);
      if (fade.position >= 1.0f) {
        fade.position = 1.0f;
        fade.active = 0;
      }
    }
    // Each group track shows its last key that has started by the current frame.
    const int32_t groups = std::min(model.groupCount, kMaxGroupTracks);
    for (int32_t g = 0; g < groups; ++g) {
      GroupTrack& track = model.motions[size_t(motion)].tracks[size_t(g)];
      const int32_t keys = std::clamp(track.keyCount, 0, kMaxTrackKeys);
      int32_t best = -1;
      for (int32_t k = 0; k < keys; ++k) {
        const int32_t start = track.keys[size_t(k)].value0;
        if (start <= model.currentFrame && (best < 0 || start >= track.keys[size_t(best)].value0))
          best = k;
      }
      track.currentKey = std::max(best, 0);
    }
  }
  PoseModel(model, runtime);
}

void Library::Model3_FrameAdvance(ModelId id, float frames) {
  Model* model = Model3_Get(id);
  ModelRuntime* runtime = Model3_Runtime(id);
  if (!model || !runtime || !model->inUse || model->loaded.Get() != 1) return;
  AdvanceMotion(*model, *runtime, frames);
}

void Library::Model3_GeometryChanged(ModelId id) {
  if (ModelRuntime* runtime = Model3_Runtime(id)) {
    runtime->drawing.reset();
    runtime->posed = 0;
  }
}

}  // namespace wz
