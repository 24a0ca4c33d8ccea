# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""BUILDINFO.txt: the commit, the system and the toolchain that built a release, and what they say of
a rebuild on this system."""

import difflib
import re

from . import PROG, Stop

COMMIT = re.compile(r"commit ([0-9a-f]{40})")
SYSTEM = re.compile(r"system ([a-z0-9.+-]* [a-z0-9.+-]*)")
PACKAGE = re.compile(r"[a-z0-9][a-z0-9.+-]*")
PACKAGE_VERSION = re.compile(r"[0-9A-Za-z.+~:-]+")


def lines(data):
    """The lines of BUILDINFO.txt, every CR taken out."""
    return data.decode("latin-1").replace("\r", "").split("\n")


def commits(data):
    return [m.group(1) for m in map(COMMIT.fullmatch, lines(data)) if m]


def system(data):
    """The system ("ID CODENAME") that the first line of that form names, or None."""
    for line in data.decode("latin-1").split("\n"):
        m = SYSTEM.fullmatch(line[:-1] if line.endswith("\r") else line)
        if m:
            return m.group(1)
    return None


def packages(data):
    """What follows "package " on each package line, in order."""
    return [line[len("package "):] for line in lines(data) if line.startswith("package ")]


def expected_packages(data, toolchain):
    """The package lines that tools/release writes for the packages of TOOLCHAIN (in its order), with
    the version recorded in the same place where it has a version's form, else "<its version>"."""
    recorded = packages(data)
    found = []
    for i, p in enumerate(toolchain):
        line = recorded[i] if i < len(recorded) else ""
        v = line[len(p) + 1:]
        if not (line.startswith(p + " ") and (PACKAGE_VERSION.fullmatch(v) or v == "(not installed)")):
            v = "<its version>"
        found.append(f"package {p} {v}")
    return found


def expected(data, head, toolchain):
    """The BUILDINFO.txt that tools/release writes: HEAD (its lines before the package lines, as the
    commit's recipe writes them), then the package lines of TOOLCHAIN; CR LF line ends."""
    return "".join(f"{line}\r\n" for line in head + expected_packages(data, toolchain)).encode("latin-1")


def pins(data, info):
    """(name, version) of each installed toolchain package that BUILDINFO.txt records; raises Stop
    (without the program's name) at a line that is not a package and a Debian version."""
    found = []
    for line in packages(data):
        if line.endswith(" (not installed)"):
            continue
        p, v = (line.split(None, 1) + ["", ""])[:2]
        v = v.strip()
        if not (PACKAGE.fullmatch(p) and PACKAGE_VERSION.fullmatch(v)):
            raise Stop(f"{info}: a package line that is not a package and its version: '{p} {v}'")
        found.append((p, v))
    return found


def toolchain_notes(built_on, here, recorded, installed):
    """(the notes, whether the toolchain is another) where this system (HERE) or its toolchain
    (INSTALLED, "NAME VERSION" a line) is not the one that built the release (BUILT_ON, RECORDED).
    A release that names no system was made before BUILDINFO.txt named one."""
    notes = []
    other = False
    if built_on and built_on != here:
        other = True
        notes.append(f"{PROG}: note: this release was built on {built_on}, and this system is {here}")
    if recorded != installed:
        other = True
        notes += [f"{PROG}: note: the toolchain installed is not the one recorded; different bytes then",
                  "  need not mean a forged exe (< recorded, > installed):"]
        for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, recorded, installed, autojunk=False).get_opcodes():
            if op != "equal":
                notes += [f"  < {line}" for line in recorded[i1:i2]] + [f"  > {line}" for line in installed[j1:j2]]
    return notes, other
