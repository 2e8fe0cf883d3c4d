// Construction and teardown of the library object, the pause counter, the frame timer and the
// switches for vertical sync, CPU possession and antialiasing.
#include "core/library.h"

#include "platform/system.h"
#include "platform/text.h"
#include "sound/sound_device.h"

namespace wz {

Library::Library() {
  // Engine part first: the switches, then the loader thread. The log has no sink yet, so the
  // switches' lines go nowhere, as before any program code runs.
  mainThread_ = platform::GetCurrentThreadId();
  host_ = MakeLibraryModelHost(*this);
  CPU_PossessionSet(false);
  V_SyncSet(true);
  loader_.Start([this](const LoadRequest& request) { ProcessLoadRequest(request); },
                [this](const char* line) { Log("%s", line); });

  // Then the context defaults (the member initialisers) and the working fields copied from them.
  textureIdMap_.fill(-1);
  creationWidth_ = defaultWidth_;
  creationHeight_ = defaultHeight_;
  vertexCapacity_ = 4 * options_.polygonCapacity;
}

Library::~Library() {
  EngineTeardown();
}

void Library::EngineTeardown() {
  loader_.Stop();
  workerSlots_.Stop([this](const char* line) { Log("%s", line); });
  SoundDevice_Delete();
  // The device objects go before the device; nobody watches the steps at teardown.
  deviceStepHook_ = nullptr;
  CleanupDevice();
  // The menu a full-screen window gave up is the library's to free.
  if (savedMenu_) platform::DestroyMenu(savedMenu_);
  savedMenu_ = nullptr;
  d3d_.reset();
  scratchTransforms_.clear();
  scratchIndices_.clear();
  scratchVertices_.clear();
  statsFont_.reset();
}

void Library::Pause(bool pause) {
  pauseCount_ += pause ? 1 : -1;
  active_ = pauseCount_ == 0;
  if (pause && pauseCount_ == 1 && frameMoving_) FrameTimer(2);
  if (pauseCount_ == 0 && frameMoving_) FrameTimer(1);
}

void Library::SetCounterForTesting(std::function<bool(int64_t&)> counter, int64_t frequency) {
  counterForTesting_ = std::move(counter);
  timerInitialised_ = true;
  hasCounter_ = true;
  counterFrequency_ = frequency;
  if (!counterForTesting_) timerInitialised_ = false;
}

bool Library::ReadCounter(int64_t& t) {
  if (counterForTesting_) return counterForTesting_(t);
  return platform::QueryPerformanceCounter(t);
}

float Library::FrameTimer(int command) {
  if (!timerInitialised_) {
    timerInitialised_ = true;
    int64_t frequency = 0;
    hasCounter_ = platform::QueryPerformanceFrequency(frequency) && frequency > 0;
    counterFrequency_ = hasCounter_ ? frequency : 1000;
  }
  if (command < 0 || command > 6) return -1.0f;

  // Ticks: counter ticks, or milliseconds of timeGetTime without a counter.
  int64_t t = 0;
  if (stopTime_ != 0 && command != 1 && command != 4) {
    t = stopTime_;
  } else if (!hasCounter_ || !ReadCounter(t)) {
    t = platform::timeGetTime();
  }
  const double frequency = static_cast<double>(counterFrequency_);

  switch (command) {
    case 0:  // reset
      baseTime_ = t;
      lastElapsedTime_ = t;
      stopTime_ = 0;
      timerStopped_ = false;
      return 0.0f;
    case 1:  // start
      if (timerStopped_) baseTime_ += t - stopTime_;
      stopTime_ = 0;
      lastElapsedTime_ = t;
      timerStopped_ = false;
      return 0.0f;
    case 2:  // stop
      if (!timerStopped_) {
        stopTime_ = t;
        lastElapsedTime_ = t;
        timerStopped_ = true;
      }
      return 0.0f;
    case 3:  // advance by a tenth of a second
      stopTime_ += counterFrequency_ / 10;
      return 0.0f;
    case 4:  // absolute time
      return static_cast<float>(static_cast<double>(t) / frequency);
    case 5:  // application time
      return static_cast<float>(static_cast<double>(t - baseTime_) / frequency);
    case 6: {  // elapsed time since the previous call
      double elapsed = static_cast<double>(t - lastElapsedTime_) / frequency;
      lastElapsedTime_ = t;
      return static_cast<float>(elapsed);
    }
  }
  return -1.0f;
}

void Library::ResetFrameClock() {
  frameClockStamp_ = static_cast<double>(platform::timeGetTime());
  frameTimeAccumulator_ = 0.0;
}

void Library::V_SyncSet(bool wait) {
  if (device_ && windowed_) {
    presentParams_.PresentationInterval =
        wait ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
    CurrentSettingsMutable().presentInterval = presentParams_.PresentationInterval;
    ResetDevice();
  }
  vsync_ = wait;
  Log("%s", wait ? WZ_TEXT("垂直同期を待つ WZ.V_SyncSet()")
                 : WZ_TEXT("垂直同期を待たない WZ.V_SyncSet()"));
  ResetFrameClock();
}

void Library::CPU_PossessionSet(bool possess) {
  cpuPossession_ = possess;
  Log("%s", possess ? WZ_TEXT("CPU占有する WZ.CPU_PossessionSet()")
                    : WZ_TEXT("CPU占有しない WZ.CPU_PossessionSet()"));
}

void Library::AntialiasSet(bool on) {
  bool effective = on && antialiasSupported_;
  if (windowed_) {
    antialias_ = effective;
    DeviceSettings& settings = CurrentSettingsMutable();
    if (effective) {
      presentParams_.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
      settings.multisampleType = D3DMULTISAMPLE_4_SAMPLES;
    } else {
      presentParams_.MultiSampleType = D3DMULTISAMPLE_NONE;
      presentParams_.MultiSampleQuality = 0;
      settings.multisampleType = D3DMULTISAMPLE_NONE;
      settings.multisampleQuality = 0;
    }
    ResetDevice();
  } else {
    antialias_ = false;
  }
  Log("%s", antialias_ ? WZ_TEXT("アンチエイリアス ON") : WZ_TEXT("アンチエイリアス OFF"));
}

int Library::WindowSizeFromBackBuffer() {
  if (!device_) return 0;
  d3d::BackBufferDesc desc;
  if (Failed(device_->GetBackBufferDesc(0, &desc))) return 0;
  windowWidth_ = static_cast<int>(desc.Width);
  windowHeight_ = static_cast<int>(desc.Height);
  Log(WZ_TEXT("WindowSize %d×%d"), windowWidth_, windowHeight_);
  return 0;
}

}  // namespace wz
