# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""A PE file (an exe): its sections, its imports and its certificate table."""

import struct
import subprocess

from . import Unknown

NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"


def sections(path):
    """(name, start, end) of each section that has bytes in the file, as file offsets."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        pe = struct.unpack_from("<I", data, 60)[0]
        count = struct.unpack_from("<H", data, pe + 6)[0]
        table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
        found = []
        for i in range(count):
            at = table + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            size, start = struct.unpack_from("<II", data, at + 16)
            if size:
                found.append((name, start, start + size))
        return found
    except struct.error:
        return []


def differing(shipped, built):
    """How many bytes differ in each part of BUILT's layout, in file order, of the bytes that both
    files have: "3 in .rdata, 1 in the headers"; empty where none differ."""
    with open(shipped, "rb") as f:
        a = f.read()
    with open(built, "rb") as f:
        b = f.read()
    layout = sections(built)
    first = min((s for _, s, _ in layout), default=-1)
    last = max((e for _, _, e in layout), default=0)
    counts = {}
    for at in range(min(len(a), len(b))):
        if a[at] == b[at]:
            continue
        part = "the padding between sections"
        if at < first:
            part = "the headers"
        elif at >= last:
            part = "the data after the last section"
        else:
            for name, start, end in layout:
                if start <= at < end:
                    part = name
        counts[part] = counts.get(part, 0) + 1
    return ", ".join(f"{n} in {part}" for part, n in counts.items())


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
