#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>

#include <functional>
#include <vector>

#include "support/ErrorReports.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/ResumeForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

// A resume window with the error report captured.
struct ResumeWindow : ::testing::Test {
  std::vector<std::string> errors;
  test::ErrorReports collecting{errors};

  void SetUp() override {
    InitControls();
    form.Create();
    form.ShowModeless();
    test::Flush();
  }
  RECT Place(const char* name) {
    RECT r{};
    GetWindowRect(form.Control(name), &r);
    MapWindowPoints(nullptr, form.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  int ItemCount() { return static_cast<int>(SendMessageW(form.Control("ListView1"), LVM_GETITEMCOUNT, 0, 0)); }
  void ExpectIdle() {
    for (const char* name : {"ListView1", "Button1", "Button3", "Button4", "Button5"})
      EXPECT_TRUE(form.Enabled(name)) << name;
    EXPECT_FALSE(form.Enabled("Button2"));
    EXPECT_FALSE(form.Running());
  }

  TForm3 form;
  test::TempDir dir;
};

TEST_F(ResumeWindow, ControlsAsDesigned) {
  EXPECT_EQ(test::WindowText(form.hwnd()), "Resumak");
  RECT client{};
  GetClientRect(form.hwnd(), &client);
  EXPECT_EQ(client.right, Dpi(688));
  EXPECT_EQ(client.bottom, Dpi(510));
  const LONG style = GetWindowLongW(form.hwnd(), GWL_STYLE);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  // Places relative to the window, boxes' offsets added.
  const struct {
    const char* name;
    int x, y, w, h;
  } places[] = {
      {"Image1", 0, 0, 125, 125},        {"Label2", 136, 56, 545, 29},
      {"GroupBox1", 4, 140, 677, 169},   {"ListView1", 12, 156, 661, 145},  {"Button3", 12, 332, 261, 21},
      {"Button5", 12, 380, 261, 21},     {"TrackBar1", 16, 444, 257, 33},   {"Label3", 24, 476, 241, 13},
      {"GroupBox3", 292, 312, 389, 193}, {"Label5", 360, 332, 313, 13},     {"Label9", 452, 376, 221, 13},
      {"ProgressBar1", 300, 396, 373, 17}, {"Button1", 552, 476, 121, 21}, {"Button2", 300, 476, 121, 21},
  };
  for (const auto& p : places) {
    SCOPED_TRACE(p.name);
    const RECT r = Place(p.name);
    EXPECT_EQ(r.left, Dpi(p.x));
    EXPECT_EQ(r.top, Dpi(p.y));
    EXPECT_EQ(r.right - r.left, Dpi(p.w));
    EXPECT_EQ(r.bottom - r.top, Dpi(p.h));
  }

  EXPECT_EQ(form.Text("Label1"), "Resumak");
  EXPECT_EQ(form.Text("GroupBox1"), " Lista plików ");
  EXPECT_EQ(form.Text("GroupBox2"), " Poziom kopiowania ");
  EXPECT_EQ(form.Text("GroupBox3"), " Status dokopiowywania ");
  EXPECT_EQ(form.Text("GroupBox4"), " Zarządzanie listą ");
  EXPECT_EQ(form.Text("Label5"), "0 sek");
  EXPECT_EQ(form.Text("Label7"), "Brak");
  EXPECT_EQ(form.Text("Label9"), "0B");
  EXPECT_EQ(form.Text("Label8"), "Pozostało do skopiowania:");

  // The title font: Tahoma, 16 pixels, bold.
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.Control("Label1"), WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_EQ(std::wstring(lf.lfFaceName), L"Tahoma");
  EXPECT_EQ(lf.lfHeight, -Dpi(16));
  EXPECT_EQ(lf.lfWeight, FW_BOLD);

  // The level box shows level 0 as "Poziom 1", and neither can be used.
  HWND bar = form.Control("TrackBar1");
  EXPECT_FALSE(form.Enabled("TrackBar1"));
  EXPECT_FALSE(form.Enabled("Label3"));
  EXPECT_EQ(SendMessageW(bar, TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageW(bar, TBM_GETRANGEMAX, 0, 0), 4);
  EXPECT_EQ(SendMessageW(bar, TBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(form.Text("Label3"), "Poziom 1");

  // The list: two columns, whole rows, several rows selectable, no editing,
  // headers that cannot be clicked.
  HWND list = form.Control("ListView1");
  const LONG listStyle = GetWindowLongW(list, GWL_STYLE);
  EXPECT_TRUE(listStyle & LVS_REPORT);
  EXPECT_FALSE(listStyle & (LVS_SINGLESEL | LVS_EDITLABELS));
  EXPECT_TRUE(listStyle & LVS_NOSORTHEADER);
  EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
  const struct {
    const char* caption;
    int width;
  } columns[] = {{"Plik źródłowy", 320}, {"Plik docelowy", 337}};
  for (int i = 0; i < 2; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.pszText = text;
    col.cchTextMax = 64;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)));
    EXPECT_EQ(win::Narrow(text), columns[i].caption);
    EXPECT_EQ(col.cx, Dpi(columns[i].width));
  }

  // "Rozpocznij" is bold and the default button; "Zatrzymaj" is off.
  EXPECT_EQ(LOWORD(SendMessageW(form.hwnd(), DM_GETDEFID, 0, 0)), form.ControlId("Button1"));
  EXPECT_EQ(HIWORD(SendMessageW(form.hwnd(), DM_GETDEFID, 0, 0)), DC_HASDEFID);
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.Control("Button1"), WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  ExpectIdle();
}

TEST_F(ResumeWindow, TabOrder) {
  std::vector<std::string> order;
  HWND first = form.Control("ListView1");
  HWND h = first;
  do {
    order.push_back(form.ControlName(GetDlgCtrlID(h)));
    h = GetNextDlgTabItem(form.hwnd(), h, FALSE);
  } while (h && h != first && order.size() < 20);
  // The disabled track bar is skipped while it stays disabled.
  EXPECT_EQ(order, (std::vector<std::string>{"ListView1", "Button1", "Button3", "Button4", "Button5"}));
}

TEST_F(ResumeWindow, LogoDrawnUnstretchedWithItsGroundTransparent) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, 140, 140);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, canvas);
  RECT all{0, 0, 140, 140};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_STATIC;
  item.CtlID = static_cast<UINT>(form.ControlId("Image1"));
  item.hwndItem = form.Control("Image1");
  item.hDC = dc;
  item.rcItem = {0, 0, 125, 125};
  SendMessageW(form.hwnd(), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));

  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int ground = 0, logo = 0;
  for (int y = 0; y < 125; ++y)
    for (int x = 0; x < 125; ++x) {
      const COLORREF c = GetPixel(dc, x, y);
      EXPECT_NE(c, RGB(255, 0, 255)) << x << "," << y;  // the magenta ground never shows
      (c == face ? ground : logo)++;
    }
  EXPECT_GT(ground, 1000);  // the corners show the window behind
  EXPECT_GT(logo, 3000);    // the disc and the arrow
  // Nothing outside the control.
  EXPECT_EQ(GetPixel(dc, 126, 10), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 10, 126), RGB(0, 0, 0));
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
}

TEST_F(ResumeWindow, ClosingOnlyHides) {
  SendMessageW(form.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(form.hwnd()));
  EXPECT_FALSE(IsWindowVisible(form.hwnd()));
  form.ShowModeless();
  EXPECT_TRUE(IsWindowVisible(form.hwnd()));
}

TEST_F(ResumeWindow, ShortDestinationResumedByteIdentical) {
  const std::string source = test::Pattern(300000, 7);
  test::WriteFile(dir / "płyta.iso", source);
  test::WriteFile(dir / "kopia.iso", source.substr(0, 120000));
  form.AddPair(dir / "płyta.iso", dir / "kopia.iso");
  form.Button1Click();

  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(test::ReadFile(dir / "kopia.iso"), source);
  EXPECT_EQ(form.Text("Label7"), "płyta.iso");
  EXPECT_EQ(form.Text("Label9"), "0 B");
  EXPECT_TRUE(form.Text("Label5").ends_with(" sek"));
  HWND bar = form.Control("ProgressBar1");
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 300000);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 300000);
  ExpectIdle();
  EXPECT_EQ(ItemCount(), 1);  // the list is kept
}

TEST_F(ResumeWindow, MissingDestinationIsReportedAndNotCreated) {
  test::WriteFile(dir / "a.bin", test::Pattern(100));
  test::WriteFile(dir / "b.bin", test::Pattern(50));
  test::WriteFile(dir / "b-kopia.bin", "");
  form.AddPair(dir / "a.bin", dir / "nie-ma.bin");
  form.AddPair(dir / "b.bin", dir / "b-kopia.bin");
  form.Button1Click();
  EXPECT_EQ(errors, (std::vector<std::string>{"File not found."}));
  EXPECT_FALSE(test::FileExists(dir / "nie-ma.bin"));
  EXPECT_EQ(test::ReadFile(dir / "b-kopia.bin"), test::Pattern(50));  // the next pair is done
  ExpectIdle();
}

TEST_F(ResumeWindow, OneFileNamedTwiceIsRefused) {
  test::WriteFile(dir / "plik.bin", test::Pattern(64));
  // The same file under another spelling of its path.
  form.AddPair(dir / "plik.bin", dir.path() + ".\\PLIK.BIN");
  form.Button1Click();
  EXPECT_EQ(errors, (std::vector<std::string>{"Plik docelowy jest tym samym plikiem co źródłowy."}));
  EXPECT_EQ(test::ReadFile(dir / "plik.bin"), test::Pattern(64));
}

TEST_F(ResumeWindow, StopDuringARunAndTheRunHook) {
  const std::string source = test::Pattern(300000, 3);
  test::WriteFile(dir / "duzy.bin", source);
  test::WriteFile(dir / "duzy-kopia.bin", source.substr(0, 1000));
  form.AddPair(dir / "duzy.bin", dir / "duzy-kopia.bin");
  std::vector<bool> hook;
  form.SetRunHook([&](bool running) {
    hook.push_back(running);
    if (!running) return;
    EXPECT_TRUE(form.Running());
    EXPECT_FALSE(form.Enabled("ListView1"));
    EXPECT_FALSE(form.Enabled("Button1"));
    EXPECT_FALSE(form.Enabled("Button3"));
    EXPECT_TRUE(form.Enabled("Button2"));
    // "Zatrzymaj" pressed as the user would: its click arrives in a pump.
    PostMessageW(form.Control("Button2"), BM_CLICK, 0, 0);
  });
  form.Button1Click();
  EXPECT_EQ(hook, (std::vector<bool>{true, false}));
  const std::string copied = test::ReadFile(dir / "duzy-kopia.bin");
  EXPECT_GT(copied.size(), 1000u);
  EXPECT_LT(copied.size(), source.size());
  EXPECT_EQ(copied, source.substr(0, copied.size()));
  EXPECT_FALSE(form.StopRequested());
  ExpectIdle();
  // Run again: it continues where it ended.
  form.SetRunHook(nullptr);
  form.Button1Click();
  EXPECT_EQ(test::ReadFile(dir / "duzy-kopia.bin"), source);
}

TEST_F(ResumeWindow, HeldStartDoesNothing) {
  test::WriteFile(dir / "s.bin", test::Pattern(10));
  test::WriteFile(dir / "d.bin", "");
  form.AddPair(dir / "s.bin", dir / "d.bin");
  form.HoldStart(true);
  EXPECT_FALSE(form.Enabled("Button1"));
  form.Button1Click();
  EXPECT_EQ(test::ReadFile(dir / "d.bin"), "");
  form.HoldStart(false);
  EXPECT_TRUE(form.Enabled("Button1"));
  form.Button1Click();
  EXPECT_EQ(test::ReadFile(dir / "d.bin"), test::Pattern(10));
}

TEST_F(ResumeWindow, ProgressBarHoldsSizesBeyondFourGiB) {
  ResumeStatus status;
  status.currentFile = "obraz.iso";
  status.progressMax = 6LL << 30;
  status.progressPosition = 3LL << 30;
  status.remainingBytes = 3LL << 30;
  status.elapsedSeconds = 3600;
  form.Show(status);
  HWND bar = form.Control("ProgressBar1");
  const LRESULT max = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
  EXPECT_GT(max, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), max / 2);
  EXPECT_EQ(form.Text("Label9"), "3 GB");
  EXPECT_EQ(form.Text("Label5"), "1 godz");
  EXPECT_EQ(form.Text("Label7"), "obraz.iso");
}

TEST_F(ResumeWindow, ListButtons) {
  for (int i = 0; i < 4; ++i) form.AddPair("C:\\z\\" + std::to_string(i), "D:\\d\\" + std::to_string(i));
  HWND list = form.Control("ListView1");
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED;
  state.state = LVIS_SELECTED;
  SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  SendMessageW(list, LVM_SETITEMSTATE, 3, reinterpret_cast<LPARAM>(&state));
  form.Button4Click();
  const auto pairs = form.Pairs();
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].source, "C:\\z\\0");
  EXPECT_EQ(pairs[0].destination, "D:\\d\\0");
  EXPECT_EQ(pairs[1].source, "C:\\z\\2");
  form.Button5Click();
  EXPECT_EQ(ItemCount(), 0);
}

// Drives the file dialogs as a user would: a hook on this thread sees each
// dialog become active and, when its title is the next one expected, sets a
// timer on it whose callback (run by the dialog's own message loop) acts.
class DialogDriver {
 public:
  using Action = std::function<void(HWND dialog)>;
  DialogDriver() {
    current_ = this;
    hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
  }
  ~DialogDriver() {
    UnhookWindowsHookEx(hook_);
    current_ = nullptr;
  }
  void Expect(const std::string& title, Action action) { steps_.push_back({win::Widen(title), std::move(action)}); }
  int done = 0;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    DialogDriver* self = current_;
    if (code == HCBT_ACTIVATE && self && self->done < static_cast<int>(self->steps_.size())) {
      HWND w = reinterpret_cast<HWND>(wp);
      wchar_t cls[16] = {}, title[128] = {};
      GetClassNameW(w, cls, 16);
      GetWindowTextW(w, title, 128);
      if (std::wstring(cls) == L"#32770" && self->steps_[self->done].title == title && w != self->pending_) {
        self->pending_ = w;
        SetTimer(w, 1, 100, Act);
      }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static void CALLBACK Act(HWND w, UINT, UINT_PTR id, DWORD) {
    KillTimer(w, id);
    DialogDriver* self = current_;
    if (!self || self->done >= static_cast<int>(self->steps_.size())) return;
    self->steps_[self->done++].action(w);
  }
  struct Step {
    std::wstring title;
    Action action;
  };
  static inline DialogDriver* current_ = nullptr;
  HHOOK hook_ = nullptr;
  HWND pending_ = nullptr;
  std::vector<Step> steps_;
};

void TypeNameAndConfirm(HWND dialog, const std::string& path) {
  HWND name = GetDlgItem(dialog, cmb13);
  if (!name) name = GetDlgItem(dialog, edt1);
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(win::Widen(path).c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

void Cancel(HWND dialog) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

TEST_F(ResumeWindow, CancellingTheSaveDialogAddsNothing) {
  test::WriteFile(dir / "zrodlo.bin", "x");
  {
    DialogDriver driver;
    driver.Expect("Wskaż plik źródłowy", [&](HWND d) { TypeNameAndConfirm(d, dir / "zrodlo.bin"); });
    driver.Expect("Wskaż plik docelowy", Cancel);
    form.Button3Click();
  }
  EXPECT_EQ(ItemCount(), 0);
  EXPECT_TRUE(errors.empty());
}

TEST_F(ResumeWindow, BothDialogsConfirmedAddOnePair) {
  test::WriteFile(dir / "zrodlo.bin", "x");
  DialogDriver driver;
  driver.Expect("Wskaż plik źródłowy", [&](HWND d) { TypeNameAndConfirm(d, dir / "zrodlo.bin"); });
  // A name that does not exist is taken without a question, and not created.
  driver.Expect("Wskaż plik docelowy", [&](HWND d) { TypeNameAndConfirm(d, dir / "nowy.bin"); });
  form.Button3Click();
  EXPECT_EQ(driver.done, 2);
  const auto pairs = form.Pairs();
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].source, dir / "zrodlo.bin");
  EXPECT_EQ(pairs[0].destination, dir / "nowy.bin");
  EXPECT_FALSE(test::FileExists(dir / "nowy.bin"));
}

}  // namespace
}  // namespace sk::ui
