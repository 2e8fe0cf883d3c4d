#include "model/model.h"

#include <gtest/gtest.h>

#include <string>

#include "model/model_invariants.h"
#include "model/test_models.h"

namespace wz {
namespace {

using testing::Options;

// Code-page-932 bytes of the new-model texts, written out by hand from the code page's table.
constexpr char kGroupName[] = "\x83\x4F\x83\x8B\x81\x5B\x83\x76";                   // グループ
constexpr char kRootBone[] = "\x90\x65\x83\x7B\x81\x5B\x83\x93";                    // 親ボーン
constexpr char kBonePrefix[] = "\x83\x7B\x81\x5B\x83\x93\x5F";                      // ボーン_
constexpr char kMotionName[] = "\x83\x82\x81\x5B\x83\x56\x83\x87\x83\x93\x96\xBC";  // モーション名
constexpr char kNewFile[] = "\x90\x56\x8B\x4B\x2E\x57\x5A\x50";                     // 新規.WZP
constexpr char kNoSound[] = "\x82\xC8\x82\xB5";                                     // なし

// The whole field: the text, then zero bytes up to the end.
template <size_t N>
void ExpectField(const FixedString<N>& field, std::string_view text) {
  std::string expected(text);
  expected.resize(N, '\0');
  EXPECT_EQ(std::string(field.Bytes().data(), N), expected) << "field text " << text;
}

TEST(NewModel, NamesAreCodePage932Bytes) {
  auto m = CreateModel(Options("C:\\wz\\Data"));
  EXPECT_EQ(m->fileName.View(), kNewFile);
  EXPECT_EQ(m->directory.View(), "C:\\wz\\Data");
  EXPECT_EQ(m->fullPath.View(), std::string("C:\\wz\\Data/") + kNewFile);
  ExpectField(m->groups[0].name, kGroupName);
  ExpectField(m->motions[0].name, kMotionName);
  ExpectField(m->soundNames[0], kNoSound);
  for (int k = 1; k < kMaxSoundNames; ++k)
    ExpectField(m->soundNames[k], "");
  ExpectField(m->bones[0].name, kRootBone);
}

TEST(NewModel, BoneNamesPadToTwoDigits) {
  auto m = CreateModel({});
  const std::pair<int, const char*> cases[] = {{1, "01"},  {9, "09"},    {10, "10"},
                                               {99, "99"}, {100, "100"}, {127, "127"}};
  for (auto [k, digits] : cases)
    ExpectField(m->bones[k].name, std::string(kBonePrefix) + digits);
  EXPECT_EQ(DefaultBoneName(0), kRootBone);
}

TEST(NewModel, RecordDefaults) {
  auto m = CreateModel(Options("D"));
  EXPECT_EQ(m->version, 2009000);
  EXPECT_EQ(m->inUse, 1);
  EXPECT_EQ(m->loaded.Get(), 0);
  EXPECT_EQ(m->released.Get(), 0);
  // No pools without preallocation, and every count zero.
  EXPECT_TRUE(m->positions.empty() && m->normals.empty() && m->colours.empty() && m->uvs.empty() &&
              m->attrs.empty() && m->animatedPositions.empty() && m->smoothNormals.empty() &&
              m->polygons.empty());
  EXPECT_EQ(m->positionCount + m->normalCount + m->colourCount + m->uvCount + m->polygonCount, 0);

  EXPECT_EQ(m->groupCount, 1);
  ASSERT_EQ(m->groups.size(), 1u);
  EXPECT_EQ(m->textureSlotCount, 1);
  ASSERT_EQ(m->textureSlots.size(), 1u);
  EXPECT_EQ(m->textureSlots[0], TextureSlot{});
  EXPECT_EQ(m->modelMapSlot, 0);
  EXPECT_EQ(m->modelScale, 1.0f);
  EXPECT_EQ(m->drawingParameter, 4);
  EXPECT_EQ(m->boneCount, 2);
  EXPECT_EQ(m->colour, (ColourF{255, 255, 255, 255}));
  EXPECT_EQ(m->soundNameCount, 1);
  EXPECT_EQ(m->drawingSwitch, 1);
  EXPECT_EQ(m->vertexColoursOn, 0);
  EXPECT_EQ(m->edgePassOn, 0);
  EXPECT_EQ(m->edgeWidth, 1.0f);
  EXPECT_EQ(m->drawingState, (DrawingState{1, 1, 1, 0, -0.01f, 1.0f, 0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(m->drawingBuffers, DrawingBuffers{});
  EXPECT_EQ(m->drawingByte, 1);
  EXPECT_EQ(m->postLoadMark, 1);
  EXPECT_EQ(m->spare, 0);
  EXPECT_EQ(m->shadingMode, 3);
  EXPECT_EQ(m->shadingChanged, 1);
  EXPECT_EQ(m->deformOn, 0);
  EXPECT_EQ(m->displayMode, 2);
  EXPECT_EQ(m->currentFrame, 0);
  EXPECT_EQ(m->frameFraction, 0.0f);
  EXPECT_EQ(m->currentMotion, 0);
  EXPECT_EQ(m->playbackByte, 0);
  EXPECT_EQ(m->boundsMin, (Vec3{0, 0, 0}));
  EXPECT_EQ(m->boundsMax, (Vec3{0, 0, 0}));
  EXPECT_EQ(m->spareValue, 3.0f);
  EXPECT_EQ(m->drawingFlag, 0);
  EXPECT_FALSE(CheckModelInvariants(*m).has_value());
}

TEST(NewModel, GroupDefaults) {
  Group g = NewGroup();
  ExpectField(g.name, kGroupName);
  EXPECT_EQ(g.textureSlot, 0);
  EXPECT_EQ(g.colour, (ColourF{200, 200, 200, 255}));
  EXPECT_EQ(g.shading, 4);
  EXPECT_EQ(g.parameterByte, 0);
  EXPECT_EQ(g.parameterFloats, (std::array<float, 4>{0, 0, 1, 1}));
  EXPECT_EQ(g.doubleSided, 0);
  EXPECT_EQ(g.parameter, 4);
  EXPECT_EQ(g.mirror, 0);
  EXPECT_EQ(g.specularOn, 0);
  EXPECT_EQ(g.specularColour, (std::array<int32_t, 3>{64, 64, 64}));
  EXPECT_EQ(std::tie(g.switchA, g.switchAValue, g.switchB, g.switchBValue),
            std::make_tuple(uint8_t{0}, int16_t{0}, uint8_t{0}, int16_t{1}));
  EXPECT_EQ(std::tie(g.switchC, g.switchCValue, g.switchD, g.switchDValue),
            std::make_tuple(uint8_t{0}, 1.0f, uint8_t{0}, 1.0f));
  EXPECT_EQ(std::tie(g.bumpMapOn, g.bumpMapSlot, g.secondMapOn, g.secondMapSlot, g.mapValue),
            std::make_tuple(uint8_t{0}, int16_t{0}, uint8_t{0}, int16_t{0}, 1.0f));
  EXPECT_EQ(std::tie(g.reflectionOn, g.reflectionValue, g.reflectionByte, g.reflectivity),
            std::make_tuple(uint8_t{0}, int16_t{0}, uint8_t{0}, 1.0f));
  EXPECT_EQ(std::tie(g.trailingSwitch, g.trailingValue), std::make_tuple(uint8_t{0}, int16_t{1}));
  EXPECT_EQ(g.exportVertexCount, 0);
  EXPECT_EQ(g.exportTriangleCount, 0);
  EXPECT_TRUE(g.exportPositions.empty() && g.exportTriangles.empty() && g.exportAttrs.empty());
  EXPECT_EQ(g.uvScrollOn, 0);
  EXPECT_EQ(g.uvScroll, (std::array<float, 2>{0, 0}));
  EXPECT_EQ(g.uvOffset, (std::array<double, 2>{0, 0}));
  EXPECT_EQ(g.spareByte, 1);
  EXPECT_EQ(CreateModel({})->groups[0], g);
}

TEST(NewModel, BonesRestWithOneRestKeyEach) {
  auto m = CreateModel({});
  const BoneKey rest{0, {0, 0, 0}, {0, 0, 0, 1}, {1, 1, 1}};
  for (int k = 0; k < kMaxBones; ++k) {
    const Bone& b = m->bones[k];
    SCOPED_TRACE(k);
    EXPECT_EQ(b.restPosition, (Vec3{0, 0, 0}));
    EXPECT_EQ(b.restRotation, (Vec4{0, 0, 0, 1}));
    EXPECT_EQ(b.restScale, (Vec3{1, 1, 1}));
    EXPECT_EQ(b.parent, 0);
    ASSERT_EQ(b.keyLists.size(), 1u);
    ASSERT_EQ(b.keyLists[0].size(), 1u);
    EXPECT_EQ(b.keyLists[0][0], rest);
  }
}

TEST(NewModel, OneMotionWithEmptyTracks) {
  auto m = CreateModel({});
  ASSERT_EQ(m->motions.size(), 1u);
  const Motion& mo = m->motions[0];
  ExpectField(mo.name, kMotionName);
  EXPECT_EQ(mo.value, 60);
  EXPECT_EQ(mo.motionByte, 1);
  EXPECT_EQ(mo.motionShort, -1);
  for (const GroupTrack& t : mo.tracks)
    EXPECT_EQ(t, GroupTrack{});
}

TEST(NewModel, ToonTextureTurnsShadingThreeIntoTwo) {
  EXPECT_EQ(CreateModel(Options("", true))->shadingMode, 2);
  Model m;
  const std::tuple<int, bool, int> cases[] = {
      {3, false, 3}, {3, true, 2}, {6, true, 6}, {8, true, 8}, {2, false, 2}};
  for (auto [mode, toon, expected] : cases) {
    m.shadingChanged = 0;
    SetShadingMode(m, mode, toon);
    EXPECT_EQ(m.shadingMode, expected) << mode << " toon " << toon;
    EXPECT_EQ(m.shadingChanged, 1);
  }
}

TEST(NewModel, LongDataDirectoryIsKeptWhole) {
  // A path cut to a fixed field would name another folder: path fields hold any length.
  std::string dir(600, 'd');
  dir += kRootBone;
  auto m = CreateModel(Options(dir));
  EXPECT_EQ(m->directory.View(), dir);
  EXPECT_EQ(m->fullPath.View(), dir + "/" + kNewFile);
}

TEST(Preallocation, GivesCapacityPoolsAndZeroedPolygons) {
  const ModelCapacities caps = ModelCapacities::ForPolygonCapacity(7);
  auto m = CreateModel(Options("", false, true, caps));
  for (size_t size : {m->positions.size(), m->normals.size(), m->colours.size(), m->uvs.size(),
                      m->attrs.size(), m->animatedPositions.size(), m->smoothNormals.size()}) {
    EXPECT_EQ(size, 28u);
  }
  for (const VertexAttr& a : m->attrs)
    EXPECT_EQ(a, (VertexAttr{0, 0, 0.0f, 1}));
  ASSERT_EQ(m->polygons.size(), 7u);
  for (const Polygon& p : m->polygons)
    EXPECT_EQ(p, Polygon{});
  EXPECT_EQ(m->positionCount + m->normalCount + m->polygonCount, 0);
  EXPECT_FALSE(CheckModelInvariants(*m).has_value());
}

TEST(Preallocation, DefaultCapacitiesAreTheLibraryDefaults) {
  const ModelCapacities caps;
  EXPECT_EQ(caps.polygons, 65000);
  EXPECT_EQ(caps.vertices, 260000);
  auto m = CreateModel(Options("", false, true));
  EXPECT_EQ(m->positions.size(), 260000u);
  EXPECT_EQ(m->attrs.size(), 260000u);
  EXPECT_EQ(m->polygons.size(), 65000u);
}

TEST(Preallocation, CapacitiesFromOddPolygonLimits) {
  EXPECT_EQ(ModelCapacities::ForPolygonCapacity(-5).polygons, 0);
  EXPECT_EQ(ModelCapacities::ForPolygonCapacity(-5).vertices, 0);
  const ModelCapacities big = ModelCapacities::ForPolygonCapacity(INT32_MAX);
  EXPECT_GT(big.vertices, 0);  // 4 x the limit does not wrap
  EXPECT_EQ(big.vertices, 4 * big.polygons);
}

TEST(GrowingPools, PositionPoolsGrowTogetherAndKeepContents) {
  Model m;
  GrowPositionPools(m, 2);
  m.positions[1] = {1, 2, 3};
  m.attrs[1] = {5, 6, 0.5f, 0};
  GrowPositionPools(m, 5);
  for (size_t size :
       {m.positions.size(), m.attrs.size(), m.animatedPositions.size(), m.smoothNormals.size()}) {
    EXPECT_EQ(size, 5u);
  }
  EXPECT_EQ(m.positions[1], (Vec3{1, 2, 3}));
  EXPECT_EQ(m.attrs[1], (VertexAttr{5, 6, 0.5f, 0}));
  EXPECT_EQ(m.attrs[4], kFreshVertexAttr);
  GrowPositionPools(m, 3);  // never shrinks
  EXPECT_EQ(m.positions.size(), 5u);
}

TEST(Record, CopiesCarryTheSharedBytes) {
  auto m = CreateModel({});
  m->loaded.Set(1);
  m->released.Set(1);
  Model copy = *m;
  EXPECT_EQ(copy.loaded.Get(), 1);
  EXPECT_EQ(copy.released.Get(), 1);
  EXPECT_EQ(copy, *m);
  copy.bones[3].keyLists[0][0].frame = 9;
  EXPECT_NE(copy, *m);
}

}  // namespace
}  // namespace wz
