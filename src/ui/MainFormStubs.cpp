// Handlers whose areas are still to be built.
#include "ui/MainForm.h"

namespace sk::ui {

void TForm1::LogEvent(const std::string&, EventKind) {}
void TForm1::RewriteNewestEntry(const std::string&) {}
void TForm1::Button8Click() {}
void TForm1::Button65Click() {}

}  // namespace sk::ui
