#include "ui/RescueFiles.h"

#include <atomic>
#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "ui/Window.h"
#include "win/Utf.h"

namespace sk::ui {

// One thread that makes the calls handed to it, one at a time. The calling
// thread waits for each, processing its messages meanwhile; whatever a call
// throws is carried back and thrown again on the calling thread.
//
// A healthy rescue makes thousands of calls a second of some tens of
// microseconds each. So the two sides hand over through a lock and condition
// variables, which wait without a round trip to the system's object manager
// (under Wine an event costs hundreds of microseconds a call on a busy
// machine), and the caller first waits for a call that way for up to
// kQuickWaitMs, as long as the pacing lets a loop go without pumping. Only a
// call that takes longer is waited for on an event together with the
// thread's messages. Neither side spins before it sleeps: on two shared
// cores that was no faster, a spinning thread taking the time its partner
// needs.
class WorkerFileSystem::Worker {
 public:
  explicit Worker(std::function<void()> whileWaiting) : whileWaiting_(std::move(whileWaiting)) {}
  ~Worker() {
    if (thread_) {
      Locked([&] { quit_ = true; });
      WakeConditionVariable(&posted_);
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    if (done_) CloseHandle(done_);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // `fn()` made on the worker; its result or its exception here.
  template <typename Fn>
  auto Call(Fn&& fn) -> decltype(fn()) {
    using Result = decltype(fn());
    // A call made by a call the worker is making (Together) is made there.
    if (thread_ && GetCurrentThreadId() == threadId_) return fn();
    if constexpr (std::is_void_v<Result>) {
      Run(fn);
    } else {
      std::optional<Result> result;
      auto store = [&] { result.emplace(fn()); };
      Run(store);
      return std::move(*result);
    }
  }

  template <typename Fn>
  void Run(Fn& fn) {
    RunTask([](void* f) { (*static_cast<Fn*>(f))(); }, &fn);
  }

  void Alongside(std::function<void()> work) { alongside_ = std::move(work); }

 private:
  static constexpr DWORD kQuickWaitMs = 10;

  void RunTask(void (*task)(void*), void* context) {
    // A message handled during a wait must never start another call: the
    // rescue it would belong to is the one waiting.
    if (busy_) throw std::logic_error("a file call while another is waited for");
    Start();
    busy_ = true;
    const unsigned call = ++calls_;
    bool done = false;
    Locked([&] {
      task_ = task;
      context_ = context;
      error_ = nullptr;
      postedCall_ = call;
    });
    WakeConditionVariable(&posted_);
    // The work left for this moment, while the worker makes the call; what
    // it throws waits, like anything thrown during the wait, for the call.
    std::exception_ptr waitError;
    if (alongside_) {
      try {
        std::exchange(alongside_, nullptr)();
      } catch (...) {
        waitError = std::current_exception();
      }
    }
    Locked([&] {
      const DWORD start = GetTickCount();
      for (DWORD waited = 0; finishedCall_.load() != call && waited < kQuickWaitMs; waited = GetTickCount() - start)
        SleepConditionVariableSRW(&finished_, &lock_, kQuickWaitMs - waited, 0);
      done = finishedCall_.load() == call;
      callerAsleep_ = !done;
    });
    if (!done) {
      std::exception_ptr error = Wait(call);
      if (!waitError) waitError = error;
    }
    busy_ = false;
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    if (waitError) std::rethrow_exception(waitError);
  }

  template <typename Fn>
  void Locked(Fn fn) {
    AcquireSRWLockExclusive(&lock_);
    fn();
    ReleaseSRWLockExclusive(&lock_);
  }

  void Start() {
    if (thread_) return;
    if (!done_) done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (done_) thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, &threadId_);
    if (!thread_) {
      const DWORD code = GetLastError();
      throw FileError(win::FileErrorText(code), code);
    }
  }

  // Until call `call` is done: this thread's messages are processed (a
  // WM_QUIT is kept for the message loop, posted again afterwards), and
  // between them whileWaiting_ runs at least every kWaitSliceMs. Nothing
  // thrown here may leave before the call is done (it uses this caller's
  // data): it is returned, to be thrown afterwards.
  std::exception_ptr Wait(unsigned call) {
    std::exception_ptr error;
    std::optional<WPARAM> quit;
    while (finishedCall_.load() != call) {
      const DWORD got = MsgWaitForMultipleObjectsEx(1, &done_, kWaitSliceMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (got == WAIT_OBJECT_0) continue;  // set for this call, or left set by an earlier one
      if (got == WAIT_FAILED) {
        while (finishedCall_.load() != call) WaitForSingleObject(done_, kWaitSliceMs);
        break;
      }
      try {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          if (msg.message == WM_QUIT) {
            quit = msg.wParam;
            continue;
          }
          if (FilterMessage(msg)) continue;
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
        if (whileWaiting_) whileWaiting_();
      } catch (...) {
        if (!error) error = std::current_exception();
      }
    }
    Locked([&] { callerAsleep_ = false; });
    if (quit) PostQuitMessage(static_cast<int>(*quit));
    return error;
  }

  static DWORD WINAPI ThreadProc(void* self) {
    static_cast<Worker*>(self)->Loop();
    return 0;
  }
  void Loop() {
    unsigned handled = 0;
    for (;;) {
      void (*task)(void*) = nullptr;
      void* context = nullptr;
      bool quit = false;
      Locked([&] {
        while (postedCall_ == handled && !quit_) SleepConditionVariableSRW(&posted_, &lock_, INFINITE, 0);
        quit = quit_;
        handled = postedCall_;
        task = task_;
        context = context_;
      });
      if (quit) return;
      // Nothing leaves this thread: the call's failure goes back to the caller.
      std::exception_ptr error;
      try {
        task(context);
      } catch (...) {
        error = std::current_exception();
      }
      bool callerAsleep = false;
      Locked([&] {
        error_ = error;
        finishedCall_.store(handled);
        callerAsleep = callerAsleep_;
      });
      WakeConditionVariable(&finished_);
      if (callerAsleep) SetEvent(done_);
    }
  }

  std::function<void()> whileWaiting_;
  HANDLE thread_ = nullptr, done_ = nullptr;
  DWORD threadId_ = 0;
  std::function<void()> alongside_;  // done right after the next call is handed over
  unsigned calls_ = 0;
  bool busy_ = false;  // a call is being waited for
  // The handing over, under lock_: the call posted (task_ with context_)
  // and the number of the call finished (with error_), each with its
  // condition; callerAsleep_ when the caller waits for done_ instead.
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE posted_ = CONDITION_VARIABLE_INIT, finished_ = CONDITION_VARIABLE_INIT;
  void (*task_)(void*) = nullptr;
  void* context_ = nullptr;
  unsigned postedCall_ = 0;
  std::atomic<unsigned> finishedCall_{0};  // read without the lock while messages are waited for
  std::exception_ptr error_;
  bool callerAsleep_ = false, quit_ = false;
};

namespace {

class WorkerFile : public IFile {
 public:
  WorkerFile(std::unique_ptr<IFile> inner, WorkerFileSystem::Worker& worker)
      : inner_(std::move(inner)), worker_(worker) {}
  IFile& Inner() { return *inner_; }

  int64_t Position() override {
    return worker_.Call([&] { return inner_->Position(); });
  }
  void Seek(int64_t position) override {
    worker_.Call([&] { inner_->Seek(position); });
  }
  int64_t Size() override {
    return worker_.Call([&] { return inner_->Size(); });
  }
  size_t Read(void* buffer, size_t count) override {
    return worker_.Call([&] { return inner_->Read(buffer, count); });
  }
  size_t Write(const void* buffer, size_t count) override {
    return worker_.Call([&] { return inner_->Write(buffer, count); });
  }
  void Close() override {
    worker_.Call([&] { inner_->Close(); });
  }
  void Flush() override {
    worker_.Call([&] { inner_->Flush(); });
  }
  void SetSize(int64_t size) override {
    worker_.Call([&] { inner_->SetSize(size); });
  }
  int64_t SectorSize() override {
    return worker_.Call([&] { return inner_->SectorSize(); });
  }

 private:
  std::unique_ptr<IFile> inner_;  // closed by Close (on the worker) before it goes, as a rule
  WorkerFileSystem::Worker& worker_;
};

}  // namespace

WorkerFileSystem::WorkerFileSystem(IFileSystem& inner, std::function<void()> whileWaiting)
    : inner_(inner), worker_(std::make_unique<Worker>(std::move(whileWaiting))) {}

WorkerFileSystem::~WorkerFileSystem() = default;

std::unique_ptr<IFile> WorkerFileSystem::Open(const std::string& path, OpenMode mode) {
  std::unique_ptr<IFile> file = worker_->Call([&] { return inner_.Open(path, mode); });
  return std::make_unique<WorkerFile>(std::move(file), *worker_);
}

bool WorkerFileSystem::IsSameFile(IFile& file, const std::string& path) {
  auto* mine = dynamic_cast<WorkerFile*>(&file);
  IFile& inner = mine ? mine->Inner() : file;
  return worker_->Call([&] { return inner_.IsSameFile(inner, path); });
}

int64_t WorkerFileSystem::FileSizeByName(const std::string& path) {
  return worker_->Call([&] { return inner_.FileSizeByName(path); });
}

void WorkerFileSystem::ReplaceContent(const std::string& path, const std::string& text) {
  worker_->Call([&] { inner_.ReplaceContent(path, text); });
}

void WorkerFileSystem::RemoveFile(const std::string& path) {
  worker_->Call([&] { inner_.RemoveFile(path); });
}

bool WorkerFileSystem::Present(const std::string& path) {
  return worker_->Call([&] { return inner_.Present(path); });
}

void WorkerFileSystem::Together(const std::function<void()>& calls) {
  worker_->Call([&] { calls(); });
}

void WorkerFileSystem::Alongside(std::function<void()> work) { worker_->Alongside(std::move(work)); }

bool AskMediumRetry(HWND owner, MediumQuestion question) {
  const char* text = question == MediumQuestion::kOtherDisc
                         ? "W napędzie jest inna płyta. Włóż płytę, z której kopiowano, i wybierz Ponów. Anuluj "
                           "zatrzymuje kopiowanie."
                         : "Nie można odczytać nośnika. Jeśli płyta została wyjęta, włóż ją ponownie i wybierz "
                           "Ponów. Anuluj zatrzymuje kopiowanie.";
  return MessageBoxW(owner, win::Widen(text).c_str(), kAppTitle, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

}  // namespace sk::ui
