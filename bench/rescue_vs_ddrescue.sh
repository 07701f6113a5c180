#!/bin/sh
# Sektorian's rescue against GNU ddrescue on the same damaged files of the
# badmedia fixture (by hand, as root, after scripts/build):
#
#   sh bench/rescue_vs_ddrescue.sh [ROUNDS]
#
# 1. A 16 MiB file with three unreadable 32 KiB areas (at 4, 8 and 12 MiB),
#    each failing read stalling 20 ms: `ddrescue -b 2048` and Sektorian's
#    rescue at level 0 through the real main window, ROUNDS (default 3) times
#    each; the median time of each, the rescued bytes and the failing reads
#    (the fixture's ctl/fails). Bench line:
#      rescue vs ddrescue: time ratio R, rescued S of D bytes, failing reads F against G
# 2. Many bad spots: 1,000 and 10,000 spots of 100 bytes, one every 4 KiB, at
#    level 4 (median of ROUNDS): time per spot, map areas and peak working
#    set; a cost growing with the number of spots shows as a per-spot ratio
#    (10,000 against 1,000) above 1. Bench line:
#      many spots: 1000 in T1 s, 10000 in T2 s, per-spot ratio P, map areas A, peak working set W MiB
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SEKTORIAN_BUILD:-$root/build}
rounds=${1:-3}
mnt=$build/bench-media
store=$build/bench-media-store
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$build/win32/wineprefix} WINEDEBUG=-all

sh "$root/tests/fuse/badmedia.sh" up "$build/native/badmedia" "$mnt" "$store" >/dev/null
cleanup() {
  rm -rf "$work"
  sh "$root/tests/fuse/badmedia.sh" down "$mnt" >/dev/null 2>&1 || true
}
trap cleanup EXIT

damaged='size=16M,bad=4M-4227071,bad=8M-8421375,bad=12M-12615679,stall=20.bin'
spots1k='size=4000K,badevery=4K-100-2K-1000.bin'
spots10k='size=40000K,badevery=4K-100-2K-10000.bin'

# The bytes a mapfile names as rescued, as ddrescuelog reads it.
rescued_by() {
  ddrescuelog -A "$1" | grep -v '^#' | tail -n +2 | {
    s=0
    while read -r pos size st rest; do [ "$st" = "+" ] && s=$((s + size)); done
    echo "$s"
  }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# ddrescue: time, rescued bytes (from its map) and failing reads, ROUNDS times.
: >"$work/dd"
for r in $(seq "$rounds"); do
  rm -f "$work/out" "$work/map"
  : >"$mnt/ctl/fails"
  t0=$(date +%s.%N)
  ddrescue -q -b 2048 "$mnt/v/$damaged" "$work/out" "$work/map" || true
  t1=$(date +%s.%N)
  fails=$(cat "$mnt/ctl/fails")
  rescued=$(rescued_by "$work/map")
  echo "$t0 $t1 $rescued $fails" | awk '{ printf "ddrescue: time %.3f s, rescued %d bytes, failing reads %d\n", $2 - $1, $3, $4 }' | tee -a "$work/dd"
done

# Sektorian writes where ddrescue does: a folder of the real disk.
winpath() { printf 'Z:%s\\' "$(printf '%s' "$1" | tr / '\\')"; }  # printf: sh's echo reads "\t"
mkdir -p "$work/sektorian"
bench() {
  xvfb-run -a -s "-screen 0 1280x1024x24" wine "$build/win32/rescue_ddrescue_bench.exe" "$(winpath "$mnt")" \
    "$(winpath "$work/sektorian")" "$@" | tr -d '\r'
}
bench 0 "$rounds" "$damaged" | tee "$work/sk"
bench 4 "$rounds" "$spots1k" "$spots10k" | tee "$work/spots"

ddt=$(sed -n 's/^ddrescue: time \([0-9.]*\) s.*/\1/p' "$work/dd" | median)
ddr=$(sed -n 's/.*rescued \([0-9]*\) bytes.*/\1/p' "$work/dd" | median)
ddf=$(sed -n 's/.*failing reads \([0-9]*\).*/\1/p' "$work/dd" | median)
skt=$(sed -n 's/^sektorian [^:]*: time \([0-9.]*\) s.*/\1/p' "$work/sk" | median)
skr=$(sed -n 's/.*rescued \([0-9]*\) of.*/\1/p' "$work/sk" | median)
skf=$(sed -n 's/.*failing reads \([0-9]*\).*/\1/p' "$work/sk" | median)
echo "ddrescue median: $ddt s; Sektorian median: $skt s"
echo "$skt $ddt $skr $ddr $skf $ddf" |
  awk '{ printf "rescue vs ddrescue: time ratio %.2f, rescued %d of %d bytes, failing reads %d against %d\n", $1 / $2, $3, $4, $5, $6 }'

t1k=$(sed -n "s/^sektorian size=4000K[^:]*: time \([0-9.]*\) s.*/\1/p" "$work/spots" | median)
t10k=$(sed -n "s/^sektorian size=40000K[^:]*: time \([0-9.]*\) s.*/\1/p" "$work/spots" | median)
areas=$(sed -n "s/^sektorian size=40000K.*map areas \([0-9]*\).*/\1/p" "$work/spots" | tail -1)
wset=$(sed -n "s/^sektorian size=40000K.*peak working set \([0-9.]*\) MiB.*/\1/p" "$work/spots" | tail -1)
echo "$t1k $t10k $areas $wset" |
  awk '{ printf "many spots: 1000 in %.2f s, 10000 in %.2f s, per-spot ratio %.2f, map areas %d, peak working set %.1f MiB\n", $1, $2, ($2 / 10000) / ($1 / 1000), $3, $4 }'
