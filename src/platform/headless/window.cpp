// Headless windows and per-thread message queues.
#include "platform/window.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/system.h"

namespace wz::platform {

struct WindowRecord {
  std::string className;
  std::string title;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{0, 0, 0, 0};
  HMENU menu = nullptr;
  WindowProc proc;
  ThreadId thread = 0;
  bool alive = true;
  intptr_t userData = 0;
  bool minimised = false;
  RECT restoreRect{0, 0, 0, 0};
  // List-box state.
  std::mutex itemsMutex;  // list boxes are written from the loader thread too
  std::vector<std::string> items;
  int selection = -1;
};

namespace {

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<MSG> messages;
  bool quitPosted = false;
  int quitCode = 0;
};

struct WindowSystem {
  std::mutex mutex;
  std::map<std::string, WNDCLASS> classes;
  // Records are kept until the process ends so that a stale handle never dangles.
  std::vector<std::unique_ptr<WindowRecord>> windows;
  std::map<ThreadId, std::shared_ptr<ThreadQueue>> queues;
  HWND capture = nullptr;
  int screenWidth = 0;
  int screenHeight = 0;
  int cursorShowCount = 0;
  bool clipped = false;
  RECT clip{0, 0, 0, 0};
  HCURSOR cursor = nullptr;
};

WindowSystem& System() {
  static WindowSystem* system = new WindowSystem;  // lives until the process ends
  return *system;
}

std::atomic<ThreadId> nextThreadId{1};
thread_local ThreadId currentThreadId = 0;

std::shared_ptr<ThreadQueue> QueueOf(ThreadId thread) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  auto& q = s.queues[thread];
  if (!q) q = std::make_shared<ThreadQueue>();
  return q;
}

WindowRecord* Live(HWND hwnd) {
  if (!hwnd) return nullptr;
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  for (auto& w : s.windows) {
    if (w.get() == hwnd) return w->alive ? hwnd : nullptr;
  }
  return nullptr;
}

void FrameSize(DWORD style, bool menu, int& dx, int& top, int& bottom) {
  dx = 0;
  top = 0;
  bottom = 0;
  if (style & (WS_THICKFRAME | WS_CAPTION | WS_BORDER)) {
    dx = kFrameWidth;
    top = kFrameWidth;
    bottom = kFrameWidth;
  }
  if ((style & WS_CAPTION) == WS_CAPTION) top += kCaptionHeight;
  if (menu) top += kMenuHeight;
}

LRESULT ListBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(hwnd->itemsMutex);
  switch (msg) {
    case LB_ADDSTRING:
      hwnd->items.emplace_back(reinterpret_cast<const char*>(lParam));
      return static_cast<LRESULT>(hwnd->items.size() - 1);
    case LB_SETCURSEL:
      hwnd->selection = static_cast<int>(wParam);
      return static_cast<LRESULT>(wParam);
    case LB_GETCURSEL:
      return hwnd->selection;
    case LB_GETCOUNT:
      return static_cast<LRESULT>(hwnd->items.size());
    default:
      return 0;
  }
}

void SendSize(HWND hwnd) {
  RECT client;
  GetClientRect(hwnd, &client);
  SendMessageA(hwnd, WM_SIZE, hwnd->minimised ? SIZE_MINIMIZED : SIZE_RESTORED,
               static_cast<LPARAM>((client.right & 0xFFFF) | ((client.bottom & 0xFFFF) << 16)));
}

void SendSizeIfChanged(HWND hwnd, const RECT& before) {
  int w0 = before.right - before.left, h0 = before.bottom - before.top;
  int w1 = hwnd->rect.right - hwnd->rect.left, h1 = hwnd->rect.bottom - hwnd->rect.top;
  if (w0 == w1 && h0 == h1) return;
  SendSize(hwnd);
}

}  // namespace

ThreadId GetCurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = nextThreadId.fetch_add(1);
  return currentThreadId;
}

bool RegisterClassA(const WNDCLASS& wc) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  if (wc.className.empty() || s.classes.count(wc.className)) return false;
  s.classes[wc.className] = wc;
  return true;
}

bool IsClassRegistered(const std::string& className) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  return className == "LISTBOX" || s.classes.count(className) > 0;
}

HWND CreateWindowExA(DWORD exStyle, const std::string& className, const std::string& title,
                     DWORD style, int x, int y, int width, int height, HWND, HMENU menu,
                     HINSTANCE) {
  auto record = std::make_unique<WindowRecord>();
  record->className = className;
  record->title = title;
  record->style = style;
  record->exStyle = exStyle;
  record->rect = RECT{x, y, x + width, y + height};
  record->menu = menu;
  record->thread = GetCurrentThreadId();
  HWND hwnd = record.get();
  {
    WindowSystem& s = System();
    std::lock_guard lock(s.mutex);
    if (className == "LISTBOX") {
      record->proc = ListBoxProc;
    } else {
      auto it = s.classes.find(className);
      if (it == s.classes.end()) return nullptr;
      record->proc = it->second.proc;
      if (!record->menu && !it->second.menuName.empty()) record->menu = nullptr;
    }
    s.windows.push_back(std::move(record));
  }
  if (SendMessageA(hwnd, WM_CREATE, 0, 0) == -1) {
    hwnd->alive = false;
    return nullptr;
  }
  return hwnd;
}

bool DestroyWindow(HWND hwnd) {
  if (!Live(hwnd)) return false;
  SendMessageA(hwnd, WM_DESTROY, 0, 0);
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  hwnd->alive = false;
  if (s.capture == hwnd) s.capture = nullptr;
  return true;
}

bool IsWindow(HWND hwnd) {
  return Live(hwnd) != nullptr;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!Live(hwnd) || !hwnd->proc) return 0;
  WindowProc proc = hwnd->proc;  // a copy: the procedure may replace itself
  return proc(hwnd, msg, wParam, lParam);
}

bool PostThreadMessageA(ThreadId thread, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = QueueOf(thread);
  {
    std::lock_guard lock(q->mutex);
    q->messages.push_back(MSG{nullptr, msg, wParam, lParam, timeGetTime(), {0, 0}});
  }
  q->ready.notify_all();
  return true;
}

bool PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  ThreadId thread = GetCurrentThreadId();
  if (hwnd) {
    if (!Live(hwnd)) return false;
    thread = hwnd->thread;
  }
  auto q = QueueOf(thread);
  {
    std::lock_guard lock(q->mutex);
    q->messages.push_back(MSG{hwnd, msg, wParam, lParam, timeGetTime(), {0, 0}});
  }
  q->ready.notify_all();
  return true;
}

void PostQuitMessage(int exitCode) {
  auto q = QueueOf(GetCurrentThreadId());
  {
    std::lock_guard lock(q->mutex);
    q->quitPosted = true;
    q->quitCode = exitCode;
  }
  q->ready.notify_all();
}

namespace {

// Takes the first message matching the filter; WM_QUIT comes only when nothing else is queued.
bool TakeLocked(ThreadQueue& q, MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, bool remove) {
  for (auto it = q.messages.begin(); it != q.messages.end(); ++it) {
    bool windowOk = !hwnd || it->hwnd == hwnd;
    bool rangeOk = (filterMin == 0 && filterMax == 0) ||
                   (it->message >= filterMin && it->message <= filterMax);
    if (windowOk && rangeOk) {
      *msg = *it;
      if (remove) q.messages.erase(it);
      return true;
    }
  }
  if (q.quitPosted) {
    *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, timeGetTime(), {0, 0}};
    if (remove) q.quitPosted = false;
    return true;
  }
  return false;
}

}  // namespace

int GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  auto q = QueueOf(GetCurrentThreadId());
  std::unique_lock lock(q->mutex);
  q->ready.wait(lock, [&] { return TakeLocked(*q, msg, hwnd, filterMin, filterMax, true); });
  return msg->message == WM_QUIT ? 0 : 1;
}

bool PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags) {
  auto q = QueueOf(GetCurrentThreadId());
  std::lock_guard lock(q->mutex);
  return TakeLocked(*q, msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0);
}

size_t PendingMessageCount() {
  auto q = QueueOf(GetCurrentThreadId());
  std::lock_guard lock(q->mutex);
  return q->messages.size() + (q->quitPosted ? 1 : 0);
}

bool TranslateMessage(const MSG*) {
  return false;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg->hwnd) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  switch (msg) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_NCHITTEST:
      return HTCLIENT;
    default:
      return 0;
  }
}

bool GetWindowRect(HWND hwnd, RECT* rect) {
  if (!Live(hwnd)) return false;
  *rect = hwnd->rect;
  return true;
}

bool GetClientRect(HWND hwnd, RECT* rect) {
  if (!Live(hwnd)) return false;
  if (hwnd->minimised) {
    *rect = RECT{0, 0, 0, 0};
    return true;
  }
  int dx, top, bottom;
  FrameSize(hwnd->style, hwnd->menu != nullptr, dx, top, bottom);
  int w = std::max(0, hwnd->rect.right - hwnd->rect.left - 2 * dx);
  int h = std::max(0, hwnd->rect.bottom - hwnd->rect.top - top - bottom);
  *rect = RECT{0, 0, w, h};
  return true;
}

bool SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
  if (!Live(hwnd)) return false;
  RECT before = hwnd->rect;
  RECT& r = hwnd->rect;
  int w = r.right - r.left, h = r.bottom - r.top;
  if (!(flags & SWP_NOMOVE)) {
    r.left = x;
    r.top = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    w = cx;
    h = cy;
  }
  r.right = r.left + w;
  r.bottom = r.top + h;
  if (flags & SWP_SHOWWINDOW) hwnd->style |= WS_VISIBLE;
  SendSizeIfChanged(hwnd, before);
  return true;
}

bool MoveWindow(HWND hwnd, int x, int y, int width, int height, bool) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER);
}

bool ShowWindow(HWND hwnd, int command) {
  if (!Live(hwnd)) return false;
  const bool wasVisible = (hwnd->style & WS_VISIBLE) != 0;
  if (command == SW_MINIMIZE && !hwnd->minimised) {
    hwnd->restoreRect = hwnd->rect;
    hwnd->minimised = true;
    hwnd->rect = RECT{-32000, -32000, -32000 + 160, -32000 + 28};
    SendSize(hwnd);
  } else if (command == SW_RESTORE && hwnd->minimised) {
    hwnd->minimised = false;
    hwnd->rect = hwnd->restoreRect;
    SendSize(hwnd);
  }
  return wasVisible;
}

bool IsIconic(HWND hwnd) {
  return Live(hwnd) && hwnd->minimised;
}

bool AdjustWindowRect(RECT* rect, DWORD style, bool menu) {
  int dx, top, bottom;
  FrameSize(style, menu, dx, top, bottom);
  rect->left -= dx;
  rect->right += dx;
  rect->top -= top;
  rect->bottom += bottom;
  return true;
}

intptr_t GetWindowLongA(HWND hwnd, int index) {
  if (!Live(hwnd)) return 0;
  if (index == GWL_STYLE) return static_cast<intptr_t>(hwnd->style);
  if (index == GWLP_USERDATA) return hwnd->userData;
  return 0;
}

intptr_t SetWindowLongA(HWND hwnd, int index, intptr_t value) {
  if (!Live(hwnd)) return 0;
  intptr_t old = GetWindowLongA(hwnd, index);
  if (index == GWL_STYLE) hwnd->style = static_cast<DWORD>(value);
  if (index == GWLP_USERDATA) hwnd->userData = value;
  return old;
}

std::string GetWindowTextA(HWND hwnd) {
  return Live(hwnd) ? hwnd->title : std::string();
}

bool SetWindowTextA(HWND hwnd, const std::string& text) {
  if (!Live(hwnd)) return false;
  hwnd->title = text;
  return true;
}

HMENU GetMenu(HWND hwnd) {
  return Live(hwnd) ? hwnd->menu : nullptr;
}

bool SetMenu(HWND hwnd, HMENU menu) {
  if (!Live(hwnd)) return false;
  hwnd->menu = menu;
  return true;
}

namespace {
struct Menu {
  int resourceId;
  std::vector<MenuItem> items;
};
std::map<int, std::vector<MenuItem>>& MenuResources() {
  static auto* resources = new std::map<int, std::vector<MenuItem>>;
  return *resources;
}
}  // namespace

void RegisterMenuResource(int resourceId, std::vector<MenuItem> items) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  MenuResources()[resourceId] = std::move(items);
}

HMENU LoadMenuA(HINSTANCE, int resourceId) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  auto it = MenuResources().find(resourceId);
  if (it == MenuResources().end()) return nullptr;
  return new Menu{resourceId, it->second};
}

std::vector<MenuItem> MenuItems(HMENU menu) {
  return menu ? static_cast<Menu*>(menu)->items : std::vector<MenuItem>{};
}

bool DestroyMenu(HMENU menu) {
  if (!menu) return false;
  delete static_cast<Menu*>(menu);
  return true;
}

HWND SetCapture(HWND hwnd) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  HWND old = s.capture;
  s.capture = hwnd;
  return old;
}

bool ReleaseCapture() {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  s.capture = nullptr;
  return true;
}

HWND GetCapture() {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  return s.capture;
}

bool ClipCursor(const RECT* rect) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  s.clipped = rect != nullptr;
  if (rect) s.clip = *rect;
  return true;
}
HCURSOR SetCursor(HCURSOR cursor) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  HCURSOR previous = s.cursor;
  s.cursor = cursor;
  return previous;
}
int ShowCursor(bool show) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  return show ? ++s.cursorShowCount : --s.cursorShowCount;
}

void InitCommonControls() {}

int GetSystemMetrics(int index) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  if (s.screenWidth == 0) {
    s.screenWidth = 1920;
    s.screenHeight = 1080;
    if (const char* env = std::getenv("WZ_SCREEN")) {
      int w = 0, h = 0;
      if (std::sscanf(env, "%dx%d", &w, &h) == 2 && w > 0 && h > 0 && w <= 65535 && h <= 65535) {
        s.screenWidth = w;
        s.screenHeight = h;
      }
    }
  }
  if (index == SM_CXSCREEN) return s.screenWidth;
  if (index == SM_CYSCREEN) return s.screenHeight;
  return 0;
}

void SetScreenSize(int width, int height) {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  s.screenWidth = width;
  s.screenHeight = height;
}

bool GetClipCursor(RECT* rect) {
  if (!rect) return false;
  bool clipped;
  {
    WindowSystem& s = System();
    std::lock_guard lock(s.mutex);
    clipped = s.clipped;
    if (clipped) *rect = s.clip;
  }
  if (!clipped) *rect = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return true;
}

HCURSOR GetCursor() {
  WindowSystem& s = System();
  std::lock_guard lock(s.mutex);
  return s.cursor;
}

std::vector<std::string> ListBoxItems(HWND listBox) {
  if (!Live(listBox)) return {};
  std::lock_guard lock(listBox->itemsMutex);
  return listBox->items;
}

}  // namespace wz::platform
