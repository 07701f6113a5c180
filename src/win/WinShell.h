// Starting programs and documents through the Windows shell.
#pragma once
#include <string>

namespace sk::win {

// Start a program through the shell ("open"), owner `owner` (an HWND).
void ShellOpen(void* owner, const std::string& file, const std::string& parameters, const std::string& folder,
               int showCommand);

}  // namespace sk::win
