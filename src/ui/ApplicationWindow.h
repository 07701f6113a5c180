// The application's own top-level window. It carries the program's taskbar
// button, whose text is therefore the application title "Sektorian" while the
// main window keeps its full caption, and it owns the main window (an owned
// window has no button of its own). It is never seen: it has no size, it is
// on the taskbar exactly while the main window is visible, it hands its
// activation to the main window, and the button's commands (minimise,
// restore, close) go to the main window as if they were the main window's.
#pragma once
#include <windows.h>

namespace sk::ui {

class ApplicationWindow {
 public:
  ApplicationWindow();
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  // The window that takes the activation and the button's commands.
  void SetMainWindow(HWND main) { main_ = main; }
  // On the taskbar (shown, never activated) or off it, as the main window is
  // shown or hidden.
  void FollowMainWindow(bool visible);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void ActivateMainWindow();
  // The taskbar's previews: a picture of the main window instead of the
  // empty frame of this window (where the system draws previews).
  void SendThumbnail(int maxWidth, int maxHeight);
  void SendLivePreview();

  HWND hwnd_ = nullptr;
  HWND main_ = nullptr;
};

}  // namespace sk::ui
