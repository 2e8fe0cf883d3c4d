// Common file dialogs, dropped files and the shell's "open this address", headless. A file
// dialog records what it showed and answers from the script: the next open or save dialog
// returns the path pushed for it, or is cancelled when nothing was pushed. A drop is a heap record
// holding library paths; its handle travels as the wparam of WM_DROPFILES.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/window.h"

namespace wz::platform {

constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;

// The dialog record. `filter` holds (description, pattern) pairs, the Win32 list of
// NUL-separated strings in structured form. `file` is the initial file on entry and the chosen
// full path on return; `fileTitle` the chosen name without directory. Texts are code page 932.
struct OPENFILENAMEA {
  HWND owner = nullptr;
  std::vector<std::pair<std::string, std::string>> filter;
  DWORD filterIndex = 1;
  std::string file;
  DWORD maxFile = 256;
  std::string fileTitle;
  DWORD maxFileTitle = 256;
  std::string initialDir;
  std::string title;
  DWORD flags = 0;
  std::string defExt;
};

// True when a file was chosen. Unless OFN_NOCHANGEDIR is set the current directory becomes the
// chosen file's directory, as the real dialogs leave it. A chosen path that does not fit in
// maxFile bytes (with its NUL) fails the dialog.
bool GetOpenFileNameA(OPENFILENAMEA* ofn);
bool GetSaveFileNameA(OPENFILENAMEA* ofn);

// A window system with file dialogs on the display installs a presenter: it shows a dialog the
// script does not answer and gives the chosen library path (false: cancelled). Null removes it.
using FileDialogPresenter =
    std::function<bool(const OPENFILENAMEA& ofn, bool save, std::string& chosen)>;
void SetFileDialogPresenter(FileDialogPresenter presenter);

// What a file dialog showed.
struct ShownFileDialog {
  bool save;
  std::string title;
  std::vector<std::pair<std::string, std::string>> filter;
  std::string initialDir;
  std::string initialFile;
  DWORD flags;
  std::string defExt;
};

// Dropped files.
struct DropRecord {
  std::vector<std::string> paths;  // library paths
};
using HDROP = DropRecord*;
// A new drop holding `paths`; freed by DragFinish.
HDROP MakeDrop(std::vector<std::string> paths);
// With index 0xFFFFFFFF: the number of files. Otherwise copies file `index` into `buffer` (at
// most size - 1 bytes and a NUL) and returns the bytes copied; with a null buffer returns the
// length needed. 0 for a bad index.
UINT DragQueryFileA(HDROP drop, UINT index, char* buffer, UINT size);
void DragFinish(HDROP drop);

constexpr int SW_SHOWMINIMIZED = 2;
// Opens `file` (an address): with a display (DISPLAY or WAYLAND_DISPLAY set) through xdg-open,
// otherwise by printing it on standard output. Returns a value above 32 on success.
intptr_t ShellExecuteA(HWND hwnd, const char* verb, const char* file, const char* parameters,
                       const char* directory, int show);

namespace script {
// The next open (save) dialog returns this library path; answers are used in order.
void PushOpenDialogAnswer(const std::string& path);
void PushSaveDialogAnswer(const std::string& path);
// Every file dialog shown since the last call, oldest first; clears the record.
std::vector<ShownFileDialog> TakeShownFileDialogs();
// Every address ShellExecuteA was asked to open since the last call; clears the record.
std::vector<std::string> TakeShellExecutes();
// When on, ShellExecuteA only records the address (tests).
void SetShellExecuteRecordOnly(bool on);
// Clears queued dialog answers and the records of this header.
void ResetShell();
}  // namespace script

}  // namespace wz::platform
