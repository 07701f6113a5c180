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

namespace sk::ui {
namespace {

void IgnoreReport(const std::string&) {}

TEST(CopyRunOnDamagedMedia, TheDamagedFileIsAnExactPrefixAndTheRunGoesOn) {
  test::Media media;
  test::SettingsKeyBackup backup;
  test::TempDir dir;
  test::DeleteSettingsKey();
  SetErrorSink(IgnoreReport);
  StartUp();
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

  std::vector<std::string> entries;
  for (size_t i = firstEntry; i < main.EventLog().Count(); ++i) entries.push_back(main.EventLog().At(i).text);
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

  ShutDown();
  SetErrorSink(nullptr);
  test::Flush();
}

}  // namespace
}  // namespace sk::ui
