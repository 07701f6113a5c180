#!/bin/sh
# Sektorian's rescue against GNU ddrescue on the same damaged files of the
# badmedia fixture (by hand, as root, after scripts/build):
#
#   sh bench/rescue_vs_ddrescue.sh [ROUNDS [PART...]]
#
# PART is one of ddrescue, spots, realdrive (default: all three); ROUNDS
# (default 3) is how many times each tool runs each case, times are medians.
# Wine runs in a private network namespace (the program cannot reach any
# server), on its own Xvfb display.
#
# ddrescue: a 16 MiB file with three unreadable 32 KiB areas (at 4, 8 and 12
#    MiB), each failing read stalling 20 ms: `ddrescue -b 2048` and Sektorian's
#    rescue at level 0 through the real main window; the rescued bytes and the
#    failing reads (the fixture's ctl/fails). Bench line:
#      rescue vs ddrescue: time ratio R, rescued S of D bytes, failing reads F against G
# spots: 1,000 and 10,000 spots of 100 bytes, one every 4 KiB, at level 4:
#    time per spot, map areas and peak working set; a cost growing with the
#    number of spots shows as a per-spot ratio (10,000 against 1,000) above 1.
#    Bench line:
#      many spots: 1000 in T1 s, 10000 in T2 s, per-spot ratio P, map areas A, peak working set W MiB
# realdrive: the medium as a drive reads a disc (sector=2048: a read touching
#    a bad 2048-byte sector fails whole) with a stall per failing read, four
#    shapes of damage, ddrescue -b 2048 against Sektorian at level 0 through
#    the real main window (one copy run per shape; ddrescue on the files one
#    after another). One line per shape:
#      realdrive SHAPE: failing reads F against G, before readable F1 against G1, time ratio R
#    F and G are the failing reads of Sektorian and ddrescue (ctl/fails); F1
#    and G1 those made before every readable byte away from the damage (outside
#    the 64 KiB blocks holding an unreadable byte) had been read, from the
#    fixture's trace of the reads (bench/realdrive_trace.py); R is Sektorian's
#    time (from "Rozpocznij" to the run's end) over ddrescue's. For the batch
#    also:
#      realdrive batch: healthy files whole after F2 failing reads against G2
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SEKTORIAN_BUILD:-$root/build}
rounds=${1:-3}
[ $# -gt 0 ] && shift
parts=${*:-ddrescue spots realdrive}
mnt=$build/bench-media
store=$build/bench-media-store
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$build/win32/wineprefix} WINEDEBUG=-all

# Whatever happens: the command under way (with its process group: Xvfb),
# Wine's processes of this prefix, the mount and the work folder go.
child=
cleanup() {
  [ -z "$child" ] || kill -- "-$child" 2>/dev/null || kill "$child" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  sh "$root/tests/fuse/badmedia.sh" down "$mnt" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
# Runs a command in the background, so that a signal reaches the trap at
# once, and waits for it.
run() {
  "$@" &
  child=$!
  wait "$child" || { rc=$?; child=; return $rc; }
  child=
}

sh "$root/tests/fuse/badmedia.sh" up "$build/native/badmedia" "$mnt" "$store" >/dev/null

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The value after "WORD" in lines of a report, one a line ("time", "failing reads", ...).
field() { sed -n "s/.*$1 \([0-9.]*\).*/\1/p"; }

# The bytes a mapfile names as rescued, as ddrescuelog reads it.
rescued_by() {
  ddrescuelog -A "$1" | grep -v '^#' | tail -n +2 | {
    s=0
    while read -r pos size st rest; do [ "$st" = "+" ] && s=$((s + size)); done
    echo "$s"
  }
}

# ddrescue_run TAG NAME...: one ddrescue -b 2048 on each file in turn, as one
# timed run; prints "ddrescue TAG: time T s, rescued S bytes, failing reads F"
# (and adds it to $work/dd.out), and keeps the fixture's trace of its reads
# in $work/TAG.trace.
ddrescue_run() {
  tag=$1
  shift
  rm -rf "$work/dd"
  mkdir -p "$work/dd"
  : >"$mnt/ctl/fails"
  : >"$mnt/ctl/trace"
  t0=$(date +%s.%N)
  for name in "$@"; do run ddrescue -q -b 2048 "$mnt/v/$name" "$work/dd/$name" "$work/dd/$name.map" || true; done
  t1=$(date +%s.%N)
  fails=$(cat "$mnt/ctl/fails")
  cat "$mnt/ctl/trace" >"$work/$tag.trace"
  echo off >"$mnt/ctl/trace"
  rescued=0
  for name in "$@"; do rescued=$((rescued + $(rescued_by "$work/dd/$name.map"))); done
  echo "$t0 $t1 $rescued $fails" |
    awk -v tag="$tag" '{ printf "ddrescue %s: time %.3f s, rescued %d bytes, failing reads %d\n", tag, $2 - $1, $3, $4 }' |
    tee -a "$work/dd.out"
}

# Sektorian writes where ddrescue does: a folder of the real disk.
winpath() { printf 'Z:%s\\' "$(printf '%s' "$1" | tr / '\\')"; }  # printf: sh's echo reads "\t"
mkdir -p "$work/sektorian"
# sektorian LEVEL ROUNDS RUN...: see bench/rescue_ddrescue_bench.cpp; the
# lines go to $work/sk.out too.
sektorian() {
  run setsid unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
    xvfb-run -a -s "-screen 0 1280x1024x24" wine "$build/win32/rescue_ddrescue_bench.exe" "$(winpath "$mnt")" \
    "$(winpath "$work/sektorian")" "$@" >"$work/bench.out"
  tr -d '\r' <"$work/bench.out" >"$work/sk.out"
  cat "$work/sk.out"
}

case " $parts " in *" ddrescue "*)
  damaged='size=16M,bad=4M-4227071,bad=8M-8421375,bad=12M-12615679,stall=20.bin'
  : >"$work/dd.out"
  for r in $(seq "$rounds"); do ddrescue_run damaged "$damaged"; done
  sektorian 0 "$rounds" "$damaged"
  ddt=$(grep '^ddrescue' "$work/dd.out" | field time | median)
  skt=$(grep '^sektorian' "$work/sk.out" | field time | median)
  echo "ddrescue median: $ddt s; Sektorian median: $skt s"
  echo "$skt $ddt $(field rescued <"$work/sk.out" | median) $(field rescued <"$work/dd.out" | median) \
    $(field 'failing reads' <"$work/sk.out" | median) $(field 'failing reads' <"$work/dd.out" | median)" |
    awk '{ printf "rescue vs ddrescue: time ratio %.2f, rescued %d of %d bytes, failing reads %d against %d\n", $1 / $2, $3, $4, $5, $6 }'
esac

case " $parts " in *" spots "*)
  spots1k='size=4000K,badevery=4K-100-2K-1000.bin'
  spots10k='size=40000K,badevery=4K-100-2K-10000.bin'
  sektorian 4 "$rounds" "$spots1k" "$spots10k"
  t1k=$(grep '^sektorian size=4000K' "$work/sk.out" | field time | median)
  t10k=$(grep '^sektorian size=40000K' "$work/sk.out" | field time | median)
  areas=$(grep '^sektorian size=40000K' "$work/sk.out" | field 'map areas' | tail -1)
  wset=$(grep '^sektorian size=40000K' "$work/sk.out" | field 'peak working set' | tail -1)
  echo "$t1k $t10k $areas $wset" |
    awk '{ printf "many spots: 1000 in %.2f s, 10000 in %.2f s, per-spot ratio %.2f, map areas %d, peak working set %.1f MiB\n", $1, $2, ($2 / 10000) / ($1 / 1000), $3, $4 }'
esac

case " $parts " in *" realdrive "*)
  # Each shape's stall keeps its failing reads at 10-25 s a round for either
  # tool, far above everything else the run costs (see the README).
  s=sector=2048
  areas="size=16M,bad=4M-4227071,bad=8M-8421375,bad=12M-12615679,$s,stall=200.bin"
  # 100 single bad sectors over 32 MiB: four series of 25 with strides that
  # share no pattern with each other or the 64 KiB grid.
  scattered="size=32M,badevery=1299827-1-70001-25,badevery=1301081-1-400003-25,badevery=1333337-1-777777-25"
  scattered="$scattered,badevery=1290001-1-1111111-25,$s,stall=50.bin"
  long="size=28M,bad=5000001-13388608,$s,stall=5.bin"  # 8 MiB from an odd offset
  batch="size=16M,bad=3000001-7194304,$s,stall=10,id=scratch.bin size=8M,salt=1,$s,id=healthy1.bin"
  batch="$batch size=8M,salt=2,$s,id=healthy2.bin"  # names hold no blanks: a shape's files, one run
  shapes="areas scattered long batch"
  : >"$work/dd.out"
  for shape in $shapes; do
    eval "set -- \$$shape"
    for r in $(seq "$rounds"); do
      ddrescue_run "$shape-$r" "$@"
      python3 "$root/bench/realdrive_trace.py" "$work/$shape-$r.trace" "$@" >"$work/$shape-$r.dd"
    done
  done
  sektorian 0 "$rounds" "$areas" "$scattered" "$long" "$(echo "$batch" | tr ' ' '|')"
  # The median of column N of FILE (lines of realdrive_trace.py); "never" (a
  # byte never read) counts as more than any number.
  column() { awk -v n="$1" '{ print ($n == "never" ? 999999999999 : $n) }' "$2" | median | sed 's/^999999999999$/never/'; }
  k=0
  for shape in $shapes; do
    eval "set -- \$$shape"
    : >"$work/$shape.sk"
    for r in $(seq 0 $((rounds - 1))); do
      python3 "$root/bench/realdrive_trace.py" "$work/sektorian/trace-$k-$r.txt" "$@" >>"$work/$shape.sk"
    done
    cat "$work/$shape"-*.dd >"$work/$shape.dd"
    skl=$(grep '^sektorian' "$work/sk.out" | sed -n "$((k * rounds + 1)),$((k * rounds + rounds))p")
    ddl=$(grep "^ddrescue $shape-" "$work/dd.out")
    echo "$(echo "$skl" | field 'failing reads' | median) $(echo "$ddl" | field 'failing reads' | median)" \
      "$(column 1 "$work/$shape.sk") $(column 1 "$work/$shape.dd")" \
      "$(echo "$skl" | field time | median) $(echo "$ddl" | field time | median)" |
      awk -v shape="$shape" '{ printf "realdrive %s: failing reads %d against %d, before readable %s against %s, time ratio %.2f\n", shape, $1, $2, $3, $4, $5 / $6 }'
    if [ "$shape" = batch ]; then
      echo "realdrive batch: healthy files whole after $(column 2 "$work/$shape.sk") failing reads against" \
        "$(column 2 "$work/$shape.dd")"
    fi
    k=$((k + 1))
  done
esac
