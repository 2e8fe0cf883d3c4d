#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdlib>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "model/test_models.h"

namespace wz {
namespace {

using Corners = std::array<Vec3, 4>;

const Corners kSquare = {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};

// A 3DFACE entity: its layer, then the twelve corner codes with their values. `beforeCorner`
// is put in front of the code of corner n = 3 (code 13), `after` after the last value.
std::string Face(const Corners& c, const std::string& pad = "",
                 const std::string& beforeCorner = "", const std::string& after = "") {
  std::string s = "  0\n3DFACE\n  8\nLAYER0\n";
  for (int n = 0; n < 4; ++n) {
    if (n == 3) s += beforeCorner;
    const float v[3] = {c[size_t(n)].x, c[size_t(n)].y, c[size_t(n)].z};
    for (int axis = 0; axis < 3; ++axis)
      s += pad + std::to_string(10 * (axis + 1) + n) + "\n" + std::to_string(v[axis]) + "\n";
  }
  return s + after;
}

// The same face with its codes written from 33 back to 10, and `extra` codes in front.
std::string ReversedFace(const Corners& c, const std::string& extra = "") {
  std::string s = "  0\n3DFACE\n" + extra;
  for (int n = 3; n >= 0; --n) {
    const float v[3] = {c[size_t(n)].x, c[size_t(n)].y, c[size_t(n)].z};
    for (int axis = 2; axis >= 0; --axis)
      s += std::to_string(10 * (axis + 1) + n) + "\n" + std::to_string(v[axis]) + "\n";
  }
  return s;
}

std::string File(const std::string& entities) {
  return "  0\nSECTION\n  2\nENTITIES\n" + entities + "  0\nENDSEC\n  0\nEOF\n";
}

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

// POLYLINE meshes: a polyline with flag `flags` (M and N in 71 and 72) and its VERTEX records.
std::string Polyline(int flags, const std::string& vertices, int m = 0, int n = 0) {
  return "  0\nPOLYLINE\n  8\n0\n 66\n1\n 70\n" + std::to_string(flags) + "\n 71\n" +
         std::to_string(m) + "\n 72\n" + std::to_string(n) + "\n" + vertices + "  0\nSEQEND\n";
}
std::string Position(Vec3 p, int flags = 192) {
  return "  0\nVERTEX\n  8\n0\n 70\n" + std::to_string(flags) + "\n 10\n" + std::to_string(p.x) +
         "\n 20\n" + std::to_string(p.y) + "\n 30\n" + std::to_string(p.z) + "\n";
}
std::string FaceRecord(int a, int b, int c, int d = 0) {
  return "  0\nVERTEX\n 10\n0\n 20\n0\n 30\n0\n 70\n128\n 71\n" + std::to_string(a) + "\n 72\n" +
         std::to_string(b) + "\n 73\n" + std::to_string(c) + "\n 74\n" + std::to_string(d) + "\n";
}

int Load(RecordingModelHost& host, Model& model, const std::string& file) {
  const int result = LoadDxfFromMemory(host, model, "a.dxf", Bytes(file), 0);
  auto fault = CheckModelInvariants(model);
  EXPECT_FALSE(fault) << fault->message;
  return result;
}

TEST(DxfReader, ReadsAFaceWithItsCornersReordered) {
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(Load(host, *model, File(Face(kSquare))), 1);
  ASSERT_EQ(model->polygonCount, 1);
  const Polygon& p = model->polygons[0];
  EXPECT_EQ(p.cornerCount, 4);
  EXPECT_EQ(p.group, 0);
  const Vec3 expected[] = {{1, 1, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p.corners[size_t(i)].position, i);
    EXPECT_EQ(p.corners[size_t(i)].colour, 0);
    EXPECT_EQ(p.corners[size_t(i)].uv, 0);
    EXPECT_EQ(model->positions[size_t(i)], expected[i]) << i;
  }
  EXPECT_EQ(p.faceNormal, (Vec3{0, 0, -1}));  // derived, facing away from the DXF face
  EXPECT_EQ(model->positionCount, 4);
  EXPECT_EQ(model->colourCount, 1);
  EXPECT_EQ(model->colours[0], (ColourF{255, 255, 255, 255}));
  EXPECT_EQ(model->uvCount, 1);
  const Group& g = model->groups[0];
  EXPECT_EQ(g.colour, (ColourF{200, 200, 200, 255}));
  EXPECT_EQ(g.doubleSided, 1);
  EXPECT_EQ(g.shading, 3);
  EXPECT_EQ(model->fileName.View(), "a.dxf");
  EXPECT_EQ(host.frameClockResets, 1);
}

TEST(DxfReader, AcceptedLayouts) {
  RecordingModelHost host;
  auto reference = CreateModel({});
  ASSERT_EQ(Load(host, *reference, File(Face(kSquare))), 1);
  auto crlf = [](std::string s) {
    for (size_t i = s.find('\n'); i != std::string::npos; i = s.find('\n', i + 2))
      s.insert(i, "\r");
    return s;
  };
  const std::pair<const char*, std::string> cases[] = {
      {"blanks before the codes", File(Face(kSquare, "  "))},
      {"tabs and blanks", File(Face(kSquare, " \t "))},
      {"CR LF line ends", crlf(File(Face(kSquare)))},
      {"code 70 after the corners", File(Face(kSquare, "", "", " 70\n15\n"))},
      {"blank lines", File(Face(kSquare, "\n \n"))},
      {"a LINE entity before", File("  0\nLINE\n 10\n5\n 20\n5\n 30\n5\n" + Face(kSquare))},
      {"code 70 between corners", File(Face(kSquare, "", " 70\n15\n"))},
      {"corner codes in reverse order", File(ReversedFace(kSquare))},
      {"no colour: the layer has none", File(ReversedFace(kSquare, " 62\n256\n"))},
      {"colour by block", File(Face(kSquare, "", " 62\n0\n"))},
  };
  for (const auto& [what, file] : cases) {
    RecordingModelHost h;
    auto model = CreateModel({});
    ASSERT_EQ(Load(h, *model, file), 1) << what;
    EXPECT_EQ(*model, *reference) << what;
  }
}

TEST(DxfReader, ValueLinesOfNineteenAndTwentyCharacters) {
  for (const std::string lineEnd : {"\n", "\r\n"}) {
    std::string file = File(Face(kSquare));
    const std::string x = "10\n0.000000\n";
    const size_t at = file.find(x) + 3;
    for (const auto& [value, loads] :
         {std::pair{std::string(19, '1'), 1}, {std::string(20, '1'), 0}}) {
      std::string f = file;
      f.replace(at, 9, value + lineEnd);
      RecordingModelHost host;
      auto model = CreateModel({});
      EXPECT_EQ(Load(host, *model, f), loads) << value.size() << " " << lineEnd.size();
    }
  }
}

// A file whose x of corner 0 (position 2 after the reordering) is written as `value`.
std::string WithFirstX(const std::string& value) {
  std::string file = File(Face(kSquare));
  const std::string x = "10\n0.000000\n";
  return file.replace(file.find(x) + 3, 8, value);
}

TEST(DxfReader, ValuesReadAsTheCLibraryReadsTheStrippedLine) {
  // Each value line, and the text that "%f" then sees: blanks removed, cut at a NUL.
  const std::pair<std::string, std::string> cases[] = {
      {"1.5", "1.5"},
      {"-.5", "-.5"},
      {"+2.5", "+2.5"},
      {"1 .5", "1.5"},
      {" \t-3\t", "-3"},
      {"0x1p3", "0x1p3"},
      {"1e39", "1e39"},
      {"-1e-45", "-1e-45"},
      {"1e-50", "1e-50"},
      {"12abc", "12abc"},
      {"abc", "abc"},  // no number: the coordinate keeps its 0
      {"inf", "inf"},
      {"-nan", "-nan"},
      {"-inf", "-inf"},
      {"nan(123)", "nan(123)"},
      {"-nan(7)", "-nan(7)"},
      {"0.1000000014901161193847656", "0.1000000"},  // cut after 19 characters: refused
      {"1234567890123456789", "1234567890123456789"},
      {"1.5" + std::string(1, '\0') + "99", "1.5"},
      {"\r5", "\r5"},  // a lone CR is a character, and white space to strtof
      {"7\r", "7\r"},
  };
  for (const auto& [line, seen] : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    const int result = Load(host, *model, WithFirstX(line));
    if (line.size() > 19) {
      EXPECT_EQ(result, 0) << line;
      continue;
    }
    ASSERT_EQ(result, 1) << line;
    char* end = nullptr;
    float want = std::strtof(seen.c_str(), &end);
    if (end == seen.c_str()) want = 0.0f;
    EXPECT_EQ(std::bit_cast<uint32_t>(model->positions[2].x), std::bit_cast<uint32_t>(want))
        << '"' << line << "\" " << model->positions[2].x << " " << want;
  }
}

TEST(DxfReader, AValueThatHoldsNoNumberReadsAsZeroAfterAnotherFace) {
  std::string file = WithFirstX("abc");
  file.insert(file.find("  0\n3DFACE"), Face({{{7, 7, 7}, {7, 7, 7}, {7, 7, 7}, {7, 7, 7}}}));
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(Load(host, *model, file), 1);
  EXPECT_EQ(model->positions[4 + 2], (Vec3{0, 0, 0}));
}

TEST(DxfReader, KeysAreWholeStrippedLines) {
  const std::string face = Face(kSquare);
  const std::pair<std::string, int> cases[] = {
      {File(face), 1},
      {File("  0\n3D FACE\n" + face.substr(face.find("  8"))), 1},     // blanks inside
      {File("  0\n3DFACE\r\r\n" + face.substr(face.find("  8"))), 0},  // "3DFACE\r"
      // After a NUL nothing of the line counts, its line feed neither.
      {File("  0\n3DFACE" + std::string(1, '\0') + "x\n" + face.substr(face.find("  8"))), 0},
      // A line that is empty up to its NUL is skipped like an empty line.
      {File(face.substr(0, face.find("20\n")) + std::string(1, '\0') + "20\n" +
            face.substr(face.find("20\n"))),
       1},
  };
  for (const auto& [file, loads] : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    EXPECT_EQ(Load(host, *model, file), loads) << file;
  }
}

TEST(DxfReader, RefusesBrokenFilesAndLeavesTheModelUnchanged) {
  const std::string face = Face(kSquare);
  const std::pair<const char*, std::string> cases[] = {
      {"only LINEs", File("  0\nLINE\n 10\n5\n 20\n5\n 30\n5\n 11\n6\n 21\n6\n 31\n6\n")},
      {"empty", ""},
      {"corners 1 to 3 missing", File(face.substr(0, face.find("20\n")) + "30\n0\n20\n0\n")},
      {"a mesh position without z",
       File(Polyline(64, "  0\nVERTEX\n 10\n1\n 20\n2\n 70\n192\n" + FaceRecord(1, 1, 1)))},
      {"a polyface naming no position there",
       File(Polyline(64, Position({0, 0, 0}) + Position({1, 0, 0}) + FaceRecord(1, 2, 3)))},
      {"ends before the first corner", "0\n3DFACE\n8\nLAYER0\n"},
      {"ends inside the corners", face.substr(0, face.find("31\n"))},
      {"3DFACE without the line feed", "  0\n3DFACE"},
  };
  for (const auto& [what, file] : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    const Model before = *model;
    EXPECT_EQ(Load(host, *model, file), 0) << what;
    EXPECT_EQ(*model, before) << what;
    ASSERT_EQ(host.lines.size(), 1u) << what;
    EXPECT_EQ(host.lines[0].rfind("*** LoadError *** a.dxf : ", 0), 0u) << host.lines[0];
    EXPECT_EQ(host.frameClockResets, 0);
  }
}

// Each polygon's corner count and positions (after the reader's reordering).
std::vector<std::vector<Vec3>> PolygonsOf(const Model& m) {
  std::vector<std::vector<Vec3>> out;
  for (int32_t j = 0; j < m.polygonCount; ++j) {
    const Polygon& p = m.polygons[size_t(j)];
    out.emplace_back();
    for (size_t i = 0; i < p.cornerCount; ++i)
      out.back().push_back(m.positions[size_t(p.corners[i].position)]);
  }
  return out;
}

TEST(DxfReader, PolyfaceMeshesByVertexNumbers) {
  const std::string vertices = Position({0, 0, 0}) + Position({1, 0, 0}) + Position({1, 1, 0}) +
                               Position({0, 1, 0}) + Position({0, 0, 1}, 64);
  const std::string faces = FaceRecord(1, -2, 3, 4)  // an invisible edge: the number is 2
                            + FaceRecord(1, 2, 5)    // a triangle: corner 4 unused
                            + FaceRecord(1, 2, 0)    // an edge: left out
                            + FaceRecord(1, 2, 9);   // no position 9: left out
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(Load(host, *model, File(Polyline(64, vertices + faces, 5, 4))), 1);
  const std::vector<std::vector<Vec3>> want = {{{1, 1, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}},
                                               {{0, 0, 1}, {1, 0, 0}, {0, 0, 0}}};
  EXPECT_EQ(PolygonsOf(*model), want);
  EXPECT_EQ(model->positionCount, 7);
  EXPECT_EQ(model->groupCount, 1);
}

TEST(DxfReader, PolygonMeshesClosedInMAndN) {
  std::string grid;  // 3 x 3 positions, vertex (m, n) at (m, n, 0)
  for (int m = 0; m < 3; ++m)
    for (int n = 0; n < 3; ++n)
      grid += Position({float(m), float(n), 0}, 64);
  const struct {
    int flags, m, n;
    int32_t quads;
  } cases[] = {{16, 3, 3, 4},
               {17, 3, 3, 6},
               {48, 3, 3, 6},
               {49, 3, 3, 9},
               // More rows than the file holds: only those there, not closed.
               {17, 1000, 3, 4},
               {16, 3, 2, 2}};  // 3 x 2 of the first six positions, one left over
  for (const auto& c : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    ASSERT_EQ(Load(host, *model, File(Polyline(c.flags, grid, c.m, c.n))), 1) << c.flags;
    EXPECT_EQ(model->polygonCount, c.quads) << c.flags << " " << c.m << " " << c.n;
    const auto polygons = PolygonsOf(*model);
    const std::vector<Vec3> first = {{1, 1, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}};
    if (c.n == 3) {
      EXPECT_EQ(polygons[0], first);
    }
  }
  RecordingModelHost host;
  auto model = CreateModel({});
  EXPECT_EQ(Load(host, *model, File(Polyline(16, grid, 3, 1000))), 0);  // not one whole row
}

TEST(DxfReader, ColoursMakeOneGroupEach) {
  const std::string tables =
      "  0\nSECTION\n  2\nTABLES\n  0\nTABLE\n  2\nLAYER\n 70\n2\n"
      "  0\nLAYER\n  2\nGreen\n 70\n0\n 62\n3\n  0\nLAYER\n  2\nOff\n 62\n-5\n"
      "  0\nENDTAB\n  0\nENDSEC\n";
  auto face = [](const std::string& codes) { return ReversedFace(kSquare, codes); };
  const ColourF grey{200, 200, 200, 255}, red{255, 0, 0, 255}, green{0, 255, 0, 255},
      blue{0, 0, 255, 255};
  const struct {
    std::string entities;
    std::vector<ColourF> groups;
    std::vector<int32_t> polygonGroups;
  } cases[] = {
      {face("") + face(" 62\n1\n") + face("  8\nGreen\n") + face("  8\nOff\n 62\n256\n") +
           face(" 62\n1\n  8\nOff\n") + face(" 62\n0\n") + face("  8\nNone\n 62\n256\n"),
       {grey, red, green, blue},
       {0, 1, 2, 3, 1, 0, 0}},
      // The first colour makes group 0; entries of the palette's rule-made part.
      {face(" 62\n30\n") + face(" 62\n11\n") + face(" 62\n250\n") + face(" 62\n-30\n"),
       {{255, 127, 0, 255}, {255, 127, 127, 255}, {51, 51, 51, 255}},
       {0, 1, 2, 0}},
      // A polyface face takes its own colour, or else its polyline's.
      {[] {
         std::string p =
             Polyline(64, Position({0, 0, 0}) + Position({1, 0, 0}) + Position({1, 1, 0}) +
                              FaceRecord(1, 2, 3) + " 62\n5\n" + FaceRecord(3, 2, 1));
         return p.replace(p.find("  8\n0\n"), 7, "  8\n0\n 62\n3\n");
       }(),
       {blue, green},
       {0, 1}},
  };
  for (const auto& c : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    ASSERT_EQ(Load(host, *model, tables + File(c.entities)), 1) << c.entities;
    ASSERT_EQ(model->groupCount, int32_t(c.groups.size())) << c.entities;
    for (size_t g = 0; g < c.groups.size(); ++g) {
      EXPECT_EQ(model->groups[g].colour, c.groups[g]) << g;
      EXPECT_EQ(model->groups[g].shading, 3);
      EXPECT_EQ(model->groups[g].doubleSided, 1);
    }
    std::vector<int32_t> groups;
    for (int32_t j = 0; j < model->polygonCount; ++j)
      groups.push_back(model->polygons[size_t(j)].group);
    EXPECT_EQ(groups, c.polygonGroups) << c.entities;
  }
}

TEST(DxfReader, ManyFacesGrowPreallocatedPools) {
  std::string entities;
  for (int j = 0; j < 5; ++j) {
    Corners c = kSquare;
    for (Vec3& v : c)
      v.z = float(j);
    entities += Face(c);
  }
  RecordingModelHost host;
  auto model =
      CreateModel(testing::Options("", false, true, ModelCapacities::ForPolygonCapacity(1)));
  ASSERT_EQ(Load(host, *model, File(entities)), 1);
  ASSERT_EQ(model->polygonCount, 5);
  EXPECT_EQ(model->positionCount, 20);
  EXPECT_EQ(model->positions[19], (Vec3{0, 1, 4}));
  EXPECT_EQ(model->polygons[4].corners[3].position, 19);
}

// Large files are read in stretches on several threads. Whatever the file holds around the places
// where the stretches meet, the model and the refusal are those of one reading from the start.
TEST(DxfReader, ReadingInStretchesGivesTheOneReadingResult) {
  std::vector<std::string> faces;
  for (int j = 0; j < 24; ++j) {
    Corners c = kSquare;
    for (Vec3& v : c)
      v = {v.x + float(j), v.y * float(j % 5), float(j) * 0.25f};
    faces.push_back(Face(c));
  }
  auto join = [&](size_t from, size_t to) {
    std::string s;
    for (size_t j = from; j < to; ++j)
      s += faces[j];
    return s;
  };
  const std::string all = join(0, 24);
  std::string mesh, grid;  // a polyface mesh's records (coloured), a 2 x 2 polygon mesh's
  for (int k = 0; k < 4; ++k)
    grid += Position({float(k), float(k % 2), 1}, 64);
  mesh = grid + FaceRecord(1, 2, 3) + " 62\n6\n" + FaceRecord(4, 3, -2, 1);
  const std::string noFirstCorner = faces[9].substr(0, faces[9].find(" 10\n"));
  const std::string crlf = [&] {
    std::string s = File(all);
    for (size_t i = s.find('\n'); i != std::string::npos; i = s.find('\n', i + 2))
      s.insert(i, "\r");
    return s;
  }();
  const std::pair<const char*, std::string> cases[] = {
      {"plain", File(all)},
      {"CR LF", crlf},
      {"blank lines before faces",
       File(join(0, 8) + "\n \n\t\n" + join(8, 16) + "\n\n" + join(16, 24))},
      {"a face without corner 0 takes the next face's corners",
       File(join(0, 9) + noFirstCorner + join(10, 24))},
      {"3DFACE where a value belongs",
       File(join(0, 12) + "  0\n3DFACE\n  8\n0\n 10\n3DFACE\n" + join(12, 24))},
      {"codes out of order late in the file",
       File(join(0, 20) + faces[20].substr(0, faces[20].find("20\n")) + "30\n0\n20\n0\n" +
            join(21, 24))},
      {"cut inside the last face", File(all).substr(0, File(all).size() - 40)},
      {"a NUL byte", File(join(0, 5) + std::string(1, '\0') + "\n" + join(5, 24))},
      // A line that starts with a NUL is empty to the C library: the value comes after it.
      {"a NUL line before a value",
       File(join(0, 13) +
            std::string(faces[13]).insert(faces[13].find(" 20\n") + 4,
                                          std::string(1, '\0') + "7\n") +
            join(14, 24))},
      {"meshes and colours between faces",
       File(join(0, 6) + Polyline(64, mesh) + join(6, 11) + Polyline(49, grid, 2, 2) +
            join(11, 17) + "  0\nPOLYLINE\n 62\n4\n 70\n64\n" + mesh + join(17, 24))},
      {"a value that holds no number after a face",
       File(join(0, 4) + std::string(faces[4]).replace(faces[4].find(" 10\n") + 4, 8, "-H0.5") +
            join(5, 24))},
      {"long lines", File(join(0, 7) + std::string(45, 'x') + "\n" + join(7, 15) + "  0\n" +
                          std::string(30, ' ') + "3DFACE\n" + join(15, 24))},
  };
  for (const auto& [what, file] : cases) {
    RecordingModelHost oneHost;
    auto one = CreateModel({});
    const int oneResult = LoadDxfFromMemory(oneHost, *one, "a.dxf", Bytes(file), 0, {64, 1});
    for (unsigned runs : {2u, 3u, 5u, 16u}) {
      RecordingModelHost host;
      auto model = CreateModel({});
      EXPECT_EQ(LoadDxfFromMemory(host, *model, "a.dxf", Bytes(file), 0, {64, runs}), oneResult)
          << what << ", " << runs;
      EXPECT_EQ(*model, *one) << what << ", " << runs;
      EXPECT_EQ(host.lines, oneHost.lines) << what << ", " << runs;
    }
  }
}

}  // namespace
}  // namespace wz
