#include "ui/Window.h"

#include <commctrl.h>

#include <cassert>
#include <stdexcept>

#include "core/Text.h"
#include "ui/Guide.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

ErrorSink g_errorSink = nullptr;
MessageFilter g_filter = nullptr;

int ScreenDpi() {
  static const int dpi = [] {
    HDC dc = GetDC(nullptr);
    const int d = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return d > 0 ? d : 96;
  }();
  return dpi;
}

}  // namespace

int Dpi(int pixels96) { return MulDiv(pixels96, ScreenDpi(), 96); }

void SetErrorSink(ErrorSink sink) { g_errorSink = sink; }

void ReportError(const std::string& message) {
  const std::string text = ErrorReportText(message);
  if (g_errorSink) {
    g_errorSink(text);
    return;
  }
  HWND owner = GetActiveWindow();
  MessageBoxW(owner, win::Widen(text).c_str(), kAppTitle, MB_OK | MB_ICONSTOP);
}

void RegisterWindowClass(const wchar_t* name, WNDPROC proc, bool programIcon, bool formLook) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, name, &wc)) return;
  wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = name;
  if (formLook) {
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  }
  if (programIcon) {
    wc.hIcon = LoadIconW(instance, L"MAINICON");
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
  }
  if (!RegisterClassExW(&wc)) throw std::runtime_error("RegisterClassEx failed");
}

void SetMessageFilter(MessageFilter filter) { g_filter = filter; }
bool FilterMessage(MSG& msg) {
  // F1 in any window of the program opens the guide: caught here, before
  // any window sees it, so that every window has it, also during a run.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_F1 && !(msg.lParam & (1 << 30)) && msg.hwnd) {
    OpenGuide(GetAncestor(msg.hwnd, GA_ROOT));
    return true;
  }
  return g_filter && g_filter(msg);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the message loop
      return;
    }
    if (FilterMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

Window::~Window() {
  DestroyForm();
  for (HFONT f : fonts_) DeleteObject(f);
}

void Window::DestroyForm() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
}

HFONT Window::MakeFont(const FontSpec& design) {
  LOGFONTW lf{};
  lf.lfHeight = design.pixelHeight ? -Dpi(design.pixelHeight) : -MulDiv(8, Dpi(96), 72);
  lf.lfWeight = design.bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = EASTEUROPE_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(lf.lfFaceName, design.face ? design.face : L"Tahoma", LF_FACESIZE);
  HFONT f = CreateFontIndirectW(&lf);
  fonts_.push_back(f);
  return f;
}

void Window::CreateForm(const FrameSpec& frame, const std::vector<ControlSpec>& controls, HMENU menu) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(frame.className, StaticProc, true, true);
  font_ = MakeFont({});

  RECT r{0, 0, Dpi(frame.clientWidth), Dpi(frame.clientHeight)};
  AdjustWindowRectEx(&r, frame.style, menu != nullptr, frame.exStyle);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - w) / 2;
  const int y = work.top + ((work.bottom - work.top) - h) / 2;
  CreateWindowExW(frame.exStyle, frame.className, win::Widen(frame.caption).c_str(), frame.style, x, y, w, h,
                  frame.owner, menu, instance, this);
  if (!hwnd_) throw std::runtime_error("CreateWindowEx failed");
  // A menu bar may wrap onto two lines; keep the client area as designed.
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (client.bottom != Dpi(frame.clientHeight)) {
    SetWindowPos(hwnd_, nullptr, 0, 0, w, h + Dpi(frame.clientHeight) - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (const auto& design : controls) AddControl(design);
  // Boxes only frame their controls: keep them below every control, so that
  // they never paint over one.
  // Outer boxes go lowest, so a box inside another stays visible.
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    const ControlSpec& design = *it;
    if (design.cls == std::wstring_view(WC_BUTTONW) && (design.style & BS_TYPEMASK) == BS_GROUPBOX)
      SetWindowPos(Control(design.name), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  OnCreate();
}

HWND Window::AddControl(const ControlSpec& design) {
  RECT box{design.x, design.y, design.x + design.w, design.y + design.h};
  if (design.parent) {
    const Child* p = Find(design.parent);
    if (!p) throw std::logic_error(std::string("no enclosing box ") + design.parent);
    OffsetRect(&box, p->box.left, p->box.top);
  }
  const int id = nextId_++;
  HWND h = CreateWindowExW(design.exStyle, design.cls, win::Widen(design.caption ? design.caption : "").c_str(),
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | design.style, Dpi(box.left), Dpi(box.top),
                           Dpi(box.right - box.left), Dpi(box.bottom - box.top), hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (!h) throw std::runtime_error(std::string("cannot create control ") + design.name);
  const bool ownFont = design.font.face || design.font.pixelHeight || design.font.bold;
  HFONT font = ownFont ? MakeFont(design.font) : font_;
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (design.autoSize) {
    const std::wstring text = win::Widen(design.caption ? design.caption : "");
    HDC dc = GetDC(h);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    if (extent.cx > Dpi(design.w))
      SetWindowPos(h, nullptr, 0, 0, extent.cx, Dpi(design.h), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  children_.push_back({design.name, h, id, design.color, box});
  return h;
}

int Window::RegisterCommand(const std::string& name) {
  const int id = nextId_++;
  children_.push_back({name, nullptr, id, CLR_INVALID, {}});
  return id;
}

const Window::Child* Window::Find(std::string_view name) const {
  for (const auto& c : children_)
    if (c.name == name) return &c;
  return nullptr;
}

const Window::Child& Window::Named(std::string_view name) const {
  if (const Child* c = Find(name)) return *c;
  assert(!"a control name the form does not have");
  throw std::logic_error("Unknown control " + std::string(name));
}

HWND Window::Control(std::string_view name) const { return Named(name).hwnd; }

int Window::ControlId(std::string_view name) const { return Named(name).id; }

std::string Window::ControlName(int id) const {
  for (const auto& c : children_)
    if (c.id == id) return c.name;
  return {};
}

std::string Window::Text(std::string_view control) const {
  HWND h = control.empty() ? hwnd_ : Control(control);
  const int n = GetWindowTextLengthW(h);
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(h, w.data(), n + 1);
  w.resize(static_cast<size_t>(n));
  return win::Narrow(w);
}

void Window::SetText(std::string_view control, const std::string& utf8) {
  SetWindowTextW(control.empty() ? hwnd_ : Control(control), win::Widen(utf8).c_str());
}

bool Window::Enabled(std::string_view control) const { return IsWindowEnabled(Control(control)) != FALSE; }
void Window::Enable(std::string_view control, bool on) { EnableWindow(Control(control), on); }
bool Window::Checked(std::string_view control) const {
  return SendMessageW(Control(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void Window::Check(std::string_view control, bool on) {
  SendMessageW(Control(control), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Window::ShowModeless() {
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

void Window::Hide() { ShowWindow(hwnd_, SW_HIDE); }

LRESULT Window::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      std::string name = ControlName(id);
      if (!name.empty() || lp == 0) OnCommand(name.empty() ? std::to_string(id) : name, HIWORD(wp));
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      HWND ctl = reinterpret_cast<HWND>(lp);
      SetBkMode(dc, TRANSPARENT);
      COLORREF color = GetSysColor(COLOR_WINDOWTEXT);
      for (const auto& c : children_)
        if (c.hwnd == ctl && c.color != CLR_INVALID) color = c.color;
      if (!IsWindowEnabled(ctl)) color = GetSysColor(COLOR_GRAYTEXT);
      SetTextColor(dc, color);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      return DefWindowProcW(hwnd_, msg, wp, lp);
  }
}

LRESULT CALLBACK Window::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Window* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  try {
    return self->HandleMessage(msg, wp, lp);
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("");
  }
  return 0;
}

}  // namespace sk::ui
