#!/usr/bin/env python3
"""Every relative link of the project's documents resolves: the file exists and, for a link with
#anchor, the target holds a heading with that anchor as GitHub makes it (lower case, punctuation
dropped, blanks as hyphens). Web addresses are not fetched. Exit 1 with one line per broken link.

    check_links.py ROOT
"""
import os
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def anchors(path):
    """The heading anchors of a Markdown file, as GitHub names them."""
    found, seen = set(), {}
    fence = False
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("```"):
                fence = not fence
            if fence or not line.startswith("#"):
                continue
            text = line.lstrip("#").strip().lower()
            slug = re.sub(r"[^\w\- ]", "", text).replace(" ", "-")
            n = seen.get(slug, 0)
            seen[slug] = n + 1
            found.add(slug if n == 0 else "%s-%d" % (slug, n))
    return found


def documents(root):
    names = [os.path.join(root, n) for n in os.listdir(root) if n.endswith(".md")]
    docs = os.path.join(root, "docs")
    if os.path.isdir(docs):
        names += [os.path.join(docs, n) for n in os.listdir(docs) if n.endswith(".md")]
    return sorted(names)


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else ".")
    broken, checked = [], 0
    for doc in documents(root):
        with open(doc, encoding="utf-8") as f:
            text = f.read()
        for number, line in enumerate(text.splitlines(), 1):
            for target in LINK.findall(line):
                if re.match(r"^[a-z]+:", target):
                    continue  # a web address or mailto: not fetched
                checked += 1
                path, _, anchor = target.partition("#")
                where = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
                name = "%s:%d: %s" % (os.path.relpath(doc, root), number, target)
                if not os.path.exists(where):
                    broken.append(name + " (no such file)")
                elif anchor and where.endswith(".md") and anchor not in anchors(where):
                    broken.append(name + " (no such heading)")
    for line in broken:
        print(line)
    print("%d links checked, %d broken" % (checked, len(broken)))
    return 1 if broken or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
