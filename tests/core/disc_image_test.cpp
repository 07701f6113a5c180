// The image run over a drive that fails sectors whole, holding a disc that
// genisoimage makes here; what the map says of each listed file; files out of
// the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>

#include "core/CopyFakes.h"
#include "core/MediumFakes.h"
#include "core/DiscImage.h"
#include "core/DiscImages.h"

namespace sk {
namespace {

constexpr int64_t S = kDiscSectorSize;

// The disc: a few folders (so the directory area has several sectors) and
// files of several sizes, made once.
const std::string& Disc() {
  static const std::string disc = [] {
    std::map<std::string, std::string> files = {{"\\a.txt", fake::Pattern(3000, 1)},
                                                {"\\Dokumenty\\list.doc", fake::Pattern(150000, 2)},
                                                {"\\Dokumenty\\plan.txt", fake::Pattern(10, 3)},
                                                {"\\Muzyka\\długi utwór.mp3", fake::Pattern(900000, 4)},
                                                {"\\Muzyka\\krótki.mp3", fake::Pattern(70000, 5)}};
    for (int i = 0; i < 12; ++i)
      files["\\Zdjęcia\\Wakacje " + std::to_string(i) + "\\foto.jpg"] = fake::Pattern(20000 + i * 999, 10 + i);
    const auto dir = test::ImageDir() / "image_src";
    test::WriteTree(dir, files);
    return test::ReadBytes(test::Genisoimage("-J -R", "'" + dir.string() + "'", "image.iso"));
  }();
  return disc;
}

struct Whole : ISectorSource {
  const std::string& d = Disc();
  int64_t SectorCount() override { return static_cast<int64_t>(d.size()) / S; }
  bool ReadSector(int64_t s, unsigned char* out) override {
    std::copy_n(d.data() + s * S, S, out);
    return true;
  }
};
const DiscTree& Healthy() {
  static Whole w;
  static const DiscTree tree = ReadDiscTree(w);
  return tree;
}
int64_t FirstSector(const std::string& path) {
  for (const DiscEntry& e : Healthy().entries)
    if (e.path == path) return e.extents.at(0).pos / S;
  throw std::runtime_error("no entry " + path);
}
std::vector<int64_t> SystemSectors() {
  std::vector<int64_t> out;
  for (const DiscExtent& x : Healthy().system)
    for (int64_t s = x.pos / S; s * S < x.pos + x.size; ++s) out.push_back(s);
  return out;
}

// A drive reading the disc: a read touching a bad sector fails whole.
struct Drive : fake::Medium {
  Drive() {
    bytes = Disc();
    sector = S;
  }
};
using Image = fake::Target;

// The image holds the disc's bytes wherever the map says read, zeros
// elsewhere; nothing unreadable is called read.
std::string ImageProblem(const Image& image, const RescueMap& map, const Drive& drive) {
  if (image.bytes.size() != drive.bytes.size()) return "image length " + std::to_string(image.bytes.size());
  for (const MapArea& a : map.Areas()) {
    const std::string held = image.bytes.substr(a.pos, a.size);
    if (a.status == kFinished ? held != drive.bytes.substr(a.pos, a.size)
                              : held.find_first_not_of('\0') != std::string::npos)
      return "area at " + std::to_string(a.pos);
  }
  for (int64_t s : drive.badSectors)
    if (map.StatusAt(s * S) == kFinished) return "bad sector called read at " + std::to_string(s);
  return "";
}

std::vector<DiscExtent> ExtentsOf(const DiscTree& tree, const std::vector<std::string>& paths) {
  std::vector<size_t> entries;
  for (size_t i = 0; i < tree.entries.size(); ++i)
    if (std::count(paths.begin(), paths.end(), tree.entries[i].path)) entries.push_back(i);
  return ChosenExtents(tree, entries);
}

// The drive's device as the session opens it (again, once the disc is
// back): the rig's drive while it holds the disc.
struct DriveFile : IFile {
  Drive& drive;
  explicit DriveFile(Drive& d) : drive(d) {}
  int64_t Position() override { return drive.Position(); }
  void Seek(int64_t p) override { drive.Seek(p); }
  int64_t Size() override { return drive.Size(); }
  size_t Read(void* buffer, size_t count) override { return drive.Read(buffer, count); }
  size_t Write(const void* buffer, size_t count) override { return drive.Write(buffer, count); }
  void Close() override {}
};

struct Rig : IImageView, IFileSystem {
  Drive drive;
  Image image;
  RescueMap map;
  fake::Clock clock;
  Pacer pacer{clock};
  int steps = 0, stopAt = 0;
  std::function<std::vector<std::string>(int step)> ticked;  // the ticked files' paths after `step` blocks
  std::vector<std::string> lastTicked;
  std::vector<size_t> tickedAt;  // log size when the ticked set changed
  DiscTree listed;
  std::optional<DiscLayout> layout, laidOut;  // the drive's answer; the run's
  int saves = 0, listings = 0;
  bool asked = false;  // the disc went away and "Ponów" / "Anuluj" was asked (answer: "Anuluj")
  std::vector<std::string> problems;

  // The window.
  void Progress(const RescueMap&) override {}
  void Pump() override {}
  void Show() override {}
  bool StopRequested() override { return stopAt > 0 && ++steps >= stopAt; }
  void ShowRescueMap(const std::string&, const RescueMap&, bool) override {}
  bool AskMediumRetry(MediumQuestion) override {
    asked = true;
    return false;
  }
  void Listed(const DiscTree& tree) override {
    listed = tree;
    ++listings;
  }
  void LaidOut(const DiscLayout& l) override { laidOut = l; }
  std::vector<DiscExtent> Chosen() override {
    if (!ticked) return {};
    if (!stopAt) ++steps;
    std::vector<std::string> now = ticked(steps);
    if (now != lastTicked) tickedAt.push_back(drive.log.size());
    lastTicked = now;
    return ExtentsOf(listed, now);
  }
  // The drive and the image's map on the disk.
  std::unique_ptr<IFile> Open(const std::string& path, OpenMode) override {
    if (path.ends_with(".map")) throw FileError("File not found", 2);
    if (drive.out) throw FileError("I/O error 21", 21);
    return std::make_unique<DriveFile>(drive);
  }
  bool IsSameFile(IFile&, const std::string&) override { return false; }
  int64_t FileSizeByName(const std::string&) override { return 0; }
  void ReplaceContent(const std::string&, const std::string& text) override {
    ++saves;
    const std::string p = ImageProblem(image, RescueMap::Parse(text), drive);
    if (!p.empty()) problems.push_back("saved map: " + p);
  }
  bool Present(const std::string&) override { return !drive.out; }

  ImageRunResult Run(bool continuing) {
    MapKeeper keeper(*this, "obraz.iso.map", continuing);
    RescueSession session(*this, keeper, *this, "\\\\.\\D:");
    std::unique_ptr<IFile> device = Open("", OpenMode::ReadShared);
    return DiscImageRun(*this, ImageRunOptions{.continuing = continuing, .layout = layout})
        .Run(session, device, image, map, clock, pacer);
  }
};

// The engine's view for the sectors alone.
struct SectorView : IRescueView {
  Drive& drive;
  explicit SectorView(Drive& d) : drive(d) {}
  void Advanced(const RescueMap&) override {}
  void Pump() override {}
  void Refresh() override {}
  bool StopRequested() override { return false; }
  void SaveMap(const RescueMap&) override {}
  bool SourcePresent() override { return !drive.out; }
};

bool Inside(const std::vector<DiscExtent>& xs, int64_t pos, int64_t end) {
  return std::any_of(xs.begin(), xs.end(), [&](const DiscExtent& x) { return pos < x.pos + x.size && end > x.pos; });
}

std::set<int64_t> Sectors(int64_t first, int64_t count) {
  std::set<int64_t> s;
  for (int64_t i = 0; i < count; ++i) s.insert(first + i);
  return s;
}

// What a burned disc holds beside the data of its first session, as the
// drive's table of contents tells it: a gap and a second session of data, or
// audio tracks after the data track. The sectors that hold no data fail as
// a drive's reads of them do; they are returned.
enum class Shape { kOneSession, kTwoSessions, kMixedMode };
std::set<int64_t> Lay(Rig& rig, Shape shape) {
  const int64_t n = rig.drive.Size() / S;
  if (shape == Shape::kOneSession) return {};
  std::set<int64_t> noData;
  if (shape == Shape::kTwoSessions) {
    rig.layout = DiscLayout{{{1, 1, 0, n, false}, {2, 2, n + 1000, 300, false}}, true};
    noData = Sectors(n, 1000);
    rig.drive.bytes += std::string(1000 * S, '\0') + fake::Pattern(300 * S, 77);
  } else {
    rig.layout = DiscLayout{{{1, 1, 0, n, false}, {2, 1, n, 600, true}, {3, 1, n + 600, 400, true}}, true};
    noData = Sectors(n, 1000);
    rig.drive.bytes += fake::Pattern(1000 * S, 78);
  }
  rig.drive.badSectors.insert(noData.begin(), noData.end());
  return noData;
}

TEST(DiscImageRun, ImagesTheDiscFileSystemFirstThenTickedFilesThenTheRest) {
  const std::string longSong = "\\Muzyka\\długi utwór.mp3", letter = "\\Dokumenty\\list.doc";
  const std::vector<int64_t> system = SystemSectors();
  ASSERT_EQ(Healthy().format, DiscFormat::kIso9660);
  ASSERT_GT(system.size(), 8u);
  struct Case {
    const char* name;
    std::set<int64_t> bad;
    std::function<std::vector<std::string>(int)> ticked;
    Shape shape = Shape::kOneSession;
  };
  const std::vector<std::string> tickedFiles = {letter, "\\Zdjęcia\\Wakacje 3\\foto.jpg"};
  const Case cases[] = {
      {"healthy", {}, nullptr},
      // Across the directory area: the primary tree's folders and the
      // Joliet tree's alike (the path tables give the files back).
      {"directory-area scratch", Sectors(system[system.size() / 2] - 2, 5), nullptr},
      {"data scratch", Sectors(FirstSector(longSong) + 100, 40), nullptr},
      {"scattered bad sectors", {FirstSector(letter) + 3, FirstSector(longSong) + 7, FirstSector(longSong) + 300}, nullptr},
      {"ticked files first", {FirstSector(letter) + 20, FirstSector(longSong) + 5, 30},
       [&](int) { return tickedFiles; }},
      {"ticked files changed during the run", {FirstSector(longSong) + 5, FirstSector(longSong) + 200},
       [&](int step) { return step < 4 ? std::vector<std::string>{longSong} : tickedFiles; }},
      // The gap between sessions and the audio tracks are never read.
      {"two sessions", {FirstSector(letter) + 3}, nullptr, Shape::kTwoSessions},
      {"two sessions, ticked files", {FirstSector(letter) + 3}, [&](int) { return tickedFiles; }, Shape::kTwoSessions},
      {"mixed mode", {FirstSector(longSong) + 7}, nullptr, Shape::kMixedMode},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.drive.badSectors = c.bad;
    rig.ticked = c.ticked;
    const std::set<int64_t> noData = Lay(rig, c.shape);
    const ImageRunResult result = rig.Run(false);
    const std::string& where = c.name;
    // The drive's layout, else the one found on the disc: one session.
    ASSERT_TRUE(rig.laidOut) << where;
    if (rig.layout) EXPECT_EQ(*rig.laidOut, *rig.layout) << where;
    else EXPECT_EQ(DataBytes(*rig.laidOut, rig.drive.Size()), (ByteAreas{{0, rig.drive.Size()}})) << where;
    // What holds no data: never read, '?' in the map (zeros in the image).
    for (const Drive::Access& r : rig.drive.log)
      EXPECT_FALSE(noData.count(r.pos / S) || noData.count((r.end - 1) / S)) << where << ": read at " << r.pos;
    for (int64_t s : noData) EXPECT_EQ(rig.map.StatusAt(s * S), kNonTried) << where << ": " << s;
    EXPECT_LE(result.failedReads, 2 * static_cast<int64_t>(c.bad.size())) << where;
    if (!noData.empty()) {
      // Going on from a map that called them unreadable (or not yet
      // narrowed): they are '?' again, and still not read.
      RescueMap old = rig.map;
      old.Set(*noData.begin() * S, 10 * S, kBadSector);
      old.Set((*noData.begin() + 20) * S, 10 * S, kNonScraped);
      Rig again;
      again.drive = rig.drive;
      again.drive.log.clear();
      again.image = rig.image;
      again.map = old;
      again.layout = rig.layout;
      again.Run(true);
      for (const Drive::Access& r : again.drive.log)
        EXPECT_FALSE(noData.count(r.pos / S) || noData.count((r.end - 1) / S)) << where << ": read again at " << r.pos;
      EXPECT_EQ(again.map.Areas(), rig.map.Areas()) << where;
    }
    EXPECT_FALSE(result.stopped) << where;
    EXPECT_TRUE(result.listed) << where;
    EXPECT_EQ(ImageProblem(rig.image, rig.map, rig.drive), "") << where;
    EXPECT_EQ(rig.problems, std::vector<std::string>{}) << where;
    EXPECT_EQ(rig.map.Total(kBadSector), static_cast<int64_t>(c.bad.size()) * S) << where;
    EXPECT_EQ(rig.map.currentStatus, kFinished) << where;
    ASSERT_TRUE(rig.map.source) << where;
    // Before the list: only the file system's own bad sectors failed.
    int64_t systemBad = 0;
    for (int64_t s : system) systemBad += c.bad.count(s);
    EXPECT_LE(result.failedBeforeList, systemBad) << where;
    // No sector fails twice, no read is made of one known bad.
    std::set<std::pair<int64_t, int64_t>> failedAt;
    for (const Drive::Access& r : rig.drive.log)
      if (r.failed) EXPECT_TRUE(failedAt.insert({r.pos, r.end}).second) << where << ": " << r.pos;
    // Every file listed, in the state the damage gives it.
    ASSERT_EQ(rig.listed.entries.size(), Healthy().entries.size()) << where;
    for (const DiscEntry& e : rig.listed.entries) {
      bool hit = false;
      for (const DiscExtent& x : e.extents)
        for (int64_t s = x.pos / S; s * S < x.pos + x.size; ++s) hit = hit || c.bad.count(s);
      EXPECT_EQ(StateOf(e, rig.map).condition, hit ? FileCondition::kDamaged : FileCondition::kWhole)
          << where << ": " << e.path;
    }
    // Ticked files: once the set is known (and each time it changes), every
    // readable byte of them before any failing read outside them.
    for (size_t k = 0; k < rig.tickedAt.size(); ++k) {
      const auto chosen = ExtentsOf(Healthy(), c.ticked(k == 0 ? 0 : 1000));
      size_t lastInside = 0, firstFailOutside = rig.drive.log.size();
      for (size_t i = rig.tickedAt[k]; i < rig.drive.log.size(); ++i) {
        const Drive::Access& r = rig.drive.log[i];
        if (Inside(chosen, r.pos, r.end) && !r.failed) lastInside = i;
        if (!Inside(chosen, r.pos, r.end) && r.failed) firstFailOutside = std::min(firstFailOutside, i);
      }
      if (k + 1 == rig.tickedAt.size()) EXPECT_LT(lastInside, firstFailOutside) << where;
      // At once: the read after the change is one of theirs.
      if (k > 0) EXPECT_TRUE(Inside(chosen, rig.drive.log[rig.tickedAt[k]].pos, rig.drive.log[rig.tickedAt[k]].end))
          << where;
    }
    if (c.ticked) EXPECT_GE(rig.tickedAt.size(), 1u) << where;
  }
}

// A run stopped, the disc taken out, or the image's disk full, anywhere:
// the map names exactly what the image holds, and going on from it (on
// another drive, where the damage reads now) reads only what the map lacks,
// the sectors found bad last, and ends with the whole disc.
TEST(DiscImageRun, GoesOnFromItsMapAndRefusesAnotherDisc) {
  const std::set<int64_t> bad = {17, FirstSector("\\Dokumenty\\list.doc") + 1, FirstSector("\\Muzyka\\krótki.mp3") + 2};
  for (int at : {1, 3, 6, 20}) {
    for (const char* how : {"stop", "disc out", "disk full"}) {
      const std::string where = std::string(how) + " at " + std::to_string(at);
      Rig rig;
      rig.drive.badSectors = bad;
      std::string error;
      try {
        if (how[0] == 's') rig.stopAt = at;
        if (how[1] == 'i') rig.drive.outAfter = at;
        if (how[1] == 'l') rig.image.room = at * 64 * 1024;
        const ImageRunResult result = rig.Run(false);
        if (rig.asked && result.cancelled) error = "gone";
        else if (result.stopped) error = "stopped";
      } catch (const FileError& e) {
        error = e.what();
      }
      EXPECT_EQ(error, how[0] == 's' ? "stopped" : how[1] == 'i' ? "gone" : "I/O error 112") << where;
      EXPECT_EQ(rig.problems, std::vector<std::string>{}) << where;
      rig.image.room = -1;
      if (how[1] != 'l') EXPECT_EQ(rig.image.bytes.size(), rig.drive.bytes.size()) << where;
      rig.image.SetSize(rig.drive.Size());
      EXPECT_EQ(ImageProblem(rig.image, rig.map, rig.drive), "") << where;

      // Another drive, where the damage reads: only what the map lacks is read.
      const RescueMap before = RescueMap::Parse(rig.map.ToText());
      rig.map = before;
      rig.drive = Drive{};
      rig.stopAt = 0;
      rig.Run(true);
      EXPECT_EQ(rig.map.Unfinished(), 0) << where;
      EXPECT_EQ(rig.image.bytes, rig.drive.bytes) << where;
      size_t lastUntried = 0, firstBad = rig.drive.log.size();
      // The first read checks the disc against the map's source line.
      for (size_t i = 1; i < rig.drive.log.size(); ++i) {
        const Drive::Access& r = rig.drive.log[i];
        for (int64_t p = r.pos; p < r.end; p += S) {
          EXPECT_NE(before.StatusAt(p), kFinished) << where << ": read again at " << p;
          if (before.StatusAt(p) == kBadSector) firstBad = std::min(firstBad, i);
          else lastUntried = i;
        }
      }
      EXPECT_LT(lastUntried, firstBad) << where;
    }
  }

  // Sectors not yet scraped, beyond sectors found bad: the bad ones after them.
  Rig rig2;
  rig2.drive.badSectors = bad;
  rig2.Run(false);
  const int64_t notScraped = rig2.drive.Size() - 8 * S;
  rig2.map.Set(notScraped, 4 * S, kNonScraped);
  rig2.drive.badSectors.clear();
  rig2.drive.log.clear();
  rig2.Run(true);
  EXPECT_EQ(rig2.image.bytes, rig2.drive.bytes);
  size_t lastScraped = 0, firstBad = rig2.drive.log.size();
  for (size_t i = 1; i < rig2.drive.log.size(); ++i) {
    if (rig2.drive.log[i].pos >= notScraped) lastScraped = i;
    if (bad.count(rig2.drive.log[i].pos / S)) firstBad = std::min(firstBad, i);
  }
  EXPECT_LT(lastScraped, firstBad);

  // Another disc of the same length, and one of another length: refused,
  // image and map untouched.
  Rig rig;
  rig.Run(false);
  for (int other : {0, 1}) {
    Rig second;
    second.map = rig.map;
    second.image = rig.image;
    second.drive.bytes[rig.map.source->pos + 5] ^= 1;
    if (other) second.drive.bytes.resize(second.drive.bytes.size() + S);
    EXPECT_THROW(second.Run(true), ImageMismatch);
    EXPECT_EQ(second.map, rig.map);
    EXPECT_EQ(second.image.bytes, rig.image.bytes);
    EXPECT_EQ(second.saves, 0);
  }
}

// The sectors as the readers get them: from the image where the map says
// read, from the drive (one read, then marked) where not tried yet, never
// where a read failed; a sector that cannot be had is never zeros.
TEST(DiscImage, ImageSectorsNeverGiveAHoleAsZeros) {
  struct Row {
    const char* name;
    std::string statuses;  // the sector's map, one status per 1024 bytes
    bool drive, driveFails;
    bool had;
    int reads;
    std::string after;
  };
  const Row rows[] = {
      {"read", "++", true, false, true, 0, "++"},
      {"not tried", "??", true, false, true, 1, "++"},
      {"not tried, failing", "??", true, true, false, 1, "--"},
      {"half read", "+?", true, false, true, 1, "++"},
      {"bad", "--", true, false, false, 0, "--"},
      {"half bad", "+-", true, false, false, 0, "+-"},
      {"a failed large read", "**", true, false, false, 0, "**"},
      {"not scraped", "//", true, false, false, 0, "//"},
      {"not tried, the image alone", "??", false, false, false, 0, "??"},
  };
  for (const Row& r : rows) {
    Rig rig;
    rig.map = RescueMap(4 * S, kFinished);
    for (int k = 0; k < 2; ++k) rig.map.Set(2 * S + k * 1024, 1024, r.statuses[k]);
    rig.image.bytes = rig.drive.bytes.substr(0, 4 * S);
    rig.image.bytes.replace(2 * S, S, std::string(S, '\0'));
    if (r.driveFails) rig.drive.badSectors = {2};
    SectorView view(rig.drive);
    ImageSectors withDrive(rig.image, rig.map, rig.drive, view);
    ImageSectors alone(rig.image, rig.map);
    std::string got(S, 'x');
    auto* out = reinterpret_cast<unsigned char*>(got.data());
    EXPECT_EQ((r.drive ? withDrive : alone).ReadSector(2, out), r.had) << r.name;
    if (r.had) EXPECT_EQ(got, rig.drive.bytes.substr(2 * S, S)) << r.name;
    EXPECT_EQ(rig.drive.log.size(), static_cast<size_t>(r.reads)) << r.name;
    EXPECT_EQ(std::string({rig.map.StatusAt(2 * S), rig.map.StatusAt(2 * S + 1024)}), r.after) << r.name;
    EXPECT_EQ(rig.image.bytes.substr(2 * S, S), r.had ? rig.drive.bytes.substr(2 * S, S) : std::string(S, '\0'))
        << r.name;
    EXPECT_FALSE((r.drive ? withDrive : alone).ReadSector(4, out)) << r.name << ", past the end";
  }
}

// What the damage hit, from a map made by hand: the states, the saved list,
// the cell's owners and a file out of the image.
TEST(DiscImage, StatesListOwnersAndFilesOutOfTheImage) {
  DiscTree tree;
  tree.format = DiscFormat::kIso9660;
  tree.system = {{16 * S, 4 * S}};
  auto file = [](std::string path, std::vector<DiscExtent> xs) {
    int64_t size = 0;
    for (const auto& x : xs) size += x.size;
    return DiscEntry{std::move(path), false, size, std::move(xs)};
  };
  tree.entries = {
      file("\\a.txt", {{20 * S, 100}}),                                       // read
      file("\\b\\c.bin", {{21 * S, 3 * S}, {DiscExtent::kZeros, 5000}}),      // one sector bad
      file("\\b\\d.bin", {{24 * S, 2 * S}}),                                  // not read yet
      file("\\b\\e.bin", {{26 * S, S}}),                                      // a failed large read ('*')
      file("\\f.bin", {{27 * S, S}, {DiscExtent::kOutside, 10}}),             // partly outside the disc
      file("\\g.bin", {{39 * S, 2 * S}}),                                     // past the map's end
      {"\\Zła", true, 0, {}},
  };
  RescueMap map(40 * S, kFinished);
  map.Set(22 * S, S, kBadSector);
  map.Set(24 * S, 2 * S, kNonTried);
  map.Set(26 * S, S, kNonTrimmed);
  map.Set(30 * S, 2 * S, kBadSector);  // in no file: apart from the files' damage
  EXPECT_EQ(FileListText(tree, map),
            "Ścieżka\tRozmiar\tNieczytelne\tNie odczytano\tStan\r\n"
            "\\a.txt\t100\t0\t0\tCały\r\n\\b\\c.bin\t11144\t2048\t0\tUszkodzony\r\n"
            "\\b\\d.bin\t4096\t0\t4096\tNieodczytany\r\n\\b\\e.bin\t2048\t0\t2048\tUszkodzony\r\n"
            "\\f.bin\t2058\t10\t0\tUszkodzony\r\n\\g.bin\t4096\t2048\t0\tUszkodzony\r\n\\Zła\t0\t0\t0\tUszkodzony\r\n"
            "(poza plikami)\t0\t4096\t0\tUszkodzenie poza plikami\r\n");
  EXPECT_EQ(FileListText(DiscTree{}, map),
            "Ścieżka\tRozmiar\tNieczytelne\tNie odczytano\tStan\r\nNie rozpoznano systemu plików\r\n");
  const ConditionTotals totals = TotalsOf(tree, map);
  EXPECT_EQ(totals.whole + totals.damaged * 10 + totals.unread * 100, 1 + 50 + 100);
  EXPECT_EQ(totals.outsideFiles, 2 * S);

  const DiscOwners owners(tree);
  const std::pair<std::pair<int64_t, int64_t>, const char*> cells[] = {
      {{0, 16 * S}, ""},
      {{19 * S, 20 * S + 1}, "system plików, a.txt"},
      {{20 * S + 100, 21 * S}, ""},  // after a.txt's last byte
      {{22 * S, 22 * S + 1}, "c.bin"},
      {{20 * S, 28 * S}, "a.txt, c.bin, d.bin i 2 innych"},
      {{40 * S, 41 * S}, "g.bin"},
  };
  for (const auto& [cell, text] : cells) EXPECT_EQ(owners.Describe(cell.first, cell.second), text) << cell.first;

  // Out of the image: the bytes read, zeros elsewhere, the file's own map.
  Image image, out;
  image.bytes = fake::Pattern(40 * S, 9);
  out.bytes = "old content, longer than nothing";
  const RescueMap own = ExtractFile(tree.entries[1], image, map, out);
  EXPECT_TRUE(out.bytes == image.bytes.substr(21 * S, S) + std::string(S, '\0') + image.bytes.substr(23 * S, S) +
                             std::string(5000, '\0'));
  EXPECT_EQ(own.Areas(), (std::vector<MapArea>{{0, S, '+'}, {S, S, '-'}, {2 * S, S + 5000, '+'}}));
  const RescueMap outside = ExtractFile(tree.entries[4], image, map, out);
  EXPECT_EQ(outside.Areas(), (std::vector<MapArea>{{0, S, '+'}, {S, 10, '-'}}));

  // Their names under the save's folder.
  ExtractNames names("C:\\Cel\\" + VolumeFolderName(""));
  const std::pair<const char*, const char*> paths[] = {
      {"\\Dokumenty\\list.doc", "C:\\Cel\\Płyta\\Dokumenty\\list.doc"},
      {"\\DOKUMENTY\\LIST.DOC", "C:\\Cel\\Płyta\\DOKUMENTY\\LIST (2).DOC"},
      {"\\Dokumenty\\list.doc.map", "C:\\Cel\\Płyta\\Dokumenty\\list.doc (2).map"},
      {"\\..\\..\\Windows\\con", "C:\\Cel\\Płyta\\_\\_\\Windows\\con_"},
      {"\\a:b?.", "C:\\Cel\\Płyta\\a_b_"},
  };
  for (const auto& [path, want] : paths) EXPECT_EQ(names.PathFor(path), want) << path;
  EXPECT_EQ(VolumeFolderName("Moja płyta: 2"), "Moja płyta_ 2");
}

// The list follows the run: file-system sectors that failed at first and
// read on a later pass are read into the tree before the run ends.
TEST(DiscImageRun, TheListFollowsTheSectorsAPassReads) {
  const std::vector<int64_t> system = SystemSectors();
  std::vector<std::string> healthy;
  for (const DiscEntry& e : Healthy().entries) healthy.push_back(e.path);
  auto paths = [](const DiscTree& tree) {
    std::vector<std::string> out;
    for (const DiscEntry& e : tree.entries) out.push_back(e.path + (e.unknown ? " ?" : ""));
    return out;
  };
  Rig rig;
  // Every directory and path table sector: the volume descriptors alone read.
  for (int64_t s : system)
    if (s > 18) rig.drive.badSectors.insert(s);
  rig.Run(false);
  ASSERT_NE(paths(rig.listed), healthy);
  // Another drive reads them, at the end of the run going on.
  rig.drive.badSectors.clear();
  rig.listings = 0;
  rig.Run(true);
  EXPECT_EQ(paths(rig.listed), healthy);
  EXPECT_GE(rig.listings, 2);  // at the start as it was, then read again
  // Read between the engine's blocks, the tree left the image's bytes where
  // they belong.
  EXPECT_EQ(ImageProblem(rig.image, rig.map, rig.drive), "");
  EXPECT_TRUE(rig.image.bytes == rig.drive.bytes);
}

// The map beside the image stays GNU ddrescue's and true, and the domain
// mapfile beside it keeps ddrescue, going on with the image of a stopped
// run, to the data areas: the gap between the sessions (bytes there on the
// "drive", which cooked reads never give) stays zeros and '?'.
TEST(DiscImageRun, DdrescueGoesOnWithTheImageInsideTheDomainMap) {
  Rig rig;
  const std::set<int64_t> gap = Lay(rig, Shape::kTwoSessions);
  rig.drive.badSectors.clear();  // ddrescue reads the file: the gap holds bytes
  for (int64_t s : gap) rig.drive.bytes.replace(s * S, S, std::string(S, 'G'));
  rig.stopAt = 6;
  ASSERT_TRUE(rig.Run(false).stopped);
  ASSERT_GT(rig.map.Total(kNonTried), static_cast<int64_t>(gap.size()) * S);
  const DiscLayout layout = *rig.laidOut;
  const test::fs::path dir = test::ImageDir() / "ddrescue_domain";
  test::fs::create_directories(dir);
  auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return "'" + (dir / name).string() + "'";
  };
  const std::string device = write("disc", rig.drive.bytes), image = write("image.iso", rig.image.bytes);
  const std::string map = write("image.iso.map", rig.map.ToText());
  const std::string domain =
      write("image.iso.domain.map", DomainMap(DataBytes(layout, rig.drive.Size()), rig.drive.Size()).ToText());
  int status = 0;
  test::RunCommand("ddrescue -b 2048 -m " + domain + " " + device + " " + image + " " + map, status);
  ASSERT_EQ(status, 0);
  const RescueMap after = RescueMap::Parse(test::ReadBytes(dir / "image.iso.map"));
  const std::string held = test::ReadBytes(dir / "image.iso");
  ASSERT_EQ(held.size(), rig.drive.bytes.size());
  for (int64_t s = 0; s < rig.drive.Size() / S; ++s) {
    const bool inGap = gap.count(s) != 0;
    ASSERT_EQ(after.StatusAt(s * S), inGap ? kNonTried : kFinished) << s;
    ASSERT_EQ(held.substr(s * S, S), inGap ? std::string(S, '\0') : rig.drive.bytes.substr(s * S, S)) << s;
  }
}

}  // namespace
}  // namespace sk
