// Fuzz target: the fetch steps against a server that answers anything: any
// status, any Content-Length text, bodies of any length delivered in any
// pieces, failures at any call, with or without a size limit. The outcome
// must be consistent, no more than the limit written, and every handle and
// the file released.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/FileApi.h"
#include "core/HttpTransfer.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  std::string Text(size_t max) {
    const size_t len = std::min<size_t>(Byte() % (max + 1), n);
    std::string s(reinterpret_cast<const char*>(p), len);
    p += len;
    n -= len;
    return s;
  }
};

struct FuzzSession : sk::IHttpSession {
  Input& in;
  uint8_t failMask;
  int status;
  bool hasLength;
  std::string length;
  bool open = false;
  explicit FuzzSession(Input& i) : in(i) {
    failMask = in.Byte();
    status = 100 + in.Byte() * 2;
    hasLength = in.Byte() & 1;
    length = in.Text(24);
  }
  bool Open(const std::string&) override { return open = !(failMask & 1); }
  bool Connect(const std::string&, const std::string&, const std::string&) override { return !(failMask & 2); }
  bool OpenRequest(const std::string&, const std::string&, const std::string&, const std::string&,
                   const std::string&, bool) override {
    return !(failMask & 4);
  }
  bool Send(const std::string&, const std::string&) override { return !(failMask & 8); }
  bool QueryStatusCode(int& code) override {
    code = status;
    return !(failMask & 16);
  }
  bool QueryContentLength(std::string& text) override {
    text = length;
    return hasLength;
  }
  bool Read(void* buffer, size_t count, size_t& got) override {
    const uint8_t piece = in.Byte();
    if (piece == 255) return false;  // the connection broke
    got = std::min<size_t>({count, piece, in.n});
    std::memcpy(buffer, in.p, got);
    in.p += got;
    in.n -= got;
    return true;
  }
  void Close() override { open = false; }
};

struct FuzzFile : sk::ITargetFile {
  bool open = false;
  bool failWrites = false;
  int64_t written = 0;
  void Create(const std::string&) override { open = true; }
  void Write(const void*, size_t count) override {
    Check(open);
    if (failWrites) throw sk::FileError("Disk full", 112);
    written += static_cast<int64_t>(count);
  }
  void Close() override { open = false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  sk::HttpRequest request;
  const uint8_t flags = in.Byte();
  request.binaryData = flags & 1;
  request.postQuery = (flags & 2) ? "a=b" : "";
  request.url = "http://127.0.0.1/" + in.Text(16);
  if (flags & 8) {
    request.maxSize = in.Byte() * 16;
    request.exactSize = flags & 16;
  }
  FuzzSession session(in);
  FuzzFile file;
  file.failWrites = flags & 4;
  int64_t lastReceived = 0;
  const sk::HttpOutcome out = sk::RunHttpFetch(
      request, session, file, [] { return false; },
      [&](int64_t, int64_t received) {
        Check(received >= lastReceived && received - lastReceived <= static_cast<int64_t>(sk::kHttpBlockSize));
        lastReceived = received;
      });
  Check(!session.open);
  Check(!file.open);
  Check(out.received == file.written);
  if (out.success) {
    Check(out.status >= 200 && out.status < 300);
    Check(out.received == out.totalSize);  // without a length only an empty body succeeds
  }
  if (request.maxSize >= 0) {
    Check(out.received <= request.maxSize);
    if (out.success && request.exactSize) Check(out.received == request.maxSize);
  }
  return 0;
}
