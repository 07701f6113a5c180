#include <windows.h>
#include "ui/HttpFetch.h"

#include <algorithm>
#include <stdexcept>

#include "ui/Window.h"
#include "win/WinInetSession.h"

namespace sk::ui {
namespace {

// wParam of each: the worker's id; lParam: the worker.
constexpr UINT kProgressMessage = WM_APP + 1;  // sent (the worker waits)
constexpr UINT kEndedMessage = WM_APP + 2;     // posted
constexpr UINT kCancelMessage = WM_APP + 3;    // posted by CancelFetch
constexpr UINT_PTR kStallTimer = 1;
constexpr const wchar_t* kNotifyClass = L"SektorianHttpFetch";

}  // namespace

// ---------------- the worker ----------------

THttpFetchThread::THttpFetchThread(HttpRequest request, ProgressHandler onProgress, HWND notify, unsigned id)
    : request_(std::move(request)), onProgress_(std::move(onProgress)), notify_(notify), id_(id) {
  lastData_ = GetTickCount();
}

THttpFetchThread::~THttpFetchThread() {
  // The last owner may be the worker's own thread: it is never waited for.
  if (thread_) CloseHandle(thread_);
}

void THttpFetchThread::Start(const std::shared_ptr<THttpFetchThread>& worker) {
  // Everything the worker needs is in place before it runs; its thread owns
  // a share of it until it ends.
  auto* share = new std::shared_ptr<THttpFetchThread>(worker);
  worker->thread_ = CreateThread(nullptr, 0, ThreadProc, share, 0, nullptr);
  if (!worker->thread_) {
    delete share;
    throw std::runtime_error("Thread creation error");
  }
}

DWORD WINAPI THttpFetchThread::ThreadProc(void* param) {
  std::shared_ptr<THttpFetchThread> worker = *static_cast<std::shared_ptr<THttpFetchThread>*>(param);
  delete static_cast<std::shared_ptr<THttpFetchThread>*>(param);
  worker->Execute();
  PostMessageW(worker->notify_, kEndedMessage, worker->id_, reinterpret_cast<LPARAM>(worker.get()));
  return 0;
}

void THttpFetchThread::Execute() {
  try {
    win::WinInetSession session(request_.timeoutMs);
    win::WinTargetFile target;
    // Every block counts as data for the stall check, reported or not.
    auto progress = [this](int64_t total, int64_t received) {
      lastData_ = GetTickCount();
      if (!onProgress_) return;
      totalSize_ = total;
      readed_ = received;
      SendMessageW(notify_, kProgressMessage, id_, reinterpret_cast<LPARAM>(this));
    };
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
  destroying_ = true;
  if (worker_) {
    // A worker waiting in a progress hand-over is let go when the window
    // goes; one in a network call ends when the call returns.
    worker_->stopRequested_ = true;
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
  request.maxSize = MaxSize;
  request.exactSize = ExactSize;
  request.timeoutMs = StallTimeout;
  worker_.reset(new THttpFetchThread(std::move(request), OnProgress, notify_, nextId_++));
  try {
    THttpFetchThread::Start(worker_);
  } catch (...) {
    worker_.reset();
    throw;
  }
  if (StallTimeout > 0) SetTimer(notify_, kStallTimer, static_cast<UINT>(std::clamp(StallTimeout / 4, 10, 1000)), nullptr);
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
  PostMessageW(notify_, kCancelMessage, worker_->id_, reinterpret_cast<LPARAM>(worker_.get()));
}

void THttpFetch::ReportProgress(THttpFetchThread& worker) {
  if (destroying_ || !worker.onProgress_) return;
  worker.onProgress_(worker, worker.totalSize_, worker.readed_);
}

void THttpFetch::FetchEnded() {
  WaitForSingleObject(worker_->thread_, INFINITE);  // it posted its end as its last step
  lastOutcome_ = worker_->outcome_;
  Finish(worker_->success_);
}

void THttpFetch::Abandon(const std::string& why) {
  worker_->stopRequested_ = true;
  lastOutcome_ = HttpOutcome{};
  lastOutcome_.error = why;
  Finish(false);
}

void THttpFetch::Finish(bool success) {
  KillTimer(notify_, kStallTimer);
  success_ = success;
  // The worker counts as running while the events run (a fetch started from
  // them is dropped); it is gone once they returned or failed.
  std::shared_ptr<THttpFetchThread> worker = worker_;
  struct Release {
    std::shared_ptr<THttpFetchThread>& worker;
    ~Release() { worker.reset(); }
  } release{worker_};
  if (success_) {
    if (OnDoneFile) OnDoneFile(*this, worker->FileName(), worker->TotalSize());
  } else if (OnError) {
    OnError(*this);
  }
}

LRESULT CALLBACK THttpFetch::NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<THttpFetch*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  // Only the running fetch's messages count: one left behind may still send.
  const bool current = self->worker_ && self->worker_->id_ == wp &&
                       reinterpret_cast<LPARAM>(self->worker_.get()) == lp;
  switch (msg) {
    case kProgressMessage:
      if (current) Guarded([&] { self->ReportProgress(*self->worker_); });
      return 0;
    case kEndedMessage:
      if (current) Guarded([&] { self->FetchEnded(); });
      return 0;
    case kCancelMessage:
      if (current) Guarded([&] { self->Abandon("cancelled"); });
      return 0;
    case WM_TIMER:
      if (wp == kStallTimer && self->worker_ &&
          GetTickCount() - self->worker_->lastData_ >= static_cast<DWORD>(self->StallTimeout)) {
        Guarded([&] { self->Abandon("no data for " + std::to_string(self->StallTimeout) + " ms"); });
      }
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace sk::ui
