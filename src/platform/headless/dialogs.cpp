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
  bool echo = true;
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

}  // namespace

int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  // The box is modal: messages already waiting for this thread are dispatched while it is open.
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

  Script& s = TheScript();
  int answer;
  bool echo;
  {
    std::lock_guard lock(s.mutex);
    if (!s.answers.empty()) {
      answer = s.answers.front();
      s.answers.pop_front();
    } else {
      answer = DefaultAnswer(type);
    }
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

void Reset() {
  Script& s = TheScript();
  std::lock_guard lock(s.mutex);
  s.answers.clear();
  s.shown.clear();
}

}  // namespace script
}  // namespace wz::platform
