#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/LevelCopy.h"
#include "core/Rescue.h"
#include "core/CopyFakes.h"
#include "core/MediumFakes.h"

namespace sk {
namespace {

using fake::Medium;
using fake::Range;
using fake::Target;

// What a saved map may say: every byte it calls finished is in the
// destination as the source has it.
std::string FinishedMismatch(const RescueMap& map, const Target& target) {
  for (const auto& a : map.Areas()) {
    if (a.status != '+') continue;
    for (int64_t i = a.pos; i < a.end(); ++i)
      if (i >= static_cast<int64_t>(target.bytes.size()) || target.bytes[i] != Medium::Byte(i))
        return "finished byte " + std::to_string(i) + " not in the destination";
  }
  return "";
}

struct Rig : IRescueView {
  Medium medium;
  Target target;
  fake::Clock clock;
  Pacer pacer{clock};
  RescueMap map;
  std::vector<std::string> saveProblems;
  Pacer* otherPacer = nullptr;  // in place of `pacer`
  std::vector<int64_t> savedAt;  // the clock's milliseconds at each save
  int saves = 0, advances = 0, pumps = 0, refreshes = 0;
  int stopAtStep = 0, steps = 0;
  std::vector<int64_t> copyReads;  // where each read of the copy pass began

  void Advanced(const RescueMap& m) override {
    ++advances;
    if (m.currentStatus == kNonTried) copyReads.push_back(m.currentPos);
  }
  void Pump() override { ++pumps; }
  void Refresh() override { ++refreshes; }
  bool StopRequested() override { return stopAtStep > 0 && ++steps >= stopAtStep; }
  void SaveMap(const RescueMap& m) override {
    ++saves;
    savedAt.push_back(clock.ms);
    const std::string problem = FinishedMismatch(m, target);
    if (!problem.empty()) saveProblems.push_back(problem);
    // The saved text is a whole map of the file.
    if (RescueMap::Parse(m.ToText()).Areas() != m.Areas()) saveProblems.push_back("text differs");
  }
  RescueResult Run(int level, RescueOptions options = {}) {
    options.level = level;
    options.sectorSize = RescueSectorOf(medium);  // as the runs take it
    RescueEngine engine(medium, target, map, clock, otherPacer ? *otherPacer : pacer, *this, options);
    return engine.Run();
  }
};

// After a whole run: the destination has the file's length, every finished
// byte is the source's, every other byte is zero, no unreadable byte is
// called finished, and a readable byte is given up only within the level's
// block size of damage (on a medium that fails the rescue's sectors whole,
// none beyond its bad sectors). On one that fails in smaller units than the
// rescue's sector, readable bytes between two unreadable ones inside a run of
// bad sectors may be given up too (places closer than the narrowing looks),
// never those next to a damaged place outside it.
std::string Check(const Rig& rig, int level) {
  const int64_t size = rig.medium.Length();
  const int64_t block = static_cast<int64_t>(BlockSize(level));
  const int64_t sector = static_cast<int64_t>(RescueSectorOf(const_cast<Medium&>(rig.medium)));
  const int64_t unit = rig.medium.sector > 0 ? rig.medium.sector : 1;  // what fails together
  const int64_t slack = unit >= sector ? 0 : block - 1;
  if (static_cast<int64_t>(rig.target.bytes.size()) != size) return "length " + std::to_string(rig.target.bytes.size());
  if (rig.map.Size() != size) return "map size";
  if (rig.map.Total('?') + rig.map.Total('*') + rig.map.Total('/') != 0) return "areas left untried";
  // The runs of bad sectors: from the first unreadable byte to the last.
  std::vector<Range> runs;
  if (unit > 1 && unit < sector) {
    for (const auto& r : rig.medium.bad) {
      const Range u{r.from / unit * unit, std::min(size, (r.to + unit - 1) / unit * unit)};
      if (!runs.empty() && u.from / sector <= (runs.back().to - 1) / sector + 1)
        runs.back().to = std::max(runs.back().to, u.to);
      else
        runs.push_back(u);
    }
  }
  auto nearDamage = [&](int64_t i) {
    for (const auto& r : rig.medium.bad)
      if (i >= r.from / unit * unit - slack && i < (r.to + unit - 1) / unit * unit + slack) return true;
    for (const auto& r : runs)
      if (i >= r.from && i < r.to) return true;
    return false;
  };
  for (const auto& a : rig.map.Areas()) {
    const bool finished = a.status == '+';
    for (int64_t i = a.pos; i < a.end(); ++i) {
      const char want = finished ? Medium::Byte(i) : '\0';
      if (rig.target.bytes[i] != want) return "byte " + std::to_string(i);
      if (finished && !rig.medium.Readable(i)) return "unreadable byte " + std::to_string(i) + " called finished";
      if (!finished && rig.medium.Readable(i) && !nearDamage(i))
        return "readable byte " + std::to_string(i) + " given up";
    }
  }
  return "";
}

std::vector<Range> Spots(int64_t first, int64_t every, int64_t length, int count) {
  std::vector<Range> spots;
  for (int k = 0; k < count; ++k) spots.push_back({first + k * every, first + k * every + length});
  return spots;
}
template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// The numbers from `first` to `last`, both included, up or down.
std::vector<int64_t> Count(int64_t first, int64_t last) {
  std::vector<int64_t> numbers;
  for (int64_t k = first;; k += first <= last ? 1 : -1) {
    numbers.push_back(k);
    if (k == last) return numbers;
  }
}

// Failing reads. On a medium that fails the rescue's sectors whole: at most
// what `ddrescue -b 2048` makes (-b 512 where the medium says 512), each
// damaged sector and each 64 KiB block holding damage once (of a long area,
// skipped ahead past, a few more than the log of its blocks), plus the read
// that may find out that no part of a sector reads. On one that fails in
// smaller units or byte by byte: that, plus a few per area for its edges
// below the sector size.
int FailureBudget(Medium& medium, int64_t large = 65536) {
  const int64_t sector = static_cast<int64_t>(RescueSectorOf(medium));
  std::set<int64_t> sectors, blocks;
  size_t skipping = 0;
  for (const auto& r : medium.bad) {
    for (int64_t i = r.from; i < r.to; ++i) sectors.insert(i / sector), blocks.insert(i / large);
    skipping += 2 + std::bit_width(static_cast<uint64_t>((r.to - 1) / large - r.from / large + 1));
  }
  const int budget = static_cast<int>(sectors.size() + std::min(blocks.size(), skipping)) + 1;
  return medium.sector >= sector ? budget : budget + 4 * static_cast<int>(medium.bad.size());
}

TEST(RescueEngine, ReadsEverythingReadableAroundDamage) {
  struct Case {
    const char* name;
    int64_t size;
    std::vector<Range> bad;
    int64_t largeBlock = 65536;
    // Where the copy pass reads, in large blocks (empty: not looked at).
    std::vector<int64_t> copyReads = {};
  };
  const int64_t K = 1024;
  const Case cases[] = {
      {"healthy", 200 * K + 17, {}},
      {"empty file", 0, {}},
      {"one byte file, unreadable", 1, {{0, 1}}},
      {"single bad byte mid-block", 200 * K, {{70000, 70001}}},
      {"bad first byte", 100 * K, {{0, 1}}},
      {"bad last byte", 100 * K + 3, {{100 * K + 2, 100 * K + 3}}},
      {"on a large-block boundary", 200 * K, {{64 * K - 1, 64 * K + 1}}},
      {"32 KiB area", 300 * K, {{100 * K, 132 * K}}},
      {"area at the start", 150 * K, {{0, 20 * K + 5}}},
      {"area at the end", 150 * K, {{130 * K + 7, 150 * K}}},
      {"whole file", 40 * K + 1, {{0, 40 * K + 1}}},
      {"several areas", 400 * K, {{5000, 5100}, {70 * K, 71 * K}, {80 * K, 120 * K}, {300 * K + 1, 300 * K + 2}}},
      {"area over two large blocks", 300 * K, {{60 * K, 140 * K + 3}}},
      {"spots closer than a sector", 24 * K, Spots(500, 1000, 10, 20)},
      {"spots of one byte, 300 apart", 24 * K, Spots(100, 300, 1, 60)},
      {"spots and a solid area", 200 * K, Spots(70 * K + 3, 2500, 40, 8) + Spots(120 * K, 1, 30 * K, 1)},
      {"a long scratch off the grid", 1024 * K, {{300 * K + 5, 940 * K + 7}}},
      {"an area ending off the sector grid", 200 * K, {{50 * 2048 + 904 - 10000, 50 * 2048 + 904}}},
      {"places in neighbouring sectors", 200 * K, {{50 * 2048 + 100, 50 * 2048 + 904}, {51 * 2048 + 300, 51 * 2048 + 900}}},
      {"long places across a sector boundary", 200 * K, {{50 * 2048 - 5000, 50 * 2048 + 904}, {51 * 2048 + 300, 53 * 2048 + 900}}},
      {"a place ending on the grid, the next inside the next sector", 200 * K, {{48 * 2048 + 7, 50 * 2048}, {50 * 2048 + 300, 52 * 2048 + 5}}},
      // Two edges on the grid first: no reason to read the later places'
      // edge sectors whole.
      {"three 32 KiB areas, the first on the grid, the second 5,000 bytes past a MiB", 2 * K * K,
       {{256 * K, 288 * K}, {K * K + 5000, K * K + 5000 + 32 * K}, {1536 * K, 1568 * K}}},
      // Past a failing block the copy pass skips ahead, one block after the
      // second failure, twice as far after each further one, to the end;
      // then it reads backwards from there up to the damage.
      {"a scratch of 100 blocks", 128 * 4 * K, {{10 * 4 * K, 110 * 4 * K}}, 4 * K,
       Count(0, 11) + std::vector<int64_t>{13, 16, 21, 30, 47, 80} + Count(127, 109)},
  };
  // What the medium fails in, and the sector size it says it has.
  struct Kind {
    int64_t fails, says;
    const char* name;
  };
  const Kind kinds[] = {
      {0, 0, ""},
      {2048, 0, ", sectors fail whole"},
      {512, 0, ", 512-byte sectors fail whole, saying nothing"},
      {512, 512, ", 512-byte sectors fail whole"},
  };
  for (const auto& c : cases) {
    for (int level = 0; level <= 4; ++level) {
     for (const Kind& kind : kinds) {
      Rig rig;
      rig.medium.Fill(c.size);
      rig.medium.bad = c.bad;
      rig.medium.sector = kind.fails;
      rig.medium.says = kind.says;
      rig.map = RescueMap(c.size);
      RescueOptions options;
      options.largeBlock = static_cast<size_t>(c.largeBlock);
      const RescueResult result = rig.Run(level, options);
      const std::string where = std::string(c.name) + ", level " + std::to_string(level) + kind.name;
      EXPECT_EQ(Check(rig, level), "") << where;
      EXPECT_FALSE(result.stopped) << where;
      EXPECT_EQ(result.failedReads, rig.medium.failures) << where;
      EXPECT_LE(rig.medium.failures, FailureBudget(rig.medium, c.largeBlock)) << where;
      if (!c.copyReads.empty()) {
        std::vector<int64_t> blocks;
        for (int64_t at : rig.copyReads) blocks.push_back(at / c.largeBlock);
        EXPECT_EQ(blocks, c.copyReads) << where;
      }
      EXPECT_EQ(rig.saveProblems, std::vector<std::string>{}) << where;
      // The map goes to disk only once the destination alone no longer says what was read.
      EXPECT_EQ(rig.saves > 0, !c.bad.empty()) << where;
     }
    }
  }
}

// Stopped at any step, or ended there by a write that fails, the rescue
// leaves a map that names exactly what the destination holds (a block is
// marked read once its write has returned); going on from that map (as
// "Resumak" does, trying the sectors found bad once more) ends where an
// unstopped run ends, and so does a rescue in two rounds (the fast phases,
// then the rest). Once the disc reads, going on from the map reads what was
// not yet narrowed first, then what was bad.
TEST(RescueEngine, StopsAnywhereAndGoesOnFromItsMap) {
  const int64_t K = 1024;
  const std::vector<Range> bad = {{3000, 3010}, {70 * K, 100 * K}, {199 * K, 200 * K}};
  for (int64_t sector : {0, 2048}) {
    for (int level : {0, 2, 4}) {
      const std::string kind = "level " + std::to_string(level) + (sector ? ", sectors fail whole" : "");
      Rig whole;
      whole.medium.Fill(200 * K);
      whole.medium.bad = bad;
      whole.medium.sector = sector;
      whole.map = RescueMap(200 * K);
      whole.Run(level);

      Rig rounds;
      rounds.medium = whole.medium;
      rounds.medium.failures = 0;
      rounds.map = RescueMap(200 * K);
      RescueOptions fast;
      fast.fastOnly = true;
      const RescueResult first = rounds.Run(level, fast);
      EXPECT_TRUE(first.narrowingLeft) << kind;
      EXPECT_EQ(rounds.map.Total(kNonTried) + rounds.map.Total(kNonTrimmed), 0) << kind;
      RescueOptions slow;
      slow.partialReads = first.partialReads;
      rounds.Run(level, slow);
      EXPECT_EQ(rounds.map.Areas(), whole.map.Areas()) << kind << ", in two rounds";
      EXPECT_EQ(rounds.medium.failures, whole.medium.failures) << kind << ", in two rounds";

      for (int stop : {1, 2, 3, 5, 8, 13, 40, 100, 400}) {
        for (bool write : {false, true}) {
          Rig rig;
          rig.medium = whole.medium;
          rig.medium.failures = rig.medium.reads = 0;
          rig.map = RescueMap(200 * K);
          const std::string where = kind + (write ? ", no room at " : ", stop at ") + std::to_string(stop);
          if (write) {
            rig.target.room = stop * 1000;
            if (rig.target.room > 200 * K) continue;
            EXPECT_THROW(rig.Run(level), FileError) << where;
            rig.target.room = -1;
            EXPECT_EQ(rig.saveProblems, std::vector<std::string>{}) << where;
          } else {
            rig.stopAtStep = stop;
            if (!rig.Run(level).stopped) continue;
            EXPECT_EQ(rig.target.bytes.size(), 200u * K) << where;
          }
          EXPECT_EQ(FinishedMismatch(rig.map, rig.target), "") << where;
          // On from the map, as the resume window does, the map on disk already.
          rig.map = RescueMap::Parse(rig.map.ToText());
          rig.stopAtStep = 0;
          RescueOptions again;
          again.mapOnDisk = again.retryBadSectors = true;
          rig.Run(level, again);
          EXPECT_EQ(Check(rig, level), "") << where;
          EXPECT_EQ(rig.map.Areas(), whole.map.Areas()) << where;
          EXPECT_EQ(rig.target.bytes, whole.target.bytes) << where;
        }
      }

      whole.medium.bad.clear();
      whole.medium.log.clear();
      whole.map.Set(150 * K, 8 * K, kNonScraped);
      RescueOptions healed;
      healed.mapOnDisk = healed.retryBadSectors = true;
      whole.Run(level, healed);
      EXPECT_EQ(whole.map.Unfinished(), 0) << kind << ", healed";
      EXPECT_EQ(Check(whole, level), "") << kind << ", healed";
      EXPECT_EQ(whole.medium.log.front().pos, 150 * K) << kind << ", healed";
    }
  }
}

// Window work is paced by time, whatever the size of a step, and the map is
// saved by the run's time, also while the window's refreshes never come due
// (the waits of long reads make them): at least every 5 s of the run, each
// save a whole map that claims only what the destination holds.
TEST(RescueEngine, PacesWindowWorkAndSavesByTime) {
  for (bool refreshes : {true, false}) {
    Rig rig;
    Pacer noRefresh(rig.clock, 10, 1 << 30, 1 << 30);
    if (!refreshes) rig.otherPacer = &noRefresh;
    rig.medium.Fill(4096 * 300);
    rig.map = RescueMap(rig.medium.Length());
    rig.clock.step = 5000;    // 5 ms a counter reading
    rig.clock.msStep = 1000;  // and a second every time the run's clock is read
    RescueOptions options;
    options.largeBlock = 4096;
    options.saveIntervalMs = 5000;
    rig.Run(4, options);
    EXPECT_EQ(rig.advances, 300);
    EXPECT_GT(rig.pumps, 100);
    EXPECT_LT(rig.refreshes, refreshes ? 100 : 1);
    EXPECT_GT(rig.refreshes, refreshes ? 10 : -1);
    ASSERT_GT(rig.saves, 10);
    rig.savedAt.push_back(rig.clock.ms);
    for (size_t i = 1; i < rig.savedAt.size(); ++i) EXPECT_LE(rig.savedAt[i] - rig.savedAt[i - 1], 7000) << i;
    EXPECT_EQ(rig.saveProblems, std::vector<std::string>{});
    EXPECT_EQ(rig.target.flushes, rig.saves);
    EXPECT_EQ(Check(rig, 4), "");
  }
}

}  // namespace
}  // namespace sk
