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

// A dear refresh spaces the next one to twenty times its cost (measured by
// the next Tick), from its end, between 100 and 250 ms.
TEST(Pacer, ADearRefreshWaitsTwentyTimesItsCost) {
  struct Case {
    int64_t costUs, dueAfterUs;
  };
  for (const Case& c : {Case{0, 100000}, Case{4000, 100000}, Case{8000, 160000}, Case{40000, 250000}}) {
    ManualClock clock;
    Pacer pacer(clock);
    clock.ticks = 100000;
    ASSERT_TRUE(pacer.Tick() & Pacer::kRefresh);
    pacer.RefreshMade();
    clock.ticks += c.costUs;
    EXPECT_FALSE(pacer.Tick() & Pacer::kRefresh) << c.costUs;
    clock.ticks += c.dueAfterUs - 1;
    EXPECT_FALSE(pacer.Tick() & Pacer::kRefresh) << c.costUs;
    clock.ticks += 1;
    EXPECT_TRUE(pacer.Tick() & Pacer::kRefresh) << c.costUs;
  }
}

}  // namespace
}  // namespace sk
