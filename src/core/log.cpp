// The log, message boxes and the device error reporter.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/library.h"
#include "platform/dialogs.h"
#include "platform/text.h"

namespace wz {

void Library::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(format, args);
  va_end(args);
}

void Library::LogV(const char* format, va_list args) {
  std::lock_guard lock(logMutex_);
  if (!logListBox_ && !logSink_) return;
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  std::string full;
  if (n > 0) {
    full.resize(size_t(n) + 1);
    std::vsnprintf(full.data(), full.size(), format, again);
    full.resize(size_t(n));
  }
  va_end(again);
  if (n < 0) return;
  if (logListBox_) {
    // A list-box line holds 255 bytes; a longer one is cut at a character boundary.
    const std::string line = full.substr(0, platform::Cp932SafePrefix(full, 255));
    platform::SendMessageA(logListBox_, platform::LB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(line.c_str()));
    platform::SendMessageA(logListBox_, platform::LB_SETCURSEL, static_cast<WPARAM>(logLineIndex_),
                           0);
  }
  // The text sink gets the whole line: a path in it is never cut.
  if (logSink_) logSink_(full);
  ++logLineIndex_;
}

void Library::AttachStderrLogSink() {
  AttachLogSink([](const std::string& line) {
    std::string out = platform::Cp932ToUtf8(line) + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
  });
}

double Library::ShowMessage(const char* text) {
  platform::MessageBoxA(hwnd_, text, windowTitle_, platform::MB_OK);
  ResetFrameClock();
  return frameClockStamp_.load();
}

std::string DeviceErrorMessage(HRESULT code, int mode) {
  const char* text;
  switch (static_cast<uint32_t>(code)) {
    case 0x82000001u:
      text =
          "Could not initialize Direct3D. You may\nwant to check that the latest version of\n"
          "DirectX is correctly installed on your\nsystem.  Also make sure that this program\n"
          "was compiled with header files that match\nthe installed DirectX DLLs.";
      break;
    case 0x82000003u:
      text = WZ_TEXT(
          "ビデオカードが、DirectX 9 に対応していない可能性があります。\n"
          "使用できる Direct3D デバイスが、見つかりませんでした。");
      break;
    case 0x82000004u:
      text =
          "This sample cannot run in a desktop\nwindow with the current display settings.\n"
          "Please change your desktop settings to a\n16- or 32-bit display mode and re-run this\n"
          "sample.";
      break;
    case 0x82000005u:
      text = "No hardware-accelerated Direct3D devices\nwere found.";
      break;
    case 0x82000006u:
      text =
          "This sample requires functionality that is\nnot available on your Direct3D hardware\n"
          "accelerator.";
      break;
    case 0x82000007u:
      text =
          "Your Direct3D hardware accelerator cannot\nrender into a window.\n"
          "Press F2 while the app is running to see a\nlist of available devices and modes.";
      break;
    case 0x82000008u:
      text =
          "Your Direct3D hardware accelerator cannot\nrender into a window with the current\n"
          "desktop display settings.\n"
          "Press F2 while the app is running to see a\nlist of available devices and modes.";
      break;
    case 0x82000009u:
      text =
          "This sample requires functionality that is\nnot available on your Direct3D hardware\n"
          "accelerator with the current desktop display\nsettings.\n"
          "Press F2 while the app is running to see a\nlist of available devices and modes.";
      break;
    case 0x8200000Au:
      text =
          "A D3D object has a non-zero reference\ncount (meaning things were not properly\n"
          "cleaned up).";
      break;
    case 0x8200000Bu:
    case 0x80070002u:
      text = "Could not load required media.";
      break;
    case 0x8200000Cu:
      text = "Could not reset the Direct3D device.";
      break;
    case 0x8200000Du:
      text = WZ_TEXT(
          "ビデオカードが、DirectX 9 に対応していない可能性があります。\n"
          "D3DAPPERR_NULLREFDEVICE");
      break;
    case 0x8007000Eu:
      text = "Not enough memory.";
      break;
    case 0x8876017Cu:
      text = "Not enough video memory.";
      break;
    case 0x88760827u:
      text = "A serious problem occured inside the display driver.";
      break;
    default:
      text = "Generic application error. Enable\ndebug output for detailed information.";
      break;
  }
  // The message is built in a 512-byte buffer.
  char message[512];
  std::snprintf(message, sizeof message, "%s", text);
  if (mode == 2) {
    size_t used = std::strlen(message);
    std::snprintf(message + used, sizeof message - used, "%s",
                  "\n\nSwitching to the reference rasterizer,\na software device that implements "
                  "the entire\nDirect3D feature set, but runs very slowly.");
  }
  return std::string(message, platform::Cp932SafePrefix(message, std::strlen(message)));
}

HRESULT Library::ShowDeviceError(HRESULT code, int mode) {
  if (fatalErrorShown_) return code;
  // A driver-internal error is always fatal.
  if (code == D3DERR_DRIVERINTERNALERROR) mode = 1;
  std::string message = DeviceErrorMessage(code, mode);
  if (mode == 1) {
    platform::MessageBoxA(nullptr, message, windowTitle_, platform::MB_ICONERROR);
    fatalErrorShown_ = true;
    if (hwnd_) platform::SendMessageA(hwnd_, platform::WM_CLOSE, 0, 0);
  } else {
    platform::MessageBoxA(hwnd_, message, windowTitle_, platform::MB_ICONWARNING);
  }
  return code;
}

}  // namespace wz
