#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/FileApi.h"
#include "core/HttpTransfer.h"

namespace sk {
namespace {

// A session that answers from a script and records every call.
struct FakeSession : IHttpSession {
  int status = 200;
  std::optional<std::string> length;  // the Content-Length text, none: not announced
  std::string body;
  size_t breakAt = std::string::npos;  // the read fails once this many bytes went out
  bool failOpen = false, failSend = false;

  std::vector<std::string> calls;
  std::string agent, host, user, password, verb, path, version, referrer, accept, header, sentBody;
  bool reload = false;
  size_t offset = 0;
  std::vector<size_t> readSizes;
  int closes = 0;

  bool Open(const std::string& a) override {
    calls.push_back("Open");
    agent = a;
    return !failOpen;
  }
  bool Connect(const std::string& h, const std::string& u, const std::string& p) override {
    calls.push_back("Connect");
    host = h, user = u, password = p;
    return true;
  }
  bool OpenRequest(const std::string& v, const std::string& pa, const std::string& ver, const std::string& ref,
                   const std::string& acc, bool rel) override {
    calls.push_back("OpenRequest");
    verb = v, path = pa, version = ver, referrer = ref, accept = acc, reload = rel;
    return true;
  }
  bool Send(const std::string& h, const std::string& b) override {
    calls.push_back("Send");
    header = h, sentBody = b;
    return !failSend;
  }
  bool QueryStatusCode(int& code) override {
    calls.push_back("Status");
    code = status;
    return true;
  }
  bool QueryContentLength(std::string& text) override {
    calls.push_back("Length");
    if (!length) return false;
    text = *length;
    return true;
  }
  bool Read(void* buffer, size_t count, size_t& got) override {
    calls.push_back("Read");
    readSizes.push_back(count);
    if (offset >= breakAt) return false;
    got = std::min({count, body.size() - offset, breakAt - offset});
    body.copy(static_cast<char*>(buffer), got, offset);
    offset += got;
    return true;
  }
  void Close() override {
    calls.push_back("Close");
    ++closes;
  }
};

struct FakeTarget : ITargetFile {
  std::string path, data;
  bool open = false, created = false, failCreate = false;
  size_t failWriteAt = std::string::npos;
  int closes = 0;
  void Create(const std::string& p) override {
    if (failCreate) throw FileError("File access denied", 5);
    path = p, data.clear(), open = created = true;
  }
  void Write(const void* d, size_t n) override {
    if (data.size() + n > failWriteAt) throw FileError("I/O error 112", 112);
    data.append(static_cast<const char*>(d), n);
  }
  void Close() override {
    if (open) ++closes;
    open = false;
  }
};

// Fetches with the fake session, fills `body` with a pattern in the fake.
struct Fetch {
  FakeSession session;
  FakeTarget target;
  HttpRequest request;
  std::vector<std::pair<int64_t, int64_t>> reports;
  int stopAtCheck = 0;  // 1-based number of the stop check that answers yes, 0: none
  int checks = 0;

  Fetch() {
    request.url = "http://update.example.org/files/Update.ini";
    request.fileName = "C:\\Program\\Update.ini";
  }
  void Body(size_t size, bool announce = true) {
    session.body.clear();
    for (size_t i = 0; i < size; ++i) session.body.push_back(static_cast<char>('a' + i % 26));
    if (announce) session.length = std::to_string(size);
  }
  HttpOutcome Run() {
    return RunHttpFetch(
        request, session, target, [this] { return ++checks == stopAtCheck; },
        [this](int64_t t, int64_t r) { reports.emplace_back(t, r); });
  }
};

TEST(HttpFetchSteps, GetWithoutBodyCarriesTheRequestSettings) {
  Fetch f;
  f.request.agent = "Sektorian Updater";
  f.request.userName = "jan";
  f.request.password = "tajne";
  f.request.referer = "http://ref.example.org/";
  f.request.acceptTypes = "text/plain";
  f.Body(10);
  const HttpOutcome out = f.Run();
  EXPECT_TRUE(out.success);
  EXPECT_EQ(f.session.agent, "Sektorian Updater");
  EXPECT_EQ(f.session.host, "update.example.org");
  EXPECT_EQ(f.session.user, "jan");
  EXPECT_EQ(f.session.password, "tajne");
  EXPECT_EQ(f.session.verb, "GET");
  EXPECT_EQ(f.session.path, "/files/Update.ini");
  EXPECT_EQ(f.session.version, "HTTP/1.0");
  EXPECT_EQ(f.session.referrer, "http://ref.example.org/");
  EXPECT_EQ(f.session.accept, "text/plain");
  EXPECT_TRUE(f.session.reload);  // UseCache false forces a reload, past proxies too
  EXPECT_EQ(f.session.header, "Cache-Control: no-cache\r\nPragma: no-cache");
  EXPECT_EQ(f.session.sentBody, "");
  EXPECT_EQ(f.target.path, "C:\\Program\\Update.ini");
  EXPECT_TRUE(f.target.data == f.session.body);
  EXPECT_EQ(f.session.closes, 1);
  EXPECT_EQ(f.target.closes, 1);
}

TEST(HttpFetchSteps, PostSendsTheFormContentType) {
  Fetch f;
  f.request.postQuery = "a=1&b=%C5%BC";
  f.request.useCache = true;
  f.request.url = "HTTP://127.0.0.1:8080/cgi/form?x";
  f.Body(0);
  EXPECT_TRUE(f.Run().success);
  EXPECT_EQ(f.session.verb, "POST");
  EXPECT_EQ(f.session.header, "Content-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(f.session.header.size(), 47u);
  EXPECT_EQ(f.session.sentBody, "a=1&b=%C5%BC");
  EXPECT_FALSE(f.session.reload);
  EXPECT_EQ(f.session.host, "127.0.0.1:8080");  // the port stays part of the host
  EXPECT_EQ(f.session.path, "/cgi/form?x");

  Fetch reload;  // a form past every cache
  reload.request.postQuery = "a=1";
  reload.Body(0);
  EXPECT_TRUE(reload.Run().success);
  EXPECT_EQ(reload.session.header,
            "Content-Type: application/x-www-form-urlencoded\r\nCache-Control: no-cache\r\nPragma: no-cache");
}

TEST(HttpFetchSteps, BlocksOf1025AndProgressAfterEach) {
  for (size_t size : {size_t{1}, size_t{1024}, size_t{1025}, size_t{1026}, size_t{5000}}) {
    Fetch f;
    f.Body(size);
    const HttpOutcome out = f.Run();
    EXPECT_TRUE(out.success) << size;
    EXPECT_EQ(out.received, static_cast<int64_t>(size));
    EXPECT_TRUE(f.target.data == f.session.body);
    EXPECT_EQ(f.reports.size(), (size + 1024) / 1025) << size;
    int64_t last = 0;
    for (auto [total, readed] : f.reports) {
      EXPECT_EQ(total, static_cast<int64_t>(size));
      EXPECT_GT(readed, last);
      EXPECT_LE(readed - last, 1025);
      last = readed;
    }
    for (size_t n : f.session.readSizes) EXPECT_EQ(n, 1025u);
  }
}

TEST(HttpFetchSteps, ShortAndLongBodiesFailButKeepWhatArrived) {
  Fetch shortBody;
  shortBody.Body(3000);
  shortBody.session.length = "4000";
  HttpOutcome out = shortBody.Run();
  EXPECT_FALSE(out.success);
  EXPECT_EQ(out.totalSize, 4000);
  EXPECT_EQ(shortBody.target.data.size(), 3000u);

  Fetch longBody;
  longBody.Body(3000);
  longBody.session.length = "2000";
  EXPECT_FALSE(longBody.Run().success);

  Fetch broken;  // the connection breaks off mid-body
  broken.Body(3000);
  broken.session.breakAt = 2050;
  out = broken.Run();
  EXPECT_FALSE(out.success);
  EXPECT_EQ(out.received, 2050);
  EXPECT_EQ(broken.session.closes, 1);
  EXPECT_EQ(broken.target.closes, 1);
}

TEST(HttpFetchSteps, SizeLimitsHoldWhileTheBodyArrives) {
  const struct Case {
    const char* name;
    int64_t maxSize;
    bool exact;
    const char* announced;  // nullptr: no length
    size_t body;
    bool success;
    bool created;
    size_t written;
  } cases[] = {
      {"withinTheLimit", 3000, false, "2999", 2999, true, true, 2999},
      {"announcedBeyondTheLimit", 3000, false, "3001", 3001, false, false, 0},
      {"endlessWithoutLength", 3000, false, nullptr, 100000, false, true, 3000},
      {"longerThanAnnounced", 3000, false, "2000", 100000, false, true, 3000},
      {"exactlyTheSize", 3000, true, "3000", 3000, true, true, 3000},
      {"announcedLessThanTheSize", 3000, true, "2999", 2999, false, false, 0},
      {"announcedMoreThanTheSize", 3000, true, "3001", 3001, false, false, 0},
      {"deliversMore", 3000, true, "3000", 100000, false, true, 3000},
      {"deliversLess", 3000, true, "3000", 2999, false, true, 2999},
      {"exactButNoLengthAndNoBody", 3000, true, nullptr, 0, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fetch f;
    f.Body(c.body, false);
    if (c.announced) f.session.length = c.announced;
    f.request.maxSize = c.maxSize;
    f.request.exactSize = c.exact;
    EXPECT_EQ(f.Run().success, c.success);
    EXPECT_EQ(f.target.created, c.created);
    EXPECT_EQ(f.target.data.size(), c.written);
    EXPECT_LE(f.session.offset, static_cast<size_t>(c.maxSize) + 1);  // never read far beyond the limit
    EXPECT_FALSE(f.target.open);
  }
}

TEST(HttpFetchSteps, NoLengthWithBinaryDataBothWays) {
  Fetch text;
  text.Body(2000, false);
  HttpOutcome out = text.Run();
  EXPECT_FALSE(out.success);  // saved, but nothing says it is complete
  EXPECT_EQ(out.totalSize, 0);
  EXPECT_TRUE(text.target.data == text.session.body);
  for (auto [total, readed] : text.reports) EXPECT_EQ(total, 0);

  Fetch empty;  // an empty body without a length is complete
  empty.Body(0, false);
  EXPECT_TRUE(empty.Run().success);
  EXPECT_TRUE(empty.target.created);

  Fetch binary;
  binary.Body(2000, false);
  binary.request.binaryData = true;
  out = binary.Run();
  EXPECT_FALSE(out.success);
  EXPECT_FALSE(binary.target.created);
  EXPECT_EQ(std::count(binary.session.calls.begin(), binary.session.calls.end(), "Read"), 0);
  EXPECT_EQ(binary.session.closes, 1);

  Fetch broken;  // no length and a broken-off body
  broken.Body(2000, false);
  broken.session.breakAt = 1500;
  EXPECT_FALSE(broken.Run().success);
}

TEST(HttpFetchSteps, ErrorStatusLeavesTheTargetAlone) {
  for (int status : {404, 500, 301, 199}) {
    Fetch f;
    f.Body(100);
    f.session.status = status;
    const HttpOutcome out = f.Run();
    EXPECT_FALSE(out.success) << status;
    EXPECT_EQ(out.status, status);
    EXPECT_FALSE(f.target.created) << status;
    EXPECT_EQ(f.session.closes, 1);
  }
  Fetch created;
  created.Body(100);
  created.session.status = 201;
  EXPECT_TRUE(created.Run().success);
}

TEST(HttpFetchSteps, StopAtEachCheckPoint) {
  // Check 1 follows the address split, 2 the send, 3 the length query, 4 and
  // on precede each read.
  for (int check = 1; check <= 6; ++check) {
    Fetch f;
    f.Body(3000);
    f.stopAtCheck = check;
    const HttpOutcome out = f.Run();
    EXPECT_FALSE(out.success) << check;
    const auto& c = f.session.calls;
    EXPECT_EQ(std::count(c.begin(), c.end(), "Open"), check == 1 ? 0 : 1) << check;
    EXPECT_EQ(std::count(c.begin(), c.end(), "Status"), check <= 2 ? 0 : 1) << check;
    EXPECT_EQ(f.target.created, check >= 4) << check;
    EXPECT_EQ(std::count(c.begin(), c.end(), "Read"), std::max(0, check - 4)) << check;
    EXPECT_EQ(f.target.data.size(), std::min<size_t>(3000, 1025u * std::max(0, check - 4))) << check;
    EXPECT_EQ(f.session.closes, check == 1 ? 0 : 1) << check;
    EXPECT_FALSE(f.target.open) << check;
  }
}

TEST(HttpFetchSteps, FailuresReleaseEverythingAndFail) {
  Fetch noServer;
  noServer.session.failSend = true;
  EXPECT_FALSE(noServer.Run().success);
  EXPECT_FALSE(noServer.target.created);
  EXPECT_EQ(noServer.session.closes, 1);

  Fetch noSession;
  noSession.session.failOpen = true;
  EXPECT_FALSE(noSession.Run().success);
  EXPECT_EQ(noSession.session.closes, 1);

  Fetch cannotCreate;
  cannotCreate.Body(100);
  cannotCreate.target.failCreate = true;
  HttpOutcome out = cannotCreate.Run();
  EXPECT_FALSE(out.success);
  EXPECT_EQ(out.error, "File access denied");
  EXPECT_EQ(cannotCreate.session.closes, 1);

  Fetch cannotWrite;
  cannotWrite.Body(3000);
  cannotWrite.target.failWriteAt = 2000;
  out = cannotWrite.Run();
  EXPECT_FALSE(out.success);
  EXPECT_EQ(out.error, "I/O error 112");
  EXPECT_EQ(cannotWrite.target.closes, 1);
  EXPECT_EQ(cannotWrite.session.closes, 1);

  Fetch badLength;
  badLength.Body(100);
  badLength.session.length = "12x";
  out = badLength.Run();
  EXPECT_FALSE(out.success);
  EXPECT_FALSE(badLength.target.created);
  EXPECT_EQ(badLength.session.closes, 1);
}

TEST(HttpFetchSteps, LengthsAbove2GiBAre64Bit) {
  EXPECT_EQ(ParseContentLength("2147483648"), 2147483648LL);
  EXPECT_EQ(ParseContentLength("5000000000"), 5000000000LL);
  EXPECT_EQ(ParseContentLength(" 17 "), 17);
  EXPECT_FALSE(ParseContentLength("-1"));
  EXPECT_FALSE(ParseContentLength(""));
  EXPECT_FALSE(ParseContentLength("99999999999999999999999"));

  Fetch f;
  f.Body(2000);
  f.session.length = "3000000000";
  const HttpOutcome out = f.Run();
  EXPECT_FALSE(out.success);  // the body fell short, but no error was raised
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.totalSize, 3000000000LL);
  ASSERT_FALSE(f.reports.empty());
  EXPECT_EQ(f.reports.back().first, 3000000000LL);
}

}  // namespace
}  // namespace sk
