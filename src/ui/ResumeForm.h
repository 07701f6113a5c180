// The resume tool window TForm3 ("Resumak").
#pragma once
#include "ui/Window.h"

namespace sk::ui {

class TForm3 : public Window {
 public:
  void Create();  // created hidden; runs FormCreate

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

}  // namespace sk::ui
