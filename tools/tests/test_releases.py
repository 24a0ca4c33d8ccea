# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.releases: the version, and the rule of RELEASES."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import releases  # noqa: E402
from test_layout import C1, C2  # noqa: E402


class Releases(unittest.TestCase):
    def test_the_rule(self):
        text = f"# version commit\n1.0.2 {C1}\n1.0.3 {C1[:39]}\n1.1.0  {C2}\n1.2.0 {C1}\n1.2.0 {C2}\n"
        self.assertEqual(releases.releases(text), [("1.0.2", C1), ("1.2.0", C1), ("1.2.0", C2)])
        rows = [  # version, commit, --unpublished -> (refusal, line)
            ("1.0.2", C1, False, (None, f"release: the released 1.0.2 (RELEASES at abc records {C1} for it)")),
            ("1.0.2", C2, True, (f"RELEASES at abc records 1.0.2 as released from {C1}, and this zip was made from {C2}",
                                 None)),
            ("1.2.0", C1, False, (f"RELEASES at abc records 1.2.0 as released from {C1} {C2}, and this zip was made "
                                  f"from {C1}", None)),
            ("1.1.0", C2, False, ("1.1.0 is not a released version of drvflip: RELEASES at abc records none "
                                  "(--unpublished checks a build of your own)", None)),
            ("1.1.0", C2, True, (None, f"release: 1.1.0 is not a released version of drvflip: RELEASES at abc records "
                                       f"none, so {C2} is not a recorded release (checked as --unpublished asks)")),
        ]
        for version, commit, unpublished, verdict in rows:
            with self.subTest(version=version, commit=commit):
                self.assertEqual(releases.recorded(version, commit, "abc", text, unpublished), verdict)

    def test_the_version(self):
        rows = [("project(drvflip VERSION 1.1.0 LANGUAGES CXX)\n", "1.1.0"), ("x\nproject(drvflip VERSION 2)", "2"),
                ("  project(drvflip VERSION 1.1.0)", None), ("project(drvflip VERSION v1)", None), ("", None)]
        for text, version in rows:
            with self.subTest(text=text):
                self.assertEqual(releases.version_of(text), version)

    def test_files_added_and_missing(self):
        self.assertEqual(releases.files(["r/b", "r/a", "r/x", "r/x"], ["r/a", "r/b", "r/c"]),
                         ["r/x is not a file of the release (a file added)", "r/c is missing"])
        self.assertEqual(releases.files(["r/a"], ["r/a"]), [])



if __name__ == "__main__":
    unittest.main()
