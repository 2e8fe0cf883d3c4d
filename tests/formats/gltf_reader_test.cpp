// glTF reader: the writer's files read back and written again keep every triangle; real files
// of Debian's assimp-testmodels package (third-party samples in /usr/share/assimp/models/glTF2)
// give the counts and boxes that tinygltf's reading of their accessors predicts; node instancing
// and mirroring; hostile documents refused with a reason.
#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>

#include "formats/exchange_fixtures.h"
#include "formats/formats.h"
#include "model/model_invariants.h"
#include "platform/text.h"

namespace wz {
namespace {

const std::string kSamples = "/usr/share/assimp/models/glTF2/";

bool NoDecode(tinygltf::Image*, const int, std::string*, std::string*, int, int,
              const unsigned char*, int, void*) {
  return true;
}

tinygltf::Model Tiny(const std::string& file) {
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(NoDecode, nullptr);
  tinygltf::Model m;
  std::string error, warning;
  const bool ok = file.ends_with(".glb") ? loader.LoadBinaryFromFile(&m, &error, &warning, file)
                                         : loader.LoadASCIIFromFile(&m, &error, &warning, file);
  EXPECT_TRUE(ok) << error;
  return m;
}

// One triangle corner as written: position, normal, uv; a triangle's corners rotated so that the
// smallest comes first (the writer may start a triangle at another corner).
using CornerValues = std::array<float, 8>;
using Triangle = std::array<CornerValues, 3>;

// Every triangle of every primitive of a written file, per material name, sorted.
std::vector<std::pair<std::string, std::vector<Triangle>>> Triangles(const std::string& file) {
  const tinygltf::Model m = Tiny(file);
  auto floats = [&](int accessor, size_t i, int n, float* out) {
    const tinygltf::Accessor& a = m.accessors[size_t(accessor)];
    const tinygltf::BufferView& v = m.bufferViews[size_t(a.bufferView)];
    std::memcpy(out, m.buffers[0].data.data() + v.byteOffset + a.byteOffset + i * 4 * size_t(n),
                4 * size_t(n));
  };
  std::vector<std::pair<std::string, std::vector<Triangle>>> out;
  for (const tinygltf::Primitive& p : m.meshes[0].primitives) {
    const tinygltf::Accessor& ia = m.accessors[size_t(p.indices)];
    const tinygltf::BufferView& iv = m.bufferViews[size_t(ia.bufferView)];
    const uint8_t* ip = m.buffers[0].data.data() + iv.byteOffset + ia.byteOffset;
    std::vector<Triangle> triangles;
    for (size_t t = 0; t + 2 < ia.count; t += 3) {
      Triangle tri{};
      for (size_t c = 0; c < 3; ++c) {
        uint32_t index = 0;
        if (ia.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
          uint16_t s;
          std::memcpy(&s, ip + 2 * (t + c), 2);
          index = s;
        } else {
          std::memcpy(&index, ip + 4 * (t + c), 4);
        }
        floats(p.attributes.at("POSITION"), index, 3, &tri[c][0]);
        floats(p.attributes.at("NORMAL"), index, 3, &tri[c][3]);
        if (p.attributes.count("TEXCOORD_0"))
          floats(p.attributes.at("TEXCOORD_0"), index, 2, &tri[c][6]);
      }
      std::rotate(tri.begin(), std::min_element(tri.begin(), tri.end()), tri.end());
      triangles.push_back(tri);
    }
    std::sort(triangles.begin(), triangles.end());
    out.emplace_back(m.materials[size_t(p.material)].name, std::move(triangles));
  }
  return out;
}

std::unique_ptr<Model> Read(const std::string& file, RecordingModelHost& host, int* result) {
  auto model = CreateModel({});
  *result = LoadGltf(host, *model, platform::LibraryPath(file), 0);
  return model;
}

TEST(GltfReader, WrittenFilesReadBackAndWriteTheSameTriangles) {
  testing::TempDir dir;
  const std::vector<uint8_t> bmp = testing::QuadrantBmp();
  testing::WriteFile(dir / "face.bmp", std::string(bmp.begin(), bmp.end()));
  RecordingModelHost host;
  auto original = testing::SquareAndTriangle(dir.path());
  for (const char* ext : {".glb", ".gltf"}) {
    const std::string first = dir / ("first" + std::string(ext));
    const std::string second = dir / ("second" + std::string(ext));
    auto save = ext[3] == 'b' ? SaveGlb : SaveGltf;
    ASSERT_EQ(save(host, *original, platform::LibraryPath(first)), 1);
    int result = 0;
    auto model = Read(first, host, &result);
    ASSERT_EQ(result, 1) << (host.lines.empty() ? "" : host.lines.back());
    EXPECT_FALSE(CheckModelInvariants(*model));
    EXPECT_EQ(model->groupCount, original->groupCount);
    ASSERT_EQ(save(host, *model, platform::LibraryPath(second)), 1);
    const auto a = Triangles(first), b = Triangles(second);
    ASSERT_EQ(a.size(), b.size());
    for (size_t p = 0; p < a.size(); ++p) {
      EXPECT_EQ(a[p].first, b[p].first);
      ASSERT_EQ(a[p].second.size(), b[p].second.size());
      for (size_t t = 0; t < a[p].second.size(); ++t)
        for (size_t c = 0; c < 3; ++c)
          for (size_t k = 0; k < 8; ++k)
            EXPECT_NEAR(a[p].second[t][c][k], b[p].second[t][c][k], 1e-5f) << ext << " " << t;
    }
  }
}

// The world matrices of the nodes that show a mesh (column-major), walking the default scene.
void Walk(const tinygltf::Model& m, int node, std::array<double, 16> parent,
          const std::function<void(int, const std::array<double, 16>&)>& visit) {
  const tinygltf::Node& n = m.nodes[size_t(node)];
  std::array<double, 16> local{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, world{};
  if (n.matrix.size() == 16) std::copy(n.matrix.begin(), n.matrix.end(), local.begin());
  if (n.translation.size() == 3) std::copy(n.translation.begin(), n.translation.end(), &local[12]);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r)
      for (int k = 0; k < 4; ++k)
        world[size_t(c * 4 + r)] += parent[size_t(k * 4 + r)] * local[size_t(c * 4 + k)];
  if (n.mesh >= 0) visit(n.mesh, world);
  for (int child : n.children)
    Walk(m, child, world, visit);
}

TEST(GltfReader, RealFilesGiveThePredictedCountsAndBoxes) {
  struct Row {
    const char* file;
    int textures;  // texture slots beyond slot 0
  };
  const Row rows[] = {
      {"BoxTextured-glTF-Binary/BoxTextured.glb", 1},
      {"BoxTextured-glTF/BoxTextured.gltf", 1},
      {"BoxTextured-glTF-Embedded/BoxTextured.gltf", 1},
      {"2CylinderEngine-glTF-Binary/2CylinderEngine.glb", 0},
      {"glTF-Asset-Generator/Mesh_PrimitiveMode/Mesh_PrimitiveMode_04.gltf", 0},
      {"glTF-Asset-Generator/Mesh_PrimitiveMode/Mesh_PrimitiveMode_05.gltf", 0},
      {"glTF-Asset-Generator/Mesh_PrimitiveMode/Mesh_PrimitiveMode_06.gltf", 0},
  };
  for (const Row& row : rows) {
    const std::string file = kSamples + row.file;
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "assimp-testmodels is not installed";
    SCOPED_TRACE(row.file);
    const tinygltf::Model m = Tiny(file);
    // Prediction: the accessors' triangles and the corners of their min/max boxes, moved by the
    // nodes and brought into the library's frame.
    size_t triangles = 0;
    double lo[3] = {1e30, 1e30, 1e30}, hi[3] = {-1e30, -1e30, -1e30};
    const int scene = std::max(m.defaultScene, 0);
    for (int root : m.scenes[size_t(scene)].nodes) {
      Walk(m, root, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1},
           [&](int mesh, const std::array<double, 16>& w) {
             for (const tinygltf::Primitive& p : m.meshes[size_t(mesh)].primitives) {
               const tinygltf::Accessor& pos = m.accessors[size_t(p.attributes.at("POSITION"))];
               const size_t n = p.indices >= 0 ? m.accessors[size_t(p.indices)].count : pos.count;
               triangles += p.mode == 4 ? n / 3 : n - 2;
               for (int corner = 0; corner < 8; ++corner) {
                 double v[3];
                 for (int a = 0; a < 3; ++a)
                   v[a] = (corner >> a & 1) ? pos.maxValues[size_t(a)] : pos.minValues[size_t(a)];
                 for (int a = 0; a < 3; ++a) {
                   double x = w[size_t(a)] * v[0] + w[size_t(4 + a)] * v[1] +
                              w[size_t(8 + a)] * v[2] + w[size_t(12 + a)];
                   x *= a == 2 ? -10.0 : 10.0;
                   lo[a] = std::min(lo[a], x), hi[a] = std::max(hi[a], x);
                 }
               }
             }
           });
    }
    RecordingModelHost host;
    int result = 0;
    auto model = Read(file, host, &result);
    ASSERT_EQ(result, 1) << (host.lines.empty() ? "" : host.lines.back());
    EXPECT_FALSE(CheckModelInvariants(*model));
    EXPECT_EQ(size_t(model->polygonCount), triangles);
    EXPECT_EQ(model->textureSlotCount, row.textures + 1);
    EXPECT_EQ(host.textureLoads.size(), size_t(row.textures));
    float mlo[3] = {1e30f, 1e30f, 1e30f}, mhi[3] = {-1e30f, -1e30f, -1e30f};
    for (int32_t i = 0; i < model->positionCount; ++i) {
      const Vec3& p = model->positions[size_t(i)];
      const float v[3] = {p.x, p.y, p.z};
      for (int a = 0; a < 3; ++a)
        mlo[a] = std::min(mlo[a], v[a]), mhi[a] = std::max(mhi[a], v[a]);
    }
    // The corners' box holds the model's; for axis-aligned node transforms they are equal.
    const bool exact = !std::string(row.file).starts_with("2Cylinder");
    for (int a = 0; a < 3; ++a) {
      const double tolerance = 1e-3 * std::max(1.0, hi[a] - lo[a]);
      EXPECT_GE(mlo[a], lo[a] - tolerance) << a;
      EXPECT_LE(mhi[a], hi[a] + tolerance) << a;
      if (exact) {
        EXPECT_NEAR(mlo[a], lo[a], tolerance) << a;
        EXPECT_NEAR(mhi[a], hi[a], tolerance) << a;
      }
    }
  }
}

// A document with one buffer (as a data: URI) of the given bytes; `rest` is the JSON after it.
std::string Document(const std::vector<uint8_t>& bytes, const std::string& rest) {
  static const char* k64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string b64;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= bytes[i + 2];
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    for (size_t k = 0; k < 4; ++k)
      b64 += k <= n ? k64[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":)" + std::to_string(bytes.size()) +
         R"(,"uri":"data:application/octet-stream;base64,)" + b64 + R"("}],)" + rest + "}";
}

// One triangle: three float positions and three 16-bit indices (and 2 bytes of padding).
std::vector<uint8_t> TriangleBytes() {
  const float p[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const uint16_t idx[4] = {0, 1, 2, 0};
  std::vector<uint8_t> b(44);
  std::memcpy(b.data(), p, 36);
  std::memcpy(b.data() + 36, idx, 8);
  return b;
}

std::string Mesh(const std::string& views, const std::string& accessors,
                 const std::string& nodes = R"([{"mesh":0}])") {
  return R"("bufferViews":)" + views + R"(,"accessors":)" + accessors +
         R"(,"meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}],"nodes":)" +
         nodes;
}

const std::string kViews =
    R"([{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":6}])";
const std::string kAccessors =
    R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
    R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}])";

int ReadText(const std::string& text, RecordingModelHost& host, Model& model) {
  return LoadGltfFromMemory(host, model, "\\t\\doc.gltf",
                            {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, 0);
}

TEST(GltfReader, NodesInstanceMeshesAndMirroredNodesKeepFacesOutward) {
  RecordingModelHost host;
  auto model = CreateModel({});
  const std::string text =
      Document(TriangleBytes(), Mesh(kViews, kAccessors,
                                     R"([{"children":[1,2]},{"mesh":0,"translation":[5,0,0]},)"
                                     R"({"mesh":0,"scale":[-1,1,1]}])"));
  ASSERT_EQ(ReadText(text, host, *model), 1) << host.lines.back();
  ASSERT_EQ(model->polygonCount, 2);
  EXPECT_EQ(model->positions[0].x, 50.0f);  // the translated instance
  EXPECT_EQ(model->positions[1].x, 60.0f);
  EXPECT_EQ(model->positions[4].x, -10.0f);  // the mirrored one
  const Vec3 a = model->polygons[0].faceNormal, b = model->polygons[1].faceNormal;
  EXPECT_NE(a.z, 0.0f);
  EXPECT_EQ(a.z, b.z);
}

TEST(GltfReader, HostileDocumentsAreRefusedWithAReason) {
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  };
  const std::string big =
      R"([{"bufferView":0,"componentType":5126,"count":1000000000,"type":"VEC3"},)"
      R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}])";
  const std::string noData = R"([{"componentType":5126,"count":4000000000,"type":"VEC3"},)"
                             R"({"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}])";
  // 32-bit indices 0, 0, 0 (at byte 44) with one sparse index of 2^32 - 1 (at byte 56).
  std::vector<uint8_t> sparseMax = TriangleBytes();
  sparseMax.resize(56, 0);
  sparseMax.insert(sparseMax.end(), 4, 0xFF);
  const std::string sparseViews = R"([{"buffer":0,"byteLength":36},)"
                                  R"({"buffer":0,"byteOffset":36,"byteLength":6},)"
                                  R"({"buffer":0,"byteOffset":44,"byteLength":12},)"
                                  R"({"buffer":0,"byteOffset":56,"byteLength":4}])";
  const std::string sparseIndices =
      R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},)"
      R"({"bufferView":2,"componentType":5125,"count":3,"type":"SCALAR","sparse":{"count":1,)"
      R"("indices":{"bufferView":1,"componentType":5123},"values":{"bufferView":3}}}])";
  std::vector<uint8_t> outOfRange = TriangleBytes();
  outOfRange[40] = 9;  // the third index names vertex 9 of 3
  const Case cases[] = {
      {"index out of range", Document(outOfRange, Mesh(kViews, kAccessors)), "out of range"},
      {"view past the buffer",
       Document(
           TriangleBytes(),
           Mesh(R"([{"buffer":0,"byteLength":3600},{"buffer":0,"byteOffset":36,"byteLength":6}])",
                kAccessors)),
       "past the end of its buffer"},
      {"sparse index 2^32 - 1", Document(sparseMax, Mesh(sparseViews, sparseIndices)),
       "out of range"},
      {"huge count, tiny data", Document(TriangleBytes(), Mesh(kViews, big)), "run past"},
      {"huge count, no data", Document(TriangleBytes(), Mesh(kViews, noData)), "would need"},
      {"nodes in a cycle",
       Document(TriangleBytes(), Mesh(kViews, kAccessors,
                                      R"([{"mesh":0,"children":[0]}],"scenes":[{"nodes":[0]}])")),
       "not a tree"},
      {"deep JSON", std::string(100, '[') + std::string(100, ']'), "deeper"},
      {"not JSON", "{\"asset\":", ""},
      {"cut GLB", std::string("glTF\2\0\0\0\xff\xff\0\0", 12), "GLB"},
  };
  for (const Case& c : cases) {
    RecordingModelHost host;
    auto model = CreateModel({});
    const Model before = *model;
    EXPECT_EQ(ReadText(c.text, host, *model), 0) << c.what;
    EXPECT_TRUE(*model == before) << c.what;
    ASSERT_FALSE(host.lines.empty()) << c.what;
    EXPECT_NE(host.lines.back().find(c.reason), std::string::npos)
        << c.what << ": " << host.lines.back();
  }
  // Real files of the same kinds (assimp-testmodels): indices out of range, a missing buffer
  // file, nodes that contain themselves.
  for (const char* file : {"IndexOutOfRange/IndexOutOfRange.gltf", "MissingBin/BoxTextured.gltf",
                           "RecursiveNodes/RecursiveNodes.gltf"}) {
    if (!std::filesystem::exists(kSamples + file)) continue;
    RecordingModelHost host;
    int result = 1;
    Read(kSamples + file, host, &result);
    EXPECT_EQ(result, 0) << file;
  }
}

}  // namespace
}  // namespace wz
