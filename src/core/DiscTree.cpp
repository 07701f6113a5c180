#include "core/DiscTree.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "core/DiscRead.h"

namespace sk {
namespace disc {

Sectors::Sectors(ISectorSource& source) : source_(source) {
  count_ = std::clamp<int64_t>(source.SectorCount(), 0, INT64_MAX / kDiscSectorSize);
}

bool Sectors::Read(int64_t sector, unsigned char* out) {
  if (stop && stop()) throw DiscListingStopped{};
  if (sector < 0 || sector >= count_) return false;
  if (++reads_ > kMaxSectorReads) return false;
  if (auto it = cache_.find(sector); it != cache_.end()) {
    std::memcpy(out, it->second.data(), kDiscSectorSize);
    return true;
  }
  if (missing_.count(sector)) return false;
  std::vector<unsigned char> buffer(kDiscSectorSize);
  if (!source_.ReadSector(sector, buffer.data())) {
    missing_.insert(sector);
    marks_.push_back({sector, sector + 1});
    return false;
  }
  marks_.push_back({sector, sector + 1});
  std::memcpy(out, buffer.data(), kDiscSectorSize);
  if (cache_.size() >= 8192) cache_.clear();
  cache_.emplace(sector, std::move(buffer));
  return true;
}

bool Sectors::ReadRun(int64_t first, int64_t sectors, std::vector<unsigned char>& out) {
  if (first < 0 || sectors < 0 || sectors > count_ || first > count_ - sectors) return false;
  out.resize(static_cast<size_t>(sectors * kDiscSectorSize));
  for (int64_t i = 0; i < sectors; ++i)
    if (!Read(first + i, out.data() + i * kDiscSectorSize)) return false;
  return true;
}

void Sectors::Mark(int64_t first, int64_t sectors) {
  if (first < 0 || sectors <= 0 || first >= count_) return;
  marks_.push_back({first, first + std::min(sectors, count_ - first)});
}

std::vector<DiscExtent> Sectors::System() const {
  auto marks = marks_;
  std::sort(marks.begin(), marks.end());
  std::vector<DiscExtent> out;
  int64_t from = -1, to = -1;
  for (const auto& [a, b] : marks) {
    if (from >= 0 && a <= to) {
      to = std::max(to, b);
      continue;
    }
    if (from >= 0) out.push_back({from * kDiscSectorSize, (to - from) * kDiscSectorSize});
    from = a;
    to = b;
  }
  if (from >= 0) out.push_back({from * kDiscSectorSize, (to - from) * kDiscSectorSize});
  return out;
}

void Listing::File(const std::string& path, int64_t size, const std::vector<DiscExtent>& extents) {
  if (Full()) return;
  DiscEntry e;
  e.path = path;
  e.size = size;
  auto add = [&](int64_t pos, int64_t n) {
    if (n <= 0) return;
    if (!e.extents.empty()) {
      DiscExtent& last = e.extents.back();
      const bool special = pos < 0 && last.pos == pos;
      if (special || (pos >= 0 && last.pos >= 0 && last.pos + last.size == pos)) {
        last.size += n;
        return;
      }
    }
    e.extents.push_back({pos, n});
  };
  int64_t total = 0;
  for (const DiscExtent& x : extents) {
    const int64_t n = std::min(x.size, size - total);
    if (n <= 0) break;
    total += n;
    if (x.pos < 0) {
      add(x.pos, n);
    } else if (x.pos >= discBytes_) {
      add(DiscExtent::kOutside, n);
    } else {
      const int64_t inside = std::min(n, discBytes_ - x.pos);
      add(x.pos, inside);
      add(DiscExtent::kOutside, n - inside);
    }
  }
  e.size = total;
  entries.push_back(std::move(e));
}

void Listing::Unknown(const std::string& path) {
  if (Full()) return;
  DiscEntry e;
  e.path = path.empty() ? "\\" : path;
  e.unknown = true;
  entries.push_back(std::move(e));
}

void AppendUtf8(std::string& s, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
    s += '_';
  } else if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | cp >> 6);
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | cp >> 12);
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | cp >> 18);
    s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Ucs2BeText(const unsigned char* p, size_t bytes) {
  std::string s;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    uint32_t cp = Be16(p + i);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes) {
      const uint32_t low = Be16(p + i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(s, cp);
  }
  return s;
}

namespace {

// The next code point of UTF-8 text at `i`, or -1 when the bytes there are not
// UTF-8.
int64_t NextCodePoint(const unsigned char* p, size_t n, size_t& i) {
  const unsigned c = p[i];
  if (c < 0x80) return p[i++];
  const int more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
  if (more < 0 || n - i <= static_cast<size_t>(more)) return -1;
  uint32_t cp = c & (0x3F >> more);
  for (int k = 1; k <= more; ++k) {
    if ((p[i + k] & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (p[i + k] & 0x3F);
  }
  static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
  if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return -1;
  i += more + 1;
  return cp;
}

uint32_t LowerCase(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    if (oddUpper ? (c & 1) : !(c & 1)) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

std::string BytesText(const unsigned char* p, size_t bytes) {
  std::string s;
  for (size_t i = 0; i < bytes;) {
    const int64_t cp = NextCodePoint(p, bytes, i);
    if (cp < 0) {
      s.clear();
      for (size_t k = 0; k < bytes; ++k) AppendUtf8(s, p[k]);
      return s;
    }
    AppendUtf8(s, static_cast<uint32_t>(cp));
  }
  return s;
}

std::string SafeName(const std::string& name) {
  std::string s;
  for (unsigned char c : name) s += c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) ? '_' : c;
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "_" : s;
}

std::string FoldName(const std::string& name) {
  std::string s;
  const auto* p = reinterpret_cast<const unsigned char*>(name.data());
  for (size_t i = 0; i < name.size();) {
    const int64_t cp = NextCodePoint(p, name.size(), i);
    if (cp < 0) {
      s += static_cast<char>(p[i++]);
      continue;
    }
    AppendUtf8(s, LowerCase(static_cast<uint32_t>(cp)));
  }
  return s;
}

}  // namespace disc

namespace {

int CompareFolded(const std::string& fa, const std::string& fb, const std::string& a, const std::string& b) {
  const size_t n = std::min(fa.size(), fb.size());
  for (size_t i = 0; i < n; ++i) {
    // The separator before any character, so that a folder's entries stay together.
    const int ca = fa[i] == '\\' ? 0 : static_cast<unsigned char>(fa[i]);
    const int cb = fb[i] == '\\' ? 0 : static_cast<unsigned char>(fb[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (fa.size() != fb.size()) return fa.size() < fb.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

}  // namespace

int CompareDiscPaths(const std::string& a, const std::string& b) {
  return CompareFolded(disc::FoldName(a), disc::FoldName(b), a, b);
}

namespace {

bool HasUnknownPart(const DiscEntry& e) {
  return std::any_of(e.extents.begin(), e.extents.end(),
                     [](const DiscExtent& x) { return x.pos == DiscExtent::kUnknown; });
}

// Files whose UDF allocation could be read only in part, given where all
// their data lie by the ISO 9660 record of the same file: the same path and
// length, its data all known, beginning where UDF's known part begins.
void KnownFromIso(const disc::Listing& iso, disc::Listing& listing) {
  std::unordered_map<std::string, const DiscEntry*> byPath;
  for (const DiscEntry& e : iso.entries)
    if (!e.unknown && !HasUnknownPart(e)) byPath.emplace(disc::FoldName(e.path), &e);
  for (DiscEntry& e : listing.entries) {
    if (!HasUnknownPart(e)) continue;
    const auto it = byPath.find(disc::FoldName(e.path));
    if (it == byPath.end() || it->second->size != e.size || it->second->extents.empty()) continue;
    const DiscExtent& first = e.extents.front();
    if (first.pos >= 0 && it->second->extents.front().pos != first.pos) continue;
    e.extents = it->second->extents;
  }
}

// One session's file system into `listing`: UDF where it is found, the ISO
// 9660 trees beside it filling in what UDF could not give; else ISO 9660.
DiscFormat ReadSessionTree(disc::Sectors& sectors, const disc::Session& session, disc::Listing& listing,
                           std::string& label) {
  std::vector<std::string> unknown;
  if (disc::ReadUdf(sectors, listing, label, unknown, session)) {
    const bool partial = std::any_of(listing.entries.begin(), listing.entries.end(), HasUnknownPart);
    if (!unknown.empty() || partial) {
      // The ISO 9660 trees beside UDF fill in what UDF could not give.
      disc::Listing iso(sectors.DiscBytes());
      std::string isoLabel;
      if (disc::ReadIso9660(sectors, iso, isoLabel, session)) {
        if (partial) KnownFromIso(iso, listing);
        auto byKey = [](const DiscEntry& e) { return disc::FoldName(e.path); };
        std::vector<std::pair<std::string, size_t>> keys;
        for (size_t i = 0; i < iso.entries.size(); ++i) keys.push_back({byKey(iso.entries[i]), i});
        std::sort(keys.begin(), keys.end());
        std::unordered_set<std::string> replaced;
        std::vector<DiscEntry> added;
        for (const std::string& path : unknown) {
          const std::string key = path == "\\" ? std::string() : disc::FoldName(path);
          auto it = std::lower_bound(keys.begin(), keys.end(), std::make_pair(key, size_t{0}));
          bool any = false;
          for (; it != keys.end(); ++it) {
            const bool same = it->first == key;
            const bool below = it->first.size() > key.size() && it->first.compare(0, key.size(), key) == 0 &&
                               it->first[key.size()] == '\\';
            if (!same && !below) {
              if (it->first.compare(0, key.size(), key) != 0) break;
              continue;
            }
            any = true;
            added.push_back(iso.entries[it->second]);
          }
          if (any) replaced.insert(path);
        }
        if (!replaced.empty()) {
          std::erase_if(listing.entries,
                        [&](const DiscEntry& e) { return e.unknown && replaced.count(e.path); });
          for (auto& e : added)
            if (!listing.Full()) listing.entries.push_back(std::move(e));
        }
      }
    }
    return DiscFormat::kUdf;
  }
  if (disc::ReadIso9660(sectors, listing, label, session)) return DiscFormat::kIso9660;
  return DiscFormat::kNone;
}

// What tells one version of a file from another: where its data lie (a file
// without data: its path).
std::string VersionKey(const DiscEntry& e) {
  if (e.extents.empty()) return "p" + disc::FoldName(e.path);
  std::string key = "x" + std::to_string(e.size);
  for (const DiscExtent& x : e.extents) key += ";" + std::to_string(x.pos) + "," + std::to_string(x.size);
  return key;
}

}  // namespace

DiscTree ReadDiscTree(ISectorSource& source) { return ReadDiscTree(source, DiscLayout{}); }

DiscTree ReadDiscTree(ISectorSource& source, const DiscLayout& layout, const std::function<bool()>& stop) {
  DiscTree tree;
  disc::Sectors sectors(source);
  sectors.stop = stop;
  disc::Listing listing(sectors.DiscBytes());
  // The data sessions, oldest first: number, first sector, end.
  struct DataSession {
    int number;
    disc::Session place;
  };
  std::vector<DataSession> sessions;
  for (const DiscTrack& t : layout.tracks) {
    if (t.audio) continue;
    if (sessions.empty() || sessions.back().number != t.session)
      sessions.push_back({t.session, {t.start, t.start + t.length}});
    else
      sessions.back().place.end = std::max(sessions.back().place.end, t.start + t.length);
  }
  std::sort(sessions.begin(), sessions.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
  if (sessions.empty()) sessions.push_back({1, {}});
  // The newest session with a file system is the disc. When its first
  // descriptor cannot be read, what it holds is not known: its root is
  // listed unknown, and every earlier session's files are earlier versions.
  size_t newest = sessions.size() - 1;
  tree.format = ReadSessionTree(sectors, sessions[newest].place, listing, tree.label);
  unsigned char probe[kDiscSectorSize];
  const bool lost = tree.format == DiscFormat::kNone && sessions.size() > 1 &&
                    !sectors.Read(sessions[newest].place.start + 16, probe);
  if (lost) {
    listing.entries.clear();
    listing.Unknown("");
  }
  std::unordered_set<std::string> named;  // versions the disc names
  for (const DiscEntry& e : listing.entries)
    if (!e.unknown) named.insert(VersionKey(e));
  for (size_t k = newest; k-- > 0 && !listing.Full();) {
    disc::Listing earlier(sectors.DiscBytes());
    std::string label;
    const DiscFormat format = ReadSessionTree(sectors, sessions[k].place, earlier, label);
    if (format == DiscFormat::kNone) continue;
    if (tree.format == DiscFormat::kNone && !lost) {
      // The newest holds no file system (an empty or failed burn): this
      // session is the disc.
      tree.format = format;
      tree.label = label;
      listing.entries = std::move(earlier.entries);
      for (const DiscEntry& e : listing.entries)
        if (!e.unknown) named.insert(VersionKey(e));
      continue;
    }
    // Versions of files that only earlier sessions name, each under the
    // newest earlier session that names it.
    if (tree.format == DiscFormat::kNone) tree.format = format, tree.label = label;
    const std::string folder = std::string(kEarlierSessionsFolder) + "\\Sesja " + std::to_string(sessions[k].number);
    for (DiscEntry& e : earlier.entries) {
      if (listing.Full()) break;
      if (!e.unknown && !named.insert(VersionKey(e)).second) continue;
      e.path = folder + (e.path == "\\" ? "" : e.path);
      listing.entries.push_back(std::move(e));
    }
  }
  tree.label = disc::SafeName(tree.label);
  if (tree.label == "_") tree.label.clear();
  std::vector<std::pair<std::string, DiscEntry*>> order;
  for (DiscEntry& e : listing.entries) order.push_back({disc::FoldName(e.path), &e});
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return CompareFolded(a.first, b.first, a.second->path, b.second->path) < 0;
  });
  tree.entries.reserve(order.size());
  for (auto& [key, e] : order) tree.entries.push_back(std::move(*e));
  tree.system = sectors.System();
  return tree;
}

}  // namespace sk
