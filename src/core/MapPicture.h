// The read map as a picture: the file's bytes in order, left to right and top
// to bottom, as a grid of square cells that each stand for an equal span of
// bytes and take the colour of the worst status inside them; the totals under
// it; the text of one cell. The map window shows it and saves it as an image.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/RescueMap.h"

namespace sk {

class IFileSystem;

// The colour of a cell, in order of precedence: a cell takes the highest
// kind of any byte in it. kNone: a cell beyond the file's bytes (not drawn).
enum class CellKind : uint8_t { kNone, kRead, kUntried, kNarrow, kBad };
// The kind of a map status: '+' read, '?' untried, '*' and '/' still to
// narrow, '-' unreadable.
CellKind KindOf(char status);
// The legend's name of a kind: "Odczytane", "Nie próbowano", "Do zawężenia",
// "Nieczytelne".
const char* KindName(CellKind kind);

// Where the cells lie in a drawing area (pixels): square cells of `cell`
// pixels with `gap` pixels between them, `columns` to a row, the first at
// (x, y). `cells` of them are in use, each standing for `span` bytes (the
// last for what is left).
struct MapGrid {
  int x = 0, y = 0;
  int cell = 0, gap = 0;
  int columns = 0, rows = 0;
  int64_t span = 0;
  int64_t cells = 0;

  bool operator==(const MapGrid&) const = default;
  int Pitch() const { return cell + gap; }
  int CellLeft(int64_t index) const;
  int CellTop(int64_t index) const;
  // The cell under a point of the drawing area (a gap belongs to the cell
  // before it); -1 when there is none.
  int64_t CellAt(int px, int py) const;
  // The cell that holds byte `pos` (-1 when none does).
  int64_t CellOf(int64_t pos, int64_t size) const;
};

// The grid for `bytes` in a `width` x `height` drawing area: as many cells of
// at least `minCell` pixels as fit (one byte a cell when there are fewer
// bytes), then cells as large as still hold them all, centred.
MapGrid FitGrid(int width, int height, int64_t bytes, int minCell, int gap);

// What the picture needs of a map, copied from it (the map itself may change
// or go): its areas, totals and read position.
class MapPicture {
 public:
  MapPicture() = default;
  explicit MapPicture(const RescueMap& map);
  explicit MapPicture(MapText map);

  int64_t Size() const { return size_; }
  int64_t CurrentPos() const { return currentPos_; }
  size_t AreaCount() const { return areas_.size(); }
  // Bytes of one kind.
  int64_t Bytes(CellKind kind) const { return bytes_[static_cast<int>(kind)]; }
  // The places of unreadable bytes, counted as the rescue's log counts
  // unread places: a run of bytes not read (of any status but '+') is one
  // place; the places that hold an unreadable byte count here.
  size_t BadPlaces() const { return badPlaces_; }

  // The three totals under the legend; sizes by FormatSize with
  // `separator` (a zero as "0 B"; none unreadable or untried: "brak"), the
  // percentage with one decimal after a comma, rounded down.
  std::string ReadText(const std::string& separator = ",") const;
  std::string BadText(const std::string& separator = ",") const;
  std::string UntriedText(const std::string& separator = ",") const;

  // The colour of every cell of `grid` in use (grid.cells of them), in one
  // walk over the areas.
  std::vector<CellKind> Colours(const MapGrid& grid) const;
  // A cell's byte range as the map writes positions, first to last byte,
  // and the bytes of each kind inside it, e.g.
  // "0x00010000 – 0x0001FFFF: Odczytane 60 kB, Nieczytelne 4 kB".
  std::string CellText(const MapGrid& grid, int64_t cell, const std::string& separator = ",") const;

 private:
  void Count();
  std::vector<MapArea> areas_;
  int64_t size_ = 0;
  int64_t currentPos_ = 0;
  int64_t bytes_[5] = {};
  size_t badPlaces_ = 0;
};

// Reads a map file to be shown: FileError when it cannot be read,
// MapFormatError when it is not a map (a file larger than any map, over
// 64 MiB, is not read at all).
MapPicture ReadMapFile(IFileSystem& files, const std::string& path);

// Per mille of `part` in `whole`, rounded down (1000 for an empty whole),
// exact for any 64-bit sizes.
int PerMille(int64_t part, int64_t whole);

}  // namespace sk
