// The wz-convert program run as a user runs it, on files the test writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "formats/formats.h"
#include "formats/lwo_test_files.h"
#include "model/model_host.h"
#include "model/wzp.h"
#include "platform/file_io.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::ProgramResult;
using wz::testing::RunProgram;
using wz::testing::TempDir;

const std::string kProgram = std::string(WZ_BIN_DIR) + "/wz-convert";

const std::string kMqo =
    "Metasequoia Document\r\nFormat Text Ver 1.0\r\nObject \"o\" {\r\n\tvertex 4 {\r\n"
    "\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t10 10 0\r\n\t\t0 10 0\r\n\t}\r\n\tface 2 {\r\n"
    "\t\t3 V(0 1 2)\r\n\t\t3 V(0 2 3)\r\n\t}\r\n}\r\nEof\r\n";

struct ConvertProgram : ::testing::Test {
  ProgramResult Convert(const std::string& arguments) {
    return RunProgram("cd " + dir.path() + " && " + kProgram + " " + arguments);
  }
  TempDir dir;
};

TEST_F(ConvertProgram, ConvertsEveryReadableFormatAndTheOutputsLoadAgain) {
  wz::testing::WriteFile(dir / "a.mqo", kMqo);
  // The X fixture comes from the X writer, through the MQO reader's model.
  ASSERT_EQ(Convert("--to x a.mqo").exitCode, 0);
  std::filesystem::rename(dir / "a.X", dir / "d.x");
  std::vector<std::string> inputs = {"a.mqo", "d.x"};
  // Readers that are not in the load dispatch yet refuse nothing and read nothing; their
  // fixtures join the list when they are registered.
  auto r = Convert("--to lwo " + inputs[0] + " " + inputs[1]);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (const char* out : {"a.LWO", "d.LWO"}) {
    EXPECT_NE(r.output.find(dir / out), std::string::npos) << r.output;
    auto info = Convert(std::string("info --json ") + out);
    EXPECT_EQ(info.exitCode, 0) << info.output;
    EXPECT_NE(info.output.find("\"polygons\":2"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("\"triangles\":2"), std::string::npos) << info.output;
  }
}

// A ROK triangle: three points, three edges, one face of palette -1, the palette section.
std::string RokTriangle() {
  std::vector<std::string> l = {"ROKKAKU 5.25", "POINT"};
  const char* points[3][3] = {{"0", "0", "0"}, {"1", "0", "0"}, {"0", "1", "0"}};
  for (int i = 0; i < 3; ++i)
    l.insert(l.end(),
             {std::to_string(i + 1), "0", "0", "0", "0", points[i][0], points[i][1], points[i][2]});
  l.insert(l.end(), {"LINE0", "1", "2", "0", "0", "2", "3", "0", "0", "3", "1", "0", "0"});
  l.insert(l.end(), {"FACE0", "3", "-1", "1", "1", "2", "3"});
  l.insert(l.end(), {"END00", "misc", "PALC0", "13", "0"});
  for (int i = 0; i < 13 * 7; ++i)
    l.push_back("0");
  l.insert(l.end(), {"ENDP0", "tail"});
  std::string text;
  for (const std::string& line : l)
    text += line + "\r\n";
  return text;
}

// A DXF square as one 3DFACE.
std::string DxfSquare() {
  std::string s = "  0\nSECTION\n  2\nENTITIES\n  0\n3DFACE\n  8\nLAYER0\n";
  const float c[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  for (int n = 0; n < 4; ++n)
    for (int axis = 0; axis < 3; ++axis)
      s += std::to_string(10 * (axis + 1) + n) + "\n" + std::to_string(c[n][axis]) + "\n";
  return s + "  0\nENDSEC\n  0\nEOF\n";
}

TEST_F(ConvertProgram, AllSevenFormatsConvertToLwoAndLoadAgain) {
  wz::testing::WriteFile(dir / "a.mqo", kMqo);
  wz::testing::WriteFile(dir / "b.rok", RokTriangle());
  wz::testing::WriteFile(dir / "c.dxf", DxfSquare());
  // The X, MX and WZP inputs are written by the converter itself from the MQO model.
  for (const char* to : {"x", "mx", "wzp"}) {
    auto made = Convert(std::string("--to ") + to + " a.mqo");
    ASSERT_EQ(made.exitCode, 0) << made.output;
  }
  std::filesystem::rename(dir / "a.X", dir / "d.x");
  std::filesystem::rename(dir / "a.MX", dir / "e.mx");
  std::filesystem::rename(dir / "a.WZP", dir / "f.wzp");
  auto r = Convert("--to lwo a.mqo b.rok c.dxf d.x e.mx f.wzp");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::pair<const char*, int> outputs[] = {{"a.LWO", 2}, {"b.LWO", 1}, {"c.LWO", 1},
                                                 {"d.LWO", 2}, {"e.LWO", 2}, {"f.LWO", 2}};
  for (const auto& [out, polygons] : outputs) {
    auto info = Convert(std::string("info --json ") + out);
    EXPECT_EQ(info.exitCode, 0) << out << "\n" << info.output;
    EXPECT_NE(info.output.find("\"polygons\":" + std::to_string(polygons) + ","), std::string::npos)
        << out << "\n"
        << info.output;
  }
}

TEST_F(ConvertProgram, DroppedLwoBecomesWzpBesideIt) {
  wz::testing::WriteFile(dir / "chair.mqo", kMqo);
  ASSERT_EQ(Convert("--to lwo chair.mqo").exitCode, 0);
  std::filesystem::rename(dir / "chair.LWO", dir / "chair.lwo");
  auto r = Convert("chair.lwo");  // the batch target starts at WZP
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(dir / "chair.WZP"));
  EXPECT_EQ(Convert("info chair.WZP").exitCode, 0);
}

TEST_F(ConvertProgram, BadFileIsNamedWithItsReasonAndLeavesNoOutput) {
  wz::testing::WriteFile(dir / "good.mqo", kMqo);
  wz::testing::WriteFile(dir / "bad.mqo", "not a document");
  auto r = Convert("--to lwo good.mqo bad.mqo missing.lwo");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("bad.mqo: failed: not read: not a Metasequoia document"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("missing.lwo: failed: cannot be opened"), std::string::npos) << r.output;
  EXPECT_TRUE(std::filesystem::exists(dir / "good.LWO"));
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.LWO"));
}

TEST_F(ConvertProgram, UsageHelpAndVersion) {
  struct Case {
    std::string arguments;
    int exitCode;
    std::string text;
  };
  const Case cases[] = {
      {"", 2, "usage: wz-convert"},
      {"--to gif a.mqo", 2, "unknown format 'gif'"},
      {"--to", 2, "--to needs a format"},
      {"--bogus a.mqo", 2, "unknown option '--bogus'"},
      {"info --to lwo a.mqo", 2, "unknown option '--to'"},
      {"--help", 0, "usage: wz-convert"},
      {"--version", 0, "wz-convert 2010.11"},
  };
  for (const Case& c : cases) {
    auto r = Convert(c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.arguments << "\n" << r.output;
  }
}

TEST_F(ConvertProgram, InfoDescribesTheModelAsJson) {
  wz::testing::WriteFile(dir / "q \"1\".mqo", kMqo);
  auto r = Convert("info --json 'q \"1\".mqo'");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const char* part : {"{\"file\":\"q \\\"1\\\".mqo\",\"loaded\":true,", "\"positions\":4,",
                           "\"polygons\":2,", "\"bbox\":{\"min\":[0,0,-0],\"max\":[1,1,-0]}",
                           "\"groups\":[{\"name\":", "\"texture_slots\":["}) {
    EXPECT_NE(r.output.find(part), std::string::npos) << part << "\n" << r.output;
  }
  auto plain = Convert("info 'q \"1\".mqo' none.mqo");
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_NE(plain.output.find("q \"1\".mqo: 2 polygons, 1 group, 0 textures\n"), std::string::npos)
      << plain.output;
  EXPECT_NE(plain.output.find("none.mqo: not loaded (cannot be opened)"), std::string::npos)
      << plain.output;
}

TEST_F(ConvertProgram, InfoOfARefusedFileSaysNotLoadedAndWhy) {
  wz::testing::WriteFile(dir / "bad.mqo", "Metasequoia Document\r\nFormat Text Ver 2.0\r\n");
  auto r = Convert("info --json bad.mqo");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output,
            "{\"file\":\"bad.mqo\",\"loaded\":false,\"error\":\"not a Format Text Ver 1.0 or "
            "1.1 document\"}\n");
}

// Runs the program with standard output and standard error kept apart.
struct Streams {
  int exitCode;
  std::string out, err;
};

struct ConvertStreams : ConvertProgram {
  Streams Run(const std::string& arguments, const std::string& environment = "") {
    auto r = RunProgram("(cd " + dir.path() + " && " + environment + " " + kProgram + " " +
                        arguments + " >" + (dir / ".out") + " 2>" + (dir / ".err") + ")");
    Streams s{r.exitCode, wz::testing::ReadFile(dir / ".out"), wz::testing::ReadFile(dir / ".err")};
    std::filesystem::remove(dir / ".out");
    std::filesystem::remove(dir / ".err");
    return s;
  }
};

TEST_F(ConvertStreams, AnOutputNeverReplacesAnInput) {
  wz::testing::WriteFile(dir / "a.mqo", kMqo);
  for (const char* to : {"x", "lwo", "mx", "wzp"})
    ASSERT_EQ(Run(std::string("--to ") + to + " a.mqo").exitCode, 0) << to;
  std::filesystem::rename(dir / "a.X", dir / "b.x");
  std::filesystem::rename(dir / "a.LWO", dir / "b.lwo");
  std::filesystem::rename(dir / "a.MX", dir / "b.mx");
  std::filesystem::rename(dir / "a.WZP", dir / "b.wzp");
  const std::string inputs[] = {"b.x", "b.lwo", "b.mx"};
  std::vector<std::string> before;
  for (const std::string& in : inputs)
    before.push_back(wz::testing::ReadFile(dir / in));

  // Each file converted to its own format would land on itself (B.X finds b.x without case).
  for (const std::string& in : inputs) {
    {
      Streams r = Run("--to " + in.substr(2) + " " + in);
      EXPECT_EQ(r.exitCode, 1) << in;
      EXPECT_EQ(r.out, "") << in;
      EXPECT_NE(r.err.find(in + ": skipped: the output "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("would replace this file"), std::string::npos) << r.err;
    }
  }
  // Nor on another input of the same run: b.mqo's B.X would be the input b.x.
  wz::testing::WriteFile(dir / "b.mqo", kMqo);
  Streams r = Run("--to x b.mqo b.x");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("b.mqo: skipped: the output " + (dir / "b.X") + " would replace the input " +
                       (dir / "b.x")),
            std::string::npos)
      << r.err;
  for (size_t i = 0; i < std::size(inputs); ++i)
    EXPECT_EQ(wz::testing::ReadFile(dir / inputs[i]), before[i]) << inputs[i];

  // A WZP converted to WZP is upgraded in place.
  r = Run("b.wzp");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "b.wzp -> " + (dir / "b.wzp") + "\n");  // the file that was upgraded

  // With -o the outputs go elsewhere, into a folder made on the way.
  r = Run("--to x -o out/x b.x");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "b.x -> " + (dir / "out/x/b.X") + "\n");
  r = Run("--output-dir=out/lwo b.x");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "out/lwo/b.WZP"));
  EXPECT_EQ(wz::testing::ReadFile(dir / "b.x"), before[0]);
}

TEST_F(ConvertStreams, LinesGoWhereAPersonLooksForThem) {
  wz::testing::WriteFile(dir / "a.mqo", kMqo);
  std::filesystem::create_directories(dir / "folder.mqo");
  Streams r = Run("--to lwo a.mqo folder.mqo missing.mqo");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "a.mqo -> " + (dir / "a.LWO") + "\n");
  EXPECT_EQ(r.err,
            "folder.mqo: failed: is a directory, not a model file (-r converts the models in it)\n"
            "missing.mqo: failed: cannot be opened\n");
  r = Run("info folder.mqo");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(
      r.err,
      "folder.mqo: failed: is a directory, not a model file (-r converts the models in it)\n");

  // WZ_LOG and WZ_NO_SOUND are switches: 0 is off.
  r = Run("--to lwo a.mqo", "env WZ_LOG=0");
  EXPECT_EQ(r.err, "");
  r = Run("--to lwo a.mqo", "env WZ_LOG=1");
  EXPECT_NE(r.err.find("WZ.LibInit() 初期化 終了"), std::string::npos) << r.err;
}

TEST_F(ConvertStreams, EveryPolygonIsReadAndAFormatsLayoutCutIsSaid) {
  // Two polygons of 65535 points: fans of 65533 triangles each, past the window's capacity of
  // 65000 and the 65535 quads an MX file counts.
  testing::Bytes points, polygons;
  for (int i = 0; i < 65535; ++i) {
    testing::PutBeF32(points, float(i % 256));
    testing::PutBeF32(points, float(i / 256));
    testing::PutBeF32(points, 0);
  }
  for (int k = 0; k < 2; ++k) {
    testing::PutBe16(polygons, 65535);
    for (int i = 0; i < 65535; ++i)
      testing::PutBe16(polygons, uint32_t(i));
    testing::PutBe16(polygons, 1);
  }
  const testing::Bytes file =
      testing::LwoFile().Srfs({"A"}).Chunk("PNTS", points).Chunk("POLS", polygons).Build();
  wz::testing::WriteFile(dir / "fan.lwo", std::string(file.begin(), file.end()));
  Streams r = Run("fan.lwo");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "fan.lwo -> " + (dir / "fan.WZP") + "\n");
  r = Run("info fan.lwo");
  EXPECT_EQ(r.out, "fan.lwo: 131066 polygons, 1 group, 0 textures\n");
  r = Run("--to mx fan.lwo");
  EXPECT_EQ(r.out, "fan.lwo -> " + (dir / "fan.MX") + " (dropped: 65531 polygons)\n") << r.err;
}

TEST_F(ConvertStreams, InfoCountsThePolygonsOfEveryGroupInOnePass) {
  // 100000 groups of one triangle each: a count per group over all polygons would take 10^10
  // steps, one pass 10^5.
  constexpr int kGroups = 100000;
  auto m = CreateModel({});
  GrowPositionPools(*m, 3);
  m->positionCount = 3;
  m->positions[1] = {1, 0, 0};
  m->positions[2] = {0, 1, 0};
  m->groups.assign(kGroups, NewGroup());
  m->groupCount = kGroups;
  m->polygons.resize(kGroups);
  for (int g = 0; g < kGroups; ++g) {
    m->polygons[size_t(g)].cornerCount = 3;
    m->polygons[size_t(g)].corners[1].position = 1;
    m->polygons[size_t(g)].corners[2].position = 2;
    m->polygons[size_t(g)].group = g;
  }
  m->polygonCount = kGroups;
  m->motions.clear();  // no motions: no group tracks
  for (Bone& bone : m->bones)
    bone.keyLists.clear();
  RecordingModelHost host;
  std::vector<uint8_t> file;
  ASSERT_TRUE(SaveWzpToMemory(host, *m, "\\many.wzp", file));
  wz::testing::WriteFile(dir / "many.wzp", std::string(file.begin(), file.end()));
  Streams r = Run("info --json many.wzp", "timeout 20");
  ASSERT_EQ(r.exitCode, 0) << "timed out or failed: " << r.err;
  EXPECT_NE(r.out.find("\"polygons\":1}]"), std::string::npos);
}

TEST_F(ConvertStreams, AnyHostNameWorksAndShowsAsItIs) {
  // Characters code page 932 lacks, one it holds, bytes that are not UTF-8, and a folder whose
  // path is longer than 255 bytes.
  const std::string folder = "\xCE\xA9mega/" + std::string(200, 'l') + "/" + std::string(100, 'm');
  std::filesystem::create_directories(dir / folder);
  const std::string names[] = {"caf\xC3\xA9", "emoji\xF0\x9F\x98\x80", "\xE8\xA1\xA8",
                               "back\\slash", "raw\xFF\xFE",           std::string(150, 'h')};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string in = folder + "/" + name + ".mqo";
    wz::testing::WriteFile(dir / in, kMqo);
    Streams r = Run("'" + in + "'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / (folder + "/" + name + ".WZP")));
    // Bytes that are not UTF-8 show as U+FFFD; everything else as the host spells it.
    std::string shown = dir / (folder + "/" + name + ".WZP");
    if (name.starts_with("raw")) shown = dir / (folder + "/raw\xEF\xBF\xBD\xEF\xBF\xBD.WZP");
    EXPECT_EQ(r.out, in + " -> " + shown + "\n");
    r = Run("info --json '" + folder + "/" + name + ".WZP'");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"polygons\":2"), std::string::npos) << r.out;
  }
}

// Converting and reading models never needs pixels: no OpenGL context is made (the device logs
// one line when it makes one, as it does when frames are dumped).
TEST_F(ConvertProgram, ConversionAndInfoMakeNoDrawingContext) {
  wz::testing::WriteFile(dir / "a.mqo", kMqo);
  for (const char* args :
       {"info --verbose a.mqo", "--verbose --to wzp a.mqo", "--verbose --to x a.mqo"}) {
    auto r = Convert(args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("WZ.LibInit"), std::string::npos) << args << r.output;
    EXPECT_EQ(r.output.find("Pixels by OpenGL"), std::string::npos) << args << r.output;
  }
  auto dumped = RunProgram("cd " + dir.path() + " && WZ_FRAME_DUMP=" + (dir / "frames") + " " +
                           kProgram + " info --verbose a.mqo");
  EXPECT_NE(dumped.output.find("Pixels by OpenGL"), std::string::npos) << dumped.output;
  EXPECT_TRUE(std::filesystem::exists(dir / "frames/frame-000001.png"));
}

}  // namespace
}  // namespace wz
