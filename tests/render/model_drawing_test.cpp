// The CPU assembly of a group, on models made in code: which normal, colour and texture
// coordinate each corner takes, mirrored and double-sided copies, the deformed positions, the
// highlighted object, polygons that name missing pool entries, and the 16-bit index tables.
#include "render/model_drawing.h"

#include <gtest/gtest.h>

#include "model/normals.h"
#include "render/render_fixture.h"

namespace wz::testing {
namespace {

// One triangle facing -z (corners at (0,0), (0,1), (1,0)), with all four pools in use.
std::unique_ptr<Model> Triangle() {
  auto m = CreateModel({});
  SetMesh(*m, {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {{0, 1, 2}});
  m->normals = {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}};
  m->normalCount = 3;
  m->colours = {{10, 20, 30, 40}, {100, 110, 120, 130}, {200, 210, 220, 230}};
  m->colourCount = 3;
  m->uvs = {{0.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 0.0f}};
  m->uvCount = 3;
  for (int k = 0; k < 3; ++k) {
    Corner& c = m->polygons[0].corners[size_t(k)];
    c.normal = c.colour = c.uv = k;
  }
  m->groups[0].colour = {255, 128, 64, 255};
  m->groups[0].specularColour = {1, 2, 3};
  DeriveNormals(*m);
  return m;
}

SceneVertices Assemble(const Model& m, AssemblyOptions o = {}) {
  std::vector<int32_t> polygons;
  for (int32_t p = 0; p < m.polygonCount; ++p)
    polygons.push_back(p);
  SceneVertices out;
  AssembleGroup(m, 0, polygons, o, out);
  return out;
}

Vec3 Position(const SceneVertex& v) {
  return {v.x, v.y, v.z};
}
Vec3 Normal(const SceneVertex& v) {
  return {v.nx, v.ny, v.nz};
}

TEST(CpuAssembly, NormalsComeFromThePoolTheFaceOrTheSmoothNormalsByTheRules) {
  struct Case {
    int32_t shading, deform, normalCount;
    Vec3 second;  // the normal of corner 1
  } cases[] = {
      {4, 0, 3, {1, 0, 0}},   // the pool
      {3, 0, 3, {0, 0, -1}},  // flat: the face
      {4, 0, 0, {0, 0, -1}},  // no pool: the face
      {4, 1, 3, {0, 0, -1}},  // deformed: the position's smooth normal (here the face's)
  };
  for (const Case& c : cases) {
    auto m = Triangle();
    m->groups[0].shading = c.shading;
    m->deformOn = c.deform;
    m->animatedPositions = m->positions;
    m->normalCount = c.normalCount;
    const auto v = Assemble(*m);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(Normal(v[1]), c.second) << c.shading << " " << c.deform << " " << c.normalCount;
  }
  // A zero normal in the pool (a file whose writer had none) gives the face normal; so does a
  // face normal a reader left unset.
  auto m = Triangle();
  m->normals[1] = {0, 0, 0};
  m->polygons[0].faceNormal = {0, 0, 0};
  EXPECT_EQ(Normal(Assemble(*m)[1]), (Vec3{0, 0, -1}));
}

TEST(CpuAssembly, ColoursAreTheGroupsOrTheCornersScaledByTheModelColour) {
  auto m = Triangle();
  auto v = Assemble(*m);
  EXPECT_EQ(v[0].diffuse, 0xFFFF8040u);
  EXPECT_EQ(v[0].specular, 0xFF010203u);
  m->vertexColoursOn = 1;
  m->colour = {255, 127.5f, 51, 255};  // halves green, a fifth of blue
  v = Assemble(*m);
  // Corner 1: (100, 110, 120, 130) -> (100, 55, 24, 130), each channel truncated.
  EXPECT_EQ(v[1].diffuse, PackColour(100, 55, 24, 130));
  EXPECT_EQ(v[2].diffuse, PackColour(200, 105, 44, 230));
}

TEST(CpuAssembly, TextureCoordinatesScrollByTheGroupOffsetsWhenSwitchedOn) {
  auto m = Triangle();
  m->groups[0].uvOffset = {0.25, -0.5};
  EXPECT_EQ(Assemble(*m)[1].v, 1.0f);
  m->groups[0].uvScrollOn = 1;
  const auto v = Assemble(*m);
  EXPECT_EQ(v[1].u, 0.25f);
  EXPECT_EQ(v[1].v, 0.5f);
}

TEST(CpuAssembly, MirrorAndDoubleSidedAddReversedCopies) {
  auto m = Triangle();
  m->groups[0].mirror = 1;
  auto v = Assemble(*m);
  ASSERT_EQ(v.size(), 6u);
  // The copy: x and the normal's x negated, corners in reverse order.
  const int order[3] = {2, 1, 0};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(v[size_t(3 + i)].x, -v[size_t(order[i])].x);
    EXPECT_EQ(v[size_t(3 + i)].y, v[size_t(order[i])].y);
    EXPECT_EQ(v[size_t(3 + i)].nx, -v[size_t(order[i])].nx);
  }
  m->groups[0].mirror = 0;
  m->groups[0].doubleSided = 1;
  v = Assemble(*m);
  ASSERT_EQ(v.size(), 6u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Position(v[size_t(3 + i)]), Position(v[size_t(order[i])]));
  m->groups[0].mirror = 1;
  EXPECT_EQ(Assemble(*m).size(), 12u);
}

TEST(CpuAssembly, DeformedPositionsAreDrawnExceptForTheDoubleSidedCopyInRenderModes14To17) {
  auto m = Triangle();
  m->groups[0].doubleSided = 1;
  m->deformOn = 1;
  m->animatedPositions = {{5, 5, 5}, {6, 6, 6}, {7, 7, 7}};
  struct Case {
    int32_t renderMode;
    float copyX;  // x of the copy's first corner (corner 2)
  } cases[] = {{0, 7}, {13, 7}, {14, 1}, {17, 1}, {18, 7}};
  for (const Case& c : cases) {
    AssemblyOptions o;
    o.renderMode = c.renderMode;
    const auto v = Assemble(*m, o);
    EXPECT_EQ(v[0].x, 5.0f) << c.renderMode;
    EXPECT_EQ(v[3].x, c.copyX) << c.renderMode;
  }
  // Too few deformed positions: the pool is drawn.
  m->animatedPositions.resize(2);
  EXPECT_EQ(Assemble(*m)[0].x, 0.0f);
}

TEST(CpuAssembly, ObjectTwoFiftyTwoIsInflatedAlongItsNormalsAndOpaqueMagenta) {
  auto m = Triangle();
  AssemblyOptions o;
  o.object = 252;
  const auto v = Assemble(*m, o);
  EXPECT_EQ(Position(v[0]), (Vec3{0, 0, -0.1f}));  // the pool normal of corner 0 is (0, 0, -1)
  EXPECT_EQ(Position(v[1]), (Vec3{0.1f, 1, 0}));
  EXPECT_EQ(v[0].diffuse, 0xFFFF00FFu);
}

TEST(CpuAssembly, PolygonsNamingMissingPositionsAreLeftOut) {
  auto m = Triangle();
  Polygon bad = m->polygons[0];
  bad.corners[2].position = 3;  // one past the pool
  m->polygons.push_back(bad);
  bad.corners[2].position = -1;
  m->polygons.push_back(bad);
  m->polygonCount = 3;
  EXPECT_EQ(Assemble(*m).size(), 3u);
  // Missing normal, colour and UV entries fall back instead.
  m->polygons[0].corners[1].normal = 9;
  m->polygons[0].corners[1].uv = 9;
  m->vertexColoursOn = 1;
  m->polygons[0].corners[1].colour = 9;
  const auto v = Assemble(*m);
  EXPECT_EQ(Normal(v[1]), (Vec3{0, 0, -1}));
  EXPECT_EQ(v[1].u, 0.0f);
  EXPECT_EQ(v[1].diffuse, 0xFFFF8040u);
}

TEST(BufferData, IndexTablesSplitGroupsOfMoreThan65536Vertices) {
  // 22000 separate triangles: 66000 distinct corners.
  auto m = CreateModel({});
  std::vector<Vec3> v;
  std::vector<std::vector<int>> faces;
  for (int t = 0; t < 22000; ++t) {
    const float x = float(t);
    v.insert(v.end(), {{x, 0, 0}, {x, 1, 0}, {x + 0.5f, 0, 0}});
    faces.push_back({3 * t, 3 * t + 1, 3 * t + 2});
  }
  SetMesh(*m, v, faces);
  DeriveNormals(*m);
  m->shadingMode = 9;
  const auto data = BuildModelDrawData(*m, -1, nullptr);
  const auto& chunks = data->groups[0].chunks;
  ASSERT_EQ(chunks.size(), 2u);
  size_t triangles = 0;
  for (const IndexedChunk& c : chunks) {
    EXPECT_LE(c.vertices.size(), 65536u);
    for (uint16_t i : c.indices)
      EXPECT_LT(i, c.vertices.size());
    triangles += c.indices.size() / 3;
  }
  EXPECT_EQ(triangles, 22000u);
  // The last triangle is drawn whole, from the second table.
  const IndexedChunk& last = chunks.back();
  const MeshVertex& corner = last.vertices[last.indices[last.indices.size() - 1]];
  EXPECT_EQ(corner.x, 21999.5f);
}

TEST(BufferData, SecondMapCompanionTakesTheSecondMapSlots) {
  auto m = Triangle();
  m->textureSlots.resize(4);
  m->textureSlotCount = 4;
  m->groups[0].textureSlot = 1;
  m->groups[0].secondMapOn = 1;
  m->groups[0].secondMapSlot = 3;
  m->shadingMode = 8;
  auto data = BuildModelDrawData(*m, -1, nullptr);
  ASSERT_TRUE(data->companion);
  EXPECT_EQ(data->companion->groups[0].textureSlot, 3);
  EXPECT_EQ(data->companion->positions, m->positions);
  m->groups[0].secondMapSlot = 4;  // beyond the slots: the group keeps its own
  data = BuildModelDrawData(*m, -1, nullptr);
  EXPECT_EQ(data->companion->groups[0].textureSlot, 1);
}

}  // namespace
}  // namespace wz::testing
