#include <gtest/gtest.h>

#include "formats/formats.h"
#include "formats/mx_fixtures.h"
#include "model/model_invariants.h"
#include "model/test_models.h"

namespace wz {
namespace {

using testing::BuildMx;
using testing::MxFileLayout;
using testing::MxQuadBytes;

// The quad of the unit square: slots 0 to 3 hold (0,0,0), (1,0,0), (1,1,0), (0,1,0).
MxQuadBytes UnitQuad() {
  MxQuadBytes q;
  q.vertexSlots = {{{0, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 0, 1}, {0, 1, 0, 1}}};
  q.normalSlots = {{{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {10, 11, 12, 0}}};
  q.uvs = {{{128, 64}, {0, 0}, {256, 128}, {64, 32}}};
  q.colour = 0x00FF8000;
  q.texture = 0;
  return q;
}

int Load(RecordingModelHost& host, Model& model, const std::vector<uint8_t>& file) {
  int result = LoadMxFromMemory(host, model, "a.mx", file, 0);
  auto fault = CheckModelInvariants(model);
  EXPECT_FALSE(fault) << fault->message;
  return result;
}

TEST(MxReader, TurnsAQuadIntoAReversedFourCornerPolygon) {
  for (uint32_t top : {0x00u, 0x7Fu, 0xFFu}) {  // the colour word's top byte means nothing
    MxQuadBytes q = UnitQuad();
    q.colour |= top << 24;
    RecordingModelHost host;
    host.textureSizes = {{256.0f, 128.0f}};
    auto model = CreateModel({});
    ASSERT_EQ(Load(host, *model, BuildMx({{q}, {"wood"}})), 1);

    ASSERT_EQ(model->polygonCount, 1);
    const Polygon& p = model->polygons[0];
    EXPECT_EQ(p.cornerCount, 4);
    EXPECT_EQ(p.group, 0);
    const Vec3 positions[] = {{0, -1, 0}, {1, -1, 0}, {1, 0, 0}, {0, 0, 0}};
    const Vec3 normals[] = {{10, -11, -12}, {7, -8, -9}, {4, -5, -6}, {1, -2, -3}};
    const Uv uvs[] = {{0.5f, 0.5f}, {0, 0}, {1, 1}, {0.25f, 0.25f}};
    for (int k = 0; k < 4; ++k) {
      const Corner& c = p.corners[size_t(k)];
      EXPECT_EQ(c, (Corner{k, k, k, k}));
      EXPECT_EQ(model->positions[size_t(k)], positions[k]) << k;
      EXPECT_EQ(model->normals[size_t(k)], normals[k]) << k;
      EXPECT_EQ(model->uvs[size_t(k)], uvs[k]) << k;
      EXPECT_EQ(model->colours[size_t(k)], (ColourF{255, 128, 0, 255})) << top;
    }
    EXPECT_EQ(model->positionCount, 4);
    EXPECT_EQ(model->normalCount, 4);
    EXPECT_EQ(model->colourCount, 4);
    EXPECT_EQ(model->uvCount, 4);

    // Name record 0 is texture slot 1 and the quad's group takes it.
    EXPECT_EQ(model->groupCount, 1);
    EXPECT_EQ(model->groups[0].textureSlot, 1);
    EXPECT_EQ(model->textureSlotCount, 2);
    EXPECT_EQ(model->textureSlots[1].state, 1);
    EXPECT_EQ(model->textureSlots[1].fileName.View(), "wood.bmp");
    EXPECT_EQ(host.textures, std::vector<std::string>{"wood.bmp"});
    EXPECT_EQ(*host.TextureIdCell(1), 0);
    ASSERT_EQ(host.textureLoads.size(), 1u);
    EXPECT_EQ(host.textureLoads[0], (std::pair<int32_t, std::string>{1, "wood.bmp"}));
    EXPECT_EQ(model->fileName.View(), "a.mx");
    EXPECT_EQ(model->shadingChanged, 1);
  }
}

TEST(MxReader, IgnoresTheMagicAndBlockA) {
  RecordingModelHost host;
  auto reference = CreateModel({});
  ASSERT_EQ(Load(host, *reference, BuildMx({{UnitQuad()}, {"wood"}})), 1);
  struct Case {
    const char* magic;
    uint32_t sceneRecords;
    uint8_t fill;
  };
  for (const Case& c : {Case{"XYZ", 1, 0}, Case{"MXF", 0, 0}, Case{"", 31, 0xA5}}) {
    RecordingModelHost other;
    auto model = CreateModel({});
    ASSERT_EQ(
        Load(other, *model, BuildMx({{UnitQuad()}, {"wood"}, c.sceneRecords, c.fill, c.magic})), 1);
    EXPECT_EQ(*model, *reference) << c.magic << " " << c.sceneRecords;
  }
}

TEST(MxReader, LastQuadOfAGroupDecidesItsTextureAndUnsizedTexturesLeaveUvs) {
  MxQuadBytes a = UnitQuad(), b = UnitQuad(), c = UnitQuad(), d = UnitQuad();
  a.texture = 0, a.group = 0;
  b.texture = -1, b.group = 0;  // group 0 ends without texture
  c.texture = -1, c.group = 1;
  d.texture = 2, d.group = 1;  // group 1 ends with record 2, whose file has no size
  RecordingModelHost host;
  host.textureSizes = {{256.0f, 128.0f}};
  auto model = CreateModel({});
  ASSERT_EQ(Load(host, *model, BuildMx({{a, b, c, d}, {"wood", "", "stone"}})), 1);
  EXPECT_EQ(model->groupCount, 3);
  EXPECT_EQ(model->groups[0].textureSlot, 0);
  EXPECT_EQ(model->groups[1].textureSlot, 3);
  EXPECT_EQ(model->groups[2].textureSlot, 0);
  EXPECT_EQ(model->textureSlotCount, 4);
  EXPECT_EQ(model->textureSlots[2].state, 0);  // the empty record names nothing
  EXPECT_EQ(host.textures, (std::vector<std::string>{"wood.bmp", "stone.bmp"}));
  EXPECT_EQ(model->uvs[0], (Uv{0.5f, 0.5f}));      // textured: divided by 256 x 128
  EXPECT_EQ(model->uvs[4], (Uv{128.0f, 64.0f}));   // no texture: as stored
  EXPECT_EQ(model->uvs[12], (Uv{128.0f, 64.0f}));  // texture without a size: as stored
}

TEST(MxReader, UvsOfATextureThatFailedToLoadStayAsStored) {
  struct FailingHost : RecordingModelHost {
    int32_t LoadTexture(const std::string&, int32_t* index) override {
      if (index) *index = -1;
      return -1;
    }
  } host;
  host.textureSizes = {{256.0f, 128.0f}};
  auto model = CreateModel({});
  ASSERT_EQ(LoadMxFromMemory(host, *model, "a.mx", BuildMx({{UnitQuad()}, {"wood"}}), 0), 1);
  EXPECT_EQ(model->uvs[0], (Uv{128.0f, 64.0f}));
  EXPECT_EQ(model->groups[0].textureSlot, 1);
}

TEST(MxReader, ReadsMoreRecordsThanTheOriginalCapacities) {
  MxFileLayout layout;
  layout.sceneRecords = 31;
  layout.quads.assign(2001, UnitQuad());
  layout.quads.back().group = 299;
  layout.names.assign(300, "");
  layout.names[0] = "wood";
  RecordingModelHost host;
  auto model =
      CreateModel(testing::Options("", false, true, ModelCapacities::ForPolygonCapacity(1)));
  model->motions.clear();  // more than 256 groups need a model without motions
  for (Bone& bone : model->bones)
    bone.keyLists.clear();
  ASSERT_EQ(Load(host, *model, BuildMx(layout)), 1);
  EXPECT_EQ(model->polygonCount, 2001);
  EXPECT_EQ(model->positionCount, 8004);
  EXPECT_EQ(model->groupCount, 300);
  EXPECT_EQ(model->polygons[2000].group, 299);
}

TEST(MxReader, RefusesWhatTheModelCannotHoldAndLeavesItUnchanged) {
  auto withQuad = [](int16_t texture, int16_t group) {
    MxQuadBytes q = UnitQuad();
    q.texture = texture;
    q.group = group;
    return BuildMx({{q}, {"wood", "stone"}});
  };
  std::vector<uint8_t> tooManyNames = BuildMx({{UnitQuad()}, std::vector<std::string>(257, "")});
  std::vector<uint8_t> announcesMore = withQuad(0, 0);
  announcesMore[16] = 336 & 0xFF;  // two quads, one more than the file holds
  announcesMore[17] = 336 >> 8;
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"negative group", withQuad(0, -1)},          {"group beyond the names", withQuad(0, 2)},
      {"texture beyond the names", withQuad(2, 0)}, {"texture index -2", withQuad(-2, 0)},
      {"257 groups with motions", tooManyNames},    {"block B longer than the file", announcesMore},
      {"no header", std::vector<uint8_t>(31, 0)},
  };
  for (const auto& [what, file] : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    const Model before = *model;
    EXPECT_EQ(Load(host, *model, file), 0) << what;
    EXPECT_EQ(*model, before) << what;
    ASSERT_EQ(host.lines.size(), 1u) << what;
    EXPECT_EQ(host.lines[0].rfind("*** LoadError *** a.mx : ", 0), 0u) << host.lines[0];
    EXPECT_TRUE(host.textures.empty()) << what;
  }
}

TEST(MxReader, EveryTruncatedPrefixIsRefused) {
  const std::vector<uint8_t> file = BuildMx({{UnitQuad(), UnitQuad()}, {"wood"}});
  for (size_t n = 0; n < file.size(); ++n) {
    RecordingModelHost host;
    auto model = CreateModel({});
    const Model before = *model;
    ASSERT_EQ(Load(host, *model, {file.begin(), file.begin() + long(n)}), 0) << n;
    ASSERT_EQ(*model, before) << n;
  }
}

}  // namespace
}  // namespace wz
