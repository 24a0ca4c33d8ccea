# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.notices: one section for each library, however many exes hold it."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import notices  # noqa: E402


class Notices(unittest.TestCase):
    def test_a_library_in_both_exes_is_one_section_that_names_both(self):
        libgcc = {"version": "12.2.0-14+25.2", "licence": "GPL-3.0-or-later WITH GCC-exception-3.1",
                  "notices": [("libgcc", "No notice is owed.")], "package": "gcc-mingw-w64-x86-64-posix"}
        other = dict(libgcc, package="gcc-mingw-w64-i686-posix")
        newer = dict(libgcc, version="14.2.0-19", package="gcc-mingw-w64-i686-posix")
        text = notices.notices("1.1.0", [("x64", "libgcc", libgcc), ("x86", "libgcc", other)])
        self.assertEqual(text.count("\nlibgcc 12.2.0\n"), 1)
        self.assertIn("In: x64/drvflip.exe (from Debian's gcc-mingw-w64-x86-64-posix 12.2.0-14+25.2)\n"
                      "    x86/drvflip.exe (from Debian's gcc-mingw-w64-i686-posix 12.2.0-14+25.2)\n"
                      "Licence: GPL-3.0-or-later WITH GCC-exception-3.1\n\n-- libgcc\nNo notice is owed.\n", text)
        # Another version is another section.
        text = notices.notices("1.1.0", [("x64", "libgcc", libgcc), ("x86", "libgcc", newer)])
        self.assertIn("\nlibgcc 12.2.0\n", text)
        self.assertIn("\nlibgcc 14.2.0\n", text)


if __name__ == "__main__":
    unittest.main()
