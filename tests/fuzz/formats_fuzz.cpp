// Fuzz target: the size texts over every 64-bit value, checked against the
// rules they must keep whatever the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Formats.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  int64_t n = 0;
  std::memcpy(&n, data, 8);
  double seconds = 0;
  if (size >= 16) std::memcpy(&seconds, data + 8, 8);

  const std::string s = sk::FormatSize(n);
  Check(EndsWith(s, " B") || EndsWith(s, " kB") || EndsWith(s, " MB") || EndsWith(s, " GB"));
  const auto comma = s.find(',');
  if (comma != std::string::npos) Check(s.find(' ') - comma - 1 <= 2);

  const std::string b = sk::FormatByteCount(n);
  Check(EndsWith(b, " B") || EndsWith(b, " KB") || EndsWith(b, " MB") || EndsWith(b, " GB"));
  const auto bc = b.find(',');
  if (bc != std::string::npos) Check(b.find(' ') - bc - 1 <= 2);
  Check(b.find('e') == std::string::npos && b.find("nan") == std::string::npos);

  Check(!sk::FormatRemaining(seconds).empty());
  if (n >= 0) Check(!sk::FormatElapsed(n).empty());
  return 0;
}
