// What every window that runs (the main window, "Resumak", the disc image
// window) holds for its runs: the worker that makes a rescue's file calls off
// the window's thread, the pacer of the window's refreshes while such a call
// waits, and the run's token, which begins the run in the program's one run
// state and ends it on every way out of the run.
#pragma once
#include <functional>

#include "core/Clock.h"
#include "core/Pacer.h"
#include "ui/RescueFiles.h"

namespace sk::ui {

class RunHost {
 public:
  // Asked when a run begins (true: may it begin now?) and told when it has
  // ended (false; the answer is not used).
  using Gate = std::function<bool(bool running)>;

  // `files` make the worker's calls. While a call waits during a run,
  // `refresh` is called at the pacer's refresh moments.
  RunHost(IFileSystem& files, IClock& clock, std::function<void()> refresh);
  RunHost(const RunHost&) = delete;
  RunHost& operator=(const RunHost&) = delete;

  WorkerFileSystem& Files() { return worker_; }
  Pacer& WaitPacer() { return pacer_; }
  void SetGate(Gate gate) { gate_ = std::move(gate); }
  bool Running() const { return running_; }

  // Begins a run when the gate allows it (no gate: always); false otherwise.
  bool Begin();
  // Ends the run begun (nothing when none is).
  void End();

  // The token of one run: begun when made, ended when it goes (an exception
  // included) or at End(), whichever comes first.
  class Run {
   public:
    explicit Run(RunHost& host) : host_(host), began_(host.Begin()) {}
    ~Run() { End(); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    bool Began() const { return began_; }
    void End() {
      if (began_) host_.End();
      began_ = false;
    }

   private:
    RunHost& host_;
    bool began_;
  };

 private:
  void WhileWaiting();

  Gate gate_;
  std::function<void()> refresh_;
  bool running_ = false;
  Pacer pacer_;
  // Last: its thread ends before the pacer and the refresh go.
  WorkerFileSystem worker_;
};

}  // namespace sk::ui
