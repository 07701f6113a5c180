// A damaged medium to read from and the file its bytes go to, in memory: the
// rescue engine's and the disc image's tests read through these.
#pragma once
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/FileApi.h"

namespace sk::fake {

struct Range {
  int64_t from, to;  // [from, to)
};

// A damaged disc's file or a drive's device: a read that touches an
// unreadable byte fails as a whole. With `sector` set, as a drive reads a disc
// (2048) or a flash drive its blocks (512): a read that touches a sector
// holding an unreadable byte fails whole (so no part of such a sector is ever
// readable). `says` is the sector size it reports, whatever it fails in. A
// failing read leaves the position somewhere else. Taken out after
// `outAfter` more reads.
struct Medium : IFile {
  std::string bytes;
  std::vector<Range> bad;        // unreadable bytes
  std::set<int64_t> badSectors;  // unreadable sectors (of `sector` bytes)
  int64_t sector = 0;
  int64_t says = 0;
  int64_t pos = 0;
  int outAfter = -1;
  bool out = false;
  int reads = 0, failures = 0;
  struct Access {
    int64_t pos, end;
    bool failed;
  };
  std::vector<Access> log;  // each read while present

  static char Byte(int64_t i) { return static_cast<char>(1 + (i * 7 + i / 251) % 251); }  // never 0
  // Holds `size` bytes, each Byte(i).
  void Fill(int64_t size) {
    bytes.resize(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = Byte(i);
  }
  int64_t Length() const { return static_cast<int64_t>(bytes.size()); }
  bool Readable(int64_t i) const { return !Touches(i, i + 1); }
  bool Touches(int64_t from, int64_t to) const {
    if (sector > 0) {
      from = from / sector * sector;
      to = (to + sector - 1) / sector * sector;
      const auto s = badSectors.lower_bound(from / sector);
      if (s != badSectors.end() && *s * sector < to) return true;
    }
    return std::any_of(bad.begin(), bad.end(), [&](const Range& r) { return r.from < to && r.to > from; });
  }
  int64_t Position() override { return pos; }
  void Seek(int64_t p) override { pos = p; }
  int64_t Size() override { return Length(); }
  size_t Read(void* buffer, size_t count) override {
    ++reads;
    if (outAfter >= 0 && outAfter-- == 0) out = true;
    if (out) throw FileError("I/O error 21", 21);
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(count), Length() - pos));
    const bool failed = n > 0 && Touches(pos, pos + n);
    log.push_back({pos, pos + n, failed});
    if (failed) {
      ++failures;
      pos += n / 2 + 1;
      throw FileError("I/O error 23", 23);
    }
    std::copy_n(bytes.data() + pos, n, static_cast<char*>(buffer));
    pos += n;
    return static_cast<size_t>(n);
  }
  size_t Write(const void*, size_t) override { throw FileError("File access denied", 5); }
  void Close() override {}
  int64_t SectorSize() override { return says; }
};

// The destination (a rescued file, a disc's image, a file written out of
// one), in memory; a write reaching past `room` finds the disk full.
struct Target : IFile {
  std::string bytes;
  int64_t pos = 0;
  int64_t room = -1;
  int flushes = 0;
  int64_t Position() override { return pos; }
  void Seek(int64_t p) override { pos = p; }
  int64_t Size() override { return static_cast<int64_t>(bytes.size()); }
  size_t Read(void* buffer, size_t count) override {
    const int64_t n = std::max<int64_t>(0, std::min(static_cast<int64_t>(count), Size() - pos));
    std::copy_n(bytes.data() + pos, n, static_cast<char*>(buffer));
    pos += n;
    return static_cast<size_t>(n);
  }
  size_t Write(const void* buffer, size_t count) override {
    if (room >= 0 && pos + static_cast<int64_t>(count) > room) throw DiskFullError();
    if (Size() < pos + static_cast<int64_t>(count)) bytes.resize(static_cast<size_t>(pos) + count, '\0');
    bytes.replace(static_cast<size_t>(pos), count, static_cast<const char*>(buffer), count);
    pos += static_cast<int64_t>(count);
    return count;
  }
  void SetSize(int64_t size) override { bytes.resize(static_cast<size_t>(size), '\0'); }
  void Flush() override { ++flushes; }
  void Close() override {}
};

}  // namespace sk::fake
