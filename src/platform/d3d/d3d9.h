// The Direct3D 9 object and device, as a stand-in that owns real memory. One adapter whose
// display mode is the screen size; a capability profile that tests (or the environment variable
// WZ_D3D_PROFILE) choose; switches that make object or device creation fail with a given code
// (WZ_D3D_FAIL="object" or a hexadecimal HRESULT for device creation).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"
#include "platform/window.h"

namespace wz::d3d {

using platform::HWND;

struct D3DCAPS9 {
  D3DDEVTYPE DeviceType = D3DDEVTYPE_HAL;
  uint32_t AdapterOrdinal = 0;
  uint32_t DevCaps = 0;
  uint32_t PrimitiveMiscCaps = 0;
  uint32_t TextureCaps = 0;
  uint32_t MaxTextureWidth = 4096;
  uint32_t MaxTextureHeight = 4096;
  uint32_t MaxVertexBlendMatrices = 0;
  uint32_t MaxVertexBlendMatrixIndex = 0;
  uint32_t MaxPrimitiveCount = 0;
  uint32_t MaxVertexIndex = 0;
  uint32_t MaxStreams = 16;
  uint32_t VertexShaderVersion = 0;  // 0xFFFE0000 + major * 256 + minor
  uint32_t PixelShaderVersion = 0;   // 0xFFFF0000 + major * 256 + minor
  uint32_t PresentationIntervals = 0;
};

constexpr uint32_t D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
constexpr uint32_t D3DDEVCAPS_PUREDEVICE = 0x00100000;
constexpr uint32_t D3DPMISCCAPS_NULLREFERENCE = 0x00001000;
constexpr uint32_t D3DPTEXTURECAPS_ALPHA = 0x00000004;
constexpr uint32_t D3DPTEXTURECAPS_ALPHAPALETTE = 0x00000080;
constexpr uint32_t D3DUSAGE_RENDERTARGET = 0x00000001;
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

struct D3DPRESENT_PARAMETERS {
  uint32_t BackBufferWidth = 0;
  uint32_t BackBufferHeight = 0;
  D3DFORMAT BackBufferFormat = D3DFMT_UNKNOWN;
  uint32_t BackBufferCount = 0;
  D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
  uint32_t MultiSampleQuality = 0;
  uint32_t SwapEffect = 0;  // 1 discard
  HWND hDeviceWindow = nullptr;
  bool Windowed = true;
  bool EnableAutoDepthStencil = false;
  D3DFORMAT AutoDepthStencilFormat = D3DFMT_UNKNOWN;
  uint32_t Flags = 0;  // 2 discard depth-stencil
  uint32_t FullScreen_RefreshRateInHz = 0;
  uint32_t PresentationInterval = 0;
};

struct BackBufferDesc {
  D3DFORMAT Format = D3DFMT_UNKNOWN;
  uint32_t Width = 0;
  uint32_t Height = 0;
  D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
  uint32_t MultiSampleQuality = 0;
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
};

// Named profiles: "fixed" (the default: a plain fixed-function device with four blend matrices and
// no shaders), "vs11" (vertex shader 1.1, pixel shader 1.4), "sm2", "sm3", "sm3-noblend" (shader
// model 3 without blend matrices), "sm4". Unknown names give false.
bool ProfileByName(const std::string& name, DeviceProfile& out);
// The profile in force: set by SetProfile, else from WZ_D3D_PROFILE and WZ_D3D_FAIL, else "fixed".
DeviceProfile CurrentProfile();
void SetProfile(const DeviceProfile& profile);
void ResetProfile();

class Device;

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

class Texture;
class Surface;

class Device {
 public:
  // Binds a texture (or none) to a texture stage; stages 0 to 7.
  HRESULT SetTexture(uint32_t stage, Texture* texture);
  Texture* GetTexture(uint32_t stage) const { return stage < 8 ? stages_[stage] : nullptr; }
  Device(D3DCAPS9 caps, D3DDEVTYPE type, uint32_t behaviour, const D3DPRESENT_PARAMETERS& params);
  HRESULT GetDeviceCaps(D3DCAPS9* caps) const;
  uint32_t BehaviourFlags() const { return behaviour_; }
  D3DDEVTYPE DeviceType() const { return type_; }
  const D3DPRESENT_PARAMETERS& PresentParameters() const { return params_; }
  HRESULT GetBackBufferDesc(uint32_t index, BackBufferDesc* desc) const;
  HRESULT Clear(uint32_t flags, uint32_t colour, float z, uint32_t stencil);
  HRESULT Present();
  HRESULT Reset(D3DPRESENT_PARAMETERS* params);
  // The back buffer as A8R8G8B8 words, row-major, top row first.
  const std::vector<uint32_t>& BackBuffer() const { return backBuffer_; }
  uint32_t PresentCount() const { return presentCount_; }
  uint32_t ResetCount() const { return resetCount_; }

 private:
  void Allocate();

  D3DCAPS9 caps_;
  D3DDEVTYPE type_;
  uint32_t behaviour_;
  D3DPRESENT_PARAMETERS params_;
  std::vector<uint32_t> backBuffer_;
  std::vector<float> depthBuffer_;
  Texture* stages_[8] = {};
  uint32_t presentCount_ = 0;
  uint32_t resetCount_ = 0;

 public:
  HRESULT TestCooperativeLevel();
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                DWORD stencil);
  HRESULT BeginScene();
  HRESULT EndScene();
  HRESULT Present(const RECT* src, const RECT* dst, HWND override, const void* dirty);
  HRESULT SetCursorProperties(UINT hotX, UINT hotY, Surface* image);
  void SetCursorPosition(int x, int y, DWORD flags);
  BOOL ShowCursor(BOOL show);
};

}  // namespace wz::d3d
