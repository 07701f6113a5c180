// The main window's file list: the source files of a copy run, the commands
// that fill and prune it, the destination folder, row colours and info tips.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <stdexcept>

#include "core/FileList.h"
#include "core/Formats.h"
#include "ui/InputPrompt.h"
#include "ui/MainForm.h"
#include "ui/CommonControls.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

constexpr const char* kList = "ListView1";

// The controls a copy run and the update check switch off while they run.
constexpr const char* kListControls[] = {"ListView1", "Button1", "Button2", "Button3",
                                         "Button4",   "Button8", "Edit1",   "Button5"};

std::string ItemText(HWND list, int item, int subItem) {
  std::wstring buffer(512, L'\0');
  for (;;) {
    LVITEMW it{};
    it.iSubItem = subItem;
    it.pszText = buffer.data();
    it.cchTextMax = static_cast<int>(buffer.size());
    const auto n = static_cast<size_t>(SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&it)));
    if (n + 1 < buffer.size()) {
      buffer.resize(n);
      return win::Narrow(buffer);
    }
    buffer.assign(buffer.size() * 4, L'\0');
  }
}

int ItemCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

void AppendItem(HWND list, const std::string& caption, const std::string& sizeText) {
  std::wstring text = win::Widen(caption);
  LVITEMW it{};
  it.mask = LVIF_TEXT;
  it.iItem = ItemCount(list);
  it.pszText = text.data();
  const auto index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it)));
  if (index < 0) throw std::runtime_error("Out of memory");
  std::wstring size = win::Widen(sizeText);
  LVITEMW sub{};
  sub.iSubItem = 1;
  sub.pszText = size.data();
  SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
}

// Holds the list's drawing off during a batch of changes and repaints it
// whole afterwards: the rows below a change take new indices and so new
// colours, and a list view that repaints row by row is slow.
class BatchUpdate {
 public:
  explicit BatchUpdate(HWND list) : list_(list) { SendMessageW(list_, WM_SETREDRAW, FALSE, 0); }
  ~BatchUpdate() {
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
  }
  BatchUpdate(const BatchUpdate&) = delete;
  BatchUpdate& operator=(const BatchUpdate&) = delete;

 private:
  HWND list_;
};

void AppendFiles(HWND list, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  const std::string separator = win::DecimalSeparator();
  BatchUpdate batch(list);
  for (const auto& path : paths) AppendItem(list, path, FormatSize(win::FileSizeByName(path), separator));
}

// The parts of a multiple-selection open dialog's answer: the folder and the
// names, or one full path; each ends in a NUL, the last one in two.
std::vector<std::string> SplitChosen(const std::wstring& buffer) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < buffer.size() && buffer[at] != L'\0') {
    const size_t end = buffer.find(L'\0', at);
    parts.push_back(win::Narrow(std::wstring_view(buffer).substr(at, end - at)));
    at = end + 1;
  }
  return parts;
}

}  // namespace

void TForm1::SetUpFileList() {
  HWND list = Control(kList);
  const DWORD ex = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
  AddListColumns(list, {{"Nazwa pliku", 550}, {"Rozmiar pliku", 99}});
  // The info tip has three lines: let its window break them.
  if (HWND tip = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETTOOLTIPS, 0, 0)))
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN));
}

bool TForm1::HandleListMessage(UINT msg, WPARAM /*wp*/, LPARAM lp, LRESULT& result) {
  if (msg == WM_SETCURSOR && waitPointer_) {
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    result = TRUE;
    return true;
  }
  if (msg != WM_NOTIFY) return false;
  const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
  HWND list = Control(kList);
  if (!hdr || hdr->hwndFrom != list) return false;
  switch (hdr->code) {
    case NM_CUSTOMDRAW: {  // ListView1CustomDrawItem
      auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lp);
      if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
        result = CDRF_NOTIFYITEMDRAW;
      } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        draw->clrTextBk = FileListRowColour(static_cast<int>(draw->nmcd.dwItemSpec));
        result = CDRF_NEWFONT;
      } else {
        result = CDRF_DODEFAULT;
      }
      return true;
    }
    case LVN_GETINFOTIPW: {  // ListView1InfoTip
      auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lp);
      if (!tip->pszText || tip->cchTextMax <= 0) break;
      if (!listHints_) {
        tip->pszText[0] = L'\0';
      } else {
        const std::wstring text = win::Widen(FileInfoTip(ListCaption(tip->iItem), ListSizeText(tip->iItem)));
        lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
      }
      result = 0;
      return true;
    }
    default:
      break;
  }
  return false;
}

void TForm1::SetWaitPointer(bool wait) {
  waitPointer_ = wait;
  SetCursor(LoadCursorW(nullptr, wait ? IDC_WAIT : IDC_ARROW));
}

int TForm1::ListCount() const { return ItemCount(Control(kList)); }
std::string TForm1::ListCaption(int index) const { return ItemText(Control(kList), index, 0); }
std::string TForm1::ListSizeText(int index) const { return ItemText(Control(kList), index, 1); }

std::vector<std::string> TForm1::ListCaptions() const {
  std::vector<std::string> captions;
  const int n = ListCount();
  captions.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) captions.push_back(ListCaption(i));
  return captions;
}

void TForm1::SetListHints(bool on) {
  listHints_ = on;
  HWND list = Control(kList);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_INFOTIP, on ? LVS_EX_INFOTIP : 0);
  if (HWND tip = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETTOOLTIPS, 0, 0)))
    SendMessageW(tip, TTM_ACTIVATE, on, 0);
}

void TForm1::EnableListControls(bool on) {
  for (const char* name : kListControls) Enable(name, on);
}

void TForm1::AddFileToList(const std::string& path) {
  AppendItem(Control(kList), path, FormatSize(win::FileSizeByName(path), win::DecimalSeparator()));
}

void TForm1::AddFolderToList(const std::string& root) {
  // Closing the window meanwhile stops the search at its next entry; what it
  // found stays out of the list, and the close completes when this returns.
  RunInProgress run(*this, RunKind::Search, [this] { FileFinder1.Stop(); });
  if (!run.Began()) return;
  FileFinder1.Path = root;
  FileFinder1.FindFiles();
  if (ClosePending()) return;
  for (const auto& folder : FileFinder1.FoldersUnreadable)
    LogEvent("Błąd: Nie można odczytać folderu " + folder, ekError);
  AppendFiles(Control(kList), FileFinder1.FilesFound);
}

void TForm1::Button1Click() {
  if (!runState_.May(RunCommand::AddFiles)) return;
  // Room for many long names: the folder and every chosen name, NUL-separated.
  std::wstring buffer(1 << 20, L'\0');
  if (!RunFileDialog(hwnd_, {.title = "Dodaj plik(i)", .multiSelect = true}, buffer)) return;  // cancelled
  AppendFiles(Control(kList), ChosenFilePaths(SplitChosen(buffer)));
}

void TForm1::Wpiszciekfolderu1Click() {
  if (!runState_.May(RunCommand::FolderSearch)) return;
  std::string path;
  if (!InputQuery(hwnd_, "Wpisywanie ścieżki", "Wpisz pełną ścieżkę, z której chcesz dodać pliki", path)) return;
  AddFolderToList(path);
}

void TForm1::Wybierzfolder1Click() {
  if (!runState_.May(RunCommand::FolderSearch)) return;
  if (!FolderBrowseDialog1.Execute()) return;
  AddFolderToList(FolderBrowseDialog1.FolderName);
}

void TForm1::Button3Click() {
  if (!runState_.May(RunCommand::ListEdit)) return;
  HWND list = Control(kList);
  std::vector<int> selected;
  for (int i = -1; (i = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;)
    selected.push_back(i);
  if (selected.empty()) return;
  BatchUpdate batch(list);
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) SendMessageW(list, LVM_DELETEITEM, *it, 0);
}

void TForm1::Button4Click() {
  if (!runState_.May(RunCommand::ListEdit)) return;
  SendMessageW(Control(kList), LVM_DELETEALLITEMS, 0, 0);
}

void TForm1::Button5Click() {
  if (!runState_.May(RunCommand::ChooseFolder)) return;
  if (FolderBrowseDialog1.Execute()) SetText("Edit1", FolderBrowseDialog1.FolderName);
}

}  // namespace sk::ui
