// The window side of a rescue's reads and writes. A read of a damaged disc
// can take seconds; made on the window's thread it would freeze the window
// for as long. So a rescue's files are opened through WorkerFileSystem: every
// call (and every call of the files it opens) is handed to one worker thread
// of its own and waited for, one at a time, while the window's thread goes on
// processing its messages.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "core/FileApi.h"
#include "core/Rescue.h"

namespace sk::ui {

class WorkerFileSystem : public IFileSystem {
 public:
  // `inner` makes the calls, on the worker. `whileWaiting` is called on the
  // waiting thread between its message pumps while a call takes long (at
  // least every `kWaitSliceMs`), e.g. to keep the elapsed time moving.
  explicit WorkerFileSystem(IFileSystem& inner, std::function<void()> whileWaiting = {});
  ~WorkerFileSystem() override;
  WorkerFileSystem(const WorkerFileSystem&) = delete;
  WorkerFileSystem& operator=(const WorkerFileSystem&) = delete;

  static constexpr DWORD kWaitSliceMs = 100;

  // The files opened here make their calls on the worker too; they must go
  // before this object does.
  std::unique_ptr<IFile> Open(const std::string& path, OpenMode mode) override;
  bool IsSameFile(IFile& file, const std::string& path) override;
  int64_t FileSizeByName(const std::string& path) override;
  void ReplaceContent(const std::string& path, const std::string& text) override;
  void RemoveFile(const std::string& path) override;
  bool Present(const std::string& path) override;
  // `calls` made on the worker as one call (the calls in it are made there
  // directly).
  void Together(const std::function<void()>& calls) override;
  // `work` is done on the calling thread right after the next call has been
  // handed over, while the worker makes it.
  void Alongside(std::function<void()> work) override;

  class Worker;

 private:
  IFileSystem& inner_;
  std::unique_ptr<Worker> worker_;
};

// The question after the medium of a rescue went away (or another disc is
// in): Ponów (true) or Anuluj (false), in a box owned by `owner`.
bool AskMediumRetry(HWND owner, MediumQuestion question);

}  // namespace sk::ui
