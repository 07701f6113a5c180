// The copy run of the main window: Start copies every listed file into the
// destination folder with the level copy routine, the window locked
// meanwhile, then carries out the after-copy action. The run's order of steps
// lives in sk::RunCopy; this file is its window and its system.
#include <windows.h>

#include "core/CopyRun.h"
#include "core/LevelCopy.h"
#include "ui/MainForm.h"
#include "ui/ImageForm.h"
#include "ui/MapForm.h"
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

// The main window's controls and menu items that open a dialog, greyed while
// their command may not start (see RunState.cpp).
struct RunGate {
  const char* control;   // nullptr: none
  const char* menuItem;  // nullptr: none
  RunCommand command;
};
constexpr RunGate kRunGates[] = {
    {"Button1", "Dodajplik1", RunCommand::AddFiles},
    {"Button5", nullptr, RunCommand::ChooseFolder},
    {nullptr, "Ustawieniaprogramu1", RunCommand::Settings},
    {nullptr, "Oprogramie1", RunCommand::About},
};

}  // namespace

struct TForm1::CopyRunWindow : ICopyRunView, ICopyRunSystem {
  explicit CopyRunWindow(TForm1& f) : form(f) {}
  TForm1& form;
  int nextFile = 0;  // the list index of the next file copied
  int64_t unread = 0;  // bytes the last file was left without (rescue mode)
  std::vector<PutOffRescue> putOff;  // rescue mode: the files left to round two
  bool putOffNow = false;             // the last file was put off

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
    if (running) {
      form.SetRunControls(true);
      form.BeginCopy();
    } else {
      // The status as the run leaves it, the taskbar button's value
      // included, before the button goes back to no progress.
      form.EndCopy();
      form.SetRunControls(false);
    }
  }
  void SetOverallProgress(int64_t maximum, int64_t position) override { form.SetOverallProgress(maximum, position); }
  void SetCopyStartTime(double now) override { form.copyStartTime_ = now; }
  int Level() override { return form.RunSettingsNow().level; }
  void CopyFile(const std::string& source, const std::string& destination, int level, bool renamed,
                bool fresh) override {
    if (form.CopyRunFileHook) form.CopyRunFileHook(nextFile);
    ++nextFile;
    unread = 0;
    const size_t before = putOff.size();
    putOffNow = false;
    unread = form.CopyFileAtLevel(source, destination, level, renamed, &putOff, fresh);
    putOffNow = putOff.size() > before;
  }
  bool LeftUnread() override { return unread > 0; }
  bool RescueMode() override { return form.RescueModeNow(); }
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
  bool ClosePending() override { return form.ClosePending(); }
  int AfterCopyAction() override { return form.RunSettingsNow().endAction; }
  std::string ProgramToRun() override { return form.RunSettingsNow().runAfter; }

  // ---- the system ----
  bool FolderExists(const std::string& path) override { return win::FolderExists(path); }
  void CreateFolder(const std::string& path) override { win::CreateFolder(path); }
  int64_t FileSizeByName(const std::string& path) override { return win::FileSizeByName(path); }
  bool PathExists(const std::string& path) override {
    return GetFileAttributesW(win::LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::optional<std::vector<std::string>> FolderNames(const std::string& folder) override {
    return win::FolderNames(folder);
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

void TForm1::RunStateChanged() {
  UpdateStartButton();
  // The update check's item is greyed while anything runs, also where its
  // top menu stays on (a resume run, a search).
  if (menu_) {
    const bool check = runState_.May(RunCommand::UpdateCheck);
    EnableMenuItem(menu_, static_cast<UINT>(ControlId("Aktualizacjaprogramu1")),
                   MF_BYCOMMAND | (check ? MF_ENABLED : MF_GRAYED));
  }
  // What opens a dialog is greyed while it would hold a run.
  for (const RunGate& gate : kRunGates) {
    const bool on = runState_.May(gate.command);
    if (gate.control) Enable(gate.control, on);
    if (gate.menuItem && menu_)
      EnableMenuItem(menu_, static_cast<UINT>(ControlId(gate.menuItem)), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  }
  // Every other window greys what it may not start, by the same rule.
  for (Window* form : OtherWindows())
    if (form) form->RunsChanged(runState_);
}

std::vector<Window*> TForm1::OtherWindows() const { return {form2_, form3_, form4_.get(), form5_.get()}; }

bool TForm1::RunGateOpen(std::string_view menuItem) const {
  for (const RunGate& gate : kRunGates)
    if (gate.menuItem && menuItem == gate.menuItem) return runState_.May(gate.command);
  return true;
}

// Start is greyed during a resume run and an update check; a folder search,
// which is short, holds it off without greying it; the copy run switches it
// with its other controls.
void TForm1::UpdateStartButton() {
  const RunKind running = runState_.Running();
  if (running == RunKind::Copy) return;
  Enable("Button7", running != RunKind::Resume && running != RunKind::Update && running != RunKind::Image);
}

void TForm1::SetRunControls(bool running) {
  HWND focus = GetFocus();
  const bool focusHere = hwnd_ && focus && GetAncestor(focus, GA_ROOT) == hwnd_;
  ShowRunOnTaskbar(running);
  for (const char* menu : {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"}) EnableTopMenu(menu, !running);
  if (EnableAfterCopyActions) EnableAfterCopyActions(!running);
  EnableListControls(!running);
  Enable("Button7", !running);
  Enable("Button65", running);
  // Keep the keyboard in the window when its focused control goes off: on
  // Stop during the run, on Start after it.
  if (focusHere && !IsWindowEnabled(focus)) SetFocus(Control(running ? "Button65" : "Button7"));
}

void TForm1::Button8Click() {
  // One run at a time, and none once the program is closing. Closing the
  // window meanwhile stops the run after the block in hand; the close then
  // completes when this handler has returned.
  RunHost::Run run(CopyHost());
  if (!run.Began()) return;
  CopyRunWindow window(*this);
  // The mode is read once, for the whole run.
  struct RunMode {
    std::optional<bool>& mode;
    ~RunMode() { mode.reset(); }
  } runMode{runRescueMode_};
  RunSettingsNow();  // the stored settings, when no dialog has loaded them
  runRescueMode_ = RescueModeNow();
  try {
    RunCopy(window, window);
  } catch (...) {
    // The run ended by an error of its own (not a file's): nothing stays locked.
    if (Copying()) {
      SetRunControls(false);
      EndCopy();
      SetListHints(true);
    }
    throw;
  }
}

RunHost::Gate TForm1::GateOfRun(RunKind kind, std::function<void()> requestStop, std::function<void(bool)> changed) {
  auto held = std::make_shared<std::unique_ptr<RunInProgress>>();
  return [this, kind, requestStop = std::move(requestStop), changed = std::move(changed), held](bool running) {
    if (running) {
      *held = std::make_unique<RunInProgress>(*this, kind, requestStop);
      if (!(*held)->Began()) {
        held->reset();
        return false;
      }
    }
    if (changed) changed(running);
    if (!running) held->reset();  // a close that waited for the run goes on now
    return true;
  };
}

void TForm1::ConnectForms() {
  EnableAfterCopyActions = [this](bool on) {
    if (form2_) form2_->EnableActionChoice(on);
  };
  if (!form3_) return;
  form3_->SetTaskbarProgress(&taskbar_);
  // "Resumak"'s Start is held unless a resume run may begin.
  form3_->SetRunHook([gate = GateOfRun(RunKind::Resume, [this] { if (form3_) form3_->Button2Click(); },
                                     [this](bool running) { ShowRunOnTaskbar(running); })](bool running) {
    gate(running);
  });
  RunStateChanged();
}

}  // namespace sk::ui
