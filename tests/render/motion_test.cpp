// Motion playback on models made in code: keys interpolated between frames, the motion's length
// and its wrap, the cross-fade that Model3_MotionSet starts, deformed positions by bone and
// weight, group tracks' current keys, and the bind pose of a model without keys.
#include "render/motion.h"

#include <gtest/gtest.h>

#include <numbers>

#include "render/render_fixture.h"

namespace wz::testing {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

BoneKey Key(int32_t frame, Vec3 position, float zTurn = 0) {
  BoneKey k = kRestKey;
  k.frame = frame;
  k.position = position;
  k.rotation = {0, 0, std::sin(zTurn / 2), std::cos(zTurn / 2)};
  return k;
}

// Bone 1 (child of the root) at rest at (0, 1, 0); one motion whose keys move it.
std::unique_ptr<Model> OneBone(std::vector<BoneKey> keys) {
  auto m = CreateModel({});
  m->boneCount = 2;
  m->bones[1].restPosition = {0, 1, 0};
  m->bones[0].keyLists = {{kRestKey}};
  m->bones[1].keyLists = {std::move(keys)};
  return m;
}

Vec3 Translation(const Mat4& m) {
  return {m.m[3][0], m.m[3][1], m.m[3][2]};
}

void ExpectNear(Vec3 got, Vec3 want, const char* what) {
  EXPECT_NEAR(got.x, want.x, 1e-4f) << what;
  EXPECT_NEAR(got.y, want.y, 1e-4f) << what;
  EXPECT_NEAR(got.z, want.z, 1e-4f) << what;
}

TEST(Motion, KeysAreInterpolatedAndTheMotionWrapsAfterItsLastFrame) {
  auto m = OneBone({Key(0, {0, 0, 0}), Key(10, {10, 0, 0}), Key(20, {10, 20, 0})});
  ModelRuntime rt;
  EXPECT_EQ(MotionLength(*m, 0), 21);
  struct Step {
    float frames;
    int32_t frame;
    float fraction;
    Vec3 bone;  // bone 1's world position
  } steps[] = {{0, 0, 0, {0, 1, 0}},
               {5, 5, 0, {5, 1, 0}},
               {7.5f, 12, 0.5f, {10, 6, 0}},
               {8.5f, 0, 0, {0, 1, 0}},
               {22, 1, 0, {1, 1, 0}}};
  for (const Step& s : steps) {
    AdvanceMotion(*m, rt, s.frames);
    EXPECT_EQ(m->currentFrame, s.frame) << s.frames;
    EXPECT_FLOAT_EQ(m->frameFraction, s.fraction) << s.frames;
    ASSERT_EQ(rt.bones.size(), 2u);
    ExpectNear(Translation(rt.bones[1].current), s.bone, "bone");
    ExpectNear(Translation(rt.bones[1].world), {0, 1, 0}, "bind pose");
  }
  EXPECT_EQ(rt.posed, 1);
}

TEST(Motion, DeformedPositionsFollowTheirBonesByWeight) {
  // Bone 1 turns a quarter about z around its joint at (0, 1, 0) by frame 10.
  auto m = OneBone({Key(0, {0, 0, 0}), Key(10, {0, 0, 0}, kPi / 2)});
  GrowPositionPools(*m, 3);
  m->positions = {{0, 2, 0}, {0, 2, 0}, {0, 2, 0}};
  m->positionCount = 3;
  m->attrs[0] = {1, 0, 1.0f, 0};  // all bone 1
  m->attrs[1] = {1, 0, 0.5f, 0};  // half bone 1, half the root
  m->attrs[2] = {0, 1, 0.0f, 0};  // all its second bone, bone 1
  m->deformOn = 1;
  ModelRuntime rt;
  AdvanceMotion(*m, rt, 10);
  // (0, 1) above the joint turns to (-1, 0) beside it.
  ExpectNear(m->animatedPositions[0], {-1, 1, 0}, "bone 1");
  ExpectNear(m->animatedPositions[1], {-0.5f, 1.5f, 0}, "half and half");
  ExpectNear(m->animatedPositions[2], {-1, 1, 0}, "second bone");
  // Without deform the positions are left alone.
  m->deformOn = 0;
  m->animatedPositions.assign(3, {9, 9, 9});
  AdvanceMotion(*m, rt, 1);
  ExpectNear(m->animatedPositions[0], {9, 9, 9}, "not deformed");
}

TEST(Motion, MotionSetCrossFadesFromWhereThePreviousMotionStood) {
  LibraryEnvironment environment;
  Library library;
  const ModelId id = library.Model3_Create();
  Model& m = *library.Model3_Get(id);
  m.boneCount = 2;
  m.bones[1].restPosition = {0, 1, 0};
  m.motions = {NewMotion(), NewMotion()};
  m.bones[0].keyLists = {{kRestKey}, {kRestKey}};
  m.bones[1].keyLists = {{Key(0, {4, 0, 0}), Key(100, {4, 0, 0})},
                         {Key(0, {0, 4, 0}), Key(100, {0, 4, 0})}};
  m.loaded.Set(1);
  ModelRuntime& rt = *library.Model3_Runtime(id);
  library.Model3_FrameAdvance(id, 3);
  ExpectNear(Translation(rt.bones[1].current), {4, 1, 0}, "motion 0");
  // A fade of a sixth of a second: 10 frames at a step of 0.1.
  ASSERT_TRUE(library.Model3_MotionSet(&m, 1, 1.0f / 6.0f));
  EXPECT_NEAR(rt.transition.step, 0.1f, 1e-6f);
  library.Model3_FrameAdvance(id, 4);
  ExpectNear(Translation(rt.bones[1].current), {4 * 0.6f, 1 + 4 * 0.4f, 0}, "40 % through");
  library.Model3_FrameAdvance(id, 6);
  EXPECT_EQ(rt.transition.active, 0);
  ExpectNear(Translation(rt.bones[1].current), {0, 5, 0}, "motion 1");
  EXPECT_EQ(m.currentFrame, 10);
}

TEST(Motion, GroupTracksShowTheLastKeyThatHasStarted) {
  auto m = OneBone({kRestKey, Key(30, {})});
  GroupTrack& track = m->motions[0].tracks[0];
  track.keyCount = 3;
  track.keys[0].value0 = 0;
  track.keys[1].value0 = 10;
  track.keys[2].value0 = 20;
  ModelRuntime rt;
  struct Step {
    float frames;
    int32_t key;
  } steps[] = {{0, 0}, {9, 0}, {1, 1}, {15, 2}, {6, 0}};  // 31 frames long: 31 wraps to 0
  for (const Step& s : steps) {
    AdvanceMotion(*m, rt, s.frames);
    EXPECT_EQ(track.currentKey, s.key) << "frame " << m->currentFrame;
  }
}

TEST(Motion, AModelWithoutKeysStaysInItsBindPose) {
  auto m = CreateModel({});
  m->boneCount = 3;
  m->bones[1].restPosition = {0, 2, 0};
  m->bones[2].restPosition = {1, 0, 0};
  m->bones[2].parent = 1;
  m->motions.clear();
  GrowPositionPools(*m, 1);
  m->positions[0] = {3, 3, 3};
  m->positionCount = 1;
  m->attrs[0] = {2, 0, 1.0f, 0};
  m->deformOn = 1;
  ModelRuntime rt;
  AdvanceMotion(*m, rt, 7);
  ASSERT_EQ(rt.bones.size(), 3u);
  for (const BoneState& b : rt.bones)
    EXPECT_EQ(b.current, b.world);
  ExpectNear(Translation(rt.bones[2].world), {1, 2, 0}, "bind pose");
  ExpectNear(m->animatedPositions[0], {3, 3, 3}, "undeformed");
}

}  // namespace
}  // namespace wz::testing
