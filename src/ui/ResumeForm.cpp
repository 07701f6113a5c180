#include "ui/ResumeForm.h"

namespace sk::ui {

void TForm3::Create() {
  CreateForm({.className = L"TForm3", .caption = "Resumak", .clientWidth = 688, .clientHeight = 510,
              .style = WS_POPUP | WS_CAPTION | WS_SYSMENU, .exStyle = WS_EX_DLGMODALFRAME},
             {});
}

LRESULT TForm3::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CLOSE) {
    Hide();  // closing only hides the window
    return 0;
  }
  return Window::HandleMessage(msg, wp, lp);
}

}  // namespace sk::ui
