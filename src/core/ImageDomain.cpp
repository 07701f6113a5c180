#include "core/ImageDomain.h"

#include <algorithm>

#include "core/DiscTree.h"

namespace sk {
namespace {

// "1 sesja", "2 sesje", "5 sesji": the Polish plural of a count.
std::string Counted(int64_t n, const char* one, const char* few, const char* many) {
  const int64_t tens = n % 100, units = n % 10;
  const char* word = n == 1 ? one : units >= 2 && units <= 4 && (tens < 12 || tens > 14) ? few : many;
  return std::to_string(n) + " " + word;
}

}  // namespace

ByteAreas DataBytes(const DiscLayout& layout, int64_t discBytes) {
  const int64_t sectors = (discBytes + kDiscSectorSize - 1) / kDiscSectorSize;
  ByteAreas areas;
  for (const auto& [first, end] : layout.DataAreas(sectors))
    areas.emplace_back(first * kDiscSectorSize, std::min(end * kDiscSectorSize, discBytes));
  return areas;
}

bool CoversAll(const ByteAreas& areas, int64_t size) {
  return size <= 0 || (areas.size() == 1 && areas[0].first <= 0 && areas[0].second >= size);
}

ByteAreas Inside(const ByteAreas& ranges, const ByteAreas& areas) {
  ByteAreas out;
  for (const auto& range : ranges) {
    const int64_t from = range.first, to = range.second;
    const auto first = std::partition_point(areas.begin(), areas.end(), [&](const auto& a) { return a.second <= from; });
    for (size_t k = static_cast<size_t>(first - areas.begin()); k < areas.size() && areas[k].first < to; ++k) {
      const int64_t f = std::max(from, areas[k].first), t = std::min(to, areas[k].second);
      if (f < t) out.emplace_back(f, t);
    }
  }
  return out;
}

AreaTotals TotalsInside(const RescueMap& map, const ByteAreas& areas) {
  AreaTotals totals;
  for (const auto& [from, to] : areas) {
    for (int64_t p = std::max<int64_t>(from, 0); p < std::min(to, map.Size());) {
      const MapArea a = map.AreaAt(p);
      const int64_t e = std::min(a.end(), to), n = e - p;
      switch (a.status) {
        case kNonTried: totals.untried += n; break;
        case kNonTrimmed: totals.nonTrimmed += n; break;
        case kNonScraped: totals.nonScraped += n; break;
        case kBadSector: totals.bad += n; break;
        case kFinished: totals.finished += n; break;
      }
      p = e;
    }
  }
  return totals;
}

bool ClearOutside(RescueMap& map, const ByteAreas& areas) {
  bool changed = false;
  int64_t at = 0;
  auto clear = [&](int64_t from, int64_t to) {
    for (int64_t p = from; p < to;) {
      const MapArea a = map.AreaAt(p);
      const int64_t e = std::min(a.end(), to);
      if (a.status != kFinished && a.status != kNonTried) {
        map.Set(p, e - p, kNonTried);
        changed = true;
      }
      p = e;
    }
  };
  for (const auto& [from, to] : areas) {
    clear(at, std::min(from, map.Size()));
    at = std::max(at, to);
  }
  clear(at, map.Size());
  return changed;
}

RescueMap DomainMap(const ByteAreas& areas, int64_t size) {
  RescueMap map(size, kNonTried);
  for (const auto& [from, to] : areas) map.Set(from, to - from, kFinished);
  map.currentStatus = kFinished;
  return map;
}

std::string DomainMapPathFor(const std::string& image) { return image + ".domain.map"; }

std::string LayoutText(const DiscLayout& layout) {
  std::string text;
  const int sessions = layout.Sessions();
  if (sessions > 1) text = Counted(sessions, "sesja", "sesje", "sesji") + " (przerw między nimi się nie czyta)";
  if (const int audio = layout.AudioTracks(); audio > 0) {
    const int64_t seconds = layout.AudioSectors() / 75;
    text += (text.empty() ? "" : ", ") + Counted(audio, "ścieżka audio", "ścieżki audio", "ścieżek audio") + " (" +
            std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s) poza obrazem";
  }
  if (text.empty()) return text;
  return "Płyta: " + text + (layout.fromDrive ? "; układ z napędu" : "; układ odczytany z płyty");
}

}  // namespace sk
