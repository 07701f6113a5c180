// Files that fail where a test wants them to, a hand-driven clock and a view
// that records what the copy routine tells it.
#pragma once
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "core/FileApi.h"
#include "core/LevelCopy.h"

namespace sk::fake {

// A file's bytes: `bytes` stored from offset `base`; below `base` and (with
// `virtualSize`) beyond the stored ones, byte i reads as (i & 0xFF), so a
// test can stand for a file of several GiB. Bytes below `base` are never
// written.
struct Content {
  std::string bytes;
  int64_t virtualSize = -1;  // >= 0: the file is this long
  int64_t base = 0;
  // Faults at one position of this file (-1: none): a read there fails with
  // I/O error 21, or delivers nothing; a write there writes nothing.
  int64_t readFailAt = -1, shortReadAt = -1, shortWriteAt = -1;
  // What was done to it.
  int opens = 0, closes = 0, reads = 0, writes = 0;
  bool openForWrite = false;
  int64_t Size() const { return virtualSize >= 0 ? virtualSize : base + static_cast<int64_t>(bytes.size()); }
};

struct Disk;

class File : public IFile {
 public:
  File(Disk& disk, std::string path, std::shared_ptr<Content> content, bool writable, bool readable = true)
      : disk_(disk), path_(std::move(path)), content_(std::move(content)), writable_(writable), readable_(readable) {}
  const std::string& path() const { return path_; }
  int64_t Position() override;
  void Seek(int64_t position) override;
  int64_t Size() override;
  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  void Close() override;
  void Flush() override;
  void SetSize(int64_t size) override;

 private:
  void Check(const char* op);
  Disk& disk_;
  std::string path_;
  std::shared_ptr<Content> content_;
  bool writable_, readable_;
  bool closed_ = false;
  int64_t position_ = 0;
};

struct Disk : IFileSystem {
  std::map<std::string, std::shared_ptr<Content>> files;
  std::map<std::string, std::string> openErrors;  // path -> error text of its open
  std::map<std::string, std::string> aliases;     // another spelling -> the path it names
  int64_t unreadableAt = -1;  // a read on the disc covering this offset fails
  std::vector<int64_t> alsoUnreadable;  // ... and these
  std::string readError = "I/O error 23";
  // The disc (the paths on D:) taken out: opens and reads there fail and
  // Present says no; `outAfterReads` > 0 takes it out after that many more reads.
  bool discOut = false;
  int outAfterReads = 0;
  std::vector<std::string> events;  // "flush P", "save P", "remove P", in order
  std::string saveError;            // ReplaceContent fails with this text when set
  int64_t writeLimit = -1;    // a write that would grow a file past this fails
  std::string writeError = "I/O error 112";
  bool shortWrites = false;   // a write takes one byte less than it is given
  std::map<std::string, std::string> closeErrors;  // path -> error text of its close
  std::vector<std::string> opened;                 // "R path" / "W path", in order
  int openNow = 0;                                 // files open at the moment
  int failures = 0;                                // reads that failed on an unreadable byte
  bool noCreate = false;  // an open that would create or truncate is a fault of the code under test

  std::shared_ptr<Content> Put(const std::string& path, std::string bytes, int64_t base = 0) {
    auto content = std::make_shared<Content>(Content{std::move(bytes)});
    content->base = base;
    return files[path] = content;
  }
  const std::string& Bytes(const std::string& path) { return files.at(path)->bytes; }
  bool Exists(const std::string& path) const { return files.count(path) != 0; }
  std::string Resolve(const std::string& path) const {
    auto a = aliases.find(path);
    return a == aliases.end() ? path : a->second;
  }

  static bool OnDisc(const std::string& path) { return path.rfind("D:", 0) == 0; }
  bool Unreadable(int64_t from, int64_t to) const {
    if (unreadableAt >= from && unreadableAt < to) return true;
    return std::any_of(alsoUnreadable.begin(), alsoUnreadable.end(), [&](int64_t at) { return at >= from && at < to; });
  }
  std::unique_ptr<IFile> Open(const std::string& spelt, OpenMode mode) override {
    const std::string path = Resolve(spelt);
    auto err = openErrors.find(path);
    if (err != openErrors.end()) throw FileError(err->second);
    if (discOut && OnDisc(path)) throw FileError("I/O error 21", 21);
    if (mode == OpenMode::CreateNew && files.count(path)) throw FileExistsError("File exists");
    if (mode == OpenMode::CreateReadWrite || mode == OpenMode::CreateNew) {
      if (noCreate) throw std::logic_error("created or truncated " + path);
      files[path] = std::make_shared<Content>();
    } else if (!files.count(path)) {
      throw FileError("File not found", 2);
    }
    opened.push_back((mode == OpenMode::ReadShared ? "R " : "W ") + path);
    ++openNow;
    ++files[path]->opens;
    if (mode == OpenMode::WriteExisting) files[path]->openForWrite = true;
    return std::make_unique<File>(*this, path, files[path], mode != OpenMode::ReadShared,
                                  mode != OpenMode::WriteExisting);
  }
  bool IsSameFile(IFile& file, const std::string& path) override {
    const std::string resolved = Resolve(path);
    return files.count(resolved) && static_cast<File&>(file).path() == resolved;
  }
  int64_t FileSizeByName(const std::string& path) override {
    auto f = files.find(Resolve(path));
    return f == files.end() ? 0 : f->second->Size();
  }
  void ReplaceContent(const std::string& path, const std::string& text) override {
    if (!saveError.empty()) throw FileError(saveError);
    events.push_back("save " + path);
    Put(path, text);
  }
  void RemoveFile(const std::string& path) override {
    events.push_back("remove " + path);
    files.erase(Resolve(path));
  }
  bool Present(const std::string& path) override { return !(discOut && OnDisc(Resolve(path))); }
};

inline void File::Check(const char* op) {
  if (closed_) throw FileError(std::string("closed file: ") + op);
}
inline int64_t File::Position() {
  Check("Position");
  return position_;
}
inline void File::Seek(int64_t position) {
  Check("Seek");
  position_ = position;
}
inline int64_t File::Size() {
  Check("Size");
  return content_->Size();
}
inline size_t File::Read(void* buffer, size_t count) {
  Check("Read");
  if (!readable_) throw FileError("File access denied", 5);
  ++content_->reads;
  if (position_ == content_->readFailAt) throw FileError("I/O error 21", 21);
  if (position_ == content_->shortReadAt) return 0;
  const int64_t size = content_->Size();
  const int64_t n = std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(count), size - position_));
  if (Disk::OnDisc(path_) && disk_.outAfterReads > 0 && --disk_.outAfterReads == 0) disk_.discOut = true;
  if (disk_.discOut && Disk::OnDisc(path_)) throw FileError("I/O error 21", 21);
  if (Disk::OnDisc(path_) && disk_.Unreadable(position_, position_ + n)) {
    ++disk_.failures;
    throw FileError(disk_.readError);
  }
  auto* out = static_cast<unsigned char*>(buffer);
  const int64_t base = content_->base, stored = static_cast<int64_t>(content_->bytes.size());
  for (int64_t i = 0; i < n; ++i) {
    const int64_t at = position_ + i;
    out[i] = at >= base && at - base < stored ? static_cast<unsigned char>(content_->bytes[at - base])
                                              : static_cast<unsigned char>(at & 0xFF);
  }
  position_ += n;
  return static_cast<size_t>(n);
}
inline size_t File::Write(const void* buffer, size_t count) {
  Check("Write");
  if (!writable_) throw FileError("File access denied", 5);
  ++content_->writes;
  if (position_ == content_->shortWriteAt) return 0;
  if (disk_.writeLimit >= 0 && position_ + static_cast<int64_t>(count) > disk_.writeLimit)
    throw FileError(disk_.writeError);
  if (position_ < content_->base) throw std::logic_error("a write below the stored bytes");
  if (disk_.shortWrites && count > 0) --count;
  auto& bytes = content_->bytes;
  const auto at = static_cast<size_t>(position_ - content_->base);
  if (bytes.size() < at + count) bytes.resize(at + count);
  bytes.replace(at, count, static_cast<const char*>(buffer), count);
  position_ += static_cast<int64_t>(count);
  return count;
}
inline void File::Flush() {
  Check("Flush");
  disk_.events.push_back("flush " + path_);
}
inline void File::SetSize(int64_t size) {
  Check("SetSize");
  if (!writable_) throw FileError("File access denied", 5);
  content_->bytes.resize(static_cast<size_t>(size - content_->base));
}
inline void File::Close() {
  Check("Close");
  closed_ = true;
  --disk_.openNow;
  ++content_->closes;
  auto err = disk_.closeErrors.find(path_);
  if (err != disk_.closeErrors.end()) throw FileError(err->second);
}

// The counter moves by `step` ticks on every reading (1 MHz); Now() is set by
// hand.
struct Clock : IClock {
  bool hasCounter = true;
  int64_t ticks = 0, step = 1000;
  int64_t ms = 0, msStep = 1;
  double now = 40000.5;
  int counterReads = 0, msReads = 0;
  double Now() override { return now; }
  bool CounterFrequency(int64_t& f) override {
    f = 1000000;
    return hasCounter;
  }
  int64_t Counter() override {
    ++counterReads;
    return ticks += step;
  }
  int64_t Milliseconds() override {
    ++msReads;
    return ms += msStep;
  }
};

struct Entry {
  std::string text;
  int kind;
  bool operator==(const Entry&) const = default;
};

struct View : ICopyView {
  CopyStatus status;
  std::vector<Entry> log;
  bool checkSizes = false;
  int stopAtStep = 0;   // StopRequested answers true from this step on (0: never)
  int steps = 0;        // StopRequested calls so far: one per block written
  int pumps = 0, shows = 0;
  double startTime = 40000.5;
  std::vector<CopyStatus> afterStep;  // the status after 0, 1, 2, ... steps
  std::function<void(int step)> onStep;

  void LogEvent(const std::string& text, EventKind kind) override { log.push_back({text, kind}); }
  CopyStatus& Status() override { return status; }
  void ShowStatus() override { ++shows; }
  void PumpMessages() override { ++pumps; }
  bool StopRequested() override {
    afterStep.push_back(status);
    ++steps;
    if (onStep) onStep(steps);
    return stopAtStep > 0 && steps >= stopAtStep;
  }
  double CopyStartTime() override { return startTime; }
  bool CheckSizes() override { return checkSizes; }
  bool rescue = false;
  bool RescueMode() override { return rescue; }
  std::function<bool()> onMediumAsk;  // the answer to "Ponów / Anuluj" (none: Anuluj)
  std::vector<MediumQuestion> asked;
  bool AskMediumRetry(MediumQuestion question) override {
    asked.push_back(question);
    log.push_back({"(asked to retry)", -1});
    return onMediumAsk && onMediumAsk();
  }
};

// One routine's world, ready to copy.
struct Rig {
  Disk disk;
  Clock clock;
  View view;
  std::unique_ptr<Pacer> pacer;
  // Copies, and returns the error text that came out of the routine ("" when none).
  std::string Copy(const std::string& from, const std::string& to, int level,
                   std::vector<PutOffRescue>* putOff = nullptr, bool fresh = false) {
    if (!pacer) pacer = std::make_unique<Pacer>(clock);
    try {
      CopyFileAtLevel({disk, clock, view, *pacer}, from, to, level, false, putOff, fresh);
    } catch (const FileError& e) {
      return e.what();
    }
    return "";
  }
};

inline std::string Pattern(size_t size, unsigned salt = 7) {
  std::string s(size, '\0');
  uint32_t x = salt * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace sk::fake
