#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include "ui/SettingsForm.h"
#include "ui/CommonControls.h"

#include <vector>

#include "core/Settings.h"
#include "ui/MainForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

constexpr const char* kRadioCaptions[TForm2::kRadioItems] = {
    "Nic nie rób",    "Pokaż komunikat", "Zminimalizuj do traya", "Uruchom wybrany program:",
    "Wyłącz program", "Wyłącz komputer",
};

// The radio group lays its items out in one column over its height, each the
// group's width less its margins; item 3 leaves room for Edit1 on its line.
constexpr const char* kRadioNames[TForm2::kRadioItems] = {
    "RadioGroup1Item0", "RadioGroup1Item1", "RadioGroup1Item2",
    "RadioGroup1Item3", "RadioGroup1Item4", "RadioGroup1Item5",
};

ControlSpec RadioItem(int i) {
  return {.name = kRadioNames[i], .cls = WC_BUTTONW, .caption = kRadioCaptions[i], .x = 8, .y = 14 + 21 * i,
          .w = i == 3 ? 160 : 451, .h = 21,
          .style = static_cast<DWORD>(BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0)),
          .parent = "RadioGroup1"};
}

// In table order, which is also the tab order.
const std::vector<ControlSpec>& Controls() {
  static const std::vector<ControlSpec> table = [] {
    std::vector<ControlSpec> t = {
        {.name = "Label1", .cls = WC_STATICW, .caption = "Opcje programu", .x = 8, .y = 8, .w = 180, .h = 29,
         .style = kLabel, .font = {L"Tahoma", 24, false}, .autoSize = true},
        {.name = "GroupBox1", .cls = WC_BUTTONW, .caption = " Poziom kopiowania ", .x = 8, .y = 48, .w = 461,
         .h = 177, .style = kGroupBox},
        {.name = "Label7", .cls = WC_STATICW,
         .caption = "Poniżej ustaw poziom kopiowania. Im szybszy, tym masz mniej pewności, że operacja kopiowania "
                    "skończy się sukcesem. Najwolniejszy, ale najbardziej skuteczny jest poziom zerowy.",
         .x = 8, .y = 20, .w = 445, .h = 45, .style = kCentredLabel, .parent = "GroupBox1",
         .font = {L"Tahoma", 12, false}},
        {.name = "TrackBar1", .cls = TRACKBAR_CLASSW, .caption = "", .x = 20, .y = 68, .w = 413, .h = 33,
         .style = TBS_HORZ | TBS_BOTH | TBS_AUTOTICKS | TBS_FIXEDLENGTH | WS_TABSTOP | WS_GROUP,
         .parent = "GroupBox1"},
        {.name = "Label2", .cls = WC_STATICW, .caption = "Jakość", .x = 8, .y = 104, .w = 40, .h = 18,
         .style = kLabel, .parent = "GroupBox1", .font = {L"Trebuchet MS", 13, true}, .color = RGB(0, 128, 0),
         .autoSize = true},
        {.name = "Label4", .cls = WC_STATICW, .caption = "Szybkość", .x = 396, .y = 104, .w = 57, .h = 18,
         .style = kLabel, .parent = "GroupBox1", .font = {L"Trebuchet MS", 13, true}, .color = RGB(128, 64, 0),
         .autoSize = true},
        {.name = "Label6", .cls = WC_STATICW, .caption = "Poziom 1", .x = 8, .y = 124, .w = 445, .h = 19,
         .style = kCentredLabel, .parent = "GroupBox1", .font = {L"Tahoma", 16, true}},
        // Under the level: rescue mode; everything below moved down to make room.
        {.name = "CheckBox2", .cls = WC_BUTTONW,
         .caption = "Tryb ratunkowy: pomijaj nieczytelne miejsca i zapisuj mapę odczytu", .x = 12, .y = 150,
         .w = 437, .h = 17, .style = BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, .parent = "GroupBox1"},
        {.name = "RadioGroup1", .cls = WC_BUTTONW, .caption = " Po skopiowaniu wszystkich plików... ", .x = 8,
         .y = 228, .w = 461, .h = 145, .style = kGroupBox},
    };
    for (int i = 0; i < TForm2::kRadioItems; ++i) t.push_back(RadioItem(i));
    const std::vector<ControlSpec> rest = {
        {.name = "Edit1", .cls = WC_EDITW, .caption = "", .x = 176, .y = 304, .w = 261, .h = 21,
         .style = ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, .exStyle = WS_EX_CLIENTEDGE},
        {.name = "Button1", .cls = WC_BUTTONW, .caption = "...", .x = 440, .y = 304, .w = 21, .h = 21,
         .style = kButton | WS_GROUP},
        {.name = "GroupBox2", .cls = WC_BUTTONW, .caption = " Dodatkowe opcje ", .x = 8, .y = 376, .w = 461,
         .h = 57, .style = kGroupBox | WS_DISABLED},
        {.name = "CheckBox1", .cls = WC_BUTTONW,
         .caption = "Po skończeniu kopiowania pliku, sprawdź czy ma taki sam rozmiar jak źródło", .x = 12, .y = 20,
         .w = 381, .h = 17, .style = BS_AUTOCHECKBOX | WS_TABSTOP | WS_DISABLED | WS_GROUP, .parent = "GroupBox2"},
        {.name = "Label8", .cls = WC_STATICW, .caption = "[ będzie zapisane w dzienniku zdarzeń ]", .x = 32, .y = 36,
         .w = 423, .h = 13, .style = kRightLabel | WS_DISABLED, .parent = "GroupBox2", .font = {L"Tahoma", 9, false},
         .color = RGB(255, 128, 64)},
        // Neither button is a default or cancel button: Enter and Escape press neither.
        {.name = "Button2", .cls = WC_BUTTONW, .caption = "OK", .x = 392, .y = 440, .w = 77, .h = 25,
         .style = kButton | WS_GROUP, .font = kBold},
        {.name = "Button3", .cls = WC_BUTTONW, .caption = "Anuluj", .x = 308, .y = 440, .w = 77, .h = 25,
         .style = kButton | WS_GROUP},
    };
    t.insert(t.end(), rest.begin(), rest.end());
    return t;
  }();
  return table;
}

}  // namespace

std::string TForm2::RadioItemName(int index) { return kRadioNames[index]; }

void TForm2::Create() {
  CreateForm({.className = L"TForm2", .caption = "Opcje programu", .clientWidth = 476, .clientHeight = 471,
              .style = WS_POPUP | WS_CAPTION | WS_SYSMENU, .exStyle = WS_EX_DLGMODALFRAME},
             Controls());
  HWND bar = Control("TrackBar1");
  SendMessageW(bar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 4));
  SendMessageW(bar, TBM_SETPAGESIZE, 0, 2);
  SendMessageW(bar, TBM_SETTHUMBLENGTH, Dpi(15), 0);
  SendMessageW(bar, TBM_SETPOS, TRUE, 0);
  Check(RadioItemName(0), true);
  Guarded([this] { FormCreate(); });
}

// ---- the settings as the controls show them ----

int TForm2::Level() const { return static_cast<int>(SendMessageW(Control("TrackBar1"), TBM_GETPOS, 0, 0)); }

int TForm2::ActionIndex() const {
  for (int i = 0; i < kRadioItems; ++i)
    if (Checked(RadioItemName(i))) return i;
  return -1;
}

std::string TForm2::ProgramToRun() const { return Text("Edit1"); }
bool TForm2::SizeCheck() const { return Checked("CheckBox1"); }
bool TForm2::RescueMode() const { return Checked("CheckBox2"); }

void TForm2::SetLevel(int level) {
  main_.LiveSettings().level = ClampLevel(level);
  ShowSettings();
}

void TForm2::SetActionIndex(int index) {
  main_.LiveSettings().endAction = ClampEndAction(index);
  ShowSettings();
}

void TForm2::SetProgramToRun(const std::string& path) {
  main_.LiveSettings().runAfter = path;
  ShowSettings();
}

void TForm2::SetSizeCheck(bool on) {
  main_.LiveSettings().checkFiles = on;
  ShowSettings();
}

void TForm2::SetRescueMode(bool on) {
  main_.LiveSettings().rescueMode = on;
  ShowSettings();
}

void TForm2::ShowSettings() {
  if (!hwnd_) return;
  const RunSettings shown = main_.LiveSettings();  // the controls' notifications write back what they show
  SendMessageW(Control("TrackBar1"), TBM_SETPOS, TRUE, ClampLevel(shown.level));
  TrackBar1Change();
  const int selected = ClampEndAction(shown.endAction);
  for (int i = 0; i < kRadioItems; ++i) Check(RadioItemName(i), i == selected);
  if (Text("Edit1") != shown.runAfter) SetText("Edit1", shown.runAfter);
  Check("CheckBox1", shown.checkFiles);
  Check("CheckBox2", shown.rescueMode);
  main_.LiveSettings() = shown;
}

void TForm2::EnableActionChoice(bool on) {
  Enable("RadioGroup1", on);
  for (int i = 0; i < kRadioItems; ++i) Enable(RadioItemName(i), on);
}

bool TForm2::ActionChoiceEnabled() const { return Enabled("RadioGroup1"); }

// ---- handlers ----

void TForm2::FormCreate() {
  ShowSettings();  // the defaults, when the load below fails at its first read
  main_.Settings().DialogCreated();
}

void TForm2::TrackBar1Change() {
  main_.LiveSettings().level = Level();
  SetText("Label6", "Poziom " + std::to_string(Level() + 1));
}

void TForm2::HoldDialogs(bool hold) {
  dialogsHeld_ = hold;
  Enable("Button1", !hold);
}

void TForm2::Button1Click() {
  if (dialogsHeld_) return;
  std::wstring file(32768, L'\0');
  if (RunFileDialog(hwnd_, {.title = "Dodaj plik(i)"}, file)) SetProgramToRun(win::Narrow(file.c_str()));
}

void TForm2::Button2Click() {
  // The dialog closes whether or not the save succeeded.
  try {
    main_.Settings().OkPressed();
  } catch (...) {
    Hide();
    throw;
  }
  Hide();
}

void TForm2::Button3Click() {
  try {
    main_.Settings().CancelPressed();
  } catch (...) {
    Hide();
    throw;
  }
  Hide();
}

void TForm2::OnCommand(const std::string& name, int code) {
  // The user's changes go into the run settings as they are made.
  RunSettings& live = main_.LiveSettings();
  if (name == "Edit1" && code == EN_CHANGE) live.runAfter = ProgramToRun();
  if (code != BN_CLICKED) return;
  if (name == "CheckBox1") live.checkFiles = SizeCheck();
  else if (name == "CheckBox2") live.rescueMode = RescueMode();
  else if (name.starts_with("RadioGroup1Item")) live.endAction = ActionIndex();
  else if (name == "Button1") Button1Click();
  else if (name == "Button2") Button2Click();
  else if (name == "Button3") Button3Click();
}

LRESULT TForm2::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      Hide();  // the title-bar close only hides the dialog
      return 0;
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lp) == Control("TrackBar1")) TrackBar1Change();
      return 0;
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

}  // namespace sk::ui
