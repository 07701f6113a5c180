#!/bin/sh
# The build takes its release key from the file that SEKTORIAN_RELEASE_KEY
# names: release_key_check built with a throwaway key accepts an update signed
# with that key (by scripts/sign-update), and the same program of this build,
# made with the release key, refuses it.
#   sh release_key_option.sh SOURCE-FOLDER BUILD-FOLDER
set -e
src=$1
build=$2
work=$build/release-key-option
rm -rf "$work"
mkdir -p "$work/update"
openssl ecparam -name prime256v1 -genkey -noout -out "$work/private.pem"
openssl pkey -in "$work/private.pem" -pubout -out "$work/public.pem"
printf '[Update]\r\nVersion=111\r\nURL=http://update.example/SKTRN.tmp\r\n' >"$work/update/Update.ini"
printf 'package' >"$work/update/SKTRN.tmp"
printf 'MZ updater' >"$work/update/Swapit.exe"
python3 "$src/scripts/sign-update" "$work/private.pem" "$work/update/Update.ini" "$work/update/SKTRN.tmp" \
  "$work/update/Swapit.exe" >/dev/null

cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEKTORIAN_RELEASE_KEY="$work/public.pem" >/dev/null
cmake --build "$work/build" -j 2 --target release_key_check >/dev/null

folder="Z:$(printf '%s' "$work/update" | tr / '\\')"
status=0
if wine "$work/build/release_key_check.exe" "$folder"; then
  echo "the build with the throwaway key accepts its update"
else
  echo "FAILED: the build with the throwaway key refuses its update"
  status=1
fi
if wine "$build/release_key_check.exe" "$folder"; then
  echo "FAILED: the build with the release key accepts an update signed with another key"
  status=1
else
  echo "the build with the release key refuses it"
fi
exit $status
