// The disc image window on the damaged disc: Wine's drive D: is made a CD
// drive whose disc is an ISO 9660 image (genisoimage, Joliet and Rock Ridge)
// lying on the fixture with failing sectors. Through the real windows: the
// image and its map against the damage, the files it hit, the files written
// out of the image, Stop and going on, another disc refused, the disc taken
// out and put back, and every read of the device aligned.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/RescueMap.h"
#include "support/Media.h"
#include "support/SettingsKey.h"
#include "support/UiTest.h"
#include "ui/Application.h"
#include "ui/ImageForm.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"
#include "win/Utf.h"
#include "win/WinDevice.h"

namespace sk::ui {
namespace {

constexpr int64_t kSector = 2048;

void IgnoreReport(const std::string&) {}

struct SourceFile {
  std::string path;  // from the disc's root
  size_t size;
  unsigned salt;
};
const std::vector<SourceFile> kFiles = {
    {"\\Dokumenty\\list.doc", 300000, 1}, {"\\Dokumenty\\raport.txt", 150000, 2}, {"\\Zdjęcia\\lato.jpg", 500000, 3},
    {"\\readme.txt", 5000, 4},             {"\\Dane\\a.bin", 200000, 5},
};

// Every device read, as it went to the system.
struct DeviceRead {
  int64_t offset;
  uint32_t length;
  uintptr_t buffer;
  uint32_t sector;
};

class DiscImageOnMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* mount = std::getenv("SEKTORIAN_MEDIA");
    ASSERT_NE(mount, nullptr);
    // Two discs of one size: the same tree, one file's content another.
    for (int disc = 1; disc <= 2; ++disc) {
      const std::string src = media_.Disk() + "src" + std::to_string(disc) + "\\";
      for (const SourceFile& f : kFiles) {
        const std::string path = src + f.path.substr(1);
        CreateDirectoryW(win::Widen(src).c_str(), nullptr);
        CreateDirectoryW(win::Widen(src + FolderOf(f.path)).c_str(), nullptr);
        test::WriteFile(path, test::Pattern(f.size, f.salt + (disc == 2 && f.salt == 4 ? 50 : 0)));
      }
      const std::string w = std::string(mount) + "/w/";
      // (Another label too: discs made in one second differ in nothing else at their start.)
      ASSERT_EQ(media_.RunUnix("genisoimage -quiet -J -R -V " + std::string(disc == 1 ? "PLYTA_TESTOWA" : "PLYTA_INNA") +
                            " -input-charset utf-8 -o " + w + "disc" +
                            std::to_string(disc) + " " + w + "src" + std::to_string(disc)),
                0);
    }
    iso_ = test::ReadFile(media_.Disk() + "disc1");
    ASSERT_EQ(iso_.size() % kSector, 0u);
    ASSERT_EQ(test::ReadFile(media_.Disk() + "disc2").size(), iso_.size());
    // Where each file's data lie: its content found in the image.
    for (const SourceFile& f : kFiles) {
      const size_t at = iso_.find(test::Pattern(f.size, f.salt).substr(0, 512));
      ASSERT_NE(at, std::string::npos) << f.path;
      ASSERT_EQ(at % kSector, 0u);
      where_[f.path] = static_cast<int64_t>(at);
    }
    // The damage: two sectors inside list.doc, one inside lato.jpg.
    bad_ = {where_["\\Dokumenty\\list.doc"] / kSector + 40, where_["\\Dokumenty\\list.doc"] / kSector + 41,
            where_["\\Zdjęcia\\lato.jpg"] / kSector + 100};
    std::sort(bad_.begin(), bad_.end());
    disc_ = Disc(1, 0);
    ASSERT_TRUE(drive_.Insert(disc_));
    ASSERT_EQ(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_CDROM));
    win::SetDeviceReadObserver([this](int64_t offset, uint32_t length, const void* buffer, uint32_t sector) {
      reads_.push_back({offset, length, reinterpret_cast<uintptr_t>(buffer), sector});
      if (onDeviceRead_) onDeviceRead_();
    });
    SetErrorSink(IgnoreReport);
    StartUp();
    main_ = App().form1;
    main_->SetText("Edit1", media_.Disk() + "pliki");
  }
  void TearDown() override {
    if (main_) ShutDown();
    // Every read of the device went to it aligned, into an aligned buffer.
    for (const DeviceRead& r : reads_)
      EXPECT_TRUE(r.sector == kSector && r.offset % r.sector == 0 && r.length % r.sector == 0 && r.buffer % 4096 == 0)
          << r.offset << " " << r.length;
    win::SetDeviceReadObserver(nullptr);
    SetErrorSink(nullptr);
    test::Flush();
  }

  static std::string FolderOf(const std::string& path) { return path.substr(1, path.rfind('\\')); }

  test::VirtualFile Disc(int n, unsigned slowMs) const {
    test::VirtualFile v{.size = iso_.size(), .slowMs = slowMs, .sector = kSector, .from = "disc" + std::to_string(n),
                        .ext = ".iso"};
    v.id = "n" + std::to_string(n) + "s" + std::to_string(slowMs);
    for (int64_t s : bad_) v.Bad(static_cast<uint64_t>(s * kSector), static_cast<uint64_t>(s * kSector + kSector - 1));
    return v;
  }
  bool BadByte(int64_t i) const {
    return std::find(bad_.begin(), bad_.end(), i / kSector) != bad_.end();
  }

  TForm5& Window() {
    TForm5& w = main_->ImageWindow();
    w.Open();
    EXPECT_TRUE(w.SelectDrive('D'));
    return w;
  }

  // The image matches the disc where its map says read and is zero
  // elsewhere; no bad sector is called read, and a finished run lacks no other.
  void CheckImage(const std::string& image, bool finished) {
    const std::string bytes = test::ReadFile(image);
    const RescueMap map = RescueMap::Parse(test::ReadFile(image + ".map"));
    ASSERT_EQ(bytes.size(), iso_.size());
    ASSERT_EQ(map.Size(), static_cast<int64_t>(iso_.size()));
    for (const MapArea& a : map.Areas()) {
      const std::string got = bytes.substr(static_cast<size_t>(a.pos), static_cast<size_t>(a.size));
      const bool read = a.status == kFinished;
      EXPECT_TRUE(got == (read ? iso_.substr(static_cast<size_t>(a.pos), got.size()) : std::string(got.size(), '\0')))
          << a.pos;
      for (int64_t i = a.pos; read && i < a.end(); i += kSector) EXPECT_FALSE(BadByte(i)) << "bad sector read at " << i;
    }
    if (finished) EXPECT_EQ(map.Unfinished(), static_cast<int64_t>(bad_.size()) * kSector);
  }

  test::Media media_;
  std::string iso_;
  std::map<std::string, int64_t> where_;
  std::vector<int64_t> bad_;
  test::VirtualFile disc_;
  test::CdDrive drive_{media_, 'D'};
  std::vector<DeviceRead> reads_;
  std::function<void()> onDeviceRead_;  // at each device read, on the reading thread
  TForm1* main_ = nullptr;
};

TEST_F(DiscImageOnMedia, ImagesTheDiscNamesTheFilesHitAndWritesThemOut) {
  TForm5& w = Window();
  main_->Mapaodczytu1Click();
  // An image on the disc itself is refused, nothing written.
  w.SetText("Edit1", "D:\\obraz.iso");
  {
    test::MessageBoxAnswerer box(IDOK);
    w.Button2Click();
    ASSERT_TRUE(box.Wait());
    EXPECT_EQ(box.Caption(), "Obraz płyty");
    EXPECT_EQ(box.Text(), "Plik obrazu nie może być zapisany na płycie, z której powstaje.");
  }
  EXPECT_FALSE(test::FileExists(media_.Disk() + "drive\\obraz.iso"));
  EXPECT_TRUE(reads_.empty());
  const std::string image = media_.Disk() + "obraz.iso";
  w.SetText("Edit1", image);
  bool heldAsARescue = false;
  w.ListedHook = [&] {
    heldAsARescue = main_->Runs().Running() == RunKind::Image && !main_->TopMenuEnabled("Lista1") &&
                    main_->TopMenuEnabled("Narzdzia1") && !main_->Runs().May(RunCommand::Start);
  };
  w.Button2Click();
  EXPECT_FALSE(w.Running());
  EXPECT_EQ(main_->Runs().Running(), RunKind::None);
  if (const char* shot = std::getenv("SEKTORIAN_SCREENSHOT")) {  // a picture of the screen, to look at
    main_->MapWindow().Hide();
    SetForegroundWindow(w.hwnd());
    test::Flush();
    media_.RunUnix(std::string("import -window root ") + shot);
  }
  CheckImage(image, true);

  // The list: the two files hit, with their unreadable bytes, the rest whole.
  ASSERT_TRUE(w.HasTree());
  EXPECT_EQ(w.Tree().label, "PLYTA_TESTOWA");
  ASSERT_EQ(w.RowCount(), static_cast<int>(kFiles.size()));
  w.ListView1ColumnClick(4);  // by state: the damaged first
  EXPECT_EQ(w.RowText(0, 4), "Uszkodzony");
  EXPECT_EQ(w.RowText(1, 4), "Uszkodzony");
  EXPECT_EQ(w.RowText(2, 4), "Cały");
  EXPECT_TRUE(heldAsARescue);
  EXPECT_EQ(w.Text("ComboBox1"), "D: (PLYTA_TESTOWA)");  // Wine gives no label: the disc's own
  EXPECT_EQ(w.Text("Label11"), "Cały: 3, Uszkodzony: 2, Nieodczytany: 0");

  // The saved list names the files hit.
  w.SaveList(media_.Disk() + "lista.txt");
  const std::string list = test::ReadFile(media_.Disk() + "lista.txt");
  EXPECT_NE(list.find("\\Dokumenty\\list.doc\t300000\t4096\t0\tUszkodzony\r\n"), std::string::npos) << list;
  EXPECT_NE(list.find("\\Zdjęcia\\lato.jpg\t500000\t2048\t0\tUszkodzony\r\n"), std::string::npos) << list;

  // The map window names the files whose data lie in a chosen cell.
  TForm4& map = main_->MapWindow();
  ASSERT_TRUE(map.HasMap());
  map.SelectCell(map.Grid().CellOf(where_["\\Dokumenty\\list.doc"] + 40 * kSector, map.Picture().Size()));
  EXPECT_NE(map.CellDetail().find("list.doc"), std::string::npos) << map.CellDetail();

  // "Zapisz pliki": every file under the label's folder, equal to the
  // original where read, zeros where not, with a map where bytes are missing.
  EXPECT_EQ(w.SaveFiles(), 3);
  for (const SourceFile& f : kFiles) {
    const std::string out = media_.Disk() + "pliki\\PLYTA_TESTOWA" + f.path;
    const std::string got = test::ReadFile(out);
    std::string expected = test::Pattern(f.size, f.salt);
    bool damaged = false;
    for (size_t i = 0; i < expected.size(); ++i)
      if (BadByte(where_[f.path] + static_cast<int64_t>(i))) expected[i] = '\0', damaged = true;
    EXPECT_TRUE(got == expected) << f.path;
    EXPECT_EQ(test::FileExists(out + ".map"), damaged) << f.path;
  }
  const EventLogModel& log = main_->EventLog();
  EXPECT_EQ(log.At(log.Count() - 2).text, "Błąd: Nie wszystkie pliki zostały skopiowane (3 z 5)");
  EXPECT_FALSE(reads_.empty());

  // Saved again: the same disc's folder (its record tells its files, as the
  // folder's listing gives their sizes and times, from the user's), no
  // second copies. Meanwhile the save is a run: "Rozpocznij" pressed during
  // it is greyed and starts nothing (an image run would clear the list the
  // save writes out), and so are the dialogs.
  int pressed = 0;
  w.SetLogSink([&](const std::string& text, EventKind kind) {
    main_->LogEvent(text, kind);
    if (text.rfind("Rozpoczynanie kopiowania pliku", 0) != 0) return;
    ++pressed;
    EXPECT_FALSE(w.Enabled("Button2") || w.Enabled("Button1") || w.Enabled("Button4") || w.Enabled("Button5"));
    w.Button2Click();
    EXPECT_TRUE(w.HasTree());
  });
  EXPECT_EQ(w.SaveFiles(), 3);
  w.SetLogSink([&](const std::string& text, EventKind kind) { main_->LogEvent(text, kind); });
  EXPECT_EQ(pressed, 5);
  EXPECT_TRUE(w.HasTree());
  EXPECT_TRUE(w.Enabled("Button2"));
  EXPECT_FALSE(test::FileExists(media_.Disk() + "pliki\\PLYTA_TESTOWA\\Dokumenty\\list (2).doc"));
  EXPECT_FALSE(test::FileExists(media_.Disk() + "pliki\\PLYTA_TESTOWA (2)\\Dokumenty\\list.doc"));
}

// A CD-R of two sessions as Windows XP leaves it (genisoimage -C/-M, the
// second session after the standard gap of 11,400 sectors), the gap failing
// as a drive's reads of it fail. Wine's drive answers no table of contents:
// the sessions are found on the disc. The gap is never read nor called
// unreadable; the newest session is the list, the file it replaced kept
// under "Poprzednie sesje"; the domain mapfile names the data areas. The
// first session's last sector (padding, in no file) fails too, as the
// run-out sectors of a track written at once do: damage apart from the files.
TEST_F(DiscImageOnMedia, ATwoSessionDiscIsImagedWithoutItsGap) {
  const std::string w = std::string(std::getenv("SEKTORIAN_MEDIA")) + "/w/";
  for (const char* folder : {"ms1", "ms2"}) CreateDirectoryW(win::Widen(media_.Disk() + folder).c_str(), nullptr);
  test::WriteFile(media_.Disk() + "ms1\\stary.txt", test::Pattern(30000, 61));
  test::WriteFile(media_.Disk() + "ms1\\zmieniony.txt", test::Pattern(20000, 62));
  test::WriteFile(media_.Disk() + "ms2\\nowy.txt", test::Pattern(40000, 63));
  test::WriteFile(media_.Disk() + "ms2\\zmieniony.txt", test::Pattern(25000, 64));
  const std::string iso = "genisoimage -quiet -R -J -V SESJE -input-charset utf-8 ";
  ASSERT_EQ(media_.RunUnix("cd " + w + " && " + iso + "-o ms_a ms1 && n=$(($(stat -c%s ms_a) / 2048)) && " + iso +
                           "-C 0,$((n + 11400)) -M ms_a -o ms_b ms2 && cp ms_a ms_disc && truncate -s $(((n + 11400) * "
                           "2048)) ms_disc && cat ms_b >> ms_disc && echo $n > ms_n"),
            0);
  const int64_t first = std::atoll(test::ReadFile(media_.Disk() + "ms_n").c_str());
  const std::string disc = test::ReadFile(media_.Disk() + "ms_disc");
  const int64_t gapFrom = first * kSector, gapTo = (first + 11400) * kSector;
  ASSERT_GT(static_cast<int64_t>(disc.size()), gapTo);
  test::VirtualFile v{.size = disc.size(), .sector = kSector, .id = "ms", .from = "ms_disc", .ext = ".iso"};
  v.Bad(static_cast<uint64_t>(gapFrom - kSector), static_cast<uint64_t>(gapTo - 1));
  ASSERT_TRUE(drive_.Insert(v));
  EXPECT_FALSE(win::ReadDriveLayout("\\\\.\\D:"));  // Wine's drive answers no table of contents
  TForm5& window = Window();
  const std::string image = media_.Disk() + "sesje.iso";
  window.SetText("Edit1", image);
  reads_.clear();
  window.Button2Click();
  ASSERT_FALSE(window.Running());

  // Not one read of the gap; the image is the disc (zeros in the gap), its
  // map '?' there and nothing unreadable.
  for (const DeviceRead& r : reads_)
    EXPECT_FALSE(r.offset < gapTo && r.offset + r.length > gapFrom) << "read in the gap at " << r.offset;
  const RescueMap map = RescueMap::Parse(test::ReadFile(image + ".map"));
  EXPECT_EQ(map.Areas(), (std::vector<MapArea>{{0, gapFrom - kSector, '+'},
                                               {gapFrom - kSector, kSector, '-'},
                                               {gapFrom, gapTo - gapFrom, '?'},
                                               {gapTo, static_cast<int64_t>(disc.size()) - gapTo, '+'}}));
  EXPECT_TRUE(test::ReadFile(image) == disc);
  const RescueMap domain = RescueMap::Parse(test::ReadFile(image + ".domain.map"));
  EXPECT_EQ(domain.Areas(), (std::vector<MapArea>{{0, gapFrom, '+'},
                                                  {gapFrom, gapTo - gapFrom, '?'},
                                                  {gapTo, static_cast<int64_t>(disc.size()) - gapTo, '+'}}));
  EXPECT_EQ(window.LayoutSummary(), "Płyta: 2 sesje (przerw między nimi się nie czyta); układ odczytany z płyty");
  EXPECT_EQ(window.Text("Label12").find("Nie odczytano 2"), 0u) << window.Text("Label12");
  EXPECT_TRUE(window.Text("Label12").ends_with(" płyty; " + window.LayoutSummary())) << window.Text("Label12");
  EXPECT_EQ(window.Text("Label8"), "brak");  // nothing left to try: the gap is not the disc's to read

  // The newest session is the list; the version it replaced is kept apart.
  std::map<std::string, int64_t> files;
  for (const DiscEntry& e : window.Tree().entries) files[e.path] = e.size;
  EXPECT_EQ(files, (std::map<std::string, int64_t>{{"\\nowy.txt", 40000},
                                                   {"\\stary.txt", 30000},
                                                   {"\\zmieniony.txt", 25000},
                                                   {"\\Poprzednie sesje\\Sesja 1\\zmieniony.txt", 20000}}));
  // The padding's bad sector hit no file: said apart, never as a file's.
  EXPECT_EQ(window.Text("Label11").find("Cały: 4, Uszkodzony: 0, Nieodczytany: 0; poza plikami nieczytelne 2"), 0u)
      << window.Text("Label11");
  window.SaveList(media_.Disk() + "sesje.txt");
  EXPECT_TRUE(test::ReadFile(media_.Disk() + "sesje.txt")
                  .ends_with("(poza plikami)\t0\t2048\t0\tUszkodzenie poza plikami\r\n"));
  EXPECT_EQ(window.DescribeOwners(image + ".map", gapFrom - kSector, gapFrom), "");
}

// A read of any range goes to the device as whole sectors, and gives back
// exactly the bytes asked.
TEST_F(DiscImageOnMedia, DeviceReadsWholeSectorsAndGivesWhatWasAsked) {
  auto device = win::OpenDevice("\\\\.\\D:");
  EXPECT_EQ(device->Size(), static_cast<int64_t>(iso_.size()));
  reads_.clear();
  const struct {
    int64_t at;
    size_t count;
  } cases[] = {{1000, 3000}, {2047, 2}, {kSector * 3, kSector}, {0, 1}, {static_cast<int64_t>(iso_.size()) - 10, 100}};
  for (const auto& c : cases) {
    std::string got(c.count, '\0');
    device->Seek(c.at);
    got.resize(device->Read(got.data(), c.count));
    EXPECT_TRUE(got == iso_.substr(static_cast<size_t>(c.at), c.count)) << c.at;
    EXPECT_EQ(device->Position(), c.at + static_cast<int64_t>(got.size()));
  }
  EXPECT_EQ(reads_.size(), std::size(cases));  // (each aligned: TearDown)
  // A bad sector fails the read with the program's text.
  device->Seek(bad_[2] * kSector + 10);
  char byte;
  try {
    device->Read(&byte, 1);
    ADD_FAILURE() << "a bad sector read";
  } catch (const FileError& e) {
    EXPECT_STREQ(e.what(), "I/O error 21");
  }
}

TEST_F(DiscImageOnMedia, StopsGoesOnRefusesAnotherDiscAndWaitsForTheDisc) {
  // Slow reads, so that the run lasts over several paced refreshes.
  const test::VirtualFile slow = Disc(1, 20);
  ASSERT_TRUE(drive_.Insert(slow));
  TForm5& w = Window();
  const std::string image = media_.Disk() + "obraz.iso";
  w.SetText("Edit1", image);
  // The file ticked as soon as the files are listed lies last on the disc,
  // behind list.doc's bad sectors: its data are read before any failing read
  // elsewhere. The run is stopped at its first paced moment after that.
  const SourceFile* last = &kFiles[0];
  for (const SourceFile& f : kFiles)
    if (where_[f.path] > where_[last->path]) last = &f;
  ASSERT_GT(where_[last->path], where_["\\Dokumenty\\list.doc"] + 41 * kSector);
  auto rowOf = [&](const std::string& path) {
    for (int r = 0; r < w.RowCount(); ++r)
      if (w.RowText(r, 0) == path) return r;
    return -1;
  };
  w.ListedHook = [&] { w.SetTicked(rowOf(last->path), true); };
  w.RefreshHook = [&] {
    if (w.HasTree()) w.Button3Click();
  };
  media_.StartTrace();
  w.Button2Click();
  const std::vector<test::TraceRecord> trace = media_.Trace();
  const RescueMap stopped = RescueMap::Parse(test::ReadFile(image + ".map"));
  ASSERT_GT(stopped.Total(kNonTried), 0);
  CheckImage(image, false);
  EXPECT_TRUE(main_->EventLog().At(main_->EventLog().Count() - 2).text.starts_with("Błąd: Nie odczytano "));

  // Going on ends the image, and the ticks stay; the ticked file was read
  // before any failing read outside it, over both runs.
  w.ListedHook = nullptr;
  w.RefreshHook = nullptr;
  media_.StartTrace();
  w.Button2Click();
  CheckImage(image, true);
  EXPECT_TRUE(w.Ticked(rowOf(last->path)));
  const std::vector<test::TraceRecord> more = media_.Trace();
  const int64_t from = where_[last->path], to = from + static_cast<int64_t>(last->size);
  size_t lastInside = 0, firstFailOutside = SIZE_MAX, k = 0;
  for (const auto* part : {&trace, &more}) {
    for (const test::TraceRecord& t : *part) {
      const bool inside = static_cast<int64_t>(t.offset) < to && static_cast<int64_t>(t.offset + t.size) > from;
      if (inside && t.result == "ok") lastInside = k;
      if (!inside && t.result == "fail") firstFailOutside = std::min(firstFailOutside, k);
      ++k;
    }
  }
  EXPECT_GT(lastInside, 0u);
  EXPECT_LT(lastInside, firstFailOutside);
  media_.StopTrace();

  // Another disc of the same size: refused with the box, the map untouched.
  const std::string mapBefore = test::ReadFile(image + ".map");
  ASSERT_TRUE(drive_.Insert(Disc(2, 0)));
  {
    test::MessageBoxAnswerer box(IDOK);
    w.Button2Click();
    ASSERT_TRUE(box.Wait()) << mapBefore.substr(0, 300) << main_->EventLog().At(main_->EventLog().Count() - 2).text;
    EXPECT_EQ(box.Caption(), "Obraz płyty");
    EXPECT_EQ(box.Text(), "Mapa obrazu nie pasuje do płyty w napędzie.");
  }
  EXPECT_EQ(test::ReadFile(image + ".map"), mapBefore);

  // The disc taken out during a run and put back: "Ponów" goes on.
  ASSERT_TRUE(drive_.Insert(slow));
  const std::string third = media_.Disk() + "obraz3.iso";
  w.SetText("Edit1", third);
  int asked = 0;
  w.RefreshHook = [&] {
    if (w.HasTree() && asked == 0 && media_.MediumState() == "in") media_.TakeOut();
  };
  w.AskRetry = [&] {
    ++asked;
    media_.PutIn();
    return true;
  };
  w.Button2Click();
  EXPECT_GE(asked, 1);
  CheckImage(third, true);

  // Taken out, and "Zatrzymaj" pressed during the read that finds the disc
  // gone: the run ends as a stop, without the question, its map saved.
  const std::string fifth = media_.Disk() + "obraz6.iso";
  w.SetText("Edit1", fifth);
  // Both happen on the reading thread just before a read, so that read is
  // the one that finds the disc gone, whatever the threads' timing.
  asked = 0;
  std::atomic<bool> due = false, out = false;
  w.RefreshHook = [&] {
    if (w.HasTree()) due = true;
  };
  onDeviceRead_ = [&] {
    if (!due || out.exchange(true)) return;
    media_.TakeOut();
    w.Button3Click();
  };
  w.Button2Click();
  onDeviceRead_ = nullptr;
  EXPECT_TRUE(out);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(test::FileExists(fifth + ".map"));
  media_.PutIn();

  // A full disk: the error in the log, the map true of what the image holds.
  w.AskRetry = nullptr;
  w.RefreshHook = nullptr;
  const std::string full = media_.Disk() + "obraz4.iso";
  w.SetText("Edit1", full);
  media_.SetBudget(600000);
  w.Button2Click();
  media_.ClearBudget();
  bool diskFull = false;
  for (size_t i = 0; i < main_->EventLog().Count(); ++i)
    diskFull = diskFull || main_->EventLog().At(i).text == "Błąd: I/O error 112";
  EXPECT_TRUE(diskFull);
  CheckImage(full, false);

  // A disc with no file system known is imaged all the same.
  const test::VirtualFile blank{.size = 300 * 1024, .salt = 9, .sector = kSector, .ext = ".iso"};
  ASSERT_TRUE(drive_.Insert(blank));
  w.SetText("Edit1", media_.Disk() + "obraz5.iso");
  w.Button2Click();
  EXPECT_EQ(w.Text("Label11"), "Nie rozpoznano systemu plików");
  EXPECT_EQ(w.RowCount(), 0);
  EXPECT_TRUE(test::ReadFile(media_.Disk() + "obraz5.iso") == blank.Bytes(0, blank.size));
}

}  // namespace
}  // namespace sk::ui
