// The main window's read map window: opened from "Narzędzia", it follows
// the rescues of this window's copy runs and of "Resumak".
#include "ui/ImageForm.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"

namespace sk::ui {

void TForm1::MapWindowDeleter::operator()(TForm4* form) const { delete form; }

TForm4& TForm1::MapWindow() {
  if (!form4_) {
    std::unique_ptr<TForm4, MapWindowDeleter> form(new TForm4);
    form->Create();
    // A chosen cell of a disc image's map names the files whose data lie there.
    form->CellOwners = [this](const std::string& path, int64_t pos, int64_t end) {
      return form5_ ? form5_->DescribeOwners(path, pos, end) : std::string();
    };
    form->RunsChanged(runState_);
    form4_ = std::move(form);
  }
  return *form4_;
}

void TForm1::Mapaodczytu1Click() { MapWindow().ShowModeless(); }

void TForm1::ShowRescueMap(const std::string& mapPath, const RescueMap& map, bool live) {
  if (form4_) form4_->ShowRescueMap(mapPath, map, live);
}

}  // namespace sk::ui
