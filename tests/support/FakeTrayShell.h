// A stand-in for the shell behind the tray icon: it records every record the
// component sends, every pop-up menu it opens and every taskbar-button change;
// a pop-up menu answers with `answer` at once instead of waiting for the user.
#pragma once
#include <windows.h>

#include <utility>
#include <vector>

#include "ui/TrayIcon.h"

namespace sk::test {

class FakeTrayShell : public ui::ITrayShell {
 public:
  struct Sent {
    DWORD message;
    NOTIFYICONDATAW data;
  };
  struct Popup {
    HMENU menu;
    POINT at;
    HWND window;
  };
  std::vector<Sent> sent;
  std::vector<Popup> popups;
  std::vector<std::pair<HWND, bool>> buttons;  // window, shown; in order
  UINT answer = 0;

  bool Notify(DWORD message, const NOTIFYICONDATAW& data) override {
    sent.push_back({message, data});
    return true;
  }
  UINT TrackPopup(HMENU menu, POINT at, HWND window) override {
    popups.push_back({menu, at, window});
    return answer;
  }
  void SetTaskbarButton(HWND window, bool shown) override { buttons.emplace_back(window, shown); }

  // How many records of `message` were sent (for icon `id`, or any icon).
  int Count(DWORD message) const {
    int n = 0;
    for (const auto& s : sent) n += s.message == message;
    return n;
  }
  int Count(DWORD message, UINT id) const {
    int n = 0;
    for (const auto& s : sent) n += s.message == message && s.data.uID == id;
    return n;
  }
};

}  // namespace sk::test
