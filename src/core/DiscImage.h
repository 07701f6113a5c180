// The image of a whole disc: the drive read as a device, sector by sector
// where it must, into an image file of the disc's full length, with a read
// map beside it ("<image>.map", the mapfile a rescue keeps, its source line
// naming the disc). The run reads the file system's own sectors first and
// lists the files as soon as it has them, then the data of the files the user
// ticked, then the rest of the disc, all through the rescue engine. What the
// map says of each file's bytes tells which files the damage hit; files are
// written out of the image with a read map of their own.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/DiscTree.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"

namespace sk {

// ---- what the damage hit ----

enum class FileCondition { kWhole, kDamaged, kUnread };
// "Cały", "Uszkodzony", "Nieodczytany".
const char* ConditionName(FileCondition condition);

struct EntryState {
  FileCondition condition = FileCondition::kWhole;
  int64_t unreadable = 0;  // bytes the map names unreadable (or that lie outside the disc)
  int64_t notRead = 0;     // bytes not tried yet
};
// A listed entry's state from the image's map. An unknown folder is
// "Uszkodzony".
EntryState StateOf(const DiscEntry& entry, const RescueMap& map);

// The list as the user saves it: UTF-8, tab-separated, CRLF line ends, the
// header "Ścieżka\tRozmiar\tNieczytelne\tNie odczytano\tStan" and one line per
// entry (sizes as plain numbers of bytes).
std::string FileListText(const DiscTree& tree, const RescueMap& map);

// Which entries own the disc's bytes: for the map window's chosen cell.
class DiscOwners {
 public:
  explicit DiscOwners(const DiscTree& tree);
  // The entries whose data lie in [pos, end) by name (the last part of their
  // path), at most three, then "i N innych"; "system plików" where the file
  // system's own sectors lie there. Empty when nothing does.
  std::string Describe(int64_t pos, int64_t end) const;
};

// ---- the sectors as the file system readers get them ----

// The disc's sectors as far as the image has them: a sector the map names
// read comes from the image; any other cannot be had. With a device, a
// sector not tried yet is read from it at once (one sector a read), written
// into the image and marked in the map; one that fails is marked unreadable.
class ImageSectors : public ISectorSource { /* see DiscImage.cpp */ };

// ---- the run ----

// The window of an image run.
class IImageView : public IRescueView {
 public:
  // The file system has been read: the files can be listed (called once a
  // run, before any file data is read).
  virtual void Listed(const DiscTree& tree) = 0;
  // The disc's bytes of the ticked files and folders, sorted and merged
  // (empty: none ticked). Asked when the run begins and after each block;
  // a new answer changes the reading order at once.
  virtual std::vector<DiscExtent> Chosen() = 0;
};

struct ImageRunOptions {
  size_t largeBlock = 64 * 1024;
  int saveIntervalMs = 5000;
  // The map existed when the run began (a run going on from it): what the
  // map lacks is read, '?', '*' and '/' first, bad sectors last.
  bool continuing = false;
};

// The map's refusal when it was made from another disc (caption "Obraz płyty").
inline constexpr const char* kImageMismatchText = "Mapa obrazu nie pasuje do płyty w napędzie.";

}  // namespace sk
