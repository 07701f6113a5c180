// Small helpers around the common controls and dialogs the forms share.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace sk::ui {

// Report-view columns, left to right; widths in 96-DPI pixels.
struct ColumnSpec {
  const char* header;  // UTF-8
  int width;
};
void AddListColumns(HWND list, std::initializer_list<ColumnSpec> columns);

// The program's file dialogs: one filter "Wszystkie pliki (*.*)", the
// read-only box hidden, a resizable frame.
struct FileDialogSpec {
  const char* title;  // UTF-8
  bool save = false;  // the save dialog: no overwrite question, no existence check, no trial file
  bool multiSelect = false;
  // Filter pairs of a description and a pattern, each ended by a NUL, the
  // list by a second one; nullptr: the one filter "Wszystkie pliki (*.*)".
  const wchar_t* filter = nullptr;
  const wchar_t* defaultExtension = nullptr;  // added to a name typed without one
  bool askOverwrite = false;                   // the save dialog asks before replacing a file
};
// `buffer` holds the preselected name on entry (its size is the room for the
// answer) and the chosen name(s) on return. False when the user cancelled;
// a dialog that cannot be shown throws with the program's text.
bool RunFileDialog(HWND owner, const FileDialogSpec& design, std::wstring& buffer);

// Files dropped from Explorer reach `window` (WM_DROPFILES), also when the
// program runs elevated (the drop's messages are let in).
void AcceptDrops(HWND window);
// The dropped paths in the order Explorer gives them, and the drop point in
// the window's client coordinates ((-1, -1) when outside). The drop's memory
// is freed here.
std::vector<std::string> TakeDrop(HDROP drop, POINT& at);

}  // namespace sk::ui
