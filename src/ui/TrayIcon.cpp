#include <windows.h>
#include "ui/TrayIcon.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "ui/Window.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

// ---------------------------------------------------------------- the shell

class SystemShell final : public ITrayShell {
 public:
  bool Notify(DWORD message, const NOTIFYICONDATAW& data) override {
    return Shell_NotifyIconW(message, const_cast<NOTIFYICONDATAW*>(&data)) != FALSE;
  }
  UINT TrackPopup(HMENU menu, POINT at, HWND window) override {
    return static_cast<UINT>(
        TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, 0, window, nullptr));
  }
  // The main window carries its own taskbar button; the shell's taskbar list
  // adds or removes the button alone, without showing or hiding the window.
  void SetTaskbarButton(HWND window, bool shown) override {
    ITaskbarList* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList,
                                reinterpret_cast<void**>(&list))))
      return;
    if (SUCCEEDED(list->HrInit())) {
      if (shown)
        list->AddTab(window);
      else
        list->DeleteTab(window);
    }
    list->Release();
  }
};

void CopyTip(const std::wstring& tip, wchar_t (&dest)[128]) {
  std::fill(std::begin(dest), std::end(dest), L'\0');
  std::copy(tip.begin(), tip.end(), dest);
}

}  // namespace

ITrayShell& SystemTrayShell() {
  static SystemShell shell;
  return shell;
}

std::wstring TrayTip(const std::string& hint, bool showHint) {
  if (!showHint || hint.empty()) return {};
  std::wstring tip = win::Widen(hint);
  if (tip.size() > kTrayTipLength) {
    tip.resize(kTrayTipLength);
    if (tip.back() >= 0xD800 && tip.back() <= 0xDBFF) tip.pop_back();  // half a surrogate pair
  }
  return tip;
}

// ------------------------------------------------------ the shared window

// The hidden window that receives the callback messages of every tray icon of
// the process. A top-level window (not message-only), so that the shell's
// "TaskbarCreated" broadcast reaches it.
struct TrayIconAccess {
  static void Callback(TTrayIcon* icon, UINT mouse) { icon->HandleCallback(mouse); }
};

namespace {

constexpr const wchar_t* kHandlerClass = L"TTrayIconHandler";

struct TrayHandler {
  HWND hwnd = nullptr;
  int refs = 0;
  UINT nextId = 1;
  std::vector<TTrayIcon*> icons;

  TTrayIcon* Find(UINT id) const {
    for (TTrayIcon* t : icons)
      if (t->Id() == id) return t;
    return nullptr;
  }
};

TrayHandler& Handler() {
  static TrayHandler handler;
  return handler;
}

LRESULT CALLBACK HandlerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TrayHandler& h = Handler();
  if (msg == kTrayCallbackMessage) {
    // The first parameter names the icon; an unknown one is ignored.
    if (TTrayIcon* icon = h.Find(static_cast<UINT>(wp)))
      Guarded([&] { TrayIconAccess::Callback(icon, static_cast<UINT>(lp)); });
    return 0;
  }
  if (msg == TTrayIcon::TaskbarCreatedMessage() && msg != 0) {
    // The shell restarted: put back every icon that was in the tray. Copy the
    // list first, so that an icon going away meanwhile cannot upset the walk.
    const std::vector<TTrayIcon*> icons = h.icons;
    for (TTrayIcon* icon : icons)
      if (std::find(h.icons.begin(), h.icons.end(), icon) != h.icons.end() && icon->IconVisible())
        Guarded([&] { icon->AddIcon(); });
    return 0;
  }
  switch (msg) {
    // Nobody but the last tray icon ends this window: closing is refused, and
    // a query-end-session is always allowed.
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_QUIT:
    case WM_ENDSESSION:
      return 1;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

HWND JoinHandler() {
  TrayHandler& h = Handler();
  if (h.refs == 0) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass(kHandlerClass, HandlerProc, false, false);
    h.hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, kHandlerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             instance, nullptr);
    if (!h.hwnd) throw std::runtime_error("CreateWindowEx failed");
    // An elevated program still hears a restarted shell.
    ChangeWindowMessageFilterEx(h.hwnd, TTrayIcon::TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
  }
  ++h.refs;
  return h.hwnd;
}

void LeaveHandler() {
  TrayHandler& h = Handler();
  if (h.refs == 0) return;
  if (--h.refs == 0) {
    HWND w = h.hwnd;
    h.hwnd = nullptr;
    DestroyWindow(w);
  }
}

}  // namespace

HWND TTrayIcon::SharedWindow() { return Handler().hwnd; }

UINT TTrayIcon::TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

// --------------------------------------------------------------- the icon

TTrayIcon::TTrayIcon(HWND owner, ITrayShell* shell)
    : owner_(owner), shell_(shell ? shell : &SystemTrayShell()) {
  TrayHandler& h = Handler();
  HWND window = JoinHandler();
  record_.cbSize = sizeof(NOTIFYICONDATAW);
  record_.hWnd = window;
  record_.uID = h.nextId++;
  record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record_.uCallbackMessage = kTrayCallbackMessage;
  h.icons.push_back(this);
  if (owner_ && IsWindow(owner_))
    subclassed_ = SetWindowSubclass(owner_, OwnerProc, reinterpret_cast<UINT_PTR>(this),
                                    reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

TTrayIcon::~TTrayIcon() {
  RemoveIcon();
  if (subclassed_) RemoveWindowSubclass(owner_, OwnerProc, reinterpret_cast<UINT_PTR>(this));
  if (icon_) DestroyIcon(icon_);
  TrayHandler& h = Handler();
  h.icons.erase(std::remove(h.icons.begin(), h.icons.end(), this), h.icons.end());
  LeaveHandler();
}

void TTrayIcon::Send(DWORD message) {
  record_.hIcon = icon_;
  CopyTip(TrayTip(hint_, showHint_), record_.szTip);
  shell_->Notify(message, record_);  // not checked: the flags stay as set
}

void TTrayIcon::AddIcon() {
  iconVisible_ = true;
  Send(NIM_ADD);
}

void TTrayIcon::RemoveIcon() {
  iconVisible_ = false;
  Send(NIM_DELETE);
}

void TTrayIcon::UpdateIcon() { Send(NIM_MODIFY); }

void TTrayIcon::SetHint(const std::string& utf8) {
  hint_ = utf8;
  UpdateIcon();
}

void TTrayIcon::SetShowHint(bool on) {
  showHint_ = on;
  UpdateIcon();
}

void TTrayIcon::SetIcon(HICON icon) {
  // A picture that cannot be copied is shown as no icon.
  HICON copy = icon ? CopyIcon(icon) : nullptr;
  if (icon_) DestroyIcon(icon_);
  icon_ = copy;
  UpdateIcon();
}

void TTrayIcon::SetIconVisible(bool on) {
  if (on)
    AddIcon();
  else
    RemoveIcon();
}

// ------------------------------------------------------ window operations

void TTrayIcon::RestoreMainForm() {
  if (!owner_ || !IsWindow(owner_)) return;
  if (IsIconic(owner_)) ShowWindow(owner_, SW_RESTORE);
  ShowWindow(owner_, SW_SHOW);
  SetForegroundWindow(owner_);
}

void TTrayIcon::HideMainForm() {
  if (!owner_ || !IsWindow(owner_)) return;
  ShowWindow(owner_, SW_HIDE);
  HideTaskbarButton();
}

void TTrayIcon::ShowTaskbarButton() {
  if (owner_ && IsWindow(owner_)) shell_->SetTaskbarButton(TaskbarWindow(), true);
}

void TTrayIcon::HideTaskbarButton() {
  if (owner_ && IsWindow(owner_)) shell_->SetTaskbarButton(TaskbarWindow(), false);
}

void TTrayIcon::DoMinimizeToTray() {
  HideMainForm();
  SetIconVisible(true);
}

void TTrayIcon::PopupAtCursor() {
  if (!popupMenu_) return;
  POINT at{};
  GetCursorPos(&at);
  HWND tray = record_.hWnd;
  // The menu closes properly on a click elsewhere only when its window is in
  // the foreground.
  SetForegroundWindow(tray);
  PumpMessages();
  const UINT command = shell_->TrackPopup(popupMenu_, at, tray);
  HWND target = owner_ && IsWindow(owner_) ? owner_ : tray;
  if (command != 0 && target == owner_) SendMessageW(owner_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
  PostMessageW(target, WM_NULL, 0, 0);
}

// -------------------------------------------------------- mouse callbacks

void TTrayIcon::HandleCallback(UINT mouse) {
  if (!enabled_) return;
  switch (mouse) {
    case WM_LBUTTONDOWN:
      clickStarted_ = true;
      if (OnMouseDown) OnMouseDown(TrayButton::Left);
      break;
    case WM_LBUTTONUP: {
      const bool click = clickStarted_;
      clickStarted_ = false;
      if (click && OnClick) OnClick();
      if (OnMouseUp) OnMouseUp(TrayButton::Left);
      break;
    }
    case WM_LBUTTONDBLCLK: {
      clickStarted_ = false;
      if (OnDblClick) OnDblClick();
      // The menu's default item, skipping a disabled one (which cannot be
      // clicked).
      if (popupMenu_ && owner_ && IsWindow(owner_)) {
        const UINT item = GetMenuDefaultItem(popupMenu_, FALSE, 0);
        if (item != static_cast<UINT>(-1)) SendMessageW(owner_, WM_COMMAND, MAKEWPARAM(item, 0), 0);
      }
      break;
    }
    case WM_RBUTTONDOWN:
      if (OnMouseDown) OnMouseDown(TrayButton::Right);
      if (!OnPopup || OnPopup()) PopupAtCursor();
      break;
    case WM_RBUTTONUP:
      if (OnMouseUp) OnMouseUp(TrayButton::Right);
      break;
    case WM_MBUTTONDOWN:
      if (OnMouseDown) OnMouseDown(TrayButton::Middle);
      break;
    case WM_MBUTTONUP:
      if (OnMouseUp) OnMouseUp(TrayButton::Middle);
      break;
    default:
      break;
  }
}

// ------------------------------------------------- the owner form's hook

bool TTrayIcon::MinimizeStep() {
  if (!minimizeToTray_ || !OnMinimizeToTray) return false;
  OnMinimizeToTray();
  DoMinimizeToTray();
  return true;
}

LRESULT TTrayIcon::OwnerMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = false;
  switch (msg) {
    case WM_SHOWWINDOW:
      if (wp && lp == 0) {
        SetForegroundWindow(hwnd);
      } else if (!wp && lp == SW_PARENTCLOSING && MinimizeStep()) {
        handled = true;
        return 1;
      }
      break;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_MINIMIZE && MinimizeStep()) {
        handled = true;
        return 1;
      }
      if ((wp & 0xFFF0) == SC_RESTORE) {
        if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
        ShowWindow(hwnd, SW_SHOW);
      }
      break;
    case WM_SIZE:
      // The form carries its own taskbar button, so minimising it from there
      // (or by any other way that bypasses the minimise command) arrives here
      // and goes to the tray the same way as the minimise button.
      if (wp == SIZE_MINIMIZED && minimizeToTray_ && !MinimizeStep()) DoMinimizeToTray();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK TTrayIcon::OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR /*id*/,
                                      DWORD_PTR selfPtr) {
  auto* self = reinterpret_cast<TTrayIcon*>(selfPtr);
  if (msg == WM_NCDESTROY) {
    // The form goes before the icon: give it back its procedure now.
    RemoveWindowSubclass(hwnd, OwnerProc, reinterpret_cast<UINT_PTR>(self));
    self->subclassed_ = false;
    self->owner_ = nullptr;
    return DefSubclassProc(hwnd, msg, wp, lp);
  }
  bool handled = false;
  LRESULT result = 0;
  Guarded([&] { result = self->OwnerMessage(hwnd, msg, wp, lp, handled); });
  if (handled) return result;
  return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace sk::ui
