#include "core/LevelCopy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/EventLogModel.h"
#include "core/Formats.h"
#include "core/Rescue.h"
#include "core/CopyFakes.h"

namespace sk {
namespace {

using fake::Entry;
using fake::Pattern;
using fake::Rig;

const std::string kSrc = "D:\\PLYTA\\dane\\plik.bin";
const std::string kDst = "C:\\Odzysk\\plik.bin";

std::vector<Entry> Opening() {
  return {{"Rozpoczynanie kopiowania pliku plik.bin", ekInfo},
          {"Powiązywanie plików", ekInfo},
          {"Przygotowywanie plików do kopiowania", ekInfo}};
}

std::vector<Entry> Error(const std::string& message) { return {{"Błąd: " + message, ekError}}; }

std::vector<Entry> operator+(std::vector<Entry> a, const std::vector<Entry>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<Entry> kLoop = {{"Czytanie i zapisywanie bajtów", ekInfo}};
const std::vector<Entry> kLoopDone = {{"Zakończono czytanie i zapisywanie bajtów", ekInfo}};
const std::vector<Entry> kClosing = {{"Zamykanie plików", ekInfo}, {"Zakończono kopiowanie pliku plik.bin", ekInfo}};
std::vector<Entry> Check(bool same) {
  return {{"Sprawdzanie rozmiaru pliku", ekInfo},
          same ? Entry{"Rozmiar plików jest taki sam - sukces", ekSuccess}
               : Entry{"Rozmiar plików jest różny - błąd", ekError},
          {"Zakończono sprawdzanie rozmiaru plików", ekInfo}};
}

TEST(LevelCopy, BlockSizesOfTheFiveLevels) {
  EXPECT_EQ(BlockSize(0), 1u);
  EXPECT_EQ(BlockSize(1), 21u);
  EXPECT_EQ(BlockSize(2), 129u);
  EXPECT_EQ(BlockSize(3), 513u);
  EXPECT_EQ(BlockSize(4), 1025u);
}

TEST(LevelCopy, CompleteCopyAtEveryLevelAndSizeWithItsEntries) {
  for (int level = 0; level <= 4; ++level) {
    const size_t bs = BlockSize(level);
    for (size_t size : {size_t{1}, bs - 1, bs, bs + 1, 3 * bs + 7, size_t{5000}}) {
      for (bool check : {false, true}) {
        SCOPED_TRACE("level " + std::to_string(level) + " size " + std::to_string(size) + (check ? " check" : ""));
        Rig rig;
        rig.view.checkSizes = check;
        const std::string data = Pattern(size, static_cast<unsigned>(size));
        rig.disk.Put(kSrc, data);
        rig.disk.Put(kDst, "old contents, longer than some of the copies: " + std::string(6000, 'x'));
        ASSERT_EQ(rig.Copy(kSrc, kDst, level), "");
        EXPECT_EQ(rig.disk.Bytes(kDst), data);
        EXPECT_EQ(rig.disk.Bytes(kSrc), data);
        EXPECT_EQ(rig.disk.openNow, 0);
        EXPECT_EQ(rig.view.steps, static_cast<int>((size + bs - 1) / bs));
        auto expected = Opening() + kLoop + kLoopDone;
        if (check) expected = expected + Check(true);
        EXPECT_EQ(rig.view.log, expected + kClosing);
        EXPECT_EQ(rig.view.status.fileName, "plik.bin");
        EXPECT_EQ(rig.view.status.fileMax, static_cast<int64_t>(size));
        EXPECT_EQ(rig.view.status.filePosition, static_cast<int64_t>(size));
        EXPECT_EQ(rig.view.status.totalPosition, static_cast<int64_t>(size));
        EXPECT_EQ(rig.view.status.remaining, "0 sek");
        EXPECT_EQ(rig.view.status.copied, FormatSize(size) + " / " + FormatSize(size));
      }
    }
  }
}

TEST(LevelCopy, EmptySource) {
  Rig rig;
  rig.view.checkSizes = true;
  rig.view.status.elapsed = "7 sek";
  rig.disk.Put(kSrc, "");
  ASSERT_EQ(rig.Copy(kSrc, kDst, 4), "");
  ASSERT_TRUE(rig.disk.Exists(kDst));
  EXPECT_EQ(rig.disk.Bytes(kDst), "");
  EXPECT_EQ(rig.view.steps, 0);
  EXPECT_EQ(rig.view.log, Opening() + kLoop + kLoopDone + Check(true) + kClosing);
  EXPECT_EQ(rig.view.status.remaining, "0 sek");
  EXPECT_EQ(rig.view.status.copied, " B /  B");
  EXPECT_EQ(rig.view.status.elapsed, "7 sek");  // never refreshed by a short file
}

TEST(LevelCopy, OverallBarAddsEveryStepToWhatTheRunSet) {
  Rig rig;
  rig.view.status.totalMax = 100000;
  rig.view.status.totalPosition = 4000;
  rig.disk.Put(kSrc, Pattern(3000));
  ASSERT_EQ(rig.Copy(kSrc, kDst, 2), "");
  EXPECT_EQ(rig.view.status.totalPosition, 7000);
  EXPECT_EQ(rig.view.status.totalMax, 100000);
}

TEST(LevelCopy, StopWritesTheBlockInHandAndStillClosesAndReports) {
  for (int level = 0; level <= 4; ++level) {
    SCOPED_TRACE(level);
    const size_t bs = BlockSize(level);
    Rig rig;
    rig.view.checkSizes = true;
    rig.view.stopAtStep = 5;
    const std::string data = Pattern(20 * bs + 3);
    rig.disk.Put(kSrc, data);
    ASSERT_EQ(rig.Copy(kSrc, kDst, level), "");
    EXPECT_EQ(rig.view.steps, 5);
    EXPECT_EQ(rig.disk.Bytes(kDst), data.substr(0, 5 * bs));
    EXPECT_EQ(rig.view.log, Opening() + kLoop + kLoopDone + Check(false) + kClosing);
    EXPECT_EQ(rig.disk.openNow, 0);
    // The stopping step moves neither bar; the end texts are set.
    EXPECT_EQ(rig.view.status.filePosition, static_cast<int64_t>(4 * bs));
    EXPECT_EQ(rig.view.status.totalPosition, static_cast<int64_t>(4 * bs));
    EXPECT_EQ(rig.view.status.remaining, "0 sek");
    EXPECT_EQ(rig.view.status.copied, FormatSize(5 * bs) + " / " + FormatSize(data.size()));
    EXPECT_GE(rig.view.shows, 1);  // a stop shows at once
    EXPECT_TRUE(rig.view.StopRequested());  // still set for the run
  }
}

TEST(LevelCopy, StopWithTheLastBlockPassesTheSizeCheck) {
  Rig rig;
  rig.view.checkSizes = true;
  rig.view.stopAtStep = 3;
  rig.disk.Put(kSrc, Pattern(3 * 129));
  ASSERT_EQ(rig.Copy(kSrc, kDst, 2), "");
  EXPECT_EQ(rig.view.log, Opening() + kLoop + kLoopDone + Check(true) + kClosing);
}

TEST(LevelCopy, ReadFailureKeepsTheExactPrefixAndIsReported) {
  for (int level = 0; level <= 4; ++level) {
    const size_t bs = BlockSize(level);
    for (int64_t bad : {int64_t{0}, int64_t{1}, static_cast<int64_t>(bs), static_cast<int64_t>(7 * bs + bs / 2)}) {
      SCOPED_TRACE("level " + std::to_string(level) + " unreadable at " + std::to_string(bad));
      Rig rig;
      rig.view.checkSizes = true;
      const std::string data = Pattern(10 * bs);
      rig.disk.Put(kSrc, data);
      rig.disk.unreadableAt = bad;
      rig.disk.readError = "I/O error 21";
      EXPECT_EQ(rig.Copy(kSrc, kDst, level), "I/O error 21");
      const size_t good = static_cast<size_t>(bad) / bs * bs;  // whole blocks before the bad one
      EXPECT_EQ(rig.disk.Bytes(kDst), data.substr(0, good));
      EXPECT_EQ(rig.view.log, Opening() + kLoop + Error("I/O error 21"));
      EXPECT_EQ(rig.disk.openNow, 0);
      EXPECT_EQ(rig.view.status.filePosition, static_cast<int64_t>(good));
    }
  }
}

TEST(LevelCopy, WriteFailuresAreReportedAndLeaveWhatWasWritten) {
  {
    Rig rig;
    rig.disk.Put(kSrc, Pattern(5000));
    rig.disk.writeLimit = 2100;
    EXPECT_EQ(rig.Copy(kSrc, kDst, 4), "I/O error 112");
    EXPECT_EQ(rig.disk.Bytes(kDst), Pattern(5000).substr(0, 2050));
    EXPECT_EQ(rig.view.log, Opening() + kLoop + Error("I/O error 112"));
    EXPECT_EQ(rig.disk.openNow, 0);
  }
  {
    // A write that takes fewer bytes than it was given would shift every
    // later byte: it ends the copy like a full disk.
    Rig rig;
    rig.disk.Put(kSrc, Pattern(5000));
    rig.disk.shortWrites = true;
    EXPECT_EQ(rig.Copy(kSrc, kDst, 3), "I/O error 112");
    EXPECT_EQ(rig.disk.Bytes(kDst), Pattern(5000).substr(0, 512));
    EXPECT_EQ(rig.view.log.back(), (Entry{"Błąd: I/O error 112", ekError}));
    EXPECT_EQ(rig.view.steps, 0);
  }
}

TEST(LevelCopy, SourceThatDoesNotOpen) {
  Rig rig;
  rig.view.checkSizes = true;
  EXPECT_NE(rig.Copy(kSrc, kDst, 0), "");
  EXPECT_EQ(rig.view.log, Opening() + Error("File not found"));
  EXPECT_EQ(rig.view.status.fileName, "plik.bin");
  EXPECT_FALSE(rig.disk.Exists(kDst));
  EXPECT_TRUE(rig.disk.opened.empty());
}

TEST(LevelCopy, DestinationThatDoesNotOpen) {
  for (size_t size : {size_t{3000}, size_t{0}}) {
    SCOPED_TRACE(size);
    Rig rig;
    rig.view.checkSizes = true;
    rig.view.status.remaining = "5 min";
    rig.disk.Put(kSrc, Pattern(size));
    rig.disk.openErrors[kDst] = "Invalid filename";
    EXPECT_NE(rig.Copy(kSrc, kDst, 4), "");
    // Only the open failure is logged; the copy then ends at the first write
    // (at the destination's size for an empty source), with nothing more.
    EXPECT_EQ(rig.view.log, Opening() + Error("Invalid filename") + kLoop);
    EXPECT_EQ(rig.view.status.fileName, "plik.bin");
    EXPECT_EQ(rig.view.status.fileMax, static_cast<int64_t>(size));
    EXPECT_EQ(rig.view.status.remaining, size == 0 ? "0 sek" : "5 min");
    EXPECT_EQ(rig.view.steps, 0);
    EXPECT_EQ(rig.disk.openNow, 0);
    EXPECT_EQ(rig.disk.Bytes(kSrc), Pattern(size));
  }
}

TEST(LevelCopy, DestinationThatDoesNotOpenStillReadsTheFirstBlock) {
  Rig rig;
  rig.disk.Put(kSrc, Pattern(3000));
  rig.disk.openErrors[kDst] = "File access denied";
  rig.disk.unreadableAt = 10;
  EXPECT_EQ(rig.Copy(kSrc, kDst, 4), "I/O error 23");
  EXPECT_EQ(rig.view.log,
            Opening() + Error("File access denied") + kLoop +
                Error("I/O error 23"));
}

TEST(LevelCopy, RefusesToCopyAFileOntoItself) {
  Rig rig;
  rig.view.checkSizes = true;
  const std::string data = Pattern(4000);
  rig.disk.Put(kSrc, data);
  rig.disk.aliases["d:\\plyta\\DANE\\..\\dane\\PLIK.BIN"] = kSrc;
  EXPECT_NE(rig.Copy(kSrc, "d:\\plyta\\DANE\\..\\dane\\PLIK.BIN", 4), "");
  EXPECT_EQ(rig.disk.Bytes(kSrc), data);
  EXPECT_EQ(rig.disk.opened, std::vector<std::string>{"R " + kSrc});
  EXPECT_EQ(rig.disk.openNow, 0);
  EXPECT_EQ(rig.view.log,
            Opening() + Error("Plik docelowy jest tym samym plikiem co źródłowy"));
}

// A destination the run knows to be free is created new: a file that has
// appeared under its name meanwhile is left as it is, nothing is logged as an
// error, the source is closed again and FileExistsError tells the run to
// take another name (with or without rescue mode).
TEST(LevelCopy, AFreshDestinationNeverReplacesAFile) {
  for (bool rescue : {false, true}) {
    SCOPED_TRACE(rescue);
    Rig rig;
    rig.view.rescue = rescue;
    rig.disk.Put(kSrc, Pattern(3000));
    rig.disk.Put(kDst, "czyjś plik");
    try {
      CopyFileAtLevel({rig.disk, rig.clock, rig.view, *(rig.pacer = std::make_unique<Pacer>(rig.clock))}, kSrc,
                      kDst, 4, true, nullptr, true);
      ADD_FAILURE() << "copied over a file";
    } catch (const FileExistsError&) {
    }
    EXPECT_EQ(rig.disk.Bytes(kDst), "czyjś plik");
    EXPECT_EQ(rig.disk.openNow, 0);
    for (const Entry& e : rig.view.log) EXPECT_NE(e.kind, ekError) << e.text;
    // Where nothing is there, the copy is whole as ever.
    rig.disk.files.erase(kDst);
    EXPECT_EQ(rig.Copy(kSrc, kDst, 4, nullptr, true), "");
    EXPECT_EQ(rig.disk.Bytes(kDst), Pattern(3000));
  }
}

TEST(LevelCopy, CloseFailuresAreLoggedAndTheCopyEnds) {
  Rig rig;
  rig.disk.Put(kSrc, Pattern(100));
  rig.disk.closeErrors[kSrc] = "I/O error 6";
  rig.disk.closeErrors[kDst] = "I/O error 112";
  ASSERT_EQ(rig.Copy(kSrc, kDst, 1), "");
  const std::vector<Entry> closing = {{"Zamykanie plików", ekInfo},
                                      {"Błąd: I/O error 6", ekError},
                                      {"Błąd: I/O error 112", ekError},
                                      {"Zakończono kopiowanie pliku plik.bin", ekInfo}};
  EXPECT_EQ(rig.view.log, Opening() + kLoop + kLoopDone + closing);
  EXPECT_EQ(rig.disk.openNow, 0);
}

TEST(LevelCopy, LabelsRefreshOnTheHundredAndFirstStepAndEveryHundredAndFirstAfter) {
  Rig rig;
  rig.clock.step = 50000;  // every counter reading is 50 ms later
  rig.view.status = {.elapsed = "E", .remaining = "R", .fileName = "F", .copied = "C"};
  rig.view.onStep = [&](int step) { rig.clock.now = rig.view.startTime + step / 86400.0; };
  rig.disk.Put(kSrc, Pattern(2000));
  ASSERT_EQ(rig.Copy(kSrc, kDst, 0), "");
  const auto& after = rig.view.afterStep;  // after[k]: the status after k steps
  ASSERT_EQ(after.size(), 2000u);
  for (int k : {1, 50, 100}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(after[k].elapsed, "E");
    EXPECT_EQ(after[k].remaining, "R");
    EXPECT_EQ(after[k].copied, "C");
    EXPECT_EQ(after[k].fileName, "plik.bin");
    EXPECT_EQ(after[k].filePosition, k);
  }
  // The write and the pump after it take two readings: 0.1 s for one byte.
  EXPECT_EQ(after[101].elapsed, "1 min");  // 101 s since the run began
  EXPECT_EQ(after[101].remaining, "3 min");  // 1899 bytes x 0.1 s
  EXPECT_EQ(after[101].copied, "101 B / 1,95 kB");
  EXPECT_EQ(after[201].copied, "101 B / 1,95 kB");
  EXPECT_EQ(after[202].elapsed, "3 min");
  EXPECT_EQ(after[202].remaining, "2 min");  // 1798 x 0.1 s
  EXPECT_EQ(after[202].copied, "202 B / 1,95 kB");
  EXPECT_EQ(after[303].copied, "303 B / 1,95 kB");
}

TEST(LevelCopy, SizesBeyondFourGibibytes) {
  Rig rig;
  const int64_t size = (5LL << 30) + 12345;
  rig.disk.files[kSrc] = std::make_shared<fake::Content>(fake::Content{"", size});
  rig.view.stopAtStep = 102;
  ASSERT_EQ(rig.Copy(kSrc, kDst, 4), "");
  EXPECT_EQ(rig.view.status.fileMax, size);
  EXPECT_EQ(rig.view.afterStep[101].copied, "101,1 kB / 5 GB");
  EXPECT_EQ(rig.view.status.copied, "102,1 kB / 5 GB");
  EXPECT_EQ(rig.view.status.filePosition, 101 * 1025);
  const BarRange bar = ScaleBar(size, 101 * 1025);
  EXPECT_LE(bar.max, INT32_MAX);
  EXPECT_GT(bar.max, INT32_MAX / 2);
  EXPECT_EQ(bar.position, (101 * 1025) >> 2);
}

TEST(LevelCopy, ScaleBarKeepsSmallRangesAndClampsPositions) {
  EXPECT_EQ(ScaleBar(0, 0).max, 0);
  EXPECT_EQ(ScaleBar(1000, 400).position, 400);
  EXPECT_EQ(ScaleBar(INT32_MAX, INT32_MAX).max, INT32_MAX);
  EXPECT_EQ(ScaleBar(1000, 5000).position, 1000);  // a source that grew while copied
  EXPECT_EQ(ScaleBar(1000, -5).position, 0);
  const BarRange big = ScaleBar(INT64_MAX, INT64_MAX / 2);
  EXPECT_GT(big.max, 0);
  EXPECT_EQ(big.position, big.max / 2);
}

TEST(LevelCopy, WindowWorkIsPacedByTimeNotBySteps) {
  {
    // A fast copy: no message pump, no refresh within 10 ms.
    Rig rig;
    rig.clock.step = 1;  // 1 us a reading, four readings a step: 8 ms in all
    rig.disk.Put(kSrc, Pattern(2000));
    ASSERT_EQ(rig.Copy(kSrc, kDst, 0), "");
    EXPECT_EQ(rig.view.pumps, 0);
    EXPECT_EQ(rig.view.shows, 0);
  }
  {
    // Each reading 1 ms later: four readings a step, a pump every 10 ms, a
    // refresh every 100 ms.
    Rig rig;
    rig.clock.step = 1000;
    rig.disk.Put(kSrc, Pattern(1000));
    ASSERT_EQ(rig.Copy(kSrc, kDst, 0), "");
    EXPECT_NEAR(rig.view.pumps, 4000 / 10, 5);
    EXPECT_NEAR(rig.view.shows, 4000 / 100, 2);
  }
}

TEST(LevelCopy, WithoutAHighResolutionCounterTheMillisecondClockTimesTheSteps) {
  Rig rig;
  rig.clock.hasCounter = false;
  rig.clock.msStep = 0;  // a clock too coarse to see one step
  rig.view.stopAtStep = 150;
  rig.disk.Put(kSrc, Pattern(5000));
  ASSERT_EQ(rig.Copy(kSrc, kDst, 0), "");
  EXPECT_EQ(rig.clock.counterReads, 0);
  EXPECT_GT(rig.clock.msReads, 0);
  EXPECT_EQ(rig.view.afterStep[101].remaining, "0 sek");

  Rig timed;
  timed.clock.hasCounter = false;
  timed.clock.msStep = 10;  // a write and its pump: 20 ms
  timed.view.stopAtStep = 150;
  timed.disk.Put(kSrc, Pattern(5000));
  ASSERT_EQ(timed.Copy(kSrc, kDst, 0), "");
  EXPECT_EQ(timed.view.afterStep[101].remaining, "1 min");  // 4899 x 0.02 s = 98 s
  EXPECT_GT(timed.view.pumps, 0);
}

// ---- rescue mode ----

const std::string kMap = kDst + ".map";

// What a rescue may leave ("" when all is well): every save and removal of
// the map right after the destination went to the disk; every byte the map
// calls read is the source's, and without a map the destination is exactly
// a prefix of the source.
std::string RescueProblem(fake::Disk& disk, const std::string& data) {
  const auto& ev = disk.events;
  for (size_t i = 0; i < ev.size(); ++i)
    if ((ev[i] == "save " + kMap || ev[i] == "remove " + kMap) && (i == 0 || ev[i - 1] != "flush " + kDst))
      return ev[i] + " without the destination flushed first";
  const std::string& got = disk.Bytes(kDst);
  if (InspectMapPath(disk, kMap) != MapSlot::kMap) return data.compare(0, got.size(), got) == 0 ? "" : "not a prefix";
  for (const auto& a : LoadMapFile(disk, kMap).Areas())
    if (a.status == kFinished && got.compare(a.pos, a.size, data, a.pos, a.size) != 0)
      return "the map calls " + std::to_string(a.pos) + " read";
  return "";
}

// A rescue of `data`, unreadable at the offsets `bad`.
void Rescuing(Rig& rig, const std::string& data, std::vector<int64_t> bad) {
  rig.view.rescue = true;
  rig.disk.Put(kSrc, data);
  rig.disk.unreadableAt = bad.empty() ? -1 : bad[0];
  if (!bad.empty()) rig.disk.alsoUnreadable.assign(bad.begin() + 1, bad.end());
}

// The map of a damaged file is kept and true; one saved by time is deleted
// once every byte is read; a file of the user's at the map's path is neither
// deleted nor replaced (the destination then cut to the bytes read from its
// start, none when the damage is at the start), and so is the destination
// when the disk has no room for the map. The disc taken out is no damage:
// the map is saved, the log says so and the user is asked; "Ponów" while it
// is still out asks again, and once it is back the rescue goes on from the
// map; "Anuluj" ends the file as a stop does (full length, the rest not
// tried) and the run with it.
TEST(LevelCopy, RescueModeKeepsTheMapTrueAndTheUsersFileAlone) {
  const int64_t K = 1024;
  const std::string data = Pattern(200 * K), notes = "moje notatki", gone = "Błąd: Nośnik jest niedostępny",
                    asked = "(asked to retry)";
  auto discOut = [&](Rig& r, bool putBack) {
    Rescuing(r, data, {100000});
    r.disk.outAfterReads = 3;  // during the third large read, after the damage
    r.view.onMediumAsk = [&r, &asked, putBack] {
      r.disk.discOut = std::count(r.view.log.begin(), r.view.log.end(), Entry{asked, -1}) < 2;
      return putBack;
    };
  };
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    std::string error;               // what comes out of the routine
    int64_t kept;                    // the destination's length afterwards
    char map;                        // '+' a map naming unread bytes, '-' none, 'u' the user's file
    std::vector<std::string> trail;  // the log's errors and the questions, in order
  };
  const Case cases[] = {
      {"two damaged places", [&](Rig& r) { Rescuing(r, data, {70000, 150000}); }, "", 200 * K, '+',
       {"Błąd: Nie odczytano 2 B w 2 miejscach"}},
      {"saved by time, then read to the end",
       [&](Rig& r) { Rescuing(r, data, {}), r.clock.step = 200000, r.clock.msStep = 6000; }, "", 200 * K, '-', {}},
      {"a file of the user's at the map's path", [&](Rig& r) { Rescuing(r, data, {70000}), r.disk.Put(kMap, notes); },
       "File access denied", 64 * K, 'u', {"Błąd: File access denied"}},
      {"the user's file, damage at the start", [&](Rig& r) { Rescuing(r, data, {10}), r.disk.Put(kMap, notes); },
       "File access denied", 0, 'u', {"Błąd: File access denied"}},
      {"no room for the map", [&](Rig& r) { Rescuing(r, data, {70000}), r.disk.saveError = "I/O error 112"; },
       "I/O error 112", 64 * K, '-', {"Błąd: I/O error 112"}},
      {"a short write, no room for the map",
       [&](Rig& r) { Rescuing(r, data, {}), r.disk.shortWrites = true, r.disk.saveError = "I/O error 112"; },
       "I/O error 112", 0, '-', {"Błąd: I/O error 112"}},
      // An earlier rescue's file and map, the file held open by another
      // program: both stay as they were, and the log says why.
      {"an earlier rescue's file that cannot be replaced",
       [&](Rig& r) {
         Rescuing(r, data, {70000});
         r.Copy(kSrc, kDst, 0);
         r.view.log.clear();
         r.disk.openErrors[kDst] = "I/O error 32";
       },
       "I/O error 103", 200 * K, '+', {"Błąd: I/O error 32"}},
      {"the disc taken out, Ponów", [&](Rig& r) { discOut(r, true); }, "", 200 * K, '+',
       {gone, asked, asked, "Błąd: Nie odczytano 1 B w 1 miejscu"}},
      {"the disc taken out, Anuluj", [&](Rig& r) { discOut(r, false); }, "Nośnik jest niedostępny", 200 * K, '+',
       {gone, asked, "Błąd: Nie odczytano " + FormatSize(136 * K) + " w 1 miejscu"}},
      // No damage met yet, so no map saved: the map goes to the disk before
      // the question all the same, naming what the destination holds.
      {"the disc taken out before any damage, Anuluj",
       [&](Rig& r) {
         Rescuing(r, data, {});
         r.disk.outAfterReads = 2;
         r.view.onMediumAsk = [&r, &data] {
           if (r.disk.Exists(kMap) && RescueProblem(r.disk, data).empty()) r.view.log.push_back({"(map saved)", -1});
           return false;
         };
       },
       "Nośnik jest niedostępny", 200 * K, '+',
       {gone, asked, "(map saved)", "Błąd: Nie odczytano " + FormatSize(136 * K) + " w 1 miejscu"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    c.arrange(rig);
    EXPECT_EQ(rig.Copy(kSrc, kDst, 0), c.error);
    EXPECT_EQ(static_cast<int64_t>(rig.disk.Bytes(kDst).size()), c.kept);
    EXPECT_EQ(RescueProblem(rig.disk, data), "");
    if (c.map == 'u') EXPECT_EQ(rig.disk.Bytes(kMap), notes);
    if (c.map == '+') EXPECT_GT(LoadMapFile(rig.disk, kMap).Unfinished(), 0);
    if (c.map == '-') EXPECT_FALSE(rig.disk.Exists(kMap));
    std::vector<std::string> trail;
    for (const Entry& e : rig.view.log)
      if (e.kind == ekError || e.kind == -1) trail.push_back(e.text);
    EXPECT_EQ(trail, c.trail);
    EXPECT_EQ(rig.disk.openNow, 0);
  }
}

// Round one of a run puts off the narrowing of a damaged file (its map saved,
// its own entries; the stretch between the damage, and the bad parts of its
// edge sectors whose other end read, three places); round two finishes it from that map with the closing
// entries of a rescued file.
TEST(LevelCopy, RescueInTwoRoundsPutsOffTheNarrowingAndFinishesFromTheMap) {
  const std::string data = Pattern(200 * 1024);
  Rig rig;
  Rescuing(rig, data, {70000, 150000});
  rig.view.checkSizes = true;
  std::vector<PutOffRescue> putOff;
  ASSERT_EQ(rig.Copy(kSrc, kDst, 0, &putOff), "");
  ASSERT_EQ(putOff.size(), 1u);
  const std::vector<Entry> putOffEntries = {
      {"Odłożono zawężanie uszkodzonych miejsc: pozostało " + FormatSize(putOff[0].map.Unfinished()) + " w 3 miejscach",
       ekInfo},
      {"Zapisano mapę odczytu plik.bin.map", ekInfo},
      {"Zamykanie plików", ekInfo},
      {"Odłożono kopiowanie pliku plik.bin", ekInfo}};
  EXPECT_EQ(rig.view.log, Opening() + kLoop + putOffEntries);
  EXPECT_EQ(LoadMapFile(rig.disk, kMap).Areas(), putOff[0].map.Areas());
  EXPECT_EQ(rig.disk.Bytes(kDst).size(), data.size());

  // Round two finds another disc with a file of that name in the drive:
  // asked about, and on Anuluj the run ends with nothing read from it.
  const std::string held = rig.disk.Bytes(kDst);
  rig.disk.Put(kSrc, Pattern(data.size(), 99));
  EXPECT_THROW(NarrowPutOffRescue({rig.disk, rig.clock, rig.view, *rig.pacer}, putOff[0]), MediumGone);
  EXPECT_EQ(rig.view.asked, std::vector<MediumQuestion>{MediumQuestion::kOtherDisc});
  EXPECT_TRUE(rig.disk.Bytes(kDst) == held);
  rig.disk.Put(kSrc, data);

  rig.view.log.clear();
  EXPECT_EQ(NarrowPutOffRescue({rig.disk, rig.clock, rig.view, *rig.pacer}, putOff[0]), 2);
  const std::vector<Entry> resumed = {{"Wznawianie kopiowania pliku plik.bin", ekInfo}};
  const std::vector<Entry> unread = {
      {"Błąd: Nie odczytano 2 B w 2 miejscach", ekError},
      {"Zapisano mapę odczytu plik.bin.map", ekInfo},
      {"Sprawdzanie rozmiaru pliku", ekInfo},
      {"Rozmiar plików jest taki sam, ale nie wszystkie bajty zostały odczytane - błąd", ekError},
      {"Zakończono sprawdzanie rozmiaru plików", ekInfo}};
  EXPECT_EQ(rig.view.log, resumed + kLoop + kLoopDone + unread + kClosing);
  EXPECT_EQ(RescueProblem(rig.disk, data), "");
  EXPECT_EQ(rig.disk.openNow, 0);
}

// The run's bar over files rescued in two rounds: each file adds what it
// read or found unreadable, round two moves the bar on from where round one
// left it and never back, and the bar ends at the whole batch.
TEST(LevelCopy, TheRunsBarCountsBothRoundsOfEveryFile) {
  const int64_t size = 200 * 1024;
  Rig rig;
  rig.view.rescue = true;
  rig.disk.unreadableAt = 70000;
  for (int64_t b = 100000; b < 104000; b += 7) rig.disk.alsoUnreadable.push_back(b);
  rig.view.status.totalMax = 3 * size;
  std::vector<PutOffRescue> putOff;
  int64_t done = 0;
  for (const char* name : {"a", "b", "c"}) {
    rig.disk.Put(std::string("D:\\") + name, Pattern(size));
    ASSERT_EQ(rig.Copy(std::string("D:\\") + name, std::string("C:\\") + name, 0, &putOff), "");
    ASSERT_EQ(putOff.size(), static_cast<size_t>(name[0] - 'a' + 1));
    done += size - putOff.back().map.Total(kNonScraped);
    EXPECT_EQ(rig.view.status.totalPosition, done) << name;
  }
  int64_t last = done;
  rig.view.onStep = [&](int) {
    EXPECT_GE(rig.view.status.totalPosition, last);
    last = rig.view.status.totalPosition;
  };
  for (PutOffRescue& file : putOff) NarrowPutOffRescue({rig.disk, rig.clock, rig.view, *rig.pacer}, file);
  EXPECT_EQ(rig.view.status.totalPosition, 3 * size);
}

TEST(EventLogModel, AddsRewritesTheNewestAndCountsChanges) {
  EventLogModel log;
  log.RewriteNewest("nothing to rewrite");
  EXPECT_EQ(log.Count(), 0u);
  const uint64_t r0 = log.Revision();
  log.Add("Pobieranie aktualizacji", ekInfo);
  log.Add("Błąd: File not found", ekError);
  EXPECT_GT(log.Revision(), r0);
  const uint64_t r1 = log.Revision();
  log.RewriteNewest("Pobieranie aktualizacji (1 kB / 2 kB)");
  EXPECT_GT(log.Revision(), r1);
  ASSERT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.At(0).text, "Pobieranie aktualizacji");
  EXPECT_EQ(log.Newest().text, "Pobieranie aktualizacji (1 kB / 2 kB)");
  EXPECT_EQ(log.Newest().kind, ekError);
}

}  // namespace
}  // namespace sk
