#include <windows.h>
#include <shellapi.h>

#include "core/FileApi.h"
#include "win/Utf.h"
#include "win/WinFile.h"
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

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CreateFolder(const std::string& path) {
  if (!CreateDirectoryW(LongPath(path).c_str(), nullptr)) {
    const DWORD code = GetLastError();
    throw FileError(FileErrorText(code), code);
  }
}

void ShellOpen(void* owner, const std::string& file, const std::string& parameters, const std::string& folder,
               int showCommand) {
  ShellExecuteW(static_cast<HWND>(owner), L"open", Widen(file).c_str(),
                parameters.empty() ? nullptr : Widen(parameters).c_str(),
                folder.empty() ? nullptr : Widen(folder).c_str(), showCommand);
}

}  // namespace sk::win
