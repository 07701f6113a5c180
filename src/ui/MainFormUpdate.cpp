// The update check of the main window: the description file, the question,
// the downloads and the hand-over to the updater.
#include <windows.h>
#include <shellapi.h>

#include <optional>

#include "core/Settings.h"
#include "core/UpdateCheck.h"
#include "generated/ReleaseKey.h"
#include "ui/MainForm.h"
#include "win/UpdateSignature.h"
#include "win/UpdateSupport.h"
#include "win/Utf.h"
#include "win/WinFile.h"
#include "win/WinRegistry.h"

namespace sk::ui {
namespace {

// The whole of a small file; nullopt when it cannot be read or is larger
// than `limit` bytes.
std::optional<std::string> ReadSmallFile(const std::string& path, int64_t limit) {
  try {
    auto file = win::WinFileSystem().Open(path, OpenMode::ReadShared);
    const int64_t size = file->Size();
    if (size > limit) return std::nullopt;
    std::string text(static_cast<size_t>(size), '\0');
    text.resize(file->Read(text.data(), text.size()));
    file->Close();
    return text;
  } catch (const FileError&) {
    return std::nullopt;
  }
}

int Box(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
  return MessageBoxW(owner, win::Widen(text).c_str(), win::Widen(caption).c_str(), flags);
}

}  // namespace

void TForm1::DesignHttpFetch1() {
  HttpFetch1.AcceptTypes = "*/*";
  HttpFetch1.Agent = "Sektorian Updater";
  HttpFetch1.BinaryData = false;
  HttpFetch1.UseCache = true;
  HttpFetch1.WaitThread = true;
  HttpFetch1.OnProgress = [this](THttpFetchThread& sender, int64_t total, int64_t readed) {
    HttpFetch1Progress(sender, total, readed);
  };
}

std::string TForm1::UpdateFolder() const {
  return updateFolder_.empty() ? win::ExecutableFolder() : updateFolder_;
}

void TForm1::UpdateLog(const std::string& text, EventKind kind) {
  LogEvent(text, kind);
  if (UpdateLogHook) UpdateLogHook(text, kind, false);
}

void TForm1::EnableUpdateControls(bool on) {
  for (const char* menu : {"Plik1", "Lista1", "Narzdzia1", "Pomoc1"}) EnableTopMenu(menu, on);
  if (EnableAfterCopyActions) EnableAfterCopyActions(on);
  for (const char* control : {"ListView1", "Button1", "Button2", "Button3", "Button4", "Button8", "Edit1", "Button5"}) {
    Enable(control, on);
  }
}

// The check's window and system: the steps themselves are sk::RunUpdateCheck.
struct TForm1::UpdateCheckWindow : IUpdateView, IUpdateSystem {
  explicit UpdateCheckWindow(TForm1& f) : form(f) {}
  TForm1& form;

  // ---- the window ----
  void LogEvent(const std::string& text, EventKind kind) override { form.UpdateLog(text, kind); }
  void RewriteNewestEntry(const std::string& text) override {
    form.RewriteNewestEntry(text);
    if (form.UpdateLogHook) form.UpdateLogHook(text, ekInfo, true);
  }
  std::string DecimalSeparator() override { return win::DecimalSeparator(); }
  void ShowMessage(const std::string& text, UpdateBoxIcon icon) override {
    Box(form.hwnd_, text, "Aktualizacja", MB_OK | (icon == UpdateBoxIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION));
  }
  bool Ask(const std::string& question) override {
    return Box(form.hwnd_, question, "Aktualizacja", MB_YESNO | MB_ICONQUESTION) == IDYES;
  }
  bool ClosePending() override { return form.ClosePending(); }
  void ClearCloseHandler() override { form.closeHandlerCleared_ = true; }

  // ---- the system ----
  bool Fetch(const UpdateFetchRequest& request, const FetchProgress& progress) override {
    // The component's progress event reaches this fetch's own counter.
    form.fetchProgress_ = progress;
    struct Detach {
      FetchProgress& progress;
      ~Detach() { progress = nullptr; }
    } detach{form.fetchProgress_};
    THttpFetch& fetch = form.HttpFetch1;
    fetch.URL = request.url;
    fetch.FileName = request.path;
    fetch.UseCache = request.useCache;
    fetch.MaxSize = request.maxSize;
    fetch.ExactSize = request.exactSize;
    fetch.StallTimeout = form.updateStallTimeout_;
    fetch.FetchToFile();
    return fetch.Succeeded();
  }
  std::optional<std::string> ReadFile(const std::string& path, int64_t limit) override {
    return ReadSmallFile(path, limit);
  }
  // A fetch left behind by a close or a stall may still hold its file.
  void DeleteFile(const std::string& path) override { win::DeleteFileFreeingItsName(path); }
  bool VerifySignature(const std::string& message, const std::string& signature) override {
    const std::string_view key = form.updatePublicKey_.empty() ? kReleasePublicKey : form.updatePublicKey_;
    return win::VerifyP256Signature(key, message, signature);
  }
  std::optional<std::string> Sha256OfFile(const std::string& path) override { return win::Sha256OfFile(path); }
  CivilDate TodayUtc() override {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
  }
  uint32_t AcceptedSerial() override {
    try {
      RegistryAccessor key(win::SettingsKeyFactory()());
      return key.Open(kSettingsKeyPath) ? static_cast<uint32_t>(key.ReadInteger(kUpdateSerial)) : 0;
    } catch (const RegistryError&) {
      return 0;  // none yet, or not a number
    }
  }
  void SetAcceptedSerial(uint32_t serial) override {
    try {
      RegistryAccessor key(win::SettingsKeyFactory()());
      if (key.Open(kSettingsKeyPath)) key.WriteInteger(kUpdateSerial, static_cast<int32_t>(serial));
    } catch (const RegistryError&) {
      // A key that cannot be written keeps the older serial.
    }
  }
  bool StartUpdater(const std::string& file, const std::string& folder) override {
    const HINSTANCE result = ShellExecuteW(form.hwnd_, L"open", win::Widen(file).c_str(), L"",
                                           win::Widen(folder).c_str(), SW_SHOWMINIMIZED);
    return reinterpret_cast<INT_PTR>(result) > 32;  // the shell's way of saying it started
  }
  void EndInstances() override { form.TerminateInstances(); }
};

void TForm1::Button6Click() {
  // Never beside another run, and not once the program is closing. Closing
  // the window meanwhile cancels the fetch under way; the check then ends
  // without a word, its files deleted, and the close goes on.
  RunInProgress run(*this, RunKind::Update, [this] { HttpFetch1.CancelFetch(); });
  if (!run.Began()) return;
  struct Restore {
    TForm1& form;
    ~Restore() { form.EnableUpdateControls(true); }
  } restore{*this};
  EnableUpdateControls(false);
  UpdateCheckWindow window(*this);
  RunUpdateCheck({updateBaseAddress_, UpdateFolder()}, window, window);
}

void TForm1::HttpFetch1Progress(THttpFetchThread& /*sender*/, int64_t totalSize, int64_t readed) {
  // Only the downloads show a counter; which one runs is the check's step.
  if (fetchProgress_) fetchProgress_(totalSize, readed);
}

void TForm1::TerminateInstances() {
  // Only copies of this very executable: a copy of the program in another
  // folder may be in the middle of a rescue of its own.
  const std::string own = win::ExecutablePath();
  const unsigned long self = GetCurrentProcessId();
  win::ToolHelpProcessList system;
  win::IProcessList& list = processList_ ? *processList_ : system;
  if (!list.Snapshot()) return;  // no Tool Help: nothing to walk
  bool selfListed = false;
  win::ProcessEntry entry;
  for (bool more = list.First(entry); more; more = list.Next(entry)) {
    if (entry.id == self) {
      selfListed = true;  // ended last, once every other copy is
      continue;
    }
    if (!win::SamePath(entry.path, own)) continue;
    if (!list.Terminate(entry.id)) Box(hwnd_, "Błąd", "Błąd", MB_OK);
  }
  list.CloseSnapshot();
  if (selfListed && !list.Terminate(self)) Box(hwnd_, "Błąd", "Błąd", MB_OK);
}

}  // namespace sk::ui
