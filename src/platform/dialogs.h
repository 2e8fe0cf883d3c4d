// Message boxes and the answer script. Headless: a box writes its caption and text to standard
// error as UTF-8 and answers from the script, or with its default button when the script is
// empty. While a box is "open" it dispatches the messages already waiting for the calling thread,
// as the modal loop of a real box would.
#pragma once

#include <string>
#include <vector>

#include "platform/window.h"

namespace wz::platform {

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// `text` and `caption` are code-page-932 strings.
int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type);

// What a box showed, for tests and for the command-line front end.
struct ShownMessageBox {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  int answer;
};

namespace script {
// The next message box answers `answer` (IDYES, IDNO, ...). Answers are used in order.
void PushMessageBoxAnswer(int answer);
// Every box shown since the last call, oldest first; clears the record.
std::vector<ShownMessageBox> TakeShownMessageBoxes();
// Whether boxes are echoed to standard error (on by default).
void SetMessageBoxEcho(bool on);
// Clears queued answers and the record.
void Reset();
}  // namespace script

}  // namespace wz::platform
