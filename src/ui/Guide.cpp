#include "ui/Guide.h"

#include <stdexcept>

#include "ui/Application.h"
#include "ui/MainForm.h"
#include "ui/Resources.h"
#include "win/Utf.h"
#include "win/WinDirectory.h"
#include "win/WinFile.h"
#include "win/WinShell.h"

namespace sk::ui {

std::string GuidePage() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_GUIDE), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return std::string(static_cast<const char*>(bytes), SizeofResource(nullptr, found));
}

std::string GuidePath() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) throw std::runtime_error("nie można ustalić folderu plików tymczasowych");
  std::string folder = win::Narrow(std::wstring_view(temp, n));
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + "Sektorian\\Podręcznik.html";
}

namespace {

void WriteAndOpen(HWND owner) {
  const std::string page = GuidePage();
  if (page.empty()) throw std::runtime_error("program nie zawiera podręcznika");
  const std::string path = GuidePath();
  const std::string folder = path.substr(0, path.rfind('\\'));
  if (!win::FolderExists(folder)) win::CreateFolder(folder);
  win::WinFileSystem().ReplaceContent(path, page);
  std::string reason;
  if (!win::DocumentShell().OpenDocument(owner, path, reason)) throw std::runtime_error(reason);
}

}  // namespace

void OpenGuide(HWND owner) {
  try {
    WriteAndOpen(owner);
  } catch (const std::exception& e) {
    const std::string text = std::string(kGuideFailure) + ": " + e.what();
    TForm1* main = App().form1;
    if (main && main->RunActive())
      main->LogEvent("Błąd: " + text, ekError);
    else
      ReportError(text);
  }
}

}  // namespace sk::ui
