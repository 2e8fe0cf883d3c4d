// WZP reader: each version's layout read back field by field from files made by the test-side
// writer, the older encodings, the version refusals, damaged files (refused, the model left as
// it was, the completion steps still run), truncation, and preallocated pools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "model/model_invariants.h"
#include "model/normals.h"
#include "model/wzp.h"
#include "model/wzp_test_support.h"
#include "platform/file_io.h"
#include "support/memory_ceiling.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using testing::Options;
using testing::RichModel;
using testing::WriteLayout;

const std::string kPath = "\\models\\a.wzp";

struct Loaded {
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  int result = -1;
};

Loaded Load(std::span<const uint8_t> file, int32_t version,
            const NewModelOptions& options = Options("\\data")) {
  Loaded r;
  r.model = CreateModel(options);
  r.result = LoadWzpFromMemory(r.host, *r.model, kPath, file, version);
  return r;
}

// A new model after the completion steps of a read that stored nothing.
std::unique_ptr<Model> UntouchedModel(int32_t version,
                                      const NewModelOptions& options = Options("\\data")) {
  auto m = CreateModel(options);
  m->fileName.Set(kPath);
  if (version < kWzpVersion2008) m->groups[0].switchA = 1;
  return m;
}

void ExpectSound(const Model& m) {
  auto fault = CheckModelInvariants(m);
  EXPECT_FALSE(fault.has_value()) << ModelFaultName(fault->fault) << ": " << fault->message;
}

class WzpReaderVersion : public ::testing::TestWithParam<int32_t> {};

TEST_P(WzpReaderVersion, ReadsEverySavedFieldOfItsLayoutAndCompletes) {
  const int32_t v = GetParam();
  const auto src = RichModel(v);
  const auto exports = BuildExportGeometry(*src, kDefaultPolygonCapacity);
  const Loaded r = Load(WriteLayout(*src, v, exports, /*leading=*/77), v);
  ASSERT_EQ(r.result, 1) << r.host.lines.at(0);
  EXPECT_TRUE(r.host.messages.empty());
  testing::ExpectSameSavedFields(*src, *r.model);
  ExpectSound(*r.model);
  for (int g = 0; g < src->groupCount; ++g) {
    const Group& got = r.model->groups[g];
    const ExportGeometry want = v == kWzpVersion2009 ? exports[g] : ExportGeometry{};
    const auto nv = size_t(got.exportVertexCount);
    EXPECT_EQ(nv, want.positions.size());
    EXPECT_EQ(got.exportPositions, want.positions);
    EXPECT_EQ(got.exportNormals, want.normals);
    EXPECT_EQ(got.exportColours, want.colours);
    EXPECT_EQ(got.exportUvs, want.uvs);
    EXPECT_EQ(got.exportAttrs, want.attrs);
    EXPECT_EQ(got.exportTriangles, want.triangles);
    EXPECT_EQ(got.exportScratchA.size(), nv);
  }
  // Completion: file name, display mode, normals, textures of the named slots, motion 0.
  EXPECT_EQ(r.model->fileName.View(), kPath);
  EXPECT_EQ(r.model->displayMode, 2);
  EXPECT_EQ(r.model->postLoadMark, 1);
  const Model& m = *r.model;
  const Corner* k = m.polygons[1].corners.data();
  EXPECT_EQ(m.polygons[1].faceNormal,
            FaceNormal(m.positions[k[0].position], m.positions[k[1].position],
                       m.positions[k[2].position]));
  const std::vector<std::pair<int32_t, std::string>> loads = {
      {1, std::string("\\data\\\\") + WZ_TEXT("木目.bmp")},
      {2, "\\data\\\\"},  // state 1 with an empty name: the model directory itself
      {3, "\\data\\\\sub\\stone.png"}};
  EXPECT_EQ(r.host.textureLoads, loads);
  EXPECT_EQ(r.host.motionSets, std::vector<int32_t>{0});
}

TEST_P(WzpReaderVersion, RefusesEveryTruncatedPrefixAndLeavesTheModel) {
  const int32_t v = GetParam();
  const auto src = RichModel(v);
  const auto file = WriteLayout(*src, v, BuildExportGeometry(*src, kDefaultPolygonCapacity));
  const auto untouched = UntouchedModel(v);
  for (size_t n = 0; n < file.size(); ++n) {
    const Loaded r = Load(std::span(file).first(n), v);
    ASSERT_EQ(r.result, 0) << n;
    ASSERT_EQ(r.host.lines.size(), 1u) << n;
    ASSERT_EQ(r.host.lines[0],
              "*** LoadError *** " + kPath + " : the file ends before its counts say");
    ASSERT_TRUE(*r.model == *untouched) << "prefix of " << n << " bytes changed the model";
    ASSERT_EQ(r.host.motionSets.size(), 1u);
  }
  EXPECT_EQ(Load(file, v).result, 1);
}

INSTANTIATE_TEST_SUITE_P(AllVersions, WzpReaderVersion,
                         ::testing::Values(kWzpVersion2004, kWzpVersion2005, kWzpVersion2006,
                                           kWzpVersion2008, kWzpVersion2009));

TEST(WzpReader, OldAttributesKeepLowBytesAndMakeAutoBindABoolean) {
  const auto src = RichModel(kWzpVersion2006);
  auto file = WriteLayout(*src, kWzpVersion2006);
  const size_t at = 7 + 16 + 12 * 7 + 12 * 3 + 16 * 1 + 8 * 4;  // attribute 0
  const int16_t bone = 300, second = 0x1FF;
  const int32_t autoBind = 5;
  std::memcpy(&file[at], &bone, 2);
  std::memcpy(&file[at + 2], &second, 2);
  std::memcpy(&file[at + 8], &autoBind, 4);
  const Loaded r = Load(file, kWzpVersion2006);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.model->attrs[0].bone, 44);
  EXPECT_EQ(r.model->attrs[0].secondByte, 0xFF);
  EXPECT_EQ(r.model->attrs[0].autoBind, 1);
  EXPECT_EQ(r.model->attrs[0].weight, src->attrs[0].weight);
}

TEST(WzpReader, ModelMapSlotSelectsShadingModeEightIn2006And2008Only) {
  const struct {
    int32_t version;
    int16_t slot;
    int32_t mode;
  } cases[] = {{kWzpVersion2006, 1, 8},
               {kWzpVersion2008, 1, 8},
               {kWzpVersion2009, 1, 3},
               {kWzpVersion2008, 0, 3}};
  for (const auto& c : cases) {
    auto src = CreateModel({});
    src->textureSlots.resize(2);
    src->textureSlotCount = 2;
    src->modelMapSlot = c.slot;
    const Loaded r = Load(WriteLayout(*src, c.version, {ExportGeometry{}}), c.version);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.model->modelMapSlot, c.slot);
    EXPECT_EQ(r.model->shadingMode, c.mode) << c.version;
  }
}

TEST(WzpReader, AnUnknownVersionInRangeReadsNothingSilently) {
  const auto file = WriteLayout(*RichModel(kWzpVersion2009), kWzpVersion2009,
                                BuildExportGeometry(*RichModel(kWzpVersion2009), 65000));
  const Loaded r = Load(file, 2007000);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.host.lines.empty());
  EXPECT_TRUE(r.host.messages.empty());
  EXPECT_TRUE(*r.model == *UntouchedModel(2007000));
  EXPECT_EQ(r.host.motionSets, std::vector<int32_t>{0});
}

TEST(WzpReader, VersionsOutOfRangeShowTheirMessageAndTouchNothing) {
  const std::string older = std::string(WZ_TEXT("WZP 2004 以上に対応しています。\n\n")) + kPath;
  const std::string newer =
      std::string(WZ_TEXT("WZP形式のバージョンが新しいので\n読み込むことができません。\n"
                          "最新版へバージョンアップして下さい。\n\n")) +
      kPath;
  const std::pair<int32_t, std::string> cases[] = {
      {0, older}, {2004001, older}, {2009001, newer}, {INT32_MAX, newer}};
  const auto file = WriteLayout(*RichModel(kWzpVersion2009), kWzpVersion2009,
                                BuildExportGeometry(*RichModel(kWzpVersion2009), 65000));
  for (const auto& [version, message] : cases) {
    const Loaded r = Load(file, version);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.host.messages, std::vector<std::string>{message});
    EXPECT_EQ(r.host.lines.size(), 1u);
    EXPECT_TRUE(*r.model == *CreateModel(Options("\\data"))) << version;
    EXPECT_TRUE(r.host.motionSets.empty());
  }
}

// Replaces the first occurrence of `from` in `file` by `to`.
void Splice(std::vector<uint8_t>& file, const std::vector<uint8_t>& from,
            const std::vector<uint8_t>& to) {
  auto at = std::search(file.begin(), file.end(), from.begin(), from.end());
  ASSERT_NE(at, file.end());
  at = file.erase(at, at + std::ptrdiff_t(from.size()));
  file.insert(at, to.begin(), to.end());
}

std::vector<uint8_t> Str(std::string_view s) {
  return testing::Bytes().Str(s).b;
}

// The discarded value that opens each motion block, unlike any other value of the test files.
constexpr int32_t kLeading = 0x4D4D4D4D;

struct Damage {
  const char* what;
  int32_t version;
  void (*model)(Model&);                // applied before writing
  void (*file)(std::vector<uint8_t>&);  // applied after writing
  const char* reason;                   // "" : the file is read
};

const Damage kDamages[] = {
    {"name of 255 bytes", 2009000, nullptr,
     [](auto& f) { Splice(f, Str("group0"), Str(std::string(255, 'n'))); }, ""},
    {"name of 256 bytes", 2009000, nullptr,
     [](auto& f) { Splice(f, Str("group0"), Str(std::string(256, 'n'))); },
     "a group name of 256 bytes"},
    {"negative name length", 2009000, nullptr,
     [](auto& f) { Splice(f, Str("run"), testing::Bytes().I32(-1).b); },
     "a motion name of -1 bytes"},
    {"five corners", 2009000, [](Model& m) { m.polygons[2].cornerCount = 5; }, nullptr,
     "polygon 2 has 5 corners"},
    {"no corners", 2005000, [](Model& m) { m.polygons[0].cornerCount = 0; }, nullptr,
     "polygon 0 has 0 corners"},
    {"17 track keys", 2009000, [](Model& m) { m.motions[1].tracks[2].keyCount = 17; }, nullptr,
     "motion 1 track 2 has 17 keys (at most 16)"},
    {"129 bones", 2008000, [](Model& m) { m.boneCount = 129; }, nullptr, "129 bones (at most 128)"},
    // A motion holds 256 tracks; the groups past them have none, which a file gives as 0 keys.
    {"257 groups with motions", 2006000,
     [](Model& m) {
       m.groups.resize(257);
       m.groupCount = 257;
     },
     nullptr, ""},
    // 2004002 files have no motion blocks at all.
    {"300 groups in a file without motions", 2004002,
     [](Model& m) {
       m.groups.resize(300, m.groups[0]);
       m.groupCount = 300;
     },
     nullptr, ""},
    {"negative polygon count", 2009000, [](Model& m) { m.polygonCount = -1; }, nullptr,
     "the polygon count is negative (-1)"},
    {"position index outside", 2009000, [](Model& m) { m.polygons[3].corners[1].position = 7; },
     nullptr, "CornerIndexOutOfRange: polygon 3 corner 1: position index 7, position count 7"},
    {"UV index outside", 2005000, [](Model& m) { m.polygons[0].corners[2].uv = 1; }, nullptr,
     "CornerIndexOutOfRange: polygon 0 corner 2: UV index 1, UV count 1"},
    {"group index outside", 2004002, [](Model& m) { m.polygons[4].group = 3; }, nullptr,
     "GroupIndexOutOfRange: polygon 4: group 3 of 3"},
    {"texture slot outside", 2008000, [](Model& m) { m.groups[2].bumpMapSlot = 4; }, nullptr,
     "TextureSlotOutOfRange: group 2 bump map slot 4 of 4"},
    // The binding rules define any parent: a bone whose parent is not before it keeps its
    // local matrix.
    {"bone that is its own parent", 2009000, [](Model& m) { m.bones[2].parent = 2; }, nullptr, ""},
    {"bone whose parent comes later", 2005000, [](Model& m) { m.bones[1].parent = 3; }, nullptr,
     ""},
    {"rest keys above the cap", 2004002,
     [](Model& m) { m.bones[1].keyLists[0].resize(kWzpMaxRestKeys + 1); }, nullptr,
     "bone 1 has 65536 rest keys (at most 65535)"},
    // Rest keys are counts without data: together they may not outgrow the file.
    {"rest keys beyond what the file holds", 2004002,
     [](Model& m) {
       for (int k = 0; k < m.boneCount; ++k)
         m.bones[k].keyLists[0].resize(kWzpMaxRestKeys);
     },
     nullptr, "131070 rest keys: a file of "},
    {"too many motions", 2008000, nullptr,
     [](auto& f) {
       Splice(f, testing::Bytes().I32(2).I32(kLeading).b,
              testing::Bytes().I32(1025).I32(kLeading).b);
     },
     "1025 motions (at most 1024)"},
    {"export vertex outside", 2009000, nullptr,
     [](auto& f) {
       // Group 0's first export triangle names vertices 0 and 1; make the first 99.
       testing::Bytes t;
       t.U8(3).I32(0).I32(0).I32(0).I32(0).I32(1);
       testing::Bytes u;
       u.U8(3).I32(99).I32(0).I32(0).I32(0).I32(1);
       Splice(f, t.b, u.b);
     },
     "CornerIndexOutOfRange: group 0 export triangle 0 corner 0: vertex 99 of"},
};

TEST(WzpReader, RefusesDamagedFilesAndLeavesTheModelAsItWas) {
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.what);
    auto src = RichModel(d.version);
    if (d.model) d.model(*src);
    auto file =
        WriteLayout(*src, d.version, BuildExportGeometry(*RichModel(d.version), 65000), kLeading);
    if (d.file) d.file(file);
    const Loaded r = Load(file, d.version);
    ExpectSound(*r.model);
    EXPECT_EQ(r.host.motionSets, std::vector<int32_t>{0});  // completion ran
    if (*d.reason == '\0') {
      EXPECT_EQ(r.result, 1);
      EXPECT_TRUE(r.host.lines.empty());
      continue;
    }
    EXPECT_EQ(r.result, 0);
    ASSERT_EQ(r.host.lines.size(), 1u);
    EXPECT_EQ(r.host.lines[0].rfind("*** LoadError *** " + kPath + " : " + d.reason, 0), 0u)
        << r.host.lines[0];
    EXPECT_TRUE(*r.model == *UntouchedModel(d.version));
  }
}

TEST(WzpReader, KeysInATrackPastTheMotionsTracksAreRefused) {
  auto src = RichModel(kWzpVersion2008);
  src->groups.resize(257);
  src->groupCount = 257;
  const Loaded r =
      Load(WriteLayout(*src, kWzpVersion2008, {}, 1, /*keysPastTracks=*/3), kWzpVersion2008);
  EXPECT_EQ(r.result, 0);
  ASSERT_EQ(r.host.lines.size(), 1u);
  EXPECT_NE(r.host.lines[0].find("motion 0 track 256 has 3 keys"), std::string::npos)
      << r.host.lines[0];
}

TEST(WzpReader, RestKeysCostMemoryInProportionToTheFile) {
  // 128 bones of 65535 rest keys each: a file of under a kilobyte, 369 MB of keys if believed.
  auto src = CreateModel(Options("\\data"));
  src->boneCount = kMaxBones;
  for (int k = 0; k < kMaxBones; ++k)
    src->bones[k].keyLists.assign(1, std::vector<BoneKey>(kWzpMaxRestKeys, kRestKey));
  const auto file = WriteLayout(*src, kWzpVersion2004);
  EXPECT_LT(file.size(), 1024u);
  wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(file.size()));
  const Loaded l = Load(file, kWzpVersion2004);
  EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
  EXPECT_EQ(l.result, 0);
  ASSERT_EQ(l.host.lines.size(), 1u);
  EXPECT_NE(l.host.lines[0].find("rest keys: a file of"), std::string::npos) << l.host.lines[0];
}

TEST(WzpReader, PreallocatedPoolsKeepTheirCapacityOrGrow) {
  const auto src = RichModel(kWzpVersion2009);  // 7 positions, 3 normals, 1 colour, 4 UVs
  const auto file = WriteLayout(*src, kWzpVersion2009, BuildExportGeometry(*src, 65000));
  const NewModelOptions options = Options("\\data", false, true, {2, 5});
  Loaded r = Load(file, kWzpVersion2009, options);
  ASSERT_EQ(r.result, 1);
  testing::ExpectSameSavedFields(*src, *r.model);
  ExpectSound(*r.model);
  EXPECT_EQ(r.model->positions.size(), 7u);  // grown past the capacity of 5
  EXPECT_EQ(r.model->attrs.size(), 7u);
  EXPECT_EQ(r.model->animatedPositions.size(), 7u);
  EXPECT_EQ(r.model->normals.size(), 5u);  // kept
  EXPECT_EQ(r.model->uvs.size(), 5u);
  EXPECT_EQ(r.model->polygons.size(), 6u);  // resized to the count

  // A damaged file leaves the preallocated model exactly as it was.
  auto damaged = file;
  damaged.resize(damaged.size() - 1);
  auto before = CreateModel(options);
  before->fileName.Set(kPath);
  r = Load(damaged, kWzpVersion2009, options);
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(*r.model == *before);
}

TEST(WzpReader, ReadsFromAFileOrRefusesAMissingOne) {
  testing::TempDir dir;
  const auto src = RichModel(kWzpVersion2008);
  const auto file = WriteLayout(*src, kWzpVersion2008);
  testing::WriteFile(dir / "m.wzp", std::string(file.begin(), file.end()));
  RecordingModelHost host;
  auto model = CreateModel({});
  const std::string path = platform::LibraryPath(dir / "m.wzp");
  EXPECT_EQ(LoadWzp(host, *model, path, kWzpVersion2008), 1);
  testing::ExpectSameSavedFields(*src, *model);

  model = CreateModel({});
  const std::string missing = platform::LibraryPath(dir / "none.wzp");
  EXPECT_EQ(LoadWzp(host, *model, missing, kWzpVersion2008), 0);
  EXPECT_EQ(host.lines.back(), "*** LoadError *** " + missing + " : the file cannot be read");
  EXPECT_EQ(model->fileName.View(), missing);
}

}  // namespace
}  // namespace wz
