#include <windows.h>
#include "support/UiTest.h"

#include <shellapi.h>
#include <shlobj.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "support/SettingsKey.h"
#include "ui/Application.h"
#include "ui/MainForm.h"
#include "win/Utf.h"

namespace sk::test {

bool PumpUntil(const std::function<bool()>& done, int ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount() - start > static_cast<DWORD>(ms)) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void Flush() {
  for (int i = 0; i < 5; ++i) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(1);
  }
}

void StartProgram() {
  Flush();
  PutCompleteSettings(1, true);
  ui::StartUp();
  ShowWindow(ui::App().form1->hwnd(), SW_SHOWNORMAL);
  Flush();
}

WhileModal::WhileModal(HWND owner, std::function<bool()> step, int limitMs)
    : owner_(owner), step_(std::move(step)), deadline_(GetTickCount() + limitMs) {
  current_ = this;
  id_ = SetTimer(nullptr, 0, 50, OnTimer);
}

WhileModal::~WhileModal() {
  KillTimer(nullptr, id_);
  current_ = nullptr;
}

void CALLBACK WhileModal::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  WhileModal* self = current_;
  if (!self || self->done_ || self->busy_) return;
  self->busy_ = true;
  if (self->step_()) {
    self->done_ = true;
  } else if (static_cast<LONG>(GetTickCount() - self->deadline_) > 0) {
    self->timedOut_ = self->done_ = true;
    if (HWND w = OwnedWindow(self->owner_)) PostMessageW(w, WM_CLOSE, 0, 0);
  }
  self->busy_ = false;
}

namespace {
struct OwnedSearch {
  HWND owner;
  const wchar_t* cls;
  HWND found;
};
BOOL CALLBACK CheckOwned(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<OwnedSearch*>(lp);
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  if (IsWindowVisible(h) && GetWindow(h, GW_OWNER) == s->owner && (!s->cls || lstrcmpW(name, s->cls) == 0)) {
    s->found = h;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND WhileModal::OwnedWindow(HWND owner, const wchar_t* cls) {
  OwnedSearch s{owner, cls, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), CheckOwned, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::string WindowText(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(h, w.data(), n + 1);
  w.resize(static_cast<size_t>(n));
  return win::Narrow(w);
}

namespace {

struct BoxSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FindBox(HWND h, LPARAM lp) {
  wchar_t cls[32];
  GetClassNameW(h, cls, 32);
  if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(h)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == GetCurrentProcessId()) {
      reinterpret_cast<BoxSearch*>(lp)->found = h;
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(int buttonId, int timeoutMs)
    : MessageBoxAnswerer(std::vector<int>{buttonId}, timeoutMs) {}

MessageBoxAnswerer::MessageBoxAnswerer(std::vector<int> buttonIds, int timeoutMs,
                                       std::function<void(size_t)> beforeAnswer)
    : buttons_(std::move(buttonIds)), timeout_(timeoutMs), beforeAnswer_(std::move(beforeAnswer)) {
  thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  stop_ = true;
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
}

DWORD WINAPI MessageBoxAnswerer::Run(void* p) {
  auto* self = static_cast<MessageBoxAnswerer*>(p);
  const DWORD start = GetTickCount();
  size_t next = 0;
  HWND last = nullptr;
  while (!self->stop_ && GetTickCount() - start < static_cast<DWORD>(self->timeout_)) {
    BoxSearch s;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
    if (s.found && s.found != last) {
      Sleep(50);
      Box box;
      box.caption = WindowText(s.found);
      HWND text = GetDlgItem(s.found, 0xFFFF);
      box.text = text ? WindowText(text) : std::string();
      // The icon's static control: 0x14 on Windows, 0x440 (stc1) under Wine.
      HWND iconControl = GetDlgItem(s.found, 0x14);
      if (!iconControl) iconControl = GetDlgItem(s.found, 0x440);
      const auto shown = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
      const struct {
        const wchar_t* id;
        const char* name;
      } icons[] = {{IDI_ERROR, "error"}, {IDI_QUESTION, "question"}, {IDI_WARNING, "warning"},
                   {IDI_INFORMATION, "information"}};
      for (const auto& icon : icons) {
        if (shown && shown == LoadIconW(nullptr, icon.id)) box.icon = icon.name;
      }
      box.owner = GetWindow(s.found, GW_OWNER);
      self->caption_ = box.caption;
      self->text_ = box.text;
      self->boxes_.push_back(box);
      if (self->beforeAnswer_) self->beforeAnswer_(next);
      const int button = self->buttons_[next];
      PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(s.found, button)));
      last = s.found;
      if (++next == self->buttons_.size()) {
        self->answered_ = true;
        return 0;
      }
      continue;
    }
    if (last && !IsWindow(last)) last = nullptr;  // the next box may reuse the handle
    Sleep(20);
  }
  return 0;
}

bool MessageBoxAnswerer::Wait(int ms) { return PumpUntil([this] { return answered_; }, ms); }

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static int counter = 0;
  for (;;) {
    std::wstring p = std::wstring(base) + L"sk_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                     std::to_wstring(++counter);
    if (CreateDirectoryW(p.c_str(), nullptr)) {
      path_ = win::Narrow(p) + "\\";
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a temporary folder");
  }
}

namespace {

// Delete a folder and everything in it through absolute "\\?\" paths. (The
// shell's delete, given paths longer than MAX_PATH under Wine, has gone on
// to delete in the current folder instead.)
void RemoveTree(const std::wstring& folder) {
  if (folder.rfind(L"\\\\?\\", 0) != 0 || folder.size() < 10) return;  // never a relative or root path
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path);
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(path.c_str());  // a link to a folder: only the link goes
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempDir::~TempDir() {
  const std::wstring folder = win::Widen(path_.substr(0, path_.size() - 1));
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
  wchar_t temp[MAX_PATH];
  const DWORD t = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH || t == 0 || t >= MAX_PATH || _wcsnicmp(full, temp, t) != 0) return;  // only our own
  RemoveTree(L"\\\\?\\" + std::wstring(full));
}

void Drop(HWND window, const std::vector<std::string>& paths, POINT at) {
  std::wstring names;
  for (const auto& p : paths) names += win::Widen(p) + L'\0';
  names += L'\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  *drop = {sizeof(DROPFILES), at, FALSE, TRUE};
  memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
  DWORD done = 0;
  size_t at = 0;
  while (at < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1 << 20));
    ::WriteFile(h, bytes.data() + at, chunk, &done, nullptr);
    at += done;
  }
  CloseHandle(h);
}

std::string ReadFile(const std::string& path) {
  HANDLE h = CreateFileW(win::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  std::string out;
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      const DWORD code = GetLastError();
      CloseHandle(h);
      throw std::runtime_error("cannot read " + path + " (error " + std::to_string(code) + ")");
    }
    if (got == 0) break;
    out.append(buf, got);
  }
  CloseHandle(h);
  return out;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(win::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Pattern(size_t size, unsigned salt) {
  std::string s(size, '\0');
  uint32_t x = salt * 2654435761u + 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace sk::test
