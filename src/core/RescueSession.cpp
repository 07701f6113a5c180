#include "core/RescueSession.h"

#include <algorithm>
#include <exception>
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

void EngineOrder::Read(IFile& source, IFile& destination, RescueMap& map, RescueSession& session,
                       RescueResult& total) {
  RescueEngine engine(source, destination, map, session.RunClock(), session.RunPacer(), session, options_);
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
  total.partialReads = options_.partialReads = engine.Partial();
  if (!gone) return;
  // The next round goes on from the map on the disk, and tries no sector
  // found bad earlier a third time.
  options_.mapOnDisk = true;
  options_.earlierBad = engine.EarlierBadLeft();
  throw MediumGone();
}

RescueResult RescueSession::Run(std::unique_ptr<IFile>& source, IFile& destination, RescueMap& map, IClock& clock,
                                Pacer& pacer, RescueOptions options) {
  EngineOrder order(std::move(options));
  return Run(order, source, destination, map, clock, pacer);
}

void RescueSession::DropClaimsBeyond(IFile& destination, RescueMap& map) {
  const int64_t held = destination.Size();
  if (held >= map.Size()) return;
  bool claimedBeyond = false;
  for (auto a = map.NextArea(held, kFinished); a; a = map.NextArea(a->end(), kFinished)) {
    const int64_t from = std::max(a->pos, held);
    map.Set(from, a->end() - from, kNonTried);
    claimedBeyond = true;
  }
  // Kept as it was, a failing save later would leave the map naming as read
  // the zeros the rescue puts there.
  if (claimedBeyond) keeper_.Save(map);
}

RescueResult RescueSession::Run(ReadingOrder& order, std::unique_ptr<IFile>& source, IFile& destination,
                                RescueMap& map, IClock& clock, Pacer& pacer) {
  map_ = &map;
  destination_ = &destination;
  clock_ = &clock;
  pacer_ = &pacer;
  lastSaveMs_ = clock.Milliseconds();
  changed_ = stopAsked_ = false;
  saveFailure_.clear();
  // A refresh still waiting for a call when the rescue ends is not made:
  // the end shows the window anyway.
  struct DropRefresh {
    IFileSystem& files;
    ~DropRefresh() { files.Alongside({}); }
  } dropRefresh{sourceFiles_};
  RescueResult total;
  // Not going on (Anuluj, or a stop before the question): as after a stop,
  // the destination at its full length.
  auto end = [&](MediumAnswer answer) {
    if (destination.Size() < map.Size()) destination.SetSize(map.Size());
    total.stopped = true;
    total.cancelled = answer == MediumAnswer::kCancel;
  };
  try {
    if (keeper_.OnDisk()) DropClaimsBeyond(destination, map);
    window_.ShowRescueMap(keeper_.Path(), map, true);
    // A source opened again (round two of a run) may be another disc's file.
    const bool same = sourceChecked_ || SameSource(*source, map);
    sourceChecked_ = false;
    const MediumAnswer first = same ? MediumAnswer::kRetry : AwaitMedium(source, map, MediumQuestion::kOtherDisc);
    if (first != MediumAnswer::kRetry) end(first);
    for (bool more = first == MediumAnswer::kRetry; more;) {
      try {
        order.Read(*source, destination, map, *this, total);
        break;
      } catch (const MediumGone&) {
      }
      keeper_.SaveOrCut(&destination, map);
      window_.MediumGone();
      const MediumAnswer answer = AwaitMedium(source, map, MediumQuestion::kGone);
      if (answer != MediumAnswer::kRetry) {
        end(answer);
        more = false;
      }
    }
  } catch (const std::exception&) {
    // The map names exactly what the destination holds: saved where there
    // is room (a map saved earlier stays true: bytes are only ever added).
    try {
      keeper_.SaveOrCut(&destination, map);
    } catch (const std::exception& e) {
      saveFailure_ = e.what();
    }
    window_.ShowRescueMap(keeper_.Path(), map, false);
    throw;
  }
  window_.ShowRescueMap(keeper_.Path(), map, false);
  return total;
}

void RescueSession::SaveNow(const RescueMap& map) {
  // What the map calls read must be on the disk before the map says so.
  if (destination_) destination_->Flush();
  SaveMap(map);
}

void RescueSession::SaveMap(const RescueMap& map) {
  keeper_.Save(map);
  changed_ = false;
  if (clock_) lastSaveMs_ = clock_->Milliseconds();
}

bool RescueSession::StopRequested() {
  if (window_.StopRequested()) return stopAsked_ = true;
  return endPass_ && endPass_();
}

MediumAnswer AwaitMedium(IFileSystem& files, const std::string& path, const RescueMap& map, MediumQuestion question,
                         const std::function<bool()>& stopRequested,
                         const std::function<bool(MediumQuestion)>& ask, std::unique_ptr<IFile>& source) {
  auto closeQuietly = [](std::unique_ptr<IFile>& file) {
    try {
      if (file) file->Close();
    } catch (const FileError&) {
    }
    file.reset();
  };
  for (;;) {
    if (stopRequested()) return MediumAnswer::kStop;
    if (!ask(question)) return MediumAnswer::kCancel;
    std::unique_ptr<IFile> fresh;
    question = MediumQuestion::kGone;
    try {
      fresh = files.Open(path, OpenMode::ReadShared);
    } catch (const FileError&) {
      continue;
    }
    if (!files.Present(path)) {
      closeQuietly(fresh);
      continue;
    }
    // Never a byte of another disc: its file of that name is not read on.
    bool same = false;
    try {
      same = SameSource(*fresh, map);
    } catch (const FileError&) {
    }
    if (!same) {
      closeQuietly(fresh);
      if (files.Present(path)) question = MediumQuestion::kOtherDisc;
      continue;
    }
    closeQuietly(source);
    source = std::move(fresh);
    return MediumAnswer::kRetry;
  }
}

MediumAnswer RescueSession::AwaitMedium(std::unique_ptr<IFile>& source, const RescueMap& map,
                                        MediumQuestion question) {
  return sk::AwaitMedium(
      sourceFiles_, sourcePath_, map, question, [this] { return window_.StopRequested(); },
      [this](MediumQuestion q) { return window_.AskMediumRetry(q); }, source);
}

void RescueSession::Advanced(const RescueMap& map) {
  map_ = &map;
  changed_ = true;
  window_.Progress(map);
}

void RescueSession::Refresh() {
  // While the next block's read waits (a failing read takes long): the
  // window then shows the map and the status as they are at that moment.
  sourceFiles_.Alongside([this] {
    if (map_) window_.ShowRescueMap(keeper_.Path(), *map_, true);
    window_.Show();
  });
  if (pacedSaveMs_ <= 0 || !changed_ || !map_ || !clock_ || !keeper_.OnDisk()) return;
  if (clock_->Milliseconds() - lastSaveMs_ >= pacedSaveMs_) SaveNow(*map_);
}

}  // namespace sk
