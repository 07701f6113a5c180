// What the main window runs now (nothing, a copy run, a "Resumak" run, a
// folder search, an update check or the image of a disc) and whether a close is pending, and the
// one rule every command asks before it starts anything: at most one run at a
// time, and nothing new once a close is pending.
#pragma once

namespace sk {

enum class RunKind { None, Copy, Resume, Search, Update, Image };

// The commands that start a run, change the file list or open a dialog that
// would hold a run's loop.
enum class RunCommand {
  Start,         // the main window's "Rozpocznij": a copy run
  ResumeStart,   // "Resumak"'s "Rozpocznij": a resume run
  UpdateCheck,   // "Aktualizacja programu"
  ListEdit,      // "Dodaj plik(i)", "Usuń z listy zaznaczone", "Wyczyść listę"
  FolderSearch,  // "Dodaj pliki z wpisanej ścieżki", "Dodaj pliki z wybranej ścieżki"
  Drop,          // files or folders dropped on the window
  SaveLog,       // the event log's "Zapisz dziennik..."
  ImageStart,    // "Obraz płyty"'s "Rozpocznij": the image of a disc
};

// The rule as a table (RunState.cpp). A close is never refused: with a run
// under way it is pending until the run has stopped.
bool MayStart(RunKind running, bool closePending, RunCommand command);

class RunState {
 public:
  RunKind Running() const { return running_; }
  bool ClosePending() const { return closePending_; }
  bool May(RunCommand command) const { return MayStart(running_, closePending_, command); }
  // Begins a run of `kind` when its command may start now; false (and no
  // change) when not.
  bool Begin(RunKind kind);
  // The run has ended.
  void End() { running_ = RunKind::None; }
  // A close was asked for while a run is under way.
  void SetClosePending() { closePending_ = true; }

 private:
  RunKind running_ = RunKind::None;
  bool closePending_ = false;
};

}  // namespace sk
