// A started library that draws its frames into a small off-screen target, with the backend
// chosen per test (recording for call-level checks, OpenGL on llvmpipe for pixels), and models
// made in code: a model is filled in a fresh slot, then gets the normals, bounds and group
// centres a load computes, and is marked loaded.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/binding.h"
#include "model/model_table.h"
#include "model/normals.h"
#include "platform/d3d/recording_backend.h"
#include "platform/d3dx/math.h"
#include "platform/d3dx/png_encode.h"
#include "render/draw3d.h"
#include "support/started_library.h"

namespace wz::testing {

class RenderTest : public ::testing::Test {
 protected:
  // Starts the library drawing with `backend` into a `width` x `height` target with a D24S8
  // depth-stencil surface. `depthStencil` is the library's depth-and-stencil option.
  void Start(d3d::BackendChoice backend, int width = 64, int height = 64, bool depthStencil = false,
             bool toon = false) {
    width_ = width;
    height_ = height;
    d3d::SetBackendChoice(backend);
    s_ = std::make_unique<StartedLibrary>(false);
    s_->library.MutableOptions().depthStencil = depthStencil;
    s_->library.MutableOptions().toonTexture = toon;
    s_->started = s_->library.LibInit(nullptr);
    d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
    ASSERT_TRUE(s_->started);
    d3d::Device& d = Device();
    ASSERT_EQ(d.CreateRenderTarget(UINT(width), UINT(height), D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE,
                                   0, 0, &colour_),
              S_OK);
    ASSERT_EQ(d.CreateDepthStencilSurface(UINT(width), UINT(height), D3DFMT_D24S8,
                                          D3DMULTISAMPLE_NONE, 0, 0, &depth_),
              S_OK);
    d.SetRenderTarget(0, colour_.get());
    d.SetDepthStencilSurface(depth_.get());
    if (backend == d3d::BackendChoice::kOpenGL) {
      ASSERT_EQ(d.GetBackend(true)->Kind(), d3d::BackendKind::kOpenGL) << "no OpenGL context";
    }
    Lib().Rendering().fadeLevel = 1.0f;
  }

  void TearDown() override {
    if (s_ && s_->library.Device()) {
      std::shared_ptr<d3d::Surface> back;
      s_->library.Device()->GetBackBuffer(0, 0, d3d::D3DBACKBUFFER_TYPE_MONO, &back);
      s_->library.Device()->SetRenderTarget(0, back.get());
    }
    colour_.reset();
    depth_.reset();
    s_.reset();
  }

  Library& Lib() { return s_->library; }

  // Copies the shipped effect file `name` (e.g. "Bone.fx") into the library's data folder.
  void InstallEffect(const std::string& name) {
    const std::filesystem::path dir =
        std::filesystem::path(platform::HostPath(Lib().DataDir())) / "System" / "HLSL";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(std::string(WZ_SOURCE_DIR "/data/System/HLSL/") + name, dir / name,
                               std::filesystem::copy_options::overwrite_existing);
  }
  d3d::Device& Device() { return *s_->library.Device(); }
  d3d::RecordingBackend& Recording() {
    d3d::RecordingBackend* r = d3d::AsRecording(Device().GetBackend(true));
    EXPECT_NE(r, nullptr);
    return *r;
  }

  // A model made by `fill` in a new slot, finished as a load finishes it.
  ModelId AddModel(const std::function<void(Model&)>& fill) {
    const ModelId id = Lib().Model3_Create();
    Model& m = *Lib().Model3_Get(id);
    fill(m);
    GrowPositionPools(m, size_t(m.positionCount));
    DeriveNormals(m);
    ComputeBoundsAndShading(m, false);
    const std::vector<Mat4> bind = BindPose(m);
    ModelRuntime& rt = *Lib().Model3_Runtime(id);
    rt.bones.resize(bind.size());
    for (size_t b = 0; b < bind.size(); ++b)
      rt.bones[b].world = rt.bones[b].current = bind[b];
    rt.groups.resize(size_t(m.groupCount));
    rt.textures.resize(size_t(m.textureSlotCount));
    rt.imageInfos.resize(size_t(m.textureSlotCount));
    m.loaded.Set(1);
    return id;
  }

  // Shows model `id` as a new display object with `world`; returns the object number.
  int32_t Show(ModelId id, const Mat4& world = MatrixIdentity()) {
    const int32_t o = Lib().ModelObject_Create();
    Lib().ModelObject_ModelSet(o, id);
    Lib().ModelObject_MatrixSet(o, world);
    return o;
  }

  // The target's pixels (A8R8G8B8, rows top first).
  std::vector<uint32_t> Pixels() {
    std::shared_ptr<d3d::Surface> sys;
    Device().CreateOffscreenPlainSurface(UINT(width_), UINT(height_), D3DFMT_A8R8G8B8,
                                         D3DPOOL_SYSTEMMEM, &sys);
    EXPECT_EQ(Device().GetRenderTargetData(colour_.get(), sys.get()), S_OK);
    d3d::D3DLOCKED_RECT r;
    sys->LockRect(&r, nullptr, 0);
    std::vector<uint32_t> out(size_t(width_) * size_t(height_));
    for (int y = 0; y < height_; ++y) {
      std::memcpy(&out[size_t(y) * size_t(width_)],
                  static_cast<uint8_t*>(r.pBits) + size_t(y) * size_t(r.Pitch), size_t(width_) * 4);
    }
    sys->UnlockRect();
    // WZ_RENDER_TEST_DUMP=DIR keeps every picture a test reads, to look at.
    if (const char* dir = std::getenv("WZ_RENDER_TEST_DUMP")) {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      std::vector<uint8_t> png;
      if (d3dx::EncodePng(out, uint32_t(width_), uint32_t(height_), false, png)) {
        std::ofstream(std::string(dir) + "/" + info->test_suite_name() + "." + info->name() + "-" +
                          std::to_string(dumps_++) + ".png",
                      std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
      }
    }
    return out;
  }
  uint32_t At(const std::vector<uint32_t>& pixels, int x, int y) const {
    return pixels.at(size_t(y) * size_t(width_) + size_t(x));
  }

  // Where a world point lands on the target under the library camera (pixel x, y).
  std::pair<float, float> Project(Vec3 p) {
    d3d::D3DMATRIX view, projection;
    Device().GetTransform(d3d::D3DTS_VIEW, &view);
    Device().GetTransform(d3d::D3DTS_PROJECTION, &projection);
    d3dx::D3DXVECTOR3 v{p.x, p.y, p.z};
    d3dx::D3DXVec3TransformCoord(&v, &v, &view);
    d3dx::D3DXVec3TransformCoord(&v, &v, &projection);
    return {(v.x + 1.0f) * 0.5f * float(width_), (1.0f - v.y) * 0.5f * float(height_)};
  }

  // The draws of the last frame (recording backend), from its first draw on.
  std::vector<d3d::RecordedDraw> FrameDraws() {
    Recording().ClearRecord();
    Lib().RenderFrame();
    return Recording().Draws();
  }

  LibraryEnvironment environment_;
  std::unique_ptr<StartedLibrary> s_;
  std::shared_ptr<d3d::Surface> colour_, depth_;
  int width_ = 0, height_ = 0;
  int dumps_ = 0;
};

// Positions, polygons (position indices per corner, group per polygon) into a model.
inline void SetMesh(Model& m, const std::vector<Vec3>& positions,
                    const std::vector<std::vector<int>>& faces,
                    const std::vector<int>& groups = {}) {
  GrowPositionPools(m, positions.size());
  std::copy(positions.begin(), positions.end(), m.positions.begin());
  m.positionCount = int32_t(positions.size());
  m.polygons.assign(faces.size(), Polygon{});
  for (size_t f = 0; f < faces.size(); ++f) {
    Polygon& p = m.polygons[f];
    p.cornerCount = uint8_t(faces[f].size());
    for (size_t c = 0; c < faces[f].size(); ++c)
      p.corners[c].position = faces[f][c];
    p.group = f < groups.size() ? groups[f] : 0;
  }
  m.polygonCount = int32_t(faces.size());
  for (int32_t i = 0; i < m.positionCount; ++i)
    m.attrs[size_t(i)] = {1, 0, 1.0f, 0};
}

// A square of side 2 in the plane z = `z`, facing -z (towards the default camera), corners
// bottom-left, top-left, top-right, bottom-right, with texture coordinates that put the image's
// top-left corner at the square's top-left.
inline void SquareFacingCamera(Model& m, float z = 0.0f, float half = 1.0f) {
  SetMesh(m, {{-half, -half, z}, {-half, half, z}, {half, half, z}, {half, -half, z}},
          {{0, 1, 2, 3}});
  m.uvs = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
  m.uvCount = 4;
  for (int k = 0; k < 4; ++k)
    m.polygons[0].corners[size_t(k)].uv = k;
}

// Vertex i of a recorded draw as the record `V` (SceneVertex, MeshVertex, SkinnedVertex...).
template <typename V>
V VertexOf(const d3d::RecordedDraw& draw, size_t i) {
  V v;
  std::memcpy(&v, draw.Vertex(i), sizeof v);
  return v;
}

// The positions a draw's elements reach, in element order.
inline std::vector<Vec3> PositionsOf(const d3d::RecordedDraw& draw) {
  std::vector<Vec3> out;
  for (size_t i = 0; i < draw.VertexCount(); ++i) {
    float xyz[3];
    std::memcpy(xyz, draw.Vertex(i), sizeof xyz);
    out.push_back({xyz[0], xyz[1], xyz[2]});
  }
  return out;
}

inline uint8_t R(uint32_t c) {
  return uint8_t(c >> 16);
}
inline uint8_t G(uint32_t c) {
  return uint8_t(c >> 8);
}
inline uint8_t B(uint32_t c) {
  return uint8_t(c);
}

}  // namespace wz::testing
