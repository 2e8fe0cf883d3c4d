// WZP writer: the bytes of a new model, the export geometry (fans, vertex sharing, mirroring and
// its triangle limit, the hashed search against the plain one), the round trip of every saved
// field, refused models and failed writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "model/model_invariants.h"
#include "model/test_models.h"
#include "model/wzp.h"
#include "model/wzp_linear_export.h"
#include "model/wzp_test_support.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using testing::Bytes;
using testing::RichModel;

std::vector<uint8_t> Save(const Model& m) {
  RecordingModelHost host;
  std::vector<uint8_t> out;
  EXPECT_TRUE(SaveWzpToMemory(host, m, "\\m.wzp", out));
  return out;
}

TEST(WzpWriter, NewModelBytes) {
  Bytes w;
  auto rest = [&w] { w.F32(0).F32(0).F32(0).F32(0).F32(0).F32(0).F32(1).F32(1).F32(1).F32(1); };
  w.Raw("WZP", 3).I32(2009000).I32(0).I32(0).I32(0).I32(0);  // counts, no pools
  w.I32(0);                                                  // polygons
  w.I16(1).I32(0);                                           // one empty slot, no name
  w.I16(0).F32(1.0f);                                        // model map slot, scale
  w.I32(1).Str(WZ_TEXT("グループ")).I32(0).F32(200).F32(200).F32(200).F32(255).I32(4).U8(0);
  w.F32(0).F32(0).F32(1).F32(1).I32(0).I32(4).I32(0).I32(0).I32(64).I32(64).I32(64);
  w.U8(0).I16(0).U8(0).I16(1).U8(0).F32(1).U8(0).F32(1);  // switches A to D
  w.U8(0).I16(0).U8(0).I16(0).F32(1).U8(0).I16(0).U8(0).F32(1);
  w.I32(0).I32(0);                                              // no export vertices or triangles
  w.I32(1).I32(0).I32(0).F32(1).I16(4);                         // drawing values
  w.I32(1).I32(1).I32(0).Str(WZ_TEXT("モーション名")).I32(60);  // one motion, 0 keys
  w.I32(2);
  for (const char* name : {WZ_TEXT("親ボーン"), WZ_TEXT("ボーン_01")}) {
    w.Str(name).I32(0);
    rest();
    w.I32(1).I32(0);  // one key list holding the rest key
    rest();
  }
  w.U8(0).I16(1).U8(1).I16(-1).U8(0);  // group trailer, motion trailer, UV scroll
  EXPECT_EQ(Save(*CreateModel({})), w.b);
}

// A model of one group holding the given faces; each corner lists position, normal, colour and
// UV index; the pools hold the given values.
std::unique_ptr<Model> FaceModel(const std::vector<Vec3>& positions, const std::vector<Uv>& uvs,
                                 const std::vector<std::vector<Corner>>& faces) {
  auto m = testing::MakeMeshModel(positions, {});
  m->uvs = uvs;
  m->uvCount = int32_t(uvs.size());
  m->polygons.resize(faces.size());
  m->polygonCount = int32_t(faces.size());
  for (size_t f = 0; f < faces.size(); ++f) {
    m->polygons[f].cornerCount = uint8_t(faces[f].size());
    std::copy(faces[f].begin(), faces[f].end(), m->polygons[f].corners.begin());
  }
  for (int32_t k = 0; k < m->positionCount; ++k)
    m->attrs[k] = {uint8_t(k + 1), 0, 0.5f, 1};
  return m;
}

std::vector<std::array<int32_t, 3>> TrianglePositions(const ExportGeometry& e) {
  std::vector<std::array<int32_t, 3>> out;
  for (const Polygon& t : e.triangles) {
    EXPECT_EQ(t.cornerCount, 3);
    out.push_back({t.corners[0].position, t.corners[1].position, t.corners[2].position});
  }
  return out;
}

const std::vector<Vec3> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

TEST(WzpWriter, QuadSplitsIntoAFan) {
  auto m = FaceModel(kSquare, {}, {{{0}, {1}, {2}, {3}}});
  const ExportGeometry e = BuildExportGeometry(*m, 65000)[0];
  EXPECT_EQ(e.positions, kSquare);
  EXPECT_EQ(TrianglePositions(e), (std::vector<std::array<int32_t, 3>>{{0, 1, 2}, {0, 2, 3}}));
  EXPECT_EQ(e.attrs[3], (VertexAttr{4, 0, 0.5f, 1}));  // copied from the corner's position
}

TEST(WzpWriter, CornersDifferingOnlyInUvAreTwoVerticesAndEqualFloatsOne) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Uv> uvs = {{0, 0}, {0.5f, 0}, {-0.0f, 0}, {nan, 0}};
  auto m = FaceModel(kSquare, uvs,
                     {{{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}},
                      {{0, 0, 0, 1}, {1, 0, 0, 0}, {2, 0, 0, 2}},    // UV 2 is -0: equals UV 0
                      {{3, 0, 0, 3}, {3, 0, 0, 3}, {1, 0, 0, 0}}});  // NaN equals nothing
  const ExportGeometry e = BuildExportGeometry(*m, 65000)[0];
  EXPECT_EQ(TrianglePositions(e),
            (std::vector<std::array<int32_t, 3>>{{0, 1, 2}, {3, 1, 2}, {4, 5, 1}}));
  ASSERT_EQ(e.uvs.size(), 6u);
  EXPECT_EQ(e.uvs[3].u, 0.5f);
  EXPECT_EQ(e.positions[3], e.positions[0]);
}

TEST(WzpWriter, MirroredGroupDoublesVerticesAndAddsReversedTrianglesUpToTheCapacity) {
  auto m = FaceModel(kSquare, {}, {{{0}, {1}, {2}, {3}}});
  m->groups[0].mirror = 1;
  const ExportGeometry e = BuildExportGeometry(*m, 65000)[0];
  ASSERT_EQ(e.positions.size(), 8u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(e.positions[4 + i], (Vec3{-kSquare[i].x, kSquare[i].y, kSquare[i].z}));
    EXPECT_EQ(e.attrs[4 + i], VertexAttr{});
  }
  EXPECT_EQ(TrianglePositions(e),
            (std::vector<std::array<int32_t, 3>>{{0, 1, 2}, {0, 2, 3}, {6, 5, 4}, {7, 6, 4}}));
  EXPECT_EQ(e.triangles[2].corners[0], (Corner{6, 4, 4, 4}));

  const ExportGeometry capped = BuildExportGeometry(*m, 3)[0];
  EXPECT_EQ(capped.positions.size(), 8u);
  EXPECT_EQ(TrianglePositions(capped),
            (std::vector<std::array<int32_t, 3>>{{0, 1, 2}, {0, 2, 3}, {6, 5, 4}}));
}

// Float arrays compared bit for bit (NaN included); the rest as values.
void ExpectSameExport(const ExportGeometry& a, const ExportGeometry& b) {
  auto bits = [](const auto& x, const auto& y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof x[0]) == 0);
  };
  EXPECT_TRUE(bits(a.positions, b.positions));
  EXPECT_TRUE(bits(a.normals, b.normals));
  EXPECT_TRUE(bits(a.colours, b.colours));
  EXPECT_TRUE(bits(a.uvs, b.uvs));
  EXPECT_EQ(a.attrs, b.attrs);
  EXPECT_EQ(a.triangles, b.triangles);
}

TEST(WzpWriter, HashedExportEqualsTheLinearSearchOnRandomModels) {
  std::mt19937 rng(7);
  auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  // Few distinct values, so that corners often coincide; -0 and NaN among them.
  const float values[] = {0.0f, -0.0f, 1.0f, 0.5f, std::numeric_limits<float>::quiet_NaN()};
  auto v = [&] { return values[pick(pick(8) == 0 ? 5 : 4)]; };
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    auto m = CreateModel({});
    const int np = 1 + pick(12), nn = pick(4), nc = pick(3), nu = pick(4), ng = 1 + pick(4);
    GrowPositionPools(*m, size_t(np));
    m->positionCount = np, m->normalCount = nn, m->colourCount = nc, m->uvCount = nu;
    m->normals.resize(size_t(nn)), m->colours.resize(size_t(nc)), m->uvs.resize(size_t(nu));
    for (int k = 0; k < np; ++k) {
      m->positions[k] = {v(), v(), v()};
      m->attrs[k] = {uint8_t(pick(256)), uint8_t(pick(2)), float(pick(3)), uint8_t(pick(2))};
    }
    for (Vec3& n : m->normals)
      n = {v(), v(), v()};
    for (ColourF& c : m->colours)
      c = {v(), v(), v(), v()};
    for (Uv& t : m->uvs)
      t = {v(), v()};
    m->groups.resize(size_t(ng), NewGroup());
    m->groupCount = ng;
    for (Group& g : m->groups)
      g.mirror = pick(3) == 0 ? 1 + pick(2) : 0;
    m->polygonCount = pick(40);
    m->polygons.resize(size_t(m->polygonCount));
    for (Polygon& p : m->polygons) {
      p.cornerCount = uint8_t(1 + pick(4));
      p.group = pick(ng);
      for (int c = 0; c < p.cornerCount; ++c) {
        p.corners[c] = {pick(np), nn ? pick(nn) : 0, nc ? pick(nc) : 0, nu ? pick(nu) : 0};
      }
    }
    ASSERT_FALSE(CheckModelInvariants(*m).has_value());
    const int32_t capacity = pick(2) ? 65000 : pick(30);
    const auto hashed = BuildExportGeometry(*m, capacity);
    const auto linear = testing::LinearExportGeometry(*m, capacity);
    ASSERT_EQ(hashed.size(), linear.size());
    for (size_t g = 0; g < hashed.size(); ++g)
      ExpectSameExport(hashed[g], linear[g]);
  }
}

TEST(WzpWriter, SavedModelReadsBackEveryFieldAndSavesToTheSameBytes) {
  testing::TempDir dir;
  const std::string path = platform::LibraryPath(dir / "rich.wzp");
  const auto src = RichModel(kWzpVersion2009);
  src->textureSlots[2].state = 2;  // a state other than 0 and 1 keeps its name too
  src->textureSlots[2].fileName.Set("two.bmp");
  RecordingModelHost host;
  ASSERT_TRUE(SaveWzp(host, *src, path));
  const std::string first = testing::ReadFile(dir / "rich.wzp");
  const auto exports = BuildExportGeometry(*src, 65000);
  // The library's writer and the test's layout writer agree byte for byte.
  EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.end()),
            testing::WriteLayout(*src, kWzpVersion2009, exports));

  auto back = CreateModel(testing::Options("\\data"));
  ASSERT_EQ(LoadWzp(host, *back, path, kWzpVersion2009), 1);
  EXPECT_TRUE(host.lines.empty());
  testing::ExpectSameSavedFields(*src, *back);
  for (int g = 0; g < src->groupCount; ++g) {
    const Group& got = back->groups[g];
    ExpectSameExport(exports[g], {got.exportPositions, got.exportNormals, got.exportColours,
                                  got.exportUvs, got.exportAttrs, got.exportTriangles});
  }
  ASSERT_TRUE(SaveWzp(host, *back, path));
  EXPECT_EQ(testing::ReadFile(dir / "rich.wzp"), first);
  ASSERT_TRUE(SaveWzp(host, *src, path));
  EXPECT_EQ(testing::ReadFile(dir / "rich.wzp"), first);
}

TEST(WzpWriter, GroupsPastTheMotionsTracksAreWrittenWithoutKeysAndReadBack) {
  auto src = RichModel(kWzpVersion2009);
  src->groups.resize(300, src->groups[1]);
  src->groupCount = 300;
  const auto file = Save(*src);
  EXPECT_EQ(file, testing::WriteLayout(*src, kWzpVersion2009, BuildExportGeometry(*src, 65000)));
  RecordingModelHost host;
  auto back = CreateModel(testing::Options("\\data"));
  ASSERT_EQ(LoadWzpFromMemory(host, *back, "\\m.wzp", file, kWzpVersion2009), 1);
  EXPECT_TRUE(host.lines.empty());
  testing::ExpectSameSavedFields(*src, *back);
}

TEST(WzpWriter, TheSavedModelTakesTheVersionAndExportGeometryItWasSavedWith) {
  testing::TempDir dir;
  const std::string path = platform::LibraryPath(dir / "m.wzp");
  auto m = RichModel(kWzpVersion2004);
  m->version = kWzpVersion2004;  // as a 2004002 file leaves it
  for (Group& g : m->groups)
    g.exportVertexCount = g.exportTriangleCount = 0;
  RecordingModelHost host;
  ASSERT_TRUE(SaveWzpUpdating(host, *m, path));
  EXPECT_EQ(m->version, kWzpVersion2009);
  // The model now holds exactly the export geometry of the file: read back, it is the same.
  auto back = CreateModel(testing::Options("\\data"));
  ASSERT_EQ(LoadWzp(host, *back, path, kWzpVersion2009), 1);
  for (int g = 0; g < m->groupCount; ++g) {
    const Group& a = m->groups[g];
    const Group& b = back->groups[g];
    EXPECT_EQ(a.exportVertexCount, b.exportVertexCount) << g;
    EXPECT_EQ(a.exportTriangleCount, b.exportTriangleCount) << g;
    ExpectSameExport({a.exportPositions, a.exportNormals, a.exportColours, a.exportUvs,
                      a.exportAttrs, a.exportTriangles},
                     {b.exportPositions, b.exportNormals, b.exportColours, b.exportUvs,
                      b.exportAttrs, b.exportTriangles});
  }
  EXPECT_FALSE(CheckModelInvariants(*m).has_value());
  // A file that cannot be written still leaves the rebuilt geometry, and the version as it was.
  auto other = RichModel(kWzpVersion2004);
  other->version = kWzpVersion2004;
  EXPECT_FALSE(SaveWzpUpdating(host, *other, platform::LibraryPath(dir / "no/such/dir.wzp")));
  EXPECT_EQ(other->version, kWzpVersion2004);
  EXPECT_EQ(other->groups[0].exportTriangleCount, m->groups[0].exportTriangleCount);
}

TEST(WzpWriter, AModelPastThePolygonCapacityKeepsEveryPolygonAndItsMirror) {
  // 70000 triangles of a strip in one mirrored group. The mirrored half stops at the polygon
  // capacity only for a model preallocated to it.
  std::vector<Vec3> positions(70002);
  for (size_t i = 0; i < positions.size(); ++i)
    positions[i] = {float(i), float(i % 2), 0.0f};
  std::vector<std::vector<int>> faces;
  for (int i = 0; i < 70000; ++i)
    faces.push_back({i, i + 1, i + 2});
  auto whole = testing::MakeMeshModel(positions, faces);
  whole->groups[0].mirror = 1;
  auto preallocated = testing::MakeMeshModel(positions, faces);
  preallocated->groups[0].mirror = 1;
  preallocated->capacityPools = 1;
  for (const auto& [model, mirrored] : {std::pair{whole.get(), 70000}, {preallocated.get(), 0}}) {
    RecordingModelHost host;
    std::vector<uint8_t> file;
    ASSERT_TRUE(SaveWzpToMemory(host, *model, "\\m.wzp", file));
    auto back = CreateModel({});
    ASSERT_EQ(LoadWzpFromMemory(host, *back, "\\m.wzp", file, kWzpVersion2009), 1);
    ASSERT_EQ(back->polygonCount, 70000);
    EXPECT_EQ(back->polygons[69999].corners[2].position, 70001);
    EXPECT_EQ(back->positions[70001], positions[70001]);
    EXPECT_EQ(back->groups[0].exportTriangleCount, 70000 + mirrored);
  }
}

TEST(WzpWriter, RefusesModelsThatBreakTheInvariantsAndWritesNothing) {
  const struct {
    const char* what;
    void (*breakIt)(Model&);
    const char* fault;
  } cases[] = {
      {"bone without a key list for every motion", [](Model& m) { m.bones[3].keyLists.pop_back(); },
       "KeyListsNotPerMotion"},
      {"17 keys in a track", [](Model& m) { m.motions[0].tracks[1].keyCount = 17; },
       "TooManyTrackKeys"},
      {"position index outside its pool", [](Model& m) { m.polygons[1].corners[0].position = 99; },
       "CornerIndexOutOfRange"},
      {"count beyond its pool", [](Model& m) { m.uvCount = 5; }, "CountBeyondPool"},
  };
  testing::TempDir dir;
  const std::string path = platform::LibraryPath(dir / "old.wzp");
  testing::WriteFile(dir / "old.wzp", "old contents");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto m = RichModel(kWzpVersion2009);
    c.breakIt(*m);
    RecordingModelHost host;
    EXPECT_FALSE(SaveWzp(host, *m, path));
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0].rfind(
                  "*** LoadError *** " + path + " : the model cannot be saved: " + c.fault, 0),
              0u)
        << host.lines[0];
    EXPECT_EQ(testing::ReadFile(dir / "old.wzp"), "old contents");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WzpWriter, FileWrittenInPiecesHasTheBytesOfTheWholeSave) {
  // A model whose file is several times the writer's buffer, with pools larger than the buffer
  // (written past it): the file holds exactly what the in-memory save makes.
  constexpr int kCols = 120, kRows = 100;
  std::vector<Vec3> positions;
  for (int r = 0; r <= kRows; ++r) {
    for (int c = 0; c <= kCols; ++c)
      positions.push_back({float(c), std::sin(float(r * c)) * 0.5f, float(r) + 0.25f});
  }
  // Points no face names: the position pool alone is larger than the buffer.
  for (int i = 0; i < 100000; ++i)
    positions.push_back({float(i), -float(i), 0.5f});
  std::vector<std::vector<int>> faces;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      const int a = r * (kCols + 1) + c;
      faces.push_back({a, a + kCols + 1, a + kCols + 2, a + 1});
    }
  }
  const auto m = testing::MakeMeshModel(positions, faces);
  const std::vector<uint8_t> whole = Save(*m);
  ASSERT_GT(whole.size(), size_t{4} << 20);

  testing::TempDir dir;
  testing::WriteFile(dir / "big.wzp", "old contents");
  RecordingModelHost host;
  ASSERT_TRUE(SaveWzp(host, *m, platform::LibraryPath(dir / "big.wzp")));
  const std::string file = testing::ReadFile(dir / "big.wzp");
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()), whole);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WzpWriter, FailedWriteReturnsFalseAndKeepsWhatWasThere) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir / "taken");
  testing::WriteFile(dir / "taken/inside", "kept");
  for (const std::string& target : {dir / "missing/m.wzp", dir / "taken"}) {
    RecordingModelHost host;
    const std::string path = platform::LibraryPath(target);
    EXPECT_FALSE(SaveWzp(host, *CreateModel({}), path));
    EXPECT_EQ(host.lines, std::vector<std::string>{"*** LoadError *** " + path +
                                                   " : the file cannot be written"});
  }
  EXPECT_EQ(testing::ReadFile(dir / "taken/inside"), "kept");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Writes the fuzz seeds when WZ_WZP_SEED_DIR names a directory (scripts/make-wzp-seeds.sh): a
// file of every version, a new model, and a mirrored one.
TEST(WzpWriter, WriteFuzzSeedsWhenAsked) {
  const char* dir = std::getenv("WZ_WZP_SEED_DIR");
  if (!dir) GTEST_SKIP() << "WZ_WZP_SEED_DIR not set";
  auto write = [dir](const std::string& name, const std::vector<uint8_t>& bytes) {
    testing::WriteFile(std::string(dir) + "/" + name, std::string(bytes.begin(), bytes.end()));
  };
  for (int32_t v : {kWzpVersion2004, kWzpVersion2005, kWzpVersion2006, kWzpVersion2008}) {
    write("v" + std::to_string(v) + ".wzp", testing::WriteLayout(*RichModel(v), v));
  }
  write("rich.wzp", Save(*RichModel(kWzpVersion2009)));
  write("new.wzp", Save(*CreateModel({})));
  auto mirrored = FaceModel(kSquare, {}, {{{0}, {1}, {2}, {3}}});
  mirrored->groups[0].mirror = 1;
  write("mirrored.wzp", Save(*mirrored));
}

}  // namespace
}  // namespace wz
