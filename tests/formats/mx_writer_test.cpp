#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "formats/formats.h"
#include "formats/mx_fixtures.h"
#include "model/model_invariants.h"
#include "model/test_models.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using testing::MakeMeshModel;
using testing::ParseMxQuads;
using testing::TempDir;

std::vector<uint8_t> Bytes(const std::string& path) {
  std::string s = testing::ReadFile(path);
  return {s.begin(), s.end()};
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

// Adds texture slot `slot` with state 1 and `fileName` (the slots before it stay empty).
void AddTexture(Model& m, int slot, const std::string& fileName) {
  GrowTo(m.textureSlots, size_t(slot) + 1);
  m.textureSlotCount = std::max<int16_t>(m.textureSlotCount, int16_t(slot + 1));
  m.textureSlots[size_t(slot)].state = 1;
  m.textureSlots[size_t(slot)].fileName.Set(fileName);
}

void SetGroups(Model& m, int count) {
  m.groups.resize(size_t(count), NewGroup());
  m.groupCount = count;
}

TEST(MxWriter, WritesATriangleAsAQuadRepeatingItsFirstCorner) {
  TempDir dir;
  auto m = MakeMeshModel({{0, 0, 0}, {1, 2, 3}, {4, 5, 6}}, {{0, 1, 2}});
  m->colours = {{10, 20, 30, 255}, {40, 50, 60, 255}, {70, 80, 90, 255}};
  m->colourCount = 3;
  for (int k = 0; k < 3; ++k)
    m->polygons[0].corners[size_t(k)].colour = k;
  AddTexture(*m, 1, "wood.bmp");
  m->textureSlots[1].state = 0;  // named but not in use
  m->groups[0].textureSlot = 1;
  RecordingModelHost host;
  ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1);
  const auto quads = ParseMxQuads(Bytes(dir / "t.mx"));
  ASSERT_EQ(quads.size(), 1u);
  const std::array<float, 4> slots[] = {{0, 0, 0, 1}, {4, -5, -6, 1}, {1, -2, -3, 1}, {0, 0, 0, 1}};
  for (int s = 0; s < 4; ++s)
    EXPECT_EQ(quads[0].vertexSlots[size_t(s)], slots[s]) << s;
  EXPECT_EQ(quads[0].colour, 0x000A141Eu);  // corner 0, written last
  EXPECT_EQ(quads[0].texture, -1);
  EXPECT_TRUE(host.textures.empty());
}

TEST(MxWriter, WritesAQuadWithPixelUvsItsTextureIndexAndItsLastColour) {
  TempDir dir;
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
  m->uvs = {{0.25f, 0.5f}};
  m->uvCount = 1;
  m->colours = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {10, 11, 12, 0}};
  m->colourCount = 4;
  for (int k = 0; k < 4; ++k)
    m->polygons[0].corners[size_t(k)].colour = k;
  AddTexture(*m, 2, "wood.bmp");
  m->groups[0].textureSlot = 2;
  RecordingModelHost host;
  host.textureSizes = {{256.0f, 256.0f}};
  ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1);
  const auto quads = ParseMxQuads(Bytes(dir / "t.mx"));
  ASSERT_EQ(quads.size(), 1u);
  EXPECT_EQ(quads[0].uvs[0], (std::array<float, 2>{64, 128}));
  EXPECT_EQ(quads[0].texture, 1);
  EXPECT_EQ(quads[0].colour, 0x000A0B0Cu);  // corner 3, written last
  EXPECT_EQ(host.textures, std::vector<std::string>{"wood.bmp"});
  EXPECT_EQ(*host.TextureIdCell(2), 0);
}

TEST(MxWriter, ClampsEachColourChannelToAByte) {
  struct Case {
    ColourF colour;
    uint32_t word;
  };
  const Case cases[] = {
      {{255, 128, 0, 255}, 0x00FF8000},
      {{300, -5, 127.9f, 0}, 0x00FF007F},
      {{1e9f, 256, 255.5f, 0}, 0x00FFFFFF},
      {{std::nanf(""), 0.99f, 1, 0}, 0x00000001},
  };
  for (const Case& c : cases) {
    TempDir dir;
    auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}});
    m->colours = {c.colour};
    m->colourCount = 1;
    RecordingModelHost host;
    ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1);
    EXPECT_EQ(ParseMxQuads(Bytes(dir / "t.mx"))[0].colour, c.word) << c.colour.r;
  }
}

TEST(MxWriter, HeaderAndNameRecords) {
  TempDir dir;
  std::vector<std::vector<int>> faces(10, {0, 1, 2});
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, faces);
  SetGroups(*m, 4);
  RecordingModelHost host;
  // Ten polygons in groups 0 and 1, then in groups 0 and 3 (four name records).
  for (const auto& [lastGroup, names] : {std::pair{1, 2u}, {3, 4u}}) {
    m->polygons[9].group = lastGroup;
    AddTexture(*m, 1, "wood.bmp");
    AddTexture(*m, 3, "wood.jpeg");
    ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1);
    const auto b = Bytes(dir / "t.mx");
    ASSERT_EQ(b.size(), 1772 + 16 * names);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), std::string("MXF\0", 4));
    const uint32_t header[] = {256, 60, 32, 1680, 92, 16 * names, 1772};
    for (size_t i = 0; i < 7; ++i)
      EXPECT_EQ(U32At(b, 4 + 4 * i), header[i]) << i;
    EXPECT_EQ(b[32 + 48], 1);
    EXPECT_EQ(b[32 + 50], 10);
    std::vector<std::string> records;
    for (size_t i = 0; i < names; ++i)
      records.emplace_back(reinterpret_cast<const char*>(&b[1772 + 16 * i]));
    const std::vector<std::string> expected = {"wood", "", "wood.", ""};
    EXPECT_EQ(records, std::vector<std::string>(expected.begin(), expected.begin() + names));
  }
}

TEST(MxWriter, ATextureNameWithFoldersWritesItsFileName) {
  // Real X files name textures with their folders; a name that does not fit a record as a whole
  // is written by its file-name part. One that fits whole is written whole.
  TempDir dir;
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}});
  SetGroups(*m, 4);
  m->polygons[0].group = 3;
  AddTexture(*m, 1, "C:\\models\\data\\bottom.tga");
  AddTexture(*m, 2, "a_long_folder/e\\\x95\x5C.bmp");  // 表: its second byte is no separator
  AddTexture(*m, 3, "sub\\a.bmp");
  RecordingModelHost host;
  ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1) << (host.lines.empty() ? "" : host.lines[0]);
  const auto b = Bytes(dir / "t.mx");
  std::vector<std::string> records;
  for (size_t i = 0; i < 3; ++i)
    records.emplace_back(reinterpret_cast<const char*>(&b[92 + 168 + 16 * i]));
  EXPECT_EQ(records, (std::vector<std::string>{"bottom", "\x95\x5C", "sub\\a"}));
}

TEST(MxWriter, WritesTheFirstPolygonsWhileTheLayoutCountsThem) {
  // Block A counts quads in 16 bits and a quad names its group in 16 signed bits.
  auto base = [] { return MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}}); };
  struct Case {
    const char* what;
    std::function<void(Model&)> change;
    int32_t written;
  };
  const Case cases[] = {
      {"65535 polygons", [](Model& m) { m.polygons.assign(65535, m.polygons[0]); }, 65535},
      {"65536 polygons", [](Model& m) { m.polygons.assign(65536, m.polygons[0]); }, 65535},
      {"group 32768 at the third polygon",
       [](Model& m) {
         SetGroups(m, 32769);
         m.motions.clear();
         for (Bone& bone : m.bones)
           bone.keyLists.clear();
         m.polygons.assign(4, m.polygons[0]);
         m.polygons[1].group = 5;
         m.polygons[2].group = 32768;
       },
       2},
  };
  for (const Case& c : cases) {
    TempDir dir;
    auto m = base();
    c.change(*m);
    m->polygonCount = int32_t(m->polygons.size());
    const int64_t leftOut = m->polygonCount - c.written;
    EXPECT_EQ(MxPolygonsLeftOut(*m), leftOut) << c.what;
    RecordingModelHost host;
    ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1) << c.what;
    EXPECT_EQ(host.lines.size(), leftOut > 0 ? 1u : 0u) << c.what;
    const std::vector<uint8_t> file = Bytes(dir / "t.mx");
    EXPECT_EQ(file[32 + 50] | file[32 + 51] << 8, c.written & 0xFFFF) << c.what;  // block A
    auto back = CreateModel({});
    ASSERT_EQ(LoadMxFromMemory(host, *back, "t.mx", file, 0), 1) << c.what;
    EXPECT_EQ(back->polygonCount, c.written) << c.what;
    EXPECT_EQ(back->polygons[size_t(c.written) - 1].group,
              m->polygons[size_t(c.written) - 1].group);
  }
}

TEST(MxWriter, RefusesModelsTheLayoutCannotCarryAndLeavesTheTarget) {
  auto base = [] { return MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}}); };
  struct Case {
    const char* what;
    std::function<void(Model&)> change;
  };
  const Case cases[] = {
      {"long texture name",
       [](Model& m) {
         AddTexture(m, 1, "dir\\abcdefghijklmnop.bmp");  // 16 characters left of its file name
         m.groups[0].textureSlot = 1;
       }},
      {"short texture name", [](Model& m) { AddTexture(m, 1, "a.b"); }},
      {"unsound model", [](Model& m) { m.polygons[0].corners[0].position = 7; }},
  };
  for (const Case& c : cases) {
    TempDir dir;
    testing::WriteFile(dir / "t.mx", "old");
    auto m = base();
    c.change(*m);
    RecordingModelHost host;
    EXPECT_EQ(SaveMx(host, *m, dir / "t.mx"), 0) << c.what;
    EXPECT_EQ(testing::ReadFile(dir / "t.mx"), "old") << c.what;
    ASSERT_EQ(host.lines.size(), 1u) << c.what;
    EXPECT_EQ(host.lines[0].rfind("*** LoadError *** ", 0), 0u);
  }
  // A 15-character record fits.
  TempDir dir;
  auto m = base();
  AddTexture(*m, 1, "abcdefghijklmno.bmp");
  RecordingModelHost host;
  EXPECT_EQ(SaveMx(host, *m, dir / "t.mx"), 1);
}

TEST(MxWriter, AFailedWriteIsReported) {
  TempDir dir;
  auto m = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2}});
  RecordingModelHost host;
  EXPECT_EQ(SaveMx(host, *m, dir / "missing/t.mx"), 0);
  EXPECT_EQ(host.lines.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(MxWriter, RoundTripKeepsPositionsUvsGroupsAndTextures) {
  TempDir dir;
  auto m = MakeMeshModel({{0, 0, 0}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {-1, -2, -3}},
                         {{0, 1, 2, 3}, {4, 2, 1}});
  SetGroups(*m, 2);
  m->polygons[1].group = 1;
  AddTexture(*m, 1, "wood.bmp");
  m->groups[1].textureSlot = 1;
  m->normals = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.6f, 0.8f, 0}};
  m->normalCount = 4;
  m->uvs = {{0.25f, 0.5f}, {0.75f, 1}, {0.5f, 0.125f}, {1, 0}};
  m->uvCount = 4;
  m->colours = {{255, 128, 0, 255}, {1, 2, 3, 255}};
  m->colourCount = 2;
  for (int p = 0; p < 2; ++p)
    for (int k = 0; k < 4; ++k) {
      Corner& c = m->polygons[size_t(p)].corners[size_t(k)];
      c.normal = k;
      c.uv = (k + p) % 4;
      c.colour = p;
    }
  m->polygons[1].corners[3] = Corner{};

  RecordingModelHost host;
  host.textureSizes = {{256, 128}, {256, 128}};  // the writer's load, then the reader's
  ASSERT_EQ(SaveMx(host, *m, dir / "t.mx"), 1);
  auto back = CreateModel({});
  ASSERT_EQ(LoadMx(host, *back, platform::LibraryPath(dir / "t.mx"), 0), 1);
  ASSERT_FALSE(CheckModelInvariants(*back));

  ASSERT_EQ(back->polygonCount, 2);
  EXPECT_EQ(back->groups[0].textureSlot, 0);
  EXPECT_EQ(back->groups[1].textureSlot, 1);
  EXPECT_EQ(back->textureSlots[1].fileName.View(), "wood.bmp");
  for (int p = 0; p < 2; ++p) {
    const Polygon& orig = m->polygons[size_t(p)];
    const Polygon& read = back->polygons[size_t(p)];
    EXPECT_EQ(read.group, orig.group);
    // A triangle is written as a quad whose fourth corner repeats the first.
    auto written = [&orig](int k) -> const Corner& {
      return orig.corners[size_t(orig.cornerCount == 3 && k == 3 ? 0 : k)];
    };
    for (int k = 0; k < 4; ++k) {
      const Corner& r = read.corners[size_t(k)];
      EXPECT_EQ(back->positions[size_t(r.position)], m->positions[size_t(written(k).position)]);
      EXPECT_EQ(back->uvs[size_t(r.uv)], m->uvs[size_t(written(k).uv)]);
      EXPECT_EQ(back->colours[size_t(r.colour)], m->colours[size_t(p)]);
      // Normals come back from the opposite corner, with y and z negated.
      const Vec3 n = m->normals[size_t(written(3 - k).normal)];
      EXPECT_EQ(back->normals[size_t(r.normal)], (Vec3{n.x, -n.y, -n.z})) << p << " " << k;
    }
  }
}

}  // namespace
}  // namespace wz
