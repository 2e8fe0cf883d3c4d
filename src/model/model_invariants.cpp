// Checks the structural invariants of a model record and names the first one broken.
#include "model/model_invariants.h"

#include <cstdarg>
#include <cstdio>

namespace wz {
namespace {

[[gnu::format(printf, 2, 3)]] ModelInvariantError Fault(ModelFault fault, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return {fault, text};
}

// A count against the size of a pool or list.
bool Fits(int64_t count, size_t size) {
  return count >= 0 && static_cast<uint64_t>(count) <= size;
}

// A corner index into a pool of `count` entries: inside it, or 0 when the pool is unused.
bool IndexFits(int32_t index, int32_t count, bool allowUnusedPool) {
  if (count == 0 && allowUnusedPool) return index == 0;
  return index >= 0 && index < count;
}

std::optional<ModelInvariantError> CheckCounts(const Model& m) {
  struct Named {
    const char* name;
    int64_t value;
  };
  const Named counts[] = {
      {"position count", m.positionCount},
      {"normal count", m.normalCount},
      {"colour count", m.colourCount},
      {"UV count", m.uvCount},
      {"polygon count", m.polygonCount},
      {"group count", m.groupCount},
      {"texture slot count", m.textureSlotCount},
      {"bone count", m.boneCount},
      {"sound-name count", m.soundNameCount},
  };
  for (const Named& c : counts) {
    if (c.value < 0) {
      return Fault(ModelFault::kNegativeCount, "%s is %lld", c.name,
                   static_cast<long long>(c.value));
    }
  }

  struct Pool {
    const char* name;
    int32_t count;
    size_t size;
  };
  const Pool pools[] = {
      {"positions", m.positionCount, m.positions.size()},
      {"position attributes", m.positionCount, m.attrs.size()},
      {"animated positions", m.positionCount, m.animatedPositions.size()},
      {"smooth normals", m.positionCount, m.smoothNormals.size()},
      {"normals", m.normalCount, m.normals.size()},
      {"colours", m.colourCount, m.colours.size()},
      {"UVs", m.uvCount, m.uvs.size()},
  };
  for (const Pool& p : pools) {
    if (!Fits(p.count, p.size)) {
      return Fault(ModelFault::kCountBeyondPool, "%s: count %d, pool of %zu", p.name, p.count,
                   p.size);
    }
  }

  const Pool lists[] = {
      {"polygons", m.polygonCount, m.polygons.size()},
      {"groups", m.groupCount, m.groups.size()},
      {"texture slots", m.textureSlotCount, m.textureSlots.size()},
      {"sound names", m.soundNameCount, m.soundNames.size()},
  };
  for (const Pool& l : lists) {
    if (!Fits(l.count, l.size)) {
      return Fault(ModelFault::kCountBeyondList, "%s: count %d, list of %zu", l.name, l.count,
                   l.size);
    }
  }
  return std::nullopt;
}

std::optional<ModelInvariantError> CheckPolygons(const Model& m) {
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    const Polygon& p = m.polygons[i];
    if (p.cornerCount < 1 || p.cornerCount > kMaxCorners) {
      return Fault(ModelFault::kBadCornerCount, "polygon %d has %d corners", i, p.cornerCount);
    }
    for (int c = 0; c < p.cornerCount; ++c) {
      const Corner& k = p.corners[c];
      struct Index {
        const char* name;
        int32_t index;
        int32_t count;
        bool allowUnused;
      };
      const Index indices[] = {
          {"position", k.position, m.positionCount, false},
          {"normal", k.normal, m.normalCount, true},
          {"colour", k.colour, m.colourCount, true},
          {"UV", k.uv, m.uvCount, true},
      };
      for (const Index& x : indices) {
        if (!IndexFits(x.index, x.count, x.allowUnused)) {
          return Fault(ModelFault::kCornerIndexOutOfRange,
                       "polygon %d corner %d: %s index %d, %s count %d", i, c, x.name, x.index,
                       x.name, x.count);
        }
      }
    }
    if (p.group < 0 || p.group >= m.groupCount) {
      return Fault(ModelFault::kGroupIndexOutOfRange, "polygon %d: group %d of %d", i, p.group,
                   m.groupCount);
    }
  }
  return std::nullopt;
}

std::optional<ModelInvariantError> CheckExportGeometry(const Group& g, int32_t gi) {
  struct Pool {
    const char* name;
    size_t size;
  };
  const Pool pools[] = {
      {"positions", g.exportPositions.size()}, {"normals", g.exportNormals.size()},
      {"colours", g.exportColours.size()},     {"UVs", g.exportUvs.size()},
      {"attributes", g.exportAttrs.size()},
  };
  for (const Pool& p : pools) {
    if (!Fits(g.exportVertexCount, p.size)) {
      return Fault(ModelFault::kCountBeyondPool, "group %d export %s: count %d, pool of %zu", gi,
                   p.name, g.exportVertexCount, p.size);
    }
  }
  if (!Fits(g.exportTriangleCount, g.exportTriangles.size())) {
    return Fault(ModelFault::kCountBeyondList, "group %d export triangles: count %d, list of %zu",
                 gi, g.exportTriangleCount, g.exportTriangles.size());
  }
  for (int32_t t = 0; t < g.exportTriangleCount; ++t) {
    const Polygon& p = g.exportTriangles[t];
    if (p.cornerCount < 1 || p.cornerCount > kMaxCorners) {
      return Fault(ModelFault::kBadCornerCount, "group %d export triangle %d has %d corners", gi, t,
                   p.cornerCount);
    }
    for (int c = 0; c < p.cornerCount; ++c) {
      if (!IndexFits(p.corners[c].position, g.exportVertexCount, false)) {
        return Fault(ModelFault::kCornerIndexOutOfRange,
                     "group %d export triangle %d corner %d: vertex %d of %d", gi, t, c,
                     p.corners[c].position, g.exportVertexCount);
      }
    }
  }
  return std::nullopt;
}

std::optional<ModelInvariantError> CheckGroups(const Model& m) {
  // Slot 0 means "no texture" and needs no slot entry.
  const int32_t slots = m.textureSlotCount;
  auto slotFits = [slots](int32_t s) { return s == 0 || (s > 0 && s < slots); };
  if (!slotFits(m.modelMapSlot)) {
    return Fault(ModelFault::kTextureSlotOutOfRange, "model map slot %d of %d", m.modelMapSlot,
                 slots);
  }
  for (int32_t gi = 0; gi < m.groupCount; ++gi) {
    const Group& g = m.groups[gi];
    struct Slot {
      const char* name;
      int32_t slot;
    };
    const Slot used[] = {
        {"texture slot", g.textureSlot},
        {"bump map slot", g.bumpMapSlot},
        {"second map slot", g.secondMapSlot},
    };
    for (const Slot& s : used) {
      if (!slotFits(s.slot)) {
        return Fault(ModelFault::kTextureSlotOutOfRange, "group %d %s %d of %d", gi, s.name, s.slot,
                     slots);
      }
    }
    if (auto e = CheckExportGeometry(g, gi)) return e;
  }
  return std::nullopt;
}

std::optional<ModelInvariantError> CheckMotions(const Model& m) {
  // A motion holds tracks for groups 0 to 255; groups past them have no track, which is a track
  // of no keys.
  for (size_t mi = 0; mi < m.motions.size(); ++mi) {
    for (int32_t g = 0; g < std::min(m.groupCount, kMaxGroupTracks); ++g) {
      int32_t keys = m.motions[mi].tracks[g].keyCount;
      if (keys < 0 || keys > kMaxTrackKeys) {
        return Fault(ModelFault::kTooManyTrackKeys, "motion %zu track %d: %d keys", mi, g, keys);
      }
    }
  }
  return std::nullopt;
}

std::optional<ModelInvariantError> CheckBones(const Model& m) {
  if (m.boneCount > kMaxBones) {
    return Fault(ModelFault::kTooManyBones, "bone count %d", m.boneCount);
  }
  // Any parent index is sound: the bind pose joins a bone only to an earlier one, and a bone
  // whose parent is not an earlier bone keeps its local matrix.
  for (int32_t k = 0; k < m.boneCount; ++k) {
    if (m.bones[k].keyLists.size() != m.motions.size()) {
      return Fault(ModelFault::kKeyListsNotPerMotion, "bone %d has %zu key lists for %zu motions",
                   k, m.bones[k].keyLists.size(), m.motions.size());
    }
  }
  return std::nullopt;
}

}  // namespace

const char* ModelFaultName(ModelFault fault) {
  switch (fault) {
    case ModelFault::kNegativeCount:
      return "NegativeCount";
    case ModelFault::kCountBeyondPool:
      return "CountBeyondPool";
    case ModelFault::kCountBeyondList:
      return "CountBeyondList";
    case ModelFault::kBadCornerCount:
      return "BadCornerCount";
    case ModelFault::kCornerIndexOutOfRange:
      return "CornerIndexOutOfRange";
    case ModelFault::kGroupIndexOutOfRange:
      return "GroupIndexOutOfRange";
    case ModelFault::kTextureSlotOutOfRange:
      return "TextureSlotOutOfRange";
    case ModelFault::kTooManyBones:
      return "TooManyBones";
    case ModelFault::kTooManyTrackKeys:
      return "TooManyTrackKeys";
    case ModelFault::kKeyListsNotPerMotion:
      return "KeyListsNotPerMotion";
  }
  return "Unknown";
}

std::optional<ModelInvariantError> CheckModelInvariants(const Model& model) {
  if (auto e = CheckCounts(model)) return e;
  if (auto e = CheckPolygons(model)) return e;
  if (auto e = CheckGroups(model)) return e;
  if (auto e = CheckMotions(model)) return e;
  if (auto e = CheckBones(model)) return e;
  return std::nullopt;
}

}  // namespace wz
