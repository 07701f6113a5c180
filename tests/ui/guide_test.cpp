// The user's guide: F1 in every window of the program and "Podręcznik" in the
// menu write the guide built into the program to the temporary folder and ask
// the shell to open it, also during a copy run, which goes on.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/ErrorReports.h"
#include "support/ShellRecorder.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/Guide.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

class Guide : public testing::Test {
 protected:
  void SetUp() override {
    test::StartProgram();
    DeleteFileW(win::Widen(GuidePath()).c_str());
  }
  void TearDown() override {
    ShutDown();
    test::Flush();
  }
  TForm1& Main() { return *App().form1; }
  // F1 as the keyboard sends it to the focused control, through the
  // program's own pump.
  void PressF1(HWND control) {
    PostMessageW(control, WM_KEYDOWN, VK_F1, 1);
    PumpMessages();
  }
  // The shell was asked once, by `owner`, for the file that holds the guide.
  void ExpectGuideOpened(HWND owner, const std::string& how) {
    ASSERT_EQ(shell.opened.size(), 1u) << how;
    EXPECT_EQ(shell.opened[0].owner, owner) << how;
    EXPECT_EQ(shell.opened[0].path, GuidePath()) << how;
    const std::string page = test::ReadFile(GuidePath());
    EXPECT_EQ(page, GuidePage()) << how;
    EXPECT_NE(page.find("<h1>Sektorian – Podręcznik</h1>"), std::string::npos) << how;
    // Its pictures travel inside it: it must work from the temporary folder.
    EXPECT_NE(page.find("src=\"data:image/png;base64,"), std::string::npos) << how;
    EXPECT_EQ(page.find("docs/img/"), std::string::npos) << how;
  }
  test::ShellRecorder shell;
  test::TempDir dir;
};

TEST_F(Guide, F1InEveryWindowAndTheMenuItemOpenIt) {
  struct Way {
    const char* how;
    std::function<HWND()> window;          // brought up, returns its window
    std::function<void(HWND window)> act;  // F1 or the menu item
  };
  auto f1On = [&](const char* control, std::function<Window&()> form) {
    return [this, control, form](HWND) { PressF1(form().Control(control)); };
  };
  const Way ways[] = {
      {"the menu item", [&] { return Main().hwnd(); },
       [&](HWND) {
         PostMessageW(Main().hwnd(), WM_COMMAND, MAKEWPARAM(Main().ControlId("Podrcznik1"), 0), 0);
         PumpMessages();
       }},
      {"F1 in the main window's file list", [&] { return Main().hwnd(); }, f1On("ListView1", [&]() -> Window& { return Main(); })},
      {"F1 in the settings dialog",
       [&] {
         App().form2->ShowModeless();
         return App().form2->hwnd();
       },
       f1On("TrackBar1", [&]() -> Window& { return *App().form2; })},
      {"F1 in \"Resumak\"",
       [&] {
         App().form3->ShowModeless();
         return App().form3->hwnd();
       },
       f1On("ListView1", [&]() -> Window& { return *App().form3; })},
      {"F1 in the read map window",
       [&] {
         Main().Mapaodczytu1Click();
         return Main().MapWindow().hwnd();
       },
       [&](HWND window) { PressF1(window); }},
  };
  for (const Way& way : ways) {
    shell.opened.clear();
    DeleteFileW(win::Widen(GuidePath()).c_str());
    const HWND window = way.window();
    test::Flush();
    way.act(window);
    ExpectGuideOpened(window, way.how);
  }
  // The menu item heads "Pomoc", with a separator after it.
  HMENU help = GetSubMenu(Main().MainMenu(), 3);
  EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(Main().ControlId("Podrcznik1")));
  EXPECT_EQ(GetMenuItemID(help, 1), 0u);
}

// F1 during a copy run: the guide opens while the run is under way, and the
// run goes on to its end. A shell that refuses is reported in the log then,
// never in a box that would hold the run; outside a run it gets the box.
TEST_F(Guide, F1DuringACopyRunOpensItAndTheRunGoesOn) {
  const std::string big = test::Pattern(60000, 1);
  test::WriteFile(dir / "duzy.bin", big);
  test::WriteFile(dir / "maly.bin", test::Pattern(10, 2));
  Main().AddFileToList(dir / "duzy.bin");
  Main().AddFileToList(dir / "maly.bin");
  Main().SetText("Edit1", dir / "wynik");
  App().form2->SetLevel(0);  // a byte a step: the first file takes a while
  std::vector<std::string> reports;
  test::ErrorReports collect(reports);
  for (const bool refused : {false, true}) {
    shell.opened.clear();
    shell.refuse = refused ? "brak przeglądarki" : "";
    Main().CopyRunFileHook = [&](int index) {
      if (index == 0) PostMessageW(Main().Control("ListView2"), WM_KEYDOWN, VK_F1, 1);
    };
    const size_t firstEntry = Main().EventLog().Count();
    Main().Button8Click();
    Main().CopyRunFileHook = nullptr;
    ASSERT_EQ(shell.opened.size(), 1u) << refused;
    EXPECT_TRUE(shell.opened[0].duringRun) << refused;
    EXPECT_EQ(test::ReadFile(dir / "wynik\\duzy.bin"), big) << refused;
    EXPECT_TRUE(test::FileExists(dir / "wynik\\maly.bin")) << refused;
    std::vector<std::string> entries;
    for (size_t i = firstEntry; i < Main().EventLog().Count(); ++i) entries.push_back(Main().EventLog().At(i).text);
    const bool logged = std::find(entries.begin(), entries.end(),
                                  "Błąd: Nie udało się otworzyć podręcznika: brak przeglądarki") != entries.end();
    EXPECT_EQ(logged, refused);
    EXPECT_TRUE(reports.empty());
  }
  PressF1(Main().Control("ListView1"));
  EXPECT_EQ(reports, std::vector<std::string>{"Nie udało się otworzyć podręcznika: brak przeglądarki."});
}

}  // namespace
}  // namespace sk::ui
