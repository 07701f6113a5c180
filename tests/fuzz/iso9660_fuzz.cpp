// Fuzz target: the ISO 9660 reader (primary, Joliet, Rock Ridge, path tables)
// over a disc from the input with some sectors unreadable, then the whole tree.
#include <string>

#include "fuzz/FuzzDisc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return sk::fuzz::FuzzReader(data, size, [](sk::disc::Sectors& sectors, sk::disc::Listing& listing) {
    std::string label;
    sk::disc::ReadIso9660(sectors, listing, label);
  });
}
