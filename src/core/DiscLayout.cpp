#include "core/DiscLayout.h"

#include <algorithm>

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
  std::sort(areas.begin(), areas.end());
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& a : areas) {
    if (!merged.empty() && a.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, a.second);
    else
      merged.push_back(a);
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

DiscLayout FindDiscLayout(ISectorSource& disc) {
  // Not probed yet: one data area over the whole disc.
  (void)disc;
  return {};
}

}  // namespace sk
