#include <windows.h>
#include "ui/HttpFetch.h"

#include <stdexcept>

#include "ui/Window.h"
#include "win/WinInetSession.h"

namespace sk::ui {
namespace {

constexpr UINT kProgressMessage = WM_APP + 1;  // lParam: the worker, sent (the worker waits)
constexpr UINT kEndedMessage = WM_APP + 2;     // lParam: the worker, posted
constexpr const wchar_t* kNotifyClass = L"SektorianHttpFetch";

}  // namespace

// ---------------- the worker ----------------

THttpFetchThread::THttpFetchThread(HttpRequest request, ProgressHandler onProgress, HWND notify)
    : request_(std::move(request)), onProgress_(std::move(onProgress)), notify_(notify) {}

THttpFetchThread::~THttpFetchThread() {
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
}

void THttpFetchThread::Start() {
  // Everything the worker needs is in place before it runs.
  thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
  if (!thread_) throw std::runtime_error("Thread creation error");
}

DWORD WINAPI THttpFetchThread::ThreadProc(void* self) {
  auto* worker = static_cast<THttpFetchThread*>(self);
  worker->Execute();
  PostMessageW(worker->notify_, kEndedMessage, 0, reinterpret_cast<LPARAM>(worker));
  return 0;
}

void THttpFetchThread::Execute() {
  try {
    win::WinInetSession session;
    win::WinTargetFile target;
    std::function<void(int64_t, int64_t)> progress;
    if (onProgress_) {
      progress = [this](int64_t total, int64_t received) {
        totalSize_ = total;
        readed_ = received;
        SendMessageW(notify_, kProgressMessage, 0, reinterpret_cast<LPARAM>(this));
      };
    }
    outcome_ = RunHttpFetch(request_, session, target, [this] { return stopRequested_.load(); }, progress);
    totalSize_ = outcome_.totalSize;
    readed_ = outcome_.received;
    success_ = outcome_.success && !stopRequested_;
  } catch (const std::exception& e) {
    outcome_.success = false;
    outcome_.error = e.what();
    success_ = false;
  } catch (...) {
    success_ = false;
  }
}

// ---------------- the component ----------------

THttpFetch::THttpFetch() {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = NotifyProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kNotifyClass;
    return RegisterClassW(&wc);
  }();
  (void)atom;
  notify_ = CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                            nullptr);
  if (!notify_) throw std::runtime_error("Error creating window");
  SetWindowLongPtrW(notify_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

THttpFetch::~THttpFetch() {
  if (worker_) {
    destroying_ = true;
    CancelFetch();
    // The worker may be waiting in a progress hand-over: serve the messages
    // sent to this thread until it has ended.
    HANDLE thread = worker_->thread_;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    worker_.reset();
  }
  SetWindowLongPtrW(notify_, GWLP_USERDATA, 0);
  DestroyWindow(notify_);  // drops the posted end of the worker
}

void THttpFetch::FetchToFile() {
  if (worker_) return;  // one fetch at a time; the request is dropped
  HttpRequest request;
  request.acceptTypes = AcceptTypes;
  request.agent = Agent;
  request.binaryData = BinaryData;
  request.url = URL;
  request.useCache = UseCache;
  request.fileName = FileName;
  request.userName = UserName;
  request.password = Password;
  request.postQuery = PostQuery;
  request.referer = Referer;
  worker_.reset(new THttpFetchThread(std::move(request), OnProgress, notify_));
  try {
    worker_->Start();
  } catch (...) {
    worker_.reset();
    throw;
  }
  if (WaitThread) WaitForWorker();
}

void THttpFetch::WaitForWorker() {
  bool quit = false;
  WPARAM quitCode = 0;
  while (worker_) {
    MSG msg;
    while (worker_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {  // kept for the message loop once the fetch ended
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      if (FilterMessage(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (worker_) MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

void THttpFetch::CancelFetch() {
  if (!worker_) return;
  worker_->stopRequested_ = true;
  worker_->success_ = false;
}

void THttpFetch::ReportProgress(THttpFetchThread& worker) {
  if (destroying_ || !worker.onProgress_) return;
  worker.onProgress_(worker, worker.totalSize_, worker.readed_);
}

void THttpFetch::FetchEnded() {
  WaitForSingleObject(worker_->thread_, INFINITE);  // it posted its end as its last step
  success_ = worker_->success_;
  lastOutcome_ = worker_->outcome_;
  // The worker counts as running while the events run (a fetch started from
  // them is dropped); it is gone once they returned or failed.
  struct Finish {
    std::unique_ptr<THttpFetchThread>& worker;
    ~Finish() { worker.reset(); }
  } finish{worker_};
  if (success_) {
    if (OnDoneFile) OnDoneFile(*this, worker_->FileName(), worker_->TotalSize());
  } else if (OnError) {
    OnError(*this);
  }
}

LRESULT CALLBACK THttpFetch::NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<THttpFetch*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && (msg == kProgressMessage || msg == kEndedMessage)) {
    auto* worker = reinterpret_cast<THttpFetchThread*>(lp);
    if (worker != self->worker_.get()) return 0;
    if (msg == kProgressMessage) {
      Guarded([&] { self->ReportProgress(*worker); });
    } else {
      Guarded([&] { self->FetchEnded(); });
    }
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace sk::ui
