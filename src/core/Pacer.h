// When a copy loop lets the window work. Window work costs far more than a
// small read and write, so it is paced by time: messages are pumped when at
// least `pumpMs` have passed since the last pump, and the display is brought
// up to date at most every `refreshMs`. A loop that says when it has made a
// refresh (RefreshMade) keeps the window's share of its time under about a
// tenth: the next Tick measures what the refresh cost, and the next refresh
// waits twenty times that (leaving room for the pumps and the refresh at the
// end of a file), but never longer than `longestRefreshMs`.
#pragma once
#include <cstdint>

#include "core/Clock.h"

namespace sk {

class Pacer {
 public:
  enum : unsigned { kNone = 0, kPump = 1, kRefresh = 2 };

  explicit Pacer(IClock& clock, int pumpMs = 10, int refreshMs = 100, int longestRefreshMs = 250);
  // Read the clock; say what is due now (kPump and/or kRefresh), and count it
  // as done.
  unsigned Tick();
  // Start the intervals afresh (e.g. after a refresh made for another reason).
  void Restart();
  // The refresh that Tick made due has just been made.
  void RefreshMade() { measuring_ = true; }

  // One step of a loop's window work, the same in every loop: the clock is
  // read (Tick), `pump` and `refresh` run when they are due, then `stop` is
  // asked whether the loop ends here, and its answer returned. The callables
  // are inlined: a step costs one clock read and the stop check.
  template <typename Pump, typename Refresh, typename Stop>
  bool Step(Pump&& pump, Refresh&& refresh, Stop&& stop) {
    const unsigned due = Tick();
    if (due & kPump) pump();
    if (due & kRefresh) refresh();
    return stop();
  }

 private:
  int64_t Now();
  IClock& clock_;
  bool counter_ = false;
  int64_t pumpTicks_ = 0, refreshTicks_ = 0, longestRefreshTicks_ = 0;
  int64_t refreshInterval_ = 0;
  int64_t lastPump_ = 0, lastRefresh_ = 0;
  bool measuring_ = false;
};

}  // namespace sk
