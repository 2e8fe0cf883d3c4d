#include "model/normals.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <tuple>
#include <utility>

#include "model/model_invariants.h"
#include "model/normals_linear_rebuild.h"
#include "model/test_models.h"

namespace wz {
namespace {

using testing::LinearRebuild;
using testing::MakeMeshModel;

void ExpectNear(Vec3 a, Vec3 b, float tolerance = 1e-6f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST(FaceNormal, FollowsCornerOrder) {
  struct Case {
    Vec3 p0, p1, p2;
    Vec3 expected;
  };
  const Case cases[] = {
      {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
      {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
      {{5, 5, 5}, {5, 5, 9}, {9, 5, 5}, {0, 1, 0}},  // size and offset do not matter
      {{0, 0, 0}, {2, 0, 0}, {2, 2, 2}, {0, -std::sqrt(0.5f), std::sqrt(0.5f)}},
  };
  for (const Case& c : cases) {
    Vec3 n = FaceNormal(c.p0, c.p1, c.p2);
    ExpectNear(n, c.expected);
    EXPECT_NEAR(Length(n), 1.0f, 1e-6f);
  }
}

TEST(FaceNormal, DegenerateFacesGiveZeroNotNaN) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    Vec3 p0, p1, p2;
  };
  const Case cases[] = {
      {"coincident", {1, 2, 3}, {1, 2, 3}, {1, 2, 3}},
      {"two corners coincide", {0, 0, 0}, {0, 0, 0}, {1, 0, 0}},
      {"collinear", {0, 0, 0}, {1, 1, 1}, {3, 3, 3}},
      {"tiny", {0, 0, 0}, {1e-30f, 0, 0}, {0, 1e-30f, 0}},
      {"overflowing", {-3e38f, 0, 0}, {3e38f, 0, 0}, {0, 3e38f, 0}},
      {"infinite", {0, 0, 0}, {inf, 0, 0}, {0, 1, 0}},
      {"not a number", {0, 0, 0}, {nan, 0, 0}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FaceNormal(c.p0, c.p1, c.p2), (Vec3{0, 0, 0})) << c.what;
  }
}

TEST(DeriveNormals, QuadUsesItsFirstThreeCorners) {
  // The fourth corner lies far off the plane of the first three.
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 50}}, {{0, 1, 2, 3}});
  DeriveNormals(*m);
  EXPECT_EQ(m->polygons[0].faceNormal, (Vec3{0, 0, 1}));
  // All four corners get that normal, the off-plane one included.
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(m->smoothNormals[i], (Vec3{0, 0, 1})) << i;
}

TEST(DeriveNormals, SmoothNormalIsTheNormalisedSum) {
  // Position 0 is shared by a face facing +z and a face facing +x; 4 is used by no polygon.
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}, {7, 7, 7}},
                         {{0, 1, 2}, {0, 3, 2}});
  DeriveNormals(*m);
  EXPECT_EQ(m->polygons[1].faceNormal, (Vec3{1, 0, 0}));
  ExpectNear(m->smoothNormals[0], {0.70710678f, 0, 0.70710678f});
  ExpectNear(m->smoothNormals[2], {0.70710678f, 0, 0.70710678f});
  EXPECT_EQ(m->smoothNormals[1], (Vec3{0, 0, 1}));
  EXPECT_EQ(m->smoothNormals[3], (Vec3{1, 0, 0}));
  EXPECT_EQ(m->smoothNormals[4], (Vec3{0, 0, 0}));
}

TEST(DeriveNormals, CornerUsesWeighTheSum) {
  // Position 0 is used by two +z faces and one +x face: the sum (1, 0, 2) normalised, which a
  // mean over distinct normals would not give.
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, -1}, {1, 1, 0}},
                         {{0, 1, 2}, {0, 3, 2}, {0, 1, 4}});
  DeriveNormals(*m);
  const float s = 1.0f / std::sqrt(5.0f);
  ExpectNear(m->smoothNormals[0], {s, 0, 2 * s});
}

TEST(DeriveNormals, OppositeFacesCancelToZero) {
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 2, 1}});
  DeriveNormals(*m);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(m->smoothNormals[i], (Vec3{0, 0, 0})) << i;
}

TEST(DeriveNormals, DegenerateFaceAddsNothingToItsNeighbours) {
  // Face 1 repeats a corner; its positions must keep the finite normal of face 0.
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 0, 1}});
  DeriveNormals(*m);
  EXPECT_EQ(m->polygons[1].faceNormal, (Vec3{0, 0, 0}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(m->smoothNormals[i], (Vec3{0, 0, 1})) << i;
}

TEST(DeriveNormals, PolygonsOfOneOrTwoCornersAreNoFaces) {
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}, {{0, 1, 2}, {3}, {0, 3}});
  m->polygons[1].faceNormal = {9, 9, 9};
  m->polygons[2].corners[1].normal = 5;
  m->shadingMode = 8;
  DeriveNormals(*m);
  EXPECT_EQ(m->polygons[1].faceNormal, (Vec3{9, 9, 9}));
  EXPECT_EQ(m->smoothNormals[3], (Vec3{0, 0, 0}));
  EXPECT_EQ(m->smoothNormals[0], (Vec3{0, 0, 1}));
  // The faces' entries come first; the small polygons' corners then take their positions'
  // smooth normals, so every normal index names an entry of the rebuilt pool.
  ASSERT_EQ(m->normalCount, 2);
  EXPECT_EQ(m->normals[0], (Vec3{0, 0, 1}));
  EXPECT_EQ(m->normals[1], (Vec3{0, 0, 0}));
  EXPECT_EQ(m->polygons[1].corners[0].normal, 1);
  EXPECT_EQ(m->polygons[2].corners[0].normal, 0);
  EXPECT_EQ(m->polygons[2].corners[1].normal, 1);
  EXPECT_FALSE(CheckModelInvariants(*m).has_value());
}

TEST(DeriveNormals, GrowsTheSmoothNormalPool) {
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  m->smoothNormals.clear();
  DeriveNormals(*m);
  ASSERT_GE(m->smoothNormals.size(), 3u);
  EXPECT_EQ(m->smoothNormals[2], (Vec3{0, 0, 1}));
}

TEST(DeriveNormals, OtherShadingModesKeepTheNormalPool) {
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  m->normals = {{1, 0, 0}, {0, 1, 0}};
  m->normalCount = 2;
  m->polygons[0].corners[2].normal = 1;
  for (int mode : {2, 3, 6}) {
    m->shadingMode = mode;
    DeriveNormals(*m);
    EXPECT_EQ(m->normalCount, 2);
    EXPECT_EQ(m->normals[0], (Vec3{1, 0, 0}));
    EXPECT_EQ(m->polygons[0].corners[2].normal, 1);
  }
}

TEST(NormalPoolRebuild, EqualSmoothNormalsShareAnEntry) {
  // Two flat quads side by side facing +z (sharing an edge), then one facing +x: two distinct
  // smooth normals.
  auto m = MakeMeshModel({{0, 0, 0},
                          {1, 0, 0},
                          {1, 1, 0},
                          {0, 1, 0},
                          {2, 0, 0},
                          {2, 1, 0},
                          {3, 0, 0},
                          {3, 0, -1},
                          {3, 1, -1},
                          {3, 1, 0}},
                         {{0, 1, 2, 3}, {1, 4, 5, 2}, {6, 7, 8, 9}});
  m->shadingMode = 8;
  m->normals.clear();  // no pool at all: the rebuild must grow one
  DeriveNormals(*m);
  ASSERT_EQ(m->normalCount, 2);
  ASSERT_GE(m->normals.size(), 2u);
  EXPECT_EQ(m->normals[0], (Vec3{0, 0, 1}));
  EXPECT_EQ(m->normals[1], (Vec3{1, 0, 0}));
  for (int p = 0; p < 2; ++p) {
    for (int c = 0; c < 4; ++c)
      EXPECT_EQ(m->polygons[p].corners[c].normal, 0);
  }
  for (int c = 0; c < 4; ++c)
    EXPECT_EQ(m->polygons[2].corners[c].normal, 1);
  EXPECT_FALSE(CheckModelInvariants(*m).has_value());
}

// True when the first n entries of a and b are equal bit for bit (so -0 differs from +0).
bool SameBits(std::span<const Vec3> a, std::span<const Vec3> b, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    for (auto [x, y] : {std::pair{a[i].x, b[i].x}, {a[i].y, b[i].y}, {a[i].z, b[i].z}}) {
      if (std::bit_cast<uint32_t>(x) != std::bit_cast<uint32_t>(y)) return false;
    }
  }
  return true;
}

// A random model whose positions lie on a coarse integer grid, so that many faces are parallel
// and many smooth normals coincide; with degenerate faces, short polygons and unused positions.
std::unique_ptr<Model> RandomModel(std::mt19937& rng, int positions, int polygons) {
  std::uniform_int_distribution<int> coord(-2, 2);
  std::uniform_int_distribution<int> index(0, positions - 1);
  std::uniform_int_distribution<int> corners(1, 4);
  std::vector<Vec3> pos(positions);
  for (Vec3& p : pos) {
    p = {static_cast<float>(coord(rng)), static_cast<float>(coord(rng)),
         static_cast<float>(coord(rng))};
  }
  std::vector<std::vector<int>> faces(polygons);
  for (auto& f : faces) {
    int n = corners(rng);
    n = n == 1 && rng() % 3 ? 3 : n;  // mostly faces
    for (int c = 0; c < n; ++c)
      f.push_back(index(rng));
  }
  return MakeMeshModel(pos, faces);
}

TEST(NormalPoolRebuild, MatchesTheLinearSearchOnRandomModels) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 60; ++round) {
    const int positions = 1 + static_cast<int>(rng() % 300);
    const int polygons = static_cast<int>(rng() % 400);
    auto a = RandomModel(rng, positions, polygons);
    // Some models start with a pool larger than needed, some with none.
    if (round % 2) {
      a->normals.assign(rng() % 50, Vec3{7, 7, 7});
      a->normalCount = static_cast<int32_t>(a->normals.size());
    }
    Model expected = *a;
    expected.shadingMode = 3;
    DeriveNormals(expected);
    LinearRebuild(expected);

    a->shadingMode = 8;
    DeriveNormals(*a);

    SCOPED_TRACE(round);
    ASSERT_EQ(a->normalCount, expected.normalCount);
    ASSERT_GE(a->normals.size(), static_cast<size_t>(a->normalCount));
    EXPECT_TRUE(SameBits(a->normals, expected.normals, a->normalCount));
    for (int32_t i = 0; i < a->polygonCount; ++i) {
      ASSERT_EQ(a->polygons[i].corners, expected.polygons[i].corners) << "polygon " << i;
    }
    EXPECT_FALSE(CheckModelInvariants(*a).has_value());
  }
}

// Smooth normals drawn from a few values, with zeros of both signs and NaN, fed to the rebuild
// directly: -0 and +0 must share an entry, NaN must never share one.
TEST(NormalPoolRebuild, MatchesTheLinearSearchOnSignedZerosAndNaN) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, nan};
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> pick(0, 5);
  for (int round = 0; round < 40; ++round) {
    auto a = RandomModel(rng, 1 + static_cast<int>(rng() % 60), static_cast<int>(rng() % 200));
    for (int32_t i = 0; i < a->positionCount; ++i) {
      // NaN only now and then, so that most rounds also test sharing.
      float x = values[pick(rng)], y = values[pick(rng) % 5], z = values[pick(rng) % 5];
      a->smoothNormals[i] = {round % 4 ? x : 0.0f, y, z};
    }
    Model expected = *a;
    LinearRebuild(expected);
    RebuildNormalPool(*a);
    SCOPED_TRACE(round);
    ASSERT_EQ(a->normalCount, expected.normalCount);
    EXPECT_TRUE(SameBits(a->normals, expected.normals, a->normalCount));
    for (int32_t i = 0; i < a->polygonCount; ++i) {
      ASSERT_EQ(a->polygons[i].corners, expected.polygons[i].corners) << "polygon " << i;
    }
  }
}

TEST(NormalPoolRebuild, EveryCornerGetsItsPositionsSmoothNormal) {
  std::mt19937 rng(777);
  auto m = RandomModel(rng, 200, 500);
  m->shadingMode = 8;
  DeriveNormals(*m);
  for (int32_t i = 0; i < m->polygonCount; ++i) {
    const Polygon& p = m->polygons[i];
    if (p.cornerCount < 3) continue;
    for (int c = 0; c < p.cornerCount; ++c) {
      EXPECT_EQ(m->normals[p.corners[c].normal], m->smoothNormals[p.corners[c].position]);
    }
  }
  // Each value is stored once.
  for (int32_t i = 0; i < m->normalCount; ++i) {
    for (int32_t j = i + 1; j < m->normalCount; ++j)
      ASSERT_NE(m->normals[i], m->normals[j]);
  }
}

// Two half fans around one apex meeting at a right angle: edges within the angle are smoothed,
// the crease beyond it stays sharp, alike for a few faces at the apex and for more than
// kAngleRuleExactFaces (compared by direction bins). Faces of another group never join in.
TEST(DeriveNormals, AngleRuleAlikeForFewAndCrowdedFans) {
  for (int half : {10, kAngleRuleExactFaces}) {
    std::vector<Vec3> v = {{0, 0, 0}};
    std::vector<std::vector<int>> faces;
    for (int plane = 0; plane < 2; ++plane) {
      const int first = int(v.size());
      for (int k = 0; k <= half; ++k) {
        const float t = 3.14159265f * float(k) / float(half);
        v.push_back(plane == 0 ? Vec3{std::sin(t), 0, std::cos(t)}
                               : Vec3{0, std::sin(t), std::cos(t)});
        if (k > 0) faces.push_back({0, first + k - 1, first + k});
      }
    }
    for (const auto& [degrees, group, shading] :
         {std::tuple{60.0, 0, 'f'}, {95.0, 0, 's'}, {95.0, 1, 'f'}}) {
      auto m = testing::MakeMeshModel(v, faces);
      m->groups.resize(2);
      m->groupCount = 2;
      for (int32_t f = 0; f < m->polygonCount; ++f) {
        m->polygons[size_t(f)].smoothAngle = SmoothAngleCode(degrees);
        if (f >= half) m->polygons[size_t(f)].group = group;
      }
      DeriveNormals(*m);
      EXPECT_EQ(testing::CornerShading(*m), shading) << half << " " << degrees << " " << group;
    }
  }
}

}  // namespace
}  // namespace wz
