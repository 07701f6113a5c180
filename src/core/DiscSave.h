// "Zapisz pliki": the disc's files written out of its image into a folder of
// that disc's own under the destination folder, never over a file of another
// disc, never over a file the user changed since, and over a file of an
// earlier save of the same disc only so that no byte it held is lost.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/DiscImage.h"
#include "core/EventLog.h"
#include "core/FileApi.h"
#include "core/FileFinder.h"

namespace sk {

// The record a save keeps in the disc's folder: which disc the folder is
// (the image map's source line: size, place and hash of the first block
// read) and each file written there as it was left (size and time of its
// last write), so that a later save tells its own files from the user's.
inline constexpr const char* kSaveRecordName = "Sektorian - zapisane pliki.txt";

// The disc's identity as the record names it: from the image map's source
// line, "<size>" alone when no block has been read yet.
std::string DiscIdentity(const RescueMap& imageMap);

// Where a save writes: files, folder listings (one listing of each folder a
// save writes into, then a set of taken names), and making folders.
struct SaveSite {
  IFileSystem& files;
  IDirectory& dirs;
  // Makes the folders of a file's path where they are missing. Throws FileError.
  std::function<void(const std::string& path)> makeFoldersFor;
  // A name as the file system compares names (default: ASCII lower case).
  std::function<std::string(const std::string&)> nameKey;
};

struct SaveReport {
  int chosen = 0;      // files to write
  bool stopped = false;  // pump asked to stop
  int complete = 0;    // written with every byte
  std::string folder;  // the disc's folder the save went into
};

// Writes the entries `chosen` (indexes into tree.entries; folders and unknown
// entries skipped) out of `image` into the disc's folder under `destination`:
// "<label>" ("Płyta" without one), or "<label> (n)" with the first n from 2
// whose folder is missing or holds this disc's record. In that folder:
// - a path free there: the file is written (a file with bytes not read gets
//   zero holes and its own map);
// - the file an earlier save of this disc left there, unchanged since (size
//   and time as the record says): bytes read now and missing from it are
//   added in place, the bytes it holds are kept (its map, or none: whole,
//   says which), and its map says what the two together hold;
// - anything else there (the user's files, a file changed since, one of
//   another disc): never touched; the file goes under "name (n).ext".
// `log` gets the entries of the event log; `pump` runs after every file
// and says whether to stop after the file in hand (true). The record is
// written at the end (also after a stop).
SaveReport SaveDiscFiles(const DiscTree& tree, const std::vector<size_t>& chosen, IFile& image,
                         const RescueMap& imageMap, const SaveSite& site, const std::string& destination,
                         const std::string& decimalSeparator,
                         const std::function<void(const std::string&, EventKind)>& log,
                         const std::function<bool()>& pump);

}  // namespace sk
