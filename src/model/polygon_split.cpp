#include "model/polygon_split.h"

#include <cmath>

namespace wz {
namespace {

// Below this sine of the turn between two edges a corner counts as straight, neither convex nor
// reflex: corners that are meant to lie on a line rarely do to the last bit of a float.
constexpr double kStraightSine = 1e-6;

enum Turn : uint8_t { kConvex, kStraight, kReflex };

struct Point {
  double x, y;
};

double Cross(Point o, Point a, Point b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// How the outline turns at b, coming from a and going on to c, in a polygon that runs
// counter-clockwise.
Turn TurnAt(Point a, Point b, Point c) {
  const double cross = Cross(a, b, c);
  // |cross| <= sine × |ab| × |bc|, compared squared: no square roots for every corner.
  const double e1 = (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y);
  const double e2 = (c.x - b.x) * (c.x - b.x) + (c.y - b.y) * (c.y - b.y);
  if (cross * cross <= kStraightSine * kStraightSine * e1 * e2) return kStraight;
  return cross > 0 ? kConvex : kReflex;
}

// True when p lies inside triangle a, b, c (counter-clockwise) or on its border.
bool Inside(Point p, Point a, Point b, Point c) {
  return Cross(a, b, p) >= 0 && Cross(b, c, p) >= 0 && Cross(c, a, p) >= 0;
}

bool Same(Point a, Point b) {
  return a.x == b.x && a.y == b.y;
}

}  // namespace

int PolygonSplitter::QuadFanStart(std::span<const Vec3, 4> corners) {
  // Split's answer for four corners, worked out in place (readers ask it for every quad): the
  // same plane, projection and turns, and the fan from corner 1 only when exactly one corner,
  // the second or the fourth, turns inward.
  double nx = 0, ny = 0, nz = 0;
  for (size_t i = 0; i < 4; ++i) {
    const Vec3& a = corners[i];
    const Vec3& b = corners[(i + 1) % 4];
    nx += (double(a.y) - b.y) * (double(a.z) + b.z);
    ny += (double(a.z) - b.z) * (double(a.x) + b.x);
    nz += (double(a.x) - b.x) * (double(a.y) + b.y);
  }
  const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
  if (!(ax + ay + az > 0) || !std::isfinite(ax + ay + az)) return 0;
  const int drop = az >= ax && az >= ay ? 2 : ax >= ay ? 0 : 1;
  const double sign = (drop == 0 ? nx : drop == 1 ? ny : nz) > 0 ? 1.0 : -1.0;
  Point q[4];
  for (size_t i = 0; i < 4; ++i) {
    const Vec3& p = corners[i];
    q[i] = {drop == 0   ? p.y
            : drop == 1 ? p.z
                        : p.x,
            (drop == 0   ? p.z
             : drop == 1 ? p.x
                         : p.y) *
                sign};
  }
  int reflexCount = 0, reflexAt = -1;
  for (int i = 0; i < 4; ++i) {
    if (TurnAt(q[(i + 3) % 4], q[i], q[(i + 1) % 4]) == kReflex) {
      ++reflexCount;
      reflexAt = i;
    }
  }
  return reflexCount == 1 && (reflexAt == 1 || reflexAt == 3) ? 1 : 0;
}

std::span<const CornerTriangle> PolygonSplitter::Split(std::span<const Vec3> corners) {
  const size_t n = corners.size();
  triangles_.clear();
  if (n < 3) return {};
  auto fan = [&](uint32_t start) -> std::span<const CornerTriangle> {
    triangles_.clear();
    for (uint32_t k = 1; k + 1 < n; ++k) {
      triangles_.push_back({start, uint32_t((start + k) % n), uint32_t((start + k + 1) % n)});
    }
    return triangles_;
  };
  if (n == 3 || n > kMaxEarClipCorners) return fan(0);

  // The best-fit plane: the Newell normal, and the axis it leans on most is dropped.
  double nx = 0, ny = 0, nz = 0;
  for (size_t i = 0; i < n; ++i) {
    const Vec3& a = corners[i];
    const Vec3& b = corners[(i + 1) % n];
    nx += (double(a.y) - b.y) * (double(a.z) + b.z);
    ny += (double(a.z) - b.z) * (double(a.x) + b.x);
    nz += (double(a.x) - b.x) * (double(a.y) + b.y);
  }
  const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
  if (!(ax + ay + az > 0) || !std::isfinite(ax + ay + az)) return fan(0);
  const int drop = az >= ax && az >= ay ? 2 : ax >= ay ? 0 : 1;
  // Projected so that the polygon runs counter-clockwise (its Newell normal towards the viewer).
  const double sign = (drop == 0 ? nx : drop == 1 ? ny : nz) > 0 ? 1.0 : -1.0;
  xy_.resize(2 * n);
  auto at = [&](size_t i) { return Point{xy_[2 * i], xy_[2 * i + 1]}; };
  for (size_t i = 0; i < n; ++i) {
    const Vec3& p = corners[i];
    const double u = drop == 0 ? p.y : drop == 1 ? p.z : p.x;
    const double v = drop == 0 ? p.z : drop == 1 ? p.x : p.y;
    xy_[2 * i] = u;
    xy_[2 * i + 1] = v * sign;
  }

  reflex_.resize(n);
  size_t reflexCount = 0;
  for (size_t i = 0; i < n; ++i) {
    reflex_[i] = TurnAt(at((i + n - 1) % n), at(i), at((i + 1) % n));
    reflexCount += reflex_[i] == kReflex;
  }
  if (reflexCount == 0) return fan(0);
  if (n == 4) {
    // One reflex corner: the diagonal from it is inside. Two (a quad crossing itself): the fan.
    if (reflexCount == 1 && (reflex_[1] == kReflex || reflex_[3] == kReflex)) return fan(1);
    return fan(0);
  }

  // Ear clipping over a ring of the corners left. Only corners that are not convex can lie in an
  // ear; they are listed once, and a corner once convex never turns back.
  next_.resize(n);
  prev_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    next_[i] = uint32_t((i + 1) % n);
    prev_[i] = uint32_t((i + n - 1) % n);
  }
  std::vector<uint32_t> blockers;
  for (size_t i = 0; i < n; ++i)
    if (reflex_[i] != kConvex) blockers.push_back(uint32_t(i));
  std::vector<uint8_t> gone(n, 0);
  size_t work = 0;
  const size_t budget = kEarClipWorkPerCorner * n;
  auto isEar = [&](uint32_t i) {
    if (reflex_[i] != kConvex) return false;
    const uint32_t a = prev_[i], c = next_[i];
    const Point pa = at(a), pb = at(i), pc = at(c);
    size_t keep = 0;
    bool ear = true;
    for (size_t k = 0; k < blockers.size(); ++k) {
      const uint32_t j = blockers[k];
      if (gone[j] || reflex_[j] == kConvex) continue;  // dropped from the list below
      blockers[keep++] = j;
      ++work;
      if (!ear || j == a || j == c) continue;
      const Point p = at(j);
      if (Inside(p, pa, pb, pc) && !Same(p, pa) && !Same(p, pb) && !Same(p, pc)) ear = false;
    }
    blockers.resize(keep);
    return ear;
  };
  auto clip = [&](uint32_t i) {
    const uint32_t a = prev_[i], c = next_[i];
    triangles_.push_back({a, i, c});
    next_[a] = c;
    prev_[c] = a;
    gone[i] = 1;
    reflex_[a] = TurnAt(at(prev_[a]), at(a), at(c));
    reflex_[c] = TurnAt(at(a), at(c), at(next_[c]));
  };

  size_t left = n;
  uint32_t i = 0;
  size_t tried = 0;  // corners looked at since the last ear
  while (left > 3) {
    if (++work > budget) return fan(0);
    if (isEar(i)) {
      const uint32_t a = prev_[i];
      clip(i);
      --left;
      tried = 0;
      i = a;
      continue;
    }
    i = next_[i];
    if (++tried <= left) continue;
    // A whole round without an ear: a straight corner between two others can still go as a
    // triangle without area. Failing that the outline crosses itself: the fan.
    bool cut = false;
    for (size_t k = 0; k < left && !cut; ++k, i = next_[i]) {
      if (reflex_[i] != kStraight) continue;
      clip(i);
      --left;
      cut = true;
    }
    if (!cut) return fan(0);
    tried = 0;
  }
  triangles_.push_back({prev_[i], i, next_[i]});
  return triangles_;
}

}  // namespace wz
