// Headless message boxes answered by a script.
#include "platform/dialogs.h"

#include <cstdio>
#include <deque>
#include <mutex>

#include "platform/text.h"

namespace wz::platform {
namespace {

struct Script {
  std::mutex mutex;
  std::deque<int> answers;
  std::vector<ShownMessageBox> shown;
  std::deque<script::DialogAnswer> dialogAnswers;
  std::vector<ShownDialog> shownDialogs;
  bool echo = true;
  MessageBoxPresenter presenter;
};

Script& TheScript() {
  static Script* s = new Script;  // lives until the process ends
  return *s;
}

int DefaultAnswer(UINT type) {
  int button = (type & MB_DEFBUTTON3) ? 2 : (type & MB_DEFBUTTON2) ? 1 : 0;
  switch (type & 0xF) {
    case MB_OKCANCEL:
      return button == 0 ? IDOK : IDCANCEL;
    case MB_YESNO:
      return button == 0 ? IDYES : IDNO;
    case MB_YESNOCANCEL:
      return button == 0 ? IDYES : button == 1 ? IDNO : IDCANCEL;
    default:
      return IDOK;
  }
}

const char* IconWord(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONERROR:
      return "error";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONWARNING:
      return "warning";
    case MB_ICONINFORMATION:
      return "information";
    default:
      return "message";
  }
}

// A box is modal: the messages already waiting for this thread are dispatched while it is open.
void DispatchWaitingMessages() {
  MSG msg;
  for (size_t pending = PendingMessageCount(); pending > 0; --pending) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // a box leaves WM_QUIT for the caller
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void ApplyDialogChange(const DialogTemplate& dialog, DialogValues& values, UINT id, int value) {
  for (const DialogControl& c : dialog.controls) {
    if (c.id != id) continue;
    switch (c.kind) {
      case DialogControlKind::Radio:
        if (value != 0) {
          for (const DialogControl& other : dialog.controls) {
            if (other.kind == DialogControlKind::Radio && other.group == c.group) {
              values.values[other.id] = 0;
            }
          }
        }
        values.values[id] = value != 0 ? 1 : 0;
        break;
      case DialogControlKind::Check:
        values.values[id] = value != 0 ? 1 : 0;
        break;
      case DialogControlKind::Combo: {
        auto items = values.items.find(id);
        size_t count = items == values.items.end() ? 0 : items->second.size();
        if (value >= 0 && static_cast<size_t>(value) < count) values.values[id] = value;
        break;
      }
      default:
        break;
    }
    return;
  }
}

}  // namespace

int DialogBoxIndirectA(HWND owner, const DialogTemplate& dialog, DialogValues& values) {
  DispatchWaitingMessages();
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  ShownDialog shown{owner, dialog.resourceId, dialog.title, values, IDCANCEL};
  if (!s.dialogAnswers.empty()) {
    script::DialogAnswer answer = std::move(s.dialogAnswers.front());
    s.dialogAnswers.pop_front();
    for (const auto& [id, value] : answer.changes)
      ApplyDialogChange(dialog, values, id, value);
    shown.answer = answer.button;
  }
  s.shownDialogs.push_back(std::move(shown));
  return s.shownDialogs.back().answer;
}

int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  DispatchWaitingMessages();

  Script& s = TheScript();
  int answer = DefaultAnswer(type);
  bool echo;
  bool scripted = false;
  MessageBoxPresenter presenter;
  {
    std::lock_guard lock(s.mutex);
    if (!s.answers.empty()) {
      answer = s.answers.front();
      s.answers.pop_front();
      scripted = true;
    }
    presenter = s.presenter;
  }
  // A box on the display waits for the user; the script's answers come first.
  if (!scripted && presenter && !presenter(owner, text, caption, type, answer)) {
    answer = DefaultAnswer(type);
  }
  {
    std::lock_guard lock(s.mutex);
    s.shown.push_back(ShownMessageBox{owner, text, caption, type, answer});
    echo = s.echo;
  }
  if (echo) {
    // Appended piece by piece: GCC 12 warns falsely on a chain of string concatenations.
    std::string out;
    out.append("[").append(Cp932ToUtf8(caption)).append("] ").append(IconWord(type));
    out.append(": ").append(Cp932ToUtf8(text)).append("\n");
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
  }
  return answer;
}

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  s.presenter = std::move(presenter);
}

namespace script {

void PushMessageBoxAnswer(int answer) {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  s.answers.push_back(answer);
}

std::vector<ShownMessageBox> TakeShownMessageBoxes() {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  std::vector<ShownMessageBox> out;
  out.swap(s.shown);
  return out;
}

void SetMessageBoxEcho(bool on) {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  s.echo = on;
}

void PushDialogAnswer(DialogAnswer answer) {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  s.dialogAnswers.push_back(std::move(answer));
}

std::vector<ShownDialog> TakeShownDialogs() {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  std::vector<ShownDialog> out;
  out.swap(s.shownDialogs);
  return out;
}

void Reset() {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  s.answers.clear();
  s.shown.clear();
  s.dialogAnswers.clear();
  s.shownDialogs.clear();
}

}  // namespace script
}  // namespace wz::platform
