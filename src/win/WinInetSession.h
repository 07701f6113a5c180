// The HTTP session of a fetch through WinInet, and the Windows file that
// receives the body.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <memory>

#include "core/FileApi.h"
#include "core/HttpTransfer.h"

namespace sk::win {

class WinInetSession : public IHttpSession {
 public:
  // `timeoutMs` > 0: how long a connection, a send or a read may wait.
  explicit WinInetSession(int timeoutMs = 0) : timeoutMs_(timeoutMs) {}
  WinInetSession(const WinInetSession&) = delete;
  WinInetSession& operator=(const WinInetSession&) = delete;
  ~WinInetSession() override { Close(); }

  bool Open(const std::string& agent) override;
  bool Connect(const std::string& host, const std::string& user, const std::string& password) override;
  bool OpenRequest(const std::string& verb, const std::string& path, const std::string& version,
                   const std::string& referrer, const std::string& acceptType, bool reload) override;
  bool Send(const std::string& header, const std::string& body) override;
  bool QueryStatusCode(int& code) override;
  bool QueryContentLength(std::string& text) override;
  bool Read(void* buffer, size_t count, size_t& got) override;
  void Close() override;

 private:
  int timeoutMs_;
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
};

// The target of a fetch: created or emptied, written in order, closed. It
// may be deleted while it is being written (the fetch may be left behind).
class WinTargetFile : public ITargetFile {
 public:
  WinTargetFile() = default;
  WinTargetFile(const WinTargetFile&) = delete;
  WinTargetFile& operator=(const WinTargetFile&) = delete;
  ~WinTargetFile() override { Close(); }
  void Create(const std::string& path) override;
  void Write(const void* data, size_t count) override;
  void Close() override;

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace sk::win
