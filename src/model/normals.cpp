// Face normals, smooth normals and the shading-mode-8 normal pool rebuild.
// The rebuild stores each distinct smooth normal once, in order of first use by a corner. Instead
// of searching the pool for every corner, it keeps a hash table from normal value to pool entry
// and remembers the entry of each position once found, so it is linear in the number of corners.
#include "model/normals.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "platform/worker_pool.h"

namespace wz {
namespace {

// True when every used face has valid position indices (checked once, with asserts on).
bool FacesIndexPositions(const Model& m) {
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    const Polygon& p = m.polygons[i];
    if (p.cornerCount < 3) continue;
    if (p.cornerCount > kMaxCorners) return false;
    for (int c = 0; c < p.cornerCount; ++c) {
      if (p.corners[c].position < 0 || p.corners[c].position >= m.positionCount) return false;
    }
  }
  return true;
}

// Open-addressing table from a normal's value to its entry in the normal pool. Values are
// compared as floats compare: -0 and +0 are one key. NaN values never match anything and are
// never put into the table.
class NormalTable {
 public:
  explicit NormalTable(size_t maxEntries) {
    size_t capacity = 16;
    while (capacity < 2 * maxEntries)
      capacity *= 2;
    slots_.assign(capacity, -1);
    mask_ = capacity - 1;
  }

  // The pool entry equal to v, or -1; `slot` receives the place to insert v at.
  int32_t Find(const Pool<Vec3>& pool, Vec3 v, size_t& slot) const {
    size_t i = Hash(v) & mask_;
    while (slots_[i] >= 0) {
      const Vec3& e = pool[slots_[i]];
      if (e.x == v.x && e.y == v.y && e.z == v.z) return slots_[i];
      i = (i + 1) & mask_;
    }
    slot = i;
    return -1;
  }

  void Insert(size_t slot, int32_t entry) { slots_[slot] = entry; }

 private:
  static uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f + 0.0f); }  // -0 -> +0

  static size_t Hash(Vec3 v) {
    uint64_t h = Bits(v.x) * 0x9E3779B97F4A7C15ull;
    h ^= Bits(v.y) * 0xC2B2AE3D27D4EB4Full;
    h ^= Bits(v.z) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<size_t>(h);
  }

  std::vector<int32_t> slots_;
  size_t mask_ = 0;
};

// Runs body(begin, end) over [0, count) in parts on the worker pool when there is enough to
// share; each part writes only its own entries, so the result is that of one pass.
void ForRanges(size_t count, const std::function<void(size_t, size_t)>& body) {
  constexpr size_t kMinPerPart = 16384;
  const size_t parts =
      std::clamp<size_t>(count / kMinPerPart, 1, size_t{platform::WorkerCount()} + 1);
  platform::RunParts(parts, [&](size_t k) { body(count * k / parts, count * (k + 1) / parts); });
}

[[gnu::always_inline]] inline Vec3 UnitCross(const Vec3& p0, const Vec3& p1, const Vec3& p2) {
  // Cross(p1 - p0, p2 - p1) over `len`, written out in plain floats: the same operations in the
  // same order, without the packing and unpacking of three-float records between them.
  const float ax = p1.x - p0.x, ay = p1.y - p0.y, az = p1.z - p0.z;
  const float bx = p2.x - p1.x, by = p2.y - p1.y, bz = p2.z - p1.z;
  const float nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
  const float len = std::sqrt(nx * nx + ny * ny + nz * nz);
  // Collinear or coincident corners give a zero cross product; dividing by its length would
  // produce NaN and spread into every smooth normal the face touches.
  if (!(len > 0.0f) || !std::isfinite(len)) return {};
  const float rx = nx / len, ry = ny / len, rz = nz / len;
  if (!std::isfinite(rx) || !std::isfinite(ry) || !std::isfinite(rz)) return {};
  return {rx, ry, rz};
}

void ComputeFaceNormals(Model& m) {
  ForRanges(size_t(m.polygonCount), [&m](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      Polygon& p = m.polygons[i];
      if (p.cornerCount < 3) continue;
      // Checked here rather than in a pass of its own: the polygon is in cache now.
      assert(p.cornerCount <= kMaxCorners);
      for (int c = 0; c < p.cornerCount; ++c)
        assert(p.corners[c].position >= 0 && p.corners[c].position < m.positionCount);
      // Inlined here: returned from a call, the three floats went through memory and each
      // face waited on a store that could not be forwarded.
      p.faceNormal =
          UnitCross(m.positions[p.corners[0].position], m.positions[p.corners[1].position],
                    m.positions[p.corners[2].position]);
    }
  });
}

void ComputeSmoothNormals(Model& m) {
  const size_t n = static_cast<size_t>(m.positionCount);
  GrowTo(m.smoothNormals, n);
  std::fill_n(m.smoothNormals.begin(), n, Vec3{});
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    const Polygon& p = m.polygons[i];
    if (p.cornerCount < 3) continue;
    for (int c = 0; c < p.cornerCount; ++c)
      m.smoothNormals[p.corners[c].position] += p.faceNormal;
  }
  ForRanges(n, [&m](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      Vec3& s = m.smoothNormals[i];
      float len = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
      s = len < 1e-7f ? Vec3{} : s / len;
    }
  });
}

bool HasAngleFaces(const Model& m) {
  for (int32_t i = 0; i < m.polygonCount; ++i)
    if (m.polygons[i].cornerCount >= 3 && m.polygons[i].smoothAngle != 0) return true;
  return false;
}

float AngleCosine(uint16_t code) {
  // A little slack so that faces whose normals differ by exactly the angle, or not at all, are
  // not split by rounding.
  const double radians = double(code - 1) / 100.0 * 3.14159265358979323846 / 180.0;
  return float(std::cos(radians)) - 1e-6f;
}

// One of the 384 direction bins of a unit vector: the cube face of its largest coordinate and an
// 8 x 8 cell on it.
uint32_t DirectionBin(Vec3 n) {
  const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  uint32_t face;
  float u, v, major;
  if (ax >= ay && ax >= az) {
    face = n.x < 0.0f ? 1 : 0, u = n.y, v = n.z, major = ax;
  } else if (ay >= az) {
    face = n.y < 0.0f ? 3 : 2, u = n.x, v = n.z, major = ay;
  } else {
    face = n.z < 0.0f ? 5 : 4, u = n.x, v = n.y, major = az;
  }
  auto cell = [major](float t) {
    const float q = major > 0.0f ? (t / major + 1.0f) * 4.0f : 0.0f;
    return uint32_t(std::clamp(q, 0.0f, 7.0f));
  };
  return face * 64 + cell(u) * 8 + cell(v);
}

// The corner normals of the faces with a smoothing angle, by the angle rule, at cornerAt[f] + k
// for corner k of face f.
std::vector<Vec3> AngleCornerNormals(const Model& m, std::vector<size_t>& cornerAt) {
  const size_t positions = size_t(m.positionCount);
  const size_t polygons = size_t(m.polygonCount);
  auto ruled = [&m](size_t f) {
    return m.polygons[f].cornerCount >= 3 && m.polygons[f].smoothAngle != 0;
  };
  // The faces at each position, by a counting sort on the position index.
  cornerAt.assign(polygons + 1, 0);
  std::vector<uint32_t> start(positions + 1, 0);
  for (size_t f = 0; f < polygons; ++f) {
    cornerAt[f + 1] = cornerAt[f];
    if (!ruled(f)) continue;
    const Polygon& p = m.polygons[f];
    cornerAt[f + 1] += p.cornerCount;
    for (int k = 0; k < p.cornerCount; ++k)
      ++start[size_t(p.corners[k].position) + 1];
  }
  for (size_t i = 0; i < positions; ++i)
    start[i + 1] += start[i];
  struct Incidence {
    uint32_t face;
    uint32_t corner;  // into the result
  };
  std::vector<Incidence> at(start[positions]);
  {
    std::vector<uint32_t> next(start.begin(), start.end() - 1);
    for (size_t f = 0; f < polygons; ++f) {
      if (!ruled(f)) continue;
      const Polygon& p = m.polygons[f];
      for (int k = 0; k < p.cornerCount; ++k)
        at[next[size_t(p.corners[k].position)]++] = {uint32_t(f),
                                                     uint32_t(cornerAt[f] + size_t(k))};
    }
  }
  std::vector<Vec3> out(cornerAt[polygons]);
  auto finish = [](Vec3 sum, const Polygon& p) {
    const float len = std::sqrt(sum.x * sum.x + sum.y * sum.y + sum.z * sum.z);
    return len < 1e-7f ? p.faceNormal : sum / len;
  };
  auto alike = [](const Polygon& a, const Polygon& b) {
    return a.group == b.group && a.smoothAngle == b.smoothAngle;
  };
  ForRanges(positions, [&](size_t begin, size_t end) {
    struct Bin {
      uint64_t key;  // group, angle code, direction bin
      Vec3 sum;
    };
    std::vector<Bin> bins;
    uint16_t code = 0;  // the angle code whose cosine `cosine` holds
    float cosine = 0.0f;
    auto limitOf = [&](uint16_t c) {
      if (c != code) code = c, cosine = AngleCosine(c);
      return cosine;
    };
    for (size_t i = begin; i < end; ++i) {
      const std::span<const Incidence> fan(at.data() + start[i], start[i + 1] - start[i]);
      if (fan.size() <= size_t(kAngleRuleExactFaces)) {
        for (const Incidence& a : fan) {
          const Polygon& p = m.polygons[a.face];
          const float limit = limitOf(p.smoothAngle);
          Vec3 sum{};
          for (const Incidence& b : fan) {
            const Polygon& q = m.polygons[b.face];
            if (b.face == a.face || (alike(p, q) && Dot(p.faceNormal, q.faceNormal) >= limit))
              sum += q.faceNormal;
          }
          out[a.corner] = finish(sum, p);
        }
        continue;
      }
      // A crowded position: the faces' normals summed per group, angle and direction bin, and
      // each face compared with the bins' mean directions (its own bin always counts).
      auto keyOf = [](const Polygon& p) {
        return uint64_t(uint32_t(p.group)) << 32 | uint64_t(p.smoothAngle) << 9 |
               DirectionBin(p.faceNormal);
      };
      bins.clear();
      for (const Incidence& a : fan)
        bins.push_back({keyOf(m.polygons[a.face]), m.polygons[a.face].faceNormal});
      std::sort(bins.begin(), bins.end(), [](const Bin& x, const Bin& y) { return x.key < y.key; });
      size_t kept = 0;
      for (const Bin& b : bins) {
        if (kept > 0 && bins[kept - 1].key == b.key) {
          bins[kept - 1].sum += b.sum;
        } else {
          bins[kept++] = b;
        }
      }
      bins.resize(kept);
      for (const Incidence& a : fan) {
        const Polygon& p = m.polygons[a.face];
        const uint64_t key = keyOf(p);
        const float limit = limitOf(p.smoothAngle);
        auto first = std::lower_bound(bins.begin(), bins.end(), key >> 9 << 9,
                                      [](const Bin& b, uint64_t k) { return b.key < k; });
        Vec3 sum{};
        for (auto b = first; b != bins.end() && b->key >> 9 == key >> 9; ++b) {
          const float len = std::sqrt(Dot(b->sum, b->sum));
          if (b->key == key || (len > 0.0f && Dot(p.faceNormal, b->sum / len) >= limit))
            sum += b->sum;
        }
        out[a.corner] = finish(sum, p);
      }
    }
  });
  return out;
}

}  // namespace

uint16_t SmoothAngleCode(double degrees) {
  if (!(degrees > 0.0)) return 1;
  return uint16_t(std::lround(std::min(degrees, 180.0) * 100.0) + 1);
}

Vec3 FaceNormal(Vec3 p0, Vec3 p1, Vec3 p2) {
  return UnitCross(p0, p1, p2);
}

void RebuildNormalPool(Model& m) {
  assert(FacesIndexPositions(m));
  assert(static_cast<size_t>(m.positionCount) <= m.smoothNormals.size());
  size_t corners = 0;
  for (int32_t i = 0; i < m.polygonCount; ++i)
    corners += m.polygons[i].cornerCount;
  const size_t positions = static_cast<size_t>(m.positionCount);
  std::vector<size_t> cornerAt;
  const std::vector<Vec3> angled =
      HasAngleFaces(m) ? AngleCornerNormals(m, cornerAt) : std::vector<Vec3>{};
  // The table holds at most one entry per position that a corner uses, and the zero normal, and
  // one per corner normal of the angle rule.
  NormalTable table(std::min(positions + 1, corners) + angled.size());
  std::vector<int32_t> entryOfPosition(positions, -1);
  std::vector<int32_t> lastAngled(angled.empty() ? 0 : positions, -1);
  int32_t count = 0;
  auto append = [&m, &count](Vec3 v) {
    const int32_t entry = count++;
    if (static_cast<size_t>(entry) < m.normals.size()) {
      m.normals[entry] = v;
    } else {
      m.normals.push_back(v);
    }
    return entry;
  };
  auto entryOfValue = [&](Vec3 v) {
    if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) return append(v);
    size_t slot = 0;
    int32_t entry = table.Find(m.normals, v, slot);
    if (entry < 0) {
      entry = append(v);
      table.Insert(slot, entry);
    }
    return entry;
  };
  auto entryOf = [&](int32_t pos) {
    const bool inPool = pos >= 0 && pos < m.positionCount;
    if (inPool && entryOfPosition[pos] >= 0) return entryOfPosition[pos];
    const Vec3 v = inPool ? m.smoothNormals[pos] : Vec3{};
    // NaN equals nothing, not even itself: a new entry for every corner, never remembered.
    const int32_t entry = entryOfValue(v);
    if (inPool && !std::isnan(v.x) && !std::isnan(v.y) && !std::isnan(v.z))
      entryOfPosition[pos] = entry;
    return entry;
  };
  // Faces first, in corner order: their entries come in the order of first appearance.
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    Polygon& p = m.polygons[i];
    if (p.cornerCount < 3) continue;
    if (p.smoothAngle != 0 && !angled.empty()) {
      for (int c = 0; c < p.cornerCount; ++c) {
        // Corners of a position mostly share their normal: the entry its last corner took is
        // tried before the table (equal values have one entry either way).
        const Vec3 v = angled[cornerAt[size_t(i)] + size_t(c)];
        int32_t& last = lastAngled[size_t(p.corners[c].position)];
        if (last < 0 ||
            !(m.normals[last].x == v.x && m.normals[last].y == v.y && m.normals[last].z == v.z)) {
          last = entryOfValue(v);
        }
        p.corners[c].normal = last;
      }
      continue;
    }
    for (int c = 0; c < p.cornerCount; ++c)
      p.corners[c].normal = entryOf(p.corners[c].position);
  }
  // Polygons of one or two corners are no faces, but their normal indices must name entries of
  // the new pool too: each corner takes its position's smooth normal.
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    Polygon& p = m.polygons[i];
    if (p.cornerCount >= 3) continue;
    for (int c = 0; c < p.cornerCount; ++c)
      p.corners[c].normal = entryOf(p.corners[c].position);
  }
  m.normalCount = count;
}

void DeriveNormals(Model& m) {
  assert(m.polygonCount >= 0 && static_cast<size_t>(m.polygonCount) <= m.polygons.size());
  assert(m.positionCount >= 0 && static_cast<size_t>(m.positionCount) <= m.positions.size());
  ComputeFaceNormals(m);  // checks that every face names positions in the pool
  ComputeSmoothNormals(m);
  if (m.shadingMode == 8 || HasAngleFaces(m)) RebuildNormalPool(m);
}

}  // namespace wz
