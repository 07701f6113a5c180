// The resume tool's copy: for each pair of a source file and its partial
// destination, both are placed at the destination's length and the rest of the
// source is appended one byte at a time. A destination with a read map beside
// it (left by a rescue) is finished from the map instead: only the areas it
// does not name as read are read again, and written in place.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"

namespace sk {

// What the resume window shows. The copy keeps it up to date after every byte;
// the window shows it when the loop asks (paced by time). The two counts are
// kept as numbers and written as text only when shown: the texts cost more
// than a byte's file calls.
struct ResumeStatus {
  std::string currentFile = "Brak";      // file-name part of the source in hand
  std::optional<int64_t> elapsedSeconds;  // since the run began; none before the first byte
  std::optional<int64_t> remainingBytes;  // of the source, still to copy; none before the first byte
  int64_t progressMax = 0;                // the source's size
  int64_t progressPosition = 0;           // the destination's size

  // The label texts: "0 sek" and "0B" until a byte has been copied.
  std::string ElapsedText() const;
  std::string RemainingText() const;
};

// The window side of a resume run.
class IResumeView {
 public:
  virtual ~IResumeView() = default;
  // Switch the controls for a run (list and its buttons off, "Zatrzymaj" on,
  // "Rozpocznij" off) and back.
  virtual void SetRunning(bool running) = 0;
  // Bring the displayed labels and progress bar up to `status`.
  virtual void Show(const ResumeStatus& status) = 0;
  // Process every pending window message, then return.
  virtual void Pump() = 0;
  // The stop flag set by "Zatrzymaj".
  virtual bool StopRequested() = 0;
  virtual void ClearStopRequested() = 0;
  // The local date-time (days) at which the run began.
  virtual double StartTime() = 0;
  virtual void SetStartTime(double days) = 0;
  // Show an error in the application's error report.
  virtual void ReportError(const std::string& text) = 0;
  // The copy level (0..4) of pairs finished from a read map: the block size
  // at the edges of damage, as in a copy run.
  virtual int Level() { return 0; }
  // The decimal separator of the size texts.
  virtual std::string DecimalSeparator() { return ","; }
  // The medium went away while a pair was finished from its map (or another
  // one is there): ask whether to try again ("Ponów", true) or to stop
  // ("Anuluj", false).
  virtual bool AskMediumRetry(MediumQuestion question) {
    (void)question;
    return false;
  }
  // The read map of the pair finished from it, as for ICopyView.
  virtual void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) {
    (void)mapPath;
    (void)map;
    (void)live;
  }
};

struct ResumePair {
  std::string source;
  std::string destination;
};

// The refusal of a pair whose read map does not describe its source (another
// size, a block it names that reads differently, or not a map at all); both
// files are left as they are.
inline constexpr const char* kMapMismatchText = "Mapa odczytu nie pasuje do pliku źródłowego.";
// The report of a pair finished from its map with bytes still unreadable.
std::string UnreadBytesText(int64_t bytes, const std::string& name, const std::string& decimalSeparator = ",");

class Resumer {
 public:
  // `rescueFiles`: when set, the source and the destination of a pair
  // finished from its read map are opened through it (a plain resume never is).
  Resumer(IFileSystem& files, IClock& clock, IResumeView& view, IFileSystem* rescueFiles = nullptr);

  // The run over the list ("Rozpocznij"): every pair in order, until the end
  // of the list or a stop (or a medium that went away and was not put back).
  // A failed pair is reported and the run goes on with the next one; the
  // controls are switched back in every case.
  void Start(const std::vector<ResumePair>& pairs);

  // Continue one pair. Both files are closed before it returns, also when it
  // fails; the bytes written stay in the destination. Throws FileError. A
  // pair with a read map is finished from it (what was never tried or not
  // yet narrowed first, then the sectors found bad once more); the map is
  // kept up to date and deleted once every byte is read, and a pair left with
  // unreadable bytes throws UnreadBytesText once its files are closed and its
  // map saved.
  void ResumeCopy(const std::string& sourcePath, const std::string& destinationPath);

  const ResumeStatus& Status() const { return status_; }

 private:
  void RunList(const std::vector<ResumePair>& pairs);
  void CopyRest(const std::string& sourcePath, IFile& source, IFile& destination);
  void RescueFromMap(const std::string& sourcePath, std::unique_ptr<IFile>& source,
                     const std::string& destinationPath, std::unique_ptr<IFile>& destination, RescueMap& map);

  IFileSystem& files_;
  IClock& clock_;
  IResumeView& view_;
  IFileSystem* rescueFiles_;
  Pacer pacer_;
  ResumeStatus status_;
  // Failures to close the files of a pair that had already failed: reported
  // after the failure that ended the pair.
  std::vector<std::string> closeErrors_;
  // The medium went away and the user chose to stop: the run ends.
  bool cancelled_ = false;
};

}  // namespace sk
