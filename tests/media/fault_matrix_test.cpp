// The fault matrix: every way a damaged disc, a full disk or the user's Stop
// can end a copy or a resume, at every copy level, on the badmedia fixture.
// Whatever happens, a destination holds exactly a prefix of its source, the
// log tells what ended it, the run goes on, and the disc is only ever read.
//
// The cases of one dimension run as one table; a failing case is named in the
// failure message ("level 2 (129-byte blocks), unreadable byte 258: ...").
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/Formats.h"
#include "core/LevelCopy.h"
#include "core/Rescue.h"
#include "core/Resume.h"
#include "support/Media.h"
#include "support/RescueCheck.h"
#include "support/UiTest.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/Window.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::test {
namespace {

// Small enough for level 0 on the fixture (about 22 us a byte), large enough
// for two blocks of every level.
constexpr uint64_t kSize = 2600;

std::string LevelName(int level) {
  return "level " + std::to_string(level) + " (" + std::to_string(BlockSize(level)) + "-byte blocks)";
}

// The bytes a copy keeps when the read of `failingByte` fails: every block
// before the one holding it.
uint64_t BlocksBefore(uint64_t failingByte, int level) {
  return failingByte / BlockSize(level) * BlockSize(level);
}

struct Entry {
  std::string text;
  int kind;
  bool operator==(const Entry&) const = default;
};

std::string Describe(const std::vector<Entry>& entries) {
  std::string s;
  for (const auto& e : entries) s += "\n    [" + std::to_string(e.kind) + "] " + e.text;
  return s;
}

// Collects what went wrong over a table of cases, one line per failing case.
struct Failures {
  std::vector<std::string> lines;
  void Add(const std::string& caseName, const std::string& what) { lines.push_back(caseName + ": " + what); }
  std::string Text() const {
    std::string s = std::to_string(lines.size()) + " failing case(s):";
    for (const auto& l : lines) s += "\n  " + l;
    return s;
  }
};

// The salt of the random cases: SEKTORIAN_SALT when set, else the time.
unsigned MatrixSeed() {
  static const unsigned salt = [] {
    if (const char* s = std::getenv("SEKTORIAN_SALT"); s && *s) return static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    return static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count() % 1000000007);
  }();
  return salt;
}

// ---- views of the core loops, for the cases that need a chosen stop step ----

// The copy routine's view: records the log; asks to stop at its `stopAt`-th
// step (the routine asks once a step, after the write).
struct CopyView : ICopyView {
  CopyStatus status;
  std::vector<Entry> log;
  int64_t stopAt = -1, steps = 0;
  void LogEvent(const std::string& text, EventKind kind) override { log.push_back({text, kind}); }
  CopyStatus& Status() override { return status; }
  void ShowStatus() override {}
  void PumpMessages() override {}
  bool StopRequested() override { return ++steps >= stopAt && stopAt > 0; }
  double CopyStartTime() override { return 0; }
  bool CheckSizes() override { return true; }
};

// The resume run's view: errors recorded; the stop flag is set at the
// `stopAt`-th time the loop looks at it and stays set until the loop clears it.
struct ResumeView : IResumeView {
  std::vector<std::string> errors;
  int64_t stopAt = -1, looks = 0;
  bool stop = false;
  double start = 0;
  void SetRunning(bool) override {}
  void Show(const ResumeStatus&) override {}
  void Pump() override {}
  bool StopRequested() override {
    if (++looks == stopAt) stop = true;
    return stop;
  }
  void ClearStopRequested() override { stop = false; }
  double StartTime() override { return start; }
  void SetStartTime(double days) override { start = days; }
  void ReportError(const std::string& text) override { errors.push_back(text); }
  int level = 0;
  int Level() override { return level; }
  std::string DecimalSeparator() override { return win::DecimalSeparator(); }
};

std::vector<std::string> g_reported;  // the application's error report, captured
void CaptureReport(const std::string& text) { g_reported.push_back(text); }

// ---- the suite: one mount state, one main window, one destination folder ----

// One file of the read-error table and what its copy left.
struct ReadErrorCase {
  int level;
  uint64_t badByte;
  VirtualFile file;
  std::string destination;
  std::string error;          // what the routine threw ("" when nothing)
  std::string kept;           // the destination's bytes right after the copy
  std::vector<Entry> entries;  // the log entries of this file's copy
  std::string Name() const { return LevelName(level) + ", unreadable byte " + std::to_string(badByte); }
};

class FaultMatrix : public testing::Test {
 public:
  static void SetUpTestSuite() {
    try {
      media_ = new Media();
    } catch (const std::exception& e) {
      mediaError_ = e.what();
      return;
    }
    dir_ = new TempDir();
    form_ = new ui::TForm1();
    form_->Create();
    form_->SetSizeCheckSource([] { return true; });
    ui::SetErrorSink(CaptureReport);
  }
  static void TearDownTestSuite() {
    ui::SetErrorSink(nullptr);
    delete form_;
    delete dir_;
    delete media_;
    form_ = nullptr;
    dir_ = nullptr;
    media_ = nullptr;
    copied_.reset();
  }

 protected:
  void SetUp() override { ASSERT_NE(media_, nullptr) << mediaError_; }

  // Copies every file of a case list one after another through the main
  // window, as a run does: the error that ends a file is ignored and the
  // next file is copied. Returns each file's log entries and error.
  struct Copied {
    std::string error;
    std::vector<Entry> entries;
  };
  static std::vector<Copied> RunFiles(const std::vector<std::pair<std::string, std::string>>& files, int level) {
    form_->SetCopyStartTime(win::WinClock().Now());
    form_->BeginCopy();
    std::vector<size_t> starts;
    std::vector<Copied> out(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      starts.push_back(form_->EventLog().Count());
      try {
        form_->CopyFileAtLevel(files[i].first, files[i].second, level);
      } catch (const FileError& e) {
        out[i].error = e.what();
      }
    }
    form_->EndCopy();
    starts.push_back(form_->EventLog().Count());
    for (size_t i = 0; i < files.size(); ++i)
      for (size_t k = starts[i]; k < starts[i + 1]; ++k)
        out[i].entries.push_back({form_->EventLog().At(k).text, form_->EventLog().At(k).kind});
    return out;
  }

  // The read-error table, copied once for the tests that need it: every
  // offset at every level, then an intact file after each level's run.
  static std::vector<ReadErrorCase>& ReadErrorCases() {
    if (copied_) return *copied_;
    copied_ = std::make_unique<std::vector<ReadErrorCase>>();
    std::set<uint64_t> offsets{0, kSize / 2, kSize - 1};
    for (int level = 0; level <= 4; ++level)
      for (uint64_t m : {1, 2})
        for (int d : {-1, 0, 1}) offsets.insert(m * BlockSize(level) + d);
    for (int level = 0; level <= 4; ++level) {
      std::vector<ReadErrorCase> cases;
      std::vector<std::pair<std::string, std::string>> files;
      for (uint64_t bad : offsets) {
        ReadErrorCase c{.level = level, .badByte = bad};
        c.file = VirtualFile{.size = kSize, .salt = 1000u * level + bad + 1, .id = "L" + std::to_string(level)};
        c.file.Bad(bad, bad);
        c.destination = *dir_ / c.file.Name();
        files.emplace_back(media_->Source(c.file), c.destination);
        cases.push_back(c);
      }
      const VirtualFile after{.size = kSize, .salt = 77, .id = "after_L" + std::to_string(level)};
      files.emplace_back(media_->Source(after), *dir_ / after.Name());
      const auto results = RunFiles(files, level);
      for (size_t i = 0; i < cases.size(); ++i) {
        cases[i].error = results[i].error;
        cases[i].entries = results[i].entries;
        cases[i].kept = ReadFile(cases[i].destination);
      }
      // The intact file after the last unreadable one is copied whole.
      ReadErrorCase last{.level = level, .badByte = kSize, .file = after, .destination = files.back().second};
      last.error = results.back().error;
      last.entries = results.back().entries;
      last.kept = ReadFile(last.destination);
      cases.push_back(last);
      copied_->insert(copied_->end(), cases.begin(), cases.end());
    }
    return *copied_;
  }

  static Media* media_;
  static std::string mediaError_;
  static TempDir* dir_;
  static ui::TForm1* form_;
  static std::unique_ptr<std::vector<ReadErrorCase>> copied_;
};

Media* FaultMatrix::media_ = nullptr;
std::string FaultMatrix::mediaError_;
TempDir* FaultMatrix::dir_ = nullptr;
ui::TForm1* FaultMatrix::form_ = nullptr;
std::unique_ptr<std::vector<ReadErrorCase>> FaultMatrix::copied_;

// An unreadable byte at the first and last byte, on both sides of the first
// two block boundaries of every level and in the middle, at each of the five
// levels: the destination is exactly the blocks before the failing one, the
// log ends the file with the error entry and no closing entries, and the next
// file is copied.
TEST_F(FaultMatrix, ReadErrorsEndEachFileAtTheFailingBlock) {
  const auto& cases = ReadErrorCases();
  Failures failures;
  size_t failingFiles = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const ReadErrorCase& c = cases[i];
    const std::string n = c.file.Name();
    const std::string source = c.file.Bytes(0, kSize);
    const bool intact = c.badByte >= kSize;
    if (const std::string p = PrefixProblem(c.kept, source, intact ? kSize : BlocksBefore(c.badByte, c.level));
        !p.empty())
      failures.Add(c.Name(), p);
    std::vector<Entry> expected = {{"Rozpoczynanie kopiowania pliku " + n, ekInfo},
                                   {"Powiązywanie plików", ekInfo},
                                   {"Przygotowywanie plików do kopiowania", ekInfo},
                                   {"Czytanie i zapisywanie bajtów", ekInfo}};
    if (intact) {
      expected.insert(expected.end(), {{"Zakończono czytanie i zapisywanie bajtów", ekInfo},
                                       {"Sprawdzanie rozmiaru pliku", ekInfo},
                                       {"Rozmiar plików jest taki sam - sukces", ekSuccess},
                                       {"Zakończono sprawdzanie rozmiaru plików", ekInfo},
                                       {"Zamykanie plików", ekInfo},
                                       {"Zakończono kopiowanie pliku " + n, ekInfo}});
    } else {
      ++failingFiles;
      expected.push_back({"Błąd: I/O error 21", ekError});
    }
    // Each file's entries run up to the next file's first entry: an exact
    // match also says that the next file was started.
    if (c.entries != expected) failures.Add(c.Name(), "log entries:" + Describe(c.entries));
    if (c.error != (intact ? "" : "I/O error 21")) failures.Add(c.Name(), "the copy ended with \"" + c.error + "\"");
  }
  EXPECT_GE(failingFiles, 5u * 20u);
  EXPECT_TRUE(failures.lines.empty()) << failures.Text();
  std::cout << "[ matrix   ] read errors: " << failingFiles << " files at 5 levels, " << failures.lines.size()
            << " failing\n";
}

// Each prefix left by the read-error table is resumed twice: first with the
// damage still there, which appends exactly the readable bytes up to the
// unreadable one, reports "I/O error 21" and goes on with the next pair; then,
// the ranges readable again, to a byte-identical copy. Levels 0 to 3 run
// through the resume loop on Windows files, level 4 through the resume window.
TEST_F(FaultMatrix, PrefixesResumeUpToTheDamageThenWholeOnceHealed) {
  auto& cases = ReadErrorCases();
  std::vector<ResumePair> corePairs;
  ui::TForm3 window;
  window.Create();
  window.ShowModeless();
  size_t coreFailing = 0, windowFailing = 0;
  for (const auto& c : cases) {
    const bool damaged = c.badByte < kSize;
    if (c.level < 4) {
      corePairs.push_back({media_->Source(c.file), c.destination});
      coreFailing += damaged;
    } else {
      window.AddPair(media_->Source(c.file), c.destination);
      windowFailing += damaged;
    }
  }
  win::WinFileSystem files;
  win::WinClock clock;
  Failures failures;
  auto check = [&](const std::string& when, bool healed) {
    for (const auto& c : cases) {
      const uint64_t expected = healed ? kSize : std::min(c.badByte, kSize);
      if (const std::string p = PrefixProblem(ReadFile(c.destination), c.file.Bytes(0, kSize), expected); !p.empty())
        failures.Add(when + ", " + c.Name() + (c.level == 4 ? ", in the window" : ""), p);
    }
  };
  // The error box of the application ends its text with a full stop.
  auto expectReports = [&](const std::string& when, const std::vector<std::string>& got, size_t count,
                           const std::string& text) {
    if (got != std::vector<std::string>(count, text))
      failures.Add(when, std::to_string(got.size()) + " error reports, expected " + std::to_string(count) +
                             " times \"" + text + "\"" + (got.empty() ? "" : ", the first \"" + got.front() + "\""));
  };

  // Damaged: each pair stops at its unreadable byte, and the run goes on.
  ResumeView damagedView;
  Resumer(files, clock, damagedView).Start(corePairs);
  expectReports("resume loop, damaged", damagedView.errors, coreFailing, "I/O error 21");
  g_reported.clear();
  window.Button1Click();
  expectReports("resume window, damaged", g_reported, windowFailing, "I/O error 21.");
  check("damaged", false);

  // Healed: every pair is completed.
  for (const auto& c : cases) media_->Heal(c.file);
  ResumeView healedView;
  Resumer(files, clock, healedView).Start(corePairs);
  expectReports("resume loop, healed", healedView.errors, 0, "");
  g_reported.clear();
  window.Button1Click();
  expectReports("resume window, healed", g_reported, 0, "");
  check("healed", true);
  media_->Unheal();

  // The window shows the end of its last pair and is idle again.
  EXPECT_EQ(window.Text("Label7"), cases.back().file.Name());
  EXPECT_EQ(window.Text("Label9"), "0 B");
  EXPECT_EQ(SendMessageW(window.Control("ProgressBar1"), PBM_GETPOS, 0, 0), static_cast<LRESULT>(kSize));
  EXPECT_TRUE(window.Enabled("Button1") && !window.Enabled("Button2"));
  EXPECT_TRUE(failures.lines.empty()) << failures.Text();
  std::cout << "[ matrix   ] resumes: " << cases.size() << " pairs damaged, then healed; " << failures.lines.size()
            << " failing\n";
}

// The destination folder runs out of space mid-file (the fixture's writable
// folder with a byte budget): the file ends with the error entry, keeps every
// block that fitted, and the next file is still copied (into what is left).
// Resumed onto the same full disk, it takes what fits, the error is reported,
// and the next pair is still done.
TEST_F(FaultMatrix, AFullDiskEndsTheFileAndTheRunGoesOn) {
  win::WinFileSystem files;
  win::WinClock clock;
  Failures failures;
  size_t count = 0;
  for (int level = 0; level <= 4; ++level) {
    for (uint64_t budget : {uint64_t{0}, uint64_t{1000}, uint64_t{2050}, uint64_t{2051}}) {
      ++count;
      const std::string name = LevelName(level) + ", " + std::to_string(budget) + " bytes free";
      const std::string tag = std::to_string(level) + "_" + std::to_string(budget);
      const uint64_t kept = BlocksBefore(budget, level);  // whole blocks that fit
      const VirtualFile full{.size = 5000, .salt = 300u + count, .id = "full" + tag};
      const VirtualFile next{.size = budget - kept, .salt = 400u + count, .id = "next" + tag};
      const std::string fullDst = media_->Disk() + full.Name(), nextDst = media_->Disk() + next.Name();
      media_->SetBudget(budget);
      const auto results = RunFiles({{media_->Source(full), fullDst}, {media_->Source(next), nextDst}}, level);
      media_->ClearBudget();

      if (const std::string p = PrefixProblem(ReadFile(fullDst), full.Bytes(0, full.size), kept); !p.empty())
        failures.Add(name, p);
      if (results[0].error != "I/O error 112") failures.Add(name, "the copy ended with \"" + results[0].error + "\"");
      const std::vector<Entry> expected = {{"Rozpoczynanie kopiowania pliku " + full.Name(), ekInfo},
                                           {"Powiązywanie plików", ekInfo},
                                           {"Przygotowywanie plików do kopiowania", ekInfo},
                                           {"Czytanie i zapisywanie bajtów", ekInfo},
                                           {"Błąd: I/O error 112", ekError}};
      if (results[0].entries != expected) failures.Add(name, "log entries:" + Describe(results[0].entries));
      // The next file fits in what is left and is copied whole.
      if (const std::string p = PrefixProblem(ReadFile(nextDst), next.Bytes(0, next.size), next.size); !p.empty())
        failures.Add(name + ", next file", p);
      if (!results[1].error.empty() || results[1].entries.empty() ||
          results[1].entries.front().text != "Rozpoczynanie kopiowania pliku " + next.Name() ||
          results[1].entries.back().text != "Zakończono kopiowanie pliku " + next.Name())
        failures.Add(name + ", next file", "log entries:" + Describe(results[1].entries));

      // The resume of that file onto the same full disk: every byte that fits
      // is appended, the error is reported, and the next pair is completed.
      const uint64_t room = 100 + level;
      const std::string otherDst = *dir_ / ("resumed_" + tag + ".bin");
      WriteFile(otherDst, "");
      ResumeView view;
      media_->SetBudget(room);
      Resumer(files, clock, view).Start({{media_->Source(full), fullDst}, {media_->Source(next), otherDst}});
      media_->ClearBudget();
      if (const std::string p = PrefixProblem(ReadFile(fullDst), full.Bytes(0, full.size), kept + room); !p.empty())
        failures.Add(name + ", resumed", p);
      if (view.errors != std::vector<std::string>{"I/O error 112"})
        failures.Add(name + ", resumed", std::to_string(view.errors.size()) + " error reports" +
                                             (view.errors.empty() ? "" : ", the first \"" + view.errors[0] + "\""));
      if (ReadFile(otherDst) != next.Bytes(0, next.size)) failures.Add(name + ", resumed", "the next pair differs");
    }
  }
  EXPECT_TRUE(failures.lines.empty()) << failures.Text();
  std::cout << "[ matrix   ] full disk: " << count << " cases, " << failures.lines.size() << " failing\n";
}

// Stop at random steps (seeded; the salt is printed, SEKTORIAN_SALT repeats
// it): a copy stopped at step s keeps exactly its first s blocks (or what an
// unreadable byte before them left) and ends with its closing entries; the
// resume of those prefixes, stopped at a random byte, leaves every
// destination a prefix of its source, the stopped pair grown by exactly the
// bytes before the stop and the later pairs untouched; a last resume
// completes them all.
TEST_F(FaultMatrix, StopAtRandomStepsLeavesPrefixes) {
  const unsigned salt = MatrixSeed();
  std::cout << "[ matrix   ] stop cases seeded with " << salt << " (SEKTORIAN_SALT=" << salt << " repeats them)\n";
  RecordProperty("salt", std::to_string(salt));
  std::mt19937 rng(salt);
  auto pick = [&](uint64_t lo, uint64_t hi) { return std::uniform_int_distribution<uint64_t>(lo, hi)(rng); };

  win::WinFileSystem files;
  win::WinClock clock;
  Pacer pacer(clock);
  Failures failures;
  struct Trial {
    VirtualFile file;
    std::string destination, name;
    uint64_t length = 0;  // what the destination holds now
  };
  std::vector<Trial> trials;
  constexpr int kTrials = 30;
  for (int t = 0; t < kTrials; ++t) {
    const int level = static_cast<int>(pick(0, 4));
    const uint64_t bs = BlockSize(level);
    Trial trial;
    trial.file = VirtualFile{.size = pick(1, level == 0 ? 1500 : 6000), .salt = salt + t,
                             .id = "stop" + std::to_string(salt) + "_" + std::to_string(t)};
    const uint64_t steps = (trial.file.size + bs - 1) / bs;
    const bool unreadable = pick(0, 1) == 1;
    if (unreadable) {
      const uint64_t at = pick(0, trial.file.size - 1);
      trial.file.Bad(at, std::min(trial.file.size - 1, at + pick(0, 50)));
    }
    const int64_t stopStep = static_cast<int64_t>(pick(1, steps + 1));
    trial.destination = *dir_ / trial.file.Name();
    trial.name = "copy " + std::to_string(t) + ": " + LevelName(level) + ", " + std::to_string(trial.file.size) +
                 " bytes, stop after step " + std::to_string(stopStep) +
                 (unreadable ? ", unreadable from byte " + std::to_string(trial.file.FirstBad()) : "");
    CopyView view;
    view.stopAt = stopStep;
    std::string error;
    try {
      CopyFileAtLevel({files, clock, view, pacer}, media_->Source(trial.file), trial.destination, level);
    } catch (const FileError& e) {
      error = e.what();
    }
    // The step that fails is the one whose block holds the first unreadable byte.
    const uint64_t failingStep = unreadable ? trial.file.FirstBad() / bs + 1 : steps + 1;
    const bool failed = failingStep <= static_cast<uint64_t>(stopStep) && failingStep <= steps;
    trial.length = failed ? (failingStep - 1) * bs : std::min<uint64_t>(stopStep * bs, trial.file.size);
    if (const std::string p = PrefixProblem(ReadFile(trial.destination), trial.file.Bytes(0, trial.file.size),
                                            trial.length);
        !p.empty())
      failures.Add(trial.name, p);
    if (error != (failed ? "I/O error 21" : "")) failures.Add(trial.name, "the copy ended with \"" + error + "\"");
    const std::string closing = "Zakończono kopiowanie pliku " + trial.file.Name();
    if (failed != (view.log.back().text != closing)) failures.Add(trial.name, "log entries:" + Describe(view.log));
    trials.push_back(trial);
  }

  // The resumes: the ranges read again; three pairs a run, each run stopped
  // at a random look at the stop flag (once a byte, and once after each pair).
  for (const auto& t : trials) media_->Heal(t.file);
  for (size_t first = 0; first < trials.size(); first += 3) {
    const size_t end = std::min(trials.size(), first + 3);
    std::vector<ResumePair> pairs;
    uint64_t looks = 0;
    for (size_t i = first; i < end; ++i) {
      pairs.push_back({media_->Source(trials[i].file), trials[i].destination});
      looks += trials[i].file.size - trials[i].length + 1;
    }
    ResumeView view;
    view.stopAt = static_cast<int64_t>(pick(1, looks + 1));
    Resumer(files, clock, view).Start(pairs);
    const std::string run = "resume of copies " + std::to_string(first) + "-" + std::to_string(end - 1) +
                            ", stop at look " + std::to_string(view.stopAt);
    if (!view.errors.empty()) failures.Add(run, "error report \"" + view.errors.front() + "\"");
    // Where the stop falls: every byte is one look, every pair's end one more.
    int64_t left = view.stopAt;
    bool stopped = false;
    for (size_t i = first; i < end; ++i) {
      Trial& t = trials[i];
      const int64_t missing = static_cast<int64_t>(t.file.size - t.length);
      if (!stopped) {
        if (left <= missing) {
          t.length += static_cast<uint64_t>(left);
          stopped = true;
        } else {
          t.length = t.file.size;
          left -= missing + 1;
          stopped = left <= 0;
        }
      }
      if (const std::string p = PrefixProblem(ReadFile(t.destination), t.file.Bytes(0, t.file.size), t.length);
          !p.empty())
        failures.Add(run + ", " + t.name, p);
    }
  }

  // A last run without a stop completes every pair.
  std::vector<ResumePair> all;
  for (const auto& t : trials) all.push_back({media_->Source(t.file), t.destination});
  ResumeView view;
  Resumer(files, clock, view).Start(all);
  media_->Unheal();
  for (const auto& t : trials)
    if (const std::string p = PrefixProblem(ReadFile(t.destination), t.file.Bytes(0, t.file.size), t.file.size);
        !p.empty())
      failures.Add("final resume, " + t.name, p);
  EXPECT_TRUE(failures.lines.empty()) << "salt " << salt << ": " << failures.Text();
  std::cout << "[ matrix   ] stops: " << kTrials << " copies and " << (kTrials + 2) / 3 << " resume runs, "
            << failures.lines.size() << " failing\n";
}

// ---- files beyond 4 GiB ----

constexpr uint64_t kGiB = 1ULL << 30;

// What the file takes on the disk (sparse files take little).
int64_t DiskUse(const std::string& path) {
  HANDLE h = CreateFileW(win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  FILE_STANDARD_INFO info{};
  const BOOL ok = GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info);
  CloseHandle(h);
  return ok ? info.AllocationSize.QuadPart : -1;
}

// Writes `bytes` at `offset` of an existing file; a write past the end leaves
// a hole, which takes no disk space.
void WriteAt(const std::string& path, uint64_t offset, const std::string& bytes) {
  HANDLE h = CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD done = 0;
  EXPECT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
  EXPECT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
  EXPECT_EQ(done, bytes.size());
  CloseHandle(h);
}

std::string ReadRange(const std::string& path, uint64_t offset, DWORD count) {
  HANDLE h = CreateFileW(win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
  DWORD error = 0;
  std::string got = ReadAt(h, offset, count, &error);
  CloseHandle(h);
  return error ? "<read error " + std::to_string(error) + ">" : got;
}

uint64_t SizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a{};
  if (!GetFileAttributesExW(win::Widen(path).c_str(), GetFileExInfoStandard, &a)) return 0;
  return (static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

std::pair<LRESULT, LRESULT> BarOf(HWND bar) {
  return {SendMessageW(bar, PBM_GETRANGE, FALSE, 0), SendMessageW(bar, PBM_GETPOS, 0, 0)};
}

ui::TForm3* g_resumeWindow = nullptr;
void CALLBACK StopResume(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (g_resumeWindow) g_resumeWindow->Button2Click();
}
ui::TForm1* g_mainWindow = nullptr;
void CALLBACK StopCopy(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (g_mainWindow) g_mainWindow->Button65Click();
}

// A 5 GiB source (computed by the fixture) and a sparse destination of
// 4 GiB + 1000 bytes in the resume window: the bytes go on at 4 GiB + 1000
// (not at 1000), the texts and the bar show the 64-bit figures; stopped, and
// continued from 5 GiB - 2000, the pair ends exactly as long as its source
// with the source's bytes. One byte a step makes a whole gigabyte a matter of
// hours, so the middle is left as a hole and only written samples, the part
// around 4 GiB and the tail are compared.
TEST_F(FaultMatrix, AResumeBeyondFourGibLandsAtTheRightOffset) {
  const VirtualFile big{.size = 5 * kGiB, .salt = 51, .id = "big"};
  const uint64_t start = 4 * kGiB + 1000;
  TempDir dir;
  const std::string dst = dir / "duzy.iso";
  // Samples of the source where a 32-bit slip would land, the rest a hole.
  const std::vector<std::pair<uint64_t, DWORD>> samples = {
      {0, 4096}, {2 * kGiB - 2048, 4096}, {4 * kGiB - 3000, 4000}};
  for (const auto& [at, n] : samples) WriteAt(dst, at, big.Bytes(at, n));
  ASSERT_EQ(SizeOf(dst), start);
  EXPECT_GT(DiskUse(dst), 0);  // the samples take room, the hole none
  EXPECT_LT(DiskUse(dst), 1 << 20) << "the destination is not sparse";

  ui::TForm3 window;
  window.Create();
  window.ShowModeless();
  window.AddPair(media_->Source(big), dst);
  g_resumeWindow = &window;
  g_reported.clear();
  SetTimer(nullptr, 0, 100, StopResume);
  window.Button1Click();
  g_resumeWindow = nullptr;
  EXPECT_TRUE(g_reported.empty()) << g_reported.front();
  const uint64_t reached = SizeOf(dst);
  ASSERT_GT(reached, start);
  ASSERT_LT(reached, start + 1000000);
  EXPECT_TRUE(ReadRange(dst, start - 1000, static_cast<DWORD>(reached - start + 1000)) ==
              big.Bytes(start - 1000, reached - start + 1000));
  EXPECT_EQ(window.Text("Label7"), big.Name());
  EXPECT_EQ(window.Text("Label9"), FormatByteCount(static_cast<int64_t>(big.size - reached)));
  EXPECT_EQ(window.Text("Label9").substr(0, 8), "1023,99 ");  // just under 1 GB still to copy
  // The bar's range is the size shifted down to fit 31 bits: 5 GiB / 4.
  auto [range, pos] = BarOf(window.Control("ProgressBar1"));
  EXPECT_EQ(range, static_cast<LRESULT>(big.size >> 2));
  EXPECT_EQ(pos, static_cast<LRESULT>(reached >> 2));

  // The rest, from 5 GiB - 2000 on (the source's bytes just before it written).
  const uint64_t resumeAt = big.size - 2000;
  WriteAt(dst, resumeAt - 3000, big.Bytes(resumeAt - 3000, 3000));
  ASSERT_EQ(SizeOf(dst), resumeAt);
  window.Button1Click();
  EXPECT_TRUE(g_reported.empty()) << g_reported.front();
  EXPECT_EQ(SizeOf(dst), big.size);
  EXPECT_TRUE(ReadRange(dst, resumeAt - 3000, 5000) == big.Bytes(resumeAt - 3000, 5000)) << "the tail differs";
  EXPECT_TRUE(ReadRange(dst, start - 1000, static_cast<DWORD>(reached - start + 1000)) ==
              big.Bytes(start - 1000, reached - start + 1000));
  for (const auto& [at, n] : samples)
    EXPECT_TRUE(ReadRange(dst, at, n) == big.Bytes(at, n)) << "the sample at " << at << " changed";
  EXPECT_EQ(window.Text("Label9"), "0 B");
  std::tie(range, pos) = BarOf(window.Control("ProgressBar1"));
  EXPECT_EQ(pos, range);
  EXPECT_LT(DiskUse(dst), 1 << 20);
}

// The main window on a 5 GiB file: its size as the directory entry gives it
// (the list's size text), and a level-4 copy stopped after some blocks shows
// "... / 5 GB" and bars scaled to their 31-bit range.
TEST_F(FaultMatrix, TheMainWindowShowsSizesBeyondFourGib) {
  const VirtualFile big{.size = 5 * kGiB, .salt = 52, .id = "big_main"};
  const std::string src = media_->Source(big);
  EXPECT_EQ(win::FileSizeByName(src), static_cast<int64_t>(big.size));
  form_->AddFileToList(src);
  const std::string separator = win::DecimalSeparator();
  EXPECT_EQ(form_->ListSizeText(form_->ListCount() - 1), "5 GB");

  TempDir dir;
  const std::string dst = dir / "obraz.iso";
  form_->SetCopyStartTime(win::WinClock().Now());
  form_->SetOverallProgress(2 * big.size, 0);  // as if a second file of 5 GiB were listed
  g_mainWindow = form_;
  SetTimer(nullptr, 0, 300, StopCopy);
  form_->CopyFileAtLevel(src, dst, 4);
  g_mainWindow = nullptr;
  ASSERT_TRUE(form_->StopRequested());
  form_->SetStopRequested(false);
  const uint64_t copied = SizeOf(dst);
  ASSERT_GT(copied, 0u);
  EXPECT_EQ(copied % 1025, 0u);
  EXPECT_TRUE(ReadRange(dst, 0, static_cast<DWORD>(copied)) == big.Bytes(0, copied));
  EXPECT_EQ(form_->Text("Label9"), FormatSize(static_cast<int64_t>(copied), separator) + " / 5 GB");
  EXPECT_EQ(form_->Text("Label7"), big.Name());
  // The bars stay at the step before the stop (the stopped step does not move them).
  const uint64_t shown = copied - 1025;
  auto [range1, pos1] = BarOf(form_->Control("ProgressBar1"));
  EXPECT_EQ(range1, static_cast<LRESULT>(big.size >> 2));
  EXPECT_EQ(pos1, static_cast<LRESULT>(shown >> 2));
  auto [range2, pos2] = BarOf(form_->Control("ProgressBar2"));
  EXPECT_EQ(range2, static_cast<LRESULT>((2 * big.size) >> 3));
  EXPECT_EQ(pos2, static_cast<LRESULT>(shown >> 3));
}

// ---- rescue mode ----

std::vector<Entry> RescueEntries(const VirtualFile& f, int64_t unread, size_t places) {
  const std::string n = f.Name();
  std::vector<Entry> e = {{"Rozpoczynanie kopiowania pliku " + n, ekInfo},
                          {"Powiązywanie plików", ekInfo},
                          {"Przygotowywanie plików do kopiowania", ekInfo},
                          {"Czytanie i zapisywanie bajtów", ekInfo},
                          {"Zakończono czytanie i zapisywanie bajtów", ekInfo}};
  if (unread > 0) {
    e.push_back({"Błąd: Nie odczytano " + FormatSize(unread, win::DecimalSeparator()) + " w " +
                     (places == 1 ? std::string("1 miejscu") : std::to_string(places) + " miejscach"),
                 ekError});
    e.push_back({"Zapisano mapę odczytu " + n + ".map", ekInfo});
  }
  e.push_back({"Sprawdzanie rozmiaru pliku", ekInfo});
  e.push_back(unread > 0 ? Entry{"Rozmiar plików jest taki sam, ale nie wszystkie bajty zostały odczytane - błąd",
                                 ekError}
                         : Entry{"Rozmiar plików jest taki sam - sukces", ekSuccess});
  e.push_back({"Zakończono sprawdzanie rozmiaru plików", ekInfo});
  e.push_back({"Zamykanie plików", ekInfo});
  e.push_back({"Zakończono kopiowanie pliku " + n, ekInfo});
  return e;
}

// Rescue mode on for what `body` copies through the main window.
template <typename Body>
void InRescueMode(ui::TForm1& form, Body body) {
  form.SetRescueModeSource([] { return true; });
  try {
    body();
  } catch (...) {
    form.SetRescueModeSource([] { return false; });
    throw;
  }
  form.SetRescueModeSource([] { return false; });
}

// Rescue mode over damage of every shape, at the five levels, copied through
// the main window one file after another as a run does: an unreadable byte
// at each offset of the read-error table, several areas, an area at the
// start, at the end, over the whole file. Every file gets its full length,
// everything readable outside the level's edge allowance, zeros in the holes,
// a map naming exactly what is missing, and its log entries.
TEST_F(FaultMatrix, RescueModeReadsPastTheDamage) {
  struct Shape {
    std::string name;
    uint64_t size;
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    int level = -1;  // only at this level (-1: at all five)
  };
  std::vector<Shape> shapes;
  std::set<uint64_t> offsets{0, kSize / 2, kSize - 1};
  for (int level = 0; level <= 4; ++level)
    for (uint64_t m : {1, 2})
      for (int d : {-1, 0, 1}) offsets.insert(m * BlockSize(level) + d);
  for (uint64_t bad : offsets) shapes.push_back({"unreadable byte " + std::to_string(bad), kSize, {{bad, bad}}});
  const uint64_t K = 1024;
  shapes.push_back({"several areas", 300 * K, {{10000, 10099}, {100 * K, 132 * K - 1}, {250 * K + 5, 250 * K + 5}}});
  shapes.push_back({"an area at the start", 100 * K, {{0, 20 * K}}});
  shapes.push_back({"an area at the end", 100 * K + 7, {{90 * K + 3, 100 * K + 6}}});
  shapes.push_back({"the whole file", 50 * K, {{0, 50 * K - 1}}});
  shapes.push_back({"no damage", 200 * K + 1, {}});
  // Level 0 alone: a 16 MiB file whose area ends off the sector grid, and two
  // places in neighbouring sectors with readable bytes between them; and
  // places off the grid after one on it (its edges fail at their first byte,
  // which must not make the later edge sectors read whole).
  const uint64_t farEdge = 4000 * 2048 + 904;
  shapes.push_back({"an area ending off the sector grid", 16 * K * K, {{farEdge - 10000, farEdge - 1}}, 0});
  shapes.push_back({"places in neighbouring sectors", 200 * K, {{102500, 103303}, {104748, 105347}}, 0});
  const uint64_t M = K * K;
  shapes.push_back({"three 32 KiB areas, the first on the grid, the second 5,000 bytes past a MiB", 16 * M,
                    {{4 * M, 4 * M + 32 * K - 1}, {8 * M + 5000, 8 * M + 5000 + 32 * K - 1}, {12 * M, 12 * M + 32 * K - 1}},
                    0});

  Failures failures;
  size_t count = 0, withMaps = 0;
  InRescueMode(*form_, [&] {
    for (int level = 0; level <= 4; ++level) {
      std::vector<VirtualFile> sources;
      std::vector<std::pair<std::string, std::string>> files;
      std::vector<size_t> kept;
      for (size_t i = 0; i < shapes.size(); ++i) {
        if (shapes[i].level >= 0 && shapes[i].level != level) continue;
        kept.push_back(i);
        VirtualFile f{.size = shapes[i].size, .salt = 5000u + 100u * level + i, .id = "rescue" + std::to_string(level)};
        for (const auto& [first, last] : shapes[i].bad) f.Bad(first, last);
        sources.push_back(f);
        files.emplace_back(media_->Source(f), *dir_ / f.Name());
      }
      const auto results = RunFiles(files, level);
      for (size_t i = 0; i < kept.size(); ++i) {
        const Shape& shape = shapes[kept[i]];
        ++count;
        const std::string name = LevelName(level) + ", rescue mode, " + shape.name;
        int64_t unread = 0;
        size_t places = 0;
        if (const std::string p = RescueProblem(sources[i], files[i].second, level, unread, places); !p.empty())
          failures.Add(name, p);
        withMaps += unread > 0;
        if (!shape.bad.empty() && places != shape.bad.size())
          failures.Add(name, std::to_string(places) + " places unread");
        if (!results[i].error.empty()) failures.Add(name, "the copy ended with \"" + results[i].error + "\"");
        if (results[i].entries != RescueEntries(sources[i], unread, places))
          failures.Add(name, "log entries:" + Describe(results[i].entries));
      }
    }
  });
  EXPECT_TRUE(failures.lines.empty()) << failures.Text();
  std::cout << "[ matrix   ] rescue mode: " << count << " files at 5 levels, " << withMaps << " with maps, "
            << failures.lines.size() << " failing\n";
}

// Rescue mode onto a disk that fills up, and rescues stopped at random
// blocks: the file ends with the usual error entry (or its closing entries
// after a stop), and the destination with its map never claims a byte it
// does not hold.
TEST_F(FaultMatrix, RescueModeEndsCleanOnAFullDiskAndAtAStop) {
  Failures failures;
  const uint64_t K = 1024;
  size_t count = 0;
  InRescueMode(*form_, [&] {
    for (int level = 0; level <= 4; level += 2) {
      for (uint64_t budget : {uint64_t{0}, uint64_t{1000}, 70 * K, 200 * K}) {
        for (bool damaged : {false, true}) {
          ++count;
          const std::string tag = std::to_string(level) + "_" + std::to_string(budget) + (damaged ? "d" : "");
          VirtualFile f{.size = 300 * K, .salt = 700u + count, .id = "rfull" + tag};
          if (damaged) f.Bad(100 * K, 110 * K);
          const std::string name = LevelName(level) + ", rescue mode, " + std::to_string(budget) + " bytes free" +
                                   (damaged ? ", damaged" : "");
          const std::string dst = media_->Disk() + f.Name();
          media_->SetBudget(budget);
          const auto results = RunFiles({{media_->Source(f), dst}}, level);
          media_->ClearBudget();
          if (results[0].error != "I/O error 112")
            failures.Add(name, "the copy ended with \"" + results[0].error + "\"");
          if (results[0].entries.size() < 5 || results[0].entries[4] != Entry{"Błąd: I/O error 112", ekError})
            failures.Add(name, "log entries:" + Describe(results[0].entries));
          if (const std::string p = RecordProblem(f, dst); !p.empty()) failures.Add(name, p);
        }
      }
    }
  });

  // A file of the user's where the map would go is neither deleted nor
  // replaced: the damaged file goes on without a map, cut to the bytes read
  // from its start, and says why.
  InRescueMode(*form_, [&] {
    ++count;
    VirtualFile f{.size = 100 * K, .salt = 901, .id = "rforeign"};
    f.Bad(50 * K, 51 * K);
    const std::string dst = *dir_ / f.Name();
    const std::string mine = "# notatki, nie mapa\n";
    WriteFile(MapPathFor(dst), mine);
    const auto results = RunFiles({{media_->Source(f), dst}}, 2);
    const std::string name = "rescue mode, a file of the user's at the map's path";
    if (ReadFile(MapPathFor(dst)) != mine) failures.Add(name, "the user's file changed");
    if (const std::string p = PrefixProblem(ReadFile(dst), f.Bytes(0, f.size), SizeOf(dst)); !p.empty())
      failures.Add(name, p);
    if (SizeOf(dst) > 50 * K) failures.Add(name, "destination of " + std::to_string(SizeOf(dst)) + " bytes");
    if (std::count(results[0].entries.begin(), results[0].entries.end(), Entry{"Błąd: File access denied", ekError}) !=
        1)
      failures.Add(name, "log entries:" + Describe(results[0].entries));
  });

  // Stops at random blocks (the routine asks once a block).
  const unsigned salt = MatrixSeed() + 1;
  std::mt19937 rng(salt);
  auto pick = [&](uint64_t lo, uint64_t hi) { return std::uniform_int_distribution<uint64_t>(lo, hi)(rng); };
  win::WinFileSystem files;
  win::WinClock clock;
  Pacer pacer(clock);
  struct RescueCopyView : CopyView {
    bool RescueMode() override { return true; }
  };
  for (int t = 0; t < 20; ++t) {
    ++count;
    const int level = static_cast<int>(pick(0, 4));
    VirtualFile f{.size = pick(1, 200 * K), .salt = salt + t, .id = "rstop" + std::to_string(salt) + "_" +
                                                                       std::to_string(t)};
    if (pick(0, 2) > 0) {
      const uint64_t at = pick(0, f.size - 1);
      f.Bad(at, std::min(f.size - 1, at + pick(0, 5000)));
    }
    RescueCopyView view;
    view.stopAt = static_cast<int64_t>(pick(1, 40));
    const std::string dst = *dir_ / f.Name();
    const std::string name = "rescue " + std::to_string(t) + ": " + LevelName(level) + ", " + f.Name() +
                             ", stop at block " + std::to_string(view.stopAt);
    std::string error;
    try {
      CopyFileAtLevel({files, clock, view, pacer}, media_->Source(f), dst, level);
    } catch (const FileError& e) {
      error = e.what();
    }
    if (!error.empty()) failures.Add(name, "the copy ended with \"" + error + "\"");
    if (SizeOf(dst) != f.size) failures.Add(name, "destination of " + std::to_string(SizeOf(dst)) + " bytes");
    if (const std::string p = RecordProblem(f, dst); !p.empty()) failures.Add(name, p);
    if (view.log.empty() || view.log.back().text != "Zakończono kopiowanie pliku " + f.Name())
      failures.Add(name, "log entries:" + Describe(view.log));
  }

  // A slow disc: the map saved by time names bytes beyond the damage, then
  // the disk fills up, and the map that would follow does not fit.
  {
    ++count;
    struct SlowDiscClock : win::WinClock {
      int64_t ms = 0;
      bool CounterFrequency(int64_t&) override { return false; }
      int64_t Milliseconds() override { return ms += 1000; }
    } slow;
    Pacer slowPacer(slow);
    VirtualFile f{.size = 300 * K, .salt = 950, .id = "rslowfull"};
    f.Bad(100 * K, 110 * K);
    const std::string dst = media_->Disk() + f.Name();
    struct FillingView : RescueCopyView {
      const Media* media = nullptr;
      std::string dst;
      bool full = false;
      bool StopRequested() override {
        std::string problem;
        const auto map = full ? std::nullopt : MapOf(dst, problem);
        if (map && map->NextArea(110 * 1024, kFinished)) {
          media->SetBudget(0);
          full = true;
        }
        return false;
      }
    } view;
    view.media = media_;
    view.dst = dst;
    const std::string name = "rescue mode, slow disc, disk full after a map past the damage";
    std::string error;
    try {
      CopyFileAtLevel({files, slow, view, slowPacer}, media_->Source(f), dst, 2);
    } catch (const FileError& e) {
      error = e.what();
    }
    media_->ClearBudget();
    if (!view.full) failures.Add(name, "no map past the damage was saved");
    if (error != "I/O error 112") failures.Add(name, "the copy ended with \"" + error + "\"");
    if (const std::string p = RecordProblem(f, dst); !p.empty()) failures.Add(name, p);
  }
  EXPECT_TRUE(failures.lines.empty()) << "salt " << salt << ": " << failures.Text();
  std::cout << "[ matrix   ] rescue mode, full disk and stops: " << count << " cases, " << failures.lines.size()
            << " failing\n";
}

// ---- rescued files finished through their read maps ----

// The maps of the rescued copies, kept for tests/media/check_maps.sh (which
// reads them with ddrescuelog and compares them with ddrescue's own after
// the media tests) in the folder SEKTORIAN_MAPS names, with a manifest of
// "LEVEL RESCUED NAME" lines.
void KeepMapsForDdrescue(const std::vector<std::pair<VirtualFile, int>>& rescued, const std::string& folderOfCopies) {
  const char* keep = std::getenv("SEKTORIAN_MAPS");
  if (!keep || !*keep) return;
  std::string folder = std::string("Z:") + keep + "\\";
  std::replace(folder.begin(), folder.end(), '/', '\\');
  CreateDirectoryW(win::Widen(folder).c_str(), nullptr);
  win::WinFileSystem files;
  std::string manifest;
  for (const auto& [file, level] : rescued) {
    const std::string map = MapPathFor(folderOfCopies + file.Name());
    if (!FileExists(map)) continue;
    manifest += std::to_string(level) + " " + std::to_string(LoadMapFile(files, map).Total(kFinished)) + " " +
                file.Name() + "\n";
    WriteFile(folder + file.Name() + ".map", ReadFile(map));
  }
  WriteFile(folder + "manifest", manifest);
}

// Files rescued through the main window, then resumed through their maps at
// the same level: first with the damage still there (each pair reports what
// stays unreadable, its map still names exactly that, and the run goes on),
// then stopped part way once healed (the map saved names only what was read),
// then to the end: byte-identical, the map gone. Levels 0 to 3 run through
// the resume loop, level 4 through the "Resumak" window. Maps that do not fit
// their source are refused, both files untouched.
TEST_F(FaultMatrix, RescuedFilesResumeThroughTheirMaps) {
  constexpr uint64_t kRescueSize = 20000;
  struct Damage {
    const char* name;
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    VirtualFile::Every every;
    std::vector<int> levels;
  };
  const std::vector<Damage> damages = {
      {"one area", {{5000, 5099}}, {}, {0, 1, 2, 3, 4}},
      {"one byte", {{10001, 10001}}, {}, {0, 2, 4}},
      {"several areas", {{100, 199}, {7000, 7000}, {15000, 16999}}, {}, {0, 4}},
      {"an area at the start", {{0, 999}}, {}, {0, 3}},
      {"an area at the end", {{19000, 19999}}, {}, {1, 4}},
      {"the whole file", {{0, kRescueSize - 1}}, {}, {0, 4}},
      {"20 spots", {}, {1000, 10, 500, 0}, {2, 4}},
  };
  struct Case {
    std::string name, destination;
    VirtualFile file;
    int level;
  };
  std::vector<Case> cases;
  std::vector<std::pair<VirtualFile, int>> rescued;
  Failures failures;
  InRescueMode(*form_, [&] {
    for (int level = 0; level <= 4; ++level) {
      std::vector<std::pair<std::string, std::string>> files;
      for (const Damage& d : damages) {
        if (std::find(d.levels.begin(), d.levels.end(), level) == d.levels.end()) continue;
        Case c{.name = std::string(d.name) + ", " + LevelName(level), .level = level};
        c.file = VirtualFile{
            .size = kRescueSize, .salt = 500u + cases.size(), .id = "map" + std::to_string(cases.size())};
        for (const auto& [first, last] : d.bad) c.file.Bad(first, last);
        if (d.every.stride) c.file.every.push_back(d.every);
        c.destination = *dir_ / c.file.Name();
        files.emplace_back(media_->Source(c.file), c.destination);
        cases.push_back(c);
        rescued.emplace_back(c.file, level);
      }
      RunFiles(files, level);
    }
  });
  auto expectRescued = [&](const std::string& when) {
    for (const Case& c : cases) {
      int64_t unread = 0;
      size_t places = 0;
      if (const std::string p = RescueProblem(c.file, c.destination, c.level, unread, places); !p.empty())
        failures.Add(c.name + ", " + when, p);
    }
  };
  expectRescued("rescued");
  KeepMapsForDdrescue(rescued, *dir_ / "");
  // A destination cut short since its rescue: what its map names as read
  // beyond the cut is read again, not left as a hole.
  WriteFile(cases[0].destination, ReadFile(cases[0].destination).substr(0, 3000));

  // Maps that do not fit: another size, a file that is not a map, and the
  // map of a rescue of another source of the same size. The pair after them
  // is a plain resume.
  VirtualFile mapOwner{.size = 3000, .salt = 64, .id = "map_owner"};
  mapOwner.Bad(2000, 2099);
  const VirtualFile stranger{.size = 3000, .salt = 65, .id = "stranger"};
  const std::string strangerDst = *dir_ / mapOwner.Name();
  InRescueMode(*form_, [&] { RunFiles({{media_->Source(mapOwner), strangerDst}}, 0); });
  const std::string strangerBytes = ReadFile(strangerDst), strangerMap = ReadFile(MapPathFor(strangerDst));
  const VirtualFile fitless{.size = 3000, .salt = 61, .id = "fitless"};
  const VirtualFile garbled{.size = 3000, .salt = 62, .id = "garbled"};
  const VirtualFile plain{.size = 3000, .salt = 63, .id = "plain_after"};
  const std::string fitlessDst = *dir_ / fitless.Name(), garbledDst = *dir_ / garbled.Name(),
                    plainDst = *dir_ / plain.Name();
  const std::string fitlessMap = RescueMap(2999).ToText(), garbledMap = "0x0 + 1\n0x0 0x10 +\n0x20 0x10 -\n";
  WriteFile(fitlessDst, fitless.Bytes(0, 1000));
  WriteFile(MapPathFor(fitlessDst), fitlessMap);
  WriteFile(garbledDst, garbled.Bytes(0, 1000));
  WriteFile(MapPathFor(garbledDst), garbledMap);
  WriteFile(plainDst, plain.Bytes(0, 10));

  win::WinFileSystem files;
  win::WinClock clock;
  ui::TForm3 window;
  window.Create();
  window.ShowModeless();
  window.SetLevelSource([] { return 4; });
  // Runs every case's pair, level by level (the level is the run's), and
  // gives each case's error reports.
  auto resumeAll = [&](const std::string& when, int64_t stopAt) {
    std::map<std::string, std::vector<std::string>> reports;
    for (int level = 0; level <= 4; ++level) {
      std::vector<ResumePair> pairs;
      std::vector<const Case*> of;
      for (const Case& c : cases)
        if (c.level == level) pairs.push_back({media_->Source(c.file), c.destination}), of.push_back(&c);
      std::vector<std::string> errors;
      if (level < 4) {
        ResumeView view;
        view.level = level;
        view.stopAt = stopAt;
        Resumer(files, clock, view).Start(pairs);
        errors = view.errors;
      } else {
        window.Button5Click();
        for (const auto& p : pairs) window.AddPair(p.source, p.destination);
        g_reported.clear();
        window.Button1Click();
        errors = g_reported;
      }
      // Reports come in list order and name their file.
      for (const std::string& e : errors) {
        const Case* owner = nullptr;
        for (const Case* c : of)
          if (e.find(" pliku " + c->file.Name() + ".") != std::string::npos) owner = c;
        if (owner) reports[owner->name].push_back(e);
        else failures.Add(when + ", " + LevelName(level), "a report of no listed file: \"" + e + "\"");
      }
    }
    return reports;
  };

  // Damaged still: every pair reports what stays unreadable, and its map
  // still names exactly that; the window shows what its last pair misses.
  auto reports = resumeAll("damaged", -1);
  expectRescued("resumed damaged");
  int64_t lastMissing = -1;
  for (const Case& c : cases) {
    int64_t unread = 0;
    size_t places = 0;
    RescueProblem(c.file, c.destination, c.level, unread, places);
    if (c.level == 4) lastMissing = unread;
    const std::vector<std::string> expected = {UnreadBytesText(unread, c.file.Name(), win::DecimalSeparator())};
    if (reports[c.name] != expected)
      failures.Add(c.name + ", resumed damaged", std::to_string(reports[c.name].size()) + " reports, the first \"" +
                                                     (reports[c.name].empty() ? "" : reports[c.name][0]) + "\"");
  }
  EXPECT_EQ(window.Text("Label9"), FormatByteCount(lastMissing));

  // Healed, stopped part way: what the maps name as read is there.
  for (const Case& c : cases) media_->Heal(c.file);
  reports = resumeAll("healed, stopped", 3);
  for (const Case& c : cases)
    if (const std::string p = RecordProblem(c.file, c.destination); !p.empty()) failures.Add(c.name + ", stopped", p);

  // Healed: byte-identical, the map gone, nothing reported.
  reports = resumeAll("healed", -1);
  for (const Case& c : cases) {
    if (ReadFile(c.destination) != c.file.Bytes(0, c.file.size)) failures.Add(c.name + ", healed", "not the source");
    if (FileExists(MapPathFor(c.destination))) failures.Add(c.name + ", healed", "the map is still there");
    if (!reports[c.name].empty()) failures.Add(c.name + ", healed", "reported \"" + reports[c.name][0] + "\"");
  }
  media_->Unheal();

  // The maps that do not fit are refused, both files as they were, and the
  // run goes on.
  window.Button5Click();
  for (const auto* f : {&fitless, &garbled}) window.AddPair(media_->Source(*f), *dir_ / f->Name());
  window.AddPair(media_->Source(stranger), strangerDst);
  window.AddPair(media_->Source(plain), plainDst);
  g_reported.clear();
  window.Button1Click();
  EXPECT_EQ(g_reported, (std::vector<std::string>{kMapMismatchText, kMapMismatchText, kMapMismatchText}));
  EXPECT_TRUE(ReadFile(strangerDst) == strangerBytes && ReadFile(MapPathFor(strangerDst)) == strangerMap);
  EXPECT_TRUE(ReadFile(fitlessDst) == fitless.Bytes(0, 1000) && ReadFile(MapPathFor(fitlessDst)) == fitlessMap);
  EXPECT_TRUE(ReadFile(garbledDst) == garbled.Bytes(0, 1000) && ReadFile(MapPathFor(garbledDst)) == garbledMap);
  EXPECT_TRUE(ReadFile(plainDst) == plain.Bytes(0, plain.size)) << "the pair after the refused ones";

  // The disk fills up during a resume through the map: the error is
  // reported, the map on the disk claims no byte the destination lacks, and
  // a run with room finishes the file.
  VirtualFile onDisk{.size = 300000, .salt = 64, .id = "fullmap"};
  onDisk.Bad(100000, 150000);
  const std::string onDiskDst = media_->Disk() + onDisk.Name();
  InRescueMode(*form_, [&] { RunFiles({{media_->Source(onDisk), onDiskDst}}, 4); });
  media_->Heal(onDisk);
  ResumeView fullView, roomView;
  fullView.level = roomView.level = 4;
  media_->SetBudget(20000);
  Resumer(files, clock, fullView).Start({{media_->Source(onDisk), onDiskDst}});
  media_->ClearBudget();
  EXPECT_EQ(fullView.errors, std::vector<std::string>{"I/O error 112"});
  EXPECT_EQ(RecordProblem(onDisk, onDiskDst), "");
  EXPECT_TRUE(FileExists(MapPathFor(onDiskDst)));
  Resumer(files, clock, roomView).Start({{media_->Source(onDisk), onDiskDst}});
  EXPECT_TRUE(roomView.errors.empty()) << roomView.errors.front();
  EXPECT_TRUE(ReadFile(onDiskDst) == onDisk.Bytes(0, onDisk.size));
  EXPECT_FALSE(FileExists(MapPathFor(onDiskDst)));
  media_->Unheal();
  EXPECT_TRUE(failures.lines.empty()) << failures.Text();
  std::cout << "[ matrix   ] rescued and resumed through maps: " << cases.size() << " files, "
            << failures.lines.size() << " failing\n";
}

// After everything above: the disc was only ever opened for reading.
TEST_F(FaultMatrix, TheDiscIsNeverOpenedForWriting) {
  ReadErrorCases();  // at least the read-error table has run
  size_t discOpens = 0;
  std::string offending;
  for (const auto& r : media_->OpenLog()) {
    if (r.path.rfind("/v/", 0) != 0) continue;
    ++discOpens;
    if (r.write || r.trunc) offending += "\n  " + r.op + " " + r.path;
  }
  EXPECT_GE(discOpens, 100u);
  EXPECT_TRUE(offending.empty()) << "opened with write access:" << offending;
  std::cout << "[ matrix   ] opens of the disc: " << discOpens << ", none for writing: " << offending.empty() << "\n";
}

}  // namespace
}  // namespace sk::test
