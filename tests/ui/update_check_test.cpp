#include <gtest/gtest.h>

#include <ctime>
#include <tuple>
#include <vector>

#include "core/Formats.h"
#include "core/Text.h"
#include "support/HttpServer.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "support/UpdateSigning.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/SettingsForm.h"
#include "win/UpdateSupport.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

const char* const kUpdateControls[] = {"ListView1", "Button1", "Button2", "Button3",
                                       "Button4",   "Button8", "Edit1",   "Button5"};
const char* const kTopMenus[] = {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"};

// A process list with a walk that stops once this process was terminated, as
// the real walk does.
struct FakeProcesses : win::IProcessList {
  std::vector<win::ProcessEntry> list;
  bool toolHelp = true;
  std::vector<unsigned long> refuse;
  std::vector<unsigned long> terminated;
  size_t at = 0;
  bool dead = false;

  bool Snapshot() override { return toolHelp; }
  bool First(win::ProcessEntry& e) override {
    at = 0;
    return Give(e);
  }
  bool Next(win::ProcessEntry& e) override {
    ++at;
    return Give(e);
  }
  bool Give(win::ProcessEntry& e) const {
    if (dead || at >= list.size()) return false;
    e = list[at];
    return true;
  }
  void CloseSnapshot() override {}
  bool Terminate(unsigned long id) override {
    terminated.push_back(id);
    if (std::find(refuse.begin(), refuse.end(), id) != refuse.end()) return false;
    if (id == GetCurrentProcessId()) dead = true;
    return true;
  }
};

struct Entry {
  std::string text;
  EventKind kind;
  bool rewrite;
};

// The files of one check in the update folder.
const char* const kUpdateFiles[] = {"Update.ini", "Update.sig", "SKTRN.tmp", "Swapit.exe", "started.txt"};

// Whether every file of the check is gone from `dir`. A fetch left behind
// (cancelled or stalled) lets its file go when its network call returns, so
// it is given the time.
bool NothingLeft(const test::TempDir& dir) {
  return test::PumpUntil([&] {
    for (const char* f : kUpdateFiles)
      if (test::FileExists(dir / f)) return false;
    return true;
  });
}

struct UpdateCheckTest : ::testing::Test {
  test::SettingsKeyBackup backup;  // the check writes UpdateSerial there
  test::HttpServer server;
  test::TempDir dir;
  test::SigningKey key;
  TForm1 form;
  FakeProcesses processes;
  std::vector<Entry> log;
  std::vector<bool> actionGroup;
  std::vector<std::string> disabledDuringFetch;
  std::string prefix;  // each test has its own folder on the server

  void SetUp() override {
    ASSERT_TRUE(server.Ok()) << "cannot listen on 127.0.0.1:80";
    test::DeleteSettingsValue(L"UpdateSerial");
    form.Create();
    prefix = std::string("/") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    form.SetUpdateBaseAddress(server.Base() + prefix.substr(1));
    form.SetUpdateFolder(dir.path());
    form.SetProcessList(&processes);
    form.SetUpdatePublicKey(key.PublicKey());
    form.UpdateLogHook = [this](const std::string& text, EventKind kind, bool rewrite) {
      log.push_back({text, kind, rewrite});
    };
    form.EnableAfterCopyActions = [this](bool on) { actionGroup.push_back(on); };
    // Note which controls are off while the description file comes in.
    form.HttpFetch1.OnProgress = [this](THttpFetchThread& sender, int64_t total, int64_t readed) {
      if (disabledDuringFetch.empty()) {
        for (const char* c : kUpdateControls) {
          if (!form.Enabled(c)) disabledDuringFetch.push_back(c);
        }
        for (const char* m : kTopMenus) {
          if (!form.TopMenuEnabled(m)) disabledDuringFetch.push_back(m);
        }
        if (!form.Enabled("Button7")) disabledDuringFetch.push_back("Button7");
      }
      form.HttpFetch1Progress(sender, total, readed);
    };
  }

  // Publishes a description and its signature by the test key under `base`.
  void Publish(const std::string& base, const std::string& ini) {
    server.Serve(base + "Update.ini", {.body = ini});
    server.Serve(base + "Update.sig", {.body = key.Sign(ini)});
  }
  void ServeIni(const std::string& text) { Publish(prefix, text); }
  // A description of version 200 with the package at `base` + "p.bin" and
  // the hashes of `package` and `updater`.
  std::string Description(const std::string& base, const std::string& package, const std::string& updater) {
    return "[Update]\r\n" + std::string(test::kFreshKeys) + "Version=200\r\nURL=" + server.Base() + base.substr(1) +
           "p.bin\r\n" + test::DownloadKeys(package, updater);
  }
  void ExpectNothingLeft() {
    NothingLeft(dir);
    for (const char* f : kUpdateFiles) EXPECT_FALSE(test::FileExists(dir / f)) << f;
  }

  // Runs the check, answering its message box with `button`; returns the box's text.
  std::string Check(int button = IDOK) {
    test::MessageBoxAnswerer box(button);
    form.Button6Click();
    EXPECT_TRUE(box.Answered());
    if (box.Answered()) EXPECT_EQ(box.Caption(), "Aktualizacja");
    return box.Text();
  }

  void ExpectControlsBack(bool start = true) {
    EXPECT_EQ(form.Enabled("Button7"), start);
    for (const char* c : kUpdateControls) EXPECT_TRUE(form.Enabled(c)) << c;
    for (const char* m : kTopMenus) EXPECT_TRUE(form.TopMenuEnabled(m)) << m;
    ASSERT_FALSE(actionGroup.empty());
    EXPECT_EQ(actionGroup.front(), false);
    EXPECT_EQ(actionGroup.back(), true);
  }
};

constexpr const char* kNoNewer = "Nie ma nowszej wersji programu.";
constexpr const char* kQuestion = "Jest dostępna nowsza wersja programu. Czy chcesz teraz zaktualizować?";

TEST_F(UpdateCheckTest, NoNewerVersion) {
  ServeIni("[Update]\r\n" + std::string(test::kFreshKeys) + "Version=110\r\nURL=http://127.0.0.1/never\r\n");
  EXPECT_EQ(Check(), kNoNewer);
  EXPECT_FALSE(test::FileExists(dir / "Update.ini"));
  ExpectControlsBack();
  EXPECT_EQ(disabledDuringFetch.size(), 13u);  // the eight controls, four menus and Start
  EXPECT_TRUE(log.empty());                    // the description file changes no entry
  EXPECT_EQ(server.RequestsFor(prefix + "Swapit.exe"), 0);
}

// The description's Expires against today by the system's clock (UTC):
// expiring today it counts, expiring yesterday it does not. A month taken for
// the day (or the other way round) misjudges one of the two on every day
// whose number is not its month's.
TEST_F(UpdateCheckTest, ExpiresIsComparedWithTodayByTheClock) {
  auto isoDate = [](int daysAgo) {
    const time_t at = time(nullptr) - static_cast<time_t>(daysAgo) * 86400;
    const tm* utc = gmtime(&at);
    char text[16];
    strftime(text, sizeof text, "%Y-%m-%d", utc);
    return std::string(text);
  };
  const struct {
    const char* name;
    int daysAgo;
    const char* box;
  } cases[] = {
      {"today", 0, kNoNewer},
      {"yesterday", 1, "Nie można zweryfikować aktualizacji. Aktualizacja została przerwana."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    const std::string base = prefix + c.name + "/", expires = isoDate(c.daysAgo);
    form.SetUpdateBaseAddress(server.Base() + base.substr(1));
    Publish(base, "[Update]\r\nExpires=" + expires + "\r\nSerial=1\r\nVersion=110\r\nURL=http://127.0.0.1/never\r\n");
    EXPECT_EQ(Check(), c.box) << expires;
    if (c.daysAgo > 0) {
      ASSERT_EQ(log.size(), 1u);
      EXPECT_EQ(log[0].text, "Błąd: Aktualizacja nie ma ważnego podpisu: opis stracił ważność " + expires);
    }
  }
}

TEST_F(UpdateCheckTest, AFailedDescriptionFetchIsAnErrorNotANoNewerVersion) {
  const std::string ini = "[Update]\nVersion=200\n";
  struct Case {
    const char* name;
    const char* base;     // the server's folder; empty: the test's own
    bool served;          // Update.ini is on the server, answered so:
    test::HttpAnswer answer;
    const char* folder;   // the update folder under the test's folder; empty: the test's folder
  } cases[] = {
      {"notFound", "", false, {}, ""},
      {"noNetwork", "http://127.0.0.2/", true, {.body = ini}, ""},
      {"noLength", "", true, {.body = ini, .announceLength = false}, ""},
      {"folderCannotBeWritten", "", true, {.body = ini}, "brak\\"},
      {"over64KiB", "", true, {.body = ini + std::string(64 * 1024, ';')}, ""},
      {"withoutEnd", "", true, {.body = ini, .announceLength = false, .endless = true}, ""},
      {"stalls", "", true, {.body = ini, .stallAfter = 10}, ""},
      {"neverAnswers", "", true, {.stallBeforeAnswer = true}, ""},
  };
  form.SetUpdateStallTimeout(500);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    actionGroup.clear();
    const std::string base = prefix + c.name + "/";
    form.SetUpdateBaseAddress(*c.base ? std::string(c.base) : server.Base() + base.substr(1));
    form.SetUpdateFolder(dir / c.folder);
    if (c.served) server.Serve(base + "Update.ini", c.answer);
    // One left from an earlier, declined check goes too.
    test::WriteFile(dir / "Update.ini", "[Update]\r\nVersion=111\r\n");
    test::MessageBoxAnswerer box(IDOK);
    form.Button6Click();
    ASSERT_TRUE(box.Answered());
    EXPECT_EQ(box.Text(), "Nie udało się połączyć z serwerem aktualizacji.");
    EXPECT_EQ(box.Caption(), "Aktualizacja");
    EXPECT_EQ(box.Boxes()[0].icon, "error");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, "Błąd: Nie udało się sprawdzić aktualizacji");
    EXPECT_EQ(log[0].kind, ekError);
    if (!*c.folder) ExpectNothingLeft();
    ExpectControlsBack();
  }
}

TEST_F(UpdateCheckTest, DeclinedKeepsTheDescription) {
  const std::string ini = "[Update]\r\n" + std::string(test::kFreshKeys) +
                          "Version=$6F\r\nURL=http://127.0.0.1/pkg\r\n" + test::DownloadKeys("p", "u");
  ServeIni(ini);
  EXPECT_EQ(Check(IDNO), kQuestion);
  EXPECT_EQ(test::ReadFile(dir / "Update.ini"), ini);
  EXPECT_FALSE(test::FileExists(dir / "Update.sig"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);  // the description and its signature, both past every cache
  for (const auto& r : requests) EXPECT_NE(r.headers.find("Cache-Control: no-cache"), std::string::npos) << r.headers;
  EXPECT_EQ(test::GetSettingsValue(L"UpdateSerial").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(test::GetSettingsValue(L"UpdateSerial").Dword(), 1u);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(form.CloseHandlerCleared());
  ExpectControlsBack();
  // Numbered below the serial kept beside the settings, it is refused.
  test::PutSettingsDword(L"UpdateSerial", 2);
  EXPECT_EQ(Check(), "Nie można zweryfikować aktualizacji. Aktualizacja została przerwana.");
}

TEST_F(UpdateCheckTest, AcceptedDownloadsStartsTheUpdaterAndEndsTheInstances) {
  const std::string package = test::Pattern(3000, 3);
  const std::string updater = test::ReadFile(win::ExecutableFolder() + "record_start.exe");
  ASSERT_FALSE(updater.empty());
  ServeIni("[Update]\r\n" + std::string(test::kFreshKeys) + "Version=0x6f\r\nURL=" + server.Base() + prefix.substr(1) +
           "pkg/SKTRN.bin\r\nPackageSHA256=" + test::Sha256Hex(package) + "\r\nUpdaterSHA256 = " +
           win::LowerCase(test::Sha256Hex(updater)) + "\r\nPackageSize=3000\r\nUpdaterSize=" +
           std::to_string(updater.size()) + "\r\n");
  server.Serve(prefix + "pkg/SKTRN.bin", {.body = package});
  server.Serve(prefix + "Swapit.exe", {.body = updater});
  const unsigned long self = GetCurrentProcessId();
  const std::string own = win::ExecutablePath();
  processes.list = {{10, "explorer.exe", "C:\\windows\\explorer.exe"},
                    {self, "ui_tests.exe", own},
                    {11, "UI_TESTS.EXE", win::LowerCase(own)},
                    {13, "ui_tests.exe", "C:\\Inny\\ui_tests.exe"}};
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, L"SektorianTestUpdaterStarted");

  EXPECT_EQ(Check(IDYES), kQuestion);

  ASSERT_EQ(WaitForSingleObject(started, 10000), WAIT_OBJECT_0);
  CloseHandle(started);
  const std::string record = test::ReadFile(dir / "started.txt");
  const size_t pidAt = record.find("pid=");
  HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(record.substr(pidAt + 4)));
  if (child) {
    WaitForSingleObject(child, 10000);
    CloseHandle(child);
  }
  EXPECT_NE(record.find("show=2\n"), std::string::npos) << record;  // SW_SHOWMINIMIZED
  EXPECT_NE(record.find("useshow=1\n"), std::string::npos) << record;
  std::string folder = dir.path().substr(0, dir.path().size() - 1);
  EXPECT_NE(win::LowerCase(record).find("dir=" + win::LowerCase(folder) + "\n"), std::string::npos) << record;

  EXPECT_FALSE(test::FileExists(dir / "Update.ini"));
  EXPECT_TRUE(test::ReadFile(dir / "SKTRN.tmp") == package);
  EXPECT_TRUE(test::ReadFile(dir / "Swapit.exe") == updater);
  EXPECT_TRUE(form.CloseHandlerCleared());
  EXPECT_EQ(processes.terminated, (std::vector<unsigned long>{11, self}));  // its own process last
  for (const auto& r : server.Requests()) {  // the downloads are checked by their hashes: a cache may answer
    if (r.path.ends_with(".bin") || r.path.ends_with(".exe")) EXPECT_EQ(r.headers.find("no-cache"), std::string::npos);
  }
  ExpectControlsBack();  // the fake walk returned

  // The entries: each download's entry turns into its running counter.
  const std::string sep = win::DecimalSeparator();
  std::vector<std::string> added;
  std::string lastPackage, lastUpdater;
  for (const Entry& e : log) {
    if (!e.rewrite) {
      added.push_back(e.text);
      continue;
    }
    EXPECT_EQ(e.kind, ekInfo);
    ASSERT_FALSE(added.empty());
    if (added.back() == "Pobieranie aktualizacji") {
      EXPECT_EQ(e.text.rfind("Pobieranie aktualizacji (", 0), 0u) << e.text;
      lastPackage = e.text;
    } else {
      EXPECT_EQ(added.back(), "Pobieranie narzędzia aktualizacji");
      EXPECT_EQ(e.text.rfind("Pobieranie narzędzia aktualizacji (", 0), 0u) << e.text;
      lastUpdater = e.text;
    }
  }
  EXPECT_EQ(added, (std::vector<std::string>{"Pobieranie aktualizacji", "Pobieranie narzędzia aktualizacji",
                                             "Uruchamianie narzędzia aktualizacji", "Proszę czekać..."}));
  EXPECT_EQ(lastPackage, "Pobieranie aktualizacji (" + FormatSize(3000, sep) + " / " + FormatSize(3000, sep) + ")");
  const int64_t n = static_cast<int64_t>(updater.size());
  EXPECT_EQ(lastUpdater, "Pobieranie narzędzia aktualizacji (" + FormatSize(n, sep) + " / " + FormatSize(n, sep) + ")");
  for (const Entry& e : log) EXPECT_EQ(e.kind, ekInfo);
}

constexpr const char* kDownloadFailed = "Błąd: Nie udało się pobrać aktualizacji";

TEST_F(UpdateCheckTest, FailedDownloadHandsNothingOver) {
  const std::string package = test::Pattern(2000);
  struct Case {
    const char* name;
    test::HttpAnswer package;
    const char* entry = kDownloadFailed;  // the last entry
    const char* box = nullptr;            // a box after the question
  } cases[] = {
      {"packageWithoutLength", {.body = package, .announceLength = false}},
      // Bounded by the signed size while it arrives, and by 30 s (here half a second) without data.
      {"packageLargerThanSigned", {.body = package + "x"}},
      {"packageWithoutEnd", {.body = package, .announceLength = false, .endless = true}},
      {"packageStalls", {.body = package, .stallAfter = 1000}},
      // Start, then end: an updater that cannot be started ("MZ" is no program) ends no process.
      {"updaterDoesNotStart", {.body = package}, "Błąd: Nie udało się uruchomić aktualizacji",
       "Nie udało się uruchomić programu aktualizującego."},
  };
  form.SetUpdateStallTimeout(500);
  processes.list = {{GetCurrentProcessId(), "ui_tests.exe", win::ExecutablePath()}};
  const std::string sep = win::DecimalSeparator();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    const std::string base = prefix + c.name + "/";
    form.SetUpdateBaseAddress(server.Base() + base.substr(1));
    Publish(base, Description(base, package, "MZ"));
    server.Serve(base + "p.bin", c.package);
    server.Serve(base + "Swapit.exe", {.body = "MZ"});
    test::MessageBoxAnswerer boxes(c.box ? std::vector<int>{IDYES, IDOK} : std::vector<int>{IDYES});
    form.Button6Click();
    ASSERT_TRUE(boxes.Answered());
    ASSERT_EQ(boxes.Boxes().size(), c.box ? 2u : 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kQuestion);
    if (c.box) {
      EXPECT_EQ(boxes.Boxes()[1].text, c.box);
      EXPECT_EQ(boxes.Boxes()[1].caption, "Aktualizacja");
      EXPECT_EQ(boxes.Boxes()[1].icon, "error");
    }
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().text, c.entry);
    EXPECT_EQ(log.back().kind, ekError);
    EXPECT_FALSE(log.back().rewrite);
    if (!c.package.announceLength) {  // the counter shows an unknown total as 0
      ASSERT_GE(log.size(), 2u);
      EXPECT_TRUE(log[log.size() - 2].text.ends_with(" / " + FormatSize(0, sep) + ")")) << log[log.size() - 2].text;
    }
    ExpectNothingLeft();
    EXPECT_FALSE(form.CloseHandlerCleared());
    EXPECT_TRUE(processes.terminated.empty());
    ExpectControlsBack();
  }
}

TEST_F(UpdateCheckTest, AnUpdateWithoutAValidSignatureStartsNothing) {
  const std::string package = test::Pattern(3000, 5);
  const std::string updater = "MZ updater";
  test::SigningKey otherKey;
  struct Case {
    const char* name;
    bool otherKey;            // signed, but not with the key the program holds
    int changedByte;          // >= 0: this byte of Update.ini changed after signing
    const char* packageHash;  // of these bytes instead of the package's
    std::vector<int> answers;  // the boxes: the question (when asked), then the refusal
  } cases[] = {
      {"otherKey", true, -1, nullptr, {IDOK}},
      {"changedByte", false, 20, nullptr, {IDOK}},
      {"wrongPackageHash", false, -1, "other", {IDYES, IDOK}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    const std::string base = prefix + c.name + "/";
    form.SetUpdateBaseAddress(server.Base() + base.substr(1));
    std::string ini = Description(base, package, updater);
    if (c.packageHash) ini.replace(ini.find(test::Sha256Hex(package)), 64, test::Sha256Hex(c.packageHash));
    const std::string signature = (c.otherKey ? otherKey : key).Sign(ini);
    if (c.changedByte >= 0) ini[c.changedByte] ^= 1;
    server.Serve(base + "Update.ini", {.body = ini});
    server.Serve(base + "Update.sig", {.body = signature});
    server.Serve(base + "p.bin", {.body = package});
    server.Serve(base + "Swapit.exe", {.body = updater});

    test::MessageBoxAnswerer boxes(c.answers);
    form.Button6Click();
    ASSERT_TRUE(boxes.Answered());
    ASSERT_EQ(boxes.Boxes().size(), c.answers.size());
    if (c.answers.size() == 2) EXPECT_EQ(boxes.Boxes()[0].text, kQuestion);
    const auto& refusal = boxes.Boxes().back();
    EXPECT_EQ(refusal.text, "Nie można zweryfikować aktualizacji. Aktualizacja została przerwana.");
    EXPECT_EQ(refusal.caption, "Aktualizacja");
    EXPECT_EQ(refusal.icon, "error");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().text, "Błąd: Aktualizacja nie ma ważnego podpisu");
    EXPECT_EQ(log.back().kind, ekError);
    ExpectNothingLeft();
    EXPECT_FALSE(form.CloseHandlerCleared());
    EXPECT_TRUE(processes.terminated.empty());
    ExpectControlsBack();
  }
  EXPECT_EQ(server.RequestsFor(prefix + "wrongPackageHash/Swapit.exe"), 0);  // refused before the updater
}

TEST_F(UpdateCheckTest, TerminateInstancesWalk) {
  // Only this very executable, compared as Windows compares paths; its own
  // process last, after every later entry of the snapshot.
  const unsigned long self = GetCurrentProcessId();
  const std::string own = win::ExecutablePath();
  const std::string folder = win::ExecutableFolder();
  std::string upper = own;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const struct {
    unsigned long id;
    std::string path;
    bool ended;
  } table[] = {
      {11, own, true},                                  // refuses: "Błąd", and the walk goes on
      {12, folder + "other.exe", false},                // another program
      {self, own, true},
      {13, upper, true},                                // letter case does not count
      {14, "C:\\Kopia\\" + FileNamePart(own), false},  // the same name in another folder
      {15, own + ".bak", false},
      {16, "", false},                                  // a process whose path cannot be asked
  };
  for (const auto& row : table) processes.list.push_back({row.id, FileNamePart(row.path), row.path});
  processes.refuse = {11};
  {
    test::MessageBoxAnswerer box(IDOK);
    form.TerminateInstances();
    EXPECT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Błąd");
    EXPECT_EQ(box.Text(), "Błąd");
  }
  EXPECT_EQ(processes.terminated, (std::vector<unsigned long>{11, 13, self}));
  for (const auto& row : table) {
    const bool ended = std::find(processes.terminated.begin(), processes.terminated.end(), row.id) !=
                       processes.terminated.end();
    EXPECT_EQ(ended, row.ended) << row.path;
  }

  FakeProcesses noToolHelp;
  noToolHelp.toolHelp = false;
  noToolHelp.list = processes.list;
  form.SetProcessList(&noToolHelp);
  form.TerminateInstances();
  EXPECT_TRUE(noToolHelp.terminated.empty());

  // The system's list shows this process under its file name and its full path.
  win::ToolHelpProcessList system;
  ASSERT_TRUE(system.Snapshot());
  bool found = false;
  win::ProcessEntry e;
  for (bool more = system.First(e); more; more = system.Next(e)) {
    if (e.id == self) {
      found = win::LowerCase(e.exeFile) == win::LowerCase(FileNamePart(own)) && win::SamePath(e.path, own);
    }
  }
  EXPECT_TRUE(found);
}

// Closing the main window while the package comes in: the fetch is
// cancelled, nothing of the check stays behind, the updater never starts, and
// the program ends as a close does, saving the settings once.
TEST(UpdateCheckClose, ClosingDuringADownloadCancelsItAndTheProgramEndsSavingOnce) {
  test::HttpServer server;
  ASSERT_TRUE(server.Ok()) << "cannot listen on 127.0.0.1:80";
  test::TempDir dir;
  test::SigningKey key;
  test::SettingsKeyBackup backup;
  test::DeleteSettingsKey();
  test::PutSettingsDword(L"Level", 1);
  test::PutSettingsDword(L"EndAction", 0);
  test::PutSettingsDword(L"CheckFiles", 0);
  StartUp();
  TForm1& main = *App().form1;
  HWND window = main.hwnd();
  FakeProcesses processes;
  main.SetUpdateBaseAddress(server.Base() + "close/");
  main.SetUpdateFolder(dir.path());
  main.SetUpdatePublicKey(key.PublicKey());
  main.SetProcessList(&processes);
  App().form2->SetLevel(3);
  ShowWindow(window, SW_SHOWNORMAL);

  const std::string package = test::Pattern(200000, 9);  // about two seconds in slow pieces
  const std::string ini = "[Update]\r\n" + std::string(test::kFreshKeys) + "Version=200\r\nURL=" + server.Base() +
                          "close/p.bin\r\n" + test::DownloadKeys(package, "MZ");
  server.Serve("/close/Update.ini", {.body = ini});
  server.Serve("/close/Update.sig", {.body = key.Sign(ini)});
  server.Serve("/close/p.bin", {.body = package, .chunk = 1025, .delayMs = 10});
  server.Serve("/close/Swapit.exe", {.body = "MZ"});
  int64_t receivedAtClose = -1;
  main.HttpFetch1.OnProgress = [&](THttpFetchThread& sender, int64_t total, int64_t readed) {
    main.HttpFetch1Progress(sender, total, readed);
    if (receivedAtClose < 0 && readed >= 5000) {
      receivedAtClose = readed;
      PostMessageW(window, WM_CLOSE, 0, 0);
    }
  };
  {
    test::MessageBoxAnswerer box(IDYES);
    main.Button6Click();
    EXPECT_TRUE(box.Answered());
  }
  EXPECT_GT(receivedAtClose, 0);
  EXPECT_EQ(server.RequestsFor("/close/Swapit.exe"), 0);
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_FALSE(main.CloseHandlerCleared());
  EXPECT_EQ(main.EventLog().At(main.EventLog().Count() - 1).text.rfind("Pobieranie aktualizacji (", 0), 0u);
  // The window went at once; the close goes on once the check has returned:
  // the settings are saved then, once.
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 1u);
  ASSERT_TRUE(test::PumpUntil([window] { return !IsWindow(window); }));
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
  EXPECT_TRUE(NothingLeft(dir));
  test::PutSettingsDword(L"Level", 9);
  test::Flush();
  EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 9u);
  ShutDown();
  test::Flush();  // a closed main window leaves a quit message behind
}

// The main window ("TForm1") of process `pid`, when it has one.
HWND MainWindowOf(DWORD pid) {
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"TForm1", nullptr)) != nullptr;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid) return w;
  }
  return nullptr;
}

// A close never waits for the network: the program itself (its own process)
// is closed while the server holds the description's fetch, then a
// download's. The window goes at once, the process ends within 5 s, the
// updater is never fetched nor started, nothing of the check stays, and the
// settings are saved.
TEST(UpdateCheckClose, AServerThatStopsAnsweringNeverHoldsTheClose) {
  test::HttpServer server;
  ASSERT_TRUE(server.Ok()) << "cannot listen on 127.0.0.1:80";
  test::SigningKey key;
  test::SettingsKeyBackup backup;
  const std::string package = test::Pattern(20000, 6);
  std::string keyHex;
  for (unsigned char b : key.PublicKey()) keyHex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  for (const std::string held : {"Update.ini", "p.bin"}) {
    SCOPED_TRACE(held);
    test::TempDir dir;
    test::PutCompleteSettings(1, false);
    const std::string base = "/hold-" + held + "/";
    const std::string ini = "[Update]\r\n" + std::string(test::kFreshKeys) + "Version=200\r\nURL=" + server.Base() +
                            base.substr(1) + "p.bin\r\n" + test::DownloadKeys(package, "MZ");
    if (held == "Update.ini") {
      server.Serve(base + "Update.ini", {.stallBeforeAnswer = true});
    } else {
      server.Serve(base + "Update.ini", {.body = ini});
      server.Serve(base + "Update.sig", {.body = key.Sign(ini)});
      server.Serve(base + "p.bin", {.body = package, .stallAfter = 5000});
    }
    server.Serve(base + "Swapit.exe", {.body = "MZ"});
    std::wstring command = L"\"" + win::Widen(win::ExecutableFolder() + "update_close_app.exe") + L"\" " +
                           win::Widen(server.Base() + base.substr(1)) + L" \"" +
                           win::Widen(dir.path().substr(0, dir.path().size() - 1)) + L"\" " + win::Widen(keyHex);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child));
    HWND window = nullptr;
    ASSERT_TRUE(test::PumpUntil([&] { return server.RequestsFor(base + held) > 0; }, 20000));
    ASSERT_TRUE(test::PumpUntil([&] { return (window = MainWindowOf(child.dwProcessId)) != nullptr; }));
    Sleep(200);  // the held fetch is under way, waiting for data
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(test::PumpUntil([&] { return !IsWindow(window); }, 1000)) << "the window stayed";
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 5000), WAIT_OBJECT_0) << "the program did not end";
    TerminateProcess(child.hProcess, 1);  // a program that hangs fails the test, not the ones after it
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(server.RequestsFor(base + "Swapit.exe"), 0);
    EXPECT_EQ(test::GetSettingsValue(L"Level").Dword(), 3u);
    EXPECT_TRUE(NothingLeft(dir)) << "files of the check left behind";
  }
}

TEST(ForceDeleteFile, ReadOnlyMissingHeldAndWritten) {
  test::TempDir dir;
  const std::string path = dir / "ro.txt";
  test::WriteFile(path, "x");
  SetFileAttributesW(win::Widen(path).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(win::ForceDeleteFile(path));
  EXPECT_FALSE(test::FileExists(path));
  EXPECT_TRUE(win::ForceDeleteFile(dir / "missing.txt"));

  test::WriteFile(path, "x");
  SetFileAttributesW(win::Widen(path).c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE held = CreateFileW(win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(win::ForceDeleteFile(path));
  EXPECT_TRUE(GetFileAttributesW(win::Widen(path).c_str()) & FILE_ATTRIBUTE_READONLY);
  CloseHandle(held);
  EXPECT_TRUE(win::ForceDeleteFile(path));

  // Held by a writer that allows deletion: the name is free at once, the
  // bytes go when the writer closes the file.
  test::WriteFile(path, "x");
  HANDLE writer = CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(win::DeleteFileFreeingItsName(path));
  EXPECT_FALSE(test::FileExists(path));
  test::WriteFile(path, "new");
  EXPECT_EQ(test::ReadFile(path), "new");
  CloseHandle(writer);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(win::Widen(dir / "*.deleted").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE);  // nothing left beside it
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  EXPECT_TRUE(win::DeleteFileFreeingItsName(path));
  EXPECT_TRUE(win::DeleteFileFreeingItsName(path));  // nothing there
  EXPECT_FALSE(test::FileExists(path));
}

}  // namespace
}  // namespace sk::ui
