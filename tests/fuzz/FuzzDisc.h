// The disc the file system fuzz targets read: a sparse image from the fuzz
// input, some of its sectors declared unreadable. The input: the disc's
// length in sectors (2 bytes, little-endian), the number of unreadable
// sectors (1 byte) and their numbers (2 bytes each), then pieces of the
// image: a sector's number and the length of the piece (2 bytes each), then
// that many bytes from the sector's start (at most 2048). Bytes no piece
// gives are zeros.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/DiscLayout.h"
#include "core/DiscRead.h"
#include "core/DiscTree.h"

namespace sk::fuzz {

struct FuzzDisc : ISectorSource {
  int64_t count = 0;
  std::set<int64_t> missing;
  std::map<int64_t, std::vector<unsigned char>> sectors;

  FuzzDisc(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto u16 = [&]() -> int64_t {
      if (at + 2 > size) return -1;
      const int64_t v = data[at] | data[at + 1] << 8;
      at += 2;
      return v;
    };
    count = std::max<int64_t>(u16(), 0);
    if (at < size) {
      const int k = data[at++];
      for (int i = 0; i < k; ++i) missing.insert(u16());
    }
    while (at + 4 <= size) {
      const int64_t s = u16();
      const size_t n = std::min<size_t>({static_cast<size_t>(std::max<int64_t>(u16(), 0)), size_t{kDiscSectorSize}, size - at});
      auto& b = sectors[s];
      b.assign(kDiscSectorSize, 0);
      std::memcpy(b.data(), data + at, n);
      at += n;
    }
  }
  int64_t SectorCount() override { return count; }
  bool ReadSector(int64_t sector, unsigned char* out) override {
    if (sector < 0 || sector >= count || missing.count(sector)) return false;
    auto it = sectors.find(sector);
    if (it == sectors.end())
      std::memset(out, 0, kDiscSectorSize);
    else
      std::memcpy(out, it->second.data(), kDiscSectorSize);
    return true;
  }
};

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// What a list of the disc's entries must keep whatever the disc holds.
inline void CheckEntries(const std::vector<DiscEntry>& entries, int64_t discBytes) {
  for (const DiscEntry& e : entries) {
    Check(!e.path.empty() && e.path[0] == '\\');
    for (unsigned char c : e.path) Check(c >= 0x20 && c != 0x7F && !std::strchr("<>:\"/|?*", c));
    Check(e.path.find("\\\\") == std::string::npos);
    int64_t total = 0;
    for (const DiscExtent& x : e.extents) {
      Check(x.size > 0);
      Check(x.pos == DiscExtent::kZeros || x.pos == DiscExtent::kOutside || x.pos == DiscExtent::kUnknown ||
            (x.pos >= 0 && x.pos + x.size <= discBytes));
      total += x.size;
    }
    Check(total == e.size && e.size >= 0);
    Check(!e.unknown || e.extents.empty());
  }
}

inline void CheckTree(const DiscTree& tree, int64_t discBytes) {
  CheckEntries(tree.entries, discBytes);
  for (size_t i = 1; i < tree.entries.size(); ++i)
    Check(CompareDiscPaths(tree.entries[i - 1].path, tree.entries[i].path) <= 0);
  for (size_t i = 0; i < tree.system.size(); ++i) {
    const DiscExtent& x = tree.system[i];
    Check(x.pos >= 0 && x.size > 0 && x.pos + x.size <= discBytes && x.pos % kDiscSectorSize == 0);
    if (i > 0) Check(tree.system[i - 1].pos + tree.system[i - 1].size < x.pos);
  }
}

// One reader (`read(sectors, listing)`) over the input's disc, then the whole tree.
template <class Read>
int FuzzReader(const uint8_t* data, size_t size, Read read) {
  FuzzDisc disc(data, size);
  {
    disc::Sectors sectors(disc);
    disc::Listing listing(sectors.DiscBytes());
    read(sectors, listing);
    CheckEntries(listing.entries, sectors.DiscBytes());
  }
  CheckTree(ReadDiscTree(disc), disc.SectorCount() * kDiscSectorSize);
  // The sessions the disc's own file systems tell, and the tree they give.
  const DiscLayout layout = FindDiscLayout(disc);
  for (const DiscTrack& t : layout.tracks) Check(t.start >= 0 && t.length > 0 && t.start + t.length <= disc.count);
  CheckTree(ReadDiscTree(disc, layout), disc.SectorCount() * kDiscSectorSize);
  return 0;
}

}  // namespace sk::fuzz
