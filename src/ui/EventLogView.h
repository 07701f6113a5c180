// The event log on screen (ListView2): an owner-data report list that shows an
// EventLogModel. The list holds no copy of the entries; it asks for the text
// and icon of a row when it draws it, so a new entry costs no row of its own.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/EventLogModel.h"

namespace sk::ui {

class EventLogView {
 public:
  explicit EventLogView(const EventLogModel& model) : model_(model) {}
  ~EventLogView();
  EventLogView(const EventLogView&) = delete;
  EventLogView& operator=(const EventLogView&) = delete;

  // Set up the list (column "Zdarzenie", ImageList1, whole-row selection);
  // `autoScroll` is the "Autoprzewijanie" check box.
  void Attach(HWND list, HWND autoScroll);
  // Bring the list up to date with the model (new rows, a rewritten newest
  // entry); it then follows the newest entry when "Autoprzewijanie" is checked.
  void Show();
  // A WM_NOTIFY of the list; true when it was the list's, with the result.
  bool OnNotify(const NMHDR& hdr, LRESULT& result);

  // The selected entries, oldest first.
  std::vector<size_t> Selected() const;
  void SelectAll();
  // Where the menu key opens the list's menu (screen coordinates): below the
  // focused entry when it is in view, else at the list's top left corner.
  POINT KeyboardMenuPoint() const;

  HIMAGELIST ImageList1() const { return images_; }
  // The row background of an entry kind; CLR_INVALID leaves the list's own.
  static COLORREF RowColour(int kind);

 private:
  LRESULT ListView2CustomDrawItem(NMLVCUSTOMDRAW& draw);
  void ListView2Change();
  void GetDisplayInfo(LVITEMW& item);

  const EventLogModel& model_;
  HWND list_ = nullptr;
  HWND autoScroll_ = nullptr;
  HIMAGELIST images_ = nullptr;
  size_t shownCount_ = 0;
  uint64_t shownRevision_ = 0;
  std::wstring textBuffer_;  // the text handed to the list for the row it draws
};

}  // namespace sk::ui
