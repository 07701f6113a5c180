// The small window base that every form of the program derives from, and the
// control tables its forms are built from.
#pragma once
#include <windows.h>

#include "core/RunState.h"

#include <string>
#include <string_view>
#include <vector>

namespace sk::ui {

// Scale a figure given in pixels at 96 dots per inch to the screen's DPI.
int Dpi(int pixels96);

struct FontSpec {
  const wchar_t* face = nullptr;  // nullptr: the form's own font (Tahoma 8 pt)
  int pixelHeight = 0;            // character height in pixels at 96 DPI; 0: the form's
  bool bold = false;
};
inline constexpr FontSpec kBold{nullptr, 0, true};

// One child control of a form, as the form's design table lists it. Geometry is
// in pixels at 96 DPI, relative to the enclosing box named by `parent` (the
// controls are created as children of the form, the box only frames them).
struct ControlSpec {
  const char* name;
  const wchar_t* cls;
  const char* caption;  // UTF-8
  int x, y, w, h;
  DWORD style = 0;  // added to WS_CHILD | WS_VISIBLE
  const char* parent = nullptr;
  FontSpec font = {};
  COLORREF color = CLR_INVALID;  // text colour, CLR_INVALID: window text
  DWORD exStyle = 0;
  bool autoSize = false;  // a label that widens to its text when the font needs more room
};

// Common styles of the design tables.
inline constexpr DWORD kGroupBox = BS_GROUPBOX;
inline constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
inline constexpr DWORD kBevel = SS_ETCHEDHORZ;
inline constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
inline constexpr DWORD kWrappedLabel = SS_LEFT | SS_NOPREFIX;
inline constexpr DWORD kRightLabel = SS_RIGHT | SS_NOPREFIX;
inline constexpr DWORD kCentredLabel = SS_CENTER | SS_NOPREFIX;

// A top-level form: owns its window, forbids copying, stores `this` at
// WM_NCCREATE and clears it at WM_NCDESTROY. Every message handler runs inside
// a try block: an error escaping a handler goes to the application-wide error
// report and the program goes on.
class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  HWND hwnd() const { return hwnd_; }
  // A control (or a named command) of the design table, by name. A name
  // the form does not have is a mistake in the program, never a silent
  // no-op: it throws std::logic_error naming it (and asserts in debug
  // builds). Has() asks without that.
  HWND Control(std::string_view name) const;
  int ControlId(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }
  std::string ControlName(int id) const;

  std::string Text(std::string_view control) const;
  void SetText(std::string_view control, const std::string& utf8);
  bool Enabled(std::string_view control) const;
  void Enable(std::string_view control, bool on);
  bool Checked(std::string_view control) const;
  void Check(std::string_view control, bool on);

  // Bring the form up modeless; a second call only brings it forward.
  void ShowModeless();
  void Hide();

  // Told whenever what the program runs changes (and when the window is
  // made): a window greys each of its commands that may not start now
  // (RunState::May, the one rule), its own run's controls included.
  virtual void RunsChanged(const RunState& runs) { (void)runs; }

 protected:
  struct FrameSpec {
    const wchar_t* className;
    const char* caption;
    int clientWidth, clientHeight;  // 96-DPI pixels
    DWORD style;
    DWORD exStyle = 0;
    HWND owner = nullptr;  // the top-level window that owns the form
  };
  // Register the class (once), create the form hidden, centred on the screen,
  // with the form font, then its controls from the table, in table order
  // (which is also the tab order).
  void CreateForm(const FrameSpec& frame, const std::vector<ControlSpec>& controls, HMENU menu = nullptr);
  HWND AddControl(const ControlSpec& design);
  // Destroy the form's window now (as the destructor would), before what
  // owns it goes.
  void DestroyForm();
  // A named command without a window of its own (a menu item); returns its id.
  int RegisterCommand(const std::string& name);

  virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  // A button click or a menu command of a named control or item.
  virtual void OnCommand(const std::string& /*name*/, int /*code*/) {}
  virtual void OnCreate() {}

  HFONT FormFont() const { return font_; }
  HFONT MakeFont(const FontSpec& design);

  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  struct Child {
    std::string name;
    HWND hwnd;
    int id;
    COLORREF color;
    RECT box;  // absolute 96-DPI rectangle, for the children of boxes
  };
  const Child* Find(std::string_view name) const;
  const Child& Named(std::string_view name) const;
  std::vector<Child> children_;
  std::vector<HFONT> fonts_;
  HFONT font_ = nullptr;
  int nextId_ = 100;
};

// Register a window class of the program once (a second call does nothing):
// `proc` its procedure; with `programIcon` the program's icons, with
// `formLook` the arrow pointer and the button-face background.
void RegisterWindowClass(const wchar_t* name, WNDPROC proc, bool programIcon, bool formLook);

// The application-wide error report: a modal box with the stop icon, caption
// "Sektorian" and the text with "." appended by the program's rule.
void ReportError(const std::string& message);
// Tests replace the box to read the reported texts.
using ErrorSink = void (*)(const std::string& text);
void SetErrorSink(ErrorSink sink);

// Run `fn`, sending an escaping error to the error report.
template <typename Fn>
void Guarded(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("");
  }
}

// Process every pending message of this thread, then return.
void PumpMessages();
// The application title, the taskbar text and the caption of every error box.
inline constexpr const wchar_t* kAppTitle = L"Sektorian";

}  // namespace sk::ui

namespace sk::ui {
// The program's message filter (accelerators of the main window, keyboard
// navigation of the forms), used by the message loop and by every pump.
using MessageFilter = bool (*)(MSG& msg);
void SetMessageFilter(MessageFilter filter);
bool FilterMessage(MSG& msg);
}  // namespace sk::ui
