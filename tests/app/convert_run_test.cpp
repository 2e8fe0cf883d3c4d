// A run of conversions as a user meets it: nothing the run read or did not make is replaced, the
// images follow the model, what a format cannot hold is said, folders and several processors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/model_export.h"
#include "formats/targets.h"
#include "model/model.h"
#include "model/model_host.h"
#include "model/model_summary.h"
#include "model/wzp.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::ReadFile;
using wz::testing::TempDir;
using wz::testing::WriteFile;

const std::string kProgram = std::string(WZ_BIN_DIR) + "/wz-convert";

// A quad per texture name, each in a material of its own showing that texture.
std::string TexturedMqo(std::vector<std::string> textures) {
  if (textures.empty()) textures.push_back("");  // one quad in a material without a texture
  std::string s = "Metasequoia Document\r\nFormat Text Ver 1.0\r\nMaterial " +
                  std::to_string(textures.size()) + " {\r\n";
  for (size_t i = 0; i < textures.size(); ++i)
    s += "\t\"m" + std::to_string(i) + "\" col(1.000 1.000 1.000 1.000)" +
         (textures[i].empty() ? "" : " tex(\"" + textures[i] + "\")") + "\r\n";
  s += "}\r\nObject \"o\" {\r\n\tvertex 4 {\r\n\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t10 10 0\r\n"
       "\t\t0 10 0\r\n\t}\r\n\tface " +
       std::to_string(textures.size()) + " {\r\n";
  for (size_t i = 0; i < textures.size(); ++i)
    s += "\t\t4 V(0 1 2 3) M(" + std::to_string(i) + ") UV(0 0 1 0 1 1 0 1)\r\n";
  return s + "\t}\r\n}\r\nEof\r\n";
}

// A 2 x 2 PNG of one colour.
std::string Png(uint8_t grey) {
  const uint8_t bgra[16] = {grey, grey, grey, 255, grey, grey, grey, 255,
                            grey, grey, grey, 255, grey, grey, grey, 255};
  std::vector<uint8_t> out;
  EXPECT_TRUE(exchange::EncodePng(bgra, 2, 2, out));
  return std::string(out.begin(), out.end());
}

struct Streams {
  int exitCode;
  std::string out, err;
};

struct ConvertRun_ : ::testing::Test {
  Streams Run(const std::string& arguments) {
    auto r = wz::testing::RunProgram("(cd " + dir.path() + " && " + kProgram + " " + arguments +
                                     " >" + (dir / ".out") + " 2>" + (dir / ".err") + ")");
    Streams s{r.exitCode, ReadFile(dir / ".out"), ReadFile(dir / ".err")};
    std::filesystem::remove(dir / ".out");
    std::filesystem::remove(dir / ".err");
    return s;
  }
  TempDir dir;
};

// Every way an output could replace a file the run did not make: each is skipped with a line
// that names that file, the file keeps its bytes, and the exit code says so.
TEST_F(ConvertRun_, NothingTheRunReadOrDidNotMakeIsReplaced) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // written before the run
    std::string arguments;
    std::string kept;      // a file that must keep its bytes
    std::string expected;  // in standard error
  } cases[] = {
      {"a texture named like the glTF's buffer",
       {{"m.mqo", TexturedMqo({"m.bin"})}, {"m.bin", Png(10)}},
       "--to gltf m.mqo",
       "m.bin",
       "m.mqo: skipped: the output " + (dir / "m.bin") + " would replace " + (dir / "m.bin") +
           ", which this run reads"},
      {"a file whose name differs only by case",
       {{"model.mqo", TexturedMqo({})}, {"model.x", "theirs"}},
       "--to x model.mqo",
       "model.x",
       "model.mqo: skipped: the output " + (dir / "model.X") + " would replace " +
           (dir / "model.x") + " (the names differ only by case)"},
      {"two inputs with one output",
       {{"a/one.mqo", TexturedMqo({})}, {"b/one.mqo", TexturedMqo({"t.png", "u.png"})}},
       "-o out a/one.mqo b/one.mqo",
       "",
       "b/one.mqo: skipped: its output " + (dir / "out/one.WZP") + " is also the output of " +
           (dir / "a/one.mqo")},
      {"two formats of one name in one folder",
       {{"a.mqo", TexturedMqo({})}, {"a.dxf", "0\nSECTION\n"}},
       "--to lwo a.mqo a.dxf",
       "",
       "a.dxf: skipped: its output " + (dir / "a.LWO") + " is also the output of " +
           (dir / "a.mqo")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    for (const auto& [name, bytes] : c.files) {
      std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
      WriteFile(dir / name, bytes);
    }
    const std::string before = c.kept.empty() ? "" : ReadFile(dir / c.kept);
    Streams r = Run(c.arguments);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    if (!c.kept.empty()) {
      EXPECT_EQ(ReadFile(dir / c.kept), before);
    }
  }
  // The first of two inputs with one output is converted.
  EXPECT_TRUE(std::filesystem::exists(dir / "a.LWO"));
}

// Converted elsewhere, a model still shows its textures: the images go where the output looks
// for them, copied, or as BMP for MX; a different file of the same name is never replaced.
TEST_F(ConvertRun_, ImagesFollowTheModel) {
  std::filesystem::create_directories(dir / "models");
  WriteFile(dir / "models/m.mqo", TexturedMqo({"t.png", "u.png"}));
  WriteFile(dir / "models/t.png", Png(50));
  WriteFile(dir / "models/u.png", Png(90));
  std::filesystem::create_directories(dir / "out");
  WriteFile(dir / "out/u.png", "someone else's");
  for (const char* to : {"x", "wzp", "mx"}) {
    SCOPED_TRACE(to);
    Streams r = Run(std::string("--to ") + to + " -o out models/m.mqo");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The output, read back, finds every texture it names.
    const std::string out = std::string("out/m.") + (to[0] == 'x'   ? "X"
                                                     : to[0] == 'w' ? "WZP"
                                                                    : "MX");
    Streams info = Run("info " + out);
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("2 textures"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("cannot be loaded"), std::string::npos) << info.out;
  }
  // Copied, or renamed beside a stranger's file of the same name; MX's as BMP.
  EXPECT_EQ(ReadFile(dir / "out/t.png"), Png(50));
  EXPECT_EQ(ReadFile(dir / "out/u.png"), "someone else's");
  EXPECT_EQ(ReadFile(dir / "out/u_2.png"), Png(90));
  EXPECT_EQ(ReadFile(dir / "out/t.bmp").substr(0, 2), "BM");
  EXPECT_EQ(ReadFile(dir / "out/u.bmp").substr(0, 2), "BM");
  // Beside the input nothing needs to move.
  Streams r = Run("--to x models/m.mqo");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "models/u_2.png"));
}

// Images of one name from two folders, or without an extension, take names of their own; a
// failed write leaves none of the images it placed behind.
TEST_F(ConvertRun_, ImageNamesNeverCrashOrLinger) {
  WriteFile(dir / "m.obj",
            "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nusemtl a\nf 1/1 2/1 3/1\n"
            "usemtl b\nf 1/1 3/1 2/1\n");
  WriteFile(dir / "m.mtl", "newmtl a\nmap_Kd a/tex\nnewmtl b\nmap_Kd b/tex\n");
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  WriteFile(dir / "a/tex", Png(1));
  WriteFile(dir / "b/tex", Png(2));
  Streams r = Run("--to gltf -o out m.obj");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "out/tex"), Png(1));
  EXPECT_EQ(ReadFile(dir / "out/tex_2"), Png(2));
  // A texture named as the run's own buffer file takes another name.
  WriteFile(dir / "n.mqo", TexturedMqo({"n.bin"}));
  WriteFile(dir / "n.bin", Png(4));
  r = Run("--to gltf -o out n.mqo");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "out/n_2.bin"), Png(4));
  EXPECT_NE(ReadFile(dir / "out/n.bin"), Png(4));
  // The buffer cannot be written (a folder has its name): nothing of the output stays.
  std::filesystem::create_directories(dir / "fail/m.bin");
  r = Run("--to gltf -o fail m.obj");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "fail/tex")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "fail/m.gltf"));
  // A name near the file system's limit still gets its temporary file.
  const std::string longName(245, 'n');
  WriteFile(dir / (longName + ".mqo"), TexturedMqo({}));
  r = Run("--to gltf " + longName + ".mqo");
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

// What a format cannot hold is counted on the file's line; a static model has no bones.
TEST_F(ConvertRun_, WhatTheTargetCannotHoldIsSaid) {
  WriteFile(dir / "m.mqo", TexturedMqo({"t.png"}));
  WriteFile(dir / "t.png", Png(7));
  Streams r = Run("--to lwo m.mqo");
  EXPECT_EQ(r.out, "m.mqo -> " + (dir / "m.LWO") + " (dropped: 1 texture)\n") << r.err;
  r = Run("--to obj m.mqo");
  EXPECT_EQ(r.out, "m.mqo -> " + (dir / "m.obj") + "\n") << r.err;
  r = Run("info --json m.mqo");
  EXPECT_NE(r.out.find("\"bones\":0,\"motions\":0"), std::string::npos) << r.out;

  // Each format against a model that holds everything.
  auto m = CreateModel({});
  m->boneCount = 4;
  m->bones[2].name.Set("arm");
  m->motions.resize(2);
  m->motions[1].tracks[0].keyCount = 1;
  m->vertexColoursOn = 1;
  m->colourCount = 1;
  m->colours.resize(1);
  m->polygons.resize(1);
  m->polygons[0].cornerCount = 2;
  m->polygonCount = 1;
  const ModelSummary s = Summarise(*m);
  const std::pair<int, std::vector<std::string>> expected[] = {
      {0, {}},
      {1, {"4 bones", "2 motions", "1 group track", "vertex colours"}},
      {2, {"4 bones", "2 motions", "1 group track", "vertex colours"}},
      {3, {"4 bones", "2 motions", "1 group track", "1 line or point"}},
      {6, {"4 bones", "2 motions", "1 group track", "vertex colours", "1 line or point"}},
  };
  for (const auto& [target, dropped] : expected) {
    std::vector<std::string> said;
    for (const DroppedItem& item : Dropped(*m, s, *TargetFormatOf(target)))
      said.push_back(item.Text());
    EXPECT_EQ(said, dropped) << TargetFormatOf(target)->name;
  }
  // And counted by kind in JSON.
  r = Run("--json --to lwo m.mqo");
  EXPECT_EQ(r.out, "{\"file\":\"m.mqo\",\"status\":\"converted\",\"output\":\"" + (dir / "m.LWO") +
                       "\",\"dropped\":{\"textures\":1}}\n");
}

// A folder converts file by file with -r, its subfolders mirrored under -o; several files
// convert at once with their lines in the order of the inputs, and the options may stand on
// either side of the verb.
TEST_F(ConvertRun_, FoldersProcessorsAndOptionsAnywhere) {
  std::filesystem::create_directories(dir / "lib/sub/deep");
  const char* models[] = {"lib/a.mqo", "lib/sub/b.mqo", "lib/sub/deep/c.mqo", "lib/z.mqo"};
  for (const char* m : models)
    WriteFile(dir / m, TexturedMqo({}));
  WriteFile(dir / "lib/notes.txt", "not a model");
  Streams one = Run("-r -j 1 -o out1 lib");
  Streams four = Run("lib -o out4 --jobs=4 --recursive");
  ASSERT_EQ(four.exitCode, 0) << four.err;
  EXPECT_EQ(four.err, "");
  std::string expected;
  for (const char* m : models) {
    std::string rel = std::string(m).substr(4);
    rel = rel.substr(0, rel.size() - 4) + ".WZP";
    expected += std::string(m) + " -> " + (dir / ("out4/" + rel)) + "\n";
    EXPECT_EQ(ReadFile(dir / ("out1/" + rel)), ReadFile(dir / ("out4/" + rel))) << rel;
  }
  EXPECT_EQ(four.out, expected);
  // Without -r a folder is refused with a hint; without -o the outputs stand beside the inputs.
  EXPECT_NE(Run("lib").err.find("-r converts the models in it"), std::string::npos);
  EXPECT_EQ(Run("-r lib").exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "lib/sub/deep/c.WZP"));
  // Global options before the verb.
  Streams info = Run("--verbose info --json lib/a.mqo");
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(info.out.rfind("{\"file\":\"lib/a.mqo\"", 0), 0u) << info.out;
}

// Names from files never reach the terminal as control characters, and JSON stays JSON
// whatever bytes a file name holds.
TEST_F(ConvertRun_, NamesAreShownSafely) {
  WriteFile(dir / "m.mqo", TexturedMqo({"\x1b[2J.png"}));
  Streams r = Run("--to lwo m.mqo");
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\x1B[2J.png cannot be loaded"), std::string::npos) << r.out;
  WriteFile(dir / "raw\xff.mqo", TexturedMqo({}));
  r = Run("info --json 'raw\xff.mqo'");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"file\":\"raw\\udcff.mqo\"", 0), 0u) << r.out;
}

// Files a model names may lie anywhere, but with --confine only the model's folder and below
// are read.
TEST_F(ConvertRun_, ConfineKeepsReadsInTheModelsFolder) {
  std::filesystem::create_directories(dir / "models");
  WriteFile(dir / "models/m.obj",
            "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nusemtl a\n"
            "f 1/1 2/1 3/1\n");
  WriteFile(dir / "models/m.mtl", "newmtl a\nmap_Kd ../secret.png\n");
  WriteFile(dir / "secret.png", Png(3));
  Streams r = Run("--confine --to gltf -o out models/m.obj");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("secret.png cannot be loaded"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "out/secret.png"));
  r = Run("--to gltf -o out2 models/m.obj");
  EXPECT_EQ(ReadFile(dir / "out2/secret.png"), Png(3)) << r.out << r.err;
}

// A model holding everything, through every writer: what the output holds when read back is what
// the model held, less what the file's line says was dropped.
TEST_F(ConvertRun_, RoundTripsKeepWhatTheLineDoesNotDrop) {
  auto m = CreateModel({});
  GrowPositionPools(*m, 4);
  m->positionCount = 4;
  m->positions[1] = {10, 0, 0};
  m->positions[2] = {10, 10, 0};
  m->positions[3] = {0, 10, 0};
  m->colours.resize(4);
  m->colourCount = 4;
  for (int i = 0; i < 4; ++i)
    m->colours[size_t(i)] = {float(60 * i), 100, 200, 255};
  m->vertexColoursOn = 1;
  m->groups.assign(2, NewGroup());
  m->groupCount = 2;
  m->groups[1].colour = {20, 200, 20, 255};
  m->textureSlots.resize(3);
  m->textureSlotCount = 3;
  for (int t = 1; t <= 2; ++t) {
    m->textureSlots[size_t(t)].state = 1;
    m->textureSlots[size_t(t)].fileName.Set("t" + std::to_string(t) + ".png");
    m->groups[size_t(t - 1)].textureSlot = t;
    WriteFile(dir / ("t" + std::to_string(t) + ".png"), Png(uint8_t(40 * t)));
  }
  m->polygons.resize(2);
  for (int p = 0; p < 2; ++p) {
    Polygon& polygon = m->polygons[size_t(p)];
    polygon.cornerCount = 3;
    polygon.group = p;
    for (int c = 0; c < 3; ++c)
      polygon.corners[size_t(c)] = {p == 0 ? c : (c == 0 ? 0 : c + 1), 0, p == 0 ? c : c + 1, 0};
  }
  m->polygonCount = 2;
  m->boneCount = 4;
  m->bones[3].name.Set("arm");
  m->motions.push_back(NewMotion());
  m->motions[1].name.Set("walk");
  for (Bone& bone : m->bones)
    bone.keyLists.assign(2, std::vector<BoneKey>{kRestKey});
  RecordingModelHost host;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(SaveWzpToMemory(host, *m, "\\m.wzp", bytes)) << host.lines.front();
  WriteFile(dir / "m.wzp", std::string(bytes.begin(), bytes.end()));

  // What info --json says of a file: groups, textures, colours, bones, motions.
  auto counts = [&](const std::string& file) {
    const std::string json = Run("info --json " + file).out;
    auto number = [&](const std::string& key) {
      const size_t at = json.find("\"" + key + "\":");
      return at == std::string::npos ? -1 : std::atoi(json.c_str() + at + key.size() + 3);
    };
    size_t textures = 0;
    for (size_t at = 0; (at = json.find("{\"state\":1", at)) != std::string::npos; ++at)
      ++textures;
    size_t groups = 0;
    for (size_t at = 0; (at = json.find("\"texture_slot\":", at)) != std::string::npos; ++at)
      ++groups;
    return std::vector<int>{int(groups), int(textures), number("colours") > 0, number("bones"),
                            number("motions")};
  };
  const std::vector<int> before = counts("m.wzp");
  ASSERT_EQ(before, (std::vector<int>{2, 2, 1, 4, 2}));
  const char* words[] = {"group", "texture", "vertex colours", "bone", "motion"};
  for (const char* to : {"wzp", "lwo", "mx", "x", "obj"}) {
    SCOPED_TRACE(to);
    Streams r = Run(std::string("--to ") + to + " -o " + to + " m.wzp");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = r.out.substr(r.out.find(" -> ") + 4);
    const std::string written = out.substr(0, out.find_first_of(" \n"));
    const std::vector<int> after = counts("'" + written + "'");
    if (std::string(to) == "lwo") {
      EXPECT_NE(r.out.find("(dropped: 4 bones, 2 motions, 2 textures, vertex colours)"),
                std::string::npos)
          << r.out;
    }
    for (size_t i = 0; i < before.size(); ++i) {
      // A count that went down is named on the line (an LWO surface per colour merges groups
      // only when their colours agree, which they do not here).
      if (after[i] < before[i]) {
        EXPECT_NE(r.out.find(words[i]), std::string::npos) << words[i] << ": " << r.out;
      }
    }
  }
}

}  // namespace
}  // namespace wz
