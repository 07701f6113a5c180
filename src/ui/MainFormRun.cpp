// The copy run of the main window: Start copies every listed file into the
// destination folder with the level copy routine, the window locked
// meanwhile, then carries out the after-copy action. The run's order of steps
// lives in sk::RunCopy; this file is its window and its system.
#include <windows.h>

#include "core/CopyRun.h"
#include "core/LevelCopy.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"
#include "win/WinDirectory.h"
#include "win/WinReboot.h"
#include "win/WinShell.h"

namespace sk::ui {
namespace {

int Box(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
  return MessageBoxW(owner, win::Widen(text).c_str(), win::Widen(caption).c_str(), flags);
}

win::TWinReboot& DefaultReboot() {
  static win::TWinReboot reboot;
  return reboot;
}

}  // namespace

struct TForm1::CopyRunWindow : ICopyRunView, ICopyRunSystem {
  explicit CopyRunWindow(TForm1& f) : form(f) {}
  TForm1& form;
  int nextFile = 0;  // the list index of the next file copied
  int64_t unread = 0;  // bytes the last file was left without (rescue mode)
  std::vector<PutOffRescue> putOff;  // rescue mode: the files left to round two
  bool putOffNow = false;             // the last file was put off
  TForm2* Dialog() const { return form.form2_; }

  // ---- the window ----
  size_t EntryCount() override { return static_cast<size_t>(form.ListCount()); }
  std::string EntryPath(size_t index) override { return form.ListCaption(static_cast<int>(index)); }
  std::string Destination() override { return form.Destination(); }
  void SetListHints(bool on) override { form.SetListHints(on); }
  void ShowEmptyDestinationMessage() override {
    Box(form.hwnd_, "Kopiowanie przerwane. Proszę uzupełnić pole 'Skopiuj pliki do katalogu'.", "Błąd",
        MB_OK | MB_ICONERROR);
  }
  void LogEvent(const std::string& text, EventKind kind) override { form.LogEvent(text, kind); }
  void SetRunControls(bool running) override {
    form.SetRunControls(running);
    if (running) {
      form.BeginCopy();
    } else {
      form.EndCopy();
    }
  }
  void SetOverallProgress(int64_t maximum, int64_t position) override { form.SetOverallProgress(maximum, position); }
  void SetCopyStartTime(double now) override { form.copyStartTime_ = now; }
  int Level() override { return Dialog() ? Dialog()->Level() : 0; }
  void CopyFile(const std::string& source, const std::string& destination, int level, bool renamed) override {
    if (form.CopyRunFileHook) form.CopyRunFileHook(nextFile);
    ++nextFile;
    unread = 0;
    const size_t before = putOff.size();
    putOffNow = false;
    unread = form.CopyFileAtLevel(source, destination, level, renamed, &putOff);
    putOffNow = putOff.size() > before;
  }
  bool LeftUnread() override { return unread > 0; }
  bool RescueMode() override { return form.rescueMode_ && form.rescueMode_(); }
  bool PutOff() override { return putOffNow; }
  void NarrowPutOff(size_t k) override {
    unread = 0;
    unread = form.NarrowPutOffRescue(putOff.at(k));
  }
  bool StopRequested() override { return form.stopRequested_; }
  void ClearStopRequest() override { form.stopRequested_ = false; }
  void Repaint() override {
    // What is pending is painted now; the status itself shows at its paced moments.
    if (form.hwnd_) UpdateWindow(form.hwnd_);
  }
  bool ClosePending() override { return form.closePending_; }
  int AfterCopyAction() override { return Dialog() ? Dialog()->ActionIndex() : -1; }
  std::string ProgramToRun() override { return Dialog() ? Dialog()->ProgramToRun() : std::string(); }

  // ---- the system ----
  bool FolderExists(const std::string& path) override { return win::FolderExists(path); }
  void CreateFolder(const std::string& path) override { win::CreateFolder(path); }
  int64_t FileSizeByName(const std::string& path) override { return win::FileSizeByName(path); }
  bool PathExists(const std::string& path) override {
    return GetFileAttributesW(win::LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string NameKey(const std::string& path) override { return win::UpperCase(path); }
  double Now() override { return win::WinClock().Now(); }
  void ShowFinishedMessage(const std::string& text, bool allCopied) override {
    Box(form.hwnd_, text, "Informacja", MB_OK | (allCopied ? MB_ICONINFORMATION : MB_ICONWARNING));
  }
  void MinimizeApplication() override { form.MinimizeApplication(); }
  void Execute(const std::string& file, const std::string& folder) override {
    win::ShellOpen(form.hwnd_, file, "", folder, SW_SHOWNORMAL);
  }
  void CloseMainWindow() override {
    // The normal close: with this run still held, the close completes (and
    // saves the settings) once the run has unwound.
    SendMessageW(form.hwnd_, WM_CLOSE, 0, 0);
  }
  void ExitSystem(unsigned flags) override {
    (form.winReboot_ ? *form.winReboot_ : DefaultReboot()).ExitSystem(flags);
  }
};

void TForm1::UpdateStartButton() { Enable("Button7", !copyRunning_ && !resumeRunning_ && !updateRunning_); }

void TForm1::SetRunControls(bool running) {
  HWND focus = GetFocus();
  const bool focusHere = hwnd_ && focus && GetAncestor(focus, GA_ROOT) == hwnd_;
  copyRunning_ = running;
  ShowRunOnTaskbar(running);
  for (const char* menu : {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"}) EnableTopMenu(menu, !running);
  if (EnableAfterCopyActions) EnableAfterCopyActions(!running);
  EnableListControls(!running);
  UpdateStartButton();
  Enable("Button65", running);
  if (form3_) form3_->HoldStart(running);
  // Keep the keyboard in the window when its focused control goes off: on
  // Stop during the run, on Start after it.
  if (focusHere && !IsWindowEnabled(focus)) SetFocus(Control(running ? "Button65" : "Button7"));
}

void TForm1::Button8Click() {
  // One run at a time, never beside a resume run, an update check or a
  // search, and none once the program is closing.
  if (copyRunning_ || resumeRunning_ || updateRunning_ || searching_ || closePending_) return;
  CopyRunWindow window(*this);
  // Closing the window meanwhile stops the run after the block in hand; the
  // close then completes when this handler has returned.
  RunInProgress run(*this, [this] {
    if (copyRunning_) stopRequested_ = true;
  });
  try {
    RunCopy(window, window);
  } catch (...) {
    // The run ended by an error of its own (not a file's): nothing stays locked.
    if (copyRunning_) {
      SetRunControls(false);
      EndCopy();
      SetListHints(true);
    }
    throw;
  }
}

void TForm1::ConnectForms() {
  SetSizeCheckSource([this] { return form2_ && form2_->SizeCheck(); });
  SetRescueModeSource([this] { return form2_ && form2_->RescueMode(); });
  EnableAfterCopyActions = [this](bool on) {
    if (form2_) form2_->EnableActionChoice(on);
  };
  if (!form3_) return;
  form3_->SetTaskbarProgress(&taskbar_);
  form3_->SetRunHook([this](bool running) {
    resumeRunning_ = running;
    ShowRunOnTaskbar(running);
    if (running) {
      resumeRun_ = std::make_unique<RunInProgress>(*this, [this] {
        if (form3_) form3_->Button2Click();
      });
    } else {
      resumeRun_.reset();  // a close that waited for the run goes on now
    }
    UpdateStartButton();
  });
}

}  // namespace sk::ui
