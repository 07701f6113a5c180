// The drive's table of contents, as the bytes a CD drive answers, read into
// the disc's layout: a two-session CD-R, a CD-Extra, a mixed-mode CD, and
// answers that describe no disc.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/DiscToc.h"

namespace sk {
namespace {

using Bytes = std::vector<unsigned char>;

void Msf(Bytes& b, int64_t lba) {
  lba += 150;
  b.push_back(static_cast<unsigned char>(lba / 75 / 60));
  b.push_back(static_cast<unsigned char>(lba / 75 % 60));
  b.push_back(static_cast<unsigned char>(lba % 75));
}

Bytes WithLength(Bytes b, unsigned char first, unsigned char last) {
  const size_t n = b.size() + 2;
  b.insert(b.begin(), {static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n), first, last});
  return b;
}

struct Session {
  int number;
  std::vector<std::pair<int64_t, bool>> tracks;  // start, data
  int64_t leadOut;
};

// The full TOC a drive gives for these sessions: per session A0h, A1h, A2h
// and the tracks (ADR 1), and for a disc open to more sessions B0h (ADR 5).
Bytes FullToc(const std::vector<Session>& sessions) {
  Bytes b;
  int track = 1;
  auto descriptor = [&](int session, unsigned char adrControl, unsigned char point, int64_t at, bool pointer) {
    b.insert(b.end(), {static_cast<unsigned char>(session), adrControl, 0, point, 0, 0, 0, 0});
    if (pointer) {
      b.insert(b.end(), {static_cast<unsigned char>(at), 0, 0});  // A0h/A1h: a track number in PMIN
    } else {
      Msf(b, at);
    }
  };
  for (const Session& s : sessions) {
    const unsigned char control = s.tracks.front().second ? 0x14 : 0x10;
    descriptor(s.number, control, 0xA0, track, true);
    descriptor(s.number, control, 0xA1, track + static_cast<int>(s.tracks.size()) - 1, true);
    descriptor(s.number, control, 0xA2, s.leadOut, false);
    for (const auto& [start, data] : s.tracks) descriptor(s.number, data ? 0x14 : 0x10, track++, start, false);
    descriptor(s.number, 0x50, 0xB0, s.leadOut + 6750 + 4500 + 150, false);
  }
  return WithLength(b, 1, static_cast<unsigned char>(sessions.back().number));
}

std::vector<DiscTrack> Tracks(const std::optional<DiscLayout>& layout) {
  if (!layout) return {};
  EXPECT_TRUE(layout->fromDrive);
  return layout->tracks;
}

using Areas = std::vector<std::pair<int64_t, int64_t>>;

TEST(DiscToc, FullTocGivesSessionsAndTracksWithTheGapsInNoTrack) {
  struct Row {
    const char* name;
    std::vector<Session> sessions;
    std::vector<DiscTrack> tracks;
    Areas data;  // of a disc 70,000 sectors long
  };
  const Row rows[] = {
      {"two-session CD-R",
       {{1, {{0, true}}, 20000}, {2, {{31400, true}}, 40000}},
       {{1, 1, 0, 20000, false}, {2, 2, 31400, 8600, false}},
       {{0, 20000}, {31400, 40000}}},
      {"three sessions",
       {{1, {{0, true}}, 300}, {2, {{11700, true}}, 12000}, {3, {{18900, true}}, 19000}},
       {{1, 1, 0, 300, false}, {2, 2, 11700, 300, false}, {3, 3, 18900, 100, false}},
       {{0, 300}, {11700, 12000}, {18900, 19000}}},
      {"CD-Extra",
       {{1, {{0, false}, {15000, false}, {30000, false}}, 45000}, {2, {{56400, true}}, 60000}},
       {{1, 1, 0, 15000, true}, {2, 1, 15000, 15000, true}, {3, 1, 30000, 15000, true}, {4, 2, 56400, 3600, false}},
       {{56400, 60000}}},
      {"mixed mode",
       {{1, {{0, true}, {10000, false}, {20000, false}}, 30000}},
       {{1, 1, 0, 10000, false}, {2, 1, 10000, 10000, true}, {3, 1, 20000, 10000, true}},
       {{0, 10000}}},
  };
  for (const Row& r : rows) {
    const Bytes b = FullToc(r.sessions);
    const auto layout = LayoutFromFullToc(b.data(), b.size());
    EXPECT_EQ(Tracks(layout), r.tracks) << r.name;
    if (layout) EXPECT_EQ(layout->DataAreas(70000), r.data) << r.name;
    // More bytes than the answer's length: the rest is not read.
    Bytes longer = b;
    longer.insert(longer.end(), {1, 0x14, 0, 5, 0, 0, 0, 0, 0, 2, 0});
    EXPECT_EQ(Tracks(LayoutFromFullToc(longer.data(), longer.size())), r.tracks) << r.name;
  }
}

TEST(DiscToc, AnswersThatDescribeNoDiscGiveNoLayout) {
  const Bytes good = FullToc({{1, {{0, true}}, 20000}, {2, {{31400, true}}, 40000}});
  auto broken = [&](size_t at, unsigned char value) {
    Bytes b = good;
    b.at(at) = value;
    return b;
  };
  // The second session's descriptors begin after the header and the first
  // session's five.
  const size_t second = 4 + 5 * 11;
  const std::pair<const char*, Bytes> rows[] = {
      {"empty", {}},
      {"a header alone", WithLength({}, 1, 1)},
      {"cut short of its length", Bytes(good.begin(), good.end() - 11)},
      {"cut before the second session", Bytes(good.begin(), good.begin() + second)},
      {"a lead-out of session 2 turned into A3h", broken(second + 2 * 11 + 3, 0xA3)},
      {"seconds out of range", broken(second + 3 * 11 + 9, 60)},
      {"frames out of range", broken(second + 3 * 11 + 10, 75)},
      {"session 0", broken(second + 3 * 11, 0)},
      {"track 2 before track 1", broken(second + 3 * 11 + 3, 1)},
      {"a track in the lead-in", broken(4 + 3 * 11 + 9, 0)},
  };
  for (const auto& [name, b] : rows) EXPECT_EQ(LayoutFromFullToc(b.data(), b.size()), std::nullopt) << name;
  EXPECT_EQ(LayoutFromFullToc(nullptr, 100), std::nullopt);
}

// The TOC format: every track, the last session's lead-out; with the session
// format's answer the last session is known. Where earlier sessions end it
// does not say: a track runs to the next, nothing is left out on a guess.
TEST(DiscToc, TocWithTheLastSessionLeavesNothingOutOnAGuess) {
  auto entry = [](Bytes& b, unsigned char control, unsigned char number, int64_t lba, bool msf) {
    b.insert(b.end(), {0, control, number, 0});
    if (msf) {
      b.push_back(0);
      Msf(b, lba);
    } else {
      for (int shift : {24, 16, 8, 0}) b.push_back(static_cast<unsigned char>(static_cast<uint32_t>(lba) >> shift));
    }
  };
  for (bool msf : {false, true}) {
    Bytes toc, session;
    entry(toc, 0x14, 1, 0, msf);
    entry(toc, 0x14, 2, 31400, msf);
    entry(toc, 0x14, 3, 50000, msf);
    entry(toc, 0x14, 0xAA, 52000, msf);
    toc = WithLength(toc, 1, 3);
    entry(session, 0x14, 3, 50000, msf);
    session = WithLength(session, 1, 3);
    const std::string where = msf ? "MSF" : "LBA";
    EXPECT_EQ(Tracks(LayoutFromToc(toc.data(), toc.size(), session.data(), session.size(), msf)),
              (std::vector<DiscTrack>{{1, 1, 0, 31400, false}, {2, 1, 31400, 18600, false},
                                      {3, 3, 50000, 2000, false}}))
        << where;
    // No session answer: one session, tracks to the next.
    EXPECT_EQ(Tracks(LayoutFromToc(toc.data(), toc.size(), nullptr, 0, msf)),
              (std::vector<DiscTrack>{{1, 1, 0, 31400, false}, {2, 1, 31400, 18600, false}, {3, 1, 50000, 2000, false}}))
        << where;
    // No lead-out: no layout.
    Bytes cut(toc.begin(), toc.end() - 8);
    cut[1] -= 8;
    EXPECT_EQ(LayoutFromToc(cut.data(), cut.size(), session.data(), session.size(), msf), std::nullopt) << where;
  }
}

}  // namespace
}  // namespace sk
