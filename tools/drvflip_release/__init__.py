# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip's release tooling in Python: one module per thing it reads or makes.

- zipfiles: a release's zip, read bounded (its members, their entries, each one by its name);
- pe: a PE file's sections, imports and certificate table;
- linkmap: what the linker's map says went into an exe;
- libraries: the upstream libraries an exe may hold, their Debian packages and copyright files;
- sbom: the SBOM (CycloneDX 1.6) made from a link, and a shipped one checked against it;
- notices: THIRD-PARTY-NOTICES.txt.

Their command lines: read (python3 -m drvflip_release.read: what verify-release reads of a zip and an
exe) and tools/sbom.py (what a developer runs too).
"""


class Unknown(Exception):
    """Something the release cannot account for: it ships nothing it cannot name."""
