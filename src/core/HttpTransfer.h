// The steps of one HTTP fetch into a file, against a session and a target
// file that the Windows layer provides (WinInet and a Windows file) and the
// tests fake.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sk {

// One HTTP session: a session handle, a connection and a request. Every call
// returns whether it worked; Close releases whatever is open (request,
// connection, session, in that order) and may be called at any time.
class IHttpSession {
 public:
  virtual ~IHttpSession() = default;
  // `agent` empty: no user-agent text.
  virtual bool Open(const std::string& agent) = 0;
  // Always on port 80: a ":port" in `host` is part of the host name.
  virtual bool Connect(const std::string& host, const std::string& user, const std::string& password) = 0;
  virtual bool OpenRequest(const std::string& verb, const std::string& path, const std::string& version,
                           const std::string& referrer, const std::string& acceptType, bool reload) = 0;
  // `header` and `body` empty: none.
  virtual bool Send(const std::string& header, const std::string& body) = 0;
  virtual bool QueryStatusCode(int& code) = 0;
  // The Content-Length header's text; false when the server announced none.
  virtual bool QueryContentLength(std::string& text) = 0;
  // Reads up to `count` bytes; `got` 0 with true is the normal end of the body.
  virtual bool Read(void* buffer, size_t count, size_t& got) = 0;
  virtual void Close() = 0;
};

// The file that receives the body. Create and Write throw (FileError) on
// failure; Close may be called when nothing is open.
class ITargetFile {
 public:
  virtual ~ITargetFile() = default;
  // Creates the file, or empties it when it exists.
  virtual void Create(const std::string& path) = 0;
  virtual void Write(const void* data, size_t count) = 0;
  virtual void Close() = 0;
};

struct HttpRequest {
  std::string acceptTypes = "*/*";
  std::string agent;
  bool binaryData = false;
  std::string url;
  bool useCache = false;
  std::string fileName;
  std::string userName;
  std::string password;
  std::string postQuery;
  std::string referer;
  // The most the body may hold (-1: no limit): an announced length beyond it
  // fails before the file is made, and a body that passes it fails as soon
  // as it does, with only `maxSize` bytes written.
  int64_t maxSize = -1;
  // The body must be exactly `maxSize` bytes: another announced length fails
  // at once.
  bool exactSize = false;
  // How long a network call may wait for the server (0: WinInet's own).
  int timeoutMs = 0;
};

inline constexpr size_t kHttpBlockSize = 1025;
inline constexpr const char* kFormContentType = "Content-Type: application/x-www-form-urlencoded";
// Sent when the cache is not to be used, so that no proxy answers either.
inline constexpr const char* kNoCacheHeaders = "Cache-Control: no-cache\r\nPragma: no-cache";

struct HttpOutcome {
  bool success = false;
  int status = 0;          // the response's status code, 0 when none came
  int64_t totalSize = 0;   // the announced length, 0 when none was announced
  int64_t received = 0;    // body bytes written to the file
  bool fileWritten = false;  // the target file was created (or emptied)
  std::string error;       // why a fetch failed with an error (a file error, a bad length)
};

// Runs the fetch. `stopRequested` is asked at the check points: after the
// address is split, after the request was sent, after the length query, and
// before every read. `progress` (may be empty) runs after every block with
// the announced length and the bytes received so far.
//
// Without `useCache` the request forces a reload and carries kNoCacheHeaders
// (after the form's content type, for a POST).
//
// The body goes to the file only when the server answered with a 2xx status
// and an announced length within `maxSize` (exactly it with `exactSize`);
// any other answer leaves the file as it was. Success needs a 2xx status, the
// body read to its normal end and the announced length received in full. A
// response without a length is not read at all with `binaryData`; without it,
// it is saved but counts as a success only when its body is empty. Whatever happens, the session and the file are
// released before the call returns.
HttpOutcome RunHttpFetch(const HttpRequest& request, IHttpSession& session, ITargetFile& target,
                         const std::function<bool()>& stopRequested,
                         const std::function<void(int64_t total, int64_t received)>& progress);

// The Content-Length text as a 64-bit byte count; nullopt when it is not a
// whole non-negative number.
std::optional<int64_t> ParseContentLength(const std::string& text);

}  // namespace sk
