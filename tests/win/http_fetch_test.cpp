#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/HttpServer.h"
#include "support/UiTest.h"
#include "ui/HttpFetch.h"
#include "win/Utf.h"

namespace sk::ui {
namespace {

// One fetch component against a server on 127.0.0.1:80, recording its events.
struct FetchTest : ::testing::Test {
  test::HttpServer server;
  test::TempDir dir;
  std::unique_ptr<THttpFetch> fetch = std::make_unique<THttpFetch>();
  struct Report {
    THttpFetchThread* sender;
    int64_t total, readed;
    DWORD thread;
  };
  std::vector<Report> reports;
  int done = 0, errors = 0;
  std::string doneName;
  int64_t doneSize = -1;

  void SetUp() override {
    ASSERT_TRUE(server.Ok()) << "cannot listen on 127.0.0.1:80";
    fetch->OnProgress = [this](THttpFetchThread& sender, int64_t total, int64_t readed) {
      reports.push_back({&sender, total, readed, GetCurrentThreadId()});
    };
    fetch->OnDoneFile = [this](THttpFetch&, const std::string& name, int64_t size) {
      ++done;
      doneName = name;
      doneSize = size;
    };
    fetch->OnError = [this](THttpFetch&) { ++errors; };
  }
  // Fetches `path` of the server into `name` in the temporary folder, waiting.
  void FetchWaiting(const std::string& path, const std::string& name) {
    fetch->URL = server.Base() + path;
    fetch->FileName = dir / name;
    fetch->WaitThread = true;
    fetch->FetchToFile();
  }
};

TEST_F(FetchTest, FileInBlocksWithProgressOnTheCallingThread) {
  const std::string body = test::Pattern(5000);
  server.Serve("/files/a.bin", {.body = body});
  fetch->Agent = "Sektorian Updater";
  FetchWaiting("files/a.bin", "a.bin");
  EXPECT_FALSE(fetch->Fetching());
  EXPECT_TRUE(fetch->Succeeded());
  EXPECT_EQ(done, 1);
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(doneName, dir / "a.bin");
  EXPECT_EQ(doneSize, 5000);
  EXPECT_TRUE(test::ReadFile(dir / "a.bin") == body);
  ASSERT_FALSE(reports.empty());
  int64_t last = 0;
  for (const Report& r : reports) {
    EXPECT_EQ(r.thread, GetCurrentThreadId());
    EXPECT_EQ(r.total, 5000);
    EXPECT_GT(r.readed, last);
    EXPECT_LE(r.readed - last, 1025);
    EXPECT_NE(static_cast<void*>(r.sender), static_cast<void*>(fetch.get()));  // the sender is the worker
    last = r.readed;
  }
  EXPECT_EQ(last, 5000);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_NE(requests[0].headers.find("User-Agent: Sektorian Updater"), std::string::npos) << requests[0].headers;
  EXPECT_EQ(requests[0].body, "");
}

TEST_F(FetchTest, ErrorPageIsNotSavedAsTheFile) {
  test::WriteFile(dir / "Update.ini", "[Update]\r\nVersion=100\r\n");
  FetchWaiting("missing/Update.ini", "Update.ini");
  EXPECT_FALSE(fetch->Succeeded());
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(fetch->LastOutcome().status, 404);
  EXPECT_EQ(test::ReadFile(dir / "Update.ini"), "[Update]\r\nVersion=100\r\n");

  FetchWaiting("missing/new.bin", "new.bin");
  EXPECT_FALSE(test::FileExists(dir / "new.bin"));
  EXPECT_EQ(errors, 2);
}

TEST_F(FetchTest, BodyShorterThanAnnouncedFails) {
  server.Serve("/short", {.body = test::Pattern(3000), .announcedLength = 4000});
  FetchWaiting("short", "short.bin");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(test::ReadFile(dir / "short.bin").size(), 3000u);

  // A length above 2 GiB is a 64-bit figure, not an error of its own.
  server.Serve("/huge", {.body = test::Pattern(2000), .announcedLength = 3000000000LL});
  FetchWaiting("huge", "huge.bin");
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(fetch->LastOutcome().totalSize, 3000000000LL);
  EXPECT_EQ(fetch->LastOutcome().error, "");
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().total, 3000000000LL);
}

TEST_F(FetchTest, NoLengthWithBinaryDataBothWays) {
  const std::string body = test::Pattern(2500, 7);
  server.Serve("/nolength", {.body = body, .announceLength = false});
  FetchWaiting("nolength", "text.bin");
  EXPECT_EQ(errors, 1);  // saved, but without a length it cannot count as complete
  EXPECT_EQ(done, 0);
  EXPECT_TRUE(test::ReadFile(dir / "text.bin") == body);
  for (const Report& r : reports) EXPECT_EQ(r.total, 0);

  fetch->BinaryData = true;
  reports.clear();
  FetchWaiting("nolength", "binary.bin");
  EXPECT_EQ(errors, 2);
  EXPECT_FALSE(test::FileExists(dir / "binary.bin"));
  EXPECT_TRUE(reports.empty());
}

TEST_F(FetchTest, PostSendsTheFormBody) {
  server.Serve("/form", {.body = "ok"});
  fetch->PostQuery = "name=Sektorian&v=110";
  FetchWaiting("form", "answer.txt");
  EXPECT_EQ(done, 1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_NE(requests[0].headers.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
  EXPECT_EQ(requests[0].body, "name=Sektorian&v=110");
}

TEST_F(FetchTest, NoServerForTheHostFails) {
  fetch->URL = "http://127.0.0.1:1/x.bin";  // the port stays part of the host name
  fetch->FileName = dir / "x.bin";
  fetch->WaitThread = true;
  fetch->FetchToFile();
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(test::FileExists(dir / "x.bin"));
  fetch->URL = "http://127.0.0.1";  // no "/" after the host: no host at all
  fetch->FetchToFile();
  EXPECT_EQ(errors, 2);
}

TEST_F(FetchTest, FetchToFileDuringAFetchStartsNothing) {
  server.Serve("/slow", {.body = test::Pattern(4100), .chunk = 1025, .delayMs = 100});
  server.Serve("/other", {.body = "other"});
  fetch->URL = server.Base() + "slow";
  fetch->FileName = dir / "slow.bin";
  fetch->FetchToFile();
  ASSERT_TRUE(fetch->Fetching());
  fetch->URL = server.Base() + "other";
  fetch->FileName = dir / "other.bin";
  fetch->FetchToFile();
  ASSERT_TRUE(test::PumpUntil([&] { return !fetch->Fetching(); }, 10000));
  EXPECT_EQ(done, 1);
  EXPECT_EQ(doneName, dir / "slow.bin");
  EXPECT_EQ(test::ReadFile(dir / "slow.bin").size(), 4100u);
  EXPECT_FALSE(test::FileExists(dir / "other.bin"));
  EXPECT_EQ(server.RequestsFor("/other"), 0);
}

TEST_F(FetchTest, CancelMidBodyEndsAsFailed) {
  server.Serve("/slow", {.body = test::Pattern(20 * 1025), .chunk = 1025, .delayMs = 50});
  fetch->OnProgress = [this](THttpFetchThread&, int64_t total, int64_t readed) {
    reports.push_back({nullptr, total, readed, 0});
    if (reports.size() == 2) fetch->CancelFetch();
  };
  const DWORD start = GetTickCount();
  FetchWaiting("slow", "slow.bin");
  EXPECT_LT(GetTickCount() - start, 800u);  // the whole body takes a second
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(done, 0);
  EXPECT_FALSE(fetch->Succeeded());
  EXPECT_EQ(reports.size(), 2u);
  EXPECT_EQ(test::ReadFile(dir / "slow.bin").size(), 2050u);
  EXPECT_TRUE(DeleteFileW(win::Widen(dir / "slow.bin").c_str()));  // the file was released
}

// A fetch that receives nothing for StallTimeout ends as failed at once, its
// worker left to end on its own; what that worker does later reaches no event.
TEST_F(FetchTest, AStalledFetchFailsWithoutWaitingForTheNetwork) {
  server.Serve("/stalls", {.body = test::Pattern(3000), .stallAfter = 1000});
  server.Serve("/next", {.body = "next"});
  fetch->StallTimeout = 300;
  FetchWaiting("stalls", "stalls.bin");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(done, 0);
  EXPECT_FALSE(fetch->Fetching());
  EXPECT_NE(fetch->LastOutcome().error.find("no data"), std::string::npos) << fetch->LastOutcome().error;
  FetchWaiting("next", "next.bin");  // the next fetch runs beside the stalled worker
  EXPECT_EQ(done, 1);
  EXPECT_EQ(doneName, dir / "next.bin");
  test::Flush();
  EXPECT_EQ(errors + done, 2);
}

TEST_F(FetchTest, DestroyingWhileFetchingReportsNothing) {
  server.Serve("/slow", {.body = test::Pattern(20 * 1025), .chunk = 1025, .delayMs = 50});
  fetch->URL = server.Base() + "slow";
  fetch->FileName = dir / "slow.bin";
  fetch->FetchToFile();
  ASSERT_TRUE(test::PumpUntil([&] { return !reports.empty(); }));
  const size_t seen = reports.size();
  fetch.reset();
  test::Flush();
  EXPECT_EQ(reports.size(), seen);
  EXPECT_EQ(done + errors, 0);
  EXPECT_LT(test::ReadFile(dir / "slow.bin").size(), 20u * 1025);
  EXPECT_TRUE(DeleteFileW(win::Widen(dir / "slow.bin").c_str()));
}

}  // namespace
}  // namespace sk::ui
