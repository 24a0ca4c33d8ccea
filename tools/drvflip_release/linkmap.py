# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What the linker's map (-Wl,-Map) says went into an exe."""

import os
import re

from . import Unknown


def linked(build):
    """(path, member) for each object (member None) and archive member of the link."""
    parts = []
    with open(os.path.join(build, "drvflip.map"), encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    section = None
    for line in lines:
        if line.startswith("Archive member included to satisfy reference"):
            section = "members"
        elif line.startswith(("Discarded input sections", "Memory Configuration")):
            section = None
        elif line.startswith("Linker script and memory map"):
            section = "loads"
        elif section == "members" and line and not line[0].isspace():
            m = re.fullmatch(r"(.+)\(([^()]+)\)", line.strip())
            if not m:
                raise Unknown(f"the linker map names '{line.strip()}', which is no archive member")
            parts.append((m.group(1), m.group(2)))
        elif section == "loads" and line.startswith("LOAD "):
            path = line[5:].strip()
            if path != "dll stuff" and not path.endswith(".a"):
                parts.append((path, None))
    if not parts:
        raise Unknown(f"the linker map {build}/drvflip.map lists nothing that was linked")
    return parts
