# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What the fleet scripts read of drvflip's output, held to what drvflip.exe prints: the lines and
the status named in src/app/switch_run.h, the types' names in src/driverctl/driver_requests.cpp,
against the literals of the scripts as the release makes them (fleet.render). No PowerShell."""

import os
import re
import sys
import unittest

sys.dont_write_bytecode = True
TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(TOP, "tools"))
from drvflip_release import fleet  # noqa: E402


def read(path):
    with open(os.path.join(TOP, path), encoding="utf-8") as f:
        return f.read()


class Contract(unittest.TestCase):
    def setUp(self):
        header = read("src/app/switch_run.h")
        wide = {name: text.replace("\\n", "\n") for name, text in
                re.findall(r'\b(k\w+Line) = L"((?:[^"\\]|\\.)*)";', header)}
        # Each line as a script sees it, between line breaks.
        self.no_reader = wide["kCountLine"].replace("%d", "0").strip("\n")
        self.active = wide["kActiveLine"].split("%s")[0].lstrip("\n")
        self.status = re.search(r"\bkExitNoReader = (\d+);", header).group(1)
        self.types = re.findall(r'case kDriver\w+: return L"(\w+)";', read("src/driverctl/driver_requests.cpp"))
        self.scripts = fleet.render(os.path.join(TOP, "fleet"))

    def test_the_scripts_are_made_for_the_types_that_drvflip_names(self):
        self.assertEqual(sorted(word for word, _ in fleet.TYPES), sorted(self.types))

    def test_each_powershell_script_reads_the_lines_and_the_status_once(self):
        want = {"NoReaderLine": f"'{self.no_reader}'", "ActivePrefix": f"'{self.active}'", "NoReaderStatus": self.status}
        ps1 = [n for n in self.scripts if n.endswith(".ps1")]
        self.assertTrue(ps1)
        for name in ps1:
            with self.subTest(name):
                text = self.scripts[name]
                got = dict(re.findall(r"^\$drvflip(NoReaderLine|ActivePrefix|NoReaderStatus) = (.*?)\r$", text, re.M))
                self.assertEqual(got, want)
                # No second copy that could drift from these.
                self.assertEqual((text.count("device(s) found"), text.count("Currently activated")), (1, 1))

    def test_each_cmd_script_that_runs_drvflip_compares_whole_lines_with_those_it_prints(self):
        runs = sorted(n for n, t in self.scripts.items() if n.endswith(".cmd") and '"%exe%"' in t)
        self.assertEqual(runs, [f"switch-{command}.cmd" for _, command in fleet.TYPES])
        for word, command in fleet.TYPES:
            with self.subTest(command):
                compared = re.findall(r'if "%%l"=="([^"]*)"', self.scripts[f"switch-{command}.cmd"])
                self.assertEqual(sorted(compared), sorted([self.active + word, self.no_reader]))


if __name__ == "__main__":
    unittest.main()
