// Polygon splitting: n - 2 triangles for every polygon; convex ones keep the fan around corner 0;
// concave ones cover exactly their area without folding; shapes without a sound outline keep the
// fan.
#include "model/polygon_split.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace wz {
namespace {

// The polygon's area, from its Newell normal (for outlines that do not cross themselves).
double Area(const std::vector<Vec3>& p) {
  Vec3 n;
  for (size_t i = 0; i < p.size(); ++i) {
    const Vec3 c = Cross(p[i], p[(i + 1) % p.size()]);
    n = {n.x + c.x, n.y + c.y, n.z + c.z};
  }
  return Length(n) / 2;
}

std::vector<Vec3> Flat(std::initializer_list<std::pair<float, float>> xy) {
  std::vector<Vec3> p;
  for (auto [x, y] : xy)
    p.push_back({x, y, 0});
  return p;
}

// A ring of n corners; every other one at radius `inner` (a gear) unless it is 1.
std::vector<Vec3> Ring(int n, float inner) {
  std::vector<Vec3> p;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * std::numbers::pi * i / n;
    const float r = i % 2 ? inner : 1.0f;
    p.push_back({float(r * std::cos(a)), float(r * std::sin(a)), 0});
  }
  return p;
}

std::vector<CornerTriangle> Fan(size_t n, uint32_t start) {
  std::vector<CornerTriangle> t;
  for (uint32_t k = 1; k + 1 < n; ++k)
    t.push_back({start, uint32_t((start + k) % n), uint32_t((start + k + 1) % n)});
  return t;
}

enum class Expect { kFan, kFanFrom1, kCovers };

struct Case {
  std::string name;
  std::vector<Vec3> corners;
  Expect expect;
};

TEST(PolygonSplit, EveryPolygonGivesNMinus2TrianglesAndConcaveOnesCoverTheirArea) {
  // A U lying in a tilted plane, to split in its best-fit plane.
  std::vector<Vec3> tiltedU;
  for (Vec3 p : Flat({{0, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}))
    tiltedU.push_back({p.x, p.y * 0.6f, p.y * 0.8f});
  const std::vector<Case> cases = {
      {"convex square", Flat({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), Expect::kFan},
      {"convex hexagon", Ring(6, 1), Expect::kFan},
      {"circle of 300", Ring(300, 1), Expect::kFan},
      {"square with corners on its edges",
       Flat({{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}}), Expect::kFan},
      {"clockwise square", Flat({{0, 0}, {0, 1}, {1, 1}, {1, 0}}), Expect::kFan},
      {"quad folding at corner 2", Flat({{0, 0}, {2, 0}, {1, 0.5f}, {0, 2}}), Expect::kFan},
      {"quad folding at corner 1", Flat({{2, 0}, {1, 0.5f}, {0, 2}, {0, 0}}), Expect::kFanFrom1},
      {"U", Flat({{0, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}),
       Expect::kCovers},
      {"U in a tilted plane", tiltedU, Expect::kCovers},
      {"U turning clockwise",
       Flat({{0, 3}, {1, 3}, {1, 1}, {2, 1}, {2, 3}, {3, 3}, {3, 0}, {0, 0}}), Expect::kCovers},
      {"L", Flat({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}), Expect::kCovers},
      {"L with corners on its edges",
       Flat({{0, 0}, {1, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}, {0, 1}}), Expect::kCovers},
      {"gear of 300", Ring(300, 0.8f), Expect::kCovers},
      {"star in one stroke", Flat({{0, 3}, {2, -3}, {-3, 1}, {3, 1}, {-2, -3}}), Expect::kFan},
      {"crossed quad", Flat({{0, 0}, {1, 1}, {1, 0}, {0, 1}}), Expect::kFan},
      {"corners on a line", Flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}), Expect::kFan},
  };
  PolygonSplitter splitter;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::span<const CornerTriangle> got = splitter.Split(c.corners);
    const std::vector<CornerTriangle> triangles(got.begin(), got.end());
    ASSERT_EQ(triangles.size(), c.corners.size() - 2);
    if (c.expect != Expect::kCovers) {
      EXPECT_EQ(triangles, Fan(c.corners.size(), c.expect == Expect::kFan ? 0 : 1));
    }
    if (c.name.find("cross") != std::string::npos || c.name.find("star") != std::string::npos ||
        c.name.find("line") != std::string::npos) {
      continue;
    }
    // Triangles that neither fold over nor overlap: their areas add up to the polygon's, and
    // each faces the way the polygon does.
    Vec3 normal;
    for (size_t i = 0; i < c.corners.size(); ++i) {
      const Vec3 x = Cross(c.corners[i], c.corners[(i + 1) % c.corners.size()]);
      normal = {normal.x + x.x, normal.y + x.y, normal.z + x.z};
    }
    double sum = 0;
    for (const CornerTriangle& t : triangles) {
      const Vec3 a = c.corners[t[0]], b = c.corners[t[1]], d = c.corners[t[2]];
      const Vec3 x = Cross(b - a, d - a);
      EXPECT_GE(double(x.x) * normal.x + double(x.y) * normal.y + double(x.z) * normal.z, -1e-9);
      sum += Length(x) / 2;
    }
    EXPECT_NEAR(sum, Area(c.corners), 1e-4 * Area(c.corners));
  }
  PolygonSplitter quads;
  const Vec3 folding[4] = {{2, 0, 0}, {1, 0.5f, 0}, {0, 2, 0}, {0, 0, 0}};
  EXPECT_EQ(quads.QuadFanStart(folding), 1);
  const Vec3 square[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  EXPECT_EQ(quads.QuadFanStart(square), 0);
}

// Ear clipping is bounded: a concave polygon larger than it may clip keeps the fan, at once.
TEST(PolygonSplit, PolygonsBeyondTheCornerLimitKeepTheFan) {
  const std::vector<Vec3> gear = Ring(int(kMaxEarClipCorners) + 2, 0.9f);
  PolygonSplitter splitter;
  const std::span<const CornerTriangle> got = splitter.Split(gear);
  ASSERT_EQ(got.size(), gear.size() - 2);
  EXPECT_EQ(got.back(), (CornerTriangle{0, uint32_t(gear.size() - 2), uint32_t(gear.size() - 1)}));
}

}  // namespace
}  // namespace wz
