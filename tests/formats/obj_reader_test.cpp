// OBJ reader: the frame change (z negated, corners reversed, v as 1 - v, × 10), materials as
// groups, fans, file normals, the sample files of Debian's assimp-testmodels package, and
// refusals that leave the model untouched.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

struct Load {
  Load(const std::string& obj, const std::string& mtl = "") {
    model = CreateModel({});
    before = *model;
    const auto* data = reinterpret_cast<const uint8_t*>(obj.data());
    result = LoadObjFromMemory(host, *model, "\\m\\a.obj", {data, obj.size()}, mtl, 0);
    auto fault = CheckModelInvariants(*model);
    EXPECT_FALSE(fault) << fault->message;
  }
  std::vector<int> Corners(int p) const {
    std::vector<int> v;
    const Polygon& poly = model->polygons[size_t(p)];
    for (int c = 0; c < poly.cornerCount; ++c)
      v.push_back(poly.corners[size_t(c)].position);
    return v;
  }
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  Model before;
  int result = 0;
};

const std::string kMtl =
    "newmtl unused\nKd 0 0 1\n"
    "newmtl wood\nKd 1 0.5 0\nd 0.5\nmap_Kd tex/wood.png\n"
    "newmtl red\nKd 1 0 0\n";

// A textured quad of "wood" with normals, a triangle of "red", a pentagon without a material.
const std::string kObj =
    "mtllib a.mtl\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0.5\nv 0 1 0\nv 2 0 0\nv 3 0 -1\nv 3 1 0\nv 2.5 2 0\nv 2 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\n"
    "usemtl red\nf 5 6 7\n"
    "usemtl wood\ns 1\nf 1/1/1 2/2/1 3/3/1 4/4/1\n"
    "usemtl\nf -5 -4 -3 -2 -1\n";

TEST(ObjReader, PositionsTurnLeftHandedInLibraryUnitsAndCornersRunBackwards) {
  Load l(kObj, kMtl);
  ASSERT_EQ(l.result, 1) << (l.host.lines.empty() ? "" : l.host.lines[0]);
  ASSERT_EQ(l.model->positionCount, 9);
  EXPECT_EQ(l.model->positions[2], (Vec3{10, 10, -5}));
  EXPECT_EQ(l.model->positions[5], (Vec3{30, 0, 10}));
  ASSERT_EQ(l.model->polygonCount, 5);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{6, 5, 4}));
  EXPECT_EQ(l.Corners(1), (std::vector<int>{3, 2, 1, 0}));
  // The pentagon 5..9 reversed is 9 8 7 6 5, fanned around its first corner.
  EXPECT_EQ(l.Corners(2), (std::vector<int>{8, 7, 6}));
  EXPECT_EQ(l.Corners(3), (std::vector<int>{8, 6, 5}));
  EXPECT_EQ(l.Corners(4), (std::vector<int>{8, 5, 4}));
}

TEST(ObjReader, UsedMaterialsBecomeGroupsInLibraryOrderWithTheirColourAlphaAndImage) {
  Load l(kObj, kMtl);
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->groupCount, 3);
  EXPECT_STREQ(l.model->groups[0].name.CStr(), "wood");
  EXPECT_STREQ(l.model->groups[1].name.CStr(), "red");
  EXPECT_STREQ(l.model->groups[2].name.CStr(), "Default");
  EXPECT_EQ(l.model->groups[0].colour, (ColourF{255, 127.5f, 0, 127.5f}));
  EXPECT_EQ(l.model->groups[1].colour, (ColourF{255, 0, 0, 255}));
  EXPECT_EQ(l.model->polygons[0].group, 1);
  EXPECT_EQ(l.model->polygons[1].group, 0);
  EXPECT_EQ(l.model->polygons[4].group, 2);
  EXPECT_EQ(l.model->groups[0].textureSlot, 1);
  EXPECT_EQ(l.model->groups[1].textureSlot, 0);
  EXPECT_STREQ(l.model->textureSlots[1].fileName.CStr(), "tex\\wood.png");
  EXPECT_EQ(l.host.textureLoads.size(), 1u);
  // Smoothing on keeps "wood" smooth; "red" has smoothing off and no normals: flat.
  EXPECT_EQ(l.model->groups[0].shading, 4);
}

TEST(ObjReader, TextureCoordinatesFlipVAndMissingOnesShareAnExtraEntry) {
  Load l(kObj, kMtl);
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->uvCount, 5);
  const Polygon& quad = l.model->polygons[1];
  // Reversed: the quad's corners are vertices 4, 3, 2, 1 with vt 4, 3, 2, 1.
  EXPECT_EQ(l.model->uvs[size_t(quad.corners[0].uv)], (Uv{0, 0}));
  EXPECT_EQ(l.model->uvs[size_t(quad.corners[1].uv)], (Uv{1, 0}));
  EXPECT_EQ(l.model->uvs[size_t(quad.corners[3].uv)], (Uv{0, 1}));
  EXPECT_EQ(l.model->polygons[0].corners[0].uv, 4);
  // Some corners lack a normal: the file's normals are not used.
  EXPECT_EQ(l.model->normalCount, 0);
  EXPECT_EQ(l.model->groups[1].shading, 3);
}

TEST(ObjReader, MaterialNamesInUtf8OrCodePage932BothReachTheLibraryAsCodePage932) {
  const std::string sjis = "\x96\xd8";  // 木 in code page 932 (not valid UTF-8)
  const std::string mtl = "newmtl \xe6\x9c\xa8\nKd 1 1 1\nnewmtl " + sjis + "x\nKd 1 1 1\n";
  Load l("mtllib a.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl \xe6\x9c\xa8\nf 1 2 3\nusemtl " + sjis +
             "x\nf 1 2 3\n",
         mtl);
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->groupCount, 2);
  EXPECT_EQ(std::string(l.model->groups[0].name.CStr()), sjis);
  EXPECT_EQ(std::string(l.model->groups[1].name.CStr()), sjis + "x");
}

TEST(ObjReader, NormalsAreKeptWithZNegatedWhenEveryCornerHasOne) {
  Load l("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0.6 0.8\nf 1//1 2//1 3//1\n");
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->normalCount, 1);
  EXPECT_EQ(l.model->normals[0], (Vec3{0, 0.6f, -0.8f}));
  EXPECT_EQ(l.model->groups[0].shading, 4);
  // The reversed triangle faces -z in the library, as the original faced +z.
  EXPECT_LT(l.model->polygons[0].faceNormal.z, 0.0f);
}

TEST(ObjReader, BadDocumentsAreRefusedAndLeaveTheModelUntouched) {
  const std::pair<const char*, const char*> cases[] = {
      {"v 0 0 0\nv 1 0 0\nf 1 2 3\n", "names vertex 3 of 2"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/4 2/1 3/1\nvt 0 0\n", "texture coordinate"},
      {"v 0 0 0\nv 1 0 0\nl 1 2\n", "no faces"},
      {"", "no faces"},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    Load l(text);
    EXPECT_EQ(l.result, 0);
    EXPECT_TRUE(*l.model == l.before);
    ASSERT_EQ(l.host.lines.size(), 1u);
    EXPECT_NE(l.host.lines[0].find(reason), std::string::npos) << l.host.lines[0];
  }
}

TEST(ObjReader, FileFormReadsTheMaterialLibraryBesideTheDocument) {
  wz::testing::TempDir dir;
  wz::testing::WriteFile(dir / "a.mtl", kMtl);
  wz::testing::WriteFile(dir / "a.obj", kObj);
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(LoadObj(host, *model, platform::LibraryPath(dir / "a.obj"), 0), 1);
  EXPECT_STREQ(model->groups[0].name.CStr(), "wood");
  std::filesystem::remove(dir / "a.mtl");
  host.lines.clear();
  model = CreateModel({});
  ASSERT_EQ(LoadObj(host, *model, platform::LibraryPath(dir / "a.obj"), 0), 1);
  EXPECT_STREQ(model->groups[0].name.CStr(), "Default");
  ASSERT_EQ(host.lines.size(), 1u);
  EXPECT_NE(host.lines[0].find("material library a.mtl cannot be read"), std::string::npos);
}

TEST(ObjReader, SampleFilesWithFacesLoadSoundModels) {
  size_t loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/share/assimp/models/OBJ")) {
    if (entry.path().extension() != ".obj") continue;
    SCOPED_TRACE(entry.path().string());
    RecordingModelHost host;
    auto model = CreateModel({});
    const int result = LoadObj(host, *model, platform::LibraryPath(entry.path().string()), 0);
    auto fault = CheckModelInvariants(*model);
    ASSERT_FALSE(fault) << fault->message;
    loaded += result == 1 && model->polygonCount > 0;
  }
  EXPECT_GE(loaded, 15u);
}

}  // namespace
}  // namespace wz
