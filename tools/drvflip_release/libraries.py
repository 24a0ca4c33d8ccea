# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""The upstream libraries that an exe may hold: which files and Debian packages are each one's, and
the licence that the package's copyright file gives its files."""

import fnmatch
import re
import subprocess
import textwrap

from . import Unknown

# The upstream libraries that a drvflip exe may be linked with. Each names
# the files that come from it (paths as dpkg knows them), the Debian packages
# that may ship those files, and how its licence is read from the package's
# copyright file: ("dep5", source prefixes) for a machine-readable one, the
# stanzas whose files lie under the prefixes; ("gcc", name) for GCC's, whose
# list of the runtime libraries under the GCC Runtime Library Exception must
# name it.
LIBRARIES = [
    {
        "key": "mingw-w64-crt",
        "title": "MinGW-w64 C runtime: start-up code, its helpers and the import libraries",
        "maker": ("the mingw-w64 project", "https://www.mingw-w64.org/"),
        "files": r"/usr/(x86_64|i686)-w64-mingw32/lib/(?!lib(win)?pthread)[^/]+\.(a|o)",
        "packages": r"mingw-w64-(x86-64|i686)-dev",
        "copyright": ("dep5", ["mingw-w64-crt/"]),
    },
    {
        "key": "winpthreads",
        "title": "MinGW-w64 winpthreads: POSIX threads on Windows",
        "maker": ("the mingw-w64 project", "https://www.mingw-w64.org/"),
        "files": r"/usr/(x86_64|i686)-w64-mingw32/lib/lib(win)?pthread\.a",
        "packages": r"mingw-w64-(x86-64|i686)-dev",
        "copyright": ("dep5", ["mingw-w64-libraries/winpthreads/src/",
                               "mingw-w64-libraries/winpthreads/include/"]),
    },
    {
        "key": "libgcc",
        "title": "GCC's runtime library libgcc",
        "maker": ("the GCC project", "https://gcc.gnu.org/"),
        "files": r"/usr/lib/gcc/(x86_64|i686)-w64-mingw32/[^/]+/(libgcc(_eh)?\.a|crt(begin|end|fastmath)\.o)",
        "packages": r"gcc-mingw-w64-(x86-64|i686)-(posix|win32)",
        "copyright": ("gcc", "libgcc"),
    },
    {
        "key": "libstdc++",
        "title": "GCC's C++ library libstdc++",
        "maker": ("the GCC project", "https://gcc.gnu.org/"),
        "files": r"/usr/lib/gcc/(x86_64|i686)-w64-mingw32/[^/]+/lib(stdc|sup)\+\+\.a",
        "packages": r"g\+\+-mingw-w64-(x86-64|i686)-(posix|win32)",
        "copyright": ("gcc", "libstdc++-v3"),
    },
    {
        "key": "libssp",
        "title": "GCC's stack protection library libssp",
        "maker": ("the GCC project", "https://gcc.gnu.org/"),
        "files": r"/usr/lib/gcc/(x86_64|i686)-w64-mingw32/[^/]+/libssp(_nonshared)?\.a",
        "packages": r"gcc-mingw-w64-(x86-64|i686)-(posix|win32)",
        "copyright": ("gcc", "libssp"),
    },
]

# Debian's licence names, as copyright files write them, and their SPDX
# expressions (LicenseRef- where SPDX lists no such licence).
SPDX = {
    "BSD-2-clause-NetBSD": "BSD-2-Clause",
    "BSD-3-clause": "BSD-3-Clause",
    "BSD-3-clause-Lockless": "LicenseRef-BSD-3-clause-Lockless",
    "Cygwin": "LicenseRef-Cygwin",
    "David-Gay": "LicenseRef-David-Gay",
    "expat": "MIT",
    "ISC": "ISC",
    "Keith-Marshall": "LicenseRef-Keith-Marshall",
    "LGPL-2+": "LGPL-2.0-or-later",
    "Lucent": "LicenseRef-Lucent",
    "Permissive-Sun": "LicenseRef-Permissive-Sun",
    "public-domain": "LicenseRef-public-domain",
    "ZPL-2.1": "ZPL-2.1",
}
PUBLIC_DOMAIN = "LicenseRef-public-domain"
GCC_EXCEPTION = "GPL-3.0-or-later WITH GCC-exception-3.1"
GCC_STATEMENT = ("The following runtime libraries are licensed under the terms of the\n"
                 "GNU General Public License (v3 or later) with version 3.1 of the GCC\n"
                 "Runtime Library Exception")


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=False, stdin=subprocess.DEVNULL)


def owners(paths):
    """Each absolute path's Debian package, or None where no installed package holds it."""
    found = {}
    if not paths:
        return found
    out = run("dpkg-query", "-S", *paths).stdout
    for line in out.splitlines():
        pkg, _, path = line.partition(": ")
        if path in paths and "," not in pkg and not pkg.startswith("diversion by"):
            found[path] = pkg.split(":")[0]
    return {p: found.get(p) for p in paths}


def package_info(pkg):
    out = run("dpkg-query", "-W", "-f=${Version}\t${Architecture}", pkg).stdout
    version, _, arch = out.partition("\t")
    if not version:
        raise Unknown(f"the package {pkg} is not installed")
    return version, arch


def upstream(version):
    """The upstream part of a Debian version: no epoch, no Debian revision."""
    version = version.split(":", 1)[-1]
    return version.rsplit("-", 1)[0] if "-" in version else version


def library_of(path, pkg, member):
    for lib in LIBRARIES:
        if re.fullmatch(lib["files"], path):
            if not re.fullmatch(lib["packages"], pkg):
                raise Unknown(f"{member}: {path} comes from the package {pkg}, not from one that ships "
                              f"{lib['key']}")
            return lib
    raise Unknown(f"{member}: {path} (package {pkg}) belongs to no library that the release knows")


# --- Copyright files ------------------------------------------------------

def dep5(text):
    """The paragraphs of a machine-readable copyright file, as dicts of fields."""
    paragraphs = []
    for block in re.split(r"\n[ \t]*\n", text):
        fields = {}
        name = None
        for line in block.split("\n"):
            if line.startswith("#"):
                continue
            if line[:1] in (" ", "\t") and name:
                fields[name] += "\n" + line[1:]
            elif ":" in line:
                name, _, value = line.partition(":")
                name = name.strip().lower()
                fields[name] = value.strip()
        if fields:
            paragraphs.append(fields)
    return paragraphs


def names_in(field):
    """The licence names of a License field's first line ("A and B", "A or B")."""
    first = field.split("\n", 1)[0].strip()
    return first, [n for n in re.split(r"\s+(?:and|or)\s+|,\s*", first) if n]


def spdx_of(first, names, where):
    for n in names:
        if n not in SPDX:
            raise Unknown(f"{where}: the licence '{n}' has no SPDX mapping")
    expr = first
    for n in sorted(names, key=len, reverse=True):
        expr = re.sub(rf"(?<![\w.+-]){re.escape(n)}(?![\w.+-])", SPDX[n], expr)
    return expr.replace(" and ", " AND ").replace(" or ", " OR ")


def copyright_file(pkg):
    path = f"/usr/share/doc/{pkg}/copyright"
    try:
        with open(path, encoding="utf-8") as f:
            return path, f.read()
    except OSError as e:
        raise Unknown(f"the package {pkg} has no readable copyright file ({e.strerror})") from None


def covers(pattern, folder):
    """Whether a copyright file's Files pattern names every file under FOLDER."""
    head = pattern[:-1]
    return pattern.endswith("*") and (head == "" or head.endswith("/")) and not set("*?[") & set(head) \
        and folder.startswith(head)


def licence_of(lib, pkg):
    """(SPDX expression, [notice entries]) for LIB's files, from PKG's copyright file.

    A notice entry is (heading, text): the copyright lines and licence text that
    a binary distribution carries, or why none is owed."""
    path, text = copyright_file(pkg)
    how, what = lib["copyright"]
    if how == "gcc":
        at = text.find(GCC_STATEMENT)
        listed = []
        for line in (text[at:].split("\n")[3:] if at >= 0 else []):
            if line.startswith(" - "):
                listed.append(line.split()[1])
            elif listed and not line.strip():
                break  # the list ends at its first blank line
        if what not in listed:
            raise Unknown(f"{path} does not say under which terms {lib['key']} is")
        return GCC_EXCEPTION, [(f"{lib['key']}: {GCC_EXCEPTION}",
                                "No notice is owed: the GCC Runtime Library Exception 3.1 lets a program\n"
                                "that GCC compiled carry the code it links from this library under terms\n"
                                "of the program's own choice.")]
    paragraphs = dep5(text)
    if not paragraphs or not paragraphs[0].get("format", "").startswith("https://www.debian.org/doc/packaging-manuals/copyright-format/"):
        raise Unknown(f"{path} is not a machine-readable copyright file")
    standalone = {p["license"].split("\n", 1)[0].strip(): p["license"] for p in paragraphs
                  if "license" in p and "files" not in p}
    # A later paragraph wins for the files it names: one whose pattern covers a
    # whole source folder of the library (the folder's "/*", or "*") hides
    # every paragraph before it there.
    applies = set()
    for prefix in what:
        found = []
        for i, p in enumerate(paragraphs):
            patterns = p.get("files", "").split()
            if any(covers(pat, prefix) for pat in patterns):
                found = [i]
            elif any(pat.startswith(prefix) or fnmatch.fnmatchcase(prefix + "\x01", pat) for pat in patterns):
                found.append(i)
        applies.update(found)
    terms = []
    notices = []
    for i, p in enumerate(paragraphs):
        if i not in applies:
            continue
        patterns = [pat for pat in p["files"].split()
                    if any(pat.startswith(prefix) or fnmatch.fnmatchcase(prefix + "\x01", pat) for prefix in what)]
        first, names = names_in(p.get("license", ""))
        expr = spdx_of(first, names, f"{path}, Files: {' '.join(patterns)}")
        if expr not in terms:
            terms.append(expr)
        heading = textwrap.fill(f"Files: {' '.join(patterns)}", 78, subsequent_indent="       ",
                                break_on_hyphens=False)
        if expr == PUBLIC_DOMAIN:
            notices.append((heading, "Public domain: no notice is owed."))
            continue
        body = p["license"].split("\n", 1)[1] if "\n" in p["license"] else ""
        if not body.strip():
            body = "\n\n".join(standalone[n].split("\n", 1)[1] for n in names
                               if n in standalone and "\n" in standalone[n])
        if not body.strip():
            raise Unknown(f"{path}: no text for the licence '{first}' of {heading}")
        copyright_lines = "\n           ".join(line.strip() for line in p.get("copyright", "").split("\n"))
        licence_text = "\n".join("" if line.strip() == "." else line for line in body.split("\n"))
        notices.append((heading, f"Copyright: {copyright_lines}\nLicence: {first}"
                        + ("" if expr == first else f" (SPDX: {expr})") + f"\n\n{licence_text}"))
    if not terms:
        raise Unknown(f"{path} says nothing of {lib['key']}'s files")
    expr = " AND ".join(f"({t})" if " OR " in t else t for t in terms)
    return expr, notices


