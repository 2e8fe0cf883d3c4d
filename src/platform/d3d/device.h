// The Direct3D 9 device stand-in. It keeps all device state, owns the back buffer and the
// automatic depth-stencil surface, creates resources, validates every call as Direct3D 9 does
// and hands draws, clears and presents to a backend (backend.h).
//
// Nothing that does not draw pays for drawing: the OpenGL backend (and with it the GL context) is
// made on the first operation that needs pixels — a draw, a clear of a target other than the
// back buffer, a read-back, or a present while frames are dumped (WZ_FRAME_DUMP=DIR writes every
// presented frame as DIR/frame-NNNNNN.png). Until then a clear of the back buffer is remembered
// and applied when pixels are first needed. When no GL context can be made, the recording
// backend takes over with one log line: drawing does nothing, everything else works.
//
// The backend is chosen by SetBackendChoice (tests) or WZ_D3D_BACKEND=gl|record; gl is the
// default.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/d3d/backend.h"
#include "platform/d3d/buffers.h"
#include "platform/d3d/d3d9_types.h"
#include "platform/d3d/device_state.h"
#include "platform/d3d/texture.h"
#include "platform/window.h"

namespace wz::d3d {

using platform::HWND;

struct D3DCAPS9 {
  D3DDEVTYPE DeviceType = D3DDEVTYPE_HAL;
  uint32_t AdapterOrdinal = 0;
  uint32_t DevCaps = 0;
  uint32_t PrimitiveMiscCaps = 0;
  uint32_t TextureCaps = 0;
  uint32_t StencilCaps = 0;
  uint32_t MaxTextureWidth = 4096;
  uint32_t MaxTextureHeight = 4096;
  uint32_t MaxActiveLights = 8;
  uint32_t MaxVertexBlendMatrices = 0;
  uint32_t MaxVertexBlendMatrixIndex = 0;
  uint32_t MaxPrimitiveCount = 0;
  uint32_t MaxVertexIndex = 0;
  uint32_t MaxStreams = 16;
  uint32_t MaxTextureBlendStages = 8;
  uint32_t MaxSimultaneousTextures = 8;
  uint32_t VertexShaderVersion = 0;  // 0xFFFE0000 + major * 256 + minor
  uint32_t PixelShaderVersion = 0;   // 0xFFFF0000 + major * 256 + minor
  uint32_t PresentationIntervals = 0;
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

enum class BackendChoice : uint8_t { kDefault, kOpenGL, kRecording };
// The backend new devices use (kDefault: WZ_D3D_BACKEND, else OpenGL).
void SetBackendChoice(BackendChoice choice);
BackendChoice CurrentBackendChoice();

// A cube texture: this device only creates it (a render target nothing draws into yet).
class CubeTexture : public Resource, public std::enable_shared_from_this<CubeTexture> {
 public:
  CubeTexture(Device* device, UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
      : Resource(device, pool), edge_(edge), levels_(levels), usage_(usage), format_(format) {}
  UINT Edge() const { return edge_; }
  UINT GetLevelCount() const { return levels_; }
  DWORD Usage() const { return usage_; }
  D3DFORMAT Format() const { return format_; }

 private:
  UINT edge_;
  UINT levels_;
  DWORD usage_;
  D3DFORMAT format_;
};

class Device;

// A recorded set of states (BeginStateBlock/EndStateBlock or CreateStateBlock).
class StateBlock {
 public:
  // Sets the held states on the device.
  HRESULT Apply();
  // Replaces the held values with the device's current ones (the same states stay held).
  HRESULT Capture();
  const StateMask& Mask() const { return mask_; }

 private:
  friend class Device;
  explicit StateBlock(Device* device) : device_(device) {}
  Device* device_;
  DeviceState values_;
  StateMask mask_;
};

// The device cursor as the device keeps it.
struct DeviceCursor {
  bool shown = false;
  int x = 0;
  int y = 0;
  UINT hotX = 0;
  UINT hotY = 0;
  UINT width = 0;
  UINT height = 0;
  std::vector<uint32_t> image;  // A8R8G8B8, rows top first
  uint32_t propertiesSet = 0;   // number of SetCursorProperties calls that succeeded
};

class Device {
 public:
  Device(D3DCAPS9 caps, D3DDEVTYPE type, uint32_t behaviour, const D3DPRESENT_PARAMETERS& params);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // ---- Device and presentation ----
  HRESULT GetDeviceCaps(D3DCAPS9* caps) const;
  uint32_t BehaviourFlags() const { return behaviour_; }
  D3DDEVTYPE DeviceType() const { return type_; }
  const D3DPRESENT_PARAMETERS& PresentParameters() const { return params_; }
  HRESULT GetBackBufferDesc(uint32_t index, BackBufferDesc* desc) const;
  // S_OK while the device works; D3DERR_DEVICENOTRESET after MarkLost until a successful Reset.
  HRESULT TestCooperativeLevel() const;
  // Refused with D3DERR_INVALIDCALL while default-pool resources created by the application live.
  // Managed and system-memory resources survive. All states return to their defaults.
  HRESULT Reset(D3DPRESENT_PARAMETERS* params);
  HRESULT BeginScene();
  HRESULT EndScene();
  HRESULT Present(const RECT* source = nullptr, const RECT* dest = nullptr,
                  HWND overrideWindow = nullptr, const void* dirtyRegion = nullptr);
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                DWORD stencil);

  // ---- States ----
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) const;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) const;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value);
  HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) const;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) const;
  // The transform := matrix x the transform.
  HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
  HRESULT SetLight(DWORD index, const D3DLIGHT9* light);
  HRESULT GetLight(DWORD index, D3DLIGHT9* light) const;
  HRESULT LightEnable(DWORD index, BOOL enable);
  HRESULT GetLightEnable(DWORD index, BOOL* enable) const;
  HRESULT SetMaterial(const D3DMATERIAL9* material);
  HRESULT GetMaterial(D3DMATERIAL9* material) const;
  HRESULT SetViewport(const D3DVIEWPORT9* viewport);
  HRESULT GetViewport(D3DVIEWPORT9* viewport) const;
  HRESULT SetScissorRect(const RECT* rect);
  HRESULT GetScissorRect(RECT* rect) const;
  HRESULT SetSoftwareVertexProcessing(BOOL software);
  BOOL GetSoftwareVertexProcessing() const { return state_.softwareVertexProcessing; }

  // ---- Vertex input ----
  HRESULT SetFVF(DWORD fvf);
  HRESULT GetFVF(DWORD* fvf) const;
  HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                  std::shared_ptr<VertexDeclaration>* out);
  HRESULT SetVertexDeclaration(VertexDeclaration* declaration);
  HRESULT SetStreamSource(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride);
  HRESULT GetStreamSource(UINT stream, VertexBuffer** buffer, UINT* offset, UINT* stride) const;
  HRESULT SetIndices(IndexBuffer* indices);
  // A program of an effect replaces fixed-function processing while it is set (null: none).
  HRESULT SetProgram(ShaderProgram* program);
  ShaderProgram* GetProgram() const { return state_.program.get(); }
  // Builds `program` for drawing now (making the pixel backend when there is none yet), so that
  // an effect learns of GLSL errors when it is created. E_FAIL with the compiler's log (see
  // Backend::CompileProgram) when it does not build; S_OK otherwise, also when drawing does
  // nothing (recording backend).
  HRESULT CompileProgram(ShaderProgram* program, std::string* log);
  HRESULT SetVertexShader(std::nullptr_t) { return SetProgram(nullptr); }
  HRESULT SetPixelShader(std::nullptr_t) { return SetProgram(nullptr); }

  // ---- Textures and targets ----
  // Binds a texture (or none) to a sampler stage, 0 to 15.
  HRESULT SetTexture(uint32_t stage, Texture* texture);
  Texture* GetTexture(uint32_t stage) const {
    return stage < kMaxSamplers ? state_.textures[stage].get() : nullptr;
  }
  HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                        D3DPOOL pool, std::shared_ptr<Texture>* out);
  HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            std::shared_ptr<CubeTexture>* out);
  HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                             std::shared_ptr<VertexBuffer>* out);
  HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                            std::shared_ptr<IndexBuffer>* out);
  HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                             D3DMULTISAMPLE_TYPE multisample, DWORD quality, BOOL lockable,
                             std::shared_ptr<Surface>* out);
  HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, DWORD quality, BOOL discard,
                                    std::shared_ptr<Surface>* out);
  HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                      std::shared_ptr<Surface>* out);
  HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                        std::shared_ptr<Surface>* out);
  HRESULT GetDepthStencilSurface(std::shared_ptr<Surface>* out) const;
  HRESULT GetRenderTarget(DWORD index, std::shared_ptr<Surface>* out) const;
  // Render target 0 only; setting it resets the viewport to the whole target, as Direct3D does.
  HRESULT SetRenderTarget(DWORD index, Surface* target);
  HRESULT SetDepthStencilSurface(Surface* surface);
  // Copies a render target (same size and format) into a system-memory surface.
  HRESULT GetRenderTargetData(Surface* renderTarget, Surface* destination);
  // The last presented frame into an A8R8G8B8 system-memory surface of the back buffer's size.
  HRESULT GetFrontBufferData(UINT swapChain, Surface* destination);

  // ---- Drawing ----
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount);
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex,
                               UINT numVertices, UINT startIndex, UINT primitiveCount);
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices,
                          UINT stride);
  HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                                 UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                 const void* vertices, UINT stride);

  // ---- State blocks ----
  HRESULT BeginStateBlock();
  HRESULT EndStateBlock(std::shared_ptr<StateBlock>* out);
  HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, std::shared_ptr<StateBlock>* out);

  // ---- Cursor ----
  // The image must be an A8R8G8B8 surface of at most 256 x 256 whose sides are powers of two or
  // the cursor's own size; the hot spot must lie inside it.
  HRESULT SetCursorProperties(UINT hotX, UINT hotY, Surface* image);
  void SetCursorPosition(int x, int y, DWORD flags);
  BOOL ShowCursor(BOOL show);
  const DeviceCursor& Cursor() const { return cursor_; }

  // ---- For the platform layer, tests and tools ----
  const DeviceState& State() const { return state_; }
  const std::shared_ptr<ResourceRegistry>& Registry() const { return registry_; }
  // The backend in use; makes it (and the GL context) when `needPixels` and there is none yet.
  Backend* GetBackend(bool needPixels);
  BackendKind CurrentBackendKind() const;
  // True once the OpenGL backend exists for this device.
  bool HasPixelBackend() const;
  BackendCounters Counters() const;
  // The back buffer as A8R8G8B8 words, rows top first (makes pixels when needed).
  std::vector<uint32_t> ReadBackBuffer();
  uint32_t PresentCount() const { return presentCount_; }
  uint32_t ResetCount() const { return resetCount_; }
  // The device is lost (TestCooperativeLevel says D3DERR_DEVICENOTRESET until a reset succeeds).
  void MarkLost() { lost_ = true; }
  // Formats this device cannot render to: creating a render-target texture, cube texture or
  // surface of one of them fails with D3DERR_NOTAVAILABLE (set from the adapter's profile).
  void RefuseRenderTargetFormats(std::vector<D3DFORMAT> formats) {
    refusedTargetFormats_ = std::move(formats);
  }
  // Where the device's diagnostics go (one line each); the library routes them to its log.
  void SetLogSink(std::function<void(const std::string&)> sink) { logSink_ = std::move(sink); }
  void LogLine(const std::string& line) const;

 private:
  friend class StateBlock;
  void MakeImplicitSurfaces();
  void ApplyPendingClear();
  bool ValidDrawState(UINT primitiveCount, D3DPRIMITIVETYPE type) const;
  bool RefusedTarget(DWORD usage, D3DFORMAT format) const;
  const VertexLayout* CurrentLayout();
  HRESULT Submit(const DrawCall& call);
  void Notify(const StateChange& change);
  DeviceState& Target() { return recording_ ? recording_->values_ : state_; }
  void ApplyBlock(const StateBlock& block);
  void CaptureInto(StateBlock& block) const;

  D3DCAPS9 caps_;
  D3DDEVTYPE type_;
  uint32_t behaviour_;
  D3DPRESENT_PARAMETERS params_;
  std::shared_ptr<ResourceRegistry> registry_;
  DeviceState state_;
  std::shared_ptr<Surface> backBuffer_;
  std::shared_ptr<Surface> autoDepth_;
  std::unique_ptr<Backend> backend_;
  BackendChoice choice_;
  bool glFailed_ = false;
  std::shared_ptr<StateBlock> recording_;
  VertexLayout fvfLayout_;
  DWORD fvfLayoutOf_ = 0xFFFFFFFFu;
  bool inScene_ = false;
  bool lost_ = false;
  struct PendingClear {
    DWORD flags = 0;
    D3DCOLOR colour = 0;
    float z = 1;
    DWORD stencil = 0;
  } pendingClear_, pendingFront_;
  DeviceCursor cursor_;
  uint32_t presentCount_ = 0;
  uint32_t resetCount_ = 0;
  std::function<void(const std::string&)> logSink_;
  std::vector<D3DFORMAT> refusedTargetFormats_;
};

}  // namespace wz::d3d
