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

RescueSession::RescueSession(IRescueWindow& window, MapKeeper& keeper, IFileSystem& sourceFiles, std::string sourcePath)
    : window_(window), keeper_(keeper), sourceFiles_(sourceFiles), sourcePath_(std::move(sourcePath)) {}

RescueResult RescueSession::Run(std::unique_ptr<IFile>& source, IFile& destination, RescueMap& map, IClock& clock,
                                Pacer& pacer, RescueOptions options) {
  map_ = &map;
  // A refresh still waiting for a call when the rescue ends is not made:
  // the end shows the window anyway.
  struct DropRefresh {
    IFileSystem& files;
    ~DropRefresh() { files.Alongside({}); }
  } dropRefresh{sourceFiles_};
  window_.ShowRescueMap(keeper_.Path(), map, true);
  RescueResult total;
  try {
    for (;;) {
      RescueEngine engine(*source, destination, map, clock, pacer, *this, options);
      RescueResult part;
      bool gone = false;
      try {
        part = engine.Run();
      } catch (const MediumGone&) {
        part = engine.Result();
        gone = true;
      }
      total.reads += part.reads;
      total.failedReads += part.failedReads;
      total.stopped = part.stopped;
      total.narrowingLeft = part.narrowingLeft;
      total.partialReads = options.partialReads = engine.Partial();
      if (!gone) break;
      keeper_.SaveOrCut(&destination, map);
      options.mapOnDisk = true;
      window_.MediumGone();
      if (!AwaitMedium(source)) {
        // As after a stop: the destination at its full length.
        if (destination.Size() < map.Size()) destination.SetSize(map.Size());
        total.stopped = total.cancelled = true;
        break;
      }
    }
  } catch (...) {
    window_.ShowRescueMap(keeper_.Path(), map, false);
    throw;
  }
  window_.ShowRescueMap(keeper_.Path(), map, false);
  return total;
}

bool RescueSession::AwaitMedium(std::unique_ptr<IFile>& source) {
  auto closeQuietly = [](std::unique_ptr<IFile>& file) {
    try {
      if (file) file->Close();
    } catch (const FileError&) {
    }
    file.reset();
  };
  for (;;) {
    if (!window_.AskMediumRetry()) return false;
    std::unique_ptr<IFile> fresh;
    try {
      fresh = sourceFiles_.Open(sourcePath_, OpenMode::ReadShared);
    } catch (const FileError&) {
      continue;
    }
    if (!sourceFiles_.Present(sourcePath_)) {
      closeQuietly(fresh);
      continue;
    }
    closeQuietly(source);
    source = std::move(fresh);
    return true;
  }
}

void RescueSession::Advanced(const RescueMap& map) {
  map_ = &map;
  window_.Progress(map);
}

void RescueSession::Refresh() {
  // While the next block's read waits (a failing read takes long): the
  // window then shows the map and the status as they are at that moment.
  sourceFiles_.Alongside([this] {
    if (map_) window_.ShowRescueMap(keeper_.Path(), *map_, true);
    window_.Show();
  });
}

}  // namespace sk
