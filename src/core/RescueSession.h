// What every run that rescues shares (the copy run, "Resumak", the image of a
// disc): the rescue session that drives the run's order of reading and is the
// engine's view on the run's window, and the one policy for the read map
// (where it may be written, what is saved after a failure, whether it is kept
// or deleted at the end).
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/Clock.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"

namespace sk {

// A run's window as a rescue sees it. The copy run, "Resumak" and the image
// window each give one that keeps their own status model.
class IRescueWindow {
 public:
  virtual ~IRescueWindow() = default;
  // After every read: the status model's numbers for the map as it is now.
  // Called very often; keep it to numbers.
  virtual void Progress(const RescueMap& map) = 0;
  // Process pending window messages.
  virtual void Pump() = 0;
  // At a paced refresh: the status model's texts brought up to date, and the
  // window shown.
  virtual void Show() = 0;
  virtual bool StopRequested() = 0;
  // The read map as it stands (see ICopyView::ShowRescueMap).
  virtual void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) = 0;
  // The medium went away: said once the map is saved, before the question.
  virtual void MediumGone() {}
  // Whether to go on once the medium is back, or the right one is in
  // ("Ponów", true), or to stop ("Anuluj", false).
  virtual bool AskMediumRetry(MediumQuestion question) = 0;
};

// How waiting for a medium taken out (or for the right disc) ends.
enum class MediumAnswer { kRetry, kCancel, kStop };

// Waits for the medium a rescue reads: `ask(question)` is asked ("Ponów",
// true, or "Anuluj", false) until the source at `path` can be opened through
// `files` again, is there and is the one `map` was made of (SameSource);
// another disc with a file of that name is never taken, and asked about with
// MediumQuestion::kOtherDisc. On kRetry `source` is the source opened anew.
// A stop asked for before a question is due ends it without the question
// (kStop).
MediumAnswer AwaitMedium(IFileSystem& files, const std::string& path, const RescueMap& map, MediumQuestion question,
                         const std::function<bool()>& stopRequested,
                         const std::function<bool(MediumQuestion)>& ask, std::unique_ptr<IFile>& source);

// The read map of one rescued destination on the disk. It is written only
// where no other file is: a file of that name that is not a map is the
// user's, and is neither replaced nor deleted. Once written (or when the
// rescue goes on from it), the file there is this rescue's own and later
// saves replace it without reading it back.
class MapKeeper {
 public:
  // `onDisk`: the file at `path` is this rescue's map already (a resume from it).
  MapKeeper(IFileSystem& files, std::string path, bool onDisk = false);

  const std::string& Path() const { return path_; }
  // Whether a map of this rescue is on the disk.
  bool OnDisk() const { return onDisk_; }

  // Saves the map (a whole map on the disk at every moment). Throws
  // FileError; "File access denied" where a file of the user's is.
  void Save(const RescueMap& map);

  // The save after a failure (and of a file left with bytes unread): the
  // destination goes to the disk first, then the map that names its bytes.
  // When that fails and no map of this rescue is on the disk, the
  // destination is cut to the bytes read from its start, the form a plain
  // resume continues; a map saved earlier stays true of the destination as
  // it is (bytes are only ever added), so then it is kept whole. Throws the
  // failure (after the cut). `destination` may be null (never opened).
  void SaveOrCut(IFile* destination, const RescueMap& map);

  // The end of a file's rescue: a map naming bytes still missing is saved as
  // SaveOrCut saves it; a file left with none has its map deleted, once the
  // destination (when still open) is on the disk. Returns whether the map
  // was saved. Throws FileError.
  bool Finish(IFile* destination, const RescueMap& map);

 private:
  IFileSystem& files_;
  std::string path_;
  bool onDisk_;
};

class RescueSession;

// The order in which a run reads its source, driven by a RescueSession: one
// rescue engine over a file's map (the copy run, "Resumak"), or the disc
// image run's passes (its file system, the ticked files, the rest).
class ReadingOrder {
 public:
  virtual ~ReadingOrder() = default;
  // Reads from `source` into `destination`, marking `map`, with `session` as
  // the engine's view (progress, pacing, stops, saves, the medium), until
  // done or a stop. Adds the reads made to `total` (also when it throws) and
  // sets its stopped, narrowingLeft and partialReads. Throws MediumGone when
  // the medium went away (the map as it was before that read): it is called
  // again over the same map once the medium is back, and goes on from there.
  virtual void Read(IFile& source, IFile& destination, RescueMap& map, RescueSession& session,
                    RescueResult& total) = 0;
};

// The copy run's and "Resumak"'s order: one rescue engine over the map; a
// round after the medium came back goes on with what the engine before it
// found out (the medium's sectors, the sectors found bad still to retry).
class EngineOrder : public ReadingOrder {
 public:
  explicit EngineOrder(RescueOptions options) : options_(std::move(options)) {}
  void Read(IFile& source, IFile& destination, RescueMap& map, RescueSession& session, RescueResult& total) override;

 private:
  RescueOptions options_;
};

// One rescue session drives every run that reads through the rescue engine
// (a copy run's file, a "Resumak" pair, the image of a disc): the engine's
// view on the run's window (progress and pacing to the window, the map window
// shown the map when the rescue begins, at every paced refresh and once when
// it ends), the map's saves through the keeper, a medium taken out waited
// for, and the map saved after a failure.
class RescueSession : public IRescueView {
 public:
  // `sourceFiles` opened the source `sourcePath` (and opens it again when the
  // medium is back).
  RescueSession(IRescueWindow& window, MapKeeper& keeper, IFileSystem& sourceFiles, std::string sourcePath);

  // Runs `order` over `map`. A map this rescue keeps on the disk already (a
  // run going on from it) is first made true of the destination: what it
  // names read beyond a destination cut short since is not there, is read
  // again, and the map on the disk says so before anything is written. When
  // the medium goes away, the destination and the map go to the disk as
  // they are, the window says so and asks: on "Ponów" the source is opened
  // anew (asked again while it cannot be opened, is not there or is not the
  // file the map was made of) and the order goes on; on "Anuluj" it ends as
  // after a stop, with `cancelled` set and the destination at its full
  // length. A stop or a close asked for before the question is due ends it
  // as a stop, without the question. A source that is not the file the map
  // was made of (another disc with a file of that name) is asked about
  // before anything is read. On a failure the destination and the map that
  // names its bytes are saved as MapKeeper::SaveOrCut saves them (a failure
  // of that save is kept in SaveFailure()), then the failure is thrown
  // (the map's save after the medium went away included).
  RescueResult Run(ReadingOrder& order, std::unique_ptr<IFile>& source, IFile& destination, RescueMap& map,
                   IClock& clock, Pacer& pacer);
  // Runs one rescue engine over `map` (an EngineOrder).
  RescueResult Run(std::unique_ptr<IFile>& source, IFile& destination, RescueMap& map, IClock& clock, Pacer& pacer,
                   RescueOptions options);

  // The map also saved at paced refreshes, at least every `ms` while it
  // changes and a map of this rescue is on the disk, however often the
  // order's passes begin anew (the engine's own saves count).
  void SavePaced(int ms) { pacedSaveMs_ = ms; }
  // The destination flushed, then the map saved (a whole map on the disk).
  // Throws FileError.
  void SaveNow(const RescueMap& map);
  // An order's own reason to end the pass in hand as a stop ends it (the
  // image run's ticked files changed); asked after the window's stop.
  void EndPassWhen(std::function<bool()> ask) { endPass_ = std::move(ask); }
  // The source in hand was checked against the map already (by the order's
  // own refusal): the next Run does not read it again for that.
  void SourceChecked() { sourceChecked_ = true; }
  // Whether the window asked to stop (not only the order's reason).
  bool StopAsked() const { return stopAsked_; }
  // The text of a failing save after a failure; empty when it was saved.
  const std::string& SaveFailure() const { return saveFailure_; }
  // The run's clock and pacer (during Run).
  IClock& RunClock() { return *clock_; }
  Pacer& RunPacer() { return *pacer_; }
  const MapKeeper& Keeper() const { return keeper_; }

  void Advanced(const RescueMap& map) override;
  void Pump() override { window_.Pump(); }
  void Refresh() override;
  bool StopRequested() override;
  void SaveMap(const RescueMap& map) override;
  bool SourcePresent() override { return sourceFiles_.Present(sourcePath_); }
  void Together(const std::function<void()>& calls) override { sourceFiles_.Together(calls); }

 private:
  MediumAnswer AwaitMedium(std::unique_ptr<IFile>& source, const RescueMap& map, MediumQuestion question);
  void DropClaimsBeyond(IFile& destination, RescueMap& map);

  IRescueWindow& window_;
  MapKeeper& keeper_;
  IFileSystem& sourceFiles_;
  std::string sourcePath_;
  const RescueMap* map_ = nullptr;
  IFile* destination_ = nullptr;
  IClock* clock_ = nullptr;
  Pacer* pacer_ = nullptr;
  int pacedSaveMs_ = 0;
  int64_t lastSaveMs_ = 0;
  bool changed_ = false, stopAsked_ = false, sourceChecked_ = false;
  std::function<bool()> endPass_;
  std::string saveFailure_;
};

}  // namespace sk
