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
- trust: what verify-release decides of a zip, each decision printing verify-release's own lines.

Their command lines: trust and fleet (python3 -m drvflip_release.trust, .fleet: run by
tools/lib/release-files.sh) and tools/sbom.py (what a developer runs too).
"""


class Unknown(Exception):
    """Something the release cannot account for: it ships nothing it cannot name."""
