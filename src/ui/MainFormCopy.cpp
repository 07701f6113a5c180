// The main window's copy status area and event log: the view of the level
// copy routine. The routine keeps the status model up to date on every step;
// the controls show it when the copy's pacing says so, and at once outside a
// copy.
#include <windows.h>
#include <commctrl.h>

#include "core/Formats.h"
#include "core/LevelCopy.h"
#include "core/Pacer.h"
#include "ui/EventLogView.h"
#include "ui/MainForm.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {

struct TForm1::CopyArea : ICopyView {
  explicit CopyArea(TForm1& f) : form(f), logView(log) {
    host.SetGate(form.GateOfRun(RunKind::Copy, [this] { form.stopRequested_ = true; }));
  }

  TForm1& form;
  win::WinFileSystem files;
  win::WinClock clock;
  // The run's token; a rescue's source and destination, their calls off the
  // window's thread; the copy's pacing.
  RunHost host{files, clock, [this] { WhileWaiting(); }};
  Pacer& pacer = host.WaitPacer();
  EventLogModel log;
  EventLogView logView;
  CopyStatus status;
  CopyStatus shown;  // what the labels show now (their texts at start)
  BarRange shownBar1{-1, -1}, shownBar2{-1, -1};
  bool copying = false;
  std::string separator = win::DecimalSeparator();

  void LogEvent(const std::string& text, EventKind kind) override { form.LogEvent(text, kind); }
  CopyStatus& Status() override { return status; }
  void ShowStatus() override { form.ShowCopyStatus(); }
  void PumpMessages() override { ui::PumpMessages(); }
  bool StopRequested() override { return form.stopRequested_; }
  double CopyStartTime() override { return form.copyStartTime_; }
  bool CheckSizes() override { return form.sizeCheck_ && form.sizeCheck_(); }
  bool RescueMode() override { return form.RescueModeNow(); }
  std::string DecimalSeparator() override { return separator; }
  bool AskMediumRetry(MediumQuestion question) override { return ui::AskMediumRetry(form.hwnd_, question); }
  // A rescue's source and destination are opened through the host's worker.
  CopyEnvironment Environment() { return {files, clock, *this, pacer, &host.Files()}; }

  // A rescue's file call takes long (a damaged disc's read): the elapsed
  // time keeps moving at the copy's paced refreshes.
  void WhileWaiting() {
    if (!copying) return;
    status.elapsed = FormatElapsed(ElapsedSeconds(clock.Now(), form.copyStartTime_));
    form.ShowCopyStatus();
  }
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) override {
    form.ShowRescueMap(mapPath, map, live);
  }
};

void TForm1::CopyAreaDeleter::operator()(CopyArea* area) const { delete area; }

TForm1::CopyArea& TForm1::Copy() const {
  if (!copy_) copy_.reset(new CopyArea(const_cast<TForm1&>(*this)));
  return *copy_;
}

RunHost& TForm1::CopyHost() const { return Copy().host; }

void TForm1::SetUpStatusArea() {
  Copy().logView.Attach(Control("ListView2"), Control("CheckBox1"));
  Check("CheckBox1", true);
}

bool TForm1::NotifyStatusArea(const NMHDR& hdr, LRESULT& result) { return Copy().logView.OnNotify(hdr, result); }

const EventLogModel& TForm1::EventLog() const { return Copy().log; }
EventLogView& TForm1::LogView() const { return Copy().logView; }

void TForm1::LogEvent(const std::string& text, EventKind kind) {
  CopyArea& a = Copy();
  a.log.Add(text, kind);
  if (kind == ekError && CopyRunning()) taskbar_.Fail();  // a file of the run has failed
  if (!a.copying) a.logView.Show();
}

void TForm1::RewriteNewestEntry(const std::string& text) {
  CopyArea& a = Copy();
  a.log.RewriteNewest(text);
  if (!a.copying) a.logView.Show();
}

void TForm1::Button65Click() {
  stopRequested_ = true;
  if (CopyRunning()) taskbar_.Pause();
}

bool TForm1::Copying() const { return Copy().copying; }

void TForm1::BeginCopy() {
  CopyArea& a = Copy();
  a.copying = true;
  a.pacer.Restart();
}

void TForm1::EndCopy() {
  Copy().copying = false;
  ShowCopyStatus();
}

void TForm1::SetOverallProgress(int64_t maximum, int64_t position) {
  CopyArea& a = Copy();
  a.status.totalMax = maximum;
  a.status.totalPosition = position;
  if (!a.copying) ShowCopyStatus();
}

void TForm1::ShowCopyStatus() {
  CopyArea& a = Copy();
  if (!hwnd_) return;
  // Only what changed is touched: every label text and bar position costs a
  // repaint.
  auto label = [&](const char* name, const std::string& text, std::string& shown) {
    if (text == shown) return;
    SetText(name, text);
    shown = text;
  };
  label("Label3", a.status.elapsed, a.shown.elapsed);
  label("Label5", a.status.remaining, a.shown.remaining);
  label("Label7", a.status.fileName, a.shown.fileName);
  label("Label9", a.status.copied, a.shown.copied);
  auto bar = [&](const char* name, int64_t max, int64_t position, BarRange& shown) {
    const BarRange now = ScaleBar(max, position);
    HWND h = Control(name);
    if (now.max != shown.max) SendMessageW(h, PBM_SETRANGE32, 0, now.max);
    if (now.position != shown.position || now.max != shown.max) SendMessageW(h, PBM_SETPOS, now.position, 0);
    shown = now;
  };
  bar("ProgressBar1", a.status.fileMax, a.status.filePosition, a.shownBar1);
  bar("ProgressBar2", a.status.totalMax, a.status.totalPosition, a.shownBar2);
  if (CopyRunning()) taskbar_.Show(a.status.totalMax, a.status.totalPosition);
  a.logView.Show();
  // Painted now, not in a later pump: a refresh's cost, which paces the next
  // one, is then what it really costs.
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int64_t TForm1::CopyFileAtLevel(const std::string& source, const std::string& destination, int level,
                                bool renamed, std::vector<PutOffRescue>* putOff, bool fresh) {
  return CopyStep([&] {
    return sk::CopyFileAtLevel(Copy().Environment(), source, destination, level, renamed, putOff, fresh);
  });
}

int64_t TForm1::NarrowPutOffRescue(PutOffRescue& file) {
  return CopyStep([&] { return sk::NarrowPutOffRescue(Copy().Environment(), file); });
}

int64_t TForm1::CopyStep(const std::function<int64_t()>& copy) {
  const bool alone = !Copy().copying;
  if (alone) BeginCopy();
  int64_t unread = 0;
  try {
    unread = copy();
  } catch (...) {
    if (alone) EndCopy();
    throw;
  }
  if (alone) EndCopy();
  return unread;
}

}  // namespace sk::ui
