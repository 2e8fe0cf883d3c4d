// The D3DX math helpers against the documented matrix forms: where the look-at and perspective
// matrices put chosen points, the axis and order of the rotations, inverses, and quaternions.
#include "platform/d3dx/math.h"

#include <gtest/gtest.h>

#include <numbers>
#include <random>

namespace wz::d3dx {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void ExpectNear(const D3DXVECTOR3& v, float x, float y, float z, float tolerance = 1e-5f) {
  EXPECT_NEAR(v.x, x, tolerance);
  EXPECT_NEAR(v.y, y, tolerance);
  EXPECT_NEAR(v.z, z, tolerance);
}

D3DXVECTOR3 Coord(D3DXVECTOR3 p, const D3DXMATRIX& m) {
  D3DXVec3TransformCoord(&p, &p, &m);
  return p;
}

TEST(D3dxMath, LookAtPutsTheTargetOnThePositiveZAxis) {
  struct Case {
    D3DXVECTOR3 eye, at, up;
    D3DXVECTOR3 point, expected;  // a world point and where the view puts it
  } cases[] = {
      // The library's default camera: origin 15 units ahead, x right, y up.
      {{0, 0, -15}, {0, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 15}},
      {{0, 0, -15}, {0, 0, 0}, {0, 1, 0}, {2, 3, 0}, {2, 3, 15}},
      // Looking down -x from +x: world +z is on the right.
      {{10, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 10}},
      // Looking straight down with z as up: world +x stays right, +z becomes up.
      {{0, 5, 0}, {0, 0, 0}, {0, 0, 1}, {1, 0, 2}, {1, 2, 5}},
  };
  for (const Case& c : cases) {
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &c.eye, &c.at, &c.up);
    const D3DXVECTOR3 got = Coord(c.point, view);
    ExpectNear(got, c.expected.x, c.expected.y, c.expected.z);
  }
}

TEST(D3dxMath, PerspectiveMapsTheFrustumToClipSpace) {
  // A 90 degree vertical view, twice as wide as high, near 1, far 101.
  D3DXMATRIX fov;
  D3DXMatrixPerspectiveFovLH(&fov, kPi / 2, 2.0f, 1.0f, 101.0f);
  ExpectNear(Coord({0, 1, 1}, fov), 0, 1, 0);        // top edge on the near plane
  ExpectNear(Coord({2, 0, 1}, fov), 1, 0, 0);        // right edge: the aspect widens x
  ExpectNear(Coord({0, -101, 101}, fov), 0, -1, 1);  // bottom edge on the far plane
  EXPECT_NEAR(Coord({0, 0, 11}, fov).z, (101.0f / 100.0f) * (1.0f - 1.0f / 11.0f), 1e-6f);
  // The width and height of the near plane give the same matrix.
  D3DXMATRIX byWidth;
  D3DXMatrixPerspectiveLH(&byWidth, 4.0f, 2.0f, 1.0f, 101.0f);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_NEAR(byWidth.m[i][j], fov.m[i][j], 1e-5f) << i << "," << j;
}

TEST(D3dxMath, RotationsTurnAboutTheirAxisInTheDocumentedOrder) {
  D3DXMATRIX m;
  ExpectNear(Coord({0, 1, 0}, *D3DXMatrixRotationX(&m, kPi / 2)), 0, 0, 1);
  ExpectNear(Coord({0, 0, 1}, *D3DXMatrixRotationY(&m, kPi / 2)), 1, 0, 0);
  ExpectNear(Coord({1, 0, 0}, *D3DXMatrixRotationY(&m, kPi / 2)), 0, 0, -1);
  ExpectNear(Coord({1, 0, 0}, *D3DXMatrixRotationZ(&m, kPi / 2)), 0, 1, 0);
  // Roll, then pitch, then yaw: x goes to y, to z, to x again. Any other order ends elsewhere.
  ExpectNear(Coord({1, 0, 0}, *D3DXMatrixRotationYawPitchRoll(&m, kPi / 2, kPi / 2, kPi / 2)), 1, 0,
             0);
  ExpectNear(Coord({0, 0, 1}, *D3DXMatrixRotationYawPitchRoll(&m, kPi / 2, 0, 0)), 1, 0, 0);
  // A quaternion about y by a is the y rotation by a.
  const float a = 0.7f;
  const D3DXQUATERNION q{0, std::sin(a / 2), 0, std::cos(a / 2)};
  D3DXMATRIX fromQ, fromAngle;
  D3DXMatrixRotationQuaternion(&fromQ, &q);
  D3DXMatrixRotationY(&fromAngle, a);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_NEAR(fromQ.m[i][j], fromAngle.m[i][j], 1e-6f);
}

TEST(D3dxMath, MultiplyAppliesTheLeftMatrixFirst) {
  D3DXMATRIX t, r, tr, rt;
  D3DXMatrixTranslation(&t, 1, 0, 0);
  D3DXMatrixRotationZ(&r, kPi / 2);
  D3DXMatrixMultiply(&tr, &t, &r);
  D3DXMatrixMultiply(&rt, &r, &t);
  ExpectNear(Coord({0, 0, 0}, tr), 0, 1, 0);  // moved to (1, 0, 0), then turned
  ExpectNear(Coord({0, 0, 0}, rt), 1, 0, 0);  // turned (no change), then moved
  // The output may be an input.
  D3DXMatrixMultiply(&t, &t, &r);
  EXPECT_EQ(t, tr);
}

TEST(D3dxMath, InverseUndoesTheMatrixAndRefusesSingularOnes) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-3.0f, 3.0f);
  for (int n = 0; n < 20; ++n) {
    D3DXMATRIX m;
    for (auto& row : m.m)
      for (float& x : row)
        x = value(random);
    float determinant = 0;
    D3DXMATRIX inverse;
    ASSERT_NE(D3DXMatrixInverse(&inverse, &determinant, &m), nullptr);
    EXPECT_NEAR(determinant, D3DXMatrixDeterminant(&m), 1e-3f);
    D3DXMATRIX product;
    D3DXMatrixMultiply(&product, &m, &inverse);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        EXPECT_NEAR(product.m[i][j], i == j ? 1.0f : 0.0f, 2e-3f) << n;
  }
  D3DXMATRIX singular;
  D3DXMatrixScaling(&singular, 1, 0, 1);
  D3DXMATRIX untouched;
  D3DXMatrixTranslation(&untouched, 5, 6, 7);
  const D3DXMATRIX before = untouched;
  EXPECT_EQ(D3DXMatrixInverse(&untouched, nullptr, &singular), nullptr);
  EXPECT_EQ(untouched, before);
}

TEST(D3dxMath, TransformsOfPointsAndDirections) {
  D3DXMATRIX m;
  D3DXMatrixScaling(&m, 2, 2, 2);
  m.m[3][0] = 5;
  m.m[3][3] = 2;  // the coordinate is divided by w
  ExpectNear(Coord({1, 1, 1}, m), 3.5f, 1, 1);
  D3DXVECTOR3 n{1, 1, 1};
  D3DXVec3TransformNormal(&n, &n, &m);
  ExpectNear(n, 2, 2, 2);
  D3DXVECTOR4 w;
  D3DXVECTOR3 p{1, 1, 1};
  D3DXVec3Transform(&w, &p, &m);
  EXPECT_FLOAT_EQ(w.x, 7);
  EXPECT_FLOAT_EQ(w.w, 2);
  D3DXVECTOR3 zero{};
  D3DXVec3Normalize(&zero, &zero);
  ExpectNear(zero, 0, 0, 0);
}

TEST(D3dxMath, SlerpTakesTheShorterArcAtConstantSpeed) {
  const D3DXQUATERNION identity;
  const D3DXQUATERNION quarter{0, std::sin(kPi / 4), 0, std::cos(kPi / 4)};  // y by 90 degrees
  D3DXQUATERNION half;
  D3DXQuaternionSlerp(&half, &identity, &quarter, 0.5f);
  EXPECT_NEAR(half.y, std::sin(kPi / 8), 1e-6f);
  EXPECT_NEAR(half.w, std::cos(kPi / 8), 1e-6f);
  // The same rotation written negated still turns the short way.
  const D3DXQUATERNION negated{-quarter.x, -quarter.y, -quarter.z, -quarter.w};
  D3DXQUATERNION viaNegated;
  D3DXQuaternionSlerp(&viaNegated, &identity, &negated, 0.5f);
  EXPECT_NEAR(viaNegated.y, half.y, 1e-6f);
  EXPECT_NEAR(viaNegated.w, half.w, 1e-6f);
  D3DXQUATERNION end;
  D3DXQuaternionSlerp(&end, &identity, &quarter, 1.0f);
  EXPECT_NEAR(end.y, quarter.y, 1e-6f);
}

}  // namespace
}  // namespace wz::d3dx
