#!/bin/sh
# The disc image run against GNU ddrescue on the same disc image, on the
# badmedia fixture (by hand, as root, after scripts/build):
#
#   [SLOW=MS] [ROUNDS=K] sh bench/discimage.sh [CASE...]
#
# SLOW (default 0) makes every read of the drive wait MS milliseconds (the
# fixture's slow=), a drive's pace: with 2, 64 KiB reads go at about 30 MB/s,
# a DVD drive's speed, and the image file's writes weigh as on a real drive.
# A 64 MiB ISO 9660 disc (Joliet and Rock Ridge, 40 folders of 8 files) made
# by genisoimage goes into the fixture's store and is read through v/ as a
# drive reads a disc (from=, sector=2048: a read touching a bad sector fails
# whole; stall=MS per failing read). Cases (default: all):
#   healthy     no damage
#   dirscratch  a scratch across the directory area (primary directories)
#   scattered   40 single bad sectors in file data
#   long        a 2 MiB scratch in file data
#   ticked      the scattered damage, three files ticked (one of them hit)
#   sessions    the disc as the first session of a two-session CD-R: the
#               standard gap of 11,400 sectors (unreadable) after it, then a
#               second session (genisoimage -C/-M, one folder more); the
#               scattered damage in the first; the layout found on the disc
#               (no table of contents, as under Wine)
#   cdextra     a CD-Extra: 4,500 sectors of audio (one minute; unreadable,
#               as cooked reads of audio are), the gap, then a data session;
#               no table of contents: the layout cannot be found on the disc
#               (no file system at its start), and the whole disc is read
#   cdextra-toc the same with the table of contents a drive gives (toc=)
#   folders     a hostile disc: 8,000 folders whose Joliet names ("ą0001")
#               pair with no primary name ("_0001"), the Joliet root
#               unreadable; "listed after" is the time to list them
# For each case, `ddrescue -b 2048` on the image file, then the image run
# (bench/discimage_bench.cpp under Wine, the image file opened as the drive),
# then a bare loop of 64 KiB reads of the same file in the same process; the
# healthy case in ROUNDS rounds of the two, alternating, and the medians
# compared (default 31 at page-cache speed, 7 with SLOW: one run of either
# loop is too short to tell the run's cost from the machine's noise). One
# line per case:
#   discimage CASE: failing reads F against G, before list L, time ratio R (W against the loop with writes)
# F and G the failing reads of the image run and of ddrescue (the fixture's
# ctl/fails), L the image run's failing reads before its file list, R its time
# over the bare loop's, W over that of the bare loop that also writes each
# block into a file and flushes it once. The ticked case adds "ticked first yes|no".
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SEKTORIAN_BUILD:-$root/build}
cases=${*:-healthy dirscratch scattered long ticked sessions cdextra cdextra-toc folders}
slow=${SLOW:-0}
mnt=$build/bench-media
store=$build/bench-media-store
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$build/win32/wineprefix} WINEDEBUG=-all

cleanup() {
  wineserver -k 2>/dev/null || true
  sh "$root/tests/fuse/badmedia.sh" down "$mnt" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

sh "$root/tests/fuse/badmedia.sh" up "$build/native/badmedia" "$mnt" "$store" >/dev/null

# The disc: 40 folders of 8 files, 200 KiB each and a little more.
python3 - "$work/src" <<'EOF'
import os, random, sys
r = random.Random(27)
for f in range(40):
    d = os.path.join(sys.argv[1], "Folder%02d" % f)
    os.makedirs(d)
    for k in range(8):
        with open(os.path.join(d, "plik%d.bin" % k), "wb") as out:
            out.write(r.randbytes(200 * 1024 + r.randrange(4096)))
EOF
genisoimage -quiet -J -R -V Bench -o "$store/disc_iso" "$work/src"
size=$(stat -c %s "$store/disc_iso")
# The directory area: the primary tree's folders, then the Joliet tree's
# (isoinfo: each root's "." record). The scratch takes the last 8 sectors
# before the Joliet root and the 8 from it: folders of either tree.
jroot=$(isoinfo -i "$store/disc_iso" -J -l | sed -n '/^Directory listing of \/$/,/^$/p' | sed -n 's/.*\[ *\([0-9]*\) .*/\1/p' | head -1)
dirscratch="bad=$(((jroot - 8) * 2048))-$(((jroot + 8) * 2048 - 1))"
scattered="badevery=1299827-1-4M-40"
long="bad=30M-$((32 * 1024 * 1024 - 1))"
# Ticked: three files, the first holding one of the scattered bad sectors.
ticked_files=$(isoinfo -i "$store/disc_iso" -l -R | awk -v bad=$((4 * 1048576 + 1299827 * 3)) '
  /^Directory listing of / { dir = $4 }
  / plik[0-9].bin$/ { s = substr($0, index($0, "[") + 1) + 0; split($0, f, " "); sz = f[5]
    if (s * 2048 <= bad && bad < s * 2048 + sz) hit = dir $NF }
  END { print hit }')
ticked_files="$ticked_files /Folder07/plik3.bin /Folder33/plik5.bin"
winticked=$(for t in $ticked_files; do printf '%s ' "$(printf '%s' "$t" | tr / '\\')"; done)

name_of() {
  common="size=$size,from=disc_iso,sector=2048,slow=$slow"
  case $1 in
    healthy) echo "$common,stall=20,id=healthy.iso" ;;
    dirscratch) echo "$common,$dirscratch,stall=20,id=dirscratch.iso" ;;
    scattered) echo "$common,$scattered,stall=20,id=scattered.iso" ;;
    long) echo "$common,$long,stall=5,id=long.iso" ;;
    ticked) echo "$common,$scattered,stall=20,id=ticked.iso" ;;
    sessions) echo "size=$(stat -c %s "$store/disc_ms"),from=disc_ms,sector=2048,slow=$slow,$scattered,bad=$size-$(((sectors + 11400) * 2048 - 1)),stall=20,id=sessions.iso" ;;
    folders) echo "size=$(stat -c %s "$store/disc_folders"),from=disc_folders,sector=2048,slow=$slow,bad=$((froot * 2048))-$((froot * 2048 + 2047)),stall=20,id=folders.iso" ;;
    cdextra*) echo "size=$(stat -c %s "$store/disc_extra"),from=disc_extra,sector=2048,slow=$slow,bad=0-$(((audio + 11400) * 2048 - 1)),stall=1,id=$(echo "$1" | tr - _).iso" ;;
  esac
}

# Burned discs: a second session after the first one's gap; a CD-Extra.
sectors=$((size / 2048))
mkdir -p "$work/more/Dodane"
printf 'dopisane w drugiej sesji\n' >"$work/more/Dodane/nowy.txt"
genisoimage -quiet -J -R -V Bench -C 0,$((sectors + 11400)) -M "$store/disc_iso" -o "$work/s2" "$work/more"
cp "$store/disc_iso" "$store/disc_ms"
truncate -s $(((sectors + 11400) * 2048)) "$store/disc_ms"
cat "$work/s2" >>"$store/disc_ms"
audio=4500
genisoimage -quiet -J -R -V Extra -C 0,$((audio + 11400)) -o "$work/extra" "$work/more"
head -c $((audio * 2048)) /dev/urandom >"$store/disc_extra"
truncate -s $(((audio + 11400) * 2048)) "$store/disc_extra"
cat "$work/extra" >>"$store/disc_extra"
extra_toc="toc=0:$audio:1,$((audio + 11400)):$(($(stat -c %s "$work/extra") / 2048)):0"
# GNU ddrescue kept to the data areas as the image run's domain mapfile keeps it.
domain() {  # FIRST_DATA_END SECOND_DATA_START DISC_SIZE (bytes; FIRST_DATA_END 0: no first area)
  {
    echo "0x0 + 1"
    [ "$1" -gt 0 ] && printf '0x%x 0x%x +\n' 0 "$1"
    printf '0x%x 0x%x ?\n0x%x 0x%x +\n' "$1" $(($2 - $1)) "$2" $(($3 - $2))
  } >"$work/domain"
}

# 8,000 folders that pair with nothing once the Joliet root is gone.
python3 - "$work/many" <<'EOF'
import os, sys
for d in range(1, 8001):
    os.makedirs(os.path.join(sys.argv[1], "\u0105%04d" % d))
    with open(os.path.join(sys.argv[1], "\u0105%04d" % d, "f.txt"), "w") as out:
        out.write("x")
EOF
genisoimage -quiet -J -R -input-charset utf-8 -V Folders -o "$store/disc_folders" "$work/many" 2>/dev/null
froot=$(isoinfo -i "$store/disc_folders" -J -l | sed -n '/^Directory listing of \/$/,/^$/p' | sed -n 's/.*\[ *\([0-9]*\) .*/\1/p' | head -1)

winpath() { printf 'Z:%s\\' "$(printf '%s' "$1" | tr / '\\')"; }
mkdir -p "$work/sk"
for c in $cases; do
  name=$(name_of "$c")
  rm -f "$work/dd.iso" "$work/dd.map"
  : >"$mnt/ctl/fails"
  dom=
  case $c in
    sessions) domain "$size" $(((sectors + 11400) * 2048)) "$(stat -c %s "$store/disc_ms")" && dom="-m $work/domain" ;;
    cdextra-toc) domain 0 $(((audio + 11400) * 2048)) "$(stat -c %s "$store/disc_extra")" && dom="-m $work/domain" ;;
  esac
  # shellcheck disable=SC2086
  ddrescue -q -b 2048 $dom "$mnt/v/$name" "$work/dd.iso" "$work/dd.map" || true
  g=$(cat "$mnt/ctl/fails")
  extra=
  [ "$c" = ticked ] && extra=$winticked
  [ "$c" = cdextra-toc ] && extra=$extra_toc
  rounds=1
  if [ "$c" = healthy ]; then
    rounds=${ROUNDS:-31}
    [ "$slow" != 0 ] && rounds=${ROUNDS:-7}
  fi
  # shellcheck disable=SC2086
  ROUNDS=$rounds wine "$build/win32/discimage_bench.exe" "$(winpath "$mnt")" "$(winpath "$work/sk")" "$c" "$name" $extra |
    tr -d '\r' | tee "$work/sk.out" >&2
  line=$(cat "$work/sk.out")
  f=$(echo "$line" | sed -n 's/.*failing reads \([0-9]*\).*/\1/p')
  l=$(echo "$line" | sed -n 's/.*before list \([0-9]*\).*/\1/p')
  t=$(echo "$line" | sed -n 's/.*time \([0-9.]*\) s.*/\1/p')
  b=$(echo "$line" | sed -n 's/.*bare \([0-9.]*\) s.*/\1/p')
  w=$(echo "$line" | sed -n 's/.*bare with writes \([0-9.]*\) s.*/\1/p')
  tf=$(echo "$line" | sed -n 's/.*ticked first \([a-z-]*\).*/\1/p')
  echo "$f $g $l $t $b $w" | awk -v c="$c" -v tf="$tf" '{ printf "discimage %s: failing reads %d against %d, before list %d, time ratio %.2f (%.2f against the loop with writes)%s\n",
    c, $1, $2, $3, $4 / $5, $4 / $6, (tf == "-" ? "" : ", ticked first " tf) }'
done
