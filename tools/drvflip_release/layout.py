# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""A release zip's layout, read before anything is unpacked or built: no member encrypted or larger
than a release's file can be, each name once, all under one folder drvflip-<version>/, each a regular
file packed on Unix, and a BUILDINFO.txt that names the commit it was made from."""

import os
import re

from . import Stop, buildinfo, refuse, stop, zipfiles
from .releases import VERSION

# No release file comes near this; a member that claims more is refused before anything is
# unpacked, and none is ever unpacked past it.
BOUND = 4 * 1024 * 1024
FOLDER = re.compile(rf"drvflip-{VERSION}")


def mode_refusal(mode, host, name):
    """Why an entry is not a release's regular file, or None."""
    if mode == "-rw-r--r--":
        return None if host == "unx" else f"{name} was packed on {host}, not on Unix as tools/release packs"
    if mode.startswith("l"):
        return f"{name} is a symbolic link, not a regular file"
    if mode.startswith("d"):
        return f"{name} is a folder entry, not a regular file"
    if mode.startswith("-"):
        return f"{name} has the mode {mode}, not the -rw-r--r-- of a release file"
    return f"{name} is not a regular file (mode {mode})"


def layout(names, entries):
    """(refusals, folder or None) of the names and the entries (mode, host, name) of a zip: each name
    once, one folder drvflip-<version>/ for all, each entry a regular file, a BUILDINFO.txt."""
    refusals = [f"{n} is in the zip more than once (a name twice)"
                for n in sorted({n for n in names if names.count(n) > 1})]
    tops = sorted({n.split("/", 1)[0] for n in names})
    folder = tops[0] if len(tops) == 1 and FOLDER.fullmatch(tops[0]) else None
    if folder is None:
        refusals.append("the files are not all under one folder drvflip-<version>/ "
                        f"(they are under: {' '.join(tops)})")
    refusals += [r for r in (mode_refusal(*e) for e in entries) if r]
    if folder is not None:
        info = f"{folder}/BUILDINFO.txt"
        if names.count(info) != 1 or ("-rw-r--r--", "unx", info) not in entries:
            refusals.append("the zip holds no drvflip-<version>/BUILDINFO.txt as a regular file: "
                            "it records no source to check against")
            folder = None
    return refusals, folder


def check_zip(given, path, folder):
    """The zip before anything is built, its refusals printed: returns (whether it refused, the
    commit, the path of its BUILDINFO.txt, read out into FOLDER); raises Stop."""
    try:
        refusals = zipfiles.refusals(path, BOUND)
    except zipfiles.NOT_A_ZIP:
        stop(f"{given} is not a zip")
    if refusals:
        for line in refusals:
            refuse(line)
        stop(f"{given} is not a release as tools/release makes it; nothing was unpacked")
    problem = zipfiles.problem(path, BOUND)
    if problem:
        stop(f"{given}: {problem}; nothing was unpacked")
    try:
        names, entries = zipfiles.names(path), zipfiles.entries(path)
    except zipfiles.NOT_A_ZIP:
        stop(f"{given} is not a zip")
    refusals, top = layout(names, entries)
    for line in refusals:
        refuse(line)
    if top is None:
        stop(f"{given} is not a release as tools/release makes it; nothing was built")
    info = f"{top}/BUILDINFO.txt"
    os.makedirs(os.path.join(folder, top), exist_ok=True)
    problem = zipfiles.problem(path, BOUND, folder, [info])
    if problem:
        print(problem, flush=True)
        stop(f"{info} could not be read")
    with open(os.path.join(folder, info), "rb") as f:
        found = buildinfo.commits(f.read())
    if len(found) != 1:
        stop(f"{info} names no commit, or more than one")
    return bool(refusals), found[0], os.path.join(folder, info)


def unpack(path, folder, names):
    """Each member NAME into FOLDER/NAME, never more than BOUND bytes of one; what stopped it, or None."""
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
    return zipfiles.problem(path, BOUND, folder, names)


def fresh_buildinfo(path):
    """What fresh-check --verify needs of the zip's BUILDINFO.txt, found and read bounded as the zip
    step reads it: "info NAME", "system ID CODENAME" where it names one, and "pin NAME=VERSION" for
    each toolchain package installed; raises Stop (without the program's name) with the reason."""
    reason = f"{path} is not a zip that tools/verify-release would read"
    try:
        if zipfiles.refusals(path, BOUND):
            raise Stop(reason)
        names = zipfiles.names(path)
    except zipfiles.NOT_A_ZIP:
        raise Stop(reason) from None
    info = next((n for n in names if n.partition("/")[2] == "BUILDINFO.txt" and FOLDER.fullmatch(n.partition("/")[0])),
                None)
    if info is None:
        raise Stop(f"{path} holds no drvflip-<version>/BUILDINFO.txt")
    data = zipfiles.read(path, BOUND, info)
    if data is None:
        raise Stop(f"{info} could not be read")
    found = [f"info {info}"]
    named = buildinfo.system(data)
    if named is not None:
        found.append(f"system {named}")
    return found + [f"pin {p}={v}" for p, v in buildinfo.pins(data, info)]
