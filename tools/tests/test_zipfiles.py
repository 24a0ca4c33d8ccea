# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.zipfiles: a zip read bounded, its entries' modes and systems."""

import os
import sys
import tempfile
import unittest
import zipfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import zipfiles  # noqa: E402


def entry(name, data=b"x", system=3, mode=None, dos=0):
    info = zipfile.ZipInfo(name)
    info.create_system = system
    info.external_attr = ((mode or 0) << 16) | dos
    return info, data


class Zips(unittest.TestCase):
    def make(self, rows):
        handle, path = tempfile.mkstemp(suffix=".zip")
        os.close(handle)
        self.addCleanup(os.remove, path)
        with zipfile.ZipFile(path, "w") as z:
            for info, data in rows:
                z.writestr(info, data)
        return path

    def test_entries_as_unzip_shows_them(self):
        path = self.make([entry("a/f", mode=0o100644), entry("a/l", b"/etc/os-release", mode=0o120777),
                          entry("a/d/", b"", mode=0o040755), entry("a/x", mode=0o100755),
                          entry("a/dos", system=0, dos=0x20), entry("a/ro", system=0, dos=0x21)])
        self.assertEqual(zipfiles.entries(path), [
            ("-rw-r--r--", "unx", "a/f"), ("lrwxrwxrwx", "unx", "a/l"), ("drwxr-xr-x", "unx", "a/d/"),
            ("-rwxr-xr-x", "unx", "a/x"), ("-rw-r--r--", "fat", "a/dos"), ("-r--r--r--", "fat", "a/ro")])
        self.assertEqual(zipfiles.names(path), ["a/f", "a/l", "a/d/", "a/x", "a/dos", "a/ro"])

    def test_a_member_over_the_bound_is_refused_and_never_unpacked_past_it(self):
        path = self.make([entry("a/small", b"x" * 10), entry("a/big", b"y" * 11)])
        self.assertEqual(zipfiles.refusals(path, 10),
                         ["a/big declares 11 bytes unpacked, more than a file of a release can be (10)"])
        self.assertEqual(zipfiles.refusals(path, 11), [])
        self.assertEqual(zipfiles.read(path, 10, "a/small"), b"x" * 10)
        self.assertIsNone(zipfiles.read(path, 10, "a/big"))
        self.assertEqual(zipfiles.read(path, 11, "a/big"), b"y" * 11)

if __name__ == "__main__":
    unittest.main()
