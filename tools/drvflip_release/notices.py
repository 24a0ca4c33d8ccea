# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""THIRD-PARTY-NOTICES.txt: each library an exe holds, its version, licence and notices."""

from .libraries import LIBRARIES, upstream


def notices(version, libraries):
    lines = [f"Third-party software in drvflip {version}", "",
             "Each drvflip.exe is linked statically: beside drvflip's own code (MIT, see",
             "LICENSE.txt) it holds the parts of the libraries below that its link took in.",
             "This list is made from that link; drvflip-" + version + ".cdx.json lists the same",
             "parts, member by member. The exes also use DLLs that are part of Windows",
             "and are not shipped.", ""]
    seen = {}
    for arch, key, c in libraries:
        ident = (key, upstream(c["version"]), c["licence"], tuple(c["notices"]))
        seen.setdefault(ident, []).append(f"{arch}/drvflip.exe (from Debian's {c['package']} {c['version']})")
    for (key, up, licence, entries), where in seen.items():
        lib = next(lib for lib in LIBRARIES if lib["key"] == key)
        title = f"{key} {up}"
        lines += ["=" * 78, title, "=" * 78, lib["title"] + ".", "In: " + where[0]]
        lines += ["    " + w for w in where[1:]]
        lines += [f"Licence: {licence}", ""]
        for heading, text in entries:
            lines += ["-- " + heading, text.rstrip("\n"), ""]
    return "\n".join(lines)
