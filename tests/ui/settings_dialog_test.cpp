#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>

#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

std::vector<std::string>* g_reported = nullptr;
void CollectReport(const std::string& text) {
  if (g_reported) g_reported->push_back(text);
}

// Each test starts the program's three forms on a registry state of its own
// and leaves the settings key as it found it.
class SettingsDialog : public testing::Test {
 protected:
  void SetUp() override {
    test::Flush();
    test::DeleteSettingsKey();
  }
  void TearDown() override {
    if (started_) ShutDown();
    SetErrorSink(nullptr);
    g_reported = nullptr;
    test::Flush();  // the main window's end leaves a quit message behind
  }
  // Start-up with the error report collected instead of shown.
  void Start() {
    g_reported = &reported_;
    SetErrorSink(CollectReport);
    StartUp();
    started_ = true;
  }
  void Restart() {
    ShutDown();
    test::Flush();
    reported_.clear();
    StartUp();
  }
  void StoreAll(DWORD level, DWORD action, const std::wstring& folder, DWORD check, const std::wstring& runAfter) {
    test::PutSettingsDword(L"Level", level);
    test::PutSettingsDword(L"EndAction", action);
    test::PutSettingsString(L"LastCopyToFolder", folder);
    test::PutSettingsDword(L"CheckFiles", check);
    test::PutSettingsString(L"RunAfter", runAfter);
  }
  TForm1& Main() { return *App().form1; }
  TForm2& Dialog() { return *App().form2; }
  void Click(const char* name) { SendMessageW(Dialog().Control(name), BM_CLICK, 0, 0); }
  // Press an arrow key on the track bar the way the keyboard does.
  void TrackBarKey(WORD key) {
    HWND bar = Dialog().Control("TrackBar1");
    SetFocus(bar);
    SendMessageW(bar, WM_KEYDOWN, key, 0);
    SendMessageW(bar, WM_KEYUP, key, 0xC0000000);
  }
  void CloseMain() {
    HWND main = Main().hwnd();
    SendMessageW(main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
  }

  std::vector<std::string> reported_;
  bool started_ = false;
};

RECT Placement(const Window& form, const char* name) {
  RECT r{};
  GetWindowRect(form.Control(name), &r);
  MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

LOGFONTW FontOf(const Window& form, const char* name) {
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.Control(name), WM_GETFONT, 0, 0)), sizeof lf, &lf);
  return lf;
}

// ---------------------------------------------------------------- start-up and shut-down

TEST_F(SettingsDialog, FirstRunReportsLevelBeforeTheMainWindowShowsAndTheExitSaveMakesTheNextRunClean) {
  const std::string leftover = win::ExecutableFolder() + "Swapit.exe";
  test::WriteFile(leftover, "old updater");
  {
    test::MessageBoxAnswerer box(IDOK);
    StartUp();
    started_ = true;
    EXPECT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Sektorian");
    EXPECT_EQ(box.Text(), "Failed to get data for 'Level'");
  }
  EXPECT_FALSE(IsWindowVisible(Main().hwnd()));  // the box came before the main window was shown
  ASSERT_TRUE(App().form2 && App().form3);
  EXPECT_EQ(Main().Form2(), App().form2);
  EXPECT_EQ(Main().Form3(), App().form3);
  EXPECT_NE(App().taskbarCreated, 0u);
  EXPECT_EQ(App().taskbarCreated, RegisterWindowMessageW(L"TaskbarCreated"));
  EXPECT_FALSE(test::FileExists(leftover));
  EXPECT_TRUE(test::SettingsKeyExists());  // created by the main window's load
  EXPECT_FALSE(test::GetSettingsValue(L"Level").found);
  EXPECT_EQ(Main().Text("Edit1"), "");
  EXPECT_EQ(Dialog().Level(), 0);
  EXPECT_EQ(Dialog().ActionIndex(), 0);

  ShowWindow(Main().hwnd(), SW_SHOWNORMAL);
  CloseMain();
  EXPECT_TRUE(IsWindow(Dialog().hwnd()));  // the other forms stay until the end
  const auto level = test::GetSettingsValue(L"Level");
  EXPECT_EQ(level.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(level.Dword(), 0u);
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 0u);
  EXPECT_EQ(test::GetSettingsValue(L"CheckFiles").Dword(), 0u);
  EXPECT_EQ(test::GetSettingsValue(L"LastCopyToFolder").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(test::GetSettingsValue(L"LastCopyToFolder").data, std::string(2, '\0'));
  EXPECT_EQ(test::GetSettingsValue(L"RunAfter").Text(), L"");
  EXPECT_EQ(test::GetSettingsValue(L"ProgramPath").Text(), win::Widen(win::ExecutablePath()));

  g_reported = &reported_;
  SetErrorSink(CollectReport);
  Restart();
  EXPECT_TRUE(reported_.empty());
}

TEST_F(SettingsDialog, AStoredValueOfTheWrongTypeIsReportedByTheErrorBox) {
  StoreAll(2, 1, L"D:\\Kopie", 0, L"");
  test::PutSettingsString(L"Level", L"3");  // four bytes, but text
  {
    test::MessageBoxAnswerer box(IDOK);
    StartUp();
    started_ = true;
    EXPECT_EQ(box.Text(), "Invalid data type for 'Level'");
  }
  EXPECT_EQ(Main().Text("Edit1"), "D:\\Kopie");
  EXPECT_EQ(Dialog().ActionIndex(), 0);  // the load stopped at Level

  ShutDown();
  started_ = false;
  test::Flush();
  StoreAll(2, 1, L"", 0, L"");
  test::PutSettingsDword(L"LastCopyToFolder", 5);
  Start();  // the destination's failure goes to the event log, not the box
  EXPECT_TRUE(reported_.empty());
  EXPECT_EQ(Main().Text("Edit1"), "");
  EXPECT_EQ(Dialog().Level(), 2);
}

TEST_F(SettingsDialog, StoredValuesOutOfRangeShowClampedAndAreSavedSo) {
  StoreAll(7, 9, L"", 2, L"");
  Start();
  EXPECT_EQ(Dialog().Level(), 4);
  EXPECT_EQ(Dialog().Text("Label6"), "Poziom 5");
  EXPECT_EQ(Dialog().ActionIndex(), 5);
  EXPECT_TRUE(Dialog().Checked("RadioGroup1Item5"));
  EXPECT_TRUE(Dialog().SizeCheck());
  test::PutSettingsDword(L"EndAction", static_cast<DWORD>(-3));
  Click("Button3");  // "Anuluj" reloads
  EXPECT_EQ(Dialog().ActionIndex(), -1);
  CloseMain();
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 4u);
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 0xFFFFFFFFu);
  EXPECT_EQ(test::GetSettingsValue(L"CheckFiles").Dword(), 1u);
}

TEST(ErrorReport, AnEscapingErrorIsShownInTheStopBoxAndTheProgramGoesOn) {
  test::Flush();
  test::MessageBoxAnswerer box(IDOK);
  bool after = false;
  Guarded([] { throw std::runtime_error("I/O error 21"); });
  after = true;
  EXPECT_TRUE(box.Answered());
  EXPECT_EQ(box.Caption(), "Sektorian");
  EXPECT_EQ(box.Text(), "I/O error 21.");
  EXPECT_TRUE(after);
}

// ---------------------------------------------------------------- OK, "Anuluj", close

TEST_F(SettingsDialog, OkStoresAllSixAndTheNextStartLoadsThem) {
  StoreAll(2, 1, L"D:\\Stary", 0, L"");
  Start();
  EXPECT_EQ(Dialog().Text("Label6"), "Poziom 3");
  Dialog().ShowModeless();
  TrackBarKey(VK_RIGHT);
  EXPECT_EQ(Dialog().Level(), 3);
  EXPECT_EQ(Dialog().Text("Label6"), "Poziom 4");  // the label follows the track bar
  Click("RadioGroup1Item3");
  EXPECT_EQ(Dialog().ActionIndex(), 3);
  Dialog().SetText("Edit1", "C:\\Programy\\Zażółć gęślą.exe");
  Main().SetText("Edit1", "E:\\Odzyskane pliki");
  Click("Button2");
  EXPECT_FALSE(IsWindowVisible(Dialog().hwnd()));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 3u);
  EXPECT_EQ(test::GetSettingsValue(L"LastCopyToFolder").Text(), L"E:\\Odzyskane pliki");
  EXPECT_EQ(test::GetSettingsValue(L"ProgramPath").Text(), win::Widen(win::ExecutablePath()));
  EXPECT_EQ(test::GetSettingsValue(L"CheckFiles").Dword(), 0u);
  EXPECT_EQ(test::GetSettingsValue(L"RunAfter").Text(), L"C:\\Programy\\Zażółć gęślą.exe");

  Restart();
  EXPECT_TRUE(reported_.empty());
  EXPECT_EQ(Dialog().Level(), 3);
  EXPECT_EQ(Dialog().ActionIndex(), 3);
  EXPECT_EQ(Dialog().ProgramToRun(), "C:\\Programy\\Zażółć gęślą.exe");
  EXPECT_EQ(Main().Text("Edit1"), "E:\\Odzyskane pliki");
}

TEST_F(SettingsDialog, AnulujReloadsTheFourStoredValuesOnly) {
  StoreAll(1, 4, L"D:\\Cel", 0, L"C:\\a.exe");
  Start();
  Dialog().ShowModeless();
  TrackBarKey(VK_END);
  EXPECT_EQ(Dialog().Text("Label6"), "Poziom 5");
  Click("RadioGroup1Item0");
  Dialog().SetText("Edit1", "zmienione");
  Main().SetText("Edit1", "E:\\Inny");
  Click("Button3");
  EXPECT_FALSE(IsWindowVisible(Dialog().hwnd()));
  EXPECT_EQ(Dialog().Level(), 1);
  EXPECT_EQ(Dialog().Text("Label6"), "Poziom 2");
  EXPECT_EQ(Dialog().ActionIndex(), 4);
  EXPECT_EQ(Dialog().ProgramToRun(), "C:\\a.exe");
  EXPECT_EQ(Main().Text("Edit1"), "E:\\Inny");  // the destination is not reloaded
  EXPECT_EQ(test::GetSettingsValue(L"LastCopyToFolder").Text(), L"D:\\Cel");
}

TEST_F(SettingsDialog, TitleBarCloseOnlyHidesAndTheChangeIsSavedAtExit) {
  StoreAll(1, 0, L"", 0, L"");
  Start();
  Dialog().ShowModeless();
  TrackBarKey(VK_HOME);
  SendMessageW(Dialog().hwnd(), WM_CLOSE, 0, 0);
  test::Flush();
  EXPECT_TRUE(IsWindow(Dialog().hwnd()));
  EXPECT_FALSE(IsWindowVisible(Dialog().hwnd()));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 1u);
  Dialog().ShowModeless();  // shown again, with its unsaved state
  EXPECT_EQ(Dialog().Level(), 0);
  SendMessageW(App().form3->hwnd(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(App().form3->hwnd()));
  CloseMain();
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 0u);
}

TEST_F(SettingsDialog, EnterAndEscapePressNeitherButton) {
  StoreAll(1, 0, L"", 0, L"");
  Start();
  Dialog().ShowModeless();
  TrackBarKey(VK_RIGHT);
  for (WORD key : {VK_RETURN, VK_ESCAPE}) {
    SetFocus(Dialog().Control("Edit1"));
    PostMessageW(Dialog().Control("Edit1"), WM_KEYDOWN, key, 0);
    PumpMessages();  // through the program's message filter
    test::Flush();
    EXPECT_TRUE(IsWindowVisible(Dialog().hwnd()));
  }
  EXPECT_EQ(Dialog().Level(), 2);
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 1u);
  EXPECT_EQ(LOWORD(SendMessageW(Dialog().hwnd(), DM_GETDEFID, 0, 0)), 0);
}

// ---------------------------------------------------------------- the file dialog

// Fills in the open dialog's file name and confirms it, from another thread.
DWORD WINAPI ChooseFile(void* path) {
  for (int i = 0; i < 500; ++i) {
    HWND dlg = FindWindowW(L"#32770", L"Dodaj plik(i)");
    if (dlg && IsWindowVisible(dlg)) {
      Sleep(100);
      SetDlgItemTextW(dlg, 0x47C, static_cast<const wchar_t*>(path));  // the file name box
      PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
      return 0;
    }
    Sleep(20);
  }
  return 1;
}

TEST_F(SettingsDialog, TheFileButtonPutsTheChosenFileIntoEdit1AndCancelChangesNothing) {
  StoreAll(0, 0, L"", 0, L"C:\\przed.exe");
  Start();
  Dialog().ShowModeless();
  {
    test::MessageBoxAnswerer dialog(IDCANCEL);
    Dialog().Button1Click();
    EXPECT_TRUE(dialog.Answered());
    EXPECT_EQ(dialog.Caption(), "Dodaj plik(i)");
  }
  EXPECT_EQ(Dialog().ProgramToRun(), "C:\\przed.exe");

  test::TempDir dir;
  const std::string file = dir / "Narzędzie.exe";
  test::WriteFile(file, "MZ");
  const std::wstring wide = win::Widen(file);
  HANDLE t = CreateThread(nullptr, 0, ChooseFile, const_cast<wchar_t*>(wide.c_str()), 0, nullptr);
  Dialog().Button1Click();
  WaitForSingleObject(t, 15000);
  CloseHandle(t);
  EXPECT_EQ(Dialog().ProgramToRun(), file);
}

// Rescue mode: the check box under the level holds RescueMode. Whatever is
// stored (nothing, as in older installations, or a value of any type), the
// start shows no error box and logs no error; only a non-zero REG_DWORD
// checks the box. OK stores 1 or 0, "Anuluj" goes back to what is stored.
TEST_F(SettingsDialog, RescueModeBoxFollowsItsRegistryValue) {
  struct Case {
    const char* name;
    std::function<void()> store;
    bool checked;
  };
  const DWORD one = 1;
  const unsigned char eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  const Case cases[] = {
      {"missing", [] {}, false},
      {"REG_DWORD 0", [] { test::PutSettingsDword(L"RescueMode", 0); }, false},
      {"REG_DWORD 1", [] { test::PutSettingsDword(L"RescueMode", 1); }, true},
      {"REG_DWORD 7", [] { test::PutSettingsDword(L"RescueMode", 7); }, true},
      {"REG_SZ", [] { test::PutSettingsString(L"RescueMode", L"1"); }, false},
      {"REG_BINARY of 4 bytes", [&] { test::PutSettingsValue(L"RescueMode", REG_BINARY, &one, 4); }, false},
      {"REG_DWORD of 8 bytes", [&] { test::PutSettingsValue(L"RescueMode", REG_DWORD, eight, 8); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (started_) {
      ShutDown();
      started_ = false;
      test::Flush();
      reported_.clear();
    }
    test::DeleteSettingsKey();
    StoreAll(1, 0, L"", 0, L"");
    c.store();
    Start();
    EXPECT_TRUE(reported_.empty());
    for (size_t i = 0; i < Main().EventLog().Count(); ++i) EXPECT_NE(Main().EventLog().At(i).kind, ekError);
    EXPECT_EQ(Dialog().RescueMode(), c.checked);
    EXPECT_EQ(Dialog().Level(), 1);  // the other values load as before
  }

  // Checked with the mouse and stored by OK, as REG_DWORD 1.
  Dialog().ShowModeless();
  Click("CheckBox2");
  EXPECT_TRUE(Dialog().RescueMode());
  Click("Button2");
  EXPECT_EQ(test::GetSettingsValue(L"RescueMode").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(test::GetSettingsValue(L"RescueMode").Dword(), 1u);
  // Unchecked, then "Anuluj": checked again from the registry.
  Dialog().ShowModeless();
  Click("CheckBox2");
  EXPECT_FALSE(Dialog().RescueMode());
  Click("Button3");
  EXPECT_TRUE(Dialog().RescueMode());
  // Unchecked and the program closed: 0 is stored, and loaded next time.
  Dialog().ShowModeless();
  Click("CheckBox2");
  CloseMain();
  EXPECT_EQ(test::GetSettingsValue(L"RescueMode").Dword(), 0u);
  Restart();
  EXPECT_FALSE(Dialog().RescueMode());
}

// ---------------------------------------------------------------- the dialog's controls

TEST_F(SettingsDialog, ControlsTextsAndGeometryAsDesigned) {
  StoreAll(0, 0, L"", 0, L"");
  Start();
  TForm2& d = Dialog();
  d.ShowModeless();
  test::Flush();
  EXPECT_EQ(test::WindowText(d.hwnd()), "Opcje programu");
  RECT client{};
  GetClientRect(d.hwnd(), &client);
  EXPECT_EQ(client.right, Dpi(476));
  EXPECT_EQ(client.bottom, Dpi(471));
  const LONG style = GetWindowLongW(d.hwnd(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  struct Row {
    const char* name;
    const char* text;
    int x, y, w, h;  // in the dialog's client area; w 0: sized to its text
  };
  const Row rows[] = {
      {"Label1", "Opcje programu", 8, 8, 0, 0},
      {"GroupBox1", " Poziom kopiowania ", 8, 48, 461, 177},
      {"Label7",
       "Poniżej ustaw poziom kopiowania. Im szybszy, tym masz mniej pewności, że operacja kopiowania skończy się "
       "sukcesem. Najwolniejszy, ale najbardziej skuteczny jest poziom zerowy.",
       16, 68, 445, 45},
      {"TrackBar1", "", 28, 116, 413, 33},
      {"Label2", "Jakość", 16, 152, 0, 0},
      {"Label4", "Szybkość", 404, 152, 0, 0},
      {"Label6", "Poziom 1", 16, 172, 445, 19},
      {"CheckBox2", "Tryb ratunkowy: pomijaj nieczytelne miejsca i zapisuj mapę odczytu", 20, 198, 437, 17},
      {"RadioGroup1", " Po skopiowaniu wszystkich plików... ", 8, 228, 461, 145},
      {"Edit1", "", 176, 304, 261, 21},
      {"Button1", "...", 440, 304, 21, 21},
      {"GroupBox2", " Dodatkowe opcje ", 8, 376, 461, 57},
      {"CheckBox1", "Po skończeniu kopiowania pliku, sprawdź czy ma taki sam rozmiar jak źródło", 20, 396, 381, 17},
      {"Label8", "[ będzie zapisane w dzienniku zdarzeń ]", 40, 412, 423, 13},
      {"Button3", "Anuluj", 308, 440, 77, 25},
      {"Button2", "OK", 392, 440, 77, 25},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_NE(d.Control(r.name), nullptr);
    EXPECT_EQ(d.Text(r.name), r.text);
    const RECT p = Placement(d, r.name);
    EXPECT_EQ(p.left, Dpi(r.x));
    EXPECT_EQ(p.top, Dpi(r.y));
    if (r.w) EXPECT_EQ(p.right - p.left, Dpi(r.w));
    if (r.h) EXPECT_EQ(p.bottom - p.top, Dpi(r.h));
  }

  const char* items[] = {"Nic nie rób",    "Pokaż komunikat", "Zminimalizuj do traya", "Uruchom wybrany program:",
                         "Wyłącz program", "Wyłącz komputer"};
  for (int i = 0; i < TForm2::kRadioItems; ++i) {
    const std::string name = TForm2::RadioItemName(i);
    EXPECT_EQ(d.Text(name), items[i]);
    const RECT p = Placement(d, name.c_str());
    EXPECT_GE(p.top, Dpi(228));
    EXPECT_LE(p.bottom, Dpi(228 + 145));
    if (i == 3) {  // on Edit1's line, its caption clear of the field
      EXPECT_LE(p.top, Dpi(304 + 21 / 2));
      EXPECT_GE(p.bottom, Dpi(304 + 21 / 2));
      EXPECT_LE(p.right, Dpi(176));
    }
    EXPECT_EQ(GetWindowLongW(d.Control(name), GWL_STYLE) & BS_TYPEMASK, BS_AUTORADIOBUTTON);
  }

  EXPECT_EQ(SendMessageW(d.Control("TrackBar1"), TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageW(d.Control("TrackBar1"), TBM_GETRANGEMAX, 0, 0), 4);
  EXPECT_EQ(SendMessageW(d.Control("TrackBar1"), TBM_GETTHUMBLENGTH, 0, 0), Dpi(15));
  EXPECT_EQ(SendMessageW(d.Control("TrackBar1"), TBM_GETNUMTICS, 0, 0), 5);
  EXPECT_TRUE(GetWindowLongW(d.Control("TrackBar1"), GWL_STYLE) & TBS_BOTH);

  const LOGFONTW heading = FontOf(d, "Label1");
  EXPECT_STREQ(heading.lfFaceName, L"Tahoma");
  EXPECT_EQ(heading.lfHeight, -Dpi(24));
  EXPECT_STREQ(FontOf(d, "Label2").lfFaceName, L"Trebuchet MS");
  EXPECT_EQ(FontOf(d, "Label2").lfWeight, FW_BOLD);
  EXPECT_EQ(FontOf(d, "Label6").lfHeight, -Dpi(16));
  EXPECT_EQ(FontOf(d, "Label6").lfWeight, FW_BOLD);
  EXPECT_EQ(FontOf(d, "Label7").lfHeight, -Dpi(12));
  EXPECT_EQ(FontOf(d, "Label8").lfHeight, -Dpi(9));
  EXPECT_EQ(FontOf(d, "Button2").lfWeight, FW_BOLD);
  EXPECT_EQ(FontOf(d, "Button3").lfWeight, FW_NORMAL);
  EXPECT_EQ(FontOf(d, "Edit1").lfCharSet, EASTEUROPE_CHARSET);

  for (const char* name : {"Button2", "Button3"})
    EXPECT_EQ(GetWindowLongW(d.Control(name), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  for (const char* name : {"GroupBox2", "CheckBox1", "Label8"}) EXPECT_FALSE(d.Enabled(name)) << name;
  EXPECT_TRUE(d.Enabled("Edit1"));
  EXPECT_EQ(d.ActionIndex(), 0);
}

TEST_F(SettingsDialog, TabOrderSkipsTheDisabledSizeCheck) {
  StoreAll(0, 2, L"", 0, L"");
  Start();
  TForm2& d = Dialog();
  d.ShowModeless();
  const std::vector<std::string> order = {"TrackBar1", "CheckBox2", "RadioGroup1Item2", "Edit1", "Button1",
                                          "Button2",   "Button3",   "TrackBar1"};
  HWND at = d.Control(order[0]);
  for (size_t i = 1; i < order.size(); ++i) {
    at = GetNextDlgTabItem(d.hwnd(), at, FALSE);
    EXPECT_EQ(d.ControlName(GetDlgCtrlID(at)), order[i]) << "after " << order[i - 1];
  }
}

// ---------------------------------------------------------------- closing during a run

TEST_F(SettingsDialog, ClosingTheMainWindowDuringARunStopsItThenSavesOnceAndEnds) {
  StoreAll(1, 0, L"", 0, L"");
  Start();
  HWND main = Main().hwnd();
  ShowWindow(main, SW_SHOWNORMAL);
  Dialog().SetLevel(3);
  bool stopRequested = false, secondStop = false;
  bool savedDuringRun = false;
  {
    // A stand-in copy run: it pumps messages until it is asked to stop.
    TForm1::RunInProgress run(Main(), RunKind::Copy, [&] { stopRequested = true; });
    ASSERT_TRUE(run.Began());
    PostMessageW(main, WM_CLOSE, 0, 0);
    PostMessageW(main, WM_CLOSE, 0, 0);  // the user closes twice
    const DWORD start = GetTickCount();
    while (!stopRequested && GetTickCount() - start < 5000) PumpMessages();
    test::Flush();
    EXPECT_TRUE(stopRequested);
    EXPECT_TRUE(IsWindow(main));
    EXPECT_TRUE(Main().ClosePending());
    savedDuringRun = test::GetSettingsValue(L"Level").Dword() != 1;
    // No run begins while the close is pending.
    TForm1::RunInProgress late(Main(), RunKind::Search, [&] { secondStop = true; });
    EXPECT_FALSE(late.Began());
    EXPECT_FALSE(secondStop);
  }
  EXPECT_FALSE(savedDuringRun);
  ASSERT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);

  // After the close nothing writes to the registry again.
  test::PutSettingsDword(L"Level", 9);
  Dialog().Button2Click();
  test::Flush();
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 9u);
}

}  // namespace
}  // namespace sk::ui
