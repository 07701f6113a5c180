#include "core/Resume.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "core/Formats.h"
#include "core/Rescue.h"
#include "core/RescueSession.h"
#include "core/Text.h"

namespace sk {
namespace {

// Close a file of a pair that has already failed; a failure to close is kept
// for reporting after the first one.
void CloseAfterFailure(IFile* file, std::vector<std::string>& errors) {
  if (!file) return;
  try {
    file->Close();
  } catch (const std::exception& e) {
    errors.push_back(e.what());
  }
}

// The map beside a destination, if there is one. A file there that is not a
// map (or cannot be read, or is far too large for one) cannot describe the
// source either: the pair is refused and that file left alone.
std::optional<RescueMap> FindMap(IFileSystem& files, const std::string& destinationPath) {
  const std::string path = MapPathFor(destinationPath);
  // Nothing there, as a rule: one look says so (a look for a name that is not
  // there reads the whole folder under Wine).
  if (!files.Present(path)) return std::nullopt;
  try {
    return LoadEarlierMap(files, path);
  } catch (const ForeignMapFile&) {
    throw FileError(kMapMismatchText);
  }
}

// The status shows what the map still misses.
void ShowMap(ResumeStatus& status, const RescueMap& map) {
  status.progressPosition = map.Size() - map.Unfinished();
  status.remainingBytes = map.Unfinished();
}

// The resume window as a rescue sees it.
class ResumeRescueWindow : public IRescueWindow {
 public:
  ResumeRescueWindow(ResumeStatus& status, IResumeView& view, IClock& clock)
      : status_(status), view_(view), clock_(clock), startTime_(view.StartTime()) {}
  void Progress(const RescueMap& map) override { ShowMap(status_, map); }
  void Pump() override { view_.Pump(); }
  void Show() override {
    status_.elapsedSeconds = ElapsedSeconds(clock_.Now(), startTime_);
    view_.Show(status_);
  }
  bool StopRequested() override { return view_.StopRequested(); }
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) override {
    view_.ShowRescueMap(mapPath, map, live);
  }
  bool AskMediumRetry(MediumQuestion question) override { return view_.AskMediumRetry(question); }

 private:
  ResumeStatus& status_;
  IResumeView& view_;
  IClock& clock_;
  double startTime_;
};

}  // namespace

std::string UnreadBytesText(int64_t bytes, const std::string& name, const std::string& decimalSeparator) {
  return "Nie udało się odczytać " + FormatSize(bytes, decimalSeparator) + " pliku " + name + ".";
}

std::string ResumeStatus::ElapsedText() const {
  return elapsedSeconds ? FormatElapsed(*elapsedSeconds) : "0 sek";
}

std::string ResumeStatus::RemainingText() const {
  return remainingBytes ? FormatByteCount(*remainingBytes) : "0B";
}

Resumer::Resumer(IFileSystem& files, IClock& clock, IResumeView& view, IFileSystem* rescueFiles)
    : files_(files), clock_(clock), view_(view), rescueFiles_(rescueFiles), pacer_(clock) {}

void Resumer::Start(const std::vector<ResumePair>& pairs) {
  // The controls come back however the run ends.
  try {
    view_.SetRunning(true);
    RunList(pairs);
  } catch (...) {
    view_.SetRunning(false);
    throw;
  }
  view_.SetRunning(false);
}

void Resumer::RunList(const std::vector<ResumePair>& pairs) {
  cancelled_ = false;
  view_.SetStartTime(clock_.Now());
  pacer_.Restart();
  for (const ResumePair& pair : pairs) {
    std::string error;
    bool failed = false;
    try {
      ResumeCopy(pair.source, pair.destination);
    } catch (const std::exception& e) {
      failed = true;
      error = e.what();
    } catch (...) {
      failed = true;
    }
    // The end of a pair is shown at once, before any error box.
    view_.Show(status_);
    pacer_.Restart();
    if (failed) {
      view_.ReportError(error);
      for (const std::string& closeError : closeErrors_) view_.ReportError(closeError);
    }
    closeErrors_.clear();
    if (view_.StopRequested() || cancelled_) {
      view_.ClearStopRequested();
      break;
    }
  }
}

void Resumer::ResumeCopy(const std::string& sourcePath, const std::string& destinationPath) {
  closeErrors_.clear();
  std::unique_ptr<IFile> source = files_.Open(sourcePath, OpenMode::ReadShared);
  std::unique_ptr<IFile> destination;
  try {
    // A destination that is the source itself would be read and grown at once.
    if (files_.IsSameFile(*source, destinationPath)) throw FileError(kSameFileText);
    if (std::optional<RescueMap> map = FindMap(files_, destinationPath)) {
      RescueFromMap(sourcePath, source, destinationPath, destination, *map);
      return;
    }
    destination = files_.Open(destinationPath, OpenMode::WriteExisting);
    CopyRest(sourcePath, *source, *destination);
  } catch (...) {
    CloseAfterFailure(source.get(), closeErrors_);
    CloseAfterFailure(destination.get(), closeErrors_);
    throw;
  }
  // Source first, then the destination; both are closed even when the first
  // close fails.
  try {
    source->Close();
  } catch (...) {
    CloseAfterFailure(destination.get(), closeErrors_);
    throw;
  }
  destination->Close();
}

void Resumer::RescueFromMap(const std::string& sourcePath, std::unique_ptr<IFile>& source,
                            const std::string& destinationPath, std::unique_ptr<IFile>& destination,
                            RescueMap& map) {
  // A map made for another file is refused before the destination is opened.
  if (map.Size() != source->Size()) throw FileError(kMapMismatchText);
  IFileSystem& rescueFiles = rescueFiles_ ? *rescueFiles_ : files_;
  if (rescueFiles_) {
    // The rescue's reads and writes go through their own layer. The file
    // closed here is not closed again when the open fails.
    std::unique_ptr<IFile> plain = std::move(source);
    plain->Close();
    source = rescueFiles_->Open(sourcePath, OpenMode::ReadShared);
  }
  if (map.source && !BlockMatches(*source, *map.source)) throw FileError(kMapMismatchText);
  destination = rescueFiles.Open(destinationPath, OpenMode::WriteExisting);
  // What the map names read beyond a destination cut short since is read
  // again (the session makes the map true of the destination first).
  MapKeeper keeper(files_, MapPathFor(destinationPath), true);
  status_.currentFile = FileNamePart(sourcePath);
  status_.progressMax = map.Size();
  ShowMap(status_, map);

  // After a failure to close, the map is saved as it is: it names exactly
  // what the destination holds, once that is on the disk (a destination that
  // cannot be flushed keeps the map saved last, which names less).
  auto saveAfterFailure = [&] {
    try {
      keeper.SaveOrCut(destination.get(), map);
    } catch (const std::exception& e) {
      closeErrors_.push_back(e.what());
    }
  };
  ResumeRescueWindow window(status_, view_, clock_);
  RescueSession session(window, keeper, rescueFiles, sourcePath);
  RescueOptions options;
  options.level = view_.Level();
  options.sectorSize = RescueSectorOf(*source);
  options.mapOnDisk = true;
  // What was never tried or not yet narrowed first; then the sectors found
  // bad once more (another drive or a cleaned disc may read them).
  options.retryBadSectors = true;
  RescueResult result;
  try {
    result = session.Run(source, *destination, map, clock_, pacer_, options);
  } catch (...) {
    // The session saved the map as it is.
    if (!session.SaveFailure().empty()) closeErrors_.push_back(session.SaveFailure());
    throw;
  }
  // The medium went away and was not put back: the run ends as after "Zatrzymaj".
  if (result.cancelled) cancelled_ = true;
  ShowMap(status_, map);
  status_.elapsedSeconds = ElapsedSeconds(clock_.Now(), view_.StartTime());

  // The destination on the disk and both files closed (source first) before
  // the map says what the destination holds. A file that fails to close is
  // not closed again; after a failing source the caller closes the
  // destination.
  destination->Flush();
  auto close = [&](std::unique_ptr<IFile>& file) {
    try {
      file->Close();
    } catch (...) {
      file.reset();
      saveAfterFailure();
      throw;
    }
    file.reset();
  };
  close(source);
  close(destination);
  if (!keeper.Finish(nullptr, map)) return;
  if (!result.stopped)
    throw FileError(UnreadBytesText(map.Unfinished(), status_.currentFile, view_.DecimalSeparator()));
}

void Resumer::CopyRest(const std::string& sourcePath, IFile& source, IFile& destination) {
  const int64_t start = destination.Size();
  source.Seek(start);
  destination.Seek(start);
  status_.currentFile = FileNamePart(sourcePath);
  status_.progressMax = source.Size();
  const double startTime = view_.StartTime();

  unsigned char byte = 0;
  while (source.Position() < source.Size()) {
    if (source.Read(&byte, 1) != 1) throw FileError("Read beyond end of file");
    if (destination.Write(&byte, 1) != 1) throw FileError("Disk full");
    status_.progressPosition = destination.Size();
    status_.elapsedSeconds = ElapsedSeconds(clock_.Now(), startTime);
    status_.remainingBytes = source.Size() - status_.progressPosition;
    if (pacer_.Step([&] { view_.Pump(); }, [&] { view_.Show(status_); }, [&] { return view_.StopRequested(); }))
      break;
  }
}

}  // namespace sk
