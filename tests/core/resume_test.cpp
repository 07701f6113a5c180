#include "core/Resume.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "core/CopyFakes.h"
#include "core/LevelCopy.h"
#include "core/Rescue.h"

namespace sk {
namespace {

using FakeData = fake::Content;

// Bytes that differ from their neighbours, `n` of them as from offset `from`.
std::string Pattern(size_t n, int64_t from = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(((from + static_cast<int64_t>(i)) * 131 + 7) % 251);
  return s;
}

// The in-memory file system of the copy tests, where the resume tool may
// neither create nor truncate a file.
struct FakeFileSystem : fake::Disk {
  FakeFileSystem() { noCreate = true; }
  std::shared_ptr<FakeData> Add(const std::string& path, std::string bytes, int64_t base = 0) {
    return Put(path, std::move(bytes), base);
  }
};

// A clock whose counter (1 MHz) moves 1 ms at every reading, so that the
// pacing comes due every few bytes; the date-time is set by the test.
struct StepClock : IClock {
  int64_t ticks = 0;
  double now = 40000.0;
  double Now() override { return now; }
  bool CounterFrequency(int64_t& f) override {
    f = 1000000;
    return true;
  }
  int64_t Counter() override { return ticks += 1000; }
  int64_t Milliseconds() override { return ticks / 1000; }
};

struct FakeView : IResumeView {
  std::vector<bool> running;
  std::vector<ResumeStatus> shown;
  std::vector<std::string> errors;
  int pumps = 0;
  bool stop = false;
  double start = 0;
  std::function<void()> onPump;
  std::function<void()> afterByte;  // the loop asks for the stop flag after every byte

  void SetRunning(bool on) override { running.push_back(on); }
  void Show(const ResumeStatus& s) override { shown.push_back(s); }
  void Pump() override {
    ++pumps;
    if (onPump) onPump();
  }
  bool StopRequested() override {
    if (afterByte) afterByte();
    return stop;
  }
  void ClearStopRequested() override { stop = false; }
  double StartTime() override { return start; }
  void SetStartTime(double d) override { start = d; }
  void ReportError(const std::string& text) override { errors.push_back(text); }
  std::function<bool()> onMediumAsk;  // the answer to "Ponów / Anuluj" (none: Anuluj)
  std::vector<MediumQuestion> asked;
  bool AskMediumRetry(MediumQuestion question) override {
    asked.push_back(question);
    return onMediumAsk && onMediumAsk();
  }
};

struct ResumeTest : ::testing::Test {
  FakeFileSystem fs;
  StepClock clock;
  FakeView view;
  Resumer resumer{fs, clock, view};
};

TEST_F(ResumeTest, ShortDestinationEndsIdenticalToSource) {
  const std::string source = Pattern(5000);
  auto src = fs.Add("D:\\plyta\\film.avi", source);
  std::string partial = source.substr(0, 3000);
  partial[0] = 'X';  // the bytes already there are not rewritten
  auto dst = fs.Add("C:\\kopie\\film.avi", partial);

  resumer.Start({{"D:\\plyta\\film.avi", "C:\\kopie\\film.avi"}});

  EXPECT_EQ(dst->bytes.substr(1), source.substr(1));
  EXPECT_EQ(dst->bytes[0], 'X');
  // One read and one write of one byte per byte copied.
  EXPECT_EQ(src->reads, 2000);
  EXPECT_EQ(dst->writes, 2000);
  EXPECT_EQ(src->closes, 1);
  EXPECT_EQ(dst->closes, 1);
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(view.running, (std::vector<bool>{true, false}));

  const ResumeStatus& s = resumer.Status();
  EXPECT_EQ(s.currentFile, "film.avi");
  EXPECT_EQ(s.RemainingText(), "0 B");
  EXPECT_EQ(s.progressMax, 5000);
  EXPECT_EQ(s.progressPosition, 5000);
  // The window was shown the end of the pair.
  ASSERT_FALSE(view.shown.empty());
  EXPECT_EQ(view.shown.back().RemainingText(), "0 B");
  EXPECT_EQ(view.shown.back().progressPosition, 5000);
}

TEST_F(ResumeTest, WindowWorkIsPacedByTime) {
  fs.Add("s", Pattern(3000));
  fs.Add("d", "");
  resumer.Start({{"s", "d"}});
  // Each byte reads the 1 ms clock once: about 3 s of run, so a pump about
  // every 10 bytes and a display about every 100, plus the end of the pair.
  EXPECT_NEAR(view.pumps, 300, 5);
  EXPECT_NEAR(static_cast<int>(view.shown.size()), 31, 2);
}

TEST_F(ResumeTest, DestinationAsLongOrLongerReadsAndWritesNothing) {
  auto equalSrc = fs.Add("a\\rowny.bin", Pattern(100));
  auto equalDst = fs.Add("b\\rowny.bin", Pattern(100));
  auto longSrc = fs.Add("a\\dlugi.bin", Pattern(50));
  auto longDst = fs.Add("b\\dlugi.bin", Pattern(80));

  resumer.Start({{"a\\rowny.bin", "b\\rowny.bin"}, {"a\\dlugi.bin", "b\\dlugi.bin"}});

  for (auto* d : {equalSrc.get(), equalDst.get(), longSrc.get(), longDst.get()}) {
    EXPECT_EQ(d->reads + d->writes, 0);
    EXPECT_EQ(d->opens, 1);
    EXPECT_EQ(d->closes, 1);
  }
  EXPECT_EQ(longDst->bytes, Pattern(80));
  EXPECT_EQ(resumer.Status().currentFile, "dlugi.bin");
  EXPECT_EQ(resumer.Status().progressMax, 50);
  // No byte copied: the labels keep their first texts.
  EXPECT_EQ(resumer.Status().ElapsedText(), "0 sek");
  EXPECT_EQ(resumer.Status().RemainingText(), "0B");
  EXPECT_TRUE(view.errors.empty());
}

TEST_F(ResumeTest, StopDuringTheSecondOfThreePairs) {
  auto d1 = fs.Add("d1", "");
  auto d2 = fs.Add("d2", "ab");
  auto d3 = fs.Add("d3", "");
  fs.Add("s1", Pattern(500));
  fs.Add("s2", Pattern(4000));
  auto s3 = fs.Add("s3", Pattern(500));
  view.onPump = [&] {
    if (d2->bytes.size() >= 1000) view.stop = true;
  };

  resumer.Start({{"s1", "d1"}, {"s2", "d2"}, {"s3", "d3"}});

  EXPECT_EQ(d1->bytes, Pattern(500));
  // The second grew by the bytes copied up to the stop, and ends where the
  // source's bytes end.
  EXPECT_GE(d2->bytes.size(), 1000u);
  EXPECT_LT(d2->bytes.size(), 1100u);
  EXPECT_EQ(d2->bytes.substr(2), Pattern(4000).substr(2, d2->bytes.size() - 2));
  EXPECT_EQ(d2->closes, 1);
  // The third is not touched at all.
  EXPECT_EQ(s3->opens + d3->opens, 0);
  EXPECT_TRUE(d3->bytes.empty());
  // The flag is cleared and the controls are back.
  EXPECT_FALSE(view.stop);
  EXPECT_EQ(view.running, (std::vector<bool>{true, false}));
  // The window shows where the stop left the pair.
  EXPECT_EQ(view.shown.back().progressPosition, static_cast<int64_t>(d2->bytes.size()));
}

TEST_F(ResumeTest, FailingReadKeepsTheBytesBeforeItAndTheRunGoesOn) {
  auto s1 = fs.Add("D:\\zly.dat", Pattern(1000));
  s1->readFailAt = 600;
  auto d1 = fs.Add("C:\\zly.dat", Pattern(100));
  fs.Add("D:\\dobry.dat", Pattern(300));
  auto d2 = fs.Add("C:\\dobry.dat", "");

  resumer.Start({{"D:\\zly.dat", "C:\\zly.dat"}, {"D:\\dobry.dat", "C:\\dobry.dat"}});

  EXPECT_EQ(d1->bytes, Pattern(600));
  EXPECT_EQ(s1->closes, 1);
  EXPECT_EQ(d1->closes, 1);
  EXPECT_EQ(view.errors, (std::vector<std::string>{"I/O error 21"}));
  EXPECT_EQ(d2->bytes, Pattern(300));
  EXPECT_EQ(view.running, (std::vector<bool>{true, false}));
}

// Each failure ends only its own pair, with the program's text, both files of
// the pair closed and the bytes written so far kept.
TEST_F(ResumeTest, EachFailureEndsOnlyItsPair) {
  struct Case {
    const char* what;
    std::function<void(FakeFileSystem& files, FakeData& src, FakeData& dst)> arrange;
    const char* text;
    size_t kept;  // destination length afterwards (it starts at 10)
  };
  const Case cases[] = {
      {"short read", [](FakeFileSystem&, FakeData& s, FakeData&) { s.shortReadAt = 15; }, "Read beyond end of file",
       15},
      {"short write", [](FakeFileSystem&, FakeData&, FakeData& d) { d.shortWriteAt = 12; }, "Disk full", 12},
      {"read error", [](FakeFileSystem&, FakeData& s, FakeData&) { s.readFailAt = 10; }, "I/O error 21", 10},
      {"destination close", [](FakeFileSystem& f, FakeData&, FakeData&) { f.closeErrors["dst"] = "I/O error 5"; },
       "I/O error 5", 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem files;
    FakeView v;
    Resumer r(files, clock, v);
    auto src = files.Add("src", Pattern(40));
    auto dst = files.Add("dst", Pattern(10));
    c.arrange(files, *src, *dst);
    files.Add("next-src", Pattern(20));
    auto next = files.Add("next-dst", "");

    r.Start({{"src", "dst"}, {"next-src", "next-dst"}});

    EXPECT_EQ(v.errors, (std::vector<std::string>{c.text}));
    EXPECT_EQ(dst->bytes, Pattern(c.kept));
    EXPECT_EQ(src->closes, 1);
    EXPECT_EQ(dst->closes, 1);
    EXPECT_EQ(next->bytes, Pattern(20));
    EXPECT_EQ(v.running, (std::vector<bool>{true, false}));
  }
}

TEST_F(ResumeTest, MissingFilesAreReportedAndNothingIsCreated) {
  auto src = fs.Add("zrodlo", Pattern(10));
  fs.Add("jest", Pattern(4));
  resumer.Start({{"zrodlo", "brak"}, {"brak", "jest"}});
  EXPECT_EQ(view.errors, (std::vector<std::string>{"File not found", "File not found"}));
  EXPECT_EQ(fs.files.count("brak"), 0u);
  EXPECT_EQ(src->closes, 1);  // the source of the first pair was open: it is closed
  EXPECT_EQ(view.running, (std::vector<bool>{true, false}));
}

TEST_F(ResumeTest, APairNamingOneFileTwiceIsRefused) {
  auto f = fs.Add("C:\\plik.bin", Pattern(10));
  resumer.Start({{"C:\\plik.bin", "C:\\plik.bin"}});
  EXPECT_EQ(view.errors, (std::vector<std::string>{"Plik docelowy jest tym samym plikiem co źródłowy"}));
  EXPECT_FALSE(f->openForWrite);
  EXPECT_EQ(f->writes, 0);
  EXPECT_EQ(f->bytes, Pattern(10));
  EXPECT_EQ(f->closes, 1);
}

TEST_F(ResumeTest, SizesAndPositionsBeyondFourGiB) {
  const int64_t big = 5LL << 30;
  fs.Add("src", Pattern(100, big), big);
  auto dst = fs.Add("dst", "", big);
  resumer.Start({{"src", "dst"}});
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(dst->bytes, Pattern(100, big));
  EXPECT_EQ(resumer.Status().progressMax, big + 100);
  EXPECT_EQ(resumer.Status().progressPosition, big + 100);
}

TEST_F(ResumeTest, LabelTextsDuringTheRun) {
  fs.Add("C:\\a:b\\dane.iso", Pattern(4096));
  fs.Add("d", Pattern(1024));
  std::map<int64_t, ResumeStatus> seen;
  view.afterByte = [&] {
    const ResumeStatus& s = resumer.Status();
    seen[s.progressPosition] = s;
    if (s.progressPosition == 2500) clock.now = view.start + 3599.5 / 86400;
    if (s.progressPosition == 3500) clock.now = view.start + 3600.5 / 86400;
  };
  resumer.Start({{"C:\\a:b\\dane.iso", "d"}});
  EXPECT_EQ(seen[1025].ElapsedText(), "0 sek");
  EXPECT_EQ(seen[1025].RemainingText(), "2,99 KB");
  EXPECT_EQ(seen[2560].RemainingText(), "1,5 KB");
  EXPECT_EQ(seen[2501].ElapsedText(), "59 min");
  EXPECT_EQ(seen[3071].RemainingText(), "1,00 KB");
  EXPECT_EQ(seen[3072].RemainingText(), "1 KB");
  EXPECT_EQ(seen[3073].RemainingText(), "1023 B");
  EXPECT_EQ(seen[3501].ElapsedText(), "1 godz");
  const ResumeStatus& end = resumer.Status();
  EXPECT_EQ(end.currentFile, "dane.iso");
  EXPECT_EQ(end.RemainingText(), "0 B");
}

TEST_F(ResumeTest, ResumeCopyAloneThrowsAndLeavesTheFilesClosed) {
  auto src = fs.Add("s", Pattern(20));
  src->readFailAt = 5;
  auto dst = fs.Add("d", "");
  try {
    resumer.ResumeCopy("s", "d");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_STREQ(e.what(), "I/O error 21");
    EXPECT_EQ(e.code(), 21u);
  }
  EXPECT_EQ(dst->bytes, Pattern(5));
  EXPECT_EQ(src->closes, 1);
  EXPECT_EQ(dst->closes, 1);
}

// ---- pairs finished from their read maps ----

// A file rescued by a copy run (its map beside it), then listed in "Resumak"
// with a plain pair after it. Finishing from the map: the sectors found bad
// are tried once more (a healed disc reads them), each at most once in the
// run; a map whose recorded block reads differently belongs to another
// source and is refused with both files as they were, while a block that
// cannot be read now is no reason to refuse; the disc taken out is asked
// about, "Anuluj" ending the run as "Zatrzymaj" does (the map saved, the
// next pair not touched) and "Ponów" going on once it is back, but never on
// another disc put in its place; a stop asked for before the question ends
// the run without it.
TEST(ResumeFromMap, FinishesWhatTheMapNamesFromTheRightSource) {
  const std::string src = "D:\\plyta\\obraz.iso", dst = "C:\\kopie\\obraz.iso", map = dst + ".map";
  const std::string data = fake::Pattern(200 * 1024), other = fake::Pattern(data.size(), 99);
  using Q = MediumQuestion;
  // A layer that cannot open the source again for the rescue.
  struct NoReopen : IFileSystem {
    std::unique_ptr<IFile> Open(const std::string&, OpenMode) override { throw FileError("I/O error 21", 21); }
    bool IsSameFile(IFile&, const std::string&) override { return false; }
    int64_t FileSizeByName(const std::string&) override { return 0; }
  } noReopen;
  struct Case {
    const char* name;
    std::function<void(fake::Disk&, FakeView&)> arrange;  // after the rescue
    char end;  // '+' finished, '-' still damaged, 'x' refused, 's' stopped with bytes missing
    std::vector<Q> asked = {};
    std::vector<int64_t> alsoBad = {};  // unreadable besides 70000 (during the rescue too)
    const char* refusal = kMapMismatchText;
    bool reopenFails = false;
    int blockChecksFailing = 0;  // reads of the block the map names that fail
  };
  auto answers = [](fake::Disk& d, FakeView& v, std::vector<std::function<bool()>> each) {
    d.unreadableAt = -1, d.outAfterReads = 2;
    v.onMediumAsk = [each, k = size_t{0}]() mutable { return k < each.size() && each[k++](); };
  };
  const Case cases[] = {
      {"healed", [](fake::Disk& d, FakeView&) { d.unreadableAt = -1; }, '+'},
      {"still damaged", [](fake::Disk&, FakeView&) {}, '-'},
      {"another source", [&](fake::Disk& d, FakeView&) { d.Put(src, other); }, 'x'},
      {"its block unreadable now, healed elsewhere",
       [](fake::Disk& d, FakeView&) { d.unreadableAt = -1, d.alsoUnreadable = {100}; }, '+', {}, {}, kMapMismatchText,
       false, 2},
      {"the disc taken out, Anuluj", [&](fake::Disk& d, FakeView& v) { answers(d, v, {}); }, 's', {Q::kGone}},
      {"the disc taken out, Ponów",
       [&](fake::Disk& d, FakeView& v) { answers(d, v, {[&d] { return !(d.discOut = false); }}); }, '+', {Q::kGone}},
      {"the disc taken out, another put in, then the right one",
       [&](fake::Disk& d, FakeView& v) {
         answers(d, v, {[&] { return d.Put(src, other), !(d.discOut = false); }, [&] { return d.Put(src, data), true; }});
       },
       '+', {Q::kGone, Q::kOtherDisc}},
      {"the disc taken out, another put in, Anuluj",
       [&](fake::Disk& d, FakeView& v) { answers(d, v, {[&] { return d.Put(src, other), !(d.discOut = false); }}); },
       's', {Q::kGone, Q::kOtherDisc}},
      {"Zatrzymaj before the disc is found gone",
       [&](fake::Disk& d, FakeView& v) { answers(d, v, {}), v.stop = true; }, 's'},
      {"still damaged, the disc taken out during the retry, Ponów",
       [](fake::Disk& d, FakeView& v) {
         d.outAfterReads = 4;  // the two checks of the source, 70000, then out
         v.onMediumAsk = [&d] { return !(d.discOut = false); };
       },
       '-', {Q::kGone}, {150000}},
      {"the source not opened again for the rescue", [](fake::Disk&, FakeView&) {}, 'x', {}, {}, "I/O error 21",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Disk disk;
    StepClock clock;
    FakeView view;
    disk.Put(src, data);
    disk.unreadableAt = 70000;
    disk.alsoUnreadable = c.alsoBad;
    fake::View rescueView;
    rescueView.rescue = true;
    Pacer pacer(clock);
    ASSERT_GT(CopyFileAtLevel({disk, clock, rescueView, pacer}, src, dst, 0), 0);
    disk.Put("D:\\inny", "abcdef");
    disk.Put("C:\\inny", "ab");
    c.arrange(disk, view);
    const std::string before = disk.Bytes(dst), mapBefore = disk.Bytes(map);
    const int badBefore = static_cast<int>(LoadMapFile(disk, map).UnfinishedPlaces());
    disk.failures = 0;

    Resumer(disk, clock, view, c.reopenFails ? &noReopen : nullptr).Start({{src, dst}, {"D:\\inny", "C:\\inny"}});

    EXPECT_EQ(view.asked, c.asked);
    // Each sector found bad before is read at most once more.
    EXPECT_LE(disk.failures, badBefore + c.blockChecksFailing);
    if (c.end == 'x') {
      EXPECT_EQ(view.errors, std::vector<std::string>{c.refusal});
      EXPECT_EQ(disk.Bytes(dst) + disk.Bytes(map), before + mapBefore);
    } else if (c.end == '+') {
      EXPECT_EQ(view.errors, std::vector<std::string>{});
      EXPECT_TRUE(disk.Bytes(dst) == data);
      EXPECT_FALSE(disk.Exists(map));
    } else {
      // What is still missing is named by the map, and every byte it calls
      // read is there; no byte came from another disc.
      const RescueMap left = LoadMapFile(disk, map);
      for (const MapArea& a : left.Areas())
        EXPECT_EQ(disk.Bytes(dst).compare(a.pos, a.size, a.status == kFinished ? data : std::string(data.size(), '\0'),
                                          a.pos, a.size),
                  0);
      const std::vector<std::string> unread = {UnreadBytesText(left.Unfinished(), "obraz.iso")};
      EXPECT_EQ(view.errors, c.end == '-' ? unread : std::vector<std::string>{});
    }
    EXPECT_EQ(disk.Bytes("C:\\inny"), c.end == 's' ? "ab" : "abcdef");
    EXPECT_EQ(disk.openNow, 0);
  }
}

}  // namespace
}  // namespace sk
