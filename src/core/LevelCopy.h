// The level copy routine: one file copied in fixed-size blocks, every step
// announced in the event log, the copy's progress kept in a status model that
// the window shows at paced moments.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/EventLog.h"
#include "core/FileApi.h"
#include "core/Pacer.h"
#include "core/Rescue.h"
#include "core/RescueMap.h"

namespace sk {

// What the main window's status area shows, kept up to date by the copy
// loops on every step; the window shows it when it refreshes.
struct CopyStatus {
  std::string elapsed = "0 sek";     // Label3, after "Upłynęło:"
  std::string remaining = "0 sek";   // Label5, after "Pozostało:"
  std::string fileName = "Brak";     // Label7, after "Aktualny plik:"
  std::string copied = "0 B / 0 B";  // Label9, after "Skopiowano:"
  int64_t fileMax = 0, filePosition = 0;    // ProgressBar1: the current file
  int64_t totalMax = 0, totalPosition = 0;  // ProgressBar2: all listed files
};

// The window the routine works for.
class ICopyView {
 public:
  virtual ~ICopyView() = default;
  virtual void LogEvent(const std::string& text, EventKind kind) = 0;
  virtual CopyStatus& Status() = 0;
  // Show the status model and the log's newest entries now.
  virtual void ShowStatus() = 0;
  // Process every pending window message, then return.
  virtual void PumpMessages() = 0;
  virtual bool StopRequested() = 0;
  // The local date-time (days) at which the run began copying.
  virtual double CopyStartTime() = 0;
  // Whether the sizes of source and destination are compared after the copy.
  virtual bool CheckSizes() = 0;
  // The decimal separator of the size texts.
  virtual std::string DecimalSeparator() { return ","; }
  // Rescue mode (the settings dialog's check box): read past unreadable
  // areas, give the destination the source's full length, keep a read map.
  virtual bool RescueMode() { return false; }
  // The medium went away during a rescue (or another one is there): ask
  // whether to try again ("Ponów", true) or to stop ("Anuluj", false).
  virtual bool AskMediumRetry(MediumQuestion question) {
    (void)question;
    return false;
  }
  // A rescue's read map as it stands: when the file's rescue begins, at
  // every paced refresh and once when the file ends (`live` false then).
  // `mapPath` is where the map is (or would be) saved; map.currentPos is the
  // read position. Called on the window's thread; keep nothing of `map`.
  virtual void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) {
    (void)mapPath;
    (void)map;
    (void)live;
  }
};

// Bytes moved by one step at copy level 0..4: 1, 21, 129, 513, 1025.
size_t BlockSize(int level);

// Where the copy routine reaches the world: files, time, the window, and the
// pacing of window work (shared by the files of one run).
struct CopyEnvironment {
  IFileSystem& files;
  IClock& clock;
  ICopyView& view;
  Pacer& pacer;
  // In rescue mode the source and the destination are opened through this
  // one when it is set (the window's layer runs their calls off its thread).
  IFileSystem* rescueFiles = nullptr;
  // The layer a rescue's files are opened and checked through.
  IFileSystem& RescueLayer() const { return rescueFiles ? *rescueFiles : files; }
};

// A file of a rescue copy run whose damaged places are left to narrow in
// round two, with what round two goes on from.
struct PutOffRescue {
  std::string source, destination;
  int level = 0;
  RescueMap map;  // as round one left it (and saved it beside the destination)
  PartialReads partialReads = PartialReads::kUnknown;
};

// Copy `source` to `destination` at `level`. Failures while opening and
// closing are logged and the routine carries on; any other failure is logged
// too, closes both files and is thrown to the caller (a FileError). In rescue
// mode the copy is RescueFileAtLevel's. Returns the bytes left unread (only
// ever non-zero in rescue mode). `renamed`: the destination's name is not the
// source's, and the log says "Zapisywanie jako " + that name right after the
// copy's first entry. `fresh`: no file had the destination's name when the
// run began and the run has not written one since; the destination is then
// created new, never replacing a file: one that has appeared meanwhile ends
// the copy with FileExistsError before anything is written or logged as an
// error. In rescue mode it says the same of the map's name (no earlier map
// to look for).
int64_t CopyFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                        int level, bool renamed = false, std::vector<PutOffRescue>* putOff = nullptr,
                        bool fresh = false);

// The copy in rescue mode: the same steps and entries, but the file is read
// by the rescue engine (large blocks where it reads, the level's block size
// at the edges of damage), the destination gets the source's full length
// with zeros where nothing could be read, and the read map beside it
// (destination + ".map") records what is missing; it is deleted when nothing
// is. Returns the bytes left unread.
// With `putOff` set, this is round one of a run: only the fast phases, and a
// file whose damaged places still need narrowing is closed with its map
// saved and appended to *putOff ("Odłożono zawężanie uszkodzonych miejsc:
// pozostało … w K miejscach", "Zapisano mapę odczytu …", "Zamykanie plików",
// "Odłożono kopiowanie pliku …") instead of its closing entries.
// When the medium goes away and the user stops, the file ends as after a
// stop and MediumGone is thrown after its closing entries: the run ends.
int64_t RescueFileAtLevel(const CopyEnvironment& env, const std::string& source, const std::string& destination,
                          int level, bool renamed = false, std::vector<PutOffRescue>* putOff = nullptr,
                          bool fresh = false);

// Round two of a rescue copy run: the file put off in round one is opened
// again ("Wznawianie kopiowania pliku …", "Czytanie i zapisywanie bajtów")
// and rescued to the end from its map, with the closing entries of a
// rescued file. Returns the bytes left unread; throws as RescueFileAtLevel.
int64_t NarrowPutOffRescue(const CopyEnvironment& env, PutOffRescue& file);

// A progress bar's range is a 32-bit int: a 64-bit maximum and position are
// scaled down by the same power of two until the maximum fits.
struct BarRange {
  int max;
  int position;
};
BarRange ScaleBar(int64_t max, int64_t position);

}  // namespace sk
