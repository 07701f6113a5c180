#include "core/DiscTree.h"

namespace sk {

DiscTree ReadDiscTree(ISectorSource&) { return DiscTree{}; }

}  // namespace sk
