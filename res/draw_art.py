#!/usr/bin/env python3
"""Draws Sektorian's pictures: the program icon (a disc, eight sizes, 32-bit),
the three 16x16 event-log icons, and the resume window's 128x128 logo."""
import math
import struct
import sys
import os


def render(size, shade, ss=4):
    """Supersampled RGBA picture; shade(x, y) in 0..1 units returns (r,g,b,a) or None."""
    px = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    c = shade((x + (sx + 0.5) / ss) / size, (y + (sy + 0.5) / ss) / size)
                    if c:
                        a = c[3] / 255.0
                        acc[0] += c[0] * a
                        acc[1] += c[1] * a
                        acc[2] += c[2] * a
                        acc[3] += a
            n = ss * ss
            a = acc[3] / n
            if a > 0:
                row.append((int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]), int(a * 255 + 0.5)))
            else:
                row.append((0, 0, 0, 0))
        px.append(row)
    return px


def disc(u, v):
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy)
    if r > 0.47:
        return None
    if r < 0.07:
        return None  # the hole
    if r < 0.17:
        return (200, 205, 215, 255)  # clear hub
    ang = math.atan2(dy, dx)
    # a rainbow sheen over silver
    sheen = 0.5 + 0.5 * math.cos(2 * ang + 0.8)
    base = 175 + int(60 * sheen)
    tint = (int(base * 0.85 + 30 * math.cos(ang)), int(base * 0.9), min(255, base + 20))
    if r > 0.45:
        return (110, 115, 130, 255)
    # a crack across the disc: the damaged medium the program rescues files from
    if abs(dy - 0.35 * dx - 0.12) < 0.012 and dx > 0.02:
        return (60, 60, 70, 255)
    return tint + (255,)


def event_icon(kind):
    colours = {0: (214, 40, 40), 1: (46, 160, 60), 2: (40, 110, 210)}
    fill = colours[kind]

    def shade(u, v):
        dx, dy = u - 0.5, v - 0.5
        if math.hypot(dx, dy) > 0.47:
            return None
        white = (255, 255, 255, 255)
        if kind == 0:  # cross
            if (abs(dx - dy) < 0.07 or abs(dx + dy) < 0.07) and abs(dx) < 0.22 and abs(dy) < 0.22:
                return white
        elif kind == 1:  # tick
            if (abs(dy - (dx + 0.08) * 1.0 - 0.0) < 0.07 and -0.24 < dx < -0.04) or \
               (abs(dy + 1.3 * dx - 0.02) < 0.08 and -0.06 < dx < 0.25):
                if dy > -0.25 and dy < 0.2:
                    return white
        else:  # "i"
            if abs(dx) < 0.065 and -0.05 < dy < 0.28:
                return white
            if math.hypot(dx, dy + 0.19) < 0.075:
                return white
        return fill + (255,)
    return render(16, shade, 6)


def ico_image(px):
    size = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''
    for y in reversed(range(size)):
        rows += b''.join(struct.pack('BBBB', b, g, r, a) for (r, g, b, a) in px[y])
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for y in reversed(range(size)):
        bits = bytearray(mask_row)
        for x in range(size):
            if px[y][x][3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + rows + mask


def write_ico(path, images):
    data = [ico_image(p) for p in images]
    out = struct.pack('<HHH', 0, 1, len(data))
    offset = 6 + 16 * len(data)
    for p, d in zip(images, data):
        s = len(p)
        out += struct.pack('<BBBBHHII', s if s < 256 else 0, s if s < 256 else 0, 0, 0, 1, 32, len(d), offset)
        offset += len(d)
    with open(path, 'wb') as f:
        f.write(out + b''.join(data))


def write_bmp24(path, px):
    size = len(px)
    row_bytes = (size * 3 + 3) & ~3
    body = b''
    for y in reversed(range(size)):
        row = b''.join(struct.pack('BBB', b, g, r) for (r, g, b) in px[y])
        body += row + b'\0' * (row_bytes - len(row))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + body)


def logo():
    """The resume window's logo: a disc with an arrow that carries on past a
    gap, on a magenta ground that is drawn transparent."""
    size = 128
    ground = (255, 0, 255)
    pic = render(size, disc, 3)
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            r, g, b, a = pic[y][x]
            u, v = x / size, y / size
            # the arrow: a green band and head along the lower right
            if 0.58 < v < 0.68 and 0.30 < u < 0.80:
                row.append((40, 150, 60))
                continue
            if u >= 0.78 and abs(v - 0.63) < (0.98 - u) * 0.9:
                row.append((40, 150, 60))
                continue
            if a == 0:
                row.append(ground)
            else:
                t = a / 255.0
                row.append(tuple(int(c * t + gr * (1 - t)) for c, gr in zip((r, g, b), ground)))
        out.append(row)
    return out


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    sizes = [128, 96, 72, 64, 48, 32, 24, 16]
    write_ico(os.path.join(out, 'Sektorian.ico'), [render(s, disc, 3 if s > 48 else 4) for s in sizes])
    for kind, name in enumerate(['event_error.ico', 'event_success.ico', 'event_info.ico']):
        write_ico(os.path.join(out, name), [event_icon(kind)])
    write_bmp24(os.path.join(out, 'logo.bmp'), logo())
    # a marker for the build's dependency on the event icons
    with open(os.path.join(out, 'events.bmp'), 'wb') as f:
        f.write(b'')


if __name__ == '__main__':
    main()
