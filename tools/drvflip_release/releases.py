# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""A version of drvflip, and the releases that RELEASES records (one "VERSION COMMIT" a line)."""

import re

# A version: digits and dots. The release's folder is drvflip-VERSION.
VERSION = r"[0-9][0-9.]*"
PROJECT = re.compile(rf"^project\(drvflip VERSION ({VERSION})", re.M)
RELEASE = re.compile(rf"({VERSION}) ([0-9a-f]{{40}})")


def version_of(cmakelists):
    """The project version that the text of a CMakeLists.txt names, or None."""
    m = PROJECT.search(cmakelists)
    return m.group(1) if m else None


def releases(text):
    """(version, commit) of each line of RELEASES of the form "VERSION COMMIT", in order."""
    return [(m.group(1), m.group(2)) for m in map(RELEASE.fullmatch, text.split("\n")) if m]


def recorded(version, commit, head, text, unpublished):
    """(refusal, None) or (None, the line saying which release it is)."""
    commits = sorted({c for v, c in releases(text) if v == version})
    if commits == [commit]:
        return None, f"release: the released {version} (RELEASES at {head} records {commit} for it)"
    if commits:
        return (f"RELEASES at {head} records {version} as released from {' '.join(commits)}, "
                f"and this zip was made from {commit}"), None
    if unpublished:
        return None, (f"release: {version} is not a released version of drvflip: RELEASES at {head} records "
                      f"none, so {commit} is not a recorded release (checked as --unpublished asks)")
    return (f"{version} is not a released version of drvflip: RELEASES at {head} records none "
            "(--unpublished checks a build of your own)"), None


def files(names, wanted):
    """The refusals of a zip whose names are NAMES where the release holds WANTED."""
    have, want = set(names), set(wanted)
    return ([f"{n} is not a file of the release (a file added)" for n in sorted(have - want)]
            + [f"{n} is missing" for n in sorted(want - have)])
