// Shutting Windows down from the program: the shut-down privilege and
// ExitWindowsEx.
#pragma once
#include <string>

namespace sk::win {

class TWinReboot {
 public:
  virtual ~TWinReboot() = default;
  // Enable or disable a privilege of this process's token; whether
  // AdjustTokenPrivileges succeeded (false when the lookup failed).
  virtual bool SetPrivilege(const std::string& name, bool enable);
  // Shut-down privilege on, ExitWindowsEx(flags), privilege off; whether
  // ExitWindowsEx succeeded.
  virtual bool ExitSystem(unsigned flags);

 protected:
  // The system call itself, replaced by tests so nothing is shut down.
  virtual bool CallExitWindowsEx(unsigned flags);
};

// Folder operations of the copy run: whether a folder exists, and creating one
// folder (its parent must exist); failures throw FileError with the program's
// texts ("Invalid filename" for a missing parent).
bool FolderExists(const std::string& path);
void CreateFolder(const std::string& path);

// Start a program through the shell ("open"), owner `owner` (an HWND).
void ShellOpen(void* owner, const std::string& file, const std::string& parameters, const std::string& folder,
               int showCommand);

}  // namespace sk::win
