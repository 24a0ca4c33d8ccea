#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What tools/verify-release reads of a zip and of a signed exe, in bytes.

  release-zip.py members ZIP BOUND
      Refuses, before anything is unpacked, every member that is encrypted
      (in its central or its local header) or that declares more than BOUND
      bytes unpacked. One line per refusal; exit 1 if any, 3 if ZIP is no zip.
  release-zip.py unpack ZIP BOUND [DIR NAME...]
      Unpacks each member (every one where no NAME is given, into nothing: a
      test of the whole zip) and checks its CRC, never more than BOUND bytes
      of one, whatever its header declares. With DIR, writes NAME to DIR/NAME.
  release-zip.py cert-table EXE SIGNATURE
      Prints "unsigned", or checks that the certificate table holds exactly
      what Authenticode signing makes: one WIN_CERTIFICATE (revision 2.0,
      PKCS#7 signed data) whose length is the signature's DER length plus at
      most 7 bytes of zero padding to an 8-byte boundary, at the end of the
      file, and no nested signature; writes the signature (DER) to SIGNATURE
      and prints "signed". Otherwise one line says what was found; exit 1.

It reads the terminal never, and the signature's DER only through openssl.
"""

import struct
import subprocess
import sys
import zipfile
import zlib

CHUNK = 65536
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"


def members(path, bound):
    refusals = []
    with zipfile.ZipFile(path) as z, open(path, "rb") as raw:
        for info in z.infolist():
            raw.seek(info.header_offset)
            local = raw.read(30)
            local_flags = struct.unpack_from("<H", local, 6)[0] if local[:4] == b"PK\x03\x04" else 0
            if (info.flag_bits | local_flags) & 1:
                refusals.append(f"{info.filename} is encrypted: a release holds no encrypted file")
            if info.file_size > bound:
                refusals.append(f"{info.filename} declares {info.file_size} bytes unpacked, "
                                f"more than a file of a release can be ({bound})")
    for line in refusals:
        print(line)
    return 1 if refusals else 0


def unpack_one(z, info, bound, out):
    size = 0
    crc = 0
    with z.open(info) as member:
        while True:
            data = member.read(min(CHUNK, bound + 1 - size))
            if not data:
                break
            size += len(data)
            if size > bound:
                return f"{info.filename} unpacks to more than {bound} bytes (its header declares {info.file_size})"
            crc = zlib.crc32(data, crc)
            if out:
                out.write(data)
    if size != info.file_size or crc != info.CRC:
        return f"{info.filename} is damaged: it unpacks to {size} bytes, its header declares {info.file_size}"
    return None


def unpack(path, bound, folder=None, names=()):
    try:
        with zipfile.ZipFile(path) as z:
            wanted = [z.getinfo(n) for n in names] if names else z.infolist()
            for info in wanted:
                if folder is None:
                    problem = unpack_one(z, info, bound, None)
                else:
                    with open(f"{folder}/{info.filename}", "wb") as out:
                        problem = unpack_one(z, info, bound, out)
                if problem:
                    print(problem)
                    return 1
    except (zipfile.BadZipFile, zlib.error, KeyError, EOFError, NotImplementedError, RuntimeError) as e:
        print(f"not a whole zip: {e}")
        return 1
    return 0


def asn1parse(data):
    run = subprocess.run(["openssl", "asn1parse", "-inform", "DER"], input=data,
                         capture_output=True, check=False)
    return run.stdout.decode("ascii", "replace")


def cert_table(path, signature):
    data = open(path, "rb").read()

    def field(fmt, at):
        return struct.unpack_from(fmt, data, at)

    try:
        pe = field("<I", 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            return "is not a PE file"
        magic = field("<H", pe + 24)[0]
        directories = pe + 24 + (96 if magic == 0x10B else 112)
        if field("<I", directories - 4)[0] <= 4:
            return "has no certificate table entry in its header"
        at, size = field("<II", directories + 4 * 8)
    except struct.error:
        return "is not a PE file"
    if at == 0 and size == 0:
        return None
    if at % 8 or at + size != len(data):
        return (f"has its certificate table at {at}, {size} bytes, where the file is {len(data)} bytes: "
                "the table must be 8-byte aligned and end the file")
    if size < 8:
        return f"has a certificate table of {size} bytes, too small for a WIN_CERTIFICATE"
    length, revision, kind = field("<IHH", at)
    if length != size:
        return (f"has a WIN_CERTIFICATE of {length} bytes in a certificate table of {size}: "
                "something besides the one signature")
    if revision != 0x0200 or kind != 2:
        return f"has a WIN_CERTIFICATE of revision 0x{revision:04X}, type {kind}, not 2.0 with PKCS#7 signed data"
    content = data[at + 8:at + length]
    first = asn1parse(content).split("\n", 1)[0]
    try:
        header = int(first.split("hl=")[1].split()[0])
        body = int(first.split(" l=")[1].split()[0])
    except (IndexError, ValueError):
        return "has a certificate table whose content is not DER (openssl asn1parse reads no object)"
    der = header + body
    padding = content[der:]
    if len(padding) > 7 or padding.strip(b"\0") or length % 8:
        return (f"carries {len(padding)} bytes after its signature's {der} bytes of DER in the certificate table"
                + ("" if len(padding) <= 7 else " (at most 7 bytes of zero padding belong there)")
                + (", not all zero" if padding.strip(b"\0") else ""))
    if NESTED_SIGNATURE in asn1parse(content[:der]):
        return "holds a nested signature: a release's exe carries one signature"
    with open(signature, "wb") as out:
        out.write(content[:der])
    return "signed"


def main(argv):
    if len(argv) == 4 and argv[1] == "members":
        try:
            return members(argv[2], int(argv[3]))
        except (zipfile.BadZipFile, OSError, struct.error) as e:
            print(f"not a zip: {e}")
            return 3
    if len(argv) == 4 and argv[1] == "unpack":
        return unpack(argv[2], int(argv[3]))
    if len(argv) >= 6 and argv[1] == "unpack":
        return unpack(argv[2], int(argv[3]), argv[4], argv[5:])
    if len(argv) == 4 and argv[1] == "cert-table":
        found = cert_table(argv[2], argv[3])
        if found is None:
            print("unsigned")
            return 0
        print(found)
        return 0 if found == "signed" else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
