#!/usr/bin/env python3
"""Checks that the includes of src/ run one way: a folder includes only folders of a lower layer
(and its own files). Prints every include that runs back up and exits 1 when there is one.

    check_layers.py SRC_DIR
"""
import pathlib
import re
import sys

# Bottom first; folders on one line are one layer and may not include each other.
LAYERS = [("res", "base"), ("text", "system", "info"), ("download",), ("update",), ("ui",), ("app",)]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
# Folders that may include less than their layer allows: info, the Info-file library InfoCheck
# shares, builds on base alone.
ONLY = {"info": {"base"}}
# Both forms: src is a public include folder, so <app/workflow.h> compiles as well as "app/...".
# An angle include of a folder that is no layer is a system header.
INCLUDE = re.compile(r'^\s*#\s*include\s*(["<])([^/">]+)/[^">]*[">]')


def main(src):
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".rc", ".in") or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in RANK:
            faults.append(f"{path}: folder '{folder}' belongs to no layer")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or match.group(2) == folder or (match.group(1) == "<" and match.group(2) not in RANK):
                continue
            target = match.group(2)
            if target not in RANK or RANK[target] >= RANK[folder] or target not in ONLY.get(folder, {target}):
                faults.append(f"{path}:{number}: {folder}/ includes {target}/: {line.strip()}")
    for fault in faults:
        print(fault)
    order = " -> ".join(", ".join(folders) for folders in LAYERS)
    print(f"{len(faults)} include(s) against the layers ({order})")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")))
