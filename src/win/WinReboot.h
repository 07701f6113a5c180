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

}  // namespace sk::win
