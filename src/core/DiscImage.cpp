#include "core/DiscImage.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/CopyRun.h"
#include "core/DiscLayout.h"
#include "core/Resume.h"

namespace sk {
namespace {

bool OnDisc(const DiscExtent& x) { return x.pos >= 0 && x.size > 0; }
// Where an extent on the disc ends, kept from overflowing.
int64_t EndOf(const DiscExtent& x) {
  return x.size > std::numeric_limits<int64_t>::max() - x.pos ? std::numeric_limits<int64_t>::max() : x.pos + x.size;
}

bool NotTried(char status) { return status == kNonTried || status == kNonTrimmed || status == kNonScraped; }

// Calls `part(pos, end, status)` for each piece of [pos, end) as the map
// names it; the part past the map's end comes as '-' (it cannot be read).
template <typename Part>
void EachStatus(const RescueMap& map, int64_t pos, int64_t end, Part&& part) {
  const int64_t inside = std::min(end, map.Size());
  for (int64_t p = pos; p < inside;) {
    const MapArea a = map.AreaAt(p);
    const int64_t e = std::min(a.end(), inside);
    part(p, e, a.status);
    p = e;
  }
  if (end > std::max(pos, map.Size())) part(std::max(pos, map.Size()), end, kBadSector);
}

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
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& r : ranges) {
    if (!merged.empty() && r.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  return merged;
}

// A name Windows can take: control characters and <>:"/\|?* as '_', trailing
// dots and spaces dropped, the device names (CON, NUL, COM1...) and names
// left empty ("." and ".." among them) with '_' added.
std::string SafeName(const std::string& name) {
  std::string s;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    s += u < 0x20 || u == 0x7F || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos ? '_' : c;
  }
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
  std::string stem = s.substr(0, s.find('.'));
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  const bool device = std::any_of(std::begin(kDevices), std::end(kDevices), [&](const char* d) { return stem == d; });
  return s.empty() || device ? s + "_" : s;
}

std::string LowerAscii(const std::string& text) {
  std::string s = text;
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

std::string LastPart(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const char* ConditionName(FileCondition condition) {
  switch (condition) {
    case FileCondition::kWhole: return "Cały";
    case FileCondition::kDamaged: return "Uszkodzony";
    case FileCondition::kUnread: return "Nieodczytany";
  }
  return "";
}

EntryState StateOf(const DiscEntry& entry, const RescueMap& map) {
  EntryState state;
  if (entry.unknown) {
    state.condition = FileCondition::kDamaged;
    return state;
  }
  bool failed = false;  // a failed read lies in the file ('*' or '/')
  for (const DiscExtent& x : entry.extents) {
    if (x.size <= 0 || x.pos == DiscExtent::kZeros) continue;
    if (x.pos == DiscExtent::kUnknown) {
      // Not known where: not read, and a failed read lies behind it.
      state.notRead += x.size;
      failed = true;
      continue;
    }
    if (x.pos < 0) {
      state.unreadable += x.size;
      continue;
    }
    EachStatus(map, x.pos, EndOf(x), [&](int64_t p, int64_t e, char status) {
      if (status == kBadSector) state.unreadable += e - p;
      if (NotTried(status)) state.notRead += e - p;
      if (status == kNonTrimmed || status == kNonScraped) failed = true;
    });
  }
  state.condition = state.unreadable > 0 || failed ? FileCondition::kDamaged
                    : state.notRead > 0            ? FileCondition::kUnread
                                                   : FileCondition::kWhole;
  return state;
}

std::string FileListText(const DiscTree& tree, const RescueMap& map) {
  std::string text = "Ścieżka\tRozmiar\tNieczytelne\tNie odczytano\tStan\r\n";
  if (tree.format == DiscFormat::kNone) return text + "Nie rozpoznano systemu plików\r\n";
  for (const DiscEntry& entry : tree.entries) {
    const EntryState state = StateOf(entry, map);
    text += entry.path + '\t' + std::to_string(entry.size) + '\t' + std::to_string(state.unreadable) + '\t' +
            std::to_string(state.notRead) + '\t' + ConditionName(state.condition) + "\r\n";
  }
  return text;
}

ConditionTotals TotalsOf(const DiscTree& tree, const RescueMap& map) {
  ConditionTotals totals;
  for (const DiscEntry& entry : tree.entries) {
    switch (StateOf(entry, map).condition) {
      case FileCondition::kWhole: ++totals.whole; break;
      case FileCondition::kDamaged: ++totals.damaged; break;
      case FileCondition::kUnread: ++totals.unread; break;
    }
  }
  return totals;
}

DiscOwners::DiscOwners(const DiscTree& tree) : system_(tree.system) {
  for (size_t i = 0; i < tree.entries.size(); ++i) {
    names_.push_back(LastPart(tree.entries[i].path));
    for (const DiscExtent& x : tree.entries[i].extents)
      if (OnDisc(x)) pieces_.push_back({x.pos, EndOf(x), i});
  }
  std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) { return a.pos < b.pos; });
  int64_t reach = 0;
  for (const Piece& p : pieces_) reach_.push_back(reach = std::max(reach, p.end));
  std::sort(system_.begin(), system_.end(), [](const DiscExtent& a, const DiscExtent& b) { return a.pos < b.pos; });
}

std::vector<size_t> DiscOwners::Owners(int64_t pos, int64_t end) const {
  // Pieces that begin before `end` and whose reach goes past `pos`: the
  // reach only grows, so both bounds are binary searches.
  const size_t last = static_cast<size_t>(
      std::lower_bound(pieces_.begin(), pieces_.end(), end, [](const Piece& p, int64_t v) { return p.pos < v; }) -
      pieces_.begin());
  size_t first = static_cast<size_t>(std::upper_bound(reach_.begin(), reach_.end(), pos) - reach_.begin());
  std::vector<size_t> owners;
  for (size_t k = first; k < last; ++k)
    if (pieces_[k].end > pos) owners.push_back(pieces_[k].entry);
  std::sort(owners.begin(), owners.end());
  owners.erase(std::unique(owners.begin(), owners.end()), owners.end());
  return owners;
}

bool DiscOwners::HoldsSystem(int64_t pos, int64_t end) const {
  for (auto it = std::lower_bound(system_.begin(), system_.end(), end,
                                  [](const DiscExtent& x, int64_t v) { return x.pos < v; });
       it != system_.begin();) {
    --it;
    if (EndOf(*it) > pos) return true;
    // The system's extents are merged: the one before ends earlier still.
    if (it->pos < pos) return false;
  }
  return false;
}

std::string DiscOwners::Describe(int64_t pos, int64_t end) const {
  std::vector<std::string> parts;
  if (HoldsSystem(pos, end)) parts.push_back("system plików");
  const std::vector<size_t> owners = Owners(pos, end);
  for (size_t k = 0; k < owners.size() && k < 3; ++k) parts.push_back(names_[owners[k]]);
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  if (owners.size() > 3) text += " i " + std::to_string(owners.size() - 3) + " innych";
  return text;
}

std::vector<DiscExtent> ChosenExtents(const DiscTree& tree, const std::vector<size_t>& entries) {
  std::vector<DiscExtent> all;
  for (const size_t i : entries)
    if (i < tree.entries.size())
      for (const DiscExtent& x : tree.entries[i].extents)
        if (OnDisc(x)) all.push_back({x.pos, EndOf(x) - x.pos});
  std::sort(all.begin(), all.end(), [](const DiscExtent& a, const DiscExtent& b) { return a.pos < b.pos; });
  std::vector<DiscExtent> merged;
  for (const DiscExtent& x : all) {
    if (!merged.empty() && x.pos <= EndOf(merged.back()))
      merged.back().size = std::max(EndOf(merged.back()), EndOf(x)) - merged.back().pos;
    else
      merged.push_back(x);
  }
  return merged;
}

// ---- ImageSectors ----

ImageSectors::ImageSectors(IFile& image, const RescueMap& map) : image_(image), map_(map) {}
ImageSectors::ImageSectors(IFile& image, const RescueMap& map, IRescueView& view)
    : image_(image), map_(map), view_(&view) {}

std::vector<int64_t> ImageSectors::Missing() const { return {missing_.begin(), missing_.end()}; }
ImageSectors::ImageSectors(IFile& image, RescueMap& map, IFile& device, IRescueView& view)
    : image_(image), map_(map), marks_(&map), device_(&device), view_(&view) {}

int64_t ImageSectors::SectorCount() { return map_.Size() / kDiscSectorSize; }

bool ImageSectors::ReadSector(int64_t sector, unsigned char* out) {
  if (sector < 0 || sector >= SectorCount()) return false;
  const int64_t pos = sector * kDiscSectorSize;
  if (keepTo && Inside({{pos, pos + kDiscSectorSize}}, *keepTo) != ByteAreas{{pos, pos + kDiscSectorSize}})
    return false;
  const bool had = Read(sector, out);
  if (!had) missing_.insert(sector);
  return had;
}

bool ImageSectors::Read(int64_t sector, unsigned char* out) {
  const int64_t pos = sector * kDiscSectorSize;
  bool read = true, failed = false;
  EachStatus(map_, pos, pos + kDiscSectorSize, [&](int64_t, int64_t, char status) {
    read = read && status == kFinished;
    failed = failed || status == kBadSector || status == kNonTrimmed || status == kNonScraped;
  });
  auto together = [&](const std::function<void()>& calls) { view_ ? view_->Together(calls) : calls(); };
  if (read) {
    size_t got = 0;
    together([&] {
      image_.Seek(pos);
      while (got < static_cast<size_t>(kDiscSectorSize)) {
        const size_t n = image_.Read(out + got, static_cast<size_t>(kDiscSectorSize) - got);
        if (n == 0) break;
        got += n;
      }
    });
    return got == static_cast<size_t>(kDiscSectorSize);
  }
  if (failed || !device_) return false;
  // One read of one sector: the file system's sectors lie apart, and a
  // failing read costs only that sector.
  bool bad = false;
  together([&] {
    size_t got = 0;
    try {
      device_->Seek(pos);
      got = device_->Read(out, static_cast<size_t>(kDiscSectorSize));
    } catch (const FileError&) {
      bad = true;
    }
    if (got < static_cast<size_t>(kDiscSectorSize)) bad = true;
    if (bad && !view_->SourcePresent()) throw MediumGone();
    if (bad) return;
    image_.Seek(pos);
    if (image_.Write(out, static_cast<size_t>(kDiscSectorSize)) != static_cast<size_t>(kDiscSectorSize))
      throw DiskFullError();
  });
  ++reads_;
  if (bad) {
    ++failedReads_;
    marks_->Set(pos, kDiscSectorSize, kBadSector);
  } else {
    marks_->Set(pos, kDiscSectorSize, kFinished);
    if (!marks_->source)
      marks_->source = SourceMark{marks_->Size(), pos, kDiscSectorSize, BlockHash(out, kDiscSectorSize)};
  }
  marks_->currentPos = pos;
  view_->Advanced(*marks_);
  if (afterDeviceRead) afterDeviceRead();
  return !bad;
}

DiscTree ListImage(IFile& image, const RescueMap& map) {
  ImageSectors sectors(image, map);
  return ReadDiscTree(sectors);
}

// ---- the run ----

// The view the engine and the file system pass see: the window's, with the
// map's saves counted and paced, and a stop when the chosen files change.
class DiscImageRun::Guard : public IRescueView {
 public:
  enum class Watch { kNothing, kAnyChange, kNewUntried };
  explicit Guard(DiscImageRun& run) : run_(run), view_(run.view_), lastSaveMs_(run.clock_.Milliseconds()) {}

  void Advanced(const RescueMap& map) override { view_.Advanced(map); }
  void Pump() override { view_.Pump(); }
  void Refresh() override {
    run_.Relist(false);
    view_.Refresh();
    // However often the passes begin anew, the map goes to disk this often.
    const int64_t now = run_.clock_.Milliseconds();
    if (now - lastSaveMs_ < run_.options_.saveIntervalMs) return;
    run_.Save();
    lastSaveMs_ = now;
  }
  bool StopRequested() override {
    if (view_.StopRequested()) return userStop = true;
    if (watch == Watch::kNothing) return false;
    std::vector<DiscExtent> now = view_.Chosen();
    if (now == chosen) return false;
    chosen = std::move(now);
    if (watch == Watch::kNewUntried && !HasUntried(run_.map_, run_.InData(chosen))) return false;
    return chosenChanged = true;
  }
  void SaveMap(const RescueMap& map) override {
    view_.SaveMap(map);
    run_.mapSaved_ = true;
    lastSaveMs_ = run_.clock_.Milliseconds();
  }
  bool SourcePresent() override { return view_.SourcePresent(); }
  void Together(const std::function<void()>& calls) override { view_.Together(calls); }

  Watch watch = Watch::kNothing;
  std::vector<DiscExtent> chosen;  // the answer the pass in hand follows
  bool chosenChanged = false;
  bool userStop = false;

 private:
  DiscImageRun& run_;
  IImageView& view_;
  int64_t lastSaveMs_;
};

DiscImageRun::DiscImageRun(IFile& device, IFile& image, RescueMap& map, IClock& clock, Pacer& pacer,
                           IImageView& view, ImageRunOptions options)
    : device_(device), image_(image), map_(map), clock_(clock), pacer_(pacer), view_(view), options_(options) {
  if (options_.sectorSize < 1) options_.sectorSize = 1;
  if (options_.largeBlock < options_.sectorSize) options_.largeBlock = options_.sectorSize;
}

void DiscImageRun::Identify() {
  const int64_t size = device_.Size();
  if (!options_.continuing) {
    map_ = RescueMap(size);
    return;
  }
  if (map_.Size() != size) throw ImageMismatch();
  if (map_.source && !BlockMatches(device_, *map_.source)) throw ImageMismatch();
}

void DiscImageRun::Save() {
  // What the map calls read must be on the disk before the map says so.
  image_.Flush();
  view_.SaveMap(map_);
  mapSaved_ = true;
}

ImageRunResult DiscImageRun::Run() {
  result_ = {};
  tree_ = {};
  layout_ = {};
  areas_ = {};
  wholeDisc_ = true;
  Identify();
  mapSaved_ = options_.continuing;
  earlierBad_.clear();
  if (options_.continuing) {
    for (auto a = map_.NextArea(0, kBadSector); a; a = map_.NextArea(a->end(), kBadSector)) earlierBad_.push_back(*a);
    // What the map names read beyond an image cut short since is not there.
    const int64_t held = image_.Size();
    bool claimedBeyond = false;
    for (auto a = map_.NextArea(held, kFinished); a; a = map_.NextArea(a->end(), kFinished)) {
      map_.Set(a->pos, a->size, kNonTried);
      claimedBeyond = true;
    }
    // The map on the disk says so before the image is made full length.
    if (claimedBeyond) view_.SaveMap(map_);
  }
  if (image_.Size() < map_.Size()) image_.SetSize(map_.Size());
  Guard guard(*this);
  try {
    if (ReadFileSystem(guard)) {
      while (ChosenPasses(guard)) {
        guard.watch = Guard::Watch::kNewUntried;
        guard.chosen = view_.Chosen();
        if (!EnginePass(guard, {})) {
          if (guard.userStop) break;
          continue;  // the chosen files changed: theirs first
        }
        if (earlierBad_.empty()) break;
        // Last, the sectors an earlier run found bad, once more (another
        // drive or a cleaned disc may read them).
        for (const MapArea& a : earlierBad_) map_.Set(a.pos, a.size, kNonScraped);
        earlierBad_.clear();
      }
    }
  } catch (const MediumGone&) {
    Save();
    throw;
  }
  result_.stopped = guard.userStop;
  // What the passes read of the file system's sectors is in the list before
  // the run ends.
  if (!result_.stopped) Relist(true);
  Save();
  return result_;
}

namespace {
struct PassStopped {};
}  // namespace

bool DiscImageRun::ReadFileSystem(Guard& guard) {
  guard.watch = Guard::Watch::kNothing;
  ImageSectors sectors(image_, map_, device_, guard);
  auto account = [&] {
    result_.reads += sectors.DeviceReads();
    result_.failedReads += sectors.FailedReads();
  };
  sectors.afterDeviceRead = [&] {
    // The first failure: the image alone no longer says what was read.
    if (sectors.FailedReads() > 0 && !mapSaved_) Save();
    if (pacer_.Step([&] { guard.Pump(); }, [&] { guard.Refresh(); }, [&] { return guard.StopRequested(); }))
      throw PassStopped{};
  };
  try {
    KeepTo(options_.layout ? *options_.layout : FindDiscLayout(sectors));
    if (!wholeDisc_) sectors.keepTo = areas_;
    // Sectors the image has already are no device reads: the window is
    // paced between them too.
    tree_ = ReadDiscTree(sectors, layout_, [&] {
      return pacer_.Step([&] { guard.Pump(); }, [&] { guard.Refresh(); }, [&] { return guard.StopRequested(); });
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
  result_.failedBeforeList = result_.failedReads;
  if (guard.StopRequested()) return false;
  view_.Listed(tree_);
  result_.listed = true;
  return true;
}

void DiscImageRun::KeepTo(DiscLayout layout) {
  layout_ = std::move(layout);
  areas_ = DataBytes(layout_, map_.Size());
  wholeDisc_ = CoversAll(areas_, map_.Size());
  if (!wholeDisc_) {
    // A gap or an audio track is never unreadable, and never read again.
    ClearOutside(map_, areas_);
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
  if (!result_.listed || unread_.empty()) return;
  if (!due && clock_.Milliseconds() < nextRelistMs_) return;
  const bool readNow = std::any_of(unread_.begin(), unread_.end(), [&](int64_t s) {
    const auto a = map_.NextArea(s * kDiscSectorSize, kFinished);
    return a && a->pos == s * kDiscSectorSize && a->size >= kDiscSectorSize;
  });
  if (!readNow) return;
  const int64_t began = clock_.Milliseconds();
  ImageSectors sectors(image_, map_, view_);
  if (!wholeDisc_) sectors.keepTo = areas_;
  try {
    // The window answers meanwhile; a stop keeps the tree as it was.
    tree_ = ReadDiscTree(sectors, layout_, [&] {
      if (pacer_.Tick() & Pacer::kPump) view_.Pump();
      return view_.StopRequested();
    });
  } catch (const DiscListingStopped&) {
    return;
  }
  unread_ = sectors.Missing();
  const int64_t now = clock_.Milliseconds();
  // However often sectors come, reading the tree again takes at most about
  // a twentieth of the run's time.
  nextRelistMs_ = now + 20 * (now - began);
  view_.Listed(tree_);
}

bool DiscImageRun::ChosenPasses(Guard& guard) {
  for (;;) {
    std::vector<DiscExtent> chosen = view_.Chosen();
    if (!HasUntried(map_, InData(chosen))) return true;
    guard.watch = Guard::Watch::kAnyChange;
    guard.chosen = chosen;
    if (!EnginePass(guard, chosen) && guard.userStop) return false;
  }
}

bool DiscImageRun::EnginePass(Guard& guard, const std::vector<DiscExtent>& within) {
  guard.chosenChanged = false;
  RescueOptions options;
  options.largeBlock = options_.largeBlock;
  options.sectorSize = options_.sectorSize;
  options.saveIntervalMs = options_.saveIntervalMs;
  options.mapOnDisk = mapSaved_;
  // A drive fails sectors whole: nothing below the sector is ever tried.
  options.partialReads = PartialReads::kNo;
  if (!within.empty()) {
    options.within = SectorRanges(within, static_cast<int64_t>(options_.sectorSize), map_.Size());
    if (!wholeDisc_) options.within = Inside(options.within, areas_);
    if (options.within.empty()) return true;
  } else if (!wholeDisc_) {
    // Only the data areas; none (a disc of audio alone): nothing to read.
    options.within = areas_;
    if (options.within.empty()) return true;
  }
  RescueEngine engine(device_, image_, map_, clock_, pacer_, guard, options);
  RescueResult r;
  try {
    r = engine.Run();
  } catch (...) {
    result_.reads += engine.Result().reads;
    result_.failedReads += engine.Result().failedReads;
    throw;
  }
  result_.reads += r.reads;
  result_.failedReads += r.failedReads;
  if (within.empty() && !wholeDisc_ && !r.stopped) {
    // The data areas are the whole of what is read: the run's pass is done.
    map_.currentStatus = kFinished;
    map_.currentPos = map_.Size();
  }
  return !r.stopped;
}

// ---- files out of the image ----

RescueMap ExtractFile(const DiscEntry& entry, IFile& image, const RescueMap& imageMap, IFile& out) {
  const int64_t size = std::max<int64_t>(0, entry.size);
  RescueMap map(size, kNonTried);
  if (out.Size() > 0) out.SetSize(0);
  std::vector<unsigned char> buffer(64 * 1024);
  int64_t at = 0;  // where the extent in hand begins in the file
  for (const DiscExtent& x : entry.extents) {
    if (at >= size) break;
    const int64_t length = std::min(std::max<int64_t>(0, x.size), size - at);
    if (x.pos == DiscExtent::kZeros) {
      map.Set(at, length, kFinished);
    } else if (x.pos == DiscExtent::kUnknown) {
      map.Set(at, length, kNonTried);  // zeros, not read
    } else if (x.pos < 0) {
      map.Set(at, length, kBadSector);
    } else {
      EachStatus(imageMap, x.pos, x.pos + length, [&](int64_t p, int64_t e, char status) {
        map.Set(at + p - x.pos, e - p, status);
        if (status != kFinished) return;
        for (int64_t q = p; q < e;) {
          const size_t want = static_cast<size_t>(std::min<int64_t>(e - q, static_cast<int64_t>(buffer.size())));
          image.Seek(q);
          const size_t got = image.Read(buffer.data(), want);
          if (got == 0) throw FileError("Read beyond end of file", 38);
          out.Seek(at + q - x.pos);
          if (out.Write(buffer.data(), got) != got) throw DiskFullError();
          q += static_cast<int64_t>(got);
        }
      });
    }
    at += length;
  }
  // Extents that give fewer bytes than the file's size: the rest is nowhere.
  if (at < size) map.Set(at, size - at, kBadSector);
  if (out.Size() != size) out.SetSize(size);
  return map;
}

std::string VolumeFolderName(const std::string& label) { return label.empty() ? "Płyta" : SafeName(label); }

ExtractNames::ExtractNames(std::string root, std::function<std::string(const std::string&)> nameKey)
    : root_(std::move(root)), nameKey_(nameKey ? std::move(nameKey) : LowerAscii) {}

bool ExtractNames::Taken(const std::string& path) const {
  return given_.count(nameKey_(path)) != 0 || given_.count(nameKey_(MapPathFor(path))) != 0;
}

std::string ExtractNames::PathFor(const std::string& entryPath) {
  // Each part of the disc's path made a name Windows takes; none climbs out
  // of the root.
  std::string path = root_;
  size_t from = entryPath.empty() || entryPath[0] != '\\' ? 0 : 1;
  for (;;) {
    const size_t slash = entryPath.find('\\', from);
    path += "\\" + SafeName(entryPath.substr(from, slash == std::string::npos ? std::string::npos : slash - from));
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  if (Taken(path)) {
    const std::string first = path;
    for (int n = 2; Taken(path = NumberedName(first, n)); ++n) {
    }
  }
  given_.insert(nameKey_(path));
  given_.insert(nameKey_(MapPathFor(path)));
  return path;
}

}  // namespace sk
