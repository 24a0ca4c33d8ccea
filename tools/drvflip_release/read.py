# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What tools/verify-release reads of a zip and of a signed exe, in bytes: the command line
(python3 -B -m drvflip_release.read, with tools/ on PYTHONPATH; release_zip in
tools/lib/release-files.sh runs it so).

  read members ZIP BOUND
      Refuses, before anything is unpacked, every member that is encrypted
      (in its central or its local header) or that declares more than BOUND
      bytes unpacked. One line per refusal; exit 1 if any, 3 if ZIP is no zip.
  read unpack ZIP BOUND [DIR NAME...]
      Unpacks each member (every one where no NAME is given, into nothing: a
      test of the whole zip) and checks its CRC, never more than BOUND bytes
      of one, whatever its header declares. With DIR, writes NAME to DIR/NAME.
  read names ZIP
      Each entry's name, one a line, in the zip's order.
  read entries ZIP
      Each entry's mode (as ls shows it), the system that packed it (unx, fat,
      ...) and its name, separated by tabs.
  read cert-table EXE SIGNATURE
      Prints "unsigned", or checks that the certificate table holds exactly
      what Authenticode signing makes: one WIN_CERTIFICATE (revision 2.0,
      PKCS#7 signed data) whose length is the signature's DER length plus at
      most 7 bytes of zero padding to an 8-byte boundary, at the end of the
      file, and no nested signature; writes the signature (DER) to SIGNATURE
      and prints "signed". Otherwise one line says what was found; exit 1.
  read differs SHIPPED BUILT
      How many bytes differ in each part of BUILT's layout (its headers, each
      section, the padding between them, the data after the last), of the
      bytes that both exes have: "3 in .rdata, 1 in the headers".

It reads the terminal never, and the signature's DER only through openssl.
"""

import argparse
import struct
import sys
import zipfile

from . import pe, zipfiles


def main():
    parser = argparse.ArgumentParser(prog="python3 -m drvflip_release.read", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    c = commands.add_parser("members")
    c.add_argument("zip")
    c.add_argument("bound", type=int)
    c = commands.add_parser("unpack")
    c.add_argument("zip")
    c.add_argument("bound", type=int)
    c.add_argument("folder", nargs="?")
    c.add_argument("names", nargs="*")
    for name in ("names", "entries"):
        commands.add_parser(name).add_argument("zip")
    c = commands.add_parser("cert-table")
    c.add_argument("exe")
    c.add_argument("signature")
    c = commands.add_parser("differs")
    c.add_argument("shipped")
    c.add_argument("built")
    args = parser.parse_args()

    if args.command == "members":
        try:
            return zipfiles.members(args.zip, args.bound)
        except (zipfile.BadZipFile, OSError, struct.error) as e:
            print(f"not a zip: {e}")
            return 3
    if args.command == "unpack":
        if args.folder is not None and not args.names:
            parser.error("unpack ZIP BOUND DIR takes the names to unpack")
        return zipfiles.unpack(args.zip, args.bound, args.folder, args.names)
    if args.command in ("names", "entries"):
        try:
            rows = zipfiles.names(args.zip) if args.command == "names" else zipfiles.entries(args.zip)
        except (zipfile.BadZipFile, OSError) as e:
            print(f"not a zip: {e}", file=sys.stderr)
            return 3
        for row in rows:
            print(row if isinstance(row, str) else "\t".join(row))
        return 0
    if args.command == "cert-table":
        found = pe.cert_table(args.exe, args.signature)
        if found is None:
            print("unsigned")
            return 0
        print(found)
        return 0 if found == "signed" else 1
    print(pe.differing(args.shipped, args.built))
    return 0


if __name__ == "__main__":
    sys.exit(main())
