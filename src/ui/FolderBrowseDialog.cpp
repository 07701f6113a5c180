#include <windows.h>
#include <shlobj.h>

#include "ui/FolderBrowseDialog.h"
#include "ui/Window.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

// The file-system path of a shell item; empty when it has none (a virtual
// item such as the Control Panel). Paths of any length.
std::string ItemPath(PCIDLIST_ABSOLUTE item) {
  std::wstring path(32768, L'\0');
  if (!SHGetPathFromIDListEx(item, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
    path.assign(MAX_PATH, L'\0');
    if (!SHGetPathFromIDListW(item, path.data())) return {};
  }
  path.resize(wcslen(path.c_str()));
  return win::Narrow(path);
}

}  // namespace

bool FolderBrowseDialog::Execute() {
  wchar_t display[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = owner_ ? owner_->hwnd() : nullptr;
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = display;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = Callback;
  info.lParam = reinterpret_cast<LPARAM>(this);
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
  dialog_ = nullptr;
  if (!item) return false;
  FolderName = ItemPath(item);
  displayName_ = win::Narrow(display);
  CoTaskMemFree(item);
  return true;
}

int CALLBACK FolderBrowseDialog::Callback(HWND hwnd, UINT msg, LPARAM lp, LPARAM data) {
  auto* self = reinterpret_cast<FolderBrowseDialog*>(data);
  switch (msg) {
    case BFFM_INITIALIZED:
      self->dialog_ = hwnd;
      if (!self->FolderName.empty()) {
        const std::wstring path = win::Widen(self->FolderName);
        SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
      }
      break;
    case BFFM_SELCHANGED: {
      // Only file-system folders can be confirmed.
      const bool fileSystem = !ItemPath(reinterpret_cast<PCIDLIST_ABSOLUTE>(lp)).empty();
      HWND ok = GetDlgItem(hwnd, IDOK);
      if (ok && !fileSystem && IsWindowEnabled(ok)) SendMessageW(hwnd, BFFM_ENABLEOK, 0, FALSE);
      break;
    }
    default:
      break;
  }
  return 0;
}

}  // namespace sk::ui
