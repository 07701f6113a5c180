// The main window's menus, shortcuts and the small commands hanging off them.
#include <windows.h>
#include <shellapi.h>

#include <stdexcept>

#include "ui/Guide.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

struct MenuItemSpec {
  const char* menu;     // name of the top-level menu it belongs to
  const char* name;     // nullptr: separator
  const char* caption;  // UTF-8
  BYTE keyFlags;        // FCONTROL etc., with FVIRTKEY
  WORD key;             // virtual key, 0: none
  const char* shortcutText;
};

struct TopMenuSpec {
  const char* name;
  const char* caption;
};

constexpr TopMenuSpec kTopMenus[] = {
    {"Plik1", "&Plik"},
    {"Lista1", "&Lista"},
    {"Narzdzia1", "&Narzędzia"},
    {"Pomoc1", "P&omoc"},
};

constexpr MenuItemSpec kMenuItems[] = {
    {"Plik1", "Zamknij1", "Zamknij program", FCONTROL, 'Y', "Ctrl+Y"},
    {"Lista1", "Dodajplik1", "Dodaj plik(i)", FCONTROL, 'A', "Ctrl+A"},
    {"Lista1", "Wpiszciekfolderu1", "Dodaj pliki z wpisanej ścieżki", FCONTROL, 'P', "Ctrl+P"},
    {"Lista1", "Wybierzfolder1", "Dodaj pliki z wybranej ścieżki", FCONTROL, 'B', "Ctrl+B"},
    {"Lista1", nullptr, nullptr, 0, 0, nullptr},
    {"Lista1", "Usuzlistyzaznaczonepliki1", "Usuń z listy zaznaczone pliki", 0, VK_DELETE, "Del"},
    {"Lista1", "Wyczylist1", "Wyczyść listę", FCONTROL, 'C', "Ctrl+C"},
    {"Narzdzia1", "Resumak1", "Resumak", FCONTROL, 'F', "Ctrl+F"},
    {"Narzdzia1", "Mapaodczytu1", "Mapa odczytu...", FCONTROL, 'M', "Ctrl+M"},
    {"Narzdzia1", "Obrazpyty1", "Obraz płyty...", FCONTROL, 'D', "Ctrl+D"},
    {"Narzdzia1", nullptr, nullptr, 0, 0, nullptr},
    {"Narzdzia1", "Aktualizacjaprogramu1", "Aktualizacja programu", FCONTROL, 'K', "Ctrl+K"},
    {"Narzdzia1", nullptr, nullptr, 0, 0, nullptr},
    {"Narzdzia1", "Ustawieniaprogramu1", "Ustawienia programu", FCONTROL, 'U', "Ctrl+U"},
    {"Pomoc1", "Podrcznik1", "Podręcznik", 0, 0, "F1"},
    {"Pomoc1", nullptr, nullptr, 0, 0, nullptr},
    {"Pomoc1", "StronaWWW1", "Strona WWW", FCONTROL, 'W', "Ctrl+W"},
    {"Pomoc1", nullptr, nullptr, 0, 0, nullptr},
    {"Pomoc1", "Oprogramie1", "O programie", FCONTROL, 'G', "Ctrl+G"},
};

using Handler = void (TForm1::*)();
struct CommandSpec {
  const char* name;
  Handler handler;
};

// Which handler each button and menu item calls; a button and its menu item
// share one handler.
constexpr CommandSpec kCommands[] = {
    {"Zamknij1", &TForm1::Zamknij1Click},
    {"Dodajplik1", &TForm1::Button1Click},
    {"Button1", &TForm1::Button1Click},
    {"Wpiszciekfolderu1", &TForm1::Wpiszciekfolderu1Click},
    {"Button2", &TForm1::Wpiszciekfolderu1Click},
    {"Wybierzfolder1", &TForm1::Wybierzfolder1Click},
    {"Button8", &TForm1::Wybierzfolder1Click},
    {"Usuzlistyzaznaczonepliki1", &TForm1::Button3Click},
    {"Button3", &TForm1::Button3Click},
    {"Wyczylist1", &TForm1::Button4Click},
    {"Button4", &TForm1::Button4Click},
    {"Button5", &TForm1::Button5Click},
    {"Button7", &TForm1::Button8Click},
    {"Button65", &TForm1::Button65Click},
    {"Resumak1", &TForm1::SpeedButton4Click},
    {"Mapaodczytu1", &TForm1::Mapaodczytu1Click},
    {"Obrazpyty1", &TForm1::Obrazpyty1Click},
    {"Aktualizacjaprogramu1", &TForm1::Button6Click},
    {"Ustawieniaprogramu1", &TForm1::SpeedButton2Click},
    {"Podrcznik1", &TForm1::Podrcznik1Click},
    {"StronaWWW1", &TForm1::SpeedButton3Click},
    {"Oprogramie1", &TForm1::Oprogramie1Click},
    {"Poka1", &TForm1::Poka1Click},
    {"Schowajdotraya1", &TForm1::Schowajdotraya1Click},
};

}  // namespace

// The project's web page (a neutral address of the program's own).
constexpr const wchar_t* kHomePage = L"http://sektorian.example.org/";

HMENU TForm1::BuildMenu() {
  HMENU bar = CreateMenu();
  std::vector<ACCEL> accels;
  for (const auto& top : kTopMenus) {
    HMENU popup = CreatePopupMenu();
    for (const auto& item : kMenuItems) {
      if (std::string_view(item.menu) != top.name) continue;
      if (!item.name) {
        AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      const int id = RegisterCommand(item.name);
      std::string text = item.caption;
      if (item.shortcutText) text += std::string("\t") + item.shortcutText;
      AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(id), win::Widen(text).c_str());
      if (item.key) accels.push_back({static_cast<BYTE>(FVIRTKEY | item.keyFlags), item.key, static_cast<WORD>(id)});
    }
    AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), win::Widen(top.caption).c_str());
  }
  accel_ = CreateAcceleratorTableW(accels.data(), static_cast<int>(accels.size()));
  return bar;
}

namespace {
// A name that is no top menu is a mistake in the program, as an unknown
// control name is.
int TopMenuPosition(std::string_view name) {
  for (size_t i = 0; i < std::size(kTopMenus); ++i) {
    if (name == kTopMenus[i].name) return static_cast<int>(i);
  }
  throw std::logic_error("Unknown top menu " + std::string(name));
}
}  // namespace

void TForm1::EnableTopMenu(std::string_view name, bool on) {
  const int pos = TopMenuPosition(name);
  if (!menu_) return;
  // During a copy run in rescue mode and an image run the read map window
  // (and the image window) stays at hand: its menu stays open with its other
  // items off.
  const bool mapOnly = !on && name == "Narzdzia1" &&
                       ((CopyRunning() && rescueMode_ && rescueMode_()) || runState_.Running() == RunKind::Image);
  // The update check's item follows the run state alone.
  for (const auto& item : kMenuItems) {
    if (!item.name || name != item.menu) continue;
    const std::string_view itemName(item.name);
    if (itemName == "Mapaodczytu1" || itemName == "Obrazpyty1" || itemName == "Aktualizacjaprogramu1") continue;
    const bool on = !mapOnly && RunGateOpen(itemName);
    EnableMenuItem(menu_, static_cast<UINT>(ControlId(item.name)), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  }
  if (mapOnly) EnableMenuItem(menu_, static_cast<UINT>(ControlId("Aktualizacjaprogramu1")), MF_BYCOMMAND | MF_GRAYED);
  EnableMenuItem(menu_, static_cast<UINT>(pos), MF_BYPOSITION | (on || mapOnly ? MF_ENABLED : MF_GRAYED));
  if (hwnd_) DrawMenuBar(hwnd_);
}

bool TForm1::TopMenuEnabled(std::string_view name) const {
  const int pos = TopMenuPosition(name);
  if (!menu_) return false;
  return !(GetMenuState(menu_, static_cast<UINT>(pos), MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED));
}

bool TForm1::MenuCommandAllowed(const std::string& name) const {
  for (const auto& item : kMenuItems) {
    if (item.name && name == item.name) {
      const UINT state = GetMenuState(menu_, static_cast<UINT>(ControlId(name)), MF_BYCOMMAND);
      return TopMenuEnabled(item.menu) && state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_DISABLED));
    }
  }
  if (popupMenu1_ && (name == "Poka1" || name == "Schowajdotraya1")) {
    const UINT state = GetMenuState(popupMenu1_, static_cast<UINT>(ControlId(name)), MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_DISABLED));
  }
  return true;
}

void TForm1::OnCommand(const std::string& name, int /*code*/) {
  // While a copy run or an update check has the top menus off, their
  // shortcuts do nothing either; each handler asks the run state itself.
  if (!MenuCommandAllowed(name)) return;
  for (const auto& c : kCommands) {
    if (name == c.name) {
      (this->*c.handler)();
      return;
    }
  }
}

void TForm1::Zamknij1Click() { SendMessageW(hwnd_, WM_CLOSE, 0, 0); }

// Both windows exist for the whole run; showing them again only brings them forward.
void TForm1::SpeedButton2Click() {
  if (form2_ && runState_.May(RunCommand::Settings)) form2_->ShowModeless();
}

void TForm1::SpeedButton4Click() {
  if (form3_) form3_->ShowModeless();
}

// F1 itself is caught for every window in the message filter (OpenGuide).
void TForm1::Podrcznik1Click() { OpenGuide(hwnd_); }

void TForm1::SpeedButton3Click() {
  ShellExecuteW(hwnd_, L"open", kHomePage, nullptr, nullptr, SW_SHOWNORMAL);
}

void TForm1::Oprogramie1Click() {
  if (!runState_.May(RunCommand::About)) return;
  const std::string text = std::string(13, ' ') + "::... Sektorian ...::\r\r" +
                           "Wersja programu.............: 1.1.0\r" + "Data wydania.................: 03.02.2008";
  MessageBoxW(hwnd_, win::Widen(text).c_str(), L"O programie", MB_OK | MB_ICONINFORMATION);
}

}  // namespace sk::ui
