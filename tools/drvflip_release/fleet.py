# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""The fleet scripts of a release, made from fleet/ and read back from a zip: the command line
(python3 -B -m drvflip_release.fleet, with tools/ on PYTHONPATH).

  fleet names SOURCE
      The names of the scripts that SOURCE (the tree's fleet/ folder) makes, one a line.
  fleet make SOURCE DIR
      Writes each script into DIR, with CR LF line ends. The scripts are made of the *.ps1 and
      *.cmd files of SOURCE but run.ps1, and only of those: any other file there (a README) ships
      in no release. A source that holds @TYPE@ or
      @COMMAND@ gives one script per driver type (intune-detect.ps1 gives intune-detect-pcsc.ps1
      with PCSC and pcsc, and intune-detect-tavi.ps1 with TAVI and tavi): the type is written in
      the script, never mapped from one case to the other where it runs. A line "#@run.ps1" is
      replaced by the lines of fleet/run.ps1 after its opening comment. Refuses any other @WORD@,
      any byte that is not printable ASCII, and an unknown #@ line.
  fleet unsign SCRIPT TEXT SIGNATURE
      Splits a PowerShell script as it is shipped: writes its text without the signature block
      to TEXT and prints "unsigned", or writes the signature (DER) to SIGNATURE as well and
      prints "signed". Anything else is refused with one line, exit 1: a block that does not
      end the file, two blocks, a block whose lines are not base64.
"""

import argparse
import base64
import binascii
import os
import re
import sys

# The driver types: the word the reader reports, and drvflip's command for it.
TYPES = (("PCSC", "pcsc"), ("TAVI", "tavi"))
SHARED = "run.ps1"
INCLUDE = "#@" + SHARED
BEGIN = "\r\n# SIG # Begin signature block\r\n"
END = "# SIG # End signature block\r\n"


class Refused(Exception):
    """A source or a shipped script that is not as it must be."""


def _sources(source):
    return sorted(n for n in os.listdir(source) if n != SHARED and n.endswith((".ps1", ".cmd")))


def _per_type(text):
    return "@TYPE@" in text or "@COMMAND@" in text


def _read(path):
    with open(path, "rb") as f:
        data = f.read()
    bad = [b for b in data if not (32 <= b < 127 or b in (9, 10))]
    if bad:
        raise Refused(f"{path}: byte 0x{bad[0]:02X} is not printable ASCII (Windows PowerShell 5.1 "
                      "reads a script without a byte order mark in the system's code page)")
    return data.decode("ascii")


def _shared(source):
    lines = _read(os.path.join(source, SHARED)).split("\n")
    # Its opening comment speaks of the file itself: the lines after it are shared.
    start = 0
    while start < len(lines) and lines[start].startswith("#"):
        start += 1
    while start < len(lines) and not lines[start].strip():
        start += 1
    return "\n".join(lines[start:]).rstrip("\n")


def names(source):
    return list(render(source))


def render(source):
    """{name: text with CR LF line ends} of every script that SOURCE makes."""
    shared = None
    made = {}
    for n in _sources(source):
        text = _read(os.path.join(source, n))
        lines = []
        for line in text.split("\n"):
            if line == INCLUDE:
                if shared is None:
                    shared = _shared(source)
                lines.append(shared + "\n")
            elif line.startswith("#@"):
                raise Refused(f"{n}: {line} names no shared file")
            else:
                lines.append(line)
        text = "\n".join(lines)
        stem, ext = os.path.splitext(n)
        rows = [(f"{stem}-{c}{ext}", t, c) for t, c in TYPES] if _per_type(text) else [(n, None, None)]
        for name, word, command in rows:
            out = text if word is None else text.replace("@TYPE@", word).replace("@COMMAND@", command)
            left = re.search(r"@[A-Z]+@", out)
            if left:
                raise Refused(f"{n}: {left.group(0)} is not a word that a script is made with")
            made[name] = out.replace("\n", "\r\n")
    return made


def make(source, folder):
    made = render(source)
    os.makedirs(folder, exist_ok=True)
    for name, text in made.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(text.encode("ascii"))


def unsign(data):
    """(text, signature DER or None) of a shipped PowerShell script (bytes)."""
    text = data.decode("latin-1")
    at = text.find(BEGIN)
    if at < 0:
        if "# SIG # " in text:
            raise Refused("holds a signature line outside a signature block")
        return data, None
    if text.find(BEGIN, at + 1) >= 0:
        raise Refused("holds two signature blocks")
    block = text[at + len(BEGIN):]
    if not block.endswith(END):
        raise Refused("has a signature block that does not end the file")
    body = block[:-len(END)]
    if not body.endswith("\r\n"):
        raise Refused("has a signature block that is not whole lines")
    encoded = []
    for line in body[:-2].split("\r\n"):
        if not line.startswith("# ") or not re.fullmatch(r"[A-Za-z0-9+/=]+", line[2:]):
            raise Refused("has a signature block with a line that is not '# ' and base64")
        encoded.append(line[2:])
    try:
        der = base64.b64decode("".join(encoded), validate=True)
    except (binascii.Error, ValueError):
        raise Refused("has a signature block that is not base64") from None
    # The text signed ends where the block's own line break begins.
    return data[:at], der


def main():
    parser = argparse.ArgumentParser(prog="python3 -m drvflip_release.fleet", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("names").add_argument("source")
    c = commands.add_parser("make")
    c.add_argument("source")
    c.add_argument("folder")
    c = commands.add_parser("unsign")
    c.add_argument("script")
    c.add_argument("text")
    c.add_argument("signature")
    args = parser.parse_args()
    try:
        if args.command == "names":
            print("\n".join(names(args.source)))
        elif args.command == "make":
            make(args.source, args.folder)
        else:
            with open(args.script, "rb") as f:
                text, der = unsign(f.read())
            with open(args.text, "wb") as f:
                f.write(text)
            if der is not None:
                with open(args.signature, "wb") as f:
                    f.write(der)
            print("unsigned" if der is None else "signed")
    except Refused as e:
        print(e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
