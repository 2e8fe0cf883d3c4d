// glTF writer: .glb and .gltf files read back by tinygltf and by `assimp info` (two independent
// readers): triangle counts, boxes in metres with z negated, facing, materials, the converted
// image embedded or beside the document, and the image's top-left on the square's top-left.
#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>

#include "formats/exchange_fixtures.h"
#include "formats/formats.h"
#include "formats/model_export.h"

namespace wz {
namespace {

using testing::TempDir;

// Reads a written file with tinygltf; images are left undecoded.
bool NoImageDecode(tinygltf::Image*, const int, std::string*, std::string*, int, int,
                   const unsigned char*, int, void*) {
  return true;
}

tinygltf::Model ReadBack(const std::string& hostPath) {
  tinygltf::TinyGLTF loader;
  loader.SetImageLoader(NoImageDecode, nullptr);
  tinygltf::Model m;
  std::string error, warning;
  const bool ok = hostPath.ends_with(".glb")
                      ? loader.LoadBinaryFromFile(&m, &error, &warning, hostPath)
                      : loader.LoadASCIIFromFile(&m, &error, &warning, hostPath);
  EXPECT_TRUE(ok) << error;
  EXPECT_EQ(warning, "");
  return m;
}

// The floats of an accessor (tightly packed views, as the writer makes them).
std::vector<float> Floats(const tinygltf::Model& m, int accessor) {
  const tinygltf::Accessor& a = m.accessors[size_t(accessor)];
  const tinygltf::BufferView& v = m.bufferViews[size_t(a.bufferView)];
  const size_t n = a.count * size_t(tinygltf::GetNumComponentsInType(a.type));
  std::vector<float> out(n);
  std::memcpy(out.data(), m.buffers[0].data.data() + v.byteOffset + a.byteOffset, n * 4);
  return out;
}
std::vector<uint32_t> Indices(const tinygltf::Model& m, int accessor) {
  const tinygltf::Accessor& a = m.accessors[size_t(accessor)];
  const tinygltf::BufferView& v = m.bufferViews[size_t(a.bufferView)];
  const uint8_t* p = m.buffers[0].data.data() + v.byteOffset + a.byteOffset;
  std::vector<uint32_t> out;
  for (size_t i = 0; i < a.count; ++i) {
    if (a.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
      uint16_t s;
      std::memcpy(&s, p + 2 * i, 2);
      out.push_back(s);
    } else {
      uint32_t s;
      std::memcpy(&s, p + 4 * i, 4);
      out.push_back(s);
    }
  }
  return out;
}

struct Written {
  explicit Written(const char* extension) {
    wz::testing::WriteFile(dir / "face.bmp", std::string(bmp.begin(), bmp.end()));
    model = wz::testing::SquareAndTriangle(dir.path());
    path = dir / (std::string("out.") + extension);
    const std::string library = platform::LibraryPath(path);
    result = std::string(extension) == "glb" ? SaveGlb(host, *model, library)
                                             : SaveGltf(host, *model, library);
  }
  TempDir dir;
  std::vector<uint8_t> bmp = wz::testing::QuadrantBmp();
  RecordingModelHost host;
  std::unique_ptr<Model> model;
  std::string path;
  int result = 0;
};

class GltfWriter : public ::testing::TestWithParam<const char*> {};

TEST_P(GltfWriter, TinygltfReadsTrianglesBoxFacingAndMaterials) {
  Written w(GetParam());
  ASSERT_EQ(w.result, 1) << (w.host.lines.empty() ? "" : w.host.lines[0]);
  EXPECT_TRUE(w.host.lines.empty());
  const tinygltf::Model m = ReadBack(w.path);
  ASSERT_EQ(m.meshes.size(), 1u);
  ASSERT_EQ(m.meshes[0].primitives.size(), 2u);
  size_t triangles = 0;
  float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
  for (const tinygltf::Primitive& p : m.meshes[0].primitives) {
    const std::vector<uint32_t> index = Indices(m, p.indices);
    triangles += index.size() / 3;
    const std::vector<float> pos = Floats(m, p.attributes.at("POSITION"));
    const std::vector<float> normal = Floats(m, p.attributes.at("NORMAL"));
    for (size_t i = 0; i < pos.size(); ++i) {
      lo[i % 3] = std::min(lo[i % 3], pos[i]);
      hi[i % 3] = std::max(hi[i % 3], pos[i]);
    }
    // Every triangle runs counter-clockwise around its vertices' normal (+z toward the viewer).
    for (size_t t = 0; t < index.size(); t += 3) {
      auto at = [&](size_t k) {
        return Vec3{pos[index[t + k] * 3], pos[index[t + k] * 3 + 1], pos[index[t + k] * 3 + 2]};
      };
      const Vec3 n = Cross(at(1) - at(0), at(2) - at(0));
      const Vec3 given{normal[index[t] * 3], normal[index[t] * 3 + 1], normal[index[t] * 3 + 2]};
      EXPECT_GT(Dot(n, given), 0.0f);
      EXPECT_NEAR(given.z, 1.0f, 1e-6f);
    }
  }
  EXPECT_EQ(triangles, 3u);
  // Library box (0, 0, 0)-(30, 10, 5) in metres with z negated.
  EXPECT_EQ(std::vector<float>(lo, lo + 3), (std::vector<float>{0, 0, -0.5f}));
  EXPECT_EQ(std::vector<float>(hi, hi + 3), (std::vector<float>{3, 1, 0}));

  ASSERT_EQ(m.materials.size(), 2u);
  const tinygltf::Material& face = m.materials[0];
  const tinygltf::Material& glass = m.materials[1];
  EXPECT_EQ(face.name, "face");
  EXPECT_EQ(face.alphaMode, "OPAQUE");
  EXPECT_EQ(face.pbrMetallicRoughness.baseColorTexture.index, 0);
  EXPECT_EQ(glass.alphaMode, "BLEND");
  EXPECT_TRUE(glass.doubleSided);
  EXPECT_FALSE(face.doubleSided);
  EXPECT_EQ(glass.pbrMetallicRoughness.baseColorFactor,
            (std::vector<double>{1, 0, 0, double(128.0f / 255.0f)}));
  EXPECT_EQ(glass.pbrMetallicRoughness.baseColorTexture.index, -1);
}

TEST_P(GltfWriter, AssimpReadsTheSameTrianglesAndBox) {
  Written w(GetParam());
  ASSERT_EQ(w.result, 1);
  const auto info = wz::testing::RunAssimpInfo(w.path);
  EXPECT_EQ(info.faces, 3) << info.output;
  EXPECT_EQ(info.lo, (Vec3{0, 0, -0.5f})) << info.output;
  EXPECT_EQ(info.hi, (Vec3{3, 1, 0})) << info.output;
}

// The BMP is converted to PNG; decoding it again gives the BMP's pixels, and the vertex at the
// square's top-left (smallest x, largest y) samples the image's top-left pixel (red).
TEST_P(GltfWriter, ImageIsAPngWhoseTopLeftSitsAtTheSquaresTopLeft) {
  Written w(GetParam());
  ASSERT_EQ(w.result, 1);
  const tinygltf::Model m = ReadBack(w.path);
  ASSERT_EQ(m.images.size(), 1u);
  std::vector<uint8_t> png;
  if (std::string(GetParam()) == "glb") {
    EXPECT_EQ(m.images[0].mimeType, "image/png");
    const tinygltf::BufferView& v = m.bufferViews[size_t(m.images[0].bufferView)];
    png.assign(m.buffers[0].data.begin() + long(v.byteOffset),
               m.buffers[0].data.begin() + long(v.byteOffset + v.byteLength));
    EXPECT_FALSE(std::filesystem::exists(w.dir / "face.png"));
  } else {
    EXPECT_EQ(m.images[0].uri, "face.png");
    const std::string beside = wz::testing::ReadFile(w.dir / "face.png");
    png.assign(beside.begin(), beside.end());
  }
  EXPECT_EQ(test::DecodePixels(png), test::DecodePixels(w.bmp));

  const tinygltf::Primitive& square = m.meshes[0].primitives[0];
  const std::vector<float> pos = Floats(m, square.attributes.at("POSITION"));
  const std::vector<float> uv = Floats(m, square.attributes.at("TEXCOORD_0"));
  size_t topLeft = 0;
  for (size_t v = 0; v < pos.size() / 3; ++v)
    if (pos[v * 3] == 0.0f && pos[v * 3 + 1] == 1.0f) topLeft = v;
  EXPECT_EQ(uv[topLeft * 2], 0.0f);
  EXPECT_EQ(uv[topLeft * 2 + 1], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Formats, GltfWriter, ::testing::Values("glb", "gltf"));

TEST(GltfWriterFiles, GltfNamesItsBufferFileAndGlbIsOneValidContainer) {
  Written gltf("gltf");
  ASSERT_EQ(gltf.result, 1);
  const tinygltf::Model m = ReadBack(gltf.path);
  EXPECT_EQ(m.buffers[0].uri, "out.bin");
  EXPECT_EQ(std::filesystem::file_size(gltf.dir / "out.bin"), m.buffers[0].data.size());

  Written glb("glb");
  ASSERT_EQ(glb.result, 1);
  const std::string bytes = wz::testing::ReadFile(glb.path);
  ASSERT_GE(bytes.size(), 20u);
  uint32_t header[5];
  std::memcpy(header, bytes.data(), sizeof header);
  EXPECT_EQ(header[0], 0x46546C67u);  // "glTF"
  EXPECT_EQ(header[1], 2u);
  EXPECT_EQ(header[2], bytes.size());
  EXPECT_EQ(header[3] % 4, 0u);
  EXPECT_EQ(header[4], 0x4E4F534Au);  // "JSON"
}

TEST(GltfWriterFiles, CornerColoursBecomeColor0) {
  TempDir dir;
  auto model = wz::testing::SquareAndTriangle(dir.path());
  model->colours = {{255, 0, 0, 255}, {0, 0, 255, 100}};
  model->colourCount = 2;
  model->polygons[1].corners[2].colour = 1;
  model->vertexColoursOn = 1;
  RecordingModelHost host;
  std::vector<uint8_t> glb, bin;
  ASSERT_EQ(exchange::BuildGltf(host, *model, "\\t\\a.glb", true, {}, glb, bin), 1);
  glb.insert(glb.end(), bin.begin(), bin.end());
  tinygltf::TinyGLTF loader;
  tinygltf::Model m;
  std::string error, warning;
  ASSERT_TRUE(loader.LoadBinaryFromMemory(&m, &error, &warning, glb.data(), unsigned(glb.size())))
      << error;
  const tinygltf::Primitive& glass = m.meshes[0].primitives[1];
  const std::vector<float> colour = Floats(m, glass.attributes.at("COLOR_0"));
  ASSERT_EQ(colour.size(), 12u);
  EXPECT_FLOAT_EQ(colour[11], 100.0f / 255.0f);
  EXPECT_EQ(m.materials[1].pbrMetallicRoughness.baseColorFactor,
            (std::vector<double>{1, 1, 1, 1}));  // the model colour alone
  EXPECT_EQ(m.materials[1].alphaMode, "BLEND");
}

TEST(GltfWriterFiles, FailuresAreReportedAndWriteNothing) {
  TempDir dir;
  RecordingModelHost host;
  auto model = wz::testing::SquareAndTriangle(dir.path());
  // A folder that does not exist.
  EXPECT_EQ(SaveGltf(host, *model, platform::LibraryPath(dir / "none/out.gltf")), 0);
  ASSERT_FALSE(host.lines.empty());
  EXPECT_NE(host.lines.back().find("cannot be written"), std::string::npos) << host.lines.back();
  // A model without faces: refused, and no image or buffer file is left beside it.
  wz::testing::WriteFile(dir / "face.bmp", "BM");
  model->polygons[0].cornerCount = 2;
  model->polygons[1].cornerCount = 2;
  host.lines.clear();
  EXPECT_EQ(SaveGltf(host, *model, platform::LibraryPath(dir / "out.gltf")), 0);
  ASSERT_FALSE(host.lines.empty());
  EXPECT_NE(host.lines.back().find("no polygon of 3 or 4 corners"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(GltfWriterFiles, AMissingImageLeavesTheTextureOutWithALogLine) {
  TempDir dir;
  RecordingModelHost host;
  auto model = wz::testing::SquareAndTriangle(dir.path());
  ASSERT_EQ(SaveGlb(host, *model, platform::LibraryPath(dir / "out.glb")), 1);
  ASSERT_EQ(host.lines.size(), 1u);
  EXPECT_NE(host.lines[0].find("image face.bmp not found"), std::string::npos);
  EXPECT_TRUE(ReadBack(dir / "out.glb").images.empty());
}

}  // namespace
}  // namespace wz
