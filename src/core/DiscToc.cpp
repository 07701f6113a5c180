#include "core/DiscToc.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace sk {
namespace {

// A minute/second/frame address as a logical block address (the program
// area's first sector, 00:02:00, is block 0); -1 when it is no address.
int64_t FromMsf(unsigned m, unsigned s, unsigned f) {
  if (s >= 60 || f >= 75) return -1;
  return (static_cast<int64_t>(m) * 60 + s) * 75 + f - 150;
}

// Where the answer's bytes end: its length field counts the bytes after it.
// 0 for an answer cut short (a session it names may be missing).
size_t AnswerEnd(const unsigned char* data, size_t size) {
  if (!data || size < 4) return 0;
  const size_t end = 2 + static_cast<size_t>(data[0] << 8 | data[1]);
  return end <= size ? end : 0;
}

bool IsData(unsigned char adrControl) { return (adrControl & 0x04) != 0; }

// Tracks in number order: their starts must rise with their numbers and
// sessions, and a number may come twice only with the same place.
bool Orderly(std::vector<DiscTrack>& tracks) {
  std::sort(tracks.begin(), tracks.end(), [](const DiscTrack& a, const DiscTrack& b) { return a.number < b.number; });
  std::vector<DiscTrack> once;
  for (const DiscTrack& t : tracks) {
    if (!once.empty() && once.back().number == t.number) {
      if (!(once.back() == t)) return false;
      continue;
    }
    if (!once.empty() && (t.start <= once.back().start || t.session < once.back().session)) return false;
    once.push_back(t);
  }
  tracks = std::move(once);
  return !tracks.empty();
}

}  // namespace

std::optional<DiscLayout> LayoutFromFullToc(const unsigned char* data, size_t size) {
  const size_t end = AnswerEnd(data, size);
  if (end < 4) return std::nullopt;
  DiscLayout layout;
  layout.fromDrive = true;
  std::map<int, int64_t> leadOut;  // session -> its lead-out's first sector
  for (size_t p = 4; p + 11 <= end; p += 11) {
    const unsigned char* d = data + p;
    if (d[1] >> 4 != 1) continue;  // only ADR 1 (positions) names tracks and lead-outs
    const int session = d[0], point = d[3];
    if (point != 0xA2 && (point < 1 || point > 99)) continue;  // A0h/A1h: track numbers; B0h, C0h: writing
    if (session < 1 || session > 99) return std::nullopt;
    const int64_t start = FromMsf(d[8], d[9], d[10]);
    if (start < 0) return std::nullopt;
    if (point == 0xA2) {
      leadOut[session] = start;
      continue;
    }
    DiscTrack t;
    t.number = point;
    t.session = session;
    t.start = start;
    t.audio = !IsData(d[1]);
    layout.tracks.push_back(t);
  }
  if (!Orderly(layout.tracks)) return std::nullopt;
  for (size_t i = 0; i < layout.tracks.size(); ++i) {
    DiscTrack& t = layout.tracks[i];
    const auto out = leadOut.find(t.session);
    if (out == leadOut.end() || out->second <= t.start) return std::nullopt;
    int64_t to = out->second;
    if (i + 1 < layout.tracks.size()) to = std::min(to, layout.tracks[i + 1].start);
    t.length = to - t.start;
  }
  return layout;
}

std::optional<DiscLayout> LayoutFromToc(const unsigned char* toc, size_t tocSize, const unsigned char* session,
                                        size_t sessionSize, bool msf) {
  const size_t end = AnswerEnd(toc, tocSize);
  if (end < 4) return std::nullopt;
  auto address = [msf](const unsigned char* e) -> int64_t {
    if (msf) return FromMsf(e[5], e[6], e[7]);
    return static_cast<int32_t>(static_cast<uint32_t>(e[4]) << 24 | e[5] << 16 | e[6] << 8 | e[7]);
  };
  // The last session and its first track, when the drive said.
  int lastSession = 1, lastFirstTrack = 0;
  if (AnswerEnd(session, sessionSize) >= 12 && session[3] >= 1 && session[3] <= 99 && session[6] >= 1 &&
      session[6] <= 99) {
    lastSession = session[3];
    lastFirstTrack = session[6];
  }
  DiscLayout layout;
  layout.fromDrive = true;
  int64_t leadOut = -1;
  for (size_t p = 4; p + 8 <= end; p += 8) {
    const unsigned char* e = toc + p;
    const int number = e[2];
    const int64_t start = address(e);
    if (number != 0xAA && (number < 1 || number > 99)) continue;
    if (start < 0) return std::nullopt;
    if (number == 0xAA) {
      leadOut = start;
      continue;
    }
    DiscTrack t;
    t.number = number;
    t.session = lastSession > 1 && number >= lastFirstTrack ? lastSession : 1;
    t.start = start;
    t.audio = !IsData(e[1]);
    layout.tracks.push_back(t);
  }
  if (leadOut < 0 || !Orderly(layout.tracks)) return std::nullopt;
  for (size_t i = 0; i < layout.tracks.size(); ++i) {
    DiscTrack& t = layout.tracks[i];
    // To the next track: where an earlier session ends the TOC does not say,
    // and the gaps of a CD are not a DVD's, so a gap is read rather than
    // data guessed away.
    const int64_t to = i + 1 < layout.tracks.size() ? layout.tracks[i + 1].start : leadOut;
    if (to <= t.start) return std::nullopt;
    t.length = to - t.start;
  }
  return layout;
}

}  // namespace sk
