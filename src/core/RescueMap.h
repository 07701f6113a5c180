// The read map of a rescue: which areas of a file have been read, which failed
// and which are still to be tried. It is the only state of a rescue, so a
// rescue that was stopped (or killed) goes on from its map. The text form is
// the mapfile of GNU ddrescue, so that its tools and viewers read our maps.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace sk {

// The status of an area, as the mapfile writes it.
enum MapStatus : char {
  kNonTried = '?',    // not read yet
  kNonTrimmed = '*',  // a large read failed here; its edges not yet narrowed
  kNonScraped = '/',  // inside a failed area; not yet read sector by sector
  kBadSector = '-',   // read at the finest size and failed
  kFinished = '+',    // read and written
};

bool IsMapStatus(char c);

struct MapArea {
  int64_t pos = 0;
  int64_t size = 0;
  char status = kNonTried;
  int64_t end() const { return pos + size; }
  bool operator==(const MapArea&) const = default;
};

// Which source a map was made from: its size, and a block of it that read
// (where, how long, and a hash of its bytes). Written in the map's comment
// lines, so that other tools read the map as before.
struct SourceMark {
  int64_t size = 0;
  int64_t pos = 0;
  int64_t length = 0;
  uint64_t hash = 0;
  bool operator==(const SourceMark&) const = default;
};

// A 64-bit hash of bytes (FNV-1a).
uint64_t BlockHash(const void* data, size_t size);

// A map text that cannot be read; what() says where and why (for the log of
// whoever loads it, not a user text).
// What a map may ask for: a source block up to this long (a rescue names
// 4 KiB) and up to this many areas (after equal neighbours are merged); a
// map asking for more is refused as not a map.
inline constexpr int64_t kLongestSourceBlock = 64 * 1024;
inline constexpr size_t kMostMapAreas = size_t{1} << 21;

class MapFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A mapfile text as read (RescueMap::Parse reads it so): the status line's
// values and the areas in order from 0, without gaps, none empty, neighbours
// of equal status merged. For readers that need the areas, not a map to mark.
struct MapText {
  int64_t currentPos = 0;
  char currentStatus = kNonTried;
  int currentPass = 1;
  std::optional<SourceMark> source;
  std::vector<MapArea> areas;
  int64_t Size() const { return areas.empty() ? 0 : areas.back().end(); }
};
// Throws MapFormatError, as RescueMap::Parse does.
MapText ReadMapText(const std::string& text);

// Areas cover [0, Size()) without gaps or overlaps, sorted, and neighbours of
// equal status are always merged. Set() costs O(log n) (plus the areas it
// swallows); the totals per status are kept as it goes.
class RescueMap {
 public:
  // A map of `size` bytes, all of one status (not tried at first).
  explicit RescueMap(int64_t size = 0, char status = kNonTried);

  int64_t Size() const { return size_; }
  // Marks [pos, pos + size) (clipped to the map) with `status`.
  void Set(int64_t pos, int64_t size, char status);
  // The area holding `pos` (pos inside [0, Size())).
  MapArea AreaAt(int64_t pos) const;
  char StatusAt(int64_t pos) const { return AreaAt(pos).status; }
  // The first area of `status` that ends after `from` (clipped so that it
  // starts at `from` or later); none when there is no such area.
  std::optional<MapArea> NextArea(int64_t from, char status) const;
  // The area holding byte pos - 1 (none at 0), and the one holding byte
  // `pos` (none at or after the end): the neighbours of a boundary at `pos`.
  std::optional<MapArea> AreaBefore(int64_t pos) const;
  std::optional<MapArea> AreaFrom(int64_t pos) const;

  int64_t Total(char status) const;    // bytes of that status
  size_t Count(char status) const;     // areas of that status
  size_t AreaCount() const { return areas_.size(); }
  std::vector<MapArea> Areas() const;
  // Bytes not finished, and the number of separate places they make up
  // (neighbouring unfinished areas of different status count as one place).
  int64_t Unfinished() const { return size_ - Total(kFinished); }
  size_t UnfinishedPlaces() const;
  // Length of the finished area that starts at 0 (0 when there is none).
  int64_t FinishedPrefix() const;

  // The line after the comments: where the rescue is, in which phase, which pass.
  int64_t currentPos = 0;
  char currentStatus = kNonTried;
  int currentPass = 1;

  // The source the map was made from, when the map says (ours do).
  std::optional<SourceMark> source;

  // The mapfile text: `comments` lines (each written after "# "), the
  // source's line ("# Source: size 0x… block 0x…+0x… hash 0x…") when it is
  // known, then the status line and one line per area, in hexadecimal.
  std::string ToText(const std::vector<std::string>& comments = {}) const;
  // Reads a mapfile text (ddrescue's own or ours). Numbers may be decimal,
  // hexadecimal (0x) or octal (leading 0), as C++ writes them. The areas must
  // start at 0 and follow each other without gaps or overlaps; the map's
  // size is where the last one ends. A source line that does not read is
  // taken as any other comment. Throws MapFormatError.
  static RescueMap Parse(const std::string& text);

  bool operator==(const RescueMap& other) const;

 private:
  struct Run {
    int64_t size;
    char status;
  };
  static int Index(char status);
  void Add(int64_t pos, int64_t size, char status);
  void Remove(std::map<int64_t, Run>::iterator it);
  std::map<int64_t, Run>::iterator Split(int64_t pos);

  int64_t size_ = 0;
  std::map<int64_t, Run> areas_;  // start -> (size, status)
  std::set<int64_t> starts_[5];   // the starts of the areas of each status
  int64_t totals_[5] = {};
};

}  // namespace sk
