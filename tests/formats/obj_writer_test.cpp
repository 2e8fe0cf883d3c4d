// OBJ writer: files read back by tinyobjloader and `assimp info` (triangles, box in metres with z
// negated, materials and image names), the image's top-left at the square's top-left, and a round
// trip OBJ -> model -> OBJ that keeps positions, texture coordinates and groups.
#include <gtest/gtest.h>
// tinyobjloader is used only here, as an independent reader of what the writer writes; its code
// is compiled here from its header.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "formats/exchange_fixtures.h"
#include "formats/formats.h"

namespace wz {
namespace {

using testing::TempDir;

struct Written {
  Written() {
    const std::vector<uint8_t> bmp = wz::testing::QuadrantBmp();
    wz::testing::WriteFile(dir / "face.bmp", std::string(bmp.begin(), bmp.end()));
    model = wz::testing::SquareAndTriangle(dir.path());
    result = SaveObj(host, *model, platform::LibraryPath(dir / "out.obj"));
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    read = reader.ParseFromFile(dir / "out.obj", config);
  }
  TempDir dir;
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  int result = 0;
  tinyobj::ObjReader reader;
  bool read = false;
};

TEST(ObjWriter, TinyobjloaderReadsFacesBoxAndMaterials) {
  Written w;
  ASSERT_EQ(w.result, 1) << (w.host.lines.empty() ? "" : w.host.lines[0]);
  ASSERT_TRUE(w.read) << w.reader.Error();
  const auto& attrib = w.reader.GetAttrib();
  ASSERT_EQ(attrib.vertices.size(), 21u);
  float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
  for (size_t i = 0; i < attrib.vertices.size(); ++i) {
    lo[i % 3] = std::min(lo[i % 3], attrib.vertices[i]);
    hi[i % 3] = std::max(hi[i % 3], attrib.vertices[i]);
  }
  EXPECT_EQ(std::vector<float>(lo, lo + 3), (std::vector<float>{0, 0, -0.5f}));
  EXPECT_EQ(std::vector<float>(hi, hi + 3), (std::vector<float>{3, 1, 0}));
  size_t triangles = 0;
  for (const auto& shape : w.reader.GetShapes())
    for (unsigned char n : shape.mesh.num_face_vertices)
      triangles += n - 2u;
  EXPECT_EQ(triangles, 3u);

  const auto& materials = w.reader.GetMaterials();
  ASSERT_EQ(materials.size(), 2u);
  EXPECT_EQ(materials[0].name, "face");
  EXPECT_EQ(materials[0].diffuse_texname, "face.png");
  EXPECT_EQ(materials[1].name, "glass");
  EXPECT_EQ(materials[1].diffuse_texname, "");
  EXPECT_FLOAT_EQ(materials[1].dissolve, 128.0f / 255.0f);
  EXPECT_FLOAT_EQ(materials[1].diffuse[0], 1.0f);
  EXPECT_TRUE(std::filesystem::exists(w.dir / "face.png"));
  EXPECT_TRUE(std::filesystem::exists(w.dir / "out.mtl"));
}

TEST(ObjWriter, AssimpReadsTheSameTrianglesAndBox) {
  Written w;
  ASSERT_EQ(w.result, 1);
  const auto info = wz::testing::RunAssimpInfo(w.dir / "out.obj");
  EXPECT_EQ(info.faces, 3) << info.output;
  EXPECT_EQ(info.lo, (Vec3{0, 0, -0.5f})) << info.output;
  EXPECT_EQ(info.hi, (Vec3{3, 1, 0})) << info.output;
}

// OBJ's v runs upward: the top-left vertex has v = 1, which samples the image's top row.
TEST(ObjWriter, ImageTopLeftSitsAtTheSquaresTopLeft) {
  Written w;
  ASSERT_TRUE(w.read);
  const auto& attrib = w.reader.GetAttrib();
  const auto& square = w.reader.GetShapes()[0].mesh;
  bool seen = false;
  for (size_t c = 0; c < 4; ++c) {
    const tinyobj::index_t& i = square.indices[c];
    if (attrib.vertices[size_t(i.vertex_index) * 3] != 0.0f ||
        attrib.vertices[size_t(i.vertex_index) * 3 + 1] != 1.0f)
      continue;
    EXPECT_EQ(attrib.texcoords[size_t(i.texcoord_index) * 2], 0.0f);
    EXPECT_EQ(attrib.texcoords[size_t(i.texcoord_index) * 2 + 1], 1.0f);
    seen = true;
  }
  EXPECT_TRUE(seen);
  const std::string png = wz::testing::ReadFile(w.dir / "face.png");
  const auto pixels = test::DecodePixels(std::vector<uint8_t>(png.begin(), png.end()));
  ASSERT_EQ(pixels.size(), 4u);
  EXPECT_EQ(pixels[0], (test::Px{0, 0, 255, 255}));  // red, at v = 1 (top)
}

TEST(ObjWriter, RoundTripKeepsPositionsTextureCoordinatesAndGroups) {
  const std::string mtl = "newmtl a\nKd 1 0 0\nmap_Kd t.png\nnewmtl c\nKd 0 1 0\nd 0.25\n";
  const std::string obj =
      "mtllib m.mtl\nv 0.125 1.5 -2\nv 3 0.1 0.7\nv 1e-3 -4 2.5\nv 7 7 7\n"
      "vt 0.25 0.75\nvt 1 0\nvt 0.5 0.5\nvn 0 0 1\n"
      "usemtl c\nf 1/1 2/2 3/3\nusemtl a\nf 1/1 2/2 3/3 4/1\nf 4/3 3/2 2/1\n";
  TempDir dir;
  wz::testing::WriteFile(dir / "m.mtl", mtl);
  wz::testing::WriteFile(dir / "in.obj", obj);
  wz::testing::WriteFile(dir / "t.png", "\x89PNG\r\n\x1a\n-");  // copied as it is
  RecordingModelHost host;
  auto first = CreateModel({});
  ASSERT_EQ(LoadObj(host, *first, platform::LibraryPath(dir / "in.obj"), 0), 1);
  ASSERT_EQ(SaveObj(host, *first, platform::LibraryPath(dir / "mid.obj")), 1);
  auto second = CreateModel({});
  ASSERT_EQ(LoadObj(host, *second, platform::LibraryPath(dir / "mid.obj"), 0), 1);

  ASSERT_EQ(second->positionCount, first->positionCount);
  for (int32_t i = 0; i < first->positionCount; ++i) {
    const Vec3 a = first->positions[size_t(i)], b = second->positions[size_t(i)];
    EXPECT_NEAR(a.x, b.x, 1e-5f * (1 + std::abs(a.x))) << i;
    EXPECT_NEAR(a.y, b.y, 1e-5f * (1 + std::abs(a.y))) << i;
    EXPECT_NEAR(a.z, b.z, 1e-5f * (1 + std::abs(a.z))) << i;
  }
  ASSERT_EQ(second->polygonCount, first->polygonCount);
  ASSERT_EQ(second->groupCount, first->groupCount);
  for (int32_t g = 0; g < first->groupCount; ++g) {
    EXPECT_STREQ(second->groups[size_t(g)].name.CStr(), first->groups[size_t(g)].name.CStr());
    EXPECT_EQ(second->groups[size_t(g)].colour, first->groups[size_t(g)].colour);
  }
  EXPECT_STREQ(second->textureSlots[1].fileName.CStr(), "t.png");
  for (int32_t p = 0; p < first->polygonCount; ++p) {
    const Polygon& a = first->polygons[size_t(p)];
    const Polygon& b = second->polygons[size_t(p)];
    ASSERT_EQ(a.cornerCount, b.cornerCount);
    EXPECT_EQ(a.group, b.group);
    for (int c = 0; c < a.cornerCount; ++c) {
      EXPECT_EQ(a.corners[size_t(c)].position, b.corners[size_t(c)].position);
      EXPECT_EQ(first->uvs[size_t(a.corners[size_t(c)].uv)],
                second->uvs[size_t(b.corners[size_t(c)].uv)]);
    }
  }
}

// A value with no finite spelling (a coordinate that overflowed when a reader scaled it, 1e38 x
// 10) is refused with a line and no file, never written as 0. The largest finite value is kept.
TEST(ExchangeWriters, RefuseValuesThatAreNotFiniteNumbers) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  struct Writer {
    const char* name;
    int (*save)(ModelHost&, const Model&, const std::string&);
    const char* file;
  };
  const Writer writers[] = {{"OBJ", SaveObj, "out.obj"}, {"X", SaveX, "out.x"}};
  struct Case {
    const char* name;
    void (*spoil)(Model&);
    const char* what;  // "" when the file is written
    bool objRefuses;   // OBJ writes the normals drawing uses, which are always finite
  };
  const Case cases[] = {
      {"overflowed x", [](Model& m) { m.positions[2].x = 1e38f * 10.0f; }, "position", true},
      {"NaN z", [](Model& m) { m.positions[5].z = std::nanf(""); }, "position", true},
      {"infinite u", [](Model& m) { m.uvs[1].u = -kInf; }, "texture coordinate", true},
      {"NaN normal",
       [](Model& m) {
         m.normals = {{0, 0, std::nanf("")}};
         m.normalCount = 1;
       },
       "normal", false},
      {"largest float", [](Model& m) { m.positions[0].y = std::numeric_limits<float>::max(); }, "",
       false},
  };
  for (const Writer& w : writers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(w.name) + ": " + c.name);
      TempDir dir;
      auto model = wz::testing::SquareAndTriangle(dir.path());
      c.spoil(*model);
      RecordingModelHost host;
      const int result = w.save(host, *model, platform::LibraryPath(dir / w.file));
      const bool refused = *c.what && (c.objRefuses || std::string(w.name) != "OBJ");
      EXPECT_EQ(result == 1, !refused);
      EXPECT_EQ(std::filesystem::exists(dir / w.file), !refused);
      if (!refused) continue;
      ASSERT_FALSE(host.lines.empty());  // (OBJ logs its missing image first)
      EXPECT_NE(
          host.lines.back().find(std::string("has a ") + c.what + " that is not a finite number"),
          std::string::npos)
          << host.lines.back();
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
    }
  }
}

}  // namespace
}  // namespace wz
