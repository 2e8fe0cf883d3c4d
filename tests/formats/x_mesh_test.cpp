#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/library.h"
#include "formats/formats.h"
#include "model/model_invariants.h"
#include "model/test_models.h"
#include "platform/d3dx/texture_file.h"
#include "platform/d3dx/x_file.h"
#include "platform/d3dx/x_test_writer.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using namespace d3dx;
using namespace d3dx::xtest;
using platform::Utf8ToCp932;
using testing::MakeMeshModel;

void ExpectSound(const Model& m) {
  auto fault = CheckModelInvariants(m);
  EXPECT_FALSE(fault) << fault->message;
}

// ---- Export: SaveX, read back through the D3DX layer -------------------------------------------

struct Exported {
  int result = 0;
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
  std::string file;
  RecordingModelHost host;
};

Exported Export(const Model& model) {
  testing::TempDir dir;
  const std::string path = platform::LibraryPath(dir / "out.x");
  Exported e;
  e.result = SaveX(e.host, model, path);
  e.file = testing::ReadFile(dir / "out.x");
  if (e.result == 1) {
    EXPECT_EQ(D3DXLoadMeshFromX(path, D3DXMESH_SYSTEMMEM, e.mesh, e.materials), S_OK);
  }
  return e;
}

TEST(SaveX, QuadBecomesAFanOfTwoTrianglesWithOneVertexPerCorner) {
  auto m = MakeMeshModel({{10, -5, 2.5f}, {5, 0, 0}, {5, 5, 0}, {0, 5, 0}}, {{0, 1, 2, 3}});
  // Normals and UVs come from their own pools by their own indices.
  m->normals = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
  m->normalCount = 3;
  m->uvs = {{0.25f, 0.5f}, {0.75f, 1}};
  m->uvCount = 2;
  const int normalOf[4] = {2, 1, 0, 2}, uvOf[4] = {1, 0, 1, 0};
  for (int c = 0; c < 4; ++c) {
    m->polygons[0].corners[size_t(c)].normal = normalOf[c];
    m->polygons[0].corners[size_t(c)].uv = uvOf[c];
  }
  Exported e = Export(*m);
  ASSERT_EQ(e.result, 1);
  EXPECT_EQ(e.file.substr(0, 16), "xof 0303bin 0032");
  ASSERT_EQ(e.mesh->GetNumFaces(), 2u);
  ASSERT_EQ(e.mesh->GetNumVertices(), 6u);
  const int cornerOf[6] = {0, 1, 2, 0, 2, 3};
  for (uint32_t v = 0; v < 6; ++v) {
    EXPECT_EQ(e.mesh->Index(v), v);
    const Vec3 p = m->positions[size_t(cornerOf[v])];
    EXPECT_EQ(e.mesh->Position(v), (std::array<float, 3>{p.x / 5, p.y / 5, p.z / 5}));
    const Vec3 n = m->normals[size_t(normalOf[cornerOf[v]])];
    EXPECT_EQ(e.mesh->Normal(v), (std::array<float, 3>{n.x, n.y, n.z}));
    const Uv uv = m->uvs[size_t(uvOf[cornerOf[v]])];
    EXPECT_EQ(e.mesh->TexCoord(v), (std::array<float, 2>{uv.u, uv.v}));
  }
  EXPECT_EQ(e.mesh->Position(0), (std::array<float, 3>{2, -1, 0.5f}));
}

// Slots 1 (a name without state 1), 2 "stone.bmp" and 3 "wood.bmp"; the model's alpha is 0.2.
// Group 0 shows slot 2, group 1 is red, half transparent and shiny, group 2 has no face, group 3
// names slot 1 and group 4 slot 3; polygons of groups 3, 0, 1, 0 (a quad) and 4.
std::unique_ptr<Model> GroupsModel() {
  auto m = MakeMeshModel({{0, 0, 0}, {5, 0, 0}, {5, 5, 0}, {0, 5, 0}},
                         {{0, 1, 2}, {0, 2, 1}, {1, 2, 3}, {0, 1, 2, 3}, {3, 2, 1}});
  m->groups.resize(5, NewGroup());
  m->groupCount = 5;
  m->groups[0].textureSlot = 2;
  m->groups[1].colour = {255, 0, 0, 127.5f};
  m->groups[1].specularOn = 1;
  m->groups[1].specularColour = {255, 51, 0};
  m->groups[3].textureSlot = 1;
  m->groups[4].textureSlot = 3;
  const int32_t group[5] = {3, 0, 1, 0, 4};
  for (int p = 0; p < 5; ++p)
    m->polygons[size_t(p)].group = group[p];
  m->textureSlots.resize(4);
  const std::pair<int32_t, const char*> slots[] = {
      {0, "old.bmp"}, {1, "stone.bmp"}, {1, "wood.bmp"}};
  for (size_t s = 0; s < 3; ++s) {
    m->textureSlots[s + 1].state = slots[s].first;
    m->textureSlots[s + 1].fileName.Set(slots[s].second);
  }
  m->textureSlotCount = 4;
  m->colour = {255, 255, 255, 51};
  return m;
}

TEST(SaveX, OneMaterialPerGroupInUseWithColourSpecularAndTexture) {
  auto m = GroupsModel();
  Exported e = Export(*m);
  ASSERT_EQ(e.result, 1);
  struct Want {
    D3DCOLORVALUE diffuse;
    D3DCOLORVALUE specular;  // the file has no alpha: read as 1
    float power;
    std::string texture;
  };
  const float grey = 200 / 255.0f, alpha = 51 / 255.0f;
  const Want want[] = {
      {{grey, grey, grey, alpha}, {0, 0, 0, 1}, 0, "stone.bmp"},
      {{1, 0, 0, 0.5f * alpha}, {1, 0.2f, 0, 1}, 20, ""},
      {{grey, grey, grey, alpha}, {0, 0, 0, 1}, 0, ""},
      {{grey, grey, grey, alpha}, {0, 0, 0, 1}, 0, "wood.bmp"},
  };
  ASSERT_EQ(e.materials.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); ++i) {
    SCOPED_TRACE(i);
    const D3DMATERIAL9& mat = e.materials[i].MatD3D;
    EXPECT_NEAR(mat.Diffuse.r, want[i].diffuse.r, 1e-6f);
    EXPECT_NEAR(mat.Diffuse.a, want[i].diffuse.a, 1e-6f);
    EXPECT_NEAR(mat.Specular.g, want[i].specular.g, 1e-6f);
    EXPECT_EQ(mat.Specular.r, want[i].specular.r);
    EXPECT_EQ(mat.Specular.a, 1);
    EXPECT_EQ(mat.Power, want[i].power);
    EXPECT_EQ(mat.Emissive, (D3DCOLORVALUE{0, 0, 0, 1}));
    EXPECT_EQ(e.materials[i].textureFilename, want[i].texture);
  }
  // Faces in polygon order, the quad as two; the faces of group g name material g, g - 1 past
  // the unused group 2.
  EXPECT_EQ(std::vector<DWORD>(e.mesh->AttributeBuffer().begin(), e.mesh->AttributeBuffer().end()),
            (std::vector<DWORD>{2, 0, 1, 0, 0, 3}));
  // Without corner colours drawn, the file holds none.
  EXPECT_EQ(e.mesh->GetFVF() & D3DFVF_DIFFUSE, 0u);
}

// An independent reader (Debian's assimp-utils) finds every material with its texture, and the
// vertex colours (its PLY export lists them per vertex).
TEST(SaveX, IndependentReaderSeesTheMaterialsAndVertexColours) {
  if (testing::RunProgram("command -v assimp").exitCode != 0) GTEST_SKIP() << "no assimp";
  testing::TempDir dir;
  auto m = GroupsModel();
  m->vertexColoursOn = 1;
  m->colours = {{255, 0, 0, 255}, {0, 51, 255, 255}};
  m->colourCount = 2;
  m->polygons[4].corners[1].colour = 1;  // one corner of the last face is blue-ish
  RecordingModelHost host;
  ASSERT_EQ(SaveX(host, *m, platform::LibraryPath(dir / "out.x")), 1);
  const std::string info = testing::RunProgram("assimp info '" + dir / "out.x" + "'").output;
  EXPECT_NE(info.find("Materials:          4\n"), std::string::npos) << info;
  EXPECT_NE(info.find("'stone.bmp'"), std::string::npos) << info;
  EXPECT_NE(info.find("'wood.bmp'"), std::string::npos) << info;
  ASSERT_EQ(testing::RunProgram("assimp export '" + dir / "out.x" + "' '" + dir / "out.ply" + "'")
                .exitCode,
            0);
  const std::string ply = testing::ReadFile(dir / "out.ply");
  EXPECT_NE(ply.find("property uchar red"), std::string::npos) << ply;
  // Model alpha 51 scales the drawn alpha.
  EXPECT_NE(ply.find(" 255 0 0 51\n"), std::string::npos) << ply;
  EXPECT_NE(ply.find(" 0 51 255 51\n"), std::string::npos) << ply;
}

TEST(SaveX, RefusesWhatItCannotWriteAndKeepsAnEarlierFile) {
  testing::TempDir dir;
  testing::WriteFile(dir / "old.x", "earlier");
  auto good = MakeMeshModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  auto empty = MakeMeshModel({}, {});
  auto broken = MakeMeshModel({{0, 0, 0}}, {{0, 0, 7}});  // a corner beyond the positions
  struct Case {
    const Model* model;
    std::string path;
  } cases[] = {{empty.get(), dir / "old.x"},
               {broken.get(), dir / "old.x"},
               {good.get(), dir / "missing/new.x"}};
  for (const Case& c : cases) {
    RecordingModelHost host;
    const std::string path = platform::LibraryPath(c.path);
    EXPECT_EQ(SaveX(host, *c.model, path), -1) << c.path;
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0].rfind("*** LoadError *** " + path + " : ", 0), 0u) << host.lines[0];
  }
  EXPECT_EQ(testing::ReadFile(dir / "old.x"), "earlier");
}

// ---- Import: LoadX ------------------------------------------------------------------------------

struct Imported {
  int result = 0;
  std::unique_ptr<Model> model = CreateModel({});
  RecordingModelHost host;
};

void Import(Imported& r, const std::vector<uint8_t>& file) {
  r.result = LoadXFromMemory(r.host, *r.model, "in.x", file, 0);
  ExpectSound(*r.model);
}

// A text X file of one mesh: a triangle strip of `faces` faces over positions (i, i % 2, 0).
std::vector<uint8_t> TextFile(size_t faces, std::vector<Node> children) {
  std::vector<V3> pos;
  std::vector<Face> f;
  for (size_t i = 0; i < faces + 2; ++i)
    pos.push_back({double(i), double(i % 2), 0});
  for (uint32_t i = 0; i < faces; ++i)
    f.push_back({i, i + 1, i + 2});
  return Writer(Flavour::Text).Write({MeshNode("m", pos, f, std::move(children))});
}

Node Mat(std::array<double, 4> diffuse, const char* texture = nullptr) {
  return MaterialNode("", diffuse, 0, {0, 0, 0}, {0, 0, 0}, texture);
}

TEST(LoadX, MaterialsBecomeGroupsAndTexturedOnesGetSlots) {
  Imported r;
  Import(r, TextFile(5, {MaterialListNode(5, {0, 1, 2, 3, 4},
                                          {Mat({0.2, 0.4, 0.6, 0.8}), Mat({1, 0, 0, 1}, "wood.bmp"),
                                           Mat({1, 1, 1, 1}, "tex\\a.b\\bark"),
                                           Mat({1, 1, 1, 1}, "noext"), Mat({1, 1, 1, 1}, "")})}));
  ASSERT_EQ(r.result, 1);
  const Model& m = *r.model;
  ASSERT_EQ(m.groupCount, 5);
  EXPECT_EQ(m.groups[0].name.View(), Utf8ToCp932("グループ"));  // untextured: name kept
  EXPECT_EQ(m.groups[0].colour, (ColourF{0.2f * 255, 0.4f * 255, 0.6f * 255, 0.8f * 255}));
  EXPECT_EQ(m.groups[1].colour, (ColourF{255, 0, 0, 255}));
  const char* names[] = {"wood", "tex\\a", ""};
  const char* files[] = {"wood.bmp", "tex\\a.b\\bark", "noext"};
  for (int g = 1; g <= 3; ++g) {
    EXPECT_EQ(m.groups[size_t(g)].name.View(), names[g - 1]);
    EXPECT_EQ(m.groups[size_t(g)].textureSlot, g);
    EXPECT_EQ(m.textureSlots[size_t(g)].state, 1);
    EXPECT_EQ(m.textureSlots[size_t(g)].fileName.View(), files[g - 1]);
  }
  EXPECT_EQ(m.groups[4].textureSlot, 0);
  for (int g = 0; g < 5; ++g)
    EXPECT_EQ(m.groups[size_t(g)].parameterByte, 10);
  EXPECT_EQ(m.textureSlotCount, 4);
  EXPECT_EQ(r.host.textureLoads, (std::vector<std::pair<int32_t, std::string>>{
                                     {1, "wood.bmp"}, {2, "tex\\a.b\\bark"}, {3, "noext"}}));
  for (int f = 0; f < 5; ++f)
    EXPECT_EQ(m.polygons[size_t(f)].group, f);
}

TEST(LoadX, TexturesLoadThroughTheLibraryAndEveryGroupStartsFromTheDefaults) {
  testing::TempDir dir;
  const uint8_t white[4 * 2 * 4] = {0xFF};
  const auto bmp = EncodeBmp32(4, 2, white, 16);
  testing::WriteFile(dir / "wood.bmp", std::string(bmp.begin(), bmp.end()));
  // The fourth names its texture with the exporter's folders; the file lies beside the model.
  const auto x = TextFile(4, {MaterialListNode(4, {0, 1, 2, 3},
                                               {Mat({1, 0, 0, 1}), Mat({0, 1, 0, 1}, "wood.bmp"),
                                                Mat({0, 0, 1, 1}, "missing.bmp"),
                                                Mat({1, 1, 1, 1}, "C:\\art\\wood.bmp")})});
  testing::WriteFile(dir / "m.x", std::string(x.begin(), x.end()));

  std::vector<std::string> lines;  // outlives the library, which logs its teardown
  Library library;
  library.AttachLogSink([&](const std::string& l) { lines.push_back(l); });
  platform::script::SetMessageBoxEcho(false);
  testing::CurrentDirectoryGuard guard;
  std::filesystem::current_path(dir.path());  // texture names are relative to the model's folder
  const ModelId id = library.Model3_Load(-1, "m.x");
  platform::script::SetMessageBoxEcho(true);
  ASSERT_GE(id, 0);
  const Model& m = *library.Model3_Get(id);
  ASSERT_EQ(m.textureSlotCount, 4);
  EXPECT_EQ(m.textureSlots[3].fileName.View(), "C:\\art\\wood.bmp");
  EXPECT_EQ(m.textureSlots[3].width, 4);
  EXPECT_NE(library.Model3_Runtime(id)->textures[3], nullptr);
  // The present texture is loaded into its slot; the missing one logs its line.
  EXPECT_EQ(m.textureSlots[1].width, 4);
  EXPECT_EQ(m.textureSlots[1].height, 2);
  EXPECT_NE(library.Model3_Runtime(id)->textures[1], nullptr);
  EXPECT_EQ(library.Model3_Runtime(id)->textures[2], nullptr);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Utf8ToCp932("*** ERROR *** missing.bmp Loadできませんでした。")),
            lines.end());
  // Every group is drawable: the new-group values, then the material's own.
  const Group defaults = NewGroup();
  ASSERT_EQ(m.groupCount, 4);
  for (int g = 0; g < 4; ++g) {
    EXPECT_EQ(m.groups[size_t(g)].shading, defaults.shading) << g;
    EXPECT_EQ(m.groups[size_t(g)].specularColour, defaults.specularColour) << g;
    EXPECT_EQ(m.groups[size_t(g)].parameterFloats, defaults.parameterFloats) << g;
    EXPECT_EQ(m.groups[size_t(g)].parameterByte, 10) << g;
  }
  EXPECT_EQ(m.groups[2].colour, (ColourF{0, 0, 255, 255}));
}

TEST(LoadX, TextureSlotsStopAt256AndMaterialsAt256) {
  Imported r;
  GrowTo(r.model->textureSlots, 255);
  r.model->textureSlotCount = 255;
  std::vector<Node> mats(300, Mat({1, 1, 1, 1}, "t.bmp"));
  Import(r, TextFile(3, {MaterialListNode(300, {299, 1, 0}, mats)}));
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.model->groupCount, 256);
  EXPECT_EQ(r.model->textureSlotCount, 256);
  EXPECT_EQ(r.host.textureLoads.size(), 1u);
  // Faces come sorted by material; one whose material was not taken falls to group 0.
  EXPECT_EQ(r.model->polygons[0].group, 0);
  EXPECT_EQ(r.model->polygons[1].group, 1);
  EXPECT_EQ(r.model->polygons[2].group, 0);
}

TEST(LoadX, FacesAreSortedByMaterialAndCornersShareTheVertexIndex) {
  Imported r;
  r.model->colour = {1, 2, 3, 4};
  // Quads of an earlier model in the pool: the faces read over them keep nothing of theirs.
  Polygon stale{4, 7, {}, 7, {7, 7, 7}};
  stale.corners.fill({7, 7, 7, 7});
  r.model->polygons.assign(6, stale);
  Import(r, TextFile(4, {MaterialListNode(2, {1, 0, 1, 0}, {Mat({1, 1, 1, 1}), Mat({1, 1, 1, 1})}),
                         NormalsNode({{0, 0, 1}}, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}})}));
  ASSERT_EQ(r.result, 1);
  const Model& m = *r.model;
  ASSERT_EQ(m.polygonCount, 4);
  // File faces 1 and 3 (material 0) first, then 0 and 2; face f starts at position f.
  const int firstPosition[4] = {1, 3, 0, 2};
  for (int f = 0; f < 4; ++f) {
    const Polygon& p = m.polygons[size_t(f)];
    EXPECT_EQ(p.cornerCount, 3);
    EXPECT_EQ(p.group, f < 2 ? 0 : 1);
    const Corner& c = p.corners[0];
    EXPECT_EQ(m.positions[size_t(c.position)].x, float(firstPosition[f]));
    EXPECT_EQ(c.normal, c.position);
    EXPECT_EQ(c.colour, c.position);
    EXPECT_EQ(c.uv, c.position);
    EXPECT_EQ(p.corners[3], Corner{});
  }
  EXPECT_EQ(m.normalCount, m.positionCount);
  EXPECT_EQ(m.normals[0], (Vec3{0, 0, 1}));
  EXPECT_EQ(m.colour, (ColourF{255, 255, 255, 255}));
  // DeriveNormals ran: the strip alternates its facing.
  EXPECT_EQ(m.polygons[0].faceNormal.z, -m.polygons[2].faceNormal.z);
  EXPECT_NE(m.polygons[0].faceNormal.z, 0);
}

TEST(LoadX, VertexColoursWithoutAlphaAreWhite) {
  Imported r;
  Import(r, TextFile(2, {ColorsNode({{0, {0.2, 0.4, 0.6, 1}}, {1, {1, 0, 0, 0}}})}));
  ASSERT_EQ(r.result, 1);
  const Model& m = *r.model;
  EXPECT_EQ(m.colourCount, 4);
  EXPECT_EQ(m.colours[0], (ColourF{51, 102, 153, 255}));
  EXPECT_EQ(m.colours[1], (ColourF{255, 255, 255, 255}));  // alpha 0
  EXPECT_EQ(m.colours[2], (ColourF{255, 255, 255, 255}));  // not in the list
  // Without a material list: one group that every polygon names.
  EXPECT_EQ(m.groupCount, 1);
  EXPECT_EQ(m.groups[0].colour, (ColourF{255, 255, 255, 255}));
}

// The signed volume the model's triangles enclose (positive when they face outwards as drawn).
double SignedVolume(const Model& m) {
  double v = 0;
  for (int32_t i = 0; i < m.polygonCount; ++i) {
    const Polygon& p = m.polygons[size_t(i)];
    for (int k = 1; k + 1 < p.cornerCount; ++k) {
      const Vec3 a = m.positions[size_t(p.corners[0].position)],
                 b = m.positions[size_t(p.corners[size_t(k)].position)],
                 c = m.positions[size_t(p.corners[size_t(k + 1)].position)];
      v += (a.x * (double(b.y) * c.z - double(b.z) * c.y) -
            a.y * (double(b.x) * c.z - double(b.z) * c.x) +
            a.z * (double(b.x) * c.y - double(b.y) * c.x)) /
           6;
    }
  }
  return v;
}

// A cube of quads, alone and under frames whose matrices mirror it (one frame, or two that mirror
// and mirror back); and a U-shaped face, which must cover its own area only.
TEST(LoadX, MirroringFramesKeepFacesFacingOutAndConcaveFacesFollowTheirOutline) {
  std::vector<V3> pos;
  for (int i = 0; i < 8; ++i)
    pos.push_back({i & 1 ? 1.0 : -1.0, i & 2 ? 1.0 : -1.0, i & 4 ? 1.0 : -1.0});
  const std::vector<Face> faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                   {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  const std::array<double, 16> mirror = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 2, 0, 0, 1};
  const std::array<double, 16> flipZ = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
  auto load = [&](std::vector<Node> nodes) {
    Imported r;
    Import(r, Writer(Flavour::Text).Write(std::move(nodes)));
    EXPECT_EQ(r.result, 1);
    return SignedVolume(*r.model);
  };
  const double plain = load({MeshNode("cube", pos, faces, {})});
  EXPECT_NEAR(std::fabs(plain), 8.0, 1e-4);
  EXPECT_NEAR(load({FrameNode("m", &mirror, {MeshNode("cube", pos, faces, {})})}), plain, 1e-4);
  EXPECT_NEAR(
      load({FrameNode("a", &flipZ, {FrameNode("b", &mirror, {MeshNode("cube", pos, faces, {})})})}),
      plain, 1e-4);
  EXPECT_NEAR(
      load({FrameNode("a", &flipZ, {FrameNode("b", &flipZ, {MeshNode("cube", pos, faces, {})})})}),
      plain, 1e-4);

  const std::vector<V3> u = {{0, 0, 0}, {3, 0, 0}, {3, 3, 0}, {2, 3, 0},
                             {2, 1, 0}, {1, 1, 0}, {1, 3, 0}, {0, 3, 0}};
  for (bool mirrored : {false, true}) {
    Imported r;
    const Node mesh = MeshNode("u", u, {{0, 1, 2, 3, 4, 5, 6, 7}}, {});
    Import(r, Writer(Flavour::Text).Write({mirrored ? FrameNode("m", &mirror, {mesh}) : mesh}));
    ASSERT_EQ(r.result, 1);
    ASSERT_EQ(r.model->polygonCount, 6);
    double area = 0;
    for (int32_t t = 0; t < 6; ++t) {
      const Polygon& p = r.model->polygons[size_t(t)];
      const Vec3 a = r.model->positions[size_t(p.corners[0].position)],
                 b = r.model->positions[size_t(p.corners[1].position)],
                 c = r.model->positions[size_t(p.corners[2].position)];
      area += std::fabs(double(b.x - a.x) * (c.y - a.y) - double(b.y - a.y) * (c.x - a.x)) / 2;
    }
    EXPECT_NEAR(area, 7.0, 1e-5) << mirrored;
  }
}

TEST(LoadX, FacesBeyondThePolygonCapacityOfAPreallocatedModelAreCutWithALogLine) {
  std::unique_ptr<Mesh> mesh;
  ASSERT_EQ(Mesh::Create(70000, 3, D3DXMESH_MANAGED, D3DFVF_XYZ, mesh), S_OK);
  mesh->SetPosition(1, {1, 0, 0});
  mesh->SetPosition(2, {0, 1, 0});
  for (size_t i = 0; i < 70000 * 3; ++i)
    mesh->SetIndex(i, uint32_t(i % 3));
  std::vector<uint8_t> file;
  ASSERT_EQ(D3DXSaveMeshToXInMemory(*mesh, {}, D3DXF_FILEFORMAT_BINARY, file), S_OK);
  // A preallocated model keeps its capacity; a model without preallocated pools takes all.
  Imported cut;
  cut.model = CreateModel(testing::Options("", false, true));
  Import(cut, file);
  ASSERT_EQ(cut.result, 1);
  EXPECT_EQ(cut.model->polygonCount, 65000);
  EXPECT_EQ(cut.model->polygons.size(), 65000u);
  EXPECT_EQ(
      cut.host.lines,
      std::vector<std::string>{Utf8ToCp932("in.x : ポリゴン数 70000 ( 最大65000を超えています )")});
  Imported whole;
  Import(whole, file);
  ASSERT_EQ(whole.result, 1);
  EXPECT_EQ(whole.model->polygonCount, 70000);
  EXPECT_EQ(whole.model->polygons[69999].corners[2].position, 2);
  EXPECT_TRUE(whole.host.lines.empty());
}

TEST(LoadX, BonesKeepTheirFirstKeyListBroughtToSixteenKeys) {
  Imported r;
  Model& m = *r.model;
  m.boneCount = 3;
  BoneKey key = kRestKey;
  key.frame = 7;
  m.bones[1].keyLists = {std::vector<BoneKey>(20, key), std::vector<BoneKey>(3)};
  m.bones[2].keyLists = {{key, key}, {}};
  m.motions.push_back(NewMotion());
  Import(r, TextFile(1, {}));
  ASSERT_EQ(r.result, 1);
  for (int b = 0; b < 3; ++b)
    ASSERT_EQ(m.bones[size_t(b)].keyLists.size(), 1u);
  EXPECT_EQ(m.bones[0].keyLists[0], std::vector<BoneKey>(16, kRestKey));
  EXPECT_EQ(m.bones[1].keyLists[0], std::vector<BoneKey>(16, key));
  std::vector<BoneKey> filled(16, kRestKey);
  filled[0] = filled[1] = key;
  EXPECT_EQ(m.bones[2].keyLists[0], filled);
  EXPECT_EQ(m.motions.size(), 1u);
  EXPECT_EQ(m.bones[3].keyLists.size(), 1u);  // not in use: untouched (one rest key)
  EXPECT_EQ(m.bones[3].keyLists[0].size(), 1u);
}

TEST(LoadX, RefusedFilesLeaveTheModelAsItWas) {
  const std::vector<uint8_t> good =
      TextFile(3, {MaterialListNode(1, {0}, {Mat({1, 1, 1, 1}, "a.bmp")})});
  std::vector<std::vector<uint8_t>> bad = {Bytes("not an x file"),
                                           TextFile(1, {NormalsNode({{0, 0, 1}}, {{0, 0, 5}})})};
  // Every prefix that stops before the closing brace of the mesh.
  const size_t lastBrace = std::string(good.begin(), good.end()).rfind('}');
  for (size_t n = 0; n <= lastBrace; ++n)
    bad.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(n));
  const auto before = CreateModel({});
  for (const auto& file : bad) {
    Imported r;
    Import(r, file);
    ASSERT_EQ(r.result, E_FAIL) << std::string(file.begin(), file.end());
    ASSERT_EQ(r.host.lines.size(), 1u);
    EXPECT_EQ(r.host.lines[0].rfind("*** LoadError *** in.x : ", 0), 0u);
    EXPECT_GT(r.host.lines[0].size(), std::string("*** LoadError *** in.x : ").size());
    ASSERT_TRUE(*r.model == *before);
    EXPECT_TRUE(r.host.textureLoads.empty());
  }
  RecordingModelHost host;
  auto m = CreateModel({});
  EXPECT_EQ(LoadX(host, *m, "\\no\\such\\file.x", 0), E_FAIL);
  EXPECT_EQ(host.lines.size(), 1u);
  EXPECT_TRUE(*m == *before);
}

// ---- Both directions ----------------------------------------------------------------------------

TEST(XRoundTrip, SavedModelLoadsWithItsTrianglesAndPositionsOverFive) {
  // The 2-corner polygon gives no triangle.
  auto m = MakeMeshModel({{10, -5, 2.5f}, {5, 0, 0}, {5, 5, 0}, {0, 5, 0}, {-5, -5, -5}},
                         {{0, 1, 2, 3}, {1, 3}, {4, 0, 2}});
  testing::TempDir dir;
  const std::string path = platform::LibraryPath(dir / "model.X");
  RecordingModelHost host;
  ASSERT_EQ(SaveX(host, *m, path), 1);
  Imported r;
  ASSERT_EQ(LoadX(r.host, *r.model, path, 0), 1);
  ExpectSound(*r.model);
  EXPECT_EQ(r.model->fileName.View(), path);
  const std::vector<std::vector<int>> triangles = {{0, 1, 2}, {0, 2, 3}, {4, 0, 2}};
  ASSERT_EQ(r.model->polygonCount, 3);
  for (size_t f = 0; f < 3; ++f) {
    for (size_t k = 0; k < 3; ++k) {
      const Vec3 want = m->positions[size_t(triangles[f][k])];
      const Vec3 got = r.model->positions[size_t(r.model->polygons[f].corners[k].position)];
      EXPECT_EQ(got, (Vec3{want.x / 5, want.y / 5, want.z / 5})) << f << " " << k;
    }
  }
}

// Model -> SaveX -> LoadX keeps the groups in use with their drawn colours and texture names, each
// face's group (the import sorts faces by group, keeping their order) and, when the model draws
// them, the corner colours times the model colour.
TEST(XRoundTrip, GroupsTexturesFaceGroupsAndCornerColoursComeBack) {
  for (const bool colours : {false, true}) {
    SCOPED_TRACE(colours ? "corner colours" : "group colours");
    auto m = GroupsModel();
    m->colour = {255, 255, 255, 255};
    m->vertexColoursOn = colours ? 1 : 0;
    m->colours = {{255, 0, 0, 255}, {0, 51, 255, 255}, {10, 20, 30, 40}};
    m->colourCount = 3;
    for (int p = 0; p < m->polygonCount; ++p)
      for (int c = 0; c < 4; ++c)
        m->polygons[size_t(p)].corners[size_t(c)].colour = (p + c) % 3;
    if (colours) m->colour = {255, 255, 255, 127.5f};  // drawn colours are times the model's
    Exported e = Export(*m);
    ASSERT_EQ(e.result, 1);
    Imported r;
    Import(r, std::vector<uint8_t>(e.file.begin(), e.file.end()));
    ASSERT_EQ(r.result, 1);
    const Model& back = *r.model;

    const int32_t groupOf[] = {0, 1, 3, 4};  // the loaded groups, from the groups in use
    ASSERT_EQ(back.groupCount, 4);
    for (int32_t g = 0; g < 4; ++g) {
      const Group& was = m->groups[size_t(groupOf[g])];
      const ColourF want = colours ? ColourF{255, 255, 255, 127.5f} : was.colour;
      EXPECT_EQ(back.groups[size_t(g)].colour, want) << g;
      const int32_t slot = back.groups[size_t(g)].textureSlot;
      const char* texture = groupOf[g] == 0 ? "stone.bmp" : groupOf[g] == 4 ? "wood.bmp" : "";
      EXPECT_EQ(slot > 0 ? back.textureSlots[size_t(slot)].fileName.View() : "", texture) << g;
    }
    EXPECT_EQ(back.vertexColoursOn, colours ? 1 : 0);

    // The written triangles, stably sorted by loaded group.
    struct Corner3 {
      int32_t group;
      std::array<int32_t, 3> corners;  // index into the original polygon's corners
      int32_t polygon;
    };
    std::vector<Corner3> want = {{3, {0, 1, 2}, 0}, {0, {0, 1, 2}, 1}, {1, {0, 1, 2}, 2},
                                 {0, {0, 1, 2}, 3}, {0, {0, 2, 3}, 3}, {4, {0, 1, 2}, 4}};
    for (Corner3& t : want)
      t.group = int32_t(std::find(std::begin(groupOf), std::end(groupOf), t.group) - groupOf);
    std::stable_sort(want.begin(), want.end(),
                     [](const Corner3& a, const Corner3& b) { return a.group < b.group; });
    ASSERT_EQ(back.polygonCount, int32_t(want.size()));
    for (size_t f = 0; f < want.size(); ++f) {
      const Polygon& got = back.polygons[f];
      EXPECT_EQ(got.group, want[f].group) << f;
      for (int k = 0; k < 3; ++k) {
        const Corner& was =
            m->polygons[size_t(want[f].polygon)].corners[size_t(want[f].corners[k])];
        const Vec3 p = m->positions[size_t(was.position)];
        EXPECT_EQ(back.positions[size_t(got.corners[k].position)],
                  (Vec3{p.x / 5, p.y / 5, p.z / 5}));
        const ColourF c = m->colours[size_t(was.colour)];
        if (colours) {  // the import takes every colour opaque
          EXPECT_EQ(back.colours[size_t(got.corners[k].colour)], (ColourF{c.r, c.g, c.b, 255}));
        }
      }
    }
  }
}

TEST(XRoundTrip, MoreThan65535VerticesAreWrittenWith32BitIndicesAndLoadWhole) {
  std::vector<std::vector<int>> faces(22000, {0, 1, 2});  // 66000 export vertices
  auto m = MakeMeshModel({{0, 0, 0}, {5, 0, 0}, {0, 5, 0}}, faces);
  Exported e = Export(*m);
  ASSERT_EQ(e.result, 1);
  EXPECT_TRUE(e.mesh->Uses32BitIndices());
  Imported r;
  Import(r, std::vector<uint8_t>(e.file.begin(), e.file.end()));
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.model->positionCount, 66000);
  EXPECT_EQ(r.model->polygons[21999].corners[2].position, 65999);
  EXPECT_EQ(r.model->positions[65998], (Vec3{1, 0, 0}));
  EXPECT_TRUE(r.host.lines.empty());
}

}  // namespace
}  // namespace wz
