#include "core/MapPicture.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/FileApi.h"
#include "core/Formats.h"

namespace sk {

CellKind KindOf(char status) {
  switch (status) {
    case kFinished: return CellKind::kRead;
    case kNonTried: return CellKind::kUntried;
    case kBadSector: return CellKind::kBad;
    default: return CellKind::kNarrow;  // '*' and '/'
  }
}

const char* KindName(CellKind kind) {
  switch (kind) {
    case CellKind::kRead: return "Odczytane";
    case CellKind::kBad: return "Nieczytelne";
    case CellKind::kNarrow: return "Do zawężenia";
    case CellKind::kUntried: return "Nie próbowano";
    default: return "";
  }
}

int MapGrid::CellLeft(int64_t index) const { return x + static_cast<int>(index % columns) * Pitch(); }
int MapGrid::CellTop(int64_t index) const { return y + static_cast<int>(index / columns) * Pitch(); }

int64_t MapGrid::CellAt(int px, int py) const {
  if (cells <= 0 || px < x || py < y) return -1;
  const int column = (px - x) / Pitch(), row = (py - y) / Pitch();
  if (column >= columns || row >= rows) return -1;
  const int64_t index = static_cast<int64_t>(row) * columns + column;
  return index < cells ? index : -1;
}

int64_t MapGrid::CellOf(int64_t pos, int64_t size) const {
  if (cells <= 0 || pos < 0 || pos >= size) return -1;
  return pos / span;
}

MapGrid FitGrid(int width, int height, int64_t bytes, int minCell, int gap) {
  MapGrid grid;
  grid.gap = gap;
  grid.cell = minCell;
  auto columnsFor = [&](int cell) { return (width + gap) / (cell + gap); };
  auto rowsFor = [&](int cell) { return (height + gap) / (cell + gap); };
  auto room = [&](int cell) { return static_cast<int64_t>(columnsFor(cell)) * rowsFor(cell); };
  const int64_t most = width >= minCell && height >= minCell ? room(minCell) : 0;
  if (bytes <= 0 || most <= 0) return grid;
  grid.span = bytes <= most ? 1 : (bytes - 1) / most + 1;
  grid.cells = (bytes - 1) / grid.span + 1;
  // The largest cells that still hold them all (the room shrinks as cells grow).
  const int largest = std::min(width, height);
  int cell = minCell;
  while (cell < largest && room(cell + 1) >= grid.cells) ++cell;
  grid.cell = cell;
  grid.columns = static_cast<int>(std::min<int64_t>(columnsFor(cell), grid.cells));
  grid.rows = static_cast<int>((grid.cells - 1) / grid.columns + 1);
  grid.x = (width - (grid.columns * grid.Pitch() - gap)) / 2;
  grid.y = (height - (grid.rows * grid.Pitch() - gap)) / 2;
  return grid;
}

int PerMille(int64_t part, int64_t whole) {
  if (whole <= 0) return 1000;
  if (part <= 0) return 0;
  if (part >= whole) return 1000;
  // Three decimal digits of part / whole by long division; the remainder is
  // below `whole`, so adding it to itself ten times never overflows.
  uint64_t rest = static_cast<uint64_t>(part);
  const uint64_t divisor = static_cast<uint64_t>(whole);
  int result = 0;
  for (int digit = 0; digit < 3; ++digit) {
    uint64_t next = 0;
    int d = 0;
    for (int i = 0; i < 10; ++i) {
      next += rest;
      if (next >= divisor) {
        next -= divisor;
        ++d;
      }
    }
    rest = next;
    result = result * 10 + d;
  }
  return result;
}

MapPicture::MapPicture(const RescueMap& map)
    : areas_(map.Areas()), size_(map.Size()), currentPos_(map.currentPos) {
  Count();
}

MapPicture::MapPicture(MapText map)
    : areas_(std::move(map.areas)), size_(areas_.empty() ? 0 : areas_.back().end()), currentPos_(map.currentPos) {
  Count();
}

void MapPicture::Count() {
  // A place ends at a read area; it counts when it held an unreadable byte.
  bool placeBad = false;
  for (const MapArea& a : areas_) {
    const CellKind kind = KindOf(a.status);
    bytes_[static_cast<int>(kind)] += a.size;
    if (kind == CellKind::kRead) {
      badPlaces_ += placeBad;
      placeBad = false;
    } else if (kind == CellKind::kBad) {
      placeBad = true;
    }
  }
  badPlaces_ += placeBad;
}

namespace {
// A total in the window: a size as the program writes sizes, but a zero as "0 B"
// (the program's size text leaves a zero's number out).
std::string Amount(int64_t bytes, const std::string& separator) {
  return bytes == 0 ? std::string("0 B") : FormatSize(bytes, separator);
}
}  // namespace

std::string MapPicture::ReadText(const std::string& separator) const {
  const int perMille = PerMille(Bytes(CellKind::kRead), size_);
  return "Odczytano " + Amount(Bytes(CellKind::kRead), separator) + " z " + Amount(size_, separator) + " (" +
         std::to_string(perMille / 10) + "," + std::to_string(perMille % 10) + " %)";
}

std::string MapPicture::BadText(const std::string& separator) const {
  if (Bytes(CellKind::kBad) == 0) return "Nieczytelne: brak";
  return "Nieczytelne: " + FormatSize(Bytes(CellKind::kBad), separator) + " w " +
         (badPlaces_ == 1 ? std::string("1 miejscu") : std::to_string(badPlaces_) + " miejscach");
}

std::string MapPicture::UntriedText(const std::string& separator) const {
  const int64_t untried = Bytes(CellKind::kUntried) + Bytes(CellKind::kNarrow);
  if (untried == 0) return "Nie próbowano: brak";
  return "Nie próbowano: " + FormatSize(untried, separator);
}

std::vector<CellKind> MapPicture::Colours(const MapGrid& grid) const {
  std::vector<CellKind> colours(static_cast<size_t>(std::max<int64_t>(grid.cells, 0)), CellKind::kNone);
  if (colours.empty()) return colours;
  const int64_t last = grid.cells - 1;
  for (const MapArea& a : areas_) {
    const CellKind kind = KindOf(a.status);
    const int64_t from = std::min(a.pos / grid.span, last), to = std::min((a.end() - 1) / grid.span, last);
    for (int64_t c = from; c <= to; ++c) colours[static_cast<size_t>(c)] = std::max(colours[static_cast<size_t>(c)], kind);
  }
  return colours;
}

std::string MapPicture::CellText(const MapGrid& grid, int64_t cell, const std::string& separator) const {
  if (cell < 0 || cell >= grid.cells) return {};
  const int64_t from = cell * grid.span, to = from + std::min(grid.span, size_ - from);
  int64_t bytes[5] = {};
  // The first area that ends after `from`, then those that start before `to`.
  auto it = std::upper_bound(areas_.begin(), areas_.end(), from,
                             [](int64_t pos, const MapArea& a) { return pos < a.end(); });
  for (; it != areas_.end() && it->pos < to; ++it)
    bytes[static_cast<int>(KindOf(it->status))] += std::min(to, it->end()) - std::max(from, it->pos);
  char range[64];
  std::snprintf(range, sizeof range, "0x%08" PRIX64 " – 0x%08" PRIX64 ":", static_cast<uint64_t>(from),
                static_cast<uint64_t>(to - 1));
  std::string text = range;
  const char* separatorOfKinds = " ";
  for (CellKind kind : {CellKind::kRead, CellKind::kBad, CellKind::kNarrow, CellKind::kUntried}) {
    const int64_t n = bytes[static_cast<int>(kind)];
    if (n == 0) continue;
    text += separatorOfKinds;
    text += std::string(KindName(kind)) + " " + FormatSize(n, separator);
    separatorOfKinds = ", ";
  }
  return text;
}

MapPicture ReadMapFile(IFileSystem& files, const std::string& path) {
  constexpr int64_t kLargestMap = 64LL << 20;
  if (files.FileSizeByName(path) > kLargestMap) throw MapFormatError("larger than any map");
  auto file = files.Open(path, OpenMode::ReadShared);
  std::string text;
  char chunk[65536];
  for (size_t got; (got = file->Read(chunk, sizeof chunk)) > 0;) text.append(chunk, got);
  file->Close();
  return MapPicture(ReadMapText(text));
}

}  // namespace sk
