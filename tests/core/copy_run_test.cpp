#include "core/CopyRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/FileApi.h"
#include "core/Rescue.h"

namespace sk {
namespace {

// Records what the run does, in order, as one list of lines.
struct FakeRun : ICopyRunView, ICopyRunSystem {
  std::vector<std::string> files;
  std::string destination = "D:\\out";
  std::vector<std::string> trail;
  int level = 4;
  int action = kActionNone;
  bool stop = false, stopAtEnd = false, closing = false, folderExists = true;
  std::map<std::string, int64_t> sizes;  // directory entries; sources not in it: 10^9 per path character
  std::function<void(size_t)> onCopy;     // lets a test act in the middle of file i
  std::function<void(size_t)> afterCopy;  // ... and once file i has returned
  std::vector<size_t> failing;         // files whose copy throws
  size_t copied = 0;
  // Rescue mode: files put off in round one, the file whose copy finds the
  // medium gone (and the user stopping), and the file k of round two that
  // stops the run.
  bool rescue = false;
  std::vector<size_t> puttingOff;
  size_t mediumGoneAt = SIZE_MAX, stopInRoundTwoAt = SIZE_MAX;
  std::vector<std::pair<std::string, std::string>> putOffFiles;
  bool putOffNow = false;
  // The destination folder listed as the run begins (false: it cannot be),
  // and what the run asks of the disk meanwhile.
  bool listable = true;
  size_t pathChecks = 0, nameKeys = 0;
  std::vector<std::string> created;  // destinations a copy created new ("fresh")

  void Note(const std::string& s) { trail.push_back(s); }

  size_t EntryCount() override { return files.size(); }
  std::string EntryPath(size_t i) override { return files.at(i); }
  std::string Destination() override { return destination; }
  void SetListHints(bool on) override { Note(on ? "hints on" : "hints off"); }
  void ShowEmptyDestinationMessage() override { Note("box: empty destination"); }
  void LogEvent(const std::string& text, EventKind kind) override {
    Note("log " + std::to_string(kind) + ": " + text);
  }
  void SetRunControls(bool running) override { Note(running ? "controls off" : "controls on"); }
  void SetOverallProgress(int64_t max, int64_t pos) override {
    Note("total " + std::to_string(max) + " at " + std::to_string(pos));
  }
  void SetCopyStartTime(double) override { Note("start time"); }
  int Level() override { return level; }
  // A copy writes the whole source, or half of it when a stop comes during
  // the file (unless `stopAtEnd`: the stop came with the last block).
  void CopyFile(const std::string& s, const std::string& d, int lvl, bool renamed, bool fresh) override {
    Note("copy " + s + " -> " + d + " at " + std::to_string(lvl) + (renamed ? " (renamed)" : ""));
    if (fresh) {
      if (Exists(d)) throw FileExistsError("File exists");  // created new: never over a file
      created.push_back(d);
    }
    const size_t i = copied++;
    sizes[d] = 0;
    if (onCopy) onCopy(i);
    for (size_t f : failing)
      if (f == i) throw FileError("I/O error 21", 21);
    if (i == mediumGoneAt) throw MediumGone();
    sizes[d] = stop && !stopAtEnd ? FileSizeByName(s) / 2 : FileSizeByName(s);
    sizes[s] = FileSizeByName(s);
    putOffNow = std::find(puttingOff.begin(), puttingOff.end(), i) != puttingOff.end();
    if (putOffNow) putOffFiles.emplace_back(s, d), sizes[d] -= 1;  // not finished yet
    if (afterCopy) afterCopy(i);
  }
  bool RescueMode() override { return rescue; }
  bool PutOff() override { return putOffNow; }
  void NarrowPutOff(size_t k) override {
    Note("narrow " + putOffFiles.at(k).second);
    sizes[putOffFiles[k].second] += 1;
    if (k == stopInRoundTwoAt) stop = true;
  }
  bool StopRequested() override { return stop; }
  void ClearStopRequest() override { stop = false; }
  void Repaint() override {}
  bool ClosePending() override { return closing; }
  int AfterCopyAction() override { return action; }
  std::string ProgramToRun() override { return "C:\\Tools\\after run.exe"; }

  bool FolderExists(const std::string&) override { return folderExists; }
  void CreateFolder(const std::string& p) override {
    Note("mkdir " + p);
    if (p.find("missing") != std::string::npos) throw FileError("Invalid filename", 3);
  }
  int64_t FileSizeByName(const std::string& p) override {
    const auto it = sizes.find(p);
    return it != sizes.end() ? it->second : static_cast<int64_t>(p.size()) * 1000000000;
  }
  bool PathExists(const std::string& p) override {
    ++pathChecks;
    return Exists(p);
  }
  bool Exists(const std::string& p) {  // names compared without case, as on Windows
    for (const auto& entry : sizes)
      if (Upper(entry.first) == Upper(p)) return true;
    return false;
  }
  static std::string Upper(std::string key) {
    for (char& c : key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return key;
  }
  std::optional<std::vector<std::string>> FolderNames(const std::string& folder) override {
    if (!listable) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& entry : sizes)
      if (entry.first.rfind(folder + "\\", 0) == 0) names.push_back(entry.first.substr(folder.size() + 1));
    return names;
  }
  std::string NameKey(const std::string& p) override {
    ++nameKeys;
    return Upper(p);
  }
  double Now() override { return 1.0; }
  void ShowFinishedMessage(const std::string& text, bool all) override {
    Note(all ? "box: finished" : "box: warning " + text);
  }
  void MinimizeApplication() override { Note("minimise"); }
  void Execute(const std::string& f, const std::string& dir) override { Note("execute " + f + " in " + dir); }
  void CloseMainWindow() override { Note("close"); }
  void ExitSystem(unsigned flags) override { Note("exit system " + std::to_string(flags)); }
};

TEST(CopyRun, ThreeFilesOneFailingInTheMiddle) {
  FakeRun run;
  run.files = {"E:\\a.bin", "E:\\sub\\b.bin", "c.bin"};
  run.failing = {1};
  RunCopy(run, run);
  const std::vector<std::string> expected = {
      "hints off",
      "log 2: Wyłączanie komponentów",
      "controls off",
      "log 2: Liczenie rozmiaru plików",
      "total 25000000000 at 0",  // 64-bit total
      "log 2: Rozpoczynanie kopiowania plików",
      "start time",
      "copy E:\\a.bin -> D:\\out\\a.bin at 4",
      "copy E:\\sub\\b.bin -> D:\\out\\b.bin at 4",
      "copy c.bin -> D:\\out\\c.bin at 4",
      "log 0: Błąd: Nie wszystkie pliki zostały skopiowane (2 z 3)",
      "log 2: Zakończono kopiowanie plików",
      "log 2: Włączanie komponentów",
      "controls on",
      "hints on",
  };
  EXPECT_EQ(run.trail, expected);
}

TEST(CopyRun, CompleteRunHasNoShortfallEntryAndShowsTheMessage) {
  FakeRun run;
  run.files = {"E:\\a", "E:\\b"};
  run.action = kActionMessage;
  RunCopy(run, run);
  const std::vector<std::string> tail(run.trail.end() - 6, run.trail.end());
  const std::vector<std::string> expected = {
      "log 2: Zakończono kopiowanie plików",
      "log 2: Włączanie komponentów",
      "controls on",
      "log 2: Wyświetlanie komunikatu o skończonym kopiowaniu",
      "box: finished",
      "hints on",
  };
  EXPECT_EQ(tail, expected);
}

TEST(CopyRun, StopDuringTheSecondOfThreeEndsAfterItAndStillActs) {
  FakeRun run;
  run.files = {"E:\\a", "E:\\b", "E:\\c"};
  run.action = kActionMessage;
  run.onCopy = [&](size_t i) {
    if (i == 1) run.stop = true;
  };
  RunCopy(run, run);
  EXPECT_EQ(run.copied, 2u);  // the third is not touched
  EXPECT_FALSE(run.stop);     // cleared for the next run
  const std::vector<std::string> tail(run.trail.end() - 7, run.trail.end());
  const std::vector<std::string> expected = {
      "log 0: Błąd: Nie wszystkie pliki zostały skopiowane (1 z 3)",
      "log 2: Zakończono kopiowanie plików",
      "log 2: Włączanie komponentów",
      "controls on",
      "log 2: Wyświetlanie komunikatu o skończonym kopiowaniu",
      "box: warning Nie wszystkie pliki zostały skopiowane (1 z 3).",
      "hints on",
  };
  EXPECT_EQ(tail, expected);
}

// Whether a file is complete is told by the sizes, not by how the routine
// ended: a stop that came with the last block leaves a whole file, a routine
// that returned with a shorter destination (the source grew meanwhile) does not.
TEST(CopyRun, CompletenessIsJudgedByTheSizesAfterTheCopy) {
  FakeRun run;
  run.files = {"E:\\a", "E:\\b", "E:\\c"};
  run.stopAtEnd = true;
  run.onCopy = [&](size_t i) {
    if (i == 1) run.stop = true;
  };
  RunCopy(run, run);
  EXPECT_EQ(run.copied, 2u);
  EXPECT_NE(std::find(run.trail.begin(), run.trail.end(), "log 0: Błąd: Nie wszystkie pliki zostały skopiowane (2 z 3)"),
            run.trail.end());

  FakeRun grown;
  grown.files = {"E:\\a", "E:\\b"};
  grown.afterCopy = [&](size_t i) {
    if (i == 0) grown.sizes["E:\\a"] += 1;  // the source grew during its copy
  };
  RunCopy(grown, grown);
  EXPECT_NE(std::find(grown.trail.begin(), grown.trail.end(),
                      "log 0: Błąd: Nie wszystkie pliki zostały skopiowane (1 z 2)"),
            grown.trail.end());
}

TEST(CopyRun, ClosingTheWindowEndsTheRunWithoutTheAction) {
  FakeRun run;
  run.files = {"E:\\a", "E:\\b"};
  run.action = kActionShutDown;
  run.onCopy = [&](size_t) { run.closing = true; };
  RunCopy(run, run);
  EXPECT_EQ(run.copied, 1u);
  for (const auto& line : run.trail) EXPECT_EQ(line.find("exit system"), std::string::npos);
  EXPECT_EQ(run.trail.back(), "hints on");
}

TEST(CopyRun, EmptyListDoesNothingAtAll) {
  FakeRun run;
  RunCopy(run, run);
  EXPECT_TRUE(run.trail.empty());
}

TEST(CopyRun, EmptyDestinationShowsTheBoxThenLogs) {
  FakeRun run;
  run.files = {"E:\\a"};
  run.destination = "";
  RunCopy(run, run);
  const std::vector<std::string> expected = {"hints off", "box: empty destination",
                                             "log 0: Błąd: Nieuzupełnione pole folderu docelowego", "hints on"};
  EXPECT_EQ(run.trail, expected);
}

TEST(CopyRun, MissingFolderIsCreatedAndAFailedCreationEscapesWithNothingChanged) {
  FakeRun run;
  run.files = {"E:\\a"};
  run.folderExists = false;
  RunCopy(run, run);
  EXPECT_EQ(run.trail[1], "log 2: Tworzenie folderu docelowego");
  EXPECT_EQ(run.trail[2], "mkdir D:\\out");
  EXPECT_EQ(run.copied, 1u);

  FakeRun bad;
  bad.files = {"E:\\a"};
  bad.folderExists = false;
  bad.destination = "D:\\missing\\out";
  EXPECT_THROW(RunCopy(bad, bad), FileError);
  const std::vector<std::string> expected = {"hints off", "log 2: Tworzenie folderu docelowego",
                                             "mkdir D:\\missing\\out", "hints on"};
  EXPECT_EQ(bad.trail, expected);
}

TEST(CopyRun, EachActionLogsAndActs) {
  struct Case {
    int action;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {kActionNone, {}},
      {-1, {}},
      {9, {}},
      {kActionMinimize, {"log 2: Minimalizowanie aplikacji", "minimise"}},
      {kActionRunProgram,
       {"log 2: Uruchamianie wybranej aplikacji", "execute \"C:\\Tools\\after run.exe\" in C:\\Tools\\"}},
      {kActionCloseProgram, {"log 2: Zamykanie aplikacji", "close"}},
      {kActionShutDown, {"log 2: Zamykanie systemu", "exit system 5"}},
  };
  for (const auto& c : cases) {
    FakeRun run;
    run.files = {"E:\\a"};
    run.action = c.action;
    RunCopy(run, run);
    const auto controlsOn = std::find(run.trail.begin(), run.trail.end(), "controls on");
    ASSERT_NE(controlsOn, run.trail.end());
    std::vector<std::string> between(controlsOn + 1, run.trail.end() - 1);
    EXPECT_EQ(between, c.lines) << "action " << c.action;
  }
}

TEST(CopyRun, LevelIsReadForEveryFile) {
  FakeRun run;
  run.files = {"E:\\a", "E:\\b"};
  run.level = 0;
  run.onCopy = [&](size_t) { run.level = 3; };
  RunCopy(run, run);
  EXPECT_NE(std::find(run.trail.begin(), run.trail.end(), "copy E:\\a -> D:\\out\\a at 0"), run.trail.end());
  EXPECT_NE(std::find(run.trail.begin(), run.trail.end(), "copy E:\\b -> D:\\out\\b at 3"), run.trail.end());
}

// Rescue mode in two rounds: the files put off in round one are narrowed
// after every file has had its fast round, in order, and count as copied
// once finished. A stop in either round, or a medium that is not put back,
// ends the run there (no round two after round one ends so). A file named
// like the map of a file the run wrote ("X.map" beside "X") gets a free
// name, whichever comes first; outside rescue mode, as ever.
TEST(CopyRun, RescueInTwoRounds) {
  auto copy = [](const char* f) { return std::string("copy E:\\") + f + " -> D:\\out\\" + f + " at 4"; };
  auto shortfall = [](const char* n) {
    return std::vector<std::string>{std::string("log 0: Błąd: Nie wszystkie pliki zostały skopiowane (") + n + " z 3)"};
  };
  const std::string two = "log 2: Rozpoczynanie zawężania uszkodzonych miejsc (plików: 2)", a = "narrow D:\\out\\a";
  struct Case {
    const char* name;
    std::function<void(FakeRun&)> arrange;
    std::vector<std::string> copies;  // "copy …", round two's entry and "narrow …", in order
    std::vector<std::string> end;     // the shortfall entry
  };
  const Case cases[] = {
      {"two put off", [](FakeRun&) {}, {copy("a"), copy("b"), copy("c"), two, a, "narrow D:\\out\\c"}, {}},
      {"stop in round one", [](FakeRun& r) { r.onCopy = [&r](size_t i) { r.stop = i == 1; }; },
       {copy("a"), copy("b")}, shortfall("0")},
      {"stop in round two", [](FakeRun& r) { r.stopInRoundTwoAt = 0; }, {copy("a"), copy("b"), copy("c"), two, a},
       shortfall("2")},
      {"the medium not put back", [](FakeRun& r) { r.mediumGoneAt = 1; }, {copy("a"), copy("b")}, shortfall("0")},
      {"X, then x.MAP", [](FakeRun& r) { r.files = {"E:\\X", "E:\\x.MAP"}, r.puttingOff = {}; },
       {copy("X"), "copy E:\\x.MAP -> D:\\out\\x (2).MAP at 4 (renamed)"}, {}},
      {"X.map, then x", [](FakeRun& r) { r.files = {"E:\\X.map", "E:\\x"}, r.puttingOff = {}; },
       {copy("X.map"), "copy E:\\x -> D:\\out\\x (2) at 4 (renamed)"}, {}},
      {"X.map, then x, not rescuing", [](FakeRun& r) { r.files = {"E:\\X.map", "E:\\x"}, r.puttingOff = {}, r.rescue = false; },
       {copy("X.map"), copy("x")}, {}},
  };
  for (const Case& c : cases) {
    FakeRun run;
    run.rescue = true;
    run.files = {"E:\\a", "E:\\b", "E:\\c"};
    run.puttingOff = {0, 2};
    c.arrange(run);
    RunCopy(run, run);
    std::vector<std::string> copies, end;
    for (const auto& line : run.trail) {
      if (line.rfind("copy ", 0) == 0 || line.rfind("narrow ", 0) == 0 || line.find("zawężania") != std::string::npos)
        copies.push_back(line);
      if (line.find("Nie wszystkie") != std::string::npos) end.push_back(line);
    }
    EXPECT_EQ(copies, c.copies) << c.name;
    EXPECT_EQ(end, c.end) << c.name;
  }
}

// Many files of one name: each goes to the first free numbered name, told
// from one listing of the destination folder and the names the run gave,
// with a bounded number of name checks a file (not a search from "(2)" each
// time, nor a question to the disk a name). A file that appears meanwhile
// under a free name is never replaced: the copy moves on to the next one.
// A folder that cannot be listed is asked name by name, as before.
TEST(CopyRun, ManyFilesOfOneNameGetFreeNamesAtAFlatCost) {
  for (bool listable : {true, false}) {
    FakeRun run;
    run.listable = listable;
    const size_t n = listable ? 300 : 30;
    for (size_t i = 0; i < n; ++i) run.files.push_back("E:\\" + std::to_string(i) + "\\IMG.jpg");
    run.sizes["D:\\out\\img (5).JPG"] = 7;  // there before the run
    run.afterCopy = [&](size_t i) {
      if (i == 2) run.sizes["D:\\out\\IMG (6).jpg"] = 8;  // appears during the run
    };
    RunCopy(run, run);
    std::vector<std::string> got;  // the destinations, in order
    for (const auto& line : run.trail)
      if (line.rfind("copy ", 0) == 0) got.push_back(line.substr(line.find("-> ") + 3, line.find(" at ") - line.find("-> ") - 3));
    std::vector<std::string> want = {"IMG.jpg", "IMG (2).jpg", "IMG (3).jpg", "IMG (4).jpg"};
    if (listable) want.push_back("IMG (6).jpg");  // free when listed, refused as it is there now
    for (size_t k = 7; want.size() < n + (listable ? 1 : 0); ++k) want.push_back("IMG (" + std::to_string(k) + ").jpg");
    for (auto& w : want) w = "D:\\out\\" + w;
    EXPECT_EQ(got, want) << listable;
    EXPECT_EQ(run.sizes["D:\\out\\img (5).JPG"], 7);
    EXPECT_EQ(run.sizes["D:\\out\\IMG (6).jpg"], 8);
    EXPECT_EQ(std::count_if(run.trail.begin(), run.trail.end(),
                            [](const std::string& l) { return l.find("Nie wszystkie") != std::string::npos; }),
              0);  // every file copied
    if (listable) {
      EXPECT_EQ(run.pathChecks, 0u);
      EXPECT_EQ(run.created.size(), n);  // every one created new
      EXPECT_LT(run.nameKeys, 10 * n);
    }
  }
}

// A file that appears under a file's own name after the listing is copied
// over, as one that was there before the run is.
TEST(CopyRun, AFileOfTheSameNameThatAppearsMeanwhileIsCopiedOver) {
  FakeRun run;
  run.files = {"E:\\a", "E:\\b"};
  run.afterCopy = [&](size_t i) {
    if (i == 0) run.sizes["D:\\out\\B"] = 1;
  };
  RunCopy(run, run);
  EXPECT_EQ(run.created, std::vector<std::string>{"D:\\out\\a"});
  EXPECT_EQ(std::count(run.trail.begin(), run.trail.end(), "copy E:\\b -> D:\\out\\b at 4"), 2);
  EXPECT_EQ(run.sizes["D:\\out\\b"], run.FileSizeByName("E:\\b"));
}

// In rescue mode a file whose map's name is taken in the folder is not
// created as new: the routine then looks at that map (an earlier rescue's
// is deleted once the file is created anew, as it would describe another).
TEST(CopyRun, InRescueModeAFileWithAMapBesideItIsNotFresh) {
  FakeRun run;
  run.rescue = true;
  run.files = {"E:\\x", "E:\\y"};
  run.sizes["D:\\out\\X.MAP"] = 5;
  RunCopy(run, run);
  EXPECT_EQ(run.created, std::vector<std::string>{"D:\\out\\y"});
}

TEST(CopyRun, DestinationPathAddsTheSeparatorEvenAfterOne) {
  EXPECT_EQ(DestinationPath("D:\\out\\", "E:\\x\\f.txt"), "D:\\out\\\\f.txt");
  EXPECT_EQ(DestinationPath("D:\\out", "E:f.txt"), "D:\\out\\f.txt");
}

}  // namespace
}  // namespace sk
