#!/usr/bin/env python3
"""Checks that every relative link and picture of the documents names a file
that exists, and that a link into a Markdown file's heading names a heading it
has. Documents: README.md, docs/*.md and the user's guide (res/guide/*.html).
Prints each broken link with its document and line; exits 1 when there is one.

    check_links.py SOURCE_DIR
"""
import glob
import os
import re
import sys

MD_LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
HTML_LINK = re.compile(r"""\b(?:href|src)\s*=\s*["']([^"']+)["']""")


def slug(heading):
    """A heading's anchor as GitHub makes it."""
    text = heading.strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    if not path.endswith(".md"):
        return None
    with open(path, encoding="utf-8") as f:
        return {slug(m.group(1)) for m in re.finditer(r"^#+\s+(.*)$", f.read(), re.M)}


def links(path):
    pattern = HTML_LINK if path.endswith(".html") else MD_LINK
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            for m in pattern.finditer(line):
                yield number, m.group(1)


def check(root):
    documents = [os.path.join(root, "README.md")]
    documents += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    documents += sorted(glob.glob(os.path.join(root, "res", "guide", "*.html")))
    broken = []
    for doc in documents:
        if not os.path.exists(doc):
            broken.append(f"{os.path.relpath(doc, root)}: the document is missing")
            continue
        for number, target in links(doc):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # http:, mailto:, data: ...
            path, _, anchor = target.partition("#")
            where = f"{os.path.relpath(doc, root)}:{number}: {target}"
            full = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
            if not os.path.exists(full):
                broken.append(f"{where}: no such file")
            elif anchor:
                names = anchors(full)
                if names is not None and anchor not in names:
                    broken.append(f"{where}: no such heading")
    return documents, broken


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    documents, broken = check(os.path.abspath(root))
    for b in broken:
        print(b)
    print(f"doc links: {len(documents)} documents, {len(broken)} broken links")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
