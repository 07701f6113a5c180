// The settings dialog TForm2 ("Opcje programu"): the editor of the run
// settings held by the main window. It shows them, and each change the user
// makes goes into them at once; runs read them there, never the controls.
#pragma once
#include "ui/Window.h"

namespace sk::ui {

class TForm1;

class TForm2 : public Window {
 public:
  explicit TForm2(TForm1& main) : main_(main) {}
  void Create();  // created hidden; runs FormCreate

  // ---- the settings as the controls show them; each setter sets the run
  // setting and shows it ----
  int Level() const;  // TrackBar1's position, 0..4
  void SetLevel(int level);  // brought into 0..4; the level label follows
  int ActionIndex() const;  // RadioGroup1's item index; -1 when no item is selected
  void SetActionIndex(int index);  // brought into -1..5
  std::string ProgramToRun() const;  // Edit1
  void SetProgramToRun(const std::string& path);
  bool SizeCheck() const;  // CheckBox1
  void SetSizeCheck(bool on);
  bool RescueMode() const;  // CheckBox2, under the level
  void SetRescueMode(bool on);
  // Show the run settings in the controls (after a load).
  void ShowSettings();
  // The copy run and the update check switch the action choice off while they run.
  void EnableActionChoice(bool on);
  bool ActionChoiceEnabled() const;
  // While held (a run is under way), "..." is greyed and does nothing: its
  // file dialog would hold the run.
  void HoldDialogs(bool hold);
  void RunsChanged(const RunState& runs) override { HoldDialogs(!runs.May(RunCommand::ProgramFile)); }
  bool DialogsHeld() const { return dialogsHeld_; }

  // ---- handlers ----
  void FormCreate();
  void TrackBar1Change();
  void Button1Click();  // "..."
  void Button2Click();  // "OK"
  void Button3Click();  // "Anuluj"

  // The radio items' control names, "RadioGroup1Item0" to "RadioGroup1Item5".
  static std::string RadioItemName(int index);
  static constexpr int kRadioItems = 6;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnCommand(const std::string& name, int code) override;

 private:
  TForm1& main_;
  bool dialogsHeld_ = false;
};

}  // namespace sk::ui
