#include "model/binding.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/test_models.h"

namespace wz {
namespace {

using testing::MakeMeshModel;

Vec3 WorldPosition(const Mat4& m) {
  return {m.m[3][0], m.m[3][1], m.m[3][2]};
}

// A model with the given bones (rest position, parent) after bone 0, and positions that all
// ask for automatic binding.
std::unique_ptr<Model> Skeleton(const std::vector<std::pair<Vec3, int>>& bones,
                                const std::vector<Vec3>& positions = {}) {
  auto m = MakeMeshModel(positions, {});
  m->boneCount = static_cast<int32_t>(bones.size()) + 1;
  for (size_t k = 0; k < bones.size(); ++k) {
    m->bones[k + 1].restPosition = bones[k].first;
    m->bones[k + 1].parent = bones[k].second;
  }
  return m;
}

TEST(BindPose, ChildrenAddTheirParentsTranslation) {
  auto m = Skeleton({{{0, 10, 0}, 0}, {{0, 5, 0}, 1}, {{1, 0, 0}, 2}, {{0, 0, 3}, 1}});
  m->bones[0].restPosition = {100, 100, 100};  // bone 0 is the identity whatever it holds
  const std::vector<Mat4> world = BindPose(*m);
  ASSERT_EQ(world.size(), 5u);
  EXPECT_EQ(world[0], MatrixIdentity());
  EXPECT_EQ(WorldPosition(world[1]), (Vec3{0, 10, 0}));
  EXPECT_EQ(WorldPosition(world[2]), (Vec3{0, 15, 0}));
  EXPECT_EQ(WorldPosition(world[3]), (Vec3{1, 15, 0}));
  EXPECT_EQ(WorldPosition(world[4]), (Vec3{0, 10, 3}));
  for (const Mat4& w : world) {  // no rotation or scale anywhere
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c)
        EXPECT_EQ(w.m[r][c], r == c ? 1.0f : 0.0f);
    }
  }
}

TEST(BindPose, IgnoresRestRotationAndScale) {
  auto m = Skeleton({{{1, 2, 3}, 0}, {{4, 0, 0}, 1}});
  m->bones[1].restRotation = {0, 0, std::sqrt(0.5f), std::sqrt(0.5f)};
  m->bones[1].restScale = {2, 2, 2};
  const std::vector<Mat4> world = BindPose(*m);
  EXPECT_EQ(world[1], MatrixTranslation({1, 2, 3}));
  EXPECT_EQ(world[2], MatrixTranslation({5, 2, 3}));
}

TEST(BindPose, ParentAfterTheBoneIsNotJoined) {
  // Bone 1 names the later bone 2 as parent: it keeps its own translation, and bone 2, a child
  // of bone 1, joins bone 1's unjoined matrix.
  auto m = Skeleton({{{1, 0, 0}, 2}, {{0, 2, 0}, 1}});
  const std::vector<Mat4> world = BindPose(*m);
  EXPECT_EQ(WorldPosition(world[1]), (Vec3{1, 0, 0}));
  EXPECT_EQ(WorldPosition(world[2]), (Vec3{1, 2, 0}));
}

TEST(BindPose, FillsOnlyTheBonesInUse) {
  auto m = Skeleton({{{1, 0, 0}, 0}});
  std::vector<Mat4> world(4, MatrixScaling({7, 7, 7}));
  BindPose(*m, world);
  EXPECT_EQ(world[1], MatrixTranslation({1, 0, 0}));
  EXPECT_EQ(world[2], MatrixScaling({7, 7, 7}));
}

TEST(AutoBind, CentresAverageABoneWithItsChildren) {
  auto m = Skeleton({{{0, 10, 0}, 0}, {{0, 5, 0}, 1}, {{4, 0, 0}, 0}});
  AutoBind(*m, BindPose(*m));
  EXPECT_EQ(m->boneCentres[1], (Vec3{0, 12.5f, 0}));
  EXPECT_EQ(m->boneCentreCounts[1], 2);
  EXPECT_EQ(m->boneCentres[2], (Vec3{0, 15, 0}));
  EXPECT_EQ(m->boneCentres[3], (Vec3{4, 0, 0}));
  // Children of bone 0 do not move bone 0's centre.
  EXPECT_EQ(m->boneCentres[0], (Vec3{0, 0, 0}));
  EXPECT_EQ(m->boneCentreCounts[0], 1);
}

TEST(AutoBind, NearestBoneBySumOfAbsoluteDifferences) {
  // Bone 1 centre (3, 3, 0), bone 2 centre (5, 0, 0), bone 3 centre (-10, 0, 0).
  auto m = Skeleton({{{3, 3, 0}, 0}, {{5, 0, 0}, 0}, {{-10, 0, 0}, 0}},
                    {
                        {0, 0, 0},     // 6 from bone 1, 5 from bone 2 (straight-line: 4.24, 5)
                        {4, 1.5f, 0},  // exactly half-way: 2.5 from both -> the lower, bone 1
                        {3, 2.9f, 0},  // next to bone 1
                        {-10, 0, 0},   // on bone 3
                        {1e6f, 0, 0},  // nearer to nothing than 99999.9 -> bone 1
                    });
  AutoBind(*m, BindPose(*m));
  const uint8_t expected[] = {2, 1, 1, 3, 1};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(m->attrs[i].bone, expected[i]) << "position " << i;
    EXPECT_EQ(m->attrs[i].secondByte, 0);
    EXPECT_EQ(m->attrs[i].weight, 1.0f);
  }
}

TEST(AutoBind, BoneZeroIsNeverChosen) {
  auto m = Skeleton({{{50, 0, 0}, 0}}, {{0, 0, 0}});  // the position sits on bone 0
  AutoBind(*m, BindPose(*m));
  EXPECT_EQ(m->attrs[0].bone, 1);
}

TEST(AutoBind, OnlyBoneZeroBindsToBoneOne) {
  auto m = Skeleton({}, {{1, 2, 3}, {4, 5, 6}});
  m->boneCount = 1;
  AutoBind(*m, BindPose(*m));
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(m->attrs[i], (VertexAttr{1, 0, 1.0f, 1}));
}

TEST(AutoBind, PositionsNotMarkedKeepTheirAttributes) {
  auto m = Skeleton({{{0, 0, 0}, 0}, {{9, 0, 0}, 0}}, {{9, 0, 0}, {9, 0, 0}, {9, 0, 0}});
  m->attrs[0] = {7, 3, 0.25f, 0};
  m->attrs[1] = {7, 3, 0.25f, 2};  // only the value 1 means "bind automatically"
  AutoBind(*m, BindPose(*m));
  EXPECT_EQ(m->attrs[0], (VertexAttr{7, 3, 0.25f, 0}));
  EXPECT_EQ(m->attrs[1], (VertexAttr{7, 3, 0.25f, 2}));
  EXPECT_EQ(m->attrs[2], (VertexAttr{2, 0, 1.0f, 1}));
}

TEST(AutoBind, OnlyUsedPositionsAreBound) {
  auto m = Skeleton({{{0, 0, 0}, 0}, {{9, 0, 0}, 0}}, {{9, 0, 0}, {9, 0, 0}});
  m->positionCount = 1;
  AutoBind(*m, BindPose(*m));
  EXPECT_EQ(m->attrs[0].bone, 2);
  EXPECT_EQ(m->attrs[1], kFreshVertexAttr);
}

}  // namespace
}  // namespace wz
