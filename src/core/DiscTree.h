// A disc's file system as far as its sectors could be read: the folders and
// files of an ISO 9660 (primary, Joliet, Rock Ridge) or UDF disc, each file
// with the places of its data on the disc, and the file system's own
// sectors. The readers get the sectors through ISectorSource, which says
// when a sector cannot be had (unreadable, or not read yet): such a sector is
// never taken as zeros; what it held is listed as unknown instead.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/DiscLayout.h"

namespace sk {

inline constexpr int64_t kDiscSectorSize = 2048;

// The sectors of a disc (or of its image) as the readers get them.
class ISectorSource {
 public:
  virtual ~ISectorSource() = default;
  // The disc's length in sectors.
  virtual int64_t SectorCount() = 0;
  // Fills `out` (kDiscSectorSize bytes) with sector `sector`; false when it
  // cannot be had now (unreadable, not read yet, or past the end). Never
  // throws for such a sector.
  virtual bool ReadSector(int64_t sector, unsigned char* out) = 0;
};

// Where a part of a file's data lies: `size` bytes from byte `pos` of the
// disc. Three special places: bytes recorded as zeros by the file system (not
// on the disc at all), bytes the file system puts outside the disc (they
// can never be read), and bytes whose place is not known because the part of
// the file's allocation that names it could not be read (an allocation
// extent descriptor, a continuation area, a VAT or sparing table entry on a
// sector that cannot be had): they are the file's, somewhere on the disc, and
// count as not read (a failed read lies behind them).
struct DiscExtent {
  static constexpr int64_t kZeros = -1;
  static constexpr int64_t kOutside = -2;
  static constexpr int64_t kUnknown = -3;
  int64_t pos = 0;
  int64_t size = 0;
  bool operator==(const DiscExtent&) const = default;
};

struct DiscEntry {
  // From the disc's root, each name after a backslash: "\Dokumenty\list.doc".
  // Names are UTF-8 and usable as Windows file names: control characters and
  // <>:"/\|?* are replaced by '_', trailing dots and spaces dropped.
  std::string path;
  // A folder whose content could not be read from any of the file system's
  // trees: listed as one entry, "Nieznana zawartość (uszkodzone sektory)".
  // Its path is the folder's own.
  bool unknown = false;
  int64_t size = 0;                 // the file's length in bytes (0 for unknown)
  std::vector<DiscExtent> extents;  // the file's data in file order; sizes add up to `size`
};

enum class DiscFormat { kNone, kIso9660, kUdf };

struct DiscTree {
  DiscFormat format = DiscFormat::kNone;  // kNone: "Nie rozpoznano systemu plików"
  std::string label;                      // the volume label (may be empty)
  // Files and unknown folders, sorted by path (compared as Windows compares
  // names: case-insensitively). Empty folders are not listed.
  std::vector<DiscEntry> entries;
  // The file system's own sectors that were read or asked for (descriptors,
  // path tables, directories, file entries), in bytes, sorted and merged.
  std::vector<DiscExtent> system;
};

// Thrown by ReadDiscTree when its `stop` answers true: the listing ended
// there and nothing of it is kept (the caller lists again later).
struct DiscListingStopped {};

// Reads the file system of `disc`: UDF where it is found (a DVD with UDF and
// ISO 9660 side by side is read as UDF, the ISO 9660 trees filling in what
// UDF cannot give), else ISO 9660 (Joliet names over primary ones, Rock Ridge
// names where present). Where a tree's sector cannot be had the others are
// used (Joliet and primary trees, path tables, UDF's reserve sequence and
// metadata mirror). Hostile input (loops, extents past the end, lengths that
// overflow, more than 32 levels) is never followed; it never throws for the
// disc's content.
DiscTree ReadDiscTree(ISectorSource& disc);

// The same with the disc's layout (from the drive, or FindDiscLayout). An
// empty layout reads exactly as above. With sessions, the newest session
// that holds data (and a file system: else the one before it) is the disc:
// its volume descriptors or anchors (at its
// first sector + 16 and + 256, and 256 and 1 sector before the end of its
// last data track) give the list, the files it names in earlier sessions
// read where they lie. The earlier data sessions are read too: a file one of
// them names whose data the newest session no longer names (deleted, or
// replaced by a later version) is listed as
// "\Poprzednie sesje\Sesja N\<its path>" (N the session's number, the
// newest session that names that version), an earlier session's folder that
// cannot be read likewise. DiscTree::system holds every session's sectors.
// `stop` (may be empty) is asked before each sector the readers ask for;
// when it answers true, DiscListingStopped is thrown.
DiscTree ReadDiscTree(ISectorSource& disc, const DiscLayout& layout, const std::function<bool()>& stop = {});

// The folder under which files only earlier sessions hold are listed.
inline constexpr const char* kEarlierSessionsFolder = "\\Poprzednie sesje";

// The order of DiscTree::entries: paths compared name by name, as Windows
// compares names (case-insensitively); negative, zero or positive.
int CompareDiscPaths(const std::string& a, const std::string& b);

}  // namespace sk
