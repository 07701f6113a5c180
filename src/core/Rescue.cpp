#include "core/Rescue.h"

#include <algorithm>
#include <stdexcept>

#include "core/LevelCopy.h"

namespace sk {

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
  lastSaveMs_ = clock_.Milliseconds();
}

bool RescueEngine::HasCoarseScale() const { return static_cast<int64_t>(options_.sectorSize) > block_; }

RescueEngine::Outcome RescueEngine::ReadAt(int64_t pos, int64_t count, char failStatus) {
  if (count <= 0 || count > static_cast<int64_t>(buffer_.size())) throw std::logic_error("rescue read size");
  Outcome out;
  map_.currentPos = pos;
  map_.currentStatus = phase_;
  map_.currentPass = 1;
  ++result_.reads;
  size_t got = 0;
  // Reads and writes in order need no seek (a file call of its own).
  try {
    if (sourceAt_ != pos) {
      sourceAt_ = -1;
      source_.Seek(pos);
    }
    got = source_.Read(buffer_.data(), static_cast<size_t>(count));
    sourceAt_ = pos + static_cast<int64_t>(got);
  } catch (const FileError&) {
    got = 0;
    out.failed = true;
    sourceAt_ = -1;
  }
  if (got > static_cast<size_t>(count)) got = static_cast<size_t>(count);
  if (got > 0) {
    if (destinationAt_ != pos) {
      destinationAt_ = -1;
      destination_.Seek(pos);
    }
    const size_t wrote = destination_.Write(buffer_.data(), got);
    destinationAt_ = wrote == got ? pos + static_cast<int64_t>(got) : -1;
    if (wrote != got) throw DiskFullError();
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
  auto refresh = [&] {
    view_.Refresh();
    if (changedSinceSave_ && clock_.Milliseconds() - lastSaveMs_ >= options_.saveIntervalMs) SaveNow();
  };
  if (pacer_.Step([&] { view_.Pump(); }, refresh, [&] { return view_.StopRequested(); })) throw Stopped{};
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

// Reads forwards from `lo` in blocks of the first scale until one fails,
// then inside the failing block in the next scale, and so on; blocks follow
// the grid of their scale (multiples of it), so a sector read is a drive's
// sector. The failing block of the last scale is marked '-'.
RescueEngine::Edge RescueEngine::EdgeForward(int64_t lo, int64_t hi, std::initializer_list<int64_t> scales) {
  Edge edge{hi, true};
  size_t k = 0;
  for (const int64_t scale : scales) {
    const bool last = ++k == scales.size();
    int64_t p = lo, e = hi;
    bool failed = false, first = true;
    while (p < hi) {
      e = std::min(hi, (p / scale + 1) * scale);
      const Outcome r = ReadAt(p, e - p, last ? kBadSector : 0);
      if (r.failed) {
        failed = true;
        edge.immediate = edge.immediate && first && r.got == 0;
        p += r.got;
        break;
      }
      p = e;
      first = false;
    }
    if (!failed) return {hi, false};
    edge.at = e;
    lo = p;
    hi = e;
  }
  return edge;
}

// The same backwards from `hi`; `at` is where the failing block starts.
RescueEngine::Edge RescueEngine::EdgeBackward(int64_t lo, int64_t hi, std::initializer_list<int64_t> scales) {
  Edge edge{lo, true};
  size_t k = 0;
  for (const int64_t scale : scales) {
    const bool last = ++k == scales.size();
    int64_t p = hi, s = lo;
    bool failed = false, first = true;
    while (p > lo) {
      s = std::max(lo, (p - 1) / scale * scale);
      const Outcome r = ReadAt(s, p - s, last ? kBadSector : 0);
      if (r.failed) {
        failed = true;
        edge.immediate = edge.immediate && first;
        s += r.got;
        break;
      }
      p = s;
      first = false;
    }
    if (!failed) return {lo, false};
    edge.at = s;
    lo = s;
    hi = p;
  }
  return edge;
}

// Like ddrescue's trimming: sector by sector from each edge of a failed
// large block (unless the edge is next to a bad sector already) up to the
// first bad sector; what lies between is left to the scrape.
void RescueEngine::TrimArea(const MapArea& area) {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  int64_t lo = area.pos, hi = area.end();
  const auto before = map_.AreaBefore(lo);
  if (!before || before->status != kBadSector) lo = EdgeForward(lo, hi, {sector}).at;
  if (lo < hi) {
    const auto after = map_.AreaFrom(hi);
    if (!after || after->status != kBadSector) hi = EdgeBackward(lo, hi, {sector}).at;
  }
  if (lo < hi) map_.Set(lo, hi - lo, kNonScraped);
}

// Every sector read once, on the sector grid.
void RescueEngine::ScrapeArea(const MapArea& area) {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  for (int64_t p = area.pos; p < area.end();) {
    const int64_t e = std::min(area.end(), (p / sector + 1) * sector);
    ReadAt(p, e - p, kBadSector);
    p = e;
  }
}

// A run of bad sectors narrowed to the level's block size: from each end in
// blocks of that size up to the first failure. Between those, the damage may
// be solid or spots with readable bytes between them: one block a little
// way past the last failure tells (a spot is taken to be shorter than kSpot
// bytes or a block). If it reads, the spot's far end is found backwards
// from it and the next spot forwards, in sectors and then blocks. If it
// fails too, the blocks before it are read: readable, and it was the next
// spot; unreadable right away, and the damage is solid (so it is at once
// when both ends failed at once). Each spot costs about three failing reads,
// solid damage one or two beyond its ends.
void RescueEngine::RefineArea(const MapArea& area) {
  constexpr int64_t kSpot = 64;
  if (area.size <= block_) return;
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  const Edge head = EdgeForward(area.pos, area.end(), {block_});
  if (head.at >= area.end()) return;
  const Edge tail = EdgeBackward(head.at, area.end(), {block_});
  if (tail.at <= head.at) return;
  bool solidEnds = head.immediate && tail.immediate;
  int64_t lo = head.at;
  const int64_t hi = tail.at;
  while (lo < hi) {
    const int64_t probeAt = (lo + std::max(block_, kSpot) + block_ - 1) / block_ * block_;
    if (probeAt >= hi) {
      EdgeForward(lo, hi, {block_});
      return;
    }
    const Outcome probe = ReadAt(probeAt, std::min(block_, hi - probeAt), 0);
    if (probe.failed) {
      if (solidEnds) return;
      const Edge gap = EdgeForward(lo, probeAt, {block_});
      if (gap.immediate) return;
      lo = gap.at < probeAt ? gap.at : std::min(hi, probeAt + block_);
    } else {
      EdgeBackward(lo, probeAt, {block_});
      lo = probeAt + probe.got;
      if (lo < hi)
        lo = (HasCoarseScale() ? EdgeForward(lo, hi, {sector, block_}) : EdgeForward(lo, hi, {block_})).at;
    }
    solidEnds = false;
  }
}

RescueResult RescueEngine::Run() {
  result_ = {};
  sourceAt_ = destinationAt_ = -1;
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
    phase_ = kBadSector;
    for (auto a = map_.NextArea(0, kBadSector); a; a = map_.NextArea(a->end(), kBadSector)) RefineArea(*a);
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

MapSlot InspectMapPath(IFileSystem& files, const std::string& path) {
  // Far larger than any map of a disc's file: not read, not touched.
  constexpr int64_t kLargestMap = 64LL << 20;
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

}  // namespace sk
