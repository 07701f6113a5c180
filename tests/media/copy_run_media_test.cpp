// A copy run over a damaged disc: the file with an unreadable range ends
// where the damage begins, the run goes on, and it says that not every file
// was copied.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/Media.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

void IgnoreReport(const std::string&) {}

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
  test::PutSettingsDword(L"Level", 2);
  test::PutSettingsDword(L"EndAction", 0);
  test::PutSettingsDword(L"CheckFiles", 1);
  test::PutSettingsString(L"RunAfter", L"");
  test::PutSettingsDword(L"RescueMode", 1);
  Start();
  TForm1& main = *App().form1;
  ASSERT_TRUE(App().form2->RescueMode());
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

}  // namespace
}  // namespace sk::ui
