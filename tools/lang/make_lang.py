#!/usr/bin/env python3
"""Writes lang/qentra.<language id> from translations.py: UTF-16LE with a byte-order mark, CRLF
lines, section "strings", one line "<index>=<text>" per Text index 0..15.

The byte-order mark is what makes GetPrivateProfileStringW read the file as UTF-16, so that every
letter arrives as written. With --check nothing is written: the exit code says whether the files
in the folder agree with translations.py.
Usage: make_lang.py [--check] [folder]   (folder defaults to lang/ at the repository root)
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import translations  # noqa: E402

TEXT_COUNT = 16
MAX_VALUE_CHARS = 1023


def file_text(texts):
    lines = ["[strings]"]
    for index in range(TEXT_COUNT):
        value = texts[index].replace("{link}", translations.LINK)
        # A line break would end the value early; surrounding blanks or quotes would be trimmed.
        if "\r" in value or "\n" in value or value != value.strip() or value.startswith('"'):
            raise ValueError("text %d cannot be stored as one INI value: %r" % (index, value))
        if len(value) > MAX_VALUE_CHARS:
            raise ValueError("text %d has %d characters" % (index, len(value)))
        lines.append("%d=%s" % (index, value))
    return "\r\n".join(lines) + "\r\n"


def file_bytes(texts):
    return b"\xff\xfe" + file_text(texts).encode("utf-16-le")


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    folder = args[0] if args else os.path.join(root, "lang")
    differing = []
    for language_id, (_, texts) in sorted(translations.LANGUAGES.items()):
        missing = [i for i in range(TEXT_COUNT) if i not in texts]
        if missing:
            raise ValueError("qentra.%s lacks texts %s" % (language_id, missing))
        path = os.path.join(folder, "qentra." + language_id)
        wanted = file_bytes(texts)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != wanted:
                        differing.append(path)
            except OSError:
                differing.append(path)
        else:
            os.makedirs(folder, exist_ok=True)
            with open(path, "wb") as f:
                f.write(wanted)
    if differing:
        print("out of date with tools/lang/translations.py (run tools/lang/make_lang.py):")
        for path in differing:
            print("  " + path)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
