#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "model/test_models.h"

namespace wz {
namespace {

struct RokFace {
  int palette = 0;
  std::vector<int> edges;
};

struct RokLayout {
  std::vector<Vec3> points;
  std::vector<std::pair<int, int>> edges;
  std::vector<RokFace> faces;
  std::array<std::array<int, 7>, 13> palette{};
};

// The lines of a ROK file, one value per line.
std::vector<std::string> RokLines(const RokLayout& layout) {
  std::vector<std::string> l = {"ROKKAKU 5.25", "POINT"};
  for (size_t i = 0; i < layout.points.size(); ++i) {
    const Vec3& p = layout.points[i];
    l.insert(l.end(), {std::to_string(i + 1), "0", "0", "0", "0", std::to_string(p.x),
                       std::to_string(p.y), std::to_string(p.z)});
  }
  l.push_back("LINE0");
  for (const auto& [a, b] : layout.edges)
    l.insert(l.end(), {std::to_string(a), std::to_string(b), "0", "0"});
  l.push_back("FACE0");
  for (size_t j = 0; j < layout.faces.size(); ++j) {
    const RokFace& f = layout.faces[j];
    l.insert(l.end(),
             {std::to_string(f.edges.size()), std::to_string(f.palette), std::to_string(j + 1)});
    for (int e : f.edges)
      l.push_back(std::to_string(e));
  }
  l.insert(l.end(), {"END00", "misc", "PALC0", "13", "0"});
  for (const auto& entry : layout.palette)
    for (int v : entry)
      l.push_back(std::to_string(v));
  l.insert(l.end(), {"ENDP0", "tail"});
  return l;
}

std::vector<uint8_t> Join(const std::vector<std::string>& lines, const std::string& eol = "\r\n") {
  std::string text;
  for (const std::string& line : lines)
    text += line + eol;
  return {text.begin(), text.end()};
}

RokLayout Cube() {
  RokLayout s;
  s.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
              {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  s.edges = {{1, 2}, {2, 3}, {3, 4}, {4, 1}, {5, 6}, {6, 7},
             {7, 8}, {8, 5}, {1, 5}, {2, 6}, {3, 7}, {4, 8}};
  s.faces = {{0, {1, 2, 3, 4}},   {0, {5, 6, 7, 8}},   {0, {1, 10, 5, 9}},
             {0, {2, 11, 6, 10}}, {0, {3, 12, 7, 11}}, {0, {4, 9, 8, 12}}};
  return s;
}

// Points (1,2,3), (4,5,6), (7,8,9); one triangle whose first edge runs 2 -> 1, second 1 -> 3.
RokLayout Triangle() {
  RokLayout s;
  s.points = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  s.edges = {{2, 1}, {1, 3}, {3, 2}};
  s.faces = {{-1, {1, 2, 3}}};
  return s;
}

int Load(RecordingModelHost& host, Model& model, const std::vector<uint8_t>& file) {
  const int result = LoadRokFromMemory(host, model, "a.rok", file, 0);
  auto fault = CheckModelInvariants(model);
  EXPECT_FALSE(fault) << fault->message;
  return result;
}

Vec3 Scaled(Vec3 p) {
  return {10 * p.x, -10 * p.y, 10 * p.z};
}

TEST(RokReader, ReadsACubeWithVertexOrdersFromTheEdgeChains) {
  RecordingModelHost host;  // into pools preallocated for one polygon, which grow
  auto model =
      CreateModel(testing::Options("", false, true, ModelCapacities::ForPolygonCapacity(1)));
  model->groups.resize(2, NewGroup());
  model->groupCount = 2;
  const RokLayout cube = Cube();
  ASSERT_EQ(Load(host, *model, Join(RokLines(cube))), 1);
  EXPECT_EQ(model->polygonCount, 6);
  EXPECT_EQ(model->positionCount, 24);
  EXPECT_EQ(model->colourCount, 24);
  EXPECT_EQ(model->uvCount, 1);
  EXPECT_EQ(model->uvs[0], (Uv{0, 0}));
  const int orders[6][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {1, 2, 6, 5},
                            {2, 3, 7, 6}, {3, 4, 8, 7}, {4, 1, 5, 8}};
  for (int j = 0; j < 6; ++j) {
    const Polygon& p = model->polygons[size_t(j)];
    EXPECT_EQ(p.cornerCount, 4);
    EXPECT_EQ(p.group, 0);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(p.corners[size_t(k)], (Corner{4 * j + k, 0, 4 * j + k, 0}));
      EXPECT_EQ(model->positions[size_t(4 * j + k)], Scaled(cube.points[size_t(orders[j][k] - 1)]))
          << j << " " << k;
    }
  }
  EXPECT_EQ(model->groups[0].shading, 3);
  EXPECT_EQ(model->groups[1].shading, 4);
  EXPECT_EQ(model->groups[0].doubleSided, 1);
  EXPECT_EQ(model->groups[1].doubleSided, 1);
  EXPECT_EQ(model->groupCount, 2);
  EXPECT_EQ(model->fileName.View(), "a.rok");
  EXPECT_EQ(host.frameClockResets, 1);
}

TEST(RokReader, TriangleVertexOrder) {
  struct Case {
    std::pair<int, int> first, second;
    std::array<int, 3> order;
  };
  const Case cases[] = {
      {{2, 1}, {1, 3}, {2, 1, 3}},  // first edge's A not on the second edge
      {{1, 2}, {1, 3}, {2, 1, 3}},  // first edge's A on the second edge: reversed
      {{1, 2}, {3, 1}, {2, 1, 3}},
      {{1, 2}, {3, 2}, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    RokLayout s = Triangle();
    s.edges = {c.first, c.second, {3, 2}};
    RecordingModelHost host;
    auto model = CreateModel({});
    ASSERT_EQ(Load(host, *model, Join(RokLines(s))), 1);
    EXPECT_EQ(model->polygons[0].cornerCount, 3);
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(model->positions[size_t(k)], Scaled(s.points[size_t(c.order[size_t(k)] - 1)]))
          << c.order[0] << c.order[1] << c.order[2] << " corner " << k;
  }
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(Load(host, *model, Join(RokLines(Triangle()))), 1);
  EXPECT_EQ(model->positions[1], (Vec3{10, -20, 30}));
}

TEST(RokReader, FaceColoursComeFromThePalette) {
  struct Case {
    int palette;
    ColourF colour;
  };
  const Case cases[] = {
      {-1, {128, 128, 128, 255}},  // built-in entry 0
      {0, {255, 0, 0, 255}},       // file entry 1: the mean of 255,0,0 and 255,0,0
      {12, {0, 100, 50, 255}},     // file entry 13
      {13, {128, 128, 128, 255}},  // no entry 14: grey
      {-5, {128, 128, 128, 255}},
  };
  for (const Case& c : cases) {
    RokLayout s = Triangle();
    s.palette[0] = {255, 0, 0, 255, 0, 0, 9};
    s.palette[12] = {0, 200, 100, 0, 0, 0, 0};
    s.faces[0].palette = c.palette;
    RecordingModelHost host;
    auto model = CreateModel({});
    ASSERT_EQ(Load(host, *model, Join(RokLines(s))), 1) << c.palette;
    for (int k = 0; k < 3; ++k) {
      const ColourF got = model->colours[size_t(k)];
      EXPECT_FLOAT_EQ(got.r, c.colour.r) << c.palette;
      EXPECT_FLOAT_EQ(got.g, c.colour.g) << c.palette;
      EXPECT_FLOAT_EQ(got.b, c.colour.b) << c.palette;
      EXPECT_FLOAT_EQ(got.a, 255.0f);
    }
  }
}

TEST(RokReader, LineEndsAndLineLengths) {
  RecordingModelHost host;
  auto reference = CreateModel({});
  ASSERT_EQ(Load(host, *reference, Join(RokLines(Cube()), "\n")), 1);
  struct Case {
    const char* what;
    std::string eol;
    size_t unusedLineLength;  // of one unused line of point 1
    bool loads;
  };
  const Case cases[] = {
      {"CR LF", "\r\n", 1, true},
      {"CR", "\r", 1, true},
      {"LF CR", "\n\r", 1, true},
      {"19 characters", "\n", 19, true},
      {"LF LF leaves empty lines", "\n\n", 1, false},
      {"CR CR leaves empty lines", "\r\r", 1, false},
      {"20 characters make two lines", "\n", 20, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = RokLines(Cube());
    lines[3] = std::string(c.unusedLineLength, '0');
    RecordingModelHost h;
    auto model = CreateModel({});
    ASSERT_EQ(Load(h, *model, Join(lines, c.eol)), c.loads ? 1 : 0) << c.what;
    if (c.loads) {
      EXPECT_EQ(*model, *reference) << c.what;
    }
  }
}

TEST(RokReader, RefusesBrokenFilesAndLeavesTheModelUnchanged) {
  using Lines = std::vector<std::string>;
  auto replace = [](Lines l, const std::string& from, const std::string& to) {
    *std::find(l.begin(), l.end(), from) = to;
    return l;
  };
  auto after = [](Lines l, const std::string& marker, long offset, const std::string& to) {
    *(std::find(l.begin(), l.end(), marker) + offset) = to;
    return l;
  };
  auto edit = [](RokLayout s, auto change) {
    change(s);
    return RokLines(s);
  };
  const Lines tri = RokLines(Triangle());
  const std::pair<const char*, Lines> cases[] = {
      {"marker LINE without 0", replace(tri, "LINE0", "LINE")},
      {"no POINT", replace(tri, "POINT", "POINTS")},
      {"no END00", replace(tri, "END00", "END0")},
      {"no PALC0", replace(tri, "PALC0", "PALC")},
      {"no ENDP0", replace(tri, "ENDP0", "ENDP")},
      {"palette 14", edit(Triangle(), [](RokLayout& s) { s.faces[0].palette = 14; })},
      {"point out of sequence", replace(tri, "2", "3")},
      {"edge to point 4 of 3", edit(Triangle(), [](RokLayout& s) { s.edges[2].second = 4; })},
      {"edge to point 0", edit(Triangle(), [](RokLayout& s) { s.edges[2].first = 0; })},
      {"face of 5 edges", edit(Triangle(),
                               [](RokLayout& s) {
                                 s.faces[0].edges = {1, 2, 3, 1, 2};
                               })},
      {"face of 2 edges", edit(Triangle(),
                               [](RokLayout& s) {
                                 s.faces[0].edges = {1, 2};
                               })},
      {"edge 4 of 3", edit(Triangle(), [](RokLayout& s) { s.faces[0].edges[2] = 4; })},
      {"edge 0", edit(Triangle(), [](RokLayout& s) { s.faces[0].edges[2] = 0; })},
      {"face out of sequence", after(tri, "FACE0", 3, "2")},
      {"no points", edit(RokLayout{}, [](RokLayout&) {})},
      {"no edges", edit(Triangle(),
                        [](RokLayout& s) {
                          s.edges.clear();
                          s.faces.clear();
                        })},
      {"no faces", edit(Triangle(), [](RokLayout& s) { s.faces.clear(); })},
      {"palette announces 12", replace(tri, "13", "12")},
  };
  Lines twelve = tri, fourteen = tri;
  auto endp = std::find(twelve.begin(), twelve.end(), "ENDP0");
  twelve.erase(endp - 7, endp);
  endp = std::find(fourteen.begin(), fourteen.end(), "ENDP0");
  fourteen.insert(endp, 7, "1");

  std::vector<std::pair<const char*, Lines>> all(std::begin(cases), std::end(cases));
  all.emplace_back("12 palette entries", twelve);
  all.emplace_back("14 palette entries", fourteen);
  for (const auto& [what, lines] : all) {
    RecordingModelHost host;
    auto model = CreateModel({});
    const Model before = *model;
    EXPECT_EQ(Load(host, *model, Join(lines)), 0) << what;
    EXPECT_EQ(*model, before) << what;
    ASSERT_EQ(host.lines.size(), 1u) << what;
    EXPECT_EQ(host.lines[0].rfind("*** LoadError *** a.rok : ", 0), 0u) << host.lines[0];
    EXPECT_EQ(host.frameClockResets, 0);
  }
}

TEST(RokReader, PrefixesAreRefusedUntilThePaletteEnds) {
  const std::vector<uint8_t> file = Join(RokLines(Triangle()), "\n");
  const std::string text(file.begin(), file.end());
  const size_t complete = text.find("ENDP0") + 5;
  for (size_t n = 0; n <= file.size(); ++n) {
    RecordingModelHost host;
    auto model = CreateModel({});
    ASSERT_EQ(Load(host, *model, {file.begin(), file.begin() + long(n)}), n >= complete ? 1 : 0)
        << n;
  }
}

}  // namespace
}  // namespace wz
