# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip's release tooling in Python: one module per thing it reads or makes.

- zipfiles: a release's zip, read bounded (its members, their entries, each one by its name);
- pe: a PE file's sections, imports and certificate table;
- linkmap: what the linker's map says went into an exe;
- libraries: the upstream libraries an exe may hold, their Debian packages and copyright files;
- sbom: the SBOM (CycloneDX 1.6) made from a link, and a shipped one checked against it;
- notices: THIRD-PARTY-NOTICES.txt;
- fleet: the fleet scripts made from fleet/, and a shipped PowerShell script split from its signature;
- releases: a version, and the releases that RELEASES records;
- layout: a release zip's layout, names and modes, read before anything is unpacked;
- buildinfo: BUILDINFO.txt, and what its toolchain says of a rebuild;
- compare: each comparison's verdict (a text, an exe, the zip);
- signatures: each signature's certificate table, signer, timestamp and digest;
- trust: what verify-release decides of a zip, in three steps that print verify-release's own lines.

Their command lines: trust and fleet (python3 -m drvflip_release.trust, .fleet: run by
tools/lib/release-files.sh) and tools/sbom.py (what a developer runs too).
"""

import sys

PROG = "verify-release"


class Unknown(Exception):
    """Something the release cannot account for: it ships nothing it cannot name."""


class Stop(Exception):
    """The check stops: the line says why."""


def say(line=""):
    print(line, flush=True)


def stop(line):
    raise Stop(f"{PROG}: {line}")


def refuse(line):
    """A refusal, on standard output."""
    say(f"{PROG}: refused: {line}")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def stderr(line):
    sys.stdout.flush()
    print(line, file=sys.stderr, flush=True)
