// The desktop window system of a build without SDL2: every window stays headless.
#include "platform/desktop.h"

namespace wz::platform::desktop {

bool Built() {
  return false;
}

Backend Choose() {
  return Backend::kHeadless;
}

bool Start(std::string* why) {
  if (why) *why = "this build has no desktop window system (SDL2 was not found)";
  return false;
}

void Stop() {}

bool Started() {
  return false;
}

bool Pump(int) {
  return false;
}

bool FileDialogsAvailable() {
  return false;
}

int RefreshRate() {
  return 60;
}

bool HasWindow(HWND) {
  return false;
}

uint32_t WindowId(HWND) {
  return 0;
}

}  // namespace wz::platform::desktop
