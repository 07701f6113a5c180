#include "ui/MainForm.h"

#include <commctrl.h>
#include <windowsx.h>

#include "core/Settings.h"
#include "ui/ApplicationWindow.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

constexpr const char* kCaption = "Sektorian 1.1.0 (2008-02-03)";

const std::vector<ControlSpec>& Controls() {
  static const std::vector<ControlSpec> table = {
      // The file list (upper half).
      {.name = "GroupBox3", .cls = WC_BUTTONW, .caption = " Lista plików ", .x = 4, .y = 4, .w = 669, .h = 277,
       .style = kGroupBox},
      {.name = "ListView1", .cls = WC_LISTVIEWW, .caption = "", .x = 8, .y = 16, .w = 653, .h = 145,
       .style = LVS_REPORT | LVS_SHOWSELALWAYS | WS_TABSTOP, .parent = "GroupBox3", .exStyle = WS_EX_CLIENTEDGE},
      {.name = "Button1", .cls = WC_BUTTONW, .caption = "Dodaj plik(i)", .x = 8, .y = 164, .w = 209, .h = 21,
       .style = kButton, .parent = "GroupBox3"},
      {.name = "Button2", .cls = WC_BUTTONW, .caption = "Dodaj pliki z wpisanej ścieżki", .x = 232, .y = 164,
       .w = 209, .h = 21, .style = kButton, .parent = "GroupBox3"},
      {.name = "Button8", .cls = WC_BUTTONW, .caption = "Dodaj pliki z wybranej ścieżki", .x = 452, .y = 164,
       .w = 209, .h = 21, .style = kButton, .parent = "GroupBox3"},
      {.name = "Button3", .cls = WC_BUTTONW, .caption = "Usuń z listy zaznaczone", .x = 8, .y = 188, .w = 325,
       .h = 21, .style = kButton, .parent = "GroupBox3"},
      {.name = "Button4", .cls = WC_BUTTONW, .caption = "Wyczyść listę", .x = 336, .y = 188, .w = 325, .h = 21,
       .style = kButton, .parent = "GroupBox3"},
      {.name = "GroupBox1", .cls = WC_BUTTONW,
       .caption = " Skopiuj pliki do katalogu: (struktura katalogów nie zostanie zachowana) ", .x = 8, .y = 216,
       .w = 653, .h = 49, .style = kGroupBox, .parent = "GroupBox3"},
      {.name = "Edit1", .cls = WC_EDITW, .caption = "", .x = 8, .y = 20, .w = 613, .h = 21,
       .style = ES_AUTOHSCROLL | WS_TABSTOP, .parent = "GroupBox1", .exStyle = WS_EX_CLIENTEDGE},
      {.name = "Button5", .cls = WC_BUTTONW, .caption = "...", .x = 624, .y = 20, .w = 21, .h = 21,
       .style = kButton, .parent = "GroupBox1"},

      // The copy status (lower half).
      {.name = "GroupBox4", .cls = WC_BUTTONW, .caption = " Status kopiowania ", .x = 4, .y = 288, .w = 669,
       .h = 201, .style = kGroupBox},
      {.name = "Label1", .cls = WC_STATICW, .caption = "Upłynęło:", .x = 16, .y = 16, .w = 54, .h = 13,
       .style = kLabel, .parent = "GroupBox4", .font = kBold, .autoSize = true},
      {.name = "Label3", .cls = WC_STATICW, .caption = "0 sek", .x = 72, .y = 16, .w = 209, .h = 13,
       .style = kRightLabel, .parent = "GroupBox4"},
      {.name = "Label4", .cls = WC_STATICW, .caption = "Pozostało:", .x = 16, .y = 32, .w = 59, .h = 13,
       .style = kLabel, .parent = "GroupBox4", .font = kBold, .autoSize = true},
      {.name = "Label5", .cls = WC_STATICW, .caption = "0 sek", .x = 76, .y = 32, .w = 205, .h = 13,
       .style = kRightLabel, .parent = "GroupBox4"},
      {.name = "Bevel2", .cls = WC_STATICW, .caption = "", .x = 16, .y = 52, .w = 265, .h = 5, .style = kBevel,
       .parent = "GroupBox4"},
      {.name = "Label6", .cls = WC_STATICW, .caption = "Aktualny plik:", .x = 16, .y = 60, .w = 77, .h = 13,
       .style = kLabel, .parent = "GroupBox4", .font = kBold, .autoSize = true},
      {.name = "Label7", .cls = WC_STATICW, .caption = "Brak", .x = 96, .y = 60, .w = 185, .h = 13,
       .style = kRightLabel | SS_ENDELLIPSIS, .parent = "GroupBox4"},
      {.name = "Label8", .cls = WC_STATICW, .caption = "Skopiowano:", .x = 16, .y = 76, .w = 71, .h = 13,
       .style = kLabel, .parent = "GroupBox4", .font = kBold, .autoSize = true},
      {.name = "Label9", .cls = WC_STATICW, .caption = "0 B / 0 B", .x = 88, .y = 76, .w = 193, .h = 13,
       .style = kRightLabel, .parent = "GroupBox4"},
      {.name = "ProgressBar1", .cls = PROGRESS_CLASSW, .caption = "", .x = 16, .y = 96, .w = 265, .h = 17,
       .style = PBS_SMOOTH, .parent = "GroupBox4"},
      {.name = "Bevel3", .cls = WC_STATICW, .caption = "", .x = 16, .y = 120, .w = 265, .h = 5, .style = kBevel,
       .parent = "GroupBox4"},
      {.name = "Label10", .cls = WC_STATICW, .caption = "Całkowity postęp:", .x = 16, .y = 128, .w = 101, .h = 13,
       .style = kLabel, .parent = "GroupBox4", .font = kBold, .autoSize = true},
      {.name = "ProgressBar2", .cls = PROGRESS_CLASSW, .caption = "", .x = 16, .y = 144, .w = 265, .h = 17,
       .style = PBS_SMOOTH, .parent = "GroupBox4"},
      {.name = "Bevel4", .cls = WC_STATICW, .caption = "", .x = 16, .y = 168, .w = 265, .h = 5, .style = kBevel,
       .parent = "GroupBox4"},
      {.name = "Button65", .cls = WC_BUTTONW, .caption = "Zatrzymaj", .x = 16, .y = 172, .w = 81, .h = 21,
       .style = kButton | WS_DISABLED, .parent = "GroupBox4"},
      {.name = "Button7", .cls = WC_BUTTONW, .caption = "Rozpocznij", .x = 200, .y = 172, .w = 81, .h = 21,
       .style = kButton, .parent = "GroupBox4", .font = kBold},
      {.name = "GroupBox2", .cls = WC_BUTTONW, .caption = " Dziennik zdarzeń ", .x = 292, .y = 12, .w = 369,
       .h = 181, .style = kGroupBox, .parent = "GroupBox4"},
      {.name = "ListView2", .cls = WC_LISTVIEWW, .caption = "", .x = 8, .y = 16, .w = 353, .h = 141,
       .style = LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP,
       .parent = "GroupBox2", .exStyle = WS_EX_CLIENTEDGE},
      {.name = "CheckBox1", .cls = WC_BUTTONW, .caption = "Autoprzewijanie", .x = 8, .y = 160, .w = 120, .h = 17,
       .style = BS_AUTOCHECKBOX | WS_TABSTOP, .parent = "GroupBox2"},
  };
  return table;
}

}  // namespace

TForm1::TForm1() { DesignHttpFetch1(); }
TForm1::~TForm1() {
  TrayIcon1.reset();  // removes its icon and gives the window back its procedure
  if (popupMenu1_) DestroyMenu(popupMenu1_);
  if (popupMenu2_) DestroyMenu(popupMenu2_);
  if (accel_) DestroyAcceleratorTable(accel_);
  DestroyForm();  // before the window that owns it
  application_.reset();
}

void TForm1::Create() {
  menu_ = BuildMenu();
  application_ = std::make_unique<ApplicationWindow>();
  CreateForm({.className = L"TForm1",
              .caption = kCaption,
              .clientWidth = 680,
              .clientHeight = 497,
              .style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
              .owner = application_->hwnd()},
             Controls(), menu_);
  application_->SetMainWindow(hwnd_);
  SetUpFileList();
  BuildTrayMenu();
  CreateTrayIcon1(nullptr);
  SetUpStatusArea();
  SetUpDesktop();
  Guarded([this] { FormCreate(); });
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (LRESULT result = 0; HandleListMessage(msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_CLOSE:
      CloseRequested();
      return 0;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (NotifyStatusArea(*reinterpret_cast<const NMHDR*>(lp), result)) return result;
      return Window::HandleMessage(msg, wp, lp);
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_WINDOWPOSCHANGED: {
      // The taskbar button is there exactly while this window is shown.
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lp);
      if (application_ && (pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)))
        application_->FollowMainWindow((pos->flags & SWP_SHOWWINDOW) != 0);
      return Window::HandleMessage(msg, wp, lp);
    }
    case WM_DROPFILES:
      FormDropFiles(reinterpret_cast<HDROP>(wp));
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wp) == Control("ListView2")) {
        ListView2ContextPopup({GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
        return 0;
      }
      return Window::HandleMessage(msg, wp, lp);
    case WM_ACTIVATE:
      // Leaving the window: remember where the keyboard was, as a dialog does.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
      }
      return Window::HandleMessage(msg, wp, lp);
    case WM_SETFOCUS: {
      // Back in the window: the keyboard goes where it was, else to the first control.
      HWND to = lastFocus_ && IsChild(hwnd_, lastFocus_) && IsWindowEnabled(lastFocus_) ? lastFocus_ : nullptr;
      if (!to) to = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
      if (to) SetFocus(to);
      return 0;
    }
    default:
      if (msg == TaskbarButtonCreatedMessage() && msg != 0) {
        taskbar_.Reapply();  // a new button knows nothing of the run's progress
        return 0;
      }
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace sk::ui
