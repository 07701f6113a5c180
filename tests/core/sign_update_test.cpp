// scripts/sign-update against the program's own reader of Update.ini: over a
// table of awkward texts, the script either refuses the file (leaving it as
// it was) or writes keys that the program reads exactly as set, with every
// other value read as before.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/RunCommand.h"
#include "core/UpdateIni.h"

namespace sk {
namespace {

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream text;
  text << f.rdbuf();
  return text.str();
}
void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(SignUpdate, TheScriptReadsUpdateIniAsTheProgramDoes) {
  char folderName[] = "/tmp/sk_sign_XXXXXX";
  ASSERT_NE(mkdtemp(folderName), nullptr);
  const std::string dir = std::string(folderName) + "/";
  int status = 0;
  test::RunCommand("openssl ecparam -name prime256v1 -genkey -noout -out " + dir + "key.pem", status);
  ASSERT_EQ(status, 0) << "openssl";
  Write(dir + "SKTRN.tmp", std::string(3000, 'p'));
  Write(dir + "Swapit.exe", "MZ updater");
  const std::string packageHash = test::RunCommand("sha256sum " + dir + "SKTRN.tmp", status).substr(0, 64);
  const std::string sign = "python3 " SEKTORIAN_SOURCE_DIR "/scripts/sign-update --serial 9 --expires 2031-02-03 " +
                           dir + "key.pem " + dir + "Update.ini " + dir + "SKTRN.tmp " + dir + "Swapit.exe";

  const struct {
    const char* name;
    std::string text;
    bool refused;
  } cases[] = {
      {"oldHashAndANextSection", "[Update]\r\nVersion=111\r\npackagesha256 = 00\r\n\r\n[Inne]\r\nA=1\r\n", false},
      {"strayLineFeedInCrLf", "[Update]\r\nVersion=111\nURL=u\r\nPackageSHA256=00\nSerial=1\r\n", false},
      {"commentAfterTheHeader", "[Update] ; the release\r\nVersion=112\r\n", false},
      {"byteOrderMarkAndBlanks", "\xEF\xBB\xBF  [ UPDATE ]  \n\tVersion = \"0x70\"\nURL='http://x/y'\n", false},
      {"everyCopyOfAKeyGoes", "[Update]\nSerial=1\nSERIAL = 99999\nExpires=2020-01-01\nVersion=3\n", false},
      {"otherSectionsKeepTheirKeys", "[Pre]\nSerial=1\n[Update]\nVersion=2\n[Post]\nPackageSHA256=00\n", false},
      {"noLineEndAtTheEnd", "[Update]\r\nVersion=2", false},
      {"commentedKey", "[Update]\n;Serial=99999\nVersion=2\n", false},
      {"headerWithoutItsBracket", "[Update\nVersion=2\n", false},
      {"carriageReturnsOnly", "[Update]\rVersion=2\r", true},
      {"carriageReturnInsideALine", "[Update]\r\nVersion=2\rURL=x\r\n", true},
      {"carriageReturnBeforeTheHeader", "\r[Update]\r\nVersion=2\r\n", true},
      {"secondUpdateSection", "[Update]\nVersion=2\n[update]\nSerial=5\n", true},
      {"noUpdateSection", "Version=2\n[Updates]\nSerial=5\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(dir + "Update.ini", c.text);
    test::RunCommand(sign, status);
    const std::string out = Read(dir + "Update.ini");
    if (c.refused) {
      EXPECT_NE(status, 0);
      EXPECT_EQ(out, c.text);
      continue;
    }
    ASSERT_EQ(status, 0);
    const UpdateDescription before = ReadUpdateDescription(c.text), after = ReadUpdateDescription(out);
    EXPECT_EQ(after.packageSha256, ParseSha256Hex(packageHash).value_or("?"));
    EXPECT_EQ(after.updaterSha256.size(), 32u);
    EXPECT_EQ(after.packageSize, 3000);
    EXPECT_EQ(after.updaterSize, 10);
    EXPECT_EQ(after.expires, (CivilDate{2031, 2, 3}));
    EXPECT_EQ(after.serial, 9u);
    EXPECT_EQ(after.version, before.version);
    EXPECT_EQ(after.url, before.url);
    for (const char* section : {"Pre", "Post", "Inne"}) {
      for (const char* key : {"Serial", "PackageSHA256", "A"})
        EXPECT_EQ(IniValue(out, section, key), IniValue(c.text, section, key)) << section << " " << key;
    }
    EXPECT_EQ(Read(dir + "Update.sig").size(), 64u);
  }
  test::RunCommand("rm -rf " + dir, status);
}

}  // namespace
}  // namespace sk
