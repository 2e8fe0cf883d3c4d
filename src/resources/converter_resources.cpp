#include "resources/converter_resources.h"

#include "platform/text.h"

namespace wz::resources {

const std::vector<platform::MenuItem>& MenuPreviewItems() {
  static const auto* items = new std::vector<platform::MenuItem>{
      {kCmdLoadAny, WZ_TEXT("読み込み")},
      {kCmdLoadWzp, WZ_TEXT("読み込み ( WZP -> 2004 ～ 2008 )")},
      {kCmdLoadDxf, WZ_TEXT("読み込み ( DXF )")},
      {kCmdLoadLwo, WZ_TEXT("読み込み ( LWO -> LightWave 5.6 )")},
      {kCmdLoadMqo, WZ_TEXT("読み込み ( MQO -> メタセコイア 2.2.3 )")},
      {kCmdLoadMx, WZ_TEXT("読み込み ( MX -> HSP 2.55 )")},
      {kCmdLoadRok, WZ_TEXT("読み込み ( ROK -> 六角大王 5.25 )")},
      {kCmdLoadX, WZ_TEXT("読み込み ( X -> DirectX 9 )")},
      {kCmdSaveWzp, WZ_TEXT("\u3000保存\u3000  ( WZP 2008 -> DA Dizizu 2008 )")},
      {kCmdSaveLwo, WZ_TEXT("\u3000保存\u3000  ( LWO -> LightWave 5.6 )")},
      {kCmdSaveMx, WZ_TEXT("\u3000保存\u3000  ( MX -> HSP 2.55 )")},
      {kCmdSaveX, WZ_TEXT("\u3000保存\u3000  ( X -> DirectX 9 )")},
      {kCmdExit, WZ_TEXT("\u3000終了")},
  };
  return *items;
}

void RegisterMenuPreview() {
  platform::RegisterMenuResource(kMenuPreview, MenuPreviewItems());
}

const DialogResource& CnvDlg() {
  static const auto* dialog = new DialogResource{
      WZ_TEXT("変換後"),
      {{1440, "WZP"}, {1441, "LWO"}, {1442, "MX"}, {1443, "X"}},
  };
  return *dialog;
}

}  // namespace wz::resources
