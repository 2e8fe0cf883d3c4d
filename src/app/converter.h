// The converter front end: the application's handler of main-window messages. File commands load
// a model of any of seven formats into model slot 0 and save it in one of four; files dropped on
// the window are converted in a batch; Z, Escape and F2 act on key release; the window placement
// is recorded on every message and written with the other settings when the window is destroyed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/convert_job.h"
#include "app/preview.h"
#include "core/library.h"

namespace wz {

// Path cuts over library paths (code page 932): each search steps over two-byte characters, whose
// second byte may be 0x5C, and the results are whole however long the path is.
// The path cut at its last "."; empty when there is no "." or the only one is the first byte.
std::string StripExtension(const std::string& path);
// The path cut at its last backslash; empty when there is none.
std::string DirectoryOf(const std::string& path);
// The text after the last "."; empty when there is no "." or it is the first byte.
std::string ExtensionOf(const std::string& path);

// Batch targets: the format dropped files are converted into. The window offers the first four;
// glTF, GLB and OBJ are chosen from the command line.
enum BatchTarget : int16_t {
  kTargetWzp = 0,
  kTargetLwo = 1,
  kTargetMx = 2,
  kTargetX = 3,
  kTargetGltf = 4,
  kTargetGlb = 5,
  kTargetObj = 6,
};
inline constexpr int kTargetCount = 7;

// One save format: its dialog extension, new-file name, name pattern and batch pattern.
struct SaveFormat {
  const char* extension;
  const char* newName;      // code page 932
  const char* namePattern;  // for the save dialog's proposal
  const char* batchPattern;
};
// The save format of a batch target (0 to kTargetCount - 1); null for other values.
const SaveFormat* SaveFormatOf(int target);

// The front end's own state; the main thread owns it.
struct ConverterState {
  Model* currentModel = nullptr;
  int32_t left = 0, top = 0, width = 0, height = 0;  // main window placement
  int16_t batchTarget = kTargetWzp;
  std::string lastDirectory;  // initial directory of the file dialogs
  bool zHeld = false;
  // Preview interaction: mouse capture and the zoom of the axis marker.
  bool captured = false;
  float zoom = 0.0f;
  bool lighting = true;    // the model drawing's light switch, 1 after start-up
  bool gridShown = false;  // the fourth view switch of the settings file
  AxisMarker marker;
  // Where batch conversion writes (a library path); empty: beside each dropped file.
  std::string outputDirectory;
};

// The outcome of one dropped file: that of a conversion job (see convert_job.h). A file is
// skipped when its output would replace one of the dropped files, a file the conversion has read,
// or one whose name differs only by case; only a WZP converted to WZP replaces itself, which
// upgrades it in place.
using DropOutcome = ConvertOutcome;

class Converter {
 public:
  explicit Converter(Library& library) : library_(library) {}
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Installs HandleMessage as the application's window handler of `library`, and the preview's
  // scene and overlay hooks.
  void Install();
  // The handler; its result is ignored and every message goes on to the library's handler.
  LRESULT HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  ConverterState& State() { return state_; }
  const ConverterState& State() const { return state_; }

  // Load: releases slot 0 and loads `name` (resolved against the current directory) in the
  // background; the current model becomes the result, shown by display object 0 framed to fit
  // the window. Nothing for an empty name.
  void Load(const std::string& name);
  // Save as a batch target's format through the save dialog.
  void Save(int target);
  // Writes model `model` as target `target` to `path`; false when the writer failed or is absent.
  bool Write(int target, Model* model, const std::string& path);

  // Called before each dropped file is loaded (index, count, path) and after it is handled.
  std::function<void(size_t, size_t, const std::string&)> onDropStart;
  std::function<void(const DropOutcome&)> onDropDone;

 private:
  void OnCommand(WPARAM command);
  void OnDropFiles(WPARAM drop);
  std::string OpenFileDialog(HWND owner, const std::string& extension, const char* title);
  std::string OpenAnyFileDialog(HWND owner, const char* title);
  std::string SaveFileDialog(HWND owner, const std::string& extension,
                             const std::string& initialFile);

  Library& library_;
  ConverterState state_;
};

// ---- Settings file ----

constexpr int32_t kSettingsStamp = 2003041;
constexpr const char* kSettingsFileName = "WZP_Cnv_2008.dat";

// The 88 bytes of the settings file for the state and antialias flag.
std::array<uint8_t, 88> EncodeConverterSettings(const ConverterState& state, bool antialias);
// Changes the current directory to `dataDir` (kept) and writes the settings file there; false
// when it could not be written (nothing is reported).
bool WriteConverterSettings(const std::string& dataDir, const ConverterState& state,
                            bool antialias);

}  // namespace wz
