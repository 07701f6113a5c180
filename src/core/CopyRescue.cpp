// The copy run's file in rescue mode: the copy run's window as the rescue
// session sees it, and the rescue of one pair (round one, and round two
// from the map round one left).
#include <memory>
#include <vector>

#include "core/CopyPair.h"
#include "core/Formats.h"
#include "core/LevelCopy.h"
#include "core/RescueSession.h"
#include "core/Text.h"

namespace sk {

using copy::AbandonPair;
using copy::CheckSizes;
using copy::ClosePair;
using copy::CloseQuietly;
using copy::Opened;
using copy::OpenedPair;
using copy::OpenPair;

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
                   RescueOptions options, std::vector<PutOffRescue>* putOff) {
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
    options.sectorSize = RescueSectorOf(*opened.src);
    RescueSession session(window, keeper, env.RescueLayer(), file.source);
    try {
      result = session.Run(opened.src, *opened.dst, map, env.clock, env.pacer, options);
    } catch (const FileError& e) {
      logError(e.what());
      logged = true;
      // The session saved the map after the failure; a failing save is
      // logged (the same failure not twice).
      if (!session.SaveFailure().empty() && session.SaveFailure() != e.what()) logError(session.SaveFailure());
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
