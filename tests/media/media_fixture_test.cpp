// The badmedia fixture as the Windows side sees it: unreadable bytes, healing,
// a full disk, the open log and files beyond 4 GiB.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "support/Media.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace sk::test {
namespace {

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

Handle Open(const std::string& path, DWORD access, DWORD disposition) {
  return Handle(CreateFileW(win::Widen(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition, 0, nullptr));
}

class MediaFixture : public testing::Test {
 protected:
  Media media;
};

TEST_F(MediaFixture, ContentFollowsTheDocumentedFormula) {
  const VirtualFile f{.size = 70000, .salt = 7};
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok()) << GetLastError();
  DWORD err = 0;
  EXPECT_EQ(ReadAt(h.h, 0, 70000, &err), f.Bytes(0, 70000));
  EXPECT_EQ(err, 0u);
  // Odd offsets and lengths, across 8-byte words, and the end of the file.
  EXPECT_EQ(ReadAt(h.h, 12345, 1025, &err), f.Bytes(12345, 1025));
  EXPECT_EQ(ReadAt(h.h, 69990, 1025, &err), f.Bytes(69990, 10));
  EXPECT_EQ(ReadAt(h.h, 70000, 1025, &err), "");
  EXPECT_EQ(err, 0u);
  // Another salt gives other content.
  EXPECT_NE(MediaBytes(7, 0, 64), MediaBytes(8, 0, 64));
}

// The fixture's files lie on a disc's volume, of 2048 bytes a sector, as the
// program's files see it (a file of a plain folder: 512 under Wine).
TEST_F(MediaFixture, ItsFilesSayADiscsSectorSize) {
  win::WinFileSystem files;
  const VirtualFile f{.size = 5000, .sector = 512};
  EXPECT_EQ(files.Open(media.Source(f), OpenMode::ReadShared)->SectorSize(), 2048);
  char here[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, here), 0u);
  const std::string plain = std::string(here) + "sk-sector-size.txt";
  EXPECT_EQ(files.Open(plain, OpenMode::CreateReadWrite)->SectorSize(), 512);
  DeleteFileA(plain.c_str());
}

// A read fails, with Wine's error 21, exactly when it touches an unreadable
// byte: at levels 0 (1 byte) and 4 (1025 bytes), before, on and after a range.
TEST_F(MediaFixture, ReadsFailExactlyAtTheUnreadableBytes) {
  VirtualFile f{.size = 10000, .salt = 3};
  f.Bad(5000, 5099).Bad(9999, 9999);
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok()) << GetLastError();
  struct Case {
    uint64_t offset;
    DWORD count;
    bool fails;
  } cases[] = {
      {4999, 1, false}, {5000, 1, true},  {5099, 1, true},  {5100, 1, false}, {9998, 1, false},
      {9999, 1, true},  {3975, 1025, false}, {3976, 1025, true}, {5099, 1025, true}, {5100, 1025, false},
      {8974, 1025, false}, {8975, 1025, true},
  };
  for (const auto& c : cases) {
    DWORD err = 0;
    const std::string got = ReadAt(h.h, c.offset, c.count, &err);
    SCOPED_TRACE("read of " + std::to_string(c.count) + " at " + std::to_string(c.offset));
    if (c.fails) {
      EXPECT_EQ(err, 21u);
    } else {
      EXPECT_EQ(err, 0u);
      EXPECT_EQ(got, f.Bytes(c.offset, c.count));
    }
  }
  // A sequential copy in 1025-byte steps gets exactly the steps before the range.
  ASSERT_TRUE(SetFilePointer(h.h, 0, nullptr, FILE_BEGIN) == 0);
  std::string copied;
  char buf[1025];
  DWORD got = 0;
  while (::ReadFile(h.h, buf, sizeof buf, &got, nullptr) && got) copied.append(buf, got);
  EXPECT_EQ(GetLastError(), 21u);
  EXPECT_EQ(copied, f.Bytes(0, 4 * 1025));
}

// Many spots named by one item: "badevery=S-L-F-N" makes L bytes at F + k*S
// (k < N) unreadable, mixed with a "bad=" range; with "sector=N" a read fails
// whole when any N-byte sector it touches (on the N grid) holds an unreadable
// byte, the short last sector included; ctl/fails counts every read that
// failed, and heals and its reset work on it.
TEST_F(MediaFixture, RepeatedSpotsAndSectorsFailAndFailingReadsAreCounted) {
  VirtualFile f{.size = 2000, .salt = 5, .id = "every"};
  f.BadEvery(100, 3, 50, 4).Bad(1000, 1000);  // 50-52, 150-152, 250-252, 350-352, 1000
  // A file of 10,000 spots of 100 bytes, one every 4 KiB from 2 KiB.
  VirtualFile many{.size = 40ULL << 20, .salt = 6};
  many.BadEvery(4096, 100, 2048, 10000);
  EXPECT_LT(many.Name().size(), 64u);
  VirtualFile sectors{.size = 10000, .salt = 2, .sector = 2048};
  sectors.Bad(5000, 5000).Bad(9990, 9990);  // sectors 4096-6143 and 8192-9999
  const VirtualFile* s = &sectors;
  struct Case {
    const VirtualFile* file;
    uint64_t offset;
    DWORD count;
    bool fails;
  } cases[] = {
      {&f, 0, 50, false},     {&f, 0, 51, true},     {&f, 52, 1, true},      {&f, 53, 97, false},
      {&f, 53, 98, true},     {&f, 153, 97, false},  {&f, 352, 1, true},     {&f, 353, 647, false},
      {&f, 450, 1, false},    {&f, 999, 2, true},    {&f, 1001, 999, false}, {&f, 0, 2000, true},
      {&many, 0, 2048, false}, {&many, 2147, 1, true}, {&many, 2148, 4096, true},
      {&many, 2048 + 9999 * 4096ULL + 99, 1, true},  {&many, 2048 + 9999 * 4096ULL + 100, 3996, false},
      {&many, 2048 + 10000 * 4096ULL, 4096, false},
      {s, 4095, 1, false},    {s, 4096, 1, true},    {s, 6143, 1, true},     {s, 6144, 1, false},
      {s, 0, 4096, false},    {s, 0, 4097, true},    {s, 6000, 200, true},   {s, 6144, 2048, false},
      {s, 8191, 1, false},    {s, 8192, 1, true},
  };
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  Handle m = Open(media.Source(many), GENERIC_READ, OPEN_EXISTING);
  Handle sh = Open(media.Source(sectors), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok() && m.ok() && sh.ok()) << GetLastError();
  uint64_t failing = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("read of " + std::to_string(c.count) + " at " + std::to_string(c.offset) + " of " +
                 c.file->Name());
    EXPECT_EQ(c.file->ReadFails(c.offset, c.count), c.fails);  // the test's own model of the name agrees
    DWORD err = 0;
    const std::string got = ReadAt(c.file == &f ? h.h : c.file == s ? sh.h : m.h, c.offset, c.count, &err);
    EXPECT_EQ(err, c.fails ? 21u : 0u);
    if (!c.fails) EXPECT_EQ(got, c.file->Bytes(c.offset, c.count));
    failing += c.fails;
  }
  EXPECT_EQ(media.Fails(), failing);
  EXPECT_EQ(many.BadRanges().size(), 10000u);
  // Healed reads do not fail and are not counted; ClearFails starts afresh.
  media.Heal(f);
  DWORD err = 0;
  EXPECT_EQ(ReadAt(h.h, 0, 2000, &err), f.Bytes(0, 2000));
  EXPECT_EQ(media.Fails(), failing);
  media.ClearFails();
  EXPECT_EQ(media.Fails(), 0u);
  ReadAt(m.h, 2048, 1, &err);
  EXPECT_EQ(media.Fails(), 1u);
}

// ctl/medium: with the disc out, attributes (even ones just read), opens and
// reads of a handle opened before fail with ERROR_NOT_READY and are not
// counted as failing reads; put back, the same handle reads again; "out N"
// takes it out after N more reads. ctl/trace lists every read of the disc.
TEST_F(MediaFixture, TheDiscTakenOutFailsUntilPutBackAndReadsAreTraced) {
  VirtualFile f{.size = 5000, .sector = 2048};
  f.Bad(3000, 3000);
  const std::wstring path = win::Widen(media.Source(f));
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok());
  const auto present = [&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; };
  media.StartTrace();
  DWORD err = 0;
  ReadAt(h.h, 0, 100, &err);
  ReadAt(h.h, 2048, 10, &err);
  ASSERT_TRUE(present());  // the kernel holds the attributes now
  media.TakeOut();
  EXPECT_EQ(media.MediumState(), "out");
  EXPECT_FALSE(present());
  EXPECT_EQ(GetLastError(), 21u);
  EXPECT_FALSE(Open(media.Source(f), GENERIC_READ, OPEN_EXISTING).ok());
  EXPECT_EQ(GetLastError(), 21u);
  ReadAt(h.h, 0, 100, &err);
  EXPECT_EQ(err, 21u);
  EXPECT_EQ(media.Fails(), 1u);
  media.PutIn();
  EXPECT_TRUE(present());
  EXPECT_EQ(ReadAt(h.h, 0, 100, &err), f.Bytes(0, 100));
  media.TakeOut(2);
  EXPECT_EQ(media.MediumState(), "out 2");
  ReadAt(h.h, 0, 1, &err);
  EXPECT_TRUE(present());
  ReadAt(h.h, 1, 1, &err);
  EXPECT_EQ(err, 0u);
  EXPECT_FALSE(present());
  ReadAt(h.h, 2, 1, &err);
  EXPECT_EQ(err, 21u);
  media.PutIn();
  std::string trace;
  for (const TraceRecord& r : media.Trace())
    trace += std::to_string(r.seq) + " " + r.result + " " + std::to_string(r.offset) + " " + std::to_string(r.size) +
             (r.path == "/v/" + f.Name() ? "\n" : " " + r.path + "\n");
  EXPECT_EQ(trace, "1 ok 0 100\n2 fail 2048 10\n3 out 0 100\n4 ok 0 100\n5 ok 0 1\n6 ok 1 1\n7 out 2 1\n");
  // Truncating clears it and numbers afresh; stopped, nothing is traced.
  media.StartTrace();
  ReadAt(h.h, 0, 1, &err);
  ASSERT_EQ(media.Trace().size(), 1u);
  EXPECT_EQ(media.Trace()[0].seq, 1u);
  media.StopTrace();
  ReadAt(h.h, 0, 1, &err);
  EXPECT_TRUE(media.Trace().empty());
}

TEST_F(MediaFixture, AHealedRangeReadsAndOnlyThatFileHeals) {
  VirtualFile f{.size = 3000, .salt = 4};
  f.Bad(1000, 1999);
  VirtualFile other = f;
  other.id = "other";
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  Handle o = Open(media.Source(other), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok() && o.ok());
  DWORD err = 0;
  ReadAt(h.h, 1500, 1, &err);
  EXPECT_EQ(err, 21u);
  media.Heal(f);
  EXPECT_EQ(ReadAt(h.h, 0, 3000, &err), f.Bytes(0, 3000));  // also through a handle opened before
  EXPECT_EQ(err, 0u);
  ReadAt(o.h, 1500, 1, &err);
  EXPECT_EQ(err, 21u);
  media.Unheal();
  ReadAt(h.h, 1500, 1, &err);
  EXPECT_EQ(err, 21u);
  media.HealAll();
  EXPECT_EQ(ReadAt(o.h, 1000, 1000, &err), other.Bytes(1000, 1000));
}

// ENOSPC reaches Windows as ERROR_DISK_FULL (112); a write that does not fit
// writes nothing, and what was written before stays.
TEST_F(MediaFixture, WritesPastTheBudgetFailWithDiskFull) {
  media.SetBudget(1000);
  const std::string path = media.Disk() + "out.bin";
  {
    Handle h = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_TRUE(h.ok()) << GetLastError();
    const std::string block(600, 'x');
    DWORD done = 0;
    EXPECT_TRUE(::WriteFile(h.h, block.data(), 600, &done, nullptr));
    EXPECT_EQ(done, 600u);
    EXPECT_EQ(media.Budget(), 400);
    EXPECT_FALSE(::WriteFile(h.h, block.data(), 401, &done, nullptr));
    EXPECT_EQ(GetLastError(), 112u);
    EXPECT_TRUE(::WriteFile(h.h, block.data(), 400, &done, nullptr));
    EXPECT_FALSE(::WriteFile(h.h, block.data(), 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), 112u);
  }
  WIN32_FILE_ATTRIBUTE_DATA a{};
  ASSERT_TRUE(GetFileAttributesExW(win::Widen(path).c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(a.nFileSizeLow, 1000u);
  media.ClearBudget();
  EXPECT_EQ(media.Budget(), -1);
}

TEST_F(MediaFixture, TheOpenLogShowsEachOpensAccess) {
  const VirtualFile f{.size = 10, .id = "log"};
  { Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING); ASSERT_TRUE(h.ok()); }
  {
    Handle h = Open(media.Source(f), GENERIC_WRITE, OPEN_EXISTING);
    EXPECT_FALSE(h.ok());  // the disc is read-only
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  { Handle h = Open(media.Disk() + "dest.bin", GENERIC_WRITE, CREATE_ALWAYS); ASSERT_TRUE(h.ok()); }
  const std::string src = "/v/" + f.Name();
  bool sawRead = false, sawWrite = false, sawDest = false;
  for (const auto& r : media.OpenLog()) {
    if (r.path == src && r.read && !r.write && r.ok) sawRead = true;
    if (r.path == src && r.write && !r.ok) sawWrite = true;
    if (r.path == "/w/dest.bin" && r.write && r.ok) sawDest = true;
  }
  EXPECT_TRUE(sawRead && sawWrite && sawDest) << media.OpenLogText();
  EXPECT_TRUE(media.OpenedForWriting(src));
  media.ClearOpenLog();
  { Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING); }
  EXPECT_FALSE(media.OpenedForWriting(src)) << media.OpenLogText();
}

TEST_F(MediaFixture, AFileOfFiveGibReportsItsSizeAndReadsPastFourGib) {
  VirtualFile f{.size = 5ULL << 30, .salt = 9};
  f.Bad((4ULL << 30) + 1000, (4ULL << 30) + 1999);
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok()) << GetLastError();
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(h.h, &size));
  EXPECT_EQ(static_cast<uint64_t>(size.QuadPart), f.size);
  DWORD err = 0;
  EXPECT_EQ(ReadAt(h.h, (4ULL << 30) - 10, 1010, &err), f.Bytes((4ULL << 30) - 10, 1010));
  EXPECT_EQ(err, 0u);
  ReadAt(h.h, (4ULL << 30) + 999, 2, &err);
  EXPECT_EQ(err, 21u);
  EXPECT_EQ(ReadAt(h.h, f.size - 5, 1025, &err), f.Bytes(f.size - 5, 5));
  // The low bytes of the offset alone would give other content.
  EXPECT_NE(f.Bytes((4ULL << 30) + 5000, 64), f.Bytes(5000, 64));
}

TEST_F(MediaFixture, SlowAndStallingReadsTakeTheirTime) {
  VirtualFile f{.size = 100, .slowMs = 30, .stallMs = 100};
  f.Bad(50, 50);
  Handle h = Open(media.Source(f), GENERIC_READ, OPEN_EXISTING);
  ASSERT_TRUE(h.ok());
  DWORD err = 0;
  auto timed = [&](uint64_t offset) {  // milliseconds
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&a);
    ReadAt(h.h, offset, 1, &err);
    QueryPerformanceCounter(&b);
    return static_cast<unsigned>((b.QuadPart - a.QuadPart) * 1000 / freq.QuadPart);
  };
  const unsigned good = timed(0);
  EXPECT_EQ(err, 0u);
  EXPECT_GE(good, 25u);
  EXPECT_LT(good, 120u);  // no stall
  EXPECT_GE(timed(50), 125u);  // slow and stall
  EXPECT_EQ(err, 21u);
}

TEST_F(MediaFixture, MadeFoldersListTheirFiles) {
  const VirtualFile a{.size = 100, .id = "a"}, b{.size = 200, .id = "b"};
  const std::string folder = media.MakeFolder("list_test\\inner", {a, b});
  std::set<std::string> names;
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(win::Widen(folder + "*").c_str(), &fd);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do names.insert(win::Narrow(fd.cFileName));
  while (FindNextFileW(find, &fd));
  FindClose(find);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", a.Name(), b.Name()}));
  Handle h = Open(folder + b.Name(), GENERIC_READ, OPEN_EXISTING);
  DWORD err = 0;
  EXPECT_EQ(ReadAt(h.h, 0, 300, &err), b.Bytes(0, 200));
  // Only created names exist in a made folder.
  EXPECT_EQ(GetFileAttributesW(win::Widen(folder + "size=1.bin").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace sk::test
