#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/d3dx/x_file.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace wz::d3dx {
namespace {

using Tri = std::array<std::array<float, 3>, 3>;

// A triangle-list mesh in format 338 with one vertex per corner, as the model export builds it,
// with values that do not print exactly in a few decimals and colours of every alpha.
std::unique_ptr<Mesh> CornerMesh(uint32_t triangles, DWORD options = D3DXMESH_MANAGED) {
  std::unique_ptr<Mesh> m;
  EXPECT_EQ(Mesh::Create(triangles, triangles * 3, options, 338, m), S_OK);
  for (uint32_t v = 0; v < triangles * 3; ++v) {
    const float t = static_cast<float>(v);
    m->SetPosition(v, {t * 0.1f, -t / 3.0f, (v % 3) * 1e-7f + 2.5f});
    m->SetNormal(v, {0.6f, 0.0f, -0.8f});
    m->SetDiffuse(v, (v * 0x01030507u) ^ 0x80FF4001u);
    m->SetTexCoord(v, {t / 7.0f, -0.25f * (v % 5)});
    m->SetIndex(v, v);
  }
  for (uint32_t f = 0; f < triangles; ++f)
    m->AttributeBuffer()[f] = f % 2;
  return m;
}

std::vector<D3DXMATERIAL> TwoMaterials() {
  std::vector<D3DXMATERIAL> mats(2);
  mats[0].MatD3D = {
      {1, 1, 1, 1}, {0, 0, 0, 0}, {0.25f, 0.5f, 0.75f, 1}, {0.1f, 0.2f, 0.3f, 1}, 12.5f};
  // A code page 932 name whose second byte is a backslash, and a path separator.
  mats[0].textureFilename = "tex\\\x95\x5C.bmp";
  mats[1].MatD3D = {{0.5f, 0, 0.25f, 0.75f}, {0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 0, 1}, 0};
  return mats;
}

struct Loaded {
  std::unique_ptr<Mesh> mesh;
  std::vector<D3DXMATERIAL> materials;
};

Loaded LoadBytes(const std::vector<uint8_t>& bytes) {
  Loaded r;
  XStatus st;
  EXPECT_EQ(D3DXLoadMeshFromXInMemory(bytes, D3DXMESH_SYSTEMMEM, r.mesh, r.materials, &st), S_OK)
      << st.message;
  return r;
}

void ExpectSameMesh(const Mesh& saved, std::span<const D3DXMATERIAL> mats, const Loaded& r) {
  ASSERT_NE(r.mesh, nullptr);
  const Mesh& m = *r.mesh;
  ASSERT_EQ(m.GetFVF(), saved.GetFVF());
  ASSERT_EQ(m.GetNumVertices(), saved.GetNumVertices());
  ASSERT_EQ(m.GetNumFaces(), saved.GetNumFaces());
  const bool colours = saved.Layout().diffuse >= 0;
  for (uint32_t v = 0; v < m.GetNumVertices(); ++v) {
    ASSERT_EQ(m.Position(v), saved.Position(v)) << v;
    ASSERT_EQ(m.Normal(v), saved.Normal(v)) << v;
    if (colours) {
      ASSERT_EQ(m.Diffuse(v), saved.Diffuse(v)) << v;
    }
    ASSERT_EQ(m.TexCoord(v), saved.TexCoord(v)) << v;
  }
  for (size_t i = 0; i < size_t{m.GetNumFaces()} * 3; ++i)
    ASSERT_EQ(m.Index(i), saved.Index(i)) << i;
  EXPECT_TRUE(std::ranges::equal(m.AttributeBuffer(), saved.AttributeBuffer()));
  ASSERT_EQ(r.materials.size(), mats.size());
  for (size_t i = 0; i < mats.size(); ++i) {
    // The file holds no ambient colour and no alpha for specular and emissive.
    D3DXMATERIAL want = mats[i];
    want.MatD3D.Ambient = {0, 0, 0, 0};
    want.MatD3D.Specular.a = want.MatD3D.Emissive.a = 1;
    EXPECT_EQ(r.materials[i], want) << i;
  }
}

struct FormatCase {
  const char* name;
  DWORD format;
  const char* header;
};

class XSaveFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(XSaveFormats, RoundTripsEveryValue) {
  auto mesh = CornerMesh(40);
  const auto mats = TwoMaterials();
  std::vector<uint8_t> bytes;
  ASSERT_EQ(D3DXSaveMeshToXInMemory(*mesh, mats, GetParam().format, bytes), S_OK);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 16), GetParam().header);
  ExpectSameMesh(*mesh, mats, LoadBytes(bytes));
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, XSaveFormats,
    ::testing::Values(FormatCase{"Binary", D3DXF_FILEFORMAT_BINARY, "xof 0303bin 0032"},
                      FormatCase{"Text", D3DXF_FILEFORMAT_TEXT, "xof 0303txt 0032"},
                      FormatCase{"CompressedBinary",
                                 D3DXF_FILEFORMAT_BINARY | D3DXF_FILEFORMAT_COMPRESSED,
                                 "xof 0303bzip0032"},
                      FormatCase{"CompressedText",
                                 D3DXF_FILEFORMAT_TEXT | D3DXF_FILEFORMAT_COMPRESSED,
                                 "xof 0303tzip0032"}),
    [](const ::testing::TestParamInfo<FormatCase>& i) { return std::string(i.param.name); });

TEST(XSave, BinaryLayoutStartsWithTheFrameAndItsMatrix) {
  auto mesh = CornerMesh(1);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(D3DXSaveMeshToXInMemory(*mesh, TwoMaterials(), D3DXF_FILEFORMAT_BINARY, bytes), S_OK);
  // NAME "Frame", NAME "Root", '{', NAME "FrameTransformMatrix", '{', FLOAT_LIST of 16, 1.0f.
  const uint8_t want[] = {'x', 'o', 'f', ' ', '0', '3', '0', '3', 'b',  'i',  'n',  ' ', '0',
                          '0', '3', '2', 1,   0,   5,   0,   0,   0,    'F',  'r',  'a', 'm',
                          'e', 1,   0,   4,   0,   0,   0,   'R', 'o',  'o',  't',  10,  0,
                          1,   0,   20,  0,   0,   0,   'F', 'r', 'a',  'm',  'e',  'T', 'r',
                          'a', 'n', 's', 'f', 'o', 'r', 'm', 'M', 'a',  't',  'r',  'i', 'x',
                          10,  0,   7,   0,   16,  0,   0,   0,   0x00, 0x00, 0x80, 0x3F};
  ASSERT_GE(bytes.size(), sizeof want);
  EXPECT_TRUE(std::equal(std::begin(want), std::end(want), bytes.begin()));
}

TEST(XSave, MeshOfMoreThan65535VerticesKeepsEveryIndex) {
  auto mesh = CornerMesh(22000, D3DXMESH_MANAGED | D3DXMESH_32BIT);  // 66000 vertices
  // Reverse the winding so that indices are not simply 0, 1, 2, ...
  for (uint32_t f = 0; f < 22000; ++f)
    std::swap(mesh->AttributeBuffer()[f], mesh->AttributeBuffer()[21999 - f]);
  for (uint32_t f = 0; f < 22000; ++f) {
    mesh->SetIndex(f * 3, f * 3 + 2);
    mesh->SetIndex(f * 3 + 2, f * 3);
  }
  const auto mats = TwoMaterials();
  std::vector<uint8_t> bytes;
  ASSERT_EQ(D3DXSaveMeshToXInMemory(*mesh, mats, D3DXF_FILEFORMAT_BINARY, bytes), S_OK);
  Loaded r = LoadBytes(bytes);
  EXPECT_TRUE(r.mesh->Uses32BitIndices());
  ExpectSameMesh(*mesh, mats, r);
}

TEST(XSave, WithoutMaterialsOrColoursWritesNeitherList) {
  auto corner = CornerMesh(3);
  std::unique_ptr<Mesh> mesh;
  ASSERT_EQ(corner->CloneMeshFVF(D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, mesh),
            S_OK);
  std::ranges::fill(mesh->AttributeBuffer(), 0);  // no materials: every face has id 0
  std::vector<uint8_t> bytes;
  ASSERT_EQ(D3DXSaveMeshToXInMemory(*mesh, {}, D3DXF_FILEFORMAT_TEXT, bytes), S_OK);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.find("MeshMaterialList"), std::string::npos);
  EXPECT_EQ(text.find("MeshVertexColors"), std::string::npos);
  ExpectSameMesh(*mesh, {}, LoadBytes(bytes));
}

TEST(XSave, RefusesWhatItCannotWrite) {
  auto mesh = CornerMesh(2);
  std::vector<D3DXMATERIAL> one(1);
  std::vector<D3DXMATERIAL> quoted(2);
  quoted[1].textureFilename = "a\"b.bmp";
  struct Case {
    const char* name;
    std::span<const D3DXMATERIAL> materials;
    DWORD format;
  };
  const Case cases[] = {
      {"attribute id 1 without a material", one, D3DXF_FILEFORMAT_BINARY},
      {"double quote in a text string", quoted, D3DXF_FILEFORMAT_TEXT},
      {"unknown format flag", {}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes{1, 2, 3};
    XStatus st;
    EXPECT_EQ(D3DXSaveMeshToXInMemory(*mesh, c.materials, c.format, bytes, &st),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(st.error, XError::BadArgument);
    EXPECT_TRUE(bytes.empty());
  }
  // A binary string may hold any byte.
  std::vector<uint8_t> bytes;
  EXPECT_EQ(D3DXSaveMeshToXInMemory(*mesh, quoted, D3DXF_FILEFORMAT_BINARY, bytes), S_OK);
  EXPECT_EQ(LoadBytes(bytes).materials[1].textureFilename, "a\"b.bmp");
}

TEST(XSave, FileRoundTripAndFailedWrite) {
  wz::testing::TempDir dir;
  auto mesh = CornerMesh(5);
  const auto mats = TwoMaterials();
  const std::string path = platform::LibraryPath(dir / "out.x");
  ASSERT_EQ(D3DXSaveMeshToX(path, *mesh, mats, D3DXF_FILEFORMAT_BINARY), S_OK);
  Loaded r;
  ASSERT_EQ(D3DXLoadMeshFromX(path, 0, r.mesh, r.materials), S_OK);
  ExpectSameMesh(*mesh, mats, r);

  XStatus st;
  EXPECT_EQ(D3DXSaveMeshToX(platform::LibraryPath(dir / "missing/out.x"), *mesh, mats,
                            D3DXF_FILEFORMAT_BINARY, &st),
            E_FAIL);
  EXPECT_EQ(st.error, XError::Io);
}

// ---------------------------------------------------------------------------------------------
// An independent reader: the assimp command-line tool, converting the saved file to OBJ.

bool HaveAssimp() {
  return std::system("command -v assimp >/dev/null 2>&1") == 0;
}

// The triangles of an OBJ file, each as its three positions sorted (the importer flips winding).
std::vector<Tri> ObjTriangles(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::array<float, 3>> v;
  std::vector<Tri> tris;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string tag;
    s >> tag;
    if (tag == "v") {
      std::array<float, 3> p;
      s >> p[0] >> p[1] >> p[2];
      v.push_back(p);
    } else if (tag == "f") {
      Tri t;
      for (auto& corner : t) {
        std::string ref;
        s >> ref;
        corner = v.at(std::stoul(ref.substr(0, ref.find('/'))) - 1);
      }
      std::sort(t.begin(), t.end());
      tris.push_back(t);
    }
  }
  std::sort(tris.begin(), tris.end());
  return tris;
}

TEST(XSave, IndependentReaderSeesTheSameTriangles) {
  if (!HaveAssimp()) GTEST_SKIP() << "assimp is not installed";
  wz::testing::TempDir dir;
  // Distinct positions with short decimal forms, so that the OBJ text compares exactly.
  std::unique_ptr<Mesh> mesh;
  ASSERT_EQ(Mesh::Create(30, 90, D3DXMESH_MANAGED, 338, mesh), S_OK);
  for (uint32_t v = 0; v < 90; ++v) {
    mesh->SetPosition(v, {0.5f * v, 0.25f * (v % 7), -1.0f * (v % 4)});
    mesh->SetNormal(v, {0, 0, 1});
    mesh->SetIndex(v, v);
  }
  for (uint32_t f = 0; f < 30; ++f)
    mesh->AttributeBuffer()[f] = f % 2;
  std::vector<Tri> want;
  for (uint32_t f = 0; f < 30; ++f) {
    Tri t;
    for (int k = 0; k < 3; ++k) {
      const auto p = mesh->Position(f * 3 + k);
      t[k] = {p[0], p[1], -p[2]};  // the importer turns the left-handed file right-handed
    }
    std::sort(t.begin(), t.end());
    want.push_back(t);
  }
  std::sort(want.begin(), want.end());

  for (DWORD format : {D3DXF_FILEFORMAT_BINARY, D3DXF_FILEFORMAT_TEXT,
                       D3DXF_FILEFORMAT_BINARY | D3DXF_FILEFORMAT_COMPRESSED}) {
    SCOPED_TRACE(format);
    const std::string x = dir / ("m" + std::to_string(format) + ".x");
    const std::string obj = dir / ("m" + std::to_string(format) + ".obj");
    ASSERT_EQ(D3DXSaveMeshToX(platform::LibraryPath(x), *mesh, TwoMaterials(), format), S_OK);
    const std::string info = dir / "info.txt";
    ASSERT_EQ(std::system(("assimp info '" + x + "' > '" + info + "' 2>&1").c_str()), 0);
    EXPECT_NE(wz::testing::ReadFile(info).find("Faces:              30\n"), std::string::npos)
        << wz::testing::ReadFile(info);
    ASSERT_EQ(std::system(("assimp export '" + x + "' '" + obj + "' > /dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(ObjTriangles(obj), want);
  }
}

}  // namespace
}  // namespace wz::d3dx
