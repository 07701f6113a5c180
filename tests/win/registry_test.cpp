#include <windows.h>

#include <gtest/gtest.h>

#include "core/Settings.h"
#include "core/SettingsLocation.h"
#include "support/SettingsKey.h"
#include "win/Utf.h"
#include "win/WinRegistry.h"

namespace sk::win {
namespace {

class WinRegistry : public testing::Test {
 protected:
  void SetUp() override { test::DeleteSettingsKey(); }
  void TearDown() override { test::DeleteSettingsKey(); }
  // An accessor on the program's key, as the settings store opens it.
  std::unique_ptr<RegistryAccessor> Open() {
    auto a = std::make_unique<RegistryAccessor>(SettingsKeyFactory()());
    EXPECT_TRUE(a->Open(kSettingsKeyPath));
    return a;
  }
  std::string ErrorOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const RegistryError& e) {
      return e.what();
    }
    return "no error";
  }
  test::SettingsKeyBackup backup_;
};

TEST_F(WinRegistry, WritesWideValuesThatReadBackAndCreatesTheKey) {
  auto a = Open();
  EXPECT_TRUE(test::SettingsKeyExists());
  a->WriteInteger("Level", 3);
  a->WriteInteger("EndAction", -1);
  a->WriteBool("CheckFiles", true);
  a->WriteString("RunAfter", "C:\\Programy\\Zażółć gęślą jaźń.exe");
  a->WriteString("LastCopyToFolder", "");
  const auto stored = test::GetSettingsValue(L"RunAfter");
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored.data.size(), (std::wstring(L"C:\\Programy\\Zażółć gęślą jaźń.exe").size() + 1) * 2);
  EXPECT_EQ(stored.Text(), L"C:\\Programy\\Zażółć gęślą jaźń.exe");
  EXPECT_EQ(test::GetSettingsValue(L"EndAction").Dword(), 0xFFFFFFFFu);
  EXPECT_EQ(test::GetSettingsValue(L"CheckFiles").Dword(), 1u);
  EXPECT_EQ(test::GetSettingsValue(L"LastCopyToFolder").data, std::string(2, '\0'));

  auto b = Open();
  EXPECT_EQ(b->ReadInteger("Level"), 3);
  EXPECT_EQ(b->ReadInteger("EndAction"), -1);
  EXPECT_TRUE(b->ReadBool("CheckFiles"));
  EXPECT_EQ(b->ReadString("RunAfter"), "C:\\Programy\\Zażółć gęślą jaźń.exe");
  EXPECT_EQ(b->ReadString("LastCopyToFolder"), "");
  EXPECT_EQ(b->ReadString("Missing"), "");
}

// An earlier version stored its strings with the ANSI functions, in the
// system's code page (1250 on Polish systems).
TEST_F(WinRegistry, StringsStoredWithTheAnsiFunctionsReadBackCorrectly) {
  std::wstring text;
  std::string ansi;
  for (const wchar_t* candidate : {L"D:\\Kopie zapasowe\\Zażółć gęślą jaźń", L"D:\\Kopie zapasowe\\Résumé ó"}) {
    BOOL lossy = FALSE;
    char buffer[256] = {};
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, candidate, -1, buffer, sizeof buffer, nullptr,
                                      &lossy);
    if (n > 0 && !lossy) {
      text = candidate;
      ansi.assign(buffer, static_cast<size_t>(n));  // with its NUL
      break;
    }
  }
  ASSERT_FALSE(text.empty()) << "code page " << GetACP();
  if (GetACP() == 1250) {
    EXPECT_EQ(ansi.substr(ansi.size() - 5, 4), "\x6A\x61\x9F\xF1");  // "jaźń" in code page 1250
  }
  Open();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Sektorian", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegSetValueExA(key, "LastCopyToFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi.data()),
                 static_cast<DWORD>(ansi.size()));
  RegSetValueExA(key, "RunAfter", 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi.data()),
                 static_cast<DWORD>(ansi.size() - 1));  // stored without its NUL
  RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9);
  RegCloseKey(key);

  auto a = Open();
  EXPECT_EQ(a->ReadString("LastCopyToFolder"), Narrow(text)) << "code page " << GetACP();
  EXPECT_EQ(a->ReadString("RunAfter"), Narrow(text));
  EXPECT_EQ(a->ReadString("Expand"), "%TEMP%\\x");
}

TEST_F(WinRegistry, ReadsFailWithTheProgramsTexts) {
  Open();
  test::PutSettingsString(L"Long", L"1234");  // ten bytes
  test::PutSettingsString(L"Short", L"7");    // four bytes of text
  const DWORD binary = 1;
  test::PutSettingsValue(L"Binary", REG_BINARY, &binary, 4);
  test::PutSettingsDword(L"Number", 2);
  const wchar_t mid[] = L"C:\\a\0ukryte";
  test::PutSettingsValue(L"Mid", REG_SZ, mid, sizeof mid);
  auto a = Open();
  EXPECT_EQ(ErrorOf([&] { a->ReadInteger("Missing"); }), "Failed to get data for 'Missing'");
  EXPECT_EQ(ErrorOf([&] { a->ReadInteger("Long"); }), "Failed to get data for 'Long'");
  EXPECT_EQ(ErrorOf([&] { a->ReadInteger("Short"); }), "Invalid data type for 'Short'");
  EXPECT_EQ(ErrorOf([&] { a->ReadBool("Binary"); }), "Invalid data type for 'Binary'");
  EXPECT_EQ(ErrorOf([&] { a->ReadString("Number"); }), "Invalid data type for 'Number'");
  EXPECT_EQ(a->ReadString("Mid"), "C:\\a");
  EXPECT_TRUE(a->ReadBool("Number"));
}

TEST_F(WinRegistry, AKeyThatCannotBeOpenedFailsEveryReadAndWrite) {
  // A root that is no key at all.
  RegistryAccessor a(std::make_unique<WinRegistryKey>(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7654))));
  EXPECT_FALSE(a.Open(kSettingsKeyPath));
  EXPECT_EQ(a.ReadString("LastCopyToFolder"), "");
  EXPECT_EQ(ErrorOf([&] { a.ReadInteger("Level"); }), "Failed to get data for 'Level'");
  EXPECT_EQ(ErrorOf([&] { a.WriteInteger("Level", 1); }), "Failed to set data for 'Level'");
  EXPECT_EQ(ErrorOf([&] { a.WriteString("RunAfter", "x"); }), "Failed to set data for 'RunAfter'");

  auto b = Open();
  b->Close();
  EXPECT_EQ(ErrorOf([&] { b->WriteBool("CheckFiles", true); }), "Failed to set data for 'CheckFiles'");
  EXPECT_FALSE(test::GetSettingsValue(L"CheckFiles").found);
}

// The machine's key as a user without administrator rights sees it: it can
// be opened for reading, never created or opened for writing.
class MachineKeyWithoutRights : public IRegistryKey {
 public:
  bool OpenOrCreate(const std::string&) override { return false; }
  bool OpenExisting(const std::string& path, bool writable) override {
    return !writable && key_.OpenExisting(path, false);
  }
  bool QueryInfo(const std::string& n, uint32_t& t, uint32_t& s) override { return key_.QueryInfo(n, t, s); }
  bool QueryData(const std::string& n, uint32_t l, uint32_t& t, std::string& d) override {
    return key_.QueryData(n, l, t, d);
  }
  bool SetValue(const std::string& n, uint32_t t, const std::string& d) override { return key_.SetValue(n, t, d); }
  void Close() override { key_.Close(); }

 private:
  WinRegistryKey key_{HKEY_LOCAL_MACHINE};
};

TEST_F(WinRegistry, WithoutRightsToTheMachineKeyTheSettingsLiveInTheUsersKey) {
  struct UserKeyGone {  // before and after
    UserKeyGone() { RegDeleteTreeW(HKEY_CURRENT_USER, test::kSettingsKey); }
    ~UserKeyGone() { RegDeleteTreeW(HKEY_CURRENT_USER, test::kSettingsKey); }
  } userKeyGone;
  auto userLevel = [] {
    DWORD value = 0, size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, test::kSettingsKey, L"Level", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
                   ERROR_SUCCESS
               ? static_cast<int>(value)
               : -1;
  };
  auto withoutRights = [] {
    return std::make_unique<RegistryAccessor>(std::make_unique<FallbackRegistryKey>(
        std::make_unique<MachineKeyWithoutRights>(), std::make_unique<WinRegistryKey>(HKEY_CURRENT_USER)));
  };
  test::PutSettingsDword(L"Level", 2);
  test::PutSettingsString(L"RunAfter", L"C:\\Programy\\a.exe");

  auto a = withoutRights();
  a->Open(kSettingsKeyPath);
  EXPECT_EQ(a->ReadInteger("Level"), 2);  // the machine's settings, read-only
  EXPECT_EQ(a->ReadString("RunAfter"), "C:\\Programy\\a.exe");
  EXPECT_EQ(userLevel(), -1);
  a->WriteInteger("Level", 4);
  a->WriteString("RunAfter", "D:\\b.exe");
  a->Close();
  EXPECT_EQ(userLevel(), 4);
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 2u);  // the machine's key is untouched

  auto b = withoutRights();
  b->Open(kSettingsKeyPath);
  EXPECT_EQ(b->ReadInteger("Level"), 4);  // the user's key, now that it holds the settings
  EXPECT_EQ(b->ReadString("RunAfter"), "D:\\b.exe");

  // With rights the machine's key comes first, whatever the user's holds.
  auto c = Open();
  EXPECT_EQ(c->ReadInteger("Level"), 2);
  c->WriteInteger("Level", 3);
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
  EXPECT_EQ(userLevel(), 4);
}

}  // namespace
}  // namespace sk::win
