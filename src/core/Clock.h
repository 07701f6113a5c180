// Time as the copy loops read it: the local date-time (for elapsed time) and a
// high-resolution counter (for remaining-time estimates and pacing the window).
#pragma once
#include <cstdint>

namespace sk {

class IClock {
 public:
  virtual ~IClock() = default;
  // Local date-time in days since 1899-12-30, fraction = time of day.
  virtual double Now() = 0;
  // The high-resolution counter's frequency; false when there is no such counter.
  virtual bool CounterFrequency(int64_t& frequency) = 0;
  virtual int64_t Counter() = 0;
  // A monotonic millisecond clock, for when there is no high-resolution counter.
  virtual int64_t Milliseconds() = 0;
};

}  // namespace sk
