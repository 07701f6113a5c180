// Display texts for byte counts and durations shown in the windows.
#pragma once
#include <cstdint>
#include <string>

namespace sk {

// Byte count with one of " B", " kB", " MB", " GB": two decimals at most, a half
// rounded away from zero, no digit for a zero integer part ("0" gives " B").
// `decimalSeparator` is the user's regional one ("," under Polish settings).
std::string FormatSize(int64_t bytes, const std::string& decimalSeparator = ",");

// Whole seconds: "N sek", "N min" (below an hour) or "N godz", truncated.
std::string FormatElapsed(int64_t seconds);

// Estimated seconds left: the thresholds compare the unrounded value with 59
// and 3599, the figure is truncated ("59.5" gives "0 min").
std::string FormatRemaining(double seconds);

// The resume window's own byte count: " B", " KB", " MB", " GB", the quotient
// written with a decimal comma and cut (not rounded) two digits after it.
std::string FormatByteCount(int64_t bytes);

// Whole seconds between two local date-times given in days, absolute and
// truncated toward zero.
int64_t ElapsedSeconds(double nowDays, double startDays);

}  // namespace sk
