// OBJ reader: the frame change (z negated, corners reversed, v as 1 - v, × 10), materials as
// groups, fans, file normals, names, material libraries (read once, only regular files, memory in
// proportion to the files), the sample files of Debian's assimp-testmodels package, and
// refusals that leave the model untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include "formats/formats.h"
#include "model/model_invariants.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "support/memory_ceiling.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

struct Load {
  Load(const std::string& obj, const std::string& mtl = "") {
    model = CreateModel({});
    before = *model;
    const auto* data = reinterpret_cast<const uint8_t*>(obj.data());
    result = LoadObjFromMemory(host, *model, "\\m\\a.obj", {data, obj.size()}, mtl, 0);
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
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  Model before;
  int result = 0;
};

const std::string kMtl =
    "newmtl unused\nKd 0 0 1\n"
    "newmtl wood\nKd 1 0.5 0\nd 0.5\nmap_Kd tex/wood.png\n"
    "newmtl red\nKd 1 0 0\n";

// A textured quad of "wood" with normals, a triangle of "red", a pentagon without a material.
const std::string kObj =
    "mtllib a.mtl\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0.5\nv 0 1 0\nv 2 0 0\nv 3 0 -1\nv 3 1 0\nv 2.5 2 0\nv 2 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\n"
    "usemtl red\nf 5 6 7\n"
    "usemtl wood\ns 1\nf 1/1/1 2/2/1 3/3/1 4/4/1\n"
    "usemtl\nf -5 -4 -3 -2 -1\n";

TEST(ObjReader, PositionsTurnLeftHandedInLibraryUnitsAndCornersRunBackwards) {
  Load l(kObj, kMtl);
  ASSERT_EQ(l.result, 1) << (l.host.lines.empty() ? "" : l.host.lines[0]);
  ASSERT_EQ(l.model->positionCount, 9);
  EXPECT_EQ(l.model->positions[2], (Vec3{10, 10, -5}));
  EXPECT_EQ(l.model->positions[5], (Vec3{30, 0, 10}));
  ASSERT_EQ(l.model->polygonCount, 5);
  EXPECT_EQ(l.Corners(0), (std::vector<int>{6, 5, 4}));
  EXPECT_EQ(l.Corners(1), (std::vector<int>{3, 2, 1, 0}));
  // The pentagon 5..9 reversed is 9 8 7 6 5, fanned around its first corner.
  EXPECT_EQ(l.Corners(2), (std::vector<int>{8, 7, 6}));
  EXPECT_EQ(l.Corners(3), (std::vector<int>{8, 6, 5}));
  EXPECT_EQ(l.Corners(4), (std::vector<int>{8, 5, 4}));
}

TEST(ObjReader, UsedMaterialsBecomeGroupsInLibraryOrderWithTheirColourAlphaAndImage) {
  Load l(kObj, kMtl);
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->groupCount, 3);
  EXPECT_STREQ(l.model->groups[0].name.CStr(), "wood");
  EXPECT_STREQ(l.model->groups[1].name.CStr(), "red");
  EXPECT_STREQ(l.model->groups[2].name.CStr(), "Default");
  EXPECT_EQ(l.model->groups[0].colour, (ColourF{255, 127.5f, 0, 127.5f}));
  EXPECT_EQ(l.model->groups[1].colour, (ColourF{255, 0, 0, 255}));
  EXPECT_EQ(l.model->polygons[0].group, 1);
  EXPECT_EQ(l.model->polygons[1].group, 0);
  EXPECT_EQ(l.model->polygons[4].group, 2);
  EXPECT_EQ(l.model->groups[0].textureSlot, 1);
  EXPECT_EQ(l.model->groups[1].textureSlot, 0);
  EXPECT_STREQ(l.model->textureSlots[1].fileName.CStr(), "tex\\wood.png");
  EXPECT_EQ(l.host.textureLoads.size(), 1u);
  // Smoothing on keeps "wood" smooth; "red" has smoothing off and no normals: flat.
  EXPECT_EQ(l.model->groups[0].shading, 4);
}

TEST(ObjReader, TextureCoordinatesFlipVAndMissingOnesShareAnExtraEntry) {
  Load l(kObj, kMtl);
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->uvCount, 5);
  const Polygon& quad = l.model->polygons[1];
  // Reversed: the quad's corners are vertices 4, 3, 2, 1 with vt 4, 3, 2, 1.
  EXPECT_EQ(l.model->uvs[size_t(quad.corners[0].uv)], (Uv{0, 0}));
  EXPECT_EQ(l.model->uvs[size_t(quad.corners[1].uv)], (Uv{1, 0}));
  EXPECT_EQ(l.model->uvs[size_t(quad.corners[3].uv)], (Uv{0, 1}));
  EXPECT_EQ(l.model->polygons[0].corners[0].uv, 4);
  // Some corners lack a normal: the file's normals are not used.
  EXPECT_EQ(l.model->normalCount, 0);
  EXPECT_EQ(l.model->groups[1].shading, 3);
}

TEST(ObjReader, MaterialNamesInUtf8OrCodePage932BothReachTheLibraryAsCodePage932) {
  const std::string sjis = "\x96\xd8";  // 木 in code page 932 (not valid UTF-8)
  const std::string mtl = "newmtl \xe6\x9c\xa8\nKd 1 1 1\nnewmtl " + sjis + "x\nKd 1 1 1\n";
  Load l("mtllib a.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl \xe6\x9c\xa8\nf 1 2 3\nusemtl " + sjis +
             "x\nf 1 2 3\n",
         mtl);
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->groupCount, 2);
  EXPECT_EQ(std::string(l.model->groups[0].name.CStr()), sjis);
  EXPECT_EQ(std::string(l.model->groups[1].name.CStr()), sjis + "x");
}

TEST(ObjReader, NormalsAreKeptWithZNegatedWhenEveryCornerHasOne) {
  Load l("v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0.6 0.8\nf 1//1 2//1 3//1\n");
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->normalCount, 1);
  EXPECT_EQ(l.model->normals[0], (Vec3{0, 0.6f, -0.8f}));
  EXPECT_EQ(l.model->groups[0].shading, 4);
  // The reversed triangle faces -z in the library, as the original faced +z.
  EXPECT_LT(l.model->polygons[0].faceNormal.z, 0.0f);
}

TEST(ObjReader, BadDocumentsAreRefusedAndLeaveTheModelUntouched) {
  const std::pair<const char*, const char*> cases[] = {
      {"v 0 0 0\nv 1 0 0\nf 1 2 3\n", "names vertex 3 of 2"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/4 2/1 3/1\nvt 0 0\n", "texture coordinate"},
      {"v 0 0 0\nv 1 0 0\nl 1 2\n", "no faces"},
      {"", "no faces"},
      // Indices are reported as written, never wrapped or cut.
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4294967299\n",
       "line 4: face names vertex 4294967299 of 3"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 -7\n", "line 4: face names vertex -7 of 3"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//-99999999999999999999\n",
       "names normal -99999999999999999999 of 1"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 0 2\n", "names vertex 0 of 3"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 x\n", "face corner 'x'"},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    Load l(text);
    EXPECT_EQ(l.result, 0);
    EXPECT_TRUE(*l.model == l.before);
    ASSERT_EQ(l.host.lines.size(), 1u);
    EXPECT_NE(l.host.lines[0].find(reason), std::string::npos) << l.host.lines[0];
  }
}

TEST(ObjReader, FileFormReadsTheMaterialLibraryBesideTheDocument) {
  wz::testing::TempDir dir;
  wz::testing::WriteFile(dir / "a.mtl", kMtl);
  wz::testing::WriteFile(dir / "a.obj", kObj);
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(LoadObj(host, *model, platform::LibraryPath(dir / "a.obj"), 0), 1);
  EXPECT_STREQ(model->groups[0].name.CStr(), "wood");
  std::filesystem::remove(dir / "a.mtl");
  host.lines.clear();
  model = CreateModel({});
  ASSERT_EQ(LoadObj(host, *model, platform::LibraryPath(dir / "a.obj"), 0), 1);
  EXPECT_STREQ(model->groups[0].name.CStr(), "Default");
  ASSERT_EQ(host.lines.size(), 1u);
  EXPECT_NE(host.lines[0].find("material library a.mtl cannot be read"), std::string::npos)
      << host.lines[0];
}

// A face of n corners on a circle, then a triangle of the first three corners.
std::string RoundFace(int n) {
  std::string s;
  for (int i = 0; i < n; ++i)
    s += "v " + std::to_string(std::cos(i * 0.01)) + " " + std::to_string(std::sin(i * 0.01)) +
         " 0\n";
  s += "f";
  for (int i = 1; i <= n; ++i)
    s += " " + std::to_string(i);
  return s + "\nf 1 2 3\n";
}

TEST(ObjReader, FacesOfAnyNumberOfCornersBecomeFansAndLaterFacesKeepTheirIndices) {
  for (int n : {5, 255, 256, 300, 1000}) {
    SCOPED_TRACE(n);
    Load l(RoundFace(n));
    ASSERT_EQ(l.result, 1);
    ASSERT_EQ(l.model->polygonCount, n - 2 + 1);
    // Reversed, the face runs n-1 ... 0; triangle k fans around its first corner.
    for (int k = 0; k < n - 2; ++k)
      ASSERT_EQ(l.Corners(k), (std::vector<int>{n - 1, n - 2 - k, n - 3 - k})) << k;
    EXPECT_EQ(l.Corners(n - 2), (std::vector<int>{2, 1, 0}));
  }
}

TEST(ObjReader, NamesTakeTheWholeLineAndUtf8OnesTheReversibleHostMapping) {
  const std::string mtl =
      "newmtl caf\xc3\xa9 au lait\nmap_Kd -s 1 1 1 -clamp on tex/caf\xc3\xa9 1.png\n";
  Load l("v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl caf\xc3\xa9 au lait\nf 1 2 3\n", mtl);
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(std::string(l.model->groups[0].name.CStr()),
            platform::HostBytesToCp932("caf\xc3\xa9 au lait", false));
  const std::string texture = l.model->textureSlots[1].fileName.CStr();
  EXPECT_EQ(texture, platform::HostBytesToCp932("tex/caf\xc3\xa9 1.png", true));
  EXPECT_EQ(platform::Cp932ToHostBytes(texture, true), "tex/caf\xc3\xa9 1.png");
  ASSERT_EQ(l.host.textureLoads.size(), 1u);
  EXPECT_EQ(l.host.textureLoads[0].second, texture);

  // A library named in UTF-8 is found on disk.
  wz::testing::TempDir dir;
  wz::testing::WriteFile(dir / "caf\xc3\xa9.mtl", mtl);
  wz::testing::WriteFile(dir / "a.obj",
                         "mtllib caf\xc3\xa9.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                         "usemtl caf\xc3\xa9 au lait\nf 1 2 3\n");
  RecordingModelHost host;
  auto model = CreateModel({});
  ASSERT_EQ(LoadObj(host, *model, platform::LibraryPath(dir / "a.obj"), 0), 1);
  EXPECT_TRUE(host.lines.empty()) << host.lines[0];
  EXPECT_EQ(model->groups[0].textureSlot, 1);
}

// A library of 0.9 MB that defines "m" (red) among comments.
std::string BigLibrary() {
  std::string s = "newmtl m\nKd 1 0 0\n";
  while (s.size() < 900 * 1024)
    s += "# a comment line that only takes room in the material library\n";
  return s;
}

const std::string kTriangleOfM = "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl m\nf 1 2 3\n";

std::string Repeat(const std::string& line, int times) {
  std::string s;
  for (int i = 0; i < times; ++i)
    s += line;
  return s;
}

// Each case runs in a child under a time limit and the memory ceiling of its files; the child's
// exit code says what went wrong.
struct LibraryCase {
  const char* name;
  std::string obj;
  const char* group;  // of the triangle
  const char* note;   // in the log, or "" for no line
};

// Loads the case's document from `dir` under the memory ceiling of its files; 0 when all went
// as the case expects.
int LoadIn(const wz::testing::TempDir& dir, const LibraryCase& c, size_t libraryBytes) {
  RecordingModelHost host;
  auto model = CreateModel({});
  wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(c.obj.size() + libraryBytes));
  if (LoadObj(host, *model, platform::LibraryPath(dir / "a.obj"), 0) != 1) return 1;
  if (ceiling.Reached()) return 2;
  if (std::string(model->groups[0].name.CStr()) != c.group) return 3;
  const bool noted = host.lines.size() == 1 && host.lines[0].find(c.note) != std::string::npos;
  return (*c.note ? noted : host.lines.empty()) ? 0 : 4;
}

TEST(ObjReader, MaterialLibrariesAreReadOnceAndOnlyWhenTheyAreRegularFiles) {
  wz::testing::TempDir dir;
  const std::string library = BigLibrary();
  wz::testing::WriteFile(dir / "a.mtl", library);
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string spellings = "mtllib a.mtl\nmtllib ./a.mtl\nmtllib A.MTL\nmtllib .//a.mtl\n";
  const LibraryCase cases[] = {
      {"the document names itself thousands of times",
       Repeat("mtllib a.obj\n", 4000) + kTriangleOfM, "Default", ""},
      {"one library under several spellings, 2000 times", Repeat(spellings, 500) + kTriangleOfM,
       "m", ""},
      {"a device, 200 times",
       Repeat("mtllib ../../../../../../../../../dev/zero\n", 200) + kTriangleOfM, "Default",
       "zero cannot be read: not a regular file"},
      {"a FIFO", "mtllib fifo\n" + kTriangleOfM, "Default",
       "fifo cannot be read: not a regular file"},
      {"a folder", "mtllib folder\n" + kTriangleOfM, "Default",
       "folder cannot be read: not a regular file"},
      {"two libraries on one line", "mtllib missing.mtl a.mtl\n" + kTriangleOfM, "m",
       "missing.mtl cannot be read: not found"},
  };
  for (const LibraryCase& c : cases) {
    SCOPED_TRACE(c.name);
    wz::testing::WriteFile(dir / "a.obj", c.obj);
    const auto run = wz::testing::RunWithTimeout(10, [&] {
      try {
        return LoadIn(dir, c, library.size());
      } catch (...) {
        return 5;
      }
    });
    EXPECT_EQ(run.outcome, wz::testing::ChildOutcome::kFinished);
    EXPECT_EQ(run.exitCode, 0)
        << "1: refused, 2: past the memory ceiling, 3: wrong group, 4: log, 5: an exception";
  }
}

TEST(ObjReader, LibrariesOfManyMaterialsCostMemoryInProportionToTheirSize) {
  const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl used\nf 1 2 3\n";
  std::string distinct;
  for (int i = 0; distinct.size() < 4 * wz::testing::kMiB; ++i)
    distinct += "newmtl m" + std::to_string(i) + "\n";
  const std::string cases[] = {Repeat("newmtl a\n", 466034), distinct};
  for (const std::string& names : cases) {
    const std::string mtl = names + "newmtl used\nKd 0 1 0\n";
    wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(obj.size() + mtl.size()));
    Load l(obj, mtl);
    EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
    ASSERT_EQ(l.result, 1);
    EXPECT_STREQ(l.model->groups[0].name.CStr(), "used");
    EXPECT_EQ(l.model->groups[0].colour, (ColourF{0, 255, 0, 255}));
  }
}

TEST(ObjReader, VertexColoursFillTheColourPoolAndVerticesWithoutOneAreWhite) {
  // Colours from the second vertex on; the first (before any) and the third (a weight only) white.
  Load l("v 0 0 0\nv 1 0 0 1 0.5 0\nv 1 1 0 1\nv 0 1 0 0 0 2\nf 1 2 3 4\n");
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.model->vertexColoursOn, 1);
  ASSERT_EQ(l.model->colourCount, 4);
  EXPECT_EQ(l.model->colours[0], (ColourF{255, 255, 255, 255}));
  EXPECT_EQ(l.model->colours[1], (ColourF{255, 127.5f, 0, 255}));
  EXPECT_EQ(l.model->colours[2], (ColourF{255, 255, 255, 255}));
  EXPECT_EQ(l.model->colours[3], (ColourF{0, 0, 255, 255}));  // clamped to 1
  for (int c = 0; c < 4; ++c)
    EXPECT_EQ(l.model->polygons[0].corners[size_t(c)].colour,
              l.model->polygons[0].corners[size_t(c)].position);
  Load plain(kObj, kMtl);
  EXPECT_EQ(plain.model->vertexColoursOn, 0);
  EXPECT_EQ(plain.model->colourCount, 0);
  // Textures of OBJ models keep their black texels.
  EXPECT_EQ(plain.model->texturesUnkeyed, 1);
}

TEST(ObjReader, Utf16DocumentsInEitherByteOrderReadAsTheirUtf8Text) {
  const std::string name = "caf\xC3\xA9 \xF0\x9F\x98\x80";
  const std::string text = kObj + "usemtl " + name + "\nf 1 2 3\n";
  const std::string mtl = kMtl + "newmtl " + name + "\nKd 0 1 0\n";
  Load utf8(text, mtl);
  ASSERT_EQ(utf8.result, 1);
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    std::u16string wide = u"\uFEFF";
    for (size_t i = 0; i < text.size();) {  // the UTF-8 text decoded by hand
      const uint8_t c = uint8_t(text[i]);
      const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      uint32_t code = n == 1 ? c : c & (0x3F >> (n - 1));
      for (int k = 1; k < n; ++k)
        code = code << 6 | (uint8_t(text[i + size_t(k)]) & 0x3F);
      i += size_t(n);
      if (code >= 0x10000) {
        wide += char16_t(0xD800 + ((code - 0x10000) >> 10));
        wide += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        wide += char16_t(code);
      }
    }
    std::string bytes;
    for (char16_t u : wide) {
      const char lo = char(u & 0xFF), hi = char(u >> 8);
      bytes += little ? std::string{lo, hi} : std::string{hi, lo};
    }
    Load l(bytes, mtl);
    ASSERT_EQ(l.result, 1);
    ASSERT_EQ(l.model->groupCount, 4);
    EXPECT_EQ(l.model->polygonCount, utf8.model->polygonCount);
    EXPECT_TRUE(std::equal(l.model->polygons.begin(), l.model->polygons.end(),
                           utf8.model->polygons.begin(), utf8.model->polygons.end()));
    EXPECT_EQ(l.model->positions[5], utf8.model->positions[5]);
    EXPECT_STREQ(l.model->groups[2].name.CStr(), utf8.model->groups[2].name.CStr());
  }
}

// A U-shaped face, its reverse, and a quad that folds.
TEST(ObjReader, ConcaveFacesAreSplitAlongTheirOutline) {
  Load l(
      "v 0 0 0\nv 3 0 0\nv 3 3 0\nv 2 3 0\nv 2 1 0\nv 1 1 0\nv 1 3 0\nv 0 3 0\n"
      "f 1 2 3 4 5 6 7 8\nf 8 7 6 5 4 3 2 1\nf 1 2 6 4\n");
  ASSERT_EQ(l.result, 1);
  ASSERT_EQ(l.model->polygonCount, 6 + 6 + 1);
  for (int face = 0; face < 2; ++face) {
    double area = 0;
    for (int t = 6 * face; t < 6 * face + 6; ++t) {
      const auto c = l.Corners(t);
      const Vec3 a = l.model->positions[size_t(c[0])], b = l.model->positions[size_t(c[1])],
                 d = l.model->positions[size_t(c[2])];
      const double z = double(b.x - a.x) * (d.y - a.y) - double(b.y - a.y) * (d.x - a.x);
      EXPECT_LE(z * (face == 0 ? 1 : -1), 0.0) << t;  // reversed corners: each faces as the face
      area += std::fabs(z) / 2;
    }
    EXPECT_FLOAT_EQ(area, 700.0f);  // 7 square units, × 10 on each axis
  }
  // Reversed, the quad runs over positions 3 5 1 0 and folds at its second corner: it starts
  // there, so that its fan splits on the diagonal through the fold.
  EXPECT_EQ(l.Corners(12), (std::vector<int>{5, 1, 0, 3}));
}

TEST(ObjReader, SampleFilesWithFacesLoadSoundModels) {
  size_t loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/share/assimp/models/OBJ")) {
    if (entry.path().extension() != ".obj") continue;
    SCOPED_TRACE(entry.path().string());
    RecordingModelHost host;
    auto model = CreateModel({});
    const int result = LoadObj(host, *model, platform::LibraryPath(entry.path().string()), 0);
    auto fault = CheckModelInvariants(*model);
    ASSERT_FALSE(fault) << fault->message;
    loaded += result == 1 && model->polygonCount > 0;
  }
  EXPECT_GE(loaded, 15u);
}

}  // namespace
}  // namespace wz
