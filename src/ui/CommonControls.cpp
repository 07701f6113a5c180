#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <stdexcept>

#include "ui/CommonControls.h"
#include "ui/Window.h"
#include "win/Utf.h"

namespace sk::ui {

void AddListColumns(HWND list, std::initializer_list<ColumnSpec> columns) {
  int index = 0;
  for (const auto& c : columns) {
    std::wstring header = win::Widen(c.header);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = header.data();
    col.cx = Dpi(c.width);
    col.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&col));
    ++index;
  }
}

bool RunFileDialog(HWND owner, const FileDialogSpec& design, std::wstring& buffer) {
  if (buffer.size() < MAX_PATH) buffer.resize(MAX_PATH, L'\0');
  const std::wstring title = win::Widen(design.title);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = design.filter ? design.filter : L"Wszystkie pliki (*.*)\0*.*\0";
  ofn.lpstrDefExt = design.defaultExtension;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (design.save)
    ofn.Flags |= OFN_NOTESTFILECREATE;
  else
    ofn.Flags |= OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (design.multiSelect) ofn.Flags |= OFN_ALLOWMULTISELECT;
  if (design.askOverwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
  if (design.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn)) return true;
  if (const DWORD error = CommDlgExtendedError())
    throw std::runtime_error("Nie można otworzyć okna wyboru plików (błąd " + std::to_string(error) + ")");
  return false;
}

}  // namespace sk::ui
