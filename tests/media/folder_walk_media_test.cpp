// Adding a folder of a damaged disc to the list: a folder that cannot be
// listed is reported and the walk goes on; links to folders are followed
// (a disc mounted into a folder), except one leading back up the walk.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ErrorReports.h"
#include "support/Media.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {


TEST(FolderWalkOnDamagedMedia, UnreadableFoldersAreLoggedAndLinksFollowedUntilTheyLoop) {
  test::Media media;
  test::SettingsKeyBackup backup;
  test::DeleteSettingsKey();
  test::ErrorReports reports{"Failed to get data for 'Level'"};  // a first start's report, and no other
  StartUp();
  TForm1& main = *App().form1;
  const test::VirtualFile a{.size = 10, .id = "a"}, b{.size = 20, .id = "b"}, c{.size = 30, .id = "c"};
  // walk: a, zly.unreadable, dobry (b, "w_gore" up to walk), "naped" -> another disc (c).
  const std::string root = media.MakeFolder("walk", {a});
  // Made, though Wine reports a failure: it cannot open the new folder.
  CreateDirectoryW(win::Widen(root + "zly.unreadable").c_str(), nullptr);
  media.MakeFolder("walk\\dobry", {b});
  media.MakeFolder("walk_other_disc", {c});
  media.MakeLink("walk\\dobry\\w_gore", "..");
  media.MakeLink("walk\\naped", "../walk_other_disc");
  const size_t firstEntry = main.EventLog().Count();

  main.AddFolderToList(root);

  // Wine lists names sorted: dobry, naped, zly.unreadable.
  EXPECT_EQ(main.ListCaptions(), (std::vector<std::string>{root + a.Name(), root + "dobry\\" + b.Name(),
                                                           root + "naped\\" + c.Name()}));
  std::vector<std::string> entries;
  for (size_t i = firstEntry; i < main.EventLog().Count(); ++i) entries.push_back(main.EventLog().At(i).text);
  EXPECT_EQ(entries, std::vector<std::string>{"Błąd: Nie można odczytać folderu " + root + "zly.unreadable"});
  EXPECT_EQ(main.EventLog().At(main.EventLog().Count() - 1).kind, ekError);

  ShutDown();
  test::Flush();
}

}  // namespace
}  // namespace sk::ui
