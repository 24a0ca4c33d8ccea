# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""The SBOM of a release (CycloneDX 1.6 with the fields of BSI TR-03183-2), made from the links of its
exes, and an SBOM of unknown origin checked against it."""

import hashlib
import json
import os
import time
import uuid

from . import Unknown
from .libraries import library_of, licence_of, owners, package_info, upstream
from .linkmap import linked
from .notices import notices
from .pe import imports

SBOM_BOUND = 1024 * 1024


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
    listed = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lib", "toolchain")
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
