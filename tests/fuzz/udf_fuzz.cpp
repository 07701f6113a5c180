// Fuzz target: the UDF reader (anchors, sequences, partitions with the
// metadata partition, file entries, folders) over a disc from the input with
// some sectors unreadable, then the whole tree.
#include <string>
#include <vector>

#include "fuzz/FuzzDisc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sk::fuzz::FuzzReader(data, size, [](sk::disc::Sectors& sectors, sk::disc::Listing& listing) {
    std::string label;
    std::vector<std::string> unknown;
    sk::disc::ReadUdf(sectors, listing, label, unknown);
  });
}
