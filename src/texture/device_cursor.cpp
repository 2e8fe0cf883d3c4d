// The device cursor: the hardware cursor a full-screen device draws in place of the window's.
#include "core/library.h"

namespace wz {

void Library::DeviceCursorFromWindowClass() {
  // The cursor image is not copied from the window class's cursor yet (that needs the cursor's
  // masks as bitmaps); the device keeps its own until then.
  ShowDeviceCursor();
}

void Library::ShowDeviceCursor() {
  if (!device_) return;
  Step(DeviceStep::CursorShow);
  device_->ShowCursor(1);
}

}  // namespace wz
