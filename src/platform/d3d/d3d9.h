// The Direct3D 9 object of the stand-in: one adapter whose display mode is the screen size; a
// capability profile that tests (or the environment variable WZ_D3D_PROFILE) choose; switches
// that make object or device creation fail with a given code (WZ_D3D_FAIL="object" or a
// hexadecimal HRESULT for device creation). The device itself is in device.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/device.h"
#include "platform/win_types.h"
#include "platform/window.h"

namespace wz::d3d {

using platform::HWND;

constexpr uint32_t D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
constexpr uint32_t D3DDEVCAPS_PUREDEVICE = 0x00100000;
constexpr uint32_t D3DPMISCCAPS_NULLREFERENCE = 0x00001000;
constexpr uint32_t D3DPTEXTURECAPS_ALPHA = 0x00000004;
constexpr uint32_t D3DPTEXTURECAPS_ALPHAPALETTE = 0x00000080;
// Stencil operations a device supports (D3DCAPS9::StencilCaps).
constexpr uint32_t D3DSTENCILCAPS_KEEP = 0x01;
constexpr uint32_t D3DSTENCILCAPS_ZERO = 0x02;
constexpr uint32_t D3DSTENCILCAPS_REPLACE = 0x04;
constexpr uint32_t D3DSTENCILCAPS_INCRSAT = 0x08;
constexpr uint32_t D3DSTENCILCAPS_DECRSAT = 0x10;
constexpr uint32_t D3DSTENCILCAPS_INVERT = 0x20;
constexpr uint32_t D3DSTENCILCAPS_INCR = 0x40;
constexpr uint32_t D3DSTENCILCAPS_DECR = 0x80;
constexpr uint32_t D3DSTENCILCAPS_TWOSIDED = 0x100;
constexpr uint32_t D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING = 0x00080000;
constexpr uint32_t D3DADAPTER_DEFAULT = 0;

constexpr uint32_t VertexShaderToken(uint32_t major, uint32_t minor) {
  return 0xFFFE0000u + major * 256 + minor;
}
constexpr uint32_t PixelShaderToken(uint32_t major, uint32_t minor) {
  return 0xFFFF0000u + major * 256 + minor;
}

struct D3DDISPLAYMODE {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint32_t RefreshRate = 0;
  D3DFORMAT Format = D3DFMT_UNKNOWN;
};

struct D3DADAPTER_IDENTIFIER9 {
  std::string Driver;
  std::string Description;
  std::string DeviceName;
  uint32_t VendorId = 0;
  uint32_t DeviceId = 0;
};

// The capabilities and behaviour of the stand-in adapter.
struct DeviceProfile {
  std::string name;
  std::string description;  // adapter description
  D3DCAPS9 halCaps;
  bool referenceAvailable = true;
  bool multisample4 = false;      // 4-sample multisampling supported
  bool failCreateObject = false;  // Direct3DCreate9 fails
  HRESULT failHalDevice = S_OK;   // CreateDevice of the hardware device fails with this code
  HRESULT failRefDevice = S_OK;   // CreateDevice of the reference device fails with this code
  // Formats the device cannot render to (textures, surfaces and cube textures with
  // D3DUSAGE_RENDERTARGET are refused; CheckDeviceFormat says D3DERR_NOTAVAILABLE).
  std::vector<D3DFORMAT> refusedRenderTargetFormats;
};

// Named profiles: "fixed" (the default: a plain fixed-function device with four blend matrices and
// no shaders), "vs11" (vertex shader 1.1, pixel shader 1.4), "sm2", "sm3", "sm3-noblend" (shader
// model 3 without blend matrices), "sm3-r16f" (shader model 3 that renders to R16F but not to
// R32F), "sm4". Unknown names give false.
bool ProfileByName(const std::string& name, DeviceProfile& out);
// The profile in force: set by SetProfile, else from WZ_D3D_PROFILE and WZ_D3D_FAIL, else "fixed".
DeviceProfile CurrentProfile();
void SetProfile(const DeviceProfile& profile);
void ResetProfile();

class Direct3D9 {
 public:
  explicit Direct3D9(DeviceProfile profile) : profile_(std::move(profile)) {}
  uint32_t GetAdapterCount() const { return 1; }
  HRESULT GetAdapterIdentifier(uint32_t adapter, uint32_t flags, D3DADAPTER_IDENTIFIER9* id) const;
  HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) const;
  uint32_t GetAdapterModeCount(uint32_t adapter, D3DFORMAT format) const;
  HRESULT EnumAdapterModes(uint32_t adapter, D3DFORMAT format, uint32_t mode,
                           D3DDISPLAYMODE* out) const;
  HRESULT GetDeviceCaps(uint32_t adapter, D3DDEVTYPE type, D3DCAPS9* caps) const;
  HRESULT CheckDeviceType(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                          D3DFORMAT backBufferFormat, bool windowed) const;
  HRESULT CheckDeviceFormat(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                            uint32_t usage, D3DRESOURCETYPE resourceType,
                            D3DFORMAT checkFormat) const;
  HRESULT CheckDepthStencilMatch(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                 D3DFORMAT renderTargetFormat, D3DFORMAT depthFormat) const;
  HRESULT CheckDeviceMultiSampleType(uint32_t adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat,
                                     bool windowed, D3DMULTISAMPLE_TYPE type2,
                                     uint32_t* qualityLevels) const;
  HRESULT CreateDevice(uint32_t adapter, D3DDEVTYPE type, HWND focusWindow, uint32_t behaviour,
                       D3DPRESENT_PARAMETERS* params, std::shared_ptr<Device>* device);
  const DeviceProfile& Profile() const { return profile_; }

 private:
  DeviceProfile profile_;
};

// Creates the Direct3D object; null when the profile says the runtime is missing or the SDK
// version is not 31.
std::shared_ptr<Direct3D9> Direct3DCreate9(uint32_t sdkVersion);

}  // namespace wz::d3d
