#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/MapPicture.h"

namespace sk {
namespace {

struct Mark {
  int64_t pos, size;
  char status;
};

// A cell's colour as one letter: g read, y not tried, o to narrow, r unreadable.
char Letter(CellKind kind) { return ".gyor"[static_cast<int>(kind)]; }

// The colour of a cell found the slow way: the worst status that has an
// area reaching into the cell's bytes.
char SlowColour(const RescueMap& map, const MapGrid& grid, int64_t cell) {
  const int64_t from = cell * grid.span, to = std::min(map.Size(), from + grid.span);
  CellKind worst = CellKind::kNone;
  for (char status : {'+', '?', '*', '/', '-'}) {
    const auto area = map.NextArea(from, status);
    if (area && area->pos < to) worst = std::max(worst, KindOf(status));
  }
  return Letter(worst);
}

TEST(MapPicture, CellColoursAndTotals) {
  struct Case {
    const char* name;
    int64_t size;
    std::vector<Mark> marks;                     // over a map all read
    int64_t spotFirst, spotEvery, spotCount;     // unreadable 1000-byte spots
    int width, height;                           // the drawing area (cells of 4 px, gaps of 1)
    std::vector<std::pair<int64_t, char>> cells;  // cells not green; "*" at -1: every cell is that colour
    std::string read, bad, untried;
    int64_t textCell;
    std::string text;
  };
  const Case cases[] = {
      {"every status, on and across cell edges", 100,
       {{10, 10, '-'}, {20, 1, '*'}, {39, 2, '?'}, {50, 10, '/'}, {60, 1, '-'}, {61, 10, '?'}, {71, 1, '*'},
        {99, 1, '-'}},
       0, 0, 0, 49, 4,
       {{1, 'r'}, {2, 'o'}, {3, 'y'}, {4, 'y'}, {5, 'o'}, {6, 'r'}, {7, 'o'}, {9, 'r'}},
       "Odczytano 64 B z 100 B (64,0 %)", "Nieczytelne: 12 B w 3 miejscach", "Nie próbowano: 24 B",
       7, "0x00000046 – 0x0000004F: Odczytane 8 B, Do zawężenia 1 B, Nie próbowano 1 B"},
      {"one place while its edges are narrowed", 100, {{10, 1, '-'}, {11, 8, '/'}, {19, 1, '-'}, {40, 1, '-'},
       {41, 1, '*'}}, 0, 0, 0, 49, 4, {{1, 'r'}, {4, 'r'}},
       "Odczytano 88 B z 100 B (88,0 %)", "Nieczytelne: 3 B w 2 miejscach", "Nie próbowano: 9 B",
       1, "0x0000000A – 0x00000013: Nieczytelne 2 B, Do zawężenia 8 B"},
      {"one bad byte in a huge file", 4700000000, {{3000000000, 1, '-'}}, 0, 0, 0, 1000, 700, {{17872, 'r'}},
       "Odczytano 4,38 GB z 4,38 GB (99,9 %)", "Nieczytelne: 1 B w 1 miejscu", "Nie próbowano:  B",
       17872, "0xB2CFBAA0 – 0xB2D24A51: Odczytane 163,92 kB, Nieczytelne 1 B"},
      {"beyond 4 GiB", 5LL << 30, {{4LL << 30, 1000, '?'}, {(5LL << 30) - 1, 1, '-'}}, 0, 0, 0, 1000, 700,
       {{22399, 'y'}, {27999, 'r'}},
       "Odczytano 5 GB z 5 GB (99,9 %)", "Nieczytelne: 1 B w 1 miejscu", "Nie próbowano: 1000 B",
       27999, "0x13FFD3D84 – 0x13FFFFFFF: Odczytane 176,62 kB, Nieczytelne 1 B"},
      {"an empty file", 0, {}, 0, 0, 0, 1000, 700, {},
       "Odczytano  B z  B (100,0 %)", "Nieczytelne: brak", "Nie próbowano:  B", 0, ""},
      {"more cells than bytes, rounded down", 3, {{1, 1, '-'}}, 0, 0, 0, 1000, 700, {{1, 'r'}},
       "Odczytano 2 B z 3 B (66,6 %)", "Nieczytelne: 1 B w 1 miejscu", "Nie próbowano:  B",
       1, "0x00000001 – 0x00000001: Nieczytelne 1 B"},
      {"nothing tried yet", 1000, {{0, 1000, '?'}}, 0, 0, 0, 1000, 700, {{-1, 'y'}},
       "Odczytano  B z 1000 B (0,0 %)", "Nieczytelne: brak", "Nie próbowano: 1000 B",
       999, "0x000003E7 – 0x000003E7: Nie próbowano 1 B"},
      {"100,000 areas", 4700000000, {}, 23500, 94000, 50000, 1000, 700, {{-1, 'r'}},
       "Odczytano 4,33 GB z 4,38 GB (98,9 %)", "Nieczytelne: 47,68 MB w 50000 miejscach", "Nie próbowano:  B",
       0, "0x00000000 – 0x00028FB1: Odczytane 161,97 kB, Nieczytelne 1,95 kB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RescueMap map(c.size, '+');
    for (const auto& m : c.marks) map.Set(m.pos, m.size, m.status);
    for (int64_t i = 0; i < c.spotCount; ++i) map.Set(c.spotFirst + i * c.spotEvery, 1000, '-');
    const MapPicture picture(map);
    const MapGrid grid = FitGrid(c.width, c.height, c.size, 4, 1);
    const std::vector<CellKind> colours = picture.Colours(grid);
    ASSERT_EQ(static_cast<int64_t>(colours.size()), grid.cells);
    std::string expected(colours.size(), c.cells.size() == 1 && c.cells[0].first < 0 ? c.cells[0].second : 'g');
    for (const auto& [cell, letter] : c.cells)
      if (cell >= 0) expected[static_cast<size_t>(cell)] = letter;
    std::string got, slow;
    for (size_t i = 0; i < colours.size(); ++i) {
      got += Letter(colours[i]);
      slow += SlowColour(map, grid, static_cast<int64_t>(i));
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(got, slow);
    EXPECT_EQ(picture.ReadText(), c.read);
    EXPECT_EQ(picture.BadText(), c.bad);
    EXPECT_EQ(picture.UntriedText(), c.untried);
    EXPECT_EQ(picture.CellText(grid, c.textCell), c.text);
    // The same from the map's text, as a map file is opened.
    const MapPicture opened(ReadMapText(map.ToText()));
    EXPECT_EQ(opened.Colours(grid), colours);
    EXPECT_EQ(opened.ReadText() + opened.BadText() + opened.UntriedText(), c.read + c.bad + c.untried);
  }
}

TEST(MapPicture, GridFillsTheDrawingArea) {
  struct Case {
    int width, height;
    int64_t bytes;
    int cell, columns, rows;
    int64_t span, cells;
    int x, y;
  };
  const Case cases[] = {
      {1000, 700, 4700000000, 4, 200, 140, 167858, 28000, 0, 0},  // the smallest cells, as many as fit
      {1000, 700, 28000, 4, 200, 140, 1, 28000, 0, 0},            // a byte a cell, exactly
      {1000, 700, 28001, 6, 143, 98, 2, 14001, 0, 7},             // two bytes a cell: larger cells fill it
      {1000, 700, 3, 349, 2, 2, 1, 3, 150, 0},                    // fewer bytes than cells
      {10, 4, 100, 4, 2, 1, 50, 2, 0, 0},
      {1000, 700, 0, 4, 0, 0, 0, 0, 0, 0},                        // an empty file: no cells
      {3, 700, 100, 4, 0, 0, 0, 0, 0, 0},                         // narrower than a cell
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + std::to_string(c.bytes));
    const MapGrid g = FitGrid(c.width, c.height, c.bytes, 4, 1);
    EXPECT_EQ(g.cell, c.cell);
    EXPECT_EQ(g.columns, c.columns);
    EXPECT_EQ(g.rows, c.rows);
    EXPECT_EQ(g.span, c.span);
    EXPECT_EQ(g.cells, c.cells);
    EXPECT_EQ(g.x, c.x);
    EXPECT_EQ(g.y, c.y);
    if (g.cells == 0) continue;
    // Inside the area; the last cell holds the last byte.
    EXPECT_LE(g.x + g.columns * g.Pitch() - g.gap, c.width);
    EXPECT_LE(g.y + g.rows * g.Pitch() - g.gap, c.height);
    EXPECT_EQ(g.CellOf(c.bytes - 1, c.bytes), g.cells - 1);
    EXPECT_EQ(g.CellOf(c.bytes, c.bytes), -1);
    EXPECT_EQ(g.CellAt(g.CellLeft(g.cells - 1), g.CellTop(g.cells - 1) + g.cell - 1), g.cells - 1);
  }
  // Points: a gap belongs to the cell before it; nothing outside the cells in use.
  const MapGrid g = FitGrid(1000, 700, 4700000000, 4, 1);
  EXPECT_EQ(g.CellAt(0, 0), 0);
  EXPECT_EQ(g.CellAt(4, 4), 0);
  EXPECT_EQ(g.CellAt(5, 0), 1);
  EXPECT_EQ(g.CellAt(0, 5), 200);
  EXPECT_EQ(g.CellAt(999, 699), 27999);
  EXPECT_EQ(g.CellAt(-1, 0), -1);
  EXPECT_EQ(g.CellAt(1000, 0), -1);
  const MapGrid three = FitGrid(1000, 700, 3, 4, 1);
  EXPECT_EQ(three.CellAt(three.CellLeft(1), three.CellTop(2)), -1);  // the fourth place of a 2 x 2 grid
  EXPECT_EQ(g.CellOf(3000000000, 4700000000), 17872);
}

TEST(MapPicture, PerMilleIsExactAndRoundedDown) {
  EXPECT_EQ(PerMille(0, 0), 1000);
  EXPECT_EQ(PerMille(1, 3), 333);
  EXPECT_EQ(PerMille(2, 3), 666);
  EXPECT_EQ(PerMille(999, 1000), 999);
  EXPECT_EQ(PerMille(INT64_MAX - 1, INT64_MAX), 999);
  EXPECT_EQ(PerMille(INT64_MAX / 2, INT64_MAX), 499);
  EXPECT_EQ(PerMille(INT64_MAX, INT64_MAX), 1000);
}

}  // namespace
}  // namespace sk
