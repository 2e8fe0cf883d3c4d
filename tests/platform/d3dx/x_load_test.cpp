#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/d3dx/x_file.h"
#include "platform/d3dx/x_test_writer.h"
#include "support/memory_ceiling.h"

namespace wz::d3dx {
namespace {

using namespace xtest;

struct Loaded {
  HRESULT hr = S_OK;
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
  XStatus status;
};

Loaded Load(const std::vector<uint8_t>& bytes, DWORD options = D3DXMESH_SYSTEMMEM) {
  Loaded r;
  r.hr = D3DXLoadMeshFromXInMemory(bytes, options, r.mesh, r.materials, &r.status);
  if (r.hr == S_OK) {
    std::string why;
    EXPECT_TRUE(CheckMeshInvariants(*r.mesh, r.materials.size(), &why)) << why;
  } else {
    EXPECT_EQ(r.mesh, nullptr);
    EXPECT_TRUE(r.materials.empty());
    EXPECT_NE(r.status.error, XError::None);
    EXPECT_FALSE(r.status.message.empty());
  }
  return r;
}

Loaded LoadText(const std::string& body) {
  return Load(Bytes("xof 0303txt 0032\n" + body));
}

std::vector<uint32_t> Indices(const Mesh& m) {
  std::vector<uint32_t> v(size_t{m.GetNumFaces()} * 3);
  for (size_t i = 0; i < v.size(); ++i)
    v[i] = m.Index(i);
  return v;
}

std::vector<DWORD> Attributes(const Mesh& m) {
  return {m.AttributeBuffer().begin(), m.AttributeBuffer().end()};
}

void ExpectNear3(const std::array<float, 3>& got, std::array<float, 3> want) {
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(got[c], want[c], 1e-5f) << "component " << c;
}

constexpr std::array<double, 16> Translate(double x, double y, double z) {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}
constexpr std::array<double, 16> Scale(double x, double y, double z) {
  return {x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1};
}

// ---------------------------------------------------------------------------------------------

TEST(XLoad, MinimalTextQuad) {
  // The minimal text file of the format notes: a quad with one shared normal, one material list
  // entry for every face, comments.
  const std::string file =
      "xof 0303txt 0032\n"
      "// a quad\n"
      "Frame Root {\n"
      " FrameTransformMatrix { 1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,"
      "0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,0.000000,1.000000;; }\n"
      " Mesh mesh0 {  # positions\n"
      "  4; 0.000000;0.000000;0.000000;, 1.000000;0.000000;0.000000;, 1.000000;1.000000;0.000000;,"
      " 0.000000;1.000000;0.000000;;\n"
      "  1; 4;0,1,2,3;;\n"
      "  MeshNormals { 1; 0.000000;0.000000;-1.000000;; 1; 4;0,0,0,0;; }\n"
      "  MeshTextureCoords { 4; 0.000000;1.000000;, 1.000000;1.000000;, 1.000000;0.000000;,"
      " 0.000000;0.000000;; }\n"
      "  MeshMaterialList { 1; 1; 0; Material { 1.000000;1.000000;1.000000;1.000000;; 0.000000;"
      " 0.000000;0.000000;0.000000;; 0.000000;0.000000;0.000000;; TextureFilename { \"tex.bmp\"; } "
      "} }\n"
      " }\n"
      "}\n";
  Loaded r = Load(Bytes(file));
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  const Mesh& m = *r.mesh;
  EXPECT_EQ(m.GetFVF(), D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
  EXPECT_FALSE(m.Uses32BitIndices());
  EXPECT_EQ(m.GetOptions(), D3DXMESH_SYSTEMMEM);
  ASSERT_EQ(m.GetNumVertices(), 4u);
  EXPECT_EQ(Indices(m), (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
  EXPECT_EQ(Attributes(m), (std::vector<DWORD>{0, 0}));
  ExpectNear3(m.Position(2), {1, 1, 0});
  for (uint32_t v = 0; v < 4; ++v)
    ExpectNear3(m.Normal(v), {0, 0, -1});
  EXPECT_EQ(m.TexCoord(1), (std::array<float, 2>{1, 1}));
  ASSERT_EQ(r.materials.size(), 1u);
  EXPECT_EQ(r.materials[0].textureFilename, "tex.bmp");
  EXPECT_EQ(r.materials[0].MatD3D.Diffuse, (D3DCOLORVALUE{1, 1, 1, 1}));
  EXPECT_TRUE(m.GetAttributeTable().empty());
}

// One scene with every feature the loader takes, written in each flavour of the format.
std::vector<Node> Scene() {
  const std::array<double, 16> translate = Translate(10, 0, 0);
  const std::array<double, 16> scale = Scale(2, 2, 2);
  Node skin = Obj("SkinWeights", "",
                  Items()
                      .S("bone{1}")
                      .I(2)
                      .I(0)
                      .I(1)
                      .F(0.5)
                      .F(0.5)
                      .F(1)
                      .F(0)
                      .F(0)
                      .F(0)
                      .F(0)
                      .F(1)
                      .F(0)
                      .F(0)
                      .F(0)
                      .F(0)
                      .F(1)
                      .F(0)
                      .F(0)
                      .F(0)
                      .F(0)
                      .F(1));
  Node decl = Obj("DeclData", "", Items().I(1).I(2).I(0).I(6).I(0).I(3).I(10).I(11).I(12));
  Node m1 = MeshNode(
      "m1", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 1, 2, 3}, {0, 3, 4}, {1, 2}},
      {NormalsNode({{0, 0, -1}, {1, 0, 0}}, {{0, 0, 0, 0}, {1, 1, 1}, {0, 0}}),
       UVNode({{0, 0}, {0.25, 0.5}, {1, 1}, {0, 1}, {0.5, 0.125}}),
       ColorsNode({{1, {1, 0.5, 0, 1}}, {4, {0, 0, 1, 0.5}}}),
       MaterialListNode(2, {0, 1, 0},
                        {Ref("Shared"), MaterialNode("Red", {1, 0, 0, 1}, 2, {1, 1, 1}, {0, 0, 0},
                                                     "red.png", "TextureFileName")}),
       skin, decl});
  Node hidden = Obj("SomeContainer", "", {},
                    {MeshNode("ignored", {{9, 9, 9}, {8, 8, 8}, {7, 7, 7}}, {{0, 1, 2}})});
  Node m2 = MeshNode("m2", {{0, 0, 5}, {1, 0, 5}, {0, 1, 5}}, {{0, 1, 2}});
  Node anim = Obj("AnimationSet", "walk", {},
                  {Obj("Animation", "", {},
                       {Ref("Root"), Obj("AnimationKey", "",
                                         Items()
                                             .I(0)
                                             .P(";")
                                             .I(1)
                                             .P(";")
                                             .I(0)
                                             .P(";")
                                             .I(4)
                                             .P(";")
                                             .F(1)
                                             .P(",")
                                             .F(0)
                                             .P(",")
                                             .F(0)
                                             .P(",")
                                             .F(0)
                                             .P(";;;"))})});
  return {
      Obj("AnimTicksPerSecond", "", Items().I(24).P(";")),
      MaterialNode("Shared", {0.5, 0.25, 1, 1}, 8, {0.125, 0.25, 0.375}, {0, 0, 0.5},
                   "tex\\wood.bmp"),
      Obj("KeyValuePair", "", Items().S("key }").S("{ value")),
      FrameNode("Root", &translate, {FrameNode("Child", &scale, {m1}), hidden}),
      m2,
      anim,
  };
}

const char* kTemplates =
    "template Mesh {\n <3D82AB44-62DA-11CF-AB39-0020AF71E433>\n DWORD nVertices;\n"
    " array Vector vertices[nVertices];\n DWORD nFaces;\n array MeshFace faces[nFaces];\n "
    "[...]\n}\n"
    "template MeshMaterialList {\n <F6F23F42-7686-11CF-8F52-0040333594A3>\n DWORD nMaterials;\n"
    " DWORD nFaceIndexes;\n array DWORD faceIndexes[nFaceIndexes];\n [Material "
    "<3D82AB4D-62DA-11CF-AB39-0020AF71E433>]\n}\n";

void ExpectScene(const Loaded& r) {
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  const Mesh& m = *r.mesh;
  EXPECT_EQ(m.GetFVF(), 338u);
  // m1: positions 0-4, then position 0 and 3 again for the triangle with the other normal and
  // material; m2: three more.
  ASSERT_EQ(m.GetNumVertices(), 10u);
  EXPECT_EQ(Indices(m), (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 5, 6, 4, 7, 8, 9}));
  EXPECT_EQ(Attributes(m), (std::vector<DWORD>{0, 0, 1, 2}));
  // Frames: scale 2 inside translate (10, 0, 0).
  ExpectNear3(m.Position(0), {10, 0, 0});
  ExpectNear3(m.Position(2), {12, 2, 0});
  ExpectNear3(m.Position(4), {10, 0, 2});
  ExpectNear3(m.Position(6), {10, 2, 0});
  ExpectNear3(m.Position(8), {1, 0, 5});  // top level: untransformed
  ExpectNear3(m.Normal(0), {0, 0, -1});
  ExpectNear3(m.Normal(5), {1, 0, 0});
  ExpectNear3(m.Normal(4), {1, 0, 0});
  ExpectNear3(m.Normal(7), {0, 0, 0});
  EXPECT_EQ(m.Diffuse(1), 0xFFFF8000u);
  EXPECT_EQ(m.Diffuse(4), 0x800000FFu);
  EXPECT_EQ(m.Diffuse(0), 0u);
  EXPECT_EQ(m.TexCoord(1), (std::array<float, 2>{0.25f, 0.5f}));
  EXPECT_EQ(m.TexCoord(6), (std::array<float, 2>{0, 1}));  // copy of position 3
  EXPECT_EQ(m.TexCoord(9), (std::array<float, 2>{0, 0}));
  ASSERT_EQ(r.materials.size(), 3u);
  EXPECT_EQ(r.materials[0].MatD3D.Diffuse, (D3DCOLORVALUE{0.5f, 0.25f, 1, 1}));
  EXPECT_EQ(r.materials[0].MatD3D.Power, 8.0f);
  EXPECT_EQ(r.materials[0].MatD3D.Specular, (D3DCOLORVALUE{0.125f, 0.25f, 0.375f, 1}));
  EXPECT_EQ(r.materials[0].MatD3D.Emissive, (D3DCOLORVALUE{0, 0, 0.5f, 1}));
  EXPECT_EQ(r.materials[0].MatD3D.Ambient, (D3DCOLORVALUE{0, 0, 0, 0}));
  EXPECT_EQ(r.materials[0].textureFilename, "tex\\wood.bmp");
  EXPECT_EQ(r.materials[1].MatD3D.Diffuse, (D3DCOLORVALUE{1, 0, 0, 1}));
  EXPECT_EQ(r.materials[1].textureFilename, "red.png");
  EXPECT_EQ(r.materials[2].MatD3D.Diffuse, (D3DCOLORVALUE{1, 1, 1, 1}));
  EXPECT_EQ(r.materials[2].textureFilename, "");
}

struct FlavourCase {
  const char* name;
  Flavour flavour;
  ListMode lists;
};

class XLoadFlavours : public ::testing::TestWithParam<FlavourCase> {};

TEST_P(XLoadFlavours, SceneLoadsToTheSameMesh) {
  const FlavourCase& c = GetParam();
  Writer w(c.flavour, c.lists);
  const auto bytes = w.Write(Scene(), kTemplates);
  Loaded r = Load(bytes);
  ExpectScene(r);
  // Byte-for-byte the same mesh as from the text file.
  Loaded text = Load(Writer(Flavour::Text).Write(Scene()));
  ASSERT_EQ(text.hr, S_OK);
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_TRUE(std::ranges::equal(r.mesh->VertexBuffer(), text.mesh->VertexBuffer()));
  EXPECT_TRUE(std::ranges::equal(r.mesh->IndexBuffer(), text.mesh->IndexBuffer()));
  EXPECT_EQ(r.materials, text.materials);
}

INSTANTIATE_TEST_SUITE_P(
    AllFlavours, XLoadFlavours,
    ::testing::Values(FlavourCase{"Text", Flavour::Text, ListMode::Merged},
                      FlavourCase{"Binary32", Flavour::Bin32, ListMode::Merged},
                      FlavourCase{"Binary32OneListPerNumber", Flavour::Bin32,
                                  ListMode::OnePerNumber},
                      FlavourCase{"Binary32IntegerTokens", Flavour::Bin32, ListMode::IntegerTokens},
                      FlavourCase{"Binary64", Flavour::Bin64, ListMode::Merged},
                      FlavourCase{"Tzip", Flavour::TZip, ListMode::Merged},
                      FlavourCase{"Bzip", Flavour::BZip, ListMode::Merged}),
    [](const ::testing::TestParamInfo<FlavourCase>& i) { return std::string(i.param.name); });

TEST(XLoad, CompressedBlocksMayReferToEarlierBlocks) {
  // A large body in many blocks, each compressed with the previous 32 KB as dictionary.
  std::vector<Node> top = Scene();
  for (int i = 0; i < 400; ++i)
    top.push_back(
        Obj("KeyValuePair", "", Items().S("padding padding padding " + std::to_string(i))));
  std::vector<uint8_t> plain = Writer(Flavour::Bin32).Write(top);
  std::vector<uint8_t> packed(plain.begin(), plain.begin() + 16);
  std::memcpy(&packed[8], "bzip", 4);
  Writer::Compress(std::vector<uint8_t>(plain.begin() + 16, plain.end()), packed, 1000,
                   /*chained=*/true);
  ExpectScene(Load(packed));
}

TEST(XLoad, FrameTransforms) {
  struct Case {
    const char* name;
    std::vector<std::array<double, 16>> frames;  // outermost first
    std::array<float, 3> position;               // of local (1, 2, 3)
    std::array<float, 3> normal;                 // of local normal (1, 1, 0) / sqrt 2
  };
  const float s = 1 / std::sqrt(2.0f);
  const Case cases[] = {
      {"identity", {}, {1, 2, 3}, {s, s, 0}},
      {"translation", {Translate(1, 2, 3)}, {2, 4, 6}, {s, s, 0}},
      // The child's matrix applies first: scale 2, then move by (10, 0, 0).
      {"nested", {Translate(10, 0, 0), Scale(2, 2, 2)}, {12, 4, 6}, {s, s, 0}},
      {"nested other order", {Scale(2, 2, 2), Translate(10, 0, 0)}, {22, 4, 6}, {s, s, 0}},
      // Non-uniform scale: normals go through the inverse transpose, (0.5, 1, 0) normalised.
      {"non-uniform", {Scale(2, 1, 1)}, {2, 2, 3}, {1 / std::sqrt(5.0f), 2 / std::sqrt(5.0f), 0}},
      // Y/Z swap as some exporters write at the root.
      {"swap", {{1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}}, {1, 3, 2}, {s, 0, s}},
      {"mirror", {Scale(-1, 1, 1)}, {-1, 2, 3}, {-s, s, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Node node = MeshNode("m", {{1, 2, 3}, {0, 0, 0}, {0, 1, 0}}, {{0, 1, 2}},
                         {NormalsNode({{s, s, 0}}, {{0, 0, 0}})});
    for (auto it = c.frames.rbegin(); it != c.frames.rend(); ++it)
      node = FrameNode("f", &*it, {node});
    Loaded r = Load(Writer(Flavour::Text).Write({node}));
    ASSERT_EQ(r.hr, S_OK) << r.status.message;
    ExpectNear3(r.mesh->Position(0), c.position);
    ExpectNear3(r.mesh->Normal(0), c.normal);
  }
}

TEST(XLoad, FrameMatrixOrderInsideTheFrame) {
  // The last matrix of a frame is used, also when it comes after the mesh.
  Loaded r = LoadText(
      "Frame f { FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,5,0,0,1;; }\n"
      " Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n"
      " FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,0,7,0,1;; } }");
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  ExpectNear3(r.mesh->Position(1), {1, 7, 0});
}

TEST(XLoad, FacesBecomeFansAroundTheirFirstCorner) {
  Node mesh =
      MeshNode("m", {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {1, 2, 0}, {0, 1, 0}, {5, 5, 5}},
               {{0, 1, 2, 3, 4}, {4, 5}, {}, {1, 2, 5}},
               {MaterialListNode(3, {2, 0, 0, 1},
                                 {MaterialNode("a", {1, 0, 0, 1}, 0, {0, 0, 0}, {0, 0, 0}),
                                  MaterialNode("b", {0, 1, 0, 1}, 0, {0, 0, 0}, {0, 0, 0}),
                                  MaterialNode("c", {0, 0, 1, 1}, 0, {0, 0, 0}, {0, 0, 0})})});
  Loaded r = Load(Writer(Flavour::Text).Write({mesh}));
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  // The pentagon is three triangles of material 2; faces of two and zero corners are dropped.
  // Position 1, 2 are used by material 2 first, so the last triangle gets copies of them.
  EXPECT_EQ(r.mesh->GetNumFaces(), 4u);
  EXPECT_EQ(Indices(*r.mesh), (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 0, 3, 4, 6, 7, 5}));
  EXPECT_EQ(Attributes(*r.mesh), (std::vector<DWORD>{2, 2, 2, 1}));
  ExpectNear3(r.mesh->Position(6), {1, 0, 0});
  ExpectNear3(r.mesh->Position(7), {2, 1, 0});
}

TEST(XLoad, CubeWithFaceNormalsGetsOneVertexPerCornerNormal) {
  // 8 positions, 6 normals, 6 quads: each corner position meets three normals.
  const std::vector<V3> pos = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                               {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  const std::vector<Face> faces = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                   {2, 3, 7, 6}, {0, 4, 7, 3}, {1, 2, 6, 5}};
  const std::vector<V3> normals = {{0, 0, -1}, {0, 0, 1},  {0, -1, 0},
                                   {0, 1, 0},  {-1, 0, 0}, {1, 0, 0}};
  std::vector<Face> nfaces;
  for (uint32_t f = 0; f < 6; ++f)
    nfaces.push_back({f, f, f, f});
  Loaded r = Load(
      Writer(Flavour::Bin32).Write({MeshNode("cube", pos, faces, {NormalsNode(normals, nfaces)})}));
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  const Mesh& m = *r.mesh;
  EXPECT_EQ(m.GetNumVertices(), 24u);
  ASSERT_EQ(m.GetNumFaces(), 12u);
  for (uint32_t v = 0; v < 8; ++v)
    ExpectNear3(m.Position(v), {float(pos[v][0]), float(pos[v][1]), float(pos[v][2])});
  for (uint32_t t = 0; t < 12; ++t) {
    const V3& n = normals[t / 2];
    for (int k = 0; k < 3; ++k) {
      const uint32_t v = m.Index(t * 3 + k);
      ExpectNear3(m.Normal(v), {float(n[0]), float(n[1]), float(n[2])});
      const V3& p = pos[faces[t / 2][k == 0 ? 0 : (t % 2) + k]];
      ExpectNear3(m.Position(v), {float(p[0]), float(p[1]), float(p[2])});
    }
  }
}

TEST(XLoad, MaterialLists) {
  const std::string tri = "3; 0;0;0;, 1;0;0;, 0;1;0;; 2; 3;0,1,2;, 3;0,2,1;;";
  struct Case {
    const char* name;
    std::string body;
    std::vector<DWORD> attributes;
    std::vector<std::string> textures;  // one per material
  };
  const Case cases[] = {
      {"no list anywhere: no materials, attribute 0", "Mesh {" + tri + "}", {0, 0}, {}},
      {"one index for every face",
       "Mesh {" + tri +
           " MeshMaterialList { 1; 1; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }",
       {0, 0},
       {""}},
      {"reference by name to a top-level material",
       "Material wood { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"w.bmp\"; } }\n"
       "Mesh {" +
           tri +
           " MeshMaterialList { 2; 2; 1,0; { wood } Material { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; } } }",
       {1, 0},
       {"w.bmp", ""}},
      {"reference by GUID",
       "Material m { <12345678-9ABC-DEF0-1234-56789abcdef0> 1;1;1;1;; 0; 0;0;0;; 0;0;0;; "
       "TextureFilename { \"g.bmp\"; } }\n"
       "Mesh {" +
           tri + " MeshMaterialList { 1; 2; 0,0; { <12345678-9abc-def0-1234-56789ABCDEF0> } } }",
       {0, 0},
       {"g.bmp"}},
      {"doubled backslashes read as one, empty name is no texture",
       "Mesh {" + tri +
           " MeshMaterialList { 2; 2; 0,1; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; "
           "TextureFilename { \"C:\\\\maps\\\\a.tga\"; } } Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; "
           "TextureFilename { \"\"; } } } }",
       {0, 1},
       {"C:\\maps\\a.tga", ""}},
      {"first texture name wins, materials past the count are ignored",
       "Mesh {" + tri +
           " MeshMaterialList { 1; 2; 0,0; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; "
           "TextureFilename { \"1.bmp\"; } TextureFilename { \"2.bmp\"; } } Material { 0;0;0;1;; "
           "0; 0;0;0;; 0;0;0;; } } }",
       {0, 0},
       {"1.bmp"}},
      {"meshes without a list get a default material in mesh order",
       "Mesh {" + tri + "}\nMesh {" + tri +
           " MeshMaterialList { 2; 2; 1,0; "
           "Material { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"r.bmp\"; } } Material { "
           "0;1;0;1;; 0; 0;0;0;; 0;0;0;; } } }\n"
           "Mesh {" +
           tri + "}",
       {0, 0, 2, 1, 3, 3},
       {"", "r.bmp", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded r = LoadText(c.body);
    ASSERT_EQ(r.hr, S_OK) << r.status.message;
    EXPECT_EQ(Attributes(*r.mesh), c.attributes);
    std::vector<std::string> textures;
    for (const auto& m : r.materials)
      textures.push_back(m.textureFilename);
    EXPECT_EQ(textures, c.textures);
  }
}

TEST(XLoad, BinaryStringsAreTakenAsTheyAre) {
  Node mesh =
      MeshNode("m", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}},
               {MaterialListNode(
                   1, {0}, {MaterialNode("", {1, 1, 1, 1}, 0, {0, 0, 0}, {0, 0, 0}, "a\\\\b")})});
  Loaded text = Load(Writer(Flavour::Text).Write({mesh}));
  Loaded bin = Load(Writer(Flavour::Bin32).Write({mesh}));
  ASSERT_EQ(text.hr, S_OK);
  ASSERT_EQ(bin.hr, S_OK);
  EXPECT_EQ(text.materials[0].textureFilename, "a\\\\b");  // written doubled, read back
  EXPECT_EQ(bin.materials[0].textureFilename, "a\\\\b");
  Loaded raw = LoadText(
      "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0; Material { "
      "1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"x\\\\\\y\"; } } } }");
  ASSERT_EQ(raw.hr, S_OK);
  EXPECT_EQ(raw.materials[0].textureFilename, "x\\\\y");  // x\\\y: one pair collapses, one stays
}

TEST(XLoad, TextLexicalVariants) {
  const std::string tri = "0;0;0;,1;0;0;,0;1;0;;";
  struct Case {
    const char* name;
    std::string body;
    std::array<float, 3> second;  // position 1
  };
  const Case cases[] = {
      {"CRLF, tabs and comments",
       "// c\r\nMesh\tm {\r\n # x { y\r\n 3;\t0;0;0;,\r\n1;0;0;, // }\r\n0;1;0;;\r\n 1; "
       "3;0,1,2;;\r\n}\r\n",
       {1, 0, 0}},
      {"bare CR line ends", "Mesh m {\r3; " + tri + "\r1; 3;0,1,2;;\r}\r", {1, 0, 0}},
      {"missing and doubled separators",
       "Mesh { 3 0 0 0 1.5 0 0 0 1 0 ;;; 1 3 0 1 2 }",
       {1.5f, 0, 0}},
      {"trailing commas", "Mesh { 3; 0;0;0;, 2;0;0;, 0;1;0;,; 1; 3;0,1,2,;,; }", {2, 0, 0}},
      {"exponents, signs, integers as floats",
       "Mesh { 3; 0;0;0;, +1e1;-2.5E-1;.5;, 0;1;0;; 1; 3;0,1,2;; }",
       {10, -0.25f, 0.5f}},
      {"old runtime non-finite spellings read as 0",
       "Mesh { 3; 0;0;0;, 1.#QNAN0;-1.#IND00;1.#INF00;, 0;1;0;; 1; 3;0,1,2;; }",
       {0, 0, 0}},
      {"names with dashes and dots, upper-case keywords",
       "TEMPLATE X { <3D82AB44-62DA-11CF-AB39-0020AF71E433> DWORD a; [ ... ] }\n"
       "Frame Anim-Torso.1 { MESH Mesh-01 { 3; " +
           tri + " 1; 3;0,1,2;; } }",
       {1, 0, 0}},
      {"code page 932 name whose trail byte is a brace",
       "Frame \x95\x7B\x83\x7D { Mesh \x95\x5B { 3; " + tri + " 1; 3;0,1,2;; } }",
       {1, 0, 0}},
      {"UTF-8 byte order mark is not part of this body, but white space is fine",
       "\n\n\n  Mesh{3;" + tri + "1;3;0,1,2;;}",
       {1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded r = LoadText(c.body);
    ASSERT_EQ(r.hr, S_OK) << r.status.message;
    ASSERT_EQ(r.mesh->GetNumVertices(), 3u);
    ExpectNear3(r.mesh->Position(1), c.second);
  }
  std::string bom = "\xEF\xBB\xBFxof 0303txt 0032\nMesh{3;" + tri + "1;3;0,1,2;;}";
  EXPECT_EQ(Load(Bytes(bom)).hr, S_OK);
}

TEST(XLoad, UnknownObjectsAreSkippedWhateverTheirSize) {
  // A skin section far larger than the mesh, binary lists holding the bytes of '{' and '}' tokens,
  // and unknown objects nested 100000 deep (written directly: a tree that deep would exhaust the
  // test writer's own stack).
  std::vector<Node> top;
  Items big;
  big.S("bone").I(100000);
  for (uint32_t i = 0; i < 100000; ++i)
    big.I(i % 3 == 0 ? 0x000A000Bu : 10u);
  for (int i = 0; i < 100000; ++i)
    big.F(1.4e-44);  // float bits 0x0000000A
  top.push_back(Obj("SkinWeights", "", big));
  top.push_back(MeshNode("m", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}));
  constexpr int kDepth = 100000;
  for (Flavour f : {Flavour::Text, Flavour::Bin32, Flavour::Bin64, Flavour::BZip}) {
    SCOPED_TRACE(int(f));
    const bool text = f == Flavour::Text;
    const Flavour plain = f == Flavour::BZip ? Flavour::Bin32 : f;
    std::vector<uint8_t> file = Writer(plain).Write(top);
    std::string open, close;
    for (int i = 0; i < kDepth; ++i) {
      open += text ? "Wrap {" : std::string("\x01\x00\x04\x00\x00\x00Wrap\x0a\x00", 12);
      close += text ? "}" : std::string("\x0b\x00", 2);
    }
    const std::string deep = open + close;
    file.insert(file.begin() + 16, deep.begin(), deep.end());
    if (f == Flavour::BZip) {
      std::vector<uint8_t> packed = Bytes("xof 0303bzip0032");
      Writer::Compress(std::vector<uint8_t>(file.begin() + 16, file.end()), packed, 32768, false);
      file = packed;
    }
    Loaded r = Load(file);
    ASSERT_EQ(r.hr, S_OK) << r.status.message;
    EXPECT_EQ(r.mesh->GetNumFaces(), 1u);
  }
}

TEST(XLoad, BinaryTemplateDeclarations) {
  // template Header { <3D82AB43-...> WORD major; ARRAY DWORD x[ nFaces ]; [ ... ] } followed by
  // the mesh, as a binary writer lays them out.
  std::vector<uint8_t> b = Bytes("xof 0302bin 0032");
  auto code = [&](uint16_t c) {
    b.push_back(c & 255);
    b.push_back(c >> 8);
  };
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      b.push_back((v >> (8 * i)) & 255);
  };
  auto name = [&](const std::string& s) {
    code(1);
    u32(static_cast<uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
  };
  code(31);
  name("Header");
  code(10);
  code(5);
  for (int i = 0; i < 16; ++i)
    b.push_back(static_cast<uint8_t>(i));
  code(40);
  name("major");
  code(20);
  code(52);
  code(41);
  name("x");
  code(14);
  name("nFaces");
  code(15);
  code(20);
  code(14);
  code(18);
  code(18);
  code(18);
  code(15);
  code(11);
  const auto mesh =
      Writer(Flavour::Bin32).Write({MeshNode("m", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}})});
  b.insert(b.end(), mesh.begin() + 16, mesh.end());
  Loaded r = Load(b);
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  EXPECT_EQ(r.mesh->GetNumFaces(), 1u);
}

TEST(XLoad, MeshReferenceInsideAFrameAddsNoGeometry) {
  Loaded r = LoadText(
      "Mesh tri { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n"
      "Frame f { FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,5,0,0,1;; } { tri } }");
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  EXPECT_EQ(r.mesh->GetNumVertices(), 3u);
  ExpectNear3(r.mesh->Position(1), {1, 0, 0});
}

TEST(XLoad, ReferencesCannotFormCycles) {
  // References name only objects complete before them, and a material's own references are not
  // followed, so a material naming itself, or two naming each other, ends like any other object.
  Loaded r = LoadText(
      "Material a { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; { a } { b } }\n"
      "Material b { 0;1;0;1;; 0; 0;0;0;; 0;0;0;; { a } { b } }\n"
      "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 2; 1; 1; { b } { a } } }");
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  ASSERT_EQ(r.materials.size(), 2u);
  EXPECT_EQ(r.materials[0].MatD3D.Diffuse.g, 1.0f);
  EXPECT_EQ(r.materials[1].MatD3D.Diffuse.r, 1.0f);
  EXPECT_EQ(Attributes(*r.mesh), (std::vector<DWORD>{1}));
}

TEST(XLoad, MoreThan65535VerticesGet32BitIndices) {
  // 70000 separate triangles: 210000 vertices, every index kept whole.
  std::vector<V3> pos;
  std::vector<Face> faces;
  for (uint32_t t = 0; t < 70000; ++t) {
    pos.push_back({double(t), 0, 0});
    pos.push_back({double(t), 1, 0});
    pos.push_back({double(t), 0, 1});
    faces.push_back({3 * t + 2, 3 * t + 1, 3 * t});
  }
  Loaded r = Load(Writer(Flavour::Bin32).Write({MeshNode("big", pos, faces)}));
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  EXPECT_TRUE(r.mesh->Uses32BitIndices());
  EXPECT_EQ(r.mesh->GetOptions(), D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT);
  EXPECT_EQ(r.mesh->GetNumVertices(), 210000u);
  EXPECT_EQ(r.mesh->Index(3 * 69999), 209999u);
  EXPECT_EQ(r.mesh->Index(3 * 69999 + 2), 209997u);
  ExpectNear3(r.mesh->Position(209999), {69999, 0, 1});
}

// ---------------------------------------------------------------------------------------------
// Refusals.

std::string U32Bytes(uint32_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}

TEST(XLoad, RefusesBadFiles) {
  const std::string tri = "0;0;0;, 1;0;0;, 0;1;0;;";
  std::string deepFrames;
  for (int i = 0; i < kXMaxFrameDepth + 1; ++i)
    deepFrames += "Frame {";
  deepFrames += "Mesh { 3; " + tri + " 1; 3;0,1,2;; }";
  for (int i = 0; i < kXMaxFrameDepth + 1; ++i)
    deepFrames += "}";
  const std::string bin = "xof 0303bin 0032";
  const std::string binMeshStart = bin + std::string("\x01\x00\x04\x00\x00\x00Mesh\x0a\x00", 12);
  struct Case {
    const char* name;
    std::string file;
    XError error;
  };
  const Case cases[] = {
      {"empty", "", XError::BadHeader},
      {"short header", "xof 0303txt 003", XError::BadHeader},
      {"wrong magic", "xof!0303txt 0032\nMesh{}", XError::BadHeader},
      {"old cmp format", "xof 0303cmp 0032", XError::BadHeader},
      {"float size 16", "xof 0303txt 0016\n", XError::BadHeader},
      {"version not digits", "xof 03a3txt 0032\n", XError::BadHeader},
      {"no mesh", "xof 0303txt 0032\nFrame f { }", XError::NoGeometry},
      {"only degenerate faces", "xof 0303txt 0032\nMesh { 3; " + tri + " 1; 2;0,1;; }",
       XError::NoGeometry},
      {"vertex index out of range", "xof 0303txt 0032\nMesh { 3; " + tri + " 1; 3;0,1,3;; }",
       XError::BadIndex},
      {"normal index out of range",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; } }",
       XError::BadIndex},
      {"normal faces differ from mesh faces",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 4;0,0,0,0;; } }",
       XError::Syntax},
      {"normal face count differs",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 3;0,0,0;; } }",
       XError::Syntax},
      {"colour for a missing vertex",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshVertexColors { 1; 3; 1;1;1;1;;; } }",
       XError::BadIndex},
      {"material index out of range",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshMaterialList { 1; 1; 1; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } "
           "}",
       XError::BadIndex},
      {"fewer materials than the list names",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshMaterialList { 2; 1; 0; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } "
           "}",
       XError::Syntax},
      {"reference to an unknown material",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0; { nowhere } } }",
       XError::BadReference},
      {"forward reference",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0; { later } } }\nMaterial later { 1;1;1;1;; 0; "
           "0;0;0;; 0;0;0;; }",
       XError::BadReference},
      {"vertex count of 4 billion", "xof 0303txt 0032\nMesh { 4294967295; " + tri + " }",
       XError::CountTooLarge},
      {"face count of 4 billion", "xof 0303txt 0032\nMesh { 3; " + tri + " 4294967295; 3;0,1,2;; }",
       XError::CountTooLarge},
      {"corner count of 4 billion",
       "xof 0303txt 0032\nMesh { 3; " + tri + " 1; 4294967295;0,1,2;; }", XError::CountTooLarge},
      {"integer beyond 32 bits", "xof 0303txt 0032\nMesh { 99999999999; }", XError::CountTooLarge},
      {"texture coordinate count too large",
       "xof 0303txt 0032\nMesh { 3; " + tri +
           " 1; 3;0,1,2;; MeshTextureCoords { 4000000000; 0;0;; } }",
       XError::CountTooLarge},
      {"negative count", "xof 0303txt 0032\nMesh { -3; " + tri + " }", XError::Syntax},
      {"name where a number belongs", "xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;; 1; 3;0,1,2;; }",
       XError::Syntax},
      {"garbage after a number", "xof 0303txt 0032\nMesh { 3x; }", XError::Syntax},
      {"unterminated string", "xof 0303txt 0032\nKeyValuePair { \"abc }", XError::Truncated},
      {"malformed GUID", "xof 0303txt 0032\nMesh { <xyz> 3; " + tri + " 1; 3;0,1,2;; }",
       XError::Syntax},
      {"stray closing brace", "xof 0303txt 0032\n}", XError::Syntax},
      {"bracket in data", "xof 0303txt 0032\nMesh { [ }", XError::Syntax},
      {"unterminated unknown object", "xof 0303txt 0032\nFoo { { } ", XError::Truncated},
      {"frames nested too deeply", "xof 0303txt 0032\n" + deepFrames, XError::TooDeep},
      {"binary: unknown token", bin + std::string("\x09\x00", 2), XError::Syntax},
      {"binary: list longer than the file",
       binMeshStart + std::string("\x06\x00", 2) + U32Bytes(0x40000000) + U32Bytes(3),
       XError::Truncated},
      {"binary: vertex count of 4 billion",
       binMeshStart + std::string("\x06\x00", 2) + U32Bytes(1) + U32Bytes(0xFFFFFFFF),
       XError::CountTooLarge},
      {"binary: float list where an integer belongs",
       binMeshStart + std::string("\x07\x00", 2) + U32Bytes(1) + U32Bytes(0), XError::Syntax},
      {"binary: name longer than the file",
       bin + std::string("\x01\x00", 2) + U32Bytes(1000) + "Mesh", XError::Truncated},
      {"binary: odd trailing byte", bin + std::string("\x0a", 1), XError::Truncated},
      {"compressed: bad signature",
       "xof 0303bzip0032" + U32Bytes(20) + std::string("\x04\x00\x04\x00XX\x00\x00", 8),
       XError::Compression},
      {"compressed: stated size too large", "xof 0303bzip0032" + U32Bytes(0xFFFFFFF0),
       XError::CountTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded r = Load(Bytes(c.file));
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_EQ(r.status.error, c.error) << XErrorName(r.status.error) << ": " << r.status.message;
  }
}

// The reason shows a number as the file writes it: never wrapped to 32 bits or left out.
TEST(XLoad, ReasonNamesWhatAndWhere) {
  struct Case {
    const char* index;  // the third index of the one face
    const char* message;
  };
  const Case cases[] = {
      {"9", "mesh face 0 uses index 9 of 3 (byte 61)"},
      {"4294967295", "mesh face 0 uses index 4294967295 of 3 (byte 70)"},
      {"4294967296", "integer 4294967296 is too large (byte 60)"},
      {"-1", "expected an integer, found -1 (byte 60)"},
      {"2x", "expected an integer, found 2x (byte 61)"},
      {"123456789012345678901234567890123456789",
       "integer 12345678901234567890123456789012... is too large (byte 60)"},
      {"\x01", "expected an integer, found ? (byte 60)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    Loaded r =
        LoadText(std::string("Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,") + c.index + ";; }");
    EXPECT_EQ(r.status.message, c.message);
  }
}

TEST(XLoad, EveryTruncationIsRefused) {
  // Everything inside one top-level frame, so that no proper prefix is a complete file.
  std::vector<Node> scene = {FrameNode("All", nullptr, Scene())};
  for (Flavour f : {Flavour::Text, Flavour::Bin32, Flavour::Bin64, Flavour::TZip, Flavour::BZip}) {
    const std::vector<uint8_t> full = Writer(f).Write(scene);
    ASSERT_EQ(Load(full).hr, S_OK);
    // (A text file without its final line break is still whole.)
    for (size_t n = 0; n + 1 < full.size(); ++n) {
      std::vector<uint8_t> cut(full.begin(), full.begin() + n);
      Loaded r = Load(cut);
      ASSERT_EQ(r.hr, E_FAIL) << "prefix " << n << " of " << full.size() << " (flavour " << int(f)
                              << ")";
    }
  }
}

TEST(XLoad, FileApiReportsUnreadableFiles) {
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials{D3DXMATERIAL{}};
  XStatus st;
  EXPECT_EQ(D3DXLoadMeshFromX("\\nonexistent\\dir\\none.x", 0, mesh, materials, &st), E_FAIL);
  EXPECT_EQ(st.error, XError::Io);
  EXPECT_TRUE(materials.empty());
}

// ---------------------------------------------------------------------------------------------
// Memory and time in proportion to the input.

// A text file compressed as `tzip` (deflate blocks of 32768 bytes).
std::vector<uint8_t> Tzip(const std::string& body) {
  std::vector<uint8_t> out = Bytes("xof 0303tzip0032");
  Writer::Compress(Bytes(body), out, 32768, /*chained=*/false);
  return out;
}

const std::string kTriangle = "3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;";

// Loads `file` under the memory ceiling of its size: true when it loaded without reaching it.
bool LoadsUnderItsCeiling(const std::vector<uint8_t>& file) {
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
  HRESULT hr = E_FAIL;
  wz::testing::AllocationCeiling ceiling(wz::testing::InputAllowance(file.size()));
  try {
    hr = D3DXLoadMeshFromXInMemory(file, D3DXMESH_SYSTEMMEM, mesh, materials);
  } catch (const std::bad_alloc&) {
  }
  EXPECT_FALSE(ceiling.Reached()) << "peak " << ceiling.Peak() << " bytes";
  return hr == S_OK && !ceiling.Reached();
}

TEST(XLoadResources, MaterialReferencesDoNotCopyTheMaterial) {
  // A material with a 256 KB texture name, named by 100000 references in one list and by one
  // reference in each of 20000 meshes: a few kilobytes compressed, gigabytes if each reference
  // were a copy.
  const std::string material = "Material m { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"" +
                               std::string(256 * 1024, 'n') + "\"; } }\n";
  std::string refs;
  for (int i = 0; i < 100000; ++i)
    refs += "{m}";
  std::string manyRefs =
      material + "Mesh {" + kTriangle + " MeshMaterialList { 1; 1; 0; " + refs + " } }\n";
  std::string manyMeshes = material;
  for (int i = 0; i < 20000; ++i)
    manyMeshes += "Mesh{" + kTriangle + "MeshMaterialList{1;1;0;{m}}}\n";
  for (const std::string& body : {manyRefs, manyMeshes}) {
    const std::vector<uint8_t> file = Tzip(body);
    EXPECT_LT(file.size(), 64u * 1024);
    EXPECT_TRUE(LoadsUnderItsCeiling(file));
  }
  // The shared material is one material of the mesh, however often it is named.
  const Loaded r = LoadText("Material m { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; }\nMesh {" + kTriangle +
                            " MeshMaterialList { 1; 1; 0; {m} {m} } }\nMesh {" + kTriangle +
                            " MeshMaterialList { 1; 1; 0; {m} } }");
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  EXPECT_EQ(r.materials.size(), 1u);
  EXPECT_EQ(Attributes(*r.mesh), (std::vector<DWORD>{0, 0}));
}

TEST(XLoadResources, VerticesNoFaceUsesAreLeftOut) {
  // 200000 vertices of which one triangle uses three: the mesh holds those three, in order.
  std::string body = "Mesh { 200000;";
  for (int i = 0; i < 200000; ++i)
    body += i == 7 ? " 7;0;0;," : i == 9 ? " 9;1;0;," : " 0;0;0;,";
  body.back() = ';';
  body += " 1; 3;9,7,150000;; MeshTextureCoords { 200000;";
  for (int i = 0; i < 200000; ++i)
    body += i == 150000 ? " 0.5;0.25;," : " 0;0;,";
  body.back() = ';';
  body += " } }";
  const Loaded r = LoadText(body);
  ASSERT_EQ(r.hr, S_OK) << r.status.message;
  ASSERT_EQ(r.mesh->GetNumVertices(), 3u);
  ExpectNear3(r.mesh->Position(0), {7, 0, 0});
  ExpectNear3(r.mesh->Position(1), {9, 1, 0});
  EXPECT_EQ(Indices(*r.mesh), (std::vector<uint32_t>{1, 0, 2}));
  EXPECT_EQ(r.mesh->TexCoord(2)[0], 0.5f);
  EXPECT_EQ(r.mesh->TexCoord(2)[1], 0.25f);
}

TEST(XLoadResources, EqualPositionsMergeInLinearTime) {
  // 200000 faces that all use vertex 0, each with a normal of its own: 200000 copies of one
  // position. A walk over the copies for each corner would take minutes.
  const int faces = 200000;
  std::vector<V3> pos(faces + 2, V3{0, 0, 0}), normals(faces, V3{0, 0, 1});
  std::vector<Face> meshFaces, normalFaces;
  for (int f = 0; f < faces; ++f) {
    pos[f + 1] = {double(f), 1, 0};
    meshFaces.push_back({0, uint32_t(f + 1), uint32_t(f + 2)});
    normalFaces.push_back({uint32_t(f), uint32_t(f), uint32_t(f)});
  }
  const Node mesh = MeshNode("m", pos, meshFaces, {NormalsNode(normals, normalFaces)});
  const std::vector<uint8_t> file = Writer(Flavour::Bin32).Write({mesh});
  const auto r = wz::testing::RunWithTimeout(20, [&] {
    std::unique_ptr<Mesh> mesh;
    std::vector<D3DXMATERIAL> materials;
    return D3DXLoadMeshFromXInMemory(file, D3DXMESH_SYSTEMMEM, mesh, materials) == S_OK ? 0 : 1;
  });
  EXPECT_EQ(r.outcome, wz::testing::ChildOutcome::kFinished) << "the merge ran out of time";
  EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
}  // namespace wz::d3dx
