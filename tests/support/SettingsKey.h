// The program's settings key in the test prefix's registry: tests that use it
// keep what was there before and put it back afterwards.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace sk::test {

inline constexpr const wchar_t* kSettingsKey = L"Software\\Sektorian";

// Remove the settings key with everything in it.
inline void DeleteSettingsKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey); }

inline void DeleteSettingsValue(const wchar_t* name) { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name); }

inline bool SettingsKeyExists() {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// Store a value the way a test wants it (any type, any bytes).
inline void PutSettingsValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY k = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
  RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(k);
}
inline void PutSettingsDword(const wchar_t* name, DWORD value) {
  PutSettingsValue(name, REG_DWORD, &value, sizeof value);
}
inline void PutSettingsString(const wchar_t* name, const std::wstring& text) {
  PutSettingsValue(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// A value as stored; `found` is false when it is missing.
struct StoredValue {
  bool found = false;
  DWORD type = 0;
  std::string data;
  DWORD Dword() const { return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0xDEADBEEF; }
  std::wstring Text() const {
    std::wstring w(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    return w.substr(0, w.find(L'\0'));
  }
};
inline StoredValue GetSettingsValue(const wchar_t* name) {
  StoredValue v;
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(k, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.data.resize(size);
    v.found = RegQueryValueExW(k, name, nullptr, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &size) ==
              ERROR_SUCCESS;
  }
  RegCloseKey(k);
  return v;
}

// A fresh settings key with every value the program reads (so that start-up
// has nothing to report): copy level `level`, no after-copy action, no folder
// and no program, the size check on or off.
inline void PutCompleteSettings(DWORD level, bool checkFiles) {
  DeleteSettingsKey();
  PutSettingsDword(L"Level", level);
  PutSettingsDword(L"EndAction", 0);
  PutSettingsString(L"LastCopyToFolder", L"");
  PutSettingsDword(L"CheckFiles", checkFiles ? 1 : 0);
  PutSettingsString(L"RunAfter", L"");
}

// Keeps the settings key's values from construction and restores them (or the
// key's absence) on destruction.
class SettingsKeyBackup {
 public:
  SettingsKeyBackup() {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    existed_ = true;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD nameLen = 256, type = 0, size = 0;
      if (RegEnumValueW(k, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
      Saved s{name, type, std::string(size, '\0')};
      nameLen = 256;
      RegEnumValueW(k, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(s.data.data()), &size);
      values_.push_back(std::move(s));
    }
    RegCloseKey(k);
  }
  ~SettingsKeyBackup() {
    DeleteSettingsKey();
    if (!existed_) return;
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    for (const auto& v : values_)
      RegSetValueExW(k, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                     static_cast<DWORD>(v.data.size()));
    RegCloseKey(k);
  }
  SettingsKeyBackup(const SettingsKeyBackup&) = delete;
  SettingsKeyBackup& operator=(const SettingsKeyBackup&) = delete;

 private:
  struct Saved {
    std::wstring name;
    DWORD type;
    std::string data;
  };
  bool existed_ = false;
  std::vector<Saved> values_;
};

}  // namespace sk::test
