// The main window TForm1: the file list, the copy status, the event log, the
// menus and the tray. Its behaviour is split by area over MainForm*.cpp files.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "core/EventLog.h"
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

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  void FormCreate();
  void FormClose();
  HMENU BuildMenu();

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  HMENU menu_ = nullptr;
  HACCEL accel_ = nullptr;
};

}  // namespace sk::ui
