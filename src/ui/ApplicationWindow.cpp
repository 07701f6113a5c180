#include <windows.h>
#include <dwmapi.h>

#include "ui/ApplicationWindow.h"

#include <algorithm>
#include <stdexcept>

#include "ui/Taskbar.h"
#include "ui/Window.h"
#include "win/ProcAddress.h"

namespace sk::ui {
namespace {

constexpr const wchar_t* kClassName = L"TApplication";

// The taskbar's preview calls, where the system has them (Windows 7 and
// later; looked up so that the program starts where they are missing).
struct Previews {
  using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  using SetThumbnail = HRESULT(WINAPI*)(HWND, HBITMAP, DWORD);
  using SetLivePreview = HRESULT(WINAPI*)(HWND, HBITMAP, POINT*, DWORD);
  SetAttribute setAttribute = nullptr;
  SetThumbnail setThumbnail = nullptr;
  SetLivePreview setLivePreview = nullptr;
};

const Previews& Dwm() {
  static const Previews previews = [] {
    Previews p;
    if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
      p.setAttribute = win::ProcAddress<Previews::SetAttribute>(dwm, "DwmSetWindowAttribute");
      p.setThumbnail = win::ProcAddress<Previews::SetThumbnail>(dwm, "DwmSetIconicThumbnail");
      p.setLivePreview = win::ProcAddress<Previews::SetLivePreview>(dwm, "DwmSetIconicLivePreviewBitmap");
    }
    return p;
  }();
  return previews;
}

// A picture of `window` (frame included) at `width` × `height`, as the
// previews take it: 32 bits a pixel, opaque.
HBITMAP Picture(HWND window, int width, int height) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0 || width <= 0 || height <= 0) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC full = CreateCompatibleDC(screen), scaled = CreateCompatibleDC(screen);
  HBITMAP whole = CreateCompatibleBitmap(screen, w, h);
  HBITMAP result = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (whole && result) {
    HGDIOBJ oldFull = SelectObject(full, whole), oldScaled = SelectObject(scaled, result);
    PrintWindow(window, full, 0);
    SetStretchBltMode(scaled, HALFTONE);
    StretchBlt(scaled, 0, 0, width, height, full, 0, 0, w, h, SRCCOPY);
    GdiFlush();
    auto* pixel = static_cast<DWORD*>(bits);
    for (int i = 0; i < width * height; ++i) pixel[i] |= 0xFF000000;
    SelectObject(full, oldFull);
    SelectObject(scaled, oldScaled);
  } else if (result) {
    DeleteObject(result);
    result = nullptr;
  }
  if (whole) DeleteObject(whole);
  DeleteDC(full);
  DeleteDC(scaled);
  ReleaseDC(nullptr, screen);
  return result;
}

}  // namespace

ApplicationWindow::ApplicationWindow() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(kClassName, Proc, true, false);
  // No size, in the middle of the work area: nothing of it is ever drawn.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  hwnd_ = CreateWindowExW(0, kClassName, kAppTitle, WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU |
                          WS_MINIMIZEBOX, (work.left + work.right) / 2, (work.top + work.bottom) / 2, 0, 0, nullptr,
                          nullptr, instance, nullptr);
  if (!hwnd_) throw std::runtime_error("CreateWindowEx failed");
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ChangeWindowMessageFilterEx(hwnd_, TaskbarButtonCreatedMessage(), MSGFLT_ALLOW, nullptr);
  if (Dwm().setAttribute) {
    const BOOL on = TRUE;
    Dwm().setAttribute(hwnd_, DWMWA_FORCE_ICONIC_REPRESENTATION, &on, sizeof on);
    Dwm().setAttribute(hwnd_, DWMWA_HAS_ICONIC_BITMAP, &on, sizeof on);
  }
}

ApplicationWindow::~ApplicationWindow() {
  if (!hwnd_) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

void ApplicationWindow::FollowMainWindow(bool visible) {
  if (visible == (IsWindowVisible(hwnd_) != FALSE) && !IsIconic(hwnd_)) return;
  // Shown in its last (unminimised) state, never activated: the main window
  // keeps the activation.
  ShowWindow(hwnd_, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void ApplicationWindow::ActivateMainWindow() {
  if (!main_ || !IsWindowVisible(main_)) return;
  // The main window, or the dialog it has open.
  HWND target = GetLastActivePopup(main_);
  if (!target || !IsWindowVisible(target) || !IsWindowEnabled(target)) target = main_;
  SetActiveWindow(target);
}

void ApplicationWindow::SendThumbnail(int maxWidth, int maxHeight) {
  RECT r{};
  if (!main_ || !Dwm().setThumbnail || !GetWindowRect(main_, &r)) return;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  // As large as fits, in the main window's proportions.
  const double scale = std::min(static_cast<double>(maxWidth) / w, static_cast<double>(maxHeight) / h);
  if (HBITMAP picture = Picture(main_, std::max(1, static_cast<int>(w * scale)), std::max(1, static_cast<int>(h * scale)))) {
    Dwm().setThumbnail(hwnd_, picture, 0);
    DeleteObject(picture);
  }
}

void ApplicationWindow::SendLivePreview() {
  RECT main{}, own{};
  if (!main_ || !Dwm().setLivePreview || !GetWindowRect(main_, &main) || !GetWindowRect(hwnd_, &own)) return;
  if (HBITMAP picture = Picture(main_, main.right - main.left, main.bottom - main.top)) {
    POINT offset{main.left - own.left, main.top - own.top};
    Dwm().setLivePreview(hwnd_, picture, &offset, 0);
    DeleteObject(picture);
  }
}

LRESULT ApplicationWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ACTIVATE:
      if (LOWORD(wp) != WA_INACTIVE) ActivateMainWindow();
      return 0;
    case WM_SYSCOMMAND:
      switch (wp & 0xFFF0) {
        case SC_MINIMIZE:  // the button clicked while the program is in front
        case SC_RESTORE:
        case SC_CLOSE:
          if (main_) SendMessageW(main_, WM_SYSCOMMAND, wp, lp);
          return 0;
        default:
          return DefWindowProcW(hwnd_, msg, wp, lp);
      }
    case WM_SIZE:
      // Minimised another way (Windows+M): the main window goes as by its
      // own minimise button, and this window back to its plain state.
      if (wp == SIZE_MINIMIZED && main_) {
        ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
        SendMessageW(main_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      }
      return 0;
    case WM_CLOSE:
      if (main_) SendMessageW(main_, WM_CLOSE, 0, 0);
      return 0;
    case WM_DWMSENDICONICTHUMBNAIL:
      SendThumbnail(HIWORD(lp), LOWORD(lp));
      return 0;
    case WM_DWMSENDICONICLIVEPREVIEWBITMAP:
      SendLivePreview();
      return 0;
    default:
      // The shell made the button (again): its progress is the main window's.
      if (msg == TaskbarButtonCreatedMessage() && msg != 0) {
        if (main_) SendMessageW(main_, msg, wp, lp);
        return 0;
      }
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

LRESULT CALLBACK ApplicationWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<ApplicationWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  LRESULT result = 0;
  Guarded([&] { result = self->HandleMessage(msg, wp, lp); });
  return result;
}

}  // namespace sk::ui
