#include "core/LevelCopy.h"

#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/Formats.h"
#include "core/Rescue.h"
#include "core/Text.h"

namespace sk {
namespace {

// An operation on a file that did not open. Its open already logged the
// error, so this ends the copy without another entry.
class NotOpenError : public FileError {
 public:
  NotOpenError() : FileError("I/O error 103", 103) {}
};

// A write that took fewer bytes than it was given: the disk is full.
constexpr unsigned long kDiskFull = 112;

constexpr const char* kSameFileText = "Plik docelowy jest tym samym plikiem co źródłowy";

IFile& Opened(const std::unique_ptr<IFile>& file) {
  if (!file) throw NotOpenError();
  return *file;
}

// Close on the way out of a failed copy; the failure that ended the copy is
// the one that counts.
void CloseQuietly(std::unique_ptr<IFile>& file) {
  if (!file) return;
  try {
    file->Close();
  } catch (...) {
  }
  file.reset();
}

// Steps 1 to 3 of a copy: announce, bind, open. A file that does not open is
// logged and left null; a destination that is the source itself is refused.
// In rescue mode a map left beside the destination by an earlier rescue is
// deleted before the destination is created (it would describe a file that
// no longer exists); any other file of that name is left alone. `renamed`:
// the log names the destination right after the first entry.
struct OpenedPair {
  std::unique_ptr<IFile> src, dst;
};
OpenedPair OpenPair(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                    const std::string* staleMap, bool renamed) {
  ICopyView& view = env.view;
  auto logError = [&](const std::string& message) { view.LogEvent("Błąd: " + message, ekError); };
  view.LogEvent("Rozpoczynanie kopiowania pliku " + FileNamePart(source), ekInfo);
  if (renamed) view.LogEvent("Zapisywanie jako " + FileNamePart(destination), ekInfo);
  view.LogEvent("Powiązywanie plików", ekInfo);
  OpenedPair files;
  // A rescue's own files may be opened through another layer (see CopyEnvironment).
  IFileSystem& opener = staleMap && env.rescueFiles ? *env.rescueFiles : env.files;
  view.LogEvent("Przygotowywanie plików do kopiowania", ekInfo);
  try {
    files.src = opener.Open(source, OpenMode::ReadShared);
  } catch (const FileError& e) {
    logError(e.what());
  }
  if (files.src) {
    // Creating the destination would truncate the source when both name the
    // same file (a destination folder that is the source's own, however spelt).
    if (opener.IsSameFile(*files.src, destination)) {
      logError(kSameFileText);
      CloseQuietly(files.src);
      throw FileError(kSameFileText);
    }
    if (staleMap) {
      try {
        if (InspectMapPath(env.files, *staleMap) == MapSlot::kMap) env.files.RemoveFile(*staleMap);
      } catch (const FileError& e) {
        logError(e.what());
        CloseQuietly(files.src);
        throw;
      }
    }
    try {
      files.dst = opener.Open(destination, OpenMode::CreateReadWrite);
    } catch (const FileError& e) {
      logError(e.what());
    }
  }
  return files;
}

// Step 9, when the size check is on: sizes only, never contents. Equal sizes
// with bytes left unread (rescue mode) are no success.
void CheckSizes(ICopyView& view, OpenedPair& files, int64_t unread) {
  if (!view.CheckSizes()) return;
  view.LogEvent("Sprawdzanie rozmiaru pliku", ekInfo);
  if (Opened(files.src).Size() != Opened(files.dst).Size())
    view.LogEvent("Rozmiar plików jest różny - błąd", ekError);
  else if (unread > 0)
    view.LogEvent("Rozmiar plików jest taki sam, ale nie wszystkie bajty zostały odczytane - błąd", ekError);
  else
    view.LogEvent("Rozmiar plików jest taki sam - sukces", ekSuccess);
  view.LogEvent("Zakończono sprawdzanie rozmiaru plików", ekInfo);
}

// Inside a catch handler: the failure that ends the copy is logged (unless
// its open already was, or `logged`), and both files are closed.
void AbandonPair(ICopyView& view, OpenedPair& files, bool logged) {
  try {
    throw;
  } catch (const NotOpenError&) {
  } catch (const FileError& e) {
    if (!logged) view.LogEvent(std::string("Błąd: ") + e.what(), ekError);
  } catch (...) {
  }
  CloseQuietly(files.src);
  CloseQuietly(files.dst);
}

// Steps 10 and 11: close both files (a failure is logged and the other is
// closed still) and say that the file is done.
void ClosePair(ICopyView& view, OpenedPair& files, const std::string& name, bool stopped) {
  view.LogEvent("Zamykanie plików", ekInfo);
  for (auto* file : {&files.src, &files.dst}) {
    try {
      (*file)->Close();
    } catch (const FileError& e) {
      view.LogEvent(std::string("Błąd: ") + e.what(), ekError);
    }
    file->reset();
  }
  view.LogEvent("Zakończono kopiowanie pliku " + name, ekInfo);
  if (stopped) view.ShowStatus();  // a stop shows at once
}

}  // namespace

size_t BlockSize(int level) {
  static constexpr size_t kSizes[] = {1, 21, 129, 513, 1025};
  if (level < 0) level = 0;
  if (level > 4) level = 4;
  return kSizes[level];
}

BarRange ScaleBar(int64_t max, int64_t position) {
  if (max < 0) max = 0;
  if (position < 0) position = 0;
  if (position > max) position = max;
  int shift = 0;
  while ((max >> shift) > std::numeric_limits<int>::max()) ++shift;
  return {static_cast<int>(max >> shift), static_cast<int>(position >> shift)};
}

int64_t CopyFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                        int level, bool renamed) {
  if (env.view.RescueMode()) return RescueFileAtLevel(env, source, destination, level, renamed);
  ICopyView& view = env.view;
  CopyStatus& status = view.Status();
  const std::string name = FileNamePart(source);
  const std::string separator = view.DecimalSeparator();
  auto sizesText = [&](int64_t copied, int64_t total) {
    return FormatSize(copied, separator) + " / " + FormatSize(total, separator);
  };

  // 1-3: announce, bind, open.
  OpenedPair opened = OpenPair(env, source, destination, nullptr, renamed);
  std::unique_ptr<IFile>& src = opened.src;
  std::unique_ptr<IFile>& dst = opened.dst;
  int refreshCounter = 0;

  bool stopped = false;
  try {
    // 4-5
    status.fileName = name;
    status.fileMax = Opened(src).Size();
    view.LogEvent("Czytanie i zapisywanie bajtów", ekInfo);

    // 6: the block loop.
    std::vector<unsigned char> buffer(BlockSize(level));
    int64_t frequency = 0;
    const bool counter = env.clock.CounterFrequency(frequency) && frequency > 0;
    if (!counter) frequency = 1000;  // the millisecond clock instead
    auto ticks = [&] { return counter ? env.clock.Counter() : env.clock.Milliseconds(); };
    // Window work is due by time, not by step: it costs far more than a step.
    auto windowWork = [&] {
      const unsigned due = env.pacer.Tick();
      if (due & Pacer::kPump) view.PumpMessages();
      if (due & Pacer::kRefresh) {
        view.ShowStatus();
        env.pacer.RefreshMade();
      }
    };
    double remaining = 0;
    for (;;) {
      IFile& in = Opened(src);
      const int64_t position = in.Position();
      const int64_t sourceSize = in.Size();
      if (position >= sourceSize) break;
      const size_t count = in.Read(buffer.data(), buffer.size());
      windowWork();
      const int64_t t1 = ticks();
      IFile& out = Opened(dst);
      if (out.Write(buffer.data(), count) != count) throw FileError("I/O error 112", kDiskFull);
      windowWork();
      const int64_t t2 = ticks();
      if (view.StopRequested()) {
        stopped = true;
        break;
      }
      const int64_t destinationSize = out.Size();
      // Seconds per byte measured on this step, times the bytes still to copy.
      if (count > 0)
        remaining = static_cast<double>(sourceSize - destinationSize) *
                    (static_cast<double>(t2 - t1) / static_cast<double>(frequency)) / static_cast<double>(count);
      if (refreshCounter == 100) {
        status.remaining = FormatRemaining(remaining);
        status.elapsed = FormatElapsed(ElapsedSeconds(env.clock.Now(), view.CopyStartTime()));
        status.copied = sizesText(destinationSize, sourceSize);
        refreshCounter = 0;
      } else {
        ++refreshCounter;
      }
      status.totalPosition += static_cast<int64_t>(count);
      status.filePosition = destinationSize;
    }

    // 7-8
    status.remaining = "0 sek";
    const int64_t destinationSize = Opened(dst).Size();
    status.copied = sizesText(destinationSize, Opened(src).Size());
    view.LogEvent("Zakończono czytanie i zapisywanie bajtów", ekInfo);

    // 9: sizes only, never contents.
    CheckSizes(view, opened, 0);
  } catch (...) {
    AbandonPair(view, opened, false);
    throw;
  }

  // 10-11
  ClosePair(view, opened, name, stopped);
  return 0;
}

namespace {

// The map of one rescued file. It is written only where no other file is: a
// file of that name that is not a map is the user's, and the rescue then goes
// on without a map. Once written, the file there is this rescue's own and is
// not read again before each later save.
class MapWriter {
 public:
  MapWriter(IFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}
  void Save(const RescueMap& map) {
    if (!written_ && InspectMapPath(files_, path_) == MapSlot::kForeign) throw FileError("File access denied", 5);
    SaveMapFile(files_, path_, map);
    written_ = true;
  }
  bool Written() const { return written_; }

 private:
  IFileSystem& files_;
  std::string path_;
  bool written_ = false;
};

// The rescue's window side in the copy run: the status model kept as
// numbers on every step, the labels written at every paced refresh.
class RescueStatusView : public IRescueView {
 public:
  RescueStatusView(const CopyEnvironment& env, MapWriter& mapWriter, std::string mapPath, int64_t size)
      : env_(env), view_(env.view), status_(env.view.Status()), mapWriter_(mapWriter), mapPath_(std::move(mapPath)),
        size_(size),
        separator_(env.view.DecimalSeparator()), totalBase_(status_.totalPosition) {
    counter_ = env.clock.CounterFrequency(frequency_) && frequency_ > 0;
    if (!counter_) frequency_ = 1000;
    start_ = Ticks();
  }

  void Advanced(const RescueMap& map) override {
    map_ = &map;
    done_ = size_ - map.Total(kNonTried) - map.Total(kNonTrimmed) - map.Total(kNonScraped);
    status_.filePosition = done_;
    status_.totalPosition = totalBase_ + done_;
  }
  void Pump() override { view_.PumpMessages(); }
  void Refresh() override {
    ShowLabels();
    if (map_) view_.ShowRescueMap(mapPath_, *map_, true);
    view_.ShowStatus();
    env_.pacer.RefreshMade();
  }
  bool StopRequested() override { return view_.StopRequested(); }
  void SaveMap(const RescueMap& map) override {
    mapWriter_.Save(map);
  }

  void ShowLabels() {
    const double seconds = static_cast<double>(Ticks() - start_) / static_cast<double>(frequency_);
    const double remaining = done_ > 0 ? static_cast<double>(size_ - done_) * seconds / static_cast<double>(done_) : 0;
    status_.remaining = FormatRemaining(remaining);
    status_.elapsed = FormatElapsed(ElapsedSeconds(env_.clock.Now(), view_.CopyStartTime()));
    status_.copied = Copied();
  }
  std::string Copied() const {
    const int64_t rescued = map_ ? map_->Total(kFinished) : 0;
    return FormatSize(rescued, separator_) + " / " + FormatSize(size_, separator_);
  }

 private:
  int64_t Ticks() { return counter_ ? env_.clock.Counter() : env_.clock.Milliseconds(); }

  const CopyEnvironment& env_;
  ICopyView& view_;
  CopyStatus& status_;
  MapWriter& mapWriter_;
  std::string mapPath_;
  int64_t size_;
  std::string separator_;
  int64_t totalBase_;
  const RescueMap* map_ = nullptr;
  int64_t done_ = 0;
  bool counter_ = false;
  int64_t frequency_ = 0, start_ = 0;
};

}  // namespace

int64_t RescueFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                          int level, bool renamed) {
  ICopyView& view = env.view;
  CopyStatus& status = view.Status();
  const std::string name = FileNamePart(source);
  const std::string mapPath = MapPathFor(destination);
  MapWriter mapWriter(env.files, mapPath);
  auto logError = [&](const std::string& message) { view.LogEvent("Błąd: " + message, ekError); };

  OpenedPair opened = OpenPair(env, source, destination, &mapPath, renamed);
  std::unique_ptr<IFile>& src = opened.src;
  std::unique_ptr<IFile>& dst = opened.dst;
  std::optional<RescueMap> map;
  // The destination goes to the disk before the map that names its bytes.
  // Without its map the destination must not claim more than it holds: cut
  // it to the bytes read from the start, the form a plain resume continues.
  // A map saved earlier stays true of the destination as it is (bytes are
  // only ever added), so then the destination is kept whole: cutting it
  // would take bytes that map names as read.
  // `reported`: the error already in the log (the same failure is not logged twice).
  auto saveMapOrCut = [&](bool report, const std::string& reported) {
    try {
      dst->Flush();
      mapWriter.Save(*map);
      if (report) view.LogEvent("Zapisano mapę odczytu " + FileNamePart(mapPath), ekInfo);
    } catch (const FileError& e) {
      if (e.what() != reported) logError(e.what());
      if (mapWriter.Written()) return;
      try {
        dst->SetSize(map->FinishedPrefix());
      } catch (const FileError&) {
      }
    }
  };

  bool stopped = false, logged = false;
  int64_t unread = 0;
  try {
    status.fileName = name;
    const int64_t size = Opened(src).Size();
    status.fileMax = size;
    view.LogEvent("Czytanie i zapisywanie bajtów", ekInfo);
    Opened(dst);
    map.emplace(size);
    RescueStatusView rescueView(env, mapWriter, mapPath, size);
    RescueOptions options;
    options.level = level;
    RescueEngine engine(*src, *dst, *map, env.clock, env.pacer, rescueView, options);
    view.ShowRescueMap(mapPath, *map, true);
    try {
      stopped = engine.Run().stopped;
    } catch (const FileError& e) {
      view.ShowRescueMap(mapPath, *map, false);
      // The error first, then whatever saving the map runs into.
      logError(e.what());
      logged = true;
      saveMapOrCut(false, e.what());
      throw;
    }
    rescueView.Advanced(*map);
    status.remaining = "0 sek";
    status.copied = rescueView.Copied();
    view.LogEvent("Zakończono czytanie i zapisywanie bajtów", ekInfo);

    unread = map->Unfinished();
    if (unread > 0) {
      const size_t places = map->UnfinishedPlaces();
      view.LogEvent("Błąd: Nie odczytano " + FormatSize(unread, view.DecimalSeparator()) + " w " +
                        (places == 1 ? std::string("1 miejscu") : std::to_string(places) + " miejscach"),
                    ekError);
      saveMapOrCut(true, "");
    } else if (mapWriter.Written()) {
      // The last bytes on the disk before the map that still names them as
      // missing goes; a failing flush keeps the map (it names less).
      try {
        dst->Flush();
        env.files.RemoveFile(mapPath);
      } catch (const FileError& e) {
        logError(e.what());
      }
    }

    view.ShowRescueMap(mapPath, *map, false);
    CheckSizes(view, opened, unread);
  } catch (...) {
    AbandonPair(view, opened, logged);
    throw;
  }

  ClosePair(view, opened, name, stopped);
  return unread;
}

}  // namespace sk
