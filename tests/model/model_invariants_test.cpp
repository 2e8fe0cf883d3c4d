#include "model/model_invariants.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <ostream>
#include <string>

#include "model/test_models.h"

namespace wz {
namespace {

// A sound model that uses every part the invariants cover: all four pools, two groups with
// texture and map slots, export geometry, two motions with keyed tracks, and a bone chain.
std::unique_ptr<Model> SoundModel() {
  auto m = testing::MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
                                  {{0, 1, 2, 3}, {0, 2, 3}, {1}});
  m->normals.assign(2, {0, 0, 1});
  m->normalCount = 2;
  m->colours.assign(3, {255, 255, 255, 255});
  m->colourCount = 3;
  m->uvs.assign(4, {});
  m->uvCount = 4;
  m->polygons[0].corners[3] = {3, 1, 2, 3};
  m->polygons[1].group = 1;
  m->groups.push_back(NewGroup());
  m->groupCount = 2;
  m->textureSlots.resize(3);
  m->textureSlotCount = 3;
  m->modelMapSlot = 2;
  m->groups[0].textureSlot = 2;
  m->groups[1].bumpMapSlot = 1;
  m->groups[1].secondMapSlot = 2;
  Group& g = m->groups[0];
  g.exportVertexCount = 3;
  g.exportPositions.resize(3);
  g.exportNormals.resize(3);
  g.exportColours.resize(3);
  g.exportUvs.resize(3);
  g.exportAttrs.resize(3);
  g.exportTriangles.resize(1);
  g.exportTriangles[0].cornerCount = 3;
  g.exportTriangles[0].corners[2].position = 2;
  g.exportTriangleCount = 1;
  m->motions.push_back(NewMotion());
  m->motions[1].tracks[1].keyCount = 16;
  m->boneCount = 4;
  for (int k = 0; k < 4; ++k)
    m->bones[k].keyLists.resize(2);
  m->bones[2].parent = 1;
  m->bones[3].parent = 2;
  return m;
}

TEST(ModelInvariants, SoundModelsPass) {
  auto check = [](const Model& m) {
    auto e = CheckModelInvariants(m);
    EXPECT_FALSE(e.has_value()) << ModelFaultName(e->fault) << ": " << e->message;
  };
  check(*SoundModel());
  check(*CreateModel({}));
  check(*CreateModel(testing::Options("", false, true, ModelCapacities::ForPolygonCapacity(3))));
  check(Model{});  // the empty state, before any defaults
}

struct Breakage {
  const char* what;
  ModelFault fault;
  std::function<void(Model&)> apply;
};

void PrintTo(const Breakage& b, std::ostream* os) {
  *os << b.what;
}

class BrokenInvariant : public ::testing::TestWithParam<Breakage> {};

TEST_P(BrokenInvariant, IsNamed) {
  auto m = SoundModel();
  GetParam().apply(*m);
  auto e = CheckModelInvariants(*m);
  ASSERT_TRUE(e.has_value()) << GetParam().what;
  EXPECT_EQ(e->fault, GetParam().fault)
      << GetParam().what << " reported as " << ModelFaultName(e->fault) << ": " << e->message;
  EXPECT_FALSE(e->message.empty());
}

const Breakage kBreakages[] = {
    {"negative colour count", ModelFault::kNegativeCount, [](Model& m) { m.colourCount = -1; }},
    {"negative texture slot count", ModelFault::kNegativeCount,
     [](Model& m) { m.textureSlotCount = -2; }},
    {"position count beyond the positions", ModelFault::kCountBeyondPool,
     [](Model& m) { m.positionCount = 5; }},
    {"attributes shorter than the positions", ModelFault::kCountBeyondPool,
     [](Model& m) { m.attrs.resize(3); }},
    {"no smooth-normal pool", ModelFault::kCountBeyondPool,
     [](Model& m) { m.smoothNormals.clear(); }},
    {"no animated-position pool", ModelFault::kCountBeyondPool,
     [](Model& m) { m.animatedPositions.clear(); }},
    {"UV count beyond the UVs", ModelFault::kCountBeyondPool, [](Model& m) { m.uvCount = 5; }},
    {"export normals shorter than the export vertex count", ModelFault::kCountBeyondPool,
     [](Model& m) { m.groups[0].exportNormals.resize(2); }},
    {"polygon count beyond the list", ModelFault::kCountBeyondList,
     [](Model& m) { m.polygonCount = 4; }},
    {"group count beyond the list", ModelFault::kCountBeyondList,
     [](Model& m) { m.groupCount = 3; }},
    {"texture slot count beyond the list", ModelFault::kCountBeyondList,
     [](Model& m) { m.textureSlotCount = 4; }},
    {"sound-name count beyond 100", ModelFault::kCountBeyondList,
     [](Model& m) { m.soundNameCount = 101; }},
    {"export triangle count beyond the list", ModelFault::kCountBeyondList,
     [](Model& m) { m.groups[0].exportTriangleCount = 2; }},
    {"polygon of 0 corners", ModelFault::kBadCornerCount,
     [](Model& m) { m.polygons[2].cornerCount = 0; }},
    {"polygon of 5 corners", ModelFault::kBadCornerCount,
     [](Model& m) { m.polygons[1].cornerCount = 5; }},
    {"export triangle of 6 corners", ModelFault::kBadCornerCount,
     [](Model& m) { m.groups[0].exportTriangles[0].cornerCount = 6; }},
    {"position index at the count", ModelFault::kCornerIndexOutOfRange,
     [](Model& m) { m.polygons[0].corners[2].position = 4; }},
    {"negative position index", ModelFault::kCornerIndexOutOfRange,
     [](Model& m) { m.polygons[2].corners[0].position = -1; }},
    {"normal index at the count", ModelFault::kCornerIndexOutOfRange,
     [](Model& m) { m.polygons[0].corners[3].normal = 2; }},
    {"colour index beyond the count", ModelFault::kCornerIndexOutOfRange,
     [](Model& m) { m.polygons[1].corners[0].colour = 7; }},
    {"non-zero index into an unused UV pool", ModelFault::kCornerIndexOutOfRange,
     [](Model& m) {
       m.uvCount = 0;
       m.polygons[0].corners[3].uv = 1;
     }},
    {"export corner beyond the export vertices", ModelFault::kCornerIndexOutOfRange,
     [](Model& m) { m.groups[0].exportTriangles[0].corners[1].position = 3; }},
    {"group index at the group count", ModelFault::kGroupIndexOutOfRange,
     [](Model& m) { m.polygons[1].group = 2; }},
    {"negative group index", ModelFault::kGroupIndexOutOfRange,
     [](Model& m) { m.polygons[0].group = -1; }},
    {"group texture slot at the slot count", ModelFault::kTextureSlotOutOfRange,
     [](Model& m) { m.groups[0].textureSlot = 3; }},
    {"negative group texture slot", ModelFault::kTextureSlotOutOfRange,
     [](Model& m) { m.groups[1].textureSlot = -1; }},
    {"bump map slot beyond the slots", ModelFault::kTextureSlotOutOfRange,
     [](Model& m) { m.groups[1].bumpMapSlot = 9; }},
    {"second map slot beyond the slots", ModelFault::kTextureSlotOutOfRange,
     [](Model& m) { m.groups[1].secondMapSlot = 3; }},
    {"model map slot beyond the slots", ModelFault::kTextureSlotOutOfRange,
     [](Model& m) { m.modelMapSlot = 3; }},
    {"129 bones", ModelFault::kTooManyBones, [](Model& m) { m.boneCount = 129; }},
    {"17 keys in a track", ModelFault::kTooManyTrackKeys,
     [](Model& m) { m.motions[1].tracks[0].keyCount = 17; }},
    {"negative key count", ModelFault::kTooManyTrackKeys,
     [](Model& m) { m.motions[0].tracks[1].keyCount = -1; }},
    {"bone in use without a key list per motion", ModelFault::kKeyListsNotPerMotion,
     [](Model& m) { m.bones[3].keyLists.resize(1); }},
    {"bone with a key list too many", ModelFault::kKeyListsNotPerMotion,
     [](Model& m) { m.bones[0].keyLists.resize(3); }},
};

INSTANTIATE_TEST_SUITE_P(EachOnce, BrokenInvariant, ::testing::ValuesIn(kBreakages),
                         [](const ::testing::TestParamInfo<Breakage>& info) {
                           std::string name;
                           bool upper = true;
                           for (const char* c = info.param.what; *c; ++c) {
                             const unsigned char u = static_cast<unsigned char>(*c);
                             if (!std::isalnum(u)) {
                               upper = true;
                               continue;
                             }
                             name += upper ? static_cast<char>(std::toupper(u)) : *c;
                             upper = false;
                           }
                           return name;
                         });

// What the invariants allow on purpose.
TEST(ModelInvariants, AllowsWhatReadersLegitimatelyLeave) {
  struct Allowed {
    const char* what;
    std::function<void(Model&)> apply;
  };
  const Allowed cases[] = {
      {"index 0 into an unused normal pool",
       [](Model& m) {
         m.normalCount = 0;
         for (Polygon& p : m.polygons) {
           for (Corner& c : p.corners)
             c.normal = 0;
         }
       }},
      {"slot 0 with no texture slot at all",
       [](Model& m) {
         m.textureSlotCount = 0;
         m.modelMapSlot = 0;
         for (Group& g : m.groups)
           g.textureSlot = g.bumpMapSlot = g.secondMapSlot = 0;
       }},
      {"257 groups without motions",
       [](Model& m) {
         m.motions.clear();
         for (Bone& b : m.bones)
           b.keyLists.clear();
         m.groups.resize(257);
         m.groupCount = 257;
       }},
      // Groups past 256 have no track, which is a track of no keys.
      {"257 groups with motions",
       [](Model& m) {
         m.groups.resize(257);
         m.groupCount = 257;
       }},
      // The bind pose joins a bone only to an earlier one; any other parent keeps its local
      // matrix.
      {"a bone that is its own parent", [](Model& m) { m.bones[2].parent = 2; }},
      {"a bone whose parent comes later", [](Model& m) { m.bones[1].parent = 3; }},
      {"a negative parent", [](Model& m) { m.bones[3].parent = -1; }},
      {"bone 0 with any parent", [](Model& m) { m.bones[0].parent = 7; }},
      {"garbage beyond the used polygons",
       [](Model& m) {
         m.polygons.push_back({});
         m.polygons.back().cornerCount = 9;
         m.polygons.back().corners[0].position = 1000;
       }},
      {"keys beyond the used groups' tracks",
       [](Model& m) { m.motions[0].tracks[5].keyCount = 99; }},
      {"bones beyond the count without key lists", [](Model& m) { m.bones[4].keyLists.clear(); }},
  };
  for (const Allowed& a : cases) {
    auto m = SoundModel();
    a.apply(*m);
    auto e = CheckModelInvariants(*m);
    EXPECT_FALSE(e.has_value()) << a.what << ": " << ModelFaultName(e->fault) << " " << e->message;
  }
}

}  // namespace
}  // namespace wz
