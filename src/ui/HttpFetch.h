// THttpFetch: a non-visual component that fetches one http address into a
// file on a worker thread (THttpFetchThread) and delivers progress and the
// outcome as events on the user-interface thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/HttpTransfer.h"

namespace sk::ui {

class THttpFetch;

// The worker of one fetch. It works on copies of the component's properties
// and never touches a window: each progress report is handed to the
// user-interface thread, and the worker waits until it has been handled. Its
// thread holds it until it ends, so a fetch that was cancelled or stalled can
// be left to end on its own: a network call under way is never waited for.
class THttpFetchThread {
 public:
  using ProgressHandler = std::function<void(THttpFetchThread& sender, int64_t totalSize, int64_t readed)>;
  THttpFetchThread(const THttpFetchThread&) = delete;
  THttpFetchThread& operator=(const THttpFetchThread&) = delete;
  ~THttpFetchThread();

  const std::string& FileName() const { return request_.fileName; }
  const std::string& URL() const { return request_.url; }
  int64_t TotalSize() const { return totalSize_; }
  int64_t Readed() const { return readed_; }

 private:
  friend class THttpFetch;
  THttpFetchThread(HttpRequest request, ProgressHandler onProgress, HWND notify, unsigned id);
  static void Start(const std::shared_ptr<THttpFetchThread>& worker);
  void Execute();
  static DWORD WINAPI ThreadProc(void* self);

  const HttpRequest request_;
  const ProgressHandler onProgress_;
  const HWND notify_;  // the component's hidden message window
  const unsigned id_;  // tells this fetch's messages from those of an earlier one
  HANDLE thread_ = nullptr;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> success_{false};
  std::atomic<DWORD> lastData_{0};  // tick count of the request's start or its last block
  // Written by the worker, read on the user-interface thread while the
  // worker waits for a progress report to be handled, or after it ended.
  int64_t totalSize_ = 0;
  int64_t readed_ = 0;
  HttpOutcome outcome_;
};

class THttpFetch {
 public:
  using TOnProgressEvent = THttpFetchThread::ProgressHandler;
  using TOnDoneFileEvent = std::function<void(THttpFetch& sender, const std::string& fileName, int64_t fileSize)>;
  using TNotifyEvent = std::function<void(THttpFetch& sender)>;

  static constexpr const char* kDefaultAgent = "THttpFetch component";

  // Creates the component on the user-interface thread, which then receives
  // all its events.
  THttpFetch();
  // Asks a running fetch to stop and leaves its worker to end on its own;
  // its end and its progress reports no longer reach the events.
  ~THttpFetch();
  THttpFetch(const THttpFetch&) = delete;
  THttpFetch& operator=(const THttpFetch&) = delete;

  // ---- properties ----
  std::string AcceptTypes = "*/*";
  std::string Agent = kDefaultAgent;  // empty: no user-agent text
  bool BinaryData = false;  // a response without a length is not downloaded
  std::string URL;
  bool UseCache = false;  // false: every request goes to the server
  std::string FileName;
  std::string UserName;
  std::string Password;
  std::string PostQuery;  // not empty: a POST with this form-encoded body
  std::string Referer;
  bool WaitThread = false;  // FetchToFile returns when the fetch has ended
  // The most the body may hold, enforced while it arrives (-1: no limit);
  // with ExactSize it must hold exactly that.
  int64_t MaxSize = -1;
  bool ExactSize = false;
  // A fetch that receives nothing for this long (milliseconds; 0: no limit)
  // ends as failed at once; its network calls are given the same time.
  int StallTimeout = 0;
  TOnProgressEvent OnProgress;
  TOnDoneFileEvent OnDoneFile;
  TNotifyEvent OnError;

  // Starts a fetch of URL into FileName; does nothing while a fetch runs.
  // With WaitThread it returns only after the fetch ended, dispatching the
  // thread's messages meanwhile.
  void FetchToFile();
  // Ends the running fetch as failed as soon as this thread's messages are
  // handled next (FetchToFile returns then), without waiting for the worker,
  // which stops at its next check point or when its network call returns.
  void CancelFetch();

  bool Fetching() const { return worker_ != nullptr; }
  // Whether the last fetch ended successfully.
  bool Succeeded() const { return success_; }
  // The last fetch's outcome in detail (status, sizes, the error text).
  const HttpOutcome& LastOutcome() const { return lastOutcome_; }

 private:
  friend class THttpFetchThread;
  static LRESULT CALLBACK NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void ReportProgress(THttpFetchThread& worker);
  void FetchEnded();
  // Ends the running fetch as failed with `why`, leaving its worker behind.
  void Abandon(const std::string& why);
  void Finish(bool success);
  void WaitForWorker();

  HWND notify_ = nullptr;
  std::shared_ptr<THttpFetchThread> worker_;
  unsigned nextId_ = 1;
  bool success_ = false;
  bool destroying_ = false;
  HttpOutcome lastOutcome_;
};

}  // namespace sk::ui
