// The update check of the main window: the description file, the question,
// the downloads and the hand-over to the updater.
#include <windows.h>
#include <shellapi.h>

#include "core/Formats.h"
#include "core/Text.h"
#include "core/UpdateIni.h"
#include "ui/MainForm.h"
#include "win/UpdateSupport.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::ui {
namespace {

constexpr const char* kIniName = "Update.ini";
constexpr const char* kPackageName = "SKTRN.tmp";
constexpr const char* kUpdaterName = "Swapit.exe";

// The whole of a small file; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) {
  try {
    auto file = win::WinFileSystem().Open(path, OpenMode::ReadShared);
    std::string text(static_cast<size_t>(file->Size()), '\0');
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

void TForm1::Button6Click() {
  if (updateRunning_) return;  // a check is under way already
  updateRunning_ = true;
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
  HttpFetch1.URL = updateBaseAddress_ + kIniName;
  HttpFetch1.FileName = ini;
  HttpFetch1.FetchToFile();
  // Without a successful fetch there is no description to read, not even
  // one left over from an earlier check.
  const UpdateDescription update =
      HttpFetch1.Succeeded() ? ReadUpdateDescription(ReadSmallFile(ini)) : UpdateDescription{kUpdateVersion, {}};

  if (update.version <= kUpdateVersion) {
    Box(hwnd_, "Nie ma nowszej wersji programu.", "Aktualizacja", MB_OK | MB_ICONINFORMATION);
    win::ForceDeleteFile(ini);
    return;
  }
  if (Box(hwnd_, "Jest dostępna nowsza wersja programu. Czy chcesz teraz zaktualizować?", "Aktualizacja",
          MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return;
  }
  if (!DownloadUpdate(folder, update.url)) {
    UpdateLog("Błąd: Nie udało się pobrać aktualizacji", ekError);
    win::ForceDeleteFile(folder + kPackageName);
    win::ForceDeleteFile(folder + kUpdaterName);
    return;
  }
  UpdateLog("Uruchamianie narzędzia aktualizacji", ekInfo);
  DeleteFileW(win::LongPath(ini).c_str());
  UpdateLog("Proszę czekać...", ekInfo);
  closeHandlerCleared_ = true;
  ShellExecuteW(hwnd_, L"open", win::Widen(folder + kUpdaterName).c_str(), L"", win::Widen(folder).c_str(),
                SW_SHOWMINIMIZED);
  TerminateInstances();  // ends this process too when it works
}

// Fetches the package and then the updater; true only when both arrived whole.
bool TForm1::DownloadUpdate(const std::string& folder, const std::string& packageUrl) {
  UpdateLog("Pobieranie aktualizacji", ekInfo);
  HttpFetch1.URL = packageUrl;
  HttpFetch1.FileName = folder + kPackageName;
  HttpFetch1.FetchToFile();
  if (!HttpFetch1.Succeeded()) return false;

  UpdateLog("Pobieranie narzędzia aktualizacji", ekInfo);
  HttpFetch1.URL = updateBaseAddress_ + kUpdaterName;
  HttpFetch1.FileName = folder + kUpdaterName;
  HttpFetch1.FetchToFile();
  return HttpFetch1.Succeeded();
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
  const std::string own = win::LowerCase(FileNamePart(win::ExecutablePath()));
  win::ToolHelpProcessList system;
  win::IProcessList& list = processList_ ? *processList_ : system;
  if (!list.Snapshot()) return;  // no Tool Help: nothing to walk
  win::ProcessEntry entry;
  for (bool more = list.First(entry); more; more = list.Next(entry)) {
    if (win::LowerCase(entry.exeFile) != own) continue;
    if (!list.Terminate(entry.id)) Box(hwnd_, "Błąd", "Błąd", MB_OK);
  }
  list.CloseSnapshot();
}

}  // namespace sk::ui
