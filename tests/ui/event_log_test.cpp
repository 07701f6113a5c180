// The event log and the copy status area of the main window, on Xvfb.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "core/Formats.h"
#include "support/UiTest.h"
#include "ui/EventLogView.h"
#include "ui/MainForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

struct Shown {
  TForm1 form;
  HWND list = nullptr;
  int base = 0;  // entries of the window's start-up, before the test's own
  Shown() {
    form.Create();
    ShowWindow(form.hwnd(), SW_SHOWNORMAL);
    list = form.Control("ListView2");
    test::Flush();
    base = ListView_GetItemCount(list);
  }
  // The test's own entries, counted and indexed after the start-up ones.
  int Count() const { return ListView_GetItemCount(list) - base; }
  std::string ItemText(int i) const {
    wchar_t buffer[512] = L"";
    ListView_GetItemText(list, i + base, 0, buffer, 512);
    return win::Narrow(buffer);
  }
  int ItemImage(int i) const {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = i + base;
    ListView_GetItem(list, &item);
    return item.iImage;
  }
  bool NewestInView() const {
    const int top = ListView_GetTopIndex(list), all = ListView_GetItemCount(list);
    return top + ListView_GetCountPerPage(list) >= all && top <= all - 1;
  }
  COLORREF Pixel(int x, int y) const {
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = GetDC(list);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(list, dc);
    return c;
  }
  RECT ItemRect(int i, int part) const {
    RECT r{};
    ListView_GetItemRect(list, i + base, &r, part);
    return r;
  }
  std::string Label(const char* name) const { return form.Text(name); }
  std::pair<int, int> Bar(const char* name) const {
    HWND h = form.Control(name);
    return {static_cast<int>(SendMessageW(h, PBM_GETRANGE, FALSE, 0)), static_cast<int>(SendMessageW(h, PBM_GETPOS, 0, 0))};
  }
};

TEST(EventLog, ListAndStatusAreaAsDesigned) {
  Shown w;
  wchar_t caption[64] = L"";
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = caption;
  column.cchTextMax = 64;
  ASSERT_TRUE(ListView_GetColumn(w.list, 0, &column));
  EXPECT_EQ(win::Narrow(caption), "Zdarzenie");
  EXPECT_EQ(column.cx, Dpi(325));
  EXPECT_FALSE(ListView_GetColumn(w.list, 1, &column));
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(w.list) & LVS_EX_FULLROWSELECT);
  const LONG style = GetWindowLongW(w.list, GWL_STYLE);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_FALSE(style & LVS_EDITLABELS);
  HIMAGELIST images = ListView_GetImageList(w.list, LVSIL_SMALL);
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(images), 3);
  int cx = 0, cy = 0;
  ImageList_GetIconSize(images, &cx, &cy);
  EXPECT_EQ(cx, 16);
  EXPECT_EQ(cy, 16);
  EXPECT_TRUE(w.form.Checked("CheckBox1"));
  EXPECT_EQ(w.form.Text("CheckBox1"), "Autoprzewijanie");
  EXPECT_EQ(w.form.Text("GroupBox2"), " Dziennik zdarzeń ");
  const char* labels[][2] = {{"Label1", "Upłynęło:"},     {"Label3", "0 sek"},        {"Label4", "Pozostało:"},
                             {"Label5", "0 sek"},         {"Label6", "Aktualny plik:"}, {"Label7", "Brak"},
                             {"Label8", "Skopiowano:"},   {"Label9", "0 B / 0 B"},    {"Label10", "Całkowity postęp:"},
                             {"Button65", "Zatrzymaj"},   {"Button7", "Rozpocznij"}};
  for (auto& l : labels) EXPECT_EQ(w.Label(l[0]), l[1]) << l[0];
  EXPECT_FALSE(w.form.Enabled("Button65"));
}

// The dominant colour channel of a pixel: 0 red, 1 green, 2 blue.
int Dominant(COLORREF c) {
  const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  if (r > g + 60 && r > b + 60) return 0;
  if (g > r + 60 && g > b + 30) return 1;
  if (b > r + 60 && b > g + 20) return 2;
  return -1;
}

TEST(EventLog, FirstEntryOfEveryRunIsTheStartUpLine) {
  Shown w;
  ASSERT_GE(w.base, 1);
  wchar_t buffer[128] = L"";
  ListView_GetItemText(w.list, 0, 0, buffer, 128);
  EXPECT_EQ(win::Narrow(buffer), "Uruchomiono Sektorian, wersja 1.1.0");
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  ListView_GetItem(w.list, &item);
  EXPECT_EQ(item.iImage, ekSuccess);
}

TEST(EventLog, EntriesShowWithTheirIconsAndRowColours) {
  Shown w;
  w.form.LogEvent("Błąd: File not found", ekError);
  w.form.LogEvent("Uruchomiono Sektorian, wersja 1.1.0", ekSuccess);
  w.form.LogEvent("Powiązywanie plików", ekInfo);
  ASSERT_EQ(w.Count(), 3);  // outside a copy, at once
  EXPECT_EQ(w.ItemText(0), "Błąd: File not found");
  EXPECT_EQ(w.ItemText(1), "Uruchomiono Sektorian, wersja 1.1.0");
  EXPECT_EQ(w.ItemText(2), "Powiązywanie plików");
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(w.ItemImage(i), i);
    const RECT row = w.ItemRect(i, LVIR_BOUNDS);
    const int y = (row.top + row.bottom) / 2;
    const COLORREF expected[] = {RGB(255, 202, 202), RGB(165, 231, 146), RGB(183, 219, 255)};
    EXPECT_EQ(w.Pixel(Dpi(310), y), expected[i]);  // right of the text, inside the column
    const RECT icon = w.ItemRect(i, LVIR_ICON);
    EXPECT_EQ(Dominant(w.Pixel(icon.left + (icon.right - icon.left) / 2 - 5, y)), i);  // the disc beside its mark
  }
}

TEST(EventLog, RewritingTheNewestEntryKeepsItsKind) {
  Shown w;
  w.form.LogEvent("Pobieranie aktualizacji", ekInfo);
  w.form.RewriteNewestEntry("Pobieranie aktualizacji (1 kB / 3 kB)");
  ASSERT_EQ(w.Count(), 1);
  EXPECT_EQ(w.ItemText(0), "Pobieranie aktualizacji (1 kB / 3 kB)");
  EXPECT_EQ(w.ItemImage(0), ekInfo);
}

TEST(EventLog, AutoscrollFollowsTheNewestAndSelectionJumpsBack) {
  Shown w;
  for (int i = 0; i < 60; ++i) w.form.LogEvent("Wpis " + std::to_string(i), ekInfo);
  test::Flush();
  EXPECT_TRUE(w.NewestInView());
  EXPECT_GT(ListView_GetTopIndex(w.list), 0);

  // Selecting an older entry is a change too: the list jumps back.
  ListView_EnsureVisible(w.list, 0, FALSE);
  ASSERT_EQ(ListView_GetTopIndex(w.list), 0);
  ListView_SetItemState(w.list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  test::Flush();
  EXPECT_TRUE(w.NewestInView());

  // Cleared: the list stays where the user put it.
  w.form.Check("CheckBox1", false);
  ListView_EnsureVisible(w.list, 0, FALSE);
  for (int i = 0; i < 20; ++i) w.form.LogEvent("Dalej " + std::to_string(i), ekInfo);
  ListView_SetItemState(w.list, 1, LVIS_SELECTED, LVIS_SELECTED);
  test::Flush();
  EXPECT_EQ(ListView_GetTopIndex(w.list), 0);
  EXPECT_EQ(w.Count(), 80);
}

TEST(EventLog, DuringACopyEntriesWaitForTheNextRefresh) {
  Shown w;
  w.form.BeginCopy();
  w.form.LogEvent("Rozpoczynanie kopiowania plików", ekInfo);
  EXPECT_EQ(w.Count(), 0);
  EXPECT_EQ(w.form.EventLog().Count(), static_cast<size_t>(w.base) + 1);
  w.form.EndCopy();
  EXPECT_EQ(w.Count(), 1);
}

TEST(StatusArea, LabelsAndBarsAfterACopy) {
  Shown w;
  test::TempDir dir;
  const size_t size = 300000;  // 293 steps at level 4: labels refreshed twice
  test::WriteFile(dir / "obraz.iso", test::Pattern(size));
  w.form.SetCopyStartTime(win::WinClock().Now());
  w.form.SetSizeCheckSource([] { return true; });
  w.form.SetOverallProgress(2 * size, 0);
  w.form.CopyFileAtLevel(dir / "obraz.iso", dir / "kopia.iso", 4);
  EXPECT_TRUE(test::ReadFile(dir / "kopia.iso") == test::Pattern(size));
  const std::string sizeText = FormatSize(size, win::DecimalSeparator());
  EXPECT_EQ(w.Label("Label7"), "obraz.iso");
  EXPECT_EQ(w.Label("Label9"), sizeText + " / " + sizeText);
  EXPECT_EQ(w.Label("Label5"), "0 sek");
  EXPECT_EQ(w.Label("Label3"), "0 sek");
  EXPECT_EQ(w.Bar("ProgressBar1"), std::make_pair(static_cast<int>(size), static_cast<int>(size)));
  EXPECT_EQ(w.Bar("ProgressBar2"), std::make_pair(static_cast<int>(2 * size), static_cast<int>(size)));
  ASSERT_EQ(w.Count(), 10);
  EXPECT_EQ(w.ItemText(6), "Rozmiar plików jest taki sam - sukces");
  EXPECT_EQ(w.ItemImage(6), ekSuccess);
  EXPECT_EQ(w.ItemText(9), "Zakończono kopiowanie pliku obraz.iso");
  EXPECT_TRUE(w.NewestInView());

  // A failed file shows what it got to, at once.
  EXPECT_THROW(w.form.CopyFileAtLevel(dir / "brak.iso", dir / "x.iso", 4), FileError);
  EXPECT_EQ(w.ItemText(w.Count() - 1), "Błąd: File not found");
  EXPECT_EQ(w.Label("Label7"), "brak.iso");
}

TEST(StatusArea, BarsScaleTotalsBeyondTwoGibibytes) {
  Shown w;
  const int64_t total = (6LL << 30) + 5;
  w.form.SetOverallProgress(total, total / 2);
  const auto [max, pos] = w.Bar("ProgressBar2");
  EXPECT_GT(max, 1 << 30);
  EXPECT_NEAR(static_cast<double>(pos) / max, 0.5, 1e-6);
}

BOOL CALLBACK ClickStop(HWND child, LPARAM) {
  if (test::WindowText(child) != "Zatrzymaj") return TRUE;
  PostMessageW(child, BM_CLICK, 0, 0);
  return FALSE;
}

// The click goes through the button, as the user's would.
void CALLBACK PressStop(HWND, UINT, UINT_PTR, DWORD) { EnumChildWindows(FindWindowW(L"TForm1", nullptr), ClickStop, 0); }

TEST(StatusArea, StopEndsALevelZeroCopyAfterTheBlockInHand) {
  Shown w;
  test::TempDir dir;
  test::WriteFile(dir / "duzy.bin", test::Pattern(4 << 20));
  w.form.Enable("Button65", true);  // as the run does
  w.form.SetSizeCheckSource([] { return true; });
  const UINT_PTR timer = SetTimer(nullptr, 0, 200, PressStop);
  w.form.CopyFileAtLevel(dir / "duzy.bin", dir / "kopia.bin", 0);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(w.form.StopRequested());
  const std::string copied = test::ReadFile(dir / "kopia.bin");
  EXPECT_GT(copied.size(), 0u);
  EXPECT_LT(copied.size(), size_t{4} << 20);
  EXPECT_TRUE(copied == test::Pattern(4 << 20).substr(0, copied.size()));
  EXPECT_EQ(w.ItemText(w.Count() - 4), "Rozmiar plików jest różny - błąd");
  EXPECT_EQ(w.ItemText(w.Count() - 1), "Zakończono kopiowanie pliku duzy.bin");
  EXPECT_EQ(w.Label("Label5"), "0 sek");
}

}  // namespace
}  // namespace sk::ui
