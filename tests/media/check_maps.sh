#!/bin/sh
# After the media tests: the read maps the program wrote on the badmedia
# fixture, checked with GNU ddrescue's own tools, and the maps ddrescue
# writes of the same files opened as the read map window opens them.
#   check_maps.sh MOUNTPOINT MAPS MAP_TOTALS
# MAPS holds what the fault matrix kept: "manifest" (one line per map:
# "LEVEL RESCUED NAME", RESCUED being the program's own count of the bytes
# its map names as read, NAME the fixture file in v/) and NAME.map. For each:
# - ddrescuelog must read the map ("-l+" lists its rescued blocks and fails
#   on a malformed map) and count the program's rescued total;
# - `ddrescue -b 2048` rescues the same file from the mount; at level 0 every
#   byte it rescued must be rescued in the program's map too (ddrescuelog
#   "-y" ANDs the two, "-P" compares), and the program's total be at least its.
# Then every map ddrescue wrote there (at level 0 also three runs that leave
# areas untrimmed, unscraped and untried: -N -n, -n, -s HALF) is opened by
# MAP_TOTALS (tests/tools/map_totals.cpp, under Wine), which must count the
# bytes of each status and the places of unreadable bytes as ddrescuelog reads
# them ("-A" writes the map's areas back).
# Prints one line per map and "maps: N checked, M failing"; fails on any.
set -u
mnt=$1 maps=$2 totals=$3
[ -s "$maps/manifest" ] || { echo "check_maps: $maps/manifest is missing: the media tests kept no maps" >&2; exit 1; }
command -v ddrescue >/dev/null && command -v ddrescuelog >/dev/null ||
  { echo "check_maps: ddrescue or ddrescuelog is missing (scripts/setup installs gddrescue)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The bytes a map names as rescued, as ddrescuelog reads it ("-A" writes its areas back).
rescued_by() {
  ddrescuelog -A "$1" 2>/dev/null | grep -v '^#' | tail -n +2 | {
    s=0
    while read -r pos size st rest; do [ "$st" = "+" ] && s=$((s + size)); done
    echo "$s"
  }
}

# The bytes of each status and the places of unreadable bytes (a run of areas
# not read is one place; it counts when it holds a '-'), as ddrescuelog reads
# the map; the line map_totals prints.
counts_by() {
  ddrescuelog -A "$1" 2>/dev/null | grep -v '^#' | tail -n +2 | {
    size=0 got=0 untried=0 narrow=0 bad=0 places=0 inbad=0
    while read -r pos len st rest; do
      size=$((size + len))
      case $st in
        +) got=$((got + len)); places=$((places + inbad)); inbad=0 ;;
        \?) untried=$((untried + len)) ;;
        -) bad=$((bad + len)); inbad=1 ;;
        *) narrow=$((narrow + len)) ;;
      esac
    done
    echo "size $size read $got untried $untried narrow $narrow bad $bad places $((places + inbad))"
  }
}

mkdir "$work/dd"
checked=0 failing=0
while read -r level rescued name; do
  checked=$((checked + 1))
  map=$maps/$name.map
  problem=""
  if ! ddrescuelog -l+ "$map" >/dev/null 2>"$work/err"; then
    problem="ddrescuelog cannot read it: $(cat "$work/err")"
  elif [ "$(rescued_by "$map")" != "$rescued" ]; then
    problem="ddrescuelog counts $(rescued_by "$map") rescued bytes, the program $rescued"
  else
    rm -f "$work/out" "$work/dd.map"
    ddrescue -q -b 2048 "$mnt/v/$name" "$work/out" "$work/dd.map" 2>/dev/null
    theirs=$(rescued_by "$work/dd.map")
    cp "$work/dd.map" "$work/dd/$checked.map"
    if [ "$level" = 0 ]; then
      half=$(($(stat -c %s "$work/out") / 2))
      for run in "N -N -n" "n -n" "s -s $half"; do
        set -- $run
        tag=$1
        shift
        rm -f "$work/out" "$work/part.map"
        ddrescue -q -b 2048 "$@" "$mnt/v/$name" "$work/out" "$work/part.map" 2>/dev/null
        cp "$work/part.map" "$work/dd/$checked$tag.map"
      done
    fi
    if [ "$level" = 0 ]; then
      ddrescuelog -b1 -y "$map" "$work/dd.map" >"$work/both.map" 2>"$work/err"
      if ! ddrescuelog -b1 -P "$work/dd.map" "$work/both.map" >/dev/null 2>>"$work/err"; then
        problem="ddrescue rescued bytes that the program did not"
      elif [ "$rescued" -lt "$theirs" ]; then
        problem="the program rescued $rescued bytes, ddrescue $theirs"
      fi
    fi
  fi
  if [ -n "$problem" ]; then
    failing=$((failing + 1))
    echo "map of $name (level $level): $problem"
  else
    echo "map of $name (level $level): read by ddrescuelog, $rescued bytes rescued (ddrescue -b 2048: $theirs)"
  fi
done <"$maps/manifest"
rm -f "$maps/manifest"  # consumed: a later run checks only the maps its own tests kept

# ddrescue's maps, opened as the map window opens them: one Wine start for all.
ls "$work/dd" | sort >"$work/list"
opened=0
if [ -s "$work/list" ]; then
  while read -r file; do printf 'Z:%s\0' "$(echo "$work/dd/$file" | tr / '\\')"; done <"$work/list" |
    xargs -0 wine "$totals" 2>/dev/null | tr -d '\r' >"$work/theirs-opened"
  while read -r file; do
    opened=$((opened + 1))
    got=$(sed -n "${opened}p" "$work/theirs-opened")
    want=$(counts_by "$work/dd/$file")
    checked=$((checked + 1))
    if [ "$got" != "$want" ]; then
      failing=$((failing + 1))
      echo "ddrescue's map $file: the map window counts \"$got\", ddrescuelog \"$want\""
    fi
  done <"$work/list"
  echo "ddrescue's maps: $opened opened as the map window opens them"
fi
echo "maps: $checked checked, $failing failing"
[ "$checked" -gt 0 ] && [ "$failing" -eq 0 ]
