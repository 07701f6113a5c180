// What the ISO 9660 and UDF readers share: the disc's sectors as they read
// them (cached, counted, every sector asked for kept as the file system's),
// the list they fill, and the names' text.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/DiscTree.h"

namespace sk::disc {

// Bounds that keep a crafted disc from running the readers for ever.
inline constexpr int64_t kMaxEntries = 1000000;
inline constexpr int64_t kMaxSectorReads = 4000000;
inline constexpr int kMaxDepth = 32;

// The sectors as the readers get them. Every sector asked for is the file
// system's (it ends in DiscTree::system); a sector that cannot be had is asked
// for once. Past kMaxSectorReads nothing more can be had. `stop`, when set,
// is asked before each sector: true throws DiscListingStopped.
class Sectors {
 public:
  explicit Sectors(ISectorSource& source);
  std::function<bool()> stop;
  int64_t Count() const { return count_; }
  int64_t DiscBytes() const { return count_ * kDiscSectorSize; }
  // Fills `out` (kDiscSectorSize bytes); false when the sector cannot be had.
  bool Read(int64_t sector, unsigned char* out);
  // Reads `sectors` sectors from `first` into `out`; false when any cannot be had.
  bool ReadRun(int64_t first, int64_t sectors, std::vector<unsigned char>& out);
  // Sectors that belong to the file system though they were not read (spare
  // copies: path tables, reserve sequences, the metadata mirror).
  void Mark(int64_t first, int64_t sectors);
  std::vector<DiscExtent> System() const;

 private:
  ISectorSource& source_;
  int64_t count_ = 0;
  int64_t reads_ = 0;
  std::unordered_map<int64_t, std::vector<unsigned char>> cache_;
  std::unordered_set<int64_t> missing_;
  std::vector<std::pair<int64_t, int64_t>> marks_;  // [first, end) in sectors
};

// The entries the readers find.
class Listing {
 public:
  explicit Listing(int64_t discBytes) : discBytes_(discBytes) {}
  bool Full() const { return static_cast<int64_t>(entries.size()) >= kMaxEntries; }
  // `extents` as the file system gives them (positions in bytes, or kZeros);
  // clipped here to the disc and merged where they meet.
  void File(const std::string& path, int64_t size, const std::vector<DiscExtent>& extents);
  void Unknown(const std::string& path);
  std::vector<DiscEntry> entries;

 private:
  int64_t discBytes_;
};

// Appends the UTF-8 form of `cp` (a bad code point as '_').
void AppendUtf8(std::string& s, uint32_t cp);
// UCS-2 big-endian (surrogate pairs joined) as UTF-8.
std::string Ucs2BeText(const unsigned char* p, size_t bytes);
// Bytes that are UTF-8 kept as they are, else read as Latin-1.
std::string BytesText(const unsigned char* p, size_t bytes);
// A name usable as a Windows file name: control characters and <>:"/\|?*
// replaced by '_', trailing dots and spaces dropped ("_" when nothing is left).
std::string SafeName(const std::string& name);
// A name compared as Windows compares names: lower case.
std::string FoldName(const std::string& name);

// Little- and big-endian numbers.
inline uint32_t Le16(const unsigned char* p) { return p[0] | p[1] << 8; }
inline uint32_t Be16(const unsigned char* p) { return p[0] << 8 | p[1]; }
inline uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t Be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
inline uint64_t Le64(const unsigned char* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

// The CRC of a UDF descriptor's bytes after its tag (CRC-ITU-T).
uint16_t TagCrc(const unsigned char* p, size_t n);

// The session a reader reads: its volume descriptors (and UDF's recognition
// sequence) from `start` + 16, UDF's anchors at `start` + 256 and 256 and 1
// sectors before `end` (0: the disc's end), where the VAT of a virtual
// partition is looked for too (the last sectors before `end`).
struct Session {
  int64_t start = 0;
  int64_t end = 0;
};

// The readers: false when the disc holds no such file system.
bool ReadIso9660(Sectors& sectors, Listing& out, std::string& label, const Session& session = {});
bool ReadUdf(Sectors& sectors, Listing& out, std::string& label, std::vector<std::string>& unknown,
             const Session& session = {});

// An ISO 9660 volume descriptor (a primary or supplementary one) in `b`.
inline bool IsVolumeDescriptor(const unsigned char* b) {
  return (b[0] == 1 || b[0] == 2) && b[1] == 'C' && b[2] == 'D' && b[3] == '0' && b[4] == '0' && b[5] == '1' &&
         b[6] == 1 && Le16(b + 128) == kDiscSectorSize;
}
// A UDF descriptor tag that is whole (checksum, CRC over the bytes there are,
// identifier, and unless negative its location).
bool TagOk(const unsigned char* p, size_t avail, uint32_t id, int64_t location);

}  // namespace sk::disc
