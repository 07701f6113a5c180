// What the copy run and "Resumak" share when they rescue a file: the rescue
// engine's view on the run's window, and the one policy for the file's read
// map (where it may be written, what is saved after a failure, whether it is
// kept or deleted at the end).
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"

namespace sk {

// A run's window as a rescue sees it. The copy run and "Resumak" each give
// one that keeps their own status model.
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

// The rescue engine's view on a run's window: the progress and the pacing go
// to the window, the map window is shown the map when the rescue begins, at
// every paced refresh and once when it ends, the map is saved through the
// keeper, and a medium taken out is waited for.
class RescueSession : public IRescueView {
 public:
  // `sourceFiles` opened the source `sourcePath` (and opens it again when the
  // medium is back).
  RescueSession(IRescueWindow& window, MapKeeper& keeper, IFileSystem& sourceFiles, std::string sourcePath);

  // Runs the rescue engine over `map` (see RescueEngine::Run). When the
  // medium goes away, the destination and the map go to the disk as they
  // are, the window says so and asks: on "Ponów" the source is opened anew
  // (asked again while it cannot be opened, is not there or is not the file
  // the map was made of) and the rescue goes on from the map, the sectors
  // it already tried once more not tried again; on "Anuluj" it ends as
  // after a stop, with `cancelled` set and the destination at its full
  // length. A stop or a close asked for before the question is due ends it
  // as a stop, without the question. A source that is not the file the map
  // was made of (another disc with a file of that name) is asked about
  // before anything is read. Throws FileError (the map's save after the
  // medium went away included).
  RescueResult Run(std::unique_ptr<IFile>& source, IFile& destination, RescueMap& map, IClock& clock, Pacer& pacer,
                   RescueOptions options);

  void Advanced(const RescueMap& map) override;
  void Pump() override { window_.Pump(); }
  void Refresh() override;
  bool StopRequested() override { return window_.StopRequested(); }
  void SaveMap(const RescueMap& map) override { keeper_.Save(map); }
  bool SourcePresent() override { return sourceFiles_.Present(sourcePath_); }
  void Together(const std::function<void()>& calls) override { sourceFiles_.Together(calls); }

 private:
  MediumAnswer AwaitMedium(std::unique_ptr<IFile>& source, const RescueMap& map, MediumQuestion question);

  IRescueWindow& window_;
  MapKeeper& keeper_;
  IFileSystem& sourceFiles_;
  std::string sourcePath_;
  const RescueMap* map_ = nullptr;
};

}  // namespace sk
