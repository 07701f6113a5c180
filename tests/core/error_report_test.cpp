#include "core/Text.h"

#include <gtest/gtest.h>

namespace sk {
namespace {

TEST(ErrorReportText, AppendsAFullStopOnlyAfterCharactersAboveIt) {
  EXPECT_EQ(ErrorReportText(""), "");
  EXPECT_EQ(ErrorReportText("I/O error 21"), "I/O error 21.");
  EXPECT_EQ(ErrorReportText("Invalid filename"), "Invalid filename.");
  EXPECT_EQ(ErrorReportText("Failed to get data for 'Level'"), "Failed to get data for 'Level'");
  EXPECT_EQ(ErrorReportText("Koniec."), "Koniec.");
  EXPECT_EQ(ErrorReportText("ścieżka/"), "ścieżka/.");  // '/' comes right after '.'
  EXPECT_EQ(ErrorReportText("(nawias)"), "(nawias)");  // ')' comes before it
  EXPECT_EQ(ErrorReportText("spacja "), "spacja ");
  EXPECT_EQ(ErrorReportText("Błąd: źle"), "Błąd: źle.");
  EXPECT_EQ(ErrorReportText("wartość ż"), "wartość ż.");  // a letter outside ASCII
}

}  // namespace
}  // namespace sk
