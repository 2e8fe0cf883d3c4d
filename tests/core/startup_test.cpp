// The start-up sequence: its log, paths, capability derivations and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "core/library.h"
#include "platform/d3dx/texture_file.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"
#include "sound/sound_device.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using platform::Utf8ToCp932;
using wz::testing::TempDir;

// A program laid out in a temporary folder: prog/wz-normalmap with prog/Data, started from
// start/. Restores the current directory, the module path, the screen and the device profile.
struct StartupFixture : ::testing::Test {
  StartupFixture() {
    std::filesystem::create_directories(dir / "prog/Data/System");
    const uint8_t white[4 * 4 * 4] = {0xFF};
    auto bmp = d3dx::EncodeBmp32(4, 4, white, 16);
    wz::testing::WriteFile(dir / "prog/Data/System/tex_null.bmp",
                           std::string(bmp.begin(), bmp.end()));
    std::filesystem::create_directories(dir / "start");
    std::filesystem::current_path(dir / "start");
    platform::SetModuleFileNameForTesting(platform::LibraryPath(dir / "prog/wz-normalmap"));
    platform::SetScreenSize(1920, 1080);
    d3d::DeviceProfile fixed;
    d3d::ProfileByName("fixed", fixed);
    d3d::SetProfile(fixed);
    platform::script::Reset();
    platform::script::SetMessageBoxEcho(false);
  }
  ~StartupFixture() override {
    platform::SetModuleFileNameForTesting("");
    platform::SetScreenSize(1920, 1080);
    d3d::ResetProfile();
    platform::script::Reset();
    platform::script::SetMessageBoxEcho(true);
  }
  void Attach(Library& library) {
    library.AttachLogSink([this](const std::string& l) { lines.push_back(l); });
  }
  std::string Cwd() const { return std::filesystem::current_path().string(); }

  TempDir dir;
  wz::testing::CurrentDirectoryGuard cwdGuard;
  std::vector<std::string> lines;
};

std::string ProcessorLine(const char* format, int n) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, n);
  return Utf8ToCp932(buffer);
}

TEST_F(StartupFixture, LogsEveryStageInOrder) {
  Library library;
  Attach(library);
  ASSERT_TRUE(library.LibInit(nullptr));
  std::vector<std::string> expected = {
      Utf8ToCp932("WZライブラリ 2010.11"),
      ProcessorLine("CPUコア数 %d", library.LogicalProcessors()),
      ProcessorLine("CPU物理数 %d", library.PhysicalProcessors()),
      Utf8ToCp932("モニター 1920×1080"),
      "WZ.WinVer 7",
      "WZ Headless Display Adapter",
      "WZ.GPU_Info.VertexBlendMatrices 4",
      "WZ.GPU_Info.VertexBlendMatrixIndex 0",
      "WZ.GPU_Info.PrimitiveCount 1048575",
      "WZ.GPU_Info.VertexIndex 1048575",
      "WZ.GPU_Info.GeForce 1",
      "WZ.GPU_Info.VertexShaderVersion 0",
      "WZ.GPU_Info.PixelShaderVersion   0",
      Utf8ToCp932("WindowSize 1280×720"),
      Utf8ToCp932("アンチエイリアス 未対応( 4 Sample )"),
      Utf8ToCp932("アンチエイリアス OFF"),
      Utf8ToCp932("WZ.LibInit() 初期化 終了"),
      std::string(71, '-'),
  };
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(library.Initialised());
  EXPECT_TRUE(library.Active());
  EXPECT_EQ(library.PauseCount(), 0);
  EXPECT_EQ(library.WindowTitle(), "RIrodovovudiz 2010");
  EXPECT_EQ(platform::GetWindowTextA(library.MainWindow()), "RIrodovovudiz 2010");
  EXPECT_EQ(library.PolygonCapacity(), 65000);
  EXPECT_EQ(library.VertexCapacity(), 260000);
  // The window shows black: cleared and presented once, without making any pixels yet.
  ASSERT_NE(library.Device(), nullptr);
  EXPECT_FALSE(library.Device()->HasPixelBackend());
  EXPECT_EQ(library.Device()->ReadBackBuffer().front(), 0xFF000000u);
  EXPECT_EQ(library.Device()->PresentCount(), 1u);
  EXPECT_EQ(library.Device()->BehaviourFlags() & D3DCREATE_MULTITHREADED, D3DCREATE_MULTITHREADED);
  EXPECT_EQ(library.DeviceStats(), "HAL (hw vp): WZ Headless Display Adapter");
  // The current directory ends in the data directory.
  EXPECT_EQ(Cwd(), dir / "prog/Data");
  EXPECT_EQ(library.ExeDir(), platform::LibraryPath(dir / "prog"));
  EXPECT_EQ(library.DataDir(), platform::LibraryPath(dir / "prog") + "\\Data");
  EXPECT_EQ(library.Sound()->device->ready, 1);
  ASSERT_NE(library.System().null, nullptr);
  EXPECT_EQ(library.System().null->LevelWidth(0), 4u);
}

TEST_F(StartupFixture, MissingNullTextureIsLoggedAndStartUpGoesOn) {
  std::filesystem::remove(dir / "prog/Data/System/tex_null.bmp");
  Library library;
  Attach(library);
  ASSERT_TRUE(library.LibInit(nullptr));
  std::string path = library.DataDir() + "\\System\\tex_null.bmp";
  auto at = std::find(lines.begin(), lines.end(),
                      "*** ERROR *** " + path + Utf8ToCp932(" Loadできませんでした。"));
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(*(at + 1), "*** LoadError *** Data/System/tex_null.bmp");
  EXPECT_EQ(library.System().null, nullptr);
}

TEST_F(StartupFixture, SystemTexturesAndStageBinding) {
  // Images are recognised by content, so a BMP serves under every name here.
  const uint8_t grey[4 * 4 * 4] = {0x80};
  auto bmp = d3dx::EncodeBmp32(4, 4, grey, 16);
  std::string bytes(bmp.begin(), bmp.end());
  wz::testing::WriteFile(dir / "prog/Data/System/Toon.JPG", bytes);
  wz::testing::WriteFile(dir / "prog/Data/System/shadow2d.png", bytes);
  Library library;
  library.MutableOptions().toonTexture = 1;
  ASSERT_TRUE(library.LibInit(nullptr));
  EXPECT_TRUE(library.System().toonLoaded);
  EXPECT_EQ(library.System().toonInfo.Width, 4u);
  EXPECT_EQ(library.System().shadow, nullptr);  // loaded on first use only
  ASSERT_NE(library.ShadowTexture(), nullptr);
  int32_t index = library.Texture_Load((library.DataDir() + "\\System\\Toon.JPG").c_str(), nullptr);
  library.Texture_Set(index);
  EXPECT_EQ(library.Device()->GetTexture(0), library.Texture_Entry(index).texture.get());
  library.Texture_Set(-1);
  EXPECT_EQ(library.Device()->GetTexture(0), nullptr);
  // Without the file the toon load fails and records 32 x 32.
  std::filesystem::remove(dir / "prog/Data/System/Toon.JPG");
  EXPECT_FALSE(library.ToonTexture_Load());
  EXPECT_EQ(library.System().toonInfo.Width, 32u);
}

TEST_F(StartupFixture, ShaderDeviceTurnsAntialiasingOn) {
  d3d::DeviceProfile sm3;
  d3d::ProfileByName("sm3", sm3);
  d3d::SetProfile(sm3);
  Library library;
  Attach(library);
  ASSERT_TRUE(library.LibInit(nullptr));
  EXPECT_EQ(library.GPU_Info().GeForce, 6);
  EXPECT_TRUE(library.AntialiasSupported());
  EXPECT_TRUE(library.Antialias());
  EXPECT_EQ(library.PresentParameters().MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
  EXPECT_NE(std::find(lines.begin(), lines.end(), Utf8ToCp932("アンチエイリアス 対応( 4 Sample )")),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), Utf8ToCp932("アンチエイリアス ON")), lines.end());
}

TEST_F(StartupFixture, SmallScreenClampsTheWindow) {
  platform::SetScreenSize(1024, 768);
  Library library;
  Attach(library);
  ASSERT_TRUE(library.LibInit(nullptr));
  EXPECT_EQ(library.CreationWidth(), 1024);
  EXPECT_EQ(library.CreationHeight(), 720);
  EXPECT_EQ(library.WindowWidth(), 1024);
  EXPECT_EQ(library.WindowHeight(), 720);
  EXPECT_NE(std::find(lines.begin(), lines.end(), Utf8ToCp932("モニター 1024×768")), lines.end());
  // The window is centred: (screen - outer) / 2, truncated toward zero.
  platform::RECT r;
  platform::GetWindowRect(library.MainWindow(), &r);
  EXPECT_EQ(r.left, (1024 - (r.right - r.left)) / 2);
  EXPECT_EQ(r.top, (768 - (r.bottom - r.top)) / 2);
}

TEST_F(StartupFixture, MarkerFileMovesUpBeforeTheDataDirectory) {
  for (const char* marker : {"WZ.Lib", "WZ.LibDebug"}) {
    std::filesystem::current_path(dir / "start");
    wz::testing::WriteFile(dir / std::string("start/") + marker, "");
    Library library;
    ASSERT_TRUE(library.LibInit(nullptr));
    EXPECT_EQ(Cwd(), dir / "prog/Data") << marker;
    std::filesystem::remove(dir / std::string("start/") + marker);
  }
}

TEST_F(StartupFixture, MissingDataDirectoryLeavesTheParentCurrent) {
  std::filesystem::remove_all(dir / "prog/Data");
  wz::testing::WriteFile(dir / "start/WZ.Lib", "");
  Library library;
  ASSERT_TRUE(library.LibInit(nullptr));
  EXPECT_EQ(Cwd(), dir.path());
}

TEST_F(StartupFixture, NoDirect3DShowsTheErrorAndFails) {
  d3d::DeviceProfile p = d3d::CurrentProfile();
  p.failCreateObject = true;
  d3d::SetProfile(p);
  Library library;
  EXPECT_FALSE(library.LibInit(nullptr));
  library.ShowMessage(WZ_TEXT("初期化に失敗しました。"));
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, DeviceErrorMessage(D3DAPPERR_NODIRECT3D, 1));
  EXPECT_EQ(boxes[0].type, platform::MB_ICONERROR);
  EXPECT_EQ(boxes[0].caption, "RIrodovovudiz 2010");
  EXPECT_EQ(boxes[1].text, Utf8ToCp932("初期化に失敗しました。"));
}

TEST_F(StartupFixture, HardwareFailureFallsBackToTheReferenceRasteriser) {
  d3d::DeviceProfile p = d3d::CurrentProfile();
  p.failHalDevice = D3DERR_OUTOFVIDEOMEMORY;
  d3d::SetProfile(p);
  Library library;
  ASSERT_TRUE(library.LibInit(nullptr));
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_GE(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, DeviceErrorMessage(D3DERR_OUTOFVIDEOMEMORY, 2));
  EXPECT_EQ(boxes[0].type, platform::MB_ICONWARNING);
  EXPECT_EQ(library.Device()->DeviceType(), D3DDEVTYPE_REF);
  EXPECT_EQ(library.DeviceStats(), "REF (simulated hw vp)");
  EXPECT_EQ(library.GPU_Info().GeForce, 0);
  EXPECT_FALSE(library.Antialias());
}

TEST_F(StartupFixture, MediaFailureIsNotRetriedAndClosesTheWindow) {
  d3d::DeviceProfile p = d3d::CurrentProfile();
  p.failHalDevice = D3DAPPERR_MEDIANOTFOUND;
  d3d::SetProfile(p);
  Library library;
  EXPECT_FALSE(library.LibInit(nullptr));
  auto boxes = platform::script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not load required media.");
  EXPECT_TRUE(library.FatalErrorShown());
  // The fatal error closed the main window.
  EXPECT_EQ(library.MainWindow(), nullptr);
  // A second device error after the fatal one shows nothing.
  library.ShowDeviceError(D3DAPPERR_RESETFAILED, 1);
  EXPECT_TRUE(platform::script::TakeShownMessageBoxes().empty());
}

TEST(GpuInfo, LevelsFromCapabilities) {
  struct Case {
    uint32_t blend;
    uint32_t vs, ps;
    int16_t geForce, vsVersion, psVersion;
  } cases[] = {
      {0, d3d::VertexShaderToken(3, 0), d3d::PixelShaderToken(3, 0), 0, 3, 3},
      {4, 0, 0, 1, 0, 0},
      {4, d3d::VertexShaderToken(0, 9), 0, 1, 0, 0},
      {4, d3d::VertexShaderToken(1, 0), d3d::PixelShaderToken(1, 4), 3, 1, 1},
      {4, d3d::VertexShaderToken(1, 1), d3d::PixelShaderToken(1, 1), 3, 1, 1},
      {4, d3d::VertexShaderToken(2, 0), d3d::PixelShaderToken(2, 0), 5, 2, 2},
      {4, d3d::VertexShaderToken(2, 255), d3d::PixelShaderToken(2, 0), 5, 2, 2},
      {4, d3d::VertexShaderToken(3, 0), d3d::PixelShaderToken(3, 0), 6, 3, 3},
      {4, d3d::VertexShaderToken(4, 0), d3d::PixelShaderToken(5, 0), 8, 4, 4},
      {4, d3d::VertexShaderToken(7, 1), d3d::PixelShaderToken(0, 0), 8, 4, 0},
  };
  for (const Case& c : cases) {
    d3d::D3DCAPS9 caps;
    caps.MaxVertexBlendMatrices = c.blend;
    caps.MaxVertexBlendMatrixIndex = 7;
    caps.MaxPrimitiveCount = 11;
    caps.MaxVertexIndex = 13;
    caps.VertexShaderVersion = c.vs;
    caps.PixelShaderVersion = c.ps;
    GpuInfo g = DeriveGpuInfo(caps);
    EXPECT_EQ(g.GeForce, c.geForce) << std::hex << c.vs;
    EXPECT_EQ(g.VertexShaderVersion, c.vsVersion) << std::hex << c.vs;
    EXPECT_EQ(g.PixelShaderVersion, c.psVersion) << std::hex << c.ps;
    EXPECT_EQ(g.VertexBlendMatrices, static_cast<int32_t>(c.blend));
    EXPECT_EQ(g.VertexBlendMatrixIndex, 7);
    EXPECT_EQ(g.PrimitiveCount, 11);
    EXPECT_EQ(g.VertexIndex, 13);
  }
}

TEST(WinVer, CodesFromTheVersionRecord) {
  EXPECT_EQ(DeriveWinVer(0, 3, 1), 1);
  EXPECT_EQ(DeriveWinVer(1, 4, 10), 2);
  EXPECT_EQ(DeriveWinVer(2, 4, 0), 3);
  EXPECT_EQ(DeriveWinVer(2, 5, 0), 4);
  EXPECT_EQ(DeriveWinVer(2, 5, 1), 5);
  EXPECT_EQ(DeriveWinVer(2, 5, 2), 5);
  EXPECT_EQ(DeriveWinVer(2, 6, 0), 6);
  EXPECT_EQ(DeriveWinVer(2, 10, 0), 6);
  EXPECT_EQ(DeriveWinVer(2, 6, 1), 7);
  EXPECT_EQ(DeriveWinVer(2, 6, 3), 7);
  EXPECT_EQ(DeriveWinVer(3, 6, 1), 0);
}

TEST(ExeDir, CutAtTheLastBackslash) {
  EXPECT_EQ(ExeDirFromModulePath("C:\\Tools\\wz.exe"), "C:\\Tools");
  EXPECT_EQ(ExeDirFromModulePath("\\home\\a\\bin\\wz-normalmap"), "\\home\\a\\bin");
  // No backslash after index 0: the whole path.
  EXPECT_EQ(ExeDirFromModulePath("wz.exe"), "wz.exe");
  EXPECT_EQ(ExeDirFromModulePath("\\wz.exe"), "\\wz.exe");
  // A long path stays whole: a cut one would name a parent folder.
  std::string longPath = "\\" + std::string(300, 'a') + "\\x";
  EXPECT_EQ(ExeDirFromModulePath(longPath), "\\" + std::string(300, 'a'));
  // The second byte of 表 is 0x5C; it is no separator.
  EXPECT_EQ(ExeDirFromModulePath("\\d\\\x95\x5C\\wz"), "\\d\\\x95\x5C");
  EXPECT_EQ(ExeDirFromModulePath("\\d\\a\x95\x5Cwz"), "\\d");
}

TEST(ProcessorCount, HighestBitOfTheMask) {
  EXPECT_EQ(LogicalProcessorsFromMask(0b1011), 4);
  EXPECT_EQ(LogicalProcessorsFromMask(0b1), 1);
  EXPECT_EQ(LogicalProcessorsFromMask(0b100), 3);
  EXPECT_EQ(LogicalProcessorsFromMask(uint64_t{1} << 63), 64);
  EXPECT_EQ(LogicalProcessorsFromMask(0), 1);
}

TEST(ChooseDataDir, EnvironmentThenBesideThenInstalledLayoutThenLibrary) {
  struct Case {
    const char* environment;
    std::vector<std::string> folders;  // the folders that exist
    const char* installed;
    const char* expected;
  };
  const Case cases[] = {
      {"\\env", {"\\p\\bin\\Data"}, "", "\\env"},
      {"", {"\\p\\bin\\Data", "\\p\\share\\wz\\Data"}, "", "\\p\\bin\\Data"},
      {"", {"\\p\\share\\wz\\Data", "\\lib\\Data"}, "\\lib\\Data", "\\p\\share\\wz\\Data"},
      {"", {"\\lib\\Data"}, "\\lib\\Data", "\\lib\\Data"},
      {"", {}, "\\lib\\Data", "\\p\\bin\\Data"},
      {"", {}, "", "\\p\\bin\\Data"},
  };
  for (const Case& c : cases) {
    auto exists = [&](const std::string& path) {
      return std::find(c.folders.begin(), c.folders.end(), path) != c.folders.end();
    };
    EXPECT_EQ(ChooseDataDir("\\p\\bin", c.environment, c.installed, exists), c.expected)
        << c.environment << " " << c.installed;
  }
}

}  // namespace
}  // namespace wz
