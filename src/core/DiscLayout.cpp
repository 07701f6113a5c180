#include "core/DiscLayout.h"

#include <algorithm>
#include <cstring>

#include "core/DiscRead.h"
#include "core/DiscTree.h"

namespace sk {

int DiscLayout::Sessions() const {
  int n = 1;
  for (const DiscTrack& t : tracks) n = std::max(n, t.session);
  return n;
}

int64_t DiscLayout::LastDataSessionStart() const {
  int session = 0;
  for (const DiscTrack& t : tracks)
    if (!t.audio) session = std::max(session, t.session);
  for (const DiscTrack& t : tracks)
    if (t.session == session) return t.start;
  return 0;
}

std::vector<std::pair<int64_t, int64_t>> DiscLayout::DataAreas(int64_t sectorCount) const {
  std::vector<std::pair<int64_t, int64_t>> areas;
  if (tracks.empty()) {
    if (sectorCount > 0) areas.push_back({0, sectorCount});
    return areas;
  }
  for (const DiscTrack& t : tracks) {
    if (t.audio || t.length <= 0) continue;
    const int64_t from = std::clamp<int64_t>(t.start, 0, sectorCount);
    const int64_t to = std::clamp<int64_t>(t.start + t.length, from, sectorCount);
    if (from < to) areas.push_back({from, to});
  }
  return MergeRanges(std::move(areas));
}

std::vector<std::pair<int64_t, int64_t>> MergeRanges(std::vector<std::pair<int64_t, int64_t>> ranges) {
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

int DiscLayout::AudioTracks() const {
  return static_cast<int>(std::count_if(tracks.begin(), tracks.end(), [](const DiscTrack& t) { return t.audio; }));
}

int64_t DiscLayout::AudioSectors() const {
  int64_t n = 0;
  for (const DiscTrack& t : tracks)
    if (t.audio) n += t.length;
  return n;
}

namespace {

constexpr uint32_t kAnchorTag = 2, kPartitionTag = 5, kTerminatorTag = 8;

// What a session's file system says of the session's end, as sector
// numbers (an ISO 9660 volume space size may count from the session's
// first sector or from the disc's: both are given); empty when no file
// system begins at `start`.
class Probe {
 public:
  explicit Probe(ISectorSource& disc) : disc_(disc), n_(disc.SectorCount()) {}

  bool Read(int64_t sector) { return sector >= 0 && sector < n_ && disc_.ReadSector(sector, b_); }

  // A file system begins at `start`: the ends it gives (none known: {n_}).
  std::optional<std::vector<int64_t>> Ends(int64_t start) {
    // Nothing there (a gap, or audio): no other read.
    if (!Read(start + 16)) return std::nullopt;
    unsigned char first[6];
    std::memcpy(first, b_, sizeof first);
    // ISO 9660: the primary volume descriptor's volume space size.
    for (int64_t at = start + 16; at < start + 20 && (at == start + 16 || Read(at)); ++at) {
      if (std::memcmp(b_ + 1, "CD001", 5) != 0 || b_[0] == 255) break;
      if (b_[0] != 1 || !disc::IsVolumeDescriptor(b_)) continue;
      const int64_t size = disc::Le32(b_ + 80);
      std::vector<int64_t> ends{start + size};
      if (start > 0 && size > start) ends.push_back(size);
      return ends;
    }
    // UDF: its recognition sequence at + 16 (BEA01, or NSR standing alone),
    // then the anchor at + 256 (never probed in a gap) and its main
    // sequence's partitions.
    const bool recognised = std::memcmp(first + 1, "BEA01", 5) == 0 || std::memcmp(first + 1, "NSR0", 4) == 0;
    if (!recognised || !Read(start + 256) || !disc::TagOk(b_, kDiscSectorSize, kAnchorTag, start + 256))
      return std::nullopt;
    const int64_t length = disc::Le32(b_ + 16) / kDiscSectorSize, at = disc::Le32(b_ + 20);
    int64_t end = -1;
    for (int64_t i = 0; i < std::min<int64_t>(length, 8) && Read(at + i); ++i) {
      const uint32_t id = disc::Le16(b_);
      if (id == kTerminatorTag) break;
      if (id == kPartitionTag && disc::TagOk(b_, kDiscSectorSize, id, at + i))
        end = std::max<int64_t>(end, int64_t{disc::Le32(b_ + 188)} + disc::Le32(b_ + 192));
    }
    return std::vector<int64_t>{end < 0 ? n_ : end};
  }

  int64_t Count() const { return n_; }

 private:
  ISectorSource& disc_;
  int64_t n_;
  unsigned char b_[kDiscSectorSize];
};

}  // namespace

DiscLayout FindDiscLayout(ISectorSource& disc) {
  Probe probe(disc);
  const int64_t n = probe.Count();
  DiscLayout layout;
  std::optional<std::vector<int64_t>> ends = probe.Ends(0);
  if (!ends || n <= 0) return layout;
  int64_t start = 0;
  for (int session = 1; session <= 99; ++session) {
    // The next session after the gap: where the file system says this one
    // ends, or 2 sectors later (the run-out a track written at once leaves).
    const int64_t gap = session == 1 ? kFirstSessionGap : kLaterSessionGap;
    int64_t next = -1;
    std::optional<std::vector<int64_t>> nextEnds;
    for (int64_t end : *ends) {
      for (int64_t runOut : {0, 2}) {
        const int64_t at = end + runOut + gap;
        if (end <= start || at >= n || at <= start) continue;
        if ((nextEnds = probe.Ends(at))) {
          next = at;
          break;
        }
      }
      if (next >= 0) break;
    }
    DiscTrack t;
    t.number = t.session = session;
    t.start = start;
    t.length = (next >= 0 ? next - gap : n) - start;
    layout.tracks.push_back(t);
    if (next < 0) break;
    start = next;
    ends = std::move(nextEnds);
  }
  return layout;
}

}  // namespace sk
