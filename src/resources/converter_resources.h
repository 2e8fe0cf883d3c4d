// The converter's resources: the menu MENU_PREVIEW (file commands) and the dialog CNV_DLG (the
// format dropped files are converted into). Labels are code page 932.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

namespace wz::resources {

// Command ids of MENU_PREVIEW, and the home-page command that has no menu item.
enum ConverterCommand : uint32_t {
  kCmdLoadAny = 40092,
  kCmdLoadWzp = 40023,
  kCmdLoadDxf = 40046,
  kCmdLoadLwo = 40032,
  kCmdLoadMqo = 40062,
  kCmdLoadMx = 40044,
  kCmdLoadRok = 40047,
  kCmdLoadX = 40053,
  kCmdSaveWzp = 40024,
  kCmdSaveLwo = 40048,
  kCmdSaveMx = 40045,
  kCmdSaveX = 40054,
  kCmdExit = 40007,
  kCmdHomePage = 40010,
};

constexpr int kMenuPreview = 1001;  // resource number of MENU_PREVIEW in this program

// The items of MENU_PREVIEW in menu order.
const std::vector<platform::MenuItem>& MenuPreviewItems();
// Registers MENU_PREVIEW under kMenuPreview.
void RegisterMenuPreview();

struct DialogControl {
  uint32_t id;
  std::string label;  // code page 932
};
struct DialogResource {
  std::string title;
  std::vector<DialogControl> radioButtons;
};
// CNV_DLG: title "変換後" and the radio buttons 1440 to 1443, one per batch target 0 to 3.
const DialogResource& CnvDlg();
constexpr uint32_t kCnvDlgFirstRadio = 1440;

}  // namespace wz::resources
