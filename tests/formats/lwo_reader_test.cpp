// LWOB reader: files as other LightWave-compatible tools write them, the surface and chunk rules,
// polygons the model cannot hold as they are, and refusals that leave the model untouched.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "formats/formats.h"
#include "formats/lwo_test_files.h"
#include "model/model_invariants.h"
#include "model/test_models.h"
#include "platform/text.h"
#include "support/memory_ceiling.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using testing::Bytes;
using testing::Colr;
using testing::LwoFile;
using testing::Sub;

const std::string kPath = "\\m\\a.lwo";

struct Load {
  // `stale` fills the polygon pool first, as an earlier model would have.
  explicit Load(const Bytes& file, bool preallocate = false, const Polygon* stale = nullptr) {
    model = CreateModel(testing::Options("", false, preallocate, {8, 32}));
    if (stale) model->polygons.assign(16, *stale);
    result = LoadLwoFromMemory(host, *model, kPath, file, 0);
    auto fault = CheckModelInvariants(*model);
    EXPECT_FALSE(fault) << fault->message;
  }
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  int result = 0;

  ColourF GroupColour(int g) const { return model->groups[size_t(g)].colour; }
  ColourF PolygonColour(int p) const {
    return model->colours[size_t(model->polygons[size_t(p)].corners[0].colour)];
  }
  std::vector<int> Corners(int p) const {
    const Polygon& poly = model->polygons[size_t(p)];
    std::vector<int> v;
    for (int c = 0; c < poly.cornerCount; ++c)
      v.push_back(poly.corners[size_t(c)].position);
    return v;
  }
};

ColourF Rgb(float r, float g, float b) {
  return {r, g, b, 255.0f};
}

Bytes FourPoints() {
  Bytes b;
  for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 1.f, 1.f, 0.f, 0.f, 1.f, 0.f})
    testing::PutBeF32(b, v);
  return b;
}

// A file with the extra chunks and surface sub-chunks that modelling tools write: curves,
// patches, luminosity, diffuse, an image map with its flags and size.
Bytes ToolFile() {
  Bytes timg;
  testing::PutName(timg, "C:\\images\\wood.iff (sequence)");
  Bytes tsiz;
  for (int i = 0; i < 3; ++i)
    testing::PutBeF32(tsiz, 1.0f);
  return LwoFile()
      .Srfs({"Body", "Trim"})
      .Pnts({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5f, 0.5f, 2}})
      .Chunk("CRVS", {0, 2, 0, 0, 0, 1, 0, 1, 0, 0})
      .Pols({4, 0, 1, 2, 3, 1, 3, 0, 1, 4, 2})
      .Chunk("PCHS", {0, 4, 0, 0, 0, 1, 0, 2, 0, 3, 0, 1})
      .Surf("Body",
            {Sub("FLAG", {0, 4}), Colr(200, 100, 50), Sub("LUMI", {0, 0}), Sub("DIFF", {0, 200}),
             Sub("CTEX", {'P', 'l', 'a', 'n', 'a', 'r', ' ', 'I', 'm', 'a', 'g', 'e', ' ', 'M', 'a',
                          'p', 0, 0}),
             Sub("TIMG", timg), Sub("TFLG", {0, 0x24}), Sub("TSIZ", tsiz)})
      .Surf("Trim", {Colr(10, 20, 30), Sub("SMAN", {0x3F, 0x46, 0xD3, 0xF2})})
      .Build();
}

class LwoToolFile : public ::testing::TestWithParam<bool> {};

TEST_P(LwoToolFile, LoadsPointsPolygonsAndSurfaceColours) {
  Load l(ToolFile(), GetParam());
  ASSERT_EQ(l.result, 1);
  const Model& m = *l.model;
  EXPECT_EQ(m.fileName.View(), kPath);
  ASSERT_EQ(m.positionCount, 5);
  EXPECT_EQ(m.positions[1], (Vec3{10, 0, 0}));
  EXPECT_EQ(m.positions[4], (Vec3{5, 5, 20}));
  ASSERT_EQ(m.polygonCount, 2);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(l.Corners(1), (std::vector<int>{0, 1, 4}));
  ASSERT_EQ(m.groupCount, 2);
  EXPECT_EQ(l.GroupColour(0), Rgb(200, 100, 50));
  EXPECT_EQ(l.GroupColour(1), Rgb(10, 20, 30));
  EXPECT_EQ(m.groups[0].name.View(), NewGroup().name.View());
  EXPECT_EQ(m.colourCount, 2);
  for (int p = 0; p < 2; ++p) {
    EXPECT_EQ(m.polygons[size_t(p)].group, p);
    for (int c = 0; c < m.polygons[size_t(p)].cornerCount; ++c)
      EXPECT_EQ(m.polygons[size_t(p)].corners[size_t(c)].colour, p);
  }
  EXPECT_EQ(l.PolygonColour(1), Rgb(10, 20, 30));
  EXPECT_EQ(m.polygons[0].faceNormal, (Vec3{0, 0, 1}));
  EXPECT_EQ(m.colour, (ColourF{255, 255, 255, 255}));
  EXPECT_EQ(m.shadingChanged, 1);
  EXPECT_TRUE(l.host.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(PlainAndPreallocated, LwoToolFile, ::testing::Bool());

TEST(LwoReader, EveryPrefixIsRefusedCleanlyOrLoads) {
  const Bytes file = ToolFile();
  for (size_t n = 0; n <= file.size(); ++n) {
    const Bytes prefix(file.begin(), file.begin() + long(n));
    Load l(prefix);
    const auto fresh = CreateModel(testing::Options("", false, false, {8, 32}));
    if (l.result == 0) {
      EXPECT_TRUE(*l.model == *fresh) << "prefix " << n;
      EXPECT_EQ(l.host.lines.size(), 1u) << "prefix " << n;
    }
  }
  EXPECT_EQ(Load(file).result, 1);
}

struct Refusal {
  const char* name;
  Bytes file;
  const char* reason;
};

class LwoRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(LwoRefusal, LeavesTheModelAsItWasAndSaysWhy) {
  Load l(GetParam().file, true);
  EXPECT_EQ(l.result, 0);
  const auto fresh = CreateModel(testing::Options("", false, true, {8, 32}));
  EXPECT_TRUE(*l.model == *fresh);
  ASSERT_EQ(l.host.lines.size(), 1u);
  EXPECT_EQ(l.host.lines[0].rfind("*** LoadError *** " + kPath + " : ", 0), 0u);
  EXPECT_NE(l.host.lines[0].find(GetParam().reason), std::string::npos) << l.host.lines[0];
}

Bytes ManySurfaces(int n) {
  Bytes names;
  for (int i = 0; i < n; ++i)
    testing::PutName(names, "S");
  return LwoFile().Chunk("SRFS", names).Chunk("PNTS", FourPoints()).Pols({}).Build();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LwoRefusal,
    ::testing::Values(
        Refusal{"FirstByteNotF", LwoFile().Srfs({"A"}).Pnts({}).Pols({}).Build("GORM"), "IFF"},
        Refusal{"ShortHeader", {'F', 'O', 'R', 'M', 0, 0}, "shorter"},
        Refusal{"NoSrfs", LwoFile().Pnts({}).Pols({}).Build(), "SRFS"},
        Refusal{"NoPnts", LwoFile().Srfs({"A"}).Pols({}).Build(), "PNTS"},
        Refusal{"NoPols", LwoFile().Srfs({"A"}).Pnts({}).Build(), "POLS"},
        Refusal{"PolsRunsPastEnd",
                LwoFile().Srfs({"A"}).Pnts({}).Raw({'P', 'O', 'L', 'S', 0, 0, 0, 9, 0, 0}).Build(),
                "POLS"},
        Refusal{"SurfaceZero",
                LwoFile().Srfs({"A"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 2, 0}).Build(),
                "surface 0 of 1"},
        Refusal{"SurfaceBeyondList",
                LwoFile().Srfs({"A"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 2, 2}).Build(),
                "surface 2 of 1"},
        Refusal{"DetailSurfaceBeyondList",
                LwoFile().Srfs({"A"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 2, -2, 0}).Build(),
                "surface 2 of 1"},
        Refusal{"PointBeyondList",
                LwoFile().Srfs({"A"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 4, 1}).Build(),
                "point 4 of 4"},
        Refusal{
            "PolygonCutShort",
            LwoFile().Srfs({"A"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 2, 1, 4, 0}).Build(),
            "polygon 1 runs past"},
        Refusal{"DetailCountMissing",
                LwoFile().Srfs({"A"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 2, -1}).Build(),
                "detail polygon count"},
        Refusal{"MoreThan256Surfaces", ManySurfaces(257), "256 surfaces"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LwoReader, TestsOnlyTheFirstByteOfTheHeader) {
  EXPECT_EQ(Load(LwoFile().Srfs({"A"}).Pnts({}).Pols({}).Build("FXYZ", "JUNK")).result, 1);
}

TEST(LwoReader, TakesAsManySurfacesAsAModelHasGroupTracks) {
  Load l(ManySurfaces(256));
  EXPECT_EQ(l.result, 1);
  EXPECT_EQ(l.model->groupCount, 256);
}

TEST(LwoReader, SurfacesWithoutColourAreGrey) {
  Load l(LwoFile().Srfs({"A", "B"}).Chunk("PNTS", FourPoints()).Pols({3, 0, 1, 2, 2}).Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.GroupColour(0), Rgb(128, 128, 128));
  EXPECT_EQ(l.GroupColour(1), Rgb(128, 128, 128));
  EXPECT_EQ(l.PolygonColour(0), Rgb(128, 128, 128));
  // Equal colours: the later group takes the polygon.
  EXPECT_EQ(l.model->polygons[0].group, 1);
}

TEST(LwoReader, SurfacesSharingAColourShareTheLaterGroup) {
  Load l(LwoFile()
             .Srfs({"A", "B", "C"})
             .Chunk("PNTS", FourPoints())
             .Pols({3, 0, 1, 2, 1, 3, 0, 2, 3, 3, 3, 1, 2, 3, 2})
             .Surf("A", {Colr(9, 9, 9)})
             .Surf("B", {Colr(1, 2, 3)})
             .Surf("C", {Colr(9, 9, 9)})
             .Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.model->groupCount, 3);
  EXPECT_EQ(l.model->polygons[0].group, 2);
  EXPECT_EQ(l.model->polygons[1].group, 2);
  EXPECT_EQ(l.model->polygons[2].group, 1);
}

TEST(LwoReader, TheLastPointAndPolygonChunksWin) {
  Load l(LwoFile()
             .Srfs({"A"})
             .Pnts({{9, 9, 9}})
             .Pols({1, 0, 1})
             .Pnts({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}})
             .Pols({3, 2, 1, 0, 1})
             .Build());
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->positionCount, 3);
  EXPECT_EQ(l.model->positions[0], (Vec3{10, 20, 30}));
  ASSERT_EQ(l.model->polygonCount, 1);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{2, 1, 0}));
}

TEST(LwoReader, SurfaceNamesArePaddedToEvenLength) {
  // "Sixsix" ends at offset 6 and takes a pad byte; "Tri" starts at 8, ends at 11, no pad.
  Bytes names;
  testing::PutText(names, std::string("Sixsix\0\0Tri\0", 12));
  Load l(LwoFile()
             .Chunk("SRFS", names)
             .Chunk("PNTS", FourPoints())
             .Pols({3, 0, 1, 2, 2})
             .Surf("Tri", {Colr(7, 8, 9)})
             .Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.model->groupCount, 2);
  EXPECT_EQ(l.GroupColour(1), Rgb(7, 8, 9));
  EXPECT_EQ(l.GroupColour(0), Rgb(128, 128, 128));
}

TEST(LwoReader, SurfaceChunksWithUnknownNamesDescribeTheNextSurface) {
  Load l(LwoFile()
             .Surf("A", {Colr(1, 1, 1)})  // before SRFS: lost
             .Srfs({"A", "B", "C"})
             .Chunk("PNTS", FourPoints())
             .Pols({})
             .Surf("B", {Colr(2, 2, 2)})
             .Surf("?", {Colr(3, 3, 3)})  // the surface after B
             .Surf("A", {Colr(4, 4, 4)})
             .Surf("??", {Colr(5, 5, 5)})  // B again
             .Surf("C", {Colr(6, 6, 6)})
             .Surf("???", {Colr(7, 7, 7)})  // past the last surface: nothing
             .Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.GroupColour(0), Rgb(4, 4, 4));
  EXPECT_EQ(l.GroupColour(1), Rgb(5, 5, 5));
  EXPECT_EQ(l.GroupColour(2), Rgb(6, 6, 6));
}

TEST(LwoReader, KeepsPolygonsTheModelCannotHoldAsTheyAre) {
  // A hexagon of surface 2, a polygon of surface 1 carrying one detail polygon of surface 2, an
  // empty polygon, and a line.
  Bytes six;
  for (int i = 0; i < 6; ++i) {
    testing::PutBeF32(six, float(i % 3));
    testing::PutBeF32(six, float(i / 3));
    testing::PutBeF32(six, 0);
  }
  // Over the quads of an earlier model: every place of a polygon read is written.
  Polygon stale{4, 7, {}, 7, {7, 7, 7}};
  stale.corners.fill({7, 7, 7, 7});
  Load l(LwoFile()
             .Srfs({"A", "B"})
             .Chunk("PNTS", six)
             .Pols({6, 0, 1, 2, 5,  4, 3, 2,  //
                    3, 0, 1, 4, -1, 1,        //
                    3, 1, 2, 5, 2,            //
                    0, 1,                     //
                    2, 3, 4, 1})
             .Surf("A", {Colr(1, 0, 0)})
             .Surf("B", {Colr(0, 1, 0)})
             .Build(),
         false, &stale);
  ASSERT_EQ(l.result, 1);
  const std::vector<std::vector<int>> corners = {{0, 1, 2}, {0, 2, 5}, {0, 5, 4}, {0, 4, 3},
                                                 {0, 1, 4}, {1, 2, 5}, {3, 4}};
  const std::vector<int> groups = {1, 1, 1, 1, 0, 1, 0};
  ASSERT_EQ(l.model->polygonCount, int(corners.size()));
  EXPECT_EQ(l.model->colourCount, int(corners.size()));
  for (size_t p = 0; p < corners.size(); ++p) {
    EXPECT_EQ(l.Corners(int(p)), corners[p]) << p;
    for (size_t c = corners[p].size(); c < size_t{kMaxCorners}; ++c)
      EXPECT_EQ(l.model->polygons[p].corners[c], Corner{}) << p;
    EXPECT_EQ(l.model->polygons[p].group, groups[p]) << p;
    EXPECT_EQ(l.PolygonColour(int(p)), l.GroupColour(groups[p])) << p;
  }
  ASSERT_EQ(l.host.lines.size(), 1u);
  EXPECT_NE(l.host.lines[0].find("1 polygons without points"), std::string::npos);
}

TEST(LwoReader, AChunkRunningPastTheEndEndsTheWalk) {
  Load l(LwoFile()
             .Srfs({"A"})
             .Chunk("PNTS", FourPoints())
             .Pols({3, 0, 1, 2, 1})
             .Raw({'P', 'O', 'L', 'S', 0, 0, 1, 0, 0, 1})
             .Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.model->polygonCount, 1);
}

TEST(LwoReader, FansBeyondThePolygonCapacityOfAPreallocatedModelAreCutWithALogLine) {
  // A hexagon (four triangles) and a triangle, with a capacity of three polygons: a preallocated
  // model takes three, any other model all five.
  Bytes six;
  for (int i = 0; i < 6; ++i) {
    testing::PutBeF32(six, float(i % 3));
    testing::PutBeF32(six, float(i / 3));
    testing::PutBeF32(six, 0);
  }
  const Bytes file = LwoFile()
                         .Srfs({"A"})
                         .Chunk("PNTS", six)
                         .Pols({6, 0, 1, 2, 5, 4, 3, 1, 3, 0, 1, 2, 1})
                         .Build();
  for (const bool preallocated : {true, false}) {
    RecordingModelHost host;
    host.capacities = ModelCapacities::ForPolygonCapacity(3);
    auto model = CreateModel(testing::Options("", false, preallocated, host.capacities));
    ASSERT_EQ(LoadLwoFromMemory(host, *model, kPath, file, 0), 1);
    const int32_t kept = preallocated ? 3 : 5;
    EXPECT_EQ(model->polygonCount, kept) << preallocated;
    EXPECT_EQ(model->colourCount, kept);
    EXPECT_EQ(model->polygons[size_t(kept) - 1].corners[2].position, preallocated ? 4 : 2);
    EXPECT_FALSE(CheckModelInvariants(*model).has_value());
    const std::vector<std::string> cut = {kPath +
                                          WZ_TEXT(" : ポリゴン数 5 ( 最大3を超えています )")};
    EXPECT_EQ(host.lines, preallocated ? cut : std::vector<std::string>{});
  }
}

TEST(LwoReader, HugePolygonsCostMemoryInProportionToTheFile) {
  // 64 polygons of 65535 points, 8 MB: 4.2 million triangles if every fan were kept, more than
  // a read may take. A preallocated model cuts them at its capacity; another model is refused.
  Bytes points;
  for (int i = 0; i < 65535; ++i) {
    testing::PutBeF32(points, float(i % 256));
    testing::PutBeF32(points, float(i / 256));
    testing::PutBeF32(points, 0);
  }
  Bytes polygons;
  for (int p = 0; p < 64; ++p) {
    testing::PutBe16(polygons, 65535);
    for (int i = 0; i < 65535; ++i)
      testing::PutBe16(polygons, uint32_t(i));
    testing::PutBe16(polygons, 1);
  }
  const Bytes file = LwoFile().Srfs({"A"}).Chunk("PNTS", points).Chunk("POLS", polygons).Build();
  for (const bool preallocated : {true, false}) {
    RecordingModelHost host;
    auto model = CreateModel(testing::Options("", false, preallocated));
    {
      wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(file.size()));
      try {
        EXPECT_EQ(LoadLwoFromMemory(host, *model, kPath, file, 0), preallocated ? 1 : 0);
      } catch (const std::bad_alloc&) {
      }
      EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
    }
    EXPECT_EQ(model->polygonCount, preallocated ? kDefaultPolygonCapacity : 0);
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0],
              preallocated ? kPath + WZ_TEXT(" : ポリゴン数 4194112 ( 最大65000を超えています )")
                           : "*** LoadError *** " + kPath + " : the model would need 402 MB");
  }
}

TEST(LwoReader, ASurfaceCutShortKeepsTheColourItHolds) {
  // The last SURF's length runs past the end of the file, after a whole COLR: the colour is kept.
  // And a COLR whose length (8) overstates its three bytes still gives them.
  const Bytes base = LwoFile()
                         .Srfs({"A", "B"})
                         .Chunk("PNTS", FourPoints())
                         .Pols({3, 0, 1, 2, 1, 3, 0, 2, 3, 2})
                         .Build();
  Bytes cut = base;
  testing::PutText(cut, "SURF");
  testing::PutBe32(cut, 100);
  testing::PutName(cut, "A");
  const Bytes colr = Colr(10, 20, 30);
  cut.insert(cut.end(), colr.begin(), colr.end());
  Bytes overstated = base;
  testing::PutText(overstated, "SURF");
  testing::PutBe32(overstated, 4 + 6 + 3);
  testing::PutName(overstated, "B");
  testing::PutText(overstated, "COLR");
  testing::PutBe16(overstated, 8);
  overstated.insert(overstated.end(), {40, 50, 60});
  for (const auto& [file, group, colour] :
       {std::tuple{cut, 0, ColourF{10, 20, 30, 255}}, {overstated, 1, ColourF{40, 50, 60, 255}}}) {
    // The form's length covers the chunks as they claim to be.
    Bytes f = file;
    const uint32_t form = uint32_t(f.size() - 8 + 200);
    f[4] = uint8_t(form >> 24), f[5] = uint8_t(form >> 16), f[6] = uint8_t(form >> 8),
    f[7] = uint8_t(form);
    Load l(f);
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(l.GroupColour(group), colour) << group;
  }
}

TEST(LwoReader, ReadsFilesAndRefusesMissingOnes) {
  testing::TempDir dir;
  const Bytes file = ToolFile();
  testing::WriteFile(dir / "a.lwo", std::string(file.begin(), file.end()));
  RecordingModelHost host;
  auto model = CreateModel({});
  EXPECT_EQ(LoadLwo(host, *model, dir / "a.lwo", 0), 1);
  EXPECT_EQ(model->polygonCount, 2);
  EXPECT_EQ(LoadLwo(host, *model, dir / "missing.lwo", 0), 0);
  EXPECT_EQ(host.lines.size(), 1u);
  EXPECT_EQ(model->polygonCount, 2);
}

}  // namespace
}  // namespace wz
