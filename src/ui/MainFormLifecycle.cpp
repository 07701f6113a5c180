// The main window's creation and close: the start-up entry, the settings
// store's first and last moments, and closing while a run is in progress.
#include <windows.h>

#include <initializer_list>

#include "core/Settings.h"
#include "core/Text.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinRegistry.h"

namespace sk::ui {
namespace {

// The live settings: the run settings (shown by the settings dialog, when it
// exists) and the main window's destination field.
class FormControls : public ISettingsControls {
 public:
  explicit FormControls(TForm1& main) : main_(main) {}

  int Level() override { return Live().level; }
  void SetLevel(int level) override { Set(&RunSettings::level, ClampLevel(level)); }
  int EndAction() override { return Live().endAction; }
  void SetEndAction(int action) override { Set(&RunSettings::endAction, ClampEndAction(action)); }
  bool CheckFiles() override { return Live().checkFiles; }
  void SetCheckFiles(bool on) override { Set(&RunSettings::checkFiles, on); }
  bool RescueMode() override { return Live().rescueMode; }
  void SetRescueMode(bool on) override { Set(&RunSettings::rescueMode, on); }
  std::string RunAfter() override { return Live().runAfter; }
  void SetRunAfter(const std::string& path) override { Set(&RunSettings::runAfter, path); }
  std::string LastCopyToFolder() override { return main_.Text("Edit1"); }
  void SetLastCopyToFolder(const std::string& folder) override { main_.SetText("Edit1", folder); }
  std::string ProgramPath() override { return win::ExecutablePath(); }

 private:
  RunSettings& Live() { return main_.LiveSettings(); }
  template <typename T, typename V>
  void Set(T RunSettings::*field, const V& value) {
    Live().*field = value;
    if (main_.Form2()) main_.Form2()->ShowSettings();
  }
  TForm1& main_;
};

}  // namespace

SettingsStore& TForm1::Settings() {
  if (!settings_) {
    settingsControls_ = std::make_unique<FormControls>(*this);
    settings_ = std::make_unique<SettingsStore>(win::SettingsKeyFactory(), *settingsControls_,
                                                [this](const std::string& text, EventKind kind) { LogEvent(text, kind); });
  }
  return *settings_;
}

const RunSettings& TForm1::RunSettingsNow() {
  Settings().RunStarting();
  return liveSettings_;
}

void TForm1::FormCreate() {
  // The updater that a completed update leaves behind; usually there is none.
  DeleteFileW(win::Widen(win::ExecutableFolder() + "Swapit.exe").c_str());
  LogEvent(std::string("Uruchomiono Sektorian, wersja ") + kVersionText, ekSuccess);
  Settings().MainWindowCreated();
}

void TForm1::FormClose() { Settings().MainWindowClosing(); }

void TForm1::CloseRequested() {
  if (run_) {
    // A run pumps messages further up this thread's stack: ask it to stop and
    // finish the close once it has unwound.
    runState_.SetClosePending();
    // The windows go at once: the run may take a while to unwind (a read
    // in hand, a fetch the server does not answer).
    for (Window* form : OtherWindows())
      if (form && form->hwnd()) form->Hide();
    if (TrayIcon1) {
      TrayIcon1->HideMainForm();  // with its taskbar button
    } else {
      ShowWindow(hwnd_, SW_HIDE);
    }
    RunStateChanged();
    if (run_->requestStop_) run_->requestStop_();
    return;
  }
  // After the update hand-over the close handler is gone: no settings are saved.
  if (!closeHandlerCleared_) Guarded([this] { FormClose(); });
  DestroyWindow(hwnd_);
}

TForm1::RunInProgress::RunInProgress(TForm1& form, RunKind kind, std::function<void()> requestStop)
    : form_(form), requestStop_(std::move(requestStop)) {
  began_ = form_.runState_.Begin(kind);
  if (!began_) return;
  form_.run_ = this;
  form_.RunStateChanged();
}

TForm1::RunInProgress::~RunInProgress() {
  if (!began_) return;
  form_.runState_.End();
  form_.run_ = nullptr;
  form_.RunStateChanged();
  // The close goes on from the message loop, after the run's handler has returned.
  if (form_.runState_.ClosePending() && form_.hwnd()) PostMessageW(form_.hwnd(), WM_CLOSE, 0, 0);
}

}  // namespace sk::ui
