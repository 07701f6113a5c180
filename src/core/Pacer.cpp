#include "core/Pacer.h"

namespace sk {

Pacer::Pacer(IClock& clock, int pumpMs, int refreshMs) : clock_(clock) {
  int64_t frequency = 0;
  counter_ = clock_.CounterFrequency(frequency) && frequency > 0;
  const int64_t perMs = counter_ ? (frequency + 999) / 1000 : 1;  // no counter: milliseconds
  pumpTicks_ = pumpMs * perMs;
  refreshTicks_ = refreshMs * perMs;
  Restart();
}

int64_t Pacer::Now() { return counter_ ? clock_.Counter() : clock_.Milliseconds(); }

void Pacer::Restart() { lastPump_ = lastRefresh_ = Now(); }

unsigned Pacer::Tick() {
  const int64_t now = Now();
  unsigned due = kNone;
  if (now - lastPump_ >= pumpTicks_) {
    due |= kPump;
    lastPump_ = now;
  }
  if (now - lastRefresh_ >= refreshTicks_) {
    due |= kRefresh;
    lastRefresh_ = now;
  }
  return due;
}

}  // namespace sk
