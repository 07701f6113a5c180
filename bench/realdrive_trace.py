#!/usr/bin/env python3
"""Reads the badmedia fixture's trace of one rescue run (ctl/trace) for
bench/rescue_vs_ddrescue.sh:

    realdrive_trace.py TRACE NAME...

NAME are the run's files of the fixture's v/ folder, in the order listed.
Prints "F1 F2":

F1  the failing reads made before every readable byte away from the damage
    was read: away from the damage are the bytes outside the 64 KiB blocks
    (on the 64 KiB grid from the file's start) that hold an unreadable byte;
    "never" when some such byte was never read.
F2  the failing reads made before every byte of the healthy files listed after
    the first one was read ("-" when there are none).
"""
import bisect
import sys

BLOCK = 64 * 1024


def number(text):
    scale = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}.get(text[-1:], 1)
    return int(text[:-1] if scale > 1 else text) * scale


def damage(name):
    """The file's size and its unreadable bytes as [first, last] ranges."""
    size, bad = 0, []
    for item in name.rsplit(".", 1)[0].split(","):
        key, _, value = item.partition("=")
        if key == "size":
            size = number(value)
        elif key == "bad":
            a, b = value.split("-")
            bad.append((number(a), number(b)))
        elif key == "badevery":
            parts = [number(v) for v in value.split("-")] + [0, 0]
            stride, length, start, count = parts[:4]
            k = 0
            while start + k * stride < size and (count == 0 or k < count):
                bad.append((start + k * stride, start + k * stride + length - 1))
                k += 1
    return size, [(a, min(b, size - 1)) for a, b in bad if a < size]


def away(size, bad):
    """The bytes outside the 64 KiB blocks holding an unreadable byte, as
    sorted [start, end) ranges."""
    blocks = sorted({k for a, b in bad for k in range(a // BLOCK, b // BLOCK + 1)})
    ranges, at = [], 0
    for k in blocks:
        if k * BLOCK > at:
            ranges.append([at, k * BLOCK])
        at = (k + 1) * BLOCK
    if at < size:
        ranges.append([at, size])
    return ranges


class Unread:
    """Byte ranges of some files not read yet."""

    def __init__(self):
        self.ranges = {}  # name -> sorted [start, end) ranges
        self.left = 0

    def add(self, name, ranges):
        self.ranges[name] = ranges
        self.left += sum(e - s for s, e in ranges)

    def read(self, name, start, end):
        ranges = self.ranges.get(name)
        if not ranges:
            return
        i = max(bisect.bisect_right([s for s, _ in ranges], start) - 1, 0)
        out = ranges[:i]
        for s, e in ranges[i:]:
            if s >= end:
                out.append([s, e])
                continue
            if e <= start:
                out.append([s, e])
                continue
            self.left -= min(e, end) - max(s, start)
            if s < start:
                out.append([s, start])
            if e > end:
                out.append([end, e])
        self.ranges[name] = out


def main():
    trace, names = sys.argv[1], sys.argv[2:]
    readable, healthy = Unread(), Unread()
    sizes = {}
    for i, name in enumerate(names):
        size, bad = damage(name)
        sizes[name] = size
        readable.add(name, away(size, bad))
        if i > 0 and not bad:
            healthy.add(name, [[0, size]])
    f1 = "never" if readable.left else 0
    f2 = "-" if not healthy.ranges else "never" if healthy.left else 0
    fails = 0
    with open(trace) as lines:
        for line in lines:
            seq, result, offset, size, path = line.rstrip("\n").split(" ", 4)
            name = path.rsplit("/", 1)[-1]
            if result == "fail":
                fails += 1
            if result != "ok" or name not in sizes:
                continue
            start = int(offset)
            end = min(start + int(size), sizes[name])
            for unread in (readable, healthy):
                had = unread.left
                unread.read(name, start, end)
                if had and not unread.left:
                    if unread is readable:
                        f1 = fails
                    else:
                        f2 = fails
    print(f1, f2)


if __name__ == "__main__":
    main()
