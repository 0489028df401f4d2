#!/usr/bin/env python3
"""Packs the release: <build>/dist/PlinthwareUpdater-<version>.zip holding one folder
PlinthwareUpdater-<version>/ with PlinthwareUpdater.exe, the Language files (qentra.*), README.md,
LICENSE and SHA256SUMS (sha256sum's format, so `sha256sum -c SHA256SUMS` checks an unpacked copy).

The version is the CMake project version that the build folder was configured with. Standard
library only: zip is not installed on a fresh machine.
Usage: make_dist.py <build folder> [output folder]
       make_dist.py --verify <zip> <unpack folder>   (unpacks and checks every sum; exit code 1 if not)
"""
import hashlib
import os
import re
import shutil
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PRODUCT = "PlinthwareUpdater"


def project_version(build):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            m = re.match(r"CMAKE_PROJECT_VERSION:STATIC=(\S+)", line)
            if m:
                return m.group(1)
    raise SystemExit("no project version in %s/CMakeCache.txt: configure the build first" % build)


def release_files(build):
    """(name in the package, path on disk), in package order."""
    files = [(PRODUCT + ".exe", os.path.join(build, "src", PRODUCT + ".exe"))]
    lang = os.path.join(ROOT, "lang")
    files += [(name, os.path.join(lang, name)) for name in sorted(os.listdir(lang)) if name.startswith("qentra.")]
    files += [("README.md", os.path.join(ROOT, "README.md")), ("LICENSE", os.path.join(ROOT, "LICENSE"))]
    for name, path in files:
        if not os.path.isfile(path):
            raise SystemExit("missing for the release: %s (%s)" % (name, path))
    return files


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def make(build, out_dir):
    version = project_version(build)
    folder = "%s-%s" % (PRODUCT, version)
    os.makedirs(out_dir, exist_ok=True)
    target = os.path.join(out_dir, folder + ".zip")
    contents = []
    for name, path in release_files(build):
        with open(path, "rb") as f:
            contents.append((name, f.read()))
    sums = "".join("%s  %s\n" % (sha256(data), name) for name, data in contents).encode("ascii")
    contents.append(("SHA256SUMS", sums))
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in contents:
            info = zipfile.ZipInfo(folder + "/" + name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
    os.replace(partial, target)
    print(target)
    return 0


def verify(zip_path, unpack_dir):
    shutil.rmtree(unpack_dir, ignore_errors=True)
    with zipfile.ZipFile(zip_path) as z:
        z.extractall(unpack_dir)
        names = z.namelist()
    folders = {n.split("/")[0] for n in names}
    if len(folders) != 1:
        print("the package must hold one folder, it holds: %s" % sorted(folders))
        return 1
    folder = os.path.join(unpack_dir, folders.pop())
    problems = []
    with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as f:
        listed = [line.rstrip("\n").split("  ", 1) for line in f if line.strip()]
    for digest, name in listed:
        with open(os.path.join(folder, name), "rb") as f:
            if sha256(f.read()) != digest:
                problems.append("sum differs: " + name)
    present = sorted(os.listdir(folder))
    expected = sorted([name for _, name in listed] + ["SHA256SUMS"])
    if present != expected:
        problems.append("files %s, SHA256SUMS lists %s" % (present, expected))
    for needed in (PRODUCT + ".exe", "README.md", "LICENSE"):
        if needed not in present:
            problems.append("missing " + needed)
    if not [n for n in present if n.startswith("qentra.")]:
        problems.append("no Language files")
    for p in problems:
        print(p)
    return 1 if problems else 0


def main(argv):
    if len(argv) == 3 and argv[0] == "--verify":
        return verify(argv[1], argv[2])
    if len(argv) in (1, 2) and not argv[0].startswith("-"):
        build = os.path.abspath(argv[0])
        return make(build, argv[1] if len(argv) == 2 else os.path.join(build, "dist"))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
