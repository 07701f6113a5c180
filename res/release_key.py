#!/usr/bin/env python3
"""Writes the release public key as the program's 64-byte constant.

    release_key.py KEY.pem OUT.h

KEY.pem is the public half of the release key (a PEM "PUBLIC KEY" of an
ECDSA P-256 key, uncompressed point, as `openssl pkey -pubout` writes it).
OUT.h gets `sk::kReleasePublicKey`: the point's X then Y, 32 bytes each. Any
other file is refused, so that a build never carries a key it cannot use.
"""
import base64
import sys

# SubjectPublicKeyInfo of a P-256 key up to its point: SEQUENCE { SEQUENCE {
# id-ecPublicKey, prime256v1 }, BIT STRING { 0x04 (uncompressed) ...
P256_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200") + b"\x04"


def point_of(pem_text, name):
    lines = [l.strip() for l in pem_text.strip().splitlines()]
    if not lines or lines[0] != "-----BEGIN PUBLIC KEY-----" or lines[-1] != "-----END PUBLIC KEY-----":
        raise SystemExit(f"release_key: {name} is not one PEM public key (openssl pkey -pubout writes one)")
    try:
        der = base64.b64decode("".join(lines[1:-1]), validate=True)
    except ValueError:
        raise SystemExit(f"release_key: {name} holds no valid base64")
    if len(der) != len(P256_PREFIX) + 64 or not der.startswith(P256_PREFIX):
        raise SystemExit(f"release_key: {name} is not an ECDSA P-256 public key")
    return der[len(P256_PREFIX):]


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__.strip().split("\n\n")[1])
    source, out = sys.argv[1:]
    with open(source, encoding="ascii") as f:
        point = point_of(f.read(), source)
    rows = "\n".join('    "' + "".join(f"\\x{b:02x}" for b in point[i:i + 16]) + '"' for i in range(0, 64, 16))
    text = f"""// Generated at build time by res/release_key.py from the release public key
// file; do not edit. The public half of the release key that signs every
// update: a P-256 point, X then Y, 32 bytes each, big-endian. Update.sig must
// be its signature over Update.ini.
#pragma once
#include <string_view>

namespace sk {{

inline constexpr std::string_view kReleasePublicKey{{
{rows},
    64}};

}}  // namespace sk
"""
    with open(out, "w", encoding="ascii", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
