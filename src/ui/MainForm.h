// The main window TForm1: the file list, the copy status, the event log, the
// menus and the tray. Its behaviour is split by area over MainForm*.cpp files.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/EventLog.h"
#include "core/EventLogModel.h"
#include "ui/Window.h"

namespace sk::ui {

class TForm2;
class TForm3;

class TForm1 : public Window {
 public:
  TForm1();
  ~TForm1() override;
  void Create();  // creates the window (hidden) and runs FormCreate

  // The other two forms, created after this one (see the program's entry).
  void SetForms(TForm2* settings, TForm3* resume) {
    form2_ = settings;
    form3_ = resume;
  }
  HACCEL Accelerators() const { return accel_; }
  HMENU MainMenu() const { return menu_; }

  // ---- event log ----
  void LogEvent(const std::string& text, EventKind kind);
  // Set the text of the newest entry (its kind stays).
  void RewriteNewestEntry(const std::string& text);

  // ---- main menu and tray menu commands ----
  void Zamknij1Click();
  void SpeedButton4Click();  // "Resumak"
  void Button6Click();       // "Aktualizacja programu"
  void SpeedButton2Click();  // "Ustawienia programu"
  void SpeedButton3Click();  // "Strona WWW"
  void Oprogramie1Click();   // "O programie"

  // ---- file list ----
  void Button1Click();
  void Wpiszciekfolderu1Click();
  void Wybierzfolder1Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();

  // ---- copy run ----
  void Button8Click();   // Start ("Rozpocznij", Button7)
  void Button65Click();  // Stop ("Zatrzymaj")

  // ---- copy status area and the copy of one file (MainFormCopy.cpp) ----
  // Copy one file at a level (0..4) with this window as the copy's view; a
  // failure that ends the copy is thrown (a FileError) after it was logged.
  void CopyFileAtLevel(const std::string& source, const std::string& destination, int level);
  // A run brackets its files with these: in between, the status area and the
  // log show at paced moments; EndCopy shows them at once. A file copied
  // outside a run is bracketed by itself.
  void BeginCopy();
  void EndCopy();
  bool Copying() const;
  // ProgressBar2: the total size of all listed files and the bytes done of it.
  void SetOverallProgress(int64_t maximum, int64_t position);
  // Bring the status area and the event log up to date now.
  void ShowCopyStatus();
  const EventLogModel& EventLog() const;
  bool StopRequested() const { return stopRequested_; }
  void SetStopRequested(bool on) { stopRequested_ = on; }
  double CopyStartTime() const { return copyStartTime_; }  // local date-time, days
  void SetCopyStartTime(double days) { copyStartTime_ = days; }
  // Whether a copied file's size is compared with its source's (the settings
  // dialog's CheckBox1, wired by the run).
  void SetSizeCheckSource(std::function<bool()> source) { sizeCheck_ = std::move(source); }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  void FormCreate();
  void FormClose();
  HMENU BuildMenu();

  struct CopyArea;
  struct CopyAreaDeleter {
    void operator()(CopyArea* area) const;
  };
  CopyArea& Copy() const;
  void SetUpStatusArea();
  bool NotifyStatusArea(const NMHDR& hdr, LRESULT& result);
  mutable std::unique_ptr<CopyArea, CopyAreaDeleter> copy_;
  bool stopRequested_ = false;
  double copyStartTime_ = 0;
  std::function<bool()> sizeCheck_ = [] { return false; };

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  HMENU menu_ = nullptr;
  HACCEL accel_ = nullptr;
};

}  // namespace sk::ui
