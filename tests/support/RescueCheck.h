// What a rescued (or plainly copied) destination on the disk may hold,
// against its source on the fixture: one checker for the tests that drive
// rescues through the program's windows. Each check returns what is wrong,
// "" when nothing is.
#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "core/LevelCopy.h"
#include "core/RescueMap.h"
#include "support/Media.h"
#include "support/UiTest.h"
#include "win/WinFile.h"

namespace sk::test {

// Whether `got` is the start of `source` of exactly `length` bytes; else what is wrong.
inline std::string PrefixProblem(const std::string& got, const std::string& source, uint64_t length) {
  if (got.size() != length)
    return "destination holds " + std::to_string(got.size()) + " bytes, expected " + std::to_string(length);
  if (source.compare(0, got.size(), got) != 0) {
    size_t i = 0;
    while (i < got.size() && got[i] == source[i]) ++i;
    return "destination differs from the source at byte " + std::to_string(i);
  }
  return "";
}

inline bool Readable(const VirtualFile& f, uint64_t i) { return !f.IsBad(i); }

// The map beside a destination, if there is one (a map that does not parse
// is a failure of its own).
inline std::optional<RescueMap> MapOf(const std::string& destination, std::string& problem) {
  const std::string path = MapPathFor(destination);
  if (!FileExists(path)) return std::nullopt;
  try {
    win::WinFileSystem files;
    return LoadMapFile(files, path);
  } catch (const std::exception& e) {
    problem = std::string("the map does not load: ") + e.what();
    return std::nullopt;
  }
}

// What a destination and its map may say at any moment (after a stop, a full
// disk, an error): the map calls finished only bytes that the destination
// holds as the source has them, and without a map the destination is
// exactly a prefix of the source.
inline std::string RecordProblem(const VirtualFile& f, const std::string& destination) {
  const std::string got = ReadFile(destination);
  const std::string source = f.Bytes(0, f.size);
  std::string problem;
  const auto map = MapOf(destination, problem);
  if (!problem.empty()) return problem;
  if (!map) return PrefixProblem(got, source, std::min<uint64_t>(got.size(), f.size));
  if (map->Size() != static_cast<int64_t>(f.size)) return "the map is " + std::to_string(map->Size()) + " bytes long";
  for (const auto& a : map->Areas()) {
    if (a.status != kFinished) continue;
    if (a.end() > static_cast<int64_t>(got.size()) ||
        got.compare(static_cast<size_t>(a.pos), static_cast<size_t>(a.size), source, static_cast<size_t>(a.pos),
                    static_cast<size_t>(a.size)) != 0)
      return "the map calls " + std::to_string(a.pos) + "+" + std::to_string(a.size) +
             " finished, the destination differs there";
  }
  return "";
}

// A rescue that ran to its end: the destination has the source's length;
// the bytes the map calls finished are the source's and every other byte is
// zero; no unreadable byte is called finished; a readable byte is given up
// only within the level's block of the damage; the map exists exactly when
// bytes are missing. `unread` and `places` are what the map says is missing.
inline std::string RescueProblem(const VirtualFile& f, const std::string& destination, int level, int64_t& unread,
                          size_t& places) {
  const std::string got = ReadFile(destination);
  const std::string source = f.Bytes(0, f.size);
  if (got.size() != f.size) return "destination holds " + std::to_string(got.size()) + " bytes";
  std::string problem;
  const auto loaded = MapOf(destination, problem);
  if (!problem.empty()) return problem;
  const RescueMap map = loaded ? *loaded : RescueMap(static_cast<int64_t>(f.size), kFinished);
  unread = map.Unfinished();
  places = map.UnfinishedPlaces();
  if (loaded && unread == 0) return "a map is left for a complete file";
  const auto damage = f.BadRanges();
  if (!loaded && !damage.empty()) return "no map beside a damaged file";
  if (map.Total(kNonTried) + map.Total(kNonTrimmed) + map.Total(kNonScraped) != 0) return "areas left untried";
  const uint64_t allowance = BlockSize(level) - 1;
  auto nearDamage = [&](uint64_t i) {
    for (const auto& [first, last] : damage)
      if (i + allowance >= first && i <= last + allowance) return true;
    return false;
  };
  for (const auto& a : map.Areas()) {
    const bool finished = a.status == kFinished;
    for (uint64_t i = static_cast<uint64_t>(a.pos); i < static_cast<uint64_t>(a.end()); ++i) {
      if (got[i] != (finished ? source[i] : '\0')) return "byte " + std::to_string(i) + " is wrong";
      if (finished && !Readable(f, i)) return "unreadable byte " + std::to_string(i) + " called finished";
      if (!finished && Readable(f, i) && !nearDamage(i))
        return "readable byte " + std::to_string(i) + " given up (" + a.status + ")";
    }
  }
  return "";
}

}  // namespace sk::test
