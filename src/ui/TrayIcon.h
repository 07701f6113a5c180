// TTrayIcon: an icon with a tooltip in the notification area, its pop-up menu,
// and sending the owner form to the tray instead of minimising it.
//
// All tray icons of the process share one hidden top-level window that
// receives their callback messages (and the shell's "TaskbarCreated"
// broadcast); it is created with the first icon and destroyed with the last.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

namespace sk::ui {

// The callback message of every tray icon (WM_USER + 0x400).
inline constexpr UINT kTrayCallbackMessage = 0x800;
// The tooltip's limit in UTF-16 units (the record holds 128 with the terminator).
inline constexpr size_t kTrayTipLength = 127;

// The calls into the shell and the menu system, so that tests can read what
// the component sends and stand in for the modal pop-up menu.
class ITrayShell {
 public:
  virtual ~ITrayShell() = default;
  // Shell_NotifyIconW: NIM_ADD, NIM_DELETE, NIM_MODIFY.
  virtual bool Notify(DWORD message, const NOTIFYICONDATAW& data) = 0;
  // Show `menu` at `at` (screen coordinates) owned by `window`; returns the
  // chosen command's id, 0 when the menu was dismissed.
  virtual UINT TrackPopup(HMENU menu, POINT at, HWND window) = 0;
  // Add (`shown`) or remove the taskbar button of `window`.
  virtual void SetTaskbarButton(HWND window, bool shown) = 0;
};

// The real shell: Shell_NotifyIconW, TrackPopupMenu, ITaskbarList.
ITrayShell& SystemTrayShell();

enum class TrayButton { Left, Right, Middle };

// The tooltip that reaches the shell: the first 127 UTF-16 units of `hint`
// (one fewer when the 127th would split a surrogate pair); empty when
// `showHint` is false or `hint` is empty.
std::wstring TrayTip(const std::string& hint, bool showHint);

class TTrayIcon {
 public:
  // `owner`: the form that owns the icon and goes to the tray (may be null: no
  // form operations then). It is the program's main form and carries its own
  // taskbar button. `shell`: null for the real shell.
  explicit TTrayIcon(HWND owner, ITrayShell* shell = nullptr);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // ---- properties ----
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& utf8);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool on);
  // The component keeps its own copy of the icon and frees it.
  HICON Icon() const { return icon_; }
  void SetIcon(HICON icon);
  bool IconVisible() const { return iconVisible_; }
  void SetIconVisible(bool on);
  // Not owned; shown on the right button, its default item clicked on a
  // left double-click. Its commands reach the owner form as WM_COMMAND.
  HMENU PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(HMENU menu) { popupMenu_ = menu; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on) { enabled_ = on; }
  bool MinimizeToTray() const { return minimizeToTray_; }
  void SetMinimizeToTray(bool on) { minimizeToTray_ = on; }

  HWND Owner() const { return owner_; }
  // The window that carries the owner's taskbar button (null: the owner).
  void SetTaskbarWindow(HWND window) { taskbarWindow_ = window; }
  HWND TaskbarWindow() const { return taskbarWindow_ ? taskbarWindow_ : owner_; }
  UINT Id() const { return record_.uID; }

  // ---- events ----
  std::function<void()> OnMinimizeToTray;
  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  std::function<void(TrayButton)> OnMouseDown;
  std::function<void(TrayButton)> OnMouseUp;
  // Before the menu is shown: false keeps it closed.
  std::function<bool()> OnPopup;

  // ---- icon operations ----
  void AddIcon();
  void RemoveIcon();
  void UpdateIcon();

  // ---- window operations ----
  void RestoreMainForm();
  void HideMainForm();
  void ShowTaskbarButton();
  void HideTaskbarButton();
  void DoMinimizeToTray();
  void PopupAtCursor();

  // The shared tray window, null while no tray icon exists.
  static HWND SharedWindow();
  // The registered "TaskbarCreated" message.
  static UINT TaskbarCreatedMessage();

 private:
  friend struct TrayIconAccess;
  void Send(DWORD message);
  void HandleCallback(UINT mouseMessage);
  // The minimise step: false when it declines.
  bool MinimizeStep();
  LRESULT OwnerMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled);
  static LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR self);

  HWND owner_;
  HWND taskbarWindow_ = nullptr;
  ITrayShell* shell_;
  NOTIFYICONDATAW record_{};
  std::string hint_;
  bool showHint_ = true;
  HICON icon_ = nullptr;
  bool iconVisible_ = false;
  HMENU popupMenu_ = nullptr;
  bool enabled_ = true;
  bool minimizeToTray_ = false;
  bool subclassed_ = false;
  bool clickStarted_ = false;
};

}  // namespace sk::ui
