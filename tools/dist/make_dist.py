#!/usr/bin/env python3
"""Packs the release: <build>/dist/PlinthwareUpdater-<version>.zip holding one folder
PlinthwareUpdater-<version>/ with PlinthwareUpdater.exe, InfoCheck.exe, the Language files
(qentra.*), README.md, LICENSE, docs/*.md and SHA256SUMS (sha256sum's format, so
`sha256sum -c SHA256SUMS` checks an unpacked copy), and prints the programs' SHA-256.

The zip is the same byte for byte whenever it is packed from the same build: members in a fixed
order, each with the commit's time (SOURCE_DATE_EPOCH if set), mode 644 (755 for the programs)
and the same compression. With SIGN_CERT and SIGN_KEY (PEM files) in the environment the two
programs are signed with osslsigncode (Authenticode, SHA-256), time-stamped by the RFC 3161
server SIGN_TSA if given; a signature carries its signing time, so only unsigned zips repeat.

The version is the CMake project version that the build folder was configured with. Standard
library only: zip is not installed on a fresh machine.
Usage: make_dist.py <build folder> [output folder]
       make_dist.py --verify <zip> <unpack folder>   (unpacks and checks every sum; exit code 1 if not)
       make_dist.py --compare <zip> <build folder> [CA file]
           (compares a published zip with what this build packs; a signed program is compared
            with this build's program carrying the zip's signature, which must verify against
            the CA file, or the system's roots; exit code 1 unless every member matches)
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PRODUCT = "PlinthwareUpdater"
# The programs, as named in the package, and where the build puts them.
PROGRAMS = [(PRODUCT + ".exe", os.path.join("src", PRODUCT + ".exe")),
            ("InfoCheck.exe", os.path.join("tools", "infocheck", "InfoCheck.exe"))]
ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip member can carry


def project_version(build):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            m = re.match(r"CMAKE_PROJECT_VERSION:STATIC=(\S+)", line)
            if m:
                return m.group(1)
    raise SystemExit("no project version in %s/CMakeCache.txt: configure the build first" % build)


def release_files(build):
    """(name in the package, path on disk), in package order."""
    files = [(name, os.path.join(build, path)) for name, path in PROGRAMS]
    lang = os.path.join(ROOT, "lang")
    files += [(name, os.path.join(lang, name)) for name in sorted(os.listdir(lang)) if name.startswith("qentra.")]
    files += [("README.md", os.path.join(ROOT, "README.md")), ("LICENSE", os.path.join(ROOT, "LICENSE"))]
    docs = os.path.join(ROOT, "docs")
    if os.path.isdir(docs):
        files += [("docs/" + name, os.path.join(docs, name)) for name in sorted(os.listdir(docs)) if name.endswith(".md")]
    for name, path in files:
        if not os.path.isfile(path):
            raise SystemExit("missing for the release: %s (%s)" % (name, path))
    return files


def release_time():
    """SOURCE_DATE_EPOCH, else the time of the commit checked out, else the zip epoch."""
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not value:
        try:
            value = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True,
                                   text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            value = ""
    if not value.isdigit():
        return ZIP_EPOCH
    return max(int(value), ZIP_EPOCH)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def osslsigncode(*args):
    tool = shutil.which(os.environ.get("OSSLSIGNCODE", "osslsigncode"))
    if not tool:
        raise SystemExit("osslsigncode was not found (Debian: apt-get install osslsigncode)")
    return subprocess.run([tool] + list(args), capture_output=True, text=True)


def signing_keys():
    """(certificate, key, time-stamp server) from the environment, or None to ship unsigned."""
    cert, key, tsa = (os.environ.get(v, "") for v in ("SIGN_CERT", "SIGN_KEY", "SIGN_TSA"))
    if not cert and not key:
        return None
    if not cert or not key:
        raise SystemExit("signing needs both SIGN_CERT and SIGN_KEY")
    return cert, key, tsa


def sign(data, work, name, keys):
    """The program's bytes signed with keys (signing_keys())."""
    cert, key, tsa = keys
    unsigned, signed = os.path.join(work, name), os.path.join(work, name + ".signed")
    with open(unsigned, "wb") as f:
        f.write(data)
    args = ["sign", "-h", "sha256", "-certs", cert, "-key", key] + (["-ts", tsa] if tsa else [])
    run = osslsigncode(*(args + ["-in", unsigned, "-out", signed]))
    if run.returncode != 0:
        raise SystemExit("signing %s failed:\n%s%s" % (name, run.stdout, run.stderr))
    return read(signed)


def contents(build, work, keys):
    """(name, bytes) of every member in package order, SHA256SUMS last, and the programs' lines."""
    members, report = [], []
    programs = [name for name, _ in PROGRAMS]
    for name, path in release_files(build):
        data = read(path)
        if name in programs and keys:
            built = sha256(data)
            data = sign(data, work, name, keys)
            report.append("%s  %s (signed; as built: %s)" % (sha256(data), name, built))
        elif name in programs:
            report.append("%s  %s" % (sha256(data), name))
        members.append((name, data))
    sums = "".join("%s  %s\n" % (sha256(data), name) for name, data in members).encode("ascii")
    return members + [("SHA256SUMS", sums)], report


def make(build, out_dir):
    keys = signing_keys()
    version = project_version(build)
    folder = "%s-%s" % (PRODUCT, version)
    os.makedirs(out_dir, exist_ok=True)
    target = os.path.join(out_dir, folder + ".zip")
    with tempfile.TemporaryDirectory(dir=out_dir) as work:
        members, report = contents(build, work, keys)
    stamp = time.gmtime(release_time())[:6]
    programs = [name for name, _ in PROGRAMS]
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w") as z:
        for name, data in members:
            info = zipfile.ZipInfo(folder + "/" + name, date_time=stamp)
            info.create_system = 3  # Unix, so that the modes below count wherever this runs
            info.external_attr = (0o100755 if name in programs else 0o100644) << 16
            z.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(partial, target)
    print(target)
    for line in report:
        print(line)
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
    present = sorted(os.path.relpath(os.path.join(d, n), folder).replace(os.sep, "/")
                     for d, _, files in os.walk(folder) for n in files)
    expected = sorted([name for _, name in listed] + ["SHA256SUMS"])
    if present != expected:
        problems.append("files %s, SHA256SUMS lists %s" % (present, expected))
    for needed in [name for name, _ in PROGRAMS] + ["README.md", "LICENSE"]:
        if needed not in present:
            problems.append("missing " + needed)
    if not [n for n in present if n.startswith("qentra.")]:
        problems.append("no Language files")
    for p in problems:
        print(p)
    return 1 if problems else 0


def compare_program(name, shipped, built, work, ca):
    """None when the zip's program is this build's, unsigned or signed; otherwise why not."""
    if shipped == built:
        return None
    paths = {part: os.path.join(work, part + "." + name) for part in ("shipped", "built", "sig", "attached")}
    for part, data in (("shipped", shipped), ("built", built)):
        with open(paths[part], "wb") as f:
            f.write(data)
    if osslsigncode("extract-signature", "-in", paths["shipped"], "-out", paths["sig"]).returncode != 0:
        return "differs, and carries no signature"
    # attach-signature also verifies, against the system's roots: its verdict is the next step's.
    osslsigncode("attach-signature", "-sigin", paths["sig"], "-in", paths["built"], "-out", paths["attached"])
    if not os.path.isfile(paths["attached"]) or read(paths["attached"]) != shipped:
        return "differs from this build's, its signature set aside"
    run = osslsigncode(*(["verify"] + (["-CAfile", ca] if ca else []) + ["-in", paths["shipped"]]))
    if run.returncode != 0:
        why = [line.strip() for line in (run.stdout + run.stderr).splitlines() if "rror" in line or "failed" in line]
        return "is this build's, but its signature does not verify: " + "; ".join(why)
    return None


def compare(zip_path, build, ca):
    """Every member of a published zip against what this build packs, unsigned."""
    with zipfile.ZipFile(zip_path) as z:
        shipped = {n.split("/", 1)[-1]: z.read(n) for n in z.namelist() if not n.endswith("/")}
    problems = []
    with tempfile.TemporaryDirectory() as work:
        built = dict(contents(build, work, None)[0])
        for name in sorted(set(shipped) | set(built)):
            if name not in shipped or name not in built:
                problems.append("%s: only in %s" % (name, "the zip" if name in shipped else "this build"))
            elif name == "SHA256SUMS":
                continue  # it lists the shipped bytes: checked through the members below
            elif name in [n for n, _ in PROGRAMS]:
                verdict = compare_program(name, shipped[name], built[name], work, ca)
                if verdict:
                    problems.append("%s %s" % (name, verdict))
            elif shipped[name] != built[name]:
                problems.append("%s differs" % name)
    sums = shipped.get("SHA256SUMS", b"").decode("ascii", "replace").splitlines()
    if sorted(sums) != sorted("%s  %s" % (sha256(data), name) for name, data in shipped.items() if name != "SHA256SUMS"):
        problems.append("SHA256SUMS does not list the zip's members as they are")
    for p in problems:
        print(p)
    print("%s: %s" % (zip_path, "differs" if problems else "every member is this build's"))
    return 1 if problems else 0


def main(argv):
    if len(argv) == 3 and argv[0] == "--verify":
        return verify(argv[1], argv[2])
    if len(argv) in (3, 4) and argv[0] == "--compare":
        return compare(argv[1], os.path.abspath(argv[2]), argv[3] if len(argv) == 4 else None)
    if len(argv) in (1, 2) and not argv[0].startswith("-"):
        build = os.path.abspath(argv[0])
        return make(build, argv[1] if len(argv) == 2 else os.path.join(build, "dist"))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
