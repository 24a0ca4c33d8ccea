# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.layout: each way the zip step refuses a zip, and how fresh-check reads its BUILDINFO.txt, on small zips made here."""

import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.dont_write_bytecode = True
TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, TOOLS)
from drvflip_release import Stop, layout  # noqa: E402

C1 = "1" * 40
C2 = "2" * 40
INFO = f"# What built this release\r\nversion 1.1.0\r\ncommit {C1}\r\nsystem debian trixie\r\n" \
       "package cmake 3.25.1-1\r\npackage zip (not installed)\r\n"


def entry(name, data=b"x", mode=0o100644, system=3):
    info = zipfile.ZipInfo(name)
    info.create_system = system
    info.external_attr = mode << 16
    return info, data


class Case(unittest.TestCase):
    def folder(self):
        path = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, path)
        return path

    def make(self, rows):
        path = os.path.join(self.folder(), "r.zip")
        with zipfile.ZipFile(path, "w") as z:
            for info, data in rows:
                z.writestr(info, data)
        return path

    def release(self, info=INFO, extra=()):
        return self.make([entry("drvflip-1.1.0/BUILDINFO.txt", info.encode()), entry("drvflip-1.1.0/README.txt"),
                          *extra])

    def run_zip(self, path):
        """(status, standard output, the line that stopped it) of the zip step: 0 where it goes on,
        1 where it refused, 2 where it stopped."""
        out = io.StringIO()
        try:
            with contextlib.redirect_stdout(out):
                refused = layout.check_zip("given.zip", path, self.folder())[0]
        except Stop as e:
            return 2, out.getvalue(), f"{e}\n"
        return int(refused), out.getvalue(), ""


class Layout(Case):
    def test_each_way_an_entry_is_not_a_release_file(self):
        rows = [  # (mode, host) -> refusal, or None
            ("-rw-r--r--", "unx", None),
            ("-rw-r--r--", "fat", "f was packed on fat, not on Unix as tools/release packs"),
            ("lrwxrwxrwx", "unx", "f is a symbolic link, not a regular file"),
            ("drwxr-xr-x", "unx", "f is a folder entry, not a regular file"),
            ("-rwxr-xr-x", "unx", "f has the mode -rwxr-xr-x, not the -rw-r--r-- of a release file"),
            ("-rw-rw-r--", "unx", "f has the mode -rw-rw-r--, not the -rw-r--r-- of a release file"),
            ("prw-r--r--", "unx", "f is not a regular file (mode prw-r--r--)"),
        ]
        for mode, host, refusal in rows:
            with self.subTest(mode=mode, host=host):
                self.assertEqual(layout.mode_refusal(mode, host, "f"), refusal)

    def test_names_folders_and_buildinfo(self):
        good = ("-rw-r--r--", "unx")
        info, readme = "drvflip-1.1.0/BUILDINFO.txt", "drvflip-1.1.0/README.txt"
        rows = [  # names, entries -> refusals, folder
            ([info, readme], [(*good, info), (*good, readme)], [], "drvflip-1.1.0"),
            ([info, readme, readme], [(*good, info), (*good, readme), (*good, readme)],
             [f"{readme} is in the zip more than once (a name twice)"], "drvflip-1.1.0"),
            ([info, "setup.cmd"], [(*good, info), (*good, "setup.cmd")],
             ["the files are not all under one folder drvflip-<version>/ (they are under: drvflip-1.1.0 setup.cmd)"],
             None),
            (["drvflip-x/BUILDINFO.txt"], [(*good, "drvflip-x/BUILDINFO.txt")],
             ["the files are not all under one folder drvflip-<version>/ (they are under: drvflip-x)"], None),
            ([], [], ["the files are not all under one folder drvflip-<version>/ (they are under: )"], None),
            ([readme], [(*good, readme)], [layout.layout([readme], [])[0][0]], None),
            ([info, info], [(*good, info), (*good, info)],
             [f"{info} is in the zip more than once (a name twice)",
              "the zip holds no drvflip-<version>/BUILDINFO.txt as a regular file: it records no source to check against"],
             None),
            ([info], [("lrwxrwxrwx", "unx", info)],
             [f"{info} is a symbolic link, not a regular file",
              "the zip holds no drvflip-<version>/BUILDINFO.txt as a regular file: it records no source to check against"],
             None),
        ]
        for names, entries, refusals, folder in rows:
            with self.subTest(names=names, entries=entries):
                self.assertEqual(layout.layout(names, entries), (refusals, folder))

    def test_the_zip_step(self):
        status, out, err = self.run_zip(self.release())
        self.assertEqual((status, out, err), (0, "", ""))
        rows = [  # a zip -> status, the lines on standard output, the line on standard error
            (self.release(info=INFO.replace(f"commit {C1}", "commit none")), 2, "",
             "verify-release: drvflip-1.1.0/BUILDINFO.txt names no commit, or more than one\n"),
            (self.release(info=INFO + f"commit {C2}\r\n"), 2, "",
             "verify-release: drvflip-1.1.0/BUILDINFO.txt names no commit, or more than one\n"),
            (self.release(extra=[entry("drvflip-1.1.0/README.txt")]), 1,
             "verify-release: refused: drvflip-1.1.0/README.txt is in the zip more than once (a name twice)\n", ""),
            (self.release(extra=[entry("drvflip-1.1.0/big", b"y" * (layout.BOUND + 1))]), 2,
             f"verify-release: refused: drvflip-1.1.0/big declares {layout.BOUND + 1} bytes unpacked, more than a file "
             f"of a release can be ({layout.BOUND})\n",
             "verify-release: given.zip is not a release as tools/release makes it; nothing was unpacked\n"),
            (self.make([entry("drvflip-1.1.0/README.txt")]), 2,
             "verify-release: refused: the zip holds no drvflip-<version>/BUILDINFO.txt as a regular file: it records "
             "no source to check against\n",
             "verify-release: given.zip is not a release as tools/release makes it; nothing was built\n"),
        ]
        for path, status, out, err in rows:
            with self.subTest(out=out, err=err):
                self.assertEqual(self.run_zip(path), (status, out, err))

    def test_a_zip_that_is_none_or_lies_about_its_sizes(self):
        path = os.path.join(self.folder(), "none.zip")
        with open(path, "wb") as f:
            f.write(b"PK not a zip")
        self.assertEqual(self.run_zip(path), (2, "", "verify-release: given.zip is not a zip\n"))
        # A member whose headers declare fewer bytes than it unpacks to: read no further than they say.
        path = self.release(extra=[entry("drvflip-1.1.0/big", b"\0" * 5000)])
        with open(path, "rb") as f:
            data = f.read()
        data = data.replace((5000).to_bytes(4, "little"), (100).to_bytes(4, "little"))
        with open(path, "wb") as f:
            f.write(data)
        status, out, err = self.run_zip(path)
        self.assertEqual((status, out), (2, ""))
        self.assertRegex(err, r"^verify-release: given.zip: not a whole zip: .*drvflip-1.1.0/big.*; nothing was unpacked\n$")


class FreshCheck(Case):
    def test_fresh_check_reads_it_bounded_as_verify_release_does(self):
        self.assertEqual(layout.fresh_buildinfo(self.release()),
                         ["info drvflip-1.1.0/BUILDINFO.txt", "system debian trixie", "pin cmake=3.25.1-1"])
        self.assertEqual(layout.fresh_buildinfo(self.release(info="commit x\r\n")), ["info drvflip-1.1.0/BUILDINFO.txt"])
        none = self.make([entry("drvflip-1.1.0/README.txt")])
        elsewhere = self.make([entry("drvflip-x/BUILDINFO.txt", INFO.encode()), entry("a/drvflip-1.1.0/BUILDINFO.txt")])
        big = self.release(extra=[entry("drvflip-1.1.0/big", b"y" * (layout.BOUND + 1))])
        for path, reason in ((none, f"{none} holds no drvflip-<version>/BUILDINFO.txt"),
                             (elsewhere, f"{elsewhere} holds no drvflip-<version>/BUILDINFO.txt"),
                             (big, f"{big} is not a zip that tools/verify-release would read")):
            with self.subTest(reason=reason), self.assertRaises(Stop) as stopped:
                layout.fresh_buildinfo(path)
            self.assertEqual(str(stopped.exception), reason)

    @unittest.skipUnless(shutil.which("setpriv") or os.geteuid(), "running fresh-check as another user needs setpriv")
    def test_fresh_check_reads_a_genuine_zip_a_thousand_times_in_a_row(self):
        # BUILDINFO.txt first, then many more entries: a reader that stops at its first match
        # would leave a lister writing, which pipefail once made a refusal now and then.
        folder = self.folder()
        os.chmod(folder, 0o755)
        path = os.path.join(folder, "r.zip")
        with zipfile.ZipFile(path, "w") as z:
            z.writestr("drvflip-1.1.0/BUILDINFO.txt", INFO)
            for i in range(200):
                z.writestr(f"drvflip-1.1.0/scripts/{i:04}.cmd", "x")
        os.chmod(path, 0o644)
        # Not as root: fresh-check stops at "needs root", after it has read BUILDINFO.txt. Its copy
        # is one that user can read, wherever the clone lies (under /root, say).
        user = [] if os.geteuid() else ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        tools = shutil.copytree(TOOLS, os.path.join(folder, "tools"), ignore=shutil.ignore_patterns("tests"))
        subprocess.run(["chmod", "-R", "a+rX", tools], check=True)
        script = 'seq 1000 | xargs -P 8 -n 1 bash -c \'"$0" --verify "$1" 2>&1 | head -n 1\' "$0" "$1" | sort | uniq -c'
        run = subprocess.run([*user, "bash", "-c", script, os.path.join(tools, "fresh-check"), path],
                             capture_output=True, text=True, check=False, stdin=subprocess.DEVNULL,
                             cwd=folder, env={**os.environ, "HOME": folder})
        self.assertEqual(run.stdout.strip(),
                         "1000 fresh-check: drvflip-1.1.0/BUILDINFO.txt: built on debian trixie", run.stderr)



if __name__ == "__main__":
    unittest.main()
