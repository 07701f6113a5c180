// The update server's description file Update.ini: section [Update] with the
// keys Version (a whole number), URL (the package's address), PackageSHA256
// and UpdaterSHA256 (the SHA-256 of the package SKTRN.tmp and of the updater
// Swapit.exe, 64 hexadecimal figures each), PackageSize and UpdaterSize
// (their exact sizes in bytes), Expires (the last day, UTC, on
// which the description counts, YYYY-MM-DD) and Serial (a whole number that
// grows with every published description).
#pragma once
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sk {

// The value of `key` in `section` of an INI text, as the profile functions
// read it: section and key names compared without regard to letter case, the
// first matching section and key win, blanks around the value trimmed, one
// pair of enclosing quotes removed. Lines starting with ';' are comments.
// Empty when the section or the key is missing.
std::optional<std::string> IniValue(std::string_view text, std::string_view section, std::string_view key);

// A whole number as the program reads it from an INI file: decimal, or
// hexadecimal after "$", "0x" or "0X", with an optional sign; hexadecimal
// figures are 32-bit patterns ("$FFFFFFFF" is -1). Anything else, and a
// figure out of the 32-bit range, gives `fallback`.
int ParseIniInteger(std::string_view text, int fallback);

// 64 hexadecimal figures (either letter case, blanks around them allowed) as
// the 32 bytes they spell; nullopt for anything else.
std::optional<std::string> ParseSha256Hex(std::string_view text);

// A day of the Gregorian calendar.
struct CivilDate {
  int year = 0, month = 0, day = 0;
  auto operator<=>(const CivilDate&) const = default;
};

// "YYYY-MM-DD" (blanks around it allowed) naming a real day; nullopt for
// anything else.
std::optional<CivilDate> ParseIsoDate(std::string_view text);

// Decimal figures only (blanks around them allowed), at most `max`; nullopt
// for anything else.
std::optional<uint64_t> ParseWholeNumber(std::string_view text, uint64_t max);

struct UpdateDescription {
  int version;      // kUpdateVersion when missing or unreadable
  std::string url;  // empty when missing
  // The 32 bytes of each SHA-256; empty when the key is missing or unreadable.
  std::string packageSha256;
  std::string updaterSha256;
  // Each nullopt when the key is missing or unreadable.
  std::optional<int64_t> packageSize;
  std::optional<int64_t> updaterSize;
  std::optional<CivilDate> expires;
  std::optional<uint32_t> serial;
};

UpdateDescription ReadUpdateDescription(std::string_view iniText);

}  // namespace sk
