// Fuzz target: reading a read map (the mapfile text of a rescue, ours or GNU
// ddrescue's) from any bytes. A text either fails with MapFormatError or gives
// a map whose areas cover [0, Size()) in order, merged, with totals that add
// up; written out and read back, it is the same map; the resume's edits
// (marking a range) keep all of that; and the map window's picture of it
// (cells for a drawing area from the first bytes, totals, a cell's text)
// counts every byte once.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/MapPicture.h"
#include "core/RescueMap.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckWhole(const sk::RescueMap& map) {
  int64_t at = 0, totals = 0;
  char previous = 0;
  for (const sk::MapArea& a : map.Areas()) {
    Check(a.pos == at && a.size > 0 && sk::IsMapStatus(a.status) && a.status != previous);
    at = a.end();
    previous = a.status;
  }
  Check(at == map.Size());
  for (char s : {'?', '*', '/', '-', '+'}) totals += map.Total(s);
  Check(totals == map.Size());
  Check(map.Unfinished() == map.Size() - map.Total('+'));
}

void CheckPicture(const sk::RescueMap& map, const uint8_t* data, size_t size) {
  const sk::MapPicture picture(map);
  int64_t bytes = 0;
  for (auto kind : {sk::CellKind::kRead, sk::CellKind::kUntried, sk::CellKind::kNarrow, sk::CellKind::kBad})
    bytes += picture.Bytes(kind);
  Check(bytes == map.Size() && picture.BadPlaces() <= map.Count('-'));
  Check(!picture.ReadText().empty() && !picture.BadText().empty() && !picture.UntriedText().empty());
  const int width = size > 0 ? data[0] * 4 : 40, height = size > 1 ? data[1] * 4 : 40;
  const sk::MapGrid grid = sk::FitGrid(width, height, map.Size(), 4, 1);
  const auto colours = picture.Colours(grid);
  Check(static_cast<int64_t>(colours.size()) == grid.cells);
  for (auto c : colours) Check(c != sk::CellKind::kNone);
  if (grid.cells > 0) Check((grid.cells - 1) * grid.span < map.Size() && !picture.CellText(grid, grid.cells - 1).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sk::RescueMap map;
  try {
    map = sk::RescueMap::Parse(text);
  } catch (const sk::MapFormatError&) {
    return 0;
  }
  CheckWhole(map);
  CheckPicture(map, data, size);
  const sk::RescueMap again = sk::RescueMap::Parse(map.ToText({"fuzz"}));
  Check(again == map);
  // A range marked as a resume does, from the first bytes' values.
  if (map.Size() > 0 && size >= 2) {
    const int64_t pos = map.Size() / 256 * data[0];
    const int64_t len = (map.Size() - pos) / 255 * data[1];
    map.Set(pos, len, "?*/-+"[data[0] % 5]);
    CheckWhole(map);
    Check(sk::RescueMap::Parse(map.ToText()) == map);
  }
  return 0;
}
