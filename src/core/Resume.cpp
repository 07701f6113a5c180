#include "core/Resume.h"

#include <exception>

#include "core/Formats.h"
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

}  // namespace

std::string ResumeStatus::ElapsedText() const {
  return elapsedSeconds ? FormatElapsed(*elapsedSeconds) : "0 sek";
}

std::string ResumeStatus::RemainingText() const {
  return remainingBytes ? FormatByteCount(*remainingBytes) : "0B";
}

Resumer::Resumer(IFileSystem& files, IClock& clock, IResumeView& view)
    : files_(files), clock_(clock), view_(view), pacer_(clock) {}

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
    if (view_.StopRequested()) {
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
    const unsigned due = pacer_.Tick();
    if (due & Pacer::kPump) view_.Pump();
    status_.progressPosition = destination.Size();
    status_.elapsedSeconds = ElapsedSeconds(clock_.Now(), startTime);
    status_.remainingBytes = source.Size() - status_.progressPosition;
    if (due & Pacer::kRefresh) view_.Show(status_);
    if (view_.StopRequested()) break;
  }
}

}  // namespace sk
