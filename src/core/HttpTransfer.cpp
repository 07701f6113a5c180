#include "core/HttpTransfer.h"

#include <algorithm>
#include <exception>

#include "core/Url.h"

namespace sk {

std::optional<int64_t> ParseContentLength(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t end = text.size();
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
  if (i == end || end - i > 18) return std::nullopt;  // 18 digits always fit in 64 bits
  int64_t value = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

namespace {

// Releases the session and the file on every way out of the fetch.
struct Release {
  IHttpSession& session;
  ITargetFile& target;
  bool fileOpen = false;
  ~Release() {
    if (fileOpen) {
      try {
        target.Close();
      } catch (...) {
      }
    }
    session.Close();
  }
};

}  // namespace

HttpOutcome RunHttpFetch(const HttpRequest& request, IHttpSession& session, ITargetFile& target,
                         const std::function<bool()>& stopRequested,
                         const std::function<void(int64_t total, int64_t received)>& progress) {
  HttpOutcome out;
  const UrlParts parts = SplitUrl(request.url);
  if (stopRequested()) return out;

  Release release{session, target};
  try {
    const bool post = !request.postQuery.empty();
    if (!session.Open(request.agent)) return out;
    if (!session.Connect(parts.host, request.userName, request.password)) return out;
    if (!session.OpenRequest(post ? "POST" : "GET", parts.path, "HTTP/1.0", request.referer, request.acceptTypes,
                             !request.useCache)) {
      return out;
    }
    std::string header = post ? kFormContentType : "";
    if (!request.useCache) header += std::string(post ? "\r\n" : "") + kNoCacheHeaders;
    const bool sent = session.Send(header, post ? request.postQuery : std::string());
    if (stopRequested() || !sent) return out;

    int status = 0;
    if (!session.QueryStatusCode(status)) return out;
    out.status = status;
    std::string lengthText;
    const bool announced = session.QueryContentLength(lengthText);
    if (stopRequested()) return out;
    if (status < 200 || status > 299) return out;  // an error page is not the file
    if (!announced && request.binaryData) return out;
    if (announced) {
      const auto length = ParseContentLength(lengthText);
      if (!length) {
        out.error = "'" + lengthText + "' is not a valid integer value";
        return out;
      }
      out.totalSize = *length;
    }
    const bool limited = request.maxSize >= 0;
    if (limited && announced &&
        (request.exactSize ? out.totalSize != request.maxSize : out.totalSize > request.maxSize)) {
      out.error = "announced " + std::to_string(out.totalSize) + " bytes where " +
                  std::to_string(request.maxSize) + (request.exactSize ? " are expected" : " at most are allowed");
      return out;
    }

    target.Create(request.fileName);
    release.fileOpen = true;
    out.fileWritten = true;
    char block[kHttpBlockSize];
    bool bodyEnded = false;
    for (;;) {
      if (stopRequested()) return out;
      // With a limit, one byte beyond it is asked for, so that a longer body
      // shows at once.
      size_t want = sizeof block;
      if (limited) want = static_cast<size_t>(std::min<int64_t>(want, request.maxSize - out.received + 1));
      size_t got = 0;
      if (!session.Read(block, want, got)) break;  // the body broke off
      if (got == 0) {
        bodyEnded = true;
        break;
      }
      if (limited && out.received + static_cast<int64_t>(got) > request.maxSize) {
        target.Write(block, static_cast<size_t>(request.maxSize - out.received));
        out.received = request.maxSize;
        out.error = "more than " + std::to_string(request.maxSize) + " bytes";
        return out;
      }
      target.Write(block, got);
      out.received += static_cast<int64_t>(got);
      if (progress) progress(out.totalSize, out.received);
    }
    release.fileOpen = false;
    target.Close();
    // Without an announced length there is nothing to check the body against:
    // only an empty body counts as complete.
    out.success = bodyEnded && (announced ? out.received == out.totalSize : out.received == 0) &&
                  (!request.exactSize || out.received == request.maxSize);
  } catch (const std::exception& e) {
    out.success = false;
    out.error = e.what();
  } catch (...) {
    out.success = false;
    out.error = "?";
  }
  return out;
}

}  // namespace sk
