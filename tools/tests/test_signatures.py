# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.signatures: what osslsigncode printed, each signature's verdict, one signer for all."""

import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest
from unittest import mock

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import Stop, signatures  # noqa: E402


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
        self.assertEqual(signatures.verified(self.V25), {
            "subject": "/CN=drvflip test signer", "issuer": "/CN=drvflip test CA", "serial": "01",
            "stamp": "Dec 10 13:47:07 2026 GMT", "current": "AB12", "calculated": "AB12", "broken": False, "ok": True})
        found = signatures.verified(self.V29)
        self.assertEqual((found["subject"], found["serial"], found["stamp"]), ("/CN=drvflip test signer", "0B7F",
                                                                               "Dec 10 2026 GMT"))
        self.assertEqual(signatures.verified("")["current"], "")

    def test_the_verdicts(self):
        ok = signatures.verified(self.V25)
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
                lines, refused, signer = signatures.signature_verdict("x64", "m", "exe", found, want)
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
            with mock.patch.object(signatures.pe, "cert_table", table), \
                    mock.patch.object(signatures, "osslsigncode_verify", verify), contextlib.redirect_stdout(out):
                refused = signatures.signatures("n", "/z", work, want, old, ["x64", "x86"], ["scripts/a.ps1", "scripts/b.cmd"])
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
        with self.assertRaisesRegex(Stop, "needs osslsigncode 2.8 or later; this one is 2.5$"):
            signed({"x64": "P", "x86": "P"}, "P", old="2.5")



if __name__ == "__main__":
    unittest.main()
