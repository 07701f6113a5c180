// Where a read map is kept on the disk: its path beside the destination, and
// reading and writing its text form whole.
#pragma once
#include <optional>
#include <string>

#include "core/FileApi.h"
#include "core/RescueMap.h"

namespace sk {

// The map of a destination: its path with ".map" added.
std::string MapPathFor(const std::string& destination);

// Writes the map in its text form so that the file on disk is always a whole
// map (IFileSystem::ReplaceContent). Throws FileError.
void SaveMapFile(IFileSystem& files, const std::string& path, const RescueMap& map);

// Reads a map file. Throws FileError when it cannot be read (e.g. "File not
// found") and MapFormatError when it is not a map.
RescueMap LoadMapFile(IFileSystem& files, const std::string& path);

// What lies where a destination's map goes: nothing, a map (left by an
// earlier rescue), or some other file (a file of the user's that happens to
// have that name, or one that cannot be read), which a rescue must neither
// delete nor replace.
enum class MapSlot { kFree, kMap, kForeign };
MapSlot InspectMapPath(IFileSystem& files, const std::string& path);

// The map an earlier rescue left at `path`: none when nothing is there.
// Throws ForeignMapFile when a file there is not a map (or cannot be read,
// or is far too large for one): a file of the user's, left alone.
class ForeignMapFile : public FileError {
 public:
  explicit ForeignMapFile(const std::string& path) : FileError("Plik " + path + " nie jest mapą odczytu.") {}
};
std::optional<RescueMap> LoadEarlierMap(IFileSystem& files, const std::string& path);

}  // namespace sk
