// WZP test support: a model that fills every saved field, the saved fields of a model for
// comparison, and a test-side writer of the layout of each version, written from the version
// table of the format, independent of the library's writer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/test_models.h"
#include "model/wzp.h"
#include "platform/text.h"

namespace wz::testing {

// Little-endian bytes of a file, appended item by item.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Raw(const void* p, size_t n) {
    b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return *this;
  }
  Bytes& U8(uint8_t v) { return Raw(&v, 1); }
  Bytes& I16(int16_t v) { return Raw(&v, 2); }
  Bytes& U16(uint16_t v) { return Raw(&v, 2); }
  Bytes& I32(int32_t v) { return Raw(&v, 4); }
  Bytes& F32(float v) { return Raw(&v, 4); }
  Bytes& Str(std::string_view s) { return I32(int32_t(s.size())).Raw(s.data(), s.size()); }
};

// A model for `version` whose saved fields all hold distinct values, and whose fields that the
// version cannot carry hold what a read leaves there: the new-model defaults for group 0, the
// motions and the 2004002 bones, zero for the other groups, switch A 1 before 2008000.
inline std::unique_ptr<Model> RichModel(int32_t version, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  auto f = [&rng] { return std::uniform_real_distribution<float>(-100, 100)(rng); };
  auto i = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto m = CreateModel(Options("\\data"));
  m->version = version;
  // Counts 3, 3, 1, 1 as a 2005000 file may hold them, more positions for the others.
  const int np = version == kWzpVersion2005 ? 3 : 7, nn = 3, nc = 1,
            nu = version == 2005000 ? 1 : 4;
  GrowPositionPools(*m, np);
  m->normals.resize(nn);
  m->colours.resize(nc);
  m->uvs.resize(nu);
  m->positionCount = np, m->normalCount = nn, m->colourCount = nc, m->uvCount = nu;
  for (int k = 0; k < np; ++k) {
    m->positions[k] = {f(), f(), f()};
    m->attrs[k] = {uint8_t(i(0, 255)), uint8_t(i(0, 255)), f(), uint8_t(i(0, 1))};
  }
  for (Vec3& n : m->normals)
    n = {f(), f(), f()};
  for (ColourF& c : m->colours)
    c = {f(), f(), f(), f()};
  for (Uv& t : m->uvs)
    t = {f(), f()};

  m->textureSlotCount = 4;
  m->textureSlots.resize(4);
  m->textureSlots[1].state = 1;
  m->textureSlots[1].fileName.Set(WZ_TEXT("木目.bmp"));
  m->textureSlots[2].state = 1;  // a named slot with an empty name
  m->textureSlots[3].state = 1;
  m->textureSlots[3].fileName.Set("sub\\stone.png");

  const int ng = 3;
  m->groups.resize(ng);
  m->groupCount = ng;
  for (int g = 0; g < ng; ++g) {
    Group& gr = m->groups[g];
    gr.name.Set(g == 1 ? std::string() : "group" + std::to_string(g));
    gr.textureSlot = i(0, 3);
    gr.colour = {f(), f(), f(), f()};
    gr.shading = i(1, 5);
    gr.parameterByte = uint8_t(i(0, 255));
    gr.parameterFloats = {f(), f(), f(), f()};
    gr.doubleSided = i(0, 1);
    gr.parameter = i(-5, 5);
    gr.mirror = g == 1;
    gr.specularOn = i(0, 1);
    gr.specularColour = {i(0, 255), i(0, 255), i(0, 255)};
    if (version >= kWzpVersion2008) {
      gr.switchA = uint8_t(i(0, 1)), gr.switchAValue = int16_t(i(-9, 9));
      gr.switchB = uint8_t(i(0, 1)), gr.switchBValue = int16_t(i(-9, 9));
      gr.switchC = uint8_t(i(0, 1)), gr.switchCValue = f();
      gr.switchD = uint8_t(i(0, 1)), gr.switchDValue = f();
      gr.bumpMapOn = uint8_t(i(0, 1)), gr.bumpMapSlot = int16_t(i(0, 3));
      gr.secondMapOn = uint8_t(i(0, 1)), gr.secondMapSlot = int16_t(i(0, 3));
      gr.mapValue = f();
      gr.reflectionOn = uint8_t(i(0, 1)), gr.reflectionValue = int16_t(i(-9, 9));
      gr.reflectionByte = uint8_t(i(0, 255)), gr.reflectivity = f();
      gr.trailingSwitch = uint8_t(i(0, 1)), gr.trailingValue = int16_t(i(-9, 9));
    } else {
      gr.switchA = 1;
    }
    if (version >= kWzpVersion2009) {
      gr.uvScrollOn = uint8_t(g);  // 0, 1 and 2: values are saved for 1 only
      if (g == 1) gr.uvScroll = {f(), f()};
    }
  }

  const int shapes[] = {3, 4, 4, 3, 4, 3};
  m->polygons.assign(std::size(shapes), Polygon{});
  m->polygonCount = int32_t(std::size(shapes));
  for (size_t k = 0; k < std::size(shapes); ++k) {
    Polygon& p = m->polygons[k];
    p.cornerCount = uint8_t(shapes[k]);
    p.group = i(0, ng - 1);
    for (int c = 0; c < shapes[k]; ++c)
      p.corners[c] = {i(0, np - 1), i(0, nn - 1), i(0, nc - 1), i(0, nu - 1)};
  }
  if (version == kWzpVersion2005) m->polygons[0].corners[0] = {2, 1, 0, 0};

  if (version >= kWzpVersion2006) {
    // A model map slot above 0 in 2006000 and 2008000 files selects shading mode 8, which
    // rebuilds the normal pool on load; those files keep it at 0 here.
    m->modelMapSlot = version == kWzpVersion2009 ? 2 : 0;
    m->modelScale = f();
    m->drawingParameter = int16_t(i(-99, 99));
  }
  m->drawingSwitch = i(0, 9), m->vertexColoursOn = i(0, 1), m->edgePassOn = i(0, 1);
  m->edgeWidth = f();

  if (version >= kWzpVersion2005) {
    m->motions.resize(2, NewMotion());
    for (size_t mi = 0; mi < 2; ++mi) {
      Motion& mo = m->motions[mi];
      mo.name.Set(mi == 0 ? WZ_TEXT("歩き") : "run");
      mo.value = i(1, 999);
      if (version >= kWzpVersion2008) mo.motionByte = uint8_t(i(0, 255)), mo.motionShort = 7;
      for (int g = 0; g < ng && version >= kWzpVersion2006; ++g) {
        GroupTrack& t = mo.tracks[g];
        t.keyCount = g == 0 ? 16 : i(0, 3);
        for (int k = 0; k < t.keyCount; ++k) {
          t.keys[k] = {i(-99, 99),
                       int16_t(i(-9, 9)),
                       int16_t(i(0, 3)),
                       i(0, 999),
                       {uint32_t(rng()), uint32_t(rng()), uint32_t(rng())}};
        }
      }
    }
    m->boneCount = 4;
    for (int k = 0; k < 4; ++k) {
      Bone& b = m->bones[k];
      b.name.Set("bone" + std::to_string(k));
      b.parent = k > 0 ? i(0, k - 1) : 0;
      b.restPosition = {f(), f(), f()};
      b.restRotation = {f(), f(), f(), f()};
      b.restScale = {f(), f(), f()};
      b.keyLists.assign(2, {});
      for (auto& list : b.keyLists) {
        list.resize(size_t(i(0, 3)));
        for (BoneKey& key : list)
          key = {i(0, 99), {f(), f(), f()}, {f(), f(), f(), f()}, {f(), f(), f()}};
      }
    }
  } else {
    // 2004002 bones are rest-key counts: 0, 2 and 1 rest keys, the names stay the defaults.
    m->boneCount = 3;
    const size_t restKeys[] = {0, 2, 1};
    for (int k = 0; k < 3; ++k)
      m->bones[k].keyLists.assign(1, std::vector<BoneKey>(restKeys[k], kRestKey));
  }
  return m;
}

// The saved fields of `m`, every other field at its empty value: two models give equal results
// exactly when a file carries the same data for both.
inline Model SavedFields(const Model& m) {
  Model s;
  s.version = m.version;
  s.positionCount = m.positionCount, s.normalCount = m.normalCount;
  s.colourCount = m.colourCount, s.uvCount = m.uvCount;
  s.positions.assign(m.positions.begin(), m.positions.begin() + m.positionCount);
  s.attrs.assign(m.attrs.begin(), m.attrs.begin() + m.positionCount);
  s.normals.assign(m.normals.begin(), m.normals.begin() + m.normalCount);
  s.colours.assign(m.colours.begin(), m.colours.begin() + m.colourCount);
  s.uvs.assign(m.uvs.begin(), m.uvs.begin() + m.uvCount);
  s.polygonCount = m.polygonCount;
  s.polygons.assign(m.polygons.begin(), m.polygons.begin() + m.polygonCount);
  for (Polygon& p : s.polygons)
    p.faceNormal = {};
  s.textureSlotCount = m.textureSlotCount;
  for (int k = 0; k < m.textureSlotCount; ++k) {
    s.textureSlots.emplace_back();
    s.textureSlots.back().state = m.textureSlots[k].state;
    s.textureSlots.back().fileName = m.textureSlots[k].fileName;
  }
  s.modelMapSlot = m.modelMapSlot, s.modelScale = m.modelScale;
  s.groupCount = m.groupCount;
  for (int g = 0; g < m.groupCount; ++g) {
    Group gr = m.groups[g];
    gr.exportVertexCount = gr.exportTriangleCount = 0;
    gr.exportPositions = gr.exportNormals = gr.exportScratchA = gr.exportScratchB = {};
    gr.exportColours = {}, gr.exportUvs = {}, gr.exportAttrs = {}, gr.exportTriangles = {};
    gr.centre = gr.boundsMin = gr.boundsMax = {};
    gr.uvOffset = {}, gr.spareByte = 0;
    if (gr.uvScrollOn != 1) gr.uvScroll = {};
    s.groups.push_back(std::move(gr));
  }
  s.drawingSwitch = m.drawingSwitch, s.vertexColoursOn = m.vertexColoursOn;
  s.edgePassOn = m.edgePassOn, s.edgeWidth = m.edgeWidth, s.drawingParameter = m.drawingParameter;
  s.motions = m.motions;
  for (Motion& mo : s.motions) {
    for (int g = 0; g < kMaxGroupTracks; ++g) {
      GroupTrack& t = mo.tracks[g];
      if (g >= m.groupCount) t = {};
      for (int k = std::max(t.keyCount, 0); k < kMaxTrackKeys; ++k)
        t.keys[k] = {};
      t.currentKey = 0;
    }
  }
  s.boneCount = m.boneCount;
  for (int k = 0; k < m.boneCount; ++k) {
    const Bone& b = m.bones[k];
    s.bones[k].name = b.name, s.bones[k].parent = b.parent;
    s.bones[k].restPosition = b.restPosition, s.bones[k].restRotation = b.restRotation;
    s.bones[k].restScale = b.restScale, s.bones[k].keyLists = b.keyLists;
  }
  return s;
}

// Expects the saved fields of two models to be equal, section by section.
inline void ExpectSameSavedFields(const Model& want, const Model& got) {
  const Model a = SavedFields(want), b = SavedFields(got);
  EXPECT_EQ(a.positions, b.positions);
  EXPECT_EQ(a.attrs, b.attrs);
  EXPECT_EQ(a.normals, b.normals);
  EXPECT_EQ(a.colours, b.colours);
  EXPECT_EQ(a.uvs, b.uvs);
  EXPECT_EQ(a.polygons, b.polygons);
  EXPECT_EQ(a.textureSlots, b.textureSlots);
  ASSERT_EQ(a.groups.size(), b.groups.size());
  for (size_t g = 0; g < a.groups.size(); ++g)
    EXPECT_TRUE(a.groups[g] == b.groups[g]) << "group " << g;
  ASSERT_EQ(a.motions.size(), b.motions.size());
  for (size_t k = 0; k < a.motions.size(); ++k)
    EXPECT_TRUE(a.motions[k] == b.motions[k]) << "motion " << k;
  for (int k = 0; k < kMaxBones; ++k)
    EXPECT_TRUE(a.bones[k] == b.bones[k]) << "bone " << k;
  EXPECT_TRUE(a == b) << "a model-level saved value differs";
}

// The file of `m` in the layout of `version`: a writer of each version's items and encodings.
// `exports` gives the export geometry of a 2009000 file; `leading` the discarded value that
// opens each motion block; `keysPastTracks` the key count written (with no keys) for groups past
// the 256 tracks of a motion, which have none.
inline std::vector<uint8_t> WriteLayout(const Model& m, int32_t version,
                                        const std::vector<ExportGeometry>& exports = {},
                                        int32_t leading = 1, int32_t keysPastTracks = 0) {
  const bool old = version <= kWzpVersion2005;
  Bytes w;
  w.Raw("WZP", 3).I32(version);
  for (int32_t n : {m.positionCount, m.normalCount, m.colourCount, m.uvCount})
    old ? w.U16(uint16_t(n)) : w.I32(n);
  w.Raw(m.positions.data(), 12 * size_t(m.positionCount));
  w.Raw(m.normals.data(), 12 * size_t(m.normalCount));
  w.Raw(m.colours.data(), 16 * size_t(m.colourCount));
  w.Raw(m.uvs.data(), 8 * size_t(m.uvCount));
  auto attr = [&w, version](const VertexAttr& a) {
    if (version <= kWzpVersion2006) {
      w.I16(a.bone).I16(a.secondByte).F32(a.weight).I32(a.autoBind);
    } else {
      w.U8(a.bone).U8(a.secondByte).F32(a.weight).U8(a.autoBind);
    }
  };
  for (int k = 0; k < m.positionCount; ++k)
    attr(m.attrs[k]);
  auto polygon = [&w, old](const Polygon& p) {
    if (old) w.I32(0x5A5A5A5A);
    w.U8(p.cornerCount);
    for (int c = 0; c < std::min<int>(p.cornerCount, kMaxCorners); ++c) {
      const Corner& k = p.corners[c];
      if (old) {
        w.U16(uint16_t(k.position)).U16(uint16_t(k.normal)).U16(uint16_t(k.colour));
        w.U16(uint16_t(k.uv));
      } else {
        w.I32(k.position).I32(k.normal).I32(k.colour).I32(k.uv);
      }
    }
    w.I32(p.group);
  };
  version <= kWzpVersion2008 ? w.U16(uint16_t(m.polygonCount)) : w.I32(m.polygonCount);
  for (int k = 0; k < m.polygonCount; ++k)
    polygon(m.polygons[k]);
  w.I16(m.textureSlotCount);
  for (int k = 0; k < m.textureSlotCount; ++k) {
    w.I32(m.textureSlots[k].state);
    if (m.textureSlots[k].state != 0) w.Str(m.textureSlots[k].fileName.View());
  }
  if (version >= kWzpVersion2006) w.I16(m.modelMapSlot).F32(m.modelScale);
  w.I32(m.groupCount);
  for (int g = 0; g < m.groupCount; ++g) {
    const Group& gr = m.groups[g];
    w.Str(gr.name.View()).I32(gr.textureSlot);
    w.F32(gr.colour.r).F32(gr.colour.g).F32(gr.colour.b).F32(gr.colour.a);
    w.I32(gr.shading).U8(gr.parameterByte);
    for (float v : gr.parameterFloats)
      w.F32(v);
    w.I32(gr.doubleSided).I32(gr.parameter).I32(gr.mirror).I32(gr.specularOn);
    for (int32_t v : gr.specularColour)
      w.I32(v);
    if (version >= kWzpVersion2008) {
      w.U8(gr.switchA).I16(gr.switchAValue).U8(gr.switchB).I16(gr.switchBValue);
      w.U8(gr.switchC).F32(gr.switchCValue).U8(gr.switchD).F32(gr.switchDValue);
      w.U8(gr.bumpMapOn).I16(gr.bumpMapSlot).U8(gr.secondMapOn).I16(gr.secondMapSlot);
      w.F32(gr.mapValue).U8(gr.reflectionOn).I16(gr.reflectionValue).U8(gr.reflectionByte);
      w.F32(gr.reflectivity);
    }
    if (version >= kWzpVersion2009) {
      const ExportGeometry& e = exports.at(size_t(g));
      const size_t nv = e.positions.size();
      w.I32(int32_t(nv)).Raw(e.positions.data(), 12 * nv).Raw(e.normals.data(), 12 * nv);
      w.Raw(e.colours.data(), 16 * nv).Raw(e.uvs.data(), 8 * nv);
      for (const VertexAttr& a : e.attrs)
        attr(a);
      w.I32(int32_t(e.triangles.size()));
      for (const Polygon& t : e.triangles)
        polygon(t);
    }
  }
  w.I32(m.drawingSwitch).I32(m.vertexColoursOn).I32(m.edgePassOn).F32(m.edgeWidth);
  if (version >= kWzpVersion2006) w.I16(m.drawingParameter);
  if (version >= kWzpVersion2005) {
    w.I32(int32_t(m.motions.size()));
    for (const Motion& mo : m.motions) {
      w.I32(leading);
      for (int g = 0; g < m.groupCount && version >= kWzpVersion2006; ++g) {
        if (g >= kMaxGroupTracks) {
          w.I32(keysPastTracks);
          continue;
        }
        w.I32(mo.tracks[g].keyCount);
        for (int k = 0; k < std::min(mo.tracks[g].keyCount, kMaxTrackKeys); ++k) {
          const GroupKey& key = mo.tracks[g].keys[k];
          w.I32(key.value0).I16(key.value1).I16(key.textureSlot).I32(key.value2);
          w.Raw(key.words.data(), 12);
        }
      }
      w.Str(mo.name.View()).I32(mo.value);
    }
  }
  w.I32(m.boneCount);
  for (int k = 0; k < std::min(m.boneCount, kMaxBones); ++k) {
    const Bone& b = m.bones[k];
    if (version == kWzpVersion2004) {
      w.I32(int32_t(b.keyLists.at(0).size()));
      continue;
    }
    w.Str(b.name.View()).I32(b.parent).Raw(&b.restPosition, 12).Raw(&b.restRotation, 16);
    w.Raw(&b.restScale, 12);
    for (const auto& list : b.keyLists) {
      w.I32(int32_t(list.size()));
      for (const BoneKey& key : list)
        w.I32(key.frame).Raw(&key.position, 12).Raw(&key.rotation, 16).Raw(&key.scale, 12);
    }
  }
  if (version >= kWzpVersion2008) {
    for (int g = 0; g < m.groupCount; ++g)
      w.U8(m.groups[g].trailingSwitch).I16(m.groups[g].trailingValue);
    for (const Motion& mo : m.motions)
      w.U8(mo.motionByte).I16(mo.motionShort);
  }
  if (version >= kWzpVersion2009) {
    for (int g = 0; g < m.groupCount; ++g) {
      w.U8(m.groups[g].uvScrollOn);
      if (m.groups[g].uvScrollOn == 1) w.F32(m.groups[g].uvScroll[0]).F32(m.groups[g].uvScroll[1]);
    }
  }
  return w.b;
}

}  // namespace wz::testing
