// What the main window runs now (nothing, a copy run, a "Resumak" run, a
// folder search, an update check or the image of a disc) and whether a close is pending, and the
// one rule every command asks before it starts anything: at most one run at a
// time, and nothing new once a close is pending.
#pragma once

namespace sk {

enum class RunKind { None, Copy, Resume, Search, Update, Image };

// The commands that start a run, change the file list, or open a dialog or a
// menu. A modal dialog or a pop-up menu runs its own message loop inside the
// run's, so a run would stand still (and "Zatrzymaj" would do nothing) for as
// long as one is open: those are refused while anything runs.
enum class RunCommand {
  Start,         // the main window's "Rozpocznij": a copy run
  ResumeStart,   // "Resumak"'s "Rozpocznij": a resume run
  UpdateCheck,   // "Aktualizacja programu"
  ListEdit,      // "Usuń z listy zaznaczone", "Wyczyść listę"
  FolderSearch,  // "Dodaj pliki z wpisanej ścieżki", "Dodaj pliki z wybranej ścieżki"
  Drop,          // files or folders dropped on the window
  SaveLog,       // the event log's "Zapisz dziennik...": a file dialog
  AddFiles,      // "Dodaj plik(i)": a file dialog
  ChooseFolder,  // the "..." of the destination folder: a folder dialog
  MapFiles,      // the read map window's "Otwórz..." and "Zapisz obraz...": file dialogs
  ResumeAdd,     // "Resumak"'s "Dodaj plik": two file dialogs
  ProgramFile,   // the settings dialog's "..." (the program run after copying): a file dialog
  Settings,      // "Ustawienia programu": the settings dialog, which holds nothing (modeless)
  About,         // "O programie": a message box
  PopupMenu,     // the tray icon's menu and the event log's menu
  ImageStart,    // "Obraz płyty"'s "Rozpocznij" (the image of a disc) and "Zapisz pliki" (files out of it)
  ImageFiles,    // "Obraz płyty"'s "..." and "Zapisz listę...": file dialogs
};
inline constexpr int kRunCommands = 17;

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
