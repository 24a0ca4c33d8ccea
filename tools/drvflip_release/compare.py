# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""Each comparison's verdict: a shipped file against the one made again from its commit, an exe
against the one built (a signed one with its signature removed), the zip against the one packed."""

import os
import subprocess

from . import pe, read


def cat_v(data):
    """DATA as cat -v shows it."""
    out = []
    for b in data:
        prefix = ""
        if b >= 128:
            prefix, b = "M-", b - 128
        if b == 127:
            out.append(prefix + "^?")
        elif b < 32 and b != 9:
            out.append(prefix + "^" + chr(b + 64))
        else:
            out.append(prefix + chr(b))
    return "".join(out)


def lines_read(data):
    """The lines that cmp counts in DATA up to its end (a last line without its line end counts)."""
    return data.count(b"\n") + (1 if data and not data.endswith(b"\n") else 0)


def same_text(member, shipped, made, what, commit):
    """(whether they are the same, the line saying so or where the zip's member differs)."""
    if shipped == made:
        return True, f"{member}: identical to {what} {commit}"
    at = 0
    while at < min(len(shipped), len(made)) and shipped[at] == made[at]:
        at += 1
    if at == len(shipped):
        return False, (f"{member}: DIFFERS from {what} {commit}: it ends after line {lines_read(shipped)}, "
                       "where that goes on")
    # Where the one made ends, the zip's goes on from its next line.
    line = lines_read(made) + 1 if at == len(made) else shipped[:at].count(b"\n") + 1
    text = shipped.split(b"\n")
    shown = cat_v(text[line - 1])[:100] if line <= len(text) else ""
    return False, f"{member}: DIFFERS from {what} {commit}, from line {line} on (the zip's: '{shown}')"


def without_signature(shipped, out):
    """Whether osslsigncode wrote the exe SHIPPED without its signature to OUT."""
    return subprocess.run(["osslsigncode", "remove-signature", "-in", shipped, "-out", out],
                          stdin=subprocess.DEVNULL, capture_output=True, check=False).returncode == 0


def same_exe(arch, shipped, built, how, commit):
    a, b = read(shipped), read(built)
    if a == b:
        return True, f"{arch}: identical ({how}) to the build of {commit}"
    where = pe.differing(shipped, built)
    return False, (f"{arch}: DIFFERS ({how}) from the build of {commit}: {len(a)} bytes against {len(b)}"
                   + (f"; of the bytes both have, {where} differ" if where else ""))


def same_zip(path, packed):
    a, b = os.path.getsize(path), os.path.getsize(packed)
    if read(path) == read(packed):
        return True, "zip: identical to the zip that tools/release packs of these files"
    return False, (f"zip: DIFFERS from the zip that tools/release packs of these files ({a} bytes against {b}): "
                   "its headers, comment or layout are not the release's")
