// The converter front end's message handler, commands, dialogs and batch conversion.
#include "app/converter.h"

#include <strings.h>

#include <cstdio>
#include <utility>

#include "app/render_command.h"
#include "formats/formats.h"
#include "formats/targets.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/converter_resources.h"

namespace wz {

using namespace platform;
using namespace resources;

namespace {

constexpr UINT kVkEscape = 0x1B;
constexpr UINT kVkZ = 0x5A;
constexpr UINT kVkF2 = 0x71;
// A minimised window lies further left than this.
constexpr int32_t kMinimisedLeft = -3200;
// Fills a pattern with one "%s" (the patterns are the fixed ones of SaveFormatOf). The result is
// whole: a name cut to a fixed buffer would write another file.
std::string Fill(const char* pattern, const std::string& base) {
  std::string out = pattern;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, base);
  return out;
}

// The part of a library path after its last backslash.
std::string FileNameOf(const std::string& path) {
  const size_t slash = Cp932FindLast(path, '\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const std::vector<std::pair<std::string, std::string>>& AllFormatsFilter() {
  static const auto* filter = new std::vector<std::pair<std::string, std::string>>{
      {"WZP ( DA Dizizu )", "*.WZP"},
      {"\t\tDXF", "*.DXF"},
      {"\t\tLWO ( LightWave 5.6 )", "*.LWO"},
      {WZ_TEXT("\t\tMQO ( メタセコイア 2.2.3 )"), "*.MQO"},
      {WZ_TEXT("\t\tMX\u3000 ( HSP 2.55 )"), "*.MX"},
      {WZ_TEXT("\t\tROK ( 六角大王 5.25 )"), "*.ROK"},
      {WZ_TEXT("\t\tX\u3000\u3000 ( DirectX )"), "*.X"},
      {WZ_TEXT("\t\tすべてのファイル"), "*.*"},
  };
  return *filter;
}

struct LoadCommand {
  uint32_t id;
  const char* extension;  // null: the all-formats dialog
  const char* title;      // UTF-8
};

const LoadCommand kLoadCommands[] = {
    {kCmdLoadAny, nullptr, "読み込むファイルを選択して下さい"},
    {kCmdLoadWzp, "WZP", "読み込む WZP ファイルを選択して下さい"},
    {kCmdLoadDxf, "DXF", "読み込む DXF ファイルを選択して下さい"},
    {kCmdLoadLwo, "LWO", "読み込む LWO ファイルを選択して下さい"},
    {kCmdLoadMqo, "MQO", "読み込む MQO ファイルを選択して下さい"},
    {kCmdLoadMx, "MX", "読み込む MX ファイルを選択して下さい"},
    {kCmdLoadRok, "ROK", "読み込む ROK ファイルを選択して下さい"},
    {kCmdLoadX, "X", "読み込む X ファイルを選択して下さい"},
};

struct SaveCommand {
  uint32_t id;
  int target;
};
const SaveCommand kSaveCommands[] = {
    {kCmdSaveWzp, kTargetWzp},
    {kCmdSaveLwo, kTargetLwo},
    {kCmdSaveMx, kTargetMx},
    {kCmdSaveX, kTargetX},
};

}  // namespace

std::string StripExtension(const std::string& path) {
  const size_t dot = Cp932FindLast(path, '.');
  if (dot == std::string::npos || dot == 0) return {};
  return path.substr(0, dot);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = Cp932FindLast(path, '\\');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash);
}

std::string ExtensionOf(const std::string& path) {
  const size_t dot = Cp932FindLast(path, '.');
  if (dot == std::string::npos || dot == 0) return {};
  return path.substr(dot + 1);
}

const SaveFormat* SaveFormatOf(int target) {
  static const SaveFormat* formats = [] {
    static SaveFormat f[kTargetCount] = {
        {"WZP", WZ_TEXT("新規.WZP"), "%s.WZP", "%s.WZP"},
        {"LWO", WZ_TEXT("新規.lwo"), "%s.lwo", "%s.LWO"},
        {"MX", WZ_TEXT("新規.mx"), "%s.mx", "%s.MX"},
        {"X", WZ_TEXT("新規.x"), "%s.x", "%s.X"},
        {"GLTF", WZ_TEXT("新規.gltf"), "%s.gltf", "%s.gltf"},
        {"GLB", WZ_TEXT("新規.glb"), "%s.glb", "%s.glb"},
        {"OBJ", WZ_TEXT("新規.obj"), "%s.obj", "%s.obj"},
    };
    return f;
  }();
  if (target < 0 || target >= kTargetCount) return nullptr;
  return &formats[target];
}

void Converter::Install() {
  // The library starts with the screen faded to black; the converter shows its window.
  library_.Rendering().fadeLevel = 1.0f;
  library_.SetApplicationHandler([this](HWND hwnd, UINT msg, WPARAM w, LPARAM l, bool& handled) {
    handled = false;  // the library's handler always runs next
    return HandleMessage(hwnd, msg, w, l);
  });
  library_.Scene3DHookSet([this] { PreviewScene(library_, state_); });
  library_.SetOverlayHook([this] { PreviewOverlay(library_); });
}

LRESULT Converter::HandleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  RECT rc;
  if (HWND main = library_.MainWindow() ? library_.MainWindow() : hwnd;
      GetWindowRect(main, &rc) && rc.left > kMinimisedLeft) {
    state_.left = rc.left;
    state_.top = rc.top;
    state_.width = rc.right - rc.left;
    state_.height = rc.bottom - rc.top;
  }
  switch (msg) {
    case WM_DESTROY:
      WriteConverterSettings(library_.DataDir(), state_, library_.Antialias());
      break;
    case WM_KEYDOWN:
      if (wParam == kVkZ) state_.zHeld = true;
      break;
    case WM_KEYUP:
      if (wParam == kVkEscape) {
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
      } else if (wParam == kVkZ) {
        state_.zHeld = false;
      } else if (wParam == kVkF2) {
        library_.AntialiasSet(!library_.Antialias());
      }
      break;
    case WM_COMMAND:
      OnCommand(wParam);
      break;
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
      SetCapture(hwnd);
      state_.captured = true;
      break;
    case WM_LBUTTONUP:
      ReleaseCapture();
      state_.captured = false;
      state_.currentModel = library_.Model3_Get(0);
      break;
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      ReleaseCapture();
      state_.captured = false;
      break;
    case WM_MOUSEWHEEL: {
      auto delta = static_cast<int16_t>((wParam >> 16) & 0xFFFF);
      state_.zoom *= delta >= 0 ? 0.8f : 1.2f;
      break;
    }
    case WM_DROPFILES:
      OnDropFiles(wParam);
      break;
    default:
      break;
  }
  return 0;
}

void Converter::OnCommand(WPARAM command) {
  HWND owner = library_.MainWindow();
  for (const LoadCommand& c : kLoadCommands) {
    if (command != c.id) continue;
    std::string title = Utf8ToCp932(c.title);
    Load(c.extension ? OpenFileDialog(owner, c.extension, title.c_str())
                     : OpenAnyFileDialog(owner, title.c_str()));
    library_.ResetFrameClock();
    return;
  }
  for (const SaveCommand& c : kSaveCommands) {
    if (command != c.id) continue;
    Save(c.target);
    return;
  }
  if (command == kCmdExit) {
    if (MessageBoxA(owner, WZ_TEXT("終了してもいいですか？"), library_.WindowTitle(), MB_YESNO) ==
        IDYES) {
      SendMessageA(owner, WM_CLOSE, 0, 0);
    }
    library_.ResetFrameClock();
  } else if (command == kCmdHomePage) {
    ShellExecuteA(nullptr, nullptr, library_.HomePage().c_str(), nullptr, nullptr,
                  SW_SHOWMINIMIZED);
  }
}

void Converter::Load(const std::string& name) {
  if (name.empty()) return;
  library_.Model3_Release(0);
  library_.SetPreallocateNext(true);
  const ModelId id = library_.Model3_LoadInBackground(name);
  state_.currentModel = library_.Model3_Get(id);
  if (state_.currentModel && library_.Model3_IsLoaded(id)) {
    FixedView view;  // 1280 x 720 until the window has a size
    if (library_.WindowWidth() > 0 && library_.WindowHeight() > 0) {
      view.width = library_.WindowWidth();
      view.height = library_.WindowHeight();
    }
    ShowInFixedView(library_, id, view);
  }
  library_.ResetFrameClock();
}

bool Converter::Write(int target, Model* model, const std::string& path) {
  const TargetFormat* format = TargetFormatOf(target);
  return model && format && format->write(library_.Host(), *model, path) == 1;
}

void Converter::Save(int target) {
  const SaveFormat* format = SaveFormatOf(target);
  if (!format || !state_.currentModel) return;
  state_.currentModel = library_.Model3_Get(0);
  std::string proposal = format->newName;
  if (state_.currentModel) {
    // The model's file name is the path it was loaded from; the dialog proposes the name alone.
    proposal = Fill(format->namePattern,
                    StripExtension(FileNameOf(std::string(state_.currentModel->fileName.View()))));
  }
  std::string chosen = SaveFileDialog(library_.MainWindow(), format->extension, proposal);
  if (!chosen.empty()) Write(target, state_.currentModel, chosen);
  library_.ResetFrameClock();
}

void Converter::OnDropFiles(WPARAM wParam) {
  auto drop = reinterpret_cast<HDROP>(wParam);
  const UINT n = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
  // Every path whole (its length asked first); the drop is one run of conversion jobs, so that
  // no output replaces a dropped file, a file the run has read, or another output of the drop.
  std::vector<ConvertJob> jobs(n);
  for (UINT k = 0; k < n; ++k) {
    std::string& path = jobs[k].input;
    path.resize(DragQueryFileA(drop, k, nullptr, 0));
    DragQueryFileA(drop, k, path.data(), UINT(path.size() + 1));
    jobs[k].outputDir = state_.outputDirectory;
  }
  ConvertSettings settings;
  settings.target = state_.batchTarget;
  settings.dataDir = library_.DataDir();
  settings.toonLoaded = library_.System().toonLoaded;
  settings.capacities = ModelCapacities::ForPolygonCapacity(library_.PolygonCapacity());
  ConvertRun run(std::move(settings), std::move(jobs));
  ModelHost& host = library_.Host();
  auto watched = std::exchange(host.namedFiles.onRead,
                               [&run](const std::string& path) { run.NoteRead(path); });
  for (UINT k = 0; k < n; ++k) {
    const std::string& path = run.Job(k).input;
    if (onDropStart) onDropStart(k, n, path);
    std::string dir = DirectoryOf(path);
    std::string name = path.size() > dir.size() ? path.substr(dir.size() + 1) : std::string();
    // A path at the root ("\a.lwo") has an empty directory part: the root is meant.
    SetCurrentDirectoryA(dir.empty() && !path.empty() && path[0] == '\\' ? "\\" : dir);
    Load(name);
    DropOutcome outcome;
    if (!state_.currentModel) {
      outcome.kind = DropOutcome::kNoModel;
    } else if (state_.currentModel->polygonCount <= 0) {
      // A file the reader refused leaves an empty model; writing it would replace an earlier
      // conversion (or, for a WZP dropped with target WZP, the file itself) with nothing.
      outcome.kind = DropOutcome::kNoGeometry;
    } else {
      outcome = SaveConverted(run, k, host, *state_.currentModel);
    }
    outcome.path = path;
    if (onDropDone) onDropDone(outcome);
  }
  host.namedFiles.onRead = std::move(watched);
  DragFinish(drop);
  library_.ResetFrameClock();
}

std::string Converter::OpenFileDialog(HWND owner, const std::string& extension, const char* title) {
  if (state_.lastDirectory.empty()) state_.lastDirectory = library_.DataDir();
  OPENFILENAMEA ofn;
  ofn.owner = owner;
  ofn.filter = {{extension + " Files (*." + extension + ")", "*." + extension}};
  ofn.filterIndex = 1;
  ofn.initialDir = state_.lastDirectory;
  ofn.title = title;
  ofn.flags = OFN_HIDEREADONLY;
  ofn.defExt = extension;
  if (!GetOpenFileNameA(&ofn)) return {};
  state_.lastDirectory = GetCurrentDirectoryA();
  return ofn.fileTitle;
}

std::string Converter::OpenAnyFileDialog(HWND owner, const char* title) {
  if (state_.lastDirectory.empty()) state_.lastDirectory = library_.DataDir();
  OPENFILENAMEA ofn;
  ofn.owner = owner;
  ofn.filter = AllFormatsFilter();
  ofn.filterIndex = 1;
  ofn.initialDir = state_.lastDirectory;
  ofn.title = title;
  ofn.flags = OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&ofn)) return {};
  state_.lastDirectory = GetCurrentDirectoryA();
  return ofn.fileTitle;
}

std::string Converter::SaveFileDialog(HWND owner, const std::string& extension,
                                      const std::string& initialFile) {
  OPENFILENAMEA ofn;
  ofn.owner = owner;
  ofn.filter = {{extension + " Files (*." + extension + ")", "*." + extension}};
  ofn.filterIndex = 1;
  ofn.file = initialFile;
  ofn.initialDir = state_.lastDirectory;
  ofn.title = WZ_TEXT("名前を付けてファイルに保存");
  ofn.flags = OFN_OVERWRITEPROMPT;
  ofn.defExt = extension;
  if (!GetSaveFileNameA(&ofn)) return {};
  return ofn.fileTitle;
}

}  // namespace wz
