# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.buildinfo: BUILDINFO.txt's lines, and what its toolchain says of a rebuild."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import Stop, buildinfo  # noqa: E402
from test_layout import INFO  # noqa: E402


class Buildinfo(unittest.TestCase):
    def test_system(self):
        rows = [(INFO, "debian trixie"), ("system debian bookworm\n", "debian bookworm"), ("version 1\r\n", None),
                ("system debian bookworm extra\r\nsystem debian trixie\r\n", "debian trixie"),
                ("system Debian Trixie\r\n", None), ("system debian trixie\r\r\n", None)]
        for text, system in rows:
            with self.subTest(text=text):
                self.assertEqual(buildinfo.system(text.encode()), system)

    def test_the_package_lines_made_for_the_toolchain(self):
        rows = [  # recorded lines, toolchain -> the package lines made
            ("package cmake 3.25.1-1\r\npackage zip (not installed)\r\n", ["cmake", "zip"],
             ["package cmake 3.25.1-1", "package zip (not installed)"]),
            ("package cmake 3.25.1-1\r\n", ["cmake", "zip"], ["package cmake 3.25.1-1", "package zip <its version>"]),
            ("package ninja 1.11\r\n", ["cmake"], ["package cmake <its version>"]),
            ("package cmake 3.25 1\r\n", ["cmake"], ["package cmake <its version>"]),
            ("package cmake $(id)\r\n", ["cmake"], ["package cmake <its version>"]),
            ("package cmake 1:3.25~rc1+dfsg-1\r\n", ["cmake"], ["package cmake 1:3.25~rc1+dfsg-1"]),
        ]
        for text, toolchain, lines in rows:
            with self.subTest(text=text):
                self.assertEqual(buildinfo.expected_packages(text.encode(), toolchain), lines)

    def test_what_the_toolchain_says_of_a_rebuild(self):
        built = "release was built on debian bookworm, and this system is debian trixie"
        other = ["verify-release: note: the toolchain installed is not the one recorded; different bytes then",
                 "  need not mean a forged exe (< recorded, > installed):"]
        rows = [  # the system named, the toolchain recorded, the one installed -> the notes, whether another
            ("debian trixie", ["a 1", "b 2"], ["a 1", "b 2"], [], False),
            (None, ["a 1"], ["a 1"], [], False),
            ("debian bookworm", ["a 1"], ["a 1"], [f"verify-release: note: this {built}"], True),
            ("debian trixie", ["a 1", "b 2", "c 3"], ["a 1", "b 9", "c 3"], other + ["  < b 2", "  > b 9"], True),
            ("debian trixie", ["a 1", "b 2"], ["a 1"], other + ["  < b 2"], True),
            ("debian trixie", ["a 1"], ["z (not installed)", "a 1"], other + ["  > z (not installed)"], True),
        ]
        for named, recorded, installed, notes, another in rows:
            with self.subTest(named=named, recorded=recorded, installed=installed):
                self.assertEqual(buildinfo.toolchain_notes(named, "debian trixie", recorded, installed), (notes, another))

    def test_the_pins_of_fresh_check(self):
        self.assertEqual(buildinfo.pins(INFO.encode(), "i"), [("cmake", "3.25.1-1")])
        for line in ("package Cmake 1", "package cmake", "package cmake 1;rm", "package -x 1"):
            with self.subTest(line=line), self.assertRaisesRegex(Stop, "^i: a package line that is not a package"):
                buildinfo.pins(line.encode(), "i")


if __name__ == "__main__":
    unittest.main()
