#include <gtest/gtest.h>

#include "win/Utf.h"

namespace sk::win {
namespace {

TEST(Utf, RoundTripsPolishAndOtherScripts) {
  const std::string texts[] = {"Zażółć gęślą jaźń", "Ωμέγα", "日本語のファイル", "🙂 emoji", ""};
  for (const auto& t : texts) EXPECT_EQ(Narrow(Widen(t)), t);
  EXPECT_EQ(Widen("ą"), L"\u0105");
}

TEST(FileErrorText, TextsByWindowsCode) {
  EXPECT_EQ(FileErrorText(2), "File not found");
  EXPECT_EQ(FileErrorText(3), "Invalid filename");
  EXPECT_EQ(FileErrorText(4), "Too many open files");
  EXPECT_EQ(FileErrorText(5), "File access denied");
  EXPECT_EQ(FileErrorText(32), "I/O error 32");
  EXPECT_EQ(FileErrorText(21), "I/O error 21");
}

}  // namespace
}  // namespace sk::win
