#!/bin/sh
# After the media tests: the read maps the program wrote on the badmedia
# fixture, checked with GNU ddrescue's own tools.
#   check_maps.sh MOUNTPOINT MAPS
# MAPS holds what the fault matrix kept: "manifest" (one line per map:
# "LEVEL RESCUED NAME", RESCUED being the program's own count of the bytes
# its map names as read, NAME the fixture file in v/) and NAME.map. For each:
# - ddrescuelog must read the map ("-l+" lists its rescued blocks and fails
#   on a malformed map) and count the program's rescued total;
# - `ddrescue -b 2048` rescues the same file from the mount; at level 0 every
#   byte it rescued must be rescued in the program's map too (ddrescuelog
#   "-y" ANDs the two, "-P" compares), and the program's total be at least its.
# Prints one line per map and "maps: N checked, M failing"; fails on any.
set -u
mnt=$1 maps=$2
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
echo "maps: $checked checked, $failing failing"
[ "$checked" -gt 0 ] && [ "$failing" -eq 0 ]
