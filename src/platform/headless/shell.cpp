// Headless file dialogs, drops and shell execution.
#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/system.h"
#include "platform/text.h"

extern char** environ;

namespace wz::platform {
namespace {

struct ShellScript {
  std::mutex mutex;
  std::deque<std::string> openAnswers;
  std::deque<std::string> saveAnswers;
  std::vector<ShownFileDialog> shown;
  std::vector<std::string> executed;
  bool recordOnly = false;
  FileDialogPresenter presenter;
};

ShellScript& TheShellScript() {
  static ShellScript* s = new ShellScript;  // lives until the process ends
  return *s;
}

bool RunFileDialog(OPENFILENAMEA* ofn, bool save) {
  if (!ofn) return false;
  ShellScript& s = TheShellScript();
  std::string answer;
  FileDialogPresenter presenter;
  bool scripted = false;
  {
    std::lock_guard lock(s.mutex);
    s.shown.push_back(ShownFileDialog{save, ofn->title, ofn->filter, ofn->initialDir, ofn->file,
                                      ofn->flags, ofn->defExt});
    std::deque<std::string>& answers = save ? s.saveAnswers : s.openAnswers;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
      scripted = true;
    } else if (!s.presenter) {
      return false;  // cancelled
    }
    presenter = s.presenter;
  }
  // A dialog on the display waits for the user; the script's answers come first.
  if (!scripted && !presenter(*ofn, save, answer)) return false;
  if (answer.empty() || answer.size() + 1 > ofn->maxFile) return false;
  size_t slash = Cp932FindLast(answer, '\\');
  std::string title = slash == std::string::npos ? answer : answer.substr(slash + 1);
  if (title.size() + 1 > ofn->maxFileTitle) return false;
  ofn->file = answer;
  ofn->fileTitle = title;
  if (!(ofn->flags & OFN_NOCHANGEDIR) && slash != std::string::npos) {
    SetCurrentDirectoryA(slash == 0 ? std::string("\\") : answer.substr(0, slash));
  }
  return true;
}

}  // namespace

bool GetOpenFileNameA(OPENFILENAMEA* ofn) {
  return RunFileDialog(ofn, false);
}

bool GetSaveFileNameA(OPENFILENAMEA* ofn) {
  return RunFileDialog(ofn, true);
}

void SetFileDialogPresenter(FileDialogPresenter presenter) {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  s.presenter = std::move(presenter);
}

HDROP MakeDrop(std::vector<std::string> paths) {
  return new DropRecord{std::move(paths)};
}

UINT DragQueryFileA(HDROP drop, UINT index, char* buffer, UINT size) {
  if (!drop) return 0;
  if (index == 0xFFFFFFFFu) return static_cast<UINT>(drop->paths.size());
  if (index >= drop->paths.size()) return 0;
  const std::string& path = drop->paths[index];
  if (!buffer) return static_cast<UINT>(path.size());
  if (size == 0) return 0;
  size_t n = Cp932SafePrefix(path, size - 1);
  std::memcpy(buffer, path.data(), n);
  buffer[n] = '\0';
  return static_cast<UINT>(n);
}

void DragFinish(HDROP drop) {
  delete drop;
}

intptr_t ShellExecuteA(HWND, const char*, const char* file, const char*, const char*, int) {
  if (!file || !*file) return 2;  // ERROR_FILE_NOT_FOUND
  ShellScript& s = TheShellScript();
  bool recordOnly;
  {
    std::lock_guard lock(s.mutex);
    s.executed.emplace_back(file);
    recordOnly = s.recordOnly;
  }
  if (recordOnly) return 42;
  std::string address = Cp932ToUtf8(file);
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display && *display) || (wayland && *wayland)) {
    char* argv[] = {const_cast<char*>("xdg-open"), address.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return 2;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 42 : 2;
  }
  std::printf("%s\n", address.c_str());
  std::fflush(stdout);
  return 42;
}

namespace script {

void PushOpenDialogAnswer(const std::string& path) {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  s.openAnswers.push_back(path);
}

void PushSaveDialogAnswer(const std::string& path) {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  s.saveAnswers.push_back(path);
}

std::vector<ShownFileDialog> TakeShownFileDialogs() {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  std::vector<ShownFileDialog> out;
  out.swap(s.shown);
  return out;
}

std::vector<std::string> TakeShellExecutes() {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  std::vector<std::string> out;
  out.swap(s.executed);
  return out;
}

void SetShellExecuteRecordOnly(bool on) {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  s.recordOnly = on;
}

void ResetShell() {
  ShellScript& s = TheShellScript();
  std::lock_guard lock(s.mutex);
  s.openAnswers.clear();
  s.saveAnswers.clear();
  s.shown.clear();
  s.executed.clear();
}

}  // namespace script
}  // namespace wz::platform
