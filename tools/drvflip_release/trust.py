# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What tools/verify-release decides of a release's zip: the command line (python3 -B -m
drvflip_release.trust, with tools/ on PYTHONPATH; trust in tools/lib/release-files.sh runs it so).
Each command prints verify-release's own lines (a refusal "verify-release: refused: ..." on standard
output, a line that stops the check on standard error) and exits 0 where all is as a release is, 1
where it refused or found a difference, 2 where the check stops (its line said why).

  trust zip GIVEN ZIP DIR
      The zip before anything is unpacked or built: no member encrypted or declaring more than BOUND
      bytes, each whole within BOUND, each name once, all under one folder drvflip-<version>/, each
      a regular file packed on Unix, and a BUILDINFO.txt among them that names one commit; writes
      that commit to DIR/commit and the member to DIR/drvflip-<version>/BUILDINFO.txt.
  trust unpack ZIP DIR NAME...
      Each member NAME into DIR/NAME, never more than BOUND bytes of one.
  trust buildinfo ZIP
      What fresh-check --verify needs of the zip's BUILDINFO.txt, found and read bounded as `trust
      zip` reads it: "info NAME", "system ID CODENAME" where it names one, and "pin NAME=VERSION" for each
      toolchain package installed; else one line saying why, and exit 1.
  trust system BUILDINFO
      The system that BUILDINFO.txt names ("debian bookworm"), or nothing.
  trust recorded-toolchain BUILDINFO
      The toolchain that BUILDINFO.txt records: "NAME VERSION" of each package line, in order.
  trust packages BUILDINFO PACKAGE...
      The "package NAME VERSION" lines that tools/release writes for these packages, with the
      versions that BUILDINFO.txt records where they have a version's form.
  trust releases [RELEASES]
      "VERSION COMMIT" for each release that RELEASES (a file, or ./RELEASES) records.
  trust recorded VERSION COMMIT HEAD RELEASES OUT [--unpublished]
      Whether RELEASES (the file of HEAD) records COMMIT for VERSION; writes the line saying which
      release it is to OUT.
  trust files ZIP NAMES
      The zip holds exactly the files named in the file NAMES, one a line: each one added, each one
      missing.
  trust unsign SCRIPT MEMBER TEXT SIGNATURE
      A PowerShell script split from its signature block: TEXT, and SIGNATURE (DER) where it is signed.
  trust same MEMBER SHIPPED MADE WHAT COMMIT
      Whether SHIPPED (of MEMBER) is MADE, WHAT made from COMMIT, and where it differs.
  trust signatures [--signer TEXT] [--old-osslsigncode VERSION] --exe ARCH... NAME DIR WORK [SCRIPT...]
      Each exe's certificate table and signature (DIR/NAME/ARCH/drvflip.exe for each --exe ARCH,
      its DER written to WORK/ARCH.p7) and each PowerShell script's (WORK/text/SCRIPT.p7, as unsign
      wrote it): who signed, the timestamp, whether the digest and the signature hold, one signer
      for all.
  trust exe ARCH SHIPPED BUILT HOW COMMIT
      Whether the shipped exe (HOW: "unsigned", "with its signature removed") is the one built.
  trust packed ZIP PACKED
      Whether the zip is, byte for byte, the one that tools/release packs of its members.

It reads the terminal never, and a signature's DER only through openssl and osslsigncode.
"""

import argparse
import os
import re
import subprocess
import sys

from . import fleet, pe, zipfiles

PROG = "verify-release"
# No release file comes near this; a member that claims more is refused before anything is
# unpacked, and none is ever unpacked past it.
BOUND = 4 * 1024 * 1024
VERSION = r"[0-9][0-9.]*"
FOLDER = re.compile(rf"drvflip-{VERSION}")
COMMIT = re.compile(r"commit ([0-9a-f]{40})")
SYSTEM = re.compile(r"system ([a-z0-9.+-]* [a-z0-9.+-]*)")
PACKAGE = re.compile(r"[a-z0-9][a-z0-9.+-]*")
PACKAGE_VERSION = re.compile(r"[0-9A-Za-z.+~:-]+")
RELEASE = re.compile(rf"({VERSION}) ([0-9a-f]{{40}})")
NOT_SIGNED = "(not signed)"
REFUSED = "(refused)"
CHAIN = "(the chain of trust is checked on Windows: Get-AuthenticodeSignature)"


class Stop(Exception):
    """The check stops: the line says why."""


def say(line=""):
    print(line, flush=True)


def stop(line):
    raise Stop(f"{PROG}: {line}")


# -- the zip's layout ---------------------------------------------------------------------------

def mode_refusal(mode, host, name):
    """Why an entry is not a release's regular file, or None."""
    if mode == "-rw-r--r--":
        return None if host == "unx" else f"{name} was packed on {host}, not on Unix as tools/release packs"
    if mode.startswith("l"):
        return f"{name} is a symbolic link, not a regular file"
    if mode.startswith("d"):
        return f"{name} is a folder entry, not a regular file"
    if mode.startswith("-"):
        return f"{name} has the mode {mode}, not the -rw-r--r-- of a release file"
    return f"{name} is not a regular file (mode {mode})"


def layout(names, entries):
    """(refusals, folder or None) of the names and the entries (mode, host, name) of a zip: each name
    once, one folder drvflip-<version>/ for all, each entry a regular file, a BUILDINFO.txt."""
    refusals = [f"{n} is in the zip more than once (a name twice)"
                for n in sorted({n for n in names if names.count(n) > 1})]
    tops = sorted({n.split("/", 1)[0] for n in names})
    folder = tops[0] if len(tops) == 1 and FOLDER.fullmatch(tops[0]) else None
    if folder is None:
        refusals.append("the files are not all under one folder drvflip-<version>/ "
                        f"(they are under: {' '.join(tops)})")
    refusals += [r for r in (mode_refusal(*e) for e in entries) if r]
    if folder is not None:
        info = f"{folder}/BUILDINFO.txt"
        if names.count(info) != 1 or ("-rw-r--r--", "unx", info) not in entries:
            refusals.append("the zip holds no drvflip-<version>/BUILDINFO.txt as a regular file: "
                            "it records no source to check against")
            folder = None
    return refusals, folder


def check_zip(given, path, folder):
    """The zip step: returns (refusals, commit); raises Stop."""
    try:
        refusals = zipfiles.refusals(path, BOUND)
    except zipfiles.NOT_A_ZIP:
        stop(f"{given} is not a zip")
    if refusals:
        for line in refusals:
            say(f"{PROG}: refused: {line}")
        stop(f"{given} is not a release as tools/release makes it; nothing was unpacked")
    problem = zipfiles.problem(path, BOUND)
    if problem:
        stop(f"{given}: {problem}; nothing was unpacked")
    try:
        names, entries = zipfiles.names(path), zipfiles.entries(path)
    except zipfiles.NOT_A_ZIP:
        stop(f"{given} is not a zip")
    refusals, top = layout(names, entries)
    for line in refusals:
        say(f"{PROG}: refused: {line}")
    if top is None:
        stop(f"{given} is not a release as tools/release makes it; nothing was built")
    info = f"{top}/BUILDINFO.txt"
    os.makedirs(os.path.join(folder, top), exist_ok=True)
    problem = zipfiles.problem(path, BOUND, folder, [info])
    if problem:
        say(problem)
        stop(f"{info} could not be read")
    with open(os.path.join(folder, info), "rb") as f:
        commits = buildinfo_commits(f.read())
    if len(commits) != 1:
        stop(f"{info} names no commit, or more than one")
    return refusals, commits[0]


# -- BUILDINFO.txt ------------------------------------------------------------------------------

def buildinfo_lines(data):
    """The lines of BUILDINFO.txt, every CR taken out."""
    return data.decode("latin-1").replace("\r", "").split("\n")


def buildinfo_commits(data):
    return [m.group(1) for m in map(COMMIT.fullmatch, buildinfo_lines(data)) if m]


def buildinfo_system(data):
    """The system ("ID CODENAME") that the first line of that form names, or None."""
    for line in data.decode("latin-1").split("\n"):
        m = SYSTEM.fullmatch(line[:-1] if line.endswith("\r") else line)
        if m:
            return m.group(1)
    return None


def buildinfo_packages(data):
    """What follows "package " on each package line, in order."""
    return [line[len("package "):] for line in buildinfo_lines(data) if line.startswith("package ")]


def expected_packages(data, toolchain):
    """The package lines that tools/release writes for the packages of TOOLCHAIN (in its order), with
    the version recorded in the same place where it has a version's form, else "<its version>"."""
    recorded = buildinfo_packages(data)
    lines = []
    for i, p in enumerate(toolchain):
        line = recorded[i] if i < len(recorded) else ""
        v = line[len(p) + 1:]
        if not (line.startswith(p + " ") and (PACKAGE_VERSION.fullmatch(v) or v == "(not installed)")):
            v = "<its version>"
        lines.append(f"package {p} {v}")
    return lines


def pins(data, info):
    """(name, version) of each installed toolchain package that BUILDINFO.txt records; raises Stop
    (without the program's name) at a line that is not a package and a Debian version."""
    found = []
    for line in buildinfo_packages(data):
        if line.endswith(" (not installed)"):
            continue
        p, v = (line.split(None, 1) + ["", ""])[:2]
        v = v.strip()
        if not (PACKAGE.fullmatch(p) and PACKAGE_VERSION.fullmatch(v)):
            raise Stop(f"{info}: a package line that is not a package and its version: '{p} {v}'")
        found.append((p, v))
    return found


def fresh_buildinfo(path):
    """The lines of `trust buildinfo`; raises Stop with the reason."""
    reason = f"{path} is not a zip that tools/verify-release would read"
    try:
        if zipfiles.refusals(path, BOUND):
            raise Stop(reason)
        names = zipfiles.names(path)
    except zipfiles.NOT_A_ZIP:
        raise Stop(reason) from None
    info = next((n for n in names if n.partition("/")[2] == "BUILDINFO.txt" and FOLDER.fullmatch(n.partition("/")[0])),
                None)
    if info is None:
        raise Stop(f"{path} holds no drvflip-<version>/BUILDINFO.txt")
    data = zipfiles.read(path, BOUND, info)
    if data is None:
        raise Stop(f"{info} could not be read")
    lines = [f"info {info}"]
    system = buildinfo_system(data)
    if system is not None:
        lines.append(f"system {system}")
    return lines + [f"pin {p}={v}" for p, v in pins(data, info)]


# -- RELEASES -----------------------------------------------------------------------------------

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


# -- comparisons --------------------------------------------------------------------------------

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


def same_exe(arch, shipped, built, how, commit):
    with open(shipped, "rb") as f:
        a = f.read()
    with open(built, "rb") as f:
        b = f.read()
    if a == b:
        return True, f"{arch}: identical ({how}) to the build of {commit}"
    where = pe.differing(shipped, built)
    return False, (f"{arch}: DIFFERS ({how}) from the build of {commit}: {len(a)} bytes against {len(b)}"
                   + (f"; of the bytes both have, {where} differ" if where else ""))


def same_zip(path, packed):
    a, b = os.path.getsize(path), os.path.getsize(packed)
    with open(path, "rb") as f, open(packed, "rb") as g:
        if f.read() == g.read():
            return True, "zip: identical to the zip that tools/release packs of these files"
    return False, (f"zip: DIFFERS from the zip that tools/release packs of these files ({a} bytes against {b}): "
                   "its headers, comment or layout are not the release's")


# -- signatures ---------------------------------------------------------------------------------

def verified(text):
    """What osslsigncode verify printed (2.5's form or 2.9's): the signer's subject, issuer and serial,
    the timestamp, the digest in the signature and the one calculated, and the verdict."""
    def field(name):
        on = False
        for line in text.split("\n"):
            if re.match(r"Signer.s certificate:", line):
                on = True
            elif on and name in line:
                return re.sub(r"^[^:]*: *", "", line, count=1)
        return ""

    def digest(which):
        m = re.search(rf"^{which} message digest *: *([0-9A-F]*)", text, re.M)
        return m.group(1) if m else ""

    stamp = ""
    for line in text.split("\n"):
        m = re.match(r"The signature is timestamped: *(.*)", line) or re.match(r"\s*Timestamp time: *(.*)", line)
        if m:
            stamp = m.group(1)
            break
    return {"subject": field("Subject:"), "issuer": field("Issuer :"), "serial": field("Serial :"),
            "stamp": stamp, "current": digest("Current"), "calculated": digest("Calculated"),
            "broken": bool(re.search(r"signature failure|digest failure", text)),
            "ok": bool(re.search(r"^Signature verification: ok", text, re.M))}


def signature_verdict(label, member, what, found, want_signer):
    """(lines, refusals, signer) of one signature, from what osslsigncode verify found."""
    lines = [f"{label}: signed by '{found['subject']}', issued by '{found['issuer']}'",
             f"{label}: " + (f"timestamped {found['stamp']}" if found["stamp"] else "no timestamp")]
    refusals = []
    current, calculated = found["current"], found["calculated"]
    if not current or current != calculated:
        refusals.append(f"{member}: its signature's digest ({current or 'none'}) is not the {what}'s "
                        f"({calculated or 'none'}): the signature is broken")
    elif found["broken"]:
        refusals.append(f"{member}: its signature's digest matches the {what}, but the signature itself does not "
                        "verify: it is broken")
    elif found["ok"]:
        lines.append(f"{label}: its signature's digest matches the {what}, and the signature verifies {CHAIN}")
    else:
        lines.append(f"{label}: its signature's digest matches the {what}; its chain ends in no certificate "
                     "known here (it is checked on Windows: Get-AuthenticodeSignature)")
    if want_signer and want_signer not in found["subject"]:
        refusals.append(f"{member} is signed by '{found['subject']}', which does not contain '{want_signer}' (--signer)")
    return lines, refusals, f"{found['subject']} | {found['issuer']} | {found['serial']}"


def osslsigncode_verify(path, der):
    """osslsigncode verify's output for the file at PATH whose signature is DER (a file), with the
    certificates that the signature carries as roots beside Debian's list; None where openssl cannot
    read the signature. The chain of trust is Windows' to judge."""
    certs = der + ".certs"
    if subprocess.run(["openssl", "pkcs7", "-inform", "DER", "-in", der, "-print_certs", "-out", certs],
                      stdin=subprocess.DEVNULL, capture_output=True, check=False).returncode:
        return None
    roots = der + ".roots"
    with open(roots, "wb") as out:
        for part in (certs, "/etc/ssl/certs/ca-certificates.crt"):
            try:
                with open(part, "rb") as f:
                    out.write(f.read())
            except OSError:
                pass
    run = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", roots, "-TSA-CAfile", roots],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    return run.stdout.decode("utf-8", "replace")


def signed_by(label, member, what, path, der, want_signer, refusals):
    """The lines of one member's signature (DER a file, or None where it is not signed); its signer."""
    if der is None:
        say(f"{label}: not signed")
        if want_signer:
            refusals.append(f"{member} is not signed, and --signer asks for '{want_signer}'")
        return NOT_SIGNED
    text = osslsigncode_verify(path, der)
    if text is None:
        refusals.append(f"{member}: openssl cannot read its signature")
        return REFUSED
    lines, refused, signer = signature_verdict(label, member, what, verified(text), want_signer)
    for line in lines:
        say(line)
    refusals += refused
    return signer


def signatures(name, folder, work, want_signer, old_osslsigncode, arches, scripts):
    """The signatures of a release's exes and PowerShell scripts; returns the number refused."""
    refused = []

    def refuse(line):
        say(f"{PROG}: refused: {line}")
        refused.append(line)

    signer = {}
    for arch in arches:
        member = f"{name}/{arch}/drvflip.exe"
        der = os.path.join(work, f"{arch}.p7")
        table = pe.cert_table(os.path.join(folder, member), der)
        signer[arch] = REFUSED
        if table not in (None, "signed"):
            refuse(f"{member} {table}")
            continue
        found = []
        signer[arch] = signed_by(arch, member, "exe", os.path.join(folder, member),
                                 None if table is None else der, want_signer, found)
        for line in found:
            refuse(line)
    if not refused and len(set(signer.values())) > 1:
        refuse(f"the {'two' if len(arches) == 2 else len(arches)} exes have different signers: "
               + ", ".join(f"{arch} '{signer[arch]}'" for arch in arches))
    for s in (s for s in scripts if s.endswith(".ps1")):
        der = os.path.join(work, "text", s + ".p7")
        signed = os.path.exists(der)
        if signed and old_osslsigncode is not None:
            stop("checking the signatures of the PowerShell scripts needs osslsigncode 2.8 or later; "
                 f"this one is {old_osslsigncode}")
        found = []
        s_signer = signed_by(s, f"{name}/{s}", "script", os.path.join(folder, name, s),
                             der if signed else None, want_signer, found)
        for line in found:
            refuse(line)
        if s_signer != signer[arches[0]]:
            refuse(f"{name}/{s} and the exes have different signers: the script '{s_signer}', "
                   f"the exes '{signer[arches[0]]}'")
    if not want_signer and signer[arches[0]] != NOT_SIGNED:
        say(f"{PROG}: note: who signed is yours to judge; --signer TEXT requires the publisher you expect")
    return len(refused)


# -- the command line ---------------------------------------------------------------------------

def verdict(same_and_line):
    same, line = same_and_line
    say(line)
    return 0 if same else 1


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(args):
    if args.command == "zip":
        refusals, commit = check_zip(args.given, args.zip, args.dir)
        with open(os.path.join(args.dir, "commit"), "w", encoding="ascii") as f:
            f.write(commit + "\n")
        return 1 if refusals else 0
    if args.command == "unpack":
        problem = zipfiles.problem(args.zip, BOUND, args.dir, args.names)
        if problem:
            say(problem)
            return 2
        return 0
    if args.command == "buildinfo":
        try:
            lines = fresh_buildinfo(args.zip)
        except Stop as e:
            say(str(e))
            return 1
        for line in lines:
            say(line)
        return 0
    if args.command == "system":
        say(buildinfo_system(read(args.buildinfo)) or "")
        return 0
    if args.command == "recorded-toolchain":
        for line in buildinfo_packages(read(args.buildinfo)):
            say(line)
        return 0
    if args.command == "packages":
        for line in expected_packages(read(args.buildinfo), args.packages):
            say(line)
        return 0
    if args.command == "releases":
        try:
            text = read(args.releases).decode("utf-8", "replace")
        except OSError:
            text = ""
        for version, commit in releases(text):
            say(f"{version} {commit}")
        return 0
    if args.command == "recorded":
        refusal, line = recorded(args.version, args.commit, args.head,
                                 read(args.releases).decode("utf-8", "replace"), args.unpublished)
        if refusal:
            say(f"{PROG}: refused: {refusal}")
            return 1
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(line + "\n")
        return 0
    if args.command == "files":
        wanted = read(args.names).decode("utf-8").split("\n")
        refusals = files(zipfiles.names(args.zip), [n for n in wanted if n])
        for line in refusals:
            say(f"{PROG}: refused: {line}")
        return 1 if refusals else 0
    if args.command == "unsign":
        try:
            text, der = fleet.unsign(read(args.script))
        except fleet.Refused as e:
            say(f"{PROG}: refused: {args.member} {e}")
            return 1
        with open(args.text, "wb") as f:
            f.write(text)
        if der is not None:
            with open(args.signature, "wb") as f:
                f.write(der)
        return 0
    if args.command == "same":
        return verdict(same_text(args.member, read(args.shipped), read(args.made), args.what, args.commit))
    if args.command == "signatures":
        return 1 if signatures(args.name, args.dir, args.work, args.signer, args.old_osslsigncode, args.exe,
                               args.scripts) else 0
    if args.command == "exe":
        return verdict(same_exe(args.arch, args.shipped, args.built, args.how, args.commit))
    return verdict(same_zip(args.zip, args.packed))


def parser():
    p = argparse.ArgumentParser(prog="python3 -m drvflip_release.trust", description=__doc__.split("\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = p.add_subparsers(dest="command", required=True)
    for command, arguments in (("zip", "given zip dir"), ("unpack", "zip dir names+"), ("buildinfo", "zip"),
                               ("system", "buildinfo"), ("recorded-toolchain", "buildinfo"),
                               ("packages", "buildinfo packages*"),
                               ("releases", "releases?"), ("recorded", "version commit head releases out"),
                               ("files", "zip names"), ("unsign", "script member text signature"),
                               ("same", "member shipped made what commit"), ("signatures", "name dir work scripts*"),
                               ("exe", "arch shipped built how commit"), ("packed", "zip packed")):
        c = commands.add_parser(command)
        for a in arguments.split():
            name, count = a.rstrip("*+?"), a[-1] if a[-1] in "*+?" else None
            if name == "releases" and count == "?":
                c.add_argument(name, nargs="?", default="RELEASES")
            else:
                c.add_argument(name, nargs=count)
        if command == "recorded":
            c.add_argument("--unpublished", action="store_true")
        if command == "signatures":
            c.add_argument("--signer", default="")
            c.add_argument("--old-osslsigncode")
            c.add_argument("--exe", action="append", required=True)
    return p


def main(argv=None):
    try:
        return run(parser().parse_args(argv))
    except Stop as e:
        sys.stdout.flush()
        print(e, file=sys.stderr, flush=True)
        return 2


if __name__ == "__main__":
    sys.exit(main())
