// The resume tool window TForm3 ("Resumak"): a list of pairs of a source file
// and its partial destination, and the run that appends the rest of each
// source to its destination.
#pragma once
#include "ui/Window.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Resume.h"
#include "ui/RunHost.h"
#include "ui/Taskbar.h"

namespace sk::ui {

class TForm3 : public Window, public IResumeView {
 public:
  TForm3();
  ~TForm3() override;
  void Create();  // created hidden; runs FormCreate

  // ---- handlers ----
  void FormCreate();
  void Button1Click();  // "Rozpocznij": run the list
  void Button2Click();  // "Zatrzymaj": ask the run to stop after the byte in hand
  void Button3Click();  // "Dodaj plik": a source, then its destination, from the file dialogs
  void Button4Click();  // "Usuń zaznaczone"
  void Button5Click();  // "Wyczyść listę"

  // ---- the list ----
  // Append one pair, as "Dodaj plik" does once both dialogs are confirmed.
  void AddPair(const std::string& source, const std::string& destination);
  std::vector<ResumePair> Pairs() const;

  // ---- never both runs at once ----
  // Whether a resume run is in progress.
  bool Running() const { return running_; }
  // While held (the main window's copy run is in progress), "Rozpocznij" is
  // disabled and Start does nothing.
  void HoldStart(bool hold);
  bool StartHeld() const { return held_; }
  // While held (any run is under way), "Dodaj plik" is greyed and does
  // nothing: its file dialogs would hold the run.
  void HoldDialogs(bool hold);
  // Its own run switches its Start off by itself.
  void RunsChanged(const RunState& runs) override {
    HoldStart(!runs.May(RunCommand::ResumeStart) && runs.Running() != RunKind::Resume);
    HoldDialogs(!runs.May(RunCommand::ResumeAdd));
  }
  bool DialogsHeld() const { return dialogsHeld_; }
  // Told when a resume run begins (true) and when it has ended (false).
  void SetRunHook(std::function<void(bool running)> hook);
  const std::function<void(bool running)>& RunHook() const { return runHook_; }
  // The program's taskbar button, which shows a run's progress at the
  // window's paced moments, its failed pairs and its Stop (null: none).
  void SetTaskbarProgress(TaskbarProgress* taskbar) { taskbar_ = taskbar; }
  // The copy level of pairs finished from a read map, as a copy run takes it
  // (the settings dialog's level); 0 while none is given.
  void SetLevelSource(std::function<int()> source) { levelSource_ = std::move(source); }

  // What the run keeps for the labels and the bar (the window may show it up
  // to 100 ms later, and always at the end of a pair).
  const ResumeStatus& Status() const { return resumer_->Status(); }

  // ---- the view of a run (what the run loop calls) ----
  bool StopRequested() override { return stopRequested_; }
  void ClearStopRequested() override { stopRequested_ = false; }
  double StartTime() override { return startTime_; }
  void SetStartTime(double days) override { startTime_ = days; }
  void SetRunning(bool running) override;
  // Labels are set only when their text changed; the bar's 32-bit range
  // holds larger byte counts shifted down.
  void Show(const ResumeStatus& status) override;
  void Pump() override;
  void ReportError(const std::string& text) override;
  int Level() override { return levelSource_ ? levelSource_() : 0; }
  std::string DecimalSeparator() override;
  // The box Ponów / Anuluj, owned by this window.
  bool AskMediumRetry(MediumQuestion question) override;
  // A pair's map at its paced moments goes to the hook (the map window).
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) override {
    if (rescueMapHook_) rescueMapHook_(mapPath, map, live);
  }
  void SetRescueMapHook(std::function<void(const std::string&, const RescueMap&, bool)> hook) {
    rescueMapHook_ = std::move(hook);
  }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  void SetUpList();
  void DrawLogo(const DRAWITEMSTRUCT& item);
  void UpdateStartButton();
  // A pair finished from its map waits for a long read: the elapsed time
  // keeps moving at the host's paced moments.
  void WhileRescueWaits();

  std::unique_ptr<IFileSystem> files_;
  std::unique_ptr<IClock> clock_;
  // The run's token; the reads and writes of pairs finished from their
  // maps, off this window's thread.
  RunHost host_{*files_, *clock_, [this] { WhileRescueWaits(); }};
  std::unique_ptr<Resumer> resumer_;
  bool stopRequested_ = false;
  double startTime_ = 0;
  bool running_ = false;
  bool held_ = false;
  bool dialogsHeld_ = false;
  std::function<void(bool)> runHook_;
  TaskbarProgress* taskbar_ = nullptr;
  std::function<int()> levelSource_;
  std::function<void(const std::string&, const RescueMap&, bool)> rescueMapHook_;
  HBITMAP logo_ = nullptr;
  std::wstring openChoice_, saveChoice_;  // each dialog opens with its previous choice
  ResumeStatus shown_;                    // what the controls show now
  std::string shownElapsed_ = "0 sek", shownRemaining_ = "0B";
  int barShift_ = 0;                      // the bar's range is the byte count shifted right by this
};

}  // namespace sk::ui
