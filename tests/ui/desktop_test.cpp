// The main window as a Windows user expects it beyond its own commands, on the
// program's own forms: drops from Explorer, the taskbar button during a run,
// keys where the focus is and Tab, the event log's menu and its saved file.
#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ErrorReports.h"
#include "support/FakeTrayShell.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

using Paths = std::vector<std::string>;

// Records every call that would reach the shell's taskbar list.
struct RecordingTaskbar : ITaskbar {
  std::vector<HWND> windows;
  std::vector<TaskbarState> states;
  std::vector<std::pair<uint64_t, uint64_t>> values;  // completed, total
  int flashes = 0;
  void SetProgressValue(HWND w, uint64_t done, uint64_t total) override {
    windows.push_back(w);
    values.emplace_back(done, total);
  }
  void SetProgressState(HWND w, TaskbarState state) override {
    windows.push_back(w);
    states.push_back(state);
  }
  void Flash(HWND w) override {
    windows.push_back(w);
    ++flashes;
  }
};

using test::Drop;

// The clipboard's text; Empty() leaves none.
struct Clipboard {
  static std::string Text() {
    std::string text;
    if (!OpenClipboard(nullptr)) return "<closed>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      text = win::Narrow(static_cast<const wchar_t*>(GlobalLock(data)));
      GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
  }
  static void Empty() {
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
  }
};

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    test::Flush();
    test::PutCompleteSettings(4, false);
    StartUp();
    Main().SetTrayShell(&tray);
    Main().SetTaskbar(&taskbar);
    ShowWindow(Main().hwnd(), SW_SHOWNORMAL);
    test::Flush();
  }
  void TearDown() override {
    ShutDown();
    test::Flush();  // a closed main window leaves a quit message behind
  }

  TForm1& Main() { return *App().form1; }
  TForm2& Dialog() { return *App().form2; }
  TForm3& Resumak() { return *App().form3; }
  std::string Make(const std::string& name, size_t size) {
    test::WriteFile(dir / name, test::Pattern(size));
    return dir / name;
  }
  // The middle of a control in the main window's client coordinates.
  POINT CentreOf(const char* control) {
    RECT r{};
    GetWindowRect(Main().Control(control), &r);
    POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ScreenToClient(Main().hwnd(), &at);
    return at;
  }
  // A key press on the focused control as the message loop meets it: through
  // the program's filter, else to the control.
  void Press(WORD key, bool ctrl, bool shift = false) {
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    memcpy(keys, saved, sizeof keys);
    for (int vk : {VK_CONTROL, VK_LCONTROL}) keys[vk] = ctrl ? 0x80 : 0;
    for (int vk : {VK_SHIFT, VK_LSHIFT}) keys[vk] = shift ? 0x80 : 0;
    for (int vk : {VK_RSHIFT, VK_MENU, VK_LMENU, VK_RMENU, VK_RCONTROL}) keys[vk] = 0;
    SetKeyboardState(keys);
    MSG msg{GetFocus(), WM_KEYDOWN, key, 1, GetTickCount(), {}};
    if (!FilterMessage(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    test::Flush();
    SetKeyboardState(saved);
  }
  std::string FocusName() { return Main().ControlName(GetDlgCtrlID(GetFocus())); }
  // The file list's rows as "caption | size text".
  Paths Rows() {
    Paths rows;
    for (int i = 0; i < Main().ListCount(); ++i) rows.push_back(Main().ListCaption(i) + " | " + Main().ListSizeText(i));
    return rows;
  }

  test::SettingsKeyBackup backup;  // outlives the forms, which save at close
  std::vector<std::string> reports;
  test::ErrorReports collecting{reports};
  test::FakeTrayShell tray;
  RecordingTaskbar taskbar;
  test::TempDir dir;
};

TEST_F(Desktop, DropsAddFilesAndWalkFoldersAsATypedPathDoes) {
  const std::string a = Make("a.bin", 5), b = Make("b.bin", 7), folder = dir / "f";
  CreateDirectoryW(win::Widen(folder).c_str(), nullptr);
  CreateDirectoryW(win::Widen(folder + "\\g").c_str(), nullptr);
  for (auto [name, size] : {std::pair{"x.txt", 3}, {"g\\y.txt", 11}, {"z.txt", 2}}) Make(std::string("f\\") + name, size);
  // The same folder as a typed path adds these rows.
  Main().AddFolderToList(folder);
  const Paths walked = Rows();
  ASSERT_EQ(walked.size(), 3u);
  Paths list{a + " | 5 B"};
  list.insert(list.end(), walked.begin(), walked.end());
  list.push_back(b + " | 7 B");

  struct Case {
    const char* name;
    Paths dropped;
    const char* on;
    Paths rows;
    std::string destination;
  };
  const Case cases[] = {
      {"two files and a folder on the list", {a, folder, b}, "ListView1", list, ""},
      {"a file and a folder on the destination field", {b, folder}, "Edit1", {}, folder},
      {"a file alone on the destination field", {a}, "Edit1", {}, ""},
      {"a folder on the destination's browse button", {folder}, "Button5", {}, folder},
  };
  for (const Case& c : cases) {
    Main().Button4Click();
    Main().SetText("Edit1", "");
    Drop(Main().hwnd(), c.dropped, CentreOf(c.on));
    EXPECT_EQ(Rows(), c.rows) << c.name;
    EXPECT_EQ(Main().Text("Edit1"), c.destination) << c.name;
  }

  // While a copy runs, a drop on the list or on the field does nothing.
  Main().Button4Click();
  Main().AddFileToList(a);
  Main().SetText("Edit1", dir / "wynik");
  Main().CopyRunFileHook = [&](int) {
    Drop(Main().hwnd(), {b, folder}, CentreOf("ListView1"));
    Drop(Main().hwnd(), {folder}, CentreOf("Edit1"));
  };
  Main().Button8Click();
  EXPECT_EQ(Main().ListCaptions(), (Paths{a}));
  EXPECT_EQ(Main().Text("Edit1"), dir / "wynik");
  EXPECT_TRUE(reports.empty()) << reports.front();
}

TEST_F(Desktop, TaskbarButtonShowsARunsProgressAtItsPacedMoments) {
  const std::string big = Make("duzy.bin", 60000);
  HWND other = CreateWindowExW(0, WC_STATICW, L"inny", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
  using S = TaskbarState;
  struct Case {
    const char* name;
    bool missingFirst;  // a listed file that is not there fails first
    bool stop;
    bool background;  // another window is in front when the run ends
    std::vector<TaskbarState> states;
    int flashes;
  };
  const Case cases[] = {
      {"all copied, in front", false, false, false, {S::Normal, S::None}, 0},
      {"a file failed, behind another window", true, false, true, {S::Normal, S::Error, S::None}, 1},
      {"stopped", false, true, false, {S::Normal, S::Paused, S::None}, 0},
  };
  Dialog().SetLevel(0);
  for (const Case& c : cases) {
    Main().Button4Click();
    if (c.missingFirst) Main().AddFileToList(dir / "brak.bin");
    Main().AddFileToList(big);
    Main().SetText("Edit1", dir / "wynik");
    SetForegroundWindow(c.background ? other : Main().hwnd());
    test::Flush();
    Main().CopyRunFileHook = [&](int index) {
      if (c.stop && index == 0) PostMessageW(Main().Control("Button65"), BM_CLICK, 0, 0);
    };
    taskbar = {};
    const DWORD start = GetTickCount();
    Main().Button8Click();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(taskbar.states, c.states) << c.name;
    EXPECT_EQ(taskbar.flashes, c.flashes) << c.name;
    for (HWND w : taskbar.windows) EXPECT_EQ(w, Main().TaskbarWindow()) << c.name;
    // One value at most per refresh (every 100 ms, and at each file's end),
    // none per step: the copy made 60000 one-byte steps.
    EXPECT_LE(taskbar.values.size(), elapsed / 100 + 4) << c.name;
    EXPECT_TRUE(c.stop || !taskbar.values.empty()) << c.name;
    for (size_t i = 0; i < taskbar.values.size(); ++i) {
      EXPECT_EQ(taskbar.values[i].second, 60000u) << c.name;
      if (i) EXPECT_GE(taskbar.values[i].first, taskbar.values[i - 1].first) << c.name;
    }
  }
  DestroyWindow(other);

  // A resume run shows its own bar's range and position the same way.
  test::WriteFile(dir / "r.bin", test::Pattern(3000, 5));
  test::WriteFile(dir / "r-kopia.bin", test::Pattern(1000, 5));
  Resumak().AddPair(dir / "r.bin", dir / "r-kopia.bin");
  taskbar = {};
  Resumak().Button1Click();
  EXPECT_EQ(test::ReadFile(dir / "r-kopia.bin"), test::Pattern(3000, 5));
  EXPECT_EQ(taskbar.states, (std::vector<TaskbarState>{S::Normal, S::None}));
  ASSERT_FALSE(taskbar.values.empty());
  EXPECT_EQ(taskbar.values.back(), (std::pair<uint64_t, uint64_t>{3000, 3000}));

  // The button is the application window's: its text is the application
  // title, the main window keeps its caption and is owned by it.
  HWND button = Main().TaskbarWindow();
  EXPECT_EQ(test::WindowText(button), "Sektorian");
  EXPECT_EQ(test::WindowText(Main().hwnd()), "Sektorian 1.1.0 (2008-02-03)");
  EXPECT_EQ(GetWindow(Main().hwnd(), GW_OWNER), button);
  // It is there while the main window is shown; its minimise sends the
  // window to the tray, activating it activates the main window, and its
  // Close closes the main window.
  EXPECT_TRUE(IsWindowVisible(button));
  SendMessageW(button, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_FALSE(IsWindowVisible(Main().hwnd()) || IsWindowVisible(button));
  EXPECT_TRUE(Main().TrayIcon1->IconVisible());
  Main().Poka1Click();
  EXPECT_TRUE(IsWindowVisible(Main().hwnd()) && IsWindowVisible(button) && !IsIconic(button));
  SetForegroundWindow(button);
  EXPECT_TRUE(test::PumpUntil([&] { return GetActiveWindow() == Main().hwnd(); }, 2000));
  SendMessageW(button, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(Main().hwnd()));
  EXPECT_TRUE(reports.empty()) << reports.front();
}

TEST_F(Desktop, KeysActWhereTheFocusIsAndTabFollowsReadingOrder) {
  Main().AddFileToList(Make("a.bin", 1));
  Main().AddFileToList(Make("b.bin", 2));
  Main().LogEvent("Druga linia dziennika", ekInfo);
  Main().SetText("Edit1", "C:\\cel");
  const std::string log = "Uruchomiono Sektorian, wersja 1.1.0\r\nDruga linia dziennika";
  struct Case {
    const char* name;
    const char* focus;
    bool ctrl;
    WORD key;
    int listCount;
    std::string field, clipboard;
    int logSelected;
  };
  // In order: each case starts where the one before left off.
  const Case cases[] = {
      {"Ctrl+A in the field selects its text", "Edit1", true, 'A', 2, "C:\\cel", "", 0},
      {"Ctrl+C in the field copies its text", "Edit1", true, 'C', 2, "C:\\cel", "C:\\cel", 0},
      {"Del in the field deletes the selected text", "Edit1", false, VK_DELETE, 2, "", "C:\\cel", 0},
      {"Ctrl+A in the log selects every entry", "ListView2", true, 'A', 2, "", "C:\\cel", 2},
      {"Ctrl+C in the log copies the entries", "ListView2", true, 'C', 2, "", log, 2},
      {"Ctrl+C in the file list is still the clear command", "ListView1", true, 'C', 0, "", log, 2},
  };
  Clipboard::Empty();
  for (const Case& c : cases) {
    SetFocus(Main().Control(c.focus));
    Press(c.key, c.ctrl);
    EXPECT_EQ(Main().ListCount(), c.listCount) << c.name;
    EXPECT_EQ(Main().Text("Edit1"), c.field) << c.name;
    EXPECT_EQ(Clipboard::Text(), c.clipboard) << c.name;
    EXPECT_EQ(SendMessageW(Main().Control("ListView2"), LVM_GETSELECTEDCOUNT, 0, 0), c.logSelected) << c.name;
  }

  // Tab and Shift+Tab: every control that takes the focus, in reading order
  // (Stop is off while no copy runs), round and back.
  const Paths order{"ListView1", "Button1", "Button2", "Button8", "Button3", "Button4",
                    "Edit1",     "Button5", "Button7", "ListView2", "CheckBox1", "ListView1"};
  SetFocus(Main().Control("ListView1"));
  for (bool back : {false, true}) {
    Paths visited{FocusName()};
    for (size_t i = 1; i < order.size(); ++i) {
      Press(VK_TAB, false, back);
      visited.push_back(FocusName());
    }
    EXPECT_EQ(visited, back ? Paths(order.rbegin(), order.rend()) : order);
  }
  EXPECT_TRUE(reports.empty()) << reports.front();
}

TEST_F(Desktop, LogMenuCopiesTheSelectionAndSavesTheWholeLog) {
  Main().LogEvent("Błąd: Odmowa dostępu", ekError);
  Main().LogEvent("Rozmiar plików jest taki sam - sukces", ekSuccess);
  Main().LogEvent("Zamykanie plików", ekInfo);
  HWND log = Main().Control("ListView2");
  struct Shown {
    bool copyOn, saveOn;
    POINT at;
  };
  std::vector<Shown> shown;
  UINT answer = 0;
  Main().TrackLogMenu = [&](HMENU menu, POINT at) {
    auto on = [&](const char* item) {
      return !(GetMenuState(menu, static_cast<UINT>(Main().ControlId(item)), MF_BYCOMMAND) & MF_GRAYED);
    };
    shown.push_back({on("Kopiuj1"), on("Zapiszdziennik1"), at});
    return answer;
  };
  RECT screen{};
  GetWindowRect(log, &screen);
  const POINT click{screen.left + 20, screen.top + 30};
  struct Case {
    const char* name;
    std::vector<int> rows;  // selected
    bool keyboard;          // the menu key rather than the right button
    bool copyOn;
    std::string clipboard;
  };
  const Case cases[] = {
      {"nothing selected: no copy", {}, false, false, ""},
      {"two entries by the menu key", {2, 3}, true, true, "Rozmiar plików jest taki sam - sukces\r\nZamykanie plików"},
      {"one entry by the right button", {1}, false, true, "Błąd: Odmowa dostępu"},
  };
  Clipboard::Empty();
  answer = static_cast<UINT>(Main().ControlId("Kopiuj1"));
  for (const Case& c : cases) {
    ListView_SetItemState(log, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int row : c.rows) ListView_SetItemState(log, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(log, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(log), c.keyboard ? -1 : MAKELPARAM(click.x, click.y));
    ASSERT_FALSE(shown.empty()) << c.name;
    EXPECT_EQ(shown.back().copyOn, c.copyOn) << c.name;
    EXPECT_TRUE(shown.back().saveOn) << c.name;
    const POINT at = shown.back().at;
    EXPECT_TRUE(c.keyboard ? PtInRect(&screen, at) : at.x == click.x && at.y == click.y) << c.name;
    EXPECT_EQ(Clipboard::Text(), c.clipboard) << c.name;
  }

  // "Zapisz dziennik...": a name typed without its extension gets ".txt".
  std::string title;
  {
    test::WhileModal drive(Main().hwnd(), [&] {
      HWND w = test::WhileModal::OwnedWindow(Main().hwnd(), L"#32770");
      if (!w || !GetDlgItem(w, IDOK)) return false;
      title = test::WindowText(w);
      HWND name = GetDlgItem(w, cmb13) ? GetDlgItem(w, cmb13) : GetDlgItem(w, edt1);
      SetWindowTextW(name, win::Widen(dir / "dziennik").c_str());
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
      return true;
    });
    answer = static_cast<UINT>(Main().ControlId("Zapiszdziennik1"));
    SendMessageW(log, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(log), -1);
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(title, "Zapisz dziennik");
  EXPECT_EQ(test::ReadFile(dir / "dziennik.txt"),
            "\xEF\xBB\xBF[Sukces] Uruchomiono Sektorian, wersja 1.1.0\r\n[Błąd] Błąd: Odmowa dostępu\r\n"
            "[Sukces] Rozmiar plików jest taki sam - sukces\r\n[Info] Zamykanie plików\r\n");

  // Into a folder that is not there: the failure says which file.
  const std::string missing = dir / "brak\\dziennik.txt";
  try {
    Main().SaveLog(missing);
    ADD_FAILURE() << "saving into a missing folder succeeded";
  } catch (const std::exception& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("Nie udało się zapisać dziennika do pliku " + missing + ": "))
        << e.what();
  }
  EXPECT_TRUE(reports.empty()) << reports.front();
}

}  // namespace
}  // namespace sk::ui
