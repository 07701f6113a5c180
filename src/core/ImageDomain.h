// What of a disc the image run reads: its data areas (the data tracks of its
// layout), in bytes. The gaps between sessions and audio tracks hold no
// 2048-byte sectors; they keep their addresses in the image (zeros) and stay
// '?' in its map, never '-': the map stays true in GNU ddrescue's format,
// and a domain mapfile beside the image ("<image>.domain.map", '+' over the
// data areas) keeps ddrescue continuing the image (`ddrescue -b 2048 -m
// DOMAIN DEVICE IMAGE MAP`) to them as well.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/DiscLayout.h"
#include "core/RescueMap.h"

namespace sk {

// Byte ranges [first, end), sorted and merged.
using ByteAreas = std::vector<std::pair<int64_t, int64_t>>;

// The layout's data areas in bytes, clipped to a disc of `discBytes`.
ByteAreas DataBytes(const DiscLayout& layout, int64_t discBytes);
// Whether `areas` cover [0, size) whole.
bool CoversAll(const ByteAreas& areas, int64_t size);
// The parts of `ranges` inside `areas` (sorted, merged), in the order of
// `ranges`.
ByteAreas Inside(const ByteAreas& ranges, const ByteAreas& areas);
// The bytes of `map` inside `areas` of each status ('?', '*', '/', '-', '+'
// in that order).
struct AreaTotals {
  int64_t untried = 0, nonTrimmed = 0, nonScraped = 0, bad = 0, finished = 0;
  int64_t NotRead() const { return untried + nonTrimmed + nonScraped; }
};
AreaTotals TotalsInside(const RescueMap& map, const ByteAreas& areas);
// Marks every byte outside `areas` that is not read '?' (what a gap or an
// audio track holds is never unreadable); whether anything changed.
bool ClearOutside(RescueMap& map, const ByteAreas& areas);

// The domain mapfile: '+' over `areas`, '?' over the rest of `size` bytes.
RescueMap DomainMap(const ByteAreas& areas, int64_t size);
// "<image>.domain.map".
std::string DomainMapPathFor(const std::string& image);

// What the disc holds beyond its data, for the window: the sessions (and
// that the gaps between them are not read) and the audio tracks not imaged,
// with where the layout came from. Empty for a disc of one session of data.
std::string LayoutText(const DiscLayout& layout);

}  // namespace sk
