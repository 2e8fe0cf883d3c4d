// The converter front end driven through the main window's messages.
#include "app/converter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/formats.h"
#include "platform/d3d/d3d9.h"
#include "platform/d3dx/texture_file.h"
#include "platform/dialogs.h"
#include "platform/file_io.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/converter_resources.h"
#include "support/temp_dir.h"

namespace wz {
namespace {

using namespace platform;
using wz::testing::TempDir;

const std::string kMqo =
    "Metasequoia Document\r\nFormat Text Ver 1.0\r\nObject \"o\" {\r\n\tvertex 4 {\r\n"
    "\t\t0 0 0\r\n\t\t10 0 0\r\n\t\t10 10 0\r\n\t\t0 10 0\r\n\t}\r\n\tface 2 {\r\n"
    "\t\t3 V(0 1 2)\r\n\t\t3 V(0 2 3)\r\n\t}\r\n}\r\nEof\r\n";

TEST(ConverterPaths, CutAtTheLastDotOrBackslash) {
  struct Case {
    std::string path, stripped, directory, extension;
  };
  const Case cases[] = {
      {"C:\\data\\chair.lwo", "C:\\data\\chair", "C:\\data", "lwo"},
      {"a.b.mqo", "a.b", "", "mqo"},
      {"noext", "", "", ""},
      {".hidden", "", "", ""},
      {"\\dir.v2\\file", "\\dir", "\\dir.v2", "v2\\file"},
      {"", "", "", ""},
      // 表 (0x95 0x5C) and ソ (0x83 0x5C) end in the byte of a backslash: the cuts step over them.
      {"sub\\\x95\x5C.bmp", "sub\\\x95\x5C", "sub", "bmp"},
      {"C:\\\x83\x5C\\a\x83\x5C", "", "C:\\\x83\x5C", ""},
      {"\x83\x5C.x", "\x83\x5C", "", "x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StripExtension(c.path), c.stripped) << c.path;
    EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
    EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
  }
  // Whole, however long: a cut name would be another file.
  const std::string longPath = "\\" + std::string(300, 'd') + "\\" + std::string(300, 'a') + ".x";
  EXPECT_EQ(StripExtension(longPath), longPath.substr(0, longPath.size() - 2));
  EXPECT_EQ(DirectoryOf(longPath), "\\" + std::string(300, 'd'));
}

TEST(ConverterSettingsBytes, LayoutOfTheEightyEightBytes) {
  ConverterState state;
  state.left = -5, state.top = 50, state.width = 1296, state.height = 758;
  for (bool antialias : {false, true}) {
    auto b = EncodeConverterSettings(state, antialias);
    auto at = [&](size_t o) {
      return int32_t(b[o] | b[o + 1] << 8 | b[o + 2] << 16 | b[o + 3] << 24);
    };
    EXPECT_EQ(at(0), 2003041);
    EXPECT_EQ(at(4), -5);
    EXPECT_EQ(at(8), 50);
    EXPECT_EQ(at(12), 1296);
    EXPECT_EQ(at(16), 758);
    for (size_t o = 20; o < 56; o += 4)
      EXPECT_EQ(at(o), 0) << o;
    EXPECT_EQ(at(56), antialias ? 1 : 0);
    EXPECT_EQ(at(60), 1);
    for (size_t o = 64; o < 88; o += 4)
      EXPECT_EQ(at(o), 0) << o;
  }
}

// A started library (shader-capable device, so antialiasing can be switched) in a temporary
// program folder, with the converter installed.
struct Converter_ : ::testing::Test {
  Converter_() {
    std::filesystem::create_directories(dir / "prog/Data/System");
    const uint8_t white[4 * 4 * 4] = {0xFF};
    auto bmp = d3dx::EncodeBmp32(4, 4, white, 16);
    wz::testing::WriteFile(dir / "prog/Data/System/tex_null.bmp",
                           std::string(bmp.begin(), bmp.end()));
    std::filesystem::create_directories(dir / "work");
    std::filesystem::current_path(dir / "work");
    SetModuleFileNameForTesting(LibraryPath(dir / "prog/wz-convert"));
    d3d::DeviceProfile sm3;
    d3d::ProfileByName("sm3", sm3);
    d3d::SetProfile(sm3);
    script::Reset();
    script::ResetShell();
    script::SetMessageBoxEcho(false);
    script::SetShellExecuteRecordOnly(true);
    library.AttachLogSink([](const std::string&) {});
    started = library.LibInit(nullptr);
    converter.Install();
  }
  ~Converter_() override {
    // Closing the window posts WM_QUIT, and loads post wake-ups: leave no message for later tests.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    SetModuleFileNameForTesting("");
    d3d::ResetProfile();
    script::Reset();
    script::ResetShell();
    script::SetMessageBoxEcho(true);
    script::SetShellExecuteRecordOnly(false);
  }
  LRESULT Send(UINT msg, WPARAM w = 0, LPARAM l = 0) {
    return SendMessageA(library.MainWindow(), msg, w, l);
  }
  std::string Fixture(const std::string& name, const std::string& bytes) {
    wz::testing::WriteFile(dir / name, bytes);
    return LibraryPath(dir / name);
  }
  void Drop(std::vector<std::string> paths) {
    Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(std::move(paths))));
  }

  TempDir dir;
  wz::testing::CurrentDirectoryGuard cwdGuard;
  Library library;
  Converter converter{library};
  bool started = false;
};

TEST_F(Converter_, InstallingLiftsTheLibrarysBlackFade) {
  ASSERT_TRUE(started);
  EXPECT_EQ(Library().Rendering().fadeLevel, 0.0f) << "the library starts faded out";
  EXPECT_EQ(library.Rendering().fadeLevel, 1.0f);
  library.Rendering().background[1] = 0x80;
  library.RenderFrame();
  EXPECT_EQ(library.Device()->ReadBackBuffer()[1000], 0xFF008000u) << "the frame shows";
}

TEST_F(Converter_, DestroyWritesPlacementAndAntialiasIntoDataDir) {
  ASSERT_TRUE(started);
  EXPECT_TRUE(library.Antialias());
  HWND window = library.MainWindow();
  // 779 is the height the window keeps at this width: its handler holds 16:9.
  ASSERT_TRUE(MoveWindow(window, 100, 50, 1296, 779, false));
  SetCurrentDirectoryA(LibraryPath(dir.path()));
  Send(WM_CLOSE);
  EXPECT_FALSE(IsWindow(window));
  std::string bytes = wz::testing::ReadFile(dir / "prog/Data/WZP_Cnv_2008.dat");
  ASSERT_EQ(bytes.size(), 88u);
  const int32_t* fields = reinterpret_cast<const int32_t*>(bytes.data());
  EXPECT_EQ(fields[0], 2003041);
  EXPECT_EQ(fields[1], 100);
  EXPECT_EQ(fields[2], 50);
  EXPECT_EQ(fields[3], 1296);
  EXPECT_EQ(fields[4], 779);
  EXPECT_EQ(bytes[56], 1);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir / "prog/Data"));

  // The same settings again leave the file as it is (not replaced); other settings replace it.
  const std::string path = LibraryPath(dir.path()) + "\\prog\\Data";
  FileId before, after;
  ASSERT_TRUE(GetFileId(path + "\\WZP_Cnv_2008.dat", before));
  ConverterState state = converter.State();
  state.left = 100, state.top = 50, state.width = 1296, state.height = 779;
  ASSERT_TRUE(WriteConverterSettings(path, state, true));
  ASSERT_TRUE(GetFileId(path + "\\WZP_Cnv_2008.dat", after));
  EXPECT_TRUE(after == before);
  ASSERT_TRUE(WriteConverterSettings(path, state, false));
  ASSERT_TRUE(GetFileId(path + "\\WZP_Cnv_2008.dat", after));
  EXPECT_FALSE(after == before);
  EXPECT_EQ(wz::testing::ReadFile(dir / "prog/Data/WZP_Cnv_2008.dat")[56], 0);
}

TEST_F(Converter_, MinimisedWindowKeepsTheEarlierPlacement) {
  ASSERT_TRUE(started);
  MoveWindow(library.MainWindow(), 10, 20, 800, 600, false);
  Send(WM_NULL);
  MoveWindow(library.MainWindow(), -32000, -32000, 160, 28, false);
  Send(WM_NULL);
  EXPECT_EQ(converter.State().left, 10);
  EXPECT_EQ(converter.State().width, 800);
}

TEST_F(Converter_, KeysHoldZToggleAntialiasingAndEscapeCloses) {
  ASSERT_TRUE(started);
  Send(WM_KEYDOWN, 0x5A);
  EXPECT_TRUE(converter.State().zHeld);
  Send(WM_KEYUP, 0x5A);
  EXPECT_FALSE(converter.State().zHeld);
  Send(WM_KEYUP, 0x71);
  EXPECT_FALSE(library.Antialias());
  Send(WM_KEYUP, 0x71);
  EXPECT_TRUE(library.Antialias());
  HWND window = library.MainWindow();
  Send(WM_KEYUP, 0x1B);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(script::TakeShownMessageBoxes().empty());
}

TEST_F(Converter_, ExitAsksFirstAndClosesOnlyOnYes) {
  ASSERT_TRUE(started);
  HWND window = library.MainWindow();
  script::PushMessageBoxAnswer(IDNO);
  Send(WM_COMMAND, resources::kCmdExit);
  EXPECT_TRUE(IsWindow(window));
  script::PushMessageBoxAnswer(IDYES);
  Send(WM_COMMAND, resources::kCmdExit);
  EXPECT_FALSE(IsWindow(window));
  auto boxes = script::TakeShownMessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, Utf8ToCp932("終了してもいいですか？"));
  EXPECT_EQ(boxes[0].caption, library.WindowTitle());
  EXPECT_EQ(boxes[0].type, MB_YESNO);
}

TEST_F(Converter_, HomePageGoesToTheShell) {
  ASSERT_TRUE(started);
  Send(WM_COMMAND, resources::kCmdHomePage);
  EXPECT_EQ(script::TakeShellExecutes(), std::vector<std::string>{library.HomePage()});
}

TEST_F(Converter_, LoadCommandsShowTheirDialogsAndLoadTheChoice) {
  ASSERT_TRUE(started);
  struct Case {
    uint32_t id;
    const char* title;
    const char* filter;  // the single pair's description; null for the all-formats list
  };
  const Case cases[] = {
      {resources::kCmdLoadMqo, "読み込む MQO ファイルを選択して下さい", "MQO Files (*.MQO)"},
      {resources::kCmdLoadMx, "読み込む MX ファイルを選択して下さい", "MX Files (*.MX)"},
      {resources::kCmdLoadAny, "読み込むファイルを選択して下さい", nullptr},
  };
  std::string path = Fixture("box.mqo", kMqo);
  for (const Case& c : cases) {
    Send(WM_COMMAND, c.id);  // cancelled: nothing loaded
    EXPECT_EQ(converter.State().currentModel, nullptr);
    script::PushOpenDialogAnswer(path);
    Send(WM_COMMAND, c.id);
    ASSERT_NE(converter.State().currentModel, nullptr);
    EXPECT_EQ(converter.State().currentModel->polygonCount, 2);
    auto shown = script::TakeShownFileDialogs();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_FALSE(shown[0].save);
    EXPECT_EQ(shown[0].title, Utf8ToCp932(c.title));
    EXPECT_EQ(shown[0].flags, OFN_HIDEREADONLY);
    if (c.filter) {
      ASSERT_EQ(shown[0].filter.size(), 1u);
      EXPECT_EQ(shown[0].filter[0].first, c.filter);
    } else {
      ASSERT_EQ(shown[0].filter.size(), 8u);
      EXPECT_EQ(shown[0].filter[4].first, Utf8ToCp932("\t\tMX\u3000 ( HSP 2.55 )"));
      EXPECT_EQ(shown[0].filter[7].second, "*.*");
    }
    // The first dialog starts in the data directory, later ones where the last choice was.
    EXPECT_EQ(shown[1].initialDir, &c == &cases[0] ? library.DataDir() : LibraryPath(dir.path()));
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.path()));
    converter.State().currentModel = nullptr;
  }
}

TEST_F(Converter_, SaveProposesTheLoadedNameAndWritesTheChoice) {
  ASSERT_TRUE(started);
  Send(WM_COMMAND, resources::kCmdSaveLwo);  // no model: no dialog
  EXPECT_TRUE(script::TakeShownFileDialogs().empty());
  script::PushOpenDialogAnswer(Fixture("tank.mqo", kMqo));
  Send(WM_COMMAND, resources::kCmdLoadAny);
  for (uint32_t id : {resources::kCmdSaveMx, resources::kCmdSaveLwo})
    Send(WM_COMMAND, id);
  script::PushSaveDialogAnswer(LibraryPath(dir / "out.lwo"));
  Send(WM_COMMAND, resources::kCmdSaveLwo);
  auto shown = script::TakeShownFileDialogs();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[1].initialFile, "tank.mx");
  EXPECT_EQ(shown[1].filter[0].first, "MX Files (*.MX)");
  EXPECT_EQ(shown[2].initialFile, "tank.lwo");
  EXPECT_EQ(shown[3].title, Utf8ToCp932("名前を付けてファイルに保存"));
  EXPECT_EQ(shown[3].flags, OFN_OVERWRITEPROMPT);
  EXPECT_TRUE(std::filesystem::exists(dir / "out.lwo"));
}

TEST_F(Converter_, DroppedFilesAreConvertedBesideThemselvesAndFailuresSkipped) {
  ASSERT_TRUE(started);
  std::filesystem::create_directories(dir / "sub");
  std::vector<std::string> paths = {Fixture("sub/a.mqo", kMqo), Fixture("bad.mqo", "junk"),
                                    LibraryPath(dir / "missing.mqo"), Fixture("noext", kMqo),
                                    Fixture("b.mqo", kMqo)};
  converter.State().batchTarget = kTargetLwo;
  std::vector<DropOutcome> outcomes;
  converter.onDropDone = [&](const DropOutcome& o) { outcomes.push_back(o); };
  Drop(paths);
  ASSERT_EQ(outcomes.size(), 5u);
  EXPECT_EQ(outcomes[0].kind, DropOutcome::kConverted);
  EXPECT_EQ(outcomes[1].kind, DropOutcome::kNoGeometry);
  EXPECT_EQ(outcomes[2].kind, DropOutcome::kNoModel);
  EXPECT_EQ(outcomes[3].kind, DropOutcome::kConverted);  // a name without a dot: read by content
  EXPECT_EQ(outcomes[4].kind, DropOutcome::kConverted);
  EXPECT_TRUE(std::filesystem::exists(dir / "sub/a.LWO"));
  EXPECT_TRUE(std::filesystem::exists(dir / "b.LWO"));
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.LWO"));
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir.path()));
}

TEST_F(Converter_, WheelScalesTheZoomAndButtonsCapture) {
  ASSERT_TRUE(started);
  converter.State().zoom = 1.0f;
  Send(WM_MOUSEWHEEL, WPARAM(120) << 16);
  EXPECT_FLOAT_EQ(converter.State().zoom, 0.8f);
  Send(WM_MOUSEWHEEL, WPARAM(uint16_t(-120)) << 16);
  EXPECT_FLOAT_EQ(converter.State().zoom, 0.96f);
  Send(WM_RBUTTONDOWN);
  EXPECT_EQ(GetCapture(), library.MainWindow());
  Send(WM_RBUTTONUP);
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST(ConverterResources, MenuLabelsAndDialog) {
  const auto& items = resources::MenuPreviewItems();
  ASSERT_EQ(items.size(), 13u);
  EXPECT_EQ(items[8].label, Utf8ToCp932("\u3000保存\u3000  ( WZP 2008 -> DA Dizizu 2008 )"));
  EXPECT_EQ(items[12].id, 40007u);
  EXPECT_EQ(items[12].label, Utf8ToCp932("\u3000終了"));
  resources::RegisterMenuPreview();
  HMENU menu = LoadMenuA(nullptr, resources::kMenuPreview);
  EXPECT_EQ(MenuItems(menu).size(), 13u);
  DestroyMenu(menu);
  EXPECT_EQ(resources::CnvDlg().title, Utf8ToCp932("変換後"));
  EXPECT_EQ(resources::CnvDlg().radioButtons[3].id, 1443u);
}

}  // namespace
}  // namespace wz
