// A signing key made for one test run (CNG, ECDSA P-256), and the signed
// files an update server publishes: Update.ini with the two hashes, and
// Update.sig.
#pragma once
#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "win/UpdateSignature.h"

namespace sk::test {

class SigningKey {
 public:
  SigningKey() {
    if (BCryptOpenAlgorithmProvider(&provider_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptGenerateKeyPair(provider_, &key_, 256, 0) < 0 || BCryptFinalizeKeyPair(key_, 0) < 0) {
      throw std::runtime_error("cannot make a P-256 key");
    }
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    ULONG size = 0;
    if (BCryptExportKey(key_, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(), static_cast<ULONG>(blob.size()), &size,
                        0) < 0 ||
        size != blob.size()) {
      throw std::runtime_error("cannot export the public key");
    }
    publicKey_.assign(reinterpret_cast<const char*>(blob.data()) + sizeof(BCRYPT_ECCKEY_BLOB), 64);
  }
  ~SigningKey() {
    if (key_) BCryptDestroyKey(key_);
    if (provider_) BCryptCloseAlgorithmProvider(provider_, 0);
  }
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // X then Y, as the update check takes it.
  const std::string& PublicKey() const { return publicKey_; }
  // r then s over the SHA-256 of `message`.
  std::string Sign(std::string_view message) const {
    std::string hash = win::Sha256(message).value();
    std::string signature(64, '\0');
    ULONG size = 0;
    if (BCryptSignHash(key_, nullptr, reinterpret_cast<UCHAR*>(hash.data()), 32,
                       reinterpret_cast<UCHAR*>(signature.data()), 64, &size, 0) < 0 ||
        size != 64) {
      throw std::runtime_error("cannot sign");
    }
    return signature;
  }

 private:
  BCRYPT_ALG_HANDLE provider_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
  std::string publicKey_;
};

// The keys that make a signed description count now: valid for centuries,
// numbered 1.
inline constexpr const char* kFreshKeys = "Expires=2999-12-31\r\nSerial=1\r\n";

// The 64 hexadecimal figures of the SHA-256 of `data`.
inline std::string Sha256Hex(std::string_view data) {
  static const char* figures = "0123456789abcdef";
  const std::string digest = win::Sha256(data).value();
  std::string hex;
  for (unsigned char c : digest) {
    hex += figures[c >> 4];
    hex += figures[c & 15];
  }
  return hex;
}

// The lines that bind the downloads to a description: the hashes and the
// sizes of `package` and `updater`.
inline std::string DownloadKeys(std::string_view package, std::string_view updater) {
  return "PackageSHA256=" + Sha256Hex(package) + "\r\nUpdaterSHA256=" + Sha256Hex(updater) + "\r\nPackageSize=" +
         std::to_string(package.size()) + "\r\nUpdaterSize=" + std::to_string(updater.size()) + "\r\n";
}

}  // namespace sk::test
