// Stands in for the updater in the tests of the update check: records how it
// was started (its show state and working folder) in "started.txt" in its
// working folder, then signals the test.
#include <windows.h>

#include <cstdio>

int wmain() {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  GetStartupInfoW(&si);
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  char folder8[4 * MAX_PATH] = {};
  WideCharToMultiByte(CP_UTF8, 0, folder, -1, folder8, sizeof folder8, nullptr, nullptr);
  FILE* f = _wfopen(L"started.txt", L"wb");
  if (f) {
    fprintf(f, "show=%u\nuseshow=%d\npid=%lu\ndir=%s\n", static_cast<unsigned>(si.wShowWindow),
            (si.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0, GetCurrentProcessId(), folder8);
    fclose(f);
  }
  if (HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"SektorianTestUpdaterStarted")) {
    SetEvent(started);
    CloseHandle(started);
  }
  return 0;
}
