// Handlers whose areas are still to be built.
#include "ui/MainForm.h"

namespace sk::ui {

void TForm1::Button8Click() {}

}  // namespace sk::ui
