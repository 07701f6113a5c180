// The settings dialog TForm2 ("Opcje programu"): its controls hold the live
// settings that the copy run reads.
#pragma once
#include "ui/Window.h"

namespace sk::ui {

class TForm1;

class TForm2 : public Window {
 public:
  explicit TForm2(TForm1& main) : main_(main) {}
  void Create();  // created hidden; runs FormCreate

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  TForm1& main_;
};

}  // namespace sk::ui
