# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.linkmap: what a linker map says went into an exe."""

import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import Unknown, linkmap  # noqa: E402


def linked(lines):
    with tempfile.TemporaryDirectory() as build:
        with open(os.path.join(build, "drvflip.map"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        return linkmap.linked(build)


class LinkerMaps(unittest.TestCase):
    def test_every_object_and_archive_member_and_nothing_else(self):
        # Archive members, and objects on their own; not whole archives or the linker's own "dll stuff".
        self.assertEqual(linked([
            "Archive member included to satisfy reference by file (symbol)", "",
            "/usr/lib/gcc/x/../../../x/lib/libmingw32.a(gccmain.o)", "                              main.obj (__main)",
            "libdrvflip_core.a(entry.cpp.obj)", "", "Discarded input sections", "",
            " .text 0x0 /usr/lib/libno.a(no.o)", "", "Linker script and memory map", "",
            "LOAD /usr/x/crt2u.o", "LOAD main.obj", "LOAD /usr/x/libkernel32.a", "LOAD dll stuff"]), [
            ("/usr/lib/gcc/x/../../../x/lib/libmingw32.a", "gccmain.o"), ("libdrvflip_core.a", "entry.cpp.obj"),
            ("/usr/x/crt2u.o", None), ("main.obj", None)])

    def test_a_map_that_names_nothing_linked_is_refused(self):
        with self.assertRaises(Unknown):
            linked(["Linker script and memory map", "", "LOAD dll stuff"])


if __name__ == "__main__":
    unittest.main()
