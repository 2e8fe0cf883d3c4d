// EffectLoad: .fx first, .fxo only when the .fx fails; the trace and log lines of failures; one
// "ERROR" box per attempt with the compiler's text or the last path; the load-needed byte and
// the release with the device resources.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/debug_trace.h"
#include "platform/dialogs.h"
#include "support/started_library.h"

namespace wz {
namespace {

using testing::LibraryEnvironment;
using testing::StartedLibrary;

// A valid effect: one technique that draws white.
constexpr const char* kValidFx = R"(float level = 1.0;
vertex V { void main() { gl_Position = wz_ToGL(vec4(a_position.xyz, 1.0)); } }
fragment F { void main() { o_color = vec4(level); } }
technique RenderSceneTechnique { pass { VertexProgram = V; FragmentProgram = F; } }
)";
// The same with a parameter of another default, to tell which file was loaded.
constexpr const char* kOtherFx = R"(float level = 0.5;
vertex V { void main() { gl_Position = wz_ToGL(vec4(a_position.xyz, 1.0)); } }
fragment F { void main() { o_color = vec4(level); } }
technique RenderSceneTechnique { pass { VertexProgram = V; FragmentProgram = F; } }
)";
// Line 3 names a render state that does not exist.
constexpr const char* kBrokenFx = R"(float level = 1.0;
technique T { pass {
  Zenabled = true; VertexProgram = V; FragmentProgram = F; } }
)";

class EffectLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loading compiles no GLSL on the recording backend; these tests are about files.
    d3d::SetBackendChoice(d3d::BackendChoice::kRecording);
    s = std::make_unique<StartedLibrary>();
    d3d::SetBackendChoice(d3d::BackendChoice::kDefault);
    ASSERT_TRUE(s->started);
    dir = platform::HostPath(s->library.DataDir()) + "/System/HLSL";
    std::filesystem::create_directories(dir);
    platform::SetDebugTraceSink([this](const std::string& line) { traces.push_back(line); });
    s->library.AttachLogSink([this](const std::string& line) { logs.push_back(line); });
    platform::script::TakeShownMessageBoxes();
  }
  void TearDown() override {
    platform::SetDebugTraceSink(nullptr);
    s.reset();
  }

  void Write(const std::string& name, const std::string& bytes) {
    testing::WriteFile(dir + "/" + name, bytes);
  }
  void WriteCompiled(const std::string& name, const char* text) {
    d3dx::EffectDesc desc;
    d3dx::FxError error;
    ASSERT_TRUE(d3dx::ParseEffectText(text, "x.fx", desc, error)) << error.message;
    const std::vector<uint8_t> fxo = d3dx::WriteFxo(desc);
    Write(name, std::string(fxo.begin(), fxo.end()));
  }
  float Level(d3dx::Effect* effect) {
    float v = -1;
    EXPECT_EQ(effect->GetFloat("level", &v), S_OK);
    return v;
  }
  std::vector<platform::ShownMessageBox> Boxes() {
    return platform::script::TakeShownMessageBoxes();
  }

  LibraryEnvironment environment;
  std::unique_ptr<StartedLibrary> s;
  std::string dir;
  std::vector<std::string> traces, logs;
};

TEST_F(EffectLoadTest, ValidFxIsUsedAndTheFxoIsNeverOpened) {
  Write("HLSL_2D.fx", kValidFx);
  WriteCompiled("HLSL_2D.fxo", kOtherFx);
  // Watch the folder for every file opened in it.
  const int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_OPEN), 0);
  d3dx::Effect* effect = s->library.EffectLoad("HLSL_2D");
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(Level(effect), 1.0f);
  std::set<std::string> opened;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* p = buffer; p < buffer + n;) {
      auto* event = reinterpret_cast<inotify_event*>(p);
      if (event->len) opened.insert(event->name);
      p += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  EXPECT_EQ(opened, std::set<std::string>{"HLSL_2D.fx"});
  EXPECT_TRUE(traces.empty());
  EXPECT_TRUE(Boxes().empty());
  // Loaded once: the next call hands out the same effect.
  EXPECT_EQ(s->library.EffectLoad("HLSL_2D"), effect);
}

TEST_F(EffectLoadTest, OnlyTheFxoIsUsedAfterASilentFxFailure) {
  WriteCompiled("HLSL_2D.fxo", kOtherFx);
  d3dx::Effect* effect = s->library.EffectLoad("HLSL_2D");
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(Level(effect), 0.5f);
  EXPECT_EQ(traces, std::vector<std::string>{"*** ERROR *** HLSL_2D.fx"});
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(logs.empty());
}

TEST_F(EffectLoadTest, NeitherFileGivesOneBoxUntilTheNextRelease) {
  EXPECT_EQ(s->library.EffectLoad("HLSL_2D"), nullptr);
  std::vector<platform::ShownMessageBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_EQ(boxes[0].type, platform::MB_OK);
  EXPECT_EQ(boxes[0].text, s->library.DataDir() + "/System/HLSL/HLSL_2D.fxo");
  EXPECT_EQ(traces,
            (std::vector<std::string>{"*** ERROR *** HLSL_2D.fx", "*** ERROR *** HLSL_2D.fxo"}));
  EXPECT_TRUE(logs.empty());
  // Not tried again, even once the file is there ...
  Write("HLSL_2D.fx", kValidFx);
  EXPECT_EQ(s->library.EffectLoad("HLSL_2D"), nullptr);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(s->library.Effects().slots["HLSL_2D"].loadNeeded, 0);
  // ... until the device resources are released (a reset does it).
  ASSERT_EQ(s->library.ResetDevice(), 0);
  EXPECT_EQ(s->library.Effects().slots["HLSL_2D"].loadNeeded, 1);
  EXPECT_NE(s->library.EffectLoad("HLSL_2D"), nullptr);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(EffectLoadTest, Hlsl3dFailureIsLoggedTheOthersTraced) {
  for (const char* name : {"HLSL_3D", "Bone", "BumpMap", "BumpGround"}) {
    traces.clear();
    logs.clear();
    EXPECT_EQ(s->library.EffectLoad(name), nullptr);
    EXPECT_EQ(Boxes().size(), 1u);
    const std::string fx = std::string("*** ERROR *** ") + name + ".fx";
    if (std::string(name) == "HLSL_3D") {
      EXPECT_EQ(traces, std::vector<std::string>{fx});
      EXPECT_EQ(logs, std::vector<std::string>{"*** ERROR *** HLSL_3D.fxo"});
    } else {
      EXPECT_EQ(traces, (std::vector<std::string>{fx, fx + "o"})) << name;
      EXPECT_TRUE(logs.empty()) << name;
    }
  }
}

TEST_F(EffectLoadTest, TheBoxShowsTheCompilersText) {
  const std::string fxPath = s->library.DataDir() + "/System/HLSL/BumpMap.fx";
  // A broken .fx and no .fxo: the .fx's errors.
  Write("BumpMap.fx", kBrokenFx);
  EXPECT_EQ(s->library.EffectLoad("BumpMap"), nullptr);
  std::vector<platform::ShownMessageBox> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, fxPath + "(3): error: unknown render state 'Zenabled'\n");
  // A broken .fxo too: its errors, the last attempt's.
  Write("BumpMap.fxo", "WZFX broken");
  s->library.RenderResources_Release();
  EXPECT_EQ(s->library.EffectLoad("BumpMap"), nullptr);
  boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, fxPath + "o: error: compiled effect cut short in its header\n");
}

TEST_F(EffectLoadTest, ReleaseDropsEveryEffect) {
  Write("HLSL_2D.fx", kValidFx);
  Write("Bone.fx", kValidFx);
  ASSERT_NE(s->library.EffectLoad("HLSL_2D"), nullptr);
  ASSERT_NE(s->library.EffectLoad("Bone"), nullptr);
  s->library.RenderResources_Release();
  for (const auto& [name, slot] : s->library.Effects().slots) {
    EXPECT_EQ(slot.effect, nullptr) << name;
    EXPECT_EQ(slot.loadNeeded, 1) << name;
  }
  // The cleanup of the device releases them too, before the device goes.
  ASSERT_NE(s->library.EffectLoad("HLSL_2D"), nullptr);
  s->library.CleanupDevice();
  EXPECT_EQ(s->library.Effects().slots["HLSL_2D"].effect, nullptr);
  // Without a device nothing is tried: no box, and the byte stays set for the next device.
  EXPECT_EQ(s->library.EffectLoad("HLSL_2D"), nullptr);
  EXPECT_EQ(s->library.Effects().slots["HLSL_2D"].loadNeeded, 1);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
}  // namespace wz
