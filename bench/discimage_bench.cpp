// The image run over a disc image on the badmedia fixture (a drive that fails
// sectors whole, with a cost per failing read), for bench/discimage.sh which
// runs GNU ddrescue on the same image and compares.
//
//   discimage_bench.exe MOUNT DEST CASE NAME [TICKED...]
//
// MOUNT is the fixture's mount as a Windows path ending in '\', DEST a folder
// (ending in '\') on a real disk for the image and its map, NAME the file of
// MOUNT\v\ read as the drive (opened as a plain file), TICKED paths on the
// disc ("\Dokumenty\list.doc") chosen before the rest; toc= the tracks a
// drive's table of contents would give (START:LENGTH:AUDIO in sectors, AUDIO
// 1 for an audio track, a track per session, comma-separated), else the run
// finds the layout on the disc as it does where the drive answers none.
// Prints two lines:
//   "sektorian CASE: time T s, bare B s, bare with writes W s, rounds K, failing reads F (fixture F2), before list L,
//    listed N after T1 s, ticked first yes|no|-, unfinished U"
//   "sektorian CASE: sessions S, audio tracks A, data areas D"
// T is the image run's time, B that of a bare loop of 64 KiB reads of the
// same file made right after it, W ("bare with writes W s", after B) that of
// the same loop also writing each block into a new file flushed once at the
// end (what an image must do at least): with ROUNDS=K (default 1) in the
// environment, K rounds of the two, alternating, and the median of each; the
// rest is of the last round. F the failing reads the run made (F2 as the
// fixture counted them); L those made before the files were listed; "ticked
// first": every readable byte of the ticked files was read before any failing
// read outside them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchFixture.h"
#include "core/DiscImage.h"
#include "core/Pacer.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

using sk::bench::Control;
using sk::bench::ReadText;
using sk::bench::Seconds;

// The drive, with every read noted.
struct Noted : sk::IFile {
  std::unique_ptr<sk::IFile> owned;
  sk::IFile& file;
  struct Access {
    int64_t pos, end;
    bool failed;
  };
  std::vector<Access> log;
  int64_t at = 0;
  explicit Noted(std::unique_ptr<sk::IFile> f) : owned(std::move(f)), file(*owned) {}
  int64_t Position() override { return file.Position(); }
  void Seek(int64_t p) override {
    at = p;
    file.Seek(p);
  }
  int64_t Size() override { return file.Size(); }
  size_t Read(void* buffer, size_t count) override {
    try {
      const size_t got = file.Read(buffer, count);
      log.push_back({at, at + static_cast<int64_t>(got), got < count});
      at += static_cast<int64_t>(got);
      return got;
    } catch (const sk::FileError&) {
      log.push_back({at, at + static_cast<int64_t>(count), true});
      throw;
    }
  }
  size_t Write(const void*, size_t) override { throw sk::FileError("File access denied", 5); }
  void Close() override { file.Close(); }
};

struct View : sk::IImageView {
  std::vector<std::string> ticked;
  std::vector<sk::DiscExtent> chosen;
  size_t listedAt = 0, listed = 0;
  double start = 0, listedSeconds = 0;
  Noted& drive;
  explicit View(Noted& d) : drive(d) {}
  void Progress(const sk::RescueMap&) override {}
  void Pump() override {}
  void Show() override {}
  bool StopRequested() override { return false; }
  void ShowRescueMap(const std::string&, const sk::RescueMap&, bool) override {}
  bool AskMediumRetry(sk::MediumQuestion) override { return false; }
  void Listed(const sk::DiscTree& tree) override {
    listedAt = drive.log.size();
    listedSeconds = Seconds() - start;
    listed = tree.entries.size();
    std::vector<size_t> entries;
    for (size_t i = 0; i < tree.entries.size(); ++i)
      if (std::count(ticked.begin(), ticked.end(), tree.entries[i].path)) entries.push_back(i);
    chosen = sk::ChosenExtents(tree, entries);
  }
  std::vector<sk::DiscExtent> Chosen() override { return chosen; }
};

bool Inside(const std::vector<sk::DiscExtent>& xs, int64_t pos, int64_t end) {
  return std::any_of(xs.begin(), xs.end(), [&](const sk::DiscExtent& x) { return pos < x.pos + x.size && end > x.pos; });
}

// One image run of the whole disc into a new image file (none left from a
// round before: overwriting 64 MiB would time the file system dropping its
// pages), as the window makes one.
struct Round {
  double seconds = 0;
  sk::ImageRunResult result;
  long long fixtureFails = 0;
  std::string tickedFirst = "-";
  size_t listed = 0;
  double listedSeconds = 0;
  long long unfinished = 0;
  int sessions = 1, audioTracks = 0;
  size_t dataAreas = 0;
};

Round ImageRun(const std::string& mount, const std::string& source, const std::string& imagePath,
               const std::vector<std::string>& ticked, const sk::ImageRunOptions& options) {
  sk::win::WinFileSystem files;
  sk::win::WinClock clock;
  sk::Pacer pacer(clock);
  DeleteFileW(sk::win::Widen(imagePath).c_str());
  DeleteFileW(sk::win::Widen(sk::MapPathFor(imagePath)).c_str());
  auto noted = std::make_unique<Noted>(files.Open(source, sk::OpenMode::ReadShared));
  Noted& drive = *noted;
  std::unique_ptr<sk::IFile> device = std::move(noted);
  auto image = files.Open(imagePath, sk::OpenMode::CreateReadWrite);
  View view(drive);
  view.ticked = ticked;
  sk::MapKeeper keeper(files, sk::MapPathFor(imagePath));
  sk::RescueSession session(view, keeper, files, source);
  sk::RescueMap map;
  Control(mount, "fails");
  Round round;
  const double t0 = view.start = Seconds();
  sk::DiscImageRun run(view, options);
  round.result = run.Run(session, device, *image, map, clock, pacer);
  round.seconds = Seconds() - t0;
  round.fixtureFails = std::atoll(ReadText(mount + "ctl\\fails").c_str());
  image->Close();
  device->Close();
  if (!view.chosen.empty()) {
    size_t lastInside = 0, firstFailOutside = drive.log.size();
    for (size_t i = view.listedAt; i < drive.log.size(); ++i) {
      const auto& r = drive.log[i];
      if (Inside(view.chosen, r.pos, r.end) && !r.failed) lastInside = i;
      if (!Inside(view.chosen, r.pos, r.end) && r.failed) firstFailOutside = std::min(firstFailOutside, i);
    }
    round.tickedFirst = lastInside < firstFailOutside ? "yes" : "no";
  }
  round.listed = view.listed;
  round.listedSeconds = view.listedSeconds;
  round.unfinished = static_cast<long long>(map.Unfinished());
  round.sessions = run.Layout().Sessions();
  round.audioTracks = run.Layout().AudioTracks();
  round.dataAreas = run.DataAreas().size();
  return round;
}

// The bare loop: 64 KiB reads of the same file, a failing one skipped.
// With `copy` (a path), each block read is also written there, into a new
// file, flushed once at the end: what an image must do at least.
double BareLoop(const std::string& source, const std::string& copy = {}) {
  sk::win::WinFileSystem files;
  if (!copy.empty()) DeleteFileW(sk::win::Widen(copy).c_str());
  auto bare = files.Open(source, sk::OpenMode::ReadShared);
  std::unique_ptr<sk::IFile> out;
  std::vector<char> buffer(64 * 1024);
  const int64_t size = bare->Size();
  const double b0 = Seconds();
  if (!copy.empty()) out = files.Open(copy, sk::OpenMode::CreateReadWrite);
  for (int64_t p = 0; p < size; p += static_cast<int64_t>(buffer.size())) {
    try {
      bare->Seek(p);
      const size_t got = bare->Read(buffer.data(), buffer.size());
      if (out) out->Write(buffer.data(), got);
    } catch (const sk::FileError&) {
    }
  }
  if (out) {
    out->Flush();
    out->Close();
  }
  const double seconds = Seconds() - b0;
  bare->Close();
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 5) {
    std::fprintf(stderr, "usage: discimage_bench.exe MOUNT DEST CASE NAME [TICKED...]\n");
    return 2;
  }
  const std::string mount = sk::win::Narrow(argv[1]);
  const std::string dest = sk::win::Narrow(argv[2]);
  const std::string name = sk::win::Narrow(argv[3]);
  const std::string source = mount + "v\\" + sk::win::Narrow(argv[4]);
  const std::string imagePath = dest + name + ".iso";
  std::vector<std::string> ticked;
  sk::ImageRunOptions options;
  for (int i = 5; i < argc; ++i) {
    const std::string arg = sk::win::Narrow(argv[i]);
    if (arg.rfind("toc=", 0) != 0) {
      ticked.push_back(arg);
      continue;
    }
    sk::DiscLayout layout;
    layout.fromDrive = true;
    long long start = 0, length = 0;
    int audio = 0, n = 0;
    for (size_t at = 4; at < arg.size() && std::sscanf(arg.c_str() + at, "%lld:%lld:%d", &start, &length, &audio) == 3;) {
      ++n;
      layout.tracks.push_back({n, n, start, length, audio != 0});
      const size_t comma = arg.find(',', at);
      at = comma == std::string::npos ? arg.size() : comma + 1;
    }
    options.layout = layout;
  }
  // Rounds (ROUNDS, default 1), each the image run then the bare loop: the
  // medians are compared, so that a round held up by the machine counts
  // for little.
  const char* roundsText = std::getenv("ROUNDS");
  const int rounds = std::max(1, roundsText ? std::atoi(roundsText) : 1);
  try {
    std::vector<double> times, bares, copies;
    Round last;
    for (int k = 0; k < rounds; ++k) {
      last = ImageRun(mount, source, imagePath, ticked, options);
      times.push_back(last.seconds);
      bares.push_back(BareLoop(source));
      copies.push_back(BareLoop(source, dest + name + ".bare"));
    }
    DeleteFileW(sk::win::Widen(dest + name + ".bare").c_str());
    std::printf(
        "sektorian %s: time %.3f s, bare %.3f s, bare with writes %.3f s, rounds %d, failing reads %lld (fixture "
        "%lld), before list %lld, listed %zu after %.3f s, ticked first %s, unfinished %lld\n",
        name.c_str(), Median(times), Median(bares), Median(copies), rounds,
        static_cast<long long>(last.result.failedReads),
        last.fixtureFails, static_cast<long long>(last.result.failedBeforeList), last.listed, last.listedSeconds,
        last.tickedFirst.c_str(), last.unfinished);
    std::printf("sektorian %s: sessions %d, audio tracks %d, data areas %zu\n", name.c_str(), last.sessions,
                last.audioTracks, last.dataAreas);
  } catch (const std::exception& e) {
    std::printf("sektorian %s: error %s\n", name.c_str(), e.what());
    return 1;
  }
  return 0;
}
