#!/bin/sh
# Signs an update with scripts/sign-update and a throwaway key, as a
# maintainer would, for the update signature test in win_tests. Leaves in
# OUT: key.bin (the public key, X then Y), Update.ini, Update.sig, SKTRN.tmp,
# Swapit.exe.
#   sh sign_update_files.sh SIGN-UPDATE OUT
set -e
script=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cd "$out"
openssl ecparam -name prime256v1 -genkey -noout -out key.pem
openssl pkey -in key.pem -pubout -outform DER | tail -c 64 >key.bin
# An older hash to be replaced, and a section after [Update].
printf '[Update]\r\nVersion=111\r\nURL=http://update.example/SKTRN.tmp\r\npackagesha256 = 00\r\n\r\n[Inne]\r\nA=1\r\n' >Update.ini
head -c 100000 /dev/urandom >SKTRN.tmp
printf 'MZ updater' >Swapit.exe
"$script" key.pem Update.ini SKTRN.tmp Swapit.exe
