#include "platform/d3dx/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

namespace wz::d3dx {
namespace {

TEST(FvfLayout, OffsetsAndSizes) {
  struct Case {
    const char* name;
    DWORD fvf;
    uint32_t stride;
    int normal, diffuse, specular, tex0, tex1;
  };
  const Case cases[] = {
      // Format 338: position, normal, diffuse word, one (u, v): 36 bytes.
      {"338", 338, 36, 12, 24, -1, 28, -1},
      {"screen vertex", D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, 28, -1, 16, -1, 20, -1},
      {"two blend weights", D3DFVF_XYZB2 | D3DFVF_NORMAL, 32, 20, -1, -1, -1, -1},
      {"point size and specular", D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_SPECULAR, 20, -1, -1, 16, -1,
       -1},
      {"texture sets of 3 and 1 floats",
       D3DFVF_XYZ | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(1), 28, -1, -1, -1,
       12, 24},
      {"XYZW", D3DFVF_XYZW | D3DFVF_NORMAL, 28, 16, -1, -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FvfLayout l;
    ASSERT_TRUE(ComputeFvfLayout(c.fvf, l));
    EXPECT_EQ(l.stride, c.stride);
    EXPECT_EQ(D3DXGetFVFVertexSize(c.fvf), c.stride);
    EXPECT_EQ(l.position, 0);
    EXPECT_EQ(l.normal, c.normal);
    EXPECT_EQ(l.diffuse, c.diffuse);
    EXPECT_EQ(l.specular, c.specular);
    EXPECT_EQ(l.texCount > 0 ? l.tex[0] : -1, c.tex0);
    EXPECT_EQ(l.texCount > 1 ? l.tex[1] : -1, c.tex1);
  }
  for (DWORD bad : {DWORD{0}, D3DFVF_NORMAL, D3DFVF_XYZ | D3DFVF_RESERVED0, D3DFVF_XYZ | 0x900u,
                    D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4}) {
    EXPECT_EQ(D3DXGetFVFVertexSize(bad), 0u) << bad;
  }
}

std::unique_ptr<Mesh> Make(DWORD faces, DWORD vertices, DWORD options, DWORD fvf = 338) {
  std::unique_ptr<Mesh> m;
  EXPECT_EQ(Mesh::Create(faces, vertices, options, fvf, m), S_OK);
  return m;
}

TEST(Mesh, CreateGivesZeroedBuffersOfTheDescribedSizes) {
  auto m = Make(4, 6, D3DXMESH_MANAGED);
  EXPECT_EQ(m->VertexBuffer().size(), 6u * 36);
  EXPECT_EQ(m->IndexBuffer().size(), 4u * 3 * 2);
  EXPECT_EQ(m->AttributeBuffer().size(), 4u);
  EXPECT_TRUE(std::ranges::all_of(m->VertexBuffer(), [](uint8_t b) { return b == 0; }));
  auto wide = Make(4, 6, D3DXMESH_32BIT);
  EXPECT_EQ(wide->IndexBuffer().size(), 4u * 3 * 4);
  wide->SetIndex(11, 0x12345u);
  EXPECT_EQ(wide->Index(11), 0x12345u);
}

TEST(Mesh, CreateRefusesImpossibleMeshes) {
  std::unique_ptr<Mesh> m;
  EXPECT_EQ(Mesh::Create(0, 3, 0, 338, m), D3DERR_INVALIDCALL);
  EXPECT_EQ(Mesh::Create(1, 0, 0, 338, m), D3DERR_INVALIDCALL);
  EXPECT_EQ(Mesh::Create(1, 3, 0, D3DFVF_NORMAL, m), D3DERR_INVALIDCALL);
  EXPECT_EQ(Mesh::Create(1, 65536, 0, 338, m), D3DERR_INVALIDCALL);  // 16-bit indices
  EXPECT_EQ(Mesh::Create(1, 65536, D3DXMESH_32BIT, 338, m), S_OK);
  EXPECT_EQ(Mesh::Create(0x60000000u, 3, D3DXMESH_32BIT, 338, m), D3DERR_INVALIDCALL);  // > 4 GB
  EXPECT_EQ(Mesh::Create(1, 0x10000000u, D3DXMESH_32BIT, 338, m), D3DERR_INVALIDCALL);
  EXPECT_EQ(m, nullptr);
}

TEST(Mesh, CloneCopiesSharedElementsAndZeroesTheRest) {
  const DWORD src = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1);
  auto m = Make(1, 3, 0, src);
  for (uint32_t v = 0; v < 3; ++v) {
    m->SetPosition(v, {1.0f + v, 2, 3});
    m->SetNormal(v, {0, 1, 0});
    m->SetTexCoord(v, {0.5f, 0.25f + v});
    m->SetIndex(v, 2 - v);
  }
  m->AttributeBuffer()[0] = 7;
  std::unique_ptr<Mesh> c;
  ASSERT_EQ(m->CloneMeshFVF(D3DXMESH_32BIT, 338, c), S_OK);
  EXPECT_EQ(c->GetFVF(), 338u);
  EXPECT_TRUE(c->Uses32BitIndices());
  for (uint32_t v = 0; v < 3; ++v) {
    EXPECT_EQ(c->Position(v), (std::array<float, 3>{1.0f + v, 2, 3}));
    EXPECT_EQ(c->Normal(v), (std::array<float, 3>{0, 1, 0}));
    EXPECT_EQ(c->Diffuse(v), 0u);
    EXPECT_EQ(c->TexCoord(v), (std::array<float, 2>{0.5f, 0.25f + v}));
    EXPECT_EQ(c->Index(v), 2 - v);
  }
  EXPECT_EQ(c->AttributeBuffer()[0], 7u);
  // Back to a format without normals and with a 1-float texture set.
  std::unique_ptr<Mesh> d;
  ASSERT_EQ(c->CloneMeshFVF(0, D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE1(0), d), S_OK);
  EXPECT_EQ(d->GetNumBytesPerVertex(), 16u);
  EXPECT_EQ(d->TexCoord(2), (std::array<float, 2>{0.5f, 0}));
  EXPECT_EQ(d->Index(0), 2u);
  // 16-bit indices cannot address more than 65535 vertices.
  auto big = Make(1, 70000, D3DXMESH_32BIT);
  EXPECT_EQ(big->CloneMeshFVF(0, 338, d), D3DERR_INVALIDCALL);
  EXPECT_EQ(d, nullptr);
}

// Faces (0 1 2) a=2, (2 1 3) a=0, (3 4 5) a=2, (1 3 4) a=1 over 7 vertices (6 unused), or four
// other faces and ids over the same vertices; vertex v is at x = v.
std::unique_ptr<Mesh> SortFixture(DWORD options = 0,
                                  const std::array<uint32_t, 12>& idx = {0, 1, 2, 2, 1, 3, 3, 4, 5,
                                                                         1, 3, 4},
                                  const std::array<DWORD, 4>& attr = {2, 0, 2, 1}) {
  auto m = Make(4, 7, options);
  for (size_t i = 0; i < 12; ++i)
    m->SetIndex(i, idx[i]);
  for (size_t f = 0; f < 4; ++f)
    m->AttributeBuffer()[f] = attr[f];
  for (uint32_t v = 0; v < 7; ++v)
    m->SetPosition(v, {float(v), 0, 0});
  return m;
}

std::vector<uint32_t> Indices(const Mesh& m) {
  std::vector<uint32_t> v;
  for (size_t i = 0; i < size_t{m.GetNumFaces()} * 3; ++i)
    v.push_back(m.Index(i));
  return v;
}

TEST(Mesh, AttributeSortSplitsSharedVertices) {
  auto m = SortFixture();
  std::vector<DWORD> faceRemap, vertexRemap;
  ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT, &faceRemap, &vertexRemap), S_OK);
  EXPECT_EQ(faceRemap, (std::vector<DWORD>{1, 3, 0, 2}));
  EXPECT_TRUE(std::ranges::equal(m->AttributeBuffer(), std::vector<DWORD>{0, 1, 2, 2}));
  // Vertices 1 and 3 are shared by ids 0 and 1, vertex 4 by ids 1 and 2, and 1, 2, 3 by 0 and 2:
  // each later id gets its own copy.
  EXPECT_EQ(vertexRemap, (std::vector<DWORD>{0, 1, 2, 3, 4, 5, 6, 1, 3, 1, 2, 3, 4}));
  EXPECT_EQ(Indices(*m), (std::vector<uint32_t>{2, 1, 3, 7, 8, 4, 0, 9, 10, 11, 12, 5}));
  for (uint32_t v = 0; v < m->GetNumVertices(); ++v)
    EXPECT_EQ(m->Position(v)[0], float(vertexRemap[v]));
  const std::vector<D3DXATTRIBUTERANGE> want = {{0, 0, 1, 1, 3}, {1, 1, 1, 4, 5}, {2, 2, 2, 0, 13}};
  EXPECT_TRUE(std::ranges::equal(m->GetAttributeTable(), want));
  std::string why;
  EXPECT_TRUE(CheckMeshInvariants(*m, 3, &why)) << why;
}

TEST(Mesh, AttributeSortVariants) {
  {
    SCOPED_TRACE("do not split");
    auto m = SortFixture();
    ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_DONOTSPLIT), S_OK);
    EXPECT_EQ(m->GetNumVertices(), 7u);
    EXPECT_EQ(Indices(*m), (std::vector<uint32_t>{2, 1, 3, 1, 3, 4, 0, 1, 2, 3, 4, 5}));
  }
  {
    SCOPED_TRACE("compact drops vertex 6");
    auto m = SortFixture();
    std::vector<DWORD> vertexRemap;
    ASSERT_EQ(
        m->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_DONOTSPLIT | D3DXMESHOPT_COMPACT,
                           nullptr, &vertexRemap),
        S_OK);
    EXPECT_EQ(vertexRemap, (std::vector<DWORD>{0, 1, 2, 3, 4, 5}));
  }
  {
    SCOPED_TRACE("copy leaves the original");
    auto m = SortFixture();
    std::unique_ptr<Mesh> sorted;
    ASSERT_EQ(m->Optimize(D3DXMESHOPT_ATTRSORT, sorted), S_OK);
    EXPECT_EQ(sorted->GetNumVertices(), 13u);
    EXPECT_EQ(m->GetNumVertices(), 7u);
    EXPECT_TRUE(m->GetAttributeTable().empty());
  }
  {
    SCOPED_TRACE("a split past 65535 vertices with 16-bit indices is refused, mesh unchanged");
    auto m = Make(2, 65535, 0);
    m->SetIndex(3, 0);
    m->AttributeBuffer()[1] = 1;
    const std::vector<uint8_t> before(m->IndexBuffer().begin(), m->IndexBuffer().end());
    EXPECT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT), D3DXERR_CANNOTATTRSORT);
    EXPECT_TRUE(std::ranges::equal(m->IndexBuffer(), before));
    EXPECT_EQ(m->GetNumVertices(), 65535u);
  }
}

TEST(Mesh, AttributeSortOfFacesAlreadyInOrderSplitsAsAnyOther) {
  // The fixture's faces in id order give the fixture's sorted result, with either index size;
  // one id for all keeps every vertex and index where it was.
  for (const DWORD options : {DWORD{0}, DWORD{D3DXMESH_32BIT}}) {
    SCOPED_TRACE(options);
    auto m = SortFixture(options, {2, 1, 3, 1, 3, 4, 0, 1, 2, 3, 4, 5}, {0, 1, 2, 2});
    auto one = SortFixture(options);
    std::fill(one->AttributeBuffer().begin(), one->AttributeBuffer().end(), DWORD{4});
    const std::vector<uint8_t> vertices(one->VertexBuffer().begin(), one->VertexBuffer().end());

    std::vector<DWORD> faceRemap, vertexRemap;
    ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT, &faceRemap, &vertexRemap), S_OK);
    EXPECT_EQ(faceRemap, (std::vector<DWORD>{0, 1, 2, 3}));
    EXPECT_EQ(m->GetNumVertices(), 13u);
    EXPECT_EQ(vertexRemap, (std::vector<DWORD>{0, 1, 2, 3, 4, 5, 6, 1, 3, 1, 2, 3, 4}));
    EXPECT_EQ(Indices(*m), (std::vector<uint32_t>{2, 1, 3, 7, 8, 4, 0, 9, 10, 11, 12, 5}));
    for (uint32_t v = 0; v < m->GetNumVertices(); ++v)
      EXPECT_EQ(m->Position(v)[0], float(vertexRemap[v]));

    ASSERT_EQ(one->OptimizeInplace(D3DXMESHOPT_ATTRSORT), S_OK);
    EXPECT_EQ(Indices(*one), (std::vector<uint32_t>{0, 1, 2, 2, 1, 3, 3, 4, 5, 1, 3, 4}));
    EXPECT_TRUE(std::ranges::equal(one->VertexBuffer(), vertices));
    const std::vector<D3DXATTRIBUTERANGE> want = {{4, 0, 4, 0, 6}};
    EXPECT_TRUE(std::ranges::equal(one->GetAttributeTable(), want));
  }
}

TEST(Mesh, AttributeSortIsStableForFewAndForManyIds) {
  // Few ids (material numbers) and ids spread over the whole range: faces end up ordered by id,
  // and faces of one id keep their order.
  std::mt19937 rng(7);
  for (const DWORD range : {DWORD{3}, DWORD{5000}, DWORD{0xFFFFFFFF}}) {
    SCOPED_TRACE(range);
    const DWORD faces = 3000;
    auto m = Make(faces, 3, D3DXMESH_32BIT);
    std::vector<DWORD> ids(faces);
    for (DWORD f = 0; f < faces; ++f) {
      ids[f] = range == 0xFFFFFFFF ? DWORD(rng()) & 0xFFFF0007 : DWORD(rng() % range);
      m->AttributeBuffer()[f] = ids[f];
      for (int k = 0; k < 3; ++k)
        m->SetIndex(size_t{f} * 3 + size_t(k), DWORD(k));
    }
    std::vector<DWORD> faceRemap;
    ASSERT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_DONOTSPLIT, &faceRemap), S_OK);
    ASSERT_EQ(faceRemap.size(), size_t{faces});
    for (size_t i = 0; i + 1 < faces; ++i) {
      const DWORD a = faceRemap[i], b = faceRemap[i + 1];
      ASSERT_TRUE(ids[a] < ids[b] || (ids[a] == ids[b] && a < b)) << i;
      ASSERT_EQ(m->AttributeBuffer()[i], ids[a]);
    }
  }
}

TEST(Mesh, InvariantCheckFindsFaults) {
  auto m = SortFixture();
  std::string why;
  EXPECT_TRUE(CheckMeshInvariants(*m, 3, &why)) << why;
  EXPECT_FALSE(CheckMeshInvariants(*m, 2, &why));  // attribute 2 without a material
  EXPECT_FALSE(CheckMeshInvariants(*m, 0, &why));  // no materials but non-zero ids
  m->SetIndex(5, 7);
  EXPECT_FALSE(CheckMeshInvariants(*m, SIZE_MAX, &why));
  EXPECT_EQ(why, "index 5 out of range");
  EXPECT_EQ(m->OptimizeInplace(D3DXMESHOPT_ATTRSORT), D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace wz::d3dx
