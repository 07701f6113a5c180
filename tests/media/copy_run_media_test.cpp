// A copy run over a damaged disc: the file with an unreadable range ends
// where the damage begins, the run goes on, and it says that not every file
// was copied.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <thread>
#include <vector>

#include "core/Rescue.h"
#include "support/Media.h"
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

  auto copied = [&](const test::VirtualFile& f) { return test::ReadFile(dir / "wynik\\" + f.Name()); };
  EXPECT_EQ(copied(first), first.Bytes(0, first.size));
  EXPECT_EQ(copied(last), last.Bytes(0, last.size));
  // Its bytes, holes and map are the fault matrix's to check; here: full length.
  EXPECT_EQ(copied(damaged).size(), damaged.size);
  const std::string map = dir / ("wynik\\" + damaged.Name() + ".map");
  EXPECT_TRUE(test::FileExists(map));
  EXPECT_FALSE(test::FileExists(dir / ("wynik\\" + first.Name() + ".map")));

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

// Failing reads of 1.5 s each, as a drive's: the window answers a message
// sent to it from another thread meanwhile, and a Stop sent during the first
// such read ends the run once that read has returned.
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
  EXPECT_TRUE(test::FileExists(dir / ("wynik\\" + damaged.Name() + ".map")));
  EXPECT_FALSE(test::FileExists(dir / ("wynik\\" + next.Name())));
  EXPECT_TRUE(main.Enabled("Button7"));
}

// The disc taken out during a rescue (after a few reads of it) is no damage:
// the map names what was not read yet as not tried, the log says so, and a
// box owned by the window asks. Anuluj ends the run (the copy run, then
// "Resumak"'s, whose next pair stays as it was); Ponów while the disc is
// still out asks again, and Ponów with the disc back goes on to the end.
TEST_F(CopyRunOnDamagedMedia, ADiscTakenOutIsNoDamage) {
  StartInRescueMode(0);
  TForm1& main = *App().form1;
  TForm3& resume = *App().form3;
  resume.ShowModeless();
  const test::VirtualFile file{.size = 1 << 20, .salt = 41, .sector = 2048};
  const test::VirtualFile next{.size = 5000, .salt = 42};
  const std::string disc = media.MakeFolder("disc_out", {file, next});
  for (const std::string& name : {file.Name(), next.Name()}) main.AddFileToList(disc + name);
  main.SetText("Edit1", dir / "wynik");
  const std::string copy = dir / ("wynik\\" + file.Name()), copyNext = dir / ("wynik\\" + next.Name());
  const std::string map = MapPathFor(copy);
  win::WinFileSystem files;
  // Only never-tried bytes beside the rescued ones: nothing taken as damage.
  auto onlyNotTried = [&] {
    const RescueMap m = LoadMapFile(files, map);
    return m.Total(kNonTried) > 0 && m.Total(kNonTried) + m.Total(kFinished) == m.Size();
  };
  // Runs `run` with the disc taken out after `reads` more reads, answering
  // its boxes in order; the disc is back before the last answer.
  auto discOut = [&](uint64_t reads, std::vector<int> answers, const std::function<void()>& run) {
    media.TakeOut(reads);
    bool mapAtFirstBox = false;
    test::MessageBoxAnswerer boxes(answers, 10000, [&](size_t k) {
      if (k == 0) mapAtFirstBox = onlyNotTried();
      if (k + 1 == answers.size()) media.PutIn();
    });
    const size_t firstEntry = main.EventLog().Count();
    run();
    EXPECT_TRUE(boxes.Answered());
    EXPECT_TRUE(mapAtFirstBox);
    for (const auto& box : boxes.Boxes()) {
      EXPECT_EQ(box.caption, "Sektorian");
      EXPECT_EQ(box.text,
                "Nie można odczytać nośnika. Jeśli płyta została wyjęta, włóż ją ponownie i wybierz Ponów. Anuluj "
                "zatrzymuje kopiowanie.");
      EXPECT_EQ(box.icon, "warning");
    }
    return std::make_pair(boxes.Boxes(), EntriesFrom(firstEntry));
  };
  media.ClearFails();

  // The copy run, Anuluj: the file at its full length with its map, the next file not copied.
  auto [boxes, entries] = discOut(3, {IDCANCEL}, [&] { main.Button8Click(); });
  EXPECT_EQ(boxes.at(0).owner, main.hwnd());
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "Błąd: Nośnik jest niedostępny"), 1);
  EXPECT_EQ(test::ReadFile(copy).size(), file.size);
  EXPECT_TRUE(onlyNotTried());
  EXPECT_FALSE(test::FileExists(copyNext));

  // "Resumak", Anuluj: the pair after it stays as it was.
  test::WriteFile(copyNext, next.Bytes(0, 1000));
  resume.AddPair(disc + file.Name(), copy);
  resume.AddPair(disc + next.Name(), copyNext);
  boxes = discOut(2, {IDCANCEL}, [&] { resume.Button1Click(); }).first;
  EXPECT_EQ(boxes.at(0).owner, resume.hwnd());
  EXPECT_TRUE(onlyNotTried());
  EXPECT_EQ(test::ReadFile(copyNext), next.Bytes(0, 1000));

  // "Resumak", Ponów with the disc still out, then back: both pairs whole.
  boxes = discOut(2, {IDRETRY, IDRETRY}, [&] { resume.Button1Click(); }).first;
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_EQ(test::ReadFile(copy), file.Bytes(0, file.size));
  EXPECT_FALSE(test::FileExists(map));
  EXPECT_EQ(test::ReadFile(copyNext), next.Bytes(0, next.size));

  // The copy run, Ponów with the disc back: every file whole, no map.
  std::tie(boxes, entries) = discOut(3, {IDRETRY}, [&] { main.Button8Click(); });
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "Błąd: Nośnik jest niedostępny"), 1);
  EXPECT_EQ(test::ReadFile(copy), file.Bytes(0, file.size));
  EXPECT_FALSE(test::FileExists(map));
  EXPECT_EQ(test::ReadFile(copyNext), next.Bytes(0, next.size));
  EXPECT_EQ(media.Fails(), 0u);
}

// A batch whose first file has a long scratch, through the main window: round
// one saves every healthy file whole before the scratch is read sector by
// sector in round two, the scratched file's entries say that its narrowing
// was put off and then done, and a Stop in either round leaves every file it
// reached at its full length, with its map where bytes are missing.
TEST_F(CopyRunOnDamagedMedia, TwoRoundsSaveTheHealthyFilesFirst) {
  StartInRescueMode(0);
  TForm1& main = *App().form1;
  test::VirtualFile scratched{.size = 2 << 20, .salt = 51, .stallMs = 2, .sector = 2048};
  scratched.Bad(512 * 1024 + 100, 800 * 1024 + 5000);  // off the grid of large reads
  const test::VirtualFile healthy{.size = 300000, .salt = 52}, last{.size = 70000, .salt = 53};
  const std::string disc = media.MakeFolder("two_rounds", {scratched, healthy, last});
  for (const std::string& file : {scratched.Name(), healthy.Name(), last.Name()}) main.AddFileToList(disc + file);
  main.SetText("Edit1", dir / "wynik");
  auto copy = [&](const test::VirtualFile& f) { return test::ReadFile(dir / ("wynik\\" + f.Name())); };
  auto hasMap = [&](const test::VirtualFile& f) { return test::FileExists(dir / ("wynik\\" + f.Name() + ".map")); };
  const std::string name = scratched.Name();
  const size_t firstEntry = main.EventLog().Count();
  media.StartTrace();

  main.Button8Click();

  // The failing reads before the last read of a healthy file, and after it.
  const auto trace = media.Trace();
  size_t lastHealthy = 0, failsBefore = 0, failsAfter = 0;
  for (size_t i = 0; i < trace.size(); ++i)
    if (trace[i].path.find(name) == std::string::npos) lastHealthy = i;
  for (size_t i = 0; i < trace.size(); ++i) (i < lastHealthy ? failsBefore : failsAfter) += trace[i].result == "fail";
  EXPECT_LE(failsBefore, 24u);
  EXPECT_GE(failsAfter, 100u);
  EXPECT_EQ(copy(healthy), healthy.Bytes(0, healthy.size));
  EXPECT_EQ(copy(last), last.Bytes(0, last.size));
  EXPECT_EQ(copy(scratched).size(), scratched.size);
  EXPECT_TRUE(hasMap(scratched));
  auto entries = EntriesFrom(firstEntry);
  const auto start = std::find(entries.begin(), entries.end(), "Rozpoczynanie kopiowania pliku " + name);
  ASSERT_GE(entries.end() - start, 8);
  std::vector<std::string> roundOne(start, start + 8);
  EXPECT_EQ(roundOne[4].rfind("Odłożono zawężanie uszkodzonych miejsc: pozostało ", 0), 0u) << roundOne[4];
  EXPECT_TRUE(roundOne[4].ends_with(" w 1 miejscu")) << roundOne[4];
  roundOne[4] = "";
  EXPECT_EQ(roundOne, (std::vector<std::string>{"Rozpoczynanie kopiowania pliku " + name, "Powiązywanie plików",
                                                "Przygotowywanie plików do kopiowania", "Czytanie i zapisywanie bajtów",
                                                "", "Zapisano mapę odczytu " + name + ".map", "Zamykanie plików",
                                                "Odłożono kopiowanie pliku " + name}));
  const auto second = std::find(entries.begin(), entries.end(), "Rozpoczynanie zawężania uszkodzonych miejsc (plików: 1)");
  ASSERT_GE(entries.end() - second, 11);
  std::vector<std::string> roundTwo(second, second + 11);
  EXPECT_TRUE(roundTwo[4].rfind("Błąd: Nie odczytano ", 0) == 0 && roundTwo[4].ends_with(" w 1 miejscu")) << roundTwo[4];
  roundTwo[4] = "";
  EXPECT_EQ(roundTwo,
            (std::vector<std::string>{"Rozpoczynanie zawężania uszkodzonych miejsc (plików: 1)",
                                      "Wznawianie kopiowania pliku " + name, "Czytanie i zapisywanie bajtów",
                                      "Zakończono czytanie i zapisywanie bajtów", "",
                                      "Zapisano mapę odczytu " + name + ".map", "Sprawdzanie rozmiaru pliku",
                                      "Rozmiar plików jest taki sam, ale nie wszystkie bajty zostały odczytane - błąd",
                                      "Zakończono sprawdzanie rozmiaru plików", "Zamykanie plików",
                                      "Zakończono kopiowanie pliku " + name}));

  // Stop in round one, as the healthy file begins: it and the scratched file
  // at their full lengths with their maps, the last file not begun.
  DeleteFileW(win::Widen(dir / ("wynik\\" + last.Name())).c_str());
  main.CopyRunFileHook = [&](int index) {
    if (index == 1) main.Button65Click();
  };
  main.Button8Click();
  main.CopyRunFileHook = nullptr;
  EXPECT_TRUE(copy(scratched).size() == scratched.size && hasMap(scratched));
  EXPECT_TRUE(copy(healthy).size() == healthy.size && hasMap(healthy));
  EXPECT_FALSE(test::FileExists(dir / ("wynik\\" + last.Name())));

  // Stop in round two: the healthy files whole, the scratched one at its full length with its map.
  g_stopAt = "Wznawianie kopiowania pliku " + name;
  const size_t secondRun = g_stopFrom = main.EventLog().Count();
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, StopAtLogEntry);
  main.Button8Click();
  KillTimer(nullptr, timer);
  entries = EntriesFrom(secondRun);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), g_stopAt), 1);
  EXPECT_EQ(copy(healthy), healthy.Bytes(0, healthy.size));
  EXPECT_EQ(copy(last), last.Bytes(0, last.size));
  EXPECT_TRUE(copy(scratched).size() == scratched.size && hasMap(scratched));
  win::WinFileSystem files;
  const RescueMap map = LoadMapFile(files, dir / ("wynik\\" + name + ".map"));
  EXPECT_GT(map.Total(kNonTrimmed) + map.Total(kNonScraped), 0) << "stopped while narrowing";
}

// A listed file named like a rescued file's map (X.map beside X), in either
// order: the map stays the rescue's, and the listed file is saved under a
// free name.
TEST_F(CopyRunOnDamagedMedia, AListedFileNeverTakesTheNameOfARescuesMap) {
  StartInRescueMode(0);
  TForm1& main = *App().form1;
  test::VirtualFile first{.size = 20000, .salt = 61}, second{.size = 20000, .salt = 62};
  first.Bad(5000, 5099);
  second.Bad(7000, 7099);
  const std::string disc = media.MakeFolder("map_names", {first, second});
  const std::string mine = dir / "moje\\";
  CreateDirectoryW(win::Widen(mine).c_str(), nullptr);
  test::WriteFile(mine + first.Name() + ".map", "the first file's namesake");
  test::WriteFile(mine + second.Name() + ".map", "the second file's namesake");
  for (const std::string& path : {disc + first.Name(), mine + first.Name() + ".map", mine + second.Name() + ".map",
                                  disc + second.Name()})
    main.AddFileToList(path);
  main.SetText("Edit1", dir / "wynik");
  main.Button8Click();

  const std::string out = dir / "wynik\\", stem = second.Name().substr(0, second.Name().size() - 4);
  win::WinFileSystem files;
  EXPECT_EQ(LoadMapFile(files, out + first.Name() + ".map").Unfinished(), 100);
  EXPECT_EQ(test::ReadFile(out + first.Name() + " (2).map"), "the first file's namesake");
  EXPECT_EQ(test::ReadFile(out + second.Name() + ".map"), "the second file's namesake");
  EXPECT_EQ(test::ReadFile(out + stem + " (2).bin").size(), second.size);
  EXPECT_EQ(LoadMapFile(files, out + stem + " (2).bin.map").Unfinished(), 100);
}

}  // namespace
}  // namespace sk::ui
