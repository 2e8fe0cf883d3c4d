// ShaderInit: the shader-mode targets, the shadow-map format fallback with its log lines, and
// their release before a reset. PostEffect2D: the technique by the 2D effect selector (other
// values keep the last), the time and operands, and the one window quad it draws.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/d3d/recording_backend.h"
#include "platform/text.h"
#include "support/started_library.h"

namespace wz {
namespace {

using testing::LibraryEnvironment;
using testing::StartedLibrary;

std::unique_ptr<StartedLibrary> StartRecording(void (*profile)(d3d::DeviceProfile&)) {
  if (profile) LibraryEnvironment::Profile(profile);
  d3d::SetBackendChoice(d3d::BackendChoice::kRecording);
  auto s = std::make_unique<StartedLibrary>();
  d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
  return s;
}

std::vector<std::string> Utf8(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    out.push_back(platform::Cp932ToUtf8(l));
  return out;
}

TEST(ShaderInit, ShadowMapFallsBackFromR32fToR16fToNone) {
  struct Case {
    const char* name;
    void (*profile)(d3d::DeviceProfile&);
    std::vector<std::string> shadowLines;
    D3DFORMAT shadowFormat;  // D3DFMT_UNKNOWN: none
  } cases[] = {
      {"R32F", nullptr, {"ShadowMap D3DFMT_R32F"}, D3DFMT_R32F},
      {"R16F",
       [](d3d::DeviceProfile& p) { d3d::ProfileByName("sm3-r16f", p); },
       {"ShadowMap D3DFMT_R32F", "ShadowMap D3DFMT_R16F"},
       D3DFMT_R16F},
      {"none",
       [](d3d::DeviceProfile& p) {
         p.refusedRenderTargetFormats = {D3DFMT_R32F, D3DFMT_R16F};
       },
       {"ShadowMap D3DFMT_R32F", "ShadowMap D3DFMT_R16F", "ShadowMap 未対応"},
       D3DFMT_UNKNOWN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryEnvironment environment;
    std::vector<std::string> logs;  // outlives the library, which logs while it ends
    auto s = StartRecording(c.profile);
    ASSERT_TRUE(s->started);
    s->library.AttachLogSink([&logs](const std::string& line) { logs.push_back(line); });
    EXPECT_TRUE(s->library.Effects().targets.initNeeded);
    // The statistics font keeps a default-pool buffer of its own, made again after a reset.
    const int liveBefore = s->library.Device()->Registry()->LiveDefaultPool();
    s->library.ShaderInit();
    std::vector<std::string> expected = {"Shader 初期化", "Shader TexSize 1024×1024"};
    expected.insert(expected.end(), c.shadowLines.begin(), c.shadowLines.end());
    EXPECT_EQ(Utf8(logs), expected);

    const ShaderTargets& t = s->library.Effects().targets;
    EXPECT_FALSE(t.initNeeded);
    for (size_t i = 0; i < 6; ++i) {
      ASSERT_TRUE(t.textures[i]) << i;
      d3d::D3DSURFACE_DESC desc;
      t.textures[i]->GetLevelDesc(0, &desc);
      EXPECT_EQ(desc.Width, 1024u);
      EXPECT_EQ(desc.Height, 1024u);
      EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
      EXPECT_EQ(desc.Usage, d3d::D3DUSAGE_RENDERTARGET);
      EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
      EXPECT_EQ(t.textures[i]->GetLevelCount(), 1u);
      ASSERT_TRUE(t.surfaces[i]);
      EXPECT_EQ(t.surfaces[i]->Container(), t.textures[i].get());
    }
    ASSERT_TRUE(t.depth);
    EXPECT_EQ(t.depth->Format(), D3DFMT_D24X8);
    EXPECT_EQ(t.depth->Width(), 1024u);
    ASSERT_TRUE(t.shadowDepth);
    EXPECT_EQ(t.shadowDepth->Format(), D3DFMT_D16);
    ASSERT_TRUE(t.cube);
    EXPECT_EQ(t.cube->Edge(), 1024u);
    EXPECT_EQ(t.cube->Format(), D3DFMT_A8R8G8B8);
    if (c.shadowFormat == D3DFMT_UNKNOWN) {
      EXPECT_FALSE(t.shadowMap);
      EXPECT_FALSE(t.shadowSurface);
    } else {
      ASSERT_TRUE(t.shadowMap);
      EXPECT_EQ(t.shadowMap->Format(), c.shadowFormat);
      ASSERT_TRUE(t.shadowSurface);
      EXPECT_EQ(t.shadowSurface->Format(), c.shadowFormat);
    }

    // They are default-pool resources: a reset works only because the release drops them.
    EXPECT_GT(s->library.Device()->Registry()->LiveDefaultPool(), liveBefore);
    ASSERT_EQ(s->library.ResetDevice(), 0);
    EXPECT_EQ(s->library.Device()->Registry()->LiveDefaultPool(), liveBefore);
    EXPECT_TRUE(s->library.Effects().targets.initNeeded);
    EXPECT_FALSE(s->library.Effects().targets.textures[0]);
  }
}

// PostEffect2D with the shipped HLSL_2D.fx in the data folder and the recording backend.
class PostEffect : public ::testing::Test {
 protected:
  void SetUp() override {
    s = StartRecording(nullptr);
    ASSERT_TRUE(s->started);
    const std::string dir = platform::HostPath(s->library.DataDir()) + "/System/HLSL";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(WZ_SOURCE_DIR "/data/System/HLSL/HLSL_2D.fx", dir + "/HLSL_2D.fx");
    s->library.ShaderInit();
    recording = d3d::AsRecording(s->library.Device()->GetBackend(true));
    ASSERT_NE(recording, nullptr);
  }
  // One frame's 2D effect; the name of the technique it drew with.
  std::string Frame() {
    d3d::Device& device = *s->library.Device();
    EXPECT_EQ(device.BeginScene(), S_OK);
    recording->ClearRecord();
    s->library.PostEffect2D();
    device.EndScene();
    d3dx::Effect* effect = s->library.EffectLoad("HLSL_2D");
    return effect ? effect->GetCurrentTechnique() : "";
  }

  LibraryEnvironment environment;
  std::unique_ptr<StartedLibrary> s;
  d3d::RecordingBackend* recording = nullptr;
};

TEST_F(PostEffect, SelectorPicksTheTechniqueAndOtherValuesKeepTheLast) {
  EffectState& fx = s->library.Effects();
  for (int32_t selector = 0; selector < 7; ++selector) {
    fx.effect2D = selector;
    EXPECT_EQ(Frame(), kEffect2DTechniques[size_t(selector)]);
  }
  fx.effect2D = 3;
  EXPECT_EQ(Frame(), "RenderReverseTechnique");
  for (int32_t other : {7, -1, 100}) {
    fx.effect2D = other;
    EXPECT_EQ(Frame(), "RenderReverseTechnique") << other;
  }
  fx.effect2D = 5;
  EXPECT_EQ(Frame(), "RenderMosaicTechnique");
}

TEST_F(PostEffect, SelectorSevenFirstKeepsTheEffectsFirstTechnique) {
  s->library.Effects().effect2D = 7;
  EXPECT_EQ(Frame(), "RenderSceneTechnique");
}

TEST_F(PostEffect, DrawsTheSceneTextureOverTheWindowWithTimeAndOperands) {
  EffectState& fx = s->library.Effects();
  fx.op[0] = 0.5f, fx.op[1] = 16.0f, fx.op[2] = 2.0f;
  Frame();
  Frame();
  d3dx::Effect* effect = s->library.EffectLoad("HLSL_2D");
  ASSERT_NE(effect, nullptr);
  float time = 0, op[3] = {};
  effect->GetFloat("g_fTime", &time);
  EXPECT_FLOAT_EQ(time, 0.002f);  // 0.001 per frame
  effect->GetValue("op", op, sizeof op);
  EXPECT_EQ(op[1], 16.0f);

  const auto& draws = recording->Draws();
  ASSERT_EQ(draws.size(), 1u);
  const d3d::RecordedDraw& d = draws[0];
  EXPECT_EQ(d.call.type, d3d::D3DPT_TRIANGLEFAN);
  EXPECT_EQ(d.call.primitiveCount, 2u);
  EXPECT_EQ(d.fvf, 0x144u);
  EXPECT_EQ(d.textures[0], fx.targets.textures[5].get());
  EXPECT_EQ(d.program, effect->PassProgram(0, 0)->Id());
  EXPECT_EQ(d.renderStates[d3d::D3DRS_ZENABLE], 0u);
  // Corners (0, 0), (w, 0), (w, h), (0, h) in window pixels, white, with the texture
  // coordinates the scene texture is read with.
  const float w = float(s->library.WindowWidth()), h = float(s->library.WindowHeight());
  const float expected[4][4] = {{0, 0, 0, 0}, {w, 0, 0.99f, 0}, {w, h, 0.99f, 0.99f}, {0, h, 0, 1}};
  ASSERT_EQ(d.VertexCount(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    float v[7];
    std::memcpy(v, d.Vertex(i), sizeof v);
    uint32_t colour;
    std::memcpy(&colour, d.Vertex(i) + 16, 4);
    EXPECT_EQ(v[0], expected[i][0]) << i;
    EXPECT_EQ(v[1], expected[i][1]) << i;
    EXPECT_EQ(v[3], 1.0f) << i;
    EXPECT_EQ(colour, 0xFFFFFFFFu) << i;
    EXPECT_EQ(v[5], expected[i][2]) << i;
    EXPECT_EQ(v[6], expected[i][3]) << i;
  }
  // The effect puts back what it changed.
  DWORD zenable = 0;
  s->library.Device()->GetRenderState(d3d::D3DRS_ZENABLE, &zenable);
  EXPECT_NE(zenable, 0u);
  EXPECT_EQ(s->library.Device()->GetProgram(), nullptr);
}

TEST(PostEffectOnOpenGl, ShowsTheSceneTextureThroughTheSelectedEffect) {
  LibraryEnvironment environment;
  StartedLibrary s;
  ASSERT_TRUE(s.started);
  const std::string dir = platform::HostPath(s.library.DataDir()) + "/System/HLSL";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(WZ_SOURCE_DIR "/data/System/HLSL/HLSL_2D.fx", dir + "/HLSL_2D.fx");
  d3d::Device& device = *s.library.Device();
  s.library.ShaderInit();
  // The scene texture T5 holds one colour; the window shows it reversed, edge to edge.
  // (With the shared depth surface, as the shader scene draws into T0 to T5.)
  std::shared_ptr<d3d::Surface> backBuffer, depth;
  device.GetBackBuffer(0, 0, d3d::D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  device.GetDepthStencilSurface(&depth);
  const ShaderTargets& t = s.library.Effects().targets;
  ASSERT_EQ(device.SetRenderTarget(0, t.surfaces[5].get()), S_OK);
  ASSERT_EQ(device.SetDepthStencilSurface(t.depth.get()), S_OK);
  ASSERT_EQ(device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF2040C0u, 1, 0), S_OK);
  ASSERT_EQ(device.SetRenderTarget(0, backBuffer.get()), S_OK);
  ASSERT_EQ(device.SetDepthStencilSurface(depth.get()), S_OK);
  s.library.Effects().effect2D = 3;
  ASSERT_EQ(device.BeginScene(), S_OK);
  s.library.PostEffect2D();
  device.EndScene();
  const std::vector<uint32_t> frame = device.ReadBackBuffer();
  const size_t w = size_t(s.library.WindowWidth()), h = size_t(s.library.WindowHeight());
  ASSERT_EQ(frame.size(), w * h);
  for (size_t i : {size_t{0}, w - 1, w * h / 2 + w / 2, w * (h - 1), w * h - 1})
    EXPECT_EQ(frame[i], 0xFFDFBF3Fu) << i;
  device.Present();  // to look at with WZ_FRAME_DUMP
}

TEST(PostEffectWithoutEffect, DrawsNothing) {
  LibraryEnvironment environment;
  auto s = StartRecording(nullptr);
  ASSERT_TRUE(s->started);
  d3d::Device& device = *s->library.Device();
  auto* recording = d3d::AsRecording(device.GetBackend(true));
  device.BeginScene();
  s->library.PostEffect2D();
  s->library.PostEffect2D();
  device.EndScene();
  EXPECT_TRUE(recording->Draws().empty());
  EXPECT_EQ(platform::script::TakeShownMessageBoxes().size(), 1u);
}

}  // namespace
}  // namespace wz
