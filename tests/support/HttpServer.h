// A small HTTP/1.0 server on 127.0.0.1 for the tests of the fetcher and the
// update check: fixed answers by path, a 404 for anything else, bodies that
// are shorter than announced, without a length, sent slowly, without end, or
// that stop coming while the connection stays open.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sk::test {

struct HttpAnswer {
  int status = 200;
  std::string body;
  bool announceLength = true;
  long long announcedLength = -1;  // -1: the body's size
  size_t chunk = 0;                // > 0: send the body in pieces of this size...
  int delayMs = 0;                 // ...with this pause before each piece
  bool endless = false;            // the body again and again, for as long as the client reads
  long long stallAfter = -1;       // >= 0: after this many bytes of the body nothing more comes...
  bool stallBeforeAnswer = false;  // ...or nothing at all; the connection stays open until the server ends
};

struct HttpRequestSeen {
  std::string method, path, version, headers, body;
};

class HttpServer {
 public:
  // Listens on 127.0.0.1:port; Ok() tells whether that worked.
  explicit HttpServer(unsigned short port = 80);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool Ok() const { return listener_ != INVALID_SOCKET; }
  // "http://127.0.0.1/" (the port added when it is not 80).
  std::string Base() const;
  void Serve(const std::string& path, const HttpAnswer& answer);
  std::vector<HttpRequestSeen> Requests() const;
  int RequestsFor(const std::string& path) const;

 private:
  static DWORD WINAPI AcceptProc(void* self);
  static DWORD WINAPI ConnectionProc(void* param);
  void Handle(SOCKET s);

  // Holds a stalled connection open until the server ends.
  void Hold();

  unsigned short port_;
  HANDLE stopped_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SOCKET listener_ = INVALID_SOCKET;
  HANDLE acceptThread_ = nullptr;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, HttpAnswer> answers_;
  std::vector<HttpRequestSeen> requests_;
  std::vector<HANDLE> connections_;
};

}  // namespace sk::test
