// The library object: configuration, switches, paths, capabilities, timing, the log, the window
// and device state, and one state record per subsystem (the engine part). Its methods are the
// library's operations; they are implemented in the folder of their subsystem.
//
// Construction builds the engine part first (CPU possession off, vertical sync on, loader thread
// started) and then the context defaults; destruction is the library's only teardown.
#pragma once

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/loader.h"
#include "core/pool.h"
#include "model/model_host.h"
#include "model/model_table.h"
#include "platform/d3d/d3d9.h"
#include "platform/window.h"
#include "render/draw2d.h"
#include "render/effects.h"
#include "render/render_state.h"
#include "texture/glyph_font.h"
#include "texture/texture_table.h"

namespace wz {

namespace sound {
struct SoundState;
}

using platform::HINSTANCE;
using platform::HMENU;
using platform::HWND;
using platform::RECT;

constexpr const char* kLibraryVersion = "2010.11";

// Library options read by LibInit; this program never changes them.
struct LibOptions {
  int32_t polygonCapacity = 65000;
  uint8_t depthStencil = 0;
  uint8_t toonTexture = 0;
  uint8_t renderingOption = 0;
};

// Device capability levels derived from the device capabilities at start-up.
struct GpuInfo {
  int32_t VertexBlendMatrices = 0;
  int32_t VertexBlendMatrixIndex = 0;
  int32_t PrimitiveCount = 0;
  int32_t VertexIndex = 0;
  int16_t GeForce = 0;
  int16_t VertexShaderVersion = 0;
  int16_t PixelShaderVersion = 0;
};

// GPU_Info from device capabilities (shader versions compared as full tokens, unsigned).
GpuInfo DeriveGpuInfo(const d3d::D3DCAPS9& caps);
// The Windows version code from the version record.
int32_t DeriveWinVer(uint32_t platformId, uint32_t major, uint32_t minor);
// Logical processors from a process affinity mask: index of the highest set bit + 1 (a mask with
// gaps counts up to its highest bit); 1 for an empty mask.
int16_t LogicalProcessorsFromMask(uint64_t mask);
// ExeDir from the module path, whatever its length: cut at its last backslash (stepping over
// two-byte characters) when that lies after index 0; otherwise the path stays whole.
std::string ExeDirFromModulePath(const std::string& modulePath);
// The data directory (library paths): `fromEnvironment` (WZ_DATA_DIR) when given; else the first
// folder of "<exeDir>\Data" (the build tree, a program beside its data),
// "<exeDir>\..\share\wz\Data" (an installed program) and `installed` (where the library's data was
// installed); else
// "<exeDir>\Data".
std::string ChooseDataDir(const std::string& exeDir, const std::string& fromEnvironment,
                          const std::string& installed,
                          const std::function<bool(const std::string&)>& isFolder);

// One candidate device setting (windowed or full screen).
struct DeviceSettings {
  bool valid = false;
  uint32_t adapterOrdinal = 0;
  std::string adapterDescription;
  D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
  d3d::D3DDISPLAYMODE displayMode;
  D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
  D3DFORMAT depthStencilFormat = D3DFMT_UNKNOWN;
  int32_t vertexProcessing = 0;  // 0 software, 1 mixed, 2 hardware, 3 pure hardware
  D3DMULTISAMPLE_TYPE multisampleType = D3DMULTISAMPLE_NONE;
  uint32_t multisampleQuality = 0;
  uint32_t presentInterval = D3DPRESENT_INTERVAL_ONE;
};

// The steps of the device lifecycle, as a test hook sees them.
enum class DeviceStep {
  Create,             // the device is about to be created
  ObjectsInit,        // the device objects (the statistics font's) are initialised
  ObjectsRestore,     // ... restored after creation and after every reset
  ObjectsInvalidate,  // ... invalidated before a reset or a release
  ObjectsDelete,      // ... deleted before the device is released
  RenderRelease,      // the drawing code drops its device-dependent resources
  Reset,              // the device is about to be reset
  Release,            // the device is released
  CursorShow,         // the device cursor is shown
};
// Sees every step; the result it gives is taken as the result of the initialisation, the
// restoration or the reset it precedes (S_OK lets them run).
using DeviceStepHook = std::function<HRESULT(DeviceStep)>;

// Error codes of the library's own family.
constexpr HRESULT D3DAPPERR_NODIRECT3D = static_cast<HRESULT>(0x82000001u);
constexpr HRESULT D3DAPPERR_NOCOMPATIBLEDEVICES = static_cast<HRESULT>(0x82000003u);
constexpr HRESULT D3DAPPERR_NOWINDOWABLEDEVICES = static_cast<HRESULT>(0x82000004u);
constexpr HRESULT D3DAPPERR_NOHARDWAREDEVICE = static_cast<HRESULT>(0x82000005u);
constexpr HRESULT D3DAPPERR_HALNOTCOMPATIBLE = static_cast<HRESULT>(0x82000006u);
constexpr HRESULT D3DAPPERR_NOWINDOWEDHAL = static_cast<HRESULT>(0x82000007u);
constexpr HRESULT D3DAPPERR_NODESKTOPHAL = static_cast<HRESULT>(0x82000008u);
constexpr HRESULT D3DAPPERR_NOHALTHISMODE = static_cast<HRESULT>(0x82000009u);
constexpr HRESULT D3DAPPERR_NONZEROREFCOUNT = static_cast<HRESULT>(0x8200000Au);
constexpr HRESULT D3DAPPERR_MEDIANOTFOUND = static_cast<HRESULT>(0x8200000Bu);
constexpr HRESULT D3DAPPERR_RESETFAILED = static_cast<HRESULT>(0x8200000Cu);
constexpr HRESULT D3DAPPERR_NULLREFDEVICE = static_cast<HRESULT>(0x8200000Du);

class Library;
// The ModelHost through which format readers reach this library (model/model_manager.cpp).
std::unique_ptr<ModelHost> MakeLibraryModelHost(Library& library);

// The message ShowDeviceError shows for a code and mode (code page 932).
std::string DeviceErrorMessage(HRESULT code, int mode);

class Library {
 public:
  using MessageHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM, bool& handled)>;

  Library();
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // ---- Start-up (core/startup.cpp) ----
  bool LibInit(HINSTANCE instance);
  void CountProcessors();

  // ---- Context and switches (core/library.cpp) ----
  const char* Version() const { return kLibraryVersion; }
  void Pause(bool pause);
  bool Active() const { return active_; }
  float FrameTimer(int command);
  void ResetFrameClock();
  void V_SyncSet(bool wait);
  void CPU_PossessionSet(bool possess);
  void AntialiasSet(bool on);
  int WindowSizeFromBackBuffer();
  int WindowWidth() const { return windowWidth_; }
  int WindowHeight() const { return windowHeight_; }
  // The height of the screen that text positions are given in: the reference screen's while
  // text is scaled to the window, else the window's.
  int TextScreenHeight() const { return textScaling_ ? referenceHeight_ : windowHeight_; }

  // ---- Log and messages (core/log.cpp) ----
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogV(const char* format, va_list args);
  // Log and the sinks below may be used from the main and the loader thread at once: a line is
  // written whole, and the line index counts every line.
  // Attaches a list-box window as the log sink (null detaches).
  void AttachLogListBox(HWND listBox) {
    std::lock_guard lock(logMutex_);
    logListBox_ = listBox;
  }
  // Attaches a text sink that gets each line (code page 932) as it is written, whole: the
  // list box gets 255 bytes of it. The sink must not log.
  void AttachLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(logMutex_);
    logSink_ = std::move(sink);
  }
  // Attaches the sink that writes each line as UTF-8 to standard error; a failed write (a reader
  // that has gone away) is ignored.
  void AttachStderrLogSink();
  int32_t LogLineIndex() const {
    std::lock_guard lock(logMutex_);
    return logLineIndex_;
  }
  double ShowMessage(const char* text);
  HRESULT ShowDeviceError(HRESULT code, int mode);

  // ---- Window and device (core/window_device.cpp) ----
  HRESULT CreateWindowAndDevice(HINSTANCE instance);
  HRESULT CreateDevice();
  HRESULT ResetDevice();
  void CleanupDevice();
  // Switches between windowed and full-screen mode; failures are shown (fatal) and returned.
  HRESULT ToggleFullScreen();
  // Shows dialog 144 and recreates the device with the chosen settings; cancelling changes
  // nothing.
  HRESULT SelectDevice();
  LRESULT LibraryWindowHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // The window procedure of the main window: the application's handler first (when one is set),
  // then the library's.
  LRESULT WindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void SetApplicationHandler(MessageHandler handler) { appHandler_ = std::move(handler); }

  // ---- Frame and model drawing (render/) ----
  // Draws one frame into the current render target; nothing while the library is paused.
  void RenderFrame();
  // Drops the drawing code's device-dependent resources (text font, sprites, model buffers,
  // the shadow quad) before a reset or a release; they are made again when next needed.
  void RenderResources_Release();
  RenderState& Rendering() { return rendering_; }
  // The opaque and transparent lists of the shown models' groups, from the display objects.
  void DrawLists_Build();
  // Draws group `group` of model `model` as display object `object` shows it.
  void GroupDraw(int32_t object, ModelId model, int32_t group);
  void EdgePass();
  void BlobShadows();
  void PlanarShadows();
  void StencilShadows();
  // Triangles drawn since the frame began.
  int32_t DrawnTriangles() const { return rendering_.lists.drawnTriangles; }
  // The application's 3D layer, run inside the scene after the model passes.
  void Scene3DHookSet(std::function<void()> hook) { rendering_.scene3DHook = std::move(hook); }

  // ---- Display objects, camera and light (render/model_objects.cpp) ----
  // A new display object (the first free number, or a new one), visible, showing no model.
  int32_t ModelObject_Create();
  void ModelObject_Release(int32_t object);
  ModelObject* ModelObject_Get(int32_t object);
  // Each returns false for an object that does not exist or is not in use.
  bool ModelObject_ModelSet(int32_t object, ModelId model);
  bool ModelObject_PositionSet(int32_t object, Vec3 position);
  bool ModelObject_AngleSet(int32_t object, Vec3 anglesDegrees);
  bool ModelObject_ScaleSet(int32_t object, Vec3 scale);
  // Sets the world matrix itself; the position becomes its translation.
  bool ModelObject_MatrixSet(int32_t object, const Mat4& world);
  bool ModelObject_VisibleSet(int32_t object, bool visible);
  bool ModelObject_CullSet(int32_t object, bool cull);
  // False (and the camera unchanged) when the eye is the target or `up` lies along the view.
  bool Camera_Set(Vec3 eye, Vec3 target, Vec3 up);
  // Vertical field of view in degrees (0 to 180), near and far planes (0 < near < far); aspect
  // 0 follows the viewport. False (and the camera unchanged) for other values.
  bool Camera_ProjectionSet(float fovDegrees, float nearPlane, float farPlane, float aspect = 0);
  void Light_Set(Vec3 position, Vec3 colour);
  void LightDirection_Set(Vec3 direction) { rendering_.lightDirection = direction; }
  void LightSwitchSet(int32_t on) { lighting_ = on; }
  int32_t LightSwitch() const { return lighting_; }
  void LightAmbientSet(float red, float green, float blue);
  const float* LightAmbient() const { return lightAmbient_; }

  // ---- Motion playback (render/motion.cpp) ----
  // Advances the model's current motion by `frames` frames (60 per second): the cross-fade of
  // Model3_MotionSet, the bone matrices the skinning reads, the deformed positions and the
  // group tracks' current keys.
  void Model3_FrameAdvance(ModelId id, float frames = 1.0f);
  // The model's geometry or drawing data changed: its drawing buffers are made again.
  void Model3_GeometryChanged(ModelId id);

  // ---- World-space primitives (render/draw3d.cpp) ----
  void WorldTransformSet(float x, float y, float z, float angleX, float angleY, float angleZ,
                         float scaleX, float scaleY, float scaleZ);
  void FillModeSet(int32_t type);
  void Point3D(const WorldVertex& v);
  void Line3D(const WorldVertex& a, const WorldVertex& b);
  void Triangle3D(const WorldVertex& a, const WorldVertex& b, const WorldVertex& c);
  void Quad3D(const WorldVertex& a, const WorldVertex& b, const WorldVertex& c,
              const WorldVertex& d);

  // ---- 2D drawing and on-screen text (render/draw2d.cpp, render/text_queue.cpp,
  // render/stage2d.cpp). Positions are reference coordinates, stretched by the 2D scale
  // factors. ----
  // One line with a colour per end; queued while a batch is open, else drawn at once.
  void Line2D(const Vertex2D& from, const Vertex2D& to);
  void LineBatch_Begin();
  // Draws the queued lines in one call and turns batching off.
  void LineBatch_Flush();
  // The outline of a rectangle: top, right, bottom and left edge.
  void Rect2D(int x1, int y1, int x2, int y2, int red, int green, int blue, int alpha);
  void Triangle2D(const Vertex2D& a, const Vertex2D& b, const Vertex2D& c);
  // A fan of two triangles in the current blend mode; the blend mode is 0 afterwards.
  void Quad2D(const Vertex2D& a, const Vertex2D& b, const Vertex2D& c, const Vertex2D& d);
  // 0 alpha blending, 1 additive by alpha, 2 subtractive by alpha, 3 plain additive.
  void BlendModeSet(int32_t mode);
  void BlendModeApply();
  int32_t BlendMode() const { return draw2d_.blendMode; }
  // The texture whose table index `cell` holds, as a quad centred on (x, y), turned by `angle`
  // degrees and scaled; false (nothing drawn) for no cell, -1 or an unused row.
  bool Sprite_Draw(const int32_t* cell, int x, int y, float angle, float scaleX, float scaleY,
                   int red, int green, int blue, int alpha);
  // Queues a line of text (printf rules, cut at 255 bytes) in the current text colour.
  void Text_Print(int x, int y, const char* format, ...) __attribute__((format(printf, 4, 5)));
  void Text_ColorSet(int red, int green, int blue, int alpha);
  // The scale later Text_Print calls give their lines (1.0 from start-up); a line whose scale
  // differs from the text font's rebuilds the font, one of 0 or less is not drawn.
  void ScreenTextScaleSet(float scale) { screenTextScale_ = scale; }
  // Makes the text font for `scale` and recomputes the 2D scale factors.
  void TextFont_Create(float scale);
  // Draws the queued text in order and empties the queue.
  void TextQueue_Draw();
  // The 2D stage that ends a frame's scene: overlay, text queue and the screen fade.
  void Stage2D();
  // The application's overlay, run by the 2D stage (null: none).
  void SetOverlayHook(std::function<void()> hook) { draw2d_.overlayHook = std::move(hook); }
  const Draw2DState& Drawing2D() const { return draw2d_; }

  // ---- Effects and shader mode (render/effect_load.cpp, render/shader_mode.cpp) ----
  // The effect of `name` from "System/HLSL" of the data directory (.fx, else .fxo), loaded when
  // its load-needed byte is set; none when it could not be loaded (one "ERROR" box per attempt).
  d3dx::Effect* EffectLoad(const char* name);
  // Creates the shader-mode render targets (T0 to T5, shared depth, shadow map, shadow depth,
  // cube target), logging the shadow-map format it gets.
  void ShaderInit();
  // Draws the final scene texture (T5) over the window through the "HLSL_2D" technique the 2D
  // effect selector names (any other value keeps the technique set last).
  void PostEffect2D();
  // The shader-mode model passes of a frame (render/shader_scene.cpp): shadow map, scene,
  // reflection, depth of field, bloom and blend through "HLSL_3D", then PostEffect2D. Without a
  // shadow map it turns shader mode off and draws the fixed-function passes instead.
  void ShaderScene();
  // Draws both draw lists with `effect`'s current technique.
  void RenderHLSL_3D(d3dx::Effect* effect);
  // Shading mode 6: the group lit by its normal map through "BumpMap" (render/bump.cpp).
  void BumpMapDraw(int32_t object, ModelId model, int32_t group);
  // Shading mode 7: loads the bump ground once; true when it is ready to draw.
  bool BUMP_GROUND();
  // Draws the bump ground with display object `object`'s matrix.
  void BumpGroundDraw(int32_t object);
  EffectState& Effects() { return effects_; }

  // ---- Device cursor (texture/device_cursor.cpp) ----
  // Gives the device cursor the window class's cursor and shows it.
  void DeviceCursorFromWindowClass();

  // ---- Textures (texture/texture_table.cpp) ----
  void ImageLoad(const char* path, std::shared_ptr<d3d::Texture>& place, D3DXIMAGE_INFO& info);
  int32_t Texture_Load(const char* path, int32_t* index);
  int32_t Texture_LoadWithId(const char* path);
  TextureEntry& Texture_Entry(int32_t index) { return textureTable_.rows.at(size_t(index)); }
  size_t TextureCount() const { return textureTable_.rows.size(); }
  void Texture_SizeGet(int32_t index, float& width, float& height) const;
  void Texture_Set(int32_t index);
  bool NullTexture_Load();
  bool ToonTexture_Load();
  d3d::Texture* ShadowTexture();
  const SystemTextures& System() const { return systemTextures_; }
  TextureIdMap& TextureIds() { return textureIdMap_; }

  // ---- Models (model/model_manager.cpp) ----
  ModelId Model3_Create();
  Model* Model3_Get(ModelId id);
  ModelRuntime* Model3_Runtime(ModelId id);
  void Model3_Release(ModelId id);
  bool Model3_IsLoaded(ModelId id);
  ModelId Model3_Load(ModelId id, const std::string& path);
  ModelId Model3_LoadInBackground(const std::string& path);
  bool Model3_MotionSet(Model* model, int32_t motion, float fadeSeconds);
  bool Model3_Save(Model* model, const std::string& path);
  void ShadingModeSet(Model& model, int32_t mode);
  void ModelTexture_Load(ModelId id, int32_t slot, const std::string& path);
  size_t ModelSlotCount() const;
  // The next Model3_Create gives its model the capacity pools; the flag is then cleared.
  void SetPreallocateNext(bool on) { preallocateNext_ = on; }
  bool LoaderSubmit(ModelId id, const std::string& directory, const std::string& fileName);
  // Pumps window messages until the slot is loaded; false when the wait ended without a load
  // (id -1, the slot was released, or the loader is not running).
  bool LoaderWait(ModelId id);
  ModelHost& Host();

  // ---- Sound (sound/sound_device.cpp) ----
  void SoundDevice_Create(HWND window);
  void SoundDevice_Delete();
  const sound::SoundState* Sound() const { return sound_.get(); }
  sound::SoundState* MutableSound() { return sound_.get(); }
  // Whether the movie notification restarts the movie (true) or stops it.
  void MovieLoopSet(bool loop) { movieLoop_ = loop; }

  // ---- Queries ----
  const LibOptions& Options() const { return options_; }
  LibOptions& MutableOptions() { return options_; }
  const GpuInfo& GPU_Info() const { return gpuInfo_; }
  int32_t WinVer() const { return winVer_; }
  const std::string& ExeDir() const { return exeDir_; }
  const std::string& DataDir() const { return dataDir_; }
  const std::string& HomePage() const { return homePage_; }
  const std::string& WindowTitle() const { return windowTitle_; }
  HWND MainWindow() const { return hwnd_; }
  bool Windowed() const { return windowed_; }
  bool Initialised() const { return initialised_; }
  int32_t PauseCount() const { return pauseCount_; }
  int16_t LogicalProcessors() const { return logicalProcessors_; }
  int16_t PhysicalProcessors() const { return physicalProcessors_; }
  bool VSync() const { return vsync_; }
  bool CpuPossession() const { return cpuPossession_; }
  bool AntialiasSupported() const { return antialiasSupported_; }
  bool Antialias() const { return antialias_; }
  bool ShaderCapable() const { return antialias_; }
  int32_t PolygonCapacity() const { return polygonCapacity_; }
  int32_t VertexCapacity() const { return vertexCapacity_; }
  int CreationWidth() const { return creationWidth_; }
  int CreationHeight() const { return creationHeight_; }
  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }
  d3d::Device* Device() const { return device_.get(); }
  d3d::Direct3D9* D3D() const { return d3d_.get(); }
  const d3d::D3DPRESENT_PARAMETERS& PresentParameters() const { return presentParams_; }
  const std::string& DeviceStats() const { return deviceStats_; }
  const DeviceSettings& CurrentSettings() const {
    return windowedSettingCurrent_ ? windowedSettings_ : fullscreenSettings_;
  }
  double FrameClockStamp() const { return frameClockStamp_; }
  double FrameTimeAccumulator() const { return frameTimeAccumulator_; }
  const std::array<uint8_t, 256>& Keys() const { return keys_; }
  int MouseX() const { return mouseX_; }
  int MouseY() const { return mouseY_; }
  // Buttons 0 left, 1 right, 2 middle.
  bool MouseButton(int button) const { return button >= 0 && button < 3 && mouseButtons_[button]; }
  bool FrameMoving() const { return frameMoving_; }
  bool SingleStep() const { return singleStep_; }
  bool DeviceLost() const { return deviceLost_; }
  bool DeviceObjectsInitialised() const { return deviceObjectsInitialised_; }
  bool DeviceObjectsRestored() const { return deviceObjectsRestored_; }
  const GlyphFont* StatisticsFont() const { return statsFont_.get(); }
  GlyphFont* StatisticsFont() { return statsFont_.get(); }
  // The device cursor is shown in full-screen mode (off by default).
  void ShowCursorFullScreenSet(bool on) { showCursorFullScreen_ = on; }
  DataLoader& Loader() { return loader_; }
  bool FatalErrorShown() const { return fatalErrorShown_; }

  // Test hook: the performance counter the frame timer reads (null restores the platform's).
  void SetCounterForTesting(std::function<bool(int64_t&)> counter, int64_t frequency);
  void SetWindowedForTesting(bool windowed) { windowed_ = windowed; }
  void SetWinVerForTesting(int32_t winVer) { winVer_ = winVer; }
  void SetDeviceStepHookForTesting(DeviceStepHook hook) { deviceStepHook_ = std::move(hook); }

 private:
  // Parts of RenderFrame the shader scene shares: the per-frame render states, and the
  // fixed-function model passes with the 3D layer (render/frame.cpp).
  void FrameStates_Write();
  void FixedModelPasses();
  void EngineTeardown();
  // Start-up step 13 (placeholder texture) and step 28 (toon texture).
  void InitTextureTable();
  void LoadToonTexture();
  DeviceSettings& CurrentSettingsMutable() {
    return windowedSettingCurrent_ ? windowedSettings_ : fullscreenSettings_;
  }
  // Handles one load request on the loader thread.
  void ProcessLoadRequest(const LoadRequest& request);
  // Sizes the runtime's lists to the model's bones, groups and texture slots.
  void SyncRuntime(ModelId id);
  HRESULT ChooseInitialSettings();
  bool FindBestSettings(bool windowed, int restrictType, DeviceSettings& out) const;
  void AdjustWindowForMode();
  void FillPresentParameters();
  void BuildDeviceStats(const d3d::D3DCAPS9& caps);
  HRESULT Step(DeviceStep step) { return deviceStepHook_ ? deviceStepHook_(step) : S_OK; }
  HRESULT InitDeviceObjects();
  HRESULT RestoreDeviceObjects();
  void InvalidateDeviceObjects();
  void DeleteDeviceObjects();
  void ApplyCursorAndClip();
  void ShowDeviceCursor();
  HRESULT HandlePossibleSizeChange();
  void RestoreWindowPlacement();
  void OnSize(HWND hwnd, WPARAM type);
  LRESULT OnCommand(HWND hwnd, WPARAM command, bool& handled);
  void PaintFrame();
  void MovieNotification();
  bool ReadCounter(int64_t& t);

  // Engine part. The model table is declared before the loader, so the loader thread is stopped
  // before the models it fills are destroyed.
  ModelTable modelTable_;
  std::unique_ptr<ModelHost> host_;
  bool preallocateNext_ = false;
  platform::ThreadId mainThread_ = 0;
  DataLoader loader_;
  WorkerSlots workerSlots_;
  std::unique_ptr<sound::SoundState> sound_;
  // Zero storage: pages are taken when drawing first writes them.
  Pool<uint8_t> scratchTransforms_;  // P x 12 bytes
  Pool<uint8_t> scratchIndices_;     // 4P x 4 bytes
  Pool<uint8_t> scratchVertices_;    // P x 240 bytes
  std::unique_ptr<GlyphFont> statsFont_;

  // Options and capacities.
  LibOptions options_;
  int32_t polygonCapacity_ = 65000;
  int32_t vertexCapacity_ = 4 * 65000;
  bool usesDepthBuffer_ = false;
  int minDepthBits_ = 0;
  int minStencilBits_ = 0;

  // Window configuration.
  int windowWidth_ = 1280;
  int windowHeight_ = 720;
  int defaultWidth_ = 1280;
  int defaultHeight_ = 720;
  int creationWidth_ = 1280;
  int creationHeight_ = 720;
  int referenceWidth_ = 1280;
  int referenceHeight_ = 720;
  bool textScaling_ = true;
  std::string windowTitle_ = "D3D9 Application";
  int screenWidth_ = 0;
  int screenHeight_ = 0;
  DWORD windowStyle_ = 0;
  RECT windowRect_{0, 0, 0, 0};
  RECT clientRect_{0, 0, 0, 0};
  RECT savedWindowRect_{0, 0, 0, 0};
  bool windowed_ = true;
  bool active_ = false;
  bool clipCursorFullScreen_ = true;
  bool showCursorFullScreen_ = false;
  bool frameMoving_ = true;
  bool singleStep_ = false;
  int32_t pauseCount_ = 0;
  HWND hwnd_ = nullptr;
  HWND focusHwnd_ = nullptr;
  HMENU menu_ = nullptr;
  HMENU savedMenu_ = nullptr;
  HINSTANCE instance_ = nullptr;
  bool deviceLost_ = false;
  bool minimised_ = false;
  bool maximised_ = false;
  bool ignoreSizeChange_ = false;
  bool editorMode_ = false;  // the window keeps 4:3 instead of 16:9; never on in this system
  bool deviceObjectsInitialised_ = false;
  bool deviceObjectsRestored_ = false;
  uint32_t creationFlags_ = 0;
  float frameTime_ = 0;
  float elapsedTime_ = 0;
  float framesPerSecond_ = 0;
  std::string deviceStats_;
  std::string frameStats_;
  std::array<uint8_t, 256> keys_{};
  int mouseX_ = 0;
  int mouseY_ = 0;
  bool mouseButtons_[3] = {false, false, false};

  // Device.
  std::shared_ptr<d3d::Direct3D9> d3d_;
  std::shared_ptr<d3d::Device> device_;
  d3d::D3DPRESENT_PARAMETERS presentParams_;
  d3d::BackBufferDesc backBufferDesc_;
  DeviceSettings windowedSettings_;
  DeviceSettings fullscreenSettings_;
  bool windowedSettingCurrent_ = true;
  bool fatalErrorShown_ = false;
  DeviceStepHook deviceStepHook_;

  // Rendering configuration.
  bool antialiasSupported_ = false;
  bool antialias_ = false;  // the shader-capable flag, later the antialias state
  bool vsync_ = false;
  bool cpuPossession_ = false;
  float lightAmbient_[3] = {0.125f, 0.125f, 0.125f};
  float screenTextScale_ = 1.0f;
  uint8_t screenTextColour_[4] = {255, 255, 255, 255};
  int32_t lighting_ = 1;
  RenderState rendering_;
  Draw2DState draw2d_;
  EffectState effects_;
  bool movieLoop_ = false;

  // Paths and identities.
  std::string exeDir_;
  std::string dataDir_;
  std::string homePage_;

  // Capabilities.
  GpuInfo gpuInfo_;
  int32_t winVer_ = 0;
  int16_t logicalProcessors_ = 1;
  int16_t physicalProcessors_ = 1;
  bool initialised_ = false;

  // Timing.
  bool timerInitialised_ = false;
  bool hasCounter_ = false;
  int64_t counterFrequency_ = 0;
  bool timerStopped_ = true;
  int64_t stopTime_ = 0;
  int64_t baseTime_ = 0;
  int64_t lastElapsedTime_ = 0;
  std::function<bool(int64_t&)> counterForTesting_;
  // Reset by the main thread and, after a load, by the loader thread.
  std::atomic<double> frameClockStamp_{0};
  std::atomic<double> frameTimeAccumulator_{0};

  // Tables set up by construction for other subsystems.
  TextureIdMap textureIdMap_;
  TextureTable textureTable_;
  SystemTextures systemTextures_;
  struct RenderRecord {
    int32_t value = 0;
    float zeros[6] = {0, 0, 0, 0, 0, 0};
    float ones[4] = {1, 1, 1, 1};
  };
  std::array<RenderRecord, 128> renderRecords_{};
  std::array<uint8_t, 480> renderBytes_{};

  // Log.
  mutable std::mutex logMutex_;
  HWND logListBox_ = nullptr;
  std::function<void(const std::string&)> logSink_;
  int32_t logLineIndex_ = 0;

  MessageHandler appHandler_;
};

}  // namespace wz
