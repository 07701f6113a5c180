#include <windows.h>
#include <shellapi.h>

#include "win/Utf.h"
#include "win/WinShell.h"

namespace sk::win {

void ShellOpen(void* owner, const std::string& file, const std::string& parameters, const std::string& folder,
               int showCommand) {
  ShellExecuteW(static_cast<HWND>(owner), L"open", Widen(file).c_str(),
                parameters.empty() ? nullptr : Widen(parameters).c_str(),
                folder.empty() ? nullptr : Widen(folder).c_str(), showCommand);
}

namespace {

class SystemDocumentShell : public IDocumentShell {
 public:
  bool OpenDocument(void* owner, const std::string& path, std::string& reason) override {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(static_cast<HWND>(owner), L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return true;
    // ShellExecute's own codes below 32 are the system's error codes, but for
    // these two, which have none.
    if (result == SE_ERR_NOASSOC || result == SE_ERR_ASSOCINCOMPLETE)
      reason = "brak programu do otwierania plików tego typu";
    else
      reason = FileErrorText(static_cast<unsigned long>(result == 0 ? ERROR_NOT_ENOUGH_MEMORY : result));
    return false;
  }
};

IDocumentShell* g_documentShell = nullptr;

}  // namespace

IDocumentShell& DocumentShell() {
  static SystemDocumentShell system;
  return g_documentShell ? *g_documentShell : system;
}

void SetDocumentShell(IDocumentShell* shell) { g_documentShell = shell; }

}  // namespace sk::win
