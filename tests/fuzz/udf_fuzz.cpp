// Fuzz target: the UDF reader (anchors, sequences, partitions, file entries, folders) over a
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
    sk::disc::ReadUdf(sectors, listing, label, unknown);
    sk::fuzz::CheckEntries(listing.entries, sectors.DiscBytes());
  }
  sk::fuzz::CheckTree(sk::ReadDiscTree(disc), disc.SectorCount() * sk::kDiscSectorSize);
  return 0;
}
