// The application object: start-up of the support components and the three
// forms in order, the message loop, and shut-down.
#pragma once
#include <functional>

namespace sk::ui {

class TForm1;
class TForm2;
class TForm3;

struct Application {
  TForm1* form1 = nullptr;
  TForm2* form2 = nullptr;
  TForm3* form3 = nullptr;
  // The "TaskbarCreated" message, registered at start-up for the tray icon.
  unsigned taskbarCreated = 0;
};

// The running application's forms (null members before start-up).
Application& App();

// Start-up, message loop and shut-down; returns the process exit code.
// `shown`, when given, runs once the main window is shown, before the loop
// (a test program starts its work from there).
int RunApplication(const std::function<void()>& shown = {});

// Start-up: OLE, the "TaskbarCreated" message, then TForm1, TForm2 and TForm3
// created once, in that order (their creation handlers run; errors go to the
// error report). The main window is not shown yet.
void StartUp();
// Destroy the forms (in reverse order) and finalise OLE.
void ShutDown();

// The message loop alone (tests run it with forms they created).
int RunMessageLoop();

// Initialise the common controls (version 6 through the manifest).
void InitControls();

}  // namespace sk::ui
