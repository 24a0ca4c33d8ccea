# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What the fleet scripts read of drvflip's output: the lines and the status that drvflip.exe
prints (named in src/app/switch_run.h and src/driverctl/driver_requests.cpp) against the literals
of the scripts as the release makes them (fleet.render). Runs without PowerShell."""

import os
import re
import sys
import unittest

sys.dont_write_bytecode = True
TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(TOP, "tools"))
from drvflip_release import fleet  # noqa: E402


def source(path):
    with open(os.path.join(TOP, path), encoding="utf-8") as f:
        return f.read()


def wide(header, name):
    """The text of the wide string constant NAME in HEADER, its escapes \\n read."""
    found = re.findall(r'\b' + name + r'\s*=\s*L"((?:[^"\\]|\\.)*)"', header)
    if len(found) != 1:
        raise AssertionError(f"{name}: {len(found)} definitions")
    return found[0].replace("\\n", "\n")


class Printed:
    """What drvflip.exe prints, from its source."""

    def __init__(self):
        header = source("src/app/switch_run.h")
        count = wide(header, "kCountLine")
        active = wide(header, "kActiveLine")
        assert count.count("%d") == 1 and active.count("%s") == 1, (count, active)
        # Each printed line as a script sees it: between line breaks.
        self.no_reader = count.replace("%d", "0").strip("\n")
        self.active_prefix = active.split("%s")[0].lstrip("\n")
        self.no_reader_status = int(re.search(r"\bkExitNoReader\s*=\s*(\d+);", header).group(1))
        names = re.findall(r'case kDriver(\w+): return L"(\w+)";', source("src/driverctl/driver_requests.cpp"))
        self.types = sorted(name for _, name in names)


class Contract(unittest.TestCase):
    def setUp(self):
        self.printed = Printed()
        self.scripts = fleet.render(os.path.join(TOP, "fleet"))

    def test_the_types_the_scripts_are_made_for_are_those_drvflip_prints(self):
        self.assertEqual(sorted(word for word, _ in fleet.TYPES), self.printed.types)

    def test_every_powershell_script_reads_the_lines_and_the_status_that_drvflip_prints(self):
        p = self.printed
        want = {"drvflipNoReaderLine": f"'{p.no_reader}'", "drvflipActivePrefix": f"'{p.active_prefix}'",
                "drvflipNoReaderStatus": str(p.no_reader_status)}
        ps1 = {n: t for n, t in self.scripts.items() if n.endswith(".ps1")}
        self.assertTrue(ps1)
        for name, text in ps1.items():
            with self.subTest(name):
                got = dict(re.findall(r"^\$(drvflipNoReader(?:Line|Status)|drvflipActivePrefix) = (.*?)\r$",
                                      text, re.M))
                self.assertEqual(got, want)
                # Nowhere else: no second copy of a line that could drift from these.
                self.assertEqual(text.count("device(s) found"), 1)
                self.assertEqual(text.count("Currently activated"), 1)

    def test_every_cmd_script_that_runs_drvflip_compares_its_lines_with_those_it_prints(self):
        p = self.printed
        runs = {n: t for n, t in self.scripts.items() if n.endswith(".cmd") and '"%exe%"' in t}
        self.assertEqual(sorted(runs), [f"switch-{command}.cmd" for _, command in fleet.TYPES])
        for (word, command) in fleet.TYPES:
            with self.subTest(command):
                compared = re.findall(r'if "%%l"=="([^"]*)"', runs[f"switch-{command}.cmd"])
                self.assertEqual(sorted(compared), sorted([p.active_prefix + word, p.no_reader]))


if __name__ == "__main__":
    unittest.main()
