// wz-convert render run as a user runs it: a picture for a model of each of the seven formats
// (the model's pixels in the middle, the background elsewhere), the options and their errors,
// and files that give no picture.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/library.h"
#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/image_fixtures.h"
#include "platform/file_io.h"
#include "support/model_documents.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using wz::testing::ProgramResult;
using wz::testing::RunProgram;
using wz::testing::TempDir;

const std::string kProgram = std::string(WZ_BIN_DIR) + "/wz-convert";

std::string MqoCube() {
  return wz::testing::kMqoCube;
}

// A ROK triangle: three points, three edges, one face, the palette.
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

// A DXF square as one 3DFACE, facing the camera.
std::string DxfSquare() {
  std::string s = "  0\nSECTION\n  2\nENTITIES\n  0\n3DFACE\n  8\nLAYER0\n";
  const float c[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  for (int n = 0; n < 4; ++n)
    for (int axis = 0; axis < 3; ++axis)
      s += std::to_string(10 * (axis + 1) + n) + "\n" + std::to_string(c[n][axis]) + "\n";
  return s + "  0\nENDSEC\n  0\nEOF\n";
}

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> bgra;
  uint32_t At(uint32_t x, uint32_t y) const {
    const uint8_t* p = &bgra[(size_t(y) * width + x) * 4];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
};

Picture ReadPicture(const std::string& path) {
  const std::string bytes = wz::testing::ReadFile(path);
  d3dx::DecodedImage image;
  Picture p;
  if (d3dx::DecodeImage({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, image) !=
      d3dx::ImageError::kNone) {
    return p;
  }
  p.width = image.info.Width;
  p.height = image.info.Height;
  p.bgra = std::move(image.pixels);
  return p;
}

struct RenderProgram : ::testing::Test {
  ProgramResult Run(const std::string& arguments) {
    return RunProgram("cd " + dir.path() + " && " + kProgram + " " + arguments);
  }
  TempDir dir;
};

TEST_F(RenderProgram, DrawsAModelOfEachFormatOverTheBackground) {
  wz::testing::WriteFile(dir / "a.mqo", MqoCube());
  wz::testing::WriteFile(dir / "b.rok", RokTriangle());
  wz::testing::WriteFile(dir / "c.dxf", DxfSquare());
  // The X, MX, WZP and LWO inputs are written by the converter from the MQO cube.
  for (const char* to : {"x", "mx", "wzp", "lwo"})
    ASSERT_EQ(Run(std::string("--to ") + to + " a.mqo").exitCode, 0);
  std::filesystem::rename(dir / "a.X", dir / "d.x");
  std::filesystem::rename(dir / "a.MX", dir / "e.mx");
  std::filesystem::rename(dir / "a.WZP", dir / "f.wzp");
  std::filesystem::rename(dir / "a.LWO", dir / "g.lwo");
  const auto r =
      Run("render --size 160x90 --yaw 30 --pitch -20 --background 102030 a.mqo b.rok "
          "c.dxf d.x e.mx f.wzp g.lwo");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g"}) {
    const std::string png = dir / (std::string(name) + ".png");
    EXPECT_NE(r.output.find(png), std::string::npos) << name << "\n" << r.output;
    const Picture p = ReadPicture(png);
    ASSERT_EQ(p.width, 160u) << name;
    ASSERT_EQ(p.height, 90u) << name;
    // The corners show the background; the middle shows the model, lit.
    for (auto [x, y] : {std::pair{0u, 0u}, {159u, 0u}, {0u, 89u}, {159u, 89u}})
      EXPECT_EQ(p.At(x, y), 0x102030u) << name << " " << x << "," << y;
    int model = 0;
    for (uint32_t y = 30; y < 60; ++y)
      for (uint32_t x = 60; x < 100; ++x)
        model += p.At(x, y) != 0x102030u && (p.At(x, y) & 0xFFFFFF) > 0x202020u;
    EXPECT_GT(model, 30 * 40 / 2) << name;
  }
}

TEST_F(RenderProgram, WritesTheNamedPictureOrIntoTheOutputDirectory) {
  wz::testing::WriteFile(dir / "cube.mqo", MqoCube());
  std::filesystem::create_directory(dir / "out");
  auto r = Run("render -o picture.png --size 32x24 cube.mqo");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadPicture(dir / "picture.png").width, 32u);
  EXPECT_FALSE(std::filesystem::exists(dir / "cube.png"));
  r = Run("render --output-dir out --size=40x30 cube.mqo");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadPicture(dir / "out/cube.png").height, 30u);
  // The default size.
  r = Run("render cube.mqo");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(ReadPicture(dir / "cube.png").width, 1280u);
  EXPECT_EQ(ReadPicture(dir / "cube.png").height, 720u);
}

TEST_F(RenderProgram, FilesThatCannotBeReadGiveNoPictureAndExitOne) {
  wz::testing::WriteFile(dir / "good.mqo", MqoCube());
  wz::testing::WriteFile(dir / "bad.mqo", "not a document");
  wz::testing::WriteFile(dir / "empty.dxf", "  0\nSECTION\n  2\nENTITIES\n  0\nENDSEC\n  0\nEOF\n");
  const auto r = Run("render --size 32x24 good.mqo bad.mqo missing.lwo empty.dxf");
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("bad.mqo: failed: not read: not a Metasequoia document"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("missing.lwo: failed: cannot be opened"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("empty.dxf: failed:"), std::string::npos) << r.output;
  EXPECT_TRUE(std::filesystem::exists(dir / "good.png"));
  for (const char* none : {"bad.png", "missing.png", "empty.png"})
    EXPECT_FALSE(std::filesystem::exists(dir / none)) << none;
}

TEST_F(RenderProgram, TexturesResolveBesideTheModelAndAMissingOneIsANote) {
  // A green 2 x 2 image beside the model in a folder of its own, named as exporters write it;
  // the program runs from the folder above.
  std::filesystem::create_directory(dir / "m");
  wz::testing::WriteFile(dir / "m/green.tga", wz::test::SolidTga(2, 2, 0x00, 0xFF, 0x00));
  for (const char* mode : {"", "--shader "})
    for (const char* name : {"green.tga", ".\\green.tga", "gone.tga"}) {
      SCOPED_TRACE(std::string(mode) + name);
      std::string cube = MqoCube();
      cube.replace(cube.find("dif(0.800)"), 10, std::string("dif(0.800) tex(\"") + name + "\")");
      wz::testing::WriteFile(dir / "m/cube.mqo", cube);
      const auto r = Run(std::string("render ") + mode + "--size 32x24 m/cube.mqo");
      EXPECT_EQ(r.exitCode, 0) << r.output;
      const bool missing = std::string(name) == "gone.tga";
      EXPECT_EQ(r.output.find("cube.png (texture gone.tga cannot be loaded)") != std::string::npos,
                missing)
          << r.output;
      const Picture p = ReadPicture(dir / "m/cube.png");
      ASSERT_EQ(p.width, 32u);
      // Red material over a green texture is dark; without the texture the cube is red.
      const uint32_t middle = p.At(16, 12);
      EXPECT_EQ((middle >> 16 & 0xFF) > 0x40, missing) << std::hex << middle;
    }
}

// An OBJ square textured black on one half and white on the other, from both sides: OBJ
// textures keep their black texels, which the library's own formats take as transparent.
TEST_F(RenderProgram, ObjTexturesKeepTheirBlackTexels) {
  wz::test::TgaLayout tga;
  tga.width = 2, tga.height = 2;
  tga.data = {0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255};
  const std::vector<uint8_t> image = wz::test::BuildTga(tga);
  wz::testing::WriteFile(dir / "half.tga", std::string(image.begin(), image.end()));
  wz::testing::WriteFile(dir / "sq.mtl", "newmtl m\nKd 1 1 1\nmap_Kd half.tga\n");
  wz::testing::WriteFile(dir / "sq.obj",
                         "mtllib sq.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                         "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl m\n"
                         "f 1/1 2/2 3/3 4/4\nf 4/4 3/3 2/2 1/1\n");
  const auto r = Run("render --size 64x64 --background 102030 sq.obj");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const Picture p = ReadPicture(dir / "sq.png");
  ASSERT_EQ(p.width, 64u);
  // Across the middle of the square (filtered from black to white): black texels, and no
  // background showing through them.
  int black = 0, bright = 0, background = 0;
  for (uint32_t x = 14; x < 50; ++x) {
    const uint32_t c = p.At(x, 32);
    background += c == 0x102030u;
    black += (c >> 16) < 0x10 && (c & 0xFF) < 0x10;
    bright += (c & 0xFF) > 0xC0;
  }
  EXPECT_EQ(background, 0);
  EXPECT_GT(black, 0);
  EXPECT_GT(bright, 0);
}

TEST_F(RenderProgram, NeverReplacesTheModelItDraws) {
  wz::testing::WriteFile(dir / "cube.mqo", MqoCube());
  const auto r = Run("render -o cube.mqo --size 32x24 cube.mqo");
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("would replace the model file"), std::string::npos) << r.output;
  EXPECT_EQ(wz::testing::ReadFile(dir / "cube.mqo"), MqoCube());
}

TEST_F(RenderProgram, FramePlaysMotionZeroToThatFrame) {
  // A WZP bar from y = 0 to 4 whose upper half (bone 2, jointed 2 up) turns a quarter about z by
  // frame 10, written by the library's own writer.
  {
    Library library;
    const ModelId id = library.Model3_Create();
    Model& m = *library.Model3_Get(id);
    std::vector<Vec3> v;
    for (int row = 0; row <= 4; ++row)
      for (float x : {-0.25f, 0.25f})
        v.push_back({x, float(row), 0});
    GrowPositionPools(m, v.size());
    std::copy(v.begin(), v.end(), m.positions.begin());
    m.positionCount = int32_t(v.size());
    for (int i = 0; i < m.positionCount; ++i)
      m.attrs[size_t(i)] = {uint8_t(v[size_t(i)].y > 2 ? 2 : 1), 0, 1.0f, 0};
    for (int row = 0; row < 4; ++row) {
      Polygon p;
      p.cornerCount = 4;
      const int corners[4] = {row * 2, row * 2 + 2, row * 2 + 3, row * 2 + 1};
      for (int k = 0; k < 4; ++k)
        p.corners[size_t(k)].position = corners[k];
      m.polygons.push_back(p);
    }
    m.polygonCount = 4;
    m.groups[0].colour = {255, 0, 0, 255};
    m.boneCount = 3;
    m.bones[2].restPosition = {0, 2, 0};
    m.bones[2].parent = 1;
    BoneKey turned = kRestKey;
    turned.frame = 10;
    turned.rotation = {0, 0, std::sin(3.14159265f / 4), std::cos(3.14159265f / 4)};
    m.bones[2].keyLists[0].push_back(turned);
    ASSERT_TRUE(library.Model3_Save(&m, platform::LibraryPath(dir / "bar.wzp")));
  }
  ASSERT_EQ(Run("render --size 160x90 -o still.png bar.wzp").exitCode, 0);
  ASSERT_EQ(Run("render --size 160x90 --frame 10 -o bent.png bar.wzp").exitCode, 0);
  const Picture still = ReadPicture(dir / "still.png"), bent = ReadPicture(dir / "bent.png");
  ASSERT_EQ(bent.width, 160u);
  // The view is centred on the bind pose's box (x 0, y 2, half diagonal r), seen from
  // d = 1.05 r / sin(22.5 degrees); the visible half height at the bar is d tan(22.5 degrees).
  const float r = std::sqrt(0.25f + 4.0f);
  const float halfHeight = 1.05f * r / std::sin(3.14159265f / 8) * std::tan(3.14159265f / 8);
  auto pixel = [&](float x, float y) {
    return std::pair{uint32_t(80 + x / (halfHeight * 16 / 9) * 80),
                     uint32_t(45 - (y - 2) / halfHeight * 45)};
  };
  auto red = [](uint32_t c) { return (c >> 16) > 0x80 && ((c >> 8) & 0xFF) < 0x40; };
  const auto [topX, topY] = pixel(0, 3.5f);
  const auto [sideX, sideY] = pixel(-1.5f, 2.1f);
  EXPECT_TRUE(red(still.At(topX, topY)));
  EXPECT_FALSE(red(still.At(sideX, sideY)));
  EXPECT_FALSE(red(bent.At(topX, topY)));
  EXPECT_TRUE(red(bent.At(sideX, sideY)));
}

TEST_F(RenderProgram, ShaderSceneStandsTheModelOnAGroundAndEffectsChangeTheWholePicture) {
  wz::testing::WriteFile(dir / "cube.mqo", MqoCube());
  const struct {
    const char* options;
    const char* picture;
  } runs[] = {{"", "fixed.png"},
              {"--shader", "shader.png"},
              {"--effect scene", "scene.png"},
              {"--effect=REVERSE", "reverse.png"},
              {"--effect monochrome", "mono.png"}};
  for (const auto& run : runs) {
    const auto r = Run(std::string("render --size 160x90 --yaw 30 --background 102030 ") +
                       run.options + " -o " + run.picture + " cube.mqo");
    ASSERT_EQ(r.exitCode, 0) << run.options << "\n" << r.output;
  }
  const Picture fixed = ReadPicture(dir / "fixed.png"), shader = ReadPicture(dir / "shader.png"),
                scene = ReadPicture(dir / "scene.png"), reverse = ReadPicture(dir / "reverse.png"),
                mono = ReadPicture(dir / "mono.png");
  for (const Picture* p : {&fixed, &shader, &scene, &reverse, &mono}) {
    ASSERT_EQ(p->width, 160u);
    ASSERT_EQ(p->height, 90u);
  }
  // The fixed frame shows the background below the cube; the shader scene a lit ground there,
  // and the background only above the ground's far edge.
  EXPECT_EQ(fixed.At(80, 88), 0x102030u);
  EXPECT_NE(shader.At(80, 88), 0x102030u);
  EXPECT_EQ(shader.At(80, 1), 0x102030u);
  // --shader is the scene effect; reverse and monochrome change every pixel of it.
  EXPECT_EQ(shader.bgra, scene.bgra);
  int reversed = 0, grey = 0, coloured = 0;
  for (uint32_t y = 0; y < 90; ++y) {
    for (uint32_t x = 0; x < 160; ++x) {
      const uint32_t c = scene.At(x, y), rc = reverse.At(x, y), m = mono.At(x, y);
      bool inverse = true;
      for (int shift : {0, 8, 16}) {
        const int a = int((c >> shift) & 0xFF), b = int((rc >> shift) & 0xFF);
        inverse = inverse && std::abs(255 - a - b) <= 2;
      }
      reversed += inverse;
      grey += ((m >> 16) & 0xFF) == ((m >> 8) & 0xFF) && ((m >> 8) & 0xFF) == (m & 0xFF);
      coloured += ((c >> 16) & 0xFF) != (c & 0xFF);
    }
  }
  EXPECT_EQ(reversed, 160 * 90);
  EXPECT_EQ(grey, 160 * 90);
  EXPECT_GT(coloured, 1000);  // the red cube and the blue-grey background are not grey
}

TEST_F(RenderProgram, OptionErrorsAreUsageErrors) {
  wz::testing::WriteFile(dir / "cube.mqo", MqoCube());
  struct Case {
    std::string arguments;
    int exitCode;
    std::string text;
  } cases[] = {
      {"render", 2, "usage: wz-convert render"},
      {"render --help", 0, "usage: wz-convert render"},
      {"render --size 0x10 cube.mqo", 2, "bad value '0x10' for --size"},
      {"render --size 5000x10 cube.mqo", 2, "each 1 to 4096"},
      {"render --size 64 cube.mqo", 2, "bad value '64' for --size"},
      {"render --yaw abc cube.mqo", 2, "bad value 'abc' for --yaw"},
      {"render --frame -1 cube.mqo", 2, "bad value '-1' for --frame"},
      {"render --background 12345 cube.mqo", 2, "six hexadecimal digits"},
      {"render --pitch", 2, "--pitch needs a value"},
      {"render --bogus cube.mqo", 2, "unknown option '--bogus'"},
      {"render --effect sparkle cube.mqo", 2, "bad value 'sparkle' for --effect (scene, mono"},
      {"render --effect", 2, "--effect needs a value"},
      {"render -o a.png cube.mqo cube.mqo", 2, "-o names one picture"},
      {"render --output-dir cube.mqo cube.mqo", 2, "'cube.mqo' is not a directory"},
      {"--help", 0, "wz-convert render [-o OUT]"},
  };
  for (const Case& c : cases) {
    const auto r = Run(c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.arguments << "\n" << r.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "cube.png"));
}

// A picture never replaces what it was drawn from (the model's texture of the picture's name) nor
// a file whose name differs only by case; the output folder is made when missing; a picture
// without the effect or the text that was asked for is a failure.
TEST_F(RenderProgram, AskedForAndNothingElse) {
  wz::testing::WriteFile(
      dir / "tri.mqo",
      "Metasequoia Document\r\nFormat Text Ver 1.0\r\nMaterial 1 {\r\n\t\"m\" col(1.000 "
      "1.000 1.000 1.000) tex(\"tri.png\")\r\n}\r\nObject \"o\" {\r\n\tvertex 3 {\r\n"
      "\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t0 10 0\r\n\t}\r\n\tface 1 {\r\n\t\t3 V(0 1 2) M(0) UV(0 0 1 "
      "0 "
      "0 1)\r\n\t}\r\n}\r\nEof\r\n");
  const std::vector<uint8_t> texture = wz::test::EncodePng(
      {2, 2, 2, 8, false, {{255, 0, 0, 255, 0, 0}, {255, 0, 0, 255, 0, 0}}, {}, {}});
  wz::testing::WriteFile(dir / "tri.png", std::string(texture.begin(), texture.end()));
  wz::testing::WriteFile(dir / "cube.mqo", MqoCube());
  wz::testing::WriteFile(dir / "CUBE.PNG", "theirs");
  // A copy of the program whose data folder lacks the shader scene's effect, and a font
  // configuration without fonts.
  std::filesystem::create_directories(dir / "bin");
  std::filesystem::copy(std::string(WZ_BIN_DIR) + "/wz-convert", dir / "bin/wz-convert");
  std::filesystem::copy(std::string(WZ_BIN_DIR) + "/Data", dir / "bin/Data",
                        std::filesystem::copy_options::recursive);
  for (const char* ext : {".fx", ".fxo"})
    std::filesystem::remove(dir / (std::string("bin/Data/System/HLSL/HLSL_3D") + ext));
  wz::testing::WriteFile(dir / "fonts.conf",
                         "<?xml version=\"1.0\"?>\n<fontconfig><dir>/nonexistent</dir><cachedir>" +
                             (dir / "fc") + "</cachedir></fontconfig>\n");
  struct Case {
    std::string command;
    int exitCode;
    std::string text;
  } cases[] = {
      {kProgram + " render tri.mqo", 1, "the picture would replace " + (dir / "tri.png")},
      {kProgram + " render cube.mqo", 1, "(the names differ only by case)"},
      {kProgram + " preview tri.mqo -o tri.png", 1, "the picture would replace"},
      {kProgram + " render --output-dir made/here cube.mqo", 0, dir / "made/here/cube.png"},
      {"bin/wz-convert render --shader -o s.png cube.mqo", 1, "HLSL_3D.fx cannot be loaded"},
      {"FONTCONFIG_FILE=" + (dir / "fonts.conf") + " " + kProgram + " preview cube.mqo -o p.png", 1,
       "no usable font"},
  };
  for (const Case& c : cases) {
    const auto r = RunProgram("cd " + dir.path() + " && " + c.command);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.command << "\n" << r.output;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.command << "\n" << r.output;
  }
  EXPECT_EQ(wz::testing::ReadFile(dir / "tri.png"), std::string(texture.begin(), texture.end()));
  EXPECT_EQ(wz::testing::ReadFile(dir / "CUBE.PNG"), "theirs");
  EXPECT_FALSE(std::filesystem::exists(dir / "s.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "p.png"));
}

// A cube's facet decides its shading the same way still and posed (--frame draws the posed
// positions): below 90 degrees it is drawn as with facet 0 (flat), above as smoothed.
TEST_F(RenderProgram, FacetDecidesFlatOrSmoothShadingStillAndPosed) {
  std::map<std::string, std::vector<uint8_t>> shown;
  for (const char* facet : {"0", "59.5", "90.5"}) {
    std::string cube = MqoCube();
    cube.insert(cube.find("\tvertex"), std::string("\tfacet ") + facet + "\r\n");
    wz::testing::WriteFile(dir / "cube.mqo", cube);
    for (const char* frame : {"", "--frame 0 "}) {
      ASSERT_EQ(Run(std::string("render --size 160x90 --yaw 30 --pitch -20 ") + frame +
                    "-o cube.png cube.mqo")
                    .exitCode,
                0);
      shown[std::string(facet) + frame] = ReadPicture(dir / "cube.png").bgra;
      ASSERT_EQ(shown[std::string(facet) + frame].size(), 160u * 90 * 4);
    }
  }
  EXPECT_TRUE(shown["0"] == shown["59.5"]);
  EXPECT_TRUE(shown["59.5"] == shown["59.5--frame 0 "]);
  EXPECT_TRUE(shown["90.5"] == shown["90.5--frame 0 "]);
  EXPECT_FALSE(shown["90.5"] == shown["0"]);
}

}  // namespace
}  // namespace wz
