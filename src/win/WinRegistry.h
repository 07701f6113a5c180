// A registry key behind the settings store's key interface (the wide
// registry functions), under HKEY_LOCAL_MACHINE unless told otherwise.
#pragma once
#include <windows.h>

#include "core/Settings.h"

namespace sk::win {

class WinRegistryKey : public IRegistryKey {
 public:
  explicit WinRegistryKey(HKEY root = HKEY_LOCAL_MACHINE) : root_(root) {}
  ~WinRegistryKey() override { Close(); }
  WinRegistryKey(const WinRegistryKey&) = delete;
  WinRegistryKey& operator=(const WinRegistryKey&) = delete;

  bool OpenOrCreate(const std::string& path) override;
  bool OpenExisting(const std::string& path, bool writable) override;
  bool QueryInfo(const std::string& name, uint32_t& type, uint32_t& size) override;
  bool QueryData(const std::string& name, uint32_t limit, uint32_t& type, std::string& data) override;
  bool SetValue(const std::string& name, uint32_t type, const std::string& data) override;
  void Close() override;

 private:
  HKEY root_;
  HKEY key_ = nullptr;
};

// Fresh accessors to the program's settings key, for the settings store:
// HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER where the machine's key cannot be
// written (FallbackRegistryKey).
RegistryKeyFactory SettingsKeyFactory();

}  // namespace sk::win
