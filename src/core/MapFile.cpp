#include "core/MapFile.h"

#include <new>

namespace sk {

std::string MapPathFor(const std::string& destination) { return destination + ".map"; }

void SaveMapFile(IFileSystem& files, const std::string& path, const RescueMap& map) {
  files.ReplaceContent(path, map.ToText({"Mapfile. Created by Sektorian 1.1.0"}));
}

namespace {
// Far larger than any map of a disc's file: not read.
constexpr int64_t kLargestMap = 64LL << 20;
}  // namespace

RescueMap LoadMapFile(IFileSystem& files, const std::string& path) {
  auto file = files.Open(path, OpenMode::ReadShared);
  std::string text;
  bool tooLarge = file->Size() > kLargestMap;
  try {
    char chunk[65536];
    for (size_t got = 1; !tooLarge && got > 0;) {
      got = file->Read(chunk, sizeof chunk);
      text.append(chunk, got);
    }
  } catch (const std::bad_alloc&) {
    tooLarge = true;
  }
  file->Close();
  // What a map asks for that does not fit in memory: it is no map of ours.
  if (tooLarge) throw MapFormatError("map file too large");
  try {
    return RescueMap::Parse(text);
  } catch (const std::bad_alloc&) {
    throw MapFormatError("map too large");
  }
}

MapSlot InspectMapPath(IFileSystem& files, const std::string& path) {
  if (files.FileSizeByName(path) > kLargestMap) return MapSlot::kForeign;
  try {
    LoadMapFile(files, path);
    return MapSlot::kMap;
  } catch (const FileError& e) {
    return e.code() == 2 || e.code() == 3 ? MapSlot::kFree : MapSlot::kForeign;
  } catch (const MapFormatError&) {
    return MapSlot::kForeign;
  }
}

std::optional<RescueMap> LoadEarlierMap(IFileSystem& files, const std::string& path) {
  // Read once: what InspectMapPath tells, with the map itself.
  if (files.FileSizeByName(path) > kLargestMap) throw ForeignMapFile(path);
  try {
    return LoadMapFile(files, path);
  } catch (const ForeignMapFile&) {
    throw;
  } catch (const FileError& e) {
    if (e.code() == 2 || e.code() == 3) return std::nullopt;
    throw ForeignMapFile(path);
  } catch (const MapFormatError&) {
    throw ForeignMapFile(path);
  }
}

}  // namespace sk
