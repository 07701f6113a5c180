// Fuzz target: the ISO 9660 reader (primary, Joliet, Rock Ridge, path tables) over a
// disc from the input with some sectors unreadable, then the whole tree.
#include <string>
#include <vector>

#include "core/DiscRead.h"
#include "fuzz/FuzzDisc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sk::fuzz::FuzzDisc disc(data, size);
  {
    sk::disc::Sectors sectors(disc);
    sk::disc::Listing listing(sectors.DiscBytes());
    std::string label;
    std::vector<std::string> unknown;
    sk::disc::ReadIso9660(sectors, listing, label);
    sk::fuzz::CheckEntries(listing.entries, sectors.DiscBytes());
  }
  sk::fuzz::CheckTree(sk::ReadDiscTree(disc), disc.SectorCount() * sk::kDiscSectorSize);
  return 0;
}
