#include "core/Settings.h"
#include "core/SettingsLocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace sk {
namespace {

// An in-memory registry whose keys can be missing, refuse to open, hold any
// type and any bytes, and fail a chosen write.
struct FakeRegistry {
  struct Value {
    uint32_t type;
    std::string data;
  };
  std::map<std::string, std::map<std::string, Value>> keys;
  bool refuseOpen = false;
  bool readOnly = false;              // opens for reading only (no rights to write)
  std::string failingWrite;           // the value whose write fails
  std::vector<std::string> attempts;  // every write, in order
  int opens = 0;
  int openNow = 0;
  bool usedWhileClosed = false;

  std::map<std::string, Value>& Key() { return keys[kSettingsKeyPath]; }
  void Put(const std::string& name, uint32_t type, const std::string& data) { Key()[name] = {type, data}; }
  void PutDword(const std::string& name, uint32_t v) {
    Put(name, kRegDword, std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)});
  }
  // UTF-16LE of an ASCII text, NUL included.
  static std::string Wide(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{c, '\0'};
    return out + std::string(2, '\0');
  }
  const Value* Find(const std::string& name) {
    auto k = keys.find(kSettingsKeyPath);
    if (k == keys.end()) return nullptr;
    auto v = k->second.find(name);
    return v == k->second.end() ? nullptr : &v->second;
  }
  std::string Text(const std::string& name) {
    const Value* v = Find(name);
    std::string out;
    for (size_t i = 0; v && i + 1 < v->data.size() && v->data[i]; i += 2) out += v->data[i];
    return out;
  }
  int32_t Dword(const std::string& name) {
    const Value* v = Find(name);
    uint32_t out = 0;
    for (size_t i = 0; v && i < v->data.size(); ++i) out |= uint32_t(uint8_t(v->data[i])) << (8 * i);
    return int32_t(out);
  }
};

class FakeKey : public IRegistryKey {
 public:
  explicit FakeKey(FakeRegistry& r) : r_(r) {}
  ~FakeKey() override { Close(); }
  bool OpenOrCreate(const std::string& path) override {
    if (r_.refuseOpen || r_.readOnly) return false;
    r_.keys[path];
    return Opened(path, true);
  }
  bool OpenExisting(const std::string& path, bool writable) override {
    if (r_.refuseOpen || (writable && r_.readOnly) || !r_.keys.count(path)) return false;
    return Opened(path, writable);
  }
  bool Opened(const std::string& path, bool writable) {
    Close();
    closed_ = false;
    path_ = path;
    open_ = true;
    writable_ = writable;
    ++r_.opens;
    ++r_.openNow;
    return true;
  }
  bool QueryInfo(const std::string& name, uint32_t& type, uint32_t& size) override {
    const FakeRegistry::Value* v = Lookup(name);
    if (!v) return false;
    type = v->type;
    size = uint32_t(v->data.size());
    return true;
  }
  bool QueryData(const std::string& name, uint32_t limit, uint32_t& type, std::string& data) override {
    const FakeRegistry::Value* v = Lookup(name);
    if (!v || v->data.size() > limit) return false;
    type = v->type;
    data = v->data;
    return true;
  }
  bool SetValue(const std::string& name, uint32_t type, const std::string& data) override {
    Touch();
    r_.attempts.push_back(name);
    if (!open_ || !writable_ || name == r_.failingWrite) return false;
    r_.keys[path_][name] = {type, data};
    return true;
  }
  void Close() override {
    if (open_) --r_.openNow;
    open_ = false;
    closed_ = true;
  }

 private:
  void Touch() {
    if (closed_) r_.usedWhileClosed = true;
  }
  const FakeRegistry::Value* Lookup(const std::string& name) {
    Touch();
    if (!open_) return nullptr;
    auto& key = r_.keys[path_];
    auto it = key.find(name);
    return it == key.end() ? nullptr : &it->second;
  }
  FakeRegistry& r_;
  std::string path_;
  bool open_ = false;
  bool writable_ = false;
  bool closed_ = false;
};

// The controls, starting at their design defaults and clamping like the real ones.
struct FakeControls : ISettingsControls {
  int level = 0, action = 0;
  bool check = false, rescue = false;
  std::string runAfter, folder, exe = "C:\\Program Files\\Sektorian\\Sektorian.exe";
  std::vector<std::string> loaded;  // which setters ran, in order

  int Level() override { return level; }
  void SetLevel(int v) override { level = ClampLevel(v), loaded.push_back(kLevel); }
  int EndAction() override { return action; }
  void SetEndAction(int v) override { action = ClampEndAction(v), loaded.push_back(kEndAction); }
  bool CheckFiles() override { return check; }
  void SetCheckFiles(bool v) override { check = v, loaded.push_back(kCheckFiles); }
  bool RescueMode() override { return rescue; }
  void SetRescueMode(bool v) override { rescue = v; }
  std::string RunAfter() override { return runAfter; }
  void SetRunAfter(const std::string& v) override { runAfter = v, loaded.push_back(kRunAfter); }
  std::string LastCopyToFolder() override { return folder; }
  void SetLastCopyToFolder(const std::string& v) override { folder = v, loaded.push_back(kLastCopyToFolder); }
  std::string ProgramPath() override { return exe; }
};

struct Entry {
  std::string text;
  EventKind kind;
  bool operator==(const Entry&) const = default;
};

class SettingsStoreTest : public testing::Test {
 protected:
  SettingsStore MakeStore() {
    return SettingsStore([this] { return std::make_unique<FakeKey>(reg); }, controls,
                         [this](const std::string& t, EventKind k) { log.push_back({t, k}); });
  }
  void StoreAll(int level, int action, const std::string& folder, int check, const std::string& runAfter) {
    reg.PutDword(kLevel, level);
    reg.PutDword(kEndAction, action);
    reg.Put(kLastCopyToFolder, kRegSz, FakeRegistry::Wide(folder));
    reg.PutDword(kCheckFiles, check);
    reg.Put(kRunAfter, kRegSz, FakeRegistry::Wide(runAfter));
  }
  std::string DialogLoadError(SettingsStore& store) {
    try {
      store.DialogCreated();
    } catch (const RegistryError& e) {
      return e.what();
    }
    return {};
  }

  FakeRegistry reg;
  FakeControls controls;
  std::vector<Entry> log;
  const std::vector<std::string> kSaveOrder = {kLevel,       kEndAction, kLastCopyToFolder, kProgramPath,
                                               kCheckFiles,  kRunAfter,  kRescueMode};
};

// ---------------------------------------------------------------- value coding

TEST_F(SettingsStoreTest, ValuesAreCodedAsTheRegistryExpects) {
  reg.Key();
  RegistryAccessor a(std::make_unique<FakeKey>(reg));
  ASSERT_TRUE(a.Open(kSettingsKeyPath));
  a.WriteInteger("I", -1);
  a.WriteBool("B", true);
  a.WriteString("S", "Zażółć");
  a.WriteString("E", "");
  EXPECT_EQ(reg.Find("I")->type, kRegDword);
  EXPECT_EQ(reg.Find("I")->data, std::string(4, '\xFF'));
  EXPECT_EQ(reg.Find("B")->data, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(reg.Find("S")->type, kRegSz);
  // UTF-16LE with the terminating NUL in the stored size.
  EXPECT_EQ(reg.Find("S")->data, std::string("Z\0a\0\x7C\x01\xF3\0\x42\x01\x07\x01\0\0", 14));
  EXPECT_EQ(reg.Find("E")->data, std::string(2, '\0'));
  EXPECT_EQ(a.ReadInteger("I"), -1);
  EXPECT_TRUE(a.ReadBool("B"));
  EXPECT_EQ(a.ReadString("S"), "Zażółć");
  a.WriteString("X", "plik 🙂.exe");
  EXPECT_EQ(a.ReadString("X"), "plik 🙂.exe");
}

TEST_F(SettingsStoreTest, IntegerReadsFailAsTheRegistryAnswers) {
  reg.Put("Long", kRegSz, FakeRegistry::Wide("1234"));  // 10 bytes: more than an integer's 4
  reg.Put("Short", kRegSz, std::string("7\0", 2));
  reg.Put("Binary", kRegBinary, std::string(4, '\1'));
  reg.Put("Qword", 11, std::string(8, '\1'));
  reg.Put("Narrow", kRegDword, std::string("\x05\x01", 2));
  RegistryAccessor a(std::make_unique<FakeKey>(reg));
  a.Open(kSettingsKeyPath);
  auto error = [&](const char* name) {
    try {
      a.ReadInteger(name);
    } catch (const RegistryError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error("Missing"), "Failed to get data for 'Missing'");
  EXPECT_EQ(error("Long"), "Failed to get data for 'Long'");
  EXPECT_EQ(error("Qword"), "Failed to get data for 'Qword'");
  EXPECT_EQ(error("Short"), "Invalid data type for 'Short'");
  EXPECT_EQ(error("Binary"), "Invalid data type for 'Binary'");
  EXPECT_EQ(a.ReadInteger("Narrow"), 0x105);
}

TEST_F(SettingsStoreTest, StringReadsCutAtNulAndRefuseOtherTypes) {
  reg.Put("Mid", kRegSz, std::string("C\0:\0\0\0x\0y\0\0\0", 12));
  reg.Put("Unterminated", kRegSz, std::string("a\0b\0c", 5));  // no NUL, odd size
  reg.Put("Expand", kRegExpandSz, FakeRegistry::Wide("%TEMP%\\x"));
  reg.Put("Empty", kRegSz, "");
  reg.Put("Empty dword", kRegDword, "");
  reg.PutDword("Number", 5);
  reg.Put("Multi", 7, FakeRegistry::Wide("a") + std::string(2, '\0'));
  RegistryAccessor a(std::make_unique<FakeKey>(reg));
  a.Open(kSettingsKeyPath);
  EXPECT_EQ(a.ReadString("Mid"), "C:");
  EXPECT_EQ(a.ReadString("Unterminated"), "ab");
  EXPECT_EQ(a.ReadString("Expand"), "%TEMP%\\x");  // not expanded
  EXPECT_EQ(a.ReadString("Missing"), "");
  EXPECT_EQ(a.ReadString("Empty"), "");
  EXPECT_EQ(a.ReadString("Empty dword"), "");  // size 0: empty whatever the type
  EXPECT_THROW(
      try { a.ReadString("Number"); } catch (const RegistryError& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Number'");
        throw;
      },
      RegistryError);
  EXPECT_THROW(a.ReadString("Multi"), RegistryError);
}

// ---------------------------------------------------------------- the five moments

TEST_F(SettingsStoreTest, FirstRunCreatesTheKeyFailsAtLevelAndTheExitSaveMakesTheNextRunClean) {
  controls.folder = "typed";  // the main window's field before its load
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  EXPECT_TRUE(reg.keys.count(kSettingsKeyPath));
  EXPECT_EQ(controls.folder, "");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(DialogLoadError(store), "Failed to get data for 'Level'");
  EXPECT_EQ(controls.loaded, std::vector<std::string>{kLastCopyToFolder});  // the dialog keeps its defaults

  store.MainWindowClosing();
  EXPECT_EQ(reg.attempts, kSaveOrder);
  EXPECT_EQ(reg.openNow, 0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(reg.Dword(kLevel), 0);
  EXPECT_EQ(reg.Dword(kEndAction), 0);
  EXPECT_EQ(reg.Find(kEndAction)->type, kRegDword);
  EXPECT_EQ(reg.Text(kProgramPath), controls.exe);
  EXPECT_EQ(reg.Find(kRunAfter)->data, std::string(2, '\0'));

  FakeControls next;
  SettingsStore again([this] { return std::make_unique<FakeKey>(reg); }, next,
                      [this](const std::string& t, EventKind k) { log.push_back({t, k}); });
  again.MainWindowCreated();
  EXPECT_NO_THROW(again.DialogCreated());
  EXPECT_TRUE(log.empty());
}

TEST_F(SettingsStoreTest, AKeyThatCannotBeOpenedGoesUnnoticedUntilReadsAndWritesFail) {
  reg.refuseOpen = true;
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(controls.folder, "");
  EXPECT_EQ(DialogLoadError(store), "Failed to get data for 'Level'");
  store.OkPressed();  // not reported
  EXPECT_EQ(reg.attempts, std::vector<std::string>{kLevel});
  store.CancelPressed();
  store.MainWindowClosing();
  EXPECT_EQ(log, (std::vector<Entry>{{"Błąd: Failed to set data for 'Level'", ekError}}));
}

// A user without rights to write the machine's key keeps the settings in
// the user's own key, without a word: read from it when it is there, else
// from the machine's key, and written to it.
TEST_F(SettingsStoreTest, WithoutRightsToTheMachineKeyTheUsersOwnKeyKeepsTheSettings) {
  struct Case {
    const char* name;
    bool machineWritable;
    int machineLevel;      // the stored Level; -1: no key
    int userLevel;         // -1: no key
    bool userRefuses;      // the user's key cannot be made either
    int loadedLevel;       // -1: the dialog's load fails at Level
    const char* savedIn;   // "machine", "user", or "" when the save fails
  } cases[] = {
      {"machine writable", true, 2, 3, false, 2, "machine"},
      {"read-only machine key", false, 2, -1, false, 2, "user"},
      {"user key there", false, 2, 3, false, 3, "user"},
      {"first run without rights", false, -1, -1, false, -1, "user"},
      {"no rights anywhere", false, 2, -1, true, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry machine, user;
    for (auto [reg, level] : {std::pair{&machine, c.machineLevel}, std::pair{&user, c.userLevel}}) {
      if (level < 0) continue;
      reg->PutDword(kLevel, level);
      reg->PutDword(kEndAction, 1);
      reg->PutDword(kCheckFiles, 0);
    }
    machine.readOnly = !c.machineWritable;
    user.refuseOpen = c.userRefuses;
    FakeControls controls;
    std::vector<Entry> entries;
    SettingsStore store(
        [&] { return std::make_unique<FallbackRegistryKey>(std::make_unique<FakeKey>(machine), std::make_unique<FakeKey>(user)); },
        controls, [&](const std::string& t, EventKind k) { entries.push_back({t, k}); });
    store.MainWindowCreated();
    const std::string error = DialogLoadError(store);
    if (c.loadedLevel >= 0) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(controls.level, c.loadedLevel);
    } else {
      EXPECT_EQ(error, "Failed to get data for 'Level'");  // as on any first run
    }
    controls.level = 4;
    store.OkPressed();
    store.CancelPressed();  // reads back what OK stored, wherever that went
    EXPECT_EQ(controls.level, *c.savedIn ? 4 : c.loadedLevel);
    store.MainWindowClosing();

    const std::string savedIn = c.savedIn;
    EXPECT_EQ(machine.Dword(kLevel), savedIn == "machine" ? 4 : std::max(c.machineLevel, 0));
    if (savedIn == "user") {
      EXPECT_EQ(user.Dword(kLevel), 4);
      EXPECT_EQ(user.Key().size(), 7u);  // every value the program saves
    }
    const std::vector<Entry> expected =
        savedIn.empty() ? std::vector<Entry>{{"Błąd: Failed to set data for 'Level'", ekError}} : std::vector<Entry>{};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(machine.openNow + user.openNow, 0);
  }
}

TEST_F(SettingsStoreTest, StoredValuesOutOfRangeAreBroughtIntoRangeByTheControlsAndSavedSo) {
  StoreAll(7, 9, "D:\\Kopie", 2, "C:\\x.exe");
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  store.DialogCreated();
  EXPECT_EQ(controls.level, 4);
  EXPECT_EQ(controls.action, 5);
  EXPECT_TRUE(controls.check);
  EXPECT_EQ(controls.runAfter, "C:\\x.exe");
  EXPECT_EQ(controls.folder, "D:\\Kopie");
  store.OkPressed();
  EXPECT_EQ(reg.Dword(kLevel), 4);
  EXPECT_EQ(reg.Dword(kEndAction), 5);
  EXPECT_EQ(reg.Dword(kCheckFiles), 1);

  reg.PutDword(kLevel, uint32_t(-2));
  reg.PutDword(kEndAction, uint32_t(-3));
  store.CancelPressed();
  EXPECT_EQ(controls.level, 0);
  EXPECT_EQ(controls.action, -1);
  store.MainWindowClosing();
  EXPECT_EQ(reg.Dword(kEndAction), -1);
  EXPECT_EQ(reg.Find(kEndAction)->data, std::string(4, '\xFF'));
}

TEST_F(SettingsStoreTest, DestinationOfTheWrongTypeIsLoggedAndLeavesTheFieldEmpty) {
  StoreAll(1, 1, "", 0, "");
  reg.PutDword(kLastCopyToFolder, 3);
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  EXPECT_EQ(controls.folder, "");
  EXPECT_EQ(log, (std::vector<Entry>{{"Błąd: Invalid data type for 'LastCopyToFolder'", ekError}}));
  EXPECT_NO_THROW(store.DialogCreated());
}

TEST_F(SettingsStoreTest, DialogLoadStopsAtItsFirstFailingRead) {
  StoreAll(2, 3, "", 1, "C:\\p.exe");
  reg.Key().erase(kLevel);
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  EXPECT_EQ(DialogLoadError(store), "Failed to get data for 'Level'");
  EXPECT_EQ(controls.loaded, std::vector<std::string>{kLastCopyToFolder});
  EXPECT_EQ(controls.action, 0);
  EXPECT_FALSE(controls.check);
  EXPECT_EQ(controls.runAfter, "");
  EXPECT_TRUE(log.empty());  // the error report shows it, not the log

  reg.PutDword(kLevel, 2);
  reg.Put(kCheckFiles, kRegSz, FakeRegistry::Wide("1"));
  EXPECT_EQ(DialogLoadError(store), "Invalid data type for 'CheckFiles'");
  EXPECT_EQ(controls.level, 2);
  EXPECT_EQ(controls.action, 3);
  EXPECT_EQ(controls.runAfter, "");
}

TEST_F(SettingsStoreTest, OkWritesInOrderAndStopsSilentlyAtTheFirstFailingWrite) {
  StoreAll(0, 0, "old", 0, "old.exe");
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  store.DialogCreated();
  controls.level = 3, controls.action = 2, controls.folder = "E:\\nowy", controls.check = true,
  controls.runAfter = "new.exe";
  reg.failingWrite = kLastCopyToFolder;
  EXPECT_NO_THROW(store.OkPressed());
  EXPECT_EQ(reg.attempts, (std::vector<std::string>{kLevel, kEndAction, kLastCopyToFolder}));
  EXPECT_EQ(reg.Dword(kLevel), 3);
  EXPECT_EQ(reg.Dword(kEndAction), 2);
  EXPECT_EQ(reg.Text(kLastCopyToFolder), "old");
  EXPECT_EQ(reg.Find(kProgramPath), nullptr);
  EXPECT_EQ(reg.Dword(kCheckFiles), 0);
  EXPECT_TRUE(log.empty());

  reg.failingWrite.clear();
  reg.attempts.clear();
  controls.exe = "D:\\moved\\Sektorian.exe";  // the program file was moved
  store.OkPressed();
  EXPECT_EQ(reg.attempts, kSaveOrder);
  EXPECT_EQ(reg.Text(kLastCopyToFolder), "E:\\nowy");
  EXPECT_EQ(reg.Text(kProgramPath), "D:\\moved\\Sektorian.exe");
  EXPECT_EQ(reg.Dword(kCheckFiles), 1);
  EXPECT_EQ(reg.Text(kRunAfter), "new.exe");
}

TEST_F(SettingsStoreTest, CancelOpensAFreshKeyAndReloadsTheFourUpToTheFirstFailure) {
  StoreAll(1, 4, "D:\\cel", 0, "a.exe");
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  store.DialogCreated();
  controls.level = 4, controls.action = 0, controls.runAfter = "zmiana", controls.folder = "E:\\inny";
  controls.loaded.clear();
  store.CancelPressed();
  EXPECT_EQ(reg.opens, 2);
  EXPECT_EQ(reg.openNow, 1);  // the old key was closed
  EXPECT_EQ(controls.level, 1);
  EXPECT_EQ(controls.action, 4);
  EXPECT_EQ(controls.runAfter, "a.exe");
  EXPECT_EQ(controls.folder, "E:\\inny");  // the destination is not reloaded
  EXPECT_EQ(controls.loaded, (std::vector<std::string>{kLevel, kEndAction, kCheckFiles, kRunAfter}));

  controls.level = 4, controls.action = 0, controls.check = true, controls.runAfter = "zmiana";
  reg.Put(kCheckFiles, kRegBinary, std::string(4, '\0'));
  EXPECT_NO_THROW(store.CancelPressed());
  EXPECT_EQ(controls.level, 1);
  EXPECT_EQ(controls.action, 4);
  EXPECT_TRUE(controls.check);  // from the failing value on, the controls keep their state
  EXPECT_EQ(controls.runAfter, "zmiana");
  EXPECT_TRUE(log.empty());
}

TEST_F(SettingsStoreTest, ExitSavesOnceClosesTheKeyAndNeverTouchesItAgain) {
  StoreAll(2, 1, "D:\\cel", 1, "a.exe");
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  store.DialogCreated();
  controls.level = 3;
  store.MainWindowClosing();
  EXPECT_TRUE(store.Finished());
  EXPECT_EQ(reg.attempts, kSaveOrder);
  EXPECT_EQ(reg.Dword(kLevel), 3);
  EXPECT_EQ(reg.openNow, 0);

  reg.attempts.clear();
  store.MainWindowClosing();
  store.OkPressed();
  store.CancelPressed();
  store.DialogCreated();
  store.MainWindowCreated();
  EXPECT_TRUE(reg.attempts.empty());
  EXPECT_EQ(reg.opens, 1);
  EXPECT_FALSE(reg.usedWhileClosed);
}

TEST_F(SettingsStoreTest, AFailedExitSaveIsLoggedStopsThereAndStillReleasesTheKey) {
  StoreAll(2, 1, "D:\\cel", 1, "a.exe");
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  reg.failingWrite = kProgramPath;
  store.MainWindowClosing();
  EXPECT_EQ(reg.attempts, (std::vector<std::string>{kLevel, kEndAction, kLastCopyToFolder, kProgramPath}));
  EXPECT_EQ(log, (std::vector<Entry>{{"Błąd: Failed to set data for 'ProgramPath'", ekError}}));
  EXPECT_EQ(reg.openNow, 0);
  reg.attempts.clear();
  store.MainWindowClosing();
  EXPECT_TRUE(reg.attempts.empty());
  EXPECT_EQ(log.size(), 1u);
}

// Without the settings dialog (never created), a run starting takes the
// stored values, once, and the exit save keeps them rather than the defaults.
TEST_F(SettingsStoreTest, WithoutTheDialogARunTakesTheStoredValuesAndTheExitKeepsThem) {
  StoreAll(3, 4, "D:\\cel", 1, "a.exe");
  reg.PutDword(kRescueMode, 1);
  SettingsStore store = MakeStore();
  store.MainWindowCreated();
  EXPECT_EQ(controls.level, 0);  // nothing but the folder is loaded at creation
  store.RunStarting();
  EXPECT_EQ(controls.level, 3);
  EXPECT_EQ(controls.action, 4);
  EXPECT_TRUE(controls.check);
  EXPECT_EQ(controls.runAfter, "a.exe");
  EXPECT_TRUE(controls.rescue);
  controls.level = 1;  // a change after the load is kept: a later run does not reload
  store.RunStarting();
  EXPECT_EQ(controls.level, 1);
  store.MainWindowClosing();
  EXPECT_EQ(reg.Dword(kLevel), 1);
  EXPECT_EQ(reg.Dword(kEndAction), 4);
  EXPECT_EQ(reg.Dword(kCheckFiles), 1);
  EXPECT_EQ(reg.Dword(kRescueMode), 1);

  // Never loaded at all: the exit save loads first and writes back what is stored.
  SettingsStore second = MakeStore();
  controls = FakeControls{};
  second.MainWindowCreated();
  second.MainWindowClosing();
  EXPECT_EQ(reg.Dword(kLevel), 1);
  EXPECT_EQ(reg.Dword(kEndAction), 4);
  EXPECT_TRUE(log.empty());
}

TEST(SettingsRanges, ControlsClampStoredValues) {
  EXPECT_EQ(ClampLevel(-5), 0);
  EXPECT_EQ(ClampLevel(7), 4);
  EXPECT_EQ(ClampLevel(2), 2);
  EXPECT_EQ(ClampEndAction(-3), -1);
  EXPECT_EQ(ClampEndAction(9), 5);
  EXPECT_EQ(ClampEndAction(-1), -1);
}

}  // namespace
}  // namespace sk
