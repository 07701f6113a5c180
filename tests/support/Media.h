// Helpers for the Wine tests that run on the badmedia file system
// (tests/fuse/badmedia.c): a damaged disc whose files are computed from their
// names, a writable folder that runs out of space on request, and a log of
// every open. CTest mounts it (test "media_mount") and names the mount point
// in SEKTORIAN_MEDIA; the Windows side sees it through Z:.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sk::test {

// Byte `i` of every virtual file with salt `salt`, and a run of them.
uint8_t MediaByte(uint64_t salt, uint64_t i);
std::string MediaBytes(uint64_t salt, uint64_t offset, size_t count);

// A virtual file of the damaged disc, described by its name, e.g.
// "size=5000,salt=3,bad=100-199,bad=4000-4099.bin".
struct VirtualFile {
  // Unreadable spots repeating every `stride` bytes: `length` bytes at
  // from + k * stride for k < count (to the end of the file when count is 0).
  struct Every {
    uint64_t stride = 0, length = 0, from = 0, count = 0;
  };
  uint64_t size = 0;
  uint64_t salt = 0;
  std::vector<std::pair<uint64_t, uint64_t>> bad;  // unreadable bytes, first and last (inclusive)
  std::vector<Every> every;                        // many spots in one name item each
  unsigned slowMs = 0;   // every read waits this long
  unsigned stallMs = 0;  // a failing read waits this long first
  uint64_t sector = 0;   // a read fails whole when a sector of this size it touches holds an unreadable byte
  std::string id;        // free tag (letters, digits, '_') to tell equal files apart
  // The content is that of this file of the writable folder (letters, digits,
  // '_'; zeros past its end) instead of the computed one; Bytes() does not
  // know it.
  std::string from;
  std::string ext = ".bin";

  VirtualFile& Bad(uint64_t first, uint64_t last) { bad.emplace_back(first, last); return *this; }
  VirtualFile& BadEvery(uint64_t stride, uint64_t length, uint64_t from = 0, uint64_t count = 0) {
    every.push_back({stride, length, from, count});
    return *this;
  }
  std::string Name() const;
  // The file's content from `offset`, `count` bytes (clipped at its size),
  // as it reads once healed.
  std::string Bytes(uint64_t offset, size_t count) const;
  // The first unreadable byte (`size` when there is none).
  uint64_t FirstBad() const;
  // Whether byte `i` cannot be read (until healed).
  bool IsBad(uint64_t i) const;
  // Whether a read of `count` bytes at `offset` fails: it touches an
  // unreadable byte or, with `sector`, a sector holding one.
  bool ReadFails(uint64_t offset, uint64_t count) const;
  // The unreadable bytes, as sorted and merged ranges [first, last].
  std::vector<std::pair<uint64_t, uint64_t>> BadRanges() const;
};

// One line of the open log.
struct OpenRecord {
  std::string op;      // "open" or "create"
  bool read = false;   // opened with read access
  bool write = false;  // opened with write access
  bool trunc = false;  // opened with truncation
  bool ok = false;     // the open succeeded
  std::string result;  // "ok", "EACCES", "ENOENT", "error"
  std::string path;    // from the mount's root with '/', e.g. "/v/size=10.bin"
};

// One line of the read trace: a read of the virtual folder.
struct TraceRecord {
  uint64_t seq = 0;
  std::string result;  // "ok", "fail" (counted in Fails) or "out" (the disc was out)
  uint64_t offset = 0;
  uint64_t size = 0;  // as asked
  std::string path;   // as in OpenRecord::path
};

// The mounted fixture. Creating one checks that the file system is mounted
// and throws std::runtime_error with the reason when it is not (so the test
// fails, loudly); it starts from a clean state (empty log, nothing healed,
// no budget, empty writable folder, the disc in, no trace) and leaves one
// behind when it goes.
class Media {
 public:
  Media();
  ~Media();
  Media(const Media&) = delete;
  Media& operator=(const Media&) = delete;

  // Windows paths, each ending in '\': the mount, its virtual (read-only)
  // folder and its writable folder.
  const std::string& Root() const { return root_; }
  std::string Disc() const { return root_ + "v\\"; }
  std::string Disk() const { return root_ + "w\\"; }
  // The Windows path of a virtual file directly in the virtual folder.
  std::string Source(const VirtualFile& f) const { return Disc() + f.Name(); }
  // Makes the virtual folder `folder` (may be nested, '\'-separated, relative
  // to the virtual folder) holding `files` (listed by FindFirstFile), and
  // returns its Windows path ending in '\'. Folders last until unmounting,
  // so tests choose names of their own.
  std::string MakeFolder(const std::string& folder, const std::vector<VirtualFile>& files) const;

  // Makes `link` (a path in a virtual folder, '\'-separated, relative to the
  // virtual folder) a symbolic link whose text is `target` (a Unix path,
  // e.g. ".." or "../other"); Windows sees a link to a folder as a folder
  // that is a reparse point.
  void MakeLink(const std::string& link, const std::string& target) const;

  // Makes the bad ranges of the file(s) with this name readable (everywhere).
  void Heal(const VirtualFile& f) const;
  void HealAll() const;
  void Unheal() const;  // undoes every heal

  // The writable folder takes `bytes` more bytes; then writes fail (ERROR_DISK_FULL).
  void SetBudget(uint64_t bytes) const;
  void ClearBudget() const;
  // What the writable folder may still take (-1: unlimited).
  int64_t Budget() const;

  // The reads of the disc that failed since the last ClearFails (or mount).
  uint64_t Fails() const;
  void ClearFails() const;

  // Takes the disc out (now, or after `afterReads` more reads of the virtual
  // folder) and puts it back; the state as ctl/medium shows it ("in", "out",
  // "out N").
  void TakeOut(uint64_t afterReads = 0) const;
  void PutIn() const;
  std::string MediumState() const;

  // Clears the read trace and traces from now on; stops tracing (and clears it).
  void StartTrace() const;
  void StopTrace() const;
  std::vector<TraceRecord> Trace() const;

  // A shell command run on the Unix side (Wine starts Unix programs too, but
  // neither waits for them nor gives their exit code): returns its exit
  // code once it has ended, -1 when it did not end within a minute.
  int RunUnix(const std::string& command) const;

  std::vector<OpenRecord> OpenLog() const;
  std::string OpenLogText() const;
  void ClearOpenLog() const;
  // Whether the path (as in OpenRecord::path) was ever opened with write access.
  bool OpenedForWriting(const std::string& path) const;

 private:
  std::string Control(const char* name) const;
  void SetControl(const char* name, const std::string& text, bool truncate) const;
  void EmptyDisk() const;
  std::string root_;
};

// A drive of Wine made a CD drive (its mount manager's own request, as its
// configuration tool makes it): its folder is "drive" in the writable folder
// and its disc a virtual file. Both are named through a link to the mount of
// one length (/tmp/sk-cd-<letter><number>), wherever the build is: with the
// fixture mounted at a path of exactly 30 characters, Wine's desktop created
// no window once the drive was defined. The drive that had the letter before
// comes back at the end, and the link goes.
class CdDrive {
 public:
  CdDrive(const Media& media, char letter);  // throws when the link cannot be made
  ~CdDrive();
  CdDrive(const CdDrive&) = delete;
  CdDrive& operator=(const CdDrive&) = delete;
  bool Insert(const VirtualFile& disc) const;

 private:
  bool Define(ULONG type, const std::string& folder, const std::string& device) const;
  bool Query(ULONG& type, std::string& folder, std::string& device) const;
  const Media& media_;
  wchar_t letter_;
  std::string link_;
  bool had_ = false;
  ULONG oldType_ = 0;
  std::string oldFolder_, oldDevice_;
};

// Reads `count` bytes at `offset` with one ReadFile call; returns the bytes
// read, or sets `error` to GetLastError() when the call failed (0 otherwise).
std::string ReadAt(HANDLE h, uint64_t offset, DWORD count, DWORD* error);

}  // namespace sk::test
