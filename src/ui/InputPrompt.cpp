#include <windows.h>

#include "ui/InputPrompt.h"

namespace sk::ui {
namespace {

std::vector<ControlSpec> Controls(const std::string& prompt) {
  // The caption pointer must outlive CreateForm only; the table is used at once.
  return {
      {.name = "Prompt", .cls = L"Static", .caption = prompt.c_str(), .x = 8, .y = 8, .w = 304, .h = 13,
       .style = kLabel},
      {.name = "Edit", .cls = L"Edit", .caption = "", .x = 8, .y = 26, .w = 304, .h = 21,
       .style = ES_AUTOHSCROLL | WS_TABSTOP, .exStyle = WS_EX_CLIENTEDGE},
      {.name = "OK", .cls = L"Button", .caption = "OK", .x = 82, .y = 62, .w = 75, .h = 25,
       .style = BS_DEFPUSHBUTTON | WS_TABSTOP},
      {.name = "Cancel", .cls = L"Button", .caption = "Cancel", .x = 163, .y = 62, .w = 75, .h = 25,
       .style = kButton},
  };
}

}  // namespace

bool InputPrompt::Execute(HWND owner, const std::string& caption, const std::string& prompt, std::string& value) {
  CreateForm({.className = kClassName,
              .caption = caption.c_str(),
              .clientWidth = 320,
              .clientHeight = 95,
              .style = WS_POPUP | WS_CAPTION | WS_SYSMENU,
              .exStyle = WS_EX_DLGMODALFRAME},
             Controls(prompt));
  if (owner) SetWindowLongPtrW(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  SetText("Edit", value);
  const bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  SetFocus(Control("Edit"));

  MSG msg;
  bool quit = false;
  while (state_ == State::Running && hwnd_) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
      quit = true;
      break;
    }
    if (IsDialogMessageW(hwnd_, &msg)) continue;
    if (FilterMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  const bool confirmed = state_ == State::Confirmed;
  if (confirmed) value = Text("Edit");
  // Give the owner back its input before this window goes, so that it is
  // activated again.
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  if (hwnd_) DestroyWindow(hwnd_);
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
  return confirmed;
}

void InputPrompt::OnCommand(const std::string& name, int /*code*/) {
  // "1" and "2" come from Enter and Esc through the dialog keyboard handling.
  if (name == "OK" || name == "1") state_ = State::Confirmed;
  if (name == "Cancel" || name == "2") state_ = State::Cancelled;
  if (state_ != State::Running) PostMessageW(hwnd_, WM_NULL, 0, 0);  // wakes the modal loop
}

LRESULT InputPrompt::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      state_ = State::Cancelled;
      PostMessageW(hwnd_, WM_NULL, 0, 0);
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(ControlId("OK"), DC_HASDEFID);
    default:
      return Window::HandleMessage(msg, wp, lp);
  }
}

bool InputQuery(HWND owner, const std::string& caption, const std::string& prompt, std::string& value) {
  InputPrompt prompt_window;
  return prompt_window.Execute(owner, caption, prompt, value);
}

}  // namespace sk::ui
