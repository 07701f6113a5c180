#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/Formats.h"
#include "core/Text.h"
#include "support/HttpServer.h"
#include "support/UiTest.h"
#include "ui/MainForm.h"
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

struct UpdateCheckTest : ::testing::Test {
  test::HttpServer server;
  test::TempDir dir;
  TForm1 form;
  FakeProcesses processes;
  std::vector<Entry> log;
  std::vector<bool> actionGroup;
  std::vector<std::string> disabledDuringFetch;
  std::string prefix;  // each test has its own folder on the server

  void SetUp() override {
    ASSERT_TRUE(server.Ok()) << "cannot listen on 127.0.0.1:80";
    form.Create();
    prefix = std::string("/") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    form.SetUpdateBaseAddress(server.Base() + prefix.substr(1));
    form.SetUpdateFolder(dir.path());
    form.SetProcessList(&processes);
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

  void ServeIni(const std::string& text) { server.Serve(prefix + "Update.ini", {.body = text}); }

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
  ServeIni("[Update]\r\nVersion=110\r\nURL=http://127.0.0.1/never\r\n");
  EXPECT_EQ(Check(), kNoNewer);
  EXPECT_FALSE(test::FileExists(dir / "Update.ini"));
  ExpectControlsBack();
  EXPECT_EQ(disabledDuringFetch.size(), 13u);  // the eight controls, four menus and Start
  EXPECT_TRUE(log.empty());                    // the description file changes no entry

  ServeIni("[Update]\r\nVersion=1.1.1\r\n");
  EXPECT_EQ(Check(), kNoNewer);
  EXPECT_FALSE(test::FileExists(dir / "Update.ini"));
  EXPECT_EQ(server.RequestsFor(prefix + "Swapit.exe"), 0);
}

TEST_F(UpdateCheckTest, MissingDescriptionReadsAsNoNewerAndRemovesAStaleOne) {
  // Left from an earlier, declined check; the server now answers 404.
  test::WriteFile(dir / "Update.ini", "[Update]\r\nVersion=111\r\n");
  EXPECT_EQ(Check(), kNoNewer);
  EXPECT_FALSE(test::FileExists(dir / "Update.ini"));
  ExpectControlsBack();
}

TEST_F(UpdateCheckTest, DeclinedKeepsTheDescription) {
  const std::string ini = "[Update]\r\nVersion=$6F\r\nURL=http://127.0.0.1/pkg\r\n";
  ServeIni(ini);
  EXPECT_EQ(Check(IDNO), kQuestion);
  EXPECT_EQ(test::ReadFile(dir / "Update.ini"), ini);
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(form.CloseHandlerCleared());
  ExpectControlsBack();
}

TEST_F(UpdateCheckTest, AcceptedDownloadsStartsTheUpdaterAndEndsTheInstances) {
  const std::string package = test::Pattern(3000, 3);
  const std::string updater = test::ReadFile(win::ExecutableFolder() + "record_start.exe");
  ASSERT_FALSE(updater.empty());
  ServeIni("[Update]\r\nVersion=0x6f\r\nURL=" + server.Base() + prefix.substr(1) + "pkg/SKTRN.bin\r\n");
  server.Serve(prefix + "pkg/SKTRN.bin", {.body = package, .announceLength = false});
  server.Serve(prefix + "Swapit.exe", {.body = updater});
  const unsigned long self = GetCurrentProcessId();
  processes.list = {{10, "explorer.exe"}, {11, "UI_TESTS.EXE"}, {self, "ui_tests.exe"}, {13, "ui_tests.exe"}};
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
  EXPECT_EQ(processes.terminated, (std::vector<unsigned long>{11, self}));
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
      const std::string noLength = " / " + FormatSize(0, sep) + ")";
      EXPECT_TRUE(e.text.ends_with(noLength)) << e.text;
      lastPackage = e.text;
    } else {
      EXPECT_EQ(added.back(), "Pobieranie narzędzia aktualizacji");
      EXPECT_EQ(e.text.rfind("Pobieranie narzędzia aktualizacji (", 0), 0u) << e.text;
      lastUpdater = e.text;
    }
  }
  EXPECT_EQ(added, (std::vector<std::string>{"Pobieranie aktualizacji", "Pobieranie narzędzia aktualizacji",
                                             "Uruchamianie narzędzia aktualizacji", "Proszę czekać..."}));
  EXPECT_EQ(lastPackage, "Pobieranie aktualizacji (" + FormatSize(3000, sep) + " / " + FormatSize(0, sep) + ")");
  const int64_t n = static_cast<int64_t>(updater.size());
  EXPECT_EQ(lastUpdater, "Pobieranie narzędzia aktualizacji (" + FormatSize(n, sep) + " / " + FormatSize(n, sep) + ")");
  for (const Entry& e : log) EXPECT_EQ(e.kind, ekInfo);
}

TEST_F(UpdateCheckTest, FailedDownloadHandsNothingOver) {
  struct Case {
    const char* name;
    test::HttpAnswer package;
    bool updaterServed;
  } cases[] = {
      {"updater404", {.body = test::Pattern(2000)}, false},
      {"shortPackage", {.body = test::Pattern(2000), .announcedLength = 5000}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    const std::string base = prefix + c.name + "/";
    form.SetUpdateBaseAddress(server.Base() + base.substr(1));
    server.Serve(base + "Update.ini", {.body = "[Update]\nVersion=200\nURL=" + server.Base() + base.substr(1) + "p.bin\n"});
    server.Serve(base + "p.bin", c.package);
    if (c.updaterServed) server.Serve(base + "Swapit.exe", {.body = "MZ"});
    EXPECT_EQ(Check(IDYES), kQuestion);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().text, "Błąd: Nie udało się pobrać aktualizacji");
    EXPECT_EQ(log.back().kind, ekError);
    EXPECT_FALSE(log.back().rewrite);
    EXPECT_FALSE(test::FileExists(dir / "SKTRN.tmp"));
    EXPECT_FALSE(test::FileExists(dir / "Swapit.exe"));
    EXPECT_FALSE(test::FileExists(dir / "started.txt"));
    EXPECT_FALSE(form.CloseHandlerCleared());
    EXPECT_TRUE(processes.terminated.empty());
    ExpectControlsBack();
  }
  EXPECT_EQ(server.RequestsFor(prefix + "shortPackage/Swapit.exe"), 0);  // no updater without the package
}

TEST_F(UpdateCheckTest, TerminateInstancesWalk) {
  const unsigned long self = GetCurrentProcessId();
  processes.list = {{11, "ui_tests.exe"}, {12, "other.exe"}, {self, "ui_tests.exe"}, {13, "ui_tests.exe"}};
  processes.refuse = {11};
  {
    test::MessageBoxAnswerer box(IDOK);
    form.TerminateInstances();
    EXPECT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Błąd");
    EXPECT_EQ(box.Text(), "Błąd");
  }
  EXPECT_EQ(processes.terminated, (std::vector<unsigned long>{11, self}));

  FakeProcesses noToolHelp;
  noToolHelp.toolHelp = false;
  noToolHelp.list = processes.list;
  form.SetProcessList(&noToolHelp);
  form.TerminateInstances();
  EXPECT_TRUE(noToolHelp.terminated.empty());

  // The system's list shows this process under its file name.
  win::ToolHelpProcessList system;
  ASSERT_TRUE(system.Snapshot());
  bool found = false;
  win::ProcessEntry e;
  for (bool more = system.First(e); more; more = system.Next(e)) {
    if (e.id == self) found = win::LowerCase(e.exeFile) == win::LowerCase(FileNamePart(win::ExecutablePath()));
  }
  EXPECT_TRUE(found);
}

TEST(ForceDeleteFile, ReadOnlyMissingAndHeld) {
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
}

}  // namespace
}  // namespace sk::ui
