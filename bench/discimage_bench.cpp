// The image run over a disc image on the badmedia fixture (a drive that fails
// sectors whole, with a cost per failing read), for bench/discimage.sh which
// runs GNU ddrescue on the same image and compares.
//
//   discimage_bench.exe MOUNT DEST CASE NAME [toc=START:LENGTH:AUDIO,...] [TICKED...]
//
// MOUNT is the fixture's mount as a Windows path ending in '\', DEST a folder
// (ending in '\') on a real disk for the image and its map, NAME the file of
// MOUNT\v\ read as the drive (opened as a plain file), TICKED paths on the
// disc ("\Dokumenty\list.doc") chosen before the rest; toc= the tracks a
// drive's table of contents would give (sectors; AUDIO 1 for an audio
// track, a track per session), else the run finds the layout on the disc as
// it does where the drive answers none. Prints one line:
//   "sektorian CASE: time T s, bare B s, failing reads F (fixture F2), before list L, listed N
//    after T1 s, ticked first yes|no|-, unfinished U"
// T is the image run's time, B that of a bare loop of 64 KiB reads of the
// same file made right after it; F the failing reads the run made (F2 as the
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
  sk::win::WinFileSystem files;
  sk::win::WinClock clock;
  sk::Pacer pacer(clock);
  try {
    DeleteFileW(sk::win::Widen(imagePath).c_str());
    DeleteFileW(sk::win::Widen(sk::MapPathFor(imagePath)).c_str());
    auto noted = std::make_unique<Noted>(files.Open(source, sk::OpenMode::ReadShared));
    Noted& drive = *noted;
    std::unique_ptr<sk::IFile> device = std::move(noted);
    auto image = files.Open(imagePath, sk::OpenMode::CreateReadWrite);
    View view(drive);
    sk::MapKeeper keeper(files, sk::MapPathFor(imagePath));
    sk::RescueSession session(view, keeper, files, source);
    sk::ImageRunOptions options;
    for (int i = 5; i < argc; ++i) {
      const std::string arg = sk::win::Narrow(argv[i]);
      if (arg.rfind("toc=", 0) != 0) {
        view.ticked.push_back(arg);
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
    sk::RescueMap map;
    Control(mount, "fails");
    const double t0 = view.start = Seconds();
    sk::DiscImageRun run(view, options);
    const sk::ImageRunResult result = run.Run(session, device, *image, map, clock, pacer);
    const double seconds = Seconds() - t0;
    const long long fixtureFails = std::atoll(ReadText(mount + "ctl\\fails").c_str());
    image->Close();
    device->Close();

    std::string tickedFirst = "-";
    if (!view.chosen.empty()) {
      size_t lastInside = 0, firstFailOutside = drive.log.size();
      for (size_t i = view.listedAt; i < drive.log.size(); ++i) {
        const auto& r = drive.log[i];
        if (Inside(view.chosen, r.pos, r.end) && !r.failed) lastInside = i;
        if (!Inside(view.chosen, r.pos, r.end) && r.failed) firstFailOutside = std::min(firstFailOutside, i);
      }
      tickedFirst = lastInside < firstFailOutside ? "yes" : "no";
    }

    // The bare loop: 64 KiB reads of the same file, a failing one skipped.
    auto bare = files.Open(source, sk::OpenMode::ReadShared);
    std::vector<char> buffer(64 * 1024);
    const int64_t size = bare->Size();
    const double b0 = Seconds();
    for (int64_t p = 0; p < size; p += static_cast<int64_t>(buffer.size())) {
      try {
        bare->Seek(p);
        bare->Read(buffer.data(), buffer.size());
      } catch (const sk::FileError&) {
      }
    }
    const double bareSeconds = Seconds() - b0;
    bare->Close();
    std::printf(
        "sektorian %s: time %.3f s, bare %.3f s, failing reads %lld (fixture %lld), before list %lld, listed %zu "
        "after %.3f s, ticked first %s, unfinished %lld\n",
        name.c_str(), seconds, bareSeconds, static_cast<long long>(result.failedReads), fixtureFails,
        static_cast<long long>(result.failedBeforeList), view.listed, view.listedSeconds, tickedFirst.c_str(),
        static_cast<long long>(map.Unfinished()));
    const sk::DiscLayout& laid = run.Layout();
    std::printf("sektorian %s: sessions %d, audio tracks %d, data areas %zu\n", name.c_str(), laid.Sessions(),
                laid.AudioTracks(), run.DataAreas().size());
  } catch (const std::exception& e) {
    std::printf("sektorian %s: error %s\n", name.c_str(), e.what());
    return 1;
  }
  return 0;
}
