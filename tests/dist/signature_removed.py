#!/usr/bin/env python3
"""The signed release's programs with the signature removed (osslsigncode remove-signature) are
this build's programs, except for what signing added and removal keeps: zero bytes up to a
multiple of 8 (the certificate table starts on one), and the PE checksum, which counts them.
Usage: signature_removed.py <signed zip> <build folder>   (exit code 1 if a program differs)
"""
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "dist"))
import make_dist  # noqa: E402  (PROGRAMS, read)


def checksum_at(image):
    """Offset of the optional header's CheckSum: e_lfanew, then the signature and file header."""
    return int.from_bytes(image[0x3C:0x40], "little") + 4 + 20 + 64


def main(zip_path, build):
    failures = 0
    with zipfile.ZipFile(zip_path) as z, tempfile.TemporaryDirectory() as work:
        for name, path in make_dist.PROGRAMS:
            signed, removed = os.path.join(work, name), os.path.join(work, "removed." + name)
            with open(signed, "wb") as f:
                f.write(z.read(next(n for n in z.namelist() if n.endswith("/" + name))))
            subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", removed],
                           check=True, capture_output=True)
            built, back = make_dist.read(os.path.join(build, path)), make_dist.read(removed)
            at, padding = checksum_at(built), back[len(built):]
            same = back[:at] + back[at + 4:len(built)] == built[:at] + built[at + 4:]
            padded = len(back) % 8 == 0 and len(padding) < 8 and padding == bytes(len(padding))
            print("%s: %d bytes built, %d signed, %d after removal (%d zero bytes of padding), checksum %s -> %s: %s"
                  % (name, len(built), len(make_dist.read(signed)), len(back), len(padding), built[at:at + 4].hex(),
                     back[at:at + 4].hex(), "this build's" if same and padded else "DIFFERENT"))
            failures += not (same and padded)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]) if len(sys.argv) == 3 else 2)
