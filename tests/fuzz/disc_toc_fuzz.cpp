// Fuzz target: the drive's table of contents read from any bytes, as the
// full TOC and as the TOC with a session answer (the input split at its
// first byte). A layout always has tracks in order of number and place,
// each inside the disc's addresses and ending before the next begins, and
// its data areas lie inside any disc length asked.
#include <cstdint>
#include <cstdlib>

#include "core/DiscToc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckLayout(const std::optional<sk::DiscLayout>& layout) {
  if (!layout) return;
  Check(layout->fromDrive && !layout->tracks.empty());
  for (size_t i = 0; i < layout->tracks.size(); ++i) {
    const sk::DiscTrack& t = layout->tracks[i];
    Check(t.number >= 1 && t.number <= 99 && t.session >= 1 && t.session <= 99 && t.start >= 0 && t.length > 0);
    if (i > 0) {
      const sk::DiscTrack& p = layout->tracks[i - 1];
      Check(p.number < t.number && p.start + p.length <= t.start && p.session <= t.session);
    }
  }
  for (int64_t size : {int64_t{0}, int64_t{1000}, int64_t{400000}}) {
    int64_t end = 0;
    for (const auto& [from, to] : layout->DataAreas(size)) {
      Check(from >= end && from < to && to <= size);
      end = to;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckLayout(sk::LayoutFromFullToc(data, size));
  if (size == 0) return 0;
  const size_t split = std::min<size_t>(data[0], size - 1);
  const uint8_t* rest = data + 1;
  for (bool msf : {false, true}) CheckLayout(sk::LayoutFromToc(rest, split, rest + split, size - 1 - split, msf));
  return 0;
}
