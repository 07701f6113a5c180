// The disc image window TForm5 ("Obraz płyty"): a CD/DVD drive and an image
// file, the run that reads the whole disc into the image with its read map
// (the file system first, then the ticked files, then the rest), its status,
// and the disc's files with what the damage hit, to tick, sort, list into a
// text file and write out of the image.
#pragma once
#include "ui/Window.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/DiscImage.h"
#include "core/EventLog.h"
#include "core/Pacer.h"
#include "ui/RunHost.h"
#include "win/WinDevice.h"

namespace sk::ui {

class TForm5 : public Window, public IImageView {
 public:
  TForm5();
  ~TForm5() override;
  void Create();  // created hidden; runs FormCreate

  // Brings the window forward; outside a run the drives are listed afresh.
  void Open();

  // ---- handlers ----
  void FormCreate();
  void Button1Click();  // "...": the image file, from the save dialog "Zapisz obraz płyty"
  void Button2Click();  // "Rozpocznij"
  void Button3Click();  // "Zatrzymaj": the run stops after the block in hand
  void Button4Click();  // "Zapisz listę...": the list into the file of the save dialog "Zapisz listę plików"
  void Button5Click();  // "Zapisz pliki"
  void ListView1ColumnClick(int column);  // sorts by the column (again: the other way)

  // ---- the drives and the image ----
  void ListDrives();
  const std::vector<win::DiscDrive>& Drives() const { return drives_; }
  // Chooses the drive of `letter` in the drop-down; false when it is not listed.
  bool SelectDrive(char letter);
  // The image file as typed (Edit1).
  std::string ImagePath() const { return Text("Edit1"); }

  // ---- the list ----
  int RowCount() const { return static_cast<int>(rows_.size()); }
  std::string RowText(int row, int column) const;  // as shown
  const DiscEntry& RowEntry(int row) const { return tree_.entries.at(rows_.at(row)); }
  bool Ticked(int row) const { return ticks_.at(rows_.at(row)); }
  // Ticks or unticks a row as a click on its box does (the run's order
  // follows at once).
  void SetTicked(int row, bool on);
  const DiscTree& Tree() const { return tree_; }
  const RescueMap& Map() const { return map_; }
  bool HasTree() const { return hasTree_; }
  // Writes the list (FileListText) to `path`; throws with the program's text.
  void SaveList(const std::string& path);
  // Writes the ticked files (all when none is ticked) out of the image into
  // the destination folder, under the disc's own folder (SaveDiscFiles), as
  // a run of this window: nothing else starts meanwhile and "Zatrzymaj"
  // stops it after the file in hand. Returns how many were written whole.
  int SaveFiles();

  // ---- the run ----
  bool Running() const { return running_; }
  // Held while another run of the program is under way: "Rozpocznij",
  // "Zapisz pliki" and the dialogs are greyed and do nothing.
  void HoldStart(bool hold);
  bool StartHeld() const { return held_; }
  // Held while any run is under way (its own included): "..." and "Zapisz
  // listę..." are greyed and do nothing.
  void HoldDialogs(bool hold);
  void RunsChanged(const RunState& runs) override {
    HoldStart(!runs.May(RunCommand::ImageStart) && runs.Running() != RunKind::Image);
    HoldDialogs(!runs.May(RunCommand::ImageFiles));
  }
  // Asked when a run begins (true: may it begin?) and told when it has ended
  // (false; the answer is not used).
  void SetRunHook(RunHost::Gate hook) { host_.SetGate(std::move(hook)); }
  // The main window's destination folder and event log.
  void SetDestinationSource(std::function<std::string()> source) { destination_ = std::move(source); }
  void SetLogSink(std::function<void(const std::string&, EventKind)> sink) { log_ = std::move(sink); }
  // The run's map at its start, paced refreshes and end (the map window),
  // and who owns the disc's bytes once the files are listed.
  void SetRescueMapHook(std::function<void(const std::string&, const RescueMap&, bool)> hook) {
    rescueMapHook_ = std::move(hook);
  }
  // For the map window's chosen cell: the files (or "system plików") whose
  // data lie in [pos, end) of the disc, when `mapPath` is this image's map
  // and its files are listed; empty otherwise.
  std::string DescribeOwners(const std::string& mapPath, int64_t pos, int64_t end) const;
  // The box Ponów / Anuluj after the disc went away (tests answer it).
  std::function<bool()> AskRetry;
  // Called at every paced refresh of a run, and once the files are listed
  // (tests act from them).
  std::function<void()> RefreshHook, ListedHook;

  // ---- the window of a run, as the rescue session sees it ----
  void Progress(const RescueMap&) override {}
  void Pump() override;
  void Show() override;
  bool StopRequested() override { return stopRequested_; }
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) override;
  bool AskMediumRetry(MediumQuestion question) override;
  void Listed(const DiscTree& tree) override;
  // The layout: what the disc holds beside its data said in the log and the
  // status line; with areas not read, the domain mapfile beside the image.
  void LaidOut(const DiscLayout& layout) override;
  // What the disc holds beside its data, as the status line says it (empty
  // for a disc of one session of data).
  const std::string& LayoutSummary() const { return layoutText_; }
  std::vector<DiscExtent> Chosen() override { return chosen_; }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  void SetUpList();
  bool HandleNotify(const NMHDR& hdr, LRESULT& result);
  void ToggleRows(const std::vector<int>& rows);
  void TicksChanged();
  void SetRunning(bool running);
  void GateControls();
  void ShowStatus();
  void ShowTotals();
  void Box(const std::string& text, UINT flags = MB_OK | MB_ICONERROR);
  void Log(const std::string& text, EventKind kind);
  void RunImage(const win::DiscDrive& drive, const std::string& image);
  void WhileWaiting();

  win::DeviceFileSystem files_;
  std::unique_ptr<IClock> clock_;
  Pacer pacer_{*clock_};
  // The run's token; its reads and writes, off this window's thread.
  RunHost host_{files_, *clock_, [this] { WhileWaiting(); }};

  std::vector<win::DiscDrive> drives_;
  std::string devicePath_, imagePath_, mapPath_;
  RescueMap map_;
  // The data areas the run reads (none: the whole disc), and what the disc
  // holds beside them.
  std::optional<ByteAreas> dataAreas_;
  std::string layoutText_;
  DiscTree tree_;
  bool hasTree_ = false;
  std::unique_ptr<DiscOwners> owners_;
  std::vector<size_t> rows_;  // the entries in the order shown
  std::vector<bool> ticks_;   // by entry
  std::vector<DiscExtent> chosen_;
  int sortColumn_ = -1;
  bool sortDown_ = false;

  bool running_ = false, held_ = false, dialogsHeld_ = false, stopRequested_ = false;
  double startTime_ = 0;
  std::function<std::string()> destination_;
  std::function<void(const std::string&, EventKind)> log_;
  std::function<void(const std::string&, const RescueMap&, bool)> rescueMapHook_;
  std::wstring imageChoice_, listChoice_;
  std::string shown_[4];  // the status values as shown
  int64_t elapsed_ = 0;   // seconds of the last run, as shown
};

}  // namespace sk::ui
