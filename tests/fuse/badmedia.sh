#!/bin/sh
# Mounts and unmounts the badmedia file system for the tests (as root).
#   badmedia.sh up BADMEDIA MOUNTPOINT STORE
#   badmedia.sh down MOUNTPOINT
# "up" replaces a mount left behind by an earlier run and empties the store;
# it fails with the reason when the file system cannot be mounted.
set -u
fail() { echo "badmedia: $*" >&2; exit 1; }

is_mounted() { grep -q " $1 fuse" /proc/mounts; }

case "${1:-}" in
  up)
    [ $# -eq 4 ] || fail "usage: badmedia.sh up BADMEDIA MOUNTPOINT STORE"
    bin=$2 mnt=$3 store=$4
    [ -x "$bin" ] || fail "the fixture program $bin is missing (build the native build first; it needs libfuse3-dev and pkg-config)"
    command -v fusermount3 >/dev/null || fail "fusermount3 is missing (install fuse3)"
    if [ ! -e /dev/fuse ]; then
      modprobe fuse 2>/dev/null || true
      [ -e /dev/fuse ] || fail "/dev/fuse is missing and the fuse module could not be loaded"
    fi
    if is_mounted "$mnt"; then fusermount3 -u "$mnt" || fail "cannot unmount the stale mount at $mnt"; fi
    rm -rf "$store" || fail "cannot empty $store"
    mkdir -p "$mnt" "$store" || fail "cannot create $mnt or $store"
    "$bin" --store="$store" "$mnt" || fail "mounting at $mnt failed (FUSE needs root and /dev/fuse)"
    [ -r "$mnt/ctl/budget" ] || fail "mounted at $mnt, but its control files are not there"
    echo "badmedia: mounted at $mnt"
    ;;
  down)
    [ $# -eq 2 ] || fail "usage: badmedia.sh down MOUNTPOINT"
    mnt=$2
    if is_mounted "$mnt"; then
      fusermount3 -u "$mnt" || fusermount3 -u -z "$mnt" || fail "cannot unmount $mnt"
    fi
    ! is_mounted "$mnt" || fail "$mnt is still mounted"
    echo "badmedia: nothing mounted at $mnt"
    ;;
  *)
    fail "usage: badmedia.sh up BADMEDIA MOUNTPOINT STORE | down MOUNTPOINT"
    ;;
esac
