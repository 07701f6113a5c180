// A stand-in for the shell that opens documents: it records every document
// it is asked to open (with its owner, and whether a run of the main window
// was under way) and opens nothing; with `refuse` set it refuses with that
// reason.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ui/Application.h"
#include "ui/MainForm.h"
#include "win/WinShell.h"

namespace sk::test {

class ShellRecorder : public win::IDocumentShell {
 public:
  struct Opened {
    HWND owner;
    std::string path;
    bool duringRun;
  };
  std::vector<Opened> opened;
  std::string refuse;

  ShellRecorder() { win::SetDocumentShell(this); }
  ~ShellRecorder() override { win::SetDocumentShell(nullptr); }
  ShellRecorder(const ShellRecorder&) = delete;
  ShellRecorder& operator=(const ShellRecorder&) = delete;

  bool OpenDocument(void* owner, const std::string& path, std::string& reason) override {
    const ui::TForm1* main = ui::App().form1;
    opened.push_back({static_cast<HWND>(owner), path, main && main->RunActive()});
    reason = refuse;
    return refuse.empty();
  }
};

}  // namespace sk::test
