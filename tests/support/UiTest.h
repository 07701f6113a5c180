// Helpers for the tests that drive real windows under Wine on Xvfb.
#pragma once
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace sk::test {

// Pump this thread's messages until `done` holds or `ms` milliseconds pass;
// returns whether `done` held.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000);
// Pump whatever is pending now, several rounds.
void Flush();

// The program started as the window tests start it: complete settings (level
// 1, the size check on) in the registry, its forms created, the main window
// shown, every message handled. ui::ShutDown() ends it.
void StartProgram();

// A window's text as UTF-8.
std::string WindowText(HWND h);

// Answers the next modal message box that appears on any thread of this
// process: records its caption and text, then presses the button `buttonId`
// (IDOK, IDYES, ...). Runs a watcher thread until the box was handled or the
// timeout passed.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(int buttonId = IDOK, int timeoutMs = 10000);
  // Answers one box after the other with these buttons, in order;
  // `beforeAnswer(k)` runs on the watcher thread before box k is answered.
  explicit MessageBoxAnswerer(std::vector<int> buttonIds, int timeoutMs = 10000,
                              std::function<void(size_t k)> beforeAnswer = {});
  ~MessageBoxAnswerer();
  // Whether every box asked for was answered.
  bool Answered() const { return answered_; }
  // The last box answered.
  const std::string& Caption() const { return caption_; }
  const std::string& Text() const { return text_; }
  // Every box answered, in order: caption, text and the standard icon it
  // shows ("error", "question", "warning", "information" or ""), and its owner.
  struct Box {
    std::string caption, text, icon;
    HWND owner = nullptr;
  };
  const std::vector<Box>& Boxes() const { return boxes_; }
  // Wait (pumping) until a box was answered.
  bool Wait(int ms = 10000);

 private:
  static DWORD WINAPI Run(void* self);
  std::vector<int> buttons_;
  int timeout_;
  std::function<void(size_t)> beforeAnswer_;
  HANDLE thread_ = nullptr;
  volatile bool answered_ = false;
  volatile bool stop_ = false;
  std::string caption_, text_;
  std::vector<Box> boxes_;
};

// Drives a modal window from inside its own loop: `step` runs on a thread
// timer of this thread until it returns true. After `limitMs` every window
// this thread owns with `owner` is cancelled, so a test cannot hang.
class WhileModal {
 public:
  WhileModal(HWND owner, std::function<bool()> step, int limitMs = 15000);
  ~WhileModal();
  WhileModal(const WhileModal&) = delete;
  WhileModal& operator=(const WhileModal&) = delete;
  bool Done() const { return done_; }
  bool TimedOut() const { return timedOut_; }
  // A visible top-level window of this thread owned by `owner`, of class
  // `cls` when given.
  static HWND OwnedWindow(HWND owner, const wchar_t* cls = nullptr);

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  static inline WhileModal* current_ = nullptr;
  HWND owner_;
  std::function<bool()> step_;
  DWORD deadline_;
  UINT_PTR id_ = 0;
  bool done_ = false, timedOut_ = false, busy_ = false;
};

// A temporary folder on the Windows side (UTF-8 path ending in '\'), removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// A drop as Explorer makes one: the paths in a DROPFILES block, at `at` in
// the window's client coordinates, sent to `window`.
void Drop(HWND window, const std::vector<std::string>& paths, POINT at);

// Whole-file helpers (UTF-8 paths).
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// A deterministic pattern of `size` bytes.
std::string Pattern(size_t size, unsigned salt = 1);

}  // namespace sk::test
