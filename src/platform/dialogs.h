// Message boxes, dialog boxes and the answer script. Headless: a message box writes its caption
// and text to standard error as UTF-8 and answers from the script, or with its default button
// when the script is empty. While a box is "open" it dispatches the messages already waiting for
// the calling thread, as the modal loop of a real box would.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
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

// A window system that shows boxes on a display installs a presenter: it shows a box the script
// does not answer and gives the button chosen (false: not shown, the default button answers).
// Texts are code page 932. Null removes it.
using MessageBoxPresenter = std::function<bool(HWND owner, const std::string& text,
                                               const std::string& caption, UINT type, int& answer)>;
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

// What a box showed, for tests and for the command-line front end.
struct ShownMessageBox {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  int answer;
};

// Modal dialog boxes made from a resource table. Headless: a dialog records what it showed and
// answers from the script, applying the scripted control changes and ending with the scripted
// button; with nothing scripted it is cancelled. Like a message box, it dispatches the messages
// already waiting for the calling thread while it is open.
enum class DialogControlKind { Group, Radio, Check, Combo, Button };
struct DialogControl {
  UINT id;
  DialogControlKind kind;
  std::string label;  // code page 932
  int group = 0;      // radio buttons of one group exclude each other
};
struct DialogTemplate {
  int resourceId = 0;
  std::string title;  // code page 932
  std::vector<DialogControl> controls;
};
// What the controls hold: a radio button or check box 0 or 1; a combo box the index of its
// selected item, -1 for none, and its items (code page 932).
struct DialogValues {
  std::map<UINT, int> values;
  std::map<UINT, std::vector<std::string>> items;
};
// Shows the dialog with the values the caller filled in and returns the id of the button that
// ended it (IDOK, IDCANCEL); `values` then holds what the controls hold at the end.
int DialogBoxIndirectA(HWND owner, const DialogTemplate& dialog, DialogValues& values);

// What a dialog showed: its values when it opened, and the button that ended it.
struct ShownDialog {
  HWND owner;
  int resourceId;
  std::string title;
  DialogValues values;
  int answer;
};

namespace script {
// The next message box answers `answer` (IDYES, IDNO, ...). Answers are used in order.
void PushMessageBoxAnswer(int answer);
// Every box shown since the last call, oldest first; clears the record.
std::vector<ShownMessageBox> TakeShownMessageBoxes();
// Whether boxes are echoed to standard error (on by default).
void SetMessageBoxEcho(bool on);
// The next dialog box sets these controls (in order; a radio button set to 1 clears the others
// of its group, a combo box index outside its items is ignored) and ends with `button`.
struct DialogAnswer {
  int button = IDOK;
  std::vector<std::pair<UINT, int>> changes;
};
void PushDialogAnswer(DialogAnswer answer);
// Every dialog box shown since the last call, oldest first; clears the record.
std::vector<ShownDialog> TakeShownDialogs();
// Clears queued answers and the records of message and dialog boxes.
void Reset();
}  // namespace script

}  // namespace wz::platform
