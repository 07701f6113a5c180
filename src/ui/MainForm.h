// The main window TForm1: the file list, the copy status, the event log, the
// menus and the tray. Its behaviour is split by area over MainForm*.cpp files.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/EventLog.h"
#include "core/FileFinder.h"
#include "core/RunState.h"
#include "core/Settings.h"
#include "ui/FolderBrowseDialog.h"
#include "ui/HttpFetch.h"
#include "ui/RunHost.h"
#include "ui/Taskbar.h"
#include "ui/TrayIcon.h"
#include "core/EventLogModel.h"
#include "ui/Window.h"
#include "win/WinDirectory.h"

namespace sk::win {
class IProcessList;
class TWinReboot;
}
namespace sk {
class RescueMap;
class SettingsStore;
class ISettingsControls;
struct PutOffRescue;
}  // namespace sk

namespace sk::ui {

class ApplicationWindow;
class EventLogView;
class TForm2;
class TForm3;
class TForm4;
class TForm5;

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
  TForm2* Form2() const { return form2_; }
  TForm3* Form3() const { return form3_; }
  HACCEL Accelerators() const { return accel_; }

  // ---- settings ----
  // The settings store with the one registry accessor in use; its five
  // moments run from FormCreate, the settings dialog and FormClose.
  SettingsStore& Settings();
  // The settings a run uses (the settings dialog edits them).
  RunSettings& LiveSettings() { return liveSettings_; }
  // As a run starting reads them: the stored ones when no dialog loaded them yet.
  const RunSettings& RunSettingsNow();

  // ---- runs in progress and closing ----
  // What runs now (nothing, a copy run, a "Resumak" run, a folder search, an
  // update check) and whether a close is pending: every command asks it
  // whether it may start (sk::MayStart). A run holds a RunInProgress for as
  // long as it pumps messages. Closing the main window meanwhile does not end
  // the program at once: it asks the run to stop (`requestStop`) and leaves
  // the close pending; when the run has unwound, the close completes (the
  // settings are saved once, the program ends). A run that finds
  // ClosePending() should skip its after-copy action.
  class RunInProgress {
   public:
    // Begins a run of `kind` when the run state allows it now; Began() tells.
    RunInProgress(TForm1& form, RunKind kind, std::function<void()> requestStop);
    ~RunInProgress();
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;
    bool Began() const { return began_; }

   private:
    friend class TForm1;
    TForm1& form_;
    std::function<void()> requestStop_;
    bool began_ = false;
  };
  const RunState& Runs() const { return runState_; }
  bool ClosePending() const { return runState_.ClosePending(); }
  bool RunActive() const { return runState_.Running() != RunKind::None; }
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
  void Podrcznik1Click();    // "Podręcznik": the user's guide in the browser
  void SpeedButton3Click();  // "Strona WWW"
  void Oprogramie1Click();   // "O programie"
  void Mapaodczytu1Click();  // "Mapa odczytu...": the read map window, brought to the front

  // ---- the read map window (MainFormMap.cpp) ----
  // Created when first opened; one instance, modeless, hidden when closed.
  TForm4& MapWindow();
  // A rescue's map at its start, paced refreshes and end, from this window's
  // copies and from "Resumak": shown by the map window once it exists.
  void ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live);

  // ---- the disc image window (MainFormImage.cpp) ----
  // Created when first opened; one instance, modeless, hidden when closed.
  // Its run is a run of this window's run state (RunKind::Image): the menus
  // and the list are held as during a copy run in rescue mode, and the map
  // window follows it.
  TForm5& ImageWindow();
  // Every window of the program but the main one, in one list (nullptr: not
  // made yet): told when what runs changes, hidden at once by a close that
  // waits for a run, counted as the program's own by the taskbar.
  std::vector<Window*> OtherWindows() const;
  bool HasImageWindow() const { return form5_ != nullptr; }
  void Obrazpyty1Click();  // "Obraz płyty..."

  // ---- file list ----
  void Button1Click();             // "Dodaj plik(i)"
  void Wpiszciekfolderu1Click();   // "Dodaj pliki z wpisanej ścieżki"
  void Wybierzfolder1Click();      // "Dodaj pliki z wybranej ścieżki"
  void Button3Click();             // "Usuń z listy zaznaczone"
  void Button4Click();             // "Wyczyść listę"
  void Button5Click();             // "..." (destination folder)

  // The list in order: the captions are the source paths a copy run opens.
  int ListCount() const;
  std::string ListCaption(int index) const;
  std::vector<std::string> ListCaptions() const;
  std::string ListSizeText(int index) const;
  // The destination folder as typed (Edit1).
  std::string Destination() const { return Text("Edit1"); }
  // The list's hint switch (its info tips); on by default, off during a copy run.
  void SetListHints(bool on);
  bool ListHints() const { return listHints_; }
  // Switch the list, its buttons and the destination field on or off.
  void EnableListControls(bool on);
  // Append one file: caption `path` as given, size text computed now.
  void AddFileToList(const std::string& path);
  // Search `root` with FileFinder1 and append every file found, in order;
  // each folder that could not be read is logged as an error. Nothing happens
  // while another search runs. The search is a run in progress: closing the
  // window stops it, and nothing it found is listed.
  void AddFolderToList(const std::string& root);
  // A folder search is running: its message pump lets user input through,
  // and the list commands, Start and a second search are held off meanwhile.
  bool SearchRunning() const { return runState_.Running() == RunKind::Search; }

  // ---- copy run (MainFormRun.cpp) ----
  void Button8Click();   // Start ("Rozpocznij", Button7)
  void Button65Click();  // Stop ("Zatrzymaj")
  // A copy run is under way (from Start to the end of its after-copy action).
  bool CopyRunning() const { return runState_.Running() == RunKind::Copy; }
  // The shut-down component of the after-copy action "Wyłącz komputer"
  // (null: the program's own); tests give one that shuts nothing down.
  void SetWinReboot(win::TWinReboot* reboot) { winReboot_ = reboot; }
  // Called inside a copy run just before each file is copied, with its list
  // index; tests act from it while the run is under way.
  std::function<void(int index)> CopyRunFileHook;
  // Ties this window to the other two forms once all three exist: the size
  // check and the action choice of the settings dialog, and the resume tool's
  // runs (never beside a copy run, and stopped by a close like one).
  void ConnectForms();

  // ---- update check ----
  // The address of the update server's folder (ends with "/").
  static constexpr const char* kUpdateBaseAddress = "http://update.sektorian.example/";
  THttpFetch HttpFetch1;
  void HttpFetch1Progress(THttpFetchThread& sender, int64_t totalSize, int64_t readed);
  // Terminates every other process of this very executable (same full path),
  // then the program's own.
  void TerminateInstances();
  // Where the check fetches from, where it puts Update.ini, SKTRN.tmp and
  // Swapit.exe (empty: the program folder), and whose processes it walks
  // (nullptr: the system's). The tests give their own.
  void SetUpdateBaseAddress(const std::string& url) { updateBaseAddress_ = url; }
  void SetUpdateFolder(const std::string& folder) { updateFolder_ = folder; }
  void SetProcessList(win::IProcessList* list) { processList_ = list; }
  // The public key (P-256 point X then Y) whose signature an update must
  // carry: the release key unless a test gives its own.
  void SetUpdatePublicKey(const std::string& key) { updatePublicKey_ = key; }
  // How long a fetch of the check may go without data before it fails
  // (milliseconds, 30 s unless a test gives another time).
  void SetUpdateStallTimeout(int ms) { updateStallTimeout_ = ms; }
  // Switches the settings dialog's after-copy action group on or off; the
  // settings dialog wires it (no-op until then).
  std::function<void(bool on)> EnableAfterCopyActions = [](bool) {};
  // Sees every event-log entry the update check writes (rewrite: the newest
  // entry's text was replaced).
  std::function<void(const std::string& text, EventKind kind, bool rewrite)> UpdateLogHook;
  // The update hand-over cleared the close handler: closing the window no
  // longer saves the settings.
  bool CloseHandlerCleared() const { return closeHandlerCleared_; }

  // ---- menus ----
  // A top-level menu by name ("Plik1", "Lista1", "Narzdzia1", "Pomoc1").
  void EnableTopMenu(std::string_view name, bool on);
  bool TopMenuEnabled(std::string_view name) const;

  // ---- tray ----
  // The tray icon, created with the window; its pop-up menu PopupMenu1 holds
  // "&Pokaż" (Poka1) and "&Schowaj do traya" (Schowajdotraya1).
  std::unique_ptr<TTrayIcon> TrayIcon1;
  HMENU PopupMenu1() const { return popupMenu1_; }
  void TrayIcon1MinimizeToTray();
  void Poka1Click();
  void Schowajdotraya1Click();
  // Minimise the application (the after-copy action "Zminimalizuj do
  // traya"): the window goes to the tray as by its minimise button.
  void MinimizeApplication();
  // Build the tray icon again on `shell` (null: the system's), so that tests
  // can read every record it sends. Its icon leaves the tray.
  void SetTrayShell(ITrayShell* shell);

  // ---- the taskbar button (MainFormDesktop.cpp) ----
  // The window that carries the program's taskbar button, with the
  // application title as its text; it owns this window.
  HWND TaskbarWindow() const;
  // A copy or resume run shows its overall progress on the button, at the
  // run's paced moments; `taskbar` null: the shell's own. Tests record it.
  void SetTaskbar(ITaskbar* taskbar) { taskbar_.SetTaskbar(taskbar); }
  TaskbarProgress& Taskbar() { return taskbar_; }

  // ---- drag and drop, keyboard, the log's menu (MainFormDesktop.cpp) ----
  // Files and folders dropped on the window (WM_DROPFILES): on the
  // destination box a folder becomes the destination; anywhere else they are
  // added to the list, a file as itself, a folder walked as a typed path is.
  // Nothing happens while a copy, resume, search or update check runs.
  void FormDropFiles(HDROP drop);
  // What a key press in the main window does, by where the keyboard focus
  // is: a key for the focused control (the destination field's own editing
  // keys, the event log's copy and select-all, Tab between the controls) is
  // done here (Done) or left to the control (Control); every other key may be
  // a shortcut of the window (Shortcut).
  enum class KeyRoute { Shortcut, Control, Done };
  KeyRoute RouteKey(const MSG& msg);
  // The event log's context menu PopupMenu2: "Kopiuj" (Kopiuj1) and
  // "Zapisz dziennik..." (Zapiszdziennik1); `at` in screen coordinates, or
  // (-1, -1) for the keyboard's menu key.
  void ListView2ContextPopup(POINT at);
  HMENU PopupMenu2() const { return popupMenu2_; }
  void Kopiuj1Click();          // the selected entries' texts, one a line, to the clipboard
  void Zapiszdziennik1Click();  // the whole log into a text file chosen in a save dialog
  // Select every entry of the event log.
  void SelectAllLogEntries();
  // Write the whole log to `path` (UTF-8 with a byte-order mark, "[kind]
  // text" a line); a failure throws with the program's text.
  void SaveLog(const std::string& path);
  // Opens the log's menu and returns the chosen command's id (0: none);
  // tests stand in for the modal menu.
  std::function<UINT(HMENU menu, POINT at)> TrackLogMenu;
  // ---- copy status area and the copy of one file (MainFormCopy.cpp) ----
  // Copy one file at a level (0..4) with this window as the copy's view; a
  // failure that ends the copy is thrown (a FileError) after it was logged.
  // In rescue mode (the settings dialog's CheckBox2) the file is rescued
  // instead; returns the bytes left unread (0 outside rescue mode).
  // `renamed`: the log names the destination (a same-named file of the run).
  // `putOff`: round one of a rescue run (see sk::RescueFileAtLevel).
  // `fresh`: the destination is created new (see sk::CopyFileAtLevel).
  int64_t CopyFileAtLevel(const std::string& source, const std::string& destination, int level,
                          bool renamed = false, std::vector<PutOffRescue>* putOff = nullptr, bool fresh = false);
  // Round two of a rescue run: a file put off in round one, finished.
  int64_t NarrowPutOffRescue(PutOffRescue& file);
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
  // Whether a copied file's size is compared with its source's (the run
  // setting by default).
  void SetSizeCheckSource(std::function<bool()> source) { sizeCheck_ = std::move(source); }
  // Whether files are copied in rescue mode (the run setting by default).
  void SetRescueModeSource(std::function<bool()> source) { rescueMode_ = std::move(source); }

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  // One file's copy (or round two's rescue) bracketed as a run's file when
  // it comes outside a run.
  int64_t CopyStep(const std::function<int64_t()>& copy);
  void FormCreate();
  void FormClose();
  // Every close of the main window comes here (WM_CLOSE).
  void CloseRequested();
  HMENU BuildMenu();
  void SetUpFileList();
  bool HandleListMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  void SetWaitPointer(bool wait);
  // A command of a main-menu item runs only while its top menu is enabled
  // (this holds its shortcut too); a tray-menu command only from an enabled item.
  bool MenuCommandAllowed(const std::string& name) const;
  void BuildTrayMenu();
  void CreateTrayIcon1(ITrayShell* shell);
  void SetUpDesktop();
  bool DropAllowed() const;
  void AddDroppedToList(const std::vector<std::string>& paths);
  void MoveFocus(bool backwards);
  // No window of the program is in the foreground.
  bool InBackground() const;
  // A copy or resume run begins or ends on the taskbar button; an end while
  // the program is in the background flashes it.
  void ShowRunOnTaskbar(bool running);

  void DesignHttpFetch1();
  void EnableUpdateControls(bool on);
  void UpdateLog(const std::string& text, EventKind kind);
  std::string UpdateFolder() const;
  struct UpdateCheckWindow;
  // The counter of the download under way (none for the description and its
  // signature), set by the check for each fetch.
  std::function<void(int64_t total, int64_t received)> fetchProgress_;

  std::string updateBaseAddress_ = kUpdateBaseAddress;
  std::string updatePublicKey_;  // empty: the release key
  std::string updateFolder_;
  win::IProcessList* processList_ = nullptr;
  int updateStallTimeout_ = 30000;
  bool closeHandlerCleared_ = false;

  struct CopyArea;
  struct CopyAreaDeleter {
    void operator()(CopyArea* area) const;
  };
  CopyArea& Copy() const;
  // The host of the copy run: its token, the worker of a rescue's file
  // calls, the pacer of its refreshes.
  RunHost& CopyHost() const;
  EventLogView& LogView() const;
  void SetUpStatusArea();
  bool NotifyStatusArea(const NMHDR& hdr, LRESULT& result);
  mutable std::unique_ptr<CopyArea, CopyAreaDeleter> copy_;
  bool stopRequested_ = false;
  double copyStartTime_ = 0;
  RunSettings liveSettings_;
  std::function<bool()> sizeCheck_ = [this] { return liveSettings_.checkFiles; };
  std::function<bool()> rescueMode_ = [this] { return liveSettings_.rescueMode; };
  // Rescue mode as it was when the copy run began: every file of the run is
  // copied in it, whatever the settings say meanwhile.
  std::optional<bool> runRescueMode_;
  bool RescueModeNow() const { return runRescueMode_ ? *runRescueMode_ : rescueMode_ && rescueMode_(); }

  // What shows the run state: Start, the update check's menu item and
  // "Resumak"'s Start, brought up to date at every change of it.
  void RunStateChanged();
  // Whether a menu item that opens a dialog may be on now (any other item: true).
  bool RunGateOpen(std::string_view menuItem) const;
  // The tray icon's right button: whether its menu may open now.
  bool TrayIcon1Popup();
  void UpdateStartButton();
  void SetRunControls(bool running);
  struct CopyRunWindow;
  win::TWinReboot* winReboot_ = nullptr;

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  HMENU menu_ = nullptr;
  HACCEL accel_ = nullptr;
  HMENU popupMenu1_ = nullptr;
  HMENU popupMenu2_ = nullptr;
  TaskbarProgress taskbar_;
  std::unique_ptr<ApplicationWindow> application_;
  HWND lastFocus_ = nullptr;  // the control that had the focus when the window was left
  std::unique_ptr<ISettingsControls> settingsControls_;
  std::unique_ptr<SettingsStore> settings_;
  RunState runState_;
  RunInProgress* run_ = nullptr;  // the run under way, when there is one
  // The gate of a window's run host: a run of `kind` begins when the run
  // state allows it, and holds a RunInProgress (stopped by `requestStop` on a
  // close) until it ends; `changed` is told after it began and before it ends.
  RunHost::Gate GateOfRun(RunKind kind, std::function<void()> requestStop, std::function<void(bool)> changed = {});

  struct MapWindowDeleter {
    void operator()(TForm4* form) const;
  };
  std::unique_ptr<TForm4, MapWindowDeleter> form4_;
  struct ImageWindowDeleter {
    void operator()(TForm5* form) const;
  };
  std::unique_ptr<TForm5, ImageWindowDeleter> form5_;
  // Told of the image window's runs.
  void ImageRunChanged(bool running);

  // ---- file list ----
  win::WinDirectory directory_;
  bool waitPointer_ = false;
  bool listHints_ = true;

 public:
  // The list's two components (after directory_, which the finder reads).
  FileFinder FileFinder1{directory_, [] { PumpMessages(); }, [this](bool wait) { SetWaitPointer(wait); }};
  FolderBrowseDialog FolderBrowseDialog1{this};
};

}  // namespace sk::ui
