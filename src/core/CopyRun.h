// The copy run: every listed file copied into one destination folder with the
// level copy routine, the window locked meanwhile, then the after-copy action.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/EventLog.h"

namespace sk {

// After-copy actions, the settings dialog's radio item index.
enum AfterCopyAction : int {
  kActionNone = 0,
  kActionMessage = 1,
  kActionMinimize = 2,
  kActionRunProgram = 3,
  kActionCloseProgram = 4,
  kActionShutDown = 5,
};

// What the run needs of the main window and the settings dialog.
class ICopyRunView {
 public:
  virtual ~ICopyRunView() = default;
  virtual size_t EntryCount() = 0;
  virtual std::string EntryPath(size_t index) = 0;  // the list item's caption
  virtual std::string Destination() = 0;            // the destination field as typed
  virtual void SetListHints(bool on) = 0;
  virtual void ShowEmptyDestinationMessage() = 0;  // the "Kopiowanie przerwane..." box
  virtual void LogEvent(const std::string& text, EventKind kind) = 0;
  // Switch off (or on) the list, its buttons, the destination field, Start,
  // the four top menus and the dialog's action choice; Stop the opposite.
  virtual void SetRunControls(bool running) = 0;
  virtual void SetOverallProgress(int64_t maximum, int64_t position) = 0;
  virtual void SetCopyStartTime(double now) = 0;
  virtual int Level() = 0;  // read anew for every file
  // Copy one file with the level copy routine; a failure comes out as an
  // exception, which the run ignores. `renamed`: the destination's name is
  // not the source's (a file of that name was already written by this run),
  // and the routine says so in the log. `fresh`: nothing had the
  // destination's name (nor, in rescue mode, its map's) when the run began,
  // nor has the run written it; the
  // routine then creates it new and throws FileExistsError, having written
  // nothing, when a file of that name has appeared meanwhile.
  virtual void CopyFile(const std::string& source, const std::string& destination, int level, bool renamed,
                        bool fresh) = 0;
  // Whether the file just copied was left with unread areas (rescue mode:
  // full length, but holes); such a file does not count as copied.
  virtual bool LeftUnread() { return false; }
  // Rescue mode (the settings dialog's check box): a file named like the map
  // of a file the run wrote ("X.map" beside "X") is saved under a free name.
  virtual bool RescueMode() { return false; }
  // Rescue mode in two rounds: whether CopyFile just put off the narrowing
  // of the file's damaged places (round one), and round two's narrowing of
  // the k-th file put off (0 the first), as CopyFile copies one.
  virtual bool PutOff() { return false; }
  virtual void NarrowPutOff(size_t k) { (void)k; }
  virtual bool StopRequested() = 0;
  virtual void ClearStopRequest() = 0;
  virtual void Repaint() = 0;
  // The main window is being closed: the run ends after the file in hand and
  // no after-copy action follows.
  virtual bool ClosePending() = 0;
  virtual int AfterCopyAction() = 0;  // the radio item index, -1: none
  virtual std::string ProgramToRun() = 0;
};

// What the run needs of the system: folders, clock, and the actions.
class ICopyRunSystem {
 public:
  virtual ~ICopyRunSystem() = default;
  virtual bool FolderExists(const std::string& path) = 0;
  virtual void CreateFolder(const std::string& path) = 0;  // throws FileError
  // The size in the file's directory entry, 0 when there is none.
  virtual int64_t FileSizeByName(const std::string& path) = 0;
  // Whether anything (a file or a folder) is at `path`.
  virtual bool PathExists(const std::string& path) = 0;
  // The names of everything in `folder` (files and folders, under every name
  // they answer to); none when the folder cannot be listed.
  virtual std::optional<std::vector<std::string>> FolderNames(const std::string& folder) = 0;
  // A path in the form in which two paths are equal when Windows takes them
  // for the same name (letters compared without their case).
  virtual std::string NameKey(const std::string& path) = 0;
  virtual double Now() = 0;
  // The box of the after-copy action "Pokaż komunikat", caption "Informacja":
  // `text` with the information icon when every file was copied, with the
  // warning icon when not.
  virtual void ShowFinishedMessage(const std::string& text, bool allCopied) = 0;
  virtual void MinimizeApplication() = 0;
  virtual void Execute(const std::string& file, const std::string& folder) = 0;
  virtual void CloseMainWindow() = 0;
  virtual void ExitSystem(unsigned flags) = 0;
};

// Start: the whole run. An error while creating the destination folder comes
// out of it (for the application's error report) with nothing copied.
// A file counts as copied completely when the routine returned and the
// destination then holds as many bytes as the source, none of them left
// unread: a routine that returns after a stop may have stopped anywhere,
// also after the file's last block.
// A destination written earlier in the same run is never replaced: a later
// file of the same name is saved under the first free NumberedName. In
// rescue mode the map beside a destination counts as written too. The
// destination folder is listed once, as the run begins: what is free is
// told from that listing and the names the run has given, never by asking
// the disk name by name (unless the folder could not be listed), and a file
// of a free name that has appeared meanwhile is not replaced: the file goes
// to the next free name.
// In rescue mode the run goes in two rounds: every file through the fast
// phases first (a file whose damaged places need narrowing is put off), then
// the files put off ("Rozpoczynanie zawężania uszkodzonych miejsc (plików:
// N)"), each finished from its map; a file counts as copied once it is
// finished. Stop, a close or a medium not put back ends the run in either
// round (no round two after round one ends so).
void RunCopy(ICopyRunView& view, ICopyRunSystem& system);

// The destination path of a listed file: the folder as typed, "\", and the
// file-name part of the source.
std::string DestinationPath(const std::string& folder, const std::string& source);

// The path with its file name numbered: "name (n).ext" ("name (n)" without an
// extension; a leading dot does not start one).
std::string NumberedName(const std::string& path, int n);

}  // namespace sk
