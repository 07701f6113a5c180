#include "core/LevelCopy.h"

#include <limits>
#include <memory>
#include <vector>

#include "core/Formats.h"
#include "core/Rescue.h"
#include "core/RescueSession.h"
#include "core/Text.h"

namespace sk {
namespace {

// An operation on a file that did not open. Its open already logged the
// error, so this ends the copy without another entry.
class NotOpenError : public FileError {
 public:
  NotOpenError() : FileError("I/O error 103", 103) {}
};

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

// The start of a copy: announce, bind, open. A file that does not open is
// logged and left null; a destination that is the source itself is refused.
// In rescue mode a map left beside the destination by an earlier rescue is
// deleted once the destination has been created anew (it would describe a
// file that no longer exists), never before: while the create fails, the
// earlier file still has the holes its map names. Any other file of that
// name is left alone. `renamed`:
// the log names the destination right after the first entry. `fresh`: nothing
// had the destination's name when the run began and the run has not written
// it since, so it cannot be the source; it is created new, and a file that
// has appeared there meanwhile ends the copy with FileExistsError (unlogged,
// nothing written) instead of being replaced. In rescue mode `fresh` says
// the same of the map's name: there is no earlier map to delete.
struct OpenedPair {
  std::unique_ptr<IFile> src, dst;
};
OpenedPair OpenPair(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                    const std::string* staleMap, bool renamed, bool fresh) {
  ICopyView& view = env.view;
  auto logError = [&](const std::string& message) { view.LogEvent("Błąd: " + message, ekError); };
  view.LogEvent("Rozpoczynanie kopiowania pliku " + FileNamePart(source), ekInfo);
  if (renamed) view.LogEvent("Zapisywanie jako " + FileNamePart(destination), ekInfo);
  view.LogEvent("Powiązywanie plików", ekInfo);
  OpenedPair files;
  // A rescue's own files may be opened through another layer (see CopyEnvironment).
  IFileSystem& opener = staleMap ? env.RescueLayer() : env.files;
  view.LogEvent("Przygotowywanie plików do kopiowania", ekInfo);
  try {
    files.src = opener.Open(source, OpenMode::ReadShared);
  } catch (const FileError& e) {
    logError(e.what());
  }
  if (files.src) {
    // Creating the destination would truncate the source when both name the
    // same file (a destination folder that is the source's own, however spelt).
    if (!fresh && opener.IsSameFile(*files.src, destination)) {
      logError(kSameFileText);
      CloseQuietly(files.src);
      throw FileError(kSameFileText);
    }
    try {
      files.dst = opener.Open(destination, fresh ? OpenMode::CreateNew : OpenMode::CreateReadWrite);
    } catch (const FileExistsError&) {
      CloseQuietly(files.src);
      throw;
    } catch (const FileError& e) {
      // The earlier rescue's file and its map stay as they were: the map
      // still names the holes of that file.
      logError(e.what());
    }
    if (staleMap && files.dst && !fresh) {
      try {
        if (InspectMapPath(env.files, *staleMap) == MapSlot::kMap) env.files.RemoveFile(*staleMap);
      } catch (const FileError& e) {
        logError(e.what());
        CloseQuietly(files.src);
        CloseQuietly(files.dst);
        throw;
      }
    }
  }
  return files;
}

// The size check, when it is on: sizes only, never contents. Equal sizes
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

// The end of a copy: close both files (a failure is logged and the other is
// closed still) and say that the file is done (`ended`, the last entry).
void ClosePair(ICopyView& view, OpenedPair& files, const std::string& ended, bool stopped) {
  view.LogEvent("Zamykanie plików", ekInfo);
  for (auto* file : {&files.src, &files.dst}) {
    try {
      (*file)->Close();
    } catch (const FileError& e) {
      view.LogEvent(std::string("Błąd: ") + e.what(), ekError);
    }
    file->reset();
  }
  view.LogEvent(ended, ekInfo);
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
                        int level, bool renamed, std::vector<PutOffRescue>* putOff, bool fresh) {
  if (env.view.RescueMode()) return RescueFileAtLevel(env, source, destination, level, renamed, putOff, fresh);
  ICopyView& view = env.view;
  CopyStatus& status = view.Status();
  const std::string name = FileNamePart(source);
  const std::string separator = view.DecimalSeparator();
  auto sizesText = [&](int64_t copied, int64_t total) {
    return FormatSize(copied, separator) + " / " + FormatSize(total, separator);
  };

  // Announce, bind, open.
  OpenedPair opened = OpenPair(env, source, destination, nullptr, renamed, fresh);
  std::unique_ptr<IFile>& src = opened.src;
  std::unique_ptr<IFile>& dst = opened.dst;
  int refreshCounter = 0;

  bool stopped = false;
  try {
    // The file's name and size in the status, and the loop announced.
    status.fileName = name;
    status.fileMax = Opened(src).Size();
    view.LogEvent("Czytanie i zapisywanie bajtów", ekInfo);

    // The block loop: read a block, write it, until the source's end or a stop.
    std::vector<unsigned char> buffer(BlockSize(level));
    int64_t frequency = 0;
    const bool counter = env.clock.CounterFrequency(frequency) && frequency > 0;
    if (!counter) frequency = 1000;  // the millisecond clock instead
    auto ticks = [&] { return counter ? env.clock.Counter() : env.clock.Milliseconds(); };
    // Window work is due by time, not by step: it costs far more than a step.
    auto pump = [&] { view.PumpMessages(); };
    auto refresh = [&] {
      view.ShowStatus();
      env.pacer.RefreshMade();
    };
    double remaining = 0;
    for (;;) {
      IFile& in = Opened(src);
      const int64_t position = in.Position();
      const int64_t sourceSize = in.Size();
      if (position >= sourceSize) break;
      const size_t count = in.Read(buffer.data(), buffer.size());
      env.pacer.Step(pump, refresh, [] { return false; });
      const int64_t t1 = ticks();
      IFile& out = Opened(dst);
      if (out.Write(buffer.data(), count) != count) throw DiskFullError();
      if (env.pacer.Step(pump, refresh, [&] { return view.StopRequested(); })) {
        stopped = true;
        break;
      }
      const int64_t t2 = ticks();
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

    // The loop's end in the status and the log.
    status.remaining = "0 sek";
    const int64_t destinationSize = Opened(dst).Size();
    status.copied = sizesText(destinationSize, Opened(src).Size());
    view.LogEvent("Zakończono czytanie i zapisywanie bajtów", ekInfo);

    CheckSizes(view, opened, 0);
  } catch (...) {
    AbandonPair(view, opened, false);
    throw;
  }

  // Close both files and say that the file is done.
  ClosePair(view, opened, "Zakończono kopiowanie pliku " + name, stopped);
  return 0;
}

namespace {

// The copy run's window as a rescue sees it: the status model kept as
// numbers on every step, the labels written at every paced refresh. The
// file's bar and the run's count the bytes tried (round two goes on from
// what round one counted).
class CopyRescueWindow : public IRescueWindow {
 public:
  CopyRescueWindow(const CopyEnvironment& env, const RescueMap& map)
      : env_(env), view_(env.view), status_(env.view.Status()), size_(map.Size()),
        separator_(env.view.DecimalSeparator()) {
    // The run's bar goes on from where the files before left it; what this
    // file had done (in round one) is counted in it already.
    totalBase_ = status_.totalPosition - Done(map);
    Progress(map);
    doneBefore_ = done_;
    counter_ = env.clock.CounterFrequency(frequency_) && frequency_ > 0;
    if (!counter_) frequency_ = 1000;
    start_ = Ticks();
  }

  void Progress(const RescueMap& map) override {
    map_ = &map;
    done_ = Done(map);
    status_.filePosition = done_;
    status_.totalPosition = totalBase_ + done_;
  }
  void Pump() override { view_.PumpMessages(); }
  void Show() override {
    const double seconds = static_cast<double>(Ticks() - start_) / static_cast<double>(frequency_);
    const int64_t doneHere = done_ - doneBefore_;
    const double remaining =
        doneHere > 0 ? static_cast<double>(size_ - done_) * seconds / static_cast<double>(doneHere) : 0;
    status_.remaining = FormatRemaining(remaining);
    status_.elapsed = FormatElapsed(ElapsedSeconds(env_.clock.Now(), view_.CopyStartTime()));
    status_.copied = Copied();
    view_.ShowStatus();
    env_.pacer.RefreshMade();
  }
  bool StopRequested() override { return view_.StopRequested(); }
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) override {
    view_.ShowRescueMap(mapPath, map, live);
  }
  void MediumGone() override { view_.LogEvent(std::string("Błąd: ") + sk::MediumGone().what(), ekError); }
  bool AskMediumRetry(MediumQuestion question) override { return view_.AskMediumRetry(question); }

  std::string Copied() const {
    const int64_t rescued = map_ ? map_->Total(kFinished) : 0;
    return FormatSize(rescued, separator_) + " / " + FormatSize(size_, separator_);
  }

 private:
  int64_t Ticks() { return counter_ ? env_.clock.Counter() : env_.clock.Milliseconds(); }
  // The bytes read or found unreadable.
  int64_t Done(const RescueMap& map) const {
    return size_ - map.Total(kNonTried) - map.Total(kNonTrimmed) - map.Total(kNonScraped);
  }

  const CopyEnvironment& env_;
  ICopyView& view_;
  CopyStatus& status_;
  int64_t size_;
  std::string separator_;
  int64_t totalBase_ = 0;
  const RescueMap* map_ = nullptr;
  int64_t done_ = 0, doneBefore_ = 0;
  bool counter_ = false;
  int64_t frequency_ = 0, start_ = 0;
};

// "w 1 miejscu", "w K miejscach": where bytes are missing.
std::string InPlaces(const RescueMap& map) {
  const size_t places = map.UnfinishedPlaces();
  return places == 1 ? std::string("w 1 miejscu") : "w " + std::to_string(places) + " miejscach";
}

// The rescue of an opened pair over `file.map` (a fresh map unless it goes
// on from one on the disk) and the entries that end it: the usual closing
// entries, or round one's when the narrowing is put off (`putOff` set).
int64_t RescuePair(const CopyEnvironment& env, OpenedPair& opened, MapKeeper& keeper, PutOffRescue& file,
                   const RescueOptions& options, std::vector<PutOffRescue>* putOff) {
  ICopyView& view = env.view;
  CopyStatus& status = view.Status();
  const std::string name = FileNamePart(file.source);
  const std::string separator = view.DecimalSeparator();
  auto logError = [&](const std::string& message) { view.LogEvent("Błąd: " + message, ekError); };
  RescueMap& map = file.map;
  RescueResult result;
  bool logged = false;
  int64_t unread = 0;
  try {
    status.fileName = name;
    const int64_t size = Opened(opened.src).Size();
    status.fileMax = size;
    view.LogEvent("Czytanie i zapisywanie bajtów", ekInfo);
    Opened(opened.dst);
    if (!keeper.OnDisk()) map = RescueMap(size);
    CopyRescueWindow window(env, map);
    RescueSession session(window, keeper, env.RescueLayer(), file.source);
    try {
      result = session.Run(opened.src, *opened.dst, map, env.clock, env.pacer, options);
    } catch (const FileError& e) {
      // The error first, then whatever saving the map runs into (the same
      // failure is not logged twice).
      logError(e.what());
      logged = true;
      try {
        keeper.SaveOrCut(opened.dst.get(), map);
      } catch (const FileError& saveError) {
        if (std::string(saveError.what()) != e.what()) logError(saveError.what());
      }
      throw;
    }
    file.partialReads = result.partialReads;
    window.Progress(map);
    status.copied = window.Copied();
    unread = map.Unfinished();
    if (result.narrowingLeft && putOff) {
      view.LogEvent("Odłożono zawężanie uszkodzonych miejsc: pozostało " + FormatSize(unread, separator) + " " +
                        InPlaces(map),
                    ekInfo);
      try {
        keeper.SaveOrCut(opened.dst.get(), map);
      } catch (const FileError& e) {
        logError(e.what());
        logged = true;
        throw;
      }
      view.LogEvent("Zapisano mapę odczytu " + FileNamePart(keeper.Path()), ekInfo);
    } else {
      status.remaining = "0 sek";
      view.LogEvent("Zakończono czytanie i zapisywanie bajtów", ekInfo);
      if (unread > 0) view.LogEvent("Błąd: Nie odczytano " + FormatSize(unread, separator) + " " + InPlaces(map), ekError);
      try {
        if (keeper.Finish(opened.dst.get(), map))
          view.LogEvent("Zapisano mapę odczytu " + FileNamePart(keeper.Path()), ekInfo);
      } catch (const FileError& e) {
        logError(e.what());
      }
      CheckSizes(view, opened, unread);
    }
  } catch (...) {
    AbandonPair(view, opened, logged);
    throw;
  }

  if (result.narrowingLeft && putOff) {
    ClosePair(view, opened, "Odłożono kopiowanie pliku " + name, false);
    putOff->push_back(std::move(file));
  } else {
    ClosePair(view, opened, "Zakończono kopiowanie pliku " + name, result.stopped);
  }
  // The medium went away and was not put back: the run ends.
  if (result.cancelled) throw MediumGone();
  return unread;
}

}  // namespace

int64_t RescueFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                          int level, bool renamed, std::vector<PutOffRescue>* putOff, bool fresh) {
  MapKeeper keeper(env.files, MapPathFor(destination));
  OpenedPair opened = OpenPair(env, source, destination, &keeper.Path(), renamed, fresh);
  PutOffRescue file{source, destination, level, RescueMap(), PartialReads::kUnknown};
  RescueOptions options;
  options.level = level;
  options.fastOnly = putOff != nullptr;
  return RescuePair(env, opened, keeper, file, options, putOff);
}

int64_t NarrowPutOffRescue(const CopyEnvironment& env, PutOffRescue& file) {
  ICopyView& view = env.view;
  view.LogEvent("Wznawianie kopiowania pliku " + FileNamePart(file.source), ekInfo);
  MapKeeper keeper(env.files, MapPathFor(file.destination), true);
  IFileSystem& opener = env.RescueLayer();
  OpenedPair opened;
  try {
    opened.src = opener.Open(file.source, OpenMode::ReadShared);
    opened.dst = opener.Open(file.destination, OpenMode::WriteExisting);
  } catch (const FileError& e) {
    view.LogEvent(std::string("Błąd: ") + e.what(), ekError);
    CloseQuietly(opened.src);
    throw;
  }
  RescueOptions options;
  options.level = file.level;
  options.mapOnDisk = true;
  options.partialReads = file.partialReads;
  return RescuePair(env, opened, keeper, file, options, nullptr);
}

}  // namespace sk
