// The main window's disc image window: opened from "Narzędzia", its run is
// one of this window's runs, held and stopped as a copy run in rescue mode.
#include "ui/ImageForm.h"
#include "ui/MainForm.h"
#include "ui/MapForm.h"

namespace sk::ui {

void TForm1::ImageWindowDeleter::operator()(TForm5* form) const { delete form; }

TForm5& TForm1::ImageWindow() {
  if (!form5_) {
    std::unique_ptr<TForm5, ImageWindowDeleter> form(new TForm5);
    form->Create();
    form->SetDestinationSource([this] { return Destination(); });
    form->SetLogSink([this](const std::string& text, EventKind kind) { LogEvent(text, kind); });
    form->SetRunHook(GateOfRun(
        RunKind::Image, [this] { if (form5_) form5_->Button3Click(); },
        [this](bool running) { ImageRunChanged(running); }));
    form->SetRescueMapHook(
        [this](const std::string& path, const RescueMap& map, bool live) { ShowRescueMap(path, map, live); });
    form->RunsChanged(runState_);
    form5_ = std::move(form);
  }
  return *form5_;
}

void TForm1::Obrazpyty1Click() { ImageWindow().Open(); }

void TForm1::ImageRunChanged(bool running) {
  // The menus and the list as during a copy run in rescue mode; the map
  // window stays at hand.
  ShowRunOnTaskbar(running);
  for (const char* menu : {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"}) EnableTopMenu(menu, !running);
  EnableListControls(!running);
}

}  // namespace sk::ui
