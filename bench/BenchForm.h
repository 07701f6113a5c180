// The set-up the window benchmarks share: the real main window shown as a
// user sees it, ready to copy, and a fresh folder for the benchmark's files.
#pragma once
#include <windows.h>

#include <string>

#include "ui/Application.h"
#include "ui/MainForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::bench {

// Creates and shows `form` (controls already initialised), starts its copy
// clock, lets every size check pass, and returns the new folder
// <temp>\<prefix><process id>\ .
inline std::string ShowFormForCopy(sk::ui::TForm1& form, const std::string& prefix) {
  form.Create();
  ShowWindow(form.hwnd(), SW_SHOWNORMAL);
  UpdateWindow(form.hwnd());
  sk::ui::PumpMessages();

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::string dir = sk::win::Narrow(temp) + prefix + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryW(sk::win::Widen(dir).c_str(), nullptr);
  form.SetCopyStartTime(sk::win::WinClock().Now());
  form.SetSizeCheckSource([] { return true; });
  return dir;
}

}  // namespace sk::bench
