#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RescueMap.h"

namespace sk {
namespace {

std::string Layout(const RescueMap& map) {
  std::string s;
  for (const auto& a : map.Areas()) s += std::to_string(a.pos) + "+" + std::to_string(a.size) + a.status + " ";
  return s;
}

// The totals and counts per status as the areas give them ("" when they agree).
std::string TotalsProblem(const RescueMap& map) {
  int64_t sum = 0;
  size_t count = 0;
  for (char s : {'?', '*', '/', '-', '+'}) {
    int64_t bytes = 0;
    size_t areas = 0;
    for (const auto& a : map.Areas())
      if (a.status == s) bytes += a.size, ++areas;
    if (map.Total(s) != bytes || map.Count(s) != areas) return std::string("totals of ") + s;
    sum += bytes;
    count += areas;
  }
  if (sum != map.Size() || count != map.AreaCount()) return "sum of totals";
  return "";
}

TEST(RescueMap, MarksSplitAndMergeAreas) {
  struct Mark {
    int64_t pos, size;
    char status;
  };
  struct Case {
    const char* name;
    std::vector<Mark> marks;
    std::string layout;
  };
  const Case cases[] = {
      {"fresh", {}, "0+100? "},
      {"middle", {{10, 20, '+'}}, "0+10? 10+20+ 30+70? "},
      {"start and end", {{0, 10, '-'}, {90, 10, '*'}}, "0+10- 10+80? 90+10* "},
      {"neighbours merge", {{10, 10, '+'}, {20, 10, '+'}, {0, 10, '+'}}, "0+30+ 30+70? "},
      {"bridge merges three", {{0, 10, '+'}, {20, 10, '+'}, {10, 10, '+'}}, "0+30+ 30+70? "},
      {"overwrite several", {{10, 5, '-'}, {20, 5, '*'}, {30, 5, '/'}, {5, 40, '+'}}, "0+5? 5+40+ 45+55? "},
      {"clipped to the map", {{-5, 10, '+'}, {95, 50, '-'}}, "0+5+ 5+90? 95+5- "},
      {"inside one area", {{0, 100, '/'}, {50, 1, '-'}}, "0+50/ 50+1- 51+49/ "},
      {"same status again", {{0, 100, '/'}, {40, 20, '/'}}, "0+100/ "},
      {"empty mark", {{10, 0, '+'}, {200, 5, '+'}}, "0+100? "},
      {"whole map", {{3, 3, '-'}, {0, 100, '+'}}, "0+100+ "},
  };
  for (const auto& c : cases) {
    RescueMap map(100);
    for (const auto& m : c.marks) map.Set(m.pos, m.size, m.status);
    EXPECT_EQ(Layout(map), c.layout) << c.name;
    EXPECT_EQ(TotalsProblem(map), "") << c.name;
  }
}

TEST(RescueMap, TextRoundTripsInDdrescueForm) {
  RescueMap map(0x48000 + 0x120000);
  map.Set(0, 0x117000, '+');
  map.Set(0x117000, 0x200, '-');
  map.Set(0x117200, 0x1000, '/');
  map.Set(0x118200, 0x7E00, '*');
  map.currentPos = 0x120000;
  map.currentStatus = '?';
  map.currentPass = 1;
  map.source = SourceMark{0x168000, 0x800, 0x1000, 0x0123456789ABCDEFULL};
  const std::string text = map.ToText({"Mapfile. Created by Sektorian 1.1.0"});
  EXPECT_EQ(text,
            "# Mapfile. Created by Sektorian 1.1.0\n"
            "# Source: size 0x168000 block 0x800+0x1000 hash 0x0123456789ABCDEF\n"
            "# current_pos  current_status  current_pass\n"
            "0x00120000     ?               1\n"
            "#      pos        size  status\n"
            "0x00000000  0x00117000  +\n"
            "0x00117000  0x00000200  -\n"
            "0x00117200  0x00001000  /\n"
            "0x00118200  0x00007E00  *\n"
            "0x00120000  0x00048000  ?\n");
  EXPECT_EQ(RescueMap::Parse(text), map);
  // A source line that does not read is a comment like any other.
  for (const char* garbled : {"# Source: size 0x168000 block 0x800+0x1000 hash 0x01 x\n",
                              "# Source: size 0x10 block 0x8+0x9 hash 0x1\n", "# Source: size 16\n"})
    EXPECT_FALSE(RescueMap::Parse(garbled + text.substr(text.find("# current"))).source) << garbled;
  // Beyond 4 GiB the numbers just grow.
  RescueMap big(5LL << 30, '+');
  big.Set(4LL << 30, 1000, '-');
  EXPECT_NE(big.ToText().find("0x100000000  0x000003E8  -"), std::string::npos);
  EXPECT_EQ(RescueMap::Parse(big.ToText()).Areas(), big.Areas());
}

// A map of `areas` one-byte areas, read and unread by turns.
std::string Alternating(size_t areas) {
  std::string text = "0 ? 1\n";
  for (size_t i = 0; i < areas; ++i) text += std::to_string(i) + " 1 " + (i % 2 ? "-\n" : "+\n");
  return text;
}

TEST(RescueMap, ParsesWhatDdrescueAcceptsAndRefusesTheRest) {
  struct Case {
    const char* name;
    std::string text;
    std::string layout;  // "refused": MapFormatError
  };
  const Case cases[] = {
      {"octal 010 is 8: a gap", "0 + 1\n0 10 +\n010 0x10 -\n", "refused"},
      {"old status line without pass", "0 ?\n0x0 0x64 ?\n", "0+100? "},
      {"equal neighbours merged", "0 + 1\n0 10 +\n10 10 +\n20 5 -\n", "0+20+ 20+5- "},
      {"no areas", "0 ? 1\n", ""},
      {"fill status line", "5 F 1\n0 10 /\n", "0+10/ "},
      {"empty", "", "refused"},
      {"only comments", "# a\n# b\n", "refused"},
      {"gap", "0 ? 1\n0 10 +\n11 5 -\n", "refused"},
      {"overlap", "0 ? 1\n0 10 +\n5 5 -\n", "refused"},
      {"not starting at 0", "0 ? 1\n5 10 +\n", "refused"},
      {"bad status", "0 ? 1\n0 10 x\n", "refused"},
      {"bad number", "0 ? 1\n0 1O +\n", "refused"},
      {"negative", "0 ? 1\n0 -10 +\n", "refused"},
      {"too many fields", "0 ? 1\n0 10 + 4\n", "refused"},
      {"overflow", "0 ? 1\n0 0x7FFFFFFFFFFFFFFF +\n0x7FFFFFFFFFFFFFFF 2 -\n", "refused"},
      {"huge number", "0 ? 1\n0 99999999999999999999 +\n", "refused"},
      {"bad pass", "0 ? x\n0 10 +\n", "refused"},
      {"a source block of 64 KiB", "# Source: size 0x20000 block 0x0+0x10000 hash 0x1\n0 ? 1\n0 0x20000 ?\n",
       "0+131072? "},
      {"a source block longer than 64 KiB",
       "# Source: size 0x20000 block 0x0+0x10001 hash 0x1\n0 ? 1\n0 0x20000 ?\n", "refused"},
      {"more areas than a map may have", Alternating(kMostMapAreas + 1), "refused"},
  };
  for (const auto& c : cases) {
    std::string got;
    try {
      got = Layout(RescueMap::Parse(c.text));
    } catch (const MapFormatError&) {
      got = "refused";
    }
    EXPECT_EQ(got, c.layout) << c.name;
    if (got != "refused") EXPECT_EQ(TotalsProblem(RescueMap::Parse(c.text)), "") << c.name;
  }
  // The same text with the octal number right: accepted, comments and CRLF too.
  const RescueMap ok = RescueMap::Parse("# hello\r\n  # c\r\n100 + 1 # s\r\n0 10 + # x\r\n012 0xE - \r\n\r\n24 76 ?\r\n");
  EXPECT_EQ(Layout(ok), "0+10+ 10+14- 24+76? ");
  EXPECT_EQ(ok.currentPos, 100);
  EXPECT_EQ(ok.currentStatus, '+');
}

}  // namespace
}  // namespace sk
