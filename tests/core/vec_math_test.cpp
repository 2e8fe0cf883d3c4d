#include "core/vec_math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wz {
namespace {

void ExpectNear(Vec3 a, Vec3 b) {
  EXPECT_NEAR(a.x, b.x, 1e-6f);
  EXPECT_NEAR(a.y, b.y, 1e-6f);
  EXPECT_NEAR(a.z, b.z, 1e-6f);
}

TEST(VecMath, CrossProductIsRightHandedInComponents) {
  EXPECT_EQ(Cross({1, 0, 0}, {0, 1, 0}), (Vec3{0, 0, 1}));
  EXPECT_EQ(Cross({0, 1, 0}, {1, 0, 0}), (Vec3{0, 0, -1}));
  EXPECT_EQ(Cross({0, 1, 0}, {0, 0, 1}), (Vec3{1, 0, 0}));
  EXPECT_EQ(Dot({1, 2, 3}, {4, 5, 6}), 32.0f);
  EXPECT_EQ(Length({3, 4, 12}), 13.0f);
}

TEST(VecMath, RowVectorsTranslateThroughTheFourthRow) {
  const Mat4 t = MatrixTranslation({1, 2, 3});
  EXPECT_EQ(t.m[3][0], 1.0f);
  EXPECT_EQ(t.m[3][2], 3.0f);
  EXPECT_EQ(TransformCoord({1, 1, 1}, t), (Vec3{2, 3, 4}));
  EXPECT_EQ(TransformNormal({1, 1, 1}, t), (Vec3{1, 1, 1}));
}

TEST(VecMath, QuaternionRotationTurnsXTowardsY) {
  // A quarter turn about z maps the row vector (1, 0, 0) to (0, 1, 0).
  const float h = std::sqrt(0.5f);
  const Mat4 r = MatrixRotationQuaternion({0, 0, h, h});
  ExpectNear(TransformCoord({1, 0, 0}, r), {0, 1, 0});
  ExpectNear(TransformCoord({0, 1, 0}, r), {-1, 0, 0});
  // A quarter turn about x maps y to z.
  ExpectNear(TransformCoord({0, 1, 0}, MatrixRotationQuaternion({h, 0, 0, h})), {0, 0, 1});
  EXPECT_EQ(MatrixRotationQuaternion({0, 0, 0, 1}), MatrixIdentity());
}

TEST(VecMath, MultiplyAppliesTheLeftMatrixFirst) {
  const float h = std::sqrt(0.5f);
  const Mat4 rotate = MatrixRotationQuaternion({0, 0, h, h});
  const Mat4 move = MatrixTranslation({10, 0, 0});
  // Rotate then move: (1,0,0) -> (0,1,0) -> (10,1,0). Move then rotate: (11,0,0) -> (0,11,0).
  ExpectNear(TransformCoord({1, 0, 0}, rotate * move), {10, 1, 0});
  ExpectNear(TransformCoord({1, 0, 0}, move * rotate), {0, 11, 0});
  ExpectNear(TransformCoord({1, 1, 1}, MatrixScaling({2, 3, 4}) * move), {12, 3, 4});
}

TEST(VecMath, TransformCoordDividesByW) {
  Mat4 m = MatrixIdentity();
  m.m[3][3] = 2.0f;
  EXPECT_EQ(TransformCoord({2, 4, 6}, m), (Vec3{1, 2, 3}));
}

}  // namespace
}  // namespace wz
