// Headless dialog boxes answered by the script.
#include "platform/dialogs.h"

#include <gtest/gtest.h>

namespace wz::platform {
namespace {

// Two radio groups, a check box and a combo box of three items.
const DialogTemplate& TestDialog() {
  static const DialogTemplate dialog{
      7,
      "title",
      {
          {10, DialogControlKind::Radio, "a", 1},
          {11, DialogControlKind::Radio, "b", 1},
          {12, DialogControlKind::Radio, "c", 1},
          {20, DialogControlKind::Radio, "x", 2},
          {21, DialogControlKind::Radio, "y", 2},
          {30, DialogControlKind::Check, "check"},
          {40, DialogControlKind::Combo, ""},
          {IDOK, DialogControlKind::Button, "ok"},
          {IDCANCEL, DialogControlKind::Button, "cancel"},
      },
  };
  return dialog;
}

DialogValues Initial() {
  DialogValues v;
  v.values = {{10, 1}, {11, 0}, {12, 0}, {20, 1}, {21, 0}, {30, 0}, {40, 0}};
  v.items[40] = {"one", "two", "three"};
  return v;
}

void DrainQueue() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST(DialogBoxes, ScriptedChangesFollowTheControlKinds) {
  struct Case {
    const char* what;
    std::vector<std::pair<UINT, int>> changes;
    std::map<UINT, int> expected;  // values that differ from the initial ones
  } cases[] = {
      {"radio clears its own group only", {{12, 1}}, {{10, 0}, {12, 1}}},
      {"second group", {{21, 1}}, {{20, 0}, {21, 1}}},
      {"last change wins", {{11, 1}, {12, 1}}, {{10, 0}, {12, 1}}},
      {"check box on and any non-zero is 1", {{30, 5}}, {{30, 1}}},
      {"combo within its items", {{40, 2}}, {{40, 2}}},
      {"combo past its items is ignored", {{40, 3}}, {}},
      {"combo below zero is ignored", {{40, -1}}, {}},
      {"unknown control and buttons are ignored", {{99, 1}, {IDOK, 1}}, {}},
  };
  script::Reset();
  for (const Case& c : cases) {
    DialogValues values = Initial();
    script::PushDialogAnswer({IDOK, c.changes});
    EXPECT_EQ(DialogBoxIndirectA(nullptr, TestDialog(), values), IDOK) << c.what;
    std::map<UINT, int> expected = Initial().values;
    for (auto [id, value] : c.expected)
      expected[id] = value;
    EXPECT_EQ(values.values, expected) << c.what;
    EXPECT_EQ(values.items, Initial().items) << c.what;
  }
  // The record keeps what each dialog showed when it opened.
  auto shown = script::TakeShownDialogs();
  ASSERT_EQ(shown.size(), std::size(cases));
  EXPECT_EQ(shown[0].resourceId, 7);
  EXPECT_EQ(shown[0].title, "title");
  EXPECT_EQ(shown[0].values.values, Initial().values);
  EXPECT_EQ(shown[0].answer, IDOK);
}

TEST(DialogBoxes, WithoutAnAnswerTheDialogIsCancelledAndPumpsMessages) {
  script::Reset();
  DrainQueue();
  std::vector<UINT> seen;
  WNDCLASS wc;
  wc.className = "DialogPumpTest";
  wc.proc = [&seen](HWND h, UINT m, WPARAM w, LPARAM l) {
    seen.push_back(m);
    return DefWindowProcA(h, m, w, l);
  };
  RegisterClassA(wc);
  HWND w = CreateWindowExA(0, "DialogPumpTest", "t", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr);
  PostMessageA(w, WM_PAINT, 0, 0);
  DialogValues values = Initial();
  EXPECT_EQ(DialogBoxIndirectA(w, TestDialog(), values), IDCANCEL);
  EXPECT_EQ(values.values, Initial().values);
  EXPECT_EQ(seen.back(), WM_PAINT);
  // A cancelling answer may still have changed controls; the caller decides what counts.
  script::PushDialogAnswer({IDCANCEL, {{11, 1}}});
  EXPECT_EQ(DialogBoxIndirectA(w, TestDialog(), values), IDCANCEL);
  EXPECT_EQ(values.values[11], 1);
  auto shown = script::TakeShownDialogs();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].owner, w);
  EXPECT_EQ(shown[0].answer, IDCANCEL);
  DestroyWindow(w);
}

}  // namespace
}  // namespace wz::platform
