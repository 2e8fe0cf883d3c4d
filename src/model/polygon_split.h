// Splitting a polygon into triangles, shared by every reader that turns polygons of more corners
// than the record holds (or concave quads) into triangles.
//
// A polygon of n >= 3 corners always gives n - 2 triangles, as corner-index triples in the
// polygon's own turning sense (a triangle of corners a, b, c faces where the polygon faces):
// - When no corner turns against the polygon in its best-fit plane (the plane of its Newell
//   normal), the polygon is convex and gives the fan around corner 0: (0, 1, 2), (0, 2, 3), ...
//   This is what the readers always made, so convex polygons keep their triangles. Straight
//   corners (three corners on a line) do not count as turning against it.
// - Otherwise it is split by ear clipping in that plane, which follows the outline of U, L and
//   other concave shapes. A quad that the fan would fold gives the fan around corner 1 instead,
//   (1, 2, 3), (1, 3, 0): the split along its other diagonal.
// - The fan is kept, whatever the shape, for a polygon without a plane (all corners on one line
//   or point, or an outline whose parts cancel out, as a figure eight does), for a polygon that
//   turns one way at every corner but winds round more than once (a five-pointed star drawn in
//   one stroke), when ear clipping finds no ear (an outline that crosses itself) and for
//   polygons of more than kMaxEarClipCorners corners. The work of ear clipping is bounded by
//   kEarClipWorkPerCorner point tests per corner; a polygon that needs more keeps its fan, so
//   splitting stays linear in the number of corners.
// Non-planar polygons are split in the best-fit plane as they project onto it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/vec_math.h"

namespace wz {

// Polygons with more corners keep their fan without any test beyond the count.
constexpr size_t kMaxEarClipCorners = 65536;
// Point-in-triangle tests ear clipping may make per corner before it gives up for the fan.
constexpr size_t kEarClipWorkPerCorner = 256;

using CornerTriangle = std::array<uint32_t, 3>;

// Splits polygons; holds its working memory from one polygon to the next, so a reader keeps one.
class PolygonSplitter {
 public:
  // The triangles of the polygon with these corner positions (see the top), valid until the next
  // call. Empty for fewer than 3 corners.
  std::span<const CornerTriangle> Split(std::span<const Vec3> corners);

  // For a quad: the corner its fan goes round, 0 or 1 (the same split as Split gives).
  int QuadFanStart(std::span<const Vec3, 4> corners);

 private:
  std::vector<CornerTriangle> triangles_;
  std::vector<double> xy_;  // the corners in the plane, 2 per corner
  std::vector<uint32_t> next_, prev_;
  std::vector<uint8_t> reflex_;
};

}  // namespace wz
