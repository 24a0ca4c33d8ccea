# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.compare: each comparison's line, as cmp would place it."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import compare  # noqa: E402


class Comparisons(unittest.TestCase):
    def test_texts(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        rows = [  # shipped, made -> the verdict
            (b"a\r\nb\r\n", b"a\r\nb\r\n", "t: identical to the one made from C"),
            (b"a\r\nbX\r\n", b"a\r\nb\r\n", "t: DIFFERS from the one made from C, from line 2 on (the zip's: 'bX^M')"),
            (b"a\nb\n", b"a\r\nb\r\n", "t: DIFFERS from the one made from C, from line 1 on (the zip's: 'a')"),
            (b"a\r\n", b"a\r\nb\r\n", "t: DIFFERS from the one made from C: it ends after line 1, where that goes on"),
            (b"a\r\nb", b"a\r\nbc", "t: DIFFERS from the one made from C: it ends after line 2, where that goes on"),
            (b"", b"a", "t: DIFFERS from the one made from C: it ends after line 0, where that goes on"),
            (b"a\r\nb\r\nurl\x1b\x7f\xe9\r\n", b"a\r\nb\r\n",
             "t: DIFFERS from the one made from C, from line 3 on (the zip's: 'url^[^?M-i^M')"),
            (b"a\nbc", b"a\nb", "t: DIFFERS from the one made from C, from line 3 on (the zip's: '')"),
            (b"x" * 150, b"", "t: DIFFERS from the one made from C, from line 1 on (the zip's: '" + "x" * 100 + "')"),
        ]
        for shipped, made, line in rows:
            with self.subTest(shipped=shipped, made=made):
                self.assertEqual(compare.same_text("t", shipped, made, "the one made from", "C"), (shipped == made, line))
                # The line is the one cmp names (or, where the one made ends, the next), as before.
                paths = [os.path.join(folder, n) for n in ("s", "m")]
                for path, data in zip(paths, (shipped, made)):
                    with open(path, "wb") as f:
                        f.write(data)
                said = subprocess.run(["cmp", *paths], capture_output=True, text=True, check=False)
                if "line" in said.stdout + said.stderr and "EOF on " + paths[0] not in said.stderr:
                    at = int((said.stdout or said.stderr).split()[-1]) + ("EOF" in said.stderr)
                    self.assertIn(f"from line {at} on", line)



if __name__ == "__main__":
    unittest.main()
