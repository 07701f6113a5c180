#include "ui/Application.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "ui/MainForm.h"

namespace sk::ui {

Application& App() {
  static Application app;
  return app;
}

void InitControls() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                           ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
}

namespace {

bool MainFilter(MSG& msg) {
  TForm1* main = App().form1;
  if (main && main->hwnd() && main->Accelerators()) {
    HWND top = GetAncestor(msg.hwnd, GA_ROOT);
    if (top == main->hwnd() && TranslateAcceleratorW(main->hwnd(), main->Accelerators(), &msg)) return true;
  }
  HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (top && top != (main ? main->hwnd() : nullptr) && IsDialogMessageW(top, &msg)) return true;
  return false;
}

}  // namespace

int RunMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (FilterMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

int RunApplication() {
  OleInitialize(nullptr);
  InitControls();
  SetMessageFilter(MainFilter);
  int code = 0;
  {
    TForm1 form1;
    App().form1 = &form1;
    form1.Create();
    ShowWindow(form1.hwnd(), SW_SHOWNORMAL);
    UpdateWindow(form1.hwnd());
    code = RunMessageLoop();
    App() = {};
  }
  OleUninitialize();
  return code;
}

}  // namespace sk::ui
