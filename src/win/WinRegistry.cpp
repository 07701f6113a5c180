#include <windows.h>

#include "win/WinRegistry.h"

#include "core/SettingsLocation.h"
#include "win/Utf.h"

namespace sk::win {

bool WinRegistryKey::OpenOrCreate(const std::string& path) {
  Close();
  HKEY key = nullptr;
  const LONG rc = RegCreateKeyExW(root_, Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return false;
  key_ = key;
  return true;
}

bool WinRegistryKey::OpenExisting(const std::string& path, bool writable) {
  Close();
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_, Widen(path).c_str(), 0, writable ? KEY_ALL_ACCESS : KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  key_ = key;
  return true;
}

bool WinRegistryKey::QueryInfo(const std::string& name, uint32_t& type, uint32_t& size) {
  if (!key_) return false;
  DWORD t = 0, n = 0;
  if (RegQueryValueExW(key_, Widen(name).c_str(), nullptr, &t, nullptr, &n) != ERROR_SUCCESS) return false;
  type = t;
  size = n;
  return true;
}

bool WinRegistryKey::QueryData(const std::string& name, uint32_t limit, uint32_t& type, std::string& data) {
  if (!key_) return false;
  std::string buffer(limit, '\0');
  DWORD t = 0, n = limit;
  const LONG rc = RegQueryValueExW(key_, Widen(name).c_str(), nullptr, &t,
                                   limit ? reinterpret_cast<BYTE*>(buffer.data()) : nullptr, &n);
  // With no buffer the query only sizes the value; data that do not fit fail.
  if (rc != ERROR_SUCCESS || n > limit) return false;
  buffer.resize(n);
  type = t;
  data = std::move(buffer);
  return true;
}

bool WinRegistryKey::SetValue(const std::string& name, uint32_t type, const std::string& data) {
  if (!key_) return false;
  return RegSetValueExW(key_, Widen(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

void WinRegistryKey::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

RegistryKeyFactory SettingsKeyFactory() {
  return []() -> std::unique_ptr<IRegistryKey> {
    return std::make_unique<FallbackRegistryKey>(std::make_unique<WinRegistryKey>(HKEY_LOCAL_MACHINE),
                                                 std::make_unique<WinRegistryKey>(HKEY_CURRENT_USER));
  };
}

}  // namespace sk::win
