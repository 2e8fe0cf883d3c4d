// The public interface (include/wz/) over the library object of the program: every call fails
// cleanly before Start, and one session loads, draws, saves, converts and stops.
#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "wz/wz.h"

namespace {

// A unit cube of 8 positions and 12 triangles.
constexpr const char* kCube =
    "xof 0303txt 0032\nMesh cube {\n 8;\n 0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.0;, 0.0;1.0;0.0;,\n"
    " 0.0;0.0;1.0;, 1.0;0.0;1.0;, 1.0;1.0;1.0;, 0.0;1.0;1.0;;\n 12;\n"
    " 3;0,1,2;, 3;0,2,3;, 3;4,5,6;, 3;4,6,7;, 3;0,1,5;, 3;0,5,4;,\n"
    " 3;1,2,6;, 3;1,6,5;, 3;2,3,7;, 3;2,7,6;, 3;3,0,4;, 3;3,4,7;;\n}\n";

bool SaysNotStarted() {
  return std::string(wz::LastError()).find("not started") != std::string::npos;
}

TEST(PublicApi, EveryCallBeforeStartFailsWithAReason) {
  ASSERT_FALSE(wz::Started());
  wz::ModelInfo info;
  float w = 0, h = 0;
  const std::pair<const char*, bool (*)()> calls[] = {
      {"LoadModel", [] { return wz::LoadModel("/nonexistent.x") != wz::kNoModel; }},
      {"LoadModelInBackground", [] { return wz::LoadModelInBackground("a.x") != wz::kNoModel; }},
      {"IsModelLoaded", [] { return wz::IsModelLoaded(0); }},
      {"WaitForModel", [] { return wz::WaitForModel(0); }},
      {"SaveModel", [] { return wz::SaveModel(0, "/tmp/never.wzp"); }},
      {"LoadTexture", [] { return wz::LoadTexture("a.png") >= 0; }},
      {"DrawFrame", [] { return wz::DrawFrame(); }},
      {"CreateObject", [] { return wz::CreateObject(wz::kNoModel) >= 0; }},
      {"SetObjectModel", [] { return wz::SetObjectModel(0, 0); }},
      {"SetCamera",
       [] {
         return wz::SetCamera({0, 0, -5}, {}, {0, 1, 0});
       }},
      {"SetProjection", [] { return wz::SetProjection(45, 1, 10); }},
      {"PumpEvents", [] { return wz::PumpEvents(); }},
      {"KeyDown", [] { return wz::KeyDown(wz::kKeyEscape); }},
      {"SetScreenEffect", [] { return wz::SetScreenEffect(wz::ScreenEffect::kSepia); }},
      {"SoundDeviceReady", [] { return wz::SoundDeviceReady(); }},
      {"ConvertFile", [] { return wz::ConvertFile("a.x", wz::Format::kGlb, nullptr).ok; }},
  };
  for (const auto& [name, call] : calls) {
    EXPECT_FALSE(call()) << name;
    // The error names the call that failed.
    EXPECT_EQ(std::string(wz::LastError()).rfind(std::string("wz::") + name + ": ", 0), 0u)
        << name << ": " << wz::LastError();
    EXPECT_TRUE(SaysNotStarted()) << name;
  }
  EXPECT_FALSE(wz::GetModelInfo(0, info));
  EXPECT_FALSE(wz::InspectFile("a.x", info));
  EXPECT_FALSE(wz::GetTextureSize(0, w, h));
  EXPECT_TRUE(SaysNotStarted());
  // Calls without a result do nothing.
  wz::ReleaseModel(0);
  wz::AdvanceModel(0, 1);
  wz::Print(0, 0, "%d", 1);
  wz::Stop();
  EXPECT_EQ(wz::TextureCount(), 0);
  EXPECT_EQ(wz::WindowWidth(), 0);
  EXPECT_EQ(wz::DataFolder(), "");
  EXPECT_STREQ(wz::Version(), WZ_VERSION_STRING);
}

// While a session is up, what this thread allocates is left out of the leak check: the library
// object is the program's global, and the GL driver keeps what it allocated for the context it
// made until the process ends, where the leak checker cannot name it.
struct DriverAllocationsUnchecked {
#if defined(__SANITIZE_ADDRESS__)
  DriverAllocationsUnchecked() {
    __lsan_disable();
  }
  ~DriverAllocationsUnchecked() {
    __lsan_enable();
  }
#endif
};

TEST(PublicApi, OneSessionLoadsDrawsSavesConvertsAndStops) {
  wz::testing::TempDir dir;
  const std::string cube = dir / "cube.x";
  wz::testing::WriteFile(cube, kCube);
  int logged = 0;
  wz::SetLogHandler([&logged](const std::string&) { ++logged; });
  {
    [[maybe_unused]] const DriverAllocationsUnchecked unchecked;
    wz::Session session({.desktop = false});
    ASSERT_TRUE(session.ok()) << wz::LastError();
    EXPECT_TRUE(wz::Started());
    EXPECT_GT(logged, 0);
    EXPECT_FALSE(wz::Start());
    EXPECT_TRUE(std::filesystem::is_directory(wz::DataFolder() + "/System/HLSL"));

    const wz::ModelId id = wz::LoadModel(cube.c_str());
    ASSERT_NE(id, wz::kNoModel) << wz::LastError();
    wz::ModelInfo info;
    ASSERT_TRUE(wz::GetModelInfo(id, info));
    EXPECT_EQ(info.polygons, 12);
    EXPECT_EQ(info.vertices, 8);
    EXPECT_FLOAT_EQ(info.boundsMax.y - info.boundsMin.y, 1.0f);
    wz::ModelInfo inspected;
    ASSERT_TRUE(wz::InspectFile(cube.c_str(), inspected)) << wz::LastError();
    EXPECT_EQ(inspected.polygons, info.polygons);
    EXPECT_FALSE(wz::SetModelMotion(id, 5, 0.0f));
    wz::AdvanceModel(id, 1.0f);

    // A frame with every kind of drawing.
    const int object = wz::CreateObject(id);
    ASSERT_GE(object, 0);
    EXPECT_TRUE(wz::SetObjectPosition(object, {0, 0, 0}));
    EXPECT_TRUE(wz::SetObjectAngles(object, {0, 30, 0}));
    EXPECT_TRUE(wz::SetObjectScale(object, {1, 1, 1}));
    EXPECT_TRUE(wz::SetObjectVisible(object, true));
    EXPECT_FALSE(wz::SetObjectModel(object + 100, id));
    EXPECT_TRUE(wz::SetCamera({0.5f, 0.5f, -4}, {0.5f, 0.5f, 0.5f}, {0, 1, 0}));
    EXPECT_FALSE(wz::SetCamera({1, 1, 1}, {1, 1, 1}, {0, 1, 0}));
    EXPECT_TRUE(wz::SetProjection(45, 0.1f, 100));
    EXPECT_FALSE(wz::SetProjection(45, 10, 1));
    wz::SetLight({0, 5, -5}, {255, 255, 255, 255});
    wz::SetBackground({0, 0, 64, 255});
    const int texture = wz::LoadTexture((wz::DataFolder() + "/System/shadow2d.png").c_str());
    ASSERT_GE(texture, 0) << wz::LastError();
    float w = 0, h = 0;
    EXPECT_TRUE(wz::GetTextureSize(texture, w, h));
    EXPECT_GT(w, 0);
    EXPECT_GT(wz::TextureCount(), texture);
    EXPECT_LT(wz::LoadTexture(cube.c_str()), 0);
    bool overlaid = false, sprite = false;
    wz::SetOverlay([&] {
      overlaid = true;
      wz::DrawLine(0, 0, 100, 100, {});
      wz::DrawRect(10, 10, 50, 50, {});
      wz::FillRect(60, 10, 90, 40, {255, 0, 0, 128});
      sprite = wz::DrawSprite(texture, 200, 200, 0, 1, {});
    });
    wz::SetTextColour({255, 255, 0, 255});
    wz::Print(10, 10, "%d polygons", int(info.polygons));
    EXPECT_TRUE(wz::PumpEvents());
    EXPECT_TRUE(wz::DrawFrame());
    EXPECT_TRUE(overlaid);
    EXPECT_TRUE(sprite);
    EXPECT_FALSE(wz::KeyDown(wz::kKeyEscape));
    EXPECT_FALSE(wz::KeyDown(300));
    EXPECT_GT(wz::WindowWidth(), 0);
    EXPECT_GT(wz::WindowHeight(), 0);
    EXPECT_TRUE(wz::SetScreenEffect(wz::ScreenEffect::kSepia)) << wz::LastError();
    EXPECT_TRUE(wz::DrawFrame());
    EXPECT_TRUE(wz::SetScreenEffect(wz::ScreenEffect::kOff));
    EXPECT_TRUE(wz::SoundDeviceReady());

    // Saved and read back in the background.
    const std::string saved = dir / "saved.wzp";
    ASSERT_TRUE(wz::SaveModel(id, saved.c_str())) << wz::LastError();
    EXPECT_FALSE(wz::SaveModel(id, (dir / "no/such/folder.wzp").c_str()));
    const wz::ModelId back = wz::LoadModelInBackground(saved.c_str());
    ASSERT_NE(back, wz::kNoModel);
    ASSERT_TRUE(wz::WaitForModel(back));
    EXPECT_TRUE(wz::IsModelLoaded(back));
    wz::ModelInfo backInfo;
    ASSERT_TRUE(wz::GetModelInfo(back, backInfo));
    EXPECT_EQ(backInfo.polygons, 12);
    wz::ReleaseModel(back);
    EXPECT_FALSE(wz::GetModelInfo(back, backInfo));
    wz::ReleaseObject(object);
    EXPECT_FALSE(wz::SetObjectVisible(object, true));

    // Conversion, and failures that name their cause.
    const wz::ConvertResult glb =
        wz::ConvertFile(cube.c_str(), wz::Format::kGlb, (dir / "out").c_str());
    EXPECT_TRUE(glb.ok) << glb.error;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "out/cube.glb"));
    const wz::ConvertResult missing =
        wz::ConvertFile((dir / "missing.x").c_str(), wz::Format::kObj, nullptr);
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.empty());
    EXPECT_EQ(wz::LoadModel((dir / "missing.x").c_str()), wz::kNoModel);
    EXPECT_NE(std::string(wz::LastError()).find("missing.x"), std::string::npos);
  }
  EXPECT_FALSE(wz::Started());
  EXPECT_FALSE(wz::DrawFrame());
  EXPECT_FALSE(wz::Start());
  EXPECT_NE(std::string(wz::LastError()).find("once per process"), std::string::npos);
  wz::SetLogHandler(nullptr);
}

}  // namespace
