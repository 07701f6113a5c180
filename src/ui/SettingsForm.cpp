#include "ui/SettingsForm.h"

namespace sk::ui {

void TForm2::Create() {
  CreateForm({.className = L"TForm2", .caption = "Opcje programu", .clientWidth = 476, .clientHeight = 447,
              .style = WS_POPUP | WS_CAPTION | WS_SYSMENU, .exStyle = WS_EX_DLGMODALFRAME},
             {});
}

LRESULT TForm2::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    Hide();  // closing only hides the dialog
    return 0;
  }
  return Window::HandleMessage(msg, wp, lp);
}

}  // namespace sk::ui
