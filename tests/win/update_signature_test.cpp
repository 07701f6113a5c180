// An update signed by scripts/sign-update (tests/win/sign_update_files.sh
// signs one before win_tests runs) passes the program's own checks, and any
// changed byte fails them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "core/UpdateIni.h"
#include "generated/ReleaseKey.h"
#include "support/UiTest.h"
#include "win/UpdateSignature.h"

namespace sk::win {
namespace {

TEST(UpdateSignature, AnUpdateSignedByTheReleaseScriptVerifies) {
  const char* unixFolder = std::getenv("SEKTORIAN_SIGNED_UPDATE");
  if (!unixFolder) GTEST_SKIP() << "SEKTORIAN_SIGNED_UPDATE not set (ctest sets it)";
  std::string dir = std::string("Z:") + unixFolder + "/";
  std::replace(dir.begin(), dir.end(), '/', '\\');
  const std::string key = test::ReadFile(dir + "key.bin");
  const std::string ini = test::ReadFile(dir + "Update.ini");
  const std::string signature = test::ReadFile(dir + "Update.sig");
  ASSERT_EQ(key.size(), 64u);
  ASSERT_EQ(signature.size(), 64u);

  EXPECT_TRUE(VerifyP256Signature(key, ini, signature));
  const UpdateDescription d = ReadUpdateDescription(ini);
  EXPECT_EQ(d.version, 111);
  EXPECT_TRUE(d.expires.has_value());  // 30 days ahead by default
  EXPECT_TRUE(d.serial.has_value());   // the signing time
  EXPECT_EQ(Sha256OfFile(dir + "SKTRN.tmp"), d.packageSha256);
  EXPECT_EQ(Sha256OfFile(dir + "Swapit.exe"), d.updaterSha256);
  EXPECT_EQ(d.packageSize, 100000);
  EXPECT_EQ(d.updaterSize, 10);
  EXPECT_EQ(ini.find("packagesha256"), std::string::npos);  // the older value was replaced
  EXPECT_NE(ini.find("\r\n\r\n[Inne]\r\nA=1\r\n"), std::string::npos);

  // Any changed byte of the description or the signature, or another key.
  for (size_t at : {size_t{0}, ini.size() / 2, ini.size() - 1}) {
    std::string changed = ini;
    changed[at] ^= 0x20;
    EXPECT_FALSE(VerifyP256Signature(key, changed, signature)) << "description byte " << at;
  }
  for (size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{63}}) {
    std::string changed = signature;
    changed[at] ^= 1;
    EXPECT_FALSE(VerifyP256Signature(key, ini, changed)) << "signature byte " << at;
  }
  EXPECT_FALSE(VerifyP256Signature(kReleasePublicKey, ini, signature));
  EXPECT_FALSE(VerifyP256Signature(key, ini, signature.substr(0, 63)));
  EXPECT_FALSE(VerifyP256Signature(key, ini, ""));
}

}  // namespace
}  // namespace sk::win
