// What the disc image's parts share about the disc's extents and the map
// over them (not for the windows).
#pragma once
#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/DiscTree.h"
#include "core/RescueMap.h"

namespace sk::image {

inline bool OnDisc(const DiscExtent& x) { return x.pos >= 0 && x.size > 0; }
// Where an extent on the disc ends, kept from overflowing.
inline int64_t EndOf(const DiscExtent& x) {
  return x.size > std::numeric_limits<int64_t>::max() - x.pos ? std::numeric_limits<int64_t>::max() : x.pos + x.size;
}

inline bool NotTried(char status) { return status == kNonTried || status == kNonTrimmed || status == kNonScraped; }

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

}  // namespace sk::image
