// LightWave's image map projections. Texture space is the point less the map's centre, turned
// back by the map's heading, pitch and bank. Planar maps the two axes other than the map's axis
// by the map's size, centred on 0.5, so that the image reads correctly seen from the positive
// side of x and y and from the negative side of z (LightWave's front view). Cylindrical and
// spherical maps turn the point so that the map's axis points up and take the angle about that
// axis (for the y axis: 0.5 at +x, 0.75 at +z, the seam at -x, as LightWave's own UV maps made
// from these projections have it) and, for spherical, the latitude (0 at the top); height along
// a cylinder is planar. The image's top is always toward the axis's positive
// side. Cubic is planar along the axis nearest the polygon's normal.
#include "formats/lwo_projection.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "platform/text.h"

namespace wz {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

double Component(const Vec3& v, int axis) {
  return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

// a / b, or 0 when b is 0: a map without extent on an axis does not vary along it.
double Ratio(double a, double b) {
  return b != 0.0 ? a / b : 0.0;
}

struct Point {
  double x, y, z;
};

Point TextureSpace(const LwoImageMap& map, const Vec3& p) {
  double x = double(p.x) - map.centre.x, y = double(p.y) - map.centre.y,
         z = double(p.z) - map.centre.z;
  // The inverse of bank, then pitch, then heading: heading first, each by its negated angle.
  const double h = -double(map.rotation.x), pi = -double(map.rotation.y),
               b = -double(map.rotation.z);
  if (h != 0.0) {
    const double c = std::cos(h), s = std::sin(h);
    const double nx = x * c + z * s, nz = -x * s + z * c;
    x = nx, z = nz;
  }
  if (pi != 0.0) {
    const double c = std::cos(pi), s = std::sin(pi);
    const double ny = y * c - z * s, nz = y * s + z * c;
    y = ny, z = nz;
  }
  if (b != 0.0) {
    const double c = std::cos(b), s = std::sin(b);
    const double nx = x * c - y * s, ny = x * s + y * c;
    x = nx, y = ny;
  }
  return {x, y, z};
}

Uv Planar(const LwoImageMap& map, const Point& q, int axis) {
  const double u = axis == 0 ? Ratio(q.z, map.size.z) : Ratio(q.x, map.size.x);
  const double v = axis == 1 ? -Ratio(q.z, map.size.z) : -Ratio(q.y, map.size.y);
  return {float(u + 0.5), float(v + 0.5)};
}

// The point turned so that the map's axis is the second coordinate.
Point AxisUp(const Point& q, int axis) {
  if (axis == 0) return {q.z, q.x, -q.y};
  if (axis == 1) return {-q.x, q.y, q.z};
  return {-q.x, q.z, -q.y};
}

// Cylindrical and spherical: u from the heading about the axis; false for a point on the axis,
// whose heading is undefined.
bool Around(const LwoImageMap& map, const Point& q, Uv& out) {
  const Point a = AxisUp(q, map.axis);
  if (map.projection == LwoProjection::kCylindrical) {
    const double along = map.axis == 0 ? q.x : map.axis == 1 ? q.y : q.z;
    out.v = float(0.5 - Ratio(along, Component(map.size, map.axis)));
  } else {
    const double latitude = std::atan2(a.y, std::sqrt(a.x * a.x + a.z * a.z));
    out.v = float((0.5 - latitude / std::numbers::pi) * map.heightWrap);
  }
  if (a.x == 0.0 && a.z == 0.0) return false;
  double turn = 0.5 + std::atan2(a.z, -a.x) / kTwoPi;
  turn -= std::floor(turn);
  out.u = float(turn * map.widthWrap);
  return true;
}

// The normal's largest component: the axis a cubic map projects along.
int DominantAxis(const Point* q, int n) {
  double nx = 0, ny = 0, nz = 0;  // Newell's method: also right for non-planar polygons
  for (int i = 0; i < n; ++i) {
    const Point& a = q[i];
    const Point& b = q[(i + 1) % n];
    nx += (a.y - b.y) * (a.z + b.z);
    ny += (a.z - b.z) * (a.x + b.x);
    nz += (a.x - b.x) * (a.y + b.y);
  }
  nx = std::fabs(nx), ny = std::fabs(ny), nz = std::fabs(nz);
  if (nx >= ny && nx >= nz) return 0;
  return ny >= nz ? 1 : 2;
}

// Mirrored and edge wrapping for one coordinate of the polygon's corners. Mirroring reverses
// every other tile: the polygon is placed by the tile its corners' mean falls in.
void ApplyWrap(LwoWrap wrap, float Uv::*c, Uv* out, int n) {
  if (wrap == LwoWrap::kEdge) {
    for (int i = 0; i < n; ++i)
      out[i].*c = std::clamp(out[i].*c, 0.0f, 1.0f);
  } else if (wrap == LwoWrap::kMirror && n > 0) {
    double mean = 0;
    for (int i = 0; i < n; ++i)
      mean += out[i].*c;
    mean /= n;
    if (!(std::fabs(mean) < 1e9)) return;
    const auto tile = int64_t(std::floor(mean));
    if ((tile & 1) == 0) return;
    for (int i = 0; i < n; ++i)
      out[i].*c = float(double(2 * tile + 1) - out[i].*c);
  }
}

}  // namespace

void LwoProjectPolygon(const LwoImageMap& map, const Vec3* points, int n, Uv* out) {
  if (n <= 0) return;
  // LWO2 polygons hold at most 1023 points, LWOB ones up to 65535: large ones use the heap.
  constexpr int kOnStack = 64;
  Point stackPoints[kOnStack];
  bool stackFlags[kOnStack];
  std::vector<Point> heapPoints;
  std::unique_ptr<bool[]> heapFlags;
  Point* q = stackPoints;
  bool* onAxis = stackFlags;
  if (n > kOnStack) {
    heapPoints.resize(size_t(n));
    heapFlags.reset(new bool[size_t(n)]);
    q = heapPoints.data();
    onAxis = heapFlags.get();
  }
  for (int i = 0; i < n; ++i)
    q[i] = TextureSpace(map, points[i]);
  if (map.projection == LwoProjection::kPlanar || map.projection == LwoProjection::kCubic) {
    const int axis = map.projection == LwoProjection::kCubic ? DominantAxis(q, n) : map.axis;
    for (int i = 0; i < n; ++i)
      out[i] = Planar(map, q[i], axis);
  } else {
    float top = -INFINITY;
    for (int i = 0; i < n; ++i) {
      out[i] = Uv{};
      onAxis[i] = !Around(map, q[i], out[i]);
      if (!onAxis[i]) top = std::max(top, out[i].u);
    }
    // Corners more than half a turn below the highest are across the seam: one turn on.
    const float turn = std::fabs(map.widthWrap);
    double sum = 0;
    int off = 0;
    for (int i = 0; i < n; ++i) {
      if (onAxis[i]) continue;
      if (out[i].u < top - turn / 2) out[i].u += turn;
      sum += out[i].u, ++off;
    }
    for (int i = 0; i < n; ++i)
      if (onAxis[i]) out[i].u = off > 0 ? float(sum / off) : 0.5f * turn;
  }
  ApplyWrap(map.wrapU, &Uv::u, out, n);
  ApplyWrap(map.wrapV, &Uv::v, out, n);
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(out[i].u)) out[i].u = 0.0f;
    if (!std::isfinite(out[i].v)) out[i].v = 0.0f;
  }
}

std::string LwoLibraryName(const std::string& text) {
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
  return !ascii && platform::IsValidUtf8(text) ? platform::HostBytesToCp932(text, false) : text;
}

std::string LwoImageFileName(const std::string& path) {
  // 0x5C is also the second byte of some two-byte characters of code page 932 (in UTF-8 it is
  // always a backslash); '/' and ':' never are.
  size_t cut = path.find_last_of("/:");
  const size_t backslash =
      platform::IsValidUtf8(path) ? path.rfind('\\') : platform::Cp932FindLast(path, '\\');
  if (cut == std::string::npos || (backslash != std::string::npos && backslash > cut))
    cut = backslash;
  return LwoLibraryName(cut == std::string::npos ? path : path.substr(cut + 1));
}

}  // namespace wz
