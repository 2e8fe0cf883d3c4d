// Metasequoia reader: the tokenizer, a full document, face lines, objects and their levels, the
// end of the document, and refusals that leave the model untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "formats/formats.h"
#include "formats/mqo_tokenizer.h"
#include "model/model_invariants.h"
#include "model/test_models.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

const std::string kPath = "\\m\\a.mqo";

std::string Doc(const std::vector<std::string>& lines, const std::string& eol = "\r\n") {
  std::string s = "Metasequoia Document" + eol + "Format Text Ver 1.0" + eol;
  for (const std::string& l : lines)
    s += l + eol;
  return s;
}

struct Load {
  explicit Load(const std::string& doc, int32_t polygonCapacity = kDefaultPolygonCapacity,
                bool preallocate = false) {
    host.capacities = ModelCapacities::ForPolygonCapacity(polygonCapacity);
    model = CreateModel(testing::Options("", false, preallocate, host.capacities));
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(doc.data()), doc.size());
    result = LoadMqoFromMemory(host, *model, kPath, bytes, 0);
    auto fault = CheckModelInvariants(*model);
    EXPECT_FALSE(fault) << fault->message;
  }
  std::vector<int> Corners(int p) const {
    const Polygon& poly = model->polygons[size_t(p)];
    std::vector<int> v;
    for (int c = 0; c < poly.cornerCount; ++c)
      v.push_back(poly.corners[size_t(c)].position);
    return v;
  }
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  int result = 0;
};

TEST(MqoTokenizer, SplitsLinesAtBlanksKeepingQuotesAndParentheses) {
  struct Case {
    std::string line;
    std::vector<std::string> tokens;
    bool moreAfterLast;  // what the call that gave the last token returned
  };
  const Case cases[] = {
      {"Material 2 {\r\n", {"Material", "2", "{"}, false},
      {"\t\"mat 1\" col(1.000 0.500 0.000 1.000) tex(\"a b.bmp\")x\r\n",
       {"mat 1", "col(1.000 0.500 0.000 1.000)", "tex(\"a b.bmp\")x"},
       false},
      {"\"closed\"\r\n", {"closed", ""}, false},
      {"\"unclosed word\r\n", {"unclosed word"}, false},
      {"3 V(0 1 2", {"3", "V(0 1 2"}, false},
      {"  \t\r\n", {""}, false},
      {"a\tb ", {"a", "b"}, true},
  };
  for (const Case& c : cases) {
    MqoTokenizer t(c.line);
    std::vector<std::string> got;
    bool more = true;
    while (more) {
      std::string token = "unset";
      more = t.Next(token);
      if (token == "unset") break;  // nothing was left: the token stays as it was
      got.push_back(token);
      if (got.size() == c.tokens.size()) {
        EXPECT_EQ(more, c.moreAfterLast) << c.line;
      }
    }
    EXPECT_EQ(got, c.tokens) << c.line;
    std::string token = "kept";
    EXPECT_FALSE(t.Next(token));
    EXPECT_EQ(token, "kept");
  }
}

std::vector<std::string> BoxLines() {
  return {
      "Scene {",
      "\tpos 0.0000 0.0000 1500.0000",
      "}",
      "Material 2 {",
      "\t\"wood\" col(0.800 0.400 0.200 1.000) dif(0.800) power(5.00) "
      "tex(\"C:\\textures\\wood.bmp\")",
      std::string("\t\"") + WZ_TEXT("木材") + "\" shader(3) col(1.000 1.000 1.000 0.500)",
      "}",
      "Object \"box\" {",
      "\tdepth 0",
      "\tmirror 1",
      "\tvertex 4 {",
      "\t\t10.0000 20.0000 30.0000",
      "\t\t0.0000 0.0000 0.0000",
      "\t\t10.0000 0.0000 0.0000",
      "\t\t0.0000 10.0000 0.0000",
      "\t}",
      "\tface 3 {",
      "\t\t4 V(0 1 2 3) M(0) UV(0.00000 0.00000 1.00000 0.00000 1.00000 1.00000 0.00000 1.00000)",
      "\t\t3 V(0 1 2) M(1) UV(0.5 0.5 0.5 0.5 0.5 0.5)",
      "\t\t4 V(0 1 2 3) M(1) UV(0 0 1 0 1 1 0 1)",
      "\t}",
      "}",
      "Eof",
  };
}

TEST(MqoReader, ReadsMaterialsVerticesFacesAndTextures) {
  Load l(Doc(BoxLines()));
  ASSERT_EQ(l.result, 1);
  const Model& m = *l.model;
  EXPECT_EQ(m.fileName.View(), kPath);
  ASSERT_EQ(m.positionCount, 4);
  EXPECT_EQ(m.positions[0], (Vec3{1, 2, -3}));
  EXPECT_EQ(m.positions[3], (Vec3{0, 1, 0}));

  ASSERT_EQ(m.groupCount, 2);
  EXPECT_EQ(m.groups[0].name.View(), "wood");
  EXPECT_EQ(m.groups[0].colour, (ColourF{204, 102, 51, 255}));
  EXPECT_EQ(m.groups[0].textureSlot, 1);
  EXPECT_EQ(m.groups[0].mirror, 1);
  EXPECT_EQ(m.groups[1].name.View(), WZ_TEXT("木材"));
  EXPECT_EQ(m.groups[1].colour, (ColourF{255, 255, 255, 127.5f}));
  EXPECT_EQ(m.groups[1].textureSlot, 0);
  EXPECT_EQ(m.groups[1].mirror, 0);
  for (int g = 0; g < 2; ++g)
    EXPECT_EQ(m.groups[size_t(g)].parameterByte, 10);

  ASSERT_EQ(m.textureSlotCount, 2);
  EXPECT_EQ(m.textureSlots[1].state, 1);
  EXPECT_EQ(m.textureSlots[1].fileName.View(), "wood.bmp");
  EXPECT_EQ(l.host.textureLoads, (std::vector<std::pair<int32_t, std::string>>{{1, "wood.bmp"}}));

  ASSERT_EQ(m.polygonCount, 3);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(l.Corners(1), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(m.polygons[0].group, 0);
  EXPECT_EQ(m.polygons[2].group, 1);
  ASSERT_EQ(m.uvCount, 5);
  const Uv quad[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(m.polygons[0].corners[size_t(c)].uv, c + 1);
    EXPECT_EQ(m.uvs[size_t(c) + 1], quad[c]);
    EXPECT_EQ(m.polygons[2].corners[size_t(c)].uv, 0);
  }
  EXPECT_EQ(m.colourCount, 1);
  EXPECT_EQ(m.colours[0], (ColourF{255, 255, 255, 255}));
  // (1, 2, -3), (0, 0, 0), (1, 0, 0): the normal of (0, 3, 2).
  EXPECT_NEAR(m.polygons[0].faceNormal.y, 3 / std::sqrt(13.0f), 1e-6f);
  EXPECT_NEAR(m.polygons[0].faceNormal.z, 2 / std::sqrt(13.0f), 1e-6f);
  EXPECT_EQ(m.shadingChanged, 1);
  EXPECT_TRUE(l.host.lines.empty());
}

TEST(MqoReader, CoordinatesAreTheValueTimesTheSingleTenthRoundedOnce) {
  // Four-decimal values whose product with the single-precision 0.1 rounds differently when the
  // value is first rounded to single: the position must be the exact product rounded once.
  std::vector<std::string> lines = {"Object \"o\" {", "\tvertex 1000 {"};
  std::vector<double> values;
  for (int k = 0; values.size() < 1000; ++k) {
    const double v = 1.0 + k * 0.0731;
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    const double read = std::strtod(text, nullptr);
    const float once = float(read * double(0.1f));
    if (once == float(read) * 0.1f) continue;  // the two roundings agree: not a test of them
    values.push_back(read);
    lines.push_back(std::string("\t\t") + text + " " + text + " " + text);
  }
  lines.insert(lines.end(), {"\t}", "}", "Eof"});
  Load l(Doc(lines));
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->positionCount, 1000);
  for (size_t i = 0; i < values.size(); ++i) {
    const float want = float(values[i] * double(0.1f));
    ASSERT_EQ(l.model->positions[i], (Vec3{want, want, -want})) << values[i];
  }
}

TEST(MqoReader, FacesBeyondThePolygonCapacityOfAPreallocatedModelAreCutWithALogLine) {
  std::vector<std::string> lines = {"Object \"o\" {", "\tvertex 3 {", "\t\t0 0 0", "\t\t1 0 0",
                                    "\t\t0 1 0",      "\t}",          "\tface 5 {"};
  for (int f = 0; f < 5; ++f)
    lines.push_back("\t\t3 V(0 1 2)");
  lines.insert(lines.end(), {"\t}", "}", "Eof"});
  const Load cut(Doc(lines), 3, true);
  ASSERT_EQ(cut.result, 1);
  EXPECT_EQ(cut.model->polygonCount, 3);
  EXPECT_EQ(cut.host.lines,
            std::vector<std::string>{kPath + WZ_TEXT(" : ポリゴン数 5 ( 最大3を超えています )")});
  // A model without preallocated pools takes every face.
  const Load whole(Doc(lines), 3, false);
  ASSERT_EQ(whole.result, 1);
  EXPECT_EQ(whole.model->polygonCount, 5);
  EXPECT_TRUE(whole.host.lines.empty());
}

TEST(MqoReader, EndsAtTheEndMarkerOrTheEndOfTheFile) {
  std::vector<std::string> withoutMarker = BoxLines();
  withoutMarker.pop_back();
  std::vector<std::string> afterMarker = BoxLines();
  afterMarker.insert(afterMarker.end(), {"Object \"late\" {", "\tvertex 1 {", "\t\t1 1 1", "}"});
  const Load reference(Doc(BoxLines()));
  for (const auto& lines : {withoutMarker, afterMarker}) {
    Load l(Doc(lines));
    EXPECT_EQ(l.result, 1);
    EXPECT_TRUE(*l.model == *reference.model);
  }
}

TEST(MqoReader, EveryPrefixIsRefusedCleanlyOrLoads) {
  const std::string doc = Doc(BoxLines());
  const auto fresh = CreateModel({});
  for (size_t n = 0; n <= doc.size(); ++n) {
    Load l(doc.substr(0, n));
    if (l.result == 0) {
      EXPECT_TRUE(*l.model == *fresh) << n;
    }
  }
}

TEST(MqoReader, RefusesOtherDocumentsLeavingTheModelAsItWas) {
  std::vector<std::string> manyMaterials = {"Material 257 {"};
  for (int i = 0; i < 257; ++i)
    manyMaterials.push_back("\t\"m\" col(1.000 1.000 1.000 1.000)");
  const std::string cases[] = {
      "",
      "Metasequoia Document\r\n",
      "Metasequoia Document\nFormat Text Ver 2.0\n",
      "Metasequoia Document\r\nFormat Text Ver 1.1 \r\n",
      "\xEF\xBB\xBF" + Doc(BoxLines()),
      Doc(manyMaterials),
  };
  const auto fresh = CreateModel({});
  for (const std::string& doc : cases) {
    Load l(doc);
    EXPECT_EQ(l.result, 0);
    EXPECT_TRUE(*l.model == *fresh);
    ASSERT_EQ(l.host.lines.size(), 1u);
    EXPECT_EQ(l.host.lines[0].rfind("*** LoadError *** " + kPath + " : ", 0), 0u);
  }
  manyMaterials.pop_back();
  manyMaterials[0] = "Material 256 {";
  EXPECT_EQ(Load(Doc(manyMaterials)).model->groupCount, 256);
}

TEST(MqoReader, TakesFaceLinesOfTwoToFourVerticesAndDropsBadOnes) {
  Load l(Doc({
      "Material 1 {",
      "\t\"t\" tex(\"t.bmp\")",
      "}",
      "Object \"o\" {",
      "\tvertex 5 {",
      "\t\t0 0 0",
      "\t\t10 0 0",
      "\t\t0 10 0",
      "\t\t0 0 10",
      "\t\t10 10 10",
      "\t}",
      "\tface 8 {",
      "\t\t5 V(0 1 2 3 4) M(0)",
      "\t\t3 V(0 1 2)",
      "\t\t2 V(3 4) M(0) UV(0.1 0.2 0.3 0.4)",
      "\t\t3 V(0 1 5) M(0)",
      "\t\t3 V(0 1 2) M(300)",
      "\t\t3 V(0 1)",
      "\t\t4 V(4 3 2 1) M(5)",
      "\t\t3 V(2 1 0) M(0)",
      "\t}",
      "}",
  }));
  ASSERT_EQ(l.result, 1);
  const Model& m = *l.model;
  ASSERT_EQ(m.polygonCount, 4);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(l.Corners(1), (std::vector<int>{3, 4}));
  EXPECT_EQ(l.Corners(2), (std::vector<int>{4, 3, 2, 1}));
  EXPECT_EQ(l.Corners(3), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(m.polygons[2].group, 5);
  // Textured faces without a UV group get (0, 0); the group covers the corners in order.
  ASSERT_EQ(m.uvCount, 1 + 3 + 2 + 3);
  EXPECT_EQ(m.uvs[m.polygons[1].corners[1].uv], (Uv{0.3f, 0.4f}));
  EXPECT_EQ(m.uvs[m.polygons[0].corners[2].uv], (Uv{0, 0}));
  EXPECT_EQ(m.polygons[2].corners[0].uv, 0);
  // Groups reach the highest material used; those beyond the materials get the defaults.
  ASSERT_EQ(m.groupCount, 6);
  Group expected = NewGroup();
  expected.parameterByte = 10;
  EXPECT_TRUE(m.groups[3] == expected);
  EXPECT_EQ(l.host.lines.size(), 3u);
}

TEST(MqoReader, OffsetsEachObjectsFacesByTheVerticesBeforeIt) {
  Load l(Doc({
      "Material 2 {",
      "\t\"a\"",
      "\t\"b\"",
      "}",
      "Object \"first\" {",
      "\tvertex 3 {",
      "\t\t0 0 0",
      "\t\t1 0 0",
      "\t\t0 1 0",
      "\t}",
      "\tface 1 {",
      "\t\t3 V(0 1 2) M(0)",
      "\t}",
      "}",
      "Object \"second\" {",
      "\tmirror 1",
      "\tvertex 3 {",
      "\t\t0 0 5",
      "\t\t1 0 5",
      "\t\t0 1 5",
      "\t}",
      "\tface 1 {",
      "\t\t3 V(2 1 0) M(1)",
      "\t}",
      "}",
  }));
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->polygonCount, 2);
  EXPECT_EQ(l.Corners(1), (std::vector<int>{5, 4, 3}));
  EXPECT_EQ(l.model->groups[0].mirror, 0);
  EXPECT_EQ(l.model->groups[1].mirror, 1);
}

TEST(MqoReader, EndsObjectsAtTheirLevelsAndAtLinesItCannotRead) {
  const std::vector<std::string> faces = {"\tface 1 {", "\t\t3 V(0 1 2)", "\t}", "}"};
  const std::vector<std::string> vertices = {"\t\t0 0 0", "\t\t1 0 0", "\t\t0 1 0", "\t}"};
  struct Case {
    const char* name;
    std::string vertexLine;
    std::string between;  // a line between the vertex block and the face block
    int positions;
    int polygons;
  };
  const Case cases[] = {
      {"plain", "\tvertex 3 {", "\tdepth 0", 3, 1},
      {"other blocks are skipped whole", "\tvertex 3 {",
       "\tvertexattr {\r\n\t\tuid {\r\n\t}\r\n\t}", 3, 1},
      {"binary vertices end it", "\tvertex 3 {", "\tBVertex 3 {", 3, 0},
      {"too many vertices end it", "\tvertex 200000 {", "\tdepth 0", 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = {"Object \"o\" {", c.vertexLine};
    lines.insert(lines.end(), vertices.begin(), vertices.end());
    lines.push_back(c.between);
    lines.insert(lines.end(), faces.begin(), faces.end());
    // A later object is read whatever happened to this one.
    lines.insert(lines.end(), {"Object \"next\" {", "\tvertex 1 {", "\t\t7 7 7", "\t}", "}"});
    Load l(Doc(lines));
    EXPECT_EQ(l.result, 1) << c.name;
    EXPECT_EQ(l.model->positionCount, c.positions + 1) << c.name;
    EXPECT_EQ(l.model->polygonCount, c.polygons) << c.name;
  }
}

TEST(MqoReader, TakesLongLinesInPiecesOf1023Bytes) {
  // The first face line is 1100 bytes long: its second piece is the block's second line, so the
  // last face line falls outside the block.
  const std::string longLine = "\t\t3 V(0 1 2)" + std::string(1100 - 12, ' ');
  Load l(Doc({"Object \"o\" {", "\tvertex 3 {", "\t\t0 0 0", "\t\t1 0 0", "\t\t0 1 0", "\t}",
              "\tface 2 {", longLine, "\t\t3 V(2 1 0)", "\t}", "}"}));
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->polygonCount, 1);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{0, 1, 2}));
}

TEST(MqoReader, TakesTheFileNamePartOfTexturePaths) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\tex\\wood.bmp", "wood.bmp"},
      {"tex/sub/a.png", "a.png"},
      {"d/e\\f.bmp", "f.bmp"},
      {"plain.bmp", "plain.bmp"},
      // 表 and ソ end in the byte of a backslash; they are part of the name.
      {"sub\\\x95\x5C.bmp", "\x95\x5C.bmp"},
      {"\x83\x5C\\\x83\x5Cx.bmp", "\x83\x5Cx.bmp"},
  };
  for (const auto& [path, name] : cases) {
    Load l(Doc({"Material 1 {", "\t\"m\" tex(\"" + path + "\")", "}"}));
    ASSERT_EQ(l.model->textureSlotCount, 2);
    EXPECT_EQ(l.model->textureSlots[1].fileName.View(), name);
  }
}

TEST(MqoReader, ReadsFilesAndRefusesMissingOnes) {
  testing::TempDir dir;
  testing::WriteFile(dir / "a.mqo", Doc(BoxLines()));
  RecordingModelHost host;
  auto model = CreateModel({});
  EXPECT_EQ(LoadMqo(host, *model, dir / "a.mqo", 0), 1);
  EXPECT_EQ(model->polygonCount, 3);
  EXPECT_EQ(LoadMqo(host, *model, dir / "missing.mqo", 0), 0);
  EXPECT_EQ(host.lines.size(), 1u);
}

// An object's facet keeps edges sharper than it flat and smooths the others; shading 0 is flat;
// an object without either keeps the smooth normals of its positions and no normal pool.
TEST(MqoReader, FacetKeepsSharperEdgesFlat) {
  auto object = [](const std::vector<Vec3>& v, const std::vector<std::vector<int>>& faces,
                   const std::string& shading) {
    std::vector<std::string> l = {"Object \"o\" {", shading,
                                  "\tvertex " + std::to_string(v.size()) + " {"};
    for (Vec3 p : v)
      l.push_back(std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.z));
    l.insert(l.end(), {"\t}", "\tface " + std::to_string(faces.size()) + " {"});
    for (const auto& f : faces) {
      std::string line = std::to_string(f.size()) + " V(";
      for (int i : f)
        line += std::to_string(i) + " ";
      l.push_back(line + ")");
    }
    l.insert(l.end(), {"\t}", "}"});
    return Doc(l);
  };
  std::vector<Vec3> cube;
  for (int i = 0; i < 8; ++i)
    cube.push_back(testing::CubeCorner(i) * 10.0f);
  // A sphere of 16 segments and 8 rings: poles 0 and 1, ring r segment s at 2 + 16 r + s.
  std::vector<Vec3> sphere = {{0, 10, 0}, {0, -10, 0}};
  std::vector<std::vector<int>> faces;
  for (int r = 1; r < 8; ++r)
    for (int s = 0; s < 16; ++s) {
      const float a = 3.14159265f * r / 8, b = 3.14159265f * s / 8;
      sphere.push_back(Vec3{std::sin(a) * std::cos(b), std::cos(a), std::sin(a) * std::sin(b)} *
                       10);
    }
  auto at = [](int r, int s) { return 2 + 16 * (r - 1) + s % 16; };
  for (int s = 0; s < 16; ++s) {
    faces.push_back({0, at(1, s + 1), at(1, s)});
    faces.push_back({1, at(7, s), at(7, s + 1)});
    for (int r = 1; r < 7; ++r)
      faces.push_back({at(r, s), at(r, s + 1), at(r + 1, s + 1), at(r + 1, s)});
  }
  const struct {
    const char* name;
    std::string doc;
    char shading;
    int normals;
  } cases[] = {
      {"cube", object(cube, testing::kCubeQuads, "\tdepth 0"), '-', 0},
      {"cube 59.5", object(cube, testing::kCubeQuads, "\tfacet 59.5"), 'f', 6},
      {"cube 90.5", object(cube, testing::kCubeQuads, "\tfacet 90.5"), 's', 8},
      {"cube 90.5 flat", object(cube, testing::kCubeQuads, "\tshading 0\r\n\tfacet 90.5"), 'f', 6},
      {"sphere 59.5", object(sphere, faces, "\tfacet 59.5"), 's', int(sphere.size())},
      {"sphere 0", object(sphere, faces, "\tfacet 0"), 'f', int(faces.size())},
  };
  for (const auto& c : cases) {
    Load l(c.doc);
    ASSERT_EQ(l.result, 1) << c.name;
    EXPECT_EQ(testing::CornerShading(*l.model), c.shading) << c.name;
    EXPECT_EQ(l.model->normalCount, c.normals) << c.name;
  }
}

// LF line ends, the Ver 1.1 header, blocks the reader does not know (nested, at the top and in
// an object) and a UID after the UVs give the same model as the plain document.
TEST(MqoReader, LineEndsVersionAndUnknownBlocksLeaveTheModelAlone) {
  const Load plain(Doc(BoxLines()));
  ASSERT_EQ(plain.result, 1);
  std::vector<std::string> extra = BoxLines();
  extra.insert(extra.begin(),
               {"IncludeXml \"a.xml\"", "Thumbnail 1 1 24 rgb raw {", "\tMaterial 1 { \"}\"",
                "\t\"x\" col(0.000 0.000 0.000 1.000)", "\t}", "}"});
  const auto face = std::find(extra.begin(), extra.end(), "\tface 3 {");
  extra.insert(face, {"\tvertexattr {", "\t\tweit {", "\t\t\t1 0.5", "\t\t}", "\t}"});
  auto uid = std::find_if(extra.begin(), extra.end(), [](const std::string& l) {
    return l.starts_with("\t\t4 V(0 1 2 3) M(1)");
  });
  *uid += " UID(3)";
  std::string v11 = Doc(extra, "\n");
  v11.replace(v11.find("1.0"), 3, "1.1");
  for (const std::string& doc : {Doc(BoxLines(), "\n"), Doc(extra), v11}) {
    Load l(doc);
    EXPECT_EQ(l.result, 1);
    EXPECT_TRUE(*l.model == *plain.model) << doc;
  }
}

}  // namespace
}  // namespace wz
