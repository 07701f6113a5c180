#include <windows.h>
#include <shobjidl.h>

#include "ui/Taskbar.h"

namespace sk::ui {
namespace {

class SystemTaskbarList final : public ITaskbar {
 public:
  void SetProgressValue(HWND window, uint64_t completed, uint64_t total) override {
    With([&](ITaskbarList3& list) { list.SetProgressValue(window, completed, total); });
  }
  void SetProgressState(HWND window, TaskbarState state) override {
    With([&](ITaskbarList3& list) { list.SetProgressState(window, static_cast<TBPFLAG>(state)); });
  }
  void Flash(HWND window) override {
    FLASHWINFO info{sizeof info, window, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&info);
  }

 private:
  // The list is asked for anew for each call: the calls come only at a run's
  // paced moments, and no interface outlives the thread's COM.
  template <typename Fn>
  void With(Fn&& fn) {
    if (unavailable_) return;
    ITaskbarList3* list = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                        reinterpret_cast<void**>(&list));
    if (FAILED(hr)) {
      // No such list on this system (it will not appear later); any other
      // failure (COM not ready) is tried again next time.
      if (hr == REGDB_E_CLASSNOTREG || hr == E_NOINTERFACE) unavailable_ = true;
      return;
    }
    if (SUCCEEDED(list->HrInit())) fn(*list);
    list->Release();
  }
  bool unavailable_ = false;
};

}  // namespace

ITaskbar& SystemTaskbar() {
  static SystemTaskbarList taskbar;
  return taskbar;
}

UINT TaskbarButtonCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

TaskbarState TaskbarProgress::Wanted() const {
  if (!running_) return TaskbarState::None;
  if (paused_) return TaskbarState::Paused;
  if (failed_) return TaskbarState::Error;
  return TaskbarState::Normal;
}

void TaskbarProgress::Apply() {
  if (!window_) return;
  const TaskbarState state = Wanted();
  if (state != shownState_) {
    Taskbar().SetProgressState(window_, state);
    shownState_ = state;
    if (state == TaskbarState::None) shownMaximum_ = shownPosition_ = -1;  // the button forgot its value
  }
  if (!running_ || maximum_ <= 0) return;  // an empty range shows no value
  if (maximum_ == shownMaximum_ && position_ == shownPosition_) return;
  Taskbar().SetProgressValue(window_, static_cast<uint64_t>(position_), static_cast<uint64_t>(maximum_));
  shownMaximum_ = maximum_;
  shownPosition_ = position_;
}

void TaskbarProgress::Begin() {
  running_ = true;
  failed_ = paused_ = false;
  maximum_ = position_ = 0;
  Apply();
}

void TaskbarProgress::Show(int64_t maximum, int64_t position) {
  if (!running_) return;
  maximum_ = maximum > 0 ? maximum : 0;
  position_ = position < 0 ? 0 : (position > maximum_ ? maximum_ : position);
  Apply();
}

void TaskbarProgress::Fail() {
  if (!running_ || failed_) return;
  failed_ = true;
  Apply();
}

void TaskbarProgress::Pause() {
  if (!running_ || paused_) return;
  paused_ = true;
  Apply();
}

void TaskbarProgress::End(bool flash) {
  if (!running_) return;
  running_ = false;
  Apply();
  if (flash && window_) Taskbar().Flash(window_);
}

void TaskbarProgress::Reapply() {
  shownState_ = TaskbarState::None;
  shownMaximum_ = shownPosition_ = -1;
  if (running_) Apply();
}

}  // namespace sk::ui
