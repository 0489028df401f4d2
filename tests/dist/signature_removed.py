#!/usr/bin/env python3
"""The signed release's programs with the signature removed (osslsigncode remove-signature) are
this build's, but for what signing added and removal keeps: zero bytes up to a multiple of 8 (the
certificate table starts on one) and the PE checksum, which counts them.
Usage: signature_removed.py <signed zip> <build folder>   (exit code 1 if a program differs)
"""
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "dist"))
from make_dist import PROGRAMS, read  # noqa: E402

failures = 0
with zipfile.ZipFile(sys.argv[1]) as z, tempfile.TemporaryDirectory() as work:
    for name, path in PROGRAMS:
        signed, removed = os.path.join(work, name), os.path.join(work, "removed." + name)
        with open(signed, "wb") as f:
            f.write(z.read(next(n for n in z.namelist() if n.endswith("/" + name))))
        subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", removed], check=True, capture_output=True)
        built, back = read(os.path.join(sys.argv[2], path)), read(removed)
        at = int.from_bytes(built[0x3C:0x40], "little") + 4 + 20 + 64  # CheckSum: e_lfanew + "PE\0\0" + file header
        padding = back[len(built):]
        same = back[:at] + back[at + 4:len(built)] == built[:at] + built[at + 4:]
        good = same and len(back) % 8 == 0 and padding == bytes(len(padding)) and len(padding) < 8
        print("%s: %d bytes built, %d after removal (%d zero bytes of padding), checksum %s -> %s: %s" % (
            name, len(built), len(back), len(padding), built[at:at + 4].hex(), back[at:at + 4].hex(),
            "this build's" if good else "DIFFERENT"))
        failures += not good
sys.exit(1 if failures else 0)
