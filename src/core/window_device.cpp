// The main window, device settings, device creation, reset and cleanup, and the library's own
// window message handler.
#include <cmath>
#include <cstring>

#include "core/library.h"
#include "platform/text.h"

namespace wz {
namespace {

using namespace platform;

constexpr const char* kWindowClass = "D3D Window";
constexpr DWORD kWindowedStyle = WS_VISIBLE | WS_OVERLAPPEDWINDOW;      // 0x10CF0000
constexpr DWORD kFullScreenStyle = WS_POPUP | WS_VISIBLE | WS_SYSMENU;  // 0x90080000
constexpr int kMenuResource = 141;
constexpr int kIconResource = 101;

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
  RegisterMenuResource(kMenuResource, {{40002, WZ_TEXT("デバイス選択...\tF2")},
                                       {40003, WZ_TEXT("フルスクリーン切り替え\tAlt+Enter")},
                                       {40004, WZ_TEXT("一時停止\tEnter")},
                                       {40005, WZ_TEXT("コマ送り\tSpace")},
                                       {40006, WZ_TEXT("終了\tEsc")}});
}

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
    int outerWidth = rc.right - rc.left;
    int outerHeight = rc.bottom - rc.top;
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

void Library::FillPresentParameters() {
  const DeviceSettings& s = CurrentSettings();
  d3d::D3DPRESENT_PARAMETERS& p = presentParams_;
  p = d3d::D3DPRESENT_PARAMETERS{};
  if (windowed_) {
    p.BackBufferWidth = static_cast<uint32_t>(clientRect_.right - clientRect_.left);
    p.BackBufferHeight = static_cast<uint32_t>(clientRect_.bottom - clientRect_.top);
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

HRESULT Library::CreateDevice() {
  const DeviceSettings& settings = CurrentSettings();
  windowed_ = windowedSettingCurrent_;
  AdjustWindowForMode();
  if (hwnd_) {
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

  HRESULT hr = d3d_->CreateDevice(settings.adapterOrdinal, settings.deviceType, focusHwnd_,
                                  behaviour, &presentParams_, &device_);
  if (Succeeded(hr)) {
    if (windowed_ && hwnd_) {
      SetWindowPos(hwnd_, HWND_NOTOPMOST, windowRect_.left, windowRect_.top,
                   windowRect_.right - windowRect_.left, windowRect_.bottom - windowRect_.top,
                   SWP_SHOWWINDOW);
    }
    device_->GetDeviceCaps(&caps);
    creationFlags_ = behaviour;
    BuildDeviceStats(caps);
    if (settings.deviceType == D3DDEVTYPE_REF) {
      gpuInfo_.GeForce = 0;
      antialias_ = false;
    }
    device_->GetBackBufferDesc(0, &backBufferDesc_);
    if (!windowed_ && showCursorFullScreen_) ShowCursor(true);
    if (clipCursorFullScreen_) {
      if (windowed_) {
        ClipCursor(nullptr);
      } else {
        ClipCursor(&windowRect_);
      }
    }
    if (statsFont_) {
      statsFont_->deviceObjects = true;
      statsFont_->restored = true;
    }
    deviceObjectsInitialised_ = true;
    deviceObjectsRestored_ = true;
    return 0;
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
      if (hwnd_) {
        SetWindowPos(hwnd_, HWND_NOTOPMOST, savedWindowRect_.left, savedWindowRect_.top,
                     savedWindowRect_.right - savedWindowRect_.left,
                     savedWindowRect_.bottom - savedWindowRect_.top, SWP_SHOWWINDOW);
      }
      ShowDeviceError(hr, 2);
      return CreateDevice();
    }
  }
  return hr;
}

HRESULT Library::ResetDevice() {
  if (!device_) return 0;
  if (hwnd_) {
    GetWindowRect(hwnd_, &windowRect_);
    GetClientRect(hwnd_, &clientRect_);
  }
  if (deviceObjectsRestored_) {
    deviceObjectsRestored_ = false;
    if (statsFont_) statsFont_->restored = false;
  }
  HRESULT hr = device_->Reset(&presentParams_);
  if (Failed(hr)) return hr;
  device_->GetBackBufferDesc(0, &backBufferDesc_);
  if (statsFont_) statsFont_->restored = true;
  deviceObjectsRestored_ = true;
  if (!frameMoving_) {
    FrameTimer(1);
    FrameTimer(2);
  }
  return 0;
}

void Library::CleanupDevice() {
  if (deviceObjectsRestored_ || deviceObjectsInitialised_) {
    if (statsFont_) {
      statsFont_->restored = false;
      statsFont_->deviceObjects = false;
    }
    deviceObjectsRestored_ = false;
    deviceObjectsInitialised_ = false;
  }
  device_.reset();
}

LRESULT Library::WindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (appHandler_) {
    bool handled = false;
    LRESULT r = appHandler_(hwnd, msg, wParam, lParam, handled);
    if (handled) return r;
  }
  return LibraryWindowHandler(hwnd, msg, wParam, lParam);
}

namespace {
// Mouse coordinates: the low and high words, with positions of 10001 and up taken as negative
// (65535 subtracted, not 65536, so that 65535 becomes 0).
int MouseCoordinate(uint32_t word) {
  return word >= 10001 ? int(word) - 65535 : int(word);
}
}  // namespace

LRESULT Library::LibraryWindowHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ACTIVATE:
      ResetFrameClock();
      break;
    case WM_CLOSE: {
      CleanupDevice();
      d3d_.reset();
      statsFont_.reset();
      HMENU menu = GetMenu(hwnd);
      if (menu) DestroyMenu(menu);
      DestroyWindow(hwnd);
      PostQuitMessage(0);
      if (hwnd == hwnd_) hwnd_ = nullptr;
      return 0;
    }
    case WM_GETMINMAXINFO:
      return 0;
    case WM_NCHITTEST:
      if (!windowed_) return HTCLIENT;
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
      keys_[wParam & 0xFF] = msg == WM_KEYDOWN ? 1 : 0;
      break;
    case WM_MOUSEMOVE:
      mouseX_ = MouseCoordinate(static_cast<uint32_t>(lParam) & 0xFFFF);
      mouseY_ = MouseCoordinate((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
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
      if (wParam == 0 || wParam == 7) return 1;
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace wz
