// Dialog 144, the device selection: the adapter and device, windowed or full-screen mode with the
// full-screen resolution, stereo drawing, and the buttons that accept or cancel. Labels are code
// page 932.
#pragma once

#include <cstdint>

#include "platform/dialogs.h"

namespace wz::resources {

constexpr int kDeviceDialog = 144;

enum DeviceDialogControl : uint32_t {
  kDevDlgGroup = 1000,       // group box "デバイス選択"
  kDevDlgAdapter = 1001,     // combo box: the adapters
  kDevDlgDevice = 1002,      // combo box: the device types of the adapter
  kDevDlgWindowed = 1003,    // radio button "Windowモード"
  kDevDlgFullScreen = 1004,  // radio button "フルスクリーンモード"
  kDevDlgMode = 1005,        // combo box: the full-screen display modes
  kDevDlgStereo = 1006,      // check box "ステレオ描画"
  kDevDlgOk = 1,             // "決定" (IDOK)
  kDevDlgCancel = 2,         // "中止" (IDCANCEL)
};

// The dialog's table: title "解像度変更" and its controls in tab order.
const platform::DialogTemplate& DeviceDialog();

}  // namespace wz::resources
