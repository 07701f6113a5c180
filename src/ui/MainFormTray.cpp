// The main window in the notification area: the tray icon, its menu "&Pokaż" /
// "&Schowaj do traya", and every way of sending the window there.
//
// All ways to the tray (the minimise button, minimising from the taskbar
// button, the after-copy action) go through TrayIcon1MinimizeToTray, and the
// window is never shown minimised. The hidden window has no taskbar button;
// the window shown again from the tray has its button.
#include <windows.h>

#include "ui/MainForm.h"
#include "win/Utf.h"

namespace sk::ui {

void TForm1::BuildTrayMenu() {
  popupMenu1_ = CreatePopupMenu();
  // Both items are off until the window first goes to the tray.
  AppendMenuW(popupMenu1_, MF_STRING | MF_GRAYED, static_cast<UINT_PTR>(RegisterCommand("Poka1")), L"&Pokaż");
  AppendMenuW(popupMenu1_, MF_STRING | MF_GRAYED, static_cast<UINT_PTR>(RegisterCommand("Schowajdotraya1")),
              L"&Schowaj do traya");
}

void TForm1::CreateTrayIcon1(ITrayShell* shell) {
  TrayIcon1.reset();
  auto tray = std::make_unique<TTrayIcon>(hwnd_, shell);
  tray->SetHint("Sektorian");
  tray->SetTaskbarWindow(TaskbarWindow());
  // The program icon at the tray's size; the component keeps its own copy.
  HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  tray->SetIcon(icon);
  if (icon) DestroyIcon(icon);
  tray->SetPopupMenu(popupMenu1_);
  tray->SetMinimizeToTray(true);
  tray->OnMinimizeToTray = [this] { TrayIcon1MinimizeToTray(); };
  tray->OnPopup = [this] { return TrayIcon1Popup(); };
  // Not in the tray yet: the icon appears when the window first goes there.
  TrayIcon1 = std::move(tray);
}

void TForm1::SetTrayShell(ITrayShell* shell) {
  // The tray menu keeps its state; only the component is new.
  CreateTrayIcon1(shell);
}

namespace {
void EnableItem(HMENU menu, int id, bool on) {
  EnableMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}
}  // namespace

void TForm1::TrayIcon1MinimizeToTray() {
  // The component hides the window and shows the icon after this.
  EnableItem(popupMenu1_, ControlId("Schowajdotraya1"), false);
  EnableItem(popupMenu1_, ControlId("Poka1"), true);
}

bool TForm1::TrayIcon1Popup() {
  if (runState_.May(RunCommand::PopupMenu)) return true;
  // During a run the menu would hold it: the click shows a window sent to
  // the tray instead, which is all the menu could do then.
  const UINT show = GetMenuState(popupMenu1_, static_cast<UINT>(ControlId("Poka1")), MF_BYCOMMAND);
  if (show != static_cast<UINT>(-1) && !(show & MF_GRAYED)) Poka1Click();
  return false;
}

void TForm1::Poka1Click() {
  EnableItem(popupMenu1_, ControlId("Schowajdotraya1"), true);
  EnableItem(popupMenu1_, ControlId("Poka1"), false);
  TrayIcon1->RestoreMainForm();
  // Back on the screen, back on the taskbar (the icon stays in the tray).
  TrayIcon1->ShowTaskbarButton();
}

void TForm1::Schowajdotraya1Click() {
  EnableItem(popupMenu1_, ControlId("Schowajdotraya1"), false);
  EnableItem(popupMenu1_, ControlId("Poka1"), true);
  // Hides the window and its taskbar button; the icon stays.
  TrayIcon1->HideMainForm();
}

void TForm1::MinimizeApplication() {
  // The minimise command, as the title-bar button sends it: the tray icon
  // takes it and sends the window to the tray.
  SendMessageW(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

}  // namespace sk::ui
