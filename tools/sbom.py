#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What each exe holds, read from its link: the SBOM and the notices of a release.

  sbom.py parts BUILD
      Lists what went into BUILD/drvflip.exe, as its linker map BUILD/drvflip.map
      records it: every object and archive member, each with the upstream
      library, Debian package and licence it comes from; then the DLLs that the
      exe imports. Exit 1, naming the member, where anything is unknown.
  sbom.py make VERSION COMMIT TIME OUT ARCH=BUILD:EXE...
      Writes OUT/drvflip-VERSION.cdx.json (CycloneDX 1.6) and
      OUT/THIRD-PARTY-NOTICES.txt (CR LF) for the exes ARCH/drvflip.exe: the
      parts of BUILD's link, and EXE's bytes as shipped (signed) for the hashes.
      TIME is the commit's time (seconds); the SBOM's serial number is derived
      from VERSION and COMMIT, so one commit always gives the same bytes.
  sbom.py compare SHIPPED MADE ARCH=EXE...
      Checks an SBOM of unknown origin (SHIPPED) against the one made from the
      commit (MADE): a component that MADE does not hold, one that it holds and
      SHIPPED lacks, and an exe hash that the zip's exe (EXE) does not have are
      each refused with a line. SHIPPED is read as untrusted input: bounded in
      size, and anything that is not the expected shape is refused with one line.

Nothing unknown ships: a linked member that no installed package holds, a member
of a library this tool does not know, a package that it does not expect for
that library, and a licence name without an SPDX mapping each stop it. It never
guesses: the licence comes from the package's copyright file, for the
library's own files; where the exact source file of a member is not known, the
library's licence is every licence that its files carry.
"""

import fnmatch
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import textwrap
import time
import uuid

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
SBOM_BOUND = 1024 * 1024


class Unknown(Exception):
    """Something the release cannot account for: it ships nothing it cannot name."""


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=False, stdin=subprocess.DEVNULL)


# --- The link -------------------------------------------------------------

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


# --- The exe --------------------------------------------------------------

def imports(exe):
    """The DLLs that a PE file imports, in the order of its import table."""
    with open(exe, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva = struct.unpack_from("<I", data, directories + 8)[0]
    table = optional + struct.unpack_from("<H", data, pe + 20)[0]

    def offset(address):
        for i in range(sections):
            size, virtual, _, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if virtual <= address < virtual + size:
                return address - virtual + raw
        raise Unknown(f"{exe}: its import table points outside its sections")

    dlls = []
    at = offset(rva) if rva else None
    while at is not None:
        name_rva = struct.unpack_from("<I", data, at + 12)[0]
        if not name_rva:
            break
        start = offset(name_rva)
        dlls.append(data[start:data.index(b"\0", start)].decode("ascii"))
        at += 20
    return dlls


def parts(build):
    """The components of BUILD's exe: {key: component facts}, and its DLLs."""
    found = linked(build)
    absolute = sorted({os.path.normpath(p) for p, _ in found if os.path.isabs(p)})
    held = owners(absolute)
    components = {}
    for path, member in found:
        if not os.path.isabs(path):
            continue  # made in the build folder, from drvflip's own sources
        path = os.path.normpath(path)
        shown = f"{path}({member})" if member else path
        pkg = held.get(path)
        if not pkg:
            raise Unknown(f"{shown}: no installed package holds it")
        lib = library_of(path, pkg, shown)
        c = components.setdefault(lib["key"], {"lib": lib, "package": pkg, "members": []})
        if c["package"] != pkg:
            raise Unknown(f"{shown}: {lib['key']} comes from two packages, {c['package']} and {pkg}")
        c["members"].append(shown)
    for c in components.values():
        c["version"], c["arch"] = package_info(c["package"])
        c["licence"], c["notices"] = licence_of(c["lib"], c["package"])
    return components, imports(os.path.join(build, "drvflip.exe"))


# --- The SBOM and the notices ---------------------------------------------

def purl_version(version):
    return "".join(ch if ch.isalnum() or ch in ".-_~" else "%" + "%02X" % ord(ch) for ch in version)


def properties(pairs):
    return [{"name": n, "value": v} for n, v in pairs]


def bsi(filenames, executable, archive, structured, effective=None):
    pairs = [("bsi:component:filename", f) for f in filenames]
    pairs += [("bsi:component:executable", executable), ("bsi:component:archive", archive),
              ("bsi:component:structured", structured)]
    if effective:
        pairs.append(("bsi:component:effectiveLicense", effective))
    return pairs


def distro():
    try:
        with open("/etc/os-release", encoding="utf-8") as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        return f"{fields.get('ID', 'debian')}-{fields.get('VERSION_ID', '').strip(chr(34))}".replace('"', "")
    except OSError:
        return "debian"


def toolchain():
    """The toolchain packages that BUILDINFO.txt records, as they are installed."""
    listed = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib", "toolchain")
    try:
        with open(listed, encoding="utf-8") as f:
            names = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    except OSError as e:
        raise Unknown(f"the toolchain's packages could not be read: {e}") from e
    if not names:
        raise Unknown(f"{listed} names no package")
    found = []
    for name in names:
        try:
            found.append((name, *package_info(name)))
        except Unknown:
            pass  # not installed: BUILDINFO.txt says so, the SBOM leaves it out
    return found


def make(version, commit, stamp, out, builds):
    drvflip = "drvflip"
    exes = []
    windows = {}
    libraries = []
    where = distro()
    for arch, build, shipped in builds:
        components, dlls = parts(build)
        with open(shipped, "rb") as f:
            data = f.read()
        exe_ref = f"{arch}/drvflip.exe"
        nested = []
        for key in sorted(components):
            c = components[key]
            lib = c["lib"]
            ref = f"{arch}/{key}"
            single = c["licence"] if " AND " not in c["licence"] and " OR " not in c["licence"] else None
            files = sorted({os.path.basename(m.split("(")[0]) for m in c["members"]})
            nested.append({
                "type": "library",
                "bom-ref": ref,
                "supplier": {"name": "Debian", "url": ["https://www.debian.org/"]},
                "manufacturer": {"name": lib["maker"][0], "url": [lib["maker"][1]]},
                "name": key,
                "version": upstream(c["version"]),
                "description": f"{lib['title']}; the parts of it linked into {exe_ref}",
                "licenses": [{"expression": c["licence"], "acknowledgement": "declared"}],
                "purl": f"pkg:deb/debian/{c['package']}@{purl_version(c['version'])}"
                        f"?arch={c['arch']}&distro={where}",
                "properties": properties(
                    bsi(files, "executable", "no archive", "unstructured", single)
                    + [("drvflip:debian-package", f"{c['package']} {c['version']}")]
                    + [("drvflip:linked", m) for m in c["members"]]),
            })
            libraries.append((arch, key, c))
        for dll in dlls:
            windows.setdefault(dll, []).append(exe_ref)
        exes.append({
            "type": "application",
            "bom-ref": exe_ref,
            "supplier": {"name": "the drvflip authors"},
            "manufacturer": {"name": "the drvflip authors"},
            "name": "drvflip.exe",
            "version": version,
            "description": f"drvflip for {'64-bit (x64)' if arch == 'x64' else '32-bit (x86)'} Windows, "
                           f"as shipped in drvflip-{version}/{arch}/",
            "hashes": [{"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()},
                       {"alg": "SHA-512", "content": hashlib.sha512(data).hexdigest()}],
            "licenses": [{"license": {"id": "MIT", "acknowledgement": "declared"}}],
            "purl": f"pkg:generic/drvflip@{purl_version(version)}#{arch}/drvflip.exe",
            "properties": properties(bsi(["drvflip.exe"], "executable", "no archive", "unstructured")),
            "components": nested,
        })
    dll_components = [{
        "type": "library",
        "bom-ref": f"windows/{dll}",
        "manufacturer": {"name": "Microsoft"},
        "name": dll,
        "scope": "required",
        "description": "Part of Windows: imported at run time, not shipped",
        "licenses": [{"license": {"name": "Part of Windows, under the terms of Windows itself",
                                  "acknowledgement": "declared"}}],
        "properties": properties(bsi([dll], "executable", "no archive", "unstructured")
                                 + [("drvflip:shipped", "no: part of Windows")]),
    } for dll in sorted(windows, key=str.lower)]
    dependencies = [{"ref": drvflip, "dependsOn": [e["bom-ref"] for e in exes]}]
    for e in exes:
        dlls = [f"windows/{d}" for d in sorted(windows, key=str.lower) if e["bom-ref"] in windows[d]]
        dependencies.append({"ref": e["bom-ref"], "dependsOn": [c["bom-ref"] for c in e["components"]] + dlls})
        dependencies += [{"ref": c["bom-ref"], "dependsOn": []} for c in e["components"]]
    dependencies += [{"ref": c["bom-ref"], "dependsOn": []} for c in dll_components]
    built_with = [{
        "type": "application",
        "bom-ref": f"build/{name}",
        "supplier": {"name": "Debian", "url": ["https://www.debian.org/"]},
        "name": name,
        "version": pkg_version,
        "purl": f"pkg:deb/debian/{name}@{purl_version(pkg_version)}?arch={arch}&distro={where}",
        "properties": properties(bsi([f"{name}_{pkg_version.split(':')[-1]}_{arch}.deb"], "executable", "archive",
                                     "structured")),
    } for name, pkg_version, arch in toolchain()]
    authors = {"name": "the drvflip authors"}
    stamp_text = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(stamp)))
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, f"drvflip:{version}:{commit}")),
        "version": 1,
        "metadata": {
            "timestamp": stamp_text,
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{"type": "application", "name": "tools/release", "version": version,
                                      "description": "drvflip's release tool: tools/sbom.py reads each exe's link"}]},
            "authors": [authors],
            "manufacturer": authors,
            "supplier": authors,
            "component": {
                "type": "application",
                "bom-ref": drvflip,
                "supplier": authors,
                "manufacturer": authors,
                "name": "drvflip",
                "version": version,
                "description": "Chooses which driver serves an attached USB smart-card reader: "
                               "the PC/SC driver or the USBIO driver",
                "licenses": [{"license": {"id": "MIT", "acknowledgement": "declared"}}],
                "purl": f"pkg:generic/drvflip@{purl_version(version)}",
                "properties": properties(
                    bsi([f"drvflip-{version}-windows.zip"], "non-executable", "archive", "structured", "MIT")
                    + [("drvflip:commit", commit)]),
            }
        },
        "components": exes + dll_components,
        "dependencies": dependencies,
        "formulation": [{"bom-ref": "build", "components": built_with}],
    }
    with open(os.path.join(out, f"drvflip-{version}.cdx.json"), "w", encoding="utf-8", newline="\n") as f:
        json.dump(bom, f, indent=2, ensure_ascii=False)
        f.write("\n")
    with open(os.path.join(out, "THIRD-PARTY-NOTICES.txt"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(notices(version, libraries))


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


# --- Checking an SBOM of unknown origin --------------------------------------

def refs(bom):
    """Every component's bom-ref of a parsed SBOM, nested ones included; None if malformed."""
    found = set()
    stack = list(bom.get("components", [])) if isinstance(bom.get("components", []), list) else None
    if stack is None:
        return None
    while stack:
        c = stack.pop()
        if not isinstance(c, dict) or not isinstance(c.get("bom-ref"), str):
            return None
        found.add(c["bom-ref"])
        nested = c.get("components", [])
        if not isinstance(nested, list):
            return None
        stack.extend(nested)
    return found


def load(path):
    if os.path.getsize(path) > SBOM_BOUND:
        return None, f"is larger than an SBOM of a release can be ({SBOM_BOUND} bytes)"
    try:
        with open(path, "rb") as f:
            bom = json.loads(f.read().decode("utf-8"))
    except (UnicodeDecodeError, ValueError, RecursionError) as e:
        return None, f"is not JSON ({str(e)[:80]})"
    if not isinstance(bom, dict) or bom.get("bomFormat") != "CycloneDX":
        return None, "is not a CycloneDX SBOM"
    return bom, None


def compare(shipped_path, made_path, exes):
    shipped, problem = load(shipped_path)
    name = os.path.basename(shipped_path)
    if problem:
        print(f"{name} {problem}")
        return 1
    made, _ = load(made_path)
    have, want = refs(shipped), refs(made)
    if have is None:
        print(f"{name} is not the shape of a release's SBOM (a component without a bom-ref, or components not a list)")
        return 1
    lines = [f"{name} names the component {r}, which the rebuild did not link" for r in sorted(have - want)]
    lines += [f"{name} lacks the component {r}, which the rebuild linked" for r in sorted(want - have)]
    stack = list(shipped.get("components", []))
    hashes = {}
    while stack:
        c = stack.pop()
        hashes[c["bom-ref"]] = c.get("hashes")
        stack.extend(c.get("components", []))
    for arch, exe in exes:
        with open(exe, "rb") as f:
            data = f.read()
        actual = {"SHA-256": hashlib.sha256(data).hexdigest(), "SHA-512": hashlib.sha512(data).hexdigest()}
        given = hashes.get(f"{arch}/drvflip.exe")
        if not isinstance(given, list) or not all(isinstance(h, dict) for h in given):
            lines.append(f"{name} gives {arch}/drvflip.exe no hashes")
            continue
        for alg, value in actual.items():
            got = [h.get("content") for h in given if h.get("alg") == alg]
            if got != [value]:
                shown = str(got[0])[:16] + "..." if got else "none"
                lines.append(f"{name} gives {arch}/drvflip.exe the {alg} {shown}, which the zip's exe does not have")
    for line in lines:
        print(line)
    return 1 if lines else 0


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "parts":
            components, dlls = parts(argv[2])
            for key, c in sorted(components.items()):
                print(f"{key} {upstream(c['version'])}: {c['package']} {c['version']}; {c['licence']}")
                for m in c["members"]:
                    print(f"  {m}")
            for dll in dlls:
                print(f"imports {dll} (part of Windows, not shipped)")
            return 0
        if len(argv) >= 7 and argv[1] == "make":
            builds = []
            for given in argv[6:]:
                arch, _, rest = given.partition("=")
                build, _, exe = rest.partition(":")
                builds.append((arch, build, exe))
            make(argv[2], argv[3], argv[4], argv[5], builds)
            return 0
        if len(argv) >= 4 and argv[1] == "compare":
            return compare(argv[2], argv[3], [tuple(s.split("=", 1)) for s in argv[4:]])
    except Unknown as e:
        print(f"sbom: {e}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
