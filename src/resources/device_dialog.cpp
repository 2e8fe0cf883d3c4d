#include "resources/device_dialog.h"

#include "platform/text.h"

namespace wz::resources {

const platform::DialogTemplate& DeviceDialog() {
  using platform::DialogControlKind;
  static const auto* dialog = new platform::DialogTemplate{
      kDeviceDialog,
      WZ_TEXT("解像度変更"),
      {
          {kDevDlgGroup, DialogControlKind::Group, WZ_TEXT("デバイス選択")},
          {kDevDlgAdapter, DialogControlKind::Combo, ""},
          {kDevDlgDevice, DialogControlKind::Combo, ""},
          {kDevDlgWindowed, DialogControlKind::Radio, WZ_TEXT("Windowモード"), 1},
          {kDevDlgFullScreen, DialogControlKind::Radio, WZ_TEXT("フルスクリーンモード"), 1},
          {kDevDlgMode, DialogControlKind::Combo, ""},
          {kDevDlgStereo, DialogControlKind::Check, WZ_TEXT("ステレオ描画")},
          {kDevDlgOk, DialogControlKind::Button, WZ_TEXT("決定")},
          {kDevDlgCancel, DialogControlKind::Button, WZ_TEXT("中止")},
      },
  };
  return *dialog;
}

}  // namespace wz::resources
