#include "core/RescueMap.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <limits>
#include <string_view>

namespace sk {

uint64_t BlockHash(const void* data, size_t size) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

bool IsMapStatus(char c) {
  return c == kNonTried || c == kNonTrimmed || c == kNonScraped || c == kBadSector || c == kFinished;
}

int RescueMap::Index(char status) {
  switch (status) {
    case kNonTried: return 0;
    case kNonTrimmed: return 1;
    case kNonScraped: return 2;
    case kBadSector: return 3;
    case kFinished: return 4;
    default: throw std::invalid_argument(std::string("map status ") + status);
  }
}

RescueMap::RescueMap(int64_t size, char status) : size_(size < 0 ? 0 : size) {
  Index(status);
  if (size_ > 0) Add(0, size_, status);
}

void RescueMap::Add(int64_t pos, int64_t size, char status) {
  areas_.emplace(pos, Run{size, status});
  starts_[Index(status)].insert(pos);
  totals_[Index(status)] += size;
}

void RescueMap::Remove(std::map<int64_t, Run>::iterator it) {
  const int i = Index(it->second.status);
  starts_[i].erase(it->first);
  totals_[i] -= it->second.size;
  areas_.erase(it);
}

std::map<int64_t, RescueMap::Run>::iterator RescueMap::Split(int64_t pos) {
  auto it = std::prev(areas_.upper_bound(pos));
  if (it->first == pos) return it;
  const int64_t left = pos - it->first;
  const Run right{it->second.size - left, it->second.status};
  it->second.size = left;
  starts_[Index(right.status)].insert(pos);
  return areas_.emplace_hint(std::next(it), pos, right);
}

void RescueMap::Set(int64_t pos, int64_t size, char status) {
  Index(status);
  if (pos < 0) {
    size += pos;
    pos = 0;
  }
  if (size <= 0 || pos >= size_) return;
  const int64_t end = size > size_ - pos ? size_ : pos + size;
  auto it = Split(pos);
  if (end < size_) Split(end);
  while (it != areas_.end() && it->first < end) {
    auto next = std::next(it);
    Remove(it);
    it = next;
  }
  Add(pos, end - pos, status);
  // Merge with equal neighbours.
  it = areas_.find(pos);
  if (it != areas_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.status == status) {
      prev->second.size += it->second.size;
      starts_[Index(status)].erase(it->first);
      areas_.erase(it);
      it = prev;
    }
  }
  auto next = std::next(it);
  if (next != areas_.end() && next->second.status == status) {
    it->second.size += next->second.size;
    starts_[Index(status)].erase(next->first);
    areas_.erase(next);
  }
}

MapArea RescueMap::AreaAt(int64_t pos) const {
  if (pos < 0 || pos >= size_) throw std::out_of_range("map position");
  auto it = std::prev(areas_.upper_bound(pos));
  return {it->first, it->second.size, it->second.status};
}

std::optional<MapArea> RescueMap::NextArea(int64_t from, char status) const {
  if (from < 0) from = 0;
  if (from >= size_) return std::nullopt;
  const MapArea here = AreaAt(from);
  if (here.status == status) return MapArea{from, here.end() - from, status};
  const auto& starts = starts_[Index(status)];
  auto s = starts.upper_bound(from);
  if (s == starts.end()) return std::nullopt;
  const Run& run = areas_.at(*s);
  return MapArea{*s, run.size, run.status};
}

std::optional<MapArea> RescueMap::AreaBefore(int64_t pos) const {
  if (pos <= 0 || pos > size_) return std::nullopt;
  return AreaAt(pos - 1);
}

std::optional<MapArea> RescueMap::AreaFrom(int64_t pos) const {
  if (pos < 0 || pos >= size_) return std::nullopt;
  return AreaAt(pos);
}

int64_t RescueMap::Total(char status) const { return totals_[Index(status)]; }
size_t RescueMap::Count(char status) const { return starts_[Index(status)].size(); }

std::vector<MapArea> RescueMap::Areas() const {
  std::vector<MapArea> out;
  out.reserve(areas_.size());
  for (const auto& [pos, run] : areas_) out.push_back({pos, run.size, run.status});
  return out;
}

size_t RescueMap::UnfinishedPlaces() const {
  size_t places = 0;
  bool inPlace = false;
  for (const auto& [pos, run] : areas_) {
    const bool unfinished = run.status != kFinished;
    if (unfinished && !inPlace) ++places;
    inPlace = unfinished;
  }
  return places;
}

int64_t RescueMap::FinishedPrefix() const {
  if (areas_.empty() || areas_.begin()->second.status != kFinished) return 0;
  return areas_.begin()->second.size;
}

bool RescueMap::operator==(const RescueMap& other) const {
  return size_ == other.size_ && Areas() == other.Areas() && currentPos == other.currentPos &&
         currentStatus == other.currentStatus && currentPass == other.currentPass && source == other.source;
}

std::string RescueMap::ToText(const std::vector<std::string>& comments) const {
  std::string text;
  text.reserve(160 + areas_.size() * 32);
  for (const auto& c : comments) text += "# " + c + "\n";
  char line[128];
  if (source) {
    std::snprintf(line, sizeof line, "# Source: size 0x%" PRIX64 " block 0x%" PRIX64 "+0x%" PRIX64 " hash 0x%016" PRIX64 "\n",
                  static_cast<uint64_t>(source->size), static_cast<uint64_t>(source->pos),
                  static_cast<uint64_t>(source->length), source->hash);
    text += line;
  }
  text += "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %d\n", static_cast<uint64_t>(currentPos),
                currentStatus, currentPass);
  text += line;
  text += "#      pos        size  status\n";
  for (const auto& [pos, run] : areas_) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", static_cast<uint64_t>(pos),
                  static_cast<uint64_t>(run.size), run.status);
    text += line;
  }
  return text;
}

namespace {

// The fields of one line, comments removed: '#' at the start of a line or
// after blank space starts a comment. Up to four are kept (four: too many
// for any line of a map); no copies are made.
// Blank space as the C locale has it, without a call per character.
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

struct LineFields {
  std::string_view field[4];
  size_t count = 0;
};
LineFields Fields(std::string_view line) {
  LineFields f;
  size_t i = 0;
  while (i < line.size() && f.count < 4) {
    while (i < line.size() && Blank(line[i])) ++i;
    if (i >= line.size() || line[i] == '#') break;
    const size_t start = i;
    while (i < line.size() && !Blank(line[i])) ++i;
    f.field[f.count++] = line.substr(start, i - start);
  }
  return f;
}

// A non-negative integer as C++ writes constants: 0x.. hexadecimal, 0..
// octal, else decimal.
int64_t Number(std::string_view field, int lineNumber, bool decimalOnly = false) {
  int base = 10;
  size_t skip = 0;
  if (!decimalOnly && field.size() > 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X')) {
    base = 16;
    skip = 2;
  } else if (!decimalOnly && field.size() > 1 && field[0] == '0') {
    base = 8;
    skip = 1;
  }
  uint64_t value = 0;
  const char* first = field.data() + skip;
  const char* last = field.data() + field.size();
  auto [ptr, ec] = std::from_chars(first, last, value, base);
  if (ec != std::errc() || ptr != last || first == last ||
      value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    throw MapFormatError("line " + std::to_string(lineNumber) + ": bad number '" + std::string(field) + "'");
  return static_cast<int64_t>(value);
}

// A hexadecimal number written "0x…", whole.
bool Hex(std::string_view field, uint64_t& value) {
  if (field.size() < 3 || field[0] != '0' || (field[1] != 'x' && field[1] != 'X')) return false;
  const char* last = field.data() + field.size();
  auto [ptr, ec] = std::from_chars(field.data() + 2, last, value, 16);
  return ec == std::errc() && ptr == last;
}

// The source's comment line, when `line` is one that reads.
std::optional<SourceMark> SourceLine(std::string_view line) {
  if (line.substr(0, 10) != "# Source: ") return std::nullopt;
  std::vector<std::string_view> f;
  for (size_t i = 9; i < line.size();) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) f.push_back(line.substr(start, i - start));
  }
  uint64_t size = 0, pos = 0, length = 0, hash = 0;
  const size_t plus = f.size() == 6 ? f[3].find('+') : std::string::npos;
  if (plus == std::string::npos || f[0] != "size" || f[2] != "block" || f[4] != "hash" || !Hex(f[1], size) ||
      !Hex(f[3].substr(0, plus), pos) || !Hex(f[3].substr(plus + 1), length) || !Hex(f[5], hash))
    return std::nullopt;
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (size > kMax || pos > size || length > size - pos) return std::nullopt;
  return SourceMark{static_cast<int64_t>(size), static_cast<int64_t>(pos), static_cast<int64_t>(length), hash};
}

}  // namespace

MapText ReadMapText(const std::string& text) {
  MapText map;
  bool statusLine = false;
  int64_t end = 0;
  int lineNumber = 0;
  const std::string_view all(text);
  size_t at = 0;
  while (at < all.size()) {
    size_t eol = all.find('\n', at);
    if (eol == std::string_view::npos) eol = all.size();
    std::string_view line = all.substr(at, eol - at);
    at = eol + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (auto mark = SourceLine(line)) {
      if (mark->length > kLongestSourceBlock)
        throw MapFormatError("line " + std::to_string(lineNumber) + ": source block too long");
      map.source = mark;
    }
    const LineFields fields = Fields(line);
    const auto& f = fields.field;
    if (fields.count == 0) continue;
    if (!statusLine) {
      if (fields.count < 2 || fields.count > 3 || f[1].size() != 1)
        throw MapFormatError("line " + std::to_string(lineNumber) + ": bad status line");
      map.currentPos = Number(f[0], lineNumber);
      map.currentStatus = f[1][0];
      if (!IsMapStatus(map.currentStatus) && map.currentStatus != 'F' && map.currentStatus != 'G')
        throw MapFormatError("line " + std::to_string(lineNumber) + ": bad current status");
      if (!IsMapStatus(map.currentStatus)) map.currentStatus = kFinished;
      map.currentPass =
          fields.count == 3 ? static_cast<int>(std::min<int64_t>(Number(f[2], lineNumber, true), 1 << 20)) : 1;
      statusLine = true;
      continue;
    }
    if (fields.count != 3 || f[2].size() != 1 || !IsMapStatus(f[2][0]))
      throw MapFormatError("line " + std::to_string(lineNumber) + ": bad area line");
    const int64_t pos = Number(f[0], lineNumber);
    const int64_t size = Number(f[1], lineNumber);
    if (pos != end) throw MapFormatError("line " + std::to_string(lineNumber) + ": areas not contiguous");
    if (size > std::numeric_limits<int64_t>::max() - pos)
      throw MapFormatError("line " + std::to_string(lineNumber) + ": area too large");
    if (size == 0) continue;
    // Merged with the last area when of equal status.
    const char status = f[2][0];
    if (!map.areas.empty() && map.areas.back().status == status) {
      map.areas.back().size += size;
    } else {
      if (map.areas.size() >= kMostMapAreas)
        throw MapFormatError("line " + std::to_string(lineNumber) + ": too many areas");
      map.areas.push_back({pos, size, status});
    }
    end = pos + size;
  }
  if (!statusLine) throw MapFormatError("no status line");
  return map;
}

RescueMap RescueMap::Parse(const std::string& text) {
  const MapText read = ReadMapText(text);
  RescueMap map;
  map.currentPos = read.currentPos;
  map.currentStatus = read.currentStatus;
  map.currentPass = read.currentPass;
  map.source = read.source;
  // In order: each area goes in at the end.
  for (const MapArea& a : read.areas) {
    map.areas_.emplace_hint(map.areas_.end(), a.pos, Run{a.size, a.status});
    map.starts_[Index(a.status)].emplace_hint(map.starts_[Index(a.status)].end(), a.pos);
    map.totals_[Index(a.status)] += a.size;
  }
  map.size_ = read.Size();
  return map;
}

}  // namespace sk
