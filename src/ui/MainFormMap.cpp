// The main window's read map window: opened from "Narzędzia", it follows
// the rescues of this window's copy runs and of "Resumak".
#include "ui/MainForm.h"
#include "ui/MapForm.h"

namespace sk::ui {

void TForm1::MapWindowDeleter::operator()(TForm4* form) const { delete form; }

TForm4& TForm1::MapWindow() {
  if (!form4_) {
    std::unique_ptr<TForm4, MapWindowDeleter> form(new TForm4);
    form->Create();
    form->HoldDialogs(!runState_.May(RunCommand::MapFiles));
    form4_ = std::move(form);
  }
  return *form4_;
}

void TForm1::Mapaodczytu1Click() { MapWindow().ShowModeless(); }

void TForm1::ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) {
  if (form4_) form4_->ShowRescueMap(mapPath, map, live);
}

}  // namespace sk::ui
