#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

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

void AcceptDrops(HWND window) {
  // The message that carries a drop's data across processes; an elevated
  // program must let it in, with WM_DROPFILES and WM_COPYDATA.
  constexpr UINT kCopyGlobalData = 0x0049;
  DragAcceptFiles(window, TRUE);
  for (UINT message : {static_cast<UINT>(WM_DROPFILES), static_cast<UINT>(WM_COPYDATA), kCopyGlobalData})
    ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
}

std::vector<std::string> TakeDrop(HDROP drop, POINT& at) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(static_cast<size_t>(length) + 1, L'\0');
    DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(length);
    if (!path.empty()) paths.push_back(win::Narrow(path));
  }
  if (!DragQueryPoint(drop, &at)) at = {-1, -1};
  DragFinish(drop);
  return paths;
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
