#include "core/Rescue.h"

#include <algorithm>

#include "core/LevelCopy.h"

namespace sk {
namespace {

constexpr unsigned long kDiskFull = 112;

}  // namespace

RescueEngine::RescueEngine(IFile& source, IFile& destination, RescueMap& map, IClock& clock, Pacer& pacer,
                           IRescueView& view, RescueOptions options)
    : source_(source),
      destination_(destination),
      map_(map),
      clock_(clock),
      pacer_(pacer),
      view_(view),
      options_(options),
      block_(static_cast<int64_t>(BlockSize(options.level))) {
  if (options_.largeBlock < 1) options_.largeBlock = 1;
  if (options_.sectorSize < 1) options_.sectorSize = 1;
  buffer_.resize(std::max({options_.largeBlock, options_.sectorSize, static_cast<size_t>(block_)}));
  mapSaved_ = options_.mapOnDisk;
}

bool RescueEngine::HasCoarseScale() const { return static_cast<int64_t>(options_.sectorSize) > block_; }

RescueEngine::Outcome RescueEngine::ReadAt(int64_t pos, int64_t count, char failStatus) {
  Outcome out;
  map_.currentPos = pos;
  map_.currentStatus = phase_;
  map_.currentPass = 1;
  ++result_.reads;
  size_t got = 0;
  try {
    source_.Seek(pos);
    got = source_.Read(buffer_.data(), static_cast<size_t>(count));
  } catch (const FileError&) {
    got = 0;
    out.failed = true;
  }
  if (got > static_cast<size_t>(count)) got = static_cast<size_t>(count);
  if (got > 0) {
    destination_.Seek(pos);
    if (destination_.Write(buffer_.data(), got) != got) throw FileError("I/O error 112", kDiskFull);
    map_.Set(pos, static_cast<int64_t>(got), kFinished);
  }
  out.got = static_cast<int64_t>(got);
  // A read that gives less than asked (the source ended early) or nothing:
  // the rest of the block is not readable now.
  if (out.got < count) out.failed = true;
  if (out.failed) {
    ++result_.failedReads;
    if (failStatus) map_.Set(pos + out.got, count - out.got, failStatus);
  }
  changedSinceSave_ = true;
  // The first failure: from now on the destination alone no longer says
  // what was read, so the map goes to disk before anything is written
  // beyond the hole.
  if (out.failed && !mapSaved_) SaveNow();
  AfterStep();
  return out;
}

void RescueEngine::AfterStep() {
  view_.Advanced(map_);
  const unsigned due = pacer_.Tick();
  if (due & Pacer::kPump) view_.Pump();
  if (due & Pacer::kRefresh) {
    view_.Refresh();
    if (changedSinceSave_ && mapSaved_ && clock_.Milliseconds() - lastSaveMs_ >= options_.saveIntervalMs) SaveNow();
  }
  if (view_.StopRequested()) throw Stopped{};
}

void RescueEngine::SaveNow() {
  // What the map calls finished must be on the disk before the map says so.
  destination_.Flush();
  view_.SaveMap(map_);
  mapSaved_ = true;
  changedSinceSave_ = false;
  lastSaveMs_ = clock_.Milliseconds();
}

void RescueEngine::CopyArea(const MapArea& area) {
  const int64_t large = static_cast<int64_t>(options_.largeBlock);
  int64_t p = area.pos;
  while (p < area.end()) {
    // Blocks end on multiples of the large size, so maps stay tidy.
    const int64_t e = std::min(area.end(), (p / large + 1) * large);
    const Outcome r = ReadAt(p, e - p, kNonTrimmed);
    p = r.failed ? e : p + r.got;
  }
}

// Reads forwards from `lo` until a read fails; with `coarse`, first in
// sectors and then in blocks of the level's size inside the failing sector.
// The failing block of the level's size is marked '-'. Returns where what is
// known ends: after that block, or `hi` when everything up to it was read.
int64_t RescueEngine::EdgeForward(int64_t lo, int64_t hi, bool coarse) {
  const bool twoScales = coarse && HasCoarseScale();
  for (int round = twoScales ? 0 : 1; round < 2; ++round) {
    const bool finest = round == 1;
    const int64_t scale = finest ? block_ : static_cast<int64_t>(options_.sectorSize);
    int64_t p = lo;
    bool failed = false;
    int64_t e = hi;
    while (p < hi) {
      e = std::min(hi, p + scale);
      const Outcome r = ReadAt(p, e - p, finest ? kBadSector : 0);
      p += r.got;
      if (r.failed) {
        failed = true;
        break;
      }
    }
    if (!failed) return hi;
    if (finest) return e;
    lo = p;
    hi = e;
  }
  return hi;
}

// The same backwards from `hi`: returns where the failing block of the
// level's size starts, or `lo` when everything down to it was read.
int64_t RescueEngine::EdgeBackward(int64_t lo, int64_t hi, bool coarse) {
  const bool twoScales = coarse && HasCoarseScale();
  for (int round = twoScales ? 0 : 1; round < 2; ++round) {
    const bool finest = round == 1;
    const int64_t scale = finest ? block_ : static_cast<int64_t>(options_.sectorSize);
    int64_t p = hi;
    bool failed = false;
    int64_t s = lo;
    while (p > lo) {
      s = std::max(lo, p - scale);
      const Outcome r = ReadAt(s, p - s, finest ? kBadSector : 0);
      if (r.failed) {
        failed = true;
        s += r.got;
        break;
      }
      p = s;
    }
    if (!failed) return lo;
    if (finest) return s;
    lo = s;
    hi = p;
  }
  return lo;
}

void RescueEngine::TrimArea(const MapArea& area) {
  int64_t lo = area.pos, hi = area.end();
  // An edge next to a bad sector is narrowed already.
  const auto before = map_.AreaBefore(lo);
  if (!before || before->status != kBadSector) lo = EdgeForward(lo, hi, true);
  if (lo < hi) {
    const auto after = map_.AreaFrom(hi);
    if (!after || after->status != kBadSector) hi = EdgeBackward(lo, hi, true);
  }
  if (lo < hi) map_.Set(lo, hi - lo, kNonScraped);
}

void RescueEngine::ScrapeArea(const MapArea& area) {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  const auto before = map_.AreaBefore(area.pos);
  bool readBefore = before && before->status == kFinished;  // the last read before p succeeded
  int64_t unrefinedFrom = -1;  // a failed sector [unrefinedFrom, p) not yet narrowed from its right
  int64_t p = area.pos;
  while (p < area.end()) {
    const int64_t e = std::min(area.end(), p + sector);
    const Outcome r = ReadAt(p, e - p, kBadSector);
    // Readable bytes right after a failed sector: narrow that sector from
    // its right end, in blocks of the level's size.
    if (r.got > 0 && unrefinedFrom >= 0) {
      EdgeBackward(unrefinedFrom, p, false);
      unrefinedFrom = -1;
    }
    if (!r.failed) {
      readBefore = true;
      p = e;
      continue;
    }
    const int64_t failedAt = p + r.got;
    if ((r.got > 0 || readBefore) && e - failedAt > block_) {
      // Damage begins inside this sector, after readable bytes: find where,
      // then go on scraping after the failing block.
      p = EdgeForward(failedAt, e, false);
      readBefore = p >= e;
      unrefinedFrom = -1;
      continue;
    }
    if (unrefinedFrom < 0) unrefinedFrom = failedAt;
    readBefore = false;
    p = e;
  }
  if (unrefinedFrom >= 0) {
    const auto after = map_.AreaFrom(area.end());
    if (after && after->status == kFinished) EdgeBackward(unrefinedFrom, area.end(), false);
  }
}

RescueResult RescueEngine::Run() {
  result_ = {};
  try {
    // Bytes found unreadable by an earlier run are tried again, sector by sector.
    for (auto a = map_.NextArea(0, kBadSector); a; a = map_.NextArea(a->end(), kBadSector))
      map_.Set(a->pos, a->size, kNonScraped);

    phase_ = kNonTried;
    for (auto a = map_.NextArea(0, kNonTried); a; a = map_.NextArea(a->end(), kNonTried)) CopyArea(*a);
    phase_ = kNonTrimmed;
    for (auto a = map_.NextArea(0, kNonTrimmed); a; a = map_.NextArea(a->end(), kNonTrimmed)) TrimArea(*a);
    phase_ = kNonScraped;
    for (auto a = map_.NextArea(0, kNonScraped); a; a = map_.NextArea(a->end(), kNonScraped)) ScrapeArea(*a);
    map_.currentStatus = kFinished;
    map_.currentPos = map_.Size();
  } catch (const Stopped&) {
    result_.stopped = true;
  }
  if (destination_.Size() < map_.Size()) destination_.SetSize(map_.Size());
  return result_;
}

std::string MapPathFor(const std::string& destination) { return destination + ".map"; }

void SaveMapFile(IFileSystem& files, const std::string& path, const RescueMap& map) {
  files.ReplaceContent(path, map.ToText({"Mapfile. Created by Sektorian 1.1.0"}));
}

RescueMap LoadMapFile(IFileSystem& files, const std::string& path) {
  auto file = files.Open(path, OpenMode::ReadShared);
  std::string text;
  char chunk[65536];
  for (;;) {
    const size_t got = file->Read(chunk, sizeof chunk);
    if (got == 0) break;
    text.append(chunk, got);
  }
  file->Close();
  return RescueMap::Parse(text);
}

}  // namespace sk
