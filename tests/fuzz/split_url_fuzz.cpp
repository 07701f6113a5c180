// Fuzz target: splitting any address into host and object path.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const sk::UrlParts parts = sk::SplitUrl(url);
  // Nothing is invented: host and path together come from the address.
  if (parts.host.size() + parts.path.size() > url.size()) std::abort();
  if (!parts.host.empty() && parts.host.find('/') != std::string::npos) std::abort();
  if (!parts.host.empty() && (parts.path.empty() || parts.path[0] != '/')) std::abort();
  return 0;
}
