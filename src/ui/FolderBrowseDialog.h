// The folder browse dialog: the shell's folder picker, rooted at the desktop,
// confirming only file-system folders, with the last confirmed folder
// preselected the next time it opens.
#pragma once
#include <windows.h>

#include <string>

namespace sk::ui {

class Window;

class FolderBrowseDialog {
 public:
  // `owner`: the form whose window owns the dialog.
  explicit FolderBrowseDialog(const Window* owner = nullptr) : owner_(owner) {}

  // In: the folder preselected when the dialog opens (when not empty).
  // Out: the confirmed folder's file-system path.
  std::string FolderName;

  // Shows the dialog modally; true when the user confirmed a folder, which
  // FolderName and DisplayName() then describe. On false both keep their
  // values.
  bool Execute();

  // The display name of the item confirmed last.
  const std::string& DisplayName() const { return displayName_; }
  // The dialog's window while Execute runs, else nullptr.
  HWND DialogWindow() const { return dialog_; }

 private:
  static int CALLBACK Callback(HWND hwnd, UINT msg, LPARAM lp, LPARAM data);
  const Window* owner_;
  std::string displayName_;
  HWND dialog_ = nullptr;
};

}  // namespace sk::ui
