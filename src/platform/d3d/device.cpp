// The Direct3D 9 device stand-in: state, validation, resources, state blocks, the lazy choice of
// the backend and frame dumps.
#include "platform/d3d/device.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "platform/d3d/frame_dump.h"
#include "platform/d3d/recording_backend.h"
#include "platform/gl/gl_backend.h"

namespace wz::d3d {
namespace {

constexpr uint32_t kMaxBackBufferSide = 16384;
constexpr size_t kMaxDeclarationElements = 65;

std::atomic<BackendChoice> chosenBackend{BackendChoice::kDefault};

BackendChoice ResolveChoice() {
  BackendChoice c = chosenBackend.load();
  if (c != BackendChoice::kDefault) return c;
  if (const char* env = std::getenv("WZ_D3D_BACKEND")) {
    if (std::strcmp(env, "record") == 0) return BackendChoice::kRecording;
  }
  return BackendChoice::kOpenGL;
}

bool IsColourTarget(const Surface& s) {
  switch (s.Kind()) {
    case SurfaceKind::kBackBuffer:
    case SurfaceKind::kRenderTarget:
      return true;
    case SurfaceKind::kTextureLevel:
      return s.Container() && s.Container()->IsRenderTarget();
    default:
      return false;
  }
}

bool IsDepthTarget(const Surface& s) {
  if (s.Kind() == SurfaceKind::kDepthStencil) return true;
  return s.Kind() == SurfaceKind::kTextureLevel && s.Container() && s.Container()->IsDepthStencil();
}

// The smallest and largest index of a range of an index buffer.
struct IndexRange {
  uint32_t min = 0;
  uint32_t max = 0;
};

IndexRange ScanIndices(const uint8_t* data, D3DFORMAT format, size_t count) {
  IndexRange r{0xFFFFFFFFu, 0};
  if (format == D3DFMT_INDEX16) {
    for (size_t i = 0; i < count; ++i) {
      uint16_t v;
      std::memcpy(&v, data + 2 * i, 2);
      r.min = std::min<uint32_t>(r.min, v);
      r.max = std::max<uint32_t>(r.max, v);
    }
  } else {
    for (size_t i = 0; i < count; ++i) {
      uint32_t v;
      std::memcpy(&v, data + 4 * i, 4);
      r.min = std::min(r.min, v);
      r.max = std::max(r.max, v);
    }
  }
  if (count == 0) r.min = 0;
  return r;
}

// The last scanned range of each index buffer, so that drawing the same range again costs
// nothing.
struct IndexScanCache {
  uint64_t version = 0;
  UINT start = 0;
  UINT count = 0;
  IndexRange range;
};
std::mutex scanMutex;
std::unordered_map<uint64_t, IndexScanCache> indexScans;

}  // namespace

void SetBackendChoice(BackendChoice choice) {
  chosenBackend.store(choice);
}

BackendChoice CurrentBackendChoice() {
  return ResolveChoice();
}

// ---------------------------------------------------------------------------------------------
// Creation, presentation and reset

Device::Device(D3DCAPS9 caps, D3DDEVTYPE type, uint32_t behaviour,
               const D3DPRESENT_PARAMETERS& params)
    : caps_(caps),
      type_(type),
      behaviour_(behaviour),
      params_(params),
      registry_(std::make_shared<ResourceRegistry>()),
      choice_(ResolveChoice()) {
  MakeImplicitSurfaces();
  SetDefaultStates(state_, autoDepth_ != nullptr);
  state_.renderTarget = backBuffer_;
  state_.depthStencil = autoDepth_;
  state_.viewport = D3DVIEWPORT9{0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0, 1};
  state_.scissor = RECT{0, 0, int32_t(params_.BackBufferWidth), int32_t(params_.BackBufferHeight)};
  if (choice_ == BackendChoice::kRecording) backend_ = MakeRecordingBackend(true);
}

Device::~Device() {
  // Free the backend's copies while the resources they mirror may still be alive elsewhere.
  if (backend_) backend_->ResourcesDestroyed(registry_->TakeDestroyed());
  backend_.reset();
}

void Device::MakeImplicitSurfaces() {
  // A back buffer of size 0 takes the size of the device window's client area.
  if (params_.BackBufferWidth == 0 || params_.BackBufferHeight == 0) {
    platform::RECT r{0, 0, 1, 1};
    if (params_.hDeviceWindow) platform::GetClientRect(params_.hDeviceWindow, &r);
    if (params_.BackBufferWidth == 0) params_.BackBufferWidth = r.right > 0 ? r.right : 1;
    if (params_.BackBufferHeight == 0) params_.BackBufferHeight = r.bottom > 0 ? r.bottom : 1;
  }
  if (params_.BackBufferFormat == D3DFMT_UNKNOWN) params_.BackBufferFormat = D3DFMT_X8R8G8B8;
  if (params_.BackBufferCount == 0) params_.BackBufferCount = 1;
  // Nothing is allocated here: the back buffer's pixels live in the backend, made on first use.
  if (backBuffer_) {
    backBuffer_->ResizeImplicit(params_.BackBufferWidth, params_.BackBufferHeight,
                                params_.BackBufferFormat, params_.MultiSampleType);
  } else {
    backBuffer_ = Surface::CreateImplicit(this, SurfaceKind::kBackBuffer, params_.BackBufferWidth,
                                          params_.BackBufferHeight, params_.BackBufferFormat,
                                          params_.MultiSampleType);
  }
  if (params_.EnableAutoDepthStencil) {
    D3DFORMAT f = IsDepthFormat(params_.AutoDepthStencilFormat) ? params_.AutoDepthStencilFormat
                                                                : D3DFMT_D24S8;
    if (autoDepth_) {
      autoDepth_->ResizeImplicit(params_.BackBufferWidth, params_.BackBufferHeight, f,
                                 params_.MultiSampleType);
    } else {
      autoDepth_ =
          Surface::CreateImplicit(this, SurfaceKind::kDepthStencil, params_.BackBufferWidth,
                                  params_.BackBufferHeight, f, params_.MultiSampleType);
    }
  } else {
    autoDepth_.reset();
  }
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) const {
  if (!caps) return D3DERR_INVALIDCALL;
  *caps = caps_;
  return S_OK;
}

HRESULT Device::GetBackBufferDesc(uint32_t index, BackBufferDesc* desc) const {
  if (index != 0 || !desc) return D3DERR_INVALIDCALL;
  desc->Format = params_.BackBufferFormat;
  desc->Width = params_.BackBufferWidth;
  desc->Height = params_.BackBufferHeight;
  desc->MultiSampleType = params_.MultiSampleType;
  desc->MultiSampleQuality = params_.MultiSampleQuality;
  return S_OK;
}

HRESULT Device::TestCooperativeLevel() const {
  return lost_ ? D3DERR_DEVICENOTRESET : S_OK;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* params) {
  if (!params) return D3DERR_INVALIDCALL;
  if (params->BackBufferWidth > kMaxBackBufferSide ||
      params->BackBufferHeight > kMaxBackBufferSide) {
    return D3DERR_INVALIDCALL;
  }
  // Default-pool resources must all be released first, as on Direct3D 9.
  if (registry_->LiveDefaultPool() > 0) {
    LogLine("Reset refused: " + std::to_string(registry_->LiveDefaultPool()) +
            " default-pool resources are still alive");
    return D3DERR_INVALIDCALL;
  }
  recording_.reset();
  inScene_ = false;
  params_ = *params;
  MakeImplicitSurfaces();
  *params = params_;
  SetDefaultStates(state_, autoDepth_ != nullptr);
  state_.renderTarget = backBuffer_;
  state_.depthStencil = autoDepth_;
  state_.viewport = D3DVIEWPORT9{0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0, 1};
  state_.scissor = RECT{0, 0, int32_t(params_.BackBufferWidth), int32_t(params_.BackBufferHeight)};
  fvfLayoutOf_ = 0xFFFFFFFFu;
  pendingClear_ = PendingClear{};
  pendingFront_ = PendingClear{};
  lost_ = false;
  ++resetCount_;
  return S_OK;
}

HRESULT Device::BeginScene() {
  if (inScene_) return D3DERR_INVALIDCALL;
  inScene_ = true;
  return S_OK;
}

HRESULT Device::EndScene() {
  if (!inScene_) return D3DERR_INVALIDCALL;
  inScene_ = false;
  return S_OK;
}

HRESULT Device::Present(const RECT*, const RECT*, HWND, const void*) {
  if (lost_) return D3DERR_DEVICELOST;
  ++presentCount_;
  const std::string& dumpDir = FrameDumpDirectory();
  if (!dumpDir.empty()) {
    std::vector<uint32_t> pixels = ReadBackBuffer();
    std::string error;
    if (!WriteFrameDump(dumpDir, pixels, params_.BackBufferWidth, params_.BackBufferHeight,
                        &error)) {
      LogLine("Frame dump failed: " + error);
    }
  }
  if (backend_) {
    backend_->Present(*backBuffer_);
  } else {
    // Without pixels yet, the presented frame is what the remembered clear makes.
    pendingFront_ = pendingClear_;
  }
  return S_OK;
}

void Device::ApplyPendingClear() {
  if (!backend_) return;
  D3DVIEWPORT9 whole{0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0, 1};
  if (pendingFront_.flags & D3DCLEAR_TARGET) {
    // The last frame presented before there were pixels becomes the front buffer.
    backend_->Clear(backBuffer_.get(), nullptr, whole, {}, D3DCLEAR_TARGET, pendingFront_.colour, 1,
                    0);
    backend_->Present(*backBuffer_);
  }
  pendingFront_ = PendingClear{};
  if (pendingClear_.flags == 0) return;
  backend_->Clear(backBuffer_.get(), autoDepth_.get(), whole, {}, pendingClear_.flags,
                  pendingClear_.colour, pendingClear_.z, pendingClear_.stencil);
  pendingClear_ = PendingClear{};
}

Backend* Device::GetBackend(bool needPixels) {
  if (backend_ || !needPixels) return backend_.get();
  std::string why;
  if (choice_ == BackendChoice::kOpenGL && !glFailed_)
    backend_ = gl::MakeOpenGlBackend(*this, &why);
  if (backend_) LogLine("Pixels by OpenGL: " + backend_->Description());
  if (!backend_) {
    glFailed_ = true;
    LogLine("No OpenGL context (" + why + "): drawing does nothing");
    backend_ = MakeRecordingBackend(false);
  }
  ApplyPendingClear();
  return backend_.get();
}

BackendKind Device::CurrentBackendKind() const {
  if (backend_) return backend_->Kind();
  return choice_ == BackendChoice::kRecording || glFailed_ ? BackendKind::kRecording
                                                           : BackendKind::kOpenGL;
}

bool Device::HasPixelBackend() const {
  return backend_ && backend_->Kind() == BackendKind::kOpenGL;
}

BackendCounters Device::Counters() const {
  BackendCounters c = backend_ ? backend_->Counters() : BackendCounters{};
  c.presents = presentCount_;
  return c;
}

std::vector<uint32_t> Device::ReadBackBuffer() {
  std::vector<uint32_t> pixels(size_t{params_.BackBufferWidth} * params_.BackBufferHeight, 0);
  Backend* b = GetBackend(true);
  b->ReadPixels(*backBuffer_, {reinterpret_cast<uint8_t*>(pixels.data()), pixels.size() * 4},
                size_t{params_.BackBufferWidth} * 4);
  return pixels;
}

void Device::LogLine(const std::string& line) const {
  if (logSink_) logSink_(line);
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                      DWORD stencil) {
  if ((count > 0 && !rects) || !(flags & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) {
    return D3DERR_INVALIDCALL;
  }
  Surface* depth = state_.depthStencil.get();
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depth) return D3DERR_INVALIDCALL;
  if ((flags & D3DCLEAR_STENCIL) && depth->Format() != D3DFMT_D24S8) return D3DERR_INVALIDCALL;
  std::span<const D3DRECT> list(rects, rects ? count : 0);
  const D3DVIEWPORT9& vp = state_.viewport;
  const bool wholeBackBuffer = state_.renderTarget == backBuffer_ &&
                               (!depth || depth == autoDepth_.get()) && list.empty() && vp.X == 0 &&
                               vp.Y == 0 && vp.Width == params_.BackBufferWidth &&
                               vp.Height == params_.BackBufferHeight;
  if (!backend_ && wholeBackBuffer) {
    // Remembered until pixels are needed: a start-up clear of a window nobody looks at costs
    // nothing.
    pendingClear_.flags |= flags;
    if (flags & D3DCLEAR_TARGET) pendingClear_.colour = colour;
    if (flags & D3DCLEAR_ZBUFFER) pendingClear_.z = z;
    if (flags & D3DCLEAR_STENCIL) pendingClear_.stencil = stencil;
    return S_OK;
  }
  GetBackend(true)->Clear(state_.renderTarget.get(), depth, vp, list, flags, colour, z, stencil);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// States

void Device::Notify(const StateChange& change) {
  if (backend_) backend_->StateChanged(change);
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE st, DWORD value) {
  if (st >= kRenderStateCount) return D3DERR_INVALIDCALL;
  if (recording_) {
    recording_->values_.renderStates[st] = value;
    recording_->mask_.renderStates.set(st);
    return S_OK;
  }
  if (state_.renderStates[st] == value) return S_OK;
  state_.renderStates[st] = value;
  ++state_.versions.renderStates;
  Notify({StateChange::What::kRenderState, st, 0, value});
  return S_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE st, DWORD* value) const {
  if (st >= kRenderStateCount || !value) return D3DERR_INVALIDCALL;
  *value = state_.renderStates[st];
  return S_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  if (stage >= kMaxTextureStages || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
  if (recording_) {
    recording_->values_.stageStates[stage][type] = value;
    recording_->mask_.stages[stage].set(type);
    return S_OK;
  }
  if (state_.stageStates[stage][type] == value) return S_OK;
  state_.stageStates[stage][type] = value;
  ++state_.versions.stages;
  Notify({StateChange::What::kStageState, stage, type, value});
  return S_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                     DWORD* value) const {
  if (stage >= kMaxTextureStages || type >= kTextureStageStateCount || !value) {
    return D3DERR_INVALIDCALL;
  }
  *value = state_.stageStates[stage][type];
  return S_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  if (sampler >= kMaxSamplers || type >= kSamplerStateCount) return D3DERR_INVALIDCALL;
  if (recording_) {
    recording_->values_.samplerStates[sampler][type] = value;
    recording_->mask_.samplers[sampler].set(type);
    return S_OK;
  }
  if (state_.samplerStates[sampler][type] == value) return S_OK;
  state_.samplerStates[sampler][type] = value;
  ++state_.versions.samplers;
  Notify({StateChange::What::kSamplerState, sampler, type, value});
  return S_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) const {
  if (sampler >= kMaxSamplers || type >= kSamplerStateCount || !value) return D3DERR_INVALIDCALL;
  *value = state_.samplerStates[sampler][type];
  return S_OK;
}

namespace {
// The matrix slot of a transform type in `s`, or null for an unknown type.
D3DMATRIX* TransformSlot(DeviceState& s, D3DTRANSFORMSTATETYPE t) {
  if (t == D3DTS_VIEW) return &s.view;
  if (t == D3DTS_PROJECTION) return &s.projection;
  if (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) return &s.textureTransforms[t - D3DTS_TEXTURE0];
  if (t >= D3DTS_WORLD && t < D3DTS_WORLD + kWorldMatrixCount) return &s.world[t - D3DTS_WORLD];
  return nullptr;
}

void MarkTransform(StateMask& m, D3DTRANSFORMSTATETYPE t) {
  if (t == D3DTS_VIEW) m.view = true;
  if (t == D3DTS_PROJECTION) m.projection = true;
  if (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) m.textureTransforms.set(t - D3DTS_TEXTURE0);
  if (t >= D3DTS_WORLD && t < D3DTS_WORLD + kWorldMatrixCount) m.world.set(t - D3DTS_WORLD);
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
    }
  }
  return r;
}
}  // namespace

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE t, const D3DMATRIX* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  D3DMATRIX* slot = TransformSlot(Target(), t);
  if (!slot) return D3DERR_INVALIDCALL;
  *slot = *matrix;
  if (recording_) {
    MarkTransform(recording_->mask_, t);
    return S_OK;
  }
  if (t >= D3DTS_WORLD) {
    state_.worldMatricesUsed = std::max<uint32_t>(state_.worldMatricesUsed, t - D3DTS_WORLD + 1);
  }
  ++state_.versions.transforms;
  Notify({StateChange::What::kTransform, t, 0, 0});
  return S_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE t, D3DMATRIX* matrix) const {
  if (!matrix) return D3DERR_INVALIDCALL;
  const D3DMATRIX* slot = TransformSlot(const_cast<DeviceState&>(state_), t);
  if (!slot) return D3DERR_INVALIDCALL;
  *matrix = *slot;
  return S_OK;
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE t, const D3DMATRIX* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  D3DMATRIX current;
  if (HRESULT hr = GetTransform(t, &current); Failed(hr)) return hr;
  D3DMATRIX product = Multiply(*matrix, current);
  return SetTransform(t, &product);
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
  if (!light || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL ||
      light->Range < 0) {
    return D3DERR_INVALIDCALL;
  }
  Target().LightAt(index).light = *light;
  if (recording_) {
    auto& l = recording_->mask_.lights;
    if (std::find(l.begin(), l.end(), index) == l.end()) l.push_back(index);
    return S_OK;
  }
  ++state_.versions.lights;
  Notify({StateChange::What::kLight, index, 0, 0});
  return S_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) const {
  const LightSlot* slot = state_.FindLight(index);
  if (!light || !slot) return D3DERR_INVALIDCALL;
  *light = slot->light;
  return S_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
  // Enabling a light that was never set makes the default (white, directional) light.
  Target().LightAt(index).enabled = enable != 0;
  if (recording_) {
    auto& l = recording_->mask_.lightEnables;
    if (std::find(l.begin(), l.end(), index) == l.end()) l.push_back(index);
    return S_OK;
  }
  ++state_.versions.lights;
  Notify({StateChange::What::kLightEnable, index, 0, uint64_t(enable != 0)});
  return S_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) const {
  const LightSlot* slot = state_.FindLight(index);
  if (!enable || !slot) return D3DERR_INVALIDCALL;
  *enable = slot->enabled ? 1 : 0;
  return S_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* material) {
  if (!material) return D3DERR_INVALIDCALL;
  Target().material = *material;
  if (recording_) {
    recording_->mask_.material = true;
    return S_OK;
  }
  ++state_.versions.material;
  Notify({StateChange::What::kMaterial, 0, 0, 0});
  return S_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* material) const {
  if (!material) return D3DERR_INVALIDCALL;
  *material = state_.material;
  return S_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* vp) {
  if (!vp || vp->Width == 0 || vp->Height == 0) return D3DERR_INVALIDCALL;
  const Surface* rt = state_.renderTarget.get();
  if (rt &&
      (uint64_t{vp->X} + vp->Width > rt->Width() || uint64_t{vp->Y} + vp->Height > rt->Height())) {
    return D3DERR_INVALIDCALL;
  }
  Target().viewport = *vp;
  if (recording_) {
    recording_->mask_.viewport = true;
    return S_OK;
  }
  ++state_.versions.viewport;
  Notify({StateChange::What::kViewport, 0, 0, 0});
  return S_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* vp) const {
  if (!vp) return D3DERR_INVALIDCALL;
  *vp = state_.viewport;
  return S_OK;
}

HRESULT Device::SetScissorRect(const RECT* rect) {
  if (!rect) return D3DERR_INVALIDCALL;
  Target().scissor = *rect;
  if (recording_) {
    recording_->mask_.scissor = true;
    return S_OK;
  }
  ++state_.versions.viewport;
  Notify({StateChange::What::kScissor, 0, 0, 0});
  return S_OK;
}

HRESULT Device::GetScissorRect(RECT* rect) const {
  if (!rect) return D3DERR_INVALIDCALL;
  *rect = state_.scissor;
  return S_OK;
}

HRESULT Device::SetSoftwareVertexProcessing(BOOL software) {
  // Only a mixed-mode device can switch; the others keep what they were made with.
  if (!(behaviour_ & D3DCREATE_MIXED_VERTEXPROCESSING)) {
    state_.softwareVertexProcessing = (behaviour_ & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0;
    return software == (state_.softwareVertexProcessing ? 1 : 0) ? S_OK : D3DERR_INVALIDCALL;
  }
  state_.softwareVertexProcessing = software != 0;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Vertex input

HRESULT Device::SetFVF(DWORD fvf) {
  DeviceState& s = Target();
  s.fvf = fvf;
  s.declaration.reset();
  if (recording_) {
    recording_->mask_.vertexFormat = true;
    return S_OK;
  }
  ++state_.versions.vertexInput;
  Notify({StateChange::What::kFvf, 0, 0, fvf});
  return S_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) const {
  if (!fvf) return D3DERR_INVALIDCALL;
  *fvf = state_.fvf;
  return S_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                        std::shared_ptr<VertexDeclaration>* out) {
  if (!elements || !out) return D3DERR_INVALIDCALL;
  size_t n = 0;
  while (n < kMaxDeclarationElements && !(elements[n] == D3DDECL_END))
    ++n;
  if (n == kMaxDeclarationElements) return D3DERR_INVALIDCALL;
  return VertexDeclaration::Create({elements, n + 1}, out);
}

HRESULT Device::SetVertexDeclaration(VertexDeclaration* declaration) {
  DeviceState& s = Target();
  s.declaration = declaration ? declaration->shared_from_this() : nullptr;
  if (declaration) s.fvf = 0;
  if (recording_) {
    recording_->mask_.vertexFormat = true;
    return S_OK;
  }
  ++state_.versions.vertexInput;
  Notify({StateChange::What::kDeclaration, 0, 0, declaration ? 1u : 0u});
  return S_OK;
}

HRESULT Device::SetStreamSource(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride) {
  if (stream >= kMaxStreams) return D3DERR_INVALIDCALL;
  StreamSource& src = Target().streams[stream];
  src.buffer = buffer ? buffer->shared_from_this() : nullptr;
  src.offset = offset;
  src.stride = stride;
  if (recording_) {
    recording_->mask_.streams.set(stream);
    return S_OK;
  }
  ++state_.versions.vertexInput;
  Notify({StateChange::What::kStreamSource, stream, stride, buffer ? buffer->Id() : 0});
  return S_OK;
}

HRESULT Device::GetStreamSource(UINT stream, VertexBuffer** buffer, UINT* offset,
                                UINT* stride) const {
  if (stream >= kMaxStreams || !buffer || !offset || !stride) return D3DERR_INVALIDCALL;
  const StreamSource& src = state_.streams[stream];
  *buffer = src.buffer.get();
  *offset = src.offset;
  *stride = src.stride;
  return S_OK;
}

HRESULT Device::SetIndices(IndexBuffer* indices) {
  Target().indices = indices ? indices->shared_from_this() : nullptr;
  if (recording_) {
    recording_->mask_.indices = true;
    return S_OK;
  }
  ++state_.versions.vertexInput;
  Notify({StateChange::What::kIndices, 0, 0, indices ? indices->Id() : 0});
  return S_OK;
}

HRESULT Device::CompileProgram(ShaderProgram* program, std::string* log) {
  if (!program) return D3DERR_INVALIDCALL;
  if (log) log->clear();
  return GetBackend(true)->CompileProgram(program->shared_from_this(), log) ? S_OK : E_FAIL;
}

HRESULT Device::SetProgram(ShaderProgram* program) {
  Target().program = program ? program->shared_from_this() : nullptr;
  if (recording_) {
    recording_->mask_.program = true;
    return S_OK;
  }
  ++state_.versions.program;
  Notify({StateChange::What::kProgram, 0, 0, program ? program->Id() : 0});
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Textures, resources and targets

HRESULT Device::SetTexture(uint32_t stage, Texture* texture) {
  if (stage >= kMaxSamplers) return D3DERR_INVALIDCALL;
  Target().textures[stage] = texture ? texture->shared_from_this() : nullptr;
  if (recording_) {
    recording_->mask_.textures.set(stage);
    return S_OK;
  }
  ++state_.versions.textures;
  Notify({StateChange::What::kTexture, stage, 0, texture ? texture->Id() : 0});
  return S_OK;
}

bool Device::RefusedTarget(DWORD usage, D3DFORMAT format) const {
  return (usage & D3DUSAGE_RENDERTARGET) &&
         std::find(refusedTargetFormats_.begin(), refusedTargetFormats_.end(), format) !=
             refusedTargetFormats_.end();
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, std::shared_ptr<Texture>* out) {
  if (out && RefusedTarget(usage, format)) {
    out->reset();
    return D3DERR_NOTAVAILABLE;
  }
  return Texture::Create(this, width, height, levels, usage, format, pool, out);
}

HRESULT Device::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format,
                                  D3DPOOL pool, std::shared_ptr<CubeTexture>* out) {
  if (!out) return D3DERR_INVALIDCALL;
  out->reset();
  if (RefusedTarget(usage, format)) return D3DERR_NOTAVAILABLE;
  if (edge == 0 || edge > kMaxTextureSide || levels > FullMipChainLength(edge, edge) ||
      BytesPerTexel(format) == 0 || pool > D3DPOOL_SCRATCH) {
    return D3DERR_INVALIDCALL;
  }
  try {
    *out = std::make_shared<CubeTexture>(
        this, edge, levels ? levels : FullMipChainLength(edge, edge), usage, format, pool);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   std::shared_ptr<VertexBuffer>* out) {
  return VertexBuffer::Create(this, length, usage, fvf, pool, out);
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  std::shared_ptr<IndexBuffer>* out) {
  return IndexBuffer::Create(this, length, usage, format, pool, out);
}

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format,
                                   D3DMULTISAMPLE_TYPE multisample, DWORD, BOOL lockable,
                                   std::shared_ptr<Surface>* out) {
  if (out && RefusedTarget(D3DUSAGE_RENDERTARGET, format)) {
    out->reset();
    return D3DERR_NOTAVAILABLE;
  }
  return Surface::CreateRenderTarget(this, width, height, format, multisample, lockable != 0, out);
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                          D3DMULTISAMPLE_TYPE multisample, DWORD, BOOL discard,
                                          std::shared_ptr<Surface>* out) {
  return Surface::CreateDepthStencil(this, width, height, format, multisample, discard != 0, out);
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            std::shared_ptr<Surface>* out) {
  return Surface::CreateOffscreenPlain(this, width, height, format, pool, out);
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE,
                              std::shared_ptr<Surface>* out) {
  if (swapChain != 0 || index != 0 || !out) return D3DERR_INVALIDCALL;
  *out = backBuffer_;
  return S_OK;
}

HRESULT Device::GetDepthStencilSurface(std::shared_ptr<Surface>* out) const {
  if (!out) return D3DERR_INVALIDCALL;
  *out = state_.depthStencil;
  return state_.depthStencil ? S_OK : D3DERR_NOTFOUND;
}

HRESULT Device::GetRenderTarget(DWORD index, std::shared_ptr<Surface>* out) const {
  if (index != 0 || !out) return D3DERR_INVALIDCALL;
  *out = state_.renderTarget;
  return S_OK;
}

HRESULT Device::SetRenderTarget(DWORD index, Surface* target) {
  if (index != 0 || !target || !IsColourTarget(*target)) return D3DERR_INVALIDCALL;
  state_.renderTarget = target->shared_from_this();
  state_.viewport = D3DVIEWPORT9{0, 0, target->Width(), target->Height(), 0, 1};
  state_.scissor = RECT{0, 0, int32_t(target->Width()), int32_t(target->Height())};
  ++state_.versions.targets;
  ++state_.versions.viewport;
  Notify({StateChange::What::kRenderTarget, 0, 0, target->Id()});
  return S_OK;
}

HRESULT Device::SetDepthStencilSurface(Surface* surface) {
  if (surface && !IsDepthTarget(*surface)) return D3DERR_INVALIDCALL;
  state_.depthStencil = surface ? surface->shared_from_this() : nullptr;
  ++state_.versions.targets;
  Notify({StateChange::What::kDepthStencil, 0, 0, surface ? surface->Id() : 0});
  return S_OK;
}

HRESULT Device::GetRenderTargetData(Surface* renderTarget, Surface* destination) {
  if (!renderTarget || !destination || !IsColourTarget(*renderTarget) ||
      destination->Kind() != SurfaceKind::kOffscreenPlain ||
      destination->Pool() != D3DPOOL_SYSTEMMEM || destination->Width() != renderTarget->Width() ||
      destination->Height() != renderTarget->Height() ||
      destination->Format() != renderTarget->Format()) {
    return D3DERR_INVALIDCALL;
  }
  Backend* b = GetBackend(true);
  std::span<uint8_t> bits = destination->Bits();
  return b->ReadPixels(*renderTarget, bits, destination->Pitch()) ? S_OK
                                                                  : D3DERR_DRIVERINTERNALERROR;
}

HRESULT Device::GetFrontBufferData(UINT swapChain, Surface* destination) {
  if (swapChain != 0 || !destination || destination->Kind() != SurfaceKind::kOffscreenPlain ||
      destination->Format() != D3DFMT_A8R8G8B8 || destination->Width() != params_.BackBufferWidth ||
      destination->Height() != params_.BackBufferHeight) {
    return D3DERR_INVALIDCALL;
  }
  std::span<uint8_t> bits = destination->Bits();
  Backend* b = GetBackend(true);
  if (!b->ReadFrontBuffer(bits, destination->Pitch())) std::fill(bits.begin(), bits.end(), 0);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Drawing

const VertexLayout* Device::CurrentLayout() {
  if (state_.declaration) return &state_.declaration->Layout();
  if (fvfLayoutOf_ != state_.fvf) {
    if (!LayoutFromFvf(state_.fvf, fvfLayout_)) return nullptr;
    fvfLayoutOf_ = state_.fvf;
  }
  return &fvfLayout_;
}

namespace {
// The bytes of one vertex of `stream` that the layout reads.
uint32_t StreamExtent(const VertexLayout& layout, uint8_t stream) {
  uint32_t extent = 0;
  for (const VertexElement& e : layout.Elements()) {
    if (e.stream == stream) extent = std::max(extent, uint32_t{e.offset} + DeclTypeSize(e.type));
  }
  return extent;
}

// Vertices a bound stream can give from its offset.
uint64_t StreamVertexCount(const StreamSource& s) {
  if (!s.buffer || s.stride == 0 || s.offset > s.buffer->Size()) return 0;
  return (uint64_t{s.buffer->Size()} - s.offset) / s.stride;
}
}  // namespace

HRESULT Device::Submit(const DrawCall& call) {
  const VertexLayout* layout = CurrentLayout();
  if (!layout) return D3DERR_INVALIDCALL;
  Backend* b = GetBackend(true);
  std::vector<uint64_t> gone = registry_->TakeDestroyed();
  if (!gone.empty()) {
    {
      std::lock_guard lock(scanMutex);
      for (uint64_t id : gone)
        indexScans.erase(id);
    }
    b->ResourcesDestroyed(gone);
  }
  b->Draw(state_, *layout, call);
  return S_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
  if (!inScene_ || VertexCountOf(type, 1) == 0) return D3DERR_INVALIDCALL;
  if (primitiveCount == 0) return S_OK;
  const VertexLayout* layout = CurrentLayout();
  if (!layout) return D3DERR_INVALIDCALL;
  const uint64_t count = VertexCountOf(type, primitiveCount);
  for (uint8_t s = 0; s < kMaxStreams; ++s) {
    const uint32_t extent = StreamExtent(*layout, s);
    if (extent == 0) continue;
    const StreamSource& src = state_.streams[s];
    if (!src.buffer || src.stride < extent ||
        uint64_t{startVertex} + count > StreamVertexCount(src)) {
      return D3DERR_INVALIDCALL;
    }
  }
  DrawCall c;
  c.kind = DrawCall::Kind::kPrimitive;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.elementCount = static_cast<UINT>(count);
  c.startVertex = startVertex;
  return Submit(c);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount) {
  if (!inScene_ || VertexCountOf(type, 1) == 0) return D3DERR_INVALIDCALL;
  if (primitiveCount == 0) return S_OK;
  const VertexLayout* layout = CurrentLayout();
  const IndexBuffer* ib = state_.indices.get();
  if (!layout || !ib) return D3DERR_INVALIDCALL;
  const uint64_t count = VertexCountOf(type, primitiveCount);
  const uint32_t indexSize = ib->Format() == D3DFMT_INDEX16 ? 2 : 4;
  if ((uint64_t{startIndex} + count) * indexSize > ib->Size()) return D3DERR_INVALIDCALL;
  // Every index the draw reads must name a vertex the streams hold: the backend reads them.
  IndexRange range;
  {
    std::lock_guard lock(scanMutex);
    IndexScanCache& cache = indexScans[ib->Id()];
    if (cache.version != ib->Version() || cache.start != startIndex || cache.count != count) {
      cache.range =
          ScanIndices(ib->Bytes().data() + size_t{startIndex} * indexSize, ib->Format(), count);
      cache.version = ib->Version();
      cache.start = startIndex;
      cache.count = static_cast<UINT>(count);
    }
    range = cache.range;
  }
  const int64_t lowest = int64_t{baseVertex} + range.min;
  const int64_t highest = int64_t{baseVertex} + range.max;
  if (lowest < 0) return D3DERR_INVALIDCALL;
  for (uint8_t s = 0; s < kMaxStreams; ++s) {
    const uint32_t extent = StreamExtent(*layout, s);
    if (extent == 0) continue;
    const StreamSource& src = state_.streams[s];
    if (!src.buffer || src.stride < extent || uint64_t(highest) >= StreamVertexCount(src)) {
      return D3DERR_INVALIDCALL;
    }
  }
  DrawCall c;
  c.kind = DrawCall::Kind::kIndexedPrimitive;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.elementCount = static_cast<UINT>(count);
  c.baseVertex = baseVertex;
  c.minIndex = minIndex;
  c.numVertices = numVertices;
  c.startIndex = startIndex;
  return Submit(c);
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices,
                                UINT stride) {
  if (!inScene_ || !vertices || stride == 0 || VertexCountOf(type, 1) == 0) {
    return D3DERR_INVALIDCALL;
  }
  if (primitiveCount == 0) return S_OK;
  const VertexLayout* layout = CurrentLayout();
  if (!layout || stride < StreamExtent(*layout, 0)) return D3DERR_INVALIDCALL;
  const uint64_t count = VertexCountOf(type, primitiveCount);
  DrawCall c;
  c.kind = DrawCall::Kind::kPrimitiveUP;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.elementCount = static_cast<UINT>(count);
  c.vertices = static_cast<const uint8_t*>(vertices);
  c.vertexBytes = size_t(count) * stride;
  c.vertexStride = stride;
  return Submit(c);
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indices,
                                       D3DFORMAT indexFormat, const void* vertices, UINT stride) {
  if (!inScene_ || !vertices || !indices || stride == 0 || VertexCountOf(type, 1) == 0 ||
      (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32)) {
    return D3DERR_INVALIDCALL;
  }
  if (primitiveCount == 0) return S_OK;
  const VertexLayout* layout = CurrentLayout();
  if (!layout || stride < StreamExtent(*layout, 0)) return D3DERR_INVALIDCALL;
  const uint64_t count = VertexCountOf(type, primitiveCount);
  const IndexRange range = ScanIndices(static_cast<const uint8_t*>(indices), indexFormat, count);
  const uint64_t vertexCount = uint64_t{minIndex} + numVertices;
  if (range.min < minIndex || range.max >= vertexCount) return D3DERR_INVALIDCALL;
  DrawCall c;
  c.kind = DrawCall::Kind::kIndexedPrimitiveUP;
  c.type = type;
  c.primitiveCount = primitiveCount;
  c.elementCount = static_cast<UINT>(count);
  c.minIndex = minIndex;
  c.numVertices = numVertices;
  c.vertices = static_cast<const uint8_t*>(vertices);
  c.vertexBytes = size_t(vertexCount) * stride;
  c.vertexStride = stride;
  c.indices = static_cast<const uint8_t*>(indices);
  c.indexFormat = indexFormat;
  return Submit(c);
}

// ---------------------------------------------------------------------------------------------
// State blocks

HRESULT Device::BeginStateBlock() {
  if (recording_) return D3DERR_INVALIDCALL;
  try {
    recording_.reset(new StateBlock(this));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // Values not set while recording keep the device's so that a later Capture has a base.
  recording_->values_ = state_;
  return S_OK;
}

HRESULT Device::EndStateBlock(std::shared_ptr<StateBlock>* out) {
  if (!recording_ || !out) return D3DERR_INVALIDCALL;
  *out = std::move(recording_);
  recording_.reset();
  return S_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, std::shared_ptr<StateBlock>* out) {
  if (!out || type < D3DSBT_ALL || type > D3DSBT_VERTEXSTATE) return D3DERR_INVALIDCALL;
  std::shared_ptr<StateBlock> block;
  try {
    block.reset(new StateBlock(this));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  StateMask& m = block->mask_;
  const bool pixel = type != D3DSBT_VERTEXSTATE;
  const bool vertex = type != D3DSBT_PIXELSTATE;
  for (uint32_t i = 0; i < kRenderStateCount; ++i) {
    if ((pixel && IsPixelRenderState(i)) || (vertex && IsVertexRenderState(i)) ||
        type == D3DSBT_ALL) {
      m.renderStates.set(i);
    }
  }
  for (uint32_t st = 0; st < kMaxTextureStages; ++st) {
    for (uint32_t i = 1; i < kTextureStageStateCount; ++i) {
      if (IsVertexStageState(i) ? vertex : pixel) m.stages[st].set(i);
    }
  }
  if (pixel) {
    for (auto& s : m.samplers)
      s.set().reset(0);  // sampler state 0 does not exist
  }
  for (const LightSlot& l : state_.lights) {
    if (vertex) {
      m.lights.push_back(l.index);
      m.lightEnables.push_back(l.index);
    }
  }
  if (type == D3DSBT_ALL) {
    m.view = m.projection = true;
    m.textureTransforms.set();
    m.world.set();
    m.material = m.viewport = m.scissor = m.indices = m.program = true;
    m.textures.set();
    m.streams.set();
  }
  if (vertex) m.vertexFormat = true;
  CaptureInto(*block);
  *out = std::move(block);
  return S_OK;
}

void Device::CaptureInto(StateBlock& block) const {
  const StateMask& m = block.mask_;
  DeviceState& v = block.values_;
  for (uint32_t i = 0; i < kRenderStateCount; ++i) {
    if (m.renderStates.test(i)) v.renderStates[i] = state_.renderStates[i];
  }
  for (uint32_t st = 0; st < kMaxTextureStages; ++st) {
    for (uint32_t i = 0; i < kTextureStageStateCount; ++i) {
      if (m.stages[st].test(i)) v.stageStates[st][i] = state_.stageStates[st][i];
    }
  }
  for (uint32_t s = 0; s < kMaxSamplers; ++s) {
    for (uint32_t i = 0; i < kSamplerStateCount; ++i) {
      if (m.samplers[s].test(i)) v.samplerStates[s][i] = state_.samplerStates[s][i];
    }
    if (m.textures.test(s)) v.textures[s] = state_.textures[s];
  }
  if (m.view) v.view = state_.view;
  if (m.projection) v.projection = state_.projection;
  for (uint32_t i = 0; i < kMaxTextureStages; ++i) {
    if (m.textureTransforms.test(i)) v.textureTransforms[i] = state_.textureTransforms[i];
  }
  for (uint32_t i = 0; i < kWorldMatrixCount; ++i) {
    if (m.world.test(i)) v.world[i] = state_.world[i];
  }
  for (DWORD index : m.lights) {
    if (const LightSlot* l = state_.FindLight(index)) v.LightAt(index).light = l->light;
  }
  for (DWORD index : m.lightEnables) {
    const LightSlot* l = state_.FindLight(index);
    v.LightAt(index).enabled = l && l->enabled;
  }
  if (m.material) v.material = state_.material;
  if (m.viewport) v.viewport = state_.viewport;
  if (m.scissor) v.scissor = state_.scissor;
  if (m.vertexFormat) {
    v.fvf = state_.fvf;
    v.declaration = state_.declaration;
  }
  for (uint32_t s = 0; s < kMaxStreams; ++s) {
    if (m.streams.test(s)) v.streams[s] = state_.streams[s];
  }
  if (m.indices) v.indices = state_.indices;
  if (m.program) v.program = state_.program;
}

void Device::ApplyBlock(const StateBlock& block) {
  const StateMask& m = block.mask_;
  const DeviceState& v = block.values_;
  for (uint32_t i = 0; i < kRenderStateCount; ++i) {
    if (m.renderStates.test(i)) {
      SetRenderState(static_cast<D3DRENDERSTATETYPE>(i), v.renderStates[i]);
    }
  }
  for (uint32_t st = 0; st < kMaxTextureStages; ++st) {
    for (uint32_t i = 0; i < kTextureStageStateCount; ++i) {
      if (m.stages[st].test(i)) {
        SetTextureStageState(st, static_cast<D3DTEXTURESTAGESTATETYPE>(i), v.stageStates[st][i]);
      }
    }
  }
  for (uint32_t s = 0; s < kMaxSamplers; ++s) {
    for (uint32_t i = 0; i < kSamplerStateCount; ++i) {
      if (m.samplers[s].test(i)) {
        SetSamplerState(s, static_cast<D3DSAMPLERSTATETYPE>(i), v.samplerStates[s][i]);
      }
    }
    if (m.textures.test(s)) SetTexture(s, v.textures[s].get());
  }
  if (m.view) SetTransform(D3DTS_VIEW, &v.view);
  if (m.projection) SetTransform(D3DTS_PROJECTION, &v.projection);
  for (uint32_t i = 0; i < kMaxTextureStages; ++i) {
    if (m.textureTransforms.test(i)) SetTransform(D3DTS_TEXTURE(i), &v.textureTransforms[i]);
  }
  if (m.world.any()) {
    // One version step for the whole palette instead of 256.
    for (uint32_t i = 0; i < kWorldMatrixCount; ++i) {
      if (m.world.test(i)) state_.world[i] = v.world[i];
    }
    if (m.world.count() < kWorldMatrixCount) {
      for (uint32_t i = kWorldMatrixCount; i-- > 0;) {
        if (m.world.test(i)) {
          state_.worldMatricesUsed = std::max(state_.worldMatricesUsed, i + 1);
          break;
        }
      }
    }
    ++state_.versions.transforms;
    Notify({StateChange::What::kTransform, D3DTS_WORLD, 0, 0});
  }
  for (DWORD index : m.lights) {
    if (const LightSlot* l = v.FindLight(index)) SetLight(index, &l->light);
  }
  for (DWORD index : m.lightEnables) {
    const LightSlot* l = v.FindLight(index);
    LightEnable(index, l && l->enabled);
  }
  if (m.material) SetMaterial(&v.material);
  if (m.viewport) SetViewport(&v.viewport);
  if (m.scissor) SetScissorRect(&v.scissor);
  if (m.vertexFormat) {
    if (v.declaration) {
      SetVertexDeclaration(v.declaration.get());
    } else {
      SetFVF(v.fvf);
    }
  }
  for (uint32_t s = 0; s < kMaxStreams; ++s) {
    if (m.streams.test(s)) {
      SetStreamSource(s, v.streams[s].buffer.get(), v.streams[s].offset, v.streams[s].stride);
    }
  }
  if (m.indices) SetIndices(v.indices.get());
  if (m.program) SetProgram(v.program.get());
}

HRESULT StateBlock::Apply() {
  if (!device_ || device_->recording_) return D3DERR_INVALIDCALL;
  device_->ApplyBlock(*this);
  return S_OK;
}

HRESULT StateBlock::Capture() {
  if (!device_ || device_->recording_) return D3DERR_INVALIDCALL;
  device_->CaptureInto(*this);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Cursor

HRESULT Device::SetCursorProperties(UINT hotX, UINT hotY, Surface* image) {
  if (!image || image->Format() != D3DFMT_A8R8G8B8 || image->Bits().empty()) {
    return D3DERR_INVALIDCALL;
  }
  const UINT w = image->Width(), h = image->Height();
  if (w > 256 || h > 256 || hotX >= w || hotY >= h) return D3DERR_INVALIDCALL;
  cursor_.hotX = hotX;
  cursor_.hotY = hotY;
  cursor_.width = w;
  cursor_.height = h;
  cursor_.image.resize(size_t{w} * h);
  std::span<const uint8_t> bits = std::as_const(*image).Bits();
  for (UINT y = 0; y < h; ++y) {
    std::memcpy(cursor_.image.data() + size_t{y} * w, bits.data() + y * image->Pitch(),
                size_t{w} * 4);
  }
  ++cursor_.propertiesSet;
  return S_OK;
}

void Device::SetCursorPosition(int x, int y, DWORD) {
  cursor_.x = x;
  cursor_.y = y;
}

BOOL Device::ShowCursor(BOOL show) {
  const BOOL was = cursor_.shown ? 1 : 0;
  cursor_.shown = show != 0;
  return was;
}

}  // namespace wz::d3d
