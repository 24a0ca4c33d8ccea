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

Nothing unknown ships: a linked member that no installed package holds, a member
of a library this tool does not know, a package that it does not expect for
that library, and a licence name without an SPDX mapping each stop it. It never
guesses: the licence comes from the package's copyright file, for the
library's own files; where the exact source file of a member is not known, the
library's licence is every licence that its files carry.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drvflip_release import Unknown  # noqa: E402
from drvflip_release.libraries import upstream  # noqa: E402
from drvflip_release.sbom import make, parts  # noqa: E402


def main():
    parser = argparse.ArgumentParser(prog="sbom.py", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("parts").add_argument("build")
    c = commands.add_parser("make")
    for name in ("version", "commit", "time", "out"):
        c.add_argument(name)
    c.add_argument("builds", nargs="+", metavar="ARCH=BUILD:EXE")
    args = parser.parse_args()
    try:
        if args.command == "parts":
            components, dlls = parts(args.build)
            for key, c in sorted(components.items()):
                print(f"{key} {upstream(c['version'])}: {c['package']} {c['version']}; {c['licence']}")
                for m in c["members"]:
                    print(f"  {m}")
            for dll in dlls:
                print(f"imports {dll} (part of Windows, not shipped)")
            return 0
        builds = []
        for given in args.builds:
            arch, _, rest = given.partition("=")
            build, _, exe = rest.partition(":")
            builds.append((arch, build, exe))
        make(args.version, args.commit, args.time, args.out, builds)
        return 0
    except Unknown as e:
        print(f"sbom: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
