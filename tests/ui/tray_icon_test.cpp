#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/FakeTrayShell.h"
#include "support/UiTest.h"
#include "ui/TrayIcon.h"

namespace sk::ui {
namespace {

using FakeShell = test::FakeTrayShell;

// A plain top-level window standing in for the main form; it records the
// commands it receives. Shown only where the test needs it (under Wine without
// a window manager, taking a shown window off the screen costs about 2 s).
class TestForm {
 public:
  explicit TestForm(bool shown = false) {
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = Proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      wc.lpszClassName = L"TrayTestForm";
      return RegisterClassExW(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    hwnd = CreateWindowExW(0, L"TrayTestForm", L"Tray test", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                           100, 100, 320, 200, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (shown) ShowWindow(hwnd, SW_SHOWNORMAL);
    test::Flush();
  }
  ~TestForm() {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
  }
  HWND hwnd = nullptr;
  std::vector<UINT> commands;

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
      SetWindowLongPtrW(h, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<TestForm*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg == WM_COMMAND && self) self->commands.push_back(LOWORD(wp));
    return DefWindowProcW(h, msg, wp, lp);
  }
};

// The tray menu of the program: "Pokaż" (default) and "Schowaj do traya".
constexpr UINT kShow = 501, kHide = 502;
HMENU MakeMenu(bool withDefault) {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kShow, L"&Pokaż");
  AppendMenuW(menu, MF_STRING, kHide, L"&Schowaj do traya");
  if (withDefault) SetMenuDefaultItem(menu, kShow, FALSE);
  return menu;
}

LRESULT Callback(const TTrayIcon& icon, UINT mouse) {
  return SendMessageW(TTrayIcon::SharedWindow(), kTrayCallbackMessage, icon.Id(), mouse);
}

TEST(TrayIcon, RecordsSentToTheShell) {
  FakeShell shell;
  TestForm form;
  {
    TTrayIcon tray(form.hwnd, &shell);
    TTrayIcon other(nullptr, &shell);
    EXPECT_NE(tray.Id(), other.Id());
    tray.SetHint("Sektorian");
    tray.SetIcon(LoadIconW(nullptr, IDI_APPLICATION));
    tray.SetIcon(tray.Icon());  // its own copy given again stays a valid picture
    ASSERT_NE(tray.Icon(), nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(tray.Icon(), &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    shell.sent.clear();

    tray.AddIcon();
    tray.UpdateIcon();
    tray.RemoveIcon();
    ASSERT_EQ(shell.sent.size(), 3u);
    const DWORD expected[] = {NIM_ADD, NIM_MODIFY, NIM_DELETE};
    for (size_t i = 0; i < 3; ++i) {
      const NOTIFYICONDATAW& d = shell.sent[i].data;
      SCOPED_TRACE(i);
      EXPECT_EQ(shell.sent[i].message, expected[i]);
      EXPECT_EQ(d.cbSize, sizeof(NOTIFYICONDATAW));
      EXPECT_EQ(d.hWnd, TTrayIcon::SharedWindow());
      EXPECT_EQ(d.uID, tray.Id());
      EXPECT_EQ(d.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
      EXPECT_EQ(d.uCallbackMessage, 0x800u);
      EXPECT_EQ(d.hIcon, tray.Icon());
      EXPECT_STREQ(d.szTip, L"Sektorian");
    }
    EXPECT_FALSE(tray.IconVisible());

    // Changing the hint reaches the shell at once; so does the visible flag.
    tray.SetIconVisible(true);
    EXPECT_TRUE(tray.IconVisible());
    tray.SetHint("Kopiowanie");
    EXPECT_EQ(shell.sent.back().message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_STREQ(shell.sent.back().data.szTip, L"Kopiowanie");
    shell.sent.clear();
  }
  // Both icons leave the tray when they go.
  ASSERT_EQ(shell.sent.size(), 2u);
  EXPECT_EQ(shell.sent[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(shell.sent[1].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_NE(shell.sent[0].data.uID, shell.sent[1].data.uID);
}

TEST(TrayIcon, TipIsTheFirst127UnitsOfTheHint) {
  FakeShell shell;
  TTrayIcon tray(nullptr, &shell);
  std::string hint;
  for (int i = 0; i < 200; ++i) hint += static_cast<char>('a' + i % 26);
  tray.SetHint(hint);
  tray.AddIcon();
  EXPECT_EQ(std::wstring(shell.sent.back().data.szTip), std::wstring(hint.begin(), hint.begin() + 127));

  tray.SetShowHint(false);
  EXPECT_STREQ(shell.sent.back().data.szTip, L"");
  tray.SetShowHint(true);
  tray.SetHint("");
  EXPECT_STREQ(shell.sent.back().data.szTip, L"");

  // Polish letters are one unit each; a pair of surrogates is never split.
  std::string polish;
  for (int i = 0; i < 200; ++i) polish += "ś";
  EXPECT_EQ(TrayTip(polish, true), std::wstring(127, L'\u015B'));
  const std::string disc = "\xF0\x9F\x92\xBF";  // U+1F4BF, two UTF-16 units
  EXPECT_EQ(TrayTip(std::string(126, 'x') + disc + "yz", true), std::wstring(126, L'x'));
  EXPECT_EQ(TrayTip(std::string(125, 'x') + disc + "yz", true).size(), 127u);
}

TEST(TrayIcon, TaskbarCreatedReAddsOnlyAVisibleIcon) {
  FakeShell shell;
  TTrayIcon shown(nullptr, &shell), hidden(nullptr, &shell);
  shown.AddIcon();
  hidden.AddIcon();
  hidden.RemoveIcon();
  shell.sent.clear();
  // The shell broadcasts the message to the top-level windows when it starts.
  PostMessageW(HWND_BROADCAST, TTrayIcon::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(test::PumpUntil([&] { return !shell.sent.empty(); }));
  test::Flush();
  EXPECT_EQ(shell.Count(NIM_ADD, shown.Id()), 1);
  EXPECT_EQ(shell.Count(NIM_ADD, hidden.Id()), 0);
  EXPECT_EQ(shell.sent.size(), 1u);
}

TEST(TrayIcon, MinimisingTheFormSendsItToTheTray) {
  FakeShell shell;
  TestForm form(true);
  TTrayIcon tray(form.hwnd, &shell);
  tray.SetHint("Sektorian");
  tray.SetMinimizeToTray(true);
  int events = 0;
  tray.OnMinimizeToTray = [&] {
    ++events;
    EXPECT_TRUE(IsWindowVisible(form.hwnd));  // the event comes before the hiding
  };

  struct Way {
    const char* name;
    void (*minimise)(HWND);
  };
  const Way ways[] = {
      {"minimise command", [](HWND h) { EXPECT_EQ(SendMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0), 1); }},
      {"ShowWindow", [](HWND h) { ShowWindow(h, SW_MINIMIZE); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    const int before = events;
    shell.sent.clear();
    shell.buttons.clear();
    way.minimise(form.hwnd);
    test::Flush();
    EXPECT_EQ(events, before + 1);
    EXPECT_FALSE(IsWindowVisible(form.hwnd));
    EXPECT_TRUE(tray.IconVisible());
    EXPECT_EQ(shell.Count(NIM_ADD, tray.Id()), 1);
    EXPECT_STREQ(shell.sent.back().data.szTip, L"Sektorian");
    ASSERT_FALSE(shell.buttons.empty());
    EXPECT_EQ(shell.buttons.back(), std::make_pair(form.hwnd, false));

    tray.RestoreMainForm();
    test::Flush();
    EXPECT_TRUE(IsWindowVisible(form.hwnd));
    EXPECT_FALSE(IsIconic(form.hwnd));
    EXPECT_TRUE(test::PumpUntil([&] { return GetForegroundWindow() == form.hwnd; }, 2000));
    EXPECT_TRUE(tray.IconVisible());  // the icon stays
  }

  // Restoring by command brings a hidden form back too.
  tray.HideMainForm();
  EXPECT_FALSE(IsWindowVisible(form.hwnd));
  SendMessageW(form.hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(IsWindowVisible(form.hwnd));

  // Without minimise-to-tray the form minimises as usual.
  tray.SetMinimizeToTray(false);
  tray.RemoveIcon();
  shell.sent.clear();
  SendMessageW(form.hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  test::Flush();
  EXPECT_TRUE(IsIconic(form.hwnd));
  EXPECT_TRUE(IsWindowVisible(form.hwnd));
  EXPECT_EQ(shell.Count(NIM_ADD, tray.Id()), 0);
  EXPECT_EQ(events, 2);
  tray.RestoreMainForm();
  EXPECT_FALSE(IsIconic(form.hwnd));
}

TEST(TrayIcon, FormIsGivenBackItsProcedure) {
  FakeShell shell;
  TestForm form(true);
  {
    TTrayIcon tray(form.hwnd, &shell);
    tray.SetMinimizeToTray(true);
    tray.OnMinimizeToTray = [] {};
  }
  SendMessageW(form.hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  test::Flush();
  EXPECT_TRUE(IsIconic(form.hwnd));
  EXPECT_TRUE(IsWindowVisible(form.hwnd));

  // A form that goes before its icon leaves the icon working.
  auto other = std::make_unique<TestForm>();
  TTrayIcon tray(other->hwnd, &shell);
  other.reset();
  EXPECT_EQ(tray.Owner(), nullptr);
  tray.RestoreMainForm();
  tray.AddIcon();
  EXPECT_TRUE(tray.IconVisible());
}

TEST(TrayIcon, DoubleClickClicksTheDefaultItem) {
  FakeShell shell;
  TestForm form;
  TTrayIcon tray(form.hwnd, &shell);
  HMENU menu = MakeMenu(true);
  tray.SetPopupMenu(menu);
  int dbl = 0;
  tray.OnDblClick = [&] { ++dbl; };

  Callback(tray, WM_LBUTTONDBLCLK);
  EXPECT_EQ(form.commands, std::vector<UINT>{kShow});
  EXPECT_EQ(dbl, 1);

  // A disabled default item cannot be clicked; no default item, nothing.
  EnableMenuItem(menu, kShow, MF_BYCOMMAND | MF_GRAYED);
  Callback(tray, WM_LBUTTONDBLCLK);
  HMENU plain = MakeMenu(false);
  tray.SetPopupMenu(plain);
  Callback(tray, WM_LBUTTONDBLCLK);
  EXPECT_EQ(form.commands, std::vector<UINT>{kShow});
  EXPECT_EQ(dbl, 3);

  // A disabled component ignores the mouse.
  tray.SetPopupMenu(menu);
  EnableMenuItem(menu, kShow, MF_BYCOMMAND | MF_ENABLED);
  tray.SetEnabled(false);
  Callback(tray, WM_LBUTTONDBLCLK);
  EXPECT_EQ(dbl, 3);
  EXPECT_EQ(form.commands.size(), 1u);
  DestroyMenu(menu);
  DestroyMenu(plain);
}

TEST(TrayIcon, RightButtonDownOpensTheMenuAtTheCursor) {
  FakeShell shell;
  TestForm form;
  TTrayIcon tray(form.hwnd, &shell);

  // No menu: nothing to open.
  Callback(tray, WM_RBUTTONDOWN);
  EXPECT_TRUE(shell.popups.empty());

  HMENU menu = MakeMenu(true);
  tray.SetPopupMenu(menu);
  shell.answer = kHide;
  SetCursorPos(210, 160);
  POINT cursor{};
  GetCursorPos(&cursor);
  Callback(tray, WM_RBUTTONDOWN);
  ASSERT_EQ(shell.popups.size(), 1u);
  EXPECT_EQ(shell.popups[0].menu, menu);
  EXPECT_EQ(shell.popups[0].at.x, cursor.x);
  EXPECT_EQ(shell.popups[0].at.y, cursor.y);
  EXPECT_EQ(shell.popups[0].window, TTrayIcon::SharedWindow());
  EXPECT_EQ(form.commands, std::vector<UINT>{kHide});  // the chosen item reaches the form

  // The menu opens on the press, not on the release; a dismissed menu sends nothing.
  Callback(tray, WM_RBUTTONUP);
  EXPECT_EQ(shell.popups.size(), 1u);
  shell.answer = 0;
  Callback(tray, WM_RBUTTONDOWN);
  EXPECT_EQ(shell.popups.size(), 2u);
  EXPECT_EQ(form.commands.size(), 1u);
  DestroyMenu(menu);
}

TEST(TrayIcon, SharedWindowLivesAsLongAsAnIcon) {
  EXPECT_EQ(TTrayIcon::SharedWindow(), nullptr);
  FakeShell shell;
  TestForm form;
  auto first = std::make_unique<TTrayIcon>(nullptr, &shell);
  auto second = std::make_unique<TTrayIcon>(form.hwnd, &shell);
  HWND shared = TTrayIcon::SharedWindow();
  ASSERT_TRUE(IsWindow(shared));
  EXPECT_EQ(GetParent(shared), nullptr);
  EXPECT_FALSE(IsWindowVisible(shared));

  // Only the last icon ends it: close is refused, the session may end.
  EXPECT_EQ(SendMessageW(shared, WM_CLOSE, 0, 0), 1);
  EXPECT_EQ(SendMessageW(shared, WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_TRUE(IsWindow(shared));

  first.reset();
  EXPECT_EQ(TTrayIcon::SharedWindow(), shared);
  HMENU menu = MakeMenu(true);
  second->SetPopupMenu(menu);
  Callback(*second, WM_LBUTTONDBLCLK);
  EXPECT_EQ(form.commands, std::vector<UINT>{kShow});

  second.reset();
  EXPECT_FALSE(IsWindow(shared));
  EXPECT_EQ(TTrayIcon::SharedWindow(), nullptr);
  DestroyMenu(menu);

  // A new icon makes a new window.
  TTrayIcon again(nullptr, &shell);
  EXPECT_TRUE(IsWindow(TTrayIcon::SharedWindow()));
}

// The real shell (Wine's explorer keeps a notification area).
class RecordingShell : public ITrayShell {
 public:
  std::vector<std::pair<DWORD, bool>> results;
  bool Notify(DWORD message, const NOTIFYICONDATAW& data) override {
    const bool ok = SystemTrayShell().Notify(message, data);
    results.emplace_back(message, ok);
    return ok;
  }
  UINT TrackPopup(HMENU menu, POINT at, HWND window) override {
    return SystemTrayShell().TrackPopup(menu, at, window);
  }
  void SetTaskbarButton(HWND window, bool shown) override { SystemTrayShell().SetTaskbarButton(window, shown); }
};

// While the real menu is open: note whether it is on the screen, then close it.
bool g_menuSeen = false;
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD) {
  HWND menu = FindWindowW(L"#32768", nullptr);
  g_menuSeen = menu && IsWindowVisible(menu);
  KillTimer(nullptr, id);
  EndMenu();
}

TEST(TrayIcon, RealShellAddsAndDeletesTheIcon) {
  RecordingShell shell;
  TestForm form;
  {
    TTrayIcon tray(form.hwnd, &shell);
    tray.SetIcon(LoadIconW(nullptr, IDI_APPLICATION));
    tray.SetHint("Sektorian");
    shell.results.clear();
    tray.AddIcon();
    tray.SetHint("Sektorian 1.1.0");
    tray.HideMainForm();
    tray.RestoreMainForm();
    tray.ShowTaskbarButton();

    // The real pop-up menu opens on the right button and returns when closed.
    HMENU menu = MakeMenu(true);
    tray.SetPopupMenu(menu);
    g_menuSeen = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 300, CloseMenu);
    Callback(tray, WM_RBUTTONDOWN);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(g_menuSeen);
    EXPECT_TRUE(form.commands.empty());
    DestroyMenu(menu);
  }
  const std::vector<std::pair<DWORD, bool>> expected = {
      {NIM_ADD, true}, {NIM_MODIFY, true}, {NIM_DELETE, true}};
  EXPECT_EQ(shell.results, expected);
}

}  // namespace
}  // namespace sk::ui
