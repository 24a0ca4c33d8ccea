# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.fleet: the fleet scripts made for each driver type, and a shipped script's
signature block split off."""

import base64
import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import fleet  # noqa: E402

SHARED = "# the shared part's own comment\n\nfunction Shared { 1 }\n"


class Make(unittest.TestCase):
    def source(self, files):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for name, text in dict({"run.ps1": SHARED}, **files).items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(text if isinstance(text, bytes) else text.encode())
        return folder

    def test_a_script_for_each_type_and_one_of_the_rest(self):
        source = self.source({"detect.ps1": "$w = '@TYPE@'; drvflip @COMMAND@\n#@run.ps1\nexit 0\n",
                              "install.cmd": "@echo off\n", "README.md": "# not shipped\n"})
        self.assertEqual(fleet.names(source), ["detect-pcsc.ps1", "detect-tavi.ps1", "install.cmd"])
        made = fleet.render(source)
        self.assertEqual(sorted(made), fleet.names(source))
        self.assertEqual(made["detect-pcsc.ps1"],
                         "$w = 'PCSC'; drvflip pcsc\r\nfunction Shared { 1 }\r\n\r\nexit 0\r\n")
        self.assertEqual(made["detect-tavi.ps1"].split("\r\n")[0], "$w = 'TAVI'; drvflip tavi")
        self.assertEqual(made["install.cmd"], "@echo off\r\n")

    def test_what_no_script_may_be_made_of(self):
        for title, text, said in [
            ("a word that is no type", "$a = '@TYPO@'\n", "@TYPO@ is not a word"),
            ("a word beside a type", "'@TYPE@' '@WANT@'\n", "@WANT@ is not a word"),
            ("an unknown shared file", "#@common.ps1\n", "#@common.ps1 names no shared file"),
            ("a byte above ASCII", "'TAV\u0130'\n".encode(), "byte 0xC4 is not printable ASCII"),
            ("a carriage return in the source", b"exit 0\r\n", "byte 0x0D is not printable ASCII"),
        ]:
            with self.subTest(title):
                with self.assertRaisesRegex(fleet.Refused, said.replace("(", r"\(")):
                    fleet.render(self.source({"x.ps1": text}))


def signed(text, der=b"\x30\x03\x02\x01\x01" * 20, width=64, after=b""):
    """TEXT with a signature block as osslsigncode and Set-AuthenticodeSignature write it."""
    encoded = base64.b64encode(der).decode()
    lines = "".join(f"# {encoded[i:i + width]}\r\n" for i in range(0, len(encoded), width))
    return text + (fleet.BEGIN + lines + fleet.END).encode() + after, der


class Unsign(unittest.TestCase):
    def test_a_signed_script_gives_back_its_text_and_its_signature(self):
        for title, text in [("text ending in a line break", b"exit 0\r\n"),
                            ("text without a last line break", b"exit 0"),
                            ("one character", b"1")]:
            with self.subTest(title):
                data, der = signed(text)
                self.assertEqual(fleet.unsign(data), (text, der))

    def test_an_unsigned_script_is_its_text(self):
        self.assertEqual(fleet.unsign(b"exit 0\r\n"), (b"exit 0\r\n", None))

    def test_what_a_shipped_script_may_not_hold(self):
        data, _ = signed(b"exit 0\r\n")
        block = data[len(b"exit 0\r\n"):]
        for title, forged, said in [
            ("a line after the block", data + b"Remove-Item C:\\\r\n", "does not end the file"),
            ("two blocks", data + block, "two signature blocks"),
            ("a block without its last line break", data[:-2], "does not end the file"),
            ("a line that is not base64", data.replace(b"# MA", b"# M!", 1), "not '# ' and base64"),
            ("a line without its '# '", data.replace(b"\r\n# MA", b"\r\nMA", 1), "not '# ' and base64"),
            ("base64 cut short", signed(b"x", width=3)[0].replace(b"# MAM", b"# MA", 1), "not base64"),
            ("a signature line and no block", b"# SIG # End signature block\r\n", "outside a signature block"),
        ]:
            with self.subTest(title):
                with self.assertRaisesRegex(fleet.Refused, said):
                    fleet.unsign(forged)


if __name__ == "__main__":
    unittest.main()
