// Checks a signed update with the release key this build carries (the key
// file given to CMake): exits 0 when Update.sig in FOLDER is that key's
// signature over Update.ini there, 1 when it is not, 2 when the files cannot
// be read. The test of SEKTORIAN_RELEASE_KEY runs it from two builds.
//   release_key_check FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/FileApi.h"
#include "generated/ReleaseKey.h"
#include "win/UpdateSignature.h"
#include "win/Utf.h"
#include "win/WinFile.h"

namespace {

bool ReadWhole(const std::string& path, std::string& text) {
  try {
    auto file = sk::win::WinFileSystem().Open(path, sk::OpenMode::ReadShared);
    text.assign(static_cast<size_t>(file->Size()), '\0');
    text.resize(file->Read(text.data(), text.size()));
    return true;
  } catch (const sk::FileError&) {
    return false;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::string folder = sk::win::Narrow(argv[1]) + "\\";
  std::string ini, signature;
  if (!ReadWhole(folder + "Update.ini", ini) || !ReadWhole(folder + "Update.sig", signature)) return 2;
  const bool valid = sk::win::VerifyP256Signature(sk::kReleasePublicKey, ini, signature);
  std::printf("%s\n", valid ? "accepted" : "refused");
  return valid ? 0 : 1;
}
