#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/MapPicture.h"

namespace sk {
namespace {

// The cells' colours as letters: g read, y not tried, o to narrow, r unreadable.
std::string Letters(const std::vector<CellKind>& kinds) {
  std::string letters;
  for (CellKind kind : kinds) letters += ".gyor"[static_cast<int>(kind)];
  return letters;
}

std::string Totals(const MapPicture& p) { return p.ReadText() + "|" + p.BadText() + "|" + p.UntriedText(); }

TEST(MapPicture, CellColoursAndTotals) {
  struct Mark {
    int64_t pos, size;
    char status;
  };
  struct Case {
    const char* name;
    int64_t size;
    std::vector<Mark> marks;  // over a map all read
    int64_t spots;            // unreadable 1000-byte spots, every 94000 bytes from 23500
    int width, height;        // the drawing area (cells of 4 px or more, gaps of 1)
    std::vector<std::pair<int64_t, char>> cells;  // the cells not green; at -1: every cell
    std::string totals;
    int64_t textCell;
    std::string text;
  };
  const Case cases[] = {
      {"every status, on and across cell edges", 100,
       {{10, 10, '-'}, {20, 1, '*'}, {39, 2, '?'}, {50, 10, '/'}, {60, 1, '-'}, {61, 10, '?'}, {71, 1, '*'},
        {99, 1, '-'}},
       0, 49, 4, {{1, 'r'}, {2, 'o'}, {3, 'y'}, {4, 'y'}, {5, 'o'}, {6, 'r'}, {7, 'o'}, {9, 'r'}},
       "Odczytano 64 B z 100 B (64,0 %)|Nieczytelne: 12 B w 3 miejscach|Nie próbowano: 24 B",
       7, "0x00000046 – 0x0000004F: Odczytane 8 B, Do zawężenia 1 B, Nie próbowano 1 B"},
      {"one place while its edges are narrowed", 100,
       {{10, 1, '-'}, {11, 8, '/'}, {19, 1, '-'}, {40, 1, '-'}, {41, 1, '*'}}, 0, 49, 4, {{1, 'r'}, {4, 'r'}},
       "Odczytano 88 B z 100 B (88,0 %)|Nieczytelne: 3 B w 2 miejscach|Nie próbowano: 9 B",
       1, "0x0000000A – 0x00000013: Nieczytelne 2 B, Do zawężenia 8 B"},
      {"one bad byte in a huge file", 4700000000, {{3000000000, 1, '-'}}, 0, 1000, 700, {{17872, 'r'}},
       "Odczytano 4,38 GB z 4,38 GB (99,9 %)|Nieczytelne: 1 B w 1 miejscu|Nie próbowano: brak",
       17872, "0xB2CFBAA0 – 0xB2D24A51: Odczytane 163,92 kB, Nieczytelne 1 B"},
      {"beyond 4 GiB", 5LL << 30, {{4LL << 30, 1000, '?'}, {(5LL << 30) - 1, 1, '-'}}, 0, 1000, 700,
       {{22399, 'y'}, {27999, 'r'}},
       "Odczytano 5 GB z 5 GB (99,9 %)|Nieczytelne: 1 B w 1 miejscu|Nie próbowano: 1000 B",
       27999, "0x13FFD3D84 – 0x13FFFFFFF: Odczytane 176,62 kB, Nieczytelne 1 B"},
      {"an empty file", 0, {}, 0, 1000, 700, {}, "Odczytano 0 B z 0 B (100,0 %)|Nieczytelne: brak|Nie próbowano: brak",
       0, ""},
      {"more cells than bytes, rounded down", 3, {{1, 1, '-'}}, 0, 1000, 700, {{1, 'r'}},
       "Odczytano 2 B z 3 B (66,6 %)|Nieczytelne: 1 B w 1 miejscu|Nie próbowano: brak",
       1, "0x00000001 – 0x00000001: Nieczytelne 1 B"},
      {"100,000 areas", 4700000000, {}, 50000, 1000, 700, {{-1, 'r'}},
       "Odczytano 4,33 GB z 4,38 GB (98,9 %)|Nieczytelne: 47,68 MB w 50000 miejscach|Nie próbowano: brak",
       0, "0x00000000 – 0x00028FB1: Odczytane 161,97 kB, Nieczytelne 1,95 kB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RescueMap map(c.size, '+');
    for (const auto& m : c.marks) map.Set(m.pos, m.size, m.status);
    for (int64_t i = 0; i < c.spots; ++i) map.Set(23500 + i * 94000, 1000, '-');
    const MapPicture picture(map);
    const MapGrid grid = FitGrid(c.width, c.height, c.size, 4, 1);
    const bool all = c.cells.size() == 1 && c.cells[0].first < 0;
    std::string expected(static_cast<size_t>(grid.cells), all ? c.cells[0].second : 'g');
    for (const auto& [cell, letter] : c.cells)
      if (cell >= 0) expected[static_cast<size_t>(cell)] = letter;
    EXPECT_EQ(Letters(picture.Colours(grid)), expected);
    EXPECT_EQ(Totals(picture), c.totals);
    EXPECT_EQ(picture.CellText(grid, c.textCell), c.text);
    // The same from the map's text, as a map file is opened.
    const MapPicture opened(ReadMapText(map.ToText()));
    EXPECT_EQ(Letters(opened.Colours(grid)), expected);
    EXPECT_EQ(Totals(opened), c.totals);
  }
}

TEST(MapPicture, GridFillsTheDrawingArea) {
  struct Case {
    int width, height;
    int64_t bytes;
    MapGrid grid;  // x, y, cell, gap, columns, rows, span, cells
  };
  const Case cases[] = {
      {1000, 700, 4700000000, {0, 0, 4, 1, 200, 140, 167858, 28000}},  // the smallest cells, as many as fit
      {1000, 700, 28000, {0, 0, 4, 1, 200, 140, 1, 28000}},            // a byte a cell, exactly
      {1000, 700, 28001, {0, 7, 6, 1, 143, 98, 2, 14001}},             // two bytes a cell: larger cells, centred
      {1000, 700, 3, {150, 0, 349, 1, 2, 2, 1, 3}},                    // fewer bytes than cells
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const MapGrid g = FitGrid(c.width, c.height, c.bytes, 4, 1);
    EXPECT_TRUE(g == c.grid);
    EXPECT_EQ(g.CellOf(c.bytes - 1, c.bytes), g.cells - 1);
    EXPECT_EQ(g.CellOf(c.bytes, c.bytes), -1);
  }
  // Points: a gap belongs to the cell before it; nothing outside the cells in use.
  const MapGrid g = FitGrid(1000, 700, 4700000000, 4, 1), three = FitGrid(1000, 700, 3, 4, 1);
  const struct {
    const MapGrid& grid;
    int x, y;
    int64_t cell;
  } points[] = {{g, 4, 4, 0},     {g, 5, 0, 1},     {g, 0, 5, 200}, {g, 999, 699, 27999},
                {g, -1, 0, -1},   {g, 1000, 0, -1}, {three, three.CellLeft(1), three.CellTop(2), -1}};
  for (const auto& p : points) EXPECT_EQ(p.grid.CellAt(p.x, p.y), p.cell) << p.x << "," << p.y;
}

TEST(MapPicture, PerMilleIsExactAndRoundedDown) {
  EXPECT_EQ(PerMille(INT64_MAX - 1, INT64_MAX), 999);
  EXPECT_EQ(PerMille(INT64_MAX / 2, INT64_MAX), 499);
}

}  // namespace
}  // namespace sk
