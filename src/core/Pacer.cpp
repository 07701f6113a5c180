#include "core/Pacer.h"

#include <algorithm>

namespace sk {

Pacer::Pacer(IClock& clock, int pumpMs, int refreshMs, int longestRefreshMs) : clock_(clock) {
  int64_t frequency = 0;
  counter_ = clock_.CounterFrequency(frequency) && frequency > 0;
  const int64_t perMs = counter_ ? (frequency + 999) / 1000 : 1;  // no counter: milliseconds
  pumpTicks_ = pumpMs * perMs;
  refreshTicks_ = refreshMs * perMs;
  longestRefreshTicks_ = std::max(refreshMs, longestRefreshMs) * perMs;
  refreshInterval_ = refreshTicks_;
  Restart();
}

int64_t Pacer::Now() { return counter_ ? clock_.Counter() : clock_.Milliseconds(); }

void Pacer::Restart() { lastPump_ = lastRefresh_ = Now(); }

unsigned Pacer::Tick() {
  const int64_t now = Now();
  if (measuring_) {
    // The time since the refresh was due is what it cost (with a step's work).
    measuring_ = false;
    refreshInterval_ = std::clamp((now - lastRefresh_) * 20, refreshTicks_, longestRefreshTicks_);
    lastRefresh_ = now;
  }
  unsigned due = kNone;
  if (now - lastPump_ >= pumpTicks_) {
    due |= kPump;
    lastPump_ = now;
  }
  if (now - lastRefresh_ >= refreshInterval_) {
    due |= kRefresh;
    lastRefresh_ = now;
  }
  return due;
}

}  // namespace sk
