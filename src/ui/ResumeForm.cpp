#include <windows.h>

#include "ui/ResumeForm.h"
#include "ui/CommonControls.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "core/Formats.h"
#include "ui/Resources.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

constexpr COLORREF kOlive = RGB(128, 128, 0);

const std::vector<ControlSpec>& Controls() {
  // In tab order: ListView1, TrackBar1 (disabled), Button1, Button2, Button3,
  // Button4, Button5.
  static const std::vector<ControlSpec> table = {
      {.name = "Image1", .cls = WC_STATICW, .caption = "", .x = 0, .y = 0, .w = 125, .h = 125,
       .style = SS_OWNERDRAW},
      {.name = "Label1", .cls = WC_STATICW, .caption = "Resumak", .x = 136, .y = 24, .w = 80, .h = 19,
       .style = kLabel, .font = {L"Tahoma", 16, true}, .autoSize = true},
      {.name = "Label2", .cls = WC_STATICW,
       .caption = "Nie udało się dokopiować pliku do końca lub przerwałeś kopiowanie? Nic straconego! Dzięki "
                  "Resumak możesz dokopiować pliki i już o nie się nie martwić.",
       .x = 136, .y = 56, .w = 545, .h = 29, .style = kWrappedLabel, .color = kOlive},
      {.name = "Bevel1", .cls = WC_STATICW, .caption = "", .x = 4, .y = 132, .w = 677, .h = 5, .style = kBevel},

      {.name = "GroupBox1", .cls = WC_BUTTONW, .caption = " Lista plików ", .x = 4, .y = 140, .w = 677, .h = 169,
       .style = kGroupBox},
      {.name = "ListView1", .cls = WC_LISTVIEWW, .caption = "", .x = 8, .y = 16, .w = 661, .h = 145,
       .style = LVS_REPORT | LVS_NOSORTHEADER | WS_TABSTOP, .parent = "GroupBox1", .exStyle = WS_EX_CLIENTEDGE},

      {.name = "GroupBox2", .cls = WC_BUTTONW, .caption = " Poziom kopiowania ", .x = 4, .y = 416, .w = 281,
       .h = 89, .style = kGroupBox},
      {.name = "TrackBar1", .cls = TRACKBAR_CLASSW, .caption = "", .x = 12, .y = 28, .w = 257, .h = 33,
       .style = TBS_AUTOTICKS | TBS_HORZ | WS_TABSTOP | WS_DISABLED, .parent = "GroupBox2"},
      {.name = "Label3", .cls = WC_STATICW, .caption = "Poziom 1", .x = 20, .y = 60, .w = 241, .h = 13,
       .style = kCentredLabel | WS_DISABLED, .parent = "GroupBox2", .font = kBold},

      {.name = "GroupBox3", .cls = WC_BUTTONW, .caption = " Status dokopiowywania ", .x = 292, .y = 312,
       .w = 389, .h = 193, .style = kGroupBox},
      {.name = "Label4", .cls = WC_STATICW, .caption = "Upłynęło:", .x = 8, .y = 20, .w = 54, .h = 13,
       .style = kLabel, .parent = "GroupBox3", .font = kBold, .autoSize = true},
      {.name = "Label5", .cls = WC_STATICW, .caption = "0 sek", .x = 68, .y = 20, .w = 313, .h = 13,
       .style = kRightLabel, .parent = "GroupBox3"},
      {.name = "Label6", .cls = WC_STATICW, .caption = "Aktualny plik:", .x = 8, .y = 48, .w = 77, .h = 13,
       .style = kLabel, .parent = "GroupBox3", .font = kBold, .autoSize = true},
      {.name = "Label7", .cls = WC_STATICW, .caption = "Brak", .x = 92, .y = 48, .w = 289, .h = 13,
       .style = kRightLabel | SS_ENDELLIPSIS, .parent = "GroupBox3"},
      {.name = "Label8", .cls = WC_STATICW, .caption = "Pozostało do skopiowania:", .x = 8, .y = 64, .w = 150,
       .h = 13, .style = kLabel, .parent = "GroupBox3", .font = kBold, .autoSize = true},
      {.name = "Label9", .cls = WC_STATICW, .caption = "0B", .x = 160, .y = 64, .w = 221, .h = 13,
       .style = kRightLabel, .parent = "GroupBox3"},
      {.name = "ProgressBar1", .cls = PROGRESS_CLASSW, .caption = "", .x = 8, .y = 84, .w = 373, .h = 17,
       .style = PBS_SMOOTH, .parent = "GroupBox3"},
      {.name = "Button1", .cls = WC_BUTTONW, .caption = "Rozpocznij", .x = 260, .y = 164, .w = 121, .h = 21,
       .style = BS_DEFPUSHBUTTON | WS_TABSTOP, .parent = "GroupBox3", .font = kBold},
      {.name = "Button2", .cls = WC_BUTTONW, .caption = "Zatrzymaj", .x = 8, .y = 164, .w = 121, .h = 21,
       .style = kButton | WS_DISABLED, .parent = "GroupBox3"},

      {.name = "GroupBox4", .cls = WC_BUTTONW, .caption = " Zarządzanie listą ", .x = 4, .y = 312, .w = 281,
       .h = 101, .style = kGroupBox},
      {.name = "Button3", .cls = WC_BUTTONW, .caption = "Dodaj plik", .x = 8, .y = 20, .w = 261, .h = 21,
       .style = kButton, .parent = "GroupBox4"},
      {.name = "Button4", .cls = WC_BUTTONW, .caption = "Usuń zaznaczone", .x = 8, .y = 44, .w = 261, .h = 21,
       .style = kButton, .parent = "GroupBox4"},
      {.name = "Button5", .cls = WC_BUTTONW, .caption = "Wyczyść listę", .x = 8, .y = 68, .w = 261, .h = 21,
       .style = kButton, .parent = "GroupBox4"},
  };
  return table;
}

std::string ItemText(HWND list, int item, int column) {
  std::vector<wchar_t> buffer(32768, L'\0');
  LVITEMW lv{};
  lv.iSubItem = column;
  lv.pszText = buffer.data();
  lv.cchTextMax = static_cast<int>(buffer.size());
  SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv));
  return win::Narrow(buffer.data());
}

}  // namespace

TForm3::TForm3()
    : files_(std::make_unique<win::WinFileSystem>()),
      clock_(std::make_unique<win::WinClock>()),
      resumer_(std::make_unique<Resumer>(*files_, *clock_, *this, &host_.Files())) {}

void TForm3::SetRunHook(std::function<void(bool running)> hook) {
  runHook_ = std::move(hook);
  // The hook is told, never asked: "Rozpocznij" is held while no run may begin.
  host_.SetGate([this](bool running) {
    if (runHook_) runHook_(running);
    return true;
  });
}

TForm3::~TForm3() {
  if (logo_) DeleteObject(logo_);
}

void TForm3::Create() {
  logo_ = static_cast<HBITMAP>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  CreateForm({.className = L"TForm3", .caption = "Resumak", .clientWidth = 688, .clientHeight = 510,
              .style = WS_POPUP | WS_CAPTION | WS_SYSMENU, .exStyle = WS_EX_DLGMODALFRAME},
             Controls());
  SetUpList();
  HWND bar = Control("TrackBar1");
  SendMessageW(bar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 4));
  SendMessageW(bar, TBM_SETPOS, TRUE, 0);
  shown_.progressMax = -1;  // the bar's range is set by the first display
  Guarded([this] { FormCreate(); });
}

void TForm3::SetUpList() {
  HWND list = Control("ListView1");
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_FLATSB,
               LVS_EX_FULLROWSELECT | LVS_EX_FLATSB);
  AddListColumns(list, {{"Plik źródłowy", 320}, {"Plik docelowy", 337}});
}

void TForm3::FormCreate() { stopRequested_ = false; }

void TForm3::OnCommand(const std::string& name, int code) {
  if (code != BN_CLICKED) return;
  if (name == "Button1") Button1Click();
  else if (name == "Button2") Button2Click();
  else if (name == "Button3") Button3Click();
  else if (name == "Button4") Button4Click();
  else if (name == "Button5") Button5Click();
}

LRESULT TForm3::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      Hide();  // closing only hides the window; a run goes on
      return 0;
    case DM_GETDEFID:  // Enter presses "Rozpocznij"
      return MAKELRESULT(ControlId("Button1"), DC_HASDEFID);
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->hwndItem == Control("Image1")) {
        DrawLogo(*item);
        return TRUE;
      }
      break;
    }
    default: break;
  }
  return Window::HandleMessage(msg, wp, lp);
}

void TForm3::DrawLogo(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  const RECT rc = item.rcItem;
  FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  if (!logo_) return;
  BITMAP bm{};
  GetObjectW(logo_, sizeof bm, &bm);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, logo_);
  // The colour of the bottom-left pixel is the ground, drawn transparent.
  const COLORREF ground = GetPixel(mem, 0, bm.bmHeight - 1);
  // From the top-left corner, one pixel for one pixel, clipped to the control.
  const int w = std::min<int>(bm.bmWidth, rc.right - rc.left);
  const int h = std::min<int>(bm.bmHeight, rc.bottom - rc.top);
  TransparentBlt(dc, rc.left, rc.top, w, h, mem, 0, 0, w, h, ground);
  SelectObject(mem, old);
  DeleteDC(mem);
}

// ---- the list ----

void TForm3::AddPair(const std::string& source, const std::string& destination) {
  HWND list = Control("ListView1");
  std::wstring s = win::Widen(source), d = win::Widen(destination);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = s.data();
  const int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (at < 0) throw std::runtime_error("Cannot add a list item");
  LVITEMW sub{};
  sub.iSubItem = 1;
  sub.pszText = d.data();
  SendMessageW(list, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&sub));
}

std::vector<ResumePair> TForm3::Pairs() const {
  HWND list = Control("ListView1");
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  std::vector<ResumePair> pairs;
  pairs.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) pairs.push_back({ItemText(list, i, 0), ItemText(list, i, 1)});
  return pairs;
}

void TForm3::HoldDialogs(bool hold) {
  dialogsHeld_ = hold;
  Enable("Button3", !running_ && !dialogsHeld_);
}

void TForm3::Button3Click() {
  if (running_ || dialogsHeld_) return;
  // Each dialog opens with its own previous choice.
  auto choose = [this](const FileDialogSpec& design, std::wstring& choice) {
    std::wstring buffer = choice;
    buffer.resize(32768, L'\0');
    if (!RunFileDialog(hwnd_, design, buffer)) return false;
    choice = buffer.c_str();
    return true;
  };
  if (!choose({.title = "Wskaż plik źródłowy"}, openChoice_)) return;
  if (!choose({.title = "Wskaż plik docelowy", .save = true}, saveChoice_)) return;
  AddPair(win::Narrow(openChoice_), win::Narrow(saveChoice_));
}

void TForm3::Button4Click() {
  HWND list = Control("ListView1");
  for (int i = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) - 1; i >= 0; --i) {
    if (SendMessageW(list, LVM_GETITEMSTATE, i, LVIS_SELECTED) & LVIS_SELECTED)
      SendMessageW(list, LVM_DELETEITEM, i, 0);
  }
}

void TForm3::Button5Click() { SendMessageW(Control("ListView1"), LVM_DELETEALLITEMS, 0, 0); }

// ---- the run ----

void TForm3::Button1Click() {
  if (running_ || held_) return;  // one run at a time, and never beside a copy run
  resumer_->Start(Pairs());  // the list cannot change during the run: it is disabled
}

void TForm3::Button2Click() {
  stopRequested_ = true;
  if (taskbar_ && running_) taskbar_->Pause();
}

void TForm3::HoldStart(bool hold) {
  held_ = hold;
  UpdateStartButton();
}

void TForm3::UpdateStartButton() { Enable("Button1", !running_ && !held_); }

void TForm3::SetRunning(bool running) {
  running_ = running;
  HWND focus = GetFocus();
  const bool focusHere = focus && GetAncestor(focus, GA_ROOT) == hwnd_;
  for (const char* name : {"ListView1", "Button4", "Button5"}) Enable(name, !running);
  Enable("Button3", !running && !dialogsHeld_);
  Enable("Button2", running);
  UpdateStartButton();
  // Keep the keyboard in the window when the focused button is switched off.
  if (focusHere && !IsWindowEnabled(focus)) {
    HWND next = Control(running ? "Button2" : "Button1");
    if (!IsWindowEnabled(next)) next = Control("ListView1");
    SetFocus(next);
  }
  if (running)
    host_.Begin();
  else
    host_.End();
}

void TForm3::Show(const ResumeStatus& status) {
  std::string elapsed = status.ElapsedText(), remaining = status.RemainingText();
  if (elapsed != shownElapsed_) SetText("Label5", elapsed);
  if (status.currentFile != shown_.currentFile) SetText("Label7", status.currentFile);
  if (remaining != shownRemaining_) SetText("Label9", remaining);
  shownElapsed_ = std::move(elapsed);
  shownRemaining_ = std::move(remaining);
  // The bar takes a 32-bit range: larger byte counts are shifted down to fit.
  int shift = 0;
  while ((status.progressMax >> shift) > 0x7FFFFFFF) ++shift;
  HWND bar = Control("ProgressBar1");
  const bool rangeChanged = status.progressMax != shown_.progressMax || shift != barShift_;
  if (rangeChanged)
    SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(status.progressMax >> shift));
  const int64_t position = std::min<int64_t>(status.progressPosition >> shift, 0x7FFFFFFF);
  if (rangeChanged || position != (shown_.progressPosition >> barShift_))
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  barShift_ = shift;
  shown_ = status;
  if (taskbar_ && running_) taskbar_->Show(status.progressMax, status.progressPosition);
}

void TForm3::Pump() { PumpMessages(); }

void TForm3::ReportError(const std::string& text) {
  if (taskbar_ && running_) taskbar_->Fail();  // a pair of the run has failed
  sk::ui::ReportError(text);
}

std::string TForm3::DecimalSeparator() { return win::DecimalSeparator(); }

bool TForm3::AskMediumRetry(MediumQuestion question) { return ui::AskMediumRetry(hwnd_, question); }

void TForm3::WhileRescueWaits() {
  if (!running_) return;
  ResumeStatus status = resumer_->Status();
  status.elapsedSeconds = ElapsedSeconds(clock_->Now(), startTime_);
  Show(status);
}

}  // namespace sk::ui
