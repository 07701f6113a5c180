#include <windows.h>

#include "win/Utf.h"
#include "win/WinReboot.h"

namespace sk::win {

bool TWinReboot::SetPrivilege(const std::string& name, bool enable) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  bool ok = false;
  LUID luid{};
  if (LookupPrivilegeValueW(nullptr, Widen(name).c_str(), &luid)) {
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid = luid;
    tp.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = sizeof previous;
    ok = AdjustTokenPrivileges(token, FALSE, &tp, sizeof previous, &previous, &previousSize) != FALSE;
  }
  CloseHandle(token);
  return ok;
}

bool TWinReboot::CallExitWindowsEx(unsigned flags) { return ExitWindowsEx(flags, 0) != FALSE; }

bool TWinReboot::ExitSystem(unsigned flags) {
  SetPrivilege("SeShutdownPrivilege", true);
  const bool ok = CallExitWindowsEx(flags);
  SetPrivilege("SeShutdownPrivilege", false);
  return ok;
}

}  // namespace sk::win
