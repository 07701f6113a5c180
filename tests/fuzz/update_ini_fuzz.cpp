// Fuzz target: reading Update.ini and the version rules on any text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Text.h"
#include "core/UpdateIni.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sk::UpdateDescription d = sk::ReadUpdateDescription(text);
  if (d.url.find('\n') != std::string::npos) std::abort();  // a value never spans lines
  for (const std::string* hash : {&d.packageSha256, &d.updaterSha256}) {
    if (!hash->empty() && hash->size() != 32) std::abort();  // a whole SHA-256 or nothing
  }
  for (const auto* size : {&d.packageSize, &d.updaterSize}) {
    if (*size && **size < 0) std::abort();
  }
  // A date that reads names a real day, written back as it was given.
  if (const auto date = sk::ParseIsoDate(text)) {
    char again[16];
    std::snprintf(again, sizeof again, "%04d-%02d-%02d", date->year, date->month, date->day);
    const size_t at = text.find_first_not_of(" \t");
    if (text.substr(at, 10) != again || date->month < 1 || date->month > 12 || date->day < 1) std::abort();
  }
  // A version text alone: the fallback or a parsed figure, never a crash.
  (void)sk::ParseIniInteger(text, sk::kUpdateVersion);
  (void)sk::IniValue(text, text.substr(0, size / 2), text.substr(size / 2));
  return 0;
}
