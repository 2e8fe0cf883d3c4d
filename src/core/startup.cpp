// The start-up sequence of the library: 32 steps in a fixed order, each logging its stage, and
// the derivations of the capability levels, the Windows version code and the program paths.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>

#include "core/library.h"
#include "platform/file_io.h"
#include "platform/system.h"
#include "platform/text.h"

// Where the library's data is installed, relative to the folder of the library (set by the
// build; empty: none).
#ifndef WZ_DATA_FROM_LIBRARY
#define WZ_DATA_FROM_LIBRARY ""
#endif

namespace wz {
namespace {

// The data folder of an installed library: beside the code's own file (the shared library, or
// the program it is linked into).
std::string InstalledDataDir() {
  const std::string relative = WZ_DATA_FROM_LIBRARY;
  const std::string module = platform::CodeModulePath();
  if (relative.empty() || module.empty()) return {};
  return platform::LibraryPath(
      (std::filesystem::path(module).parent_path() / relative).lexically_normal().string());
}

}  // namespace

GpuInfo DeriveGpuInfo(const d3d::D3DCAPS9& caps) {
  GpuInfo g;
  g.VertexBlendMatrices = static_cast<int32_t>(caps.MaxVertexBlendMatrices);
  g.VertexBlendMatrixIndex = static_cast<int32_t>(caps.MaxVertexBlendMatrixIndex);
  g.PrimitiveCount = static_cast<int32_t>(caps.MaxPrimitiveCount);
  g.VertexIndex = static_cast<int32_t>(caps.MaxVertexIndex);
  const uint32_t vs = caps.VertexShaderVersion;
  const uint32_t ps = caps.PixelShaderVersion;
  if (caps.MaxVertexBlendMatrices == 0) {
    g.GeForce = 0;
  } else if (vs < d3d::VertexShaderToken(1, 0)) {
    g.GeForce = 1;
  } else if (vs < d3d::VertexShaderToken(2, 0)) {
    g.GeForce = 3;
  }
  // From shader model 2 up the level follows the vertex shader alone.
  if (vs >= d3d::VertexShaderToken(4, 0)) {
    g.GeForce = 8;
  } else if (vs >= d3d::VertexShaderToken(3, 0)) {
    g.GeForce = 6;
  } else if (vs >= d3d::VertexShaderToken(2, 0)) {
    g.GeForce = 5;
  }
  if (caps.MaxVertexBlendMatrices == 0) g.GeForce = 0;
  auto level = [](uint32_t token, uint32_t base) -> int16_t {
    if (token < base + 0x100) return 0;
    uint32_t major = (token - base) >> 8;
    return static_cast<int16_t>(major > 4 ? 4 : major);
  };
  g.VertexShaderVersion = level(vs, 0xFFFE0000u);
  g.PixelShaderVersion = level(ps, 0xFFFF0000u);
  return g;
}

int32_t DeriveWinVer(uint32_t platformId, uint32_t major, uint32_t minor) {
  switch (platformId) {
    case platform::VER_PLATFORM_WIN32s:
      return 1;
    case platform::VER_PLATFORM_WIN32_WINDOWS:
      return 2;
    case platform::VER_PLATFORM_WIN32_NT:
      if (major < 5) return 3;
      if (major == 5) return minor == 0 ? 4 : 5;
      return minor == 0 ? 6 : 7;
    default:
      return 0;
  }
}

std::string ExeDirFromModulePath(const std::string& modulePath) {
  // The whole path: a fixed buffer would cut a long one and name a parent folder.
  const size_t slash = platform::Cp932FindLast(modulePath, '\\');
  if (slash == std::string::npos || slash == 0) return modulePath;
  return modulePath.substr(0, slash);
}

std::string ChooseDataDir(const std::string& exeDir, const std::string& fromEnvironment,
                          const std::string& installed,
                          const std::function<bool(const std::string&)>& isFolder) {
  if (!fromEnvironment.empty()) return fromEnvironment;
  const std::string beside = exeDir + "\\Data";
  if (isFolder(beside)) return beside;
  // An installed program: <prefix>/bin beside <prefix>/share/wz/Data.
  const std::string parent = ExeDirFromModulePath(exeDir);
  if (parent != exeDir) {
    const std::string shared = parent + "\\share\\wz\\Data";
    if (isFolder(shared)) return shared;
  }
  if (!installed.empty() && isFolder(installed)) return installed;
  return beside;
}

int16_t LogicalProcessorsFromMask(uint64_t mask) {
  int highest = -1;
  for (int bit = 0; bit < 64; ++bit) {
    if (mask & (uint64_t{1} << bit)) highest = bit;
  }
  return static_cast<int16_t>(highest < 0 ? 1 : highest + 1);
}

void Library::CountProcessors() {
  logicalProcessors_ = 1;
  physicalProcessors_ = 1;
  uint64_t processMask = 0, systemMask = 0;
  if (platform::GetProcessAffinityMask(processMask, systemMask)) {
    logicalProcessors_ = LogicalProcessorsFromMask(processMask);
  }
  platform::CpuidRegisters leaf0 = platform::Cpuid(0);
  char vendor[13] = {};
  std::memcpy(vendor, &leaf0.ebx, 4);
  std::memcpy(vendor + 4, &leaf0.edx, 4);
  std::memcpy(vendor + 8, &leaf0.ecx, 4);
  if (std::strcmp(vendor, "GenuineIntel") == 0) {
    if (leaf0.eax >= 4) {
      physicalProcessors_ = static_cast<int16_t>((platform::Cpuid(4, 0).eax >> 26) + 1);
    }
  } else if (std::strcmp(vendor, "AuthenticAMD") == 0) {
    if (platform::Cpuid(0x80000000u).eax > 0x80000007u) {
      physicalProcessors_ = static_cast<int16_t>((platform::Cpuid(0x80000008u).ecx & 0xFF) + 1);
    }
  }
  Log(WZ_TEXT("CPUコア数 %d"), logicalProcessors_);
  Log(WZ_TEXT("CPU物理数 %d"), physicalProcessors_);
}

bool Library::LibInit(HINSTANCE instance) {
  // 1.
  Log(WZ_TEXT("WZライブラリ %s"), kLibraryVersion);
  // 2. The maker's home page, opened by the converter's home-page command.
  homePage_ = "http://www.wz-library.example/";
  // 3. Window and device state.
  d3d_.reset();
  device_.reset();
  hwnd_ = nullptr;
  focusHwnd_ = nullptr;
  menu_ = nullptr;
  windowed_ = true;
  active_ = false;
  deviceLost_ = minimised_ = maximised_ = ignoreSizeChange_ = false;
  deviceObjectsInitialised_ = deviceObjectsRestored_ = false;
  creationFlags_ = 0;
  frameTime_ = elapsedTime_ = framesPerSecond_ = 0;
  deviceStats_.clear();
  frameStats_.clear();
  frameMoving_ = true;
  singleStep_ = false;
  windowTitle_ = "D3D9 Application";
  Pause(true);
  clipCursorFullScreen_ = true;
  windowTitle_ = "RIrodovovudiz 2010";
  // 4.
  // An allocation failure leaves it absent.
  statsFont_.reset(new (std::nothrow) GlyphFont("Arial", 12, kGlyphFontBold));
  // 5.
  CountProcessors();
  // 6.
  screenWidth_ = platform::GetSystemMetrics(platform::SM_CXSCREEN);
  screenHeight_ = platform::GetSystemMetrics(platform::SM_CYSCREEN);
  Log(WZ_TEXT("モニター %d×%d"), screenWidth_, screenHeight_);
  if (screenWidth_ < defaultWidth_) defaultWidth_ = screenWidth_;
  if (screenHeight_ < defaultHeight_) defaultHeight_ = screenHeight_;
  creationWidth_ = defaultWidth_;
  creationHeight_ = defaultHeight_;
  // 7.
  platform::InitCommonControls();
  // 8.
  std::srand(static_cast<unsigned>(platform::CurrentTimeSeconds()));
  // 9.
  const int32_t p = options_.polygonCapacity;
  polygonCapacity_ = p;
  vertexCapacity_ = 4 * p;
  scratchTransforms_.clear();
  scratchTransforms_.resize(static_cast<size_t>(p) * 12);
  scratchIndices_.clear();
  scratchIndices_.resize(static_cast<size_t>(4 * p) * 4);
  usesDepthBuffer_ = true;
  if (options_.depthStencil) {
    minDepthBits_ = 16;
    minStencilBits_ = 4;
  }
  // 10.
  if (CreateWindowAndDevice(instance) != 0) return false;
  // 11.
  if (platform::FileExists("WZ.Lib") || platform::FileExists("WZ.LibDebug")) {
    platform::SetCurrentDirectoryA("../");
  }
  // 12.
  exeDir_ = ExeDirFromModulePath(platform::GetModuleFileNameA());
  {
    std::string fromEnvironment = platform::EnvironmentValue("WZ_DATA_DIR");
    if (!fromEnvironment.empty()) {
      std::error_code ec;
      const std::filesystem::path absolute = std::filesystem::absolute(fromEnvironment, ec);
      if (!ec) fromEnvironment = absolute.lexically_normal().string();
      fromEnvironment = platform::LibraryPath(fromEnvironment);
    }
    dataDir_ =
        ChooseDataDir(exeDir_, fromEnvironment, InstalledDataDir(), platform::DirectoryExists);
  }
  platform::SetCurrentDirectoryA(dataDir_);
  // 13. The texture table's placeholder texture.
  InitTextureTable();
  // 14.
  platform::OsVersionInfo version;
  platform::GetVersionExA(version);
  winVer_ = DeriveWinVer(version.platformId, version.majorVersion, version.minorVersion);
  Log("WZ.WinVer %d", winVer_);
  // 15.
  Log("%s", windowedSettings_.adapterDescription.c_str());
  // 16.
  d3d::D3DCAPS9 caps;
  d3d_->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps);
  gpuInfo_ = DeriveGpuInfo(caps);
  antialias_ = gpuInfo_.GeForce >= 3;
  Log("WZ.GPU_Info.VertexBlendMatrices %d", gpuInfo_.VertexBlendMatrices);
  Log("WZ.GPU_Info.VertexBlendMatrixIndex %d", gpuInfo_.VertexBlendMatrixIndex);
  Log("WZ.GPU_Info.PrimitiveCount %d", gpuInfo_.PrimitiveCount);
  Log("WZ.GPU_Info.VertexIndex %d", gpuInfo_.VertexIndex);
  Log("WZ.GPU_Info.GeForce %d", gpuInfo_.GeForce);
  Log("WZ.GPU_Info.VertexShaderVersion %d", gpuInfo_.VertexShaderVersion);
  Log("WZ.GPU_Info.PixelShaderVersion   %d", gpuInfo_.PixelShaderVersion);
  // 17.
  lightAmbient_[0] = lightAmbient_[1] = lightAmbient_[2] = 0.125f;
  screenTextScale_ = 1.0f;
  instance_ = instance;
  lighting_ = 1;
  // 18. Triangle-subdivision tables of model drawing: built with the drawing code.
  // 19.
  platform::timeBeginPeriod(1);
  // 20.
  if (!focusHwnd_) focusHwnd_ = hwnd_;
  windowStyle_ = static_cast<DWORD>(platform::GetWindowLongA(hwnd_, platform::GWL_STYLE));
  platform::GetWindowRect(hwnd_, &windowRect_);
  platform::GetClientRect(hwnd_, &clientRect_);
  // 21. The device of step 10 is released before the final one is created.
  CleanupDevice();
  if (CreateDevice() != 0) {
    d3d_.reset();
    return false;
  }
  // 22.
  if (scratchVertices_.empty()) scratchVertices_.resize(static_cast<size_t>(p) * 240);
  // 23.
  SoundDevice_Create(hwnd_);
  // 24.
  WindowSizeFromBackBuffer();
  // 25.
  d3d::D3DDISPLAYMODE mode;
  d3d_->GetAdapterDisplayMode(0, &mode);
  antialiasSupported_ = Succeeded(d3d_->CheckDeviceMultiSampleType(
      0, D3DDEVTYPE_HAL, mode.Format, false, D3DMULTISAMPLE_4_SAMPLES, nullptr));
  Log("%s", antialiasSupported_ ? WZ_TEXT("アンチエイリアス 対応( 4 Sample )")
                                : WZ_TEXT("アンチエイリアス 未対応( 4 Sample )"));
  // 26.
  AntialiasSet(antialias_);
  // 27.
  TextFont_Create(1.0f);
  // 28.
  if (options_.toonTexture) LoadToonTexture();
  // 29.
  device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000u,
                 1.0f, 0);
  device_->Present();
  // 30.
  FrameTimer(1);
  initialised_ = true;
  ResetFrameClock();
  // 31.
  Log("%s", WZ_TEXT("WZ.LibInit() 初期化 終了"));
  Log("%s", std::string(71, '-').c_str());
  // 32.
  return true;
}

}  // namespace wz
