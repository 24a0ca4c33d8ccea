# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""A release's zip, read as untrusted input: nothing is unpacked past a bound, nothing is followed."""

import io
import stat
import struct
import zipfile
import zlib

CHUNK = 65536
# The names that zip's "version made by" gives the system that packed an entry, as unzip -Z shows them.
HOSTS = {0: "fat", 1: "ami", 2: "vms", 3: "unx", 4: "vm/cms", 5: "atari", 6: "hpfs", 7: "mac", 8: "zzz",
         9: "cpm", 10: "t20", 11: "ntfs", 12: "qdos", 13: "aosvs", 14: "vfat", 15: "mvs", 16: "beos",
         17: "tandem", 18: "theos", 19: "macosx", 30: "acorn"}


# What reading a file that is no zip raises.
NOT_A_ZIP = (zipfile.BadZipFile, OSError, struct.error)


def refusals(path, bound):
    """Why each member that is encrypted (in its central or its local header) or declares more than
    BOUND bytes unpacked is refused, read from the headers alone."""
    found = []
    with zipfile.ZipFile(path) as z, open(path, "rb") as raw:
        for info in z.infolist():
            raw.seek(info.header_offset)
            local = raw.read(30)
            local_flags = struct.unpack_from("<H", local, 6)[0] if local[:4] == b"PK\x03\x04" else 0
            if (info.flag_bits | local_flags) & 1:
                found.append(f"{info.filename} is encrypted: a release holds no encrypted file")
            if info.file_size > bound:
                found.append(f"{info.filename} declares {info.file_size} bytes unpacked, "
                             f"more than a file of a release can be ({bound})")
    return found


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


def problem(path, bound, folder=None, names=()):
    """Unpacks each member NAME (every one where none is given, into nothing: a test of the whole
    zip) and checks its CRC, never more than BOUND bytes of one; with FOLDER, writes NAME to
    FOLDER/NAME. Returns what stopped it, or None."""
    try:
        with zipfile.ZipFile(path) as z:
            wanted = [z.getinfo(n) for n in names] if names else z.infolist()
            for info in wanted:
                if folder is None:
                    found = unpack_one(z, info, bound, None)
                else:
                    with open(f"{folder}/{info.filename}", "wb") as out:
                        found = unpack_one(z, info, bound, out)
                if found:
                    return found
    except (zipfile.BadZipFile, zlib.error, KeyError, EOFError, NotImplementedError, RuntimeError) as e:
        return f"not a whole zip: {e}"
    return None


def read(path, bound, name):
    """The bytes of the member NAME, or None where it cannot be read whole within BOUND."""
    out = io.BytesIO()
    try:
        with zipfile.ZipFile(path) as z:
            if unpack_one(z, z.getinfo(name), bound, out):
                return None
    except (zipfile.BadZipFile, zlib.error, KeyError, EOFError, NotImplementedError, RuntimeError, OSError):
        return None
    return out.getvalue()


def names(path):
    """Each entry's name, in the zip's order (a name twice is listed twice)."""
    with zipfile.ZipFile(path) as z:
        return [info.filename for info in z.infolist()]


def entries(path):
    """(mode, host, name) of each entry, as unzip -Z shows the mode ("-rw-r--r--", "lrwxrwxrwx",
    "drwxr-xr-x") and names the system that packed it ("unx", "fat", ...). Where no Unix mode was
    stored, the mode is made from the MS-DOS attributes: a folder, read-only, or neither."""
    found = []
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            host = HOSTS.get(info.create_system, f"system {info.create_system}")
            unix = info.external_attr >> 16
            if not unix:
                folder = info.filename.endswith("/") or info.external_attr & 0x10
                unix = 0o040755 if folder else (0o100444 if info.external_attr & 0x01 else 0o100644)
            found.append((stat.filemode(unix), host, info.filename))
    return found
