#include "core/Rescue.h"

#include <algorithm>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

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
  counter_ = clock_.CounterFrequency(frequency_) && frequency_ > 0;
  if (!counter_) frequency_ = 1000;
}

bool RescueEngine::HasCoarseScale() const { return static_cast<int64_t>(options_.sectorSize) > block_; }

int64_t RescueEngine::Ticks() { return counter_ ? clock_.Counter() : clock_.Milliseconds(); }

// Reads and writes in order need no seek (a file call of its own). After a
// failed read the source's position is not known.
RescueEngine::Outcome RescueEngine::Transfer(int64_t pos, int64_t count) {
  if (count <= 0 || count > static_cast<int64_t>(buffer_.size())) throw std::logic_error("rescue read size");
  Outcome out;
  size_t got = 0;
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
  // A read that gives less than asked (the source ended early) or nothing:
  // the rest of the block is not readable now.
  if (static_cast<int64_t>(got) < count) out.failed = true;
  // A read that failed because the medium went away tells nothing about
  // the medium: the map stays as it was.
  if (out.failed && !view_.SourcePresent()) throw MediumGone();
  ++result_.reads;
  if (got > 0) {
    if (destinationAt_ != pos) {
      destinationAt_ = -1;
      destination_.Seek(pos);
    }
    const size_t wrote = destination_.Write(buffer_.data(), got);
    destinationAt_ = wrote == got ? pos + static_cast<int64_t>(got) : -1;
    if (wrote != got) throw DiskFullError();
    // The first block that reads says which source the map belongs to.
    if (!map_.source && !mark_) {
      const size_t length = std::min<size_t>(got, 4096);
      mark_ = SourceMark{map_.Size(), pos, static_cast<int64_t>(length), BlockHash(buffer_.data(), length)};
    }
  }
  out.got = static_cast<int64_t>(got);
  return out;
}

// The map marked for a block read and written: '+' for what the destination
// now holds, `failStatus` for the rest of a block that failed.
void RescueEngine::Mark(const Block& block, char failStatus) {
  const Outcome& out = block.out;
  if (out.got > 0) {
    map_.Set(block.pos, out.got, kFinished);
    if (!map_.source && mark_) map_.source = mark_;
  }
  if (out.failed) {
    ++result_.failedReads;
    if (failStatus) map_.Set(block.pos + out.got, block.count - out.got, failStatus);
  }
  changedSinceSave_ = true;
  // The first failure: from now on the destination alone no longer says
  // what was read, so the map goes to disk before anything is written
  // beyond the hole.
  if (out.failed && !mapSaved_) SaveNow();
}

RescueEngine::Outcome RescueEngine::ReadAt(int64_t pos, int64_t count, char failStatus) {
  map_.currentPos = pos;
  map_.currentStatus = phase_;
  map_.currentPass = 1;
  Block block{pos, count, {}};
  // The block's reads and writes go as one piece (off the window's thread,
  // one handing over); the map is marked afterwards, here.
  view_.Together([&] { block.out = Transfer(pos, count); });
  Mark(block, failStatus);
  AfterStep();
  return block.out;
}

RescueEngine::Block RescueEngine::ReadForward(int64_t pos, int64_t end, char failStatus) {
  const int64_t large = static_cast<int64_t>(options_.largeBlock);
  map_.currentPos = pos;
  map_.currentStatus = phase_;
  map_.currentPass = 1;
  // A stop asked for meanwhile (e.g. before the file began) goes before the
  // batch: the batch itself is not stopped, its time is short.
  if (view_.StopRequested()) throw Stopped{};
  batch_.clear();
  const int64_t until = Ticks() + static_cast<int64_t>(options_.batchMs) * frequency_ / 1000;
  // A failure inside the batch (a write, the medium gone) comes out once the
  // blocks before it are marked: the map names what the destination holds.
  std::exception_ptr error;
  view_.Together([&] {
    try {
      int64_t p = pos;
      do {
        const int64_t e = std::min(end, (p / large + 1) * large);
        batch_.push_back({p, e - p, {}});
        batch_.back().out = Transfer(p, e - p);
        p = e;
        if (batch_.back().out.failed) break;
      } while (p < end && Ticks() < until);
    } catch (...) {
      error = std::current_exception();
      batch_.pop_back();
    }
  });
  for (const Block& b : batch_) Mark(b, failStatus);
  if (error) std::rethrow_exception(error);
  for (const Block& b : batch_) {
    map_.currentPos = b.pos;
    AfterStep();
  }
  return batch_.back();
}

void RescueEngine::AfterStep() {
  view_.Advanced(map_);
  // The map goes to the disk by the run's clock, not at the window's
  // refreshes (the waits of long reads may make those).
  if (changedSinceSave_ && clock_.Milliseconds() - lastSaveMs_ >= options_.saveIntervalMs) SaveNow();
  if (pacer_.Step([&] { view_.Pump(); }, [&] { view_.Refresh(); }, [&] { return view_.StopRequested(); }))
    throw Stopped{};
}

void RescueEngine::SaveNow() {
  // What the map calls finished must be on the disk before the map says so.
  destination_.Flush();
  view_.SaveMap(map_);
  mapSaved_ = true;
  changedSinceSave_ = false;
  lastSaveMs_ = clock_.Milliseconds();
}

// Large blocks on the large grid. After a block that fails the reads skip
// ahead: not at all after the first, then by one large block, doubling while
// reads keep failing. Once a read succeeds, the skipped part is read
// backwards from there in large blocks up to the first that fails; what
// lies between two failures is the inside of a damaged stretch and is never
// read in large blocks ('*', left to the trim and the scrape).
void RescueEngine::CopyArea(const MapArea& area) {
  const int64_t large = static_cast<int64_t>(options_.largeBlock);
  int failures = 0;     // large reads failed in a row
  int64_t skipped = -1;  // where the part skipped since the last failure begins
  int64_t p = area.pos;
  while (p < area.end()) {
    int64_t e = std::min(area.end(), (p / large + 1) * large);
    Outcome r;
    if (failures == 0 && skipped < 0) {
      // Healthy data so far: blocks handed over in runs.
      const Block b = ReadForward(p, area.end(), kNonTrimmed);
      p = b.pos, e = b.pos + b.count, r = b.out;
    } else {
      r = ReadAt(p, e - p, kNonTrimmed);
    }
    if (!r.failed) {
      if (skipped >= 0) ReadSkippedBackwards(skipped, p);
      skipped = -1;
      failures = 0;
      p = e;
      continue;
    }
    if (skipped >= 0) map_.Set(skipped, p - skipped, kNonTrimmed);
    const int64_t skip = failures == 0 ? 0 : large << std::min(failures - 1, 30);
    ++failures;
    const int64_t next = std::min(area.end(), e + skip);
    skipped = next > e ? e : -1;
    p = next;
  }
  if (skipped >= 0) ReadSkippedBackwards(skipped, area.end());
}

// The part [from, to) skipped past damage, from the good data (or the end)
// behind it: large blocks backwards while they read. The part before the
// block that fails lies between two failures: '*' without a read.
void RescueEngine::ReadSkippedBackwards(int64_t from, int64_t to) {
  const int64_t large = static_cast<int64_t>(options_.largeBlock);
  int64_t x = to;
  while (x > from) {
    const int64_t s = std::max(from, (x - 1) / large * large);
    if (ReadAt(s, x - s, kNonTrimmed).failed) {
      map_.Set(from, s - from, kNonTrimmed);
      return;
    }
    x = s;
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

// The edges of a damaged stretch, sector by sector: the far edge first,
// backwards from the good data behind it (unless a sector known bad is
// there), then the near edge forwards from the good data before it, up to
// the far edge's bad sector at most. What lies between is left to the
// scrape.
void RescueEngine::TrimArea(const MapArea& area) {
  int64_t edge = area.end();
  const auto after = map_.AreaFrom(area.end());
  if (!after || after->status != kBadSector) edge = ScanBackward(area.pos, area.end());
  int64_t start = area.pos;
  const auto before = map_.AreaBefore(area.pos);
  if (edge > area.pos && (!before || before->status != kBadSector)) start = ScanForward(area.pos, edge);
  if (start < edge) map_.Set(start, edge - start, kNonScraped);
}

// Sectors on the grid backwards from `hi` down to `lo`, up to the first that
// fails (marked bad). Returns where that sector begins (`lo` when none
// failed).
int64_t RescueEngine::ScanBackward(int64_t lo, int64_t hi) {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  for (int64_t p = hi; p > lo;) {
    const int64_t s = std::max(lo, (p - 1) / sector * sector);
    if (!EdgeSector(s, p, true)) return s;
    p = s;
  }
  return lo;
}

// The same forwards from `lo` up to `hi`. Returns where that sector ends
// (`hi` when none failed).
int64_t RescueEngine::ScanForward(int64_t lo, int64_t hi) {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  for (int64_t p = lo; p < hi;) {
    const int64_t e = std::min(hi, (p / sector + 1) * sector);
    if (!EdgeSector(p, e, false)) return e;
    p = e;
  }
  return hi;
}

// One sector [s, e) of an edge scan; false when it failed (its unread part
// marked bad). Unless the medium is known to fail sectors whole, the sector
// is read in pieces (see SectorInPieces), its byte on the side of the good
// data first, at no cost in failing reads: a medium that fails sectors whole
// fails that byte in place of the sector, and one that fails byte by byte
// mostly reads it and then fails another piece, which shows that it returns
// part of a sector. Two edges failing at that byte, and the medium is taken
// to fail sectors whole where that costs no readable byte (kEdgesWhole): the
// sectors are still read in pieces, since such edges prove nothing about a
// later place that begins or ends off the sector grid (a medium that fails
// in smaller units, or byte by byte, has edges on the grid too).
bool RescueEngine::EdgeSector(int64_t s, int64_t e, bool backward) {
  if (partial_ == PartialReads::kNo || e - s < 2) return !ReadAt(s, e - s, kBadSector).failed;
  const int failed = SectorInPieces(s, e, backward);
  if (failed == 1 && partial_ == PartialReads::kUnknown && ++wholeProbes_ >= 2) partial_ = PartialReads::kEdgesWhole;
  return failed == 0;
}

// A sector [s, e) of two bytes or more read in three pieces up to the first
// that fails: the byte at its end on the side `backward` names (its last
// byte when set), the byte at its other end, then the bytes between. Every
// byte left unread is marked bad. A piece is read only after the one before it read, so the sector
// costs one failing read at most, as its whole read would; and on a medium
// that fails byte by byte, a bad sector whose first or last byte reads ends
// its run of bad sectors there, so the damage on either side of a readable
// stretch across a sector boundary is narrowed as two places, each from its
// own ends. Returns 0 when the sector read whole, else which piece failed
// (1 to 3); a piece that read before one failed shows that the medium returns
// part of a sector.
int RescueEngine::SectorInPieces(int64_t s, int64_t e, bool backward) {
  const int64_t first = backward ? e - 1 : s, other = backward ? s : e - 1;
  const std::pair<int64_t, int64_t> pieces[] = {{first, 1}, {other, 1}, {s + 1, e - s - 2}};
  for (int k = 0; k < 3; ++k) {
    if (pieces[k].second <= 0) continue;
    if (!ReadAt(pieces[k].first, pieces[k].second, kBadSector).failed) continue;
    for (int later = k + 1; later < 3; ++later)
      if (pieces[later].second > 0) map_.Set(pieces[later].first, pieces[later].second, kBadSector);
    if (k > 0) partial_ = PartialReads::kYes;
    return k + 1;
  }
  return 0;
}

// Every sector read once, on the sector grid (in pieces unless the medium is
// known to fail sectors whole).
void RescueEngine::ScrapeArea(const MapArea& area) {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  for (int64_t p = area.pos; p < area.end();) {
    const int64_t e = std::min(area.end(), (p / sector + 1) * sector);
    if (partial_ == PartialReads::kNo || e - p < 2)
      ReadAt(p, e - p, kBadSector);
    else
      SectorInPieces(p, e, false);
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

// Whether the map shows that the medium returned part of a sector: a read
// area that begins or ends off the sector grid (not at the file's ends).
bool RescueEngine::ShowsPartialSectors() const {
  const int64_t sector = static_cast<int64_t>(options_.sectorSize);
  for (auto a = map_.NextArea(0, kFinished); a; a = map_.NextArea(a->end(), kFinished))
    if ((a->pos > 0 && a->pos % sector != 0) || (a->end() < map_.Size() && a->end() % sector != 0)) return true;
  return false;
}

// Whether the slow phases have work: sectors to scrape, or runs of bad
// sectors to narrow on a medium that may return part of a sector.
bool RescueEngine::NarrowingLeft() const {
  if (map_.Total(kNonScraped) > 0) return true;
  if (partial_ == PartialReads::kNo || partial_ == PartialReads::kEdgesWhole) return false;
  for (auto a = map_.NextArea(0, kBadSector); a; a = map_.NextArea(a->end(), kBadSector))
    if (a->size > block_) return true;
  return false;
}

RescueResult RescueEngine::Run() {
  result_ = {};
  sourceAt_ = destinationAt_ = -1;
  partial_ = options_.partialReads;
  wholeProbes_ = 0;
  // The areas of a status, clipped to the ranges the rescue is kept within.
  const std::vector<std::pair<int64_t, int64_t>> whole = {{0, map_.Size()}};
  const auto& ranges = options_.within.empty() ? whole : options_.within;
  auto each = [&](char status, auto narrow) {
    phase_ = status;
    for (const auto& [from, to] : ranges)
      for (auto a = map_.NextArea(from, status); a && a->pos < to; a = map_.NextArea(a->end(), status)) {
        if (a->end() > to) a->size = to - a->pos;
        narrow(*a);
      }
  };
  earlierBad_.clear();
  if (options_.earlierBad)
    earlierBad_ = *options_.earlierBad;
  else if (options_.retryBadSectors && !options_.fastOnly)
    each(kBadSector, [&](const MapArea& a) { earlierBad_.push_back(a); });
  try {
    // A stretch of one sector on a medium that fails sectors whole (between
    // sectors read one by one): its read is the sector's own, final either way.
    const int64_t sector = static_cast<int64_t>(options_.sectorSize);
    each(kNonTried, [&](const MapArea& a) {
      if (partial_ == PartialReads::kNo && a.size <= sector && a.pos % sector == 0)
        ReadAt(a.pos, a.size, kBadSector);
      else
        CopyArea(a);
    });
    each(kNonTrimmed, [&](const MapArea& a) { TrimArea(a); });
    if (!options_.fastOnly) {
      each(kNonScraped, [&](const MapArea& a) { ScrapeArea(a); });
      if (!earlierBad_.empty()) {
        // Once in the map as sectors to scrape, they are no longer this
        // run's to retry: an engine going on scrapes what is left of them.
        for (const MapArea& a : std::exchange(earlierBad_, {})) map_.Set(a.pos, a.size, kNonScraped);
        each(kNonScraped, [&](const MapArea& a) { ScrapeArea(a); });
      }
      // Below the sector size only on a medium that has shown it returns
      // part of a sector. While that is not known, one read tells: the first
      // block of the first run of bad sectors longer than a block (a medium
      // that fails sectors whole fails it, one that fails byte by byte
      // mostly reads it, as such a run was mostly found bad from its end);
      // edges that all failed at their byte next to the good data tell
      // without a read.
      if ((partial_ == PartialReads::kUnknown || partial_ == PartialReads::kEdgesWhole) && ShowsPartialSectors())
        partial_ = PartialReads::kYes;
      each(kBadSector, [&](const MapArea& a) {
        if (partial_ == PartialReads::kUnknown && a.size > block_) {
          const Outcome head = ReadAt(a.pos, block_, kBadSector);
          partial_ = head.got > 0 ? PartialReads::kYes : PartialReads::kNo;
        }
        if (partial_ == PartialReads::kYes) RefineArea(a);
      });
      if (options_.within.empty()) {
        map_.currentStatus = kFinished;
        map_.currentPos = map_.Size();
      }
    }
  } catch (const Stopped&) {
    result_.stopped = true;
  }
  if (destination_.Size() < map_.Size()) destination_.SetSize(map_.Size());
  result_.partialReads = partial_;
  result_.narrowingLeft = options_.fastOnly && !result_.stopped && NarrowingLeft();
  return result_;
}

bool BlockMatches(IFile& source, const SourceMark& mark) {
  if (mark.size != source.Size()) return false;
  std::vector<unsigned char> bytes(static_cast<size_t>(mark.length));
  size_t got = 0;
  try {
    source.Seek(mark.pos);
    while (got < bytes.size()) {
      const size_t n = source.Read(bytes.data() + got, bytes.size() - got);
      if (n == 0) return true;
      got += n;
    }
  } catch (const FileError&) {
    return true;
  }
  return BlockHash(bytes.data(), bytes.size()) == mark.hash;
}

size_t RescueSectorOf(IFile& source) {
  const int64_t sector = source.SectorSize();
  if (sector >= 512 && sector <= 65536 && (sector & (sector - 1)) == 0) return static_cast<size_t>(sector);
  return 2048;
}

bool SameSource(IFile& source, const RescueMap& map) {
  return source.Size() == map.Size() && (!map.source || BlockMatches(source, *map.source));
}

}  // namespace sk
