#include "core/Pacer.h"

#include <gtest/gtest.h>

namespace sk {
namespace {

struct ManualClock : IClock {
  bool hasCounter = true;
  int64_t ticks = 0;  // counter at 1 MHz
  int64_t ms = 0;
  double Now() override { return 0; }
  bool CounterFrequency(int64_t& f) override {
    f = 1000000;
    return hasCounter;
  }
  int64_t Counter() override { return ticks; }
  int64_t Milliseconds() override { return ms; }
};

TEST(Pacer, PumpsEveryTenAndRefreshesEveryHundredMilliseconds) {
  ManualClock clock;
  Pacer pacer(clock);
  EXPECT_EQ(pacer.Tick(), Pacer::kNone);
  clock.ticks += 9999;
  EXPECT_EQ(pacer.Tick(), Pacer::kNone);
  clock.ticks += 1;
  EXPECT_EQ(pacer.Tick(), Pacer::kPump);
  EXPECT_EQ(pacer.Tick(), Pacer::kNone);  // counted as done
  clock.ticks = 100000;
  EXPECT_EQ(pacer.Tick(), Pacer::kPump | Pacer::kRefresh);
}

TEST(Pacer, FallsBackToTheMillisecondClock) {
  ManualClock clock;
  clock.hasCounter = false;
  clock.ticks = 1 << 30;  // never read
  Pacer pacer(clock);
  clock.ms = 10;
  EXPECT_EQ(pacer.Tick(), Pacer::kPump);
  clock.ms = 100;
  EXPECT_EQ(pacer.Tick(), Pacer::kPump | Pacer::kRefresh);
}

}  // namespace
}  // namespace sk
