// The read map window during rescues on the damaged disc: it follows a
// rescue-mode copy run from file to file (a black frame on the read
// position while live), ends with the totals the log gives, and follows
// "Resumak" finishing a file from its map.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "support/ErrorReports.h"
#include "support/Media.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"

namespace sk::ui {
namespace {


// What the map window showed at one moment of a run.
struct Sight {
  std::string caption;
  bool framed;      // a cell has the live frame
  int64_t cell;     // the framed cell
  bool frameDrawn;  // the pixel left of the framed cell is the frame's
};
std::vector<Sight>* g_sights = nullptr;

// Looks at the map window at every timer tick, which the run's message pumps deliver.
void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD) {
  TForm4& map = App().form1->MapWindow();
  bool frameDrawn = false;
  if (map.FramedCell() >= 0) {
    const MapGrid& g = map.Grid();
    HDC dc = GetDC(map.Control("PaintBox1"));
    frameDrawn = GetPixel(dc, g.CellLeft(map.FramedCell()) - 1, g.CellTop(map.FramedCell())) == TForm4::kFrameColour;
    ReleaseDC(map.Control("PaintBox1"), dc);
  }
  g_sights->push_back({map.Text(""), map.FramedCell() >= 0, map.FramedCell(), frameDrawn});
}

TEST(MapWindowOnDamagedMedia, FollowsARescueFromFileToFileAndAResumeFromItsMap) {
  test::Media media;
  test::SettingsKeyBackup backup;
  test::TempDir dir;
  test::PutCompleteSettings(4, true);
  test::PutSettingsDword(L"RescueMode", 1);
  test::ErrorReports reports;
  StartUp();
  TForm1& main = *App().form1;
  ShowWindow(main.hwnd(), SW_SHOWNORMAL);
  main.Mapaodczytu1Click();
  // Slow reads, so that each file's rescue lasts over several paced refreshes.
  test::VirtualFile first{.size = 256 * 1024, .salt = 31, .slowMs = 15};
  first.Bad(100000, 109999);
  test::VirtualFile second{.size = 256 * 1024, .salt = 32, .slowMs = 15};
  second.Bad(200000, 200999);
  const std::string disc = media.MakeFolder("map_window_disc", {first, second});
  for (const auto* f : {&first, &second}) main.AddFileToList(disc + f->Name());
  main.SetText("Edit1", dir / "wynik");

  std::vector<Sight> sights;
  g_sights = &sights;
  const UINT_PTR timer = SetTimer(nullptr, 0, 15, Look);
  main.Button8Click();
  KillTimer(nullptr, timer);
  g_sights = nullptr;

  auto captionOf = [](const test::VirtualFile& f) { return "Mapa odczytu - " + f.Name() + ".map"; };
  auto firstLive = [&](const test::VirtualFile& f) {
    return std::find_if(sights.begin(), sights.end(),
                        [&](const Sight& s) { return s.framed && s.caption == captionOf(f); });
  };
  ASSERT_NE(firstLive(first), sights.end()) << sights.size() << " looks";
  ASSERT_NE(firstLive(second), sights.end());
  EXPECT_LT(firstLive(first), firstLive(second));
  std::set<int64_t> cells;  // the frame follows the read position at the paced refreshes
  for (const Sight& s : sights)
    if (s.framed && s.caption == captionOf(first)) cells.insert(s.cell);
  EXPECT_GE(cells.size(), 3u);
  EXPECT_TRUE(std::all_of(sights.begin(), sights.end(), [](const Sight& s) { return !s.framed || s.frameDrawn; }));

  // The end: the last file, no frame, the unreadable bytes as the log gives them.
  TForm4& map = main.MapWindow();
  EXPECT_TRUE(test::PumpUntil([&] { return !map.DrawPending(); }, 1000));
  EXPECT_FALSE(map.Live());
  EXPECT_EQ(map.FramedCell(), -1);
  const std::string caption = map.Text("");
  ASSERT_TRUE(caption == captionOf(first) || caption == captionOf(second)) << caption;
  const EventLogModel& log = main.EventLog();
  std::vector<std::string> unread;
  for (size_t i = 0; i < log.Count(); ++i)
    if (log.At(i).text.starts_with("Błąd: Nie odczytano ")) unread.push_back(log.At(i).text);
  ASSERT_EQ(unread.size(), 2u);
  const std::string shown = map.Text("Label2");
  ASSERT_TRUE(shown.starts_with("Nieczytelne: ")) << shown;
  const std::string said = unread[caption == captionOf(first) ? 0 : 1];
  EXPECT_EQ(shown.substr(std::string("Nieczytelne: ").size()), said.substr(std::string("Błąd: Nie odczytano ").size()));

  // "Resumak" finishes the file from its map once the disc reads: the window
  // shows that pair's map to its end.
  const test::VirtualFile& last = caption == captionOf(first) ? first : second;
  media.Heal(last);
  App().form3->AddPair(disc + last.Name(), dir / ("wynik\\" + last.Name()));
  App().form3->Button1Click();
  EXPECT_TRUE(test::PumpUntil([&] { return !map.DrawPending(); }, 1000));
  EXPECT_EQ(map.Text(""), caption);
  EXPECT_EQ(map.Text("Label1"), "Odczytano 256 kB z 256 kB (100,0 %)");
  EXPECT_EQ(map.Text("Label2"), "Nieczytelne: brak");
  EXPECT_EQ(test::ReadFile(dir / ("wynik\\" + last.Name())), last.Bytes(0, last.size));

  ShutDown();
  test::Flush();
}

}  // namespace
}  // namespace sk::ui
