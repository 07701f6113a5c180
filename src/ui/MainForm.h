// The main window TForm1: the file list, the copy status, the event log, the
// menus and the tray. Its behaviour is split by area over MainForm*.cpp files.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/EventLog.h"
#include "core/FileFinder.h"
#include "ui/FolderBrowseDialog.h"
#include "ui/Window.h"
#include "win/WinDirectory.h"

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
  // Search `root` with FileFinder1 and append every file found, in order.
  // Nothing happens while another search runs.
  void AddFolderToList(const std::string& root);
  // A folder search is running: its message pump lets user input through,
  // and the list commands, Start and a second search are held off meanwhile.
  bool SearchRunning() const { return searching_; }

  // ---- copy run ----
  void Button8Click();   // Start ("Rozpocznij", Button7)
  void Button65Click();  // Stop ("Zatrzymaj")

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  void FormCreate();
  void FormClose();
  HMENU BuildMenu();
  void SetUpFileList();
  bool HandleListMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  // A command that must wait while a folder search runs.
  bool HeldOffDuringSearch(const std::string& command) const;
  void SetWaitPointer(bool wait);

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  HMENU menu_ = nullptr;
  HACCEL accel_ = nullptr;

  // ---- file list ----
  win::WinDirectory directory_;
  bool searching_ = false;
  bool waitPointer_ = false;
  bool listHints_ = true;

 public:
  // The list's two components (after directory_, which the finder reads).
  FileFinder FileFinder1{directory_, [] { PumpMessages(); }, [this](bool wait) { SetWaitPointer(wait); }};
  FolderBrowseDialog FolderBrowseDialog1{this};
};

}  // namespace sk::ui
