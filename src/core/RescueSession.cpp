#include "core/RescueSession.h"

#include <utility>

namespace sk {

MapKeeper::MapKeeper(IFileSystem& files, std::string path, bool onDisk)
    : files_(files), path_(std::move(path)), onDisk_(onDisk) {}

void MapKeeper::Save(const RescueMap& map) {
  if (!onDisk_ && InspectMapPath(files_, path_) == MapSlot::kForeign) throw FileError("File access denied", 5);
  SaveMapFile(files_, path_, map);
  onDisk_ = true;
}

void MapKeeper::SaveOrCut(IFile* destination, const RescueMap& map) {
  try {
    if (destination) destination->Flush();
    Save(map);
  } catch (const FileError&) {
    if (!onDisk_ && destination) {
      try {
        destination->SetSize(map.FinishedPrefix());
      } catch (const FileError&) {
      }
    }
    throw;
  }
}

bool MapKeeper::Finish(IFile* destination, const RescueMap& map) {
  if (map.Unfinished() > 0) {
    SaveOrCut(destination, map);
    return true;
  }
  if (onDisk_) {
    // The last bytes on the disk before the map that still names them as
    // missing goes; a failing flush keeps the map (it names less).
    if (destination) destination->Flush();
    files_.RemoveFile(path_);
  }
  return false;
}

RescueResult RescueSession::Run(IFile& source, IFile& destination, RescueMap& map, IClock& clock, Pacer& pacer,
                                const RescueOptions& options) {
  map_ = &map;
  window_.ShowRescueMap(keeper_.Path(), map, true);
  RescueResult result;
  try {
    result = RescueEngine(source, destination, map, clock, pacer, *this, options).Run();
  } catch (...) {
    window_.ShowRescueMap(keeper_.Path(), map, false);
    throw;
  }
  window_.ShowRescueMap(keeper_.Path(), map, false);
  return result;
}

void RescueSession::Advanced(const RescueMap& map) {
  map_ = &map;
  window_.Progress(map);
}

void RescueSession::Refresh() {
  if (map_) window_.ShowRescueMap(keeper_.Path(), *map_, true);
  window_.Show();
}

}  // namespace sk
