// UDF: anchors, the main and reserve volume descriptor sequences, partitions
// (with the metadata partition and its mirror), the file set, file entries and
// directories.
#include <algorithm>
#include <array>
#include <cstring>

#include "core/DiscRead.h"

namespace sk::disc {
namespace {

enum Tag : uint32_t {
  kAnchor = 2,
  kPartition = 5,
  kLogicalVolume = 6,
  kTerminator = 8,
  kFileSet = 256,
  kFileId = 257,
  kAllocationExtent = 258,
  kFileEntry = 261,
  kExtendedFileEntry = 266,
};

}  // namespace

// CRC-ITU-T (x^16 + x^12 + x^5 + 1, starting from 0), a byte at a time.
uint16_t TagCrc(const unsigned char* p, size_t n) {
  static const auto table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      uint16_t c = static_cast<uint16_t>(i << 8);
      for (int b = 0; b < 8; ++b) c = c & 0x8000 ? static_cast<uint16_t>(c << 1 ^ 0x1021) : static_cast<uint16_t>(c << 1);
      t[i] = c;
    }
    return t;
  }();
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(crc << 8 ^ table[(crc >> 8 ^ p[i]) & 0xFF]);
  return crc;
}

bool TagOk(const unsigned char* p, size_t avail, uint32_t id, int64_t location) {
  if (avail < 16 || Le16(p) != id) return false;
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum += p[i];
  if ((sum & 0xFF) != p[4]) return false;
  const size_t crcLength = Le16(p + 10);
  if (16 + crcLength > avail || TagCrc(p + 16, crcLength) != Le16(p + 8)) return false;
  return location < 0 || Le32(p + 12) == location;
}

namespace {

// Compressed Unicode (8 or 16 bits a character) as UTF-8.
std::string Dchars(const unsigned char* p, size_t n) {
  if (n < 1) return {};
  std::string s;
  if (p[0] == 8 || p[0] == 254) {
    for (size_t i = 1; i < n; ++i) AppendUtf8(s, p[i]);
  } else if (p[0] == 16 || p[0] == 255) {
    s = Ucs2BeText(p + 1, n - 1);
  }
  return s;
}

// Where a block lies when it is not a sector: nowhere on the disc (an unused
// virtual block, a block past its partition), or not known (the VAT or
// sparing table entry that says it could not be read).
constexpr int64_t kNowhere = DiscExtent::kOutside;
constexpr int64_t kNotKnown = DiscExtent::kUnknown;

struct Run {  // blocks [from, from + count) of a file at sector `sector` (or kNotKnown)
  int64_t from, count, sector;
};

struct PartitionMap {
  enum class Kind { kPlain, kMetadata, kVirtual, kSparable };
  Kind kind = Kind::kPlain;
  unsigned number = 0;                          // the partition's number
  int64_t start = -1, length = 0;               // the physical partition's sectors
  std::vector<Run> main, mirror;                // metadata: the metadata file's and its mirror's blocks
  std::vector<int64_t> vat;                     // virtual: each virtual block's block in the physical partition
  int64_t packet = 0;                           // sparable: the packet's length in blocks
  bool sparingKnown = false;                    //   a sparing table could be read
  std::unordered_map<int64_t, int64_t> spared;  // the first block of a packet: the sector it was moved to
};

struct Address {
  int64_t block = 0;
  unsigned map = 0;
};

struct Node {  // a file entry as far as the readers need it
  bool folder = false;
  int fileType = 0;
  int64_t length = 0;
  int adType = 0;
  unsigned char sector[kDiscSectorSize];
  int64_t physical = 0;  // where the entry itself lies
  unsigned adOffset = 0, adLength = 0;
};

// File types that are the file system's own, never a user's file: stream
// folders, the VAT, the metadata file, its mirror and its bitmap.
bool SystemFileType(int type) { return type == 13 || type == 248 || type == 250 || type == 251 || type == 252; }

class Udf {
 public:
  Udf(Sectors& sectors, Listing& out, std::vector<std::string>& unknown, const Session& session)
      : s_(sectors), out_(out), unknown_(unknown), session_(session) {
    end_ = session.end > 0 ? std::min(session.end, s_.Count()) : s_.Count();
  }

  bool Read(std::string& label) {
    if (!Recognised()) return false;
    unsigned char b[kDiscSectorSize];
    int64_t anchor = -1;
    for (int64_t at : {session_.start + 256, end_ - 256, end_ - 1}) {
      if (at > session_.start + 16 && s_.Read(at, b) && TagOk(b, kDiscSectorSize, kAnchor, at)) {
        anchor = at;
        break;
      }
    }
    if (anchor < 0) return false;
    const int64_t mainLength = Le32(b + 16), mainAt = Le32(b + 20);
    const int64_t reserveLength = Le32(b + 24), reserveAt = Le32(b + 28);
    s_.Mark(reserveAt, reserveLength / kDiscSectorSize);
    Sequence seq;
    ReadSequence(mainAt, mainLength, seq);
    if (!seq.Whole()) ReadSequence(reserveAt, reserveLength, seq);
    if (seq.volume.empty() || seq.partitions.empty()) return false;
    const unsigned char* lvd = seq.volume.data();
    label = Dchars(lvd + 84, std::min<unsigned>(lvd[84 + 127], 127));
    if (Le32(lvd + 212) != kDiscSectorSize) return false;
    ReadMaps(lvd, seq);
    Address fileSet{Le32(lvd + 248 + 4), Le16(lvd + 248 + 8)};
    Address root;
    bool haveRoot = false;
    if (ReadBlock(fileSet, b) >= 0 && TagOk(b, kDiscSectorSize, kFileSet, fileSet.block)) {
      root = {Le32(b + 400 + 4), Le16(b + 400 + 8)};
      haveRoot = true;
    }
    if (!haveRoot) {
      Unknown("");
      return true;
    }
    Walk("", root, 0);
    return true;
  }

 private:
  struct Sequence {
    std::vector<unsigned char> volume;  // the logical volume descriptor
    std::vector<std::pair<unsigned, std::pair<int64_t, int64_t>>> partitions;  // number, (start, length)
    bool broken = false;  // a sector before the terminator could not be had
    bool Whole() const { return !broken && !volume.empty() && !partitions.empty(); }
  };

  // The volume recognition sequence names UDF (or cannot be read).
  bool Recognised() {
    unsigned char b[kDiscSectorSize];
    for (int64_t at = session_.start + 16; at < session_.start + 16 + 64; ++at) {
      if (!s_.Read(at, b)) return true;
      if (b[0] == 0 && std::memcmp(b + 1, "NSR0", 4) == 0) return true;
      if (std::memcmp(b + 1, "TEA01", 5) == 0) return false;
      const bool known = std::memcmp(b + 1, "CD001", 5) == 0 || std::memcmp(b + 1, "BEA01", 5) == 0 ||
                         std::memcmp(b + 1, "CDW02", 5) == 0 || std::memcmp(b + 1, "BOOT2", 5) == 0;
      if (!known) return false;
    }
    return false;
  }

  void ReadSequence(int64_t at, int64_t length, Sequence& seq) {
    seq.broken = false;
    unsigned char b[kDiscSectorSize];
    const int64_t sectors = std::min<int64_t>(length / kDiscSectorSize, 256);
    for (int64_t i = 0; i < sectors; ++i) {
      if (!s_.Read(at + i, b)) {
        seq.broken = true;
        continue;
      }
      const uint32_t id = Le16(b);
      if (id == kTerminator && TagOk(b, kDiscSectorSize, id, at + i)) return;
      if (id == kPartition && TagOk(b, kDiscSectorSize, id, at + i)) {
        const unsigned number = Le16(b + 22);
        const bool known = std::any_of(seq.partitions.begin(), seq.partitions.end(),
                                       [&](const auto& p) { return p.first == number; });
        if (!known) seq.partitions.push_back({number, {Le32(b + 188), Le32(b + 192)}});
      } else if (id == kLogicalVolume && TagOk(b, kDiscSectorSize, id, at + i) && seq.volume.empty()) {
        seq.volume.assign(b, b + kDiscSectorSize);
      }
    }
  }

  void ReadMaps(const unsigned char* lvd, const Sequence& seq) {
    const unsigned count = std::min<unsigned>(Le32(lvd + 268), 64);
    const unsigned tableEnd = std::min<unsigned>(440 + Le32(lvd + 264), kDiscSectorSize);
    auto partition = [&](unsigned number, PartitionMap& m) {
      m.number = number;
      for (const auto& [num, place] : seq.partitions)
        if (num == number) {
          m.start = place.first;
          m.length = place.second;
        }
    };
    std::vector<std::pair<size_t, std::pair<int64_t, int64_t>>> metadata;  // map, (file, mirror)
    for (unsigned i = 0, at = 440; i < count && at + 2 <= tableEnd; ++i) {
      const unsigned type = lvd[at], len = lvd[at + 1];
      if (len < 2 || at + len > tableEnd) break;
      PartitionMap m;
      if (type == 1 && len >= 6) {
        partition(Le16(lvd + at + 4), m);
      } else if (type == 2 && len >= 64) {
        partition(Le16(lvd + at + 38), m);
        const unsigned char* id = lvd + at + 5;
        if (std::memcmp(id, "*UDF Metadata Partition", 23) == 0) {
          m.kind = PartitionMap::Kind::kMetadata;
          metadata.push_back({maps_.size(), {Le32(lvd + at + 40), Le32(lvd + at + 44)}});
        } else if (std::memcmp(id, "*UDF Virtual Partition", 22) == 0) {
          m.kind = PartitionMap::Kind::kVirtual;
        } else if (std::memcmp(id, "*UDF Sparable Partition", 23) == 0) {
          m.kind = PartitionMap::Kind::kSparable;
          m.packet = Le16(lvd + at + 40);
          ReadSparingTable(m, std::min<unsigned>(lvd[at + 42], 4), Le32(lvd + at + 44), lvd + at + 48);
        }
      }
      maps_.push_back(std::move(m));
      at += len;
    }
    // The VAT and the metadata file are read through the physical map of
    // their partition (plain or sparable).
    for (PartitionMap& m : maps_)
      if (m.kind == PartitionMap::Kind::kVirtual) ReadVat(m, Physical(m));
    for (const auto& [index, files] : metadata) {
      const PartitionMap physical = Physical(maps_[index]);
      std::vector<Run> main = MetadataRuns(physical, files.first);
      std::vector<Run> mirror = MetadataRuns(physical, files.second);
      maps_[index].main = std::move(main);
      maps_[index].mirror = std::move(mirror);
    }
  }

  // The map through which the partition of `m` is read as it lies on the
  // disc: a plain or sparable map of the same partition, else a plain one.
  PartitionMap Physical(const PartitionMap& m) const {
    for (const PartitionMap& p : maps_)
      if (p.number == m.number && (p.kind == PartitionMap::Kind::kPlain || p.kind == PartitionMap::Kind::kSparable))
        return p;
    PartitionMap plain = m;
    plain.kind = PartitionMap::Kind::kPlain;
    return plain;
  }

  // The sparing table: the first of its copies that can be read whole.
  void ReadSparingTable(PartitionMap& m, unsigned copies, int64_t size, const unsigned char* locations) {
    if (m.packet <= 0 || size < 56) return;
    const int64_t sectors = std::min<int64_t>((size + kDiscSectorSize - 1) / kDiscSectorSize, 64);
    for (unsigned c = 0; c < copies; ++c) s_.Mark(Le32(locations + 4 * c), sectors);
    std::vector<unsigned char> t;
    for (unsigned c = 0; c < copies; ++c) {
      const int64_t at = Le32(locations + 4 * c);
      if (!s_.ReadRun(at, sectors, t) || !TagOk(t.data(), t.size(), 0, at) ||
          std::memcmp(t.data() + 17, "*UDF Sparing Table", 18) != 0)
        continue;
      const size_t entries = std::min<size_t>(Le16(t.data() + 48), (t.size() - 56) / 8);
      for (size_t i = 0; i < entries; ++i) {
        const uint32_t original = Le32(t.data() + 56 + 8 * i), mapped = Le32(t.data() + 60 + 8 * i);
        if (original < 0xFFFFFFF0u) m.spared.emplace(original, mapped);
      }
      m.sparingKnown = true;
      return;
    }
  }

  // The VAT of a virtual partition: a file entry as the session's last
  // recorded sector: type 248 (UDF 2.00 and later; its header's length
  // first), or an ordinary file whose last 36 bytes name "*UDF Virtual
  // Alloc Tbl" (UDF 1.50). The last sectors that cannot be read are passed
  // over (at most 2: the run-out a track written at once leaves), but the
  // first that reads must be the VAT: an earlier VAT is an older state of
  // the disc, never taken for the newest. Entries in sectors that cannot be
  // had are not known; no VAT found, no block of the partition is known.
  void ReadVat(PartitionMap& virt, const PartitionMap& physical) {
    if (physical.start < 0) return;
    for (int64_t at = end_ - 1; at >= std::max<int64_t>(end_ - 3, physical.start); --at) {
      Node node;
      node.physical = at;
      if (!s_.Read(at, node.sector)) continue;
      if (!ParseNode(node, at - physical.start) || (node.fileType != 248 && node.fileType != 0)) return;
      const int64_t length = std::min<int64_t>(node.length, 64 * 1024 * 1024);
      if (length < 36) return;
      std::vector<unsigned char> data;
      std::vector<bool> known;
      FileBytes(Extents(node, physical), length, data, known);
      int64_t first = 0, count = 0;
      if (node.fileType == 248) {
        if (!known[0] || !known[1]) return;
        first = Le16(data.data());
        count = (length - first) / 4;
      } else {
        if (!std::all_of(known.end() - 36, known.end(), [](bool k) { return k; }) ||
            std::memcmp(data.data() + length - 35, "*UDF Virtual Alloc Tbl", 22) != 0)
          return;
        count = (length - 36) / 4;
      }
      if (count <= 0 || first < 0 || first > length) return;
      virt.vat.resize(static_cast<size_t>(count));
      for (int64_t i = 0; i < count; ++i) {
        const size_t p = static_cast<size_t>(first + 4 * i);
        const bool whole = known[p] && known[p + 1] && known[p + 2] && known[p + 3];
        const uint32_t v = Le32(data.data() + p);
        virt.vat[i] = !whole ? kNotKnown : v == 0xFFFFFFFFu ? kNowhere : int64_t{v};
      }
      return;
    }
  }

  // The first `length` bytes of a file; `known` says which of them could be had.
  void FileBytes(const std::vector<DiscExtent>& extents, int64_t length, std::vector<unsigned char>& data,
                 std::vector<bool>& known) {
    data.assign(static_cast<size_t>(length), 0);
    known.assign(static_cast<size_t>(length), false);
    unsigned char b[kDiscSectorSize];
    int64_t at = 0;
    for (const DiscExtent& x : extents) {
      if (at >= length) break;
      const int64_t n = std::min(x.size, length - at);
      if (x.pos == DiscExtent::kZeros) std::fill(known.begin() + at, known.begin() + at + n, true);
      for (int64_t done = 0; x.pos >= 0 && done < n;) {
        const int64_t pos = x.pos + done, offset = pos % kDiscSectorSize;
        const int64_t part = std::min(n - done, kDiscSectorSize - offset);
        if (s_.Read(pos / kDiscSectorSize, b)) {
          std::memcpy(data.data() + at + done, b + offset, static_cast<size_t>(part));
          std::fill(known.begin() + at + done, known.begin() + at + done + part, true);
        }
        done += part;
      }
      at += n;
    }
  }

  // The blocks of the metadata file (or its mirror) whose entry is at `block`.
  std::vector<Run> MetadataRuns(const PartitionMap& physical, int64_t block) {
    std::vector<Run> runs;
    Node node;
    node.physical = ReadIn(physical, block, node.sector);
    if (node.physical < 0 || !ParseNode(node, block)) return runs;
    int64_t from = 0;
    for (const DiscExtent& x : Extents(node, physical)) {
      const int64_t blocks = (x.size + kDiscSectorSize - 1) / kDiscSectorSize;
      if (x.pos >= 0) {
        runs.push_back({from, blocks, x.pos / kDiscSectorSize});
        s_.Mark(x.pos / kDiscSectorSize, blocks);
      } else if (x.pos == kNotKnown) {
        runs.push_back({from, blocks, kNotKnown});
      }
      from += blocks;
    }
    return runs;
  }

  // The sector of a block; kNowhere or kNotKnown when it has none.
  static int64_t SectorOf(const std::vector<Run>& runs, int64_t block) {
    for (const Run& r : runs)
      if (block >= r.from && block - r.from < r.count) return r.sector < 0 ? r.sector : r.sector + (block - r.from);
    return kNowhere;
  }

  // The sector of `block` of a map that is not the metadata partition;
  // kNowhere or kNotKnown when it has none. `guess`: a sparable partition
  // whose sparing table could not be read gives the block's own place (a
  // descriptor read there is checked by its tag).
  int64_t Locate(const PartitionMap& map, int64_t block, bool guess = false) const {
    if (block < 0) return kNowhere;
    switch (map.kind) {
      case PartitionMap::Kind::kMetadata:
        return SectorOf(map.main, block);
      case PartitionMap::Kind::kVirtual: {
        if (block >= static_cast<int64_t>(map.vat.size())) return map.vat.empty() ? kNotKnown : kNowhere;
        const int64_t physical = map.vat[static_cast<size_t>(block)];
        if (physical < 0) return physical;
        // On a write-once disc the physical partition grows past the length
        // its descriptor was given when the disc was formatted.
        for (const PartitionMap& p : maps_)
          if (p.number == map.number && p.kind == PartitionMap::Kind::kSparable) return Locate(p, physical, guess);
        return map.start < 0 ? kNowhere : map.start + physical;
      }
      case PartitionMap::Kind::kSparable: {
        if (map.start < 0 || block >= map.length) return kNowhere;
        if (!map.sparingKnown) return guess ? map.start + block : kNotKnown;
        const int64_t packet = block - block % map.packet;  // a table was read: the packet is above 0
        if (auto it = map.spared.find(packet); it != map.spared.end()) return it->second + (block - packet);
        return map.start + block;
      }
      case PartitionMap::Kind::kPlain:
        break;
    }
    return map.start < 0 || block >= map.length ? kNowhere : map.start + block;
  }

  // Reads a block; the sector it came from, or -1 when it cannot be had.
  int64_t ReadBlock(Address a, unsigned char* out) {
    return a.map < maps_.size() && a.block >= 0 ? ReadIn(maps_[a.map], a.block, out) : -1;
  }

  bool ParseNode(Node& node, int64_t block) {
    const unsigned char* b = node.sector;
    const uint32_t id = Le16(b);
    if ((id != kFileEntry && id != kExtendedFileEntry) || !TagOk(b, kDiscSectorSize, id, block)) return false;
    const bool extended = id == kExtendedFileEntry;
    node.fileType = b[16 + 11];
    node.folder = node.fileType == 4;
    node.adType = Le16(b + 16 + 18) & 7;
    const uint64_t length = Le64(b + 56);
    node.length = length > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(length);
    const uint64_t ea = Le32(b + (extended ? 208 : 168)), ad = Le32(b + (extended ? 212 : 172));
    const uint64_t at = (extended ? 216 : 176) + ea;
    if (at > kDiscSectorSize || ad > kDiscSectorSize - at) return false;
    node.adOffset = static_cast<unsigned>(at);
    node.adLength = static_cast<unsigned>(ad);
    return true;
  }

  // A file's data in file order (positions in bytes, kZeros, kOutside, and
  // kUnknown for the part an unreadable allocation extent would have named).
  std::vector<DiscExtent> Extents(const Node& node, const PartitionMap& own) {
    std::vector<DiscExtent> out;
    if (node.adType == 3) {
      out.push_back({node.physical * kDiscSectorSize + node.adOffset, std::min<int64_t>(node.length, node.adLength)});
      return out;
    }
    const unsigned size = node.adType == 0 ? 8 : node.adType == 1 ? 16 : node.adType == 2 ? 20 : 0;
    if (size == 0) return out;
    std::vector<unsigned char> area(node.sector + node.adOffset, node.sector + node.adOffset + node.adLength);
    int64_t total = 0;  // each extent below 2^30 bytes, at most 2^16 + 4096 * 128 of them
    for (int rounds = 0; rounds < 4096 && out.size() < 65536;) {
      bool next = false;
      for (size_t i = 0; i + size <= area.size() && !next; i += size) {
        const unsigned char* d = area.data() + i;
        const uint32_t word = Le32(d);
        const int64_t length = word & 0x3FFFFFFF;
        const unsigned type = word >> 30;
        if (length == 0) break;
        Address a;
        const PartitionMap* map = &own;
        if (node.adType == 0) {
          a.block = Le32(d + 4);
        } else {
          const unsigned char* la = d + (node.adType == 1 ? 4 : 12);
          a = {Le32(la), Le16(la + 4)};
          map = a.map < maps_.size() ? &maps_[a.map] : nullptr;
          if (node.adType == 2 && type != 3) {
            // The recorded part, then the rest of the extent as zeros.
            const int64_t recorded = std::min<int64_t>(Le32(d + 4) & 0x3FFFFFFF, length);
            Place(out, map, a.block, type == 0 ? recorded : 0, length);
            total += length;
            continue;
          }
        }
        if (type == 3) {
          // The list goes on in another sector: where it cannot be had, the
          // rest of the file lies somewhere not known.
          unsigned char b[kDiscSectorSize];
          const bool ok = map && ReadIn(*map, a.block, b) >= 0;
          const int64_t n = ok && TagOk(b, kDiscSectorSize, kAllocationExtent, a.block)
                                ? std::min<int64_t>({Le32(b + 20), length - 24, kDiscSectorSize - 24})
                                : -1;
          if (n < 0) {
            Rest(out, node.length - total);
            return out;
          }
          area.assign(b + 24, b + 24 + n);
          next = true;
          ++rounds;
          continue;
        }
        Place(out, map, a.block, type == 0 ? length : 0, length);
        total += length;
      }
      if (!next) return out;
    }
    // The bounds above cut the list short: the rest is not followed.
    Rest(out, node.length - total);
    return out;
  }

  // The rest of a file whose allocation could not be followed: not known
  // where it lies; at most the disc's size (no more can lie on it).
  void Rest(std::vector<DiscExtent>& out, int64_t rest) const { Push(out, kNotKnown, std::min(rest, s_.DiscBytes())); }

  // Through the metadata partition: the metadata file, else its mirror.
  int64_t ReadIn(const PartitionMap& map, int64_t block, unsigned char* out) {
    if (map.kind == PartitionMap::Kind::kMetadata) {
      for (const auto* runs : {&map.main, &map.mirror}) {
        const int64_t sector = SectorOf(*runs, block);
        if (sector >= 0 && s_.Read(sector, out)) return sector;
      }
      return -1;
    }
    const int64_t sector = Locate(map, block, true);
    if (sector < 0 || !s_.Read(sector, out)) return -1;
    return sector;
  }

  // The mirror's copy of a sector of the metadata file (-1: none).
  int64_t MirrorOf(int64_t sector) const {
    for (const PartitionMap& m : maps_) {
      if (m.kind != PartitionMap::Kind::kMetadata) continue;
      for (const Run& r : m.main)
        if (r.sector >= 0 && sector >= r.sector && sector - r.sector < r.count)
          return SectorOf(m.mirror, r.from + (sector - r.sector));
    }
    return -1;
  }

  // Adds `n` bytes at `pos` (a place on the disc, or a special one), joined
  // to the last extent where they continue it.
  static void Push(std::vector<DiscExtent>& out, int64_t pos, int64_t n) {
    if (n <= 0) return;
    if (!out.empty()) {
      DiscExtent& last = out.back();
      if ((pos < 0 && last.pos == pos) || (pos >= 0 && last.pos >= 0 && last.pos + last.size == pos)) {
        last.size += n;
        return;
      }
    }
    out.push_back({pos, n});
  }

  // `length` bytes of an extent at `block` of `map`, the first `recorded` of
  // them on the disc and the rest zeros.
  void Place(std::vector<DiscExtent>& out, const PartitionMap* map, int64_t block, int64_t recorded, int64_t length) {
    if (recorded > 0) {
      if (!map || (map->start < 0 && map->kind != PartitionMap::Kind::kMetadata)) {
        Push(out, DiscExtent::kOutside, recorded);
      } else if (map->kind == PartitionMap::Kind::kPlain) {
        out.push_back({(map->start + block) * kDiscSectorSize, recorded});  // below 2^33 sectors
      } else {
        // Block by block: each may lie elsewhere.
        for (int64_t done = 0; done < recorded; done += kDiscSectorSize) {
          if (out.size() >= (1 << 20)) {  // not followed further
            Push(out, kNotKnown, recorded - done);
            break;
          }
          const int64_t sector = Locate(*map, block + done / kDiscSectorSize);
          const int64_t n = std::min<int64_t>(kDiscSectorSize, recorded - done);
          Push(out, sector >= 0 ? sector * kDiscSectorSize : sector, n);
        }
      }
    }
    if (length > recorded) Push(out, DiscExtent::kZeros, length - recorded);
  }

  void Unknown(const std::string& path) {
    out_.Unknown(path);
    unknown_.push_back(path.empty() ? "\\" : path);
  }

  void Walk(const std::string& path, Address icb, int depth) {
    if (out_.Full()) return;
    if (depth > kMaxDepth || icb.map >= maps_.size()) {
      Unknown(path);
      return;
    }
    Node node;
    node.physical = ReadBlock(icb, node.sector);
    if (node.physical < 0 || !ParseNode(node, icb.block)) {
      Unknown(path);
      return;
    }
    if (SystemFileType(node.fileType)) return;
    const PartitionMap& map = maps_[icb.map];
    const std::vector<DiscExtent> extents = Extents(node, map);
    if (!node.folder) {
      int64_t covered = 0;
      for (const DiscExtent& x : extents) covered += x.size;  // each below 2^30, at most 2^20 of them
      out_.File(path, std::min(node.length, covered), extents);
      return;
    }
    if (!visited_.insert(icb.map * (int64_t{1} << 40) + icb.block).second) return;  // a loop
    std::vector<unsigned char> data;
    if (!FolderData(node, extents, data)) {
      Unknown(path);
      return;
    }
    for (size_t at = 0; at + 38 <= data.size() && !out_.Full();) {
      const unsigned char* f = data.data() + at;
      if (!TagOk(f, data.size() - at, kFileId, -1)) break;
      const unsigned characteristics = f[18], nameLength = f[19], implementation = Le16(f + 36);
      const size_t length = (38 + implementation + nameLength + 3) & ~size_t{3};
      if (at + 38 + implementation + nameLength > data.size()) break;
      at += length;
      if (characteristics & 0x1C) continue;  // deleted, the parent, or the file system's own (a stream)
      std::string name = Dchars(f + 38 + implementation, nameLength);
      if (name.empty() || name == "." || name == "..") continue;
      // UDF 1.50 keeps the list of unusable blocks as a hidden file in the root.
      if (depth == 0 && (characteristics & 0x01) && name == "Non-Allocatable Space") continue;
      Walk(path + "\\" + SafeName(name), {Le32(f + 24), Le16(f + 28)}, depth + 1);
    }
  }

  // A folder's bytes; false when any of its sectors cannot be had.
  bool FolderData(const Node& node, const std::vector<DiscExtent>& extents, std::vector<unsigned char>& data) {
    const int64_t limit = std::min<int64_t>(node.length, 64 * 1024 * 1024);
    unsigned char b[kDiscSectorSize];
    for (const DiscExtent& x : extents) {
      if (static_cast<int64_t>(data.size()) >= limit) break;
      if (x.pos < 0) return false;
      const int64_t n = std::min<int64_t>(x.size, limit - static_cast<int64_t>(data.size()));
      for (int64_t done = 0; done < n;) {
        const int64_t pos = x.pos + done;
        if (!s_.Read(pos / kDiscSectorSize, b)) {
          const int64_t mirror = MirrorOf(pos / kDiscSectorSize);
          if (mirror < 0 || !s_.Read(mirror, b)) return false;
        }
        const int64_t offset = pos % kDiscSectorSize;
        const int64_t part = std::min(n - done, kDiscSectorSize - offset);
        data.insert(data.end(), b + offset, b + offset + part);
        done += part;
      }
    }
    return true;
  }

  Sectors& s_;
  Listing& out_;
  std::vector<std::string>& unknown_;
  Session session_;
  int64_t end_ = 0;
  std::vector<PartitionMap> maps_;
  std::unordered_set<int64_t> visited_;
};

}  // namespace

bool ReadUdf(Sectors& sectors, Listing& out, std::string& label, std::vector<std::string>& unknown,
             const Session& session) {
  return Udf(sectors, out, unknown, session).Read(label);
}

}  // namespace sk::disc
