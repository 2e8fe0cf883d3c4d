// The model manager: slots, the load steps every format shares, background loads and motions.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/library.h"
#include "formats/formats.h"
#include "model/model_invariants.h"
#include "model/wzp.h"
#include "platform/d3dx/texture_file.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "support/memory_ceiling.h"
#include "support/model_documents.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::TempDir;

struct ModelManager : ::testing::Test {
  ModelManager() {
    library.AttachLogSink([this](const std::string& l) { lines.push_back(l); });
    platform::script::SetMessageBoxEcho(false);
  }
  ~ModelManager() override { platform::script::SetMessageBoxEcho(true); }
  std::string File(const std::string& name, const std::string& bytes = "0123456789") {
    wz::testing::WriteFile(dir / name, bytes);
    return platform::LibraryPath(dir / name);
  }
  TempDir dir;
  std::vector<std::string> lines;
  Library library;
};

TEST(ModelExtensionRule, LastDotNotAtTheStart) {
  EXPECT_EQ(ModelExtension("a.WZP"), "WZP");
  EXPECT_EQ(ModelExtension("\\d\\a.b.lwo"), "lwo");
  EXPECT_EQ(ModelExtension(".lwo"), "");
  EXPECT_EQ(ModelExtension("noext"), "");
  EXPECT_EQ(ModelExtension("\\dir.v2\\file"), "v2\\file");
}

// A file goes to the reader its first bytes show, whatever its extension; the extension decides
// only when they show no format.
TEST(ModelFormatRule, ContentFirstThenExtension) {
  auto le32 = [](uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  };
  const std::string mx = "MXF" + std::string(5, '\0') + le32(60) + le32(32) + le32(168) + le32(92) +
                         le32(16) + le32(260);
  const struct {
    std::string head;
    const char* path;
    const char* want;
  } cases[] = {
      {"xof 0303txt 0032\n", "a.obj", "x"},
      {std::string("FORM\0\0\0\x10LWOB", 12), "a.x", "lwo"},
      {std::string("FORM\0\0\0\x10LWO2", 12), "a.mqo", "lwo"},
      {std::string("FORM\0\0\0\x10LWO3", 12), "noext", "lwo"},
      {"Metasequoia Document\r\n", "a.dxf", "mqo"},
      {std::string("glTF\x02\0\0\0", 8), "a.obj", "glb"},
      {" {\"asset\": {\"version\": \"2.0\"}}", "a.x", "gltf"},
      {"  0\r\nSECTION\r\n  2\r\nENTITIES\r\n", "a.mqo", "dxf"},
      {"999\nmade by hand\n\t0 \nSECTION\n", "noext", "dxf"},
      {"WZP" + le32(2009000), "a.lwo", "wzp"},
      {"abc" + le32(2004002), "a.rok", "wzp"},
      {mx, "a.wzp", "mx"},
      {"ROKKAKU 5.25\r\nPOINT\r\n", "a.obj", "rok"},
      {"comment\nPOINT\n1\n0\nLINE0\n", "a.x", "rok"},
      {"# made by hand\n\nv 1 2 3\nf 1 2 3\n", "a.dxf", "obj"},
      {"o thing\n", "noext", "obj"},
      // Nothing shown: the extension decides.
      {"  0\n3DFACE\n", "a.DXF", "dxf"},
      {"  0\nPOINT\n 10\n1\n", "a.dxf", "dxf"},  // a DXF POINT entity, no ROK file
      {"0123456789", "a.rok", "rok"},
      {"# only a comment\n", "a.mx", "mx"},
      {"{\"scene\": 0}", "a.gltf", "gltf"},
      {"0123", "a.txt", ""},
      {"", "noext", ""},
  };
  for (const auto& c : cases) {
    const std::span<const uint8_t> head(reinterpret_cast<const uint8_t*>(c.head.data()),
                                        c.head.size());
    EXPECT_EQ(ModelFormatOf(c.path, head), c.want) << c.path << ": " << c.head;
  }
}

TEST_F(ModelManager, ADxfFileLoadsUnderAnyName) {
  const std::string face =
      "  0\nSECTION\n  2\nENTITIES\n  0\n3DFACE\n 10\n0\n 20\n0\n 30\n0\n 11\n1\n 21\n0\n 31\n0\n"
      " 12\n1\n 22\n1\n 32\n0\n 13\n0\n 23\n1\n 33\n0\n  0\nENDSEC\n  0\nEOF\n";
  for (const char* name : {"face.obj", "face", "face.x"}) {
    const ModelId id = library.Model3_Load(-1, File(name, face));
    ASSERT_GE(id, 0) << name;
    EXPECT_EQ(library.Model3_Get(id)->polygonCount, 1) << name;
  }
}

TEST_F(ModelManager, SlotsAreReusedAfterRelease) {
  EXPECT_EQ(library.Model3_Create(), 0);
  EXPECT_EQ(library.Model3_Create(), 1);
  EXPECT_EQ(library.Model3_Get(-1), nullptr);
  EXPECT_EQ(library.Model3_Get(2), nullptr);
  library.Model3_Get(0)->polygonCount = 0;
  library.Model3_Get(0)->groups[0].name.Set("changed");
  library.Model3_Release(1);
  EXPECT_NE(library.Model3_Get(1), nullptr);  // a released model is still there
  EXPECT_EQ(library.Model3_Create(), 1);
  library.Model3_Release(0);
  EXPECT_EQ(library.Model3_Create(), 0);
  // The reused slot holds a new model with the defaults.
  EXPECT_EQ(library.Model3_Get(0)->groups[0].name.View(), platform::Utf8ToCp932("グループ"));
  EXPECT_EQ(library.Model3_Get(0)->modelId, 0);
  EXPECT_EQ(library.ModelSlotCount(), 2u);
}

TEST_F(ModelManager, PreallocationAppliesToTheNextModelOnly) {
  library.SetPreallocateNext(true);
  ModelId a = library.Model3_Create();
  ModelId b = library.Model3_Create();
  EXPECT_GE(library.Model3_Get(a)->polygons.size(), 65000u);
  EXPECT_LT(library.Model3_Get(b)->polygons.size(), 65000u);
}

TEST_F(ModelManager, LoadWithoutAReaderStillRunsThePostLoadSteps) {
  for (const char* name : {"x.lwo_unknown", "noext"}) {
    ModelId id = library.Model3_Load(-1, File(name));
    ASSERT_GE(id, 0) << name;
    EXPECT_TRUE(library.Model3_IsLoaded(id));
    const Model* m = library.Model3_Get(id);
    // No positions: the start values stay; the unused group's centre is (0, 0, 0).
    EXPECT_EQ(m->boundsMin.x, 99999.0f);
    EXPECT_EQ(m->boundsMax.z, -99999.0f);
    EXPECT_EQ(m->groups[0].centre.x, 0.0f);
    EXPECT_EQ(library.Model3_Runtime(id)->ready, 1);
  }
}

TEST_F(ModelManager, LoadFailures) {
  EXPECT_EQ(library.Model3_Load(-1, ""), -1);
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, platform::Utf8ToCp932("ファイル名が指定されていません。"));
  std::string missing = platform::LibraryPath(dir / "missing.wzp");
  ModelId id = library.Model3_Create();
  EXPECT_EQ(library.Model3_Load(id, missing), -1);
  EXPECT_EQ(lines.back(), missing + platform::Utf8ToCp932(" を開くことができませんでした。"));
  EXPECT_EQ(library.Model3_Get(id)->released.Get(), 1);
}

TEST(ModelBounds, BoxesCentresAndShading) {
  RecordingModelHost host;
  NewModelOptions options;
  auto model = CreateModel(options);
  Model& m = *model;
  GrowPositionPools(m, 3);
  m.positionCount = 3;
  m.positions[0] = {1, 2, 3};
  m.positions[1] = {-1, 5, 0};
  m.positions[2] = {4, -2, 1};
  GrowTo(m.polygons, 1);
  m.polygonCount = 1;
  m.polygons[0].cornerCount = 3;
  m.polygons[0].corners[0].position = 1;
  m.polygons[0].corners[1].position = 2;
  m.polygons[0].corners[2].position = 1;
  m.polygons[0].group = 0;
  GrowTo(m.groups, 2, NewGroup());
  m.groupCount = 2;
  m.groups[1].bumpMapOn = 1;
  m.groups[1].bumpMapSlot = 2;
  m.groups[0].secondMapOn = 1;
  m.groups[0].secondMapSlot = 3;
  ComputeBoundsAndShading(m, false);
  EXPECT_EQ(m.boundsMin.x, -1.0f);
  EXPECT_EQ(m.boundsMax.y, 5.0f);
  EXPECT_EQ(m.groups[0].centre.x, 1.5f);  // (-1 + 4) / 2 over positions 1 and 2 only
  EXPECT_EQ(m.groups[0].centre.y, 1.5f);
  EXPECT_EQ(m.groups[1].centre.x, 0.0f);
  EXPECT_EQ(m.shadingMode, 8);  // both switches: 8 wins
  m.groups[0].secondMapOn = 0;
  ComputeBoundsAndShading(m, false);
  EXPECT_EQ(m.shadingMode, 6);
  m.groups[1].bumpMapSlot = 0;  // a switch with slot 0 selects nothing
  m.shadingMode = 2;
  ComputeBoundsAndShading(m, true);
  EXPECT_EQ(m.shadingMode, 2);
}

TEST_F(ModelManager, MotionSetStepsAndTransition) {
  ModelId id = library.Model3_Create();
  Model* m = library.Model3_Get(id);
  EXPECT_FALSE(library.Model3_MotionSet(nullptr, 0, 0));
  EXPECT_FALSE(library.Model3_MotionSet(m, -1, 0));
  EXPECT_FALSE(library.Model3_MotionSet(m, int32_t(m->motions.size()), 0));
  m->motions.push_back(m->motions[0]);
  m->currentFrame = 17;
  ASSERT_TRUE(library.Model3_MotionSet(m, 1, 0.5f));
  const MotionTransition& t = library.Model3_Runtime(id)->transition;
  EXPECT_FLOAT_EQ(t.step, 1.0f / 30.0f);
  EXPECT_EQ(t.previousFrame, 17);
  EXPECT_EQ(t.targetMotion, 1);
  EXPECT_EQ(m->currentMotion, 1);
  EXPECT_EQ(m->currentFrame, 0);
  EXPECT_EQ(m->deformOn, 1);
  EXPECT_FALSE(library.Model3_MotionSet(m, 1, 0.5f));  // same motion while fading
  ASSERT_TRUE(library.Model3_MotionSet(m, 0, -2.0f));
  EXPECT_FLOAT_EQ(t.step, 1.0f);
}

TEST_F(ModelManager, BackgroundLoadsInSubmissionOrder) {
  std::string cwd = platform::LibraryPath(dir.path());
  File("a.none");
  File("b.none");
  library.Loader().HoldForTesting(true);
  ModelId a = library.Model3_Create();
  ModelId b = library.Model3_Create();
  ASSERT_TRUE(library.LoaderSubmit(a, cwd, "a.none"));
  ASSERT_TRUE(library.LoaderSubmit(b, cwd, "b.none"));
  library.Loader().HoldForTesting(false);
  ASSERT_TRUE(library.LoaderWait(b));
  EXPECT_TRUE(library.Model3_IsLoaded(a));  // the first request was done before the second
  EXPECT_EQ(library.Model3_Get(b)->fullPath.View(), cwd + "\\b.none");
  EXPECT_EQ(library.Model3_Get(b)->fileName.View(), "b.none");
}

TEST_F(ModelManager, BackgroundLoadThroughTheCurrentDirectory) {
  wz::testing::CurrentDirectoryGuard guard;
  File("m.none");
  std::filesystem::current_path(dir.path());
  ModelId id = library.Model3_LoadInBackground("m.none");
  ASSERT_EQ(id, 0);
  EXPECT_TRUE(library.Model3_IsLoaded(id));
  // A file that is not there queues nothing; the created slot stays with the defaults.
  EXPECT_EQ(library.Model3_LoadInBackground("absent.none"), -1);
  EXPECT_EQ(library.ModelSlotCount(), 2u);
  EXPECT_FALSE(library.Model3_IsLoaded(1));
}

TEST_F(ModelManager, WaitEndsWhenTheFileVanishesOrTheLoaderStopped) {
  std::string cwd = platform::LibraryPath(dir.path());
  File("gone.none");
  library.Loader().HoldForTesting(true);
  ModelId id = library.Model3_Create();
  ASSERT_TRUE(library.LoaderSubmit(id, cwd, "gone.none"));
  std::filesystem::remove(dir / "gone.none");
  library.Loader().HoldForTesting(false);
  EXPECT_FALSE(library.LoaderWait(id));
  EXPECT_EQ(library.Model3_Get(id)->released.Get(), 1);

  // After the loader stopped, nothing would ever process a request: it is refused.
  File("late.none");
  library.Loader().Stop();
  ModelId late = library.Model3_Create();
  EXPECT_FALSE(library.LoaderSubmit(late, cwd, "late.none"));
  EXPECT_FALSE(library.LoaderWait(late));
  EXPECT_EQ(library.Model3_LoadInBackground("late.none"), -1);
  EXPECT_FALSE(library.LoaderWait(-1));
}

TEST_F(ModelManager, RunningOutOfMemoryIsARefusalOnEitherThread) {
  // A sound document of a million vertices needs more memory than the ceiling leaves.
  std::string doc = "Metasequoia Document\r\nFormat Text Ver 1.0\r\nObject \"o\" {\r\n";
  for (int block = 0; block < 8; ++block) {
    doc += "\tvertex 125000 {\r\n";
    for (int i = 0; i < 125000; ++i)
      doc += "\t\t1 2 3\r\n";
    doc += "\t}\r\n";
  }
  doc += "\tface 1 {\r\n\t\t3 V(0 1 2)\r\n\t}\r\n}\r\nEof\r\n";
  const std::string path = File("big.mqo", doc);
  auto refusals = [&] {
    return std::count(lines.begin(), lines.end(),
                      "*** LoadError *** " + path + " : not enough memory to read it");
  };
  wz::testing::CurrentDirectoryGuard guard;
  std::filesystem::current_path(dir.path());
  const ModelId slot = library.Model3_Create();  // the slots exist before the ceiling
  library.Model3_Release(slot);
  ModelId direct = -1, background = -1;
  {
    // The file is read into pages of its own, which the ceiling does not count; what the
    // reader builds from a million vertices (12 bytes each) does not fit in the file's size.
    wz::testing::AllocationCeiling ceiling(doc.size());
    // On this thread: a refusal, and a sound empty model that is loaded.
    direct = library.Model3_Load(-1, path);
    // On the loader thread: the same, and the wait ends.
    library.Model3_Release(direct);
    background = library.Model3_LoadInBackground("big.mqo");
    EXPECT_TRUE(ceiling.Reached());
  }
  ASSERT_GE(direct, 0);
  EXPECT_EQ(background, direct);
  EXPECT_EQ(refusals(), 2);
  EXPECT_TRUE(library.Model3_IsLoaded(background));
  EXPECT_EQ(library.Model3_Get(background)->polygonCount, 0);
  EXPECT_FALSE(CheckModelInvariants(*library.Model3_Get(background)).has_value());
  EXPECT_EQ(library.Model3_Get(background)->capacityPools, 0);

  // A preallocated slot keeps its polygon cut after the refusal, though not its pools.
  library.Model3_Release(background);
  library.SetPreallocateNext(true);
  ModelId cut = -1;
  {
    wz::testing::AllocationCeiling ceiling(doc.size());
    cut = library.Model3_Load(-1, path);
  }
  ASSERT_GE(cut, 0);
  EXPECT_EQ(refusals(), 3);
  EXPECT_EQ(library.Model3_Get(cut)->capacityPools, 1);
}

TEST_F(ModelManager, LoaderThreadLogsAndResetsTheClockWhileTheMainThreadDoes) {
  // Run under ThreadSanitizer in CI: the loader thread's refusal lines and frame-clock resets
  // meet the main thread's own. Every line arrives whole and is counted.
  const std::string cwd = platform::LibraryPath(dir.path());
  File("bad.mqo", "not a document");
  std::vector<ModelId> ids;
  for (int i = 0; i < 20; ++i) {
    ids.push_back(library.Model3_Create());
    ASSERT_TRUE(library.LoaderSubmit(ids.back(), cwd, "bad.mqo"));
  }
  for (int i = 0; i < 200; ++i) {
    library.Log("main %d", i);
    library.ResetFrameClock();
  }
  for (ModelId id : ids)
    EXPECT_TRUE(library.LoaderWait(id));
  const size_t refusals = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("not a Metasequoia document") != std::string::npos;
  });
  EXPECT_EQ(refusals, 20u);
  EXPECT_EQ(library.LogLineIndex(), int32_t(lines.size()));
  EXPECT_GE(lines.size(), 220u);
  EXPECT_EQ(library.FrameTimeAccumulator(), 0.0);
}

TEST_F(ModelManager, ExtensionPicksTheReaderWhateverItsCase) {
  // One square written as LWOB, then loaded under three spellings of the extension.
  NewModelOptions options;
  auto square = CreateModel(options);
  GrowPositionPools(*square, 4);
  square->positionCount = 4;
  const Vec3 corners[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  for (int i = 0; i < 4; ++i)
    square->positions[size_t(i)] = corners[i];
  GrowTo(square->polygons, 1);
  square->polygonCount = 1;
  square->polygons[0].cornerCount = 4;
  for (int i = 0; i < 4; ++i)
    square->polygons[0].corners[size_t(i)].position = i;
  RecordingModelHost host;
  for (const char* name : {"sq.lwo", "SQ.LWO", "a.b.Lwo"}) {
    std::string path = platform::LibraryPath(dir / name);
    ASSERT_EQ(SaveLwo(host, *square, path), 1);
    ModelId id = library.Model3_Load(-1, path);
    ASSERT_TRUE(library.Model3_IsLoaded(id));
    const Model* m = library.Model3_Get(id);
    EXPECT_EQ(m->polygonCount, 1) << name;
    EXPECT_FLOAT_EQ(m->boundsMax.x, 1.0f) << name;  // positions read back at scale 1
    EXPECT_FLOAT_EQ(m->groups[size_t(m->polygons[0].group)].centre.y, 0.5f) << name;
  }
}

TEST_F(ModelManager, WzpRoundTripThroughTheLibraryLoadsItsTextures) {
  // A model whose texture slot 1 names wood.bmp beside the file, saved and loaded back in the
  // background as the converter does.
  const uint8_t grey[8 * 2 * 4] = {0x40};
  auto bmp = d3dx::EncodeBmp32(8, 2, grey, 32);
  wz::testing::WriteFile(dir / "wood.bmp", std::string(bmp.begin(), bmp.end()));
  ModelId id = library.Model3_Create();
  Model* m = library.Model3_Get(id);
  GrowTo(m->textureSlots, 2);
  m->textureSlotCount = 2;
  m->textureSlots[1].state = 1;
  m->textureSlots[1].fileName.Set("wood.bmp");
  std::string path = platform::LibraryPath(dir / "m.wzp");
  ASSERT_TRUE(library.Model3_Save(m, path));
  wz::testing::CurrentDirectoryGuard guard;
  std::filesystem::current_path(dir.path());
  library.Model3_Release(id);
  ModelId loaded = library.Model3_LoadInBackground("m.wzp");
  ASSERT_GE(loaded, 0);
  const Model* back = library.Model3_Get(loaded);
  EXPECT_EQ(back->textureSlots[1].width, 8);
  EXPECT_EQ(back->textureSlots[1].height, 2);
  EXPECT_NE(library.Model3_Runtime(loaded)->textures[1], nullptr);
}

TEST_F(ModelManager, ModelTexturesGoToTheirSlot) {
  ModelId id = library.Model3_Create();
  Model* m = library.Model3_Get(id);
  GrowTo(m->textureSlots, 3);
  m->textureSlotCount = 3;
  library.Model3_Load(id, File("t.none"));  // syncs the runtime lists to three slots
  const uint8_t white[8 * 4 * 4] = {0xFF};
  auto bmp = d3dx::EncodeBmp32(8, 4, white, 32);
  std::string path = File("t.bmp", std::string(bmp.begin(), bmp.end()));
  library.ModelTexture_Load(id, 2, path);
  EXPECT_EQ(m->textureSlots[2].width, 8);
  EXPECT_EQ(m->textureSlots[2].height, 4);
  ASSERT_NE(library.Model3_Runtime(id)->textures[2], nullptr);
  for (int32_t slot : {-1, 3, 256})
    library.ModelTexture_Load(id, slot, path);
  EXPECT_EQ(library.Model3_Runtime(id)->textures.size(), 3u);
  EXPECT_EQ(m->textureSlots[0].width, 0);
}

// Textures a model names that are no regular file, or too large, or outside the confinement are
// refused without reading them: a FIFO would block the load and /dev/zero would never end. Each
// leaves its slot empty, logs the reason and then the usual line, and the model loads. A load
// runs in a child process under a time limit; the library lives only in the child, since a
// process forked while another thread (the loader) allocates may inherit the allocator locked.
TEST(ModelTextureFiles, AreReadOnlyAsRegularFilesWithinTheCap) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero.png");
  const uint8_t white[8 * 4 * 4] = {0xFF};
  const auto bmp = d3dx::EncodeBmp32(8, 4, white, 32);
  wz::testing::WriteFile(dir / "big.bmp", std::string(bmp.begin(), bmp.end()));
  TempDir elsewhere;
  wz::testing::WriteFile(elsewhere / "out.bmp", std::string(bmp.begin(), bmp.end()));
  std::filesystem::create_symlink(elsewhere / "out.bmp", dir / "out.bmp");
  wz::testing::CurrentDirectoryGuard guard;
  std::filesystem::current_path(dir.path());  // the reader names textures beside the model
  struct Case {
    const char* texture;
    const char* reason;
    size_t cap;  // 0: the default
    std::string confineTo;
  } cases[] = {
      {"fifo.png", "not a regular file", 0, ""},
      {"zero.png", "not a regular file", 0, ""},
      {"big.bmp", "larger than 256 MB", bmp.size() - 1, ""},
      {"out.bmp", "outside the model's folder", 0, platform::LibraryPath(dir.path())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texture);
    std::string mqo = wz::testing::kMqoCube;
    mqo.insert(mqo.find("dif(0.800)") + 10, std::string(" tex(\"") + c.texture + "\")");
    wz::testing::WriteFile(dir / "m.mqo", mqo);
    const std::string model = platform::LibraryPath(dir / "m.mqo");
    const auto result = wz::testing::RunWithTimeout(10, [&] {
      std::vector<std::string> lines;  // outlives the library, which logs its teardown
      Library library;
      library.AttachLogSink([&](const std::string& l) { lines.push_back(l); });
      library.Host().namedFiles.maxBytes = c.cap ? c.cap : platform::kMaxNamedFileBytes;
      library.Host().namedFiles.confineTo = c.confineTo;
      const ModelId id = library.Model3_Load(-1, model);
      if (id < 0 || library.Model3_Get(id)->polygonCount != 6) return 1;
      if (library.Model3_Runtime(id)->textures.at(1) != nullptr) return 2;
      if (library.Model3_Get(id)->textureSlots[1].width != 0) return 3;
      const std::string reason = std::string("*** LoadError *** ") + c.texture + " : " + c.reason;
      const std::string usual = std::string("*** ERROR *** ") + c.texture +
                                platform::Utf8ToCp932(" Loadできませんでした。");
      const auto at = std::find(lines.begin(), lines.end(), reason);
      return at != lines.end() && at + 1 != lines.end() && at[1] == usual ? 0 : 4;
    });
    EXPECT_EQ(result.outcome, wz::testing::ChildOutcome::kFinished);
    EXPECT_EQ(result.exitCode, 0);
  }
}

}  // namespace
}  // namespace wz
