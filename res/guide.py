#!/usr/bin/env python3
"""Builds the user's guide that goes into the program: the page of
res/guide/ with every picture it shows (<img src="...png">, relative to the
page) inlined as a data: address, so that the one page works from anywhere
with no network.

    guide.py SOURCE.html OUTPUT.html

A picture that is missing is left as it is, with a warning: scripts/screenshots
draws the pictures into docs/img/ with the program built, and the test
doc_links fails while one is missing."""
import base64
import os
import re
import sys

PICTURE = re.compile(r"""(<img\b[^>]*\bsrc\s*=\s*")([^"]+\.png)(")""", re.I)


def inline(page, folder):
    def replace(m):
        path = os.path.normpath(os.path.join(folder, m.group(2)))
        try:
            with open(path, "rb") as f:
                data = base64.b64encode(f.read()).decode("ascii")
        except OSError as e:
            print(f"guide.py: warning: picture {m.group(2)} left out: {e.strerror}", file=sys.stderr)
            return m.group(0)
        return m.group(1) + "data:image/png;base64," + data + m.group(3)

    return PICTURE.sub(replace, page)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: guide.py SOURCE.html OUTPUT.html")
    source, output = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        page = f.read()
    page = inline(page, os.path.dirname(os.path.abspath(source)))
    temporary = output + ".new"
    with open(temporary, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
