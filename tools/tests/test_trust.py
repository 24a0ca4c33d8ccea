# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.trust: each way verify-release refuses a zip, on small inputs made here."""

import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from unittest import mock

sys.dont_write_bytecode = True
TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, TOOLS)
from drvflip_release import trust  # noqa: E402

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
        """(status, standard output, standard error) of `trust zip`."""
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = trust.main(["zip", "given.zip", path, self.folder()])
        return status, out.getvalue(), err.getvalue()


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
                self.assertEqual(trust.mode_refusal(mode, host, "f"), refusal)

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
            ([readme], [(*good, readme)], [trust.layout([readme], [])[0][0]], None),
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
                self.assertEqual(trust.layout(names, entries), (refusals, folder))

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
            (self.release(extra=[entry("drvflip-1.1.0/big", b"y" * (trust.BOUND + 1))]), 2,
             f"verify-release: refused: drvflip-1.1.0/big declares {trust.BOUND + 1} bytes unpacked, more than a file "
             f"of a release can be ({trust.BOUND})\n",
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


class Buildinfo(Case):
    def test_system(self):
        rows = [(INFO, "debian trixie"), ("system debian bookworm\n", "debian bookworm"), ("version 1\r\n", None),
                ("system debian bookworm extra\r\nsystem debian trixie\r\n", "debian trixie"),
                ("system Debian Trixie\r\n", None), ("system debian trixie\r\r\n", None)]
        for text, system in rows:
            with self.subTest(text=text):
                self.assertEqual(trust.buildinfo_system(text.encode()), system)

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
                self.assertEqual(trust.expected_packages(text.encode(), toolchain), lines)

    def test_the_pins_of_fresh_check(self):
        self.assertEqual(trust.pins(INFO.encode(), "i"), [("cmake", "3.25.1-1")])
        for line in ("package Cmake 1", "package cmake", "package cmake 1;rm", "package -x 1"):
            with self.subTest(line=line), self.assertRaisesRegex(trust.Stop, "^i: a package line that is not a package"):
                trust.pins(line.encode(), "i")

    def test_fresh_check_reads_it_bounded_as_verify_release_does(self):
        self.assertEqual(trust.fresh_buildinfo(self.release()),
                         ["info drvflip-1.1.0/BUILDINFO.txt", "system debian trixie", "pin cmake=3.25.1-1"])
        self.assertEqual(trust.fresh_buildinfo(self.release(info="commit x\r\n")), ["info drvflip-1.1.0/BUILDINFO.txt"])
        none = self.make([entry("drvflip-1.1.0/README.txt")])
        elsewhere = self.make([entry("drvflip-x/BUILDINFO.txt", INFO.encode()), entry("a/drvflip-1.1.0/BUILDINFO.txt")])
        big = self.release(extra=[entry("drvflip-1.1.0/big", b"y" * (trust.BOUND + 1))])
        for path, reason in ((none, f"{none} holds no drvflip-<version>/BUILDINFO.txt"),
                             (elsewhere, f"{elsewhere} holds no drvflip-<version>/BUILDINFO.txt"),
                             (big, f"{big} is not a zip that tools/verify-release would read")):
            with self.subTest(reason=reason), self.assertRaises(trust.Stop) as stopped:
                trust.fresh_buildinfo(path)
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
        # Not as root: fresh-check stops at "needs root", after it has read BUILDINFO.txt.
        user = [] if os.geteuid() else ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        script = 'seq 1000 | xargs -P 8 -n 1 bash -c \'"$0" --verify "$1" 2>&1 | head -n 1\' "$0" "$1" | sort | uniq -c'
        run = subprocess.run([*user, "bash", "-c", script, os.path.join(TOOLS, "fresh-check"), path],
                             capture_output=True, text=True, check=False, stdin=subprocess.DEVNULL,
                             cwd=folder, env={**os.environ, "HOME": folder})
        self.assertEqual(run.stdout.strip(),
                         "1000 fresh-check: drvflip-1.1.0/BUILDINFO.txt: built on debian trixie", run.stderr)


class Releases(unittest.TestCase):
    def test_the_rule(self):
        text = f"# version commit\n1.0.2 {C1}\n1.0.3 {C1[:39]}\n1.1.0  {C2}\n1.2.0 {C1}\n1.2.0 {C2}\n"
        self.assertEqual(trust.releases(text), [("1.0.2", C1), ("1.2.0", C1), ("1.2.0", C2)])
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
                self.assertEqual(trust.recorded(version, commit, "abc", text, unpublished), verdict)

    def test_files_added_and_missing(self):
        self.assertEqual(trust.files(["r/b", "r/a", "r/x", "r/x"], ["r/a", "r/b", "r/c"]),
                         ["r/x is not a file of the release (a file added)", "r/c is missing"])
        self.assertEqual(trust.files(["r/a"], ["r/a"]), [])


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
                self.assertEqual(trust.same_text("t", shipped, made, "the one made from", "C"), (shipped == made, line))
                # The line is the one cmp names (or, where the one made ends, the next), as before.
                paths = [os.path.join(folder, n) for n in ("s", "m")]
                for path, data in zip(paths, (shipped, made)):
                    with open(path, "wb") as f:
                        f.write(data)
                said = subprocess.run(["cmp", *paths], capture_output=True, text=True, check=False)
                if "line" in said.stdout + said.stderr and "EOF on " + paths[0] not in said.stderr:
                    at = int((said.stdout or said.stderr).split()[-1]) + ("EOF" in said.stderr)
                    self.assertIn(f"from line {at} on", line)


class Signatures(unittest.TestCase):
    V25 = ("Current message digest    : AB12\nCalculated message digest : AB12\n\nSigner's certificate:\n"
           "\tSigner #0:\n\t\tSubject: /CN=drvflip test signer\n\t\tIssuer : /CN=drvflip test CA\n"
           "\t\tSerial : 01\n\nThe signature is timestamped: Dec 10 13:47:07 2026 GMT\n"
           "Signature verification: ok\n")
    V29 = ("Current message digest    : AB12 \nCalculated message digest : AB12 \n\nSigner's certificate:\n"
           "\t------------------\n\tSigner #0:\n\t\tSubject: /CN=drvflip test signer\n\t\tIssuer : /CN=drvflip test CA\n"
           "\t\tSerial : 0B7F\n\nTimestamp Server Signature verification: ok\n\t\tTimestamp time: Dec 10 2026 GMT\n"
           "Signing certificate chain verified using:\n\tSigner #0:\n\t\tSubject: /CN=the chain\n"
           "Signature verification: ok\n")

    def test_what_osslsigncode_printed_in_both_forms(self):
        self.assertEqual(trust.verified(self.V25), {
            "subject": "/CN=drvflip test signer", "issuer": "/CN=drvflip test CA", "serial": "01",
            "stamp": "Dec 10 13:47:07 2026 GMT", "current": "AB12", "calculated": "AB12", "broken": False, "ok": True})
        found = trust.verified(self.V29)
        self.assertEqual((found["subject"], found["serial"], found["stamp"]), ("/CN=drvflip test signer", "0B7F",
                                                                               "Dec 10 2026 GMT"))
        self.assertEqual(trust.verified("")["current"], "")

    def test_the_verdicts(self):
        ok = trust.verified(self.V25)
        rows = [  # what osslsigncode found, --signer -> the last line, the refusals
            (ok, "", "x64: its signature's digest matches the exe, and the signature verifies "
                     "(the chain of trust is checked on Windows: Get-AuthenticodeSignature)", []),
            ({**ok, "ok": False}, "", "x64: its signature's digest matches the exe; its chain ends in no certificate "
                                      "known here (it is checked on Windows: Get-AuthenticodeSignature)", []),
            ({**ok, "calculated": "CD34"}, "", "x64: timestamped Dec 10 13:47:07 2026 GMT",
             ["m: its signature's digest (AB12) is not the exe's (CD34): the signature is broken"]),
            ({**ok, "current": "", "calculated": ""}, "", "x64: timestamped Dec 10 13:47:07 2026 GMT",
             ["m: its signature's digest (none) is not the exe's (none): the signature is broken"]),
            ({**ok, "broken": True}, "", "x64: timestamped Dec 10 13:47:07 2026 GMT",
             ["m: its signature's digest matches the exe, but the signature itself does not verify: it is broken"]),
            ({**ok, "stamp": ""}, "signer", "x64: its signature's digest matches the exe, and the signature verifies "
                                            "(the chain of trust is checked on Windows: Get-AuthenticodeSignature)", []),
            (ok, "Example", "x64: its signature's digest matches the exe, and the signature verifies "
                            "(the chain of trust is checked on Windows: Get-AuthenticodeSignature)",
             ["m is signed by '/CN=drvflip test signer', which does not contain 'Example' (--signer)"]),
        ]
        for found, want, last, refusals in rows:
            with self.subTest(found=found, want=want):
                lines, refused, signer = trust.signature_verdict("x64", "m", "exe", found, want)
                self.assertEqual(lines[0], "x64: signed by '/CN=drvflip test signer', issued by '/CN=drvflip test CA'")
                self.assertEqual(lines[1], "x64: " + ("timestamped " + found["stamp"] if found["stamp"] else "no timestamp"))
                self.assertEqual((lines[-1], refused, signer),
                                 (last, refusals, "/CN=drvflip test signer | /CN=drvflip test CA | 01"))

    def test_one_signer_for_the_exes_and_the_scripts(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        os.makedirs(os.path.join(work, "text", "scripts"))

        def signed(subjects, scripts_signed, want="", old=None):
            """(refusals, output) where each exe (x64, x86) and each script is signed by its subject."""
            def table(path, der):
                arch = path.split("/")[-2]
                if subjects[arch] is None:
                    return None
                open(der, "w").close()
                return "signed"

            def verify(path, der):
                subject = subjects.get(path.split("/")[-2]) or scripts_signed
                return self.V25.replace("drvflip test signer", subject)
            for s in ("a.ps1", "b.cmd"):
                p7 = os.path.join(work, "text", "scripts", s + ".p7")
                if scripts_signed and s.endswith(".ps1"):
                    open(p7, "w").close()
                elif os.path.exists(p7):
                    os.remove(p7)
            out = io.StringIO()
            with mock.patch.object(trust.pe, "cert_table", table), \
                    mock.patch.object(trust, "osslsigncode_verify", verify), contextlib.redirect_stdout(out):
                refused = trust.signatures("n", "/z", work, want, old, ["x64", "x86"], ["scripts/a.ps1", "scripts/b.cmd"])
            return refused, out.getvalue()

        refused, out = signed({"x64": "P", "x86": "P"}, "P")
        self.assertEqual(refused, 0, out)
        self.assertIn("scripts/a.ps1: signed by '/CN=P'", out)
        self.assertNotIn("b.cmd", out)
        self.assertTrue(out.endswith("verify-release: note: who signed is yours to judge; --signer TEXT requires the "
                                     "publisher you expect\n"))
        self.assertIn("refused: the two exes have different signers: x64 '/CN=P | /CN=drvflip test CA | 01', "
                      "x86 '/CN=Q | /CN=drvflip test CA | 01'", signed({"x64": "P", "x86": "Q"}, "P")[1])
        self.assertIn("refused: n/scripts/a.ps1 and the exes have different signers: the script '(not signed)', the "
                      "exes '/CN=P | /CN=drvflip test CA | 01'", signed({"x64": "P", "x86": "P"}, "")[1])
        refused, out = signed({"x64": None, "x86": None}, "")
        self.assertEqual(refused, 0, out)
        self.assertNotIn("note", out)
        self.assertIn("refused: n/x64/drvflip.exe is not signed, and --signer asks for 'P'",
                      signed({"x64": None, "x86": None}, "", want="P")[1])
        with self.assertRaisesRegex(trust.Stop, "needs osslsigncode 2.8 or later; this one is 2.5$"):
            signed({"x64": "P", "x86": "P"}, "P", old="2.5")
        # The command line as verify-release gives it: the options, then the names.
        args = trust.parser().parse_args(["signatures", "--signer", "P", "--old-osslsigncode", "2.5", "--exe=x64",
                                          "--exe=x86", "n", "/z", work, "scripts/a.ps1", "scripts/b.cmd"])
        self.assertEqual((args.signer, args.old_osslsigncode, args.exe, args.name, args.scripts),
                         ("P", "2.5", ["x64", "x86"], "n", ["scripts/a.ps1", "scripts/b.cmd"]))


if __name__ == "__main__":
    unittest.main()
