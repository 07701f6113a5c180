// The update check of the main window: the description file, the question,
// the downloads and the hand-over to the updater.
#include <windows.h>
#include <shellapi.h>

#include "core/Formats.h"
#include "core/Text.h"
#include "core/UpdateIni.h"
#include "ui/MainForm.h"
#include "win/UpdateSignature.h"
#include "win/UpdateSupport.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

constexpr const char* kIniName = "Update.ini";
constexpr const char* kSignatureName = "Update.sig";
constexpr const char* kPackageName = "SKTRN.tmp";
constexpr const char* kUpdaterName = "Swapit.exe";
constexpr const char* kNotVerified = "Nie można zweryfikować aktualizacji. Aktualizacja została przerwana.";

// The whole of a small file; empty when it cannot be read or is larger than
// `limit` bytes (no description or signature is anywhere near that).
std::string ReadSmallFile(const std::string& path, int64_t limit = 1 << 20) {
  try {
    auto file = win::WinFileSystem().Open(path, OpenMode::ReadShared);
    const int64_t size = file->Size();
    if (size > limit) return {};
    std::string text(static_cast<size_t>(size), '\0');
    text.resize(file->Read(text.data(), text.size()));
    file->Close();
    return text;
  } catch (const FileError&) {
    return {};
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

bool TForm1::FetchUpdateFile(const std::string& url, const std::string& file) {
  HttpFetch1.URL = url;
  HttpFetch1.FileName = file;
  HttpFetch1.FetchToFile();
  return HttpFetch1.Succeeded() && !closePending_;
}

void TForm1::DiscardUpdateFiles(const std::string& folder) {
  for (const char* name : {kIniName, kSignatureName, kPackageName, kUpdaterName}) win::ForceDeleteFile(folder + name);
}

void TForm1::RejectUpdate(const std::string& folder) {
  DiscardUpdateFiles(folder);
  UpdateLog("Błąd: Aktualizacja nie ma ważnego podpisu", ekError);
  Box(hwnd_, kNotVerified, "Aktualizacja", MB_OK | MB_ICONERROR);
}

void TForm1::Button6Click() {
  if (updateRunning_ || closePending_) return;  // a check is under way already, or the program is closing
  updateRunning_ = true;
  // Closing the window meanwhile cancels the fetch under way; the check then
  // ends without a word, its files deleted, and the close goes on.
  RunInProgress run(*this, [this] { HttpFetch1.CancelFetch(); });
  struct Restore {
    TForm1& form;
    ~Restore() {
      form.updateRunning_ = false;
      form.UpdateStartButton();  // stays off while a resume run goes on
      form.EnableUpdateControls(true);
    }
  } restore{*this};
  UpdateStartButton();
  EnableUpdateControls(false);

  const std::string folder = UpdateFolder();
  const std::string ini = folder + kIniName;
  if (!FetchUpdateFile(updateBaseAddress_ + kIniName, ini)) {
    DiscardUpdateFiles(folder);  // a partial description and one left from an earlier check alike
    if (closePending_) return;
    UpdateLog("Błąd: Nie udało się sprawdzić aktualizacji", ekError);
    Box(hwnd_, "Nie udało się połączyć z serwerem aktualizacji.", "Aktualizacja", MB_OK | MB_ICONERROR);
    return;
  }
  // The description counts only with the release key's signature over its
  // exact bytes; nothing in it is read before that.
  const std::string signaturePath = folder + kSignatureName;
  const bool signatureFetched = FetchUpdateFile(updateBaseAddress_ + kSignatureName, signaturePath);
  const std::string signature = signatureFetched ? ReadSmallFile(signaturePath, 1024) : std::string();
  win::ForceDeleteFile(signaturePath);
  if (closePending_) return DiscardUpdateFiles(folder);
  const std::string description = ReadSmallFile(ini);
  if (!win::VerifyP256Signature(updatePublicKey_, description, signature)) return RejectUpdate(folder);
  const UpdateDescription update = ReadUpdateDescription(description);

  if (update.version <= kUpdateVersion) {
    Box(hwnd_, "Nie ma nowszej wersji programu.", "Aktualizacja", MB_OK | MB_ICONINFORMATION);
    win::ForceDeleteFile(ini);
    return;
  }
  // Without both hashes the downloads could not be checked: not worth asking.
  if (update.packageSha256.empty() || update.updaterSha256.empty()) return RejectUpdate(folder);
  const int answer = Box(hwnd_, "Jest dostępna nowsza wersja programu. Czy chcesz teraz zaktualizować?",
                         "Aktualizacja", MB_YESNO | MB_ICONQUESTION);
  if (closePending_) return DiscardUpdateFiles(folder);
  if (answer != IDYES) return;

  UpdateLog("Pobieranie aktualizacji", ekInfo);
  if (!FetchUpdateFile(update.url, folder + kPackageName)) return DownloadFailed(folder);
  if (win::Sha256OfFile(folder + kPackageName) != update.packageSha256) return RejectUpdate(folder);
  UpdateLog("Pobieranie narzędzia aktualizacji", ekInfo);
  if (!FetchUpdateFile(updateBaseAddress_ + kUpdaterName, folder + kUpdaterName)) return DownloadFailed(folder);
  if (win::Sha256OfFile(folder + kUpdaterName) != update.updaterSha256) return RejectUpdate(folder);

  UpdateLog("Uruchamianie narzędzia aktualizacji", ekInfo);
  DeleteFileW(win::LongPath(ini).c_str());
  UpdateLog("Proszę czekać...", ekInfo);
  closeHandlerCleared_ = true;
  ShellExecuteW(hwnd_, L"open", win::Widen(folder + kUpdaterName).c_str(), L"", win::Widen(folder).c_str(),
                SW_SHOWMINIMIZED);
  TerminateInstances();  // ends this process too when it works
}

// A download that did not arrive whole (or was cancelled by a close): nothing
// of this check stays behind.
void TForm1::DownloadFailed(const std::string& folder) {
  DiscardUpdateFiles(folder);
  if (!closePending_) UpdateLog("Błąd: Nie udało się pobrać aktualizacji", ekError);
}

void TForm1::HttpFetch1Progress(THttpFetchThread& /*sender*/, int64_t totalSize, int64_t readed) {
  const std::string name = FileNamePart(HttpFetch1.FileName);
  const size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string what;
  if (extension == ".tmp") {
    what = "Pobieranie aktualizacji (";
  } else if (extension == ".exe") {
    what = "Pobieranie narzędzia aktualizacji (";
  } else {
    return;
  }
  const std::string separator = win::DecimalSeparator();
  const std::string text = what + FormatSize(readed, separator) + " / " + FormatSize(totalSize, separator) + ")";
  RewriteNewestEntry(text);
  if (UpdateLogHook) UpdateLogHook(text, ekInfo, true);
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
