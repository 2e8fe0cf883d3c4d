// LWOB writer: the byte layout, surfaces by first-corner colour, models written in part,
// refusals and failed writes, and a round trip through the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <random>

#include "formats/formats.h"
#include "formats/lwo_test_files.h"
#include "model/model_invariants.h"
#include "model/test_models.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using testing::Bytes;

// A model whose polygon p has the given corners and takes its colours from colour entries
// firstColour[p] (first corner) and one entry after all of them (the other corners).
std::unique_ptr<Model> ColouredModel(const std::vector<Vec3>& positions,
                                     const std::vector<std::vector<int>>& faces,
                                     const std::vector<ColourF>& firstColour) {
  auto m = testing::MakeMeshModel(positions, faces);
  m->colours = firstColour;
  m->colours.push_back({77, 77, 77, 255});
  m->colourCount = int32_t(m->colours.size());
  for (size_t p = 0; p < faces.size(); ++p) {
    for (int c = 0; c < m->polygons[p].cornerCount; ++c)
      m->polygons[p].corners[size_t(c)].colour = c == 0 ? int32_t(p) : m->colourCount - 1;
  }
  return m;
}

Bytes Save(const Model& m) {
  RecordingModelHost host;
  Bytes out;
  EXPECT_EQ(SaveLwoToMemory(host, m, "\\m\\out.lwo", out), 1);
  return out;
}

// The chunks after the 12-byte header, as identifier and body.
std::vector<std::pair<std::string, Bytes>> Chunks(const Bytes& file) {
  std::vector<std::pair<std::string, Bytes>> chunks;
  for (size_t pos = 12; pos + 8 <= file.size();) {
    const size_t n = size_t(file[pos + 4]) << 24 | size_t(file[pos + 5]) << 16 |
                     size_t(file[pos + 6]) << 8 | file[pos + 7];
    chunks.emplace_back(std::string(file.begin() + long(pos), file.begin() + long(pos) + 4),
                        Bytes(file.begin() + long(pos) + 8, file.begin() + long(pos + 8 + n)));
    pos += 8 + n;
  }
  return chunks;
}

TEST(LwoWriter, WritesTheLayoutByteForByte) {
  auto m = ColouredModel({{10, 20, 30}, {0, 0, 0}, {10, 0, 0}}, {{0, 1, 2}}, {{255, 128.7f, 0, 9}});
  const Bytes expected = {
      'F',  'O',  'R', 'M', 0,    0, 0,    150,  'L',  'W',  'O', 'B',                    //
      'S',  'R',  'F', 'S', 0,    0, 0,    4,    'W',  'Z',  '0', 0,                      //
      'P',  'N',  'T', 'S', 0,    0, 0,    36,                                            //
      0x3F, 0x80, 0,   0,   0x40, 0, 0,    0,    0x40, 0x40, 0,   0,                      //
      0,    0,    0,   0,   0,    0, 0,    0,    0,    0,    0,   0,                      //
      0x3F, 0x80, 0,   0,   0,    0, 0,    0,    0,    0,    0,   0,                      //
      'P',  'O',  'L', 'S', 0,    0, 0,    10,   0,    3,    0,   0,   0, 1, 0, 2, 0, 1,  //
      'S',  'U',  'R', 'F', 0,    0, 0,    64,   'W',  'Z',  '0', 0,                      //
      'C',  'O',  'L', 'R', 0,    4, 255,  128,  0,    0,                                 //
      'F',  'L',  'A', 'G', 0,    2, 0x01, 0x04,                                          //
      'S',  'M',  'A', 'N', 0,    4, 0x3F, 0x46, 0xD3, 0xF2,                              //
      'D',  'I',  'F', 'F', 0,    2, 0x01, 0x00, 'T',  'R',  'A', 'N', 0, 2, 0, 0,        //
      'S',  'P',  'E', 'C', 0,    2, 0,    0,    'G',  'L',  'O', 'S', 0, 2, 0, 0};
  EXPECT_EQ(Save(*m), expected);
}

TEST(LwoWriter, NamesOneSurfacePerFirstCornerColour) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    std::vector<ColourF> colours;     // first corner of each polygon
    std::vector<int> surfaceOf;       // expected surface number of each polygon
    std::vector<uint8_t> surfaceRed;  // expected red byte of each surface
  };
  const Case cases[] = {
      {{{1, 2, 3, 0}, {4, 5, 6, 0}, {1, 2, 3, 0}, {7, 8, 9, 0}}, {1, 2, 1, 3}, {1, 4, 7}},
      {{{200.2f, 0, 0, 0}, {200.9f, 0, 0, 0}}, {1, 1}, {200}},
      // Truncation toward zero, low 8 bits; NaN and huge values give 0.
      {{{-1.5f, 0, 0, 0}, {256, 0, 0, 0}, {300.7f, 0, 0, 0}, {nan, 0, 0, 0}, {1e20f, 0, 0, 0}},
       {1, 2, 3, 2, 2},
       {255, 0, 44}},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<int>> faces(c.colours.size(), {0, 1, 2});
    auto m = ColouredModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, faces, c.colours);
    const auto chunks = Chunks(Save(*m));
    ASSERT_EQ(chunks.size(), 3 + c.surfaceRed.size());
    for (size_t p = 0; p < c.surfaceOf.size(); ++p)
      EXPECT_EQ(chunks[2].second[p * 10 + 9], c.surfaceOf[p]) << p;
    for (size_t k = 0; k < c.surfaceRed.size(); ++k) {
      const Bytes& surf = chunks[3 + k].second;
      EXPECT_EQ(chunks[3 + k].first, "SURF");
      EXPECT_EQ(std::string(surf.begin(), surf.begin() + 3), "WZ" + std::to_string(k));
      EXPECT_EQ(surf[4 + 6], c.surfaceRed[k]) << k;
    }
  }
}

TEST(LwoWriter, PadsSurfaceNamesToEvenLength) {
  std::vector<ColourF> colours;
  for (int i = 0; i < 11; ++i)
    colours.push_back({float(i), 0, 0, 0});
  auto m = ColouredModel({{0, 0, 0}}, std::vector<std::vector<int>>(11, {0}), colours);
  const auto chunks = Chunks(Save(*m));
  const Bytes& srfs = chunks[0].second;
  ASSERT_EQ(srfs.size(), 10 * 4 + 6u);
  EXPECT_EQ(std::string(srfs.end() - 6, srfs.end()), std::string("WZ10\0\0", 6));
  EXPECT_EQ(chunks.back().second.size(), 6 + 60u);
}

TEST(LwoWriter, AModelWithoutPolygonsHasEmptyChunksAndNoSurface) {
  auto m = testing::MakeMeshModel({{1, 2, 3}}, {});
  const auto chunks = Chunks(Save(*m));
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0], (std::pair<std::string, Bytes>{"SRFS", {}}));
  EXPECT_EQ(chunks[1].second.size(), 12u);
  EXPECT_EQ(chunks[2], (std::pair<std::string, Bytes>{"POLS", {}}));
}

TEST(LwoWriter, WritesThePolygonsWhosePointsAndSurfacesFit) {
  // Points are numbered in 16 bits (65536 of them) and surfaces up to 32767. A model beyond
  // them keeps its polygons in order while they fit, with the positions they use as points.
  std::vector<Vec3> many(66000);
  for (size_t i = 0; i < many.size(); ++i)
    many[i] = {float(i), float(i % 7), 1.0f};
  std::vector<std::vector<int>> separate;  // 22000 triangles of three points of their own
  for (int t = 0; t < 22000; ++t)
    separate.push_back({3 * t, 3 * t + 1, 3 * t + 2});
  std::vector<std::vector<int>> shared(40000, {65999, 0, 1});
  std::vector<ColourF> colours(32768);
  for (size_t p = 0; p < colours.size(); ++p)
    colours[p] = {float(p % 256), float(p / 256), 0, 255};
  struct Case {
    const char* what;
    std::unique_ptr<Model> model;
    int64_t leftOut;
    bool readBack = true;  // the reader takes 256 surfaces
  };
  Case cases[] = {
      {"one triangle naming the last of 66000 positions",
       testing::MakeMeshModel(many, {{65999, 1, 0}}), 0},
      {"distinct points run out", testing::MakeMeshModel(many, separate), 22000 - 65535 / 3},
      {"polygons sharing points", testing::MakeMeshModel(many, shared), 0},
      {"surfaces run out",
       ColouredModel(many, std::vector<std::vector<int>>(32768, {0, 65999, 2}), colours), 1, false},
  };
  for (const Case& c : cases) {
    const Model& m = *c.model;
    EXPECT_EQ(LwoPolygonsLeftOut(m), c.leftOut) << c.what;
    RecordingModelHost host;
    Bytes file;
    ASSERT_EQ(SaveLwoToMemory(host, m, "\\m\\out.lwo", file), 1) << c.what;
    EXPECT_EQ(host.lines.size(), c.leftOut > 0 ? 1u : 0u) << c.what;
    if (!c.readBack) {
      const auto chunks = Chunks(file);
      ASSERT_EQ(chunks[2].first, "POLS");
      EXPECT_EQ(chunks[2].second.size(), size_t(m.polygonCount - c.leftOut) * 10) << c.what;
      continue;
    }
    auto back = CreateModel({});
    ASSERT_EQ(LoadLwoFromMemory(host, *back, "\\m\\out.lwo", file, 0), 1) << c.what;
    ASSERT_EQ(back->polygonCount, m.polygonCount - c.leftOut) << c.what;
    for (int32_t p : {0, back->polygonCount - 1}) {
      for (int k = 0; k < 3; ++k) {
        const Vec3 want = m.positions[size_t(m.polygons[size_t(p)].corners[size_t(k)].position)];
        const Vec3 got =
            back->positions[size_t(back->polygons[size_t(p)].corners[size_t(k)].position)];
        EXPECT_NEAR(got.x, want.x, 1e-2f) << c.what << " polygon " << p;
        EXPECT_NEAR(got.y, want.y, 1e-4f) << c.what << " polygon " << p;
      }
    }
  }
}

TEST(LwoWriter, RefusesWhatLwobCannotHoldAndReportsFailedWrites) {
  testing::TempDir dir;
  auto broken = testing::MakeMeshModel({{0, 0, 0}}, {{0, 0, 0}});
  broken->polygons[0].group = 5;
  auto fine = testing::MakeMeshModel(std::vector<Vec3>(65536), {{0, 1, 65535}});
  struct Case {
    const Model& model;
    std::string path;
    int result;
  };
  const Case cases[] = {
      {*broken, dir / "broken.lwo", 0},
      {*fine, dir / "missing-dir/fine.lwo", 0},
      {*fine, dir / "fine.lwo", 1},
  };
  for (const Case& c : cases) {
    RecordingModelHost host;
    EXPECT_EQ(SaveLwo(host, c.model, c.path), c.result) << c.path;
    EXPECT_EQ(std::filesystem::exists(c.path), c.result == 1) << c.path;
    EXPECT_EQ(host.lines.size(), c.result == 1 ? 0u : 1u) << c.path;
  }
  EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path().filename(), "fine.lwo");
}

TEST(LwoWriter, RoundTripsThroughTheReader) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> coordinate(-500.0f, 500.0f);
  std::vector<Vec3> positions(40);
  for (Vec3& p : positions)
    p = {coordinate(random), coordinate(random), coordinate(random)};
  std::vector<std::vector<int>> faces;
  std::vector<ColourF> colours;
  const ColourF palette[] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {10.5f, 20, 30, 1}};
  for (int f = 0; f < 30; ++f) {
    const int n = f % 10 == 9 ? 2 : 3 + f % 2;
    std::vector<int> face;
    for (int c = 0; c < n; ++c)
      face.push_back(int(random() % positions.size()));
    faces.push_back(face);
    colours.push_back(palette[f % 3 == 2 && f > 20 ? 0 : f % 3]);
  }
  auto original = ColouredModel(positions, faces, colours);
  const Bytes file = Save(*original);

  RecordingModelHost host;
  auto back = CreateModel({});
  ASSERT_EQ(LoadLwoFromMemory(host, *back, "\\m\\out.lwo", file, 0), 1);
  EXPECT_FALSE(CheckModelInvariants(*back));
  ASSERT_EQ(back->positionCount, original->positionCount);
  for (size_t i = 0; i < positions.size(); ++i) {
    EXPECT_NEAR(back->positions[i].x, positions[i].x, 1e-4f);
    EXPECT_NEAR(back->positions[i].y, positions[i].y, 1e-4f);
    EXPECT_NEAR(back->positions[i].z, positions[i].z, 1e-4f);
  }
  EXPECT_EQ(back->groupCount, 3);
  ASSERT_EQ(back->polygonCount, original->polygonCount);
  for (size_t p = 0; p < faces.size(); ++p) {
    const Polygon& poly = back->polygons[p];
    ASSERT_EQ(poly.cornerCount, faces[p].size());
    // A quad that would fold on its first diagonal (these are random) starts at its second corner.
    const size_t start = poly.cornerCount == 4 && poly.corners[0].position != faces[p][0] ? 1 : 0;
    for (size_t c = 0; c < faces[p].size(); ++c)
      EXPECT_EQ(poly.corners[c].position, faces[p][(start + c) % faces[p].size()]);
    const ColourF& g = back->groups[size_t(poly.group)].colour;
    EXPECT_EQ(g, (ColourF{std::trunc(colours[p].r), colours[p].g, colours[p].b, 255})) << p;
  }
}

}  // namespace
}  // namespace wz
