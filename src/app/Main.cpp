// Sektorian's entry: start-up in order, the message loop, shut-down.
#include <windows.h>

#include "ui/Application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The program takes no command-line arguments.
  return sk::ui::RunApplication();
}
