// The program's taskbar button during a run: the overall progress drawn on the
// button, its error and paused states, and a flash when a run ends while the
// program is in the background.
#pragma once
#include <windows.h>

#include <cstdint>

namespace sk::ui {

// The button's progress states (the values of the shell's TBPFLAG).
enum class TaskbarState : int {
  None = 0,      // no progress shown
  Normal = 2,
  Error = 4,
  Paused = 8,
};

// The calls into the shell, so that tests can record them.
class ITaskbar {
 public:
  virtual ~ITaskbar() = default;
  virtual void SetProgressValue(HWND window, uint64_t completed, uint64_t total) = 0;
  virtual void SetProgressState(HWND window, TaskbarState state) = 0;
  // Flash the button until the window is activated.
  virtual void Flash(HWND window) = 0;
};

// The shell's taskbar list (ITaskbarList3) and FlashWindowEx. Where the shell
// has no taskbar list (Wine, Windows before 7) the progress calls do nothing.
ITaskbar& SystemTaskbar();
// The shell's "TaskbarButtonCreated" message: a window's button was made
// (again) and has forgotten its progress.
UINT TaskbarButtonCreatedMessage();

// What the button shows during a copy or resume run. The run's paced refresh
// hands it the overall bar's range and position (Show); only what differs
// from what the button shows already reaches the shell, so a refresh that
// changed nothing costs nothing.
class TaskbarProgress {
 public:
  explicit TaskbarProgress(ITaskbar* taskbar = nullptr) : taskbar_(taskbar) {}
  void SetTaskbar(ITaskbar* taskbar) {
    taskbar_ = taskbar;
    Reapply();
  }
  void SetWindow(HWND window) { window_ = window; }

  // A run begins: normal state, nothing done yet.
  void Begin();
  // The paced refresh: the overall range and position (bytes).
  void Show(int64_t maximum, int64_t position);
  // A file has failed in this run: the error state until the run ends.
  void Fail();
  // A Stop is being acted on: the paused state until the run ends.
  void Pause();
  // The run has ended: the progress goes; the button flashes when `flash`.
  void End(bool flash);
  // The shell made the button anew (it forgets its progress): show it again.
  void Reapply();

  bool Running() const { return running_; }

 private:
  ITaskbar& Taskbar() const { return taskbar_ ? *taskbar_ : SystemTaskbar(); }
  TaskbarState Wanted() const;
  void Apply();

  ITaskbar* taskbar_;
  HWND window_ = nullptr;
  bool running_ = false, failed_ = false, paused_ = false;
  int64_t maximum_ = 0, position_ = 0;
  TaskbarState shownState_ = TaskbarState::None;
  int64_t shownMaximum_ = -1, shownPosition_ = -1;
};

}  // namespace sk::ui
