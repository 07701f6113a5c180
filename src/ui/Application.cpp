#include "ui/Application.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"

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
    if (top == main->hwnd()) {
      // Keys of the focused control come before the window's shortcuts.
      const TForm1::KeyRoute route = main->RouteKey(msg);
      if (route == TForm1::KeyRoute::Done) return true;
      if (route == TForm1::KeyRoute::Shortcut && TranslateAcceleratorW(main->hwnd(), main->Accelerators(), &msg))
        return true;
    }
  }
  HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (top && top != (main ? main->hwnd() : nullptr) && IsDialogMessageW(top, &msg)) return true;
  return false;
}

// The three forms, kept from start-up to shut-down.
struct Forms {
  std::unique_ptr<TForm1> form1;
  std::unique_ptr<TForm2> form2;
  std::unique_ptr<TForm3> form3;
};
Forms& Owned() {
  static Forms forms;
  return forms;
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

void StartUp() {
  // Support components first: OLE for the folder dialog, the tray's message.
  OleInitialize(nullptr);
  App().taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  InitControls();
  SetMessageFilter(MainFilter);

  Forms& f = Owned();
  f.form1 = std::make_unique<TForm1>();
  App().form1 = f.form1.get();
  f.form1->Create();

  f.form2 = std::make_unique<TForm2>(*f.form1);
  App().form2 = f.form2.get();
  f.form1->SetForms(f.form2.get(), nullptr);
  f.form2->Create();

  f.form3 = std::make_unique<TForm3>();
  App().form3 = f.form3.get();
  f.form1->SetForms(f.form2.get(), f.form3.get());
  f.form3->Create();
  // Pairs finished from a read map take the level a copy run takes.
  f.form3->SetLevelSource([form1 = f.form1.get()] { return form1->RunSettingsNow().level; });
  // Its pairs finished from a map are shown by the main window's map window.
  f.form3->SetRescueMapHook([form1 = f.form1.get()](const std::string& mapPath, const RescueMap& map, bool live) {
    form1->ShowRescueMap(mapPath, map, live);
  });
  f.form1->ConnectForms();
}

void ShutDown() {
  Forms& f = Owned();
  f.form3.reset();
  f.form2.reset();
  f.form1.reset();
  const unsigned taskbarCreated = App().taskbarCreated;
  App() = {};
  App().taskbarCreated = taskbarCreated;
  OleUninitialize();
}

int RunApplication(const std::function<void()>& shown) {
  int code = 0;
  bool started = false;
  Guarded([&] {
    StartUp();
    started = true;
  });
  if (started && App().form1 && App().form1->hwnd()) {
    ShowWindow(App().form1->hwnd(), SW_SHOWNORMAL);
    UpdateWindow(App().form1->hwnd());
    if (shown) Guarded(shown);
    code = RunMessageLoop();
  } else {
    code = 1;  // the main window could not be created; the error box said why
  }
  ShutDown();
  return code;
}

}  // namespace sk::ui
