// Starting and stopping the library, its log, window events and errors.
//
// The library is one object inside libwz: it exists from the moment the program is loaded (its
// model-loading thread runs from then on), but it does nothing until Start. A program calls
// Start once, uses the library from the same thread, and calls Stop (or holds a wz::Session,
// which does both). Every function of the other headers called before Start or after Stop
// fails the way its comment says (false, -1 or an empty result) and LastError says why; none
// of them crashes.
//
// Errors: functions report failure through their result; LastError() then holds a sentence
// that says why. Threads: every function is for the thread that called Start, except Version,
// LastError and Started, which any thread may call.
#pragma once

#include <functional>
#include <string>

#include "wz/export.h"

namespace wz {

struct StartOptions {
  // Show the window on the desktop (SDL2) when a display is there, unless WZ_BACKEND=headless.
  // Otherwise (and always when false) the window is headless: frames are drawn off screen.
  bool desktop = true;
  // Write the library's log to standard error (UTF-8), as WZ_LOG=1 does.
  bool logToStderr = false;
};

// Starts the library: window, display device, data folder, fonts, sound device. The data folder
// (effect files, system textures) is WZ_DATA_DIR when set; else Data beside the program; else
// share/wz/Data beside the program's folder (an installed program); else where the library's
// data was installed. Start moves the current directory to the data folder: give the model
// functions absolute paths or paths made before Start. False when the library could not start
// (no display device), when it is started already, or after Stop (once per process).
WZ_API bool Start(const StartOptions& options = {});

// Waits for the background loads still running, releases every model and display object,
// closes the window and the display device and stops sending the log to the handler and
// standard error. Nothing when the library is not started.
WZ_API void Stop();

// Whether Start succeeded and Stop has not run since.
WZ_API bool Started();

// Why the last call on this thread that failed did (UTF-8); "" when nothing failed yet.
WZ_API const char* LastError();

// The data folder Start chose (UTF-8); "" when not started.
WZ_API std::string DataFolder();

// Gets each line the library logs (UTF-8, without a line end), on the thread that logs it: the
// main thread, or the model-loading thread while a background load runs. The handler must not
// call the library. An empty function removes it. Works before Start too.
WZ_API void SetLogHandler(std::function<void(const std::string& line)> handler);

// Handles the window's waiting events (keys, mouse, size, the close button). False once the
// window has been closed (then the program should Stop) or when the library is not started.
WZ_API bool PumpEvents();

// Key codes for KeyDown (the library's keys are numbered as on Windows: 'A' to 'Z', '0' to '9'
// are their characters).
inline constexpr int kKeyEscape = 0x1B;
inline constexpr int kKeySpace = 0x20;
inline constexpr int kKeyLeft = 0x25;
inline constexpr int kKeyUp = 0x26;
inline constexpr int kKeyRight = 0x27;
inline constexpr int kKeyDown = 0x28;

// Whether the key is held, as the events PumpEvents handled say. False for codes outside 0 to
// 255 and when the library is not started.
WZ_API bool KeyDown(int key);

// The window's client size in pixels; 0 when not started.
WZ_API int WindowWidth();
WZ_API int WindowHeight();

// Start in the constructor, Stop in the destructor. ok() says whether Start succeeded.
class Session {
 public:
  explicit Session(const StartOptions& options = {}) : ok_(Start(options)) {}
  ~Session() {
    if (ok_) Stop();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace wz
