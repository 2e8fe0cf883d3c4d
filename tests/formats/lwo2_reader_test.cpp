// LWO2 reader: the LightWave files of Debian's assimp-testmodels package against what a separate
// chunk walker here predicts, a byte-built file with layers, vertex maps, surfaces and an image
// map, and refusals that leave the model untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "formats/formats.h"
#include "formats/lwo_test_files.h"
#include "model/model_invariants.h"
#include "model/test_models.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "support/memory_ceiling.h"

namespace wz {
namespace {

using testing::Bytes;
using testing::PutBe16;
using testing::PutBe32;
using testing::PutBeF32;
using testing::PutText;

const char* kSamples = "/usr/share/assimp/models/LWO/LWO2";

// ---- An independent reading of the sample files: points, FACE polygon sizes, surface tags ----

struct Expected {
  size_t points = 0;
  size_t polygons = 0;  // FACE polygons after fanning (n > 4 gives n - 2 triangles)
  size_t surfaces = 0;  // distinct surfaces of FACE polygons (untagged ones count as one)
  Vec3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
};

uint32_t Be(const std::vector<uint8_t>& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i)
    v = v << 8 | b.at(at + size_t(i));
  return v;
}

Expected Walk(const std::vector<uint8_t>& f) {
  Expected e;
  std::vector<int> faceTag;  // per FACE polygon of the current POLS: tag or -1
  size_t faceBase = 0;
  std::vector<int> allTags;
  bool lastWasFace = false;
  auto vx = [&](size_t& at) {
    if (f.at(at) == 0xFF) {
      at += 4;
      return Be(f, at - 3, 3);
    }
    at += 2;
    return Be(f, at - 2, 2);
  };
  for (size_t at = 12; at + 8 <= f.size();) {
    const std::string id(f.begin() + long(at), f.begin() + long(at) + 4);
    const size_t length = Be(f, at + 4, 4), body = at + 8, end = body + length;
    if (id == "PNTS") {
      for (size_t p = body; p + 12 <= end; p += 12, ++e.points) {
        float v[3];
        for (int a = 0; a < 3; ++a) {
          uint32_t bits = Be(f, p + size_t(a) * 4, 4);
          std::memcpy(&v[a], &bits, 4);
        }
        e.lo = {std::min(e.lo.x, v[0] * 10), std::min(e.lo.y, v[1] * 10),
                std::min(e.lo.z, v[2] * 10)};
        e.hi = {std::max(e.hi.x, v[0] * 10), std::max(e.hi.y, v[1] * 10),
                std::max(e.hi.z, v[2] * 10)};
      }
    } else if (id == "POLS") {
      lastWasFace = std::string(f.begin() + long(body), f.begin() + long(body) + 4) == "FACE";
      faceBase = allTags.size();
      for (size_t p = body + 4; p < end;) {
        const uint32_t n = Be(f, p, 2) & 0x3FF;
        p += 2;
        for (uint32_t i = 0; i < n; ++i)
          vx(p);
        if (!lastWasFace || n == 0) continue;
        e.polygons += n > 4 ? n - 2 : 1;
        allTags.push_back(-1);
      }
    } else if (id == "PTAG" && lastWasFace &&
               std::string(f.begin() + long(body), f.begin() + long(body) + 4) == "SURF") {
      for (size_t p = body + 4; p < end;) {
        const uint32_t poly = vx(p);
        allTags.at(faceBase + poly) = int(Be(f, p, 2));
        p += 2;
      }
    }
    at = end + (length & 1);
  }
  e.surfaces = std::set<int>(allTags.begin(), allTags.end()).size();
  return e;
}

TEST(Lwo2Reader, SampleFilesLoadWithTheCountsAndBoxesTheirChunksDeclare) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kSamples)) {
    if (entry.path().extension() != ".lwo") continue;
    ++files;
    SCOPED_TRACE(entry.path().string());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(platform::ReadFileBytes(platform::LibraryPath(entry.path().string()), bytes));
    const Expected e = Walk(bytes);
    RecordingModelHost host;
    auto model = CreateModel({});
    const int result = LoadLightWaveFromMemory(host, *model, "\\s\\a.lwo", bytes, 0);
    auto fault = CheckModelInvariants(*model);
    ASSERT_FALSE(fault) << fault->message;
    if (e.polygons == 0) {  // patches only: refused, and the reason names them
      EXPECT_EQ(result, 0);
      ASSERT_EQ(host.lines.size(), 1u);
      EXPECT_NE(host.lines[0].find("no FACE polygons"), std::string::npos) << host.lines[0];
      continue;
    }
    ASSERT_EQ(result, 1) << (host.lines.empty() ? "" : host.lines[0]);
    EXPECT_EQ(size_t(model->positionCount), e.points);
    EXPECT_EQ(size_t(model->polygonCount), e.polygons);
    EXPECT_EQ(size_t(model->groupCount), e.surfaces);
    Vec3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    for (int32_t i = 0; i < model->positionCount; ++i) {
      const Vec3& p = model->positions[size_t(i)];
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    EXPECT_EQ(lo, e.lo);
    EXPECT_EQ(hi, e.hi);
  }
  EXPECT_GE(files, 30u) << "assimp-testmodels is not installed (scripts/setup.sh)";
}

TEST(Lwo2Reader, TexturedSampleNamesItsImageAndMapsItsTopLeftCorner) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(
      platform::ReadFileBytes(platform::LibraryPath(std::string(kSamples) + "/uvtest.lwo"), bytes));
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(LoadLightWaveFromMemory(host, *model, "\\s\\uvtest.lwo", bytes, 0), 1);
  ASSERT_EQ(host.textureLoads.size(), 1u);
  EXPECT_EQ(host.textureLoads[0], std::make_pair(1, std::string("uvtest.png")));
  // The image's top-left corner sits at the square's top-left point (-5, 5, 0).
  bool seen = false;
  for (int32_t p = 0; p < model->polygonCount; ++p) {
    const Polygon& poly = model->polygons[size_t(p)];
    EXPECT_EQ(model->groups[size_t(poly.group)].textureSlot, 1);
    for (int c = 0; c < poly.cornerCount; ++c) {
      if (!(model->positions[size_t(poly.corners[size_t(c)].position)] == Vec3{-5, 5, 0})) continue;
      EXPECT_EQ(model->uvs[size_t(poly.corners[size_t(c)].uv)], (Uv{0.0f, 0.0f}));
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

// ---- A byte-built file
// ---------------------------------------------------------------------------

void PutS0(Bytes& b, const std::string& s) {
  PutText(b, s);
  b.push_back(0);
  if ((s.size() + 1) % 2) b.push_back(0);
}
Bytes Sub(const char* id, const Bytes& body) {
  Bytes b;
  PutText(b, std::string(id, 4));
  PutBe16(b, uint32_t(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2) b.push_back(0);
  return b;
}
Bytes Floats(std::initializer_list<float> v) {
  Bytes b;
  for (float f : v)
    PutBeF32(b, f);
  return b;
}
Bytes Words(std::initializer_list<uint32_t> v) {
  Bytes b;
  for (uint32_t w : v)
    PutBe16(b, w);
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts)
    b.insert(b.end(), p.begin(), p.end());
  return b;
}
Bytes Text(const std::string& s) {
  Bytes b;
  PutText(b, s);
  return b;
}
Bytes S0(const std::string& s) {
  Bytes b;
  PutS0(b, s);
  return b;
}

struct Lwo2File {
  Lwo2File& Chunk(const char* id, const Bytes& body) {
    PutText(chunks, std::string(id, 4));
    PutBe32(chunks, uint32_t(body.size()));
    chunks.insert(chunks.end(), body.begin(), body.end());
    if (body.size() % 2) chunks.push_back(0);
    return *this;
  }
  Bytes Build(const char* type = "LWO2") const {
    Bytes b = Text("FORM");
    PutBe32(b, uint32_t(chunks.size() + 4));
    PutText(b, type);
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
  }
  Bytes chunks;
};

// Two layers. Layer 0: a square (points 0-3) with a VMAP, a quad and a triangle of surface
// "Tex", and a VMAD giving the triangle's point 1 its own coordinates. Layer 1: a pentagon of
// "Plain", an untagged triangle, and a patch whose PTAG must not reach the faces. "Tex" is grey
// at half diffuse with an image map on "uv", double-sided and smooth; "Plain" is orange and a
// quarter transparent.
Lwo2File Fixture() {
  Lwo2File f;
  f.Chunk("TAGS", Cat({S0("Tex"), S0("Plain")}));
  f.Chunk("CLIP", Cat({Words({0, 1}), Sub("STIL", S0("Images/face.png"))}));
  f.Chunk("LAYR", Cat({Words({0, 0}), Floats({1, 2, 3}), S0("base")}));
  f.Chunk("PNTS", Floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
  f.Chunk("VMAP", Cat({Text("TXUV"), Words({2}), S0("uv"), Words({0}), Floats({0, 0}), Words({1}),
                       Floats({1, 0}), Words({2}), Floats({1, 1}), Words({3}), Floats({0, 1})}));
  f.Chunk("POLS", Cat({Text("FACE"), Words({4, 0, 1, 2, 3, 3, 0, 1, 2})}));
  f.Chunk("PTAG", Cat({Text("SURF"), Words({0, 0, 1, 0})}));
  f.Chunk("VMAD", Cat({Text("TXUV"), Words({2}), S0("uv"), Words({1, 1}), Floats({0.5f, 0.25f})}));
  f.Chunk("LAYR", Cat({Words({1, 0}), Floats({0, 0, 0}), S0("top"), Words({0})}));
  f.Chunk("PNTS", Floats({0, 0, 2, 1, 0, 2, 1.5f, 1, 2, 0.5f, 2, 2, -0.5f, 1, 2}));
  // The triangle names its last point as a 4-byte index (0xFF, then 24 bits).
  f.Chunk("POLS", Cat({Text("FACE"), Words({5, 0, 1, 2, 3, 4, 3, 0, 1, 0xFF00, 0x0002})}));
  f.Chunk("PTAG", Cat({Text("SURF"), Words({0, 1})}));
  f.Chunk("POLS", Cat({Text("PTCH"), Words({4, 0, 1, 2, 3})}));
  f.Chunk("PTAG", Cat({Text("SURF"), Words({0, 0})}));
  Bytes block = Cat({Sub("IMAP", Cat({S0("\x80"), Sub("CHAN", Text("COLR"))})),
                     Sub("PROJ", Words({5})), Sub("IMAG", Words({1})), Sub("VMAP", S0("uv"))});
  f.Chunk("SURF",
          Cat({S0("Tex"), S0(""), Sub("COLR", Cat({Floats({0.5f, 0.5f, 0.5f}), Words({0})})),
               Sub("DIFF", Cat({Floats({0.5f}), Words({0})})), Sub("SIDE", Words({3})),
               Sub("SMAN", Floats({1.0f})), Sub("BLOK", block)}));
  f.Chunk("SURF", Cat({S0("Plain"), S0(""), Sub("COLR", Cat({Floats({1, 0.5f, 0}), Words({0})})),
                       Sub("TRAN", Cat({Floats({0.25f}), Words({0})}))}));
  return f;
}

struct Load {
  explicit Load(const Bytes& bytes) {
    model = CreateModel({});
    before = *model;
    result = LoadLightWaveFromMemory(host, *model, "\\m\\a.lwo", bytes, 0);
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
  Uv UvOf(int p, int c) const {
    return model->uvs[size_t(model->polygons[size_t(p)].corners[size_t(c)].uv)];
  }
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  Model before;
  int result = 0;
};

TEST(Lwo2Reader, LayersPolygonsAndTagsCountFromTheirOwnChunks) {
  Load l(Fixture().Build());
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->positionCount, 9);
  EXPECT_EQ(l.model->positions[2], (Vec3{10, 10, 0}));  // stored points × 10; the pivot moves none
  EXPECT_EQ(l.model->positions[6], (Vec3{15, 10, 20}));
  ASSERT_EQ(l.model->polygonCount, 6);
  const std::vector<std::vector<int>> corners = {{0, 1, 2, 3}, {0, 1, 2}, {4, 5, 6},
                                                 {4, 6, 7},    {4, 7, 8}, {4, 5, 6}};
  const std::vector<int> groups = {0, 0, 1, 1, 1, 2};
  for (int p = 0; p < 6; ++p) {
    EXPECT_EQ(l.Corners(p), corners[size_t(p)]) << p;
    EXPECT_EQ(l.model->polygons[size_t(p)].group, groups[size_t(p)]) << p;
  }
  ASSERT_EQ(l.host.lines.size(), 1u);
  EXPECT_NE(l.host.lines[0].find("polygons skipped: 1 PTCH"), std::string::npos) << l.host.lines[0];
}

TEST(Lwo2Reader, SurfacesBecomeGroupsWithColourAlphaSidesShadingAndImage) {
  Load l(Fixture().Build());
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->groupCount, 3);
  const Group& tex = l.model->groups[0];
  const Group& plain = l.model->groups[1];
  const Group& other = l.model->groups[2];
  EXPECT_STREQ(tex.name.CStr(), "Tex");
  EXPECT_STREQ(plain.name.CStr(), "Plain");
  EXPECT_STREQ(other.name.CStr(), "Default");
  // The image replaces the grey; half diffuse halves what is drawn.
  EXPECT_EQ(tex.colour, (ColourF{127.5f, 127.5f, 127.5f, 255.0f}));
  EXPECT_EQ(plain.colour, (ColourF{255.0f, 127.5f, 0.0f, 191.25f}));
  EXPECT_EQ(other.colour, (ColourF{200.0f, 200.0f, 200.0f, 255.0f}));
  EXPECT_EQ(tex.doubleSided, 1);
  EXPECT_EQ(plain.doubleSided, 0);
  EXPECT_EQ(tex.shading, 4);  // SMAN above 0 smooths
  EXPECT_EQ(plain.shading, 3);
  EXPECT_EQ(tex.textureSlot, 1);
  EXPECT_EQ(plain.textureSlot, 0);
  ASSERT_EQ(l.model->textureSlotCount, 2);
  EXPECT_STREQ(l.model->textureSlots[1].fileName.CStr(), "face.png");
  EXPECT_EQ(l.host.textureLoads, (std::vector<std::pair<int32_t, std::string>>{{1, "face.png"}}));
}

TEST(Lwo2Reader, CornersTakeTheirPolygonsVmadEntryBeforeTheVmapWithVFlipped) {
  Load l(Fixture().Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.model->uvCount, 7);  // the textured quad and triangle only
  EXPECT_EQ(l.UvOf(0, 0), (Uv{0, 1}));
  EXPECT_EQ(l.UvOf(0, 1), (Uv{1, 1}));
  EXPECT_EQ(l.UvOf(0, 2), (Uv{1, 0}));
  EXPECT_EQ(l.UvOf(0, 3), (Uv{0, 0}));
  EXPECT_EQ(l.UvOf(1, 1), (Uv{0.5f, 0.75f}));  // the VMAD entry of polygon 1, point 1
  EXPECT_EQ(l.UvOf(1, 2), (Uv{1, 0}));
}

TEST(Lwo2Reader, LwobFilesStillGoToTheLwobReader) {
  testing::LwoFile lwob;
  Bytes points = Floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
  lwob.Srfs({"s"}).Chunk("PNTS", points).Chunk("POLS", Words({3, 0, 1, 2, 1}));
  Load l(lwob.Build());
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.model->polygonCount, 1);
  EXPECT_EQ(l.model->groups[0].colour, (ColourF{128, 128, 128, 255}));  // LWOB's grey default
}

struct RefusalCase {
  const char* name;
  Bytes bytes;
  const char* reason;
};

TEST(Lwo2Reader, BadFilesAreRefusedWithTheirReasonAndLeaveTheModelUntouched) {
  Lwo2File badPoint = Fixture();
  badPoint.Chunk("POLS", Cat({Text("FACE"), Words({3, 0, 1, 9})}));
  Lwo2File badTag = Fixture();
  badTag.Chunk("PTAG", Cat({Text("SURF"), Words({5, 0})}));
  Lwo2File badVmad = Fixture();
  badVmad.Chunk("VMAD", Cat({Text("TXUV"), Words({2}), S0("uv"), Words({0, 7}), Floats({0, 0})}));
  Lwo2File patches;
  patches.Chunk("PNTS", Floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}))
      .Chunk("POLS", Cat({Text("PTCH"), Words({4, 0, 1, 2, 3})}));
  Lwo2File undefinedTag;
  undefinedTag.Chunk("PNTS", Floats({0, 0, 0, 1, 0, 0, 1, 1, 0}))
      .Chunk("POLS", Cat({Text("FACE"), Words({3, 0, 1, 2})}))
      .Chunk("PTAG", Cat({Text("SURF"), Words({0, 4})}));
  Bytes cut = Fixture().Build();
  cut.resize(cut.size() - 3);
  Bytes longChunk = Fixture().Build();
  longChunk[17] = 0xFF;  // the TAGS length now runs past the form
  const RefusalCase cases[] = {
      {"point beyond the layer", badPoint.Build(), "names point 9 of 5"},
      {"tag beyond the polygons", badTag.Build(), "PTAG names polygon 5 of 1"},
      {"VMAD beyond the polygons", badVmad.Build(), "names polygon 7 of 1"},
      {"patches only", patches.Build(), "no FACE polygons (1 PTCH)"},
      {"tag beyond TAGS", undefinedTag.Build(), "surface tag 4 of 0"},
      {"file shorter than its form", cut, "ends before its FORM length"},
      {"chunk past the form", longChunk, "chunk TAGS runs past the end of the form"},
      {"LWO3", Fixture().Build("LWO3"), "LWO3 files"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load l(c.bytes);
    EXPECT_EQ(l.result, 0);
    EXPECT_TRUE(*l.model == l.before);
    ASSERT_EQ(l.host.lines.size(), 1u);
    EXPECT_NE(l.host.lines[0].find(c.reason), std::string::npos) << l.host.lines[0];
  }
}

// Polygons of 1023 points fan out into 1021 triangles each: 12 MB of them would need about
// 500 MB of polygons, more than the reader may take for its input (256 MB + 16 times its size).
TEST(Lwo2Reader, FilesWhoseFansOutgrowTheMemoryBudgetAreRefused) {
  Lwo2File f;
  Bytes points;
  for (int i = 0; i < 1023; ++i)
    for (float v : {float(i), 0.0f, 0.0f})
      PutBeF32(points, v);
  f.Chunk("PNTS", points);
  Bytes pols = Text("FACE");
  for (int k = 0; k < 6000; ++k) {
    PutBe16(pols, 1023);
    for (int i = 0; i < 1023; ++i)
      PutBe16(pols, uint32_t(i));
  }
  f.Chunk("POLS", pols);
  Load l(f.Build());
  EXPECT_EQ(l.result, 0);
  EXPECT_TRUE(*l.model == l.before);
  ASSERT_EQ(l.host.lines.size(), 1u);
  EXPECT_NE(l.host.lines[0].find("the model would need"), std::string::npos) << l.host.lines[0];
}

// 80,000 distinct names or types of one kind, a file of 1 to 2 MB, read in a child under a time
// limit (a linear search per name took half a minute).
TEST(Lwo2Reader, ManyDistinctNamesAndTypesReadInLinearTime) {
  const std::pair<const char*, std::function<void(Lwo2File&, int)>> cases[] = {
      {"surfaces",
       [](Lwo2File& f, int i) {
         f.Chunk("SURF", Cat({S0("s" + std::to_string(i)), S0("")}));
       }},
      {"vertex maps",
       [](Lwo2File& f, int i) {
         f.Chunk("VMAP", Cat({Text("TXUV"), Words({2}), S0("m" + std::to_string(i))}));
       }},
      {"polygon types",
       [](Lwo2File& f, int i) {
         const char type[5] = {'X', char(0x21 + i % 90), char(0x21 + i / 90 % 90),
                               char(0x21 + i / 8100), 0};
         f.Chunk("POLS", Cat({Text(type), Words({0})}));
       }},
  };
  for (const auto& [name, add] : cases) {
    SCOPED_TRACE(name);
    Lwo2File f;
    f.Chunk("PNTS", Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    for (int i = 0; i < 80000; ++i)
      add(f, i);
    f.Chunk("POLS", Cat({Text("FACE"), Words({3, 0, 1, 2})}));
    const Bytes file = f.Build();
    const auto run = wz::testing::RunWithTimeout(5, [&] {
      RecordingModelHost host;
      auto model = CreateModel({});
      return LoadLightWaveFromMemory(host, *model, "\\m\\a.lwo", file, 0) == 1 ? 0 : 1;
    });
    EXPECT_EQ(run.outcome, wz::testing::ChildOutcome::kFinished);
    EXPECT_EQ(run.exitCode, 0);
  }
}

// Surface and image names: UTF-8 ones take the reversible mapping of host file names; code page
// 932 ones stay as they are, and a 0x5C that ends a two-byte character does not cut the path.
TEST(Lwo2Reader, NamesReachTheLibraryAsCodePage932) {
  struct Case {
    std::string surface, clip, group, texture;
  };
  const Case cases[] = {
      {"caf\xc3\xa9", "C:\\Images\\caf\xc3\xa9.png",
       platform::HostBytesToCp932("caf\xc3\xa9", false),
       platform::HostBytesToCp932("caf\xc3\xa9.png", false)},
      {"\x96\xd8", "Images/\x95\x5c.png", "\x96\xd8", "\x95\x5c.png"},  // 木, 表 in code page 932
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    Lwo2File f;
    f.Chunk("TAGS", S0(c.surface));
    f.Chunk("CLIP", Cat({Words({0, 1}), Sub("STIL", S0(c.clip))}));
    f.Chunk("PNTS", Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    f.Chunk("POLS", Cat({Text("FACE"), Words({3, 0, 1, 2})}));
    f.Chunk("PTAG", Cat({Text("SURF"), Words({0, 0})}));
    Bytes block = Cat({Sub("IMAP", Cat({S0("\x80"), Sub("CHAN", Text("COLR"))})),
                       Sub("PROJ", Words({5})), Sub("IMAG", Words({1}))});
    f.Chunk("SURF", Cat({S0(c.surface), S0(""), Sub("BLOK", block)}));
    Load l(f.Build());
    ASSERT_EQ(l.result, 1);
    EXPECT_EQ(std::string(l.model->groups[0].name.CStr()), c.group);
    ASSERT_EQ(l.host.textureLoads.size(), 1u);
    EXPECT_EQ(l.host.textureLoads[0].second, c.texture);
  }
}

TEST(Lwo2Reader, EveryTruncationIsRefusedAndTheWholeFileLoads) {
  const Bytes file = Fixture().Build();
  for (size_t n = 0; n < file.size(); ++n) {
    Load l(Bytes(file.begin(), file.begin() + long(n)));
    ASSERT_EQ(l.result, 0) << n;
    ASSERT_TRUE(*l.model == l.before) << n;
  }
  EXPECT_EQ(Load(file).result, 1);
}

// The smoothing angle of both generations: SMAN (radians) keeps edges sharper than it flat. An
// LWO2 surface without SMAN, or with 0, is flat by its shading; an LWOB file without any SMAN
// keeps the smooth normals of its positions.
TEST(Lwo2Reader, SmoothingAngleKeepsSharperEdgesFlat) {
  auto lwo2 = [](const Bytes& sman) {
    Lwo2File f;
    f.Chunk("TAGS", S0("S"));
    f.Chunk("LAYR", Cat({Words({0, 0}), Floats({0, 0, 0}), S0("")}));
    Bytes points, quads = Text("FACE"), tags = Text("SURF");
    for (int i = 0; i < 8; ++i) {
      const Vec3 p = testing::CubeCorner(i);
      points = Cat({points, Floats({p.x, p.y, p.z})});
    }
    for (size_t q = 0; q < 6; ++q) {
      PutBe16(quads, 4);
      for (int i : testing::kCubeQuads[q])
        PutBe16(quads, uint32_t(i));
      tags = Cat({tags, Words({uint32_t(q), 0})});
    }
    f.Chunk("PNTS", points).Chunk("POLS", quads).Chunk("PTAG", tags);
    f.Chunk("SURF", Cat({S0("S"), S0(""), sman}));
    return f.Build();
  };
  auto lwob = [](const Bytes& sman) {
    testing::LwoFile f;
    f.Srfs({"S"});
    Bytes points, quads;
    for (int i = 0; i < 8; ++i) {
      const Vec3 p = testing::CubeCorner(i);
      for (float x : {p.x, p.y, p.z})
        PutBeF32(points, x);
    }
    for (const auto& q : testing::kCubeQuads) {
      PutBe16(quads, 4);
      for (int i : q)
        PutBe16(quads, uint32_t(i));
      PutBe16(quads, 1);
    }
    f.Chunk("PNTS", points).Chunk("POLS", quads);
    Bytes surf;
    testing::PutName(surf, "S");
    surf.insert(surf.end(), sman.begin(), sman.end());
    return f.Chunk("SURF", surf).Build();
  };
  auto sman = [](float degrees) {
    Bytes b = Text("SMAN");
    PutBe16(b, 4);
    PutBeF32(b, degrees * 3.14159265f / 180);
    return b;
  };
  const struct {
    const char* name;
    Bytes file;
    char shading;  // testing::CornerShading
    int groupShading;
  } cases[] = {
      {"LWO2 without SMAN", lwo2({}), '-', 3},  {"LWO2 0", lwo2(sman(0)), '-', 3},
      {"LWO2 89.5", lwo2(sman(89.5f)), 'f', 4}, {"LWO2 90.5", lwo2(sman(90.5f)), 's', 4},
      {"LWOB without SMAN", lwob({}), '-', 4},  {"LWOB 0", lwob(sman(0)), 'f', 4},
      {"LWOB 89.5", lwob(sman(89.5f)), 'f', 4}, {"LWOB 90.5", lwob(sman(90.5f)), 's', 4},
  };
  for (const auto& c : cases) {
    Load l(c.file);
    ASSERT_EQ(l.result, 1) << c.name;
    EXPECT_EQ(testing::CornerShading(*l.model), c.shading) << c.name;
    EXPECT_EQ(l.model->groups[0].shading, c.groupShading) << c.name;
  }
}

}  // namespace
}  // namespace wz
