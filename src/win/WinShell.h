// Starting programs and documents through the Windows shell.
#pragma once
#include <string>

namespace sk::win {

// Start a program through the shell ("open"), owner `owner` (an HWND).
void ShellOpen(void* owner, const std::string& file, const std::string& parameters, const std::string& folder,
               int showCommand);

// Opening a document with the program the system gives its type (the
// browser for a page). The shell returns once the program is started; it
// never waits for the document to be closed.
class IDocumentShell {
 public:
  virtual ~IDocumentShell() = default;
  // False with the reason (the program's text) when the shell refused.
  virtual bool OpenDocument(void* owner, const std::string& path, std::string& reason) = 0;
};
// The shell in use: the system's (ShellExecuteW "open"), or the one a test
// set with SetDocumentShell (nullptr: the system's again).
IDocumentShell& DocumentShell();
void SetDocumentShell(IDocumentShell* shell);

}  // namespace sk::win
