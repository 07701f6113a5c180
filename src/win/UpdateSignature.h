// The checks that make an update trustworthy, through the platform's
// cryptography (CNG): SHA-256 of a text or a file, and an ECDSA P-256
// signature over a text's SHA-256.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace sk::win {

// The 32 bytes of the SHA-256 of `data`; nullopt when CNG fails.
std::optional<std::string> Sha256(std::string_view data);

// The SHA-256 of the whole file at `path`; nullopt when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

// Whether `signature` (r then s, 32 bytes each, big-endian) is the signature
// of `publicKey` (the point X then Y, 32 bytes each) over the SHA-256 of
// `message`. Anything malformed is simply not a valid signature.
bool VerifyP256Signature(std::string_view publicKey, std::string_view message, std::string_view signature);

}  // namespace sk::win
