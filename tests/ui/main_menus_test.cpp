// The main window's menus, their shortcuts and the tray behaviour, on the
// program's own forms (start-up as the program does it).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/HttpServer.h"
#include "support/SettingsKey.h"
#include "support/ErrorReports.h"
#include "support/FakeTrayShell.h"
#include "support/UiTest.h"
#include "support/UpdateSigning.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"

namespace sk::ui {
namespace {

using FakeShell = test::FakeTrayShell;


// Sees the WM_COMMANDs that reach the main window and lets through only those
// of the items named in `through` (the others' handlers open dialogs, the
// browser or the network).
struct CommandSpy {
  const Window* form = nullptr;
  std::vector<std::pair<WORD, WORD>> seen;  // id, code
  std::vector<std::string> through;
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self) {
    auto* spy = reinterpret_cast<CommandSpy*>(self);
    if (msg == WM_COMMAND) {
      spy->seen.emplace_back(LOWORD(wp), HIWORD(wp));
      const std::string name = spy->form->ControlName(LOWORD(wp));
      if (std::find(spy->through.begin(), spy->through.end(), name) == spy->through.end()) return 0;
    }
    return DefSubclassProc(h, msg, wp, lp);
  }
};

struct Shortcut {
  bool ctrl;
  WORD key;
  const char* item;
};
constexpr Shortcut kShortcuts[] = {
    {true, 'Y', "Zamknij1"},          {true, 'A', "Dodajplik1"},
    {true, 'P', "Wpiszciekfolderu1"}, {true, 'B', "Wybierzfolder1"},
    {false, VK_DELETE, "Usuzlistyzaznaczonepliki1"},
    {true, 'C', "Wyczylist1"},        {true, 'F', "Resumak1"},
    {true, 'M', "Mapaodczytu1"},      {true, 'D', "Obrazpyty1"},
    {true, 'K', "Aktualizacjaprogramu1"},
    {true, 'U', "Ustawieniaprogramu1"},
    {true, 'W', "StronaWWW1"},        {true, 'G', "Oprogramie1"},
};
constexpr const char* kTopMenus[] = {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"};

class MainMenus : public testing::Test {
 protected:
  void SetUp() override {
    test::Flush();
    StartUp();
    Main().SetTrayShell(&shell);
    shell.sent.clear();
  }
  void TearDown() override {
    ShutDown();
    test::Flush();  // the main window's end leaves a quit message behind
  }

  TForm1& Main() { return *App().form1; }
  HWND hwnd() { return Main().hwnd(); }
  UINT Id(const char* name) { return static_cast<UINT>(Main().ControlId(name)); }
  bool ItemEnabled(const char* name) {
    return !(GetMenuState(Main().PopupMenu1(), Id(name), MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
  }
  void Show() {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    test::Flush();
  }
  // A right-button press on the tray icon; the menu answers with `item`.
  void TrayMenu(const char* item) {
    shell.answer = item ? Id(item) : 0;
    SendMessageW(TTrayIcon::SharedWindow(), kTrayCallbackMessage, Main().TrayIcon1->Id(), WM_RBUTTONDOWN);
    test::Flush();
  }
  void ExpectInTray() {
    EXPECT_FALSE(IsWindowVisible(hwnd()));
    EXPECT_TRUE(Main().TrayIcon1->IconVisible());
    EXPECT_TRUE(ItemEnabled("Poka1"));
    EXPECT_FALSE(ItemEnabled("Schowajdotraya1"));
    ASSERT_FALSE(shell.buttons.empty());
    EXPECT_FALSE(shell.buttons.back().second);
  }
  void ExpectShownFromTray() {
    EXPECT_TRUE(IsWindowVisible(hwnd()));
    EXPECT_FALSE(IsIconic(hwnd()));
    EXPECT_TRUE(test::PumpUntil([&] { return GetForegroundWindow() == hwnd(); }, 2000));
    EXPECT_TRUE(Main().TrayIcon1->IconVisible());
    EXPECT_FALSE(ItemEnabled("Poka1"));
    EXPECT_TRUE(ItemEnabled("Schowajdotraya1"));
    ASSERT_FALSE(shell.buttons.empty());
    EXPECT_TRUE(shell.buttons.back().second);
  }
  // A key press as the message loop meets it, with Ctrl held or not, through
  // the program's message filter; returns whether the filter took it.
  bool Press(const Shortcut& s, HWND target = nullptr) {
    BYTE saved[256], keys[256];
    GetKeyboardState(saved);
    memcpy(keys, saved, sizeof keys);
    for (int vk : {VK_CONTROL, VK_LCONTROL}) keys[vk] = s.ctrl ? 0x80 : 0;
    for (int vk : {VK_SHIFT, VK_LSHIFT, VK_RSHIFT, VK_MENU, VK_LMENU, VK_RMENU, VK_RCONTROL}) keys[vk] = 0;
    SetKeyboardState(keys);
    MSG msg{target ? target : hwnd(), WM_KEYDOWN, s.key, 1, GetTickCount(), {}};
    const bool taken = FilterMessage(msg);
    SetKeyboardState(saved);
    return taken;
  }
  const Shortcut& Key(const char* item) {
    for (const auto& s : kShortcuts)
      if (std::string(s.item) == item) return s;
    throw std::logic_error(item);
  }
  struct ClassCount {
    const wchar_t* cls;
    int n = 0;
  };
  static BOOL CALLBACK CountClass(HWND h, LPARAM p) {
    auto* c = reinterpret_cast<ClassCount*>(p);
    wchar_t name[64]{};
    GetClassNameW(h, name, 64);
    c->n += std::wstring(name) == c->cls;
    return TRUE;
  }
  int TopLevelWindowsOfClass(const wchar_t* cls) {
    ClassCount count{cls};
    EnumThreadWindows(GetCurrentThreadId(), CountClass, reinterpret_cast<LPARAM>(&count));
    return count.n;
  }
  // One list item, selected, for the list commands to act on.
  void PutListItem() {
    HWND list = Main().Control("ListView1");
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_STATE;
    item.pszText = const_cast<wchar_t*>(L"C:\\a.bin");
    item.state = item.stateMask = LVIS_SELECTED;
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  int ListCount() { return static_cast<int>(SendMessageW(Main().Control("ListView1"), LVM_GETITEMCOUNT, 0, 0)); }

  test::SettingsKeyBackup backup;  // outlives the forms, which save at close
  test::ErrorReports reports{"Failed to get data for 'Level'"};  // a first start's report, and no other
  FakeShell shell;
};

TEST_F(MainMenus, StartStateAndTheTip) {
  // Not in the tray, both tray items off, none of them the default (a
  // double-click on the icon does nothing).
  EXPECT_FALSE(Main().TrayIcon1->IconVisible());
  EXPECT_EQ(shell.Count(NIM_ADD), 0);
  EXPECT_FALSE(ItemEnabled("Poka1"));
  EXPECT_FALSE(ItemEnabled("Schowajdotraya1"));
  EXPECT_EQ(GetMenuDefaultItem(Main().PopupMenu1(), TRUE, GMDI_USEDISABLED), static_cast<UINT>(-1));

  // A 200-character hint reaches the shell cut to 127.
  Main().TrayIcon1->SetHint(std::string(200, 'h'));
  ASSERT_FALSE(shell.sent.empty());
  EXPECT_EQ(std::wstring(shell.sent.back().data.szTip), std::wstring(127, L'h'));
}

TEST_F(MainMenus, MinimiseShowAndHideThroughTheTray) {
  Show();
  // The title-bar button: hidden, off the taskbar, the icon in the tray.
  SendMessageW(hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  test::Flush();
  ExpectInTray();
  EXPECT_FALSE(IsIconic(hwnd()));  // never shown minimised
  ASSERT_EQ(shell.Count(NIM_ADD), 1);
  EXPECT_STREQ(shell.sent.back().data.szTip, L"Sektorian");
  EXPECT_NE(shell.sent.back().data.hIcon, nullptr);

  // The right button opens the tray menu; dismissing it changes nothing.
  TrayMenu(nullptr);
  ASSERT_EQ(shell.popups.size(), 1u);
  EXPECT_EQ(shell.popups[0].menu, Main().PopupMenu1());
  ExpectInTray();

  TrayMenu("Poka1");
  ExpectShownFromTray();

  TrayMenu("Schowajdotraya1");
  ExpectInTray();

  // Minimising from the taskbar button arrives as a minimised size.
  TrayMenu("Poka1");
  ShowWindow(hwnd(), SW_MINIMIZE);
  test::Flush();
  ExpectInTray();
  TrayMenu("Poka1");
  ExpectShownFromTray();

  // The icon stays once it is there (each trip to the tray adds it again).
  EXPECT_EQ(shell.Count(NIM_ADD), 2);
  EXPECT_EQ(shell.Count(NIM_DELETE), 0);
}

TEST_F(MainMenus, MinimisingTheApplicationGoesToTheTray) {
  Show();
  Main().MinimizeApplication();
  test::Flush();
  ExpectInTray();
  EXPECT_FALSE(IsIconic(hwnd()));
  EXPECT_EQ(shell.Count(NIM_ADD), 1);

  // Also from "shown from tray" (the menu's state follows).
  TrayMenu("Poka1");
  Main().MinimizeApplication();
  test::Flush();
  ExpectInTray();
}

TEST_F(MainMenus, TaskbarCreatedReAddsTheIconOnlyOnceItIsThere) {
  PostMessageW(HWND_BROADCAST, TTrayIcon::TaskbarCreatedMessage(), 0, 0);
  test::Flush();
  EXPECT_EQ(shell.Count(NIM_ADD), 0);

  Show();
  SendMessageW(hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  test::Flush();
  shell.sent.clear();
  PostMessageW(HWND_BROADCAST, TTrayIcon::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(test::PumpUntil([&] { return !shell.sent.empty(); }));
  test::Flush();
  EXPECT_EQ(shell.Count(NIM_ADD), 1);
  EXPECT_EQ(shell.sent.size(), 1u);
}

TEST_F(MainMenus, SettingsAndResumakOpenModelessOnce) {
  Show();
  EXPECT_FALSE(IsWindowVisible(App().form2->hwnd()));
  EXPECT_TRUE(Press(Key("Ustawieniaprogramu1")));
  Main().SpeedButton2Click();
  test::Flush();
  EXPECT_TRUE(IsWindowVisible(App().form2->hwnd()));
  EXPECT_EQ(TopLevelWindowsOfClass(L"TForm2"), 1);
  EXPECT_TRUE(IsWindowEnabled(hwnd()));  // the main window stays usable

  EXPECT_TRUE(Press(Key("Resumak1")));
  Main().SpeedButton4Click();
  test::Flush();
  EXPECT_TRUE(IsWindowVisible(App().form3->hwnd()));
  EXPECT_EQ(TopLevelWindowsOfClass(L"TForm3"), 1);
  EXPECT_TRUE(IsWindowEnabled(hwnd()));
}

TEST_F(MainMenus, EveryShortcutReachesItsItemAndNoneWhileTheTopMenusAreOff) {
  CommandSpy spy{&Main()};
  ASSERT_TRUE(SetWindowSubclass(hwnd(), CommandSpy::Proc, 1, reinterpret_cast<DWORD_PTR>(&spy)));
  for (const auto& s : kShortcuts) {
    SCOPED_TRACE(s.item);
    spy.seen.clear();
    // Keys pressed in a control of the window count as well; the destination
    // field keeps its own editing keys (Ctrl+A, Ctrl+C, Del).
    const bool fieldKey = (s.ctrl && (s.key == 'A' || s.key == 'C')) || (!s.ctrl && s.key == VK_DELETE);
    EXPECT_TRUE(Press(s, Main().Control(fieldKey ? "ListView1" : "Edit1")));
    ASSERT_EQ(spy.seen.size(), 1u);
    EXPECT_EQ(Main().ControlName(spy.seen[0].first), s.item);
    EXPECT_EQ(spy.seen[0].second, 1);  // from an accelerator
  }
  // Ctrl with other keys, Del with Ctrl, a letter without Ctrl: no shortcut.
  spy.seen.clear();
  EXPECT_FALSE(Press({true, 'Z', ""}));
  EXPECT_FALSE(Press({true, VK_DELETE, ""}));
  EXPECT_FALSE(Press({false, 'U', ""}));
  EXPECT_TRUE(spy.seen.empty());

  // The handlers that stay inside the program, reached for real.
  spy.through = {"Zamknij1", "Usuzlistyzaznaczonepliki1", "Wyczylist1", "Resumak1", "Ustawieniaprogramu1",
                 "Oprogramie1"};
  Press(Key("Ustawieniaprogramu1"));
  EXPECT_TRUE(IsWindowVisible(App().form2->hwnd()));
  Press(Key("Resumak1"));
  EXPECT_TRUE(IsWindowVisible(App().form3->hwnd()));
  {
    test::MessageBoxAnswerer box;
    Press(Key("Oprogramie1"));
    EXPECT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "O programie");
  }
  App().form2->Hide();
  App().form3->Hide();

  // Top menus off (as during a copy run or an update check): neither the
  // shortcuts nor the items' commands do anything.
  for (const char* m : kTopMenus) Main().EnableTopMenu(m, false);
  PutListItem();
  {
    test::MessageBoxAnswerer box(IDOK, 300);  // an About box would be answered: none may come
    for (const auto& s : kShortcuts) Press(s);
    for (const auto& s : kShortcuts) SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(Id(s.item), 0), 0);
    test::Flush();
    EXPECT_FALSE(box.Wait(300));
  }
  EXPECT_TRUE(IsWindow(hwnd()));
  EXPECT_FALSE(IsWindowVisible(App().form2->hwnd()));
  EXPECT_FALSE(IsWindowVisible(App().form3->hwnd()));
  EXPECT_EQ(ListCount(), 1);

  // Back on: they work again, Ctrl+Y last (it ends the program).
  for (const char* m : kTopMenus) Main().EnableTopMenu(m, true);
  Press(Key("Ustawieniaprogramu1"));
  EXPECT_TRUE(IsWindowVisible(App().form2->hwnd()));
  HWND main = hwnd();
  Press(Key("Zamknij1"));
  EXPECT_TRUE(test::PumpUntil([main] { return !IsWindow(main); }));
}

TEST_F(MainMenus, ShortcutsDoNothingDuringAnUpdateCheckAndWorkAfter) {
  test::HttpServer server;
  ASSERT_TRUE(server.Ok()) << "cannot listen on 127.0.0.1:80";
  test::TempDir dir;
  const std::string ini = "[Update]\r\n" + std::string(test::kFreshKeys) + "Version=110\r\n";
  test::SigningKey key;  // only a signed description is read
  server.Serve("/menus/Update.ini", {.body = ini});
  server.Serve("/menus/Update.sig", {.body = key.Sign(ini)});
  Main().SetUpdatePublicKey(key.PublicKey());
  Main().SetUpdateBaseAddress(server.Base() + "menus/");
  Main().SetUpdateFolder(dir.path());
  int pressed = 0;
  bool menusOff = true;
  Main().HttpFetch1.OnProgress = [&](THttpFetchThread&, int64_t, int64_t) {
    for (const char* m : kTopMenus) menusOff = menusOff && !Main().TopMenuEnabled(m);
    for (const char* item : {"Zamknij1", "Ustawieniaprogramu1", "Resumak1", "Aktualizacjaprogramu1"}) {
      Press(Key(item));
      ++pressed;
    }
  };
  {
    test::MessageBoxAnswerer box;
    Main().Button6Click();
    ASSERT_TRUE(box.Answered());
    EXPECT_EQ(box.Text(), "Nie ma nowszej wersji programu.");  // the check's own box, no other
  }
  EXPECT_GT(pressed, 0);
  EXPECT_TRUE(menusOff);
  EXPECT_TRUE(IsWindow(hwnd()));
  EXPECT_FALSE(IsWindowVisible(App().form2->hwnd()));
  EXPECT_FALSE(IsWindowVisible(App().form3->hwnd()));
  EXPECT_EQ(server.RequestsFor("/menus/Update.ini"), 1);

  Press(Key("Ustawieniaprogramu1"));
  EXPECT_TRUE(IsWindowVisible(App().form2->hwnd()));
}

}  // namespace
}  // namespace sk::ui
