// A copy run over a damaged disc: the file with an unreadable range ends
// where the damage begins, the run goes on, and it says that not every file
// was copied.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/Rescue.h"
#include "support/Media.h"
#include "support/RescueCheck.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

void IgnoreReport(const std::string&) {}

// A thread timer's Stop, clicked once the log holds g_stopAt (from entry g_stopFrom on).
std::string g_stopAt;
size_t g_stopFrom = 0;
void CALLBACK StopAtLogEntry(HWND, UINT, UINT_PTR, DWORD) {
  const EventLogModel& log = App().form1->EventLog();
  for (size_t i = g_stopFrom; i < log.Count(); ++i)
    if (log.At(i).text == g_stopAt) App().form1->Button65Click();
}

// The fixture mounted and the settings key kept aside; Start() starts the
// program (on a fresh key unless the test has put values in it first).
class CopyRunOnDamagedMedia : public testing::Test {
 protected:
  void SetUp() override { test::DeleteSettingsKey(); }
  void Start() {
    SetErrorSink(IgnoreReport);
    StartUp();
    started_ = true;
  }
  void TearDown() override {
    if (!started_) return;
    ShutDown();
    SetErrorSink(nullptr);
    test::Flush();
  }
  // The log's entries from `first` on.
  std::vector<std::string> EntriesFrom(size_t first) {
    std::vector<std::string> entries;
    const EventLogModel& log = App().form1->EventLog();
    for (size_t i = first; i < log.Count(); ++i) entries.push_back(log.At(i).text);
    return entries;
  }

  // Rescue mode and the level as stored settings, so on from the start.
  void StartInRescueMode(int level) {
    test::PutSettingsDword(L"Level", level);
    test::PutSettingsDword(L"EndAction", 0);
    test::PutSettingsDword(L"CheckFiles", 1);
    test::PutSettingsString(L"RunAfter", L"");
    test::PutSettingsDword(L"RescueMode", 1);
    Start();
    ASSERT_TRUE(App().form2->RescueMode());
  }

  test::Media media;
  test::SettingsKeyBackup backup;
  test::TempDir dir;

 private:
  bool started_ = false;
};

TEST_F(CopyRunOnDamagedMedia, TheDamagedFileIsAnExactPrefixAndTheRunGoesOn) {
  Start();
  TForm1& main = *App().form1;
  const test::VirtualFile first{.size = 40000, .salt = 11};
  test::VirtualFile damaged{.size = 60000, .salt = 12};
  damaged.Bad(30000, 30999);
  const test::VirtualFile last{.size = 33333, .salt = 13};
  const std::string disc = media.MakeFolder("copy_run_disc", {first, damaged, last});
  for (const std::string& name : {first.Name(), damaged.Name(), last.Name()}) main.AddFileToList(disc + name);
  main.SetText("Edit1", dir / "wynik");
  const int level = 2;  // 129-byte blocks
  App().form2->SetLevel(level);
  const size_t firstEntry = main.EventLog().Count();

  main.Button8Click();

  auto copied = [&](const test::VirtualFile& f) { return test::ReadFile(dir / "wynik\\" + f.Name()); };
  EXPECT_EQ(copied(first), first.Bytes(0, first.size));
  EXPECT_EQ(copied(last), last.Bytes(0, last.size));
  // Every block before the one that touches the damage, and nothing else.
  const size_t prefix = 30000 / 129 * 129;
  EXPECT_EQ(copied(damaged), damaged.Bytes(0, prefix));

  const auto entries = EntriesFrom(firstEntry);
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(entries.end() - 3, entries.end()),
            (std::vector<std::string>{"Błąd: Nie wszystkie pliki zostały skopiowane (2 z 3)",
                                      "Zakończono kopiowanie plików", "Włączanie komponentów"}));
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "Zakończono kopiowanie pliku " + damaged.Name()), 0);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "Zakończono kopiowanie pliku " + last.Name()), 1);
  // The overall bar counted the sizes from the directory entries.
  EXPECT_EQ(SendMessageW(main.Control("ProgressBar2"), PBM_GETRANGE, FALSE, 0), 40000 + 60000 + 33333);
  EXPECT_TRUE(main.Enabled("Button7"));
  EXPECT_FALSE(main.Enabled("Button65"));
  EXPECT_TRUE(main.TopMenuEnabled("Plik1"));
}

// Two listed files of one name (the disc's, then one of another folder in
// other letter case) and a damaged file, with the message as after-copy
// action: nothing this run wrote is replaced, files there before the run are
// replaced or kept as their names say, and the box says what was not copied.
TEST_F(CopyRunOnDamagedMedia, SameNamedFilesAreKeptAndTheBoxTellsTheShortfall) {
  Start();
  TForm1& main = *App().form1;
  const test::VirtualFile same{.size = 7000, .salt = 21};
  test::VirtualFile damaged{.size = 9000, .salt = 22};
  damaged.Bad(4000, 4000);
  const std::string disc = media.MakeFolder("copy_run_names", {same, damaged});
  const std::string stem = same.Name().substr(0, same.Name().size() - 4);
  const std::string other = dir / (stem + ".BIN");  // the same name to Windows
  test::WriteFile(other, test::Pattern(3000, 5));
  const std::string out = dir / "wynik\\";
  CreateDirectoryW(win::Widen(out).c_str(), nullptr);
  test::WriteFile(out + same.Name(), "there before the run");
  test::WriteFile(out + stem + " (2).bin", "there before the run too");
  for (const std::string& path : {disc + same.Name(), disc + damaged.Name(), other}) main.AddFileToList(path);
  main.SetText("Edit1", out.substr(0, out.size() - 1));
  App().form2->SetActionIndex(1);
  App().form2->SetLevel(4);
  const size_t firstEntry = main.EventLog().Count();
  {
    test::MessageBoxAnswerer box;
    main.Button8Click();
    ASSERT_TRUE(box.Answered());
    EXPECT_EQ(box.Caption(), "Informacja");
    EXPECT_EQ(box.Text(), "Nie wszystkie pliki zostały skopiowane (2 z 3).");
    EXPECT_EQ(box.Boxes().back().icon, "warning");
  }
  EXPECT_EQ(test::ReadFile(out + same.Name()), same.Bytes(0, same.size));
  EXPECT_EQ(test::ReadFile(out + stem + " (2).bin"), "there before the run too");
  EXPECT_EQ(test::ReadFile(out + stem + " (3).BIN"), test::Pattern(3000, 5));
  EXPECT_EQ(test::ReadFile(out + damaged.Name()), damaged.Bytes(0, 4000 / 1025 * 1025));
  const auto entries = EntriesFrom(firstEntry);
  const auto saveAs = std::find(entries.begin(), entries.end(), "Zapisywanie jako " + stem + " (3).BIN");
  ASSERT_NE(saveAs, entries.end());
  EXPECT_EQ(saveAs[-1], "Rozpoczynanie kopiowania pliku " + stem + ".BIN");
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [](const std::string& e) { return e.rfind("Zapisywanie jako ", 0) == 0; }),
            1);
  EXPECT_EQ(entries.back(), "Wyświetlanie komunikatu o skończonym kopiowaniu");
}

// The same disc with rescue mode stored in the registry (so on in the
// settings dialog from the start): the damaged file gets its full length and
// a map beside it, its log says what is missing, and it does not count as
// copied. The intact files are copied as ever, without maps, the last one
// before the damaged file's places are narrowed in round two.
TEST_F(CopyRunOnDamagedMedia, RescueModeReadsPastTheDamageAndKeepsAMap) {
  StartInRescueMode(2);
  TForm1& main = *App().form1;
  const test::VirtualFile first{.size = 40000, .salt = 21};
  test::VirtualFile damaged{.size = 200000, .salt = 22};
  damaged.Bad(30000, 30999).Bad(150000, 190000);
  const test::VirtualFile last{.size = 33333, .salt = 23};
  const std::string disc = media.MakeFolder("rescue_run_disc", {first, damaged, last});
  for (const std::string& name : {first.Name(), damaged.Name(), last.Name()}) main.AddFileToList(disc + name);
  main.SetText("Edit1", dir / "wynik");
  const size_t firstEntry = main.EventLog().Count();

  main.Button8Click();

  // Each file whole or rescued to the level's block, with a map exactly
  // where bytes are missing: two places in the damaged file.
  for (const test::VirtualFile* f : std::initializer_list<const test::VirtualFile*>{&first, &last, &damaged}) {
    int64_t unread = 0;
    size_t places = 0;
    EXPECT_EQ(test::RescueProblem(*f, dir / ("wynik\\" + f->Name()), 2, unread, places), "") << f->Name();
    EXPECT_EQ(places, f == &damaged ? 2u : 0u) << f->Name();
  }

  const auto entries = EntriesFrom(firstEntry);
  auto has = [&](const std::string& text) { return std::count(entries.begin(), entries.end(), text); };
  EXPECT_EQ(has("Zapisano mapę odczytu " + damaged.Name() + ".map"), 2);  // put off, then finished
  EXPECT_EQ(has("Rozmiar plików jest taki sam, ale nie wszystkie bajty zostały odczytane - błąd"), 1);
  EXPECT_EQ(has("Rozmiar plików jest taki sam - sukces"), 2);
  EXPECT_EQ(has("Zakończono kopiowanie pliku " + damaged.Name()), 1);
  auto at = [&](const std::string& text) { return std::find(entries.begin(), entries.end(), text) - entries.begin(); };
  EXPECT_LT(at("Odłożono kopiowanie pliku " + damaged.Name()), at("Zakończono kopiowanie pliku " + last.Name()));
  EXPECT_LT(at("Zakończono kopiowanie pliku " + last.Name()),
            at("Rozpoczynanie zawężania uszkodzonych miejsc (plików: 1)"));
  EXPECT_LT(at("Rozpoczynanie zawężania uszkodzonych miejsc (plików: 1)"),
            at("Wznawianie kopiowania pliku " + damaged.Name()));
  EXPECT_LT(at("Wznawianie kopiowania pliku " + damaged.Name()), at("Zakończono kopiowanie pliku " + damaged.Name()));
  const std::string places = " w 2 miejscach";
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                          [&](const std::string& e) {
                            return e.rfind("Błąd: Nie odczytano ", 0) == 0 && e.size() > places.size() &&
                                   e.compare(e.size() - places.size(), places.size(), places) == 0;
                          }),
            1);
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(entries.end() - 3, entries.end()),
            (std::vector<std::string>{"Błąd: Nie wszystkie pliki zostały skopiowane (2 z 3)",
                                      "Zakończono kopiowanie plików", "Włączanie komponentów"}));
}

// Failing reads of 1.5 s each, as a drive's: the window answers messages
// sent to it from another thread meanwhile, and a Stop posted during the
// first such read ends the run once that read has returned.
TEST_F(CopyRunOnDamagedMedia, TheWindowAnswersDuringSlowReadsAndStopsAfterTheReadInHand) {
  StartInRescueMode(0);
  TForm1& main = *App().form1;
  test::VirtualFile damaged{.size = 1 << 20, .salt = 31, .stallMs = 1500};
  damaged.BadEvery(128 * 1024, 2048, 64 * 1024);
  const test::VirtualFile next{.size = 5000, .salt = 32};
  const std::string disc = media.MakeFolder("slow_disc", {damaged, next});
  for (const std::string& name : {damaged.Name(), next.Name()}) main.AddFileToList(disc + name);
  main.SetText("Edit1", dir / "wynik");
  media.ClearFails();
  int answered = 0;
  std::thread user([&] {
    Sleep(600);  // into the first failing read: the healthy 64 KiB before it take milliseconds
    DWORD_PTR result = 0;
    for (int i = 0; i < 5; ++i, Sleep(50))
      answered += SendMessageTimeoutW(main.hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 500, &result) != 0;
    PostMessageW(main.hwnd(), WM_COMMAND, MAKEWPARAM(main.ControlId("Button65"), BN_CLICKED),
                 reinterpret_cast<LPARAM>(main.Control("Button65")));
  });
  main.Button8Click();
  user.join();
  EXPECT_EQ(answered, 5);
  EXPECT_LE(media.Fails(), 2u);
  EXPECT_EQ(test::ReadFile(dir / ("wynik\\" + damaged.Name())).size(), damaged.size);
  EXPECT_FALSE(test::FileExists(dir / ("wynik\\" + next.Name())));
}

// The disc taken out after a few reads is no damage: the map names the rest
// as not tried, the log says so, and a box owned by the window asks. Anuluj
// ends the run (in "Resumak" too: its next pair stays as it was); Ponów
// while the disc is out asks again, and with the disc back goes on to the end.
TEST_F(CopyRunOnDamagedMedia, ADiscTakenOutIsNoDamage) {
  StartInRescueMode(0);
  TForm1& main = *App().form1;
  TForm3& resume = *App().form3;
  const test::VirtualFile file{.size = 1 << 20, .salt = 41, .sector = 2048}, next{.size = 5000, .salt = 42};
  const std::string disc = media.MakeFolder("disc_out", {file, next});
  for (const std::string& name : {file.Name(), next.Name()}) main.AddFileToList(disc + name);
  main.SetText("Edit1", dir / "wynik");
  const std::string copy = dir / ("wynik\\" + file.Name()), copyNext = dir / ("wynik\\" + next.Name());
  win::WinFileSystem files;
  auto onlyNotTried = [&] {  // nothing taken as damage
    const RescueMap m = LoadMapFile(files, MapPathFor(copy));
    return m.Total(kNonTried) > 0 && m.Total(kNonTried) + m.Total(kFinished) == m.Size();
  };
  // `run` with the disc out after `reads` more reads, its boxes answered in
  // order, the disc back before the last answer; returns its log entries.
  auto discOut = [&](uint64_t reads, std::vector<int> answers, HWND owner, const std::function<void()>& run) {
    media.TakeOut(reads);
    bool mapAtFirstBox = false;
    test::MessageBoxAnswerer boxes(answers, 10000, [&](size_t k) {
      mapAtFirstBox |= k == 0 && onlyNotTried();
      if (k + 1 == answers.size()) media.PutIn();
    });
    const size_t firstEntry = main.EventLog().Count();
    run();
    EXPECT_TRUE(boxes.Answered() && mapAtFirstBox);
    for (const auto& box : boxes.Boxes())
      EXPECT_TRUE(box.caption == "Sektorian" && box.icon == "warning" && box.owner == owner &&
                  box.text == "Nie można odczytać nośnika. Jeśli płyta została wyjęta, włóż ją ponownie i wybierz "
                              "Ponów. Anuluj zatrzymuje kopiowanie.");
    const auto entries = EntriesFrom(firstEntry);
    return std::count(entries.begin(), entries.end(), "Błąd: Nośnik jest niedostępny");
  };
  media.ClearFails();
  EXPECT_EQ(discOut(3, {IDCANCEL}, main.hwnd(), [&] { main.Button8Click(); }), 1);
  EXPECT_TRUE(test::ReadFile(copy).size() == file.size && onlyNotTried() && !test::FileExists(copyNext));

  test::WriteFile(copyNext, next.Bytes(0, 1000));
  resume.AddPair(disc + file.Name(), copy);
  resume.AddPair(disc + next.Name(), copyNext);
  discOut(2, {IDCANCEL}, resume.hwnd(), [&] { resume.Button1Click(); });
  EXPECT_TRUE(onlyNotTried() && test::ReadFile(copyNext) == next.Bytes(0, 1000));
  discOut(2, {IDRETRY, IDRETRY}, resume.hwnd(), [&] { resume.Button1Click(); });
  EXPECT_TRUE(test::ReadFile(copy) == file.Bytes(0, file.size) && !test::FileExists(MapPathFor(copy)));
  EXPECT_EQ(test::ReadFile(copyNext), next.Bytes(0, next.size));

  EXPECT_EQ(discOut(3, {IDRETRY}, main.hwnd(), [&] { main.Button8Click(); }), 1);
  EXPECT_TRUE(test::ReadFile(copy) == file.Bytes(0, file.size) && !test::FileExists(MapPathFor(copy)));
  EXPECT_EQ(media.Fails(), 0u);
}

// A batch whose first file has a long scratch, and a listed file named like
// its map: round one saves every healthy file whole before the scratch is
// read sector by sector in round two (the fixture's read trace), the listed
// "X.map" is saved under a free name, and a Stop in either round leaves
// every file it reached at its full length with its map.
TEST_F(CopyRunOnDamagedMedia, TwoRoundsSaveTheHealthyFilesFirst) {
  StartInRescueMode(0);
  TForm1& main = *App().form1;
  test::VirtualFile scratched{.size = 2 << 20, .salt = 51, .stallMs = 2, .sector = 2048};
  scratched.Bad(512 * 1024 + 100, 800 * 1024 + 5000);  // off the grid of large reads
  const test::VirtualFile healthy{.size = 300000, .salt = 52}, last{.size = 70000, .salt = 53};
  const std::string disc = media.MakeFolder("two_rounds", {scratched, healthy, last}), name = scratched.Name();
  const std::string namesake = dir / (name + ".map"), out = dir / "wynik\\";
  test::WriteFile(namesake, "not a map");
  for (const std::string& path : {disc + name, disc + healthy.Name(), namesake, disc + last.Name()})
    main.AddFileToList(path);
  main.SetText("Edit1", dir / "wynik");
  // Full length with a map that tells the truth (whole when there is none).
  auto full = [&](const test::VirtualFile& f) {
    return test::ReadFile(out + f.Name()).size() == f.size && test::RecordProblem(f, out + f.Name()).empty();
  };
  auto whole = [&](const test::VirtualFile& f) { return test::ReadFile(out + f.Name()) == f.Bytes(0, f.size); };
  auto hasMap = [&](const test::VirtualFile& f) { return test::FileExists(out + f.Name() + ".map"); };
  media.StartTrace();
  main.Button8Click();
  const auto trace = media.Trace();
  size_t lastHealthy = 0, failsBefore = 0, failsAfter = 0;
  for (size_t i = 0; i < trace.size(); ++i)
    if (trace[i].path.find(name) == std::string::npos) lastHealthy = i;
  for (size_t i = 0; i < trace.size(); ++i) (i < lastHealthy ? failsBefore : failsAfter) += trace[i].result == "fail";
  EXPECT_LE(failsBefore, 24u);
  EXPECT_GE(failsAfter, 100u);
  EXPECT_TRUE(whole(healthy) && whole(last) && full(scratched));
  win::WinFileSystem files;
  EXPECT_GT(LoadMapFile(files, out + name + ".map").Unfinished(), 0);
  EXPECT_EQ(test::ReadFile(out + name + " (2).map"), "not a map");

  DeleteFileW(win::Widen(out + last.Name()).c_str());
  main.CopyRunFileHook = [&](int index) {
    if (index == 1) main.Button65Click();  // round one, as the healthy file begins
  };
  main.Button8Click();
  main.CopyRunFileHook = nullptr;
  EXPECT_TRUE(full(scratched) && hasMap(scratched) && full(healthy) && hasMap(healthy));
  EXPECT_FALSE(test::FileExists(out + last.Name()));

  g_stopAt = "Wznawianie kopiowania pliku " + name;  // round two
  g_stopFrom = main.EventLog().Count();
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, StopAtLogEntry);
  main.Button8Click();
  KillTimer(nullptr, timer);
  EXPECT_TRUE(whole(healthy) && whole(last) && full(scratched));
  const RescueMap map = LoadMapFile(files, out + name + ".map");
  EXPECT_GT(map.Total(kNonTrimmed) + map.Total(kNonScraped), 0) << "stopped while narrowing";
}

}  // namespace
}  // namespace sk::ui
