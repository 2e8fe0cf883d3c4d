// The Direct3D 9 stand-in: one adapter, a chosen capability profile, real back and depth buffers.
#include "platform/d3d/d3d9.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace wz::d3d {
namespace {

constexpr uint32_t kMaxBackBufferSide = 16384;

D3DCAPS9 BaseCaps() {
  D3DCAPS9 c;
  c.DeviceType = D3DDEVTYPE_HAL;
  c.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
  c.TextureCaps = D3DPTEXTURECAPS_ALPHA;
  // Every stencil operation, one- and two-sided: the backend's depth-stencil surfaces carry 8
  // stencil bits.
  c.StencilCaps = D3DSTENCILCAPS_KEEP | D3DSTENCILCAPS_ZERO | D3DSTENCILCAPS_REPLACE |
                  D3DSTENCILCAPS_INCRSAT | D3DSTENCILCAPS_DECRSAT | D3DSTENCILCAPS_INVERT |
                  D3DSTENCILCAPS_INCR | D3DSTENCILCAPS_DECR | D3DSTENCILCAPS_TWOSIDED;
  c.MaxVertexBlendMatrices = 4;
  c.MaxVertexBlendMatrixIndex = 0;
  c.MaxPrimitiveCount = 0xFFFFF;
  c.MaxVertexIndex = 0xFFFFF;
  c.PresentationIntervals = 0x8000000Fu;
  return c;
}

std::mutex profileMutex;
std::optional<DeviceProfile> chosenProfile;

DeviceProfile ProfileFromEnvironment() {
  DeviceProfile p;
  ProfileByName("fixed", p);
  if (const char* name = std::getenv("WZ_D3D_PROFILE")) {
    DeviceProfile named;
    if (ProfileByName(name, named)) p = named;
  }
  if (const char* fail = std::getenv("WZ_D3D_FAIL")) {
    std::string f = fail;
    if (f == "object") {
      p.failCreateObject = true;
    } else if (!f.empty()) {
      p.failHalDevice = static_cast<HRESULT>(std::strtoul(fail, nullptr, 16));
    }
  }
  return p;
}

}  // namespace

bool ProfileByName(const std::string& name, DeviceProfile& out) {
  DeviceProfile p;
  p.name = name;
  p.halCaps = BaseCaps();
  p.description = "WZ Headless Display Adapter";
  if (name == "fixed") {
    // Defaults above: blend matrices, no shaders.
  } else if (name == "vs11") {
    p.halCaps.VertexShaderVersion = VertexShaderToken(1, 1);
    p.halCaps.PixelShaderVersion = PixelShaderToken(1, 4);
    p.halCaps.MaxVertexBlendMatrixIndex = 37;
  } else if (name == "sm2") {
    p.halCaps.VertexShaderVersion = VertexShaderToken(2, 0);
    p.halCaps.PixelShaderVersion = PixelShaderToken(2, 0);
    p.halCaps.MaxVertexBlendMatrixIndex = 255;
    p.multisample4 = true;
  } else if (name == "sm3" || name == "sm3-noblend" || name == "sm3-r16f") {
    p.halCaps.VertexShaderVersion = VertexShaderToken(3, 0);
    p.halCaps.PixelShaderVersion = PixelShaderToken(3, 0);
    p.halCaps.MaxVertexBlendMatrixIndex = 255;
    if (name == "sm3-noblend") p.halCaps.MaxVertexBlendMatrices = 0;
    if (name == "sm3-r16f") p.refusedRenderTargetFormats = {D3DFMT_R32F};
    p.multisample4 = true;
  } else if (name == "sm4") {
    p.halCaps.VertexShaderVersion = VertexShaderToken(4, 0);
    p.halCaps.PixelShaderVersion = PixelShaderToken(4, 0);
    p.halCaps.MaxVertexBlendMatrixIndex = 255;
    p.multisample4 = true;
  } else {
    return false;
  }
  out = p;
  return true;
}

DeviceProfile CurrentProfile() {
  std::lock_guard lock(profileMutex);
  if (!chosenProfile) chosenProfile = ProfileFromEnvironment();
  return *chosenProfile;
}

void SetProfile(const DeviceProfile& profile) {
  std::lock_guard lock(profileMutex);
  chosenProfile = profile;
}

void ResetProfile() {
  std::lock_guard lock(profileMutex);
  chosenProfile.reset();
}

std::shared_ptr<Direct3D9> Direct3DCreate9(uint32_t sdkVersion) {
  DeviceProfile p = CurrentProfile();
  if (p.failCreateObject || sdkVersion != D3D_SDK_VERSION) return nullptr;
  return std::make_shared<Direct3D9>(p);
}

HRESULT Direct3D9::GetAdapterIdentifier(uint32_t adapter, uint32_t,
                                        D3DADAPTER_IDENTIFIER9* id) const {
  if (adapter != 0 || !id) return D3DERR_INVALIDCALL;
  id->Driver = "wzheadless.drv";
  id->Description = profile_.description;
  id->DeviceName = "\\\\.\\DISPLAY1";
  id->VendorId = 0;
  id->DeviceId = 0;
  return S_OK;
}

HRESULT Direct3D9::GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) const {
  if (adapter != 0 || !mode) return D3DERR_INVALIDCALL;
  mode->Width = static_cast<uint32_t>(platform::GetSystemMetrics(platform::SM_CXSCREEN));
  mode->Height = static_cast<uint32_t>(platform::GetSystemMetrics(platform::SM_CYSCREEN));
  mode->RefreshRate = 60;
  mode->Format = D3DFMT_X8R8G8B8;
  return S_OK;
}

uint32_t Direct3D9::GetAdapterModeCount(uint32_t adapter, D3DFORMAT format) const {
  return adapter == 0 && format == D3DFMT_X8R8G8B8 ? 1 : 0;
}

HRESULT Direct3D9::EnumAdapterModes(uint32_t adapter, D3DFORMAT format, uint32_t mode,
                                    D3DDISPLAYMODE* out) const {
  if (mode >= GetAdapterModeCount(adapter, format)) return D3DERR_INVALIDCALL;
  return GetAdapterDisplayMode(adapter, out);
}

HRESULT Direct3D9::GetDeviceCaps(uint32_t adapter, D3DDEVTYPE type, D3DCAPS9* caps) const {
  if (adapter != 0 || !caps) return D3DERR_INVALIDCALL;
  if (type == D3DDEVTYPE_HAL) {
    *caps = profile_.halCaps;
  } else if (type == D3DDEVTYPE_REF && profile_.referenceAvailable) {
    // The reference rasteriser implements everything, slowly.
    *caps = BaseCaps();
    caps->DeviceType = D3DDEVTYPE_REF;
    caps->DevCaps |= D3DDEVCAPS_PUREDEVICE;
    caps->TextureCaps |= D3DPTEXTURECAPS_ALPHAPALETTE;
    caps->VertexShaderVersion = VertexShaderToken(3, 0);
    caps->PixelShaderVersion = PixelShaderToken(3, 0);
    caps->MaxVertexBlendMatrixIndex = 255;
  } else {
    return D3DERR_NOTAVAILABLE;
  }
  caps->AdapterOrdinal = adapter;
  return S_OK;
}

HRESULT Direct3D9::CheckDeviceType(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT backBufferFormat, bool) const {
  D3DCAPS9 caps;
  if (Failed(GetDeviceCaps(adapter, type, &caps))) return D3DERR_NOTAVAILABLE;
  if (adapterFormat != D3DFMT_X8R8G8B8) return D3DERR_NOTAVAILABLE;
  if (backBufferFormat != D3DFMT_X8R8G8B8 && backBufferFormat != D3DFMT_A8R8G8B8) {
    return D3DERR_NOTAVAILABLE;
  }
  return S_OK;
}

HRESULT Direct3D9::CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                     uint32_t usage, D3DRESOURCETYPE, D3DFORMAT checkFormat) const {
  D3DCAPS9 caps;
  if (Failed(GetDeviceCaps(adapter, type, &caps)) || adapterFormat != D3DFMT_X8R8G8B8) {
    return D3DERR_NOTAVAILABLE;
  }
  if ((usage & D3DUSAGE_RENDERTARGET) && type == D3DDEVTYPE_HAL &&
      std::ranges::count(profile_.refusedRenderTargetFormats, checkFormat) != 0) {
    return D3DERR_NOTAVAILABLE;
  }
  switch (checkFormat) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_R32F:
    case D3DFMT_R16F:
    case D3DFMT_D24S8:
    case D3DFMT_D16:
      return S_OK;
    default:
      return D3DERR_NOTAVAILABLE;
  }
}

HRESULT Direct3D9::CheckDepthStencilMatch(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT, D3DFORMAT,
                                          D3DFORMAT depthFormat) const {
  D3DCAPS9 caps;
  if (Failed(GetDeviceCaps(adapter, type, &caps))) return D3DERR_NOTAVAILABLE;
  return depthFormat == D3DFMT_D24S8 || depthFormat == D3DFMT_D16 ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDeviceMultiSampleType(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT, bool,
                                              D3DMULTISAMPLE_TYPE msType,
                                              uint32_t* qualityLevels) const {
  D3DCAPS9 caps;
  if (Failed(GetDeviceCaps(adapter, type, &caps))) return D3DERR_NOTAVAILABLE;
  bool ok = msType == D3DMULTISAMPLE_NONE || (msType == D3DMULTISAMPLE_4_SAMPLES &&
                                              (profile_.multisample4 || type == D3DDEVTYPE_REF));
  if (qualityLevels) *qualityLevels = ok ? 1 : 0;
  return ok ? S_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CreateDevice(uint32_t adapter, D3DDEVTYPE type, HWND, uint32_t behaviour,
                                D3DPRESENT_PARAMETERS* params, std::shared_ptr<Device>* device) {
  if (!params || !device) return D3DERR_INVALIDCALL;
  device->reset();
  D3DCAPS9 caps;
  if (Failed(GetDeviceCaps(adapter, type, &caps))) return D3DERR_NOTAVAILABLE;
  HRESULT fail = type == D3DDEVTYPE_HAL ? profile_.failHalDevice : profile_.failRefDevice;
  if (Failed(fail)) return fail;
  if ((behaviour & D3DCREATE_PUREDEVICE) && !(caps.DevCaps & D3DDEVCAPS_PUREDEVICE)) {
    return D3DERR_INVALIDCALL;
  }
  if (params->BackBufferWidth > kMaxBackBufferSide ||
      params->BackBufferHeight > kMaxBackBufferSide) {
    return D3DERR_INVALIDCALL;
  }
  *device = std::make_shared<Device>(caps, type, behaviour, *params);
  if (type == D3DDEVTYPE_HAL)
    (*device)->RefuseRenderTargetFormats(profile_.refusedRenderTargetFormats);
  return S_OK;
}

}  // namespace wz::d3d
