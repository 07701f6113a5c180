#include "core/Formats.h"
#include "core/Text.h"

#include <gtest/gtest.h>

namespace sk {
namespace {

struct SizeCase {
  int64_t bytes;
  const char* text;
};

TEST(FormatSize, RoundsHalfAwayCarriesAndDropsZeros) {
  const SizeCase cases[] = {
      {0, " B"},          {1, "1 B"},           {1000, "1000 B"},       {1023, "1023 B"},
      {1024, "1 kB"},     {1152, "1,13 kB"},    {1500, "1,46 kB"},      {1536, "1,5 kB"},
      {1048575, "1024 kB"}, {1048576, "1 MB"},  {1234567, "1,18 MB"},   {1073741823, "1024 MB"},
      {1073741824, "1 GB"}, {2147483647, "2 GB"}, {1034, "1,01 kB"},    {1029, "1 kB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(FormatSize, SizesBeyondTwoGibibytes) {
  EXPECT_EQ(FormatSize(3LL << 30), "3 GB");
  EXPECT_EQ(FormatSize(4700000000LL), "4,38 GB");
  EXPECT_EQ(FormatSize(5046586573LL), "4,7 GB");
  EXPECT_EQ(FormatSize((4LL << 30) + 1000), "4 GB");
  EXPECT_EQ(FormatSize(INT64_MAX), "8589934592 GB");
}

TEST(FormatSize, UsesTheGivenSeparator) {
  EXPECT_EQ(FormatSize(1536, "."), "1.5 kB");
  EXPECT_EQ(FormatSize(1152, "."), "1.13 kB");
}

TEST(FormatElapsed, UnitBoundaries) {
  EXPECT_EQ(FormatElapsed(0), "0 sek");
  EXPECT_EQ(FormatElapsed(59), "59 sek");
  EXPECT_EQ(FormatElapsed(60), "1 min");
  EXPECT_EQ(FormatElapsed(3599), "59 min");
  EXPECT_EQ(FormatElapsed(3600), "1 godz");
  EXPECT_EQ(FormatElapsed(90000), "25 godz");
}

TEST(FormatRemaining, TruncatesAndComparesUnrounded) {
  EXPECT_EQ(FormatRemaining(0), "0 sek");
  EXPECT_EQ(FormatRemaining(42.7), "42 sek");
  EXPECT_EQ(FormatRemaining(59), "59 sek");
  EXPECT_EQ(FormatRemaining(59.5), "0 min");
  EXPECT_EQ(FormatRemaining(60), "1 min");
  EXPECT_EQ(FormatRemaining(119.9), "1 min");
  EXPECT_EQ(FormatRemaining(3599.5), "0 godz");
  EXPECT_EQ(FormatRemaining(7200), "2 godz");
}

TEST(FormatRemaining, NeverFailsOnOddEstimates) {
  EXPECT_EQ(FormatRemaining(-1), "0 sek");
  EXPECT_EQ(FormatRemaining(std::numeric_limits<double>::quiet_NaN()), "0 sek");
  EXPECT_FALSE(FormatRemaining(std::numeric_limits<double>::infinity()).empty());
}

TEST(FormatByteCount, CutsWithoutRounding) {
  EXPECT_EQ(FormatByteCount(0), "0 B");
  EXPECT_EQ(FormatByteCount(512), "512 B");
  EXPECT_EQ(FormatByteCount(1023), "1023 B");
  EXPECT_EQ(FormatByteCount(1024), "1 KB");
  EXPECT_EQ(FormatByteCount(1025), "1,00 KB");
  EXPECT_EQ(FormatByteCount(1536), "1,5 KB");
  EXPECT_EQ(FormatByteCount(1048575), "1023,99 KB");
  EXPECT_EQ(FormatByteCount(1048576), "1 MB");
  EXPECT_EQ(FormatByteCount(1073741824), "1 GB");
  EXPECT_EQ(FormatByteCount(3LL << 30), "3 GB");
  EXPECT_EQ(FormatByteCount((5LL << 30) - 1), "4,99 GB");
}

TEST(ElapsedSeconds, AbsoluteAndTruncated) {
  EXPECT_EQ(ElapsedSeconds(1.0 + 3599.9 / 86400, 1.0), 3599);
  EXPECT_EQ(ElapsedSeconds(1.0, 1.0 + 61.0 / 86400), 61);
}

TEST(PathParts, SplitAtLastBackslashOrColon) {
  EXPECT_EQ(FileNamePart("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(FolderPart("C:\\a\\b.txt"), "C:\\a\\");
  EXPECT_EQ(FileNamePart("C:b.txt"), "b.txt");
  EXPECT_EQ(FileNamePart("plain"), "plain");
  EXPECT_EQ(FolderPart("plain"), "");
}

}  // namespace
}  // namespace sk
