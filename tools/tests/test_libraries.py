# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.libraries: a copyright file's licence for a library, a linked file's library, versions."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the tree (reuse lint would find it)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import Unknown, libraries  # noqa: E402

H = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
ZPL = "Files: *\nCopyright: x\nLicense: ZPL-2.1\n text\n\n"
GCC = ("The following runtime libraries are licensed under the terms of the\nGNU General Public License (v3 or "
       "later) with version 3.1 of the GCC\nRuntime Library Exception (included in this file):\n\n")


class CopyrightFiles(unittest.TestCase):
    # Each row: a copyright file, the library's source folders (or, for GCC's
    # file, the library's name), and the licence expected, or the start of
    # the refusal (lower case).
    rows = [
        # a folder's "/*" hides the paragraphs before it; a narrower one after it adds to it
        (H + ZPL + "Files: lib/a/*\nCopyright: y\nLicense: expat\n text\n", ["lib/a/src/"], "MIT"),
        (H + ZPL + "Files: lib/a/*\nCopyright: y\nLicense: expat\n text\n", ["lib/b/"], "ZPL-2.1"),
        (H + ZPL + "Files: lib/b/x.c\nCopyright: z\nLicense: public-domain\n\n", ["lib/b/"],
         "ZPL-2.1 AND LicenseRef-public-domain"),
        (H + ZPL + "Files: lib/b*\nCopyright: z\nLicense: ISC\n text\n", ["lib/b/"], "ZPL-2.1 AND ISC"),
        (H + "Files: lib/*\nCopyright: z\nLicense: BSD-2-clause-NetBSD and ISC\n\nLicense: BSD-2-clause-NetBSD\n t\n\n"
         "License: ISC\n t\n", ["lib/"], "BSD-2-Clause AND ISC"),
        (H + ZPL + "Files: lib/b/y.c\nCopyright: z\nLicense: Foo-1\n text\n", ["lib/b/"],
         "the licence 'Foo-1' has no SPDX"),
        (H + "Files: *\nCopyright: z\nLicense: ISC\n", ["lib/"], "no text for the licence 'ISC'"),
        (H + "Files: debian/*\nCopyright: z\nLicense: ISC\n t\n", ["lib/"], "says nothing of"),
        ("This is not machine-readable.\n", ["lib/"], "is not a machine-readable copyright file"),
        (GCC + " - libgcc (libgcc/)\n - libstdc++-v3\n\nOther:\n - libssp\n", "libgcc", libraries.GCC_EXCEPTION),
        (GCC + " - libgcc (libgcc/)\n - libstdc++-v3\n\nOther:\n - libssp\n", "libssp",
         "does not say under which terms"),
        ("GCC is free software.\n - libgcc\n", "libgcc", "does not say under which terms"),
    ]

    def test_each_row(self):
        saved = libraries.copyright_file
        try:
            for text, folders, want in self.rows:
                with self.subTest(folders=folders, want=want):
                    libraries.copyright_file = lambda pkg, text=text: (pkg, text)
                    kind = ("gcc", folders) if isinstance(folders, str) else ("dep5", folders)
                    try:
                        got = libraries.licence_of({"key": "lib", "copyright": kind}, "pkg")[0]
                    except Unknown as e:
                        got = str(e)
                    if want[0].islower():
                        self.assertIn(want, got)
                    else:
                        self.assertEqual(got, want)
        finally:
            libraries.copyright_file = saved


class Libraries(unittest.TestCase):
    def test_the_file_and_its_package_must_both_be_the_librarys(self):
        for path, pkg, want in [
            ("/usr/x86_64-w64-mingw32/lib/libmingw32.a", "mingw-w64-x86-64-dev", "mingw-w64-crt"),
            ("/usr/i686-w64-mingw32/lib/libwinpthread.a", "mingw-w64-i686-dev", "winpthreads"),
            ("/usr/lib/gcc/x86_64-w64-mingw32/12-posix/crtbegin.o", "gcc-mingw-w64-x86-64-posix", "libgcc"),
            ("/usr/x86_64-w64-mingw32/lib/libz.a", "libz-mingw-w64-dev", "comes from the package libz-mingw-w64-dev"),
            ("/usr/lib/x86_64-linux-gnu/libz.a", "zlib1g-dev", "belongs to no library"),
        ]:
            with self.subTest(path=path):
                try:
                    got = libraries.library_of(path, pkg, path)["key"]
                except Unknown as e:
                    got = str(e)
                self.assertIn(want, got)

    def test_upstream_versions_have_no_epoch_or_debian_revision(self):
        for given, want in [("1:12.2.0-14+deb12u1", "12.2.0"), ("10.0.0-3", "10.0.0"), ("2.5", "2.5"),
                            ("2.0-rc1-3", "2.0-rc1")]:
            self.assertEqual(libraries.upstream(given), want)


if __name__ == "__main__":
    unittest.main()
