// The image run's order of reading: the file system's sectors, then the
// ticked files, then the rest of the disc, through the rescue session.
#include <algorithm>
#include <utility>

#include "core/DiscImage.h"
#include "core/ImageExtents.h"

namespace sk {
namespace {

using image::EndOf;
using image::OnDisc;

// Whether the map has bytes not tried yet ('?', '*', '/') in the extents.
bool HasUntried(const RescueMap& map, const std::vector<DiscExtent>& extents) {
  for (const DiscExtent& x : extents) {
    if (!OnDisc(x)) continue;
    for (char status : {kNonTried, kNonTrimmed, kNonScraped}) {
      const auto a = map.NextArea(x.pos, status);
      if (a && a->pos < EndOf(x)) return true;
    }
  }
  return false;
}

// Extents as the engine's ranges: whole sectors (a drive reads nothing
// less), inside the map, merged.
std::vector<std::pair<int64_t, int64_t>> SectorRanges(const std::vector<DiscExtent>& extents, int64_t sector,
                                                      int64_t size) {
  std::vector<std::pair<int64_t, int64_t>> ranges;
  for (const DiscExtent& x : extents) {
    if (!OnDisc(x) || x.pos >= size) continue;
    const int64_t from = x.pos / sector * sector;
    const int64_t end = std::min(size, EndOf(x));
    const int64_t to = std::min(size, (end - 1) / sector * sector + sector);
    ranges.emplace_back(from, to);
  }
  return MergeRanges(std::move(ranges));
}

struct PassStopped {};

}  // namespace

DiscImageRun::DiscImageRun(IImageView& view, ImageRunOptions options) : view_(view), options_(options) {
  if (options_.sectorSize < 1) options_.sectorSize = 1;
  if (options_.largeBlock < options_.sectorSize) options_.largeBlock = options_.sectorSize;
}

ImageRunResult DiscImageRun::Run(RescueSession& session, std::unique_ptr<IFile>& device, IFile& image,
                                 RescueMap& map, IClock& clock, Pacer& pacer) {
  tree_ = {};
  layout_ = {};
  areas_ = {};
  wholeDisc_ = true;
  unread_.clear();
  listed_ = started_ = laidOut_ = false;
  failedBeforeList_ = 0;
  earlierBad_.clear();
  const int64_t size = device->Size();
  if (!options_.continuing) {
    map = RescueMap(size);
  } else {
    if (map.Size() != size) throw ImageMismatch();
    if (map.source && !BlockMatches(*device, *map.source)) throw ImageMismatch();
    for (auto a = map.NextArea(0, kBadSector); a; a = map.NextArea(a->end(), kBadSector)) earlierBad_.push_back(*a);
  }
  session.SourceChecked();
  session.SavePaced(options_.saveIntervalMs);
  session.EndPassWhen([this, &map] {
    Relist(false);
    return ChosenChanged(map);
  });
  const RescueResult total = session.Run(*this, device, image, map, clock, pacer);
  session.EndPassWhen({});
  image_ = nullptr;
  map_ = nullptr;
  session_ = nullptr;
  ImageRunResult result;
  result.stopped = total.stopped;
  result.cancelled = total.cancelled;
  result.listed = listed_;
  result.reads = total.reads;
  result.failedReads = total.failedReads;
  result.failedBeforeList = failedBeforeList_;
  return result;
}

bool DiscImageRun::ChosenChanged(const RescueMap& map) {
  if (watch_ == Watch::kNothing) return false;
  std::vector<DiscExtent> now = view_.Chosen();
  if (now == chosen_) return false;
  chosen_ = std::move(now);
  return watch_ == Watch::kAnyChange || HasUntried(map, InData(chosen_));
}

void DiscImageRun::Read(IFile& device, IFile& image, RescueMap& map, RescueSession& session, RescueResult& total) {
  if (!started_) {
    started_ = true;
    // The image at its full length before the map on the disk stops
    // saying that the bytes past a shorter image are unread.
    if (image.Size() < map.Size()) image.SetSize(map.Size());
    if (!session.Keeper().OnDisk()) session.SaveNow(map);
  }
  total.stopped = false;
  image_ = &image;
  map_ = &map;
  session_ = &session;
  if (ReadFileSystem(device, image, map, session, total)) {
    while (ChosenPasses(device, image, map, session, total)) {
      watch_ = Watch::kNewUntried;
      chosen_ = view_.Chosen();
      if (!EnginePass(device, image, map, session, total, {})) {
        if (session.StopAsked()) break;
        continue;  // the chosen files changed: theirs first
      }
      if (earlierBad_.empty()) break;
      // Last, the sectors an earlier run found bad, once more (another
      // drive or a cleaned disc may read them).
      for (const MapArea& a : earlierBad_) map.Set(a.pos, a.size, kNonScraped);
      earlierBad_.clear();
    }
  }
  watch_ = Watch::kNothing;
  total.stopped = session.StopAsked();
  // What the passes read of the file system's sectors is in the list before
  // the run ends.
  if (!total.stopped) Relist(true);
  session.SaveNow(map);
}

bool DiscImageRun::ReadFileSystem(IFile& device, IFile& image, RescueMap& map, RescueSession& session,
                                  RescueResult& total) {
  watch_ = Watch::kNothing;
  ImageSectors sectors(image, map, device, session);
  auto account = [&] {
    total.reads += sectors.DeviceReads();
    total.failedReads += sectors.FailedReads();
  };
  Pacer& pacer = session.RunPacer();
  sectors.afterDeviceRead = [&] {
    if (pacer.Step([&] { session.Pump(); }, [&] { session.Refresh(); }, [&] { return session.StopRequested(); }))
      throw PassStopped{};
  };
  try {
    // Once a run: after the disc came back the layout stands.
    if (!laidOut_) {
      KeepTo(options_.layout ? *options_.layout : FindDiscLayout(sectors), map);
      laidOut_ = true;
    }
    if (!wholeDisc_) sectors.keepTo = areas_;
    // Sectors the image has already are no device reads: the window is
    // paced between them too.
    tree_ = ReadDiscTree(sectors, layout_, [&] {
      return pacer.Step([&] { session.Pump(); }, [&] { session.Refresh(); }, [&] { return session.StopRequested(); });
    });
    unread_ = sectors.Missing();
  } catch (const PassStopped&) {
    account();
    return false;
  } catch (const DiscListingStopped&) {
    account();
    return false;
  } catch (...) {
    account();
    throw;
  }
  account();
  if (!listed_) failedBeforeList_ = total.failedReads;
  if (session.StopRequested()) return false;
  view_.Listed(tree_);
  listed_ = true;
  return true;
}

void DiscImageRun::KeepTo(DiscLayout layout, RescueMap& map) {
  layout_ = std::move(layout);
  areas_ = DataBytes(layout_, map.Size());
  wholeDisc_ = CoversAll(areas_, map.Size());
  if (!wholeDisc_) {
    // A gap or an audio track is never unreadable, and never read again.
    ClearOutside(map, areas_);
    std::vector<MapArea> bad;
    for (const MapArea& a : earlierBad_)
      for (const auto& [from, to] : Inside({{a.pos, a.end()}}, areas_)) bad.push_back({from, to - from, a.status});
    earlierBad_ = std::move(bad);
  }
  view_.LaidOut(layout_);
}

std::vector<DiscExtent> DiscImageRun::InData(const std::vector<DiscExtent>& extents) const {
  if (wholeDisc_) return extents;
  ByteAreas ranges;
  for (const DiscExtent& x : extents)
    if (OnDisc(x)) ranges.emplace_back(x.pos, EndOf(x));
  std::vector<DiscExtent> out;
  for (const auto& [from, to] : Inside(ranges, areas_)) out.push_back({from, to - from});
  return out;
}

void DiscImageRun::Relist(bool due) {
  if (!listed_ || unread_.empty() || !session_ || relisting_) return;
  IClock& clock = session_->RunClock();
  if (!due && clock.Milliseconds() < nextRelistMs_) return;
  const bool readNow = std::any_of(unread_.begin(), unread_.end(), [&](int64_t s) {
    const auto a = map_->NextArea(s * kDiscSectorSize, kFinished);
    return a && a->pos == s * kDiscSectorSize && a->size >= kDiscSectorSize;
  });
  if (!readNow) return;
  const int64_t began = clock.Milliseconds();
  ImageSectors sectors(*image_, *map_, *session_);
  if (!wholeDisc_) sectors.keepTo = areas_;
  Pacer& pacer = session_->RunPacer();
  relisting_ = true;  // the stop asked below asks the session, which asks here
  // The engine writes on where its last write ended, without a seek: the
  // image is left where it was.
  int64_t at = 0;
  session_->Together([&] { at = image_->Position(); });
  auto back = [&] {
    relisting_ = false;
    session_->Together([&] { image_->Seek(at); });
  };
  try {
    // The window answers meanwhile; a stop keeps the tree as it was.
    tree_ = ReadDiscTree(sectors, layout_, [&] {
      if (pacer.Tick() & Pacer::kPump) session_->Pump();
      return session_->StopRequested();
    });
  } catch (const DiscListingStopped&) {
    back();
    return;
  } catch (...) {
    back();
    throw;
  }
  back();
  unread_ = sectors.Missing();
  const int64_t now = clock.Milliseconds();
  // However often such sectors come, reading the tree again takes at most
  // about a twentieth of the run's time.
  nextRelistMs_ = now + 20 * (now - began);
  view_.Listed(tree_);
}

bool DiscImageRun::ChosenPasses(IFile& device, IFile& image, RescueMap& map, RescueSession& session,
                                RescueResult& total) {
  for (;;) {
    std::vector<DiscExtent> chosen = view_.Chosen();
    if (!HasUntried(map, InData(chosen))) return true;
    watch_ = Watch::kAnyChange;
    chosen_ = chosen;
    if (!EnginePass(device, image, map, session, total, chosen) && session.StopAsked()) return false;
  }
}

bool DiscImageRun::EnginePass(IFile& device, IFile& image, RescueMap& map, RescueSession& session,
                              RescueResult& total, const std::vector<DiscExtent>& within) {
  RescueOptions options;
  options.largeBlock = options_.largeBlock;
  options.sectorSize = options_.sectorSize;
  options.saveIntervalMs = options_.saveIntervalMs;
  options.mapOnDisk = session.Keeper().OnDisk();
  // A drive fails sectors whole: nothing below the sector is ever tried.
  options.partialReads = PartialReads::kNo;
  if (!within.empty()) {
    options.within = SectorRanges(within, static_cast<int64_t>(options_.sectorSize), map.Size());
    if (!wholeDisc_) options.within = Inside(options.within, areas_);
    if (options.within.empty()) return true;
  } else if (!wholeDisc_) {
    // Only the data areas; none (a disc of audio alone): nothing to read.
    options.within = areas_;
    if (options.within.empty()) return true;
  }
  RescueEngine engine(device, image, map, session.RunClock(), session.RunPacer(), session, options);
  RescueResult r;
  try {
    r = engine.Run();
  } catch (...) {
    total.reads += engine.Result().reads;
    total.failedReads += engine.Result().failedReads;
    throw;
  }
  total.reads += r.reads;
  total.failedReads += r.failedReads;
  if (within.empty() && !wholeDisc_ && !r.stopped) {
    // The data areas are the whole of what is read: the run's pass is done.
    map.currentStatus = kFinished;
    map.currentPos = map.Size();
  }
  return !r.stopped;
}

}  // namespace sk
