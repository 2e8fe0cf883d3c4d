// The main window and the device's life: settings, creation, reset after size changes, the
// switch between windowed and full-screen mode, device selection with dialog 144, cleanup, the
// device objects that follow the device, and the library's own window message handler.
//
// The window and client rectangles kept in the library are those of the windowed window: they
// are read only in windowed mode and not while the library itself moves the window (ignore-size-
// change), so that a switch back from full screen finds the windowed size again.
#include <cstdio>
#include <cstring>

#include "core/library.h"
#include "platform/dialogs.h"
#include "platform/text.h"
#include "resources/device_dialog.h"
#include "sound/sound_device.h"

namespace wz {
namespace {

using namespace platform;

constexpr const char* kWindowClass = "D3D Window";
constexpr DWORD kWindowedStyle = WS_VISIBLE | WS_OVERLAPPEDWINDOW;      // 0x10CF0000
constexpr DWORD kFullScreenStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU;  // 0x90080000
constexpr int kMenuResource = 141;
constexpr int kIconResource = 101;
constexpr int kMinTrackSize = 100;
// The lparam of the notification a movie window sends when its movie ends.
constexpr LPARAM kMovieNotification = 525;

enum LibraryCommand : UINT {
  kCmdSelectDevice = 40002,
  kCmdToggleFullScreen = 40003,
  kCmdToggleFrameMoving = 40004,
  kCmdSingleStep = 40005,
  kCmdExit = 40006,
};

thread_local Library* creatingLibrary = nullptr;

// The class window procedure: finds the library that owns the window.
LRESULT ClassWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* library = reinterpret_cast<Library*>(GetWindowLongA(hwnd, GWLP_USERDATA));
  if (!library && creatingLibrary) {
    library = creatingLibrary;
    SetWindowLongA(hwnd, GWLP_USERDATA, reinterpret_cast<intptr_t>(library));
  }
  if (!library) return DefWindowProcA(hwnd, msg, wParam, lParam);
  return library->WindowProcedure(hwnd, msg, wParam, lParam);
}

// The library's window menu: device selection, full-screen toggle, frame moving, single step
// and exit, with the command numbers the window handler answers.
void RegisterLibraryMenu() {
  RegisterMenuResource(kMenuResource,
                       {{kCmdSelectDevice, WZ_TEXT("デバイス選択...\tF2")},
                        {kCmdToggleFullScreen, WZ_TEXT("フルスクリーン切り替え\tAlt+Enter")},
                        {kCmdToggleFrameMoving, WZ_TEXT("一時停止\tEnter")},
                        {kCmdSingleStep, WZ_TEXT("コマ送り\tSpace")},
                        {kCmdExit, WZ_TEXT("終了\tEsc")}});
}

int Width(const RECT& r) {
  return r.right - r.left;
}
int Height(const RECT& r) {
  return r.bottom - r.top;
}

// Mouse coordinates: the low and high words, with positions of 10001 and up taken as negative
// (65535 subtracted, not 65536, so that 65535 becomes 0).
int MouseCoordinate(uint32_t word) {
  return word >= 10001 ? int(word) - 65535 : int(word);
}

const char* DeviceTypeName(D3DDEVTYPE type) {
  switch (type) {
    case D3DDEVTYPE_HAL:
      return "D3DDEVTYPE_HAL";
    case D3DDEVTYPE_REF:
      return "D3DDEVTYPE_REF";
    default:
      return "D3DDEVTYPE_SW";
  }
}

// Sets ignore-size-change for as long as the library itself moves the window.
class IgnoreSizeChanges {
 public:
  explicit IgnoreSizeChanges(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
  ~IgnoreSizeChanges() { flag_ = saved_; }
  IgnoreSizeChanges(const IgnoreSizeChanges&) = delete;
  IgnoreSizeChanges& operator=(const IgnoreSizeChanges&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

HRESULT Library::CreateWindowAndDevice(HINSTANCE instance) {
  instance_ = instance;
  d3d_ = d3d::Direct3DCreate9(D3D_SDK_VERSION);
  if (!d3d_) return ShowDeviceError(D3DAPPERR_NODIRECT3D, 1);

  if (!hwnd_) {
    WNDCLASS wc;
    wc.style = CS_DBLCLKS;
    wc.proc = ClassWindowProc;
    wc.iconResource = kIconResource;
    wc.cursorResource = IDC_ARROW;
    wc.className = kWindowClass;
    if (!IsClassRegistered(kWindowClass)) RegisterClassA(wc);
    RegisterLibraryMenu();
    windowStyle_ = kWindowedStyle;
    RECT rc{0, 0, creationWidth_, creationHeight_};
    AdjustWindowRect(&rc, windowStyle_, true);
    menu_ = LoadMenuA(instance, kMenuResource);
    int outerWidth = Width(rc);
    int outerHeight = Height(rc);
    int x = (screenWidth_ - outerWidth) / 2;
    int y = (screenHeight_ - outerHeight) / 2;
    creatingLibrary = this;
    hwnd_ = CreateWindowExA(0, kWindowClass, windowTitle_, windowStyle_, x, y, outerWidth,
                            outerHeight, nullptr, menu_, instance);
    creatingLibrary = nullptr;
  }
  if (!focusHwnd_) focusHwnd_ = hwnd_;
  windowStyle_ = static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE));
  GetWindowRect(hwnd_, &windowRect_);
  GetClientRect(hwnd_, &clientRect_);
  savedWindowRect_ = windowRect_;

  HRESULT hr = ChooseInitialSettings();
  if (Succeeded(hr)) {
    FrameTimer(1);
    hr = CreateDevice();
  }
  if (Succeeded(hr)) {
    Pause(false);
    return 0;
  }
  d3d_.reset();
  return ShowDeviceError(hr, 1);
}

// Picks the best setting for one mode. A device combination is accepted for a vertex-processing
// type only when the type is not pure hardware, the back buffer can be a blending render target,
// and textures can carry alpha.
bool Library::FindBestSettings(bool windowed, int restrictType, DeviceSettings& out) const {
  if (!d3d_) return false;
  d3d::D3DDISPLAYMODE desktop;
  d3d_->GetAdapterDisplayMode(0, &desktop);
  const D3DDEVTYPE types[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_REF};
  for (D3DDEVTYPE type : types) {
    if (restrictType != 0 && static_cast<int>(type) != restrictType) continue;
    d3d::D3DCAPS9 caps;
    if (Failed(d3d_->GetDeviceCaps(0, type, &caps))) continue;
    D3DFORMAT backBuffer = desktop.Format;
    if (Failed(d3d_->CheckDeviceType(0, type, desktop.Format, backBuffer, windowed))) continue;
    if (Failed(d3d_->CheckDeviceFormat(
            0, type, desktop.Format,
            d3d::D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | d3d::D3DUSAGE_RENDERTARGET,
            D3DRTYPE_SURFACE, backBuffer))) {
      continue;
    }
    if (!(caps.TextureCaps & (d3d::D3DPTEXTURECAPS_ALPHA | d3d::D3DPTEXTURECAPS_ALPHAPALETTE))) {
      continue;
    }
    // Depth formats, best first; the depth-and-stencil option asks for 16 depth and 4 stencil
    // bits at least.
    D3DFORMAT depth = D3DFMT_UNKNOWN;
    const D3DFORMAT depthFormats[] = {D3DFMT_D24S8, D3DFMT_D16};
    for (D3DFORMAT f : depthFormats) {
      if (minStencilBits_ > 0 && f == D3DFMT_D16) continue;
      if (Succeeded(d3d_->CheckDepthStencilMatch(0, type, desktop.Format, backBuffer, f))) {
        depth = f;
        break;
      }
    }
    if (usesDepthBuffer_ && depth == D3DFMT_UNKNOWN) continue;
    out = DeviceSettings{};
    out.valid = true;
    out.adapterOrdinal = 0;
    d3d::D3DADAPTER_IDENTIFIER9 id;
    d3d_->GetAdapterIdentifier(0, 0, &id);
    out.adapterDescription = id.Description;
    out.deviceType = type;
    out.displayMode = desktop;
    out.backBufferFormat = backBuffer;
    out.depthStencilFormat = depth;
    out.vertexProcessing = (caps.DevCaps & d3d::D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? 2 : 0;
    out.multisampleType = D3DMULTISAMPLE_NONE;
    out.multisampleQuality = 0;
    out.presentInterval = vsync_ ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
    return true;
  }
  return false;
}

HRESULT Library::ChooseInitialSettings() {
  bool haveFull = FindBestSettings(false, 0, fullscreenSettings_);
  bool haveWindowed = FindBestSettings(true, 0, windowedSettings_);
  if (!haveFull && !haveWindowed) return D3DAPPERR_NOCOMPATIBLEDEVICES;
  // Start-full-screen is never requested here: windowed unless only full screen exists.
  windowedSettingCurrent_ = haveWindowed;
  return S_OK;
}

void Library::AdjustWindowForMode() {
  if (!hwnd_) return;
  if (windowed_) {
    SetWindowLongA(hwnd_, GWL_STYLE, static_cast<intptr_t>(windowStyle_));
    if (savedMenu_) {
      SetMenu(hwnd_, savedMenu_);
      savedMenu_ = nullptr;
    }
  } else {
    SetWindowLongA(hwnd_, GWL_STYLE, static_cast<intptr_t>(kFullScreenStyle));
    if (!savedMenu_) {
      savedMenu_ = GetMenu(hwnd_);
      SetMenu(hwnd_, nullptr);
    }
  }
}

void Library::RestoreWindowPlacement() {
  if (!hwnd_) return;
  SetWindowPos(hwnd_, HWND_NOTOPMOST, savedWindowRect_.left, savedWindowRect_.top,
               Width(savedWindowRect_), Height(savedWindowRect_), SWP_SHOWWINDOW);
}

void Library::FillPresentParameters() {
  const DeviceSettings& s = CurrentSettings();
  d3d::D3DPRESENT_PARAMETERS& p = presentParams_;
  p = d3d::D3DPRESENT_PARAMETERS{};
  if (windowed_) {
    p.BackBufferWidth = static_cast<uint32_t>(Width(clientRect_));
    p.BackBufferHeight = static_cast<uint32_t>(Height(clientRect_));
    p.FullScreen_RefreshRateInHz = 0;
  } else {
    p.BackBufferWidth = s.displayMode.Width;
    p.BackBufferHeight = s.displayMode.Height;
    p.FullScreen_RefreshRateInHz = s.displayMode.RefreshRate;
  }
  p.BackBufferFormat = s.backBufferFormat;
  p.BackBufferCount = 1;
  p.MultiSampleType = s.multisampleType;
  p.MultiSampleQuality = s.multisampleQuality;
  p.SwapEffect = 1;
  p.hDeviceWindow = hwnd_;
  p.Windowed = windowed_;
  p.EnableAutoDepthStencil = usesDepthBuffer_;
  p.AutoDepthStencilFormat = s.depthStencilFormat;
  p.Flags = usesDepthBuffer_ ? 2 : 0;
  p.PresentationInterval = s.presentInterval;
}

void Library::BuildDeviceStats(const d3d::D3DCAPS9&) {
  const DeviceSettings& s = CurrentSettings();
  std::string stats = s.deviceType == D3DDEVTYPE_HAL   ? "HAL"
                      : s.deviceType == D3DDEVTYPE_REF ? "REF"
                                                       : "SW";
  bool hal = s.deviceType == D3DDEVTYPE_HAL;
  switch (s.vertexProcessing) {
    case 3:
      stats += hal ? " (pure hw vp)" : " (simulated pure hw vp)";
      break;
    case 2:
      stats += hal ? " (hw vp)" : " (simulated hw vp)";
      break;
    case 1:
      stats += hal ? " (mixed vp)" : " (simulated mixed vp)";
      break;
    default:
      stats += " (sw vp)";
      break;
  }
  if (hal) {
    stats += ": ";
    stats += s.adapterDescription;
  }
  if (stats.size() > 89) stats.resize(Cp932SafePrefix(stats, 89));
  deviceStats_ = stats;
}

// ---- Device objects: the statistics font's, following the device ----

// The font's atlas is painted when text is first drawn or measured with it, so a device that
// never shows text does not start the font machinery.
HRESULT Library::InitDeviceObjects() {
  HRESULT hr = Step(DeviceStep::ObjectsInit);
  if (statsFont_ && Succeeded(hr)) hr = statsFont_->InitDeviceObjectsOnFirstUse(device_.get());
  return hr;
}

HRESULT Library::RestoreDeviceObjects() {
  HRESULT hr = Step(DeviceStep::ObjectsRestore);
  if (statsFont_ && Succeeded(hr)) hr = statsFont_->RestoreDeviceObjects();
  return hr;
}

void Library::InvalidateDeviceObjects() {
  Step(DeviceStep::ObjectsInvalidate);
  if (statsFont_) statsFont_->InvalidateDeviceObjects();
}

void Library::DeleteDeviceObjects() {
  Step(DeviceStep::ObjectsDelete);
  if (statsFont_) statsFont_->DeleteDeviceObjects();
}

// In full screen the device cursor may stand in for the window's, and the cursor is kept inside
// the window; back in windowed mode it is free again.
void Library::ApplyCursorAndClip() {
  if (!windowed_ && showCursorFullScreen_) DeviceCursorFromWindowClass();
  if (!clipCursorFullScreen_) return;
  RECT window;
  if (windowed_) {
    ClipCursor(nullptr);
  } else if (hwnd_ && GetWindowRect(hwnd_, &window)) {
    ClipCursor(&window);
  }
}

// ---- Creation, reset, cleanup ----

HRESULT Library::CreateDevice() {
  const DeviceSettings settings = CurrentSettings();
  windowed_ = windowedSettingCurrent_;
  AdjustWindowForMode();
  if (hwnd_ && windowed_ && !ignoreSizeChange_) {
    GetWindowRect(hwnd_, &windowRect_);
    GetClientRect(hwnd_, &clientRect_);
  }
  FillPresentParameters();

  d3d::D3DCAPS9 caps;
  if (d3d_ && Succeeded(d3d_->GetDeviceCaps(settings.adapterOrdinal, settings.deviceType, &caps)) &&
      (caps.PrimitiveMiscCaps & d3d::D3DPMISCCAPS_NULLREFERENCE)) {
    ShowDeviceError(D3DAPPERR_NULLREFDEVICE, 0);
  }

  static constexpr uint32_t kBehaviour[] = {
      D3DCREATE_SOFTWARE_VERTEXPROCESSING, D3DCREATE_MIXED_VERTEXPROCESSING,
      D3DCREATE_HARDWARE_VERTEXPROCESSING,
      D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE};
  uint32_t behaviour = kBehaviour[settings.vertexProcessing & 3] | D3DCREATE_MULTITHREADED;
  if (!d3d_) return -1;

  Step(DeviceStep::Create);
  HRESULT hr = d3d_->CreateDevice(settings.adapterOrdinal, settings.deviceType, focusHwnd_,
                                  behaviour, &presentParams_, &device_);
  if (Succeeded(hr)) {
    // The device's own diagnostics (no OpenGL context, a refused reset) go to the library log.
    device_->SetLogSink([this](const std::string& line) { Log("%s", line.c_str()); });
    if (windowed_ && hwnd_) {
      // The library's own placement: no size-change handling while it moves the window.
      IgnoreSizeChanges ignore(ignoreSizeChange_);
      SetWindowPos(hwnd_, HWND_NOTOPMOST, windowRect_.left, windowRect_.top, Width(windowRect_),
                   Height(windowRect_), SWP_SHOWWINDOW);
    }
    device_->GetDeviceCaps(&caps);
    creationFlags_ = behaviour;
    BuildDeviceStats(caps);
    if (settings.deviceType == D3DDEVTYPE_REF) {
      gpuInfo_.GeForce = 0;
      antialias_ = false;
    }
    device_->GetBackBufferDesc(0, &backBufferDesc_);
    ApplyCursorAndClip();
    deviceLost_ = false;
    hr = InitDeviceObjects();
    if (Failed(hr)) {
      DeleteDeviceObjects();
    } else {
      deviceObjectsInitialised_ = true;
      hr = RestoreDeviceObjects();
      if (Failed(hr)) {
        InvalidateDeviceObjects();
      } else {
        deviceObjectsRestored_ = true;
        return 0;
      }
    }
  }

  CleanupDevice();
  if (hr != D3DAPPERR_MEDIANOTFOUND && hr != HRESULT_FILE_NOT_FOUND &&
      settings.deviceType == D3DDEVTYPE_HAL) {
    DeviceSettings reference;
    if (FindBestSettings(true, D3DDEVTYPE_REF, reference)) {
      windowedSettings_ = reference;
      windowedSettingCurrent_ = true;
      windowed_ = true;
      AdjustWindowForMode();
      RestoreWindowPlacement();
      ShowDeviceError(hr, 2);
      return CreateDevice();
    }
  }
  return hr;
}

HRESULT Library::ResetDevice() {
  if (!device_) return 0;
  // The windowed back buffer follows the client area.
  if (hwnd_ && windowed_ && !ignoreSizeChange_) {
    GetWindowRect(hwnd_, &windowRect_);
    GetClientRect(hwnd_, &clientRect_);
    if (Width(clientRect_) > 0 && Height(clientRect_) > 0) {
      presentParams_.BackBufferWidth = static_cast<uint32_t>(Width(clientRect_));
      presentParams_.BackBufferHeight = static_cast<uint32_t>(Height(clientRect_));
    }
  }
  if (deviceObjectsRestored_) {
    deviceObjectsRestored_ = false;
    InvalidateDeviceObjects();
  }
  RenderResources_Release();
  HRESULT hr = Step(DeviceStep::Reset);
  if (Succeeded(hr)) hr = device_->Reset(&presentParams_);
  if (Failed(hr)) {
    // A device whose reset failed needs another one before it draws again.
    deviceLost_ = true;
    return hr;
  }
  deviceLost_ = false;
  device_->GetBackBufferDesc(0, &backBufferDesc_);
  ApplyCursorAndClip();
  hr = RestoreDeviceObjects();
  if (Failed(hr)) {
    InvalidateDeviceObjects();
    return hr;
  }
  deviceObjectsRestored_ = true;
  if (!frameMoving_) {
    FrameTimer(1);
    FrameTimer(2);
  }
  return 0;
}

void Library::CleanupDevice() {
  if (!device_) return;
  RenderResources_Release();
  if (deviceObjectsRestored_) {
    deviceObjectsRestored_ = false;
    InvalidateDeviceObjects();
  }
  if (deviceObjectsInitialised_) {
    deviceObjectsInitialised_ = false;
    DeleteDeviceObjects();
  }
  Step(DeviceStep::Release);
  device_.reset();
  deviceLost_ = false;
}

HRESULT Library::HandlePossibleSizeChange() {
  if (ignoreSizeChange_ || !hwnd_ || !windowed_) return 0;
  const RECT oldClient = clientRect_;
  GetWindowRect(hwnd_, &windowRect_);
  GetClientRect(hwnd_, &clientRect_);
  if (Width(clientRect_) == Width(oldClient) && Height(clientRect_) == Height(oldClient)) return 0;
  // An empty client area (a minimised window) has no back buffer to match.
  if (Width(clientRect_) <= 0 || Height(clientRect_) <= 0) return 0;
  Pause(true);
  presentParams_.BackBufferWidth = static_cast<uint32_t>(Width(clientRect_));
  presentParams_.BackBufferHeight = static_cast<uint32_t>(Height(clientRect_));
  HRESULT hr = 0;
  if (device_) {
    hr = ResetDevice();
    if (Failed(hr)) {
      if (hr != D3DERR_OUTOFVIDEOMEMORY) hr = D3DAPPERR_RESETFAILED;
      ShowDeviceError(hr, 1);
    }
  }
  Pause(false);
  return hr;
}

// ---- Full screen and device selection ----

HRESULT Library::ToggleFullScreen() {
  Pause(true);
  // The windowed placement, for the way back.
  if (windowed_ && hwnd_) GetWindowRect(hwnd_, &savedWindowRect_);
  const uint32_t oldAdapter = CurrentSettings().adapterOrdinal;
  const D3DDEVTYPE oldType = CurrentSettings().deviceType;
  ignoreSizeChange_ = true;
  windowed_ = !windowed_;
  windowedSettingCurrent_ = windowed_;
  AdjustWindowForMode();

  HRESULT hr;
  const DeviceSettings& next = CurrentSettings();
  if (!next.valid) {
    hr = D3DAPPERR_NOCOMPATIBLEDEVICES;
  } else if (device_ && next.adapterOrdinal == oldAdapter && next.deviceType == oldType) {
    FillPresentParameters();
    hr = ResetDevice();
  } else {
    CleanupDevice();
    hr = CreateDevice();
  }

  if (Failed(hr)) {
    if (hr != D3DERR_OUTOFVIDEOMEMORY) hr = D3DAPPERR_RESETFAILED;
    ignoreSizeChange_ = false;
    if (!windowed_) {
      windowed_ = true;
      windowedSettingCurrent_ = true;
      AdjustWindowForMode();
      RestoreWindowPlacement();
    }
    ShowDeviceError(hr, 1);
    // The pause of this switch ends on failure too, so that the count stays balanced.
    Pause(false);
    return hr;
  }
  ignoreSizeChange_ = false;
  if (windowed_) RestoreWindowPlacement();
  WindowSizeFromBackBuffer();
  Pause(false);
  return 0;
}

HRESULT Library::SelectDevice() {
  if (!d3d_) return D3DAPPERR_NODIRECT3D;
  // The dialog cannot be shown over a full-screen device: go windowed first.
  if (!windowed_) {
    HRESULT hr = ToggleFullScreen();
    if (Failed(hr)) return hr;
  }

  using namespace resources;
  DialogValues values;
  auto& adapters = values.items[kDevDlgAdapter];
  for (uint32_t a = 0; a < d3d_->GetAdapterCount(); ++a) {
    d3d::D3DADAPTER_IDENTIFIER9 id;
    d3d_->GetAdapterIdentifier(a, 0, &id);
    adapters.push_back(id.Description);
  }
  values.values[kDevDlgAdapter] = static_cast<int>(CurrentSettings().adapterOrdinal);

  // Device types that have a setting in either mode.
  std::vector<D3DDEVTYPE> types;
  auto& typeNames = values.items[kDevDlgDevice];
  values.values[kDevDlgDevice] = -1;
  for (D3DDEVTYPE type : {D3DDEVTYPE_HAL, D3DDEVTYPE_REF}) {
    DeviceSettings probe;
    if (!FindBestSettings(true, type, probe) && !FindBestSettings(false, type, probe)) continue;
    if (type == CurrentSettings().deviceType) values.values[kDevDlgDevice] = int(types.size());
    types.push_back(type);
    typeNames.push_back(DeviceTypeName(type));
  }

  // Full-screen resolutions of the desktop format.
  d3d::D3DDISPLAYMODE desktop;
  d3d_->GetAdapterDisplayMode(0, &desktop);
  std::vector<d3d::D3DDISPLAYMODE> modes;
  auto& modeNames = values.items[kDevDlgMode];
  values.values[kDevDlgMode] = -1;
  for (uint32_t m = 0; m < d3d_->GetAdapterModeCount(0, desktop.Format); ++m) {
    d3d::D3DDISPLAYMODE mode;
    if (Failed(d3d_->EnumAdapterModes(0, desktop.Format, m, &mode))) continue;
    const d3d::D3DDISPLAYMODE& current = fullscreenSettings_.displayMode;
    if (mode.Width == current.Width && mode.Height == current.Height &&
        mode.RefreshRate == current.RefreshRate) {
      values.values[kDevDlgMode] = int(modes.size());
    }
    char name[64];
    std::snprintf(name, sizeof name, "%u x %u, %u Hz", mode.Width, mode.Height, mode.RefreshRate);
    modes.push_back(mode);
    modeNames.push_back(name);
  }
  if (values.values[kDevDlgMode] < 0 && !modes.empty()) values.values[kDevDlgMode] = 0;

  values.values[kDevDlgWindowed] = 1;
  values.values[kDevDlgFullScreen] = 0;
  // Stereo drawing needs a stereo display mode, which no adapter here offers; the box stays off
  // and its answer is not used.
  values.values[kDevDlgStereo] = 0;

  if (DialogBoxIndirectA(hwnd_, DeviceDialog(), values) != IDOK) return 0;

  const int typeIndex = values.values[kDevDlgDevice];
  const bool wantWindowed = values.values[kDevDlgWindowed] != 0;
  DeviceSettings windowedChoice, fullChoice;
  bool haveWindowed = false, haveFull = false;
  if (typeIndex >= 0 && typeIndex < int(types.size())) {
    haveWindowed = FindBestSettings(true, types[typeIndex], windowedChoice);
    haveFull = FindBestSettings(false, types[typeIndex], fullChoice);
  }
  if (wantWindowed ? !haveWindowed : !haveFull) {
    ShowDeviceError(D3DAPPERR_NOCOMPATIBLEDEVICES, 0);
    return D3DAPPERR_NOCOMPATIBLEDEVICES;
  }
  if (haveFull) {
    const int modeIndex = values.values[kDevDlgMode];
    if (modeIndex >= 0 && modeIndex < int(modes.size())) fullChoice.displayMode = modes[modeIndex];
    fullscreenSettings_ = fullChoice;
  }
  if (haveWindowed) {
    // Antialiasing carries over when the new device can do it.
    const DeviceSettings& old = windowedSettings_;
    if (old.multisampleType != D3DMULTISAMPLE_NONE &&
        Succeeded(d3d_->CheckDeviceMultiSampleType(windowedChoice.adapterOrdinal,
                                                   windowedChoice.deviceType, desktop.Format, true,
                                                   old.multisampleType, nullptr))) {
      windowedChoice.multisampleType = old.multisampleType;
      windowedChoice.multisampleQuality = old.multisampleQuality;
    } else if (wantWindowed) {
      antialias_ = false;
    }
    windowedSettings_ = windowedChoice;
  }

  if (!wantWindowed && hwnd_) GetWindowRect(hwnd_, &savedWindowRect_);
  windowedSettingCurrent_ = wantWindowed;
  CleanupDevice();
  HRESULT hr = CreateDevice();
  if (Failed(hr)) {
    if (hr != D3DERR_OUTOFVIDEOMEMORY) hr = D3DAPPERR_RESETFAILED;
    ShowDeviceError(hr, 1);
    return hr;
  }
  WindowSizeFromBackBuffer();
  return 0;
}

// ---- The window handler ----

LRESULT Library::WindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (appHandler_) {
    bool handled = false;
    LRESULT r = appHandler_(hwnd, msg, wParam, lParam, handled);
    if (handled) return r;
  }
  return LibraryWindowHandler(hwnd, msg, wParam, lParam);
}

// Keeps the window at 16:9 (4:3 in editor mode) by its outer width, with the frame allowances of
// the Windows versions; then the back buffer follows the new client area.
void Library::OnSize(HWND hwnd, WPARAM type) {
  RECT r;
  if (!GetWindowRect(hwnd, &r)) return;
  const int outerWidth = Width(r);
  int height = editorMode_ ? static_cast<int>((outerWidth + 6) * 0.75 + 44)
                           : static_cast<int>((outerWidth + 6) * 0.5625 + 46);
  if (winVer_ < 5) {
    height -= 8;
  } else if (winVer_ == 5 || winVer_ == 7) {
    height += 1;
  }
  MoveWindow(hwnd, r.left, r.top, outerWidth, height, true);
  if (type == SIZE_MINIMIZED) return;
  HandlePossibleSizeChange();
  WindowSizeFromBackBuffer();
}

// One frame while the library is paused: the frame function draws, then the back buffer is
// shown. A lost device is reset first, once the system lets it be.
void Library::PaintFrame() {
  if (deviceLost_) {
    if (device_->TestCooperativeLevel() == D3DERR_DEVICELOST) return;
    if (Failed(ResetDevice())) return;
  }
  RenderFrame();
  if (device_->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST) {
    deviceLost_ = true;
  }
}

void Library::MovieNotification() {
  if (!sound_ || !sound_->movie) return;
  sound::Movie& movie = *sound_->movie;
  if (movieLoop_) {
    movie.playing = true;
    ++movie.restarts;
  } else {
    movie.playing = false;
  }
}

LRESULT Library::OnCommand(HWND hwnd, WPARAM command, bool& handled) {
  handled = true;
  switch (command & 0xFFFF) {
    case kCmdSelectDevice:
      Pause(true);
      SelectDevice();
      Pause(false);
      return 0;
    case kCmdToggleFullScreen:
      Pause(true);
      if (Failed(ToggleFullScreen())) ShowDeviceError(D3DAPPERR_RESETFAILED, 1);
      Pause(false);
      return 0;
    case kCmdToggleFrameMoving:
      frameMoving_ = !frameMoving_;
      FrameTimer(frameMoving_ ? 1 : 2);
      return 0;
    case kCmdSingleStep:
      FrameTimer(frameMoving_ ? 2 : 3);
      frameMoving_ = false;
      singleStep_ = true;
      return 0;
    case kCmdExit:
      SendMessageA(hwnd, WM_CLOSE, 0, 0);
      return 0;
    default:
      handled = false;
      return 0;
  }
}

LRESULT Library::LibraryWindowHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // The end of a movie arrives with this lparam whatever the message; the message is then
  // handled as usual.
  if (lParam == kMovieNotification) MovieNotification();

  switch (msg) {
    case WM_SIZE:
      // Full screen keeps the display mode's size, and the library's own moves are not sizing.
      if (windowed_ && !ignoreSizeChange_) OnSize(hwnd, wParam);
      break;
    case WM_ACTIVATE:
      ResetFrameClock();
      break;
    case WM_PAINT:
      if (device_ && !active_ && windowed_ && deviceObjectsInitialised_ &&
          (deviceObjectsRestored_ || deviceLost_)) {
        PaintFrame();
      }
      break;
    case WM_CLOSE: {
      CleanupDevice();
      d3d_.reset();
      statsFont_.reset();
      HMENU menu = GetMenu(hwnd);
      if (menu) DestroyMenu(menu);
      if (savedMenu_ && savedMenu_ != menu) DestroyMenu(savedMenu_);  // closed in full screen
      savedMenu_ = nullptr;
      menu_ = nullptr;
      DestroyWindow(hwnd);
      PostQuitMessage(0);
      if (hwnd == hwnd_) hwnd_ = nullptr;
      return 0;
    }
    case WM_SETCURSOR:
      if (active_ && !windowed_) {
        SetCursor(nullptr);
        if (showCursorFullScreen_) ShowDeviceCursor();
        return 1;
      }
      break;
    case WM_GETMINMAXINFO:
      if (lParam) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = kMinTrackSize;
        info->ptMinTrackSize.y = kMinTrackSize;
      }
      break;
    case WM_NCHITTEST:
      if (!windowed_) return HTCLIENT;
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
      keys_[wParam & 0xFF] = msg == WM_KEYDOWN ? 1 : 0;
      break;
    case WM_SYSCOMMAND:
      // A full-screen window is not moved, sized or maximised, has no keyboard menu, and keeps
      // the monitor on.
      if (!windowed_) {
        switch (wParam & 0xFFF0) {
          case SC_MOVE:
          case SC_SIZE:
          case SC_MAXIMIZE:
          case SC_KEYMENU:
          case SC_MONITORPOWER:
            return 1;
          default:
            break;
        }
      }
      break;
    case WM_MOUSEMOVE:
      mouseX_ = MouseCoordinate(static_cast<uint32_t>(lParam) & 0xFFFF);
      mouseY_ = MouseCoordinate((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
      if (active_ && device_) {
        // Client coordinates in a window; in full screen, the screen's.
        int x = mouseX_, y = mouseY_;
        RECT r;
        if (!windowed_ && GetWindowRect(hwnd, &r)) {
          x += r.left;
          y += r.top;
        }
        device_->SetCursorPosition(x, y, 0);
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      bool down = msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN;
      int button = (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP)   ? 0
                   : (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONUP) ? 1
                                                                    : 2;
      if (down) {
        SetCapture(hwnd);
      } else {
        ReleaseCapture();
      }
      mouseButtons_[button] = down;
      mouseX_ = MouseCoordinate(static_cast<uint32_t>(lParam) & 0xFFFF);
      mouseY_ = MouseCoordinate((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
      break;
    }
    case WM_ENTERMENULOOP:
      Pause(true);
      break;
    case WM_EXITMENULOOP:
      Pause(false);
      break;
    case WM_POWERBROADCAST:
      if (wParam == PBT_APMQUERYSUSPEND || wParam == PBT_APMRESUMESUSPEND) return 1;
      break;
    case WM_COMMAND: {
      bool handled = false;
      LRESULT r = OnCommand(hwnd, wParam, handled);
      if (handled) return r;
      break;
    }
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace wz
