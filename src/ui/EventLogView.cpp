#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "ui/EventLogView.h"

#include "ui/Resources.h"
#include "ui/Window.h"
#include "win/Utf.h"

namespace sk::ui {

EventLogView::~EventLogView() {
  if (images_) ImageList_Destroy(images_);
}

COLORREF EventLogView::RowColour(int kind) {
  switch (kind) {
    case ekError: return RGB(255, 202, 202);
    case ekSuccess: return RGB(165, 231, 146);
    case ekInfo: return RGB(183, 219, 255);
    default: return CLR_INVALID;
  }
}

void EventLogView::Attach(HWND list, HWND autoScroll) {
  list_ = list;
  autoScroll_ = autoScroll;
  // The image list is this object's; the list must not destroy it (it is
  // set twice, as small and as large images).
  SetWindowLongPtrW(list_, GWL_STYLE, GetWindowLongPtrW(list_, GWL_STYLE) | LVS_SHAREIMAGELISTS);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);

  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = Dpi(325);
  std::wstring caption = L"Zdarzenie";
  column.pszText = caption.data();
  ListView_InsertColumn(list_, 0, &column);

  images_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 0);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (int id : {IDI_EVENT_ERROR, IDI_EVENT_SUCCESS, IDI_EVENT_INFO}) {
    auto icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
    if (!icon) continue;  // a program built without its resources shows no icons
    ImageList_AddIcon(images_, icon);
    DestroyIcon(icon);
  }
  ListView_SetImageList(list_, images_, LVSIL_SMALL);
  ListView_SetImageList(list_, images_, LVSIL_NORMAL);
  ListView_SetItemCountEx(list_, 0, 0);
  shownCount_ = 0;
  shownRevision_ = model_.Revision();
  Show();
}

void EventLogView::Show() {
  if (!list_ || model_.Revision() == shownRevision_) return;
  const size_t count = model_.Count();
  const size_t before = shownCount_;
  if (count != shownCount_) {
    ListView_SetItemCountEx(list_, static_cast<int>(count), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    shownCount_ = count;
  }
  // The newest entry shown so far may have been rewritten since; the rows
  // after it are new. Only those in view are redrawn (each costs).
  if (count > 0) {
    const int top = ListView_GetTopIndex(list_);
    const int first = std::max(before > 0 ? static_cast<int>(before - 1) : 0, top);
    const int last = std::min(static_cast<int>(count - 1), top + ListView_GetCountPerPage(list_));
    if (first <= last) ListView_RedrawItems(list_, first, last);
  }
  shownRevision_ = model_.Revision();
  ListView2Change();  // the new text and image are a change of the list
}

void EventLogView::ListView2Change() {
  if (!autoScroll_ || SendMessageW(autoScroll_, BM_GETCHECK, 0, 0) != BST_CHECKED) return;
  const int count = ListView_GetItemCount(list_);
  if (count == 0) return;
  // Scroll by the newest entry's distance from the top of the visible area:
  // it comes into view as far as the list can scroll.
  RECT r{};
  r.left = LVIR_BOUNDS;
  if (SendMessageW(list_, LVM_GETITEMRECT, static_cast<WPARAM>(count - 1), reinterpret_cast<LPARAM>(&r)))
    ListView_Scroll(list_, 0, r.top);
}

LRESULT EventLogView::ListView2CustomDrawItem(NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      const size_t index = draw.nmcd.dwItemSpec;
      if (index < model_.Count()) {
        const COLORREF colour = RowColour(model_.At(index).kind);
        if (colour != CLR_INVALID) draw.clrTextBk = colour;
      }
      return CDRF_DODEFAULT;
    }
    default: return CDRF_DODEFAULT;
  }
}

void EventLogView::GetDisplayInfo(LVITEMW& item) {
  if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= model_.Count()) return;
  const EventLogModel::Entry& entry = model_.At(static_cast<size_t>(item.iItem));
  if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
    textBuffer_ = win::Widen(entry.text);
    lstrcpynW(item.pszText, textBuffer_.c_str(), item.cchTextMax);
  }
  if (item.mask & LVIF_IMAGE) item.iImage = entry.kind >= ekError && entry.kind <= ekInfo ? entry.kind : -1;
}

std::vector<size_t> EventLogView::Selected() const {
  std::vector<size_t> selected;
  if (!list_) return selected;
  for (int i = -1; (i = ListView_GetNextItem(list_, i, LVNI_SELECTED)) >= 0;) {
    if (static_cast<size_t>(i) < model_.Count()) selected.push_back(static_cast<size_t>(i));
  }
  return selected;
}

void EventLogView::SelectAll() {
  if (list_) ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
}

POINT EventLogView::KeyboardMenuPoint() const {
  POINT at{Dpi(8), Dpi(8)};
  const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
  RECT row{};
  RECT client{};
  GetClientRect(list_, &client);
  if (focused >= 0 && ListView_GetItemRect(list_, focused, &row, LVIR_LABEL) && row.bottom > client.top &&
      row.top < client.bottom) {
    at = {row.left, std::min(row.bottom, client.bottom)};
  }
  ClientToScreen(list_, &at);
  return at;
}

bool EventLogView::OnNotify(const NMHDR& hdr, LRESULT& result) {
  if (!list_ || hdr.hwndFrom != list_) return false;
  result = 0;
  switch (hdr.code) {
    case LVN_GETDISPINFOW:
      GetDisplayInfo(reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&hdr))->item);
      return true;
    case NM_CUSTOMDRAW:
      result = ListView2CustomDrawItem(*reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(&hdr)));
      return true;
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:
      ListView2Change();
      return true;
    default: return false;
  }
}

}  // namespace sk::ui
