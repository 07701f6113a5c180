#include <gtest/gtest.h>

#include "core/Text.h"
#include "core/UpdateIni.h"
#include "core/Url.h"

namespace sk {
namespace {

TEST(SplitUrl, PrefixInAnyCaseOrNone) {
  for (const char* url : {"http://update.example.org/pub/Swapit.exe", "HTTP://update.example.org/pub/Swapit.exe",
                          "HtTp://update.example.org/pub/Swapit.exe", "update.example.org/pub/Swapit.exe"}) {
    const UrlParts p = SplitUrl(url);
    EXPECT_EQ(p.host, "update.example.org") << url;
    EXPECT_EQ(p.path, "/pub/Swapit.exe") << url;
  }
}

TEST(SplitUrl, PortStaysInHostQueryStaysInPath) {
  const UrlParts p = SplitUrl("http://127.0.0.1:8080/a/b.ini?x=1&y=/2");
  EXPECT_EQ(p.host, "127.0.0.1:8080");
  EXPECT_EQ(p.path, "/a/b.ini?x=1&y=/2");
  EXPECT_EQ(SplitUrl("http://host/").path, "/");
}

TEST(SplitUrl, NoSlashAfterHostGivesEmptyHost) {
  const UrlParts p = SplitUrl("http://update.example.org");
  EXPECT_EQ(p.host, "");
  EXPECT_EQ(p.path, "update.example.org");
  EXPECT_EQ(SplitUrl("").host, "");
}

TEST(UpdateIni, VersionForms) {
  struct Case {
    const char* value;
    int expected;
  } cases[] = {
      {"111", 111},  {"110", 110},     {"$6F", 111},       {"$6f", 111}, {"0x6f", 111},
      {"0X6F", 111}, {"1.1.1", 110},   {"", 110},          {"abc", 110}, {"0x", 110},
      {"$", 110},    {"12a", 110},     {" 112 ", 112},     {"-5", -5},   {"2147483648", 110},
      {"2147483647", 2147483647},      {"$FFFFFFFF", -1},  {"$100000000", 110},
  };
  for (const auto& c : cases) {
    const std::string ini = std::string("[Update]\r\nVersion=") + c.value + "\r\nURL=http://h/p.tmp\r\n";
    EXPECT_EQ(ReadUpdateDescription(ini).version, c.expected) << "'" << c.value << "'";
  }
}

TEST(UpdateIni, MissingSectionOrKeyGivesDefaults) {
  EXPECT_EQ(ReadUpdateDescription("").version, kUpdateVersion);
  EXPECT_EQ(ReadUpdateDescription("").url, "");
  const auto other = ReadUpdateDescription("[Other]\nVersion=200\nURL=x\n");
  EXPECT_EQ(other.version, 110);
  EXPECT_EQ(other.url, "");
  // A server's error page read as an INI file.
  EXPECT_EQ(ReadUpdateDescription("<html><body>404 Not Found</body></html>").version, 110);
  // A key after the section ended belongs to the next section.
  EXPECT_EQ(ReadUpdateDescription("[Update]\nURL=u\n[Next]\nVersion=300\n").version, 110);
}

TEST(UpdateIni, ProfileFileReadingRules) {
  const std::string ini =
      "\xEF\xBB\xBF; the update\n"
      "[general]\nVersion=999\n"
      "[ update ]\n"
      "  version =  0x70  \n"
      "url = \"http://update.example.org/pkg/SKTRN 2.tmp\"\n"
      "Version=500\n"
      "[Update]\nURL=second\n";
  const auto d = ReadUpdateDescription(ini);
  EXPECT_EQ(d.version, 112);
  EXPECT_EQ(d.url, "http://update.example.org/pkg/SKTRN 2.tmp");
}

}  // namespace
}  // namespace sk

namespace sk {
namespace {

TEST(UpdateIni, HashKeysAreWholeSha256sOrNothing) {
  const std::string hex = "00ff10AB" + std::string(56, '7');
  const std::string bytes = std::string("\x00\xff\x10\xab", 4) + std::string(28, '\x77');
  const struct {
    std::string value;
    bool valid;
  } cases[] = {
      {hex, true},
      {"  " + hex + " ", true},
      {"\"" + hex + "\"", true},
      {hex.substr(1), false},      // 63 figures
      {hex + "0", false},          // 65
      {hex.substr(0, 63) + "g", false},
      {"", false},
  };
  for (const auto& c : cases) {
    const auto d = ReadUpdateDescription("[Update]\nPackageSHA256=" + c.value + "\nUpdaterSHA256=" + c.value + "\n");
    EXPECT_EQ(d.packageSha256, c.valid ? bytes : "") << c.value;
    EXPECT_EQ(d.updaterSha256, d.packageSha256);
  }
  EXPECT_EQ(ReadUpdateDescription("[Update]\nVersion=200\n").packageSha256, "");
}

TEST(UpdateIni, ExpiresSerialAndSizesAreStrictOrNothing) {
  const struct {
    const char* key;
    const char* value;
    bool reads;
  } cases[] = {
      {"Expires", " 2030-06-15 ", true}, {"Expires", "2028-02-29", true},  {"Expires", "2030-02-29", false},
      {"Expires", "2030-6-15", false},   {"Expires", "2030-06-1", false},  {"Expires", "2030 -06-15", false},
      {"Expires", "2030-13-01", false},  {"Expires", "2030-06-00", false}, {"Serial", "4294967295", true},
      {"Serial", "4294967296", false},   {"Serial", "-1", false},          {"Serial", "0x10", false},
      {"Serial", "", false},             {"PackageSize", "0", true},       {"PackageSize", "12 345", false},
      {"PackageSize", "9223372036854775807", true}, {"PackageSize", "9223372036854775808", false},
  };
  for (const auto& c : cases) {
    const auto d = ReadUpdateDescription(std::string("[Update]\n") + c.key + "=" + c.value + "\n");
    const bool read = d.expires.has_value() || d.serial.has_value() || d.packageSize.has_value();
    EXPECT_EQ(read, c.reads) << c.key << "=" << c.value;
  }
  EXPECT_EQ(ReadUpdateDescription("[Update]\nExpires=2028-02-29\n").expires, (CivilDate{2028, 2, 29}));
}

}  // namespace
}  // namespace sk
