# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.pe: a PE file's sections, and where two exes differ."""

import os
import struct
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import pe  # noqa: E402


def image(sections):
    """A PE32+ file with the sections given as (name, offset, size), and zeros elsewhere."""
    end = max(o + s for _, o, s in sections)
    data = bytearray(end + 16)
    struct.pack_into("<I", data, 0x3C, 0x40)
    data[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<H", data, 0x46, len(sections))       # the number of sections
    struct.pack_into("<H", data, 0x54, 0xF0)                # size of the optional header
    table = 0x40 + 24 + 0xF0
    for i, (name, offset, size) in enumerate(sections):
        at = table + 40 * i
        data[at:at + 8] = name.encode().ljust(8, b"\0")
        struct.pack_into("<II", data, at + 16, size, offset)
    return bytes(data)


class Sections(unittest.TestCase):
    def write(self, data):
        handle, path = tempfile.mkstemp(suffix=".exe")
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        self.addCleanup(os.remove, path)
        return path

    def test_sections_and_where_bytes_differ(self):
        built = image([(".text", 0x400, 0x200), (".rdata", 0x600, 0x100), (".bss", 0, 0)])
        self.assertEqual(pe.sections(self.write(built)), [(".text", 0x400, 0x600), (".rdata", 0x600, 0x700)])
        shipped = bytearray(built)
        for at in (0x10, 0x401, 0x402, 0x650, 0x705):    # the headers, .text twice, .rdata, after the last
            shipped[at] ^= 0xFF
        self.assertEqual(pe.differing(self.write(bytes(shipped)), self.write(built)),
                         "1 in the headers, 2 in .text, 1 in .rdata, 1 in the data after the last section")
        self.assertEqual(pe.differing(self.write(built), self.write(built)), "")

    def test_a_file_that_is_no_pe_has_no_sections(self):
        self.assertEqual(pe.sections(self.write(b"MZ")), [])


if __name__ == "__main__":
    unittest.main()
