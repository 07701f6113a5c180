#include "core/UpdateIni.h"

#include <cctype>
#include <cstdint>

#include "core/Text.h"

namespace sk {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> IniValue(std::string_view text, std::string_view section, std::string_view key) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool inSection = false;
  bool sectionSeen = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      if (inSection) return std::nullopt;  // the first matching section ended without the key
      inSection = !sectionSeen && SameName(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || !SameName(Trim(line.substr(0, eq)), key)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

int ParseIniInteger(std::string_view text, int fallback) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool hex = false;
  if (!text.empty() && text.front() == '$') {
    hex = true;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    text.remove_prefix(2);
  }
  if (text.empty()) return fallback;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = hex ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0) return fallback;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return fallback;
  }
  int64_t result;
  if (hex) {
    result = static_cast<int32_t>(static_cast<uint32_t>(value));  // a 32-bit pattern
  } else {
    if (value > (negative ? 2147483648ull : 2147483647ull)) return fallback;
    result = static_cast<int64_t>(value);
  }
  if (negative) result = -result;
  if (result < INT32_MIN || result > INT32_MAX) return fallback;
  return static_cast<int>(result);
}

std::optional<std::string> ParseSha256Hex(std::string_view text) {
  text = Trim(text);
  if (text.size() != 64) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::optional<uint64_t> ParseWholeNumber(std::string_view text, uint64_t max) {
  text = Trim(text);
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<CivilDate> ParseIsoDate(std::string_view text) {
  text = Trim(text);
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  const auto year = ParseWholeNumber(text.substr(0, 4), 9999);
  const auto month = ParseWholeNumber(text.substr(5, 2), 12);
  const auto day = ParseWholeNumber(text.substr(8, 2), 31);
  if (!year || !month || !day || *month < 1 || *day < 1) return std::nullopt;
  const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
  const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*day > static_cast<uint64_t>(days[*month - 1])) return std::nullopt;
  return CivilDate{static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day)};
}

UpdateDescription ReadUpdateDescription(std::string_view iniText) {
  UpdateDescription d{kUpdateVersion, {}, {}, {}, {}, {}, {}, {}};
  if (auto v = IniValue(iniText, "Update", "Version")) d.version = ParseIniInteger(*v, kUpdateVersion);
  if (auto u = IniValue(iniText, "Update", "URL")) d.url = *u;
  if (auto h = IniValue(iniText, "Update", "PackageSHA256")) d.packageSha256 = ParseSha256Hex(*h).value_or("");
  if (auto h = IniValue(iniText, "Update", "UpdaterSHA256")) d.updaterSha256 = ParseSha256Hex(*h).value_or("");
  for (auto [key, size] : {std::pair{"PackageSize", &d.packageSize}, std::pair{"UpdaterSize", &d.updaterSize}}) {
    if (auto v = IniValue(iniText, "Update", key)) {
      if (auto n = ParseWholeNumber(*v, INT64_MAX)) *size = static_cast<int64_t>(*n);
    }
  }
  if (auto e = IniValue(iniText, "Update", "Expires")) d.expires = ParseIsoDate(*e);
  if (auto n = IniValue(iniText, "Update", "Serial")) {
    if (auto serial = ParseWholeNumber(*n, UINT32_MAX)) d.serial = static_cast<uint32_t>(*serial);
  }
  return d;
}

}  // namespace sk
