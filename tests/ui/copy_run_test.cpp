// The copy run on the program's own forms with real files: Start, the locked
// window, the after-copy actions, closing during a run, and never a copy run
// beside a resume run.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/ErrorReports.h"
#include "support/FakeTrayShell.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/ImageForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"
#include "win/WinReboot.h"

namespace sk::ui {
namespace {

// Records the shut-down calls instead of making them.
class FakeReboot : public win::TWinReboot {
 public:
  std::vector<unsigned> calls;

 protected:
  bool CallExitWindowsEx(unsigned flags) override {
    calls.push_back(flags);
    return true;
  }
};

constexpr const char* kRunControls[] = {"ListView1", "Button1", "Button2", "Button3", "Button4",
                                        "Button8",   "Edit1",   "Button5", "Button7"};
constexpr const char* kTopMenus[] = {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"};
constexpr const char* kShortfall = "Błąd: Nie wszystkie pliki zostały skopiowane";

class CopyRun : public testing::Test {
 protected:
  void SetUp() override {
    test::Flush();
    test::PutCompleteSettings(1, true);
    StartUp();
    Main().SetTrayShell(&tray);
    Main().SetWinReboot(&reboot);
    Dialog().SetLevel(4);
    ShowWindow(Main().hwnd(), SW_SHOWNORMAL);
    test::Flush();
    firstEntry = Main().EventLog().Count();
  }
  void TearDown() override {
    ShutDown();
    test::Flush();  // a closed main window leaves a quit message behind
  }

  TForm1& Main() { return *App().form1; }
  TForm2& Dialog() { return *App().form2; }
  TForm3& Resumak() { return *App().form3; }

  // The log's entries since the test began.
  std::vector<std::string> Entries() {
    std::vector<std::string> texts;
    for (size_t i = firstEntry; i < Main().EventLog().Count(); ++i) texts.push_back(Main().EventLog().At(i).text);
    return texts;
  }
  bool Logged(const std::string& text) {
    const auto e = Entries();
    return std::find(e.begin(), e.end(), text) != e.end();
  }
  int CountOf(const std::string& text) {
    const auto e = Entries();
    return static_cast<int>(std::count(e.begin(), e.end(), text));
  }
  std::string Source(const std::string& name, size_t size, unsigned salt) {
    test::WriteFile(dir / name, test::Pattern(size, salt));
    return dir / name;
  }
  // A level-0 run over a large file and a small one into dir\wynik, the
  // after-copy action `action`; a test ends it early from the run's hook.
  // Returns the large file's bytes.
  std::string ListALongCopyThenAShortOne(int action) {
    const std::string big = test::Pattern(300000, 1);
    test::WriteFile(dir / "duzy.bin", big);
    Main().AddFileToList(dir / "duzy.bin");
    Main().AddFileToList(Source("b.bin", 10, 2));
    Main().SetText("Edit1", dir / "wynik");
    Dialog().SetLevel(0);
    Dialog().SetActionIndex(action);
    return big;
  }
  // The run ended inside the large file: its copy is a strict prefix and the
  // small file was never started.
  void ExpectEndedInsideTheLongCopy(const std::string& big) {
    const std::string copied = test::ReadFile(dir / "wynik\\duzy.bin");
    EXPECT_LT(copied.size(), big.size());
    EXPECT_EQ(copied, big.substr(0, copied.size()));
    EXPECT_FALSE(test::FileExists(dir / "wynik\\b.bin"));
  }
  // Start pressed as the user presses it: errors reach the error report.
  void PressStart() { SendMessageW(Main().Control("Button7"), BM_CLICK, 0, 0); }
  void CloseMain() {
    HWND main = Main().hwnd();
    SendMessageW(main, WM_CLOSE, 0, 0);
  }
  void ExpectIdle() {
    for (const char* c : kRunControls) EXPECT_TRUE(Main().Enabled(c)) << c;
    for (const char* m : kTopMenus) EXPECT_TRUE(Main().TopMenuEnabled(m)) << m;
    EXPECT_FALSE(Main().Enabled("Button65"));
    EXPECT_TRUE(Dialog().ActionChoiceEnabled());
    EXPECT_TRUE(Main().ListHints());
    EXPECT_FALSE(Resumak().StartHeld());
    EXPECT_FALSE(Main().CopyRunning());
    EXPECT_FALSE(Main().StopRequested());
  }

  test::SettingsKeyBackup backup;  // outlives the forms, which save at close
  test::TempDir dir;
  test::FakeTrayShell tray;
  FakeReboot reboot;
  std::vector<std::string> reports;
  test::ErrorReports collecting{reports};
  size_t firstEntry = 0;
};

TEST_F(CopyRun, FilesWithOneNameVanishedSourcesAndANewFolder) {
  CreateDirectoryW(win::Widen(dir / "a").c_str(), nullptr);
  CreateDirectoryW(win::Widen(dir / "b").c_str(), nullptr);
  const std::string first = Source("a\\plik.bin", 5000, 1);
  const std::string second = Source("b\\plik.bin", 3001, 2);
  const std::string gone = Source("zniknie.bin", 100, 3);
  const std::string last = Source("ostatni.bin", 70000, 4);
  for (const auto& path : {first, gone, second, last}) Main().AddFileToList(path);
  DeleteFileW(win::Widen(gone).c_str());
  const std::string out = dir / "wynik";
  Main().SetText("Edit1", out);

  PressStart();
  EXPECT_TRUE(reports.empty());
  // The later file of one name does not replace the earlier one: it is saved
  // under a numbered name, and the log says so.
  EXPECT_EQ(test::ReadFile(out + "\\plik.bin"), test::Pattern(5000, 1));
  EXPECT_EQ(test::ReadFile(out + "\\plik (2).bin"), test::Pattern(3001, 2));
  EXPECT_EQ(test::ReadFile(out + "\\ostatni.bin"), test::Pattern(70000, 4));
  EXPECT_FALSE(test::FileExists(out + "\\zniknie.bin"));
  const auto e = Entries();
  ASSERT_GE(e.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(e.begin(), e.begin() + 4),
            (std::vector<std::string>{"Tworzenie folderu docelowego", "Wyłączanie komponentów",
                                      "Liczenie rozmiaru plików", "Rozpoczynanie kopiowania plików"}));
  EXPECT_TRUE(Logged("Błąd: File not found"));
  const auto saveAs = std::find(e.begin(), e.end(), "Zapisywanie jako plik (2).bin");
  ASSERT_NE(saveAs, e.end());
  EXPECT_EQ(saveAs[-1], "Rozpoczynanie kopiowania pliku plik.bin");
  EXPECT_EQ(CountOf("Zapisywanie jako plik (2).bin"), 1);
  // The vanished file is the one not copied, and the run went on past it.
  EXPECT_EQ(std::vector<std::string>(e.end() - 3, e.end()),
            (std::vector<std::string>{std::string(kShortfall) + " (3 z 4)", "Zakończono kopiowanie plików",
                                      "Włączanie komponentów"}));
  EXPECT_EQ(CountOf("Zakończono kopiowanie pliku ostatni.bin"), 1);
  EXPECT_EQ(CountOf("Rozmiar plików jest taki sam - sukces"), 3);  // the dialog's size check is on
  ExpectIdle();
  // The overall bar reached the total of the files that were there.
  HWND bar2 = Main().Control("ProgressBar2");
  EXPECT_EQ(SendMessageW(bar2, PBM_GETRANGE, FALSE, 0), 5000 + 3001 + 70000);
  EXPECT_EQ(SendMessageW(bar2, PBM_GETPOS, 0, 0), 5000 + 3001 + 70000);

  // A second run over an existing folder: everything copied, no shortfall.
  DeleteFileW(win::Widen(out + "\\plik.bin").c_str());
  SendMessageW(Main().Control("ListView1"), LVM_DELETEITEM, 1, 0);  // the vanished one
  firstEntry = Main().EventLog().Count();
  PressStart();
  EXPECT_FALSE(Logged("Tworzenie folderu docelowego"));
  EXPECT_EQ(CountOf(std::string(kShortfall) + " (3 z 3)"), 0);
  EXPECT_EQ(Entries().back(), "Włączanie komponentów");
  // "plik (2).bin" was there before this run and is kept.
  EXPECT_EQ(test::ReadFile(out + "\\plik.bin"), test::Pattern(5000, 1));
  EXPECT_EQ(test::ReadFile(out + "\\plik (3).bin"), test::Pattern(3001, 2));
}

// "Resumak" finishes pairs with a read map at the level a copy run takes:
// the settings dialog's, whatever it is at the moment.
TEST_F(CopyRun, ResumakTakesTheSettingsLevel) {
  for (int level : {0, 3, 4, 1}) {
    Dialog().SetLevel(level);
    EXPECT_EQ(Resumak().Level(), level);
  }
}

TEST_F(CopyRun, EmptyListEmptyDestinationAndAMissingParent) {
  PressStart();  // nothing listed: nothing at all
  EXPECT_TRUE(Entries().empty());

  Main().AddFileToList(Source("a.bin", 10, 1));
  Main().SetText("Edit1", "");
  {
    test::MessageBoxAnswerer box;
    PressStart();
    ASSERT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Błąd");
    EXPECT_EQ(box.Text(), "Kopiowanie przerwane. Proszę uzupełnić pole 'Skopiuj pliki do katalogu'.");
  }
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Błąd: Nieuzupełnione pole folderu docelowego"}));
  ExpectIdle();

  // The parent of the destination is missing: the error report's own box.
  firstEntry = Main().EventLog().Count();
  Main().SetText("Edit1", dir / "nie-ma\\wynik");
  SetErrorSink(nullptr);
  {
    test::MessageBoxAnswerer box;
    PressStart();
    ASSERT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Sektorian");
    EXPECT_EQ(box.Text(), "Invalid filename.");
  }
  collecting.Collect();
  EXPECT_EQ(Entries(), (std::vector<std::string>{"Tworzenie folderu docelowego"}));
  EXPECT_FALSE(test::FileExists(dir / "nie-ma"));
  ExpectIdle();
}

TEST_F(CopyRun, TheWindowIsLockedDuringARunAndItsShortcutsDoNothing) {
  Main().AddFileToList(Source("a.bin", 20000, 1));
  Main().AddFileToList(Source("b.bin", 20000, 2));
  Main().SetText("Edit1", dir / "wynik");
  test::WriteFile(dir / "r.bin", test::Pattern(50, 3));
  test::WriteFile(dir / "r-kopia.bin", "");
  Resumak().AddPair(dir / "r.bin", dir / "r-kopia.bin");
  ShowWindow(Main().hwnd(), SW_SHOWNORMAL);
  SetFocus(Main().Control("Button7"));
  int calls = 0;
  Main().CopyRunFileHook = [&](int index) {
    ++calls;
    EXPECT_EQ(index, calls - 1);
    if (index != 0) return;
    for (const char* c : kRunControls) EXPECT_FALSE(Main().Enabled(c)) << c;
    for (const char* m : kTopMenus) EXPECT_FALSE(Main().TopMenuEnabled(m)) << m;
    EXPECT_TRUE(Main().Enabled("Button65"));
    EXPECT_EQ(GetFocus(), Main().Control("Button65"));  // the keyboard reaches Stop
    EXPECT_FALSE(Dialog().ActionChoiceEnabled());
    EXPECT_FALSE(Main().ListHints());
    EXPECT_TRUE(Main().CopyRunning());
    // The shortcuts of the locked menus, as the message loop meets them.
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    memcpy(keys, saved, sizeof keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    SetKeyboardState(keys);
    for (WORD key : {'C', 'U', 'F', 'Y', 'K', 'M'}) {  // clear the list, settings, resume tool, close, update, map
      MSG msg{Main().hwnd(), WM_KEYDOWN, key, 1, GetTickCount(), {}};
      FilterMessage(msg);
    }
    SetKeyboardState(saved);
    // A second Start, and the resume tool's Start, do nothing.
    Main().Button8Click();
    EXPECT_TRUE(Resumak().StartHeld());
    EXPECT_FALSE(Resumak().Enabled("Button1"));
    Resumak().Button1Click();
  };
  Main().Button8Click();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Main().ListCount(), 2);
  EXPECT_TRUE(IsWindow(Main().hwnd()));
  EXPECT_FALSE(IsWindowVisible(Dialog().hwnd()));
  EXPECT_FALSE(IsWindowVisible(Resumak().hwnd()));
  EXPECT_EQ(FindWindowW(L"TForm4", nullptr), nullptr);  // the map window only opens in rescue mode
  EXPECT_EQ(CountOf("Wyłączanie komponentów"), 1);
  EXPECT_EQ(test::ReadFile(dir / "r-kopia.bin"), "");
  EXPECT_EQ(test::ReadFile(dir / "wynik\\b.bin"), test::Pattern(20000, 2));
  ExpectIdle();
  EXPECT_EQ(GetFocus(), Main().Control("Button7"));
  // Unlocked, the resume tool runs again.
  Resumak().Button1Click();
  EXPECT_EQ(test::ReadFile(dir / "r-kopia.bin"), test::Pattern(50, 3));
}

TEST_F(CopyRun, StopEndsTheFileInHandAndTheRunStillActs) {
  const std::string big = ListALongCopyThenAShortOne(1);
  Main().CopyRunFileHook = [&](int index) {
    if (index == 0) PostMessageW(Main().Control("Button65"), BM_CLICK, 0, 0);  // arrives in the copy's pump
  };
  {
    test::MessageBoxAnswerer box;
    Main().Button8Click();
    ASSERT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Informacja");
    EXPECT_EQ(box.Text(), "Nie wszystkie pliki zostały skopiowane (0 z 2).");
    EXPECT_EQ(box.Boxes().back().icon, "warning");
  }
  ExpectEndedInsideTheLongCopy(big);
  const auto e = Entries();
  EXPECT_EQ(std::vector<std::string>(e.end() - 4, e.end()),
            (std::vector<std::string>{std::string(kShortfall) + " (0 z 2)", "Zakończono kopiowanie plików",
                                      "Włączanie komponentów", "Wyświetlanie komunikatu o skończonym kopiowaniu"}));
  ExpectIdle();
}

TEST_F(CopyRun, MinimiseRunAProgramAndShutDown) {
  Main().AddFileToList(Source("a.bin", 10, 1));
  Main().SetText("Edit1", dir / "wynik");
  ShowWindow(Main().hwnd(), SW_SHOWNORMAL);

  Dialog().SetActionIndex(2);
  Main().Button8Click();
  EXPECT_TRUE(Logged("Minimalizowanie aplikacji"));
  EXPECT_TRUE(test::PumpUntil([&] { return !IsWindowVisible(Main().hwnd()); }));

  // The chosen program starts with its own folder as working folder.
  const std::string folder = dir / "po kopiowaniu";
  CreateDirectoryW(win::Widen(folder).c_str(), nullptr);
  const std::string program = folder + "\\zapisz start.exe";
  test::WriteFile(program, test::ReadFile(win::ExecutableFolder() + "record_start.exe"));
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, L"SektorianTestUpdaterStarted");
  Dialog().SetActionIndex(3);
  Dialog().SetProgramToRun(program);
  firstEntry = Main().EventLog().Count();
  Main().Button8Click();
  EXPECT_TRUE(Logged("Uruchamianie wybranej aplikacji"));
  EXPECT_TRUE(test::PumpUntil([&] { return WaitForSingleObject(started, 0) == WAIT_OBJECT_0; }, 20000));
  CloseHandle(started);
  const std::string record = test::ReadFile(folder + "\\started.txt");
  EXPECT_NE(record.find("dir=" + folder + "\n"), std::string::npos) << record;
  EXPECT_NE(record.find("show=1\n"), std::string::npos) << record;
  // Let the program end before its folder goes.
  const auto pidAt = record.find("pid=");
  if (pidAt != std::string::npos) {
    const DWORD pid = std::stoul(record.substr(pidAt + 4));
    if (HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
      WaitForSingleObject(p, 10000);
      CloseHandle(p);
    }
  }

  Dialog().SetActionIndex(5);
  firstEntry = Main().EventLog().Count();
  Main().Button8Click();
  EXPECT_TRUE(Logged("Zamykanie systemu"));
  EXPECT_EQ(reboot.calls, std::vector<unsigned>{5u});
}

TEST_F(CopyRun, CloseActionClosesAfterTheRunAndSavesOnce) {
  Main().AddFileToList(Source("a.bin", 10, 1));
  Main().SetText("Edit1", dir / "wynik");
  HWND main = Main().hwnd();
  Dialog().SetActionIndex(4);
  Dialog().SetLevel(3);
  Main().Button8Click();
  EXPECT_TRUE(Logged("Zamykanie aplikacji"));
  // The close waits for the run's handler to return, then saves.
  EXPECT_TRUE(IsWindow(main));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 1u);
  ASSERT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 4u);
  // Nothing saves again.
  test::PutSettingsDword(L"Level", 9);
  test::Flush();
  Dialog().Button2Click();
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 9u);
  EXPECT_TRUE(reports.empty());
}

// A main window whose settings dialog was never created runs with the
// stored settings (the size check, the after-copy action) and its close, the
// action's, saves them as they were stored.
TEST(CopyRunWithoutTheSettingsDialog, TakesTheStoredSettings) {
  test::Flush();
  test::SettingsKeyBackup backup;
  test::PutCompleteSettings(3, true);
  test::PutSettingsDword(L"EndAction", 4);  // "Wyłącz program"
  test::TempDir dir;
  test::ErrorReports reports;
  TForm1 main;
  main.Create();
  main.ConnectForms();
  test::WriteFile(dir / "a.bin", test::Pattern(10, 1));
  main.AddFileToList(dir / "a.bin");
  main.SetText("Edit1", dir / "wynik");
  HWND hwnd = main.hwnd();
  main.Button8Click();
  ASSERT_TRUE(test::PumpUntil([hwnd] { return !IsWindow(hwnd); }));
  std::vector<std::string> texts;
  for (size_t i = 0; i < main.EventLog().Count(); ++i) {
    texts.push_back(main.EventLog().At(i).text);
    EXPECT_NE(main.EventLog().At(i).kind, ekError) << texts.back();
  }
  for (const char* expected : {"Rozmiar plików jest taki sam - sukces", "Zamykanie aplikacji"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
  EXPECT_EQ(test::ReadFile(dir / "wynik\\a.bin"), test::Pattern(10, 1));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 4u);
  EXPECT_EQ(test::GetSettingsValue(L"CheckFiles").Dword(), 1u);
  test::Flush();  // the closed window's quit message
}

TEST_F(CopyRun, ClosingDuringARunStopsItSavesOnceAndSkipsTheAction) {
  const std::string big = ListALongCopyThenAShortOne(5);
  HWND main = Main().hwnd();
  // Every window of the program open: the close hides them all at once.
  const std::vector<Window*> windows = {&Dialog(), &Resumak(), &Main().MapWindow(), &Main().ImageWindow()};
  for (Window* w : windows) w->ShowModeless();
  Main().CopyRunFileHook = [&](int index) {
    if (index == 0) PostMessageW(main, WM_CLOSE, 0, 0);
  };
  Main().Button8Click();
  for (size_t k = 0; k < windows.size(); ++k) EXPECT_FALSE(IsWindowVisible(windows[k]->hwnd())) << k;
  ExpectEndedInsideTheLongCopy(big);
  EXPECT_TRUE(reboot.calls.empty());
  EXPECT_FALSE(Logged("Zamykanie systemu"));
  EXPECT_EQ(Entries().back(), "Włączanie komponentów");
  EXPECT_FALSE(Main().StopRequested());
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 1u);
  ASSERT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 0u);
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 5u);
}

TEST_F(CopyRun, ClosingDuringAFolderSearchStopsItListsNothingAndSavesOnce) {
  for (unsigned i = 0; i < 30; ++i) Source("f" + std::to_string(i) + ".bin", 1, i);
  HWND main = Main().hwnd();
  Dialog().SetLevel(3);
  PostMessageW(main, WM_CLOSE, 0, 0);  // arrives in the search's first pump
  Main().AddFolderToList(dir.path());
  EXPECT_TRUE(Main().FileFinder1.Stopped());
  EXPECT_LT(Main().FileFinder1.FilesFound.size(), 30u);
  EXPECT_EQ(Main().ListCount(), 0);
  EXPECT_TRUE(IsWindow(main));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 1u);
  ASSERT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
  // Nothing saves again.
  test::PutSettingsDword(L"Level", 9);
  test::Flush();
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 9u);
  EXPECT_TRUE(reports.empty());
}

TEST_F(CopyRun, AResumeRunHoldsTheMainStartAndAClosingStopsIt) {
  Main().AddFileToList(Source("a.bin", 10, 1));
  Main().SetText("Edit1", dir / "wynik");
  const std::string source = test::Pattern(60000, 5);
  test::WriteFile(dir / "r.bin", source);
  test::WriteFile(dir / "r-kopia.bin", source.substr(0, 100));
  Resumak().AddPair(dir / "r.bin", dir / "r-kopia.bin");
  const auto wired = Resumak().RunHook();
  ASSERT_TRUE(wired);
  HWND main = Main().hwnd();
  bool checked = false, close = false;
  Resumak().SetRunHook([&](bool running) {
    wired(running);
    if (!running) return;
    checked = true;
    EXPECT_FALSE(Main().Enabled("Button7"));
    Main().Button8Click();  // does nothing
    EXPECT_TRUE(Entries().empty());
    if (!close) return;
    // With the close pending, not even what a resume run allows starts.
    EXPECT_TRUE(Main().Runs().May(RunCommand::ListEdit));
    SendMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(Main().ClosePending());
    EXPECT_FALSE(Main().Runs().May(RunCommand::ListEdit));
    Main().Button4Click();
    EXPECT_EQ(Main().ListCount(), 1);
  });
  Resumak().Button1Click();
  EXPECT_TRUE(checked);
  EXPECT_EQ(test::ReadFile(dir / "r-kopia.bin"), source);
  EXPECT_TRUE(Main().Enabled("Button7"));
  EXPECT_FALSE(Main().RunActive());

  // Closing the main window during a resume run stops it, then the program ends.
  test::WriteFile(dir / "r-kopia.bin", source.substr(0, 100));
  close = true;
  Resumak().Button1Click();
  const std::string resumed = test::ReadFile(dir / "r-kopia.bin");
  EXPECT_LT(resumed.size(), source.size());
  EXPECT_EQ(resumed, source.substr(0, resumed.size()));
  EXPECT_TRUE(IsWindow(main));
  ASSERT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 4u);
}

// Runs `step` when this thread next dispatches its messages: inside the
// message pump of whatever runs then.
class OnNextPump {
 public:
  explicit OnNextPump(std::function<void()> step) : step_(std::move(step)) {
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    original_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
    PostMessageW(window_, WM_APP, 0, 0);
  }
  ~OnNextPump() { DestroyWindow(window_); }

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<OnNextPump*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (msg == WM_APP && self) {
      self->step_();
      return 0;
    }
    return CallWindowProcW(self ? self->original_ : DefWindowProcW, w, msg, wp, lp);
  }
  std::function<void()> step_;
  HWND window_ = nullptr;
  WNDPROC original_ = nullptr;
};

// One run at a time, through the real windows: while each kind of run is
// under way, what may start, what the window shows of it, and that every
// command tried then through its own handler starts nothing (an update check
// during a resume run, a "Resumak" Start during an update check, a dialog or
// a menu that would hold the run among them).
TEST_F(CopyRun, OneRunAtATime) {
  const struct Row {
    const char* name;
    // Start, "Resumak"'s Start, update check, list edit, folder search, drop, save the log, "Dodaj plik(i)",
    // the destination's "...", the map window's dialogs, "Resumak"'s "Dodaj plik", the settings' "...",
    // the settings dialog, "O programie", the pop-up menus, the image's Start and "Zapisz pliki", the image's
    // dialogs: as RunCommand counts them
    bool may[kRunCommands];
  } table[] = {
      {"nothing", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"copy run", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"resume run", {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
      {"folder search", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
      {"update check", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  Main().AddFileToList(Source("a.bin", 10, 1));
  Main().SetText("Edit1", dir / "wynik");
  Main().SetUpdateBaseAddress("http://127.0.0.2/");  // no server: a check would end with a box
  Main().SetUpdateFolder(dir.path());
  const std::string source = test::Pattern(60000, 5);
  test::WriteFile(dir / "r.bin", source);
  test::WriteFile(dir / "r-kopia.bin", "");
  Resumak().AddPair(dir / "r.bin", dir / "r-kopia.bin");
  TForm4& mapWindow = Main().MapWindow();
  TForm5& imageWindow = Main().ImageWindow();  // Ctrl+D opens it during any run
  int logMenus = 0;
  Main().TrackLogMenu = [&](HMENU, POINT) { return ++logMenus, 0u; };
  auto grey = [&](const char* item) {
    return (GetMenuState(Main().MainMenu(), static_cast<UINT>(Main().ControlId(item)), MF_BYCOMMAND) & MF_GRAYED) != 0;
  };

  std::vector<RunKind> probed;
  auto probe = [&](RunKind kind) {
    const Row& row = table[static_cast<int>(kind)];
    auto may = [&](RunCommand c) { return row.may[static_cast<int>(c)]; };
    SCOPED_TRACE(row.name);
    probed.push_back(kind);
    ASSERT_EQ(Main().Runs().Running(), kind);
    for (int i = 0; i < kRunCommands; ++i) EXPECT_EQ(Main().Runs().May(static_cast<RunCommand>(i)), row.may[i]) << i;
    EXPECT_EQ(grey("Aktualizacjaprogramu1"), !may(RunCommand::UpdateCheck));
    if (kind != RunKind::Resume) EXPECT_EQ(Resumak().StartHeld(), !may(RunCommand::ResumeStart));
    // What opens a dialog is greyed whenever it may not start.
    EXPECT_EQ(Main().Enabled("Button1") && !grey("Dodajplik1"), may(RunCommand::AddFiles));
    EXPECT_EQ(Main().Enabled("Button5"), may(RunCommand::ChooseFolder));
    EXPECT_EQ(!grey("Oprogramie1"), may(RunCommand::About));
    EXPECT_EQ(mapWindow.Enabled("Button1"), may(RunCommand::MapFiles));
    EXPECT_EQ(Resumak().Enabled("Button3"), may(RunCommand::ResumeAdd));
    EXPECT_EQ(Dialog().Enabled("Button1"), may(RunCommand::ProgramFile));
    EXPECT_EQ(imageWindow.Enabled("Button2") && imageWindow.Enabled("Button5"), may(RunCommand::ImageStart));
    EXPECT_EQ(imageWindow.Enabled("Button1") || imageWindow.Enabled("Button4"), may(RunCommand::ImageFiles));
    if (kind == RunKind::None) return;
    // Tried now, they start nothing: no dialog, box or menu, no entry, no
    // file copied or listed.
    const size_t entries = Main().EventLog().Count();
    const int listed = Main().ListCount();
    const std::string resumed = test::ReadFile(dir / "r-kopia.bin");
    const size_t trayMenus = tray.popups.size();
    HWND list = Main().Control("ListView1");
    RECT inList{};
    GetClientRect(list, &inList);
    MapWindowPoints(list, Main().hwnd(), reinterpret_cast<POINT*>(&inList), 2);
    test::MessageBoxAnswerer none(IDCANCEL, 300);  // a dialog that opens is cancelled, and counted
    Main().Button6Click();
    if (kind != RunKind::Resume) Resumak().Button1Click();
    Main().Button8Click();
    Main().AddFolderToList(dir.path());
    test::Drop(Main().hwnd(), {dir / "r.bin"}, {inList.left + 10, inList.top + 10});
    Main().Button1Click();
    Main().Button5Click();
    Main().Oprogramie1Click();
    mapWindow.Button1Click();
    Resumak().Button3Click();
    Dialog().Button1Click();
    imageWindow.Button1Click();
    imageWindow.Button2Click();
    imageWindow.Button4Click();
    SendMessageW(Main().Control("ListView2"), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Main().Control("ListView2")), -1);
    SendMessageW(TTrayIcon::SharedWindow(), kTrayCallbackMessage, Main().TrayIcon1->Id(), WM_RBUTTONDOWN);
    if (!may(RunCommand::ListEdit)) {
      ListView_SetItemState(list, -1, LVIS_SELECTED, LVIS_SELECTED);
      Main().Button3Click();
      Main().Button4Click();
    }
    test::Flush();
    EXPECT_FALSE(none.Wait(300)) << none.Text();
    EXPECT_EQ(logMenus, 0);
    EXPECT_EQ(tray.popups.size(), trayMenus);
    EXPECT_EQ(Main().Runs().Running(), kind);
    EXPECT_EQ(Main().EventLog().Count(), entries);
    EXPECT_EQ(Main().ListCount(), listed);
    if (kind != RunKind::Resume) EXPECT_EQ(test::ReadFile(dir / "r-kopia.bin").size(), resumed.size());
    // The settings dialog holds nothing: it opens where it may.
    Main().SpeedButton2Click();
    EXPECT_EQ(IsWindowVisible(Dialog().hwnd()) != FALSE, may(RunCommand::Settings));
    ShowWindow(Dialog().hwnd(), SW_HIDE);
  };

  probe(RunKind::None);
  Main().CopyRunFileHook = [&](int) { probe(RunKind::Copy); };
  Main().Button8Click();
  Main().CopyRunFileHook = nullptr;
  const auto wired = Resumak().RunHook();
  Resumak().SetRunHook([&](bool running) {
    wired(running);
    if (running) probe(RunKind::Resume);
  });
  Resumak().Button1Click();
  {
    OnNextPump during([&] { probe(RunKind::Search); });
    Main().AddFolderToList(dir.path());
  }
  {
    OnNextPump during([&] { probe(RunKind::Update); });
    test::MessageBoxAnswerer box(IDOK);
    Main().Button6Click();
    EXPECT_EQ(box.Text(), "Nie udało się połączyć z serwerem aktualizacji.");
  }
  EXPECT_EQ(probed, (std::vector<RunKind>{RunKind::None, RunKind::Copy, RunKind::Resume, RunKind::Search,
                                          RunKind::Update}));
  EXPECT_TRUE(test::ReadFile(dir / "r-kopia.bin") == source);  // the resume run itself went on
  probe(RunKind::None);
}

}  // namespace
}  // namespace sk::ui
