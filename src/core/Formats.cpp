#include "core/Formats.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace sk {
namespace {

struct Unit {
  int64_t size;
  const char* text;
};

Unit UnitFor(int64_t n, const char* b, const char* k, const char* m, const char* g) {
  if (n < 1024) return {1, b};
  if (n < 1048576) return {1024, k};
  if (n < 1073741824) return {1048576, m};
  return {1073741824, g};
}

}  // namespace

std::string FormatSize(int64_t bytes, const std::string& decimalSeparator) {
  const Unit unit = UnitFor(bytes, " B", " kB", " MB", " GB");
  // Hundredths of the unit, rounded half away from zero, in integers so that
  // no floating-point error decides a rounding.
  const bool negative = bytes < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  const uint64_t u = static_cast<uint64_t>(unit.size);
  const uint64_t whole = magnitude / u;
  const uint64_t rest = magnitude % u;
  const uint64_t hundredths = whole * 100 + (rest * 200 + u) / (2 * u);
  const uint64_t integerPart = hundredths / 100;
  const unsigned decimals = static_cast<unsigned>(hundredths % 100);

  std::string text;
  if (negative && hundredths != 0) text += '-';
  if (integerPart != 0) text += std::to_string(integerPart);
  if (decimals != 0) {
    text += decimalSeparator;
    text += static_cast<char>('0' + decimals / 10);
    if (decimals % 10 != 0) text += static_cast<char>('0' + decimals % 10);
  }
  text += unit.text;
  return text;
}

std::string FormatElapsed(int64_t seconds) {
  if (seconds < 60) return std::to_string(seconds) + " sek";
  if (seconds < 3600) return std::to_string(seconds / 60) + " min";
  return std::to_string(seconds / 3600) + " godz";
}

std::string FormatRemaining(double seconds) {
  if (!(seconds >= 0)) seconds = 0;  // negative or not a number
  double value = seconds;
  const char* unit = " sek";
  if (seconds > 3599) {
    value = seconds / 3600;
    unit = " godz";
  } else if (seconds > 59) {
    value = seconds / 60;
    unit = " min";
  }
  const double limit = static_cast<double>(std::numeric_limits<int64_t>::max() / 2);
  const int64_t figure = value >= limit ? static_cast<int64_t>(limit) : static_cast<int64_t>(value);
  return std::to_string(figure) + unit;
}

std::string FormatByteCount(int64_t bytes) {
  const Unit unit = UnitFor(bytes, " B", " KB", " MB", " GB");
  const double q = static_cast<double>(bytes) / static_cast<double>(unit.size);
  // Fifteen significant digits, trailing zeros dropped, as a general number
  // format writes a double; then cut two characters after the comma.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", q);
  std::string text = buffer;
  const auto point = text.find('.');
  if (point != std::string::npos) {
    text[point] = ',';
    if (text.size() > point + 3) text.resize(point + 3);
  }
  return text + unit.text;
}

int64_t ElapsedSeconds(double nowDays, double startDays) {
  const double seconds = std::fabs(nowDays - startDays) * 86400.0;
  if (!(seconds < 9.0e18)) return 0;
  return static_cast<int64_t>(seconds);
}

}  // namespace sk
