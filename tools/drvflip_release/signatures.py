# SPDX-FileCopyrightText: 2026 the drvflip authors
# SPDX-License-Identifier: MIT
"""The signatures of a release: each exe's certificate table, and each signature's signer, issuer,
timestamp and digest as openssl and osslsigncode read them (a signature's DER is read by nothing
else); one signer for the exes and the PowerShell scripts."""

import os
import re
import subprocess

from . import PROG, pe, refuse as say_refused, say, stop

NOT_SIGNED = "(not signed)"
REFUSED = "(refused)"
CHAIN = "(the chain of trust is checked on Windows: Get-AuthenticodeSignature)"

def verified(text):
    """What osslsigncode verify printed (2.5's form or 2.9's): the signer's subject, issuer and serial,
    the timestamp, the digest in the signature and the one calculated, and the verdict."""
    def field(name):
        on = False
        for line in text.split("\n"):
            if re.match(r"Signer.s certificate:", line):
                on = True
            elif on and name in line:
                return re.sub(r"^[^:]*: *", "", line, count=1)
        return ""

    def digest(which):
        m = re.search(rf"^{which} message digest *: *([0-9A-F]*)", text, re.M)
        return m.group(1) if m else ""

    stamp = ""
    for line in text.split("\n"):
        m = re.match(r"The signature is timestamped: *(.*)", line) or re.match(r"\s*Timestamp time: *(.*)", line)
        if m:
            stamp = m.group(1)
            break
    return {"subject": field("Subject:"), "issuer": field("Issuer :"), "serial": field("Serial :"),
            "stamp": stamp, "current": digest("Current"), "calculated": digest("Calculated"),
            "broken": bool(re.search(r"signature failure|digest failure", text)),
            "ok": bool(re.search(r"^Signature verification: ok", text, re.M))}


def signature_verdict(label, member, what, found, want_signer):
    """(lines, refusals, signer) of one signature, from what osslsigncode verify found."""
    lines = [f"{label}: signed by '{found['subject']}', issued by '{found['issuer']}'",
             f"{label}: " + (f"timestamped {found['stamp']}" if found["stamp"] else "no timestamp")]
    refusals = []
    current, calculated = found["current"], found["calculated"]
    if not current or current != calculated:
        refusals.append(f"{member}: its signature's digest ({current or 'none'}) is not the {what}'s "
                        f"({calculated or 'none'}): the signature is broken")
    elif found["broken"]:
        refusals.append(f"{member}: its signature's digest matches the {what}, but the signature itself does not "
                        "verify: it is broken")
    elif found["ok"]:
        lines.append(f"{label}: its signature's digest matches the {what}, and the signature verifies {CHAIN}")
    else:
        lines.append(f"{label}: its signature's digest matches the {what}; its chain ends in no certificate "
                     "known here (it is checked on Windows: Get-AuthenticodeSignature)")
    if want_signer and want_signer not in found["subject"]:
        refusals.append(f"{member} is signed by '{found['subject']}', which does not contain '{want_signer}' (--signer)")
    return lines, refusals, f"{found['subject']} | {found['issuer']} | {found['serial']}"


def osslsigncode_verify(path, der):
    """osslsigncode verify's output for the file at PATH whose signature is DER (a file), with the
    certificates that the signature carries as roots beside Debian's list; None where openssl cannot
    read the signature. The chain of trust is Windows' to judge."""
    certs = der + ".certs"
    if subprocess.run(["openssl", "pkcs7", "-inform", "DER", "-in", der, "-print_certs", "-out", certs],
                      stdin=subprocess.DEVNULL, capture_output=True, check=False).returncode:
        return None
    roots = der + ".roots"
    with open(roots, "wb") as out:
        for part in (certs, "/etc/ssl/certs/ca-certificates.crt"):
            try:
                with open(part, "rb") as f:
                    out.write(f.read())
            except OSError:
                pass
    run = subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", roots, "-TSA-CAfile", roots],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    return run.stdout.decode("utf-8", "replace")


def signed_by(label, member, what, path, der, want_signer, refusals):
    """The lines of one member's signature (DER a file, or None where it is not signed); its signer."""
    if der is None:
        say(f"{label}: not signed")
        if want_signer:
            refusals.append(f"{member} is not signed, and --signer asks for '{want_signer}'")
        return NOT_SIGNED
    text = osslsigncode_verify(path, der)
    if text is None:
        refusals.append(f"{member}: openssl cannot read its signature")
        return REFUSED
    lines, refused, signer = signature_verdict(label, member, what, verified(text), want_signer)
    for line in lines:
        say(line)
    refusals += refused
    return signer


def signatures(name, folder, work, want_signer, old_osslsigncode, arches, scripts):
    """The signatures of a release's exes and PowerShell scripts; returns the number refused."""
    refused = []

    def refuse(line):
        say_refused(line)
        refused.append(line)

    signer = {}
    for arch in arches:
        member = f"{name}/{arch}/drvflip.exe"
        der = os.path.join(work, f"{arch}.p7")
        table = pe.cert_table(os.path.join(folder, member), der)
        signer[arch] = REFUSED
        if table not in (None, "signed"):
            refuse(f"{member} {table}")
            continue
        found = []
        signer[arch] = signed_by(arch, member, "exe", os.path.join(folder, member),
                                 None if table is None else der, want_signer, found)
        for line in found:
            refuse(line)
    if not refused and len(set(signer.values())) > 1:
        refuse(f"the {'two' if len(arches) == 2 else len(arches)} exes have different signers: "
               + ", ".join(f"{arch} '{signer[arch]}'" for arch in arches))
    for s in (s for s in scripts if s.endswith(".ps1")):
        der = os.path.join(work, "text", s + ".p7")
        signed = os.path.exists(der)
        if signed and old_osslsigncode is not None:
            stop("checking the signatures of the PowerShell scripts needs osslsigncode 2.8 or later; "
                 f"this one is {old_osslsigncode}")
        found = []
        s_signer = signed_by(s, f"{name}/{s}", "script", os.path.join(folder, name, s),
                             der if signed else None, want_signer, found)
        for line in found:
            refuse(line)
        if s_signer != signer[arches[0]]:
            refuse(f"{name}/{s} and the exes have different signers: the script '{s_signer}', "
                   f"the exes '{signer[arches[0]]}'")
    if not want_signer and signer[arches[0]] != NOT_SIGNED:
        say(f"{PROG}: note: who signed is yours to judge; --signer TEXT requires the publisher you expect")
    return len(refused)
