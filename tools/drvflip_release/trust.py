# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What tools/verify-release decides of a release's zip: the command line (python3 -B -m
drvflip_release.trust, with tools/ on PYTHONPATH, in the checkout's top folder; trust in
tools/lib/release-files.sh runs it so). verify-release prepares (it installs, exports the commit's
tree, runs that commit's recipe and builds); these three steps judge, each printing verify-release's
own lines: a refusal ("verify-release: refused: ...") and each verdict on standard output, the line
that stops the check on standard error (where a member cannot be read whole, what stopped it is on
standard output before it). Each exits 0 where the check goes on (after: where all agree), 1 where it
refused or found a difference, 2 where the check stops.

  trust open GIVEN ZIP WORK [--unpublished]
      The zip before anything is unpacked or built (its layout: module layout), the commit that its
      BUILDINFO.txt names (it must be in this clone), that commit's version and whether RELEASES in
      this checkout's HEAD records the commit for it. Writes "commit", "version" and "system" (the
      one BUILDINFO.txt names, or nothing), one a line, to file descriptor 3: what the recipe needs.
  trust before GIVEN ZIP WORK VERSION COMMIT --system ID_CODENAME --exe ARCH... [--unpublished]
               [--signer TEXT] [--old-osslsigncode VERSION]
      What the commit's recipe made in WORK (files: the release's paths, one a line; made/: its
      texts and scripts/; buildinfo.head: BUILDINFO.txt's lines before the package lines;
      toolchain: the toolchain's packages; installed: "NAME VERSION" of each, installed here)
      against the zip: its files, each text and script byte for byte (a PowerShell script without
      its signature block), BUILDINFO.txt, each signature; then whether this system and toolchain
      are those that built it.
  trust after GIVEN ZIP WORK VERSION COMMIT --system ID_CODENAME --exe ARCH... --node-modules DIR
      The build (WORK/build-ARCH/drvflip.exe) against the zip's exes, a signed one with its
      signature removed (a differing pair kept for a closer look); the SBOM and the notices made
      again (WORK/made-sbom/) against the zip's, the SBOM checked by the CycloneDX project's
      validator (its npm packages under DIR); the zip against the one packed again (WORK/packed.zip).

And for the other tools, each printing its lines on standard output:

  trust buildinfo ZIP
      What fresh-check --verify needs of the zip's BUILDINFO.txt (layout.fresh_buildinfo); else one
      line saying why, and exit 1.
  trust releases [RELEASES]
      "VERSION COMMIT" for each release that RELEASES (a file, or ./RELEASES) records.
  trust version CMAKELISTS
      The project version that CMAKELISTS names; exit 1 where it names none.

It reads the terminal never, and a signature's DER only through openssl and osslsigncode.
"""

import argparse
import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile

from . import PROG, Stop, buildinfo, compare, fleet, layout, read, refuse, releases, sbom, say, signatures
from . import stderr, stop, write, zipfiles

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def git(*args):
    """What git prints, or None where it fails."""
    run = subprocess.run(["git", *args], stdin=subprocess.DEVNULL, capture_output=True, check=False)
    return run.stdout.decode("utf-8", "replace") if run.returncode == 0 else None


def record(version, commit, unpublished):
    """(refusal, line) of RELEASES in this checkout's HEAD for the commit, and HEAD's short name."""
    head = (git("rev-parse", "--short", "HEAD") or "").strip()
    refusal, line = releases.recorded(version, commit, head, git("show", "HEAD:RELEASES") or "", unpublished)
    return refusal, line, head


def step_open(args):
    refused, commit, info = layout.check_zip(args.given, args.zip, os.path.join(args.work, "zip"))
    if git("cat-file", "-e", f"{commit}^{{commit}}") is None:
        stop(f"commit {commit} is not in this clone: fetch it, then run this again")
    version = releases.version_of(git("show", f"{commit}:CMakeLists.txt") or "")
    if version is None:
        stop(f"the commit {commit} has no project version in its CMakeLists.txt")
    refusal, _, _ = record(version, commit, args.unpublished)
    if refusal:
        refuse(refusal)
    if refused or refusal:
        stop(f"{args.given} is not a release as tools/release makes it; nothing was built")
    with os.fdopen(3, "w", encoding="utf-8") as facts:
        facts.write(f"{commit}\n{version}\n{buildinfo.system(read(info)) or ''}\n")
    return 0


def lines_of(path):
    return [line for line in read(path).decode("utf-8", "replace").split("\n") if line]


class Release:
    """The paths of a release as its commit's recipe names them, and where verify-release put what."""

    def __init__(self, args):
        self.args, self.work, self.commit = args, args.work, args.commit
        self.name = f"drvflip-{args.version}"
        self.files = lines_of(os.path.join(self.work, "files"))
        self.info = self.zipped("BUILDINFO.txt")

    def zipped(self, member):
        return os.path.join(self.work, "zip", self.name, member)

    def members(self, under=""):
        """The release's paths under NAME/UNDER, without NAME/."""
        return [f[len(self.name) + 1:] for f in self.files if f.startswith(f"{self.name}/{under}")]

    def toolchain(self):
        """(the notes, whether this system or its toolchain is not the one that built the release)."""
        data = read(self.info)
        return buildinfo.toolchain_notes(buildinfo.system(data), self.args.system, buildinfo.packages(data),
                                         lines_of(os.path.join(self.work, "installed")))


def verdict(same_and_line):
    same, line = same_and_line
    say(line)
    return 0 if same else 1


def step_before(args):
    r = Release(args)
    refusals = releases.files(zipfiles.names(args.zip), r.files)
    for line in refusals:
        refuse(line)
    if refusals:
        stop(f"{args.given} is not a release as tools/release makes it; nothing was built")
    _, line, head = record(args.version, args.commit, args.unpublished)
    say(line)
    say(f"{PROG}: note: RELEASES was read from this checkout's HEAD ({head}); that it is the project's own main "
        "is yours to judge")
    problem = layout.unpack(args.zip, os.path.join(r.work, "zip"), r.files)
    if problem:
        say(problem)
        stop("the members could not be read")
    made = os.path.join(r.work, "made")
    status = 0
    # The texts that the recipe made, and the lines of BUILDINFO.txt that tools/release writes, with
    # the releaser's toolchain versions in the package lines.
    # README.txt first, then the others in the zip's order, as verify-release has always printed them.
    texts = [m for m in r.members() if "/" not in m and os.path.isfile(os.path.join(made, m))]
    for text in sorted(texts, key=lambda m: m != "README.txt"):
        status |= verdict(compare.same_text(text, read(r.zipped(text)), read(os.path.join(made, text)),
                                            "the one made from", r.commit))
    info = read(r.info)
    status |= verdict(compare.same_text("BUILDINFO.txt", info, buildinfo.expected(
        info, lines_of(os.path.join(r.work, "buildinfo.head")), lines_of(os.path.join(r.work, "toolchain"))),
        "the lines tools/release writes for", r.commit))
    # The fleet scripts: a PowerShell script is compared without its signature block, which is
    # written for the signatures' check.
    refused = False
    scripts = r.members("scripts/")
    for s in scripts:
        shipped = read(r.zipped(s))
        if s.endswith(".ps1"):
            try:
                shipped, der = fleet.unsign(shipped)
            except fleet.Refused as e:
                refuse(f"{r.name}/{s} {e}")
                refused = True
                continue
            if der is not None:
                os.makedirs(os.path.dirname(os.path.join(r.work, "text", s)), exist_ok=True)
                write(os.path.join(r.work, "text", s + ".p7"), der)
        status |= verdict(compare.same_text(s, shipped, read(os.path.join(made, s)), "the one made from", r.commit))
    if refused:
        stop(f"{args.given} is not a release as tools/release makes it; nothing was built")
    if status:
        stop(f"{args.given} is not the release of {r.commit}; nothing was built")
    if signatures.signatures(r.name, os.path.join(r.work, "zip"), r.work, args.signer, args.old_osslsigncode,
                             args.exe, scripts):
        stop(f"{args.given} is not a release as tools/release makes it; nothing was built")
    for line in r.toolchain()[0]:
        say(line)
    return 0


def same_exes(r, arches):
    status = 0
    kept = None
    for arch in arches:
        shipped = r.zipped(f"{arch}/drvflip.exe")
        built = os.path.join(r.work, f"build-{arch}", "drvflip.exe")
        # A signed exe gives back the exe as built once its signature is removed.
        how = "unsigned"
        plain = os.path.join(r.work, f"{arch}.exe")
        if os.path.exists(os.path.join(r.work, f"{arch}.p7")) and compare.without_signature(shipped, plain):
            shipped, how = plain, "with its signature removed"
        if verdict(compare.same_exe(arch, shipped, built, how, r.commit)):
            status = 1
            # Both are kept for a closer look.
            kept = kept or tempfile.mkdtemp(prefix="drvflip-verify.", dir=os.environ.get("TMPDIR") or "/tmp")
            pair = [os.path.join(kept, f"{arch}-{which}.exe") for which in ("zip", "built")]
            shutil.copyfile(shipped, pair[0])
            shutil.copyfile(built, pair[1])
            if shutil.which("diffoscope"):
                say(f"  diffoscope {pair[0]} {pair[1]} shows the difference")
            else:
                say(f"  both are kept: cmp -l {pair[0]} {pair[1]} lists the bytes (diffoscope, if installed, shows more)")
    return status


def same_sbom(r, arches, modules):
    """The zip's SBOM is untrusted input: bounded, parsed by one tool, refused with a line for each
    component it names that the rebuild did not link, each one it lacks and each exe hash it gets
    wrong; then validated by the CycloneDX project's library and compared byte for byte, as the
    notices are."""
    name = f"{r.name}.cdx.json"
    shipped, made = r.zipped(name), os.path.join(r.work, "made-sbom", name)
    status = 0
    found = io.StringIO()
    with contextlib.redirect_stdout(found):
        differs = sbom.compare(shipped, made, [(arch, r.zipped(f"{arch}/drvflip.exe")) for arch in arches])
    if differs:
        for line in found.getvalue().splitlines():
            refuse(line)
        status = 1
    else:
        run = subprocess.run(["node", os.path.join(TOOLS, "sbom-validator", "validate.cjs"), shipped],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, check=False,
                             env={**os.environ, "NODE_PATH": os.path.join(modules, "node_modules")})
        validated = run.stdout.decode("utf-8", "replace").rstrip("\n")
        if run.returncode:
            status = 1
        say(f"{name}: {validated}" if run.returncode == 0 else f"{name}: refused by the CycloneDX validator: {validated}")
        status |= verdict(compare.same_text(name, read(shipped), read(made), "the one made from the links of the build of",
                                            r.commit))
    notices = "THIRD-PARTY-NOTICES.txt"
    return status | verdict(compare.same_text(notices, read(r.zipped(notices)),
                                              read(os.path.join(r.work, "made-sbom", notices)),
                                              "the notices made from the links of the build of", r.commit))


def step_after(args):
    r = Release(args)
    status = same_exes(r, args.exe)
    if f"{r.name}/{r.name}.cdx.json" in r.files:
        status |= same_sbom(r, args.exe, args.node_modules)
    # The zip itself: the one tools/release packs of these members, byte for byte, so that no
    # comment, extra field or other entry layout rides along.
    status |= verdict(compare.same_zip(args.zip, os.path.join(r.work, "packed.zip")))
    if status and r.toolchain()[1]:
        say(f"{PROG}: to build it as it was built, run as root: tools/fresh-check --verify {args.given}")
        say(f"  (it checks the zip in a stock {buildinfo.system(read(r.info)) or ''} root with the package versions "
            "that BUILDINFO.txt records)")
    return status


def other(args):
    if args.command == "buildinfo":
        try:
            found = layout.fresh_buildinfo(args.zip)
        except Stop as e:
            say(str(e))
            return 1
    elif args.command == "releases":
        try:
            text = read(args.releases).decode("utf-8", "replace")
        except OSError:
            text = ""
        found = [f"{v} {c}" for v, c in releases.releases(text)]
    else:
        try:
            version = releases.version_of(read(args.cmakelists).decode("utf-8", "replace"))
        except OSError:
            version = None
        if version is None:
            return 1
        found = [version]
    for line in found:
        say(line)
    return 0


def parser():
    p = argparse.ArgumentParser(prog="python3 -m drvflip_release.trust", description=__doc__.split("\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = p.add_subparsers(dest="command", required=True)
    c = commands.add_parser("open")
    c.set_defaults(step=step_open)
    for name in ("given", "zip", "work"):
        c.add_argument(name)
    c.add_argument("--unpublished", action="store_true")
    for command, step in (("before", step_before), ("after", step_after)):
        c = commands.add_parser(command)
        c.set_defaults(step=step)
        for name in ("given", "zip", "work", "version", "commit"):
            c.add_argument(name)
        c.add_argument("--system", required=True)
        c.add_argument("--exe", action="append", required=True)
        if command == "before":
            c.add_argument("--unpublished", action="store_true")
            c.add_argument("--signer", default="")
            c.add_argument("--old-osslsigncode")
        else:
            c.add_argument("--node-modules", required=True)
    commands.add_parser("buildinfo").add_argument("zip")
    commands.add_parser("releases").add_argument("releases", nargs="?", default="RELEASES")
    commands.add_parser("version").add_argument("cmakelists")
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    if not hasattr(args, "step"):
        return other(args)
    try:
        return args.step(args)
    except Stop as e:
        stderr(str(e))
        return 2


if __name__ == "__main__":
    sys.exit(main())
