#!/usr/bin/env python3
"""Largest contributors to an executable from its GNU ld link map (-Wl,-Map).

    link_map.py MAP [TOP]

Adds up the input sections that take room in the file (code, read-only data, data, unwind
tables, thread-local data; not .bss) per library, and per library member, and prints the TOP
largest of each as "contributor bytes" lines. Import stubs count under their import library.
"""
import re
import sys
from collections import Counter

# Output sections that are stored in the file.
STORED = {".text", ".rdata", ".data", ".pdata", ".xdata", ".tls", ".CRT", ".idata", ".rsrc", ".reloc"}
INPUT = re.compile(r"^\s*(\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")


def owner(path):
    """The library (or object) and the member an input section came from."""
    member = re.match(r"^(.*?)\((.*)\)$", path)
    if member:
        library, name = member.group(1), member.group(2)
    else:
        library, name = path, path
    library = library.rsplit("/", 1)[-1]
    name = name.rsplit("/", 1)[-1]
    return library, name


def main():
    path = sys.argv[1]
    top = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    libraries, members = Counter(), Counter()
    output, pending = None, None
    in_map = False
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if line.startswith("Linker script and memory map"):
                in_map = True
                continue
            if not in_map:
                continue
            if line and not line[0].isspace():
                output = line.split()[0]
                pending = None
                continue
            if output not in STORED:
                continue
            stripped = line.strip()
            # A long input section name stands alone on its line; its address, size and file follow.
            if re.match(r"^\.\S+$", stripped) or re.match(r"^\*\(", stripped):
                pending = stripped
                continue
            match = INPUT.match(line)
            if not match or (match.group(1) is None and pending is None):
                continue
            if match.group(1) and not match.group(1).startswith("."):
                continue
            pending = None
            size = int(match.group(2), 16)
            source = match.group(3).strip()
            if size == 0 or source.startswith("0x") or "=" in source:
                continue
            if " " in source:  # linker-made filler ("LONG ...", "dll stuff"), no file's
                continue
            library, member = owner(source)
            libraries[library] += size
            members[library + "(" + member + ")"] += size
    for name, size in libraries.most_common(top):
        print("library", name, size)
    for name, size in members.most_common(top):
        print("member", name, size)
    print("total", sum(libraries.values()))


if __name__ == "__main__":
    main()
