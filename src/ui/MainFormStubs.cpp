// Handlers whose areas are still to be built.
#include "ui/MainForm.h"

namespace sk::ui {

void TForm1::FormCreate() {}
void TForm1::FormClose() {}
void TForm1::SpeedButton4Click() {}
void TForm1::Button6Click() {}
void TForm1::SpeedButton2Click() {}
void TForm1::Button1Click() {}
void TForm1::Wpiszciekfolderu1Click() {}
void TForm1::Wybierzfolder1Click() {}
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}
void TForm1::Button5Click() {}
void TForm1::Button8Click() {}

}  // namespace sk::ui
