// Texture coordinates of LightWave's projected image maps (planar, cylindrical, spherical, cubic),
// computed at load for the corners of a polygon as LightWave computes them when it renders, and
// the image file name of a LightWave image reference. Shared by the LWOB and LWO2 readers.
#pragma once

#include <string>

#include "core/vec_math.h"
#include "model/model.h"

namespace wz {

enum class LwoProjection { kPlanar, kCylindrical, kSpherical, kCubic };

// How an image continues beyond its edges (LWO2 numbering; the LWOB reader translates its own).
enum class LwoWrap { kReset, kRepeat, kMirror, kEdge };

// The texture placement of one image map, in the file's units (before the readers scale them).
struct LwoImageMap {
  LwoProjection projection = LwoProjection::kPlanar;
  int axis = 0;  // 0 x, 1 y, 2 z; cubic chooses its own per polygon
  Vec3 centre{0.0f, 0.0f, 0.0f};
  Vec3 size{1.0f, 1.0f, 1.0f};      // planar and cylindrical: the image's extent on each axis
  Vec3 rotation{0.0f, 0.0f, 0.0f};  // heading, pitch, bank in radians
  float widthWrap = 1.0f;           // cylindrical and spherical: times the image goes around
  float heightWrap = 1.0f;          // spherical: times the image goes from pole to pole
  LwoWrap wrapU = LwoWrap::kRepeat;
  LwoWrap wrapV = LwoWrap::kRepeat;
};

// The texture coordinates of the n corners of one polygon at the given points (file
// coordinates), with (0, 0) at the image's top-left as the model record has it. A polygon that
// straddles the seam of a cylindrical or spherical map has the u of its corners on the far side
// moved by one turn, a corner on the axis takes the mean u of the others, and mirrored or edge
// wrapping is applied to the polygon as a whole.
void LwoProjectPolygon(const LwoImageMap& map, const Vec3* points, int n, Uv* out);

// The image named by a LightWave path ("drive:dir/file", host paths, code page 932 or UTF-8), as
// library text: the file name part, looked for beside the model as the other readers do.
std::string LwoImageFileName(const std::string& path);

// A name from a LightWave file as library text: UTF-8 names take the reversible mapping of host
// file names, other names are taken as code page 932, as Japanese editions of LightWave write them.
std::string LwoLibraryName(const std::string& text);

}  // namespace wz
