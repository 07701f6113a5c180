// The application object: start-up of the support components and the three
// forms in order, the message loop, and shut-down.
#pragma once

namespace sk::ui {

class TForm1;
class TForm2;
class TForm3;

struct Application {
  TForm1* form1 = nullptr;
  TForm2* form2 = nullptr;
  TForm3* form3 = nullptr;
};

// The running application's forms (null members before start-up).
Application& App();

// Start-up, message loop and shut-down; returns the process exit code.
int RunApplication();

// The message loop alone (tests run it with forms they created).
int RunMessageLoop();

// Initialise the common controls (version 6 through the manifest).
void InitControls();

}  // namespace sk::ui
