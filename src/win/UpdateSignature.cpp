#include <windows.h>
#include "win/UpdateSignature.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/FileApi.h"
#include "win/WinFile.h"

namespace sk::win {
namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

// An algorithm provider, closed on every way out.
class Provider {
 public:
  explicit Provider(const wchar_t* algorithm) {
    if (!Ok(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
  }
  ~Provider() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// A running SHA-256 over data given in pieces.
class Sha256Hash {
 public:
  Sha256Hash() : provider_(BCRYPT_SHA256_ALGORITHM) {
    if (provider_.get() && !Ok(BCryptCreateHash(provider_.get(), &hash_, nullptr, 0, nullptr, 0, 0))) hash_ = nullptr;
  }
  ~Sha256Hash() {
    if (hash_) BCryptDestroyHash(hash_);
  }
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;

  bool Add(const void* data, size_t size) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (hash_ && size > 0) {
      const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
      if (!Ok(BCryptHashData(hash_, bytes, piece, 0))) return false;
      bytes += piece;
      size -= piece;
    }
    return hash_ != nullptr;
  }
  std::optional<std::string> Finish() {
    std::string digest(32, '\0');
    if (!hash_ || !Ok(BCryptFinishHash(hash_, reinterpret_cast<UCHAR*>(digest.data()), 32, 0))) return std::nullopt;
    return digest;
  }

 private:
  Provider provider_;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

std::optional<std::string> Sha256(std::string_view data) {
  Sha256Hash hash;
  if (!hash.Add(data.data(), data.size())) return std::nullopt;
  return hash.Finish();
}

std::optional<std::string> Sha256OfFile(const std::string& path) {
  try {
    auto file = WinFileSystem().Open(path, OpenMode::ReadShared);
    Sha256Hash hash;
    std::vector<char> block(64 * 1024);
    for (;;) {
      const size_t got = file->Read(block.data(), block.size());
      if (got == 0) break;
      if (!hash.Add(block.data(), got)) return std::nullopt;
    }
    file->Close();
    return hash.Finish();
  } catch (const FileError&) {
    return std::nullopt;
  }
}

bool VerifyP256Signature(std::string_view publicKey, std::string_view message, std::string_view signature) {
  if (publicKey.size() != 64 || signature.size() != 64) return false;
  const auto digest = Sha256(message);
  if (!digest) return false;
  Provider ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!ecdsa.get()) return false;

  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  memcpy(blob.data(), &header, sizeof header);
  memcpy(blob.data() + sizeof header, publicKey.data(), 64);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!Ok(BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                              static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  std::string hash = *digest;
  std::string sig(signature);
  const NTSTATUS status = BCryptVerifySignature(key, nullptr, reinterpret_cast<UCHAR*>(hash.data()), 32,
                                                reinterpret_cast<UCHAR*>(sig.data()), 64, 0);
  BCryptDestroyKey(key);
  return status == 0;  // STATUS_SUCCESS, nothing else
}

}  // namespace sk::win
