# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""What tests/release/check reads of a release, and how it forges one: each a command.

  release_check.py sbom-hashes SBOM ARCH=EXE=OBJDUMP...   (OBJDUMP: the objdump of ARCH's toolchain)
  release_check.py notices-agree SBOM NOTICES
  release_check.py pad EXE N
  release_check.py retime EXE
  release_check.py understate ZIP MEMBER
  release_check.py sbom SBOM HOW [BYTES]   (HOW: one of FORGED_SBOMS, below)

A check fails with an AssertionError and exit 1.
"""

import argparse
import hashlib
import json
import re
import struct
import subprocess
import sys


def sbom_hashes(argv):
    """The SBOM (argv 1) against the exes (argv 2...: ARCH=EXE=OBJDUMP): their SHA-256 and SHA-512, each BSI property once in each component, and an exe's dependencies its parts and the DLLs of its import table."""
    bom = json.load(open(argv[1]))
    exes = [a.split("=", 2) for a in argv[2:]]
    given = {c["bom-ref"]: {h["alg"]: h["content"] for h in c["hashes"]} for c in bom["components"] if "hashes" in c}
    assert sorted(given) == sorted(f"{arch}/drvflip.exe" for arch, _, _ in exes), sorted(given)
    for arch, exe, _ in exes:
        data = open(exe, "rb").read()
        assert given[f"{arch}/drvflip.exe"] == {"SHA-256": hashlib.sha256(data).hexdigest(),
                                                "SHA-512": hashlib.sha512(data).hexdigest()}, arch
    # BSI TR-03183-2: each component says once whether it is executable, an archive, structured.
    every = [bom["metadata"]["component"]] + bom["formulation"][0]["components"]
    stack = list(bom["components"])
    while stack:
        every.append(stack.pop())
        stack += every[-1].get("components", [])
    for c in every:
        names = [p["name"] for p in c.get("properties", [])]
        for p in ("executable", "archive", "structured"):
            assert names.count("bsi:component:" + p) == 1, (c.get("bom-ref"), p)
    # The graph: every component has its entry; an exe depends on what it holds
    # and on the DLLs that objdump finds in its import table, and on nothing else.
    graph = {d["ref"]: d["dependsOn"] for d in bom["dependencies"]}
    assert set(graph) == {c["bom-ref"] for c in every[len(bom["formulation"][0]["components"]) + 1:]} | {"drvflip"}
    for arch, exe, tool in exes:
        dlls = re.findall(r"DLL Name: (\S+)", subprocess.run([tool, "-p", exe], capture_output=True, text=True).stdout)
        held = next(c for c in bom["components"] if c["bom-ref"] == f"{arch}/drvflip.exe")["components"]
        assert sorted(graph[f"{arch}/drvflip.exe"]) == sorted([c["bom-ref"] for c in held] + [f"windows/{d}" for d in dlls]), arch


def notices_agree(argv):
    """THIRD-PARTY-NOTICES.txt (argv 2) and the SBOM (argv 1) tell of the same libraries: each one's version and licence, each part's notice or why none is owed, CR LF throughout."""
    bom = json.load(open(argv[1]))
    text = open(argv[2], newline="").read()
    assert "\n" not in text.replace("\r\n", ""), "a line end that is not CR LF"
    sections = re.split(r"\r\n={78}\r\n", text)[1:]
    heads = {sections[i].strip(): sections[i + 1] for i in range(0, len(sections), 2)}
    for exe in bom["components"]:
        for c in exe.get("components", []):
            body = heads[f"{c['name']} {c['version']}"]
            assert f"Licence: {c['licenses'][0]['expression']}\r\n" in body, c["bom-ref"]
            assert f"In: {exe['bom-ref']}" in body or f"    {exe['bom-ref']}" in body, c["bom-ref"]
            for part in body.split("\r\n-- ")[1:]:
                assert "No notice is owed" in part or "no notice is owed" in part or \
                    re.search(r"Copyright: \S.*(\r\n {11}\S.*)*\r\nLicence: .*\r\n\r\n\S", part), part[:60]


def pad(argv):
    """N (argv 2) bytes of 0x41 added inside the signature's WIN_CERTIFICATE of an exe (argv 1), its length and the directory's size grown to match."""
    b = bytearray(open(argv[1], "rb").read())
    pe = struct.unpack_from("<I", b, 0x3C)[0]
    d = pe + 24 + (96 if struct.unpack_from("<H", b, pe + 24)[0] == 0x10B else 112) + 32
    at, size = struct.unpack_from("<II", b, d)
    n = int(argv[2])
    b += b"A" * n
    struct.pack_into("<I", b, d + 4, size + n)
    struct.pack_into("<I", b, at, size + n)
    open(argv[1], "wb").write(b)


def retime(argv):
    """One digit of the signer's signing time changed in an exe (argv 1): the first signingTime attribute (its OID, a SET, a UTCTime)."""
    b = bytearray(open(argv[1], "rb").read())
    at = b.index(b"\x2a\x86\x48\x86\xf7\x0d\x01\x09\x05\x31\x0f\x17\x0d") + 13
    b[at] = ord("0") + (b[at] - ord("0") + 1) % 10
    open(argv[1], "wb").write(b)


def understate(argv):
    """The member (argv 2) of a zip (argv 1) made to declare 100 bytes in its central and its local header."""
    b = bytearray(open(argv[1], "rb").read())
    name = argv[2].encode()
    for sig, off in ((b"PK\x01\x02", 24), (b"PK\x03\x04", 22)):
        at = b.find(sig)
        while at >= 0:
            nlen = struct.unpack_from("<H", b, at + (28 if sig == b"PK\x01\x02" else 26))[0]
            start = at + (46 if sig == b"PK\x01\x02" else 30)
            if b[start:start + nlen] == name:
                struct.pack_into("<I", b, at + off, 100)
            at = b.find(sig, at + 4)
    open(argv[1], "wb").write(b)


def pop_component(b):
    b["components"][0]["components"].pop()


def add_component(b):
    c = dict(b["components"][1]["components"][0])
    c["bom-ref"] = "x86/libstdc++"
    b["components"][1]["components"].append(c)


def zero_hash(b):
    b["components"][1]["hashes"][1]["content"] = "0" * 128


def signed_by(b):
    b["metadata"]["signedBy"] = "Example"


def not_a_list(b):
    b["components"] = {}


def no_bom_ref(b):
    del b["components"][0]["components"][0]["bom-ref"]


# Each way the forged zips change an SBOM (parsed), by name; "as-is" writes it back, "nested" writes
# no SBOM but 100000 opening brackets.
FORGED_SBOMS = {"pop-component": pop_component, "add-component": add_component, "zero-hash": zero_hash,
                "signed-by": signed_by, "not-a-list": not_a_list, "no-bom-ref": no_bom_ref,
                "as-is": lambda b: None, "nested": None}


def sbom(argv):
    """The SBOM (argv 1) forged as argv 2 names, then (argv 3, where given) padded with spaces to that
    many bytes."""
    path, how = argv[1], argv[2]
    if how == "nested":
        with open(path, "w") as f:
            f.write("[" * 100000 + "\n")
        return
    with open(path) as f:
        b = json.load(f)
    FORGED_SBOMS[how](b)
    with open(path, "w") as f:
        json.dump(b, f, indent=2)
        if len(argv) > 3:
            f.write(" " * (int(argv[3]) - f.tell()))


COMMANDS = {"sbom-hashes": (sbom_hashes, (2, 3, 4, 5)), "notices-agree": (notices_agree, 2), "pad": (pad, 2),
            "retime": (retime, 1), "understate": (understate, 2),
            "sbom": (sbom, (2, 3))}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=sorted(COMMANDS))
    parser.add_argument("arguments", nargs="*")
    args = parser.parse_args()
    function, count = COMMANDS[args.command]
    if len(args.arguments) not in (count if isinstance(count, tuple) else (count,)):
        parser.error(f"{args.command} takes {count} arguments")
    # Each function reads its arguments as argv[1:] would give them.
    function([args.command] + args.arguments)
    return 0


if __name__ == "__main__":
    sys.exit(main())
