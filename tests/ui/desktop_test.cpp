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

std::vector<std::string>* g_reports = nullptr;
void CollectReport(const std::string& text) {
  if (g_reports) g_reports->push_back(text);
}

// Records every call that would reach the shell's taskbar list.
class RecordingTaskbar : public ITaskbar {
 public:
  struct Value {
    uint64_t completed, total;
  };
  std::vector<HWND> windows;
  std::vector<TaskbarState> states;
  std::vector<Value> values;
  int flashes = 0;

  void SetProgressValue(HWND window, uint64_t completed, uint64_t total) override {
    windows.push_back(window);
    values.push_back({completed, total});
  }
  void SetProgressState(HWND window, TaskbarState state) override {
    windows.push_back(window);
    states.push_back(state);
  }
  void Flash(HWND window) override {
    windows.push_back(window);
    ++flashes;
  }
  void Clear() { *this = {}; }
};

// A drop as Explorer makes one: the paths in a DROPFILES block, at `at` in
// the window's client coordinates, sent as WM_DROPFILES.
void Drop(HWND window, const Paths& paths, POINT at, bool post = true) {
  std::wstring names;
  for (const auto& p : paths) names += win::Widen(p) + L'\0';
  names += L'\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->pt = at;
  drop->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  if (post)
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  else
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

std::string Clipboard() {
  std::string text;
  if (!OpenClipboard(nullptr)) return "<closed>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = win::Narrow(static_cast<const wchar_t*>(GlobalLock(data)));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

void PutClipboard(const std::wstring& text) {
  OpenClipboard(nullptr);
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
}

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    test::Flush();
    test::PutCompleteSettings(4, false);
    g_reports = &reports;
    SetErrorSink(CollectReport);
    StartUp();
    Main().SetTrayShell(&tray);
    Main().SetTaskbar(&taskbar);
    ShowWindow(Main().hwnd(), SW_SHOWNORMAL);
    test::Flush();
  }
  void TearDown() override {
    ShutDown();
    SetErrorSink(nullptr);
    g_reports = nullptr;
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
  int LogSelected() {
    return static_cast<int>(SendMessageW(Main().Control("ListView2"), LVM_GETSELECTEDCOUNT, 0, 0));
  }

  test::SettingsKeyBackup backup;  // outlives the forms, which save at close
  std::vector<std::string> reports;
  test::FakeTrayShell tray;
  RecordingTaskbar taskbar;
  test::TempDir dir;
};

TEST_F(Desktop, DropsAddFilesAndWalkFoldersAsATypedPathDoes) {
  const std::string a = Make("a.bin", 5), b = Make("b.bin", 7);
  CreateDirectoryW(win::Widen(dir / "f").c_str(), nullptr);
  CreateDirectoryW(win::Widen(dir / "f\\g").c_str(), nullptr);
  Make("f\\x.txt", 3);
  Make("f\\g\\y.txt", 11);
  Make("f\\z.txt", 2);
  const std::string folder = dir / "f";
  // The same folder typed into the prompt, for comparison.
  Main().AddFolderToList(folder);
  Paths walked = Main().ListCaptions(), walkedSizes;
  for (int i = 0; i < Main().ListCount(); ++i) walkedSizes.push_back(Main().ListSizeText(i));
  ASSERT_EQ(walked.size(), 3u);

  struct Case {
    const char* name;
    Paths dropped;
    const char* on;
    Paths list, sizes;
    std::string destination;
  };
  Paths list{a}, sizes{"5 B"};
  list.insert(list.end(), walked.begin(), walked.end());
  sizes.insert(sizes.end(), walkedSizes.begin(), walkedSizes.end());
  list.push_back(b);
  sizes.push_back("7 B");
  const Case cases[] = {
      {"two files and a folder on the list", {a, folder, b}, "ListView1", list, sizes, ""},
      {"a file and a folder on the destination field", {b, folder}, "Edit1", {}, {}, folder},
      {"a file alone on the destination field", {a}, "Edit1", {}, {}, ""},
      {"a folder on the destination's browse button", {folder}, "Button5", {}, {}, folder},
  };
  for (const Case& c : cases) {
    Main().Button4Click();
    Main().SetText("Edit1", "");
    Drop(Main().hwnd(), c.dropped, CentreOf(c.on));
    test::PumpUntil([&] { return Main().ListCount() == static_cast<int>(c.list.size()); }, 3000);
    test::Flush();
    EXPECT_EQ(Main().ListCaptions(), c.list) << c.name;
    Paths shownSizes;
    for (int i = 0; i < Main().ListCount(); ++i) shownSizes.push_back(Main().ListSizeText(i));
    EXPECT_EQ(shownSizes, c.sizes) << c.name;
    EXPECT_EQ(Main().Text("Edit1"), c.destination) << c.name;
  }

  // While a copy runs, a drop on the list or on the field does nothing.
  Main().Button4Click();
  Main().AddFileToList(a);
  Main().SetText("Edit1", dir / "wynik");
  Main().CopyRunFileHook = [&](int) {
    Drop(Main().hwnd(), {b, folder}, CentreOf("ListView1"), false);
    Drop(Main().hwnd(), {folder}, CentreOf("Edit1"), false);
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
  struct Case {
    const char* name;
    bool missingFirst;  // a listed file that is not there fails first
    bool stop;
    bool background;  // another window is in front when the run ends
    std::vector<TaskbarState> states;
    int flashes;
  };
  using S = TaskbarState;
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
    taskbar.Clear();
    const DWORD start = GetTickCount();
    Main().Button8Click();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(taskbar.states, c.states) << c.name;
    EXPECT_EQ(taskbar.flashes, c.flashes) << c.name;
    for (HWND w : taskbar.windows) EXPECT_EQ(w, Main().TaskbarWindow()) << c.name;
    // One value at most per refresh (every 100 ms, and at each file's end),
    // none per step: the copy made 60000 one-byte steps.
    EXPECT_LE(taskbar.values.size(), elapsed / 100 + 4) << c.name;
    uint64_t last = 0;
    for (const auto& v : taskbar.values) {
      EXPECT_EQ(v.total, 60000u) << c.name;
      EXPECT_GE(v.completed, last) << c.name;
      last = v.completed;
    }
    if (!c.stop) EXPECT_FALSE(taskbar.values.empty()) << c.name;
  }
  DestroyWindow(other);

  // The button belongs to the application's window: its text is the
  // application title, the main window keeps its caption and is owned by it.
  HWND button = Main().TaskbarWindow();
  ASSERT_NE(button, Main().hwnd());
  EXPECT_EQ(test::WindowText(button), "Sektorian");
  EXPECT_EQ(test::WindowText(Main().hwnd()), "Sektorian 1.1.0 (2008-02-03)");
  EXPECT_EQ(GetWindow(Main().hwnd(), GW_OWNER), button);
  EXPECT_EQ(GetWindow(button, GW_OWNER), nullptr);
  // The button is there while the main window is shown; its minimise sends
  // the window to the tray, and activating it activates the main window.
  EXPECT_TRUE(IsWindowVisible(button));
  SendMessageW(button, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  test::Flush();
  EXPECT_FALSE(IsWindowVisible(Main().hwnd()));
  EXPECT_FALSE(IsWindowVisible(button));
  EXPECT_TRUE(Main().TrayIcon1->IconVisible());
  Main().Poka1Click();
  test::Flush();
  EXPECT_TRUE(IsWindowVisible(Main().hwnd()));
  EXPECT_TRUE(IsWindowVisible(button));
  EXPECT_FALSE(IsIconic(button));
  SetForegroundWindow(button);
  EXPECT_TRUE(test::PumpUntil([&] { return GetActiveWindow() == Main().hwnd(); }, 2000));

  // A resume run shows its own bar's range and position the same way.
  test::WriteFile(dir / "r.bin", test::Pattern(3000, 5));
  test::WriteFile(dir / "r-kopia.bin", test::Pattern(1000, 5));
  Resumak().AddPair(dir / "r.bin", dir / "r-kopia.bin");
  taskbar.Clear();
  Resumak().Button1Click();
  EXPECT_EQ(test::ReadFile(dir / "r-kopia.bin"), test::Pattern(3000, 5));
  EXPECT_EQ(taskbar.states, (std::vector<TaskbarState>{S::Normal, S::None}));
  ASSERT_FALSE(taskbar.values.empty());
  EXPECT_EQ(taskbar.values.back().completed, 3000u);
  EXPECT_EQ(taskbar.values.back().total, 3000u);
  EXPECT_TRUE(reports.empty()) << reports.front();

  // The button's Close closes the main window, which ends the program.
  SendMessageW(button, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(Main().hwnd()));
}

TEST_F(Desktop, KeysActWhereTheFocusIsAndTabFollowsReadingOrder) {
  Main().AddFileToList(Make("a.bin", 1));
  Main().AddFileToList(Make("b.bin", 2));
  Main().LogEvent("Druga linia dziennika", ekInfo);
  Main().SetText("Edit1", "C:\\cel");
  SetForegroundWindow(Main().hwnd());
  const std::string logText = [&] {
    std::string text;
    for (size_t i = 0; i < Main().EventLog().Count(); ++i)
      text += (i ? "\r\n" : "") + Main().EventLog().At(i).text;
    return text;
  }();
  struct Case {
    const char* name;
    const char* focus;
    bool ctrl;
    WORD key;
    int listCount;
    std::string field;
    std::string clipboard;  // what the clipboard holds afterwards
    int logSelected;
  };
  const int all = static_cast<int>(Main().EventLog().Count());
  // In order: each case starts where the one before left off.
  const Case cases[] = {
      {"Ctrl+A in the field selects its text", "Edit1", true, 'A', 2, "C:\\cel", "przedtem", 0},
      {"Ctrl+C in the field copies its text", "Edit1", true, 'C', 2, "C:\\cel", "C:\\cel", 0},
      {"Del in the field deletes the selection", "Edit1", false, VK_DELETE, 2, "", "C:\\cel", 0},
      {"Ctrl+A in the log selects every entry", "ListView2", true, 'A', 2, "", "C:\\cel", all},
      {"Ctrl+C in the log copies the entries", "ListView2", true, 'C', 2, "", logText, all},
      {"Ctrl+C in the file list is still the clear command", "ListView1", true, 'C', 0, "", logText, all},
      {"Ctrl+A in the log after it", "ListView2", true, 'A', 0, "", logText, all},
  };
  PutClipboard(L"przedtem");
  for (const Case& c : cases) {
    SetFocus(Main().Control(c.focus));
    Press(c.key, c.ctrl);
    EXPECT_EQ(Main().ListCount(), c.listCount) << c.name;
    EXPECT_EQ(Main().Text("Edit1"), c.field) << c.name;
    EXPECT_EQ(Clipboard(), c.clipboard) << c.name;
    EXPECT_EQ(LogSelected(), c.logSelected) << c.name;
    if (std::string(c.name).starts_with("Ctrl+A in the field")) {
      DWORD from = 1, to = 0;
      SendMessageW(Main().Control("Edit1"), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
      EXPECT_EQ(from, 0u);
      EXPECT_EQ(to, 6u);
    }
  }

  // Tab and Shift+Tab: every control that takes the focus, in reading order
  // (Stop is off while no copy runs), round and back.
  const Paths order{"ListView1", "Button1", "Button2", "Button8", "Button3", "Button4",
                    "Edit1",     "Button5", "Button7", "ListView2", "CheckBox1"};
  SetFocus(Main().Control("ListView1"));
  Paths forward{FocusName()}, backward{FocusName()};
  for (size_t i = 0; i < order.size(); ++i) {
    Press(VK_TAB, false);
    forward.push_back(FocusName());
  }
  for (size_t i = 0; i < order.size(); ++i) {
    Press(VK_TAB, false, true);
    backward.push_back(FocusName());
  }
  Paths round = order, back{order[0]};
  round.push_back(order[0]);
  back.insert(back.end(), order.rbegin(), order.rend());
  EXPECT_EQ(forward, round);
  EXPECT_EQ(backward, back);
  EXPECT_EQ(Main().ListCount(), 0);
  EXPECT_TRUE(reports.empty()) << reports.front();
}

TEST_F(Desktop, LogMenuCopiesTheSelectionAndSavesTheWholeLog) {
  Main().LogEvent("Błąd: Odmowa dostępu", ekError);
  Main().LogEvent("Rozmiar plików jest taki sam - sukces", ekSuccess);
  Main().LogEvent("Zamykanie plików", ekInfo);
  HWND log = Main().Control("ListView2");
  const int count = static_cast<int>(Main().EventLog().Count());
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
  auto select = [&](std::vector<int> rows) {
    ListView_SetItemState(log, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int row : rows) ListView_SetItemState(log, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  };
  RECT screen{};
  GetWindowRect(log, &screen);
  struct Case {
    const char* name;
    std::vector<int> rows;
    bool keyboard;  // the menu key rather than the right button
    const char* choose;
    bool copyOn;
    std::string clipboard;
  };
  const Case cases[] = {
      {"nothing selected: no copy", {}, false, "Kopiuj1", false, "przedtem"},
      {"two entries by the menu key", {count - 2, count - 1}, true, "Kopiuj1", true,
       "Rozmiar plików jest taki sam - sukces\r\nZamykanie plików"},
      {"one entry by the right button", {count - 3}, false, "Kopiuj1", true, "Błąd: Odmowa dostępu"},
  };
  PutClipboard(L"przedtem");
  for (const Case& c : cases) {
    select(c.rows);
    answer = static_cast<UINT>(Main().ControlId(c.choose));
    const POINT click{screen.left + 20, screen.top + 30};
    SendMessageW(log, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(log),
                 c.keyboard ? static_cast<LPARAM>(-1) : MAKELPARAM(click.x, click.y));
    ASSERT_FALSE(shown.empty()) << c.name;
    EXPECT_EQ(shown.back().copyOn, c.copyOn) << c.name;
    EXPECT_TRUE(shown.back().saveOn) << c.name;
    const POINT at = shown.back().at;
    if (!c.keyboard) EXPECT_TRUE(at.x == click.x && at.y == click.y) << c.name;
    EXPECT_TRUE(PtInRect(&screen, at)) << c.name;
    EXPECT_EQ(Clipboard(), c.clipboard) << c.name;
  }

  // "Zapisz dziennik...": a name typed without its extension gets ".txt".
  std::string title;
  {
    test::WhileModal drive(Main().hwnd(), [&] {
      HWND w = test::WhileModal::OwnedWindow(Main().hwnd(), L"#32770");
      if (!w || !GetDlgItem(w, IDOK)) return false;
      title = test::WindowText(w);
      HWND name = GetDlgItem(w, cmb13);
      if (!name) name = GetDlgItem(w, edt1);
      SetWindowTextW(name, win::Widen(dir / "dziennik").c_str());
      PostMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(w, IDOK)));
      return true;
    });
    answer = static_cast<UINT>(Main().ControlId("Zapiszdziennik1"));
    SendMessageW(log, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(log), static_cast<LPARAM>(-1));
    EXPECT_TRUE(drive.Done() && !drive.TimedOut());
  }
  EXPECT_EQ(title, "Zapisz dziennik");
  const std::string saved = test::ReadFile(dir / "dziennik.txt");
  const std::string head = "\xEF\xBB\xBF[Sukces] Uruchomiono Sektorian, wersja 1.1.0\r\n";
  const std::string tail =
      "[Błąd] Błąd: Odmowa dostępu\r\n[Sukces] Rozmiar plików jest taki sam - sukces\r\n[Info] Zamykanie plików\r\n";
  EXPECT_EQ(saved.substr(0, head.size()), head);
  ASSERT_GE(saved.size(), tail.size());
  EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);
  size_t lines = 0;
  for (size_t at = 0; (at = saved.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
  EXPECT_EQ(lines, static_cast<size_t>(count));

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
