#include "ui/RunHost.h"

namespace sk::ui {

RunHost::RunHost(IFileSystem& files, IClock& clock, std::function<void()> refresh)
    : refresh_(std::move(refresh)), pacer_(clock), worker_(files, [this] { WhileWaiting(); }) {}

bool RunHost::Begin() {
  if (running_) return false;
  if (gate_ && !gate_(true)) return false;
  running_ = true;
  return true;
}

void RunHost::End() {
  if (!running_) return;
  running_ = false;
  if (gate_) gate_(false);
}

void RunHost::WhileWaiting() {
  if (!running_ || !(pacer_.Tick() & Pacer::kRefresh)) return;
  if (refresh_) refresh_();
  pacer_.RefreshMade();
}

}  // namespace sk::ui
