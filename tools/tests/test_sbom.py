# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""drvflip_release.sbom: purls, and an SBOM of unknown origin read bounded."""

import json
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from drvflip_release import sbom  # noqa: E402


class Purls(unittest.TestCase):
    def test_a_purl_version_is_percent_encoded(self):
        self.assertEqual(sbom.purl_version("12.2.0-14+b1"), "12.2.0-14%2Bb1")


class UntrustedSboms(unittest.TestCase):
    def load(self, data):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "x.cdx.json")
            with open(path, "wb") as f:
                f.write(data)
            return sbom.load(path)

    def test_the_bound_and_the_shape(self):
        self.assertIsNotNone(self.load(b"{}")[1])  # not CycloneDX
        self.assertIsNotNone(self.load(b"\xff")[1])  # not JSON
        big = json.dumps({"bomFormat": "CycloneDX", "x": "a" * sbom.SBOM_BOUND}).encode()
        self.assertIn("larger", self.load(big)[1])
        bom, problem = self.load(json.dumps({"bomFormat": "CycloneDX", "components": []}).encode())
        self.assertIsNone(problem)
        self.assertEqual(sbom.refs(bom), set())
        self.assertIsNone(sbom.refs({"components": [{"name": "no bom-ref"}]}))
        self.assertIsNone(sbom.refs({"components": {"not": "a list"}}))


if __name__ == "__main__":
    unittest.main()
