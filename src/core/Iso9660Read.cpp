// ISO 9660: the primary and Joliet trees, their path tables, Rock Ridge names.
#include <algorithm>
#include <cstring>
#include <functional>

#include "core/DiscRead.h"

namespace sk::disc {
namespace {

// A directory's place: its first sector and its length in bytes (0: taken
// from its own "." record).
struct Loc {
  int64_t extent = -1;
  int64_t length = 0;
};

struct Record {
  std::string name;
  bool folder = false;
  bool more = false;  // a multi-extent file's part that is not the last
  int64_t data = 0;   // the first sector of the data
  int64_t length = 0;
  int64_t unit = 0, gap = 0;  // interleaved: sectors of each file unit, and of the gap after it
};

struct Child {
  std::string name;
  Loc loc;
};

struct Tree {
  bool present = false;
  bool joliet = false;
  Loc root;
  std::string label;
  int64_t tableSize = 0;
  uint32_t tables[4] = {};  // L, optional L, M, optional M
  bool tableRead = false;
  std::unordered_map<int64_t, std::vector<Child>> tableChildren;  // by the folder's first sector
};

bool IsRoot(const unsigned char* r) { return r[32] == 1 && r[33] == 0; }

class Iso {
 public:
  Iso(Sectors& sectors, Listing& out, const Session& session) : s_(sectors), out_(out), session_(session) {}

  bool Read(std::string& label) {
    if (!ReadDescriptors()) return false;
    label = joliet_.present && !joliet_.label.empty() ? joliet_.label : primary_.label;
    for (Tree* t : {&primary_, &joliet_}) {
      if (!t->present) continue;
      const int64_t sectors = (t->tableSize + kDiscSectorSize - 1) / kDiscSectorSize;
      for (uint32_t at : t->tables)
        if (at != 0) s_.Mark(at, sectors);
    }
    DetectRockRidge();
    Walk("", joliet_.present ? joliet_.root : Loc{}, primary_.present ? primary_.root : Loc{}, nullptr, 0);
    return true;
  }

 private:
  bool ReadDescriptors() {
    unsigned char b[kDiscSectorSize];
    for (int64_t at = session_.start + 16; at < session_.start + 16 + 64; ++at) {
      if (!s_.Read(at, b)) continue;
      if (std::memcmp(b + 1, "CD001", 5) != 0) break;
      if (b[0] == 255) break;
      if (b[0] != 1 && b[0] != 2) continue;
      if (Le16(b + 128) != kDiscSectorSize) continue;
      const bool joliet = b[0] == 2 && b[88] == '%' && b[89] == '/' && (b[90] == '@' || b[90] == 'C' || b[90] == 'E');
      if (b[0] == 2 && !joliet) continue;
      Tree& t = joliet ? joliet_ : primary_;
      if (t.present) continue;
      const unsigned char* root = b + 156;
      if (root[0] < 34) continue;
      t.present = true;
      t.joliet = joliet;
      t.root = {static_cast<int64_t>(Le32(root + 2)) + root[1], Le32(root + 10)};
      t.label = joliet ? Ucs2BeText(b + 40, 32) : BytesText(b + 40, 32);
      while (!t.label.empty() && (t.label.back() == ' ' || t.label.back() == '\0')) t.label.pop_back();
      t.tableSize = Le32(b + 132);
      t.tables[0] = Le32(b + 140);
      t.tables[1] = Le32(b + 144);
      t.tables[2] = Be32(b + 148);
      t.tables[3] = Be32(b + 152);
    }
    return primary_.present || joliet_.present;
  }

  // Rock Ridge: the SP entry at the start of the root's "." record.
  void DetectRockRidge() {
    if (!primary_.present) return;
    unsigned char b[kDiscSectorSize];
    if (!s_.Read(primary_.root.extent, b)) return;
    const unsigned len = b[0];
    if (len < 34 || !IsRoot(b)) return;
    const unsigned su = 34;  // the name is one byte; the pad makes it even
    if (su + 7 <= len && b[su] == 'S' && b[su + 1] == 'P' && b[su + 4] == 0xBE && b[su + 5] == 0xEF) {
      rockRidge_ = true;
      suspSkip_ = b[su + 6];
    }
  }

  // What Rock Ridge says of a record (its system use area, following
  // continuation areas): its name (empty: none), the folder a relocated
  // folder's place points to (CL, -1: none), and whether the record is a
  // relocated folder in the folder it was moved to (RE: listed at its place).
  struct RockRidge {
    std::string name;
    int64_t childLink = -1;
    bool relocated = false;
  };
  RockRidge RockRidgeOf(const unsigned char* r, unsigned len) {
    RockRidge rr;
    unsigned su = 33 + r[32];
    if (su % 2) ++su;
    su += suspSkip_;
    if (su >= len) return rr;
    std::vector<unsigned char> area(r + su, r + len);
    std::string name;
    bool any = false;
    for (int continuations = 0; continuations < 8;) {
      int64_t nextSector = -1, nextOffset = 0, nextLength = 0;
      for (size_t i = 0; i + 4 <= area.size();) {
        const unsigned n = area[i + 2];
        if (n < 4 || i + n > area.size()) break;
        const unsigned char* e = area.data() + i;
        if (e[0] == 'N' && e[1] == 'M' && n >= 5) {
          if (!(e[4] & 0x06)) {
            name.append(reinterpret_cast<const char*>(e + 5), n - 5);
            any = true;
          }
        } else if (e[0] == 'C' && e[1] == 'L' && n >= 12) {
          rr.childLink = Le32(e + 4);
        } else if (e[0] == 'R' && e[1] == 'E') {
          rr.relocated = true;
        } else if (e[0] == 'C' && e[1] == 'E' && n >= 28) {
          nextSector = Le32(e + 4);
          nextOffset = Le32(e + 12);
          nextLength = Le32(e + 20);
        } else if (e[0] == 'S' && e[1] == 'T') {
          break;
        }
        i += n;
      }
      if (nextSector < 0 || nextOffset + nextLength > kDiscSectorSize || nextLength == 0) break;
      unsigned char b[kDiscSectorSize];
      if (!s_.Read(nextSector, b)) break;
      area.assign(b + nextOffset, b + nextOffset + nextLength);
      ++continuations;
    }
    if (any) rr.name = BytesText(reinterpret_cast<const unsigned char*>(name.data()), name.size());
    return rr;
  }

  // A directory's records; false when any of its sectors cannot be had.
  bool ReadFolder(const Tree& t, Loc loc, std::vector<Record>& records) {
    records.clear();
    unsigned char b[kDiscSectorSize];
    if (loc.extent < 0) return false;
    if (loc.length == 0) {
      if (!s_.Read(loc.extent, b) || b[0] < 34) return false;
      loc.length = Le32(b + 10);
    }
    const int64_t sectors = std::min((loc.length + kDiscSectorSize - 1) / kDiscSectorSize, s_.Count());
    if (sectors <= 0) return false;
    for (int64_t i = 0; i < sectors; ++i) {
      if (!s_.Read(loc.extent + i, b)) return false;
      for (unsigned at = 0; at + 34 <= kDiscSectorSize;) {
        const unsigned char* r = b + at;
        const unsigned len = r[0];
        if (len < 34 || at + len > kDiscSectorSize) break;  // the rest of the sector is padding
        at += len;
        const unsigned nameLen = r[32];
        if (33 + nameLen > len || nameLen == 0) continue;
        if (nameLen == 1 && (r[33] == 0 || r[33] == 1)) continue;  // "." and ".."
        if (r[25] & 0x04) continue;                               // an associated file
        Record rec;
        rec.folder = r[25] & 0x02;
        rec.more = !rec.folder && (r[25] & 0x80);
        rec.data = static_cast<int64_t>(Le32(r + 2)) + r[1];
        rec.length = Le32(r + 10);
        rec.unit = r[26];
        rec.gap = r[27];
        std::string name;
        if (!t.joliet && rockRidge_) {
          RockRidge rr = RockRidgeOf(r, len);
          if (rr.relocated) continue;  // listed where the CL record of its place puts it
          if (rr.childLink >= 0) {
            rec.folder = true;
            rec.more = false;
            rec.data = rr.childLink;
            rec.length = 0;  // from the folder's own "." record
          }
          name = std::move(rr.name);
        }
        if (name.empty()) {
          name = t.joliet ? Ucs2BeText(r + 33, nameLen) : BytesText(r + 33, nameLen);
          if (!rec.folder) {
            const auto semi = name.rfind(';');
            if (semi != std::string::npos) name.erase(semi);
          }
        }
        if (name.empty() || name == "." || name == "..") continue;
        rec.name = SafeName(name);
        records.push_back(std::move(rec));
      }
    }
    return true;
  }

  // The folders below the one at `extent` as the tree's path table gives them.
  std::vector<Child> TableChildren(Tree& t, int64_t extent) {
    if (!t.present) return {};
    if (!t.tableRead) {
      t.tableRead = true;
      LoadTable(t);
    }
    auto it = t.tableChildren.find(extent);
    return it == t.tableChildren.end() ? std::vector<Child>{} : it->second;
  }

  void LoadTable(Tree& t) {
    const int64_t size = std::min<int64_t>(t.tableSize, 16 * 1024 * 1024);
    const int64_t sectors = (size + kDiscSectorSize - 1) / kDiscSectorSize;
    std::vector<unsigned char> b;
    for (int copy = 0; copy < 4; ++copy) {
      if (t.tables[copy] == 0 || size <= 0 || !s_.ReadRun(t.tables[copy], sectors, b)) continue;
      const bool big = copy >= 2;
      struct Folder {
        int64_t extent;
        size_t parent;
        std::string name;
      };
      std::vector<Folder> folders;
      for (int64_t i = 0; i + 8 <= size && static_cast<int64_t>(folders.size()) < kMaxEntries;) {
        const unsigned len = b[i];
        if (len == 0 || i + 8 + len > size) break;
        const int64_t extent = static_cast<int64_t>(big ? Be32(&b[i + 2]) : Le32(&b[i + 2])) + b[i + 1];
        const size_t parent = big ? Be16(&b[i + 6]) : Le16(&b[i + 6]);
        std::string name = t.joliet ? Ucs2BeText(&b[i + 8], len) : BytesText(&b[i + 8], len);
        folders.push_back({extent, parent, SafeName(name)});
        i += 8 + len + (len & 1);
      }
      for (size_t k = 1; k < folders.size(); ++k) {
        const size_t parent = folders[k].parent;
        if (parent == 0 || parent > k) continue;  // a parent comes before its folders
        t.tableChildren[folders[parent - 1].extent].push_back({folders[k].name, {folders[k].extent, 0}});
      }
      return;
    }
  }

  // For each of `a`, the index of the same folder in `b` (-1: none): the same
  // sectors, else the same name, else the same name as ISO 9660 would shorten
  // it, else the rest in their order when as many are left on each side. For
  // each rule in turn, each of `a` in order takes the first of `b` not taken
  // yet that the rule pairs it with; found through indexes, so that a folder
  // of many folders that pair with nothing costs n log n, not n².
  static std::vector<int> Pair(const std::vector<Child>& a, const std::vector<Child>& b) {
    std::vector<int> match(a.size(), -1);
    std::vector<bool> used(b.size());
    // The rules of equal keys: each key's folders of `b` in order, the taken ones skipped.
    auto equal = [&](auto keyOf) {
      using Key = decltype(keyOf(b[0]));
      std::unordered_map<Key, std::pair<size_t, std::vector<size_t>>> byKey;
      for (size_t k = 0; k < b.size(); ++k)
        if (!used[k]) byKey[keyOf(b[k])].second.push_back(k);
      for (size_t i = 0; i < a.size(); ++i) {
        if (match[i] >= 0) continue;
        auto it = byKey.find(keyOf(a[i]));
        if (it == byKey.end()) continue;
        auto& [next, list] = it->second;
        while (next < list.size() && used[list[next]]) ++next;
        if (next == list.size()) continue;
        match[i] = static_cast<int>(list[next]);
        used[list[next]] = true;
      }
    };
    if (!a.empty() && !b.empty()) {
      equal([](const Child& c) { return c.loc.extent; });
      equal([](const Child& c) { return FoldName(c.name); });
      ShortenedPairs(a, b, match, used);
    }
    std::vector<size_t> restA, restB;
    for (size_t i = 0; i < a.size(); ++i)
      if (match[i] < 0) restA.push_back(i);
    for (size_t k = 0; k < b.size(); ++k)
      if (!used[k]) restB.push_back(k);
    if (restA.size() == restB.size())
      for (size_t i = 0; i < restA.size(); ++i) match[restA[i]] = static_cast<int>(restB[i]);
    return match;
  }

  // The name as ISO 9660 shortens it: letters and digits in upper case, any
  // other byte '_'.
  static std::string ShortKey(const std::string& name) {
    std::string k;
    for (unsigned char c : name) k += std::isalnum(c) && c < 0x80 ? static_cast<char>(std::toupper(c)) : '_';
    return k;
  }

  // The last rule: one key (not empty) begins the other. The keys of `b`
  // sorted: those that begin with a key, and those equal to one of its
  // beginnings, are ranges of them; a tree of minimums over the ranges gives
  // the first not taken.
  static void ShortenedPairs(const std::vector<Child>& a, const std::vector<Child>& b, std::vector<int>& match,
                             std::vector<bool>& used) {
    std::vector<std::pair<std::string, size_t>> keys;
    for (size_t k = 0; k < b.size(); ++k)
      if (!used[k])
        if (std::string key = ShortKey(b[k].name); !key.empty()) keys.push_back({std::move(key), k});
    if (keys.empty()) return;
    std::sort(keys.begin(), keys.end());
    size_t leaves = 1;
    while (leaves < keys.size()) leaves *= 2;
    constexpr size_t kNone = SIZE_MAX;
    std::vector<size_t> tree(2 * leaves, kNone);
    for (size_t p = 0; p < keys.size(); ++p) tree[leaves + p] = keys[p].second;
    for (size_t p = leaves; --p > 0;) tree[p] = std::min(tree[2 * p], tree[2 * p + 1]);
    auto lowest = [&](size_t from, size_t to) {  // over sorted positions [from, to)
      size_t best = kNone;
      for (from += leaves, to += leaves; from < to; from /= 2, to /= 2) {
        if (from & 1) best = std::min(best, tree[from++]);
        if (to & 1) best = std::min(best, tree[--to]);
      }
      return best;
    };
    std::vector<size_t> position(b.size(), kNone);
    for (size_t p = 0; p < keys.size(); ++p) position[keys[p].second] = p;
    for (size_t i = 0; i < a.size(); ++i) {
      if (match[i] >= 0) continue;
      const std::string key = ShortKey(a[i].name);
      if (key.empty()) continue;
      auto byKey = [](const std::pair<std::string, size_t>& e, const std::string& k) { return e.first < k; };
      // Keys that begin with this one (itself among them).
      const size_t from = std::lower_bound(keys.begin(), keys.end(), key, byKey) - keys.begin();
      const size_t to = std::partition_point(keys.begin() + from, keys.end(),
                                             [&](const auto& e) { return e.first.compare(0, key.size(), key) == 0; }) -
                        keys.begin();
      size_t best = lowest(from, to);
      // Keys that are a beginning of this one.
      for (size_t n = 1; n < key.size(); ++n) {
        const std::string part = key.substr(0, n);
        const size_t lo = std::lower_bound(keys.begin(), keys.end(), part, byKey) - keys.begin();
        const size_t hi = std::upper_bound(keys.begin() + lo, keys.end(), part,
                                           [](const std::string& k, const auto& e) { return k < e.first; }) -
                          keys.begin();
        best = std::min(best, lowest(lo, hi));
      }
      if (best == kNone) continue;
      match[i] = static_cast<int>(best);
      used[best] = true;
      for (size_t p = leaves + position[best]; p > 0; p /= 2)
        tree[p] = p >= leaves ? kNone : std::min(tree[2 * p], tree[2 * p + 1]);
    }
  }

  // A record's data: one extent, or (interleaved) file units of `unit`
  // sectors each followed by a gap of `gap` sectors. Past 2^20 units the rest
  // is not followed (not known).
  static void Interleaved(const Record& r, std::vector<DiscExtent>& extents) {
    if (r.unit == 0) {
      extents.push_back({r.data * kDiscSectorSize, r.length});
      return;
    }
    const int64_t unitBytes = r.unit * kDiscSectorSize;
    int64_t done = 0;
    for (int64_t k = 0; done < r.length; ++k) {
      if (k >= (1 << 20)) {
        extents.push_back({DiscExtent::kUnknown, r.length - done});
        return;
      }
      const int64_t n = std::min(unitBytes, r.length - done);
      extents.push_back({(r.data + k * (r.unit + r.gap)) * kDiscSectorSize, n});
      done += n;
    }
  }

  static std::vector<Child> Folders(const std::vector<Record>& records) {
    std::vector<Child> out;
    for (const Record& r : records)
      if (r.folder) out.push_back({r.name, {r.data, r.length}});
    return out;
  }

  void Files(const std::string& path, const std::vector<Record>& records) {
    for (size_t i = 0; i < records.size() && !out_.Full();) {
      if (records[i].folder) {
        ++i;
        continue;
      }
      std::vector<DiscExtent> extents;
      int64_t size = 0;
      size_t k = i;
      for (;; ++k) {
        const Record& r = records[k];
        Interleaved(r, extents);
        size += r.length;  // at most 2^32 a record, far below overflow for the bounded count
        const bool next = r.more && k + 1 < records.size() && !records[k + 1].folder &&
                          records[k + 1].name == r.name && extents.size() < 65536;
        if (!next) break;
      }
      out_.File(path + "\\" + records[i].name, size, extents);
      i = k + 1;
    }
  }

  // One folder, by its place in the Joliet tree (`j`) and the primary tree
  // (`p`, or asked of `lateP` when the Joliet tree cannot give the folder).
  void Walk(const std::string& path, Loc j, Loc p, const std::function<Loc()>& lateP, int depth) {
    if (out_.Full()) return;
    if (depth > kMaxDepth) {
      out_.Unknown(path);
      return;
    }
    std::vector<Record> records;
    bool fromJoliet = false, fromPrimary = false;
    if (j.extent >= 0) {
      if (!visitedJ_.insert(j.extent).second) return;  // a loop
      fromJoliet = ReadFolder(joliet_, j, records);
    }
    if (!fromJoliet) {
      if (p.extent < 0 && lateP) p = lateP();
      if (p.extent >= 0) {
        if (!visitedP_.insert(p.extent).second) return;
        fromPrimary = ReadFolder(primary_, p, records);
      }
    }
    if (!fromJoliet && !fromPrimary) {
      out_.Unknown(path);
      const std::vector<Child> jk = j.extent >= 0 ? TableChildren(joliet_, j.extent) : std::vector<Child>{};
      const std::vector<Child> pk = p.extent >= 0 ? TableChildren(primary_, p.extent) : std::vector<Child>{};
      if (!jk.empty()) {
        const std::vector<int> m = Pair(jk, pk);
        for (size_t i = 0; i < jk.size(); ++i)
          Walk(path + "\\" + jk[i].name, jk[i].loc, m[i] >= 0 ? pk[m[i]].loc : Loc{}, nullptr, depth + 1);
      } else {
        for (const Child& c : pk) Walk(path + "\\" + c.name, Loc{}, c.loc, nullptr, depth + 1);
      }
      return;
    }
    Files(path, records);
    const std::vector<Child> folders = Folders(records);
    if (fromJoliet) {
      // The primary tree's folders, asked for only when a Joliet folder below cannot be read.
      bool paired = false;
      std::vector<Child> pk;
      std::vector<int> m;
      for (size_t i = 0; i < folders.size(); ++i) {
        auto late = [&, i]() -> Loc {
          if (!paired) {
            paired = true;
            if (p.extent < 0 && lateP) p = lateP();
            std::vector<Record> primary;
            if (p.extent >= 0) pk = ReadFolder(primary_, p, primary) ? Folders(primary) : TableChildren(primary_, p.extent);
            m = Pair(folders, pk);
          }
          return m[i] >= 0 ? pk[m[i]].loc : Loc{};
        };
        Walk(path + "\\" + folders[i].name, folders[i].loc, Loc{}, late, depth + 1);
      }
    } else {
      // The Joliet places and names of the folders below, from the Joliet path table.
      std::vector<Child> jk = j.extent >= 0 && !folders.empty() ? TableChildren(joliet_, j.extent) : std::vector<Child>{};
      const std::vector<int> m = Pair(folders, jk);
      for (size_t i = 0; i < folders.size(); ++i)
        Walk(path + "\\" + (m[i] >= 0 ? jk[m[i]] : folders[i]).name, m[i] >= 0 ? jk[m[i]].loc : Loc{}, folders[i].loc,
             nullptr, depth + 1);
    }
  }

  Sectors& s_;
  Listing& out_;
  Session session_;
  Tree primary_, joliet_;
  bool rockRidge_ = false;
  unsigned suspSkip_ = 0;
  std::unordered_set<int64_t> visitedJ_, visitedP_;
};

}  // namespace

bool ReadIso9660(Sectors& sectors, Listing& out, std::string& label, const Session& session) {
  return Iso(sectors, out, session).Read(label);
}

}  // namespace sk::disc
