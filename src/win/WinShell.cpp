#include <windows.h>
#include <shellapi.h>

#include "win/Utf.h"
#include "win/WinShell.h"

namespace sk::win {

void ShellOpen(void* owner, const std::string& file, const std::string& parameters, const std::string& folder,
               int showCommand) {
  ShellExecuteW(static_cast<HWND>(owner), L"open", Widen(file).c_str(),
                parameters.empty() ? nullptr : Widen(parameters).c_str(),
                folder.empty() ? nullptr : Widen(folder).c_str(), showCommand);
}

}  // namespace sk::win
