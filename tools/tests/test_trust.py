# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.trust: the command line as verify-release and the other tools give it."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, TOOLS)
from drvflip_release import trust  # noqa: E402


class CommandLine(unittest.TestCase):
    def test_the_steps_options_then_names(self):
        args = trust.parser().parse_args(["before", "g.zip", "z", "w", "1.1.0", "c", "--system", "debian trixie",
                                          "--exe=x64", "--exe=x86", "--signer", "P", "--old-osslsigncode", "2.5"])
        self.assertEqual((args.step, args.system, args.exe, args.signer, args.old_osslsigncode, args.unpublished),
                         (trust.step_before, "debian trixie", ["x64", "x86"], "P", "2.5", False))
        with contextlib.redirect_stderr(io.StringIO()), self.assertRaises(SystemExit):
            trust.parser().parse_args(["after", "g.zip", "z", "w", "1.1.0", "c", "--system", "s", "--exe=x64"])

    def test_the_version_and_the_releases_for_the_other_tools(self):
        with tempfile.NamedTemporaryFile("w", suffix=".txt") as f:
            f.write(f"project(drvflip VERSION 1.2.3)\n1.0.2 {'a' * 40}\n")
            f.flush()
            for argv, status, out in ((["version", f.name], 0, "1.2.3\n"), (["releases", f.name], 0, f"1.0.2 {'a' * 40}\n"),
                                      (["version", "/nonexistent"], 1, ""), (["releases", "/nonexistent"], 0, "")):
                said = io.StringIO()
                with self.subTest(argv=argv), contextlib.redirect_stdout(said):
                    self.assertEqual(trust.main(argv), status)
                self.assertEqual(said.getvalue(), out)


if __name__ == "__main__":
    unittest.main()
