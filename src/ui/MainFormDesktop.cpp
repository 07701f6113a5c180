// What the main window does as a Windows user expects beyond its own
// commands: files and folders dropped from Explorer, the taskbar button's
// progress and flash, keys that act where the keyboard focus is, Tab between
// the controls, and the event log's context menu with copying and saving.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <stdexcept>

#include "core/EventLogModel.h"
#include "ui/ApplicationWindow.h"
#include "ui/CommonControls.h"
#include "ui/EventLogView.h"
#include "ui/ImageForm.h"
#include "ui/MainForm.h"
#include "ui/ResumeForm.h"
#include "ui/SettingsForm.h"
#include "win/Utf.h"
#include "win/WinDirectory.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

bool Pressed(int key) { return GetKeyState(key) < 0; }

void CopyToClipboard(HWND owner, const std::wstring& text) {
  // Another program may hold the clipboard for a moment.
  bool open = false;
  for (int attempt = 0; attempt < 10 && !(open = OpenClipboard(owner) != FALSE); ++attempt) Sleep(20);
  if (!open) throw std::runtime_error("Nie można otworzyć schowka");
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* data = memory ? GlobalLock(memory) : nullptr;
  if (!data) {
    if (memory) GlobalFree(memory);
    CloseClipboard();
    throw std::runtime_error("Out of memory");
  }
  memcpy(data, text.c_str(), bytes);
  GlobalUnlock(memory);
  const bool placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  if (!placed) GlobalFree(memory);
  CloseClipboard();
  if (!placed) throw std::runtime_error("Nie można skopiować do schowka");
}

}  // namespace

void TForm1::SetUpDesktop() {
  AcceptDrops(hwnd_);
  taskbar_.SetWindow(TaskbarWindow());

  popupMenu2_ = CreatePopupMenu();
  AppendMenuW(popupMenu2_, MF_STRING, static_cast<UINT_PTR>(RegisterCommand("Kopiuj1")), L"Kopiuj\tCtrl+C");
  AppendMenuW(popupMenu2_, MF_STRING, static_cast<UINT_PTR>(RegisterCommand("Zapiszdziennik1")),
              L"Zapisz dziennik...");
  TrackLogMenu = [this](HMENU menu, POINT at) {
    return static_cast<UINT>(TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0,
                                            hwnd_, nullptr));
  };
}

// ---------------------------------------------------------------- drops

bool TForm1::DropAllowed() const {
  // A dialog of the window's own has the window off.
  return runState_.May(RunCommand::Drop) && IsWindowEnabled(hwnd_) && Enabled("ListView1");
}

void TForm1::FormDropFiles(HDROP drop) {
  POINT at{};
  const std::vector<std::string> paths = TakeDrop(drop, at);
  if (paths.empty() || !DropAllowed()) return;
  RECT box{};
  GetWindowRect(Control("GroupBox1"), &box);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&box), 2);
  if (PtInRect(&box, at)) {
    // On the destination field: the first folder dropped becomes the destination.
    for (const auto& path : paths) {
      if (win::FolderExists(path)) {
        SetText("Edit1", path);
        return;
      }
    }
    return;
  }
  AddDroppedToList(paths);
}

void TForm1::AddDroppedToList(const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    // A walk lets messages through: a run or another drop may have begun.
    if (!DropAllowed()) return;
    if (win::FolderExists(path)) {
      AddFolderToList(path);
    } else {
      AddFileToList(path);
    }
  }
}

// ------------------------------------------------------------- the taskbar

HWND TForm1::TaskbarWindow() const { return application_ ? application_->hwnd() : hwnd_; }

bool TForm1::InBackground() const {
  HWND front = GetForegroundWindow();
  if (!front) return true;
  HWND owner = GetAncestor(front, GA_ROOTOWNER);
  std::vector<HWND> own = {TaskbarWindow(), hwnd_};
  for (const Window* form : OtherWindows())
    if (form) own.push_back(form->hwnd());
  for (HWND w : own)
    if (w && (owner == w || front == w)) return false;
  return true;
}

void TForm1::ShowRunOnTaskbar(bool running) {
  if (running) {
    taskbar_.Begin();
  } else {
    taskbar_.End(InBackground());
  }
}

// ------------------------------------------------------------- keyboard

TForm1::KeyRoute TForm1::RouteKey(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return KeyRoute::Shortcut;
  const WPARAM key = msg.wParam;
  const bool ctrl = Pressed(VK_CONTROL), alt = Pressed(VK_MENU), shift = Pressed(VK_SHIFT);
  if (key == VK_TAB && !ctrl && !alt) {
    MoveFocus(shift);
    return KeyRoute::Done;
  }
  if (alt) return KeyRoute::Shortcut;
  if (msg.hwnd == Control("Edit1")) {
    // The field's own editing keys.
    if (ctrl && !shift && key == 'A') {
      SendMessageW(msg.hwnd, EM_SETSEL, 0, -1);
      return KeyRoute::Done;
    }
    if (ctrl && !shift && key == 'C') {
      SendMessageW(msg.hwnd, WM_COPY, 0, 0);
      return KeyRoute::Done;
    }
    if (!ctrl && !shift && key == VK_DELETE) return KeyRoute::Control;
  } else if (msg.hwnd == Control("ListView2")) {
    if (ctrl && !shift && key == 'C') {
      Guarded([this] { Kopiuj1Click(); });  // the filter runs outside any window procedure
      return KeyRoute::Done;
    }
    if (ctrl && !shift && key == 'A') {
      SelectAllLogEntries();
      return KeyRoute::Done;
    }
  }
  return KeyRoute::Shortcut;
}

void TForm1::MoveFocus(bool backwards) {
  HWND focus = GetFocus();
  HWND from = focus && IsChild(hwnd_, focus) ? focus : nullptr;
  HWND next = GetNextDlgTabItem(hwnd_, from, backwards);
  if (!next) return;
  SetFocus(next);
  // As in a dialog: a field reached by Tab has its text selected, and the
  // focus is drawn from now on.
  if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(next, EM_SETSEL, 0, -1);
  SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

// ------------------------------------------------------------- the log's menu

void TForm1::ListView2ContextPopup(POINT at) {
  // A menu would hold a run for as long as it is open; Ctrl+C still copies.
  if (!runState_.May(RunCommand::PopupMenu)) return;
  if (at.x == -1 && at.y == -1) at = LogView().KeyboardMenuPoint();
  const bool selected = !LogView().Selected().empty();
  EnableMenuItem(popupMenu2_, static_cast<UINT>(ControlId("Kopiuj1")), MF_BYCOMMAND | (selected ? MF_ENABLED : MF_GRAYED));
  const bool idle = runState_.May(RunCommand::SaveLog);
  EnableMenuItem(popupMenu2_, static_cast<UINT>(ControlId("Zapiszdziennik1")),
                 MF_BYCOMMAND | (idle ? MF_ENABLED : MF_GRAYED));
  const UINT command = TrackLogMenu ? TrackLogMenu(popupMenu2_, at) : 0;
  if (command == static_cast<UINT>(ControlId("Kopiuj1")) && selected) {
    Kopiuj1Click();
  } else if (command == static_cast<UINT>(ControlId("Zapiszdziennik1")) && idle) {
    Zapiszdziennik1Click();
  }
}

void TForm1::SelectAllLogEntries() { LogView().SelectAll(); }

void TForm1::Kopiuj1Click() {
  const std::vector<size_t> selected = LogView().Selected();
  if (selected.empty()) return;
  std::string text;
  for (size_t index : selected) {
    if (!text.empty()) text += "\r\n";
    text += EventLogLine(EventLog().At(index), false);
  }
  CopyToClipboard(hwnd_, win::Widen(text));
}

void TForm1::Zapiszdziennik1Click() {
  std::wstring buffer = L"Dziennik Sektorian.txt";
  buffer.resize(32768, L'\0');
  if (!RunFileDialog(hwnd_,
                     {.title = "Zapisz dziennik",
                      .save = true,
                      .filter = L"Pliki tekstowe (*.txt)\0*.txt\0Wszystkie pliki (*.*)\0*.*\0",
                      .defaultExtension = L"txt",
                      .askOverwrite = true},
                     buffer))
    return;  // cancelled
  SaveLog(win::Narrow(buffer.c_str()));
}

void TForm1::SaveLog(const std::string& path) {
  const std::string text = EventLogFileText(EventLog());
  win::WinFileSystem files;
  try {
    std::unique_ptr<IFile> file = files.Open(path, OpenMode::CreateReadWrite);
    try {
      if (file->Write(text.data(), text.size()) != text.size()) throw FileError("I/O error 112", ERROR_DISK_FULL);
      file->Close();
    } catch (...) {
      file.reset();
      DeleteFileW(win::LongPath(path).c_str());  // no half-written log is left behind
      throw;
    }
  } catch (const std::exception& e) {
    throw std::runtime_error("Nie udało się zapisać dziennika do pliku " + path + ": " + e.what());
  }
}

}  // namespace sk::ui
